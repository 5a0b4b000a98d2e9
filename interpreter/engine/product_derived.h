// Outer and inner products whose operand is a derived function (∘.(f/),
// +.(×¨), (,/).×): binding them and applying them pair by pair.
#pragma once

#include <cstdint>

#include "interpreter/workspace/workspace.h"

namespace zema {

// The engine's action with f (or ∘) on top, the bound dot and g below it,
// when f or g is a derived function: replaces the three by a derived
// function (class 21, entry flag fe::Product) holding g at dfn::Entry and f
// beside it, as product_operator's binding does; a derived operand is held
// as a copy (derived_with_operand). Answers the next state. AXIS ERROR for
// ∘ with an axis; NONCE ERROR for an operand that is not a function;
// SYSTEM LIMIT and WS FULL as derived_with_operand.
int do_xprod_derived(Ws ws);

// Whether the product's derived object `obj` holds a derived operand.
// Reads only the object.
bool has_derived_operand(std::uint32_t obj, Ws ws);

// L∘.g R and L f.g R (stack from the top: L, the product, R; descriptors
// not set yet) when an operand is derived. The outer product applies g to
// every pair of items of L and R; the inner product applies g to each row
// of L and column of R (a scalar argument a vector of one item) and f/ to
// that result (along its last axis, right to left between the items of
// each row; a vector's result enclosed unless a simple scalar). The
// results, one per pair, make the result of shape (¯1↓⍴L),1↓⍴R (⍴L,⍴R for
// the outer product), completed as each completes its results; an empty
// one is made without a call. Pushes the result and answers state 2. An
// operand the engine must run (runs_in_engine) goes to outer_defined or
// inner_defined instead, which answer their own states. DOMAIN ERROR for
// an f/ over no items (a derived f has no identity); VALENCE ERROR, and
// any error of the operands; SYSTEM LIMIT for a result of more than 63 axes.
int product_derived_dyadic(Ws ws);

}  // namespace zema
