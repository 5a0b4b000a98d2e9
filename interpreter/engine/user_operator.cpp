// Defined operators: binding and calling.
#include "interpreter/engine/user_operator.h"

#include "interpreter/engine/call.h"
#include "interpreter/engine/derived_operand.h"
#include "interpreter/primitives/primitive_call.h"
#include "interpreter/primitives/structural.h"
#include "interpreter/workspace/errors.h"
#include "interpreter/workspace/heap.h"
#include "interpreter/workspace/stack.h"

namespace zema {

namespace {

// An operand the operator can hold: a primitive or a named function.
// Values and derived functions are not taken yet.
StackEntry checked_operand(std::uint32_t at, Ws ws) {
  const StackEntry e = load_entry(at, ws);
  if (e.cls != TC_PRIMITIVE && e.cls != TC_NAMEDFN) noncer_1(ws);
  return e;
}

std::uint32_t operator_object(const StackEntry& operand, std::uint16_t token, Ws ws) {
  const std::uint32_t obj = new_derived_object(operand, ws);
  wr16(ws, obj + uop::Token, token);
  wr8(ws, obj + uop::Mark, uop::kMark);
  return obj;
}

// The derived function at `fn_entry` becomes the operator's name; answers
// the operands it held.
void unbind(std::uint32_t fn_entry, StackEntry& left, StackEntry& right, Ws ws) {
  const StackEntry fn = load_entry(fn_entry, ws);
  const std::uint32_t obj = fn.value;
  left = load_entry(obj + dfn::Entry, ws);
  right = load_entry(obj + uop::Right, ws);
  const std::uint16_t token = rd16(ws, obj + uop::Token);
  release_entry(fn, ws);
  store_entry(fn_entry, StackEntry{TC_NAMEDFN, 0, token}, ws);
}

}  // namespace

int do_xudyop(Ws ws) {
  StackEntry op;
  unstack(op, ws);
  const std::uint32_t at = stack_entry_at(0, ws);
  const StackEntry right = checked_operand(at, ws);
  const std::uint32_t obj = operator_object(null_entry, static_cast<std::uint16_t>(op.value), ws);
  store_entry(obj + uop::Right, right, ws);
  store_entry(at, StackEntry{static_cast<std::uint8_t>(kOwnsObject | TC_MONOP), 0, obj}, ws);
  set_owner(obj, at, OK_STACK, ws);
  return ES_BIND;
}

int do_xumnop(Ws ws) {
  const StackEntry left = checked_operand(stack_entry_at(0, ws), ws);
  StackEntry top;
  unstack(top, ws);
  const std::uint32_t at = stack_entry_at(0, ws);
  const StackEntry op = load_entry(at, ws);
  std::uint32_t obj;
  if (op.cls & kOwnsObject) {
    obj = op.value;
    store_entry(obj + dfn::Entry, left, ws);
  } else {
    obj = operator_object(left, static_cast<std::uint16_t>(op.value), ws);
  }
  store_entry(at, StackEntry{static_cast<std::uint8_t>(kOwnsObject | TC_DERIVED), 0, obj}, ws);
  set_owner(obj, at, OK_STACK, ws);
  return ES_BIND;
}

bool is_user_operator(std::uint32_t fn_entry, Ws ws) {
  const StackEntry fn = load_entry(fn_entry, ws);
  if (!(fn.cls & kOwnsObject) || fn.value == 0) return false;
  return rd8(ws, fn.value + obj::Type) == ET_DERIVED && rd8(ws, fn.value + uop::Mark) == uop::kMark;
}

int user_operator_monadic(Ws ws) {
  StackEntry left, right;
  unbind(stack_entry_at(0, ws), left, right, ws);
  push_fake(ws);  // the left argument's place
  return call_operator(false, left, right, ws);
}

int user_operator_dyadic(Ws ws) {
  StackEntry left, right;
  unbind(stack_entry_at(1, ws), left, right, ws);
  return call_operator(true, left, right, ws);
}

}  // namespace zema
