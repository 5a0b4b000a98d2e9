// The derived function an operator makes of its operand: a small object
// holding the operand's stack entry, which replaces the operand on the stack.
#pragma once

#include <cstdint>

#include "interpreter/workspace/stack.h"
#include "interpreter/workspace/workspace.h"

namespace zema {

// Bytes of a derived object without an axis list, after its header words.
constexpr std::uint32_t kDerivedBody = 34;

// Allocates a derived object (type ET_DERIVED, zero-filled) and writes
// `operand` at dfn::Entry; answers its offset. Reads nothing of the stack;
// may compact the heap (WS FULL when there is no room).
std::uint32_t new_derived_object(const StackEntry& operand, Ws ws);

// Pops the top entry (the operator) and writes, over the entry below it
// (the operand), a derived function of class TC_DERIVED with entry flags
// `flags` that owns `obj`. Whatever the operand's entry owned stays owned
// by the copy inside `obj`.
void replace_operand_with_derived(std::uint32_t obj, std::uint8_t flags, Ws ws);

// Starts applying a derived function monadically (stack from the top: the
// function, its right argument): one token fewer taken, object references
// allowed, the right descriptor set on the argument, the absent left
// argument pushed.
void begin_derived_monadic(Ws ws);

// Starts applying a derived function dyadically (stack from the top: left
// argument, function, right argument): one token fewer taken, object
// references allowed, both descriptors set.
void begin_derived_dyadic(Ws ws);

}  // namespace zema
