#include "interpreter/workspace/arrays.h"

#include <cstring>

#include "interpreter/workspace/errors.h"
#include "interpreter/workspace/heap.h"
#include "interpreter/workspace/stack.h"

namespace zema {

bool all_axes_one(std::uint32_t a, Ws ws) {
  const std::uint32_t rank = array_rank(a, ws);
  for (std::uint32_t k = 0; k < rank; ++k)
    if (array_axis(a, k, ws) != 1) return false;
  return true;
}

namespace {

std::uint64_t data_bytes(std::uint8_t type, std::uint64_t count) {
  switch (type) {
    case ET_BOOL: return count == 0 ? 0 : ((count - 1) / 32 + 1) * 4;
    case ET_CHAR: return count;
    case ET_FLOAT: return count * 8;
    case ET_WIDE16: return count * 16;
    default: return count * 4;
  }
}

}  // namespace

std::uint32_t new_array(std::uint8_t type, std::uint32_t rank, const std::uint32_t* shape, Ws ws) {
  std::uint64_t count = 1;
  for (std::uint32_t k = 0; k < rank; ++k) count *= shape[k];
  const std::uint64_t bytes = 4 + 4 * std::uint64_t(rank) + data_bytes(type, count);
  if (bytes > 0x7FFFFFF0u) ws_full(ws);
  const std::uint32_t a = getspc(static_cast<std::uint32_t>(bytes), ws);
  std::memset(ws + a + obj::Type, 0, rd32(ws, a + obj::Size) - obj::Type);
  wr8(ws, a + obj::Type, type);
  wr16(ws, a + obj::Rank4, 4 * rank);
  for (std::uint32_t k = 0; k < rank; ++k) wr32(ws, a + obj::Shape + 4 * k, shape[k]);
  return a;
}

std::uint32_t new_int_scalar(std::int32_t v, Ws ws) {
  const std::uint32_t a = new_array(ET_INT, 0, nullptr, ws);
  wr32(ws, array_data(a, ws), static_cast<std::uint32_t>(v));
  return a;
}

std::uint32_t new_float_scalar(double v, Ws ws) {
  const std::uint32_t a = new_array(ET_FLOAT, 0, nullptr, ws);
  std::memcpy(ws + array_data(a, ws), &v, 8);
  return a;
}

std::uint32_t new_int_vector(const std::int32_t* v, std::uint32_t n, Ws ws) {
  const std::uint32_t a = new_array(ET_INT, 1, &n, ws);
  if (n) std::memcpy(ws + array_data(a, ws), v, 4 * std::size_t(n));
  return a;
}

std::uint32_t new_char_scalar(std::uint8_t c, Ws ws) {
  const std::uint32_t a = new_array(ET_CHAR, 0, nullptr, ws);
  wr8(ws, array_data(a, ws), c);
  return a;
}

std::uint32_t new_char_vector(std::string_view chars, Ws ws) {
  const auto n = static_cast<std::uint32_t>(chars.size());
  const std::uint32_t a = new_array(ET_CHAR, 1, &n, ws);
  if (n) std::memcpy(ws + array_data(a, ws), chars.data(), n);
  return a;
}

std::uint32_t new_char_matrix(std::uint32_t rows, std::uint32_t columns, std::string_view chars, Ws ws) {
  const std::uint32_t shape[2] = {rows, columns};
  const std::uint32_t a = new_array(ET_CHAR, 2, shape, ws);
  if (!chars.empty()) std::memcpy(ws + array_data(a, ws), chars.data(), chars.size());
  return a;
}

std::uint32_t copy_array(std::uint32_t slot, Ws ws) {
  const std::uint32_t size = rd32(ws, rd32(ws, slot) + obj::Size);
  const std::uint32_t a = getspc(size - 8, ws);
  const std::uint32_t src = rd32(ws, slot);
  std::memcpy(ws + a + 8, ws + src + 8, size - 8);
  wr8(ws, a + obj::Flags1, 0);
  return a;
}

void push_result(std::uint32_t a, Ws ws, bool quiet) {
  const auto flags = static_cast<std::uint8_t>(kSeResult | (quiet ? kSeNoDisplay : 0));
  stack(StackEntry{static_cast<std::uint8_t>(kOwnsObject | 1), flags, a}, ws);
}

}  // namespace zema
