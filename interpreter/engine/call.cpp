// Defined-function call and return.
#include "interpreter/engine/call.h"

#include <cstring>

#include "interpreter/engine/assign.h"
#include "interpreter/engine/derived_operand.h"
#include "interpreter/engine/engine.h"
#include "interpreter/engine/evaluation.h"
#include "interpreter/engine/error_path.h"
#include "interpreter/engine/function_object.h"
#include "interpreter/engine/method_calls.h"
#include "interpreter/engine/statement_end.h"
#include "interpreter/engine/sysvars.h"
#include "interpreter/output/display.h"
#include "interpreter/output/numfmt.h"
#include "interpreter/workspace/errors.h"
#include "interpreter/workspace/heap.h"
#include "interpreter/workspace/object_pool.h"
#include "interpreter/workspace/stack.h"
#include "interpreter/workspace/support.h"
#include "interpreter/workspace/symtab.h"

namespace zema {

namespace {

constexpr std::uint32_t kTokenLX = sysvar_token(sysvar::LX), kTokenRL = sysvar_token(sysvar::RL),
                        kTokenCT = sysvar_token(sysvar::CT), kTokenHT = sysvar_token(sysvar::HT),
                        kTokenFC = sysvar_token(sysvar::FC), kTokenPW = sysvar_token(sysvar::PW),
                        kTokenPR = sysvar_token(sysvar::PR);
constexpr std::uint32_t kTabBytes = 22;

bool is_operator_type(std::uint8_t type) { return type >= 11 && type <= 14; }

std::uint16_t be16(Ws ws, std::uint32_t at) { return static_cast<std::uint16_t>((rd8(ws, at) << 8) | rd8(ws, at + 1)); }

// The function named by the function entry (entry 1 from the top).
std::uint32_t function_entry(Ws ws) { return stack_entry_at(1, ws); }

std::uint32_t function_symbol(Ws ws) { return entry_of_token(rd16(ws, function_entry(ws) + se::Value)); }

// The function named by the function entry: the method of that name of the
// selected object (hdr::CallingInstance) when it has one, else the name's value.
std::uint32_t function_object(Ws ws) {
  if (const std::uint32_t slot = rd32(ws, hdr::CallingInstance))
    if (const std::uint32_t fn = method_function(rd16(ws, function_entry(ws) + se::Value), slot, nullptr, ws)) return fn;
  return rd32(ws, function_symbol(ws) + sym::Value);
}

// The newest local record's offset (the stack pointer while records are pushed).
std::uint32_t push_record(std::uint8_t kind, std::uint16_t token, std::uint32_t value, std::uint8_t type, Ws ws) {
  const std::uint32_t r = rd32(ws, hdr::StackPointer) - siframe::RecordSize;
  std::memset(ws + r, 0, siframe::RecordSize);
  wr8(ws, r, kind);
  wr16(ws, r + 2, token);
  wr32(ws, r + 4, value);
  wr8(ws, r + 8, type);
  wr32(ws, hdr::StackPointer, r);
  return r;
}

// Localises one name (the new record below the previous one).
void local(std::uint16_t token, std::uint8_t kind, Ws ws) {
  const std::uint32_t e = entry_of_token(token);
  const std::uint8_t type = rd8(ws, e + sym::Type);
  const std::uint32_t r = push_record(kind, token, rd32(ws, e + sym::Value), type, ws);
  if (!(type & kSymLocalFlag)) {
    if ((type & kSymTypeMask) == SYM_SYSVAR) {
      const std::uint32_t frame = si_frame(ws);
      switch (token) {
        case kTokenLX:
        case kTokenFC:
          wr32(ws, e + sym::Value, 0);
          if (rd32(ws, r + 4)) set_owner(rd32(ws, r + 4), r, OK_SYMBOL, ws);
          return;
        case kTokenRL: wr8(ws, r, kRecRL); wr32(ws, r + 4, rd32(ws, hdr::QuadRL)); return;
        case kTokenCT: std::memcpy(ws + frame + siframe::Ct, ws + hdr::QuadCT, 10); wr8(ws, r, kRecCT); return;
        case kTokenHT: std::memcpy(ws + frame + siframe::Tabs, sup_tabs(ws), kTabBytes); wr8(ws, r, kRecHT); return;
        default: return;  // the local starts with the outer value
      }
    }
    const std::uint16_t uses = rd16(ws, e + sym::Uses);
    if (uses == 0xFFFF) {
      // The name keeps its outer value: the record restores nothing.
      wr8(ws, r, kRecEmpty);
      wr32(ws, r + 4, 0);
      wr8(ws, r + 8, 0);
      limit_error(ws);
    }
    wr16(ws, e + sym::Uses, uses + 1);
  }
  if (token == rd16(ws, callreg::OwnName)) {
    wr16(ws, callreg::OwnName, 0xFFFF);
    wr32(ws, hdr::RunningSymbol, r);
  }
  wr8(ws, e + sym::Type, kSymLocalFlag | SYM_UNDEF);
  wr32(ws, e + sym::Value, 0);
  if ((type & kSymTypeMask) == SYM_UNDEF) return;
  if (std::uint32_t v = rd32(ws, r + 4)) set_owner(v, r, OK_SYMBOL, ws);
}

void locala(std::uint16_t token, Ws ws) {
  if (token == 0)
    push_record(kRecEmpty, 0, 0, 0, ws);
  else
    local(token, kRecName, ws);
}

// Binds an argument entry to a localised name.
void actarg(std::uint16_t token, std::uint32_t entry, Ws ws) {
  if (token == 0) return;
  const std::uint8_t cls = rd8(ws, entry + se::Class);
  const std::uint32_t v = rd32(ws, entry + se::Value);
  if (!(cls & kOwnsObject) || v == 0) return;  // a placeholder: the name stays without a value
  const std::uint32_t e = entry_of_token(token);
  wr8(ws, entry + se::Class, 0);
  count_value_references(v, ws);
  wr32(ws, e + sym::Value, v);
  wr8(ws, e + sym::Type, kSymLocalFlag | SYM_VAR);
  wr32(ws, v - 4, e);
  wr8(ws, v, OK_SYMBOL);  // written whole: a strand mark goes
}

// Checks an argument entry before the call: a value-less heap entry is
// VALUE ERROR; an entry naming a variable gets a private copy.
void xfarg(std::uint32_t entry, Ws ws) {
  const std::uint8_t cls = rd8(ws, entry + se::Class);
  if (cls & kOwnsObject) {
    if (rd32(ws, entry + se::Value) == 0) error(E_VALUE, 3, 1, ws);
    return;
  }
  const std::uint8_t c = cls & 0x7F;
  if (c != TC_VALUE && c != TC_LEFTARG) return;
  const std::uint32_t src_sym = entry_of_token(rd16(ws, entry + se::Value));
  const std::uint32_t size = rd32(ws, rd32(ws, src_sym + sym::Value) + obj::Size);
  const std::uint32_t copy = getspc(size - 8, ws);
  std::memcpy(ws + copy + 8, ws + rd32(ws, src_sym + sym::Value) + 8, size - 8);
  const std::uint8_t flags = rd8(ws, entry + se::Flags);
  settle_entry(entry, StackEntry{static_cast<std::uint8_t>(kOwnsObject | TC_VALUE), flags, copy}, ws);
}

void check_arg_type(std::uint32_t entry, Ws ws) {
  const std::uint8_t c = rd8(ws, entry + se::Class) & 0x7F;
  if (c != TC_VALUE && c != TC_LEFTARG) synter_badline(ws);
}

// Restores one local record.
void unlcl(std::uint32_t r, std::uint32_t frame, Ws ws) {
  const std::uint8_t kind = rd8(ws, r);
  if (kind == kRecControl) {
    if (std::uint32_t v = rd32(ws, r + 4)) mgarb(v, ws);
    return;
  }
  if (kind == kRecEmpty) return;
  const std::uint16_t token = rd16(ws, r + 2);
  const std::uint32_t e = entry_of_token(token);
  const std::uint8_t t = rd8(ws, e + sym::Type) & kSymTypeMask;
  const std::uint32_t saved = rd32(ws, r + 4);
  const std::uint8_t saved_type = rd8(ws, r + 8);
  if (t == SYM_SYSVAR) {
    wr8(ws, e + sym::Type, saved_type);
    if (kind == kRecName) {
      if (token == kTokenLX || token == kTokenFC) {
        if (std::uint32_t local_value = rd32(ws, e + sym::Value)) mgarb(local_value, ws);
        wr32(ws, e + sym::Value, saved);
        if (saved) set_owner(saved, e, OK_SYMBOL, ws);
      } else {
        wr32(ws, e + sym::Value, saved);
        if (token == kTokenPR) sup_qpr(static_cast<std::int16_t>(saved), ws);
        if (token == kTokenPW) sup_qpw(static_cast<std::uint16_t>(saved), ws);
      }
    } else if (kind == kRecRL) {
      wr32(ws, hdr::QuadRL, saved);
    } else if (kind == kRecCT) {
      std::memcpy(ws + hdr::QuadCT, ws + frame + siframe::Ct, 10);
    } else if (kind == kRecHT) {
      std::memcpy(sup_tabs(ws), ws + frame + siframe::Tabs, kTabBytes);
    }
    return;
  }
  if (t != SYM_UNDEF) {
    const std::uint32_t v = rd32(ws, e + sym::Value);
    if (t >= 3 && t <= 16 && t != SYM_UNDEF) {
      if (v) mgarb(v, ws);
    } else if (v) {
      // A local function: its header line and every line chained from it.
      std::uint32_t line = v;
      while (line) {
        const std::uint32_t next = rd32(ws, line + fnl::Next);
        mgarb(line, ws);
        line = next;
      }
    }
  }
  wr32(ws, e + sym::Value, saved);
  wr8(ws, e + sym::Type, saved_type);
  if (!(saved_type & kSymLocalFlag)) {
    const std::uint16_t uses = rd16(ws, e + sym::Uses);
    if (uses <= 1) {
      wr16(ws, e + sym::Uses, 1);
      clnus2(e, ws);
      if (rd8(ws, e + sym::Length) == 0) return;  // the entry is gone
    } else {
      wr16(ws, e + sym::Uses, uses - 1);
    }
  }
  if ((saved_type & kSymTypeMask) != SYM_UNDEF && saved) set_owner(saved, e, OK_SYMBOL, ws);
}

}  // namespace

std::uint32_t si_frame(Ws ws) {
  // Each frame's link word holds the previous head; the chain ends at the
  // zero word at the top of the stack.
  const std::uint32_t link = rd32(ws, hdr::SiLink);
  return rd32(ws, link) == 0 ? 0 : link - siframe::Link;
}

int dfnsu(int* valence_code, Ws ws) {
  wr32(ws, hdr::TokensTaken, rd32(ws, hdr::TokensTaken) - 1);
  std::memset(ws + callreg::ResultName, 0, callreg::OperatorType - callreg::ResultName);
  wr32(ws, hdr::PrimFlags, 0x300000);
  const std::uint32_t e = function_symbol(ws);
  std::uint8_t type = rd8(ws, e + sym::Type) & kSymTypeMask;
  // A method of the selected object comes first; the selection stays only
  // for a method.
  std::uint32_t fn = 0;
  if (const std::uint32_t slot = rd32(ws, hdr::CallingInstance))
    fn = method_function(rd16(ws, function_entry(ws) + se::Value), slot, &type, ws);
  if (fn == 0) wr32(ws, hdr::CallingInstance, 0);
  wr8(ws, hdr::HeaderSymType, type);
  if (fn == 0 && (type == SYM_SYSFN0 || type == SYM_SYSFN)) return 0;
  if (type > 2 && !is_operator_type(type)) synter(ws);
  wr32(ws, hdr::PrimCode, 0);
  if (fn == 0) fn = rd32(ws, e + sym::Value);
  const std::uint16_t word = rd16(ws, fn + fnl::HeaderWord);
  *valence_code = static_cast<int>(word & 0xFF) - 1;
  if (word & 0x8000) wr16(ws, callreg::ResultName, be16(ws, fn + fnl::Names));
  return 4;
}

std::uint32_t header_names(Ws ws) {
  const std::uint32_t fn = function_object(ws);
  return fn + fnl::Names + ((rd16(ws, fn + fnl::HeaderWord) & 0x8000) ? 3 : 0);
}

std::uint32_t running_function(Ws ws) {
  const std::uint32_t at = rd32(ws, hdr::RunningSymbol);
  if (at == 0) return 0;
  if (at == kMethodLevel) return method_function(rd16(ws, hdr::RunningToken), rd32(ws, hdr::CurrentInstance), nullptr, ws);
  // The symbol entry, or the local record that holds the function when it
  // localised its own name: both keep the value word at +4.
  return rd32(ws, at + 4);
}

std::uint32_t xffndl(std::uint32_t n, Ws ws) {
  std::uint32_t line = running_function(ws);
  if (line == 0) return 0;
  for (std::uint32_t i = 0; i < n && line; ++i) line = rd32(ws, line + fnl::Next);
  return line;
}

void save_level_registers(std::uint32_t frame, std::uint32_t sp, std::uint32_t cursor, Ws ws) {
  wr32(ws, frame + siframe::Instance, rd32(ws, hdr::CurrentInstance));
  wr32(ws, frame + siframe::RunningSymbol, rd32(ws, hdr::RunningSymbol));
  wr16(ws, frame + siframe::RunningToken, rd16(ws, hdr::RunningToken));
  wr16(ws, frame + siframe::State, engine_state(ws));
  wr32(ws, frame + siframe::Line, rd32(ws, hdr::CurrentLine));
  wr32(ws, frame + siframe::StackPointer, sp);
  wr32(ws, frame + siframe::LineNumber, rd32(ws, hdr::FnLineNumber));
  wr16(ws, frame + siframe::ErrTokens, rd16(ws, hdr::ErrTokenCount));
  wr16(ws, frame + siframe::Tokens, rd32(ws, hdr::TokensTaken));
  wr32(ws, frame + siframe::Cursor, cursor);
  wr8(ws, frame + siframe::SymType, rd8(ws, hdr::RunningSymType));
  wr8(ws, frame + siframe::EvalKind, rd8(ws, hdr::EvalKind));
  wr32(ws, frame + siframe::Trap, rd32(ws, hdr::TrapWord));
  wr8(ws, frame + siframe::BelowReads, readers_below(frame, sp, ws) ? 1 : 0);
}

int xfnc(Ws ws) {
  // A method: dfnsu left its object selected.
  const bool method = rd32(ws, hdr::CallingInstance) != 0;
  const std::uint32_t left = stack_entry_at(0, ws);
  const std::uint32_t right = stack_entry_at(2, ws);
  xfarg(left, ws);
  xfarg(right, ws);

  // Room for the frame, its records and the label values.
  std::uint32_t fn = function_object(ws);
  std::uint32_t labels = 0;
  for (std::uint32_t line = rd32(ws, fn + fnl::Next); line; line = rd32(ws, line + fnl::Next))
    if (rd16(ws, line + fnl::Label)) ++labels;
  const std::uint32_t locals = rd16(ws, fn + fnl::Locals);
  const std::uint32_t depth = static_cast<std::uint32_t>(std::max<std::int16_t>(0, rdi16(ws, fn + fnl::Depth)));
  const std::uint32_t count = locals + labels + depth + 5;
  // The stack takes the frame's fixed part (its link word included), the
  // result, argument and operand records, the locals, the labels and one
  // control record per level; each label value is a 16-byte object with its
  // owner word, and every allocation keeps the heap's margin below the stack.
  const std::uint32_t records = 5 + locals + labels + depth + 1;
  const std::uint32_t frame_size = siframe::Link + 4 + records * siframe::RecordSize;
  const std::uint32_t room = 20 * labels + 100;
  const std::uint32_t fsym = function_symbol(ws);
  if (rd16(ws, fsym + sym::Uses) == 0xFFFF) limit_error(ws);
  for (;;) {
    const std::uint32_t gap = rd32(ws, hdr::StackPointer) - rd32(ws, hdr::HeapTop);
    if (gap > room && gap - room > frame_size) break;
    if (rd32(ws, hdr::Garbage) == 0) xwsfll(ws);
    force_gcol(ws);
  }
  fn = function_object(ws);  // the collection may have moved it

  // The frame, directly below the call's entries.
  const std::uint32_t sp = rd32(ws, hdr::StackPointer);
  const std::uint32_t link = sp - 4;
  const std::uint32_t frame = link - siframe::Link;
  wr32(ws, link, rd32(ws, hdr::SiLink));
  wr32(ws, hdr::SiLink, link);
  if (rd8(ws, hdr::OutputBits) & 0x08) {
    wr8(ws, hdr::OutputBits, rd8(ws, hdr::OutputBits) & ~0x08);
    wr32(ws, hdr::LineCursor, rd32(ws, hdr::LineCursor) | 0x80000000u);
  }
  if (std::uint32_t line = rd32(ws, hdr::CurrentLine)) set_owner(line, frame + siframe::Line, OK_WORD, ws);
  std::memcpy(ws + frame + siframe::Register, ws + hdr::TokenRegister, 6);
  if ((rd8(ws, hdr::TokenRegister) & kOwnsObject) && rd32(ws, hdr::TokenRegister + se::Value))
    set_owner(rd32(ws, hdr::TokenRegister + se::Value), frame + siframe::Register, OK_STACK, ws);
  wr16(ws, frame + siframe::Et1, 0xFFFF);
  wr16(ws, frame + siframe::Et2, 0xFFFF);
  wr32(ws, frame + siframe::Pending, 0);
  const std::uint8_t rb = rd8(ws, hdr::ResultBits);
  bool save_et = rb & 0x08;
  if (!save_et) {
    save_et = !(rb & 0x04) && state_has(st::NotFunctionLine, ws);
    wr8(ws, hdr::ResultBits, rd8(ws, hdr::ResultBits) & ~0x04);
  }
  if (save_et) {
    if (std::uint32_t msg = rd32(ws, hdr::ErrorMessage)) {
      wr32(ws, frame + siframe::Pending, msg);
      set_owner(msg, frame + siframe::Pending, OK_WORD, ws);
    }
    wr16(ws, frame + siframe::Et1, rd16(ws, hdr::EtMajor) & 0x7FFF);
    wr16(ws, frame + siframe::Et2, rd16(ws, hdr::EtMinor) & 0x7FFF);
    wr16(ws, hdr::EtMajor, 0);
    wr16(ws, hdr::EtMinor, 0);
    wr32(ws, hdr::ErrorMessage, 0);
  }
  save_level_registers(frame, sp, rd32(ws, hdr::LineCursor), ws);
  wr32(ws, hdr::CurrentInstance, rd32(ws, hdr::CallingInstance));
  wr32(ws, hdr::CallingInstance, 0);
  wr32(ws, hdr::CurrentLine, 0);
  std::memset(ws + hdr::TokenRegister, 0, 6);
  wr16(ws, hdr::ErrTokenCount, 0);
  if (rd32(ws, hdr::TrapWord)) {
    set_state(st::PassErrors, 0, ws);
    wr32(ws, hdr::TrapWord, 0);
  }
  wr16(ws, frame + siframe::Count, count);
  wr32(ws, hdr::StackPointer, frame);
  // Every record starts empty, so that an error while they are filled in
  // leaves a frame whose clearing restores only what was localised. The
  // frame holds count + 1 records (siframe::Count is one less).
  for (std::uint32_t i = 1; i <= count + 1; ++i) {
    const std::uint32_t r = frame - i * siframe::RecordSize;
    std::memset(ws + r, 0, siframe::RecordSize);
    wr8(ws, r, kRecEmpty);
  }

  // The function's own level.
  // A method's lines are found through the current object and the token
  // (running_function); the level holds a reference to that object.
  wr8(ws, hdr::RunningSymType, method ? rd8(ws, hdr::HeaderSymType) : rd8(ws, fsym + sym::Type) & kSymTypeMask);
  wr16(ws, fsym + sym::Uses, rd16(ws, fsym + sym::Uses) + 1);
  wr32(ws, hdr::RunningSymbol, method ? kMethodLevel : fsym);
  if (method) {
    inc_object_reference_count(rd32(ws, hdr::CurrentInstance), ws);
    wr16(ws, callreg::OwnName, 0);  // a method's name is no symbol of its own to shadow
  }
  wr16(ws, hdr::RunningToken, token_of_entry(fsym));
  if (rd8(ws, fn + fnl::Marks) & fnmark::Locked) set_state(st::PassErrors, 0, ws);

  // Records: result, left and right arguments, two operands (empty here).
  locala(rd16(ws, callreg::ResultName), ws);
  locala(rd16(ws, callreg::LeftName), ws);
  actarg(rd16(ws, callreg::LeftName), left, ws);
  locala(rd16(ws, callreg::RightName), ws);
  actarg(rd16(ws, callreg::RightName), right, ws);
  locala(rd16(ws, callreg::LeftOperand), ws);
  locala(rd16(ws, callreg::RightOperand), ws);
  const std::uint32_t fentry = sp + kStackEntrySize;
  if (release_entry(load_entry(fentry, ws), ws)) {
    wr8(ws, fentry + se::Class, 0);
    wr8(ws, fentry + se::Flags, 0);
  }
  // Localised names, in header order, after the argument and function names
  // (as many as the header's own form has, whatever the call).
  fn = running_function(ws);
  const int code = static_cast<int>(rd16(ws, fn + fnl::HeaderWord) & 0xFF) - 1;
  std::uint32_t cursor = fn + fnl::Names + ((rd16(ws, fn + fnl::HeaderWord) & 0x8000) ? 3 : 0) +
                         2 * (code < 0 ? 1 : code == 0 ? 2 : 3);
  // An operator's header also names its operands, in parentheses.
  const std::uint8_t ftype = rd8(ws, fsym + sym::Type) & kSymTypeMask;
  if (is_operator_type(ftype)) cursor += 2 * static_cast<std::uint32_t>((ftype - 9) / 2) + 2;
  for (std::uint32_t i = 0; i < locals; ++i, cursor += 3) {
    local(be16(ws, cursor + 1), kRecName, ws);
    fn = running_function(ws);
  }
  // Labels: integer scalars holding their line numbers.
  std::uint32_t n = 1;
  for (std::uint32_t line = rd32(ws, running_function(ws) + fnl::Next); line;
       line = rd32(ws, line + fnl::Next), ++n) {
    const std::uint16_t label = rd16(ws, line + fnl::Label);
    if (!label) continue;
    local(label, kRecLabel, ws);
    const std::uint32_t e = entry_of_token(label);
    const std::uint32_t v = getspc(8, ws);
    line = xffndl(n, ws);  // the allocation may have compacted the heap
    wr8(ws, v + obj::Type, ET_INT);
    wr16(ws, v + obj::Rank4, 0);
    wr32(ws, v + 12, n);
    wr32(ws, e + sym::Value, v);
    wr8(ws, e + sym::Type, kSymLocalFlag | SYM_LABEL);
    set_owner(v, e, OK_SYMBOL, ws);
  }
  for (std::uint32_t level = 0; level <= depth; ++level) push_record(kRecControl, 0, 0, 0, ws);

  wr32(ws, hdr::FnLineNumber, 0);
  set_state(0, st::ValueAwaited | st::ExecuteRunning | st::NotFunctionLine, ws);
  return ES_FUNCTION_LINE_END;
}

std::uint32_t quadus(Ws ws) {
  const std::uint32_t link = rd32(ws, hdr::SiLink);
  const std::uint32_t frame = link - siframe::Link;
  wr32(ws, hdr::SiLink, rd32(ws, link));
  if (rdi16(ws, frame + siframe::Et1) >= 0) {
    wr16(ws, hdr::EtMajor, rd16(ws, frame + siframe::Et1));
    wr16(ws, hdr::EtMinor, rd16(ws, frame + siframe::Et2));
    kill_dead_man(ws);
    if (std::uint32_t msg = rd32(ws, frame + siframe::Pending)) {
      wr32(ws, hdr::ErrorMessage, msg);
      set_owner(msg, hdr::ErrorMessage, OK_WORD, ws);
    }
  }
  const std::uint16_t callee = engine_state(ws);
  wr32(ws, hdr::RunningSymbol, rd32(ws, frame + siframe::RunningSymbol));
  wr16(ws, hdr::RunningToken, rd16(ws, frame + siframe::RunningToken));
  std::uint16_t state = rd16(ws, frame + siframe::State);
  state = static_cast<std::uint16_t>((state & ~st::AttentionSeen) | (callee & (st::AttentionSeen | st::Defining)));
  wr16(ws, hdr::State, state);
  wr32(ws, hdr::CurrentLine, rd32(ws, frame + siframe::Line));
  std::memcpy(ws + hdr::TokenRegister, ws + frame + siframe::Register, 6);
  wr32(ws, hdr::StackPointer, rd32(ws, frame + siframe::StackPointer));
  wr32(ws, hdr::FnLineNumber, rd32(ws, frame + siframe::LineNumber));
  wr32(ws, hdr::TokensTaken, rd16(ws, frame + siframe::Tokens));
  wr16(ws, hdr::ErrTokenCount, rd16(ws, frame + siframe::ErrTokens));
  std::uint32_t cursor = rd32(ws, frame + siframe::Cursor);
  wr8(ws, hdr::OutputBits, rd8(ws, hdr::OutputBits) & ~0x08);
  if (cursor & 0x80000000u) {
    cursor &= 0x7FFFFFFFu;
    wr8(ws, hdr::OutputBits, rd8(ws, hdr::OutputBits) | 0x08);
  }
  wr32(ws, hdr::LineCursor, cursor);
  wr8(ws, hdr::RunningSymType, rd8(ws, frame + siframe::SymType));
  wr32(ws, hdr::TrapWord, rd32(ws, frame + siframe::Trap));
  wr8(ws, hdr::EvalKind, rd8(ws, frame + siframe::EvalKind));
  wr32(ws, hdr::CurrentInstance, rd32(ws, frame + siframe::Instance));
  if ((rd8(ws, hdr::TokenRegister) & kOwnsObject) && rd32(ws, hdr::TokenRegister + se::Value))
    set_owner(rd32(ws, hdr::TokenRegister + se::Value), hdr::TokenRegister, OK_STACK, ws);
  if (std::uint32_t line = rd32(ws, hdr::CurrentLine)) set_owner(line, hdr::CurrentLine, OK_WORD, ws);
  return frame;
}

int xfnclr(Ws ws) {
  const int kind = rd8(ws, hdr::RunningSymType) & kSymTypeMask;
  if (kind == SYM_VAR) {
    end_evaluation_level(ws);
    return kind;
  }
  // The function's own use of its symbol (a symbol, or a local record when
  // it localised its own name).
  const std::uint16_t token = rd16(ws, hdr::RunningToken);
  const std::uint32_t fsym = entry_of_token(token);
  const std::uint32_t object = rd32(ws, hdr::RunningSymbol) == kMethodLevel ? rd32(ws, hdr::CurrentInstance) : 0;
  const std::uint32_t frame = quadus(ws);
  wr32(ws, hdr::StackPointer, rd32(ws, hdr::StackPointer) + 12);
  // The result, from the result-name record.
  const std::uint32_t result_entry = rd32(ws, hdr::StackPointer);
  const std::uint32_t rrec = frame - siframe::RecordSize;
  StackEntry result{static_cast<std::uint8_t>(kOwnsObject | TC_VALUE), kSeNoDisplay, 0};
  if (rd8(ws, rrec) != kRecEmpty) {
    const std::uint32_t e = entry_of_token(rd16(ws, rrec + 2));
    if ((rd8(ws, e + sym::Type) & kSymTypeMask) == SYM_VAR && rd32(ws, e + sym::Value)) {
      result.flags = 0;
      result.value = rd32(ws, e + sym::Value);
      wr32(ws, e + sym::Value, 0);
      wr8(ws, e + sym::Type, kSymLocalFlag | SYM_UNDEF);
    }
  }
  store_entry(result_entry, result, ws);
  if (result.value) {
    wr32(ws, result.value - 4, result_entry);
    wr8(ws, result.value, OK_STACK);  // the strand mark goes; the counted mark stays
  }
  // Restore the records, newest first.
  const std::uint32_t records = static_cast<std::uint32_t>(rdi16(ws, frame + siframe::Count)) + 1;
  for (std::uint32_t i = records; i-- > 0;) unlcl(frame - siframe::RecordSize * (i + 1), frame, ws);
  // The use the call took on the function's symbol.
  if (rd8(ws, fsym + sym::Length) != 0) {
    const std::uint16_t uses = rd16(ws, fsym + sym::Uses);
    if (uses > 0) {
      wr16(ws, fsym + sym::Uses, uses);
      clnus2(fsym, ws);
    }
  }
  if (object != 0) dec_object_reference_count(object, ws);  // the method level's reference
  return kind;
}

void fnsub(Ws ws) {
  const std::uint16_t token = rd16(ws, hdr::RunningToken);
  if (token == 0 || token == 0xFFFF) return;
  // A method is named through the class that declares it: Class.Method.
  if (const std::uint16_t cls = method_level_class_name(rd32(ws, hdr::RunningSymbol), rd32(ws, hdr::CurrentInstance),
                                                        token, ws)) {
    ldisn(cls, ws);
    cdisp(0x2E, ws);  // .
  }
  ldisn(token, ws);
  cdisp(0x3B, ws);  // [
  fmtint(rdi32(ws, hdr::FnLineNumber), ws);
  ldism(ws);
  cdisp(0x27, ws);  // ]
  pspace(ws);
}

// ---- calls from the dispatch -------------------------------------------------

namespace {

int call_with(bool dyadic, bool niladic, Ws ws) {
  int valence = 0;
  if (dfnsu(&valence, ws) != 4) ZEMA_SYSTEM_ERROR(ws);
  // The valence first, then a selective-assignment model, then an axis
  // (bytes 4 and 5 of the function entry): a defined function takes none.
  if (niladic ? valence != -1 : dyadic ? valence < 1 : valence < 0) valence_error(ws);
  if (rd8(ws, hdr::SelectBits) & 0x01) domner(ws);
  const std::uint32_t fentry = function_entry(ws);
  if (!niladic && (rd32(ws, fentry + se::Value) >> 16) != 0) axis_error(ws);
  const std::uint32_t cursor = header_names(ws);
  if (niladic) {
    wr32(ws, hdr::TokensTaken, rd32(ws, hdr::TokensTaken) + 1);
    wr16(ws, callreg::OwnName, be16(ws, cursor));
  } else if (dyadic) {
    wr16(ws, callreg::LeftName, be16(ws, cursor));
    wr16(ws, callreg::OwnName, be16(ws, cursor + 2));
    wr16(ws, callreg::RightName, be16(ws, cursor + 4));
  } else {
    if (valence < 1) {
      wr16(ws, callreg::OwnName, be16(ws, cursor));
      wr16(ws, callreg::RightName, be16(ws, cursor + 2));
    } else {
      wr16(ws, callreg::LeftName, be16(ws, cursor));
      wr16(ws, callreg::OwnName, be16(ws, cursor + 2));
      wr16(ws, callreg::RightName, be16(ws, cursor + 4));
    }
  }
  return xfnc(ws);
}

}  // namespace

int call_operator(bool dyadic, const StackEntry& left_operand, const StackEntry& right_operand, Ws ws) {
  if (dyadic) check_arg_type(stack_entry_at(0, ws), ws);
  check_arg_type(stack_entry_at(2, ws), ws);
  int valence = 0;
  if (dfnsu(&valence, ws) != 4) ZEMA_SYSTEM_ERROR(ws);
  if (dyadic && valence < 1) valence_error(ws);
  if (rd8(ws, hdr::SelectBits) & 0x01) domner(ws);
  const bool two = (rd8(ws, function_symbol(ws) + sym::Type) & kSymTypeMask) >= 13;
  // [L] ( F OP [G] ) R: names are two bytes, parentheses one.
  std::uint32_t cursor = header_names(ws);
  if (valence >= 1) {
    wr16(ws, callreg::LeftName, be16(ws, cursor));
    cursor += 2;
  }
  wr16(ws, callreg::LeftOperand, be16(ws, cursor + 1));
  wr16(ws, callreg::OwnName, be16(ws, cursor + 3));
  cursor += 5;
  if (two) {
    wr16(ws, callreg::RightOperand, be16(ws, cursor));
    cursor += 2;
  }
  wr16(ws, callreg::RightName, be16(ws, cursor + 1));
  const std::uint16_t names[2] = {rd16(ws, callreg::LeftOperand), rd16(ws, callreg::RightOperand)};
  const int state = xfnc(ws);
  const StackEntry operands[2] = {left_operand, right_operand};
  for (int i = 0; i < (two ? 2 : 1); ++i) {
    const std::uint32_t obj = new_derived_object(operands[i], ws);
    const std::uint32_t e = entry_of_token(names[i]);
    if (const std::uint32_t old = rd32(ws, e + sym::Value)) mgarb(old, ws);
    wr32(ws, e + sym::Value, obj);
    wr8(ws, e + sym::Type, kSymLocalFlag | SYM_OPERAND);
    set_owner(obj, e, OK_SYMBOL, ws);
  }
  return state;
}

int call_defined(int valence, Ws ws) {
  if (valence == 2) check_arg_type(stack_entry_at(0, ws), ws);
  if (valence >= 1) check_arg_type(stack_entry_at(2, ws), ws);
  return call_with(valence == 2, valence == 0, ws);
}

}  // namespace zema
