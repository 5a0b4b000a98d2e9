// Settings: defaults, command-line options, -xrm precedence, validation and
// what the interpreter is given.
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <sstream>

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
      {{"-wssize", "99999999999"}, "option -wssize: out of range: 99999999999"},
      {{"-wssize", "2147483648"}, "option -wssize: out of range: 2147483648"},
      {{"-wssize", "-2147483649"}, "option -wssize: out of range: -2147483649"},
      {{"-wssize", "12abc"}, "option -wssize: not a number: 12abc"},
      {{"-xrm", "*quad_pw: 0x100000000"}, "setting quad_pw: out of range: 0x100000000"},
      {{"-xrm", "*quad_pw: 99999999999999999999"}, "setting quad_pw: out of range: 99999999999999999999"},
  };
  for (const Case& c : cases) {
    Settings s;
    std::string error;
    EXPECT_FALSE(s.process(c.args, &error)) << c.words;
    EXPECT_NE(error.find(c.words), std::string::npos) << error;
    EXPECT_EQ(s.number("quad_pw"), 80);
  }
}

TEST(HostSettings, TheCharsetChoosesAFontPair) {
  struct Case {
    const char* charset;
    const FontPair* pair;
  } cases[] = {{"", nullptr},        {"Mac", &mac_font_pair},      {"m", &mac_font_pair}, {"w", &windows_font_pair},
               {"l", &aix_font_pair}, {"AIX", &aix_font_pair}, {"x", nullptr}};
  for (const Case& c : cases) EXPECT_EQ(with({"-charset", c.charset}).font_pair(), c.pair) << c.charset;
  EXPECT_EQ(&current_font_pair(), &windows_font_pair);
  use_font_pair(mac_font_pair);
  EXPECT_EQ(&current_font_pair(), &mac_font_pair);
  EXPECT_EQ(internal_to_font, mac_font_pair.to_font);
  EXPECT_EQ(fontout(0x61), 0x41);  // the pairs share the one font layout
  use_font_pair(windows_font_pair);
}

TEST(HostSettings, KeyboardLayouts) {
  struct Case {
    bool apl_before, unified_before;
    int mode;
    bool apl, unified;
  } cases[] = {
      {false, true, 1, true, false},  {false, false, 2, true, true}, {false, false, 3, true, false},
      {false, true, 3, true, true},   {true, true, 4, false, true},  {false, false, 5, false, false},
      {true, false, 0, true, false},
  };
  for (const Case& c : cases) {
    Settings s = with({"-xrm", std::string("*apl_keyboard: ") + (c.apl_before ? "True" : "False"), "-xrm",
                       std::string("*unified_keyboard: ") + (c.unified_before ? "True" : "False")});
    s.set_keyboard_layout(c.mode);
    EXPECT_EQ(s.flag("apl_keyboard"), c.apl) << "mode " << c.mode;
    EXPECT_EQ(s.flag("unified_keyboard"), c.unified) << "mode " << c.mode;
  }
}

class HostSettingsFile : public ::testing::Test {
 protected:
  void SetUp() override {
    char dir[] = "/tmp/zema-settings-XXXXXX";
    ASSERT_NE(::mkdtemp(dir), nullptr);
    dir_ = dir;
    path_ = dir_ + "/prefs";
  }
  void TearDown() override {
    for (const auto& e : std::filesystem::directory_iterator(dir_)) std::filesystem::remove(e.path());
    std::filesystem::remove(dir_);
  }
  std::string read() const {
    std::ifstream f(path_);
    std::stringstream b;
    b << f.rdbuf();
    return b.str();
  }
  void write(const std::string& text) const { std::ofstream(path_) << text; }
  std::size_t files() const {
    std::size_t n = 0;
    for ([[maybe_unused]] const auto& e : std::filesystem::directory_iterator(dir_)) ++n;
    return n;
  }
  std::string dir_, path_;
};

TEST_F(HostSettingsFile, ChangedSettingsAreWrittenAndReadBack) {
  const Settings s = with({"-xrm", "*quad_pw: 120", "-xrm", "*safety: False", "-loadws", "start", "-xrm",
                           "*syntax_flow_color: 0x10"});
  std::string error;
  ASSERT_TRUE(s.save(path_, &error)) << error;
  EXPECT_EQ(read(), "ZEMA*loadws: start\nZEMA*safety: False\nZEMA*quad_pw: 120\nZEMA*syntax_flow_color: 16\n");
  Settings back;
  std::istringstream lines(read());
  for (std::string line; std::getline(lines, line);) EXPECT_EQ(back.set_resource(line, &error), 0) << line;
  EXPECT_EQ(back.number("quad_pw"), 120);
  EXPECT_FALSE(back.flag("safety"));
  EXPECT_EQ(back.text("loadws"), "start");
  EXPECT_EQ(back.number("syntax_flow_color"), 16);
  EXPECT_EQ(files(), 1u);  // no temporary left
}

TEST_F(HostSettingsFile, AFailedSaveKeepsTheOldFile) {
  write("ZEMA*quad_pw: 99\n");
  ::chmod(path_.c_str(), 0640);
  Settings s = with({"-loadws", "two\nlines"});
  std::string error;
  EXPECT_FALSE(s.save(path_, &error));
  EXPECT_NE(error.find("loadws"), std::string::npos) << error;
  EXPECT_EQ(read(), "ZEMA*quad_pw: 99\n");
  // A save into a directory that is gone fails before the file is touched.
  EXPECT_FALSE(with({}).save(dir_ + "/missing/prefs", &error));
  // A good save replaces the file whole and keeps its permissions.
  ASSERT_TRUE(with({"-xrm", "*quad_pw: 100"}).save(path_, &error)) << error;
  EXPECT_EQ(read(), "ZEMA*quad_pw: 100\n");
  struct stat st {};
  ASSERT_EQ(::stat(path_.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 07777, 0640u);
  EXPECT_EQ(files(), 1u);
}

TEST_F(HostSettingsFile, APackagedApplicationNeverWritesItsPreferences) {
  Settings s = with({"-preferences", path_, "-xrm", "*quad_pw: 100"});
  std::string error;
  EXPECT_TRUE(save_resources(s, true, &error));
  EXPECT_EQ(files(), 0u);
  EXPECT_TRUE(save_resources(s, false, &error)) << error;
  EXPECT_EQ(read(), "ZEMA*quad_pw: 100\n");
}

}  // namespace
}  // namespace zema
