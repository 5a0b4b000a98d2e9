// L⍕R with a character L: format by example. L is cut into fields; each
// field is text, a left decoration, a run of pattern digits (0-9 with "."
// and ","), a right decoration and text. Every value is written into a
// copy of its column's field.
//
// Choices where the rules leave room: a floated left decoration is put
// just left of the first printed digit, a floated right one just right of
// the last printed character of the digit run, both inside the field; an
// overflowing value fills the whole digit run (digits, point, separators
// and characters between them) with ⎕FC[3]; characters other than digits,
// "." and "," inside the digit run print unchanged.
#include <algorithm>
#include <cstring>

#include "interpreter/engine/format_primitive.h"
#include "interpreter/output/format_fields.h"
#include "interpreter/primitives/args.h"
#include "interpreter/workspace/entry.h"
#include "interpreter/workspace/errors.h"

namespace zema {

namespace {

struct Field {
  std::uint32_t start = 0, first = 0, last = 0, end = 0;  // last: the last digit; end exclusive
};

bool is_digit(std::uint8_t c) { return c >= fchars().zero && c <= fchars().zero + 9; }
int digit_of(std::uint8_t c) { return c - fchars().zero; }

// The next field from `from`; false when no digit is left.
bool next_field(const std::uint8_t* l, std::uint32_t n, std::uint32_t from, Field& f) {
  std::uint32_t j = from;
  while (j < n && !is_digit(l[j])) ++j;
  if (j >= n) return false;
  f.start = from;
  f.first = j;
  std::uint32_t k = j;
  while (k < n) {
    const std::uint8_t c = l[k++];
    if (c == fchars().blank) break;
    if (is_digit(c) && digit_of(c) == 6) {
      if (k < n) ++k;
      break;
    }
  }
  f.end = k;
  f.last = j;
  for (std::uint32_t i = j; i < k; ++i)
    if (is_digit(l[i])) f.last = i;
  return true;
}

void write_value(const std::uint8_t* l, const Field& f, double v, bool integer, std::uint8_t* out, Ws ws) {
  const FormatChars& fc = fchars();
  const std::uint32_t width = f.end - f.start;
  std::memcpy(out, l + f.start, width);
  // The pattern's facts.
  std::uint32_t int_pos = 0, dec_pos = 0, point_at = 0;
  bool has_point = false, has0 = false, has8 = false, sign12 = false;
  int first_rule = 0, right_rule = 0;
  int mandatory_dec = 0;
  for (std::uint32_t i = f.first; i <= f.last; ++i) {
    const std::uint8_t c = l[i];
    if (c == fc.point && !has_point) {
      has_point = true;
      point_at = i;
    } else if (is_digit(c)) {
      const int d = digit_of(c);
      if (d == 7) noncer_1(ws);
      if (has_point) {
        ++dec_pos;
        if (d == 0 || d == 9) mandatory_dec = static_cast<int>(dec_pos);
      } else {
        ++int_pos;
      }
      has0 = has0 || d == 0;
      has8 = has8 || d == 8;
      if (d >= 1 && d <= 4) {
        if (first_rule == 0) first_rule = d;
        right_rule = d;
        sign12 = sign12 || d == 1 || d == 2;
      }
    }
  }
  const std::uint8_t fill = has8 ? get_qfc(2, ws) : fc.blank;
  DecimalDigits x;
  if (integer)
    decimal_of_int(static_cast<std::int64_t>(v), x);
  else
    decimal_of(v, kFormatDigits, x);
  round_decimals(x, static_cast<int>(dec_pos));
  const bool negative = x.n != 0 && x.negative;
  if (v < 0 && !sign12) domner(ws);
  // Decorations: left [left_from, first), right (last, right_to).
  std::uint32_t left_from = f.first;
  while (left_from > f.start && l[left_from - 1] != fc.blank) --left_from;
  std::uint32_t right_to = f.last + 1;
  while (right_to < f.end && l[right_to] != fc.blank) ++right_to;
  auto shown = [&](int rule) { return rule == 0 || rule == 3 || rule == 4 || (rule == 1) == negative; };
  const bool zero_blank = x.n == 0 && !has0;
  const bool left_shown = first_rule == 4 ? true : shown(first_rule) && !zero_blank;
  const bool right_shown = (right_rule == 4 && first_rule != 4 ? true : shown(right_rule)) && !zero_blank;
  const bool left_float = first_rule >= 1 && first_rule <= 3 && !has8;
  const bool right_float = right_rule >= 1 && right_rule <= 3;
  std::uint8_t* region = out + (f.first - f.start);
  if (static_cast<std::uint32_t>(integer_digits(x)) > int_pos) {
    const std::uint8_t over = get_qfc(3, ws);
    if (over == fc.zero) domner(ws);
    std::memset(region, over, f.last - f.first + 1);
    return;
  }
  // The digit run, left to right.
  const int intd = integer_digits(x);
  int last_dec = 0;
  for (int q = 1; q <= static_cast<int>(dec_pos); ++q)
    if (digit_at(x, x.point + q - 1) != 0) last_dec = q;
  const int print_dec = zero_blank ? 0 : std::max(last_dec, mandatory_dec);
  std::uint32_t p = 0, q = 0;
  bool significant = false, zeros = false;
  std::int64_t first_printed = -1, last_printed = -1;
  const std::uint8_t blank_char = get_qfc(4, ws);
  for (std::uint32_t i = f.first; i <= f.last; ++i) {
    const std::uint8_t c = l[i];
    std::uint8_t& o = region[i - f.first];
    if (is_digit(c) && !(has_point && i > point_at)) {
      const int place = static_cast<int>(int_pos - 1 - p++);
      const int d = digit_of(c);
      if (d == 0 || d == 9) zeros = true;
      if (place < intd && !zero_blank) {
        significant = true;
        o = static_cast<std::uint8_t>(fc.zero + digit_at(x, intd - 1 - place));
      } else {
        o = zeros && !zero_blank ? fc.zero : fill;
      }
    } else if (is_digit(c)) {
      ++q;
      o = static_cast<int>(q) <= print_dec ? static_cast<std::uint8_t>(fc.zero + digit_at(x, x.point + q - 1)) : fill;
    } else if (has_point && i == point_at) {
      o = print_dec > 0 ? get_qfc(0, ws) : fill;
    } else if (c == fc.comma) {
      o = significant ? get_qfc(1, ws) : fill;
    } else if (c == blank_char) {
      o = fc.blank;
    }
    if (o != fill && o != fc.blank) {
      if (first_printed < 0) first_printed = i;
      last_printed = i;
    }
  }
  // Left decoration.
  const std::uint32_t llen = f.first - left_from;
  std::uint8_t* lout = out + (left_from - f.start);
  if (!left_shown) std::memset(lout, fc.blank, llen);
  if (left_shown && left_float && first_printed > static_cast<std::int64_t>(f.first)) {
    std::memset(lout, fc.blank, llen);
    std::int64_t at = first_printed - static_cast<std::int64_t>(llen);
    if (at < static_cast<std::int64_t>(left_from)) at = left_from;
    for (std::uint32_t k = 0; k < llen && at + static_cast<std::int64_t>(k) < first_printed; ++k)
      out[at + k - f.start] = l[left_from + k];
  }
  // Right decoration.
  const std::uint32_t rlen = right_to - (f.last + 1);
  std::uint8_t* rout = out + (f.last + 1 - f.start);
  if (!right_shown) std::memset(rout, fc.blank, rlen);
  if (right_shown && right_float && last_printed >= 0 && last_printed < static_cast<std::int64_t>(f.last)) {
    std::memset(rout, fc.blank, rlen);
    for (std::uint32_t k = 0; k < rlen; ++k) out[last_printed + 1 + k - f.start] = l[f.last + 1 + k];
  }
}

}  // namespace

void format_by_example(const ArrayInfo& left, const ArrayInfo& right, Ws ws) {
  if (right.type == ET_NESTED || (right.type == ET_CHAR && right.count != 0)) domner(ws);
  if (left.count != 1 && left.rank > 1) ranker(ws);
  if (left.count == 0) domner(ws);
  const std::uint32_t n = left.count;
  const std::uint32_t cols = right.rank == 0 ? 1 : dim(right, right.rank - 1, ws);
  // Count the fields and the widths.
  std::uint32_t fields = 0, at = 0;
  std::uint64_t total = 0;
  Field f;
  while (next_field(ws + left.data, n, at, f)) {
    ++fields;
    at = f.end;
  }
  if (fields == 0) domner(ws);
  if (fields != 1 && fields != cols) lener(ws);
  if (fields == 1) {
    total = std::uint64_t(n) * cols;
  } else {
    total = n;
  }
  std::vector<std::uint32_t> shape = shape_of(right, ws);
  if (shape.empty()) shape.push_back(0);
  shape.back() = static_cast<std::uint32_t>(std::min<std::uint64_t>(total, 0xFFFFFFFFu));
  std::uint64_t cells = total;
  for (std::size_t k = 0; k + 1 < shape.size(); ++k) cells *= shape[k];
  if (total > 0x7FFFFFFFu || cells > 0x7FFFFFFFu) domner(ws);
  const ArrayInfo z = new_simple(shape, ET_CHAR, ws);
  const ArrayInfo l = array_info(left_arg(ws), ws);
  const ArrayInfo r = array_info(right_arg(ws), ws);
  const std::uint8_t* pat = ws + l.data;
  const std::uint64_t rows = cols == 0 ? 0 : r.count / cols;
  std::uint32_t from = 0;
  std::uint64_t start = 0;
  for (std::uint32_t j = 0; j < cols; ++j) {
    Field g;
    if (fields == 1) {
      next_field(pat, n, 0, g);
      g.start = 0;
      g.end = n;
    } else {
      next_field(pat, n, from, g);
      from = g.end;
      if (j + 1 == cols) g.end = n;
    }
    for (std::uint64_t i = 0; i < rows; ++i) {
      if ((i & 0xFFF) == 0) check_attention(ws);
      const std::uint64_t k = i * cols + j;
      bool integer = r.type != ET_FLOAT;
      double v = 0;
      if (r.type == ET_BOOL) v = bit_at(r.data, k, ws);
      else if (r.type == ET_INT) v = rdi32(ws, r.data + 4 * static_cast<std::uint32_t>(k));
      else std::memcpy(&v, ws + r.data + 8 * k, 8);
      write_value(pat, g, v, integer, ws + z.data + i * total + start, ws);
    }
    start += g.end - g.start;
  }
}

}  // namespace zema
