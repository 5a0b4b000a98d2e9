// A[I;J…] (bracket indexing), A[I;J…]←V (indexed assignment), f[k] (an
// axis written on a function) and I⌷A (squad, which selects through the
// same index lists).
//
// Every index is read and checked before anything is stored, so an INDEX
// ERROR part-way through an assignment leaves the variable as it was. A
// vector indexed by one numeric array checks each index as it gathers the
// element; an error there leaves only the unfinished result on the stack.
// Every other case plans the selection axis by axis and walks the index
// arrays where they lie with an odometer, building the result (or storing
// into the variable) straight in the workspace.
#include <algorithm>
#include <cmath>
#include <cstring>
#include <functional>
#include <vector>

#include "interpreter/primitives/args.h"
#include "interpreter/workspace/errors.h"
#include "interpreter/workspace/heap.h"
#include "interpreter/workspace/object_pool.h"
#include "interpreter/primitives/structural.h"
#include "interpreter/workspace/stack.h"
#include "interpreter/workspace/symtab.h"
#include "interpreter/workspace/arrays.h"
#include "interpreter/workspace/sysvar_slots.h"

namespace zema {

namespace {
SystemVariableAssignment system_variable_assignment = nullptr;
}  // namespace

void set_system_variable_assignment(SystemVariableAssignment assign) { system_variable_assignment = assign; }

namespace {

// The zero-based position of index `v` along an axis of length `len`, in
// `z`; false when it is out of range. With ⎕IO 0 or 1 one unsigned compare
// does it: a negative v (¯2147483648 too) wraps to 2³¹ or more, above any
// length, and so does 0 - 1 with ⎕IO 1.
inline bool in_range(std::int32_t v, std::int32_t io, std::uint32_t len, std::uint32_t& z) {
  z = static_cast<std::uint32_t>(v) - static_cast<std::uint32_t>(io);
  return z < len;
}

// ---- A[I] for a vector A and one numeric index array ---------------------------
//
// Each index is checked as its element is copied, straight into the result:
// no list of positions, no zeroed result. An index out of range (or a
// non-integral one) raises the error with the unfinished result on the
// stack, where the error path releases it; A is never touched.

// Index j of a simple numeric index array with its data at `p`.
template <std::uint8_t IT>
inline std::int32_t index_value(const std::uint8_t* p, std::uint32_t j, Ws ws) {
  if constexpr (IT == ET_INT) {
    std::int32_t v;
    std::memcpy(&v, p + 4 * std::size_t{j}, 4);
    return v;
  } else if constexpr (IT == ET_BOOL) {
    std::uint32_t w;
    std::memcpy(&w, p + 4 * std::size_t{j / 32}, 4);
    return static_cast<std::int32_t>((w >> (31 - j % 32)) & 1);
  } else {
    double d;
    std::memcpy(&d, p + 8 * std::size_t{j}, 8);
    std::int32_t v = 0;
    if (!dblint(d, v)) domner(ws);
    return v;
  }
}

// Elements of W bytes.
template <std::uint8_t IT, std::size_t W>
void gather_bytes(const std::uint8_t* ip, const std::uint8_t* src, std::uint8_t* dst, std::uint32_t n,
                  std::uint32_t len, std::int32_t io, Ws ws) {
  for (std::uint32_t j = 0; j < n; ++j) {
    std::uint32_t z;
    if (!in_range(index_value<IT>(ip, j, ws), io, len, z)) indxer(ws);
    std::memcpy(dst + W * j, src + W * std::size_t{z}, W);
  }
}

// Booleans, packed 32 to a word as they are gathered; the bits after the
// last element stay clear.
template <std::uint8_t IT>
void gather_bits(const std::uint8_t* ip, const std::uint8_t* src, std::uint8_t* dst, std::uint32_t n,
                 std::uint32_t len, std::int32_t io, Ws ws) {
  std::uint32_t word = 0;
  for (std::uint32_t j = 0; j < n; ++j) {
    std::uint32_t z;
    if (!in_range(index_value<IT>(ip, j, ws), io, len, z)) indxer(ws);
    std::uint32_t w;
    std::memcpy(&w, src + 4 * std::size_t{z / 32}, 4);
    word |= ((w >> (31 - z % 32)) & 1) << (31 - j % 32);
    if (j % 32 == 31) {
      std::memcpy(dst + 4 * std::size_t{j / 32}, &word, 4);
      word = 0;
    }
  }
  if (n % 32) std::memcpy(dst + 4 * std::size_t{n / 32}, &word, 4);
}

template <std::uint8_t IT>
void gather_simple(const ArrayInfo& a, const ArrayInfo& ix, const ArrayInfo& z, std::int32_t io, Ws ws) {
  const std::uint8_t* ip = ws + ix.data;
  const std::uint8_t* src = ws + a.data;
  std::uint8_t* dst = ws + z.data;
  switch (elem_bytes(a.type)) {
    case 0: gather_bits<IT>(ip, src, dst, ix.count, a.count, io, ws); break;
    case 1: gather_bytes<IT, 1>(ip, src, dst, ix.count, a.count, io, ws); break;
    case 4: gather_bytes<IT, 4>(ip, src, dst, ix.count, a.count, io, ws); break;
    case 8: gather_bytes<IT, 8>(ip, src, dst, ix.count, a.count, io, ws); break;
    default: gather_bytes<IT, 16>(ip, src, dst, ix.count, a.count, io, ws); break;
  }
}

// The zero-based position of index j, checked.
std::uint32_t checked_index(const ArrayInfo& ix, std::uint32_t j, std::uint32_t len, std::int32_t io, Ws ws) {
  const std::uint8_t* ip = ws + ix.data;
  std::int32_t v;
  switch (ix.type) {
    case ET_BOOL: v = index_value<ET_BOOL>(ip, j, ws); break;
    case ET_INT: v = index_value<ET_INT>(ip, j, ws); break;
    default: v = index_value<ET_FLOAT>(ip, j, ws); break;
  }
  std::uint32_t z;
  if (!in_range(v, io, len, z)) indxer(ws);
  return z;
}

// Nested A: a first pass checks every index and measures the items (and
// whether they are all simple scalars, which make a simple result); the
// second copies them.
void gather_nested(std::uint32_t a_slot, std::uint32_t ix_rel, std::uint32_t list_slot, std::int32_t io, Ws ws) {
  auto index_array = [&] { return array_info(rd32(ws, list_slot) + ix_rel, ws); };
  ArrayInfo a = array_info(rd32(ws, a_slot), ws);
  ArrayInfo ix = index_array();
  const std::uint32_t n = ix.count;
  std::uint64_t extra = 0;
  std::uint8_t simple = 0;  // the simple type so far; ET_NESTED once an item is not a simple scalar
  for (std::uint32_t j = 0; j < n; ++j) {
    const std::uint32_t item = a.off + rd32(ws, a.data + 4 * checked_index(ix, j, a.count, io, ws));
    extra += rd32(ws, item + obj::Size);
    const std::uint8_t k = rd8(ws, item + obj::Type);
    if (rd16(ws, item + obj::Rank4) != 0 || k == ET_NESTED) {
      simple = ET_NESTED;
    } else if (simple == 0) {
      simple = k;
    } else if (simple != ET_NESTED && simple != k) {
      simple = is_numeric(simple) && is_numeric(k) ? std::max(simple, k) : std::uint8_t{ET_NESTED};
    }
  }
  const std::uint32_t rank4 = 4 * ix.rank;
  if (simple != ET_NESTED) {
    const std::uint32_t first = oprslt(n, rank4, simple, 0, ws);
    a = array_info(rd32(ws, a_slot), ws);
    ix = index_array();
    std::memcpy(ws + first, ws + ix.off + obj::Shape, rank4);
    const ArrayInfo z = array_info(first - obj::Shape, ws);
    const std::uint32_t end = z.off + rd32(ws, z.off + obj::Size);
    std::memset(ws + z.data, 0, end - z.data);
    for (std::uint32_t j = 0; j < n; ++j) {
      const std::uint32_t item = a.off + rd32(ws, a.data + 4 * checked_index(ix, j, a.count, io, ws));
      put_elem(z, j, elem_at(array_info(item, ws), 0, ws), ws);
    }
    return;
  }
  if (extra > 0xF0000000u) xwsfll(ws);
  const std::uint32_t first = oprslt(n, rank4, ET_NESTED, static_cast<std::uint32_t>(extra), ws);
  a = array_info(rd32(ws, a_slot), ws);
  ix = index_array();
  std::memcpy(ws + first, ws + ix.off + obj::Shape, rank4);
  const ArrayInfo z = array_info(first - obj::Shape, ws);
  std::uint32_t at = z.data + 4 * n;
  for (std::uint32_t j = 0; j < n; ++j) {
    const std::uint32_t item = a.off + rd32(ws, a.data + 4 * checked_index(ix, j, a.count, io, ws));
    const std::uint32_t size = rd32(ws, item + obj::Size);
    wr32(ws, z.data + 4 * j, at - z.off);
    std::memcpy(ws + at, ws + item, size);
    wr32(ws, at + obj::Kind, 0);
    at += size;
  }
}

// A[I] with A a vector and I one non-empty simple numeric array: the result
// pushed on top. Answers false, doing nothing, for every other case.
bool gather_vector(std::uint32_t a_slot, std::uint32_t list_slot, Ws ws) {
  const ArrayInfo a0 = array_info(rd32(ws, a_slot), ws);
  const ArrayInfo l = array_info(rd32(ws, list_slot), ws);
  if (a0.rank != 1 || l.rank != 1 || l.count != 1) return false;
  const std::uint32_t rel = rd32(ws, l.data);
  if (rel == 0) return false;
  const std::uint32_t ix_rel = rel;  // from the list's start: the list may move
  const ArrayInfo ix0 = array_info(l.off + ix_rel, ws);
  if (ix0.count == 0 || !is_numeric(ix0.type)) return false;
  switch (a0.type) {
    case ET_BOOL: case ET_INT: case ET_FLOAT: case ET_CHAR: case ET_WIDE16: case ET_OBJREF: case ET_NESTED: break;
    default: return false;
  }
  const std::int32_t io = quad_io(ws);
  if (a0.type == ET_NESTED) {
    gather_nested(a_slot, ix_rel, list_slot, io, ws);
    return true;
  }
  const std::uint32_t rank4 = 4 * ix0.rank;
  const std::uint32_t first = oprslt(ix0.count, rank4, a0.type, 0, ws);
  const ArrayInfo a = array_info(rd32(ws, a_slot), ws);
  const ArrayInfo ix = array_info(rd32(ws, list_slot) + ix_rel, ws);
  std::memcpy(ws + first, ws + ix.off + obj::Shape, rank4);
  const ArrayInfo z = array_info(first - obj::Shape, ws);
  // Only the bytes after the data (padding to the object's end) are cleared.
  const std::uint32_t end = z.off + rd32(ws, z.off + obj::Size);
  const std::uint64_t w = elem_bytes(a.type);
  const std::uint64_t bytes = w == 0 ? 4 * ((std::uint64_t{z.count} + 31) / 32) : w * z.count;
  if (z.data + bytes < end) std::memset(ws + z.data + bytes, 0, end - z.data - bytes);
  switch (ix.type) {
    case ET_BOOL: gather_simple<ET_BOOL>(a, ix, z, io, ws); break;
    case ET_INT: gather_simple<ET_INT>(a, ix, z, io, ws); break;
    default: gather_simple<ET_FLOAT>(a, ix, z, io, ws); break;
  }
  return true;
}

// ---- the general path: an odometer over the index arrays -----------------------
//
// A selection is planned axis by axis: each axis of A is either elided (all
// its positions) or indexed by a run of elements of an index array, read in
// place in the workspace. The arrays are found again from a holder (the
// index list, or the left argument of ⌷) through the word that holds its
// offset, as every allocation may move them. Nothing is held outside the
// workspace but this fixed record of at most 63 axes.

constexpr std::uint32_t kMaxAxes = 63;

struct AxisPlan {
  bool elided = true;
  std::uint8_t type = 0;     // the index array's element type
  std::uint32_t rel = 0;     // its offset from the holder's (0: the holder itself)
  bool whole = false;        // all of the array, whose shape the result takes
  std::uint32_t first = 0;   // else its one element that indexes the axis
  std::uint32_t count = 0;   // positions along the axis
  std::uint32_t len = 0;     // A's length along the axis
  std::uint64_t mult = 1;    // ravel step of the axis in A
};

struct Plan {
  std::uint32_t holder_slot = 0;  // the word holding the holder's offset
  std::uint32_t rank = 0;         // A's rank
  AxisPlan ax[kMaxAxes];
  std::uint32_t zrank = 0;        // the result's rank and shape
  std::uint32_t zshape[kMaxAxes] = {};
  std::uint32_t count = 0;        // the result's element count
  std::vector<std::uint32_t> shape() const { return {zshape, zshape + zrank}; }
};

// Index j of a simple numeric array of type `t` with its data at `p`.
std::int32_t index_at(std::uint8_t t, const std::uint8_t* p, std::uint32_t j, Ws ws) {
  switch (t) {
    case ET_BOOL: return index_value<ET_BOOL>(p, j, ws);
    case ET_INT: return index_value<ET_INT>(p, j, ws);
    default: return index_value<ET_FLOAT>(p, j, ws);
  }
}

// Starts a plan for A with every axis elided.
void plan_axes(Plan& p, std::uint32_t holder_slot, const ArrayInfo& a, Ws ws) {
  p.holder_slot = holder_slot;
  p.rank = a.rank;
  for (std::uint32_t k = 0; k < a.rank; ++k) {
    p.ax[k] = AxisPlan{};
    p.ax[k].count = p.ax[k].len = dim(a, k, ws);
  }
}

// Axis k indexed by the array at `holder + rel` (all of it when `whole`,
// else its element `first` alone, which adds no axis to the result).
void plan_index(Plan& p, std::uint32_t k, std::uint32_t rel, bool whole, std::uint32_t first, Ws ws) {
  const ArrayInfo ix = array_info(rd32(ws, p.holder_slot) + rel, ws);
  AxisPlan& x = p.ax[k];
  x.elided = false;
  x.type = ix.type;
  x.rel = rel;
  x.whole = whole;
  x.first = whole ? 0 : first;
  x.count = whole ? ix.count : 1;
}

// Completes the plan: the result's shape (more than 63 axes is SYSTEM
// LIMIT) and count (WS FULL when it overflows), the axes' steps; then every
// index is checked, whatever the result's size, in the order an odometer
// over the non-empty axes first meets them: the first index of each axis,
// then the others from the last axis back to the first. A non-empty
// character, nested or reference index is INDEX ERROR before any value is
// read; a non-integral one is DOMAIN ERROR, one out of range INDEX ERROR.
void finish_plan(Plan& p, Ws ws) {
  const std::uint32_t base = rd32(ws, p.holder_slot);
  std::uint64_t n = 1;
  bool overflow = false, empty = false;
  for (std::uint32_t k = 0; k < p.rank; ++k) {
    const AxisPlan& x = p.ax[k];
    if (x.elided) {
      if (p.zrank == kMaxAxes) limit_error(ws);
      p.zshape[p.zrank++] = x.len;
    } else if (x.whole) {
      const ArrayInfo ix = array_info(base + x.rel, ws);
      if (p.zrank + ix.rank > kMaxAxes) limit_error(ws);
      for (std::uint32_t d = 0; d < ix.rank; ++d) p.zshape[p.zrank++] = dim(ix, d, ws);
    }
    n *= x.count;
    empty = empty || x.count == 0;
    if (n > 0x7FFFFFFFu) {
      overflow = true;
      n = 1;
    }
  }
  if (empty) n = 0;
  else if (overflow) xwsfll(ws);
  p.count = static_cast<std::uint32_t>(n);
  for (std::uint32_t k = p.rank; k-- > 1;) p.ax[k - 1].mult = p.ax[k].mult * p.ax[k].len;
  for (std::uint32_t k = 0; k < p.rank; ++k) {
    const AxisPlan& x = p.ax[k];
    if (!x.elided && x.count > 0 && (x.type == ET_CHAR || x.type == ET_NESTED || x.type == ET_OBJREF)) indxer(ws);
  }
  const std::int32_t io = quad_io(ws);
  auto check = [&](const AxisPlan& x, std::uint32_t j) {
    if (!is_numeric(x.type)) domner(ws);
    std::uint32_t z;
    const ArrayInfo ix = array_info(base + x.rel, ws);
    if (!in_range(index_at(x.type, ws + ix.data, x.first + j, ws), io, x.len, z)) indxer(ws);
  };
  for (std::uint32_t k = 0; k < p.rank; ++k)
    if (!p.ax[k].elided && p.ax[k].count > 0) check(p.ax[k], 0);
  for (std::uint32_t k = p.rank; k-- > 0;) {
    if (p.ax[k].elided) continue;
    for (std::uint32_t j = 1; j < p.ax[k].count; ++j) check(p.ax[k], j);
  }
}

// Calls f(j, pos) for each element j of the result in ravel order, pos
// being its ravel position in A. The indices were checked by finish_plan;
// nothing here may allocate.
template <class F>
void walk(const Plan& p, Ws ws, F&& f) {
  if (p.count == 0) return;
  const std::int32_t io = quad_io(ws);
  const std::uint32_t base = rd32(ws, p.holder_slot);
  const std::uint8_t* data[kMaxAxes];
  std::uint32_t at[kMaxAxes];
  std::uint64_t term[kMaxAxes];
  auto position = [&](std::uint32_t k, std::uint32_t j) -> std::uint64_t {
    const AxisPlan& x = p.ax[k];
    if (x.elided) return j * x.mult;
    const std::uint32_t v = static_cast<std::uint32_t>(index_at(x.type, data[k], x.first + j, ws));
    return (v - static_cast<std::uint32_t>(io)) * x.mult;
  };
  std::uint64_t pos = 0;
  for (std::uint32_t k = 0; k < p.rank; ++k) {
    data[k] = p.ax[k].elided ? nullptr : ws + array_info(base + p.ax[k].rel, ws).data;
    at[k] = 0;
    term[k] = position(k, 0);
    pos += term[k];
  }
  for (std::uint32_t j = 0; j < p.count; ++j) {
    f(j, pos);
    for (std::uint32_t k = p.rank; k-- > 0;) {
      pos -= term[k];
      if (++at[k] == p.ax[k].count) at[k] = 0;
      term[k] = position(k, at[k]);
      pos += term[k];
      if (at[k] != 0) break;
    }
  }
}

// The plan of the index list at `list_slot` applied to A (which must have
// as many axes as the list has positions; A[] selects the whole of A).
void plan_list(Plan& p, const ArrayInfo& a, std::uint32_t list_slot, Ws ws) {
  const ArrayInfo l = array_info(rd32(ws, list_slot), ws);
  const bool whole = l.rank == 1 && l.count == 1 && rd32(ws, l.data) == 0;
  if (!whole) {
    if (a.rank == 0) ranker(ws);
    if (l.rank > 1 || l.count != a.rank) ranker(ws);
  }
  plan_axes(p, list_slot, a, ws);
  if (!whole)
    for (std::uint32_t k = 0; k < a.rank; ++k)
      if (const std::uint32_t rel = rd32(ws, l.data + 4 * k)) plan_index(p, k, rel, true, 0, ws);
  finish_plan(p, ws);
}

// Simple elements of W bytes (0: bits) gathered from A into Z.
template <std::uint32_t W>
void gather_planned(const Plan& p, const ArrayInfo& a, const ArrayInfo& z, Ws ws) {
  const std::uint8_t* src = ws + a.data;
  std::uint8_t* dst = ws + z.data;
  if constexpr (W == 0) {
    walk(p, ws, [&](std::uint32_t j, std::uint64_t pos) {
      if (bit_at(a.data, pos, ws)) put_bit(z.data, j, true, ws);
    });
  } else {
    walk(p, ws, [&](std::uint32_t j, std::uint64_t pos) { std::memcpy(dst + W * std::uint64_t{j}, src + W * pos, W); });
  }
}

// The selected elements of A as a new result pushed on top. A is the array
// in `a_slot`; ⌷ has it under its right descriptor already, and bracket
// indexing points both descriptors at it, as the nested results are built
// from the arguments' items.
void gather(std::uint32_t a_slot, const Plan& p, Ws ws) {
  ArrayInfo a = array_info(rd32(ws, a_slot), ws);
  if (a.type == ET_NESTED) {
    wr32(ws, hdr::LeftDesc + desc::OffsetWord, a_slot);
    wr32(ws, hdr::RightDesc + desc::OffsetWord, a_slot);
    result_from_picks(
        p.shape(),
        [&](const std::function<void(const Pick&)>& pick) {
          walk(p, ws, [&](std::uint32_t, std::uint64_t pos) { pick(Pick{static_cast<std::uint32_t>(pos), false, false}); });
        },
        false, ws);
    return;
  }
  const ArrayInfo z = new_simple(p.shape(), a.type, ws);
  a = array_info(rd32(ws, a_slot), ws);
  switch (elem_bytes(a.type)) {
    case 0: gather_planned<0>(p, a, z, ws); break;
    case 1: gather_planned<1>(p, a, z, ws); break;
    case 4: gather_planned<4>(p, a, z, ws); break;
    case 8: gather_planned<8>(p, a, z, ws); break;
    default: gather_planned<16>(p, a, z, ws); break;
  }
}

// The word that holds the offset of the value of the stack entry at `e`.
std::uint32_t value_slot(std::uint32_t e, Ws ws) {
  find_ws_entry(e, ws);  // VALUE ERROR when there is none
  if (rd8(ws, e) & kOwnsObject) return e + se::Value;
  return entry_of_token(rd16(ws, e + se::Value)) + sym::Value;
}

// The result pushed on top replaces the `n` entries below it; the lowest of
// them takes the result, with `flags`.
void settle_result(std::uint32_t n, std::uint8_t flags, Ws ws) {
  StackEntry result;
  unstack(result, ws);
  for (std::uint32_t i = 0; i + 2 < n; ++i) {
    StackEntry e;
    unstack(e, ws);
    release_entry(e, ws);
  }
  result = StackEntry{static_cast<std::uint8_t>(kOwnsObject | TC_VALUE), flags, result.value};
  settle_entry(stack_entry_at(0, ws), result, ws);
}

// V's shape against the selection's: one element goes everywhere, else the
// shapes without their unit axes must agree. A scalar selection has no axes,
// so any V of other than one element is refused.
void check_assign_shape(const ArrayInfo& v, const Plan& p, Ws ws) {
  if (v.count == 1) return;
  std::uint32_t a[kMaxAxes], b[kMaxAxes];
  std::uint32_t na = 0, nb = 0;
  for (std::uint32_t d = 0; d < v.rank; ++d)
    if (dim(v, d, ws) != 1) {
      if (na == kMaxAxes) ranker(ws);
      a[na++] = dim(v, d, ws);
    }
  for (std::uint32_t d = 0; d < p.zrank; ++d)
    if (p.zshape[d] != 1) b[nb++] = p.zshape[d];
  if (na != nb) ranker(ws);
  if (!std::equal(a, a + na, b)) lener(ws);
}

bool incompatible(std::uint8_t a, std::uint8_t b) {
  return (a == ET_CHAR) != (b == ET_CHAR) || (a == ET_OBJREF) != (b == ET_OBJREF) ||
         ((a == ET_WIDE16) != (b == ET_WIDE16));
}

// The narrowest numeric type at least `t` that holds `e`.
std::uint8_t widen_for(std::uint8_t t, const Elem& e) {
  if (t == ET_FLOAT || !is_numeric(e.type)) return t;
  if (e.type == ET_FLOAT) {
    std::int32_t v;
    if (!dblint(e.d, v)) return ET_FLOAT;
    return (t == ET_BOOL && v != 0 && v != 1) ? std::uint8_t{ET_INT} : t;
  }
  if (t == ET_BOOL && e.i != 0 && e.i != 1) return ET_INT;
  return t;
}

// Where the assigned array lives: the word holding its offset, and the slot
// that owns it (a variable's symbol entry, or a stack entry holding a
// system variable's value while it is worked on).
struct Target {
  std::uint32_t slot;
  std::uint32_t owner;
  std::uint8_t kind;
};

// The target's value becomes the result on top of the stack.
void replace_value(const Target& t, Ws ws) {
  StackEntry result;
  unstack(result, ws);
  const std::uint32_t old = rd32(ws, t.slot);
  wr32(ws, t.slot, result.value);
  set_owner(result.value, t.owner, t.kind, ws);
  mgarb(old, ws);
}

// The entry at `e` gets a copy of the array it names as an object of its own.
void own_copy(std::uint32_t e, std::uint32_t slot, Ws ws) {
  const std::uint32_t copy = copy_array(slot, ws);
  const std::uint8_t flags = rd8(ws, e + se::Flags);
  settle_entry(e, StackEntry{static_cast<std::uint8_t>(kOwnsObject | TC_VALUE), flags, copy}, ws);
}

// A[I]←V with A or V nested, or of kinds that do not mix: A is rebuilt in
// the workspace from its own items, with V's items at the selected
// positions (the last one wins where an index repeats), and completed as
// picked results are (simple again when every item is a simple scalar of
// one kind). A temporary integer array of A's length, on the stack, first
// maps each position of A to the element of V it receives (1 + its index,
// 0 for none). The new array is left on top of the stack.
void assign_items(const Plan& s, std::uint32_t a_slot, std::uint32_t v_slot, Ws ws) {
  const ArrayInfo a0 = array_info(rd32(ws, a_slot), ws);
  const std::vector<std::uint32_t> shape = shape_of(a0, ws);
  const std::uint32_t count = a0.count;
  new_simple({count}, ET_INT, ws);
  const std::uint32_t map_slot = stack_entry_at(0, ws) + se::Value;
  {
    const ArrayInfo m = array_info(rd32(ws, map_slot), ws);
    const bool one = array_info(rd32(ws, v_slot), ws).count == 1;
    walk(s, ws, [&](std::uint32_t j, std::uint64_t pos) { wr32(ws, m.data + 4 * pos, one ? 1 : j + 1); });
  }
  wr32(ws, hdr::LeftDesc + desc::OffsetWord, v_slot);
  wr32(ws, hdr::RightDesc + desc::OffsetWord, a_slot);
  result_from_picks(
      shape,
      [&](const std::function<void(const Pick&)>& pick) {
        const std::uint32_t map = array_info(rd32(ws, map_slot), ws).data;
        for (std::uint32_t i = 0; i < count; ++i) {
          const std::uint32_t t = rd32(ws, map + 4 * i);
          pick(t ? Pick{t - 1, true, false} : Pick{i, false, false});
        }
      },
      false, ws);
  // The new array takes the map's place.
  StackEntry result;
  unstack(result, ws);
  settle_entry(stack_entry_at(0, ws), result, ws);
}

void indexed_assign(Ws ws) {
  const std::uint32_t a_entry = stack_entry_at(0, ws);
  const StackEntry ae = load_entry(a_entry, ws);
  const std::uint32_t v_entry = stack_entry_at(3, ws);
  // Only an array can be assigned: a function, operator or system function
  // on the right is refused before anything is read.
  if ((rd8(ws, v_entry) & kClassMask) != TC_VALUE) synter_noarray(ws);
  const bool special = (ae.cls & kClassMask) == TC_SPECIAL;
  if ((ae.cls & kOwnsObject) || ((ae.cls & kClassMask) != TC_VALUE && !special)) synter_badline(ws);
  const std::uint32_t token = ae.value & 0xFFFF;
  Target target{};
  int sysvar_index = -1;
  if (special) {
    // ⎕LX or ⎕FC (the engine refused the others and gave ⎕FC its default):
    // the assignment works on a copy, which the variable's own rules then
    // check and take, so that a refused value leaves the old one.
    if (!is_sysvar_token(token)) indxer(ws);
    sysvar_index = sysvar_index_of_token(token);
    if (sysvar_index != sysvar::LX && sysvar_index != sysvar::FC) indxer(ws);
    if (rd32(ws, sysvar_value_word(sysvar_index)) == 0) indxer(ws);
    own_copy(a_entry, sysvar_value_word(sysvar_index), ws);
    target = {a_entry + se::Value, a_entry, OK_STACK};
  } else {
    const std::uint32_t sym = entry_of_token(token);
    target = {sym + sym::Value, sym, OK_SYMBOL};
    find_ws_entry(a_entry, ws);  // VALUE ERROR when A has none
  }
  const std::uint32_t a_slot = target.slot;
  // A[I]←A: the value is the variable itself, which the stores below would
  // overwrite while reading it; it becomes a private copy first.
  if (!special && !(rd8(ws, v_entry) & kOwnsObject) && (rd32(ws, v_entry + se::Value) & 0xFFFF) == token) {
    find_ws_entry(v_entry, ws);
    own_copy(v_entry, a_slot, ws);
  }
  const std::uint32_t v_slot = value_slot(v_entry, ws);
  const std::uint32_t list_slot = stack_entry_at(1, ws) + se::Value;
  ArrayInfo a = array_info(rd32(ws, a_slot), ws);
  Plan s;
  plan_list(s, a, list_slot, ws);
  ArrayInfo v = array_info(rd32(ws, v_slot), ws);
  check_assign_shape(v, s, ws);
  const std::uint32_t n = s.count;
  if (n > 0 && v.count > 0) {
    if (a.type == ET_NESTED || v.type == ET_NESTED || incompatible(a.type, v.type)) {
      assign_items(s, a_slot, v_slot, ws);
      replace_value(target, ws);
    } else {
      std::uint8_t t = a.type;
      for (std::uint32_t j = 0; j < v.count && t != ET_FLOAT; ++j) t = widen_for(t, elem_at(v, j, ws));
      if (t != a.type) {
        // The whole variable goes to the wider type first.
        const ArrayInfo w = new_simple(shape_of(a, ws), t, ws);
        a = array_info(rd32(ws, a_slot), ws);
        for (std::uint32_t i = 0; i < a.count; ++i) put_elem(w, i, elem_at(a, i, ws), ws);
        replace_value(target, ws);
        a = array_info(rd32(ws, a_slot), ws);
        v = array_info(rd32(ws, v_slot), ws);
      }
      if (a.type == ET_OBJREF && (rd8(ws, rd32(ws, a_slot) + obj::Flags1) & kRefsCounted)) {
        // A variable's references are counted: each one stored gains a
        // reference before the one it replaces loses its own.
        walk(s, ws, [&](std::uint32_t j, std::uint64_t pos) {
          std::uint32_t slot = rd32(ws, v.data + 4 * (v.count == 1 ? 0 : j));
          if (!object_slot_live(slot, ws)) slot = 0;
          inc_object_reference_count(slot, ws);
          const std::uint32_t old = rd32(ws, a.data + 4 * pos);
          wr32(ws, a.data + 4 * pos, slot);
          dec_object_reference_count(old, ws);
        });
      } else if (a.type == v.type && a.type != ET_BOOL && v.count > 1) {
        const std::uint32_t width = elem_bytes(a.type);
        walk(s, ws, [&](std::uint32_t j, std::uint64_t pos) {
          std::memcpy(ws + a.data + width * pos, ws + v.data + std::uint64_t(width) * j, width);
        });
      } else if (v.count == 1) {
        const Elem e = elem_at(v, 0, ws);
        walk(s, ws, [&](std::uint32_t, std::uint64_t pos) { put_elem(a, pos, e, ws); });
      } else {
        walk(s, ws, [&](std::uint32_t j, std::uint64_t pos) { put_elem(a, pos, elem_at(v, j, ws), ws); });
      }
    }
  }
  if (special) {
    if (!system_variable_assignment) ZEMA_SYSTEM_ERROR(ws);
    system_variable_assignment(sysvar_index, a_slot, ws);
  }
  // A, the list and the arrow go; V stays as the statement's value, not shown.
  for (int i = 0; i < 3; ++i) {
    StackEntry e;
    unstack(e, ws);
    release_entry(e, ws);
  }
  const std::uint32_t top = stack_entry_at(0, ws);
  wr8(ws, top + se::Flags, rd8(ws, top + se::Flags) | kSeNoDisplay);
}

}  // namespace

int do_xindex(Ws ws) {
  wr8(ws, hdr::ResultBits, rd8(ws, hdr::ResultBits) & ~0x80);
  if ((rd8(ws, stack_entry_at(2, ws)) & kClassMask) == TC_ASSIGN && !is_primer(2, ws)) {
    indexed_assign(ws);
    return ES_BIND;
  }
  const std::uint32_t a_entry = stack_entry_at(0, ws);
  const std::uint32_t a_slot = value_slot(a_entry, ws);
  const std::uint8_t model = rd8(ws, a_entry + se::Flags) & kSeSelectiveModel;
  const std::uint32_t list_slot = stack_entry_at(1, ws) + se::Value;
  if (!gather_vector(a_slot, list_slot, ws)) {
    Plan p;
    plan_list(p, array_info(rd32(ws, a_slot), ws), list_slot, ws);
    gather(a_slot, p, ws);
  }
  settle_result(3, model, ws);
  return ES_BIND;
}

namespace {

// The function entry on top takes the place of the index list below it.
int drop_index_list(Ws ws) {
  StackEntry f;
  unstack(f, ws);
  settle_entry(stack_entry_at(0, ws), f, ws);
  return ES_BIND;
}

// f[K] with K not a single number: the entry becomes a derived function
// (class 21) holding the one-based axes.
void make_axis_list(std::uint32_t fn, Ws ws) {
  const std::int32_t io = quad_io(ws);
  // The axes below the function: the one item of the index list.
  auto axis_array = [&] {
    const ArrayInfo l = array_info(rd32(ws, stack_entry_at(1, ws) + se::Value), ws);
    return array_info(l.off + rd32(ws, l.data), ws);
  };
  auto one_based = [&](const ArrayInfo& ax, std::uint32_t j) {
    const std::int64_t k = std::int64_t{int_at(ax, j, ws)} + (io == 0 ? 1 : 0);
    if (k < 0 || k > 63) axis_error(ws);
    return static_cast<std::uint32_t>(k);
  };
  ArrayInfo ax = axis_array();
  for (std::uint32_t j = 0; j < ax.count; ++j) one_based(ax, j);
  // A character vector's storage, retyped: header, shape word, then the
  // derived function's fields up to the list at dfn::List.
  if (ax.count > 0x3FFFFFF0u) xwsfll(ws);
  const std::uint32_t obj = getspc(4 * ax.count + 38, ws);
  ax = axis_array();  // the heap may have been compacted
  std::memset(ws + obj + obj::Type, 0, dfn::List + 4 + 4 * ax.count - obj::Type);
  wr8(ws, obj + obj::Type, ET_DERIVED);
  wr16(ws, obj + obj::Rank4, 4);
  wr32(ws, obj + obj::Shape, 4 * ax.count + 30);
  const StackEntry f = load_entry(fn, ws);
  store_entry(obj + dfn::Entry, f, ws);
  wr32(ws, obj + dfn::ListWord, dfn::List);
  wr32(ws, obj + dfn::List, ax.count);
  for (std::uint32_t j = 0; j < ax.count; ++j) wr32(ws, obj + dfn::List + 4 + 4 * j, one_based(ax, j));
  store_entry(fn, StackEntry{static_cast<std::uint8_t>(kOwnsObject | TC_DERIVED), 0, obj}, ws);
  set_owner(obj, fn, OK_STACK, ws);
}

}  // namespace

int do_xaxis(Ws ws) {
  const std::uint32_t fn = stack_entry_at(0, ws);
  const std::uint8_t cls = rd8(ws, fn) & kClassMask;
  // A named (defined or system) function takes the axis too: the call
  // refuses it with AXIS ERROR once the arguments are there.
  if (cls != TC_PRIMITIVE && cls != TC_SLASH && cls != TC_DERIVED && cls != TC_NAMEDFN) noncer_1(ws);
  const ArrayInfo l = array_info(rd32(ws, stack_entry_at(1, ws) + se::Value), ws);
  if (l.count != 1) axis_error(ws);
  const std::uint32_t rel = rd32(ws, l.data);
  if (rel == 0) axis_error(ws);
  const ArrayInfo ax = array_info(l.off + rel, ws);
  if ((ax.type == ET_CHAR && ax.count > 0) || ax.type == ET_NESTED || ax.type == ET_OBJREF) axis_error(ws);
  const bool derived = cls == TC_DERIVED;
  if (derived) {
    // A function that has an axis list takes no second one. Of the
    // operators' derived functions only a reduction or scan takes an axis,
    // one number as f/[k] does, and only when its operator had none: each,
    // the products and defined operators have no axis to give it to.
    const std::uint32_t obj = derived_object(fn, ws);
    if (rd32(ws, obj + dfn::ListWord) != 0) axis_error(ws);
    if (!(rd8(ws, fn + se::Flags) & fe::ReduceScan) || ax.count != 1) axis_error(ws);
    if (rd32(ws, obj + dfn::OperatorAxis) != 0) axis_error(ws);
  }
  if (!derived && rd16(ws, fn + 4) != 0) axis_error(ws);
  if (ax.count != 1) {
    make_axis_list(fn, ws);
    return drop_index_list(ws);
  }
  const std::uint8_t code = (rd8(ws, fn + se::Value) >> 1) & 0x7F;
  if (cls == TC_PRIMITIVE && code >= 7 && code <= 12) noncer_1(ws);  // tie numbers of the file primitives
  std::int64_t ip = 0;
  bool fraction = false;
  const Elem e = elem_at(ax, 0, ws);
  if (e.type == ET_FLOAT) {
    const double d = e.d;
    if (std::fabs(d) >= 64) axis_error(ws);
    std::int32_t iv;
    if (dblint(d, iv)) {
      ip = iv;
    } else {
      if (d <= -1) axis_error(ws);
      fraction = true;
      ip = static_cast<std::int64_t>(std::floor(d));
    }
  } else {
    ip = int_at(ax, 0, ws);
  }
  if (quad_io(ws) == 0) ++ip;
  if (ip < 0 || ip > 63) axis_error(ws);
  if (ip == 0 && !fraction) axis_error(ws);
  if (derived) {
    if (fraction) axis_error(ws);  // as on the operator itself
    wr32(ws, derived_object(fn, ws) + dfn::OperatorAxis, static_cast<std::uint32_t>(ip));
    return drop_index_list(ws);
  }
  wr8(ws, fn + 4, static_cast<std::uint32_t>(ip));
  wr8(ws, fn + 5, fraction ? 1 : 0);
  wr8(ws, fn + se::Flags, rd8(ws, fn + se::Flags) | fe::Axis);
  return drop_index_list(ws);
}

void squad_dyadic(const PrimitiveCall& c, Ws ws) {
  const ArrayInfo ix = array_info(left_arg(ws), ws);
  const ArrayInfo a = array_info(right_arg(ws), ws);
  if (ix.type == ET_CHAR) domner(ws);
  const AxisList axis = multiple_axis(c.fn_entry, c.flags, a.rank, ws);
  const std::uint32_t i_slot = rd32(ws, hdr::LeftDesc + desc::OffsetWord);
  const std::uint32_t a_slot = rd32(ws, hdr::RightDesc + desc::OffsetWord);
  Plan p;
  plan_axes(p, i_slot, a, ws);
  if (!axis.k.empty()) {
    // Item j of I indexes the j-th axis named (an empty list names none).
    if (ix.rank > 1) ranker(ws);
    if (ix.count != axis.k.size()) indxer(ws);
    for (std::uint32_t j = 0; j < ix.count; ++j) {
      if (ix.type == ET_NESTED)
        plan_index(p, axis.k[j], rd32(ws, ix.data + 4 * j), true, 0, ws);
      else
        plan_index(p, axis.k[j], 0, false, j, ws);
    }
  } else if (a.rank == 0) {
    if (ix.rank != 1 || ix.count != 0) ranker(ws);
  } else if (ix.type != ET_NESTED) {
    // One element: every index is read as an integer before any is compared.
    if (ix.rank > 1) ranker(ws);
    if (ix.count > 63) indxer(ws);
    if (ix.count != a.rank) ranker(ws);
    if (ix.type == ET_OBJREF) indxer(ws);
    for (std::uint32_t k = 0; k < a.rank; ++k) int_at(ix, k, ws);
    for (std::uint32_t k = 0; k < a.rank; ++k) plan_index(p, k, 0, false, k, ws);
  } else {
    if (ix.rank > 1 || ix.count != a.rank) ranker(ws);
    for (std::uint32_t k = 0; k < a.rank; ++k) plan_index(p, k, rd32(ws, ix.data + 4 * k), true, 0, ws);
  }
  finish_plan(p, ws);
  gather(a_slot, p, ws);
}

}  // namespace zema
