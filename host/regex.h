// Regular-expression search over PCRE2 (8-bit code units, JIT when the
// library offers it): a compiled pattern and the offsets of its last match.
// Patterns, texts and templates are host (display-font) characters.
// Everything runs on the caller's thread; each RegexSearch belongs to one
// thread at a time. The character tables that PCRE2 compiles with follow the
// APL character set (letters, case, word characters) and are built once per
// process, on the first regex_open_search.
#pragma once

#include <cstdint>
#include <string>

namespace zema {

// Compile flags (the caller's bits).
enum : unsigned {
  regex_caseless = 0x1,
  regex_multiline = 0x10,  // ^ and $ at line ends
  regex_dotall = 0x20,     // . matches a line end
  regex_newline_cr = 0x40,
  regex_newline_lf = 0x80,
  regex_newline_crlf = 0x100,  // none of the three: any of CR, LF, CR LF
};

struct RegexSearch;

// The start and end offsets of one substring of the last match.
struct RegexSpan {
  int start = -1, end = -1;
};

// Compiles the NUL-terminated `pattern` with `flags`. Answers the search, or
// null with `*message` ← "Error in regular expression at position %d: %s"
// (the position counted from 1) or "Out of memory". `message` may be null;
// a null `pattern` is the empty pattern.
RegexSearch* regex_open_search(const char* pattern, unsigned flags, std::string* message);

// Searches `text` (`length` characters) from `offset`. `*position` ← the
// match's start, or −1 when there is none; `*match_length` ← its length;
// `*substrings` ← the substring pairs set (0 when nothing matched). After an
// empty match, the next search from the offset where it ended looks for a
// non-empty match anchored at each offset in turn; from any other offset
// it is an ordinary search. Answers 0, 24 for a null search
// ("Regular expression has not been compiled"), 104 when the match has
// more than 30 substrings, 68 for any other engine error, with `*message`
// set (when not null).
int regex_search_next(RegexSearch* search, const char* text, int length, int offset, int* position,
                      int* match_length, int* substrings, std::string* message);

// Substring `index` of the last match (0 the whole match): true and `*span`
// ← its offsets; false for a null search, or an index negative or not below
// the last match's substring count.
bool regex_extract_substring(const RegexSearch* search, int index, RegexSpan* span);

// Expands `templ` against the last match of `search` in `subject` (the text
// that was searched) into `out` (`room` bytes, NUL-terminated): "\d" (a
// digit) stands for substring d (nothing when it does not exist), "\c" for
// any other character c (a backslash that ends the template for itself).
// Answers 0, 68 without a search, template or output, 4 when the room runs
// out: a substring must leave more than one byte, any other character at
// least one (what was written stays, NUL-terminated).
int regex_get_replacement_string(const RegexSearch* search, const char* subject, const char* templ, char* out,
                                 int room);

// The engine's character tables (1088 bytes: lower-case map, case-flip map,
// ten class bitmaps, type map) for host characters, built from the APL
// classification of each one's internal code on the first call (thread-safe)
// and kept for the process: later changes of the font pair do not show.
const unsigned char* regex_character_tables();

// Frees the search; null is ignored.
void regex_close_search(RegexSearch* search);

// "Regular expression engine error %d" for the engine's error code, with a
// short reason for memory, substring, match-limit, UTF and recursion errors.
std::string regex_get_error_string(int code);

}  // namespace zema
