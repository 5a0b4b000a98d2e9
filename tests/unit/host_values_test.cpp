// Host value helpers: results written into caller-owned areas and items read
// from array objects, with the near-integer rule and the refusal codes.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "host/charset.h"
#include "host/values.h"

namespace zema {
namespace {

// An array object in a word-aligned buffer.
struct Obj {
  std::vector<std::uint32_t> words;
  const void* p() const { return words.data(); }
};

Obj make(std::uint8_t type, std::vector<std::uint32_t> shape, const void* data, std::size_t bytes) {
  Obj o;
  const std::size_t head = 12 + 4 * shape.size();
  o.words.assign((head + bytes + 3) / 4 + 1, 0);
  auto* b = reinterpret_cast<std::uint8_t*>(o.words.data());
  const std::uint32_t size = static_cast<std::uint32_t>(head + ((bytes + 3) & ~std::size_t{3}));
  std::memcpy(b + 4, &size, 4);
  b[8] = type;
  const std::uint16_t r4 = static_cast<std::uint16_t>(shape.size() * 4);
  std::memcpy(b + 10, &r4, 2);
  if (!shape.empty()) std::memcpy(b + 12, shape.data(), 4 * shape.size());
  if (bytes) std::memcpy(b + head, data, bytes);
  return o;
}
Obj floats(std::vector<std::uint32_t> shape, std::vector<double> v) { return make(9, shape, v.data(), 8 * v.size()); }
Obj ints(std::vector<std::uint32_t> shape, std::vector<std::int32_t> v) { return make(7, shape, v.data(), 4 * v.size()); }
Obj chars(std::vector<std::uint32_t> shape, const std::string& s) { return make(11, shape, s.data(), s.size()); }

// A nested array: the header, one offset word per item, then the items.
Obj nested(std::vector<std::uint32_t> shape, const std::vector<Obj>& items) {
  const std::size_t head = 12 + 4 * shape.size() + 4 * items.size();
  std::vector<std::uint32_t> offsets;
  std::size_t at = head;
  for (const Obj& item : items) {
    offsets.push_back(static_cast<std::uint32_t>(at));
    at += 4 * item.words.size();
  }
  Obj o = make(15, shape, offsets.data(), 4 * offsets.size());
  o.words.resize(at / 4);
  for (std::size_t k = 0; k < items.size(); ++k)
    std::memcpy(o.words.data() + offsets[k] / 4, items[k].words.data(), 4 * items[k].words.size());
  return o;
}
Obj bools(std::vector<std::uint32_t> shape, std::uint32_t first_word) { return make(5, shape, &first_word, 4); }

TEST(HostValues, OneIntegerFollowsTheNearIntegerRule) {
  struct Case {
    Obj value;
    int code;
    std::int32_t result;
  } cases[] = {
      {floats({}, {2.9999995}), 0, 3},   {floats({}, {2.0000005}), 0, 2},   {floats({1}, {-2.9999995}), 0, -3},
      {floats({}, {2.5}), 12, 0},        {ints({2}, {1, 2}), 12, 0},        {ints({0}, {}), 12, 0},
      {floats({}, {3e9}), 12, 0},        {chars({}, "a"), 12, 0},           {ints({1, 1}, {7}), 0, 7},
      {ints({2, 1}, {7, 8}), 12, 0},     {floats({}, {2147483647.0}), 0, 2147483647},
  };
  for (const Case& c : cases) {
    std::int32_t out = 0;
    EXPECT_EQ(get_one_integer(c.value.p(), &out), c.code) << &c - cases;
    if (c.code == 0) {
      EXPECT_EQ(out, c.result) << &c - cases;
    }
  }
}

TEST(HostValues, OneBooleanIsZeroOrOne) {
  std::int32_t out = -1;
  EXPECT_EQ(get_one_boolean(ints({}, {2}).p(), &out), 12);
  EXPECT_EQ(get_one_boolean(ints({}, {1}).p(), &out), 0);
  EXPECT_EQ(out, 1);
  const std::uint32_t bit = 0x80000000u;
  EXPECT_EQ(get_one_boolean(make(5, {}, &bit, 4).p(), &out), 0);
  EXPECT_EQ(out, 1);
}

TEST(HostValues, ListsRefuseShapeCountAndType) {
  std::int32_t out[4];
  int count = -1;
  EXPECT_EQ(get_n_integers(chars({0}, "").p(), out, 4, &count), 0);
  EXPECT_EQ(count, 0);
  EXPECT_EQ(get_n_integers(ints({2, 2}, {1, 2, 3, 4}).p(), out, 4, &count), 16);
  EXPECT_EQ(get_n_integers(ints({5}, {1, 2, 3, 4, 5}).p(), out, 4, &count), 20);
  EXPECT_EQ(get_n_integers(chars({2}, "ab").p(), out, 4, &count), 12);
  const std::uint32_t bits = 0xA0000000u;  // 1 0 1
  ASSERT_EQ(get_n_integers(make(5, {3}, &bits, 4).p(), out, 4, &count), 0);
  EXPECT_EQ(count, 3);
  EXPECT_EQ(out[0] * 100 + out[1] * 10 + out[2], 101);
}

TEST(HostValues, TextReaders) {
  char out[8];
  EXPECT_EQ(get_translated_text(ints({0}, {}).p(), out, 4), 0);
  EXPECT_STREQ(out, "");
  EXPECT_EQ(get_raw_text(ints({0}, {}).p(), out, 4), 12);
  EXPECT_EQ(get_raw_text(chars({2, 2}, "abcd").p(), out, 4), 16);
  EXPECT_EQ(get_raw_text(chars({1, 4}, "abcd").p(), out, 4), 0);
  EXPECT_STREQ(out, "abcd");
  EXPECT_EQ(get_raw_text(chars({5}, "abcde").p(), out, 4), 20);
  const std::string apl = utf8_to_internal("A⍴");
  ASSERT_EQ(get_translated_text(chars({2}, apl).p(), out, 4), 0);
  EXPECT_EQ(static_cast<std::uint8_t>(out[1]), fontout(apl[1]));
}

TEST(HostValues, WritersRespectTheRoom) {
  alignas(8) std::uint8_t area[64];
  const double items[2] = {1, 2};
  EXPECT_EQ(return_n_floats(area, items, 2, 32), 4);  // size 32 is not below room 32
  EXPECT_EQ(return_n_floats(area, items, 2, 33), 0);
  std::memset(area, 0xEE, sizeof area);
  EXPECT_EQ(return_translated_text(area, "abcd", 15), 4);
  EXPECT_EQ(area[8], 0xEE);  // nothing written
  EXPECT_EQ(return_translated_text(area, "abcd", 16), 4);
  EXPECT_EQ(area[8], 11);    // the header was
  EXPECT_EQ(return_translated_text(area, "abcd", 20), 0);
  EXPECT_EQ(return_raw_text(area, "abcde", 21), 0);
  std::uint32_t size;
  std::memcpy(&size, area + 4, 4);
  EXPECT_EQ(size, 24u);
  EXPECT_EQ(return_raw_text(area, "abcdef", 21), 4);
}

TEST(HostValues, IndexedAndMatrixItems) {
  struct Case {
    const char* what;
    int code;
    std::int32_t result;
    int (*read)(std::int32_t*);
  };
  static const Obj list = floats({3}, {1, 2.9999995, 2.5});
  static const Obj row = ints({1, 3}, {4, 5, 6});
  static const Obj matrix = ints({2, 3}, {1, 2, 3, 4, 5, 6});
  static const Obj nested_matrix = nested({1, 3}, {ints({}, {7}), ints({1}, {8}), chars({}, "a")});
  const Case cases[] = {
      {"list item 1", 0, 3, [](std::int32_t* o) { return get_indexed_integer(list.p(), o, 1); }},
      {"float not near", 12, 0, [](std::int32_t* o) { return get_indexed_integer(list.p(), o, 2); }},
      {"index at count", 20, 0, [](std::int32_t* o) { return get_indexed_integer(list.p(), o, 3); }},
      {"one-row matrix", 0, 6, [](std::int32_t* o) { return get_indexed_integer(row.p(), o, 2); }},
      {"two-row matrix", 16, 0, [](std::int32_t* o) { return get_indexed_integer(matrix.p(), o, 0); }},
      {"character", 12, 0, [](std::int32_t* o) { return get_indexed_integer(chars({2}, "ab").p(), o, 0); }},
      {"nested", 12, 0, [](std::int32_t* o) { return get_indexed_integer(nested_matrix.p(), o, 0); }},
      {"scalar", 0, 9, [](std::int32_t* o) { return get_indexed_integer(ints({}, {9}).p(), o, 0); }},
      {"boolean", 0, 1, [](std::int32_t* o) { return get_indexed_integer(bools({3}, 0x40000000u).p(), o, 1); }},
      {"matrix [1;2]", 0, 6, [](std::int32_t* o) { return get_matrix_integer(matrix.p(), o, 1, 2); }},
      {"matrix row out", 20, 0, [](std::int32_t* o) { return get_matrix_integer(matrix.p(), o, 2, 0); }},
      {"matrix col out", 20, 0, [](std::int32_t* o) { return get_matrix_integer(matrix.p(), o, 0, 3); }},
      {"vector", 12, 0, [](std::int32_t* o) { return get_matrix_integer(list.p(), o, 0, 0); }},
      {"nested scalar", 0, 7, [](std::int32_t* o) { return get_matrix_integer(nested_matrix.p(), o, 0, 0); }},
      {"nested vector", 16, 0, [](std::int32_t* o) { return get_matrix_integer(nested_matrix.p(), o, 0, 1); }},
      {"nested char", 12, 0, [](std::int32_t* o) { return get_matrix_integer(nested_matrix.p(), o, 0, 2); }},
      {"char matrix", 12, 0, [](std::int32_t* o) { return get_matrix_integer(chars({1, 1}, "a").p(), o, 0, 0); }},
  };
  for (const Case& c : cases) {
    std::int32_t out = -1;
    EXPECT_EQ(c.read(&out), c.code) << c.what;
    if (c.code == 0) {
      EXPECT_EQ(out, c.result) << c.what;
    }
  }
  double x = 0;
  EXPECT_EQ(get_indexed_float(list.p(), &x, 2), 0);
  EXPECT_EQ(x, 2.5);
  EXPECT_EQ(get_indexed_float(list.p(), &x, 3), 20);
}

TEST(HostValues, NthItems) {
  const Obj nest = nested({4}, {ints({}, {5}), ints({2}, {1, 2}), floats({1, 1}, {2.5}), chars({}, "a")});
  const void* p = nullptr;
  EXPECT_EQ(get_nth_ptr(0, nest.p(), &p), 7);
  EXPECT_EQ(*static_cast<const std::int32_t*>(p), 5);
  EXPECT_EQ(get_nth_ptr(1, nest.p(), &p), -1);  // an enclosed vector of two
  EXPECT_EQ(get_nth_ptr(2, nest.p(), &p), 9);   // a 1-by-1 matrix
  EXPECT_EQ(get_nth_ptr(4, nest.p(), &p), -1);
  EXPECT_EQ(get_nth_ptr(0, bools({2}, 0u).p(), &p), -1);
  const Obj matrix = ints({2, 2}, {1, 2, 3, 4});
  EXPECT_EQ(get_nth_ptr(3, matrix.p(), &p), 7);
  EXPECT_EQ(*static_cast<const std::int32_t*>(p), 4);

  char error = 0;
  EXPECT_EQ(get_nth_float(1, nest.p(), &error), 0.0);
  EXPECT_EQ(error, 1);
  EXPECT_EQ(get_nth_float(2, nest.p(), &error), 2.5);
  EXPECT_EQ(error, 1);  // never cleared
  error = 0;
  EXPECT_EQ(get_nth_float(3, bools({2, 2}, 0x10000000u).p(), &error), 1.0);
  EXPECT_EQ(get_nth_float(3, nest.p(), &error), 0.0);  // a character
  EXPECT_EQ(error, 1);

  struct Case {
    const char* what;
    Obj value;
    int i, wanted;
    int answer;
    char error;
  } cases[] = {
      {"boolean bit", bools({3}, 0x40000000u), 1, 5, 1, 0},
      {"boolean scalar", bools({}, 0x80000000u), 0, 7, 1, 0},
      {"boolean beyond", bools({3}, 0u), 3, 7, 0xDEAF, 1},
      {"boolean scalar beyond", bools({}, 0u), 1, 7, 0xDEAF, 1},
      {"boolean matrix", bools({1, 1}, 0u), 0, 7, 0xDEAF, 1},
      {"no item", ints({2}, {1, 2}), 2, 7, 0xDEAD, 1},
      {"integer", ints({2}, {1, -9}), 1, 7, -9, 0},
      {"boolean of 2", ints({}, {2}), 0, 5, 2, 1},
      {"wanted 9", ints({}, {2}), 0, 9, 0xBEEF, 1},
      {"character", chars({2}, "ab"), 1, 11, 'b', 0},
      {"number for character", ints({}, {2}), 0, 11, 0xFEED, 1},
      {"character for integer", chars({}, "a"), 0, 7, 0xCEDE, 1},
      {"float near", floats({}, {2.9999995}), 0, 7, 3, 0},
      {"float far", floats({}, {2.5}), 0, 7, 0xFACE, 1},
      {"float beyond", floats({}, {3e9}), 0, 7, 0xBADBAD, 1},
      {"nested item of nested", nested({1}, {nested({}, {ints({}, {1})})}), 0, 7, 0xBEDE, 1},
      {"nested boolean item", nested({1}, {bools({}, 0x80000000u)}), 0, 5, 1, 0},
  };
  for (const Case& c : cases) {
    error = 7;
    EXPECT_EQ(get_nth_arg(c.i, c.value.p(), c.wanted, &error), c.answer) << c.what;
    EXPECT_EQ(error, c.error) << c.what;
  }
}

TEST(HostValues, KeptTextIsAHeapCopy) {
  struct Case {
    Obj value;
    int code;
    const char* text;
  } cases[] = {
      {chars({3}, "abc"), 0, "abc"},   {chars({1, 2}, "ab"), 0, "ab"}, {ints({0}, {}), 0, ""},
      {chars({}, "q"), 0, "q"},        {chars({2, 1}, "ab"), 16, nullptr},
      {chars({1, 1, 1}, "a"), 12, nullptr},  {ints({1}, {1}), 12, nullptr},
  };
  for (const Case& c : cases) {
    char* out = reinterpret_cast<char*>(1);
    EXPECT_EQ(keep_translated_text(c.value.p(), &out), c.code) << &c - cases;
    if (c.code == 0) {
      ASSERT_NE(out, nullptr);
      std::string back;
      for (const char* q = out; *q; ++q) back.push_back(static_cast<char>(fontin(*q)));
      EXPECT_EQ(back, c.text) << &c - cases;
      std::free(out);
    } else {
      EXPECT_EQ(out, nullptr) << &c - cases;
    }
  }
}

TEST(HostValues, LineEndsStrippedInPlace) {
  struct Case {
    std::string in;
    bool all;
    std::string out;
  } cases[] = {
      {"\r\n\n", false, "\r\n"},   {"a\r\nb\rc\nd", false, "a\rb\rc\nd"}, {"a\r\nb\rc\nd", true, "abcd"},
      {"\r\n\r\n", false, "\r\r"}, {"", true, ""},
  };
  for (const Case& c : cases) {
    Obj v = chars({static_cast<std::uint32_t>(c.in.size())}, c.in);
    auto* b = reinterpret_cast<std::uint8_t*>(v.words.data());
    EXPECT_EQ(strip_crlf_from_charvec(v.words.data(), c.all), v.words.data());
    std::uint32_t length, size;
    std::memcpy(&length, b + 12, 4);
    std::memcpy(&size, b + 4, 4);
    EXPECT_EQ(std::string(reinterpret_cast<char*>(b + 16), length), c.out) << c.in;
    EXPECT_EQ(size, 16 + ((length + 3) & ~3u)) << c.in;
  }
  Obj matrix = chars({1, 2}, "\r\n");
  strip_crlf_from_charvec(matrix.words.data(), true);
  EXPECT_EQ(matrix.words[3], 1u);  // untouched: still one row
}

TEST(HostValues, NestedStringsSorted) {
  auto text = [](const std::string& s) { return utf8_to_internal(s); };
  Obj v = nested({5}, {chars({2}, text("bc")), chars({2}, text("Ab")), chars({3}, text("abc")), chars({2}, text("ab")),
                       chars({1}, text("a"))});
  sort_nested_strings(v.words.data());
  const auto* b = reinterpret_cast<const std::uint8_t*>(v.words.data());
  std::vector<std::string> order;
  for (int k = 0; k < 5; ++k) {
    std::uint32_t off, n;
    std::memcpy(&off, b + 16 + 4 * k, 4);
    std::memcpy(&n, b + off + 12, 4);
    order.push_back(internal_to_utf8(std::string(reinterpret_cast<const char*>(b + off + 16), n)));
  }
  EXPECT_EQ(order[0], "a");
  EXPECT_TRUE((order[1] == "Ab" && order[2] == "ab") || (order[1] == "ab" && order[2] == "Ab"));
  EXPECT_EQ(order[3], "abc");
  EXPECT_EQ(order[4], "bc");
  // Anything that is no nested vector is left alone.
  Obj numbers = ints({3}, {3, 1, 2});
  sort_nested_strings(numbers.words.data());
  EXPECT_EQ(numbers.words[4], 3u);
}

}  // namespace
}  // namespace zema
