// A cleared workspace in memory of its own, for tests of the interpreter's
// layers below immediate execution.
#pragma once

#include <cstdint>
#include <vector>

#include "interpreter/entry.h"
#include "interpreter/workspace.h"

namespace zema::test {

class TestWorkspace {
 public:
  explicit TestWorkspace(std::uint32_t bytes = 256 * 1024) : memory_(bytes) {
    ws_ = apl_setup(memory_.data(), bytes, "", 1);
    clear_workspace(ws_);
  }
  ~TestWorkspace() { forget_side_state(ws_); }
  TestWorkspace(const TestWorkspace&) = delete;
  TestWorkspace& operator=(const TestWorkspace&) = delete;

  Ws ws() const { return ws_; }

 private:
  std::vector<std::uint8_t> memory_;
  Ws ws_;
};

}  // namespace zema::test
