// Reduction, n-wise reduction and scan of a simple array by a dyadic scalar
// primitive: whole rows by typed loops (packed booleans counted a word at a
// time, 32-bit integers with exact overflow detection, doubles), and every
// other case element by element on the 80-bit registers. The engine's
// operator layer decides when these serve (simple argument, scalar
// primitive operand) and calls them with the right descriptor set on R.
#pragma once

#include <cstdint>
#include <vector>

#include "interpreter/workspace/extended80.h"
#include "interpreter/workspace/workspace.h"

namespace zema {

// What a reduction or scan applies along which axis.
struct FoldCall {
  std::uint8_t code = 0;     // the operand's PrimitiveCode (a dyadic scalar function)
  std::uint32_t flags = 0;   // the operand's PrimitiveFlags row
  std::uint32_t axis = 0;    // zero-based axis of R (0 for a scalar R)
  int mode = 0;              // n-wise reduction: 0 none, 1 window, −1 reversed window
  std::uint32_t window = 0;  // n-wise window size (its magnitude)
};

// Reads R (the right descriptor's array) and answers the shape of its
// reduction along f.axis: the axis removed, or for n-wise reduction kept
// with length n−w+1 (LENGTH ERROR when w exceeds n+1).
std::vector<std::uint32_t> reduce_shape(const FoldCall& f, Ws ws);

// Element i of simple data at `p` of element type `type` (boolean, integer,
// float or character) as an Extended80 register; a character sits in the
// register's first byte. Reads only.
Extended80 reg_of_elem(std::uint8_t type, const std::uint8_t* p, std::uint64_t i);

// The identity element of a dyadic scalar primitive for reducing an empty
// axis, as a double (DOMAIN ERROR for one that has none).
double reduce_identity(std::uint8_t code, Ws ws);

// f/R (or L f/R with f.mode set) for a simple R under the right
// descriptor: pushes the result (oprslt). The result type is chosen from
// the operand's flags and R's type and widened to float, the work done
// again, when an integer result overflows. An empty axis gives the
// identity element, an axis of length 1 (or a window of 1) R's elements
// unchanged. DOMAIN ERROR for characters given to a numeric operand and
// whatever the operand raises. Reduction runs right to left: the last
// element of a window is the first accumulator, each earlier element x
// gives x f accumulator (a reversed window from its first element
// forward); float sums are added in that order, each step rounded to a
// double. Attention is polled every 65,536 elements.
void reduce_simple(const FoldCall& f, Ws ws);

// f\R for a simple R under the right descriptor: pushes the result. Element
// k along the axis is the reduction of elements 0…k. Associative operands
// (+ × ⌈ ⌊ ∧ ∨, and = ≠ < on booleans) run as one left-to-right fold per
// row (acc ← acc f x; floats rounded to a double at each step); every other
// operand reduces each prefix right to left. A relational operand over a
// non-boolean R passes the first element through: the result is then not
// boolean.
void scan_simple(const FoldCall& f, Ws ws);

}  // namespace zema
