// The regular-expression search: compile errors, flags and newline
// conventions, the stepping over empty matches, substrings, replacement
// templates, the APL character tables and the engine's failures.
#include "host/regex.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#define PCRE2_CODE_UNIT_WIDTH 8
#include <pcre2.h>

#include "host/char_tables.h"
#include "host/charset.h"

namespace zema {
namespace {

// UTF-8 text in host (display-font) characters.
std::string host(const char* utf8) {
  std::string s = utf8_to_internal(utf8);
  for (char& c : s) c = static_cast<char>(fontout(static_cast<std::uint8_t>(c)));
  return s;
}

struct Match {
  int code, position, length, substrings;
};

Match next(RegexSearch* search, const std::string& text, int offset, std::string* message = nullptr) {
  Match m{};
  m.code = regex_search_next(search, text.data(), static_cast<int>(text.size()), offset, &m.position, &m.length,
                             &m.substrings, message);
  return m;
}

// Every match's start, each search from the end of the one before.
std::vector<int> starts(const std::string& pattern, unsigned flags, const std::string& text) {
  RegexSearch* search = regex_open_search(pattern.c_str(), flags, nullptr);
  EXPECT_NE(search, nullptr) << pattern;
  std::vector<int> found;
  for (int offset = 0; search;) {
    const Match m = next(search, text, offset);
    EXPECT_EQ(m.code, 0);
    if (m.position < 0) break;
    found.push_back(m.position);
    offset = m.position + (m.length > 0 ? m.length : 1);
  }
  regex_close_search(search);
  return found;
}

bool matches(const std::string& pattern, unsigned flags, const std::string& text) {
  RegexSearch* search = regex_open_search(pattern.c_str(), flags, nullptr);
  EXPECT_NE(search, nullptr) << pattern;
  const bool found = search && next(search, text, 0).position >= 0;
  regex_close_search(search);
  return found;
}

TEST(Regex, CompileErrorsGiveThePositionCountedFromOne) {
  struct Case {
    const char* pattern;
    int position;
  } cases[] = {{"ab(c", 5}, {"a)", 2}, {"[z-a]", 4}, {"*", 1}};
  for (const Case& c : cases) {
    std::string message;
    EXPECT_EQ(regex_open_search(c.pattern, 0, &message), nullptr) << c.pattern;
    const std::string head = "Error in regular expression at position " + std::to_string(c.position) + ": ";
    EXPECT_EQ(message.substr(0, head.size()), head) << c.pattern << " → " << message;
    EXPECT_GT(message.size(), head.size()) << "the engine's reason follows";
  }
  // No message place: still refused, nothing written anywhere.
  EXPECT_EQ(regex_open_search("(", 0, nullptr), nullptr);
}

TEST(Regex, FlagsCaselessMultilineDotall) {
  EXPECT_FALSE(matches("abc", 0, "xABCx"));
  EXPECT_TRUE(matches("abc", regex_caseless, "xABCx"));
  EXPECT_EQ(starts("^b", 0, "a\nb"), std::vector<int>{});
  EXPECT_EQ(starts("^b", regex_multiline, "a\nb"), std::vector<int>{2});
  EXPECT_EQ(starts("a$", regex_multiline, "a\nba"), (std::vector<int>{0, 3}));
  EXPECT_FALSE(matches("a.b", 0, "a\nb"));
  EXPECT_TRUE(matches("a.b", regex_dotall, "a\nb"));
}

TEST(Regex, NewlineConventions) {
  // a CR b LF c CR LF d
  const std::string text = "a\rb\nc\r\nd";
  struct Case {
    unsigned flags;
    std::vector<int> line_starts;
  } cases[] = {
      {0, {0, 2, 4, 7}},                   // any of CR, LF, CR LF
      {regex_newline_cr, {0, 2, 6}},       // the LF of CR LF is a character
      {regex_newline_lf, {0, 4, 7}},       // CR is a character
      {regex_newline_crlf, {0, 7}},        // lone CR and LF are characters
  };
  for (const Case& c : cases) EXPECT_EQ(starts("^.", regex_multiline | c.flags, text), c.line_starts) << c.flags;
}

TEST(Regex, AgainFromTheEndOfAnEmptyMatchOnlyANonEmptyOneFollows) {
  RegexSearch* search = regex_open_search("x*", 0, nullptr);
  ASSERT_NE(search, nullptr);
  struct Step {
    const char* text;
    int offset, position, length;
  } steps[] = {
      {"abc", 0, 0, 0},     // empty at the start
      {"abc", 1, 1, 0},     // from another offset an ordinary search: empty at 1
      {"abc", 1, -1, 0},    // again from where that ended: non-empty only, and there is no x
      {"axxbx", 1, 1, 2},   // still after the empty match at 1: anchored at 1, "xx"
      {"axxbx", 3, 3, 0},   // after a non-empty match an ordinary search: empty at 3
      {"axxbx", 3, 4, 1},   // from its end: anchored at 3, then at 4: "x"
      {"axxbx", 5, 5, 0},   // ordinary again: empty at the end
      {"bbx", 1, 1, 0},     // an offset other than the empty match's end: ordinary
      {"bbx", 1, 2, 1},     // from that empty match's end: tried at 1, then at 2
      {"abc", 0, 0, 0},     // offset 0 searches as at first
  };
  for (const Step& s : steps) {
    const Match m = next(search, s.text, s.offset);
    EXPECT_EQ(m.code, 0);
    EXPECT_EQ(m.position, s.position) << s.text << " from " << s.offset;
    if (m.position >= 0) {
      EXPECT_EQ(m.length, s.length) << s.text << " from " << s.offset;
    }
  }
  regex_close_search(search);

  // An alternative that is empty at the offset is passed over for one that is not.
  search = regex_open_search("b|x*", 0, nullptr);
  ASSERT_NE(search, nullptr);
  EXPECT_EQ(next(search, "ab", 0).length, 0);
  const Match m = next(search, "ab", 1);
  EXPECT_EQ(m.position, 1);
  EXPECT_EQ(m.length, 1);
  regex_close_search(search);
}

TEST(Regex, SubstringsOfTheLastMatch) {
  RegexSearch* search = regex_open_search("(a)(x)?(b)(y)?", 0, nullptr);
  ASSERT_NE(search, nullptr);
  const Match m = next(search, "zab", 0);
  EXPECT_EQ(m.position, 1);
  EXPECT_EQ(m.length, 2);
  EXPECT_EQ(m.substrings, 4) << "groups after the last that took part are left out";
  const RegexSpan want[] = {{1, 3}, {1, 2}, {-1, -1}, {2, 3}};
  for (int i = 0; i < 4; ++i) {
    RegexSpan span;
    ASSERT_TRUE(regex_extract_substring(search, i, &span)) << i;
    EXPECT_EQ(span.start, want[i].start) << i;
    EXPECT_EQ(span.end, want[i].end) << i;
  }
  RegexSpan span;
  EXPECT_FALSE(regex_extract_substring(search, 4, &span));
  EXPECT_FALSE(regex_extract_substring(search, -1, &span));
  EXPECT_FALSE(regex_extract_substring(nullptr, 0, &span));
  // A search that finds nothing leaves no substrings.
  EXPECT_EQ(next(search, "zzz", 0).substrings, 0);
  EXPECT_FALSE(regex_extract_substring(search, 0, &span));
  regex_close_search(search);
}

TEST(Regex, ThirtySubstringsAtMost) {
  std::string pattern, text;
  for (int i = 0; i < 29; ++i) pattern += "(a)";
  for (int i = 0; i < 30; ++i) text += "a";
  RegexSearch* search = regex_open_search(pattern.c_str(), 0, nullptr);
  ASSERT_NE(search, nullptr);
  EXPECT_EQ(next(search, text, 0).substrings, 30);
  RegexSpan span;
  EXPECT_TRUE(regex_extract_substring(search, 29, &span));
  EXPECT_EQ(span.start, 28);
  regex_close_search(search);

  pattern += "(a)";
  search = regex_open_search(pattern.c_str(), 0, nullptr);
  ASSERT_NE(search, nullptr);
  std::string message;
  const Match m = next(search, text, 0, &message);
  EXPECT_EQ(m.code, 104);
  EXPECT_EQ(m.position, -1);
  EXPECT_EQ(m.substrings, 0);
  EXPECT_EQ(message, "Too many substrings in regular expression, maximum is 30");
  EXPECT_FALSE(regex_extract_substring(search, 0, &span));
  regex_close_search(search);
}

TEST(Regex, NullSearchAndBadOffsets) {
  std::string message;
  Match m = next(nullptr, "abc", 0, &message);
  EXPECT_EQ(m.code, 24);
  EXPECT_EQ(m.position, -1);
  EXPECT_EQ(message, "Regular expression has not been compiled");
  regex_close_search(nullptr);

  RegexSearch* search = regex_open_search("a", 0, nullptr);
  ASSERT_NE(search, nullptr);
  for (int offset : {-1, 4}) {
    message.clear();
    m = next(search, "abc", offset, &message);
    EXPECT_EQ(m.code, 68) << offset;
    EXPECT_EQ(m.position, -1);
    EXPECT_EQ(message.rfind("Regular expression engine error ", 0), 0u) << message;
  }
  // A negative length is refused, not read as a zero-terminated text.
  int position, length, substrings;
  EXPECT_EQ(regex_search_next(search, "a", -1, 0, &position, &length, &substrings, nullptr), 68);
  EXPECT_EQ(position, -1);
  // Empty text with no characters at all.
  EXPECT_EQ(regex_search_next(search, nullptr, 0, 0, &position, &length, &substrings, nullptr), 0);
  EXPECT_EQ(position, -1);
  regex_close_search(search);
}

TEST(Regex, EngineFailuresAnswer68WithTheReason) {
  RegexSearch* search = regex_open_search("(*LIMIT_MATCH=100)(a+)+$", 0, nullptr);
  ASSERT_NE(search, nullptr);
  std::string message;
  const Match m = next(search, std::string(24, 'a') + "c", 0, &message);
  EXPECT_EQ(m.code, 68);
  EXPECT_EQ(m.position, -1);
  EXPECT_EQ(message, "Regular expression engine error " + std::to_string(PCRE2_ERROR_MATCHLIMIT) +
                         ": Exceeded backtracking limit");
  regex_close_search(search);
}

TEST(Regex, ErrorStrings) {
  struct Case {
    int code;
    const char* reason;
  } cases[] = {
      {PCRE2_ERROR_NOMEMORY, ": Out of memory"},
      {PCRE2_ERROR_NOSUBSTRING, ": Invalid substring number"},
      {PCRE2_ERROR_MATCHLIMIT, ": Exceeded backtracking limit"},
      {PCRE2_ERROR_UTF8_ERR1, ": Invalid UTF-8 string"},
      {PCRE2_ERROR_UTF8_ERR21, ": Invalid UTF-8 string"},
      {PCRE2_ERROR_BADUTFOFFSET, ": Invalid offset into UTF-8 string"},
      {PCRE2_ERROR_DEPTHLIMIT, ": Recursion limit exceeed"},
      {PCRE2_ERROR_BADOFFSET, ""},
      {-999, ""},
  };
  for (const Case& c : cases)
    EXPECT_EQ(regex_get_error_string(c.code),
              "Regular expression engine error " + std::to_string(c.code) + c.reason);
}

TEST(Regex, ReplacementTemplates) {
  RegexSearch* search = regex_open_search("(\\w+)@(\\w+)(x)?", 0, nullptr);
  ASSERT_NE(search, nullptr);
  const std::string subject = "mail user@host now";
  ASSERT_EQ(next(search, subject, 0).position, 5);
  char out[64];
  struct Case {
    const char* templ;
    const char* want;
  } cases[] = {
      {"\\2 at \\1", "host at user"},
      {"[\\0]", "[user@host]"},
      {"\\3\\9|", "|"},            // a group that took no part, a group that does not exist
      {"\\\\ \\q\\[", "\\ q["},    // backslash and other characters stand for themselves
      {"end\\", "end\\"},          // a backslash that ends the template
      {"", ""},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(regex_get_replacement_string(search, subject.c_str(), c.templ, out, sizeof out), 0) << c.templ;
    EXPECT_STREQ(out, c.want) << c.templ;
  }

  // Room: a substring must leave more than one byte, a character one.
  struct Room {
    const char* templ;
    int room, code;
    const char* written;
  } rooms[] = {
      {"\\1", 6, 0, "user"},   {"\\1", 5, 4, ""},     // "user" would leave one byte
      {"ab\\1", 8, 0, "abuser"}, {"ab\\1", 7, 4, "ab"},
      {"abcd", 5, 0, "abcd"},  {"abcd", 4, 4, "abc"},  // the fourth character would leave none
      {"", 1, 0, ""},          {"x", 0, 4, nullptr},
  };
  for (const Room& r : rooms) {
    std::memset(out, '#', sizeof out);
    EXPECT_EQ(regex_get_replacement_string(search, subject.c_str(), r.templ, out, r.room), r.code)
        << r.templ << " in " << r.room;
    if (r.written) {
      EXPECT_STREQ(out, r.written) << r.templ << " in " << r.room;
    } else {
      EXPECT_EQ(out[0], '#') << "nothing written without room";
    }
  }
  EXPECT_EQ(regex_get_replacement_string(nullptr, subject.c_str(), "x", out, sizeof out), 68);
  regex_close_search(search);
}

TEST(Regex, AplLettersFollowTheAplCharacterSet) {
  // Accented capitals and their small partners match each other case-blind.
  struct Pair {
    const char *capital, *small;
  } pairs[] = {{"É", "é"}, {"Ñ", "ñ"}, {"Ç", "ç"}, {"A", "a"}};
  for (const Pair& p : pairs) {
    const std::string text = host("XYZ") + host(p.capital) + host(" ") + host(p.small);
    EXPECT_EQ(starts(host(p.small), regex_caseless, text), (std::vector<int>{3, 5})) << p.small;
    EXPECT_EQ(starts(host(p.capital), regex_caseless, text), (std::vector<int>{3, 5})) << p.capital;
    EXPECT_EQ(starts(host(p.small), 0, text), std::vector<int>{5}) << p.small;
    EXPECT_TRUE(matches("^[[:upper:]]$", 0, host(p.capital))) << p.capital;
    EXPECT_TRUE(matches("^[[:lower:]]$", 0, host(p.small))) << p.small;
  }
  // APL symbols are not letters and have no case.
  EXPECT_EQ(starts(host("⍴"), regex_caseless, host("⍴ ⍳ ⍴")), (std::vector<int>{0, 4}));

  // Word characters: letters of either case (accented ones too), ∆ and ⍙,
  // digits and the underscore; not APL symbols.
  RegexSearch* search = regex_open_search("\\w+", 0, nullptr);
  ASSERT_NE(search, nullptr);
  const std::string text = host("⍴Aé∆⍙9_b←x");
  Match m = next(search, text, 0);
  EXPECT_EQ(m.position, 1);
  EXPECT_EQ(m.length, 7);
  regex_close_search(search);
  EXPECT_TRUE(matches("^[\\w]+$", 0, host("Aé∆⍙9_")));
  EXPECT_FALSE(matches("\\bÉ", 0, host("∆É"))) << "∆ and É are both word characters";
  EXPECT_FALSE(matches("\\w", 0, host("⍴⍳←+")));
}

TEST(Regex, CaseTablesMapEachHostCharacterThroughItsInternalCode) {
  const unsigned char* tables = regex_character_tables();
  ASSERT_EQ(tables, regex_character_tables()) << "built once";
  for (int c = 0; c < 256; ++c) {
    const std::uint8_t internal = fontin(c);
    const std::uint8_t lower = tables[c], flip = tables[256 + c];
    // Each map gives c itself or a character whose internal code is the
    // APL partner: never some other character that happens to share a code.
    if (lower != c) {
      EXPECT_EQ(fontin(lower), apl_lowercase_table[internal]) << c;
    }
    if (apl_lowercase_table[internal] == internal) {
      EXPECT_EQ(lower, c) << c;
    }
    const auto& partner = apl_is_lowercase_table[internal] ? apl_uppercase_table : apl_lowercase_table;
    if (flip != c) {
      EXPECT_EQ(fontin(flip), partner[internal]) << c;
    }
    if (partner[internal] == internal) {
      EXPECT_EQ(flip, c) << c;
    }
  }
  // Host characters without an internal character of their own share
  // internal code 0 but are not made equal case-blind.
  EXPECT_FALSE(matches(std::string(1, '\x10'), regex_caseless, std::string(1, '\x11')));
  EXPECT_FALSE(matches(std::string(1, '\x10'), regex_caseless, " "));
}

}  // namespace
}  // namespace zema
