// Stack entries and the objects they own: every operation that releases
// what its entries own, or puts a result in a stack slot, must give back all
// it took. Each line runs twice; the heap must be no larger after the second
// run than after the first, and consistent and with an empty stack after
// each.
#include <gtest/gtest.h>

#include <cstdint>
#include <initializer_list>
#include <string>

#include "interpreter/session/definition.h"
#include "interpreter/workspace/heap.h"
#include "interpreter/engine/line.h"
#include "interpreter/workspace/stack.h"
#include "interpreter/reader/tokeniser.h"
#include "test_workspace.h"

namespace zema {
namespace {

// Each case runs in a workspace of its own, where definition is installed
// and the session output is kept.
class Ownership : public ::testing::Test {
 protected:
  void SetUp() override {
    saved_ = lex_routes();
    install_definition_routes();
    set_current_apl_task(&task_);
  }
  void TearDown() override {
    set_current_apl_task(nullptr);
    lex_routes() = saved_;
  }

  // Runs a line; answers the first line it printed.
  std::string run(const char* utf8, Ws ws) { return test::first_line(test::run_line(utf8, task_, ws)); }

  // Live bytes on the heap, after a compaction.
  static std::uint32_t heap_used(Ws ws) {
    force_gcol(ws);
    return rd32(ws, hdr::HeapTop);
  }

  test::CaptureTask task_;
  LexRoutes saved_;
};

TEST_F(Ownership, RepeatedLinesLeaveNothingBehind) {
  // Lines that set up the names a case uses, the line run twice, the first
  // line it prints, and what it passes through.
  const struct {
    std::initializer_list<const char*> setup;
    const char* line;
    const char* first;
  } cases[] = {
      {{}, "⍴2 3⍴⍳6", "2 3"},                    // a result takes its right argument's slot
      {{}, "1 'a' 2=1 'a' 3", "1 1 0"},          // a nested result made simple takes its slot
      {{}, "⍴⎕AI", "7"},                         // a niladic system function's entries go
      {{}, "2147483647+1", "2147483648"},        // an integer result dropped for a float rerun
      {{}, "1 (2 3) 'xy'", " 1  2 3  xy "},      // strands: the joined value takes B's slot
      {{}, "(⍳5)[2 4]", "2 4"},                  // an index list takes its bracket's slot; A[I]
      {{}, "(2 3⍴⍳6)[2;1 3]", "4 6"},            // an index list of several positions
      {{}, "1 2,[1]3 4", "1 2 3 4"},             // a function takes its axis list's slot
      {{}, "A←⍳5", ""},                          // assignment; the value not displayed goes
      {{"A←⍳5"}, "A[2 3]←A[4 5]", ""},           // indexed assignment drops its entries
      {{"A←⍳5"}, "A[⍳5]←A", ""},                 // the value, the variable itself, copied first
      {{"B←1 2 3"}, "B[2]←⊂'ab'", ""},           // a rebuilt nested array takes the map's slot
      {{}, "⎕LX←'ABC'", ""},                     // a system variable takes the value
      {{"⎕LX←'ABC'"}, "⎕LX[2]←'X'", ""},         // indexed assignment into a copy of ⎕LX
      {{"C←3"}, "(C←4),C", "4 3"},               // the old value goes to the entry naming C
      {{}, "(D E)←1 2", ""},                     // the whole value goes to the token register
      {{}, "⎕←1 2", "1 2"},                      // the value shown stays the statement's
      {{"∇Z←A ADD B", "Z←A+B", "∇", "X←⍳3"}, "X ADD X", "2 4 6"},  // a named argument is copied
      {{"∇Z←A ADD B", "Z←A+B", "∇"}, "1 ADD 2", "3"},             // arguments bound to names
      {{}, "1 2+1 2 3", "LENGTH ERROR"},         // an error clears the statement's entries
      {{"A←⍳5"}, "A[1]←A", "RANK ERROR"},        // the same, part-way through an assignment
  };
  for (const auto& c : cases) {
    test::TestWorkspace t;
    for (const char* l : c.setup) run(l, t.ws());
    EXPECT_EQ(run(c.line, t.ws()), c.first) << c.line;
    EXPECT_TRUE(heap_consistent(t.ws())) << c.line;
    EXPECT_TRUE(stack_is_empty(t.ws())) << c.line;
    // What the session keeps of a line (its text, an error's message) is
    // the same the second time: any growth is space the line lost.
    const std::uint32_t once = heap_used(t.ws());
    run(c.line, t.ws());
    EXPECT_TRUE(heap_consistent(t.ws())) << c.line;
    EXPECT_EQ(heap_used(t.ws()), once) << c.line;
  }
}

}  // namespace
}  // namespace zema
