#include "windows/text_search.h"

#include <array>
#include <cstdint>
#include <cstring>
#include <new>

#include "host/charset.h"
#include "host/regex.h"
#include "windows/word_breaks.h"

namespace zema {

namespace {

constexpr std::uint8_t kQuad = 0x4C;  // internal code

// Case folding of the search: C-locale lower case below 0x80, every other
// character itself, so that two characters match without case exactly when
// their folds are equal.
constexpr std::array<std::uint8_t, 256> make_fold() {
  std::array<std::uint8_t, 256> f{};
  for (int c = 0; c < 256; ++c) f[c] = static_cast<std::uint8_t>(c >= 'A' && c <= 'Z' ? c + 32 : c);
  return f;
}
constexpr std::array<std::uint8_t, 256> kFold = make_fold();

struct Literal {
  const unsigned char* text;
  int length;
  const unsigned char* pattern;
  int plen;
  bool case_sensitive, whole_word;

  bool equal_at(int pos) const {
    const unsigned char* t = text + pos;
    if (case_sensitive) return std::memcmp(t, pattern, static_cast<std::size_t>(plen)) == 0;
    for (int i = 0; i < plen; ++i)
      if (kFold[t[i]] != kFold[pattern[i]]) return false;
    return true;
  }

  bool word_at(int pos) const {
    const int after = pos + plen;
    const bool ends = after >= length || IsDelimiter(text[after]) || IsDelimiter(pattern[plen - 1]);
    const bool begins = pos == 0 || IsDelimiter(text[pos - 1]) || fontin(text[pos]) == kQuad;
    return ends && begins;
  }

  bool matches(int pos) const {
    return pos + plen <= length && equal_at(pos) && (!whole_word || word_at(pos));
  }

  // The next position in pos..to holding `c` (memchr), or −1.
  int next_of(unsigned char c, int pos, int to) const {
    if (pos > to) return -1;
    const void* hit = std::memchr(text + pos, c, static_cast<std::size_t>(to - pos + 1));
    return hit ? static_cast<int>(static_cast<const unsigned char*>(hit) - text) : -1;
  }

  // The first match in positions from..to (inclusive), or −1. Candidates
  // are found by their first character with memchr: without case, the
  // nearer of the next upper-case and the next lower-case one.
  int first_in(int from, int to) const {
    if (to > length - plen) to = length - plen;
    const unsigned char c0 = pattern[0];
    const unsigned char lower = kFold[c0];
    const unsigned char upper = lower >= 'a' && lower <= 'z' ? static_cast<unsigned char>(lower - 32) : lower;
    if (case_sensitive || lower == upper) {
      const unsigned char c = case_sensitive ? c0 : lower;
      for (int pos = next_of(c, from, to); pos >= 0; pos = next_of(c, pos + 1, to))
        if (matches(pos)) return pos;
      return -1;
    }
    int next_lower = next_of(lower, from, to), next_upper = next_of(upper, from, to);
    while (next_lower >= 0 || next_upper >= 0) {
      const bool take_lower = next_upper < 0 || (next_lower >= 0 && next_lower < next_upper);
      const int pos = take_lower ? next_lower : next_upper;
      if (matches(pos)) return pos;
      if (take_lower) {
        next_lower = next_of(lower, pos + 1, to);
      } else {
        next_upper = next_of(upper, pos + 1, to);
      }
    }
    return -1;
  }

  // The last match in positions from..to (inclusive, from ≥ to), or −1.
  int last_in(int from, int to) const {
    if (from > length - plen) from = length - plen;
    if (case_sensitive) {
      const unsigned char c0 = pattern[0];
      for (int pos = from; pos >= to;) {
        const void* hit = memrchr(text + to, c0, static_cast<std::size_t>(pos - to + 1));
        if (!hit) return -1;
        pos = static_cast<int>(static_cast<const unsigned char*>(hit) - text);
        if (matches(pos)) return pos;
        --pos;
      }
      return -1;
    }
    const std::uint8_t first = kFold[pattern[0]];
    for (int pos = from; pos >= to; --pos)
      if (kFold[text[pos]] == first && matches(pos)) return pos;
    return -1;
  }
};

// Literal scan from `start` (0 ≤ start < length): down start..end then, with
// wrap, 0..start−1; up start..0 then, with wrap, end..start+1.
int literal_search(const Literal& s, int start, bool up, bool wrap) {
  if (!up) {
    int r = s.first_in(start, s.length - 1);
    if (r < 0 && wrap && start > 0) r = s.first_in(0, start - 1);
    return r;
  }
  int r = s.last_in(start, 0);
  if (r < 0 && wrap && start + 1 < s.length) r = s.last_in(s.length - 1, start + 1);
  return r;
}

// One wrapper search from `offset`: 0 and `*pos` (−1 for none), or the
// wrapper's error code.
int regex_from(RegexSearch* compiled, const char* text, int length, int offset, int* pos, int* len,
               std::string* message) {
  int substrings = 0;
  return regex_search_next(compiled, text, length, offset, pos, len, &substrings, message);
}

// The first (`last` false) or last match starting in from..to (inclusive)
// and, when `before` ≥ 0, ending at or before `before`; matches taken from
// `from`, each next search one after the previous match. −2 on an error.
int regex_scan(RegexSearch* compiled, const char* text, int length, int from, int to, int before, bool last,
               int* match_length, std::string* message) {
  int found = -1, found_length = 0;
  for (int offset = from; offset <= length && offset <= to;) {
    int pos = -1, len = 0;
    if (regex_from(compiled, text, length, offset, &pos, &len, message) != 0) return -2;
    if (pos < 0 || pos > to) break;
    if (before < 0 || pos + len <= before) {
      found = pos;
      found_length = len;
      if (!last) break;
    }
    offset = pos + 1;
  }
  if (found >= 0) {
    *match_length = found_length;
    // The scan went on past the match it keeps: search it again, so that the
    // wrapper's last match (which Replace expands and checks against the
    // selection) is this one.
    if (last) {
      int pos = -1, len = 0;
      if (regex_from(compiled, text, length, found, &pos, &len, message) != 0) return -2;
    }
  }
  return found;
}

int regex_search(RegexSearch* compiled, const char* text, int length, int start, bool up, bool wrap,
                 int* match_length, std::string* message) {
  int len = 0;
  if (!up) {
    int pos = -1;
    if (regex_from(compiled, text, length, start, &pos, &len, message) != 0) return -2;
    if (pos >= 0) {
      *match_length = len;
      return pos;
    }
    if (!wrap || start <= 0) return -1;
    return regex_scan(compiled, text, length, 0, start - 1, start, false, match_length, message);
  }
  int r = regex_scan(compiled, text, length, 0, start, start, true, match_length, message);
  if (r == -1 && wrap) r = regex_scan(compiled, text, length, start, length, -1, true, match_length, message);
  return r;
}

}  // namespace

int SearchFor(const char* text, int length, const char* pattern, int start, const SearchOptions& o,
              RegexSearch* compiled, int* match_length, std::string* message) {
  if (!text || !pattern || !*pattern || length <= 0) return -1;
  // A regular expression going up takes the matches before `start`, so its
  // start may be the end of the text itself.
  const int last_start = o.regex && o.up ? length : length - 1;
  if (start > last_start) {
    if (!o.wrap) return -1;
    start = 0;
  }
  if (start < 0) start = 0;
  int len = 0;
  int r;
  try {
    if (o.regex) {
      r = regex_search(compiled, text, length, start, o.up, o.wrap, &len, message);
    } else {
      const Literal s{reinterpret_cast<const unsigned char*>(text), length,
                      reinterpret_cast<const unsigned char*>(pattern), static_cast<int>(std::strlen(pattern)),
                      o.case_sensitive, o.whole_word};
      r = literal_search(s, start, o.up, o.wrap);
      len = s.plen;
    }
  } catch (const std::bad_alloc&) {
    if (message) *message = "Cannot complete search operation - out of memory";
    return -2;
  }
  if (r >= 0 && match_length) *match_length = len;
  return r;
}

bool TextEqualsPattern(const char* text, int length, const char* pattern, bool case_sensitive) {
  if (!text || !pattern || length < 0 || std::strlen(pattern) != static_cast<std::size_t>(length)) return false;
  const Literal s{reinterpret_cast<const unsigned char*>(text), length,
                  reinterpret_cast<const unsigned char*>(pattern), length, case_sensitive, false};
  return length == 0 || s.equal_at(0);
}

namespace {

// Where an upward search from the caret at `caret` starts. A literal search
// from the start of the text begins at the other end (its last character)
// with wrap and finds nothing without it: from offset 0 it would take the
// match at the caret again, and report it as wrapped even with Stop.
int UpStart(int caret, int text_length, bool wrap, bool regex) {
  if (regex) return caret;
  if (caret > 0) return caret - 1;
  return wrap ? text_length - 1 : text_length;
}

}  // namespace

SearchStart FindStartFor(int sel_start, int sel_length, int text_length, bool up, bool wrap, bool regex) {
  if (sel_start < 0) sel_start = 0;
  if (up) return {UpStart(sel_start, text_length, wrap, regex), sel_start};
  const int end = sel_start + sel_length;
  return {end >= text_length && wrap ? 0 : end, end};
}

SearchStart ReplaceNextStartFor(int start, int step, int text_length, bool up, bool wrap, bool regex) {
  if (start < 0) start = 0;
  if (up) return {UpStart(start, text_length, wrap, regex), start};
  const int next = start + step;
  return {next >= text_length && wrap ? 0 : next, next};
}

SearchStatus FindStatusFor(int match, int origin, bool up) {
  if (match < 0) return {"Search string not found", true};
  const bool wrapped = up ? match >= origin : match < origin;
  return wrapped ? SearchStatus{"Wrapped", true} : SearchStatus{"Did not wrap", false};
}

ReplaceAllStart ReplaceAllStartFor(int sel_start, int sel_length, bool up, bool wrap, bool regex) {
  if (wrap) return {0, false};
  if (up) return {regex ? sel_start : sel_start - 1, true};
  return {sel_start + sel_length, false};
}

int ReplaceAllNextStart(int match, int match_length, int replacement_length, int text_length, bool up, bool regex) {
  if (up) {
    const int next = regex ? (match_length > 0 ? match : match - 1) : match - (match_length > 0 ? match_length : 1);
    return next < 0 ? -1 : next;
  }
  const int next = match + replacement_length + (match_length == 0 ? 1 : 0);
  return next >= text_length ? -1 : next;
}

std::string ReplacedCountText(int count) {
  return count == 1 ? std::string("1 string replaced") : std::to_string(count) + " strings replaced";
}

bool SelectionIsLastMatch(const RegexSearch* search, int sel_start, int sel_length) {
  RegexSpan span;
  return search && regex_extract_substring(search, 0, &span) && span.start == sel_start &&
         span.end == sel_start + sel_length;
}

bool ExpandReplacement(const RegexSearch* search, const char* subject, const char* templ, std::string* out) {
  char buffer[4096];
  if (regex_get_replacement_string(search, subject, templ, buffer, static_cast<int>(sizeof buffer)) != 0) return false;
  out->assign(buffer);
  return true;
}

}  // namespace zema
