// The tokeniser: one line of APL text (internal characters) becomes a token
// line, a heap object that the execution engine reads from right to left
// and that defined functions keep as their lines. Lines that are not for
// execution are routed elsewhere: system commands and ∇ definition lines.
// The token line's byte format is in token_format.h.
#pragma once

#include <cstdint>

#include "interpreter/reader/token_format.h"
#include "interpreter/workspace/workspace.h"

namespace zema {

// One-byte tokens with a meaning of their own.
constexpr std::uint8_t TK_QUAD = 0x99;     // ⎕ alone
constexpr std::uint8_t TK_COLON = 0x7D;    // a colon that is neither a label's nor a keyword's
constexpr std::uint8_t TK_BRACKET = 0x77;  // [
constexpr std::uint8_t TK_BLANK = 0x41;    // a character the engine rejects

// Internal characters the tokeniser treats specially, named by their glyphs
// (Point is the decimal point, Tab the horizontal tab).
namespace ich {
constexpr std::uint8_t Blank = 0x20;
constexpr std::uint8_t Tab = 0x89;
constexpr std::uint8_t RightParen = 0x22;
constexpr std::uint8_t Point = 0x2E;
constexpr std::uint8_t LeftBracket = 0x3B;
constexpr std::uint8_t Colon = 0x3E;
constexpr std::uint8_t HighMinus = 0x40;
constexpr std::uint8_t Underbar = 0x46;
constexpr std::uint8_t Del = 0x47;       // ∇
constexpr std::uint8_t LockedDel = 0x17; // ⍫
constexpr std::uint8_t Quote = 0x4B;
constexpr std::uint8_t Quad = 0x4C;
constexpr std::uint8_t Lamp = 0x1C;      // ⍝
constexpr std::uint8_t Diamond = 0x60;
constexpr std::uint8_t Dollar = 0x7E;
constexpr std::uint8_t DoubleQuote = 0xA0;
constexpr std::uint8_t Zilde = 0xD7;
constexpr std::uint8_t DeltaUnderbar = 0xFB;  // ⍙
constexpr std::uint8_t Caret = 0x29;          // ^
constexpr std::uint8_t LineFeed = 0x0A;
constexpr std::uint8_t Return = 0x0D;
}  // namespace ich

// Character classes.
constexpr bool is_blank(std::uint8_t c) { return c == ich::Blank || c == ich::Tab; }
// A–Z, ∆ and, through the top bit, a–z and ⍙.
constexpr bool cmpalp(std::uint8_t c) { return (c & 0x7F) >= 0x61 && (c & 0x7F) <= 0x7B; }
// A digit 0–9.
constexpr bool cmpdig(std::uint8_t c) { return c >= 0x30 && c <= 0x39; }
// A character that can start a number: a digit, ¯ or the decimal point.
constexpr bool cmpnum(std::uint8_t c) { return cmpdig(c) || c == ich::HighMinus || c == ich::Point; }

// The 7-bit primitive code of internal character `c` (the glyphs
// ≡ ≢ ⍷ ⍸ ⌻ ⍂ ⍤ ⍥ ⌷, internal 0xA7–0xAF, take 0x67–0x6F; others are their
// own code).
constexpr std::uint8_t primitive_code(std::uint8_t c) {
  return (c >= 0xA7 && c <= 0xAF) ? static_cast<std::uint8_t>(c - 0x40) : c;
}
// The one-byte token of internal character `c`: 2 × primitive_code(c) + 1.
constexpr std::uint8_t one_byte_token(std::uint8_t c) {
  return static_cast<std::uint8_t>(2 * primitive_code(c) + 1);
}
// The one-byte token of the glyph given in UTF-8 (its first character).
std::uint8_t glyph_token(const char* glyph);

// Number of control keywords (":If" … ":In"), indexed 0–26.
constexpr int kKeywords = 27;
// The one-byte token 2c + 1 of keyword i (0 <= i < 27), c running through
// 0x30–0x38, 0x61–0x66, 0x70–0x7B; no range check.
std::uint8_t keyword_token(int i);
// Index of the keyword spelt by the `n` characters at `letters` (without
// the colon; letters compared without case), -1 when none is.
int keyword_index(const std::uint8_t* letters, std::uint32_t n);

// The system functions are numbered by their rows in
// interpreter/reader/system_functions.def, which the dispatcher reads too;
// the number of rows.
constexpr int kSystemFunctions = 164;
// Bits of a row's flags (the low byte of its sfflags word).
namespace sff {
constexpr std::uint8_t TakesArguments = 0x01; // monadic, dyadic or both (symbol type 9), else niladic (6)
constexpr std::uint8_t RightNested = 0x02;   // the right argument may be nested
constexpr std::uint8_t LeftNested = 0x04;    // the left argument may be nested
constexpr std::uint8_t RightObjects = 0x08;  // the right argument may hold object references
constexpr std::uint8_t LeftObjects = 0x10;   // the left argument may hold object references
}  // namespace sff
// Number of the system function named by the ⎕ name in `name` (12 bytes,
// zero padded, ⎕ first), -1 when none; masks the case as lexcal does.
int system_function_number(const std::uint8_t* name);
// Whether system function n takes arguments (its flags' sff::TakesArguments:
// symbol type 9, else 6).
bool system_function_takes_arguments(int n);

// ---- header words and bits the tokeniser uses -------------------------------

// Lexing state (hdr::LexState), kept across lines while a ∇ header is pending.
namespace lexst {
constexpr std::uint16_t Opened = 0x01;        // an opening ∇ (or ⍫) was read
constexpr std::uint16_t Closed = 0x02;        // a closing ∇ was read
constexpr std::uint16_t Locked = 0x04;        // opened with ⍫
constexpr std::uint16_t HeaderBracket = 0x08; // the header was ended by "["
constexpr std::uint16_t PerLine = 0x02 | 0x08 | 0x80;  // cleared for each new line
}  // namespace lexst

// Bit of header byte 0x1D8: a transfer file is being read or written.
constexpr std::uint8_t kTransferFile = 0x20;
// Header word cleared when a ∇ is read.
constexpr std::uint32_t kDefinitionWord = 0x0EC;

// Token-line statements use the long form while ⍎, ⎕EA or ⎕EC runs, unless
// a definition is being fixed from text.
bool long_form(Ws ws);

// ---- building a token line ----------------------------------------------------

// A line being tokenised: the text still to read and the token line being
// written. Shared with the numeric scanner.
struct LexCursor {
  const std::uint8_t* text = nullptr;  // the next character
  std::uint32_t remaining = 0;         // characters left from `text`
  std::uint32_t line = 0;              // the token line (workspace offset)
  std::uint32_t statement = 0;         // the current statement's length field
  std::uint32_t token = 0;             // where the next token byte goes
  std::uint32_t count = 0;             // token bytes written since the line began
  bool long_form = false;              // statements carry the long length field (see long_form())
  const std::uint8_t* mark = nullptr;  // start of the token being read: an error's caret goes here
};

// Starts a token line at the heap top, owned by the kill slot, with its
// first (empty) statement; sets the token-area limit to the stack pointer
// (rounded down to a word)
// and clears conversion mode. WS FULL when the free gap cannot hold it.
void setup_new_token_line(LexCursor& c, Ws ws);

// Commits n token bytes already written at the token cursor: adds them to
// the statement's length and moves the token cursor and count past them.
// A short-form statement longer than 0xFFFE bytes is a SYSTEM LIMIT entry
// error (with nothing committed).
void lenbmp(LexCursor& c, std::uint32_t n, Ws ws);

// Length of the current statement, read from its length field (which
// counts the field itself).
std::uint32_t statement_length(const LexCursor& c, Ws ws);
// True when the current statement holds no token yet: its length is only
// its head (statement_head: the length field and the opening tag).
bool statement_empty(const LexCursor& c, Ws ws);

// Room for the next token: the token cursor + 50 lies below the token-area
// limit. Writes two zero bytes at the cursor first.
bool ckwsfl(const LexCursor& c, Ws ws);
// The same test for a token cursor `token` and `extra` more bytes, no writes.
bool ckwsf2(std::uint32_t token, std::uint32_t extra, Ws ws);

// Finishes the token line in the kill slot at `token_cursor`: end marker,
// size, heap top past the line, then the name fix-up.
void lexfup(std::uint32_t token_cursor, Ws ws);

// Name fix-up: the long-name objects taken from the top of the free gap
// during a line (between the token-area limit and the stack pointer
// rounded down to a word) slide down to the heap top; the garbage count
// and lowest-released offset stay as they were. The token-area limit
// returns to the rounded stack pointer.
void fxnms(Ws ws);

// ---- the tokeniser ------------------------------------------------------------

// What a line's entry answers to the immediate-execution loop (lexcal, the
// line routes below, tokenise_input_line); the numbers cross those routes.
namespace lr {
constexpr int Nothing = 0;   // nothing to execute: prompt again
constexpr int Ready = 4;     // a token line is ready in the kill slot
constexpr int NoPrompt = 8;  // read the next line without a prompt
constexpr int Refused = 12;  // an entry error or a refused command, already reported
}  // namespace lr

// Tokenises one line of `length` internal characters. Answers 0 when there
// is nothing to execute (empty line, definition line), 4 when the token
// line is ready (in the kill slot until the caller takes it), 8 when the
// next input is read without a prompt, otherwise the result of the system
// command or class-definition route. Entry errors (entry_errors.h) report
// themselves, release the line and throw EntryAbandoned.
int lexcal(const std::uint8_t* text, std::uint32_t length, Ws ws);

// Where lexcal sends the lines it does not keep for execution. The system
// commands, function definition and class-definition mode install their
// entries here; an entry left null gives the behaviour noted.
struct LexRoutes {
  // A line whose first non-blank is ")" (text from the ")"). Null: prints
  // INCORRECT COMMAND and answers 12.
  int (*syscmd)(const std::uint8_t* text, std::uint32_t length, Ws ws) = nullptr;
  // A finished line of a ∇ definition, in the kill slot. Null: DEFN ERROR.
  int (*dfnent)(Ws ws) = nullptr;
  // A ∇ header ended by "[", finished and in the kill slot. Null: DEFN ERROR.
  void (*dfnhfx)(Ws ws) = nullptr;
  // The bracket editor for a "[" that opens a line in ∇ mode; advances the
  // text cursor over what it reads. Answers 5 (tokenise the rest), 6 (end,
  // lexcal answers 0), 7 (end, answer 8) or 8 (the rest is a system
  // command). Null: DEFN ERROR.
  int (*lbrksv)(const std::uint8_t** text, std::uint32_t* remaining, Ws ws) = nullptr;
  // A finished line typed while a class definition is open. Null: DEFN ERROR.
  int (*class_line)(Ws ws) = nullptr;
  // Closes a definition fixed from text (st::FixingText) once the fixing
  // code (⎕FX, ⎕TF) has given it every line. Null: the fix is refused.
  int (*dfnend)(Ws ws) = nullptr;
  // Ends an open class definition (a class text fixed by ⎕FX). Null: the
  // fix of a class text is refused.
  void (*class_close)(Ws ws) = nullptr;
};
// The one set of routes: null until the session's start installs them
// (install_command_routes, install_definition_routes); read by lexcal.
LexRoutes& lex_routes();

}  // namespace zema
