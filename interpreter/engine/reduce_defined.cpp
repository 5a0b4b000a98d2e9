// Reduction and scan with a defined function as the operand: the operand is
// called through an operator frame, one call per step, right to left.
#include "interpreter/engine/reduce_defined.h"

#include "interpreter/engine/derived_operand.h"

#include <functional>
#include <vector>

#include "interpreter/engine/engine.h"
#include "interpreter/engine/operator_frame.h"
#include "interpreter/engine/reduce_operator.h"
#include "interpreter/primitives/args.h"
#include "interpreter/primitives/primitive_call.h"
#include "interpreter/primitives/reduce_scan.h"
#include "interpreter/primitives/structural.h"
#include "interpreter/workspace/entry.h"
#include "interpreter/workspace/errors.h"
#include "interpreter/workspace/heap.h"
#include "interpreter/workspace/stack.h"

namespace zema {

namespace {

// Where a reduce-family derived object keeps the operator's axis.
constexpr std::uint32_t kAxisWord = 30;

// Frame words of a reduction (kind kReduceDefined).
namespace rdw {
constexpr std::uint32_t Count = 1;       // result elements
constexpr std::uint32_t Left = 2;        // result elements still to make
constexpr std::uint32_t Reload = 5;      // result elements per block: stride×(n−w+1)
constexpr std::uint32_t Window = 6;      // elements per reduction (w; n for a plain reduction)
constexpr std::uint32_t Mode = 7;        // low byte: n-wise mode (0 plain, 1 window, 0xFF reversed window)
constexpr std::uint32_t FirstOff = 10;   // first element of a row from its base: (w-1)×stride, 0 for mode −1
constexpr std::uint32_t Base = 11;       // base index of the current result element
constexpr std::uint32_t Countdown = 12;  // result elements to the next base jump
constexpr std::uint32_t PerRow = 13;     // elements per reduction
constexpr std::uint32_t Step = 14;       // index step along the axis: the stride, its negative for mode −1
constexpr std::uint32_t Fetched = 15;    // index of the element fetched last
constexpr std::uint32_t Steps = 16;      // operand calls left in the current reduction
}  // namespace rdw

// Frame words of a scan (kind kScanDefined).
namespace scw {
constexpr std::uint32_t Count = 1;     // result elements
constexpr std::uint32_t Steps = 2;     // operand calls left for the current element
constexpr std::uint32_t Pos = 9;       // position of the current element along the axis
constexpr std::uint32_t Block = 10;    // n×stride
constexpr std::uint32_t Index = 11;    // index of the current element
constexpr std::uint32_t InStride = 12; // position within the stride
constexpr std::uint32_t InBlock = 13;  // position within the block
constexpr std::uint32_t Stride = 14;   // stride
constexpr std::uint32_t Next = 16;     // index of the next left element
}  // namespace scw

// Stack slots of the entries the operator found, from the frame at P.
std::uint32_t below_slot(std::uint32_t p) { return p + kStackEntrySize * opf::Entries; }
std::uint32_t fn_slot(std::uint32_t p) { return p + kStackEntrySize * (opf::Entries + 1); }
std::uint32_t right_slot(std::uint32_t p) { return p + kStackEntrySize * (opf::Entries + 2); }

// The axis kept in bytes 4-5 of the (object-less) entry under the frame, as axis×4.
void keep_axis(std::uint32_t p, std::uint32_t axis, Ws ws) { wr16(ws, below_slot(p) + 4, static_cast<std::uint16_t>(4 * axis)); }
std::uint32_t kept_axis(std::uint32_t p, Ws ws) { return rd16(ws, below_slot(p) + 4) / 4u; }

void push_operand(std::uint32_t p, Ws ws) { push_operand_at(fn_slot(p), dfn::Entry, ws); }

// The shape of the array in `slot`, with the axis `axis` removed when `drop`.
std::vector<std::uint32_t> shape_without(std::uint32_t slot, std::uint32_t axis, bool drop, Ws ws) {
  const ArrayInfo r = array_info(find_ws_entry(slot, ws), ws);
  std::vector<std::uint32_t> s = shape_of(r, ws);
  if (drop && !s.empty()) s.erase(s.begin() + axis);
  return s;
}


// The shape of a reduction's result from the frame at P: R's shape with the
// kept axis removed, or for n-wise reduction kept with length n−w+1.
std::vector<std::uint32_t> reduce_result_shape(std::uint32_t p, Ws ws) {
  const std::uint32_t axis = kept_axis(p, ws);
  if ((frame_word(p, rdw::Mode, ws) & 0xFF) == 0) return shape_without(right_slot(p), axis, true, ws);
  std::vector<std::uint32_t> s = shape_without(right_slot(p), axis, false, ws);
  if (s.empty()) s.push_back(1);  // a scalar reduces as a one-element vector
  s[axis] = s[axis] + 1 - frame_word(p, rdw::Window, ws);
  return s;
}

// ---- reduction -----------------------------------------------------------------------------

// The operand call x[i−step] f acc, with the accumulator on top.
int reduce_next(std::uint32_t p, Ws ws) {
  push_operand(p, ws);
  const std::uint32_t i = frame_word(p, rdw::Fetched, ws) - frame_word(p, rdw::Step, ws);
  set_frame_word(p, rdw::Fetched, i, ws);
  push_item(right_slot(p), i, ws);
  return ES_APPLY_DYADIC;
}

// The link and the last element of the current row, then its first call.
int reduce_outer(std::uint32_t p, Ws ws) {
  stack_table_ptr(p, ws);
  set_frame_word(p, rdw::Steps, frame_word(p, rdw::PerRow, ws) - 1, ws);
  // A negative window starts at its first element (FirstOff 0) and steps forward.
  const std::uint32_t i = frame_word(p, rdw::Base, ws) + frame_word(p, rdw::FirstOff, ws);
  set_frame_word(p, rdw::Fetched, i, ws);
  push_item(right_slot(p), i, ws);
  return reduce_next(p, ws);
}

// ---- scan ----------------------------------------------------------------------------------

// The operand call x[next] f acc, with the accumulator on top.
int scan_next(std::uint32_t p, Ws ws) {
  push_operand(p, ws);
  const std::uint32_t i = frame_word(p, scw::Next, ws);
  set_frame_word(p, scw::Next, i - frame_word(p, scw::Stride, ws), ws);
  set_frame_word(p, scw::Steps, frame_word(p, scw::Steps, ws) - 1, ws);
  push_item(right_slot(p), i, ws);
  return ES_APPLY_DYADIC;
}

// Moves to the next element: index, position within the stride and along the axis.
void scan_advance(std::uint32_t p, Ws ws) {
  set_frame_word(p, scw::Index, frame_word(p, scw::Index, ws) + 1, ws);
  std::uint32_t in_block = frame_word(p, scw::InBlock, ws) + 1;
  if (in_block == frame_word(p, scw::Block, ws)) in_block = 0;
  const std::uint32_t stride = frame_word(p, scw::Stride, ws);
  set_frame_word(p, scw::InBlock, in_block, ws);
  set_frame_word(p, scw::Pos, in_block / stride, ws);
  set_frame_word(p, scw::InStride, in_block % stride, ws);
}

// Elements at the first position along the axis are their own result; the
// next element elsewhere gets its link, x[k] and its first call. After the
// last element, the results made one array of R's shape.
int scan_inner(std::uint32_t p, Ws ws) {
  for (;;) {
    const std::uint32_t k = frame_word(p, scw::Index, ws);
    if (k == frame_word(p, scw::Count, ws)) return finish_frame(p, shape_without(right_slot(p), 0, false, ws), ws);
    const std::uint32_t pos = frame_word(p, scw::Pos, ws);
    if (pos != 0) {
      stack_table_ptr(p, ws);
      push_item(right_slot(p), k, ws);
      set_frame_word(p, scw::Steps, pos, ws);
      set_frame_word(p, scw::Next, k - frame_word(p, scw::Stride, ws), ws);
      return scan_next(p, ws);
    }
    push_item(right_slot(p), k, ws);
    scan_advance(p, ws);
  }
}

// The axis of R in `r_slot` the derived function `fn` reduces along (its
// given axis, else the first or last); answers it with its length and
// stride (the elements between neighbours along it). AXIS ERROR for a given
// axis beyond R's rank.
std::uint32_t resolve_axis(std::uint32_t fn, std::uint32_t r_slot, std::uint32_t& n, std::uint32_t& stride, Ws ws) {
  const std::uint8_t flags = rd8(ws, fn + se::Flags);
  const std::uint32_t given = rd32(ws, derived_object(fn, ws) + kAxisWord);
  const ArrayInfo r = array_info(find_ws_entry(r_slot, ws), ws);
  const std::uint32_t rank = r.rank == 0 ? 1 : r.rank;
  if (given > rank) axis_error(ws);
  const std::uint32_t axis = given != 0 ? given - 1 : (flags & fe::FirstAxis) || r.rank == 0 ? 0 : r.rank - 1;
  std::uint64_t len = 1, s = 1;
  for (std::uint32_t k = 0; k < r.rank; ++k) {
    const std::uint64_t d = dim(r, k, ws);
    if (k == axis) len = d;
    if (k > axis) s *= d;
  }
  // Both divide the element count of a non-empty R; an empty R makes an empty result first.
  n = static_cast<std::uint32_t>(len);
  stride = static_cast<std::uint32_t>(s);
  return axis;
}

std::uint64_t count_of(const std::vector<std::uint32_t>& shape) {
  std::uint64_t count = 1;
  for (std::uint32_t d : shape) count *= d;
  return count;
}

// An empty result of `shape`, made without a call.
int empty_result(const std::vector<std::uint32_t>& shape, Ws ws) {
  result_from_picks(shape, [](const std::function<void(const Pick&)>&) {}, false, ws);
  return ES_FINISH_APPLICATION;
}

// Each result element is R's element `i` as it stands (an axis of length 1,
// a window of 1): no call.
int items_as_result(std::uint32_t r_slot, const std::vector<std::uint32_t>& shape, std::uint64_t count, Ws ws) {
  for (std::uint64_t i = 0; i < count; ++i) push_item(r_slot, i, ws);
  collect(shape, static_cast<std::uint32_t>(count), ws);
  return ES_FINISH_APPLICATION;
}

// Pushes the reduction frame for `count` results of windows of `w` elements
// (mode 0: the whole axis, n = w; 1: windows from every position, reduced
// from their last element; −1: the same, reduced from their first) and
// makes the first call.
int start_reduction(std::uint32_t r_slot, std::uint32_t axis, std::uint32_t n, std::uint32_t stride, std::uint64_t count,
                    int mode, std::uint32_t w, Ws ws) {
  if (count > 0x3FFFFFFFu) xwsfll(ws);
  const std::uint32_t p = stack_opctl(kReduceDefined, static_cast<std::uint32_t>(count), r_slot + se::Value, ws);
  keep_axis(p, axis, ws);
  set_frame_word(p, rdw::Left, static_cast<std::uint32_t>(count), ws);
  set_frame_word(p, rdw::Reload, stride * (n + 1 - w), ws);
  set_frame_word(p, rdw::Window, w, ws);
  set_frame_word(p, rdw::Mode, static_cast<std::uint8_t>(mode), ws);
  set_frame_word(p, rdw::FirstOff, mode < 0 ? 0 : (w - 1) * stride, ws);
  set_frame_word(p, rdw::Base, 0, ws);
  set_frame_word(p, rdw::Countdown, stride * (n + 1 - w), ws);
  set_frame_word(p, rdw::PerRow, w, ws);
  set_frame_word(p, rdw::Step, mode < 0 ? 0u - stride : stride, ws);
  return reduce_outer(p, ws);
}

}  // namespace

int reduce_defined_monadic(Ws ws) {
  own_arguments_for_calls(ws);
  const std::uint32_t fn = stack_entry_at(1, ws);
  const std::uint32_t r_slot = stack_entry_at(2, ws);
  const bool scan = rd8(ws, fn + se::Flags) & fe::Scan;
  std::uint32_t n = 0, stride = 0;
  const std::uint32_t axis = resolve_axis(fn, r_slot, n, stride, ws);
  const std::vector<std::uint32_t> shape =
      shape_without(r_slot, axis, !scan && array_info(find_ws_entry(r_slot, ws), ws).rank > 0, ws);
  const std::uint64_t count = count_of(shape);
  if (count == 0) return empty_result(shape, ws);
  // A defined function has no identity element.
  if (n == 0) domner(ws);
  if (count > 0x3FFFFFFFu) xwsfll(ws);
  if (scan) {
    const std::uint32_t p = stack_opctl(kScanDefined, static_cast<std::uint32_t>(count), r_slot + se::Value, ws);
    keep_axis(p, axis, ws);
    set_frame_word(p, scw::Stride, stride, ws);
    set_frame_word(p, scw::Block, n * stride, ws);
    for (std::uint32_t w : {scw::Pos, scw::Index, scw::InStride, scw::InBlock}) set_frame_word(p, w, 0, ws);
    return scan_inner(p, ws);
  }
  // Each row's single element is its reduction: no call.
  if (n == 1) return items_as_result(r_slot, shape, count, ws);
  return start_reduction(r_slot, axis, n, stride, count, 0, n, ws);
}

int reduce_defined_dyadic(std::int32_t window, Ws ws) {
  own_arguments_for_calls(ws);
  const std::uint32_t l_slot = stack_entry_at(0, ws);
  const std::uint32_t fn = stack_entry_at(1, ws);
  const std::uint32_t r_slot = stack_entry_at(2, ws);
  std::uint32_t n = 0, stride = 0;
  const std::uint32_t axis = resolve_axis(fn, r_slot, n, stride, ws);
  FoldCall f;
  f.axis = axis;
  f.mode = window < 0 ? -1 : 1;
  f.window = window < 0 ? 0u - static_cast<std::uint32_t>(window) : static_cast<std::uint32_t>(window);
  const std::vector<std::uint32_t> shape = reduce_shape(f, ws);  // LENGTH ERROR for a window beyond n+1
  const std::uint64_t count = count_of(shape);
  if (count == 0) return empty_result(shape, ws);
  // A window of 0 reduces empty rows: a defined function has no identity.
  if (f.window == 0) domner(ws);
  if (f.window == 1) return items_as_result(r_slot, shape, count, ws);
  // The left argument's entry is done with: the axis is kept in its place.
  release_entry(load_entry(l_slot, ws), ws);
  store_entry(l_slot, null_entry, ws);
  return start_reduction(r_slot, axis, n, stride, count, f.mode, f.window, ws);
}

int reduce_return(Ws ws) {
  const std::uint32_t p = rd32(ws, stack_entry_at(1, ws) + se::Value);
  const std::uint32_t steps = frame_word(p, rdw::Steps, ws);
  if (steps > 1) {
    // The result stays on the link as the next call's accumulator.
    set_frame_word(p, rdw::Steps, steps - 1, ws);
    return reduce_next(p, ws);
  }
  stack_op_result(ws);
  const std::uint32_t left = frame_word(p, rdw::Left, ws) - 1;
  set_frame_word(p, rdw::Left, left, ws);
  if (left == 0) return finish_frame(p, reduce_result_shape(p, ws), ws);
  set_frame_word(p, rdw::Base, frame_word(p, rdw::Base, ws) + 1, ws);
  const std::uint32_t countdown = frame_word(p, rdw::Countdown, ws) - 1;
  if (countdown == 0) {
    // The next block: past the w−1 positions along the axis that start no window.
    const bool reversed = (frame_word(p, rdw::Mode, ws) & 0xFF) == 0xFF;
    const std::uint32_t stride = reversed ? 0u - frame_word(p, rdw::Step, ws) : frame_word(p, rdw::Step, ws);
    const std::uint32_t jump = (frame_word(p, rdw::Window, ws) - 1) * stride;
    set_frame_word(p, rdw::Base, frame_word(p, rdw::Base, ws) + jump, ws);
    set_frame_word(p, rdw::Countdown, frame_word(p, rdw::Reload, ws), ws);
  } else {
    set_frame_word(p, rdw::Countdown, countdown, ws);
  }
  return reduce_outer(p, ws);
}

int scan_return(Ws ws) {
  const std::uint32_t p = rd32(ws, stack_entry_at(1, ws) + se::Value);
  if (frame_word(p, scw::Steps, ws) > 0) return scan_next(p, ws);
  stack_op_result(ws);
  scan_advance(p, ws);
  return scan_inner(p, ws);
}

}  // namespace zema
