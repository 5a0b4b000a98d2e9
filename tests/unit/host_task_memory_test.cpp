// The workspace block of a task: sizes asked for, retries, refusals.
#include "host/task_memory.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <vector>

namespace zema {
namespace {

// An allocator that refuses every request above `limit` and records them.
struct Failing {
  std::uint64_t limit;
  std::vector<std::uint64_t> asked;
  BlockAllocator Get() {
    return [this](std::uint64_t n) -> void* {
      asked.push_back(n);
      return n <= limit ? std::calloc(1, n) : nullptr;
    };
  }
};

TEST(TaskMemory, FirstBlockRetriesAtThreeQuartersRoundedToKB) {
  Failing f{800000, {}};
  TaskBlock b = allocate_task_block(1000000, f.Get());
  ASSERT_NE(b.block, nullptr);
  ASSERT_EQ(f.asked.size(), 2u);
  EXPECT_EQ(f.asked[0], 1010000u);
  EXPECT_EQ(f.asked[1], 749568u + 10000);
  EXPECT_EQ(b.size, 749568u + 10000);
  std::free(b.block);
}

TEST(TaskMemory, FirstBlockLimitsAndFloor) {
  Failing none{0, {}};
  EXPECT_EQ(allocate_task_block(51200, none.Get()).block, nullptr);
  EXPECT_TRUE(none.asked.empty());
  Failing big{0, {}};
  EXPECT_EQ(allocate_task_block(3e9, big.Get()).block, nullptr);
  ASSERT_FALSE(big.asked.empty());
  EXPECT_EQ(big.asked[0], 2147473408u + 10000);
  EXPECT_GT(big.asked.back(), 51200u + 10000);
}

TEST(TaskMemory, NewBlockForResizeRetriesByKB) {
  Failing f{0, {}};
  EXPECT_EQ(reallocate_task_block(2147483647u, f.Get()).block, nullptr);
  ASSERT_FALSE(f.asked.empty());
  EXPECT_EQ(f.asked[0], 2097142ull * 1024 + 11024);
  EXPECT_GE((f.asked.back() - 11024) / 1024, 50u);
  Failing ok{1 << 30, {}};
  TaskBlock b = reallocate_task_block(204800, ok.Get());
  ASSERT_NE(b.block, nullptr);
  EXPECT_EQ(b.size, 204800u + 10000);
  std::free(b.block);
}

}  // namespace
}  // namespace zema
