// + − × ÷ | ⌈ ⌊ at the three levels of the scalar functions: 32-bit integer
// element routines and whole-vector loops (overflow reported, never
// raised), double routines and whole-vector loops (DOMAIN ERROR for an
// infinite or undefined result), and the register routines of the general
// path.
//
// Floor, ceiling and residue are tolerant under ⎕CT, the same rule on every
// path (doubles and registers): with n the integer nearest x (n = ⌊x + 0.5,
// halves go up), x is tolerantly n when |x − n| ≤ ⎕CT × max(1, |x|, |n|);
// then ⌊x and ⌈x are n, else the exact floor and ceiling. The tolerance is
// relative to the magnitudes but never below ⎕CT, so a magnitude within
// ⎕CT of 0 is 0: ⌈1E¯14 and ⌊¯1E¯14 are 0; ⌊ and ⌈ of 100000000000000.5
// are both 100000000000001. L|R is 0 when R÷L is tolerantly an integer
// (1E20|1 is 0: the quotient 1E¯20 is within ⎕CT of 0), else
// R − L × ⌊R÷L.
#pragma once

#include <algorithm>
#include <cmath>
#include <cstdint>

#include "interpreter/primitives/register_ops.h"
#include "interpreter/workspace/workspace.h"

namespace zema {

// Integer element routines: l ← l f r; true on overflow (l then holds the
// wrapped value, which the caller discards).
using IntDyadic = bool (*)(std::int32_t& l, std::int32_t r, Ws ws);
// Monadic: x ← f x; true on overflow.
using IntMonadic = bool (*)(std::int32_t& x, Ws ws);

bool plusdf(std::int32_t& l, std::int32_t r, Ws ws);   // l + r
bool minusf(std::int32_t& l, std::int32_t r, Ws ws);   // l − r
bool multfd(std::int32_t& l, std::int32_t r, Ws ws);   // l × r
bool maxfd(std::int32_t& l, std::int32_t r, Ws ws);    // l ⌈ r, never overflows
bool minfd(std::int32_t& l, std::int32_t r, Ws ws);    // l ⌊ r, never overflows
// l | r (the residue takes the sign of l; r when l is 0); true when l or r
// is −2*31, whose magnitude has no 32-bit form.
bool resfd(std::int32_t& l, std::int32_t r, Ws ws);
bool sfillfi(std::int32_t& l, std::int32_t r, Ws ws);  // 0: the fill function's integer result

bool multfm(std::int32_t& x, Ws ws);   // signum
bool plusmf(std::int32_t& x, Ws ws);   // identity (also ⌈ ⌊)
bool minusfm(std::int32_t& x, Ws ws);  // negation; true for −2*31
bool resfm(std::int32_t& x, Ws ws);    // magnitude; true for −2*31
bool sfillfim(std::int32_t& x, Ws ws); // 0

// In-place helpers with overflow flags: x ← x × v (signed, then unsigned)
// and x ← x + v, answering 1 on overflow (x then wrapped), else 0.
int mul32(std::int32_t& x, std::int32_t v);
int mulu32(std::uint32_t& x, std::uint32_t v);
int add32(std::int32_t& x, std::int32_t v);

// Whole-vector integer loops for + − × ⌈ ⌊ (`code` a PrimitiveCode) over
// cursors with scalar extension (a zero step marks a single element):
// answers 0, 8 on integer overflow, −1 when the function has no loop.
// Attention is polled once per 800,000 elements.
int fused_i_ii(std::uint8_t code, std::uint8_t* z, const std::uint8_t* l, const std::uint8_t* r,
               std::uint32_t lstep, std::uint32_t rstep, std::uint32_t count, Ws ws);
// Whether fused_i_ii has a loop for `code` (+ − × ⌈ ⌊).
bool has_fused_i_ii(std::uint8_t code);

// Whole-vector double loops for + − × ÷ ⌈ ⌊: answers 0, −1 when the
// function has no loop. DOMAIN ERROR for an infinite or undefined result
// and for a non-zero number divided by 0; 0÷0 is 1; −0 is stored as +0.
int fused_f_ff(std::uint8_t code, std::uint8_t* z, const std::uint8_t* l, const std::uint8_t* r,
               std::uint32_t lstep, std::uint32_t rstep, std::uint32_t count, Ws ws);
// Whether fused_f_ff has a loop for `code` (+ − × ÷ ⌈ ⌊).
bool has_fused_f_ff(std::uint8_t code);

// Whether x is tolerantly the integer n nearest it (halves go up):
// |x − n| ≤ ct × max(1, |x|, |n|).
inline bool tolerantly_integer(double x, double n, double ct) {
  return std::fabs(x - n) <= ct * std::max(std::max(std::fabs(x), std::fabs(n)), 1.0);
}

// Tolerant ceiling and floor of a double (`ct` = ⎕CT), and the residue.
// For a non-integral x below 2*52 the floor and ceiling differ by 1 and
// x − floor is exact, which gives the nearest integer without a second
// rounding.
// ⌈x: the nearest integer when x is tolerantly it, else the exact ceiling.
inline double maxffm(double x, double ct) {
  const double c = std::ceil(x);
  if (c == x) return x;
  const double f = c - 1.0;
  const double n = x - f >= 0.5 ? c : f;
  return tolerantly_integer(x, n, ct) ? n : c;
}
// ⌊x: the nearest integer when x is tolerantly it, else the exact floor.
inline double minffm(double x, double ct) {
  const double f = std::floor(x);
  if (f == x) return x;
  const double n = x - f >= 0.5 ? f + 1.0 : f;
  return tolerantly_integer(x, n, ct) ? n : f;
}
// l|r on doubles under the header's ⎕CT: r when l is 0, 0 when r is 0 or
// r÷l is tolerantly an integer, else r − l×⌊r÷l (0 where that rounds to
// l: a residue lies in [0, l) or (l, 0]); DOMAIN ERROR for a non-finite
// step.
double resffd(double l, double r, Ws ws);
// The same with ⎕CT given, for loops that read it once.
double resffd(double l, double r, double ct, Ws ws);

// A double result checked: DOMAIN ERROR unless finite; −0 becomes +0.
double checked(double v, Ws ws);

// Register routines of the general path: Z from the registers a.l and a.r
// (RegDyadic / RegMonadic); DOMAIN ERROR when a result leaves the range.
Extended80 plusd_r(const RegArgs& a, Ws ws);   // L + R
Extended80 minusd_r(const RegArgs& a, Ws ws);  // L − R
Extended80 multd_r(const RegArgs& a, Ws ws);   // L × R
Extended80 divdd_r(const RegArgs& a, Ws ws);   // L ÷ R (0÷0 is 1, x÷0 DOMAIN ERROR)
Extended80 resd(const RegArgs& a, Ws ws);      // L | R, tolerant as above
Extended80 maxd(const RegArgs& a, Ws ws);      // L ⌈ R
Extended80 mind(const RegArgs& a, Ws ws);      // L ⌊ R
Extended80 sfillo(const RegArgs& a, Ws ws);    // 0: the fill function's result
Extended80 rtoz(const RegArgs& a, Ws ws);      // R (monadic +)
Extended80 minusm(const RegArgs& a, Ws ws);    // − R
Extended80 multm(const RegArgs& a, Ws ws);     // × R: ¯1, 0 or 1
Extended80 divd_4r(const RegArgs& a, Ws ws);   // ÷ R: 1 ÷ R
Extended80 resm(const RegArgs& a, Ws ws);      // | R
Extended80 maxm(const RegArgs& a, Ws ws);      // ⌈ R: tolerant ceiling of a float, else R
Extended80 minm(const RegArgs& a, Ws ws);      // ⌊ R: tolerant floor of a float, else R

// Tolerant ceiling of a register value treated as a float, under the
// header's ⎕CT.
Extended80 tolerant_ceiling(const Extended80& x, Ws ws);
// Tolerant floor, the same way.
Extended80 tolerant_floor(const Extended80& x, Ws ws);

// Attention poll from inside a kernel: polls the host and reloads the
// attention countdown.
void kernel_attention_poll(Ws ws);

}  // namespace zema
