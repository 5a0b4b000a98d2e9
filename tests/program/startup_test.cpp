// The program's command line as start-up applies it.
#include "program/startup.h"

#include <gtest/gtest.h>

#include "host/charset.h"

namespace zema {
namespace {

// -charset makes its font pair current for the run; an empty or unknown
// one keeps the current pair.
TEST(StartupCommandLine, TheCharsetOptionChoosesTheCurrentFontPair) {
  struct Case {
    std::vector<std::string> args;
    const FontPair* current;
  } cases[] = {
      {{"-charset", "Mac"}, &mac_font_pair}, {{"-charset", "aix"}, &aix_font_pair},
      {{"-charset", "w"}, &windows_font_pair}, {{"-xrm", "*charset: l"}, &aix_font_pair},
      {{"-charset", "x"}, &mac_font_pair},     {{}, &mac_font_pair},
  };
  use_font_pair(mac_font_pair);
  for (const Case& c : cases) {
    if (c.current == &mac_font_pair) use_font_pair(mac_font_pair);
    Settings settings;
    std::string error;
    ASSERT_TRUE(apply_command_line(c.args, &settings, &error)) << error;
    EXPECT_STREQ(current_font_pair().name, c.current->name) << (c.args.empty() ? "" : c.args.back());
  }
  use_font_pair(windows_font_pair);
}

TEST(StartupCommandLine, RefusalsNameTheOptionAndChangeNothing) {
  use_font_pair(windows_font_pair);
  Settings settings;
  std::string error;
  EXPECT_FALSE(apply_command_line({"-charset", "Mac", "-wssize", "99999999999"}, &settings, &error));
  EXPECT_EQ(error, "option -wssize: out of range: 99999999999");
  EXPECT_EQ(&current_font_pair(), &windows_font_pair);
}

}  // namespace
}  // namespace zema
