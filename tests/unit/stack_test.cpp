// The execution stack, the token register and the argument descriptors.
#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "interpreter/workspace/errors.h"
#include "interpreter/workspace/heap.h"
#include "interpreter/workspace/stack.h"
#include "interpreter/workspace/symtab.h"
#include "test_workspace.h"

namespace zema {
namespace {

using test::TestWorkspace;

void set_register(Ws ws, const StackEntry& e) { store_entry(hdr::TokenRegister, e, ws); }

TEST(Stack, PushAndPopRoundTrip) {
  TestWorkspace t;
  Ws ws = t.ws();
  const std::uint32_t top = rd32(ws, hdr::Top);
  ASSERT_TRUE(stack_is_empty(ws));
  const std::vector<StackEntry> entries = {
      primer, {0x81, 0x08, 0}, {0x03, 0x00, 0xF7}, {0x01, 0x04, 0x0123}, {0x20, 0x00, 0xDEADBEEF}};
  std::uint32_t expected = rd32(ws, hdr::StackPointer);
  for (const auto& e : entries) {
    expected -= kStackEntrySize;
    EXPECT_EQ(stack(e, ws), expected);
    EXPECT_EQ(rd32(ws, hdr::StackPointer), expected);
  }
  EXPECT_EQ(push_fake(ws), expected - kStackEntrySize);
  // The first entry lies just below the sentinel word, which stays zero.
  EXPECT_EQ(load_entry(top - 4 - kStackEntrySize, ws), primer);
  EXPECT_EQ(rd32(ws, top - 4), 0u);
  // Entry k from the top.
  EXPECT_EQ(load_entry(stack_entry_at(0, ws), ws), null_entry);
  EXPECT_EQ(load_entry(stack_entry_at(2, ws), ws), entries[3]);

  StackEntry out;
  unstack(out, ws);
  EXPECT_EQ(out, null_entry);
  for (auto it = entries.rbegin(); it != entries.rend(); ++it) {
    unstack(out, ws);
    EXPECT_EQ(out, *it);
  }
  EXPECT_TRUE(stack_is_empty(ws));
  EXPECT_EQ(rd32(ws, top - 4), 0u);
  EXPECT_TRUE(heap_consistent(ws));
}

TEST(Stack, PushingAValueHandsItsObjectToTheNewEntry) {
  TestWorkspace t;
  Ws ws = t.ws();
  const std::uint32_t obj = getspc(8, ws);
  set_register(ws, {0x81, 0x08, obj});
  const std::uint32_t e = xpushx(ws);
  EXPECT_EQ(rd32(ws, obj - 4), e);
  EXPECT_EQ(owner_slot(obj, ws), e + se::Value);
  EXPECT_EQ(rd8(ws, obj) & 0x0F, OK_STACK);
  EXPECT_EQ(load_entry(e, ws), (StackEntry{0x81, 0x08, obj}));
  // The register keeps its value but no longer owns the object.
  EXPECT_EQ(load_entry(hdr::TokenRegister, ws), (StackEntry{0x01, 0x08, obj}));
  EXPECT_TRUE(heap_consistent(ws));

  // An owning class with no object: nothing to hand over.
  set_register(ws, {0x81, 0, 0});
  EXPECT_EQ(load_entry(xpushx(ws), ws), (StackEntry{0x81, 0, 0}));
  EXPECT_TRUE(heap_consistent(ws));
}

TEST(Stack, IsPrimerLooksAtClassAndFirstValueByte) {
  TestWorkspace t;
  Ws ws = t.ws();
  struct Case {
    StackEntry e;
    bool primer;
  } cases[] = {{primer, true},
               {{5, 0x01, 0x4500}, true},  // value's first byte 0
               {{5, 0, 0x45}, false},      // a synthetic right parenthesis
               {{0x85, 0, 0}, false},
               {{4, 0, 0}, false}};
  for (const auto& c : cases) {
    stack(c.e, ws);
    push_fake(ws);
    EXPECT_EQ(is_primer(1, ws), c.primer) << int(c.e.cls) << " " << c.e.value;
    EXPECT_FALSE(is_primer(0, ws));
  }
}

// The margin: a push must leave the new entry above heap top + 50. The first
// push that would not compacts once; when nothing is left to reclaim the
// push is WS FULL.
TEST(Stack, PushNearTheHeapCompactsOnceThenIsWsFull) {
  TestWorkspace t;
  Ws ws = t.ws();
  const std::uint32_t waste = getspc(16, ws);  // 24-byte object + owner word
  // A value that fills the gap up to 104 bytes below the stack pointer.
  const std::uint32_t gap_after = 104;
  const std::uint32_t size = rd32(ws, hdr::StackPointer) - rd32(ws, hdr::HeapTop) - 4 - gap_after;
  const std::uint32_t big = getspc(size - 8, ws);
  set_register(ws, {0x81, 0, big});
  mgarb(waste, ws);
  ASSERT_EQ(rd32(ws, hdr::Garbage), 28u);
  ASSERT_EQ(rd32(ws, hdr::StackPointer) - rd32(ws, hdr::HeapTop), gap_after);

  // Gaps 104, 98 … 62: the new entry stays above heap top + 50.
  for (int i = 0; i < 8; ++i) push_fake(ws);
  EXPECT_EQ(rd32(ws, hdr::Garbage), 28u);
  const std::uint32_t top = rd32(ws, hdr::HeapTop);
  const std::uint32_t sp = rd32(ws, hdr::StackPointer);
  ASSERT_EQ(sp - top, 56u);

  push_fake(ws);
  EXPECT_EQ(rd32(ws, hdr::Garbage), 0u);
  EXPECT_EQ(rd32(ws, hdr::HeapTop), top - 28);
  EXPECT_EQ(rd32(ws, hdr::StackPointer), sp - 6);
  EXPECT_EQ(load_entry(hdr::TokenRegister, ws).value, big - 28);  // the slot followed its object
  EXPECT_TRUE(heap_consistent(ws));

  // Gaps 78 … 60 still fit; the push after that has nothing to reclaim.
  for (int i = 0; i < 4; ++i) push_fake(ws);
  const std::uint32_t sp_full = rd32(ws, hdr::StackPointer);
  const std::uint32_t top_full = rd32(ws, hdr::HeapTop);
  try {
    push_fake(ws);
    FAIL() << "no WS FULL";
  } catch (const AplError& e) {
    EXPECT_EQ(e.code, E_WS_FULL);
  }
  EXPECT_EQ(rd16(ws, hdr::EtMajor), 1);
  EXPECT_EQ(rd16(ws, hdr::EtMinor), 3);
  EXPECT_EQ(rd32(ws, hdr::StackPointer), sp_full);
  EXPECT_EQ(rd32(ws, hdr::HeapTop), top_full);
  EXPECT_TRUE(heap_consistent(ws));
}

// An inconsistency found by the heap becomes an exception the test sees,
// instead of the end of the process.
struct SystemErrorSeen {};
class ThrowOnSystemError {
 public:
  ThrowOnSystemError() { set_system_error_handler([](const char*, int, Ws) { throw SystemErrorSeen{}; }); }
  ~ThrowOnSystemError() { set_system_error_handler(nullptr); }
};

// A workspace whose free gap is about `gap` bytes, with a 28-byte released object
// low in the heap: the next push that needs room compacts and moves every
// object above it down by 28.
void leave_gap(std::uint32_t gap, Ws ws) {
  const std::uint32_t waste = getspc(16, ws);
  const std::uint32_t size = rd32(ws, hdr::StackPointer) - rd32(ws, hdr::HeapTop) - 4 - 6 - gap;
  const std::uint32_t filler = getspc(size - 8, ws);
  stack(StackEntry{0x81, 0, filler}, ws);
  mgarb(waste, ws);
  ASSERT_EQ(rd32(ws, hdr::Garbage), 28u);
}

// Pushing an entry that owns an object (a fresh result, or one the token
// register holds) when the push has to compact: the entry gets the object's
// new offset, whoever held the object before.
TEST(Stack, APushThatCompactsKeepsItsObjectsNewOffset) {
  ThrowOnSystemError syserr;
  for (const bool in_register : {false, true}) {
    SCOPED_TRACE(in_register ? "held by the token register" : "fresh");
    TestWorkspace t;
    Ws ws = t.ws();
    leave_gap(200, ws);
    const std::uint32_t obj = getspc(8, ws);  // owner word: the token register
    wr32(ws, obj + 8, 0x12345678);
    if (in_register) set_register(ws, {0x81, 0, obj});
    // Entries pushed after the allocation eat the room it left.
    while (rd32(ws, hdr::StackPointer) - rd32(ws, hdr::HeapTop) >= 57) push_fake(ws);
    const std::uint32_t sp = rd32(ws, hdr::StackPointer);
    const std::uint32_t e = stack(StackEntry{0x81, 0x08, obj}, ws);
    EXPECT_EQ(rd32(ws, hdr::Garbage), 0u);
    EXPECT_EQ(e, sp - 6);
    EXPECT_EQ(load_entry(e, ws), (StackEntry{0x81, 0x08, obj - 28}));
    EXPECT_EQ(rd32(ws, obj - 28 + 8), 0x12345678u);
    EXPECT_EQ(owner_slot(obj - 28, ws), e + se::Value);
    EXPECT_TRUE(heap_consistent(ws));
  }
}

// A push that finds no room: the object is not lost. One the token register
// holds stays with it; a fresh one, which nothing holds, is released.
TEST(Stack, APushThatIsWsFullLeavesItsObjectAccountedFor) {
  ThrowOnSystemError syserr;
  for (const bool in_register : {false, true}) {
    SCOPED_TRACE(in_register ? "held by the token register" : "fresh");
    TestWorkspace t;
    Ws ws = t.ws();
    leave_gap(200, ws);
    force_gcol(ws);  // nothing left to reclaim
    const std::uint32_t top = rd32(ws, hdr::HeapTop);
    const std::uint32_t obj = getspc(8, ws);
    if (in_register) set_register(ws, {0x81, 0, obj});
    while (rd32(ws, hdr::StackPointer) - rd32(ws, hdr::HeapTop) >= 57) push_fake(ws);
    const std::uint32_t sp = rd32(ws, hdr::StackPointer);
    try {
      stack(StackEntry{0x81, 0, obj}, ws);
      FAIL() << "no WS FULL";
    } catch (const AplError& err) {
      EXPECT_EQ(err.code, E_WS_FULL);
    }
    EXPECT_EQ(rd32(ws, hdr::StackPointer), sp);
    if (in_register) {
      EXPECT_EQ(owner_slot(obj, ws), hdr::TokenRegister + se::Value);
      EXPECT_EQ(rd32(ws, hdr::HeapTop), obj + 20);
    } else {
      EXPECT_EQ(rd32(ws, hdr::HeapTop), top);
    }
    EXPECT_TRUE(heap_consistent(ws));
  }
}

// A name without a value may be pushed only as a class member or as the
// target of a dot.
TEST(Stack, PushingAValuelessNameIsValueError) {
  TestWorkspace t;
  Ws ws = t.ws();
  const std::uint32_t entry = kBucketArea;
  wr8(ws, entry + sym::Length, 1);
  const std::uint32_t token = token_of_entry(entry);
  const std::uint32_t line = getspc(8, ws);
  wr32(ws, hdr::CurrentLine, line);
  wr32(ws, hdr::LineCursor, 10);
  struct Case {
    std::uint8_t cls, flags, symtype;
    bool dot_left, error;
  } cases[] = {
      {1, 0, SYM_UNDEF, false, true},
      {22, 0, SYM_UNDEF, false, true},
      {1, 0, kSymLocalFlag | SYM_UNDEF, false, true},
      {1, kSeClassMember, SYM_UNDEF, false, false},
      {1, 0, SYM_UNDEF, true, false},
      {1, 0, SYM_VAR, false, false},
      {22, 0, SYM_FN2, false, false},
      {2, 0, SYM_UNDEF, false, false},  // not a name class
  };
  for (const auto& c : cases) {
    wr8(ws, entry + sym::Type, c.symtype);
    wr8(ws, line + 9, c.dot_left ? kDotTag : 0x61);
    set_register(ws, {c.cls, c.flags, token});
    const std::uint32_t sp = rd32(ws, hdr::StackPointer);
    bool raised = false;
    try {
      xpushx(ws);
    } catch (const AplError& e) {
      raised = true;
      EXPECT_EQ(e.code, E_VALUE);
      EXPECT_EQ(rd16(ws, hdr::EtMajor), 3);
      EXPECT_EQ(rd16(ws, hdr::EtMinor), 1);
    }
    EXPECT_EQ(raised, c.error) << int(c.cls) << " " << int(c.flags) << " " << int(c.symtype) << " " << c.dot_left;
    EXPECT_EQ(rd32(ws, hdr::StackPointer), c.error ? sp : sp - kStackEntrySize);
  }
}

TEST(ArgDescriptor, FieldsLieWhereTheHeaderExpectsThem) {
  TestWorkspace t;
  Ws ws = t.ws();
  ArgDescriptor d;
  d.type = ET_FLOAT;
  d.shape = kShapeSingle | kShapeOneElement;
  d.reg = Extended80::make(0x3FFF, 0xC000000000000000ull);
  d.offset_word = 0x11111111;
  d.nest_result = 0x22222222;
  d.cursor = 0x33333333;
  d.first = 16;
  d.count = 0x44444444;
  d.step = 8;
  d.word = 0x55555555;
  d.bits = 0x6666;
  for (std::uint32_t at : {hdr::LeftDesc, hdr::RightDesc, hdr::ResultDesc}) {
    store_desc(at, d, ws);
    EXPECT_EQ(load_desc(at, ws), d);
    EXPECT_EQ(rd8(ws, at), ET_FLOAT);
    EXPECT_EQ(rd8(ws, at + 1), 0x88);
    EXPECT_EQ(rd16(ws, at + 2), 0x3FFF);  // the register's exponent word
    EXPECT_EQ(rd32(ws, at + 4), 0xC0000000u);
    EXPECT_EQ(rd32(ws, at + 12), 0x11111111u);
    EXPECT_EQ(rd32(ws, at + 28), 0x44444444u);
    EXPECT_EQ(rd16(ws, at + 40), 0x6666);
    EXPECT_EQ(desc_reg(at, ws), d.reg);
  }
  EXPECT_EQ(hdr::RightDesc - hdr::LeftDesc, desc::Size);
  EXPECT_EQ(hdr::ResultDesc - hdr::RightDesc, desc::Size);
}

// Descriptors saved at the high end of the nested-result area come back in
// reverse order, with their item words.
TEST(ArgDescriptor, SavedAndRestoredAroundNestedWork) {
  TestWorkspace t;
  Ws ws = t.ws();
  wr32(ws, hdr::NestLow, rd32(ws, hdr::HeapTop) - 4);
  const std::uint32_t high = rd32(ws, hdr::StackPointer);
  wr32(ws, hdr::NestHigh, high);
  auto fill = [&](std::uint8_t seed) {
    for (std::uint32_t i = 0; i < 3 * desc::Size; ++i) wr8(ws, hdr::LeftDesc + i, seed + i);
    wr32(ws, hdr::LeftItem, 0x1000u + seed);
    wr32(ws, hdr::RightItem, 0x2000u + seed);
  };
  fill(1);
  std::vector<std::uint8_t> saved(ws + hdr::LeftDesc, ws + hdr::LeftDesc + 3 * desc::Size);
  push_left(ws);
  EXPECT_EQ(rd32(ws, hdr::NestHigh), high - 46);
  EXPECT_EQ(rd32(ws, high - 46), 0x1001u);  // the item word on top
  EXPECT_EQ(std::memcmp(ws + high - 42, saved.data(), 42), 0);
  push_right(ws);
  push_result(ws);
  EXPECT_EQ(rd32(ws, hdr::NestHigh), high - 134);

  fill(100);
  // Padding bytes are not part of the saved descriptor.
  const std::uint16_t padding = rd16(ws, hdr::ResultDesc + 42);
  EXPECT_EQ(pop_result(ws), 42u);
  EXPECT_EQ(pop_right(ws), 42u);
  EXPECT_EQ(pop_left(ws), 42u);
  EXPECT_EQ(rd32(ws, hdr::NestHigh), high);
  EXPECT_EQ(rd32(ws, hdr::LeftItem), 0x1001u);
  EXPECT_EQ(rd32(ws, hdr::RightItem), 0x2001u);
  for (std::uint32_t i = 0; i < 3 * desc::Size; ++i) {
    if (i % desc::Size >= desc::Saved) continue;
    EXPECT_EQ(rd8(ws, hdr::LeftDesc + i), saved[i]) << i;
  }
  EXPECT_EQ(rd16(ws, hdr::ResultDesc + 42), padding);
}

TEST(ArgDescriptor, NestPushMustStayAboveTheLowEnd) {
  TestWorkspace t;
  Ws ws = t.ws();
  const std::uint32_t high = rd32(ws, hdr::StackPointer);
  struct Case {
    std::uint32_t room;
    bool fits;
  } cases[] = {{41, false}, {42, false}, {43, true}, {200, true}};
  for (const auto& c : cases) {
    wr32(ws, hdr::NestHigh, high);
    wr32(ws, hdr::NestLow, high - c.room);
    bool raised = false;
    try {
      push_nest(42, hdr::LeftDesc, ws);
    } catch (const AplError& e) {
      raised = true;
      EXPECT_EQ(e.code, E_WS_FULL);
    }
    EXPECT_EQ(raised, !c.fits) << c.room;
    EXPECT_EQ(rd32(ws, hdr::NestHigh), c.fits ? high - 42 : high) << c.room;
  }
  wr32(ws, hdr::NestHigh, 20);
  wr32(ws, hdr::NestLow, 0);
  EXPECT_THROW(push_nest(42, hdr::LeftDesc, ws), AplError);  // would wrap below 0
}

}  // namespace
}  // namespace zema
