#include "interpreter/primitives/kernels_compare.h"

#include <cstring>

#include "interpreter/workspace/errors.h"
#include "interpreter/primitives/scalar_codes.h"

namespace zema {

namespace {

inline std::int32_t ld_i(const std::uint8_t* p, std::uint32_t i) {
  std::int32_t v;
  std::memcpy(&v, p + 4 * std::size_t(i), 4);
  return v;
}
inline std::uint32_t ld_w(const std::uint8_t* p, std::uint32_t i) {
  std::uint32_t v;
  std::memcpy(&v, p + 4 * std::size_t(i), 4);
  return v;
}
inline void st_w(std::uint8_t* p, std::uint32_t i, std::uint32_t v) { std::memcpy(p + 4 * std::size_t(i), &v, 4); }

template <Rel R>
inline bool rel_i(std::int32_t a, std::int32_t b) {
  if constexpr (R == Rel::Eq) return a == b;
  if constexpr (R == Rel::Ne) return a != b;
  if constexpr (R == Rel::Ge) return a >= b;
  if constexpr (R == Rel::Lt) return a < b;
  if constexpr (R == Rel::Gt) return a > b;
  return a <= b;
}

// One word of results from 32 comparisons starting at element i.
template <Rel R, bool LS, bool RS>
inline std::uint32_t cmp_word(const std::uint8_t* l, const std::uint8_t* r, std::uint32_t i, std::uint32_t n,
                              std::int32_t lv, std::int32_t rv) {
  std::uint32_t bits = 0;
  for (std::uint32_t j = 0; j < n; ++j) {
    const std::int32_t a = LS ? lv : ld_i(l, i + j);
    const std::int32_t b = RS ? rv : ld_i(r, i + j);
    bits = (bits << 1) | static_cast<std::uint32_t>(rel_i<R>(a, b));
  }
  return bits << (32 - n);
}

template <Rel R, bool LS, bool RS>
void cmp_loop(std::uint8_t* z, const std::uint8_t* l, const std::uint8_t* r, std::uint32_t count) {
  const std::int32_t lv = LS ? ld_i(l, 0) : 0;
  const std::int32_t rv = RS ? ld_i(r, 0) : 0;
  const std::uint32_t full = count / 32;
  for (std::uint32_t w = 0; w < full; ++w) st_w(z, w, cmp_word<R, LS, RS>(l, r, 32 * w, 32, lv, rv));
  if (const std::uint32_t rest = count % 32) st_w(z, full, cmp_word<R, LS, RS>(l, r, 32 * full, rest, lv, rv));
}

template <Rel R>
void cmp_paths(std::uint8_t* z, const std::uint8_t* l, const std::uint8_t* r, std::uint32_t lstep,
               std::uint32_t rstep, std::uint32_t count) {
  if (lstep == 0)
    cmp_loop<R, true, false>(z, l, r, count);  // also when both are single: the left is read once
  else if (rstep == 0)
    cmp_loop<R, false, true>(z, l, r, count);
  else
    cmp_loop<R, false, false>(z, l, r, count);
}

// Z ← 1 or 0.
Extended80 truth(bool b) { return b ? x80const::one : x80const::fpzero; }

bool is_float(std::uint8_t t) { return t == ET_FLOAT; }

// |D| ≤ ⎕CT × the larger magnitude, for the tolerant tests.
struct Tolerance {
  Extended80 d;  // L − R
  Extended80 t;  // ⎕CT × max(|L|, |R|)
};
Tolerance tolerance_of(const RegArgs& a, Ws ws) {
  const Extended80 d = xsub(a.l, a.r, ws);
  const Extended80 m = xabs(gtlrg(a.l, a.r).larger);
  return Tolerance{d, xmul(quad_ct(ws), m, ws)};
}

}  // namespace

double comparison_tolerance(Ws ws) {
  double d = 0.0;
  if (!dblflt(quad_ct(ws), d)) d = 0.0;
  return d;
}

WordOp word_op(std::uint8_t code) {
  switch (code) {
    case pc::And: return WordOp::And;
    case pc::Or: return WordOp::Or;
    case pc::Nand: return WordOp::Nand;
    case pc::Nor: return WordOp::Nor;
    case pc::Eq: return WordOp::Eq;
    case pc::Ne: return WordOp::Ne;
    case pc::Ge: return WordOp::Ge;
    case pc::Lt: return WordOp::Lt;
    case pc::Gt: return WordOp::Gt;
    case pc::Le: return WordOp::Le;
    default: return WordOp::None;
  }
}

std::uint32_t apply_word_op(WordOp op, std::uint32_t l, std::uint32_t r) {
  switch (op) {
    case WordOp::And: return l & r;
    case WordOp::Or: return l | r;
    case WordOp::Nand: return ~(l & r);
    case WordOp::Nor: return ~(l | r);
    case WordOp::Eq: return ~(l ^ r);
    case WordOp::Ne: return l ^ r;
    case WordOp::Ge: return l | ~r;
    case WordOp::Lt: return ~l & r;
    case WordOp::Gt: return l & ~r;
    case WordOp::Le: return ~l | r;
    case WordOp::None: break;
  }
  return 0;
}

namespace {

template <WordOp Op>
void word_loop_op(std::uint8_t* z, const std::uint8_t* l, const std::uint8_t* r, bool lsingle, bool rsingle,
                  std::uint32_t words) {
  const std::uint32_t lv = lsingle ? ((ld_w(l, 0) >> 31) ? ~0u : 0u) : 0;
  const std::uint32_t rv = rsingle ? ((ld_w(r, 0) >> 31) ? ~0u : 0u) : 0;
  if (lsingle)
    for (std::uint32_t i = 0; i < words; ++i) st_w(z, i, apply_word_op(Op, lv, ld_w(r, i)));
  else if (rsingle)
    for (std::uint32_t i = 0; i < words; ++i) st_w(z, i, apply_word_op(Op, ld_w(l, i), rv));
  else
    for (std::uint32_t i = 0; i < words; ++i) st_w(z, i, apply_word_op(Op, ld_w(l, i), ld_w(r, i)));
}

}  // namespace

void word_loop(WordOp op, std::uint8_t* z, const std::uint8_t* l, const std::uint8_t* r, bool lsingle, bool rsingle,
               std::uint32_t words) {
  if (lsingle && rsingle) words = 1;
  switch (op) {
    case WordOp::And: return word_loop_op<WordOp::And>(z, l, r, lsingle, rsingle, words);
    case WordOp::Or: return word_loop_op<WordOp::Or>(z, l, r, lsingle, rsingle, words);
    case WordOp::Nand: return word_loop_op<WordOp::Nand>(z, l, r, lsingle, rsingle, words);
    case WordOp::Nor: return word_loop_op<WordOp::Nor>(z, l, r, lsingle, rsingle, words);
    case WordOp::Eq: return word_loop_op<WordOp::Eq>(z, l, r, lsingle, rsingle, words);
    case WordOp::Ne: return word_loop_op<WordOp::Ne>(z, l, r, lsingle, rsingle, words);
    case WordOp::Ge: return word_loop_op<WordOp::Ge>(z, l, r, lsingle, rsingle, words);
    case WordOp::Lt: return word_loop_op<WordOp::Lt>(z, l, r, lsingle, rsingle, words);
    case WordOp::Gt: return word_loop_op<WordOp::Gt>(z, l, r, lsingle, rsingle, words);
    case WordOp::Le: return word_loop_op<WordOp::Le>(z, l, r, lsingle, rsingle, words);
    case WordOp::None: break;
  }
}

Rel relation_of(std::uint8_t code) {
  switch (code) {
    case pc::Eq: return Rel::Eq;
    case pc::Ne: return Rel::Ne;
    case pc::Ge: return Rel::Ge;
    case pc::Lt: return Rel::Lt;
    case pc::Gt: return Rel::Gt;
    case pc::Le: return Rel::Le;
    default: return Rel::None;
  }
}

void compare_b_ii(Rel rel, std::uint8_t* z, const std::uint8_t* l, const std::uint8_t* r, std::uint32_t lstep,
                  std::uint32_t rstep, std::uint32_t count) {
  switch (rel) {
    case Rel::Eq: return cmp_paths<Rel::Eq>(z, l, r, lstep, rstep, count);
    case Rel::Ne: return cmp_paths<Rel::Ne>(z, l, r, lstep, rstep, count);
    case Rel::Ge: return cmp_paths<Rel::Ge>(z, l, r, lstep, rstep, count);
    case Rel::Lt: return cmp_paths<Rel::Lt>(z, l, r, lstep, rstep, count);
    case Rel::Gt: return cmp_paths<Rel::Gt>(z, l, r, lstep, rstep, count);
    case Rel::Le: return cmp_paths<Rel::Le>(z, l, r, lstep, rstep, count);
    case Rel::None: break;
  }
}

bool relate_ff(Rel rel, double l, double r, double tol) {
  switch (rel) {
    case Rel::Eq: return tolerant_equal(l, r, tol);
    case Rel::Ne: return !tolerant_equal(l, r, tol);
    case Rel::Ge: return l > r || tolerant_equal(l, r, tol);
    case Rel::Lt: return l < r && !tolerant_equal(l, r, tol);
    case Rel::Gt: return l > r && !tolerant_equal(l, r, tol);
    case Rel::Le: return l < r || tolerant_equal(l, r, tol);
    case Rel::None: break;
  }
  return false;
}

// ---- registers ---------------------------------------------------------------------------

bool ckeq(const RegArgs& a, Ws ws) {
  if (a.ltype == ET_CHAR || a.rtype == ET_CHAR) {
    std::uint8_t lb[kExtended80Bytes], rb[kExtended80Bytes];
    store_x80(lb, a.l);
    store_x80(rb, a.r);
    return a.ltype == ET_CHAR && a.rtype == ET_CHAR && lb[0] == rb[0];
  }
  if (a.ltype == ET_OBJREF || a.rtype == ET_OBJREF) {
    std::uint8_t lb[kExtended80Bytes], rb[kExtended80Bytes];
    store_x80(lb, a.l);
    store_x80(rb, a.r);
    return a.ltype == ET_OBJREF && a.rtype == ET_OBJREF && std::memcmp(lb, rb, 4) == 0;
  }
  if (a.l == a.r) return true;
  if (!is_float(a.ltype) && !is_float(a.rtype)) return false;
  if (a.l.negative() != a.r.negative()) return false;
  const Tolerance t = tolerance_of(a, ws);
  return !xless(t.t, xabs(t.d));
}

bool ckgte(const RegArgs& a, Ws ws) {
  if (is_float(a.ltype) || is_float(a.rtype)) {
    const Tolerance t = tolerance_of(a, ws);
    return !xless(t.d, neg(t.t));
  }
  return !xless(a.l, a.r);
}

bool ckbin(const Extended80& x, Ws ws) {
  if (x.is_zero() && x.mant_hi == 0 && x.mant_lo == 0) return false;
  if (x == x80const::one) return true;
  domner(ws);
}

Extended80 equalo(const RegArgs& a, Ws ws) { return truth(ckeq(a, ws)); }
Extended80 nequalo(const RegArgs& a, Ws ws) { return truth(!ckeq(a, ws)); }
Extended80 gteo(const RegArgs& a, Ws ws) { return truth(ckgte(a, ws)); }
Extended80 lto(const RegArgs& a, Ws ws) { return truth(!ckgte(a, ws)); }
Extended80 gto(const RegArgs& a, Ws ws) {
  const RegArgs s{a.r, a.l, a.rtype, a.ltype};
  return truth(!ckgte(s, ws));
}
Extended80 lteo(const RegArgs& a, Ws ws) {
  const RegArgs s{a.r, a.l, a.rtype, a.ltype};
  return truth(ckgte(s, ws));
}
Extended80 ando(const RegArgs& a, Ws ws) {
  const bool l = ckbin(a.l, ws), r = ckbin(a.r, ws);
  return truth(l && r);
}
Extended80 oro(const RegArgs& a, Ws ws) {
  const bool l = ckbin(a.l, ws), r = ckbin(a.r, ws);
  return truth(l || r);
}
Extended80 nando(const RegArgs& a, Ws ws) {
  const bool l = ckbin(a.l, ws), r = ckbin(a.r, ws);
  return truth(!(l && r));
}
Extended80 noro(const RegArgs& a, Ws ws) {
  const bool l = ckbin(a.l, ws), r = ckbin(a.r, ws);
  return truth(!(l || r));
}
Extended80 noto(const RegArgs& a, Ws ws) {
  // A character in the register is neither 0 nor 1 unless its type says so.
  if (a.rtype == ET_CHAR || a.rtype == ET_OBJREF) domner(ws);
  return truth(!ckbin(a.r, ws));
}

}  // namespace zema
