#include "interpreter/reader/tokeniser.h"

#include <array>
#include <cstring>
#include <string>

#include "host/charset.h"
#include "interpreter/workspace/entry.h"
#include "interpreter/reader/entry_errors.h"
#include "interpreter/workspace/errors.h"
#include "interpreter/workspace/heap.h"
#include "interpreter/reader/numlit.h"
#include "interpreter/workspace/symtab.h"

namespace zema {

std::uint8_t glyph_token(const char* glyph) {
  return one_byte_token(static_cast<std::uint8_t>(utf8_to_internal(glyph)[0]));
}

namespace {

constexpr std::uint32_t kRoom = 50;  // bytes kept free below the token-area limit

// Writes the end marker at the token cursor, so that the line under
// construction is always well formed up to it.
void mark_end(const LexCursor& c, Ws ws) { set_line_end(ws, c.token); }

// ---- keywords ----

constexpr std::array<const char*, kKeywords> kKeywordNames = {
    "IF",     "FOR",   "WHILE",    "REPEAT",   "SELECT", "TRY",      "CATCHIF",   "CATCHALL",  "ENDTRY",
    "ELSE",   "ELSEIF", "ANDIF",   "ORIF",     "CASE",   "CASELIST", "END",       "ENDIF",     "ENDFOR",
    "ENDWHILE", "ENDREPEAT", "ENDSELECT", "UNTIL", "LEAVE", "CONTINUE", "GOTO", "RETURN", "IN"};

// ---- system-function names, by number ----

struct SystemFunctionName {
  const char* name;     // UTF-8
  std::uint8_t flags;   // sff::
};

constexpr SystemFunctionName kSystemFunctionNames[] = {
#define SYSFN(form, name, flags, ...) {name, flags},
#include "interpreter/reader/system_functions.def"
};
static_assert(std::size(kSystemFunctionNames) == kSystemFunctions);

using SfRow = std::array<std::uint8_t, 12>;

const std::array<SfRow, kSystemFunctions>& sftab() {
  static const std::array<SfRow, kSystemFunctions> table = [] {
    std::array<SfRow, kSystemFunctions> t{};
    for (int n = 0; n < kSystemFunctions; ++n) {
      std::string name = utf8_to_internal(kSystemFunctionNames[n].name);
      std::memcpy(t[n].data(), name.data(), name.size() < 12 ? name.size() : 12);
    }
    return t;
  }();
  return table;
}

}  // namespace

std::uint8_t keyword_token(int i) {
  int c = i < 9 ? 0x30 + i : i < 15 ? 0x61 + (i - 9) : 0x70 + (i - 15);
  return static_cast<std::uint8_t>(2 * c + 1);
}

int keyword_index(const std::uint8_t* letters, std::uint32_t n) {
  for (int k = 0; k < kKeywords; ++k) {
    const char* w = kKeywordNames[k];
    if (std::strlen(w) != n) continue;
    std::uint32_t i = 0;
    // Internal capitals are 0x61-0x7A; lower case differs in the top bit.
    while (i < n && (letters[i] & 0x7F) == 0x61 + (w[i] - 'A')) ++i;
    if (i == n) return k;
  }
  return -1;
}

int system_function_number(const std::uint8_t* name) {
  std::uint8_t candidate[12];
  const bool lower_a = name[1] == 0xE1 && name[2] == 0;
  for (int i = 0; i < 12; ++i) candidate[i] = lower_a ? name[i] : static_cast<std::uint8_t>(name[i] & 0x7F);
  const auto& t = sftab();
  for (int n = 0; n < kSystemFunctions; ++n)
    if (std::memcmp(candidate, t[n].data(), 12) == 0) return n;
  return -1;
}

bool system_function_takes_arguments(int n) {
  return kSystemFunctionNames[n].flags & sff::TakesArguments;
}

bool long_form(Ws ws) {
  std::uint16_t s = engine_state(ws);
  return (s & st::ExecuteRunning) && !(s & st::FixingText);
}

LexRoutes& lex_routes() {
  static LexRoutes routes;
  return routes;
}

// ---- building a token line ----------------------------------------------------

bool ckwsf2(std::uint32_t token, std::uint32_t extra, Ws ws) {
  return std::uint64_t(token) + extra + kRoom < rd32(ws, hdr::TokenAreaLimit);
}

bool ckwsfl(const LexCursor& c, Ws ws) {
  mark_end(c, ws);
  return ckwsf2(c.token, 0, ws);
}

std::uint32_t statement_length(const LexCursor& c, Ws ws) { return get_statement_length(ws, c.statement); }

bool statement_empty(const LexCursor& c, Ws ws) { return statement_length(c, ws) == statement_head(c.long_form); }

void lenbmp(LexCursor& c, std::uint32_t n, Ws ws) {
  std::uint32_t length = statement_length(c, ws) + n;
  if (!c.long_form && length > tl::kShortLengthMax) entry::limit(c.mark ? c.mark : c.text, c.token, ws);
  set_statement_length(ws, c.statement, length);
  c.token += n;
  c.count += n;
  mark_end(c, ws);
}

void setup_new_token_line(LexCursor& c, Ws ws) {
  wr8(ws, hdr::ResultBits, rd8(ws, hdr::ResultBits) & ~kConversionMode);
  // Long names are laid out down from the stack pointer rounded down to a
  // word: the stack's 6-byte entries leave it on any even offset.
  const std::uint32_t sp = rd32(ws, hdr::StackPointer) & ~3u;
  wr32(ws, hdr::TokenAreaLimit, sp);
  const std::uint32_t line = rd32(ws, hdr::HeapTop);
  if (!ckwsf2(line, tl::kInitialLong + 8, ws)) entry::wsfull(c.text, 0, ws);

  wr32(ws, line - 4, hdr::KillSlot);
  wr32(ws, hdr::KillSlot, line);
  wr8(ws, line, OK_WORD);
  wr8(ws, line + tl::Marks, kTokenLineMarks);
  wr16(ws, line + tl::CsDepth, 0);
  wr32(ws, line + tl::Next, 0);
  wr32(ws, line + tl::DefWord, 0);
  wr16(ws, line + tl::Label, 0);

  c.long_form = long_form(ws);
  c.line = line;
  c.statement = line + tl::Body;
  c.count = 0;
  wr32(ws, line + tl::Size, c.long_form ? tl::kInitialLong : tl::kInitialShort);
  c.token = c.statement + set_statement_start(ws, c.statement, c.long_form);
  mark_end(c, ws);
}

void lexfup(std::uint32_t token_cursor, Ws ws) {
  const std::uint32_t line = rd32(ws, hdr::KillSlot);
  set_line_end(ws, token_cursor);
  const std::uint32_t size = (token_cursor + 2 - line + 3) & ~3u;
  for (std::uint32_t p = token_cursor + 2; p < line + size; ++p) wr8(ws, p, 0);
  wr32(ws, line + tl::Size, size);
  wr32(ws, hdr::HeapTop, line + size + 4);
  fxnms(ws);
}

void fxnms(Ws ws) {
  const std::uint32_t sp = rd32(ws, hdr::StackPointer) & ~3u;
  const std::uint32_t limit = rd32(ws, hdr::TokenAreaLimit);
  wr32(ws, hdr::TokenAreaLimit, sp);
  if (limit >= sp) return;  // no name objects were made
  // The gap between the heap top and the names becomes one released
  // object, and the heap top goes past the names; compaction from that
  // object then slides the names down. Garbage below it stays as it was.
  const std::uint32_t top = rd32(ws, hdr::HeapTop);
  const std::uint32_t size = limit - top;
  if (limit < top || size < 12 || (size & 3)) ZEMA_SYSTEM_ERROR(ws);
  const std::uint32_t garbage = rd32(ws, hdr::Garbage);
  const std::uint32_t lowest = rd32(ws, hdr::LowestReleased);
  wr32(ws, top - 4, 0);
  wr32(ws, top, kReleased);
  wr32(ws, top + obj::Size, size);
  wr32(ws, hdr::Garbage, size + 4);
  wr32(ws, hdr::LowestReleased, top);
  wr32(ws, hdr::HeapTop, sp + 4);
  force_gcol(ws);
  wr32(ws, hdr::Garbage, garbage);
  wr32(ws, hdr::LowestReleased, lowest);
}

// ---- the tokeniser ------------------------------------------------------------

namespace {

class Lexer {
 public:
  Lexer(const std::uint8_t* text, std::uint32_t length, Ws ws) : ws_(ws) {
    c_.text = text;
    c_.remaining = length;
  }

  int run();

  const LexCursor& cursor() const { return c_; }
  // Whether control is with another subsystem (whose errors are its own).
  bool routed() const { return routed_; }

 private:
  std::uint16_t state() const { return engine_state(ws_); }
  bool fixing() const { return state() & st::FixingText; }
  bool defining() const { return state() & st::Defining; }
  bool class_open() const { return rd32(ws_, hdr::ClassDefining) != 0; }
  std::uint16_t lexing() const { return rd16(ws_, hdr::LexState); }
  std::uint16_t label() const { return rd16(ws_, c_.line + tl::Label); }
  // Nothing on the line yet: no label and an empty first statement.
  bool at_line_start() const { return label() == 0 && c_.count == 0; }

  void advance(std::uint32_t n) {
    c_.text += n;
    c_.remaining -= n;
  }
  void skip_blanks() {
    while (c_.remaining && is_blank(*c_.text)) advance(1);
  }

  [[noreturn]] void ws_full() { entry::wsfull(c_.mark, c_.token, ws_); }
  [[noreturn]] void defn_error() { entry::dfn1er(c_.mark, c_.token, ws_); }

  void emit1(std::uint8_t b) {
    wr8(ws_, c_.token, b);
    lenbmp(c_, 1, ws_);
  }
  void emit_symbol(std::uint32_t token) {
    wr8(ws_, c_.token, token >> 8);
    wr8(ws_, c_.token + 1, token);
    lenbmp(c_, 2, ws_);
  }
  // SYSTEM LIMIT now, before anything is counted, if n more bytes would not fit the statement.
  void reserve(std::uint32_t n) {
    if (!c_.long_form && statement_length(c_, ws_) + n > tl::kShortLengthMax) entry::limit(c_.mark, c_.token, ws_);
  }

  void name(std::uint8_t first);
  void enter_name(std::uint32_t length);
  void quad();
  void quoted(std::uint8_t quote, std::uint8_t tag);
  void colon();
  bool del(std::uint8_t ch);
  void comment();
  bool diamond();
  int bracket();
  int finish();
  int syscmd(const std::uint8_t* text, std::uint32_t length);

  Ws ws_;
  LexCursor c_;
  bool routed_ = false;
  const std::uint8_t* del_at_ = nullptr;  // the line's ∇, for an error at its end
};

int Lexer::run() {
  wr32(ws_, hdr::WorkWord, 0);
  set_line_text_start(c_.text, ws_);
  skip_blanks();
  if (c_.remaining == 0) return lr::Nothing;
  clrkil(ws_);
  gcol_leaving_large(ws_);
  wr16(ws_, hdr::LexState, lexing() & ~lexst::PerLine);
  if (*c_.text == ich::RightParen && !fixing()) return syscmd(c_.text, c_.remaining);

  c_.mark = c_.text;
  setup_new_token_line(c_, ws_);
  for (;;) {
    skip_blanks();
    if (c_.remaining == 0) break;
    c_.mark = c_.text;
    if (!ckwsfl(c_, ws_)) ws_full();
    std::uint8_t ch = *c_.text;

    if (cmpnum(ch)) {
      const std::uint8_t* before = c_.text;
      NumericStatus s = do_numeric_scan(c_, ws_);
      if (s == NUM_END) break;
      if (s == NUM_STRAY || c_.text == before) {
        c_.mark = c_.text;
        if (!ckwsfl(c_, ws_)) ws_full();
        emit1(one_byte_token(*c_.text));
        advance(1);
      }
      continue;
    }
    advance(1);
    if (ch < 7 || ch == 0x08 || ch == ich::LineFeed || ch == ich::Return) continue;
    if (cmpalp(ch) || (ch == ich::Dollar && c_.remaining)) {
      name(ch);
      continue;
    }
    if (ch == ich::DoubleQuote) {
      quoted(ch, TT_DQ_CHARS);
      continue;
    }
    if (ch >= 0x80 && !(ch >= 0xA7 && ch <= 0xAF) && ch != ich::Zilde) ch = ich::Blank;
    switch (ch) {
      case ich::Colon: colon(); break;
      case ich::Del:
      case ich::LockedDel:
        if (del(ch)) return finish();
        break;
      case ich::Lamp:
        comment();
        return finish();
      case ich::LeftBracket: {
        int r = bracket();
        if (r >= 0) return r;
        break;
      }
      case ich::Quad: quad(); break;
      case ich::Quote: quoted(ch, TT_CHARS); break;
      case ich::Diamond:
        if (!diamond()) return finish();
        break;
      case ich::Zilde: emit1(TT_ZILDE); break;
      default: emit1(one_byte_token(ch)); break;
    }
  }
  return finish();
}

// The end of the text: the line is finished and goes to execution or to
// function definition.
int Lexer::finish() {
  lexfup(c_.token, ws_);
  if (defining() || lexing() != 0) {
    auto dfnent = lex_routes().dfnent;
    if (!dfnent) {
      c_.mark = del_at_ ? del_at_ : c_.text;
      defn_error();
    }
    routed_ = true;
    dfnent(ws_);
    return lr::Nothing;
  }
  if (class_open()) {
    auto class_line = lex_routes().class_line;
    if (!class_line) defn_error();
    routed_ = true;
    return class_line(ws_);
  }
  return lr::Ready;
}

int Lexer::syscmd(const std::uint8_t* text, std::uint32_t length) {
  routed_ = true;
  if (auto route = lex_routes().syscmd) return route(text, length, ws_);
  print_message(ertab(E_INCORRECT_COMMAND), ws_);
  return lr::Refused;
}

// Names: name letters, digits, ¯ and _, and $ with any one character after
// it; the first 30 characters are kept.
void Lexer::name(std::uint8_t first) {
  std::uint8_t buf[kMaxNameLength];
  std::uint32_t n = 0;
  auto put = [&](std::uint8_t ch) {
    if (n < kMaxNameLength) buf[n++] = ch;
  };
  put(first);
  if (first == ich::Dollar) {
    put(*c_.text);
    advance(1);
  }
  while (c_.remaining) {
    std::uint8_t ch = *c_.text;
    if (cmpalp(ch) || cmpdig(ch) || ch == ich::HighMinus || ch == ich::Underbar) {
      put(ch);
      advance(1);
    } else if (ch == ich::Dollar && c_.remaining >= 2) {
      put(ch);
      put(c_.text[1]);
      advance(2);
    } else {
      break;
    }
  }
  std::memcpy(ws_ + kNameBuffer, buf, n);
  enter_name(n);
}

// Looks up (or enters) the name in the name buffer, counts the use and
// appends its symbol token. Every check comes before the use is counted.
void Lexer::enter_name(std::uint32_t length) {
  reserve(2);
  std::uint32_t first_free = 0;
  std::uint32_t found = 0;
  if (symfnd(first_free, found, length, ws_) != 0) {
    if (first_free == 0) entry::symtfl(c_.mark, c_.token, ws_);
    if (length > 3 && !ckwsf2(c_.token, name_object_size(length) + 4, ws_)) ws_full();
    found = syment(first_free, length, ws_);
  }
  if (rd16(ws_, entry_of_table_offset(found) + sym::Uses) == kMaxUses) entry::limit(c_.mark, c_.token, ws_);
  const std::int32_t text_offset =
      static_cast<std::int32_t>(rd32(ws_, hdr::LineTextStart) + (c_.mark - line_text_start(ws_)));
  symuse(found, text_offset, static_cast<std::int32_t>(c_.token), ws_);
  emit_symbol(token_of_table_offset(found));
}

// ⎕ names: the sixteen fixed entries, then the system functions; anything
// else is the ⎕ token and the text after it is read again.
void Lexer::quad() {
  if (c_.remaining == 0) {
    emit1(TK_QUAD);
    return;
  }
  std::uint8_t buf[12] = {};
  buf[0] = ich::Quad;
  std::uint32_t k = 1;
  std::uint32_t j = 0;
  bool too_long = false;
  for (; j < c_.remaining && (cmpalp(c_.text[j]) || cmpdig(c_.text[j])); ++j) {
    if (k < 12) buf[k++] = c_.text[j];
    else too_long = true;
  }
  if (!too_long && k <= 3) {
    const std::uint32_t packed = (k << 24) | (std::uint32_t(buf[0] & 0x7F) << 16) |
                                 (std::uint32_t(buf[1] & 0x7F) << 8) | std::uint32_t(buf[2] & 0x7F);
    for (std::uint32_t i = 0; i < kSymtabFixed; ++i) {
      if (rd32(ws_, kSymtabStart + kSymtabEntrySize * i + sym::Name) == packed) {
        advance(j);
        emit_symbol(token_of_table_offset(kSymtabEntrySize * i));
        return;
      }
    }
  }
  // Reading a transfer file, a ⎕ that begins no fixed name is ⍙.
  if ((rd8(ws_, hdr::ResultBits) & kTransferFile) && fixing() && !defining()) {
    name(ich::DeltaUnderbar);
    return;
  }
  if (!too_long) {
    int n = system_function_number(buf);
    if (n >= 0) {
      wr32(ws_, kSysFnNumber, 4 * static_cast<std::uint32_t>(n));
      wr8(ws_, kSysFnType, system_function_takes_arguments(n) ? SYM_SYSFN : SYM_SYSFN0);
      std::memcpy(ws_ + kNameBuffer, buf, k);
      advance(j);
      enter_name(k);
      return;
    }
  }
  emit1(TK_QUAD);
}

// Quoted literals: a doubled quote is one quote; the end of the text closes
// the literal. Room is checked before each character.
void Lexer::quoted(std::uint8_t quote, std::uint8_t tag) {
  const std::uint32_t start = c_.token;
  std::uint32_t n = 0;
  bool full = false;
  while (c_.remaining) {
    if (!ckwsf2(start + n, 0, ws_)) {
      full = true;
      break;
    }
    std::uint8_t ch = *c_.text;
    advance(1);
    if (ch == quote) {
      if (!c_.remaining || *c_.text != quote) break;
      advance(1);
    }
    wr8(ws_, start + n++, ch);
  }
  const std::uint32_t at = set_count_and_tag(ws_, start + n, n, tag);
  lenbmp(c_, at - start, ws_);
  if (full) {
    c_.mark = c_.text;
    ws_full();
  }
}

// A colon: a control keyword, a label, or the token 0x7D.
void Lexer::colon() {
  const bool one_name = c_.count == 2 && (rd8(ws_, c_.token - 1) & 1) == 0;
  if (c_.remaining && !one_name) {
    std::uint32_t n = 0;
    while (n < c_.remaining && n < 11 && cmpalp(c_.text[n])) ++n;
    int k = keyword_index(c_.text, n);
    if (k >= 0) {
      advance(n);
      emit1(keyword_token(k));
      return;
    }
  }
  if (one_name) {
    const std::uint32_t first = c_.statement + statement_head(c_.long_form);
    const std::uint32_t token = (std::uint32_t(rd8(ws_, first)) << 8) | rd8(ws_, first + 1);
    const std::uint8_t type = rd8(ws_, entry_of_token(token) + sym::Type) & kSymTypeMask;
    if (type != SYM_SYSVAR && type != SYM_SYSFN0 && type != SYM_SYSFN && label() == 0) {
      wr16(ws_, c_.line + tl::Label, token);
      set_statement_length(ws_, c_.statement, statement_length(c_, ws_) - 2);
      c_.token -= 2;
      c_.count -= 2;
      mark_end(c_, ws_);
    }
    return;
  }
  emit1(TK_COLON);
}

// ∇ or ⍫. Answers true for a closing ∇ (the line is complete).
bool Lexer::del(std::uint8_t ch) {
  if (fixing() && !class_open()) defn_error();
  del_at_ = c_.mark;
  wr32(ws_, kDefinitionWord, 0);
  std::uint16_t ls = lexing();
  if (ls & lexst::Opened) {
    skip_blanks();
    if (c_.remaining) {
      c_.mark = c_.text;
      defn_error();
    }
    wr16(ws_, hdr::LexState, ls | lexst::Closed);
    return true;
  }
  if (!at_line_start()) defn_error();
  ls |= lexst::Opened;
  if (ch == ich::LockedDel) ls |= lexst::Locked;
  wr16(ws_, hdr::LexState, ls);
  return false;
}

// ⍝: the rest of the line, trailing blanks dropped. The token records the
// blanks directly before ⍝, except for a comment that opens a statement.
void Lexer::comment() {
  std::uint32_t blanks = 0;
  if (fixing() || !statement_empty(c_, ws_)) {
    const std::uint8_t* start = line_text_start(ws_);
    for (const std::uint8_t* p = c_.mark; p > start && p[-1] == ich::Blank && blanks < 0xFFFF; --p) ++blanks;
  }
  std::uint32_t length = c_.remaining;
  while (length && is_blank(c_.text[length - 1])) --length;
  const std::uint32_t count = 3 + length;
  const std::uint32_t trailer = count_trailer_size(count);
  if (!ckwsf2(c_.token, count + trailer, ws_)) ws_full();
  reserve(count + trailer);
  std::uint32_t at = c_.token;
  wr8(ws_, at++, 0);
  wr8(ws_, at++, blanks >> 8);
  wr8(ws_, at++, blanks);
  std::memcpy(ws_ + at, c_.text, length);
  at = set_count_and_tag(ws_, at + length, count, TT_COMMENT);
  lenbmp(c_, at - c_.token, ws_);
  advance(c_.remaining);
}

// ⋄: a new statement, unless the current one is empty or ⋄ or ⍝ follows.
// Answers false when nothing follows (the line ends).
bool Lexer::diamond() {
  skip_blanks();
  if (c_.remaining == 0) return false;
  const std::uint8_t next = *c_.text;
  if (next == ich::Diamond || next == ich::Lamp || statement_empty(c_, ws_)) return true;
  const std::uint32_t s = c_.token;
  const std::uint32_t head = set_statement_start(ws_, s, c_.long_form);
  c_.statement = s;
  c_.token = s + head;
  c_.count += head;
  mark_end(c_, ws_);
  return true;
}

// "[": the bracket editor at the start of a line in ∇ mode, the end of a
// pending ∇ header, or the token 0x77. Answers lexcal's result when the
// line is done, -1 to go on.
int Lexer::bracket() {
  if (defining() && at_line_start()) {
    if (fixing()) defn_error();
    auto lbrksv = lex_routes().lbrksv;
    if (!lbrksv) defn_error();
    // The editor may use the heap: the empty line being built at the heap
    // top is given up, and a fresh one started if tokenising goes on.
    wr32(ws_, hdr::KillSlot, 0);
    c_.text = c_.mark;
    c_.remaining += 1;
    routed_ = true;
    int r = lbrksv(&c_.text, &c_.remaining, ws_);
    routed_ = false;
    switch (r) {
      case 5:
        c_.mark = c_.text;
        setup_new_token_line(c_, ws_);
        return -1;
      case 6: return lr::Nothing;
      case 7: return lr::NoPrompt;
      default: return syscmd(c_.text, c_.remaining);
    }
  }
  if (!defining() && (lexing() & lexst::Opened)) {
    if (fixing() && !class_open()) defn_error();
    lexfup(c_.token, ws_);
    wr16(ws_, hdr::LexState, lexing() | lexst::HeaderBracket);
    auto dfnhfx = lex_routes().dfnhfx;
    if (!dfnhfx) defn_error();
    routed_ = true;
    dfnhfx(ws_);
    routed_ = false;
    setup_new_token_line(c_, ws_);
    if (defining()) {
      // Read the "[" again, now in ∇ mode.
      c_.text = c_.mark;
      c_.remaining += 1;
      return -1;
    }
  }
  emit1(TK_BRACKET);
  return -1;
}

// A token line left unfinished in the kill slot (its tokenising was cut
// short) is closed at its end marker, so that it can be released.
void close_unfinished_line(Ws ws) {
  const std::uint32_t line = rd32(ws, hdr::KillSlot);
  if (line == 0) return;
  const std::uint32_t size = rd32(ws, line + tl::Size);
  if (size != tl::kInitialShort && size != tl::kInitialLong) return;
  std::uint32_t s = line + tl::Body;
  while (const std::uint32_t length = get_statement_length(ws, s)) s += length;
  lexfup(s, ws);
}

}  // namespace

int lexcal(const std::uint8_t* text, std::uint32_t length, Ws ws) {
  Lexer lexer(text, length, ws);
  try {
    return lexer.run();
  } catch (const AplError&) {
    // An error raised below the tokeniser (symbol table, heap) while the
    // line is built is an entry error like its own.
    if (lexer.routed() || rd32(ws, hdr::KillSlot) == 0) throw;
    const LexCursor& c = lexer.cursor();
    const std::uint32_t line = rd32(ws, hdr::KillSlot);
    const std::uint32_t size = rd32(ws, line + tl::Size);
    entry::ercrt(c.mark, (size == tl::kInitialShort || size == tl::kInitialLong) ? c.token : 0, ws);
  } catch (const EntryAbandoned&) {
    throw;
  } catch (...) {
    close_unfinished_line(ws);
    throw;
  }
}

}  // namespace zema
