// Line display: every character the interpreter writes goes through
// `cdisp`, which counts columns and lines, folds long lines at ⎕PW (a
// carriage return and a six-blank continuation indent) and routes the
// character to the session, the session log, or a capture area in the
// workspace.
//
// Text units (a name, a number) are assembled in the header's text buffer
// (count at hdr::TextCount, characters from hdr::TextChars) and printed as
// a unit by `ldism`, which breaks the line before the unit rather than
// inside it.
//
// Routing:
//  - state bit st::Capturing: characters are stored at the capture address
//    (hdr::CaptureAddress); a carriage return only counts a line and resets
//    the column.
//  - otherwise the bits of header byte hdr::OutputBits (namespace outbits)
//    choose between the log, the capture store and the session.
#pragma once

#include <cstdint>
#include <string_view>

#include "interpreter/workspace/workspace.h"

namespace zema {

// Bits of header byte hdr::OutputBits.
namespace outbits {
constexpr std::uint8_t LogOnly = 0x80;       // everything goes to the session log only
constexpr std::uint8_t OneLine = 0x40;       // only line hdr::CaretLine is shown; others go to the log
constexpr std::uint8_t NoFold = 0x20;        // no folding at ⎕PW
constexpr std::uint8_t Store = 0x04;         // store in the capture area; overflow is quiet
constexpr std::uint8_t Overflowed = 0x02;    // the capture area overflowed
constexpr std::uint8_t DoubleQuotes = 0x01;  // store every quote twice
}  // namespace outbits

// Internal codes the display treats specially.
constexpr std::uint8_t kCarriageReturn = 0x0D;
constexpr std::uint8_t kDroppedChar = 0x01;  // dropped outside capture
constexpr std::uint8_t kBlank = 0x20;        // blank
constexpr std::uint8_t kQuote = 0x4B;        // '

// A capture store that brings the capture address within this many bytes
// of the execution stack (hdr::StackPointer) overflows.
constexpr std::uint32_t kCaptureReserve = 100;

// The six blanks of the continuation indent.
extern const std::uint8_t sixspt[6];

// Outputs one character (low 8 bits of c).
void cdisp(int c, Ws ws);
// The fold: counts a line, sends a carriage return and six blanks.
void cdispo(Ws ws);
// Routes one character by the hdr::OutputBits bits: log, store or session.
void cdispt(int c, Ws ws);
// Stores one character at the capture address, advancing it and the
// column (a quote twice under outbits::DoubleQuotes). On overflow: the
// character is taken back, the column reset, outbits::Overflowed and
// st::CaptureOverflow set; then WS FULL unless st::Copying or
// outbits::Store is set.
void cdisp_store(int c, Ws ws);

// `cdisp` of n characters.
void ldprt(const std::uint8_t* text, int n, Ws ws);
// The same for the internal characters of `text`.
inline void ldprt(std::string_view text, Ws ws) {
  ldprt(reinterpret_cast<const std::uint8_t*>(text.data()), static_cast<int>(text.size()), ws);
}
// Prints a message given as a length byte and its characters; answers the
// address after the length byte.
const std::uint8_t* erprt(const std::uint8_t* message, Ws ws);
// Six blanks.
void sixsp(Ws ws);
// One blank.
void pspace(Ws ws);

// Prints the text buffer as a unit: when not capturing, not interrupted
// (state bits 0x0A80 clear), folding allowed, and the column plus the
// buffer's count reaches ⎕PW, the line is first folded.
void ldism(Ws ws);

// The counted text of the text buffer.
inline std::string_view text_buffer(Ws ws) {
  return {reinterpret_cast<const char*>(ws + hdr::TextChars), static_cast<std::size_t>(rdi16(ws, hdr::TextCount))};
}

// Copies the name of the symbol with the given symbol token into the text
// buffer (count and characters); `cursor` receives the offset just after
// the name. Answers the name's length.
int fmtnam(std::uint32_t token, std::uint32_t* cursor, Ws ws);
// `fmtnam`, then `ldism`.
void ldisn(std::uint32_t token, Ws ws);

// Lists the token line at `line` as APL text, ending with a carriage
// return: control-structure indentation, the label and ":", the statements
// separated by " ⋄ ", blanks only where the text needs them, numbers
// re-formatted from their values with 15 significant digits. Within the
// statement that holds the line cursor (hdr::LineCursor), the column and
// line where the token hdr::TokensTaken places from the statement's right
// end begins are recorded in hdr::CaretColumn and hdr::CaretLine.
void ldis(std::uint32_t line, Ws ws);

}  // namespace zema
