#include "interpreter/primitives/nested_results.h"

#include <cstring>

#include "interpreter/primitives/args.h"
#include "interpreter/workspace/errors.h"
#include "interpreter/workspace/heap.h"

namespace zema {

namespace {

std::uint32_t item_at(std::uint32_t off, std::uint32_t k, Ws ws) {
  const std::uint32_t table = off + obj::Shape + rd16(ws, off + obj::Rank4);
  return off + rd32(ws, table + 4 * k);
}

bool numeric(std::uint8_t t) { return t == ET_BOOL || t == ET_INT || t == ET_FLOAT; }

}  // namespace

std::uint8_t check_simple(std::uint32_t off, Ws ws) {
  const std::uint32_t n = array_count(off, ws);
  if (n == 0) return ET_NESTED;
  std::uint8_t common = 0;
  for (std::uint32_t k = 0; k < n; ++k) {
    const std::uint32_t item = item_at(off, k, ws);
    const std::uint8_t t = rd8(ws, item + obj::Type);
    if (rd16(ws, item + obj::Rank4) != 0 || t == ET_NESTED) return ET_NESTED;
    if (k == 0) {
      common = t;
    } else if (numeric(t) && numeric(common)) {
      if (t > common) common = t;
    } else if (t != common) {
      return ET_NESTED;
    }
  }
  return numeric(common) || common == ET_CHAR || common == ET_OBJREF ? common : std::uint8_t{ET_NESTED};
}

std::uint32_t simple_image_size(std::uint32_t off, std::uint8_t type, Ws ws) {
  const std::uint64_t n = array_count(off, ws);
  const std::uint64_t rank4 = rd16(ws, off + obj::Rank4);
  std::uint64_t data;
  switch (type) {
    case ET_BOOL: data = 4 * ((n + 31) / 32); break;
    case ET_FLOAT: data = 8 * n; break;
    case ET_CHAR: data = n; break;
    default: data = 4 * n; break;
  }
  const std::uint64_t size = (4 + rank4 + data + 3) & ~std::uint64_t{3};
  if (size > 0x7FFFFFFF) xwsfll(ws);
  return static_cast<std::uint32_t>(size);
}

void write_simple_image(std::uint32_t off, std::uint8_t type, std::uint32_t dest, Ws ws) {
  const std::uint32_t n = array_count(off, ws);
  const std::uint32_t rank4 = rd16(ws, off + obj::Rank4);
  std::uint8_t* const image = ws + dest;
  std::memset(image, 0, simple_image_size(off, type, ws));
  image[0] = type;
  std::memcpy(&image[2], ws + off + obj::Rank4, 2);
  std::memcpy(&image[4], ws + off + obj::Shape, rank4);
  std::uint8_t* z = image + 4 + rank4;
  for (std::uint32_t k = 0; k < n; ++k) {
    const std::uint32_t item = item_at(off, k, ws);
    const std::uint8_t t = rd8(ws, item + obj::Type);
    const std::uint32_t v = item + obj::Shape;
    double d = 0.0;
    switch (t) {
      case ET_BOOL: d = rd32(ws, v) >> 31; break;
      case ET_INT: d = rdi32(ws, v); break;
      case ET_FLOAT: std::memcpy(&d, ws + v, 8); break;
      default: break;
    }
    switch (type) {
      case ET_BOOL:
        if (d != 0) {
          std::uint32_t w;
          std::memcpy(&w, z + 4 * (k / 32), 4);
          w |= 0x80000000u >> (k % 32);
          std::memcpy(z + 4 * (k / 32), &w, 4);
        }
        break;
      case ET_INT: {
        const auto i = static_cast<std::int32_t>(d);
        std::memcpy(z + 4 * k, &i, 4);
        break;
      }
      case ET_FLOAT: std::memcpy(z + 8 * k, &d, 8); break;
      case ET_CHAR: z[k] = rd8(ws, v); break;
      default: std::memcpy(z + 4 * k, ws + v, 4); break;
    }
  }
}

void zero_prototype(std::uint32_t array, Ws ws) {
  const std::int16_t budget = rdi16(ws, hdr::DepthBudget);
  if (budget <= 0) depth_error(ws);
  wr16(ws, hdr::DepthBudget, static_cast<std::uint16_t>(budget - 1));
  const std::uint8_t type = rd8(ws, array + obj::Type);
  const std::uint32_t rank4 = rd16(ws, array + obj::Rank4);
  const std::uint32_t n = array_count(array, ws);
  const bool nested = type == ET_NESTED;
  const std::uint32_t body = nested ? 4 * n : 4 * ((n + 31) / 32);
  const std::uint32_t off = getspc_nest(4 + rank4 + body, ws);
  wr8(ws, off + obj::Type, nested ? ET_NESTED : ET_BOOL);
  wr8(ws, off + obj::Flags9, 0);
  wr16(ws, off + obj::Rank4, rank4);
  std::memmove(ws + off + obj::Shape, ws + array + obj::Shape, rank4);
  const std::uint32_t table = off + obj::Shape + rank4;
  std::memset(ws + table, 0, body);
  if (nested) {
    if (n == 0) {
      // An empty nested array keeps its prototype item after the empty table.
      if (rd32(ws, array + obj::Size) > obj::Shape + rank4) zero_prototype(array + obj::Shape + rank4, ws);
    } else {
      for (std::uint32_t k = 0; k < n; ++k) {
        wr32(ws, table + 4 * k, rd32(ws, hdr::NestLow) - off);
        zero_prototype(item_at(array, k, ws), ws);
      }
    }
    wr32(ws, off + obj::Size, rd32(ws, hdr::NestLow) - off);
  }
  wr16(ws, hdr::DepthBudget, static_cast<std::uint16_t>(rd16(ws, hdr::DepthBudget) + 1));
}

}  // namespace zema
