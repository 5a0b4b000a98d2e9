// The session window on real widgets: output and its trimming, ⎕PW from the
// width, Enter, recall and type-ahead driven by real key events, the faked
// lines, and single keys read from another thread.
#include <QKeyEvent>
#include <QTest>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include "components/rich_edit.h"
#include "platform/message_box.h"
#include "tests/windows/window_fixture.h"
#include "windows/session_window.h"

namespace zema {
namespace {

using testing_support::FakeTask;
using testing_support::WindowFixture;

std::string internal(const std::string& font_text) {
  std::string s;
  for (unsigned char c : font_text) s += static_cast<char>(fontin(c));
  return s;
}

class SessionWindowTest : public WindowFixture {
 protected:
  // A session window of a new shell's task, every submitted line kept in
  // `sent`; shown unless `hidden`.
  TAPLSessionWin* Make(bool hidden = false) {
    APLShell* shell = NewShell();
    task = TaskOf(shell);
    auto* w = new TAPLSessionWin("myapp", task);
    w->submit_line = [this](const std::string& line) {
      sent.push_back(line);
      return true;
    };
    shell->AddWindowToShell(w);
    shell->session_window = w;
    windows_.push_back(w);
    if (!hidden) {
      w->show();
      EXPECT_TRUE(QTest::qWaitForWindowExposed(w));
    }
    return w;
  }
  static std::string Text(TAPLSessionWin* w) { return w->Contents->Text(); }
  static std::string LastLine(TAPLSessionWin* w) {
    const std::string t = Text(w);
    return t.substr(t.rfind('\r') == std::string::npos ? 0 : t.rfind('\r') + 1);
  }
  static void Key(TAPLSessionWin* w, Qt::Key key, Qt::KeyboardModifiers mods = Qt::NoModifier) {
    QTest::keyClick(w->Contents, key, mods);
  }

  FakeTask* task = nullptr;
  std::vector<std::string> sent;
};

TEST_F(SessionWindowTest, ConstructedAsSessionWithExecutableTitleAndNoUndo) {
  TAPLSessionWin* w = Make(true);
  EXPECT_EQ(w->window_kind, kind_session);
  EXPECT_EQ(w->GetWindowTitle(), "myapp");
  EXPECT_FALSE(w->undo.undo_enabled);
  EXPECT_EQ(w->Contents->GetTextLen(), 0);
  EXPECT_EQ(w->Contents->MaxLength(), 20000000);
}

TEST_F(SessionWindowTest, HiddenWindowShowsAtFirstOutputThatIsNotBlank) {
  TAPLSessionWin* w = Make(true);
  w->AppendSession("   \n\r\n  \r");
  EXPECT_FALSE(w->isVisible());
  EXPECT_EQ(Text(w), "   \r\r  \r");
  w->AppendSession("  x\n");
  EXPECT_TRUE(w->isVisible());

  TAPLSessionWin* v = Make(true);
  v->InputRequested();
  EXPECT_TRUE(v->isVisible());
}

TEST_F(SessionWindowTest, ErrorOutputInErrorColourAfterFlushingPendingOutput) {
  TAPLSessionWin* w = Make();
  int flushes = 0;
  w->flush_output = [&] { ++flushes; };
  w->AppendSession("ok\n");
  w->SetErrorColour(true);
  w->SetErrorColour(true);  // no change: no flush
  w->AppendSession("DOMAIN ERROR\n");
  w->SetErrorColour(false);
  w->AppendSession("after\n");
  EXPECT_EQ(flushes, 2);
  EXPECT_EQ(w->Contents->GetTextColour(0), pref_number("session_apl_output_color"));
  EXPECT_EQ(w->Contents->GetTextColour(3), pref_number("session_error_message_color"));
  EXPECT_EQ(w->Contents->GetTextColour(16), pref_number("session_apl_output_color"));
  w->AcceptMsg(msg_apl_ready, 0, nullptr);
  w->AppendSession("      ");
  QTest::keyClicks(w->Contents, "a");
  EXPECT_EQ(w->Contents->GetTextColour(w->Contents->GetTextLen() - 1), pref_number("session_user_input_color"));
}

TEST_F(SessionWindowTest, OverwriteReplacesTheRestOfTheCaretLine) {
  TAPLSessionWin* w = Make();
  w->AppendSession("abcdef\nnext");
  w->Contents->SetSelectionRange(2, 2);
  w->overwrite = true;
  w->AppendSession("Q");
  EXPECT_EQ(Text(w), "abQdef\rnext");
  w->AppendSession("XYZW12");
  EXPECT_EQ(Text(w), "abQXYZW12\rnext");
}

TEST_F(SessionWindowTest, PrintWidthFollowsTheControlWidthWhenNotFixed) {
  Set("fixed_print_width: False");
  TAPLSessionWin* w = Make();
  int size = 4;
  for (; size < 40 && w->Contents->WidthOfM() != 8; ++size) w->Contents->SetFontSize(size);
  ASSERT_EQ(w->Contents->WidthOfM(), 8);
  struct Case {
    int control_width, pw;
  };
  for (const Case c : {Case{400, 49}, Case{100, 40}, Case{4000, 390}, Case{800, 99}}) {
    w->resize(w->width() + c.control_width - w->Contents->width(), w->height());
    QTest::qWait(1);
    ASSERT_EQ(w->Contents->width(), c.control_width);
    EXPECT_EQ(task->pw, c.pw) << c.control_width;
  }
}

TEST_F(SessionWindowTest, FixedPrintWidthIgnoresResizesAndAppliesAtMessage106) {
  Set("quad_pw: 100");
  TAPLSessionWin* w = Make();
  task->pw = 77;
  w->resize(w->width() + 200, w->height());
  QTest::qWait(1);
  w->AcceptMsg(msg_apl_busy, 0, nullptr);
  EXPECT_EQ(task->pw, 77);
  w->AcceptMsg(msg_print_width_changed, 0, nullptr);
  EXPECT_EQ(task->pw, 100);
}

// The line start of the line holding `pos` in a text of CR-ended lines.
std::size_t line_start(const std::string& t, std::size_t pos) {
  const std::size_t cr = pos == 0 ? std::string::npos : t.rfind('\r', pos - 1);
  return cr == std::string::npos ? 0 : cr + 1;
}

TEST_F(SessionWindowTest, TrimmingDeletesWholeLinesUpToTheLineHoldingAThird) {
  Set("session_length: 1000");  // below the validated minimum; set as is
  TAPLSessionWin* w = Make();
  int trims = 0;
  for (int i = 0; i < 600; ++i) {
    std::string line = "L" + std::to_string(i) + std::string(static_cast<std::size_t>(i % 13), '-');
    const std::string before = Text(w);
    std::string expected = before;
    if (static_cast<int>(before.size()) > 900) {
      expected = before.substr(line_start(before, before.size() / 3));
      ++trims;
    }
    expected += line + "\r";
    w->AppendSession((line + "\n").c_str());
    ASSERT_EQ(Text(w), expected) << "line " << i;
    ASSERT_LE(w->Contents->GetTextLen(), 1000);
  }
  EXPECT_GT(trims, 10);
  EXPECT_EQ(LastLine(w), "");
  EXPECT_EQ(Text(w).substr(Text(w).size() - 6), "L599-\r") << "output keeps flowing";
}

TEST_F(SessionWindowTest, OneEndlessLineIsCutToo) {
  Set("session_length: 1000");
  TAPLSessionWin* w = Make();
  for (int i = 0; i < 100; ++i) w->AppendSession("0123456789");
  EXPECT_LE(w->Contents->GetTextLen(), 1000);
  EXPECT_EQ(Text(w).substr(Text(w).size() - 10), "0123456789");
}

TEST_F(SessionWindowTest, TrimmingShiftsTheRememberedLineOrForgetsIt) {
  // 91 lines of 8 characters: 728 > 800 − 100, a third is 242, held by
  // line 30, so lines 0 to 29 go.
  Set("session_length: 800");
  struct Case {
    int line;       // the caret's line before the trim
    int expect_no;  // line_no after it
  };
  for (const Case c : {Case{70, 40}, Case{10, -1}, Case{30, 0}, Case{29, -1}}) {
    TAPLSessionWin* w = Make();
    std::string text;
    for (int i = 0; i < 91; ++i) text += "line" + std::to_string(100 + i) + "\n";
    w->AppendSession(text.c_str());
    ASSERT_EQ(w->Contents->GetTextLen(), 728);
    const int caret = w->Contents->LineToChar(c.line) + 2;
    w->Contents->SetSelectionRange(caret, caret);
    ASSERT_EQ(w->line_no, c.line);
    const std::string remembered = w->line_text;
    w->CheckSessionLength();
    ASSERT_EQ(w->Contents->GetTextLen(), 728 - 30 * 8);
    EXPECT_EQ(w->line_no, c.expect_no) << c.line;
    if (c.expect_no >= 0) {
      EXPECT_EQ(w->line_text, remembered);
    }
    // Restoring now puts back the line it names as it stands: no change.
    const std::string after = Text(w);
    w->RestoreLine();
    EXPECT_EQ(Text(w), after) << c.line;
  }
}

TEST_F(SessionWindowTest, EnterAtThePromptSendsTheBlanksToo) {
  TAPLSessionWin* w = Make();
  w->AppendSession("      ");
  w->AcceptMsg(msg_apl_ready, 0, nullptr);
  QTest::keyClicks(w->Contents, "2+2");
  Key(w, Qt::Key_Return);
  ASSERT_EQ(sent.size(), 1u);
  EXPECT_EQ(sent[0], internal("      2+2"));
  EXPECT_EQ(Text(w), "      2+2\r");
  EXPECT_EQ(w->recall[0], "2+2");
}

TEST_F(SessionWindowTest, ABlankLineIsSentButNotRecalled) {
  TAPLSessionWin* w = Make();
  w->AppendSession("      ");
  Key(w, Qt::Key_Return);
  ASSERT_EQ(sent.size(), 1u);
  EXPECT_EQ(sent[0], internal("      "));
  EXPECT_EQ(w->recall_next, 0);
  w->AppendSession("      ");
  Key(w, Qt::Key_Up, Qt::ControlModifier);
  EXPECT_EQ(LastLine(w), "      ");
}

TEST_F(SessionWindowTest, ALongLineIsSentWholeOrRefusedVisibly) {
  TAPLSessionWin* w = Make();
  w->AppendSession("      ");
  std::string typed;
  for (int i = 0; i < 594; ++i) typed += static_cast<char>('a' + i % 26);
  QTest::keyClicks(w->Contents, QString::fromLatin1(typed.c_str()));
  Key(w, Qt::Key_Return);
  ASSERT_EQ(sent.size(), 1u);
  EXPECT_EQ(sent[0].size(), 600u);
  EXPECT_EQ(sent[0], internal("      " + typed));

  std::vector<MessageBoxRequest> boxes;
  set_message_box_hook([&](const MessageBoxRequest& r) {
    boxes.push_back(r);
    return 1;
  });
  w->input_line_limit = 100;
  w->AppendSession("      ");
  QTest::keyClicks(w->Contents, QString::fromLatin1(typed.c_str()));
  const std::string before = Text(w);
  Key(w, Qt::Key_Return);
  set_message_box_hook(nullptr);
  EXPECT_EQ(sent.size(), 1u) << "a line over the limit is not sent, cut or whole";
  ASSERT_EQ(boxes.size(), 1u);
  EXPECT_EQ(boxes[0].caption, "ZEMA Error");
  EXPECT_EQ(Text(w), before);
}

// Enter away from the prompt: the line sent, and the session after it (the
// old line put back, the sent line repeated at the end).
TEST_F(SessionWindowTest, EnterAwayFromThePromptSendsTheLineAndRepeatsIt) {
  struct Case {
    const char* why;
    const char* output;
    int sel_start, sel_end;
    const char* typed;
    const char* before_enter;  // null: not checked
    const char* line_sent;
    const char* after;
  } cases[] = {
      {"an edited old line replaces the prompt line", "      1+1\n2\n      ", 9, 9, "0", "      1+10\r2\r      ",
       "      1+10", "      1+1\r2\r      1+10\r"},
      {"without a prompt at the end the line goes on a new line", "      1+1\n2\n      1+10\n20", 2, 2, "X",
       nullptr, "  X    1+1", "      1+1\r2\r      1+10\r20\r  X    1+1\r"},
      {"a selection is sent and its line left as it was", "abc def\n      ", 4, 7, "", nullptr, "def",
       "abc def\r      def\r"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.why);
    TAPLSessionWin* w = Make();
    sent.clear();
    w->AppendSession(c.output);
    w->Contents->SetSelectionRange(c.sel_start, c.sel_end);
    if (*c.typed) QTest::keyClicks(w->Contents, c.typed);
    if (c.before_enter) {
      EXPECT_EQ(Text(w), c.before_enter);
    }
    Key(w, Qt::Key_Return);
    ASSERT_EQ(sent.size(), 1u);
    EXPECT_EQ(sent[0], internal(c.line_sent));
    EXPECT_EQ(Text(w), c.after);
  }
}

TEST_F(SessionWindowTest, RecallBackAndForthOverAHundredLines) {
  TAPLSessionWin* w = Make();
  Key(w, Qt::Key_Up, Qt::ControlModifier);  // nothing entered yet
  EXPECT_EQ(Text(w), "");
  for (int i = 0; i < 105; ++i) {
    w->AppendSession("      ");
    QTest::keyClicks(w->Contents, QString::fromLatin1(("x" + std::to_string(i)).c_str()));
    Key(w, Qt::Key_Return);
  }
  ASSERT_EQ(sent.size(), 105u);
  w->AppendSession("      ");
  Key(w, Qt::Key_Down, Qt::ControlModifier);  // nothing recalled yet: nothing
  EXPECT_EQ(LastLine(w), "      ");
  QTest::keyClicks(w->Contents, "junk");
  for (int back = 1; back <= 100; ++back) {
    Key(w, Qt::Key_Up, Qt::ControlModifier);
    ASSERT_EQ(LastLine(w), "      x" + std::to_string(105 - back)) << back;
  }
  Key(w, Qt::Key_Up, Qt::ControlModifier);  // the ring holds 100: round again
  EXPECT_EQ(LastLine(w), "      x104");
  for (int fwd = 1; fwd <= 3; ++fwd) {
    Key(w, Qt::Key_Up, Qt::ControlModifier);
    Key(w, Qt::Key_Up, Qt::ControlModifier);
    Key(w, Qt::Key_Down, Qt::ControlModifier);
    EXPECT_EQ(LastLine(w), "      x" + std::to_string(104 - fwd));
  }
  const std::string session = Text(w);
  EXPECT_EQ(std::count(session.begin(), session.end(), '\r'), 105) << "no line added by recall";
  Key(w, Qt::Key_Return);
  EXPECT_EQ(sent.back(), internal("      x101"));

  task->state = 0x2000;  // ⍞ input: no recall
  w->AppendSession("      ");
  Key(w, Qt::Key_Up, Qt::ControlModifier);
  EXPECT_EQ(LastLine(w), "      ");
}

TEST_F(SessionWindowTest, FakeSyscmdQuotesThePath) {
  TAPLSessionWin* w = Make();
  std::vector<std::pair<std::string, bool>> selected;
  w->file_selected = [&](const std::string& p, bool ws) { selected.emplace_back(p, ws); };
  struct Case {
    const char* command;
    const char* path;
    const char* line;
    bool workspace;
  };
  const Case cases[] = {
      {")LOAD ", "/a/it's", ")LOAD '/a/it''s'", true},
      {")SSAVE ", "/b/''x", ")SSAVE '/b/''''x'", true},
      {")COPY ", "/c/plain", ")COPY '/c/plain'", false},
  };
  for (const Case& c : cases) {
    w->FakeSyscmd(internal(c.command).c_str(), c.path, ".aws");
    ASSERT_FALSE(sent.empty());
    EXPECT_EQ(sent.back(), internal(c.line)) << c.line;
    EXPECT_EQ(selected.back(), std::make_pair(std::string(c.path), c.workspace));
  }
  const std::size_t n = sent.size();
  w->FakeSyscmd(internal(")LOAD ").c_str(), "", "");
  EXPECT_EQ(sent.size(), n) << "an empty path sends nothing";
}

TEST_F(SessionWindowTest, FakeInputLineTakesThePromptAway) {
  TAPLSessionWin* w = Make();
  w->AppendSession("out\n      ");
  w->FakeInputLine(internal(")OFF").c_str());
  ASSERT_EQ(sent.size(), 1u);
  EXPECT_EQ(sent[0], internal(")OFF"));
  EXPECT_EQ(Text(w), "out\r");
  w->AppendSession("x");
  w->FakeInputLine("y");
  EXPECT_EQ(Text(w), "out\rx");
}

TEST_F(SessionWindowTest, TypeAheadWaitsForTheNextPromptLineByLine) {
  TAPLSessionWin* w = Make();
  task->awaiting = false;
  QTest::keyClicks(w->Contents, "1+1");
  Key(w, Qt::Key_Return);
  QTest::keyClicks(w->Contents, "2+2");
  EXPECT_EQ(Text(w), "");
  EXPECT_EQ(w->TypeaheadCount(), 7);
  task->awaiting = true;
  w->AppendSession("      ");
  w->AcceptMsg(msg_apl_ready, 0, nullptr);
  ASSERT_EQ(sent.size(), 1u);
  EXPECT_EQ(sent[0], internal("      1+1"));
  w->AppendSession("2\n      ");
  w->AcceptMsg(msg_apl_ready, 0, nullptr);
  EXPECT_EQ(sent.size(), 1u);
  EXPECT_EQ(Text(w), "      1+1\r2\r      2+2");
  EXPECT_EQ(w->TypeaheadCount(), 0);

  task->awaiting = false;
  const int beeps = w->Contents->beep_count;
  for (int i = 0; i < 101; ++i) Key(w, Qt::Key_A);
  EXPECT_EQ(w->TypeaheadCount(), 100);
  EXPECT_EQ(w->Contents->beep_count, beeps + 1) << "the 101st key beeps and is lost";
}

TEST_F(SessionWindowTest, KeystrokesReadFromTheTaskThreadAreNeitherLostNorDoubled) {
  TAPLSessionWin* w = Make();
  task->awaiting = false;
  const int n = 2000;
  std::vector<int> got;
  std::thread reader([&] {
    for (int i = 0; i < n; ++i) got.push_back(w->GetOneKeystroke());
  });
  std::string typed;
  for (int i = 0; i < n; ++i) {
    while (w->TypeaheadCount() >= TAPLSessionWin::kTypeaheadSize) std::this_thread::yield();
    const char c = static_cast<char>('a' + i % 26);
    typed += c;
    QTest::keyClick(w->Contents, c);
  }
  reader.join();
  ASSERT_EQ(got.size(), static_cast<std::size_t>(n));
  for (int i = 0; i < n; ++i) ASSERT_EQ(got[i], fontin(static_cast<unsigned char>(typed[i]))) << i;
  EXPECT_EQ(w->Contents->beep_count, 0);
  EXPECT_EQ(w->TypeaheadCount(), 0);
}

TEST_F(SessionWindowTest, CtrlPeriodEndsAWaitForAKey) {
  TAPLSessionWin* w = Make();
  task->awaiting = false;
  std::atomic<int> key{-1};
  std::thread reader([&] { key = w->GetOneKeystroke(); });
  std::this_thread::sleep_for(std::chrono::milliseconds(30));
  EXPECT_EQ(key.load(), -1);
  Key(w, Qt::Key_Period, Qt::ControlModifier);
  reader.join();
  EXPECT_EQ(key.load(), 0);
  EXPECT_TRUE(task->attnPending.load());

  int attentions = 0;
  w->attention = [&] { ++attentions; };
  Key(w, Qt::Key_Delete, Qt::ControlModifier);
  EXPECT_EQ(attentions, 1);
  EXPECT_EQ(w->TypeaheadCount(), 0) << "interrupt keys are not typed ahead";
}

// Exit while the task waits for a single key: the wait ends with no key
// (0), and no later wait starts.
TEST_F(SessionWindowTest, ClosedKeystrokesEndAWaitForAKey) {
  TAPLSessionWin* w = Make();
  task->awaiting = false;
  std::atomic<int> key{-1};
  std::thread reader([&] { key = w->GetOneKeystroke(); });
  std::this_thread::sleep_for(std::chrono::milliseconds(30));
  EXPECT_EQ(key.load(), -1);
  w->CloseKeystrokes();
  reader.join();
  EXPECT_EQ(key.load(), 0);
  EXPECT_FALSE(task->attnPending.load());
  EXPECT_EQ(w->GetOneKeystroke(), 0);
}

}  // namespace
}  // namespace zema
