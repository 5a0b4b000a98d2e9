// The workspace kept aside in host memory: see ws_backup.h.
#include "interpreter/session/ws_backup.h"

#include <cstring>
#include <new>

#include "interpreter/workspace/entry.h"

namespace zema {

bool WorkspaceBackup::take(Ws ws) {
  heap_top_ = rd32(ws, hdr::HeapTop);
  sp_ = rd32(ws, hdr::StackPointer);
  top_ = rd32(ws, hdr::Top);
  bytes_.reset(new (std::nothrow) std::uint8_t[heap_top_ + (top_ - sp_)]);
  if (!bytes_) return false;
  std::memcpy(bytes_.get(), ws, heap_top_);
  std::memcpy(bytes_.get() + heap_top_, ws + sp_, top_ - sp_);
  return true;
}

void WorkspaceBackup::restore(Ws ws) const {
  std::memcpy(ws, bytes_.get(), heap_top_);
  std::memcpy(ws + sp_, bytes_.get() + heap_top_, top_ - sp_);
}

}  // namespace zema
