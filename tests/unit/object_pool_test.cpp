// The object pool: slots, reference counts, the cycle sweep at compaction,
// renumbering, and a seeded random run checked after every step.
#include <gtest/gtest.h>

#include <map>
#include <random>
#include <set>
#include <vector>

#include "interpreter/workspace/arrays.h"
#include "interpreter/workspace/heap.h"
#include "interpreter/workspace/integrity.h"
#include "interpreter/workspace/object_pool.h"
#include "test_workspace.h"

namespace zema {
namespace {

using test::TestWorkspace;

// Root words reserved at the top of the execution stack, owning their
// objects as stack entries do (owner kind 2), so that the sweep sees them.
class Roots {
 public:
  Roots(Ws ws, int n) : ws_(ws), n_(n) {
    const std::uint32_t sp = rd32(ws, hdr::StackPointer);
    base_ = sp - 4 * static_cast<std::uint32_t>(n);
    for (int i = 0; i < n; ++i) wr32(ws, base_ + 4 * i, 0);
    wr32(ws, hdr::StackPointer, base_ - 4);
  }
  std::uint32_t word(int i) const { return base_ + 4 * static_cast<std::uint32_t>(i); }
  std::uint32_t object(int i) const { return rd32(ws_, word(i)); }
  void put(int i, std::uint32_t off) {
    wr32(ws_, word(i), off);
    set_owner(off, word(i) - 2, OK_STACK, ws_);
  }
  void release(int i) {
    const std::uint32_t off = object(i);
    wr32(ws_, word(i), 0);
    if (off) mgarb(off, ws_);
  }
  int size() const { return n_; }

 private:
  Ws ws_;
  int n_;
  std::uint32_t base_;
};

constexpr std::uint32_t kProps = 2;

// A new APL instance with room for kProps property entries, all without
// value; answers its slot.
std::uint32_t new_instance(Ws ws) {
  const std::uint32_t off = create_object_instance(pobj::HeaderSize + mentry::Size * kProps, ws);
  wr8(ws, off + pobj::Arch, 0);
  wr32(ws, off + pobj::Count, kProps);
  for (std::uint32_t i = 0; i < kProps; ++i) wr8(ws, off + pobj::Entries + mentry::Size * i + mentry::Kind, 3);
  return rd32(ws, off + pobj::OwnSlot);
}

// A reference vector of `slots`, each reference counted; owned by the token
// register until the caller hands it on.
std::uint32_t ref_vector(const std::vector<std::uint32_t>& slots, Ws ws) {
  const auto n = static_cast<std::uint32_t>(slots.size());
  const std::uint32_t a = new_array(ET_OBJREF, 1, &n, ws);
  for (std::uint32_t i = 0; i < n; ++i) wr32(ws, array_data(a, ws) + 4 * i, slots[i]);
  count_value_references(a, ws);
  return a;
}

// Gives property k of the instance in `slot` the reference vector `slots`
// (its old value released).
void set_property(std::uint32_t slot, std::uint32_t k, const std::vector<std::uint32_t>& slots, Ws ws) {
  const std::uint32_t a = ref_vector(slots, ws);
  const std::uint32_t e = find_object_instance(slot, ws) + pobj::Entries + mentry::Size * k;
  const std::uint32_t old = rd32(ws, e + mentry::Value);
  wr32(ws, e + mentry::Value, a);
  set_owner(a, e + mentry::Value, OK_WORD, ws);
  if (old) mgarb(old, ws);
}

std::uint32_t serial(std::uint32_t slot, Ws ws) { return rd32(ws, find_object_instance(slot, ws) + pobj::SerialLow); }
std::uint32_t count_of(std::uint32_t slot, Ws ws) { return rd32(ws, find_object_instance(slot, ws) + pobj::RefCount); }

TEST(ObjectPool, ANewPoolAndItsFirstObject) {
  TestWorkspace t;
  Ws ws = t.ws();
  EXPECT_EQ(object_pool(ws), 0u);
  Roots r(ws, 1);
  const std::uint32_t s = new_instance(ws);
  const std::uint32_t p = object_pool(ws);
  ASSERT_NE(p, 0u);
  EXPECT_EQ(rd32(ws, p + pool::Capacity), 100u);
  EXPECT_EQ(rd32(ws, p + obj::Size), 40u + 400u);
  EXPECT_EQ(rd32(ws, p - 4), hdr::ObjectPool);
  EXPECT_EQ(s, 1u);
  EXPECT_EQ(rd32(ws, p + pool::InUse), 2u);
  EXPECT_EQ(rd32(ws, p + pool::LowestFree), 2u);
  EXPECT_EQ(serial(s, ws), 1u);
  EXPECT_EQ(count_of(s, ws), 0u);
  r.put(0, ref_vector({s}, ws));
  EXPECT_EQ(count_of(s, ws), 1u);
  EXPECT_TRUE(object_pool_consistent(ws));
  EXPECT_TRUE(heap_consistent(ws));
  // Dropping the only reference frees the object; the next compaction the pool.
  r.release(0);
  EXPECT_EQ(find_object_instance(s, ws), 0u);
  force_gcol(ws);
  EXPECT_EQ(object_pool(ws), 0u);
  EXPECT_TRUE(object_pool_consistent(ws));
  EXPECT_TRUE(heap_consistent(ws));
}

TEST(ObjectPool, InstancesReferringToEachOtherAreFreedAtTheNextCompaction) {
  TestWorkspace t;
  Ws ws = t.ws();
  Roots r(ws, 3);
  const std::uint32_t a = new_instance(ws), b = new_instance(ws), kept = new_instance(ws);
  r.put(0, ref_vector({a}, ws));
  r.put(1, ref_vector({b}, ws));
  r.put(2, ref_vector({kept}, ws));
  set_property(a, 0, {b}, ws);
  set_property(b, 1, {a, kept}, ws);
  EXPECT_EQ(count_of(a, ws), 2u);
  EXPECT_EQ(count_of(kept, ws), 2u);
  r.release(0);
  r.release(1);
  // The counts cannot free them; the sweep flag is set.
  EXPECT_NE(find_object_instance(a, ws), 0u);
  EXPECT_NE(find_object_instance(b, ws), 0u);
  EXPECT_TRUE(rd8(ws, object_pool(ws) + pool::Flags) & kCyclesPossible);
  EXPECT_TRUE(object_pool_consistent(ws));
  force_gcol(ws);
  EXPECT_EQ(find_object_instance(a, ws), 0u);
  EXPECT_EQ(find_object_instance(b, ws), 0u);
  ASSERT_NE(find_object_instance(kept, ws), 0u);
  EXPECT_EQ(count_of(kept, ws), 1u);  // b's reference to it went with b
  EXPECT_FALSE(rd8(ws, object_pool(ws) + pool::Flags) & kCyclesPossible);
  EXPECT_EQ(rd32(ws, object_pool(ws) + pool::InUse), 2u);
  EXPECT_TRUE(object_pool_consistent(ws));
  EXPECT_TRUE(heap_consistent(ws));
}

TEST(ObjectPool, DroppingMostObjectsRenumbersTheRestAndRewritesReferences) {
  TestWorkspace t(2 * 1024 * 1024);
  Ws ws = t.ws();
  Roots r(ws, 301);
  for (int i = 0; i < 300; ++i) r.put(i, ref_vector({new_instance(ws)}, ws));
  // The kept objects also refer to each other through a property, and a
  // nested value holds two of them.
  std::vector<std::uint32_t> serials;
  for (int i = 250; i < 300; ++i) serials.push_back(serial(rd32(ws, array_data(r.object(i), ws)), ws));
  const std::uint32_t s260 = rd32(ws, array_data(r.object(260), ws));
  const std::uint32_t s299 = rd32(ws, array_data(r.object(299), ws));
  set_property(s260, 0, {s299, s260}, ws);
  for (int i = 0; i < 250; ++i) r.release(i);
  force_gcol(ws);
  const std::uint32_t p = object_pool(ws);
  EXPECT_EQ(rd32(ws, p + pool::InUse), 51u);
  EXPECT_EQ(rd32(ws, p + pool::Capacity), 151u);
  EXPECT_EQ(rd32(ws, p + pool::LowestFree), 51u);
  for (int i = 250; i < 300; ++i) {
    const std::uint32_t s = rd32(ws, array_data(r.object(i), ws));
    EXPECT_GE(s, 1u);
    EXPECT_LE(s, 50u);
    EXPECT_EQ(serial(s, ws), serials[i - 250]) << i;
  }
  const std::uint32_t n260 = rd32(ws, array_data(r.object(260), ws));
  const std::uint32_t n299 = rd32(ws, array_data(r.object(299), ws));
  const std::uint32_t v = rd32(ws, find_object_instance(n260, ws) + pobj::Entries + mentry::Value);
  EXPECT_EQ(rd32(ws, array_data(v, ws)), n299);
  EXPECT_EQ(rd32(ws, array_data(v, ws) + 4), n260);
  EXPECT_EQ(rd32(ws, v - 4), find_object_instance(n260, ws) + pobj::Entries + mentry::Value);
  EXPECT_TRUE(object_pool_consistent(ws));
  EXPECT_TRUE(heap_consistent(ws));
}

TEST(ObjectPool, TheIntegrityCheckFindsPooledObjectsThroughTheirOwnSlot) {
  TestWorkspace t;
  Ws ws = t.ws();
  Roots r(ws, 3);
  for (int i = 0; i < 3; ++i) r.put(i, ref_vector({new_instance(ws)}, ws));
  set_property(2, 0, {1, 3}, ws);
  EXPECT_EQ(check_integrity(ws), IF_OK);
  r.release(0);
  force_gcol(ws);
  EXPECT_EQ(check_integrity(ws), IF_OK);
}

TEST(ObjectPool, TheSerialNumberCarriesIntoTheHighWord) {
  TestWorkspace t;
  Ws ws = t.ws();
  wr32(ws, hdr::SerialLow, 0xFFFFFFFFu);
  const std::uint32_t off = find_object_instance(new_instance(ws), ws);
  EXPECT_EQ(rd32(ws, off + pobj::SerialHigh), 1u);
  EXPECT_EQ(rd32(ws, off + pobj::SerialLow), 0u);
}

TEST(ObjectPool, ReferencesInNestedArraysAreFoundAndNullified) {
  TestWorkspace t;
  Ws ws = t.ws();
  Roots r(ws, 1);
  const std::uint32_t s = new_instance(ws);
  r.put(0, ref_vector({s, 0, s}, ws));
  EXPECT_EQ(count_of(s, ws), 2u);
  const std::uint32_t ints = new_int_scalar(3, ws);
  EXPECT_FALSE(contains_object_reference(ints, ws));
  mgarb(ints, ws);
  EXPECT_TRUE(contains_object_reference(r.object(0), ws));
  const std::uint32_t nulls = ref_vector({0, 0}, ws);
  EXPECT_TRUE(contains_object_reference(nulls, ws));
  nullify_object_references(r.object(0), ws);
  EXPECT_EQ(rd32(ws, array_data(r.object(0), ws)), 0u);
  EXPECT_EQ(rd32(ws, array_data(r.object(0), ws) + 8), 0u);
}

TEST(ObjectPool, ReleasingAnObjectBeforeItsTypeIsWrittenReleasesNoReferences) {
  TestWorkspace t;
  Ws ws = t.ws();
  Roots r(ws, 1);
  const std::uint32_t s = new_instance(ws);
  r.put(0, ref_vector({s}, ws));
  // A reference array released at the top leaves its bytes behind: the
  // next object there, released before its maker wrote a type, must not
  // be taken for it.
  const std::uint32_t stale = ref_vector({s}, ws);
  EXPECT_EQ(count_of(s, ws), 2u);
  mgarb(stale, ws);
  EXPECT_EQ(count_of(s, ws), 1u);
  const std::uint32_t fresh = getspc(16, ws);
  EXPECT_EQ(fresh, stale);
  mgarb(fresh, ws);
  ASSERT_NE(find_object_instance(s, ws), 0u);
  EXPECT_EQ(count_of(s, ws), 1u);
}

// Growth by half again: 3000 objects with a compaction every 50 copy the
// slot table a logarithmic number of times, a grown pool is not cut back
// while it fills, and releases with compactions between them keep the
// pool consistent, the references right and a second compaction idle.
TEST(ObjectPool, GrowthIsGeometricAndShrinkingKeepsThePoolConsistent) {
  TestWorkspace t(4 * 1024 * 1024);
  Ws ws = t.ws();
  constexpr int kObjects = 3000;
  Roots r(ws, kObjects);
  std::vector<std::uint32_t> serials;
  std::uint32_t cap = 0;
  int grown = 0;
  for (int i = 0; i < kObjects; ++i) {
    const std::uint32_t s = new_instance(ws);
    serials.push_back(serial(s, ws));
    r.put(i, ref_vector({s}, ws));
    if (i % 50 == 49) force_gcol(ws);
    const std::uint32_t now = rd32(ws, object_pool(ws) + pool::Capacity);
    ASSERT_GE(now, cap) << i;
    if (now != cap) ++grown;
    cap = now;
  }
  EXPECT_LE(grown, 12);
  ASSERT_TRUE(object_pool_consistent(ws));
  ASSERT_TRUE(heap_consistent(ws));
  auto slot_at = [&](int i) { return rd32(ws, array_data(r.object(i), ws)); };
  // Release in rounds (every other, then the top half, then all but 40),
  // compacting after each.
  std::vector<bool> kept(kObjects, true);
  auto round = [&](auto drop) {
    for (int i = 0; i < kObjects; ++i)
      if (kept[i] && drop(i)) {
        r.release(i);
        kept[i] = false;
      }
    force_gcol(ws);
    ASSERT_TRUE(object_pool_consistent(ws));
    ASSERT_TRUE(heap_consistent(ws));
    const std::uint32_t p = object_pool(ws);
    const std::uint32_t used = rd32(ws, p + pool::InUse);
    const std::uint32_t c = rd32(ws, p + pool::Capacity);
    EXPECT_LT(c - used, 2 * pool::NewCapacity + pool::ShrinkAt);
    for (int i = 0; i < kObjects; ++i)
      if (kept[i]) {
        ASSERT_LT(slot_at(i), c) << i;
        ASSERT_EQ(serial(slot_at(i), ws), serials[i]) << i;
      }
    force_gcol(ws);
    EXPECT_EQ(rd32(ws, object_pool(ws) + pool::Capacity), c);
  };
  round([](int i) { return i % 2 == 1; });
  EXPECT_EQ(rd32(ws, object_pool(ws) + pool::Capacity), 1501u + pool::NewCapacity);
  round([](int i) { return i >= kObjects / 2; });
  round([](int i) { return i >= 80; });
  EXPECT_EQ(rd32(ws, object_pool(ws) + pool::InUse), 41u);
  // Growing again from the shrunk pool.
  for (int i = 1; i < kObjects; i += 2) {
    r.put(i, ref_vector({new_instance(ws)}, ws));
    kept[i] = true;
  }
  EXPECT_TRUE(object_pool_consistent(ws));
  EXPECT_TRUE(heap_consistent(ws));
  EXPECT_TRUE(object_reference_counts_consistent(true, ws));
}

// ---- the random run ----------------------------------------------------------------------

// What the workspace must hold: each root's reference vector and each
// instance's property vectors, by serial number (0 = null reference).
struct Model {
  std::vector<std::vector<std::uint32_t>> roots;
  std::map<std::uint32_t, std::vector<std::vector<std::uint32_t>>> props;

  std::set<std::uint32_t> reachable() const {
    std::set<std::uint32_t> seen;
    std::vector<std::uint32_t> work;
    for (const auto& r : roots)
      for (auto s : r) work.push_back(s);
    while (!work.empty()) {
      const std::uint32_t s = work.back();
      work.pop_back();
      if (s == 0 || !seen.insert(s).second) continue;
      for (const auto& p : props.at(s))
        for (auto x : p) work.push_back(x);
    }
    return seen;
  }
};

// Checks the pool and the heap, and the workspace against the model:
// every reference leads to the object of the model's serial, every count
// equals the references held by roots and live objects, every reachable
// object lives and, after a sweep, nothing else does.
void check(Ws ws, const Roots& r, const Model& m, bool swept, int step) {
  ASSERT_TRUE(object_pool_consistent(ws)) << step;
  ASSERT_TRUE(heap_consistent(ws)) << step;
  std::map<std::uint32_t, std::uint32_t> slot_of;  // serial → slot
  std::map<std::uint32_t, std::uint32_t> refs;     // slot → references counted here
  const std::uint32_t p = object_pool(ws);
  const std::uint32_t cap = p ? rd32(ws, p + pool::Capacity) : 0;
  for (std::uint32_t s = 1; s < cap; ++s)
    if (std::uint32_t off = rd32(ws, p + pool::Table + 4 * s)) slot_of[rd32(ws, off + pobj::SerialLow)] = s;
  auto compare = [&](std::uint32_t array, const std::vector<std::uint32_t>& want) {
    ASSERT_EQ(array_count(array, ws), want.size()) << step;
    for (std::size_t i = 0; i < want.size(); ++i) {
      const std::uint32_t s = rd32(ws, array_data(array, ws) + 4 * static_cast<std::uint32_t>(i));
      if (want[i] == 0) {
        ASSERT_EQ(s, 0u) << step;
        continue;
      }
      ASSERT_NE(s, 0u) << step;
      ASSERT_NE(find_object_instance(s, ws), 0u) << step;
      ASSERT_EQ(serial(s, ws), want[i]) << step;
      ++refs[s];
    }
  };
  for (int i = 0; i < r.size(); ++i) {
    if (m.roots[i].empty()) {
      ASSERT_EQ(r.object(i), 0u) << step;
      continue;
    }
    compare(r.object(i), m.roots[i]);
  }
  const auto live = m.reachable();
  for (auto serial_no : live) ASSERT_TRUE(slot_of.count(serial_no)) << step << " lost " << serial_no;
  for (const auto& [serial_no, s] : slot_of) {
    const std::uint32_t off = find_object_instance(s, ws);
    const auto& want = m.props.at(serial_no);
    for (std::uint32_t k = 0; k < kProps; ++k) {
      const std::uint32_t v = rd32(ws, off + pobj::Entries + mentry::Size * k + mentry::Value);
      if (want[k].empty()) {
        ASSERT_EQ(v, 0u) << step;
        continue;
      }
      ASSERT_EQ(rd32(ws, v - 4), off + pobj::Entries + mentry::Size * k + mentry::Value) << step;
      compare(v, want[k]);
    }
  }
  for (const auto& [serial_no, s] : slot_of) {
    ASSERT_EQ(count_of(s, ws), refs[s]) << step << " serial " << serial_no;
    ASSERT_GT(count_of(s, ws), 0u) << step;
    if (swept) {
      ASSERT_TRUE(live.count(serial_no)) << step << " leaked " << serial_no;
    }
  }
}

TEST(ObjectPool, ASeededRandomRunKeepsThePoolConsistent) {
  TestWorkspace t(1024 * 1024);
  Ws ws = t.ws();
  Roots r(ws, 12);
  Model m;
  m.roots.resize(12);
  std::mt19937 rng(20240522);
  auto pick = [&](int n) { return static_cast<int>(rng() % static_cast<unsigned>(n)); };
  // A live object's slot, by the serial numbers the roots and properties show.
  auto slot_for = [&](std::uint32_t serial_no) {
    const std::uint32_t p = object_pool(ws);
    for (std::uint32_t s = 1; s < rd32(ws, p + pool::Capacity); ++s)
      if (std::uint32_t off = rd32(ws, p + pool::Table + 4 * s))
        if (rd32(ws, off + pobj::SerialLow) == serial_no) return s;
    return 0u;
  };
  std::uint32_t max_in_use = 0;
  int sweeps_freed = 0;
  for (int step = 0; step < 4000; ++step) {
    const auto live = m.reachable();
    std::vector<std::uint32_t> objects(live.begin(), live.end());
    const int root = pick(r.size());
    bool swept = false;
    switch (pick(10)) {
      case 0:
      case 1: {  // a new instance into a root, with up to two more live references
        const std::uint32_t s = new_instance(ws);
        const std::uint32_t sn = serial(s, ws);
        m.props[sn] = std::vector<std::vector<std::uint32_t>>(kProps);
        std::vector<std::uint32_t> want{sn};
        for (int k = pick(3); k > 0 && !objects.empty(); --k) want.push_back(objects[pick(static_cast<int>(objects.size()))]);
        if (pick(4) == 0) want.push_back(0);
        std::vector<std::uint32_t> slots;
        for (auto x : want) slots.push_back(x ? slot_for(x) : 0);
        const std::uint32_t a = ref_vector(slots, ws);
        r.release(root);
        r.put(root, a);
        m.roots[root] = want;
        break;
      }
      case 2:
      case 3: {  // a root released
        r.release(root);
        m.roots[root].clear();
        break;
      }
      case 4: {  // a root copied into another
        const int from = pick(r.size());
        if (from == root || m.roots[from].empty()) break;
        std::vector<std::uint32_t> slots;
        for (auto x : m.roots[from]) slots.push_back(x ? slot_for(x) : 0);
        const std::uint32_t a = ref_vector(slots, ws);
        r.release(root);
        r.put(root, a);
        m.roots[root] = m.roots[from];
        break;
      }
      case 5:
      case 6:
      case 7: {  // a property of a live instance refers to live objects (cycles arise)
        if (objects.empty()) break;
        const std::uint32_t target = objects[pick(static_cast<int>(objects.size()))];
        const auto k = static_cast<std::uint32_t>(pick(kProps));
        std::vector<std::uint32_t> want;
        for (int j = pick(3); j >= 0; --j) want.push_back(objects[pick(static_cast<int>(objects.size()))]);
        std::vector<std::uint32_t> slots;
        for (auto x : want) slots.push_back(slot_for(x));
        set_property(slot_for(target), k, slots, ws);
        m.props[target][k] = want;
        break;
      }
      case 8: {  // plain garbage, so that heap compaction moves things
        mgarb(getspc(static_cast<std::uint32_t>(pick(200)), ws), ws);
        break;
      }
      case 9: {  // a compaction: sweep, maybe renumbering
        const std::uint32_t before = object_pool(ws) ? rd32(ws, object_pool(ws) + pool::InUse) : 0;
        force_gcol(ws);
        compact_object_pool(ws);
        const std::uint32_t after = object_pool(ws) ? rd32(ws, object_pool(ws) + pool::InUse) : 0;
        if (after < before) ++sweeps_freed;
        swept = true;
        break;
      }
    }
    if (object_pool(ws)) max_in_use = std::max(max_in_use, rd32(ws, object_pool(ws) + pool::InUse));
    // Forget the model's unreachable objects once the workspace has freed them.
    if (swept) {
      const auto reached = m.reachable();
      for (auto it = m.props.begin(); it != m.props.end();) it = reached.count(it->first) ? std::next(it) : m.props.erase(it);
    }
    check(ws, r, m, swept, step);
    if (HasFatalFailure()) return;
  }
  EXPECT_GT(sweeps_freed, 5);
  EXPECT_GT(max_in_use, 20u);
}

}  // namespace
}  // namespace zema
