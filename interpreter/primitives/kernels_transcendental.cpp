#include "interpreter/primitives/kernels_transcendental.h"

#include <cerrno>
#include <cmath>

#include "interpreter/workspace/errors.h"
#include "interpreter/primitives/kernels_arith.h"
#include "interpreter/primitives/kernels_compare.h"
#include "interpreter/workspace/sysvar_slots.h"
#include "interpreter/workspace/symtab.h"

namespace zema {

namespace {

constexpr std::int32_t kFactorials[13] = {1,     1,      2,       6,        24,        120,      720,
                                          5040,  40320,  362880,  3628800,  39916800,  479001600};

std::uint32_t index_origin(Ws ws) { return rd16(ws, sysvar_value_word(sysvar::IO)); }

bool is_integral(const Extended80& x) {
  Extended80 f;
  return !rtflr(x, f);
}

// Parity of the integer part of a non-negative value.
std::uint32_t parity(const Extended80& x) {
  if (x.is_zero()) return 0;
  const int e = xexp(x);
  if (e < 0 || e > 63) return 0;
  return static_cast<std::uint32_t>((x.mantissa() >> (63 - e)) & 1);
}

Extended80 from_int(std::int32_t v) { return intflt(v); }

// Z ← e^(R × ln L).
Extended80 strlfe(const Extended80& l, const Extended80& r, Ws ws) { return star_4(xmul(r, log_4(l, ws), ws), ws); }

// Parities of the numerator (first) and denominator (second) of a rational
// approximation of r by its continued fraction, to the tolerance 1E¯13
// (the constant, not ⎕CT), at most 9 terms.
struct Parities {
  std::uint32_t numerator, denominator;
};
Parities raprx(const Extended80& r, Ws ws) {
  Extended80 x = xabs(r);
  Extended80 tau = x80const::ct;
  std::uint32_t p2 = 1, p1 = 0, q2 = 0, q1 = 1;  // p(i−2), p(i−1), q(i−2), q(i−1)
  for (int term = 0; term < 9; ++term) {
    if (ckgte(RegArgs{tau, x, ET_FLOAT, ET_FLOAT}, ws)) return Parities{p1, q1};
    const Extended80 inv = xdiv(x80const::one, x, ws);
    Extended80 a;
    rtflr(inv, a);
    const std::uint32_t ap = parity(a);
    const std::uint32_t p = (ap * p1 + p2) & 1, q = (ap * q1 + q2) & 1;
    p2 = p1;
    p1 = p;
    q2 = q1;
    q1 = q;
    x = xsub(inv, a, ws);
    tau = xadd(x80const::ct, xmul(tau, xmul(inv, inv, ws), ws), ws);
  }
  return Parities{1, 1};
}

// Γ(f + 1) × factor for a fraction f in [0, 1).
Extended80 apl_gamma(const Extended80& f, const Extended80& factor, Ws ws) {
  const Extended80 ratio = xdiv(polval(x80const::gamp, f, ws), polval(x80const::gamq, f, ws), ws);
  return xdiv(xmul(factor, ratio, ws), xadd(f, x80const::one, ws), ws);
}

// The binomial of whole numbers as (a + b) choose a, a ≥ 0 and b ≥ 0
// given apart so that the smaller is exact even where their sum rounds:
// with m that smaller one, the product of n ÷ m as n (from a + b) and m
// count down until m is 0. Each factor is at least 2, so m of 2*14 or more
// means a result beyond the extended range (DOMAIN ERROR at once), and the
// loop ends within 2*14 steps even where m − 1 rounds to m. Polled for
// attention as it goes.
Extended80 choose(const Extended80& a, const Extended80& b, Ws ws) {
  Extended80 n = xadd(a, b, ws);
  Extended80 m = gtlrg(a, b).smaller;
  if (!m.is_zero() && xexp(m) >= 14) domner(ws);
  Extended80 acc = x80const::one;
  for (std::uint32_t step = 1; !m.is_zero(); ++step) {
    acc = xmul(xdiv(n, m, ws), acc, ws);
    m = xsub(m, x80const::one, ws);
    n = xsub(n, x80const::one, ws);
    if ((step & 0x3FF) == 0) kernel_attention_poll(ws);
  }
  return acc;
}

enum class Kind { NotInteger, NegativeInteger, Integer };
Kind classify(const Extended80& x) {
  if (!is_integral(x)) return Kind::NotInteger;
  return x.negative() ? Kind::NegativeInteger : Kind::Integer;
}

}  // namespace

// ---- integers -----------------------------------------------------------------------

bool starfd(std::int32_t& l, std::int32_t r, Ws) {
  if (r == 0) {
    l = 1;
    return false;
  }
  if (r == 1) return false;
  if (r < 0) return true;
  if (l == 0 || l == 1) return false;
  if (r >= 31) return true;
  int shift = 0;
  switch (l) {
    case 2: shift = 1; break;
    case 4: shift = 2; break;
    case 8: shift = 3; break;
    case 16: shift = 4; break;
    case 32: shift = 5; break;
    default: break;
  }
  if (shift) {
    if (shift * r > 30) return true;
    l = std::int32_t{1} << (shift * r);
    return false;
  }
  std::int32_t result = 1, base = l;
  for (std::int32_t e = r;;) {
    if ((e & 1) && mul32(result, base)) return true;
    e >>= 1;
    if (e == 0) break;
    if (mul32(base, base)) return true;
  }
  l = result;
  return false;
}

bool starfm(std::int32_t& x, Ws) {
  if (x != 0) return true;
  x = 1;
  return false;
}

bool factfm(std::int32_t& x, Ws ws) {
  if (x < 0) domner(ws);
  if (x > 12) return true;
  x = kFactorials[x];
  return false;
}

bool factfd(std::int32_t& l, std::int32_t r, Ws ws) {
  const std::int32_t k = l, n = r;
  if (k < 0 && n < 0) {
    if (n < k) {
      l = 0;
      return false;
    }
    std::int32_t top = -(k + 1), bottom = -(n + 1);
    std::int32_t v = bottom;
    if (factfd(v, top, ws)) return true;
    l = ((n - k) & 1) ? -v : v;
    return false;
  }
  if (k < 0) {
    l = 0;
    return false;
  }
  if (n < 0) {
    std::int32_t top;
    if (__builtin_sub_overflow(k, n, &top) || __builtin_sub_overflow(top, 1, &top)) return true;
    std::int32_t v = k;
    if (factfd(v, top, ws)) return true;
    l = (k & 1) ? -v : v;
    return false;
  }
  if (n < k) {
    l = 0;
    return false;
  }
  if (k == n || k == 0) {
    l = 1;
    return false;
  }
  const std::int32_t s = std::min(k, n - k), b = std::max(k, n - k);
  if (s > 12) return true;
  std::int32_t product = 1;
  for (std::int32_t i = n; i > b; --i)
    if (mul32(product, i)) return true;
  l = product / kFactorials[s];
  return false;
}

std::uint32_t getrnd(Ws ws) {
  const std::uint64_t seed = (16807ull * rd32(ws, hdr::QuadRL)) % 2147483647ull;
  wr32(ws, hdr::QuadRL, static_cast<std::uint32_t>(seed));
  return static_cast<std::uint32_t>(seed);
}

std::uint32_t dealrl(std::uint32_t n, Ws ws) {
  return static_cast<std::uint32_t>((2ull * n * getrnd(ws)) >> 32);
}

bool fast_roll(std::int32_t& x, Ws ws) {
  if (x <= 0) domner(ws);
  x = static_cast<std::int32_t>(dealrl(static_cast<std::uint32_t>(x), ws) + index_origin(ws));
  return false;
}

// ---- doubles ------------------------------------------------------------------------

double logffm(double x, Ws ws) {
  if (!(x > 0.0)) domner(ws);
  errno = 0;
  const double v = std::log(x);
  if (errno != 0 || !std::isfinite(v)) domner(ws);
  return v;
}

double logffd(double l, double r, Ws ws) {
  if (!(l > 0.0) || !(r > 0.0)) domner(ws);
  return logffm(r, ws) / logffm(l, ws);
}

double starffm(double x, Ws ws) {
  const double v = std::exp(x);
  if (!std::isfinite(v)) domner(ws);
  return v + 0.0;
}

double starffd(double l, double r, Ws ws) {
  if (r >= 0.0 && r < 100.0 && r == std::floor(r)) {
    auto e = static_cast<unsigned>(r);
    double result = 1.0, base = l;
    while (e) {
      if (e & 1) result *= base;
      e >>= 1;
      if (e) base *= base;
    }
    if (!std::isfinite(result)) domner(ws);
    return result + 0.0;
  }
  errno = 0;
  const double v = std::pow(l, r);
  if (std::isfinite(v) && errno != EDOM) return v + 0.0;
  double out;
  if (!dblflt(stard_x(fltdb(l), fltdb(r), ws), out)) domner(ws);
  return out + 0.0;
}

// ---- registers ----------------------------------------------------------------------

Extended80 log_4(const Extended80& r, Ws ws) {
  if (r.is_zero() || r.negative()) domner(ws);
  const int k = r.exponent() - (Extended80::kBias - 1);
  Extended80 m = r;
  m.exp_word = Extended80::kBias - 1;
  const Extended80 u = xmul(m, x80const::sq2, ws);
  const Extended80 s = xdiv(xsub(u, x80const::one, ws), xadd(u, x80const::one, ws), ws);
  const Extended80 t = xmul(s, s, ws);
  const Extended80 p = polval(x80const::lnc1, t, ws);
  const Extended80 q = polval(x80const::lnc2, t, ws);
  const Extended80 head = xmul(from_int(2 * k - 1), x80const::ln2d2, ws);
  return xadd(head, xdiv(xmul(s, p, ws), q, ws), ws);
}

Extended80 star_4(const Extended80& r, Ws ws) {
  const Extended80 y = xmul(r, x80const::invln2, ws);
  if (y.is_zero()) return x80const::one;
  // |y| ≥ 1024: beyond the double range above; below, the powers down to
  // the smallest subnormal double (2*¯1074) are still computed.
  if (y.exponent() - (Extended80::kBias - 1) > 10) {
    if (!y.negative()) domner(ws);
    if (y.exponent() - (Extended80::kBias - 1) > 11) return Extended80{};
  }
  Extended80 nf;
  rtflr(y, nf);
  std::int32_t n = 0;
  if (!fltint(nf, n)) domner(ws);
  if (n > 1023) domner(ws);
  if (n < -1076) return Extended80{};
  const Extended80 g = xscale(xsub(y, nf, ws), -1, ws);
  const Extended80 t = xmul(g, g, ws);
  const Extended80 p = polval(x80const::etop1, t, ws);
  const Extended80 q = polval(x80const::etoq1, t, ws);
  const Extended80 gp = xmul(g, p, ws);
  const Extended80 ratio = xdiv(xadd(q, gp, ws), xsub(q, gp, ws), ws);
  const Extended80 sq = xmul(ratio, ratio, ws);
  const int biased = sq.exponent() + n;
  if (biased < 1) {
    if (n < 1) return Extended80{};
    domner(ws);
  }
  if (biased > 0x7FFF) domner(ws);
  return Extended80{static_cast<std::uint16_t>(biased), sq.mant_hi, sq.mant_lo};
}

Extended80 stard_x(const Extended80& l, const Extended80& r, Ws ws) {
  if (l.is_zero()) {
    if (r.negative()) domner(ws);
    return xdiv(Extended80{}, r, ws);
  }
  std::int32_t n;
  if (fltint(xabs(r), n)) {
    Extended80 z = x80const::one, square = l;
    for (auto bits = static_cast<std::uint32_t>(n); bits; bits >>= 1) {
      if (bits & 1) z = xmul(z, square, ws);
      if (bits >> 1) square = xmul(square, square, ws);
    }
    return r.negative() ? xdiv(x80const::one, z, ws) : z;
  }
  if (l.negative()) {
    const Parities par = raprx(r, ws);
    if (par.denominator == 0) domner(ws);
    const Extended80 z = strlfe(xabs(l), r, ws);
    return par.numerator ? neg(z) : z;
  }
  if (r == x80const::onehlf) return xsqrt(l, ws);
  return strlfe(l, r, ws);
}

Extended80 fact_x(const Extended80& r, Ws ws) {
  Extended80 fl;
  rtflr(r, fl);
  const Extended80 f = xsub(r, fl, ws);
  if (r.negative() && f.is_zero()) domner(ws);
  Extended80 p = x80const::one;
  if (!r.negative()) {
    const Extended80 end = xadd(r, x80const::one, ws);
    std::uint32_t step = 0;
    for (Extended80 v = xadd(f, x80const::one, ws); !(v == end); v = xadd(v, x80const::one, ws)) {
      p = xmul(p, v, ws);  // ends by overflow within some 1,800 steps at most
      if ((++step & 0x3FF) == 0) kernel_attention_poll(ws);
    }
    if (f.is_zero()) return p;
    return apl_gamma(f, p, ws);
  }
  std::uint32_t step = 0;
  for (Extended80 v = xadd(r, x80const::one, ws); !(v == f); v = xadd(v, x80const::one, ws)) {
    p = xmul(p, v, ws);  // a value that misses its end overflows the product
    if ((++step & 0x3FF) == 0) kernel_attention_poll(ws);
  }
  return xdiv(apl_gamma(f, xdiv(x80const::one, p, ws), ws), f, ws);
}

Extended80 log_4r(const RegArgs& a, Ws ws) { return log_4(a.r, ws); }
Extended80 logd(const RegArgs& a, Ws ws) { return xdiv(log_4(a.r, ws), log_4(a.l, ws), ws); }
Extended80 star_4r(const RegArgs& a, Ws ws) { return star_4(a.r, ws); }
Extended80 stard(const RegArgs& a, Ws ws) { return stard_x(a.l, a.r, ws); }
Extended80 fact_4(const RegArgs& a, Ws ws) { return fact_x(a.r, ws); }

Extended80 bc(const RegArgs& a, Ws ws) {
  const Extended80 k = a.l;
  const Extended80 n = a.r;
  const Extended80 nk = xsub(n, k, ws);
  const Kind ck = classify(k), cn = classify(n), cnk = classify(nk);
  if (ck == Kind::NotInteger && cn == Kind::NegativeInteger) domner(ws);
  if (cn != Kind::NegativeInteger && (ck == Kind::NegativeInteger || cnk == Kind::NegativeInteger))
    return Extended80{};
  if (ck == Kind::NegativeInteger && cn == Kind::NegativeInteger && cnk == Kind::NegativeInteger)
    return Extended80{};
  if (ck != Kind::NotInteger && cn != Kind::NotInteger) {
    if (cn != Kind::NegativeInteger) return choose(k, nk, ws);
    // A negative n: k ≥ 0 gives (¯1*k) × (k − n − 1) choose k; k < 0 (so
    // n − k ≥ 0) gives (¯1*n − k) × (−k − 1) choose (−n − 1). The sign is
    // taken from k and n themselves, exact where n − k rounds.
    const Extended80 below_n = xsub(neg(n), x80const::one, ws);  // −n − 1 ≥ 0
    const Extended80 z = ck == Kind::Integer ? choose(k, below_n, ws) : choose(below_n, nk, ws);
    const std::uint32_t odd = ck == Kind::Integer ? parity(k) : parity(k) ^ parity(n);
    return odd ? neg(z) : z;
  }
  const Extended80 num = fact_x(n, ws);
  return xdiv(num, xmul(fact_x(k, ws), fact_x(nk, ws), ws), ws);
}

Extended80 slow_roll(const RegArgs& a, Ws ws) {
  const Extended80 r = a.r;
  if (r.is_zero() || r.negative()) domner(ws);
  std::int32_t n;
  if (fltint(r, n)) {
    if (n < 1) domner(ws);
    return from_int(static_cast<std::int32_t>(dealrl(static_cast<std::uint32_t>(n), ws) + index_origin(ws)));
  }
  if (xexp(r) < 31) domner(ws);
  if (xexp(r) < 40 && (r.mant_lo & 0x00F00000u)) domner(ws);
  Extended80 whole;
  rtflr(r, whole);
  const std::uint32_t r1 = getrnd(ws);
  const std::uint32_t r2 = getrnd(ws);
  const Extended80 big = xadd(intflt(static_cast<std::int32_t>(r2)),
                              xdiv(intflt(static_cast<std::int32_t>(r1)), xscale(x80const::one, 31, ws), ws), ws);
  const Extended80 fraction = xdiv(big, x80const::two31, ws);
  Extended80 z;
  rtflr(xmul(whole, fraction, ws), z);
  return index_origin(ws) == 1 ? xadd(z, x80const::one, ws) : z;
}

}  // namespace zema
