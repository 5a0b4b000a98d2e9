// The trace output of traced function lines.
#include "interpreter/engine/trace.h"

#include <string>

#include "host/charset.h"
#include "interpreter/engine/call.h"
#include "interpreter/engine/engine.h"
#include "interpreter/engine/function_object.h"
#include "interpreter/output/display.h"
#include "interpreter/output/numfmt.h"
#include "interpreter/output/show.h"
#include "interpreter/reader/token_format.h"

namespace zema {

namespace {
std::uint8_t internal(const char* glyph) { return static_cast<std::uint8_t>(utf8_to_internal(glyph)[0]); }
}  // namespace

bool line_traced(Ws ws) {
  if (state_has(st::NotFunctionLine, ws)) return false;
  const std::uint32_t line = current_line(ws);
  return line != 0 && (rd8(ws, line + tl::Marks) & fnmark::Trace);
}

void trace_prefix(Ws ws) {
  std::uint8_t& out = ws[hdr::OutputBits];
  if (out & linebits::TraceName) {
    out &= ~linebits::TraceName;
    fnsub(ws);
  } else if (rd16(ws, hdr::OutColumn) == 0) {
    static const std::uint8_t diamond = internal("⋄");
    cdisp(diamond, ws);
    for (int i = 0; i < 5; ++i) pspace(ws);
  }
}

void trace_branch(BranchTarget kind, std::int32_t target, Ws ws) {
  static const std::uint8_t arrow = internal("→");
  static const std::uint8_t iota = internal("⍳");
  static const std::uint8_t zero = internal("0");
  trace_prefix(ws);
  cdisp(arrow, ws);
  if (kind == BranchTarget::Number) {
    fmtint(target, ws);
    ldism(ws);
  } else if (kind == BranchTarget::Empty) {
    cdisp(iota, ws);
    cdisp(zero, ws);
  }
  ptcr(ws);
}

}  // namespace zema
