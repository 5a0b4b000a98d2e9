// ⌹: matrix divide and matrix inverse.
#pragma once

#include "interpreter/primitives/primitive_call.h"
#include "interpreter/workspace/workspace.h"

namespace zema {

// Each reads R (and L) through the call's descriptors and pushes a float
// result (oprslt). A scalar or a vector of length m is taken as an m×1
// matrix; the result's shape is R's column count when R is a matrix,
// followed by L's column count when L is a matrix (two vectors give a
// scalar).
//
// L⌹R answers the X that solves R+.×X = L: exactly when R is square and
// non-singular, in the least-squares sense when R has more rows than
// columns. ⌹R is I⌹R with I the identity of R's row count (the scalar 1
// for a scalar R): the inverse, or the pseudo-inverse.
//
// Errors: a nested argument is DOMAIN ERROR, an axis AXIS ERROR; rank
// above 2 RANK ERROR; row counts that differ LENGTH ERROR; R with fewer
// rows than columns DOMAIN ERROR; an empty result is answered at once.
// R is solved by a column-pivoted Householder QR factorisation of R with
// its rows and columns equilibrated, in 80-bit extended arithmetic; a
// column whose remaining elements are all below 1E¯13 times R's largest
// magnitude makes R rank-deficient: DOMAIN ERROR (a singular or nearly
// singular matrix, a zero row or column). A result beyond the double
// range is DOMAIN ERROR. The factorisation's matrix and vectors lie in the
// free gap between heap top and stack (WS FULL when it lacks room, after
// a compaction; ⌹ also when R's row count squared passes 32 bits). An
// attention is polled once per column (INTERRUPT).
void domino_monadic(const PrimitiveCall& c, Ws ws);  // ⌹R
void domino_dyadic(const PrimitiveCall& c, Ws ws);   // L⌹R

}  // namespace zema
