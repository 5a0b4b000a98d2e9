#include "host/task_memory.h"

#include <cstdlib>

namespace zema {

BlockAllocator default_block_allocator() {
  return [](std::uint64_t bytes) -> void* { return std::calloc(1, bytes); };
}

TaskBlock allocate_task_block(double bytes, const BlockAllocator& allocate) {
  if (bytes + 10000 > 2147483647.0) bytes = 2147473408.0;
  std::uint64_t n = bytes > 0 ? static_cast<std::uint64_t>(bytes) : 0;
  while (n > 51200) {
    if (void* p = allocate(n + 10000)) return {static_cast<std::uint8_t*>(p), static_cast<std::uint32_t>(n + 10000)};
    n = (n * 3 / 4) & ~std::uint64_t(1023);
  }
  return {};
}

TaskBlock reallocate_task_block(std::uint32_t bytes, const BlockAllocator& allocate) {
  if (bytes > 2147473647u) bytes = 2147473408u;
  std::uint64_t k = bytes / 1024;
  while (k >= 50) {
    if (void* p = allocate(k * 1024 + 11024))
      return {static_cast<std::uint8_t*>(p), static_cast<std::uint32_t>(k * 1024 + 10000)};
    k = 3 * k / 4;
  }
  return {};
}

}  // namespace zema
