// ⎕ERX: the line of the running function to which its errors branch.
#include "interpreter/engine/statement_end.h"
#include "interpreter/sysfns/handlers.h"
#include "interpreter/workspace/arrays.h"
#include "interpreter/workspace/errors.h"

namespace zema {

void sferx_monadic(SfArg right, Ws ws) {
  const std::uint32_t a = right.array(ws);
  const std::uint8_t type = array_type(a, ws);
  if (!is_numeric_type(type)) domner(ws);
  if (array_count(a, ws) != 1) ranker(ws);
  const std::int32_t line = getint(type, array_data(a, ws), ws);
  // A negative line would overwrite the trap word's own bits.
  if (line < 0 || line >= (1 << 24)) domner(ws);
  const std::uint16_t state = engine_state(ws);
  if ((state & st::NotFunctionLine) && !(state & st::ExecuteRunning)) domner(ws);
  const std::uint32_t word = rd32(ws, hdr::TrapWord);
  wr32(ws, hdr::TrapWord, (word & 0xFF000000u) | static_cast<std::uint32_t>(line));
  const std::int32_t previous = static_cast<std::int32_t>(word & 0x00FFFFFFu);
  push_result(new_int_vector(&previous, 1, ws), ws);
}

}  // namespace zema
