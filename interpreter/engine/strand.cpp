// Strand notation: two adjacent values joined into one vector.
#include <cstring>
#include <utility>

#include "interpreter/engine/engine.h"
#include "interpreter/engine/error_path.h"
#include "interpreter/workspace/errors.h"
#include "interpreter/workspace/heap.h"

namespace zema {

namespace {

struct Array {
  std::uint32_t off;
  std::uint8_t type;
  std::uint32_t rank;
  std::uint32_t count;
  std::uint32_t data;  // offset of the first element
};

Array describe(std::uint32_t off, Ws ws) {
  Array a{off, rd8(ws, off + obj::Type), rd16(ws, off + obj::Rank4) / 4u, 1, 0};
  for (std::uint32_t i = 0; i < a.rank; ++i) a.count *= rd32(ws, off + obj::Shape + 4 * i);
  a.data = off + obj::Shape + 4 * a.rank;
  return a;
}

bool numeric(std::uint8_t t) { return t == ET_BOOL || t == ET_INT || t == ET_FLOAT; }

std::uint32_t element_size(std::uint8_t t) {
  switch (t) {
    case ET_FLOAT: return 8;
    case ET_CHAR: return 1;
    case ET_WIDE16: return 16;
    default: return 4;
  }
}

// The size of the scalar object an exploded element becomes.
std::uint32_t scalar_size(std::uint8_t t) { return t == ET_FLOAT ? 20 : t == ET_WIDE16 ? 28 : 16; }

// Element i of a simple array as a double (numeric types).
double number_at(const Array& a, std::uint32_t i, Ws ws) {
  switch (a.type) {
    case ET_BOOL: return (rd32(ws, a.data + 4 * (i / 32)) >> (31 - i % 32)) & 1;
    case ET_INT: return rdi32(ws, a.data + 4 * i);
    default: {
      double d;
      std::memcpy(&d, ws + a.data + 8 * i, 8);
      return d;
    }
  }
}

// How a side enters the result: not at all (a simple result), whole as
// one item, or by its items (a nested array's items, else its elements,
// each made a scalar).
enum class Part : std::uint8_t { None, Whole, Items };

std::uint32_t item_object(const Array& a, std::uint32_t index, Ws ws) {
  return a.off + rd32(ws, a.data + 4 * index);
}

// How many items a side gives, and their bytes.
std::uint64_t part_count(const Array& a, Part p) { return p == Part::Whole ? 1 : p == Part::Items ? a.count : 0; }
std::uint64_t part_bytes(const Array& a, Part p, Ws ws) {
  if (p == Part::Whole) return rd32(ws, a.off + obj::Size);
  if (p == Part::None) return 0;
  if (a.type != ET_NESTED) return std::uint64_t(a.count) * scalar_size(a.type);
  std::uint64_t bytes = 0;
  for (std::uint32_t i = 0; i < a.count; ++i) bytes += rd32(ws, item_object(a, i, ws) + obj::Size);
  return bytes;
}

bool marked(std::uint32_t off, Ws ws) { return rd8(ws, off) & kStrandMark; }
void unmark(std::uint32_t off, Ws ws) { wr8(ws, off, rd8(ws, off) & ~kStrandMark); }

}  // namespace

int do_xnest(Ws ws) {
  const std::uint32_t ea = stack_entry_at(0, ws);
  const std::uint32_t eb = stack_entry_at(1, ws);
  Array a = describe(find_ws_entry(ea, ws), ws);
  Array b = describe(find_ws_entry(eb, ws), ws);

  Part pa = Part::None, pb = Part::None;
  bool simple = false;
  std::uint8_t simple_type = 0;
  const bool bm = marked(b.off, ws);
  unmark(b.off, ws);
  if (!bm && (b.type == ET_NESTED || b.rank != 0)) {
    const bool am = marked(a.off, ws);
    unmark(a.off, ws);
    pa = !am || a.rank == 0 ? Part::Whole : Part::Items;
    pb = Part::Whole;
  } else if (b.type == ET_NESTED) {
    pa = marked(a.off, ws) && a.rank != 0 ? Part::Items : Part::Whole;
    unmark(a.off, ws);
    pb = Part::Items;
  } else {
    const bool same = (a.type == ET_CHAR && b.type == ET_CHAR) || (a.type == ET_OBJREF && b.type == ET_OBJREF) ||
                      (numeric(a.type) && numeric(b.type));
    const bool am = marked(a.off, ws);
    unmark(a.off, ws);
    if (same && (am || a.rank == 0)) {
      simple = true;
      simple_type = a.type > b.type ? a.type : b.type;
    } else if (am) {
      pa = pb = Part::Items;
    } else if (b.rank != 0) {
      pa = Part::Whole;
      pb = Part::Items;
    } else {
      pa = pb = Part::Whole;
    }
  }

  // Allocate: the arrays may move, so they are found again afterwards.
  std::uint32_t result;
  const std::uint64_t n = simple ? std::uint64_t(a.count) + b.count : part_count(a, pa) + part_count(b, pb);
  if (n > 0x3FFFFFFF) xwsfll(ws);
  if (simple) {
    const std::uint64_t bytes = simple_type == ET_BOOL ? ((n + 31) / 32) * 4 : n * element_size(simple_type);
    if (bytes > 0xFFFFFF00u) xwsfll(ws);
    result = getspc(static_cast<std::uint32_t>(8 + bytes), ws);
  } else {
    const std::uint64_t bytes = 8 + 4 * n + part_bytes(a, pa, ws) + part_bytes(b, pb, ws);
    if (bytes > 0xFFFFFF00u) xwsfll(ws);
    result = getspc(static_cast<std::uint32_t>(bytes), ws);
  }
  a = describe(find_ws_entry(ea, ws), ws);
  b = describe(find_ws_entry(eb, ws), ws);
  const auto count = static_cast<std::uint32_t>(n);
  wr16(ws, result + obj::Rank4, 4);
  wr32(ws, result + obj::Shape, count);
  const std::uint32_t data = result + obj::Shape + 4;

  if (simple) {
    wr8(ws, result + obj::Type, simple_type);
    std::uint32_t k = 0;
    for (const Array* side : {&a, &b}) {
      for (std::uint32_t i = 0; i < side->count; ++i, ++k) {
        switch (simple_type) {
          case ET_BOOL:
            if (number_at(*side, i, ws) != 0) wr32(ws, data + 4 * (k / 32), rd32(ws, data + 4 * (k / 32)) | (0x80000000u >> (k % 32)));
            break;
          case ET_INT: wr32(ws, data + 4 * k, static_cast<std::uint32_t>(static_cast<std::int32_t>(number_at(*side, i, ws)))); break;
          case ET_FLOAT: {
            double d = number_at(*side, i, ws);
            std::memcpy(ws + data + 8 * k, &d, 8);
            break;
          }
          default: {
            const std::uint32_t w = element_size(simple_type);
            std::memcpy(ws + data + w * k, ws + side->data + w * i, w);
          }
        }
      }
    }
  } else {
    wr8(ws, result + obj::Type, ET_NESTED);
    std::uint32_t at = data + 4 * count;
    std::uint32_t k = 0;
    using Side = std::pair<const Array*, Part>;
    for (const Side& side : {Side{&a, pa}, Side{&b, pb}}) {
      const Array& x = *side.first;
      if (side.second == Part::Whole || (side.second == Part::Items && x.type == ET_NESTED)) {
        const bool whole = side.second == Part::Whole;
        for (std::uint32_t i = 0; i < (whole ? 1 : x.count); ++i) {
          const std::uint32_t src = whole ? x.off : item_object(x, i, ws);
          const std::uint32_t size = rd32(ws, src + obj::Size);
          wr32(ws, data + 4 * k++, at - result);
          std::memmove(ws + at, ws + src, size);
          wr8(ws, at, 0);  // an item has no owner of its own
          at += size;
        }
      } else if (side.second == Part::Items) {
        // Scalars of one element each; a boolean keeps its bit at the top.
        const std::uint32_t size = scalar_size(x.type), w = element_size(x.type);
        for (std::uint32_t i = 0; i < x.count; ++i) {
          wr32(ws, data + 4 * k++, at - result);
          wr32(ws, at, 0);
          wr32(ws, at + obj::Size, size);
          wr8(ws, at + obj::Type, x.type);
          wr8(ws, at + obj::Flags9, 0);
          wr16(ws, at + obj::Rank4, 0);
          if (x.type == ET_BOOL) {
            wr32(ws, at + 12, number_at(x, i, ws) != 0 ? 0x80000000u : 0);
          } else {
            wr32(ws, at + 12, 0);
            std::memcpy(ws + at + 12, ws + x.data + w * i, w);
          }
          at += size;
        }
      }
    }
    if (k != count || at != result + rd32(ws, result + obj::Size)) ZEMA_SYSTEM_ERROR(ws);
  }

  // The result takes B's slot; A's entry goes.
  StackEntry ta;
  unstack(ta, ws);
  release_entry(ta, ws);
  settle_entry(stack_entry_at(0, ws), StackEntry{static_cast<std::uint8_t>(kOwnsObject | TC_VALUE), 0, result}, ws);
  wr8(ws, result, rd8(ws, result) | kStrandMark);
  return ES_BIND;
}

}  // namespace zema
