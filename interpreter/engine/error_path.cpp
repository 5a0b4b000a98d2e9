// The error routines and the common error path: display of the message,
// the line and its caret, and the return to immediate execution.
#include "interpreter/engine/error_path.h"

#include <algorithm>
#include <cstring>
#include <utility>

#include "host/services.h"
#include "interpreter/engine/call.h"
#include "interpreter/output/display.h"
#include "interpreter/engine/engine.h"
#include "interpreter/engine/selective_assign.h"
#include "interpreter/engine/evaluation.h"
#include "interpreter/workspace/arrays.h"
#include "interpreter/workspace/entry.h"
#include "interpreter/workspace/errors.h"
#include "interpreter/workspace/heap.h"
#include "interpreter/workspace/object_pool.h"
#include "interpreter/output/show.h"
#include "interpreter/engine/statement_end.h"
#include "interpreter/engine/trap.h"

namespace zema {

namespace {

constexpr std::uint8_t kCaretChar = 0x29;  // ^
constexpr std::uint32_t kStringHeader = 16;  // a character vector's data offset

// Releases the program's own message, if one is kept.
void drop_own_message(Ws ws) {
  if (const std::uint32_t m = rd32(ws, hdr::OwnMessageText)) {
    wr32(ws, hdr::OwnMessageText, 0);
    mgarb(m, ws);
  }
}

// The three lines of an error report, through the display buffer. With
// `own`, the program's own message (hdr::OwnMessageText, none: empty)
// instead of the table's.
void compose_em(int code, bool own, Ws ws) {
  const std::uint16_t state = engine_state(ws);
  const std::uint32_t line = current_line(ws);
  if ((state & st::ExecuteRunning) && !(state & (st::ListDigits | st::Executing))) {
    cdisp(0x18, ws);  // ⍎
    pspace(ws);
  }
  if (own) {
    if (const std::uint32_t m = rd32(ws, hdr::OwnMessageText))
      ldprt(ws + array_data(m, ws), static_cast<int>(array_count(m, ws)), ws);
  } else if (code > 0 && !(code == E_INTERRUPT && line == 0))
    ldprt(ertab(code), ws);
  cdisp(kCarriageReturn, ws);
  if (state & st::NotFunctionLine)
    sixsp(ws);
  else
    fnsub(ws);
  wr16(ws, hdr::CaretColumn, 0);
  if (line) {
    wr16(ws, hdr::CaretColumn, rd16(ws, hdr::OutColumn));
    ldis(line, ws);
  } else {
    cdisp(kCarriageReturn, ws);
  }
  const std::uint16_t caret = rd16(ws, hdr::CaretColumn);
  if (line && caret) {
    for (std::uint16_t i = 0; i < caret; ++i) cdisp(kBlank, ws);
    cdisp(kCaretChar, ws);
  }
}

}  // namespace

void make_em(int code, Ws ws) {
  // The program's own message serves this report only (released at its end).
  const bool own_text = rd8(ws, hdr::MiscBits) & kOwnMessageBit;
  wr8(ws, hdr::MiscBits, rd8(ws, hdr::MiscBits) & ~kOwnMessageBit);
  sup_attn(0, ws);
  force_gcol(ws);
  const std::uint16_t column = rd16(ws, hdr::OutColumn);
  wr16(ws, hdr::OutColumn, 0);
  const std::uint32_t top = rd32(ws, hdr::HeapTop);
  wr32(ws, hdr::CaptureAddress, top + kStringHeader);
  wr8(ws, hdr::OutputBits, rd8(ws, hdr::OutputBits) | outbits::Store | outbits::NoFold);
  compose_em(code, own_text, ws);
  wr8(ws, hdr::OutputBits, rd8(ws, hdr::OutputBits) & ~outbits::Store);
  const std::uint32_t n = rd32(ws, hdr::CaptureAddress) - (top + kStringHeader);
  const std::uint64_t need = std::uint64_t(top) + ((n + 19) & ~3u) + 4 + 100;
  if ((rd8(ws, hdr::OutputBits) & outbits::Overflowed) || need > rd32(ws, hdr::StackPointer)) {
    // No room for the message object: the lines go straight to the session.
    wr8(ws, hdr::OutputBits, rd8(ws, hdr::OutputBits) & ~outbits::Overflowed);
    set_state(0, st::CaptureOverflow, ws);
    wr16(ws, hdr::OutColumn, 0);
    compose_em(code, own_text, ws);
    cdisp(kCarriageReturn, ws);
  } else {
    const std::uint32_t off = getspc(8 + n, ws);  // lands at `top`, over the captured text's header
    wr8(ws, off + obj::Type, ET_CHAR);
    wr16(ws, off + obj::Rank4, 4);
    wr32(ws, off + obj::Shape, n);
    wr32(ws, hdr::ErrorMessage, off);
    set_owner(off, hdr::ErrorMessage, OK_WORD, ws);
  }
  wr8(ws, hdr::OutputBits, rd8(ws, hdr::OutputBits) & ~outbits::NoFold);
  wr16(ws, hdr::OutColumn, column);
  drop_own_message(ws);
  sup_attn(rd16(ws, hdr::AttnLevel), ws);
}

std::uint32_t message_rows(Ws ws) {
  // Lines and the longest of them.
  std::uint32_t lines = 0, width = 0;
  if (const std::uint32_t m = rd32(ws, hdr::ErrorMessage)) {
    const std::uint8_t* text = ws + array_data(m, ws);
    const std::uint32_t n = array_count(m, ws);
    for (std::uint32_t from = 0; from < n; ++lines) {
      const void* cr = std::memchr(text + from, kCarriageReturn, n - from);
      const std::uint32_t end = cr ? static_cast<std::uint32_t>(static_cast<const std::uint8_t*>(cr) - text) : n;
      width = std::max(width, end - from);
      from = end + 1;
    }
  }
  const std::uint32_t shape[2] = {3, width};
  const std::uint32_t z = new_array(ET_CHAR, 2, shape, ws);  // may move the report
  std::uint8_t* out = ws + array_data(z, ws);
  std::memset(out, kBlank, 3 * std::size_t(width));
  if (lines == 0) return z;
  const std::uint32_t m = rd32(ws, hdr::ErrorMessage);
  const std::uint8_t* text = ws + array_data(m, ws);
  const std::uint32_t n = array_count(m, ws);
  for (std::uint32_t row = lines >= 3 ? 0 : 1, from = 0; row < 3 && from < n; ++row) {
    const void* cr = std::memchr(text + from, kCarriageReturn, n - from);
    const std::uint32_t end = cr ? static_cast<std::uint32_t>(static_cast<const std::uint8_t*>(cr) - text) : n;
    std::memcpy(out + std::size_t(row) * width, text + from, end - from);
    from = end + 1;
  }
  return z;
}

int errorl(int code, Ws ws) {
  // A result entry on top that owns an object no longer holds references:
  // one being built may hold anything. A result whose references were
  // already counted is whole, and its release gives them up.
  const std::uint32_t top = stack_entry_at(0, ws);
  if (!stack_is_empty(ws) && (rd8(ws, top + se::Flags) & kSeResult) && (rd8(ws, top) & kOwnsObject)) {
    const std::uint32_t value = rd32(ws, top + se::Value);
    if (value && !(rd8(ws, value + obj::Flags1) & kRefsCounted) &&
        (rd8(ws, value + obj::Type) == ET_OBJREF || rd8(ws, value + obj::Type) == ET_NESTED))
      wr8(ws, value + obj::Type, ET_INT);
    wr8(ws, top + se::Flags, rd8(ws, top + se::Flags) & ~kSeResult);
  }
  for (;;) {
    set_state(0, st::ListDigits | st::StatementStarted, ws);
    wr8(ws, hdr::SelectBits, rd8(ws, hdr::SelectBits) & ~(selbits::Active | selbits::Deferred));
    if (const int resume = take_error_in_evaluation(code, ws); resume >= 0) return resume;  // ⎕EA ⎕EC
    const std::uint16_t state = engine_state(ws);
    // An armed trap word keeps the error at this level, where a trap may
    // take it.
    if (rd32(ws, hdr::TrapWord) != 0 && ((state & st::ExecuteRunning) || !(state & st::NotFunctionLine))) break;
    if (!(state & st::PassErrors)) break;
    // Pass the error up: the level (a locked function, or one it called)
    // ends as if it had never been suspended, and the error is raised again
    // at the line that called it. Only INTERRUPT and the ⎕ES errors without
    // a table message (codes below 4) keep their identity; anything else
    // becomes DOMAIN ERROR for the traps and the report, while the recorded
    // code and error number stay those of the error raised.
    const std::uint16_t et1 = rd16(ws, hdr::EtMajor), et2 = rd16(ws, hdr::EtMinor);
    if (std::uint32_t line = current_line(ws)) {
      wr32(ws, hdr::CurrentLine, 0);
      mgarb(line, ws);
    }
    if (!stack_is_empty(ws)) clrstk(ws);
    xfnclr(ws);
    kill_dead_man(ws);
    wr16(ws, hdr::ErrorLine, static_cast<std::uint16_t>(rd32(ws, hdr::FnLineNumber)));
    if (code < 4 || code == E_INTERRUPT) {
      wr16(ws, hdr::EtMajor, et1);
      wr16(ws, hdr::EtMinor, et2);
    } else {
      code = E_DOMAIN;
      wr16(ws, hdr::EtMajor, 5);
      wr16(ws, hdr::EtMinor, 4);
    }
  }

  // A :Try block or the ⎕ERX line takes the error.
  if (const int state = trap_error(code, ws); state >= 0) return state;

  // Display.
  if (!state_has(st::NotFunctionLine, ws)) wr16(ws, hdr::ErrTokenCount, rd32(ws, hdr::TokensTaken));
  wr16(ws, hdr::OutputBits, 0);  // the word at 0x192: output and line-start bits
  if (!state_has(st::OwnMessage, ws)) {
    set_state(st::OwnMessage, 0, ws);
    make_em(code, ws);
    crlm(0, ws);
    // Execution has stopped: an attention that comes while the report is
    // made or shown is met by the stop and dropped, never allowed to cut
    // or replace the report.
    sup_attn(0, ws);
    if (rd32(ws, hdr::ErrorMessage)) {
      DisplayLine dl;
      display_array(dl, hdr::ErrorMessage, ws);
    }
    sup_attn(0, ws);
    sup_attn(rd16(ws, hdr::AttnLevel), ws);
  }
  // End the line; release the current line and the statement's stack.
  crlm(0, ws);
  if (std::uint32_t line = current_line(ws)) {
    wr32(ws, hdr::CurrentLine, 0);
    mgarb(line, ws);
    if (!stack_is_empty(ws)) clrstk(ws);
  }
  // error5 and sinten: back to immediate execution.
  set_state(st::NotFunctionLine, st::OwnMessage | st::Executing, ws);
  wr8(ws, hdr::StepRequest, 0);
  crlm(0, ws);
  return ES_LEAVE;
}

void clear_error_state(Ws ws) {
  wr16(ws, hdr::EtMajor, 0);
  wr16(ws, hdr::EtMinor, 0);
  wr32(ws, hdr::ErrorNumber, 0);
  wr16(ws, hdr::ErrorLine, 0);
  kill_dead_man(ws);
}

void keep_own_message(std::uint32_t slot, Ws ws) {
  drop_own_message(ws);
  std::uint32_t copy = 0;
  if (slot) {
    copy = copy_array(slot, ws);
  } else {
    copy = getspc(8, ws);  // an empty character vector
    wr8(ws, copy + obj::Type, ET_CHAR);
    wr16(ws, copy + obj::Rank4, 4);
    wr32(ws, copy + obj::Shape, 0);
  }
  wr32(ws, hdr::OwnMessageText, copy);
  set_owner(copy, hdr::OwnMessageText, OK_WORD, ws);
}

void signal_error(int number, bool own_message, Ws ws) {
  const std::uint16_t state = engine_state(ws);
  // The text of a ⎕EA or ⎕EC is not left: the error is raised in it, where
  // ⎕EA or ⎕EC takes it (leaving would give it to the caller's traps).
  if ((!(state & st::NotFunctionLine) || (state & st::ExecuteRunning)) && !at_trapping_text(ws)) {
    // Report the error at the caller: leave the function, keeping ⎕ET
    // (the frame may hold a ⎕ET to put back).
    const std::uint16_t et1 = rd16(ws, hdr::EtMajor), et2 = rd16(ws, hdr::EtMinor);
    if (std::uint32_t line = current_line(ws)) {
      wr32(ws, hdr::CurrentLine, 0);
      mgarb(line, ws);
    }
    clrstk(ws);
    xfnclr(ws);
    kill_dead_man(ws);
    wr16(ws, hdr::EtMajor, et1);
    wr16(ws, hdr::EtMinor, et2);
  }
  if (number == 0) domner(ws);
  const int code = error_code_of_number(number);
  wr32(ws, hdr::ErrorNumber, static_cast<std::uint32_t>(number));
  wr16(ws, hdr::ErrorCode, static_cast<std::uint16_t>(code));
  wr16(ws, hdr::ErrorLine, static_cast<std::uint16_t>(rd32(ws, hdr::FnLineNumber)));
  kill_dead_man(ws);
  if (own_message) {
    wr8(ws, hdr::MiscBits, rd8(ws, hdr::MiscBits) | kOwnMessageBit);
  } else {
    drop_own_message(ws);
    wr8(ws, hdr::MiscBits, rd8(ws, hdr::MiscBits) & ~kOwnMessageBit);
  }
  throw AplError{code};
}

}  // namespace zema
