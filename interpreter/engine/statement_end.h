// The end of a statement (its value displayed, dropped or handed on) and of
// a token line.
#pragma once

#include <cstdint>

#include "interpreter/workspace/workspace.h"

namespace zema {

// State 17: a statement has been evaluated. Answers the next state.
int xrsltp(Ws ws);
// State 15: the end of the token line. Answers the next state.
int eol(Ws ws);
// True when another statement follows the current one; `next_cursor`
// receives the line cursor at that statement's end, and its first token
// byte goes to header byte 0x12A.
bool eolck(std::uint32_t* next_cursor, Ws ws);
// Ends the output line when the column is not 0; answers `value`.
int crlm(int value, Ws ws);

// Clearing the stack and the state indicator.
// Pops the current statement's entries down to and including its primer,
// releasing what they own.
void clrstk(Ws ws);
// Clears n suspended levels of the state indicator (-1: all).
void siclr_n(int n, Ws ws);
// Clears every level of the state indicator.
inline void siclr(Ws ws) { siclr_n(-1, ws); }
// The element at workspace offset `element`, of element type `type`
// (boolean: its word's bit 31; integer; float), as a 32-bit integer;
// DOMAIN ERROR when it is not one (or for any other type).
std::int32_t getint(std::uint8_t type, std::uint32_t element, Ws ws);
// The same for the double at `element`, with the conversion fuzz (fltint).
std::int32_t getin3(std::uint32_t element, Ws ws);

}  // namespace zema
