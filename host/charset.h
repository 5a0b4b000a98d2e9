// Character sets of the host: the interpreter's 8-bit internal APL code, the
// 8-bit code of the program's APL screen fonts, and Unicode; plus UTF-8
// conversion for the console driver.
//
// All functions here only read constant tables and are safe on any thread.
// The Unicode-to-internal inverse table is built once, on first use, under
// std::call_once.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace zema {

// Unicode code point of each internal code; 0 marks a code without a
// character (0x00, 0x80, 0xDE, 0xDF, 0xE0, 0xFE).
extern const std::uint16_t unicode_table[256];

// The Windows font pair. The two tables are not exact inverses: internal codes
// without a glyph go to the font blank 0x20, font 0x10-0x1F (except 0x1B) come
// back as 0x00, font LF 0x0A comes back as the internal CR 0x0D, and internal
// 0x0A goes out as font 0x01.
extern const std::uint8_t win_internal_to_font[256];
extern const std::uint8_t win_font_to_internal[256];

// The current font pair, chosen once at start-up before any task thread runs;
// the Windows pair until then.
extern const std::uint8_t* internal_to_font;
extern const std::uint8_t* font_to_internal;

// A font pair by name. The program ships one set of APL screen fonts, drawn
// the same on every system, so the Mac and AIX pairs hold the same tables
// as the Windows pair; each keeps its own record so that the charset
// setting's choice is kept and can be told apart.
struct FontPair {
  const char* name;  // "Windows", "Mac", "AIX"
  const std::uint8_t* to_font;
  const std::uint8_t* to_internal;
};
extern const FontPair windows_font_pair, mac_font_pair, aix_font_pair;

// The pair a charset setting names, by its first character in either case:
// m the Mac pair, w the Windows pair, l or a the AIX pair; null for an
// empty setting or any other letter (the current pair stays).
const FontPair* font_pair_for_charset(std::string_view charset);
// Makes `pair` current (internal_to_font, font_to_internal). Start-up
// calls it once, before any task thread runs.
void use_font_pair(const FontPair& pair);
// The current pair (the Windows pair until use_font_pair).
const FontPair& current_font_pair();

// Internal code of font code c (low 8 bits of c).
std::uint8_t fontin(int c);
// Font code of internal code c (low 8 bits of c).
std::uint8_t fontout(int c);

// Copy at most count-1 characters of the NUL-terminated src into dst, each
// translated, and NUL-terminate dst. count <= 0 writes nothing. Returns dst.
// (_font_to_internal: font to internal codes; _internal_to_font: back.)
char* string_font_to_internal(const char* src, char* dst, int count);
char* string_internal_to_font(const char* src, char* dst, int count);

// Unicode of internal code c (low 8 bits of c); a code without a character
// gives the blank U+0020.
std::uint16_t convert_to_unicode(int c);

// Internal code of code point u. Below U+0100 the lowest internal code with
// that character wins; above, the first table entry that matches, then a small
// list of look-alike substitutes (Greek letters for APL symbols, typographic
// dashes and quotes, ...); anything else is '?' (0x51).
std::uint8_t convert_from_unicode(std::uint32_t u);

// Internal code given to each byte of malformed UTF-8: a code with no
// character, so later stages report it instead of reading a valid symbol.
inline constexpr std::uint8_t invalid_utf8_code = 0xFE;

// True when code point u has an internal code or a look-alike substitute,
// that is when convert_from_unicode(u) does not fall back to '?'.
bool has_internal_code(std::uint32_t u);

// Internal code given to a character outside the set where it would be read
// as APL: the tokeniser takes a code without a character for a blank token,
// which the engine rejects, where '?' would be the primitive roll.
inline constexpr std::uint8_t outside_set_code = invalid_utf8_code;

// Decode UTF-8 and convert every code point with convert_from_unicode. Each
// byte that does not belong to a well-formed sequence (bad lead byte, stray
// continuation, truncated or overlong sequence, surrogate, beyond U+10FFFF)
// becomes invalid_utf8_code. Line ends are passed through unchanged.
std::string utf8_to_internal(std::string_view utf8);

// Decode one typed input line (APL text) as utf8_to_internal does, except
// that a character outside the set becomes outside_set_code unless it lies
// inside a quoted literal or a comment, where it is data and becomes '?'.
// A literal opened by ' or " ends at the same quote; ⍝ outside a literal
// starts the comment, which runs to the end of the line.
std::string utf8_line_to_internal(std::string_view utf8);

// Encode each internal code's Unicode (convert_to_unicode) as UTF-8.
std::string internal_to_utf8(std::string_view internal);

}  // namespace zema
