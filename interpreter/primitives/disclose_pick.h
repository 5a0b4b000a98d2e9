// ⊃R (disclose, also called mix), L⊃R (pick) and ↑R (first): the
// primitives that reach inside nested arrays.
#pragma once

#include "interpreter/primitives/primitive_call.h"
#include "interpreter/workspace/workspace.h"

namespace zema {

// ⊃R and ⊃[K]R. Reads R through the right descriptor and pushes the result
// (oprslt). A simple R is the result unchanged (an axis on it is AXIS
// ERROR). Of a nested R the items' axes become the last axes, or the axes
// K names (as many as the items have, else AXIS ERROR); every axis takes
// the largest length among the items, and a shorter item is padded with its
// own fill (blank for characters, zero for numbers, the prototype of a
// nested item). The items' ranks must agree, a scalar item fitting any
// (RANK ERROR); the result is simple when every item is simple and of one
// kind (characters, numbers of any width, object references), else nested;
// object references with numbers are DOMAIN ERROR. A result rank above 63
// is SYSTEM LIMIT; WS FULL before anything is allocated when the result
// cannot fit.
void disclose_monadic(const PrimitiveCall& c, Ws ws);

// L⊃R. Reads L and R through the descriptors and pushes the item L's path
// selects: each item of a nested L (a numeric scalar or vector, one index
// per axis of the array reached so far) or each element of a simple L (one
// index into a vector) selects one level down, under ⎕IO. An empty L
// selects R itself. The selected item is copied whole; an element of a
// simple array is a scalar of that array's type. Errors: L of rank above 1,
// an index item of rank above 1 or a simple index into a non-vector is
// RANK ERROR; a non-numeric or non-integral index, or an index item whose
// length is not the rank it indexes, DOMAIN ERROR; an index out of range,
// INDEX ERROR; a path longer than the nesting, LENGTH ERROR; an axis, AXIS
// ERROR.
void pick_dyadic(const PrimitiveCall& c, Ws ws);

// ↑R. Pushes R's first item (a copy), or, of an empty R, its prototype: the
// prototype item an empty nested array carries (an empty integer vector
// when it carries none); a scalar blank for empty characters, a scalar 0
// of R's type for any other empty simple array. An axis is AXIS ERROR.
void first_monadic(const PrimitiveCall& c, Ws ws);

}  // namespace zema
