// The searches of dyadic ⍳, ∊ and ~ on simple arrays. Every route answers
// what a scan of the table per probe answers: the first position whose
// element equals the probe (exactly for integers, characters, references;
// under ⎕CT when a float takes part), or the table's count.
//
// Routes: kinds that cannot meet answer "missing" at once; characters look
// up a 256-entry table; a boolean table (or a boolean probe against
// integers) needs only the first 0 and the first 1; integers are
// hashed when the cost model says a table pays; with a float on either side
// the table's values are sorted with their positions, equal values keep
// their first position, and each probe looks at the values within ⎕CT of it
// (a contiguous run of the sorted values) and takes the smallest position of
// those tolerantly equal. Anything else scans.
//
// The hash table and the sorted values lie in the free gap. When the whole
// table does not fit, it is taken in slices, each as long as the gap holds,
// one pass over the probes per slice: slices go in position order, so a
// probe found in a slice has its first position there, and later passes
// look only for the probes still missing (Index: z still holds ⎕IO + n;
// Member: z's bit still clear; Without: z holds the probes still missing,
// which each pass compacts). Only a gap too small for slices that pay sends
// the search to the scan.
#include "interpreter/primitives/value_search.h"

#include <algorithm>
#include <cmath>
#include <cstring>

#include "interpreter/primitives/kernels_compare.h"
#include "interpreter/workspace/entry.h"
#include "interpreter/workspace/errors.h"

namespace zema {

namespace {

constexpr std::uint32_t kEmptyKey = 0;
constexpr std::uint32_t kPollMask = 0xFFF;  // attention is polled every 4096 probes

std::uint32_t hash32(std::uint32_t x) {
  x ^= x >> 16;
  x *= 0x7FEB352Du;
  x ^= x >> 15;
  x *= 0x846CA68Bu;
  x ^= x >> 16;
  return x;
}

std::uint32_t load32(const std::uint8_t* p) {
  std::uint32_t v;
  std::memcpy(&v, p, 4);
  return v;
}
void store32(std::uint8_t* p, std::uint32_t v) { std::memcpy(p, &v, 4); }

// Whether elements of the two simple types can ever be equal.
bool can_meet(std::uint8_t a, std::uint8_t b) {
  if (is_numeric(a) || is_numeric(b)) return is_numeric(a) && is_numeric(b);
  return a == b;
}

// Copies element j of the simple array `from` to element k of `to` (same type).
void copy_element(const ArrayInfo& from, std::uint64_t j, const ArrayInfo& to, std::uint64_t k, Ws ws) {
  if (from.type == ET_BOOL) {
    put_bit(to.data, k, bit_at(from.data, j, ws), ws);
    return;
  }
  const std::uint32_t w = elem_bytes(from.type);
  std::memcpy(ws + to.data + w * k, ws + from.data + w * j, w);
}

// The answer for probe j: `pos` is its first position, or n when missing.
template <SearchUse U>
inline void answer(SearchSink& s, const ArrayInfo& p, std::uint64_t j, std::uint32_t pos, std::uint32_t n, Ws ws) {
  if constexpr (U == SearchUse::Index) {
    store32(ws + s.z.data + 4 * j, static_cast<std::uint32_t>(s.io) + pos);
  } else if constexpr (U == SearchUse::Member) {
    if (pos != n) {
      std::uint8_t* w = ws + s.z.data + 4 * (j / 32);
      store32(w, load32(w) | (0x80000000u >> (j % 32)));
    }
  } else {
    if (pos == n) copy_element(p, j, s.z, s.kept++, ws);
  }
}

// An integer or boolean element as an integer.
inline std::int32_t int_elem(const ArrayInfo& a, std::uint64_t i, Ws ws) {
  if (a.type == ET_BOOL) return bit_at(a.data, i, ws) ? 1 : 0;
  return static_cast<std::int32_t>(load32(ws + a.data + 4 * i));
}

// A numeric element as a double.
inline double num_elem(const ArrayInfo& a, std::uint64_t i, Ws ws) {
  if (a.type == ET_FLOAT) {
    double d;
    std::memcpy(&d, ws + a.data + 8 * i, 8);
    return d;
  }
  return int_elem(a, i, ws);
}

// The cost model of the hashed and sorted routes: a table of n taken in
// `passes` slices pays against m probes when 100(n + passes × m) < ⌊n÷2⌋ × m.
bool table_pays(std::uint64_t n, std::uint64_t m, std::uint64_t passes) {
  return 100 * (n + passes * m) < (n / 2) * m;
}

// Bytes of the free gap the routes leave unused.
constexpr std::uint64_t kGapSlack = 64;

// Before the first of several passes: Index marks every probe missing;
// Without copies the probes into z, where each pass keeps those still
// missing. Answers the count of probes the first pass looks at.
template <SearchUse U>
std::uint64_t start_passes(const ArrayInfo& p, SearchSink& s, std::uint32_t n, Ws ws) {
  if constexpr (U == SearchUse::Index) {
    const std::uint32_t missing = static_cast<std::uint32_t>(s.io) + n;
    for (std::uint64_t j = 0; j < p.count; ++j) store32(ws + s.z.data + 4 * j, missing);
  } else if constexpr (U == SearchUse::Without) {
    const std::uint64_t bytes =
        p.type == ET_BOOL ? 4 * ((std::uint64_t(p.count) + 31) / 32) : std::uint64_t(elem_bytes(p.type)) * p.count;
    std::memcpy(ws + s.z.data, ws + p.data, bytes);
  }
  return p.count;
}

// The probes a pass reads: the probes, or for Without the first `live`
// elements of z.
template <SearchUse U>
ArrayInfo pass_probes(const ArrayInfo& p, const SearchSink& s, std::uint64_t live) {
  if constexpr (U != SearchUse::Without) return p;
  ArrayInfo q = s.z;
  q.type = p.type;
  q.count = static_cast<std::uint32_t>(live);
  return q;
}

// Whether probe j of a pass is still missing from the slices searched before.
template <SearchUse U>
inline bool still_missing(const SearchSink& s, std::uint64_t j, std::uint32_t n, Ws ws) {
  if constexpr (U == SearchUse::Index) return load32(ws + s.z.data + 4 * j) == static_cast<std::uint32_t>(s.io) + n;
  if constexpr (U == SearchUse::Member) return !(load32(ws + s.z.data + 4 * (j / 32)) & (0x80000000u >> (j % 32)));
  return true;
}

// A pass's answer for probe j of `q` (`pos` its first position in the slice,
// or n); Without keeps the probes still missing at the front of z, counted
// in `kept`.
template <SearchUse U>
inline void pass_answer(SearchSink& s, const ArrayInfo& q, std::uint64_t j, std::uint32_t pos, std::uint32_t n,
                        std::uint64_t& kept, Ws ws) {
  if constexpr (U == SearchUse::Without) {
    if (pos == n) copy_element(q, j, s.z, kept++, ws);
  } else {
    answer<U>(s, q, j, pos, n, ws);
  }
}

// Free bytes between the heap top and the stack.
std::uint64_t free_gap(Ws ws) {
  const std::uint64_t top = rd32(ws, hdr::HeapTop), sp = rd32(ws, hdr::StackPointer);
  return sp > top ? sp - top : 0;
}

// Every probe against every element, element by element.
template <SearchUse U>
void scan(const ArrayInfo& t, const ArrayInfo& p, SearchSink& s, Ws ws) {
  const double ct = ct_value(ws);
  for (std::uint64_t j = 0; j < p.count; ++j) {
    if ((j & 0xFF) == 0) check_attention(ws);
    const Elem v = elem_at(p, j, ws);
    std::uint32_t i = 0;
    while (i < t.count && !elem_equal(elem_at(t, i, ws), v, ct)) ++i;
    answer<U>(s, p, j, i, t.count, ws);
  }
}

template <SearchUse U>
void search_chars(const ArrayInfo& t, const ArrayInfo& p, SearchSink& s, Ws ws) {
  std::uint32_t first[256];
  for (auto& f : first) f = t.count;
  const std::uint8_t* td = ws + t.data;
  for (std::uint32_t i = t.count; i-- > 0;) first[td[i]] = i;
  for (std::uint64_t j = 0; j < p.count; ++j) answer<U>(s, p, j, first[ws[p.data + j]], t.count, ws);
}

// Integer and boolean probes against a table whose only values that matter
// are 0 and 1: their first positions.
template <SearchUse U>
void search_by_first_bits(const std::uint32_t (&first)[2], const ArrayInfo& p, std::uint32_t n, SearchSink& s,
                          Ws ws) {
  for (std::uint64_t j = 0; j < p.count; ++j) {
    const std::int32_t v = int_elem(p, j, ws);
    answer<U>(s, p, j, v == 0 || v == 1 ? first[v] : n, n, ws);
  }
}

// The first 0 and first 1 of a boolean table, word by word.
void first_bits_of_bools(const ArrayInfo& t, std::uint32_t (&first)[2], Ws ws) {
  const std::uint32_t n = t.count;
  first[0] = first[1] = n;
  const std::uint32_t words = (n + 31) / 32;
  for (std::uint32_t w = 0; w < words && (first[0] == n || first[1] == n); ++w) {
    const std::uint32_t word = rd32(ws, t.data + 4 * w);
    if (word == 0 && first[0] != n) continue;
    if (word == ~0u && first[1] != n) continue;
    for (std::uint32_t b = 0; b < 32 && 32 * w + b < n; ++b) {
      const std::uint32_t bit = (word >> (31 - b)) & 1;
      if (first[bit] == n) first[bit] = 32 * w + b;
    }
  }
}

// The first 0 and first 1 of an integer table.
void first_bits_of_ints(const ArrayInfo& t, std::uint32_t (&first)[2], Ws ws) {
  const std::uint32_t n = t.count;
  first[0] = first[1] = n;
  const std::uint8_t* td = ws + t.data;
  for (std::uint32_t i = 0; i < n && (first[0] == n || first[1] == n); ++i) {
    const std::uint32_t v = load32(td + 4ull * i);
    if (v <= 1 && first[v] == n) first[v] = i;
  }
}

// Integers: an open-addressed table of 3 slots per element in the free
// gap; a slot holds a key and, for positions, the key's first position
// beside it, so a probe visits one cache line. Slots are taken from the top
// bits of a full 32-bit mix. Each element's first slot is computed and
// prefetched some elements before it is probed: a table larger than the
// caches then costs the memory's throughput rather than one latency per
// element. The table covers the longest slice of t the gap holds, one pass
// per slice. Answers false, having done nothing, when the table does not pay
// in as many passes as the gap asks.
template <SearchUse U>
bool search_ints_hashed(const ArrayInfo& t, const ArrayInfo& p, SearchSink& s, Ws ws) {
  constexpr bool kPositions = U == SearchUse::Index;
  constexpr std::uint64_t kSlotBytes = kPositions ? 8 : 4;
  const std::uint64_t n = t.count, m = p.count;
  const std::uint64_t gap = free_gap(ws);
  const std::uint64_t fit = gap > kGapSlack ? (gap - kGapSlack - 1) / (3 * kSlotBytes) : 0;
  const std::uint64_t slice = std::min(n, fit);
  if (slice == 0) return false;
  const std::uint64_t passes = (n + slice - 1) / slice;
  if (!table_pays(n, m, passes)) return false;
  const auto n32 = static_cast<std::uint32_t>(n);
  std::uint8_t* const table = ws + ((rd32(ws, hdr::HeapTop) + 7) & ~3u);
  std::uint64_t live = passes > 1 ? start_passes<U>(p, s, n32, ws) : m;
  for (std::uint64_t lo = 0; lo < n; lo += slice) {
    check_attention(ws);
    const std::uint64_t count = std::min(n, lo + slice) - lo;
    const auto slots = static_cast<std::uint32_t>(3 * count);
    std::memset(table, 0, kSlotBytes * slots);
    auto slot_of = [slots](std::uint32_t v) {
      return static_cast<std::uint32_t>((std::uint64_t(hash32(v)) * slots) >> 32);
    };
    // A ring of first slots computed kAhead elements before they are
    // probed, each prefetched when computed.
    constexpr std::uint32_t kAhead = 32;
    std::uint32_t ring[kAhead];
    auto ahead = [&](const std::uint8_t* data, std::uint64_t size, std::uint64_t j) {
      if (j < size) {
        ring[j % kAhead] = slot_of(load32(data + 4 * j));
        __builtin_prefetch(table + kSlotBytes * ring[j % kAhead]);
      }
    };

    std::uint32_t first_zero = n32;
    const std::uint8_t* td = ws + t.data + 4 * lo;
    for (std::uint64_t j = 0; j < kAhead; ++j) ahead(td, count, j);
    for (std::uint64_t i = 0; i < count; ++i) {
      if ((i & kPollMask) == 0) check_attention(ws);
      const std::uint32_t v = load32(td + 4 * i);
      std::uint32_t k = ring[i % kAhead];
      ahead(td, count, i + kAhead);
      if (v == kEmptyKey) {
        if (first_zero == n32) first_zero = static_cast<std::uint32_t>(lo + i);
        continue;
      }
      for (;;) {
        std::uint8_t* e = table + kSlotBytes * k;
        const std::uint32_t key = load32(e);
        if (key == kEmptyKey) {
          store32(e, v);
          if constexpr (kPositions) store32(e + 4, static_cast<std::uint32_t>(lo + i));
          break;
        }
        if (key == v) break;  // an earlier duplicate keeps its position
        if (++k == slots) k = 0;
      }
    }
    const ArrayInfo q = passes > 1 ? pass_probes<U>(p, s, live) : p;
    const std::uint8_t* pd = ws + q.data;
    std::uint64_t kept = 0;
    for (std::uint64_t j = 0; j < kAhead; ++j) ahead(pd, q.count, j);
    for (std::uint64_t j = 0; j < q.count; ++j) {
      if ((j & kPollMask) == 0) check_attention(ws);
      const std::uint32_t v = load32(pd + 4 * j);
      std::uint32_t k = ring[j % kAhead];
      ahead(pd, q.count, j + kAhead);
      if (passes > 1 && !still_missing<U>(s, j, n32, ws)) continue;
      std::uint32_t found = n32;
      if (v == kEmptyKey) {
        found = first_zero;
      } else {
        for (;;) {
          const std::uint8_t* e = table + kSlotBytes * k;
          const std::uint32_t key = load32(e);
          if (key == kEmptyKey) break;
          if (key == v) {
            found = kPositions ? load32(e + 4) : 0;
            break;
          }
          if (++k == slots) k = 0;
        }
      }
      if (passes == 1) {
        answer<U>(s, p, j, found, n32, ws);
      } else {
        pass_answer<U>(s, q, j, found, n32, kept, ws);
      }
    }
    if (passes > 1 && U == SearchUse::Without) live = kept;
  }
  if (passes > 1 && U == SearchUse::Without) s.kept = static_cast<std::uint32_t>(live);
  return true;
}

template <SearchUse U>
void search_ints_scan(const ArrayInfo& t, const ArrayInfo& p, SearchSink& s, Ws ws) {
  const std::uint8_t* td = ws + t.data;
  for (std::uint64_t j = 0; j < p.count; ++j) {
    if ((j & 0xFFF) == 0) check_attention(ws);
    const std::uint32_t v = load32(ws + p.data + 4 * j);
    std::uint32_t i = 0;
    while (i < t.count && load32(td + 4ull * i) != v) ++i;
    answer<U>(s, p, j, i, t.count, ws);
  }
}

// A table value with its first position, sorted by value.
struct SortedValue {
  double v;
  std::uint32_t pos;
  std::uint32_t unused;
};

// The bounds of the values x that can be tolerantly equal to v under ct
// (|x − v| ≤ ct × max(|x|, |v|), ct below 1): x has v's sign and lies
// between v(1 − ct) and v ÷ (1 − ct). Widened by a few units in the last
// place, relative and absolute, so that rounding never puts an equal value
// outside; the values inside are then tested exactly.
void tolerance_window(double v, double ct, double& lo, double& hi) {
  constexpr double kWiden = 1e-15, kTiny = 1e-320;
  const double a = std::fabs(v);
  const double low = a * (1 - ct) * (1 - kWiden) - kTiny;
  const double high = a / (1 - ct) * (1 + kWiden) + kTiny;
  if (v < 0) {
    lo = -high;
    hi = -low;
  } else {
    lo = low;
    hi = high;
  }
}

// Numbers with a float on either side: the table's values sorted with their
// positions in the free gap, the longest slice of the table the gap holds,
// one pass per slice. Answers false, having done nothing, when the table
// does not pay in as many passes as the gap asks.
template <SearchUse U>
bool search_numbers_sorted(const ArrayInfo& t, const ArrayInfo& p, SearchSink& s, Ws ws) {
  const std::uint32_t n = t.count;
  const std::uint64_t m = p.count;
  const std::uint64_t top = rd32(ws, hdr::HeapTop), sp = rd32(ws, hdr::StackPointer);
  const auto base = reinterpret_cast<std::uintptr_t>(ws);
  const std::uint64_t start = ((base + top + 15) & ~std::uintptr_t(15)) - base;
  const std::uint64_t fit = sp > start + kGapSlack ? (sp - start - kGapSlack - 1) / sizeof(SortedValue) : 0;
  const std::uint64_t slice = std::min<std::uint64_t>(n, fit);
  if (slice == 0) return false;
  const std::uint64_t passes = (n + slice - 1) / slice;
  if (!table_pays(n, m, passes)) return false;
  auto* const sorted = reinterpret_cast<SortedValue*>(ws + start);
  const double ct = ct_value(ws);
  std::uint64_t live = passes > 1 ? start_passes<U>(p, s, n, ws) : m;
  for (std::uint64_t lo = 0; lo < n; lo += slice) {
    check_attention(ws);
    const auto count = static_cast<std::uint32_t>(std::min<std::uint64_t>(n, lo + slice) - lo);
    for (std::uint32_t i = 0; i < count; ++i) {
      const auto at = static_cast<std::uint32_t>(lo + i);
      sorted[i] = SortedValue{num_elem(t, at, ws), at, 0};
    }
    std::sort(sorted, sorted + count, [](const SortedValue& a, const SortedValue& b) {
      return a.v < b.v || (a.v == b.v && a.pos < b.pos);
    });
    // Equal values keep their first position (sorted first in their run).
    std::uint32_t distinct = 0;
    for (std::uint32_t i = 0; i < count; ++i)
      if (distinct == 0 || sorted[distinct - 1].v != sorted[i].v) sorted[distinct++] = sorted[i];
    check_attention(ws);
    SortedValue* const end = sorted + distinct;
    const ArrayInfo q = passes > 1 ? pass_probes<U>(p, s, live) : p;
    std::uint64_t kept = 0;
    for (std::uint64_t j = 0; j < q.count; ++j) {
      if ((j & kPollMask) == 0) check_attention(ws);
      if (passes > 1 && !still_missing<U>(s, j, n, ws)) continue;
      const double v = num_elem(q, j, ws);
      double low, high;
      tolerance_window(v, ct, low, high);
      const SortedValue* e =
          std::lower_bound(sorted, end, low, [](const SortedValue& a, double x) { return a.v < x; });
      std::uint32_t found = n;
      for (; e != end && e->v <= high; ++e) {
        if (e->pos < found && tolerant_equal(e->v, v, ct)) {
          found = e->pos;
          if constexpr (U != SearchUse::Index) break;  // any equal value will do
        }
      }
      if (passes == 1) {
        answer<U>(s, p, j, found, n, ws);
      } else {
        pass_answer<U>(s, q, j, found, n, kept, ws);
      }
    }
    if (passes > 1 && U == SearchUse::Without) live = kept;
  }
  if (passes > 1 && U == SearchUse::Without) s.kept = static_cast<std::uint32_t>(live);
  return true;
}

template <SearchUse U>
void search(const ArrayInfo& t, const ArrayInfo& p, SearchSink& s, Ws ws) {
  const std::uint32_t n = t.count;
  if (p.count == 0) return;
  if (n == 0 || !can_meet(t.type, p.type)) {
    for (std::uint64_t j = 0; j < p.count; ++j) answer<U>(s, p, j, n, n, ws);
    return;
  }
  if (t.type == ET_CHAR) return search_chars<U>(t, p, s, ws);
  if (is_numeric(t.type)) {
    if (t.type == ET_FLOAT || p.type == ET_FLOAT) {
      if (!search_numbers_sorted<U>(t, p, s, ws)) scan<U>(t, p, s, ws);
      return;
    }
    std::uint32_t first[2];
    if (t.type == ET_BOOL) {
      first_bits_of_bools(t, first, ws);
      return search_by_first_bits<U>(first, p, n, s, ws);
    }
    if (p.type == ET_BOOL) {
      first_bits_of_ints(t, first, ws);
      return search_by_first_bits<U>(first, p, n, s, ws);
    }
    if (!search_ints_hashed<U>(t, p, s, ws)) search_ints_scan<U>(t, p, s, ws);
    return;
  }
  scan<U>(t, p, s, ws);
}

}  // namespace

void search_simple(const ArrayInfo& table, const ArrayInfo& probes, SearchSink& sink, Ws ws) {
  if (table.type == ET_NESTED || probes.type == ET_NESTED) ZEMA_SYSTEM_ERROR(ws);
  switch (sink.use) {
    case SearchUse::Index: return search<SearchUse::Index>(table, probes, sink, ws);
    case SearchUse::Member: return search<SearchUse::Member>(table, probes, sink, ws);
    case SearchUse::Without: return search<SearchUse::Without>(table, probes, sink, ws);
  }
}

}  // namespace zema
