// The handlers of deal (L?R), find (L⍷R), membership (L∊R) and without
// (L~R), and the one step they share: cutting a freshly allocated result
// vector down to the elements it received.
#pragma once

#include <cstdint>

#include "interpreter/primitives/structural.h"

namespace zema {

// Each reads its arguments through the call's descriptors, allocates its
// result with oprslt and fills it; errors are raised, nothing answered.
void deal_dyadic(const PrimitiveCall& c, Ws ws);        // L?R
void find_dyadic(const PrimitiveCall& c, Ws ws);        // L⍷R
void membership_dyadic(const PrimitiveCall& c, Ws ws);  // L∊R
void without_dyadic(const PrimitiveCall& c, Ws ws);     // L~R

// Cuts the simple vector result `z`, the last object on the heap, to its
// first `count` elements: shape, size word and result descriptor count
// set, the heap top lowered to its new end, a boolean's bits after the
// last element cleared. SYSTEM ERROR when z is not the last object.
void cut_result_vector(const ArrayInfo& z, std::uint32_t count, Ws ws);

}  // namespace zema
