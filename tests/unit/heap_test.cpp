// The workspace heap: allocation, release and compaction under the
// single-owner rule, and the header of a clear workspace.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "host/charset.h"
#include "interpreter/engine/sysvars.h"
#include "interpreter/session/definition.h"
#include "interpreter/reader/tokeniser.h"
#include "interpreter/session/life.h"
#include "interpreter/workspace/entry.h"
#include "interpreter/workspace/errors.h"
#include "interpreter/workspace/heap.h"
#include "test_workspace.h"

namespace zema {
namespace {

using test::TestWorkspace;

std::uint32_t symvalue(Ws ws, int index) { return rd32(ws, sysvar_value_word(index)); }

TEST(ClearWorkspace, HeaderAndSystemVariables) {
  TestWorkspace t(300 * 1024);
  Ws ws = t.ws();
  const std::uint32_t size = lowglobals(ws).ws_size;
  EXPECT_EQ(size, 300u * 1024 - kLowGlobalsSize);
  EXPECT_EQ(rd32(ws, hdr::HeapTop), 17692u);
  EXPECT_EQ(rd32(ws, hdr::Top), size);
  EXPECT_EQ(rd32(ws, hdr::StackPointer), size - 4);
  EXPECT_EQ(rd32(ws, hdr::SiLink), size - 4);
  EXPECT_EQ(rd32(ws, size - 4), 0u);
  EXPECT_EQ(rd16(ws, hdr::State), 0x0040);
  EXPECT_EQ(rd32(ws, hdr::QuadRL), 16807u);
  EXPECT_EQ(rd16(ws, hdr::QuadCT), 0x3FD3);
  EXPECT_EQ(rd32(ws, hdr::QuadCT + 2), 0xE12E1342u);
  EXPECT_EQ(rd32(ws, hdr::QuadCT + 6), 0x4BB40E10u);
  EXPECT_EQ(rd16(ws, hdr::BucketEntries), 1026);
  EXPECT_EQ(rd16(ws, hdr::BucketSize), 38);
  EXPECT_EQ(rd16(ws, hdr::AttnCountdown), 50);
  EXPECT_EQ(rd16(ws, hdr::AttnReload), 50);
  EXPECT_EQ(rd32(ws, hdr::GarbageLimit), (size - 4 - 17692) / 100);
  // ⎕LX ⎕IO ⎕PP ⎕PW ⎕RL ⎕CT ⎕HT ⎕FC ⎕PR ⎕CS, system variables with 3-character names.
  const char* names[] = {"⎕LX", "⎕IO", "⎕PP", "⎕PW", "⎕RL", "⎕CT", "⎕HT", "⎕FC", "⎕PR", "⎕CS"};
  for (int i = 0; i < 10; ++i) {
    std::string n = utf8_to_internal(names[i]);
    std::uint32_t packed = (3u << 24) | (std::uint8_t(n[0]) << 16) | (std::uint8_t(n[1]) << 8) | std::uint8_t(n[2]);
    EXPECT_EQ(rd32(ws, sysvar_entry(i) + sym::Name), packed) << names[i];
    EXPECT_EQ(rd8(ws, sysvar_entry(i) + sym::Type), 5) << names[i];
    EXPECT_EQ(rd8(ws, sysvar_entry(i) + sym::Length), 3) << names[i];
  }
  EXPECT_EQ(symvalue(ws, sysvar::IO), 1u);    // ⎕IO
  EXPECT_EQ(symvalue(ws, sysvar::PP), 10u);   // ⎕PP
  EXPECT_EQ(symvalue(ws, sysvar::PW), 80u);   // ⎕PW from the session default
  EXPECT_EQ(symvalue(ws, sysvar::PR), 0x20u); // ⎕PR: blank
  std::string wsid = internal_to_utf8(std::string(reinterpret_cast<const char*>(ws + hdr::Wsid + 1), rd8(ws, hdr::Wsid)));
  EXPECT_EQ(wsid, "CLEAR WS");
  EXPECT_TRUE(heap_consistent(ws));
}

TEST(ClearWorkspace, PrintWidthComesFromTheSessionDefault) {
  TestWorkspace t;
  Ws ws = t.ws();
  lowglobals(ws).pw_default = 120;
  clear_workspace(ws);
  EXPECT_EQ(symvalue(ws, sysvar::PW), 120u);
}

// Slots for test objects: words reserved at the top of the execution stack,
// so that compaction never moves them.
class Slots {
 public:
  Slots(Ws ws, int n) : ws_(ws), n_(n) {
    std::uint32_t sp = rd32(ws, hdr::StackPointer);
    base_ = sp - 4 * static_cast<std::uint32_t>(n);
    for (int i = 0; i < n; ++i) wr32(ws, base_ + 4 * i, 0);
    wr32(ws, hdr::StackPointer, base_ - 4);
  }
  std::uint32_t slot(int i) const { return base_ + 4 * static_cast<std::uint32_t>(i); }
  std::uint32_t object(int i) const { return rd32(ws_, slot(i)); }
  void put(int i, std::uint32_t off) {
    wr32(ws_, slot(i), off);
    set_owner(off, slot(i), OK_WORD, ws_);
  }
  int size() const { return n_; }

 private:
  Ws ws_;
  int n_;
  std::uint32_t base_;
};

void fill(Ws ws, std::uint32_t off, std::uint8_t seed) {
  std::uint32_t size = rd32(ws, off + 4);
  for (std::uint32_t i = 8; i < size; ++i) ws[off + i] = static_cast<std::uint8_t>(seed + i);
}

bool intact(Ws ws, std::uint32_t off, std::uint8_t seed) {
  std::uint32_t size = rd32(ws, off + 4);
  for (std::uint32_t i = 8; i < size; ++i)
    if (ws[off + i] != static_cast<std::uint8_t>(seed + i)) return false;
  return true;
}

TEST(Heap, SizesAreRoundedAndTheSmallestObjectIs12Bytes) {
  TestWorkspace t;
  Ws ws = t.ws();
  struct Case {
    std::uint32_t n, size;
  } cases[] = {{0, 12}, {1, 12}, {4, 12}, {5, 16}, {8, 16}, {9, 20}, {100, 108}};
  for (auto c : cases) {
    std::uint32_t top = rd32(ws, hdr::HeapTop);
    std::uint32_t off = getspc(c.n, ws);
    EXPECT_EQ(off, top) << c.n;
    EXPECT_EQ(rd32(ws, off + 4), c.size) << c.n;
    EXPECT_EQ(rd32(ws, hdr::HeapTop), top + c.size + 4) << c.n;
    // A new object belongs to the token register.
    EXPECT_EQ(rd32(ws, off - 4), hdr::TokenRegister);
    EXPECT_EQ(rd8(ws, off) & 0x0F, OK_STACK);
  }
}

TEST(Heap, ReleaseAtTheTopIsImmediateUnlessADefinitionIsOpen) {
  TestWorkspace t;
  Ws ws = t.ws();
  Slots s(ws, 2);
  s.put(0, getspc(40, ws));
  std::uint32_t top = rd32(ws, hdr::HeapTop);
  s.put(1, getspc(40, ws));
  mgarb(s.object(1), ws);
  EXPECT_EQ(rd32(ws, hdr::HeapTop), top);
  EXPECT_EQ(rd32(ws, hdr::Garbage), 0u);

  std::uint32_t off = getspc(40, ws);
  s.put(1, off);
  set_state(st::Defining, 0, ws);
  mgarb(off, ws);
  EXPECT_EQ(rd32(ws, hdr::HeapTop), top + 48 + 4);
  EXPECT_EQ(rd32(ws, hdr::Garbage), 48u + 4);
  EXPECT_EQ(rd32(ws, hdr::LowestReleased), off);
}

TEST(Heap, CompactionWaitsUntilGarbagePassesOnePercentOfTheGap) {
  TestWorkspace t(1024 * 1024);
  Ws ws = t.ws();
  Slots s(ws, 3);
  set_uncollected_garbage_limit(ws);
  const std::uint32_t limit = rd32(ws, hdr::GarbageLimit);
  ASSERT_GT(limit, 1000u);
  // Garbage at the limit: nothing moves.
  s.put(0, getspc(((limit - 4) & ~3u) - 8, ws));
  s.put(1, getspc(16, ws));
  fill(ws, s.object(1), 7);
  mgarb(s.object(0), ws);
  wr32(ws, s.slot(0), 0);
  const std::uint32_t garbage = rd32(ws, hdr::Garbage);
  ASSERT_LE(garbage, limit);
  ASSERT_GT(garbage + 16, limit);
  std::uint32_t before = s.object(1);
  gcol(ws);
  EXPECT_EQ(s.object(1), before);
  EXPECT_EQ(rd32(ws, hdr::Garbage), garbage);
  // One released word more and it compacts.
  s.put(2, getspc(0, ws));
  s.put(0, getspc(0, ws));
  mgarb(s.object(2), ws);
  wr32(ws, s.slot(2), 0);
  gcol(ws);
  EXPECT_EQ(rd32(ws, hdr::Garbage), 0u);
  EXPECT_EQ(s.object(1), kHeapStart);
  EXPECT_TRUE(intact(ws, s.object(1), 7));
  EXPECT_TRUE(heap_consistent(ws));
  // force_gcol does nothing without garbage, and the limit is unchanged.
  std::uint32_t top = rd32(ws, hdr::HeapTop);
  force_gcol(ws);
  EXPECT_EQ(rd32(ws, hdr::HeapTop), top);
  EXPECT_EQ(rd32(ws, hdr::GarbageLimit), limit);
}

TEST(Heap, AllocationNearTheStackCompactsThenRaisesWsFull) {
  TestWorkspace t(128 * 1024);
  Ws ws = t.ws();
  Slots s(ws, 200);
  // Fill the heap with objects of 1 KB, then release every other one.
  int n = 0;
  for (; n < s.size(); ++n) {
    std::uint32_t gap = rd32(ws, hdr::StackPointer) - rd32(ws, hdr::HeapTop);
    if (gap < 1024 + 4 + 100 + 1) break;
    s.put(n, getspc(1024 - 8, ws));
    fill(ws, s.object(n), static_cast<std::uint8_t>(n));
  }
  ASSERT_LT(n, s.size()) << "the heap must be full";
  for (int i = 0; i < n; i += 2) {
    mgarb(s.object(i), ws);
    wr32(ws, s.slot(i), 0);
  }
  // Too little room at the top, enough after compaction.
  std::uint32_t off = getspc(2000, ws);
  EXPECT_EQ(rd32(ws, hdr::Garbage), 0u);
  s.put(0, off);
  for (int i = 1; i < n; i += 2) EXPECT_TRUE(intact(ws, s.object(i), static_cast<std::uint8_t>(i))) << i;
  EXPECT_TRUE(heap_consistent(ws));
  // Nothing to reclaim: WS FULL, and the heap is as it was.
  std::uint32_t top = rd32(ws, hdr::HeapTop);
  try {
    getspc(200 * 1024, ws);
    FAIL() << "no WS FULL";
  } catch (const AplError& e) {
    EXPECT_EQ(e.code, E_WS_FULL);
    EXPECT_EQ(rd16(ws, hdr::EtMajor), 1);
    EXPECT_EQ(rd16(ws, hdr::EtMinor), 3);
  }
  EXPECT_EQ(rd32(ws, hdr::HeapTop), top);
  EXPECT_TRUE(heap_consistent(ws));
  // A byte count whose object size overflows 32 bits is WS FULL too.
  EXPECT_THROW(getspc(0xFFFFFFFFu, ws), AplError);
}

TEST(Heap, TokenLineChainsFollowTheirLinesThroughCompaction) {
  TestWorkspace t;
  Ws ws = t.ws();
  Slots s(ws, 2);
  s.put(0, getspc(100, ws));  // garbage to squeeze out
  // A chain of three token lines: the first owned by a slot, each next one by
  // the previous line's next-line word.
  std::uint32_t l1 = getspc(20, ws), l2 = getspc(20, ws), l3 = getspc(20, ws);
  s.put(1, l1);
  for (std::uint32_t l : {l1, l2, l3}) {
    wr8(ws, l + 1, kHoldsTokenLines);
    wr32(ws, l + 8, 0);
  }
  wr32(ws, l1 + 8, l2);
  set_owner(l2, l1, OK_NEXTLINE, ws);
  wr32(ws, l2 + 8, l3);
  set_owner(l3, l2, OK_NEXTLINE, ws);
  wr32(ws, l3 + 12, 0xC0FFEE);
  mgarb(s.object(0), ws);
  wr32(ws, s.slot(0), 0);
  force_gcol(ws);
  std::uint32_t n1 = s.object(1);
  std::uint32_t n2 = rd32(ws, n1 + 8);
  std::uint32_t n3 = rd32(ws, n2 + 8);
  EXPECT_EQ(n1, kHeapStart);
  EXPECT_EQ(rd32(ws, n2 - 4), n1);
  EXPECT_EQ(rd32(ws, n3 - 4), n2);
  EXPECT_EQ(rd32(ws, n3 + 12), 0xC0FFEEu);
  EXPECT_TRUE(heap_consistent(ws));
}

TEST(Heap, RandomSequencesKeepEveryOwnerAndItsSlotInAgreement) {
  for (unsigned seed : {1u, 2u, 3u, 4u, 5u}) {
    TestWorkspace t(512 * 1024);
    Ws ws = t.ws();
    Slots s(ws, 200);
    std::vector<std::uint8_t> tag(200);
    std::mt19937 rng(seed);
    for (int step = 0; step < 5000; ++step) {
      int i = static_cast<int>(rng() % 200);
      unsigned op = rng() % 10;
      if (s.object(i) == 0 && op < 6) {
        try {
          std::uint32_t off = getspc(rng() % 3000, ws);
          s.put(i, off);
          tag[i] = static_cast<std::uint8_t>(rng());
          fill(ws, off, tag[i]);
        } catch (const AplError& e) {
          ASSERT_EQ(e.code, E_WS_FULL);
        }
      } else if (s.object(i) != 0 && op < 9) {
        mgarb(s.object(i), ws);
        wr32(ws, s.slot(i), 0);
      } else if (op == 9) {
        if (rng() % 2) gcol(ws); else force_gcol(ws);
      }
      ASSERT_TRUE(heap_consistent(ws)) << "seed " << seed << " step " << step;
    }
    for (int i = 0; i < 200; ++i) {
      if (std::uint32_t off = s.object(i)) {
        EXPECT_EQ(rd32(ws, off - 4), s.slot(i));
        EXPECT_TRUE(intact(ws, off, tag[i]));
      }
    }
  }
}

TEST(Heap, NestedResultAreaCarvesTemporariesBelowTheStack) {
  TestWorkspace t;
  Ws ws = t.ws();
  wr32(ws, hdr::NestLow, rd32(ws, hdr::HeapTop) - 4);
  wr32(ws, hdr::NestHigh, rd32(ws, hdr::StackPointer));
  std::uint32_t low = rd32(ws, hdr::NestLow);
  std::uint32_t a = getspc_nest(0, ws);
  EXPECT_EQ(a, low);
  EXPECT_EQ(rd32(ws, a + 4), 12u);
  EXPECT_EQ(rd32(ws, hdr::NestLow), low + 12);
  EXPECT_THROW(getspc_nest(rd32(ws, hdr::NestHigh) - rd32(ws, hdr::NestLow), ws), AplError);
}

// ---- large objects: placed in released runs, left in place by gcol ------------------

constexpr std::uint32_t kLarge = 300 * 1024;  // bytes after the prefix: a large object

TEST(Heap, PlacedLargeObjectsFillTheLowestReleasedRunThatHoldsThem) {
  TestWorkspace t(8 * 1024 * 1024);
  Ws ws = t.ws();
  Slots s(ws, 6);
  s.put(0, getspc(kLarge, ws));   // A
  s.put(1, getspc(40, ws));       // B, 48 bytes
  s.put(2, getspc(kLarge, ws));   // C
  s.put(3, getspc(kLarge, ws));   // D
  s.put(4, getspc(8, ws));        // E keeps the others off the top
  for (int i : {2, 4}) fill(ws, s.object(i), static_cast<std::uint8_t>(i));
  const std::uint32_t a = s.object(0), c = s.object(2), d = s.object(3);
  const std::uint32_t large = rd32(ws, a + obj::Size);
  auto release = [&](int i) {
    mgarb(s.object(i), ws);
    wr32(ws, s.slot(i), 0);
  };
  auto top = [&] { return rd32(ws, hdr::HeapTop); };

  // The same size over A's place: nothing left over.
  release(0);
  std::uint32_t off = getspc_placed(kLarge, ws);
  EXPECT_EQ(off, a);
  EXPECT_EQ(rd32(ws, off - 4), hdr::TokenRegister);
  EXPECT_EQ(rd8(ws, off) & 0x8F, OK_STACK);
  EXPECT_EQ(rd32(ws, off + obj::Size), large);
  EXPECT_EQ(rd32(ws, hdr::Garbage), 0u);
  EXPECT_EQ(rd32(ws, hdr::LowestReleased), 0u);
  s.put(0, off);
  EXPECT_TRUE(heap_consistent(ws));

  // A and B released make one run; 8 bytes more than A leaves 44: a
  // released remainder, still garbage and now the lowest released.
  release(0);
  release(1);
  const std::uint32_t top_before = top();
  off = getspc_placed(kLarge + 8, ws);
  EXPECT_EQ(off, a);
  EXPECT_EQ(top(), top_before);
  EXPECT_EQ(rd32(ws, hdr::Garbage), 44u);
  EXPECT_EQ(rd32(ws, hdr::LowestReleased), a + large + 8 + 4);
  EXPECT_TRUE(rd8(ws, a + large + 8 + 4) & kReleased);
  s.put(0, off);
  EXPECT_TRUE(heap_consistent(ws));

  // A run that would leave 4 to 12 bytes is passed over: D's place (C
  // released below it is too small) ... and with no run fitting, the top.
  release(3);
  off = getspc_placed(kLarge - 8, ws);  // D's run: 8 bytes over, too few for an object
  EXPECT_EQ(off, top_before);
  s.put(5, off);
  mgarb(off, ws);
  wr32(ws, s.slot(5), 0);
  // An object under the large size goes to the top even where a run holds it.
  const std::uint32_t small_top = top();
  off = getspc_placed(1000, ws);
  EXPECT_EQ(off, small_top);
  s.put(5, off);
  // The lowest run that holds it: D's place, not C's data (still live).
  off = getspc_placed(kLarge, ws);
  EXPECT_EQ(off, d);
  s.put(3, off);
  EXPECT_EQ(rd32(ws, hdr::Garbage), 44u);
  EXPECT_TRUE(heap_consistent(ws));
  EXPECT_EQ(s.object(2), c);
  EXPECT_TRUE(intact(ws, s.object(2), 2));
  EXPECT_TRUE(intact(ws, s.object(4), 4));
  // Full compaction takes the remainder too.
  force_gcol(ws);
  EXPECT_EQ(rd32(ws, hdr::Garbage), 0u);
  EXPECT_TRUE(heap_consistent(ws));
  EXPECT_TRUE(intact(ws, s.object(2), 2));
  EXPECT_TRUE(intact(ws, s.object(4), 4));
}

TEST(Heap, TidyingLeavesALargeObjectInPlaceAndItsReleasedSpaceForPlacing) {
  TestWorkspace t(8 * 1024 * 1024);
  Ws ws = t.ws();
  Slots s(ws, 5);
  set_uncollected_garbage_limit(ws);
  s.put(0, getspc(kLarge, ws));  // released: a hole below L
  s.put(1, getspc(kLarge, ws));  // L, large and live
  s.put(2, getspc(100, ws));     // released
  s.put(3, getspc(100, ws));     // small and live
  for (int i : {1, 3}) fill(ws, s.object(i), static_cast<std::uint8_t>(9 * i));
  const std::uint32_t hole = s.object(0), l = s.object(1), small = s.object(2);
  const std::uint32_t hole_bytes = rd32(ws, hole + obj::Size) + 4;
  for (int i : {0, 2}) {
    mgarb(s.object(i), ws);
    wr32(ws, s.slot(i), 0);
  }
  ASSERT_GT(rd32(ws, hdr::Garbage), rd32(ws, hdr::GarbageLimit));
  gcol_leaving_large(ws);
  // L stays; the small object above it slides down over the released one.
  EXPECT_EQ(s.object(1), l);
  EXPECT_EQ(s.object(3), small);
  EXPECT_EQ(rd32(ws, hdr::Garbage), hole_bytes);
  EXPECT_EQ(rd32(ws, hdr::LowestReleased), hole);
  EXPECT_TRUE(heap_consistent(ws));
  EXPECT_TRUE(intact(ws, s.object(1), 9));
  EXPECT_TRUE(intact(ws, s.object(3), 27));
  // The hole takes the next large object.
  s.put(0, getspc_placed(kLarge, ws));
  EXPECT_EQ(s.object(0), hole);
  EXPECT_EQ(rd32(ws, hdr::Garbage), 0u);
  // gcol slides everything.
  mgarb(s.object(0), ws);
  wr32(ws, s.slot(0), 0);
  gcol(ws);
  EXPECT_EQ(s.object(1), hole);
  EXPECT_EQ(rd32(ws, hdr::Garbage), 0u);
  EXPECT_EQ(rd32(ws, hdr::LowestReleased), 0u);
  EXPECT_TRUE(heap_consistent(ws));
  EXPECT_TRUE(intact(ws, s.object(1), 9));
  EXPECT_TRUE(intact(ws, s.object(3), 27));
}

// A large result assigned again and again in a loop: each new result takes
// the place the value before the last one left, so the results keep to two
// places and the heap does not climb.
TEST(Heap, ALoopOfLargeAssignmentsKeepsToTwoPlaces) {
  TestWorkspace t(16 * 1024 * 1024);
  Ws ws = t.ws();
  const LexRoutes saved = lex_routes();
  install_definition_routes();
  test::CaptureTask task;
  test::CurrentTask current(&task);
  for (const char* line : {"X←100000⍴⍳100", "⎕FX 'REP N;I' ':For I :In ⍳N' 'Y←X,X' ':EndFor'",
                           "⎕FX 'REPR N;I' ':For I :In ⍳N' 'Y←200000⍴X' ':EndFor'", "Y←0"})
    test::run_line(line, task, ws);
  const std::uint32_t y = test::symbol_entry("Y", ws);
  ASSERT_NE(y, 0u);
  // Ten assignments in one loop, and ten loops of one.
  for (const char* loop : {"REP 1", "REPR 1", "REP 10", "REPR 10"}) {
    test::run_line(loop, task, ws);
    const std::uint32_t top = rd32(ws, hdr::HeapTop);
    const std::uint32_t result = rd32(ws, rd32(ws, y + sym::Value) + obj::Size) + 4;
    const int runs = loop[std::strlen(loop) - 2] == '1' ? 1 : 10;
    for (int k = 0; k < runs; ++k) {
      EXPECT_EQ(test::run_line(loop, task, ws), "") << loop;
      EXPECT_LE(rd32(ws, hdr::HeapTop), top + result + 4096) << loop << ", run " << k;
      EXPECT_TRUE(heap_consistent(ws)) << loop;
    }
    EXPECT_EQ(test::run_line("(Y≡X,X)∧200000=⍴Y", task, ws), "1\r") << loop;
  }
  lex_routes() = saved;
}

}  // namespace
}  // namespace zema
