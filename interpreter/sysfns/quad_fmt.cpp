// ⎕FMT: the columns of a simple array of rank 2 or less formatted by a text
// of phrases (A E F G I data phrases, X and T positions, delimited text),
// with qualifiers (B Z C L K), decorators (R M N P Q S) and repetition of a
// phrase or of a parenthesised group. Two walks over the phrases: the first
// measures the row, the second writes every column into the blank result.
#include <algorithm>
#include <cstring>

#include "interpreter/output/format_fields.h"
#include "interpreter/primitives/structural.h"
#include "interpreter/sysfns/handlers.h"
#include "interpreter/workspace/arrays.h"
#include "interpreter/workspace/entry.h"
#include "interpreter/workspace/errors.h"

namespace zema {

namespace {

// The substitutable symbols, by index.
enum Sym { kZero, kPoint, kExp, kComma, kNine, kZ, kStar, kNeg, kSymCount };

// A text inside the format: start index in the format and length.
struct Span {
  std::uint32_t at = 0, len = 0;
  bool given = false;
};

struct Phrase {
  std::uint8_t letter = 0;  // 'A' 'E' 'F' 'G' 'I' 'X' 'T', or 't' for a text
  std::int64_t w = 0, d = 0;
  std::uint32_t repeat = 1;
  bool b = false, z = false, c = false, l = false;
  int k = 0;
  Span text, r, m, n, p, q;
  std::uint8_t sym[kSymCount] = {};
  bool data() const { return letter == 'A' || letter == 'E' || letter == 'F' || letter == 'G' || letter == 'I'; }
};

class Format {
 public:
  Format(std::uint32_t data, std::uint32_t len, Ws ws) : data_(data), len_(len), ws_(ws) {}
  void rebase(std::uint32_t data) { data_ = data; }
  std::uint8_t at(std::uint32_t i) const { return rd8(ws_, data_ + i); }
  std::uint32_t size() const { return len_; }
  std::uint32_t data() const { return data_; }

 private:
  std::uint32_t data_, len_;
  Ws ws_;
};

// Reads phrases one at a time from a cursor.
class Parser {
 public:
  Parser(const Format& f, Ws ws) : f_(f), ws_(ws), fc_(fchars()) {}

  std::uint32_t pos = 0;
  bool at_end() {
    skip();
    return pos >= f_.size();
  }
  void skip() {
    while (pos < f_.size() && f_.at(pos) == fc_.blank) ++pos;
  }
  bool is(std::uint8_t c) {
    skip();
    return pos < f_.size() && f_.at(pos) == c;
  }
  bool is_letter(char c) { return is(fc_.letter(c)); }
  bool digit() {
    skip();
    return pos < f_.size() && f_.at(pos) >= fc_.zero && f_.at(pos) <= fc_.zero + 9;
  }
  std::int64_t number() {
    if (!digit()) domner(ws_);
    std::int64_t v = 0;
    while (pos < f_.size() && f_.at(pos) >= fc_.zero && f_.at(pos) <= fc_.zero + 9) {
      v = v * 10 + (f_.at(pos++) - fc_.zero);
      if (v > 0x7FFFFFFF) domner(ws_);
    }
    return v;
  }
  std::int64_t signed_number() {
    bool neg = false;
    if (is(fc_.minus_high) || is(fc_.minus)) {
      ++pos;
      neg = true;
    }
    const std::int64_t v = number();
    return neg ? -v : v;
  }
  // The closing delimiter of an opening one, or 0.
  std::uint8_t closing(std::uint8_t c) const {
    if (c == fc_.lt) return fc_.gt;
    if (c == fc_.enclose) return fc_.disclose;
    if (c == fc_.dieresis || c == fc_.quad || c == fc_.quote_quad) return c;
    return 0;
  }
  Span delimited() {
    skip();
    if (pos >= f_.size()) domner(ws_);
    const std::uint8_t close = closing(f_.at(pos));
    if (close == 0) domner(ws_);
    Span s{++pos, 0, true};
    while (pos < f_.size() && f_.at(pos) != close) ++pos;
    if (pos >= f_.size()) domner(ws_);
    s.len = pos++ - s.at;
    return s;
  }

  // The next phrase; sets `open` when a "(" stands before it and `close`
  // when a ")" follows it.
  Phrase phrase(bool& open, bool& close) {
    const FormatChars& c = fc_;
    Phrase ph;
    const std::uint8_t defaults[kSymCount] = {c.zero, c.point, c.letter_e, c.comma, static_cast<std::uint8_t>(c.zero + 9),
                                              c.letter('Z'), c.star, c.minus_high};
    std::memcpy(ph.sym, defaults, kSymCount);
    open = close = false;
    if (digit()) {
      const std::int64_t n = number();
      if (n < 1) domner(ws_);
      if (is(c.left_paren)) {
        group_count = static_cast<std::uint32_t>(n);
      } else {
        ph.repeat = static_cast<std::uint32_t>(n);
      }
    }
    if (is(c.left_paren)) {
      paren_pos = pos++;
      open = true;
    }
    for (;;) {
      skip();
      if (pos >= f_.size()) domner(ws_);
      const std::uint8_t ch = f_.at(pos);
      auto once = [&](bool& flag) {
        if (flag) domner(ws_);
        flag = true;
        ++pos;
      };
      if (ch == c.letter('B')) once(ph.b);
      else if (ch == c.letter('Z')) once(ph.z);
      else if (ch == c.letter('C')) once(ph.c);
      else if (ch == c.letter('L')) once(ph.l);
      else if (ch == c.letter('K')) {
        ++pos;
        const std::int64_t k = signed_number();
        if (k < -308 || k > 308) domner(ws_);
        ph.k = static_cast<int>(k);
      } else if (ch == c.letter('R')) ++pos, ph.r = delimited();
      else if (ch == c.letter('M')) ++pos, ph.m = delimited();
      else if (ch == c.letter('N')) ++pos, ph.n = delimited();
      else if (ch == c.letter('P')) ++pos, ph.p = delimited();
      else if (ch == c.letter('Q')) ++pos, ph.q = delimited();
      else if (ch == c.letter('S')) {
        ++pos;
        const Span s = delimited();
        if (s.len % 2 != 0 || s.len > 16) domner(ws_);
        std::uint8_t sym[kSymCount];
        std::memcpy(sym, defaults, kSymCount);
        for (std::uint32_t i = 0; i < s.len; i += 2) {
          const std::uint8_t old = f_.at(s.at + i);
          int which = -1;
          for (int j = 0; j < kSymCount; ++j)
            if (sym[j] == old) which = j;
          if (which < 0) domner(ws_);
          ph.sym[which] = f_.at(s.at + i + 1);
        }
        if (ph.sym[kNine] == ph.sym[kZ]) domner(ws_);
      } else {
        break;
      }
    }
    const std::uint8_t ch = f_.at(pos);
    if (ch == c.letter('A') || ch == c.letter('I')) {
      ph.letter = ch == c.letter('A') ? 'A' : 'I';
      ++pos;
      ph.w = number();
    } else if (ch == c.letter('E') || ch == c.letter('F')) {
      ph.letter = ch == c.letter('E') ? 'E' : 'F';
      ++pos;
      ph.w = number();
      if (!is(c.point)) domner(ws_);
      ++pos;
      ph.d = number();
    } else if (ch == c.letter('G')) {
      ph.letter = 'G';
      ++pos;
      ph.text = delimited();
      ph.w = ph.text.len;
      bool selector = false;
      for (std::uint32_t i = 0; i < ph.text.len; ++i) {
        const std::uint8_t g = f_.at(ph.text.at + i);
        selector = selector || g == ph.sym[kNine] || g == ph.sym[kZ];
      }
      if (!selector || ph.z || ph.c || ph.l) domner(ws_);
    } else if (ch == c.letter('X')) {
      ph.letter = 'X';
      ++pos;
      ph.w = signed_number();
    } else if (ch == c.letter('T')) {
      ph.letter = 'T';
      ++pos;
      ph.w = digit() ? number() : 0;
      if (ph.w == 0 && pos > 0 && f_.at(pos - 1) == c.zero) domner(ws_);
    } else if (closing(ch) != 0) {
      ph.letter = 't';
      ph.text = delimited();
      ph.w = ph.text.len;
    } else {
      domner(ws_);
    }
    if (is(c.right_paren)) {
      ++pos;
      close = true;
    }
    skip();
    if (pos < f_.size()) {
      if (f_.at(pos) != c.comma) domner(ws_);
      ++pos;
    }
    return ph;
  }

  std::uint32_t group_count = 0;
  std::uint32_t paren_pos = 0;

 private:
  const Format& f_;
  Ws ws_;
  const FormatChars& fc_;
};

// The right argument's columns.
struct Data {
  ArrayInfo a;
  std::uint32_t rows = 0, cols = 0;
};

// Writes one value into its field.
class Writer {
 public:
  Writer(const Format& f, const Phrase& ph, Ws ws) : f_(f), ph_(ph), ws_(ws), fc_(fchars()) {}

  void write(const Data& data, std::uint32_t row, std::uint32_t col, std::uint8_t* field) {
    const std::uint32_t w = static_cast<std::uint32_t>(ph_.w);
    if (w == 0) return;
    // Background.
    if (ph_.r.given && ph_.r.len > 0)
      for (std::uint32_t i = 0; i < w; ++i) field[i] = f_.at(ph_.r.at + i % ph_.r.len);
    else
      std::memset(field, fc_.blank, w);
    const std::uint64_t k = std::uint64_t(row) * data.cols + col;
    if (data.a.type == ET_CHAR) {
      if (ph_.letter == 'A') field[w - 1] = rd8(ws_, data.a.data + static_cast<std::uint32_t>(k));
      else overflow(field, w);
      return;
    }
    if (ph_.letter == 'A') {
      overflow(field, w);
      return;
    }
    Elem e = elem_at(data.a, k, ws_);
    const double v = num_of(e);
    DecimalDigits x;
    if (e.type != ET_FLOAT && ph_.k == 0)
      decimal_of_int(static_cast<std::int64_t>(v), x);
    else
      decimal_of(v, kFormatDigits, x);
    if (x.n != 0) x.point += ph_.k;
    if (ph_.letter == 'F') round_decimals(x, static_cast<int>(std::min<std::int64_t>(ph_.d, 400)));
    else if (ph_.letter == 'E') round_significant(x, static_cast<int>(std::clamp<std::int64_t>(ph_.d, 1, 15)));
    else round_decimals(x, 0);
    if (x.n == 0) {
      x.negative = false;
      if (ph_.b) return;
    }
    if (ph_.letter == 'G') {
      pattern(x, field, w);
      return;
    }
    const bool zfill = ph_.z && !ph_.l;
    if (zfill) std::memset(field, ph_.sym[kZero], w);
    FieldWriter out{field, w};
    const Span& right = x.negative ? ph_.n : ph_.q;
    for (std::uint32_t i = right.len; i-- > 0;) out.put(f_.at(right.at + i));
    if (ph_.letter == 'E') exponent_digits(x, out);
    else fixed_digits(x, out);
    const std::uint8_t high_minus = fc_.minus_high;
    Span left = x.negative ? ph_.m : ph_.p;
    const bool default_minus = x.negative && !ph_.m.given;
    const std::uint32_t left_len = default_minus ? 1 : left.len;
    if (zfill) {
      if (out.used + left_len > w) out.overflow = true;
      else if (default_minus) field[0] = high_minus;
      else for (std::uint32_t i = 0; i < left.len; ++i) field[i] = f_.at(left.at + i);
    } else if (default_minus) {
      out.put(high_minus);
    } else {
      for (std::uint32_t i = left.len; i-- > 0;) out.put(f_.at(left.at + i));
    }
    if (out.overflow) {
      overflow(field, w);
      return;
    }
    if (ph_.l && out.used < w) {
      std::memmove(field, field + (w - out.used), out.used);
      std::memset(field + out.used, fc_.blank, w - out.used);
    }
  }

 private:
  void overflow(std::uint8_t* field, std::uint32_t w) { std::memset(field, ph_.sym[kStar], w); }

  void integer_part(const DecimalDigits& x, FieldWriter& out) {
    const int ints = integer_digits(x);
    if (ints == 0) {
      out.put(fc_.zero);
      return;
    }
    for (int i = ints - 1, n = 0; i >= 0 && !out.overflow; --i, ++n) {
      if (ph_.c && n > 0 && n % 3 == 0) out.put(ph_.sym[kComma]);
      out.put(static_cast<std::uint8_t>(fc_.zero + (i < kFormatDigits ? digit_at(x, i) : 0)));
    }
  }
  void fixed_digits(const DecimalDigits& x, FieldWriter& out) {
    if (ph_.letter == 'F') {
      for (std::int64_t k = ph_.d; k >= 1 && !out.overflow; --k) {
        const std::int64_t idx = x.point + k - 1;
        out.put(static_cast<std::uint8_t>(fc_.zero + (idx >= 0 && idx < x.n ? x.d[idx] : 0)));
      }
      out.put(ph_.sym[kPoint]);
    }
    integer_part(x, out);
  }
  void exponent_digits(const DecimalDigits& x, FieldWriter& out) {
    const std::int64_t d = ph_.d;
    if (static_cast<std::uint64_t>(d + 5 + (d > 1 ? 1 : 0)) > out.width - out.used) {
      out.overflow = true;
      return;
    }
    const int e = x.n == 0 ? 0 : x.point - 1;
    const int ae = e < 0 ? -e : e;
    char digits[8];
    int nd = 0;
    for (int t = ae; nd == 0 || t != 0; t /= 10) digits[nd++] = static_cast<char>(t % 10);
    const int used = nd + (e < 0 ? 1 : 0);
    for (int i = used; i < 4; ++i) out.put(fc_.blank);
    for (int i = 0; i < nd; ++i) out.put(static_cast<std::uint8_t>(fc_.zero + digits[i]));
    if (e < 0) out.put(ph_.sym[kNeg]);
    out.put(ph_.sym[kExp]);
    if (d == 0) return;
    for (std::int64_t k = d - 1; k >= 1; --k)
      out.put(static_cast<std::uint8_t>(fc_.zero + (k < kFormatDigits ? digit_at(x, static_cast<int>(k)) : 0)));
    if (d > 1) out.put(ph_.sym[kPoint]);
    out.put(static_cast<std::uint8_t>(fc_.zero + digit_at(x, 0)));
  }
  // A G pattern. Selectors take the value's digits from the low end; a 9
  // beyond them prints the zero symbol, a Z a blank. When the rightmost
  // selector is a Z, low zero digits in Z selectors are blanked (with the
  // text between them) up to the first non-zero digit or 9. Text left of
  // the leftmost digit written stays blank, except the text left of every
  // selector, which is kept. The right decorator (N or Q) is written over
  // the text right of the rightmost selector, the left one (M, "¯" by
  // default, or P) just left of the leftmost digit written, both within
  // the pattern's selectors and text around them; else the field overflows.
  void pattern(const DecimalDigits& x, std::uint8_t* field, std::uint32_t w) {
    const std::uint32_t at = ph_.text.at;
    auto g = [&](std::uint32_t i) { return f_.at(at + i); };
    auto sel = [&](std::uint32_t i) { return g(i) == ph_.sym[kNine] || g(i) == ph_.sym[kZ]; };
    const int digits = integer_digits(x);
    std::uint32_t selectors = 0, first_sel = w, last_sel = 0;
    for (std::uint32_t i = 0; i < w; ++i)
      if (sel(i)) {
        ++selectors;
        if (first_sel == w) first_sel = i;
        last_sel = i;
      }
    if (static_cast<std::uint32_t>(digits) > selectors) {
      overflow(field, w);
      return;
    }
    // Selectors, right to left; `trailing` marks the blanked low zeros.
    int next = digits - 1;
    bool blanking = g(last_sel) == ph_.sym[kZ];
    std::int64_t written = -1;           // leftmost selector given a digit or the zero symbol
    std::int64_t kept = -1;              // rightmost selector not blanked
    for (std::uint32_t i = last_sel + 1; i-- > first_sel;) {
      if (!sel(i)) continue;
      const bool nine = g(i) == ph_.sym[kNine];
      const int d = next >= 0 ? (next < kFormatDigits ? digit_at(x, next) : 0) : 0;
      if (blanking && !nine && d == 0) {
        if (next >= 0) --next;
        continue;  // keeps the background
      }
      if (kept < 0) kept = i;
      blanking = false;
      if (next >= 0) {
        field[i] = static_cast<std::uint8_t>(fc_.zero + d);
        --next;
        written = i;
      } else if (nine) {
        field[i] = ph_.sym[kZero];
        written = i;
      }
    }
    // Text: kept right of the selectors and left of them all; between
    // selectors, kept from the leftmost digit written on up to the last
    // selector not blanked (the text before a blanked low zero goes too).
    for (std::uint32_t i = 0; i < w; ++i) {
      if (sel(i)) continue;
      const bool inside = i > first_sel && i < last_sel;
      if (!inside || (static_cast<std::int64_t>(i) > written && static_cast<std::int64_t>(i) < kept))
        field[i] = g(i);
    }
    // Decorators.
    const Span& right = x.negative ? ph_.n : ph_.q;
    if (last_sel + 1 + right.len > w) {
      overflow(field, w);
      return;
    }
    for (std::uint32_t k = 0; k < right.len; ++k) field[last_sel + 1 + k] = f_.at(right.at + k);
    const bool default_minus = x.negative && !ph_.m.given;
    const Span& left = x.negative ? ph_.m : ph_.p;
    const std::uint32_t left_len = default_minus ? 1 : left.len;
    const std::int64_t lead = written >= 0 ? written : static_cast<std::int64_t>(last_sel) + 1;
    if (lead - static_cast<std::int64_t>(left_len) < static_cast<std::int64_t>(first_sel)) {
      overflow(field, w);
      return;
    }
    const std::uint32_t from = static_cast<std::uint32_t>(lead - left_len);
    if (default_minus) field[from] = fc_.minus_high;
    else for (std::uint32_t k = 0; k < left.len; ++k) field[from + k] = f_.at(left.at + k);
  }

  const Format& f_;
  const Phrase& ph_;
  Ws ws_;
  const FormatChars& fc_;
};

// Parses the whole format once, so that a malformed phrase is an error
// wherever the walks stop: DOMAIN ERROR also for an unbalanced "(" or ")"
// and for a format without a data phrase.
void check_format(const Format& f, Ws ws) {
  Parser p(f, ws);
  bool in_group = false, any_data = false;
  p.skip();
  while (!p.at_end()) {
    bool open = false, close = false;
    const Phrase ph = p.phrase(open, close);
    if (open) {
      if (in_group) domner(ws);
      in_group = true;
    }
    if (close) {
      if (!in_group) domner(ws);
      in_group = false;
    }
    any_data = any_data || ph.data();
  }
  if (in_group || !any_data) domner(ws);
}

// One walk over the phrases: answers the row width; with `z` (the result's
// first row) writes every column into every row.
std::uint32_t walk(const Format& f, const Data& data, std::uint8_t* z, std::uint32_t row_width, Ws ws) {
  Parser p(f, ws);
  std::int64_t pos = 0, rightmost = 0;
  std::uint32_t col = 0;
  bool any_data = false, in_group = false;
  std::uint32_t group_left = 0;
  bool reenter = false;
  p.skip();
  for (;;) {
    bool open = false, close = false;
    p.group_count = 0;
    const Phrase ph = p.phrase(open, close);
    if (open) {
      if (in_group) domner(ws);
      in_group = true;
      if (!reenter) group_left = p.group_count ? p.group_count : 1;
      reenter = false;
    }
    if (close && !in_group) domner(ws);
    if (ph.data()) any_data = true;
    bool stop = false;
    for (std::uint32_t rep = 0; rep < ph.repeat && !stop; ++rep) {
      if (ph.data()) {
        if (col >= data.cols) {
          stop = true;
          break;
        }
        if (z) {
          Writer wr(f, ph, ws);
          for (std::uint32_t r = 0; r < data.rows; ++r) {
            if ((r & 0xFFF) == 0) check_attention(ws);
            wr.write(data, r, col, z + std::uint64_t(r) * row_width + pos);
          }
        }
        ++col;
        pos += ph.w;
      } else if (in_group && col >= data.cols) {
        stop = true;
        break;
      } else if (ph.letter == 't') {
        if (z)
          for (std::uint32_t r = 0; r < data.rows; ++r)
            std::memcpy(z + std::uint64_t(r) * row_width + pos, ws + f.data() + ph.text.at, ph.text.len);
        pos += ph.w;
      } else if (ph.letter == 'X') {
        pos += ph.w;
        if (pos < 0) domner(ws);
      } else {
        pos = ph.w == 0 ? rightmost : ph.w - 1;
      }
      if (pos > 0x7FFFFFFF) domner(ws);
      rightmost = std::max(rightmost, pos);
      // A marked data phrase that formats the last column ends the format.
      if (ph.data() && in_group && col >= data.cols) stop = true;
    }
    if (stop) break;
    if (close) {
      in_group = false;
      if (--group_left > 0) {
        p.pos = p.paren_pos;
        reenter = true;
        continue;
      }
    }
    if (p.at_end()) {
      if (in_group || !any_data) domner(ws);
      if (col >= data.cols) break;
      p.pos = 0;
      p.skip();
    }
  }
  return static_cast<std::uint32_t>(rightmost);
}

}  // namespace

void qfmt_dyadic(SfArg left, SfArg right, Ws ws) {
  const ArrayInfo l = array_info(left.array(ws), ws);
  const ArrayInfo r = array_info(right.array(ws), ws);
  if (l.type != ET_CHAR) domner(ws);
  if (l.rank > 1) ranker(ws);
  if (r.rank > 2) ranker(ws);
  if (r.type == ET_NESTED || (!is_numeric(r.type) && r.type != ET_CHAR)) domner(ws);
  bool blank = true;
  for (std::uint32_t i = 0; i < l.count && blank; ++i) blank = rd8(ws, l.data + i) == fchars().blank;
  if (blank) domner(ws);
  Data data{r, r.rank == 2 ? dim(r, 0, ws) : r.rank == 1 ? dim(r, 0, ws) : 1u, r.rank == 2 ? dim(r, 1, ws) : 1u};
  Format f(l.data, l.count, ws);
  check_format(f, ws);
  const std::uint32_t width = walk(f, data, nullptr, 0, ws);
  if (std::uint64_t(width) * data.rows > 0x7FFFFFFFu) xwsfll(ws);
  const std::uint32_t shape[2] = {data.rows, width};
  const std::uint32_t z = new_array(ET_CHAR, 2, shape, ws);
  push_result(z, ws);
  std::memset(ws + z + obj::Shape + 8, fchars().blank, std::size_t(width) * data.rows);
  data.a = array_info(right.array(ws), ws);
  f.rebase(array_info(left.array(ws), ws).data);
  walk(f, data, ws + z + obj::Shape + 8, width, ws);
}

}  // namespace zema
