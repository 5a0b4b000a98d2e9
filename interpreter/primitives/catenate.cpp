// ,R ⍪R (ravel, with an axis: a new unit axis), L,R L⍪R (catenate and
// laminate) and ∊R (enlist). Two same-typed vectors catenate as one copy.
#include <cstring>

#include "interpreter/primitives/args.h"
#include "interpreter/workspace/errors.h"
#include "interpreter/primitives/structural.h"

namespace zema {

namespace {

// The shape of ,[K]R for an axis list K: an empty list appends a unit axis;
// otherwise the axes, contiguous and ascending, merge into one.
std::vector<std::uint32_t> ravel_list_shape(const PrimitiveCall& c, const ArrayInfo& r, Ws ws) {
  std::vector<std::uint32_t> shape = shape_of(r, ws);
  const AxisList a = multiple_axis(c.fn_entry, c.flags, r.rank, ws);
  if (a.k.empty()) {
    shape.push_back(1);
    return shape;
  }
  std::uint64_t merged = 1;
  for (std::size_t j = 0; j < a.k.size(); ++j) {
    if (j > 0 && a.k[j] != a.k[j - 1] + 1) axis_error(ws);
    merged *= shape[a.k[j]];
  }
  if (merged > 0x7FFFFFFFu) xwsfll(ws);
  const std::uint32_t first = a.k.front();
  shape.erase(shape.begin() + first, shape.begin() + first + static_cast<std::ptrdiff_t>(a.k.size()));
  shape.insert(shape.begin() + first, static_cast<std::uint32_t>(merged));
  return shape;
}

}  // namespace

void ravel_monadic(const PrimitiveCall& c, Ws ws) {
  ArrayInfo r = array_info(right_arg(ws), ws);
  const Axis a = axis_of(c.fn_entry, ws);
  std::vector<std::uint32_t> shape;
  if (c.flags & pf::FromDerived) {
    shape = ravel_list_shape(c, r, ws);
  } else if (!a.given) {
    shape = {r.count};
  } else if (a.fraction) {
    shape = shape_of(r, ws);
    if (static_cast<std::uint32_t>(a.k + 1) > r.rank) axis_error(ws);
    shape.insert(shape.begin() + (a.k + 1), 1);
  } else {
    if (static_cast<std::uint32_t>(a.k) >= r.rank) axis_error(ws);
    shape = shape_of(r, ws);  // one axis merged with itself
  }
  if (r.type == ET_NESTED) {
    const std::uint32_t n = r.count;
    result_from_picks(
        shape,
        [n](const std::function<void(const Pick&)>& emit) {
          for (std::uint32_t i = 0; i < n; ++i) emit(Pick{i, false, false});
        },
        false, ws);
    return;
  }
  const ArrayInfo z = new_simple(shape, r.type, ws);
  r = array_info(right_arg(ws), ws);
  const std::uint32_t end = r.off + rd32(ws, r.off + obj::Size);
  std::memcpy(ws + z.data, ws + r.data, end - r.data);
}

namespace {

std::uint8_t joined_type(std::uint8_t a, std::uint8_t b) {
  if (a == b) return a;
  if (a == ET_CHAR || b == ET_CHAR || a == ET_OBJREF || b == ET_OBJREF) return ET_NESTED;
  return a > b ? a : b;
}

}  // namespace

void catenate_dyadic(const PrimitiveCall& c, Ws ws) {
  if (c.flags & pf::FromDerived) axis_error(ws);
  ArrayInfo l = array_info(left_arg(ws), ws);
  ArrayInfo r = array_info(right_arg(ws), ws);
  const Axis ax = axis_of(c.fn_entry, ws);
  // Two vectors (or scalars) of one simple type: one copy each.
  if (!ax.given && l.type == r.type && l.type != ET_BOOL && l.type != ET_NESTED && l.rank <= 1 && r.rank <= 1) {
    const std::uint32_t width = elem_bytes(l.type);
    const std::uint64_t n = std::uint64_t(l.count) + r.count;
    if (n > 0x7FFFFFFFu) xwsfll(ws);
    const ArrayInfo z = new_simple({static_cast<std::uint32_t>(n)}, l.type, ws);
    l = array_info(left_arg(ws), ws);
    r = array_info(right_arg(ws), ws);
    std::memcpy(ws + z.data, ws + l.data, std::uint64_t(l.count) * width);
    std::memcpy(ws + z.data + std::uint64_t(l.count) * width, ws + r.data, std::uint64_t(r.count) * width);
    return;
  }
  std::vector<std::uint32_t> ls = shape_of(l, ws), rs = shape_of(r, ws);
  const std::uint32_t rank = l.rank > r.rank ? l.rank : r.rank;
  std::uint32_t axis = 0;
  bool laminate = false;
  if (ax.given) {
    if (l.rank == 0 && r.rank == 0) {
      if (!ax.fraction || ax.k != -1) axis_error(ws);
      laminate = true;
    } else if (ax.fraction) {
      if (ax.k + 1 > static_cast<std::int32_t>(rank)) axis_error(ws);
      laminate = true;
    } else if (ax.k < 0 || static_cast<std::uint32_t>(ax.k) >= rank) {
      axis_error(ws);
    }
    axis = static_cast<std::uint32_t>(ax.k + (laminate ? 1 : 0));
  } else if (l.rank == 0 && r.rank == 0) {
    laminate = true;
  } else {
    axis = (c.flags & pf::FirstAxis) ? 0 : rank - 1;
  }
  if (laminate) {
    if (l.rank != 0 && r.rank != 0) {
      if (l.rank != r.rank) ranker(ws);
      if (ls != rs) lener(ws);
    }
    if (rank + 1 > 63) limit_error(ws);
    if (l.rank) ls.insert(ls.begin() + axis, 1);
    if (r.rank) rs.insert(rs.begin() + axis, 1);
  }
  // Bring both to the result rank: a scalar spreads, a rank one lower gets a unit axis.
  const std::uint32_t zr = static_cast<std::uint32_t>(ls.size() > rs.size() ? ls.size() : rs.size());
  const std::uint32_t zrank = zr == 0 ? 1 : zr;
  auto conform = [&](std::vector<std::uint32_t>& s, const std::vector<std::uint32_t>& other) {
    if (s.empty()) {
      s = other.empty() ? std::vector<std::uint32_t>(zrank, 1) : other;
      s[axis] = 1;
    } else if (s.size() + 1 == other.size()) {
      s.insert(s.begin() + axis, 1);
    } else if (!other.empty() && s.size() != other.size() && s.size() != other.size() + 1) {
      ranker(ws);
    }
  };
  conform(ls, rs);
  conform(rs, ls);
  if (ls.size() != rs.size()) ranker(ws);
  for (std::uint32_t k = 0; k < zrank; ++k)
    if (k != axis && ls[k] != rs[k]) lener(ws);
  std::vector<std::uint32_t> zs = ls;
  const std::uint64_t along = std::uint64_t(ls[axis]) + rs[axis];
  if (along > 0x7FFFFFFFu) xwsfll(ws);
  zs[axis] = static_cast<std::uint32_t>(along);
  std::uint64_t outer = 1, inner = 1;
  for (std::uint32_t k = 0; k < axis; ++k) outer *= zs[k];
  for (std::uint32_t k = axis + 1; k < zrank; ++k) inner *= zs[k];
  const std::uint64_t lchunk = ls[axis] * inner, rchunk = rs[axis] * inner;
  // A side with length 0 along the axis adds nothing: the other side's
  // data, type and prototype make the result (R's when both add nothing).
  // Otherwise the joined type, or R's when the result is empty all the same.
  std::uint8_t type;
  bool proto_left = false;
  const std::uint32_t count = checked_count(zs, ws);
  if (ls[axis] == 0) {
    type = r.type;
  } else if (rs[axis] == 0) {
    type = l.type;
    proto_left = true;
  } else {
    type = count == 0 ? r.type : joined_type(l.type, r.type);
  }
  if (type == ET_NESTED) {
    const bool lsingle = l.count == 1, rsingle = r.count == 1;
    result_from_picks(
        zs,
        [&](const std::function<void(const Pick&)>& emit) {
          for (std::uint64_t o = 0; o < outer; ++o) {
            for (std::uint64_t i = 0; i < lchunk; ++i)
              emit(Pick{lsingle ? 0 : static_cast<std::uint32_t>(o * lchunk + i), true, false});
            for (std::uint64_t i = 0; i < rchunk; ++i)
              emit(Pick{rsingle ? 0 : static_cast<std::uint32_t>(o * rchunk + i), false, false});
          }
        },
        proto_left, ws);
    return;
  }
  const ArrayInfo z = new_simple(zs, type, ws);
  if (count == 0) return;
  l = array_info(left_arg(ws), ws);
  r = array_info(right_arg(ws), ws);
  const std::uint32_t width = elem_bytes(type);
  std::uint64_t out = 0;
  auto chunk = [&](const ArrayInfo& a, std::uint64_t n, std::uint64_t o) {
    if (a.type == type && type != ET_BOOL && a.count != 1) {
      std::memcpy(ws + z.data + out * width, ws + a.data + o * n * width, n * width);
    } else {
      for (std::uint64_t i = 0; i < n; ++i) put_elem(z, out + i, elem_at(a, a.count == 1 ? 0 : o * n + i, ws), ws);
    }
    out += n;
  };
  for (std::uint64_t o = 0; o < outer; ++o) {
    chunk(l, lchunk, o);
    chunk(r, rchunk, o);
  }
}

namespace {

// Calls leaf(a) for every simple array inside the nested array at `off`,
// depth first in ravel order.
template <class Leaf>
void enlist_walk(std::uint32_t off, int depth, Ws ws, Leaf&& leaf) {
  if (depth > 100) depth_error(ws);
  const ArrayInfo a = array_info(off, ws);
  if (a.type != ET_NESTED) {
    leaf(a);
    return;
  }
  for (std::uint32_t i = 0; i < a.count; ++i) enlist_walk(off + rd32(ws, a.data + 4 * i), depth + 1, ws, leaf);
}

}  // namespace

void enlist_monadic(const PrimitiveCall& c, Ws ws) {
  no_axis(c.fn_entry, ws);
  ArrayInfo r = array_info(right_arg(ws), ws);
  if (r.type != ET_NESTED) {
    const ArrayInfo z = new_simple({r.count}, r.type, ws);
    r = array_info(right_arg(ws), ws);
    const std::uint32_t end = r.off + rd32(ws, r.off + obj::Size);
    std::memcpy(ws + z.data, ws + r.data, end - r.data);
    return;
  }
  // First the count and kinds of the simple elements, then the result,
  // filled by a second walk: nothing is gathered outside the workspace.
  std::uint8_t type = ET_BOOL;
  bool chars = false, refs = false, nums = false;
  std::uint64_t n = 0, extra = 0;
  enlist_walk(r.off, 0, ws, [&](const ArrayInfo& a) {
    if (a.count == 0) return;
    n += a.count;
    extra += std::uint64_t(a.count) * scalar_item_bytes(a.type);
    if (a.type == ET_CHAR) chars = true;
    else if (a.type == ET_OBJREF) refs = true;
    else {
      nums = true;
      if (a.type > type) type = a.type;
    }
  });
  if (chars && !refs && !nums) type = ET_CHAR;
  else if (refs && !chars && !nums) type = ET_OBJREF;
  else if (int(chars) + int(refs) + int(nums) > 1) type = ET_NESTED;
  if (n > 0x7FFFFFFFu) xwsfll(ws);
  const auto count = static_cast<std::uint32_t>(n);
  if (type == ET_NESTED) {
    need_room(4 * n + extra, ws);
    if (extra > 0xF0000000u) xwsfll(ws);
    const std::uint32_t first = oprslt(count, 4, ET_NESTED, static_cast<std::uint32_t>(extra), ws);
    wr32(ws, first, count);
    const ArrayInfo z = array_info(first - obj::Shape, ws);
    std::uint32_t at = z.data + 4 * count, k = 0;
    enlist_walk(right_arg(ws), 0, ws, [&](const ArrayInfo& a) {
      for (std::uint32_t i = 0; i < a.count; ++i) {
        wr32(ws, z.data + 4 * k++, at - z.off);
        at += put_scalar_item(at, elem_at(a, i, ws), ws);
      }
    });
    return;
  }
  const ArrayInfo z = new_simple({count}, type, ws);
  std::uint64_t k = 0;
  enlist_walk(right_arg(ws), 0, ws, [&](const ArrayInfo& a) {
    if (a.type == type && type != ET_BOOL) {
      const std::uint64_t w = elem_bytes(type);
      std::memcpy(ws + z.data + k * w, ws + a.data, a.count * w);
    } else {
      for (std::uint32_t i = 0; i < a.count; ++i) put_elem(z, k + i, elem_at(a, i, ws), ws);
    }
    k += a.count;
  });
}

}  // namespace zema
