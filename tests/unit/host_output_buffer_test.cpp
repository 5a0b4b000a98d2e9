// The session output buffer of a task with a window.
#include "host/output_buffer.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace zema {
namespace {

struct Collect {
  std::vector<std::string> flushed;
  OutputBuffer buffer{[this](std::string_view s) { flushed.emplace_back(s); }};
  void Put(const std::string& s, int pw = 80) {
    for (char c : s) buffer.Put(static_cast<unsigned char>(c), pw);
  }
};

TEST(OutputBuffer, NewLineDropsTrailingBlanksAndResetsColumn) {
  Collect c;
  c.Put("AB  \r");
  EXPECT_EQ(c.buffer.Text(), "AB\r");
  EXPECT_EQ(c.buffer.Column(), 0);
  EXPECT_TRUE(c.flushed.empty());
}

TEST(OutputBuffer, ControlCodesShowAsBlanks) {
  Collect c;
  c.Put(std::string("A\x07", 2));
  EXPECT_EQ(c.buffer.Text(), "A ");
  EXPECT_EQ(c.buffer.Column(), 2);
}

// A new line flushes when ⎕PW is at least the room left after it.
// The console keeps internal characters, whose low codes are characters.
TEST(OutputBuffer, ControlCodesKeptWhenNotBlanked) {
  std::string got;
  OutputBuffer b([&](std::string_view s) { got += s; }, false);
  for (char c : std::string("A\x07 \x01  \r", 7)) b.Put(static_cast<unsigned char>(c), 80);
  EXPECT_EQ(b.Text(), std::string("A\x07 \x01\r", 5));
  EXPECT_EQ(b.Column(), 0);
}

TEST(OutputBuffer, NewLineFlushesWhenLessRoomThanPrintWidth) {
  struct Case { std::size_t before; bool flushed; };
  for (Case k : {Case{440, true}, Case{430, false}, Case{431, true}}) {
    Collect c;
    c.Put(std::string(k.before, 'x'));
    c.Put("\r", 80);
    EXPECT_EQ(!c.flushed.empty(), k.flushed) << k.before;
    if (k.flushed) {
      EXPECT_EQ(c.flushed[0].size(), k.before + 1);
      EXPECT_EQ(c.buffer.Count(), 0u);
    }
  }
}

TEST(OutputBuffer, FullBufferFlushesBeforeTheNextCharacter) {
  Collect c;
  c.Put(std::string(512, 'x'));
  EXPECT_TRUE(c.flushed.empty());
  c.Put("y");
  ASSERT_EQ(c.flushed.size(), 1u);
  EXPECT_EQ(c.flushed[0].size(), 512u);
  EXPECT_EQ(c.buffer.Text(), "y");
}

TEST(OutputBuffer, FlushOfEmptyBufferDeliversNothing) {
  Collect c;
  c.buffer.Flush();
  EXPECT_TRUE(c.flushed.empty());
}

}  // namespace
}  // namespace zema
