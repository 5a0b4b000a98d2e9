// ⍕ and ⍺ as primitives. ⍕: monadic (the default display as a character array) and
// dyadic with a numeric left argument (widths and precisions) or a
// character left argument (format by example, format_example.cpp). The
// field engine they share with ⎕FMT is output/format_fields.h.
#pragma once

#include <cstdint>

#include "interpreter/primitives/primitive_call.h"
#include "interpreter/primitives/structural.h"
#include "interpreter/workspace/workspace.h"

namespace zema {

// ⍕R: a character R unchanged; any other R's display, as the session would
// show it, as a character array: a simple R keeps its rank (a scalar gives
// a vector) and leading axes, the last axis the characters of a row; a
// nested R gives a matrix of its display lines when it or any item at any
// depth has rank 2 or more, else a vector. AXIS ERROR with an axis.
void format_monadic(const PrimitiveCall& call, Ws ws);
// L⍕R: numeric L, a precision or (width, precision) pairs, one for every
// column or one per column; character L, format by example. Pushes the
// character result. AXIS ERROR, DOMAIN ERROR, RANK ERROR, LENGTH ERROR as
// the forms say; WS FULL when the result does not fit.
void format_dyadic(const PrimitiveCall& call, Ws ws);
// L⍺R (format_alpha.cpp): numeric L, one width (no decimals) or (width,
// decimals) pairs, decimals between 0 and the width; character L, picture
// fields separated by ";" with quoted text. R simple, numeric unless
// empty. Pushes the character result. AXIS ERROR, DOMAIN ERROR, RANK
// ERROR, LENGTH ERROR as the forms say; WS FULL when the result does not fit.
void format_alpha(const PrimitiveCall& call, Ws ws);
// The character result of a dyadic format of R (ravel facts `r`, read
// before any allocation) whose rows are `total` characters wide: R's shape
// with its last axis (a scalar: one axis) replaced by `total`, pushed.
// DOMAIN ERROR when a length or the count passes 2³¹−1; WS FULL when it
// does not fit (the arguments may move: read them afresh).
ArrayInfo new_formatted_result(const ArrayInfo& r, std::uint64_t total, Ws ws);
// L⍕R with a character L (format by example), called by format_dyadic
// with the arguments' facts.
void format_by_example(const ArrayInfo& left, const ArrayInfo& right, Ws ws);

}  // namespace zema
