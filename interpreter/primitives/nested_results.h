// Finishing nested results: a nested array whose items are all simple
// scalars of one kind made simple, and the boolean-zero prototype of an
// array written into the nested-result area.
#pragma once

#include <cstdint>
#include <vector>

#include "interpreter/workspace.h"

namespace zema {

// The common simple type of the items of the nested array at `off`: 11 when
// all are character scalars, 14 all reference scalars, the largest of 5, 7,
// 9 when all are numeric scalars; 15 when any item is not a simple scalar or
// the kinds are mixed. An array without items answers 15.
std::uint8_t check_simple(std::uint32_t off, Ws ws);

// The simple array of `type` with the shape of the nested array at `off`
// and its items' values (converted upwards), as an object image from offset
// 8 (type byte, flags, rank × 4, shape, elements).
std::vector<std::uint8_t> simple_image(std::uint32_t off, std::uint8_t type, Ws ws);

// Writes at the low end of the nested-result area the prototype of the
// array at `array` with every simple item made boolean zeros (same rank and
// shape; nested arrays keep their structure). Takes one level of the depth
// budget per level (SYSTEM LIMIT when it runs out); WS FULL when the area
// runs out.
void zero_prototype(std::uint32_t array, Ws ws);

}  // namespace zema
