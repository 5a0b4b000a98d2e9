// ⎕WI through the program's local task: the interpreter's requests reach
// the task's System object (here without a GUI, so the GUI steps run on
// the task thread), the event reads and ⎕WSELF answer from it, and the
// task deletes it when it ends. A task without one answers as for a
// missing object.
#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <cstring>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "host/charset.h"
#include "host/services.h"
#include "program/local_task.h"
#include "tests/program/session_recorder.h"
#include "wi/qwi_system.h"

namespace zema {
namespace {

using namespace std::chrono_literals;

// Element type and rank of the reply in a result area.
std::pair<int, int> reply_shape(const std::vector<std::uint8_t>& area) {
  std::uint16_t rank4;
  std::memcpy(&rank4, area.data() + 10, 2);
  return {area[8], rank4 / 4};
}

TEST(LocalTaskQwi, WithoutASystemObjectEveryObjectIsMissing) {
  std::vector<std::uint8_t> area(256, 0xEE);
  EXPECT_EQ(qwi_get_property("caption", "form", nullptr, area.data(), 255), 4);  // too small, even without a task
  EXPECT_EQ(qwi_get_property("caption", "form", nullptr, area.data(), 256), 88);  // no task

  LocalTask task(LocalTask::Front{});
  set_current_apl_task(&task);
  const std::string delta = utf8_to_internal("∆x");
  const std::string caption = utf8_to_internal("caption"), del = utf8_to_internal("Delete"),
                    self = utf8_to_internal("self"), form = utf8_to_internal("form");
  struct Read {
    const char* name;
    int code;
    int type, rank;  // the reply
  } reads[] = {
      {caption.c_str(), 88, 7, 2}, {del.c_str(), 0, 7, 2}, {self.c_str(), 0, 11, 1},
      {nullptr, 0, 7, 2},  // the rest of a reply that did not fit: there is none
      {delta.c_str(), 88, 7, 2},
  };
  for (const Read& c : reads) {
    SCOPED_TRACE(c.name ? internal_to_utf8(c.name) : "(null)");
    std::fill(area.begin(), area.end(), 0xEE);
    EXPECT_EQ(qwi_get_property(c.name, form.c_str(), nullptr, area.data(), 256), c.code);
    EXPECT_EQ(reply_shape(area), std::make_pair(c.type, c.rank));
    EXPECT_FALSE(task.resultTooBig);
  }
  const std::uint8_t value[16] = {};
  const std::string set = utf8_to_internal("set"), make = utf8_to_internal("New");
  struct Write {
    const char* name;
    int code;
  } writes[] = {{caption.c_str(), 88}, {set.c_str(), 88}, {make.c_str(), 88}, {delta.c_str(), 12}};
  for (const Write& c : writes)
    EXPECT_EQ(qwi_set_property(c.name, form.c_str(), nullptr, value), c.code) << internal_to_utf8(c.name);
  EXPECT_EQ(task.callbackId, 999);
  // The event reads answer as the base does.
  EXPECT_EQ(task.QwiEvents(7, 0, area.data(), 256), 24);
  set_current_apl_task(nullptr);
}

using task_test::Session;
using task_test::wait_awaiting;

TEST(LocalTaskQwi, ApplicationLinesReachTheSystemObjectAndTheTaskDeletesIt) {
  Session s;
  LocalTask first(s.Front(false));  // the first task would load the package
  LocalTask task(s.Front(false));
  ASSERT_TRUE(task.AllocateTaskMemory(1e6));
  task.system = new QwiSystem(&task);
  task.Start();
  struct Case {
    const char* line;
    const char* output;  // what the session shows after it, ending a line
  } cases[] = {
      {"⍴'#' ⎕WI 'version'", "5\n"},
      {"'#' ⎕WI '∆mark' 'kept'", ""},
      {"'#' ⎕WI '⍙MARK'", "kept\n"},
      {"N←0", ""},
      {"'#' ⎕WI 'onSend' 'N←N+1 ⋄ S←⎕WSELF'", ""},
      {"'#' ⎕WI 'send'", ""},
      {"'#' ⎕WI 'send'", ""},
      {"⎕WE 0", ""},
      {"N,⍴S", "2 1\n"},
      {"S", "#\n"},
      {"'#' ⎕WI 'trigger' 'onNothing'", "DOMAIN ERROR"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.line);
    ASSERT_TRUE(wait_awaiting(task));
    ASSERT_TRUE(task.ExecuteInputLine(utf8_line_to_internal(c.line)));
    if (*c.output) {
      ASSERT_TRUE(s.WaitFor(c.output)) << s.text;
    }
  }
  ASSERT_TRUE(wait_awaiting(task));
  EXPECT_NE(task.system, nullptr);
  ASSERT_TRUE(task.ExecuteInputLine(utf8_line_to_internal(")OFF")));
  ASSERT_TRUE(s.WaitEnded());
  task.Join();
  EXPECT_EQ(s.status, 0);
  EXPECT_EQ(task.system, nullptr);  // deleted with its tree at the task's end
}

// Exit while the application waits for events without limit: the wait
// ends and so does the task.
TEST(LocalTaskQwi, AskedToQuitDuringAnEventWaitTheTaskEnds) {
  Session s;
  LocalTask first(s.Front(false));
  LocalTask task(s.Front(false));
  ASSERT_TRUE(task.AllocateTaskMemory(1e6));
  task.system = new QwiSystem(&task);
  task.Start();
  ASSERT_TRUE(wait_awaiting(task));
  ASSERT_TRUE(task.ExecuteInputLine(utf8_line_to_internal("⎕WE ¯1")));
  std::this_thread::sleep_for(200ms);
  EXPECT_FALSE(task.IsAwaitingInput());
  task.RequestQuit();
  ASSERT_TRUE(s.WaitEnded());
  task.Join();
  EXPECT_EQ(s.status, 0);
}

}  // namespace
}  // namespace zema
