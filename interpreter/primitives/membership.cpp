// L∊R (membership) and L~R (without). Two simple arguments go through the
// searches of value_search.h (hashed, tabled or sorted as the types allow);
// two nested ones are hashed when the table pays (search_hash.h); a nested
// argument against a simple one compares its simple scalar items with the
// other's elements, under ⎕CT.
#include <cstring>

#include "interpreter/primitives/args.h"
#include "interpreter/primitives/search_hash.h"
#include "interpreter/primitives/search_primitives.h"
#include "interpreter/primitives/value_search.h"
#include "interpreter/workspace/entry.h"
#include "interpreter/workspace/errors.h"

namespace zema {

namespace {

std::uint32_t item_at(const ArrayInfo& a, std::uint32_t i, Ws ws) { return a.off + rd32(ws, a.data + 4 * i); }

// Whether item i of the nested array `a` is a simple scalar; its value in `out`.
bool simple_scalar_item(const ArrayInfo& a, std::uint32_t i, Elem& out, Ws ws) {
  const ArrayInfo it = array_info(item_at(a, i, ws), ws);
  if (it.type == ET_NESTED || it.rank != 0) return false;
  out = elem_at(it, 0, ws);
  return true;
}

// Whether element or item j of `p` equals one of `t`, one of the two nested:
// nested items by match; a simple element against the other's simple scalar
// items under ⎕CT (any other item equals nothing).
bool found_in(const ArrayInfo& t, const ArrayInfo& p, std::uint32_t j, double ct, Ws ws) {
  if (t.type == ET_NESTED && p.type == ET_NESTED) {
    const std::uint32_t pj = item_at(p, j, ws);
    for (std::uint32_t i = 0; i < t.count; ++i)
      if (arrays_match(item_at(t, i, ws), pj, ws)) return true;
    return false;
  }
  Elem v, e;
  if (p.type == ET_NESTED) {
    if (!simple_scalar_item(p, j, v, ws)) return false;
    for (std::uint32_t i = 0; i < t.count; ++i)
      if (elem_equal(elem_at(t, i, ws), v, ct)) return true;
    return false;
  }
  v = elem_at(p, j, ws);
  for (std::uint32_t i = 0; i < t.count; ++i)
    if (simple_scalar_item(t, i, e, ws) && elem_equal(e, v, ct)) return true;
  return false;
}

// Calls keep(j) for each item j of `p` found in `t` when `found` is true,
// or not found when it is false, in order; p or t nested.
template <class Keep>
void each_found(const ArrayInfo& t, const ArrayInfo& p, bool found, const Keep& keep, Ws ws) {
  if (search_nested_hashed(t, p, [&](std::uint32_t j, std::uint32_t at) {
        if ((at != t.count) == found) keep(j);
      }, ws))
    return;
  const double ct = ct_value(ws);
  for (std::uint32_t j = 0; j < p.count; ++j) {
    if ((j & 0xFF) == 0) check_attention(ws);
    if (found_in(t, p, j, ct, ws) == found) keep(j);
  }
}

// Characters meet only characters, references only references, but a
// nested argument may hold either.
bool types_can_match(std::uint8_t a, std::uint8_t b) {
  if (a == ET_NESTED || b == ET_NESTED) return true;
  if ((a == ET_CHAR) != (b == ET_CHAR)) return false;
  if ((a == ET_OBJREF) != (b == ET_OBJREF)) return false;
  return true;
}

}  // namespace

void cut_result_vector(const ArrayInfo& z, std::uint32_t count, Ws ws) {
  const std::uint32_t size = rd32(ws, z.off + obj::Size);
  if (z.rank != 1 || z.off + size + 4 != rd32(ws, hdr::HeapTop)) ZEMA_SYSTEM_ERROR(ws);
  const std::uint64_t bytes = z.type == ET_BOOL ? 4 * ((std::uint64_t(count) + 31) / 32)
                                                : std::uint64_t(elem_bytes(z.type)) * count;
  const auto cut = static_cast<std::uint32_t>((z.data - z.off + bytes + 3) & ~std::uint64_t(3));
  if (z.type == ET_BOOL && count % 32) {
    // Bits after the last element (left by a kept count that shrank) go.
    const std::uint32_t last = z.data + 4 * (count / 32);
    wr32(ws, last, rd32(ws, last) & ~(0xFFFFFFFFu >> (count % 32)));
  }
  wr32(ws, z.off + obj::Shape, count);
  wr32(ws, z.off + obj::Size, cut);
  wr32(ws, hdr::HeapTop, z.off + cut + 4);
  wr32(ws, hdr::ResultDesc + desc::Count, count);
  wr32(ws, hdr::ResultCount, count);
}

void membership_dyadic(const PrimitiveCall& c, Ws ws) {
  no_axis(c.fn_entry, ws);
  const ArrayInfo z = new_simple(shape_of(array_info(left_arg(ws), ws), ws), ET_BOOL, ws);
  const ArrayInfo a = array_info(left_arg(ws), ws), b = array_info(right_arg(ws), ws);
  if (a.count == 0) return;
  if (a.type != ET_NESTED && b.type != ET_NESTED) {
    SearchSink sink{SearchUse::Member, z, 0, 0};
    return search_simple(b, a, sink, ws);
  }
  each_found(b, a, true, [&](std::uint32_t j) { put_bit(z.data, j, true, ws); }, ws);
}

void without_dyadic(const PrimitiveCall& c, Ws ws) {
  no_axis(c.fn_entry, ws);
  if (rd8(ws, hdr::SelectBits) & 0x01) domner(ws);
  ArrayInfo a = array_info(left_arg(ws), ws), b = array_info(right_arg(ws), ws);
  if (a.rank > 1) ranker(ws);
  const bool all = !types_can_match(a.type, b.type) || a.count == 0 || b.count == 0;
  if (a.type == ET_NESTED) {
    // The kept items are named again on every run of the walk: the search
    // keeps nothing between runs.
    std::uint32_t kept = a.count;
    if (!all) {
      kept = 0;
      each_found(b, a, false, [&](std::uint32_t) { ++kept; }, ws);
    }
    const PickWalk walk = [&](const std::function<void(const Pick&)>& pick) {
      const ArrayInfo l = array_info(left_arg(ws), ws), r = array_info(right_arg(ws), ws);
      if (all) {
        for (std::uint32_t j = 0; j < l.count; ++j) pick(Pick{j, true, false});
        return;
      }
      each_found(r, l, false, [&](std::uint32_t j) { pick(Pick{j, true, false}); }, ws);
    };
    result_from_picks({kept}, walk, true, ws);
    return;
  }
  const ArrayInfo z = new_simple_at_top({a.count}, a.type, ws);
  a = array_info(left_arg(ws), ws);
  b = array_info(right_arg(ws), ws);
  if (all) {
    const std::uint64_t bytes = a.type == ET_BOOL ? 4 * ((std::uint64_t(a.count) + 31) / 32)
                                                  : std::uint64_t(elem_bytes(a.type)) * a.count;
    std::memcpy(ws + z.data, ws + a.data, bytes);
    if (a.type == ET_BOOL && a.count % 32) {
      // A scalar's word may hold bits after its one element.
      const std::uint32_t last = z.data + 4 * (a.count / 32);
      wr32(ws, last, rd32(ws, last) & ~(0xFFFFFFFFu >> (a.count % 32)));
    }
    return;
  }
  SearchSink sink{SearchUse::Without, z, 0, 0};
  if (b.type != ET_NESTED) {
    search_simple(b, a, sink, ws);
  } else {
    each_found(b, a, false, [&](std::uint32_t j) {
      put_elem(z, sink.kept++, elem_at(a, j, ws), ws);
    }, ws);
  }
  cut_result_vector(z, sink.kept, ws);
}

}  // namespace zema
