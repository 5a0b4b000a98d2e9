// Selective assignment: (expression)←V, where the parenthesised expression
// applies structural primitives to one variable. The engine evaluates the
// expression on a model of the variable (an integer array of the same
// structure whose elements are position numbers 0x80000000 + k) and the
// positions it gives back receive V's values. A dyadic ⊃ as the outermost
// function is done directly on the variable, by its path.
#pragma once

#include <cstdint>

#include "interpreter/workspace/workspace.h"

namespace zema {

// hdr::SelectBits while a target is evaluated.
namespace selbits {
constexpr std::uint8_t Active = 0x01;     // a target is being evaluated (an assignment inside is DOMAIN ERROR)
constexpr std::uint8_t Deferred = 0x02;   // the model waits for its name's fetch (hdr::SelectTarget)
constexpr std::uint8_t PickFirst = 0x04;  // the last primitive applied to the model was ↑ or dyadic ⊃
constexpr std::uint8_t Nested = 0x08;     // the model numbers the leaves of a nested variable
}  // namespace selbits

// Starts a selective assignment whose one target name has the symbol token
// `name_token`, from do_xasgn: the stack holds V (at `value_entry`) and the
// arrow on top; the token register holds the function, `]` or operator
// just left of the name. Reads the variable (VALUE ERROR when it has none);
// pushes a `)` entry that carries the name and the model (marked), and sets
// hdr::SelectBits. Answers the engine state (bind).
int sel_asgn(std::uint32_t name_token, std::uint32_t value_entry, Ws ws);

// Starts (… X[I])←V, from do_xasgn with the `]` just right of the `)` in
// the token register and the arrow on top of the stack (V at
// `value_entry`): the name X the brackets index (through further bracket
// groups or parentheses) is the target; DOMAIN ERROR when a value or a
// function stands there, VALUE ERROR when X has no value. Pushes the `)`
// entry, notes X's line offset in hdr::SelectTarget and leaves the model to
// X's fetch (`fetch_selective_model`), so that the index expressions, read
// first, see the variable itself. Answers the engine state (bind).
int sel_asgn_indexed(std::uint32_t value_entry, Ws ws);

// From get_token, a name just fetched at line offset `name_at`: when it is
// the target a selective assignment waits for, the token register takes its
// model (marked) instead, and the answer is true; false otherwise.
bool fetch_selective_model(std::uint32_t name_at, Ws ws);

// True when the stack entry at `entry` is the `)` a selective assignment
// pushed.
bool is_selective_paren(std::uint32_t entry, Ws ws);

// At the `(` that closes the target (the result on top, the `)` entry
// under it): checks that the result is made of model positions, checks V
// against it (RANK ERROR, LENGTH ERROR) and only then builds the new value
// and gives it to the variable. V stays as the statement's value, not
// displayed. Answers the engine state.
int sel_asgn_return(Ws ws);

// The model check of a primitive application while a target is evaluated:
// DOMAIN ERROR when the right argument (the entry at `right_entry`) is the
// model and the primitive `code` (with its `flags` row) may not take it;
// records whether the primitive was ↑ or dyadic ⊃. `dyadic` says which form.
void check_model_argument(std::uint8_t code, std::uint32_t flags, bool dyadic, std::uint32_t right_entry, Ws ws);

// DOMAIN ERROR when a target is being evaluated and the entry at
// `right_entry` is the model (operators, system functions).
void refuse_model_argument(std::uint32_t right_entry, Ws ws);

// The pick shortcut, from the dyadic application of ⊃: when ⊃'s right
// argument is the model next to the target's `)` and the `(` closes the
// target, the item L⊃A names is replaced by V in the variable itself and
// the assignment is finished; answers true (the engine state in `state`).
// Answers false otherwise, touching nothing.
bool pick_selasgn(int& state, Ws ws);

}  // namespace zema
