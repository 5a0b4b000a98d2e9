#include "interpreter/sysfns/host_results.h"

#include <cstring>

#include "interpreter/workspace/arrays.h"
#include "interpreter/workspace/errors.h"
#include "interpreter/workspace/heap.h"

namespace zema {

namespace {
// Kept free above the room: the owner word of the adopted object and the
// distance getspc keeps from the stack.
constexpr std::int64_t kAdoptMargin = 128;
}  // namespace

std::uint8_t* host_result_area(std::uint32_t least, std::int32_t* room, Ws ws) {
  auto free_room = [ws] {
    return std::int64_t(rd32(ws, hdr::StackPointer)) - rd32(ws, hdr::HeapTop) - kAdoptMargin;
  };
  if (free_room() < least) force_gcol(ws);
  const std::int64_t r = free_room();
  if (r < least) ws_full(ws);
  *room = static_cast<std::int32_t>(r > 0x7FFFFFFF ? 0x7FFFFFFF : r);
  return ws + rd32(ws, hdr::HeapTop);
}

void adopt_host_result(std::int32_t room, Ws ws, bool quiet) {
  const std::uint32_t top = rd32(ws, hdr::HeapTop);
  const std::uint32_t size = rd32(ws, top + obj::Size);
  if (size < obj::Shape || size > static_cast<std::uint32_t>(room)) ws_full(ws);
  // getspc writes the new object's prefix over the written one's: its
  // type, flags and rank go back afterwards. Within the room the object
  // lands where it was written; the move only runs should it land lower.
  std::uint8_t described[4];
  std::memcpy(described, ws + top + obj::Type, 4);
  const std::uint32_t result = getspc(size - 8, ws);
  if (result != top) std::memmove(ws + result + 8, ws + top + 8, size - 8);
  std::memcpy(ws + result + obj::Type, described, 4);
  push_result(result, ws, quiet);
}

}  // namespace zema
