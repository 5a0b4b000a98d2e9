// The find-and-replace engine of the text windows: literal and regular
// expression search, and the start and status decisions of Find, Replace
// and Replace All.
#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "font_text.h"
#include "host/charset.h"
#include "host/regex.h"
#include "windows/text_search.h"

namespace zema {
namespace {

using testing_support::font;
using testing_support::utf8;

struct RegexDeleter {
  void operator()(RegexSearch* r) const { regex_close_search(r); }
};
using Regex = std::unique_ptr<RegexSearch, RegexDeleter>;

Regex compile(const std::string& pattern, bool case_sensitive = true) {
  std::string message;
  Regex r(regex_open_search(pattern.c_str(), regex_multiline | (case_sensitive ? 0u : regex_caseless), &message));
  EXPECT_TRUE(r) << message;
  return r;
}

SearchOptions opts(bool up, bool wrap, bool case_sensitive = true, bool whole_word = false) {
  SearchOptions o;
  o.up = up;
  o.wrap = wrap;
  o.case_sensitive = case_sensitive;
  o.whole_word = whole_word;
  return o;
}

struct LiteralCase {
  std::u32string text, pattern;
  int start;
  SearchOptions o;
  int expected;
};

TEST(TextSearch, Literal) {
  const bool Down = false, Up = true, Wrap = true, Stop = false;
  const std::vector<LiteralCase> cases = {
      // down
      {U"abcabc", U"abc", 0, opts(Down, Stop), 0},
      {U"abcabc", U"abc", 1, opts(Down, Stop), 3},
      {U"abcabc", U"abc", 4, opts(Down, Stop), -1},
      {U"abcabc", U"abc", 4, opts(Down, Wrap), 0},
      {U"abcabc", U"abc", 6, opts(Down, Stop), -1},  // at the end
      {U"abcabc", U"abc", 6, opts(Down, Wrap), 0},
      {U"abcabc", U"abc", 99, opts(Down, Wrap), 0},
      {U"abcabc", U"abc", -5, opts(Down, Stop), 0},
      {U"xyzabc", U"xyz", 1, opts(Down, Wrap), 0},   // the last position before the start
      {U"abcabc", U"abd", 2, opts(Down, Wrap), -1},  // every position once, then stop
      {U"abcab", U"abc", 2, opts(Down, Wrap), 0},    // no match hanging over the end
      // up
      {U"abcabc", U"abc", 5, opts(Up, Stop), 3},
      {U"abcabc", U"abc", 3, opts(Up, Stop), 3},     // the start itself is examined first
      {U"abcabc", U"abc", 2, opts(Up, Stop), 0},
      {U"xxabc", U"abc", 1, opts(Up, Stop), -1},
      {U"xxabc", U"abc", 1, opts(Up, Wrap), 2},
      {U"abcxx", U"abc", 4, opts(Up, Wrap), 0},
      {U"abcxx", U"abd", 2, opts(Up, Wrap), -1},
      {U"abc", U"abc", -1, opts(Up, Stop), 0},
      // case
      {U"xxabc", U"ABC", 0, opts(Down, Stop, false), 2},
      {U"xxABC", U"abc", 0, opts(Down, Stop, false), 2},
      {U"xxAbC", U"aBc", 4, opts(Up, Wrap, false), 2},
      {U"xxabc", U"ABC", 0, opts(Down, Stop, true), -1},
      {U"x⍙y", U"x∆y", 0, opts(Down, Wrap, false), -1},   // APL symbols never fold
      {U"x∆y", U"X⍙Y", 0, opts(Down, Wrap, false), -1},
      {U"é", U"É", 0, opts(Down, Wrap, false), -1},
      {U"A⍴B", U"a⍴b", 0, opts(Down, Wrap, false), 0},
      {U"[{", U"{", 0, opts(Down, Wrap, false), 1},
      // whole words
      {U"X⎕IO←1", U"⎕IO", 0, opts(Down, Wrap, true, true), 1},
      {U"XIO IO", U"IO", 0, opts(Down, Stop, true, true), 4},
      {U"XIO", U"IO", 0, opts(Down, Wrap, true, true), -1},
      {U"IOX", U"IO", 0, opts(Down, Wrap, true, true), -1},
      {U"A.IO", U"IO", 0, opts(Down, Wrap, true, true), 2},
      {U"X IO", U"IO", 0, opts(Down, Wrap, true, true), 2},   // the end of the text ends a word
      {U"a_b ab", U"ab", 0, opts(Down, Wrap, true, true), 4},
      {U"¯1 1", U"1", 0, opts(Down, Wrap, true, true), 3},
      {U"ab(cd", U"ab(", 0, opts(Down, Wrap, true, true), 0},  // the pattern ends on a delimiter
      {U"IO XIO", U"IO", 5, opts(Up, Wrap, true, true), 0},
      {U"XIO io", U"IO", 0, opts(Down, Wrap, false, true), 4},
  };
  for (const LiteralCase& c : cases) {
    const std::string text = font(c.text), pattern = font(c.pattern);
    int length = -7;
    std::string message;
    const int r = SearchFor(text.data(), static_cast<int>(text.size()), pattern.c_str(), c.start, c.o, nullptr,
                            &length, &message);
    EXPECT_EQ(r, c.expected) << utf8(c.pattern) << " in " << utf8(c.text) << " from " << c.start
                             << (c.o.up ? " up" : " down") << (c.o.wrap ? " wrap" : "");
    if (r >= 0) {
      EXPECT_EQ(length, static_cast<int>(pattern.size()));
    }
    EXPECT_TRUE(message.empty());
  }
}

TEST(TextSearch, EmptyPatternOrText) {
  int length = 0;
  EXPECT_EQ(SearchFor("abc", 3, "", 0, opts(false, true), nullptr, &length, nullptr), -1);
  EXPECT_EQ(SearchFor("", 0, "a", 0, opts(false, true), nullptr, &length, nullptr), -1);
  // The length bounds the text: nothing past it is read or found.
  EXPECT_EQ(SearchFor("abcX", 3, "X", 0, opts(false, true), nullptr, &length, nullptr), -1);
}

struct RegexCase {
  const char* text;
  const char* pattern;
  int start;
  bool up, wrap;
  int expected, expected_length;
};

TEST(TextSearch, RegularExpression) {
  // 0123456789A
  // a1 b22 c333
  const std::vector<RegexCase> cases = {
      {"a1 b22 c333", "[0-9]+", 0, false, false, 1, 1},
      {"a1 b22 c333", "[0-9]+", 2, false, false, 4, 2},
      {"a1 b22 c333", "[0-9]+", 9, false, false, 9, 2},
      {"a1 b22 c333", "[0-9]+", 11, false, false, -1, 0},  // at the end without wrap
      {"a1 b22 c333", "[0-9]+", 11, false, true, 1, 1},
      {"a1 b22 c333", "a", 5, false, false, -1, 0},
      {"a1 b22 c333", "a", 5, false, true, 0, 1},
      {"a1 b22 c333", "b22", 5, false, true, -1, 0},  // straddles the start: not wholly before it
      {"a1 b22 c333", "[0-9]+", 6, true, false, 5, 1},  // matches taken one after another
      {"a1 b22 c333", "[a-z][0-9]+", 6, true, false, 3, 3},
      {"a1 b22 c333", "[a-z][0-9]+", 5, true, false, 0, 2},
      {"a1 b22 c333", "[0-9]+", 1, true, false, -1, 0},
      {"a1 b22 c333", "[0-9]+", 1, true, true, 10, 1},
      {"a1 b22 c333", "c3", 1, true, true, 7, 2},
      {"a1 b22 c333", "[0-9]+", 11, true, false, 10, 1},  // up from the end itself
      {"a1 b22 c333", "b2", 12, true, true, 3, 2},
      {"ab\rcd\rab", "^ab", 2, false, true, 6, 2},  // lines end at CR
      {"AB ab", "ab", 0, false, false, 3, 2},
  };
  for (const RegexCase& c : cases) {
    Regex r = compile(c.pattern);
    SearchOptions o = opts(c.up, c.wrap);
    o.regex = true;
    int length = 0;
    std::string message;
    const int got = SearchFor(c.text, static_cast<int>(std::strlen(c.text)), c.pattern, c.start, o, r.get(),
                              &length, &message);
    EXPECT_EQ(got, c.expected) << c.pattern << " in " << c.text << " from " << c.start << (c.up ? " up" : " down")
                               << (c.wrap ? " wrap" : "") << " " << message;
    if (got >= 0) {
      EXPECT_EQ(length, c.expected_length) << c.pattern << " from " << c.start;
    }
  }
}

TEST(TextSearch, RegularExpressionCaselessAndErrors) {
  Regex r = compile("ab", false);
  SearchOptions o = opts(false, false);
  o.regex = true;
  int length = 0;
  std::string message;
  EXPECT_EQ(SearchFor("xAB", 3, "ab", 0, o, r.get(), &length, &message), 1);
  // No compiled expression: an error with the wrapper's message.
  EXPECT_EQ(SearchFor("xAB", 3, "ab", 0, o, nullptr, &length, &message), -2);
  EXPECT_FALSE(message.empty());
}

TEST(TextSearch, RegexReplacementHelpers) {
  Regex r = compile("(b+)");
  SearchOptions o = opts(false, true);
  o.regex = true;
  const std::string text = "abbc";
  int length = 0;
  ASSERT_EQ(SearchFor(text.c_str(), 4, "(b+)", 0, o, r.get(), &length, nullptr), 1);
  EXPECT_TRUE(SelectionIsLastMatch(r.get(), 1, 2));
  EXPECT_FALSE(SelectionIsLastMatch(r.get(), 1, 1));  // the user changed the selection
  EXPECT_FALSE(SelectionIsLastMatch(nullptr, 1, 2));
  std::string out = "untouched";
  ASSERT_TRUE(ExpandReplacement(r.get(), text.c_str(), "<\\1>", &out));
  EXPECT_EQ(out, "<bb>");
  out = "untouched";
  EXPECT_FALSE(ExpandReplacement(nullptr, text.c_str(), "x", &out));
  EXPECT_EQ(out, "untouched");
  const std::string huge(5000, 'x');
  EXPECT_FALSE(ExpandReplacement(r.get(), text.c_str(), huge.c_str(), &out));
}

TEST(TextSearch, SelectionEqualsFindText) {
  EXPECT_TRUE(TextEqualsPattern("ABC", 3, "abc", false));
  EXPECT_FALSE(TextEqualsPattern("ABC", 3, "abc", true));
  EXPECT_FALSE(TextEqualsPattern("ABCD", 3, "abcd", false));  // only the selection's characters count
  EXPECT_FALSE(TextEqualsPattern("AB", 2, "abc", false));
  const std::string a = font(U"∆"), b = font(U"⍙");
  EXPECT_FALSE(TextEqualsPattern(a.data(), 1, b.c_str(), false));
}

struct FindCase {
  int sel_start, sel_length, text_length;
  bool up, wrap;
  int start, origin;
  int match;
  const char* status;
  bool enabled;
};

TEST(TextSearch, FindStartAndStatus) {
  const std::vector<FindCase> cases = {
      {2, 3, 10, false, true, 5, 5, 7, "Did not wrap", false},
      {2, 3, 10, false, true, 5, 5, 5, "Did not wrap", false},
      {2, 3, 10, false, true, 5, 5, 1, "Wrapped", true},
      {10, 0, 10, false, true, 0, 10, 3, "Wrapped", true},  // from the end back to 0
      {10, 0, 10, false, false, 10, 10, -1, "Search string not found", true},
      {5, 2, 10, true, true, 4, 5, 4, "Did not wrap", false},  // just before the caret
      {5, 2, 10, true, true, 4, 5, 0, "Did not wrap", false},
      {5, 2, 10, true, true, 4, 5, 5, "Wrapped", true},
      {5, 2, 10, true, true, 4, 5, 8, "Wrapped", true},
      // Up from the start: round from the last character, or nothing with Stop.
      {0, 0, 10, true, true, 9, 0, 8, "Wrapped", true},
      {0, 3, 10, true, true, 9, 0, 0, "Wrapped", true},
      {0, 3, 10, true, false, 10, 0, -1, "Search string not found", true},
  };
  for (const FindCase& c : cases) {
    const SearchStart s = FindStartFor(c.sel_start, c.sel_length, c.text_length, c.up, c.wrap, false);
    EXPECT_EQ(s.start, c.start) << "case " << (&c - cases.data());
    EXPECT_EQ(s.origin, c.origin) << "case " << (&c - cases.data());
    const SearchStatus st = FindStatusFor(c.match, s.origin, c.up);
    EXPECT_STREQ(st.text, c.status) << "case " << (&c - cases.data());
    EXPECT_EQ(st.enabled, c.enabled) << "case " << (&c - cases.data());
  }
}

TEST(TextSearch, RegexFindUpTakesTheMatchEndingAtTheCaret) {
  // "2222" with the second "22" selected: going up finds the first.
  Regex r = compile("22");
  SearchOptions o = opts(true, false);
  o.regex = true;
  const SearchStart s = FindStartFor(2, 2, 4, true, false, true);
  EXPECT_EQ(s.start, 2);
  int length = 0;
  const int m = SearchFor("2222", 4, "22", s.start, o, r.get(), &length, nullptr);
  EXPECT_EQ(m, 0);
  EXPECT_STREQ(FindStatusFor(m, s.origin, true).text, "Did not wrap");
}

TEST(TextSearch, FindThenStatusOnText) {
  // Going up from just after a "b": found directly before the caret.
  const std::string t = "abab";
  const SearchStart s = FindStartFor(2, 0, 4, true, true, false);
  int length = 0;
  const int m = SearchFor(t.data(), 4, "b", s.start, opts(true, true), nullptr, &length, nullptr);
  EXPECT_EQ(m, 1);
  EXPECT_STREQ(FindStatusFor(m, s.origin, true).text, "Did not wrap");
  // Going down from the end with wrap: found before the old position.
  const SearchStart d = FindStartFor(4, 0, 4, false, true, false);
  const int m2 = SearchFor(t.data(), 4, "b", d.start, opts(false, true), nullptr, &length, nullptr);
  EXPECT_EQ(m2, 1);
  EXPECT_STREQ(FindStatusFor(m2, d.origin, false).text, "Wrapped");
}

TEST(TextSearch, ReplaceNextStart) {
  // down: after the replacement; wrap to 0 at the end
  EXPECT_EQ(ReplaceNextStartFor(3, 2, 10, false, true, false).start, 5);
  EXPECT_EQ(ReplaceNextStartFor(8, 2, 10, false, true, false).start, 0);
  EXPECT_EQ(ReplaceNextStartFor(8, 2, 10, false, false, false).start, 10);
  // up: before the replacement, never inside it
  EXPECT_EQ(ReplaceNextStartFor(3, 2, 10, true, true, false).start, 2);
  EXPECT_EQ(ReplaceNextStartFor(0, 2, 10, true, true, false).start, 9);   // round from the end
  EXPECT_EQ(ReplaceNextStartFor(0, 2, 10, true, false, false).start, 10);  // Stop: nothing
  EXPECT_EQ(ReplaceNextStartFor(3, 2, 10, true, true, true).start, 3);  // regex: matches wholly before 3
  // Replace "a" by "aa" going up over "XaXa" twice: each replaces an original "a".
  std::string t = "XaXa";
  int sel = 3, length = 0;
  for (int i = 0; i < 2; ++i) {
    t.replace(static_cast<std::size_t>(sel), 1, "aa");
    const SearchStart s = ReplaceNextStartFor(sel, 2, static_cast<int>(t.size()), true, false, false);
    sel = SearchFor(t.data(), static_cast<int>(t.size()), "a", s.start, opts(true, false), nullptr, &length, nullptr);
    if (i == 0) {
      EXPECT_EQ(sel, 1);
    }
  }
  EXPECT_EQ(t, "XaaXaa");
  EXPECT_EQ(sel, -1);
}

// Replace All as the dialog runs it, on a string.
int replace_all(std::string& t, const std::string& pattern, const std::string& replacement, int sel_start,
                int sel_length, bool up, bool wrap, bool regex = false) {
  Regex r;
  if (regex) r = compile(pattern);
  const ReplaceAllStart plan = ReplaceAllStartFor(sel_start, sel_length, up, wrap, regex);
  SearchOptions o = opts(plan.up, false);
  o.regex = regex;
  int count = 0;
  for (int s = plan.start; s >= 0;) {
    int length = 0;
    const int m = SearchFor(t.data(), static_cast<int>(t.size()), pattern.c_str(), s, o, r.get(), &length, nullptr);
    if (m < 0) break;
    t.replace(static_cast<std::size_t>(m), static_cast<std::size_t>(length), replacement);
    ++count;
    if (count > 1000) break;  // a loop that never ends fails the test below
    s = ReplaceAllNextStart(m, length, static_cast<int>(replacement.size()), static_cast<int>(t.size()), plan.up,
                            regex);
  }
  return count;
}

TEST(TextSearch, ReplaceAll) {
  struct Case {
    std::string text, pattern, replacement;
    int sel_start, sel_length;
    bool up, wrap, regex;
    std::string expected;
    int count;
  };
  const std::vector<Case> cases = {
      {"aXXXX", "a", "aa", 5, 0, true, false, false, "aaXXXX", 1},  // up: each original once
      {"aXaX", "a", "aa", 4, 0, true, false, false, "aaXaaX", 2},
      {"aab", "ab", "b", 3, 0, true, false, false, "ab", 1},         // no match made of a replacement
      {"aXaX", "a", "aa", 2, 0, false, true, false, "aaXaaX", 2},   // wrap: the whole text downward
      {"aXaX", "a", "aa", 1, 0, false, false, false, "aXaaX", 1},   // down from the selection's end
      {"aXaX", "a", "aa", 1, 0, true, false, false, "aaXaX", 1},    // up from before the caret
      {"aXaX", "a", "", 0, 0, true, false, false, "aXaX", 0},        // up from the very start
      {"abab", "ab", "", 0, 0, false, true, false, "", 2},
      {"xyz", "q", "r", 0, 0, false, true, false, "xyz", 0},
      {"a1b22", "[0-9]+", "#", 0, 0, false, true, true, "a#b#", 2},
      {"a1b2", "[a-z][0-9]", "<&>", 4, 0, true, false, true, "<&><&>", 2},  // up from the caret
      // Empty matches: each position is replaced once and the loop ends
      // (going down it ends at the end of the text, before its last empty
      // match).
      {"ab", "x*", "-", 0, 0, false, true, true, "-a-b", 2},
      {"ab", "x*", "", 0, 0, false, true, true, "ab", 2},
      {"ab", "x*", "-", 2, 0, true, false, true, "-a-b-", 3},
      {"ab\rcd", "^", "-", 0, 0, false, true, true, "-ab\r-cd", 2},  // every line, not only the first
      {"axxb", "x*", "-", 0, 0, false, true, true, "-a--b", 3},
  };
  for (const Case& c : cases) {
    std::string t = c.text;
    const int n = replace_all(t, c.pattern, c.replacement, c.sel_start, c.sel_length, c.up, c.wrap, c.regex);
    EXPECT_EQ(t, c.expected) << c.pattern << " → " << c.replacement << " over " << c.text;
    EXPECT_EQ(n, c.count) << c.pattern << " → " << c.replacement << " over " << c.text;
  }
}

// Going up, the search keeps the last match before its start: the wrapper's
// last match must be that one, so that Replace sees the selection as the
// match and expands the template against it.
TEST(TextSearch, AnUpwardRegexMatchIsTheWrappersLastMatch) {
  const std::string t = "a1 b2 c3";
  Regex r = compile("([a-z])([0-9])");
  SearchOptions o = opts(true, true);
  o.regex = true;
  o.wrap = false;
  int length = 0;
  const int m = SearchFor(t.data(), static_cast<int>(t.size()), "([a-z])([0-9])", 5, o, r.get(), &length, nullptr);
  ASSERT_EQ(m, 3);
  ASSERT_EQ(length, 2);
  EXPECT_TRUE(SelectionIsLastMatch(r.get(), 3, 2));
  std::string out;
  ASSERT_TRUE(ExpandReplacement(r.get(), t.c_str(), "\\2\\1", &out));
  EXPECT_EQ(out, "2b");
}

TEST(TextSearch, ReplacedCount) {
  EXPECT_EQ(ReplacedCountText(0), "0 strings replaced");
  EXPECT_EQ(ReplacedCountText(1), "1 string replaced");
  EXPECT_EQ(ReplacedCountText(12), "12 strings replaced");
}

}  // namespace
}  // namespace zema
