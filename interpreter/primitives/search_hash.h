// Hashing of whole arrays for the nested searches: a hash that agrees with
// match (arrays that match hash alike), the numeric type that decides how
// booleans hash, and dyadic ⍳ on two nested arguments through a table in
// the free gap between heap top and stack.
#pragma once

#include <cstdint>
#include <functional>

#include "interpreter/primitives/structural.h"

namespace zema {

// The highest numeric type among the top-level items of two nested arrays:
// ET_FLOAT (9) when an item is a float array, else ET_INT (7) when an item
// holds elements compared as 32-bit integers, else ET_BOOL (5).
std::uint8_t get_highest_numeric_type(const ArrayInfo& l, const ArrayInfo& r, Ws ws);

// Hash of the array at `array` for matching against arrays hashed with the
// same `numeric_type` (from get_highest_numeric_type): from its rank and
// count plus, for simple data, its first elements. Arrays that match hash
// alike unless either is a non-empty float array.
std::uint32_t hash_variable(std::uint32_t array, std::uint8_t numeric_type, Ws ws);

// L⍳R for nested L and R through a hash table of L's items built in the
// free gap (nothing allocated, nothing kept). Writes ⎕IO-based first
// positions into z and answers true; answers false, having written
// nothing, when the table does not apply: L under 100 items, R under 70,
// a float item in either, too little free space, or a full table.
bool index_nested_hashed(const ArrayInfo& l, const ArrayInfo& r, const ArrayInfo& z, std::int32_t io, Ws ws);

// The same search with the answers handed on: `answer(j, i)` for each item
// j of `probes` in order, i the first position of a matching item of
// `table` or table's count. Answers false, having called nothing, under the
// same conditions (`table` as L, `probes` as R).
bool search_nested_hashed(const ArrayInfo& table, const ArrayInfo& probes,
                          const std::function<void(std::uint32_t, std::uint32_t)>& answer, Ws ws);

}  // namespace zema
