#include "interpreter/session/line_editor.h"

#include <string>
#include <utility>

#include "interpreter/session/definition.h"
#include "interpreter/output/display.h"
#include "interpreter/workspace/entry.h"
#include "interpreter/reader/entry_errors.h"
#include "interpreter/workspace/heap.h"
#include "interpreter/reader/tokeniser.h"

namespace zema {

namespace {

constexpr std::uint8_t kLeftBracket = 0x3B;
constexpr std::uint8_t kRightBracket = 0x27;
constexpr std::uint8_t kPoint = 0x2E;
constexpr std::uint8_t kDigitZero = 0x30;
constexpr std::uint8_t kQuad = 0x4C;
constexpr std::uint8_t kDelta = 0x7B;
constexpr std::uint8_t kRightParen = 0x22;

// Flags of one bracket group.
namespace group {
constexpr std::uint8_t Number = 0x01;  // a line number came first
constexpr std::uint8_t Quad = 0x02;    // ⎕ was given
constexpr std::uint8_t Second = 0x04;  // a number after ⎕ or ∆
constexpr std::uint8_t Delete = 0x08;  // ∆ was given
}  // namespace group

std::uint32_t number_of(std::uint32_t line, Ws ws) { return rd32(ws, line + fnl::Number); }

// The line before the first one numbered n or higher (the header when
// none), and that line (0 when none).
std::pair<std::uint32_t, std::uint32_t> position_of(std::uint32_t n, Ws ws) {
  std::uint32_t prev = definition_header(ws);
  std::uint32_t line = rd32(ws, prev + fnl::Next);
  while (line && number_of(line, ws) < n) {
    prev = line;
    line = rd32(ws, line + fnl::Next);
  }
  return {prev, line};
}

// Links `line` after `prev`; answers what followed `prev`.
void link_after(std::uint32_t prev, std::uint32_t line, Ws ws) {
  wr32(ws, prev + fnl::Next, line);
  if (line) set_owner(line, prev, OK_NEXTLINE, ws);
}

void delete_line(std::uint32_t n, Ws ws) {
  auto [prev, line] = position_of(n, ws);
  if (!line || number_of(line, ws) != n) return;
  link_after(prev, rd32(ws, line + fnl::Next), ws);
  wr32(ws, line + fnl::Next, 0);
  mgarb(line, ws);
}

std::uint32_t last_line_number(Ws ws) {
  std::uint32_t n = 0;
  for (std::uint32_t line = rd32(ws, definition_header(ws) + fnl::Next); line; line = rd32(ws, line + fnl::Next))
    n = number_of(line, ws);
  return n;
}

// The text of a listed line without its carriage return, captured quietly
// in the free gap above the heap top.
std::string line_text(std::uint32_t line, Ws ws) {
  const std::uint32_t start = rd32(ws, hdr::HeapTop) + 16;
  const std::uint32_t saved_address = rd32(ws, hdr::CaptureAddress);
  const std::uint16_t saved_column = rd16(ws, hdr::OutColumn);
  const std::uint8_t saved_bits = rd8(ws, hdr::OutputBits);
  wr32(ws, hdr::CaptureAddress, start);
  wr8(ws, hdr::OutputBits, saved_bits | outbits::Store);
  set_state(st::Capturing, 0, ws);
  ldis(line, ws);
  set_state(0, st::Capturing | st::CaptureOverflow, ws);
  const std::uint32_t end = rd32(ws, hdr::CaptureAddress);
  std::string text(reinterpret_cast<const char*>(ws + start), end - start);
  wr32(ws, hdr::CaptureAddress, saved_address);
  wr16(ws, hdr::OutColumn, saved_column);
  wr8(ws, hdr::OutputBits, saved_bits);
  return text;
}

// [n⎕m]: the host's line editor gets column m, and the prompt and line n
// are printed, unfolded and without a carriage return, for editing.
void edit_line(std::uint32_t n, std::uint32_t line, std::uint32_t column, Ws ws) {
  sup_edit(static_cast<int>(column), ws);
  const std::string text = line_text(line, ws);
  const std::uint8_t saved_bits = rd8(ws, hdr::OutputBits);
  wr8(ws, hdr::OutputBits, saved_bits | outbits::NoFold);
  const int blank = dfnfmc(n, ws);
  if (rd16(ws, line + fnl::Label) == 0 && !comment_alone(line, ws)) cdisp(blank, ws);
  ldprt(text, ws);
  wr8(ws, hdr::OutputBits, saved_bits);
}

}  // namespace

// ---- line numbers --------------------------------------------------------------

std::uint32_t bcd_add(std::uint32_t a, std::uint32_t b) {
  std::uint32_t sum = 0;
  std::uint32_t carry = 0;
  for (int shift = 0; shift < 32; shift += 4) {
    std::uint32_t d = ((a >> shift) & 0xF) + ((b >> shift) & 0xF) + carry;
    carry = d > 9;
    if (carry) d -= 10;
    sum |= d << shift;
  }
  return carry ? bcd::Last : sum;
}

std::uint32_t bcd_integer(std::uint32_t n) {
  std::uint32_t value = 0;
  for (int shift = 28; shift >= 16; shift -= 4) value = value * 10 + ((n >> shift) & 0xF);
  return value;
}

std::uint32_t dflbmp(Ws ws) {
  const std::uint32_t n = bcd_add(rd32(ws, hdr::EditLine), rd32(ws, hdr::EditIncrement));
  wr32(ws, hdr::EditLine, n);
  return n;
}

std::uint32_t lbrki2(std::uint32_t n, Ws ws) {
  std::uint32_t increment = bcd::One;
  for (int shift = 0; shift < 16; shift += 4) {
    if ((n >> shift) & 0xF) {
      increment = 1u << shift;
      break;
    }
  }
  wr32(ws, hdr::EditLine, n);
  wr32(ws, hdr::EditIncrement, increment);
  return n;
}

int dfnfmc(std::uint32_t number, Ws ws) {
  std::string text;
  bool leading = true;
  for (int shift = 28; shift >= 16; shift -= 4) {
    const std::uint32_t d = (number >> shift) & 0xF;
    if (d == 0 && leading && shift > 16) continue;
    leading = false;
    text.push_back(static_cast<char>(kDigitZero + d));
  }
  if (std::uint32_t decimals = number & 0xFFFF) {
    text.push_back(static_cast<char>(kPoint));
    for (; decimals; decimals = (decimals << 4) & 0xFFFF)
      text.push_back(static_cast<char>(kDigitZero + (decimals >> 12)));
  }
  text.push_back(static_cast<char>(kRightBracket));
  while (text.size() < 4) text.push_back(static_cast<char>(kBlank));
  cdisp(kLeftBracket, ws);
  ldprt(text, ws);
  return kBlank;
}

int dfnfmt(Ws ws) { return dfnfmc(rd32(ws, hdr::EditLine), ws); }

void prompt_line(Ws ws) { cdisp(dfnfmt(ws), ws); }

bool findl(std::uint32_t* line, std::uint32_t n, Ws ws) {
  if (n == 0) {
    *line = definition_header(ws);
    return true;
  }
  const std::uint32_t at = position_of(n, ws).second;
  *line = at && number_of(at, ws) == n ? at : 0;
  return *line != 0;
}

void renumber_lines(Ws ws) {
  wr32(ws, hdr::EditLine, bcd::One);
  wr32(ws, hdr::EditIncrement, bcd::One);
  for (std::uint32_t line = rd32(ws, definition_header(ws) + fnl::Next); line; line = rd32(ws, line + fnl::Next)) {
    wr32(ws, line + fnl::Number, rd32(ws, hdr::EditLine));
    dflbmp(ws);
  }
}

void file_line(Ws ws) {
  const std::uint32_t line = rd32(ws, hdr::KillSlot);
  const std::uint32_t n = rd32(ws, hdr::EditLine);
  wr32(ws, hdr::KillSlot, 0);
  wr32(ws, line + fnl::Number, n);
  auto [prev, at] = position_of(n, ws);
  if (at && number_of(at, ws) == n) {
    // The new line replaces the old, keeping its stop and trace settings.
    wr8(ws, line + fnl::Marks, rd8(ws, at + fnl::Marks));
    link_after(prev, line, ws);
    link_after(line, rd32(ws, at + fnl::Next), ws);
    wr32(ws, at + fnl::Next, 0);
    mgarb(at, ws);
  } else {
    link_after(prev, line, ws);
    link_after(line, at, ws);
  }
  dflbmp(ws);
}

// ---- listing --------------------------------------------------------------------

void lbrnqs(std::uint32_t header, Ws ws) {
  sixsp(ws);
  cdisp((rd8(ws, header + fnl::Marks) & fnmark::Locked) ? ich::LockedDel : ich::Del, ws);
}

void lbrsub(std::uint32_t number, std::uint32_t line, Ws ws) {
  const int blank = dfnfmc(number, ws);
  if (rd16(ws, line + fnl::Label) == 0 && !comment_alone(line, ws)) cdisp(blank, ws);
  ldis(line, ws);
}

void list_function(std::uint32_t from, Ws ws) {
  const std::uint32_t header = definition_header(ws);
  if (from == 0) {
    lbrnqs(header, ws);
    ldis(header, ws);
  }
  for (std::uint32_t line = rd32(ws, header + fnl::Next); line; line = rd32(ws, line + fnl::Next))
    if (number_of(line, ws) >= from) lbrsub(number_of(line, ws), line, ws);
  lbrnqs(header, ws);
  print_timestamp(header, ws);
  cdisp(kCarriageReturn, ws);
}

// ---- the bracket editor ----------------------------------------------------------

int lbrksv(const std::uint8_t** text, std::uint32_t* remaining, Ws ws) {
  const std::uint8_t* p = *text;
  const std::uint8_t* const end = p + *remaining;
  auto fail = [&](const std::uint8_t* at) { entry::dfn1er(at, 0, ws); };
  auto skip_blanks = [&] {
    while (p < end && is_blank(*p)) ++p;
  };
  // A line number: digits, at most four before the point, and decimals of
  // which the first four count; blanks after it; the text goes on.
  auto read_number = [&]() -> std::uint32_t {
    if (p == end || (!cmpdig(*p) && *p != kPoint)) fail(p);
    std::uint32_t whole = 0, decimals = 0;
    int whole_digits = 0, decimal_digits = 0;
    bool point = false;
    for (;; ++p) {
      if (p == end) fail(p);
      if (cmpdig(*p)) {
        const std::uint32_t d = *p - kDigitZero;
        if (!point) {
          if (whole_digits == 4) fail(p);
          whole = (whole << 4) | d;
          ++whole_digits;
        } else if (decimal_digits++ < 4) {
          decimals |= d << (12 - 4 * (decimal_digits - 1));
        }
      } else if (*p == kPoint) {
        if (point) fail(p);
        point = true;
      } else {
        break;
      }
    }
    skip_blanks();
    if (p == end) fail(p);
    return (whole << 16) | decimals;
  };
  auto optional_second = [&](std::uint8_t& flags, std::uint32_t& m) {
    skip_blanks();
    if (p < end && *p != kRightBracket) {
      m = read_number();
      flags |= group::Second;
    }
  };

  std::uint8_t flags = 0;
  std::uint32_t n = 0, m = 0;
  bool closing = false;
  for (;;) {
    ++p;  // the "["
    flags = 0;
    n = m = 0;
    skip_blanks();
    if (p == end) fail(p);
    if (*p == kQuad) {
      ++p;
      flags |= group::Quad;
      wr32(ws, hdr::EditLine, last_line_number(ws));
      dflbmp(ws);
      optional_second(flags, m);
    } else if (*p == kDelta) {
      ++p;
      flags |= group::Delete | group::Second;
      n = read_number();
      lbrki2(n, ws);
      dflbmp(ws);
    } else {
      n = read_number();
      flags |= group::Number;
      lbrki2(n, ws);
      if (*p == kQuad) {
        ++p;
        flags |= group::Quad;
        optional_second(flags, m);
      }
    }
    if (p == end || *p != kRightBracket) fail(p);
    if (flags & group::Delete) {
      if (n == 0) fail(p);
      delete_line(n, ws);
    }
    ++p;
    skip_blanks();
    if (p == end) break;
    if (*p == kLeftBracket) continue;
    if (*p == kRightParen) {
      *text = p;
      *remaining = static_cast<std::uint32_t>(end - p);
      return 8;
    }
    if (*p == ich::Del || *p == ich::LockedDel) {
      const bool locked = *p == ich::LockedDel;
      ++p;
      skip_blanks();
      if (p != end) fail(p);
      wr16(ws, hdr::LexState, rd16(ws, hdr::LexState) | lexst::Closed | (locked ? lexst::Locked : 0));
      closing = true;
      break;
    }
    if (flags & (group::Quad | group::Delete)) fail(p);
    *text = p;
    *remaining = static_cast<std::uint32_t>(end - p);
    return 5;
  }
  *text = end;
  *remaining = 0;

  if ((flags & group::Quad) && !(flags & group::Delete)) {
    if (rd16(ws, hdr::LexState) & lexst::Locked) fail(end);
    if (!(flags & group::Number)) {
      list_function((flags & group::Second) ? m : 0, ws);  // [⎕] and [⎕m]
    } else if (!(flags & group::Second)) {
      std::uint32_t line = 0;  // [n⎕]
      if (findl(&line, n, ws)) lbrsub(n, line, ws);
    } else if (!closing) {
      std::uint32_t line = 0;  // [n⎕m]
      if (findl(&line, n, ws) && !state_has(st::ExecuteRunning, ws)) {
        if (m & 0xFFFF) fail(end);
        edit_line(n, line, bcd_integer(m), ws);
        return 7;
      }
    }
  }
  if (closing) return dfnend(ws);
  prompt_line(ws);
  return 6;
}

}  // namespace zema
