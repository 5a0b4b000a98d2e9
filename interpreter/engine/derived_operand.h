// The derived function an operator makes of its operand: a small object
// holding the operand's stack entry, which replaces the operand on the stack.
#pragma once

#include <cstdint>

#include "interpreter/workspace/stack.h"
#include "interpreter/workspace/workspace.h"

namespace zema {

// Bytes of a derived object without an axis list, after its header words.
constexpr std::uint32_t kDerivedBody = 34;

// Class of a link: an entry image in a derived object that stands for an
// operand held as a whole copy of its object (an array, or a derived
// function's object) embedded in the same derived object. Its value is
// the copy's offset from the derived object's start; its flags are the
// operand entry's flags. A derived object may hold several such copies,
// one after another after its fixed part; an embedded derived object may
// hold links of its own.
constexpr std::uint8_t kClassLink = 0x21;

// How deep derived functions may hold derived functions (SYSTEM LIMIT beyond).
constexpr std::uint32_t kMaxOperandDepth = 100;

// A new derived object that holds the operand in the stack slot `from` at
// `field`: a function's entry image as it stands; a value's array or a
// derived function's object copied whole after the fixed part and a link
// to it. With `base_slot` (a stack slot whose entry owns a derived object;
// 0: none) the new object starts as a copy of that object, its links kept,
// and the copy follows it; otherwise it starts zero-filled as
// new_derived_object makes it. Neither slot is changed (the caller releases
// what they own). Answers the object (owned by the token register until
// handed on). SYSTEM LIMIT when derived functions would nest deeper than
// kMaxOperandDepth; WS FULL; may compact.
std::uint32_t derived_with_operand(std::uint32_t base_slot, std::uint32_t field, std::uint32_t from, Ws ws);

// A new derived object whose dfn::Entry holds the operand kept at `field`
// of the derived object in the ws word `src_word` (an entry image, or a
// link whose embedded copy is copied along). Answers it (owned by the
// token register until handed on); WS FULL; may compact.
std::uint32_t operand_holder(std::uint32_t src_word, std::uint32_t field, Ws ws);

// Pushes the operand kept at `field` of the derived function in the stack
// slot `fn`: its entry image, or, for a link, a fresh copy of the embedded
// object as a value (class 1) or derived function (class 21, the link's
// flags) owned by the new entry. WS FULL; may compact.
void push_operand_at(std::uint32_t fn, std::uint32_t field, Ws ws);

// The entry an operand name stands for, from its holder object in the ws
// word `holder_word` (a symbol's value word): the entry at dfn::Entry, or,
// for a link, a fresh copy of the embedded object owned by the token
// register. WS FULL; may compact.
StackEntry operand_entry(std::uint32_t holder_word, Ws ws);

// The token tag of ⍎ (2·code+1).
constexpr std::uint32_t kExecuteTag = 2 * 0x18 + 1;

// Whether the operand kept at `field` of the derived object `obj` is a
// function only the engine can run: a defined function, ⍎, a defined
// operator's derived function, a reduction or scan whose operand is
// derived or has an axis, an inner product whose f has an axis (g not
// derived), or a derived function holding one at any depth. Reads only
// the object.
bool runs_in_engine(std::uint32_t obj, std::uint32_t field, Ws ws);

// Allocates a derived object (type ET_DERIVED, zero-filled) and writes
// `operand` at dfn::Entry; answers its offset. Reads nothing of the stack;
// may compact the heap (WS FULL when there is no room).
std::uint32_t new_derived_object(const StackEntry& operand, Ws ws);

// Pops the top entry and writes, over the entry below it (of the operator
// and its operand, whichever order the caller has them in), a derived
// function of class TC_DERIVED with entry flags `flags` that owns `obj`.
// Objects the two entries owned are released (`obj` holds a copy of an
// operand's, derived_with_operand).
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
