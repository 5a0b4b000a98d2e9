// ⍕ monadic and dyadic with a numeric left argument. Results are built in
// place: fields are blanked and the text of each value written into its
// field from the right through the field engine, with no host buffers
// sized by the data.
#include "interpreter/engine/format_primitive.h"

#include <algorithm>
#include <cstring>

#include "interpreter/output/format_fields.h"
#include "interpreter/output/show.h"
#include "interpreter/primitives/args.h"
#include "interpreter/workspace/entry.h"
#include "interpreter/workspace/errors.h"
#include "interpreter/workspace/sysvar_slots.h"

namespace zema {

namespace {

// Bytes kept free between a parked layout and the stack, and under the
// layout for the result's header.
constexpr std::uint32_t kStackMargin = 256;
constexpr std::uint32_t kHeaderRoom = 400;
// Elements between polls of the attention.
constexpr std::uint32_t kPollEvery = 4096;

// True when `a` or any item at any depth has rank 2 or more.
bool has_matrix(std::uint32_t a, int depth, Ws ws) {
  if (depth > kDisplayDepth) depth_error(ws);
  if (rd16(ws, a + obj::Rank4) / 4 >= 2) return true;
  if (rd8(ws, a + obj::Type) != ET_NESTED) return false;
  const ArrayInfo info = array_info(a, ws);
  for (std::uint32_t k = 0; k < info.count; ++k) {
    if ((k & 0xFFF) == 0) check_attention(ws);
    if (has_matrix(a + rd32(ws, info.data + 4 * k), depth + 1, ws)) return true;
  }
  return false;
}

// Number of display lines before row i of a simple array of rank `rank`
// (shape at `shape`): between planes of axis k the display leaves one
// blank line more for each axis further out.
std::uint64_t blank_lines_before(std::uint64_t i, std::uint32_t rank, const std::uint32_t* shape) {
  std::uint64_t lines = 0, block = 1;
  for (std::uint32_t k = rank - 1; k >= 2; --k) {
    block *= shape[k - 1];
    if (block == 0) break;
    lines += i / block;
  }
  return lines;
}

// The number element k of a simple numeric array.
double number_at(const ArrayInfo& a, std::uint64_t k, bool& integer, Ws ws) {
  switch (a.type) {
    case ET_BOOL:
      integer = true;
      return bit_at(a.data, k, ws) ? 1 : 0;
    case ET_INT:
      integer = true;
      return static_cast<double>(rdi32(ws, a.data + 4 * static_cast<std::uint32_t>(k)));
    default: {
      integer = false;
      double d;
      std::memcpy(&d, ws + a.data + 8 * k, 8);
      return d;
    }
  }
}

// One element of R for dyadic ⍕: a number, or a text (a character item).
struct Cell {
  bool text = false;
  bool integer = false;
  double v = 0;
  std::uint32_t chars = 0;  // offset of the text
  std::uint32_t length = 0;
};

Cell cell_at(const ArrayInfo& r, std::uint64_t k, Ws ws) {
  Cell c;
  if (r.type == ET_CHAR) {
    c.text = true;
    c.chars = r.data + static_cast<std::uint32_t>(k);
    c.length = 1;
    return c;
  }
  if (r.type != ET_NESTED) {
    c.v = number_at(r, k, c.integer, ws);
    return c;
  }
  const std::uint32_t item = r.off + rd32(ws, r.data + 4 * static_cast<std::uint32_t>(k));
  const ArrayInfo it = array_info(item, ws);
  if (it.rank > 1 || it.type == ET_NESTED) domner(ws);
  if (it.type == ET_CHAR) {
    c.text = true;
    c.chars = it.data;
    c.length = it.count;
    return c;
  }
  if (it.rank != 0 || !is_numeric(it.type)) domner(ws);
  c.v = number_at(it, 0, c.integer, ws);
  return c;
}

// A numeric L of L⍕R read as each column's width and precision.
struct ColumnFields {
  const ArrayInfo* left;
  bool single;  // one precision (width computed) for every column
  bool pairs_one;
  std::int32_t width(std::uint32_t j, Ws ws) const {
    if (single) return 0;
    return int_at(*left, pairs_one ? 0 : 2 * j, ws);
  }
  std::int32_t precision(std::uint32_t j, Ws ws) const {
    if (single) return int_at(*left, 0, ws);
    return int_at(*left, pairs_one ? 1 : 2 * j + 1, ws);
  }
};

// The computed width of columns [first, last) of R at precision p.
std::uint64_t computed_width(const ArrayInfo& r, std::uint32_t cols, std::uint32_t first, std::uint32_t last,
                             std::int32_t p, Ws ws) {
  if (r.count == 0 || r.type == ET_CHAR) return 1;
  const std::uint64_t rows = r.count / cols;
  bool have_pos = false, have_neg = false, pos_int = false, neg_int = false;
  double pos = 0, neg = 0;
  std::uint64_t text = 0;
  for (std::uint32_t j = first; j < last; ++j) {
    for (std::uint64_t i = 0; i < rows; ++i) {
      const Cell c = cell_at(r, i * cols + j, ws);
      if (c.text) {
        text = std::max<std::uint64_t>(text, c.length);
      } else if (c.v >= 0) {
        if (!have_pos || c.v > pos) pos = c.v, pos_int = c.integer, have_pos = true;
      } else {
        if (!have_neg || c.v < neg) neg = c.v, neg_int = c.integer, have_neg = true;
      }
    }
  }
  std::uint64_t w = text;
  if (have_pos) w = std::max(w, thorn_width(pos, pos_int, p));
  if (have_neg) w = std::max(w, thorn_width(neg, neg_int, p));
  return w + 1;
}

// Writes one cell into the field of `width` at `field`; `all_text` tells
// whether its column holds only text.
void write_cell(const Cell& c, std::int32_t p, bool all_text, bool char_array, std::uint8_t* field,
                std::uint32_t width, Ws ws) {
  const FormatChars& fc = fchars();
  std::memset(field, fc.blank, width);
  if (width == 0) {
    if (c.text && c.length == 0) return;
  }
  FieldWriter w{field, width};
  if (c.text) {
    if (char_array) {
      if (width > 0) field[0] = rd8(ws, c.chars);
      else w.overflow = true;
    } else if (all_text && c.length < width) {
      std::memcpy(field, ws + c.chars, c.length);
    } else {
      for (std::uint32_t k = c.length; k-- > 0 && !w.overflow;) w.put(rd8(ws, c.chars + k));
    }
  } else if (p < 0) {
    const std::int64_t digits = -static_cast<std::int64_t>(p);
    if (static_cast<std::uint64_t>(digits) > width) w.overflow = true;
    else write_exponent(c.v, static_cast<int>(digits), get_qfc(0, ws), get_qfc(5, ws), w);
  } else {
    DecimalDigits x;
    if (c.integer)
      decimal_of_int(static_cast<std::int64_t>(c.v), x);
    else
      decimal_of(c.v, kFormatDigits, x);
    round_decimals(x, p);
    if (fixed_length(x, p) > width) w.overflow = true;
    else write_fixed(x, p, get_qfc(0, ws), get_qfc(5, ws), w);
  }
  if (w.overflow) {
    const std::uint8_t over = get_qfc(3, ws);
    if (over == fc.zero) domner(ws);
    std::memset(field, over, width);
  }
}

}  // namespace

ArrayInfo new_formatted_result(const ArrayInfo& r, std::uint64_t total, Ws ws) {
  if (total > 0x7FFFFFFFu) domner(ws);
  std::vector<std::uint32_t> shape = shape_of(r, ws);
  if (shape.empty()) shape.push_back(0);
  shape.back() = static_cast<std::uint32_t>(total);
  std::uint64_t n = total;
  for (std::size_t k = 0; k + 1 < shape.size(); ++k) n *= shape[k];
  if (n > 0x7FFFFFFFu) domner(ws);
  need_room(n + 64, ws);
  return new_simple(shape, ET_CHAR, ws);
}

void format_monadic(const PrimitiveCall& c, Ws ws) {
  no_axis(c.fn_entry, ws);
  const std::uint32_t slot = rd32(ws, hdr::RightDesc + desc::OffsetWord);
  ArrayInfo r = array_info(rd32(ws, slot), ws);
  std::vector<std::uint32_t> shape = shape_of(r, ws);
  if (r.type == ET_CHAR) {
    const ArrayInfo z = new_simple(shape, ET_CHAR, ws);
    r = array_info(rd32(ws, slot), ws);
    std::memcpy(ws + z.data, ws + r.data, r.count);
    return;
  }
  if (r.type != ET_NESTED && r.count == 0) {
    const ArrayInfo z = new_simple(shape, ET_CHAR, ws);
    (void)z;
    return;
  }
  const bool matrix = r.type == ET_NESTED && has_matrix(r.off, 0, ws);
  const std::uint32_t node = layout_for_format(slot, ws);
  const std::uint32_t rows = rd32(ws, node + dnode::Rows), cols = rd32(ws, node + dnode::Columns);
  const std::uint64_t chars = std::uint64_t(rows) * cols;
  // Park the text at the top of the free space, under the stack, so that the
  // result can be allocated at the heap top.
  const std::uint32_t sp = rd32(ws, hdr::StackPointer);
  const std::uint32_t top = rd32(ws, hdr::HeapTop);
  if (std::uint64_t(top) + 2 * chars + kStackMargin + kHeaderRoom > sp) xwsfll(ws);
  const std::uint32_t park = static_cast<std::uint32_t>(sp - kStackMargin - chars);
  std::memmove(ws + park, ws + node + dnode::Chars, chars);
  r = array_info(rd32(ws, slot), ws);
  if (r.type == ET_NESTED) {
    shape.clear();
    if (matrix || rows != 1) shape.push_back(rows);
    shape.push_back(cols);
    const ArrayInfo z = new_simple(shape, ET_CHAR, ws);
    std::memcpy(ws + z.data, ws + park, chars);
    return;
  }
  if (shape.empty()) shape.push_back(cols);
  else shape.back() = cols;
  const ArrayInfo z = new_simple(shape, ET_CHAR, ws);
  r = array_info(rd32(ws, slot), ws);
  const std::uint64_t out_rows = cols == 0 ? 0 : z.count / cols;
  for (std::uint64_t i = 0; i < out_rows; ++i) {
    const std::uint64_t line = i + (r.rank > 2 ? blank_lines_before(i, r.rank, reinterpret_cast<const std::uint32_t*>(ws + r.off + obj::Shape)) : 0);
    if (line >= rows) ZEMA_SYSTEM_ERROR(ws);
    std::memcpy(ws + z.data + i * cols, ws + park + line * cols, cols);
  }
}

void format_dyadic(const PrimitiveCall& c, Ws ws) {
  no_axis(c.fn_entry, ws);
  const ArrayInfo l0 = array_info(left_arg(ws), ws);
  const ArrayInfo r0 = array_info(right_arg(ws), ws);
  if (l0.type == ET_NESTED) domner(ws);
  if (l0.type == ET_CHAR) {
    format_by_example(l0, r0, ws);
    return;
  }
  if (!is_numeric(l0.type) && l0.count != 0) domner(ws);
  if (!is_numeric(r0.type) && r0.type != ET_CHAR && r0.type != ET_NESTED) domner(ws);
  const std::uint32_t cols = r0.rank == 0 ? 1 : dim(r0, r0.rank - 1, ws);
  ColumnFields fields{&l0, l0.count == 1, false};
  if (!fields.single) {
    if (l0.rank > 1) ranker(ws);
    if (l0.count % 2 != 0) lener(ws);
    const std::uint32_t pairs = l0.count / 2;
    if (pairs != 1 && pairs != cols) lener(ws);
    fields.pairs_one = pairs == 1;
  }
  // Check every pair and sum the widths.
  const bool uniform = rdi32(ws, sysvar_value_word(sysvar::CS)) & kCsUniform;
  std::uint64_t total = 0, uniform_width = 0;
  if ((fields.single || fields.pairs_one) && uniform && fields.width(0, ws) == 0)
    uniform_width = computed_width(r0, cols, 0, cols, fields.precision(0, ws), ws);
  const std::uint32_t npairs = fields.single || fields.pairs_one ? (cols ? 1 : 0) : cols;
  for (std::uint32_t j = 0; j < npairs; ++j) {
    if (fields.width(j, ws) < 0) domner(ws);
    (void)fields.precision(j, ws);
  }
  for (std::uint32_t j = 0; j < cols; ++j) {
    std::int32_t w = fields.width(j, ws);
    std::uint64_t width = static_cast<std::uint64_t>(w);
    if (w == 0) width = uniform_width ? uniform_width : computed_width(r0, cols, j, j + 1, fields.precision(j, ws), ws);
    total += width;
    if (total > 0x7FFFFFFFu) domner(ws);
  }
  const std::uint64_t rows = cols == 0 ? 0 : r0.count / cols;
  const ArrayInfo z = new_formatted_result(r0, total, ws);
  const ArrayInfo l = array_info(left_arg(ws), ws);
  const ArrayInfo r = array_info(right_arg(ws), ws);
  fields.left = &l;
  std::uint64_t start = 0, polled = 0;
  for (std::uint32_t j = 0; j < cols; ++j) {
    const std::int32_t p = fields.precision(j, ws);
    std::int32_t w = fields.width(j, ws);
    std::uint64_t width = static_cast<std::uint64_t>(w);
    if (w == 0) width = uniform_width ? uniform_width : computed_width(r, cols, j, j + 1, p, ws);
    bool all_text = r.type == ET_NESTED;
    for (std::uint64_t i = 0; i < rows && all_text; ++i) all_text = cell_at(r, i * cols + j, ws).text;
    for (std::uint64_t i = 0; i < rows; ++i) {
      if (++polled % kPollEvery == 0) check_attention(ws);
      write_cell(cell_at(r, i * cols + j, ws), p, all_text, r.type == ET_CHAR, ws + z.data + i * total + start,
                 static_cast<std::uint32_t>(width), ws);
    }
    start += width;
  }
}

}  // namespace zema
