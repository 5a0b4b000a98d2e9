// The ∇ line editor: line numbers, the prompt, filing typed lines and the
// bracket commands [n], [⎕], [⎕m], [n⎕], [n⎕m], [∆n] and a closing ∇ or ⍫
// after the bracket.
//
// Line numbers are 32-bit BCD: four integer digits in the upper half, four
// decimal digits in the lower (0x00010000 is line 1, 0x00035000 line 3.5);
// the header is line 0. The current number (hdr::EditLine) advances by the
// increment (hdr::EditIncrement) after every filed line; a number given in
// brackets sets both, the increment to one unit of its last non-zero
// decimal place. Lines keep fractional numbers until the function is next
// opened, which renumbers them 1, 2, 3 …
#pragma once

#include <cstdint>

#include "interpreter/workspace/workspace.h"

namespace zema {

// BCD line numbers.
namespace bcd {
constexpr std::uint32_t One = 0x00010000;   // line 1
constexpr std::uint32_t Last = 0x99999999;  // where an overflowing advance stops
}  // namespace bcd

// a + b in BCD; a carry out of the top digit gives bcd::Last.
std::uint32_t bcd_add(std::uint32_t a, std::uint32_t b);
// The integer part of a BCD line number.
std::uint32_t bcd_integer(std::uint32_t n);

// Current number += increment; answers the new current number.
std::uint32_t dflbmp(Ws ws);
// Sets the current number to n and the increment from n; answers n.
std::uint32_t lbrki2(std::uint32_t n, Ws ws);

// Prints "[n]" and blanks until four characters follow the "["; answers
// the blank (0x20) that a prompt prints after it.
int dfnfmc(std::uint32_t number, Ws ws);
// The prompt for the current line number, without its last blank.
int dfnfmt(Ws ws);
// The whole prompt: dfnfmt and its blank.
void prompt_line(Ws ws);

// The line numbered n of the open definition (0: the header); answers
// whether it exists, `line` = it or 0.
bool findl(std::uint32_t* line, std::uint32_t n, Ws ws);

// Numbers the body lines 1, 2, 3 … leaving the current number one past
// the last (increment 1).
void renumber_lines(Ws ws);

// Files the finished line in the kill slot under the current number:
// replaces a line of that number (taking over its stop and trace bits),
// or goes in before the first higher one, or at the end; then advances the
// current number.
void file_line(Ws ws);

// Listing: six blanks and ∇ (⍫ for a locked function).
void lbrnqs(std::uint32_t header, Ws ws);
// "[n]" with its padding, the prompt's blank for a line without a label
// that is not a comment alone, and the line's text.
void lbrsub(std::uint32_t number, std::uint32_t line, Ws ws);
// The function from line `from` (0: with its header), the closing ∇ line
// with the fix time when present.
void list_function(std::uint32_t from, Ws ws);

// The bracket editor, for a "[" at the start of a line while a definition
// is open; `*text` is at the "[" and is moved over what was read. Answers
// 5 (tokenise the rest as the line's text), 6 (done), 7 (the line is being
// edited: read the next without a prompt) or 8 (the rest, from ")", is a
// system command). DEFN ERROR (an entry error) for a malformed command.
int lbrksv(const std::uint8_t** text, std::uint32_t* remaining, Ws ws);

}  // namespace zema
