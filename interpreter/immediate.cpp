#include "interpreter/immediate.h"

#include "interpreter/entry.h"
#include "interpreter/errors.h"
#include "interpreter/line.h"

namespace zema {

void intent(Ws ws) {
  int last = 0;
  for (;;) {
    const char* text = nullptr;
    int length = 0;
    if (std::uint32_t pending = rd32(ws, hdr::PendingLength)) {
      text = reinterpret_cast<const char*>(ws + rdi32(ws, hdr::PendingAddress));
      length = static_cast<int>(pending);
      wr32(ws, hdr::PendingLength, 0);
    } else {
      if (last != 8) sup_promt(ws);
      wr8(ws, hdr::StepRequest, 0);
      if (sup_lnin(&text, &length, ws) == 0) {
        sup_snd1c(0x0D, ws);
        continue;
      }
    }
    wr16(ws, hdr::OutColumn, 0);
    try {
      last = run_input_line(text, length, ws);
    } catch (const AplError& e) {
      report_error(e.code, ws);
      last = 12;
    }
  }
}

void intptr_attn(Ws ws) { error(E_INTERRUPT, 1, 1, ws); }

void report_error(int code, Ws ws) { print_message(ertab(code), ws); }

}  // namespace zema
