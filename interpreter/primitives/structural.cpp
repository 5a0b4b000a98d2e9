// Shared ground of the structural primitives: element access, item images,
// prototypes and result allocation.
#include "interpreter/primitives/structural.h"

#include <cmath>
#include <cstring>

#include "host/charset.h"
#include "interpreter/primitives/args.h"
#include "interpreter/workspace/errors.h"
#include "interpreter/workspace/extended80.h"
#include "interpreter/primitives/kernels_compare.h"
#include "interpreter/workspace/stack.h"

namespace zema {

ArrayInfo array_info(std::uint32_t off, Ws ws) {
  ArrayInfo a;
  a.off = off;
  a.type = rd8(ws, off + obj::Type);
  a.rank = rd16(ws, off + obj::Rank4) / 4;
  std::uint64_t n = 1;
  for (std::uint32_t k = 0; k < a.rank; ++k) n *= rd32(ws, off + obj::Shape + 4 * k);
  a.count = static_cast<std::uint32_t>(n);
  a.data = off + obj::Shape + 4 * a.rank;
  return a;
}

std::vector<std::uint32_t> shape_of(const ArrayInfo& a, Ws ws) {
  std::vector<std::uint32_t> s(a.rank);
  for (std::uint32_t k = 0; k < a.rank; ++k) s[k] = dim(a, k, ws);
  return s;
}

std::uint32_t elem_bytes(std::uint8_t type) {
  switch (type) {
    case ET_BOOL: return 0;
    case ET_CHAR: return 1;
    case ET_FLOAT: return 8;
    case ET_WIDE16: return 16;
    default: return 4;
  }
}

Elem elem_at(const ArrayInfo& a, std::uint64_t i, Ws ws) {
  Elem e;
  e.type = a.type;
  switch (a.type) {
    case ET_BOOL: e.i = bit_at(a.data, i, ws); break;
    case ET_CHAR: e.i = rd8(ws, a.data + i); break;
    case ET_FLOAT: std::memcpy(&e.d, ws + a.data + 8 * i, 8); break;
    case ET_WIDE16: std::memcpy(e.wide, ws + a.data + 16 * i, 16); break;
    default: e.i = rdi32(ws, a.data + 4 * i); break;
  }
  return e;
}

double num_of(const Elem& e) { return e.type == ET_FLOAT ? e.d : static_cast<double>(e.i); }

void put_elem(const ArrayInfo& a, std::uint64_t i, const Elem& e, Ws ws) {
  switch (a.type) {
    case ET_BOOL: put_bit(a.data, i, e.i != 0, ws); break;
    case ET_CHAR: wr8(ws, a.data + i, static_cast<std::uint32_t>(e.i)); break;
    case ET_FLOAT: {
      const double d = num_of(e);
      std::memcpy(ws + a.data + 8 * i, &d, 8);
      break;
    }
    case ET_WIDE16: std::memcpy(ws + a.data + 16 * i, e.wide, 16); break;
    case ET_INT:
      if (e.type == ET_FLOAT) {
        std::int32_t v = 0;
        if (!dblint(e.d, v)) domner(ws);
        wr32(ws, a.data + 4 * i, static_cast<std::uint32_t>(v));
        break;
      }
      [[fallthrough]];
    default: wr32(ws, a.data + 4 * i, static_cast<std::uint32_t>(e.i)); break;
  }
}

std::int32_t int_at(const ArrayInfo& a, std::uint64_t i, Ws ws) {
  const Elem e = elem_at(a, i, ws);
  switch (e.type) {
    case ET_BOOL:
    case ET_INT: return e.i;
    case ET_FLOAT: {
      std::int32_t v = 0;
      if (!dblint(e.d, v)) domner(ws);
      return v;
    }
    default: domner(ws);
  }
}

bool elem_equal(const Elem& a, const Elem& b, double ct) {
  const bool ca = a.type == ET_CHAR, cb = b.type == ET_CHAR;
  if (ca || cb) return ca && cb && a.i == b.i;
  if (a.type == ET_OBJREF || b.type == ET_OBJREF) return a.type == b.type && a.i == b.i;
  if (a.type == ET_WIDE16 || b.type == ET_WIDE16)
    return a.type == b.type && std::memcmp(a.wide, b.wide, 16) == 0;
  if (a.type != ET_FLOAT && b.type != ET_FLOAT) return a.i == b.i;
  return tolerant_equal(num_of(a), num_of(b), ct);
}

double ct_value(Ws ws) {
  double ct = 0;
  if (!dblflt(load_x80(ws + hdr::QuadCT), ct)) ct = 0;
  return ct;
}

std::uint8_t blank_char() {
  static const std::uint8_t b = convert_from_unicode(U' ');
  return b;
}

std::uint32_t checked_count(const std::vector<std::uint32_t>& shape, Ws ws) {
  std::uint64_t n = 1;
  bool overflow = false;
  for (std::uint32_t s : shape) {
    n *= s;
    if (n > 0x7FFFFFFFu) {
      overflow = true;
      n = 1;
    }
  }
  for (std::uint32_t s : shape)
    if (s == 0) return 0;
  if (overflow) xwsfll(ws);
  return static_cast<std::uint32_t>(n);
}

// ---- prototypes ------------------------------------------------------------------
//
// The prototype of an array has its rank and shape; characters become
// blanks, every other simple type boolean zeros; a nested array has its
// items' prototypes (an empty one, the prototype it carries). These work on
// object bytes at `p` in the workspace. `depth` counts levels: beyond 100,
// `deep` is set and the walk stops.

namespace {

std::uint32_t obj_count(const std::uint8_t* p, std::uint32_t rank4) {
  std::uint64_t n = 1;
  for (std::uint32_t k = 0; k < rank4 / 4; ++k) n *= rd32(const_cast<std::uint8_t*>(p), obj::Shape + 4 * k);
  return static_cast<std::uint32_t>(n);
}

}  // namespace

std::uint32_t prototype_bytes(const std::uint8_t* p, int depth, bool& deep) {
  if (depth > 100) {
    deep = true;
    return 16;
  }
  Ws q = const_cast<std::uint8_t*>(p);
  const std::uint8_t type = rd8(q, obj::Type);
  const std::uint32_t rank4 = rd16(q, obj::Rank4);
  const std::uint32_t n = obj_count(p, rank4);
  const std::uint32_t head = obj::Shape + rank4;
  if (type == ET_NESTED) {
    if (n == 0) return rd32(q, obj::Size) >= head + 12 ? head + prototype_bytes(p + head, depth + 1, deep) : head;
    std::uint64_t bytes = head + 4ull * n;
    for (std::uint32_t i = 0; i < n && !deep; ++i) bytes += prototype_bytes(p + rd32(q, head + 4 * i), depth + 1, deep);
    return bytes > 0xF0000000u ? 0xF0000000u : static_cast<std::uint32_t>(bytes);
  }
  if (type == ET_CHAR) return (head + n + 3) & ~3u;
  return head + 4 * ((n + 31) / 32);
}

std::uint32_t write_prototype(const std::uint8_t* p, std::uint8_t* d, int depth) {
  std::memset(d, 0, obj::Shape);
  if (depth > 100) {  // too deep (prototype_bytes has said so): a boolean zero scalar
    wr8(d, obj::Type, ET_BOOL);
    wr32(d, obj::Shape, 0);
    wr32(d, obj::Size, 16);
    return 16;
  }
  Ws q = const_cast<std::uint8_t*>(p);
  const std::uint8_t type = rd8(q, obj::Type);
  const std::uint32_t rank4 = rd16(q, obj::Rank4);
  const std::uint32_t n = obj_count(p, rank4);
  const std::uint32_t head = obj::Shape + rank4;
  std::memcpy(d + obj::Shape, p + obj::Shape, rank4);
  wr16(d, obj::Rank4, static_cast<std::uint16_t>(rank4));
  std::uint32_t size;
  if (type == ET_NESTED) {
    wr8(d, obj::Type, ET_NESTED);
    size = head;
    if (n == 0) {
      if (rd32(q, obj::Size) >= head + 12) size += write_prototype(p + head, d + head, depth + 1);
    } else {
      size += 4 * n;
      for (std::uint32_t i = 0; i < n; ++i) {
        wr32(d, head + 4 * i, size);
        size += write_prototype(p + rd32(q, head + 4 * i), d + size, depth + 1);
      }
    }
  } else if (type == ET_CHAR) {
    wr8(d, obj::Type, ET_CHAR);
    size = (head + n + 3) & ~3u;
    std::memset(d + head, blank_char(), n);
    std::memset(d + head + n, 0, size - head - n);
  } else {
    wr8(d, obj::Type, ET_BOOL);
    size = head + 4 * ((n + 31) / 32);
    std::memset(d + head, 0, size - head);
  }
  wr32(d, obj::Size, size);
  return size;
}

// ---- results -----------------------------------------------------------------

void need_room(std::uint64_t bytes, Ws ws) {
  if (bytes >= rd32(ws, hdr::StackPointer)) xwsfll(ws);
}

std::uint32_t left_arg(Ws ws) { return desc_array(hdr::LeftDesc, ws); }
std::uint32_t right_arg(Ws ws) { return desc_array(hdr::RightDesc, ws); }

namespace {

ArrayInfo new_simple_result(const std::vector<std::uint32_t>& shape, std::uint8_t type, bool at_top, Ws ws) {
  if (shape.size() > 63) limit_error(ws);
  const std::uint32_t count = checked_count(shape, ws);
  const auto rank4 = static_cast<std::uint32_t>(4 * shape.size());
  const std::uint32_t first = oprslt(count, rank4, type, 0, ws, at_top);
  for (std::size_t k = 0; k < shape.size(); ++k) wr32(ws, first + 4 * k, shape[k]);
  ArrayInfo r = array_info(first - obj::Shape, ws);
  const std::uint32_t end = r.off + rd32(ws, r.off + obj::Size);
  if (end > r.data) std::memset(ws + r.data, 0, end - r.data);
  return r;
}

}  // namespace

ArrayInfo new_simple(const std::vector<std::uint32_t>& shape, std::uint8_t type, Ws ws) {
  return new_simple_result(shape, type, false, ws);
}

ArrayInfo new_simple_at_top(const std::vector<std::uint32_t>& shape, std::uint8_t type, Ws ws) {
  return new_simple_result(shape, type, true, ws);
}

// ---- results picked from the arguments ------------------------------------------

namespace {

constexpr std::uint32_t round4(std::uint32_t n) { return (n + 3) & ~3u; }

// The prototype an empty nested array carries (its object offset), or 0.
std::uint32_t carried_prototype(const ArrayInfo& a, Ws ws) {
  return rd32(ws, a.off + obj::Size) >= a.data - a.off + 12 ? a.data : 0;
}

// A pick resolved against the arguments: an item object, or a simple scalar value.
struct Resolved {
  std::uint32_t object = 0;  // the item object, 0 when the item is `elem`
  Elem elem;
};

Resolved resolve(const ArrayInfo& l, const ArrayInfo& r, const Pick& p, Ws ws) {
  const ArrayInfo& a = p.left ? l : r;
  Resolved z;
  if (a.type == ET_NESTED) {
    if (a.count > 0) {
      z.object = a.off + rd32(ws, a.data + 4 * p.index);
    } else {
      z.object = carried_prototype(a, ws);  // none: a boolean zero
    }
  } else if (a.count > 0) {
    z.elem = elem_at(a, p.index, ws);
  } else if (a.type == ET_CHAR) {
    z.elem.type = ET_CHAR;
    z.elem.i = blank_char();
  }
  return z;
}

// The simple scalar type of an item, or ET_NESTED when it is not a simple scalar.
std::uint8_t scalar_kind(const Resolved& it, Ws ws) {
  if (it.object == 0) return it.elem.type;
  const std::uint8_t t = rd8(ws, it.object + obj::Type);
  return rd16(ws, it.object + obj::Rank4) != 0 ? std::uint8_t{ET_NESTED} : t;
}

std::uint32_t scalar_bytes(std::uint8_t type) {
  return obj::Shape + (type == ET_FLOAT ? 8 : type == ET_WIDE16 ? 16 : 4);
}

// The bytes item `it` (or, with `fill`, its prototype) takes in a result.
std::uint32_t item_bytes(const Resolved& it, bool fill, Ws ws) {
  if (!it.object) return scalar_bytes(fill && it.elem.type != ET_CHAR ? std::uint8_t{ET_BOOL} : it.elem.type);
  if (!fill) return round4(rd32(ws, it.object + obj::Size));
  bool deep = false;
  const std::uint32_t n = prototype_bytes(ws + it.object, 0, deep);
  if (deep) depth_error(ws);
  return n;
}

Elem object_scalar(std::uint32_t item, Ws ws) {
  ArrayInfo a;
  a.off = item;
  a.type = rd8(ws, item + obj::Type);
  a.count = 1;
  a.data = item + obj::Shape;
  return elem_at(a, 0, ws);
}

// Writes item `it` (or its prototype) at `at`; answers the bytes taken.
std::uint32_t put_item(std::uint32_t at, const Resolved& it, bool fill, Ws ws) {
  if (it.object) {
    if (fill) return write_prototype(ws + it.object, ws + at, 0);
    const std::uint32_t size = rd32(ws, it.object + obj::Size);
    std::memmove(ws + at, ws + it.object, size);
    std::memset(ws + at, 0, 4);
    std::memset(ws + at + size, 0, round4(size) - size);
    return round4(size);
  }
  Elem e = it.elem;
  if (fill) {
    const std::uint8_t t = e.type == ET_CHAR ? std::uint8_t{ET_CHAR} : std::uint8_t{ET_BOOL};
    e = Elem{};
    e.type = t;
    e.i = t == ET_CHAR ? blank_char() : 0;
  }
  return put_scalar_item(at, e, ws);
}

ArrayInfo alloc_nested(const std::vector<std::uint32_t>& shape, std::uint32_t count, std::uint64_t extra, Ws ws) {
  if (shape.size() > 63) limit_error(ws);
  if (extra > 0xF0000000u) xwsfll(ws);
  need_room(4 * std::uint64_t(count) + extra, ws);
  const auto rank4 = static_cast<std::uint32_t>(4 * shape.size());
  const std::uint32_t first = oprslt(count, rank4, ET_NESTED, static_cast<std::uint32_t>(extra), ws);
  for (std::size_t k = 0; k < shape.size(); ++k) wr32(ws, first + 4 * k, shape[k]);
  return array_info(first - obj::Shape, ws);
}

// The empty result of `shape` with its prototype from `a`'s.
ArrayInfo empty_result(const std::vector<std::uint32_t>& shape, bool proto_left, Ws ws) {
  ArrayInfo a = array_info(proto_left ? left_arg(ws) : right_arg(ws), ws);
  if (a.type != ET_NESTED) return new_simple(shape, a.type, ws);
  std::uint32_t proto = carried_prototype(a, ws);
  bool blank = false;
  if (a.count > 0) {
    proto = a.off + rd32(ws, a.data + 4 * 0);
    const std::uint8_t t = rd8(ws, proto + obj::Type);
    if (rd16(ws, proto + obj::Rank4) == 0 && t != ET_NESTED) return new_simple(shape, t, ws);
    blank = true;
  }
  const std::uint32_t rel = proto ? proto - a.off : 0;
  Resolved first;
  first.object = proto;
  const ArrayInfo z = alloc_nested(shape, 0, proto ? item_bytes(first, blank, ws) : 0, ws);
  if (proto) {
    a = array_info(proto_left ? left_arg(ws) : right_arg(ws), ws);
    Resolved it;
    it.object = a.off + rel;
    put_item(z.data, it, blank, ws);
  }
  return z;
}

}  // namespace

std::uint32_t scalar_item_bytes(std::uint8_t type) { return scalar_bytes(type); }

std::uint32_t put_scalar_item(std::uint32_t at, const Elem& e, Ws ws) {
  const std::uint32_t size = scalar_bytes(e.type);
  std::memset(ws + at, 0, size);
  wr32(ws, at + obj::Size, size);
  wr8(ws, at + obj::Type, e.type);
  ArrayInfo one;
  one.off = at;
  one.type = e.type;
  one.count = 1;
  one.data = at + obj::Shape;
  put_elem(one, 0, e, ws);
  return size;
}

namespace {

// The left argument's facts; none (no elements) in a call without one.
ArrayInfo left_info(Ws ws) { return has_left_argument(ws) ? array_info(left_arg(ws), ws) : ArrayInfo{}; }

}  // namespace

ArrayInfo result_from_picks(const std::vector<std::uint32_t>& shape, const PickWalk& walk, bool proto_left, Ws ws) {
  const std::uint32_t count = checked_count(shape, ws);
  if (count == 0) return empty_result(shape, proto_left, ws);
  // Every item takes at least 16 bytes after its table word.
  need_room(20 * std::uint64_t(count), ws);
  ArrayInfo l = left_info(ws), r = array_info(right_arg(ws), ws);
  std::uint8_t common = 0;
  walk([&](const Pick& p) {
    if (common == ET_NESTED) return;
    const std::uint8_t t = scalar_kind(resolve(l, r, p, ws), ws);
    if (t == ET_NESTED) common = ET_NESTED;
    else if (common == 0) common = t;
    else if (is_numeric(common) && is_numeric(t)) common = common > t ? common : t;
    else if (common != t) common = ET_NESTED;
  });
  if (common != ET_NESTED) {
    const ArrayInfo z = new_simple(shape, common, ws);
    l = left_info(ws);
    r = array_info(right_arg(ws), ws);
    std::uint32_t k = 0;
    walk([&](const Pick& p) {
      const Resolved it = resolve(l, r, p, ws);
      if (p.fill) {
        if (common == ET_CHAR) wr8(ws, z.data + k, blank_char());
      } else {
        put_elem(z, k, it.object ? object_scalar(it.object, ws) : it.elem, ws);
      }
      ++k;
    });
    return z;
  }
  std::uint64_t extra = 0;
  walk([&](const Pick& p) { extra += item_bytes(resolve(l, r, p, ws), p.fill, ws); });
  const ArrayInfo z = alloc_nested(shape, count, extra, ws);
  l = left_info(ws);
  r = array_info(right_arg(ws), ws);
  std::uint32_t at = z.data + 4 * count, k = 0;
  walk([&](const Pick& p) {
    wr32(ws, z.data + 4 * k++, at - z.off);
    at += put_item(at, resolve(l, r, p, ws), p.fill, ws);
  });
  return z;
}

// ---- axes ----------------------------------------------------------------------

Axis axis_of(std::uint32_t fn_entry, Ws ws) {
  Axis a;
  const std::uint8_t b4 = rd8(ws, fn_entry + 4), b5 = rd8(ws, fn_entry + 5);
  const std::uint8_t cls = rd8(ws, fn_entry) & kClassMask;
  if ((cls != 0 && cls != 7) || (b4 == 0 && b5 == 0)) return a;  // primitives and / \ carry axes
  a.given = true;
  a.fraction = b5 != 0;
  a.k = static_cast<std::int32_t>(b4) - 1;
  return a;
}

void no_axis(std::uint32_t fn_entry, Ws ws) {
  if (axis_of(fn_entry, ws).given || (call_flags(ws) & pf::FromDerived)) axis_error(ws);
}

std::uint32_t whole_axis(const PrimitiveCall& c, const ArrayInfo& r, std::uint32_t& length, Ws ws) {
  if (c.flags & pf::FromDerived) axis_error(ws);
  const Axis a = axis_of(c.fn_entry, ws);
  if (a.given && a.fraction) axis_error(ws);
  if (r.rank == 0) {
    length = 1;
    return 0;
  }
  std::uint32_t k = (c.flags & pf::FirstAxis) ? 0 : r.rank - 1;
  if (a.given) {
    if (a.k < 0 || static_cast<std::uint32_t>(a.k) >= r.rank) axis_error(ws);
    k = static_cast<std::uint32_t>(a.k);
  }
  length = dim(r, k, ws);
  return k;
}

AxisList multiple_axis(std::uint32_t fn_entry, std::uint32_t flags, std::uint32_t rank, Ws ws) {
  AxisList a;
  if (flags & pf::FromDerived) {
    const std::uint32_t obj = derived_object(fn_entry, ws);
    const std::uint32_t list = rd32(ws, obj + dfn::ListWord);
    if (list != 0) {
      a.given = a.list = true;
      const std::uint32_t count = rd32(ws, obj + list);
      if (count > 63) ranker(ws);
      for (std::uint32_t j = 0; j < count; ++j) {
        const std::uint32_t k = rd32(ws, obj + list + 4 + 4 * j) - 1;
        if (k >= rank) axis_error(ws);
        for (std::uint32_t seen : a.k)
          if (seen == k) axis_error(ws);
        a.k.push_back(k);
      }
      return a;
    }
    fn_entry = obj + dfn::Entry;
  }
  const std::uint8_t b4 = rd8(ws, fn_entry + 4), b5 = rd8(ws, fn_entry + 5);
  const std::uint8_t cls = rd8(ws, fn_entry) & kClassMask;
  if ((cls != TC_PRIMITIVE && cls != TC_SLASH) || (b4 == 0 && b5 == 0)) return a;
  if (b5 != 0) axis_error(ws);
  if (static_cast<std::uint32_t>(b4 - 1) >= rank) axis_error(ws);
  a.given = true;
  a.k.push_back(b4 - 1u);
  return a;
}

std::uint32_t derived_object(std::uint32_t fn_entry, Ws ws) {
  const std::uint8_t cls = rd8(ws, fn_entry + se::Class);
  const std::uint32_t obj = (cls & kOwnsObject) ? rd32(ws, fn_entry + se::Value) : find_ws_entry(fn_entry, ws);
  if (obj == 0 || rd8(ws, obj + obj::Type) != ET_DERIVED) synter_class(ws);
  return obj;
}

}  // namespace zema
