// The state-indicator commands: )SI, )SIV (and )SINL) list the suspended
// and pendent levels, newest first; )SICLEAR (and )RESET, )SIC) clears them.
#include <string>

#include "host/charset.h"
#include "host/services.h"
#include "interpreter/engine/call.h"
#include "interpreter/output/display.h"
#include "interpreter/output/numfmt.h"
#include "interpreter/engine/statement_end.h"
#include "interpreter/sysfns/commands.h"
#include "interpreter/engine/sysvars.h"

namespace zema {

namespace {

constexpr int kLocals = 0x01;   // mode: add each level's local names
constexpr int kNoStar = 0x02;   // mode: the next entry gets no "*"
constexpr std::uint16_t kHidden = st::ValueAwaited;  // a ⎕-input level: not listed

// One level of the state indicator.
struct Level {
  std::uint16_t function;  // symbol token, 0 for immediate execution
  std::int32_t line;
  std::uint16_t state;
};

// A name in the text buffer, padded with blanks to the next multiple of 8
// (eight more when it is one already), on a new line when it would pass ⎕PW.
void print_padded(std::string text, Ws ws) {
  text.append(8 - text.size() % 8, static_cast<char>(kBlank));
  const std::uint32_t width = rd16(ws, sysvar_value_word(sysvar::PW));
  if (rd16(ws, hdr::OutColumn) != 0 && rd16(ws, hdr::OutColumn) + text.size() > width) cdisp(kCarriageReturn, ws);
  ldprt(text, ws);
}

std::string name_of(std::uint16_t token, Ws ws) {
  std::uint32_t cursor = 0;
  fmtnam(token, &cursor, ws);
  return std::string(text_buffer(ws));
}

// The entry of one level: NAME[line], then "*" unless the mode says not.
// The line number is written as numbers are (a damaged level's ¯1).
int csip(const Level& level, int mode, Ws ws) {
  if (level.state & kHidden) return mode | kNoStar;
  std::string s = name_of(level.function, ws);
  fmtint(level.line, ws);
  s += utf8_to_internal("[") + std::string(text_buffer(ws)) + utf8_to_internal("] ");
  if (!(mode & kNoStar)) s += utf8_to_internal("* ");
  print_padded(s, ws);
  return mode | kNoStar;
}

// The local names held by a frame: the records below it, newest last.
void print_locals(std::uint32_t frame, Ws ws) {
  const int count = rdi16(ws, frame + siframe::Count) + 1;
  for (int i = 0; i < count; ++i) {
    const std::uint32_t r = frame - siframe::RecordSize * static_cast<std::uint32_t>(i + 1);
    if (rd8(ws, r) & 0x80) continue;
    print_padded(name_of(rd16(ws, r + 2), ws), ws);
  }
}

int listing(std::int32_t n, int mode, Ws ws) { return csie(n, mode, ws); }

// Ends a level's line; while ⎕SI captures the listing, the carriage return
// is stored with the text.
void end_level_line(Ws ws) {
  if (state_has(st::Capturing, ws)) {
    cdisp_store(kCarriageReturn, ws);
    wr16(ws, hdr::OutColumn, 0);
  } else {
    cdisp(kCarriageReturn, ws);
  }
}

}  // namespace

int csie(std::int32_t n, int mode, Ws ws) {
  if (n < 0) {
    c_incorrect(ws);
    return 12;
  }
  Level level{rd16(ws, hdr::RunningToken), rdi32(ws, hdr::FnLineNumber), engine_state(ws)};
  if (n == 0 || level.function == 0) return 0;
  mode = csip(level, mode, ws);
  std::int32_t shown = 0;
  for (std::uint32_t link = rd32(ws, hdr::SiLink);;) {
    const bool at_bottom = rd32(ws, link) == 0;
    if ((mode & kLocals) && !at_bottom) print_locals(link - siframe::Link, ws);
    if (!(level.state & kHidden)) end_level_line(ws);
    if (++shown >= n || at_bottom) break;
    const std::uint32_t frame = link - siframe::Link;
    level = {rd16(ws, frame + siframe::RunningToken), rdi32(ws, frame + siframe::LineNumber),
             rd16(ws, frame + siframe::State)};
    if (level.function == 0) break;
    if (level.state & st::NotFunctionLine) mode &= ~kNoStar;
    mode = csip(level, mode, ws);
    link = rd32(ws, link);
  }
  return 0;
}

int csi_no_args(std::uint16_t, Ws ws) { return listing(0x7FFFFFFF, 0, ws); }
int csi_args(std::int32_t n, std::uint16_t, Ws ws) { return listing(n, 0, ws); }
int csiv_no_args(std::uint16_t, Ws ws) { return listing(0x7FFFFFFF, kLocals, ws); }
int csiv_args(std::int32_t n, std::uint16_t, Ws ws) { return listing(n, kLocals, ws); }

int csicl_no_args(std::uint16_t, Ws ws) {
  kill_syscmd_output();
  siclr(ws);
  return 0;
}
int csicl_args(std::int32_t n, std::uint16_t, Ws ws) {
  kill_syscmd_output();
  siclr_n(n, ws);
  return 0;
}

}  // namespace zema
