#include "interpreter/session/class_definition.h"

#include <algorithm>
#include <cstring>
#include <string>
#include <utility>
#include <vector>

#include "host/charset.h"
#include "interpreter/engine/classes.h"
#include "interpreter/engine/evaluation.h"
#include "interpreter/engine/line.h"
#include "interpreter/output/display.h"
#include "interpreter/reader/entry_errors.h"
#include "interpreter/reader/token_format.h"
#include "interpreter/reader/tokeniser.h"
#include "interpreter/workspace/arrays.h"
#include "interpreter/workspace/entry.h"
#include "interpreter/workspace/errors.h"
#include "interpreter/workspace/heap.h"
#include "interpreter/workspace/object_pool.h"
#include "interpreter/workspace/symtab.h"

namespace zema {

namespace {

constexpr std::uint8_t kArrowToken = 0xB7;       // ←
constexpr std::uint8_t kSemicolonToken = 0x79;   // ;
constexpr std::uint8_t kLeftBraceToken = 0x91;   // {
constexpr std::uint8_t kRightBraceToken = 0xFF;  // }

// A token as [first byte, end).
using Token = std::pair<std::uint32_t, std::uint32_t>;
using Tokens = std::vector<Token>;

// The tokens of a line's statements, left to right, without a trailing
// comment; `statements` is their number.
Tokens line_tokens(std::uint32_t line, int& statements, Ws ws) {
  Tokens t;
  statements = 0;
  for (std::uint32_t s = line + tl::Body;;) {
    const std::uint32_t length = get_statement_length(ws, s);
    if (length == 0) break;
    ++statements;
    const std::uint32_t first = s + get_statement_head(ws, s);
    Tokens st;
    for (std::uint32_t cursor = s + length; cursor > first;) {
      const std::uint32_t start = skipsl(cursor, ws);
      if (start >= cursor || start < first) ZEMA_SYSTEM_ERROR(ws);
      st.emplace_back(start, cursor);
      cursor = start;
    }
    std::reverse(st.begin(), st.end());
    t.insert(t.end(), st.begin(), st.end());
    s += length;
  }
  if (!t.empty() && rd8(ws, t.back().second - 1) == TT_COMMENT) t.pop_back();
  return t;
}

bool is_name(const Token& t, Ws ws) { return (rd8(ws, t.second - 1) & 1) == 0; }
std::uint16_t name_token(const Token& t, Ws ws) { return static_cast<std::uint16_t>((ws[t.first] << 8) | ws[t.first + 1]); }
std::uint8_t single(const Token& t, Ws ws) { return t.second - t.first == 1 ? rd8(ws, t.first) : 0; }
std::uint8_t type_of(std::uint16_t token, Ws ws) { return rd8(ws, entry_of_token(token) + sym::Type) & kSymTypeMask; }

// A message line of the mode (print_message leaves it out while output is
// suppressed).
void say(const std::string& utf8, Ws ws) { print_message(utf8_to_internal(utf8), ws); }

[[noreturn]] void refuse(const char* message, Ws ws) {
  if (message) say(message, ws);
  entry::dfn1er(nullptr, 0, ws);
}

// The class name and the parent of a header line.
struct ClassHeader {
  std::uint16_t name = 0;
  std::uint16_t parent = 0;
  std::vector<std::uint16_t> privates;
};

ClassHeader read_header(std::uint32_t line, const Tokens& t, std::size_t brace, Ws ws) {
  ClassHeader h;
  std::vector<std::uint16_t> names;
  // Right to left: name (; name)* before the brace.
  std::size_t i = brace;
  while (i > 0) {
    const Token& tk = t[i - 1];
    if (!is_name(tk, ws)) refuse(nullptr, ws);
    const std::uint16_t n = name_token(tk, ws);
    const std::uint8_t ty = type_of(n, ws);
    if (ty == SYM_SYSVAR || ty == SYM_SYSFN0 || ty == SYM_SYSFN)
      refuse("System functions/variables not valid in class header", ws);
    names.insert(names.begin(), n);
    --i;
    if (i == 0) break;
    if (single(t[i - 1], ws) != kSemicolonToken || i == 1) refuse(nullptr, ws);
    --i;
  }
  const std::uint16_t label = rd16(ws, line + tl::Label);
  std::size_t first_private = 1;
  if (label != 0) {
    if (names.empty()) refuse(nullptr, ws);
    h.name = label;
    h.parent = names[0];
  } else {
    if (names.empty()) refuse(nullptr, ws);
    h.name = names[0];
  }
  for (std::size_t k = first_private; k < names.size(); ++k) h.privates.push_back(names[k]);
  return h;
}

ClassHeader header_of(std::uint32_t line, Ws ws) {
  int statements = 0;
  Tokens t = line_tokens(line, statements, ws);
  if (!t.empty() && single(t.back(), ws) == kRightBraceToken) t.pop_back();
  if (t.empty() || single(t.back(), ws) != kLeftBraceToken) refuse("Expecting { or {} at end of line", ws);
  return read_header(line, t, t.size() - 1, ws);
}

// ---- property expressions ----

// The line as listed (internal characters, no carriage return), captured
// quietly above the heap top; `overflow` tells whether it did not fit.
std::string listed_line(std::uint32_t line, bool& overflow, Ws ws) {
  const std::uint32_t start = rd32(ws, hdr::HeapTop) + 16;
  const std::uint32_t saved_address = rd32(ws, hdr::CaptureAddress);
  const std::uint16_t saved_column = rd16(ws, hdr::OutColumn);
  const std::uint8_t saved_bits = rd8(ws, hdr::OutputBits);
  wr32(ws, hdr::CaptureAddress, start);
  wr8(ws, hdr::OutputBits, static_cast<std::uint8_t>((saved_bits | outbits::Store) & ~outbits::Overflowed));
  set_state(st::Capturing, st::CaptureOverflow, ws);
  ldis(line, ws);
  overflow = state_has(st::CaptureOverflow, ws) || (rd8(ws, hdr::OutputBits) & outbits::Overflowed);
  set_state(0, st::Capturing | st::CaptureOverflow, ws);
  const std::uint32_t end = rd32(ws, hdr::CaptureAddress);
  std::string text(reinterpret_cast<const char*>(ws + start), end > start ? end - start : 0);
  wr32(ws, hdr::CaptureAddress, saved_address);
  wr16(ws, hdr::OutColumn, saved_column);
  wr8(ws, hdr::OutputBits, saved_bits);
  return text;
}

// The expression of a listed property line: what follows the first arrow
// (and a second one right after it), without a trailing comment and, for
// a braced line, without its closing brace.
std::string expression_of(const std::string& listed, bool braced) {
  static const std::string arrow = utf8_to_internal("←");
  static const std::string right_brace = utf8_to_internal("}");
  std::size_t at = listed.find(arrow);
  if (at == std::string::npos) return {};
  at += arrow.size();
  if (listed.compare(at, arrow.size(), arrow) == 0) at += arrow.size();
  std::string e = listed.substr(at);
  bool quoted = false;
  for (std::size_t i = 0; i < e.size(); ++i) {
    if (static_cast<std::uint8_t>(e[i]) == ich::Quote) quoted = !quoted;
    if (!quoted && static_cast<std::uint8_t>(e[i]) == ich::Lamp) {
      e.resize(i);
      break;
    }
  }
  while (!e.empty() && static_cast<std::uint8_t>(e.back()) == ich::Blank) e.pop_back();
  if (braced && e.size() >= right_brace.size() && e.compare(e.size() - right_brace.size(), right_brace.size(), right_brace) == 0)
    e.resize(e.size() - right_brace.size());
  return e;
}

// The symbol that receives ⎕EC's answer while a property expression runs:
// its name (one blank) cannot be typed, so no APL name meets it. Created
// without uses when absent.
std::uint16_t answer_symbol(Ws ws) {
  wr8(ws, kNameBuffer, ich::Blank);
  std::uint32_t first_free = 0, found = 0;
  if (symfnd(first_free, found, 1, ws) == 0) return static_cast<std::uint16_t>(token_of_table_offset(found));
  if (first_free == 0) error(E_SYMBOL_TABLE_FULL, 1, 4, ws);
  return static_cast<std::uint16_t>(token_of_table_offset(syment(first_free, 1, ws)));
}

// Gives the answer symbol's value up, and the use that value counted.
void drop_answer(std::uint16_t token, Ws ws) {
  const std::uint32_t e = entry_of_token(token);
  const std::uint32_t v = rd32(ws, e + sym::Value);
  const bool had_value = (rd8(ws, e + sym::Type) & kSymTypeMask) == SYM_VAR;
  wr32(ws, e + sym::Value, 0);
  wr8(ws, e + sym::Type, SYM_UNDEF);
  if (v != 0) mgarb(v, ws);
  if (had_value) clnus2(e, ws);
}

// While a property expression runs the class word is 0, so that lines the
// expression tokenises (⍎, ⎕EC, ⎕ input) run as usual and a ∇ it fixes
// makes no method; it comes back afterwards while the mode is still open.
class ClassWordAside {
 public:
  explicit ClassWordAside(Ws ws) : ws_(ws), word_(rd16(ws, hdr::ClassWord)) { wr16(ws, hdr::ClassWord, 0); }
  ~ClassWordAside() {
    if (rd32(ws_, hdr::ClassDefining) != 0) wr16(ws_, hdr::ClassWord, word_);
  }
  ClassWordAside(const ClassWordAside&) = delete;
  ClassWordAside& operator=(const ClassWordAside&) = delete;

 private:
  Ws ws_;
  std::uint16_t word_;
};

// One use of a symbol held for a scope.
class NameHeld {
 public:
  NameHeld(std::uint16_t token, Ws ws) : ws_(ws), token_(token) {
    const std::uint32_t e = entry_of_token(token);
    if (rd16(ws, e + sym::Uses) == kMaxUses) error(E_SYSTEM_LIMIT, 0, 0, ws);
    wr16(ws, e + sym::Uses, rd16(ws, e + sym::Uses) + 1);
  }
  ~NameHeld() {
    if (rd16(ws_, entry_of_token(token_) + sym::Uses) != 0) clnuse(token_, ws_);
  }
  NameHeld(const NameHeld&) = delete;
  NameHeld& operator=(const NameHeld&) = delete;

 private:
  Ws ws_;
  std::uint16_t token_;
};

// Runs `expression` as ⎕EC does, at the immediate level, the answer going
// to the answer symbol. Answers the symbol's token; its value is ⎕EC's
// three items, or none when the line did not run.
std::uint16_t run_property_expression(const std::string& expression, Ws ws) {
  static const std::string head = utf8_to_internal("Z←⎕EC ");
  std::string text = head;
  text += static_cast<char>(ich::Quote);
  for (const char c : expression) {
    text += c;
    if (static_cast<std::uint8_t>(c) == ich::Quote) text += c;
  }
  text += static_cast<char>(ich::Quote);
  const std::uint16_t answer = answer_symbol(ws);
  ClassWordAside aside(ws);
  if (tokenise_input_line(text.data(), static_cast<int>(text.size()), ws) != lr::Ready) return answer;
  // Z, the line's first token, becomes the answer symbol.
  int statements = 0;
  const Tokens t = line_tokens(rd32(ws, hdr::KillSlot), statements, ws);
  if (t.empty() || !is_name(t[0], ws)) ZEMA_SYSTEM_ERROR(ws);
  const std::uint16_t z = name_token(t[0], ws);
  const std::uint32_t e = entry_of_token(answer);
  wr16(ws, e + sym::Uses, rd16(ws, e + sym::Uses) + 1);
  wr8(ws, t[0].first, static_cast<std::uint8_t>(answer >> 8));
  wr8(ws, t[0].first + 1, static_cast<std::uint8_t>(answer));
  clnuse(z, ws);
  run_line_apart(ws);
  return answer;
}

// The value of ⎕EC's answer `a` (three items) when its code is 1 or 2 (the
// expression gave a value), else 0.
std::uint32_t answer_value(std::uint32_t a, Ws ws) {
  if (a == 0 || array_type(a, ws) != ET_NESTED || array_rank(a, ws) != 1 || array_count(a, ws) != 3) return 0;
  const std::uint32_t data = array_data(a, ws);
  const std::uint32_t code = a + rd32(ws, data);
  if (array_rank(code, ws) != 0) return 0;
  std::int32_t c = 0;
  if (array_type(code, ws) == ET_INT) c = rdi32(ws, array_data(code, ws));
  else if (array_type(code, ws) == ET_BOOL) c = rd8(ws, array_data(code, ws)) >> 7;
  if (c != 1 && c != 2) return 0;
  return a + rd32(ws, data + 8);
}

}  // namespace

bool is_class_header(Ws ws) {
  const std::uint32_t line = rd32(ws, hdr::KillSlot);
  if (line == 0) return false;
  int statements = 0;
  const Tokens t = line_tokens(line, statements, ws);
  if (t.empty()) return false;
  const std::uint8_t last = single(t.back(), ws);
  return last == kLeftBraceToken || last == kRightBraceToken;
}

void open_class_definition(Ws ws) {
  if (rd32(ws, hdr::ClassDefining) != 0) refuse("Already in class definition mode", ws);
  if (state_has(st::Defining, ws)) refuse("Already in function definition mode", ws);
  const std::uint32_t line = rd32(ws, hdr::KillSlot);
  int statements = 0;
  Tokens t = line_tokens(line, statements, ws);
  bool empty = false;
  if (!t.empty() && single(t.back(), ws) == kRightBraceToken) {
    empty = true;
    t.pop_back();
  }
  if (t.empty() || single(t.back(), ws) != kLeftBraceToken) refuse("Expecting { or {} at end of line", ws);
  const ClassHeader h = read_header(line, t, t.size() - 1, ws);
  if (h.parent != 0 && class_def_from_symidx(h.parent, ws) == 0) refuse("Parent class not valid", ws);
  const std::uint8_t type = type_of(h.name, ws);
  if (type == SYM_CLASS) {
    const std::uint32_t cls = class_def_from_symidx(h.name, ws);
    if (h.parent != 0 && cls != 0) {
      const std::uint32_t parent = class_def_from_symidx(h.parent, ws);
      if (rd32(ws, cls + pobj::ParentSlot) != rd32(ws, parent + pobj::OwnSlot))
        refuse("Class already inherits from a different parent class", ws);
    }
  } else if (type != SYM_UNDEF) {
    refuse("Name already in use", ws);
  }
  const bool fixing = state_has(st::FixingText, ws);
  if (create_empty_class(h.name, h.parent, 4, fixing, ws) != 0) refuse(fixing ? nullptr : "Could not create class", ws);
  wr16(ws, hdr::LexState, 0);
  const std::uint32_t kept = rd32(ws, hdr::KillSlot);
  wr32(ws, hdr::KillSlot, 0);
  wr32(ws, hdr::ClassDefining, kept);
  set_owner(kept, hdr::ClassDefining, OK_WORD, ws);
  wr16(ws, hdr::ClassWord, h.name);
  if (empty) close_class_definition(ws);
}

int consider_class_defn_line(Ws ws) {
  // The lines of executed text that run while the mode is open (a property's
  // expression) find the class word set aside. The trap word says nothing
  // here: a class text fixed by ⎕FX or )IN from ⎕EA's text is read under
  // ⎕EA's trap bit like any other.
  if (rd16(ws, hdr::ClassWord) == 0) return lr::Ready;
  const std::uint32_t line = rd32(ws, hdr::KillSlot);
  int statements = 0;
  Tokens t = line_tokens(line, statements, ws);
  auto fail = [&](const char* text) {
    say(std::string("Class defn error: ") + text, ws);
    clrkil(ws);
    return lr::Refused;
  };
  if (t.empty()) {
    clrkil(ws);
    return lr::Nothing;
  }
  if (t.size() == 1 && single(t[0], ws) == kRightBraceToken) {
    clrkil(ws);
    close_class_definition(ws);
    return lr::Nothing;
  }
  const bool opens = single(t.front(), ws) == kLeftBraceToken;
  const bool closes = single(t.back(), ws) == kRightBraceToken;
  if (opens != closes || (opens && t.size() < 2)) return fail("Mis-matched curly braces");
  std::uint8_t access = 0;
  if (opens) {
    access |= kClassWide;
    t.pop_back();
    t.erase(t.begin());
  }
  if (t.empty() || !is_name(t[0], ws)) return fail("Expecting property name");
  const std::uint16_t name = name_token(t[0], ws);
  const std::uint8_t ty = type_of(name, ws);
  if (ty == SYM_SYSVAR || ty == SYM_SYSFN0 || ty == SYM_SYSFN) return fail("Invalid property name");
  const std::uint32_t cls = class_def_from_symidx(rd16(ws, hdr::ClassWord), ws);
  if (cls == 0) ZEMA_SYSTEM_ERROR(ws);
  const std::uint32_t slot = rd32(ws, cls + pobj::OwnSlot);
  if (t.size() == 1) {
    if (set_named_class_property(slot, name, 0, ws) != 0 || set_member_details(slot, name, access, ws) != 0)
      return fail("Error setting uninitialised property");
    clrkil(ws);
    return lr::Nothing;
  }
  if (single(t[1], ws) != kArrowToken) return fail("Expecting assignment arrow after property name");
  if (t.size() > 2 && single(t[2], ws) == kArrowToken) access |= kReadOnly;
  bool overflow = false;
  const std::string expression = expression_of(listed_line(line, overflow, ws), opens);
  if (overflow) return fail("WS FULL");
  // The property's name keeps a use of its own while the line is gone and
  // the expression runs.
  NameHeld held(name, ws);
  clrkil(ws);
  // The expression runs as ⎕EC runs it; its answer is copied out of the
  // answer symbol into the class.
  std::uint16_t answer = 0;
  try {
    answer = run_property_expression(expression, ws);
    const std::uint32_t e = entry_of_token(answer);
    std::uint32_t a = (rd8(ws, e + sym::Type) & kSymTypeMask) == SYM_VAR ? rd32(ws, e + sym::Value) : 0;
    std::uint32_t v = answer_value(a, ws);
    if (v == 0) {
      drop_answer(answer, ws);
      return fail("Expression did not yield valid result");
    }
    // The value alone becomes the answer (its references counted), the
    // three items go.
    const std::uint32_t size = rd32(ws, v + obj::Size);
    const std::uint32_t at = v - a;
    const std::uint32_t copy = getspc(size - 8, ws);
    a = rd32(ws, e + sym::Value);
    std::memcpy(ws + copy + 8, ws + a + at + 8, size - 8);
    inc_array_reference_counts(copy, ws);
    wr32(ws, e + sym::Value, copy);
    set_owner(copy, e, OK_SYMBOL, ws);
    mgarb(a, ws);
    // The class found again: the expression may have moved or erased it.
    const std::uint32_t target = class_def_from_symidx(rd16(ws, hdr::ClassWord), ws);
    if (target == 0 || set_named_class_property(rd32(ws, target + pobj::OwnSlot), name, copy, ws) != 0) {
      drop_answer(answer, ws);
      return fail("Error assigning data to property");
    }
    drop_answer(answer, ws);
    if (set_member_details(rd32(ws, class_def_from_symidx(rd16(ws, hdr::ClassWord), ws) + pobj::OwnSlot), name,
                           access, ws) != 0)
      return fail("Error assigning data to property");
  } catch (const AplError& err) {
    if (answer != 0) drop_answer(answer, ws);
    if (err.code != E_WS_FULL) throw;
    return fail("WS FULL");
  }
  return lr::Nothing;
}

void close_class_definition(Ws ws) {
  const std::uint32_t line = rd32(ws, hdr::ClassDefining);
  if (line == 0) {
    wr16(ws, hdr::ClassWord, 0);
    return;
  }
  const ClassHeader h = header_of(line, ws);
  if (const std::uint32_t cls = class_def_from_symidx(h.name, ws)) {
    const std::uint32_t slot = rd32(ws, cls + pobj::OwnSlot);
    if (!h.privates.empty()) {
      const std::uint32_t n = rd32(ws, cls + pobj::Count);
      for (std::uint32_t i = 0; i < n; ++i) {
        const std::uint32_t a = cls + pobj::Entries + mentry::Size * i + mentry::Access;
        wr8(ws, a, rd8(ws, a) & ~kPrivate);
      }
      std::string missing;
      for (const std::uint16_t p : h.privates) {
        const int i = own_member_index(cls, p, ws);
        if (i < 0) {
          missing += " " + internal_to_utf8(symbol_name(entry_of_token(p), ws));
          continue;
        }
        const std::uint32_t a = cls + pobj::Entries + mentry::Size * static_cast<std::uint32_t>(i) + mentry::Access;
        wr8(ws, a, rd8(ws, a) | kPrivate);
      }
      if (!missing.empty()) say(("Not found in class:" + missing).substr(0, 255), ws);
    }
    stamp_class(class_in_slot(slot, ws), ws);
  }
  wr32(ws, hdr::ClassDefining, 0);
  wr16(ws, hdr::ClassWord, 0);
  mgarb(line, ws);
}

void install_class_definition_routes() { lex_routes().class_line = consider_class_defn_line; }

}  // namespace zema
