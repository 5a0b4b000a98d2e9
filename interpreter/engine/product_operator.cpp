// The operator . with primitive operands.
#include "interpreter/engine/derived_operand.h"
#include "interpreter/engine/product_operator.h"

#include <cstring>
#include <vector>

#include "host/charset.h"
#include "interpreter/engine/apply.h"
#include "interpreter/engine/engine.h"
#include "interpreter/engine/product_defined.h"
#include "interpreter/engine/product_derived.h"
#include "interpreter/engine/reduce_operator.h"
#include "interpreter/primitives/args.h"
#include "interpreter/primitives/primitive_call.h"
#include "interpreter/primitives/products.h"
#include "interpreter/primitives/structural.h"
#include "interpreter/reader/tokeniser.h"
#include "interpreter/workspace/entry.h"
#include "interpreter/workspace/errors.h"
#include "interpreter/workspace/heap.h"
#include "interpreter/workspace/stack.h"

namespace zema {

namespace {

constexpr std::uint32_t kLeftOperand = kProductLeft;
// The PrimitiveCode of ∘.
std::uint8_t jot() {
  static const std::uint8_t code = primitive_code(static_cast<std::uint8_t>(utf8_to_internal("∘")[0]));
  return code;
}

std::uint8_t code_of(const StackEntry& e) { return static_cast<std::uint8_t>(((e.value & 0xFF) >> 1) & 0x7F); }

ScalarOperand operand_of(const StackEntry& e) {
  ScalarOperand s;
  s.code = code_of(e);
  s.flags = primitive_flags(s.code);
  return s;
}

// L∘.g R by applying g to each pair of items through the engine.
void outer_general(const StackEntry& g, Ws ws) {
  const std::uint32_t l_slot = stack_entry_at(0, ws);
  const std::uint32_t r_slot = stack_entry_at(2, ws);
  const ArrayInfo l = array_info(find_ws_entry(l_slot, ws), ws);  // a name stands for its value
  const ArrayInfo r = array_info(find_ws_entry(r_slot, ws), ws);
  if (l.rank + r.rank > 63) limit_error(ws);
  std::vector<std::uint32_t> shape = shape_of(l, ws);
  for (std::uint32_t d : shape_of(r, ws)) shape.push_back(d);
  std::uint64_t count = 1;
  for (std::uint32_t d : shape) count *= d;
  if (count > 0x7FFFFFFFu) xwsfll(ws);
  if (count == 0) {
    result_from_picks(shape, [](const std::function<void(const Pick&)>&) {}, false, ws);
    return;
  }
  const std::uint32_t lc = l.count, rc = r.count;
  // The results pile up on the stack; the argument slots stay where they are.
  std::uint32_t done = 0;
  for (std::uint64_t i = 0; i < lc; ++i) {
    for (std::uint64_t j = 0; j < rc; ++j) {
      push_item(r_slot, j, ws);
      stack(g, ws);
      push_item(l_slot, i, ws);
      xdyop_common(0, stack_entry_at(1, ws), ws);
      do_xmnopd(ws);
      ++done;
    }
    poll_attention(ws);
  }
  collect(shape, done, ws);
}

// f/ applied to the value on top of the stack; the result replaces it.
void reduce_top(const StackEntry& f, Ws ws) {
  const std::uint32_t obj = new_derived_object(f, ws);
  stack(StackEntry{static_cast<std::uint8_t>(kOwnsObject | TC_DERIVED), fe::ReduceScan, obj}, ws);
  reduce_monadic(ws);
  do_xmnopd(ws);
}

// L f.g R as (f/)¨ (rows of L) ∘.g (columns of R): for each row i of L and
// column j of R, g is applied to the two vectors through the engine and f/
// to its result, which becomes item (i, j). A scalar argument is a vector
// of one item, extended by g against the other side. g decides what fits (LENGTH,
// RANK, DOMAIN ERROR).
void inner_general(const StackEntry& f, const StackEntry& g, Ws ws) {
  const std::uint32_t l_slot = stack_entry_at(0, ws);
  const std::uint32_t r_slot = stack_entry_at(2, ws);
  const ArrayInfo l = array_info(find_ws_entry(l_slot, ws), ws);  // a name stands for its value
  const ArrayInfo r = array_info(find_ws_entry(r_slot, ws), ws);
  std::vector<std::uint32_t> ls = shape_of(l, ws), rs = shape_of(r, ws);
  const std::uint32_t n_l = l.rank == 0 ? 1 : ls.back();
  const std::uint32_t n_r = r.rank == 0 ? 1 : rs.front();
  if (l.rank != 0) ls.pop_back();
  if (r.rank != 0) rs.erase(rs.begin());
  if (ls.size() + rs.size() > 63) limit_error(ws);
  std::uint64_t rows = 1, cols = 1;
  for (std::uint32_t d : ls) rows *= d;
  for (std::uint32_t d : rs) cols *= d;
  std::vector<std::uint32_t> shape = ls;
  for (std::uint32_t d : rs) shape.push_back(d);
  const std::uint32_t count = checked_count(shape, ws);
  if (count == 0) {
    result_from_picks(shape, [](const std::function<void(const Pick&)>&) {}, false, ws);
    return;
  }
  std::uint32_t done = 0;
  for (std::uint64_t i = 0; i < rows; ++i) {
    for (std::uint64_t j = 0; j < cols; ++j) {
      push_vector(r_slot, j, cols, n_r, ws);
      stack(g, ws);
      push_vector(l_slot, i * n_l, 1, n_l, ws);
      xdyop_common(0, stack_entry_at(1, ws), ws);
      do_xmnopd(ws);
      reduce_top(f, ws);
      ++done;
    }
    poll_attention(ws);
  }
  collect(shape, done, ws);
}

}  // namespace

void push_vector(std::uint32_t slot, std::uint64_t base, std::uint64_t step, std::uint32_t n, Ws ws) {
  if (n == 0) {
    set_call_flags(pf::RightReferences | pf::LeftReferences, ws);
    xopafx(0, hdr::RightDesc, slot, ws);
    result_from_picks({0}, [](const std::function<void(const Pick&)>&) {}, false, ws);
    return;
  }
  for (std::uint32_t k = 0; k < n; ++k) push_item(slot, base + k * step, ws);
  collect({n}, n, ws);
}

int do_xprod(Ws ws) {
  // Whatever stands right of the dot binds: a function for a product, a
  // member name for dot notation (do_dot_notation, or SYNTAX ERROR in
  // do_xprod_res when a function stands left of it).
  wr8(ws, stack_entry_at(0, ws) + se::Class, TC_BOUNDDOT);
  return ES_BIND;
}

int do_xprod_res(Ws ws) {
  const StackEntry f = load_entry(stack_entry_at(0, ws), ws);
  const StackEntry g = load_entry(stack_entry_at(2, ws), ws);
  // Right of a function the dot needs a function: a value, a niladic name
  // or an operator there is a member name after a function, whatever f is.
  if (g.cls != TC_PRIMITIVE && g.cls != TC_NAMEDFN && (g.cls & kClassMask) != TC_DERIVED) synter(ws);
  if ((f.cls & kClassMask) == TC_DERIVED || (g.cls & kClassMask) == TC_DERIVED) return do_xprod_derived(ws);
  const bool outer = f.cls == TC_PRIMITIVE && code_of(f) == jot();
  if (outer && f.flags != 0) axis_error(ws);
  // The grammar binds a bound dot only to a primitive, named or derived f on
  // its left, and do_xprod took only such a g: anything else is a fault here.
  if ((f.cls != TC_PRIMITIVE && f.cls != TC_NAMEDFN) || (g.cls != TC_PRIMITIVE && g.cls != TC_NAMEDFN))
    ZEMA_SYSTEM_ERROR(ws);
  const std::uint32_t obj = new_derived_object(g, ws);
  store_entry(obj + kLeftOperand, f, ws);
  StackEntry e;
  unstack(e, ws);  // f
  replace_operand_with_derived(obj, fe::Product, ws);  // the bound dot goes; g's entry takes the object
  return ES_BIND;
}

int product_dyadic(Ws ws) {
  const std::uint32_t fn = stack_entry_at(1, ws);
  if (has_derived_operand(derived_object(fn, ws), ws)) return product_derived_dyadic(ws);
  begin_derived_dyadic(ws);
  const std::uint32_t obj = derived_object(fn, ws);
  const StackEntry g = load_entry(obj + dfn::Entry, ws);
  const StackEntry f = load_entry(obj + kLeftOperand, ws);
  // A defined operand is called through an operator frame.
  if (f.cls == TC_PRIMITIVE && code_of(f) == jot() && g.cls == TC_NAMEDFN) return outer_defined(ws);
  // So is f/ of an f with an axis: the engine applies it, one call per step.
  if (f.cls == TC_NAMEDFN || g.cls == TC_NAMEDFN || (f.flags != 0 && code_of(f) != jot())) return inner_defined(ws);
  const ScalarOperand gs = operand_of(g);
  const ScalarOperand fs = operand_of(f);
  const std::uint8_t lt = rd8(ws, hdr::LeftDesc + desc::Type), rt = rd8(ws, hdr::RightDesc + desc::Type);
  // An operand with an axis is applied through the engine, its axis with every call.
  const bool simple = lt != ET_NESTED && lt != ET_OBJREF && rt != ET_NESTED && rt != ET_OBJREF && f.flags == 0 &&
                      g.flags == 0;
  if (!(gs.flags & pf::Dyadic)) valence_error(ws);
  if (code_of(f) == jot()) {
    if (simple && (gs.flags & pf::DyadicScalar)) {
      wr32(ws, hdr::PrimCode, 4u * gs.code);
      set_call_flags(gs.flags, ws);
      outer_simple(gs, ws);
    } else {
      outer_general(g, ws);
    }
    return ES_FINISH_APPLICATION;
  }
  if (!(fs.flags & pf::Dyadic)) valence_error(ws);
  if (!simple || !(gs.flags & pf::DyadicScalar) || !(fs.flags & pf::DyadicScalar)) {
    inner_general(f, g, ws);
    return ES_FINISH_APPLICATION;
  }
  wr32(ws, hdr::PrimCode, 4u * gs.code);
  set_call_flags(gs.flags, ws);
  inner_simple(fs, gs, ws);
  return ES_FINISH_APPLICATION;
}

}  // namespace zema
