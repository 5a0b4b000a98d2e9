// Applying primitive functions: the table of PrimitiveFlags, the monadic
// and dyadic application the engine reduces to, the scalar path with its
// rerun on integer overflow, nested pervasion of the scalar functions, the
// handler tables of the mixed (non-scalar) primitives, and finishing an
// application (state 2).
//
// The stack during an application, from the top: the result (pushed by
// oprslt), the left argument (a null entry for a monadic call), the
// function, the right argument. Finishing puts the result in the right
// argument's slot and releases the rest.
#pragma once

#include <cstdint>

#include "interpreter/workspace/workspace.h"

namespace zema {

// PrimitiveFlags bits.
namespace pf {
constexpr std::uint32_t MonadicScalar = 0x1;
constexpr std::uint32_t BooleanArgs = 0x2;
constexpr std::uint32_t BooleanResult = 0x4;
constexpr std::uint32_t IntegerReduce = 0x8;
constexpr std::uint32_t FloatResult = 0x10;
constexpr std::uint32_t Monadic = 0x20;
constexpr std::uint32_t Dyadic = 0x40;
constexpr std::uint32_t MonadicInteger = 0x80;
constexpr std::uint32_t NoCharacters = 0x100;
constexpr std::uint32_t NoLeftCharacters = 0x200;
constexpr std::uint32_t ReduceIdentity = 0x2000;
constexpr std::uint32_t FirstAxis = 0x8000;
constexpr std::uint32_t DyadicScalar = 0x10000;
constexpr std::uint32_t SimplifyNested = 0x20000;
constexpr std::uint32_t FromDerived = 0x40000;
constexpr std::uint32_t AcceptsModel = 0x80000;
constexpr std::uint32_t RightReferences = 0x100000;
constexpr std::uint32_t LeftReferences = 0x200000;
}  // namespace pf

// Stack-entry flags of a function entry that change how it applies.
namespace fe {
constexpr std::uint8_t Axis = 0x04;
constexpr std::uint8_t ReduceScan = 0x20;
constexpr std::uint8_t Each = 0x40;
constexpr std::uint8_t Product = 0x80;
}  // namespace fe

// A derived-function object (element type 2): the function it derives from
// as a stack-entry image at Entry (class, flags, value), and the offset of
// its axis list at ListWord (0: none). The list is a count followed by that
// many one-based axis numbers.
namespace dfn {
constexpr std::uint32_t Entry = 18;
constexpr std::uint32_t ListWord = 34;
constexpr std::uint32_t List = 42;  // where the list of axes given in brackets lies
}  // namespace dfn

// The token tag of the primitive a function entry applies: its own, or
// that of the primitive a derived function derives from.
std::uint8_t function_tag(std::uint32_t fn_entry, Ws ws);

// The opflg row of a PrimitiveCode (0: the code is not a function).
std::uint32_t primitive_flags(std::uint8_t code);

// A mixed primitive's handler: the descriptors are set on its arguments
// (the left descriptor's type is 0 in a monadic call); it pushes its result
// (oprslt) and returns. The entries are those of the stack layout above.
struct PrimitiveCall {
  std::uint32_t right_entry;
  std::uint32_t left_entry;  // 0 for a monadic call
  std::uint32_t fn_entry;
  std::uint32_t flags;       // call flags
};
using PrimitiveHandler = void (*)(const PrimitiveCall& call, Ws ws);
// The handler of a code's monadic and dyadic form (nullptr: NONCE ERROR).
PrimitiveHandler monadic_handler(std::uint8_t code);
PrimitiveHandler dyadic_handler(std::uint8_t code);

// The engine's reductions: a primitive on top with its argument below
// (monadic), a left argument on top of a primitive and its right argument
// (dyadic). Both answer the next state (2).
int do_xmnop(Ws ws);
int do_xdyop(Ws ws);
// `flags`: run-time call flags ORed into the primitive's row; the function
// is the stack entry at `fn_entry`.
int xmnop_common(std::uint32_t flags, std::uint32_t fn_entry, Ws ws);
int xdyop_common(std::uint32_t flags, std::uint32_t fn_entry, Ws ws);

// The engine's reductions of a derived function (class 21) with its right
// argument below it, or with a left argument on top of it.
int do_xmn_derfn(Ws ws);
int do_xdy_derfn(Ws ws);

// State 2: the result replaces the function and its arguments.
int do_xmnopd(Ws ws);

// The scalar path over descriptors already set: allocates the result with
// the type the call flags and argument types choose, runs the kernels and
// rebuilds as float after an integer overflow; arguments holding nested
// arrays are walked item by item. The result is pushed (outside the
// nested-result area).
void scalar_monadic(Ws ws);
void scalar_dyadic(Ws ws);

// A dyadic scalar function with an axis (written on the entry, or an axis
// list of a derived function, call flag pf::FromDerived). When the axes
// name, in order, the axes of the argument of higher rank that the other
// one's axes run along, that other argument is spread over the higher
// one's shape and the ordinary scalar path runs; otherwise the axis must
// leave the ordinary extension valid (else AXIS ERROR).
void scalar_dyadic_axis(std::uint32_t fn_entry, std::uint32_t flags, Ws ws);

// Nested pervasion inside the nested-result area, for the result described
// by the result descriptor.
void xmn_nest_nest(Ws ws);
void xdy_nest_nest(Ws ws);

// Resumes an operator after its operand (operator frames arrive with the
// operators).
int x_do_next_opr(Ws ws);

}  // namespace zema
