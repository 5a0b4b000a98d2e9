// Numeric literals: correctly rounded values, the boolean/integer/float
// choice and its limits, the element encodings, the pre-scan, and
// conversion mode.
#include "interpreter/reader/numlit.h"

#include <gtest/gtest.h>

#include <bit>
#include <cfloat>
#include <cstdint>
#include <cstring>
#include <limits>
#include <string>
#include <vector>

#include "host/charset.h"
#include "interpreter/reader/entry_errors.h"
#include "interpreter/workspace/errors.h"
#include "interpreter/workspace/heap.h"
#include "interpreter/reader/tokeniser.h"
#include "test_workspace.h"

namespace zema {
namespace {

using test::TestWorkspace;

std::string internal(std::string_view utf8) { return utf8_to_internal(utf8); }

// The value of one number as scan_one_number reads it from the whole text.
ScannedNumber scan(const std::string& utf8) {
  std::string t = internal(utf8);
  std::size_t pos = 0;
  ScannedNumber r = scan_one_number(reinterpret_cast<const std::uint8_t*>(t.data()), t.size(), pos, 0);
  EXPECT_EQ(pos, t.size()) << utf8 << ": the number should take the whole text";
  return r;
}

std::uint64_t bits(double d) { return std::bit_cast<std::uint64_t>(d); }

// The single literal token of a one-statement line: its tag, its element
// bytes, its count.
struct Literal {
  std::uint8_t tag = 0;
  std::uint32_t count = 0;
  std::vector<std::uint8_t> elements;
};

Literal lex_literal(Ws ws, const std::string& utf8) {
  std::string t = internal(utf8);
  EXPECT_EQ(lexcal(reinterpret_cast<const std::uint8_t*>(t.data()), static_cast<std::uint32_t>(t.size()), ws), 4)
      << utf8;
  const std::uint32_t line = rd32(ws, hdr::KillSlot);
  const std::uint32_t s = line + tl::Body;
  const std::uint32_t len = rd8(ws, s) | (rd8(ws, s + 1) << 8);
  const std::uint32_t end = s + len;
  Literal lit;
  lit.tag = rd8(ws, end - 1);
  std::uint32_t cursor = end - 1;
  lit.count = get_count(ws, cursor);
  const std::uint32_t first = skpsl2(lit.tag, end - 1, ws);
  EXPECT_EQ(first, s + 3) << utf8 << ": the literal should be the statement's only token";
  lit.elements.assign(ws + first, ws + cursor);
  return lit;
}

std::vector<std::uint8_t> be64(double d) {
  std::vector<std::uint8_t> v(8);
  std::uint64_t b = bits(d);
  for (int i = 7; i >= 0; --i, b >>= 8) v[i] = static_cast<std::uint8_t>(b);
  return v;
}

std::vector<std::uint8_t> be32s(std::initializer_list<std::int32_t> xs) {
  std::vector<std::uint8_t> v;
  for (std::int32_t x : xs) {
    auto u = static_cast<std::uint32_t>(x);
    for (int s = 24; s >= 0; s -= 8) v.push_back(static_cast<std::uint8_t>(u >> s));
  }
  return v;
}

TEST(NumericLiteral, DecimalFractionsAreTheNearestDouble) {
  // The comparison values are the compiler's own (correctly rounded) reading.
  struct Case {
    const char* text;
    double nearest;
  };
  const Case cases[] = {
      {"0.1", 0.1},
      {"1.1", 1.1},
      {"123.456", 123.456},
      {"1E¯5", 1e-5},
      {"0.001", 0.001},
      {"0.3", 0.3},
      {"0.7", 0.7},
      {"3.14159265358979323846", 3.14159265358979323846},
      {"1.7976931348623157E308", 1.7976931348623157e308},
      {"2.2250738585072014E¯308", 2.2250738585072014e-308},
      {"¯0.1", -0.1},
      {"6.02214076e23", 6.02214076e23},
      {".5", 0.5},
      {"¯.25", -0.25},
      {"1.", 1.0},
      {"1234567890123456789012345", 1234567890123456789012345.0},
      {"0.000000000000000000000000000000000000001234", 1.234e-39},
  };
  for (const Case& c : cases) {
    ScannedNumber n = scan(c.text);
    EXPECT_EQ(bits(n.value), bits(c.nearest)) << c.text;
    EXPECT_TRUE(n.flags & nf::Float) << c.text;
  }
}

TEST(NumericLiteral, TiesAndDigitsBeyondTheMantissaRoundCorrectly) {
  const double two53 = 9007199254740992.0;
  struct Case {
    std::string text;
    double value;
  };
  const std::string zeros900(900, '0');
  const Case cases[] = {
      // Halfway between two doubles: ties go to the even one.
      {"9007199254740993", two53},
      {"9007199254740995", two53 + 4},
      // Just above halfway, told apart only by a late digit.
      {"9007199254740993.0000000000001", two53 + 2},
      {"9007199254740993." + zeros900 + "1", two53 + 2},
      // Exactly halfway with a long tail of zeros.
      {"9007199254740993." + zeros900, two53},
  };
  for (const Case& c : cases) EXPECT_EQ(bits(scan(c.text).value), bits(c.value)) << c.text.substr(0, 40);
}

TEST(NumericLiteral, OutOfRangeGivesLargestFiniteOrZero) {
  const std::string tiny = "0." + std::string(400, '0') + "1";
  const std::string huge = std::string(500, '7') + "E¯50";
  struct Case {
    std::string text;
    double value;
  };
  const Case cases[] = {
      {"1E400", DBL_MAX},
      {"¯1E400", -DBL_MAX},
      {"1E¯400", 0.0},
      {"¯1E¯400", 0.0},
      {"1E308000", DBL_MAX},
      {"1.8E308", DBL_MAX},
      {"¯1.8E308", -DBL_MAX},
      {"1E399", DBL_MAX},
      {"1E¯310", 1E-310},  // subnormal: kept, as results are
      {"4.9E¯324", std::numeric_limits<double>::denorm_min()},
      {"2E¯324", 0.0},  // below half the smallest subnormal
      {tiny, 0.0},
      {huge, DBL_MAX},
      {"0E500", 0.0},
      {"¯0", 0.0},
  };
  for (const Case& c : cases) {
    double v = scan(c.text).value;
    EXPECT_EQ(bits(v), bits(c.value)) << c.text.substr(0, 40);  // +0, never -0
  }
}

TEST(NumericLiteral, MantissaKeepsTheDigitsThatFit64Bits) {
  ScannedNumber n = scan("1234567890123456789012345");
  EXPECT_EQ(n.mantissa, 12345678901234567890ull);
  EXPECT_EQ(n.exponent, 5);
  EXPECT_TRUE(n.flags & nf::Float);
  n = scan("0.001");
  EXPECT_EQ(n.mantissa, 1u);
  EXPECT_EQ(n.exponent, -3);
  n = scan("12.50E2");
  EXPECT_EQ(n.mantissa, 1250u);
  EXPECT_EQ(n.exponent, 0);
}

TEST(NumericLiteral, ScanStopsWhereTheNumberEnds) {
  struct Case {
    const char* text;
    std::size_t stop;
    bool stray;
  };
  const Case cases[] = {
      {"1¯2", 1, true},   // ¯ inside a number
      {"1.2.3", 3, true}, // a second "."
      {"2E", 1, false},   // E not followed by a digit: handed back
      {"2e¯x", 1, false},
      {"2E¯3x", 4, false},
      {"1E5.3", 3, true}, // "." after the exponent
      {"¯", 0, true},
      {"¯x", 0, true},
      {".x", 0, true},
      {"12+", 2, false},
  };
  for (const Case& c : cases) {
    std::string t = internal(c.text);
    std::size_t pos = 0;
    ScannedNumber n = scan_one_number(reinterpret_cast<const std::uint8_t*>(t.data()), t.size(), pos, 0);
    EXPECT_EQ(pos, c.stop) << c.text;
    EXPECT_EQ((n.flags & nf::Stray) != 0, c.stray) << c.text;
  }
}

TEST(NumericLiteral, TypeChoiceAndLimits) {
  TestWorkspace t;
  Ws ws = t.ws();
  struct Case {
    const char* text;
    std::uint8_t tag;
  };
  const Case cases[] = {
      {"1 0 1", TT_BOOL},        {"00 001", TT_BOOL},        {"0", TT_BOOL},
      {"0 1 2", TT_INT},         {"¯1 0", TT_INT},           {"¯0", TT_INT},
      {"1 ¯2", TT_INT},          {"2147483647", TT_INT},     {"¯2147483648", TT_INT},
      {"2147483648", TT_FLOAT},  {"¯2147483649", TT_FLOAT},  {"1 0.5", TT_FLOAT},
      {"1E2", TT_FLOAT},         {"1.0", TT_FLOAT},          {"4294967297", TT_FLOAT},
      {"1 2 3 2147483648", TT_FLOAT}, {"0 1 ¯2147483648", TT_INT}, {"0001 1 0", TT_BOOL},
  };
  for (const Case& c : cases) EXPECT_EQ(lex_literal(ws, c.text).tag, c.tag) << c.text;
}

TEST(NumericLiteral, ElementEncodings) {
  TestWorkspace t;
  Ws ws = t.ws();
  Literal b = lex_literal(ws, "1 0 1");
  EXPECT_EQ(b.count, 3u);
  EXPECT_EQ(b.elements, (std::vector<std::uint8_t>{0xA0, 0, 0, 0}));

  // 33 booleans need a second word; the first element is the top bit.
  std::string many = "1";
  for (int i = 1; i < 32; ++i) many += " 0";
  many += " 1";
  b = lex_literal(ws, many);
  EXPECT_EQ(b.tag, TT_BOOL);
  EXPECT_EQ(b.count, 33u);
  EXPECT_EQ(b.elements, (std::vector<std::uint8_t>{0x80, 0, 0, 0, 0x80, 0, 0, 0}));

  Literal i = lex_literal(ws, "¯1 0");
  EXPECT_EQ(i.count, 2u);
  EXPECT_EQ(i.elements, be32s({-1, 0}));
  i = lex_literal(ws, "7 ¯2147483648 2147483647 00012");
  EXPECT_EQ(i.elements, be32s({7, INT32_MIN, INT32_MAX, 12}));

  Literal f = lex_literal(ws, "0.1 ¯2.5");
  EXPECT_EQ(f.count, 2u);
  std::vector<std::uint8_t> want = be64(0.1);
  std::vector<std::uint8_t> second = be64(-2.5);
  want.insert(want.end(), second.begin(), second.end());
  EXPECT_EQ(f.elements, want);
}

TEST(NumericLiteral, FastAndGeneralPathsAgreeOnIntegers) {
  // The same integers in a literal read by the 32-bit fast path and, made
  // float by a trailing 0.5, by the general path.
  TestWorkspace t;
  Ws ws = t.ws();
  const std::int32_t values[] = {0, 1, 2, -1, 9, 10, 99, -100, 65536, 123456789, INT32_MAX, INT32_MIN, -7};
  std::string text;
  for (std::int32_t v : values) text += (v < 0 ? "¯" + std::to_string(-static_cast<std::int64_t>(v)) : std::to_string(v)) + " ";
  Literal fast = lex_literal(ws, text);
  ASSERT_EQ(fast.tag, TT_INT);
  Literal general = lex_literal(ws, text + "0.5");
  ASSERT_EQ(general.tag, TT_FLOAT);
  ASSERT_EQ(general.count, fast.count + 1);
  for (std::uint32_t k = 0; k < fast.count; ++k) {
    std::int32_t iv = static_cast<std::int32_t>((fast.elements[4 * k] << 24) | (fast.elements[4 * k + 1] << 16) |
                                                (fast.elements[4 * k + 2] << 8) | fast.elements[4 * k + 3]);
    std::uint64_t fb = 0;
    for (int j = 0; j < 8; ++j) fb = (fb << 8) | general.elements[8 * k + j];
    EXPECT_EQ(iv, values[k]);
    EXPECT_EQ(std::bit_cast<double>(fb), static_cast<double>(values[k]));
  }
}

TEST(NumericLiteral, ShortFormLiteralStopsAt65535Numbers) {
  TestWorkspace t(2 * 1024 * 1024);
  Ws ws = t.ws();
  const std::uint32_t heap_top = rd32(ws, hdr::HeapTop);
  std::string text;
  for (int k = 0; k < 65535; ++k) text += "1 ";
  std::string in = internal(text);
  EXPECT_THROW(lexcal(reinterpret_cast<const std::uint8_t*>(in.data()), static_cast<std::uint32_t>(in.size()), ws),
               EntryAbandoned);
  EXPECT_EQ(rd16(ws, hdr::ErrorCode), E_SYSTEM_LIMIT);
  EXPECT_EQ(rd32(ws, hdr::KillSlot), 0u);
  EXPECT_EQ(rd32(ws, hdr::HeapTop), heap_top);
  EXPECT_TRUE(heap_consistent(ws));

  // One fewer fits; a long-form line (inside ⍎) has no such limit and
  // writes the count in 32 bits.
  Literal ok = lex_literal(ws, text.substr(2));
  EXPECT_EQ(ok.count, 65534u);
  set_state(st::ExecuteRunning, 0, ws);
  in = internal(text + "1 1 1");
  ASSERT_EQ(lexcal(reinterpret_cast<const std::uint8_t*>(in.data()), static_cast<std::uint32_t>(in.size()), ws), 4);
  const std::uint32_t line = rd32(ws, hdr::KillSlot);
  const std::uint32_t s = line + tl::Body;
  ASSERT_EQ(rd16(ws, s), 0xFFFF);
  const std::uint32_t end = s + rd32(ws, s + 2);
  std::uint32_t cursor = end - 1;
  EXPECT_EQ(get_count(ws, cursor), 65538u);
  EXPECT_EQ(skipsl(end, ws), s + tl::kLongHead);
}

TEST(NumericLiteral, ConversionModeWritesElementsOnly) {
  TestWorkspace t;
  Ws ws = t.ws();
  std::string in = internal("1 2 3 ⍝");
  LexCursor c;
  c.text = reinterpret_cast<const std::uint8_t*>(in.data());
  c.remaining = static_cast<std::uint32_t>(in.size());
  c.token = rd32(ws, hdr::HeapTop);
  wr32(ws, hdr::TokenAreaLimit, rd32(ws, hdr::StackPointer));
  wr8(ws, hdr::ResultBits, kConversionMode);
  const std::uint32_t start = c.token;
  EXPECT_EQ(do_numeric_scan(c, ws), NUM_NEXT);
  EXPECT_EQ(c.token, start + 12);  // three integers, no count, no tag
  EXPECT_EQ(std::vector<std::uint8_t>(ws + start, ws + start + 12), be32s({1, 2, 3}));
  EXPECT_EQ(rd32(ws, numhdr::Count), 3u);
  EXPECT_EQ(rd32(ws, numhdr::Start), start);
  EXPECT_EQ(rd8(ws, numhdr::Type), TT_INT);

  // Lack of room is the execution-time WS FULL, with the mode cleared.
  std::string big = internal("0.5 0.25 0.125 1 2 3 4 5 6 7 8 9");
  c.text = reinterpret_cast<const std::uint8_t*>(big.data());
  c.remaining = static_cast<std::uint32_t>(big.size());
  c.token = start;
  wr32(ws, hdr::TokenAreaLimit, start + 80);
  try {
    do_numeric_scan(c, ws);
    ADD_FAILURE() << "expected WS FULL";
  } catch (const AplError& e) {
    EXPECT_EQ(e.code, E_WS_FULL);
  }
  EXPECT_EQ(rd8(ws, hdr::ResultBits) & kConversionMode, 0);
}

}  // namespace
}  // namespace zema
