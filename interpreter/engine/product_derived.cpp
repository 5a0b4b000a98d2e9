// Outer and inner products whose operand is a derived function.
#include "interpreter/engine/product_derived.h"

#include <functional>
#include <vector>

#include "host/charset.h"
#include "interpreter/engine/apply.h"
#include "interpreter/engine/derived_operand.h"
#include "interpreter/engine/engine.h"
#include "interpreter/engine/product_defined.h"
#include "interpreter/engine/product_operator.h"
#include "interpreter/engine/reduce_operator.h"
#include "interpreter/primitives/args.h"
#include "interpreter/primitives/primitive_call.h"
#include "interpreter/primitives/structural.h"
#include "interpreter/reader/tokeniser.h"
#include "interpreter/workspace/entry.h"
#include "interpreter/workspace/errors.h"
#include "interpreter/workspace/heap.h"
#include "interpreter/workspace/stack.h"

namespace zema {

namespace {

// Where a product keeps f (∘ for an outer product), beside g at dfn::Entry.
constexpr std::uint32_t kLeftOperand = kProductLeft;

std::uint8_t code_of(const StackEntry& e) { return static_cast<std::uint8_t>(((e.value & 0xFF) >> 1) & 0x7F); }

bool is_jot(const StackEntry& e) {
  static const std::uint8_t jot = primitive_code(static_cast<std::uint8_t>(utf8_to_internal("∘")[0]));
  return e.cls == TC_PRIMITIVE && code_of(e) == jot;
}

// A primitive (with or without an axis), defined or derived function.
bool takes(const StackEntry& e) {
  return e.cls == TC_PRIMITIVE || e.cls == TC_NAMEDFN || (e.cls & kClassMask) == TC_DERIVED;
}

// The operand at `field` of the product at `fn` applied to the values
// `push_right` and `push_left` push (in that order, the function between
// them); its result is left on top of the stack. A derived operand, which
// holds no function the engine must run, finishes at once.
void apply_pair(std::uint32_t fn, std::uint32_t field, const std::function<void()>& push_right,
                const std::function<void()>& push_left, Ws ws) {
  push_right();
  push_operand_at(fn, field, ws);
  push_left();
  if (entry_class(1, ws) == TC_DERIVED) {
    if (do_xdy_derfn(ws) != ES_FINISH_APPLICATION) ZEMA_SYSTEM_ERROR(ws);
  } else {
    xdyop_common(0, stack_entry_at(1, ws), ws);
  }
  do_xmnopd(ws);
}

// f/ of the empty value on top of the stack, which it replaces: a plain
// primitive f reduces it as f/ does (its identity, or its prototype's
// structure for a nested value; DOMAIN ERROR when f has none); any other f
// has no identity (DOMAIN ERROR).
void fold_empty(std::uint32_t fn, Ws ws) {
  const StackEntry f = load_entry(derived_object(fn, ws) + kLeftOperand, ws);
  if (f.cls != TC_PRIMITIVE || f.flags != 0) domner(ws);
  stack(f, ws);
  const std::uint32_t obj = derived_with_operand(0, dfn::Entry, stack_entry_at(0, ws), ws);
  StackEntry top;
  unstack(top, ws);
  stack(StackEntry{static_cast<std::uint8_t>(kOwnsObject | TC_DERIVED), fe::ReduceScan, obj}, ws);
  if (reduce_monadic(ws) != ES_FINISH_APPLICATION) ZEMA_SYSTEM_ERROR(ws);  // a plain primitive runs at once
  do_xmnopd(ws);
}

// f/ of the value on top of the stack, which it replaces: along its last
// axis, f applied right to left between the items of each row, each row's
// result an item of the result of shape ¯1↓⍴V (a vector's result enclosed
// unless it is a simple scalar); a scalar is its own reduction.
void fold(std::uint32_t fn, Ws ws) {
  const std::uint32_t v_slot = stack_entry_at(0, ws);
  const ArrayInfo v = array_info(find_ws_entry(v_slot, ws), ws);
  if (v.rank == 0) return;
  if (v.count == 0) return fold_empty(fn, ws);
  std::vector<std::uint32_t> shape = shape_of(v, ws);
  const std::uint32_t n = shape.back();
  shape.pop_back();
  const std::uint32_t rows = v.count / n;
  for (std::uint32_t i = 0; i < rows; ++i) {
    const std::uint64_t base = std::uint64_t{i} * n;
    push_item(v_slot, base + n - 1, ws);
    for (std::uint32_t k = n - 1; k-- > 0;)
      apply_pair(fn, kLeftOperand, [] {}, [&] { push_item(v_slot, base + k, ws); }, ws);
    poll_attention(ws);
  }
  collect(shape, rows, ws);
  StackEntry r;
  unstack(r, ws);
  settle_entry(v_slot, r, ws);
}

// Shapes: `ls` and `rs`, the result's shape their catenation.
std::vector<std::uint32_t> joined(const std::vector<std::uint32_t>& ls, const std::vector<std::uint32_t>& rs, Ws ws) {
  if (ls.size() + rs.size() > 63) limit_error(ws);
  std::vector<std::uint32_t> shape = ls;
  shape.insert(shape.end(), rs.begin(), rs.end());
  return shape;
}

void empty_result(const std::vector<std::uint32_t>& shape, Ws ws) {
  result_from_picks(shape, [](const std::function<void(const Pick&)>&) {}, false, ws);
}

void outer(std::uint32_t fn, Ws ws) {
  const std::uint32_t l_slot = stack_entry_at(0, ws);
  const std::uint32_t r_slot = stack_entry_at(2, ws);
  const ArrayInfo l = array_info(find_ws_entry(l_slot, ws), ws);
  const ArrayInfo r = array_info(find_ws_entry(r_slot, ws), ws);
  const std::vector<std::uint32_t> shape = joined(shape_of(l, ws), shape_of(r, ws), ws);
  const std::uint32_t count = checked_count(shape, ws);
  if (count == 0) return empty_result(shape, ws);
  const std::uint32_t lc = l.count, rc = r.count;
  for (std::uint32_t i = 0; i < lc; ++i) {
    for (std::uint32_t j = 0; j < rc; ++j)
      apply_pair(fn, dfn::Entry, [&] { push_item(r_slot, j, ws); }, [&] { push_item(l_slot, i, ws); }, ws);
    poll_attention(ws);
  }
  collect(shape, count, ws);
}

void inner(std::uint32_t fn, Ws ws) {
  const std::uint32_t l_slot = stack_entry_at(0, ws);
  const std::uint32_t r_slot = stack_entry_at(2, ws);
  const ArrayInfo l = array_info(find_ws_entry(l_slot, ws), ws);
  const ArrayInfo r = array_info(find_ws_entry(r_slot, ws), ws);
  std::vector<std::uint32_t> ls = shape_of(l, ws), rs = shape_of(r, ws);
  const std::uint32_t n_l = l.rank == 0 ? 1 : ls.back();
  const std::uint32_t n_r = r.rank == 0 ? 1 : rs.front();
  if (l.rank != 0) ls.pop_back();
  if (r.rank != 0) rs.erase(rs.begin());
  const std::vector<std::uint32_t> shape = joined(ls, rs, ws);
  const std::uint32_t count = checked_count(shape, ws);
  // f/ over the items of an empty result would have to give its prototype:
  // it has none (as through operator frames).
  if (count == 0) domner(ws);
  std::uint64_t rows = 1, cols = 1;
  for (std::uint32_t d : ls) rows *= d;
  for (std::uint32_t d : rs) cols *= d;
  for (std::uint64_t i = 0; i < rows; ++i) {
    for (std::uint64_t j = 0; j < cols; ++j) {
      apply_pair(fn, dfn::Entry, [&] { push_vector(r_slot, j, cols, n_r, ws); },
                 [&] { push_vector(l_slot, i * n_l, 1, n_l, ws); }, ws);
      fold(fn, ws);
    }
    poll_attention(ws);
  }
  collect(shape, count, ws);
}

}  // namespace

int do_xprod_derived(Ws ws) {
  const StackEntry f = load_entry(stack_entry_at(0, ws), ws);
  const StackEntry g = load_entry(stack_entry_at(2, ws), ws);
  if (is_jot(f) && f.flags != 0) axis_error(ws);
  // do_xprod_res passes only a primitive, named or derived g, and / ⌿ \ ⍀
  // never bind to a bound dot (they take their own operand first): a value
  // left of the dot is dot notation, so f is one of these too.
  if (!takes(f) || !takes(g)) ZEMA_SYSTEM_ERROR(ws);
  // g's copy first takes g's slot; f joins it there.
  const std::uint32_t g_slot = stack_entry_at(2, ws);
  const std::uint32_t with_g = derived_with_operand(0, dfn::Entry, g_slot, ws);
  release_entry(load_entry(g_slot, ws), ws);  // read again: the allocation may have moved g's object
  store_entry(g_slot, StackEntry{static_cast<std::uint8_t>(kOwnsObject | TC_DERIVED), fe::Product, with_g}, ws);
  set_owner(with_g, g_slot, OK_STACK, ws);
  const std::uint32_t obj = derived_with_operand(g_slot, kLeftOperand, stack_entry_at(0, ws), ws);
  StackEntry top;
  unstack(top, ws);  // f
  release_entry(top, ws);
  replace_operand_with_derived(obj, fe::Product, ws);  // the bound dot goes; g's slot takes the object
  return ES_BIND;
}

bool has_derived_operand(std::uint32_t obj, Ws ws) {
  return rd8(ws, obj + dfn::Entry + se::Class) == kClassLink || rd8(ws, obj + kLeftOperand + se::Class) == kClassLink;
}

int product_derived_dyadic(Ws ws) {
  const std::uint32_t fn = stack_entry_at(1, ws);
  begin_derived_dyadic(ws);
  const std::uint32_t obj = derived_object(fn, ws);
  const bool jot = is_jot(load_entry(obj + kLeftOperand, ws));
  // An operand that holds a defined function is called through an operator frame.
  if (runs_in_engine(obj, dfn::Entry, ws) || runs_in_engine(obj, kLeftOperand, ws))
    return jot ? outer_defined(ws) : inner_defined(ws);
  if (jot)
    outer(fn, ws);
  else
    inner(fn, ws);
  return ES_FINISH_APPLICATION;
}

}  // namespace zema
