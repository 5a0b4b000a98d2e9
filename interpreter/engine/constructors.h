// Constructors: ⎕NEW of a class whose class (or an ancestor) has a method
// named like the class itself runs that method on the new instance before
// ⎕NEW gives its reference. The call runs in the engine under an operator
// frame (kConstructorReturn), so the constructor may take any time and
// fail like any method; the reference ⎕NEW pushed holds the instance
// throughout (counted), so an error that is cleared releases the instance.
#pragma once

#include <cstdint>

#include "interpreter/workspace/workspace.h"

namespace zema {

// The operator-frame continuation kind of a constructor's call.
constexpr std::uint32_t kConstructorReturn = 60;

// From ⎕NEW's handler (stack from the top: left placeholder or argument,
// the ⎕NEW entry, the right argument), after the instance in `slot` was
// made and its scalar reference pushed as the handler's result: runs the
// constructor `ctor` (kind 0 niladic, 1 or 2 monadic) with the argument
// ⎕NEW's right argument R (the array whose offset lies in the word at
// `r_word`) gives it: R nested → its items after the first (simple when
// they are simple scalars of one kind); R a reference vector of more than
// one → the references after the first; else none for a niladic and an
// empty vector (of references when R holds them, else integer) for a
// monadic constructor. The reference's count is taken now. Does not
// return: the engine goes on with the call (ResumeEngine). VALENCE ERROR
// when the header does not take the argument; WS FULL.
[[noreturn]] void internal_run_constructor(std::uint32_t slot, std::uint16_t ctor, std::uint8_t kind,
                                           std::uint32_t r_word, Ws ws);

// The continuation after the constructor ends (its result above the link
// of the frame): the result released, the frame dropped, ⎕NEW's reference
// left on top as the handler's result. Answers the state that finishes
// ⎕NEW's application.
int constructor_return(Ws ws);

}  // namespace zema
