// ⊂[K]R (enclose along axes) and L⊂[K]R (partition). Both make a nested
// result whose items are arrays of R's elements (or copies of R's items)
// taken at computed positions. The items are described by a walk over the
// arguments, run once to learn their kinds and sizes and once more to
// write them straight into the result: nothing sized by the data is held
// outside the workspace.
#include <cstring>

#include "interpreter/primitives/args.h"
#include "interpreter/workspace/errors.h"
#include "interpreter/primitives/structural.h"

namespace zema {

namespace {

constexpr std::uint32_t round4(std::uint32_t n) { return (n + 3) & ~3u; }

// One item of the result: an array of `elems` elements whose element e is
// R's element (or item) at position `pos(e)`. Its shape is the fixed item
// shape, or, without one, a vector of `elems`.
using ElemPos = std::function<std::uint32_t(std::uint32_t)>;
using ItemVisit = std::function<void(std::uint32_t elems, const ElemPos& pos)>;
using ItemWalk = std::function<void(const ItemVisit&)>;

// The prototype of R's items, as it is stored in an empty result: R's first
// item's prototype, or the one an empty R carries (a boolean zero when it
// carries none); a blank or a boolean zero for a simple R. The object it
// comes from (0 when none) and its bytes.
std::uint32_t proto_source(const ArrayInfo& r, Ws ws) {
  if (r.type != ET_NESTED) return 0;
  if (r.count > 0) return r.off + rd32(ws, r.data);
  return rd32(ws, r.off + obj::Size) >= r.data - r.off + 12 ? r.data : 0;
}
std::uint32_t proto_bytes(const ArrayInfo& r, Ws ws) {
  const std::uint32_t src = proto_source(r, ws);
  if (!src) return scalar_item_bytes(r.type == ET_CHAR ? ET_CHAR : ET_BOOL);
  bool deep = false;
  const std::uint32_t n = prototype_bytes(ws + src, 0, deep);
  if (deep) depth_error(ws);
  return n;
}
std::uint32_t put_proto(std::uint32_t at, const ArrayInfo& r, Ws ws) {
  const std::uint32_t src = proto_source(r, ws);
  if (src) return write_prototype(ws + src, ws + at, 0);
  Elem e;
  e.type = r.type == ET_CHAR ? ET_CHAR : ET_BOOL;
  e.i = r.type == ET_CHAR ? blank_char() : 0;
  return put_scalar_item(at, e, ws);
}

// Bytes of a simple array of `rank` axes and `n` elements of `type`.
std::uint32_t simple_bytes(std::uint32_t rank, std::uint8_t type, std::uint64_t n, Ws ws) {
  const std::uint64_t data = type == ET_BOOL ? 4 * ((n + 31) / 32) : n * elem_bytes(type);
  const std::uint64_t b = obj::Shape + 4ull * rank + data;
  if (b > 0xF0000000u) xwsfll(ws);
  return round4(static_cast<std::uint32_t>(b));
}

// The simple scalar type of R's item at p (ET_NESTED when it is not a simple scalar).
std::uint8_t item_kind(const ArrayInfo& r, std::uint32_t p, Ws ws) {
  if (r.type != ET_NESTED) return r.type;
  const std::uint32_t it = r.off + rd32(ws, r.data + 4 * p);
  return rd16(ws, it + obj::Rank4) != 0 ? std::uint8_t{ET_NESTED} : rd8(ws, it + obj::Type);
}

std::uint8_t joined(std::uint8_t common, std::uint8_t t) {
  if (common == 0) return t;
  if (common == ET_NESTED || t == ET_NESTED) return ET_NESTED;
  if (is_numeric(common) && is_numeric(t)) return common > t ? common : t;
  return common == t ? common : std::uint8_t{ET_NESTED};
}

// The type an item takes: R's for a simple R; for a nested R the common
// simple type of the items it holds, else nested (an item holding none is
// nested, carrying R's prototype).
std::uint8_t item_type(const ArrayInfo& r, std::uint32_t elems, const ElemPos& pos, Ws ws) {
  if (r.type != ET_NESTED) return r.type;
  std::uint8_t common = 0;
  for (std::uint32_t e = 0; e < elems && common != ET_NESTED; ++e) common = joined(common, item_kind(r, pos(e), ws));
  return common == 0 ? std::uint8_t{ET_NESTED} : common;
}

std::uint32_t item_size(const ArrayInfo& r, std::uint32_t rank, std::uint32_t elems, const ElemPos& pos, Ws ws) {
  const std::uint8_t t = item_type(r, elems, pos, ws);
  if (t != ET_NESTED) return simple_bytes(rank, t, elems, ws);
  std::uint64_t b = obj::Shape + 4ull * rank + 4ull * elems;
  if (elems == 0) b += proto_bytes(r, ws);
  for (std::uint32_t e = 0; e < elems; ++e) b += round4(rd32(ws, r.off + rd32(ws, r.data + 4 * pos(e)) + obj::Size));
  if (b > 0xF0000000u) xwsfll(ws);
  return static_cast<std::uint32_t>(b);
}

// R's element or item at p as a simple value.
Elem scalar_at(const ArrayInfo& r, std::uint32_t p, Ws ws) {
  if (r.type != ET_NESTED) return elem_at(r, p, ws);
  const ArrayInfo it = array_info(r.off + rd32(ws, r.data + 4 * p), ws);
  return elem_at(it, 0, ws);
}

// Writes the item at `at`; answers its bytes.
std::uint32_t put_item_array(std::uint32_t at, const ArrayInfo& r, const std::vector<std::uint32_t>* fixed,
                             std::uint32_t elems, const ElemPos& pos, Ws ws) {
  const std::uint32_t rank = fixed ? static_cast<std::uint32_t>(fixed->size()) : 1;
  const std::uint8_t t = item_type(r, elems, pos, ws);
  const std::uint32_t head = obj::Shape + 4 * rank;
  std::memset(ws + at, 0, head);
  wr8(ws, at + obj::Type, t);
  wr16(ws, at + obj::Rank4, static_cast<std::uint16_t>(4 * rank));
  for (std::uint32_t k = 0; k < rank; ++k) wr32(ws, at + obj::Shape + 4 * k, fixed ? (*fixed)[k] : elems);
  std::uint32_t size;
  if (t != ET_NESTED) {
    size = simple_bytes(rank, t, elems, ws);
    std::memset(ws + at + head, 0, size - head);
    const ArrayInfo z = array_info(at, ws);
    if (r.type != ET_NESTED && t != ET_BOOL) {
      const std::uint32_t w = elem_bytes(t);
      for (std::uint32_t e = 0; e < elems; ++e) std::memcpy(ws + z.data + e * w, ws + r.data + std::uint64_t(pos(e)) * w, w);
    } else {
      for (std::uint32_t e = 0; e < elems; ++e) put_elem(z, e, scalar_at(r, pos(e), ws), ws);
    }
  } else {
    size = head + 4 * elems;
    if (elems == 0) size += put_proto(at + head, r, ws);
    for (std::uint32_t e = 0; e < elems; ++e) {
      const std::uint32_t it = r.off + rd32(ws, r.data + 4 * pos(e));
      const std::uint32_t n = rd32(ws, it + obj::Size);
      wr32(ws, at + head + 4 * e, size);
      std::memmove(ws + at + size, ws + it, n);
      std::memset(ws + at + size, 0, 4);
      std::memset(ws + at + size + n, 0, round4(n) - n);
      size += round4(n);
    }
  }
  wr32(ws, at + obj::Size, size);
  return size;
}

// Builds and pushes the nested result of `shape` (not empty) whose items
// `walk` describes. A result whose items are all simple scalars of
// compatible kinds (items of no axes) is made simple.
void items_result(const std::vector<std::uint32_t>& shape, const std::vector<std::uint32_t>* fixed, const ItemWalk& walk,
                  Ws ws) {
  const std::uint32_t count = checked_count(shape, ws);
  const std::uint32_t rank = fixed ? static_cast<std::uint32_t>(fixed->size()) : 1;
  ArrayInfo r = array_info(right_arg(ws), ws);
  std::uint64_t extra = 0;
  std::uint8_t outer = rank == 0 ? 0 : ET_NESTED;
  walk([&](std::uint32_t elems, const ElemPos& pos) {
    extra += item_size(r, rank, elems, pos, ws);
    if (outer != ET_NESTED) outer = joined(outer, item_type(r, elems, pos, ws));
  });
  if (outer != ET_NESTED) {
    const ArrayInfo z = new_simple(shape, outer, ws);
    r = array_info(right_arg(ws), ws);
    std::uint32_t k = 0;
    walk([&](std::uint32_t, const ElemPos& pos) { put_elem(z, k++, scalar_at(r, pos(0), ws), ws); });
    return;
  }
  if (extra > 0xF0000000u) xwsfll(ws);
  need_room(4ull * count + extra, ws);
  const std::uint32_t first = oprslt(count, 4 * static_cast<std::uint32_t>(shape.size()), ET_NESTED,
                                     static_cast<std::uint32_t>(extra), ws);
  for (std::size_t k = 0; k < shape.size(); ++k) wr32(ws, first + 4 * k, shape[k]);
  const ArrayInfo z = array_info(first - obj::Shape, ws);
  r = array_info(right_arg(ws), ws);
  std::uint32_t at = z.data + 4 * count, k = 0;
  walk([&](std::uint32_t elems, const ElemPos& pos) {
    wr32(ws, z.data + 4 * k++, at - z.off);
    at += put_item_array(at, r, fixed, elems, pos, ws);
  });
}

// Pushes the empty nested result of `shape` carrying a prototype of
// `bytes` bytes that `put` writes at its address.
void empty_result_with(const std::vector<std::uint32_t>& shape, std::uint32_t bytes,
                       const std::function<void(std::uint32_t)>& put, Ws ws) {
  need_room(bytes, ws);
  const std::uint32_t first = oprslt(0, 4 * static_cast<std::uint32_t>(shape.size()), ET_NESTED, bytes, ws);
  for (std::size_t k = 0; k < shape.size(); ++k) wr32(ws, first + 4 * k, shape[k]);
  put(first + 4 * static_cast<std::uint32_t>(shape.size()));
}

// Row-major strides of an array's axes.
std::vector<std::uint32_t> strides_of(const std::vector<std::uint32_t>& shape) {
  std::vector<std::uint32_t> s(shape.size(), 1);
  for (std::size_t k = shape.size(); k-- > 1;) s[k - 1] = s[k] * shape[k];
  return s;
}

// The ravel position, by `stride`, of element i of an odometer over `axes`
// of `shape` (the last varying fastest).
std::uint32_t odometer_position(std::uint32_t i, const std::vector<std::uint32_t>& axes,
                                const std::vector<std::uint32_t>& shape, const std::vector<std::uint32_t>& stride) {
  std::uint32_t pos = 0;
  for (std::size_t j = axes.size(); j-- > 0;) {
    const std::uint32_t len = shape[axes[j]];
    pos += (i % len) * stride[axes[j]];
    i /= len;
  }
  return pos;
}

}  // namespace

void enclose_axis(const PrimitiveCall& c, Ws ws) {
  const ArrayInfo r = array_info(right_arg(ws), ws);
  const AxisList ax = multiple_axis(c.fn_entry, c.flags, r.rank, ws);
  const std::vector<std::uint32_t> shape = shape_of(r, ws);
  if (ax.k.empty() && r.type != ET_NESTED) {
    // ⊂[⍬] of a simple array: the array itself.
    const ArrayInfo z = new_simple(shape, r.type, ws);
    const ArrayInfo again = array_info(right_arg(ws), ws);
    const std::uint32_t end = again.off + rd32(ws, again.off + obj::Size);
    std::memcpy(ws + z.data, ws + again.data, end - again.data);
    return;
  }
  std::vector<bool> listed(r.rank, false);
  std::vector<std::uint32_t> item_shape, rest, rest_shape;
  for (std::uint32_t k : ax.k) {
    listed[k] = true;
    item_shape.push_back(shape[k]);
  }
  for (std::uint32_t k = 0; k < r.rank; ++k)
    if (!listed[k]) {
      rest.push_back(k);
      rest_shape.push_back(shape[k]);
    }
  const std::uint32_t count = checked_count(rest_shape, ws);
  const std::uint32_t n = checked_count(item_shape, ws);
  const std::vector<std::uint32_t> stride = strides_of(shape);
  const std::uint32_t rank = static_cast<std::uint32_t>(item_shape.size());
  if (count == 0) {
    // The prototype item: of the item shape, filled as R's type fills
    // (characters blank, other simple types integer zeros; a nested R's
    // items' prototype in every position, simple when that is a simple scalar).
    std::uint8_t t = r.type == ET_CHAR ? ET_CHAR : ET_INT;
    std::uint32_t each = 0;
    if (r.type == ET_NESTED) {
      const std::uint32_t src = proto_source(r, ws);
      const bool scalar = !src || (rd16(ws, src + obj::Rank4) == 0 && rd8(ws, src + obj::Type) != ET_NESTED);
      t = scalar ? (src && rd8(ws, src + obj::Type) == ET_CHAR ? ET_CHAR : ET_BOOL) : ET_NESTED;
      if (n == 0) t = ET_NESTED;
      each = proto_bytes(r, ws);
    }
    std::uint64_t bytes = t == ET_NESTED ? obj::Shape + 4ull * rank + 4ull * n + (n == 0 ? 1ull : n) * each
                                         : simple_bytes(rank, t, n, ws);
    if (bytes > 0xF0000000u) xwsfll(ws);
    empty_result_with(
        rest_shape, static_cast<std::uint32_t>(bytes),
        [&](std::uint32_t at) {
          const ArrayInfo a = array_info(right_arg(ws), ws);
          const std::uint32_t head = obj::Shape + 4 * rank;
          std::memset(ws + at, 0, head);
          wr32(ws, at + obj::Size, static_cast<std::uint32_t>(bytes));
          wr8(ws, at + obj::Type, t);
          wr16(ws, at + obj::Rank4, static_cast<std::uint16_t>(4 * rank));
          for (std::uint32_t k = 0; k < rank; ++k) wr32(ws, at + obj::Shape + 4 * k, item_shape[k]);
          if (t == ET_CHAR) {
            std::memset(ws + at + head, blank_char(), n);
            std::memset(ws + at + head + n, 0, static_cast<std::uint32_t>(bytes) - head - n);
          } else if (t != ET_NESTED) {
            std::memset(ws + at + head, 0, static_cast<std::uint32_t>(bytes) - head);
          } else if (n == 0) {
            put_proto(at + head, a, ws);
          } else {
            std::uint32_t off = head + 4 * n;
            for (std::uint32_t e = 0; e < n; ++e) {
              wr32(ws, at + head + 4 * e, off);
              off += put_proto(at + off, a, ws);
            }
          }
        },
        ws);
    return;
  }
  items_result(
      rest_shape, &item_shape,
      [&](const ItemVisit& visit) {
        for (std::uint32_t i = 0; i < count; ++i) {
          const std::uint32_t base = odometer_position(i, rest, shape, stride);
          visit(n, [&](std::uint32_t e) { return base + odometer_position(e, ax.k, shape, stride); });
        }
      },
      ws);
}

void partition_dyadic(const PrimitiveCall& c, Ws ws) {
  ArrayInfo l = array_info(left_arg(ws), ws);
  const ArrayInfo r = array_info(right_arg(ws), ws);
  if (r.rank == 0) ranker(ws);
  std::uint32_t len = 0;
  const std::uint32_t axis = whole_axis(c, r, len, ws);
  // L's values are checked, and the partitions counted: a partition starts
  // where a value is non-zero and above the one before it.
  std::uint64_t parts = 0;
  {
    std::int64_t before = -1;
    for (std::uint32_t i = 0; i < l.count; ++i) {
      const std::int32_t v = int_at(l, i, ws);
      if (v < 0) domner(ws);
      parts += v != 0 && v > before;
      before = v;
    }
  }
  if (l.count != 1) {
    if (l.rank != 1) ranker(ws);
    if (l.count != len) lener(ws);
  } else {
    parts = len == 0 || int_at(l, 0, ws) == 0 ? 0 : 1;
  }
  std::vector<std::uint32_t> shape = shape_of(r, ws);
  shape[axis] = static_cast<std::uint32_t>(parts);
  const std::uint32_t count = checked_count(shape, ws);
  if (count == 0) {
    empty_result_with(shape, proto_bytes(r, ws), [&](std::uint32_t at) { put_proto(at, array_info(right_arg(ws), ws), ws); },
                      ws);
    return;
  }
  std::uint32_t outer = 1, inner = 1;
  for (std::uint32_t k = 0; k < axis; ++k) outer *= shape[k];
  for (std::uint32_t k = axis + 1; k < r.rank; ++k) inner *= shape[k];
  items_result(
      shape, nullptr,
      [&](const ItemVisit& visit) {
        l = array_info(left_arg(ws), ws);
        const auto value = [&](std::uint32_t p) { return int_at(l, l.count == 1 ? 0 : p, ws); };
        for (std::uint32_t o = 0; o < outer; ++o)
          for (std::uint32_t p = 0; p < len;) {
            if (value(p) == 0) {
              ++p;
              continue;
            }
            // A partition runs while the values stay non-zero and do not rise.
            std::uint32_t q = p + 1;
            for (; q < len && value(q) != 0 && value(q) <= value(q - 1); ++q) {
            }
            for (std::uint32_t i = 0; i < inner; ++i)
              visit(q - p, [&](std::uint32_t e) { return (o * len + p + e) * inner + i; });
            p = q;
          }
      },
      ws);
}

}  // namespace zema
