// The boxed display of a value ()DISPLAY): the value drawn as a character
// picture in which every array sits in a box of line-drawing characters.
// The top edge marks the last axis (→, or ⊖ when it is empty; ─ for a
// scalar), the left edge of the first row each leading axis (↓, or ⌽ when
// it is empty), the bottom edge the kind of data (∊ nested, + mixed: a
// nested array of simple scalars, ─ characters, ~ numbers). The inside of a
// box is the default display of the array; the items of a nested array are
// pictures of their own laid out side by side as the default display lays
// out items (compact spacing). A scalar alone gets no box: a blank border,
// with - under a character. An empty array shows a stand-in with every empty
// axis made 1 (blanks, or zeros); an empty nested array its prototype.
#pragma once

#include <cstdint>

#include "interpreter/workspace/workspace.h"

namespace zema {

// Draws the value whose offset lies in the word at `value_slot` (the caller
// compacts the heap first when it wants the most room) as one character node in the free space above the
// heap top: rows at dnode::Rows, columns at dnode::Columns, the characters
// (internal set) from dnode::Chars, row by row. The node stays valid until
// the heap or the stack next grows; nothing in the heap is moved.
// WS FULL when the free space cannot hold the picture and its work (100
// bytes are kept free below the stack); SYSTEM LIMIT beyond 100 levels of
// nesting; DOMAIN ERROR for an empty nested array without a sound prototype.
std::uint32_t boxed_picture(std::uint32_t value_slot, Ws ws);

}  // namespace zema
