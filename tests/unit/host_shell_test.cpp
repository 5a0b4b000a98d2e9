// Shell commands run by the host: what comes back, in what room, and that a
// command never waits for input or for a time limit it should not meet.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <string>

#include "host/charset.h"
#include "host/services.h"

namespace zema {
namespace {

struct Outcome {
  int answer;
  std::string output;  // UTF-8 of the internal characters collected
  double seconds;
};

Outcome run(const std::string& utf8_command, int room, int seconds = 20) {
  std::string command = utf8_to_internal(utf8_command);
  std::string area(static_cast<std::size_t>(room > 0 ? room : 1), '\0');
  const auto start = std::chrono::steady_clock::now();
  const int answer = exec_cmd(command.data(), room > 0 ? area.data() : nullptr, room, seconds);
  const std::chrono::duration<double> took = std::chrono::steady_clock::now() - start;
  const std::size_t n = answer > 0 ? static_cast<std::size_t>(answer) : 0;
  return {answer, internal_to_utf8(area.substr(0, n)), took.count()};
}

TEST(HostShell, OutputIsCollectedBelowTheRoom) {
  struct Case {
    int room;
    int answer;
  } cases[] = {{100, 2}, {3, -4}, {4, 2}};
  for (const Case& c : cases) {
    const Outcome r = run("echo hi", c.room);
    EXPECT_EQ(r.answer, c.answer) << "room " << c.room;
    if (c.answer > 0) {
      EXPECT_EQ(r.output, "hi") << "room " << c.room;
    }
  }
}

TEST(HostShell, LinesEndWithTheInternalCarriageReturn) {
  std::string command = utf8_to_internal("printf 'a\\nb\\n'");
  char area[16] = {};
  ASSERT_EQ(exec_cmd(command.data(), area, sizeof area, 20), 3);
  EXPECT_EQ(std::string(area, 3), utf8_to_internal("a") + "\x0D" + utf8_to_internal("b"));
}

TEST(HostShell, ACommandThatReadsInputSeesItsEndAtOnce) {
  const Outcome r = run("cat; echo done", 100, 30);
  EXPECT_EQ(r.output, "done");
  EXPECT_LT(r.seconds, 5.0);
}

TEST(HostShell, CommandsThatCannotRunAreErrors) {
  EXPECT_EQ(run("no_such_command_zema_test", 200).answer, -68);
  const char* saved = std::getenv("SHELL");
  std::string keep = saved ? saved : "";
  ::setenv("SHELL", "/nonexistent/zema-shell", 1);
  const Outcome r = run("echo hi", 100);
  if (saved) ::setenv("SHELL", keep.c_str(), 1); else ::unsetenv("SHELL");
  EXPECT_EQ(r.answer, -68);
}

TEST(HostShell, TheWholeLongCommandRuns) {
  const std::string word(700, 'x');
  const Outcome r = run("echo " + word, 1000);
  EXPECT_EQ(r.answer, 700);
  EXPECT_EQ(r.output, word);
}

TEST(HostShell, TheQuietTimeLimitStopsTheCommandAndWhatItStarted) {
  const Outcome r = run("echo early; sleep 30; echo late", 100, 1);
  EXPECT_EQ(r.output, "early");
  EXPECT_LT(r.seconds, 10.0);
}

TEST(HostShell, OutputRestartsTheQuietTime) {
  const Outcome r = run("for i in 1 2 3 4; do echo $i; sleep 0.4; done", 100, 1);
  EXPECT_EQ(r.answer, 7);
}

TEST(HostShell, OutputBeyondTheRoomStopsTheCommand) {
  const Outcome r = run("yes", 4096, 20);
  EXPECT_EQ(r.answer, -4);
  EXPECT_LT(r.seconds, 10.0);
}

TEST(HostShell, ALeadingArrowIsNotPartOfTheCommand) {
  EXPECT_EQ(run("↑echo hi", 100).output, "hi");
  EXPECT_EQ(run("↓echo hi", 100).output, "hi");
}

}  // namespace
}  // namespace zema
