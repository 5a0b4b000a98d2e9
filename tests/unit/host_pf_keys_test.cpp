// The programmable function keys: set, read back, unset, bad key numbers.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "host/charset.h"
#include "host/services.h"

namespace zema {
namespace {

// A character vector object in a word-aligned buffer.
std::vector<std::uint32_t> text(const std::string& s) {
  std::vector<std::uint32_t> w((16 + s.size() + 3) / 4 + 1, 0);
  auto* b = reinterpret_cast<std::uint8_t*>(w.data());
  const std::uint32_t size = static_cast<std::uint32_t>(16 + ((s.size() + 3) & ~std::size_t{3}));
  std::memcpy(b + 4, &size, 4);
  b[8] = 11;
  b[10] = 4;
  const std::uint32_t n = static_cast<std::uint32_t>(s.size());
  std::memcpy(b + 12, &n, 4);
  std::memcpy(b + 16, s.data(), s.size());
  return w;
}

std::uint32_t vector_length(const std::vector<std::uint32_t>& area) { return area[3]; }

TEST(PfKeys, SetReadBackAndUnset) {
  const std::string typed = utf8_to_internal(")SAVE");
  ASSERT_EQ(set_pf_key(3, text(typed).data()), 0);
  EXPECT_FALSE(pf_key_text(3).empty());
  std::vector<std::uint32_t> area(64, 0xFFFFFFFF);
  ASSERT_EQ(get_pf_key(3, area.data(), 256), 0);
  ASSERT_EQ(vector_length(area), typed.size());
  EXPECT_EQ(std::memcmp(reinterpret_cast<const char*>(area.data()) + 16, typed.data(), typed.size()), 0);
  // An empty text unsets the key: it then reads as an empty vector.
  ASSERT_EQ(set_pf_key(3, text("").data()), 0);
  EXPECT_TRUE(pf_key_text(3).empty());
  ASSERT_EQ(get_pf_key(3, area.data(), 256), 0);
  EXPECT_EQ(vector_length(area), 0u);
}

TEST(PfKeys, RefusesKeysOutsideTheRangeAndLongTexts) {
  const auto t = text("A");
  std::vector<std::uint32_t> area(64, 0);
  for (int n : {0, 46, -1}) {
    EXPECT_EQ(set_pf_key(n, t.data()), 12) << n;
    EXPECT_EQ(get_pf_key(n, area.data(), 256), 12) << n;
  }
  EXPECT_EQ(set_pf_key(45, text(std::string(500, 'A')).data()), 20);
  EXPECT_EQ(set_pf_key(45, text(std::string(499, 'A')).data()), 0);
  EXPECT_EQ(pf_key_text(45).size(), 499u);
  set_pf_key(45, text("").data());
}

}  // namespace
}  // namespace zema
