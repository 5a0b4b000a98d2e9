// ⍋ and ⍒. Vectors are sorted by kind: booleans in two gathering passes,
// characters by counting ranks, integers and floats by a least-significant-
// digit radix sort of order-preserving unsigned keys. Each is stable, and ⍒
// sorts the complemented keys upwards, so equal elements keep ascending
// index order in both directions. Cells of higher-rank arrays are merge
// sorted by index with a lexicographic comparison (stable as well), but
// for integer rows of a few columns, radix sorted a column at a time from
// the last. All scratch that grows with the data lies in the free gap
// above the heap.
#include "interpreter/primitives/grade.h"

#include <algorithm>
#include <bit>
#include <cstdint>
#include <cstring>

#include "interpreter/workspace/sysvar_slots.h"
#include "interpreter/primitives/args.h"
#include "interpreter/primitives/structural.h"
#include "interpreter/workspace/entry.h"
#include "interpreter/workspace/errors.h"
#include "interpreter/workspace/heap.h"

namespace zema {

namespace {

// Bytes left untouched below the stack pointer.
constexpr std::uint64_t kStackMargin = 128;

inline std::uint32_t load32(const std::uint8_t* p) {
  std::uint32_t v;
  std::memcpy(&v, p, 4);
  return v;
}
inline void store32(std::uint8_t* p, std::uint32_t v) { std::memcpy(p, &v, 4); }

// `bytes` of scratch in the free gap between heap top and stack, 8-aligned
// in host memory, or nullptr when the gap is short even after a compaction.
// Arrays read before the call must be read again after it.
std::uint8_t* gap_room(std::uint64_t bytes, Ws ws) {
  for (bool compacted = false;; compacted = true) {
    const std::uint64_t top = rd32(ws, hdr::HeapTop), sp = rd32(ws, hdr::StackPointer);
    const auto at = reinterpret_cast<std::uintptr_t>(ws + top);
    const std::uint64_t pad = (8 - at % 8) % 8;
    if (sp > top && sp - top >= pad + bytes + kStackMargin) return ws + top + pad;
    if (compacted) return nullptr;
    force_gcol(ws);
  }
}
// The same, WS FULL when the gap is short.
std::uint8_t* gap_scratch(std::uint64_t bytes, Ws ws) {
  std::uint8_t* s = gap_room(bytes, ws);
  if (!s) xwsfll(ws);
  return s;
}

// The result's index vector: slot i gets index x + ⎕IO.
void write_indices(const std::uint32_t* x, std::uint32_t n, std::int32_t io, Ws ws) {
  std::uint8_t* z = ws + desc_array(hdr::ResultDesc, ws) + obj::Shape + 4;
  for (std::uint32_t i = 0; i < n; ++i) store32(z + 4ull * i, x[i] + static_cast<std::uint32_t>(io));
}
void write_identity(std::uint32_t n, std::int32_t io, Ws ws) {
  std::uint8_t* z = ws + desc_array(hdr::ResultDesc, ws) + obj::Shape + 4;
  for (std::uint32_t i = 0; i < n; ++i) store32(z + 4ull * i, i + static_cast<std::uint32_t>(io));
}

// ---- vectors ---------------------------------------------------------------------

// Booleans: the indices of the 0s then of the 1s (⍒: the 1s first), each
// in ascending order, found a word at a time.
void grade_bools(std::uint32_t data, std::uint32_t n, bool down, std::int32_t io, std::uint8_t* z, Ws ws) {
  const std::uint8_t* d = ws + data;
  const std::uint32_t words = (n + 31) / 32;
  std::uint64_t out = 0;
  for (int pass = 0; pass < 2; ++pass) {
    const bool ones = (pass == 0) == down;
    for (std::uint32_t w = 0; w < words; ++w) {
      std::uint32_t bits = load32(d + 4ull * w);
      if (!ones) bits = ~bits;
      if (w == words - 1 && n % 32) bits &= ~0u << (32 - n % 32);
      while (bits) {
        const int b = __builtin_clz(bits);
        bits &= ~(0x80000000u >> b);
        store32(z + 4 * out++, 32 * w + static_cast<std::uint32_t>(b) + static_cast<std::uint32_t>(io));
      }
    }
  }
}

// Characters by their rank in `table` (0 first), counted into one bucket
// per rank; ⍒ takes the buckets from the highest rank down.
void grade_chars(std::uint32_t data, std::uint32_t n, const std::uint8_t* table, bool down, std::int32_t io,
                 std::uint8_t* z, Ws ws) {
  const std::uint8_t* d = ws + data;
  std::uint32_t start[256] = {};
  for (std::uint32_t i = 0; i < n; ++i) ++start[table[d[i]]];
  std::uint32_t sum = 0;
  for (int k = 0; k < 256; ++k) {
    const int rank = down ? 255 - k : k;
    const std::uint32_t count = start[rank];
    start[rank] = sum;
    sum += count;
  }
  for (std::uint32_t i = 0; i < n; ++i) store32(z + 4ull * start[table[d[i]]]++, i + static_cast<std::uint32_t>(io));
}

// The exclusive prefix sums of a histogram, in place.
void prefix_sums(std::uint32_t* h, std::uint32_t buckets) {
  std::uint32_t sum = 0;
  for (std::uint32_t k = 0; k < buckets; ++k) {
    const std::uint32_t count = h[k];
    h[k] = sum;
    sum += count;
  }
}

constexpr int kDigitBits = 11;
constexpr std::uint32_t kBuckets = 1u << kDigitBits;

constexpr int kIntPasses = 3;

// Sorts n 64-bit words by their high 32 bits, stably: three passes of 11,
// 11 and 10 bits, a pass skipped when every word has the same digit there.
// `b` holds n words, `hist` kIntPasses histograms. Answers the array that
// holds the order (`a` or `b`).
std::uint64_t* radix_high_words(std::uint64_t* a, std::uint64_t* b, std::uint32_t n, std::uint32_t (*hist)[kBuckets],
                                Ws ws) {
  std::memset(hist, 0, sizeof(std::uint32_t) * kIntPasses * kBuckets);
  for (std::uint32_t i = 0; i < n; ++i) {
    const auto key = static_cast<std::uint32_t>(a[i] >> 32);
    ++hist[0][key & (kBuckets - 1)];
    ++hist[1][(key >> kDigitBits) & (kBuckets - 1)];
    ++hist[2][key >> (2 * kDigitBits)];
  }
  const auto key0 = static_cast<std::uint32_t>(a[0] >> 32);
  for (int p = 0; p < kIntPasses; ++p) {
    std::uint32_t* h = hist[p];
    if (h[(key0 >> (kDigitBits * p)) & (kBuckets - 1)] == n) continue;
    check_attention(ws);
    prefix_sums(h, kBuckets);
    const int shift = 32 + kDigitBits * p;
    for (std::uint32_t i = 0; i < n; ++i) {
      const std::uint64_t e = a[i];
      b[h[(e >> shift) & (kBuckets - 1)]++] = e;
    }
    std::swap(a, b);
  }
  return a;
}

// The unsigned key of an integer: its sign bit flipped, so that unsigned
// order is signed order, and complemented as well for ⍒.
inline std::uint32_t int_flip(bool down) { return down ? 0x7FFFFFFFu : 0x80000000u; }

// Integers: each element one 64-bit word, key above index, radix sorted.
// `a` and `b` hold n words each.
void grade_ints(std::uint32_t data, std::uint32_t n, bool down, std::int32_t io, std::uint64_t* a, std::uint64_t* b,
                std::uint32_t (*hist)[kBuckets], Ws ws) {
  const std::uint32_t flip = int_flip(down);
  const std::uint8_t* d = ws + data;
  for (std::uint32_t i = 0; i < n; ++i) a[i] = std::uint64_t(load32(d + 4ull * i) ^ flip) << 32 | i;
  const std::uint64_t* order = radix_high_words(a, b, n, hist, ws);
  std::uint8_t* z = ws + desc_array(hdr::ResultDesc, ws) + obj::Shape + 4;
  for (std::uint32_t i = 0; i < n; ++i) store32(z + 4ull * i, static_cast<std::uint32_t>(order[i]) + static_cast<std::uint32_t>(io));
}

// Rows of an integer matrix (n cells of c integers): sorted by the last
// column, then stably by each column before it, the first last. Each
// column's keys are gathered beside the indices in their current order.
void grade_int_rows(std::uint32_t data, std::uint32_t n, std::uint64_t c, bool down, std::int32_t io, std::uint64_t* a,
                    std::uint64_t* b, std::uint32_t (*hist)[kBuckets], Ws ws) {
  const std::uint32_t flip = int_flip(down);
  const std::uint8_t* d = ws + data;
  for (std::uint32_t i = 0; i < n; ++i) a[i] = i;
  for (std::uint64_t k = c; k-- > 0;) {
    for (std::uint32_t i = 0; i < n; ++i) {
      const auto at = static_cast<std::uint32_t>(a[i]);
      a[i] = std::uint64_t(load32(d + 4 * (c * at + k)) ^ flip) << 32 | at;
    }
    std::uint64_t* order = radix_high_words(a, b, n, hist, ws);
    if (order != a) std::swap(a, b);
  }
  std::uint8_t* z = ws + desc_array(hdr::ResultDesc, ws) + obj::Shape + 4;
  for (std::uint32_t i = 0; i < n; ++i) store32(z + 4ull * i, static_cast<std::uint32_t>(a[i]) + static_cast<std::uint32_t>(io));
}

// The order-preserving unsigned key of a double: a negative value's bits
// complemented, a positive value's sign bit set; −0 is taken as +0.
inline std::uint64_t float_key(double v) {
  if (v == 0) v = 0;
  std::uint64_t bits;
  std::memcpy(&bits, &v, 8);
  return (bits >> 63) ? ~bits : bits | (std::uint64_t(1) << 63);
}

// Floats: 64-bit keys (complemented for ⍒) with the indices beside them;
// six passes of 11 bits (the last of 9), a pass skipped when every key has
// the same digit there. `ka`, `kb` hold n keys, `ia`, `ib` n indices,
// `hist` kFloatPasses histograms.
constexpr int kFloatPasses = 6;
void grade_floats(std::uint32_t data, std::uint32_t n, bool down, std::int32_t io, std::uint64_t* ka,
                  std::uint64_t* kb, std::uint32_t* ia, std::uint32_t* ib, std::uint32_t (*hist)[kBuckets], Ws ws) {
  constexpr int kPasses = kFloatPasses;
  std::memset(hist, 0, sizeof(std::uint32_t) * kPasses * kBuckets);
  const std::uint64_t flip = down ? ~std::uint64_t(0) : 0;
  const std::uint8_t* d = ws + data;
  for (std::uint32_t i = 0; i < n; ++i) {
    double v;
    std::memcpy(&v, d + 8ull * i, 8);
    const std::uint64_t key = float_key(v) ^ flip;
    ka[i] = key;
    ia[i] = i;
    for (int p = 0; p < kPasses; ++p) ++hist[p][(key >> (kDigitBits * p)) & (kBuckets - 1)];
  }
  int moving[kPasses], passes = 0;
  for (int p = 0; p < kPasses; ++p)
    if (hist[p][(ka[0] >> (kDigitBits * p)) & (kBuckets - 1)] != n) moving[passes++] = p;
  if (passes == 0) return write_identity(n, io, ws);
  std::uint8_t* z = ws + desc_array(hdr::ResultDesc, ws) + obj::Shape + 4;
  for (int k = 0; k < passes; ++k) {
    check_attention(ws);
    const int shift = kDigitBits * moving[k];
    std::uint32_t* h = hist[moving[k]];
    prefix_sums(h, kBuckets);
    if (k == passes - 1) {
      for (std::uint32_t i = 0; i < n; ++i)
        store32(z + 4ull * h[(ka[i] >> shift) & (kBuckets - 1)]++, ia[i] + static_cast<std::uint32_t>(io));
    } else {
      for (std::uint32_t i = 0; i < n; ++i) {
        const std::uint32_t at = h[(ka[i] >> shift) & (kBuckets - 1)]++;
        kb[at] = ka[i];
        ib[at] = ia[i];
      }
      std::swap(ka, kb);
      std::swap(ia, ib);
    }
  }
}

// ---- cells of higher-rank arrays -------------------------------------------------

// Comparisons of cell x with cell y, each of `c` elements: negative, zero or
// positive as x sorts before, with or after y.
struct IntCells {
  const std::uint8_t* d;
  std::uint64_t c;
  int operator()(std::uint32_t x, std::uint32_t y) const {
    const std::uint8_t *p = d + 4 * c * x, *q = d + 4 * c * y;
    for (std::uint64_t k = 0; k < c; ++k) {
      const auto u = static_cast<std::int32_t>(load32(p + 4 * k)), v = static_cast<std::int32_t>(load32(q + 4 * k));
      if (u != v) return u < v ? -1 : 1;
    }
    return 0;
  }
};

// Doubles compare exactly; −0 and +0 are equal.
struct FloatCells {
  const std::uint8_t* d;
  std::uint64_t c;
  int operator()(std::uint32_t x, std::uint32_t y) const {
    const std::uint8_t *p = d + 8 * c * x, *q = d + 8 * c * y;
    for (std::uint64_t k = 0; k < c; ++k) {
      double u, v;
      std::memcpy(&u, p + 8 * k, 8);
      std::memcpy(&v, q + 8 * k, 8);
      if (u != v) return u < v ? -1 : 1;
    }
    return 0;
  }
};

// Booleans compared 32 bits at a time: bits are stored first-in-bit-31, so
// unsigned order of two aligned chunks is the order of their first
// differing bit.
struct BoolCells {
  const std::uint8_t* d;
  std::uint64_t c;
  std::uint64_t words;
  std::uint32_t word(std::uint64_t w) const { return w < words ? load32(d + 4 * w) : 0; }
  // The 32 bits from bit position `at`.
  std::uint32_t chunk(std::uint64_t at) const {
    const std::uint64_t both = std::uint64_t(word(at / 32)) << 32 | word(at / 32 + 1);
    return static_cast<std::uint32_t>((both << (at % 32)) >> 32);
  }
  int operator()(std::uint32_t x, std::uint32_t y) const {
    const std::uint64_t p = c * x, q = c * y;
    for (std::uint64_t k = 0; k < c; k += 32) {
      std::uint32_t u = chunk(p + k), v = chunk(q + k);
      if (c - k < 32) {
        const std::uint32_t keep = ~0u << (32 - (c - k));
        u &= keep;
        v &= keep;
      }
      if (u != v) return u < v ? -1 : 1;
    }
    return 0;
  }
};

// Characters by internal code (the monadic order).
struct CodeCells {
  const std::uint8_t* d;
  std::uint64_t c;
  int operator()(std::uint32_t x, std::uint32_t y) const { return std::memcmp(d + c * x, d + c * y, c); }
};

// Characters by their rank in one collating table.
struct RankCells {
  const std::uint8_t* d;
  std::uint64_t c;
  const std::uint8_t* table;
  int operator()(std::uint32_t x, std::uint32_t y) const {
    const std::uint8_t *p = d + c * x, *q = d + c * y;
    for (std::uint64_t k = 0; k < c; ++k) {
      const std::uint8_t u = table[p[k]], v = table[q[k]];
      if (u != v) return u < v ? -1 : 1;
    }
    return 0;
  }
};

// Characters by several tables of 256 ranks, one per level: all characters
// by the first table, then, when equal throughout, by the next.
struct LevelCells {
  const std::uint8_t* d;
  std::uint64_t c;
  const std::uint32_t* tables;
  std::uint32_t levels;
  int operator()(std::uint32_t x, std::uint32_t y) const {
    const std::uint8_t *p = d + c * x, *q = d + c * y;
    for (std::uint32_t level = 0; level < levels; ++level) {
      const std::uint32_t* t = tables + 256 * level;
      for (std::uint64_t k = 0; k < c; ++k) {
        const std::uint32_t u = t[p[k]], v = t[q[k]];
        if (u != v) return u < v ? -1 : 1;
      }
    }
    return 0;
  }
};

// Stable merge sort of the indices 0 … n−1 in `a` (`b` the same size) by
// `cmp`, upwards or downwards; answers the array holding the order. Runs
// of kRun are sorted by insertion first.
template <class Cmp>
std::uint32_t* merge_sort(std::uint32_t* a, std::uint32_t* b, std::uint32_t n, bool down, const Cmp& cmp, Ws ws) {
  auto before = [&](std::uint32_t x, std::uint32_t y) {
    const int r = cmp(x, y);
    return down ? r > 0 : r < 0;
  };
  constexpr std::uint32_t kRun = 16;
  for (std::uint32_t i = 0; i < n; ++i) a[i] = i;
  for (std::uint32_t lo = 0; lo < n; lo += kRun) {
    const std::uint32_t hi = std::min(n, lo + kRun);
    for (std::uint32_t i = lo + 1; i < hi; ++i) {
      const std::uint32_t x = a[i];
      std::uint32_t j = i;
      for (; j > lo && before(x, a[j - 1]); --j) a[j] = a[j - 1];
      a[j] = x;
    }
  }
  for (std::uint64_t width = kRun; width < n; width *= 2) {
    check_attention(ws);
    for (std::uint64_t lo = 0; lo < n; lo += 2 * width) {
      const auto mid = static_cast<std::uint32_t>(std::min<std::uint64_t>(n, lo + width));
      const auto hi = static_cast<std::uint32_t>(std::min<std::uint64_t>(n, lo + 2 * width));
      auto i = static_cast<std::uint32_t>(lo), j = mid, out = static_cast<std::uint32_t>(lo);
      if (mid < hi && !before(a[mid], a[mid - 1])) {
        std::memcpy(b + lo, a + lo, 4ull * (hi - lo));
        continue;
      }
      while (i < mid && j < hi) b[out++] = before(a[j], a[i]) ? a[j++] : a[i++];
      while (i < mid) b[out++] = a[i++];
      while (j < hi) b[out++] = a[j++];
    }
    std::swap(a, b);
  }
  return a;
}

// ---- collating tables --------------------------------------------------------------

// One rank per character: the order of first appearance in L's ravel;
// characters absent from L rank 255.
void single_table(const ArrayInfo& l, std::uint8_t* table, Ws ws) {
  std::memset(table, 255, 256);
  bool seen[256] = {};
  std::uint32_t next = 0;
  for (std::uint32_t i = 0; i < l.count; ++i) {
    const std::uint8_t ch = rd8(ws, l.data + i);
    if (seen[ch]) continue;
    seen[ch] = true;
    table[ch] = static_cast<std::uint8_t>(std::min<std::uint32_t>(next++, 255));
  }
}

// One table per axis of L: table k ranks a character by its position along
// the k-th axis of L counted from the last, at its first appearance in L's
// ravel; absent characters rank after every position.
void level_tables(const ArrayInfo& l, std::uint32_t* tables, Ws ws) {
  for (std::uint32_t k = 0; k < 256 * l.rank; ++k) tables[k] = ~0u;
  bool seen[256] = {};
  for (std::uint32_t i = 0; i < l.count; ++i) {
    const std::uint8_t ch = rd8(ws, l.data + i);
    if (seen[ch]) continue;
    seen[ch] = true;
    std::uint32_t rest = i;
    for (std::uint32_t k = 0; k < l.rank; ++k) {
      const std::uint32_t len = dim(l, l.rank - 1 - k, ws);
      tables[256 * k + ch] = rest % len;
      rest /= len;
    }
  }
}

// ---- the handlers ------------------------------------------------------------------

// Numeric vectors shorter than this are merge sorted: the radix sort's
// histograms would cost more than they save.
constexpr std::uint32_t kRadixMin = 512;

std::uint32_t right_data(Ws ws) { return array_info(right_arg(ws), ws).data; }

void grade(const PrimitiveCall& c, bool down, bool dyadic, Ws ws) {
  ArrayInfo r = array_info(right_arg(ws), ws);
  if (dyadic) {
    const ArrayInfo l = array_info(left_arg(ws), ws);
    if (l.type == ET_NESTED) domner(ws);
    no_axis(c.fn_entry, ws);
    if (l.type != ET_CHAR || r.type != ET_CHAR || l.rank == 0 || l.count == 0) domner(ws);
  } else {
    if (r.type == ET_NESTED) domner(ws);
    no_axis(c.fn_entry, ws);
  }
  if (r.rank == 0) ranker(ws);
  if (!is_numeric(r.type) && r.type != ET_CHAR) domner(ws);
  const std::int32_t io = quad_io(ws);
  const std::uint32_t n = dim(r, 0, ws);
  std::uint64_t cell = 1;
  for (std::uint32_t k = 1; k < r.rank; ++k) cell *= dim(r, k, ws);
  new_simple({n}, ET_INT, ws);
  if (n == 0) return;
  if (n == 1 || cell == 0) return write_identity(n, io, ws);

  const bool levels = dyadic && r.rank > 1 && array_rank(left_arg(ws), ws) > 1;
  std::uint8_t table[256];
  if (r.type == ET_CHAR && !levels) {
    if (dyadic) {
      single_table(array_info(left_arg(ws), ws), table, ws);
    } else {
      for (int k = 0; k < 256; ++k) table[k] = static_cast<std::uint8_t>(k);
    }
  }

  if (r.rank == 1) {
    std::uint8_t* z = ws + desc_array(hdr::ResultDesc, ws) + obj::Shape + 4;
    if (r.type == ET_BOOL) return grade_bools(right_data(ws), n, down, io, z, ws);
    if (r.type == ET_CHAR) return grade_chars(right_data(ws), n, table, down, io, z, ws);
    // Numbers by radix when the histograms pay and the gap holds them with
    // the keys and indices; otherwise by the merge sort below.
    const bool ints = r.type == ET_INT;
    const std::uint64_t hist_bytes = 4ull * kBuckets * (ints ? kIntPasses : kFloatPasses);
    std::uint8_t* s = n >= kRadixMin ? gap_room(hist_bytes + (ints ? 16ull : 24ull) * n, ws) : nullptr;
    if (s) {
      auto* hist = reinterpret_cast<std::uint32_t(*)[kBuckets]>(s);
      auto* k = reinterpret_cast<std::uint64_t*>(s + hist_bytes);
      if (ints) return grade_ints(right_data(ws), n, down, io, k, k + n, hist, ws);
      auto* i = reinterpret_cast<std::uint32_t*>(k + 2ull * n);
      return grade_floats(right_data(ws), n, down, io, k, k + n, i, i + n, hist, ws);
    }
  }

  // Integer rows by a radix sort per column when the rows are short enough
  // for it to beat the merge sort's log n passes.
  if (r.type == ET_INT && n >= kRadixMin && 3 * cell <= std::uint64_t(std::bit_width(n)) + 2) {
    const std::uint64_t hist_bytes = 4ull * kBuckets * kIntPasses;
    if (std::uint8_t* s = gap_room(hist_bytes + 16ull * n, ws)) {
      auto* k = reinterpret_cast<std::uint64_t*>(s + hist_bytes);
      return grade_int_rows(right_data(ws), n, cell, down, io, k, k + n,
                            reinterpret_cast<std::uint32_t(*)[kBuckets]>(s), ws);
    }
  }

  const std::uint32_t level_count = levels ? array_rank(left_arg(ws), ws) : 0;
  std::uint8_t* s = gap_scratch(8ull * n + 1024ull * level_count, ws);
  auto* a = reinterpret_cast<std::uint32_t*>(s);
  auto* b = a + n;
  auto* tables = b + n;
  r = array_info(right_arg(ws), ws);
  const std::uint8_t* d = ws + r.data;
  const std::uint32_t* order = nullptr;
  switch (r.type) {
    case ET_BOOL: order = merge_sort(a, b, n, down, BoolCells{d, cell, (std::uint64_t(n) * cell + 31) / 32}, ws); break;
    case ET_INT: order = merge_sort(a, b, n, down, IntCells{d, cell}, ws); break;
    case ET_FLOAT: order = merge_sort(a, b, n, down, FloatCells{d, cell}, ws); break;
    default:
      if (levels) {
        level_tables(array_info(left_arg(ws), ws), tables, ws);
        order = merge_sort(a, b, n, down, LevelCells{d, cell, tables, level_count}, ws);
      } else if (dyadic) {
        order = merge_sort(a, b, n, down, RankCells{d, cell, table}, ws);
      } else {
        order = merge_sort(a, b, n, down, CodeCells{d, cell}, ws);
      }
  }
  write_indices(order, n, io, ws);
}

}  // namespace

void grade_up_monadic(const PrimitiveCall& c, Ws ws) { grade(c, false, false, ws); }
void grade_down_monadic(const PrimitiveCall& c, Ws ws) { grade(c, true, false, ws); }
void grade_up_dyadic(const PrimitiveCall& c, Ws ws) { grade(c, false, true, ws); }
void grade_down_dyadic(const PrimitiveCall& c, Ws ws) { grade(c, true, true, ws); }

}  // namespace zema
