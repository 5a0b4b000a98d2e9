// Argument descriptors set on values, results allocated for primitives, and
// the element-at-a-time fetch and store through the 80-bit registers.
//
// A primitive sees its arguments through the left and right descriptors in
// the header (hdr::LeftDesc, hdr::RightDesc) and builds its result through
// the result descriptor (hdr::ResultDesc). A descriptor never holds an
// array's offset itself but the offset of the word that does (a stack
// entry's value word, a symbol's value word, hdr::LeftItem/RightItem, or the
// result descriptor's own NestResult word), so the array may move when the
// heap is compacted between setting the descriptor and using it.
#pragma once

#include <cstdint>

#include "interpreter/workspace/arrays.h"
#include "interpreter/workspace/stack.h"
#include "interpreter/workspace/workspace.h"

namespace zema {

// Bits of header byte hdr::ResultBits that primitives use.
namespace rbits {
constexpr std::uint8_t NestArea = 0x01;  // a nested result is being built in the nested-result area
constexpr std::uint8_t SlowArgs = 0x02;  // an argument holds object references or a held boolean bit
}  // namespace rbits

// Descriptor shape flag: the descriptor holds one element of a simple array
// for extension against an item of the other argument (nested pervasion).
constexpr std::uint8_t kShapeHeld = 0x04;

// Call-flag masks of xopafx: which PrimitiveFlags bits forbid characters.
constexpr std::uint32_t kRightMask = 0x100;
constexpr std::uint32_t kLeftMask = 0x300;

// Bytes per element of a type as descriptors step through it: 4 for
// booleans (one word), 1 for characters, 4 for integers, references and
// offsets, 8 for floats, 16 for type 13; 0 for a type that has no elements.
std::uint32_t element_size(std::uint8_t type);

// array_count and array_rank, the facts of an array the descriptors read,
// come from arrays.h.

// The array a descriptor describes, and the byte address of its cursor.
inline std::uint32_t desc_array(std::uint32_t at, Ws ws) { return rd32(ws, rd32(ws, at + desc::OffsetWord)); }
inline std::uint8_t* desc_cursor(std::uint32_t at, Ws ws) {
  return ws + desc_array(at, ws) + rd32(ws, at + desc::Cursor);
}

// Sets the descriptor at `at` on the value of the stack entry at `entry`
// (class 1, 14 or 22, else SYNTAX ERROR; VALUE ERROR for a name without a
// value). `mask` (kLeftMask / kRightMask) selects the call-flag bits that
// refuse characters; object references are refused unless the call flags
// allow them on that side (0x200000 left, 0x100000 right), and then
// rbits::SlowArgs is set.
void xopafx(std::uint32_t mask, std::uint32_t at, std::uint32_t entry, Ws ws);
// The same for an item of a nested array, the word at `word` holding the
// item's offset.
void xopafx_nest(std::uint32_t mask, std::uint32_t at, std::uint32_t word, Ws ws);
// Sets the left descriptor for a call without a left argument: type 0, and
// as its offset word the stack's sentinel (a word that holds 0), so that no
// read of the left side follows a word an earlier call left behind.
void no_left_argument(Ws ws);
// Whether the left descriptor's offset word names an array (not the
// sentinel no_left_argument put there).
inline bool has_left_argument(Ws ws) {
  return rd32(ws, hdr::LeftDesc + desc::OffsetWord) != rd32(ws, hdr::Top) - 4;
}

// Allocates a result of `count` elements, rank × 4 `rank4`, element type
// `type` (a nested result gets `extra` bytes after its offset table) and
// sets the result descriptor on it; answers the offset of its first shape
// word, which the caller fills in. Outside the nested-result area the
// result is owned by a new stack entry (class 0x81, flags kSeResult);
// inside it, it is carved from the area's low end. A simple result may lie
// in a released run below the heap top (getspc_placed) unless `at_top`: a
// caller that cuts the result afterwards asks for the heap top.
std::uint32_t oprslt(std::uint32_t count, std::uint32_t rank4, std::uint8_t type, std::uint32_t extra, Ws ws,
                     bool at_top = false);

// Checks that the arguments of a dyadic scalar function conform (RANK
// ERROR, LENGTH ERROR) and answers the descriptor whose array gives the
// result's shape.
std::uint32_t xdy_shape(Ws ws);
// Result type of a scalar function from the call flags and the argument
// types (the left descriptor's type is 0 for a monadic call).
std::uint8_t xoprfs(std::uint32_t flags, Ws ws);
// Allocates a scalar function's result of `type` with the shape of the
// array described at `source` (a held element gives a scalar).
void xoprfx(std::uint8_t type, std::uint32_t source, Ws ws);

// Fetches the element at the descriptor's cursor into its register and
// advances the cursor by the step (booleans by bits). The result register
// is zeroed first.
void xopftc(std::uint32_t at, Ws ws);
// Advances the cursor by one element without fetching.
void bump_argument(std::uint32_t at, Ws ws);

// Stores the result register at the result cursor: 0 more to do, 4 the
// result is complete, 8 the value is not an integer that fits the integer
// result. DOMAIN ERROR for a value beyond the double range.
int stuff_value(Ws ws);

// Element n of the array described at `at` into its register, and the
// cursor pointed at element n.
void fetch_nth(std::uint32_t n, std::uint32_t at, Ws ws);
void point_nth(std::uint32_t n, std::uint32_t at, Ws ws);

// Monadic or dyadic call: the descriptors the scalar path reads.
struct SavedArgs {
  ArgDescriptor left, right;
  std::uint32_t left_item = 0, right_item = 0;
};
SavedArgs save_args(Ws ws);
void restore_args(const SavedArgs& s, Ws ws);

// Drops a partial result after an integer overflow: its stack entry is
// popped and its object released (outside the nested-result area), or the
// area's low end moves back to where the result started; answers the call
// flags with the floating bit 0x10 set (also stored at hdr::PrimFlags).
std::uint32_t xoproe(Ws ws);

// The call flags of the primitive being applied (hdr::PrimFlags) and its
// PrimitiveCode (hdr::PrimCode holds it × 4).
inline std::uint32_t call_flags(Ws ws) { return rd32(ws, hdr::PrimFlags); }
inline void set_call_flags(std::uint32_t f, Ws ws) { wr32(ws, hdr::PrimFlags, f); }
inline std::uint8_t prim_code(Ws ws) { return static_cast<std::uint8_t>(rd32(ws, hdr::PrimCode) / 4); }

}  // namespace zema
