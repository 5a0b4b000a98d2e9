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

#include "interpreter/workspace/workspace.h"

namespace zema {

// KernelFlags bits the kernels read.
namespace kf {
constexpr std::uint32_t RightSingle = 0x80;
constexpr std::uint32_t LeftSingle = 0x8000;
constexpr std::uint32_t BooleanArgs = 0x20000;  // PrimitiveFlags 0x2 (∧ ∨ ⍲ ⍱ ~)
}  // namespace kf

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

struct MonadicCall {
  std::uint8_t code;
  std::uint8_t rtype;
  std::uint8_t* z;
  const std::uint8_t* r;
  std::uint32_t rstep;
  std::uint32_t count;
  Ws ws;
};

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

enum class MnKernel : std::uint8_t { None, BB, BI, BF, XB, II, IF, FI, FF };

// Kernel of a dyadic call by right, left and result element types (0 when
// no typed kernel serves them: the general path).
DyKernel select_dyadic(std::uint8_t right, std::uint8_t left, std::uint8_t result);
MnKernel select_monadic(std::uint8_t arg, std::uint8_t result);

int run_dyadic(DyKernel k, const DyadicCall& c);
int run_monadic(MnKernel k, const MonadicCall& c);

}  // namespace zema
