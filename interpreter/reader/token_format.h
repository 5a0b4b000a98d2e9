// The byte format of a token line: its layout, its tags, and one reader and
// one writer for each field whose encoding is the line's own (statement
// lengths, the count and tag that close a counted token, and the
// little-endian integers they are made of). Every routine that walks or
// writes token lines goes through these, so the format is defined once.
//
// TokenLine (offsets from the object; the owner word at -4 is the kill slot
// 0x174 while the line is built):
//   +0  b  owner kind 0          +1  b  0x42 (0x40 token line, 0x02 new line;
//   +2  h  control depth                  definition adds 0x04 header, 0x80 locked)
//   +4  w  size: 23 / 27 while being built, then header + statements + end
//          marker rounded up to 4
//   +8  w  next line of the same function, 0
//   +12 w  0 (function definition's)
//   +16 h  label: its symbol token, machine order; 0 when none
//   +18    statements, then a u16 zero
// Statement: u16 length low byte first (counting itself, the tag and the
// tokens), or 0xFFFF and a u32 length low byte first (counting its 6 bytes,
// tag and tokens); the opening tag 0x01; the tokens left to right.
// Every token ends in its tag byte (TokenTag); an even last byte ends a
// 2-byte symbol token, high byte first. A counted token (literal, comment)
// ends in its count and tag: a u16 count low byte first when below 0xFFFF,
// else a u32 count low byte first and then 0xFFFF.
#pragma once

#include <cstdint>

#include "interpreter/workspace/workspace.h"

namespace zema {

// ---- token-line layout --------------------------------------------------------

// Offsets in a token line (a heap object) and its sizes.
namespace tl {
constexpr std::uint32_t Marks = 1;     // b: kTokenLineMarks; a function line's marks (fnmark::)
constexpr std::uint32_t CsDepth = 2;   // h: control-structure depth for listing
constexpr std::uint32_t Size = 4;      // w: object size (obj::Size)
constexpr std::uint32_t Next = 8;      // w: the function's next line, 0 for none
constexpr std::uint32_t DefWord = 12;  // w: 0 when made; a function line's own words (fnl::)
constexpr std::uint32_t Label = 16;    // h: the label's symbol token, 0 for none
constexpr std::uint32_t Body = 18;     // the first statement
constexpr std::uint32_t kInitialShort = 23;  // size of a fresh line, its first statement short form
constexpr std::uint32_t kInitialLong = 27;   // the same, long form
constexpr std::uint32_t kShortHead = 3;  // length and tag of a short-form statement
constexpr std::uint32_t kLongHead = 7;   // 0xFFFF, u32 length and tag
constexpr std::uint32_t kShortLengthMax = 0xFFFE;  // the longest short-form statement
}  // namespace tl

// The marks byte of a token line made by the tokeniser.
constexpr std::uint8_t kTokenLineMarks = 0x42;

// Tags of the tokens that are not names or one-byte tokens (odd, so that
// an even last byte is a symbol token's).
enum TokenTag : std::uint8_t {
  TT_STATEMENT = 0x01,
  TT_COMMENT = 0x03,  // 0x00, blanks before ⍝ (u16 high first), text, count, tag
  TT_BOOL = 0x05,
  TT_INT = 0x07,
  TT_FLOAT = 0x09,
  TT_CHARS = 0x0B,     // written in single quotes
  TT_DQ_CHARS = 0x11,  // written in double quotes
  TT_ZILDE = 0x15,
};

// ---- little-endian integers -----------------------------------------------------

// The u16 / u32 at `off`, low byte first whatever the machine's order.
inline std::uint32_t get_le16(Ws ws, std::uint32_t off) { return ws[off] | (std::uint32_t(ws[off + 1]) << 8); }
// The u32 at `off`, low byte first.
inline std::uint32_t get_le32(Ws ws, std::uint32_t off) { return get_le16(ws, off) | (get_le16(ws, off + 2) << 16); }
// Writes the low 16 / all 32 bits of v at `off`, low byte first.
inline void set_le16(Ws ws, std::uint32_t off, std::uint32_t v) {
  ws[off] = static_cast<std::uint8_t>(v);
  ws[off + 1] = static_cast<std::uint8_t>(v >> 8);
}
// Writes the low 32 bits of v at `off`, low byte first.
inline void set_le32(Ws ws, std::uint32_t off, std::uint32_t v) {
  set_le16(ws, off, v);
  set_le16(ws, off + 2, v >> 16);
}

// ---- statements -------------------------------------------------------------------

// The first u16 of a long-form length field.
constexpr std::uint32_t kLongLengthMark = 0xFFFF;

// Bytes before a statement's first token (length field and opening tag).
constexpr std::uint32_t statement_head(bool long_form) { return long_form ? tl::kLongHead : tl::kShortHead; }

// Whether the statement at `s` has the long-form length field.
inline bool statement_is_long(Ws ws, std::uint32_t s) { return get_le16(ws, s) == kLongLengthMark; }

// The length of the statement at `s` (from its length field to its end);
// 0 at the line's end marker.
inline std::uint32_t get_statement_length(Ws ws, std::uint32_t s) {
  const std::uint32_t n = get_le16(ws, s);
  return n == kLongLengthMark ? get_le32(ws, s + 2) : n;
}
// Sets the length of the statement at `s`, in the form its field has
// (a short-form length must not exceed tl::kShortLengthMax).
inline void set_statement_length(Ws ws, std::uint32_t s, std::uint32_t length) {
  if (statement_is_long(ws, s)) set_le32(ws, s + 2, length);
  else set_le16(ws, s, length);
}

// Bytes before the first token of the statement at `s`.
inline std::uint32_t get_statement_head(Ws ws, std::uint32_t s) { return statement_head(statement_is_long(ws, s)); }

// Writes an empty statement at `s` in the form given: its length field
// (the head's own length) and the opening tag. Answers the head's length,
// the offset of the first token from `s`.
inline std::uint32_t set_statement_start(Ws ws, std::uint32_t s, bool long_form) {
  const std::uint32_t head = statement_head(long_form);
  if (long_form) {
    set_le16(ws, s, kLongLengthMark);
    set_le32(ws, s + 2, head);
  } else {
    set_le16(ws, s, head);
  }
  wr8(ws, s + head - 1, TT_STATEMENT);
  return head;
}

// Writes the line's end marker (a zero length) at `at`.
inline void set_line_end(Ws ws, std::uint32_t at) { set_le16(ws, at, 0); }

// ---- counted tokens -----------------------------------------------------------------

// Bytes of the count and tag that close a counted token of count n.
constexpr std::uint32_t count_trailer_size(std::uint32_t n) { return n < kLongLengthMark ? 3 : 7; }

// Writes count n and `tag` from `at` (just after the token's contents);
// answers the offset after the tag.
inline std::uint32_t set_count_and_tag(Ws ws, std::uint32_t at, std::uint32_t n, std::uint8_t tag) {
  if (n < kLongLengthMark) {
    set_le16(ws, at, n);
    at += 2;
  } else {
    set_le32(ws, at, n);
    set_le16(ws, at + 4, kLongLengthMark);
    at += 6;
  }
  wr8(ws, at, tag);
  return at + 1;
}

// Reads the count that ends just before `cursor` (the offset of the tag)
// and moves the cursor back to the count's first byte.
inline std::uint32_t get_count(Ws ws, std::uint32_t& cursor) {
  std::uint32_t n = get_le16(ws, cursor - 2);
  cursor -= 2;
  if (n == kLongLengthMark) {
    n = get_le32(ws, cursor - 4);
    cursor -= 4;
  }
  return n;
}

}  // namespace zema
