// Error trapping by :Try and ⎕ERX.
#include "interpreter/engine/trap.h"

#include "host/charset.h"
#include "interpreter/engine/control.h"
#include "interpreter/engine/engine.h"
#include "interpreter/engine/error_path.h"
#include "interpreter/engine/statement_end.h"
#include "interpreter/workspace/errors.h"
#include "interpreter/workspace/heap.h"
#include "interpreter/workspace/integrity.h"

namespace zema {

namespace {
constexpr std::uint32_t kTrapLineMask = 0x00FFFFFFu;

// Writes the note that a :Try could not take an error (internal characters).
void print_mismatched_try(Ws ws) {
  static const char kText[] = "COULD NOT TRAP ERROR. MISMATCHED :TRY BLOCK?";
  std::uint8_t text[sizeof kText];
  for (std::size_t i = 0; i < sizeof kText; ++i) text[i] = kText[i] ? fontin(static_cast<std::uint8_t>(kText[i])) : 0;
  print_extended_error(text, ws);
}
}  // namespace

int trap_error(int code, Ws ws) {
  const std::uint16_t state = engine_state(ws);
  if (rd32(ws, hdr::TrapWord) == 0 || !(!(state & st::NotFunctionLine) || (state & st::ExecuteRunning))) return -1;
  int line = -1;
  if (rd32(ws, hdr::TrapWord) & kTrapInTry) line = sc_find_catch_line(code, ws);
  if (line < 0 && (rd32(ws, hdr::TrapWord) & kTrapLineMask) != 0)
    line = static_cast<int>(rd32(ws, hdr::TrapWord) & kTrapLineMask);
  if (line < 0) {
    // Armed, yet no line takes the error: a :Try whose block is not where
    // the error happened. The note shows only when no trap is left armed.
    print_mismatched_try(ws);
    return -1;
  }
  if (state_has(st::NotFunctionLine, ws)) return -1;
  make_em(code, ws);
  if (std::uint32_t current = current_line(ws)) {
    wr32(ws, hdr::CurrentLine, 0);
    mgarb(current, ws);
  }
  clrstk(ws);
  wr32(ws, hdr::FnLineNumber, static_cast<std::uint32_t>(line - 1));
  set_state(0, st::OwnMessage | st::NotFunctionLine, ws);
  return ES_FUNCTION_LINE_END;
}

}  // namespace zema
