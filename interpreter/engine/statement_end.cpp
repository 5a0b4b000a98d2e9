// The end of a statement and of a line, and the clearing of the stack and
// the state indicator.
#include "interpreter/engine/statement_end.h"

#include "interpreter/engine/call.h"
#include "interpreter/engine/control.h"
#include "interpreter/engine/engine.h"
#include "interpreter/engine/error_path.h"
#include "interpreter/engine/evaluation.h"
#include "interpreter/engine/trace.h"
#include "interpreter/workspace/errors.h"
#include "interpreter/workspace/heap.h"
#include "interpreter/workspace/extended80.h"
#include "interpreter/output/show.h"
#include "interpreter/workspace/symtab.h"
#include "interpreter/reader/tokeniser.h"

namespace zema {

namespace {

// The word that holds the array a value entry stands for: the entry's own
// value word, or its name's symbol value word.
std::uint32_t value_slot(std::uint32_t entry, Ws ws) {
  if (rd8(ws, entry + se::Class) & kOwnsObject) return entry + se::Value;
  return entry_of_token(rd16(ws, entry + se::Value)) + sym::Value;
}

}  // namespace

int crlm(int value, Ws ws) {
  if (rd16(ws, hdr::OutColumn) != 0) ptcr(ws);
  return value;
}

bool eolck(std::uint32_t* next_cursor, Ws ws) {
  const std::uint32_t line = current_line(ws);
  const bool lng = long_form(ws);
  // The line cursor is at the statement's opening tag; its length field
  // lies just before.
  const std::uint32_t start = rd32(ws, hdr::LineCursor) + 1 - statement_head(lng);
  const std::uint32_t next = start + get_statement_length(ws, line + start);
  const std::uint32_t n = get_statement_length(ws, line + next);
  if (n == 0) return false;
  *next_cursor = next + n;
  wr8(ws, hdr::FirstTag, rd8(ws, line + next + get_statement_head(ws, line + next)));
  return true;
}

int xrsltp(Ws ws) {
  const std::uint32_t top = stack_entry_at(0, ws);
  const std::uint8_t t = rd8(ws, top) & 0x7F;
  if (t == TC_BRANCH) return do_xbrnch(ws);  // → or a keyword alone
  if (t == TC_VALUE && is_primer(1, ws)) {
    if (const int state = evaluation_value(ws); state >= 0) return state;  // ⍎ ⎕EA ⎕EC ⎕ input
    // A traced statement shows its value even when it was assigned (below).
    if (!line_traced(ws)) {
      if (!(rd8(ws, top + se::Flags) & kSeNoDisplay)) {
        DisplayLine dl;
        display_array(dl, value_slot(top, ws), ws);
        clrstk(ws);
      } else {
        StackEntry value, marker;
        unstack(value, ws);
        unstack(marker, ws);
        release_entry(value, ws);
      }
      return ES_NEXT_STATEMENT;
    }
  }
  // Several values (A;B), and every traced statement: only values and
  // separators down to the primer.
  std::uint32_t k = 0;
  for (; !is_primer(k, ws); ++k) {
    const std::uint8_t c = entry_class(k, ws);
    if (c != TC_VALUE && c != TC_SEMICOLON) synter_badline(ws);
  }
  if (line_traced(ws)) trace_prefix(ws);
  wr8(ws, hdr::MultiDisplay, rd8(ws, hdr::MultiDisplay) | 0x80);
  DisplayLine dl;
  for (std::uint32_t i = 0; i < k; ++i) {
    const std::uint32_t e = stack_entry_at(i, ws);
    if ((rd8(ws, e) & 0x7F) == TC_VALUE) display_array(dl, value_slot(e, ws), ws);
  }
  wr8(ws, hdr::MultiDisplay, rd8(ws, hdr::MultiDisplay) & ~0x80);
  ptcr(ws);
  clrstk(ws);
  return ES_NEXT_STATEMENT;
}

int eol(Ws ws) {
  set_state(0, st::StatementStarted, ws);
  if (std::uint32_t line = current_line(ws)) {
    wr32(ws, hdr::CurrentLine, 0);
    mgarb(line, ws);
  }
  const std::uint16_t state = engine_state(ws);
  if (!(state & st::NotFunctionLine)) return eolfnx(ws);
  if (!(state & st::ValueAwaited)) return ES_LEAVE;
  return evaluation_without_value(ws);  // ⍎ ⎕EA ⎕EC ⎕ input
}

void clrstk(Ws ws) {
  const std::uint32_t empty = rd32(ws, hdr::Top) - 4;
  for (;;) {
    const std::uint32_t sp = rd32(ws, hdr::StackPointer);
    if (sp >= empty) break;  // no primer: nothing of a statement is left
    const StackEntry e = load_entry(sp, ws);
    wr32(ws, hdr::StackPointer, sp + kStackEntrySize);
    if (e.cls == primer.cls && (e.value & 0xFF) == 0) break;
    release_entry(e, ws);
    if (e.cls == 0x25) {
      // A name that may have no other use: count one and give it back.
      const std::uint32_t sym = entry_of_token(e.value & 0xFFFF);
      if ((rd8(ws, sym + sym::Type) & kSymTypeMask) != SYM_SYSVAR) {
        wr16(ws, sym + sym::Uses, rd16(ws, sym + sym::Uses) + 1);
        clnus2(sym, ws);
      }
    }
  }
  const StackEntry reg = load_entry(hdr::TokenRegister, ws);
  if (reg.cls & kOwnsObject) {
    release_entry(reg, ws);
    wr8(ws, hdr::TokenRegister + se::Class, 0);
    wr8(ws, hdr::TokenRegister + se::Flags, 0);
  }
}

void siclr_n(int n, Ws ws) {
  auto release_line = [ws] {
    if (std::uint32_t line = current_line(ws)) {
      wr32(ws, hdr::CurrentLine, 0);
      mgarb(line, ws);
    }
  };
  for (;;) {
    if (si_empty(ws)) {
      release_line();
      set_state(0, st::Executing | st::StatementStarted, ws);
      kill_dead_man(ws);
      wr16(ws, hdr::EtMajor, 0);
      wr16(ws, hdr::EtMinor, 0);
      wr32(ws, hdr::TrapWord, 0);
      wr16(ws, hdr::ErrTokenCount, 0);
      return;
    }
    if (n == 0) {
      release_line();
      set_state(0, static_cast<std::uint16_t>(~0x0FDDu), ws);
      wr8(ws, hdr::ResultBits, rd8(ws, hdr::ResultBits) & ~0x0C);
      wr8(ws, hdr::StepRequest, 0);
      if (state_has(st::NotFunctionLine, ws)) return;
      set_state(st::NotFunctionLine, 0, ws);
      kill_dead_man(ws);
      wr16(ws, hdr::EtMajor, 1);
      wr16(ws, hdr::EtMinor, 1);
      wr32(ws, hdr::TrapWord, 0);
      wr16(ws, hdr::ErrTokenCount, 0);
      return;
    }
    // Leave one level (an execute level goes with the function it ran in).
    do {
      release_line();
      xfnclr(ws);
      clrstk(ws);
    } while (state_has(st::ExecuteRunning, ws) && !si_empty(ws));
    if (n > 0) --n;
  }
}

std::int32_t getin3(std::uint32_t element, Ws ws) {
  double d;
  std::memcpy(&d, ws + element, 8);
  std::int32_t out = 0;
  if (!fltint(fltdb(d), out)) domner(ws);
  return out;
}

std::int32_t getint(std::uint8_t type, std::uint32_t element, Ws ws) {
  switch (type) {
    case ET_BOOL: return (rd32(ws, element) & 0x80000000u) ? 1 : 0;
    case ET_INT: return rdi32(ws, element);
    case ET_FLOAT: return getin3(element, ws);
    default: domner(ws);
  }
}

}  // namespace zema
