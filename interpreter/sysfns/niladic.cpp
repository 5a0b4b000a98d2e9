// ⎕SI and ⎕TIME: the state-indicator listing and the time stamp as
// character vectors, captured from the routines that print them.
#include "interpreter/output/timestamp.h"
#include "interpreter/sysfns/capture.h"
#include "interpreter/sysfns/commands.h"
#include "interpreter/sysfns/handlers.h"
#include "interpreter/workspace/arrays.h"
#include "interpreter/workspace/support.h"

namespace zema {

void sfsi(Ws ws) {
  const std::uint32_t origin = capture_origin(1, ws);
  std::uint32_t n = 0;
  {
    TextCapture capture(origin, ws);
    csie(0x7FFFFFFF, 0, ws);
    n = capture.cursor() - origin;
  }
  // Lines end with a carriage return but the last.
  if (n) --n;
  push_result(captured_array(1, &n, ws), ws);
}

void sftime(Ws ws) {
  std::uint32_t date = 0;
  wr32(ws, hdr::SaveTime, sup_tds(&date, ws));
  wr32(ws, hdr::SaveDate, date);
  const std::uint32_t origin = capture_origin(1, ws);
  std::uint32_t n = 0;
  {
    TextCapture capture(origin, ws);
    fmttd(ws);
    n = capture.cursor() - origin;
  }
  push_result(captured_array(1, &n, ws), ws);
}

}  // namespace zema
