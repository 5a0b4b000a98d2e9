// The field engine of the formatting functions (dyadic ⍕, format by
// example, ⎕FMT): numbers to decimal digit strings of at most 15
// significant digits, decimal rounding half away from zero on those digits,
// and text laid into fixed-width fields of a character result in the
// workspace, right-justified, with the overflow rule.
//
// Digits are exact: a double is converted to the 15-digit (or fewer)
// decimal form of its exact binary value, rounded half away from zero as
// every rounding here is; integers keep all their digits. Positions past the 15th significant digit print "0".
#pragma once

#include <cstdint>

#include "interpreter/workspace/workspace.h"

namespace zema {

// Significant digits every conversion keeps.
constexpr int kFormatDigits = 15;

// A number as decimal digits: value = 0.d[0]d[1]… × 10^point, sign apart.
// n = 0 means zero (after rounding too).
struct DecimalDigits {
  std::uint8_t d[24] = {};  // digit values 0-9, d[0] non-zero unless n = 0
  int n = 0;                // significant digits held
  int point = 0;            // digits before the decimal point
  bool negative = false;
};

// The digits of `x` rounded at `sig` significant digits (1..15), half away
// from zero (an exact half is judged on the whole decimal expansion).
void decimal_of(double x, int sig, DecimalDigits& out);
// All the digits of an integer.
void decimal_of_int(std::int64_t x, DecimalDigits& out);
// Rounds to `decimals` places after the point (may be negative: tens,
// hundreds …) half away from zero; a carry out of the first digit raises
// `point`. A value that rounds to nothing becomes zero (n = 0).
void round_decimals(DecimalDigits& x, int decimals);
// Rounds to `sig` significant digits half away from zero.
void round_significant(DecimalDigits& x, int sig);
// Digit k (0 first) after the point convention: the digit of 10^(point−1−k),
// 0 outside the held digits.
inline int digit_at(const DecimalDigits& x, int k) { return k >= 0 && k < x.n ? x.d[k] : 0; }
// Integer digits of a rounded value (0 when below 1).
inline int integer_digits(const DecimalDigits& x) { return x.n == 0 || x.point < 0 ? 0 : x.point; }

// Internal codes of the characters the formatters write and read.
struct FormatChars {
  std::uint8_t blank, point, comma, star, minus_high, minus, plus, zero, letter_e;
  std::uint8_t left_paren, right_paren, lt, gt, enclose, disclose, dieresis, quad, quote_quad, quote;
  std::uint8_t semicolon, underbar, floor_sym, stile;
  std::uint8_t letter(char c) const { return static_cast<std::uint8_t>(letter_a + (c - 'A')); }
  std::uint8_t letter_a;
};
const FormatChars& fchars();

// Position i (0-origin) of ⎕FC: decimal point, thousands separator, fill of
// digit 8, overflow fill, the character printed as a blank, negative sign.
std::uint8_t get_qfc(int i, Ws ws);

// Writes characters into a field of `width` bytes at `field`, from its
// right end leftwards. A character that finds the field full marks the
// field as overflowed (nothing more is written).
struct FieldWriter {
  std::uint8_t* field;
  std::uint32_t width;
  std::uint32_t used = 0;
  bool overflow = false;
  void put(std::uint8_t c) {
    if (used >= width) {
      overflow = true;
      return;
    }
    field[width - 1 - used++] = c;
  }
};

// The text length of `x` (already rounded) written in fixed form with `p`
// decimals (p ≥ 0) by ⍕: sign, integer digits (none before the point when
// below 1 and p > 0, a single 0 when p = 0), point and decimals.
std::uint64_t fixed_length(const DecimalDigits& x, int p);
// Writes that text through `w` (right to left); `point` and `minus` are the
// characters used.
void write_fixed(const DecimalDigits& x, int p, std::uint8_t point, std::uint8_t minus, FieldWriter& w);
// Width ⍕ needs for a value at precision p (see fixed_length; p < 0 the
// exponent form), without the separating blank.
std::uint64_t thorn_width(double v, bool integer, int p);
// Writes `v` in exponent form with `digits` significant digits through `w`:
// mantissa (sign, digit, point and further digits, "0" beyond 15), "E",
// "¯" for a negative exponent, three exponent digits, a blank when the
// exponent is not negative.
void write_exponent(double v, int digits, std::uint8_t point, std::uint8_t minus, FieldWriter& w);

}  // namespace zema
