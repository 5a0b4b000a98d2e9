// Lines run in a nearly full workspace. Every allocation may then compact
// the heap, and an offset read before it is stale after it: each line is
// run with every free gap from a few bytes upwards and garbage low in the
// heap, and must give its value or WS FULL, leaving the heap whole.
#include <gtest/gtest.h>

#include <string>

#include "interpreter/workspace/arrays.h"
#include "interpreter/workspace/heap.h"
#include "interpreter/workspace/symtab.h"
#include "test_workspace.h"

namespace zema {
namespace {

class NearlyFull : public test::DefiningSession {
 protected:
  // FILL, already a variable, becomes a vector meant to leave `gap` bytes
  // free (below 100 its allocation compacts first, and leaves more); false
  // when the workspace has not that much room.
  bool leave_gap(std::uint32_t gap) {
    const std::uint32_t free = rd32(ws(), hdr::StackPointer) - rd32(ws(), hdr::HeapTop);
    if (free < gap + 200) return false;
    const std::uint32_t n = (free - 20 - gap) / 4;
    const std::uint32_t filler = new_array(ET_INT, 1, &n, ws());
    const std::uint32_t e = entry_of("FILL");
    mgarb(rd32(ws(), e + sym::Value), ws());
    wr32(ws(), e + sym::Value, filler);
    set_owner(filler, e, OK_SYMBOL, ws());
    return true;
  }
};

TEST_F(NearlyFull, LinesGiveTheirValueOrWsFull) {
  struct Case {
    const char* setup;  // run after W (released before the line) and before FILL
    const char* line;
    const char* value;
  };
  const Case cases[] = {
      // A product whose right operand is derived: the operand's object is
      // released after the product's own object is made.
      {"X←(2 2⍴1)(2 2⍴2)(2 2⍴3)", "Z←⎕EX 'W' ⋄ ≡X[1 2] (,[1]).(,¨) X[2 3]", "3\n"},
  };
  for (const Case& c : cases) {
    int answered = 0;
    for (std::uint32_t gap = 40;; gap += 2) {
      clear_workspace(ws());
      type({"W←⍳20", c.setup, "FILL←0"});
      if (!leave_gap(gap)) break;
      const std::string out = type({c.line});
      if (out == c.value)
        ++answered;
      else
        EXPECT_NE(out.find("WS FULL"), std::string::npos) << c.line << " with " << gap << " bytes free: " << out;
      ASSERT_TRUE(heap_consistent(ws())) << c.line << " with " << gap << " bytes free";
      if (answered > 20) break;
    }
    EXPECT_GT(answered, 20) << c.line;
  }
}

// A call of a function with many labels, defined before the garbage: the
// room for its frame and label values may compact the heap and move its
// lines; the call gives the labels' values or WS FULL.
TEST_F(NearlyFull, LabelledFunctionCallGivesItsValueOrWsFull) {
  std::string expected, result = "R←A1";
  for (int i = 1; i <= 20; ++i) expected += (i > 1 ? " " : "") + std::to_string(i);
  for (int i = 2; i <= 20; ++i) result += ",A" + std::to_string(i);
  expected += "\n";
  int answered = 0;
  for (std::uint32_t gap = 300; gap < 1200; gap += 4) {
    clear_workspace(ws());
    type({"∇R←F"});
    for (int i = 1; i <= 20; ++i) type({"A" + std::to_string(i) + ":"});
    type({result, "∇", "W←⍳20", "FILL←0", "Z←⎕EX 'W'"});
    ASSERT_TRUE(leave_gap(gap));
    const std::string out = type({"F"});
    if (out == expected)
      ++answered;
    else
      EXPECT_NE(out.find("WS FULL"), std::string::npos) << gap << " bytes free: " << out;
    ASSERT_TRUE(heap_consistent(ws())) << gap << " bytes free";
  }
  EXPECT_GT(answered, 20);
}

}  // namespace
}  // namespace zema
