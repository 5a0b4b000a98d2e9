// L⍺R, the second formatting primitive. A numeric L gives widths (one
// number: the width, no decimals) or (width, decimals) pairs; a character L
// is a picture: number fields of 9 Z | . ⌊ with fill and sign characters,
// separated by ";", and quoted text segments. Fields are written in place
// into the blank result, with no host buffers sized by the data.
//
// Choices where the rules leave room: with one number field the whole
// pattern (its text segments too) serves every column, else each column
// takes its field with the text segments before it and the last column the
// text after the last field; a value too wide for a picture fills the
// whole number field (sign and trailing text included) with "*"; the point
// "." and the decimals always print; a floating sign stands just left of
// the first character printed after it (its second position when nothing
// is printed there).
#include <cstring>

#include "host/charset.h"
#include "interpreter/engine/format_primitive.h"
#include "interpreter/output/format_fields.h"
#include "interpreter/primitives/args.h"
#include "interpreter/workspace/entry.h"
#include "interpreter/workspace/errors.h"

namespace zema {

namespace {

constexpr std::uint32_t kPollEvery = 4096;

double value_at(const ArrayInfo& r, std::uint64_t k, bool& integer, Ws ws) {
  integer = r.type != ET_FLOAT;
  if (r.type == ET_BOOL) return bit_at(r.data, k, ws);
  if (r.type == ET_INT) return rdi32(ws, r.data + 4 * static_cast<std::uint32_t>(k));
  double v;
  std::memcpy(&v, ws + r.data + 8 * k, 8);
  return v;
}

void digits_of(double v, bool integer, int decimals, DecimalDigits& x) {
  if (integer)
    decimal_of_int(static_cast<std::int64_t>(v), x);
  else
    decimal_of(v, kFormatDigits, x);
  round_decimals(x, decimals);
  if (x.n == 0) x.negative = false;
}

// ---- numeric left argument --------------------------------------------------------

// One value in fixed form with `p` decimals into a field of `width`: a
// value below 1 keeps its 0 before the point, zero with decimals is the
// point and zeros, fields of 1 or 2 drop the sign; too wide, ⎕FC[3] (or
// "*" while that is "0") fills the field.
void write_number(double v, bool integer, std::uint32_t p, std::uint8_t* field, std::uint32_t width, Ws ws) {
  const FormatChars& fc = fchars();
  std::memset(field, fc.blank, width);
  if (width == 0) return;
  DecimalDigits x;
  digits_of(v, integer, static_cast<int>(p), x);
  const bool negative = x.negative;
  x.negative = false;
  FieldWriter w{field, width};
  write_fixed(x, static_cast<int>(p), get_qfc(0, ws), fc.minus_high, w);
  if (x.n != 0 && integer_digits(x) == 0 && p > 0) w.put(fc.zero);
  if (negative && width > 2) w.put(get_qfc(5, ws));
  if (w.overflow) {
    std::uint8_t over = get_qfc(3, ws);
    if (over == fc.zero) over = fc.star;
    std::memset(field, over, width);
  }
}

void alpha_numeric(const ArrayInfo& l0, const ArrayInfo& r0, Ws ws) {
  if (!is_numeric(l0.type)) domner(ws);
  const std::uint32_t cols = r0.rank == 0 ? 1 : dim(r0, r0.rank - 1, ws);
  const bool single = l0.count == 1;
  bool pairs_one = false;
  if (!single) {
    if (l0.count % 2 != 0) lener(ws);
    const std::uint32_t pairs = l0.count / 2;
    if (pairs != 1 && pairs != cols) lener(ws);
    pairs_one = pairs == 1;
  }
  auto width_of = [&](const ArrayInfo& l, std::uint32_t j) {
    return int_at(l, single ? 0 : pairs_one ? 0 : 2 * j, ws);
  };
  auto precision_of = [&](const ArrayInfo& l, std::uint32_t j) {
    return single ? 0 : int_at(l, pairs_one ? 1 : 2 * j + 1, ws);
  };
  const std::uint32_t checks = single || pairs_one ? 1 : cols;
  for (std::uint32_t j = 0; j < checks; ++j) {
    const std::int32_t w = width_of(l0, j), p = precision_of(l0, j);
    if (w < 0 || p < 0 || p > w) domner(ws);
  }
  std::uint64_t total = 0;
  for (std::uint32_t j = 0; j < cols; ++j) {
    total += static_cast<std::uint64_t>(width_of(l0, j));
    if (total > 0x7FFFFFFFu) domner(ws);
  }
  const ArrayInfo z = new_formatted_result(r0, total, ws);
  const ArrayInfo l = array_info(left_arg(ws), ws);
  const ArrayInfo r = array_info(right_arg(ws), ws);
  const std::uint64_t rows = cols == 0 ? 0 : r.count / cols;
  std::uint64_t start = 0, polled = 0;
  for (std::uint32_t j = 0; j < cols; ++j) {
    const std::uint32_t w = static_cast<std::uint32_t>(width_of(l, j));
    const std::uint32_t p = static_cast<std::uint32_t>(precision_of(l, j));
    for (std::uint64_t i = 0; i < rows; ++i) {
      if (++polled % kPollEvery == 0) check_attention(ws);
      bool integer;
      const double v = value_at(r, i * cols + j, integer, ws);
      write_number(v, integer, p, ws + z.data + i * total + start, w, ws);
    }
    start += w;
  }
}

// ---- picture left argument ---------------------------------------------------------

// A segment of the picture: quoted text (its characters between the
// quotes) or a number field; `next` is where the following segment starts.
struct Segment {
  bool text = false;
  std::uint32_t at = 0, len = 0, next = 0;
};

// A parsed number field.
struct Picture {
  std::uint32_t at = 0, end = 0;  // printed characters (after a fill definition)
  std::uint8_t fill = 0;
  int signs = 0;                  // 0, 1, or 2 (floating)
  std::uint8_t sign = 0;
  std::uint32_t last_digit = 0;   // index of the last digit position
  int int_pos = 0, dec_pos = 0;   // digit positions before and after the point
  bool tack = false;              // the sign prints only for negatives
};

struct PicChars {
  std::uint8_t nine, z, bar, point, floor_sym, quote, semicolon;
  PicChars() {
    const FormatChars& c = fchars();
    nine = static_cast<std::uint8_t>(c.zero + 9);
    z = c.letter('Z');
    bar = c.stile;
    point = c.point;
    floor_sym = c.floor_sym;
    quote = c.quote;
    semicolon = c.semicolon;
  }
  bool picture(std::uint8_t ch) const { return ch == nine || ch == z || ch == bar || ch == point || ch == floor_sym; }
  bool digit(std::uint8_t ch) const { return ch == nine || ch == z || ch == bar; }
};

// The segment at `from` (< n); DOMAIN ERROR for an empty field, an empty,
// unclosed or ";"-holding text.
Segment next_segment(const std::uint8_t* l, std::uint32_t n, std::uint32_t from, const PicChars& pc, Ws ws) {
  Segment s;
  if (l[from] == pc.quote) {
    std::uint32_t k = from + 1;
    while (k < n && !(l[k] == pc.quote && (k + 1 == n || l[k + 1] == pc.semicolon))) ++k;
    if (k >= n) domner(ws);
    s.text = true;
    s.at = from + 1;
    s.len = k - from - 1;
    if (s.len == 0) domner(ws);
    for (std::uint32_t i = s.at; i < k; ++i)
      if (l[i] == pc.semicolon) domner(ws);
    s.next = k + 1 < n ? k + 2 : n;
    if (k + 1 < n && s.next == n) domner(ws);  // a ";" ending the pattern leaves an empty field
    return s;
  }
  std::uint32_t k = from;
  while (k < n && l[k] != pc.semicolon) ++k;
  if (k == from) domner(ws);
  s.at = from;
  s.len = k - from;
  s.next = k < n ? k + 1 : n;
  if (k < n && s.next == n) domner(ws);
  return s;
}

bool is_tack(std::uint8_t ch) {
  static const std::uint8_t* t = [] {
    static std::uint8_t k[8];
    const char32_t chars[8] = {U'¯', U'-', U'(', U'[', U'⊢', U'⊣', U'{', U'}'};
    for (int i = 0; i < 8; ++i) k[i] = convert_from_unicode(static_cast<std::uint32_t>(chars[i]));
    return k;
  }();
  for (int i = 0; i < 8; ++i)
    if (t[i] == ch) return true;
  return false;
}

// Parses the number field [at, at + len); DOMAIN ERROR for a misplaced
// picture character, a second fill definition, a lone sign not followed
// by . 9 ⌊ Z, two points, or no digit position.
Picture parse_picture(const std::uint8_t* l, std::uint32_t at, std::uint32_t len, const PicChars& pc, Ws ws) {
  Picture f;
  const std::uint32_t end = at + len;
  std::uint32_t i = at;
  f.fill = fchars().blank;
  if (len >= 2 && !pc.picture(l[i]) && l[i + 1] == pc.bar) {
    f.fill = l[i];
    i += 2;
  }
  if (i + 1 < end && !pc.picture(l[i]) && l[i + 1] == pc.bar) domner(ws);
  f.at = i;
  f.end = end;
  if (i < end && !pc.picture(l[i])) {
    f.sign = l[i];
    f.tack = is_tack(f.sign);
    if (i + 1 < end && l[i + 1] == f.sign) {
      f.signs = 2;
      i += 2;
      f.int_pos = 1;
    } else {
      const std::uint8_t nx = i + 1 < end ? l[i + 1] : 0;
      if (!(nx == pc.point || nx == pc.nine || nx == pc.floor_sym || nx == pc.z)) domner(ws);
      f.signs = 1;
      i += 1;
    }
  }
  if (i + 1 < end && l[i] == pc.bar && l[i + 1] == pc.bar) domner(ws);
  int nines = 0, points = 0;
  bool z_after = false, any = false, after_point = false;
  for (; i < end; ++i) {
    const std::uint8_t ch = l[i];
    if (ch == pc.point || ch == pc.floor_sym) {
      if (++points > 1) domner(ws);
      after_point = ch == pc.point;
    } else if (pc.digit(ch)) {
      if (ch == pc.z) {
        if (nines >= 2) domner(ws);
        if (nines >= 1) z_after = true;
      } else {
        if (z_after) domner(ws);
        ++nines;
      }
      any = true;
      f.last_digit = i;
      if (after_point) ++f.dec_pos;
      else ++f.int_pos;
    }
  }
  if (!any) domner(ws);
  return f;
}

// Writes `v` into the printed characters of `f` at `out`.
void write_picture(const std::uint8_t* l, const Picture& f, double v, bool integer, std::uint8_t* out,
                   const PicChars& pc, Ws ws) {
  const FormatChars& fc = fchars();
  const std::uint32_t width = f.end - f.at;
  DecimalDigits x;
  digits_of(v, integer, f.dec_pos, x);
  const bool negative = x.negative, zero = x.n == 0;
  const int intd = integer_digits(x);
  int places = f.int_pos;  // integer places, the sign's included when it takes a digit
  bool sign_digit = false;
  if (intd > places) {
    if (intd == places + 1 && !negative && f.tack && f.signs > 0) {
      sign_digit = true;
      ++places;
    } else {
      std::memset(out, fc.star, width);
      return;
    }
  }
  auto sign_shows = [&] {
    if (f.tack) return negative;
    if (f.sign == fc.plus) return !negative && !zero;
    return true;
  };
  auto int_digit = [&](int place) { return place < intd ? digit_at(x, intd - 1 - place) : -1; };  // −1: leading
  int place = places - 1, decimal = 0;
  bool printed = false, zeros = false, bar_seen = false, nonzero_since_bar = false;
  std::uint32_t bar_at = 0;
  std::int64_t first_printed = -1;
  std::uint32_t i = f.at;
  // The sign positions.
  if (f.signs > 0) {
    if (sign_digit) {
      out[0] = static_cast<std::uint8_t>(fc.zero + int_digit(place--));
      printed = true;
      first_printed = 0;
    } else {
      out[0] = f.fill;
    }
    ++i;
    if (f.signs == 2) {
      const int d = int_digit(place--);
      if (d >= 0) {
        out[1] = static_cast<std::uint8_t>(fc.zero + d);
        printed = true;
        if (first_printed < 0) first_printed = 1;
      } else {
        out[1] = f.fill;
      }
      ++i;
    } else if (!sign_digit && sign_shows()) {
      out[0] = f.sign;
    }
  }
  bool after_point = false;
  for (; i < f.end; ++i) {
    const std::uint8_t ch = l[i];
    std::uint8_t& o = out[i - f.at];
    const std::uint32_t here = i - f.at;
    if (i > f.last_digit) {
      o = negative ? ch : f.fill;
    } else if (ch == pc.point) {
      after_point = true;
      o = ch;
    } else if (ch == pc.floor_sym) {
      o = printed ? fc.point : f.fill;
    } else if (pc.digit(ch)) {
      if (ch == pc.bar && !bar_seen) {
        bar_seen = true;
        bar_at = here;
      }
      int d;
      if (after_point) {
        ++decimal;
        d = zero ? 0 : digit_at(x, x.point + decimal - 1);
        o = static_cast<std::uint8_t>(fc.zero + d);
      } else {
        d = int_digit(place--);
        if (d >= 0) o = static_cast<std::uint8_t>(fc.zero + d);
        else if (ch == pc.nine || zeros) o = fc.zero;
        else o = f.fill;
        if (ch == pc.bar) zeros = true;
      }
      if (o != f.fill) {
        printed = true;
        if (first_printed < 0) first_printed = here;
      }
      if (d > 0 && bar_seen) nonzero_since_bar = true;
    } else {
      o = printed ? ch : f.fill;
    }
  }
  if (bar_seen && !nonzero_since_bar) std::memset(out + bar_at, f.fill, width - bar_at);
  if (f.signs == 2 && !sign_digit && sign_shows()) {
    std::int64_t at = 1;
    for (std::uint32_t k = 2; k < width; ++k)
      if (out[k] != f.fill) {
        at = k - 1;
        break;
      }
    if (first_printed >= 0 && first_printed - 1 < at) at = first_printed - 1;
    if (at < 0) at = 0;
    out[at] = f.sign;
  }
}

// Writes the segments [from, to) of the picture for one value at `out`.
void write_unit(const std::uint8_t* l, std::uint32_t n, std::uint32_t from, std::uint32_t to, double v,
                         bool integer, std::uint8_t* out, const PicChars& pc, Ws ws) {
  std::uint32_t written = 0;
  for (std::uint32_t at = from; at < to;) {
    const Segment s = next_segment(l, n, at, pc, ws);
    if (s.text) {
      std::memcpy(out + written, l + s.at, s.len);
      written += s.len;
    } else {
      const Picture f = parse_picture(l, s.at, s.len, pc, ws);
      write_picture(l, f, v, integer, out + written, pc, ws);
      written += f.end - f.at;
    }
    at = s.next;
  }
}

void alpha_picture(const ArrayInfo& l0, const ArrayInfo& r0, Ws ws) {
  const PicChars pc;
  const std::uint32_t n = l0.count;
  const std::uint8_t* pat = ws + l0.data;
  if (pat[0] == pc.semicolon) domner(ws);
  const std::uint32_t cols = r0.rank == 0 ? 1 : dim(r0, r0.rank - 1, ws);
  // Check every segment, count the fields, and measure the whole pattern.
  std::uint32_t fields = 0;
  std::uint64_t whole = 0;
  for (std::uint32_t at = 0; at < n;) {
    const Segment s = next_segment(pat, n, at, pc, ws);
    if (s.text) {
      whole += s.len;
    } else {
      const Picture f = parse_picture(pat, s.at, s.len, pc, ws);
      whole += f.end - f.at;
      ++fields;
    }
    at = s.next;
  }
  if (fields == 0) domner(ws);
  if (fields != 1 && fields != cols) lener(ws);
  const std::uint64_t total = fields == 1 ? whole * cols : whole;
  const ArrayInfo z = new_formatted_result(r0, total, ws);
  const ArrayInfo l = array_info(left_arg(ws), ws);
  const ArrayInfo r = array_info(right_arg(ws), ws);
  pat = ws + l.data;
  const std::uint64_t rows = cols == 0 ? 0 : r.count / cols;
  std::uint32_t from = 0;
  std::uint64_t start = 0, polled = 0;
  for (std::uint32_t j = 0; j < cols; ++j) {
    // The segments of this column: up to and including its number field,
    // and for the last column the rest of the pattern.
    std::uint32_t to = n;
    if (fields != 1) {
      to = from;
      for (;;) {
        const Segment s = next_segment(pat, n, to, pc, ws);
        to = s.next;
        if (!s.text) break;
      }
      if (j + 1 == cols) to = n;
    } else {
      from = 0;
    }
    std::uint32_t width = 0;
    for (std::uint32_t at = from; at < to;) {
      const Segment s = next_segment(pat, n, at, pc, ws);
      if (s.text) {
        width += s.len;
      } else {
        const Picture f = parse_picture(pat, s.at, s.len, pc, ws);
        width += f.end - f.at;
      }
      at = s.next;
    }
    for (std::uint64_t i = 0; i < rows; ++i) {
      if (++polled % kPollEvery == 0) check_attention(ws);
      bool integer;
      const double v = value_at(r, i * cols + j, integer, ws);
      write_unit(pat, n, from, to, v, integer, ws + z.data + i * total + start, pc, ws);
    }
    start += width;
    if (fields != 1) from = to;
  }
}

}  // namespace

void format_alpha(const PrimitiveCall& c, Ws ws) {
  no_axis(c.fn_entry, ws);
  const ArrayInfo l = array_info(left_arg(ws), ws);
  const ArrayInfo r = array_info(right_arg(ws), ws);
  if (l.type == ET_NESTED) domner(ws);
  if (!is_numeric(r.type) && r.count != 0) domner(ws);
  if (r.type == ET_NESTED) domner(ws);
  if (l.count != 1 && l.rank > 1) ranker(ws);
  if (l.count == 0) domner(ws);
  if (l.type == ET_CHAR) alpha_picture(l, r, ws);
  else alpha_numeric(l, r, ws);
}

}  // namespace zema
