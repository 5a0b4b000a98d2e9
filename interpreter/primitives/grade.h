// ⍋ and ⍒: grade up and grade down, monadic and with a collating sequence.
#pragma once

#include "interpreter/primitives/primitive_call.h"
#include "interpreter/workspace/workspace.h"

namespace zema {

// Each reads R (and L) through the call's descriptors and pushes the
// result (oprslt): an integer vector, one index (⎕IO applied) per major
// cell of R, in the order that sorts the cells. The order is exact (no
// comparison tolerance) and stable in both directions: equal cells keep
// ascending index order for ⍒ as for ⍋. Scratch comes from the free gap
// between heap top and stack (WS FULL when it lacks room, after a
// compaction).
//
// Monadic: a nested R is DOMAIN ERROR, an axis AXIS ERROR, a scalar R RANK
// ERROR. Cells are compared element by element, the first difference
// deciding: numbers by value, characters by internal code.
void grade_up_monadic(const PrimitiveCall& c, Ws ws);    // ⍋R
void grade_down_monadic(const PrimitiveCall& c, Ws ws);  // ⍒R
// Dyadic: L and R must be characters and L neither a scalar nor empty
// (else DOMAIN ERROR); an axis is AXIS ERROR, a scalar R RANK ERROR. A
// character ranks by its first position in L's ravel (characters absent
// from L after all others, equal among themselves); when L and R both have
// rank 2 or more, cells are compared by the position along L's last axis
// over all their characters, then along the axis before it, and so on.
void grade_up_dyadic(const PrimitiveCall& c, Ws ws);     // L⍋R
void grade_down_dyadic(const PrimitiveCall& c, Ws ws);   // L⍒R

}  // namespace zema
