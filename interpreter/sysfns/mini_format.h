// The one-line text of an array that ⎕DS shows for each property value:
// its shape when it is not a vector, characters in quotes, elements
// separated by blanks, nested items inline or in parentheses, cut with
// "..." once the text passes a limit.
#pragma once

#include <cstdint>

#include "interpreter/workspace/workspace.h"

namespace zema {

// Writes the text of the array at `array` (internal characters) at
// workspace offset `out`, never at or beyond `out_end`, and answers the
// offset just after it. Once the text written from `out` passes `limit`
// characters, or comes within 3 bytes of `out_end`, it stops and ends
// with "..." (which still lies before `out_end`). A vector of length 0
// that is not character starts "0⍴", an array of rank 2 or more with its
// shape and ⍴; characters go in quotes (an empty character vector is two
// quotes), an empty numeric array is 0 after its prefix; integers and
// booleans as integers, floats as %g with ¯ for the sign, references as
// their display text, nested items that are character vectors or simple
// scalars inline and the others in parentheses; another element type "?".
// Reads the array and, for references, the pool (format_object_reference);
// writes only the output.
std::uint32_t mini_format(std::uint32_t array, std::uint32_t out, std::uint32_t out_end, std::uint32_t limit, Ws ws);

}  // namespace zema
