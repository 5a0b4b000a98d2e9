// The default display of arrays: vectors and scalars, matrices with column
// widths (integers, floats on the point or in exponent form, booleans,
// characters, object references, ⎕CS 4), axis separation, folding, nested
// layouts with their gaps and alignment, the depth allowance, WS FULL, and
// the host's format_APL_array.
#include <gtest/gtest.h>

#include <algorithm>
#include <climits>
#include <cstring>
#include <string>
#include <vector>

#include "host/charset.h"
#include "interpreter/engine/sysvars.h"
#include "interpreter/output/display.h"
#include "interpreter/output/numfmt.h"
#include "interpreter/output/show.h"
#include "interpreter/workspace/errors.h"
#include "interpreter/workspace/heap.h"
#include "interpreter/workspace/stack.h"
#include "test_arrays.h"
#include "test_workspace.h"

namespace zema {
namespace {

using namespace test;

std::string in(const std::string& utf8) { return utf8_to_internal(utf8); }

class ShowTest : public ::testing::Test, public SessionFixture {
 protected:
  ShowTest() : SessionFixture(80) {}
  void set_cs(int cs) { wr32(ws, sysvar_value_word(sysvar::CS), static_cast<std::uint32_t>(cs)); }
  void set_state_bits(std::uint16_t bits) { set_state(bits, 0, ws); }

  // What the session received, as UTF-8 with a new line for each carriage return.
  std::string shown() const {
    std::string s = internal_to_utf8(task.output);
    for (char& c : s)
      if (c == '\r') c = '\n';
    return s;
  }
  // Places the array and displays it as a statement's value would be.
  std::string show(const ArrayImage& a) {
    task.output.clear();
    DisplayLine line;
    display_array(line, slot_of(ws, place(ws, a)), ws);
    return shown();
  }
};

// Padded to the width of a float field under ⎕PP 10 (⎕PP + 8 characters).
std::string field18(const std::string& s) { return s + std::string(18 - in(s).size(), ' '); }

int column_of(Ws ws) { return rdi16(ws, hdr::OutColumn); }

// ---- scalars and vectors ---------------------------------------------------------------

TEST_F(ShowTest, ScalarsAndVectors) {
  std::vector<int> bits(33, 0);
  bits[0] = bits[31] = bits[32] = 1;
  std::string bits_text = "1";
  for (int k = 1; k < 33; ++k) bits_text += bits[k] ? " 1" : " 0";
  struct Case {
    const char* what;
    ArrayImage value;
    std::string shown;
  };
  const Case cases[] = {
      {"mixed floats", float_vector({1, 2.5, -3}), "1 2.5 ¯3\n"},
      {"large float", float_scalar(12345678901.0), "1.23456789E10\n"},
      {"integer scalar", int_scalar(-42), "¯42\n"},
      {"integers", int_vector({0, 17, -2147483647 - 1}), "0 17 ¯2147483648\n"},
      {"booleans across a word", bool_vector(bits), bits_text + "\n"},
      {"characters", char_vector("Hello, ⍳⍴"), "Hello, ⍳⍴\n"},
      {"character scalar", char_scalar("⍝"), "⍝\n"},
      {"empty numeric vector", int_vector({}), "\n"},
      {"empty character vector", char_vector(""), "\n"},
      {"object references", objref_array({2}, {0, 7}), "[NULL OBJECT] [OBJ 7 NO INST???]\n"},
  };
  for (const auto& c : cases) EXPECT_EQ(show(c.value), c.shown) << c.what;
}

TEST_F(ShowTest, LongCharacterVectorContinuesAfterSixBlanks) {
  const std::string text(100, 'x');
  EXPECT_EQ(show(char_vector(text)), std::string(80, 'x') + "\n      " + std::string(20, 'x') + "\n");
}

TEST_F(ShowTest, NumericVectorNeverSplitsANumber) {
  set_pw(30);
  std::vector<std::int32_t> v;
  for (int n = 100; n <= 109; ++n) v.push_back(n);
  // "107 " would end at column 32: it starts the continuation line.
  EXPECT_EQ(show(int_vector(v)), "100 101 102 103 104 105 106 \n      107 108 109\n");
  set_pw(20);
  EXPECT_EQ(show(float_vector({1.25, 22.5, 333.75, 4444.5, 5.125})), "1.25 22.5 333.75 \n      4444.5 5.125\n");
}

// ---- matrices ------------------------------------------------------------------------------

TEST_F(ShowTest, IntegerColumnsAreRightAligned) {
  // Column 2 holds 5 and ¯10: three wide, after one blank.
  EXPECT_EQ(show(int_array({2, 3}, {1, 5, 100, 22, -10, 3})), " 1   5 100\n22 ¯10   3\n");
  EXPECT_EQ(show(int_array({3, 1}, {7, -1000000000, 12})), "          7\n¯1000000000\n         12\n");
}

TEST_F(ShowTest, FloatColumnsAlignOnThePoint) {
  EXPECT_EQ(show(float_array({3, 1}, {1.5, 10, 2.25})), " 1.5 \n10   \n 2.25\n");
  // Later columns after one blank; each column measured on its own.
  EXPECT_EQ(show(float_array({2, 2}, {1.5, 0.25, 10, 3})), " 1.5 0.25\n10   3   \n");
  // Any value in exponent form puts its column in exponent form: all
  // digits, a blank for the missing sign, the field ⎕PP + 8 wide.
  EXPECT_EQ(show(float_array({2, 2}, {1.5e10, 1, -2.5e-7, 2})),
            field18(" 1.500000000E10") + " 1\n" + field18("¯2.500000000E¯7") + " 2\n");
}

TEST_F(ShowTest, BooleanCharacterAndReferenceMatrices) {
  EXPECT_EQ(show(bool_array({2, 3}, {1, 0, 1, 0, 1, 1})), "1 0 1\n0 1 1\n");
  EXPECT_EQ(show(char_array({2, 3}, "abc⍺⍵ ")), "abc\n⍺⍵ \n");
  EXPECT_EQ(show(objref_array({2, 2}, {0, 3, 12, 4})),
            "      [NULL OBJECT] [OBJ 3 NO INST???]\n[OBJ 12 NO INST???] [OBJ 4 NO INST???]\n");
}

TEST_F(ShowTest, HigherRanksAddBlankLinesPerAxis) {
  EXPECT_EQ(show(int_array({2, 2, 2}, {1, 2, 3, 4, 5, 6, 7, 8})), "1 2\n3 4\n\n5 6\n7 8\n");
  EXPECT_EQ(show(int_array({2, 2, 1, 2}, {1, 2, 3, 4, 5, 6, 7, 8})), "1 2\n\n3 4\n\n\n5 6\n\n7 8\n");
  EXPECT_EQ(show(char_array({2, 1, 2}, "abcd")), "ab\n\ncd\n");
}

TEST_F(ShowTest, EmptyMatrixPrintsNothing) {
  for (const Shape& s : {Shape{0, 3}, Shape{2, 0}, Shape{2, 0, 3}}) {
    EXPECT_EQ(show(int_array(s, {})), "") << s.size();
    EXPECT_EQ(exprn(place(ws, char_array(s, "")), ws), 4);
  }
}

TEST_F(ShowTest, MatrixEndsAPartlyWrittenLineFirst) {
  const std::uint32_t value = place(ws, int_array({2, 1}, {1, 2}));
  ldprt(in("X:"), ws);
  DisplayLine line;
  display_array(line, slot_of(ws, value), ws);
  EXPECT_EQ(shown(), "X:\n1\n2\n");
}

TEST_F(ShowTest, UniformWidthsUnderQuadCS4) {
  set_cs(4);
  EXPECT_EQ(show(int_array({2, 2}, {1, 100, 22, 3})), "   1 100\n  22   3\n");
  EXPECT_EQ(show(bool_array({1, 2}, {1, 0})), " 1 0\n");
  // The point at the allowance taken from the smallest magnitude ("0.5": 5).
  EXPECT_EQ(show(float_array({2, 2}, {1.5, 100.25, 2, 0.5})),
            field18("   1.5") + field18(" 100.25") + "\n" + field18("   2") + field18("   0.5") + "\n");
  // A smallest value in exponent form puts everything in exponent form.
  EXPECT_EQ(show(float_array({1, 2}, {1e-7, -5})), field18("  1.000000000E¯7") + field18(" ¯5.000000000E0") + "\n");
  // A largest value whose point lies beyond the allowance does too.
  EXPECT_EQ(show(float_array({1, 2}, {0.5, 123456.5})),
            field18("  5.000000000E¯1") + field18("  1.234565000E5") + "\n");
  set_cs(3);
  EXPECT_EQ(show(int_array({2, 2}, {1, 100, 22, 3})), " 1 100\n22   3\n");
}

TEST_F(ShowTest, UnsupportedElementTypesAreNonce) {
  for (const ArrayImage& a : {raw_array(ET_WIDE16, {2}, 32), raw_array(ET_WIDE16, {1, 2}, 32)}) {
    task.output.clear();
    try {
      show(a);
      ADD_FAILURE() << "no error";
    } catch (const AplError& e) {
      EXPECT_EQ(e.code, E_NONCE);
    }
    EXPECT_EQ(shown(), "");
  }
}

// ---- the end of the line -------------------------------------------------------------------

TEST_F(ShowTest, LineEndingFlags) {
  const std::uint32_t value = place(ws, int_vector({1, 2}));
  struct Case {
    std::uint8_t output_bits;
    std::uint8_t multi;
    const char* shown;
  };
  const Case cases[] = {
      {0, 0, "1 2\n"},
      {outbits::NoFold, 0, "1 2"},
      {0, kMultiValue, "1 2"},
  };
  for (const auto& c : cases) {
    task.output.clear();
    wr16(ws, hdr::OutColumn, 0);
    wr8(ws, hdr::OutputBits, c.output_bits);
    wr8(ws, hdr::MultiDisplay, c.multi);
    DisplayLine line;
    display_array(line, slot_of(ws, value), ws);
    EXPECT_EQ(shown(), c.shown);
    EXPECT_EQ(line.width, 3);
    EXPECT_EQ(rd8(ws, hdr::OutputBits) & outbits::NoFold, 0) << "the request is cleared";
  }
  wr8(ws, hdr::MultiDisplay, 0);
}

TEST_F(ShowTest, AttentionStopsOutput) {
  set_state_bits(st::AttentionSeen);
  EXPECT_EQ(show(int_vector({1, 2, 3})), "\n");
  EXPECT_EQ(show(int_array({2, 2}, {1, 2, 3, 4})), "\n");
}

// ---- nested arrays ------------------------------------------------------------------------

TEST_F(ShowTest, NestedVectorsGapsAndBlanks) {
  struct Case {
    const char* what;
    ArrayImage value;
    std::string shown;
  };
  const Case cases[] = {
      // The layout keeps its final blank (the session drops it when shown).
      {"(1 2)(3 4)", nested_vector({int_vector({1, 2}), int_vector({3, 4})}), " 1 2  3 4 \n"},
      {"'ab' 'cd'", nested_vector({char_vector("ab"), char_vector("cd")}), " ab cd \n"},
      {"'a' 'b' (1 2)", nested_vector({char_scalar("a"), char_scalar("b"), int_vector({1, 2})}), " ab  1 2 \n"},
      {"1 'a' 2", nested_vector({int_scalar(1), char_scalar("a"), int_scalar(2)}), "1 a 2 \n"},
      {"2.5 (⍳0) 'x'", nested_vector({float_scalar(2.5), int_vector({}), char_scalar("x")}), " 2.5    x \n"},
      {"((1 2)(3 4)) 5", nested_vector({nested_vector({int_vector({1, 2}), int_vector({3, 4})}), int_scalar(5)}),
       "  1 2  3 4  5 \n"},
      // A laid-out nested item spaces as rank 0: one blank after its own final blank.
      {"'I' 'ID' ('IDE' 'IDEA')",
       nested_vector({char_scalar("I"), char_vector("ID"), nested_vector({char_vector("IDE"), char_vector("IDEA")})}),
       " I ID  IDE IDEA  \n"},
      {"⊂'ab'", nested_scalar(char_vector("ab")), " ab \n"},
      {"empty nested vector", nested_array({0}, {}), "\n"},
      {"empty nested matrix", nested_array({0, 2}, {}), ""},
  };
  for (const auto& c : cases) EXPECT_EQ(show(c.value), c.shown) << c.what;
}

TEST_F(ShowTest, NestedMatrixAlignment) {
  // A number and a character under it: the column holds a numeric scalar,
  // so the character is right-aligned.
  EXPECT_EQ(show(nested_array({2, 1}, {int_scalar(123), char_scalar("a")})), "123 \n  a \n");
  // A character vector and a character: left-aligned, after one blank.
  EXPECT_EQ(show(nested_array({2, 1}, {char_vector("xyz"), char_scalar("a")})), " xyz \n a   \n");
  // Number cells padded so that the fractions of a column line up; the gap
  // after a column is the largest rank + 1 of the items beside it.
  EXPECT_EQ(show(nested_array({2, 2}, {float_scalar(1.5), char_scalar("a"), int_scalar(10), int_vector({1, 2})})),
            "  1.5  a   \n 10    1 2 \n");
  // Any float of a column in exponent form: every number of it, unpadded.
  EXPECT_EQ(show(nested_array({2, 1}, {float_scalar(1e20), int_scalar(3)})), "1.000000000E20 \n 3.000000000E0 \n");
}

TEST_F(ShowTest, NestedRowsAndPlanesSeparatedByLinesOfBlanks) {
  // Items of rank 2 put one line of blanks between rows, as wide as the row.
  EXPECT_EQ(show(nested_array({2, 1}, {int_array({2, 2}, {1, 2, 3, 4}), int_vector({5, 6})})),
            " 1 2 \n 3 4 \n     \n 5 6 \n");
  // Vectors alone need none between rows; planes get one.
  EXPECT_EQ(show(nested_array({2, 1, 1}, {int_vector({1, 2}), int_vector({3, 4})})), " 1 2 \n     \n 3 4 \n");
  EXPECT_EQ(show(nested_array({2, 1}, {int_vector({1, 2}), int_vector({3, 4})})), " 1 2 \n 3 4 \n");
  // A rank-3 simple item keeps its blank line as a line of blanks.
  EXPECT_EQ(show(nested_vector({int_array({2, 1, 1}, {1, 2}), char_scalar("z")})), " 1    z \n        \n 2      \n");
}

TEST_F(ShowTest, NestedVectorFoldsAtPrintWidth) {
  set_pw(20);
  const std::string line = " abcde abcde abcde abcde ";
  const ArrayImage word = char_vector("abcde");
  EXPECT_EQ(show(nested_vector({word, word, word, word})), line.substr(0, 20) + "\n      " + line.substr(20) + "\n");
}

TEST_F(ShowTest, CarriageReturnAndQuotesInsideANestedItemKeepTheLayout) {
  ArrayImage text = char_vector("a-b");
  text.bytes[obj::Shape + 4 + 1] = kCarriageReturn;
  EXPECT_EQ(show(nested_vector({text, int_scalar(7)})), " a b 7 \n");
  // A capture that doubles quotes for its caller does not apply to the
  // layout's own rows.
  wr8(ws, hdr::OutputBits, outbits::DoubleQuotes);
  EXPECT_EQ(show(nested_array({2, 1}, {char_vector("'a'"), int_vector({1})})), " 'a' \n 1   \n");
  EXPECT_EQ(rd8(ws, hdr::OutputBits), outbits::DoubleQuotes);
}

TEST_F(ShowTest, DepthAllowanceIsOneHundredLevels) {
  set_pw(1000);
  const std::string edge(100, ' ');
  EXPECT_EQ(show(enclosed(int_vector({1, 2}), 100)), edge + "1 2" + edge + "\n");

  task.output.clear();
  const std::uint16_t state_before = rd16(ws, hdr::State);
  try {
    show(enclosed(int_vector({1, 2}), 101));
    ADD_FAILURE() << "no error";
  } catch (const AplError& e) {
    EXPECT_EQ(e.code, E_SYSTEM_LIMIT);
    EXPECT_EQ(rd16(ws, hdr::EtMajor), 1);
    EXPECT_EQ(rd16(ws, hdr::EtMinor), 10);
  }
  EXPECT_EQ(shown(), "");
  EXPECT_EQ(rd16(ws, hdr::State), state_before) << "capture is off again";
  EXPECT_EQ(rd8(ws, hdr::ResultBits) & kNestedLayout, 0);
  EXPECT_TRUE(heap_consistent(ws));
}

TEST_F(ShowTest, LayoutMeetingTheStackIsWsFull) {
  std::vector<ArrayImage> items(1000, int_scalar(1));
  const std::uint32_t value = place(ws, nested_vector(items));
  // Leave about 2,000 bytes free: the layout needs more than twice that.
  const std::uint32_t free = rd32(ws, hdr::StackPointer) - rd32(ws, hdr::HeapTop);
  place(ws, char_vector(std::string(free - 2000, 'f')));
  ASSERT_LT(rd32(ws, hdr::StackPointer) - rd32(ws, hdr::HeapTop), 2100u);
  const std::uint32_t slot = slot_of(ws, value);
  try {
    DisplayLine line;
    display_array(line, slot, ws);
    ADD_FAILURE() << "no error";
  } catch (const AplError& e) {
    EXPECT_EQ(e.code, E_WS_FULL);
  }
  EXPECT_EQ(task.output, "");
  EXPECT_EQ(rd16(ws, hdr::State) & (st::Capturing | st::CaptureOverflow), 0);
  EXPECT_TRUE(heap_consistent(ws));
}

TEST_F(ShowTest, HeapIsCompactedBeforeANestedLayout) {
  // The value slides down over a smaller released object, so its old place
  // lies where the layout is built: only the slot leads to the value.
  set_pw(10000);
  std::string text;
  for (int i = 0; i < 6000; ++i) text += static_cast<char>('a' + i % 26);
  const std::uint32_t filler = place(ws, char_vector(std::string(3000, 'f')));
  const std::uint32_t value = place(ws, nested_vector({char_vector(text), int_scalar(1)}));
  const std::uint32_t slot = slot_of(ws, value);
  wr32(ws, slot_of(ws, filler), 0);
  mgarb(filler, ws);
  ASSERT_GT(rdi32(ws, hdr::Garbage), rdi32(ws, hdr::GarbageLimit));
  DisplayLine line;
  display_array(line, slot, ws);
  EXPECT_EQ(shown(), " " + text + " 1 \n");
  EXPECT_EQ(rd32(ws, slot), filler) << "the value slid down into the released space";
  EXPECT_EQ(rd32(ws, hdr::Garbage), 0u);
  EXPECT_TRUE(heap_consistent(ws));
}

TEST_F(ShowTest, DisplayTreeNodes) {
  const std::uint32_t value = place(ws, nested_vector({int_scalar(5), char_vector("ab")}));
  const std::uint32_t matrix = place(ws, char_array({2, 2}, "abcd"));
  const std::uint32_t start = rd32(ws, hdr::HeapTop);
  const std::uint16_t state = rd16(ws, hdr::State);
  wr32(ws, hdr::CaptureAddress, start);
  wr16(ws, hdr::State, state | st::Capturing);
  wr8(ws, hdr::ResultBits, kNestedLayout);
  wr16(ws, hdr::DepthBudget, kDisplayDepth);
  const std::uint32_t node = make_display_array(value, ws);
  const std::uint32_t char_node = make_display_array(matrix, ws);
  wr16(ws, hdr::State, state);
  wr8(ws, hdr::ResultBits, 0);

  EXPECT_EQ(node, start);
  EXPECT_EQ(rd16(ws, node + dnode::Rank), 1);
  EXPECT_EQ(rd8(ws, node + dnode::NotChar), 1) << "'ab' is not a simple scalar";
  EXPECT_EQ(rd8(ws, node + dnode::NumScalar), 0);
  EXPECT_EQ(rd32(ws, node + dnode::Size), 24u);
  EXPECT_EQ(rd32(ws, node + dnode::TypeWord), 0x0004000Fu);
  EXPECT_EQ(rd32(ws, node + dnode::Shape), 2u);
  struct Item {
    std::uint32_t offset, rank, not_char, num_scalar, rows, cols;
    const char* text;
  };
  const Item items[] = {{24, 0, 1, 1, 1, 1, "5"}, {48, 1, 0, 0, 1, 2, "ab"}};
  for (std::uint32_t i = 0; i < 2; ++i) {
    const Item& e = items[i];
    EXPECT_EQ(rd32(ws, node + 16 + 4 * i), e.offset);
    const std::uint32_t it = node + e.offset;
    EXPECT_EQ(rd16(ws, it + dnode::Rank), e.rank);
    EXPECT_EQ(rd8(ws, it + dnode::NotChar), e.not_char);
    EXPECT_EQ(rd8(ws, it + dnode::NumScalar), e.num_scalar);
    EXPECT_EQ(rd32(ws, it + dnode::Size), 24u);
    EXPECT_EQ(rd32(ws, it + dnode::TypeWord), kCharNodeType);
    EXPECT_EQ(rd32(ws, it + dnode::Rows), e.rows);
    EXPECT_EQ(rd32(ws, it + dnode::Columns), e.cols);
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(ws + it + dnode::Chars), e.cols), in(e.text));
  }
  EXPECT_EQ(char_node, node + 72);
  EXPECT_EQ(rd32(ws, hdr::CaptureAddress), char_node + 24);

  // Printed to the session: the row of items, and a character node's rows.
  EXPECT_EQ(print_display_array(node, ws), 1);
  ptcr(ws);
  EXPECT_EQ(print_display_array(char_node, ws), 2);
  EXPECT_EQ(shown(), " 5 ab \nab\ncd");
  EXPECT_EQ(rd32(ws, hdr::CaptureAddress), char_node + 24) << "the column measures are given back";
}

// ---- the text-buffer helpers ----------------------------------------------------------------

TEST_F(ShowTest, FmtWidthCountsDigitsAndSign) {
  const std::pair<std::int32_t, int> cases[] = {{0, 1},         {9, 1},           {10, 2},       {-1, 2},      {-10, 3},
                                                {999999999, 9}, {1000000000, 10}, {INT_MAX, 10}, {INT_MIN, 11}};
  for (auto [v, w] : cases) EXPECT_EQ(fmt_width(v), w) << v;
}

TEST_F(ShowTest, TextBufferHelpers) {
  fmtflt(1.5e10, 0, ws);
  EXPECT_EQ(cke(ws), 0);
  fmtflt(2.5, 0, ws);
  EXPECT_EQ(cke(ws), 4);
  exnshf(ws);
  EXPECT_EQ(text_buffer(ws), in(" 2.5"));
  expadp1(6, ws);
  EXPECT_EQ(shown(), " 2.5  ");
  fmtint(-3, ws);
  expadp(ws);
  EXPECT_EQ(shown(), " 2.5  ¯3" + std::string(16, ' '));
  ptcr(ws);
  EXPECT_EQ(column_of(ws), 0);
}

// ---- the host's entry ----------------------------------------------------------------------

class ShowFormat : public ShowTest {
 protected:
  // The rows of a character-matrix node.
  std::vector<std::string> rows_of(const std::uint8_t* node) {
    std::uint32_t type, rows, cols, size;
    std::memcpy(&size, node + dnode::Size, 4);
    std::memcpy(&type, node + dnode::TypeWord, 4);
    std::memcpy(&rows, node + dnode::Rows, 4);
    std::memcpy(&cols, node + dnode::Columns, 4);
    EXPECT_EQ(type, kCharNodeType);
    EXPECT_EQ(size, (dnode::Chars + rows * cols + 3) & ~3u);
    std::vector<std::string> out;
    for (std::uint32_t r = 0; r < rows; ++r)
      out.push_back(internal_to_utf8(std::string(reinterpret_cast<const char*>(node) + dnode::Chars + r * cols, cols)));
    return out;
  }
  std::vector<std::string> format(const std::uint8_t* value) {
    const std::uint8_t* matrix = nullptr;
    EXPECT_EQ(format_APL_array(ws, value, &matrix), 0);
    if (!matrix) return {};
    return rows_of(matrix);
  }
};

TEST_F(ShowFormat, CharacterMatrixOfTheLayout) {
  using Rows = std::vector<std::string>;
  EXPECT_EQ(format(ws + place(ws, int_array({2, 3}, {1, 5, 100, 22, -10, 3}))), (Rows{" 1   5 100", "22 ¯10   3"}));
  EXPECT_EQ(format(ws + place(ws, nested_vector({int_vector({1, 2}), int_vector({3, 4})}))), (Rows{" 1 2  3 4 "}));
  EXPECT_EQ(format(ws + place(ws, float_vector({1, 2.5}))), (Rows{"1 2.5"}));
  EXPECT_EQ(format(ws + place(ws, int_array({0, 2}, {}))), (Rows{}));
  EXPECT_EQ(task.output, "") << "nothing reaches the session";
}

TEST_F(ShowFormat, ControlCharactersShowAsBlanks) {
  ArrayImage text = char_vector("a-b-c-d-e");
  const std::uint8_t controls[] = {0x0D, 0x85, 0x0A, 0x03};
  for (int i = 0; i < 4; ++i) text.bytes[obj::Shape + 4 + 1 + 2 * i] = controls[i];
  EXPECT_EQ(format(ws + place(ws, text)), (std::vector<std::string>{"a b c d e"}));
  ArrayImage matrix = char_array({2, 2}, "a-b-");
  matrix.bytes[obj::Shape + 8 + 1] = 0x08;
  matrix.bytes[obj::Shape + 8 + 3] = 0x8F;
  EXPECT_EQ(format(ws + place(ws, matrix)), (std::vector<std::string>{"a ", "b "}));
  EXPECT_EQ(rd8(ws, hdr::MiscBits) & (kHostLayout | kCompactLayout), 0);
}

TEST_F(ShowFormat, HostCopyWithCompactSpacing) {
  ArrayImage value = nested_array({2, 2}, {int_array({2, 2}, {1, 2, 3, 4}), char_scalar("a"), int_vector({5, 6}),
                                           char_scalar("b")});
  using Rows = std::vector<std::string>;
  // A copy in host memory, laid out as it is ...
  EXPECT_EQ(format(value.bytes.data()), (Rows{" 1 2   a ", " 3 4     ", "         ", " 5 6   b "}));
  // ... and, with bit 7 of its first byte, compactly: no lines of blanks
  // between rows, ranks counting as 1 in the gaps.
  value.bytes[0] |= 0x80;
  EXPECT_EQ(format(value.bytes.data()), (Rows{" 1 2  a ", " 3 4    ", " 5 6  b "}));
  EXPECT_TRUE(heap_consistent(ws));
}

TEST_F(ShowFormat, LeavesSessionStateAsItWas) {
  ldprt(in("ab"), ws);
  wr16(ws, hdr::EtMajor, 5);
  wr16(ws, hdr::EtMinor, 4);
  const std::uint32_t heap_top = rd32(ws, hdr::HeapTop);
  format(ws + place(ws, nested_vector({char_vector("xy"), int_scalar(1)})));
  EXPECT_EQ(column_of(ws), 2);
  EXPECT_EQ(rd16(ws, hdr::State) & st::Capturing, 0);
  EXPECT_EQ(rd8(ws, hdr::ResultBits) & kNestedLayout, 0);
  EXPECT_EQ(lowglobals(ws).attn_enabled, rd16(ws, hdr::AttnLevel)) << "attention back on";
  EXPECT_GT(rd32(ws, hdr::HeapTop), heap_top) << "only the placed value";

  // WS FULL is answered, not raised, and ⎕ET stays.
  const std::uint32_t free = rd32(ws, hdr::StackPointer) - rd32(ws, hdr::HeapTop);
  const std::uint32_t big = place(ws, char_vector(std::string(free / 2, 'q')));
  const std::uint8_t* matrix = nullptr;
  EXPECT_EQ(format_APL_array(ws, ws + big, &matrix), E_WS_FULL);
  EXPECT_EQ(matrix, nullptr);
  EXPECT_EQ(rd16(ws, hdr::EtMajor), 5);
  EXPECT_EQ(rd16(ws, hdr::EtMinor), 4);
  EXPECT_EQ(rd16(ws, hdr::State) & (st::Capturing | st::CaptureOverflow), 0);
}

TEST_F(ShowFormat, ErrorAnsweredKeepsTheLastReport) {
  // The last report, as the error path leaves it: a character vector owned
  // by its header word.
  const std::string report = in("DOMAIN ERROR\r      1÷0\r       ^");
  const auto n = static_cast<std::uint32_t>(report.size());
  const std::uint32_t message = getspc(8 + n, ws);
  wr8(ws, message + obj::Type, ET_CHAR);
  wr16(ws, message + obj::Rank4, 4);
  wr32(ws, message + obj::Shape, n);
  std::memcpy(ws + message + obj::Shape + 4, report.data(), n);
  wr32(ws, hdr::ErrorMessage, message);
  set_owner(message, hdr::ErrorMessage, OK_WORD, ws);
  wr16(ws, hdr::ErrorLine, 3);

  const std::uint32_t free = rd32(ws, hdr::StackPointer) - rd32(ws, hdr::HeapTop);
  const std::uint32_t big = place(ws, char_vector(std::string(free / 2, 'q')));
  const std::uint8_t* matrix = nullptr;
  ASSERT_EQ(format_APL_array(ws, ws + big, &matrix), E_WS_FULL);
  ASSERT_EQ(rd32(ws, hdr::ErrorMessage), message) << "⎕EM kept";
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(ws + message + obj::Shape + 4), n), report);
  EXPECT_EQ(rd16(ws, hdr::ErrorLine), 3);
  force_gcol(ws);
  EXPECT_TRUE(heap_consistent(ws));
  EXPECT_NE(rd32(ws, hdr::ErrorMessage), 0u) << "still owned after a compaction";
}

TEST_F(ShowFormat, RefusesWhileALineExecutes) {
  const std::uint32_t value = place(ws, nested_vector({int_vector({1, 2}), int_vector({3, 4})}));
  set_state_bits(st::Executing);
  const std::uint32_t top = rd32(ws, hdr::Top);
  const std::vector<std::uint8_t> before(ws - kLowGlobalsSize, ws + top);
  const std::uint8_t* matrix = nullptr;
  EXPECT_EQ(format_APL_array(ws, ws + value, &matrix), kFormatBusy);
  EXPECT_NE(kFormatBusy, 0);
  EXPECT_EQ(matrix, nullptr);
  EXPECT_TRUE(std::equal(before.begin(), before.end(), ws - kLowGlobalsSize)) << "nothing touched";
}

}  // namespace
}  // namespace zema
