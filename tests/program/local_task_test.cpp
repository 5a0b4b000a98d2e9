// The program's local task run in this process without a GUI (the GUI
// steps then run on the task thread): the task list, output hand-over,
// input lines, workspace reallocation and a failed start.
#include "program/local_task.h"

#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <mutex>
#include <string>
#include <thread>

#include "files/packaged.h"
#include "host/charset.h"
#include "platform/message_box.h"
#include "tests/program/session_recorder.h"

namespace zema {
namespace {

using namespace std::chrono_literals;

using task_test::Session;
using task_test::wait_awaiting;


TEST(TaskList, TasksJoinInOrderAndLeaveFromAnyPlace) {
  Session s;
  auto a = std::make_unique<LocalTask>(s.Front(true));
  auto b = std::make_unique<LocalTask>(s.Front(true));
  auto c = std::make_unique<LocalTask>(s.Front(true));
  EXPECT_EQ(first_apl_task(), a.get());
  EXPECT_EQ(a->nextTask, b.get());
  EXPECT_EQ(a->CountTasks(), 3);
  b.reset();  // from the middle
  EXPECT_EQ(a->nextTask, c.get());
  a.reset();  // the head
  EXPECT_EQ(first_apl_task(), c.get());
  EXPECT_EQ(count_apl_tasks(), 1);
  c.reset();
  EXPECT_EQ(first_apl_task(), nullptr);
}

TEST(LocalTaskOutput, HeldUntilTheTickOrAnInputRequest) {
  Session s;
  LocalTask task(s.Front(true));
  auto write = [&](const char* utf8) {
    const std::string internal = utf8_to_internal(utf8);
    task.WriteOutput(internal.data(), internal.size());
  };
  write("AB");
  task.CheckFrontEndAttention();  // no tick yet: the text stays buffered
  EXPECT_EQ(s.Text(), "");
  task.Tick();
  task.CheckFrontEndAttention();
  EXPECT_EQ(s.Text(), "AB");
  task.CheckFrontEndAttention();  // one flush per tick
  write("\rC");
  EXPECT_EQ(s.Text(), "AB");
  // The first task's first input request: the output goes first, then
  // the line that loads the package is handed back at once.
  std::string line;
  EXPECT_EQ(task.ReadInputLine(line), APLTask::Input::Line);
  set_startup_load_pending(false);
  EXPECT_EQ(s.Text(), "AB\nC");
  EXPECT_EQ(internal_to_utf8(line), ")SLOAD pack");
}

// The task runs on its own thread, as in the program, so that it ends
// having given up everything it held (the class-access lock with it).
TEST(LocalTaskInput, SecondTaskWaitsForAWholeLine) {
  Session s;
  LocalTask first(s.Front(true));
  LocalTask task(s.Front(false));
  ASSERT_TRUE(task.AllocateTaskMemory(1e6));
  EXPECT_FALSE(task.ExecuteInputLine("early"));  // not waiting: dropped
  task.Start();
  ASSERT_TRUE(wait_awaiting(task));  // no )SLOAD for a second task
  // ⍴ and 5000 items " 1": a long line runs whole, never cut.
  std::string line = utf8_line_to_internal("⍴");
  for (int i = 0; i < 5000; ++i) line += utf8_line_to_internal(" 1");
  ASSERT_EQ(line.size(), 10001u);
  EXPECT_TRUE(task.ExecuteInputLine(line));
  ASSERT_TRUE(s.WaitFor("5000\n")) << s.Text();
  ASSERT_TRUE(wait_awaiting(task));
  ASSERT_TRUE(task.ExecuteInputLine(utf8_line_to_internal(")OFF")));
  ASSERT_TRUE(s.WaitEnded());
  task.Join();
  EXPECT_EQ(s.status, 0);
}

// A task given lines (no window): )CLEAR n asks for a new block; the
// block is had at three quarters as often as refused, or, when none can be
// had, the workspace stays as it was with WS FULL.
TEST(LocalTaskMemory, ChangeOfSizeRetriesThenGivesWsFull) {
  Session s;
  LocalTask first(s.Front(true));
  std::atomic<bool> refuse_all{false};
  std::atomic<int> calls{0};
  LocalTask task(s.Front(false), [&](std::uint64_t bytes) -> void* {
    if (calls++ > 0 && (refuse_all || bytes > 400000)) return nullptr;
    return std::calloc(1, bytes);
  });
  ASSERT_TRUE(task.AllocateTaskMemory(1e6));
  task.Start();
  auto send = [&](const char* text) {
    ASSERT_TRUE(wait_awaiting(task));
    ASSERT_TRUE(task.ExecuteInputLine(utf8_line_to_internal(text)));
  };
  send("KEEP←42");
  send(")CLEAR 900K");  // 900K, 675K, 506K refused; 379K had
  ASSERT_TRUE(s.WaitFor("CLEAR WS"));
  send("KEEP←42");
  refuse_all = true;
  send(")CLEAR 300K");
  ASSERT_TRUE(s.WaitFor("WS FULL"));
  send("KEEP");
  ASSERT_TRUE(s.WaitFor("42\n")) << s.Text();
  send(")OFF");
  ASSERT_TRUE(s.WaitEnded());
  task.Join();
  EXPECT_EQ(s.status, 0);
  const std::string out = s.Text();
  EXPECT_EQ(out.substr(0, 25), "WS Size = 379KB\nCLEAR WS\n");
  EXPECT_EQ(out.find("WS Size", 1), std::string::npos);
  EXPECT_NE(out.find("WS FULL"), std::string::npos);
}

TEST(LocalTaskStart, TablesThatCannotBeSetUpEndTheTaskWithStatus1) {
  Session s;
  std::string box;
  set_message_box_hook([&](const MessageBoxRequest& r) {
    box = r.caption + "|" + r.text;
    return static_cast<int>(MB_OK);
  });
  LocalTask::Front front = s.Front(true);
  front.set_up_tables = [] { return "Could not get memory for native file structures"; };
  LocalTask task(front);
  ASSERT_TRUE(task.AllocateTaskMemory(1e6));
  task.Start();
  ASSERT_TRUE(s.WaitEnded());
  task.Join();
  set_message_box_hook(nullptr);
  EXPECT_EQ(s.status, 1);
  EXPECT_TRUE(task.HasEnded());
  EXPECT_EQ(count_apl_tasks(), 0);
  EXPECT_EQ(box, "ZEMA Error|Out of memory - Could not get memory for native file structures");
}

}  // namespace
}  // namespace zema
