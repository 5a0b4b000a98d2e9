// A call that fails while its frame's local records are being filled in
// (SYSTEM LIMIT from a name's use count) leaves a frame that clears cleanly:
// every name keeps its outer value and the workspace stays sound.
#include <gtest/gtest.h>

#include <string>

#include "interpreter/engine/call.h"
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

// The frame's last record (the deepest control record) starts empty too:
// a call failing before it is pushed must not clear what an earlier call
// left in that stack slot.
TEST_F(CallFrames, TheLastRecordStartsEmptyWhenTheCallFails) {
  type({"∇F;A;B;C", "L:1÷0", "∇"});
  type({"A←1", "D←'kept'"});
  // A first call suspends on line 1: its frame shows where F's frames lie.
  ASSERT_NE(type({"F"}).find("DOMAIN ERROR"), std::string::npos);
  const std::uint32_t frame = rd32(ws(), hdr::SiLink) - siframe::Link;
  siclr(ws());
  // Records: 5 for result, arguments and operands, 3 locals, 1 label, 1
  // control record; the last is the deepest. Leave a stale control record
  // there that names D's value.
  const std::uint32_t last = frame - 10 * siframe::RecordSize;
  wr8(ws(), last, kRecControl);
  wr32(ws(), last + 4, rd32(ws(), entry_of("D") + sym::Value));
  const std::uint32_t e = entry_of("A");
  const std::uint16_t uses = rd16(ws(), e + sym::Uses);
  wr16(ws(), e + sym::Uses, 0xFFFF);
  EXPECT_NE(type({"F"}).find("SYSTEM LIMIT"), std::string::npos);
  wr16(ws(), e + sym::Uses, uses);
  EXPECT_EQ(rd32(ws(), hdr::SiLink) - siframe::Link, frame);
  siclr(ws());
  EXPECT_FALSE(rd8(ws(), rd32(ws(), entry_of("D") + sym::Value)) & kReleased);
  force_gcol(ws());
  EXPECT_EQ(check_integrity(ws()), 0);
  EXPECT_TRUE(heap_consistent(ws()));
  EXPECT_EQ(type({"A", "D"}), "1\nkept\n");
}

}  // namespace
}  // namespace zema
