// Tracing: the lines of a defined function marked by ⎕TRACE show what
// their statements give as they run. A line's trace mark is bit 0x10 of
// its marks byte (fnmark::Trace), kept in the running copy of the line.
//
// The trace prefix is the function's name and line number as the stop
// report and error messages print them (fnsub, e.g. "F[2] "), written
// before the first trace of a line; a later statement of the same line
// that starts on an empty output line is marked by a diamond and five
// blanks instead.
#pragma once

#include <cstdint>

#include "interpreter/workspace/workspace.h"

namespace zema {

// Bits of header byte hdr::OutputBits that the line start sets.
namespace linebits {
constexpr std::uint8_t PassStop = 0x10;   // the stop of the next line started is passed once
constexpr std::uint8_t TraceName = 0x08;  // the traced line's name and number are still to be written
}  // namespace linebits

// Whether the line running is a defined function's line marked for trace.
// Reads the engine state and the current token line.
bool line_traced(Ws ws);

// Writes the trace prefix (the name and number when still due, clearing
// linebits::TraceName; else a diamond and five blanks when the output line
// is empty).
void trace_prefix(Ws ws);

// Traces a branch of a traced line: the prefix, "→" and the target (none
// for the escape →, "⍳0" for an empty target), then ends the line.
enum class BranchTarget : std::uint8_t { Number, Empty, Escape };
void trace_branch(BranchTarget kind, std::int32_t target, Ws ws);

}  // namespace zema
