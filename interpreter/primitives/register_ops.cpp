#include "interpreter/primitives/register_ops.h"

#include "interpreter/workspace/errors.h"

namespace zema {

namespace {

// The ordering key: the exponent word with its sign inverted, and below it
// the mantissa; for a negative value the 79 bits under the top are
// complemented, so that keys compare as unsigned numbers in value order.
struct Key {
  std::uint16_t hi;
  std::uint64_t lo;
};

Key key_of(const Extended80& x) {
  Key k{static_cast<std::uint16_t>(x.exp_word ^ Extended80::kSignBit), x.mantissa()};
  if (x.negative()) {
    k.hi = static_cast<std::uint16_t>(k.hi ^ 0x7FFF);
    k.lo = ~k.lo;
  }
  return k;
}

}  // namespace

Extended80 xadd(const Extended80& l, const Extended80& r, Ws ws) {
  Extended80 z;
  if (!plusd(l, r, z)) domner(ws);
  return z;
}

Extended80 xsub(const Extended80& l, const Extended80& r, Ws ws) {
  Extended80 z;
  if (!minusd(l, r, z)) domner(ws);
  return z;
}

Extended80 xmul(const Extended80& l, const Extended80& r, Ws ws) {
  Extended80 z;
  if (!fmult(l, r, z)) domner(ws);
  return z;
}

Extended80 xdiv(const Extended80& l, const Extended80& r, Ws ws) {
  Extended80 z;
  if (!divdd(l, r, z)) domner(ws);
  return z;
}

bool xless(const Extended80& a, const Extended80& b) {
  const Key ka = key_of(a), kb = key_of(b);
  return ka.hi != kb.hi ? ka.hi < kb.hi : ka.lo < kb.lo;
}

bool rtflr(const Extended80& z, Extended80& r) {
  if (z.is_zero()) {
    r = Extended80{};
    return false;
  }
  const int e = xexp(z);
  if (e >= 63) {
    r = z;
    return false;
  }
  std::uint64_t m = z.mantissa();
  bool dropped;
  Extended80 t;
  if (e < 0) {
    dropped = true;
    t = Extended80{};
  } else {
    const std::uint64_t keep = ~std::uint64_t{0} << (63 - e);
    dropped = (m & ~keep) != 0;
    m &= keep;
    t = Extended80::make(static_cast<std::uint16_t>(z.exp_word), m);
  }
  if (z.negative() && dropped) {
    // −(|truncated| + 1)
    Extended80 one_up;
    if (!plusd(xabs(t), x80const::one, one_up)) one_up = xabs(t);
    r = neg(one_up);
  } else {
    r = t;
  }
  return dropped;
}

Extended80 polval(std::span<const Extended80> table, const Extended80& t, Ws ws) {
  Extended80 z = table[0];
  for (std::size_t i = 1; i < table.size(); ++i) z = xadd(xmul(z, t, ws), table[i], ws);
  return z;
}

Extended80 xscale(const Extended80& x, int n, Ws ws) {
  if (x.is_zero()) return x;
  const int biased = x.exponent() + n;
  if (biased < 1) return Extended80{};
  if (biased > 0x7FFF) domner(ws);
  return Extended80{static_cast<std::uint16_t>(biased | (x.exp_word & Extended80::kSignBit)), x.mant_hi,
                    x.mant_lo};
}

Extended80 xsqrt(const Extended80& value, Ws ws) {
  if (value.is_zero()) return value;
  int e = value.exponent() - (Extended80::kBias - 1);  // value = m × 2^e, m in [0.5, 1)
  Extended80 x = xabs(value);
  x.exp_word = Extended80::kBias - 1;  // m
  if (e & 1) {
    x.exp_word = Extended80::kBias;  // 2m in [1, 2)
    --e;
  }
  const int h = e / 2;
  Extended80 y = xadd(xscale(x, -1, ws), x80const::sqcon, ws);
  for (int i = 0; i < 4; ++i) y = xscale(xadd(y, xdiv(x, y, ws), ws), -1, ws);
  return xabs(xscale(y, h, ws));
}

}  // namespace zema
