// The token-line fields: each writer lays down the bytes the format names,
// touches nothing beyond them, and its reader gives the value back.
#include "interpreter/reader/token_format.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

namespace zema {
namespace {

constexpr std::uint8_t kFill = 0xAA;
constexpr std::uint32_t kAt = 8;  // where each field is written in the buffer

std::vector<std::uint8_t> buffer() { return std::vector<std::uint8_t>(40, kFill); }

// The buffer's bytes from `from` up to `to`.
std::vector<std::uint8_t> bytes(const std::vector<std::uint8_t>& b, std::uint32_t from, std::uint32_t to) {
  return std::vector<std::uint8_t>(b.begin() + from, b.begin() + to);
}

// Nothing outside [from, to) was written.
void expect_untouched_outside(const std::vector<std::uint8_t>& b, std::uint32_t from, std::uint32_t to) {
  for (std::uint32_t i = 0; i < b.size(); ++i) {
    if (i >= from && i < to) continue;
    EXPECT_EQ(b[i], kFill) << "byte " << i;
  }
}

TEST(TokenFormat, LittleEndianIntegers) {
  struct Case {
    std::uint32_t value;
    std::vector<std::uint8_t> le16, le32;
  };
  const Case cases[] = {
      {0, {0, 0}, {0, 0, 0, 0}},
      {0x1234, {0x34, 0x12}, {0x34, 0x12, 0, 0}},
      {0xFFFF, {0xFF, 0xFF}, {0xFF, 0xFF, 0, 0}},
      {0x12345678, {0x78, 0x56}, {0x78, 0x56, 0x34, 0x12}},
      {0xFEDCBA98, {0x98, 0xBA}, {0x98, 0xBA, 0xDC, 0xFE}},
  };
  for (const Case& c : cases) {
    auto b = buffer();
    set_le16(b.data(), kAt, c.value);
    EXPECT_EQ(bytes(b, kAt, kAt + 2), c.le16) << std::hex << c.value;
    EXPECT_EQ(get_le16(b.data(), kAt), c.value & 0xFFFF) << std::hex << c.value;
    expect_untouched_outside(b, kAt, kAt + 2);

    b = buffer();
    set_le32(b.data(), kAt, c.value);
    EXPECT_EQ(bytes(b, kAt, kAt + 4), c.le32) << std::hex << c.value;
    EXPECT_EQ(get_le32(b.data(), kAt), c.value) << std::hex << c.value;
    expect_untouched_outside(b, kAt, kAt + 4);
  }
}

TEST(TokenFormat, StatementStartAndLength) {
  struct Case {
    bool long_form;
    std::vector<std::uint8_t> empty;  // the empty statement's bytes
    std::uint32_t length;             // a length set afterwards
    std::vector<std::uint8_t> field;  // the length field it gives
  };
  const Case cases[] = {
      {false, {3, 0, TT_STATEMENT}, 9, {9, 0}},
      {false, {3, 0, TT_STATEMENT}, tl::kShortLengthMax, {0xFE, 0xFF}},
      {true, {0xFF, 0xFF, 7, 0, 0, 0, TT_STATEMENT}, 13, {0xFF, 0xFF, 13, 0, 0, 0}},
      {true, {0xFF, 0xFF, 7, 0, 0, 0, TT_STATEMENT}, 0x10005, {0xFF, 0xFF, 5, 0, 1, 0}},
  };
  for (const Case& c : cases) {
    auto b = buffer();
    const std::uint32_t head = set_statement_start(b.data(), kAt, c.long_form);
    EXPECT_EQ(head, statement_head(c.long_form));
    EXPECT_EQ(head, c.long_form ? tl::kLongHead : tl::kShortHead);
    EXPECT_EQ(bytes(b, kAt, kAt + head), c.empty) << c.long_form;
    expect_untouched_outside(b, kAt, kAt + head);
    EXPECT_EQ(statement_is_long(b.data(), kAt), c.long_form);
    EXPECT_EQ(get_statement_head(b.data(), kAt), head);
    EXPECT_EQ(get_statement_length(b.data(), kAt), head);

    // The length keeps the form the field has; the tag stays.
    set_statement_length(b.data(), kAt, c.length);
    EXPECT_EQ(bytes(b, kAt, kAt + head - 1), c.field) << c.length;
    EXPECT_EQ(b[kAt + head - 1], TT_STATEMENT);
    expect_untouched_outside(b, kAt, kAt + head);
    EXPECT_EQ(get_statement_length(b.data(), kAt), c.length);
    EXPECT_EQ(get_statement_head(b.data(), kAt), head);
  }
}

TEST(TokenFormat, LineEndIsALengthOfZero) {
  auto b = buffer();
  set_line_end(b.data(), kAt);
  EXPECT_EQ(bytes(b, kAt, kAt + 2), (std::vector<std::uint8_t>{0, 0}));
  expect_untouched_outside(b, kAt, kAt + 2);
  EXPECT_EQ(get_statement_length(b.data(), kAt), 0u);
}

TEST(TokenFormat, CountAndTag) {
  struct Case {
    std::uint32_t count;
    std::vector<std::uint8_t> trailer;
  };
  const Case cases[] = {
      {0, {0, 0, TT_CHARS}},
      {1, {1, 0, TT_CHARS}},
      {0x1234, {0x34, 0x12, TT_CHARS}},
      {0xFFFE, {0xFE, 0xFF, TT_CHARS}},                          // the largest short count
      {0xFFFF, {0xFF, 0xFF, 0, 0, 0xFF, 0xFF, TT_CHARS}},        // the smallest long one
      {70000, {0x70, 0x11, 0x01, 0, 0xFF, 0xFF, TT_CHARS}},
      {0x12345678, {0x78, 0x56, 0x34, 0x12, 0xFF, 0xFF, TT_CHARS}},
  };
  for (const Case& c : cases) {
    auto b = buffer();
    const std::uint32_t end = set_count_and_tag(b.data(), kAt, c.count, TT_CHARS);
    EXPECT_EQ(end - kAt, count_trailer_size(c.count)) << c.count;
    EXPECT_EQ(bytes(b, kAt, end), c.trailer) << c.count;
    expect_untouched_outside(b, kAt, end);
    // Read from the tag back: the count, and the cursor at its first byte.
    std::uint32_t cursor = end - 1;
    EXPECT_EQ(get_count(b.data(), cursor), c.count);
    EXPECT_EQ(cursor, kAt) << c.count;
  }
}

}  // namespace
}  // namespace zema
