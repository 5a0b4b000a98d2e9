#include "interpreter/reader/entry_errors.h"

#include <cstdint>

#include "interpreter/workspace/entry.h"
#include "interpreter/workspace/errors.h"
#include "interpreter/workspace/heap.h"
#include "interpreter/workspace/symtab.h"
#include "interpreter/reader/tokeniser.h"

namespace zema {

namespace {

// The text of the line being tokenised, on the interpreter's thread.
thread_local const std::uint8_t* line_start = nullptr;
thread_local Ws line_ws = nullptr;

void record(int code, int et_major, int et_minor, Ws ws) {
  wr16(ws, hdr::EtMajor, et_major);
  wr16(ws, hdr::EtMinor, et_minor);
  wr16(ws, hdr::ErrorCode, code);
  wr32(ws, hdr::ErrorNumber, ertabn(code));
}

// Releases the token line being built, closing it first at the token
// cursor when it is still unfinished.
void release_line(std::uint32_t token, Ws ws) {
  const std::uint32_t line = rd32(ws, hdr::KillSlot);
  if (line == 0) return;
  const std::uint32_t initial = long_form(ws) ? tl::kInitialLong : tl::kInitialShort;
  if (rd32(ws, line + tl::Size) == initial) lexfup(token, ws);
  clrkil(ws);
}

}  // namespace

void set_line_text_start(const std::uint8_t* text, Ws ws) {
  line_start = text;
  line_ws = ws;
  const auto t = reinterpret_cast<std::uintptr_t>(text);
  const auto base = reinterpret_cast<std::uintptr_t>(ws);
  const std::uint32_t off = (t >= base && t - base < lowglobals(ws).ws_size) ? static_cast<std::uint32_t>(t - base) : 0;
  wr32(ws, hdr::LineTextStart, off);
}

const std::uint8_t* line_text_start(Ws ws) { return line_ws == ws ? line_start : nullptr; }

namespace entry {

void wsfull(const std::uint8_t* text, std::uint32_t token, Ws ws) {
  record(E_WS_FULL, 1, 3, ws);
  ercrt(text, token, ws);
}

void limit(const std::uint8_t* text, std::uint32_t token, Ws ws) {
  record(E_SYSTEM_LIMIT, 1, 13, ws);
  if (rd8(ws, kInsideExecuteByte) & 1) {
    release_line(token, ws);
    error(E_SYSTEM_LIMIT, 1, 13, ws);
  }
  ercrt(text, token, ws);
}

void symtfl(const std::uint8_t* text, std::uint32_t token, Ws ws) {
  record(E_SYMBOL_TABLE_FULL, 1, 4, ws);
  ercrt(text, token, ws);
}

void dfn1er(const std::uint8_t* text, std::uint32_t token, Ws ws) {
  record(E_DEFN, 0, 2, ws);
  ercrt(text, token, ws);
}

void ercrt(const std::uint8_t* text, std::uint32_t token, Ws ws) {
  release_line(token, ws);
  const int code = rdi16(ws, hdr::ErrorCode);
  const std::uint16_t state = engine_state(ws);
  const bool trapped = rd32(ws, hdr::TrapWord) != 0;

  const bool silent =
      trapped || (!(state & st::Copying) && (state & (st::FixingText | st::Capturing)));
  if (!silent) {
    if (rd16(ws, hdr::OutColumn) != 0) {
      sup_snd1c(ich::Return, ws);
      wr16(ws, hdr::OutColumn, 0);
    }
    print_message(ertab(code), ws);
  }

  // The line up to the error, then line feed, caret, return: the caret
  // lands under the failing character.
  const std::uint8_t* start = line_text_start(ws);
  constexpr std::uint16_t kQuietStates =
      st::Copying | st::CaptureOverflow | st::FixingText | st::Capturing | st::ExecuteRunning;
  if (start && text && text > start && !(state & kQuietStates) && !trapped) {
    set_state(st::OwnMessage, 0, ws);
    sup_lnout(static_cast<int>(text - start), reinterpret_cast<const char*>(start), ws);
    sup_snd1c(ich::LineFeed, ws);
    sup_snd1c(ich::Caret, ws);
    sup_snd1c(ich::Return, ws);
    set_state(0, st::OwnMessage, ws);
  }

  // An open ∇ definition keeps its pending header state.
  const std::uint16_t lexing = rd16(ws, hdr::LexState);
  wr16(ws, hdr::LexState, (state & st::Defining) ? (lexing & ~lexst::PerLine) : 0);

  throw EntryAbandoned{code};
}

}  // namespace entry

void clrkil(Ws ws) {
  const std::uint32_t line = rd32(ws, hdr::KillSlot);
  if (line == 0) return;
  wr32(ws, hdr::KillSlot, 0);
  mgarb(line, ws);
}

void clnlin(std::uint32_t line, Ws ws) {
  const std::uint16_t label = rd16(ws, line + tl::Label);
  if (label != 0) clnuse(label, ws);
  std::uint32_t s = line + tl::Body;
  while (const std::uint32_t length = get_statement_length(ws, s)) {
    const std::uint32_t first = s + get_statement_head(ws, s);
    std::uint32_t cursor = s + length;
    while (cursor > first) {
      const std::uint8_t last = rd8(ws, cursor - 1);
      if ((last & 1) == 0) {
        clnuse((std::uint32_t(rd8(ws, cursor - 2)) << 8) | last, ws);
        cursor -= 2;
      } else {
        cursor = skpsl2(last, cursor - 1, ws);
      }
    }
    s += length;
  }
}

std::uint32_t skipsl(std::uint32_t cursor, Ws ws) {
  const std::uint8_t last = rd8(ws, cursor - 1);
  if ((last & 1) == 0) return cursor - 2;
  return skpsl2(last, cursor - 1, ws);
}

std::uint32_t skpsl2(std::uint8_t tag, std::uint32_t at, Ws ws) {
  if (tag > TT_DQ_CHARS || tag == TT_STATEMENT || tag == 0x0D || tag == 0x0F) return at;
  std::uint32_t cursor = at;
  const std::uint32_t n = get_count(ws, cursor);
  switch (tag) {
    case TT_BOOL: return n == 0 ? cursor : cursor - ((n - 1) / 32 + 1) * 4;
    case TT_INT: return cursor - 4 * n;
    case TT_FLOAT: return cursor - 8 * n;
    default: return cursor - n;  // comment, characters: a byte each
  }
}

}  // namespace zema
