// Building APL arrays for tests: array images assembled in host memory
// (header, shape, elements, or a nested array's offset table and items),
// then placed in the workspace heap as one object held by a stack entry.
//
//   auto v = make_int_vector(ws, {1, 2, 3});            // heap object offset
//   auto m = place(ws, int_array({2, 3}, {1, 2, 3, 4, 5, 6}));
//   auto n = make_nested(ws, {int_vector({1, 2}), char_vector("ab")});
//   display_array(line, slot_of(ws, n), ws);             // the holding slot
#pragma once

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <sstream>
#include <string>
#include <vector>

#include "host/charset.h"
#include "interpreter/workspace/heap.h"
#include "interpreter/workspace/stack.h"
#include "interpreter/workspace/workspace.h"

namespace zema::test {

// An object image from its offset 0 (kind byte) to the end of its data;
// the size word at offset 4 is filled in.
struct ArrayImage {
  std::vector<std::uint8_t> bytes;

  std::uint32_t size() const { return static_cast<std::uint32_t>(bytes.size()); }
};

using Shape = std::vector<std::uint32_t>;

namespace detail {

// memcpy of n bytes that allows an empty source.
inline void copy(void* to, const void* from, std::size_t n) {
  if (n != 0) std::memcpy(to, from, n);
}

inline std::uint32_t count_of(const Shape& shape) {
  std::uint32_t n = 1;
  for (auto s : shape) n *= s;
  return n;
}

// Header and shape of an array of `type`, with `data_bytes` of elements
// (zero) after them; the size rounded up to a multiple of 4.
inline ArrayImage header(std::uint8_t type, const Shape& shape, std::uint32_t data_bytes) {
  ArrayImage a;
  const std::uint32_t raw = obj::Shape + 4 * static_cast<std::uint32_t>(shape.size()) + data_bytes;
  const std::uint32_t size = std::max<std::uint32_t>((raw + 3) & ~3u, 12);
  a.bytes.assign(size, 0);
  std::memcpy(&a.bytes[obj::Size], &size, 4);
  a.bytes[obj::Type] = type;
  const auto rank4 = static_cast<std::uint16_t>(4 * shape.size());
  std::memcpy(&a.bytes[obj::Rank4], &rank4, 2);
  for (std::size_t i = 0; i < shape.size(); ++i) std::memcpy(&a.bytes[obj::Shape + 4 * i], &shape[i], 4);
  return a;
}

inline std::uint32_t data_start(const Shape& shape) {
  return obj::Shape + 4 * static_cast<std::uint32_t>(shape.size());
}

}  // namespace detail

// ---- simple arrays --------------------------------------------------------------------

inline ArrayImage int_array(const Shape& shape, const std::vector<std::int32_t>& values) {
  ArrayImage a = detail::header(ET_INT, shape, 4 * detail::count_of(shape));
  detail::copy(a.bytes.data() + detail::data_start(shape), values.data(), 4 * values.size());
  return a;
}
inline ArrayImage int_vector(const std::vector<std::int32_t>& v) {
  return int_array({static_cast<std::uint32_t>(v.size())}, v);
}
inline ArrayImage int_scalar(std::int32_t v) { return int_array({}, {v}); }

inline ArrayImage float_array(const Shape& shape, const std::vector<double>& values) {
  ArrayImage a = detail::header(ET_FLOAT, shape, 8 * detail::count_of(shape));
  detail::copy(a.bytes.data() + detail::data_start(shape), values.data(), 8 * values.size());
  return a;
}
inline ArrayImage float_vector(const std::vector<double>& v) {
  return float_array({static_cast<std::uint32_t>(v.size())}, v);
}
inline ArrayImage float_scalar(double v) { return float_array({}, {v}); }

// Booleans, 32 to a word, the first element in the most significant bit.
inline ArrayImage bool_array(const Shape& shape, const std::vector<int>& bits) {
  const std::uint32_t n = detail::count_of(shape);
  ArrayImage a = detail::header(ET_BOOL, shape, 4 * ((n + 31) / 32));
  const std::uint32_t data = detail::data_start(shape);
  for (std::uint32_t k = 0; k < bits.size(); ++k) {
    if (!bits[k]) continue;
    std::uint32_t word;
    std::memcpy(&word, &a.bytes[data + 4 * (k / 32)], 4);
    word |= 0x80000000u >> (k % 32);
    std::memcpy(&a.bytes[data + 4 * (k / 32)], &word, 4);
  }
  return a;
}
inline ArrayImage bool_vector(const std::vector<int>& bits) {
  return bool_array({static_cast<std::uint32_t>(bits.size())}, bits);
}

// Characters given in UTF-8, stored in the internal character set.
inline ArrayImage char_array(const Shape& shape, const std::string& utf8) {
  const std::string text = utf8_to_internal(utf8);
  ArrayImage a = detail::header(ET_CHAR, shape, detail::count_of(shape));
  detail::copy(a.bytes.data() + detail::data_start(shape), text.data(), text.size());
  return a;
}
inline ArrayImage char_vector(const std::string& utf8) {
  return char_array({static_cast<std::uint32_t>(utf8_to_internal(utf8).size())}, utf8);
}
inline ArrayImage char_scalar(const std::string& utf8) { return char_array({}, utf8); }

// Object references: pool slot numbers.
inline ArrayImage objref_array(const Shape& shape, const std::vector<std::uint32_t>& slots) {
  ArrayImage a = detail::header(ET_OBJREF, shape, 4 * detail::count_of(shape));
  detail::copy(a.bytes.data() + detail::data_start(shape), slots.data(), 4 * slots.size());
  return a;
}

// An array of any element type with zeroed elements (for types the
// display does not take).
inline ArrayImage raw_array(std::uint8_t type, const Shape& shape, std::uint32_t data_bytes) {
  return detail::header(type, shape, data_bytes);
}

// ---- nested arrays ----------------------------------------------------------------------

// Items are copied behind the offset table, without owner words; each
// offset counts from the nested array's own start. An array without items
// keeps `prototype` behind its (empty) table.
inline ArrayImage nested_array(const Shape& shape, const std::vector<ArrayImage>& items,
                               const ArrayImage& prototype = int_vector({})) {
  const std::uint32_t table = detail::data_start(shape);
  std::uint32_t size = table + 4 * static_cast<std::uint32_t>(items.size());
  const std::vector<ArrayImage>& stored = items.empty() ? std::vector<ArrayImage>{prototype} : items;
  for (const auto& it : stored) size += it.size();
  ArrayImage a = detail::header(ET_NESTED, shape, 0);
  a.bytes.resize(size, 0);
  std::memcpy(&a.bytes[obj::Size], &size, 4);
  std::uint32_t at = table + 4 * static_cast<std::uint32_t>(items.size());
  for (std::size_t i = 0; i < stored.size(); ++i) {
    if (!items.empty()) std::memcpy(&a.bytes[table + 4 * i], &at, 4);
    std::memcpy(&a.bytes[at], stored[i].bytes.data(), stored[i].size());
    at += stored[i].size();
  }
  return a;
}
inline ArrayImage nested_vector(const std::vector<ArrayImage>& items) {
  return nested_array({static_cast<std::uint32_t>(items.size())}, items);
}
inline ArrayImage nested_scalar(const ArrayImage& item) { return nested_array({}, {item}); }

// `item` enclosed `levels` times.
inline ArrayImage enclosed(ArrayImage item, int levels) {
  for (int i = 0; i < levels; ++i) item = nested_scalar(item);
  return item;
}

// ---- placing in the workspace -------------------------------------------------------------

// Copies the image into a new heap object held by a new stack entry (so
// that compaction keeps it and its slot up to date); answers the object's
// offset.
inline std::uint32_t place(Ws ws, const ArrayImage& a) {
  const std::uint32_t off = getspc(a.size() - 8, ws);
  std::memcpy(ws + off + 8, a.bytes.data() + 8, a.size() - 8);
  store_entry(hdr::TokenRegister, StackEntry{kOwnsObject | 1, 0, off}, ws);
  stack(hdr::TokenRegister, ws);
  store_entry(hdr::TokenRegister, null_entry, ws);
  return off;
}

// The slot (stack entry value word) that holds a placed object.
inline std::uint32_t slot_of(Ws ws, std::uint32_t object) { return owner_slot(object, ws); }

inline std::uint32_t make_int_vector(Ws ws, const std::vector<std::int32_t>& v) { return place(ws, int_vector(v)); }
inline std::uint32_t make_float_vector(Ws ws, const std::vector<double>& v) { return place(ws, float_vector(v)); }
inline std::uint32_t make_char_vector(Ws ws, const std::string& utf8) { return place(ws, char_vector(utf8)); }
inline std::uint32_t make_nested(Ws ws, const std::vector<ArrayImage>& items) {
  return place(ws, nested_vector(items));
}

// The array at `off` as text: type letter (B boolean, I integer, F float,
// C character, R reference, N nested), shape in brackets (none for a
// scalar), the elements; a nested array's items in parentheses, and an
// empty nested array's prototype after a colon.
inline std::string render(Ws ws, std::uint32_t off) {
  std::ostringstream s;
  const std::uint8_t type = rd8(ws, off + obj::Type);
  const std::uint32_t rank = rd16(ws, off + obj::Rank4) / 4;
  std::uint32_t n = 1;
  const char* letters = "?????B?I?F?C??RN";
  s << (type < 16 ? letters[type] : '?');
  if (rank) {
    s << '[';
    for (std::uint32_t i = 0; i < rank; ++i) {
      const std::uint32_t len = rd32(ws, off + obj::Shape + 4 * i);
      s << (i ? " " : "") << len;
      n *= len;
    }
    s << ']';
  }
  const std::uint32_t data = off + obj::Shape + 4 * rank;
  for (std::uint32_t i = 0; i < n; ++i) {
    switch (type) {
      case ET_BOOL: s << ' ' << ((rd32(ws, data + 4 * (i / 32)) >> (31 - i % 32)) & 1); break;
      case ET_INT: s << ' ' << rdi32(ws, data + 4 * i); break;
      case ET_FLOAT: {
        double d;
        std::memcpy(&d, ws + data + 8 * i, 8);
        s << ' ' << d;
        break;
      }
      case ET_CHAR: s << ' ' << internal_to_utf8(std::string(1, static_cast<char>(rd8(ws, data + i)))); break;
      case ET_OBJREF: s << ' ' << rd32(ws, data + 4 * i); break;
      case ET_NESTED: s << '(' << render(ws, off + rd32(ws, data + 4 * i)) << ')'; break;
      default: s << " ?";
    }
  }
  if (type == ET_NESTED && n == 0 && rd32(ws, off + obj::Size) > data - off) s << ':' << render(ws, data);
  return s.str();
}

}  // namespace zema::test
