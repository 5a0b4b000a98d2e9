// Applying a scalar function over its argument descriptors: a typed
// whole-array kernel chosen once per call by the element types of the
// arguments and the result, or the general path that takes one element at
// a time through the 80-bit registers.
#pragma once

#include <cstdint>

#include "interpreter/primitives/register_ops.h"
#include "interpreter/workspace/workspace.h"

namespace zema {

// Applies the dyadic scalar function whose PrimitiveCode × 4 is at
// hdr::PrimCode from the left and right descriptors into the result
// descriptor. Answers 0 when the result is complete, non-zero when it does
// not fit its integer type (the caller rebuilds it as float).
int xdy_scalar(Ws ws);
// The monadic counterpart over the right descriptor.
int xmn_scalar(Ws ws);

// The element routine of the general path for a primitive (nullptr when it
// is not a scalar function of that valence).
RegDyadic slow_dyadic(std::uint8_t code);
RegMonadic slow_monadic(std::uint8_t code);

}  // namespace zema
