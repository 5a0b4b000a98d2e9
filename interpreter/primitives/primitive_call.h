// How a primitive function is called: the bits of its PrimitiveFlags row
// (ORed with the run-time call flags), the flags of a function entry, the
// layout of a derived-function object, and the call a mixed (non-scalar)
// primitive's handler receives. The engine's application (apply.h) makes
// the call.
//
// The stack during an application, from the top: the result (pushed by
// oprslt), the left argument (a null entry for a monadic call), the
// function, the right argument. Finishing puts the result in the right
// argument's slot and releases the rest.
#pragma once

#include <cstdint>

#include "interpreter/workspace/workspace.h"

namespace zema {

// PrimitiveFlags bits: a primitive's row, ORed into the call flags of each
// application and kept in hdr::PrimFlags while it runs.
namespace pf {
constexpr std::uint32_t MonadicScalar = 0x1;      // the monadic form is a scalar function
constexpr std::uint32_t BooleanArgs = 0x2;        // boolean arguments only (∧ ∨ ⍲ ⍱ ~)
constexpr std::uint32_t BooleanResult = 0x4;      // the result is boolean
constexpr std::uint32_t IntegerReduce = 0x8;      // integer arguments can give integer results (read by reduce)
constexpr std::uint32_t FloatResult = 0x10;       // the result is floating (also set for the rerun after overflow)
constexpr std::uint32_t Monadic = 0x20;           // the monadic form exists (else VALENCE ERROR)
constexpr std::uint32_t Dyadic = 0x40;            // the dyadic form exists (else VALENCE ERROR)
constexpr std::uint32_t MonadicInteger = 0x80;    // the monadic scalar form gives an integer result
constexpr std::uint32_t NoCharacters = 0x100;     // characters refused in either argument (DOMAIN ERROR)
constexpr std::uint32_t NoLeftCharacters = 0x200; // characters refused in the left argument
constexpr std::uint32_t ReduceIdentity = 0x2000;  // + × ⌈ ⌊ ∨ ∧ (read by reduce)
constexpr std::uint32_t FirstAxis = 0x8000;       // the default axis is the first (⊖ ⌿ ⍀ ⍪)
constexpr std::uint32_t DyadicScalar = 0x10000;   // the dyadic form is a scalar function
constexpr std::uint32_t SimplifyNested = 0x20000; // a nested result of simple scalars of one kind is made simple (= ≠)
constexpr std::uint32_t FromDerived = 0x40000;    // call flag: called from a derived function (an axis list)
constexpr std::uint32_t AcceptsModel = 0x80000;   // accepts the model argument of a selective assignment
constexpr std::uint32_t RightReferences = 0x100000;  // object references allowed on the right
constexpr std::uint32_t LeftReferences = 0x200000;   // object references allowed on the left
}  // namespace pf

// Stack-entry flags of a function entry that change how it applies.
namespace fe {
constexpr std::uint8_t Axis = 0x04;        // an axis is written on the entry (bytes 4 and 5)
constexpr std::uint8_t FirstAxis = 0x08;   // a reduction or scan along the first axis (⌿ ⍀)
constexpr std::uint8_t Scan = 0x10;        // a scan (\ ⍀)
constexpr std::uint8_t ReduceScan = 0x20;  // a reduction or scan
constexpr std::uint8_t Each = 0x40;        // an each
constexpr std::uint8_t Product = 0x80;     // a product
}  // namespace fe

// A derived-function object (element type 2): the function it derives from
// as a stack-entry image at Entry (class, flags, value), and the offset of
// its axis list at ListWord (0: none). The list is a count followed by that
// many one-based axis numbers.
namespace dfn {
constexpr std::uint32_t Entry = 18;
constexpr std::uint32_t OperatorAxis = 30;  // a reduction's or scan's one-based axis (0: none)
constexpr std::uint32_t ListWord = 34;
constexpr std::uint32_t List = 42;  // where the list of axes given in brackets lies
}  // namespace dfn

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

}  // namespace zema
