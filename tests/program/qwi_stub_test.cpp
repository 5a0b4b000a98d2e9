// ⎕WI requests from the interpreter's host calls reach the task's stub
// through the request fields; with no ⎕WI object in existence they answer
// as for a missing object. Session requests travel the same way.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "host/charset.h"
#include "host/services.h"
#include "program/local_task.h"

namespace zema {
namespace {

// Element type and rank of the reply in a result area.
std::pair<int, int> reply_shape(const std::vector<std::uint8_t>& area) {
  std::uint16_t rank4;
  std::memcpy(&rank4, area.data() + 10, 2);
  return {area[8], rank4 / 4};
}

TEST(QwiStub, ReadsAnswerAsForAMissingObject) {
  std::vector<std::uint8_t> area(256, 0xEE);
  EXPECT_EQ(qwi_get_property("caption", "form", "form", area.data(), 255), 4);  // too small, even without a task
  EXPECT_EQ(qwi_get_property("caption", "form", "form", area.data(), 256), 88);
  EXPECT_EQ(reply_shape(area), std::make_pair(7, 2));  // the empty matrix, written first

  LocalTask task(LocalTask::Front{});
  set_current_apl_task(&task);
  const std::string delta = std::string(1, static_cast<char>(fontout(0x7B))) + "x";
  struct Case {
    const char* name;
    int code;
    int type, rank;  // the reply
  } cases[] = {
      {"caption", 88, 7, 2}, {"delete", 0, 7, 2}, {"Delete", 0, 7, 2}, {"self", 0, 11, 1},
      {nullptr, 0, 7, 2},  // the rest of a reply that did not fit: there is none
      {delta.c_str(), 88, 7, 2},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name ? c.name : "(null)");
    std::fill(area.begin(), area.end(), 0xEE);
    EXPECT_EQ(qwi_get_property(c.name, "form", "form.b1", area.data(), 256), c.code);
    EXPECT_EQ(reply_shape(area), std::make_pair(c.type, c.rank));
    EXPECT_FALSE(task.resultTooBig);
    EXPECT_EQ(task.neededSize, 0u);
  }

  // The request as the stub saw it.
  const char* name = "caption";
  EXPECT_EQ(qwi_get_property(name, "top", "top.path", area.data(), 300), 88);
  EXPECT_EQ(task.propertyName, name);
  EXPECT_STREQ(task.objectTop, "top");
  EXPECT_STREQ(task.objectPath, "top.path");
  EXPECT_EQ(task.resultBuffer, area.data());
  EXPECT_EQ(task.resultSize, 300);
  set_current_apl_task(nullptr);
}

TEST(QwiStub, WritesAnswerAsForAMissingObject) {
  const std::uint8_t value[16] = {};
  EXPECT_EQ(qwi_set_property("caption", "form", "form", value), 88);  // no task
  LocalTask task(LocalTask::Front{});
  set_current_apl_task(&task);
  const std::string delta = std::string(1, static_cast<char>(fontout(0x7B))) + "x";
  struct Case {
    const char* name;
    int code;
  } cases[] = {
      {"caption", 88}, {"set", 88}, {"delete", 88},
      {"new", 24}, {"Create", 24},  // no ⎕WI classes to make an object of
      {delta.c_str(), 12},
  };
  for (const Case& c : cases) EXPECT_EQ(qwi_set_property(c.name, "form", "form", value), c.code) << c.name;
  EXPECT_EQ(task.requestValue, value);
  EXPECT_EQ(task.callbackId, 999);
  set_current_apl_task(nullptr);
}

// ⎕CC and cursor requests reach the GUI step in the request fields; the
// answer comes back in guiResult.
TEST(TaskRequests, SessionRequestsTravelInTheFields) {
  LocalTask* self = nullptr;
  std::vector<std::string> seen;
  LocalTask::Front front;
  front.session_output = [](const std::string&) {};
  front.quad_cc = [&](int code) {
    seen.push_back("cc " + std::to_string(code) + " field " + std::to_string(self->requestCode));
    self->guiResult = 99;  // overwritten: the step answers 0
  };
  front.cursor = [&](int column, int line) {
    seen.push_back("cursor " + std::to_string(column) + "," + std::to_string(line) + " fields " +
                   std::to_string(self->cursorColumn) + "," + std::to_string(self->cursorLine));
  };
  LocalTask task(front);
  self = &task;
  set_current_apl_task(&task);
  task.guiResult = 7;
  EXPECT_EQ(quadcc(17), 0);
  EXPECT_EQ(task.guiResult, 0);
  EXPECT_EQ(cursor_add(300, 4), 0);
  EXPECT_EQ(cursor_x(3), 0);
  set_current_apl_task(nullptr);
  EXPECT_EQ(seen, (std::vector<std::string>{"cc 17 field 17", "cursor 254,4 fields 300,4", "cursor 3,-1 fields 3,-1"}));
}

}  // namespace
}  // namespace zema
