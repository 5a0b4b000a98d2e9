// Assignment: the arrow with a name, a parenthesised list of names or ⎕
// and ⍞ to its left.
#pragma once

#include <cstdint>

#include "interpreter/workspace/workspace.h"

namespace zema {

// The engine's reduction of ← with a value on its right; the token left of
// the arrow is in the token register. Answers the next state.
int do_xasgn(Ws ws);

// Binds the value of the stack entry at `value_entry` to the name whose
// symbol token is `token`. `strand` is true for one name of a strand
// assignment (the entries are then left as they are). Answers the state.
int xasgn_common(std::uint32_t token, std::uint32_t value_entry, bool strand, Ws ws);

// The old value `old` of the variable at symbol entry `sym` is handed to the
// first stack entry above `value_entry` (up to the statement's primer) that
// still names the variable, which then owns it; else it is released.
void retire_old_value(std::uint32_t sym, std::uint32_t old, std::uint32_t value_entry, Ws ws);

}  // namespace zema
