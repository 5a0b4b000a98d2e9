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
  // Keeps only those bytes of the heap part and stack segment that lie in
  // [0, heap_end) or [stack_begin, stack_end): the ranges another image is
  // about to be written to. False as for take().
  bool take_overwritten(Ws ws, std::uint32_t heap_end, std::uint32_t stack_begin, std::uint32_t stack_end);
  // Writes what was kept back where it was taken from; the rest of the
  // block is left as it is. Only after a successful take.
  void restore(Ws ws) const;
  // True after a successful take.
  bool held() const { return bytes_ != nullptr; }

 private:
  struct Piece {
    std::uint32_t at = 0, length = 0;
  };
  // Keeps the pieces (at most four, each inside the block).
  bool keep(Ws ws, const Piece* pieces, int count);

  std::unique_ptr<std::uint8_t[]> bytes_;
  Piece pieces_[4];
  int count_ = 0;
};

}  // namespace zema
