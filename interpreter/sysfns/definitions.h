// Defined functions as text: fixing one from lines (⎕FX, and ⎕TF and ⎕NA
// through the same routine) and listing one (⎕CR, ⎕TF). Handlers of ⎕FX,
// ⎕CR, ⎕EX and ⎕NA are in handlers.h.
//
// A fix runs the ∇ definition's own machinery: each line goes through the
// tokeniser with st::FixingText set, as if typed after ∇, and the
// definition is closed through the tokeniser's dfnend route. The name's
// previous function is kept aside meanwhile: it is freed when the fix
// succeeds and put back when it fails, so a failed fix changes nothing.
#pragma once

#include <cstdint>

#include "interpreter/workspace/workspace.h"

namespace zema {

// The lines of a definition, asked for in order from 0.
class FixSource {
 public:
  virtual ~FixSource() = default;
  // Line i: false past the last one (or at an item that is no line, which
  // makes the fix fail there); else its `n` internal characters at `text`,
  // valid until the workspace compacts.
  virtual bool line(std::uint32_t i, const std::uint8_t** text, std::uint32_t* n, Ws ws) = 0;
  // False when the source ended at an item that is no line.
  virtual bool ended_well() const { return true; }
};

// Fixes the function whose lines `source` gives; with `lock` it is locked.
// A variable at the symbol entry `replace_variable` (0 for none), which
// must be the name the lines define, is replaced too (kept aside and put
// back on failure like a function). Answers -1 and the function's symbol
// entry in `entry`, or the index (from 0) of the line that could not be
// taken. ⎕ET, ⎕EM and the error number are left as they were.
int fix_definition(FixSource& source, bool lock, std::uint32_t replace_variable, std::uint32_t* entry, Ws ws);

// Whether a symbol type is a defined function's or operator's.
inline bool defined_function_type(std::uint8_t type) { return type <= 2 || (type >= 11 && type <= 14); }

// Number of lines (the header included) of the function whose header line
// is `header`.
std::uint32_t function_line_count(std::uint32_t header, Ws ws);
// Line i (0 the header) of that function, 0 past the last.
std::uint32_t function_line(std::uint32_t header, std::uint32_t i, Ws ws);
// Lists line `line` as text at the capture cursor (a TextCapture must be
// alive); answers its length.
std::uint32_t capture_function_line(std::uint32_t line, Ws ws);
// The longest line of the function at the symbol entry, measured by
// listing each at the capture cursor and rewinding (a TextCapture alive).
std::uint32_t function_width(std::uint32_t entry, Ws ws);

}  // namespace zema
