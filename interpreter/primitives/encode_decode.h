// Dyadic ⊤ (encode: a number's digits in mixed radices) and ⊥ (decode:
// the value of digits in mixed radices).
#pragma once

#include "interpreter/primitives/primitive_call.h"
#include "interpreter/workspace/workspace.h"

namespace zema {

// A⊤B: reads A and B through the call's descriptors and pushes the result
// (oprslt) of shape (⍴A),⍴B. Each column of A (its first axis the radices,
// most significant first; a scalar A one radix) encodes each element of B:
// the digits are taken from the last radix up, each the residue of what is
// left; a radix of 0 takes the whole remainder, and the digits above a
// remainder of 0 are 0. Integer when both arguments are boolean or integer
// (widened to float when a value leaves the 32-bit range), else float,
// with tolerant residues under ⎕CT. Raises AXIS ERROR (an axis), DOMAIN
// ERROR (nested or character arguments, a value beyond the float range),
// SYSTEM LIMIT (more than 63 result axes), WS FULL (the result does not
// fit; known from the sizes before anything is built).
void encode_dyadic(const PrimitiveCall& c, Ws ws);

// A⊥B: pushes the result of shape (¯1↓⍴A),1↓⍴B. Each row of A (the radices,
// A's last axis) decodes each column of B (the digits, B's first axis):
// value ← value × radix + digit from the first digit on, the first radix
// unused; a side of length 1 is extended. Integer when both arguments are
// boolean or integer and no step leaves the 32-bit range, else float
// (computed to 64 bits of precision). An empty A or B gives zeros. Raises
// AXIS ERROR, DOMAIN ERROR (nested or character arguments, a value beyond
// the float range), LENGTH ERROR (lengths that differ, neither 1), SYSTEM
// LIMIT (more than 63 result axes), WS FULL.
void decode_dyadic(const PrimitiveCall& c, Ws ws);

}  // namespace zema
