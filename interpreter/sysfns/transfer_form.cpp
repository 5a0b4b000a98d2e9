// ⎕TF: the transfer forms of a named object, and objects defined from
// them.
//
// Form 1: a variable is its kind letter (C or N), name, rank, axis lengths
// and elements ("NX 1 3 1 2 3"); a function is F, its name, 2, the rows and
// columns of its canonical matrix and the matrix's characters. Form 2: a
// variable is an expression that rebuilds it ("X←2 3⍴'ABCDEF'"), a function
// the ⎕FX of its lines in quotes.
//
// Defining replaces the name's object only when the new one is complete: a
// text that cannot be read, a function that cannot be fixed, leaves the
// old object as it was. Form-2 texts the writers make are read by their
// own grammar (the value writer's numbers, quoted characters, shape
// prefixes "S⍴", ⊂ and parenthesised items; ⎕FX of quoted lines); any
// other expression runs as ⎕EC runs its text (an evaluation level of kind
// evk::TransferForm, whose end gives ⎕TF's result).
#include <cstring>
#include <string>

#include "host/charset.h"
#include "interpreter/engine/evaluation.h"
#include "interpreter/engine/function_object.h"
#include "interpreter/engine/sysvars.h"
#include "interpreter/output/display.h"
#include "interpreter/output/show.h"
#include "interpreter/reader/numlit.h"
#include "interpreter/reader/tokeniser.h"
#include "interpreter/sysfns/capture.h"
#include "interpreter/sysfns/class_text.h"
#include "interpreter/sysfns/definitions.h"
#include "interpreter/sysfns/handlers.h"
#include "interpreter/sysfns/names.h"
#include "interpreter/sysfns/value_text.h"
#include "interpreter/workspace/arrays.h"
#include "interpreter/workspace/entry.h"
#include "interpreter/workspace/errors.h"
#include "interpreter/workspace/heap.h"
#include "interpreter/workspace/stack.h"
#include "interpreter/workspace/symtab.h"
#include "interpreter/workspace/sysvar_slots.h"

namespace zema {

namespace {

// Internal codes of the glyphs the forms use.
std::uint8_t glyph(const char* utf8) { return static_cast<std::uint8_t>(utf8_to_internal(utf8)[0]); }
const std::uint8_t kArrow = glyph("←");
const std::uint8_t kRho = glyph("⍴");
const std::uint8_t kEnclose = glyph("⊂");
const std::uint8_t kLeftParen = glyph("(");
const std::uint8_t kRightParen = glyph(")");
const std::uint8_t kLetterC = glyph("C");
const std::uint8_t kLetterN = glyph("N");
const std::uint8_t kLetterF = glyph("F");
const std::uint8_t kDigit2 = glyph("2");

constexpr std::uint32_t kMaxRank = 63;
constexpr std::uint32_t kFreeNeeded = 500;

void print(std::string_view internal, Ws ws) { ldprt(internal, ws); }

// Inside a transfer file's reading or writing ()IN, )OUT): simple values
// take form 1 and nested ones form 2, form-2 texts carry a kind letter (A
// a variable, F and the name a function), and a form-2 text that cannot
// be taken abandons the transfer.
bool in_transfer(Ws ws) { return rd8(ws, hdr::ResultBits) & kTransferFile; }

// Transfer mode switched off for a scope, and back on at its end however
// it is left.
class TransferModeAside {
 public:
  explicit TransferModeAside(Ws ws) : ws_(ws), on_(in_transfer(ws)) {
    wr8(ws, hdr::ResultBits, rd8(ws, hdr::ResultBits) & ~kTransferFile);
  }
  ~TransferModeAside() {
    if (on_) wr8(ws_, hdr::ResultBits, rd8(ws_, hdr::ResultBits) | kTransferFile);
  }
  TransferModeAside(const TransferModeAside&) = delete;
  TransferModeAside& operator=(const TransferModeAside&) = delete;

 private:
  Ws ws_;
  bool on_;
};

// A form-2 text inside a transfer that cannot be taken: DATA DAMAGED.
[[noreturn]] void unreadable(Ws ws) {
  int major = 0, minor = 0;
  et_tab_pair(ertabn(E_DATA_DAMAGED), &major, &minor);
  error(E_DATA_DAMAGED, major, minor, ws);
}
void print_number(std::uint32_t n, Ws ws) { print(utf8_to_internal(std::to_string(n)), ws); }

// The argument's text: re-read after anything that may compact.
struct Text {
  SfArg arg;
  std::uint32_t length = 0;
  const std::uint8_t* at(Ws ws) const { return ws + array_data(arg.array(ws), ws); }
};

// ---- results ----

void push_empty(Ws ws) { push_result(new_char_vector({}, ws), ws); }

// Replaces the object of the result entry on top by `a` (the old one is
// released unless `keep`, when it has been handed on).
void replace_result(std::uint32_t a, bool keep, Ws ws) {
  const std::uint32_t top = stack_entry_at(0, ws);
  StackEntry e = load_entry(top, ws);
  if (keep) store_entry(top, StackEntry{static_cast<std::uint8_t>(e.cls & ~kOwnsObject), e.flags, 0}, ws);
  e.cls |= kOwnsObject;
  e.value = a;
  settle_entry(top, e, ws);
}

// ---- assignment ----

// Makes the value held by the result entry on top the value of the name
// in `text` [start, start + n): the old object is erased only now that
// the new one is whole. Answers false (nothing changed) when the name is
// no valid name or its object cannot be erased.
bool assign_value(const Text& text, std::uint32_t start, std::uint32_t n, Ws ws) {
  NameRef ref = look_up_name(text.at(ws) + start, n, ws);
  const std::uint32_t slot = stack_entry_at(0, ws) + se::Value;
  if (ref.kind == NameKind::Found && ref.type == SYM_SYSVAR) {
    const auto index = static_cast<int>(token_of_entry(ref.entry) / 2);
    assign_system_variable(index, slot, ws);
    replace_result(new_char_vector(symbol_name(ref.entry, ws), ws), false, ws);
    return true;
  }
  if (ref.kind != NameKind::Found && ref.kind != NameKind::Unknown) return false;
  if (text.at(ws)[start + ref.start] == kQuadChar) return false;
  if (ref.kind == NameKind::Found && ref.type != SYM_UNDEF && !erase_object(ref.entry, ws)) return false;
  // The entry again: an erasure may have given it up.
  ref = look_up_name(text.at(ws) + start, n, ws);
  std::uint32_t entry = ref.entry;
  if (ref.kind != NameKind::Found) {
    entry = enter_buffer_name(ref.length, ws);
  }
  const std::uint8_t type_byte = rd8(ws, entry + sym::Type);
  const std::uint32_t value = rd32(ws, slot);
  wr32(ws, entry + sym::Value, value);
  wr8(ws, entry + sym::Type, (type_byte & kSymLocalFlag) | SYM_VAR);
  if (!(type_byte & kSymLocalFlag)) wr16(ws, entry + sym::Uses, rd16(ws, entry + sym::Uses) + 1);
  set_owner(value, entry, OK_SYMBOL, ws);
  const std::string name = symbol_name(entry, ws);
  replace_result(new_char_vector(name, ws), true, ws);
  return true;
}

// ---- form 1, defining ----

// A non-negative decimal integer at text[i…], up to a blank; answers false
// for anything else.
bool read_count(const std::uint8_t* s, std::uint32_t n, std::uint32_t& i, std::uint64_t& value) {
  value = 0;
  const std::uint32_t from = i;
  while (i < n && cmpdig(s[i])) {
    value = value * 10 + (s[i] - 0x30);
    if (value > 0xFFFFFFFFu) return false;
    ++i;
  }
  if (i == from || (i < n && !is_blank(s[i]))) return false;
  if (i < n) ++i;  // the blank
  return true;
}

// Reads rank and axis lengths; answers false for a malformed text.
bool read_shape(const std::uint8_t* s, std::uint32_t n, std::uint32_t& i, std::uint32_t* rank, std::uint32_t* shape,
                std::uint64_t* count, Ws ws) {
  std::uint64_t r = 0;
  if (!read_count(s, n, i, r)) return false;
  if (r > kMaxRank) limit_error(ws);
  *rank = static_cast<std::uint32_t>(r);
  *count = 1;
  for (std::uint32_t k = 0; k < *rank; ++k) {
    std::uint64_t len = 0;
    if (!read_count(s, n, i, len)) return false;
    shape[k] = static_cast<std::uint32_t>(len);
    *count *= len;
    if (*count > 0x7FFFFFFFu) ws_full(ws);
  }
  return true;
}

// Reads `count` numbers from text[i…] (blanks between them, nothing after
// them but blanks); answers false unless there are exactly that many.
// With `z` (an array of `type`) stores them; else answers the type the
// numbers need.
bool read_numbers(const std::uint8_t* s, std::uint32_t n, std::uint32_t i, std::uint64_t count, std::uint8_t* type,
                  std::uint32_t z, Ws ws) {
  std::uint32_t flags = 0;
  std::uint64_t k = 0;
  std::size_t pos = i;
  for (;;) {
    while (pos < n && is_blank(s[pos])) ++pos;
    if (pos >= n) break;
    if (!cmpnum(s[pos])) return false;
    const ScannedNumber num = scan_one_number(s, n, pos, flags);
    if (!(num.flags & nf::Digit) || (num.flags & nf::Stray) || (pos < n && !is_blank(s[pos]))) return false;
    flags = num.flags;
    if (z) {
      const std::uint32_t data = array_data(z, ws);
      if (*type == ET_FLOAT) {
        std::memcpy(ws + data + 8 * k, &num.value, 8);
      } else if (*type == ET_INT) {
        wr32(ws, data + 4 * static_cast<std::uint32_t>(k), static_cast<std::uint32_t>(static_cast<std::int32_t>(num.value)));
      } else if (num.value != 0) {
        const std::uint32_t w = data + 4 * static_cast<std::uint32_t>(k / 32);
        wr32(ws, w, rd32(ws, w) | (0x80000000u >> (k % 32)));
      }
    }
    if (++k > count) return false;
  }
  if (k != count) return false;
  if (!z) *type = (flags & nf::Float) ? ET_FLOAT : (flags & nf::NotBoolean) ? ET_INT : ET_BOOL;
  return true;
}

// C and N texts: `name` is [1, word end) after the letter.
// True when text[from…] holds only blanks: what follows a form's declared
// characters may be padding, never more data (a form run together with the
// text of another is refused rather than cut to its count).
bool only_blanks_after(const std::uint8_t* s, std::uint32_t length, std::uint64_t from) {
  for (std::uint64_t k = from; k < length; ++k)
    if (!is_blank(s[k])) return false;
  return true;
}

void define_variable(const Text& text, std::uint32_t start, std::uint32_t word_end, Ws ws) {
  const std::uint8_t* s = text.at(ws);
  const bool characters = s[start] == kLetterC;
  if (word_end - start < 2) return push_empty(ws);
  std::uint32_t i = word_end + 1;
  std::uint32_t rank = 0, shape[kMaxRank];
  std::uint64_t count = 0;
  if (!read_shape(s, text.length, i, &rank, shape, &count, ws)) return push_empty(ws);
  std::uint8_t type = ET_CHAR;
  if (characters) {
    if (text.length - i < count || !only_blanks_after(s, text.length, i + count)) return push_empty(ws);
  } else if (!read_numbers(s, text.length, i, count, &type, 0, ws)) {
    return push_empty(ws);
  }
  push_result(new_array(type, rank, shape, ws), ws);
  const std::uint32_t z = rd32(ws, stack_entry_at(0, ws) + se::Value);
  s = text.at(ws);
  if (characters) {
    if (count) std::memcpy(ws + array_data(z, ws), s + i, count);
  } else {
    read_numbers(s, text.length, i, count, &type, z, ws);
  }
  if (!assign_value(text, start + 1, word_end - start - 1, ws)) replace_result(new_char_vector({}, ws), false, ws);
}

// Rows of the text of an F form, as the lines of a definition.
class TextRows : public FixSource {
 public:
  TextRows(const Text& text, std::uint32_t at, std::uint32_t rows, std::uint32_t columns)
      : text_(text), at_(at), rows_(rows), columns_(columns) {}
  bool line(std::uint32_t i, const std::uint8_t** t, std::uint32_t* n, Ws ws) override {
    if (i >= rows_) return false;
    *t = text_.at(ws) + at_ + std::uint64_t(i) * columns_;
    *n = columns_;
    return true;
  }

 private:
  Text text_;
  std::uint32_t at_, rows_, columns_;
};

void define_function_1(const Text& text, std::uint32_t start, std::uint32_t word_end, Ws ws) {
  const std::uint8_t* s = text.at(ws);
  if (word_end - start < 2) return push_empty(ws);
  std::uint32_t i = word_end + 1;
  if (i + 1 >= text.length || s[i] != kDigit2 || !is_blank(s[i + 1])) return push_empty(ws);
  i += 2;
  std::uint64_t rows = 0, columns = 0;
  if (!read_count(s, text.length, i, rows) || !read_count(s, text.length, i, columns)) return push_empty(ws);
  if (rows == 0 || columns == 0 || rows * columns > text.length - i) return push_empty(ws);
  if (!only_blanks_after(s, text.length, i + rows * columns)) return push_empty(ws);
  const NameRef ref = look_up_name(s + start + 1, word_end - start - 1, ws);
  const std::uint32_t variable = ref.kind == NameKind::Found && ref.type == SYM_VAR ? ref.entry : 0;
  TextRows lines(text, i, static_cast<std::uint32_t>(rows), static_cast<std::uint32_t>(columns));
  std::uint32_t entry = 0;
  if (fix_definition(lines, false, variable, &entry, ws) >= 0) return push_empty(ws);
  push_result(new_char_vector(symbol_name(entry, ws), ws), ws);
}

// ---- form 2, defining: the value writer's grammar ----

class ValueReader {
 public:
  ValueReader(const Text& text, std::uint32_t pos, Ws ws) : text_(text), pos_(pos), ws_(ws) {}

  // Reads one value from the cursor. Without `at`, measures: answers its
  // image's size in bytes (0 when the text is not a value). With `at`,
  // writes the image there (the top-level object's first 8 bytes excepted
  // when `top`) and answers the same size.
  std::uint32_t value(std::uint32_t at, bool top);
  std::uint32_t pos() const { return pos_; }
  // What the last value measured was: 0 not a simple scalar, 1 a
  // character scalar, 2 a numeric scalar.
  int scalar_kind() const { return scalar_kind_; }
  void skip_blanks() {
    while (pos_ < text_.length && is_blank(ch(pos_))) ++pos_;
  }

 private:
  std::uint8_t ch(std::uint32_t i) const { return text_.at(ws_)[i]; }
  bool at_end() const { return pos_ >= text_.length; }
  // A run of numbers from the cursor: their count and type; answers false
  // when none is there. The cursor ends after the last.
  bool numbers(std::uint64_t* count, std::uint8_t* type, std::uint64_t* values, std::uint32_t max_values);

  Text text_;
  std::uint32_t pos_;
  Ws ws_;
  int depth_ = 100;
  int scalar_kind_ = 0;
};

bool ValueReader::numbers(std::uint64_t* count, std::uint8_t* type, std::uint64_t* values, std::uint32_t max_values) {
  std::uint32_t flags = 0;
  *count = 0;
  const std::uint8_t* s = text_.at(ws_);
  for (;;) {
    if (at_end() || !cmpnum(s[pos_])) break;
    std::size_t p = pos_;
    const ScannedNumber num = scan_one_number(s, text_.length, p, flags);
    if (!(num.flags & nf::Digit) || (num.flags & nf::Stray)) return false;
    flags = num.flags;
    if (values && *count < max_values) {
      if (!(num.value >= 0 && num.value <= 2147483647.0 && num.value == static_cast<double>(std::uint64_t(num.value))))
        return false;
      values[*count] = static_cast<std::uint64_t>(num.value);
    }
    ++*count;
    pos_ = static_cast<std::uint32_t>(p);
    if (pos_ + 1 < text_.length && is_blank(s[pos_]) && cmpnum(s[pos_ + 1])) ++pos_;
  }
  *type = (flags & nf::Float) ? ET_FLOAT : (flags & nf::NotBoolean) ? ET_INT : ET_BOOL;
  return *count > 0;
}

std::uint32_t ValueReader::value(std::uint32_t at, bool top) {
  Ws ws = ws_;
  // A shape prefix: numbers directly followed by ⍴.
  std::uint64_t axes[kMaxRank];
  std::uint64_t rank = 0;
  bool shaped = false;
  {
    const std::uint32_t back = pos_;
    std::uint64_t n = 0;
    std::uint8_t t = 0;
    std::uint64_t v[kMaxRank];
    if (!at_end() && cmpnum(ch(pos_)) && numbers(&n, &t, v, kMaxRank) && !at_end() && ch(pos_) == kRho) {
      if (n > kMaxRank) return 0;
      rank = n;
      for (std::uint64_t k = 0; k < n; ++k) axes[k] = v[k];
      shaped = true;
      ++pos_;
    } else {
      pos_ = back;
    }
  }
  std::uint64_t product = 1;
  for (std::uint64_t k = 0; k < rank; ++k) product *= axes[k];
  if (product > 0x7FFFFFFF) return 0;

  if (at_end()) return 0;
  const std::uint32_t body = pos_;
  const std::uint8_t c = ch(pos_);
  std::uint8_t type = 0;
  std::uint64_t count = 0;        // elements or items the body gives
  std::uint64_t items_bytes = 0;  // the items' images, for a nested body
  bool all_simple_scalars = true;
  std::uint8_t kinds = 0;  // 1 characters, 2 numbers among the items
  if (c == kLeftParen || c == kEnclose) {
    type = ET_NESTED;
    if (--depth_ < 0) depth_error(ws);
    const bool one = c == kEnclose;
    for (;;) {
      if (one) {
        ++pos_;
      } else {
        if (at_end() || ch(pos_) != kLeftParen) break;
        ++pos_;
      }
      const std::uint32_t size = value(0, false);
      if (size == 0) return 0;
      if (scalar_kind_ == 0) all_simple_scalars = false;
      kinds |= static_cast<std::uint8_t>(scalar_kind_);
      items_bytes += size;
      ++count;
      if (one) break;
      if (at_end() || ch(pos_) != kRightParen) return 0;
      ++pos_;
      if (!at_end() && is_blank(ch(pos_)) && pos_ + 1 < text_.length && ch(pos_ + 1) == kLeftParen) ++pos_;
    }
    ++depth_;
    if (count == 0 || (!one && count < 2)) return 0;
    // Items that are all simple scalars of one kind make a simple array, a
    // form the writer never gives.
    if (!one && all_simple_scalars && kinds != 3) return 0;
  } else if (c == kQuote) {
    type = ET_CHAR;
    ++pos_;
    for (;;) {
      if (at_end()) return 0;
      if (ch(pos_) == kQuote) {
        if (pos_ + 1 < text_.length && ch(pos_ + 1) == kQuote) {
          pos_ += 2;
          ++count;
          continue;
        }
        ++pos_;
        break;
      }
      ++pos_;
      ++count;
    }
  } else if (cmpnum(c)) {
    if (!numbers(&count, &type, nullptr, 0)) return 0;
  } else {
    return 0;
  }

  // The result's shape.
  std::uint32_t shape[kMaxRank];
  std::uint32_t r = 0;
  if (shaped) {
    // Empty: characters or numbers as any, nested one ⊂prototype.
    if (product != count && !(product == 0 && (type != ET_NESTED || (count == 1 && c == kEnclose)))) return 0;
    r = static_cast<std::uint32_t>(rank);
    for (std::uint32_t k = 0; k < r; ++k) shape[k] = static_cast<std::uint32_t>(axes[k]);
  } else if (type == ET_NESTED) {
    r = count == 1 ? 0 : 1;
    shape[0] = static_cast<std::uint32_t>(count);
  } else if (count != 1) {
    r = 1;
    shape[0] = static_cast<std::uint32_t>(count);
  }
  const std::uint64_t elements = shaped ? product : count;
  std::uint64_t data = 0;
  switch (type) {
    // An empty nested array carries its prototype's image where the item
    // words would be.
    case ET_NESTED: data = 4 * elements + items_bytes; break;
    case ET_CHAR: data = elements; break;
    case ET_BOOL: data = 4 * ((elements + 31) / 32); break;
    case ET_INT: data = 4 * elements; break;
    default: data = 8 * elements; break;
  }
  const std::uint64_t size = (array_header_bytes(r) + data + 3) & ~std::uint64_t(3);
  if (size > 0x7FFFFFF0u) ws_full(ws);
  scalar_kind_ = r != 0 || type == ET_NESTED ? 0 : type == ET_CHAR ? 1 : 2;
  if (at == 0) return static_cast<std::uint32_t>(size);

  // Writing: the header, then the body read again.
  const std::uint32_t end_pos = pos_;
  if (!top) {
    wr32(ws, at, 0);
    wr32(ws, at + obj::Size, static_cast<std::uint32_t>(size));
  }
  wr8(ws, at + obj::Type, type);
  wr8(ws, at + obj::Flags9, 0);
  wr16(ws, at + obj::Rank4, 4 * r);
  for (std::uint32_t k = 0; k < r; ++k) wr32(ws, at + obj::Shape + 4 * k, shape[k]);
  const std::uint32_t d = at + array_header_bytes(r);
  std::memset(ws + d, 0, static_cast<std::size_t>(size - array_header_bytes(r)));
  pos_ = body;
  if (type == ET_NESTED) {
    std::uint32_t item = d + 4 * static_cast<std::uint32_t>(elements);
    const bool one = ch(pos_) == kEnclose;
    if (elements == 0) {
      ++pos_;
      value(item, false);
    }
    for (std::uint64_t k = 0; k < elements; ++k) {
      ++pos_;
      wr32(ws, d + 4 * static_cast<std::uint32_t>(k), item - at);
      item += value(item, false);
      if (!one) {
        ++pos_;  // ")"
        if (!at_end() && is_blank(ch(pos_)) && pos_ + 1 < text_.length && ch(pos_ + 1) == kLeftParen) ++pos_;
      }
    }
  } else if (type == ET_CHAR) {
    ++pos_;
    for (std::uint64_t k = 0; k < elements; ++k) {
      if (ch(pos_) == kQuote) ++pos_;
      wr8(ws, d + static_cast<std::uint32_t>(k), ch(pos_));
      ++pos_;
    }
  } else {
    std::uint32_t flags = 0;
    std::size_t p = pos_;
    const std::uint8_t* s = text_.at(ws);
    for (std::uint64_t k = 0; k < elements; ++k) {
      const ScannedNumber num = scan_one_number(s, text_.length, p, flags);
      flags = num.flags;
      if (type == ET_FLOAT) {
        std::memcpy(ws + d + 8 * k, &num.value, 8);
      } else if (type == ET_INT) {
        wr32(ws, d + 4 * static_cast<std::uint32_t>(k), static_cast<std::uint32_t>(static_cast<std::int32_t>(num.value)));
      } else if (num.value != 0) {
        const std::uint32_t w = d + 4 * static_cast<std::uint32_t>(k / 32);
        wr32(ws, w, rd32(ws, w) | (0x80000000u >> (k % 32)));
      }
      if (p < text_.length && is_blank(s[p])) ++p;
    }
  }
  pos_ = end_pos;
  return static_cast<std::uint32_t>(size);
}

// Runs the whole text as an expression, as ⎕EC runs its text; ⎕TF's
// result comes when it ends (start_evaluation). For an assignment to the
// name text[start, start + n) (n 0: none), a name that holds anything but
// a variable is erased first, so that the assignment can take it; a
// variable stays for the expression to read, and is replaced only when
// the assignment is reached. Inside a transfer the first `prefix`
// characters (the record's kind letter, or letter and name) become blanks.
void execute_form_2(const Text& text, std::uint32_t start, std::uint32_t n, std::uint32_t prefix, Ws ws) {
  // Inside a transfer the kind letter (and a function's name) before the
  // expression become blanks, in the transfer's own copy of the text.
  if (in_transfer(ws)) std::memset(ws + array_data(text.arg.array(ws), ws), kBlank, prefix);
  if (n != 0 && text.at(ws)[start] != kQuadChar) {
    const NameRef ref = look_up_name(text.at(ws) + start, n, ws);
    if (ref.kind != NameKind::Found && ref.kind != NameKind::Unknown) return push_empty(ws);
    if (ref.kind == NameKind::Found && ref.type != SYM_UNDEF && ref.type != SYM_VAR &&
        !erase_object(ref.entry, ws))
      return push_empty(ws);
  }
  start_evaluation(text.arg.slot, evk::TransferForm, ws);
}

// NAME←value: the name is text[start, arrow). A value the value writer's
// grammar reads is built and assigned here; any other expression runs.
void define_form_2(const Text& text, std::uint32_t start, std::uint32_t arrow, Ws ws) {
  const bool quad = text.at(ws)[start] == kQuadChar;
  const NameRef ref = look_up_name(text.at(ws) + start, arrow - start, ws);
  if (!quad && ref.kind != NameKind::Found && ref.kind != NameKind::Unknown) return push_empty(ws);
  ValueReader measure(text, arrow + 1, ws);
  measure.skip_blanks();
  const std::uint32_t from = measure.pos();
  const std::uint32_t size = measure.value(0, true);
  measure.skip_blanks();
  if (size == 0 || measure.pos() != text.length || (quad && ref.type != SYM_SYSVAR))
    return execute_form_2(text, start, arrow - start, start, ws);
  const std::uint32_t z = getspc(size - 8, ws);
  push_result(z, ws);
  ValueReader write(text, from, ws);
  write.value(rd32(ws, stack_entry_at(0, ws) + se::Value), true);
  if (!assign_value(text, start, arrow - start, ws)) replace_result(new_char_vector({}, ws), false, ws);
}

// "⎕FX 'line' 'line' …": the quoted lines of a function, read from a copy
// of the text held by the result entry on top, each line's doubled quotes
// made single in place.
class QuotedLines : public FixSource {
 public:
  QuotedLines(std::uint32_t pos, std::uint32_t length) : next_(pos), length_(length) {}
  bool line(std::uint32_t, const std::uint8_t** t, std::uint32_t* n, Ws ws) override {
    std::uint8_t* s = ws + array_data(rd32(ws, stack_entry_at(0, ws) + se::Value), ws);
    while (next_ < length_ && is_blank(s[next_])) ++next_;
    if (next_ >= length_) return false;
    if (s[next_] != kQuote) {
      well_ = false;
      return false;
    }
    const std::uint32_t from = next_ + 1;
    std::uint32_t out = from;
    std::uint32_t i = from;
    for (;;) {
      if (i >= length_) {
        well_ = false;
        return false;
      }
      if (s[i] == kQuote) {
        if (i + 1 < length_ && s[i + 1] == kQuote) {
          s[out++] = kQuote;
          i += 2;
          continue;
        }
        break;
      }
      s[out++] = s[i++];
    }
    *t = s + from;
    *n = out - from;
    next_ = i + 1;
    return true;
  }
  bool ended_well() const override { return well_; }

 private:
  std::uint32_t next_, length_;
  bool well_ = true;
};

// ---- name requests: the forms written ----

// The elements of a simple value with 15 significant digits.
void write_elements(std::uint32_t a, Ws ws) {
  const std::uint16_t saved = engine_state(ws);
  set_state(st::ListDigits, 0, ws);
  exvec2(a, array_count(a, ws), array_type(a, ws), array_data(a, ws), ws);
  if (!(saved & st::ListDigits)) set_state(0, st::ListDigits, ws);
}

// The prototype an empty nested array `a` carries: an array image where
// its item words would be; 0 when it carries none.
std::uint32_t carried_prototype(std::uint32_t a, Ws ws) {
  const std::uint32_t d = array_data(a, ws);
  return rd32(ws, a + obj::Size) >= d - a + 12 ? d : 0;
}

// Whether the value writer can write the value: characters and numbers
// only, nested at most 100 levels (else DEPTH ERROR).
bool representable(std::uint32_t a, int depth, Ws ws) {
  const std::uint8_t type = array_type(a, ws);
  if (type == ET_NESTED) {
    if (depth <= 0) depth_error(ws);
    const std::uint32_t n = array_count(a, ws);
    if (n == 0) {
      const std::uint32_t proto = carried_prototype(a, ws);
      return proto == 0 || representable(proto, depth - 1, ws);
    }
    for (std::uint32_t i = 0; i < n; ++i)
      if (!representable(a + rd32(ws, array_data(a, ws) + 4 * i), depth - 1, ws)) return false;
    return true;
  }
  return type == ET_CHAR || is_numeric_type(type);
}
constexpr int kMaxDepth = 100;

// The value writer: an expression that rebuilds the value, its rank
// included: a one-item vector is written "1⍴item", an empty nested array
// "S⍴⊂prototype". Every level of nesting counts against `depth`, a single
// enclosed item's too, so that the writer's own recursion is bounded
// (representable has checked it).
void write_value(std::uint32_t a, int depth, const TextCapture& capture, Ws ws) {
  check_attention(ws);
  const std::uint8_t type = array_type(a, ws);
  const std::uint32_t rank = array_rank(a, ws);
  const std::uint32_t count = array_count(a, ws);
  if (rank == 1 && count == 0 && type != ET_CHAR) print(utf8_to_internal("0⍴"), ws);
  if (rank == 1 && count == 1) print(utf8_to_internal("1⍴"), ws);
  if (rank >= 2) {
    for (std::uint32_t k = 0; k < rank; ++k) {
      if (k) cdisp(kBlank, ws);
      print_number(array_axis(a, k, ws), ws);
    }
    cdisp(kRho, ws);
  }
  if (type == ET_NESTED) {
    const std::uint32_t first = count == 0 ? carried_prototype(a, ws) : a + rd32(ws, array_data(a, ws));
    if (first == 0) {
      cdisp(0x30, ws);
    } else if (count <= 1) {
      if (depth <= 0) depth_error(ws);
      cdisp(kEnclose, ws);
      write_value(first, depth - 1, capture, ws);
    } else {
      if (depth <= 0) depth_error(ws);
      for (std::uint32_t i = 0; i < count; ++i) {
        if (i) cdisp(kBlank, ws);
        cdisp(kLeftParen, ws);
        write_value(a + rd32(ws, array_data(a, ws) + 4 * i), depth - 1, capture, ws);
        cdisp(kRightParen, ws);
      }
    }
  } else if (type == ET_CHAR) {
    cdisp(kQuote, ws);
    capture.double_quotes(true);
    ldprt(ws + array_data(a, ws), static_cast<int>(count), ws);
    capture.double_quotes(false);
    cdisp(kQuote, ws);
  } else if (count == 0) {
    cdisp(0x30, ws);
  } else {
    write_elements(a, ws);
  }
}

// Form 1 or 2 of the value `a` under `name` (internal characters); false
// when it cannot be written (the capture then holds nothing useful).
bool write_variable(int form, std::string_view name, std::uint32_t a, const TextCapture& capture, Ws ws) {
  if (!representable(a, kMaxDepth, ws)) return false;
  const std::uint8_t type = array_type(a, ws);
  if (in_transfer(ws)) form = type == ET_NESTED ? 2 : 1;
  if (form == 2) {
    if (in_transfer(ws)) cdisp(glyph("A"), ws);
    print(name, ws);
    cdisp(kArrow, ws);
    write_value(a, kMaxDepth, capture, ws);
    return true;
  }
  if (type == ET_NESTED) return false;
  cdisp(type == ET_CHAR ? kLetterC : kLetterN, ws);
  print(name, ws);
  cdisp(kBlank, ws);
  const std::uint32_t rank = array_rank(a, ws);
  print_number(rank, ws);
  cdisp(kBlank, ws);
  for (std::uint32_t k = 0; k < rank; ++k) {
    print_number(array_axis(a, k, ws), ws);
    cdisp(kBlank, ws);
  }
  if (array_count(a, ws) == 0) return true;
  if (type == ET_CHAR) {
    ldprt(ws + array_data(a, ws), static_cast<int>(array_count(a, ws)), ws);
  } else {
    write_elements(a, ws);
  }
  return true;
}

void write_function(int form, std::uint32_t entry, const TextCapture& capture, Ws ws) {
  const std::uint32_t header = rd32(ws, entry + sym::Value);
  if (form == 2) {
    if (in_transfer(ws)) {
      cdisp(kLetterF, ws);
      print(symbol_name(entry, ws), ws);
      cdisp(kBlank, ws);
    }
    print(utf8_to_internal("⎕FX"), ws);
    for (std::uint32_t l = header; l; l = rd32(ws, l + fnl::Next)) {
      cdisp(kBlank, ws);
      cdisp(kQuote, ws);
      capture.double_quotes(true);
      capture_function_line(l, ws);
      capture.double_quotes(false);
      cdisp(kQuote, ws);
    }
    return;
  }
  const std::uint32_t width = function_width(entry, ws);
  cdisp(kLetterF, ws);
  print(symbol_name(entry, ws), ws);
  print(utf8_to_internal(" 2 "), ws);
  print_number(function_line_count(header, ws), ws);
  cdisp(kBlank, ws);
  print_number(width, ws);
  cdisp(kBlank, ws);
  for (std::uint32_t l = header; l; l = rd32(ws, l + fnl::Next)) {
    const std::uint32_t n = capture_function_line(l, ws);
    for (std::uint32_t k = n; k < width; ++k) cdisp(kBlank, ws);
  }
}

// The transfer form of the object named by text[start, start + n).
void name_request(int form, const Text& text, std::uint32_t start, std::uint32_t n, Ws ws) {
  const NameRef ref = look_up_name(text.at(ws) + start, n, ws);
  std::uint32_t value_slot = 0;  // a word holding the value to write
  std::uint32_t entry = ref.entry;
  if (ref.kind == NameKind::System || (ref.kind == NameKind::Found && (ref.type == SYM_SYSFN0 || ref.type == SYM_SYSFN))) {
    // A niladic system function's value; others have none to give.
    if (ref.type != SYM_SYSFN0) return push_empty(ws);
    std::uint8_t buf[12] = {};
    std::memcpy(buf, text.at(ws) + start + ref.start, ref.length < 12 ? ref.length : 12);
    const int number = system_function_number(buf);
    const SysFnRow& row = sysfn_row(number);
    if (!row.niladic) noncer_1(ws);
    row.niladic(ws);
  } else if (ref.kind == NameKind::Found && ref.type == SYM_SYSVAR) {
    // The value comes in the token register, which the engine still needs.
    const StackEntry saved = load_entry(hdr::TokenRegister, ws);
    if (saved.cls & kOwnsObject) ZEMA_SYSTEM_ERROR(ws);
    read_system_variable(static_cast<int>(token_of_entry(ref.entry) / 2), ws);
    const StackEntry reg = load_entry(hdr::TokenRegister, ws);
    push_result(reg.value, ws);
    store_entry(hdr::TokenRegister, saved, ws);
  } else if (ref.kind == NameKind::Found && ref.type == SYM_CLASS) {
    // A class: its text in form 2, nothing in form 1; in a transfer file
    // the function form, the ⎕FX of its lines, which )IN reads back.
    const auto token = static_cast<std::uint16_t>(token_of_entry(ref.entry));
    if (form == 2 && in_transfer(ws)) return push_class_transfer_text(token, ws);
    return sfcr_class(token, form == 2 ? 1 : -2, ws);
  } else if (ref.kind == NameKind::Found && (ref.type == SYM_VAR || ref.type == SYM_LABEL)) {
    value_slot = ref.entry + sym::Value;
  } else if (ref.kind == NameKind::Found && defined_function_type(ref.type)) {
    const std::uint32_t header = rd32(ws, ref.entry + sym::Value);
    if (header == 0 || (rd8(ws, header + fnl::Marks) & fnmark::Locked)) return push_empty(ws);
    const std::uint32_t origin = capture_origin(1, ws);
    std::uint32_t length = 0;
    {
      TextCapture capture(origin, ws);
      write_function(form, entry, capture, ws);
      length = capture.cursor() - origin;
    }
    return push_result(captured_array(1, &length, ws), ws);
  } else {
    return push_empty(ws);
  }
  // A system value on top of the stack: written under its own name.
  const bool pushed = value_slot == 0;
  if (pushed) value_slot = stack_entry_at(0, ws) + se::Value;
  const std::uint32_t origin = capture_origin(1, ws);
  std::uint32_t length = 0;
  bool written = false;
  {
    TextCapture capture(origin, ws);
    const std::uint32_t a = rd32(ws, value_slot);
    if (pushed) {
      // The ⎕ name as spelt in the text, upper case.
      const std::uint8_t* s = text.at(ws) + start + ref.start;
      std::string name;
      for (std::uint32_t i = 0; i < ref.length; ++i) name.push_back(static_cast<char>(i ? s[i] & 0x7F : s[i]));
      written = write_variable(form, name, a, capture, ws);
    } else {
      written = write_variable(form, symbol_name(entry, ws), a, capture, ws);
    }
    length = written ? capture.cursor() - origin : 0;
  }
  if (!written) length = 0;
  if (pushed) {
    // The system value goes; the text takes its place. The text was
    // captured above the heap top, which the new object must reach, so it
    // is made where it lies once the value is released.
    if (length == 0) return replace_result(new_char_vector({}, ws), false, ws);
    const std::uint32_t top = stack_entry_at(0, ws);
    const StackEntry e = load_entry(top, ws);
    store_entry(top, StackEntry{static_cast<std::uint8_t>(e.cls & ~kOwnsObject), e.flags, 0}, ws);
    mgarb(e.value, ws);
    const std::uint32_t dest = rd32(ws, hdr::HeapTop) + array_header_bytes(1);
    std::memmove(ws + dest, ws + origin, length);
    return replace_result(captured_array(1, &length, ws), true, ws);
  }
  push_result(captured_array(1, &length, ws), ws);
}

}  // namespace

void sftf_dyadic(SfArg left, SfArg right, Ws ws) {
  const std::uint32_t r = right.array(ws);
  if (array_type(r, ws) != ET_CHAR) domner(ws);
  force_gcol(ws);
  if (rd32(ws, hdr::StackPointer) - rd32(ws, hdr::HeapTop) < kFreeNeeded) ws_full(ws);
  if (array_rank(right.array(ws), ws) > 1) ranker(ws);
  Text text{right, array_count(right.array(ws), ws)};
  const std::uint8_t* s = text.at(ws);
  std::uint32_t start = 0;
  while (start < text.length && is_blank(s[start])) ++start;
  if (start == text.length) return push_empty(ws);
  const std::uint32_t l = left.array(ws);
  if (array_type(l, ws) == ET_CHAR) domner(ws);
  if (array_count(l, ws) != 1) ranker(ws);
  std::int32_t form = 0;
  {
    const std::uint32_t d = array_data(l, ws);
    switch (array_type(l, ws)) {
      case ET_BOOL: form = static_cast<std::int32_t>(rd32(ws, d) >> 31); break;
      case ET_INT: form = rdi32(ws, d); break;
      case ET_FLOAT: {
        double v;
        std::memcpy(&v, ws + d, 8);
        form = v == 1.0 ? 1 : v == 2.0 ? 2 : 0;
        break;
      }
      default: domner(ws);
    }
  }
  if (form != 1 && form != 2) domner(ws);

  // The first word, and what follows it.
  std::uint32_t word_end = start;
  while (word_end < text.length && !is_blank(s[word_end])) ++word_end;
  std::uint32_t after = word_end;
  while (after < text.length && is_blank(s[after])) ++after;
  const bool name_only = after == text.length;

  if (form == 1) {
    if (name_only) return name_request(1, text, start, word_end - start, ws);
    const std::uint8_t letter = s[start];
    if (letter == kLetterC || letter == kLetterN) return define_variable(text, start, word_end, ws);
    if (letter == kLetterF) return define_function_1(text, start, word_end, ws);
    return push_empty(ws);
  }

  // Form 2: an assignment, a ⎕FX of quoted lines, or a name. Inside a
  // transfer, "A" before the name of a variable and "F" with the name
  // before the ⎕FX of a function (a text of one word is a record's only
  // when it holds an arrow: otherwise it is a name )OUT asks for).
  const bool one_word_record = name_only && std::memchr(s + start, kArrow, word_end - start) != nullptr;
  if (in_transfer(ws) && (!name_only || one_word_record)) {
    if (s[start] == glyph("A")) {
      ++start;
    } else if (s[start] == kLetterF) {
      start = after;
      word_end = start;
      while (word_end < text.length && !is_blank(s[word_end])) ++word_end;
      after = word_end;
      while (after < text.length && is_blank(s[after])) ++after;
    }
  }
  // A text that begins with 0 or 1 runs at once.
  if (s[start] == 0x30 || s[start] == 0x31) return execute_form_2(text, start, 0, start, ws);
  std::uint32_t arrow = start;
  while (arrow < text.length && !is_blank(s[arrow]) && s[arrow] != kArrow && s[arrow] != kQuote) ++arrow;
  if (arrow < text.length && s[arrow] == kArrow) return define_form_2(text, start, arrow, ws);
  if (arrow < text.length && s[arrow] == kQuote) return execute_form_2(text, start, 0, start, ws);
  if (after < text.length && s[after] == kArrow) return define_form_2(text, start, word_end, ws);
  if (name_only) return name_request(2, text, start, word_end - start, ws);
  if (s[after] == kQuote) {
    // ⎕FX of quoted lines (as the function writer gives them) is fixed
    // here; any other expression runs.
    const std::string fx = utf8_to_internal("⎕FX");
    bool is_fx = word_end - start == 3;
    for (std::uint32_t i = 0; is_fx && i < 3; ++i) is_fx = (s[start + i] & 0x7F) == (static_cast<std::uint8_t>(fx[i]) & 0x7F);
    if (!is_fx) return execute_form_2(text, start, 0, start, ws);
    push_result(copy_array(right.slot, ws), ws);
    QuotedLines lines(after, text.length);
    std::uint32_t entry = 0;
    int fixed = 0;
    {
      // The lines are this system's own ⎕FX text: a class's valued
      // properties run as expressions while it is fixed, and read their ⎕
      // names as everywhere else.
      const TransferModeAside aside(ws);
      fixed = fix_definition(lines, false, 0, &entry, ws);
    }
    if (fixed >= 0) {
      if (in_transfer(ws)) unreadable(ws);
      return replace_result(new_char_vector({}, ws), false, ws);
    }
    return replace_result(new_char_vector(symbol_name(entry, ws), ws), false, ws);
  }
  return push_empty(ws);
}

}  // namespace zema

namespace zema {

bool write_value_text(std::uint32_t a, const TextCapture& capture, Ws ws) {
  if (!representable(a, kMaxDepth, ws)) return false;
  write_value(a, kMaxDepth, capture, ws);
  return true;
}

}  // namespace zema
