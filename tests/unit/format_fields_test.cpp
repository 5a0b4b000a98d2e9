// The field engine of ⍕ and ⎕FMT: 15-digit conversion against the exact
// decimal expansion of doubles, decimal rounding half away from zero at its
// boundaries, fixed and exponent text, and the overflow rule.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <random>
#include <string>

#include "host/charset.h"
#include "interpreter/output/format_fields.h"

namespace zema {
namespace {

std::string digits_text(const DecimalDigits& x) {
  std::string s;
  for (int i = 0; i < x.n; ++i) s += static_cast<char>('0' + x.d[i]);
  return s;
}

// The value's first `sig` significant digits rounded half away from zero,
// from the full exact expansion (a double has at most 767 of them).
void exact_digits(double v, int sig, std::string& digits, int& point) {
  static char buf[900];
  std::snprintf(buf, sizeof buf, "%.780e", std::fabs(v));
  std::string all = std::string(1, buf[0]) + std::string(buf + 2, 780);
  point = std::atoi(std::strchr(buf, 'e') + 1) + 1;
  digits = all.substr(0, static_cast<std::size_t>(sig));
  if (all[static_cast<std::size_t>(sig)] >= '5') {
    int i = sig - 1;
    while (i >= 0 && digits[i] == '9') digits[i--] = '0';
    if (i < 0) {
      digits = "1" + digits.substr(0, static_cast<std::size_t>(sig - 1));
      ++point;
    } else {
      ++digits[i];
    }
  }
  while (!digits.empty() && digits.back() == '0') digits.pop_back();
}

TEST(FormatFields, FifteenDigitsAgreeWithExactExpansion) {
  std::mt19937_64 gen(7150);
  std::uniform_int_distribution<int> exp2(-1020, 1020);
  for (int n = 0; n < 2000; ++n) {
    double v = std::ldexp(1.0 + static_cast<double>(gen() >> 11) * 0x1p-53, exp2(gen));
    if (n % 3 == 0) v = -v;
    for (int sig : {1, 3, 7, 15}) {
      DecimalDigits x;
      decimal_of(v, sig, x);
      std::string want;
      int point = 0;
      exact_digits(v, sig, want, point);
      SCOPED_TRACE(std::to_string(v) + " at " + std::to_string(sig));
      EXPECT_EQ(digits_text(x), want);
      EXPECT_EQ(x.point, point);
      EXPECT_EQ(x.negative, v < 0);
    }
  }
}

// Exact ties at the 16th significant digit (integers held as doubles, and
// binary fractions) go away from zero, as the decimal rounding does.
TEST(FormatFields, ConversionTiesGoAwayFromZero) {
  struct Row {
    double v;
    const char* digits;
    int point;
  } rows[] = {
      {1234567890123445.0, "123456789012345", 16},
      {1234567890123455.0, "123456789012346", 16},
      {-1234567890123445.0, "123456789012345", 16},
      {999999999999999.5, "1", 16},
      {0.5, "5", 0},
  };
  for (const Row& r : rows) {
    DecimalDigits x;
    decimal_of(r.v, kFormatDigits, x);
    EXPECT_EQ(digits_text(x), r.digits) << r.v;
    EXPECT_EQ(x.point, r.point) << r.v;
  }
}

TEST(FormatFields, IntegersKeepAllTheirDigits) {
  DecimalDigits x;
  decimal_of_int(INT64_MIN, x);
  EXPECT_EQ(digits_text(x), "9223372036854775808");
  EXPECT_EQ(x.point, 19);
  EXPECT_TRUE(x.negative);
  decimal_of_int(1200, x);
  EXPECT_EQ(digits_text(x), "12");
  EXPECT_EQ(x.point, 4);
  decimal_of_int(0, x);
  EXPECT_EQ(x.n, 0);
}

// Rounding to a number of decimals on the 15-digit form, half away from
// zero: exact binary halves, values whose 15-digit form is a half though
// the double lies below it, carries out of the first digit, and values that
// round to nothing.
TEST(FormatFields, DecimalRoundingAtTheBoundaries) {
  struct Row {
    double v;
    int decimals;
    const char* digits;  // "" for zero
    int point;
  } rows[] = {
      {0.125, 2, "13", 0},       {-0.125, 2, "13", 0},    {-0.005, 2, "1", -1},   {0.0049, 2, "", 0},
      {2.675, 2, "268", 1},      {1.005, 2, "101", 1},    {9.995, 2, "1", 2},     {999.5, 0, "1", 4},
      {0.5, 0, "1", 1},          {0.4999, 0, "", 0},      {0.05, 1, "1", 0},      {0.05, 0, "", 0},
      {1234.5, -2, "12", 4},     {50, -2, "1", 3},        {49, -2, "", 0},        {0.001, 2, "", 0},
      {123.456, 5, "123456", 3}, {1e20, 0, "1", 21},
  };
  for (const Row& r : rows) {
    DecimalDigits x;
    decimal_of(r.v, kFormatDigits, x);
    round_decimals(x, r.decimals);
    SCOPED_TRACE(std::to_string(r.v) + " at " + std::to_string(r.decimals));
    EXPECT_EQ(digits_text(x), r.digits);
    if (x.n != 0) {
      EXPECT_EQ(x.point, r.point);
    }
  }
  DecimalDigits x;
  decimal_of(9.9996, kFormatDigits, x);
  round_significant(x, 4);
  EXPECT_EQ(digits_text(x), "1");
  EXPECT_EQ(x.point, 2);
}

std::string field_text(const std::uint8_t* f, std::uint32_t width) {
  return internal_to_utf8(std::string(reinterpret_cast<const char*>(f), width));
}

// Fixed text as ⍕ writes it, right-justified in its field; a value too
// wide marks the field as overflowed and fixed_length tells it beforehand.
TEST(FormatFields, FixedTextAndOverflow) {
  const FormatChars& c = fchars();
  struct Row {
    double v;
    bool integer;
    int p;
    const char* text;
  } rows[] = {
      {0.25, false, 2, "     .25"},  {0, true, 2, "     .00"},   {-0.001, false, 2, "     .00"},
      {-0.005, false, 2, "    ¯.01"}, {123, true, 0, "     123"},  {0.4, false, 0, "       0"},
      {-1.5, false, 1, "    ¯1.5"},  {1e20, false, 0, "100000000000000000000"},
      {1234567890123456789.0, false, 0, "1234567890123460000"},
      {0.1, false, 17, "   .10000000000000000"},
  };
  for (const Row& r : rows) {
    const std::uint32_t width = std::max<std::uint32_t>(8, static_cast<std::uint32_t>(std::strlen(r.text) - (std::string(r.text).find("¯") != std::string::npos ? 1 : 0)));
    std::uint8_t buf[40];
    std::memset(buf, c.blank, sizeof buf);
    DecimalDigits x;
    if (r.integer) decimal_of_int(static_cast<std::int64_t>(r.v), x);
    else decimal_of(r.v, kFormatDigits, x);
    round_decimals(x, r.p);
    FieldWriter w{buf, width};
    write_fixed(x, r.p, c.point, c.minus_high, w);
    EXPECT_FALSE(w.overflow) << r.text;
    EXPECT_EQ(field_text(buf, width), r.text);
    EXPECT_EQ(fixed_length(x, r.p), w.used) << r.text;
  }
  // Four characters into three: overflow, and nothing written past the field.
  std::uint8_t buf[6];
  std::memset(buf, c.blank, sizeof buf);
  DecimalDigits x;
  decimal_of_int(1234, x);
  EXPECT_EQ(fixed_length(x, 0), 4u);
  FieldWriter w{buf + 1, 3};
  write_fixed(x, 0, c.point, c.minus_high, w);
  EXPECT_TRUE(w.overflow);
  EXPECT_EQ(field_text(buf, 6), " 234  ");
}

// The widths ⍕ computes: integer digits plus decimals plus one (also at
// precision 0), the point alone below 1, one more for the sign; the
// exponent form |p| digits, a point unless |p| is 1, and five more.
TEST(FormatFields, ComputedWidths) {
  EXPECT_EQ(thorn_width(123, true, 0), 4u);
  EXPECT_EQ(thorn_width(0.4, false, 0), 1u);
  EXPECT_EQ(thorn_width(0.25, false, 2), 3u);
  EXPECT_EQ(thorn_width(-1.5, false, 2), 5u);
  EXPECT_EQ(thorn_width(99.996, false, 2), 6u);  // rounds to 100.00
  EXPECT_EQ(thorn_width(1234, true, -3), 9u);
  EXPECT_EQ(thorn_width(-1234, true, -1), 7u);
}

// Exponent form: mantissa, E, a high minus or a trailing blank, three
// exponent digits; the mantissa rounded to the digits asked for.
TEST(FormatFields, ExponentText) {
  const FormatChars& c = fchars();
  struct Row {
    double v;
    int digits;
    const char* text;
  } rows[] = {
      {1234, 3, "1.23E003 "},   {0.001234, 3, "1.23E¯003"}, {-5, 1, "¯5E000 "},
      {9.999, 2, "1.0E001 "},   {1e-300, 3, "1.00E¯300"},   {0, 2, "0.0E000 "},
      {1.25, 2, "1.3E000 "},    {123456, 1, "1E005 "},
  };
  for (const Row& r : rows) {
    std::uint8_t buf[20];
    std::memset(buf, c.blank, sizeof buf);
    FieldWriter w{buf, 20};
    write_exponent(r.v, r.digits, c.point, c.minus_high, w);
    EXPECT_FALSE(w.overflow);
    const std::string got = field_text(buf + (20 - w.used), w.used);
    EXPECT_EQ(got, r.text) << r.v;
  }
}

}  // namespace
}  // namespace zema
