// Axes on functions, checked where a session cannot look: the derived
// function that holds an axis list, and the spread argument of a scalar
// function with an axis, must leave the heap consistent and give back all
// their space, whether the call succeeds or fails part-way.
#include <gtest/gtest.h>

#include <cstdint>
#include <string>

#include "host/charset.h"
#include "interpreter/workspace/heap.h"
#include "interpreter/engine/line.h"
#include "interpreter/workspace/stack.h"
#include "test_workspace.h"

namespace zema {
namespace {

class Axis : public ::testing::Test {
 protected:
  void SetUp() override { set_current_apl_task(&task_); }
  void TearDown() override { set_current_apl_task(nullptr); }

  Ws ws() const { return t_.ws(); }

  // Runs a line; answers the first line it printed.
  std::string run(const char* utf8) { return test::first_line(test::run_line(utf8, task_, ws())); }

  // Live bytes on the heap, after a compaction.
  std::uint32_t heap_used() {
    force_gcol(ws());
    return rd32(ws(), hdr::HeapTop);
  }

  test::TestWorkspace t_;
  test::CaptureTask task_;
};

TEST_F(Axis, CallsWithAxesLeaveNothingBehind) {
  // Each call and the first line it prints.
  const struct {
    const char* line;
    const char* first;
  } cases[] = {
      {"1 2+[1]2 3⍴⍳6", "2 3 4"},
      {"(1 2)(3 4)+[1]2 2⍴⍳4", " 2 3  3 4 "},
      {"1 2 3+[1]2 3⍴⍳6", "LENGTH ERROR"},
      {"(2 3⍴1)+[1 2]2 3⍴1", "2 2 2"},
      {"1 2+[1 1]2 3⍴⍳6", "AXIS ERROR"},
      {"-[1 2]2 3⍴1", "AXIS ERROR"},
      {",[2 3]2 3 4⍴⍳24", " 1  2  3  4  5  6  7  8  9 10 11 12"},
      {",[1 3]2 3 4⍴0", "AXIS ERROR"},
      {"2 3⌷[2 1]3 4⍴⍳12", "10"},
      {"1 1⊂[1 2]2 3⍴⍳6", "AXIS ERROR"},
      {"⊂[2 1]2 3⍴⍳6", " 1 4 "},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(run(c.line), c.first) << c.line;
    EXPECT_TRUE(heap_consistent(ws())) << c.line;
    EXPECT_TRUE(stack_is_empty(ws())) << c.line;
    // What the session keeps of a line (its text, an error's message) is
    // the same the second time: any growth is space the call lost.
    const std::uint32_t once = heap_used();
    run(c.line);
    EXPECT_EQ(heap_used(), once) << c.line;
  }
}

}  // namespace
}  // namespace zema
