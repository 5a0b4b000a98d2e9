// Outer and inner products with a defined operand, called through an
// operator frame: one call per pair of items for ∘.g; for f.g, g on each row
// of L and column of R, then f/ on its result, both applied by the engine.
#include "interpreter/engine/product_defined.h"

#include <functional>
#include <vector>

#include "interpreter/engine/apply.h"
#include "interpreter/engine/derived_operand.h"
#include "interpreter/engine/engine.h"
#include "interpreter/engine/operator_frame.h"
#include "interpreter/engine/product_operator.h"
#include "interpreter/engine/reduce_operator.h"
#include "interpreter/primitives/args.h"
#include "interpreter/primitives/primitive_call.h"
#include "interpreter/primitives/structural.h"
#include "interpreter/workspace/entry.h"
#include "interpreter/workspace/errors.h"
#include "interpreter/workspace/heap.h"
#include "interpreter/workspace/stack.h"

namespace zema {

namespace {

// Frame words of an outer product (kind kOuterDefined).
namespace outw {
constexpr std::uint32_t Count = 1;     // pairs
constexpr std::uint32_t Done = 2;      // pairs done
constexpr std::uint32_t Right = 15;    // R's items
constexpr std::uint32_t RowLeft = 16;  // right items left in the current row
}  // namespace outw

// Frame words of an inner product (kinds kInnerOperand, kInnerReduce).
namespace inw {
constexpr std::uint32_t Count = 1;    // result elements
constexpr std::uint32_t Done = 2;     // result elements done
constexpr std::uint32_t Columns = 10; // items of R per row of its first axis
constexpr std::uint32_t LeftLen = 11; // L's last length (1 for a scalar)
constexpr std::uint32_t RightLen = 12;// R's first length (1 for a scalar)
}  // namespace inw

// Stack slots of the entries the product found, from the frame at P.
std::uint32_t left_slot(std::uint32_t p) { return p + kStackEntrySize * opf::Entries; }
std::uint32_t fn_slot(std::uint32_t p) { return p + kStackEntrySize * (opf::Entries + 1); }
std::uint32_t right_slot(std::uint32_t p) { return p + kStackEntrySize * (opf::Entries + 2); }

std::vector<std::uint32_t> slot_shape(std::uint32_t slot, Ws ws) {
  return shape_of(array_info(find_ws_entry(slot, ws), ws), ws);
}

StackEntry operand_g(std::uint32_t fn, Ws ws) { return load_entry(derived_object(fn, ws) + dfn::Entry, ws); }
StackEntry operand_f(std::uint32_t fn, Ws ws) { return load_entry(derived_object(fn, ws) + kProductLeft, ws); }

// VALENCE ERROR for a primitive operand without a dyadic form.
void check_dyadic(const StackEntry& e, Ws ws) {
  if (e.cls != TC_PRIMITIVE) return;
  const auto code = static_cast<std::uint8_t>(((e.value & 0xFF) >> 1) & 0x7F);
  if (!(primitive_flags(code) & pf::Dyadic)) valence_error(ws);
}

// ---- outer product ---------------------------------------------------------------------

std::vector<std::uint32_t> outer_shape(std::uint32_t l_slot, std::uint32_t r_slot, Ws ws) {
  std::vector<std::uint32_t> shape = slot_shape(l_slot, ws);
  for (std::uint32_t d : slot_shape(r_slot, ws)) shape.push_back(d);
  return shape;
}

// The link, right item j, g and left item i of pair k = i×(R's items) + j.
int outer_call(std::uint32_t p, Ws ws) {
  const std::uint32_t k = frame_word(p, outw::Done, ws);
  const std::uint32_t rc = frame_word(p, outw::Right, ws);
  stack_table_ptr(p, ws);
  push_item(right_slot(p), k % rc, ws);
  push_operand_at(fn_slot(p), dfn::Entry, ws);
  push_item(left_slot(p), k / rc, ws);
  return ES_APPLY_DYADIC;
}

// ---- inner product ---------------------------------------------------------------------

// The result shape, (¯1↓⍴L),1↓⍴R; sets L's last length, R's first length
// (1 for a scalar) and the columns of R.
std::vector<std::uint32_t> inner_shape(std::uint32_t l_slot, std::uint32_t r_slot, std::uint32_t& n_l,
                                       std::uint32_t& n_r, std::uint64_t& cols, Ws ws) {
  std::vector<std::uint32_t> ls = slot_shape(l_slot, ws), rs = slot_shape(r_slot, ws);
  n_l = ls.empty() ? 1 : ls.back();
  n_r = rs.empty() ? 1 : rs.front();
  if (!ls.empty()) ls.pop_back();
  if (!rs.empty()) rs.erase(rs.begin());
  cols = 1;
  for (std::uint32_t d : rs) {
    cols *= d;
    ls.push_back(d);
  }
  return ls;
}

// The link, column j of R, g and row i of L for result element k = i×cols + j.
int inner_call(std::uint32_t p, Ws ws) {
  set_frame_word(p, opf::Kind, kInnerOperand, ws);
  const std::uint32_t k = frame_word(p, inw::Done, ws);
  const std::uint32_t cols = frame_word(p, inw::Columns, ws);
  const std::uint32_t n_l = frame_word(p, inw::LeftLen, ws);
  stack_table_ptr(p, ws);
  push_vector(right_slot(p), k % cols, cols, frame_word(p, inw::RightLen, ws), ws);
  push_operand_at(fn_slot(p), dfn::Entry, ws);
  push_vector(left_slot(p), std::uint64_t{k / cols} * n_l, 1, n_l, ws);
  return ES_APPLY_DYADIC;
}

}  // namespace

int outer_defined(Ws ws) {
  own_arguments_for_calls(ws);
  const std::uint32_t l_slot = stack_entry_at(0, ws);
  const std::uint32_t r_slot = stack_entry_at(2, ws);
  const std::vector<std::uint32_t> shape = outer_shape(l_slot, r_slot, ws);
  if (shape.size() > 63) limit_error(ws);
  const std::uint32_t count = checked_count(shape, ws);
  if (count == 0) {
    // No call: the prototype is R's, cleared.
    result_from_picks(shape, [](const std::function<void(const Pick&)>&) {}, false, ws);
    return ES_FINISH_APPLICATION;
  }
  if (count > 0x3FFFFFFFu) xwsfll(ws);
  const std::uint32_t rc = array_info(find_ws_entry(r_slot, ws), ws).count;
  const std::uint32_t p = stack_opctl(kOuterDefined, count, rc, ws);
  return outer_call(p, ws);
}

int outer_return(Ws ws) {
  const std::uint32_t p = stack_op_result(ws);
  const std::uint32_t k = frame_word(p, outw::Done, ws) + 1;
  set_frame_word(p, outw::Done, k, ws);
  if (k == frame_word(p, outw::Count, ws)) return finish_frame(p, outer_shape(left_slot(p), right_slot(p), ws), ws);
  const std::uint32_t row_left = frame_word(p, outw::RowLeft, ws);
  set_frame_word(p, outw::RowLeft, row_left == 1 ? frame_word(p, outw::Right, ws) : row_left - 1, ws);
  return outer_call(p, ws);
}

int inner_defined(Ws ws) {
  own_arguments_for_calls(ws);
  const std::uint32_t l_slot = stack_entry_at(0, ws);
  const std::uint32_t fn = stack_entry_at(1, ws);
  const std::uint32_t r_slot = stack_entry_at(2, ws);
  check_dyadic(operand_g(fn, ws), ws);
  check_dyadic(operand_f(fn, ws), ws);
  std::uint32_t n_l = 0, n_r = 0;
  std::uint64_t cols = 0;
  const std::vector<std::uint32_t> shape = inner_shape(l_slot, r_slot, n_l, n_r, cols, ws);
  if (shape.size() > 63) limit_error(ws);
  const std::uint32_t count = checked_count(shape, ws);
  // f/ over the items of an empty result would have to give its prototype: it has none.
  if (count == 0) domner(ws);
  if (count > 0x3FFFFFFFu) xwsfll(ws);
  const std::uint32_t p = stack_opctl(kInnerOperand, count, 0, ws);
  set_frame_word(p, inw::Columns, static_cast<std::uint32_t>(cols), ws);
  set_frame_word(p, inw::LeftLen, n_l, ws);
  set_frame_word(p, inw::RightLen, n_r, ws);
  return inner_call(p, ws);
}

int inner_operand_return(Ws ws) {
  const std::uint32_t p = rd32(ws, stack_entry_at(1, ws) + se::Value);
  if (rd32(ws, stack_entry_at(0, ws) + se::Value) == 0) valer(ws);
  // f/ applied to g's result, which stays on the link as its argument.
  set_frame_word(p, opf::Kind, kInnerReduce, ws);
  // f (a fresh copy when derived) pushed, then made f/ in its slot.
  push_operand_at(fn_slot(p), kProductLeft, ws);
  const std::uint32_t at = stack_entry_at(0, ws);
  const std::uint32_t obj = derived_with_operand(0, dfn::Entry, at, ws);
  release_entry(load_entry(at, ws), ws);
  store_entry(at, StackEntry{static_cast<std::uint8_t>(kOwnsObject | TC_DERIVED), fe::ReduceScan, obj}, ws);
  set_owner(obj, at, OK_STACK, ws);
  return ES_APPLY_MONADIC;
}

int inner_reduce_return(Ws ws) {
  const std::uint32_t p = stack_op_result(ws);
  const std::uint32_t k = frame_word(p, inw::Done, ws) + 1;
  set_frame_word(p, inw::Done, k, ws);
  if (k == frame_word(p, inw::Count, ws)) {
    std::uint32_t n_l = 0, n_r = 0;
    std::uint64_t cols = 0;
    return finish_frame(p, inner_shape(left_slot(p), right_slot(p), n_l, n_r, cols, ws), ws);
  }
  return inner_call(p, ws);
}

}  // namespace zema
