// / ⌿ \ ⍀ with an array operand: A/ (as in A/¨R or (A/) OP R) is the
// function compress or expand with A as its left argument.
#pragma once

#include <cstdint>

#include "interpreter/primitives/primitive_call.h"
#include "interpreter/workspace/workspace.h"

namespace zema {

// Where a reduce-family derived object keeps the operator's one-based axis
// (0: none).
constexpr std::uint32_t kReduceAxisWord = dfn::OperatorAxis;

// Whether the reduce-family derived function in the stack slot `fn` holds
// an array as its operand (a link to an embedded array). Reads only.
bool holds_array_operand(std::uint32_t fn, Ws ws);

// Applies the derived function A/ (A⌿, A\, A⍀) on top of the stack to the
// right argument below it: a copy of A is pushed as the left argument, the
// derived function's entry becomes the operator's token (its axis, if
// any, written on it) and compress or expand runs as a primitive's dyadic
// application; answers that application's state. Errors are those of
// compress and expand; WS FULL; may compact.
int reduce_array_monadic(Ws ws);

}  // namespace zema
