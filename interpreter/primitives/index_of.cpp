// ⍳R (index generator) and L⍳R (index of). Simple arguments go to the
// searches of value_search.h; two nested arguments are hashed when the table
// pays (search_hash.h); anything else is compared item by item, under ⎕CT
// (nested items by match).
#include <algorithm>
#include <cstring>
#include <vector>

#include "interpreter/primitives/args.h"
#include "interpreter/workspace/entry.h"
#include "interpreter/workspace/errors.h"
#include "interpreter/primitives/search_hash.h"
#include "interpreter/primitives/structural.h"
#include "interpreter/primitives/value_search.h"
#include "interpreter/workspace/sysvar_slots.h"

namespace zema {

void iota_monadic(const PrimitiveCall& c, Ws ws) {
  no_axis(c.fn_entry, ws);
  const ArrayInfo r = array_info(right_arg(ws), ws);
  if (r.type == ET_NESTED || r.type == ET_OBJREF || r.type == ET_CHAR) domner(ws);
  if (r.count != 1) ranker(ws);
  const std::int32_t n = int_at(r, 0, ws);
  if (n < 0) domner(ws);
  const std::int32_t io = quad_io(ws);
  const ArrayInfo z = new_simple({static_cast<std::uint32_t>(n)}, ET_INT, ws);
  for (std::int32_t i = 0; i < n; ++i) wr32(ws, z.data + 4 * i, static_cast<std::uint32_t>(io + i));
}

namespace {

bool item_is_simple_scalar(const ArrayInfo& a, std::uint32_t i, Ws ws, Elem& out) {
  const ArrayInfo it = array_info(a.off + rd32(ws, a.data + 4 * i), ws);
  if (it.type == ET_NESTED || it.rank != 0) return false;
  out = elem_at(it, 0, ws);
  return true;
}

}  // namespace

void index_of_dyadic(const PrimitiveCall& c, Ws ws) {
  no_axis(c.fn_entry, ws);
  ArrayInfo l = array_info(left_arg(ws), ws);
  if (l.rank != 1) ranker(ws);
  ArrayInfo r = array_info(right_arg(ws), ws);
  const std::int32_t io = quad_io(ws);
  const ArrayInfo z = new_simple(shape_of(r, ws), ET_INT, ws);
  l = array_info(left_arg(ws), ws);
  r = array_info(right_arg(ws), ws);
  if (r.count == 0) return;
  if (l.count == 0) {
    for (std::uint32_t j = 0; j < r.count; ++j) wr32(ws, z.data + 4 * j, static_cast<std::uint32_t>(io));
    return;
  }
  if (l.type != ET_NESTED && r.type != ET_NESTED) {
    SearchSink sink{SearchUse::Index, z, io, 0};
    return search_simple(l, r, sink, ws);
  }
  if (l.type == ET_NESTED && r.type == ET_NESTED && index_nested_hashed(l, r, z, io, ws)) return;
  const double ct = ct_value(ws);
  for (std::uint32_t j = 0; j < r.count; ++j) {
    if ((j & 0xFF) == 0) check_attention(ws);
    std::uint32_t found = l.count;
    if (l.type == ET_NESTED && r.type == ET_NESTED) {
      const std::uint32_t ri = r.off + rd32(ws, r.data + 4 * j);
      for (std::uint32_t i = 0; i < l.count && found == l.count; ++i)
        if (arrays_match(l.off + rd32(ws, l.data + 4 * i), ri, ws)) found = i;
    } else if (l.type == ET_NESTED) {
      const Elem v = elem_at(r, j, ws);
      Elem e;
      for (std::uint32_t i = 0; i < l.count && found == l.count; ++i)
        if (item_is_simple_scalar(l, i, ws, e) && elem_equal(e, v, ct)) found = i;
    } else {
      Elem v;
      if (item_is_simple_scalar(r, j, ws, v))
        for (std::uint32_t i = 0; i < l.count && found == l.count; ++i)
          if (elem_equal(elem_at(l, i, ws), v, ct)) found = i;
    }
    wr32(ws, z.data + 4 * j, static_cast<std::uint32_t>(io) + found);
  }
}

}  // namespace zema
