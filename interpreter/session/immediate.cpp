#include "interpreter/session/immediate.h"

#include "interpreter/workspace/entry.h"
#include "interpreter/workspace/errors.h"
#include "interpreter/engine/engine.h"
#include "interpreter/engine/evaluation.h"
#include "interpreter/engine/error_path.h"
#include "interpreter/engine/line.h"
#include "interpreter/reader/tokeniser.h"

namespace zema {

void intent(Ws ws) {
  int last = lr::Nothing;
  for (;;) {
    const char* text = nullptr;
    int length = 0;
    if (std::uint32_t pending = rd32(ws, hdr::PendingLength)) {
      text = reinterpret_cast<const char*>(ws + rdi32(ws, hdr::PendingAddress));
      length = static_cast<int>(pending);
      wr32(ws, hdr::PendingLength, 0);
    } else {
      if (last != lr::NoPrompt && !prompt_for_quad_answer(ws)) sup_promt(ws);
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
      last = lr::Refused;
    } catch (const AplError& e) {
      run_engine(errorl(e.code, ws), ws);
      last = lr::Refused;
    }
  }
}

}  // namespace zema
