#include "interpreter/primitives/circle.h"

#include <cerrno>
#include <cmath>

#include "interpreter/workspace/errors.h"
#include "interpreter/primitives/kernels_transcendental.h"

namespace zema {

namespace {

// The double just below 2*¯41.
constexpr double kSelectorTolerance = 4.54747350886464E-13;
constexpr double kTrigLimit = 2251799814000000.0;

double lib_checked(double v, Ws ws) {
  if (errno != 0 || !std::isfinite(v)) domner(ws);
  return v;
}

// ---- registers ------------------------------------------------------------------------

// The sine and arcsine of a magnitude below 2*¯32 are the value itself to
// the last bit of the register (the next term is x³÷6).
constexpr int kTinyExponent = 16383 - 33;

bool tiny(const Extended80& x) { return x.exponent() <= kTinyExponent; }
Extended80 half(const Extended80& x, Ws ws) { return xscale(x, -1, ws); }
Extended80 with_sign(const Extended80& x, bool negative) { return negative ? neg(xabs(x)) : xabs(x); }
Extended80 root(const Extended80& x, Ws ws) { return stard_x(x, x80const::onehlf, ws); }
Extended80 square(const Extended80& x, Ws ws) { return xmul(x, x, ws); }
// (1 − a) × (1 + a) and (a − 1) × (a + 1): no cancellation near |a| = 1.
Extended80 one_minus_square(const Extended80& a, Ws ws) {
  return xmul(xsub(x80const::one, a, ws), xadd(x80const::one, a, ws), ws);
}
Extended80 square_minus_one(const Extended80& a, Ws ws) {
  return xmul(xsub(a, x80const::one, ws), xadd(a, x80const::one, ws), ws);
}

// Whether a term is too small to change a sum of magnitude `sum`.
bool negligible(const Extended80& term, const Extended80& sum) {
  return term.is_zero() || sum.exponent() - term.exponent() > 66;
}

// ln(1 + u) for u > −1, exact in its relative error for small u: below
// 1/4 by the series 2 × (s + s³÷3 + s⁵÷5 + …) with s = u ÷ (2 + u).
Extended80 ln_one_plus(const Extended80& u, Ws ws) {
  if (u.is_zero()) return u;
  if (u.exponent() >= Extended80::kBias - 2) return log_4(xadd(x80const::one, u, ws), ws);
  const Extended80 s = xdiv(u, xadd(x80const::one, xadd(x80const::one, u, ws), ws), ws);
  const Extended80 t = square(s, ws);
  Extended80 sum = s, power = s;
  for (std::int32_t k = 3; k < 200; k += 2) {
    power = xmul(power, t, ws);
    const Extended80 term = xdiv(power, intflt(k), ws);
    if (negligible(term, sum)) break;
    sum = xadd(sum, term, ws);
  }
  return xscale(sum, 1, ws);
}

// Z ← R − L × ⌊R ÷ L, exactly.
Extended80 sinres(const Extended80& l, const Extended80& r, Ws ws) {
  if (r.is_zero() || l.is_zero()) return r;
  Extended80 f;
  rtflr(xdiv(r, l, ws), f);
  return xsub(r, xmul(l, f, ws), ws);
}

Extended80 apl_sin(const Extended80& r, Ws ws) {
  bool negative = r.negative();
  Extended80 y = xabs(r);
  if (y.exponent() > 16434) domner(ws);
  y = sinres(x80const::twopi, y, ws);
  if (xless(x80const::onepi, y)) {
    y = xsub(y, x80const::onepi, ws);
    negative = !negative;
  }
  if (xless(x80const::pid2, y)) y = xsub(x80const::onepi, y, ws);
  const Extended80 t = xmul(y, x80const::twodpi, ws);
  const Extended80 z = xmul(t, polval(x80const::sinp, square(t, ws), ws), ws);
  return z.is_zero() ? z : with_sign(z, negative != z.negative());
}

Extended80 apl_cos(const Extended80& r, Ws ws) { return apl_sin(xsub(x80const::pid2, r, ws), ws); }

Extended80 arctan(const Extended80& r, Ws ws) {
  Extended80 x = xabs(r);
  const bool inverted = !xless(x, x80const::one);
  if (inverted) x = xdiv(x80const::one, x, ws);
  const Extended80 t = square(x, ws);
  Extended80 z = xdiv(xmul(x, polval(x80const::arctp, t, ws), ws), polval(x80const::arctq, t, ws), ws);
  if (inverted) z = xsub(x80const::pid2, z, ws);
  return z.is_zero() ? z : with_sign(z, r.negative());
}

// |R| ≥ 1 other than exactly 1 is outside the domain of 0○ ¯1○ ¯2○.
void check_unit(const Extended80& r, Ws ws) {
  const Extended80 a = xabs(r);
  if (!xless(a, x80const::one) && !(a == x80const::one)) domner(ws);
}

// arcsin R = arctan(R ÷ (1 − R²)*0.5), the square formed without
// cancellation near 1.
Extended80 arcsin(const Extended80& r, Ws ws) {
  check_unit(r, ws);
  if (r.is_zero() || tiny(r)) return r;
  const Extended80 a = xabs(r);
  if (a == x80const::one) return with_sign(x80const::pid2, r.negative());
  return with_sign(arctan(xdiv(a, root(one_minus_square(a, ws), ws), ws), ws), r.negative());
}

// arccos |R| = arctan((1 − R²)*0.5 ÷ |R|), small near 1 without
// cancellation; a negative R gives π minus it.
Extended80 arccos(const Extended80& r, Ws ws) {
  check_unit(r, ws);
  const Extended80 a = xabs(r);
  const Extended80 z = a.is_zero() ? x80const::pid2 : arctan(xdiv(root(one_minus_square(a, ws), ws), a, ws), ws);
  return r.negative() ? xsub(x80const::onepi, z, ws) : z;
}

// sinh by its series below 1 (no cancellation of e*R − e*−R), else from
// the exponentials.
Extended80 sinh_x(const Extended80& r, Ws ws) {
  if (r.is_zero() || tiny(r)) return r;
  if (!xless(xabs(r), x80const::one)) return half(xsub(star_4(r, ws), star_4(neg(r), ws), ws), ws);
  const Extended80 t = square(r, ws);
  Extended80 sum = r, term = r;
  for (std::int32_t k = 2; k < 200; k += 2) {
    term = xdiv(xmul(term, t, ws), intflt(k * (k + 1)), ws);
    if (negligible(term, sum)) break;
    sum = xadd(sum, term, ws);
  }
  return sum;
}
Extended80 cosh_x(const Extended80& r, Ws ws) {
  return half(xadd(star_4(r, ws), star_4(neg(r), ws), ws), ws);
}

// arcsinh |R| = ln(1 + u) with u = |R| + R² ÷ (1 + (1 + R²)*0.5).
Extended80 asinh_x(const Extended80& r, Ws ws) {
  if (r.is_zero()) return r;
  const Extended80 a = xabs(r);
  const Extended80 sq = square(a, ws);
  const Extended80 u = xadd(a, xdiv(sq, xadd(x80const::one, root(xadd(sq, x80const::one, ws), ws), ws), ws), ws);
  return with_sign(ln_one_plus(u, ws), r.negative());
}

// arccosh R = ln(1 + u) with u = (R − 1) + ((R − 1) × (R + 1))*0.5.
Extended80 acosh_x(const Extended80& r, Ws ws) {
  if (r.negative() || xless(r, x80const::one)) domner(ws);
  const Extended80 d = xsub(r, x80const::one, ws);
  return ln_one_plus(xadd(d, root(square_minus_one(r, ws), ws), ws), ws);
}

// arctanh R = ½ ln(1 + 2|R| ÷ (1 − |R|)), with R's sign.
Extended80 atanh_x(const Extended80& r, Ws ws) {
  const Extended80 a = xabs(r);
  if (!xless(a, x80const::one)) domner(ws);
  if (r.is_zero()) return r;
  const Extended80 u = xdiv(xscale(a, 1, ws), xsub(x80const::one, a, ws), ws);
  return with_sign(half(ln_one_plus(u, ws), ws), r.negative());
}

Extended80 circle_x(std::int32_t selector, const Extended80& r, Ws ws) {
  switch (selector) {
    case 0:
      check_unit(r, ws);
      return root(one_minus_square(xabs(r), ws), ws);
    case 1: return apl_sin(r, ws);
    case 2: return apl_cos(r, ws);
    case 3: return xdiv(apl_sin(r, ws), apl_cos(r, ws), ws);
    case 4: return root(xadd(square(r, ws), x80const::one, ws), ws);
    case 5: return sinh_x(r, ws);
    case 6: return cosh_x(r, ws);
    case 7: return xdiv(sinh_x(r, ws), cosh_x(r, ws), ws);
    case -1: return arcsin(r, ws);
    case -2: return arccos(r, ws);
    case -3: return arctan(r, ws);
    case -4: {
      const Extended80 a = xabs(r);
      if (xless(a, x80const::one)) domner(ws);
      return root(square_minus_one(a, ws), ws);
    }
    case -5: return asinh_x(r, ws);
    case -6: return acosh_x(r, ws);
    case -7: return atanh_x(r, ws);
    default: domner(ws);
  }
}

}  // namespace

bool tolint(double d, std::int32_t& out) {
  if (!std::isfinite(d) || std::fabs(d) > 2147483647.0) return false;
  const double t = std::trunc(d);
  if (std::fabs(d - t) > kSelectorTolerance) return false;
  out = static_cast<std::int32_t>(t);
  return true;
}

double circlffd(double l, double r, Ws ws) {
  std::int32_t selector;
  if (!tolint(l, selector) || selector < -7 || selector > 7) domner(ws);
  if (selector >= 1 && selector <= 3 && std::fabs(r) > kTrigLimit) domner(ws);
  errno = 0;
  double sq = 0.0;
  switch (selector) {
    case 0: case 4: case -4: case -5: case -6: case -7:
      sq = r * r;
      if (!std::isfinite(sq)) domner(ws);
      break;
    default: break;
  }
  double v;
  switch (selector) {
    case 0: v = std::sqrt((1.0 - std::fabs(r)) * (1.0 + std::fabs(r))); break;
    case 1: v = std::sin(r); break;
    case 2: v = std::cos(r); break;
    case 3: v = std::tan(r); break;
    case 4: v = std::sqrt(1.0 + sq); break;
    case 5: v = std::sinh(r); break;
    case 6: v = std::cosh(r); break;
    case 7: v = std::tanh(r); break;
    case -1: v = std::asin(r); break;
    case -2: v = std::acos(r); break;
    case -3: v = std::atan(r); break;
    case -4: v = std::sqrt((std::fabs(r) - 1.0) * (std::fabs(r) + 1.0)); break;
    case -5: v = std::asinh(r); break;
    case -6: v = std::acosh(r); break;
    default: v = std::atanh(r); break;
  }
  return lib_checked(v, ws) + 0.0;
}

double circlffm(double r, Ws ws) {
  const double v = 3.141592653589793 * r;
  if (!std::isfinite(v)) domner(ws);
  return v + 0.0;
}

Extended80 circld(const RegArgs& a, Ws ws) {
  std::int32_t selector;
  if (!fltint(a.l, selector)) domner(ws);
  return circle_x(selector, a.r, ws);
}

Extended80 circlm(const RegArgs& a, Ws ws) { return xmul(x80const::onepi, a.r, ws); }

}  // namespace zema
