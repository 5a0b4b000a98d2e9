// Typed whole-array kernels of the scalar functions: loops over booleans
// (32 to a word), 32-bit integers, doubles and characters that never touch
// the 80-bit registers. Each is named by the element letters of its right
// argument, left argument and result (b boolean, i integer, f float,
// c character, x mixed).
//
// Answers: 0 done; −1 the kernel does not handle this function (the caller
// takes the general path); 8 (dyadic) or 4 (monadic) integer overflow (the
// caller rebuilds the result as float). DOMAIN ERROR is raised from inside.
#pragma once

#include <cstdint>

#include "interpreter/primitives/kernels_arith.h"
#include "interpreter/workspace/workspace.h"

namespace zema {

// KernelFlags bits the kernels read.
namespace kf {
constexpr std::uint32_t RightSingle = 0x80;     // the right shape byte's kShapeSingle
constexpr std::uint32_t LeftSingle = 0x8000;    // the left shape byte's kShapeSingle
constexpr std::uint32_t BooleanArgs = 0x20000;  // PrimitiveFlags 0x2 (∧ ∨ ⍲ ⍱ ~)
}  // namespace kf

// One dyadic call of a kernel: what it reads and where it writes.
struct DyadicCall {
  std::uint32_t flags;  // KernelFlags: call flags (low half) << 16, left and right shape bytes
  std::uint8_t code;    // PrimitiveCode
  std::uint8_t* z;      // cursors: machine addresses of the first elements
  const std::uint8_t* l;
  const std::uint8_t* r;
  std::uint32_t lstep, rstep;  // 0 for a single element
  std::uint32_t count;         // result elements
  std::uint8_t ltype, rtype;   // element types of the two sides
  Ws ws;
};

// One monadic call: the same fields for the right argument alone.
struct MonadicCall {
  std::uint8_t code;      // PrimitiveCode
  std::uint8_t rtype;     // the argument's element type
  std::uint8_t* z;        // cursors: machine addresses of the first elements
  const std::uint8_t* r;
  std::uint32_t rstep;    // 0 for a single element
  std::uint32_t count;    // result elements
  Ws ws;
};

// The dyadic kernels, named right, left, result (see the top of the file).
enum class DyKernel : std::uint8_t {
  None,
  BBB, BBI, BBF,  // right b, left b
  BIB, BII, BIF,  // right b, left i
  XXB, BFF,       // right b, left f (the boolean result through the mixed kernel)
  IBB, IBI, IBF,
  IIB, III, IIF,
  IFF,
  FBF, FIF, FFF,
  False,          // a character against anything else
  CCB,
};

// The monadic kernels, named argument, result; XB is ~ of an integer or
// float argument (a boolean result).
enum class MnKernel : std::uint8_t { None, BB, BI, BF, XB, II, IF, FI, FF };

// Kernel of a dyadic call by right, left and result element types (0 when
// no typed kernel serves them: the general path).
DyKernel select_dyadic(std::uint8_t right, std::uint8_t left, std::uint8_t result);
// Kernel of a monadic call by argument and result element types (None
// for any type but boolean, integer and float).
MnKernel select_monadic(std::uint8_t arg, std::uint8_t result);

// The integer element routine of dyadic scalar function `code` (a
// PrimitiveCode): Z in L from L and R, answering true on overflow; nullptr
// when integers have no routine of their own for it.
IntDyadic int_rule(std::uint8_t code);

// Runs kernel `k` on the call; answers as at the top of the file (None:
// −1). Writes only the result's elements through c.z.
int run_dyadic(DyKernel k, const DyadicCall& c);
// The same for a monadic kernel.
int run_monadic(MnKernel k, const MonadicCall& c);

}  // namespace zema
