// Defined operators: binding an operator name to its operands (functions
// or arrays) and calling the derived function it makes as a defined
// function whose operand names stand for the operands.
#pragma once

#include <cstdint>

#include "interpreter/workspace/workspace.h"

namespace zema {

// Where a defined operator's derived object (type ET_DERIVED, made by
// derived_with_operand) keeps its parts: the left operand's entry at
// dfn::Entry, then these. An array or derived-function operand is a link
// (kClassLink) to its copy after the fixed part.
namespace uop {
constexpr std::uint32_t Right = 24;    // 6 bytes: the right operand's entry (class 0 when none)
constexpr std::uint32_t Token = 30;    // h: the operator's name token
constexpr std::uint32_t Mark = 32;     // b: kMark in a defined operator's object
constexpr std::uint8_t kMark = 0x55;
}  // namespace uop

// Xudyop: the top entry is a defined dyadic operator's name, the entry
// under it its right operand. Pops the operator; when the operand is a
// numeric constant of the line or a strand (kStrandMark) of more than one
// item with a right parenthesis or the statement's start under it, splits
// it: its first item becomes the operand and a vector of the rest the
// argument under it. Then writes, over the operand, a derived monadic
// operator (class 0x93) owning an object with the operand and the
// operator's token. NONCE ERROR for an operand that is neither a function
// nor a value; SYSTEM LIMIT, WS FULL as derived_with_operand. Answers state 9.
int do_xudyop(Ws ws);

// Xumnop: the top entry is an operand, the entry under it a defined
// monadic operator's name or a derived monadic operator from do_xudyop.
// Pops the operand and turns the operator's entry into a derived function
// (class 0x95) whose object holds the operand(s) and the operator's token.
// NONCE ERROR for an operand that is neither a function nor a value;
// SYSTEM LIMIT, WS FULL as derived_with_operand. Answers state 9.
int do_xumnop(Ws ws);

// Whether the function entry at `fn_entry` (class 21, owning an object)
// is a defined operator's derived function.
bool is_user_operator(std::uint32_t fn_entry, Ws ws);

// Apply a defined operator's derived function: monadically with the
// function on top and the right argument under it, dyadically with the
// left argument on top, the function and the right argument under it.
// The entry becomes the operator's name, its object waits in the kill slot
// (empty while a line runs), and the operator is called as a defined
// function (call_operator); its operand names are then given holders of
// the operands (operand_holder) and the object released, also when the
// call fails. Answers the engine's next state.
int user_operator_monadic(Ws ws);
int user_operator_dyadic(Ws ws);

}  // namespace zema
