// Hashing of arrays for the nested searches, and dyadic ⍳ on nested
// arguments through the hash table: hashes must agree with match, the table
// must give the positions a plain scan gives (first occurrences), and it
// must stand aside where it does not apply.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "host/charset.h"
#include "interpreter/workspace/heap.h"
#include "interpreter/engine/line.h"
#include "interpreter/primitives/search_hash.h"
#include "interpreter/workspace/stack.h"
#include "test_arrays.h"
#include "test_workspace.h"

namespace zema {
namespace {

using test::ArrayImage;

// A boolean vector whose bits after the last element are set: match reads
// only the elements, so the hash must too.
ArrayImage dirty_bools(const std::vector<int>& bits) {
  ArrayImage a = test::bool_vector(bits);
  const auto n = static_cast<std::uint32_t>(bits.size());
  if (n % 32 == 0) return a;
  const std::uint32_t at = obj::Shape + 4 + 4 * (n / 32);
  std::uint32_t w;
  std::memcpy(&w, &a.bytes[at], 4);
  w |= 0xFFFFFFFFu >> (n % 32);
  std::memcpy(&a.bytes[at], &w, 4);
  return a;
}

// n bits of v, its low bits last (v repeated when n is above 32).
std::vector<int> bits_of(std::uint32_t v, std::uint32_t n) {
  std::vector<int> b(n);
  for (std::uint32_t k = 0; k < n; ++k) b[k] = (v >> ((n - 1 - k) % 32)) & 1;
  return b;
}
std::vector<std::int32_t> as_ints(const std::vector<int>& b) { return {b.begin(), b.end()}; }

// A value with the storage forms it may take; all forms of one value match
// each other and no form of another value.
struct Value {
  std::vector<ArrayImage> forms;
};

// Values for a search where integers are present among the items.
std::vector<Value> values_with_integers() {
  std::vector<Value> v;
  for (std::int32_t k = 0; k < 40; ++k) {
    v.push_back({{test::int_vector({k, 3 * k})}});
    // Texts alike in their first eight characters hash alike.
    v.push_back({{test::char_vector("abcdefgh" + std::to_string(k))}});
    // Nested items all hash alike.
    Value enclosed_k{{test::enclosed(test::int_vector({k}), 1)}};
    if (k < 2) enclosed_k.forms.push_back(test::enclosed(test::bool_vector({k}), 1));
    v.push_back(enclosed_k);
    const auto b = bits_of(static_cast<std::uint32_t>(k) * 97, 12);
    v.push_back({{test::bool_vector(b), test::int_vector(as_ints(b)), dirty_bools(b)}});
    Value scalar{{test::int_scalar(k)}};
    if (k < 2) scalar.forms.push_back(test::bool_array({}, {k}));
    v.push_back(scalar);
  }
  const auto long_bits = bits_of(0xB5A3C, 20);
  std::vector<int> forty = long_bits;
  forty.insert(forty.end(), long_bits.begin(), long_bits.end());
  v.push_back({{test::bool_vector(forty), test::int_vector(as_ints(forty))}});
  v.push_back({{test::int_vector({}), test::bool_vector({}), test::raw_array(ET_WIDE16, {0}, 0)}});
  v.push_back({{test::char_vector("")}});
  v.push_back({{test::int_array({0, 2}, {}), test::bool_array({0, 2}, {})}});
  v.push_back({{test::char_scalar("a")}});
  v.push_back({{test::char_vector("a")}});
  v.push_back({{test::nested_vector({test::int_vector({1, 0}), test::char_vector("ab")}),
                test::nested_vector({test::bool_vector({1, 0}), test::char_vector("ab")})}});
  v.push_back({{test::nested_vector({test::int_vector({1, 0})})}});
  v.push_back({{test::enclosed(test::char_vector("x"), 3)}});
  v.push_back({{test::enclosed(test::char_vector("x"), 2)}});
  return v;
}

// Values for a search where no item holds integers: booleans hash by their
// first word.
std::vector<Value> values_without_integers() {
  std::vector<Value> v;
  for (std::uint32_t k = 0; k < 60; ++k) {
    const auto b = bits_of(k * 2654435761u, 5 + k % 50);
    v.push_back({{test::bool_vector(b), dirty_bools(b)}});
    v.push_back({{test::char_vector(std::string(k % 9, 'z') + std::to_string(k))}});
  }
  v.push_back({{test::bool_vector({}), test::bool_vector({}), test::raw_array(ET_WIDE16, {0}, 0)}});
  v.push_back({{test::bool_array({}, {1})}});
  v.push_back({{test::bool_vector({1})}});
  v.push_back({{test::enclosed(test::int_vector({7, 8}), 1)}});
  return v;
}

class SearchHash : public ::testing::Test {
 protected:
  void SetUp() override { set_current_apl_task(&task_); }
  void TearDown() override { set_current_apl_task(nullptr); }

  Ws ws() const { return t_.ws(); }

  ArrayInfo info(std::uint32_t off) const { return array_info(off, ws()); }

  // Runs a line; answers the first line it printed.
  std::string run(const char* utf8) { return test::first_line(test::run_line(utf8, task_, ws())); }

  test::TestWorkspace t_{1 << 20};
  test::CaptureTask task_;
};

// ---- hash_variable and get_highest_numeric_type -----------------------------------

TEST_F(SearchHash, MatchingArraysHashAlike) {
  const auto forty = bits_of(0xCAFE5, 20);
  std::vector<int> b40 = forty;
  b40.insert(b40.end(), forty.begin(), forty.end());
  const struct {
    const char* what;
    ArrayImage a, b;
    std::uint8_t numeric;
  } cases[] = {
      {"boolean and integer vector", test::bool_vector({1, 0}), test::int_vector({1, 0}), ET_INT},
      {"boolean and integer scalar", test::bool_array({}, {1}), test::int_scalar(1), ET_INT},
      {"one boolean and one integer", test::bool_vector({1}), test::int_vector({1}), ET_INT},
      {"40 booleans and integers", test::bool_vector(b40), test::int_vector(as_ints(b40)), ET_INT},
      {"empty boolean and integer", test::bool_vector({}), test::int_vector({}), ET_INT},
      {"empty boolean and integer, booleans only", test::bool_vector({}), test::int_vector({}), ET_BOOL},
      {"empty wide and integer", test::raw_array(ET_WIDE16, {0}, 0), test::int_vector({}), ET_INT},
      {"empty float and integer", test::float_vector({}), test::int_vector({}), ET_INT},
      {"empty boolean and integer matrices", test::bool_array({0, 2}, {}), test::int_array({0, 2}, {}), ET_BOOL},
      {"boolean with stray bits", dirty_bools({1, 0, 1}), test::bool_vector({1, 0, 1}), ET_BOOL},
      {"boolean with stray bits, integers present", dirty_bools({1, 0, 1}), test::bool_vector({1, 0, 1}), ET_INT},
      {"31 booleans with a stray bit", dirty_bools(bits_of(0x2AAAAAAA, 31)), test::bool_vector(bits_of(0x2AAAAAAA, 31)),
       ET_BOOL},
      {"long text", test::char_vector("abcdefghijk"), test::char_vector("abcdefghijk"), ET_BOOL},
      {"nested of boolean and of integer", test::nested_vector({test::bool_vector({1, 0})}),
       test::nested_vector({test::int_vector({1, 0})}), ET_INT},
  };
  for (const auto& c : cases) {
    const std::uint32_t a = test::place(ws(), c.a), b = test::place(ws(), c.b);
    ASSERT_TRUE(arrays_match(a, b, ws())) << c.what;
    EXPECT_EQ(hash_variable(a, c.numeric, ws()), hash_variable(b, c.numeric, ws())) << c.what;
  }
}

TEST_F(SearchHash, HighestNumericTypeOfTopLevelItems) {
  using test::nested_vector;
  const struct {
    const char* what;
    ArrayImage l, r;
    std::uint8_t expected;
  } cases[] = {
      {"booleans, text and nesting", nested_vector({test::bool_vector({1}), test::char_vector("ab")}),
       nested_vector({test::enclosed(test::float_vector({1.5}), 1)}), ET_BOOL},
      {"an integer scalar on the right", nested_vector({test::bool_vector({1})}),
       nested_vector({test::int_scalar(3), test::char_vector("a")}), ET_INT},
      {"an empty float", nested_vector({test::int_vector({1, 2})}),
       nested_vector({test::float_vector({}), test::char_vector("a")}), ET_FLOAT},
      {"a float scalar on the left", nested_vector({test::char_vector("a"), test::float_scalar(2)}),
       nested_vector({test::int_scalar(3)}), ET_FLOAT},
  };
  for (const auto& c : cases) {
    const std::uint32_t l = test::place(ws(), c.l), r = test::place(ws(), c.r);
    EXPECT_EQ(get_highest_numeric_type(info(l), info(r), ws()), c.expected) << c.what;
  }
}

// ---- the hashed search ------------------------------------------------------------

struct Search {
  std::vector<std::size_t> l, r;  // value indexes of the items
};

// Items drawn from the first `in_left` values for L and from all values for
// R, each in a random storage form.
Search draw(std::size_t values, std::size_t in_left, std::uint32_t n, std::uint32_t m, std::mt19937& g) {
  Search s;
  std::uniform_int_distribution<std::size_t> left(0, in_left - 1), any(0, values - 1);
  for (std::uint32_t i = 0; i < n; ++i) s.l.push_back(left(g));
  for (std::uint32_t j = 0; j < m; ++j) s.r.push_back(any(g));
  return s;
}

std::vector<ArrayImage> items_of(const std::vector<Value>& values, const std::vector<std::size_t>& which,
                                 std::mt19937& g) {
  std::vector<ArrayImage> items;
  for (std::size_t k : which) {
    const auto& forms = values[k].forms;
    items.push_back(forms[std::uniform_int_distribution<std::size_t>(0, forms.size() - 1)(g)]);
  }
  return items;
}

// First positions by value identity.
std::vector<std::int32_t> expected_positions(const Search& s, std::int32_t io) {
  std::vector<std::int32_t> z;
  for (std::size_t v : s.r) {
    std::size_t i = 0;
    while (i < s.l.size() && s.l[i] != v) ++i;
    z.push_back(io + static_cast<std::int32_t>(i));
  }
  return z;
}

class HashedIndex : public SearchHash {
 protected:
  static constexpr std::int32_t kUntouched = -7;

  // Places L and R and a result of R's count, runs the hashed search;
  // answers whether it applied, with the result's elements.
  bool search(const std::vector<ArrayImage>& l, const std::vector<ArrayImage>& r, std::int32_t io,
              std::vector<std::int32_t>& z) {
    const std::uint32_t lo = test::place(ws(), test::nested_vector(l));
    const std::uint32_t ro = test::place(ws(), test::nested_vector(r));
    const std::uint32_t zo = test::place(ws(), test::int_vector(std::vector<std::int32_t>(r.size(), kUntouched)));
    return run_placed(lo, ro, zo, io, z);
  }

  bool run_placed(std::uint32_t lo, std::uint32_t ro, std::uint32_t zo, std::int32_t io,
                  std::vector<std::int32_t>& z) {
    const std::uint32_t top = rd32(ws(), hdr::HeapTop), sp = rd32(ws(), hdr::StackPointer);
    const bool applied = index_nested_hashed(info(lo), info(ro), info(zo), io, ws());
    // Nothing allocated, nothing kept.
    EXPECT_EQ(rd32(ws(), hdr::HeapTop), top);
    EXPECT_EQ(rd32(ws(), hdr::StackPointer), sp);
    EXPECT_TRUE(heap_consistent(ws()));
    const ArrayInfo zi = info(zo);
    z.clear();
    for (std::uint32_t j = 0; j < zi.count; ++j) z.push_back(rdi32(ws(), zi.data + 4 * j));
    return applied;
  }
};

TEST_F(HashedIndex, GivesFirstPositionsAcrossStorageForms) {
  const struct {
    const char* what;
    std::vector<Value> values;
  } sets[] = {
      {"integers present", values_with_integers()},
      {"no integers", values_without_integers()},
  };
  std::mt19937 g(20240611);
  for (const auto& set : sets) {
    for (const std::int32_t io : {1, 0}) {
      const std::size_t nv = set.values.size();
      const Search s = draw(nv, nv * 4 / 5, 160, 130, g);
      const auto expected = expected_positions(s, io);
      // The draw holds duplicates on the left and misses on the right.
      ASSERT_NE(std::count(expected.begin(), expected.end(), io + 160), 0) << set.what;
      std::vector<std::int32_t> z;
      ASSERT_TRUE(search(items_of(set.values, s.l, g), items_of(set.values, s.r, g), io, z)) << set.what;
      EXPECT_EQ(z, expected) << set.what << ", origin " << io;
    }
  }
}

TEST_F(HashedIndex, StandsAsideWhereItDoesNotApply) {
  const std::vector<Value> values = values_with_integers();
  std::mt19937 g(7);
  auto items = [&](std::uint32_t count) { return items_of(values, draw(values.size(), values.size(), count, 0, g).l, g); };
  auto with = [](std::vector<ArrayImage> v, std::size_t at, ArrayImage item) {
    v[at] = std::move(item);
    return v;
  };
  const struct {
    const char* what;
    std::vector<ArrayImage> l, r;
  } cases[] = {
      {"99 items on the left", items(99), items(150)},
      {"69 items on the right", items(150), items(69)},
      {"a float item on the left", with(items(150), 120, test::float_vector({1.5, 2})), items(100)},
      {"a float scalar on the right", items(150), with(items(100), 3, test::float_scalar(3))},
      {"an empty float on the right", items(150), with(items(100), 99, test::float_vector({}))},
  };
  for (const auto& c : cases) {
    std::vector<std::int32_t> z;
    EXPECT_FALSE(search(c.l, c.r, 1, z)) << c.what;
    EXPECT_EQ(z, std::vector<std::int32_t>(c.r.size(), kUntouched)) << c.what;
  }
  // A simple argument is not for the table.
  const std::uint32_t lo = test::make_int_vector(ws(), std::vector<std::int32_t>(150, 1));
  const std::uint32_t ro = test::place(ws(), test::nested_vector(items(100)));
  const std::uint32_t zo = test::make_int_vector(ws(), std::vector<std::int32_t>(100, kUntouched));
  std::vector<std::int32_t> z;
  EXPECT_FALSE(run_placed(lo, ro, zo, 1, z));
}

TEST_F(HashedIndex, TakesTheLeftInSlicesWhenTheGapIsShort) {
  const std::vector<Value> values = values_with_integers();
  std::mt19937 g(11);
  const Search s = draw(values.size(), values.size() / 2, 120, 80, g);
  const std::uint32_t lo = test::place(ws(), test::nested_vector(items_of(values, s.l, g)));
  const std::uint32_t ro = test::place(ws(), test::nested_vector(items_of(values, s.r, g)));
  const std::uint32_t zo = test::make_int_vector(ws(), std::vector<std::int32_t>(80, kUntouched));
  // Another stack entry (6 bytes) when needed, for a word-aligned stack
  // pointer: the boundaries are then exact.
  if (rd32(ws(), hdr::StackPointer) % 4 != 0) test::make_int_vector(ws(), {0});
  const std::uint32_t sp = rd32(ws(), hdr::StackPointer);
  ASSERT_EQ(sp % 4, 0u);
  const std::uint32_t top = rd32(ws(), hdr::HeapTop);
  // A table takes 48 bytes an item and needs a word more than its size;
  // a pass takes at least 32 items.
  const struct {
    const char* what;
    std::uint32_t free;
    bool applies;
  } cases[] = {
      {"the whole table", 48 * 120 + 4, true},
      {"a word short of the whole table: two passes", 48 * 120, true},
      {"room for 40 items: three passes", 48 * 40 + 4, true},
      {"room for 32 items: four passes", 48 * 32 + 4, true},
      {"room for 31 items", 48 * 32, false},
      {"nothing free", 0, false},
  };
  for (const auto& c : cases) {
    const ArrayInfo zi = info(zo);
    for (std::uint32_t j = 0; j < zi.count; ++j) wr32(ws(), zi.data + 4 * j, static_cast<std::uint32_t>(kUntouched));
    wr32(ws(), hdr::HeapTop, sp - c.free);
    const bool applied = index_nested_hashed(info(lo), info(ro), zi, 1, ws());
    wr32(ws(), hdr::HeapTop, top);
    EXPECT_EQ(applied, c.applies) << c.what;
    EXPECT_TRUE(heap_consistent(ws())) << c.what;
    std::vector<std::int32_t> z;
    for (std::uint32_t j = 0; j < zi.count; ++j) z.push_back(rdi32(ws(), zi.data + 4 * j));
    EXPECT_EQ(z, c.applies ? expected_positions(s, 1) : std::vector<std::int32_t>(80, kUntouched)) << c.what;
  }
}

// ---- through the session ------------------------------------------------------------

TEST_F(SearchHash, IndexOfNestedAgreesWithTheScan) {
  // X: 159 distinct items (pairs, a nested scalar, texts, empties, an
  // integer-stored 1 0, a character matrix, simple scalars); L holds X twice.
  // R: X reversed, then items that are missing or stored differently.
  for (const char* setup : {
           "X←(⊂[2]150 2⍴⍳300),(⊂⊂1 2),'abc' 'de',(⊂⍬),(⊂''),(⊂1 0+0),(⊂2 2⍴'ab'),5 'q'",
           "L←X,X",
           "R←X[160-⍳159],(⊂'zz'),(⊂1 0),(⊂0⍴1 0),(⊂0⍴'a'),(⊂,⊂1 2),'a',⊂,5",
           "F←L,⊂3.0000000000001 1000",
       })
    ASSERT_EQ(run(setup), "") << setup;
  const struct {
    const char* line;
    const char* first;
  } cases[] = {
      {"(L⍳R)≡(160-⍳159),319 156 154 155 319 319 319", "1"},
      // R cut into runs of fewer than 70 items is searched by the scan.
      {"(L⍳R)≡(L⍳R[⍳60]),(L⍳R[60+⍳60]),L⍳R[120+⍳46]", "1"},
      {"(X⍳R)≡(L⍳R)-159×319=L⍳R", "1"},
      // L under 100 items: the scan.
      {"(L[⍳99]⍳R[⍳80])≡(160-⍳80)⌊100", "1"},
      // A float item sends the search to the scan, whose equality is tolerant.
      {"(F⍳R,⊂3 1000)≡(160-⍳159),320 156 154 155 320 320 320 319", "1"},
      {"(L⍳(⊂'de'),R[⍳80])[1]", "153"},
      {"(L⍳2 83⍴R)≡2 83⍴L⍳R", "1"},
  };
  for (const auto& c : cases) EXPECT_EQ(run(c.line), c.first) << c.line;
  ASSERT_EQ(run("⎕IO←0"), "");
  EXPECT_EQ(run("(L⍳R)≡(158-⍳159),318 155 153 154 318 318 318"), "1");
  EXPECT_TRUE(heap_consistent(ws()));
  EXPECT_TRUE(stack_is_empty(ws()));
}

}  // namespace
}  // namespace zema
