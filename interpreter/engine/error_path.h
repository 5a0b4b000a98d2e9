// The common error path: after an APL error has unwound to the execution
// restart point, it is trapped or displayed (message, line with caret) and
// the engine is resumed.
#pragma once

#include <cstdint>
#include <string>

#include "interpreter/workspace/errors.h"
#include "interpreter/workspace/workspace.h"

namespace zema {

// The error path proper, run at the execution restart point for an error
// already recorded by `error`: passes it up out of levels whose errors go
// to their caller (engine-state bit 0x0008: a locked function and what it
// calls), displays it, and answers the engine state to go on with.
int errorl(int code, Ws ws);

// The last error's report (header word 0x1C4, lines ended by carriage
// returns; a last line without one counts too) as ⎕EM shows it, and ⎕EC's
// third item for an error: a three-row character matrix as wide as the
// longest line, rows blank-padded; the first three lines, or with fewer a
// blank row and then the lines; 3 by 0 when there is no report. Built in
// the workspace from the report where it lies (WS FULL when it does not
// fit). Answers the new array, not yet owned.
std::uint32_t message_rows(Ws ws);

// Composes the error message (message line, the line with the function's
// name or six blanks, the caret line) as a character vector owned by
// header word 0x1C4 — or, when it does not fit, straight to the session.
// `code` chooses the table's message (an error passed up out of a locked
// function is reported as DOMAIN ERROR whatever code header 0x184 holds);
// the program's own message, when header byte 0x128 says there is one,
// replaces it and is used up.
void make_em(int code, Ws ws);

// Header byte 0x128 bit: the error being reported has a message of the
// program's own (kept in the side state) instead of the table's.
constexpr std::uint8_t kOwnMessageBit = 0x02;

// ⎕ES 0 0 and ⎕ERS 0: ⎕ET 0 0, error number and error line 0, the last
// error's message object released.
void clear_error_state(Ws ws);

// Keeps a copy of the character array whose offset lies in the word at
// `slot` (0: an empty text) as the program's own message for the next
// report: a workspace object owned by hdr::OwnMessageText, replacing (and
// releasing) an earlier one. WS FULL when the copy does not fit.
void keep_own_message(std::uint32_t slot, Ws ws);

// Signals error number `number` chosen by the program (⎕ES, ⎕ERS), with
// ⎕ET already set. Used in a function (or a ⍎), the function is left
// first so that the error is reported in the line that called it; used
// directly in the text of a ⎕EA or ⎕EC, it stays there for them to take.
// With `own_message` the text kept by keep_own_message replaces the
// table's message; without, any kept text is released. Number 0 is a
// DOMAIN ERROR.
[[noreturn]] void signal_error(int number, bool own_message, Ws ws);

}  // namespace zema
