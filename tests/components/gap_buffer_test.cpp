// The gap buffer under the text control's text: a run of edits at scattered
// places, checked element by element against a plain string after each step.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>

#include "components/gap_buffer.h"

namespace zema {
namespace {

std::string All(const GapBuffer<char>& g) {
  std::string s(static_cast<std::size_t>(g.size()), '?');
  for (int i = 0; i < g.size(); ++i) s[static_cast<std::size_t>(i)] = g[i];
  return s;
}

TEST(GapBuffer, EditsAtScatteredPlacesKeepTheSequence) {
  struct Step {
    bool insert;
    int pos;
    std::string text;  // inserted text, or (erase) its length is the count
  };
  const Step steps[] = {
      {true, 0, "hello world"}, {true, 5, ","},         {true, 12, "!\r"},      {false, 0, "h"},
      {true, 0, "H"},           {false, 6, "xxxxx"},    {true, 6, "there"},     {true, 13, std::string(20000, 'z')},
      {false, 13, std::string(19990, 'z')},             {true, 2, "\r"},        {false, 0, "He"},
  };
  GapBuffer<char> g;
  std::string want;
  for (const Step& s : steps) {
    if (s.insert) {
      g.insert(s.pos, s.text.data(), static_cast<int>(s.text.size()));
      want.insert(static_cast<std::size_t>(s.pos), s.text);
    } else {
      g.erase(s.pos, static_cast<int>(s.text.size()));
      want.erase(static_cast<std::size_t>(s.pos), s.text.size());
    }
    ASSERT_EQ(All(g), want) << "after the step at " << s.pos;
    // The gap now sits at the edit: the readers must span it.
    const int mid = g.size() / 2;
    EXPECT_EQ(g.substr(1, g.size() - 1), want.substr(1, want.size() - 2));
    EXPECT_EQ(g.count(0, g.size(), '\r'), static_cast<int>(std::count(want.begin(), want.end(), '\r')));
    const auto cr = want.find('\r', static_cast<std::size_t>(mid));
    EXPECT_EQ(g.find(mid, g.size(), '\r'), cr == std::string::npos ? -1 : static_cast<int>(cr));
    EXPECT_EQ(std::string(g.data(), static_cast<std::size_t>(g.size())), want);
  }
}

TEST(GapBuffer, CopiesAndCountsAcrossTheGap) {
  GapBuffer<char> g;
  g.insert(0, "abc\rdef\rghi", 11);
  g.insert(4, 2, 'X');  // the gap is now after "abc\rXX"
  char out[8] = {};
  g.copy_out(2, 7, out);
  EXPECT_STREQ(out, "c\rXXdef");
  EXPECT_EQ(g.count(0, 13, '\r'), 2);
  EXPECT_EQ(g.count(3, 9, '\r'), 1);
  EXPECT_EQ(g.count(4, 9, '\r'), 0);
  EXPECT_EQ(g.find(4, 13, '\r'), 9);
  EXPECT_EQ(g.find(10, 13, '\r'), -1);
  EXPECT_EQ(g.back(), 'i');
  g.truncate(3);
  EXPECT_EQ(All(g), "abc");
}

}  // namespace
}  // namespace zema
