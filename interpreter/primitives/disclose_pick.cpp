// ⊃R (disclose), L⊃R (pick) and ↑R (first). Pick and first copy one item
// out of an argument; disclose lays R's items side by side in one array.
// A simple disclose result is filled with its fill and each item's rows
// are copied into place (a block copy when the types agree); a nested one
// is sized item by item and then written in the result's order, straight
// into the workspace.
#include "interpreter/primitives/disclose_pick.h"

#include <cstring>
#include <vector>

#include "interpreter/workspace/sysvar_slots.h"
#include "interpreter/primitives/args.h"
#include "interpreter/primitives/structural.h"
#include "interpreter/workspace/entry.h"
#include "interpreter/workspace/errors.h"

namespace zema {

namespace {

constexpr std::uint32_t kMaxRank = 63;

constexpr std::uint32_t round4(std::uint32_t n) { return (n + 3) & ~3u; }

// The prototype object an empty nested array carries, or 0.
std::uint32_t carried_prototype(const ArrayInfo& a, Ws ws) {
  return rd32(ws, a.off + obj::Size) >= a.data - a.off + 12 ? a.data : 0;
}

// Item i of a nested array.
std::uint32_t item_at(const ArrayInfo& a, std::uint32_t i, Ws ws) { return a.off + rd32(ws, a.data + 4 * i); }

// Pushes a copy of the array lying `rel` bytes after the start of R as the
// result.
void copy_as_result(std::uint32_t rel, Ws ws) {
  std::uint32_t src = right_arg(ws) + rel;
  const ArrayInfo a = array_info(src, ws);
  const std::uint32_t size = rd32(ws, src + obj::Size);
  const std::uint32_t head = a.data - a.off;
  const std::uint32_t extra = a.type == ET_NESTED ? round4(size) - head - 4 * a.count : 0;
  need_room(std::uint64_t(size) + 16, ws);
  const std::uint32_t z = oprslt(a.count, 4 * a.rank, a.type, extra, ws) - obj::Shape;
  src = right_arg(ws) + rel;
  const std::uint32_t room = rd32(ws, z + obj::Size);
  const std::uint32_t n = size < room ? size : room;
  std::memmove(ws + z + obj::Shape, ws + src + obj::Shape, n - obj::Shape);
  if (room > n) std::memset(ws + z + n, 0, room - n);
}

// Pushes the scalar holding element i of the simple array lying `rel` bytes
// after the start of R, of that array's type.
void element_as_result(std::uint32_t rel, std::uint32_t i, Ws ws) {
  const Elem e = elem_at(array_info(right_arg(ws) + rel, ws), i, ws);
  const ArrayInfo z = new_simple({}, e.type, ws);
  put_elem(z, 0, e, ws);
}

// ---- disclose --------------------------------------------------------------------

// The kind a disclose result takes from the items' types: the first item's,
// then characters with anything else, or a nested item, make it nested;
// numbers take the widest. References and 16-byte elements hold only their
// own kind: with numbers they are DOMAIN ERROR, as no number converts to them.
std::uint8_t joined_kind(std::uint8_t common, std::uint8_t t, Ws ws) {
  if (common == 0) return t;
  if (common == ET_NESTED || t == ET_NESTED) return ET_NESTED;
  if ((common == ET_CHAR) != (t == ET_CHAR)) return ET_NESTED;
  if (common == t) return common;
  if (is_numeric(common) && is_numeric(t)) return common > t ? common : t;
  domner(ws);
}

// What the items of R are like: the result kind, the common rank of the
// non-scalar items and the largest length on each of their axes (at least
// 1 when there is a scalar item, which takes one position); whether every
// item has the same shape (then no item is padded).
struct ItemsFacts {
  std::uint8_t kind = 0;
  std::uint32_t rank = 0;
  std::uint32_t longest[kMaxRank] = {};
  bool ranked = false;  // a non-scalar item has been seen
  bool uniform = true;
  bool scalar = false;      // a scalar item has been seen
  std::uint32_t first = 0;  // the first item seen
};

void visit_item(ItemsFacts& f, std::uint32_t item, Ws ws) {
  const std::uint8_t type = rd8(ws, item + obj::Type);
  if (type != f.kind) f.kind = joined_kind(f.kind, type, ws);
  const std::uint32_t rank = rd16(ws, item + obj::Rank4) / 4;
  if (f.first == 0) {
    f.first = item;
  } else if (f.uniform) {
    f.uniform = rank == rd16(ws, f.first + obj::Rank4) / 4 &&
                std::memcmp(ws + item + obj::Shape, ws + f.first + obj::Shape, 4 * rank) == 0;
  }
  if (rank == 0) {
    f.scalar = true;
    return;
  }
  if (!f.ranked) {
    f.ranked = true;
    f.rank = rank;
  } else if (rank != f.rank) {
    ranker(ws);
  }
  for (std::uint32_t k = 0; k < rank; ++k) {
    const std::uint32_t len = rd32(ws, item + obj::Shape + 4 * k);
    if (len > f.longest[k]) f.longest[k] = len;
  }
}

// The fill of an item's padding: for a nested item the object whose
// prototype fills (its first item, or the prototype it carries; 0 for
// none, which fills with a boolean zero), for a simple one a scalar kind.
struct Fill {
  std::uint32_t object = 0;
  std::uint8_t kind = ET_BOOL;  // when `object` is 0
};
Fill fill_of(const ArrayInfo& item, Ws ws) {
  Fill f;
  if (item.type == ET_NESTED) f.object = item.count > 0 ? item_at(item, 0, ws) : carried_prototype(item, ws);
  else if (item.type == ET_CHAR) f.kind = ET_CHAR;
  return f;
}
std::uint32_t fill_bytes(const Fill& f, Ws ws) {
  if (!f.object) return scalar_item_bytes(f.kind);
  bool deep = false;
  const std::uint32_t n = prototype_bytes(ws + f.object, 0, deep);
  if (deep) depth_error(ws);
  return n;
}
std::uint32_t put_fill(std::uint32_t at, const Fill& f, Ws ws) {
  if (f.object) return write_prototype(ws + f.object, ws + at, 0);
  Elem e;
  e.type = f.kind;
  e.i = f.kind == ET_CHAR ? blank_char() : 0;
  return put_scalar_item(at, e, ws);
}

// How R's items map onto the result: result axis `item_axis[b]` carries
// item axis b, result axis `outer_axis[a]` carries R's axis a.
struct Layout {
  std::uint32_t rank = 0;  // result rank
  std::uint32_t shape[kMaxRank] = {};
  std::uint64_t stride[kMaxRank] = {};
  std::uint32_t item_axis[kMaxRank] = {};
  std::uint32_t outer_axis[kMaxRank] = {};
};

// Copies `n` elements of the simple array `src` from element `from` into
// `z` from element `to`, `step` elements apart, converting to z's type.
void copy_run(const ArrayInfo& src, std::uint64_t from, const ArrayInfo& z, std::uint64_t to, std::uint64_t step,
              std::uint32_t n, Ws ws) {
  if (src.type == z.type && z.type != ET_BOOL && step == 1) {
    const std::uint32_t w = elem_bytes(z.type);
    std::memcpy(ws + z.data + to * w, ws + src.data + from * w, std::uint64_t(n) * w);
    return;
  }
  if (z.type == ET_FLOAT && src.type == ET_INT) {
    for (std::uint32_t e = 0; e < n; ++e) {
      const double d = rdi32(ws, src.data + 4 * (from + e));
      std::memcpy(ws + z.data + 8 * (to + e * step), &d, 8);
    }
    return;
  }
  if (src.type == ET_BOOL) {
    for (std::uint32_t e = 0; e < n; ++e)
      if (bit_at(src.data, from + e, ws)) {
        Elem one;
        one.i = 1;
        put_elem(z, to + e * step, one, ws);
      }
    return;
  }
  for (std::uint32_t e = 0; e < n; ++e) put_elem(z, to + e * step, elem_at(src, from + e, ws), ws);
}

// Writes item `item` of R, whose block starts at result element `base`,
// into the simple result z (already filled).
void place_simple_item(const ArrayInfo& item, std::uint64_t base, const Layout& lay, const ArrayInfo& z, Ws ws) {
  if (item.count == 0) return;
  if (item.rank == 0) {
    copy_run(item, 0, z, base, 1, 1, ws);
    return;
  }
  const std::uint32_t m = item.rank;
  const std::uint32_t row = dim(item, m - 1, ws);
  const std::uint64_t step = lay.stride[lay.item_axis[m - 1]];
  std::uint32_t at[kMaxRank] = {};
  const std::uint32_t rows = item.count / row;
  for (std::uint32_t r = 0; r < rows; ++r) {
    std::uint64_t off = base;
    for (std::uint32_t b = 0; b + 1 < m; ++b) off += at[b] * lay.stride[lay.item_axis[b]];
    copy_run(item, std::uint64_t(r) * row, z, off, step, row, ws);
    for (std::uint32_t b = m - 1; b-- > 0;) {
      if (++at[b] < dim(item, b, ws)) break;
      at[b] = 0;
    }
  }
}

// Steps an odometer over `shape` (`rank` axes, the last fastest).
void advance(std::uint32_t* at, const std::uint32_t* shape, std::uint32_t rank) {
  for (std::uint32_t k = rank; k-- > 0;) {
    if (++at[k] < shape[k]) return;
    at[k] = 0;
  }
}

// The result element where the block of R's item at `outer` (R's index) starts.
std::uint64_t block_base(const std::uint32_t* outer, std::uint32_t r_rank, const Layout& lay) {
  std::uint64_t base = 0;
  for (std::uint32_t a = 0; a < r_rank; ++a) base += outer[a] * lay.stride[lay.outer_axis[a]];
  return base;
}

// The simple result. When the items' axes are the last ones, an item of the
// result's type and rank is its block's data (every item of one shape) or
// its rows' data, copied whole; anything else goes row by row.
void disclose_simple(const Layout& lay, const ItemsFacts& f, bool last_axes, Ws ws) {
  const std::uint8_t kind = f.kind;
  const std::vector<std::uint32_t> shape(lay.shape, lay.shape + lay.rank);
  ArrayInfo z;
  if (f.uniform && kind != ET_BOOL) {
    // Every element is written below: only the padding after the last is cleared.
    const std::uint32_t count = checked_count(shape, ws);
    const std::uint32_t first = oprslt(count, 4 * lay.rank, kind, 0, ws);
    for (std::uint32_t k = 0; k < lay.rank; ++k) wr32(ws, first + 4 * k, lay.shape[k]);
    z = array_info(first - obj::Shape, ws);
    const std::uint32_t end = z.off + rd32(ws, z.off + obj::Size);
    const std::uint32_t used = z.data + count * elem_bytes(kind);
    if (end > used) std::memset(ws + used, 0, end - used);
  } else {
    z = new_simple(shape, kind, ws);
    if (kind == ET_CHAR) std::memset(ws + z.data, blank_char(), z.count);
  }
  if (z.count == 0) return;
  const ArrayInfo r = array_info(right_arg(ws), ws);
  const std::uint32_t m = f.rank;
  const std::uint32_t w = elem_bytes(kind);
  const bool blocks = last_axes && kind != ET_BOOL && m > 0;
  std::uint64_t block = 1;
  for (std::uint32_t b = 0; b < m; ++b) block *= f.longest[b];
  std::uint32_t outer[kMaxRank] = {};
  std::uint32_t rs[kMaxRank] = {};
  for (std::uint32_t a = 0; a < r.rank; ++a) rs[a] = dim(r, a, ws);
  for (std::uint32_t i = 0; i < r.count; ++i) {
    if ((i & 0xFFF) == 0xFFF) check_attention(ws);
    const std::uint32_t it = item_at(r, i, ws);
    if (blocks && rd8(ws, it + obj::Type) == kind && rd16(ws, it + obj::Rank4) == 4 * m) {
      std::uint8_t* to = ws + z.data + i * block * w;
      const std::uint8_t* from = ws + it + obj::Shape + 4 * m;
      if (f.uniform) {
        std::memcpy(to, from, block * w);
        continue;
      }
      if (m == 1) {
        std::memcpy(to, from, std::uint64_t(rd32(ws, it + obj::Shape)) * w);
        continue;
      }
    }
    place_simple_item(array_info(it, ws), last_axes ? i * block : block_base(outer, r.rank, lay), lay, z, ws);
    if (!last_axes) advance(outer, rs, r.rank);
  }
}

// The nested result: every position holds a copy of its item's element
// (an element of a simple item as a scalar) or, outside the item, the
// item's fill.
void disclose_nested(const Layout& lay, std::uint32_t item_rank, Ws ws) {
  ArrayInfo r = array_info(right_arg(ws), ws);
  std::uint64_t block = 1;  // positions of one item's block
  for (std::uint32_t b = 0; b < item_rank; ++b) block *= lay.shape[lay.item_axis[b]];
  std::uint64_t extra = 0;
  for (std::uint32_t i = 0; i < r.count; ++i) {
    const ArrayInfo it = array_info(item_at(r, i, ws), ws);
    std::uint64_t inside = 0;
    if (it.type == ET_NESTED) {
      for (std::uint32_t e = 0; e < it.count; ++e) inside += round4(rd32(ws, item_at(it, e, ws) + obj::Size));
    } else {
      inside = std::uint64_t(it.count) * scalar_item_bytes(it.type);
    }
    const std::uint64_t outside = block - it.count;
    extra += inside + (outside ? outside * fill_bytes(fill_of(it, ws), ws) : 0);
    if (extra > 0xF0000000u) xwsfll(ws);
  }
  std::vector<std::uint32_t> shape(lay.shape, lay.shape + lay.rank);
  const std::uint32_t count = checked_count(shape, ws);
  need_room(4ull * count + extra, ws);
  const std::uint32_t first = oprslt(count, 4 * lay.rank, ET_NESTED, static_cast<std::uint32_t>(extra), ws);
  for (std::uint32_t k = 0; k < lay.rank; ++k) wr32(ws, first + 4 * k, lay.shape[k]);
  const ArrayInfo z = array_info(first - obj::Shape, ws);
  r = array_info(right_arg(ws), ws);
  // Which result axes are R's, and where each of R's axes steps R's ravel.
  std::uint32_t r_axis_of[kMaxRank];
  std::uint32_t item_b_of[kMaxRank];
  for (std::uint32_t k = 0; k < lay.rank; ++k) r_axis_of[k] = item_b_of[k] = kMaxRank;
  for (std::uint32_t a = 0; a < r.rank; ++a) r_axis_of[lay.outer_axis[a]] = a;
  for (std::uint32_t b = 0; b < item_rank; ++b) item_b_of[lay.item_axis[b]] = b;
  std::uint32_t r_stride[kMaxRank];
  for (std::uint32_t a = r.rank, s = 1; a-- > 0;) {
    r_stride[a] = s;
    s *= dim(r, a, ws);
  }
  std::uint32_t at[kMaxRank] = {};
  std::uint32_t pos = z.data + 4 * count;
  for (std::uint32_t k = 0; k < count; ++k) {
    if ((k & 0xFFF) == 0xFFF) check_attention(ws);
    std::uint32_t ri = 0;
    std::uint32_t coord[kMaxRank] = {};
    for (std::uint32_t j = 0; j < lay.rank; ++j) {
      if (r_axis_of[j] != kMaxRank) ri += at[j] * r_stride[r_axis_of[j]];
      else coord[item_b_of[j]] = at[j];
    }
    const ArrayInfo it = array_info(item_at(r, ri, ws), ws);
    bool inside = true;
    std::uint32_t e = 0;
    if (it.rank == 0) {
      for (std::uint32_t b = 0; b < item_rank; ++b) inside = inside && coord[b] == 0;
    } else {
      for (std::uint32_t b = 0; b < item_rank; ++b) {
        const std::uint32_t len = dim(it, b, ws);
        inside = inside && coord[b] < len;
        e = e * len + coord[b];
      }
    }
    wr32(ws, z.data + 4 * k, pos - z.off);
    if (!inside) {
      pos += put_fill(pos, fill_of(it, ws), ws);
    } else if (it.type == ET_NESTED) {
      const std::uint32_t sub = item_at(it, e, ws);
      const std::uint32_t size = rd32(ws, sub + obj::Size);
      std::memmove(ws + pos, ws + sub, size);
      std::memset(ws + pos, 0, 4);
      std::memset(ws + pos + size, 0, round4(size) - size);
      pos += round4(size);
    } else {
      pos += put_scalar_item(pos, elem_at(it, e, ws), ws);
    }
    advance(at, lay.shape, lay.rank);
  }
}

// An empty nested result carrying the fill of the item at `rel` bytes after
// R's start (a simple scalar fill gives the simple empty array of its kind).
void disclose_empty_nested(const std::vector<std::uint32_t>& shape, std::uint32_t rel, Ws ws) {
  const Fill f = fill_of(array_info(right_arg(ws) + rel, ws), ws);
  if (!f.object || (rd16(ws, f.object + obj::Rank4) == 0 && rd8(ws, f.object + obj::Type) != ET_NESTED)) {
    new_simple(shape, f.object ? rd8(ws, f.object + obj::Type) : f.kind, ws);
    return;
  }
  const std::uint32_t fill_rel = f.object - right_arg(ws);
  const std::uint32_t bytes = fill_bytes(f, ws);
  need_room(bytes, ws);
  const std::uint32_t first = oprslt(0, 4 * static_cast<std::uint32_t>(shape.size()), ET_NESTED, bytes, ws);
  for (std::size_t k = 0; k < shape.size(); ++k) wr32(ws, first + 4 * k, shape[k]);
  Fill again;
  again.object = right_arg(ws) + fill_rel;
  put_fill(first + 4 * static_cast<std::uint32_t>(shape.size()), again, ws);
}

}  // namespace

void disclose_monadic(const PrimitiveCall& c, Ws ws) {
  const AxisList ax = multiple_axis(c.fn_entry, c.flags, kMaxRank, ws);
  const ArrayInfo r = array_info(right_arg(ws), ws);
  if (r.type != ET_NESTED) {
    if (ax.given) axis_error(ws);
    copy_as_result(0, ws);
    return;
  }
  // Every item is visited; an empty R stands for its prototype item.
  ItemsFacts f;
  std::uint32_t first_rel = 0;  // the first item visited, from R's start
  if (r.count > 0) {
    first_rel = item_at(r, 0, ws) - r.off;
    for (std::uint32_t i = 0; i < r.count; ++i) {
      if ((i & 0xFFF) == 0xFFF) check_attention(ws);
      visit_item(f, item_at(r, i, ws), ws);
    }
  } else if (const std::uint32_t p = carried_prototype(r, ws)) {
    first_rel = p - r.off;
    visit_item(f, p, ws);
  } else {
    f.kind = ET_BOOL;
  }
  Layout lay;
  const std::uint32_t m = f.rank;
  if (f.scalar)
    for (std::uint32_t b = 0; b < m; ++b) f.longest[b] = f.longest[b] > 0 ? f.longest[b] : 1;
  if (ax.given && ax.k.size() != m) axis_error(ws);
  if (r.rank + m > kMaxRank) limit_error(ws);
  lay.rank = r.rank + m;
  for (std::uint32_t b = 0; b < m; ++b) {
    lay.item_axis[b] = ax.given ? ax.k[b] : r.rank + b;
    if (lay.item_axis[b] >= lay.rank) axis_error(ws);
  }
  bool taken[kMaxRank] = {};
  for (std::uint32_t b = 0; b < m; ++b) {
    taken[lay.item_axis[b]] = true;
    lay.shape[lay.item_axis[b]] = f.longest[b];
  }
  for (std::uint32_t j = 0, a = 0; j < lay.rank; ++j)
    if (!taken[j]) {
      lay.outer_axis[a] = j;
      lay.shape[j] = dim(r, a, ws);
      ++a;
    }
  std::vector<std::uint32_t> shape(lay.shape, lay.shape + lay.rank);
  const std::uint32_t count = checked_count(shape, ws);
  for (std::uint32_t k = lay.rank, s = 1; k-- > 0;) {
    lay.stride[k] = s;
    s *= lay.shape[k];
  }
  if (f.kind != ET_NESTED) {
    bool last_axes = true;
    for (std::uint32_t b = 0; b < m; ++b) last_axes = last_axes && lay.item_axis[b] == r.rank + b;
    disclose_simple(lay, f, last_axes, ws);
    return;
  }
  if (count == 0) {
    disclose_empty_nested(shape, first_rel, ws);
    return;
  }
  disclose_nested(lay, m, ws);
}

// ---- pick and first ----------------------------------------------------------------

void pick_dyadic(const PrimitiveCall& c, Ws ws) {
  no_axis(c.fn_entry, ws);
  const ArrayInfo l = array_info(left_arg(ws), ws);
  const ArrayInfo r = array_info(right_arg(ws), ws);
  if (l.count == 0) {
    copy_as_result(0, ws);
    return;
  }
  if (l.rank > 1) ranker(ws);
  const std::int32_t io = quad_io(ws);
  ArrayInfo cur = r;  // the array the next index selects in
  for (std::uint32_t step = 0; step < l.count; ++step) {
    std::uint64_t offset = 0;
    // Wide arithmetic: the lowest integer less ⎕IO lies below the 32-bit range.
    const auto index = [&](std::int32_t v, std::uint32_t len) {
      const std::int64_t i = std::int64_t{v} - io;
      if (i < 0 || i >= std::int64_t{len}) indxer(ws);
      return static_cast<std::uint32_t>(i);
    };
    if (l.type == ET_NESTED) {
      const ArrayInfo path = array_info(item_at(l, step, ws), ws);
      if (!is_numeric(path.type)) domner(ws);
      if (path.rank > 1) ranker(ws);
      if (path.count != cur.rank) domner(ws);
      for (std::uint32_t k = 0; k < cur.rank; ++k) offset = offset * dim(cur, k, ws) + index(int_at(path, k, ws), dim(cur, k, ws));
    } else {
      if (cur.rank != 1) ranker(ws);
      offset = index(int_at(l, step, ws), cur.count);
    }
    const auto at = static_cast<std::uint32_t>(offset);
    const bool last = step + 1 == l.count;
    if (cur.type != ET_NESTED) {
      if (!last) lener(ws);
      element_as_result(cur.off - r.off, at, ws);
      return;
    }
    cur = array_info(item_at(cur, at, ws), ws);
    if (last) {
      copy_as_result(cur.off - r.off, ws);
      return;
    }
  }
}

void first_monadic(const PrimitiveCall& c, Ws ws) {
  no_axis(c.fn_entry, ws);
  const ArrayInfo r = array_info(right_arg(ws), ws);
  if (r.type == ET_NESTED) {
    std::uint32_t item = r.count > 0 ? item_at(r, 0, ws) : carried_prototype(r, ws);
    if (item == 0) {
      new_simple({0}, ET_INT, ws);
      return;
    }
    copy_as_result(item - r.off, ws);
    return;
  }
  if (r.count > 0) {
    element_as_result(0, 0, ws);
    return;
  }
  const ArrayInfo z = new_simple({}, r.type, ws);
  if (r.type == ET_CHAR) wr8(ws, z.data, blank_char());
}

}  // namespace zema
