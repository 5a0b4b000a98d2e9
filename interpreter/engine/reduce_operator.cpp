// The operators / ⌿ \ ⍀ with a function operand.
#include "interpreter/engine/derived_operand.h"
#include "interpreter/engine/reduce_operator.h"

#include <cstring>

#include "interpreter/engine/apply.h"
#include "interpreter/engine/engine.h"
#include "interpreter/engine/reduce_array_operand.h"
#include "interpreter/engine/reduce_defined.h"
#include "interpreter/primitives/args.h"
#include "interpreter/primitives/nested_results.h"
#include "interpreter/primitives/primitive_call.h"
#include "interpreter/primitives/reduce_scan.h"
#include "interpreter/primitives/scalar_codes.h"
#include "interpreter/primitives/structural.h"
#include "interpreter/workspace/entry.h"
#include "interpreter/workspace/errors.h"
#include "interpreter/workspace/heap.h"
#include "interpreter/workspace/object_pool.h"
#include "interpreter/workspace/stack.h"
#include "interpreter/workspace/sysvar_slots.h"

namespace zema {

// Pushes item i of the array in the stack slot `r_slot` as a value of its
// own: a copy of a nested array's item, a scalar of a simple one's element.
void push_item(std::uint32_t r_slot, std::uint64_t i, Ws ws) {
  ArrayInfo r = array_info(find_ws_entry(r_slot, ws), ws);
  if (r.type == ET_NESTED) {
    const std::uint32_t size = rd32(ws, r.off + rd32(ws, r.data + 4 * i) + obj::Size);
    const std::uint32_t copy = getspc(size - 8, ws);
    r = array_info(find_ws_entry(r_slot, ws), ws);
    const std::uint32_t item = r.off + rd32(ws, r.data + 4 * i);
    std::memmove(ws + copy + 8, ws + item + 8, size - 8);
    stack(StackEntry{static_cast<std::uint8_t>(kOwnsObject | TC_VALUE), 0, copy}, ws);
    return;
  }
  const Elem e = elem_at(r, i, ws);
  const std::uint32_t data = oprslt(1, 0, r.type, 0, ws);
  put_elem(array_info(data - obj::Shape, ws), 0, e, ws);
  wr8(ws, stack_entry_at(0, ws) + se::Flags, 0);
}

// The results left on the stack (`count` entries, the last on top) made
// one array of `shape`, which replaces them; a nested array of simple
// scalars of one kind is made simple.
void collect(const std::vector<std::uint32_t>& shape, std::uint32_t count, Ws ws) {
  std::uint64_t extra = 0;
  for (std::uint32_t k = 0; k < count; ++k) {
    const std::uint32_t v = rd32(ws, stack_entry_at(k, ws) + se::Value);
    extra += rd32(ws, v + obj::Size);
  }
  const std::uint64_t total = extra + 4ull * count + 4ull * shape.size() + 16;
  if (total > 0x7FFFFFF0u) xwsfll(ws);
  need_room(total, ws);
  const std::uint32_t first =
      oprslt(count, static_cast<std::uint32_t>(4 * shape.size()), ET_NESTED, static_cast<std::uint32_t>(extra), ws);
  for (std::size_t k = 0; k < shape.size(); ++k) wr32(ws, first + 4 * k, shape[k]);
  const std::uint32_t z = first - obj::Shape;
  const std::uint32_t table = first + 4 * static_cast<std::uint32_t>(shape.size());
  std::uint32_t at = table + 4 * count;
  for (std::uint32_t k = 0; k < count; ++k) {
    const std::uint32_t v = rd32(ws, stack_entry_at(count - k, ws) + se::Value);
    const std::uint32_t size = rd32(ws, v + obj::Size);
    wr32(ws, table + 4 * k, at - z);
    std::memmove(ws + at, ws + v, size);
    wr32(ws, at, 0);
    at += size;
  }
  // The copies count their references before the items give up theirs.
  count_value_references(z, ws);
  StackEntry result;
  unstack(result, ws);
  for (std::uint32_t k = 0; k < count; ++k) {
    StackEntry e;
    unstack(e, ws);
    release_entry(e, ws);
  }
  const std::uint32_t slot = stack(result, ws);
  set_owner(result.value, slot, OK_STACK, ws);
  const std::uint8_t type = check_simple(result.value, ws);
  if (type == ET_NESTED) return;
  const std::uint32_t shape_at = oprslt(count, static_cast<std::uint32_t>(4 * shape.size()), type, 0, ws);
  write_simple_image(rd32(ws, stack_entry_at(1, ws) + se::Value), type, shape_at - 4, ws);
  StackEntry simple;
  unstack(simple, ws);
  settle_entry(stack_entry_at(0, ws), simple, ws);
}

namespace {

// Where a reduce-family derived object keeps the operator's axis.
constexpr std::uint32_t kAxisWord = kReduceAxisWord;

// The glyph codes of the operator tokens.
constexpr std::uint8_t kScanFirst = 0x1A;   // ⍀
constexpr std::uint8_t kReduceFirst = 0x1B; // ⌿
constexpr std::uint8_t kScanLast = 0x3F;    // \ (backslash)

struct Applied {
  std::uint8_t code;
  std::uint32_t row;
  FoldCall fold;
  bool scan;
  std::uint32_t operand;  // the operand's entry value (its token tag)
  bool general;           // applied item by item through the engine
};

// Reads the derived function at `fn` and sets the call up: the operand's
// code and row, the axis resolved against R (the right descriptor's array).
Applied set_up(std::uint32_t fn, Ws ws) {
  const std::uint32_t obj = derived_object(fn, ws);
  const StackEntry operand = load_entry(obj + dfn::Entry, ws);
  const std::uint8_t flags = rd8(ws, fn + se::Flags);
  Applied a{};
  a.code = static_cast<std::uint8_t>(((operand.value & 0xFF) >> 1) & 0x7F);
  a.row = primitive_flags(a.code);
  a.scan = flags & fe::Scan;
  a.fold.code = a.code;
  a.fold.flags = a.row;
  wr32(ws, hdr::PrimCode, 4u * a.code);
  set_call_flags(a.row | pf::FromDerived, ws);
  const ArrayInfo r = array_info(right_arg(ws), ws);
  const std::uint32_t given = rd32(ws, obj + kAxisWord);
  const std::uint32_t rank = r.rank == 0 ? 1 : r.rank;
  if (given != 0) {
    if (given > rank) axis_error(ws);
    a.fold.axis = given - 1;
  } else {
    a.fold.axis = (flags & fe::FirstAxis) || r.rank == 0 ? 0 : r.rank - 1;
  }
  a.operand = operand.value;
  a.general = !(a.row & pf::DyadicScalar) || r.type == ET_NESTED || r.type == ET_OBJREF;
  return a;
}

// ---- the operand applied item by item ------------------------------------------------------

// One application of the operand: the left item on top of the operand's
// entry, the accumulator below; the result takes the accumulator's slot.
void apply_operand(std::uint32_t operand, std::uint32_t r_slot, std::uint64_t i, Ws ws) {
  stack(StackEntry{TC_PRIMITIVE, 0, operand}, ws);
  push_item(r_slot, i, ws);
  xdyop_common(0, stack_entry_at(1, ws), ws);
  do_xmnopd(ws);
}

// The identity of a structural operand for an empty axis, an integer array
// made from the shape S of R's prototype, pushed as a value. DOMAIN ERROR
// for an operand that has none.
void structural_identity(std::uint8_t code, std::uint32_t r_slot, Ws ws) {
  std::vector<std::uint32_t> s;
  {
    const ArrayInfo r = array_info(find_ws_entry(r_slot, ws), ws);
    if (r.type == ET_NESTED && rd32(ws, r.off + obj::Size) >= r.data - r.off + 12) {
      const ArrayInfo p = array_info(r.data, ws);
      s = shape_of(p, ws);
    }
  }
  const auto rank = static_cast<std::uint32_t>(s.size());
  std::vector<std::uint32_t> shape;
  enum { Zeros, Iota, Unit, Shape } fill = Zeros;
  switch (code) {
    case 0x12:  // ⌽
      shape.assign(s.begin(), s.end() - (rank ? 1 : 0));
      break;
    case 0x14:  // ⊖
      shape.assign(s.begin() + (rank ? 1 : 0), s.end());
      break;
    case 0x13:  // ⍉
      shape = {rank};
      fill = Iota;
      break;
    case 0x1F: {  // ⌹
      const std::uint32_t h = rank ? s[0] : 0;
      shape = {h, h};
      fill = Unit;
      break;
    }
    case 0x2C:  // ,
      shape = rank ? s : std::vector<std::uint32_t>{0};
      shape.back() = 0;
      break;
    case 0x54:  // ~
    case 0x58:  // ⊃
      shape = {0};
      break;
    case 0x52:  // ⍴
    case 0x59:  // ↑
      shape = {rank};
      fill = Shape;
      break;
    case 0x55:  // ↓
      shape = {rank};
      break;
    default: domner(ws);
  }
  const ArrayInfo z = new_simple(shape, ET_INT, ws);
  wr8(ws, stack_entry_at(0, ws) + se::Flags, 0);
  const std::int32_t io = quad_io(ws);
  for (std::uint32_t i = 0; i < z.count; ++i) {
    std::int32_t v = 0;
    if (fill == Iota) v = io + static_cast<std::int32_t>(i);
    if (fill == Shape) v = static_cast<std::int32_t>(s[i]);
    if (fill == Unit) v = i % (shape[0] + 1) == 0;
    wr32(ws, z.data + 4 * i, static_cast<std::uint32_t>(v));
  }
}

// The identity of a scalar operand for an empty axis of a nested R, taking
// the structure of R's prototype (identity + prototype), pushed `count`
// times. DOMAIN ERROR for any other operand.
void identity_items(const Applied& a, std::uint32_t r_slot, std::uint64_t count, Ws ws) {
  if (!(a.row & pf::DyadicScalar)) {
    for (std::uint64_t k = 0; k < count; ++k) structural_identity(a.code, r_slot, ws);
    return;
  }
  const double id = reduce_identity(a.code, ws);
  // The prototype: the one an empty nested R carries, else a boolean zero.
  ArrayInfo r = array_info(find_ws_entry(r_slot, ws), ws);
  const bool carried = r.type == ET_NESTED && rd32(ws, r.off + obj::Size) >= r.data - r.off + 12;
  if (carried) {
    bool deep = false;
    const std::uint32_t bytes = prototype_bytes(ws + r.data, 0, deep);
    if (deep) depth_error(ws);
    const std::uint32_t proto = getspc(bytes - 8, ws);
    r = array_info(find_ws_entry(r_slot, ws), ws);
    write_prototype(ws + r.data, ws + proto, 0);
    stack(StackEntry{static_cast<std::uint8_t>(kOwnsObject | TC_VALUE), 0, proto}, ws);
  } else {
    oprslt(1, 0, ET_BOOL, 0, ws);
    wr8(ws, stack_entry_at(0, ws) + se::Flags, 0);
  }
  stack(StackEntry{TC_PRIMITIVE, 0, 2u * pc::Plus + 1}, ws);
  const std::uint32_t data = oprslt(1, 0, ET_FLOAT, 0, ws);
  std::memcpy(ws + data, &id, 8);
  wr8(ws, stack_entry_at(0, ws) + se::Flags, 0);
  xdyop_common(0, stack_entry_at(1, ws), ws);
  do_xmnopd(ws);
  // Copies of it for the other result elements.
  for (std::uint64_t k = 1; k < count; ++k) {
    const std::uint32_t size = rd32(ws, rd32(ws, stack_entry_at(0, ws) + se::Value) + obj::Size);
    const std::uint32_t copy = getspc(size - 8, ws);
    const std::uint32_t v = rd32(ws, stack_entry_at(0, ws) + se::Value);
    std::memmove(ws + copy + 8, ws + v + 8, size - 8);
    stack(StackEntry{static_cast<std::uint8_t>(kOwnsObject | TC_VALUE), 0, copy}, ws);
  }
}

// The reduction or scan through applications of the operand, for a nested
// R or an operand that is not a scalar function.
void run_general(const Applied& a, std::uint32_t r_slot, Ws ws) {
  ArrayInfo r = array_info(find_ws_entry(r_slot, ws), ws);
  std::vector<std::uint32_t> shape = a.scan ? shape_of(r, ws) : reduce_shape(a.fold, ws);
  std::uint64_t outer = 1, n = 1, s = 1;
  for (std::uint32_t k = 0; k < r.rank; ++k) {
    const std::uint64_t d = dim(r, k, ws);
    if (k < a.fold.axis) outer *= d;
    else if (k == a.fold.axis) n = d;
    else s *= d;
  }
  std::uint64_t count = 1;
  for (std::uint32_t d : shape) count *= d;
  if (count == 0) {
    result_from_picks(shape, [](const std::function<void(const Pick&)>&) {}, false, ws);
    return;
  }
  const bool window_one = a.fold.mode != 0 && a.fold.window == 1;
  if ((!a.scan && a.fold.mode == 0 && n == 0) || (a.fold.mode != 0 && a.fold.window == 0)) {
    identity_items(a, r_slot, count, ws);
    collect(shape, static_cast<std::uint32_t>(count), ws);
    return;
  }
  const std::uint64_t m = a.scan ? n : a.fold.mode == 0 ? 1 : n + 1 - a.fold.window;
  for (std::uint64_t o = 0; o < outer; ++o) {
    for (std::uint64_t j = 0; j < m; ++j) {
      for (std::uint64_t b = 0; b < s; ++b) {
        const std::uint64_t base = o * n * s + b;
        std::uint64_t start, w;
        std::int64_t step = static_cast<std::int64_t>(s);
        if (a.scan) {
          start = base + j * s;
          w = j + 1;
        } else if (a.fold.mode == 0) {
          start = base + (n - 1) * s;
          w = n;
        } else if (a.fold.mode > 0) {
          start = base + (j + a.fold.window - 1) * s;
          w = a.fold.window;
        } else {
          start = base + j * s;
          w = a.fold.window;
          step = -step;
        }
        if (window_one) w = 1;
        push_item(r_slot, start, ws);
        std::uint64_t i = start;
        for (std::uint64_t k = 1; k < w; ++k) {
          i -= step;
          apply_operand(a.operand, r_slot, i, ws);
        }
        poll_attention(ws);
      }
    }
  }
  collect(shape, static_cast<std::uint32_t>(count), ws);
}

void run(const Applied& a, std::uint32_t r_slot, Ws ws) {
  if (a.general)
    run_general(a, r_slot, ws);
  else if (a.scan)
    scan_simple(a.fold, ws);
  else
    reduce_simple(a.fold, ws);
}

// Whether the reduce-family derived function at `fn` calls its operand as
// a function of its own, one call per step: a defined or derived operand,
// or a primitive with an axis (the axis goes with every call).
bool by_calls(std::uint32_t fn, Ws ws) {
  const StackEntry e = load_entry(derived_object(fn, ws) + dfn::Entry, ws);
  return e.cls == TC_NAMEDFN || e.cls == kClassLink || (e.cls == TC_PRIMITIVE && e.flags != 0);
}

}  // namespace

int do_xrdce(Ws ws) {
  // A value left of / or \ with a value on its right makes it compress or
  // expand; a value alone (A/¨R, (A/)R) is the derived function's operand.
  if (entry_class(0, ws) == TC_VALUE && entry_class(2, ws) == TC_VALUE) return do_xdyop(ws);
  const std::uint32_t op = stack_entry_at(1, ws);
  if (rd8(ws, op + 5) != 0) axis_error(ws);  // a fractional axis
  const std::uint32_t fn = stack_entry_at(0, ws);
  const StackEntry operand = load_entry(fn, ws);
  // A primitive (with or without an axis), a defined or a derived function
  // or a value is an operand here; the grammar reaches here only with these.
  if (operand.cls != TC_PRIMITIVE && operand.cls != TC_NAMEDFN && (operand.cls & kClassMask) != TC_DERIVED &&
      (operand.cls & kClassMask) != TC_VALUE)
    ZEMA_SYSTEM_ERROR(ws);
  const std::uint32_t obj = derived_with_operand(0, dfn::Entry, fn, ws);
  const std::uint32_t slot = stack_entry_at(1, ws);
  const std::uint8_t glyph = static_cast<std::uint8_t>((rd8(ws, slot + se::Value) >> 1) & 0x7F);
  wr32(ws, obj + kAxisWord, rd8(ws, slot + 4));
  std::uint8_t flags = fe::ReduceScan;
  if (glyph == kScanFirst || glyph == kReduceFirst) flags |= fe::FirstAxis;
  if (glyph == kScanFirst || glyph == kScanLast) flags |= fe::Scan;
  replace_operand_with_derived(obj, flags, ws);
  return ES_BIND;
}

int reduce_monadic(Ws ws) {
  if (holds_array_operand(stack_entry_at(0, ws), ws)) return reduce_array_monadic(ws);
  begin_derived_monadic(ws);
  if (by_calls(stack_entry_at(1, ws), ws)) return reduce_defined_monadic(ws);
  const Applied a = set_up(stack_entry_at(1, ws), ws);
  run(a, stack_entry_at(2, ws), ws);
  return ES_FINISH_APPLICATION;
}

int reduce_dyadic(Ws ws) {
  const std::uint32_t fn = stack_entry_at(1, ws);
  // Compress and expand as a derived function take one argument only.
  if (holds_array_operand(fn, ws)) valence_error(ws);
  wr32(ws, hdr::TokensTaken, rd32(ws, hdr::TokensTaken) - 1);
  if (rd8(ws, fn + se::Flags) & fe::Scan) synter(ws);
  set_call_flags(pf::RightReferences | pf::LeftReferences, ws);
  xopafx(0, hdr::LeftDesc, stack_entry_at(0, ws), ws);
  xopafx(0, hdr::RightDesc, stack_entry_at(2, ws), ws);
  // The window: one element, not nested nor characters.
  const ArrayInfo l = array_info(left_arg(ws), ws);
  if (l.type == ET_NESTED || l.type == ET_OBJREF || l.type == ET_CHAR) domner(ws);
  if (l.count != 1) {
    if (l.rank == 1) lener(ws);
    ranker(ws);
  }
  const std::int32_t w = int_at(l, 0, ws);
  if (by_calls(fn, ws)) return reduce_defined_dyadic(w, ws);
  Applied a = set_up(fn, ws);
  a.fold.mode = w < 0 ? -1 : 1;
  a.fold.window = w < 0 ? static_cast<std::uint32_t>(-static_cast<std::int64_t>(w)) : static_cast<std::uint32_t>(w);
  run(a, stack_entry_at(2, ws), ws);
  return ES_FINISH_APPLICATION;
}

}  // namespace zema
