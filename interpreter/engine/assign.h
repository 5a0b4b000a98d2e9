// Assignment: the arrow with a name, a parenthesised list of names or ⎕
// and ⍞ to its left.
#pragma once

#include <cstdint>

#include "interpreter/engine/call.h"
#include "interpreter/workspace/workspace.h"

namespace zema {

// The engine's reduction of ← with a value on its right; the token left of
// the arrow is in the token register. Answers the next state.
int do_xasgn(Ws ws);

// Binds the value of the stack entry at `value_entry` to the name whose
// symbol token is `token`. `strand` is true for one name of a strand
// assignment (the entries are then left as they are). Answers the state.
int xasgn_common(std::uint32_t token, std::uint32_t value_entry, bool strand, Ws ws);

// Readers of a variable: stack entries that name it (class 1 or 22, owning
// nothing), its value read where the name stands but used later. A value
// must not change once read, so before a variable's value changes, each
// reader gets the value it read. Readers are found among the current
// level's entries and, through levels whose frame says that the levels
// below hold readers (siframe::BelowReads), among the entries of the
// levels below, down to a level that localises the name. A level whose
// line has not started (a ⍎ whose text is being tokenised, a ⎕ waiting for
// its answer) holds no statement's entries and is not searched.

// Hands the readers of the variable at symbol entry `sym` the value they
// read, except the entry at `skip` (the target of an indexed assignment;
// 0 for none). `old` is the value the variable gives up (its symbol no
// longer holding it): the first reader takes it over, the others get
// copies; with `old` 0 the value is about to change in place and every
// reader gets a copy of it. Answers whether `old` was taken; when not, the
// caller releases it.
bool settle_name_readers(std::uint32_t sym, std::uint32_t old, std::uint32_t skip, Ws ws);

// The same before a value changes in place in a statement that holds no
// readers of its own (the in-place scalar statement, a :For's next item):
// only the levels below are searched, and the common case, no level below
// holding readers, costs two reads.
void settle_lower_name_readers(std::uint32_t sym, Ws ws);
inline void settle_readers_below(std::uint32_t sym, Ws ws) {
  const std::uint32_t link = rd32(ws, hdr::SiLink);
  if (rd32(ws, link) != 0 && rd8(ws, link - siframe::Link + siframe::BelowReads) != 0)
    settle_lower_name_readers(sym, ws);
}

// Before an indexed assignment (the engine's reduction of A[I]←V, the
// stack holding A, the index list, ← and V from the top): the readers of
// the variable A get their own copies, its value being changed in place.
void settle_indexed_target_readers(Ws ws);

// Whether a level opening with its frame at `frame` has readers below it:
// the entries from the stack pointer `sp` up to the end of the level
// below name a variable, or that level's own frame says so. Its answer
// goes into the new frame (siframe::BelowReads); the new frame's link word
// must be written.
bool readers_below(std::uint32_t frame, std::uint32_t sp, Ws ws);

}  // namespace zema
