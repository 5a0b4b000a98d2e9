// The operators / ⌿ \ ⍀ with a function operand: binding them into a
// derived function, and applying that function (reduction, n-wise
// reduction and scan).
#pragma once

#include <cstdint>
#include <vector>

#include "interpreter/workspace/workspace.h"

namespace zema {

// The engine's action for / \ ⌿ ⍀ with the function entry on top and the
// operator token below it: a value on top makes the token replicate or
// expand (dyadic application); a primitive function becomes the operand of
// a derived function (class 21, entry flags fe::ReduceScan, fe::FirstAxis
// for ⌿ ⍀, fe::Scan for \ ⍀) holding the operand's entry and the
// operator's one-based axis (0: none); a defined or derived function is
// an operand too, and so is a primitive with an axis (called through an
// operator frame, reduce_defined.h, the axis going with every call; a
// derived one held as a copy, derived_with_operand); answers the next
// state. AXIS ERROR for a fractional axis on the operator; SYSTEM LIMIT,
// WS FULL as derived_with_operand.
int do_xrdce(Ws ws);

// Pushes item i of the array in the stack slot `r_slot` as a value of its
// own: a copy of a nested array's item, a scalar of a simple one's element.
void push_item(std::uint32_t r_slot, std::uint64_t i, Ws ws);

// Replaces the `count` values on top of the stack (the last on top) by one
// array of `shape` holding them as items; a nested array of simple scalars
// of one kind is made simple. WS FULL when it cannot be made.
void collect(const std::vector<std::uint32_t>& shape, std::uint32_t count, Ws ws);

// Applies the reduce-family derived function on top of the stack to the
// right argument below it (f/R, f⌿R, f\R, f⍀R), or the one under a left
// argument on top (L f/R, L f⌿R: n-wise reduction). Pushes the result and
// answers state 2. RANK, LENGTH and DOMAIN ERROR for a bad window, SYNTAX
// ERROR for an n-wise scan, AXIS ERROR for an axis beyond R's rank. A
// defined or derived operand, or a primitive with an axis, goes to
// reduce_defined_monadic or, once the window is read, reduce_defined_dyadic.
int reduce_monadic(Ws ws);
int reduce_dyadic(Ws ws);

}  // namespace zema
