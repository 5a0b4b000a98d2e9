// The class routines' lock around a local task: the task holds it while a
// line runs and gives it up while it waits for input, so a call from the
// GUI thread (here the test's thread, with an application object, so that
// the task's GUI steps are queued to it) goes through at once while the
// task is idle and waits, running the task's GUI steps, while it is busy.
#include <gtest/gtest.h>

#include <QCoreApplication>

#include <chrono>
#include <functional>
#include <mutex>
#include <string>
#include <thread>

#include "host/charset.h"
#include "interpreter/sysfns/class_access.h"
#include "program/local_task.h"

namespace zema {
namespace {

using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;

// What a task hands to its session (on this thread) and its end.
struct Session {
  std::mutex m;
  std::string text;
  int status = -1;
  LocalTask::Front Front(bool window) {
    LocalTask::Front f;
    f.session_output = [this](const std::string& s) {
      std::lock_guard<std::mutex> lock(m);
      text += s;
    };
    f.ended = [this](int s) { status = s; };
    f.window = window;
    return f;
  }
  std::string Text() {
    std::lock_guard<std::mutex> lock(m);
    return text;
  }
};

// Runs queued GUI steps until `done` holds (at most 20 s).
bool pump_until(const std::function<bool()>& done) {
  const auto end = Clock::now() + 20s;
  while (!done()) {
    if (Clock::now() > end) return false;
    QCoreApplication::processEvents();
    std::this_thread::sleep_for(1ms);
  }
  return true;
}

// A class routine called through the task: its answer for an unknown
// class, and whether the task waited for input when it ran.
struct Probe {
  bool ran = false;
  bool awaiting = false;
  std::uint8_t kind = 0;
  std::string output;
  Clock::time_point at;
};

bool probe(LocalTask& task, Session& s, Probe* p) {
  return task.WithClassAccess([&](std::uint8_t* ws) {
    p->ran = true;
    p->awaiting = task.IsAwaitingInput();
    p->output = s.Text();
    p->at = Clock::now();
    const std::string cls = utf8_to_internal("NOCLASS"), member = utf8_to_internal("X");
    class_access::get_named_class_member(cls, member, &p->kind, true, ws);
  });
}

TEST(ClassAccessLock, GuiCallWaitsWhileALineRunsAndGoesThroughWhileIdle) {
  int argc = 1;
  char name[] = "test";
  char* argv[] = {name, nullptr};
  QCoreApplication app(argc, argv);
  Session s;
  LocalTask first(s.Front(true));  // the package's task, never started
  LocalTask task(s.Front(false));
  ASSERT_TRUE(task.AllocateTaskMemory(1e6));
  task.Start();
  ASSERT_TRUE(pump_until([&] { return task.IsAwaitingInput(); }));

  Probe idle;
  const auto before = Clock::now();
  ASSERT_TRUE(probe(task, s, &idle));
  EXPECT_TRUE(idle.ran);
  EXPECT_TRUE(idle.awaiting);
  EXPECT_EQ(idle.kind, 0xFF);  // not found
  EXPECT_LT(idle.at - before, 300ms);

  // A line that runs for 0.4 s: the call waits until the task asks for the
  // next line. Meanwhile the tick's flush of 'A' and the input request's
  // GUI steps are run by the waiting call.
  const auto sent = Clock::now();
  ASSERT_TRUE(task.ExecuteInputLine(utf8_line_to_internal("'A' ⋄ ⎕DL 0.4 ⋄ 'B'")));
  pump_until([&] { return Clock::now() - sent > 100ms; });
  task.Tick();
  Probe busy;
  ASSERT_TRUE(probe(task, s, &busy));
  EXPECT_TRUE(busy.awaiting);
  EXPECT_GE(busy.at - sent, 350ms);
  EXPECT_NE(busy.output.find("A\n"), std::string::npos) << busy.output;
  EXPECT_NE(busy.output.find("B\n"), std::string::npos) << busy.output;
  EXPECT_EQ(busy.kind, 0xFF);

  ASSERT_TRUE(task.ExecuteInputLine(utf8_line_to_internal(")OFF")));
  ASSERT_TRUE(pump_until([&] { return s.status >= 0; }));
  task.Join();
  EXPECT_EQ(s.status, 0);
  // An ended task is not read.
  Probe ended;
  EXPECT_FALSE(probe(task, s, &ended));
  EXPECT_FALSE(ended.ran);
}

// Inside one of the task's GUI steps the task holds the lock and waits
// for the step: a call from there is refused rather than wait for ever.
TEST(ClassAccessLock, RefusedInsideTheTasksOwnGuiStep) {
  int argc = 1;
  char name[] = "test";
  char* argv[] = {name, nullptr};
  QCoreApplication app(argc, argv);
  Session s;
  LocalTask first(s.Front(true));
  LocalTask* self = nullptr;
  int inside = -1;
  LocalTask::Front f = s.Front(false);
  f.session_output = [&](const std::string& text) {
    if (text.find("HI") != std::string::npos && inside < 0)
      inside = self->WithClassAccess([](std::uint8_t*) {}) ? 1 : 0;
  };
  LocalTask task(f);
  self = &task;
  ASSERT_TRUE(task.AllocateTaskMemory(1e6));
  task.Start();
  ASSERT_TRUE(pump_until([&] { return task.IsAwaitingInput(); }));
  ASSERT_TRUE(task.ExecuteInputLine(utf8_line_to_internal("'HI'")));
  ASSERT_TRUE(pump_until([&] { return inside >= 0; }));
  EXPECT_EQ(inside, 0);
  ASSERT_TRUE(pump_until([&] { return task.IsAwaitingInput(); }));
  ASSERT_TRUE(task.ExecuteInputLine(utf8_line_to_internal(")OFF")));
  ASSERT_TRUE(pump_until([&] { return s.status >= 0; }));
  task.Join();
}

}  // namespace
}  // namespace zema
