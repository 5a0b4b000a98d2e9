// A class as the lines that define it in class-definition mode, for ⎕CR,
// ⎕TF and the host's editors:
//
//   Name : Parent; priv1;priv2 {      (parent and private list when present)
//   x←1 2 3                           properties with a value (←← read-only,
//   {count←0}                          braces class-wide)
//                                     a blank line after that group
//   y                                 properties without a value ({y} class-wide)
//                                     a blank line after that group
//   ∇Z←Move R                         each method between ∇ lines, as ⎕CR
//   …                                  lists it, a blank line after each
//   ∇
//   }                                 (no blank line just before it)
//
// A value that holds anything but numbers and characters (a reference) is
// written as its property's name alone.
#pragma once

#include <cstdint>

#include "interpreter/workspace/workspace.h"

namespace zema {

// Pushes the text of the class named by symbol token `token` as the
// result, in `form`: 0 a blank-padded character matrix, one row per line
// (at least 2 rows); 1 a character vector, lines separated by carriage
// returns; 2 a vector of character vectors, one per line, without the
// blank lines; −2 an empty character vector (the class not looked at).
// A name that is no class gives a 0 × 0 matrix (form 0) or an empty
// vector. Another form is NONCE ERROR. Compacts the heap; WS FULL when the
// text does not fit.
void sfcr_class(std::uint16_t token, int form, Ws ws);

// Pushes the transfer text of the class named by symbol token `token` as a
// character vector: F, the name and a blank, then ⎕FX and each line of the
// class's text (blank lines left out) in quotes, quotes doubled, each
// after a blank: the function form of a transfer file, which fixes the
// class again through ⎕FX. An empty vector for a name that is no class.
// Compacts the heap; WS FULL when the text does not fit.
void push_class_transfer_text(std::uint16_t token, Ws ws);

// The text of form 1 built in the free gap, no object made: answers false
// for a name that is no class. `text` and `length` are valid until the
// workspace is changed again; the caller copies them at once. WS FULL
// (raised) when the text does not fit.
bool get_class_text_form(std::uint16_t token, const std::uint8_t** text, std::uint32_t* length, Ws ws);

}  // namespace zema
