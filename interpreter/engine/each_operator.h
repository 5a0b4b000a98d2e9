// The operator ¨ (each): binding its function operand into a derived
// function and applying that function item by item.
#pragma once

#include "interpreter/workspace/workspace.h"

namespace zema {

// The engine's action for ¨ with the function entry on top and the
// operator token below it: a primitive function (with or without an axis
// written on it) becomes the operand of a derived function (class 21,
// entry flags fe::Each) holding the operand's entry; answers the next
// state. A defined function is an operand too, and so is a derived
// function (held as a copy, derived_with_operand: SYSTEM LIMIT beyond 100
// levels); one that holds a defined function is called through an operator
// frame. NONCE ERROR for any other operand.
int do_xeach(Ws ws);

// Applies f¨ on top of the stack to the right argument below it (f¨R), or,
// with a left argument on top, to both (L f¨R): the operand applied to each
// item (a simple argument's elements as scalars; a single-element argument
// repeated for every item of the other), the results made one array of the
// argument's shape (the one of the longer argument, dyadic) and completed
// (simple when every result is a simple scalar and their kinds agree).
// An empty argument applies the operand once to the prototypes (a scalar
// function through the fill function, whose every element is 0; ⌹ through
// ⍉; a derived operand through the primitive at its core, or itself when
// that has an axis list; a defined function or operator not at all, the
// argument's prototype then cleared) and the empty result carries that
// call's result made a prototype; DOMAIN ERROR when the operand is a
// reduction, a scan or an inner product, which have no fill function.
// Pushes the result and answers state 2. RANK and LENGTH ERROR for
// arguments that do not conform; any error of the operand; SYSTEM LIMIT for
// a prototype nested deeper than 100 levels; WS FULL before allocating a
// result that cannot fit.
int each_monadic(Ws ws);
int each_dyadic(Ws ws);

// With an operand that holds a defined function, each pushes an operator
// frame (kind kEachMonadic or kEachDyadic, the shape-giving array's word
// as its caller value) and the first call, and answers the state that
// applies it.
// each_mon_return and each_dy_return take the operand's result on its link
// (x_do_next_opr calls them), count it and push the next call, or, after
// the last, replace the frame by the final array (the no-value entry when
// some call gave no value) and answer state 2.
int each_mon_return(Ws ws);
int each_dy_return(Ws ws);

}  // namespace zema
