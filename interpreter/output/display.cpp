#include "interpreter/output/display.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <string>
#include <utility>
#include <vector>

#include "host/charset.h"
#include "interpreter/workspace/sysvar_slots.h"
#include "interpreter/output/numfmt.h"
#include "interpreter/reader/entry_errors.h"
#include "interpreter/reader/tokeniser.h"
#include "interpreter/workspace/entry.h"
#include "interpreter/workspace/errors.h"
#include "interpreter/workspace/support.h"
#include "interpreter/workspace/symtab.h"

namespace zema {

const std::uint8_t sixspt[6] = {kBlank, kBlank, kBlank, kBlank, kBlank, kBlank};

namespace {

// State bits under which a unit is printed without a fold first: capture,
// capture overflow, attention.
constexpr std::uint16_t kNoUnitFold = st::Capturing | st::CaptureOverflow | st::AttentionSeen;

std::uint8_t out_bits(Ws ws) { return rd8(ws, hdr::OutputBits); }
std::int32_t column(Ws ws) { return rdi16(ws, hdr::OutColumn); }
void set_column(std::int32_t c, Ws ws) { wr16(ws, hdr::OutColumn, static_cast<std::uint32_t>(c)); }
void count_line(Ws ws) { wr16(ws, hdr::OutLineCount, rd16(ws, hdr::OutLineCount) + 1u); }
std::int32_t print_width(Ws ws) { return rdi32(ws, sysvar_value_word(sysvar::PW)); }

// One byte into the capture area, with the overflow check.
void store_byte(std::uint8_t c, Ws ws) {
  std::int32_t addr = rdi32(ws, hdr::CaptureAddress);
  wr8(ws, addr, c);
  ++addr;
  wr32(ws, hdr::CaptureAddress, static_cast<std::uint32_t>(addr));
  set_column(c == kCarriageReturn ? 0 : column(ws) + 1, ws);

  std::int64_t room = static_cast<std::int64_t>(rd32(ws, hdr::StackPointer)) - addr;
  if (room > kCaptureReserve) return;
  set_column(0, ws);
  wr8(ws, hdr::OutputBits, out_bits(ws) | outbits::Overflowed);
  set_state(st::CaptureOverflow, 0, ws);
  wr32(ws, hdr::CaptureAddress, static_cast<std::uint32_t>(addr - 1));
  if (state_has(st::Copying, ws) || (out_bits(ws) & outbits::Store)) return;
  set_state(0, st::CaptureOverflow | st::Capturing, ws);
  ws_full(ws);
}

}  // namespace

void cdisp_store(int c, Ws ws) {
  auto ch = static_cast<std::uint8_t>(c);
  store_byte(ch, ws);
  if (ch == kQuote && (out_bits(ws) & outbits::DoubleQuotes)) store_byte(ch, ws);
}

void cdispt(int c, Ws ws) {
  c &= 0xFF;
  std::uint8_t bits = out_bits(ws);
  bool to_log = (bits & outbits::LogOnly) ||
                ((bits & outbits::OneLine) && rd16(ws, hdr::OutLineCount) != rd16(ws, hdr::CaretLine));
  if (to_log) {
    sup_logch(c, ws);
  } else if (bits & outbits::Store) {
    cdisp_store(c, ws);
  } else {
    // The session's character sink does not keep the column: keep it here.
    sup_snd1c(c, ws);
    set_column(c == kCarriageReturn ? 0 : column(ws) + 1, ws);
  }
}

void cdispo(Ws ws) {
  count_line(ws);
  cdispt(kCarriageReturn, ws);
  set_column(0, ws);
  for (std::uint8_t b : sixspt) cdispt(b, ws);
}

void cdisp(int c, Ws ws) {
  c &= 0xFF;
  if (state_has(st::Capturing, ws)) {
    if (c == kCarriageReturn) {
      set_column(0, ws);
      count_line(ws);
    } else {
      cdisp_store(c, ws);
    }
    return;
  }
  if (c == kDroppedChar) return;
  if (c == kCarriageReturn) {
    set_column(0, ws);
    count_line(ws);
  }
  if (!(out_bits(ws) & outbits::NoFold) && column(ws) >= print_width(ws)) cdispo(ws);
  cdispt(c, ws);
}

void ldprt(const std::uint8_t* text, int n, Ws ws) {
  for (int i = 0; i < n; ++i) cdisp(text[i], ws);
}

const std::uint8_t* erprt(const std::uint8_t* message, Ws ws) {
  ldprt(message + 1, message[0], ws);
  return message + 1;
}

void sixsp(Ws ws) { ldprt(sixspt, 6, ws); }

void pspace(Ws ws) { cdisp(kBlank, ws); }

namespace {
// Folds the line when the text buffer would reach ⎕PW from the column.
void fold_before_unit(Ws ws) {
  std::int32_t count = rdi16(ws, hdr::TextCount);
  if (!state_has(kNoUnitFold, ws) && !(out_bits(ws) & outbits::NoFold) && column(ws) + count >= print_width(ws))
    cdispo(ws);
}
}  // namespace

void ldism(Ws ws) {
  fold_before_unit(ws);
  ldprt(ws + hdr::TextChars, rdi16(ws, hdr::TextCount), ws);
}

int fmtnam(std::uint32_t token, std::uint32_t* cursor, Ws ws) {
  std::uint32_t entry = entry_of_token(token);
  int length = rd8(ws, entry + sym::Length);
  std::uint32_t name = rd32(ws, entry + sym::Name);
  std::uint32_t out = hdr::TextChars;
  if (length <= 3) {
    // Packed: the characters in bytes 2, 1, 0 of the name word.
    for (int i = 0; i < length; ++i) wr8(ws, out++, name >> (16 - 8 * i));
  } else {
    for (int i = 0; i < length; ++i) wr8(ws, out++, rd8(ws, name + 8 + i));
  }
  wr16(ws, hdr::TextCount, static_cast<std::uint32_t>(length));
  *cursor = out;
  return length;
}

void ldisn(std::uint32_t token, Ws ws) {
  std::uint32_t cursor;
  fmtnam(token, &cursor, ws);
  ldism(ws);
}

// ---- listing token lines ---------------------------------------------------

namespace {

constexpr std::uint8_t kDiamond = 0x60;
constexpr std::uint8_t kLamp = 0x1C;        // ⍝
constexpr std::uint8_t kColon = 0x3E;
constexpr std::uint8_t kDoubleQuote = 0xA0;
constexpr std::uint8_t kZilde = 0xD7;
constexpr std::uint8_t kQuadToken = 0x99;   // ⎕ alone
constexpr std::uint8_t kHeaderLine = 0x04;  // bit of the line's marks byte

// Control keywords in their table spelling, by keyword index.
constexpr std::array<const char*, kKeywords> kKeywordSpelling = {
    ":If",       ":For",      ":While",     ":Repeat",   ":Select", ":Try",   ":CatchIf",
    ":CatchAll", ":EndTry",   ":Else",      ":ElseIf",   ":AndIf",  ":OrIf",  ":Case",
    ":CaseList", ":End",      ":EndIf",     ":EndFor",   ":EndWhile", ":EndRepeat", ":EndSelect",
    ":Until",    ":Leave",    ":Continue",  ":GoTo",     ":Return", ":In"};

const std::string& keyword_text(int i) {
  static const std::array<std::string, kKeywords> table = [] {
    std::array<std::string, kKeywords> t;
    for (int k = 0; k < kKeywords; ++k) t[k] = utf8_to_internal(kKeywordSpelling[k]);
    return t;
  }();
  return table[i];
}

int keyword_of(std::uint8_t token) {
  for (int i = 0; i < kKeywords; ++i)
    if (keyword_token(i) == token) return i;
  return -1;
}

// Literal elements: most significant byte first.
std::uint32_t be32(Ws ws, std::uint32_t off) {
  return (std::uint32_t(ws[off]) << 24) | (std::uint32_t(ws[off + 1]) << 16) | (std::uint32_t(ws[off + 2]) << 8) |
         ws[off + 3];
}

enum class Kind { Start, Name, Literal, Quad, Keyword, Comment, Other };

// The start of the token that ends at `cursor`, which must lie in [first, cursor).
std::uint32_t token_start(std::uint32_t first, std::uint32_t cursor, Ws ws) {
  const std::uint32_t start = skipsl(cursor, ws);
  if (start >= cursor || start < first) ZEMA_SYSTEM_ERROR(ws);
  return start;
}

// How many tokens a statement holds: they are walked right to left.
std::uint32_t token_count(std::uint32_t first, std::uint32_t end, Ws ws) {
  std::uint32_t n = 0;
  for (std::uint32_t cursor = end; cursor > first; cursor = token_start(first, cursor, ws)) ++n;
  return n;
}

// Calls visit(start, end, i, n) for the statement's n tokens left to right
// (i from 0). A token line is walked right to left only, so the tokens go
// in runs of about √n: one walk notes where each run ends, and each run is
// walked again to be visited in order. Host memory stays below 2√n offsets
// (a few hundred kilobytes for the longest possible line), never the whole
// statement.
template <class Visit>
void for_each_token(std::uint32_t first, std::uint32_t end, Ws ws, Visit visit) {
  const std::uint32_t n = token_count(first, end, ws);
  if (n == 0) return;
  std::uint32_t run = 1;
  while (std::uint64_t(run) * run < n) ++run;
  const std::uint32_t runs = (n + run - 1) / run;
  std::vector<std::uint32_t> run_end(runs), starts(run);
  run_end[runs - 1] = end;
  std::uint32_t cursor = end;
  for (std::uint32_t i = n; i-- > 0;) {
    cursor = token_start(first, cursor, ws);
    if (i % run == 0 && i != 0) run_end[i / run - 1] = cursor;
  }
  for (std::uint32_t r = 0; r < runs; ++r) {
    const std::uint32_t from = r * run, count = std::min(run, n - from);
    cursor = run_end[r];
    for (std::uint32_t k = count; k-- > 0;) starts[k] = cursor = token_start(first, cursor, ws);
    for (std::uint32_t k = 0; k < count; ++k) visit(starts[k], k + 1 < count ? starts[k + 1] : run_end[r], from + k, n);
  }
}

class Lister {
 public:
  explicit Lister(Ws ws) : ws_(ws) {}

  void list(std::uint32_t line) {
    if (!(rd8(ws_, line + tl::Marks) & kHeaderLine)) indent(line);
    if (std::uint32_t label = rd16(ws_, line + tl::Label)) {
      name(label);
      put(kColon);
    }
    const std::uint32_t cursor = rd32(ws_, hdr::LineCursor) & 0x7FFFFFFFu;
    bool first = true;
    for (std::uint32_t off = line + tl::Body;;) {
      const std::uint32_t length = get_statement_length(ws_, off);
      if (length == 0) break;
      const std::uint32_t head = get_statement_head(ws_, off);
      const std::uint32_t end = off + length;
      if (!first) {
        put(kBlank);
        put(kDiamond);
        put(kBlank);
      }
      first = false;
      bool current = cursor >= off - line && cursor < end - line;
      statement(off + head, end, current);
      off = end;
    }
    cdisp(kCarriageReturn, ws_);
  }

 private:
  Ws ws_;
  Kind prev_ = Kind::Start;
  bool record_ = false;  // the next character begins the executing token

  // Two blanks per control-structure level, except for a line that is a
  // comment alone.
  void indent(std::uint32_t line) {
    std::uint32_t depth = rd16(ws_, line + tl::CsDepth);
    if (depth == 0) return;
    if (rd16(ws_, line + tl::Label) == 0) {
      const std::uint32_t off = line + tl::Body;
      if (const std::uint32_t length = get_statement_length(ws_, off)) {
        const std::uint32_t first = off + get_statement_head(ws_, off), end = off + length;
        if (token_count(first, end, ws_) == 1 && rd8(ws_, end - 1) == TT_COMMENT) return;
      }
    }
    for (std::uint32_t i = 0; i < 2 * depth; ++i) cdisp(kBlank, ws_);
  }

  // Records where the next character will appear, counting the fold it
  // may cause.
  void mark() {
    if (!record_) return;
    record_ = false;
    std::int32_t col = column(ws_);
    std::uint32_t line = rd16(ws_, hdr::OutLineCount);
    if (!state_has(st::Capturing, ws_) && !(out_bits(ws_) & outbits::NoFold) && col >= print_width(ws_)) {
      col = 6;
      ++line;
    }
    wr16(ws_, hdr::CaretColumn, static_cast<std::uint32_t>(col));
    wr16(ws_, hdr::CaretLine, line);
  }
  void put(std::uint8_t c) {
    mark();
    cdisp(c, ws_);
  }
  void unit() {
    fold_before_unit(ws_);
    mark();
    ldprt(ws_ + hdr::TextChars, rdi16(ws_, hdr::TextCount), ws_);
  }
  void name(std::uint32_t token) {
    std::uint32_t cursor;
    fmtnam(token, &cursor, ws_);
    unit();
  }

  void statement(std::uint32_t first, std::uint32_t end, bool current) {
    const std::uint32_t taken = rd32(ws_, hdr::TokensTaken);
    prev_ = Kind::Start;
    for_each_token(first, end, ws_, [&](std::uint32_t start, std::uint32_t stop, std::uint32_t i, std::uint32_t n) {
      record_ = current && n - i == taken;
      token(start, stop, i == 0);
    });
    record_ = false;
  }

  // The blank a token of kind k needs after the previous one.
  void separate(Kind k) {
    bool blank = false;
    switch (k) {
      case Kind::Name:
      case Kind::Literal:
        blank = prev_ == Kind::Name || prev_ == Kind::Literal || prev_ == Kind::Quad || prev_ == Kind::Keyword;
        break;
      case Kind::Keyword: blank = prev_ != Kind::Start; break;
      case Kind::Comment: blank = false; break;
      default: blank = prev_ == Kind::Keyword; break;
    }
    if (blank) cdisp(kBlank, ws_);
    prev_ = k;
  }

  void token(std::uint32_t start, std::uint32_t end, bool opening) {
    const std::uint8_t tag = rd8(ws_, end - 1);
    if ((tag & 1) == 0) {
      separate(Kind::Name);
      name((std::uint32_t(rd8(ws_, start)) << 8) | rd8(ws_, start + 1));
      return;
    }
    switch (tag) {
      case TT_COMMENT: comment(start, end, opening); return;
      case TT_BOOL:
      case TT_INT:
      case TT_FLOAT: separate(Kind::Literal); numbers(tag, start, end); return;
      case TT_CHARS: separate(Kind::Literal); characters(kQuote, start, end); return;
      case TT_DQ_CHARS: separate(Kind::Literal); characters(kDoubleQuote, start, end); return;
      default: break;
    }
    if (int k = keyword_of(tag); k >= 0) {
      separate(Kind::Keyword);
      const std::string& text = keyword_text(k);
      wr16(ws_, hdr::TextCount, static_cast<std::uint32_t>(text.size()));
      std::memcpy(ws_ + hdr::TextChars, text.data(), text.size());
      unit();
      return;
    }
    separate(tag == kQuadToken ? Kind::Quad : Kind::Other);
    std::uint8_t c = static_cast<std::uint8_t>((tag - 1) / 2);
    if (c >= 0x67 && c <= 0x6F)
      c = static_cast<std::uint8_t>(c + 0x40);
    else if (tag == TT_ZILDE)
      c = kZilde;
    put(c);
  }

  std::uint32_t count_of(std::uint32_t end) {
    std::uint32_t cursor = end - 1;
    return get_count(ws_, cursor);
  }

  void characters(std::uint8_t quote, std::uint32_t start, std::uint32_t end) {
    std::uint32_t n = count_of(end);
    put(quote);
    for (std::uint32_t i = 0; i < n; ++i) {
      std::uint8_t c = rd8(ws_, start + i);
      put(c);
      if (c == quote) put(c);
    }
    put(quote);
  }

  // Each number with its separating blank (the last without) as a unit.
  void numbers(std::uint8_t tag, std::uint32_t start, std::uint32_t end) {
    std::uint32_t n = count_of(end);
    for (std::uint32_t i = 0; i < n; ++i) {
      if (tag == TT_INT) {
        fmtint(static_cast<std::int32_t>(be32(ws_, start + 4 * i)), ws_);
      } else if (tag == TT_FLOAT) {
        fmtflt(be32(ws_, start + 8 * i + 4), be32(ws_, start + 8 * i), 0, ws_);
      } else {
        fmtbin(be32(ws_, start + 4 * (i / 32)) << (i % 32), ws_);
      }
      if (i + 1 < n) fmtce(kBlank, hdr::TextChars + static_cast<std::uint32_t>(rdi16(ws_, hdr::TextCount)), ws_);
      unit();
    }
  }

  // The recorded blanks before ⍝ (or one blank when none were recorded),
  // then ⍝ and the text. A comment that opens a statement shows its blanks
  // only while capturing.
  void comment(std::uint32_t start, std::uint32_t end, bool opening) {
    separate(Kind::Comment);
    std::uint32_t n = count_of(end);
    std::uint32_t blanks = (std::uint32_t(rd8(ws_, start + 1)) << 8) | rd8(ws_, start + 2);
    if (blanks != 0 && (!opening || state_has(st::Capturing, ws_))) {
      for (std::uint32_t i = 0; i < blanks; ++i) cdisp(kBlank, ws_);
    } else if (blanks == 0 && !opening) {
      cdisp(kBlank, ws_);
    }
    put(kLamp);
    for (std::uint32_t i = 3; i < n; ++i) cdisp(rd8(ws_, start + i), ws_);
  }
};

}  // namespace

void ldis(std::uint32_t line, Ws ws) {
  struct ListingDigits {
    Ws ws;
    explicit ListingDigits(Ws w) : ws(w) { set_state(st::ListDigits, 0, ws); }
    ~ListingDigits() { set_state(0, st::ListDigits, ws); }
  } digits(ws);
  Lister(ws).list(line);
}

}  // namespace zema
