// The display buffer: column and line counting, folding at ⎕PW with the
// six-blank indent, units that never split, routing to the log, the
// session or a capture area (quote doubling, overflow near the stack).
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "host/charset.h"
#include "interpreter/engine/sysvars.h"
#include "interpreter/output/display.h"
#include "interpreter/output/numfmt.h"
#include "interpreter/reader/tokeniser.h"
#include "interpreter/workspace/errors.h"
#include "interpreter/workspace/symtab.h"
#include "test_workspace.h"

namespace zema {
namespace {

using test::CaptureTask;
using test::CurrentTask;
using test::TestWorkspace;

std::string in(const std::string& utf8) { return utf8_to_internal(utf8); }

class Display : public ::testing::Test, public test::SessionFixture {
 protected:
  Display() : SessionFixture(30) {}
  void set_state(std::uint16_t bits) { zema::set_state(bits, 0, ws); }
  int column() const { return rdi16(ws, hdr::OutColumn); }
  int lines() const { return rd16(ws, hdr::OutLineCount); }
  // What the session received, as UTF-8 with a new line for each carriage return.
  std::string shown() const {
    std::string s = internal_to_utf8(task.output);
    for (char& c : s)
      if (c == '\r') c = '\n';
    return s;
  }
  void print(const std::string& utf8) { ldprt(in(utf8), ws); }
  // Prints a number with a separating blank (unless last) as one unit.
  void print_unit(std::int32_t n, bool last) {
    fmtint(n, ws);
    if (!last) fmtce(kBlank, hdr::TextChars + static_cast<std::uint32_t>(rdi16(ws, hdr::TextCount)), ws);
    ldism(ws);
  }
};

// ---- folding ------------------------------------------------------------------

TEST_F(Display, FortyCharactersAtWidthThirty) {
  print("ABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789abcd");
  EXPECT_EQ(column(), 16);
  cdisp(kCarriageReturn, ws);
  EXPECT_EQ(shown(), "ABCDEFGHIJKLMNOPQRSTUVWXYZ0123\n      456789abcd\n");
  EXPECT_EQ(column(), 0);
  EXPECT_EQ(lines(), 2);
}

TEST_F(Display, FoldsEveryTimeTheColumnReachesTheWidth) {
  struct Case {
    int pw;
    int length;
    const char* shown;
  };
  const Case cases[] = {
      {30, 30, "xxxxxxxxxxxxxxxxxxxxxxxxxxxxxx\n"},  // a full line does not fold
      {30, 31, "xxxxxxxxxxxxxxxxxxxxxxxxxxxxxx\n      x\n"},
      {30, 70,
       "xxxxxxxxxxxxxxxxxxxxxxxxxxxxxx\n      xxxxxxxxxxxxxxxxxxxxxxxx\n      xxxxxxxxxxxxxxxx\n"},
      {10, 15, "xxxxxxxxxx\n      xxxx\n      x\n"},
      {8, 8, "xxxxxxxx\n"},
  };
  for (const auto& c : cases) {
    task.output.clear();
    set_pw(c.pw);
    print(std::string(static_cast<std::size_t>(c.length), 'x'));
    cdisp(kCarriageReturn, ws);
    EXPECT_EQ(shown(), c.shown) << c.length << " at ⎕PW " << c.pw;
  }
}

// Blanks are ordinary characters: one at the width is carried onto the
// continuation line, and blanks before the carriage return are kept.
TEST_F(Display, TrailingBlanksAreKept) {
  print(std::string(30, 'x') + "  ");
  cdisp(kCarriageReturn, ws);
  print("ab   ");
  cdisp(kCarriageReturn, ws);
  EXPECT_EQ(shown(), std::string(30, 'x') + "\n        \nab   \n");
}

TEST_F(Display, NoFoldWhenAsked) {
  wr8(ws, hdr::OutputBits, outbits::NoFold);
  print(std::string(40, 'x'));
  EXPECT_EQ(shown(), std::string(40, 'x'));
  EXPECT_EQ(column(), 40);
}

TEST_F(Display, FoldKeepsCountingLines) {
  print(std::string(65, 'x'));
  EXPECT_EQ(lines(), 2);
  EXPECT_EQ(column(), 6 + 11);
  cdispo(ws);
  EXPECT_EQ(lines(), 3);
  EXPECT_EQ(column(), 6);
}

// ---- units ----------------------------------------------------------------------

TEST_F(Display, NumberUnitBreaksBeforeReachingWidth) {
  struct Case {
    int column;
    std::int32_t number;
    const char* shown;
  };
  const Case cases[] = {
      {24, 12345, "........................12345"},       // 29 < 30: stays
      {25, 12345, ".........................\n      12345"},  // 30 reaches ⎕PW
      {26, -7, "..........................¯7"},
      {28, -7, "............................\n      ¯7"},
      {0, -2147483648, "¯2147483648"},
  };
  for (const auto& c : cases) {
    task.output.clear();
    wr16(ws, hdr::OutColumn, 0);
    print(std::string(static_cast<std::size_t>(c.column), '.'));
    fmtint(c.number, ws);
    ldism(ws);
    EXPECT_EQ(shown(), c.shown) << "at column " << c.column;
  }
}

TEST_F(Display, NumericVectorNeverSplitsANumber) {
  for (int n = 100; n <= 109; ++n) print_unit(n, n == 109);
  cdisp(kCarriageReturn, ws);
  // 100-106 take 28 columns; "107 " would reach 32.
  EXPECT_EQ(shown(), "100 101 102 103 104 105 106 \n      107 108 109\n");
}

TEST_F(Display, UnitLongerThanTheRoomFoldsInside) {
  set_pw(10);
  print("ab");
  fmtint(-2147483647, ws);
  ldism(ws);
  EXPECT_EQ(shown(), "ab\n      ¯214\n      7483\n      647");
}

TEST_F(Display, UnitIsNotMovedAfterAttentionOrOverflow) {
  const std::uint16_t states[] = {st::AttentionSeen, st::CaptureOverflow};
  for (std::uint16_t s : states) {
    task.output.clear();
    wr16(ws, hdr::State, s);
    wr16(ws, hdr::OutColumn, 0);
    print(std::string(28, '.'));
    fmtint(123, ws);
    ldism(ws);
    // The unit is not moved as a whole; the character fold still applies.
    EXPECT_EQ(shown(), std::string(28, '.') + "12\n      3") << s;
  }
  wr16(ws, hdr::State, 0);
  wr8(ws, hdr::OutputBits, outbits::NoFold);
  task.output.clear();
  wr16(ws, hdr::OutColumn, 0);
  print(std::string(28, '.'));
  fmtint(123, ws);
  ldism(ws);
  EXPECT_EQ(shown(), std::string(28, '.') + "123");
}

// ---- small printers ---------------------------------------------------------------

TEST_F(Display, MessagesBlanksAndDroppedCharacter) {
  const std::uint8_t message[] = {3, 0x61, 0x62, 0x63, 0x77};  // "ABC", then something else
  EXPECT_EQ(erprt(message, ws), message + 1);
  const std::uint8_t empty[] = {0, 0x61};
  EXPECT_EQ(erprt(empty, ws), empty + 1);
  sixsp(ws);
  pspace(ws);
  cdisp(kDroppedChar, ws);
  cdisp(0x62, ws);
  EXPECT_EQ(shown(), "ABC       B");
  EXPECT_EQ(column(), 11);
}

// ---- routing ---------------------------------------------------------------------

TEST_F(Display, LogOnlySendsNothingButCountsColumns) {
  wr8(ws, hdr::OutputBits, outbits::LogOnly);
  print("ABCDE");
  EXPECT_EQ(task.output, "");
  EXPECT_EQ(column(), 5);
  cdisp(kCarriageReturn, ws);
  EXPECT_EQ(column(), 0);
  EXPECT_EQ(lines(), 1);
}

TEST_F(Display, OneLineShowsOnlyTheCaretLine) {
  wr8(ws, hdr::OutputBits, outbits::OneLine);
  wr16(ws, hdr::CaretLine, 1);
  print("AAA");
  cdisp(kCarriageReturn, ws);
  print("BBB");
  cdisp(kCarriageReturn, ws);
  print("CCC");
  std::string s = shown();
  EXPECT_NE(s.find("BBB"), std::string::npos);
  EXPECT_EQ(s.find('A'), std::string::npos);
  EXPECT_EQ(s.find('C'), std::string::npos);
  EXPECT_EQ(column(), 3);
}

// ---- capture ----------------------------------------------------------------------

class DisplayCapture : public Display {
 protected:
  std::uint32_t area = kHeapStart + 16;
  void SetUp() override {
    Display::SetUp();
    wr32(ws, hdr::CaptureAddress, area);
  }
  std::uint32_t cursor() const { return rd32(ws, hdr::CaptureAddress); }
  std::string captured() const {
    return internal_to_utf8(std::string(reinterpret_cast<const char*>(ws + area), cursor() - area));
  }
  std::uint32_t stack() const { return rd32(ws, hdr::StackPointer); }
};

TEST_F(DisplayCapture, StoresInsteadOfSending) {
  set_state(st::Capturing);
  print(std::string(35, 'x'));
  cdisp(kCarriageReturn, ws);
  EXPECT_EQ(column(), 0);
  EXPECT_EQ(lines(), 1);
  cdisp(kDroppedChar, ws);
  print("It's");
  EXPECT_EQ(column(), 5);
  print(std::string(23, '.'));
  fmtint(123, ws);
  ldism(ws);
  EXPECT_EQ(task.output, "");
  // No folding, no unit moved, no stored carriage return; 0x01 is stored
  // like any character.
  EXPECT_EQ(captured(), std::string(35, 'x') + "\x01It's" + std::string(23, '.') + "123");
  EXPECT_EQ(column(), 31);
}

TEST_F(DisplayCapture, DoublesQuotesWhenAsked) {
  set_state(st::Capturing);
  wr8(ws, hdr::OutputBits, outbits::DoubleQuotes);
  print("'It''s'");
  EXPECT_EQ(captured(), "''It''''s''");
  EXPECT_EQ(column(), 11);
}

TEST_F(DisplayCapture, StoreBitCapturesSessionOutput) {
  wr8(ws, hdr::OutputBits, outbits::Store | outbits::NoFold);
  print(std::string(35, 'y'));
  cdisp(kCarriageReturn, ws);
  cdisp(kDroppedChar, ws);
  print("z");
  EXPECT_EQ(task.output, "");
  EXPECT_EQ(captured(), std::string(35, 'y') + "\rz");
  EXPECT_EQ(lines(), 1);
  EXPECT_EQ(column(), 1);
}

TEST_F(DisplayCapture, OverflowNearTheStackIsWsFull) {
  area = stack() - 105;
  wr32(ws, hdr::CaptureAddress, area);
  set_state(st::Capturing);
  try {
    print("ABCDEFGHIJ");
    FAIL() << "no WS FULL";
  } catch (const AplError& e) {
    EXPECT_EQ(e.code, E_WS_FULL);
  }
  // Four characters fit; the fifth came within 100 bytes and was taken back.
  EXPECT_EQ(captured(), "ABCD");
  EXPECT_EQ(stack() - cursor(), 101u);
  EXPECT_TRUE(rd8(ws, hdr::OutputBits) & outbits::Overflowed);
  EXPECT_EQ(rd16(ws, hdr::State) & (st::Capturing | st::CaptureOverflow), 0);
  EXPECT_EQ(rd16(ws, hdr::ErrorCode), E_WS_FULL);
  EXPECT_EQ(column(), 0);
}

TEST_F(DisplayCapture, QuietOverflowCutsTheTextOff) {
  struct Case {
    std::uint16_t state;
    std::uint8_t bits;
  };
  const Case cases[] = {{st::Capturing, outbits::Store},
                        {st::Capturing | st::Copying, 0},
                        {0, outbits::Store | outbits::NoFold}};
  for (const auto& c : cases) {
    area = stack() - 105;
    wr32(ws, hdr::CaptureAddress, area);
    wr16(ws, hdr::State, c.state);
    wr8(ws, hdr::OutputBits, c.bits);
    print("ABCDEFGHIJ");
    EXPECT_EQ(captured(), "ABCD") << c.state;
    EXPECT_TRUE(rd8(ws, hdr::OutputBits) & outbits::Overflowed);
    EXPECT_EQ(rd16(ws, hdr::State), c.state | st::CaptureOverflow);
  }
}

TEST_F(DisplayCapture, DoubledQuoteAtTheLimit) {
  area = stack() - 103;
  wr32(ws, hdr::CaptureAddress, area);
  set_state(st::Capturing);
  wr8(ws, hdr::OutputBits, outbits::Store | outbits::DoubleQuotes);
  print("A'B");
  // A and the first quote fit; the second quote and B are taken back.
  EXPECT_EQ(captured(), "A'");
}

// ---- names ---------------------------------------------------------------------------

TEST_F(Display, NamesShortAndLong) {
  // ⎕PP: fixed entry 2, a packed three-character name.
  std::uint32_t cursor = 0;
  EXPECT_EQ(fmtnam(sysvar_token(sysvar::PP), &cursor, ws), 3);
  EXPECT_EQ(internal_to_utf8(std::string(text_buffer(ws))), "⎕PP");
  EXPECT_EQ(cursor, hdr::TextChars + 3);

  wr32(ws, hdr::TokenAreaLimit, rd32(ws, hdr::StackPointer));
  std::string name = in("LONGNAME∆");
  std::memcpy(ws + kNameBuffer, name.data(), name.size());
  std::uint32_t first_free = 0, found = 0;
  ASSERT_EQ(symfnd(first_free, found, static_cast<std::uint32_t>(name.size()), ws), 1);
  std::uint32_t rel = syment(first_free, static_cast<std::uint32_t>(name.size()), ws);
  std::memset(ws + hdr::TextChars, 0x55, 30);
  EXPECT_EQ(fmtnam(token_of_table_offset(rel), &cursor, ws), 9);
  EXPECT_EQ(internal_to_utf8(std::string(text_buffer(ws))), "LONGNAME∆");

  print(std::string(22, '.'));
  ldisn(token_of_table_offset(rel), ws);
  EXPECT_EQ(shown(), std::string(22, '.') + "\n      LONGNAME∆");
}

// ---- listing token lines ------------------------------------------------------

class DisplayListing : public Display {
 protected:
  void SetUp() override {
    Display::SetUp();
    set_pw(80);
  }
  // Tokenises a line; the token line stays in the kill slot.
  std::uint32_t tokenise(const std::string& utf8) {
    std::string text = in(utf8);
    EXPECT_EQ(lexcal(reinterpret_cast<const std::uint8_t*>(text.data()), static_cast<std::uint32_t>(text.size()), ws),
              4)
        << utf8;
    return rd32(ws, hdr::KillSlot);
  }
  std::string listed(const std::string& utf8) {
    std::uint32_t line = tokenise(utf8);
    task.output.clear();
    ldis(line, ws);
    return shown();
  }
};

TEST_F(DisplayListing, BlanksOnlyWhereNeeded) {
  struct Case {
    const char* typed;
    const char* listed;
  };
  const Case cases[] = {
      {"X ← 1 + 2", "X←1+2"},
      {"L1:X←'It''s'⋄:If A=1", "L1:X←'It''s' ⋄ :If A=1"},
      {"A B  C", "A B C"},
      {"X 1", "X 1"},
      {"1 X", "1 X"},
      {"X'a'", "X 'a'"},
      {"'a' 'b'", "'a' 'b'"},
      {"⍴ ⍴ X [ 1 ; 2 ]", "⍴⍴X[1;2]"},
      {"⍬ ≡ ⍳ 0", "⍬≡⍳0"},
      {"⌷ ⍤ ⍥ ⍷", "⌷⍤⍥⍷"},
      {"\"a\"\"b\" , 'c'", "\"a\"\"b\",'c'"},
      {"''", "''"},
      {"⎕IO ← 0", "⎕IO←0"},
      {"⎕ ← X", "⎕←X"},
      {"⎕ X", "⎕ X"},
      {"→ L1", "→L1"},
      {":if x ⋄ :ENDIF", ":If x ⋄ :EndIf"},
      {":While A<3⋄:Leave⋄:EndWhile", ":While A<3 ⋄ :Leave ⋄ :EndWhile"},
      {"X A :In B", "X A :In B"},
      {"A :In B", "A:In B"},  // one name before the colon: a label
      {":For I :In ⍳3", ":For I :In ⍳3"},
      {"X ⋄ ⋄ Y", "X ⋄ Y"},
  };
  for (const auto& c : cases) EXPECT_EQ(listed(c.typed), std::string(c.listed) + "\n") << c.typed;
  EXPECT_EQ(column(), 0);
}

TEST_F(DisplayListing, NumbersFromTheirValues) {
  struct Case {
    const char* typed;
    const char* listed;
  };
  const Case cases[] = {
      {"X←1 0 1 1", "X←1 0 1 1"},
      {"1 0 1 0 1 0 1 0 1 0 1 0 1 0 1 0 1 0 1 0 1 0 1 0 1 0 1 0 1 0 1 0 1 1",
       "1 0 1 0 1 0 1 0 1 0 1 0 1 0 1 0 1 0 1 0 1 0 1 0 1 0 1 0 1 0 1 0 1 1"},
      {"¯5   10 2147483647 ¯2147483648", "¯5 10 2147483647 ¯2147483648"},
      {"X←0.1", "X←0.1"},
      {"0.3333333333333333", "0.333333333333333"},
      {"1.50 ¯2.25E¯7 1E20", "1.5 ¯2.25E¯7 1E20"},
      {"2.0 2.5", "2 2.5"},
      {"X+00012", "X+12"},
  };
  wr32(ws, sysvar_value_word(sysvar::PP), 3);  // ⎕PP 3 does not matter
  for (const auto& c : cases) EXPECT_EQ(listed(c.typed), std::string(c.listed) + "\n") << c.typed;
  EXPECT_EQ(rd16(ws, hdr::State) & st::ListDigits, 0);
}

TEST_F(DisplayListing, Comments) {
  struct Case {
    const char* typed;
    const char* listed;
  };
  const Case cases[] = {
      {"X ⍝ note", "X ⍝ note"},
      {"X   ⍝ note  ", "X   ⍝ note"},
      {"X⍝note", "X ⍝note"},
      {"  ⍝ note  ", "⍝ note"},
      {":Else ⍝ c", ":Else ⍝ c"},
      {":Else⍝c", ":Else ⍝c"},
      {"X ⋄ ⍝ c", "X ⍝ c"},
      {"X←'⍝' ⍝ 'q'", "X←'⍝' ⍝ 'q'"},
  };
  for (const auto& c : cases) EXPECT_EQ(listed(c.typed), std::string(c.listed) + "\n") << c.typed;
}

TEST_F(DisplayListing, ControlStructureIndentation) {
  struct Case {
    const char* typed;
    std::uint16_t depth;
    bool header;
    const char* listed;
  };
  const Case cases[] = {
      {"X←1", 0, false, "X←1"},
      {"X←1", 1, false, "  X←1"},
      {"X←1", 3, false, "      X←1"},
      {"X←1", 2, true, "X←1"},
      {"⍝ note", 2, false, "⍝ note"},     // a comment alone is not indented
      {"L:⍝ note", 2, false, "    L:⍝ note"},
      {"⍝ a ⋄ X", 1, false, "⍝ a ⋄ X"},  // the comment takes the rest of the line
  };
  for (const auto& c : cases) {
    std::uint32_t line = tokenise(c.typed);
    wr16(ws, line + tl::CsDepth, c.depth);
    if (c.header) wr8(ws, line + tl::Marks, rd8(ws, line + tl::Marks) | 0x04);
    task.output.clear();
    ldis(line, ws);
    EXPECT_EQ(shown(), std::string(c.listed) + "\n") << c.typed << " depth " << c.depth;
  }
}

TEST_F(DisplayListing, LongFormStatementsListAlike) {
  set_state(st::ExecuteRunning);
  std::uint32_t line = tokenise("L:X←1 2 ⋄ Y←'ab' ⋄ Z←X⍝c");
  ASSERT_EQ(rd16(ws, line + tl::Body), 0xFFFF);
  task.output.clear();
  ldis(line, ws);
  EXPECT_EQ(shown(), "L:X←1 2 ⋄ Y←'ab' ⋄ Z←X ⍝c\n");
}

TEST_F(DisplayListing, UnitsFoldAtPrintWidth) {
  set_pw(30);
  EXPECT_EQ(listed("X←100 200 300 400 500 600 700 800"), "X←100 200 300 400 500 600 \n      700 800\n");
  EXPECT_EQ(listed(std::string(26, 'A') + "←" + std::string(8, 'B')),
            std::string(26, 'A') + "←\n      " + std::string(8, 'B') + "\n");
}

// The column and line of the token being executed: counted from the right
// end of the statement that holds the line cursor.
TEST_F(DisplayListing, RecordsWhereTheExecutingTokenStarts) {
  struct Case {
    const char* typed;
    int statement;  // holding the line cursor
    std::uint32_t taken;
    int column;
    int line;
  };
  const Case cases[] = {
      {"X←1+Y", 0, 1, 4, 0},
      {"X←1+Y", 0, 2, 3, 0},
      {"X←1+Y", 0, 5, 0, 0},
      {"A←1 ⋄ B←2÷0", 1, 2, 9, 0},
      {"A←1 ⋄ B←2÷0", 0, 3, 0, 0},
      {"L:X←1 2 3+'ab'", 0, 3, 4, 0},
      {"X←Y ⍝ c", 0, 2, 2, 0},  // the comment is a token too
      {"AAAAAAAAAAAAAAAAAAAAAAAAAA←BBBBBBBB", 0, 1, 6, 1},   // the name moves as a unit
      {"X←'aaaaaaaaaaaaaaaaaaaaaaaaaa',Y", 0, 2, 6, 1},  // "," falls at the width
  };
  set_pw(30);
  for (const auto& c : cases) {
    std::uint32_t line = tokenise(c.typed);
    // Line cursor: an offset inside the chosen statement.
    std::uint32_t off = tl::Body;
    for (int i = 0; i < c.statement; ++i) off += rd8(ws, line + off) | (rd8(ws, line + off + 1) << 8);
    wr32(ws, hdr::LineCursor, off + 3);
    wr32(ws, hdr::TokensTaken, c.taken);
    wr16(ws, hdr::CaretColumn, 0x7777);
    wr16(ws, hdr::CaretLine, 0x7777);
    wr16(ws, hdr::OutLineCount, 0);
    ldis(line, ws);
    EXPECT_EQ(rdi16(ws, hdr::CaretColumn), c.column) << c.typed << " taken " << c.taken;
    EXPECT_EQ(rdi16(ws, hdr::CaretLine), c.line) << c.typed << " taken " << c.taken;
  }
}

TEST_F(DisplayListing, NothingRecordedOutsideTheCurrentStatement) {
  std::uint32_t line = tokenise("A←1 ⋄ B←2");
  wr32(ws, hdr::LineCursor, 0x7FFF);
  wr32(ws, hdr::TokensTaken, 1);
  wr16(ws, hdr::CaretColumn, 0x7777);
  ldis(line, ws);
  EXPECT_EQ(rd16(ws, hdr::CaretColumn), 0x7777);
}

// A comment that opens a statement keeps its blanks only when the line was
// fixed from text; the listing shows them only while capturing.
TEST_F(DisplayListing, OpeningCommentBlanksOnlyWhileCapturing) {
  set_state(st::FixingText);
  std::uint32_t line = tokenise("  ⍝ c");
  wr16(ws, hdr::State, 0);
  task.output.clear();
  ldis(line, ws);
  EXPECT_EQ(shown(), "⍝ c\n");

  std::uint32_t area = rd32(ws, hdr::HeapTop) + 64;
  wr32(ws, hdr::CaptureAddress, area);
  set_state(st::Capturing);
  ldis(line, ws);
  EXPECT_EQ(internal_to_utf8(std::string(reinterpret_cast<const char*>(ws + area), rd32(ws, hdr::CaptureAddress) - area)),
            "  ⍝ c");
}

}  // namespace
}  // namespace zema
