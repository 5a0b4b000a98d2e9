// Defined operators: binding and calling.
#include "interpreter/engine/user_operator.h"

#include <utility>

#include "interpreter/engine/call.h"
#include "interpreter/engine/derived_operand.h"
#include "interpreter/engine/reduce_operator.h"
#include "interpreter/primitives/args.h"
#include "interpreter/primitives/primitive_call.h"
#include "interpreter/primitives/structural.h"
#include "interpreter/workspace/errors.h"
#include "interpreter/workspace/heap.h"
#include "interpreter/workspace/stack.h"
#include "interpreter/workspace/symtab.h"

namespace zema {

namespace {

// An operand the operator can hold: a function (primitive, named or
// derived) or a value. The grammar binds an operator to nothing else (/ ⌿
// \ ⍀ take their own operand first; literals, niladic calls and ⎕ ⍞ are
// values by the time they lie on the stack).
void check_operand(std::uint32_t at, Ws ws) {
  const std::uint8_t cls = rd8(ws, at + se::Class) & kClassMask;
  if (cls != TC_PRIMITIVE && cls != TC_NAMEDFN && cls != TC_DERIVED && cls != TC_VALUE) ZEMA_SYSTEM_ERROR(ws);
}

void mark_operator(std::uint32_t obj, std::uint16_t token, Ws ws) {
  wr16(ws, obj + uop::Token, token);
  wr8(ws, obj + uop::Mark, uop::kMark);
}

// The entry at `at` becomes `e`, owning its object; the object it owned is
// released.
void replace_with(std::uint32_t at, const StackEntry& e, Ws ws) {
  release_entry(load_entry(at, ws), ws);
  store_entry(at, e, ws);
  set_owner(e.value, at, OK_STACK, ws);
}

// A numeric constant of the line (or a strand of values) with more than one
// item, standing alone at the right end of the statement or of its
// parentheses, is split: its first item becomes the right operand and the
// rest the argument under it (so f OP 1 2 3 is (f OP 1) 2 3).
void split_constant(Ws ws) {
  for (;;) {
    const std::uint32_t at = stack_entry_at(0, ws);
    const StackEntry e = load_entry(at, ws);
    if (e.cls != (kOwnsObject | TC_VALUE) || e.value == 0) return;
    if ((rd8(ws, stack_entry_at(1, ws) + se::Class) & kClassMask) != TC_RPAREN) return;
    if (!(rd8(ws, e.value + obj::Kind) & kStrandMark)) return;
    const ArrayInfo a = array_info(e.value, ws);
    if (a.rank == 0 || a.count < 2) return;
    for (std::uint32_t i = 1; i < a.count; ++i) push_item(at, i, ws);
    collect({a.count - 1}, a.count - 1, ws);
    push_item(at, 0, ws);
    StackEntry first, rest;
    unstack(first, ws);
    unstack(rest, ws);
    settle_entry(at, rest, ws);
    const std::uint32_t slot = stack(first, ws);
    set_owner(first.value, slot, OK_STACK, ws);
  }
}

// The derived function at `fn_entry` becomes the operator's name; its
// object moves to the kill slot (empty while a line runs), whose owner it
// stays until the operands are bound (bind_operands).
void unbind(std::uint32_t fn_entry, Ws ws) {
  const StackEntry fn = load_entry(fn_entry, ws);
  if (rd32(ws, hdr::KillSlot) != 0) ZEMA_SYSTEM_ERROR(ws);
  wr32(ws, hdr::KillSlot, fn.value);
  set_owner(fn.value, hdr::KillSlot, OK_WORD, ws);
  store_entry(fn_entry, StackEntry{TC_NAMEDFN, 0, rd16(ws, fn.value + uop::Token)}, ws);
}

// Releases the object in the kill slot.
void drop_parked(Ws ws) {
  const std::uint32_t parked = rd32(ws, hdr::KillSlot);
  wr32(ws, hdr::KillSlot, 0);
  mgarb(parked, ws);
}

// The operand names of the operator just called (callreg::) are given
// holders of the operands kept in the object in the kill slot, which is
// then released.
void bind_operands(Ws ws) {
  const std::pair<std::uint32_t, std::uint32_t> names[2] = {{callreg::LeftOperand, dfn::Entry},
                                                            {callreg::RightOperand, uop::Right}};
  for (const auto& [reg, field] : names) {
    const std::uint16_t token = rd16(ws, reg);
    if (token == 0) continue;
    const std::uint32_t holder = operand_holder(hdr::KillSlot, field, ws);
    const std::uint32_t e = entry_of_token(token);
    if (const std::uint32_t old = rd32(ws, e + sym::Value)) mgarb(old, ws);
    wr32(ws, e + sym::Value, holder);
    set_owner(holder, e, OK_SYMBOL, ws);
  }
  drop_parked(ws);
}

// Calls the operator whose name is on the stack; its operands are in the
// kill slot.
int call_parked(bool dyadic, Ws ws) {
  int state;
  try {
    state = call_operator(dyadic, null_entry, null_entry, ws);
    bind_operands(ws);
  } catch (...) {
    if (rd32(ws, hdr::KillSlot) != 0) drop_parked(ws);
    throw;
  }
  return state;
}

}  // namespace

int do_xudyop(Ws ws) {
  StackEntry op;
  unstack(op, ws);
  split_constant(ws);
  const std::uint32_t at = stack_entry_at(0, ws);
  check_operand(at, ws);
  const std::uint32_t obj = derived_with_operand(0, uop::Right, at, ws);
  mark_operator(obj, static_cast<std::uint16_t>(op.value), ws);
  replace_with(at, StackEntry{static_cast<std::uint8_t>(kOwnsObject | TC_MONOP), 0, obj}, ws);
  return ES_BIND;
}

int do_xumnop(Ws ws) {
  const std::uint32_t top = stack_entry_at(0, ws);
  check_operand(top, ws);
  const std::uint32_t at = stack_entry_at(1, ws);
  const StackEntry op = load_entry(at, ws);
  const bool bound = op.cls & kOwnsObject;  // a dyadic operator with its right operand
  const std::uint32_t obj = derived_with_operand(bound ? at : 0, dfn::Entry, top, ws);
  if (!bound) mark_operator(obj, static_cast<std::uint16_t>(op.value), ws);
  StackEntry operand;
  unstack(operand, ws);
  release_entry(operand, ws);
  replace_with(at, StackEntry{static_cast<std::uint8_t>(kOwnsObject | TC_DERIVED), 0, obj}, ws);
  return ES_BIND;
}

bool is_user_operator(std::uint32_t fn_entry, Ws ws) {
  const StackEntry fn = load_entry(fn_entry, ws);
  if (!(fn.cls & kOwnsObject) || fn.value == 0) return false;
  return rd8(ws, fn.value + obj::Type) == ET_DERIVED && rd8(ws, fn.value + uop::Mark) == uop::kMark;
}

int user_operator_monadic(Ws ws) {
  unbind(stack_entry_at(0, ws), ws);
  push_fake(ws);  // the left argument's place
  return call_parked(false, ws);
}

int user_operator_dyadic(Ws ws) {
  unbind(stack_entry_at(1, ws), ws);
  return call_parked(true, ws);
}

}  // namespace zema
