// ⎕FX ⎕CR ⎕EX ⎕NA: defined functions from text and as text, and erasure.
#include "interpreter/sysfns/definitions.h"

#include <cstring>
#include <string>

#include "host/charset.h"

#include "interpreter/engine/function_object.h"
#include "interpreter/output/display.h"
#include "interpreter/reader/entry_errors.h"
#include "interpreter/reader/tokeniser.h"
#include "interpreter/sysfns/capture.h"
#include "interpreter/sysfns/class_text.h"
#include "interpreter/sysfns/handlers.h"
#include "interpreter/sysfns/names.h"
#include "interpreter/workspace/arrays.h"
#include "interpreter/workspace/errors.h"
#include "interpreter/workspace/heap.h"
#include "interpreter/workspace/stack.h"
#include "interpreter/workspace/symtab.h"
#include "interpreter/workspace/sysvar_slots.h"

namespace zema {

namespace {

// Header byte 1 of a function declared by ⎕NA.
constexpr std::uint8_t kExternalMark = 0x20;

// Everything of the session a fix changes, put back when it ends.
class FixState {
 public:
  explicit FixState(Ws ws)
      : ws_(ws),
        et_major_(rd16(ws, hdr::EtMajor)),
        et_minor_(rd16(ws, hdr::EtMinor)),
        code_(rd16(ws, hdr::ErrorCode)),
        number_(rd32(ws, hdr::ErrorNumber)),
        text_(line_text_start(ws)) {
    set_state(st::FixingText, 0, ws);
  }
  // An APL error passing through keeps the report it has recorded.
  void keep_error() { keep_error_ = true; }
  ~FixState() {
    set_state(0, st::FixingText | st::Defining, ws_);
    wr16(ws_, hdr::LexState, 0);
    set_line_text_start(text_, ws_);
    if (keep_error_) return;
    wr16(ws_, hdr::EtMajor, et_major_);
    wr16(ws_, hdr::EtMinor, et_minor_);
    wr16(ws_, hdr::ErrorCode, code_);
    wr32(ws_, hdr::ErrorNumber, number_);
  }
  FixState(const FixState&) = delete;
  FixState& operator=(const FixState&) = delete;

 private:
  Ws ws_;
  std::uint16_t et_major_, et_minor_, code_;
  std::uint32_t number_;
  const std::uint8_t* text_;
  bool keep_error_ = false;
};

// For a line "Name … {}" (blanks allowed), copies the leading name to
// `name` and answers its length; 0 for any other line.
std::uint32_t empty_class_header(const std::uint8_t* text, std::uint32_t n, std::uint8_t* name) {
  static const auto left_brace = static_cast<std::uint8_t>(utf8_to_internal("{")[0]);
  static const auto right_brace = static_cast<std::uint8_t>(utf8_to_internal("}")[0]);
  std::uint32_t end = n;
  while (end > 0 && is_blank(text[end - 1])) --end;
  if (end == 0 || text[end - 1] != right_brace) return 0;
  --end;
  while (end > 0 && is_blank(text[end - 1])) --end;
  if (end == 0 || text[end - 1] != left_brace) return 0;
  std::uint32_t k = 0;
  while (k < n && is_blank(text[k])) ++k;
  std::uint32_t length = 0;
  for (; k < n && name_char(text[k]); ++k)
    if (length < kMaxNameLength) name[length++] = text[k];
  return length;
}

// The name's previous value, set aside, goes back to its entry.
void put_back_aside(Ws ws) {
  if (const std::uint32_t entry = rd32(ws, oldfn::Entry)) {
    const std::uint32_t old = rd32(ws, oldfn::Value);
    wr32(ws, entry + sym::Value, old);
    wr8(ws, entry + sym::Type, rd8(ws, oldfn::Type));
    if (old) set_owner(old, entry, OK_SYMBOL, ws);
    wr32(ws, oldfn::Value, 0);
    wr32(ws, oldfn::Entry, 0);
  }
}

// A failed fix: the partial definition is taken from its name and freed,
// and the name's previous value (a function the definition code set aside,
// or a variable fix_definition did) is put back.
void undo_fix(Ws ws) {
  std::uint32_t partial = 0;
  if (state_has(st::Defining, ws)) {
    const std::uint32_t entry = rd32(ws, hdr::DefEntry);
    partial = rd32(ws, entry + sym::Value);
    wr32(ws, entry + sym::Value, 0);
    wr8(ws, entry + sym::Type, (rd8(ws, entry + sym::Type) & kSymLocalFlag) | SYM_UNDEF);
    set_state(0, st::Defining, ws);
  }
  put_back_aside(ws);
  erasfn(partial, ws);
}

// Sets the variable at the symbol entry aside, as the definition code sets
// a function aside, so that a fix may replace it.
void set_variable_aside(std::uint32_t entry, Ws ws) {
  const std::uint8_t type_byte = rd8(ws, entry + sym::Type);
  if ((type_byte & kSymTypeMask) != SYM_VAR) return;
  const std::uint32_t value = rd32(ws, entry + sym::Value);
  wr32(ws, oldfn::Value, value);
  if (value) set_owner(value, oldfn::Value, OK_WORD, ws);
  wr32(ws, oldfn::Entry, entry);
  wr8(ws, oldfn::Type, type_byte);
  wr32(ws, entry + sym::Value, 0);
  wr8(ws, entry + sym::Type, (type_byte & kSymLocalFlag) | SYM_UNDEF);
}

// Frees the previous value a successful fix replaced.
void drop_old_value(Ws ws) {
  const std::uint32_t entry = rd32(ws, oldfn::Entry);
  if (entry == 0) return;
  const std::uint32_t old = rd32(ws, oldfn::Value);
  const std::uint8_t type = rd8(ws, oldfn::Type);
  wr32(ws, oldfn::Value, 0);
  wr32(ws, oldfn::Entry, 0);
  if (defined_function_type(type & kSymTypeMask)) {
    erasfn(old, ws);
  } else {
    // A variable: its value counted a use of the name.
    mgarb(old, ws);
    if (!(type & kSymLocalFlag)) clnus2(entry, ws);
  }
}

}  // namespace

// ---- fixing ---------------------------------------------------------------------------

int fix_definition(FixSource& source, bool lock, std::uint32_t replace_variable, std::uint32_t* entry, Ws ws) {
  LexRoutes& routes = lex_routes();
  if (!routes.dfnent || !routes.dfnend) noncer_1(ws);
  if (rd32(ws, hdr::KillSlot) != 0) ZEMA_SYSTEM_ERROR(ws);
  wr32(ws, oldfn::Value, 0);
  wr32(ws, oldfn::Entry, 0);
  int failing = -1;
  bool class_text = false;  // line 0 opened class-definition mode
  {
    FixState state(ws);
    wr16(ws, hdr::LexState, lexst::Opened);
    try {
      if (replace_variable) set_variable_aside(replace_variable, ws);
      for (std::uint32_t i = 0;; ++i) {
        // No garbage below the line's text: the tokeniser then has no
        // cause to compact, which would move the text it reads.
        if (rd32(ws, hdr::Garbage) != 0) force_gcol(ws);
        const std::uint8_t* text = nullptr;
        std::uint32_t n = 0;
        if (!source.line(i, &text, &n, ws)) {
          if (!source.ended_well() || i == 0) failing = static_cast<int>(i);
          break;
        }
        if (i == 0) {
          std::uint32_t k = 0;
          while (k < n && is_blank(text[k])) ++k;
          if (k == n) {
            failing = 0;
            break;
          }
        }
        if (class_text && rd32(ws, hdr::ClassDefining) == 0) {
          // After the closing brace only blank lines may follow.
          std::uint32_t k = 0;
          while (k < n && is_blank(text[k])) ++k;
          if (k == n) continue;
          failing = static_cast<int>(i);
          break;
        }
        // A one-line class header "Name {}" leaves no mode open: its name is
        // kept (the text may move) to find the class afterwards.
        std::uint8_t empty_class[kMaxNameLength];
        std::uint32_t empty_class_length = 0;
        if (i == 0) empty_class_length = empty_class_header(text, n, empty_class);
        int answer = lr::Nothing;
        try {
          answer = lexcal(text, n, ws);
        } catch (const EntryAbandoned&) {
          failing = static_cast<int>(i);
          break;
        }
        if (class_text && answer != lr::Nothing) {
          clrkil(ws);
          failing = static_cast<int>(i);
          break;
        }
        if (i == 0 && !state_has(st::Defining, ws)) {
          // A class header opens class-definition mode instead.
          if (rd32(ws, hdr::ClassDefining) != 0 && routes.class_close) {
            class_text = true;
            *entry = entry_of_token(rd16(ws, hdr::ClassWord));
            continue;
          }
          const NameRef made = look_up_name(empty_class, empty_class_length, ws);
          if (empty_class_length != 0 && made.kind == NameKind::Found && made.type == SYM_CLASS) {
            class_text = true;
            *entry = made.entry;
            continue;
          }
          failing = 0;
          break;
        }
      }
      if (class_text) {
        // The class is kept as far as it was built; the mode ends here.
        if (rd32(ws, hdr::ClassDefining) != 0) {
          if (state_has(st::Defining, ws)) undo_fix(ws);
          routes.class_close(ws);
        }
      } else if (failing < 0) {
        *entry = rd32(ws, hdr::DefEntry);
        if (lock) wr16(ws, hdr::LexState, rd16(ws, hdr::LexState) | lexst::Locked);
        routes.dfnend(ws);
        // A variable set aside for a function of another name stays.
        if (rd32(ws, oldfn::Entry) != *entry) put_back_aside(ws);
        drop_old_value(ws);
      } else {
        undo_fix(ws);
      }
    } catch (...) {
      state.keep_error();
      undo_fix(ws);
      if (class_text && rd32(ws, hdr::ClassDefining) != 0) routes.class_close(ws);
      throw;
    }
  }
  return failing;
}

// ---- listing ------------------------------------------------------------------------

std::uint32_t function_line_count(std::uint32_t header, Ws ws) {
  std::uint32_t n = 0;
  for (std::uint32_t l = header; l; l = rd32(ws, l + fnl::Next)) ++n;
  return n;
}

std::uint32_t function_line(std::uint32_t header, std::uint32_t i, Ws ws) {
  std::uint32_t l = header;
  for (; l && i; --i) l = rd32(ws, l + fnl::Next);
  return l;
}

std::uint32_t capture_function_line(std::uint32_t line, Ws ws) {
  const std::uint32_t start = rd32(ws, hdr::CaptureAddress);
  ldis(line, ws);
  return rd32(ws, hdr::CaptureAddress) - start;
}

std::uint32_t function_width(std::uint32_t entry, Ws ws) {
  const std::uint32_t at = rd32(ws, hdr::CaptureAddress);
  std::uint32_t width = 0;
  for (std::uint32_t l = rd32(ws, entry + sym::Value); l; l = rd32(ws, l + fnl::Next)) {
    const std::uint32_t n = capture_function_line(l, ws);
    wr32(ws, hdr::CaptureAddress, at);
    if (n > width) width = n;
  }
  return width;
}

namespace {

// ---- ⎕FX's argument as lines ----

// A character matrix, one line a row.
class MatrixLines : public FixSource {
 public:
  explicit MatrixLines(SfArg arg) : arg_(arg) {}
  bool line(std::uint32_t i, const std::uint8_t** text, std::uint32_t* n, Ws ws) override {
    const std::uint32_t a = arg_.array(ws);
    if (i >= array_axis(a, 0, ws)) return false;
    *n = array_axis(a, 1, ws);
    *text = ws + array_data(a, ws) + std::uint64_t(i) * *n;
    return true;
  }

 private:
  SfArg arg_;
};

// A character vector, lines separated by carriage returns. Lines are asked
// for in order: the next one starts where the last ended.
class VectorLines : public FixSource {
 public:
  explicit VectorLines(SfArg arg) : arg_(arg) {}
  bool line(std::uint32_t, const std::uint8_t** text, std::uint32_t* n, Ws ws) override {
    const std::uint32_t a = arg_.array(ws);
    const std::uint32_t count = array_count(a, ws);
    if (next_ > count) return false;
    const std::uint8_t* data = ws + array_data(a, ws);
    std::uint32_t end = next_;
    while (end < count && data[end] != kCarriageReturn) ++end;
    *text = data + next_;
    *n = end - next_;
    next_ = end + 1;
    return true;
  }

 private:
  SfArg arg_;
  std::uint32_t next_ = 0;
};

// A nested vector: each item a character scalar or vector.
class ItemLines : public FixSource {
 public:
  explicit ItemLines(SfArg arg) : arg_(arg) {}
  bool line(std::uint32_t i, const std::uint8_t** text, std::uint32_t* n, Ws ws) override {
    const std::uint32_t a = arg_.array(ws);
    if (i >= array_count(a, ws)) return false;
    const std::uint32_t item = a + rd32(ws, array_data(a, ws) + 4 * i);
    if (array_type(item, ws) != ET_CHAR || array_rank(item, ws) > 1) {
      bad_ = true;
      return false;
    }
    *text = ws + array_data(item, ws);
    *n = array_count(item, ws);
    return true;
  }
  bool ended_well() const override { return !bad_; }

 private:
  SfArg arg_;
  bool bad_ = false;
};

void push_name(std::uint32_t entry, Ws ws) {
  const std::string name = symbol_name(entry, ws);
  push_result(new_char_vector(name, ws), ws);
}

void sffx_common(SfArg right, bool lock, Ws ws) {
  const std::uint32_t a = right.array(ws);
  const std::uint8_t type = array_type(a, ws);
  const std::uint32_t rank = array_rank(a, ws);
  const bool nested = type == ET_NESTED;
  if (nested) {
    if (rank > 1) ranker(ws);
  } else {
    if (type != ET_CHAR && array_count(a, ws) != 0) domner(ws);
    if (rank == 0 || rank > 2) ranker(ws);
  }
  if (array_count(a, ws) == 0) {
    push_result(new_int_scalar(quad_io(ws), ws), ws);
    return;
  }
  MatrixLines matrix(right);
  VectorLines vector(right);
  ItemLines items(right);
  FixSource& source = nested ? static_cast<FixSource&>(items)
                             : rank == 2 ? static_cast<FixSource&>(matrix) : static_cast<FixSource&>(vector);
  std::uint32_t entry = 0;
  const int failing = fix_definition(source, lock, 0, &entry, ws);
  if (failing >= 0) {
    push_result(new_int_scalar(quad_io(ws) + failing, ws), ws);
    return;
  }
  push_name(entry, ws);
}

// The left argument of dyadic ⎕FX, ⎕CR and ⎕TF: a single number (DOMAIN
// ERROR for characters, RANK ERROR for more than one item; ⎕FX also takes a
// vector of 4, LENGTH ERROR otherwise); answers it (DOMAIN ERROR for a
// number that is not a whole one).
std::int32_t single_integer(SfArg left, bool four_allowed, Ws ws) {
  const std::uint32_t a = left.array(ws);
  const std::uint8_t type = array_type(a, ws);
  if (!is_numeric_type(type)) domner(ws);
  const std::uint32_t rank = array_rank(a, ws);
  const std::uint32_t count = array_count(a, ws);
  if (four_allowed) {
    if (rank > 1) ranker(ws);
    if (count != 1 && count != 4) lener(ws);
  } else if (count != 1) {
    ranker(ws);
  }
  const std::uint32_t data = array_data(a, ws);
  if (type == ET_BOOL) return static_cast<std::int32_t>(rd32(ws, data) >> 31);
  if (type == ET_INT) return rdi32(ws, data);
  double d;
  std::memcpy(&d, ws + data, 8);
  if (!(d >= -2147483648.0 && d <= 2147483647.0) || d != static_cast<double>(static_cast<std::int32_t>(d))) domner(ws);
  return static_cast<std::int32_t>(d);
}

// ---- ⎕CR ----

// The function a ⎕CR or ⎕TF argument names, 0 when none (a locked one
// included).
std::uint32_t named_function(const std::uint8_t* text, std::uint32_t n, Ws ws) {
  const NameRef ref = look_up_name(text, n, ws);
  if (ref.kind != NameKind::Found || !defined_function_type(ref.type)) return 0;
  const std::uint32_t header = rd32(ws, ref.entry + sym::Value);
  if (header == 0 || (rd8(ws, header + fnl::Marks) & fnmark::Locked)) return 0;
  return ref.entry;
}

void push_empty_cr(int form, Ws ws) {
  if (form == 0) {
    push_result(new_char_matrix(0, 0, {}, ws), ws);
  } else {
    push_result(new_char_vector({}, ws), ws);
  }
}

// Form 0: the matrix of lines. Form 1: one vector, the lines separated by
// carriage returns.
void cr_text(std::uint32_t entry, int form, Ws ws) {
  const std::uint32_t rank = form == 0 ? 2 : 1;
  const std::uint32_t origin = capture_origin(rank, ws);
  TextCapture capture(origin, ws);
  const std::uint32_t header = rd32(ws, entry + sym::Value);
  const std::uint32_t lines = function_line_count(header, ws);
  const std::uint32_t width = form == 0 ? function_width(entry, ws) : 0;
  for (std::uint32_t l = header; l; l = rd32(ws, l + fnl::Next)) {
    if (form == 1 && l != header) capture.store_return();
    const std::uint32_t n = capture_function_line(l, ws);
    for (std::uint32_t k = n; k < width; ++k) cdisp(kBlank, ws);
  }
  const std::uint32_t total = capture.cursor() - origin;
  const std::uint32_t shape[2] = {form == 0 ? lines : total, width};
  push_result(captured_array(rank, shape, ws), ws);
}

// Form 2: a vector of character vectors, one per line, built in place.
void cr_lines(std::uint32_t entry, Ws ws) {
  force_gcol(ws);
  const std::uint32_t top = rd32(ws, hdr::HeapTop);
  const std::uint32_t lines = function_line_count(rd32(ws, entry + sym::Value), ws);
  const std::uint32_t table = top + array_header_bytes(1);
  std::uint32_t item = table + 4 * lines;
  if (std::uint64_t(item) + 256 > rd32(ws, hdr::StackPointer)) ws_full(ws);
  {
    TextCapture capture(item + array_header_bytes(1), ws);
    std::uint32_t i = 0;
    for (std::uint32_t l = rd32(ws, entry + sym::Value); l; l = rd32(ws, l + fnl::Next), ++i) {
      capture.seek(item + array_header_bytes(1));
      const std::uint32_t n = capture_function_line(l, ws);
      const std::uint32_t size = (array_header_bytes(1) + n + 3) & ~3u;
      if (std::uint64_t(item) + size + 256 > rd32(ws, hdr::StackPointer)) ws_full(ws);
      write_char_vector_header(item, n, ws);
      wr32(ws, table + 4 * i, item - top);
      item += size;
    }
  }
  const std::uint32_t a = getspc(item - top - 8, ws);
  if (a != top) ZEMA_SYSTEM_ERROR(ws);
  wr8(ws, a + obj::Type, ET_NESTED);
  wr8(ws, a + obj::Flags9, 0);
  wr16(ws, a + obj::Rank4, 4);
  wr32(ws, a + obj::Shape, lines);
  push_result(a, ws);
}

void sfcr_common(SfArg right, int form, Ws ws) {
  const std::uint32_t a = right.array(ws);
  if (array_rank(a, ws) > 1) ranker(ws);
  if (array_type(a, ws) != ET_CHAR || array_count(a, ws) == 0) {
    push_empty_cr(form, ws);
    return;
  }
  const NameRef ref = look_up_name(ws + array_data(a, ws), array_count(a, ws), ws);
  if (ref.kind == NameKind::Found && ref.type == SYM_CLASS)
    return sfcr_class(static_cast<std::uint16_t>(token_of_entry(ref.entry)), form, ws);
  const std::uint32_t entry = named_function(ws + array_data(a, ws), array_count(a, ws), ws);
  if (entry == 0) {
    push_empty_cr(form, ws);
    return;
  }
  if (form == 2) {
    cr_lines(entry, ws);
  } else {
    cr_text(entry, form, ws);
  }
}

// ---- ⎕NA ----

// Two lines held in host strings of bounded length (⎕NA's name and
// description are at most 512 characters).
class TwoLines : public FixSource {
 public:
  TwoLines(std::string first, std::string second) : lines_{std::move(first), std::move(second)} {}
  bool line(std::uint32_t i, const std::uint8_t** text, std::uint32_t* n, Ws) override {
    if (i >= 2) return false;
    *text = reinterpret_cast<const std::uint8_t*>(lines_[i].data());
    *n = static_cast<std::uint32_t>(lines_[i].size());
    return true;
  }

 private:
  std::string lines_[2];
};

constexpr std::uint32_t kMaxDeclaration = 512;

// Declares the external function `name` (internal characters) described
// by `description`: a locked function marked external whose one line is
// the description as a comment; monadic when `monadic`, with a result when
// `result`.
void declare_external(const std::string& name, const std::string& description, bool monadic, bool result, Ws ws) {
  const NameRef ref = look_up_name(reinterpret_cast<const std::uint8_t*>(name.data()),
                                   static_cast<std::uint32_t>(name.size()), ws);
  if (ref.kind != NameKind::Found && ref.kind != NameKind::Unknown) domner(ws);
  if (name[0] == static_cast<char>(kQuadChar)) domner(ws);
  if (description.size() >= kMaxDeclaration) domner(ws);
  std::string header;
  if (result) header += utf8_to_internal("Z←");
  header += name;
  if (monadic) header += utf8_to_internal(" R");
  TwoLines lines(header, utf8_to_internal("⍝") + description);
  const std::uint32_t variable = ref.kind == NameKind::Found && ref.type == SYM_VAR ? ref.entry : 0;
  std::uint32_t entry = 0;
  if (fix_definition(lines, true, variable, &entry, ws) >= 0) domner(ws);
  const std::uint32_t fn = rd32(ws, entry + sym::Value);
  wr8(ws, fn + fnl::Marks, rd8(ws, fn + fnl::Marks) | kExternalMark);
  push_result(new_char_matrix(0, 0, {}, ws), ws);
}

std::string chars_of(std::uint32_t a, Ws ws) {
  return std::string(reinterpret_cast<const char*>(ws + array_data(a, ws)), array_count(a, ws));
}

// The description's facts: after its first "|", the name up to a blank and
// whether anything but blanks follows it; whether a blank comes before the
// "|".
struct Description {
  std::size_t bar = std::string::npos;
  std::string name;
  bool more = false;
  bool result = false;
};
Description read_description(const std::string& d) {
  Description r;
  r.bar = d.find(static_cast<char>(utf8_to_internal("|")[0]));
  if (r.bar == std::string::npos) return r;
  std::size_t i = r.bar + 1;
  while (i < d.size() && !is_blank(static_cast<std::uint8_t>(d[i]))) r.name.push_back(d[i++]);
  for (; i < d.size(); ++i)
    if (!is_blank(static_cast<std::uint8_t>(d[i]))) r.more = true;
  for (std::size_t k = 0; k < r.bar; ++k)
    if (is_blank(static_cast<std::uint8_t>(d[k]))) r.result = true;
  return r;
}

}  // namespace

// ---- handlers -----------------------------------------------------------------------

void sffx_monadic(SfArg right, Ws ws) { sffx_common(right, false, ws); }

void sffx_dyadic(SfArg left, SfArg right, Ws ws) {
  const std::int32_t lock = single_integer(left, true, ws);
  if (lock != 0 && lock != 1) domner(ws);
  sffx_common(right, lock == 1, ws);
}

void sfcr_monadic(SfArg right, Ws ws) { sfcr_common(right, 0, ws); }

void sfcr_dyadic(SfArg left, SfArg right, Ws ws) {
  const std::int32_t form = single_integer(left, false, ws);
  if (form < 0 || form > 2) domner(ws);
  sfcr_common(right, form, ws);
}

void sfna_monadic(SfArg right, Ws ws) {
  const std::uint32_t a = right.array(ws);
  if (array_type(a, ws) != ET_CHAR) domner(ws);
  if (array_rank(a, ws) != 1) ranker(ws);
  if (array_count(a, ws) >= kMaxDeclaration) domner(ws);
  const std::string d = chars_of(a, ws);
  const Description r = read_description(d);
  if (r.bar == std::string::npos || r.name.empty()) domner(ws);
  declare_external(r.name, d, r.more, r.result, ws);
}

void sfna_dyadic(SfArg left, SfArg right, Ws ws) {
  const std::uint32_t l = left.array(ws);
  const std::uint32_t a = right.array(ws);
  if (array_type(l, ws) != ET_CHAR || array_type(a, ws) != ET_CHAR || array_rank(l, ws) != 1) domner(ws);
  if (array_rank(a, ws) > 1) ranker(ws);
  if (array_count(l, ws) > kMaxDeclaration || array_count(a, ws) >= kMaxDeclaration) domner(ws);
  std::string name = chars_of(l, ws);
  std::size_t k = 0;
  while (k < name.size() && is_blank(static_cast<std::uint8_t>(name[k]))) ++k;
  name.erase(0, k);
  const std::size_t blank = name.find(' ');
  if (blank != std::string::npos) name.resize(blank);
  if (name.empty()) domner(ws);
  const std::string d = chars_of(a, ws);
  const Description r = read_description(d);
  if (r.bar == std::string::npos) domner(ws);
  declare_external(name, d, !r.name.empty() && r.more, r.result, ws);
}

void sfex_monadic(SfArg right, Ws ws) {
  const NameRows rows = name_rows(right, ws);
  // First every row's symbol entry (0 for none), in an integer vector that
  // becomes the result; then the erasures, which may free the argument.
  const std::uint32_t shape = rows.rows;
  const std::uint32_t z = new_array(ET_INT, 1, &shape, ws);
  push_result(z, ws);
  for (std::uint32_t i = 0; i < rows.rows; ++i) {
    const NameRef ref = look_up_name(name_row(right, rows, i, ws), rows.columns, ws);
    const std::uint32_t result = rd32(ws, stack_entry_at(0, ws) + se::Value);
    wr32(ws, array_data(result, ws) + 4 * i, ref.kind == NameKind::Found ? ref.entry : 0);
  }
  for (std::uint32_t i = 0; i < rows.rows; ++i) {
    const std::uint32_t at = array_data(rd32(ws, stack_entry_at(0, ws) + se::Value), ws) + 4 * i;
    const std::uint32_t entry = rd32(ws, at);
    wr32(ws, at, entry && erase_object(entry, ws) ? 1 : 0);
  }
  // The answer as booleans.
  const std::uint32_t b = new_array(ET_BOOL, 1, &shape, ws);
  const std::uint32_t ints = array_data(rd32(ws, stack_entry_at(0, ws) + se::Value), ws);
  for (std::uint32_t i = 0; i < rows.rows; ++i)
    if (rd32(ws, ints + 4 * i)) {
      const std::uint32_t w = array_data(b, ws) + 4 * (i / 32);
      wr32(ws, w, rd32(ws, w) | (0x80000000u >> (i % 32)));
    }
  StackEntry top = load_entry(stack_entry_at(0, ws), ws);
  top.value = b;
  settle_entry(stack_entry_at(0, ws), top, ws);
}

}  // namespace zema
