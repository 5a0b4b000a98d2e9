#include "interpreter/primitives/circle.h"

#include <cerrno>
#include <cmath>

#include "interpreter/error_path.h"
#include "interpreter/primitives/kernels_transcendental.h"

namespace zema {

namespace {

// The double just below 2*¯41.
constexpr double kSelectorTolerance = 4.54747350886464E-13;
constexpr double kTrigLimit = 2251799814000000.0;
// Biased exponent at or below which |R| < 2*¯23.
constexpr int kTinyExponent = 16359;

double lib_checked(double v, Ws ws) {
  if (errno != 0 || !std::isfinite(v)) domner(ws);
  return v;
}

// ---- registers ------------------------------------------------------------------------

bool tiny(const Extended80& x) { return x.exponent() <= kTinyExponent; }
Extended80 half(const Extended80& x, Ws ws) { return xscale(x, -1, ws); }
Extended80 with_sign(const Extended80& x, bool negative) { return negative ? neg(xabs(x)) : xabs(x); }
Extended80 root(const Extended80& x, Ws ws) { return stard_x(x, x80const::onehlf, ws); }
Extended80 square(const Extended80& x, Ws ws) { return xmul(x, x, ws); }

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

// |R| ≥ 1 other than exactly 1 is outside the domain of 0○ and ¯1○.
void check_unit(const Extended80& r, Ws ws) {
  const Extended80 a = xabs(r);
  if (!xless(a, x80const::one) && !(a == x80const::one)) domner(ws);
}

Extended80 arcsin(const Extended80& r, Ws ws) {
  check_unit(r, ws);
  if (r.is_zero() || tiny(r)) return r;
  const Extended80 a = xabs(r);
  const Extended80 c = root(xsub(x80const::one, square(a, ws), ws), ws);
  const Extended80 z = xsub(x80const::pid2, arctan(xdiv(c, a, ws), ws), ws);
  return with_sign(z, r.negative());
}

Extended80 arccos(const Extended80& r, Ws ws) {
  const Extended80 z = xsub(x80const::pid2, arcsin(xabs(r), ws), ws);
  return r.negative() ? xsub(x80const::onepi, z, ws) : z;
}

Extended80 sinh_x(const Extended80& r, Ws ws) {
  if (r.is_zero() || tiny(r)) return r;
  return half(xsub(star_4(r, ws), star_4(neg(r), ws), ws), ws);
}
Extended80 cosh_x(const Extended80& r, Ws ws) {
  return half(xadd(star_4(r, ws), star_4(neg(r), ws), ws), ws);
}

Extended80 circle_x(std::int32_t selector, const Extended80& r, Ws ws) {
  switch (selector) {
    case 0:
      check_unit(r, ws);
      return root(xsub(x80const::one, square(r, ws), ws), ws);
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
      return root(xsub(square(a, ws), x80const::one, ws), ws);
    }
    case -5: {
      if (r.is_zero() || tiny(r)) return r;
      const Extended80 a = xabs(r);
      const Extended80 z = log_4(xadd(a, root(xadd(square(a, ws), x80const::one, ws), ws), ws), ws);
      return with_sign(z, r.negative());
    }
    case -6:
      if (r.negative() || xless(r, x80const::one)) domner(ws);
      return log_4(xadd(r, root(xsub(square(r, ws), x80const::one, ws), ws), ws), ws);
    case -7: {
      if (!xless(xabs(r), x80const::one)) domner(ws);
      if (r.is_zero() || tiny(r)) return r;
      const Extended80 q = xdiv(xadd(x80const::one, r, ws), xsub(x80const::one, r, ws), ws);
      return half(log_4(q, ws), ws);
    }
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
    case 0: v = std::sqrt(1.0 - sq); break;
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
    case -4: v = std::sqrt(sq - 1.0); break;
    case -5: v = std::log(lib_checked(r + lib_checked(std::sqrt(sq + 1.0), ws), ws)); break;
    case -6: v = std::log(lib_checked(r + lib_checked(std::sqrt(sq - 1.0), ws), ws)); break;
    default: v = std::log(lib_checked((1.0 + r) / lib_checked(std::sqrt(1.0 - sq), ws), ws)); break;
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
