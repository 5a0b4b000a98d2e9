// Statements of scalar integer arithmetic run without the token loop.
#include "interpreter/engine/fast_statement.h"

#include <cstdint>

#include "host/charset.h"
#include "interpreter/engine/assign.h"
#include "interpreter/engine/apply.h"
#include "interpreter/engine/control.h"
#include "interpreter/engine/engine.h"
#include "interpreter/engine/function_object.h"
#include "interpreter/primitives/scalar_codes.h"
#include "interpreter/reader/token_format.h"
#include "interpreter/reader/tokeniser.h"
#include "interpreter/workspace/entry.h"
#include "interpreter/workspace/stack.h"
#include "interpreter/workspace/symtab.h"

namespace zema {

namespace {


const std::uint8_t kAssignToken = glyph_token("←");
const std::uint8_t kBranchToken = glyph_token("→");

// The most operands a statement may have here; a longer one runs as written.
constexpr int kMaxOperands = 8;

// The value of a boolean or integer scalar array, and whether it is boolean.
bool scalar_value(std::uint32_t a, std::int64_t& v, bool& boolean, Ws ws) {
  if (a == 0 || rd16(ws, a + obj::Rank4) != 0) return false;
  const std::uint8_t type = rd8(ws, a + obj::Type);
  const std::uint32_t word = rd32(ws, a + obj::Shape);
  boolean = type == ET_BOOL;
  if (type == ET_INT) {
    v = static_cast<std::int32_t>(word);
    return true;
  }
  if (boolean) {
    v = word >> 31;
    return true;
  }
  return false;
}

// The value of name `token`: a variable's or a label's scalar.
bool name_value(std::uint32_t token, std::int64_t& v, bool& boolean, Ws ws) {
  const std::uint32_t sym = entry_of_token(token);
  const std::uint8_t kind = rd8(ws, sym + sym::Type) & kSymTypeMask;
  if (kind != SYM_VAR && kind != SYM_LABEL) return false;
  return scalar_value(rd32(ws, sym + sym::Value), v, boolean, ws);
}

// The statement whose opening tag is at `tag` runs: the attention poll
// first, as the token loop's; then the registers are left as the token loop
// leaves them when it has taken the statement's `tokens` tokens and its
// edge: the cursor at the opening tag, the register at the edge.
void start_statement(std::uint32_t tag, std::uint32_t tokens, Ws ws) {
  wr8(ws, hdr::FirstTag, 0);
  wr16(ws, hdr::AttnCountdown, 1024);
  wr16(ws, hdr::AttnReload, 1024);
  poll_statement_start(ws);
  wr32(ws, hdr::LineCursor, tag - current_line(ws));
  wr32(ws, hdr::TokensTaken, tokens + 1);
  set_token_register(StackEntry{TC_EDGE, 0, 0}, ws);
}

}  // namespace

void poll_statement_start(Ws ws) {
  if (attention_poll_due() || lowglobals(ws).attn_count != 0) {
    const std::uint32_t cursor = rd32(ws, hdr::LineCursor), taken = rd32(ws, hdr::TokensTaken);
    wr32(ws, hdr::LineCursor, cursor - 1);
    wr32(ws, hdr::TokensTaken, 1);
    poll_attention(ws);
    wr32(ws, hdr::LineCursor, cursor);
    wr32(ws, hdr::TokensTaken, taken);
  }
  wr16(ws, hdr::AttnCountdown, rd16(ws, hdr::AttnReload));
}

void poll_line_start(Ws ws) {
  set_state(0, st::StatementStarted, ws);
  poll_statement_start(ws);
  set_state(st::StatementStarted, 0, ws);
}

int fast_scalar_statement(Ws ws) {
  if (state_has(st::NotFunctionLine | st::ValueAwaited, ws)) return -1;
  // A method's names may be members of its object: the token loop finds them.
  if (rd32(ws, hdr::CurrentInstance) != 0) return -1;
  const std::uint32_t line = current_line(ws);
  if (line == 0 || (rd8(ws, line + tl::Marks) & fnmark::Trace)) return -1;
  if ((rd8(ws, hdr::TokenRegister) & kOwnsObject) || (rd8(ws, hdr::SelectBits) & 0x01)) return -1;

  // A structure's end keyword alone.
  std::uint32_t at = line + rd32(ws, hdr::LineCursor);
  if (rd8(ws, at - 2) == TT_STATEMENT && ends_structure(rd8(ws, at - 1))) {
    start_statement(at - 2, 1, ws);
    return sc_end_statement(ws);
  }

  // The tokens right to left: operand (function operand)*, then ← and the
  // target name, or →, then the statement's opening tag.
  std::int64_t value = 0;
  bool boolean = false;
  int operands = 0;
  std::uint8_t pending = 0;  // the function waiting for its left operand
  for (;;) {
    const std::uint8_t b = rd8(ws, at - 1);
    std::int64_t v = 0;
    bool v_boolean = false;
    if ((b & 1) == 0) {  // a name
      if (!name_value((std::uint32_t(rd8(ws, at - 2)) << 8) | b, v, v_boolean, ws)) return -1;
      at -= 2;
    } else if (b == TT_INT || b == TT_BOOL) {  // a literal: its data, count and tag
      if (get_le16(ws, at - 3) != 1) return -1;
      const std::uint32_t word = __builtin_bswap32(rd32(ws, at - 7));
      v = b == TT_INT ? std::int64_t{static_cast<std::int32_t>(word)} : std::int64_t{word >> 31};
      v_boolean = b == TT_BOOL;
      at -= 7;
    } else {
      return -1;
    }
    if (operands == 0) {
      value = v;
      boolean = v_boolean;
    } else if (!small_scalar_result(pending, primitive_flags(pending), v, value, value, boolean)) {
      return -1;
    }
    if (++operands > kMaxOperands) return -1;
    const std::uint8_t f = rd8(ws, at - 1);
    if (f == kAssignToken || f == kBranchToken) break;
    if ((f & 1) == 0 || f == TT_STATEMENT) return -1;
    pending = static_cast<std::uint8_t>((f >> 1) & 0x7F);
    if (optran(pending) != TC_PRIMITIVE) return -1;
    --at;
  }
  const bool assign = rd8(ws, at - 1) == kAssignToken;
  --at;
  std::uint32_t target = 0;
  std::uint32_t sym = 0;
  if (assign) {
    const std::uint8_t b = rd8(ws, at - 1);
    if (b & 1) return -1;
    sym = entry_of_token((std::uint32_t(rd8(ws, at - 2)) << 8) | b);
    if ((rd8(ws, sym + sym::Type) & kSymTypeMask) != SYM_VAR) return -1;
    target = rd32(ws, sym + sym::Value);
    std::int64_t old = 0;
    bool old_boolean = false;
    if (!scalar_value(target, old, old_boolean, ws)) return -1;
    at -= 2;
  }
  if (rd8(ws, at - 1) != TT_STATEMENT) return -1;

  start_statement(at - 1, 2 * operands - 1 + (assign ? 2 : 1), ws);
  // The primer goes, as at the end of the statement's value or branch.
  wr32(ws, hdr::StackPointer, rd32(ws, hdr::StackPointer) + kStackEntrySize);
  if (assign) {
    // The name's value is its own (an assignment copies): written in place,
    // once the entries that read it have their own.
    settle_readers_below(sym, ws);
    target = rd32(ws, sym + sym::Value);
    wr8(ws, target + obj::Type, boolean ? ET_BOOL : ET_INT);
    wr8(ws, target + obj::Flags9, 0);
    wr32(ws, target + obj::Shape,
         boolean ? static_cast<std::uint32_t>(value) << 31 : static_cast<std::uint32_t>(value));
    return ES_NEXT_STATEMENT;
  }
  if (rdi32(ws, hdr::FnLineNumber) >= 0) wr32(ws, hdr::FnLineNumber, static_cast<std::uint32_t>(value - 1));
  return ES_STATEMENT_END;
}

}  // namespace zema
