#include "windows/word_breaks.h"

#include <cstdint>

#include "host/charset.h"

namespace zema {

namespace {

// Internal codes.
constexpr std::uint8_t kColon = 0x3E;
constexpr std::uint8_t kHighMinus = 0x40;
constexpr std::uint8_t kUnderscore = 0x46;
constexpr std::uint8_t kQuad = 0x4C;
constexpr std::uint8_t kDigit0 = 0x30, kDigit9 = 0x39;

bool internal_digit(std::uint8_t c) { return c >= kDigit0 && c <= kDigit9; }
// Letters A–Z and ∆, a–z and ⍙.
bool internal_letter(std::uint8_t c) { return (c >= 0x61 && c <= 0x7B) || (c >= 0xE1 && c <= 0xFB); }

std::uint8_t internal_at(const char* text, int pos) { return fontin(static_cast<unsigned char>(text[pos])); }

// C-locale classes of a raw byte (display-font Latin letters and digits are
// ASCII).
bool raw_alpha(char c) { return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z'); }
bool raw_alnum(char c) { return raw_alpha(c) || (c >= '0' && c <= '9'); }

}  // namespace

bool IsWordBreak(const char* text, int pos, int len) {
  if (pos < 0 || pos >= len) return true;
  const std::uint8_t c = internal_at(text, pos);
  if (c == kColon) {
    // A control keyword (:If) after a blank, a diamond, a bracket...
    return !(pos + 1 < len && raw_alpha(text[pos + 1]) && pos > 0 && !raw_alnum(text[pos - 1]));
  }
  if (c == kHighMinus || c == kUnderscore || c == kQuad) return false;
  if (c < kDigit0) return true;
  if (internal_digit(c)) return false;
  if (internal_letter(c)) return pos + 1 < len && internal_at(text, pos + 1) == kQuad;
  return true;
}

bool IsDelimiter(unsigned char c) {
  const std::uint8_t i = fontin(c);
  return !(internal_letter(i) || internal_digit(i) || i == kUnderscore || i == kHighMinus);
}

std::string GetWordBeforePos(const char* text, int len, int pos, int max) {
  if (!text || len <= 0) return {};
  if (pos < 0) pos = 0;
  if (pos > len) pos = len;
  int end = pos;  // one past the word's last character
  while (end < len && !IsWordBreak(text, end, len)) ++end;
  int start = pos;
  while (start > 0) {
    const int c = start - 1;
    const bool dotted = text[c] == '.' && c > 0 && (raw_alnum(text[c - 1]) || text[c - 1] == ']' || text[c - 1] == ')');
    if (!dotted && IsWordBreak(text, c, len)) break;
    start = c;
  }
  if (start == pos) {
    // Nothing before the caret: the single character there, so that a
    // primitive just before the caret is looked up alone.
    start = pos > 0 ? pos - 1 : 0;
    end = start + 1;
  } else if (raw_alpha(text[start])) {
    if (start > 0 && end < len && text[start - 1] == '\'' && text[end] == '\'') {
      --start;
      ++end;
    } else if (start > 0 && text[start - 1] == ')') {
      int b = start - 2;
      while (b >= 0 && (text[b] == ' ' || text[b] == '\t')) --b;
      if (b < 0 || text[b] == '\r' || text[b] == '\n') --start;
    }
  }
  if (max < 2) return {};
  const int n = end - start < max - 1 ? end - start : max - 1;
  return std::string(text + start, static_cast<std::size_t>(n));
}

}  // namespace zema
