// ⍟ (logarithm), * (exponential, power), ! (factorial, binomial) and ?
// (roll) at the three levels of the scalar functions: integers (power,
// factorial, binomial and roll that stay integral, overflow reported),
// doubles (through the C library, with domain checks) and 80-bit registers
// (series and rational approximations on the extended arithmetic).
#pragma once

#include <cstdint>

#include "interpreter/primitives/register_ops.h"
#include "interpreter/workspace/workspace.h"

namespace zema {

// Integer routines (true on overflow; the result is then rebuilt as float).
bool starfd(std::int32_t& l, std::int32_t r, Ws ws);  // l * r
bool factfd(std::int32_t& l, std::int32_t r, Ws ws);  // l ! r
bool factfm(std::int32_t& x, Ws ws);                   // ! x
// * x: 1 for 0; any other integer has a fractional power of e (true).
bool starfm(std::int32_t& x, Ws ws);
// x ← a random integer from ⎕IO to x − 1 + ⎕IO (DOMAIN ERROR for x ≤ 0).
bool fast_roll(std::int32_t& x, Ws ws);

// Doubles: the result, or DOMAIN ERROR (through `ws`) where the function
// is undefined.
double logffm(double x, Ws ws);            // ⍟ x
double logffd(double l, double r, Ws ws);  // l ⍟ r; the quotient is not checked here
double starffm(double x, Ws ws);           // * x
double starffd(double l, double r, Ws ws);  // l * r

// Registers: the result as an extended real; DOMAIN ERROR where the
// function is undefined (⍟ of zero or a negative, ! of a negative integer).
Extended80 log_4(const Extended80& r, Ws ws);                         // ⍟ r
Extended80 star_4(const Extended80& r, Ws ws);                        // * r; 0 far below the double range
Extended80 stard_x(const Extended80& l, const Extended80& r, Ws ws);  // l * r
Extended80 fact_x(const Extended80& r, Ws ws);                        // ! r (gamma of r + 1), polled

// The general path's routines: the same on the registers of `a` (Z from
// a.l and a.r).
Extended80 log_4r(const RegArgs& a, Ws ws);     // ⍟ R
Extended80 logd(const RegArgs& a, Ws ws);       // L ⍟ R
Extended80 star_4r(const RegArgs& a, Ws ws);    // * R
Extended80 stard(const RegArgs& a, Ws ws);      // L * R
Extended80 fact_4(const RegArgs& a, Ws ws);     // ! R
// L ! R, the binomial, 0 where it vanishes; whole numbers by a product of
// at most 2*14 steps (a longer one has no value in range: DOMAIN ERROR).
Extended80 bc(const RegArgs& a, Ws ws);
// ? R: a random integer from ⎕IO to R − 1 + ⎕IO (R a whole number, else
// DOMAIN ERROR); advances the ⎕RL seed.
Extended80 slow_roll(const RegArgs& a, Ws ws);

// The random generator behind ⎕RL: one draw, seed ← 16807 × seed mod
// 2*31 − 1 (hdr::QuadRL); answers the new seed.
std::uint32_t getrnd(Ws ws);
// One draw scaled to 0 … n − 1: ⌊(2 × n × getrnd) ÷ 2*32.
std::uint32_t dealrl(std::uint32_t n, Ws ws);

}  // namespace zema
