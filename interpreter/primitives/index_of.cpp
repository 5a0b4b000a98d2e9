// ⍳R (index generator) and L⍳R (index of). Index-of chooses by types:
// booleans find the first 0 and first 1 once; integers are hashed when the
// cost model says a table pays and the free gap holds it; characters use a
// direct 256-entry table; anything else is compared element by element
// under ⎕CT (nested items by match).
#include <algorithm>
#include <cstring>
#include <vector>

#include "interpreter/primitives/args.h"
#include "interpreter/workspace/entry.h"
#include "interpreter/workspace/errors.h"
#include "interpreter/primitives/search_hash.h"
#include "interpreter/primitives/structural.h"
#include "interpreter/workspace/sysvar_slots.h"

namespace zema {

void iota_monadic(const PrimitiveCall& c, Ws ws) {
  no_axis(c.fn_entry, ws);
  const ArrayInfo r = array_info(right_arg(ws), ws);
  if (r.type == ET_NESTED || r.type == ET_OBJREF || r.type == ET_CHAR) domner(ws);
  if (r.count != 1) ranker(ws);
  const std::int32_t n = int_at(r, 0, ws);
  if (n < 0) domner(ws);
  const std::int32_t io = quad_io(ws);
  const ArrayInfo z = new_simple({static_cast<std::uint32_t>(n)}, ET_INT, ws);
  for (std::int32_t i = 0; i < n; ++i) wr32(ws, z.data + 4 * i, static_cast<std::uint32_t>(io + i));
}

namespace {

constexpr std::uint32_t kEmptyKey = 0;

std::uint32_t hash32(std::uint32_t x) {
  x ^= x >> 16;
  x *= 0x7FEB352Du;
  x ^= x >> 15;
  x *= 0x846CA68Bu;
  x ^= x >> 16;
  return x;
}

// Integers: an open-addressed table of 3n slots in the free gap between heap
// top and stack, or a scan per element. Each slot holds a key and its
// position side by side, so a probe visits one cache line. Slots are taken
// from the top bits of a full 32-bit mix (values that differ only in their
// high bits spread as well as any). Each element's first slot is computed
// and prefetched some elements before it is probed: a table larger than the
// caches then costs the memory's throughput rather than one latency per
// element.
void index_ints(const ArrayInfo& l, const ArrayInfo& r, const ArrayInfo& z, std::int32_t io, Ws ws) {
  const std::uint64_t n = l.count, m = r.count;
  const std::uint64_t gap = rd32(ws, hdr::StackPointer) - rd32(ws, hdr::HeapTop);
  const bool hash = 100 * (n + m) < (n / 2) * m && 24 * n + 64 < gap;
  if (!hash) {
    for (std::uint64_t j = 0; j < m; ++j) {
      if ((j & 0xFFF) == 0) check_attention(ws);
      const std::int32_t v = rdi32(ws, r.data + 4 * j);
      std::uint64_t i = 0;
      while (i < n && rdi32(ws, l.data + 4 * i) != v) ++i;
      wr32(ws, z.data + 4 * j, static_cast<std::uint32_t>(io + i));
    }
    return;
  }
  check_attention(ws);
  const auto slots = static_cast<std::uint32_t>(3 * n);
  const std::uint32_t table = (rd32(ws, hdr::HeapTop) + 7) & ~3u;
  std::uint8_t* t = ws + table;
  std::memset(t, 0, 8ull * slots);
  auto slot_of = [slots](std::uint32_t v) {
    return static_cast<std::uint32_t>((std::uint64_t(hash32(v)) * slots) >> 32);
  };
  auto key = [t](std::uint32_t s) {
    std::uint32_t k;
    std::memcpy(&k, t + 8ull * s, 4);
    return k;
  };
  // A ring of first slots computed kAhead elements before they are probed,
  // each prefetched when computed.
  constexpr std::uint32_t kAhead = 32;
  std::uint32_t ring[kAhead];
  auto ahead = [&](const std::uint8_t* data, std::uint64_t count, std::uint64_t j) {
    if (j < count) {
      std::uint32_t v;
      std::memcpy(&v, data + 4 * j, 4);
      ring[j % kAhead] = slot_of(v);
      __builtin_prefetch(t + 8ull * ring[j % kAhead]);
    }
  };

  std::uint32_t first_zero = static_cast<std::uint32_t>(n);
  const std::uint8_t* ld = ws + l.data;
  for (std::uint64_t j = 0; j < kAhead; ++j) ahead(ld, n, j);
  for (std::uint32_t i = 0; i < n; ++i) {
    std::uint32_t v;
    std::memcpy(&v, ld + 4ull * i, 4);
    std::uint32_t s = ring[i % kAhead];
    ahead(ld, n, i + kAhead);
    if (v == kEmptyKey) {
      if (first_zero == n) first_zero = i;
      continue;
    }
    for (;;) {
      const std::uint32_t k = key(s);
      if (k == kEmptyKey) {
        std::memcpy(t + 8ull * s, &v, 4);
        std::memcpy(t + 8ull * s + 4, &i, 4);
        break;
      }
      if (k == v) break;  // an earlier duplicate keeps its position
      if (++s == slots) s = 0;
    }
  }
  const std::uint8_t* rdata = ws + r.data;
  std::uint8_t* zd = ws + z.data;
  for (std::uint64_t j = 0; j < kAhead; ++j) ahead(rdata, m, j);
  for (std::uint64_t j = 0; j < m; ++j) {
    std::uint32_t v;
    std::memcpy(&v, rdata + 4 * j, 4);
    std::uint32_t s = ring[j % kAhead];
    ahead(rdata, m, j + kAhead);
    std::uint32_t found = static_cast<std::uint32_t>(n);
    if (v == kEmptyKey) {
      found = first_zero;
    } else {
      for (;;) {
        const std::uint32_t k = key(s);
        if (k == kEmptyKey) break;
        if (k == v) {
          std::memcpy(&found, t + 8ull * s + 4, 4);
          break;
        }
        if (++s == slots) s = 0;
      }
    }
    const std::uint32_t out = static_cast<std::uint32_t>(io) + found;
    std::memcpy(zd + 4 * j, &out, 4);
  }
}

void index_chars(const ArrayInfo& l, const ArrayInfo& r, const ArrayInfo& z, std::int32_t io, Ws ws) {
  std::uint32_t table[256];
  for (auto& t : table) t = l.count;
  for (std::uint32_t i = l.count; i-- > 0;) table[rd8(ws, l.data + i)] = i;
  for (std::uint32_t j = 0; j < r.count; ++j)
    wr32(ws, z.data + 4 * j, static_cast<std::uint32_t>(io) + table[rd8(ws, r.data + j)]);
}

void index_bools(const ArrayInfo& l, const ArrayInfo& r, const ArrayInfo& z, std::int32_t io, Ws ws) {
  std::uint32_t first[2] = {l.count, l.count};
  const std::uint32_t words = (l.count + 31) / 32;
  for (std::uint32_t w = 0; w < words && (first[0] == l.count || first[1] == l.count); ++w) {
    const std::uint32_t word = rd32(ws, l.data + 4 * w);
    if (word == 0 && first[0] != l.count) continue;
    if (word == ~0u && first[1] != l.count) continue;
    for (std::uint32_t b = 0; b < 32 && 32 * w + b < l.count; ++b) {
      const std::uint32_t bit = (word >> (31 - b)) & 1;
      if (first[bit] == l.count) first[bit] = 32 * w + b;
    }
  }
  for (std::uint32_t j = 0; j < r.count; ++j)
    wr32(ws, z.data + 4 * j, static_cast<std::uint32_t>(io) + first[bit_at(r.data, j, ws)]);
}

bool item_is_simple_scalar(const ArrayInfo& a, std::uint32_t i, Ws ws, Elem& out) {
  const ArrayInfo it = array_info(a.off + rd32(ws, a.data + 4 * i), ws);
  if (it.type == ET_NESTED || it.rank != 0) return false;
  out = elem_at(it, 0, ws);
  return true;
}

}  // namespace

void index_of_dyadic(const PrimitiveCall& c, Ws ws) {
  no_axis(c.fn_entry, ws);
  ArrayInfo l = array_info(left_arg(ws), ws);
  if (l.rank != 1) ranker(ws);
  ArrayInfo r = array_info(right_arg(ws), ws);
  const std::int32_t io = quad_io(ws);
  const ArrayInfo z = new_simple(shape_of(r, ws), ET_INT, ws);
  l = array_info(left_arg(ws), ws);
  r = array_info(right_arg(ws), ws);
  if (r.count == 0) return;
  if (l.count == 0) {
    for (std::uint32_t j = 0; j < r.count; ++j) wr32(ws, z.data + 4 * j, static_cast<std::uint32_t>(io));
    return;
  }
  if (l.type == r.type) {
    switch (l.type) {
      case ET_INT: return index_ints(l, r, z, io, ws);
      case ET_CHAR: return index_chars(l, r, z, io, ws);
      case ET_BOOL: return index_bools(l, r, z, io, ws);
      default: break;
    }
  }
  if (l.type == ET_NESTED && r.type == ET_NESTED && index_nested_hashed(l, r, z, io, ws)) return;
  const double ct = ct_value(ws);
  for (std::uint32_t j = 0; j < r.count; ++j) {
    if ((j & 0xFF) == 0) check_attention(ws);
    std::uint32_t found = l.count;
    if (l.type == ET_NESTED && r.type == ET_NESTED) {
      const std::uint32_t ri = r.off + rd32(ws, r.data + 4 * j);
      for (std::uint32_t i = 0; i < l.count && found == l.count; ++i)
        if (arrays_match(l.off + rd32(ws, l.data + 4 * i), ri, ws)) found = i;
    } else if (l.type == ET_NESTED) {
      const Elem v = elem_at(r, j, ws);
      Elem e;
      for (std::uint32_t i = 0; i < l.count && found == l.count; ++i)
        if (item_is_simple_scalar(l, i, ws, e) && elem_equal(e, v, ct)) found = i;
    } else if (r.type == ET_NESTED) {
      Elem v;
      if (item_is_simple_scalar(r, j, ws, v))
        for (std::uint32_t i = 0; i < l.count && found == l.count; ++i)
          if (elem_equal(elem_at(l, i, ws), v, ct)) found = i;
    } else {
      const Elem v = elem_at(r, j, ws);
      for (std::uint32_t i = 0; i < l.count && found == l.count; ++i)
        if (elem_equal(elem_at(l, i, ws), v, ct)) found = i;
    }
    wr32(ws, z.data + 4 * j, static_cast<std::uint32_t>(io) + found);
  }
}

}  // namespace zema
