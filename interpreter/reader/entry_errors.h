// Entry errors (found while a line is read in, before anything runs) and the
// lifetime of token lines: the kill slot, releasing a line's symbol uses,
// and stepping backwards over tokens.
//
// An entry error records ⎕ET, the error code and number, releases the token
// line being built, prints the message and the line up to the error with a
// caret under the failing position, and throws EntryAbandoned to whoever
// armed line entry (run_input_line).
#pragma once

#include <cstdint>

#include "interpreter/workspace/workspace.h"

namespace zema {

// Thrown once an entry error has been reported and its line released.
struct EntryAbandoned {
  int code;
};

// The text of the line being tokenised: its start is kept for the caret and
// for counting the blanks before a comment. The header word 0x1BC holds its
// offset from the base when the text lies inside the workspace, else 0.
void set_line_text_start(const std::uint8_t* text, Ws ws);
// The start last set for this workspace; null when it was set for another.
const std::uint8_t* line_text_start(Ws ws);

namespace entry {
// `text` is the text cursor at the error, `token` the token cursor (the end
// of the last complete token of the line being built). None returns.
[[noreturn]] void wsfull(const std::uint8_t* text, std::uint32_t token, Ws ws);  // WS FULL, ⎕ET 1 3
// SYSTEM LIMIT, ⎕ET 1 13. Inside an executed text (bit 0 of header byte
// 0x173) the line is released and the error raised as an execution error.
[[noreturn]] void limit(const std::uint8_t* text, std::uint32_t token, Ws ws);
[[noreturn]] void symtfl(const std::uint8_t* text, std::uint32_t token, Ws ws);  // SYMBOL TABLE FULL, ⎕ET 1 4
[[noreturn]] void dfn1er(const std::uint8_t* text, std::uint32_t token, Ws ws);  // DEFN ERROR, ⎕ET 0 2
// Reports the error already recorded in the header and abandons the line.
[[noreturn]] void ercrt(const std::uint8_t* text, std::uint32_t token, Ws ws);
}  // namespace entry

// Releases the token line in the kill slot (its symbol uses with it) and
// clears the slot. Nothing when the slot is empty.
void clrkil(Ws ws);

// Drops one symbol use for the line's label and for every symbol token of
// every statement of the token line at `line`.
void clnlin(std::uint32_t line, Ws ws);

// Stepping backwards over tokens. Cursors are workspace offsets just past
// a token (at the byte after its tag).
// The cursor moved back over one token.
std::uint32_t skipsl(std::uint32_t cursor, Ws ws);
// The first byte of the token whose tag `tag` lies at `at`.
std::uint32_t skpsl2(std::uint8_t tag, std::uint32_t at, Ws ws);
// (A counted token's count is read by get_count, token_format.h.)

}  // namespace zema
