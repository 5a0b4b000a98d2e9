// A task's workspace block: 128 reserved bytes, the interpreter's private
// state and the workspace proper. Blocks are asked for large and, when the
// system refuses, three quarters as large again, down to a floor.
#pragma once

#include <cstdint>
#include <functional>

namespace zema {

// Allocates `bytes` zeroed bytes, or answers null. Replaceable for tests.
using BlockAllocator = std::function<void*(std::uint64_t bytes)>;
BlockAllocator default_block_allocator();

struct TaskBlock {
  std::uint8_t* block = nullptr;
  std::uint32_t size = 0;  // bytes of the block: workspace bytes + 10,000
};

// The first block of a task: `bytes` (at most 2,147,473,408) + 10,000, then
// while refused, n := n × 3 / 4 rounded down to 1 KB, while n > 51,200.
// A null block when none could be had.
TaskBlock allocate_task_block(double bytes, const BlockAllocator& allocate);
// A new block for a change of workspace size: k := bytes / 1024 (bytes at
// most 2,147,473,408), k × 1024 + 11,024 bytes, then k := 3k / 4 while
// refused and k ≥ 50. The old block is not touched: the caller copies what
// it keeps and frees the old block only when a new one exists.
TaskBlock reallocate_task_block(std::uint32_t bytes, const BlockAllocator& allocate);

}  // namespace zema
