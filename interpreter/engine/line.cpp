#include "interpreter/engine/line.h"

#include <cstdint>

#include "interpreter/engine/engine.h"
#include "interpreter/reader/entry_errors.h"
#include "interpreter/engine/error_path.h"
#include "interpreter/workspace/errors.h"
#include "interpreter/reader/tokeniser.h"

namespace zema {

int tokenise_input_line(const char* text, int length, Ws ws) {
  try {
    return lexcal(reinterpret_cast<const std::uint8_t*>(text), length < 0 ? 0u : static_cast<std::uint32_t>(length), ws);
  } catch (const EntryAbandoned&) {
    return lr::Refused;
  }
}

void run_engine(int state, Ws ws) {
  for (;;) {
    try {
      syntax(state, ws);
      return;
    } catch (const ResumeEngine& r) {
      state = r.state;
    } catch (const AplError& e) {
      state = errorl(e.code, ws);
    }
  }
}

int run_input_line(const char* text, int length, Ws ws) {
  const int result = tokenise_input_line(text, length, ws);
  if (result == lr::Ready) run_engine(ES_LINE_START, ws);
  return result;
}

}  // namespace zema
