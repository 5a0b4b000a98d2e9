// A[I;J…] (bracket indexing), A[I;J…]←V (indexed assignment), f[k] (an
// axis written on a function) and I⌷A (squad, which selects through the
// same index lists).
//
// Every index is read and checked before anything is selected or stored,
// so an INDEX ERROR part-way through an assignment leaves the variable as
// it was.
#include <cmath>
#include <cstring>
#include <optional>

#include "interpreter/args.h"
#include "interpreter/engine.h"
#include "interpreter/error_path.h"
#include "interpreter/heap.h"
#include "interpreter/primitives/structural.h"
#include "interpreter/stack.h"
#include "interpreter/symtab.h"
#include "interpreter/sysvars.h"

namespace zema {

namespace {

// The indices along one axis, already made zero-based and checked; none
// when the position was elided.
struct AxisIndex {
  bool elided = true;
  std::vector<std::uint32_t> shape;
  std::vector<std::uint32_t> at;
};

struct Selection {
  std::vector<std::uint32_t> shape;  // catenated shapes of the indices
  std::vector<std::uint32_t> pos;    // ravel positions in A, in result order
};

// Index values of an index array along an axis of length `len`.
AxisIndex read_index(const ArrayInfo& ix, std::uint32_t len, std::int32_t io, Ws ws) {
  AxisIndex a;
  a.elided = false;
  a.shape = shape_of(ix, ws);
  if (ix.count > 0 && (ix.type == ET_CHAR || ix.type == ET_NESTED || ix.type == ET_OBJREF)) indxer(ws);
  a.at.resize(ix.count);
  for (std::uint32_t i = 0; i < ix.count; ++i) {
    const std::int32_t v = int_at(ix, i, ws);
    const std::uint32_t z = static_cast<std::uint32_t>(v - io);
    if (v < 0 || z >= len) indxer(ws);
    a.at[i] = z;
  }
  return a;
}

// The positions an index list selects from an array of shape `shape`.
Selection select(const std::vector<std::uint32_t>& shape, std::vector<AxisIndex>& axes, Ws ws) {
  Selection s;
  const std::size_t rank = shape.size();
  for (std::size_t k = 0; k < rank; ++k) {
    if (axes[k].elided) {
      axes[k].shape = {shape[k]};
      axes[k].at.resize(shape[k]);
      for (std::uint32_t i = 0; i < shape[k]; ++i) axes[k].at[i] = i;
    }
    s.shape.insert(s.shape.end(), axes[k].shape.begin(), axes[k].shape.end());
  }
  if (s.shape.size() > 63) limit_error(ws);
  std::vector<std::uint32_t> counts(rank);
  for (std::size_t k = 0; k < rank; ++k) counts[k] = static_cast<std::uint32_t>(axes[k].at.size());
  const std::uint32_t n = checked_count(counts, ws);
  if (n == 0) return s;
  std::vector<std::uint64_t> mult(rank, 1);
  for (std::size_t k = rank; k-- > 1;) mult[k - 1] = mult[k] * shape[k];
  s.pos.reserve(n);
  std::vector<std::uint32_t> odo(rank, 0);
  for (std::uint32_t j = 0; j < n; ++j) {
    std::uint64_t p = 0;
    for (std::size_t k = 0; k < rank; ++k) p += axes[k].at[odo[k]] * mult[k];
    s.pos.push_back(static_cast<std::uint32_t>(p));
    for (std::size_t k = rank; k-- > 0;) {
      if (++odo[k] < counts[k]) break;
      odo[k] = 0;
    }
  }
  return s;
}

// The index list at `list` applied to the array A (which must have as many
// axes as the list has positions).
Selection select_by_list(const ArrayInfo& a, std::uint32_t list, Ws ws) {
  const ArrayInfo l = array_info(list, ws);
  // A[] selects the whole of A, whatever its rank.
  const bool whole = l.rank == 1 && l.count == 1 && rd32(ws, l.data) == 0;
  if (whole) {
    std::vector<AxisIndex> all(a.rank);
    Selection s = select(shape_of(a, ws), all, ws);
    if (a.rank == 0) s.pos = {0};
    return s;
  }
  if (a.rank == 0) ranker(ws);
  if (l.rank > 1 || l.count != a.rank) ranker(ws);
  const std::int32_t io = quad_io(ws);
  std::vector<AxisIndex> axes(a.rank);
  for (std::uint32_t k = 0; k < a.rank; ++k) {
    const std::uint32_t rel = rd32(ws, l.data + 4 * k);
    if (rel) axes[k] = read_index(array_info(list + rel, ws), dim(a, k, ws), io, ws);
  }
  return select(shape_of(a, ws), axes, ws);
}

// The selected elements of the array held in `slot` as a new result.
void gather(std::uint32_t slot, const Selection& s, Ws ws) {
  ArrayInfo a = array_info(rd32(ws, slot), ws);
  if (a.type == ET_NESTED) {
    std::vector<Image> items;
    items.reserve(s.pos.size());
    for (std::uint32_t p : s.pos) items.push_back(item_image(a, p, ws));
    result_from_items(s.shape, items, array_prototype(a, ws), ws);
    return;
  }
  const ArrayInfo z = new_simple(s.shape, a.type, ws);
  a = array_info(rd32(ws, slot), ws);
  const std::uint32_t w = elem_bytes(a.type);
  std::uint8_t* dst = ws + z.data;
  const std::uint8_t* src = ws + a.data;
  const auto n = static_cast<std::uint32_t>(s.pos.size());
  switch (w) {
    case 0:
      for (std::uint32_t j = 0; j < n; ++j)
        if (bit_at(a.data, s.pos[j], ws)) put_bit(z.data, j, true, ws);
      break;
    case 1:
      for (std::uint32_t j = 0; j < n; ++j) dst[j] = src[s.pos[j]];
      break;
    case 4:
      for (std::uint32_t j = 0; j < n; ++j) std::memcpy(dst + 4 * j, src + 4 * std::uint64_t(s.pos[j]), 4);
      break;
    default:
      for (std::uint32_t j = 0; j < n; ++j) std::memcpy(dst + w * j, src + w * std::uint64_t(s.pos[j]), w);
      break;
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
    if ((e.cls & kOwnsObject) && e.value) mgarb(e.value, ws);
  }
  const std::uint32_t slot = stack_entry_at(0, ws);
  const StackEntry old = load_entry(slot, ws);
  if ((old.cls & kOwnsObject) && old.value) mgarb(old.value, ws);
  store_entry(slot, StackEntry{static_cast<std::uint8_t>(kOwnsObject | TC_VALUE), flags, result.value}, ws);
  set_owner(result.value, slot, OK_STACK, ws);
}

// V's shape against the selection's: one element goes everywhere, else the
// shapes without their unit axes must agree. A scalar selection has no axes,
// so any V of other than one element is refused.
void check_assign_shape(const ArrayInfo& v, const Selection& s, Ws ws) {
  if (v.count == 1) return;
  std::vector<std::uint32_t> a, b;
  for (std::uint32_t x : shape_of(v, ws))
    if (x != 1) a.push_back(x);
  for (std::uint32_t x : s.shape)
    if (x != 1) b.push_back(x);
  if (a.size() != b.size()) ranker(ws);
  if (a != b) lener(ws);
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

// The variable's value becomes the result on top of the stack.
void replace_value(std::uint32_t sym, Ws ws) {
  StackEntry result;
  unstack(result, ws);
  const std::uint32_t old = rd32(ws, sym + sym::Value);
  wr32(ws, sym + sym::Value, result.value);
  set_owner(result.value, sym, OK_SYMBOL, ws);
  mgarb(old, ws);
}

void indexed_assign(Ws ws) {
  const std::uint32_t a_entry = stack_entry_at(0, ws);
  const StackEntry ae = load_entry(a_entry, ws);
  if ((ae.cls & kOwnsObject) || (ae.cls & kClassMask) != TC_VALUE) synter_badline(ws);
  const std::uint32_t sym = entry_of_token(ae.value & 0xFFFF);
  const std::uint32_t a_slot = value_slot(a_entry, ws);
  const std::uint32_t v_entry = stack_entry_at(3, ws);
  const std::uint32_t v_slot = value_slot(v_entry, ws);
  const std::uint32_t list_slot = stack_entry_at(1, ws) + se::Value;
  ArrayInfo a = array_info(rd32(ws, a_slot), ws);
  const Selection s = select_by_list(a, rd32(ws, list_slot), ws);
  ArrayInfo v = array_info(rd32(ws, v_slot), ws);
  check_assign_shape(v, s, ws);
  const auto n = static_cast<std::uint32_t>(s.pos.size());
  if (n > 0 && v.count > 0) {
    auto vi = [&](std::uint32_t j) { return v.count == 1 ? 0u : j; };
    if (a.type == ET_NESTED || v.type == ET_NESTED || incompatible(a.type, v.type)) {
      std::vector<Image> items(a.count);
      for (std::uint32_t i = 0; i < a.count; ++i) items[i] = item_image(a, i, ws);
      for (std::uint32_t j = 0; j < n; ++j) items[s.pos[j]] = item_image(v, vi(j), ws);
      const Image proto = array_prototype(a, ws);
      result_from_items(shape_of(a, ws), items, proto, ws);
      replace_value(sym, ws);
    } else {
      std::uint8_t t = a.type;
      for (std::uint32_t j = 0; j < v.count && t != ET_FLOAT; ++j) t = widen_for(t, elem_at(v, j, ws));
      if (t != a.type) {
        // The whole variable goes to the wider type first.
        const ArrayInfo w = new_simple(shape_of(a, ws), t, ws);
        a = array_info(rd32(ws, a_slot), ws);
        for (std::uint32_t i = 0; i < a.count; ++i) put_elem(w, i, elem_at(a, i, ws), ws);
        replace_value(sym, ws);
        a = array_info(rd32(ws, a_slot), ws);
        v = array_info(rd32(ws, v_slot), ws);
      }
      if (a.type == v.type && a.type != ET_BOOL && v.count > 1) {
        const std::uint32_t width = elem_bytes(a.type);
        for (std::uint32_t j = 0; j < n; ++j)
          std::memmove(ws + a.data + std::uint64_t(width) * s.pos[j], ws + v.data + std::uint64_t(width) * j, width);
      } else {
        for (std::uint32_t j = 0; j < n; ++j) put_elem(a, s.pos[j], elem_at(v, vi(j), ws), ws);
      }
    }
  }
  // A, the list and the arrow go; V stays as the statement's value, not shown.
  for (int i = 0; i < 3; ++i) {
    StackEntry e;
    unstack(e, ws);
    if ((e.cls & kOwnsObject) && e.value) mgarb(e.value, ws);
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
  const Selection s = select_by_list(array_info(rd32(ws, a_slot), ws), rd32(ws, list_slot), ws);
  gather(a_slot, s, ws);
  settle_result(3, model, ws);
  return ES_BIND;
}

namespace {

// The function entry on top takes the place of the index list below it.
int drop_index_list(Ws ws) {
  StackEntry f;
  unstack(f, ws);
  const std::uint32_t slot = stack_entry_at(0, ws);
  const StackEntry list = load_entry(slot, ws);
  if ((list.cls & kOwnsObject) && list.value) mgarb(list.value, ws);
  store_entry(slot, f, ws);
  if ((f.cls & kOwnsObject) && f.value) set_owner(f.value, slot, OK_STACK, ws);
  return ES_BIND;
}

// f[K] with K not a single number: the entry becomes a derived function
// (class 21) holding the one-based axes.
void make_axis_list(std::uint32_t fn, const ArrayInfo& ax, Ws ws) {
  const std::int32_t io = quad_io(ws);
  std::vector<std::uint32_t> axes(ax.count);
  for (std::uint32_t j = 0; j < ax.count; ++j) {
    const auto k = static_cast<std::uint32_t>(int_at(ax, j, ws) + (io == 0 ? 1 : 0));
    if (k > 63) axis_error(ws);
    axes[j] = k;
  }
  // A character vector's storage, retyped: header, shape word, then the
  // derived function's fields up to the list at dfn::List.
  const std::uint32_t obj = getspc(4 * ax.count + 38, ws);
  std::memset(ws + obj + obj::Type, 0, dfn::List + 4 + 4 * ax.count - obj::Type);
  wr8(ws, obj + obj::Type, ET_DERIVED);
  wr16(ws, obj + obj::Rank4, 4);
  wr32(ws, obj + obj::Shape, 4 * ax.count + 30);
  const StackEntry f = load_entry(fn, ws);
  store_entry(obj + dfn::Entry, f, ws);
  wr32(ws, obj + dfn::ListWord, dfn::List);
  wr32(ws, obj + dfn::List, ax.count);
  for (std::uint32_t j = 0; j < ax.count; ++j) wr32(ws, obj + dfn::List + 4 + 4 * j, axes[j]);
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
  if (cls == TC_DERIVED) {
    // Derived functions here come only from axis lists so far: a second axis.
    if (rd32(ws, derived_object(fn, ws) + dfn::ListWord) != 0) axis_error(ws);
    noncer_1(ws);  // axes on operators' derived functions arrive with them
  }
  if (rd16(ws, fn + 4) != 0) axis_error(ws);
  if (ax.count != 1) {
    make_axis_list(fn, ax, ws);
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
  wr8(ws, fn + 4, static_cast<std::uint32_t>(ip));
  wr8(ws, fn + 5, fraction ? 1 : 0);
  wr8(ws, fn + se::Flags, rd8(ws, fn + se::Flags) | fe::Axis);
  return drop_index_list(ws);
}

void squad_dyadic(const PrimitiveCall& c, Ws ws) {
  ArrayInfo ix = array_info(left_arg(ws), ws);
  ArrayInfo a = array_info(right_arg(ws), ws);
  if (ix.type == ET_CHAR) domner(ws);
  const AxisList axis = multiple_axis(c.fn_entry, c.flags, a.rank, ws);
  const std::int32_t io = quad_io(ws);
  std::vector<AxisIndex> axes(a.rank);
  if (!axis.k.empty()) {
    // Item j of I indexes the j-th axis named (an empty list names none).
    if (ix.rank > 1) ranker(ws);
    if (ix.count != axis.k.size()) indxer(ws);
    for (std::uint32_t j = 0; j < ix.count; ++j) {
      const std::uint32_t k = axis.k[j];
      if (ix.type == ET_NESTED) {
        axes[k] = read_index(array_info(ix.off + rd32(ws, ix.data + 4 * j), ws), dim(a, k, ws), io, ws);
      } else {
        const Elem e = elem_at(ix, j, ws);
        if (e.type == ET_OBJREF) indxer(ws);
        const std::int32_t v = int_at(ix, j, ws);
        const std::uint32_t z = static_cast<std::uint32_t>(v - io);
        if (v < 0 || z >= dim(a, k, ws)) indxer(ws);
        axes[k].elided = false;
        axes[k].at = {z};
      }
    }
  } else if (a.rank == 0) {
    if (ix.rank != 1 || ix.count != 0) ranker(ws);
    const Selection whole{{}, {0}};
    gather(rd32(ws, hdr::RightDesc + desc::OffsetWord), whole, ws);
    return;
  } else if (ix.type != ET_NESTED) {
    if (ix.rank > 1) ranker(ws);
    if (ix.count > 63) indxer(ws);
    if (ix.count != a.rank) ranker(ws);
    for (std::uint32_t k = 0; k < a.rank; ++k) {
      const std::int32_t v = int_at(ix, k, ws);
      const std::uint32_t z = static_cast<std::uint32_t>(v - io);
      if (v < 0 || z >= dim(a, k, ws)) indxer(ws);
      axes[k].elided = false;
      axes[k].at = {z};
    }
  } else {
    if (ix.rank > 1 || ix.count != a.rank) ranker(ws);
    for (std::uint32_t k = 0; k < a.rank; ++k)
      axes[k] = read_index(array_info(ix.off + rd32(ws, ix.data + 4 * k), ws), dim(a, k, ws), io, ws);
  }
  const Selection s = select(shape_of(a, ws), axes, ws);
  gather(rd32(ws, hdr::RightDesc + desc::OffsetWord), s, ws);
}

}  // namespace zema
