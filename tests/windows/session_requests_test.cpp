// The session window's ⎕CC and cursor requests on a real text control: each
// code's effect on the text and the caret, the face and colour of output
// that follows, the form feed of a cleared session under hard copy, and
// output written over the line after the caret moved left.
#include <gtest/gtest.h>

#include <QTest>

#include <string>
#include <vector>

#include "components/rich_edit.h"
#include "tests/windows/window_fixture.h"
#include "windows/session_window.h"

namespace zema {
namespace {

using testing_support::WindowFixture;

class SessionRequestsTest : public WindowFixture {
 protected:
  TAPLSessionWin* Make() {
    APLShell* shell = NewShell();
    auto* w = new TAPLSessionWin("myapp", TaskOf(shell));
    w->print_hard_copy = [this](const std::string& t) { printed.push_back(t); };
    shell->AddWindowToShell(w);
    shell->session_window = w;
    windows_.push_back(w);
    w->show();
    EXPECT_TRUE(QTest::qWaitForWindowExposed(w));
    return w;
  }
  // `marked` is the text with '|' where the caret goes.
  static void Load(TAPLSessionWin* w, const std::string& marked) {
    const std::size_t bar = marked.find('|');
    std::string text = marked;
    text.erase(bar, 1);
    w->Contents->SetTextBuf(text.c_str());
    w->Contents->SetSelectionRange(static_cast<int>(bar), static_cast<int>(bar));
  }
  // The text with '|' at the caret; a selection shows as "[…]".
  static std::string Marked(TAPLSessionWin* w) {
    int start = 0, end = 0;
    w->Contents->GetSelectionRange(start, end);
    std::string t = w->Contents->Text();
    if (start != end) return t.insert(end, "]").insert(start, "[");
    return t.insert(static_cast<std::size_t>(w->Contents->Caret()), "|");
  }

  std::vector<std::string> printed;
};

struct CodeCase {
  int code;
  const char* before;
  const char* after;
};

TEST_F(SessionRequestsTest, CodesEditTheTextAndMoveTheCaret) {
  const CodeCase cases[] = {
      {9, "ab\rc|d", "ab\rc|d"},  // not a request
      {0, "ab\rc|d", "ab\rc|d"},
      {8, "ab\rc|d", "ab\rc|d"},
      {100, "ab\rc|d", "ab\rc|d"},
      {109, "ab\rc|d", "ab\rc|d"},
      {-1, "ab\rc|d", "ab\rc|d"},
      {2, "ab\rc|d", "|ab\rcd"},
      {3, "ab\rcd|e", "ab\r|cde"},
      {4, "abcd\rxy|z", "ab|cd\rxyz"},
      {4, "ab|c\rx", "ab|c\rx"},             // the first line has none above
      {4, "a\rxyz|", "a  |\rxyz"},           // a shorter line above is padded
      {5, "abc|\rx", "abc\rx  |"},
      {5, "ab|", "ab\r  |"},                 // below the last line: a new one
      {5, "ab\r|", "ab\r\r|"},               // from the empty line after a line end
      {6, "abc|", "ab|c"},
      {6, "ab\r|c", "ab\r|c"},               // at the start of a line it stays
      {7, "a|bc", "ab|c"},
      {7, "ab|", "ab |"},                    // past the end: a blank
      {10, "ab|cd\ref", "ab|\ref"},
      {10, "ab|\ref", "ab|\ref"},
      {11, "ab|cd\ref", "ab|"},
      {16, "ab\rcd|ef\rg", "ab\rg |"},
      {16, "ab\rcd|", "ab\r  |"},            // the last line: its text goes
      {17, "ab\rcd|e", "ab\r  |\rcde"},
      {17, "|ab", "|\rab"},
      {18, "ab|cd", "ab|d"},
      {18, "ab|\rcd", "ab|cd"},              // a line end is a character too
      {18, "ab|", "ab|"},
      {19, "ab|cd", "ab| cd"},
      {19, "|", "| "},
  };
  TAPLSessionWin* w = Make();
  for (const CodeCase& c : cases) {
    Load(w, c.before);
    w->QuadCC(c.code, false);
    EXPECT_EQ(Marked(w), c.after) << "code " << c.code << " on " << c.before;
  }
  EXPECT_TRUE(printed.empty());
}

// A request that edits the caret's line leaves it remembered as it now
// stands: putting the line back restores no deleted text.
TEST_F(SessionRequestsTest, EditedLineIsRememberedAsItNowStands) {
  TAPLSessionWin* w = Make();
  w->AppendSession("one\ntwo\n");
  w->CursorAdd(1, 0);
  w->QuadCC(10, false);  // delete to the end of the line
  EXPECT_EQ(w->line_no, 0);
  EXPECT_EQ(w->line_text, "o");
  w->RestoreLine();
  EXPECT_EQ(w->Contents->Text(), "o\rtwo\r");
  w->QuadCC(16, false);  // delete the line: "two" moves up under the caret
  w->RestoreLine();
  EXPECT_EQ(w->Contents->Text(), "two\r");
}

TEST_F(SessionRequestsTest, ClearPrintsAFormFeedOnlyUnderHardCopy) {
  TAPLSessionWin* w = Make();
  w->AppendSession("one\ntwo\n");
  w->QuadCC(1, false);
  EXPECT_EQ(w->Contents->GetTextLen(), 0);
  EXPECT_TRUE(printed.empty());
  w->AppendSession("three\n");
  w->QuadCC(1, true);
  EXPECT_EQ(w->Contents->GetTextLen(), 0);
  EXPECT_EQ(printed, std::vector<std::string>{"\f"});
  // Output goes on from the start of the emptied text.
  w->AppendSession("four\n");
  EXPECT_EQ(w->Contents->Text(), "four\r");
}

TEST_F(SessionRequestsTest, ColourCodesSetTheColourOfLaterOutput) {
  const std::int32_t colours[] = {0x000000, 0xFFFFFF, 0x0000FF, 0x008000, 0xFF0000, 0xFFFF00, 0x000080, 0x00FFFF};
  TAPLSessionWin* w = Make();
  w->AppendSession("x");
  const std::int32_t before = w->Contents->GetTextColour(0);
  for (int code = 101; code <= 108; ++code) {
    w->QuadCC(code, false);
    EXPECT_EQ(w->output_colour, colours[code - 101]) << "code " << code;
    w->AppendSession("y");
    const int last = w->Contents->GetTextLen() - 1;
    EXPECT_EQ(w->Contents->GetTextColour(last), colours[code - 101]) << "code " << code;
  }
  EXPECT_EQ(w->Contents->GetTextColour(0), before);  // text already shown keeps its colour
  // The error colour still wins while it is on.
  w->SetErrorColour(true);
  w->AppendSession("e");
  EXPECT_EQ(w->Contents->GetTextColour(w->Contents->GetTextLen() - 1), pref_number("session_error_message_color"));
}

TEST_F(SessionRequestsTest, FaceCodesApplyToLaterOutputOnly) {
  struct Face {
    int on, off, bit;
  };
  const Face faces[] = {{29, 30, face_underline}, {36, 37, face_bold}, {38, 39, face_italic}};
  for (const Face& f : faces) {
    TAPLSessionWin* w = Make();
    w->AppendSession("a");
    w->QuadCC(f.on, false);
    w->AppendSession("b");
    w->QuadCC(f.off, false);
    w->AppendSession("c");
    EXPECT_EQ(w->Contents->Text(), "abc");
    EXPECT_EQ(w->Contents->GetTextStyle(0) & f.bit, 0) << "code " << f.on;
    EXPECT_EQ(w->Contents->GetTextStyle(1) & f.bit, f.bit) << "code " << f.on;
    EXPECT_EQ(w->Contents->GetTextStyle(2) & f.bit, 0) << "code " << f.off;
  }
}

TEST_F(SessionRequestsTest, FacesCombineAndASelectionIsNotRestyled) {
  TAPLSessionWin* w = Make();
  w->AppendSession("abc");
  w->Contents->SetSelectionRange(0, 2);
  w->QuadCC(36, false);
  w->QuadCC(38, false);
  EXPECT_EQ(w->Contents->GetTextStyle(0), 0);
  w->AppendSession("d");
  EXPECT_EQ(w->Contents->GetTextStyle(3), face_bold | face_italic);
  w->QuadCC(37, false);
  w->AppendSession("e");
  EXPECT_EQ(w->Contents->GetTextStyle(4), face_italic);
}

TEST_F(SessionRequestsTest, BeepCodeBeeps) {
  TAPLSessionWin* w = Make();
  const int beeps = w->Contents->beep_count;
  w->QuadCC(35, false);
  EXPECT_EQ(w->Contents->beep_count, beeps + 1);
  w->QuadCC(34, false);
  EXPECT_EQ(w->Contents->beep_count, beeps + 1);
}

struct CursorCase {
  const char* before;
  int column, line;
  const char* after;
};

TEST_F(SessionRequestsTest, CursorRequestsPlaceTheCaretPaddingAsNeeded) {
  const CursorCase cases[] = {
      {"abc\rde|f", 1, 0, "a|bc\rdef"},
      {"abc\rde|f", 0, -1, "abc\r|def"},        // −1: the caret's line
      {"abc\rd|ef", 5, -1, "abc\rdef  |"},
      {"ab|c", 3, 0, "abc|"},
      {"|", 3, 0, "   |"},
      {"|", 0, 2, "\r\r|"},
      {"|", 2, 1, "\r  |"},
      {"ab\r|", 1, 3, "ab\r\r\r |"},
      {"abc\rdef|", -4, 0, "|abc\rdef"},        // a negative column is 0
      {"abc\rdef|", 1, -3, "a|bc\rdef"},        // another negative line is 0
      {"abc\rd|e\rf", 1, 1, "abc\rd|e\rf"},
  };
  TAPLSessionWin* w = Make();
  for (const CursorCase& c : cases) {
    Load(w, c.before);
    w->CursorAdd(c.column, c.line);
    EXPECT_EQ(Marked(w), c.after) << "(" << c.column << ", " << c.line << ") on " << c.before;
  }
}

TEST_F(SessionRequestsTest, CursorFarBelowATenLineSessionAppendsLinesAndStopsAtColumn254) {
  TAPLSessionWin* w = Make();
  std::string text;
  for (int i = 0; i < 10; ++i) text += "line " + std::to_string(i) + "\n";
  w->AppendSession(text.c_str());
  const std::string before = w->Contents->Text();
  w->CursorAdd(300, 40);
  const std::string after = w->Contents->Text();
  ASSERT_EQ(after.substr(0, before.size()), before);
  EXPECT_EQ(after.substr(before.size()), std::string(30, '\r') + std::string(254, ' '));
  EXPECT_EQ(w->Contents->Caret(), w->Contents->GetTextLen());
  EXPECT_EQ(w->Contents->CharToLineNum(w->Contents->Caret()), 40);
  // Cursor up from there keeps the column, padding the empty line above.
  w->QuadCC(4, false);
  EXPECT_EQ(w->Contents->CharToLineNum(w->Contents->Caret()), 39);
  EXPECT_EQ(w->Contents->LineLength(39), 254);
}

TEST_F(SessionRequestsTest, LinesBeyondTheLengthLimitAreNotMade) {
  TAPLSessionWin* w = Make();
  w->Contents->SetMaxLength(20);
  w->AppendSession("abc\n");
  w->CursorAdd(10, 1000000000);
  EXPECT_EQ(w->Contents->GetTextLen(), 20);
  EXPECT_EQ(w->Contents->Caret(), 20);
  // No room to pad: the caret stops at the line's end.
  Load(w, "|abc");
  w->CursorAdd(200, 0);
  EXPECT_EQ(Marked(w), "abc|");
}

TEST_F(SessionRequestsTest, OutputAfterCursorLeftOverwritesInPlace) {
  TAPLSessionWin* w = Make();
  w->AppendSession("abcdef\nnext");
  w->Contents->SetSelectionRange(6, 6);
  for (int i = 0; i < 3; ++i) w->QuadCC(6, false);
  EXPECT_EQ(w->Contents->Caret(), 3);
  w->overwrite = true;
  w->AppendSession("X");
  EXPECT_EQ(w->Contents->Text(), "abcXef\rnext");
  // Longer than the rest of the line: the rest is replaced, the remainder
  // inserted before the line end.
  w->AppendSession("YZW");
  w->overwrite = false;
  EXPECT_EQ(w->Contents->Text(), "abcXYZW\rnext");
  // Without the flag output goes to the end again.
  w->AppendSession("!");
  EXPECT_EQ(w->Contents->Text(), "abcXYZW\rnext!");
}

}  // namespace
}  // namespace zema
