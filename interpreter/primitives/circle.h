// The circle functions: ○R (π × R) and L○R, where L from ¯7 to 7 selects
// (1−R²)*.5, sin, cos, tan, (1+R²)*.5, sinh, cosh, tanh and, negated, the
// inverses arcsin, arccos, arctan, (R²−1)*.5, arcsinh, arccosh, arctanh.
// Doubles go through the C library with domain checks; registers through
// series and rational approximations on the extended arithmetic.
#pragma once

#include <cstdint>

#include "interpreter/primitives/register_ops.h"
#include "interpreter/workspace/workspace.h"

namespace zema {

// L ○ R on doubles: L must lie within 2*¯41 of an integer from ¯7 to 7
// (DOMAIN ERROR otherwise, and for results that are infinite, undefined or
// outside the function's domain); −0 becomes +0.
double circlffd(double l, double r, Ws ws);
// π × R.
double circlffm(double r, Ws ws);

// Whether a double is accepted as the integer it truncates to.
bool tolint(double d, std::int32_t& out);

// Register routines of the general path.
Extended80 circld(const RegArgs& a, Ws ws);  // L ○ R (L must be an integer: DOMAIN ERROR)
Extended80 circlm(const RegArgs& a, Ws ws);  // ○ R: π × R

}  // namespace zema
