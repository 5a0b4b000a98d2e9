// Shared ground of the structural primitives (⍴ ⍳ ≡ ⊂ / \ , ⍪ ∊ ⌷ and
// bracket indexing): reading arrays and their elements, building results
// (simple results in place, nested results from item images assembled in
// host memory), prototypes, axes written on a function, and the handlers.
#pragma once

#include <cstdint>
#include <functional>
#include <vector>

#include "interpreter/primitives/primitive_call.h"
#include "interpreter/workspace/workspace.h"

namespace zema {

// ---- arrays ---------------------------------------------------------------------

// What the structural primitives read of an array (array_info).
struct ArrayInfo {
  std::uint32_t off = 0;    // object offset
  std::uint8_t type = 0;
  std::uint32_t rank = 0;
  std::uint32_t count = 0;  // element count (1 for a scalar)
  std::uint32_t data = 0;   // offset of the first element (or of the offset table)
};
// The facts of the array object at `off`, read from its header and shape.
ArrayInfo array_info(std::uint32_t off, Ws ws);
// Length of axis k (0 first) of the array `a`; shape_of answers them all
// (a rank-sized vector, at most 63 entries).
inline std::uint32_t dim(const ArrayInfo& a, std::uint32_t k, Ws ws) { return rd32(ws, a.off + obj::Shape + 4 * k); }
std::vector<std::uint32_t> shape_of(const ArrayInfo& a, Ws ws);

// Bytes per element of a simple type (0 for booleans, which are bits).
std::uint32_t elem_bytes(std::uint8_t type);
// True for the simple numeric types (boolean, integer, float).
inline bool is_numeric(std::uint8_t t) { return t == ET_BOOL || t == ET_INT || t == ET_FLOAT; }

// Boolean element i of the bits starting at word offset `data` (first in
// bit 31 of each word): bit_at reads it, put_bit writes `v` there.
inline bool bit_at(std::uint32_t data, std::uint64_t i, Ws ws) {
  return (rd32(ws, data + 4 * (i / 32)) >> (31 - i % 32)) & 1;
}
inline void put_bit(std::uint32_t data, std::uint64_t i, bool v, Ws ws) {
  const std::uint32_t at = static_cast<std::uint32_t>(data + 4 * (i / 32));
  const std::uint32_t m = 0x80000000u >> (i % 32);
  wr32(ws, at, v ? (rd32(ws, at) | m) : (rd32(ws, at) & ~m));
}

// One simple element as a value.
struct Elem {
  std::uint8_t type = ET_BOOL;
  std::int32_t i = 0;         // boolean, integer, reference, character byte
  double d = 0;               // float
  std::uint8_t wide[16] = {}; // type 13
};
Elem elem_at(const ArrayInfo& a, std::uint64_t i, Ws ws);
// Stores `e` converted to the simple type of `a` (the caller has chosen a type that holds it).
void put_elem(const ArrayInfo& a, std::uint64_t i, const Elem& e, Ws ws);
// The element as an integer: boolean, integer or near-integer float, else DOMAIN ERROR.
std::int32_t int_at(const ArrayInfo& a, std::uint64_t i, Ws ws);
double num_of(const Elem& e);
// Tolerant equality of two simple elements under ⎕CT (characters with characters only).
bool elem_equal(const Elem& a, const Elem& b, double ct);
double ct_value(Ws ws);
// The blank in the internal character set.
std::uint8_t blank_char();

// Product of lengths with the overflow rule: WS FULL on overflow unless a
// later length is 0.
std::uint32_t checked_count(const std::vector<std::uint32_t>& shape, Ws ws);

// ---- prototypes ------------------------------------------------------------------

// The bytes (a multiple of 4) the prototype of the object at `p` takes;
// sets `deep` when it is nested more than 100 levels (the count is then
// not to be used). `depth` is the level of `p`, 0 at the top.
std::uint32_t prototype_bytes(const std::uint8_t* p, int depth, bool& deep);
// Writes at `d` the prototype of the object at `p` (the two apart), its
// size word set and the first four bytes cleared; answers the bytes
// written, as prototype_bytes counts them.
std::uint32_t write_prototype(const std::uint8_t* p, std::uint8_t* d, int depth);

// ---- results ---------------------------------------------------------------------

// Allocates a simple result (a new stack entry, through oprslt) with its
// shape written and its data zeroed; answers the array. The arguments may
// have moved: take them again from their descriptors.
ArrayInfo new_simple(const std::vector<std::uint32_t>& shape, std::uint8_t type, Ws ws);
// The same at the heap top, for a result that cut_result_vector shortens.
ArrayInfo new_simple_at_top(const std::vector<std::uint32_t>& shape, std::uint8_t type, Ws ws);
// WS FULL at once when `bytes` could not fit in the workspace whatever is
// released (more than lies below the stack); the allocation decides the rest.
void need_room(std::uint64_t bytes, Ws ws);
// The arrays under the left and right descriptors.
std::uint32_t left_arg(Ws ws);
std::uint32_t right_arg(Ws ws);

// ---- results picked from the items of the arguments, built in the workspace -----

// One position of a result made of items of the arguments: item `index` of
// L (`left`) or R, an element of a simple array counting as a scalar item;
// with `fill`, that item's prototype instead. Of an empty array the
// prototype it carries is meant whatever the index (a boolean zero when it
// carries none; a blank for an empty character array).
struct Pick {
  std::uint32_t index = 0;
  bool left = false;
  bool fill = false;
};
// Names the picks of a result in ravel order, calling its argument once for
// each.
using PickWalk = std::function<void(const std::function<void(const Pick&)>&)>;

// Builds and pushes the result of `shape` whose items, in ravel order, are
// those `walk` names. The walk runs up to three times (kinds, sizes, copy)
// and must name the same picks each time; it reads L and R afresh, as the
// allocation between runs may move them. The items are copied straight from
// the arguments into the result, without host copies. The result is
// completed: simple when every picked item is a simple scalar and their
// kinds agree (all characters, all references, or all numbers, which take
// the widest numeric type; a fill is a blank or a zero of its item's kind).
// An empty result takes its prototype from `proto_left ? L : R`: the one an
// empty nested array carries, else its first item's, a simple scalar first
// item giving the simple empty array of that item's type. WS FULL when it
// does not fit; SYSTEM LIMIT for a prototype deeper than 100 levels.
ArrayInfo result_from_picks(const std::vector<std::uint32_t>& shape, const PickWalk& walk, bool proto_left, Ws ws);
// Writes at `at` the scalar item holding `e`; answers the bytes it takes.
std::uint32_t put_scalar_item(std::uint32_t at, const Elem& e, Ws ws);
// The bytes a scalar item of `type` takes.
std::uint32_t scalar_item_bytes(std::uint8_t type);

// The one axis of a primitive that takes a whole axis (default last, or
// first with pf::FirstAxis) and R's length along it; an axis list, a
// fractional axis or one not below R's rank is AXIS ERROR. A scalar R has
// length 1 along axis 0.
std::uint32_t whole_axis(const PrimitiveCall& c, const ArrayInfo& r, std::uint32_t& length, Ws ws);

// ---- axes ------------------------------------------------------------------------

// An axis written on a function entry (axis_of).
struct Axis {
  bool given = false;
  bool fraction = false;
  std::int32_t k = 0;  // zero-based axis (integer part for a fraction: [0.5] gives -1)
};
// The axis written on the function entry (bytes 4 and 5 of the entry).
Axis axis_of(std::uint32_t fn_entry, Ws ws);
// AXIS ERROR when an axis was written.
void no_axis(std::uint32_t fn_entry, Ws ws);

// The axes of a call, zero-based: the axis list of a derived function
// (call flag pf::FromDerived; more than 63 axes is RANK ERROR) or the
// single axis written on the entry (a fractional one is AXIS ERROR). Each
// must be below `rank` and none may repeat (AXIS ERROR).
struct AxisList {
  bool given = false;  // an axis was written (a list may be empty)
  bool list = false;   // it was a list
  std::vector<std::uint32_t> k;
};
AxisList multiple_axis(std::uint32_t fn_entry, std::uint32_t flags, std::uint32_t rank, Ws ws);

// ---- handlers --------------------------------------------------------------------
// Each reads its arguments through the call's descriptors, allocates its
// result with oprslt and fills it; errors are raised, nothing answered.

void shape_monadic(const PrimitiveCall& c, Ws ws);      // ⍴R
void reshape_dyadic(const PrimitiveCall& c, Ws ws);     // L⍴R
void iota_monadic(const PrimitiveCall& c, Ws ws);       // ⍳R
void index_of_dyadic(const PrimitiveCall& c, Ws ws);    // L⍳R
void depth_monadic(const PrimitiveCall& c, Ws ws);      // ≡R
void match_dyadic(const PrimitiveCall& c, Ws ws);       // L≡R
void enclose_monadic(const PrimitiveCall& c, Ws ws);    // ⊂R
void compress_dyadic(const PrimitiveCall& c, Ws ws);    // L/R L⌿R
void expand_dyadic(const PrimitiveCall& c, Ws ws);      // L\R L⍀R
void enlist_monadic(const PrimitiveCall& c, Ws ws);     // ∊R
void ravel_monadic(const PrimitiveCall& c, Ws ws);      // ,R ⍪R
void catenate_dyadic(const PrimitiveCall& c, Ws ws);    // L,R L⍪R
void squad_dyadic(const PrimitiveCall& c, Ws ws);       // I⌷A
void partition_dyadic(const PrimitiveCall& c, Ws ws);   // L⊂R L⊂[K]R
void reverse_monadic(const PrimitiveCall& c, Ws ws);    // ⌽R ⊖R
void rotate_dyadic(const PrimitiveCall& c, Ws ws);      // L⌽R L⊖R
void transpose_monadic(const PrimitiveCall& c, Ws ws);  // ⍉R
void transpose_dyadic(const PrimitiveCall& c, Ws ws);   // L⍉R
// ⊂[K]R, called by enclose_monadic when an axis was written.
void enclose_axis(const PrimitiveCall& c, Ws ws);

// Match of two arrays (recursive; the depth budget limits the recursion).
bool arrays_match(std::uint32_t a, std::uint32_t b, Ws ws);

// The engine's actions on brackets: A[I] and A[I]←V, and f[k].
int do_xindex(Ws ws);
int do_xaxis(Ws ws);

// The derived-function object of a function entry of class 21 (SYNTAX
// ERROR when the entry holds anything else).
std::uint32_t derived_object(std::uint32_t fn_entry, Ws ws);

// An indexed assignment to a system variable ends with that variable's
// checks and effects (`assign_system_variable`), through the routine the
// engine's layer installs at start-up.
using SystemVariableAssignment = void (*)(int index, std::uint32_t value_slot, Ws ws);
void set_system_variable_assignment(SystemVariableAssignment assign);

}  // namespace zema
