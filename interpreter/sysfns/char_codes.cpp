// ⎕AF and ⎕UCS: characters to numbers and back, element by element in the
// argument's shape. ⎕AF gives the internal codes (the positions in ⎕AV),
// ⎕UCS the Unicode code points through the character-set tables.
#include <cmath>
#include <cstdint>
#include <vector>

#include "host/charset.h"
#include "interpreter/primitives/structural.h"
#include "interpreter/sysfns/handlers.h"
#include "interpreter/workspace/arrays.h"
#include "interpreter/workspace/entry.h"
#include "interpreter/workspace/errors.h"

namespace zema {

namespace {

// Elements between attention polls.
constexpr std::uint32_t kPollMask = 0xFFFF;

// Element i of a numeric array as a whole number: a whole float beyond the
// 32-bit range reads as ¯1 (a number no table holds), a fraction is DOMAIN
// ERROR.
std::int32_t whole_at(const ArrayInfo& a, std::uint32_t i, Ws ws) {
  const Elem e = elem_at(a, i, ws);
  if (e.type == ET_FLOAT && std::fabs(e.d) >= 2147483648.0 && e.d == std::floor(e.d)) return -1;
  return int_at(a, i, ws);
}

// The character argument's codes mapped by `code_of` into an integer array
// of its shape.
template <class CodeOf>
void codes_of_chars(SfArg right, CodeOf code_of, Ws ws) {
  const std::vector<std::uint32_t> shape = shape_of(array_info(right.array(ws), ws), ws);
  const std::uint32_t z = new_array(ET_INT, static_cast<std::uint32_t>(shape.size()), shape.data(), ws);
  const ArrayInfo a = array_info(right.array(ws), ws);
  const std::uint32_t zd = array_data(z, ws);
  for (std::uint32_t i = 0; i < a.count; ++i) {
    wr32(ws, zd + 4 * i, static_cast<std::uint32_t>(code_of(rd8(ws, a.data + i))));
    if ((i & kPollMask) == kPollMask) check_attention(ws);
  }
  push_result(z, ws);
}

// The numeric argument's elements (whole numbers, else DOMAIN ERROR, every
// one read before the result is made) mapped by `char_of` into a character
// array of its shape.
template <class CharOf>
void chars_of_codes(SfArg right, CharOf char_of, Ws ws) {
  ArrayInfo a = array_info(right.array(ws), ws);
  for (std::uint32_t i = 0; i < a.count; ++i) {
    char_of(whole_at(a, i, ws));
    if ((i & kPollMask) == kPollMask) check_attention(ws);
  }
  const std::vector<std::uint32_t> shape = shape_of(a, ws);
  const std::uint32_t z = new_array(ET_CHAR, static_cast<std::uint32_t>(shape.size()), shape.data(), ws);
  a = array_info(right.array(ws), ws);
  const std::uint32_t zd = array_data(z, ws);
  for (std::uint32_t i = 0; i < a.count; ++i) wr8(ws, zd + i, char_of(whole_at(a, i, ws)));
  push_result(z, ws);
}

bool numeric(std::uint8_t type) { return type == ET_BOOL || type == ET_INT || type == ET_FLOAT; }

}  // namespace

void sfaf_monadic(SfArg right, Ws ws) {
  const std::uint8_t type = array_type(right.array(ws), ws);
  if (type == ET_CHAR) return codes_of_chars(right, [](std::uint8_t c) { return std::int32_t{c}; }, ws);
  if (!numeric(type)) domner(ws);
  chars_of_codes(
      right,
      [ws](std::int32_t v) {
        if (v < 0 || v > 255) domner(ws);
        return static_cast<std::uint8_t>(v);
      },
      ws);
}

void sfucs_monadic(SfArg right, Ws ws) {
  const std::uint8_t type = array_type(right.array(ws), ws);
  if (type == ET_CHAR)
    return codes_of_chars(right, [](std::uint8_t c) { return std::int32_t{convert_to_unicode(c)}; }, ws);
  if (!numeric(type)) domner(ws);
  chars_of_codes(
      right,
      [](std::int32_t v) {
        // A code point beyond the 16-bit range, or a negative number, has no character here.
        return convert_from_unicode(v < 0 || v > 0xFFFF ? std::uint32_t{'?'} : static_cast<std::uint32_t>(v));
      },
      ws);
}

}  // namespace zema
