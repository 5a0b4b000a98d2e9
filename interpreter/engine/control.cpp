// Branches and control structures.
#include "interpreter/engine/trace.h"
#include "interpreter/engine/control.h"

#include <cstring>
#include <string>

#include "host/charset.h"
#include "interpreter/engine/assign.h"
#include "interpreter/engine/evaluation.h"
#include "interpreter/engine/call.h"
#include "interpreter/engine/engine.h"
#include "interpreter/engine/fast_statement.h"
#include "interpreter/engine/function_object.h"
#include "interpreter/engine/statement_end.h"
#include "interpreter/primitives/structural.h"
#include "interpreter/reader/entry_errors.h"
#include "interpreter/reader/token_format.h"
#include "interpreter/reader/tokeniser.h"
#include "interpreter/workspace/arrays.h"
#include "interpreter/workspace/errors.h"
#include "interpreter/workspace/heap.h"
#include "interpreter/workspace/integrity.h"
#include "interpreter/workspace/object_pool.h"
#include "interpreter/workspace/stack.h"
#include "interpreter/workspace/symtab.h"
#include "interpreter/workspace/sysvar_slots.h"

namespace zema {

namespace {

bool is_opener(std::uint8_t t) { return t >= kw::If && t <= kw::Try && (t & 1); }
bool is_closer(std::uint8_t t) { return t == kw::EndTry || (t >= kw::End && t <= kw::Until && (t & 1)); }
bool is_middle(std::uint8_t t) {
  return t == kw::CatchIf || t == kw::CatchAll || (t >= kw::Else && t <= kw::CaseList && (t & 1));
}
bool is_end(std::uint8_t t) { return t >= kw::End && t <= kw::EndSelect && (t & 1); }
bool is_loop(std::uint8_t kind) { return kind == csk::For || kind == csk::While || kind == csk::Repeat; }

std::uint8_t arrow_token() {
  static const std::uint8_t t = glyph_token("→");
  return t;
}
std::uint8_t paren_token(bool left) {
  static const std::uint8_t l = glyph_token("("), r = glyph_token(")");
  return left ? l : r;
}
std::uint8_t iota_code() {
  static const std::uint8_t c = primitive_code(static_cast<std::uint8_t>(utf8_to_internal("⍳")[0]));
  return c;
}

// The statement's entries are released down to its primer, which stays:
// an error raised afterwards unwinds as from any statement.
void clear_statement(Ws ws) {
  clrstk(ws);
  stack(primer, ws);
}

// A handler's answer: the states that end the statement drop its primer.
int finish(int state, Ws ws) {
  if (state == ES_NEXT_STATEMENT || state == ES_STATEMENT_END) {
    if (!is_primer(0, ws)) ZEMA_SYSTEM_ERROR(ws);
    wr32(ws, hdr::StackPointer, rd32(ws, hdr::StackPointer) + kStackEntrySize);
  }
  return state;
}

bool in_function(Ws ws) { return !state_has(st::NotFunctionLine, ws); }
std::uint32_t line_number(Ws ws) { return rd32(ws, hdr::FnLineNumber); }

// ---- statements of a token line (offsets relative to the line) ----------------------

std::uint32_t stmt_length(std::uint32_t line, std::uint32_t s, Ws ws) { return get_statement_length(ws, line + s); }

// The statement of `line` that holds offset `at`.
std::uint32_t stmt_holding(std::uint32_t line, std::uint32_t at, Ws ws) {
  std::uint32_t s = tl::Body;
  for (;;) {
    const std::uint32_t n = stmt_length(line, s, ws);
    if (n == 0 || at < s + n) return s;
    s += n;
  }
}

// The one-byte token that begins statement `s` of `line`, 0 when it begins
// with anything else.
std::uint8_t first_keyword(std::uint32_t line, std::uint32_t s, Ws ws) {
  const std::uint32_t first = line + s + get_statement_head(ws, line + s);
  std::uint32_t c = line + s + stmt_length(line, s, ws);
  if (c <= first) return 0;
  std::uint32_t after = c;
  while (c > first) {
    after = c;
    c = skipsl(c, ws);
  }
  if (c != first || after - c != 1) return 0;
  const std::uint8_t b = rd8(ws, c);
  return (b & 1) ? b : 0;
}

// ---- records -------------------------------------------------------------------------

// The record of control-structure depth `depth`; when there is none,
// STRUCTURED CONTROL ERROR, or 0 with `quiet`.
std::uint32_t record_at(std::uint32_t depth, Ws ws, bool quiet = false) {
  std::uint16_t state = engine_state(ws);
  std::uint32_t frame = si_frame(ws);
  while ((state & st::ValueAwaited) && frame) {
    state = rd16(ws, frame + siframe::State);
    const std::uint32_t link = rd32(ws, frame + siframe::Link);
    frame = rd32(ws, link) ? link - siframe::Link : 0;
  }
  if ((state & st::NotFunctionLine) || frame == 0) {
    if (depth != 0) {
      if (quiet) return 0;
      sc_error(ws);
    }
    wr8(ws, hdr::ImmediateCs, kRecControl);
    return hdr::ImmediateCs;
  }
  const std::uint32_t n = static_cast<std::uint32_t>(rdi16(ws, frame + siframe::Count)) + 1;
  const std::uint32_t r = depth < n ? frame - siframe::RecordSize * (n - depth) : 0;
  if (r == 0 || rd8(ws, r) != kRecControl) {
    if (quiet) return 0;
    sc_error(ws);
  }
  return r;
}

std::uint32_t line_depth(Ws ws) {
  const std::uint32_t line = current_line(ws);
  return line ? rd16(ws, line + tl::CsDepth) : 0;
}

std::uint32_t current_record(Ws ws) { return record_at(line_depth(ws), ws); }

std::uint8_t record_kind(std::uint32_t r, Ws ws) { return rd8(ws, r + 1); }

void clear_record(std::uint32_t r, Ws ws) {
  if (std::uint32_t v = rd32(ws, r + 4)) {
    wr32(ws, r + 4, 0);
    mgarb(v, ws);
  }
  wr8(ws, r + 1, 0);
  wr32(ws, r + 8, 0);
}

std::uint32_t setup_record(std::uint8_t kind, Ws ws) {
  const std::uint32_t r = current_record(ws);
  clear_record(r, ws);
  wr8(ws, r + 1, kind);
  wr16(ws, r + 2, line_number(ws));
  return r;
}

// The record of the current depth, which must be of `kind`.
std::uint32_t record_of_kind(std::uint8_t kind, Ws ws) {
  const std::uint32_t r = current_record(ws);
  if (record_kind(r, ws) != kind) sc_error(ws);
  return r;
}

// Clears the records deeper than `depth` (the structures nested inside
// it); a :Try among them gives back the trap word it saved, the outermost
// last.
void clear_records_inside(std::uint32_t depth, Ws ws) {
  if (!in_function(ws)) return;
  const std::uint32_t frame = si_frame(ws);
  const std::uint32_t n = static_cast<std::uint32_t>(rdi16(ws, frame + siframe::Count)) + 1;
  for (std::uint32_t k = n - 1; k > depth; --k) {
    const std::uint32_t r = frame - siframe::RecordSize * (n - k);
    if (rd8(ws, r) != kRecControl) continue;
    if (record_kind(r, ws) == csk::Try && (rd16(ws, r + 2) & 0xF) != cstry::Catching)
      wr32(ws, hdr::TrapWord, rd32(ws, r + 8));
    clear_record(r, ws);
  }
}

// ---- where execution goes on -----------------------------------------------------------

// A clause found by a search: on line `line` of the function (its first
// statement), or, with `same` set, the statement at `stmt` of the current line.
struct Clause {
  std::uint8_t token = 0;
  bool same = false;
  std::uint32_t line = 0;
  std::uint32_t stmt = 0;
};

// Starts statement `s` of the current line (the stack already cleared).
int start_statement(std::uint32_t s, Ws ws) {
  const std::uint32_t line = current_line(ws);
  wr32(ws, hdr::LineCursor, s + stmt_length(line, s, ws));
  wr32(ws, hdr::TokensTaken, 0);
  wr8(ws, hdr::FirstTag, rd8(ws, line + s + get_statement_head(ws, line + s)));
  set_state(st::StatementStarted, 0, ws);
  return ES_STATEMENT_START;
}

// Goes on after statement `s` of the current line.
int after_statement(std::uint32_t s, Ws ws) {
  const std::uint32_t line = current_line(ws);
  const std::uint32_t next = s + stmt_length(line, s, ws);
  if (stmt_length(line, next, ws) == 0) return ES_STATEMENT_END;
  return start_statement(next, ws);
}

// Runs line `n` of the function from its start.
int run_line(std::uint32_t n, Ws ws) {
  wr32(ws, hdr::FnLineNumber, n - 1);
  return ES_STATEMENT_END;
}

// Goes on after the first statement of line `n`.
int after_first_statement(std::uint32_t n, Ws ws) {
  const std::uint32_t fl = xffndl(n, ws);
  if (fl == 0) return run_line(n, ws);
  if (stmt_length(fl, tl::Body + stmt_length(fl, tl::Body, ws), ws) == 0) {
    wr32(ws, hdr::FnLineNumber, n);
    return ES_STATEMENT_END;
  }
  // Start the line as the engine does, then move past its first statement.
  clrstk(ws);
  set_state(0, st::StatementStarted, ws);
  if (std::uint32_t line = current_line(ws)) {
    wr32(ws, hdr::CurrentLine, 0);
    mgarb(line, ws);
  }
  wr32(ws, hdr::FnLineNumber, n - 1);
  const int state = eolfnx(ws);
  if (state != ES_LINE_START) {
    stack(primer, ws);
    return state;
  }
  wr8(ws, hdr::FirstTag, 0);
  set_state(st::Executing, 0, ws);
  const std::uint32_t line = rd32(ws, hdr::KillSlot);
  wr32(ws, hdr::KillSlot, 0);
  linsu(line, ws);
  poll_line_start(ws);
  return after_statement(tl::Body, ws);
}

int go_to(const Clause& c, Ws ws) { return c.same ? start_statement(c.stmt, ws) : run_line(c.line, ws); }
int go_after(const Clause& c, Ws ws) {
  return c.same ? after_statement(c.stmt, ws) : after_first_statement(c.line, ws);
}

// The next line at `depth` after line `from` of the function, and the
// keyword that begins it; token 0 when the structure does not go on.
Clause next_line_at(std::uint32_t from, std::uint32_t depth, Ws ws) {
  Clause c;
  if (!in_function(ws)) return c;
  std::uint32_t n = from + 1;
  for (std::uint32_t fl = xffndl(n, ws); fl; fl = rd32(ws, fl + fnl::Next), ++n) {
    const std::uint32_t d = rd16(ws, fl + fnl::Depth);
    if (d > depth) continue;
    if (d < depth) return c;
    c.line = n;
    c.token = first_keyword(fl, tl::Body, ws);
    return c;
  }
  return c;
}

// The statement being run: its offset in the current line.
std::uint32_t current_statement(Ws ws) { return stmt_holding(current_line(ws), rd32(ws, hdr::LineCursor), ws); }

// The next clause of the structure the current statement belongs to: first
// among the following statements of the same line (a nested structure
// opening there is a STRUCTURED CONTROL ERROR), then among the following
// lines at the current depth. Token 0 when there is none.
Clause skip_block(std::uint32_t from_stmt, Ws ws) {
  const std::uint32_t line = current_line(ws);
  Clause c;
  std::uint32_t s = from_stmt + stmt_length(line, from_stmt, ws);
  while (stmt_length(line, s, ws) != 0) {
    const std::uint8_t t = first_keyword(line, s, ws);
    if (is_opener(t)) sc_error(ws);
    if (is_middle(t) || is_closer(t)) {
      c.token = t;
      c.same = true;
      c.stmt = s;
      return c;
    }
    s += stmt_length(line, s, ws);
  }
  return next_line_at(line_number(ws), line_depth(ws), ws);
}

// The clause after the current statement.
Clause skip_from_here(Ws ws) { return skip_block(current_statement(ws), ws); }

// From a clause found, the next one of the same structure.
Clause skip_from(const Clause& c, std::uint32_t depth, Ws ws) {
  if (c.same) return skip_block(c.stmt, ws);
  return next_line_at(c.line, depth, ws);
}

// ---- values ------------------------------------------------------------------------------

// The array of the value entry 1 from the top.
std::uint32_t value_array(Ws ws) { return find_ws_entry(stack_entry_at(1, ws), ws); }

// A scalar or one-element vector holding an integer.
std::int32_t single_integer(std::uint32_t a, Ws ws) {
  const std::uint32_t rank = array_rank(a, ws);
  if (rank > 1) ranker(ws);
  if (rank == 1 && array_axis(a, 0, ws) != 1) lener(ws);
  return getint(array_type(a, ws), array_data(a, ws), ws);
}

bool condition(std::uint32_t a, Ws ws) {
  const std::int32_t v = single_integer(a, ws);
  if (v != 0 && v != 1) domner(ws);
  return v == 1;
}

// ---- :If and its clauses ---------------------------------------------------------------

// After a false condition: the next clause that may run.
int if_search(std::uint32_t r, Ws ws) {
  const std::uint32_t depth = line_depth(ws);
  Clause c = skip_from_here(ws);
  for (;;) {
    switch (c.token) {
      case kw::AndIf: c = skip_from(c, depth, ws); continue;
      case kw::ElseIf:
      case kw::OrIf: return go_to(c, ws);
      case kw::Else: return go_after(c, ws);
      case kw::EndIf:
      case kw::End: clear_record(r, ws); return go_after(c, ws);
      default: sc_error(ws);
    }
  }
}

// After a block that ran: on to the structure's end.
int to_end(std::uint32_t r, std::uint32_t from_stmt, Ws ws) {
  const std::uint32_t depth = line_depth(ws);
  Clause c = skip_block(from_stmt, ws);
  for (;;) {
    if (c.token == kw::EndIf || c.token == kw::EndSelect || c.token == kw::End || c.token == kw::EndTry) {
      clear_record(r, ws);
      return go_after(c, ws);
    }
    if (!is_middle(c.token)) sc_error(ws);
    c = skip_from(c, depth, ws);
  }
}

int sc_if(bool cond, Ws ws) {
  const std::uint32_t r = setup_record(csk::If, ws);
  if (cond) {
    wr32(ws, r + 8, 1);
    return ES_NEXT_STATEMENT;
  }
  return if_search(r, ws);
}

int sc_elseif(bool cond, Ws ws) {
  const std::uint32_t r = record_of_kind(csk::If, ws);
  if (cond) {
    wr32(ws, r + 8, 1);
    return ES_NEXT_STATEMENT;
  }
  return if_search(r, ws);
}

int sc_andif(bool cond, Ws ws) {
  const std::uint32_t r = record_of_kind(csk::If, ws);
  wr32(ws, r + 8, 0);
  if (cond) {
    wr32(ws, r + 8, 1);
    return ES_NEXT_STATEMENT;
  }
  return if_search(r, ws);
}

int sc_else(Ws ws) {
  const std::uint32_t r = current_record(ws);
  if (record_kind(r, ws) != csk::If && record_kind(r, ws) != csk::Select) sc_error(ws);
  return to_end(r, current_statement(ws), ws);
}

// ---- loops ------------------------------------------------------------------------------

// Statement offset of the loop's opening statement in the current line
// (a loop written on one line), searching back from the current statement.
std::uint32_t opening_statement(std::uint8_t token, Ws ws) {
  const std::uint32_t line = current_line(ws);
  const std::uint32_t here = current_statement(ws);
  std::uint32_t found = 0;
  for (std::uint32_t s = tl::Body; s < here; s += stmt_length(line, s, ws))
    if (first_keyword(line, s, ws) == token) found = s;
  if (found == 0) sc_error(ws);
  return found;
}

bool same_line(std::uint32_t r, Ws ws) { return !in_function(ws) || rd16(ws, r + 2) == line_number(ws); }

// Back to the loop's opening statement (:While evaluates its condition again).
int loop_reopen(std::uint32_t r, std::uint8_t token, Ws ws) {
  if (same_line(r, ws)) return start_statement(opening_statement(token, ws), ws);
  return run_line(rd16(ws, r + 2), ws);
}

// On with the statement after the loop's opening statement.
int loop_body(std::uint32_t r, std::uint8_t token, Ws ws) {
  if (same_line(r, ws)) return after_statement(opening_statement(token, ws), ws);
  return after_first_statement(rd16(ws, r + 2), ws);
}

// Passes over to the loop's end clause and goes on after it.
int leave_loop(std::uint32_t r, Ws ws) {
  Clause c = skip_from_here(ws);
  if (!is_end(c.token) && c.token != kw::Until) sc_error(ws);
  clear_record(r, ws);
  return go_after(c, ws);
}

int sc_while(bool cond, Ws ws) {
  const std::uint32_t r = setup_record(csk::While, ws);
  if (cond) return ES_NEXT_STATEMENT;
  return leave_loop(r, ws);
}

int sc_repeat(bool counted, std::int32_t count, Ws ws) {
  if (counted && count < 0) domner(ws);
  const std::uint32_t r = setup_record(csk::Repeat, ws);
  wr32(ws, r + 8, counted ? static_cast<std::uint32_t>(count) : 0xFFFFFFFFu);
  if (counted && count == 0) return leave_loop(r, ws);
  return ES_NEXT_STATEMENT;
}

std::int32_t kept_count(std::uint32_t a, Ws ws) {
  if (array_rank(a, ws) > 1) ranker(ws);
  return static_cast<std::int32_t>(array_rank(a, ws) == 0 ? 1 : array_axis(a, 0, ws));
}

// The names of a :For statement written as (A B …): the tokens between the
// parentheses that lie left of `in_at` (the :In token), and the cursor left
// of them. Answers the number of names.
int names_before(std::uint32_t line_abs_in, std::uint16_t* names, int max, std::uint32_t& left, Ws ws) {
  std::uint32_t c = line_abs_in;
  std::uint32_t before = skipsl(c, ws);
  if (c - before == 2) {  // a name
    names[0] = static_cast<std::uint16_t>((rd8(ws, before) << 8) | rd8(ws, before + 1));
    left = before;
    return 1;
  }
  if (c - before != 1 || rd8(ws, before) != paren_token(false)) synter_badline(ws);
  int n = 0;
  c = before;
  for (;;) {
    before = skipsl(c, ws);
    if (c - before == 1 && rd8(ws, before) == paren_token(true)) break;
    if (c - before != 2 || n == max) synter_badline(ws);
    ++n;
    c = before;
  }
  if (n == 0) synter_badline(ws);
  // Left to right.
  std::uint32_t at = before + 1;
  for (int i = 0; i < n; ++i, at += 2) names[i] = static_cast<std::uint16_t>((rd8(ws, at) << 8) | rd8(ws, at + 1));
  left = before;
  return n;
}

constexpr int kMaxForNames = 32;

// The :For statement's names, read from its line (the current line when
// the loop is written on one line).
int for_names(std::uint32_t r, std::uint16_t* names, Ws ws) {
  std::uint32_t line = 0;
  if (same_line(r, ws))
    line = current_line(ws);
  else
    line = xffndl(rd16(ws, r + 2), ws);
  if (line == 0) sc_error(ws);
  for (std::uint32_t s = tl::Body; stmt_length(line, s, ws); s += stmt_length(line, s, ws)) {
    if (first_keyword(line, s, ws) != kw::For) continue;
    // The :In token: walk back from the statement's end.
    const std::uint32_t first = line + s + get_statement_head(ws, line + s);
    std::uint32_t c = line + s + stmt_length(line, s, ws);
    while (c > first) {
      const std::uint32_t b = skipsl(c, ws);
      if (c - b == 1 && rd8(ws, b) == kw::In) {
        std::uint32_t left = 0;
        return names_before(b, names, kMaxForNames, left, ws);
      }
      c = b;
    }
  }
  sc_error(ws);
}

// Gives the name `token` the scalar or item `i` of the array at `a` (a
// compact sequence, a simple array or a nested one): a scalar of the same
// type that the name holds is overwritten in place.
void assign_item(std::uint16_t token, std::uint32_t slot, std::uint32_t rel, std::uint32_t i, Ws ws) {
  const std::uint32_t e = entry_of_token(token);
  const std::uint8_t type_byte = rd8(ws, e + sym::Type);
  const std::uint8_t kind = type_byte & kSymTypeMask;
  if (kind != SYM_VAR && kind != SYM_UNDEF) synter_class(ws);
  std::uint32_t a = rd32(ws, slot) + rel;
  const std::uint8_t t = array_type(a, ws);
  const std::uint32_t old = kind == SYM_VAR ? rd32(ws, e + sym::Value) : 0;
  std::uint32_t fresh = 0;
  if (t == ET_NESTED) {
    const std::uint32_t item = a + rd32(ws, array_data(a, ws) + 4 * i);
    const std::uint32_t size = rd32(ws, item + obj::Size);
    fresh = getspc(size - 8, ws);
    a = rd32(ws, slot) + rel;
    const std::uint32_t src = a + rd32(ws, array_data(a, ws) + 4 * i);
    std::memmove(ws + fresh + 8, ws + src + 8, size - 8);
  } else {
    std::uint8_t et = t;
    std::uint32_t bytes = 4;
    std::uint8_t word[8] = {};
    const std::uint32_t d = array_data(a, ws);
    switch (t) {
      case ET_INDEXVEC: {
        et = ET_INT;
        const std::int32_t v = rdi32(ws, d) + static_cast<std::int32_t>(i);
        std::memcpy(word, &v, 4);
        break;
      }
      case ET_BOOL: {
        const std::uint32_t v = bit_at(d, i, ws) ? 0x80000000u : 0;
        std::memcpy(word, &v, 4);
        break;
      }
      case ET_INT: std::memcpy(word, ws + d + 4 * i, 4); break;
      case ET_FLOAT: std::memcpy(word, ws + d + 8 * i, 8); bytes = 8; break;
      case ET_CHAR: word[0] = rd8(ws, d + i); break;
      default: domner(ws);
    }
    if (old && array_type(old, ws) == et && array_rank(old, ws) == 0) {
      // Overwritten in place, once the entries that read it have their own.
      settle_readers_below(e, ws);
      std::memcpy(ws + rd32(ws, e + sym::Value) + obj::Shape, word, bytes);
      return;
    }
    fresh = getspc(4 + bytes, ws);
    wr8(ws, fresh + obj::Type, et);
    wr16(ws, fresh + obj::Rank4, 0);
    std::memcpy(ws + fresh + obj::Shape, word, bytes);
  }
  const std::uint32_t prev = (rd8(ws, e + sym::Type) & kSymTypeMask) == SYM_VAR ? rd32(ws, e + sym::Value) : 0;
  count_value_references(fresh, ws);
  wr32(ws, e + sym::Value, fresh);
  wr8(ws, e + sym::Type, (rd8(ws, e + sym::Type) & ~kSymTypeMask) | SYM_VAR);
  // A global name's value holds one use of it, as an assignment's does: a
  // name the loop gives its first value keeps its entry when the line that
  // named it goes.
  if (!prev && !(type_byte & kSymLocalFlag)) wr16(ws, e + sym::Uses, rd16(ws, e + sym::Uses) + 1);
  set_owner(fresh, e, OK_SYMBOL, ws);
  if (prev && !settle_name_readers(e, prev, 0, ws)) mgarb(prev, ws);
}

// Assigns the loop's next item; false when none is left.
bool sc_in_assign(std::uint32_t r, Ws ws) {
  const std::uint32_t kept = rd32(ws, r + 4);
  const std::uint32_t i = rd32(ws, r + 8);
  if (i >= static_cast<std::uint32_t>(kept_count(kept, ws))) return false;
  const std::uint16_t token = rd16(ws, kept + obj::Arch);
  if (token) {
    assign_item(token, r + 4, 0, i, ws);
  } else {
    std::uint16_t names[kMaxForNames];
    const int n = for_names(r, names, ws);
    std::uint32_t item = rd32(ws, r + 4);
    std::uint32_t rel = 0;
    if (array_type(item, ws) == ET_NESTED) {
      rel = rd32(ws, array_data(item, ws) + 4 * i);
      item += rel;
    }
    if (array_rank(item, ws) != 1 || array_axis(item, 0, ws) != static_cast<std::uint32_t>(n) || rel == 0) lener(ws);
    for (int k = 0; k < n; ++k) assign_item(names[k], r + 4, rel, static_cast<std::uint32_t>(k), ws);
  }
  wr32(ws, r + 8, i + 1);
  return true;
}

// The value of entry 1 for the record `r` to keep: a temporary taken
// over, a name's value copied; the record's value word owns it.
void keep_value(std::uint32_t r, Ws ws) {
  const std::uint32_t ve = stack_entry_at(1, ws);
  find_ws_entry(ve, ws);
  std::uint32_t kept = 0;
  if (rd8(ws, ve) & kOwnsObject) {
    kept = rd32(ws, ve + se::Value);
    wr8(ws, ve + se::Class, TC_VALUE);
    wr32(ws, ve + se::Value, 0);
  } else {
    kept = copy_array(entry_of_token(rd16(ws, ve + se::Value)) + sym::Value, ws);
  }
  wr32(ws, r + 4, kept);
  wr8(ws, kept + obj::Kind, OK_WORD);
  set_owner(kept, r + 4, OK_WORD, ws);
}

// :For names :In value, the loop's array kept in the record `r`; `in_at`
// is the :In token's offset in the workspace.
int sc_for_in(std::uint32_t r, std::uint32_t in_at, Ws ws) {
  const std::uint32_t line = current_line(ws);
  const std::uint32_t s = stmt_holding(line, in_at - line, ws);
  std::uint16_t names[kMaxForNames];
  std::uint32_t left = 0;
  const int n = names_before(in_at, names, kMaxForNames, left, ws);
  const std::uint32_t first = line + s + get_statement_head(ws, line + s);
  if (left != first + 1 || rd8(ws, first) != kw::For) synter_badline(ws);
  const std::uint32_t kept = rd32(ws, r + 4);
  wr16(ws, kept + obj::Arch, n == 1 ? names[0] : 0);
  kept_count(kept, ws);
  clear_statement(ws);
  // The statement is taken to its opening tag, as the engine leaves one.
  wr32(ws, hdr::LineCursor, s + get_statement_head(ws, line + s) - 1);
  set_token_register(StackEntry{TC_EDGE, 0, 0}, ws);
  if (sc_in_assign(r, ws)) return ES_NEXT_STATEMENT;
  return leave_loop(r, ws);
}

int sc_in(Ws ws) {
  const std::uint32_t r = setup_record(csk::For, ws);
  keep_value(r, ws);
  // The :In token: walk back from the statement's end.
  const std::uint32_t line = current_line(ws);
  const std::uint32_t s = current_statement(ws);
  const std::uint32_t first = line + s + get_statement_head(ws, line + s);
  std::uint32_t c = line + s + stmt_length(line, s, ws);
  while (c > first) {
    const std::uint32_t b = skipsl(c, ws);
    if (c - b == 1 && rd8(ws, b) == kw::In) return sc_for_in(r, b, ws);
    c = b;
  }
  ZEMA_SYSTEM_ERROR(ws);
}

// :End and its forms, :EndTry, and :Until's condition.
int sc_end(Ws ws) {
  const std::uint32_t r = current_record(ws);
  switch (record_kind(r, ws)) {
    case csk::If:
    case csk::Select: clear_record(r, ws); return ES_NEXT_STATEMENT;
    case csk::Try: {
      const std::uint16_t word = rd16(ws, r + 2);
      wr32(ws, hdr::TrapWord, rd32(ws, r + 8));
      clear_record(r, ws);
      if ((word & 0xF) == cstry::Catching) {
        // No clause took the error: it is raised again here, where an outer
        // trap may take it.
        error(word >> 4, rd16(ws, hdr::EtMajor), rd16(ws, hdr::EtMinor), ws);
      }
      return ES_NEXT_STATEMENT;
    }
    case csk::For:
      if (sc_in_assign(r, ws)) return loop_body(r, kw::For, ws);
      clear_record(r, ws);
      return ES_NEXT_STATEMENT;
    case csk::While: return loop_reopen(r, kw::While, ws);
    case csk::Repeat: {
      const std::uint32_t count = rd32(ws, r + 8);
      if (count == 0xFFFFFFFFu) return loop_body(r, kw::Repeat, ws);
      if (count <= 1) {
        clear_record(r, ws);
        return ES_NEXT_STATEMENT;
      }
      wr32(ws, r + 8, count - 1);
      return loop_body(r, kw::Repeat, ws);
    }
    default: sc_error(ws);
  }
}

int sc_until(bool cond, Ws ws) {
  const std::uint32_t r = current_record(ws);
  const std::uint8_t kind = record_kind(r, ws);
  if (kind != csk::While && kind != csk::Repeat) sc_error(ws);
  if (cond) {
    clear_record(r, ws);
    return ES_NEXT_STATEMENT;
  }
  if (kind == csk::While) return loop_reopen(r, kw::While, ws);
  return sc_end(ws);
}

// :Leave and :Continue, alone or naming the loop's line.
int sc_leave(bool leave, bool named, std::int32_t target, Ws ws) {
  if (named && target < 1) domner(ws);
  std::uint32_t depth = line_depth(ws);
  std::uint32_t r = 0;
  for (;;) {
    r = record_at(depth, ws);
    if (is_loop(record_kind(r, ws)) && (!named || rd16(ws, r + 2) == static_cast<std::uint32_t>(target))) break;
    if (depth == 0) sc_error(ws);
    --depth;
  }
  clear_records_inside(depth, ws);
  Clause c;
  if (same_line(r, ws) && depth == line_depth(ws)) {
    c = skip_from_here(ws);
  } else {
    c = next_line_at(line_number(ws), depth, ws);
  }
  if (!is_end(c.token) && c.token != kw::Until) sc_error(ws);
  if (!leave) return go_to(c, ws);
  clear_record(r, ws);
  return go_after(c, ws);
}

// ---- :Select -------------------------------------------------------------------------------

bool simple_item_matches(std::uint32_t list, std::uint32_t i, std::uint32_t kept, Ws ws) {
  if (array_rank(kept, ws) != 0 || array_type(kept, ws) == ET_NESTED) return false;
  const ArrayInfo l = array_info(list, ws), k = array_info(kept, ws);
  const Elem a = elem_at(l, i, ws), b = elem_at(k, 0, ws);
  if ((a.type == ET_CHAR) != (b.type == ET_CHAR)) return false;
  if (a.type == ET_CHAR) return a.i == b.i;
  if (!is_numeric(a.type) || !is_numeric(b.type)) return false;
  return elem_equal(a, b, ct_value(ws));
}

int case_miss(std::uint32_t r, Ws ws) {
  const Clause c = skip_from_here(ws);
  switch (c.token) {
    case kw::Else: return go_after(c, ws);
    case kw::Case:
    case kw::CaseList: return go_to(c, ws);
    case kw::EndSelect:
    case kw::End: clear_record(r, ws); return go_after(c, ws);
    default: sc_error(ws);
  }
}

int sc_case(bool list, Ws ws) {
  const std::uint32_t r = record_of_kind(csk::Select, ws);
  if (rd32(ws, r + 8)) {
    clear_statement(ws);
    return to_end(r, current_statement(ws), ws);
  }
  const std::uint32_t v = value_array(ws);
  const std::uint32_t kept = rd32(ws, r + 4);
  bool hit = false;
  if (!list || array_rank(v, ws) == 0) {
    hit = arrays_match(v, kept, ws);
  } else {
    if (array_rank(v, ws) > 1) ranker(ws);
    const std::uint32_t n = array_axis(v, 0, ws);
    for (std::uint32_t i = 0; i < n && !hit; ++i) {
      if (array_type(v, ws) == ET_NESTED)
        hit = arrays_match(v + rd32(ws, array_data(v, ws) + 4 * i), rd32(ws, r + 4), ws);
      else
        hit = simple_item_matches(v, i, rd32(ws, r + 4), ws);
    }
  }
  clear_statement(ws);
  if (hit) {
    wr32(ws, r + 8, 1);
    return ES_NEXT_STATEMENT;
  }
  return case_miss(r, ws);
}

int sc_select(Ws ws) {
  keep_value(setup_record(csk::Select, ws), ws);
  clear_statement(ws);
  return ES_NEXT_STATEMENT;
}

// ---- :Try --------------------------------------------------------------------------------

int sc_try(Ws ws) {
  const std::uint32_t r = setup_record(csk::Try, ws);
  wr16(ws, r + 2, cstry::Block);
  wr32(ws, r + 8, rd32(ws, hdr::TrapWord));
  wr32(ws, hdr::TrapWord, rd32(ws, hdr::TrapWord) | kTrapInTry);
  return ES_NEXT_STATEMENT;
}

// A try or catch block has ended normally: the trap word saved at :Try
// comes back, and execution goes on after :EndTry.
int try_done(std::uint32_t r, Ws ws) {
  wr32(ws, hdr::TrapWord, rd32(ws, r + 8));
  wr16(ws, r + 2, cstry::CatchBlock);
  const std::uint32_t depth = line_depth(ws);
  Clause c = next_line_at(line_number(ws), depth, ws);
  while (c.token == kw::CatchIf || c.token == kw::CatchAll) c = next_line_at(c.line, depth, ws);
  if (c.token != kw::EndTry && c.token != kw::End) sc_error(ws);
  clear_record(r, ws);
  return go_after(c, ws);
}

// Whether the :Try of a catch clause stands on the clause's own line (a
// :Try record keeps its state where other records keep their line, so the
// line's statements before the clause are searched).
bool try_on_this_line(Ws ws) {
  if (!in_function(ws)) return true;
  const std::uint32_t line = current_line(ws);
  const std::uint32_t here = current_statement(ws);
  for (std::uint32_t s = tl::Body; s < here; s += stmt_length(line, s, ws))
    if (first_keyword(line, s, ws) == kw::Try) return true;
  return false;
}

int sc_catch(bool all, bool cond, Ws ws) {
  const std::uint32_t r = record_of_kind(csk::Try, ws);
  if (try_on_this_line(ws)) {
    // A :Try written on one line is refused: its trap is given up first, so
    // that the refusal is not taken by the :Try itself and its note shows.
    wr32(ws, hdr::TrapWord, rd32(ws, r + 8));
    clear_record(r, ws);
    raise_extended_error_ascii(E_STRUCTURED_CONTROL, "Single-line :Try block is not legal", ws);
  }
  if ((rd16(ws, r + 2) & 0xF) != cstry::Catching) return try_done(r, ws);
  if (all || cond) {
    wr16(ws, r + 2, cstry::CatchBlock);
    return ES_NEXT_STATEMENT;
  }
  const Clause c = next_line_at(line_number(ws), line_depth(ws), ws);
  if (c.token == kw::CatchIf || c.token == kw::CatchAll || c.token == kw::EndTry || c.token == kw::End)
    return go_to(c, ws);
  sc_error(ws);
}

// ---- the branch ----------------------------------------------------------------------------

int branch_escape(Ws ws) {
  if (line_traced(ws)) trace_branch(BranchTarget::Escape, 0, ws);
  clear_statement(ws);
  // Out of ⎕EC's text (or a ⍎ in it): ⎕EC answers return code 5.
  if ((rd32(ws, hdr::TrapWord) & kTrapExecCatch) && state_has(st::ValueAwaited, ws))
    if (const int state = branch_out_of_evaluation(false, 0, ws); state >= 0) return state;
  if (si_empty(ws)) {
    wr16(ws, hdr::EtMajor, 0);
    wr16(ws, hdr::EtMinor, 0);
    // The immediate record gives up the value it keeps (a :For's array, a
    // :Select's value) before it is emptied.
    clear_record(hdr::ImmediateCs, ws);
    std::memset(ws + hdr::ImmediateCs, 0, siframe::RecordSize);
    return ES_STATEMENT_END;
  }
  clrstk(ws);
  do {
    if (std::uint32_t line = current_line(ws)) {
      wr32(ws, hdr::CurrentLine, 0);
      mgarb(line, ws);
    }
    xfnclr(ws);
    clrstk(ws);
  } while (!si_empty(ws) && !(state_has(st::NotFunctionLine, ws) && !state_has(st::ValueAwaited, ws)));
  stack(primer, ws);  // what the statement's end takes away
  return ES_STATEMENT_END;
}

int branch(Ws ws) {
  const std::uint32_t a = value_array(ws);
  const std::uint32_t rank = array_rank(a, ws);
  if (rank > 1) ranker(ws);
  if (rank == 1 && array_axis(a, 0, ws) == 0) {
    if (line_traced(ws)) trace_branch(BranchTarget::Empty, 0, ws);
    clear_statement(ws);
    return ES_NEXT_STATEMENT;
  }
  const std::int32_t target = getint(array_type(a, ws), array_data(a, ws), ws);
  clear_statement(ws);
  if (si_empty(ws)) return ES_STATEMENT_END;
  if (state_has(st::ValueAwaited, ws)) {
    // Out of evaluated text: ⎕EC takes the branch; under ⍎ and ⎕EA the
    // text's levels close and the branch abandons the statement that ran it.
    if (const int state = branch_out_of_evaluation(true, target, ws); state >= 0) return state;
    clear_statement(ws);
    if (si_empty(ws)) return ES_STATEMENT_END;
  }
  if (state_has(st::NotFunctionLine, ws)) {
    // Typed in immediate execution: the suspended function resumes, its
    // stop on that line not taken at once.
    set_state(0, st::NotFunctionLine, ws);
    wr8(ws, hdr::OutputBits, rd8(ws, hdr::OutputBits) | linebits::PassStop);
  } else if (line_traced(ws)) {
    trace_branch(BranchTarget::Number, target, ws);
  }
  if (rdi32(ws, hdr::FnLineNumber) < 0) return ES_STATEMENT_END;
  wr32(ws, hdr::FnLineNumber, static_cast<std::uint32_t>(target - 1));
  return ES_STATEMENT_END;
}

}  // namespace

namespace {

int xbrnch(Ws ws) {
  if (register_class(ws) != TC_EDGE && (rd32(ws, stack_entry_at(0, ws) + se::Value) & 0xFF) != kw::In)
    synter_badline(ws);
  const std::uint8_t token = rd32(ws, stack_entry_at(0, ws) + se::Value) & 0xFF;
  const bool has_value = !is_primer(1, ws);
  if (has_value && !is_primer(2, ws)) synter_badline(ws);
  auto no_value = [&] {
    if (has_value) synter_badline(ws);
    clear_statement(ws);
  };
  auto cond = [&] {
    if (!has_value) synter_badline(ws);
    const bool c = condition(value_array(ws), ws);
    clear_statement(ws);
    return c;
  };
  auto integer = [&] {
    const std::int32_t v = single_integer(value_array(ws), ws);
    clear_statement(ws);
    return v;
  };
  if (token == arrow_token()) return has_value ? branch(ws) : branch_escape(ws);
  switch (token) {
    case kw::If: return sc_if(cond(), ws);
    case kw::ElseIf:
    case kw::OrIf: return sc_elseif(cond(), ws);
    case kw::AndIf: return sc_andif(cond(), ws);
    case kw::Else: no_value(); return sc_else(ws);
    case kw::While: return sc_while(cond(), ws);
    case kw::Until: return sc_until(cond(), ws);
    case kw::Repeat:
      if (!has_value) {
        clear_statement(ws);
        return sc_repeat(false, 0, ws);
      }
      return sc_repeat(true, integer(), ws);
    case kw::For: sc_error(ws);
    case kw::In:
      if (!has_value) synter_badline(ws);
      return sc_in(ws);
    case kw::Select:
      if (!has_value) synter_badline(ws);
      return sc_select(ws);
    case kw::Case:
    case kw::CaseList:
      if (!has_value) synter_badline(ws);
      return sc_case(token == kw::CaseList, ws);
    case kw::Try: no_value(); return sc_try(ws);
    case kw::CatchIf: return sc_catch(false, cond(), ws);
    case kw::CatchAll: no_value(); return sc_catch(true, false, ws);
    case kw::Leave:
    case kw::Continue:
      if (!has_value) {
        clear_statement(ws);
        return sc_leave(token == kw::Leave, false, 0, ws);
      }
      return sc_leave(token == kw::Leave, true, integer(), ws);
    case kw::GoTo: {
      if (!has_value) synter_badline(ws);
      const std::int32_t line = integer();
      if (line < 0) domner(ws);
      if (!in_function(ws)) return ES_STATEMENT_END;
      return run_line(static_cast<std::uint32_t>(line), ws);
    }
    case kw::Return:
      no_value();
      if (!in_function(ws)) return ES_STATEMENT_END;
      wr32(ws, hdr::FnLineNumber, 0xFFFFFFFFu);
      return ES_STATEMENT_END;
    default:
      if (is_end(token) || token == kw::EndTry) {
        no_value();
        return sc_end(ws);
      }
      ZEMA_SYSTEM_ERROR(ws);
  }
}

}  // namespace

int do_xbrnch(Ws ws) { return finish(xbrnch(ws), ws); }

int sc_redundant_clause(Ws ws) {
  const std::uint32_t line = current_line(ws);
  const std::uint32_t s = stmt_holding(line, rd32(ws, hdr::LineCursor) - 1, ws);
  const std::uint8_t t = first_keyword(line, s, ws);
  if (t != kw::ElseIf && t != kw::OrIf && t != kw::CatchIf) return -1;
  const std::uint32_t r = current_record(ws);
  const std::uint8_t kind = record_kind(r, ws);
  if (t == kw::CatchIf) {
    if (kind != csk::Try || (rd16(ws, r + 2) & 0xF) == cstry::Catching) return -1;
    return finish(try_done(r, ws), ws);
  }
  if (kind != csk::If || rd32(ws, r + 8) != 1) return -1;
  if (t == kw::OrIf) return finish(after_statement(s, ws), ws);
  return finish(to_end(r, s, ws), ws);
}

bool ends_structure(std::uint8_t token) { return is_end(token) || token == kw::EndTry; }

int sc_end_statement(Ws ws) { return finish(sc_end(ws), ws); }

int sc_in_early(Ws ws) {
  // :For (A B) :In value: the names in parentheses are not evaluated.
  if (register_class(ws) == TC_RPAREN) {
    if (entry_class(0, ws) != TC_BRANCH || (rd32(ws, stack_entry_at(0, ws) + se::Value) & 0xFF) != kw::In) return -1;
    if (entry_class(1, ws) != TC_VALUE || !is_primer(2, ws)) return -1;
    return do_xbrnch(ws);
  }
  if (register_class(ws) != TC_BRANCH || (rd32(ws, hdr::TokenRegister + se::Value) & 0xFF) != kw::In) return -1;
  const StackEntry f = load_entry(stack_entry_at(0, ws), ws);
  if ((f.cls & kClassMask) != TC_PRIMITIVE || ((f.value & 0xFF) >> 1) != iota_code() || (f.value >> 16) != 0)
    return -1;
  if (entry_class(1, ws) != TC_VALUE || !is_primer(2, ws)) return -1;
  const std::uint32_t a = find_ws_entry(stack_entry_at(1, ws), ws);
  if (array_rank(a, ws) > 1 || (array_rank(a, ws) == 1 && array_axis(a, 0, ws) != 1)) return -1;
  const std::uint8_t t = array_type(a, ws);
  if (t != ET_INT && t != ET_BOOL) return -1;
  const std::int32_t n = t == ET_INT ? rdi32(ws, array_data(a, ws)) : (rd32(ws, array_data(a, ws)) >> 31);
  if (n < 0) return -1;
  // The compact sequence: rank 1, its length, the first value.
  const std::uint32_t r = setup_record(csk::For, ws);
  const std::uint32_t seq = getspc(12, ws);
  wr8(ws, seq + obj::Type, ET_INDEXVEC);
  wr16(ws, seq + obj::Rank4, 4);
  wr32(ws, seq + obj::Shape, static_cast<std::uint32_t>(n));
  wr32(ws, seq + obj::Shape + 4, static_cast<std::uint32_t>(quad_io(ws)));
  wr32(ws, r + 4, seq);
  set_owner(seq, r + 4, OK_WORD, ws);
  return finish(sc_for_in(r, current_line(ws) + rd32(ws, hdr::LineCursor), ws), ws);
}

int sc_find_catch_line(int code, Ws ws) {
  wr32(ws, hdr::TrapWord, rd32(ws, hdr::TrapWord) & ~kTrapInTry);
  if (!in_function(ws)) return -1;
  std::uint32_t line = current_line(ws);
  if (line == 0) line = xffndl(line_number(ws), ws);
  std::uint32_t depth = line ? rd16(ws, line + tl::CsDepth) : 0;
  for (;;) {
    const std::uint32_t r = record_at(depth, ws, true);
    if (r && record_kind(r, ws) == csk::Try && (rd16(ws, r + 2) & 0xF) == cstry::Block) {
      clear_records_inside(depth, ws);
      wr16(ws, r + 2, static_cast<std::uint32_t>(cstry::Catching | (code << 4)));
      wr32(ws, hdr::TrapWord, rd32(ws, r + 8));
      const Clause c = next_line_at(line_number(ws), depth, ws);
      // A :Try without any catch clause ignores the error: execution goes
      // on after its :EndTry, which finds the error already dealt with.
      if (c.token == kw::EndTry || c.token == kw::End) wr16(ws, r + 2, cstry::CatchBlock);
      if (c.token == kw::CatchIf || c.token == kw::CatchAll || c.token == kw::EndTry || c.token == kw::End)
        return static_cast<int>(c.line);
      return -1;
    }
    if (depth == 0) return -1;
    --depth;
  }
}

}  // namespace zema
