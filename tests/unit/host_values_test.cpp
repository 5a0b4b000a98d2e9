// Host value helpers: results written into caller-owned areas and items read
// from array objects, with the near-integer rule and the refusal codes.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
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

}  // namespace
}  // namespace zema
