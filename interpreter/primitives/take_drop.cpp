// L↑R (take) and L↓R (drop), with or without an axis. Both check L the same
// way and turn it into one signed count per axis of the result; drop is the
// take of the part that remains. The part of R that reaches the result is a
// box (so many elements along each axis, from an offset in R to an offset
// in the result): simple results are copied as runs along the last axes,
// trailing axes taken whole merging into one run, each run one block of
// bytes (booleans a word at a time). Nested results name their items by
// position and are completed by result_from_picks.
#include "interpreter/primitives/take_drop.h"

#include <array>
#include <cstring>
#include <vector>

#include "interpreter/primitives/args.h"
#include "interpreter/primitives/structural.h"
#include "interpreter/workspace/entry.h"
#include "interpreter/workspace/errors.h"

namespace zema {

namespace {

constexpr std::uint32_t kMaxRank = 63;

// One signed count per axis of the result, and R's length on that axis
// (1 throughout for a scalar R).
struct Counts {
  std::uint32_t rank = 0;
  std::array<std::int64_t, kMaxRank> count{};
  std::array<std::uint32_t, kMaxRank> len{};
};

// Reads L (and the axis) into counts; unnamed axes are taken whole (`take`)
// or dropped by 0.
Counts check_counts(const PrimitiveCall& c, bool take, Ws ws) {
  const ArrayInfo l = array_info(left_arg(ws), ws);
  if (l.type == ET_NESTED) domner(ws);
  if (l.rank > 1) ranker(ws);
  const ArrayInfo r = array_info(right_arg(ws), ws);
  Counts n;
  const bool axis_written = (c.flags & pf::FromDerived) || axis_of(c.fn_entry, ws).given;
  if (!axis_written) {
    if (l.count < 1 || l.count > kMaxRank) lener(ws);
    n.rank = l.count;
    for (std::uint32_t k = 0; k < n.rank; ++k) n.count[k] = int_at(l, k, ws);
  } else {
    if (r.rank == 0) {  // a scalar R has no axis to name
      if (axis_of(c.fn_entry, ws).fraction) axis_error(ws);
      ranker(ws);
    }
    const AxisList ax = multiple_axis(c.fn_entry, c.flags, r.rank, ws);
    if (ax.k.size() != l.count) axis_error(ws);
    n.rank = r.rank;
    for (std::uint32_t k = 0; k < n.rank; ++k) n.count[k] = take ? dim(r, k, ws) : 0;
    for (std::uint32_t j = 0; j < l.count; ++j) n.count[ax.k[j]] = int_at(l, j, ws);
  }
  if (r.rank != 0 && r.rank != n.rank) lener(ws);
  for (std::uint32_t k = 0; k < n.rank; ++k) n.len[k] = r.rank == 0 ? 1 : dim(r, k, ws);
  return n;
}

inline std::int64_t magnitude(std::int64_t v) { return v < 0 ? -v : v; }

// The 32 bits from bit `pos` of the boolean data at `p` (the first in bit
// 31); only the first `k` (at most 32) are meant, and no word past them is read.
inline std::uint32_t bits_at(const std::uint8_t* p, std::uint64_t pos, std::uint32_t k) {
  const std::uint8_t* w = p + 4 * (pos / 32);
  const std::uint32_t s = pos % 32;
  std::uint32_t a;
  std::memcpy(&a, w, 4);
  if (s == 0) return a;
  std::uint32_t v = a << s;
  if (s + k > 32) {
    std::uint32_t b;
    std::memcpy(&b, w + 4, 4);
    v |= b >> (32 - s);
  }
  return v;
}

// Copies n bits from bit s of `src` to bit d of `dst`, whose bits there are zero.
void copy_bits(std::uint8_t* dst, std::uint64_t d, const std::uint8_t* src, std::uint64_t s, std::uint64_t n) {
  while (n > 0) {
    const std::uint32_t off = d % 32;
    const std::uint32_t k = n < 32 - off ? static_cast<std::uint32_t>(n) : 32 - off;
    const std::uint32_t v = bits_at(src, s, k) & (k == 32 ? ~0u : ~(~0u >> k));
    std::uint8_t* w = dst + 4 * (d / 32);
    std::uint32_t old;
    std::memcpy(&old, w, 4);
    old |= v >> off;
    std::memcpy(w, &old, 4);
    d += k;
    s += k;
    n -= k;
  }
}

// Builds and pushes the take of R by the counts.
void take_by_counts(const Counts& n, Ws ws) {
  const std::uint32_t rank = n.rank;
  std::vector<std::uint32_t> shape(rank);
  // Per axis: elements copied, their first position in R and in the result.
  std::array<std::uint32_t, kMaxRank> copied{}, from{}, to{};
  bool overtake = false, empty_box = false;
  for (std::uint32_t k = 0; k < rank; ++k) {
    const std::int64_t want = magnitude(n.count[k]);
    const std::int64_t len = n.len[k];
    shape[k] = static_cast<std::uint32_t>(want);
    copied[k] = static_cast<std::uint32_t>(want < len ? want : len);
    from[k] = n.count[k] < 0 && len > want ? static_cast<std::uint32_t>(len - want) : 0;
    to[k] = n.count[k] < 0 && want > len ? static_cast<std::uint32_t>(want - len) : 0;
    overtake |= want > len;
    empty_box |= copied[k] == 0;
  }
  const std::uint32_t count = checked_count(shape, ws);
  const std::uint8_t type = array_info(right_arg(ws), ws).type;

  if (type == ET_NESTED) {
    // Each row along the last axis that receives items is padded with the
    // prototype of the first item it receives; the rows that receive none,
    // with that of R's first item.
    result_from_picks(
        shape,
        [&](const std::function<void(const Pick&)>& emit) {
          if (rank == 0) {
            emit(Pick{0, false, false});
            return;
          }
          const std::uint32_t last = rank - 1;
          std::array<std::uint32_t, kMaxRank> at{};
          for (std::uint64_t done = 0; done < count; done += shape[last]) {
            bool receives = !empty_box;
            std::uint64_t row = 0;  // R's position of the row's first copied item
            for (std::uint32_t k = 0; k < last; ++k) {
              receives &= at[k] >= to[k] && at[k] < to[k] + copied[k];
              row = row * n.len[k] + (at[k] - to[k] + from[k]);
            }
            row = (row * n.len[last] + from[last]);
            const std::uint32_t proto = receives ? static_cast<std::uint32_t>(row) : 0;
            for (std::uint32_t j = 0; j < shape[last]; ++j) {
              if (receives && j >= to[last] && j < to[last] + copied[last])
                emit(Pick{static_cast<std::uint32_t>(row + (j - to[last])), false, false});
              else
                emit(Pick{proto, false, true});
            }
            for (std::uint32_t k = last; k-- > 0;) {
              if (++at[k] < shape[k]) break;
              at[k] = 0;
            }
          }
        },
        false, ws);
    return;
  }

  const std::uint32_t width = elem_bytes(type);
  const std::uint32_t first = oprslt(count, 4 * rank, type, 0, ws);
  for (std::uint32_t k = 0; k < rank; ++k) wr32(ws, first + 4 * k, shape[k]);
  const ArrayInfo z = array_info(first - obj::Shape, ws);
  const std::uint32_t end = z.off + rd32(ws, z.off + obj::Size);
  if (count == 0) return;
  // The fill shows only where an axis is overtaken; boolean runs are ORed in.
  if (overtake || type == ET_BOOL) {
    if (type == ET_CHAR) std::memset(ws + z.data, blank_char(), count);
    else std::memset(ws + z.data, 0, end - z.data);
  }
  if (empty_box) return;
  check_attention(ws);
  const ArrayInfo r = array_info(right_arg(ws), ws);

  // Trailing axes taken whole in R and in the result join the run along the
  // last axis; the axes before `run_axis` are walked by an odometer.
  std::uint32_t run_axis = rank;
  std::uint64_t run = 1;
  while (run_axis > 0) {
    const std::uint32_t k = run_axis - 1;
    run *= copied[k];
    run_axis = k;
    if (copied[k] != n.len[k] || copied[k] != shape[k]) break;
  }
  // Strides of R and of the result, and the first positions.
  std::array<std::uint64_t, kMaxRank> rstride{}, zstride{};
  std::uint64_t rs = 1, zs = 1, rpos = 0, zpos = 0;
  for (std::uint32_t k = rank; k-- > 0;) {
    rstride[k] = rs;
    zstride[k] = zs;
    rpos += from[k] * rs;
    zpos += to[k] * zs;
    rs *= n.len[k];
    zs *= shape[k];
  }
  std::uint8_t* const zd = ws + z.data;
  const std::uint8_t* const rd = ws + r.data;
  std::array<std::uint32_t, kMaxRank> at{};
  for (;;) {
    if (width == 0) copy_bits(zd, zpos, rd, rpos, run);
    else std::memcpy(zd + zpos * width, rd + rpos * width, run * width);
    std::uint32_t k = run_axis;
    for (; k-- > 0;) {
      rpos += rstride[k];
      zpos += zstride[k];
      if (++at[k] < copied[k]) break;
      rpos -= copied[k] * rstride[k];
      zpos -= copied[k] * zstride[k];
      at[k] = 0;
    }
    if (k == ~0u) break;
  }
}

}  // namespace

void take_dyadic(const PrimitiveCall& c, Ws ws) {
  const ArrayInfo l = array_info(left_arg(ws), ws);
  const ArrayInfo r = array_info(right_arg(ws), ws);
  if (l.count == 0 && r.rank == 0) {
    take_by_counts(Counts{}, ws);  // R itself
    return;
  }
  take_by_counts(check_counts(c, true, ws), ws);
}

void drop_dyadic(const PrimitiveCall& c, Ws ws) {
  Counts n = check_counts(c, false, ws);
  for (std::uint32_t k = 0; k < n.rank; ++k) {
    const std::int64_t drop = magnitude(n.count[k]);
    const std::int64_t keep = drop < n.len[k] ? n.len[k] - drop : 0;
    n.count[k] = n.count[k] > 0 ? -keep : keep;
  }
  take_by_counts(n, ws);
}

}  // namespace zema
