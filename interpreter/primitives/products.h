// Outer product L∘.g R and inner product L f.g R of simple arrays by dyadic
// scalar primitives: rows by the typed kernels (booleans kept packed), a
// cache-blocked double loop and an exact 32-bit loop for +.×, early exits
// for ∧ and ∨, and every other case element by element on the 80-bit
// registers. The engine's operator layer decides when these serve (simple
// arguments, scalar primitive operands) and calls them with the left and
// right descriptors set on L and R.
#pragma once

#include <cstdint>

#include "interpreter/workspace/workspace.h"

namespace zema {

// A dyadic scalar primitive as an operand: its PrimitiveCode and its
// PrimitiveFlags row.
struct ScalarOperand {
  std::uint8_t code = 0;
  std::uint32_t flags = 0;
};

// L∘.g R for simple L and R (left_arg, right_arg): pushes the result of
// shape (⍴L),⍴R (oprslt). The result type comes from g's flags and the
// argument types, widened to float and the work done again when an integer
// result overflows. DOMAIN ERROR for characters g refuses, SYSTEM LIMIT for
// more than 63 axes, WS FULL for more than 2*31 elements, and whatever g
// raises.
void outer_simple(const ScalarOperand& g, Ws ws);

// L f.g R for simple L and R: pushes the result of shape (¯1↓⍴L),1↓⍴R.
// Each element reduces the row of L against the column of R from the last
// position back: acc ← L[i;n−1] g R[n−1;j], then acc ← (L[i;k] g R[k;j]) f
// acc. A common length of 1 on one side extends it. An empty common axis
// fills the result with f's identity (DOMAIN ERROR when f has none).
// LENGTH ERROR when the common lengths differ, SYSTEM LIMIT for more than
// 63 axes; with f ∧ or ∨ every g result must be 0 or 1 (DOMAIN ERROR); a
// float +.× whose result is not finite is a DOMAIN ERROR.
void inner_simple(const ScalarOperand& f, const ScalarOperand& g, Ws ws);

}  // namespace zema
