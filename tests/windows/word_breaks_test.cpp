// The text windows' word rules on display-font text.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "font_text.h"
#include "host/charset.h"
#include "windows/word_breaks.h"

namespace zema {
namespace {

using testing_support::font;
using testing_support::utf8;

// The words the control would select: maximal runs without breaks, as
// Unicode strings.
std::vector<std::u32string> words(std::u32string_view u) {
  const std::string t = font(u);
  const int n = static_cast<int>(t.size());
  std::vector<std::u32string> out;
  std::u32string cur;
  for (int i = 0; i < n; ++i) {
    if (IsWordBreak(t.data(), i, n)) {
      if (!cur.empty()) out.push_back(cur);
      cur.clear();
    } else {
      cur += u[static_cast<std::size_t>(i)];
    }
  }
  if (!cur.empty()) out.push_back(cur);
  return out;
}

TEST(WordBreaks, WordsOfLines) {
  struct Case {
    std::u32string text;
    std::vector<std::u32string> expected;
  };
  const std::vector<Case> cases = {
      {U"⎕IO←0", {U"⎕IO", U"0"}},
      {U"A∆B+x⍙y", {U"A∆B", U"x⍙y"}},
      {U"¯12×3", {U"¯12", U"3"}},
      {U"a_b c", {U"a_b", U"c"}},
      {U" :If x", {U":If", U"x"}},
      {U"⋄:While", {U":While"}},
      // a letter directly before a quad ends its word there
      {U"X⎕IO", {U"⎕IO"}},
      {U"AB⎕WI", {U"A", U"⎕WI"}},
      // a label's colon and a colon after a digit or at the start break
      {U"L1:X", {U"L1", U"X"}},
      {U"L1: ", {U"L1"}},
      {U":If", {U"If"}},
      {U"x:", {U"x"}},
      {U"ÉÀ", {}},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(words(c.text), c.expected) << utf8(c.text);
  }
}

TEST(WordBreaks, OutsideTheTextAndLastCharacter) {
  const std::string t = font(U"AB");
  EXPECT_TRUE(IsWordBreak(t.data(), -1, 2));
  EXPECT_TRUE(IsWordBreak(t.data(), 2, 2));
  EXPECT_FALSE(IsWordBreak(t.data(), 1, 2));  // the last letter of the text
  const std::string q = font(U"X⎕");
  EXPECT_TRUE(IsWordBreak(q.data(), 0, 2));   // the X before the quad
  EXPECT_FALSE(IsWordBreak(q.data(), 1, 2));  // the quad itself
}

TEST(WordBreaks, Delimiters) {
  for (char32_t c : std::u32string(U"AZaz∆⍙09_¯"))
    EXPECT_FALSE(IsDelimiter(static_cast<unsigned char>(font(std::u32string(1, c))[0]))) << static_cast<int>(c);
  for (char32_t c : std::u32string(U" ⎕.:'()[]←⍴+ÉÀ"))
    EXPECT_TRUE(IsDelimiter(static_cast<unsigned char>(font(std::u32string(1, c))[0]))) << static_cast<int>(c);
  EXPECT_TRUE(IsDelimiter('\r'));
  EXPECT_TRUE(IsDelimiter(0));
}

TEST(WordBreaks, WordBeforeCaret) {
  struct Case {
    std::u32string text;
    int pos;
    std::u32string expected;
  };
  const std::vector<Case> cases = {
      {U"X←⍴Y", 3, U"⍴"},            // caret right after ⍴, a name after it
      {U"⍴", 1, U"⍴"},
      {U"A+B", 2, U"+"},
      {U"⎕IO←1", 2, U"⎕IO"},          // inside the name: forward and backward
      {U"⎕IO←1", 3, U"⎕IO"},
      {U"'F' ⎕WI 'caption'", 12, U"'caption'"},
      {U"'F' ⎕WI 'caption'", 6, U"⎕WI"},
      {U")LOAD ws", 3, U")LOAD"},
      {U"  )LOAD ws", 5, U")LOAD"},
      {U"x\r\t)COPY a", 7, U")COPY"},
      {U"x )LOAD", 5, U"LOAD"},       // not at the line's start
      {U"a.b", 3, U"a.b"},
      {U"x[1].y", 6, U".y"},
      {U"(e).z", 5, U".z"},
      {U"abc", 0, U"a"},              // caret at 0: the first character
      {U"abc", -4, U"a"},
      {U"ab cd", 3, U" "},            // before a word: the character before the caret
      {U"ab", 99, U"ab"},
      {U" :If x", 4, U":If"},
      {U"X⎕IO", 4, U"⎕IO"},
  };
  for (const Case& c : cases) {
    const std::string t = font(c.text);
    EXPECT_EQ(GetWordBeforePos(t.data(), static_cast<int>(t.size()), c.pos, 109), font(c.expected))
        << utf8(c.text) << " at " << c.pos;
  }
}

TEST(WordBreaks, WordBeforeCaretLimits) {
  EXPECT_EQ(GetWordBeforePos("", 0, 0, 109), "");
  const std::string t = font(U"abcdef");
  EXPECT_EQ(GetWordBeforePos(t.data(), 6, 3, 4), "abc");  // max − 1 characters
  EXPECT_EQ(GetWordBeforePos(t.data(), 6, 3, 1), "");
}

}  // namespace
}  // namespace zema
