// Numbers as display text: integers, booleans and floats in the text buffer,
// ⎕PP digits with exact halves rounded down, fixed and exponent forms, and
// the small division helpers.
#include <gtest/gtest.h>

#include <array>
#include <bit>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <random>
#include <stdexcept>
#include <string>

#include "host/charset.h"
#include "interpreter/engine/sysvars.h"
#include "interpreter/output/numfmt.h"
#include "interpreter/workspace/extended80.h"
#include "test_workspace.h"

namespace zema {
namespace {

using test::TestWorkspace;

class NumFmt : public ::testing::Test {
 protected:
  TestWorkspace tw;
  Ws ws = tw.ws();

  void set_pp(int pp) { wr32(ws, sysvar_value_word(sysvar::PP), static_cast<std::uint32_t>(pp)); }
  int count() const { return rdi16(ws, hdr::TextCount); }
  // The counted text, as UTF-8.
  std::string text() const {
    return internal_to_utf8(std::string(reinterpret_cast<const char*>(ws + hdr::TextChars), count()));
  }
  std::string show(double d, int pp, int mode = 0) {
    set_pp(pp);
    fmtflt(d, mode, ws);
    return text();
  }
};

// ---- floats ------------------------------------------------------------------

struct EveryPP {
  double value;
  std::array<const char*, 15> shown;  // at ⎕PP 1 to 15
};

TEST_F(NumFmt, FloatsAtEveryPrintPrecision) {
  const EveryPP rows[] = {
      {3.141592653589793,
       {"3", "3.1", "3.14", "3.142", "3.1416", "3.14159", "3.141593", "3.1415927", "3.14159265", "3.141592654",
        "3.1415926536", "3.14159265359", "3.14159265359", "3.1415926535898", "3.14159265358979"}},
      {12345678901.0,
       {"1E10", "1.2E10", "1.23E10", "1.235E10", "1.2346E10", "1.23457E10", "1.234568E10", "1.2345679E10",
        "1.23456789E10", "1.23456789E10", "12345678901", "12345678901", "12345678901", "12345678901", "12345678901"}},
      {0.0001,
       {"0.0001", "0.0001", "0.0001", "0.0001", "0.0001", "0.0001", "0.0001", "0.0001", "0.0001", "0.0001", "0.0001",
        "0.0001", "0.0001", "0.0001", "0.0001"}},
      {0.00001,
       {"1E¯5", "1E¯5", "1E¯5", "1E¯5", "1E¯5", "1E¯5", "1E¯5", "1E¯5", "1E¯5", "1E¯5", "1E¯5", "1E¯5", "1E¯5", "1E¯5",
        "1E¯5"}},
      {0.000123456,
       {"0.0001", "0.00012", "0.000123", "0.0001235", "0.00012346", "0.000123456", "0.000123456", "0.000123456",
        "0.000123456", "0.000123456", "0.000123456", "0.000123456", "0.000123456", "0.000123456", "0.000123456"}},
      {2.5, {"2", "2.5", "2.5", "2.5", "2.5", "2.5", "2.5", "2.5", "2.5", "2.5", "2.5", "2.5", "2.5", "2.5", "2.5"}},
      {-2.5,
       {"¯2", "¯2.5", "¯2.5", "¯2.5", "¯2.5", "¯2.5", "¯2.5", "¯2.5", "¯2.5", "¯2.5", "¯2.5", "¯2.5", "¯2.5", "¯2.5",
        "¯2.5"}},
      {-3.0, {"¯3", "¯3", "¯3", "¯3", "¯3", "¯3", "¯3", "¯3", "¯3", "¯3", "¯3", "¯3", "¯3", "¯3", "¯3"}},
      {1E308,
       {"1E308", "1E308", "1E308", "1E308", "1E308", "1E308", "1E308", "1E308", "1E308", "1E308", "1E308", "1E308",
        "1E308", "1E308", "1E308"}},
      {1E-300,
       {"1E¯300", "1E¯300", "1E¯300", "1E¯300", "1E¯300", "1E¯300", "1E¯300", "1E¯300", "1E¯300", "1E¯300", "1E¯300",
        "1E¯300", "1E¯300", "1E¯300", "1E¯300"}},
      {0.1 + 0.2,
       {"0.3", "0.3", "0.3", "0.3", "0.3", "0.3", "0.3", "0.3", "0.3", "0.3", "0.3", "0.3", "0.3", "0.3", "0.3"}},
      {9.9999999999,
       {"1E1", "10", "10", "10", "10", "10", "10", "10", "10", "10", "9.9999999999", "9.9999999999", "9.9999999999",
        "9.9999999999", "9.9999999999"}},
      {0.125,
       {"0.1", "0.12", "0.125", "0.125", "0.125", "0.125", "0.125", "0.125", "0.125", "0.125", "0.125", "0.125",
        "0.125", "0.125", "0.125"}},
      {1234567890.5,
       {"1E9", "1.2E9", "1.23E9", "1.235E9", "1.2346E9", "1.23457E9", "1.234568E9", "1.2345679E9", "1.23456789E9",
        "1234567890", "1234567890.5", "1234567890.5", "1234567890.5", "1234567890.5", "1234567890.5"}},
      {99999.5,
       {"1E5", "1E5", "1E5", "1E5", "99999", "99999.5", "99999.5", "99999.5", "99999.5", "99999.5", "99999.5",
        "99999.5", "99999.5", "99999.5", "99999.5"}},
      {-1.0 / 3,
       {"¯0.3", "¯0.33", "¯0.333", "¯0.3333", "¯0.33333", "¯0.333333", "¯0.3333333", "¯0.33333333", "¯0.333333333",
        "¯0.3333333333", "¯0.33333333333", "¯0.333333333333", "¯0.3333333333333", "¯0.33333333333333",
        "¯0.333333333333333"}},
      {2.0 / 3,
       {"0.7", "0.67", "0.667", "0.6667", "0.66667", "0.666667", "0.6666667", "0.66666667", "0.666666667",
        "0.6666666667", "0.66666666667", "0.666666666667", "0.6666666666667", "0.66666666666667",
        "0.666666666666667"}},
      {1E10,
       {"1E10", "1E10", "1E10", "1E10", "1E10", "1E10", "1E10", "1E10", "1E10", "1E10", "10000000000", "10000000000",
        "10000000000", "10000000000", "10000000000"}},
      {2147483648.0,
       {"2E9", "2.1E9", "2.15E9", "2.147E9", "2.1475E9", "2.14748E9", "2.147484E9", "2.1474836E9", "2.14748365E9",
        "2147483648", "2147483648", "2147483648", "2147483648", "2147483648", "2147483648"}},
      {123.456,
       {"1E2", "1.2E2", "123", "123.5", "123.46", "123.456", "123.456", "123.456", "123.456", "123.456", "123.456",
        "123.456", "123.456", "123.456", "123.456"}},
      {2.2250738585072014E-308,  // the smallest normal double
       {"2E¯308", "2.2E¯308", "2.23E¯308", "2.225E¯308", "2.2251E¯308", "2.22507E¯308", "2.225074E¯308",
        "2.2250739E¯308", "2.22507386E¯308", "2.225073859E¯308", "2.2250738585E¯308", "2.22507385851E¯308",
        "2.225073858507E¯308", "2.2250738585072E¯308", "2.2250738585072E¯308"}},
  };
  for (const auto& row : rows)
    for (int pp = 1; pp <= 15; ++pp)
      EXPECT_EQ(show(row.value, pp), row.shown[pp - 1]) << "value " << row.value << " at ⎕PP " << pp;
}

TEST_F(NumFmt, SingleCases) {
  struct Case {
    double value;
    int pp;
    const char* shown;
  };
  const double inf = std::numeric_limits<double>::infinity();
  const Case cases[] = {
      {9.99999999999, 10, "10"},
      {3.5, 1, "3"},            // exact halves go down
      {4.5, 1, "4"},
      {0.375, 2, "0.37"},
      {-2.51, 1, "¯3"},         // more than half goes up
      {2.5000000001, 1, "3"},
      {-0.0, 10, "0"},
      {0.0, 1, "0"},
      {123456.0, 3, "123456"},  // whole numbers in the 32-bit range in full
      {-2147483648.0, 3, "¯2147483648"},
      {2147483647.0, 1, "2147483647"},
      {1E9, 2, "1000000000"},
      {2147483648.0, 3, "2.15E9"},
      {-2147483649.0, 3, "¯2.15E9"},
      {inf, 10, "1.797693135E308"},
      {-inf, 10, "¯1.797693135E308"},
      {std::numeric_limits<double>::quiet_NaN(), 10, "1.797693135E308"},
      {std::numeric_limits<double>::max(), 15, "1.79769313486232E308"},
      {0.1, 15, "0.1"},
      {0.00099999, 4, "0.001"},  // rounding up moves the point
      {0.000099999, 4, "0.0001"},  // ... and can change the form
      {999999.5, 6, "999999"},
      {999999.51, 6, "1E6"},
      {-1E-5, 3, "¯1E¯5"},
      {1.5E-7, 2, "1.5E¯7"},
      {100.25, 4, "100.2"},
  };
  for (const auto& c : cases) EXPECT_EQ(show(c.value, c.pp), c.shown) << c.value << " at ⎕PP " << c.pp;
}

// Subnormal doubles (exponent field 0) show their own value, not the value
// their bits would have with the smallest normal exponent.
TEST_F(NumFmt, SubnormalsShowTheirValue) {
  struct Case {
    double value;
    int pp;
    int mode;
    const char* shown;
  };
  const Case cases[] = {
      {0x1p-1074, 10, 0, "4.940656458E¯324"},           // the smallest
      {-0x1p-1074, 10, 0, "¯4.940656458E¯324"},
      {0x1p-1070, 10, 0, "7.905050333E¯323"},
      {0x1p-1023, 15, 0, "1.1125369292536E¯308"},
      {0x0.fffffffffffffp-1022, 10, 0, "2.225073859E¯308"},  // the largest
      {0x7E8p-1074, 5, 0, "9.9999E¯321"},
      {0x7E8p-1074, 4, 0, "1E¯320"},
      {1E-310, 10, 0, "1E¯310"},
      {0x1p-1074, 3, kExponentForm, "4.94E¯324"},
      {0x1p-1022, 10, 0, "2.225073859E¯308"},            // the smallest normal, for comparison
  };
  for (const auto& c : cases) EXPECT_EQ(show(c.value, c.pp, c.mode), c.shown) << c.value;
}

TEST_F(NumFmt, ExponentForm) {
  struct Case {
    double value;
    int pp;
    const char* shown;
  };
  const Case cases[] = {
      {3.25, 10, "3.250000000E0"},   {1.0, 10, "1.000000000E0"},  {0.0, 10, "0.000000000E0"},
      {0.0, 1, "0E0"},               {3.25, 1, "3E0"},            {123456.0, 3, "1.23E5"},
      {-0.00125, 3, "¯1.25E¯3"},     {-0.00125, 2, "¯1.3E¯3"},    {9.99, 2, "1.0E1"},
      {99999.5, 5, "9.9999E4"},      {1E-300, 4, "1.000E¯300"},   {-2147483648.0, 2, "¯2.1E9"},
  };
  for (const auto& c : cases) EXPECT_EQ(show(c.value, c.pp, kExponentForm), c.shown) << c.value;
}

TEST_F(NumFmt, ListingShowsFifteenDigitsWhateverPrintPrecision) {
  set_state(st::ListDigits, 0, ws);
  EXPECT_EQ(show(1.0 / 3, 3), "0.333333333333333");
  EXPECT_EQ(show(0.1, 1), "0.1");
  EXPECT_EQ(show(12345678901.5, 2), "12345678901.5");
}

TEST_F(NumFmt, AnswersTheDecimalExponent) {
  struct Case {
    double value;
    int pp;
    int exponent;
  };
  const Case cases[] = {
      {12345.678, 10, 4}, {0.00123, 10, -3}, {0.0, 10, 0},      {9.99, 2, 1},  {-9.99, 3, 0},
      {1E-300, 10, -300}, {1E308, 5, 308},   {123456.0, 3, 5},  {-7.0, 3, 0},  {0.5, 1, -1},
  };
  for (const auto& c : cases) {
    set_pp(c.pp);
    EXPECT_EQ(fmtflt(c.value, 0, ws), c.exponent) << c.value;
  }
}

TEST_F(NumFmt, FormatsExtendedValuesDirectly) {
  set_pp(10);
  Extended80 third;
  ASSERT_TRUE(fdiv(x80const::one, intflt(3), third));
  EXPECT_EQ(fmtfls(third.exp_word, third.mant_hi, third.mant_lo, 0, ws), -1);
  EXPECT_EQ(text(), "0.3333333333");
  Extended80 minus_pi = neg(x80const::onepi);
  fmtfle(minus_pi.exp_word, minus_pi.mant_hi, minus_pi.mant_lo, kExponentForm, ws);
  EXPECT_EQ(text(), "¯3.141592654E0");
  // An extended value beyond the double range.
  Extended80 big;
  ASSERT_TRUE(fmult(x80const::posinf, intflt(1000), big));
  fmtfls(big.exp_word, big.mant_hi, big.mant_lo, 0, ws);
  EXPECT_EQ(text(), "1.797693135E311");
}

// Every routine leaves one uncounted blank after its text.
TEST_F(NumFmt, UncountedBlankFollowsTheText) {
  auto check = [&](const char* what) {
    EXPECT_EQ(rd8(ws, hdr::TextChars + count()), numch::Blank) << what;
    std::memset(ws + hdr::TextChars, 0x55, 40);
  };
  std::memset(ws + hdr::TextChars, 0x55, 40);
  set_pp(10);
  fmtflt(0.0001, 0, ws);
  EXPECT_EQ(count(), 6);
  check("fixed");
  fmtflt(-1E-5, kExponentForm, ws);
  check("exponent form");
  fmtflt(0.0, kExponentForm, ws);
  check("zero");
  fmtint(-2147483648, ws);
  EXPECT_EQ(count(), 11);
  check("integer");
  fmtbin(0, ws);
  EXPECT_EQ(count(), 1);
  check("boolean");
}

// Many doubles across the whole range at every ⎕PP, against the exact
// decimal expansion from the C library rounded half down. Values whose
// dropped digits lie too near one half to judge are left to the tables.
TEST_F(NumFmt, DigitsAgreeWithExactExpansion) {
  std::mt19937_64 gen(20240607);
  std::uniform_int_distribution<int> exp2(-1015, 1015);
  int judged = 0;
  for (int n = 0; n < 400; ++n) {
    double v = std::ldexp(1.0 + static_cast<double>(gen() >> 11) * 0x1p-53, exp2(gen));
    if (n % 2) v = -v;
    char buf[80];
    std::snprintf(buf, sizeof buf, "%.39e", std::fabs(v));
    std::string exact = std::string(1, buf[0]) + std::string(buf + 2, 39);
    int exact_exp = std::atoi(std::strchr(buf, 'e') + 1);
    for (int pp = 1; pp <= 15; ++pp) {
      // The scaling truncates and the large powers of ten lie slightly low
      // (10^200 by about 1E¯18 of itself): dropped digits within half a
      // hundredth of one half are not judged here.
      std::string tail = exact.substr(pp, 4);
      int dropped = std::stoi(tail);
      if (dropped >= 4950 && dropped <= 5050) continue;
      std::string want = exact.substr(0, pp);
      int want_exp = exact_exp;
      if (tail[0] >= '5') {
        int i = pp - 1;
        while (i >= 0 && want[i] == '9') want[i--] = '0';
        if (i < 0) {
          want = "1" + want.substr(0, pp - 1);
          ++want_exp;
        } else {
          ++want[i];
        }
      }

      set_pp(pp);
      int answered = fmtflt(v, 0, ws);
      std::string s(reinterpret_cast<const char*>(ws + hdr::TextChars), count());
      // Parse the text: sign, digits and point, exponent.
      bool negative = !s.empty() && s[0] == numch::Minus;
      if (negative) s.erase(0, 1);
      std::size_t e = s.find(static_cast<char>(numch::Exp));
      std::string mantissa = s.substr(0, e);
      std::size_t point = mantissa.find('.');
      std::string digits = mantissa;
      if (point != std::string::npos) digits.erase(point, 1);
      int got_exp;
      if (e != std::string::npos) {
        std::string ex = s.substr(e + 1);
        got_exp = ex[0] == numch::Minus ? -std::atoi(ex.c_str() + 1) : std::atoi(ex.c_str());
        EXPECT_EQ(point == std::string::npos ? 1u : point, 1u) << s;
      } else {
        got_exp = static_cast<int>(point == std::string::npos ? digits.size() : point) - 1;
      }
      std::size_t lead = digits.find_first_not_of('0');
      ASSERT_NE(lead, std::string::npos) << s;
      got_exp -= static_cast<int>(lead);
      digits.erase(0, lead);
      digits.resize(static_cast<std::size_t>(pp), '0');

      SCOPED_TRACE(std::string(buf) + " at ⎕PP " + std::to_string(pp) + ": " + internal_to_utf8(s));
      EXPECT_EQ(negative, v < 0);
      EXPECT_EQ(digits, want);
      EXPECT_EQ(got_exp, want_exp);
      EXPECT_EQ(answered, want_exp);
      EXPECT_EQ(e == std::string::npos, want_exp > -5 && want_exp < pp);
      if (e == std::string::npos && point != std::string::npos) {
        EXPECT_NE(mantissa.back(), '0');
      }
      ++judged;
    }
  }
  EXPECT_GT(judged, 5000);
}

// ---- integers and booleans ----------------------------------------------------

TEST_F(NumFmt, IntegersToTheirLimits) {
  struct Case {
    std::int32_t value;
    const char* shown;
  };
  const Case cases[] = {
      {0, "0"},       {7, "7"},          {-1, "¯1"},         {10, "10"},
      {-10, "¯10"},   {1000000000, "1000000000"},            {2147483647, "2147483647"},
      {-2147483647, "¯2147483647"},      {std::numeric_limits<std::int32_t>::min(), "¯2147483648"},
  };
  for (const auto& c : cases) {
    std::memset(ws + hdr::TextChars, 0x55, 20);
    fmtint(c.value, ws);
    EXPECT_EQ(text(), c.shown);
  }
}

TEST_F(NumFmt, AppendingCountsEveryCharacter) {
  fmtint(-5, ws);
  std::uint32_t cursor = hdr::TextChars + static_cast<std::uint32_t>(count());
  cursor = fmtce(numch::Blank, cursor, ws);
  cursor = fmtinx(std::numeric_limits<std::int32_t>::min(), cursor, ws);
  cursor = fmtce(numch::Point, cursor, ws);
  cursor = fmtinx(90, cursor, ws);
  EXPECT_EQ(text(), "¯5 ¯2147483648.90");
  EXPECT_EQ(cursor, hdr::TextChars + 17);
  EXPECT_EQ(count(), 17);
}

TEST_F(NumFmt, BooleanWordGivesItsElementsFromTheFirst) {
  std::uint32_t word = 0xA0000001u;
  std::string seen;
  for (int i = 0; i < 32; ++i) {
    word = fmtbin(word, ws);
    ASSERT_EQ(count(), 1);
    seen += text();
  }
  EXPECT_EQ(seen, "10100000000000000000000000000001");
  EXPECT_EQ(word, 0u);
}

// ---- division helpers -------------------------------------------------------------

TEST(NumFmtDivision, ThirtyTwoBit) {
  struct Case {
    std::uint32_t dividend, divisor, quotient, remainder;
  };
  const Case cases[] = {
      {17, 5, 3, 2}, {4, 5, 0, 4}, {0xFFFFFFFFu, 1, 0xFFFFFFFFu, 0}, {0xFFFFFFFFu, 0x10000u, 0xFFFFu, 0xFFFFu},
      {0x80000000u, 3, 0x2AAAAAAAu, 2},
  };
  for (const auto& c : cases) {
    std::uint32_t x = c.dividend;
    EXPECT_EQ(idiv(&x, c.divisor), c.remainder);
    EXPECT_EQ(x, c.quotient);
  }
}

TEST(NumFmtDivision, SixtyFourByThirtyTwo) {
  struct Case {
    std::uint32_t high, low, divisor, quotient, remainder;
  };
  const Case cases[] = {
      {0, 100, 7, 14, 2},                              // high word zero
      {1, 0, 2, 0x80000000u, 0},                       // 2^32 / 2
      {1, 5, 3, 0x55555557u, 0},                       // (2^32 + 5) / 3
      {0x12345678u, 0x9ABCDEF0u, 0x12345679u, 0xFFFFFFFAu, 0x07F6E5C6u},
  };
  for (const auto& c : cases) {
    std::uint32_t low = c.low;
    EXPECT_EQ(idiv_skip(&low, c.high, c.divisor), c.remainder) << c.high << ":" << c.low;
    EXPECT_EQ(low, c.quotient);
  }
}

TEST(NumFmtDivision, ZeroDivisorTraps) {
  std::uint32_t x = 5;
  EXPECT_THROW(idiv(&x, 0), std::domain_error);
  EXPECT_EQ(x, 5u);
  EXPECT_THROW(idiv_skip(&x, 0, 0), std::domain_error);
  EXPECT_THROW(idiv_skip(&x, 1, 0), std::domain_error);
}

}  // namespace
}  // namespace zema
