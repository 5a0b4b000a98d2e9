// ⊂[K]R (enclose along axes) and L⊂[K]R (partition). Both gather the items
// of their result as images in host memory, then allocate the nested
// result once.
#include <cstring>

#include "interpreter/args.h"
#include "interpreter/error_path.h"
#include "interpreter/primitives/structural.h"

namespace zema {

namespace {

// Row-major strides of an array's axes.
std::vector<std::uint32_t> strides_of(const std::vector<std::uint32_t>& shape) {
  std::vector<std::uint32_t> s(shape.size(), 1);
  for (std::size_t k = shape.size(); k-- > 1;) s[k - 1] = s[k] * shape[k];
  return s;
}

// Ravel positions reached by an odometer over `axes` (the last varying
// fastest), added to `base`.
std::vector<std::uint32_t> positions(std::uint32_t base, const std::vector<std::uint32_t>& axes,
                                     const std::vector<std::uint32_t>& shape,
                                     const std::vector<std::uint32_t>& stride) {
  std::uint64_t n = 1;
  for (std::uint32_t k : axes) n *= shape[k];
  std::vector<std::uint32_t> out;
  out.reserve(n);
  std::vector<std::uint32_t> idx(axes.size(), 0);
  std::uint32_t pos = base;
  for (std::uint64_t i = 0; i < n; ++i) {
    out.push_back(pos);
    for (std::size_t j = axes.size(); j-- > 0;) {
      const std::uint32_t k = axes[j];
      pos += stride[k];
      if (++idx[j] < shape[k]) break;
      pos -= stride[k] * idx[j];
      idx[j] = 0;
    }
  }
  return out;
}

// One item of the result: the elements (or items) of R at `at`, as an
// array of `shape` and R's type.
Image gathered(const ArrayInfo& r, const std::vector<std::uint32_t>& at, const std::vector<std::uint32_t>& shape,
               const Image& proto, Ws ws) {
  if (r.type == ET_NESTED) {
    std::vector<Image> items;
    items.reserve(at.size());
    for (std::uint32_t p : at) items.push_back(item_image(r, p, ws));
    return items_array_image(shape, items, proto);
  }
  std::vector<Elem> elems;
  elems.reserve(at.size());
  for (std::uint32_t p : at) elems.push_back(elem_at(r, p, ws));
  return simple_array_image(shape, r.type, elems);
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
  checked_count(item_shape, ws);
  const std::vector<std::uint32_t> stride = strides_of(shape);
  const Image r_proto = array_prototype(r, ws);
  if (count == 0) {
    // The prototype item: of the item shape, filled as R's type fills.
    const std::uint32_t n = checked_count(item_shape, ws);
    Image proto;
    if (r.type == ET_NESTED) {
      proto = items_array_image(item_shape, std::vector<Image>(n, r_proto), r_proto);
    } else {
      Elem fill;
      fill.type = r.type == ET_CHAR ? ET_CHAR : ET_INT;
      fill.i = r.type == ET_CHAR ? blank_char() : 0;
      proto = simple_array_image(item_shape, fill.type, std::vector<Elem>(n, fill));
    }
    new_nested(rest_shape, {}, proto, ws);
    return;
  }
  std::vector<Image> items;
  items.reserve(count);
  for (std::uint32_t base : positions(0, rest, shape, stride))
    items.push_back(gathered(r, positions(base, ax.k, shape, stride), item_shape, r_proto, ws));
  result_from_items(rest_shape, items, Image{}, ws);
}

void partition_dyadic(const PrimitiveCall& c, Ws ws) {
  const ArrayInfo l = array_info(left_arg(ws), ws);
  const ArrayInfo r = array_info(right_arg(ws), ws);
  if (r.rank == 0) ranker(ws);
  std::uint32_t len = 0;
  const std::uint32_t axis = whole_axis(c, r, len, ws);
  std::vector<std::int32_t> lv(l.count);
  for (std::uint32_t i = 0; i < l.count; ++i) {
    lv[i] = int_at(l, i, ws);
    if (lv[i] < 0) domner(ws);
  }
  if (l.count != 1) {
    if (l.rank != 1) ranker(ws);
    if (l.count != len) lener(ws);
  }
  const auto value = [&](std::uint32_t p) { return l.count == 1 ? lv[0] : lv[p]; };
  // Each partition starts at a non-zero value and runs while the values
  // stay non-zero and do not rise.
  std::vector<std::vector<std::uint32_t>> parts;
  for (std::uint32_t p = 0; p < len;) {
    if (value(p) == 0) {
      ++p;
      continue;
    }
    std::vector<std::uint32_t> part{p};
    std::uint32_t q = p + 1;
    for (; q < len && value(q) != 0 && value(q) <= value(q - 1); ++q) part.push_back(q);
    parts.push_back(std::move(part));
    p = q;
  }
  std::vector<std::uint32_t> shape = shape_of(r, ws);
  shape[axis] = static_cast<std::uint32_t>(parts.size());
  const std::uint32_t count = checked_count(shape, ws);
  const Image r_proto = array_prototype(r, ws);
  if (count == 0) {
    new_nested(shape, {}, r_proto, ws);
    return;
  }
  std::uint32_t outer = 1, inner = 1;
  for (std::uint32_t k = 0; k < axis; ++k) outer *= shape[k];
  for (std::uint32_t k = axis + 1; k < r.rank; ++k) inner *= shape[k];
  std::vector<Image> items;
  items.reserve(count);
  std::vector<std::uint32_t> at;
  for (std::uint32_t o = 0; o < outer; ++o)
    for (const auto& part : parts)
      for (std::uint32_t i = 0; i < inner; ++i) {
        at.clear();
        for (std::uint32_t p : part) at.push_back((o * len + p) * inner + i);
        items.push_back(gathered(r, at, {static_cast<std::uint32_t>(at.size())}, r_proto, ws));
      }
  new_nested(shape, items, Image{}, ws);
}

}  // namespace zema
