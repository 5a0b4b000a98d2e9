// What the program's task hands to its session for the interpreter's
// output: line feeds keep the column, characters reach the session as the
// internal character set has them.
#include <gtest/gtest.h>

#include <string>

#include "host/charset.h"
#include "host/services.h"
#include "files/packaged.h"
#include "program/local_task.h"

namespace zema {
namespace {

// A task with a window whose session records text and requests in order:
// a request appears as "<cc N>" or "<cursor C,L>".
struct Recorder {
  std::string text;
  LocalTask::Front Front(bool window = true) {
    LocalTask::Front f;
    f.session_output = [this](const std::string& s) { text += s; };
    f.quad_cc = [this](int code) { text += "<cc " + std::to_string(code) + ">"; };
    f.cursor = [this](int column, int line) {
      text += "<cursor " + std::to_string(column) + "," + std::to_string(line) + ">";
    };
    f.window = window;
    return f;
  }
};

std::string shown(const std::string& internal) {
  Recorder r;
  LocalTask task(r.Front());
  task.WriteOutput(internal.data(), internal.size());
  task.FlushOutput();
  return r.text;
}

TEST(LocalTaskOutput, LineFeedGoesDownOneLineInTheSameColumn) {
  // The caret under an error: the line, a line feed, then the caret.
  EXPECT_EQ(shown(utf8_to_internal("ABC") + "\x0A" + utf8_to_internal("^")), "ABC\n   ^");
  // Cursor down (line feed with the top bit) as well; at column 0 no blanks.
  EXPECT_EQ(shown(utf8_to_internal("AB") + "\x8A" + utf8_to_internal("C")), "AB\n  C");
  EXPECT_EQ(shown(std::string("\x0A") + utf8_to_internal("C")), "\nC");
}

// Internal codes 0x80-0x9B between A and B: the controls are blanks except
// backspace and bell, which are session requests; the box characters show.
TEST(LocalTaskOutput, ControlCodesAndBoxCharacters) {
  const struct {
    int code;
    const char* seen;
  } cases[] = {
      {0x81, "A B"},         {0x8D, "A B"},          {0x9B, "A B"},
      {0x87, "A<cc 35>B"},   {0x88, "A<cc 6>B"},     {0x08, "A<cc 6>B"},
      {0x90, "A┌B"},         {0x9A, "A┬B"},          {0x0D, "A\nB"},
  };
  for (const auto& k : cases) {
    SCOPED_TRACE(k.code);
    EXPECT_EQ(shown(utf8_to_internal("A") + std::string(1, static_cast<char>(k.code)) + utf8_to_internal("B")),
              k.seen);
  }
}

// ⎕CC and cursor requests of the interpreter reach the session after the
// output before them; a task without a window takes them without effect;
// without a task they answer 88.
TEST(LocalTaskOutput, QuadCCAndCursorRequestsAsData) {
  EXPECT_EQ(quadcc(1), 88);
  EXPECT_EQ(cursor_add(3, 4), 88);
  Recorder r;
  LocalTask task(r.Front());
  set_current_apl_task(&task);
  const std::string ab = utf8_to_internal("AB");
  csend(ab[0]);
  EXPECT_EQ(quadcc(1), 0);
  csend(ab[1]);
  EXPECT_EQ(cursor_add(300, 40), 0);
  EXPECT_EQ(cursor_x(5), 0);
  set_current_apl_task(nullptr);
  EXPECT_EQ(r.text, "A<cc 1>B<cursor 254,40><cursor 5,-1>");

  Recorder quiet;
  LocalTask hidden(quiet.Front(false));
  set_current_apl_task(&hidden);
  EXPECT_EQ(quadcc(35), 0);
  EXPECT_EQ(cursor_add(1, 1), 0);
  set_current_apl_task(nullptr);
  EXPECT_EQ(quiet.text, "");
}

// A ⎕CC line goes to the window as text written over the current line
// (flushed apart from the output before it), never to the ⎕HC printer; a
// lone carriage return is dropped. Without a window nothing is sent.
TEST(LocalTaskOutput, QuadCCLineIsWrittenOverTheCurrentLine) {
  std::string seen;
  int printing_during_line = -1;
  LocalTask* current = nullptr;
  LocalTask::Front f;
  f.session_text = [&](const std::string& text, bool overwrite) {
    seen += (overwrite ? "[over:" : "[end:") + text + "]";
    if (overwrite) printing_during_line = current->hardCopyMode;
  };
  LocalTask task(f);
  current = &task;
  task.hardCopyMode = 1;
  set_current_apl_task(&task);
  const std::string ab = utf8_to_internal("AB");
  csend(ab[0]);
  csend(ab[1]);
  ascii_line_send("xy\rz");
  csend(ab[0]);
  task.FlushOutput();
  set_current_apl_task(nullptr);
  EXPECT_EQ(seen, "[end:AB][over:xyz][end:A]");
  EXPECT_EQ(printing_during_line, 0);
  EXPECT_EQ(task.hardCopyMode, 1);

  std::string none;
  LocalTask::Front g;
  g.session_text = [&](const std::string& text, bool) { none += text; };
  g.window = false;
  LocalTask hidden(g);
  set_current_apl_task(&hidden);
  ascii_line_send("xy");
  hidden.FlushOutput();
  set_current_apl_task(nullptr);
  EXPECT_EQ(none, "");
}

// The debugger's requests in a packaged application: stops are refused
// with FILE LOCKED; a step mode lasts until the next input request.
TEST(LocalTaskDebugger, StopsRefusedStepModeClearedAtInput) {
  Recorder r;
  LocalTask task(r.Front());
  EXPECT_EQ(task.SetStop("F", 1, true), 84);
  EXPECT_EQ(task.SetStop("F", 1, false), 84);
  task.SetStepMode(3);
  EXPECT_EQ(task.stepMode, 3);
  std::string line;
  EXPECT_EQ(task.ReadInputLine(line), APLTask::Input::Line);  // the first: )SLOAD pack
  set_startup_load_pending(false);
  EXPECT_EQ(task.stepMode, 0);
}

}  // namespace
}  // namespace zema
