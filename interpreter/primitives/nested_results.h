// Finishing nested results: a nested array whose items are all simple
// scalars of one kind made simple, and the boolean-zero prototype of an
// array written into the nested-result area.
#pragma once

#include <cstdint>

#include "interpreter/workspace/workspace.h"

namespace zema {

// The common simple type of the items of the nested array at `off`: 11 when
// all are character scalars, 14 all reference scalars, the largest of 5, 7,
// 9 when all are numeric scalars; 15 when any item is not a simple scalar or
// the kinds are mixed. An array without items answers 15.
std::uint8_t check_simple(std::uint32_t off, Ws ws);

// The size in bytes (a multiple of 4) of the simple array of `type` with the
// shape of the nested array at `off`, as an object image from offset 8 (type
// byte, flags, rank × 4, shape, elements). WS FULL when it exceeds 2^31 − 1.
std::uint32_t simple_image_size(std::uint32_t off, std::uint8_t type, Ws ws);

// Writes at `dest` that image, the nested array's items' values converted
// upwards into `type`; reads the nested array at `off`, which must not
// overlap the image's `simple_image_size` bytes at `dest`.
void write_simple_image(std::uint32_t off, std::uint8_t type, std::uint32_t dest, Ws ws);

// Writes at the low end of the nested-result area the prototype of the
// array at `array` with every simple item made boolean zeros (same rank and
// shape; nested arrays keep their structure). Takes one level of the depth
// budget per level (SYSTEM LIMIT when it runs out); WS FULL when the area
// runs out.
void zero_prototype(std::uint32_t array, Ws ws);

}  // namespace zema
