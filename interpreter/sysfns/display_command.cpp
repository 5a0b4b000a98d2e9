// )DISPLAY: a variable's boxed display written to the session.
#include <cstring>

#include "interpreter/output/boxed_display.h"
#include "interpreter/output/display.h"
#include "interpreter/output/show.h"
#include "interpreter/sysfns/commands.h"
#include "interpreter/sysfns/names.h"
#include "interpreter/workspace/entry.h"
#include "interpreter/workspace/errors.h"
#include "interpreter/workspace/heap.h"
#include "interpreter/workspace/symtab.h"

namespace zema {

namespace {

// The message of `code` on a line of its own.
int show_error(int code, Ws ws) {
  print_message(ertab(code), ws);
  return 12;
}

}  // namespace

int cdisplay_args(std::uint32_t length, std::uint16_t, Ws ws) {
  gcol(ws);
  const NameRef ref = look_up_name(ws + cmdws::Scratch, length, ws);
  if (ref.kind != NameKind::Found) return show_error(E_VALUE, ws);
  const std::uint8_t type = rd8(ws, ref.entry + sym::Type) & kSymTypeMask;
  if (type == SYM_UNDEF) return show_error(E_VALUE, ws);
  if (type != SYM_VAR || rd32(ws, ref.entry + sym::Value) == 0) return show_error(E_DOMAIN, ws);
  if (rd32(ws, hdr::StackPointer) - rd32(ws, hdr::HeapTop) <= 99) return show_error(E_WS_FULL, ws);

  // A failure is shown, not raised: the last error's words and its message
  // stay as they were. The message is set aside meanwhile, where raising an
  // error would release it; the picture moves nothing in the heap.
  const std::uint32_t message = rd32(ws, hdr::ErrorMessage);
  wr32(ws, hdr::ErrorMessage, 0);
  const std::uint16_t et1 = rd16(ws, hdr::EtMajor), et2 = rd16(ws, hdr::EtMinor), code = rd16(ws, hdr::ErrorCode);
  const std::uint16_t line = rd16(ws, hdr::ErrorLine);
  const std::uint32_t number = rd32(ws, hdr::ErrorNumber);
  std::uint32_t pic = 0;
  try {
    pic = boxed_picture(ref.entry + sym::Value, ws);
    wr32(ws, hdr::ErrorMessage, message);
  } catch (const AplError& e) {
    wr32(ws, hdr::ErrorMessage, message);
    wr16(ws, hdr::EtMajor, et1);
    wr16(ws, hdr::EtMinor, et2);
    wr16(ws, hdr::ErrorCode, code);
    wr16(ws, hdr::ErrorLine, line);
    wr32(ws, hdr::ErrorNumber, number);
    return show_error(e.code, ws);
  }
  // The picture lies in the free space, which writing to the session leaves alone.
  const std::uint32_t rows = rd32(ws, pic + dnode::Rows), cols = rd32(ws, pic + dnode::Columns);
  if (cols == 0) return 0;
  for (std::uint32_t r = 0; r < rows; ++r) {
    for (std::uint32_t c = 0; c < cols; ++c) cdisp(rd8(ws, pic + dnode::Chars + r * cols + c), ws);
    ptcr(ws);
  }
  return 0;
}

}  // namespace zema
