// The boolean functions ∧ ∨ ⍲ ⍱ ~ and the comparisons = ≠ < ≤ ≥ > at three
// levels: whole 32-bit boolean words, 32-bit integers (exact), and doubles
// or 80-bit registers (tolerant under ⎕CT when either side is a float).
// The tolerant equality here (`ckeq`, `tolerant_equal`) is the one the rest
// of the interpreter uses whenever two numbers must be compared.
#pragma once

#include <cmath>
#include <cstdint>

#include "interpreter/primitives/register_ops.h"
#include "interpreter/workspace/workspace.h"

namespace zema {

// ⎕CT as a double.
double comparison_tolerance(Ws ws);

// ---- whole boolean words -----------------------------------------------------------

// A boolean dyadic function as a bitwise operation on 32 elements at once
// (∧ ∨ ⍲ ⍱ and the six comparisons on booleans); None for no such form.
enum class WordOp : std::uint8_t { None, And, Or, Nand, Nor, Eq, Ne, Ge, Lt, Gt, Le };
// The word operation of a boolean dyadic function (None for others).
WordOp word_op(std::uint8_t code);
// 32 results of `op` at once from the words l and r (0 for None); bits
// past the last element are not cleared.
std::uint32_t apply_word_op(WordOp op, std::uint32_t l, std::uint32_t r);

// Z ← L op R over `words` words; a single-element side (step 0) contributes
// all ones or all zeros from bit 31 of its one word.
void word_loop(WordOp op, std::uint8_t* z, const std::uint8_t* l, const std::uint8_t* r, bool lsingle, bool rsingle,
               std::uint32_t words);

// ---- relations ------------------------------------------------------------------------

// The six comparisons; None for a function that is not one.
enum class Rel : std::uint8_t { None, Eq, Ne, Ge, Lt, Gt, Le };
// The relation of a PrimitiveCode (= ≠ ≥ < > ≤), or Rel::None.
Rel relation_of(std::uint8_t code);

// Integers to booleans, 32 results to a word (first in bit 31, a final
// partial word padded with zeros); a zero step marks a single element.
void compare_b_ii(Rel rel, std::uint8_t* z, const std::uint8_t* l, const std::uint8_t* r, std::uint32_t lstep,
                  std::uint32_t rstep, std::uint32_t count);

// Tolerant relations of doubles: x = y when |x − y| ≤ tol × max(|x|, |y|).
inline bool tolerant_equal(double x, double y, double tol) {
  const double ax = std::fabs(x), ay = std::fabs(y);
  return (x == y) | (std::fabs(x - y) <= tol * (ax > ay ? ax : ay));
}
// l R r, tolerant through tolerant_equal, the relation fixed at compile time.
template <Rel R>
inline bool relate(double l, double r, double tol) {
  if constexpr (R == Rel::Eq) return tolerant_equal(l, r, tol);
  if constexpr (R == Rel::Ne) return !tolerant_equal(l, r, tol);
  if constexpr (R == Rel::Ge) return l > r || tolerant_equal(l, r, tol);
  if constexpr (R == Rel::Lt) return l < r && !tolerant_equal(l, r, tol);
  if constexpr (R == Rel::Gt) return l > r && !tolerant_equal(l, r, tol);
  return l < r || tolerant_equal(l, r, tol);
}
// The same with the relation chosen at run time (false for Rel::None).
bool relate_ff(Rel rel, double l, double r, double tol);

// Tolerant comparisons of the L and R registers (types say which are
// floats, characters or references): ckeq answers whether they are equal,
// ckgte whether L ≥ R.
bool ckeq(const RegArgs& a, Ws ws);
bool ckgte(const RegArgs& a, Ws ws);

// A register holding exactly 0 or 1 (DOMAIN ERROR otherwise); answers the bit.
bool ckbin(const Extended80& x, Ws ws);

// The general-path routines: 1 or 0 in the result register. The
// comparisons go through ckeq and ckgte; the boolean functions take only
// 0 or 1 (ckbin: DOMAIN ERROR otherwise; ~ also refuses characters and
// references by their type).
Extended80 equalo(const RegArgs& a, Ws ws);  // L = R
Extended80 nequalo(const RegArgs& a, Ws ws); // L ≠ R
Extended80 gteo(const RegArgs& a, Ws ws);    // L ≥ R
Extended80 lto(const RegArgs& a, Ws ws);     // L < R
Extended80 gto(const RegArgs& a, Ws ws);     // L > R
Extended80 lteo(const RegArgs& a, Ws ws);    // L ≤ R
Extended80 ando(const RegArgs& a, Ws ws);    // L ∧ R
Extended80 oro(const RegArgs& a, Ws ws);     // L ∨ R
Extended80 nando(const RegArgs& a, Ws ws);   // L ⍲ R
Extended80 noro(const RegArgs& a, Ws ws);    // L ⍱ R
Extended80 noto(const RegArgs& a, Ws ws);    // ~ R

}  // namespace zema
