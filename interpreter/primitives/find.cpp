// L⍷R (find): a boolean of R's shape marking each position where L starts,
// L's shape extended with leading 1s to R's rank. Text in a character
// vector is found by the C library's substring search, restarted one
// character after each match so that overlapping matches are all found;
// integer vectors compare whole windows at once; anything else compares
// element by element at each origin.
#include <cstring>
#include <string.h>

#include "interpreter/primitives/args.h"
#include "interpreter/primitives/search_primitives.h"
#include "interpreter/workspace/entry.h"
#include "interpreter/workspace/errors.h"

namespace zema {

namespace {

constexpr std::uint32_t kMaxRank = 64;

void set_result_bit(std::uint8_t* zd, std::uint64_t i) {
  std::uint8_t* w = zd + 4 * (i / 32);
  std::uint32_t v;
  std::memcpy(&v, w, 4);
  v |= 0x80000000u >> (i % 32);
  std::memcpy(w, &v, 4);
}

// Every occurrence of the n bytes at `needle` in the h bytes at `hay`.
void find_text(const std::uint8_t* needle, std::uint64_t n, const std::uint8_t* hay, std::uint64_t h,
               std::uint8_t* zd) {
  if (n > h) return;
  std::uint64_t at = 0;
  while (at + n <= h) {
    const void* p = n == 1 ? std::memchr(hay + at, needle[0], h - at) : memmem(hay + at, h - at, needle, n);
    if (!p) return;
    const auto k = static_cast<std::uint64_t>(static_cast<const std::uint8_t*>(p) - hay);
    set_result_bit(zd, k);
    at = k + 1;
  }
}

// Every occurrence of the n words at `needle` in the h words at `hay`.
void find_words(const std::uint8_t* needle, std::uint64_t n, const std::uint8_t* hay, std::uint64_t h,
                std::uint8_t* zd, Ws ws) {
  if (n > h) return;
  for (std::uint64_t k = 0; k + n <= h; ++k) {
    if ((k & 0xFFFF) == 0) check_attention(ws);
    if (std::memcmp(hay + 4 * k, needle, 4) == 0 && std::memcmp(hay + 4 * k, needle, 4 * n) == 0)
      set_result_bit(zd, k);
  }
}

// Element i of L against element k of R: nested items by match; a nested
// R item against a simple L element only as a simple scalar; simple
// elements as elem_equal compares them.
bool element_equal(const ArrayInfo& a, std::uint64_t i, const ArrayInfo& b, std::uint64_t k, double ct, Ws ws) {
  if (b.type == ET_NESTED) {
    const std::uint32_t item = b.off + rd32(ws, b.data + 4 * k);
    if (a.type == ET_NESTED) return arrays_match(a.off + rd32(ws, a.data + 4 * i), item, ws);
    const ArrayInfo it = array_info(item, ws);
    if (it.type == ET_NESTED || it.rank != 0) return false;
    return elem_equal(elem_at(a, i, ws), elem_at(it, 0, ws), ct);
  }
  return elem_equal(elem_at(a, i, ws), elem_at(b, k, ws), ct);
}

// Every origin of R at which L (of R's rank, `ext` its lengths) fits, L
// compared in ravel order with R's elements at the corresponding positions.
void find_general(const ArrayInfo& a, const ArrayInfo& b, const std::uint32_t* ext, std::uint8_t* zd, Ws ws) {
  const std::uint32_t r = b.rank;
  std::uint64_t stride[kMaxRank], fits[kMaxRank], origin[kMaxRank] = {}, inner[kMaxRank];
  std::uint64_t s = 1;
  for (std::uint32_t k = r; k-- > 0;) {
    stride[k] = s;
    s *= dim(b, k, ws);
    fits[k] = dim(b, k, ws) - ext[k] + 1;
  }
  const double ct = ct_value(ws);
  std::uint64_t base = 0, origins = 0;
  for (;;) {
    if ((origins++ & 0x3FF) == 0) check_attention(ws);
    // L over its shape, an odometer with R's strides.
    bool equal = true;
    std::uint64_t at = base;
    for (std::uint32_t k = 0; k < r; ++k) inner[k] = 0;
    for (std::uint64_t i = 0; i < a.count; ++i) {
      if (!element_equal(a, i, b, at, ct, ws)) {
        equal = false;
        break;
      }
      std::uint32_t k = r;
      while (k-- > 0) {
        at += stride[k];
        if (++inner[k] < ext[k]) break;
        at -= stride[k] * ext[k];
        inner[k] = 0;
      }
    }
    if (equal) set_result_bit(zd, base);
    // The next origin.
    std::uint32_t k = r;
    for (;;) {
      if (k-- == 0) return;
      base += stride[k];
      if (++origin[k] < fits[k]) break;
      base -= stride[k] * fits[k];
      origin[k] = 0;
    }
  }
}

}  // namespace

void find_dyadic(const PrimitiveCall& c, Ws ws) {
  no_axis(c.fn_entry, ws);
  ArrayInfo b = array_info(right_arg(ws), ws);
  if (b.rank == 0) {
    const bool same = arrays_match(left_arg(ws), right_arg(ws), ws);
    const ArrayInfo z = new_simple({}, ET_BOOL, ws);
    wr32(ws, z.data, same ? 0x80000000u : 0);
    return;
  }
  const ArrayInfo z = new_simple(shape_of(b, ws), ET_BOOL, ws);
  const ArrayInfo a = array_info(left_arg(ws), ws);
  b = array_info(right_arg(ws), ws);
  if (a.count == 0 || a.rank > b.rank) return;
  if (b.type != ET_NESTED && (a.type == ET_NESTED || (a.type == ET_CHAR) != (b.type == ET_CHAR))) return;
  std::uint32_t ext[kMaxRank];
  for (std::uint32_t k = 0; k < b.rank; ++k) {
    ext[k] = k < b.rank - a.rank ? 1 : dim(a, k - (b.rank - a.rank), ws);
    if (dim(b, k, ws) < ext[k]) return;
  }
  std::uint8_t* const zd = ws + z.data;
  if (b.rank == 1 && a.type == b.type && a.type == ET_CHAR)
    return find_text(ws + a.data, a.count, ws + b.data, b.count, zd);
  if (b.rank == 1 && a.type == b.type && (a.type == ET_INT || a.type == ET_OBJREF))
    return find_words(ws + a.data, a.count, ws + b.data, b.count, zd, ws);
  find_general(a, b, ext, zd, ws);
}

}  // namespace zema
