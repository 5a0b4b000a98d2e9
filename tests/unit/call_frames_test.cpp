// A call that fails while its frame's local records are being filled in
// (SYSTEM LIMIT from a name's use count) leaves a frame that clears cleanly:
// every name keeps its outer value and the workspace stays sound.
#include <gtest/gtest.h>

#include <string>

#include "interpreter/workspace/heap.h"
#include "interpreter/workspace/integrity.h"
#include "interpreter/engine/statement_end.h"
#include "interpreter/workspace/symtab.h"
#include "test_workspace.h"

namespace zema {
namespace {

class CallFrames : public test::DefiningSession {};

TEST_F(CallFrames, ALocalWhoseUseCountIsFullLeavesTheOuterValues) {
  type({"∇F;A;B;C", "A←1", "∇"});
  type({"A←'outer A'", "B←2 3", "C←⍳4"});
  struct Case {
    const char* full;  // the local whose use count is made full
  };
  for (const Case c : {Case{"A"}, Case{"B"}, Case{"C"}}) {
    const std::uint32_t e = entry_of(c.full);
    ASSERT_NE(e, 0u) << c.full;
    const std::uint16_t uses = rd16(ws(), e + sym::Uses);
    wr16(ws(), e + sym::Uses, 0xFFFF);
    EXPECT_NE(type({"F"}).find("SYSTEM LIMIT"), std::string::npos) << c.full;
    wr16(ws(), e + sym::Uses, uses);
    siclr(ws());
    EXPECT_EQ(check_integrity(ws()), 0) << c.full;
    EXPECT_TRUE(heap_consistent(ws())) << c.full;
    EXPECT_EQ(type({"A", "B", "C"}), "outer A\n2 3\n1 2 3 4\n") << c.full;
  }
}

}  // namespace
}  // namespace zema
