#include "interpreter/session/definition.h"

#include <algorithm>
#include <cstring>
#include <string>
#include <utility>
#include <vector>

#include "host/charset.h"
#include "interpreter/engine/call.h"
#include "interpreter/engine/class_methods.h"
#include "interpreter/engine/method_calls.h"
#include "interpreter/output/display.h"
#include "interpreter/reader/entry_errors.h"
#include "interpreter/workspace/errors.h"
#include "interpreter/workspace/heap.h"
#include "interpreter/workspace/object_pool.h"
#include "interpreter/session/class_definition.h"
#include "interpreter/session/line_editor.h"
#include "interpreter/workspace/support.h"
#include "interpreter/workspace/symtab.h"
#include "interpreter/reader/tokeniser.h"

namespace zema {

namespace {

// One-byte tokens of the header grammar.
constexpr std::uint8_t kArrowToken = 0xB7;       // ←
constexpr std::uint8_t kSemicolonToken = 0x79;   // ;
constexpr std::uint8_t kLeftParenToken = 0x75;   // (
constexpr std::uint8_t kRightParenToken = 0x45;  // )
constexpr std::uint8_t kLeftBraceToken = 0x91;   // {
constexpr std::uint8_t kRightBraceToken = 0xFF;  // }

constexpr std::uint32_t kHeapMargin = 100;  // what getspc keeps free below the stack

namespace record {
constexpr std::uint32_t Kind = 0;   // b
constexpr std::uint32_t Token = 2;  // h
constexpr std::uint8_t Label = 0x7F;
}  // namespace record

std::uint16_t be16(Ws ws, std::uint32_t off) { return static_cast<std::uint16_t>((ws[off] << 8) | ws[off + 1]); }

bool class_open(Ws ws) { return rd32(ws, hdr::ClassDefining) != 0; }

// hdr::DefEntry while the open definition is a method of the class being
// defined: the member entry is found again by hdr::DefToken, since the
// class object moves when the heap is compacted or the class grows.
constexpr std::uint32_t kMethodSlot = 1;
static_assert(mentry::Value == sym::Value, "a member entry's value word stands where a symbol's does");

// Whether a ∇ header now defines a method: a class is being defined and
// no property expression of it is running (hdr::ClassWord is 0 then).
bool defining_method(Ws ws) { return class_open(ws) && rd16(ws, hdr::ClassWord) != 0; }

// The member entry of method `token` of the class being defined, read as
// a slot (value word at +4); SYSTEM ERROR when there is none.
std::uint32_t definition_slot_of(std::uint16_t token, Ws ws) {
  const std::uint32_t me = defining_class_member(token, ws);
  if (me == 0) ZEMA_SYSTEM_ERROR(ws);
  return me;
}

[[noreturn]] void defn_error(Ws ws) { entry::dfn1er(nullptr, 0, ws); }

// Whether the level recorded in `frame` (0: the current level) runs the
// function `token` (saved type byte not negative) of class slot `cls` (0
// for a workspace function): a method level and a workspace function
// level of the same name are different functions.
bool level_runs(std::uint16_t token, std::uint32_t cls, std::uint32_t frame, Ws ws) {
  const std::uint32_t at = frame ? frame + siframe::RunningToken : hdr::RunningToken;
  const std::uint32_t type = frame ? frame + siframe::SymType : hdr::RunningSymType;
  if (rd16(ws, at) != token || static_cast<std::int8_t>(rd8(ws, type)) < 0) return false;
  const std::uint32_t running = rd32(ws, frame ? frame + siframe::RunningSymbol : hdr::RunningSymbol);
  const std::uint32_t object = rd32(ws, frame ? frame + siframe::Instance : hdr::CurrentInstance);
  return method_level_class(running, object, token, ws) == cls;
}

// ---- statements and tokens ----

// A statement of a token line: where its tokens begin and where it ends.
struct Statement {
  std::uint32_t first;  // the first token byte
  std::uint32_t end;    // the byte after the statement
};

// The statements of a line, in order.
std::vector<Statement> statements_of(std::uint32_t line, Ws ws) {
  std::vector<Statement> out;
  for (std::uint32_t s = line + tl::Body;;) {
    const std::uint32_t length = get_statement_length(ws, s);
    if (length == 0) break;
    out.push_back({s + get_statement_head(ws, s), s + length});
    s += length;
  }
  return out;
}

// A statement's tokens, left to right, as [first byte, end).
using Tokens = std::vector<std::pair<std::uint32_t, std::uint32_t>>;

Tokens tokens_of(const Statement& s, Ws ws) {
  Tokens t;
  for (std::uint32_t cursor = s.end; cursor > s.first;) {
    const std::uint32_t start = skipsl(cursor, ws);
    if (start >= cursor || start < s.first) ZEMA_SYSTEM_ERROR(ws);
    t.emplace_back(start, cursor);
    cursor = start;
  }
  std::reverse(t.begin(), t.end());
  return t;
}

bool is_name(const std::pair<std::uint32_t, std::uint32_t>& t, Ws ws) { return (rd8(ws, t.second - 1) & 1) == 0; }
std::uint16_t name_token(const std::pair<std::uint32_t, std::uint32_t>& t, Ws ws) { return be16(ws, t.first); }
// The byte of a one-byte token, 0 for any other token.
std::uint8_t single(const std::pair<std::uint32_t, std::uint32_t>& t, Ws ws) {
  return t.second - t.first == 1 ? rd8(ws, t.first) : 0;
}

std::uint8_t type_of(std::uint16_t token, Ws ws) { return rd8(ws, entry_of_token(token) + sym::Type) & kSymTypeMask; }

// ---- keywords ----

enum class CsRole { None, Opens, Middle, Closes };

CsRole role_of_keyword(int k) {
  if (k < 0) return CsRole::None;
  if (k <= 5) return CsRole::Opens;    // :If :For :While :Repeat :Select :Try
  if (k <= 7) return CsRole::Middle;   // :CatchIf :CatchAll
  if (k == 8) return CsRole::Closes;   // :EndTry
  if (k <= 14) return CsRole::Middle;  // :Else :ElseIf :AndIf :OrIf :Case :CaseList
  if (k <= 21) return CsRole::Closes;  // :End … :EndSelect, :Until
  return CsRole::None;                 // :Leave :Continue :GoTo :Return :In
}

// The control keyword that opens a statement, -1 when none.
int opening_keyword(const Statement& s, Ws ws) {
  if (s.end <= s.first) return -1;
  const Tokens t = tokens_of(s, ws);
  const std::uint8_t b = single(t.front(), ws);
  if (b == 0) return -1;
  for (int k = 0; k < kKeywords; ++k)
    if (keyword_token(k) == b) return k;
  return -1;
}

// ---- the state indicator's frames ----

// The frame whose link word is at `link`; 0 at the zero word that ends the
// chain at the top of the stack.
std::uint32_t frame_of_link(std::uint32_t link, Ws ws) { return rd32(ws, link) ? link - siframe::Link : 0; }
std::uint32_t newest_frame(Ws ws) { return frame_of_link(rd32(ws, hdr::SiLink), ws); }
std::uint32_t older_frame(std::uint32_t f, Ws ws) { return frame_of_link(rd32(ws, f + siframe::Link), ws); }
std::uint32_t record_count(std::uint32_t f, Ws ws) {
  const std::int32_t n = rdi16(ws, f + siframe::Count) + 1;
  return n > 0 ? static_cast<std::uint32_t>(n) : 0;
}
std::uint32_t record_at(std::uint32_t f, std::uint32_t i) { return f - siframe::RecordSize * (i + 1); }

// The frame's record localising `token` (kind not negative), 0 when none.
std::uint32_t local_record(std::uint32_t f, std::uint16_t token, Ws ws) {
  const std::uint32_t n = record_count(f, ws);
  for (std::uint32_t i = 0; i < n; ++i) {
    const std::uint32_t r = record_at(f, i);
    if (!(rd8(ws, r + record::Kind) & 0x80) && rd16(ws, r + record::Token) == token) return r;
  }
  return 0;
}

// ---- the header ----

struct Header {
  std::uint16_t name = 0;
  bool result = false;
  int operands = 0;  // 0 for a function
  int valence = 0;
  std::uint16_t locals = 0;
  bool alone = false;  // the name and nothing else

  std::uint8_t symbol_type() const {
    return static_cast<std::uint8_t>(operands ? 8 + 2 * operands + valence : valence);
  }
};

// Parses the header line (DEFN ERROR for what the grammar refuses):
//   [Z←] F | F R | L F R | [L] (A OP) R | [L] (A OP B) R, then ;NAME …
Header parse_header(std::uint32_t line, Ws ws) {
  const std::vector<Statement> statements = statements_of(line, ws);
  if (statements.size() != 1 || rd16(ws, line + tl::Label) != 0) defn_error(ws);
  Tokens t = tokens_of(statements[0], ws);
  if (!t.empty() && rd8(ws, t.back().second - 1) == TT_COMMENT) t.pop_back();
  if (!t.empty()) {
    const std::uint8_t last = single(t.back(), ws);
    // A class header: there is no class-definition mode to take it.
    if (last == kLeftBraceToken || last == kRightBraceToken) defn_error(ws);
  }
  auto system_function = [&](std::uint16_t token) {
    const std::uint8_t type = type_of(token, ws);
    return type == SYM_SYSFN0 || type == SYM_SYSFN;
  };
  auto name_at = [&](std::size_t i) -> std::uint16_t {
    if (i >= t.size() || !is_name(t[i], ws)) defn_error(ws);
    return name_token(t[i], ws);
  };

  // The local names after the first ";".
  std::size_t end = 0;
  while (end < t.size() && single(t[end], ws) != kSemicolonToken) ++end;
  Header h;
  for (std::size_t i = end; i < t.size(); i += 2) {
    const std::uint16_t local = name_at(i + 1);
    if (system_function(local)) defn_error(ws);
    if (i + 2 < t.size() && single(t[i + 2], ws) != kSemicolonToken) defn_error(ws);
    ++h.locals;
  }

  // The result.
  std::size_t begin = 0;
  if (end >= 2 && single(t[1], ws) == kArrowToken) {
    const std::uint16_t z = name_at(0);
    if (type_of(z, ws) == SYM_SYSVAR) defn_error(ws);
    h.result = true;
    begin = 2;
  }

  // The function part: names, and for an operator the parentheses.
  std::vector<std::uint16_t> before, inside, after;
  int parens = 0;  // 0 before "(", 1 inside, 2 after ")"
  for (std::size_t i = begin; i < end; ++i) {
    const std::uint8_t b = single(t[i], ws);
    if (b == kLeftParenToken && parens == 0) {
      parens = 1;
    } else if (b == kRightParenToken && parens == 1) {
      parens = 2;
    } else if (is_name(t[i], ws)) {
      const std::uint16_t n = name_token(t[i], ws);
      if (system_function(n)) defn_error(ws);
      (parens == 0 ? before : parens == 1 ? inside : after).push_back(n);
    } else {
      defn_error(ws);
    }
  }
  auto no_system_variable = [&](std::uint16_t token) {
    if (type_of(token, ws) == SYM_SYSVAR) defn_error(ws);
  };
  if (parens == 0) {
    if (before.empty() || before.size() > 3) defn_error(ws);
    for (std::uint16_t n : before) no_system_variable(n);
    h.name = before.size() == 3 ? before[1] : before[0];
    h.valence = static_cast<int>(before.size()) - 1;
    h.alone = before.size() == 1 && !h.result && h.locals == 0;
    return h;
  }
  if (parens != 2 || before.size() > 1 || inside.empty() || inside.size() > 3 || after.size() != 1) defn_error(ws);
  const bool left = before.size() == 1;
  if (inside.size() == 1) {
    // (F) R and L (F) R: a function header without operands, defining F.
    if (left) no_system_variable(before[0]);
    no_system_variable(inside[0]);
    no_system_variable(after[0]);
    h.name = inside[0];
    h.valence = left ? 2 : 1;
    return h;
  }
  no_system_variable(left ? before[0] : inside[0]);
  h.name = inside[1];
  h.operands = static_cast<int>(inside.size()) - 1;
  h.valence = 1 + (left ? 1 : 0);
  return h;
}

// ---- room and moving lines ----

// Whether `bytes` (with an owner word) fit at the heap top, compacting
// once when they do not.
bool room_for(std::uint32_t bytes, Ws ws) {
  auto fits = [&] {
    return std::uint64_t(rd32(ws, hdr::HeapTop)) + bytes + 4 + kHeapMargin <= rd32(ws, hdr::StackPointer);
  };
  if (fits()) return true;
  force_gcol(ws);
  return fits();
}

// Replaces the line held by the word at `slot` with a copy of `size`
// bytes (zeros past the old end), which takes over its owner, its
// successor and its symbol uses. The room must have been checked.
std::uint32_t resize_line(std::uint32_t slot, std::uint32_t size, Ws ws) {
  const std::uint32_t copy = getspc(size - 8, ws);
  const std::uint32_t old = rd32(ws, slot);
  const std::uint32_t old_size = rd32(ws, old + obj::Size);
  const std::uint32_t owner = rd32(ws, old - 4);
  const std::uint8_t kind = rd8(ws, old) & 0x0F;
  std::memcpy(ws + copy, ws + old, std::min(old_size, size));
  if (size > old_size) std::memset(ws + copy + old_size, 0, size - old_size);
  wr32(ws, copy + obj::Size, size);
  set_owner(copy, owner, kind, ws);
  wr32(ws, slot, copy);
  if (const std::uint32_t next = rd32(ws, copy + fnl::Next)) wr32(ws, next - 4, copy);
  // The old copy goes without its symbol uses and its successor.
  wr8(ws, old + fnl::Marks, rd8(ws, old + fnl::Marks) & ~kHoldsTokenLines);
  wr32(ws, old + fnl::Next, 0);
  mgarb(old, ws);
  return copy;
}

// The header line in the kill slot gets the 8 bytes of a fix time (zero:
// no time yet). WS FULL, as an entry error, when they cannot be had.
void make_room_for_fix_time(Ws ws) {
  const std::uint32_t line = rd32(ws, hdr::KillSlot);
  const std::uint32_t size = fix_time_offset(line, ws) + 8;
  if (rd32(ws, line + obj::Size) >= size) return;
  if (!room_for(size, ws)) entry::wsfull(nullptr, 0, ws);
  resize_line(hdr::KillSlot, size, ws);
}

// The header line in the kill slot becomes the value of the slot.
void install_header(std::uint32_t slot, const Header& h, Ws ws) {
  const std::uint32_t line = rd32(ws, hdr::KillSlot);
  wr32(ws, hdr::KillSlot, 0);
  wr32(ws, slot + sym::Value, line);
  set_owner(line, slot, OK_SYMBOL, ws);
  wr8(ws, slot + sym::Type, (rd8(ws, slot + sym::Type) & kSymLocalFlag) | h.symbol_type());
  wr8(ws, line + fnl::Marks, rd8(ws, line + fnl::Marks) | fnmark::Header);
  wr16(ws, line + fnl::HeaderWord, static_cast<std::uint32_t>(h.valence) | (h.result ? kExplicitResult : 0));
  wr16(ws, line + fnl::Locals, h.locals);
}

// The header flags of the header line in the kill slot.
void mark_header(const Header& h, Ws ws) {
  const std::uint32_t line = rd32(ws, hdr::KillSlot);
  wr8(ws, line + fnl::Marks, rd8(ws, line + fnl::Marks) | fnmark::Header);
  wr16(ws, line + fnl::HeaderWord, static_cast<std::uint32_t>(h.valence) | (h.result ? kExplicitResult : 0));
  wr16(ws, line + fnl::Locals, h.locals);
}

void open_definition(std::uint32_t slot, std::uint16_t token, Ws ws) {
  wr32(ws, hdr::DefEntry, slot);
  wr16(ws, hdr::DefToken, token);
}

// The pool slot of the class being defined (whose methods are the
// definitions made now); kLostMethodClass when there is none.
std::uint32_t defining_class_slot(Ws ws) {
  const std::uint32_t cls = defining_class(ws);
  return cls ? rd32(ws, cls + pobj::OwnSlot) : kLostMethodClass;
}

// A fix from text may not replace a function that runs at a level where
// the name is not shadowed by a local. `cls`: the class slot of a method,
// 0 for a workspace function (a method is never shadowed by a local).
void check_not_running(std::uint16_t token, std::uint32_t cls, Ws ws) {
  std::uint32_t level = 0;  // the current level first, then each frame's saved one
  for (std::uint32_t f = newest_frame(ws); f; f = older_frame(f, ws)) {
    if (cls == 0 && local_record(f, token, ws)) return;
    if (level_runs(token, cls, level, ws)) defn_error(ws);
    level = f;
  }
}

// The header of a method of the class being defined (the line in the
// kill slot): as for a function, with the class's member entry in place
// of the name's symbol. A method is opened for editing by its name alone
// (replaced outright in a fix from text); a new name, or a property
// without a value, becomes a new method; a property with a value is a
// DEFN ERROR. Line 0 replaces the header (renaming the member, which must
// not clash with another).
void method_header(const Header& h, Ws ws) {
  const std::uint16_t s = engine_state(ws);
  std::uint16_t lex = rd16(ws, hdr::LexState);
  const std::uint32_t cls = defining_class_slot(ws);
  if (!(s & st::Defining)) {
    const std::uint32_t me = defining_class_member(h.name, ws);
    const std::uint8_t kind = me != 0 ? rd8(ws, me + mentry::Kind) : std::uint8_t{SYM_UNDEF};
    if (kind != SYM_UNDEF && !is_function_type(kind)) defn_error(ws);
    // The state indicator as for a workspace function, matching only the
    // levels that run this class's method.
    if (s & st::FixingText) {
      check_not_running(h.name, cls, ws);
    } else if (is_function_type(kind)) {
      if (current_level_runs(h.name, cls, ws)) lex |= defst::Executing;
      if (method_on_si(h.name, cls, ws)) {
        lex |= defst::OnSi;
        if (method_pendent(h.name, cls, ws) && !(s & st::Copying)) defn_error(ws);
      }
    }
    if (is_function_type(kind) && !(s & st::FixingText)) {
      if (!h.alone) defn_error(ws);
      if (rd8(ws, rd32(ws, me + mentry::Value) + fnl::Marks) & fnmark::Locked) defn_error(ws);
      clrkil(ws);
    } else {
      if (kind == SYM_UNDEF && (lex & lexst::HeaderBracket)) defn_error(ws);
      make_room_for_fix_time(ws);
      mark_header(h, ws);
      if (take_method_header(h.name, h.symbol_type(), ws) != 0) defn_error(ws);
    }
  } else {
    const std::uint16_t old = rd16(ws, hdr::DefToken);
    if (h.name != old && defining_class_member(h.name, ws) != 0) defn_error(ws);
    make_room_for_fix_time(ws);
    mark_header(h, ws);
    if (rename_defining_member(old, h.name, ws) != 0) ZEMA_SYSTEM_ERROR(ws);
    // The body passes from the old header to the new one; nothing is
    // allocated in between.
    const std::uint32_t old_header = rd32(ws, definition_slot_of(h.name, ws) + sym::Value);
    const std::uint32_t first = rd32(ws, old_header + fnl::Next);
    wr32(ws, old_header + fnl::Next, 0);
    if (take_method_header(h.name, h.symbol_type(), ws) != 0) ZEMA_SYSTEM_ERROR(ws);
    const std::uint32_t header = rd32(ws, definition_slot_of(h.name, ws) + sym::Value);
    wr32(ws, header + fnl::Next, first);
    if (first) set_owner(first, header, OK_NEXTLINE, ws);
    if (lex & defst::Executing) lex |= defst::HeaderReplaced;
  }
  wr16(ws, hdr::LexState, lex);
  open_definition(kMethodSlot, h.name, ws);
  if (lex & lexst::Closed) {
    dfnend(ws);
    return;
  }
  set_state(st::Defining, 0, ws);
  renumber_lines(ws);
}

// ---- closing ----

// Matches the labelled lines of the new body against the label records of
// the newest frame (the function edited is the one executing): each label
// takes its line's new position. Only records of kind 0x7F are labels; the
// control-structure records after them are not. Answers whether the labels
// still agree; `changed` tells whether a label's value moved.
bool relabel(std::uint32_t header, bool* changed, Ws ws) {
  *changed = false;
  const std::uint32_t f = newest_frame(ws);
  if (f == 0) return false;
  const std::uint32_t n = record_count(f, ws);
  std::uint32_t i = 0;
  while (i < n && rd8(ws, record_at(f, i) + record::Kind) != record::Label) ++i;
  auto label_record = [&](std::uint32_t k) { return k < n && rd8(ws, record_at(f, k) + record::Kind) == record::Label; };
  std::int32_t position = 0;
  for (std::uint32_t line = rd32(ws, header + fnl::Next); line; line = rd32(ws, line + fnl::Next)) {
    ++position;
    const std::uint16_t label = rd16(ws, line + fnl::Label);
    if (label == 0) continue;
    if (!label_record(i) || rd16(ws, record_at(f, i) + record::Token) != label) return false;
    ++i;
    const std::uint32_t value = rd32(ws, entry_of_token(label) + sym::Value);
    if (value && rd8(ws, value + obj::Type) == ET_INT && rd16(ws, value + obj::Rank4) == 0 &&
        rdi32(ws, value + obj::Shape) != position) {
      wr32(ws, value + obj::Shape, static_cast<std::uint32_t>(position));
      *changed = true;
    }
  }
  return !label_record(i);
}

void print_internal(const std::string& utf8, Ws ws) { ldprt(utf8_to_internal(utf8), ws); }

}  // namespace

// ---- routes ---------------------------------------------------------------------

void install_definition_routes() {
  LexRoutes& r = lex_routes();
  r.dfnent = dfnent;
  r.dfnhfx = dfnhfx;
  r.lbrksv = lbrksv;
  r.dfnend = dfnend;
}

std::uint32_t definition_slot(Ws ws) {
  const std::uint32_t slot = rd32(ws, hdr::DefEntry);
  return slot == kMethodSlot ? definition_slot_of(rd16(ws, hdr::DefToken), ws) : slot;
}
std::uint32_t definition_header(Ws ws) { return rd32(ws, definition_slot(ws) + sym::Value); }

// ---- lines in ∇ mode --------------------------------------------------------------

int dfnent(Ws ws) {
  if (!state_has(st::Defining, ws)) {
    dfnhfx(ws);
    return state_has(st::Defining, ws) ? dfldn2(ws) : 6;
  }
  const std::uint32_t line = rd32(ws, hdr::KillSlot);
  const std::vector<Statement> s = statements_of(line, ws);
  if (rd16(ws, line + tl::Label) == 0 && s.size() == 1 && s[0].first == s[0].end) {
    clrkil(ws);
    return dfldn2(ws);
  }
  if (rd32(ws, hdr::EditLine) == 0) {
    dfnhfx(ws);
    return state_has(st::Defining, ws) ? dfldn2(ws) : 6;
  }
  file_line(ws);
  return dfldn2(ws);
}

int dfldn2(Ws ws) {
  set_state(st::Defining, 0, ws);
  const bool fixing = state_has(st::FixingText, ws);
  if (fixing && !class_open(ws)) return 6;
  if ((rd16(ws, hdr::LexState) & lexst::Closed) || state_has(st::ExecuteRunning, ws)) return dfnend(ws);
  // A method of a class text being fixed is not typed: no prompt.
  if (!fixing) prompt_line(ws);
  return 6;
}

void dfnhfx(Ws ws) {
  if (is_class_header(ws)) {
    open_class_definition(ws);
    return;
  }
  const Header h = parse_header(rd32(ws, hdr::KillSlot), ws);
  if (defining_method(ws)) {
    method_header(h, ws);
    return;
  }
  const std::uint16_t s = engine_state(ws);
  const bool defining = s & st::Defining;
  std::uint16_t lex = rd16(ws, hdr::LexState);
  const std::uint32_t entry = entry_of_token(h.name);

  if (!defining && (s & st::FixingText)) {
    // A fix from text replaces whatever function the name has; the old
    // value waits at oldfn:: for the fixing code.
    const std::uint8_t type_byte = rd8(ws, entry + sym::Type);
    const std::uint8_t type = type_byte & kSymTypeMask;
    if (type != SYM_UNDEF) {
      if (!is_function_type(type)) defn_error(ws);
      check_not_running(h.name, 0, ws);
    }
    make_room_for_fix_time(ws);
    if (type != SYM_UNDEF) {
      const std::uint32_t old = rd32(ws, entry + sym::Value);
      wr32(ws, oldfn::Value, old);
      if (old) set_owner(old, oldfn::Value, OK_WORD, ws);
      wr32(ws, oldfn::Entry, entry);
      wr8(ws, oldfn::Type, type_byte);
      wr32(ws, entry + sym::Value, 0);
      wr8(ws, entry + sym::Type, (type_byte & kSymLocalFlag) | SYM_UNDEF);
    }
    install_header(entry, h, ws);
    open_definition(entry, h.name, ws);
  } else {
    if (level_runs(h.name, 0, 0, ws)) lex |= defst::Executing;
    if (function_on_si(entry, ws)) {
      lex |= defst::OnSi;
      if (function_pendent(entry, ws) && !(s & st::Copying)) defn_error(ws);
    }
    const std::uint32_t slot = gtglbl(entry, ws);
    const std::uint8_t type = rd8(ws, slot + sym::Type) & kSymTypeMask;
    if (!defining) {
      if (is_function_type(type)) {
        // An existing function is opened for editing; its header stays.
        if (!h.alone) defn_error(ws);
        if (rd8(ws, rd32(ws, slot + sym::Value) + fnl::Marks) & fnmark::Locked) defn_error(ws);
        clrkil(ws);
      } else if (type == SYM_UNDEF) {
        if (lex & lexst::HeaderBracket) defn_error(ws);
        make_room_for_fix_time(ws);
        install_header(slot, h, ws);
      } else {
        defn_error(ws);
      }
      open_definition(slot, h.name, ws);
    } else {
      // Line 0: a new header for the open definition.
      const std::uint32_t old_slot = definition_slot(ws);
      const bool renamed = h.name != rd16(ws, hdr::DefToken);
      if (renamed && type != SYM_UNDEF) defn_error(ws);
      make_room_for_fix_time(ws);
      const std::uint32_t old_header = rd32(ws, old_slot + sym::Value);
      const std::uint32_t first = rd32(ws, old_header + fnl::Next);
      if (renamed) {
        wr32(ws, old_slot + sym::Value, 0);
        wr8(ws, old_slot + sym::Type, (rd8(ws, old_slot + sym::Type) & kSymLocalFlag) | SYM_UNDEF);
      }
      install_header(slot, h, ws);
      const std::uint32_t header = rd32(ws, slot + sym::Value);
      wr32(ws, header + fnl::Next, first);
      if (first) set_owner(first, header, OK_NEXTLINE, ws);
      wr32(ws, old_header + fnl::Next, 0);
      mgarb(old_header, ws);
      if (lex & defst::Executing) lex |= defst::HeaderReplaced;
      open_definition(slot, h.name, ws);
    }
  }

  wr16(ws, hdr::LexState, lex);
  if (lex & lexst::Closed) {
    dfnend(ws);
    return;
  }
  set_state(st::Defining, 0, ws);
  renumber_lines(ws);
}

int dfnend(Ws ws) {
  const std::uint32_t slot = definition_slot(ws);
  const std::uint16_t token = rd16(ws, hdr::DefToken);
  set_indent_levels(rd32(ws, slot + sym::Value), ws);
  timestamp_fn(slot + sym::Value, ws);
  const std::uint32_t header = rd32(ws, slot + sym::Value);
  const std::uint16_t lex = rd16(ws, hdr::LexState);

  if (lex & lexst::Locked) {
    wr8(ws, header + fnl::Marks, rd8(ws, header + fnl::Marks) | fnmark::Locked);
    for (std::uint32_t line = rd32(ws, header + fnl::Next); line; line = rd32(ws, line + fnl::Next))
      wr8(ws, line + fnl::Marks, rd8(ws, line + fnl::Marks) & ~(fnmark::Stop | fnmark::Trace));
  }

  const std::uint32_t cls = rd32(ws, hdr::DefEntry) == kMethodSlot ? defining_class_slot(ws) : 0;
  if (lex & defst::HeaderReplaced) {
    wr32(ws, hdr::FnLineNumber, 0xFFFFFFFFu);
    sier(token, cls, ws);
  } else if (lex & defst::Executing) {
    bool changed = false;
    if (!relabel(header, &changed, ws)) {
      wr32(ws, hdr::FnLineNumber, 0xFFFFFFFFu);
      sier(token, cls, ws);
    } else if (changed && (lex & defst::OnSi)) {
      sier(token, cls, ws);
    }
  } else if (lex & defst::OnSi) {
    sier(token, cls, ws);
  }

  set_state(0, st::Defining, ws);
  wr16(ws, hdr::LexState, 0);
  return 6;
}

// ---- names on the state indicator --------------------------------------------------

std::uint32_t gtglbl(std::uint32_t entry, Ws ws) {
  const std::uint16_t token = static_cast<std::uint16_t>(token_of_entry(entry));
  std::uint32_t slot = entry;
  for (std::uint32_t f = newest_frame(ws); f && (rd8(ws, slot + sym::Type) & kSymLocalFlag); f = older_frame(f, ws))
    if (const std::uint32_t r = local_record(f, token, ws)) slot = r;
  return slot;
}

namespace {
// Walks the frames whose saved calling function is the given symbol (with
// its saved type byte not negative); answers whether any was called from
// one of that function's own lines when `pendent_only`, else whether any
// exists.
bool find_calling_frame(std::uint16_t token, std::uint32_t cls, bool pendent_only, Ws ws) {
  for (std::uint32_t link = rd32(ws, hdr::SiLink); rd32(ws, link) != 0; link = rd32(ws, link)) {
    const std::uint32_t frame = link - siframe::Link;
    if (!level_runs(token, cls, frame, ws)) continue;
    if (!pendent_only || !(rd16(ws, frame + siframe::State) & st::NotFunctionLine)) return true;
  }
  return false;
}
}  // namespace

bool function_on_si(std::uint32_t symbol_entry, Ws ws) {
  return find_calling_frame(static_cast<std::uint16_t>(token_of_entry(symbol_entry)), 0, false, ws);
}
bool function_pendent(std::uint32_t symbol_entry, Ws ws) {
  return find_calling_frame(static_cast<std::uint16_t>(token_of_entry(symbol_entry)), 0, true, ws);
}
bool method_on_si(std::uint16_t token, std::uint32_t cls, Ws ws) { return find_calling_frame(token, cls, false, ws); }
bool method_pendent(std::uint16_t token, std::uint32_t cls, Ws ws) { return find_calling_frame(token, cls, true, ws); }
bool current_level_runs(std::uint16_t token, std::uint32_t cls, Ws ws) { return level_runs(token, cls, 0, ws); }

void sier(std::uint32_t token, std::uint32_t cls, Ws ws) {
  if (!state_has(st::Copying, ws)) {
    if (rd8(ws, hdr::SelectBits) & 0x80) cdisp(kCarriageReturn, ws);
    print_internal("SI DAMAGE", ws);
    cdisp(kCarriageReturn, ws);
  }
  sier2(token, rd32(ws, hdr::SiLink), ws, cls);
}

bool sier2(std::uint32_t token, std::uint32_t head, Ws ws, std::uint32_t cls) {
  bool marked = false;
  for (std::uint32_t f = frame_of_link(head, ws); f; f = older_frame(f, ws)) {
    if (level_runs(static_cast<std::uint16_t>(token), cls, f, ws)) {
      wr32(ws, f + siframe::LineNumber, 0xFFFFFFFFu);
      marked = true;
    }
  }
  return marked;
}

// ---- control-structure depths -----------------------------------------------------------

bool sc_check_single_line(std::uint32_t line, Ws ws) {
  const std::vector<Statement> s = statements_of(line, ws);
  return !s.empty() && role_of_keyword(opening_keyword(s.back(), ws)) == CsRole::Closes;
}

void set_indent_levels(std::uint32_t header, Ws ws) {
  std::uint32_t depth = 0;
  std::uint32_t deepest = 0;
  for (std::uint32_t line = rd32(ws, header + fnl::Next); line; line = rd32(ws, line + fnl::Next)) {
    const std::vector<Statement> s = statements_of(line, ws);
    const CsRole role = s.empty() ? CsRole::None : role_of_keyword(opening_keyword(s.front(), ws));
    std::uint8_t marks = rd8(ws, line + fnl::Marks) & ~fnmark::OneLineCs;
    std::uint32_t listed = depth;
    switch (role) {
      case CsRole::Opens:
        if (sc_check_single_line(line, ws)) marks |= fnmark::OneLineCs;
        else ++depth;
        break;
      case CsRole::Middle: listed = depth ? depth - 1 : 0; break;
      case CsRole::Closes:
        if (depth) --depth;
        listed = depth;
        break;
      case CsRole::None: break;
    }
    wr16(ws, line + fnl::Depth, listed);
    wr8(ws, line + fnl::Marks, marks);
    deepest = std::max(deepest, depth);
  }
  wr16(ws, header + fnl::Depth, deepest);
  wr8(ws, header + fnl::Marks, rd8(ws, header + fnl::Marks) | fnmark::Header);
}

bool comment_alone(std::uint32_t line, Ws ws) {
  const std::vector<Statement> s = statements_of(line, ws);
  if (s.empty() || s[0].first == s[0].end) return false;
  const Tokens t = tokens_of(s[0], ws);
  return t.size() == 1 && rd8(ws, t[0].second - 1) == TT_COMMENT;
}

// ---- fix time ----------------------------------------------------------------------

std::uint32_t fix_time_offset(std::uint32_t header, Ws ws) {
  const std::uint32_t length = get_statement_length(ws, header + tl::Body);
  return (20 + length + 3) & ~3u;
}

void timestamp_fn(std::uint32_t value_slot, Ws ws) {
  std::uint32_t header = rd32(ws, value_slot);
  const std::uint32_t at = fix_time_offset(header, ws);
  if (rd32(ws, header + obj::Size) < at + 8) {
    if (!room_for(at + 8, ws)) return;
    header = resize_line(value_slot, at + 8, ws);
  }
  std::uint32_t date = 0;
  const std::uint32_t time = sup_tds(&date, ws);
  wr32(ws, header + at, time);
  wr32(ws, header + at + 4, date);
}

bool get_timestamp(std::uint32_t header, std::uint32_t* time, std::uint32_t* date, Ws ws) {
  const std::uint32_t at = fix_time_offset(header, ws);
  if (rd32(ws, header + obj::Size) < at + 8 || rd32(ws, header + at + 4) == 0) return true;
  *time = rd32(ws, header + at);
  *date = rd32(ws, header + at + 4);
  return false;
}

bool print_timestamp(std::uint32_t header, Ws ws) {
  std::uint32_t time = 0, date = 0;
  if (get_timestamp(header, &time, &date, ws)) return true;
  wr32(ws, hdr::SaveTime, time);
  wr32(ws, hdr::SaveDate, date);
  cdisp(kBlank, ws);
  cdisp(kBlank, ws);
  fmttd(ws);
  return false;
}


}  // namespace zema
