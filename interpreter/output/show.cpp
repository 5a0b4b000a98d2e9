#include "interpreter/output/show.h"

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstring>
#include <string>
#include <utility>

#include "host/charset.h"
#include "interpreter/workspace/sysvar_slots.h"
#include "interpreter/output/display.h"
#include "interpreter/output/numfmt.h"
#include "interpreter/output/object_text.h"
#include "interpreter/workspace/entry.h"
#include "interpreter/workspace/errors.h"
#include "interpreter/workspace/heap.h"

namespace zema {

namespace {

// The layout keeps this far below the stack; a number cell asks for more.
constexpr std::uint32_t kLayoutReserve = 100;
constexpr std::uint32_t kCellReserve = 500;
constexpr std::size_t kObjectTextMax = 96;
// Column measures kept for a matrix: one entry per integer or object
// column, two (integer part, fraction) per float column. Columns beyond
// are measured as they are printed.
constexpr std::size_t kWidthTable = 4096;
constexpr std::uint32_t kFirstCharNode = dnode::Chars;

bool capturing(Ws ws) { return state_has(st::Capturing, ws); }
int column(Ws ws) { return rdi16(ws, hdr::OutColumn); }
bool uniform_widths(Ws ws) { return (rd32(ws, sysvar_value_word(sysvar::CS)) & kCsUniform) != 0; }
bool compact_layout(Ws ws) { return (rd8(ws, hdr::MiscBits) & kCompactLayout) != 0; }
bool nested_layout(Ws ws) { return (rd8(ws, hdr::ResultBits) & kNestedLayout) != 0; }

// Significant digits of a float as the formatter writes it.
int significant_digits(Ws ws) {
  if (state_has(st::ListDigits, ws)) return 15;
  return std::clamp(rdi32(ws, sysvar_value_word(sysvar::PP)), 1, 20);
}

// ---- the text buffer ------------------------------------------------------------------

int text_count(Ws ws) { return rdi16(ws, hdr::TextCount); }
std::uint8_t text_char(int i, Ws ws) { return rd8(ws, hdr::TextChars + static_cast<std::uint32_t>(i)); }
// Sets the count and stores the uncounted blank after the text.
void set_text_count(int n, Ws ws) {
  wr16(ws, hdr::TextCount, static_cast<std::uint32_t>(n));
  wr8(ws, hdr::TextChars + static_cast<std::uint32_t>(n), kBlank);
}
void set_text(const std::string& s, Ws ws) {
  std::memcpy(ws + hdr::TextChars, s.data(), s.size());
  set_text_count(static_cast<int>(s.size()), ws);
}
void pad_right(int width, Ws ws) {
  int n = text_count(ws);
  for (; n < width; ++n) wr8(ws, hdr::TextChars + static_cast<std::uint32_t>(n), kBlank);
  set_text_count(n, ws);
}
void pad_left(int width, Ws ws) {
  while (text_count(ws) < width) exnshf(ws);
}
// Characters before the point, or the whole count for a text without one.
int integer_part(Ws ws) {
  const int n = text_count(ws);
  for (int i = 0; i < n; ++i)
    if (text_char(i, ws) == numch::Point) return i;
  return n;
}
bool is_digit(std::uint8_t c) { return c >= numch::Zero && c <= numch::Zero + 9; }

// ---- elements ---------------------------------------------------------------------------

std::int32_t int_at(std::uint32_t data, std::uint32_t k, Ws ws) { return rdi32(ws, data + 4 * k); }
double float_at(std::uint32_t data, std::uint32_t k, Ws ws) {
  double d;
  std::memcpy(&d, ws + data + 8 * k, 8);
  return d;
}
std::uint32_t bool_word_at(std::uint32_t data, std::uint32_t k, Ws ws) {
  return rd32(ws, data + 4 * (k / 32)) << (k % 32);
}
bool bit_at(std::uint32_t data, std::uint32_t k, Ws ws) { return (bool_word_at(data, k, ws) & 0x80000000u) != 0; }

bool is_numeric(std::uint8_t type) { return type == ET_BOOL || type == ET_INT || type == ET_FLOAT; }

// Formats numeric element k in the text buffer: mode 0 chooses the form,
// kExponentForm asks for exponent form (integers then as floats).
void format_number(std::uint8_t type, std::uint32_t data, std::uint32_t k, int mode, Ws ws) {
  if (type == ET_FLOAT) {
    fmtflt(float_at(data, k, ws), mode, ws);
    return;
  }
  const std::int32_t v = type == ET_INT ? int_at(data, k, ws) : static_cast<std::int32_t>(bit_at(data, k, ws));
  if (mode == 0)
    fmtint(v, ws);
  else
    fmtflt(static_cast<double>(v), mode, ws);
}

void format_object(std::uint32_t data, std::uint32_t k, Ws ws) {
  set_text(format_object_reference(rd32(ws, data + 4 * k), ws), ws);
}

// What a character is shown as: control characters as blanks in a layout
// for the host; in a nested layout, the two characters the display buffer
// treats specially (new line, dropped) as blanks, so that every line of a
// laid-out item keeps its width.
std::uint8_t shown_char(std::uint8_t c, Ws ws) {
  if (rd8(ws, hdr::MiscBits) & kHostLayout) {
    if (c < 7 || c == 0x08 || c == 0x0A || c == 0x0D || (c >= 0x80 && c <= 0x8F)) return kBlank;
  } else if (nested_layout(ws) && (c == kCarriageReturn || c == kDroppedChar)) {
    return kBlank;
  }
  return c;
}

// The check before each element: polls attention; answers true when output
// is to stop (an attention has been seen and nothing is being captured).
bool exvac(Ws ws) {
  poll_attention(ws);
  return !capturing(ws) && state_has(st::AttentionSeen, ws);
}

// ---- arrays -------------------------------------------------------------------------------

struct ArrayView {
  std::uint32_t off;
  std::uint8_t type;
  std::uint32_t rank;
  std::uint32_t count;
  std::uint32_t data;

  ArrayView(std::uint32_t value, Ws ws)
      : off(value), type(rd8(ws, value + obj::Type)), rank(rd16(ws, value + obj::Rank4) / 4u), count(1) {
    for (std::uint32_t i = 0; i < rank; ++i) count *= rd32(ws, value + obj::Shape + 4 * i);
    data = value + obj::Shape + 4 * rank;
  }
  std::uint32_t axis(std::uint32_t i, Ws ws) const { return rd32(ws, off + obj::Shape + 4 * i); }
  std::uint32_t last_axis(Ws ws) const { return rank == 0 ? 1 : axis(rank - 1, ws); }
};

// Blank lines after row r (0-based) of an array of rank 2 or more: one for
// each leading axis whose sub-array ends with that row.
int axis_blank_lines(const ArrayView& a, std::uint64_t r, Ws ws) {
  int blanks = 0;
  std::uint64_t block = 1;
  // Axis rank-2 counts rows; walk outwards from the plane axis.
  for (std::uint32_t j = a.rank - 2; j-- > 0;) {
    block *= a.axis(j + 1, ws);
    if ((r + 1) % block == 0) ++blanks;
  }
  return blanks;
}

// A line of blanks between planes: in a nested layout as wide as the rows
// (every line of a laid-out item has one width); while capturing otherwise,
// nothing (only rows are kept); in the session a new line.
void blank_line(int width, Ws ws) {
  if (nested_layout(ws)) {
    for (int i = 0; i < width; ++i) cdisp(kBlank, ws);
    ptcr(ws);
  } else if (!capturing(ws)) {
    ptcr(ws);
  }
}

// Prints the rows of a simple array of rank 2 or more.
class MatrixPrinter {
 public:
  MatrixPrinter(const ArrayView& a, Ws ws)
      : a_(a), ws_(ws), cols_(a.last_axis(ws)), rows_(a.count / cols_),
        uniform_(uniform_widths(ws)) {}

  void print() {
    measure();
    for (std::uint32_t r = 0; r < rows_; ++r) {
      if (!row(r)) return;
      if (r + 1 == rows_) break;
      const int width = column(ws_);
      ptcr(ws_);
      for (int b = axis_blank_lines(a_, r, ws_); b > 0; --b) blank_line(width, ws_);
    }
  }

 private:
  const ArrayView& a_;
  Ws ws_;
  std::uint32_t cols_;
  std::uint32_t rows_;
  bool uniform_;
  std::array<std::int16_t, kWidthTable> table_{};
  std::uint32_t measured_ = 0;  // columns held in the table
  int uniform_width_ = 0;       // integers under ⎕CS 4
  bool uniform_exponent_ = false;
  int allowance_ = 0;           // floats under ⎕CS 4: position of the point

  std::uint32_t column_data(std::uint32_t c) const {
    const std::uint32_t size = a_.type == ET_FLOAT ? 8 : 4;
    return a_.data + size * c;
  }

  void measure() {
    switch (a_.type) {
      case ET_INT:
        if (uniform_) {
          uniform_width_ = scan_int_width(a_.data, a_.count, 1, ws_);
          return;
        }
        measured_ = std::min<std::uint32_t>(cols_, kWidthTable);
        for (std::uint32_t c = 0; c < measured_; ++c)
          table_[c] = static_cast<std::int16_t>(scan_int_width(column_data(c), rows_, cols_, ws_));
        return;
      case ET_OBJREF:
        measured_ = std::min<std::uint32_t>(cols_, kWidthTable);
        for (std::uint32_t c = 0; c < measured_; ++c)
          table_[c] = static_cast<std::int16_t>(scan_obj_width(column_data(c), rows_, cols_, ws_));
        return;
      case ET_FLOAT:
        if (uniform_) {
          measure_uniform_floats();
          return;
        }
        measured_ = std::min<std::uint32_t>(cols_, kWidthTable / 2);
        for (std::uint32_t c = 0; c < measured_; ++c) {
          table_[2 * c] = static_cast<std::int16_t>(scan_flt_width(column_data(c), rows_, cols_, ws_));
          table_[2 * c + 1] = rdi16(ws_, showhdr::FractionWidth);
        }
        return;
      default: return;
    }
  }

  // One format for the whole array from its smallest and largest non-zero
  // magnitudes: the point at a fixed position when both fit, else
  // exponent form throughout.
  void measure_uniform_floats() {
    double smallest = 0, largest = 0;
    bool negative = false;
    for (std::uint32_t k = 0; k < a_.count; ++k) {
      const double x = float_at(a_.data, k, ws_);
      if (x < 0) negative = true;
      const double m = x < 0 ? -x : x;
      if (m == 0) continue;
      if (smallest == 0 || m < smallest) smallest = m;
      if (m > largest) largest = m;
    }
    fmtflt(smallest, 0, ws_);
    if (cke(ws_) == 0) {
      uniform_exponent_ = true;
      return;
    }
    if (text_count(ws_) >= 2 && text_char(0, ws_) == numch::Zero && text_char(1, ws_) == numch::Point) {
      int zeros = 0;
      while (2 + zeros < text_count(ws_) && text_char(2 + zeros, ws_) == numch::Zero) ++zeros;
      allowance_ = 6 - (zeros + 1);
    } else {
      allowance_ = 4 + integer_part(ws_) + 1;
    }
    fmtflt(largest, 0, ws_);
    // The point's position in the largest, with room for a minus sign when
    // the array holds negative values.
    const int point = integer_part(ws_) + 1 + (negative ? 1 : 0);
    uniform_exponent_ = cke(ws_) == 0 || point > allowance_;
  }

  int int_width(std::uint32_t c) {
    if (c < measured_) return table_[c];
    return scan_int_width(column_data(c), rows_, cols_, ws_);
  }
  int obj_width(std::uint32_t c) {
    if (c < measured_) return table_[c];
    return scan_obj_width(column_data(c), rows_, cols_, ws_);
  }
  // Integer-part width (-1: exponent form) and fraction width of column c.
  std::pair<int, int> float_widths(std::uint32_t c) {
    if (c < measured_) return {table_[2 * c], table_[2 * c + 1]};
    const int i = scan_flt_width(column_data(c), rows_, cols_, ws_);
    return {i, rdi16(ws_, showhdr::FractionWidth)};
  }

  // Prints row r; false when output was stopped.
  bool row(std::uint32_t r) {
    const std::uint32_t first = r * cols_;
    for (std::uint32_t c = 0; c < cols_; ++c) {
      if (exvac(ws_)) return false;
      const std::uint32_t k = first + c;
      switch (a_.type) {
        case ET_CHAR: cdisp(shown_char(rd8(ws_, a_.data + k), ws_), ws_); continue;
        case ET_BOOL:
          fmtbin(bool_word_at(a_.data, k, ws_), ws_);
          if (c > 0 || uniform_) exnshf(ws_);
          break;
        case ET_INT: {
          fmtint(int_at(a_.data, k, ws_), ws_);
          const int w = uniform_ ? uniform_width_ : int_width(c);
          pad_left(c == 0 && !uniform_ ? w : w + 1, ws_);
          break;
        }
        case ET_OBJREF: {
          format_object(a_.data, k, ws_);
          const int w = obj_width(c);
          pad_left(c == 0 ? w : w + 1, ws_);
          break;
        }
        case ET_FLOAT:
          if (uniform_)
            uniform_float(k);
          else
            column_float(k, c);
          break;
        default: noncer_1(ws_);
      }
      ldism(ws_);
    }
    return true;
  }

  void column_float(std::uint32_t k, std::uint32_t c) {
    const auto [i, f] = float_widths(c);
    if (i < 0) {
      fmtflt(float_at(a_.data, k, ws_), kExponentForm, ws_);
      if (!is_digit(text_char(1, ws_))) exnshf(ws_);
      pad_right(significant_digits(ws_) + 8, ws_);
    } else {
      fmtflt(float_at(a_.data, k, ws_), 0, ws_);
      for (int n = i - integer_part(ws_); n > 0; --n) exnshf(ws_);
      pad_right(i + f, ws_);
    }
    if (c > 0) exnshf(ws_);
  }

  void uniform_float(std::uint32_t k) {
    const double x = float_at(a_.data, k, ws_);
    if (uniform_exponent_) {
      fmtflt(x, kExponentForm, ws_);
      const bool sign = is_digit(text_char(1, ws_));
      exnshf(ws_);
      if (!sign) exnshf(ws_);
    } else {
      fmtflt(x, 0, ws_);
      for (int n = allowance_ - 1 - integer_part(ws_); n > 0; --n) exnshf(ws_);
    }
    pad_right(significant_digits(ws_) + 8, ws_);
  }
};

// ---- the layout ---------------------------------------------------------------------------

std::uint32_t cursor(Ws ws) { return rd32(ws, hdr::CaptureAddress); }
void set_cursor(std::uint32_t c, Ws ws) { wr32(ws, hdr::CaptureAddress, c); }
std::uint32_t round4(std::uint32_t n) { return (n + 3) & ~3u; }

// WS FULL unless `bytes` from the layout cursor stay `reserve` below the stack.
void need_room(std::uint64_t bytes, std::uint32_t reserve, Ws ws) {
  if (std::uint64_t(cursor(ws)) + bytes + reserve > rd32(ws, hdr::StackPointer)) ws_full(ws);
}

void write_char_header(std::uint32_t node, std::uint32_t rank, bool not_char, bool num_scalar, std::uint32_t rows,
                       std::uint32_t cols, Ws ws) {
  wr16(ws, node + dnode::Rank, rank);
  wr8(ws, node + dnode::NotChar, not_char ? 1 : 0);
  wr8(ws, node + dnode::NumScalar, num_scalar ? 1 : 0);
  wr32(ws, node + dnode::Size, round4(kFirstCharNode + rows * cols));
  wr32(ws, node + dnode::TypeWord, kCharNodeType);
  wr32(ws, node + dnode::Rows, rows);
  wr32(ws, node + dnode::Columns, cols);
}

// Starts a capture of lines at the cursor: column and line count from 0.
void start_lines(Ws ws) {
  wr16(ws, hdr::OutColumn, 0);
  wr16(ws, hdr::OutLineCount, 0);
}

// Characters captured since `start` as `rows` rows of equal width.
std::uint32_t captured_columns(std::uint32_t start, std::uint32_t rows, Ws ws) {
  // A quiet overflow (a capture for the session log or a copy) dropped
  // characters: the layout cannot be completed.
  if (state_has(st::CaptureOverflow, ws)) ws_full(ws);
  const std::uint32_t chars = cursor(ws) - start;
  if (rows == 0) {
    if (chars != 0) ZEMA_SYSTEM_ERROR(ws);
    return 0;
  }
  if (chars % rows != 0) ZEMA_SYSTEM_ERROR(ws);
  return chars / rows;
}

// A simple value as a character node: its display captured as rows.
std::uint32_t lay_simple(std::uint32_t value, Ws ws) {
  const ArrayView a(value, ws);
  const std::uint32_t node = cursor(ws);
  need_room(kFirstCharNode, kLayoutReserve, ws);
  const std::uint32_t start = node + kFirstCharNode;
  set_cursor(start, ws);
  start_lines(ws);
  const int result = exprn(value, ws);
  const std::uint32_t rows = result == 4 ? 0 : rd16(ws, hdr::OutLineCount) + 1u;
  const std::uint32_t cols = captured_columns(start, rows, ws);
  write_char_header(node, a.rank, a.type != ET_CHAR, a.rank == 0 && is_numeric(a.type), rows, cols, ws);
  set_cursor(node + rd32(ws, node + dnode::Size), ws);
  return node;
}

// Prints the nested node at `sub` (capture on) into a character node that
// replaces it.
void print_into_char_node(std::uint32_t sub, Ws ws) {
  const std::uint32_t start = cursor(ws);
  start_lines(ws);
  const auto rows = static_cast<std::uint32_t>(print_display_array(sub, ws));
  const std::uint32_t cols = captured_columns(start, rows, ws);
  std::memmove(ws + sub + kFirstCharNode, ws + start, std::size_t(rows) * cols);
  write_char_header(sub, 0, true, false, rows, cols, ws);
  set_cursor(sub + rd32(ws, sub + dnode::Size), ws);
}

// The measure of a column of number cells: kUnmeasured, or the column's
// fraction width, with kExponentColumn when the column is written in
// exponent form.
constexpr std::uint32_t kUnmeasured = 0xFFFFFFFFu;
constexpr std::uint32_t kExponentColumn = 0x80000000u;

// A numeric scalar item of a nested array of rank 2 or more, formatted in
// place as a one-row character node padded so that the column's fractions
// line up (or in exponent form when any float of the column needs it).
// `measure` is the workspace word holding the column's measure; the first
// cell of the column fills it.
void number_cell(std::uint32_t value, std::uint32_t index, std::uint32_t item, std::uint32_t measure, Ws ws) {
  need_room(0, kCellReserve, ws);
  std::uint32_t m = rd32(ws, measure);
  if (m == kUnmeasured) {
    const std::uint32_t cols = ArrayView(value, ws).last_axis(ws);
    const bool exponent = scan_nst_width(value, index % cols, ws) < 0;
    m = static_cast<std::uint32_t>(rdi16(ws, showhdr::FractionWidth)) | (exponent ? kExponentColumn : 0);
    wr32(ws, measure, m);
  }
  const ArrayView a(item, ws);
  if (m & kExponentColumn) {
    format_number(a.type, a.data, 0, kExponentForm, ws);
  } else {
    format_number(a.type, a.data, 0, 0, ws);
    const int own = text_count(ws) - integer_part(ws);
    pad_right(text_count(ws) + static_cast<int>(m) - own, ws);
  }
  const std::uint32_t node = cursor(ws);
  const auto n = static_cast<std::uint32_t>(text_count(ws));
  write_char_header(node, 0, true, true, 1, n, ws);
  std::memcpy(ws + node + kFirstCharNode, ws + hdr::TextChars, n);
  set_cursor(node + rd32(ws, node + dnode::Size), ws);
}

std::uint32_t lay_nested(std::uint32_t value, Ws ws) {
  const ArrayView a(value, ws);
  const std::uint32_t node = cursor(ws);
  const std::uint32_t table = node + dnode::Shape + 4 * a.rank;
  const std::uint32_t size = dnode::Shape + 4 * a.rank + 4 * a.count;
  need_room(size, kLayoutReserve, ws);

  bool not_simple = false;
  for (std::uint32_t i = 0; i < a.count; ++i) {
    const std::uint32_t item = value + rd32(ws, a.data + 4 * i);
    if (rd16(ws, item + obj::Rank4) != 0 || rd8(ws, item + obj::Type) == ET_NESTED) not_simple = true;
  }
  wr16(ws, node + dnode::Rank, a.rank);
  wr8(ws, node + dnode::NotChar, not_simple ? 1 : 0);
  wr8(ws, node + dnode::NumScalar, 0);
  wr32(ws, node + dnode::Size, size);
  wr8(ws, node + obj::Type, a.type);
  wr8(ws, node + obj::Flags9, rd8(ws, value + obj::Flags9));
  wr16(ws, node + obj::Rank4, 4 * a.rank);
  for (std::uint32_t i = 0; i < a.rank; ++i) wr32(ws, node + dnode::Shape + 4 * i, a.axis(i, ws));
  set_cursor(node + size, ws);

  // The measures of the number columns are kept in the table words of the
  // last row: each is needed until its own item, the column's last, is laid
  // out, and only then takes that item's offset.
  const bool cells = a.rank >= 2 && a.count > 0;
  const std::uint32_t cols = cells ? a.last_axis(ws) : 1;
  const std::uint32_t measures = table + 4 * (a.count - (cells ? cols : 0));
  if (cells)
    for (std::uint32_t c = 0; c < cols; ++c) wr32(ws, measures + 4 * c, kUnmeasured);
  for (std::uint32_t i = 0; i < a.count; ++i) {
    const std::uint32_t item = value + rd32(ws, a.data + 4 * i);
    const std::uint32_t offset = cursor(ws) - node;
    const ArrayView it(item, ws);
    if (cells && it.rank == 0 && is_numeric(it.type)) {
      number_cell(value, i, item, measures + 4 * (i % cols), ws);
    } else {
      const std::uint32_t sub = make_display_array(item, ws);
      if (rd8(ws, sub + obj::Type) == ET_NESTED) print_into_char_node(sub, ws);
    }
    wr32(ws, table + 4 * i, offset);
  }
  return node;
}

// ---- printing a display tree ------------------------------------------------------------

struct ItemNode {
  std::uint32_t off;
  std::uint32_t rank;
  bool not_char;
  bool num_scalar;
  std::uint32_t rows;
  std::uint32_t cols;

  ItemNode(std::uint32_t node, Ws ws)
      : off(node), rank(rd16(ws, node + dnode::Rank)), not_char(rd8(ws, node + dnode::NotChar) != 0),
        num_scalar(rd8(ws, node + dnode::NumScalar) != 0), rows(rd32(ws, node + dnode::Rows)),
        cols(rd32(ws, node + dnode::Columns)) {}
  bool char_scalar_or_vector() const { return !not_char && rank <= 1; }
};

class TreePrinter {
 public:
  TreePrinter(std::uint32_t node, Ws ws) : node_(node), ws_(ws) {}

  int print() {
    if (rd32(ws_, node_ + dnode::TypeWord) == kCharNodeType) return print_char_node();
    const ArrayView a(node_, ws_);
    if (a.count == 0) return a.rank <= 1 ? 1 : 0;  // an empty vector is one empty line
    cols_ = a.last_axis(ws_);
    rows_ = a.count / cols_;
    items_ = a.data;

    // The column measures go at the capture address; what is captured
    // meanwhile follows them and is moved down over them at the end.
    columns_ = cursor(ws_);
    const std::uint64_t bytes = std::uint64_t(kColumnEntry) * cols_;
    need_room(bytes, kLayoutReserve, ws_);
    set_cursor(columns_ + static_cast<std::uint32_t>(bytes), ws_);
    measure();
    print_rows(a);
    const std::uint32_t after = columns_ + static_cast<std::uint32_t>(bytes);
    const std::uint32_t captured = cursor(ws_) - after;
    std::memmove(ws_ + columns_, ws_ + after, captured);
    set_cursor(columns_ + captured, ws_);
    return lines_;
  }

 private:
  // A column's entry: width, gap after it, and 1 when it holds a numeric scalar.
  static constexpr std::uint32_t kColumnEntry = 12;

  std::uint32_t node_;
  Ws ws_;
  std::uint32_t cols_ = 1;
  std::uint32_t rows_ = 1;
  std::uint32_t items_ = 0;    // the node's item offsets
  std::uint32_t columns_ = 0;  // the column entries
  std::uint32_t line_width_ = 0;
  int lines_ = 0;

  ItemNode item(std::uint32_t r, std::uint32_t c) const {
    return ItemNode(node_ + rd32(ws_, items_ + 4 * (r * cols_ + c)), ws_);
  }
  std::uint32_t width(std::uint32_t c) const { return rd32(ws_, columns_ + kColumnEntry * c); }
  std::uint32_t gap(std::uint32_t c) const { return rd32(ws_, columns_ + kColumnEntry * c + 4); }
  bool numbers(std::uint32_t c) const { return rd32(ws_, columns_ + kColumnEntry * c + 8) != 0; }

  void print_rows(const ArrayView& a) {
    for (std::uint32_t r = 0; r < rows_; ++r) {
      if (r > 0) {
        int blanks = interspace(r - 1, r) + (a.rank >= 2 ? axis_blank_lines(a, r - 1, ws_) : 0);
        for (; blanks > 0; --blanks)
          if (!line_of_blanks()) return;
      }
      std::uint32_t height = 0;
      for (std::uint32_t c = 0; c < cols_; ++c) height = std::max(height, item(r, c).rows);
      for (std::uint32_t k = 0; k < height; ++k)
        if (!item_line(r, k)) return;
    }
  }

  int print_char_node() {
    const ItemNode n(node_, ws_);
    for (std::uint32_t r = 0; r < n.rows; ++r) {
      if (!begin_line()) break;
      ldprt(ws_ + n.off + kFirstCharNode + r * n.cols, static_cast<int>(n.cols), ws_);
    }
    return lines_;
  }

  std::uint32_t spacing_rank(const ItemNode& n) const {
    const std::uint32_t rank = compact_layout(ws_) ? std::min<std::uint32_t>(n.rank, 1) : n.rank;
    return rank + (n.not_char ? 1 : 0);
  }

  // Column widths (widest item over all rows), gaps after each column (the
  // largest spacing rank of an item or its right neighbour, 1 after the
  // last) and which columns hold numeric scalars.
  void measure() {
    std::memset(ws_ + columns_, 0, std::size_t(kColumnEntry) * cols_);
    for (std::uint32_t r = 0; r < rows_; ++r) {
      for (std::uint32_t c = 0; c < cols_; ++c) {
        const std::uint32_t e = columns_ + kColumnEntry * c;
        const ItemNode n = item(r, c);
        wr32(ws_, e, std::max(width(c), n.cols));
        if (n.num_scalar) wr32(ws_, e + 8, 1);
        if (c + 1 < cols_) wr32(ws_, e + 4, std::max({gap(c), spacing_rank(n), spacing_rank(item(r, c + 1))}));
      }
    }
    wr32(ws_, columns_ + kColumnEntry * (cols_ - 1) + 4, 1);
    line_width_ = rd8(ws_, node_ + dnode::NotChar) ? 1 : 0;
    for (std::uint32_t c = 0; c < cols_; ++c) line_width_ += width(c) + gap(c);
  }

  // Lines of blanks between two rows of items: the largest item rank of
  // the two rows less one (none in compact layout).
  int interspace(std::uint32_t r1, std::uint32_t r2) const {
    if (compact_layout(ws_)) return 0;
    std::uint32_t rank = 0;
    for (std::uint32_t c = 0; c < cols_; ++c) rank = std::max({rank, item(r1, c).rank, item(r2, c).rank});
    return rank > 0 ? static_cast<int>(rank) - 1 : 0;
  }

  // Ends the previous line; false when output was stopped.
  bool begin_line() {
    if (exvac(ws_)) return false;
    if (lines_ > 0) ptcr(ws_);
    ++lines_;
    return true;
  }

  void blanks(std::uint32_t n) {
    for (std::uint32_t i = 0; i < n; ++i) cdisp(kBlank, ws_);
  }

  bool line_of_blanks() {
    if (!begin_line()) return false;
    blanks(line_width_);
    return true;
  }

  // Line k of the row r of items.
  bool item_line(std::uint32_t r, std::uint32_t k) {
    if (!begin_line()) return false;
    if (rd8(ws_, node_ + dnode::NotChar)) cdisp(kBlank, ws_);
    for (std::uint32_t c = 0; c < cols_; ++c) {
      const ItemNode n = item(r, c);
      if (k < n.rows) {
        const bool right = n.num_scalar || (n.char_scalar_or_vector() && numbers(c));
        const std::uint32_t pad = width(c) - n.cols;
        if (right) blanks(pad);
        ldprt(ws_ + n.off + kFirstCharNode + k * n.cols, static_cast<int>(n.cols), ws_);
        if (!right) blanks(pad);
      } else {
        blanks(width(c));
      }
      blanks(gap(c));
    }
    return true;
  }
};

// The capture address pointed elsewhere for a while, put back when it ends
// (also by an error).
class CursorScope {
 public:
  CursorScope(std::uint32_t at, Ws ws) : ws_(ws), saved_(cursor(ws)) { set_cursor(at, ws); }
  ~CursorScope() { set_cursor(saved_, ws_); }
  CursorScope(const CursorScope&) = delete;
  CursorScope& operator=(const CursorScope&) = delete;

 private:
  Ws ws_;
  std::uint32_t saved_;
};

// Header words a layout changes, put back when it ends (also by an error).
class LayoutScope {
 public:
  explicit LayoutScope(Ws ws)
      : ws_(ws), capture_(cursor(ws)), column_(rd16(ws, hdr::OutColumn)), lines_(rd16(ws, hdr::OutLineCount)),
        state_(engine_state(ws)), result_bits_(rd8(ws, hdr::ResultBits)), misc_(rd8(ws, hdr::MiscBits)),
        output_(rd8(ws, hdr::OutputBits)), depth_(rd16(ws, hdr::DepthBudget)) {}
  ~LayoutScope() {
    set_cursor(capture_, ws_);
    wr16(ws_, hdr::OutColumn, column_);
    wr16(ws_, hdr::OutLineCount, lines_);
    constexpr std::uint16_t kCaptureBits = st::Capturing | st::CaptureOverflow;
    set_state(state_ & kCaptureBits, static_cast<std::uint16_t>(kCaptureBits & ~state_), ws_);
    wr8(ws_, hdr::ResultBits, result_bits_);
    wr8(ws_, hdr::MiscBits, misc_);
    wr8(ws_, hdr::OutputBits, output_);
    wr16(ws_, hdr::DepthBudget, depth_);
  }
  LayoutScope(const LayoutScope&) = delete;
  LayoutScope& operator=(const LayoutScope&) = delete;

  // Capture on at `start` (quotes stored once, so that rows keep their
  // widths), the nested-layout flag set, the full allowance.
  static void begin(std::uint32_t start, Ws ws) {
    set_cursor(start, ws);
    wr8(ws, hdr::OutputBits, rd8(ws, hdr::OutputBits) & ~outbits::DoubleQuotes);
    set_state(st::Capturing, st::CaptureOverflow, ws);
    wr8(ws, hdr::ResultBits, rd8(ws, hdr::ResultBits) | kNestedLayout);
    wr16(ws, hdr::DepthBudget, static_cast<std::uint32_t>(kDisplayDepth));
  }

 private:
  Ws ws_;
  std::uint32_t capture_;
  std::uint16_t column_, lines_, state_;
  std::uint8_t result_bits_, misc_, output_;
  std::uint16_t depth_;
};

}  // namespace

// ---- text-buffer helpers ------------------------------------------------------------------

void ptcr(Ws ws) { cdisp(kCarriageReturn, ws); }

int cke(Ws ws) {
  const int n = text_count(ws);
  for (int i = 0; i < n; ++i)
    if (text_char(i, ws) == numch::Exp) return 0;
  return 4;
}

void exnshf(Ws ws) {
  const int n = text_count(ws);
  std::memmove(ws + hdr::TextChars + 1, ws + hdr::TextChars, static_cast<std::size_t>(n));
  wr8(ws, hdr::TextChars, kBlank);
  set_text_count(n + 1, ws);
}

void expadp1(int width, Ws ws) {
  pad_right(width, ws);
  ldism(ws);
}

void expadp(Ws ws) { expadp1(significant_digits(ws) + 8, ws); }

int fmt_width(std::int32_t value) {
  static constexpr std::array<std::uint32_t, 9> tentab_int = {10u,      100u,      1000u,      10000u,     100000u,
                                                              1000000u, 10000000u, 100000000u, 1000000000u};
  const std::uint32_t magnitude =
      value < 0 ? 0u - static_cast<std::uint32_t>(value) : static_cast<std::uint32_t>(value);
  int digits = 1;
  for (std::uint32_t power : tentab_int) {
    if (magnitude < power) break;
    ++digits;
  }
  return digits + (value < 0 ? 1 : 0);
}

// ---- column measures ------------------------------------------------------------------------

int scan_int_width(std::uint32_t data, std::uint32_t n, std::uint32_t stride, Ws ws) {
  std::int32_t lo = 0, hi = 0;
  for (std::uint32_t k = 0; k < n; ++k) {
    const std::int32_t v = int_at(data, k * stride, ws);
    if (k == 0 || v < lo) lo = v;
    if (k == 0 || v > hi) hi = v;
  }
  const int w = std::max(fmt_width(lo), fmt_width(hi));
  wr16(ws, showhdr::ColumnWidth, static_cast<std::uint32_t>(w));
  return w;
}

int scan_flt_width(std::uint32_t data, std::uint32_t n, std::uint32_t stride, Ws ws) {
  int whole = 0, fraction = 0;
  for (std::uint32_t k = 0; k < n; ++k) {
    fmtflt(float_at(data, k * stride, ws), 0, ws);
    if (cke(ws) == 0) {
      whole = -1;
      fraction = 0;
      break;
    }
    const int p = integer_part(ws);
    whole = std::max(whole, p);
    fraction = std::max(fraction, text_count(ws) - p);
  }
  wr16(ws, showhdr::ColumnWidth, static_cast<std::uint32_t>(whole));
  wr16(ws, showhdr::FractionWidth, static_cast<std::uint32_t>(fraction));
  return whole;
}

int scan_obj_width(std::uint32_t data, std::uint32_t n, std::uint32_t stride, Ws ws) {
  int w = 0;
  for (std::uint32_t k = 0; k < n; ++k)
    w = std::max(w, static_cast<int>(format_object_reference(rd32(ws, data + 4 * k * stride), ws).size()));
  wr16(ws, showhdr::ColumnWidth, static_cast<std::uint32_t>(w));
  return w;
}

int scan_nst_width(std::uint32_t value, std::uint32_t column, Ws ws) {
  const ArrayView a(value, ws);
  const std::uint32_t cols = a.last_axis(ws);
  int whole = 0, fraction = 0;
  for (std::uint32_t k = column; k < a.count; k += cols) {
    const ArrayView it(value + rd32(ws, a.data + 4 * k), ws);
    if (it.rank != 0 || it.type != ET_FLOAT) continue;
    fmtflt(float_at(it.data, 0, ws), 0, ws);
    if (cke(ws) == 0) {
      whole = -1;
      fraction = 0;
      break;
    }
    fraction = std::max(fraction, text_count(ws) - integer_part(ws));
  }
  wr16(ws, showhdr::ColumnWidth, static_cast<std::uint32_t>(whole));
  wr16(ws, showhdr::FractionWidth, static_cast<std::uint32_t>(fraction));
  return whole;
}

// ---- object references --------------------------------------------------------------------

std::string format_object_reference(std::uint32_t slot, Ws ws) {
  std::string internal = object_display_text(slot, false, ws);
  if (internal.size() > kObjectTextMax) internal.resize(kObjectTextMax);
  return internal;
}

// ---- simple arrays ----------------------------------------------------------------------------

void exvec2(std::uint32_t value, std::uint32_t count, std::uint8_t type, std::uint32_t data, Ws ws) {
  if (type == ET_CHAR) {
    for (std::uint32_t k = 0; k < count; ++k) {
      if (exvac(ws)) return;
      cdisp(shown_char(rd8(ws, data + k), ws), ws);
    }
    return;
  }
  if (!is_numeric(type) && type != ET_OBJREF) noncer_1(ws);
  for (std::uint32_t k = 0; k < count; ++k) {
    if (exvac(ws)) return;
    switch (type) {
      case ET_BOOL: fmtbin(bool_word_at(data, k, ws), ws); break;
      case ET_OBJREF: format_object(data, k, ws); break;
      default: format_number(type, data, k, 0, ws); break;
    }
    if (k + 1 < count) pad_right(text_count(ws) + 1, ws);
    ldism(ws);
  }
}

int exprn(std::uint32_t value, Ws ws) {
  const ArrayView a(value, ws);
  if (a.rank <= 1) {
    exvec2(value, a.count, a.type, a.data, ws);
    return 0;
  }
  if (!capturing(ws) && column(ws) != 0) ptcr(ws);
  if (a.count == 0) return 4;
  wr32(ws, showhdr::ElementCount, a.count);
  if (!is_numeric(a.type) && a.type != ET_CHAR && a.type != ET_OBJREF) noncer_1(ws);
  MatrixPrinter(a, ws).print();
  return 0;
}

// ---- nested arrays ----------------------------------------------------------------------------

std::uint32_t make_display_array(std::uint32_t value, Ws ws) {
  poll_attention(ws);
  if (rd8(ws, value + obj::Type) != ET_NESTED) return lay_simple(value, ws);
  const std::int16_t budget = rdi16(ws, hdr::DepthBudget);
  if (budget < 1) depth_error(ws);
  wr16(ws, hdr::DepthBudget, static_cast<std::uint32_t>(budget - 1));
  const std::uint32_t node = lay_nested(value, ws);
  wr16(ws, hdr::DepthBudget, static_cast<std::uint32_t>(rdi16(ws, hdr::DepthBudget) + 1));
  return node;
}

int print_display_array(std::uint32_t node, Ws ws) { return TreePrinter(node, ws).print(); }

// ---- the session's display ----------------------------------------------------------------

void display_array(DisplayLine& line, std::uint32_t value_slot, Ws ws) {
  bool new_line = true;
  if (rd8(ws, rd32(ws, value_slot) + obj::Type) == ET_NESTED) {
    // Compaction leaves the free space above the heap as large as it can
    // be; the value is read again from its slot afterwards.
    gcol(ws);
    std::uint32_t node, end;
    {
      LayoutScope scope(ws);
      LayoutScope::begin(rd32(ws, hdr::HeapTop), ws);
      node = make_display_array(rd32(ws, value_slot), ws);
      end = cursor(ws);
    }
    // The printer's column measures go in the free space past the layout.
    CursorScope scratch(end, ws);
    new_line = print_display_array(node, ws) > 0;
  } else {
    new_line = exprn(rd32(ws, value_slot), ws) != 4;
  }
  line.width = column(ws);
  const std::uint8_t out = rd8(ws, hdr::OutputBits);
  if (out & outbits::NoFold) {
    wr8(ws, hdr::OutputBits, out & ~outbits::NoFold);
    new_line = false;
  }
  if (rd8(ws, hdr::MultiDisplay) & kMultiValue) new_line = false;
  if (new_line) ptcr(ws);
}

// ---- monadic ⍕ ---------------------------------------------------------------------------

std::uint32_t layout_for_format(std::uint32_t value_slot, Ws ws) {
  gcol(ws);
  std::uint32_t node;
  {
    LayoutScope scope(ws);
    LayoutScope::begin(rd32(ws, hdr::HeapTop), ws);
    node = make_display_array(rd32(ws, value_slot), ws);
    if (rd8(ws, node + obj::Type) == ET_NESTED) print_into_char_node(node, ws);
  }
  return node;
}

// ---- layouts of several values --------------------------------------------------------------

std::uint32_t run_host_layout(std::uint32_t (*build)(void* context, Ws ws), void* context, Ws ws) {
  LayoutScope scope(ws);
  LayoutScope::begin(rd32(ws, hdr::HeapTop), ws);
  wr8(ws, hdr::MiscBits, rd8(ws, hdr::MiscBits) | kHostLayout);
  return build(context, ws);
}

std::uint32_t lay_out_char_node(std::uint32_t value, bool compact, Ws ws) {
  const std::uint8_t misc = rd8(ws, hdr::MiscBits);
  wr8(ws, hdr::MiscBits, compact ? misc | kCompactLayout : misc & ~kCompactLayout);
  const std::uint32_t node = make_display_array(value, ws);
  if (rd8(ws, node + obj::Type) == ET_NESTED) print_into_char_node(node, ws);
  wr8(ws, hdr::MiscBits, misc);
  return node;
}

std::uint32_t layout_cursor(Ws ws) { return cursor(ws); }
void set_layout_cursor(std::uint32_t at, Ws ws) { set_cursor(at, ws); }
void layout_need_room(std::uint64_t bytes, Ws ws) { need_room(bytes, kLayoutReserve, ws); }

// ---- the host's entry -----------------------------------------------------------------------

int format_APL_array(Ws ws, const std::uint8_t* value, const std::uint8_t** matrix) {
  // The layout uses the free space and the display's header words, which
  // belong to a running line while one executes.
  if (state_has(st::Executing, ws)) return kFormatBusy;

  struct ErrorWords {
    std::uint16_t et_major, et_minor, code, line;
    std::uint32_t number;
  } saved{rd16(ws, hdr::EtMajor), rd16(ws, hdr::EtMinor), rd16(ws, hdr::ErrorCode), rd16(ws, hdr::ErrorLine),
          rd32(ws, hdr::ErrorNumber)};
  // The last report (⎕EM) is kept aside, so that an error the layout raises
  // and answers here does not give it up; the layout builds only in the free
  // space and never compacts the heap, so the object stays where it is.
  const std::uint32_t message = rd32(ws, hdr::ErrorMessage);
  wr32(ws, hdr::ErrorMessage, 0);

  sup_attn(0, ws);
  int result = 0;
  {
    LayoutScope scope(ws);
    try {
      LayoutScope::begin(rd32(ws, hdr::HeapTop), ws);
      std::uint32_t v;
      const auto base = reinterpret_cast<std::uintptr_t>(ws);
      const auto at = reinterpret_cast<std::uintptr_t>(value);
      if (at >= base && at < base + rd32(ws, hdr::Top)) {
        v = static_cast<std::uint32_t>(at - base);
      } else {
        // A host copy: brought into the free space so that the layout reads
        // it like any workspace value.
        std::uint32_t size;
        std::memcpy(&size, value + obj::Size, 4);
        need_room(size, kLayoutReserve, ws);
        v = cursor(ws);
        std::memcpy(ws + v, value, size);
        set_cursor(v + round4(size), ws);
      }
      std::uint8_t misc = rd8(ws, hdr::MiscBits) | kHostLayout;
      if (value[0] & 0x80) misc |= kCompactLayout;
      wr8(ws, hdr::MiscBits, misc);
      const std::uint32_t node = make_display_array(v, ws);
      if (rd8(ws, node + obj::Type) == ET_NESTED) print_into_char_node(node, ws);
      *matrix = ws + node;
    } catch (const AplError& e) {
      result = e.code;
      wr16(ws, hdr::EtMajor, saved.et_major);
      wr16(ws, hdr::EtMinor, saved.et_minor);
      wr16(ws, hdr::ErrorCode, saved.code);
      wr16(ws, hdr::ErrorLine, saved.line);
      wr32(ws, hdr::ErrorNumber, saved.number);
    }
  }
  wr32(ws, hdr::ErrorMessage, message);
  sup_attn(rd16(ws, hdr::AttnLevel), ws);
  return result;
}

}  // namespace zema
