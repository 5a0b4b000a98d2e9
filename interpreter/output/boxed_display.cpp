// The boxed display: pictures built as character nodes in the free space
// above the heap, each one settled where its work began once it is made.
#include "interpreter/output/boxed_display.h"

#include <algorithm>
#include <cstring>

#include "interpreter/output/display.h"
#include "interpreter/output/show.h"
#include "interpreter/workspace/arrays.h"
#include "interpreter/workspace/errors.h"

namespace zema {

namespace {

// Internal codes of the picture's characters.
constexpr std::uint8_t kTopLeft = 0x90, kTopRight = 0x91, kBottomLeft = 0x92, kBottomRight = 0x93;
constexpr std::uint8_t kHorizontal = 0x94, kVertical = 0x95;
constexpr std::uint8_t kLastAxis = 0x5D, kEmptyLastAxis = 0x14;        // → ⊖
constexpr std::uint8_t kLeadingAxis = 0x55, kEmptyLeadingAxis = 0x12;  // ↓ ⌽
constexpr std::uint8_t kNestedMark = 0x45, kMixedMark = 0x2D, kNumericMark = 0x54;  // ∊ + ~
constexpr std::uint8_t kCharScalarMark = 0x5F;                                     // -

std::uint32_t round4(std::uint64_t n) { return static_cast<std::uint32_t>((n + 3) & ~std::uint64_t(3)); }

std::uint32_t rows_of(std::uint32_t node, Ws ws) { return rd32(ws, node + dnode::Rows); }
std::uint32_t cols_of(std::uint32_t node, Ws ws) { return rd32(ws, node + dnode::Columns); }
std::uint32_t chars_of(std::uint32_t node) { return node + dnode::Chars; }

// A character node of `rows` × `cols` blanks at the layout cursor (which
// moves past it). Its header is also that of a character matrix.
std::uint32_t new_node(std::uint64_t rows, std::uint64_t cols, Ws ws) {
  const std::uint64_t bytes = dnode::Chars + rows * cols;
  if (rows > 0x7FFFFFFF || cols > 0x7FFFFFFF || bytes > 0x7FFFFFFF) ws_full(ws);
  layout_need_room(bytes, ws);
  const std::uint32_t node = layout_cursor(ws);
  wr16(ws, node + dnode::Rank, 2);
  wr8(ws, node + dnode::NotChar, 0);
  wr8(ws, node + dnode::NumScalar, 0);
  wr32(ws, node + dnode::Size, round4(bytes));
  wr32(ws, node + dnode::TypeWord, kCharNodeType);
  wr32(ws, node + dnode::Rows, static_cast<std::uint32_t>(rows));
  wr32(ws, node + dnode::Columns, static_cast<std::uint32_t>(cols));
  std::memset(ws + chars_of(node), kBlank, static_cast<std::size_t>(rows * cols));
  set_layout_cursor(node + round4(bytes), ws);
  return node;
}

// Moves the finished picture `node` down to `start` (where its work began)
// and frees what lay above it.
std::uint32_t settle(std::uint32_t start, std::uint32_t node, Ws ws) {
  const std::uint32_t size = rd32(ws, node + dnode::Size);
  if (node != start) std::memmove(ws + start, ws + node, size);
  set_layout_cursor(start + size, ws);
  return start;
}

// The box around the laid-out node `inside`, marked with the axes of the
// array `value` and the kind mark `kind`.
std::uint32_t box(std::uint32_t value, std::uint32_t inside, std::uint8_t kind, Ws ws) {
  const std::uint32_t rank = array_rank(value, ws);
  const std::uint32_t k = rank <= 2 ? 1 : rank - 1;
  const std::uint32_t r = rows_of(inside, ws), c = cols_of(inside, ws);
  const std::uint32_t inner = std::max<std::uint32_t>(c, 1);
  const std::uint32_t width = k + inner + 1;
  const std::uint32_t b = new_node(std::uint64_t(r) + 2, width, ws);
  std::uint8_t* p = ws + chars_of(b);
  const std::uint8_t* in = ws + chars_of(inside);

  std::memset(p, kTopLeft, k);
  std::memset(p + k, kHorizontal, inner);
  if (rank > 0) p[k] = array_axis(value, rank - 1, ws) ? kLastAxis : kEmptyLastAxis;
  p[width - 1] = kTopRight;
  for (std::uint32_t i = 0; i < r; ++i) {
    std::uint8_t* row = p + std::size_t(i + 1) * width;
    std::memset(row, kVertical, k);
    if (i == 0 && rank >= 2)
      for (std::uint32_t a = 0; a < k; ++a) row[a] = array_axis(value, a, ws) ? kLeadingAxis : kEmptyLeadingAxis;
    std::memcpy(row + k, in + std::size_t(i) * c, c);
    row[width - 1] = kVertical;
  }
  std::uint8_t* last = p + std::size_t(r + 1) * width;
  std::memset(last, kBottomLeft, k);
  std::memset(last + k, kHorizontal, inner);
  last[k] = kind;
  last[width - 1] = kBottomRight;
  return b;
}

std::uint8_t simple_kind(std::uint32_t value, Ws ws) {
  const std::uint8_t t = array_type(value, ws);
  return t == ET_NESTED ? kMixedMark : t == ET_CHAR ? kHorizontal : kNumericMark;
}

// Elements of `value` with every empty axis counted as 1.
std::uint64_t filled_count(std::uint32_t value, Ws ws) {
  std::uint64_t n = 1;
  for (std::uint32_t a = 0; a < array_rank(value, ws); ++a) {
    n *= std::max<std::uint32_t>(array_axis(value, a, ws), 1);
    if (n > 0x7FFFFFFF) ws_full(ws);
  }
  return n;
}

// A scalar: its layout with a blank row above and below, and (alone) a
// blank column on each side; - under a character.
std::uint32_t scalar_picture(std::uint32_t value, bool inside, Ws ws) {
  const std::uint32_t start = layout_cursor(ws);
  const std::uint32_t laid = lay_out_char_node(value, false, ws);
  const std::uint32_t r = rows_of(laid, ws), c = cols_of(laid, ws);
  const std::uint32_t width = inside ? c : c + 2;
  const std::uint32_t pic = new_node(std::uint64_t(r) + 2, width, ws);
  for (std::uint32_t i = 0; i < r; ++i)
    std::memcpy(ws + chars_of(pic) + std::size_t(i + 1) * width + (inside ? 0 : 1),
                ws + chars_of(laid) + std::size_t(i) * c, c);
  if (array_type(value, ws) == ET_CHAR && width >= 2 - (inside ? 1 : 0))
    wr8(ws, chars_of(pic) + std::size_t(r + 1) * width + (inside ? width - 1 : width - 2), kCharScalarMark);
  return settle(start, pic, ws);
}

// An empty simple array: a stand-in of its rank with every empty axis made
// 1 (blanks for characters, integer zeros otherwise), boxed with the
// array's own axes.
std::uint32_t empty_picture(std::uint32_t value, Ws ws) {
  const std::uint32_t start = layout_cursor(ws);
  const std::uint32_t rank = array_rank(value, ws);
  const bool chars = array_type(value, ws) == ET_CHAR;
  const std::uint64_t n = filled_count(value, ws);
  const std::uint64_t bytes = obj::Shape + 4ull * rank + (chars ? n : 4 * n);
  layout_need_room(bytes, ws);
  const std::uint32_t stand_in = start;
  std::memset(ws + stand_in, 0, obj::Shape);
  wr32(ws, stand_in + obj::Size, static_cast<std::uint32_t>(bytes));
  wr8(ws, stand_in + obj::Type, chars ? ET_CHAR : ET_INT);
  wr16(ws, stand_in + obj::Rank4, 4 * rank);
  for (std::uint32_t a = 0; a < rank; ++a)
    wr32(ws, stand_in + obj::Shape + 4 * a, std::max<std::uint32_t>(array_axis(value, a, ws), 1));
  std::memset(ws + array_data(stand_in, ws), chars ? kBlank : 0, static_cast<std::size_t>(bytes) - obj::Shape - 4 * rank);
  set_layout_cursor(stand_in + round4(bytes), ws);
  const std::uint32_t laid = lay_out_char_node(stand_in, false, ws);
  return settle(start, box(value, laid, chars ? kHorizontal : kNumericMark, ws), ws);
}

std::uint32_t picture(std::uint32_t value, int depth, Ws ws);

// The prototype an empty nested array carries in its data area, checked to
// be a whole array inside it (DOMAIN ERROR otherwise).
std::uint32_t carried_prototype(std::uint32_t value, Ws ws) {
  const std::uint32_t size = rd32(ws, value + obj::Size);
  const std::uint32_t data = array_data(value, ws);
  if (size <= obj::Shape + 4 * array_rank(value, ws) || size - (data - value) < obj::Shape) domner(ws);
  const std::uint16_t rank4 = rd16(ws, data + obj::Rank4);
  if (rank4 % 4 != 0 || rank4 > 252) domner(ws);
  if (rd32(ws, data + obj::Size) > size - (data - value)) domner(ws);
  return data;
}

// A nested array: a picture per item (an empty array: its prototype's in
// every position), gathered as the items of a stand-in nested array whose
// compact default display is then boxed.
std::uint32_t nested_picture(std::uint32_t value, int depth, Ws ws) {
  const std::uint32_t start = layout_cursor(ws);
  const std::uint32_t rank = array_rank(value, ws);
  const std::uint32_t count = array_count(value, ws);
  const std::uint64_t n = filled_count(value, ws);
  const std::uint32_t prototype = count == 0 ? carried_prototype(value, ws) : 0;

  const std::uint32_t table = start + obj::Shape + 4 * rank;
  const std::uint64_t head = obj::Shape + 4ull * rank + 4 * n;
  layout_need_room(head, ws);
  std::memset(ws + start, 0, obj::Shape);
  wr8(ws, start + obj::Type, ET_NESTED);
  wr16(ws, start + obj::Rank4, 4 * rank);
  for (std::uint32_t a = 0; a < rank; ++a)
    wr32(ws, start + obj::Shape + 4 * a, std::max<std::uint32_t>(array_axis(value, a, ws), 1));
  set_layout_cursor(start + round4(head), ws);

  if (count == 0) {
    const std::uint32_t pic = picture(prototype, depth + 1, ws);
    for (std::uint32_t i = 0; i < n; ++i) wr32(ws, table + 4 * i, pic - start);
  } else {
    const std::uint32_t data = array_data(value, ws);
    for (std::uint32_t i = 0; i < count; ++i) {
      const std::uint32_t item = value + rd32(ws, data + 4 * i);
      const bool simple_scalar = array_rank(item, ws) == 0 && array_type(item, ws) != ET_NESTED;
      const std::uint32_t pic = simple_scalar ? scalar_picture(item, true, ws) : picture(item, depth + 1, ws);
      wr32(ws, table + 4 * i, pic - start);
    }
  }
  wr32(ws, start + obj::Size, layout_cursor(ws) - start);
  const std::uint32_t laid = lay_out_char_node(start, true, ws);
  return settle(start, box(value, laid, kNestedMark, ws), ws);
}

std::uint32_t picture(std::uint32_t value, int depth, Ws ws) {
  if (depth > kDisplayDepth) depth_error(ws);
  const std::uint32_t count = array_count(value, ws);
  if (array_type(value, ws) == ET_NESTED) {
    bool structured = count == 0;
    const std::uint32_t data = array_data(value, ws);
    for (std::uint32_t i = 0; i < count && !structured; ++i) {
      const std::uint32_t item = value + rd32(ws, data + 4 * i);
      structured = array_rank(item, ws) != 0 || array_type(item, ws) == ET_NESTED;
    }
    if (structured) return nested_picture(value, depth, ws);
  }
  if (array_rank(value, ws) == 0) return scalar_picture(value, false, ws);
  if (count == 0) return empty_picture(value, ws);
  const std::uint32_t start = layout_cursor(ws);
  const std::uint32_t laid = lay_out_char_node(value, false, ws);
  return settle(start, box(value, laid, simple_kind(value, ws), ws), ws);
}

std::uint32_t build(void* context, Ws ws) {
  return picture(rd32(ws, *static_cast<const std::uint32_t*>(context)), 0, ws);
}

}  // namespace

std::uint32_t boxed_picture(std::uint32_t value_slot, Ws ws) {
  return run_host_layout(build, &value_slot, ws);
}

}  // namespace zema
