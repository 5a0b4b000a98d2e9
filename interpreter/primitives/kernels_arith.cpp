#include "interpreter/primitives/kernels_arith.h"

#include <algorithm>
#include <cmath>
#include <cstring>

#include "interpreter/workspace/entry.h"
#include "interpreter/primitives/element_access.h"
#include "interpreter/workspace/errors.h"
#include "interpreter/primitives/scalar_codes.h"

namespace zema {

namespace {

using namespace elem;

// ---- integer loop operations: the result, and a non-zero flag on overflow ----

struct AddI {
  static std::int32_t op(std::int32_t a, std::int32_t b, std::uint32_t& ovf) {
    const std::uint32_t s = std::uint32_t(a) + std::uint32_t(b);
    ovf |= ((std::uint32_t(a) ^ s) & (std::uint32_t(b) ^ s)) >> 31;
    return static_cast<std::int32_t>(s);
  }
};
struct SubI {
  static std::int32_t op(std::int32_t a, std::int32_t b, std::uint32_t& ovf) {
    const std::uint32_t s = std::uint32_t(a) - std::uint32_t(b);
    ovf |= ((std::uint32_t(a) ^ std::uint32_t(b)) & (std::uint32_t(a) ^ s)) >> 31;
    return static_cast<std::int32_t>(s);
  }
};
struct MulI {
  static std::int32_t op(std::int32_t a, std::int32_t b, std::uint32_t& ovf) {
    const std::int64_t p = std::int64_t(a) * b;
    ovf |= static_cast<std::uint32_t>((p >> 31) ^ (p >> 63));
    return static_cast<std::int32_t>(p);
  }
};
struct MaxI {
  static std::int32_t op(std::int32_t a, std::int32_t b, std::uint32_t&) { return a > b ? a : b; }
};
struct MinI {
  static std::int32_t op(std::int32_t a, std::int32_t b, std::uint32_t&) { return a < b ? a : b; }
};

constexpr std::uint32_t kBlock = 8;
constexpr std::uint32_t kPollBlocks = 100000;
// Elements between overflow checks inside a run of blocks.
constexpr std::uint32_t kCheckRun = 1024;

template <class Op, bool LS, bool RS>
int int_loop(std::uint8_t* z, const std::uint8_t* l, const std::uint8_t* r, std::uint32_t count, Ws ws) {
  const std::int32_t lv = LS ? ld_i(l, 0) : 0;
  const std::int32_t rv = RS ? ld_i(r, 0) : 0;
  auto run = [&](std::size_t from, std::size_t n) -> std::uint32_t {
    std::uint32_t ovf = 0;
    for (std::size_t i = from; i < from + n; ++i)
      st_i(z, i, Op::op(LS ? lv : ld_i(l, i), RS ? rv : ld_i(r, i), ovf));
    return ovf;
  };
  // Blocks of 8 while more than 8 elements remain, a poll after every
  // 100,000 blocks, then the last 1–8 elements.
  std::size_t blocks = (count - 1) / kBlock;
  std::size_t at = 0;
  while (blocks > 0) {
    const std::size_t chunk = std::min<std::size_t>(blocks, kPollBlocks);
    const std::size_t end = at + chunk * kBlock;
    for (std::size_t i = at; i < end; i += kCheckRun)
      if (run(i, std::min<std::size_t>(kCheckRun, end - i))) return 8;
    at = end;
    blocks -= chunk;
    if (chunk == kPollBlocks) kernel_attention_poll(ws);
  }
  return run(at, count - at) ? 8 : 0;
}

template <class Op>
int int_paths(std::uint8_t* z, const std::uint8_t* l, const std::uint8_t* r, std::uint32_t lstep, std::uint32_t rstep,
              std::uint32_t count, Ws ws) {
  if (lstep == 0) return int_loop<Op, true, false>(z, l, r, count, ws);
  if (rstep == 0) return int_loop<Op, false, true>(z, l, r, count, ws);
  return int_loop<Op, false, false>(z, l, r, count, ws);
}

// ---- double loop operations: the result, and a flag for a DOMAIN ERROR ----

// Non-zero for an infinite or undefined value.
inline std::uint32_t not_finite(double v) { return (v - v) != 0.0 ? 1u : 0u; }

struct AddF {
  static double op(double a, double b, std::uint32_t& bad) {
    const double s = a + b;
    bad |= not_finite(s);
    return s + 0.0;
  }
};
struct SubF {
  static double op(double a, double b, std::uint32_t& bad) {
    const double s = a - b;
    bad |= not_finite(s);
    return s + 0.0;
  }
};
struct MulF {
  static double op(double a, double b, std::uint32_t& bad) {
    const double s = a * b;
    bad |= not_finite(s);
    return s + 0.0;
  }
};
struct DivF {
  static double op(double a, double b, std::uint32_t& bad) {
    const bool zero = b == 0.0;
    bad |= (zero & (a != 0.0)) ? 1u : 0u;
    const double q = zero ? 1.0 : a / b;
    bad |= not_finite(q);
    return q + 0.0;
  }
};
struct MaxF {
  static double op(double a, double b, std::uint32_t&) { return a > b ? a : b; }
};
struct MinF {
  static double op(double a, double b, std::uint32_t&) { return a < b ? a : b; }
};

template <class Op, bool LS, bool RS>
void float_loop(std::uint8_t* z, const std::uint8_t* l, const std::uint8_t* r, std::uint32_t count, Ws ws) {
  const double lv = LS ? ld_f(l, 0) : 0.0;
  const double rv = RS ? ld_f(r, 0) : 0.0;
  for (std::size_t i = 0; i < count; i += kCheckRun) {
    const std::size_t end = std::min<std::size_t>(count, i + kCheckRun);
    std::uint32_t bad = 0;
    for (std::size_t k = i; k < end; ++k) st_f(z, k, Op::op(LS ? lv : ld_f(l, k), RS ? rv : ld_f(r, k), bad));
    if (bad) domner(ws);
  }
}

template <class Op>
void float_paths(std::uint8_t* z, const std::uint8_t* l, const std::uint8_t* r, std::uint32_t lstep,
                 std::uint32_t rstep, std::uint32_t count, Ws ws) {
  if (lstep == 0)
    float_loop<Op, true, false>(z, l, r, count, ws);
  else if (rstep == 0)
    float_loop<Op, false, true>(z, l, r, count, ws);
  else
    float_loop<Op, false, false>(z, l, r, count, ws);
}

Extended80 one_with_sign(bool negative) { return negative ? neg(x80const::one) : x80const::one; }

}  // namespace

void kernel_attention_poll(Ws ws) { check_attention(ws); }

// ---- integer element routines -----------------------------------------------------

bool plusdf(std::int32_t& l, std::int32_t r, Ws) { return __builtin_add_overflow(l, r, &l); }
bool minusf(std::int32_t& l, std::int32_t r, Ws) { return __builtin_sub_overflow(l, r, &l); }
bool multfd(std::int32_t& l, std::int32_t r, Ws) { return __builtin_mul_overflow(l, r, &l); }
bool maxfd(std::int32_t& l, std::int32_t r, Ws) {
  if (!(l > r)) l = r;
  return false;
}
bool minfd(std::int32_t& l, std::int32_t r, Ws) {
  if (!(l < r)) l = r;
  return false;
}
bool sfillfi(std::int32_t& l, std::int32_t, Ws) {
  l = 0;
  return false;
}

bool resfd(std::int32_t& l, std::int32_t r, Ws ws) {
  if (l == 0) {
    l = r;
    return false;
  }
  if (l == INT32_MIN) return true;
  if (r == 0) {
    l = 0;
    return false;
  }
  if (r == INT32_MIN) return true;
  const std::int32_t al = l < 0 ? -l : l, ar = r < 0 ? -r : r;
  std::int32_t q = ar / al;
  if ((l < 0) != (r < 0)) q = (ar % al) ? -q - 1 : -q;
  std::int32_t p = q;
  if (multfd(p, l, ws)) return true;
  l = r - p;
  return false;
}

bool multfm(std::int32_t& x, Ws) {
  x = (x > 0) - (x < 0);
  return false;
}
bool plusmf(std::int32_t&, Ws) { return false; }
bool minusfm(std::int32_t& x, Ws) {
  if (x == INT32_MIN) return true;
  x = -x;
  return false;
}
bool resfm(std::int32_t& x, Ws) {
  if (x == INT32_MIN) return true;
  if (x < 0) x = -x;
  return false;
}
bool sfillfim(std::int32_t& x, Ws) {
  x = 0;
  return false;
}

int mul32(std::int32_t& x, std::int32_t v) { return __builtin_mul_overflow(x, v, &x) ? 1 : 0; }
int mulu32(std::uint32_t& x, std::uint32_t v) { return __builtin_mul_overflow(x, v, &x) ? 1 : 0; }
int add32(std::int32_t& x, std::int32_t v) { return __builtin_add_overflow(x, v, &x) ? 1 : 0; }

bool has_fused_i_ii(std::uint8_t code) {
  return code == pc::Plus || code == pc::Minus || code == pc::Times || code == pc::Ceiling || code == pc::Floor;
}

int fused_i_ii(std::uint8_t code, std::uint8_t* z, const std::uint8_t* l, const std::uint8_t* r, std::uint32_t lstep,
               std::uint32_t rstep, std::uint32_t count, Ws ws) {
  switch (code) {
    case pc::Plus: return int_paths<AddI>(z, l, r, lstep, rstep, count, ws);
    case pc::Minus: return int_paths<SubI>(z, l, r, lstep, rstep, count, ws);
    case pc::Times: return int_paths<MulI>(z, l, r, lstep, rstep, count, ws);
    case pc::Ceiling: return int_paths<MaxI>(z, l, r, lstep, rstep, count, ws);
    case pc::Floor: return int_paths<MinI>(z, l, r, lstep, rstep, count, ws);
    default: return -1;
  }
}

bool has_fused_f_ff(std::uint8_t code) {
  return code == pc::Plus || code == pc::Minus || code == pc::Times || code == pc::Divide || code == pc::Ceiling ||
         code == pc::Floor;
}

int fused_f_ff(std::uint8_t code, std::uint8_t* z, const std::uint8_t* l, const std::uint8_t* r, std::uint32_t lstep,
               std::uint32_t rstep, std::uint32_t count, Ws ws) {
  switch (code) {
    case pc::Plus: float_paths<AddF>(z, l, r, lstep, rstep, count, ws); return 0;
    case pc::Minus: float_paths<SubF>(z, l, r, lstep, rstep, count, ws); return 0;
    case pc::Times: float_paths<MulF>(z, l, r, lstep, rstep, count, ws); return 0;
    case pc::Divide: float_paths<DivF>(z, l, r, lstep, rstep, count, ws); return 0;
    case pc::Ceiling: float_paths<MaxF>(z, l, r, lstep, rstep, count, ws); return 0;
    case pc::Floor: float_paths<MinF>(z, l, r, lstep, rstep, count, ws); return 0;
    default: return -1;
  }
}

// ---- doubles ------------------------------------------------------------------------

double checked(double v, Ws ws) {
  if (!std::isfinite(v)) domner(ws);
  return v + 0.0;
}

double resffd(double l, double r, Ws ws) {
  double ct = 0.0;
  if (!dblflt(quad_ct(ws), ct)) ct = 0.0;
  return resffd(l, r, ct, ws);
}

double resffd(double l, double r, double ct, Ws ws) {
  if (l == 0.0) return r;
  if (r == 0.0) return 0.0;
  const double q = checked(r / l, ws);
  const double fl = minffm(q, ct);
  if (fl == maxffm(q, ct)) return 0.0;
  const double w = checked(l * fl, ws);
  // r − l×⌊r÷l lies in [0, l) (or (l, 0]) but can round to l itself
  // (1|¯1E¯30 is 1 − 1E¯30): the residue there is 0.
  const double z = checked(r - w, ws);
  return std::fabs(z) >= std::fabs(l) ? 0.0 : z;
}

// ---- registers ----------------------------------------------------------------------

Extended80 plusd_r(const RegArgs& a, Ws ws) { return xadd(a.l, a.r, ws); }
Extended80 minusd_r(const RegArgs& a, Ws ws) { return xsub(a.l, a.r, ws); }
Extended80 multd_r(const RegArgs& a, Ws ws) { return xmul(a.l, a.r, ws); }
Extended80 divdd_r(const RegArgs& a, Ws ws) { return xdiv(a.l, a.r, ws); }
Extended80 sfillo(const RegArgs&, Ws) { return Extended80{}; }
Extended80 rtoz(const RegArgs& a, Ws) { return a.r; }
Extended80 minusm(const RegArgs& a, Ws) { return neg(a.r); }
Extended80 resm(const RegArgs& a, Ws) { return xabs(a.r); }
Extended80 divd_4r(const RegArgs& a, Ws ws) { return xdiv(x80const::one, a.r, ws); }

Extended80 multm(const RegArgs& a, Ws) {
  if (a.r.exp_word != 0 && a.r.mant_hi != 0) return one_with_sign(a.r.negative());
  return Extended80{};
}

Extended80 maxd(const RegArgs& a, Ws) {
  const MagnitudeOrder o = gtlrg(a.l, a.r);
  return o.larger.negative() ? o.smaller : o.larger;
}

Extended80 mind(const RegArgs& a, Ws) {
  const MagnitudeOrder o = gtlrg(a.l, a.r);
  return o.larger.negative() ? o.larger : o.smaller;
}

namespace {

// Whether |a − b| ≤ ⎕CT × max(1, |a|, |b|).
bool within_ct(const Extended80& a, const Extended80& b, Ws ws) {
  const Extended80 d = xabs(xsub(a, b, ws));
  const Extended80 t = xmul(quad_ct(ws), gtlrg(x80const::one, xabs(gtlrg(a, b).larger)).larger, ws);
  return !xless(t, d);
}

// The integer nearest x (halves go up) when x is tolerantly equal to it.
bool tolerant_integer(const Extended80& x, Extended80& n, Ws ws) {
  rtflr(xadd(x, x80const::onehlf, ws), n);
  return within_ct(x, n, ws);
}

}  // namespace

Extended80 tolerant_ceiling(const Extended80& x, Ws ws) {
  Extended80 f, n;
  if (!rtflr(x, f)) return x;
  if (tolerant_integer(x, n, ws)) return n;
  return xadd(f, x80const::one, ws);
}

Extended80 tolerant_floor(const Extended80& x, Ws ws) {
  Extended80 f, n;
  if (!rtflr(x, f)) return x;
  if (tolerant_integer(x, n, ws)) return n;
  return f;
}

Extended80 maxm(const RegArgs& a, Ws ws) { return a.rtype == ET_FLOAT ? tolerant_ceiling(a.r, ws) : a.r; }
Extended80 minm(const RegArgs& a, Ws ws) { return a.rtype == ET_FLOAT ? tolerant_floor(a.r, ws) : a.r; }

Extended80 resd(const RegArgs& a, Ws ws) {
  if (a.r.is_zero() || a.l.is_zero()) return a.r;
  Extended80 q;
  if (!fdiv(a.r, a.l, q)) domner(ws);
  const Extended80 fl = tolerant_floor(q, ws);
  if (fl == tolerant_ceiling(q, ws)) return Extended80{};
  // As for doubles, a residue that rounds to the modulus is 0 (a value
  // below it stays below once truncated to a double).
  const Extended80 z = xsub(a.r, xmul(a.l, fl, ws), ws);
  return xless(xabs(z), xabs(a.l)) ? z : Extended80{};
}

}  // namespace zema
