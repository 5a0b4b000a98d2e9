// The text of a class: see class_text.h.
#include "interpreter/sysfns/class_text.h"

#include <cstring>
#include <string>

#include "host/charset.h"
#include "interpreter/engine/classes.h"
#include "interpreter/engine/function_object.h"
#include "interpreter/output/display.h"
#include "interpreter/sysfns/capture.h"
#include "interpreter/sysfns/definitions.h"
#include "interpreter/sysfns/value_text.h"
#include "interpreter/workspace/arrays.h"
#include "interpreter/workspace/errors.h"
#include "interpreter/workspace/heap.h"
#include "interpreter/workspace/object_pool.h"
#include "interpreter/workspace/symtab.h"

namespace zema {

namespace {


// Free bytes kept between the text and the stack while it is rearranged.
constexpr std::uint32_t kReserve = 256;

// Lines at the capture, separated by carriage returns; a blank line asked
// for is written only when another line follows, so none stands just
// before the closing brace.
class LineWriter {
 public:
  LineWriter(const TextCapture& capture, Ws ws) : capture_(capture), ws_(ws) {}
  void line() {
    if (!first_) capture_.store_return();
    if (blank_) capture_.store_return();
    first_ = false;
    blank_ = false;
  }
  void blank_after() { blank_ = true; }
  void text(const char* utf8) { ldprt(utf8_to_internal(utf8), ws_); }
  void name(std::uint16_t token) { ldprt(symbol_name(entry_of_token(token), ws_), ws_); }
  void last_line() {
    blank_ = false;
    line();
  }

 private:
  const TextCapture& capture_;
  Ws ws_;
  bool first_ = true;
  bool blank_ = false;
};

std::uint32_t entry_at(std::uint32_t cls, std::uint32_t i) { return cls + pobj::Entries + mentry::Size * i; }

// The lines of the class object `cls` named by `token`.
void write_class(std::uint16_t token, std::uint32_t cls, const TextCapture& capture, Ws ws) {
  LineWriter w(capture, ws);
  const std::uint32_t n = rd32(ws, cls + pobj::Count);
  // The header.
  w.line();
  w.name(token);
  if (const std::uint32_t parent = class_in_slot(rd32(ws, cls + pobj::ParentSlot), ws)) {
    const std::uint32_t parent_name = rd32(ws, parent + pobj::NameSymbol);
    if (parent_name != 0) {
      w.text(" : ");
      w.name(static_cast<std::uint16_t>(parent_name / 8));
    }
  }
  bool first_private = true;
  for (std::uint32_t i = 0; i < n; ++i) {
    const std::uint32_t me = entry_at(cls, i);
    if (!(rd8(ws, me + mentry::Access) & kPrivate)) continue;
    w.text(first_private ? "; " : ";");
    first_private = false;
    w.name(rd16(ws, me + mentry::Token));
  }
  w.text(" {");
  // Properties with a value, then those without.
  for (const bool valued : {true, false}) {
    bool any = false;
    for (std::uint32_t i = 0; i < n; ++i) {
      const std::uint32_t me = entry_at(cls, i);
      const std::uint8_t kind = rd8(ws, me + mentry::Kind);
      const std::uint32_t value = rd32(ws, me + mentry::Value);
      const bool has_value = kind == SYM_VAR && value != 0;
      if ((kind != SYM_VAR && kind != SYM_UNDEF) || has_value != valued) continue;
      const std::uint8_t access = rd8(ws, me + mentry::Access);
      any = true;
      w.line();
      if (access & kClassWide) w.text("{");
      w.name(rd16(ws, me + mentry::Token));
      if (valued) {
        const std::uint32_t mark = capture.cursor();
        w.text(access & kReadOnly ? "←←" : "←");
        if (!write_value_text(value, capture, ws)) capture.seek(mark);
      }
      if (access & kClassWide) w.text("}");
    }
    if (any) w.blank_after();
  }
  // Methods, each between ∇ lines as it is typed.
  for (std::uint32_t i = 0; i < n; ++i) {
    const std::uint32_t me = entry_at(cls, i);
    if (!defined_function_type(rd8(ws, me + mentry::Kind))) continue;
    const std::uint32_t header = rd32(ws, me + mentry::Value);
    if (header == 0 || (rd8(ws, header + fnl::Marks) & fnmark::Locked)) continue;
    for (std::uint32_t l = header; l != 0; l = rd32(ws, l + fnl::Next)) {
      w.line();
      if (l == header) w.text("∇");
      capture_function_line(l, ws);
    }
    w.line();
    w.text("∇");
    w.blank_after();
  }
  w.last_line();
  w.text("}");
}

// Captures the text at `origin`; answers its length.
std::uint32_t capture_class(std::uint16_t token, std::uint32_t cls_slot, std::uint32_t origin, Ws ws) {
  TextCapture capture(origin, ws);
  write_class(token, class_in_slot(cls_slot, ws), capture, ws);
  return capture.cursor() - origin;
}

// Rows and width of the text [at, at + length).
void measure(std::uint32_t at, std::uint32_t length, std::uint32_t& rows, std::uint32_t& width, Ws ws) {
  rows = 1;
  width = 0;
  std::uint32_t run = 0;
  for (std::uint32_t p = at; p < at + length; ++p) {
    if (rd8(ws, p) == kCarriageReturn) {
      ++rows;
      run = 0;
    } else if (++run > width) {
      width = run;
    }
  }
}

void push_matrix(std::uint16_t token, std::uint32_t slot, Ws ws) {
  const std::uint32_t origin = capture_origin(2, ws);
  const std::uint32_t length = capture_class(token, slot, origin, ws);
  std::uint32_t rows = 0, width = 0;
  measure(origin, length, rows, width, ws);
  const std::uint64_t cells = std::uint64_t(rows) * width;
  if (origin + cells + length + kReserve > rd32(ws, hdr::StackPointer)) ws_full(ws);
  // The text moves above the matrix's place, then row by row into it.
  const auto above = static_cast<std::uint32_t>(origin + cells);
  std::memmove(ws + above, ws + origin, length);
  std::uint32_t from = above;
  for (std::uint32_t r = 0; r < rows; ++r) {
    std::uint32_t k = 0;
    const std::uint32_t row = origin + r * width;
    while (from < above + length && rd8(ws, from) != kCarriageReturn) wr8(ws, row + k++, rd8(ws, from++));
    ++from;
    std::memset(ws + row + k, kBlank, width - k);
  }
  const std::uint32_t shape[2] = {rows, width};
  push_result(captured_array(2, shape, ws), ws);
}

void push_lines(std::uint16_t token, std::uint32_t slot, Ws ws) {
  const std::uint32_t origin = capture_origin(1, ws);
  const std::uint32_t length = capture_class(token, slot, origin, ws);
  std::uint32_t lines = 0;
  {
    std::uint32_t run = 0;
    for (std::uint32_t p = origin; p <= origin + length; ++p) {
      if (p == origin + length || rd8(ws, p) == kCarriageReturn) {
        if (run != 0) ++lines;
        run = 0;
      } else {
        ++run;
      }
    }
  }
  // The text goes to the top of the free gap; the items are built from
  // the heap top up to it.
  const std::uint32_t top = rd32(ws, hdr::HeapTop);
  const std::uint32_t source = (rd32(ws, hdr::StackPointer) - kReserve - length) & ~3u;
  const std::uint32_t table = top + array_header_bytes(1);
  std::uint32_t item = table + 4 * lines;
  if (rd32(ws, hdr::StackPointer) < std::uint64_t(kReserve) + length || source < item) ws_full(ws);
  std::memmove(ws + source, ws + origin, length);
  std::uint32_t i = 0;
  for (std::uint32_t start = source, p = source; p <= source + length; ++p) {
    if (p < source + length && rd8(ws, p) != kCarriageReturn) continue;
    const std::uint32_t n = p - start;
    if (n != 0) {
      const std::uint32_t size = (array_header_bytes(1) + n + 3) & ~3u;
      if (std::uint64_t(item) + size > start) ws_full(ws);
      std::memmove(ws + item + array_header_bytes(1), ws + start, n);
      write_char_vector_header(item, n, ws);
      wr32(ws, table + 4 * i++, item - top);
      item += size;
    }
    start = p + 1;
  }
  const std::uint32_t a = getspc(item - top - 8, ws);
  if (a != top) ZEMA_SYSTEM_ERROR(ws);
  wr8(ws, a + obj::Type, ET_NESTED);
  wr8(ws, a + obj::Flags9, 0);
  wr16(ws, a + obj::Rank4, 4);
  wr32(ws, a + obj::Shape, lines);
  push_result(a, ws);
}

// A character's internal code, for the glyphs written below.
std::uint8_t glyph(const char* utf8) { return static_cast<std::uint8_t>(utf8_to_internal(utf8)[0]); }

}  // namespace

void push_class_transfer_text(std::uint16_t token, Ws ws) {
  force_gcol(ws);
  const std::uint32_t cls = class_def_from_symidx(token, ws);
  if (cls == 0) return push_result(new_char_vector({}, ws), ws);
  const std::uint32_t origin = capture_origin(1, ws);
  const std::uint32_t length = capture_class(token, rd32(ws, cls + pobj::OwnSlot), origin, ws);
  // The head, then the lines: the whole measured before it is written.
  std::string head;
  head += static_cast<char>(glyph("F"));
  head += symbol_name(entry_of_token(token), ws);
  head += static_cast<char>(kBlank);
  head += utf8_to_internal("⎕FX");
  std::uint64_t total = head.size();
  std::uint32_t run = 0;
  for (std::uint32_t p = origin; p <= origin + length; ++p) {
    if (p == origin + length || rd8(ws, p) == kCarriageReturn) {
      if (run != 0) total += 3;  // a blank and two quotes
      run = 0;
      continue;
    }
    ++run;
    total += rd8(ws, p) == kQuote ? 2 : 1;
  }
  // The lines move to the top of the free gap; the text is written from
  // the capture's origin up, ending below them.
  const std::uint32_t sp = rd32(ws, hdr::StackPointer);
  if (std::uint64_t(sp) < std::uint64_t(kReserve) + length) ws_full(ws);
  const std::uint32_t source = sp - kReserve - length;
  if (origin + total > source) ws_full(ws);
  std::memmove(ws + source, ws + origin, length);
  std::uint32_t out = origin;
  std::memcpy(ws + out, head.data(), head.size());
  out += static_cast<std::uint32_t>(head.size());
  for (std::uint32_t start = source, p = source; p <= source + length; ++p) {
    if (p < source + length && rd8(ws, p) != kCarriageReturn) continue;
    if (p != start) {
      wr8(ws, out++, kBlank);
      wr8(ws, out++, kQuote);
      for (std::uint32_t q = start; q < p; ++q) {
        const std::uint8_t c = rd8(ws, q);
        wr8(ws, out++, c);
        if (c == kQuote) wr8(ws, out++, c);
      }
      wr8(ws, out++, kQuote);
    }
    start = p + 1;
  }
  const auto n = static_cast<std::uint32_t>(total);
  push_result(captured_array(1, &n, ws), ws);
}

void sfcr_class(std::uint16_t token, int form, Ws ws) {
  if (form == -2) return push_result(new_char_vector({}, ws), ws);
  if (form < 0 || form > 2) noncer_1(ws);
  force_gcol(ws);
  const std::uint32_t cls = class_def_from_symidx(token, ws);
  if (cls == 0) {
    push_result(form == 0 ? new_char_matrix(0, 0, {}, ws) : new_char_vector({}, ws), ws);
    return;
  }
  const std::uint32_t slot = rd32(ws, cls + pobj::OwnSlot);
  if (form == 0) return push_matrix(token, slot, ws);
  if (form == 2) return push_lines(token, slot, ws);
  const std::uint32_t origin = capture_origin(1, ws);
  const std::uint32_t length = capture_class(token, slot, origin, ws);
  push_result(captured_array(1, &length, ws), ws);
}

bool get_class_text_form(std::uint16_t token, const std::uint8_t** text, std::uint32_t* length, Ws ws) {
  force_gcol(ws);
  const std::uint32_t cls = class_def_from_symidx(token, ws);
  if (cls == 0) return false;
  const std::uint32_t slot = rd32(ws, cls + pobj::OwnSlot);
  const std::uint32_t origin = capture_origin(1, ws);
  *length = capture_class(token, slot, origin, ws);
  *text = ws + origin;
  return true;
}

}  // namespace zema
