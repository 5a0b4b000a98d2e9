// Translation of display-font characters to the print font: the print font
// lacks some APL symbols, which are printed as a base character with a second
// character struck over it. Pure table look-up; safe on any thread.
#pragma once

#include <cstdint>

namespace zema {

// Reads character c (low 8 bits). Writes base and overstrike: c and 0 for
// codes below 0x80 and codes without a table row, else the row's base and
// overstrike (0 = none). Answers whether there is an overstrike.
bool translate_to_print_font(int c, std::uint8_t& base, std::uint8_t& overstrike);

}  // namespace zema
