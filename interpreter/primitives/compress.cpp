// L/R L⌿R (compress and replicate) and L\R L⍀R (expand). L is read as a
// list of runs along the axis: so many copies of one slice of R, or so many
// fill slices. The result's length along the axis is known from L before
// anything is built, so its size is checked first; the runs are then
// walked once for every combination of the axes before the axis, copying
// slices straight into the result. A boolean selection of a vector skips 32
// zero bits at a time.
#include <bit>
#include <cstring>

#include "interpreter/primitives/args.h"
#include "interpreter/workspace/errors.h"
#include "interpreter/primitives/structural.h"

namespace zema {

namespace {

constexpr std::int64_t kFill = -1;

// How L replicates R along the axis.
struct Replication {
  bool expand = false;
  std::uint32_t len = 0;  // R's length along the axis
  bool extend = false;    // R has one element, used for every position
  bool consume_all = false;  // compress: every element of L, negative ones too, takes a slice
  bool reuse = false;        // compress: R's one slice serves every non-negative element
};

// Element i of L as an integer (DOMAIN ERROR when it is not one).
inline std::int64_t l_value(const ArrayInfo& l, std::uint32_t i, Ws ws) {
  if (l.type == ET_INT) return rdi32(ws, l.data + 4 * i);
  if (l.type == ET_BOOL) return bit_at(l.data, i, ws);
  return int_at(l, i, ws);
}

// Calls run(slice, times, proto) for every run of one row, in order: `times`
// copies of R's slice `slice`, or, when slice is kFill, `times` fill slices
// made from the prototype of the first item of slice `proto`. Reads L afresh.
template <class Run>
void for_each_run(const Replication& p, Ws ws, Run&& run) {
  const ArrayInfo l = array_info(left_arg(ws), ws);
  if (p.expand) {
    std::int64_t s = 0;
    for (std::uint32_t i = 0; i < l.count; ++i) {
      const std::int64_t v = l_value(l, i, ws);
      if (v > 0) {
        run(p.extend ? 0 : s, static_cast<std::uint64_t>(v), 0);
        ++s;
      } else {
        run(kFill, static_cast<std::uint64_t>(v == 0 ? 1 : -v), 0);
      }
    }
    return;
  }
  if (l.count == 1) {
    const std::int64_t v = l_value(l, 0, ws);
    const std::uint64_t m = static_cast<std::uint64_t>(v < 0 ? -v : v);
    if (p.len == 0 && v < 0) {
      run(kFill, m, 0);
    } else if (v != 0) {
      for (std::uint32_t s = 0; s < p.len; ++s) run(v > 0 ? std::int64_t(s) : kFill, m, s);
    }
    return;
  }
  std::int64_t s = 0;
  for (std::uint32_t i = 0; i < l.count; ++i) {
    const std::int64_t v = l_value(l, i, ws);
    const std::int64_t slice = p.extend ? 0 : s;
    if (v > 0) run(slice, static_cast<std::uint64_t>(v), slice);
    else if (v < 0) run(kFill, static_cast<std::uint64_t>(-v), p.consume_all ? slice : 0);
    if ((v >= 0 || p.consume_all) && !p.reuse && !p.extend) ++s;
  }
}

// Builds the result, whose length along axis k is n, from the runs.
void gather_along(std::uint32_t k, std::uint64_t n, const Replication& p, Ws ws) {
  if (n > 0x7FFFFFFFu) xwsfll(ws);
  ArrayInfo r = array_info(right_arg(ws), ws);
  std::vector<std::uint32_t> shape = shape_of(r, ws);
  if (shape.empty()) shape.push_back(1);
  const std::uint32_t axis_len = shape[k];
  std::uint64_t outer = 1, inner = 1;
  for (std::uint32_t i = 0; i < k; ++i) outer *= shape[i];
  for (std::uint32_t i = k + 1; i < shape.size(); ++i) inner *= shape[i];
  shape[k] = static_cast<std::uint32_t>(n);
  const std::uint32_t count = checked_count(shape, ws);
  if (r.type == ET_NESTED) {
    const bool single = r.count == 1;
    result_from_picks(
        shape,
        [&](const std::function<void(const Pick&)>& emit) {
          for (std::uint64_t o = 0; o < outer; ++o)
            for_each_run(p, ws, [&](std::int64_t slice, std::uint64_t times, std::int64_t proto) {
              const bool fill = slice == kFill;
              const std::uint64_t base = (o * axis_len + static_cast<std::uint64_t>(fill ? proto : slice)) * inner;
              // A fill slice is one item's prototype throughout: the first
              // item of the skipped slice, or of the row.
              for (std::uint64_t t = 0; t < times; ++t)
                for (std::uint64_t in = 0; in < inner; ++in)
                  emit(Pick{single ? 0 : static_cast<std::uint32_t>(base + (fill ? 0 : in)), false, fill});
            });
        },
        false, ws);
    return;
  }
  const ArrayInfo z = new_simple(shape, r.type, ws);
  if (count == 0) return;
  r = array_info(right_arg(ws), ws);
  const std::uint32_t width = elem_bytes(r.type);
  const bool single = r.count == 1;
  std::uint8_t* const zd = ws + z.data;
  const std::uint8_t* const rd = ws + r.data;
  std::uint64_t out = 0;
  for (std::uint64_t o = 0; o < outer; ++o) {
    for_each_run(p, ws, [&](std::int64_t slice, std::uint64_t times, std::int64_t) {
      const std::uint64_t n_out = times * inner;
      if (slice == kFill) {
        if (r.type == ET_CHAR) std::memset(zd + out, blank_char(), n_out);
        out += n_out;  // numbers: the zeroed result is the fill
        return;
      }
      const std::uint64_t src = single ? 0 : (o * axis_len + static_cast<std::uint64_t>(slice)) * inner;
      if (r.type == ET_BOOL) {
        for (std::uint64_t t = 0; t < times; ++t)
          for (std::uint64_t in = 0; in < inner; ++in)
            if (bit_at(r.data, single ? 0 : src + in, ws)) put_bit(z.data, out + t * inner + in, true, ws);
      } else if (single || inner == 1) {
        const std::uint8_t* from = rd + src * width;
        switch (width) {
          case 1: std::memset(zd + out, *from, n_out); break;
          case 4:
            for (std::uint64_t t = 0; t < n_out; ++t) std::memcpy(zd + 4 * (out + t), from, 4);
            break;
          default:
            for (std::uint64_t t = 0; t < n_out; ++t) std::memcpy(zd + width * (out + t), from, width);
            break;
        }
      } else {
        for (std::uint64_t t = 0; t < times; ++t)
          std::memcpy(zd + (out + t * inner) * width, rd + src * width, inner * width);
      }
      out += n_out;
    });
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
  Replication p;
  p.len = len;
  std::uint64_t n = 0;
  if (l.count == 1) {
    const std::int64_t v = int_at(l, 0, ws);
    const std::uint64_t m = static_cast<std::uint64_t>(v < 0 ? -v : v);
    n = len == 0 && v < 0 ? m : m * len;
  } else {
    if (l.rank != 1) ranker(ws);
    p.extend = r.count == 1;
    p.consume_all = p.extend || l.count == len;
    if (!p.consume_all && cnt.zeros + cnt.positives != len && len != 1) lener(ws);
    p.reuse = !p.consume_all && len == 1;
    n = cnt.sum;
  }
  gather_along(k, n, p, ws);
}

void expand_dyadic(const PrimitiveCall& c, Ws ws) {
  const ArrayInfo l = array_info(left_arg(ws), ws);
  if (l.type == ET_NESTED) domner(ws);
  const ArrayInfo r = array_info(right_arg(ws), ws);
  std::uint32_t len = 0;
  const std::uint32_t k = whole_axis(c, r, len, ws);
  const Counts cnt = count_left(l, ws);  // L's values are read before its rank is checked
  if (l.count != 1 && l.rank != 1) ranker(ws);
  if (r.count != 1 && len != cnt.positives) lener(ws);
  Replication p;
  p.expand = true;
  p.len = len;
  p.extend = r.count == 1;
  gather_along(k, cnt.sum + cnt.zeros, p, ws);
}

}  // namespace zema
