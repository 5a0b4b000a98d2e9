// Hashing of whole arrays and the hashed nested search of dyadic ⍳.
//
// A hash must agree with match: arrays that match hash alike. Match
// compares booleans and integers by value, and empty non-character,
// non-reference arrays of one shape match whatever their type, so booleans
// hash by element value whenever integers can meet them, and every empty
// array of those types hashes as an empty integer array. Floats match
// tolerantly and cannot be hashed: the search refuses float items.
#include "interpreter/primitives/search_hash.h"

#include <algorithm>
#include <cstring>
#include <initializer_list>

#include "interpreter/workspace/entry.h"

namespace zema {

namespace {

constexpr std::uint32_t kMinLeft = 100;      // fewer L items: the scan is as quick
constexpr std::uint32_t kMinRight = 70;      // fewer R items: building the table does not pay
constexpr std::uint32_t kSlotsPerItem = 4;   // table slots per L item
constexpr std::uint32_t kEntryBytes = 12;    // item offset (0: empty), hash, position
constexpr std::uint32_t kMinSlice = 32;      // fewer L items to a pass: the scan is as quick

constexpr std::uint32_t kNumericTag = 0x7000000u;
constexpr std::uint32_t kCharTag = 0xB000000u;
constexpr std::uint32_t kNestedTag = 0xF000000u;

// Simple types whose elements read and compare as 32-bit integers
// (elem_at's and elem_equal's default): integers and anything not named.
bool compares_as_int(std::uint8_t t) {
  return t != ET_BOOL && t != ET_FLOAT && t != ET_CHAR && t != ET_OBJREF && t != ET_WIDE16 && t != ET_NESTED;
}

std::uint32_t item_at(const ArrayInfo& a, std::uint32_t i, Ws ws) { return a.off + rd32(ws, a.data + 4 * i); }

std::uint32_t load32(const std::uint8_t* p) {
  std::uint32_t v;
  std::memcpy(&v, p, 4);
  return v;
}
void store32(std::uint8_t* p, std::uint32_t v) { std::memcpy(p, &v, 4); }

}  // namespace

std::uint8_t get_highest_numeric_type(const ArrayInfo& l, const ArrayInfo& r, Ws ws) {
  std::uint8_t highest = ET_BOOL;
  for (const ArrayInfo* a : {&l, &r}) {
    if (a->type != ET_NESTED) {
      if (a->type == ET_FLOAT) return ET_FLOAT;
      if (compares_as_int(a->type)) highest = ET_INT;
      continue;
    }
    for (std::uint32_t i = 0; i < a->count; ++i) {
      const std::uint8_t t = rd8(ws, item_at(*a, i, ws) + obj::Type);
      if (t == ET_FLOAT) return ET_FLOAT;
      if (compares_as_int(t)) highest = ET_INT;
    }
  }
  return highest;
}

std::uint32_t hash_variable(std::uint32_t array, std::uint8_t numeric_type, Ws ws) {
  const ArrayInfo a = array_info(array, ws);
  const std::uint32_t n = a.count;
  std::uint32_t h = 4 * a.rank + n;
  switch (a.type) {
    case ET_NESTED: return h + kNestedTag;
    case ET_CHAR:
      h += kCharTag;
      for (std::uint32_t k = std::min(n, 8u); k-- > 0;) h = 33 * h + rd8(ws, a.data + k);
      return h;
    case ET_OBJREF: return h;
    case ET_FLOAT:
    case ET_WIDE16: return n == 0 ? h + kNumericTag : h;
    case ET_BOOL:
      h += kNumericTag;
      if (numeric_type == ET_BOOL) {
        // No integers to meet: the first word's valid bits.
        if (n == 0) return h;
        const std::uint32_t w = rd32(ws, a.data);
        return h + (n > 31 ? w : w >> (32 - n));
      }
      for (std::uint32_t k = 0; k < std::min(n, 2u); ++k) h += bit_at(a.data, k, ws) ? 1 : 0;
      return h;
    default:
      h += kNumericTag;
      for (std::uint32_t k = 0; k < std::min(n, 2u); ++k) h += rd32(ws, a.data + 4 * k);
      return h;
  }
}

namespace {

// The longest slice of n items of L whose table fits the free gap from
// `from` on; 0 when not even kMinSlice items (or all n, when fewer) fit.
std::uint32_t slice_that_fits(std::uint32_t n, std::uint64_t from, Ws ws) {
  const std::uint64_t sp = rd32(ws, hdr::StackPointer);
  const std::uint64_t start = (from + 3) & ~std::uint64_t(3);
  constexpr std::uint64_t kItemBytes = std::uint64_t(kSlotsPerItem) * kEntryBytes;
  const std::uint64_t fit = sp > start ? (sp - start - 1) / kItemBytes : 0;
  const auto slice = static_cast<std::uint32_t>(std::min<std::uint64_t>(n, fit));
  return slice < std::min(n, kMinSlice) ? 0 : slice;
}

// The hashed search of the items of r among the items of l, with tables of
// `slice` items (from slice_that_fits) in the free gap from `from` on: one
// table of all of l, or tables of slices of l in position order, one pass
// over r per slice. `missing(j)` tells whether item j of r is still to be
// looked for (asked only when there are several passes); `answer(j, i)`
// takes i, the first position in the slice of an item matching item j of r,
// or l's count. Answers false when a table fills (in the first pass, before
// any answer).
template <class Missing, class Answer>
bool hashed_in_passes(const ArrayInfo& l, const ArrayInfo& r, std::uint8_t numeric, std::uint64_t from,
                      std::uint32_t slice, const Missing& missing, const Answer& answer, Ws ws) {
  const std::uint32_t n = l.count, m = r.count;
  const bool passes = slice < n;
  std::uint8_t* const table = ws + ((from + 3) & ~std::uint64_t(3));

  for (std::uint32_t lo = 0; lo < n; lo += slice) {
    check_attention(ws);
    const std::uint32_t count = std::min(n - lo, slice);
    const std::uint32_t slots = kSlotsPerItem * count;
    std::memset(table, 0, std::uint64_t(kEntryBytes) * slots);
    // The slot holding an item that matches, else the empty slot where the
    // probe stopped, else `slots` when the probe came back to its start.
    auto probe = [&](std::uint32_t item, std::uint32_t hash) {
      const std::uint32_t home = hash % slots;
      std::uint32_t s = home;
      do {
        const std::uint8_t* e = table + std::uint64_t(kEntryBytes) * s;
        const std::uint32_t at = load32(e);
        if (at == 0 || (load32(e + 4) == hash && arrays_match(at, item, ws))) return s;
        if (++s == slots) s = 0;
      } while (s != home);
      return slots;
    };

    for (std::uint32_t i = lo; i < lo + count; ++i) {
      if ((i & 0xFFF) == 0) check_attention(ws);
      const std::uint32_t item = item_at(l, i, ws);
      const std::uint32_t hash = hash_variable(item, numeric, ws);
      const std::uint32_t s = probe(item, hash);
      if (s == slots) return false;
      std::uint8_t* e = table + std::uint64_t(kEntryBytes) * s;
      if (load32(e) != 0) continue;  // an earlier equal item keeps its position
      store32(e, item);
      store32(e + 4, hash);
      store32(e + 8, i);
    }
    for (std::uint32_t j = 0; j < m; ++j) {
      if ((j & 0xFF) == 0) check_attention(ws);
      if (passes && !missing(j)) continue;
      const std::uint32_t item = item_at(r, j, ws);
      const std::uint32_t s = probe(item, hash_variable(item, numeric, ws));
      std::uint32_t found = n;
      if (s != slots) {
        const std::uint8_t* e = table + std::uint64_t(kEntryBytes) * s;
        if (load32(e) != 0) found = load32(e + 8);
      }
      answer(j, found);
    }
  }
  return true;
}

// Whether the hashed search applies to L and R at all; the numeric type
// their items hash under in `numeric`.
bool nested_search_applies(const ArrayInfo& l, const ArrayInfo& r, std::uint8_t& numeric, Ws ws) {
  if (l.type != ET_NESTED || r.type != ET_NESTED || l.count < kMinLeft || r.count < kMinRight) return false;
  numeric = get_highest_numeric_type(l, r, ws);
  return numeric != ET_FLOAT;
}

}  // namespace

bool index_nested_hashed(const ArrayInfo& l, const ArrayInfo& r, const ArrayInfo& z, std::int32_t io, Ws ws) {
  std::uint8_t numeric;
  if (!nested_search_applies(l, r, numeric, ws)) return false;
  const std::uint64_t top = rd32(ws, hdr::HeapTop);
  const std::uint32_t n = l.count, slice = slice_that_fits(n, top, ws);
  if (slice == 0) return false;
  const std::uint32_t missing = static_cast<std::uint32_t>(io) + n;
  // Several passes gather the answers in z, where a probe not yet found
  // holds ⎕IO + n.
  if (slice < n)
    for (std::uint32_t j = 0; j < r.count; ++j) wr32(ws, z.data + 4 * j, missing);
  return hashed_in_passes(l, r, numeric, top, slice,
                          [&](std::uint32_t j) { return rd32(ws, z.data + 4 * j) == missing; },
                          [&](std::uint32_t j, std::uint32_t found) {
                            if (found != n || slice == n)
                              wr32(ws, z.data + 4 * j, static_cast<std::uint32_t>(io) + found);
                          }, ws);
}

bool search_nested_hashed(const ArrayInfo& l, const ArrayInfo& r,
                          const std::function<void(std::uint32_t, std::uint32_t)>& answer, Ws ws) {
  std::uint8_t numeric;
  if (!nested_search_applies(l, r, numeric, ws)) return false;
  const std::uint32_t n = l.count, m = r.count;
  const std::uint64_t top = rd32(ws, hdr::HeapTop);
  // One table of all of L: the answers are handed on as they are found.
  if (slice_that_fits(n, top, ws) == n)
    return hashed_in_passes(l, r, numeric, top, n, [](std::uint32_t) { return true; }, answer, ws);
  // Slices: the first positions gather in a word per probe at the start of
  // the gap, the tables after them, and are handed on when all are known.
  const std::uint64_t found_at = (top + 3) & ~std::uint64_t(3);
  const std::uint64_t tables = found_at + 4ull * m;
  const std::uint32_t slice = tables < rd32(ws, hdr::StackPointer) ? slice_that_fits(n, tables, ws) : 0;
  if (slice == 0) return false;
  std::uint8_t* const found = ws + found_at;
  for (std::uint32_t j = 0; j < m; ++j) store32(found + 4ull * j, n);
  if (!hashed_in_passes(l, r, numeric, tables, slice, [&](std::uint32_t j) { return load32(found + 4ull * j) == n; },
                        [&](std::uint32_t j, std::uint32_t i) {
                          if (i != n) store32(found + 4ull * j, i);
                        }, ws))
    return false;
  for (std::uint32_t j = 0; j < m; ++j) answer(j, load32(found + 4ull * j));
  return true;
}

}  // namespace zema
