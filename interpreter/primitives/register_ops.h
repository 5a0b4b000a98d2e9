// Building blocks of the element-at-a-time scalar path on 80-bit values:
// checked arithmetic (DOMAIN ERROR when an operation leaves the exponent
// range), exact ordering, floor, polynomial evaluation and the square root.
#pragma once

#include <cstdint>
#include <span>

#include "interpreter/workspace/extended80.h"
#include "interpreter/workspace/workspace.h"

namespace zema {

// The operands of one element of the general path: the L and R registers
// and the element types they came from (a character sits in the register's
// first byte, an object reference in its first four).
struct RegArgs {
  Extended80 l, r;
  std::uint8_t ltype = 0, rtype = 0;
};

// Z ← f(L, R) on the general path: reads a.l, a.r and their types.
using RegDyadic = Extended80 (*)(const RegArgs& a, Ws ws);
// Z ← f(R): reads a.r and a.rtype only.
using RegMonadic = Extended80 (*)(const RegArgs& a, Ws ws);

// Arithmetic that raises DOMAIN ERROR when the result leaves the range.
Extended80 xadd(const Extended80& l, const Extended80& r, Ws ws);  // l + r
Extended80 xsub(const Extended80& l, const Extended80& r, Ws ws);  // l − r
Extended80 xmul(const Extended80& l, const Extended80& r, Ws ws);  // l × r
// Division with the zero rules of ÷ (0÷0 is 1, x÷0 DOMAIN ERROR).
Extended80 xdiv(const Extended80& l, const Extended80& r, Ws ws);

// |x| (the sign bit cleared).
inline Extended80 xabs(const Extended80& x) {
  return Extended80{static_cast<std::uint16_t>(x.exp_word & ~Extended80::kSignBit), x.mant_hi, x.mant_lo};
}
// Whether x is negative (its sign bit).
inline bool xneg_sign(const Extended80& x) { return x.negative(); }
// Whether x is exactly 1.
inline bool xis_one(const Extended80& x) { return x == x80const::one; }

// Exact order: true when a < b (the ordering keys of the two values).
bool xless(const Extended80& a, const Extended80& b);

// R ← ⌊Z exactly; answers true when a fraction was dropped.
bool rtflr(const Extended80& z, Extended80& r);

// c0·t^(n−1) + … + c(n−1) by Horner's rule (DOMAIN ERROR on failure).
Extended80 polval(std::span<const Extended80> table, const Extended80& t, Ws ws);

// √x for x > 0 by Newton's method (four steps from a linear start).
Extended80 xsqrt(const Extended80& x, Ws ws);

// The value multiplied by 2^n (DOMAIN ERROR when out of range; underflow
// gives 0).
Extended80 xscale(const Extended80& x, int n, Ws ws);

// The unbiased exponent of a non-zero value.
inline int xexp(const Extended80& x) { return x.exponent() - Extended80::kBias; }

// ⎕CT as held in the header.
inline Extended80 quad_ct(Ws ws) { return load_x80(ws + hdr::QuadCT); }

}  // namespace zema
