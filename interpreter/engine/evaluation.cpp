// ⍎, ⎕EA, ⎕EC and ⎕ input: evaluation levels of the state indicator.
#include "interpreter/engine/evaluation.h"

#include <cstring>

#include "interpreter/engine/call.h"
#include "interpreter/engine/engine.h"
#include "interpreter/engine/selective_assign.h"
#include "interpreter/engine/error_path.h"
#include "interpreter/engine/line.h"
#include "interpreter/engine/statement_end.h"
#include "interpreter/output/display.h"
#include "interpreter/output/show.h"
#include "interpreter/primitives/primitive_call.h"
#include "interpreter/reader/entry_errors.h"
#include "interpreter/reader/token_format.h"
#include "interpreter/reader/tokeniser.h"
#include "interpreter/workspace/arrays.h"
#include "interpreter/workspace/entry.h"
#include "interpreter/workspace/errors.h"
#include "interpreter/workspace/heap.h"
#include "interpreter/workspace/stack.h"
#include "interpreter/workspace/symtab.h"

namespace zema {

namespace {

// Header byte hdr::MiscBits bit: a handler has set up a line to run, which
// the end of the application (do_xmnopd) starts.
constexpr std::uint8_t kLineToRun = 0x40;
// Free bytes an evaluation level needs besides its frame.
constexpr std::uint32_t kLevelRoom = 100;
constexpr std::uint8_t kQuadColonPrompt[] = {0x4C, 0x3E};  // ⎕:

// The word that holds the array a value entry stands for: the entry's own
// value word, or its name's symbol value word.
std::uint32_t value_slot(std::uint32_t entry, Ws ws) {
  if (rd8(ws, entry + se::Class) & kOwnsObject) return entry + se::Value;
  return entry_of_token(rd16(ws, entry + se::Value)) + sym::Value;
}

// Makes room for `bytes` in the free gap (compacting), or WS FULL.
void need_room(std::uint32_t bytes, Ws ws) {
  for (;;) {
    const std::uint32_t gap = rd32(ws, hdr::StackPointer) - rd32(ws, hdr::HeapTop);
    if (gap > bytes) return;
    if (rd32(ws, hdr::Garbage) == 0) xwsfll(ws);
    force_gcol(ws);
  }
}

// ⎕WE's continuation after a callback (set_window_callback_return).
WindowCallbackReturn window_callback_return = nullptr;
WindowCallbackAbandoned window_callback_abandoned = nullptr;

// Ends a callback's level (its value, if any, already off the stack) and
// goes back to ⎕WE.
int end_window_callback(Ws ws);

bool at_text_level(Ws ws) {
  const std::uint16_t s = engine_state(ws);
  return (s & st::ExecuteRunning) && (s & st::NotFunctionLine) && (s & st::ValueAwaited) && !si_empty(ws);
}
bool at_quad_level(Ws ws) {
  const std::uint16_t s = engine_state(ws);
  return !(s & st::ExecuteRunning) && (s & st::ValueAwaited) && !si_empty(ws) &&
         rd8(ws, hdr::EvalKind) == evk::QuadInput;
}

// Opens an evaluation level: a frame that saves the engine's words as a
// call does (quadus puts them back), without local records.
void open_level(std::uint8_t kind, Ws ws) {
  need_room(siframe::Size + kLevelRoom, ws);
  const std::uint32_t sp = rd32(ws, hdr::StackPointer);
  const std::uint32_t link = sp - 4;
  const std::uint32_t frame = link - siframe::Link;
  std::memset(ws + frame, 0, siframe::Link);
  wr32(ws, link, rd32(ws, hdr::SiLink));
  wr32(ws, hdr::SiLink, link);
  std::uint32_t cursor = rd32(ws, hdr::LineCursor);
  if (rd8(ws, hdr::OutputBits) & 0x08) {
    wr8(ws, hdr::OutputBits, rd8(ws, hdr::OutputBits) & ~0x08);
    cursor |= 0x80000000u;
  }
  if (std::uint32_t line = rd32(ws, hdr::CurrentLine)) set_owner(line, frame + siframe::Line, OK_WORD, ws);
  std::memcpy(ws + frame + siframe::Register, ws + hdr::TokenRegister, 6);
  if ((rd8(ws, hdr::TokenRegister) & kOwnsObject) && rd32(ws, hdr::TokenRegister + se::Value))
    set_owner(rd32(ws, hdr::TokenRegister + se::Value), frame + siframe::Register, OK_STACK, ws);
  wr16(ws, frame + siframe::Count, 0xFFFF);  // no records
  wr16(ws, frame + siframe::Et1, 0xFFFF);
  wr16(ws, frame + siframe::Et2, 0xFFFF);
  save_level_registers(frame, sp, cursor, ws);
  // The new level.
  wr32(ws, hdr::CurrentLine, 0);
  std::memset(ws + hdr::TokenRegister, 0, 6);
  wr16(ws, hdr::ErrTokenCount, 0);
  wr32(ws, hdr::StackPointer, frame);
  wr8(ws, hdr::RunningSymType, SYM_VAR);
  wr8(ws, hdr::EvalKind, kind);
  if (kind == evk::QuadInput) {
    // The answer is the user's: no trap or passing of the program's takes its errors.
    wr32(ws, hdr::TrapWord, 0);
    set_state(st::ValueAwaited | st::NotFunctionLine,
              st::ExecuteRunning | st::StatementStarted | st::Executing | st::PassErrors, ws);
  } else {
    set_state(st::ValueAwaited | st::NotFunctionLine | st::ExecuteRunning, st::StatementStarted | st::Executing, ws);
  }
}

// Closes the current evaluation level: its line and whatever its stack
// still holds are released, and the caller's words come back.
void close_level(Ws ws) {
  if (std::uint32_t line = current_line(ws)) {
    wr32(ws, hdr::CurrentLine, 0);
    mgarb(line, ws);
  }
  if (rd32(ws, hdr::StackPointer) < si_frame(ws)) clrstk(ws);
  const StackEntry reg = load_entry(hdr::TokenRegister, ws);
  if ((reg.cls & kOwnsObject) && reg.value) release_entry(reg, ws);
  std::memset(ws + hdr::TokenRegister, 0, 6);
  end_evaluation_level(ws);
}

// Pushes a result on the caller's stack: an owned array, as a fresh result.
void push_value(std::uint32_t a, bool quiet, Ws ws) { push_result(a, ws, quiet); }

// An empty integer vector that is not displayed: the value of text that
// gave none.
void push_no_value(Ws ws) {
  const std::uint32_t zero = 0;
  push_value(new_array(ET_INT, 1, &zero, ws), true, ws);
}

// Builds ⎕EC's result from the top three entries of the stack (each owning
// its array), which it replaces: item i is entry `at[i]` from the top (by
// default code, ⎕ET and third item as pushed).
void push_nested_of_three(Ws ws, const std::uint32_t (&at_entry)[3] = {2, 1, 0}) {
  // Header and shape (16 bytes, 8 of them counted by getspc), three item
  // offsets, the items.
  std::uint64_t bytes = 8 + 3 * 4;
  for (std::uint32_t k = 0; k < 3; ++k) bytes += rd32(ws, rd32(ws, stack_entry_at(k, ws) + se::Value) + obj::Size);
  if (bytes > 0xFFFFFF00u) xwsfll(ws);
  const std::uint32_t z = getspc(static_cast<std::uint32_t>(bytes), ws);
  wr8(ws, z + obj::Type, ET_NESTED);
  wr8(ws, z + obj::Flags9, 0);
  wr16(ws, z + obj::Rank4, 4);
  wr32(ws, z + obj::Shape, 3);
  const std::uint32_t data = z + obj::Shape + 4;
  std::uint32_t at = data + 12;
  for (std::uint32_t i = 0; i < 3; ++i) {
    const std::uint32_t src = rd32(ws, stack_entry_at(at_entry[i], ws) + se::Value);
    const std::uint32_t size = rd32(ws, src + obj::Size);
    wr32(ws, data + 4 * i, at - z);
    std::memmove(ws + at, ws + src, size);
    wr8(ws, at, 0);  // an item has no owner of its own
    at += size;
  }
  for (int i = 0; i < 3; ++i) {
    StackEntry e;
    unstack(e, ws);
    release_entry(e, ws);
  }
  push_value(z, false, ws);
}

// ⎕EC's return code and ⎕ET as the first two items on the stack.
void push_code_and_et(int code, std::int32_t et1, std::int32_t et2, Ws ws) {
  push_value(new_int_scalar(code, ws), false, ws);
  const std::int32_t et[2] = {et1, et2};
  push_value(new_int_vector(et, 2, ws), false, ws);
}

// ⎕EC's result with an empty 0-by-0 matrix as its third item.
void push_catch_empty(int code, Ws ws) {
  push_code_and_et(code, 0, 0, ws);
  const std::uint32_t shape[2] = {0, 0};
  push_value(new_array(ET_INT, 2, shape, ws), false, ws);
  push_nested_of_three(ws);
}

// Whether a level of `kind` takes its text's errors and branches as ⎕EC
// does.
bool catching(std::uint8_t kind) { return kind == evk::ExecCatch || kind == evk::TransferForm; }

// Whether ⎕TF was called by )IN (outside the engine, which runs its
// expression through run_pending_evaluation).
bool from_transfer(Ws ws) { return rd8(ws, hdr::ResultBits) & kTransferFile; }

// hdr::MiscBits bit: ⎕TF's expression run for )IN failed.
constexpr std::uint8_t kTransferFormFailed = 0x20;

// ⎕TF's result when its expression gave no value, failed or branched: an
// empty character vector; for )IN also the failure mark, which abandons
// the transfer.
void push_transfer_form_empty(Ws ws) {
  if (from_transfer(ws)) wr8(ws, hdr::MiscBits, rd8(ws, hdr::MiscBits) | kTransferFormFailed);
  const std::uint32_t zero = 0;
  push_value(new_array(ET_CHAR, 1, &zero, ws), false, ws);
}

// The engine state after ⎕TF's result is pushed: the end of the call, or
// for )IN the end of the engine's run.
int transfer_form_end(Ws ws) { return from_transfer(ws) ? ES_LEAVE : ES_FINISH_APPLICATION; }

// ⎕TF's result after an assignment: the first word of its right argument
// (the call's entries on top: left, ⎕TF, right), after leading blanks, up
// to a blank or ←.
void push_transfer_form_name(Ws ws) {
  constexpr std::uint8_t kArrowChar = 0x5B;  // ←
  const std::uint32_t text = rd32(ws, value_slot(stack_entry_at(2, ws), ws));
  const std::uint32_t n = array_count(text, ws);
  std::uint32_t from = 0;
  while (from < n && rd8(ws, array_data(text, ws) + from) == kBlank) ++from;
  std::uint32_t to = from;
  while (to < n && rd8(ws, array_data(text, ws) + to) != kBlank && rd8(ws, array_data(text, ws) + to) != kArrowChar)
    ++to;
  std::uint32_t length = to - from;
  const std::uint32_t z = new_array(ET_CHAR, 1, &length, ws);
  const std::uint32_t again = rd32(ws, value_slot(stack_entry_at(2, ws), ws));
  std::memcpy(ws + array_data(z, ws), ws + array_data(again, ws) + from, length);
  push_value(z, false, ws);
}

// Takes the value entry on top of the stack as an array of its own (a
// variable's value copied), owned by that entry.
void own_top_value(Ws ws) {
  const std::uint32_t top = stack_entry_at(0, ws);
  if (rd8(ws, top + se::Class) & kOwnsObject) {
    if (rd32(ws, top + se::Value) == 0) valer(ws);
    return;
  }
  const std::uint32_t copy = copy_array(value_slot(top, ws), ws);
  settle_entry(top, StackEntry{static_cast<std::uint8_t>(kOwnsObject | TC_VALUE), rd8(ws, top + se::Flags), copy}, ws);
}

// Whether the statement under the line cursor is its line's last.
bool last_statement(Ws ws) {
  const std::uint32_t line = current_line(ws);
  const std::uint32_t start = rd32(ws, hdr::LineCursor) + 1 - statement_head(long_form(ws));
  const std::uint32_t next = start + get_statement_length(ws, line + start);
  return get_statement_length(ws, line + next) == 0;
}

// The output a system command run by ⍎ wrote while it was recorded, pushed
// as a character vector less a final carriage return; the recording ends.
// Answers false (nothing pushed) when nothing was being recorded.
bool push_recorded_output(Ws ws) {
  const int n = sup_recorded_output(nullptr, ws);
  if (n < 0) return false;
  std::uint32_t len = static_cast<std::uint32_t>(n);
  const std::uint32_t z = new_array(ET_CHAR, 1, &len, ws);
  if (n > 0 && sup_recorded_output(reinterpret_cast<char*>(ws + array_data(z, ws)), ws) != n) len = 0;
  sup_stop_recording(ws);
  if (len > 0 && rd8(ws, array_data(z, ws) + len - 1) == kCarriageReturn) --len;
  // Through the token register, which owns the fresh array: a compaction
  // while pushing finds it there.
  const StackEntry saved = token_register(ws);
  set_token_register(StackEntry{static_cast<std::uint8_t>(kOwnsObject | TC_VALUE), kSeResult, z}, ws);
  stack(hdr::TokenRegister, ws);
  set_token_register(saved, ws);
  if (len != static_cast<std::uint32_t>(n)) {
    const std::uint32_t y = new_array(ET_CHAR, 1, &len, ws);
    std::memcpy(ws + array_data(y, ws), ws + array_data(find_ws_entry(stack_entry_at(0, ws), ws), ws), len);
    settle_entry(stack_entry_at(0, ws), StackEntry{static_cast<std::uint8_t>(kOwnsObject | TC_VALUE), kSeResult, y}, ws);
  }
  return true;
}

// Text of a ⍎, ⎕EA or ⎕EC whose argument is empty: no value (the output of
// a system command ⍎ ran, when it was recorded).
void no_text_value(std::uint8_t mode, Ws ws) {
  if (mode == evk::WindowCallback) return;  // ⎕WE goes on waiting
  if (mode == evk::TransferForm)
    push_transfer_form_empty(ws);
  else if (mode == evk::ExecCatch)
    push_catch_empty(3, ws);
  else if (!push_recorded_output(ws))
    push_no_value(ws);
}

// Whether the text (n characters at `text`) is a system command: its first
// character after blanks is ")".
bool system_command_text(const std::uint8_t* text, std::uint32_t n) {
  std::uint32_t i = 0;
  while (i < n && text[i] == kBlank) ++i;
  return i < n && text[i] == ich::RightParen;
}

int end_window_callback(Ws ws) {
  close_level(ws);
  if (!window_callback_return) ZEMA_SYSTEM_ERROR(ws);
  return window_callback_return(ws);
}

}  // namespace

void set_window_callback_return(WindowCallbackReturn route) { window_callback_return = route; }
void set_window_callback_abandoned(WindowCallbackAbandoned route) { window_callback_abandoned = route; }

bool start_window_callback(std::uint32_t text_slot, Ws ws) {
  const std::uint32_t a = rd32(ws, text_slot);
  if (array_type(a, ws) != ET_CHAR || array_count(a, ws) == 0) return false;
  wr8(ws, hdr::MiscBits, rd8(ws, hdr::MiscBits) & ~kLineToRun);
  start_evaluation(text_slot, evk::WindowCallback, ws);
  return rd8(ws, hdr::MiscBits) & kLineToRun;
}

void start_evaluation(std::uint32_t text_slot, std::uint8_t mode, Ws ws) {
  sup_stop_recording(ws);
  if (rd8(ws, hdr::SelectBits) & selbits::Active) domner(ws);
  std::uint32_t a = rd32(ws, text_slot);
  const std::uint8_t type = array_type(a, ws);
  if (type != ET_CHAR) {
    if (type == ET_NESTED || type == ET_OBJREF || mode == evk::ExecCatch) domner(ws);
    push_value(copy_array(text_slot, ws), false, ws);  // ⍎5 is 5
    return;
  }
  if (array_rank(a, ws) > 1) ranker(ws);
  const std::uint32_t n = array_count(a, ws);
  if (n == 0) {
    no_text_value(mode, ws);
    return;
  }
  // The calling line's control-structure word goes to the text's line.
  const std::uint32_t caller = current_line(ws);
  const std::uint16_t caller_cs = caller ? rd16(ws, caller + tl::CsDepth) : 0;
  open_level(mode, ws);
  std::uint32_t trap = rd32(ws, hdr::TrapWord);
  if (mode == evk::ExecAlt) trap = (trap | kTrapExecAlt) & ~kTrapExecCatch;
  if (catching(mode)) {
    trap = (trap | kTrapExecCatch) & ~(kTrapExecAlt | kTrapAttnOff);
    // ⎕EC text runs without attention (the setting routines restore
    // attention to is 0 meanwhile); the outermost ⎕EC switches it back on.
    if (rd16(ws, hdr::AttnLevel) != 0) {
      wr16(ws, hdr::AttnLevel, 0);
      sup_attn(0, ws);
      trap |= kTrapAttnOff;
    }
  }
  wr32(ws, hdr::TrapWord, trap);
  // The text is copied below the stack pointer, out of the heap the
  // tokeniser compacts; the token line grows up to it.
  const std::uint32_t reserve = (n + 3) & ~3u;
  need_room(reserve + kLevelRoom, ws);
  const std::uint32_t frame_sp = rd32(ws, hdr::StackPointer);
  const std::uint32_t text_at = frame_sp - reserve;
  a = rd32(ws, text_slot);
  std::memcpy(ws + text_at, ws + array_data(a, ws), n);
  // A system command whose output is used (⍎ not first in its statement):
  // its output is recorded to become the value.
  const bool command = system_command_text(ws + text_at, n);
  if (mode == evk::Execute && register_class(ws) != TC_EDGE && command) sup_record_output(ws);
  wr32(ws, hdr::StackPointer, text_at);
  wr32(ws, hdr::TrapWord, trap | kTrapTokenising);
  // The line-entry restart point, armed again for this line.
  int result;
  try {
    result = lexcal(ws + text_at, n, ws);
  } catch (const EntryAbandoned&) {
    result = lr::Refused;
  }
  wr32(ws, hdr::StackPointer, frame_sp);
  wr32(ws, hdr::TrapWord, trap);
  if (result == lr::Ready) {
    if (const std::uint32_t line = rd32(ws, hdr::KillSlot)) wr16(ws, line + tl::CsDepth, caller_cs);
    wr8(ws, hdr::MiscBits, rd8(ws, hdr::MiscBits) | kLineToRun);
    return;
  }
  // A system command has run, or refused its line with its own message:
  // either way nothing is left to execute.
  if (result != lr::Refused || command) {
    // Nothing to execute (a comment, a system command).
    clrkil(ws);
    close_level(ws);
    no_text_value(mode, ws);
    return;
  }
  sup_stop_recording(ws);
  // An entry error: ⎕ET says which.
  const int code = rdi16(ws, hdr::ErrorCode);
  const std::int32_t et1 = rd16(ws, hdr::EtMajor), et2 = rd16(ws, hdr::EtMinor);
  clrkil(ws);
  if (mode == evk::ExecCatch) make_em(code, ws);
  close_level(ws);
  if (mode == evk::TransferForm) {
    push_transfer_form_empty(ws);
    wr16(ws, hdr::EtMajor, 0);
    wr16(ws, hdr::EtMinor, 0);
    return;
  }
  if (mode == evk::ExecCatch) {
    push_code_and_et(0, et1, et2, ws);
    push_value(message_rows(ws), false, ws);
    push_nested_of_three(ws);
    wr16(ws, hdr::EtMajor, 0);
    wr16(ws, hdr::EtMinor, 0);
    return;
  }
  if (mode == evk::ExecAlt) {
    // The left argument runs as ⍎ (the call's entries: left, ⎕EA, right).
    const std::uint32_t left = rd32(ws, value_slot(stack_entry_at(0, ws), ws));
    if (array_type(left, ws) != ET_CHAR) domner(ws);
    if (array_rank(left, ws) > 1) ranker(ws);
    start_evaluation(value_slot(stack_entry_at(0, ws), ws), evk::Execute, ws);
    return;
  }
  error(code, et1, et2, ws);
}

void execute_monadic(const PrimitiveCall& call, Ws ws) {
  if (rd8(ws, call.fn_entry + se::Flags) & fe::Axis) axis_error(ws);
  start_evaluation(value_slot(call.right_entry, ws), evk::Execute, ws);
}

int evaluation_value(Ws ws) {
  if (!at_text_level(ws) && !at_quad_level(ws)) return -1;
  if (!last_statement(ws)) return -1;
  const std::uint8_t kind = rd8(ws, hdr::EvalKind);
  if (kind == evk::WindowCallback) {
    StackEntry value;
    unstack(value, ws);
    release_entry(value, ws);
    return end_window_callback(ws);
  }
  const std::uint32_t top = stack_entry_at(0, ws);
  if (kind != evk::QuadInput && (rd8(ws, top + se::Class) & kOwnsObject) && rd32(ws, top + se::Value) == 0) {
    // A function without a result ended the text: it gave no value.
    StackEntry none;
    unstack(none, ws);
    close_level(ws);
    no_text_value(kind, ws);
    return kind == evk::TransferForm ? transfer_form_end(ws) : ES_FINISH_APPLICATION;
  }
  own_top_value(ws);
  if (kind == evk::TransferForm) {
    StackEntry value;
    unstack(value, ws);
    close_level(ws);
    if (!(value.flags & kSeNoDisplay)) {
      push_value(value.value, false, ws);
    } else {
      release_entry(value, ws);
      push_transfer_form_name(ws);
    }
    return transfer_form_end(ws);
  }
  if (kind == evk::ExecCatch) {
    // 1 a value that would be displayed, 2 one that would not.
    const bool shy = rd8(ws, stack_entry_at(0, ws) + se::Flags) & kSeNoDisplay;
    push_code_and_et(shy ? 2 : 1, 0, 0, ws);
    push_nested_of_three(ws, {1, 0, 2});  // the value lies under the code and ⎕ET
  }
  StackEntry value;
  unstack(value, ws);
  close_level(ws);
  const bool quiet = value.flags & kSeNoDisplay;
  if (kind == evk::QuadInput) {
    set_token_register(StackEntry{static_cast<std::uint8_t>(kOwnsObject | TC_VALUE), 0, value.value}, ws);
    set_owner(value.value, hdr::TokenRegister, OK_STACK, ws);
    return ES_NEXT_TOKEN;
  }
  push_value(value.value, quiet, ws);
  return ES_FINISH_APPLICATION;
}

namespace {

// The ⎕ prompt: ⎕: on a line of its own, then the input prompt.
void write_quad_prompt(Ws ws) {
  if (rd16(ws, hdr::OutColumn) != 0) ptcr(ws);
  ldprt(kQuadColonPrompt, 2, ws);
  ptcr(ws);
  sup_promt(ws);
}

// Asks for a line at the ⎕-input level until one is to be executed.
int quad_input_read(Ws ws) {
  bool prompt = true;
  for (;;) {
    if (prompt) write_quad_prompt(ws);
    const char* text = nullptr;
    int length = 0;
    if (sup_lnin(&text, &length, ws) == 0) {
      close_level(ws);
      error(E_INTERRUPT, 1, 1, ws);
    }
    wr16(ws, hdr::OutColumn, 0);
    const int result = tokenise_input_line(text, length, ws);
    if (result == lr::Ready) return ES_LINE_START;
    prompt = result != lr::NoPrompt;
  }
}

}  // namespace

bool prompt_for_quad_answer(Ws ws) {
  if (!at_quad_level(ws)) return false;
  write_quad_prompt(ws);
  return true;
}

int evaluation_without_value(Ws ws) {
  if (at_quad_level(ws)) return quad_input_read(ws);
  if (!at_text_level(ws)) ZEMA_SYSTEM_ERROR(ws);
  const std::uint8_t kind = rd8(ws, hdr::EvalKind);
  if (kind == evk::WindowCallback) return end_window_callback(ws);
  close_level(ws);
  no_text_value(kind, ws);
  return kind == evk::TransferForm ? transfer_form_end(ws) : ES_FINISH_APPLICATION;
}

int take_error_in_evaluation(int code, Ws ws) {
  if (!at_text_level(ws)) return -1;
  // The level that takes the error: the nearest ⎕EA or ⎕EC among the text
  // levels from the current one down.
  std::uint8_t kind = rd8(ws, hdr::EvalKind);
  std::uint16_t state = engine_state(ws);
  bool caught = false;
  for (std::uint32_t link = rd32(ws, hdr::SiLink); rd32(ws, link) != 0;) {
    if (!((state & st::ExecuteRunning) && (state & st::NotFunctionLine) && (state & st::ValueAwaited))) break;
    if (kind == evk::ExecAlt || catching(kind)) {
      caught = true;
      break;
    }
    const std::uint32_t frame = link - siframe::Link;
    state = rd16(ws, frame + siframe::State);
    kind = rd8(ws, frame + siframe::EvalKind);
    link = rd32(ws, link);
  }
  const std::int32_t et1 = rd16(ws, hdr::EtMajor), et2 = rd16(ws, hdr::EtMinor);
  if (caught && kind == evk::ExecCatch) make_em(code, ws);
  // Close the levels of plain ⍎ text and of callbacks, then the taking level.
  while (at_text_level(ws) && (rd8(ws, hdr::EvalKind) == evk::Execute || rd8(ws, hdr::EvalKind) == evk::WindowCallback)) {
    if (rd8(ws, hdr::EvalKind) == evk::WindowCallback && window_callback_abandoned) window_callback_abandoned(ws);
    close_level(ws);
  }
  if (!caught) return -1;
  close_level(ws);
  if (kind == evk::TransferForm) {
    wr16(ws, hdr::EtMajor, 0);
    wr16(ws, hdr::EtMinor, 0);
    push_transfer_form_empty(ws);
    return transfer_form_end(ws);
  }
  wr16(ws, hdr::EtMajor, static_cast<std::uint16_t>(et1));
  wr16(ws, hdr::EtMinor, static_cast<std::uint16_t>(et2));
  if (kind == evk::ExecCatch) {
    push_code_and_et(0, et1, et2, ws);
    push_value(message_rows(ws), false, ws);
    push_nested_of_three(ws);
    wr16(ws, hdr::EtMajor, 0);
    wr16(ws, hdr::EtMinor, 0);
    return ES_FINISH_APPLICATION;
  }
  // ⎕EA: the left argument (the call's entries: left, ⎕EA, right).
  const std::uint32_t slot = value_slot(stack_entry_at(0, ws), ws);
  const std::uint32_t left = rd32(ws, slot);
  if (array_type(left, ws) != ET_CHAR) domner(ws);
  if (array_rank(left, ws) > 1) ranker(ws);
  start_evaluation(slot, evk::Execute, ws);
  return ES_FINISH_APPLICATION;
}

int branch_out_of_evaluation(bool has_target, std::int32_t target, Ws ws) {
  while (at_text_level(ws)) {
    const std::uint8_t kind = rd8(ws, hdr::EvalKind);
    close_level(ws);
    if (kind == evk::TransferForm) {
      push_transfer_form_empty(ws);
      return transfer_form_end(ws);
    }
    if (kind == evk::ExecCatch) {
      if (!has_target) {
        push_catch_empty(5, ws);
      } else {
        push_code_and_et(4, 0, 0, ws);
        push_value(new_int_scalar(target, ws), false, ws);
        push_nested_of_three(ws);
      }
      return ES_FINISH_APPLICATION;
    }
  }
  return -1;
}

void run_line_apart(Ws ws) {
  // Only at the immediate level with no line running does the line's end
  // leave the engine. A level of ⍎, ⎕EC or ⎕TF text (or ⎕ input) whose
  // line is still being read, as when its text is a system command that
  // fixes a class, has no line running either, yet the end of a line run
  // there would be taken as its text's end.
  const std::uint16_t s = engine_state(ws);
  if ((s & st::NotFunctionLine) && !(s & (st::Executing | st::ExecuteRunning | st::ValueAwaited))) {
    run_engine(ES_LINE_START, ws);
    return;
  }
  // Its words are kept in the frame of a level of their own, on which the
  // new line runs as an immediate one, so that its end leaves the engine
  // here rather than going on with the running line or ending the text.
  open_level(evk::Execute, ws);
  const std::uint32_t frame = si_frame(ws);
  set_state(st::NotFunctionLine, st::ValueAwaited | st::ExecuteRunning, ws);
  run_engine(ES_LINE_START, ws);
  if (si_frame(ws) != frame) return;  // the error path has closed the level already
  // Whatever the line left above the frame goes with it.
  for (std::uint32_t sp = rd32(ws, hdr::StackPointer); sp < frame; sp = rd32(ws, hdr::StackPointer)) {
    const StackEntry e = load_entry(sp, ws);
    wr32(ws, hdr::StackPointer, sp + kStackEntrySize);
    release_entry(e, ws);
  }
  wr32(ws, hdr::StackPointer, frame);
  close_level(ws);
}

void end_evaluation_level(Ws ws) {
  const bool attention_back = at_text_level(ws) && catching(rd8(ws, hdr::EvalKind)) &&
                              (rd32(ws, hdr::TrapWord) & kTrapAttnOff);
  quadus(ws);
  if (attention_back) {
    wr16(ws, hdr::AttnLevel, 1);
    sup_attn(1, ws);
  }
}

bool take_transfer_form_failure(Ws ws) {
  const bool failed = rd8(ws, hdr::MiscBits) & kTransferFormFailed;
  wr8(ws, hdr::MiscBits, rd8(ws, hdr::MiscBits) & ~kTransferFormFailed);
  return failed;
}

bool run_pending_evaluation(Ws ws) {
  if (!(rd8(ws, hdr::MiscBits) & kLineToRun)) return false;
  wr8(ws, hdr::MiscBits, rd8(ws, hdr::MiscBits) & ~kLineToRun);
  const bool executing = state_has(st::Executing, ws);
  run_engine(ES_LINE_START, ws);
  if (executing) set_state(st::Executing, 0, ws);
  return true;
}

bool at_trapping_text(Ws ws) {
  if (!at_text_level(ws)) return false;
  const std::uint8_t kind = rd8(ws, hdr::EvalKind);
  return kind == evk::ExecAlt || catching(kind);
}

int quad_input(Ws ws) {
  // An answer's line inside a selective assignment's target could hold a
  // name where the target's variable stands in the line being assigned.
  if (rd8(ws, hdr::SelectBits) & selbits::Active) domner(ws);
  if (rd32(ws, hdr::TrapWord) & kTrapExecCatch) valer(ws);
  if (state_has(st::ExecuteRunning, ws)) domner(ws);
  open_level(evk::QuadInput, ws);
  return quad_input_read(ws);
}

}  // namespace zema
