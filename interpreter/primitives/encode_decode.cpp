// A⊤B and A⊥B. Integer results are computed on 64-bit values and checked
// against the 32-bit range at each step; a value that leaves it drops the
// result and runs again for a float one. Float results are computed on
// the 80-bit registers (to 64 bits of precision), rounded to doubles by
// truncation when stored; a decode of integer digits and radices keeps its
// exact value in 64-bit integers instead, which gives the same doubles.
#include "interpreter/primitives/encode_decode.h"

#include <cstring>
#include <limits>

#include "interpreter/primitives/args.h"
#include "interpreter/primitives/kernels_arith.h"
#include "interpreter/primitives/register_ops.h"
#include "interpreter/primitives/structural.h"
#include "interpreter/workspace/entry.h"
#include "interpreter/workspace/errors.h"

namespace zema {

namespace {

constexpr std::int64_t kMin32 = std::numeric_limits<std::int32_t>::min();
constexpr std::int64_t kMax32 = std::numeric_limits<std::int32_t>::max();
constexpr std::uint32_t kPollMask = 0xFFF;  // attention polled once per 4096 elements

bool integer_kind(std::uint8_t t) { return t == ET_BOOL || t == ET_INT; }

void refuse_nested(const ArrayInfo& a, const ArrayInfo& b, Ws ws) {
  if (a.type == ET_NESTED || b.type == ET_NESTED) domner(ws);
  if (!is_numeric(a.type) || !is_numeric(b.type)) domner(ws);
}

// Element i of a boolean or integer array.
inline std::int32_t int_el(const ArrayInfo& a, std::uint64_t i, Ws ws) {
  if (a.type == ET_BOOL) return bit_at(a.data, i, ws) ? 1 : 0;
  std::int32_t v;
  std::memcpy(&v, ws + a.data + 4 * i, 4);
  return v;
}

// Element i of a numeric array as a register value.
Extended80 x_el(const ArrayInfo& a, std::uint64_t i, Ws ws) {
  if (a.type == ET_FLOAT) {
    double d;
    std::memcpy(&d, ws + a.data + 8 * i, 8);
    return fltdb(d);
  }
  return intflt(int_el(a, i, ws));
}

inline void store_int(const ArrayInfo& z, std::uint64_t i, std::int32_t v, Ws ws) {
  std::memcpy(ws + z.data + 4 * i, &v, 4);
}
inline void store_double(const ArrayInfo& z, std::uint64_t i, double d, Ws ws) {
  std::memcpy(ws + z.data + 8 * i, &d, 8);
}
void store_x80(const ArrayInfo& z, std::uint64_t i, const Extended80& v, Ws ws) {
  double d = 0;
  if (!dblflt(v, d)) domner(ws);
  store_double(z, i, d, ws);
}

bool x_zero(const Extended80& v) { return (v.exp_word & Extended80::kExponentMask) == 0; }

// A 64-bit integer as a double, as the register holding it exactly would
// be stored: the magnitude truncated to 53 significant bits.
double i64_truncated(std::int64_t v) {
  const bool negative = v < 0;
  std::uint64_t m = negative ? 0 - static_cast<std::uint64_t>(v) : static_cast<std::uint64_t>(v);
  if (m >> 53) {
    const int drop = 64 - __builtin_clzll(m) - 53;
    m &= ~((std::uint64_t{1} << drop) - 1);
  }
  const double d = static_cast<double>(m);
  return negative ? -d : d;
}

// Reads booleans in order from bit `p` of the bits at `data`, one word load
// per 32 elements.
class BitCursor {
 public:
  BitCursor(const std::uint8_t* data, std::uint64_t p) : data_(data), p_(p) {
    if (p_ % 32 != 0) load();
  }
  std::int32_t next() {
    if (p_ % 32 == 0) load();
    const std::int32_t bit = static_cast<std::int32_t>((word_ >> (31 - p_ % 32)) & 1);
    ++p_;
    return bit;
  }

 private:
  void load() { std::memcpy(&word_, data_ + 4 * (p_ / 32), 4); }
  const std::uint8_t* data_;
  std::uint64_t p_;
  std::uint32_t word_ = 0;
};

// ---- encode ----------------------------------------------------------------------

struct EncodeShape {
  std::uint32_t n = 1;  // radices per column (A's first length)
  std::uint32_t s = 1;  // columns (the product of A's other lengths)
  std::uint32_t nb = 0; // elements of B
};

// Integer encode into z; false when a value leaves the 32-bit range (or is
// −2*31, whose residue has no 32-bit form).
bool encode_int(const ArrayInfo& a, const ArrayInfo& b, const ArrayInfo& z, const EncodeShape& e, Ws ws) {
  const std::uint64_t up = std::uint64_t{e.s} * e.nb;  // result distance between digits
  for (std::uint32_t c = 0; c < e.s; ++c) {
    for (std::uint32_t j = 0; j < e.nb; ++j) {
      if ((j & kPollMask) == 0) check_attention(ws);
      std::int64_t v = int_el(b, j, ws);
      if (v == kMin32) return false;
      std::uint64_t pos = (std::uint64_t{e.n - 1} * e.s + c) * e.nb + j;
      for (std::uint32_t k = e.n; k-- > 0; pos -= up) {
        const std::int64_t r = int_el(a, std::uint64_t{k} * e.s + c, ws);
        if (r == 0) {
          store_int(z, pos, static_cast<std::int32_t>(v), ws);
          break;
        }
        if (r == kMin32) return false;
        std::int64_t m = v % r;
        if (m != 0 && ((m < 0) != (r < 0))) m += r;
        store_int(z, pos, static_cast<std::int32_t>(m), ws);
        if (k == 0) break;
        v = (v - m) / r;
        if (v == 0) break;
        if (v <= kMin32 || v > kMax32) return false;
      }
    }
  }
  return true;
}

void encode_float(const ArrayInfo& a, const ArrayInfo& b, const ArrayInfo& z, const EncodeShape& e, Ws ws) {
  const std::uint64_t up = std::uint64_t{e.s} * e.nb;
  for (std::uint32_t c = 0; c < e.s; ++c) {
    for (std::uint32_t j = 0; j < e.nb; ++j) {
      if ((j & kPollMask) == 0) check_attention(ws);
      Extended80 v = x_el(b, j, ws);
      std::uint64_t pos = (std::uint64_t{e.n - 1} * e.s + c) * e.nb + j;
      for (std::uint32_t k = e.n; k-- > 0; pos -= up) {
        if (x_zero(v)) break;
        const Extended80 r = x_el(a, std::uint64_t{k} * e.s + c, ws);
        if (x_zero(r)) {
          store_x80(z, pos, v, ws);
          break;
        }
        const Extended80 digit = resd(RegArgs{r, v, ET_FLOAT, ET_FLOAT}, ws);
        store_x80(z, pos, digit, ws);
        if (k == 0) break;
        v = xdiv(xsub(v, digit, ws), r, ws);
      }
    }
  }
}

// ---- decode ----------------------------------------------------------------------

struct DecodeShape {
  std::uint32_t n = 1;      // the common length
  std::uint32_t na = 1;     // A's last length
  std::uint32_t nb = 1;     // B's first length
  std::uint32_t rows = 0;   // rows of A (elements of ¯1↓⍴A)
  std::uint32_t cols = 0;   // columns of B (elements of 1↓⍴B)
  std::uint64_t astep() const { return na == 1 ? 0 : 1; }
  std::uint64_t bstep() const { return nb == 1 ? 0 : cols; }
};

// Integer decode into z, a row of A at a time, accumulating along the
// result row; false when a product or sum leaves the 32-bit range.
bool decode_int(const ArrayInfo& a, const ArrayInfo& b, const ArrayInfo& z, const DecodeShape& d, Ws ws) {
  for (std::uint32_t i = 0; i < d.rows; ++i) {
    check_attention(ws);
    std::uint8_t* const row = ws + z.data + 4ull * i * d.cols;
    BitCursor first(ws + b.data, 0);
    for (std::uint32_t j = 0; j < d.cols; ++j)
      store_int(z, std::uint64_t{i} * d.cols + j, b.type == ET_BOOL ? first.next() : int_el(b, j, ws), ws);
    bool over = false;
    for (std::uint32_t k = 1; k < d.n; ++k) {
      const std::int64_t r = int_el(a, std::uint64_t{i} * d.na + k * d.astep(), ws);
      const std::uint64_t bk = k * d.bstep();
      if (b.type == ET_INT) {
        const std::uint8_t* const br = ws + b.data + 4 * bk;
        for (std::uint32_t j = 0; j < d.cols; ++j) {
          std::int32_t zv, bv;
          std::memcpy(&zv, row + 4ull * j, 4);
          std::memcpy(&bv, br + 4ull * j, 4);
          const std::int64_t p = zv * r;
          const std::int64_t t = p + bv;
          over |= (p < kMin32) | (p > kMax32) | (t < kMin32) | (t > kMax32);
          const auto tv = static_cast<std::int32_t>(t);
          std::memcpy(row + 4ull * j, &tv, 4);
        }
      } else {
        BitCursor bits(ws + b.data, bk);
        for (std::uint32_t j = 0; j < d.cols; ++j) {
          std::int32_t zv;
          std::memcpy(&zv, row + 4ull * j, 4);
          const std::int64_t p = zv * r;
          const std::int64_t t = p + bits.next();
          over |= (p < kMin32) | (p > kMax32) | (t > kMax32);
          const auto tv = static_cast<std::int32_t>(t);
          std::memcpy(row + 4ull * j, &tv, 4);
        }
      }
      if (over) return false;
    }
  }
  return true;
}

// Result element (i, j) on the registers.
Extended80 decode_x80(const ArrayInfo& a, const ArrayInfo& b, const DecodeShape& d, std::uint32_t i,
                      std::uint32_t j, Ws ws) {
  Extended80 v = x_el(b, j, ws);
  for (std::uint32_t k = 1; k < d.n; ++k)
    v = xadd(xmul(v, x_el(a, std::uint64_t{i} * d.na + k * d.astep(), ws), ws), x_el(b, k * d.bstep() + j, ws), ws);
  return v;
}

void decode_float(const ArrayInfo& a, const ArrayInfo& b, const ArrayInfo& z, const DecodeShape& d, Ws ws) {
  const bool exact = integer_kind(a.type) && integer_kind(b.type);
  for (std::uint32_t i = 0; i < d.rows; ++i) {
    check_attention(ws);
    std::uint8_t* const row = ws + z.data + 8ull * i * d.cols;
    bool over = !exact;
    if (exact) {
      // Exact values in 64-bit integers held in the result's slots.
      BitCursor first(ws + b.data, 0);
      for (std::uint32_t j = 0; j < d.cols; ++j) {
        const std::int64_t v = b.type == ET_BOOL ? first.next() : int_el(b, j, ws);
        std::memcpy(row + 8ull * j, &v, 8);
      }
      for (std::uint32_t k = 1; k < d.n && !over; ++k) {
        const std::int64_t r = int_el(a, std::uint64_t{i} * d.na + k * d.astep(), ws);
        const std::uint64_t bk = k * d.bstep();
        auto step = [&](auto next) {
          for (std::uint32_t j = 0; j < d.cols; ++j) {
            std::int64_t v;
            std::memcpy(&v, row + 8ull * j, 8);
            std::int64_t t;
            over |= __builtin_mul_overflow(v, r, &t);
            over |= __builtin_add_overflow(t, std::int64_t{next(j)}, &t);
            std::memcpy(row + 8ull * j, &t, 8);
          }
        };
        if (b.type == ET_BOOL) {
          BitCursor bits(ws + b.data, bk);
          step([&](std::uint32_t) { return bits.next(); });
        } else {
          step([&](std::uint32_t j) { return int_el(b, bk + j, ws); });
        }
      }
      if (!over) {
        for (std::uint32_t j = 0; j < d.cols; ++j) {
          std::int64_t v;
          std::memcpy(&v, row + 8ull * j, 8);
          const double f = i64_truncated(v);
          std::memcpy(row + 8ull * j, &f, 8);
        }
        continue;
      }
    }
    for (std::uint32_t j = 0; j < d.cols; ++j) {
      if ((j & kPollMask) == 0) check_attention(ws);
      store_x80(z, std::uint64_t{i} * d.cols + j, decode_x80(a, b, d, i, j, ws), ws);
    }
  }
}

}  // namespace

void encode_dyadic(const PrimitiveCall& c, Ws ws) {
  no_axis(c.fn_entry, ws);
  ArrayInfo a = array_info(left_arg(ws), ws), b = array_info(right_arg(ws), ws);
  refuse_nested(a, b, ws);
  if (a.rank + b.rank > 63) limit_error(ws);
  std::vector<std::uint32_t> shape = shape_of(a, ws);
  for (const std::uint32_t len : shape_of(b, ws)) shape.push_back(len);
  if (std::uint64_t{a.count} * b.count > 0xFFFFFFFFu) xwsfll(ws);
  EncodeShape e;
  e.n = a.rank == 0 ? 1 : dim(a, 0, ws);
  e.s = 1;
  for (std::uint32_t k = 1; k < a.rank; ++k) e.s *= dim(a, k, ws);
  e.nb = b.count;
  bool integer = integer_kind(a.type) && integer_kind(b.type);
  for (;;) {
    const ArrayInfo z = new_simple(shape, integer ? ET_INT : ET_FLOAT, ws);
    if (z.count == 0) return;
    a = array_info(left_arg(ws), ws);
    b = array_info(right_arg(ws), ws);
    if (!integer) {
      encode_float(a, b, z, e, ws);
      return;
    }
    if (encode_int(a, b, z, e, ws)) return;
    xoproe(ws);
    integer = false;
  }
}

void decode_dyadic(const PrimitiveCall& c, Ws ws) {
  no_axis(c.fn_entry, ws);
  ArrayInfo a = array_info(left_arg(ws), ws), b = array_info(right_arg(ws), ws);
  refuse_nested(a, b, ws);
  DecodeShape d;
  d.na = a.rank == 0 ? 1 : dim(a, a.rank - 1, ws);
  d.nb = b.rank == 0 ? 1 : dim(b, 0, ws);
  if (d.na != 1 && d.nb != 1 && d.na != d.nb) lener(ws);
  d.n = d.nb != 1 ? d.nb : d.na;
  const std::uint32_t ra = a.rank == 0 ? 0 : a.rank - 1, rb = b.rank == 0 ? 0 : b.rank - 1;
  if (ra + rb > 63) limit_error(ws);
  std::vector<std::uint32_t> shape;
  d.rows = d.cols = 1;
  for (std::uint32_t k = 0; k < ra; ++k) {
    shape.push_back(dim(a, k, ws));
    d.rows *= shape.back();
  }
  for (std::uint32_t k = 1; k < b.rank; ++k) {
    shape.push_back(dim(b, k, ws));
    d.cols *= shape.back();
  }
  bool integer = integer_kind(a.type) && integer_kind(b.type);
  for (;;) {
    const ArrayInfo z = new_simple(shape, integer ? ET_INT : ET_FLOAT, ws);  // WS FULL from the count first
    if (z.count == 0) return;
    a = array_info(left_arg(ws), ws);
    b = array_info(right_arg(ws), ws);
    if (a.count == 0 || b.count == 0) return;  // zeros
    if (!integer) {
      decode_float(a, b, z, d, ws);
      return;
    }
    if (decode_int(a, b, z, d, ws)) return;
    xoproe(ws);
    integer = false;
  }
}

}  // namespace zema
