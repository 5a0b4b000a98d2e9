// Numbers as display text: integers, booleans and floats written into the
// text buffer of the workspace header (count at hdr::TextCount, characters
// from hdr::TextChars), in the internal character set.
//
// After the counted text one blank is always stored and not counted, so a
// scan of the text for a character in 0x20-0x2F stops at "." or at that
// blank.
//
// Floats show with ⎕PP significant digits (15 while a token line is being
// listed, state bit st::ListDigits), rounded so that an exact half goes
// down. Mode 0 chooses the form: whole numbers in the 32-bit range as
// integers, fixed form for decimal exponents ¯4 to digits−1, exponent form
// otherwise, trailing zeros dropped. Any other mode (the display passes
// 0xFF89) asks for exponent form with all digits.
#pragma once

#include <bit>
#include <cstdint>

#include "interpreter/workspace/workspace.h"

namespace zema {

// Internal codes of the characters numbers are written with.
namespace numch {
constexpr std::uint8_t Zero = 0x30;   // 0 (the digits follow it)
constexpr std::uint8_t Point = 0x2E;  // .
constexpr std::uint8_t Minus = 0x40;  // ¯
constexpr std::uint8_t Exp = 0x65;    // E
constexpr std::uint8_t Blank = 0x20;  // the uncounted blank after the text
}  // namespace numch

// The mode that asks for exponent form.
constexpr int kExponentForm = 0xFF89;

// Clears the buffer and writes the integer ("¯" for a negative value).
void fmtint(std::int32_t value, Ws ws);
// Appends "¯" for a negative value and the decimal digits at `cursor` (a
// workspace offset inside the buffer), counting them; answers the cursor
// after the text. −2147483648 included.
std::uint32_t fmtinx(std::int32_t value, std::uint32_t cursor, Ws ws);
// Appends one counted character at `cursor`; answers cursor + 1.
std::uint32_t fmtce(std::uint8_t c, std::uint32_t cursor, Ws ws);

// Clears the buffer and writes 1 when the word's top bit is set, else 0;
// answers the word shifted left by one, so successive calls on a boolean
// word give its elements from the first.
std::uint32_t fmtbin(std::uint32_t word, Ws ws);

// Formats the IEEE double given by its low and high 32-bit words. ±0 shows
// as 0, a subnormal with its own value; infinities and NaNs as the largest
// finite double of their sign. Answers the decimal exponent
// (the power of ten of the leading digit), 0 for zero.
int fmtflt(std::uint32_t low_word, std::uint32_t high_word, int mode, Ws ws);
// The same for a double value.
inline int fmtflt(double d, int mode, Ws ws) {
  auto bits = std::bit_cast<std::uint64_t>(d);
  return fmtflt(static_cast<std::uint32_t>(bits), static_cast<std::uint32_t>(bits >> 32), mode, ws);
}

// Formats an 80-bit extended value (exponent word with the sign in bit 15,
// mantissa high and low words). Answers the decimal exponent, 0 for zero.
int fmtfls(std::uint16_t exp_word, std::uint32_t mant_hi, std::uint32_t mant_lo, int mode, Ws ws);
// The same entry for ⍕ and ⎕FMT.
int fmtfle(std::uint16_t exp_word, std::uint32_t mant_hi, std::uint32_t mant_lo, int mode, Ws ws);

// Unsigned 32-bit division: the quotient replaces the dividend, the
// remainder is answered. A zero divisor is a divide-by-zero trap
// (std::domain_error).
std::uint32_t idiv(std::uint32_t* dividend, std::uint32_t divisor);
// Unsigned 64-by-32-bit division of high:*low: the low 32 bits of the
// quotient replace *low, the remainder is answered. A zero divisor is a
// divide-by-zero trap (std::domain_error).
std::uint32_t idiv_skip(std::uint32_t* low, std::uint32_t high, std::uint32_t divisor);

}  // namespace zema
