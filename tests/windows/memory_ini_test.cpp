// The INI file held in memory: parsing and printing, order, erasing, the
// integer and boolean readers, and the Save that replaces the file whole.
#include "platform/memory_ini.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include <sys/stat.h>
#include <unistd.h>

namespace zema {
namespace {

namespace fs = std::filesystem;

// A private folder, removed with everything in it.
class TempFolder {
 public:
  TempFolder() {
    std::string templ = (fs::temp_directory_path() / "zema-ini-XXXXXX").string();
    path_ = mkdtemp(templ.data()) ? templ : std::string();
  }
  ~TempFolder() {
    std::error_code ignored;
    if (!path_.empty()) fs::remove_all(path_, ignored);
  }
  const std::string& path() const { return path_; }
  std::vector<std::string> names() const {
    std::vector<std::string> found;
    for (const auto& entry : fs::directory_iterator(path_)) found.push_back(entry.path().filename().string());
    return found;
  }

 private:
  std::string path_;
};

std::string read_file(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream s;
  s << in.rdbuf();
  return s.str();
}

TEST(MemIniFile, ParsesAndPrintsInOrder) {
  MemIniFile ini;
  ini.SetText(
      "stray=before any section\r\n"
      "[Zeta]\r\n"
      "b=2\r\n"
      "; a comment\n"
      "\n"
      "   \n"
      "a=1=one\n"
      "flag\n"
      "[Alpha]\n"
      "z=\n"
      "b=first\n"
      "b=second\n"
      "[Zeta]\n"
      "c=3");
  EXPECT_EQ(ini.ReadSections(), (std::vector<std::string>{"Zeta", "Alpha"}));
  EXPECT_EQ(ini.ReadSection("Zeta"), (std::vector<std::string>{"b", "a", "flag", "c"}));
  EXPECT_EQ(ini.ReadString("Zeta", "a", "?"), "1=one") << "the value runs from the first '='";
  EXPECT_EQ(ini.ReadString("Zeta", "flag", "?"), "") << "a line without '=' is a key with no value";
  EXPECT_TRUE(ini.ValueExists("Zeta", "flag"));
  EXPECT_EQ(ini.ReadString("Alpha", "b", "?"), "first");
  EXPECT_EQ(ini.ReadString("zeta", "b", "?"), "?") << "names are compared exactly";
  EXPECT_EQ(ini.ReadString("Zeta", "B", "?"), "?");
  EXPECT_FALSE(ini.SectionExists("stray"));
  EXPECT_TRUE(ini.ReadSection("None").empty());

  const std::string printed = ini.GetText();
  EXPECT_EQ(printed, "[Zeta]\nb=2\na=1=one\nflag=\nc=3\n\n[Alpha]\nz=\nb=first\n");
  MemIniFile again;
  again.SetText(printed);
  EXPECT_EQ(again.GetText(), printed);
}

TEST(MemIniFile, WritesKeepFirstPlaceAndEraseRemoves) {
  MemIniFile ini;
  ini.WriteString("B", "x", "1");
  ini.WriteString("A", "y", "2");
  ini.WriteString("B", "w", "3");
  ini.WriteString("B", "x", "changed");
  EXPECT_EQ(ini.ReadSections(), (std::vector<std::string>{"B", "A"}));
  EXPECT_EQ(ini.ReadSection("B"), (std::vector<std::string>{"x", "w"}));
  EXPECT_EQ(ini.ReadString("B", "x", ""), "changed");

  ini.DeleteKey("B", "x");
  ini.DeleteKey("B", "absent");
  ini.DeleteKey("Absent", "w");
  EXPECT_EQ(ini.ReadSection("B"), std::vector<std::string>{"w"});
  ini.EraseSection("B");
  ini.EraseSection("Absent");
  EXPECT_FALSE(ini.SectionExists("B"));
  EXPECT_FALSE(ini.ValueExists("B", "w"));
  EXPECT_EQ(ini.GetText(), "[A]\ny=2\n");
  // A section written again after its erasure goes at the end.
  ini.WriteInteger("B", "n", -5);
  EXPECT_EQ(ini.ReadSections(), (std::vector<std::string>{"A", "B"}));
}

TEST(MemIniFile, LineEndsInValuesBecomeBlanks) {
  MemIniFile ini;
  ini.WriteString("S", "text", "one\r\ntwo\nthree\r[Injected]");
  ini.WriteString("S", "next", "kept");
  EXPECT_EQ(ini.ReadString("S", "text", ""), "one  two three [Injected]");
  MemIniFile again;
  again.SetText(ini.GetText());
  EXPECT_EQ(again.ReadSections(), std::vector<std::string>{"S"});
  EXPECT_EQ(again.ReadString("S", "text", ""), "one  two three [Injected]");
  EXPECT_EQ(again.ReadString("S", "next", ""), "kept");
}

TEST(MemIniFile, ReadIntegerAndReadBool) {
  MemIniFile ini;
  ini.SetText(
      "[N]\n"
      "dec=42\nneg=-17\nplus=+8\nblanks= 12 \nmax=2147483647\nmin=-2147483648\n"
      "over=2147483648\nunder=-2147483649\nhuge=99999999999999999999\n"
      "hex=0x1F\nHEX=0XfF\nhexall=0xFFFFFFFF\nhexover=0x100000000\nhexbad=0x\nhexjunk=0x1G\n"
      "word=twelve\ntrail=12abc\nempty=\nsign=-\n"
      "[B]\none=1\nzero=0\nt=TRUE\nf=False\nother=yes\nnum=2\n");
  struct Case {
    const char* key;
    int want;
  } cases[] = {
      {"dec", 42},        {"neg", -17},       {"plus", 8},           {"blanks", 12},
      {"max", 2147483647}, {"min", -2147483647 - 1}, {"over", 99},  {"under", 99},
      {"huge", 99},       {"hex", 31},        {"HEX", 255},          {"hexall", -1},
      {"hexover", 99},    {"hexbad", 99},     {"hexjunk", 99},       {"word", 99},
      {"trail", 99},      {"empty", 99},      {"sign", 99},          {"absent", 99},
  };
  for (const Case& c : cases) EXPECT_EQ(ini.ReadInteger("N", c.key, 99), c.want) << c.key;

  EXPECT_TRUE(ini.ReadBool("B", "one", false));
  EXPECT_FALSE(ini.ReadBool("B", "zero", true));
  EXPECT_TRUE(ini.ReadBool("B", "t", false));
  EXPECT_FALSE(ini.ReadBool("B", "f", true));
  for (const char* key : {"other", "num", "absent"}) {
    EXPECT_TRUE(ini.ReadBool("B", key, true)) << key;
    EXPECT_FALSE(ini.ReadBool("B", key, false)) << key;
  }
  ini.WriteBool("B", "w", true);
  ini.WriteInteger("B", "i", -2147483647 - 1);
  EXPECT_TRUE(ini.ReadBool("B", "w", false));
  EXPECT_EQ(ini.ReadInteger("B", "i", 0), -2147483647 - 1);
}

TEST(MemIniFile, SaveAndLoad) {
  TempFolder folder;
  ASSERT_FALSE(folder.path().empty());
  const std::string path = folder.path() + "/zema.ini";
  MemIniFile ini(path);
  ini.WriteString("Session", "font", "APL 12");
  std::string error;
  ASSERT_TRUE(ini.Save(&error)) << error;
  EXPECT_EQ(read_file(path), "[Session]\nfont=APL 12\n");
  EXPECT_EQ(folder.names(), std::vector<std::string>{"zema.ini"}) << "no file left beside it";

  MemIniFile loaded(path);
  ASSERT_TRUE(loaded.Load());
  EXPECT_EQ(loaded.ReadString("Session", "font", ""), "APL 12");

  // A file that cannot be read empties the content.
  MemIniFile missing(folder.path() + "/absent.ini");
  missing.WriteString("S", "k", "v");
  EXPECT_FALSE(missing.Load());
  EXPECT_TRUE(missing.ReadSections().empty());
  MemIniFile directory(folder.path());
  EXPECT_FALSE(directory.Load());
}

TEST(MemIniFile, SaveReplacesTheFileAndKeepsItsPermissions) {
  TempFolder folder;
  ASSERT_FALSE(folder.path().empty());
  const std::string path = folder.path() + "/zema.ini";
  {
    std::ofstream old(path);
    old << "[Old]\nkey=a much longer old value than the new content has\n";
  }
  ASSERT_EQ(chmod(path.c_str(), 0640), 0);
  struct stat before {};
  ASSERT_EQ(stat(path.c_str(), &before), 0);

  MemIniFile ini(path);
  ASSERT_TRUE(ini.Load());
  ini.EraseSection("Old");
  ini.WriteString("New", "k", "v");
  std::string error;
  ASSERT_TRUE(ini.Save(&error)) << error;
  EXPECT_EQ(read_file(path), "[New]\nk=v\n");
  struct stat after {};
  ASSERT_EQ(stat(path.c_str(), &after), 0);
  EXPECT_EQ(after.st_mode & 07777, 0640u);
  EXPECT_NE(after.st_ino, before.st_ino) << "a new file renamed over the old one";
  EXPECT_EQ(folder.names(), std::vector<std::string>{"zema.ini"});
}

TEST(MemIniFile, SaveIntoAMissingFolderFailsAndLeavesNothing) {
  TempFolder folder;
  ASSERT_FALSE(folder.path().empty());
  const std::string path = folder.path() + "/missing/zema.ini";
  MemIniFile ini(path);
  ini.WriteString("S", "k", "v");
  std::string error;
  EXPECT_FALSE(ini.Save(&error));
  EXPECT_NE(error.find(path), std::string::npos) << error;
  EXPECT_NE(error.find(std::strerror(ENOENT)), std::string::npos) << error;
  EXPECT_TRUE(folder.names().empty());
  EXPECT_FALSE(ini.Save(nullptr)) << "no place for the message";
}

TEST(MemIniFile, FailedRenameRemovesTheNewFile) {
  TempFolder folder;
  ASSERT_FALSE(folder.path().empty());
  // A folder that is not empty stands where the file should go.
  const std::string path = folder.path() + "/zema.ini";
  ASSERT_TRUE(fs::create_directory(path));
  { std::ofstream(path + "/inside") << "x"; }
  MemIniFile ini(path);
  ini.WriteString("S", "k", "v");
  std::string error;
  EXPECT_FALSE(ini.Save(&error));
  EXPECT_NE(error.find(path), std::string::npos) << error;
  EXPECT_EQ(folder.names(), std::vector<std::string>{"zema.ini"});
  EXPECT_EQ(read_file(path + "/inside"), "x");
}

TEST(MemIniFile, FailedSaveLeavesTheOldFileAsItWas) {
  if (geteuid() == 0) GTEST_SKIP() << "root writes into read-only folders";
  TempFolder folder;
  ASSERT_FALSE(folder.path().empty());
  const std::string path = folder.path() + "/zema.ini";
  {
    std::ofstream old(path);
    old << "[Old]\nk=v\n";
  }
  ASSERT_EQ(chmod(folder.path().c_str(), 0500), 0);
  MemIniFile ini(path);
  ini.WriteString("New", "k", "v");
  std::string error;
  EXPECT_FALSE(ini.Save(&error));
  chmod(folder.path().c_str(), 0700);
  EXPECT_EQ(read_file(path), "[Old]\nk=v\n");
  EXPECT_EQ(folder.names(), std::vector<std::string>{"zema.ini"});
}

}  // namespace
}  // namespace zema
