// Unaligned loads and stores of array elements by index, for the typed
// kernels: 32-bit words (booleans, integers) and doubles.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>

namespace zema::elem {

// ld_X answers element i of the run starting at `p`; st_X writes `v` as
// element i. _w: a 32-bit word (a boolean word or an offset), _i: a signed
// integer, _f: a double.
inline std::uint32_t ld_w(const std::uint8_t* p, std::size_t i) {
  std::uint32_t v;
  std::memcpy(&v, p + 4 * i, 4);
  return v;
}
// Writes the word v as element i.
inline void st_w(std::uint8_t* p, std::size_t i, std::uint32_t v) { std::memcpy(p + 4 * i, &v, 4); }
// Element i as a signed 32-bit integer.
inline std::int32_t ld_i(const std::uint8_t* p, std::size_t i) {
  std::int32_t v;
  std::memcpy(&v, p + 4 * i, 4);
  return v;
}
// Writes the integer v as element i.
inline void st_i(std::uint8_t* p, std::size_t i, std::int32_t v) { std::memcpy(p + 4 * i, &v, 4); }
// Element i as a double (8-byte elements).
inline double ld_f(const std::uint8_t* p, std::size_t i) {
  double v;
  std::memcpy(&v, p + 8 * i, 8);
  return v;
}
// Writes the double v as element i.
inline void st_f(std::uint8_t* p, std::size_t i, double v) { std::memcpy(p + 8 * i, &v, 8); }

}  // namespace zema::elem
