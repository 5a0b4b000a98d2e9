// ≡R (depth), L≡R (match) and ⊂R (enclose without axis).
#include <cstring>

#include "interpreter/primitives/args.h"
#include "interpreter/workspace/errors.h"
#include "interpreter/primitives/structural.h"

namespace zema {

namespace {

constexpr std::int16_t kDepthBudget = 100;

void take_level(Ws ws) {
  const std::int16_t budget = rdi16(ws, hdr::DepthBudget);
  if (budget < 1) depth_error(ws);
  wr16(ws, hdr::DepthBudget, static_cast<std::uint16_t>(budget - 1));
}
void give_level(Ws ws) { wr16(ws, hdr::DepthBudget, static_cast<std::uint16_t>(rdi16(ws, hdr::DepthBudget) + 1)); }

// The prototype an empty nested array carries, or 0.
std::uint32_t carried_prototype(const ArrayInfo& a, Ws ws) {
  return rd32(ws, a.off + obj::Size) >= a.data - a.off + 12 ? a.data : 0;
}

std::int32_t depth_of(std::uint32_t off, Ws ws) {
  take_level(ws);
  const ArrayInfo a = array_info(off, ws);
  std::int32_t d = 0;
  if (a.type != ET_NESTED) {
    d = a.rank == 0 ? 0 : 1;
  } else if (a.count > 0) {
    std::int32_t most = 0;
    for (std::uint32_t i = 0; i < a.count; ++i) {
      const std::int32_t k = depth_of(off + rd32(ws, a.data + 4 * i), ws);
      if (k > most) most = k;
    }
    d = 1 + most;
  } else if (const std::uint32_t p = carried_prototype(a, ws)) {
    d = 1 + depth_of(p, ws);
  }
  give_level(ws);
  return d;
}

bool match_rec(std::uint32_t x, std::uint32_t y, Ws ws) {
  const ArrayInfo a = array_info(x, ws), b = array_info(y, ws);
  if (a.rank != b.rank) return false;
  for (std::uint32_t k = 0; k < a.rank; ++k)
    if (dim(a, k, ws) != dim(b, k, ws)) return false;
  if ((a.type == ET_NESTED) != (b.type == ET_NESTED)) return false;
  if (a.type == ET_NESTED) {
    take_level(ws);
    bool same = true;
    if (a.count > 0) {
      for (std::uint32_t i = 0; i < a.count && same; ++i)
        same = match_rec(x + rd32(ws, a.data + 4 * i), y + rd32(ws, b.data + 4 * i), ws);
    } else {
      const std::uint32_t pa = carried_prototype(a, ws), pb = carried_prototype(b, ws);
      same = (pa == 0 && pb == 0) || (pa && pb && match_rec(pa, pb, ws));
    }
    give_level(ws);
    return same;
  }
  const bool ca = a.type == ET_CHAR, cb = b.type == ET_CHAR;
  if (ca != cb) return false;
  if (ca) return std::memcmp(ws + a.data, ws + b.data, a.count) == 0;
  if ((a.type == ET_OBJREF) != (b.type == ET_OBJREF)) return false;
  if (a.count == 0) return true;
  if (a.type == b.type && a.type != ET_FLOAT) {
    if (a.type == ET_BOOL) {
      for (std::uint32_t i = 0; i < a.count; ++i)
        if (bit_at(a.data, i, ws) != bit_at(b.data, i, ws)) return false;
      return true;
    }
    return std::memcmp(ws + a.data, ws + b.data, std::uint64_t(a.count) * elem_bytes(a.type)) == 0;
  }
  const double ct = ct_value(ws);
  for (std::uint32_t i = 0; i < a.count; ++i)
    if (!elem_equal(elem_at(a, i, ws), elem_at(b, i, ws), ct)) return false;
  return true;
}

}  // namespace

bool arrays_match(std::uint32_t a, std::uint32_t b, Ws ws) {
  wr16(ws, hdr::DepthBudget, kDepthBudget);
  return match_rec(a, b, ws);
}

void depth_monadic(const PrimitiveCall& c, Ws ws) {
  no_axis(c.fn_entry, ws);
  wr16(ws, hdr::DepthBudget, kDepthBudget);
  const std::int32_t d = depth_of(right_arg(ws), ws);
  const ArrayInfo z = new_simple({}, ET_INT, ws);
  wr32(ws, z.data, static_cast<std::uint32_t>(d));
}

void match_dyadic(const PrimitiveCall& c, Ws ws) {
  no_axis(c.fn_entry, ws);
  const bool same = arrays_match(left_arg(ws), right_arg(ws), ws);
  const ArrayInfo z = new_simple({}, ET_BOOL, ws);
  wr32(ws, z.data, same ? 0x80000000u : 0);
}

void enclose_monadic(const PrimitiveCall& c, Ws ws) {
  if (axis_of(c.fn_entry, ws).given || (c.flags & pf::FromDerived)) {
    enclose_axis(c, ws);
    return;
  }
  const ArrayInfo r = array_info(right_arg(ws), ws);
  if (r.type != ET_NESTED && r.rank == 0) {
    const Elem e = elem_at(r, 0, ws);
    const ArrayInfo z = new_simple({}, r.type, ws);
    put_elem(z, 0, e, ws);
    return;
  }
  // A nested scalar whose one item is a copy of R, made in the result.
  const std::uint32_t bytes = (rd32(ws, r.off + obj::Size) + 3) & ~3u;
  need_room(4ull + bytes, ws);
  const std::uint32_t first = oprslt(1, 0, ET_NESTED, bytes, ws);
  const std::uint32_t item = first + 4, from = right_arg(ws);
  const std::uint32_t size = rd32(ws, from + obj::Size);
  wr32(ws, first, item - (first - obj::Shape));
  std::memmove(ws + item, ws + from, size);
  std::memset(ws + item, 0, 4);
  std::memset(ws + item + size, 0, bytes - size);
}

}  // namespace zema
