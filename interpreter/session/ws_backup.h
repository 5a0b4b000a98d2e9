// A copy of the workspace in host memory, kept aside while a command puts
// another image in the block, so that the workspace can be put back byte
// for byte whatever happens to the files.
#pragma once

#include <cstdint>
#include <memory>

#include "interpreter/workspace/workspace.h"

namespace zema {

class WorkspaceBackup {
 public:
  // Reads the block at `ws`: the heap part (0 to the heap top) and the
  // stack segment (stack pointer to hdr::Top); writes host memory of that
  // size. False when the host has no memory for it (nothing kept).
  bool take(Ws ws);
  // Writes both parts back where they were taken from; the free space
  // between them is left as it is. Only after a successful take().
  void restore(Ws ws) const;
  // True after a successful take().
  bool held() const { return bytes_ != nullptr; }

 private:
  std::unique_ptr<std::uint8_t[]> bytes_;
  std::uint32_t heap_top_ = 0, sp_ = 0, top_ = 0;
};

}  // namespace zema
