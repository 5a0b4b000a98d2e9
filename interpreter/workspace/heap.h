// The workspace heap: allocation at the heap top (a large object also over
// released objects below it), release, and compaction by sliding live
// objects down under the single-owner rule.
#pragma once

#include <cstdint>

#include "interpreter/workspace/workspace.h"

namespace zema {

struct StackEntry;

// Offset of a new object with n bytes after its 8-byte prefix (n counts from
// object offset 8). The object belongs to the token register (owner 0x156,
// kind 2) until its creator hands it on; its element type byte is 0 until
// the creator writes one. Compacts once when the heap top
// would come within 100 bytes of the stack; raises WS FULL when it still
// does not fit.
std::uint32_t getspc(std::uint32_t n, Ws ws);
// Another name for getspc: nothing is cleared.
std::uint32_t getspc_clean(std::uint32_t n, Ws ws);
// The same for an object whose size its maker will not change and which
// need not lie at the heap top: a large one (256 KB or more) is laid over
// the lowest run of released objects that holds it (exactly, or leaving a
// released remainder of 16 bytes or more), taking its bytes off the garbage;
// anything else, or when no run holds it, as getspc.
std::uint32_t getspc_placed(std::uint32_t n, Ws ws);

// A temporary object carved from the low end of the nested-result area (no
// owner word, no compaction); WS FULL when it would reach the high end.
std::uint32_t getspc_nest(std::uint32_t n, Ws ws);

// Copies n bytes backwards from just below src_end to just below dst_end;
// answers the new source end.
std::uint32_t lddr(std::uint32_t n, std::uint32_t src_end, std::uint32_t dst_end, Ws ws);

// Releases one object (offset 0 does nothing). An object that holds token
// lines gives up their symbol uses through the release routine installed
// below.
void mgarb(std::uint32_t off, Ws ws);

// The routine that gives up the symbol uses of an object's token lines
// (the reader's `clnlin`), installed at start-up.
using TokenLineRelease = void (*)(std::uint32_t object, Ws ws);
// Installs it; until then, releasing an object that holds token lines is
// SYSTEM ERROR.
void set_token_line_release(TokenLineRelease release);

// Compacts when garbage exceeds the garbage limit.
void gcol(Ws ws);
// The same, except that a large object (as getspc_placed places) stays where
// it is, the released space below it left as one released object, still
// garbage, for getspc_placed to fill: the tidying before each line, which
// then need not slide a large value that was just assigned.
void gcol_leaving_large(Ws ws);
// Compacts whatever the garbage.
void force_gcol(Ws ws);
// Garbage limit = 1% of the free gap.
void set_uncollected_garbage_limit(Ws ws);

// Hands an object to a new owner slot: writes the owner word and kind. A
// value handed to a name (OK_SYMBOL) has its object references counted
// (count_value_references, object_pool.h).
void set_owner(std::uint32_t off, std::uint32_t owner, std::uint8_t kind, Ws ws);

// Releases the object a stack entry owns (class bit 7 set, value not 0);
// an entry that owns none is left alone. Reads only `e`, not the slot it
// came from, so a popped entry may be given. Answers whether it released.
bool release_entry(const StackEntry& e, Ws ws);

// The result `e` takes the stack slot at `slot`: its object references are
// counted (count_value_references), then the object the slot's entry owns is released, `e` is written there, and its object (if it owns
// one) is handed to the slot (owner kind 2). The slot must hold an entry:
// a freshly pushed slot is written by `stack` instead.
void settle_entry(std::uint32_t slot, const StackEntry& e, Ws ws);

// Offset of the slot that refers to an object, by its owner word and kind.
// Answers 0 for a kind that names no slot here.
std::uint32_t owner_slot(std::uint32_t off, Ws ws);

// Checks every live object between the heap start and the heap top: sizes
// chain up to the heap top and every owner slot leads back to its object.
// Answers false (without raising) at the first inconsistency.
bool heap_consistent(Ws ws);

}  // namespace zema
