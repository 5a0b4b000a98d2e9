#include "interpreter/immediate.h"

#include "interpreter/entry.h"
#include "interpreter/errors.h"
#include "interpreter/engine.h"
#include "interpreter/error_path.h"
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
    } catch (const ResumeEngine& r) {
      // An attention taken while no line runs leaves nothing to resume.
      if (r.state != ES_LEAVE) run_engine(r.state, ws);
      last = 12;
    } catch (const AplError& e) {
      run_engine(errorl(e.code, ws), ws);
      last = 12;
    }
  }
}

void intptr_attn(Ws ws) {
  wr16(ws, hdr::AttnCountdown, rd16(ws, hdr::AttnReload));
  wr8(ws, hdr::OutputBits, 0);
  set_state(0, st::ListDigits | st::Capturing, ws);
  if (!state_has(st::Defining, ws)) wr16(ws, hdr::LexState, 0);
  if (state_has(st::Executing, ws)) synatn(engine_state(ws), ws);
  resume_apl(ES_LEAVE, ws);
}

}  // namespace zema
