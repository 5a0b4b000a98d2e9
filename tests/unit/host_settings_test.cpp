// Settings: defaults, command-line options, -xrm precedence, validation and
// what the interpreter is given.
#include <gtest/gtest.h>

#include <unistd.h>

#include <string>
#include <vector>

#include "host/settings.h"

namespace zema {
namespace {

Settings with(const std::vector<std::string>& args) {
  Settings s;
  std::string error;
  EXPECT_TRUE(s.process(args, &error)) << error;
  s.validate();
  return s;
}

TEST(HostSettings, TheTableHasItsRowsInOrder) {
  EXPECT_STREQ(setting_rows[0].name, "help_file");
  EXPECT_STREQ(setting_rows[31].name, "quad_pw");
  EXPECT_STREQ(setting_rows[112].name, "menu_key_quicksym");
  for (int r = 0; r < kSettingRows; ++r)
    for (int k = r + 1; k < kSettingRows; ++k) EXPECT_STRNE(setting_rows[r].name, setting_rows[k].name);
}

TEST(HostSettings, Defaults) {
  const Settings s = with({});
  EXPECT_EQ(s.number("quad_pw"), 80);
  EXPECT_EQ(s.number("id"), 1000);
  EXPECT_EQ(s.number("default_apl"), 0);
  EXPECT_EQ(s.number("port"), 1134);
  EXPECT_EQ(s.number("syntax_flow_color"), 0xa42fca);
  EXPECT_EQ(s.text("charset"), "");
  EXPECT_EQ(s.text("apl_file"), "aplsfile.afl");
  EXPECT_TRUE(s.flag("safety"));
  EXPECT_FALSE(s.flag("debug"));
  EXPECT_EQ(s.prefs().term_format, 0x8004);
  EXPECT_EQ(s.prefs().user_number, 1000u);
}

TEST(HostSettings, ValidationKeepsTheWidthInRange) {
  struct Case {
    const char* line;
    std::uint16_t pw;
  } cases[] = {{"*quad_pw: 20", 40}, {"*quad_pw: 500", 390}, {"*quad_pw: 100", 100}, {"ZEMA.quad_pw: 41", 41}};
  for (const Case& c : cases) EXPECT_EQ(with({"-xrm", c.line}).prefs().pw, c.pw) << c.line;
}

TEST(HostSettings, LongerNamePartsWinAndLaterLinesWinAmongEquals) {
  const Settings a = with({"-xrm", "*syntax*: 0x00ff00", "-xrm", "*syntax_flow_color: 0"});
  EXPECT_EQ(a.number("syntax_flow_color"), 0);
  EXPECT_EQ(a.number("syntax_comment_color"), 0x00ff00);
  EXPECT_TRUE(a.flag("syntax_color_on"));  // neither True nor False: unchanged
  const Settings b = with({"-xrm", "*syntax_flow_color: 0", "-xrm", "*syntax*: 0x00ff00"});
  EXPECT_EQ(b.number("syntax_flow_color"), 0);
  const Settings c = with({"-xrm", "*quad_pw: 100", "-xrm", "*quad_pw: 120"});
  EXPECT_EQ(c.number("quad_pw"), 120);
}

TEST(HostSettings, OptionsAndTheirSettings) {
  const Settings s = with({"-port", "2000", "-wssize", "4096", "-xrm", "*wssize: 8192", "-host"});
  EXPECT_EQ(s.number("port"), 2000);
  EXPECT_EQ(s.number("default_apl"), 2);
  EXPECT_EQ(s.number("wssize"), 8192);  // applied in order
  EXPECT_EQ(s.text("host"), "");        // the last argument, without its value
  EXPECT_EQ(with({"-xrm", "other.font: x"}).text("font"), "zema11");
  EXPECT_EQ(with({"-name", "other", "-xrm", "other.font: x"}).text("font"), "x");
  EXPECT_EQ(with({"-xrm", "*auto_id: 0", "-id", "5"}).number("id"), static_cast<std::int32_t>(::getuid()) + 1000);
  EXPECT_EQ(with({"-xrm", "*time_fmt: 400"}).prefs().term_format, 4);
}

TEST(HostSettings, RefusalsNameWhatWasWrong) {
  struct Case {
    std::vector<std::string> args;
    const char* words;
  } cases[] = {
      {{"-xrm", "*quad_pw: wide"}, "quad_pw"},
      {{"-wssize", "lots"}, "-wssize"},
      {{"-nosuchoption", "1"}, "-nosuchoption"},
  };
  for (const Case& c : cases) {
    Settings s;
    std::string error;
    EXPECT_FALSE(s.process(c.args, &error)) << c.words;
    EXPECT_NE(error.find(c.words), std::string::npos) << error;
    EXPECT_EQ(s.number("quad_pw"), 80);
  }
}

}  // namespace
}  // namespace zema
