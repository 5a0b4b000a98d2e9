#include "interpreter/session/class_definition.h"

#include <algorithm>
#include <string>
#include <utility>
#include <vector>

#include "host/charset.h"
#include "interpreter/engine/classes.h"
#include "interpreter/reader/entry_errors.h"
#include "interpreter/reader/token_format.h"
#include "interpreter/reader/tokeniser.h"
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
  if (rd8(ws, kInsideExecuteByte) & 1) return lr::Ready;
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
  // A property with a value: evaluating the expression is not built yet.
  print_message(ertab(E_NONCE), ws);
  clrkil(ws);
  return lr::Refused;
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
