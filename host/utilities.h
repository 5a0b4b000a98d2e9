// Small host utilities: the check of an APL name, the host form of a
// number, error reports of host modules, and the fixed records the
// interpreter asks for.
#pragma once

#include <string>

namespace zema {

// True when `name` (internal characters, NUL-terminated) is an APL name,
// each character judged by its low 7 bits: a letter, ∆ or ⍙ first; then
// also ¯, _, digits and, with `dots`, "." (never last; without `dots` a "."
// is refused). A $ that is not last is taken with the two characters after
// it unexamined (fewer than two: not a name).
bool check_valid_name_for_symbol(const char* name, bool dots);

// `x` as host text: "%.10f" with trailing zeros and point removed, or
// "%.10E" beyond 1e9 or below 1e-6 (not 0) with the mantissa trimmed and
// the exponent without "+" and leading zeros; a minus is the font code of
// the high minus.
std::string format_flt(double x);

// `text` (host characters) into `dst` (256 bytes) in internal characters,
// at most 255 and a NUL; with a null `dst`, to standard error.
void report_error(const char* text, char* dst);

// The width of one ⎕MOUNT entry.
inline constexpr int qmount_width() { return 260; }
// The version record: words 0–3 and 5–6 zero, word 4 the version × 100.
void get_quadai(int record[7]);

}  // namespace zema
