// New simple arrays for the system variables and system functions, and the
// few facts about an array that their argument checks read.
//
// Every `new_*` routine allocates at the heap top (getspc): the object is
// owned by the token register (owner word 0x156, kind 2) until the caller
// hands it on, and the caller must do so before anything else can compact
// the heap. Pushing it as a result (`push_result`) is such a hand-over: a
// compaction while the entry is pushed moves the object with its entry.
#pragma once

#include <cstdint>
#include <string_view>

#include "interpreter/workspace/workspace.h"

namespace zema {

// ---- reading an array -----------------------------------------------------------------

// The rank of the array at `a`.
inline std::uint32_t array_rank(std::uint32_t a, Ws ws) { return rd16(ws, a + obj::Rank4) / 4u; }
// Its element count (1 for a scalar; 0xFFFFFFFF when the product of its
// axes does not fit in 32 bits).
inline std::uint32_t array_count(std::uint32_t a, Ws ws) {
  const std::uint32_t rank = array_rank(a, ws);
  std::uint64_t n = 1;
  for (std::uint32_t i = 0; i < rank; ++i) n *= rd32(ws, a + obj::Shape + 4 * i);
  return n > 0xFFFFFFFFu ? 0xFFFFFFFFu : static_cast<std::uint32_t>(n);
}
// Its element type, and the length of axis k (0 first).
inline std::uint8_t array_type(std::uint32_t a, Ws ws) { return rd8(ws, a + obj::Type); }
inline std::uint32_t array_axis(std::uint32_t a, std::uint32_t k, Ws ws) { return rd32(ws, a + obj::Shape + 4 * k); }
// Offset of the first element.
inline std::uint32_t array_data(std::uint32_t a, Ws ws) { return a + obj::Shape + 4 * array_rank(a, ws); }
// True when every axis length is 1 (a scalar included).
bool all_axes_one(std::uint32_t a, Ws ws);
// True for the simple numeric types (boolean, integer, float).
inline bool is_numeric_type(std::uint8_t t) { return t == ET_BOOL || t == ET_INT || t == ET_FLOAT; }

// ---- making an array --------------------------------------------------------------------

// An array of `type` and the given shape, its elements zero.
std::uint32_t new_array(std::uint8_t type, std::uint32_t rank, const std::uint32_t* shape, Ws ws);
// An integer or float scalar holding `v`; the integer vector of the `n`
// values at `v`.
std::uint32_t new_int_scalar(std::int32_t v, Ws ws);
std::uint32_t new_float_scalar(double v, Ws ws);
std::uint32_t new_int_vector(const std::int32_t* v, std::uint32_t n, Ws ws);
// A character scalar; the vector of `chars`; the `rows` × `columns`
// matrix whose ravel begins with `chars`, zero bytes after them.
// Characters are internal codes.
std::uint32_t new_char_scalar(std::uint8_t c, Ws ws);
std::uint32_t new_char_vector(std::string_view chars, Ws ws);
std::uint32_t new_char_matrix(std::uint32_t rows, std::uint32_t columns, std::string_view chars, Ws ws);
// A copy of the array whose offset lies in the word at `slot` (the slot is
// read again after the allocation, which may have moved the array).
std::uint32_t copy_array(std::uint32_t slot, Ws ws);

// ---- results ------------------------------------------------------------------------------

// Pushes a system function's result: a stack entry of class 0x81 with the
// result flag (0x08) that owns the new array `a`. `quiet` sets the
// no-display flag as well.
void push_result(std::uint32_t a, Ws ws, bool quiet = false);

}  // namespace zema
