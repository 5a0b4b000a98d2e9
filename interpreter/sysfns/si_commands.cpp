// The state-indicator commands: )SI, )SIV (and )SINL) and )SIS list the
// suspended and pendent levels, newest first; )SICLEAR (and )RESET, )SIC)
// clears them.
#include <string>

#include "host/charset.h"
#include "host/services.h"
#include "interpreter/engine/call.h"
#include "interpreter/engine/function_object.h"
#include "interpreter/engine/method_calls.h"
#include "interpreter/output/display.h"
#include "interpreter/output/numfmt.h"
#include "interpreter/workspace/entry.h"
#include "interpreter/workspace/heap.h"
#include "interpreter/engine/statement_end.h"
#include "interpreter/sysfns/commands.h"
#include "interpreter/engine/sysvars.h"

namespace zema {

namespace {

constexpr int kLocals = 0x01;   // mode: add each level's local names
constexpr int kNoStar = 0x02;   // mode: the next entry gets no "*"
constexpr int kStatements = 0x04;  // mode: add each level's statement with a caret
constexpr int kBottom = 0x08;      // mode: the immediate-execution level is reached
constexpr std::uint8_t kCaretChar = 0x29;  // ^
constexpr std::uint16_t kHidden = st::ValueAwaited;  // a ⎕-input level: not listed

// One level of the state indicator.
struct Level {
  std::uint16_t function;  // symbol token, 0 for immediate execution
  std::int32_t line;
  std::uint16_t state;
  std::uint32_t running;  // running-symbol word: kMethodLevel for a method
  std::uint32_t object;   // current object
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
  std::string s;
  if (const std::uint16_t cls = method_level_class_name(level.running, level.object, level.function, ws))
    s = name_of(cls, ws) + utf8_to_internal(".");
  s += name_of(level.function, ws);
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

// The value and symbol type that the name `token` has at the level recorded
// in `frame` (0: the current level): the value saved by the oldest
// localisation made above that level, else the symbol's own.
void value_at_level(std::uint16_t token, std::uint32_t frame, std::uint32_t* value, std::uint8_t* type, Ws ws) {
  const std::uint32_t e = entry_of_token(token);
  *value = rd32(ws, e + sym::Value);
  *type = rd8(ws, e + sym::Type) & kSymTypeMask;
  if (frame == 0) return;
  for (std::uint32_t link = rd32(ws, hdr::SiLink); link; link = rd32(ws, link)) {
    const std::uint32_t f = link - siframe::Link;
    const int count = rdi16(ws, f + siframe::Count) + 1;
    for (int i = 0; i < count; ++i) {
      const std::uint32_t r = f - siframe::RecordSize * static_cast<std::uint32_t>(i + 1);
      const std::uint8_t kind = rd8(ws, r);
      if ((kind != kRecName && kind != kRecLabel) || rd16(ws, r + 2) != token) continue;
      *value = rd32(ws, r + 4);
      *type = rd8(ws, r + 8) & kSymTypeMask;
    }
    if (f == frame) return;
  }
}

// The token line of line `n` of the level's function as the level
// recorded in `frame` sees it (a method's through its object), or 0 (a
// hidden level: 0, and the next entry gets no "*").
std::uint32_t csi_find_line(const Level& level, std::int32_t n, int* mode, std::uint32_t frame, Ws ws) {
  if (level.state & kHidden) {
    *mode |= kNoStar;
    return 0;
  }
  std::uint32_t line = 0;
  std::uint8_t type = 0;
  if (level.running == kMethodLevel) {
    line = method_function(level.function, level.object, &type, ws);
  } else {
    value_at_level(level.function, frame, &line, &type, ws);
  }
  if (line == 0 || !is_function_type(type) || n <= 0) return 0;
  for (std::int32_t i = 0; i < n && line; ++i) line = rd32(ws, line + fnl::Next);
  return line;
}

// Lists a token line from the current column, and under it a caret below
// the token `tokens` places from the right end of the statement that holds
// `cursor` (no caret for `tokens` 0, or when the caret column stays 0).
void csi_print_line(std::uint32_t line, std::uint32_t tokens, std::uint32_t cursor, Ws ws) {
  const std::uint32_t saved_tokens = rd32(ws, hdr::TokensTaken), saved_cursor = rd32(ws, hdr::LineCursor);
  const std::uint16_t saved_caret = rd16(ws, hdr::CaretColumn);
  wr32(ws, hdr::TokensTaken, tokens);
  wr32(ws, hdr::LineCursor, cursor);
  wr16(ws, hdr::CaretColumn, rd16(ws, hdr::OutColumn));
  ldis(line, ws);
  const std::uint16_t caret = rd16(ws, hdr::CaretColumn);
  wr32(ws, hdr::TokensTaken, saved_tokens);
  wr32(ws, hdr::LineCursor, saved_cursor);
  wr16(ws, hdr::CaretColumn, saved_caret);
  if (caret == 0 || tokens == 0) return;
  for (std::uint16_t i = 0; i < caret; ++i) cdisp(kBlank, ws);
  cdisp(kCaretChar, ws);
  cdisp(kCarriageReturn, ws);
}

// The function's line `level.line` under its entry, with the caret.
void print_statement(const Level& level, std::uint32_t frame, std::uint32_t tokens, std::uint32_t cursor, int* mode,
                     Ws ws) {
  if (level.line <= 0) return;
  const std::uint32_t line = csi_find_line(level, level.line, mode, frame, ws);
  if (line) csi_print_line(line, tokens, cursor, ws);
}

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
  Level level{rd16(ws, hdr::RunningToken), rdi32(ws, hdr::FnLineNumber), engine_state(ws),
              rd32(ws, hdr::RunningSymbol), rd32(ws, hdr::CurrentInstance)};
  if (n == 0 || level.function == 0) return 0;
  mode = csip(level, mode, ws);
  if (mode & kStatements)
    print_statement(level, 0, rd32(ws, hdr::TokensTaken), rd32(ws, hdr::LineCursor), &mode, ws);
  std::int32_t shown = 0;
  for (std::uint32_t link = rd32(ws, hdr::SiLink); link;) {
    const bool at_bottom = rd32(ws, link) == 0;
    const std::uint32_t frame = link - siframe::Link;
    if ((mode & kLocals) && !at_bottom) print_locals(frame, ws);
    if (!(level.state & kHidden) && !(mode & kStatements)) end_level_line(ws);
    if (++shown >= n || at_bottom) break;
    level = {rd16(ws, frame + siframe::RunningToken), rdi32(ws, frame + siframe::LineNumber),
             rd16(ws, frame + siframe::State), rd32(ws, frame + siframe::RunningSymbol),
             rd32(ws, frame + siframe::Instance)};
    const std::uint32_t tokens = rd32(ws, frame + siframe::Tokens) & 0xFFFF;
    const std::uint32_t cursor = rd32(ws, frame + siframe::Cursor);
    if (level.function == 0) {
      mode |= kBottom;
      if (!(mode & kStatements)) break;
    }
    const bool suspended = level.state & st::NotFunctionLine;
    if (suspended) mode &= ~kNoStar;
    if ((mode & kStatements) && (suspended || (mode & kBottom))) {
      // The line typed at this level: "*" and seven blanks before it.
      ldprt(utf8_to_internal("*       "), ws);
      if (const std::uint32_t line = rd32(ws, frame + siframe::Line))
        csi_print_line(line, tokens, cursor, ws);
      else
        cdisp(kCarriageReturn, ws);
      if (mode & kBottom) break;
      if (++shown >= n) break;
      // The suspended function's line: its own position is not kept.
      mode = csip(level, mode | kNoStar, ws);
      print_statement(level, frame, 0, 0, &mode, ws);
    } else {
      mode = csip(level, mode, ws);
      if (mode & kStatements) print_statement(level, frame, tokens, cursor, &mode, ws);
    }
    link = rd32(ws, link);
  }
  return 0;
}

int csi_no_args(std::uint16_t, Ws ws) { return listing(0x7FFFFFFF, 0, ws); }
int csi_args(std::int32_t n, std::uint16_t, Ws ws) { return listing(n, 0, ws); }
int csiv_no_args(std::uint16_t, Ws ws) { return listing(0x7FFFFFFF, kLocals, ws); }
int csiv_args(std::int32_t n, std::uint16_t, Ws ws) { return listing(n, kLocals, ws); }
int csis_no_args(std::uint16_t, Ws ws) { return listing(0x7FFFFFFF, kNoStar | kStatements, ws); }
int csis_args(std::int32_t n, std::uint16_t, Ws ws) { return listing(n, kNoStar | kStatements, ws); }

const std::uint8_t* get_state_indicator(Ws ws, std::int32_t n, int mode) {
  sup_attn(0, ws);
  force_gcol(ws);
  const std::uint32_t text = rd32(ws, hdr::HeapTop);
  const std::uint32_t saved_address = rd32(ws, hdr::CaptureAddress);
  const std::uint16_t saved_column = rd16(ws, hdr::OutColumn);
  const std::uint8_t saved_bits = rd8(ws, hdr::OutputBits);
  wr32(ws, hdr::CaptureAddress, text);
  wr8(ws, hdr::OutputBits, (saved_bits | outbits::Store | outbits::NoFold) & ~outbits::Overflowed);
  wr16(ws, hdr::OutColumn, 0);
  csie(n, mode, ws);
  const bool overflowed = rd8(ws, hdr::OutputBits) & outbits::Overflowed;
  const std::uint32_t end = rd32(ws, hdr::CaptureAddress);
  if (!overflowed) wr8(ws, end, 0);  // the reserve below the stack has room for it
  wr8(ws, hdr::OutputBits, saved_bits);
  set_state(0, st::CaptureOverflow, ws);
  wr16(ws, hdr::OutColumn, saved_column);
  wr32(ws, hdr::CaptureAddress, saved_address);
  sup_attn(rd16(ws, hdr::AttnLevel), ws);
  return overflowed ? nullptr : ws + text;
}

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
