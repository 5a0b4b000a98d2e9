#include "interpreter/line.h"

#include <cstdint>

#include "interpreter/entry_errors.h"
#include "interpreter/tokeniser.h"

namespace zema {

// Tokenises the line. With no execution engine behind it yet, a line ready
// to run is released again at once; entry errors have reported themselves.
int run_input_line(const char* text, int length, Ws ws) {
  try {
    int result = lexcal(reinterpret_cast<const std::uint8_t*>(text), length < 0 ? 0u : static_cast<std::uint32_t>(length), ws);
    if (result == 4) clrkil(ws);
    return result;
  } catch (const EntryAbandoned&) {
    return 12;
  }
}

}  // namespace zema
