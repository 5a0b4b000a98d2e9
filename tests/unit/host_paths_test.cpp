// Installation and home paths, the time words at a fixed time, temporary
// files and the 8-bit ↔ 16-bit converter.
#include <gtest/gtest.h>

#include <unistd.h>

#include <cstdlib>
#include <string>

#include "host/clock.h"
#include "host/paths.h"

namespace zema {
namespace {

TEST(HostPaths, InstallationPathByExecutableLayout) {
  EXPECT_EQ(apl_path_for("/opt/app/bin/", "bin", "zema_pack.stb"), "/opt/app/bin/zema_pack.stb");
  EXPECT_EQ(apl_path_for("/opt/app/", "bin", "zema_pack.stb"), "/usr/local/zema/bin/zema_pack.stb");
  EXPECT_EQ(apl_path_for("/opt/app/bin/", "ws", ""), "/opt/app/ws/");
  EXPECT_EQ(apl_path_for("", "help", nullptr), "/usr/local/zema/help/");
}

TEST(HostPaths, HomePath) {
  const char* saved = std::getenv("HOME");
  const std::string keep = saved ? saved : "";
  struct Case {
    const char* home;
    const char* expected;
  } cases[] = {{"/home/u", "/home/u/.zema_desktop"}, {"/home/u/", "/home/u/.zema_desktop"}, {"", "/.zema_desktop"},
               {nullptr, ""}};
  for (const Case& c : cases) {
    if (c.home) ::setenv("HOME", c.home, 1); else ::unsetenv("HOME");
    EXPECT_EQ(get_home_path(".zema_desktop"), c.expected) << (c.home ? c.home : "(unset)");
  }
  ::setenv("HOME", std::string(260, 'h').c_str(), 1);
  EXPECT_EQ(get_home_path("x"), "");
  if (saved) ::setenv("HOME", keep.c_str(), 1); else ::unsetenv("HOME");
}

TEST(HostPaths, TimeWordsAtAFixedTime) {
  std::tm t{};
  t.tm_hour = 13;
  t.tm_min = 45;
  t.tm_sec = 30;
  t.tm_mday = 9;
  t.tm_mon = 11;
  t.tm_year = 126;
  std::uint32_t words[2];
  time_words_from(t, 250000, words);
  EXPECT_EQ(words[0], 49530250u);
  EXPECT_EQ(words[1], 120926u);
  t.tm_year = 99;
  t.tm_hour = t.tm_min = t.tm_sec = 0;
  time_words_from(t, 999, words);
  EXPECT_EQ(words[0], 0u);
  EXPECT_EQ(words[1], 120999u);
}

TEST(HostPaths, VersionRecord) {
  const std::int32_t* v = version();
  EXPECT_EQ(v[0] * 100 + v[1] * 10 + v[2], 422);
  EXPECT_EQ(v[3], 80386);
}

TEST(HostPaths, TemporaryFilesAreNewAndDistinct) {
  std::string a, b;
  const int fa = make_temp_file("/tmp/zema_test_XXXXXX", &a);
  const int fb = make_temp_file("/tmp/zema_test_XXXXXX", &b);
  ASSERT_GE(fa, 0);
  ASSERT_GE(fb, 0);
  EXPECT_NE(a, b);
  EXPECT_EQ(a.find("XXXXXX"), std::string::npos);
  ::close(fa);
  ::close(fb);
  ::unlink(a.c_str());
  ::unlink(b.c_str());
}

TEST(HostPaths, CodeConversion) {
  EXPECT_EQ(text_iconv_open("UNICODELITTLE", "ANSI_X3.4-1968"), 0);
  EXPECT_EQ(text_iconv_open("ANSI_X3.4-1968", "UNICODELITTLE"), 1);
  EXPECT_EQ(text_iconv_open("UTF-8", "LATIN1"), -1);
  const char text[] = "abc";
  const char* in = text;
  std::size_t in_left = 3, out_left = 4;
  char units[4] = {9, 9, 9, 9};
  char* out = units;
  EXPECT_EQ(text_iconv(0, &in, &in_left, &out, &out_left), 0);
  EXPECT_EQ(in_left, 1u);
  EXPECT_EQ(out_left, 0u);
  EXPECT_EQ(std::string(units, 4), std::string("a\0b\0", 4));
  const char* back_in = units;
  std::size_t back_left = 3, room = 8;  // an odd byte is left over
  char bytes[8] = {};
  char* back_out = bytes;
  text_iconv(1, &back_in, &back_left, &back_out, &room);
  EXPECT_EQ(std::string(bytes), "a");
  EXPECT_EQ(back_left, 1u);
}

}  // namespace
}  // namespace zema
