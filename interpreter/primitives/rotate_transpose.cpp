// ⌽R ⊖R (reverse), L⌽R L⊖R (rotate), ⍉R and L⍉R (transpose).
//
// Each result has R's type. Reverse and rotate move whole runs: the slabs
// after the axis as one block each, the rows along the last axis as two
// runs (rotate) or one reversed run (reverse); booleans are moved 32 bits at
// a time. Transpose fills the result in ravel order from R's elements at a
// computed stride, the last two result axes walked in tiles so that both
// arrays stay in the cache. A nested R whose items all reach the result is
// copied with its item block verbatim and only its offset table permuted,
// like integers; a diagonal of a nested R picks its items
// (result_from_picks), which also makes the result simple when they are
// simple scalars.
#include <algorithm>
#include <cstring>

#include "interpreter/workspace/sysvar_slots.h"
#include "interpreter/primitives/args.h"
#include "interpreter/primitives/structural.h"
#include "interpreter/workspace/errors.h"

namespace zema {

namespace {

// ---- bit runs (first element in bit 31 of each word) ------------------------------

inline std::uint32_t load_word(const std::uint8_t* p, std::uint64_t w) {
  std::uint32_t v;
  std::memcpy(&v, p + 4 * w, 4);
  return v;
}
inline void store_word(std::uint8_t* p, std::uint64_t w, std::uint32_t v) { std::memcpy(p + 4 * w, &v, 4); }

// The n bits (1 to 32) from bit `pos`, in the top n bits of the answer, the rest clear.
inline std::uint32_t get_bits(const std::uint8_t* p, std::uint64_t pos, unsigned n) {
  const std::uint64_t w = pos / 32;
  const unsigned off = pos % 32;
  std::uint32_t v = load_word(p, w) << off;
  if (off + n > 32) v |= load_word(p, w + 1) >> (32 - off);
  return n == 32 ? v : v & ~(~0u >> n);
}

// Writes the top n bits (1 to 32) of v at bit `pos`, the bits around kept.
inline void put_bits(std::uint8_t* p, std::uint64_t pos, std::uint32_t v, unsigned n) {
  const std::uint64_t w = pos / 32;
  const unsigned off = pos % 32;
  const std::uint32_t mask = n == 32 ? ~0u : ~(~0u >> n);
  const std::uint32_t m0 = mask >> off;
  store_word(p, w, (load_word(p, w) & ~m0) | ((v >> off) & m0));
  if (off + n > 32) {
    const std::uint32_t m1 = mask << (32 - off);
    store_word(p, w + 1, (load_word(p, w + 1) & ~m1) | ((v << (32 - off)) & m1));
  }
}

inline std::uint32_t reverse_bits(std::uint32_t v) {
  v = ((v >> 1) & 0x55555555u) | ((v & 0x55555555u) << 1);
  v = ((v >> 2) & 0x33333333u) | ((v & 0x33333333u) << 2);
  v = ((v >> 4) & 0x0F0F0F0Fu) | ((v & 0x0F0F0F0Fu) << 4);
  return __builtin_bswap32(v);
}

// dst bits [d, d+n) ← src bits [s, s+n); the two runs do not overlap.
void copy_bits(std::uint8_t* dst, std::uint64_t d, const std::uint8_t* src, std::uint64_t s, std::uint64_t n) {
  if (n == 0) return;
  if (d % 32 == 0 && s % 32 == 0) {
    std::memcpy(dst + d / 8, src + s / 8, 4 * (n / 32));
    if (n % 32) put_bits(dst, d + n - n % 32, get_bits(src, s + n - n % 32, n % 32), n % 32);
    return;
  }
  // A head that brings the destination to a word boundary, then whole words.
  std::uint64_t t = std::min<std::uint64_t>(n, (32 - d % 32) % 32);
  if (t) put_bits(dst, d, get_bits(src, s, static_cast<unsigned>(t)), static_cast<unsigned>(t));
  for (; t + 32 <= n; t += 32) store_word(dst, (d + t) / 32, get_bits(src, s + t, 32));
  if (t < n) put_bits(dst, d + t, get_bits(src, s + t, static_cast<unsigned>(n - t)), static_cast<unsigned>(n - t));
}

// dst bits [d, d+n) ← src bits [s, s+n) in reverse order.
void copy_bits_reversed(std::uint8_t* dst, std::uint64_t d, const std::uint8_t* src, std::uint64_t s,
                        std::uint64_t n) {
  std::uint64_t t = 0;
  while (t < n) {
    // Chunks end at the destination's word boundaries, so most are whole words.
    const auto m = static_cast<unsigned>(std::min<std::uint64_t>(n - t, 32 - (d + t) % 32));
    const std::uint32_t v = get_bits(src, s + n - t - m, m);
    const std::uint32_t r = reverse_bits(v) << (32 - m);
    if (m == 32) store_word(dst, (d + t) / 32, r);
    else put_bits(dst, d + t, r, m);
    t += m;
  }
}

// ---- results ------------------------------------------------------------------------

// Bytes moved per element: the offset table of a nested array moves like integers.
std::uint32_t width_of(std::uint8_t type) { return type == ET_NESTED ? 4 : elem_bytes(type); }

// Bytes after a nested array's offset table: its items (or carried prototype).
std::uint32_t item_block_bytes(const ArrayInfo& a, Ws ws) {
  return rd32(ws, a.off + obj::Size) - (a.data - a.off) - 4 * a.count;
}

// Allocates the result of R's type with `rank` axes of `shape` (count
// elements, those of R when `count` equals R's). A nested result gets R's
// item block copied behind its offset table: the caller writes the offsets
// (R's offsets moved by 4 × the change of rank). A boolean result has its
// last word cleared; nothing else of the data is written. R may have
// moved: read it again from its descriptor.
ArrayInfo result_like(const std::uint32_t* shape, std::uint32_t rank, std::uint32_t count, Ws ws) {
  ArrayInfo r = array_info(right_arg(ws), ws);
  const std::uint32_t extra = r.type == ET_NESTED ? item_block_bytes(r, ws) : 0;
  const std::uint32_t first = oprslt(count, 4 * rank, r.type, extra, ws);
  for (std::uint32_t k = 0; k < rank; ++k) wr32(ws, first + 4 * k, shape[k]);
  const ArrayInfo z = array_info(first - obj::Shape, ws);
  r = array_info(right_arg(ws), ws);
  if (r.type == ET_NESTED) std::memcpy(ws + z.data + 4 * count, ws + r.data + 4 * r.count, extra);
  if (r.type == ET_BOOL && count > 0) wr32(ws, z.data + 4 * ((count - 1) / 32), 0);
  return z;
}

// A result that is a copy of R.
void copy_of_right(Ws ws) {
  const ArrayInfo r0 = array_info(right_arg(ws), ws);
  std::uint32_t shape[63];
  for (std::uint32_t k = 0; k < r0.rank; ++k) shape[k] = dim(r0, k, ws);
  const ArrayInfo z = result_like(shape, r0.rank, r0.count, ws);
  const ArrayInfo r = array_info(right_arg(ws), ws);
  const std::uint32_t bytes = r.type == ET_NESTED ? 4 * r.count
                              : r.type == ET_BOOL ? 4 * ((r.count + 31) / 32)
                                                  : r.count * elem_bytes(r.type);
  std::memcpy(ws + z.data, ws + r.data, bytes);
}

// Nested offsets moved by `delta` bytes (the result's rank differs from R's).
void shift_offsets(const ArrayInfo& z, std::int32_t delta, Ws ws) {
  if (delta == 0) return;
  for (std::uint32_t i = 0; i < z.count; ++i) wr32(ws, z.data + 4 * i, rd32(ws, z.data + 4 * i) + delta);
}

// An array as outer × n × inner: n the length along axis k.
struct Slabs {
  std::uint64_t outer = 1, n = 1, inner = 1;
};
Slabs slabs_of(const ArrayInfo& r, std::uint32_t k, Ws ws) {
  Slabs s;
  if (r.rank == 0) return s;
  for (std::uint32_t i = 0; i < k; ++i) s.outer *= dim(r, i, ws);
  s.n = dim(r, k, ws);
  for (std::uint32_t i = k + 1; i < r.rank; ++i) s.inner *= dim(r, i, ws);
  return s;
}

// ---- reverse ------------------------------------------------------------------------

template <std::size_t W>
void reverse_rows(std::uint8_t* z, const std::uint8_t* r, std::uint64_t rows, std::uint64_t n) {
  for (std::uint64_t o = 0; o < rows; ++o) {
    const std::uint8_t* from = r + (o * n + n) * W;
    std::uint8_t* to = z + o * n * W;
    for (std::uint64_t j = 0; j < n; ++j) std::memcpy(to + j * W, from - (j + 1) * W, W);
  }
}

void reverse_along(const ArrayInfo& z, const ArrayInfo& r, const Slabs& s, Ws ws) {
  std::uint8_t* zd = ws + z.data;
  const std::uint8_t* rd = ws + r.data;
  if (r.type == ET_BOOL) {
    for (std::uint64_t o = 0; o < s.outer; ++o) {
      const std::uint64_t base = o * s.n * s.inner;
      if (s.inner == 1) {
        copy_bits_reversed(zd, base, rd, base, s.n);
      } else {
        for (std::uint64_t j = 0; j < s.n; ++j)
          copy_bits(zd, base + j * s.inner, rd, base + (s.n - 1 - j) * s.inner, s.inner);
      }
    }
    return;
  }
  const std::uint32_t w = width_of(r.type);
  if (s.inner == 1) {
    switch (w) {
      case 1: reverse_rows<1>(zd, rd, s.outer, s.n); break;
      case 4: reverse_rows<4>(zd, rd, s.outer, s.n); break;
      case 8: reverse_rows<8>(zd, rd, s.outer, s.n); break;
      default: reverse_rows<16>(zd, rd, s.outer, s.n); break;
    }
    return;
  }
  const std::uint64_t slab = s.inner * w;
  for (std::uint64_t o = 0; o < s.outer; ++o) {
    const std::uint64_t base = o * s.n * slab;
    for (std::uint64_t j = 0; j < s.n; ++j) std::memcpy(zd + base + j * slab, rd + base + (s.n - 1 - j) * slab, slab);
  }
}

// ---- rotate -------------------------------------------------------------------------

// Element i of L as an integer (DOMAIN ERROR when it is not one).
inline std::int64_t amount_at(const ArrayInfo& l, std::uint64_t i, Ws ws) {
  if (l.type == ET_INT) return rdi32(ws, l.data + 4 * i);
  if (l.type == ET_BOOL) return bit_at(l.data, i, ws);
  return int_at(l, i, ws);
}
inline std::uint64_t rotation(std::int64_t v, std::uint64_t n) {
  const auto m = static_cast<std::int64_t>(n);
  return static_cast<std::uint64_t>(((v % m) + m) % m);
}

// Moves `len` elements (bits for booleans) from position `from` of R to `to` of Z.
inline void move_run(std::uint8_t* zd, std::uint64_t to, const std::uint8_t* rd, std::uint64_t from, std::uint64_t len,
                     std::uint32_t w) {
  if (w == 0) copy_bits(zd, to, rd, from, len);
  else std::memcpy(zd + to * w, rd + from * w, len * w);
}

void rotate_along(const ArrayInfo& z, const ArrayInfo& r, const ArrayInfo& l, bool single, const Slabs& s, Ws ws) {
  std::uint8_t* zd = ws + z.data;
  const std::uint8_t* rd = ws + r.data;
  const std::uint32_t w = width_of(r.type);
  const std::uint64_t n = s.n;
  if (single || s.inner == 1) {
    // Each row (or, with one amount, each whole slab of inner) is two runs.
    const std::uint64_t c0 = single ? rotation(amount_at(l, 0, ws), n) : 0;
    for (std::uint64_t o = 0; o < s.outer; ++o) {
      const std::uint64_t c = single ? c0 : rotation(amount_at(l, o, ws), n);
      const std::uint64_t base = o * n * s.inner;
      move_run(zd, base, rd, base + c * s.inner, (n - c) * s.inner, w);
      move_run(zd, base + (n - c) * s.inner, rd, base, c * s.inner, w);
    }
    return;
  }
  // An amount for each vector along the axis: each vector walked with its stride.
  for (std::uint64_t o = 0; o < s.outer; ++o) {
    const std::uint64_t base = o * n * s.inner;
    for (std::uint64_t i = 0; i < s.inner; ++i) {
      const std::uint64_t c = rotation(amount_at(l, o * s.inner + i, ws), n);
      std::uint64_t from = c;
      for (std::uint64_t j = 0; j < n; ++j) {
        const std::uint64_t zi = base + j * s.inner + i, ri = base + from * s.inner + i;
        if (w == 0) put_bit(z.data, zi, bit_at(r.data, ri, ws), ws);
        else std::memcpy(zd + zi * w, rd + ri * w, w);
        if (++from == n) from = 0;
      }
    }
  }
}

// ---- transpose ----------------------------------------------------------------------

// The result's axes: length and step in R's elements of each.
struct TransposePlan {
  std::uint32_t rank = 0;
  std::uint32_t len[63] = {};
  std::uint64_t step[63] = {};
  std::uint32_t count = 1;
};

// Calls `row(base, out)` for each combination of the result axes before the
// last `inner_axes`, in ravel order: `base` R's element there, `out` the
// result's ravel position.
template <class Row>
void for_each_outer(const TransposePlan& p, std::uint32_t inner_axes, std::uint64_t block, Row&& row) {
  const std::uint32_t outer_axes = p.rank - inner_axes;
  std::uint32_t idx[63] = {};
  std::uint64_t base = 0, out = 0;
  for (;;) {
    row(base, out);
    out += block;
    std::uint32_t k = outer_axes;
    for (;;) {
      if (k == 0) return;
      --k;
      base += p.step[k];
      if (++idx[k] < p.len[k]) break;
      base -= p.len[k] * p.step[k];
      idx[k] = 0;
    }
  }
}

// z[a × B + b] ← r[a × sa + b × sb] for a < A, b < B, in tiles.
template <std::size_t W>
void block_transpose(std::uint8_t* z, const std::uint8_t* r, std::uint64_t A, std::uint64_t B, std::uint64_t sa,
                     std::uint64_t sb) {
  if (sb == 1) {
    for (std::uint64_t a = 0; a < A; ++a) std::memcpy(z + a * B * W, r + a * sa * W, B * W);
    return;
  }
  constexpr std::uint64_t T = W >= 8 ? 16 : 32;
  for (std::uint64_t a0 = 0; a0 < A; a0 += T) {
    const std::uint64_t a1 = std::min(A, a0 + T);
    for (std::uint64_t b0 = 0; b0 < B; b0 += T) {
      const std::uint64_t b1 = std::min(B, b0 + T);
      for (std::uint64_t a = a0; a < a1; ++a) {
        std::uint8_t* zr = z + a * B * W;
        const std::uint8_t* rr = r + a * sa * W;
        for (std::uint64_t b = b0; b < b1; ++b) std::memcpy(zr + b * W, rr + b * sb * W, W);
      }
    }
  }
}

template <std::size_t W>
void transpose_fixed(std::uint8_t* z, const std::uint8_t* r, const TransposePlan& p) {
  if (p.rank == 1) {
    for (std::uint64_t j = 0; j < p.len[0]; ++j) std::memcpy(z + j * W, r + j * p.step[0] * W, W);
    return;
  }
  const std::uint64_t A = p.len[p.rank - 2], B = p.len[p.rank - 1];
  const std::uint64_t sa = p.step[p.rank - 2], sb = p.step[p.rank - 1];
  for_each_outer(p, 2, A * B,
                 [&](std::uint64_t base, std::uint64_t out) { block_transpose<W>(z + out * W, r + base * W, A, B, sa, sb); });
}

// A 32 × 32 bit matrix transposed in place: row i in x[i], column j in bit 31 − j.
void transpose32(std::uint32_t* x) {
  std::uint32_t m = 0x0000FFFFu;
  for (unsigned j = 16; j != 0; j >>= 1, m ^= m << j) {
    for (unsigned k = 0; k < 32; k = (k + j + 1) & ~j) {
      const std::uint32_t t = (x[k] ^ (x[k + j] >> j)) & m;
      x[k] ^= t;
      x[k + j] ^= t << j;
    }
  }
}

// Booleans. When R's elements are adjacent along the result's next-to-last
// axis (⍉ of a matrix), 32 × 32 blocks of bits are read a row of R at a
// time, transposed and written a row of the result at a time; otherwise
// the result is built a word at a time from bits read at the steps.
void transpose_bits(std::uint8_t* z, const std::uint8_t* r, const TransposePlan& p) {
  const std::uint64_t B = p.len[p.rank - 1], sb = p.step[p.rank - 1];
  if (p.rank >= 2 && p.step[p.rank - 2] == 1) {
    const std::uint64_t A = p.len[p.rank - 2];
    for_each_outer(p, 2, A * B, [&](std::uint64_t base, std::uint64_t out) {
      for (std::uint64_t a0 = 0; a0 < A; a0 += 32) {
        const auto na = static_cast<unsigned>(std::min<std::uint64_t>(32, A - a0));
        for (std::uint64_t b0 = 0; b0 < B; b0 += 32) {
          const auto nb = static_cast<unsigned>(std::min<std::uint64_t>(32, B - b0));
          std::uint32_t x[32] = {};
          for (unsigned b = 0; b < nb; ++b) x[b] = get_bits(r, base + (b0 + b) * sb + a0, na);
          transpose32(x);
          for (unsigned a = 0; a < na; ++a) put_bits(z, out + (a0 + a) * B + b0, x[a], nb);
        }
      }
    });
    return;
  }
  std::uint32_t word = 0;
  unsigned filled = 0;
  std::uint64_t words = 0;
  for_each_outer(p, 1, B, [&](std::uint64_t base, std::uint64_t) {
    std::uint64_t at = base;
    for (std::uint64_t b = 0; b < B; ++b, at += sb) {
      word |= ((load_word(r, at / 32) >> (31 - at % 32)) & 1u) << (31 - filled);
      if (++filled == 32) {
        store_word(z, words++, word);
        word = 0;
        filled = 0;
      }
    }
  });
  if (filled) store_word(z, words, word);
}

// Builds the transpose of R by the plan.
void transpose_by(const TransposePlan& p, Ws ws) {
  const ArrayInfo r0 = array_info(right_arg(ws), ws);
  if (r0.type == ET_NESTED && p.count != r0.count) {
    // A diagonal: some items are left out.
    result_from_picks(
        std::vector<std::uint32_t>(p.len, p.len + p.rank),
        [&](const std::function<void(const Pick&)>& emit) {
          const std::uint64_t B = p.len[p.rank - 1], sb = p.step[p.rank - 1];
          for_each_outer(p, 1, B, [&](std::uint64_t base, std::uint64_t) {
            for (std::uint64_t b = 0; b < B; ++b) emit(Pick{static_cast<std::uint32_t>(base + b * sb), false, false});
          });
        },
        false, ws);
    return;
  }
  const ArrayInfo z = result_like(p.len, p.rank, p.count, ws);
  if (p.count == 0) return;
  const ArrayInfo r = array_info(right_arg(ws), ws);
  std::uint8_t* zd = ws + z.data;
  const std::uint8_t* rd = ws + r.data;
  switch (width_of(r.type)) {
    case 0: transpose_bits(zd, rd, p); break;
    case 1: transpose_fixed<1>(zd, rd, p); break;
    case 4: transpose_fixed<4>(zd, rd, p); break;
    case 8: transpose_fixed<8>(zd, rd, p); break;
    default: transpose_fixed<16>(zd, rd, p); break;
  }
  if (r.type == ET_NESTED) shift_offsets(z, 4 * (static_cast<std::int32_t>(p.rank) - static_cast<std::int32_t>(r.rank)), ws);
}

// R's multipliers: the elements one step along each axis spans.
void multipliers(const ArrayInfo& r, std::uint64_t* mult, Ws ws) {
  std::uint64_t m = 1;
  for (std::uint32_t k = r.rank; k-- > 0;) {
    mult[k] = m;
    m *= dim(r, k, ws);
  }
}

}  // namespace

void reverse_monadic(const PrimitiveCall& c, Ws ws) {
  const ArrayInfo r0 = array_info(right_arg(ws), ws);
  std::uint32_t n = 0;
  const std::uint32_t k = whole_axis(c, r0, n, ws);
  if (r0.count == 0 || n <= 1) {
    copy_of_right(ws);
    return;
  }
  const Slabs s = slabs_of(r0, k, ws);
  std::uint32_t shape[63];
  for (std::uint32_t i = 0; i < r0.rank; ++i) shape[i] = dim(r0, i, ws);
  const ArrayInfo z = result_like(shape, r0.rank, r0.count, ws);
  reverse_along(z, array_info(right_arg(ws), ws), s, ws);
}

void rotate_dyadic(const PrimitiveCall& c, Ws ws) {
  const ArrayInfo l0 = array_info(left_arg(ws), ws);
  if (l0.type == ET_NESTED) domner(ws);
  const ArrayInfo r0 = array_info(right_arg(ws), ws);
  std::uint32_t n = 0;
  const std::uint32_t k = whole_axis(c, r0, n, ws);
  const bool single = l0.count == 1;
  if (!single) {
    if (l0.rank + 1 != r0.rank) ranker(ws);
    for (std::uint32_t i = 0, j = 0; i < r0.rank; ++i)
      if (i != k && dim(r0, i, ws) != dim(l0, j++, ws)) lener(ws);
  }
  if (r0.count == 0) {
    copy_of_right(ws);
    return;
  }
  // Every amount is read once before anything is built.
  for (std::uint32_t i = 0; i < l0.count; ++i) amount_at(l0, i, ws);
  if (n <= 1) {
    copy_of_right(ws);
    return;
  }
  const Slabs s = slabs_of(r0, k, ws);
  std::uint32_t shape[63];
  for (std::uint32_t i = 0; i < r0.rank; ++i) shape[i] = dim(r0, i, ws);
  const ArrayInfo z = result_like(shape, r0.rank, r0.count, ws);
  rotate_along(z, array_info(right_arg(ws), ws), array_info(left_arg(ws), ws), single, s, ws);
}

void transpose_monadic(const PrimitiveCall& c, Ws ws) {
  no_axis(c.fn_entry, ws);
  const ArrayInfo r = array_info(right_arg(ws), ws);
  if (r.rank <= 1) {
    copy_of_right(ws);
    return;
  }
  std::uint64_t mult[63];
  multipliers(r, mult, ws);
  TransposePlan p;
  p.rank = r.rank;
  p.count = r.count;
  for (std::uint32_t i = 0; i < r.rank; ++i) {
    p.len[i] = dim(r, r.rank - 1 - i, ws);
    p.step[i] = mult[r.rank - 1 - i];
  }
  transpose_by(p, ws);
}

void transpose_dyadic(const PrimitiveCall& c, Ws ws) {
  const ArrayInfo l = array_info(left_arg(ws), ws);
  if (l.type == ET_NESTED) domner(ws);
  no_axis(c.fn_entry, ws);
  if (l.rank > 1) ranker(ws);
  const ArrayInfo r = array_info(right_arg(ws), ws);
  if (l.count != r.rank) lener(ws);
  const std::int32_t io = quad_io(ws);
  std::uint32_t map[63];
  std::uint32_t top = 0;
  for (std::uint32_t i = 0; i < l.count; ++i) {
    const std::int64_t v = static_cast<std::int64_t>(amount_at(l, i, ws)) - io;
    if (v < 0 || v >= static_cast<std::int64_t>(l.count)) domner(ws);  // beyond the rank, some value is missing
    map[i] = static_cast<std::uint32_t>(v);
    top = std::max(top, map[i]);
  }
  bool seen[63] = {};
  for (std::uint32_t i = 0; i < l.count; ++i) seen[map[i]] = true;
  for (std::uint32_t v = 0; v <= top && l.count > 0; ++v)
    if (!seen[v]) domner(ws);
  if (r.rank <= 1) {
    copy_of_right(ws);
    return;
  }
  std::uint64_t mult[63];
  multipliers(r, mult, ws);
  TransposePlan p;
  p.rank = top + 1;
  for (std::uint32_t v = 0; v < p.rank; ++v) p.len[v] = 0xFFFFFFFFu;
  for (std::uint32_t i = 0; i < r.rank; ++i) {
    p.len[map[i]] = std::min(p.len[map[i]], dim(r, i, ws));
    p.step[map[i]] += mult[i];
  }
  std::uint64_t count = 1;
  for (std::uint32_t v = 0; v < p.rank; ++v) count *= p.len[v];
  p.count = static_cast<std::uint32_t>(count);  // no more than R's
  transpose_by(p, ws);
}

}  // namespace zema
