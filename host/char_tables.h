// Character tables beside the code conversions: APL overstrikes, ⎕TR's
// translation, the case and printing tables of the internal set, the
// terminal translation table, and names made safe for menu captions.
//
// Everything here reads constant tables and may run on any thread.
#pragma once

#include <array>
#include <cstdint>
#include <string>

namespace zema {

// The internal code of a overstruck with b: a blank gives the other
// character, equal characters give a, otherwise the first overstrike pair
// holding a and b in either order gives its result; 0 when none does.
std::uint8_t ovstin(int a, int b);
// The overstrike pairs: first, second, result (internal codes).
inline constexpr int kOverstrikes = 70;
extern const std::uint8_t overstrikes[kOverstrikes][3];

// ⎕TR: translates exactly n characters of src into dst, direction 1 font
// to internal codes, −1 internal to font codes; answers 0, or 12 (nothing
// written) for another direction.
int quadtr(const char* src, char* dst, int n, int direction);

// Indexed by internal code: the small and capital forms of letters (every
// other code maps to itself), 1 for codes counted as capitals, as small
// letters, and for codes that do not print.
extern const std::array<std::uint8_t, 256> apl_lowercase_table;
extern const std::array<std::uint8_t, 256> apl_uppercase_table;
extern const std::array<std::uint8_t, 256> apl_is_uppercase_table;
extern const std::array<std::uint8_t, 256> apl_is_lowercase_table;
extern const std::array<std::uint8_t, 256> non_printing_quad_av;

// The terminal table: byte b (0–255) counted from its input section, and
// counted from its output section (bytes 128–255 are then the print section).
std::uint8_t ttrin(int b);
std::uint8_t ttrout(int b);

// A name in font codes made safe for a menu caption (∆ → ^, ⍙ → #), at most
// 100 characters; and back (^ → ∆, # → ⍙, the accelerator mark & dropped).
std::string munge_name_for_menu(const char* name);
std::string unmunge_name_from_menu(const char* caption);

}  // namespace zema
