// ⍴R (shape) and L⍴R (reshape): the result is filled by cycling through R's
// elements; short boolean patterns are cycled a whole word at a time, other
// simple types by an overlapping forward copy of the bytes already written.
#include <cstring>

#include "interpreter/primitives/args.h"
#include "interpreter/workspace/errors.h"
#include "interpreter/workspace/heap.h"
#include "interpreter/primitives/structural.h"

namespace zema {

void shape_monadic(const PrimitiveCall& c, Ws ws) {
  no_axis(c.fn_entry, ws);
  const ArrayInfo r = array_info(right_arg(ws), ws);
  const std::vector<std::uint32_t> s = shape_of(r, ws);
  const ArrayInfo z = new_simple({static_cast<std::uint32_t>(s.size())}, ET_INT, ws);
  for (std::size_t k = 0; k < s.size(); ++k) wr32(ws, z.data + 4 * k, s[k]);
}

namespace {

// Cycles the n bits of R through count result bits.
void cycle_bits(std::uint32_t zdata, std::uint32_t count, std::uint32_t rdata, std::uint32_t n, Ws ws) {
  if (n == 1 || n == 2 || n == 4 || n == 8 || n == 16 || n == 32) {
    // The pattern fills a word exactly: store that word throughout.
    const std::uint32_t head = rd32(ws, rdata) & (n == 32 ? ~0u : ~(~0u >> n));
    std::uint32_t word = head;
    for (std::uint32_t w = n; w < 32; w *= 2) word |= word >> w;
    const std::uint32_t words = (count + 31) / 32;
    for (std::uint32_t i = 0; i < words; ++i) wr32(ws, zdata + 4 * i, word);
  } else if (n >= 32) {
    // Whole words of R while they last, bit by bit across its end.
    std::uint32_t src = 0;
    for (std::uint32_t i = 0; i < count;) {
      if (i % 32 == 0 && src % 32 == 0 && src + 32 <= n && i + 32 <= count) {
        wr32(ws, zdata + i / 8, rd32(ws, rdata + src / 8));
        i += 32;
        src += 32;
      } else {
        put_bit(zdata, i++, bit_at(rdata, src++, ws), ws);
      }
      if (src == n) src = 0;
    }
  } else {
    // Build one word-aligned period of lcm-free form: n words hold 32 copies
    // of the pattern, and those n words then repeat.
    const std::uint32_t period_bits = 32 * n;
    const std::uint32_t first = count < period_bits ? count : period_bits;
    for (std::uint32_t i = 0; i < first; ++i) put_bit(zdata, i, bit_at(rdata, i % n, ws), ws);
    const std::uint32_t words = (count + 31) / 32;
    for (std::uint32_t w = n; w < words; ++w) wr32(ws, zdata + 4 * w, rd32(ws, zdata + 4 * (w - n)));
  }
  if (count % 32) {
    const std::uint32_t last = zdata + 4 * (count / 32);
    wr32(ws, last, rd32(ws, last) & ~(~0u >> (count % 32)));
  }
}

}  // namespace

void reshape_dyadic(const PrimitiveCall& c, Ws ws) {
  no_axis(c.fn_entry, ws);
  const ArrayInfo l = array_info(left_arg(ws), ws);
  if (l.type == ET_NESTED) domner(ws);
  if (l.rank > 1) ranker(ws);
  if (l.count > 63) limit_error(ws);
  std::vector<std::uint32_t> shape(l.count);
  for (std::uint32_t k = 0; k < l.count; ++k) {
    const std::int32_t v = int_at(l, k, ws);
    if (v < 0) domner(ws);
    shape[k] = static_cast<std::uint32_t>(v);
  }
  if (l.rank == 0) shape.resize(1);
  ArrayInfo r = array_info(right_arg(ws), ws);
  const std::uint32_t count = checked_count(shape, ws);
  if (r.type == ET_NESTED) {
    if (count > 0 && r.count == 0 && rd32(ws, r.off + obj::Size) < r.data - r.off + 12) noncer_1(ws);
    // Items cycle through R's; an empty R gives its prototype throughout.
    result_from_picks(
        shape,
        [&](const std::function<void(const Pick&)>& emit) {
          const std::uint32_t n = array_info(right_arg(ws), ws).count;
          for (std::uint32_t i = 0, j = 0; i < count; ++i) {
            emit(Pick{j, false, n == 0});
            if (++j == n) j = 0;
          }
        },
        false, ws);
    return;
  }
  if (r.type == ET_OBJREF && r.count == 0 && count > 0) noncer_1(ws);
  const ArrayInfo z = new_simple(shape, r.type, ws);
  r = array_info(right_arg(ws), ws);
  if (count == 0) return;
  if (r.count == 0) {
    if (r.type == ET_CHAR) std::memset(ws + z.data, blank_char(), count);
    return;  // numbers: the zeroed result is the fill
  }
  if (r.type == ET_BOOL) {
    cycle_bits(z.data, count, r.data, r.count, ws);
    return;
  }
  const std::uint64_t total = std::uint64_t(count) * elem_bytes(r.type);
  const std::uint64_t have = std::uint64_t(r.count) * elem_bytes(r.type);
  std::uint64_t done = total < have ? total : have;
  std::memcpy(ws + z.data, ws + r.data, done);
  // Doubling copies of the part already written repeat the pattern.
  while (done < total) {
    const std::uint64_t period = have;
    std::uint64_t chunk = (done / period) * period;
    if (chunk > total - done) chunk = total - done;
    std::memcpy(ws + z.data + done, ws + z.data, chunk);
    done += chunk;
  }
}

}  // namespace zema
