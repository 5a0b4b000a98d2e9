// The search engine of the text windows' find and replace, without widgets:
// SearchFor over a display-font text, and the small decisions of the Find,
// Replace and Replace All commands (where the next search starts, what the
// status line says), so the dialog only reads its controls and applies
// the answers. Pure functions over the caller's buffers; any thread (a
// RegexSearch belongs to one thread at a time).
#pragma once

#include <string>

namespace zema {

struct RegexSearch;

struct SearchOptions {
  bool up = false;              // search towards the start of the text
  bool case_sensitive = false;  // else characters below 0x80 match in either case
  bool whole_word = false;      // literal search only
  bool wrap = true;             // go on from the other end of the text
  bool regex = false;           // the pattern was compiled into `compiled`
};

// Searches `text` (`length` display-font characters) for `pattern`
// (NUL-terminated) from offset `start`. Answers the match's offset with
// `*match_length` ← its length, −1 when there is none (also for an empty
// pattern or text, and for `start` at or past the end without wrap), or −2
// on an error with `*message` ← its text (to be shown under "ZEMA Error";
// `message` may be null).
// A `start` at or past the end (past it for a regular expression going up)
// becomes 0 with wrap; a negative one becomes 0.
// Literal search examines one position at a time from `start`, down (+1) or
// up (−1), going on at the other end with wrap and stopping when it comes
// back to `start`. Without case sensitivity a text character below 0x80
// matches the pattern character in either case (C locale); from 0x80 on
// (APL symbols) they must be equal. With whole words, a match counts only
// when (the character after it is a delimiter, the text ends there, or the
// pattern's last character is a delimiter) and (it starts the text, the
// character before it is a delimiter, or its first character is a quad:
// ⎕IO is found in X⎕IO), delimiters as IsDelimiter.
// Regular expression (`o.regex`; `compiled` from regex_open_search, its
// last-match state is written): going down, the first match at or after
// `start`, else with wrap and `start` > 0 the first match lying wholly
// before `start`; going up, the last match lying wholly before `start`
// (matches taken from offset 0, each next search one after the previous
// match), else with wrap the last match at or after `start`. A wrapper
// error (a null `compiled` too) answers −2 with the wrapper's message.
int SearchFor(const char* text, int length, const char* pattern, int start, const SearchOptions& o,
              RegexSearch* compiled, int* match_length, std::string* message);

// Whether `text` (`length` characters) equals the NUL-terminated `pattern`,
// characters compared as SearchFor compares them. Replace & find is enabled,
// and Replace replaces, only when the selection equals the find text.
bool TextEqualsPattern(const char* text, int length, const char* pattern, bool case_sensitive);

// Where a Find or the search after a Replace starts: `start` is passed to
// SearchFor; `origin` is the caret position the status is judged against
// (FindStatusFor).
struct SearchStart {
  int start = 0;
  int origin = 0;
};

// Find from the selection (`sel_start`, `sel_length`) of a text of
// `text_length` characters. Down: from the selection's end, or from 0 when
// that is at or past the end and `wrap`; origin the selection's end. Up:
// from `sel_start` − 1; origin `sel_start`; from the start of the text
// (`sel_start` 0) a literal search begins at the last character with `wrap`
// and at `text_length` (nothing found) without it. A regular expression
// (`regex`) going up starts at `sel_start` itself: it takes matches lying
// wholly before its start, and from `sel_start` − 1 it would miss the match
// that ends at the caret.
SearchStart FindStartFor(int sel_start, int sel_length, int text_length, bool up, bool wrap, bool regex);

// The search after a Replace: `start` is the selection start (where the
// replacement went), `step` the replacement's length (1 when nothing was
// replaced), `text_length` the length after it. Down: from `start` + `step`,
// or 0 when that is at or past the end and `wrap`; origin `start` + `step`.
// Up: from `start` − 1, from the other end as in FindStartFor when `start`
// is 0 (`start` for a regular expression, as in FindStartFor); origin
// `start`. (From the caret after the replacement it
// would find its own characters again, "a" → "aa" without end.)
SearchStart ReplaceNextStartFor(int start, int step, int text_length, bool up, bool wrap, bool regex);

// The status line after a Find or Replace: "Search string not found"
// (enabled) for a negative `match`; "Wrapped" (enabled) when the match lies on
// the far side of `origin` (down: before it; up: at or after it); else
// "Did not wrap" (disabled).
struct SearchStatus {
  const char* text;
  bool enabled;
};
SearchStatus FindStatusFor(int match, int origin, bool up);

// Replace All's first search: with `wrap` the whole text downward from 0;
// else the dialog's direction, up from `sel_start` − 1 (`sel_start` for a
// regular expression, as in FindStartFor) or down from the selection's end.
// A negative start (up from offset 0) means there is nothing to replace. The
// loop's searches never wrap.
struct ReplaceAllStart {
  int start = 0;
  bool up = false;
};
ReplaceAllStart ReplaceAllStartFor(int sel_start, int sel_length, bool up, bool wrap, bool regex);

// Replace All's next start after the match at `match` (`match_length`
// characters) was replaced by `replacement_length` characters, leaving
// `text_length` characters; −1 ends the loop. Each original occurrence is
// replaced once and no replacement is searched again:
// - down: after the replacement, one further after an empty match (which
//   would be found again at once); ends at or past the end;
// - up, literal (`regex` false): `match` − `match_length`, the last position
//   whose candidate lies wholly before the match (with "a" → "aa" over
//   "aXXXX", the previous start − 1 would find the new "a"s again);
// - up, regular expression: `match` (an up search takes only matches lying
//   wholly before its start), one less after an empty match;
// ends below 0.
int ReplaceAllNextStart(int match, int match_length, int replacement_length, int text_length, bool up, bool regex);

// "1 string replaced" or "%d strings replaced" (also for 0).
std::string ReplacedCountText(int count);

// Whether the selection (`sel_start`, `sel_length`) is exactly the last match
// of `search` (false without a search or a match): Replace in a regular
// expression search replaces only then.
bool SelectionIsLastMatch(const RegexSearch* search, int sel_start, int sel_length);

// Expands the replacement template `templ` ("\d" a captured substring) against
// the last match of `search` in `subject` (the text that was searched) into
// `*out`, at most 4095 characters. False, `*out` untouched, when the wrapper
// fails (no search, or the expansion does not fit).
bool ExpandReplacement(const RegexSearch* search, const char* subject, const char* templ, std::string* out);

}  // namespace zema
