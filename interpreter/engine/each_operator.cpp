// The operator ¨ (each) with a primitive function operand.
#include "interpreter/engine/derived_operand.h"
#include "interpreter/engine/each_operator.h"

#include <cstring>

#include "host/charset.h"
#include "interpreter/engine/apply.h"
#include "interpreter/engine/engine.h"
#include "interpreter/engine/method_calls.h"
#include "interpreter/engine/operator_frame.h"
#include "interpreter/engine/reduce_operator.h"
#include "interpreter/engine/user_operator.h"
#include "interpreter/primitives/args.h"
#include "interpreter/primitives/nested_results.h"
#include "interpreter/primitives/primitive_call.h"
#include "interpreter/primitives/scalar_codes.h"
#include "interpreter/primitives/structural.h"
#include "interpreter/reader/tokeniser.h"
#include "interpreter/workspace/entry.h"
#include "interpreter/workspace/errors.h"
#include "interpreter/workspace/heap.h"
#include "interpreter/workspace/object_pool.h"
#include "interpreter/workspace/stack.h"
#include "interpreter/workspace/symtab.h"
#include "interpreter/workspace/arrays.h"

namespace zema {

namespace {

// The token value of ⌹ and of ⍉, the fill function of ⌹ on empty arguments.
constexpr std::uint8_t kDominoCode = 0x1F;
constexpr std::uint8_t kTransposeTag = 0x27;

// A copy of the object `rel` bytes into the array of the stack slot
// `from_slot` (its size word read there) pushed as a value.
void push_copy(std::uint32_t from_slot, std::uint32_t rel, Ws ws) {
  std::uint32_t src = find_ws_entry(from_slot, ws) + rel;
  const std::uint32_t size = rd32(ws, src + obj::Size);
  const std::uint32_t copy = getspc(size - 8, ws);
  src = find_ws_entry(from_slot, ws) + rel;
  std::memmove(ws + copy + 8, ws + src + 8, size - 8);
  count_value_references(copy, ws);
  stack(StackEntry{static_cast<std::uint8_t>(kOwnsObject | TC_VALUE), 0, copy}, ws);
}

// A simple scalar of `type` holding `e`, pushed as a value.
void push_scalar(std::uint8_t type, const Elem& e, Ws ws) {
  const std::uint32_t data = oprslt(1, 0, type, 0, ws);
  put_elem(array_info(data - obj::Shape, ws), 0, e, ws);
  wr8(ws, stack_entry_at(0, ws) + se::Flags, 0);
}

// Pushes the prototype of the array in `slot` before it is cleared: its
// first item, the one an empty nested array carries, or a blank (characters)
// or zero scalar.
void push_prototype(std::uint32_t slot, Ws ws) {
  const ArrayInfo a = array_info(find_ws_entry(slot, ws), ws);
  if (a.type == ET_NESTED) {
    if (a.count > 0) {
      push_copy(slot, rd32(ws, a.data), ws);
      return;
    }
    if (rd32(ws, a.off + obj::Size) >= a.data - a.off + 12) {
      push_copy(slot, a.data - a.off, ws);
      return;
    }
  }
  Elem e;
  if (a.type == ET_CHAR) {
    e.type = ET_CHAR;
    e.i = blank_char();
    push_scalar(ET_CHAR, e, ws);
    return;
  }
  push_scalar(ET_BOOL, e, ws);
}

// An argument's item i, or its prototype when it is empty; its only item
// when it has one (repeated over the other's items).
void push_arg(std::uint32_t slot, std::uint32_t i, Ws ws) {
  const ArrayInfo a = array_info(find_ws_entry(slot, ws), ws);
  if (a.count == 0)
    push_prototype(slot, ws);
  else
    push_item(slot, a.count == 1 ? 0 : i, ws);
}

// The operand's entry kept in the derived function `fn`.
StackEntry operand_of(std::uint32_t fn, Ws ws) { return load_entry(derived_object(fn, ws) + dfn::Entry, ws); }

// The function applied to the prototypes of empty arguments: a scalar
// function's fill function (every element 0), ⍉ for ⌹, else the operand.
StackEntry fill_function(StackEntry op, std::uint32_t scalar_bit) {
  const std::uint8_t code = static_cast<std::uint8_t>(((op.value & 0xFF) >> 1) & 0x7F);
  if (op.cls != TC_PRIMITIVE) return op;
  std::uint8_t tag = static_cast<std::uint8_t>(op.value & 0xFF);
  if (primitive_flags(code) & scalar_bit)
    tag = static_cast<std::uint8_t>(2 * pc::Fill + 1);
  else if (code == kDominoCode)
    tag = kTransposeTag;
  return StackEntry{TC_PRIMITIVE, 0, (op.value & ~0xFFu) | tag};
}

// The operand applied to the value on top of the stack (monadic), or to
// the value on top (left) and the one under it (right): the function entry
// goes between them; the result takes the right value's slot. A derived
// operand (a link in the derived function at `fn`) is pushed as a copy of
// its own and applied as derived functions are; it finishes at once, as it
// holds no function the engine must run.
void apply_derived(bool dyadic, Ws ws) {
  if ((dyadic ? do_xdy_derfn(ws) : do_xmn_derfn(ws)) != ES_FINISH_APPLICATION) ZEMA_SYSTEM_ERROR(ws);
}
void apply_monadic(const StackEntry& op, std::uint32_t fn, Ws ws) {
  if (op.cls == kClassLink) {
    push_operand_at(fn, dfn::Entry, ws);
    apply_derived(false, ws);
  } else {
    // ⍎ on a text runs a line, which only the engine can do: each calls it
    // through an operator frame (runs_in_engine), and the prototype of an
    // empty argument is cleared without a call (apply_fill).
    if (op.cls == TC_PRIMITIVE && (op.value & 0xFF) == kExecuteTag) ZEMA_SYSTEM_ERROR(ws);
    stack(op, ws);
    xmnop_common(0, stack_entry_at(0, ws), ws);
  }
  do_xmnopd(ws);
}
void apply_dyadic(const StackEntry& op, std::uint32_t fn, std::uint32_t l_slot, std::uint32_t i, Ws ws) {
  if (op.cls == kClassLink)
    push_operand_at(fn, dfn::Entry, ws);
  else
    stack(op, ws);
  push_arg(l_slot, i, ws);
  if (op.cls == kClassLink)
    apply_derived(true, ws);
  else
    xdyop_common(0, stack_entry_at(1, ws), ws);
  do_xmnopd(ws);
}

// The PrimitiveCode of ∘ (an outer product's left operand).
std::uint8_t jot_code() {
  static const std::uint8_t code = primitive_code(static_cast<std::uint8_t>(utf8_to_internal("∘")[0]));
  return code;
}

// For empty arguments: applies to the prototype(s) on top of the stack the
// function whose result gives the empty result's prototype, and answers
// true; answers false when nothing is applied (the prototype is then the
// argument's, cleared). A primitive operand applies its fill function; a
// derived operand the fill function of the primitive it derives from at
// its core, or itself when that primitive has an axis list; a defined
// function or operator, or compress or expand (A/), is not called. A
// reduction, a scan or an inner product as the operand has no fill
// function: DOMAIN ERROR.
bool apply_fill(std::uint32_t fn, bool dyadic, std::uint32_t l_slot, Ws ws) {
  const std::uint32_t bit = dyadic ? pf::DyadicScalar : pf::MonadicScalar;
  std::uint32_t obj = derived_object(fn, ws);
  StackEntry op = operand_of(fn, ws);
  while (op.cls == kClassLink) {
    const std::uint32_t inner = obj + op.value;
    if (rd8(ws, inner + obj::Type) != ET_DERIVED || rd8(ws, inner + uop::Mark) == uop::kMark) return false;
    if (is_method_reference_object(inner, ws)) return false;  // a method runs no fill call
    if (op.flags & fe::ReduceScan) {
      // A/ (compress or expand) runs no function of its own on the prototype.
      const StackEntry a = load_entry(inner + dfn::Entry, ws);
      if (a.cls == kClassLink && rd8(ws, inner + a.value + obj::Type) != ET_DERIVED) return false;
      domner(ws);
    }
    if (op.flags & fe::Product) {
      const StackEntry f = load_entry(inner + 24, ws);
      if (f.cls != TC_PRIMITIVE || (((f.value & 0xFF) >> 1) & 0x7F) != jot_code()) domner(ws);
    }
    if (rd32(ws, inner + dfn::ListWord) != 0) {
      if (dyadic)
        apply_dyadic(operand_of(fn, ws), fn, l_slot, 0, ws);
      else
        apply_monadic(operand_of(fn, ws), fn, ws);
      return true;
    }
    obj = inner;
    op = load_entry(inner + dfn::Entry, ws);
  }
  if (op.cls == TC_NAMEDFN) return false;
  // ⍎ of a prototype would run a blank line: the prototype is cleared instead.
  if (op.cls == TC_PRIMITIVE && (op.value & 0xFF) == kExecuteTag) return false;
  if (dyadic)
    apply_dyadic(fill_function(op, bit), fn, l_slot, 0, ws);
  else
    apply_monadic(fill_function(op, bit), fn, ws);
  return true;
}

// The shape of the array in `slot` (at most 63 axes).
std::vector<std::uint32_t> slot_shape(std::uint32_t slot, Ws ws) {
  return shape_of(array_info(find_ws_entry(slot, ws), ws), ws);
}

// The fill call's result on top of the stack made the prototype of an
// empty array of the shape of the array in `shape_slot`, which replaces it:
// a simple empty array when the prototype is a simple scalar.
void finish_empty(std::uint32_t shape_slot, Ws ws) {
  const std::vector<std::uint32_t> shape = slot_shape(shape_slot, ws);
  const auto rank = static_cast<std::uint32_t>(shape.size());
  std::uint32_t v = rd32(ws, stack_entry_at(0, ws) + se::Value);
  bool deep = false;
  const std::uint32_t bytes = prototype_bytes(ws + v, 0, deep);
  if (deep) depth_error(ws);
  const std::uint8_t type = rd8(ws, v + obj::Type);
  if (type != ET_NESTED && rd16(ws, v + obj::Rank4) == 0) {
    new_simple(shape, type == ET_CHAR ? ET_CHAR : ET_BOOL, ws);
  } else {
    need_room(std::uint64_t{bytes} + 4ull * rank + 16, ws);
    const std::uint32_t first = oprslt(0, 4 * rank, ET_NESTED, bytes, ws);
    for (std::uint32_t k = 0; k < rank; ++k) wr32(ws, first + 4 * k, shape[k]);
    v = rd32(ws, stack_entry_at(1, ws) + se::Value);
    write_prototype(ws + v, ws + first + 4 * rank, 0);
  }
  StackEntry result;
  unstack(result, ws);
  settle_entry(stack_entry_at(0, ws), result, ws);
}

// True when the operand of the derived function at `fn` is a function the
// engine runs (a defined function, or one held in a derived operand): each
// then calls it through an operator frame.
bool engine_operand(std::uint32_t fn, Ws ws) { return runs_in_engine(derived_object(fn, ws), dfn::Entry, ws); }

// The operand's call pushed for the frame at P: its entry as bound, or a
// copy of a derived operand.
void push_operand(std::uint32_t p, Ws ws) { push_operand_at(p + kStackEntrySize * (opf::Entries + 1), dfn::Entry, ws); }

// Pushes the link, the next right item, the operand and (dyadic) the next
// left item; answers the state that applies the operand.
int next_monadic_call(std::uint32_t p, Ws ws) {
  stack_table_ptr(p, ws);
  get_next_right(p, ws);
  push_operand(p, ws);
  return ES_APPLY_MONADIC;
}
int next_dyadic_call(std::uint32_t p, Ws ws) {
  stack_table_ptr(p, ws);
  get_next_right(p, ws);
  push_operand(p, ws);
  get_next_left(p, ws);
  return ES_APPLY_DYADIC;
}

// The frame at P and the results above it replaced by the final array
// (or, when some call gave no value, by the no-value entry) in the frame's
// result slot; answers the state that finishes the application.
int each_done(std::uint32_t p, Ws ws) {
  return finish_frame(p, slot_shape(frame_word(p, opf::Caller, ws) - se::Value, ws), ws);
}

}  // namespace

int do_xeach(Ws ws) {
  const std::uint32_t at = stack_entry_at(0, ws);
  const StackEntry operand = load_entry(at, ws);
  // A primitive function (with an axis written on it or none), a defined
  // function or a derived function is an operand here. The grammar brings
  // nothing else: a value left of ¨ is a syntax error, / ⌿ \ ⍀ do not bind
  // to ¨ (they take their own operand first), and a primitive's entry
  // carries no flag but the axis.
  const bool primitive = operand.cls == TC_PRIMITIVE && (operand.flags & ~fe::Axis) == 0;
  const bool slash = operand.cls == TC_SLASH && operand.flags == 0;
  const bool derived = (operand.cls & kClassMask) == TC_DERIVED;
  if (!primitive && !slash && !derived && operand.cls != TC_NAMEDFN) ZEMA_SYSTEM_ERROR(ws);
  replace_operand_with_derived(derived_with_operand(0, dfn::Entry, at, ws), fe::Each, ws);
  return ES_BIND;
}

int each_monadic(Ws ws) {
  if (engine_operand(stack_entry_at(0, ws), ws)) own_argument(stack_entry_at(1, ws), ws);
  begin_derived_monadic(ws);
  const std::uint32_t fn = stack_entry_at(1, ws);
  const std::uint32_t r_slot = stack_entry_at(2, ws);
  const StackEntry op = operand_of(fn, ws);
  const std::uint32_t n = array_info(right_arg(ws), ws).count;
  if (n == 0) {
    push_prototype(r_slot, ws);
    // When nothing is applied, the argument's prototype is cleared.
    apply_fill(fn, false, 0, ws);
    finish_empty(r_slot, ws);
    return ES_FINISH_APPLICATION;
  }
  if (engine_operand(fn, ws)) return next_monadic_call(stack_opctl(kEachMonadic, n, r_slot + se::Value, ws), ws);
  for (std::uint32_t i = 0; i < n; ++i) {
    push_item(r_slot, i, ws);
    apply_monadic(op, fn, ws);
    if ((i & 0x3FF) == 0x3FF) poll_attention(ws);
  }
  collect(slot_shape(r_slot, ws), n, ws);
  return ES_FINISH_APPLICATION;
}

int each_dyadic(Ws ws) {
  const std::uint32_t fn = stack_entry_at(1, ws);
  if (engine_operand(fn, ws)) {
    own_argument(stack_entry_at(0, ws), ws);
    own_argument(stack_entry_at(2, ws), ws);
  }
  begin_derived_dyadic(ws);
  const std::uint32_t l_slot = stack_entry_at(0, ws);
  const std::uint32_t r_slot = stack_entry_at(2, ws);
  const std::uint32_t shape_slot = xdy_shape(ws) == hdr::LeftDesc ? l_slot : r_slot;
  const StackEntry op = operand_of(fn, ws);
  const std::uint32_t n = array_info(find_ws_entry(shape_slot, ws), ws).count;
  if (n == 0) {
    push_arg(r_slot, 0, ws);
    apply_fill(fn, true, l_slot, ws);
    finish_empty(shape_slot, ws);
    return ES_FINISH_APPLICATION;
  }
  if (engine_operand(fn, ws)) return next_dyadic_call(stack_opctl(kEachDyadic, n, shape_slot + se::Value, ws), ws);
  for (std::uint32_t i = 0; i < n; ++i) {
    push_arg(r_slot, i, ws);
    apply_dyadic(op, fn, l_slot, i, ws);
    if ((i & 0x3FF) == 0x3FF) poll_attention(ws);
  }
  collect(slot_shape(shape_slot, ws), n, ws);
  return ES_FINISH_APPLICATION;
}

int each_mon_return(Ws ws) {
  const std::uint32_t p = stack_op_result(ws);
  const std::uint32_t i = frame_word(p, opf::Index, ws) + 1;
  set_frame_word(p, opf::Index, i, ws);
  if (i == frame_word(p, opf::Count, ws)) return each_done(p, ws);
  return next_monadic_call(p, ws);
}

int each_dy_return(Ws ws) {
  const std::uint32_t p = stack_op_result(ws);
  const std::uint32_t i = frame_word(p, opf::Index, ws) + 1;
  set_frame_word(p, opf::Index, i, ws);
  if (i == frame_word(p, opf::Count, ws)) return each_done(p, ws);
  return next_dyadic_call(p, ws);
}

}  // namespace zema
