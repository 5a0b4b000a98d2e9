// The fast paths of reshape and index-of against plain computations done
// here: boolean patterns cycled a word at a time and other types by copying
// bytes already written; integer index-of through the hash table in the free
// gap and through the scan, characters through their direct table, booleans
// by the first 0 and first 1. Arguments are written into the workspace
// directly, so that no other primitive builds them.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <limits>
#include <random>
#include <string>
#include <unordered_map>
#include <vector>

#include "host/charset.h"
#include "interpreter/workspace/heap.h"
#include "interpreter/engine/line.h"
#include "interpreter/primitives/structural.h"
#include "interpreter/workspace/stack.h"
#include "interpreter/workspace/symtab.h"
#include "test_arrays.h"
#include "test_workspace.h"

namespace zema {
namespace {

using test::ArrayImage;
constexpr std::int32_t kMin = std::numeric_limits<std::int32_t>::min();
constexpr std::int32_t kMax = std::numeric_limits<std::int32_t>::max();

// A cleared workspace of the given size with a silent session; variables
// bound to array images and read back as they lie in the heap.
class Apl {
 public:
  explicit Apl(std::uint32_t bytes = 256 * 1024) : tw_(bytes) {}

  Ws ws() const { return tw_.ws(); }

  // Runs a line; answers all it printed (empty for an assignment that worked).
  std::string run(const std::string& line) { return run_line(line, task_, ws()); }

  std::uint32_t symbol(const std::string& name) {
    const std::uint32_t e = test::symbol_entry(name, ws());
    EXPECT_NE(e, 0u) << name;
    return e;
  }

  // Binds `name` to a heap copy of the image.
  void define(const std::string& name, const ArrayImage& a) {
    ASSERT_EQ(run(name + "←0"), "");
    const std::uint32_t off = getspc(a.size() - 8, ws());
    std::memcpy(ws() + off + 8, a.bytes.data() + 8, a.size() - 8);
    const std::uint32_t entry = symbol(name);
    const std::uint32_t old = rd32(ws(), entry + sym::Value);
    wr32(ws(), entry + sym::Value, off);
    set_owner(off, entry, OK_SYMBOL, ws());
    mgarb(old, ws());
  }

  ArrayInfo value(const std::string& name) { return array_info(rd32(ws(), symbol(name) + sym::Value), ws()); }

  // Bytes between heap top and stack once garbage is gone.
  std::uint32_t gap() {
    force_gcol(ws());
    return rd32(ws(), hdr::StackPointer) - rd32(ws(), hdr::HeapTop);
  }

 private:
  test::TestWorkspace tw_;
  test::CaptureTask task_;
  test::CurrentTask current_{&task_};
};

// Bit i of a boolean array, first element in the most significant bit of
// the first word.
bool bit(const ArrayInfo& a, std::uint32_t i, Ws ws) { return (rd32(ws, a.data + 4 * (i / 32)) >> (31 - i % 32)) & 1; }

std::vector<std::int32_t> ints_of(const ArrayInfo& a, Ws ws) {
  std::vector<std::int32_t> v(a.count);
  for (std::uint32_t k = 0; k < a.count; ++k) v[k] = rdi32(ws, a.data + 4 * k);
  return v;
}

// A simple vector image of `n` elements of `width` bytes each, from raw bytes.
ArrayImage raw_vector(std::uint8_t type, std::uint32_t width, const std::vector<std::uint8_t>& bytes) {
  const auto n = static_cast<std::uint32_t>(bytes.size() / width);
  ArrayImage a = test::raw_array(type, {n}, static_cast<std::uint32_t>(bytes.size()));
  if (!bytes.empty()) std::memcpy(a.bytes.data() + obj::Shape + 4, bytes.data(), bytes.size());
  return a;
}

// ---- reshape ---------------------------------------------------------------------

TEST(ReshapeFast, BooleanPatternsCycleAcrossWordBoundaries) {
  Apl apl;
  std::mt19937 gen(1234);
  std::vector<std::uint32_t> lengths;
  for (std::uint32_t n = 1; n <= 70; ++n) lengths.push_back(n);
  for (std::uint32_t n : {95u, 96u, 97u, 100u, 128u, 1000u}) lengths.push_back(n);
  for (const std::uint32_t n : lengths) {
    std::vector<int> bits(n);
    for (auto& b : bits) b = static_cast<int>(gen() & 1);
    // Result lengths about word edges and, for short patterns, about the
    // 32-word stretch that holds a whole number of periods.
    std::vector<std::uint32_t> counts = {0, 1, 31, 32, 33, 63, 64, 65, 95, 96, 97, 1000, 1001, 2500};
    for (std::uint32_t d : {32 * n - 1, 32 * n, 32 * n + 1, 32 * n + 33, 64 * n + 7}) counts.push_back(d);
    for (int complement = 0; complement < 2; ++complement) {
      apl.define("P", test::bool_vector(bits));
      for (const std::uint32_t count : counts) {
        const std::string line = "Z←" + std::to_string(count) + "⍴P";
        ASSERT_EQ(apl.run(line), "") << "n=" << n;
        const ArrayInfo z = apl.value("Z");
        ASSERT_EQ(z.type, ET_BOOL) << line << " n=" << n;
        ASSERT_EQ(z.rank, 1u);
        ASSERT_EQ(z.count, count);
        std::uint32_t wrong = 0, first_wrong = 0;
        for (std::uint32_t i = 0; i < count; ++i)
          if (bit(z, i, apl.ws()) != (bits[i % n] != 0) && wrong++ == 0) first_wrong = i;
        EXPECT_EQ(wrong, 0u) << line << " n=" << n << " complement=" << complement << " first at " << first_wrong;
        // Compression counts the ones of whole words, so the bits after the
        // last element must be 0.
        if (count % 32) {
          const std::uint32_t last = rd32(apl.ws(), z.data + 4 * (count / 32));
          EXPECT_EQ(last & (~0u >> (count % 32)), 0u) << line << " n=" << n << " complement=" << complement;
        }
      }
      for (auto& b : bits) b = !b;
    }
  }
  // A matrix result, a scalar pattern, and a pattern longer than the result.
  const std::vector<int> p37 = {1, 0, 1, 1, 0, 0, 0, 1, 1, 1, 1, 0, 1, 0, 1, 0, 0, 1, 1,
                                0, 1, 0, 1, 1, 1, 0, 0, 0, 1, 0, 1, 1, 0, 1, 1, 0, 1};
  apl.define("P", test::bool_vector(p37));
  ASSERT_EQ(apl.run("Z←7 13⍴P"), "");
  ArrayInfo z = apl.value("Z");
  ASSERT_EQ(z.rank, 2u);
  EXPECT_EQ(shape_of(z, apl.ws()), (std::vector<std::uint32_t>{7, 13}));
  for (std::uint32_t i = 0; i < 91; ++i) EXPECT_EQ(bit(z, i, apl.ws()), p37[i % 37] != 0) << "7 13⍴P at " << i;
  ASSERT_EQ(apl.run("Z←5⍴P"), "");
  z = apl.value("Z");
  ASSERT_EQ(z.count, 5u);
  EXPECT_EQ(rd32(apl.ws(), z.data), 0xB0000000u);
  apl.define("P", test::bool_array({}, {1}));
  ASSERT_EQ(apl.run("Z←77⍴P"), "");
  z = apl.value("Z");
  ASSERT_EQ(z.count, 77u);
  EXPECT_EQ(rd32(apl.ws(), z.data), ~0u);
  EXPECT_EQ(rd32(apl.ws(), z.data + 4), ~0u);
  EXPECT_EQ(rd32(apl.ws(), z.data + 8), 0xFFF80000u);
  EXPECT_TRUE(heap_consistent(apl.ws()));
}

TEST(ReshapeFast, OtherSimpleTypesCycle) {
  Apl apl;
  struct Kind {
    std::uint8_t type;
    std::uint32_t width;
  };
  for (const Kind k : {Kind{ET_INT, 4}, Kind{ET_FLOAT, 8}, Kind{ET_CHAR, 1}}) {
    for (const std::uint32_t n : {1u, 2u, 3u, 7u, 33u, 250u}) {
      std::vector<std::uint8_t> pattern(n * k.width);
      for (std::uint32_t e = 0; e < n; ++e) {
        if (k.type == ET_INT) {
          const auto v = static_cast<std::int32_t>(2654435761u * (e + 1));
          std::memcpy(&pattern[4 * e], &v, 4);
        } else if (k.type == ET_FLOAT) {
          const double v = (static_cast<double>(e) - 3.0) * 1.25 + 1e-3;
          std::memcpy(&pattern[8 * e], &v, 8);
        } else {
          pattern[e] = static_cast<std::uint8_t>(37 * e + 11);
        }
      }
      apl.define("P", raw_vector(k.type, k.width, pattern));
      for (const std::uint32_t count : {0u, 1u, 2u, 5u, 31u, 32u, 33u, 100u, 1001u, 4099u}) {
        const std::string line = "Z←" + std::to_string(count) + "⍴P";
        ASSERT_EQ(apl.run(line), "");
        const ArrayInfo z = apl.value("Z");
        ASSERT_EQ(z.type, k.type) << line;
        ASSERT_EQ(z.count, count) << line;
        const std::uint8_t* got = apl.ws() + z.data;
        std::uint32_t wrong = 0;
        for (std::uint32_t i = 0; i < count; ++i)
          wrong += std::memcmp(got + std::uint64_t(k.width) * i, &pattern[k.width * (i % n)], k.width) != 0;
        EXPECT_EQ(wrong, 0u) << line << " type " << int(k.type) << " n=" << n;
      }
    }
  }
  EXPECT_TRUE(heap_consistent(apl.ws()));
}

TEST(ReshapeFast, NestedPatternsCycle) {
  Apl apl;
  std::vector<ArrayImage> items;
  for (std::int32_t k = 0; k < 5; ++k) {
    switch (k % 5) {
      case 0: items.push_back(test::int_vector({k, -k, kMin})); break;
      case 1: items.push_back(test::char_vector("ab")); break;
      case 2: items.push_back(test::float_vector({k + 0.5, -1e300})); break;
      case 3: items.push_back(test::enclosed(test::int_vector({k, 9}), 1)); break;
      default: items.push_back(test::nested_vector({test::char_vector("xyz"), test::bool_vector({1, 0, 1})})); break;
    }
  }
  for (const std::uint32_t n : {1u, 2u, 3u, 5u}) {
    apl.define("P", test::nested_vector(std::vector<ArrayImage>(items.begin(), items.begin() + n)));
    for (const std::uint32_t count : {0u, 1u, 4u, 7u, 33u}) {
      const std::string line = "Z←" + std::to_string(count) + "⍴P";
      ASSERT_EQ(apl.run(line), "");
      const ArrayInfo z = apl.value("Z");
      ASSERT_EQ(z.type, ET_NESTED) << line;
      ASSERT_EQ(z.count, count) << line;
      for (std::uint32_t i = 0; i < count; ++i) {
        // Item i, from its size word on, is a copy of item i mod n.
        const std::uint32_t item = z.off + rd32(apl.ws(), z.data + 4 * i);
        const ArrayImage& want = items[i % n];
        ASSERT_EQ(rd32(apl.ws(), item + obj::Size), want.size()) << line << " item " << i;
        EXPECT_EQ(std::memcmp(apl.ws() + item + obj::Type, want.bytes.data() + obj::Type, want.size() - obj::Type), 0)
            << line << " n=" << n << " item " << i;
      }
    }
  }
  EXPECT_TRUE(heap_consistent(apl.ws()));
}

// ---- index of: integers ----------------------------------------------------------------

std::vector<std::int32_t> reference_index_of(const std::vector<std::int32_t>& l, const std::vector<std::int32_t>& r,
                                             std::int32_t io) {
  std::unordered_map<std::int32_t, std::int32_t> first;
  for (std::size_t i = 0; i < l.size(); ++i) first.emplace(l[i], static_cast<std::int32_t>(i));
  std::vector<std::int32_t> z;
  for (const std::int32_t v : r) {
    const auto it = first.find(v);
    z.push_back(io + (it == first.end() ? static_cast<std::int32_t>(l.size()) : it->second));
  }
  return z;
}

struct IntCase {
  std::uint32_t n, m;
  std::uint32_t random_values;  // beside the edge and low-bit values, in the pool L draws from
  bool zero_in_l;
};

// L draws (with many repeats) from a pool of edge values, multiples of 2^16
// and 2^20 that agree in their low bits, and random values; R mixes pool
// values with values L lacks, some agreeing with L's in their low bits.
void make_int_data(const IntCase& c, std::uint32_t seed, std::vector<std::int32_t>& l, std::vector<std::int32_t>& r) {
  std::mt19937 gen(seed);
  std::vector<std::int32_t> pool = {0, 1, -1, kMin, kMin + 1, kMax, kMax - 1, -2, 65536, -65536};
  for (std::int32_t k = -40; k <= 40; ++k) pool.push_back(k * 65536);
  for (std::int32_t k = -40; k <= 40; ++k) pool.push_back(k * (1 << 20));
  for (std::uint32_t k = 0; k < c.random_values; ++k) pool.push_back(static_cast<std::int32_t>(gen()));
  if (!c.zero_in_l) std::erase(pool, 0);
  std::uniform_int_distribution<std::size_t> pick(0, pool.size() - 1);
  l.resize(c.n);
  for (auto& v : l) v = pool[pick(gen)];
  r.clear();
  for (const std::int32_t v : {0, 1, -1, kMin, kMax, kMin + 1, kMax - 1, l.front(), l.back()}) r.push_back(v);
  while (r.size() < c.m) {
    const std::uint32_t kind = gen() % 10;
    if (kind < 5) {
      r.push_back(pool[pick(gen)]);
    } else if (kind < 7) {
      r.push_back(static_cast<std::int32_t>(gen()));
    } else if (kind < 9) {
      r.push_back(static_cast<std::int32_t>((41 + gen() % 200) * (gen() & 1 ? 65536u : 1u << 20)));
    } else {
      r.push_back(l[gen() % c.n]);
    }
  }
  r.resize(c.m);
}

// Runs Z←L⍳R under ⎕IO 0 and 1 and compares with the reference.
void expect_index_of(Apl& apl, const std::vector<std::int32_t>& l, const std::vector<std::int32_t>& r,
                     const std::string& what) {
  for (const std::int32_t io : {1, 0}) {
    ASSERT_EQ(apl.run("⎕IO←" + std::to_string(io)), "");
    ASSERT_EQ(apl.run("Z←0"), "");
    ASSERT_EQ(apl.run("Z←L⍳R"), "") << what;
    const ArrayInfo z = apl.value("Z");
    ASSERT_EQ(z.type, ET_INT) << what;
    ASSERT_EQ(z.count, r.size()) << what;
    const std::vector<std::int32_t> got = ints_of(z, apl.ws());
    const std::vector<std::int32_t> want = reference_index_of(l, r, io);
    std::size_t wrong = 0, first_wrong = 0;
    for (std::size_t j = 0; j < r.size(); ++j)
      if (got[j] != want[j] && wrong++ == 0) first_wrong = j;
    EXPECT_EQ(wrong, 0u) << what << " ⎕IO " << io << ": first at R[" << first_wrong << "]=" << r[first_wrong]
                         << " got " << got[first_wrong] << " want " << want[first_wrong];
  }
  EXPECT_TRUE(heap_consistent(apl.ws())) << what;
}

TEST(IndexOfFast, IntegersAgreeWithReferenceWithTableAndWithScan) {
  // Sizes at which a table pays for itself: equal lengths, the smallest
  // equal lengths that qualify, a short L with a long R, and the reverse.
  const IntCase cases[] = {
      {5000, 5000, 2500, true}, {5000, 5000, 2500, false}, {5000, 5000, 0, true}, {5000, 5000, 0, false},
      {402, 402, 150, true},    {300, 20000, 100, true},   {20000, 250, 15000, true}, {20000, 250, 15000, false},
  };
  std::uint32_t seed = 7;
  for (const IntCase& c : cases) {
    std::vector<std::int32_t> l, r;
    make_int_data(c, seed++, l, r);
    const std::string what = "n=" + std::to_string(c.n) + " m=" + std::to_string(c.m) +
                             " random=" + std::to_string(c.random_values) + " zero=" + std::to_string(c.zero_in_l);
    Apl apl(4 * 1024 * 1024);
    apl.define("L", test::int_vector(l));
    apl.define("R", test::int_vector(r));
    // Room for any table proportional to L.
    ASSERT_GT(apl.gap(), 64 * c.n + 4 * c.m + 65536) << what;
    expect_index_of(apl, l, r, what + " (wide gap)");

    // Now a filler leaves room for the result and the line's own needs,
    // but not for a table of even one word per element of L.
    ASSERT_EQ(apl.run("Z←0"), "");
    ASSERT_EQ(apl.run("F←0"), "");
    const std::uint32_t leave = 4 * c.m + 1536;
    ASSERT_GT(8 * c.n, 1536u) << what;
    const std::uint32_t filler = (apl.gap() - leave) / 4;
    apl.define("F", test::raw_array(ET_INT, {filler}, 4 * filler));
    const std::uint32_t narrow = apl.gap();
    ASSERT_LE(narrow, leave + 64) << what;
    ASSERT_GE(narrow, leave - 64) << what;
    expect_index_of(apl, l, r, what + " (narrow gap)");
  }
}

TEST(IndexOfFast, IntegerEdgeArrangements) {
  // Small hand-made arguments, each at sizes that take the table: repeated
  // copies so the lengths qualify, with the first occurrences up front.
  struct Arrangement {
    const char* what;
    std::vector<std::int32_t> head;
  };
  const Arrangement arrangements[] = {
      {"zero first", {0, kMin, kMax, -1, 65536, 1 << 20}},
      {"zero last", {kMin, kMax, -1, 65536, 1 << 20, 0}},
      {"only zeros", {0}},
      {"no zero", {kMin, kMax, -1, 1, 2 * 65536, 3 << 20}},
      {"same low bits", {65536, 2 * 65536, 3 * 65536, -65536, 1 << 20, 2 << 20, -(1 << 20), kMin}},
  };
  for (const Arrangement& a : arrangements) {
    std::vector<std::int32_t> l;
    // The arrangement, then ever more distinct values above it, then the
    // arrangement repeated: repeats must give the first position.
    l = a.head;
    for (std::int32_t k = 0; k < 2000; ++k) l.push_back(1000003 + 17 * k);
    for (int rep = 0; rep < 3; ++rep) l.insert(l.end(), a.head.begin(), a.head.end());
    std::vector<std::int32_t> r = {0, kMin, kMax, kMin + 1, kMax - 1, -1, 1, 65536, 4 * 65536, 1 << 20, 5 << 20};
    for (std::int32_t k = 0; k < 4000; ++k) r.push_back(1000003 + 17 * (k % 2100) - (k % 3 == 0));
    Apl apl(4 * 1024 * 1024);
    apl.define("L", test::int_vector(l));
    apl.define("R", test::int_vector(r));
    expect_index_of(apl, l, r, a.what);
  }
}

// ---- index of: booleans and characters ------------------------------------------------

TEST(IndexOfFast, BooleansFindFirstZeroAndFirstOne) {
  Apl apl(1024 * 1024);
  // R holds both values, across more than one word.
  std::vector<int> rbits;
  for (int k = 0; k < 40; ++k) rbits.push_back((k * 7 + 3) % 5 < 2);
  apl.define("R", test::bool_vector(rbits));
  // L is a long run of `fill`, holding the other value at one place only
  // (`step` false) or from that place on (`step` true); `at` -1 for none.
  struct Case {
    std::uint32_t n;
    int fill;
    std::int64_t at;
    bool step;
  };
  std::vector<Case> cases;
  for (const std::uint32_t n : {1u, 31u, 32u, 33u, 64u, 65u, 1000u, 4096u})
    for (const int fill : {0, 1}) {
      cases.push_back({n, fill, -1, false});
      for (const std::int64_t at : {0l, 1l, 31l, 32l, 33l, 64l, 700l, static_cast<std::int64_t>(n) - 1})
        if (at < n)
          for (const bool step : {false, true}) cases.push_back({n, fill, at, step});
    }
  for (const Case& c : cases) {
    std::vector<int> l(c.n, c.fill);
    for (std::int64_t i = c.at; i >= 0 && i < (c.step ? c.n : c.at + 1); ++i) l[static_cast<std::size_t>(i)] = !c.fill;
    std::int32_t first[2] = {static_cast<std::int32_t>(c.n), static_cast<std::int32_t>(c.n)};
    for (std::uint32_t i = c.n; i-- > 0;) first[l[i]] = static_cast<std::int32_t>(i);
    apl.define("L", test::bool_vector(l));
    for (const std::int32_t io : {1, 0}) {
      ASSERT_EQ(apl.run("⎕IO←" + std::to_string(io)), "");
      ASSERT_EQ(apl.run("Z←L⍳R"), "");
      const std::vector<std::int32_t> got = ints_of(apl.value("Z"), apl.ws());
      ASSERT_EQ(got.size(), rbits.size());
      for (std::size_t j = 0; j < rbits.size(); ++j)
        EXPECT_EQ(got[j], io + first[rbits[j]]) << "n=" << c.n << " fill=" << c.fill << " other at " << c.at
                                                << (c.step ? " on" : "") << " ⎕IO " << io << " R[" << j << "]";
    }
  }
  EXPECT_TRUE(heap_consistent(apl.ws()));
}

TEST(IndexOfFast, CharactersOfEveryCode) {
  Apl apl;
  std::vector<std::uint8_t> all(256);
  for (int c = 0; c < 256; ++c) all[c] = static_cast<std::uint8_t>(c);
  apl.define("R", raw_vector(ET_CHAR, 1, all));
  // Every code, last to first, then again first to last: the first copy counts.
  std::vector<std::uint8_t> twice(all.rbegin(), all.rend());
  twice.insert(twice.end(), all.begin(), all.end());
  // Only the odd codes, twice: even ones, 0 among them, are not found.
  std::vector<std::uint8_t> odd;
  for (int rep = 0; rep < 2; ++rep)
    for (int c = 1; c < 256; c += 2) odd.push_back(static_cast<std::uint8_t>(c));
  for (const auto* l : {&twice, &odd}) {
    apl.define("L", raw_vector(ET_CHAR, 1, *l));
    for (const std::int32_t io : {1, 0}) {
      ASSERT_EQ(apl.run("⎕IO←" + std::to_string(io)), "");
      ASSERT_EQ(apl.run("Z←L⍳R"), "");
      const std::vector<std::int32_t> got = ints_of(apl.value("Z"), apl.ws());
      ASSERT_EQ(got.size(), 256u);
      for (int c = 0; c < 256; ++c) {
        std::int32_t want = static_cast<std::int32_t>(l->size());
        for (std::size_t i = l->size(); i-- > 0;)
          if ((*l)[i] == c) want = static_cast<std::int32_t>(i);
        EXPECT_EQ(got[c], io + want) << "code " << c << " ⎕IO " << io << " L of " << l->size();
      }
    }
  }
}

}  // namespace
}  // namespace zema
