#include "interpreter/primitives/scalar_kernels.h"

#include <cmath>
#include <cstring>

#include "interpreter/primitives/element_access.h"
#include "interpreter/workspace/entry.h"
#include "interpreter/workspace/errors.h"
#include "interpreter/primitives/circle.h"
#include "interpreter/primitives/kernels_arith.h"
#include "interpreter/primitives/kernels_compare.h"
#include "interpreter/primitives/kernels_transcendental.h"
#include "interpreter/primitives/scalar_codes.h"

namespace zema {

namespace {

// ---- element access (the data has no alignment guarantee) ---------------------------

using namespace elem;
inline std::int32_t ld_bit(const std::uint8_t* p, std::size_t i) {
  return static_cast<std::int32_t>((ld_w(p, i >> 5) >> (31 - (i & 31))) & 1);
}

// Element i of a boolean, integer or float side (a single element is element 0).
template <std::uint8_t T>
inline double num_f(const std::uint8_t* p, std::size_t i) {
  if constexpr (T == ET_BOOL) return ld_bit(p, i);
  if constexpr (T == ET_INT) return ld_i(p, i);
  return ld_f(p, i);
}
template <std::uint8_t T>
inline std::int32_t num_i(const std::uint8_t* p, std::size_t i) {
  if constexpr (T == ET_BOOL) return ld_bit(p, i);
  return ld_i(p, i);
}

// Attention from the element loops: every 65,536 elements the countdown at
// hdr::AttnCountdown is lowered; at zero the host is polled.
inline void tick(std::size_t i, Ws ws) {
  if (((i + 1) & 0xFFFF) != 0) return;
  const std::uint16_t n = rd16(ws, hdr::AttnCountdown);
  if (n == 0)
    check_attention(ws);
  else
    wr16(ws, hdr::AttnCountdown, n - 1);
}

// ---- the float rule ---------------------------------------------------------------------

using FloatOp = double (*)(double l, double r, Ws ws);

double f_fill(double, double, Ws) { return 0.0; }
double f_plus(double l, double r, Ws) { return l + r; }
double f_minus(double l, double r, Ws) { return l - r; }
double f_times(double l, double r, Ws) { return l * r; }
double f_divide(double l, double r, Ws ws) {
  if (r != 0.0) return l / r;
  if (l == 0.0) return 1.0;
  domner(ws);
}
double f_max(double l, double r, Ws) { return l >= r ? l : r; }
double f_min(double l, double r, Ws) { return l > r ? r : l; }
double f_log(double l, double r, Ws ws) { return logffd(l, r, ws); }
double f_star(double l, double r, Ws ws) { return starffd(l, r, ws); }
double f_stile(double l, double r, Ws ws) { return resffd(l, r, ws); }
double f_circle(double l, double r, Ws ws) { return circlffd(l, r, ws); }

FloatOp float_rule(std::uint8_t code) {
  switch (code) {
    case pc::Fill: return f_fill;
    case pc::Plus: return f_plus;
    case pc::Minus: return f_minus;
    case pc::Times: return f_times;
    case pc::Divide: return f_divide;
    case pc::Ceiling: return f_max;
    case pc::Floor: return f_min;
    case pc::Log: return f_log;
    case pc::Star: return f_star;
    case pc::Stile: return f_stile;
    case pc::Circle: return f_circle;
    default: return nullptr;
  }
}


// `op(l, r)` element by element; a result that is not finite is DOMAIN
// ERROR.
template <std::uint8_t LT, std::uint8_t RT, class Op>
void float_elements(const DyadicCall& c, const Op& op) {
  const std::size_t lm = c.lstep ? ~std::size_t{0} : 0, rm = c.rstep ? ~std::size_t{0} : 0;
  for (std::size_t i = 0; i < c.count; ++i) {
    const double v = op(num_f<LT>(c.l, i & lm), num_f<RT>(c.r, i & rm));
    if (!std::isfinite(v)) domner(c.ws);
    st_f(c.z, i, v + 0.0);
    tick(i, c.ws);
  }
}

template <class Op>
void float_elements_by_type(const DyadicCall& c, std::uint8_t lt, std::uint8_t rt, const Op& op) {
  switch (lt * 16 + rt) {
    case ET_BOOL * 16 + ET_BOOL: float_elements<ET_BOOL, ET_BOOL>(c, op); break;
    case ET_BOOL * 16 + ET_INT: float_elements<ET_BOOL, ET_INT>(c, op); break;
    case ET_BOOL * 16 + ET_FLOAT: float_elements<ET_BOOL, ET_FLOAT>(c, op); break;
    case ET_INT * 16 + ET_BOOL: float_elements<ET_INT, ET_BOOL>(c, op); break;
    case ET_INT * 16 + ET_INT: float_elements<ET_INT, ET_INT>(c, op); break;
    case ET_INT * 16 + ET_FLOAT: float_elements<ET_INT, ET_FLOAT>(c, op); break;
    case ET_FLOAT * 16 + ET_BOOL: float_elements<ET_FLOAT, ET_BOOL>(c, op); break;
    case ET_FLOAT * 16 + ET_INT: float_elements<ET_FLOAT, ET_INT>(c, op); break;
    default: float_elements<ET_FLOAT, ET_FLOAT>(c, op); break;
  }
}

double single_as_double(std::uint8_t type, const std::uint8_t* p) {
  switch (type) {
    case ET_BOOL: return ld_bit(p, 0);
    case ET_INT: return ld_i(p, 0);
    default: return ld_f(p, 0);
  }
}

// Float results: the whole-vector loop when the function has one and every
// side that is not float is a single element (converted once), else the
// float rule element by element.
int float_kernel(const DyadicCall& c, std::uint8_t lt, std::uint8_t rt) {
  const FloatOp op = float_rule(c.code);
  if (!op) return -1;
  if (has_fused_f_ff(c.code) && (lt == ET_FLOAT || c.lstep == 0) && (rt == ET_FLOAT || c.rstep == 0)) {
    double lv, rv;
    const std::uint8_t* l = c.l;
    const std::uint8_t* r = c.r;
    if (lt != ET_FLOAT) {
      lv = single_as_double(lt, c.l);
      l = reinterpret_cast<const std::uint8_t*>(&lv);
    }
    if (rt != ET_FLOAT) {
      rv = single_as_double(rt, c.r);
      r = reinterpret_cast<const std::uint8_t*>(&rv);
    }
    return fused_f_ff(c.code, c.z, l, r, c.lstep, c.rstep, c.count, c.ws);
  }
  if (c.code == pc::Stile) {
    // Residue reads ⎕CT once for the whole call.
    const double ct = comparison_tolerance(c.ws);
    float_elements_by_type(c, lt, rt, [&](double l, double r) { return resffd(l, r, ct, c.ws); });
  } else {
    float_elements_by_type(c, lt, rt, [&](double l, double r) { return op(l, r, c.ws); });
  }
  return 0;
}

// ---- integer results --------------------------------------------------------------------

template <std::uint8_t LT, std::uint8_t RT>
int int_elements(const DyadicCall& c, IntDyadic op) {
  const std::size_t lm = c.lstep ? ~std::size_t{0} : 0, rm = c.rstep ? ~std::size_t{0} : 0;
  for (std::size_t i = 0; i < c.count; ++i) {
    std::int32_t a = num_i<LT>(c.l, i & lm);
    if (op(a, num_i<RT>(c.r, i & rm), c.ws)) return 8;
    st_i(c.z, i, a);
    tick(i, c.ws);
  }
  return 0;
}

int int_kernel(const DyadicCall& c, std::uint8_t lt, std::uint8_t rt) {
  if (has_fused_i_ii(c.code) && (lt == ET_INT || c.lstep == 0) && (rt == ET_INT || c.rstep == 0)) {
    // A single boolean becomes a local integer 0 or 1.
    std::int32_t lv, rv;
    const std::uint8_t* l = c.l;
    const std::uint8_t* r = c.r;
    if (lt == ET_BOOL) {
      lv = ld_bit(c.l, 0);
      l = reinterpret_cast<const std::uint8_t*>(&lv);
    }
    if (rt == ET_BOOL) {
      rv = ld_bit(c.r, 0);
      r = reinterpret_cast<const std::uint8_t*>(&rv);
    }
    return fused_i_ii(c.code, c.z, l, r, c.lstep, c.rstep, c.count, c.ws);
  }
  const IntDyadic op = int_rule(c.code);
  if (!op) ZEMA_SYSTEM_ERROR(c.ws);
  switch (lt * 16 + rt) {
    case ET_BOOL * 16 + ET_BOOL: return int_elements<ET_BOOL, ET_BOOL>(c, op);
    case ET_BOOL * 16 + ET_INT: return int_elements<ET_BOOL, ET_INT>(c, op);
    case ET_INT * 16 + ET_BOOL: return int_elements<ET_INT, ET_BOOL>(c, op);
    default: return int_elements<ET_INT, ET_INT>(c, op);
  }
}

// ---- boolean results ----------------------------------------------------------------------

// The next 32 elements of a side as one boolean word (fewer when fewer are
// left, at the top of the word); DOMAIN ERROR for a value other than 0 or 1
// (a float within the conversion fuzz of an integer counts as that integer).
std::uint32_t fetchbc(std::uint8_t type, const std::uint8_t* p, bool single, std::size_t first, std::uint32_t n,
                      Ws ws) {
  if (type == ET_BOOL) {
    if (single) return (ld_w(p, 0) >> 31) ? ~0u : 0u;
    return ld_w(p, first / 32);
  }
  std::uint32_t w = 0;
  for (std::uint32_t j = 0; j < n; ++j) {
    const std::size_t i = single ? 0 : first + j;
    std::int32_t v;
    if (type == ET_INT) {
      v = ld_i(p, i);
    } else if (type == ET_FLOAT) {
      if (!dblint(ld_f(p, i), v)) domner(ws);
    } else {
      ZEMA_SYSTEM_ERROR(ws);
    }
    if (v != 0 && v != 1) domner(ws);
    w = (w << 1) | static_cast<std::uint32_t>(v);
  }
  return w << (32 - n);
}

int word_kernel(const DyadicCall& c, std::uint8_t lt, std::uint8_t rt) {
  const WordOp op = word_op(c.code);
  if (op == WordOp::None) return -1;
  for (std::size_t i = 0; i < c.count; i += 32) {
    const std::uint32_t n = c.count - i < 32 ? static_cast<std::uint32_t>(c.count - i) : 32;
    const std::uint32_t l = fetchbc(lt, c.l, c.lstep == 0, i, n, c.ws);
    const std::uint32_t r = fetchbc(rt, c.r, c.rstep == 0, i, n, c.ws);
    st_w(c.z, i / 32, apply_word_op(op, l, r));
  }
  return 0;
}

// Relations element by element: exact on integers and bits, tolerant when
// either side is a float; 32 results to a word.
template <std::uint8_t LT, std::uint8_t RT, bool Tolerant>
void relate_elements(const DyadicCall& c, Rel rel) {
  const std::size_t lm = c.lstep ? ~std::size_t{0} : 0, rm = c.rstep ? ~std::size_t{0} : 0;
  const double tol = Tolerant ? comparison_tolerance(c.ws) : 0.0;
  std::uint32_t w = 0;
  for (std::size_t i = 0; i < c.count; ++i) {
    bool b;
    if constexpr (Tolerant) {
      b = relate_ff(rel, num_f<LT>(c.l, i & lm), num_f<RT>(c.r, i & rm), tol);
    } else {
      const std::int32_t x = num_i<LT>(c.l, i & lm), y = num_i<RT>(c.r, i & rm);
      switch (rel) {
        case Rel::Eq: b = x == y; break;
        case Rel::Ne: b = x != y; break;
        case Rel::Ge: b = x >= y; break;
        case Rel::Lt: b = x < y; break;
        case Rel::Gt: b = x > y; break;
        default: b = x <= y; break;
      }
    }
    w = (w << 1) | (b ? 1u : 0u);
    if ((i & 31) == 31) {
      st_w(c.z, i / 32, w);
      w = 0;
    }
    if constexpr (Tolerant) tick(i, c.ws);
  }
  if (c.count % 32) st_w(c.z, c.count / 32, w << (32 - c.count % 32));
}

// Both doubles, full vectors or single: the tolerant relation with the
// function and the shape of the call hoisted out of the loop.
template <Rel R, bool LS, bool RS>
void relate_ff_loop(const DyadicCall& c, double tol) {
  const double lv = LS ? ld_f(c.l, 0) : 0.0, rv = RS ? ld_f(c.r, 0) : 0.0;
  auto word = [&](std::size_t base, std::uint32_t n) {
    std::uint32_t w = 0;
    for (std::uint32_t j = 0; j < n; ++j)
      w = (w << 1) | (relate<R>(LS ? lv : ld_f(c.l, base + j), RS ? rv : ld_f(c.r, base + j), tol) ? 1u : 0u);
    return w << (32 - n);
  };
  const std::size_t full = c.count / 32;
  for (std::size_t k = 0; k < full; ++k) st_w(c.z, k, word(32 * k, 32));
  if (c.count % 32) st_w(c.z, full, word(32 * full, c.count % 32));
}

template <Rel R>
void relate_ff_vec(const DyadicCall& c, double tol) {
  if (c.lstep == 0)
    relate_ff_loop<R, true, false>(c, tol);
  else if (c.rstep == 0)
    relate_ff_loop<R, false, true>(c, tol);
  else
    relate_ff_loop<R, false, false>(c, tol);
}

int mixed_kernel(const DyadicCall& c, std::uint8_t lt, std::uint8_t rt) {
  if (c.flags & kf::BooleanArgs) return word_kernel(c, lt, rt);
  const Rel rel = relation_of(c.code);
  if (rel == Rel::None) return -1;
  if (lt == ET_FLOAT && rt == ET_FLOAT) {
    const double tol = comparison_tolerance(c.ws);
    switch (rel) {
      case Rel::Eq: relate_ff_vec<Rel::Eq>(c, tol); break;
      case Rel::Ne: relate_ff_vec<Rel::Ne>(c, tol); break;
      case Rel::Ge: relate_ff_vec<Rel::Ge>(c, tol); break;
      case Rel::Lt: relate_ff_vec<Rel::Lt>(c, tol); break;
      case Rel::Gt: relate_ff_vec<Rel::Gt>(c, tol); break;
      default: relate_ff_vec<Rel::Le>(c, tol); break;
    }
    return 0;
  }
  switch (lt * 16 + rt) {
    case ET_BOOL * 16 + ET_FLOAT: relate_elements<ET_BOOL, ET_FLOAT, true>(c, rel); break;
    case ET_INT * 16 + ET_FLOAT: relate_elements<ET_INT, ET_FLOAT, true>(c, rel); break;
    case ET_FLOAT * 16 + ET_BOOL: relate_elements<ET_FLOAT, ET_BOOL, true>(c, rel); break;
    case ET_FLOAT * 16 + ET_INT: relate_elements<ET_FLOAT, ET_INT, true>(c, rel); break;
    // Integers against bits (the kernels bib and ibb hand ∧ ∨ ⍲ ⍱ over).
    case ET_BOOL * 16 + ET_INT: relate_elements<ET_BOOL, ET_INT, false>(c, rel); break;
    case ET_INT * 16 + ET_BOOL: relate_elements<ET_INT, ET_BOOL, false>(c, rel); break;
    default: ZEMA_SYSTEM_ERROR(c.ws);
  }
  return 0;
}

// An integer against a bit: exact relations; a single bit compares as a
// single integer.
int int_bit_kernel(const DyadicCall& c, std::uint8_t lt, std::uint8_t rt) {
  const Rel rel = relation_of(c.code);
  if (rel == Rel::None) return mixed_kernel(c, lt, rt);
  const bool lbit = lt == ET_BOOL;
  const std::uint32_t bitstep = lbit ? c.lstep : c.rstep;
  if (bitstep == 0) {
    const std::int32_t v = ld_bit(lbit ? c.l : c.r, 0);
    const auto* p = reinterpret_cast<const std::uint8_t*>(&v);
    compare_b_ii(rel, c.z, lbit ? p : c.l, lbit ? c.r : p, c.lstep, c.rstep, c.count);
    return 0;
  }
  return mixed_kernel(c, lt, rt);
}

int char_kernel(const DyadicCall& c) {
  const std::size_t lm = c.lstep ? ~std::size_t{0} : 0, rm = c.rstep ? ~std::size_t{0} : 0;
  const std::uint32_t flip = c.code == pc::Ne ? ~0u : 0u;
  std::uint32_t w = 0;
  for (std::size_t i = 0; i < c.count; ++i) {
    w = (w << 1) | (c.l[i & lm] == c.r[i & rm] ? 1u : 0u);
    if ((i & 31) == 31) {
      st_w(c.z, i / 32, w ^ flip);
      w = 0;
    }
  }
  if (c.count % 32) st_w(c.z, c.count / 32, (w << (32 - c.count % 32)) ^ flip);
  return 0;
}

int false_kernel(const DyadicCall& c) {
  if (c.flags & kf::BooleanArgs) domner(c.ws);
  const std::uint32_t w = c.code == pc::Ne ? ~0u : 0u;
  for (std::size_t k = 0; k < (std::size_t(c.count) + 31) / 32; ++k) st_w(c.z, k, w);
  return 0;
}

// ---- monadic ----------------------------------------------------------------------------

int mn_bool_to_int(const MonadicCall& c) {
  const std::size_t m = c.rstep ? ~std::size_t{0} : 0;
  for (std::size_t i = 0; i < c.count; ++i) {
    std::int32_t b = ld_bit(c.r, i & m);
    switch (c.code) {
      case pc::Query: fast_roll(b, c.ws); break;
      case pc::Fill: b = 0; break;
      case pc::Times: case pc::Plus: case pc::Ceiling: case pc::Floor: case pc::Stile: break;
      case pc::Minus: b = -b; break;
      case pc::Shriek: b = 1; break;
      case pc::Star:
        if (b) return 4;  // *1 is a fraction
        b = 1;
        break;
      default: return -1;
    }
    st_i(c.z, i, b);
  }
  return 0;
}

int mn_int_to_int(const MonadicCall& c) {
  IntMonadic op;
  switch (c.code) {
    case pc::Query: op = fast_roll; break;
    case pc::Fill: op = sfillfim; break;
    case pc::Times: op = multfm; break;
    case pc::Plus: case pc::Ceiling: case pc::Floor: op = plusmf; break;
    case pc::Minus: op = minusfm; break;
    case pc::Stile: op = resfm; break;
    case pc::Shriek: op = factfm; break;
    case pc::Star: op = starfm; break;
    default: return -1;
  }
  const std::size_t m = c.rstep ? ~std::size_t{0} : 0;
  for (std::size_t i = 0; i < c.count; ++i) {
    std::int32_t v = ld_i(c.r, i & m);
    if (op(v, c.ws)) return 4;
    st_i(c.z, i, v);
  }
  return 0;
}

double signum(double x) { return x > 0 ? 1.0 : x < 0 ? -1.0 : x; }

// Monadic functions with float results, on a value already converted to double.
template <std::uint8_t T>
int mn_to_float(const MonadicCall& c) {
  const double ct = comparison_tolerance(c.ws);
  const std::size_t m = c.rstep ? ~std::size_t{0} : 0;
  switch (c.code) {
    case pc::Fill: case pc::Plus: case pc::Times: case pc::Minus: case pc::Divide: case pc::Stile:
    case pc::Ceiling: case pc::Floor: case pc::Star: case pc::Circle: case pc::Log: break;
    default: return -1;
  }
  for (std::size_t i = 0; i < c.count; ++i) {
    const double x = num_f<T>(c.r, i & m);
    double v;
    switch (c.code) {
      case pc::Fill: v = 0.0; break;
      case pc::Plus: v = x; break;
      case pc::Times: v = signum(x); break;
      case pc::Minus: v = -x; break;
      case pc::Divide:
        if (x == 0.0) domner(c.ws);
        v = 1.0 / x;
        break;
      case pc::Stile: v = x < 0 ? -x : x; break;
      case pc::Ceiling: v = maxffm(x, ct); break;
      case pc::Floor: v = minffm(x, ct); break;
      case pc::Star: v = starffm(x, c.ws); break;
      case pc::Circle: v = circlffm(x, c.ws); break;
      default: v = logffm(x, c.ws); break;
    }
    st_f(c.z, i, v + 0.0);
  }
  return 0;
}

int mn_float_to_int(const MonadicCall& c) {
  if (c.code != pc::Times && c.code != pc::Ceiling && c.code != pc::Floor) return -1;
  const double ct = comparison_tolerance(c.ws);
  const std::size_t m = c.rstep ? ~std::size_t{0} : 0;
  for (std::size_t i = 0; i < c.count; ++i) {
    const double x = ld_f(c.r, i & m);
    double v = c.code == pc::Times ? signum(x) : c.code == pc::Ceiling ? maxffm(x, ct) : minffm(x, ct);
    if (!(v >= -2147483648.0 && v <= 2147483647.0)) return 4;
    st_i(c.z, i, static_cast<std::int32_t>(v));
    tick(i, c.ws);
  }
  return 0;
}

int mn_complement(const MonadicCall& c, std::uint8_t type) {
  if (c.code != pc::Tilde) return -1;
  for (std::size_t i = 0; i < c.count; i += 32) {
    const std::uint32_t n = c.count - i < 32 ? static_cast<std::uint32_t>(c.count - i) : 32;
    st_w(c.z, i / 32, ~fetchbc(type, c.r, c.rstep == 0, i, n, c.ws));
  }
  return 0;
}

}  // namespace

IntDyadic int_rule(std::uint8_t code) {
  switch (code) {
    case pc::Fill: return sfillfi;
    case pc::Plus: return plusdf;
    case pc::Minus: return minusf;
    case pc::Times: return multfd;
    case pc::Ceiling: return maxfd;
    case pc::Floor: return minfd;
    case pc::Stile: return resfd;
    case pc::Star: return starfd;
    case pc::Shriek: return factfd;
    default: return nullptr;
  }
}

DyKernel select_dyadic(std::uint8_t right, std::uint8_t left, std::uint8_t result) {
  const auto t = [](std::uint8_t type) { return type == ET_BOOL ? 0 : type == ET_INT ? 1 : type == ET_FLOAT ? 2 : type == ET_CHAR ? 3 : -1; };
  const int r = t(right), l = t(left), z = t(result);
  if (r < 0 || l < 0 || z < 0 || z == 3) return DyKernel::None;
  if (r == 3 || l == 3) {
    if (z != 0) return DyKernel::None;
    return r == 3 && l == 3 ? DyKernel::CCB : DyKernel::False;
  }
  static constexpr DyKernel table[3][3][3] = {
      // right b: left b, i, f
      {{DyKernel::BBB, DyKernel::BBI, DyKernel::BBF},
       {DyKernel::BIB, DyKernel::BII, DyKernel::BIF},
       {DyKernel::XXB, DyKernel::None, DyKernel::BFF}},
      // right i
      {{DyKernel::IBB, DyKernel::IBI, DyKernel::IBF},
       {DyKernel::IIB, DyKernel::III, DyKernel::IIF},
       {DyKernel::XXB, DyKernel::None, DyKernel::IFF}},
      // right f
      {{DyKernel::XXB, DyKernel::None, DyKernel::FBF},
       {DyKernel::XXB, DyKernel::None, DyKernel::FIF},
       {DyKernel::XXB, DyKernel::None, DyKernel::FFF}},
  };
  return table[r][l][z];
}

MnKernel select_monadic(std::uint8_t arg, std::uint8_t result) {
  const auto t = [](std::uint8_t type) { return type == ET_BOOL ? 0 : type == ET_INT ? 1 : type == ET_FLOAT ? 2 : -1; };
  const int a = t(arg), z = t(result);
  if (a < 0 || z < 0) return MnKernel::None;
  static constexpr MnKernel table[3][3] = {
      {MnKernel::BB, MnKernel::BI, MnKernel::BF},
      {MnKernel::XB, MnKernel::II, MnKernel::IF},
      {MnKernel::XB, MnKernel::FI, MnKernel::FF},
  };
  return table[a][z];
}

int run_dyadic(DyKernel k, const DyadicCall& c) {
  switch (k) {
    case DyKernel::BBB: {
      const WordOp op = word_op(c.code);
      if (op == WordOp::None) ZEMA_SYSTEM_ERROR(c.ws);
      word_loop(op, c.z, c.l, c.r, c.lstep == 0, c.rstep == 0, (c.count + 31) / 32);
      return 0;
    }
    case DyKernel::BBI: return int_kernel(c, ET_BOOL, ET_BOOL);
    case DyKernel::BII: return int_kernel(c, ET_INT, ET_BOOL);
    case DyKernel::IBI: return int_kernel(c, ET_BOOL, ET_INT);
    case DyKernel::III: return int_kernel(c, ET_INT, ET_INT);
    case DyKernel::IIB: {
      const Rel rel = relation_of(c.code);
      if (rel == Rel::None) return -1;
      compare_b_ii(rel, c.z, c.l, c.r, c.lstep, c.rstep, c.count);
      return 0;
    }
    case DyKernel::BIB: return int_bit_kernel(c, ET_INT, ET_BOOL);
    case DyKernel::IBB: return int_bit_kernel(c, ET_BOOL, ET_INT);
    case DyKernel::XXB: return mixed_kernel(c, c.ltype, c.rtype);
    case DyKernel::CCB: return char_kernel(c);
    case DyKernel::False: return false_kernel(c);
    case DyKernel::BBF: return float_kernel(c, ET_BOOL, ET_BOOL);
    case DyKernel::BIF: return float_kernel(c, ET_INT, ET_BOOL);
    case DyKernel::BFF: return float_kernel(c, ET_FLOAT, ET_BOOL);
    case DyKernel::IBF: return float_kernel(c, ET_BOOL, ET_INT);
    case DyKernel::IIF: return float_kernel(c, ET_INT, ET_INT);
    case DyKernel::IFF: return float_kernel(c, ET_FLOAT, ET_INT);
    case DyKernel::FBF: return float_kernel(c, ET_BOOL, ET_FLOAT);
    case DyKernel::FIF: return float_kernel(c, ET_INT, ET_FLOAT);
    case DyKernel::FFF: return float_kernel(c, ET_FLOAT, ET_FLOAT);
    case DyKernel::None: break;
  }
  return -1;
}

int run_monadic(MnKernel k, const MonadicCall& c) {
  switch (k) {
    case MnKernel::BB: {
      const std::size_t words = (std::size_t(c.count) + 31) / 32;
      const std::uint32_t single = c.rstep == 0 ? ((ld_w(c.r, 0) >> 31) ? ~0u : 0u) : 0;
      for (std::size_t i = 0; i < words; ++i) st_w(c.z, i, ~(c.rstep == 0 ? single : ld_w(c.r, i)));
      return 0;
    }
    case MnKernel::XB: return mn_complement(c, c.rtype);
    case MnKernel::BI: return mn_bool_to_int(c);
    case MnKernel::II: return mn_int_to_int(c);
    case MnKernel::BF: return mn_to_float<ET_BOOL>(c);
    case MnKernel::IF: return mn_to_float<ET_INT>(c);
    case MnKernel::FF: return mn_to_float<ET_FLOAT>(c);
    case MnKernel::FI: return mn_float_to_int(c);
    case MnKernel::None: break;
  }
  return -1;
}

}  // namespace zema
