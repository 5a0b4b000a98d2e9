// The front end's questions about a local task's workspace, asked from
// this (the "GUI") thread while the task's own thread waits for input.
#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <mutex>
#include <string>
#include <thread>

#include "host/charset.h"
#include "program/local_task.h"

namespace zema {
namespace {

using namespace std::chrono_literals;

class WorkspaceAccess : public ::testing::Test {
 protected:
  void SetUp() override {
    first_ = std::make_unique<LocalTask>(Front(true));  // takes the start-up load
    task_ = std::make_unique<LocalTask>(Front(false));
    ASSERT_TRUE(task_->AllocateTaskMemory(1e6));
    task_->Start();
  }
  void TearDown() override {
    ASSERT_TRUE(Waiting());
    ASSERT_TRUE(task_->ExecuteInputLine(utf8_line_to_internal(")OFF")));
    std::unique_lock<std::mutex> lock(m_);
    ASSERT_TRUE(cv_.wait_for(lock, 20s, [&] { return ended_; }));
    lock.unlock();
    task_->Join();
  }
  LocalTask::Front Front(bool window) {
    LocalTask::Front f;
    f.window = window;
    f.session_output = [this](const std::string& s) {
      std::lock_guard<std::mutex> lock(m_);
      text_ += s;
    };
    f.ended = [this](int) {
      std::lock_guard<std::mutex> lock(m_);
      ended_ = true;
      cv_.notify_all();
    };
    return f;
  }
  bool Waiting() {
    for (int i = 0; i < 2000 && !task_->IsAwaitingInput(); ++i) std::this_thread::sleep_for(5ms);
    return task_->IsAwaitingInput();
  }
  void Send(const char* line) {
    ASSERT_TRUE(Waiting());
    ASSERT_TRUE(task_->ExecuteInputLine(utf8_line_to_internal(line)));
    ASSERT_TRUE(Waiting());
  }
  // The session output of `line`.
  std::string Run(const char* line) {
    Send(line);
    std::lock_guard<std::mutex> lock(m_);
    std::string out;
    out.swap(text_);
    return out;
  }

  std::unique_ptr<LocalTask> first_, task_;
  std::mutex m_;
  std::condition_variable cv_;
  std::string text_;
  bool ended_ = false;
};

TEST_F(WorkspaceAccess, PutThenGetGivesTheMatrixBack) {
  ASSERT_TRUE(Waiting());
  EXPECT_EQ(task_->PutObject("M", 1, "AB  \nCDE\r\n⍳⍴X"), 0);
  EXPECT_EQ(Run("⍴M"), "3 4\n");
  EXPECT_EQ(Run("M[1;]≡'AB  '"), "1\n");
  std::string text;
  EXPECT_EQ(task_->GetObject("M", &text), 1);
  EXPECT_EQ(text, "M\nAB\nCDE\n⍳⍴X");
  // Replacing a variable's value; a final line end makes no empty row.
  EXPECT_EQ(task_->PutObject("M", 1, "Q\n"), 0);
  EXPECT_EQ(task_->GetObject("M", &text), 1);
  EXPECT_EQ(text, "M\nQ");
  EXPECT_EQ(Run("⍴M"), "1 1\n");
  // A new long name gets its symbol entry.
  EXPECT_EQ(task_->PutObject("LONGER_NAME", 1, "xyz"), 0);
  EXPECT_EQ(Run("LONGER_NAME"), "xyz\n");
}

TEST_F(WorkspaceAccess, ObjectsWithoutText) {
  Run("⎕FX 'R←F' 'R←1'");
  Run("V←1 2 3");
  Run("C←'ABC'");
  struct Case {
    const char* name;
    int kind;
  } cases[] = {
      {"NOSUCH", 0},  // no value yet: a new function, no text
      {"F", -1},      // a function's text is withheld
      {"V", -1},      // not a character matrix
      {"C", -1},      // a vector
      {"1X", -1},     // no name
      {"A B", -1},    // two names
      {"", -1},
  };
  for (const Case& c : cases) {
    std::string text = "stale";
    EXPECT_EQ(task_->GetObject(c.name, &text), c.kind) << c.name;
    EXPECT_EQ(text, "") << c.name;
  }
}

TEST_F(WorkspaceAccess, PutRefusals) {
  Run("⎕FX 'R←F' 'R←1'");
  struct Case {
    const char* name;
    int kind;
    const char* text;
    int code;
  } cases[] = {
      {"F", 0, "R←F\nR←2", 24},  // no functions fixed in a package
      {"F", 1, "AB", 8},         // a function's name
      {"X", 1, "", 20},
      {"1X", 1, "AB", 12},
      {"⎕IO", 1, "AB", 12},
      {"X", 2, "AB", 12},
  };
  for (const Case& c : cases) EXPECT_EQ(task_->PutObject(c.name, c.kind, c.text), c.code) << c.name;
  EXPECT_EQ(Run("F"), "1\n");
  EXPECT_EQ(Run("⎕NC 'X'"), "0\n");
}

TEST_F(WorkspaceAccess, StopLinesOfAFunction) {
  Run("⎕FX 'F' 'A←1' 'B←2' 'C←3' 'D←4'");
  Run("2 4 ⎕STOP 'F'");
  Run("V←1");
  bool lines[6] = {true, true, true, true, true, true};
  EXPECT_EQ(task_->GetStopLines("F", lines, 6), 0);
  const bool want[6] = {false, false, true, false, true, false};
  for (int i = 0; i < 6; ++i) EXPECT_EQ(lines[i], want[i]) << i;
  EXPECT_EQ(task_->GetStopLines("F", lines, 4), 20);  // lines 1-3 fit, line 4 does not
  EXPECT_EQ(task_->GetStopLines("F", lines, 5), 0);
  EXPECT_EQ(task_->GetStopLines("V", lines, 6), 12);
  EXPECT_EQ(task_->GetStopLines("NOSUCH", lines, 6), 40);
  EXPECT_EQ(task_->SetStop("F", 1, true), 84);
}

TEST_F(WorkspaceAccess, SystemVariables) {
  Run("⎕IO←0");
  EXPECT_EQ(task_->GetQuadIO(), 0);
  Run("⎕IO←1");
  EXPECT_EQ(task_->GetQuadIO(), 1);
  task_->SetQuadPW(100);
  EXPECT_EQ(task_->GetQuadPW(), 100);
  EXPECT_EQ(Run("⎕PW"), "100\n");
  task_->SetQuadPW(20);  // not a width ⎕PW takes
  EXPECT_EQ(task_->GetQuadPW(), 100);
  EXPECT_EQ(task_->GetWSState() & 0x6000, 0);
}

// The window geometry sections are named after the workspace: its short
// identity, without directory or extension, in display-font characters.
TEST_F(WorkspaceAccess, WorkspaceName) {
  EXPECT_EQ(task_->GetWSName(), "CLEAR WS");
  Run(")WSID /tmp/some/DEMO∆WS.aws");
  std::string want = "DEMO";
  want.push_back(static_cast<char>(fontout(convert_from_unicode(U'∆'))));
  want += "WS";
  EXPECT_EQ(task_->GetWSName(), want);
}

// While the interpreter runs a line, the workspace is its own: a query
// answers as with no workspace; once the task waits again, it is served.
TEST_F(WorkspaceAccess, NotServedWhileTheInterpreterRuns) {
  Run("M←1 2⍴'AB'");
  ASSERT_TRUE(Waiting());
  ASSERT_TRUE(task_->ExecuteInputLine(utf8_line_to_internal("⎕DL 0.5")));
  std::string text;
  EXPECT_EQ(task_->GetObject("M", &text), -1);
  EXPECT_EQ(task_->PutObject("M", 1, "CD"), 68);
  ASSERT_TRUE(Waiting());
  EXPECT_EQ(task_->GetObject("M", &text), 1);
  EXPECT_EQ(text, "M\nAB");
}

// A task that does not wait for input is not touched: its answers are
// those of no workspace.
TEST(WorkspaceAccessBusy, AnswersWithoutTouchingTheWorkspace) {
  LocalTask task(LocalTask::Front{});
  std::string text;
  EXPECT_EQ(task.GetObject("X", &text), -1);
  EXPECT_EQ(task.PutObject("X", 1, "AB"), 68);
  bool lines[2];
  EXPECT_EQ(task.GetStopLines("F", lines, 2), 68);
  EXPECT_EQ(task.GetQuadPW(), 80);
  EXPECT_EQ(task.GetQuadIO(), 0);
  EXPECT_EQ(task.GetWSState(), 0);
  EXPECT_EQ(task.GetWSName(), "CLEAR WS");
}

}  // namespace
}  // namespace zema
