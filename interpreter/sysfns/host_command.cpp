// )HOST: the rest of the line runs in the host's shell, its output going to
// the session.
#include "interpreter/reader/tokeniser.h"
#include "interpreter/sysfns/commands.h"
#include "interpreter/workspace/heap.h"
#include "interpreter/workspace/support.h"

namespace zema {

int chost_any_args(const std::uint8_t* text, std::uint32_t length, std::uint16_t, Ws ws) {
  force_gcol(ws);
  while (length && is_blank(*text)) {
    ++text;
    --length;
  }
  // The command is copied to the free space between heap top and stack.
  const std::uint32_t top = rd32(ws, hdr::HeapTop);
  const std::uint32_t stack = rd32(ws, hdr::StackPointer);
  const int room = stack > top ? static_cast<int>(stack - top) : 0;
  return sup_host(text, static_cast<int>(length), reinterpret_cast<char*>(ws + top), room, 0, ws) ? 12 : 0;
}

}  // namespace zema
