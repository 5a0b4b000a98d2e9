// Seeded random input through every text conversion of the host, in buffers
// of exactly the input's size so that the sanitizers see any read or write
// past an end. Bounded by a count and a time, whichever ends first.
#include <gtest/gtest.h>

#include <chrono>
#include <cstring>
#include <memory>
#include <random>
#include <string>

#include "host/char_tables.h"
#include "host/charset.h"
#include "host/paths.h"
#include "host/values.h"

namespace zema {
namespace {

constexpr int kRounds = 20000;
constexpr auto kTimeLimit = std::chrono::seconds(3);

TEST(HostConversionFuzz, RandomBytesThroughEveryConversion) {
  std::mt19937 gen(0x2e5a);
  std::uniform_int_distribution<int> byte(0, 255), length(0, 48), small(0, 3);
  const auto start = std::chrono::steady_clock::now();
  for (int round = 0; round < kRounds && std::chrono::steady_clock::now() - start < kTimeLimit; ++round) {
    const std::size_t n = static_cast<std::size_t>(length(gen));
    // Bytes biased toward NUL, continuation and lead bytes.
    std::unique_ptr<char[]> bytes(new char[n]);
    for (std::size_t i = 0; i < n; ++i) {
      const int pick = small(gen);
      bytes[i] = static_cast<char>(pick == 0 ? 0 : pick == 1 ? 0x80 | (byte(gen) & 0x3F) : byte(gen));
    }
    const std::string_view in(bytes.get(), n);

    // UTF-8 in: never longer than the input; a NUL stays a NUL, in place of
    // itself; a bad byte is the mark, never a character.
    const std::string internal = utf8_to_internal(in);
    ASSERT_LE(internal.size(), n);
    std::size_t nuls_in = 0, nuls_out = 0;
    for (char c : in) nuls_in += c == 0;
    for (char c : internal) nuls_out += c == 0;
    ASSERT_EQ(nuls_out, nuls_in);
    const std::string line = utf8_line_to_internal(in);
    ASSERT_EQ(line.size(), internal.size());

    // Internal out to UTF-8 and back: every code is one character again.
    const std::string utf8 = internal_to_utf8(in);
    ASSERT_LE(utf8.size(), 3 * n);
    ASSERT_EQ(utf8_to_internal(utf8).size(), n);

    // C-string translations stop at the first NUL and at count − 1.
    const int count = static_cast<int>(n) + 1;
    std::unique_ptr<char[]> text(new char[n + 1]);
    std::memcpy(text.get(), bytes.get(), n);
    text[n] = 0;
    std::unique_ptr<char[]> dst(new char[static_cast<std::size_t>(count)]);
    string_font_to_internal(text.get(), dst.get(), count);
    ASSERT_LE(std::strlen(dst.get()), std::strlen(text.get()));  // font 0x10-0x1F read as 0
    string_internal_to_font(text.get(), dst.get(), count);
    ASSERT_LE(std::strlen(dst.get()), std::strlen(text.get()));
    if (n) {
      ASSERT_EQ(quadtr(bytes.get(), dst.get(), static_cast<int>(n), 1), 0);
    }

    // Code points anywhere, including beyond the table and beyond Unicode.
    for (std::size_t i = 0; i + 4 <= n; i += 4) {
      std::uint32_t u;
      std::memcpy(&u, bytes.get() + i, 4);
      const std::uint8_t c = convert_from_unicode(u);
      if (!has_internal_code(u)) {
        ASSERT_EQ(c, 0x51) << u;
      }
    }

    // 8 ↔ 16 bits with exact rooms.
    const std::size_t room = static_cast<std::size_t>(length(gen));
    std::unique_ptr<char[]> units(new char[room + 1]);
    const char* from = bytes.get();
    std::size_t from_left = n, to_left = room;
    char* to = units.get();
    text_iconv(0, &from, &from_left, &to, &to_left);
    ASSERT_EQ(n - from_left, (room - to_left) / 2);
    ASSERT_TRUE(from_left == 0 || to_left < 2);
    from = bytes.get();
    from_left = n;
    to = units.get();
    to_left = room;
    text_iconv(1, &from, &from_left, &to, &to_left);
    ASSERT_TRUE(from_left < 2 || to_left == 0);

    // The bytes as a character vector read back as a text of at most 63.
    std::string out(64, '\0');
    const std::uint32_t len = static_cast<std::uint32_t>(n);
    std::unique_ptr<std::uint32_t[]> obj(new std::uint32_t[4 + (n + 3) / 4]);
    auto* ob = reinterpret_cast<std::uint8_t*>(obj.get());
    std::memset(ob, 0, 16 + ((n + 3) & ~std::size_t{3}));
    ob[8] = 11;
    ob[10] = 4;
    std::memcpy(ob + 12, &len, 4);
    std::memcpy(ob + 16, bytes.get(), n);
    const int code = get_translated_text(obj.get(), out.data(), 63);
    ASSERT_TRUE(code == 0 || (code == 20 && n > 63));
  }
}

}  // namespace
}  // namespace zema
