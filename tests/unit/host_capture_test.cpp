// Capture of session output by the host glue: what a system command writes
// while its output is recorded stays within the task's limit.
#include <gtest/gtest.h>

#include <string>

#include "host/services.h"
#include "host/task.h"

namespace zema {
namespace {

// A task that only captures: session output and input are not used.
struct CaptureTask : APLTask {
  std::string shown;
  void WriteOutput(const char* text, std::size_t n) override { shown.append(text, n); }
  void FlushOutput() override {}
  Input ReadInputLine(std::string&) override { return Input::Ended; }
  int GetOneKeystroke() override { return 3; }
  std::uint32_t ReAllocateTaskMemory(std::uint32_t, std::uint8_t**) override { return 0; }
  [[noreturn]] void EndAPLTask() override { throw TaskEnded{0}; }
};

struct Current {
  explicit Current(APLTask* t) { set_current_apl_task(t); }
  ~Current() { set_current_apl_task(nullptr); }
};

TEST(Capture, KeepsWhatWasWrittenWithinTheLimit) {
  CaptureTask t;
  t.captureLimit = 1000;
  Current c(&t);
  EXPECT_EQ(get_syscmd_output_len(), -1);
  record_syscmd_output();
  for (char ch : std::string("AB")) csend(ch);
  line_send("x\r\ny");
  // The host text's CR LF is one line end (13).
  EXPECT_EQ(get_syscmd_output_len(), 5);
  std::string copy(6, '?');
  EXPECT_EQ(copy_syscmd_output(copy.data()), 0);
  EXPECT_EQ(copy.substr(0, 2), "AB");
  EXPECT_EQ(copy[3], '\r');
  EXPECT_EQ(copy[5], '?');
  EXPECT_TRUE(t.shown.empty());
  kill_syscmd_output();
  EXPECT_EQ(get_syscmd_output_len(), -1);
  EXPECT_EQ(copy_syscmd_output(copy.data()), 28);
}

// Past the limit nothing more is kept, whether it comes a character at a
// time or as a host text, and the length answered is one above the limit.
TEST(Capture, StopsAtTheLimitAndAnswersTooBig) {
  for (bool by_line : {false, true}) {
    CaptureTask t;
    t.captureLimit = 1000;
    Current c(&t);
    record_syscmd_output();
    const std::string chunk(300, 'z');
    for (int i = 0; i < 20; ++i) {
      if (by_line)
        line_send(chunk.c_str());
      else
        for (char ch : chunk) csend(ch);
    }
    EXPECT_LE(t.captureBuffer.capacity(), 1000u) << by_line;
    EXPECT_EQ(get_syscmd_output_len(), 1001) << by_line;
    // A new capture starts afresh.
    record_syscmd_output();
    csend('q');
    EXPECT_EQ(get_syscmd_output_len(), 1);
    kill_syscmd_output();
  }
}

TEST(Capture, ExactlyTheLimitFits) {
  CaptureTask t;
  t.captureLimit = 64;
  Current c(&t);
  record_syscmd_output();
  for (int i = 0; i < 64; ++i) csend('a');
  EXPECT_EQ(get_syscmd_output_len(), 64);
  csend('a');
  EXPECT_EQ(get_syscmd_output_len(), 65);
  kill_syscmd_output();
}

}  // namespace
}  // namespace zema
