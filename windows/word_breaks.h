// The text windows' word rules, on display-font text (the text control's
// characters): where a word ends for the control's word selection, which
// characters delimit a whole word in find, and the word at the caret that the
// help look-up takes. Pure functions over the caller's buffer; any thread.
#pragma once

#include <string>

namespace zema {

// Whether `text[pos]` (of `len` characters) is a word break. Each character
// is taken through fontin; a position outside 0..len−1 is a break. No break:
// digits, high minus, underscore, quad; letters and delta (internal
// 0x61–0x7B) and small letters and delta-underbar (0xE1–0xFB), except that a
// letter directly before a quad is a break (X⎕IO selects X and ⎕IO apart);
// a colon with a letter after it and, before it, a character that is neither
// a letter nor a digit (a control keyword such as :If; the neighbours are
// tested as raw bytes, C locale). Everything else is a break.
// Reads text[pos−1..pos+1] only.
bool IsWordBreak(const char* text, int pos, int len);

// Whether display-font character `c` delimits a word for whole-word find:
// anything but a letter, delta, delta-underbar, digit, underscore or high
// minus (tested after fontin).
bool IsDelimiter(unsigned char c);

// The word at caret offset `pos` of `text` (`len` display-font characters),
// at most `max` − 1 characters of it (the room of the callers' buffers; empty
// when `max` < 2):
// - it runs from the caret forward while IsWordBreak says no break, and
//   backward while it says no break or the character is a full stop after a
//   letter, digit, "]" or ")" (dotted names: a.b; x[1].y gives .y);
// - when nothing before the caret belongs to it, it is the one character
//   before the caret (the first character for caret 0), so a primitive just
//   before the caret is taken by itself;
// - a word starting with a letter is taken with its apostrophes when it is
//   quoted ('caption'), else with a ")" before it when only blanks and tabs
//   stand between the start of the line and that ")" ()LOAD).
// `pos` is clamped to 0..len. Empty text gives "".
std::string GetWordBeforePos(const char* text, int len, int pos, int max);

}  // namespace zema
