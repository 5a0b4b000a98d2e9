// L/R L⌿R (compress and replicate) and L\R L⍀R (expand). Both come down to
// a list saying, for each position of the result along the axis, which
// slice of R it takes or that it is fill; the slices are then copied for
// every combination of the axes before the axis. A boolean selection of a
// vector skips 32 zero bits at a time.
#include <bit>
#include <cstring>

#include "interpreter/args.h"
#include "interpreter/engine.h"
#include "interpreter/error_path.h"
#include "interpreter/primitives/structural.h"

namespace zema {

namespace {

constexpr std::int64_t kFill = -1;

struct Selection {
  std::vector<std::int64_t> take;  // slice of R, or kFill
  std::vector<std::int64_t> fill;  // for a fill: the slice whose prototype fills (nested R)
};

// Builds the result from the selection along axis k.
void gather_along(std::uint32_t k, const Selection& sel, Ws ws) {
  ArrayInfo r = array_info(right_arg(ws), ws);
  std::vector<std::uint32_t> shape = shape_of(r, ws);
  if (shape.empty()) shape.push_back(1);
  const std::uint32_t axis_len = shape[k];
  std::uint64_t outer = 1, inner = 1;
  for (std::uint32_t i = 0; i < k; ++i) outer *= shape[i];
  for (std::uint32_t i = k + 1; i < shape.size(); ++i) inner *= shape[i];
  shape[k] = static_cast<std::uint32_t>(sel.take.size());
  const std::uint32_t count = checked_count(shape, ws);
  if (r.type == ET_NESTED) {
    std::vector<Image> items;
    items.reserve(count);
    for (std::uint64_t o = 0; o < outer; ++o)
      for (const std::int64_t& t : sel.take)
        for (std::uint64_t in = 0; in < inner; ++in) {
          const std::size_t j = &t - sel.take.data();
          if (t != kFill) {
            items.push_back(item_image(r, (o * axis_len + t) * inner + in, ws));
          } else if (r.count > 0) {
            const std::int64_t f = sel.fill[j] < std::int64_t(axis_len) ? sel.fill[j] : 0;
            items.push_back(prototype_of(item_image(r, (o * axis_len + f) * inner + in, ws)));
          } else {
            items.push_back(array_prototype(r, ws));
          }
        }
    new_nested(shape, items, array_prototype(r, ws), ws);
    return;
  }
  const ArrayInfo z = new_simple(shape, r.type, ws);
  if (count == 0) return;
  r = array_info(right_arg(ws), ws);
  const std::uint32_t width = elem_bytes(r.type);
  const bool single = r.count == 1;
  std::uint64_t out = 0;
  for (std::uint64_t o = 0; o < outer; ++o) {
    for (const std::int64_t t : sel.take) {
      if (t == kFill) {
        if (r.type == ET_CHAR) std::memset(ws + z.data + out, blank_char(), inner);
        out += inner;  // numbers: the zeroed result is the fill
        continue;
      }
      const std::uint64_t src = single ? 0 : (o * axis_len + t) * inner;
      if (r.type == ET_BOOL || single) {
        for (std::uint64_t in = 0; in < inner; ++in) put_elem(z, out + in, elem_at(r, single ? 0 : src + in, ws), ws);
      } else {
        std::memcpy(ws + z.data + out * width, ws + r.data + src * width, inner * width);
      }
      out += inner;
    }
  }
}

// Σ|L|, the count of zeros and of positive elements.
struct Counts {
  std::uint64_t sum = 0, zeros = 0, positives = 0;
};
Counts count_left(const ArrayInfo& l, Ws ws) {
  Counts c;
  for (std::uint32_t i = 0; i < l.count; ++i) {
    const std::int64_t v = int_at(l, i, ws);
    c.sum += static_cast<std::uint64_t>(v < 0 ? -v : v);
    c.zeros += v == 0;
    c.positives += v > 0;
  }
  return c;
}

// B/R for a boolean B and a simple vector R of the same length.
bool compress_vector_fast(const ArrayInfo& l, const ArrayInfo& r0, Ws ws) {
  if (l.type != ET_BOOL || l.rank != 1 || r0.rank != 1 || r0.type == ET_NESTED || l.count != r0.count) return false;
  std::uint64_t p = 0;
  const std::uint32_t words = (l.count + 31) / 32;
  for (std::uint32_t w = 0; w < words; ++w) p += std::popcount(rd32(ws, l.data + 4 * w));
  const ArrayInfo z = new_simple({static_cast<std::uint32_t>(p)}, r0.type, ws);
  const ArrayInfo lb = array_info(left_arg(ws), ws);
  const ArrayInfo r = array_info(right_arg(ws), ws);
  const std::uint32_t width = elem_bytes(r.type);
  const std::uint8_t* bits = ws + lb.data;
  std::uint8_t* dst = ws + z.data;
  const std::uint8_t* src = ws + r.data;
  std::uint64_t out = 0;
  for (std::uint32_t w = 0; w < words; ++w) {
    std::uint32_t word;
    std::memcpy(&word, bits + 4 * w, 4);
    if (word == 0) continue;  // 32 elements not selected
    const std::uint64_t base = 32ull * w;
    if (word == ~0u && width != 0 && base + 32 <= l.count) {
      std::memcpy(dst + out * width, src + base * width, 32 * width);
      out += 32;
      continue;
    }
    while (word) {
      const int b = std::countl_zero(word);
      word &= ~(0x80000000u >> b);
      const std::uint64_t i = base + static_cast<std::uint64_t>(b);
      switch (width) {
        case 0: put_bit(z.data, out, bit_at(r.data, i, ws), ws); break;
        case 1: dst[out] = src[i]; break;
        case 4: std::memcpy(dst + 4 * out, src + 4 * i, 4); break;
        case 8: std::memcpy(dst + 8 * out, src + 8 * i, 8); break;
        default: std::memcpy(dst + width * out, src + width * i, width); break;
      }
      ++out;
    }
  }
  return true;
}

}  // namespace

void compress_dyadic(const PrimitiveCall& c, Ws ws) {
  const ArrayInfo l = array_info(left_arg(ws), ws);
  if (l.type == ET_NESTED) domner(ws);
  const ArrayInfo r = array_info(right_arg(ws), ws);
  std::uint32_t len = 0;
  const std::uint32_t k = whole_axis(c, r, len, ws);
  if (!(c.flags & pf::FromDerived) && !axis_of(c.fn_entry, ws).given && compress_vector_fast(l, r, ws)) return;
  const Counts cnt = count_left(l, ws);
  Selection sel;
  auto add = [&](std::int64_t take, std::uint64_t times, std::int64_t fill) {
    if (sel.take.size() + times > 0x7FFFFFFFu) xwsfll(ws);
    sel.take.insert(sel.take.end(), times, take);
    sel.fill.insert(sel.fill.end(), times, fill);
  };
  if (l.count == 1) {
    const std::int64_t v = int_at(l, 0, ws);
    const std::uint64_t m = static_cast<std::uint64_t>(v < 0 ? -v : v);
    if (len == 0 && v < 0) {
      add(kFill, m, 0);
    } else {
      if (m * len > 0x7FFFFFFFu) xwsfll(ws);
      for (std::uint32_t s = 0; s < len; ++s) add(v > 0 ? s : kFill, m, s);
    }
  } else {
    if (l.rank != 1) ranker(ws);
    const bool extend = r.count == 1;
    const bool consume_all = extend || l.count == len;
    if (!consume_all && cnt.zeros + cnt.positives != len && len != 1) lener(ws);
    const bool reuse = !consume_all && len == 1;
    std::int64_t s = 0;
    for (std::uint32_t i = 0; i < l.count; ++i) {
      const std::int64_t v = int_at(l, i, ws);
      const std::int64_t slice = extend ? 0 : s;
      if (v > 0) add(slice, static_cast<std::uint64_t>(v), slice);
      else if (v < 0) add(kFill, static_cast<std::uint64_t>(-v), consume_all ? slice : 0);
      if ((v >= 0 || consume_all) && !reuse && !extend) ++s;
    }
  }
  if (r.rank == 0 && r.count == 1) {
    // A scalar R is a one-element vector here.
  }
  gather_along(k, sel, ws);
}

void expand_dyadic(const PrimitiveCall& c, Ws ws) {
  const ArrayInfo l = array_info(left_arg(ws), ws);
  if (l.type == ET_NESTED) domner(ws);
  const ArrayInfo r = array_info(right_arg(ws), ws);
  std::uint32_t len = 0;
  const std::uint32_t k = whole_axis(c, r, len, ws);
  if (l.count != 1 && l.rank != 1) ranker(ws);
  const Counts cnt = count_left(l, ws);
  if (r.count != 1 && len != cnt.positives) lener(ws);
  if (cnt.sum + cnt.zeros > 0x7FFFFFFFu) xwsfll(ws);
  Selection sel;
  std::int64_t s = 0;
  for (std::uint32_t i = 0; i < l.count; ++i) {
    const std::int64_t v = int_at(l, i, ws);
    const std::int64_t slice = r.count == 1 ? 0 : s;
    if (v > 0) {
      sel.take.insert(sel.take.end(), static_cast<std::size_t>(v), slice);
      sel.fill.insert(sel.fill.end(), static_cast<std::size_t>(v), slice);
      ++s;
    } else {
      const std::size_t n = v == 0 ? 1 : static_cast<std::size_t>(-v);
      sel.take.insert(sel.take.end(), n, kFill);
      sel.fill.insert(sel.fill.end(), n, 0);
    }
  }
  gather_along(k, sel, ws);
}

}  // namespace zema
