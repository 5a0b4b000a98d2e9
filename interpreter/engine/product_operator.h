// The operator . : binding ∘.g and f.g into derived functions, and applying
// them (outer and inner product).
#pragma once

#include "interpreter/workspace/workspace.h"

namespace zema {

// Where a product's derived object keeps f's entry image (∘ for an outer
// product); g's is at dfn::Entry.
constexpr std::uint32_t kProductLeft = 24;

// Pushes the `n` items of the array in the stack slot `slot` at base,
// base+step, … as one new vector (a row of L or a column of R for the inner
// product); an empty one carries the array's prototype. WS FULL when it
// does not fit.
void push_vector(std::uint32_t slot, std::uint64_t base, std::uint64_t step, std::uint32_t n, Ws ws);

// The engine's action for the dot on top of the stack with g below it (a
// function, or a value or name for dot notation): the dot becomes a bound
// dot (class 10), awaiting f or ∘ to its left; answers the next state.
// Anything else right of the dot is a SYNTAX ERROR the grammar gives
// before this is reached.
int do_xprod(Ws ws);

// The engine's action with f (or ∘) on top, the bound dot and g below:
// replaces the three by a derived function (class 21, entry flag
// fe::Product) holding g's entry and f's (either may carry an axis, which
// goes with each of its calls); answers the next state. SYNTAX ERROR when
// g is no function (a value or a niladic name), whatever f is; AXIS ERROR
// for ∘ with an axis. A derived f or g goes to do_xprod_derived.
int do_xprod_res(Ws ws);

// Applies the product on top of the left argument's entry: L∘.g R or
// L f.g R; pushes the result and answers state 2. VALENCE ERROR when f or
// g has no dyadic form. An operand with an axis is applied pair by pair
// through the engine's application (f/ with an axis through inner_defined).
// A defined f or g goes to outer_defined or
// inner_defined (product_defined.h), which answer the state that applies
// the operand's first call; a product with a derived operand goes to
// product_derived_dyadic.
int product_dyadic(Ws ws);

}  // namespace zema
