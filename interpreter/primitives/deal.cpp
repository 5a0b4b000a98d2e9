// L?R (deal): L distinct integers drawn from ⎕IO … ⎕IO+R−1 with the ⎕RL
// generator. Few values, or a range too large to lay out: draws are kept
// when new, in the order drawn (a hash set in the free gap says whether a
// value was drawn before, a scan when it does not fit). Otherwise the
// range is laid out as the result and the first L elements shuffled in
// place, the rest cut off.
#include <cstring>

#include "interpreter/workspace/sysvar_slots.h"
#include "interpreter/primitives/args.h"
#include "interpreter/primitives/kernels_transcendental.h"
#include "interpreter/primitives/search_primitives.h"
#include "interpreter/workspace/entry.h"
#include "interpreter/workspace/errors.h"

namespace zema {

namespace {

constexpr std::int32_t kSmallDeal = 11;           // fewer values: draw and check
constexpr std::int32_t kLargeRange = 3000000;     // a longer range is never laid out
constexpr std::uint64_t kRangeMargin = 1000;      // bytes of the free gap left beside the range
constexpr std::uint32_t kHashedFrom = 64;         // from this many values the drawn ones are hashed

std::uint32_t load32(const std::uint8_t* p) {
  std::uint32_t v;
  std::memcpy(&v, p, 4);
  return v;
}
void store32(std::uint8_t* p, std::uint32_t v) { std::memcpy(p, &v, 4); }

std::uint64_t free_gap(Ws ws) {
  const std::uint64_t top = rd32(ws, hdr::HeapTop), sp = rd32(ws, hdr::StackPointer);
  return sp > top ? sp - top : 0;
}

// Draws from 0 … range−1 until `count` distinct values are kept, each kept
// one stored at z (plus ⎕IO) in the order drawn.
void deal_by_draws(const ArrayInfo& z, std::uint32_t count, std::uint32_t range, std::int32_t io, Ws ws) {
  std::uint8_t* const zd = ws + z.data;
  std::uint64_t slots = 1;
  while (slots < 2ull * count) slots <<= 1;
  if (count >= kHashedFrom && 4 * slots + 64 < free_gap(ws)) {
    // Open addressing on draw + 1 (0 marks an empty slot).
    std::uint8_t* const set = ws + ((rd32(ws, hdr::HeapTop) + 7) & ~3u);
    std::memset(set, 0, 4 * slots);
    const std::uint64_t mask = slots - 1;
    for (std::uint32_t kept = 0, draws = 0; kept < count; ++draws) {
      if ((draws & 0xFFFF) == 0) check_attention(ws);
      const std::uint32_t key = dealrl(range, ws) + 1;
      std::uint64_t s = (key * 0x9E3779B97F4A7C15ull) >> 20 & mask;
      for (;;) {
        const std::uint32_t k = load32(set + 4 * s);
        if (k == key) break;
        if (k == 0) {
          store32(set + 4 * s, key);
          store32(zd + 4ull * kept++, key - 1 + static_cast<std::uint32_t>(io));
          break;
        }
        s = (s + 1) & mask;
      }
    }
    return;
  }
  for (std::uint32_t kept = 0, draws = 0; kept < count; ++draws) {
    if ((draws & 0xFFF) == 0) check_attention(ws);
    const std::uint32_t v = dealrl(range, ws) + static_cast<std::uint32_t>(io);
    std::uint32_t i = 0;
    while (i < kept && load32(zd + 4ull * i) != v) ++i;
    if (i == kept) store32(zd + 4ull * kept++, v);
  }
}

}  // namespace

void deal_dyadic(const PrimitiveCall& c, Ws ws) {
  ArrayInfo a = array_info(left_arg(ws), ws), b = array_info(right_arg(ws), ws);
  if (a.type == ET_NESTED || b.type == ET_NESTED) domner(ws);
  no_axis(c.fn_entry, ws);
  if (a.count != 1 || b.count != 1) ranker(ws);
  const std::int32_t count = int_at(a, 0, ws), range = int_at(b, 0, ws);
  if (count < 0 || range < count) domner(ws);
  const std::int32_t io = quad_io(ws);
  if (count < kSmallDeal || range > kLargeRange || 4ull * range + kRangeMargin > free_gap(ws)) {
    const ArrayInfo z = new_simple({static_cast<std::uint32_t>(count)}, ET_INT, ws);
    deal_by_draws(z, static_cast<std::uint32_t>(count), static_cast<std::uint32_t>(range), io, ws);
    return;
  }
  const ArrayInfo z = new_simple_at_top({static_cast<std::uint32_t>(range)}, ET_INT, ws);
  std::uint8_t* const zd = ws + z.data;
  for (std::int32_t i = 0; i < range; ++i) store32(zd + 4ull * i, static_cast<std::uint32_t>(io + i));
  for (std::int32_t j = 0; j < count; ++j) {
    const std::uint32_t k = static_cast<std::uint32_t>(j) + dealrl(static_cast<std::uint32_t>(range - j), ws);
    const std::uint32_t x = load32(zd + 4ull * j), y = load32(zd + 4ull * k);
    store32(zd + 4ull * j, y);
    store32(zd + 4ull * k, x);
  }
  cut_result_vector(z, static_cast<std::uint32_t>(count), ws);
}

}  // namespace zema
