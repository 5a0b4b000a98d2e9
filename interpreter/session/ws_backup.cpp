// The workspace kept aside in host memory: see ws_backup.h.
#include "interpreter/session/ws_backup.h"

#include <algorithm>
#include <cstring>
#include <new>

#include "interpreter/workspace/entry.h"

namespace zema {

bool WorkspaceBackup::keep(Ws ws, const Piece* pieces, int count) {
  std::uint64_t total = 0;
  count_ = 0;
  for (int i = 0; i < count; ++i)
    if (pieces[i].length != 0) {
      pieces_[count_++] = pieces[i];
      total += pieces[i].length;
    }
  bytes_.reset(new (std::nothrow) std::uint8_t[total ? total : 1]);
  if (!bytes_) return false;
  std::uint8_t* to = bytes_.get();
  for (int i = 0; i < count_; ++i) {
    std::memcpy(to, ws + pieces_[i].at, pieces_[i].length);
    to += pieces_[i].length;
  }
  return true;
}

bool WorkspaceBackup::take(Ws ws) {
  const std::uint32_t sp = rd32(ws, hdr::StackPointer);
  const Piece pieces[2] = {{0, rd32(ws, hdr::HeapTop)}, {sp, rd32(ws, hdr::Top) - sp}};
  return keep(ws, pieces, 2);
}

bool WorkspaceBackup::take_overwritten(Ws ws, std::uint32_t heap_end, std::uint32_t stack_begin,
                                       std::uint32_t stack_end) {
  const std::uint32_t live[2][2] = {{0, rd32(ws, hdr::HeapTop)}, {rd32(ws, hdr::StackPointer), rd32(ws, hdr::Top)}};
  const std::uint32_t written[2][2] = {{0, heap_end}, {stack_begin, stack_end}};
  Piece pieces[4];
  int n = 0;
  for (const auto& l : live)
    for (const auto& w : written) {
      const std::uint32_t from = std::max(l[0], w[0]), to = std::min(l[1], w[1]);
      if (from < to) pieces[n++] = {from, to - from};
    }
  return keep(ws, pieces, n);
}

void WorkspaceBackup::restore(Ws ws) const {
  const std::uint8_t* from = bytes_.get();
  for (int i = 0; i < count_; ++i) {
    std::memcpy(ws + pieces_[i].at, from, pieces_[i].length);
    from += pieces_[i].length;
  }
}

}  // namespace zema
