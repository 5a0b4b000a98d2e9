#include "files/wsfiles.h"
#include "files/read_guard.h"

#include <gtest/gtest.h>
#include <dirent.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <random>
#include <cerrno>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "host/charset.h"
#include "host/services.h"
#include "host/task.h"
#include "test_workspace.h"
#include "ws_file_fixture.h"

namespace zema {
namespace {

namespace fs = std::filesystem;
using test::Bytes;
using test::CaptureTask;
using test::read_file;
using test::write_file;

// An image that passes the header check, its other bytes a pattern that
// depends on `seed`.
Bytes workspace_image(std::size_t size, int seed) {
  Bytes b(size);
  for (std::size_t i = 0; i < size; ++i) b[i] = static_cast<std::uint8_t>(i * 7 + seed);
  b[2] = b[3] = 0x32;
  b[6] = 8;
  return b;
}

class WsFilesTest : public test::TemporaryDirectoryTest {
 protected:
  WsFilesTest() : TemporaryDirectoryTest("wsfiles") {}
  void SetUp() override {
    TemporaryDirectoryTest::SetUp();
    memory_.assign(kLowGlobalsSize + 65536, 0);
    ws_ = memory_.data() + kLowGlobalsSize;
    std::memset(lowglobals(ws_).mount, 0x20, sizeof lowglobals(ws_).mount);
    set_pw(80);
    set_current_apl_task(&task_);
  }
  void TearDown() override {
    close_seq();
    set_current_apl_task(nullptr);
    TemporaryDirectoryTest::TearDown();
  }

  std::string path(const std::string& name) const { return (dir_ / name).string(); }
  int last_errno() const { return get_server_side_task_vars()->last_errno; }
  void set_pw(std::int32_t pw) { pw_ = pw; }

  // The listing of a directory, as the )LIB command would print it.
  int print_lib(const char* directory, int option) {
    std::string listing;
    const int rc = list_lib(directory, option, pw_, listing);
    task_.output += listing;
    return rc;
  }

  void set_mount_row(int row, const std::string& host_text) {
    std::uint8_t* r = lowglobals(ws_).mount[row];
    std::memset(r, 0x20, 260);
    for (std::size_t i = 0; i < host_text.size(); ++i) r[i] = fontin(static_cast<std::uint8_t>(host_text[i]));
  }

  std::string library(std::uint32_t n) {
    char buffer[516];
    std::memset(buffer, 'x', sizeof buffer);
    library_to_path(n, n <= 9 ? lowglobals(ws_).mount[n] : nullptr, buffer);
    return buffer;
  }

  // The session output as UTF-8, each carriage return shown as "\n".
  std::string printed() const {
    std::string s = internal_to_utf8(task_.output);
    std::replace(s.begin(), s.end(), '\r', '\n');
    return s;
  }

  void touch_workspaces(const std::vector<std::string>& names) {
    for (const auto& n : names) write_file(dir_ / (n + ".aws"), {});
  }

  // Every name in the directory, sorted.
  std::vector<std::string> entries() const {
    std::vector<std::string> names;
    for (const auto& e : fs::directory_iterator(dir_)) names.push_back(e.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
  }

  // The ".aws" names in the order the system lists the directory.
  std::vector<std::string> directory_order() const {
    std::vector<std::string> names;
    DIR* d = ::opendir(dir_.c_str());
    while (dirent* e = ::readdir(d)) {
      std::string n = e->d_name;
      if (n.size() > 4 && n.ends_with(".aws")) names.push_back(n.substr(0, n.size() - 4));
    }
    ::closedir(d);
    return names;
  }

  std::vector<std::uint8_t> memory_;
  Ws ws_ = nullptr;
  std::int32_t pw_ = 80;
  CaptureTask task_;
};

// ---- workspace files ------------------------------------------------------------

TEST_F(WsFilesTest, SavedImageReadsBackAndReplacesTheOldOne) {
  const std::string p = path("W.aws");
  const Bytes first = workspace_image(70000, 1);
  ASSERT_EQ(write_ws(p.c_str(), static_cast<std::uint32_t>(first.size()), first.data()), 0);
  EXPECT_EQ(size_ws(p.c_str()), 70000);
  Bytes back(first.size());
  ASSERT_EQ(read_ws(p.c_str(), static_cast<std::uint32_t>(back.size()), back.data()), 0);
  EXPECT_EQ(back, first);

  const Bytes second = workspace_image(20000, 9);
  ASSERT_EQ(write_ws(p.c_str(), static_cast<std::uint32_t>(second.size()), second.data()), 0);
  EXPECT_EQ(read_file(p), second);
  EXPECT_EQ(entries(), std::vector<std::string>{"W.aws"});
}

// A save that was killed leaves its temporary (".NAME.PID.XXXXXX"); the next
// save of that name removes it, but not one whose writer still runs.
TEST_F(WsFilesTest, SaveRemovesTemporariesOfWritersThatDied) {
  const std::string p = path("OLD.aws");
  pid_t dead = ::fork();
  ASSERT_GE(dead, 0);
  if (dead == 0) ::_exit(0);
  ASSERT_EQ(::waitpid(dead, nullptr, 0), dead);
  const std::string stale = ".OLD.aws." + std::to_string(dead) + ".AbC123";
  const std::string running = ".OLD.aws." + std::to_string(::getpid()) + ".XyZ789";
  const std::string other = ".OTHER.aws." + std::to_string(dead) + ".AbC123";
  for (const auto& n : {stale, running, other}) write_file(dir_ / n, {1});
  const Bytes image = workspace_image(5000, 3);
  ASSERT_EQ(write_ws(p.c_str(), static_cast<std::uint32_t>(image.size()), image.data()), 0);
  EXPECT_FALSE(fs::exists(dir_ / stale));
  EXPECT_TRUE(fs::exists(dir_ / running));
  EXPECT_TRUE(fs::exists(dir_ / other));
  EXPECT_EQ(read_file(p), image);
}

// The directory refuses the new file for every user, the superuser too: the
// old name is as long as the file system allows, so one more character for
// the temporary name is too long.
TEST_F(WsFilesTest, FailedSaveWhereTheDirectoryRefusesTheNewFileKeepsTheOldWorkspace) {
  const long name_max = ::pathconf(dir_.c_str(), _PC_NAME_MAX);
  ASSERT_GT(name_max, 4);
  const std::string p = path(std::string(static_cast<std::size_t>(name_max) - 4, 'W') + ".aws");
  const Bytes old_image = workspace_image(5000, 3);
  write_file(p, old_image);
  ASSERT_EQ(read_file(p), old_image);
  const Bytes new_image = workspace_image(9000, 4);
  EXPECT_EQ(write_ws(p.c_str(), static_cast<std::uint32_t>(new_image.size()), new_image.data()), 3);
  EXPECT_EQ(last_errno(), ENAMETOOLONG);
  EXPECT_EQ(read_file(p), old_image);
}

// The disk filling up part way through the new image: the file-size limit
// stops the write after 4 KB. Run in a child, as the limit binds the process.
TEST_F(WsFilesTest, SaveThatRunsOutOfSpaceKeepsTheOldWorkspaceAndLeavesNoPartialImage) {
  const std::string p = path("OLD.aws");
  const Bytes old_image = workspace_image(3000, 3);
  write_file(p, old_image);
  const Bytes new_image = workspace_image(65536, 4);
  pid_t child = ::fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    ::signal(SIGXFSZ, SIG_IGN);
    rlimit limit{4096, 4096};
    ::setrlimit(RLIMIT_FSIZE, &limit);
    int rc = write_ws(p.c_str(), static_cast<std::uint32_t>(new_image.size()), new_image.data());
    ::_exit(rc == 3 && get_server_side_task_vars()->last_errno == EFBIG ? 0 : 10 + rc);
  }
  int status = 0;
  ASSERT_EQ(::waitpid(child, &status, 0), child);
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 0);
  EXPECT_EQ(read_file(p), old_image);
  EXPECT_EQ(entries(), std::vector<std::string>{"OLD.aws"});
}

TEST_F(WsFilesTest, SaveOverADirectoryFailsAndLeavesNoTemporary) {
  const std::string p = path("D.aws");
  fs::create_directory(p);
  write_file(fs::path(p) / "inside", {1, 2, 3});
  const Bytes image = workspace_image(1000, 0);
  EXPECT_EQ(write_ws(p.c_str(), static_cast<std::uint32_t>(image.size()), image.data()), 3);
  EXPECT_EQ(read_file(fs::path(p) / "inside"), (Bytes{1, 2, 3}));
  EXPECT_EQ(entries(), std::vector<std::string>{"D.aws"});
}

// Header bytes: 0-1 version (most significant first), 2-3 marker, 6 ⎕WSID length.
TEST_F(WsFilesTest, ReadChecksTheHeader) {
  struct Case {
    std::uint8_t b0, b1, b2, b3, b6;
    int expected;
  };
  const Case cases[] = {
      {0xBC, 0x02, 0x32, 0x32, 5, 0},     // "22", little-endian version 700
      {0x02, 0xBC, 0x33, 0x33, 1, 0},     // "33"
      {0xFF, 0xFF, 0x32, 0x32, 11, 0},    // marker decides, version not looked at
      {0x00, 0x00, 0x32, 0x32, 0, 7},     // ⎕WSID length 0
      {0x00, 0x00, 0x32, 0x32, 12, 7},    // ⎕WSID length 12
      {0x00, 0x00, 0x33, 0x33, 0xFF, 7},  // negative length
      {0x00, 0x00, 0x33, 0x33, 0x80, 7},
      {0x00, 0x00, 0x64, 0x64, 5, 7},     // "dd" even with a small version
      {0x03, 0x1F, 0x32, 0x33, 5, 0},     // other marker, version 799
      {0x03, 0x20, 0x32, 0x33, 5, 7},     // other marker, version 800
      {0x00, 0x00, 0x00, 0x00, 3, 0},
      {0xBC, 0x02, 0x00, 0x00, 3, 7},
  };
  const std::string p = path("H.aws");
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << std::hex << int(c.b0) << ' ' << int(c.b1) << ' ' << int(c.b2) << ' '
                                    << int(c.b3) << ' ' << int(c.b6));
    Bytes image = workspace_image(30, 0);
    image[0] = c.b0;
    image[1] = c.b1;
    image[2] = c.b2;
    image[3] = c.b3;
    image[6] = c.b6;
    write_file(p, image);
    Bytes probe(30, 0xEE);
    EXPECT_EQ(read_ws(p.c_str(), 30, probe.data()), c.expected);
    EXPECT_EQ(probe, image);
  }
}

TEST_F(WsFilesTest, ReadFailures) {
  write_file(dir_ / "SHORT.aws", workspace_image(29, 0));
  write_file(dir_ / "EMPTY.aws", {});
  fs::create_directory(dir_ / "DIR.aws");
  struct Case {
    const char* name;
    int expected;
    int expected_errno;  // -1: not looked at
  };
  const Case cases[] = {
      {"MISSING.aws", 1, ENOENT},
      {"NODIR/W.aws", 1, ENOENT},
      {"SHORT.aws/W.aws", 3, ENOTDIR},
      {"SHORT.aws", 7, -1},
      {"EMPTY.aws", 7, -1},
      {"DIR.aws", 3, EISDIR},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    get_server_side_task_vars()->last_errno = 0;
    Bytes probe(30);
    EXPECT_EQ(read_ws(path(c.name).c_str(), 30, probe.data()), c.expected);
    if (c.expected_errno >= 0) {
      EXPECT_EQ(last_errno(), c.expected_errno);
    }
  }
}

TEST_F(WsFilesTest, SizeOfAWorkspaceFile) {
  write_file(dir_ / "E.aws", {});
  write_file(dir_ / "F.aws", workspace_image(1234, 0));
  fs::create_directory(dir_ / "D.aws");
  struct Case {
    const char* name;
    std::int64_t expected;
    int expected_errno;
  };
  const Case cases[] = {
      {"F.aws", 1234, 0},
      {"E.aws", 0, 0},
      {"MISSING.aws", -1, ENOENT},
      {"D.aws", -1, EISDIR},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    get_server_side_task_vars()->last_errno = 0;
    EXPECT_EQ(size_ws(path(c.name).c_str()), c.expected);
    EXPECT_EQ(last_errno(), c.expected_errno);
  }
}

TEST_F(WsFilesTest, DeleteWorkspace) {
  write_file(dir_ / "W.aws", workspace_image(100, 0));
  fs::create_directory(dir_ / "D.aws");
  struct Case {
    const char* name;
    int expected;
  };
  const Case cases[] = {
      {"W.aws", 0},
      {"W.aws", 1},  // already gone
      {"NODIR/W.aws", 1},
      {"D.aws", 3},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(delete_ws(path(c.name).c_str()), c.expected);
  }
  EXPECT_FALSE(fs::exists(dir_ / "W.aws"));
  EXPECT_TRUE(fs::is_directory(dir_ / "D.aws"));
}

TEST_F(WsFilesTest, TildeIsTheHomeDirectoryAndARemoteMarkerIsDropped) {
  const char* old_home = std::getenv("HOME");
  const std::optional<std::string> saved = old_home ? std::optional<std::string>(old_home) : std::nullopt;
  ::setenv("HOME", dir_.c_str(), 1);
  const Bytes image = workspace_image(500, 2);
  const int written = write_ws("~/T.aws", static_cast<std::uint32_t>(image.size()), image.data());
  const std::int64_t size = size_ws("~T.aws");  // "~" stands for the directory with its "/"
  Bytes back(image.size());
  const int read = read_ws("~T.aws", static_cast<std::uint32_t>(back.size()), back.data());
  if (saved)
    ::setenv("HOME", saved->c_str(), 1);
  else
    ::unsetenv("HOME");
  EXPECT_EQ(written, 0);
  EXPECT_EQ(read_file(dir_ / "T.aws"), image);
  EXPECT_EQ(size, 500);
  EXPECT_EQ(read, 0);
  EXPECT_EQ(back, image);

  for (int marker : {0x59, 0x55}) {  // ↑ ↓
    const std::string marked = std::string(1, static_cast<char>(fontout(marker))) + path("T.aws");
    EXPECT_EQ(size_ws(marked.c_str()), 500);
  }
}

// ---- library directories ------------------------------------------------------------

TEST_F(WsFilesTest, LibraryNumbersToDirectories) {
  task_.names.ws_directory = "/home/someone";
  set_mount_row(0, "/data/apl");
  set_mount_row(3, "  \t/x/y/ \t ");
  set_mount_row(5, "relative/dir");
  set_mount_row(9, "\t\t");
  const std::string long_row(260, 'q');
  set_mount_row(7, long_row);
  EXPECT_EQ(library(0), "/data/apl/");
  EXPECT_EQ(library(3), "/x/y/");
  EXPECT_EQ(library(5), "relative/dir/");
  EXPECT_EQ(library(1), "/home/someone/");  // blank row
  EXPECT_EQ(library(9), "/home/someone/");  // only tabs
  EXPECT_EQ(library(7), long_row + "/");
  EXPECT_EQ(library(99), "~/");

  const std::string installed = library(10);
  EXPECT_TRUE(installed.ends_with("/ws/")) << installed;
  EXPECT_EQ(library(12), installed);
  EXPECT_EQ(library(0xFFFFFFFFu), installed);  // a negative number

  task_.names.ws_directory = "/already/";
  EXPECT_EQ(library(1), "/already/");
  task_.names.ws_directory.clear();
  EXPECT_EQ(library(1), installed);
}

// ---- )LIB -----------------------------------------------------------------------------

TEST_F(WsFilesTest, LibListingIsSortedInTwelveColumnFieldsFittedToPw) {
  touch_workspaces({"GAMMA", "ALPHA", "DELTA", "BETA", "LONGERNAME14CH", "EXACTLYTWELV", "EPSILON"});
  write_file(dir_ / "NOTE.txt", {});
  write_file(dir_ / ".aws", {});
  write_file(dir_ / "CAPS.AWS", {});
  write_file(dir_ / "OLD.aws~", {});
  struct Case {
    int pw;
    const char* expected;
  };
  const Case cases[] = {
      {80,
       "ALPHA       BETA        DELTA       EPSILON     EXACTLYTWELV GAMMA       \n"
       "LONGERNAME14CH \n"},
      {48,
       "ALPHA       BETA        DELTA       EPSILON     \n"
       "EXACTLYTWELV GAMMA       LONGERNAME14CH \n"},
      {47,
       "ALPHA       BETA        DELTA       \n"
       "EPSILON     EXACTLYTWELV GAMMA       \n"
       "LONGERNAME14CH \n"},
      {5,
       "ALPHA       \nBETA        \nDELTA       \nEPSILON     \nEXACTLYTWELV \nGAMMA       \n"
       "LONGERNAME14CH \n"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.pw);
    task_.output.clear();
    set_pw(c.pw);
    EXPECT_EQ(print_lib(dir_.c_str(), 0), 0);
    EXPECT_EQ(printed(), c.expected);
  }
}

TEST_F(WsFilesTest, LibListingOfNamesBeginningWithOneCharacter) {
  touch_workspaces({"BETA", "ALPHA", "BRAVO", "bravo"});
  EXPECT_EQ(print_lib(dir_.c_str(), fontin('B')), 0);
  EXPECT_EQ(printed(), "BETA        BRAVO       \n");
}

TEST_F(WsFilesTest, LibListingOfADirectoryThatCannotBeListed) {
  write_file(dir_ / "FILE", {});
  EXPECT_EQ(print_lib(path("MISSING").c_str(), 0), 0);
  EXPECT_EQ(task_.output, "");
  EXPECT_EQ(print_lib(path("FILE").c_str(), 0), 3);
  EXPECT_EQ(last_errno(), ENOTDIR);
  EXPECT_EQ(task_.output, "");
}

// While the names fit (300 names, and the name area), they are sorted;
// otherwise they come in the order the directory gives them.
TEST_F(WsFilesTest, LibListingTooLargeToSortComesInDirectoryOrder) {
  struct Case {
    int count;
    std::size_t length;
    bool sorted;
  };
  const Case cases[] = {{300, 6, true}, {301, 6, false}, {37, 150, true}, {38, 150, false}};
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << c.count << " names of " << c.length);
    for (const auto& e : fs::directory_iterator(dir_)) fs::remove(e.path());
    std::vector<std::string> names;
    for (int i = 0; i < c.count; ++i) {
      std::string n = "N" + std::to_string(i * 7919 % 1000);
      names.push_back(n + std::string(c.length - n.size(), 'X'));
    }
    touch_workspaces(names);
    const std::vector<std::string> in_directory = directory_order();
    ASSERT_EQ(in_directory.size(), names.size());
    std::vector<std::string> sorted = in_directory;
    std::sort(sorted.begin(), sorted.end());
    ASSERT_NE(in_directory, sorted) << "the directory lists its names sorted: the case cannot tell";
    const std::vector<std::string>& expected = c.sorted ? sorted : in_directory;

    task_.output.clear();
    EXPECT_EQ(print_lib(dir_.c_str(), 0), 0);
    std::vector<std::string> listed;
    std::string text = printed();
    for (std::size_t pos = 0; pos < text.size();) {
      std::size_t end = text.find_first_of(" \n", pos);
      if (end > pos) listed.push_back(text.substr(pos, end - pos));
      pos = end + 1;
    }
    EXPECT_EQ(listed, expected);
  }
}

// ---- the sequential file ---------------------------------------------------------------

TEST_F(WsFilesTest, SequentialFileWrittenThenReadToTheEnd) {
  const std::string p = path("T.atf");
  write_file(p, Bytes(50, 0xAA));  // truncated by create
  ASSERT_EQ(create_seq(p.c_str()), 0);
  const Bytes a = {1, 2, 3, 4, 5, 6}, b = {7, 8, 9, 10};
  EXPECT_EQ(write_seq(static_cast<std::uint32_t>(a.size()), a.data()), 0);
  EXPECT_EQ(write_seq(static_cast<std::uint32_t>(b.size()), b.data()), 0);
  EXPECT_EQ(close_seq(), 0);
  EXPECT_EQ(read_file(p), (Bytes{1, 2, 3, 4, 5, 6, 7, 8, 9, 10}));

  ASSERT_EQ(open_seq(p.c_str()), 0);
  Bytes chunk(4, 0);
  EXPECT_EQ(read_seq(4, chunk.data()), 0);
  EXPECT_EQ(chunk, (Bytes{1, 2, 3, 4}));
  EXPECT_EQ(read_seq(4, chunk.data()), 0);
  EXPECT_EQ(chunk, (Bytes{5, 6, 7, 8}));
  EXPECT_EQ(read_seq(4, chunk.data()), 5);  // only two bytes left
  EXPECT_EQ(chunk[0], 9);
  EXPECT_EQ(chunk[1], 10);
  EXPECT_EQ(read_seq(4, chunk.data()), 5);
  EXPECT_EQ(write_seq(1, a.data()), 3);  // opened for reading
  EXPECT_EQ(last_errno(), EBADF);
  EXPECT_EQ(close_seq(), 0);
  EXPECT_EQ(close_seq(), 0);  // none open
}

TEST_F(WsFilesTest, SequentialFileFailures) {
  Bytes buffer(8);
  EXPECT_EQ(read_seq(8, buffer.data()), 3);
  EXPECT_EQ(write_seq(8, buffer.data()), 3);
  EXPECT_EQ(open_seq(path("MISSING.atf").c_str()), 1);
  EXPECT_EQ(last_errno(), ENOENT);
  EXPECT_EQ(read_seq(8, buffer.data()), 3);
  EXPECT_EQ(create_seq(path("NODIR/T.atf").c_str()), 3);
  EXPECT_EQ(last_errno(), ENOENT);
  fs::create_directory(dir_ / "D.atf");
  ASSERT_EQ(open_seq(path("D.atf").c_str()), 0);
  EXPECT_EQ(read_seq(8, buffer.data()), 3);
  EXPECT_EQ(last_errno(), EISDIR);
}

// Opening a sequential file while one is open gives up the earlier one's
// descriptor.
TEST_F(WsFilesTest, OpeningASequentialFileReleasesTheOneBefore) {
  const std::string p = path("T.atf");
  write_file(p, {42});
  auto open_descriptors = [] { return std::distance(fs::directory_iterator("/proc/self/fd"), {}); };
  ASSERT_EQ(open_seq(p.c_str()), 0);
  const auto before = open_descriptors();
  for (int i = 0; i < 5; ++i) ASSERT_EQ(open_seq(p.c_str()), 0);
  ASSERT_EQ(create_seq(path("U.atf").c_str()), 0);
  ASSERT_EQ(open_seq(p.c_str()), 0);
  EXPECT_EQ(open_descriptors(), before);
  std::uint8_t byte = 0;
  EXPECT_EQ(read_seq(1, &byte), 0);
  EXPECT_EQ(byte, 42);
  EXPECT_EQ(close_seq(), 0);
  EXPECT_EQ(open_descriptors(), before - 1);
}

TEST_F(WsFilesTest, LatestComponentFileErrorText) {
  get_server_side_task_vars()->last_errno = EACCES;
  get_server_side_task_vars()->last_afl_errno = ENOENT;
  EXPECT_EQ(latest_error_afl(), error_text(ENOENT));
  get_server_side_task_vars()->last_afl_errno = 0;
  EXPECT_EQ(internal_to_utf8(latest_error_afl()), "No error message available");
}

}  // namespace
}  // namespace zema

namespace zema {
namespace {

// ---- saves that are killed or race -------------------------------------------

class WsFilesCrashTest : public WsFilesTest {};

// Kills per run: under the sanitizers each forked writer is many times
// slower, and fewer kills still spread over the whole save.
#if defined(__SANITIZE_ADDRESS__)
constexpr int kKillPoints = 50;
#else
constexpr int kKillPoints = 200;
#endif

// A child saves a workspace of some megabytes and is killed at a random
// moment (seeded): the file on disk is always the old image or the new one,
// whole, and the next save leaves no temporary behind.
TEST_F(WsFilesCrashTest, SaveKilledAtAnyMomentLeavesTheOldOrTheNewImage) {
  const std::string p = path("BIG.aws");
  Bytes images[2] = {workspace_image(3 << 20, 1), workspace_image(3 << 20, 2)};
  ASSERT_EQ(write_ws(p.c_str(), static_cast<std::uint32_t>(images[0].size()), images[0].data()), 0);
  // How long one save takes here, to spread the kills over it.
  const auto start = std::chrono::steady_clock::now();
  ASSERT_EQ(write_ws(p.c_str(), static_cast<std::uint32_t>(images[0].size()), images[0].data()), 0);
  const auto micros = std::chrono::duration_cast<std::chrono::microseconds>(std::chrono::steady_clock::now() - start);
  const long span = std::max<long>(200, static_cast<long>(micros.count()) * 3 / 2);
  std::mt19937 rng(16);
  int on_disk = 0, new_seen = 0;
  for (int kill_point = 0; kill_point < kKillPoints; ++kill_point) {
    const int next = 1 - on_disk;
    pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
      const int rc = write_ws(p.c_str(), static_cast<std::uint32_t>(images[next].size()), images[next].data());
      ::_exit(rc);
    }
    ::usleep(static_cast<useconds_t>(rng() % span));
    ::kill(child, SIGKILL);
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    const Bytes now = read_file(p);
    ASSERT_TRUE(now == images[0] || now == images[1]) << "kill " << kill_point;
    if (now == images[next]) {
      on_disk = next;
      ++new_seen;
    }
  }
  ASSERT_EQ(write_ws(p.c_str(), static_cast<std::uint32_t>(images[0].size()), images[0].data()), 0);
  EXPECT_EQ(entries(), std::vector<std::string>{"BIG.aws"});
  EXPECT_EQ(read_file(p), images[0]);
  std::printf("new image on disk after %d of %d kills\n", new_seen, kKillPoints);
}

// Two processes save the same name at once, a hundred times: the file is
// always one of the two images, whole, and each save reports success.
TEST_F(WsFilesCrashTest, ConcurrentSavesOfOneNameLeaveOneWholeImage) {
  const std::string p = path("SHARED.aws");
  Bytes images[2] = {workspace_image(256 << 10, 5), workspace_image(200 << 10, 6)};
  for (int round = 0; round < 100; ++round) {
    pid_t children[2];
    for (int c = 0; c < 2; ++c) {
      children[c] = ::fork();
      ASSERT_GE(children[c], 0);
      if (children[c] == 0)
        ::_exit(write_ws(p.c_str(), static_cast<std::uint32_t>(images[c].size()), images[c].data()));
    }
    for (pid_t child : children) {
      int status = 0;
      ASSERT_EQ(::waitpid(child, &status, 0), child);
      ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "round " << round;
    }
    const Bytes now = read_file(p);
    ASSERT_TRUE(now == images[0] || now == images[1]) << "round " << round;
    ASSERT_EQ(entries(), std::vector<std::string>{"SHARED.aws"}) << "round " << round;
  }
}

// "~" is the directory the task chose in a file selector, once it chose one;
// another task (thread) still has the home directory.
TEST_F(WsFilesTest, TildeIsTheTasksFileSelectorDirectoryOnceChosen) {
  fs::create_directory(dir_ / "home");
  fs::create_directory(dir_ / "chosen");
  const char* old_home = std::getenv("HOME");
  const std::optional<std::string> saved = old_home ? std::optional<std::string>(old_home) : std::nullopt;
  ::setenv("HOME", (dir_ / "home").c_str(), 1);
  const Bytes image = workspace_image(500, 2);
  set_file_selector_directory((dir_ / "chosen").string());
  const int mine = write_ws("~/T.aws", static_cast<std::uint32_t>(image.size()), image.data());
  int other = -1;
  std::thread([&] {
    CaptureTask t;
    set_current_apl_task(&t);
    other = write_ws("~/U.aws", static_cast<std::uint32_t>(image.size()), image.data());
    set_current_apl_task(nullptr);
  }).join();
  set_file_selector_directory("");
  const int home = write_ws("~/V.aws", static_cast<std::uint32_t>(image.size()), image.data());
  if (saved)
    ::setenv("HOME", saved->c_str(), 1);
  else
    ::unsetenv("HOME");
  EXPECT_EQ(mine, 0);
  EXPECT_EQ(other, 0);
  EXPECT_EQ(home, 0);
  EXPECT_TRUE(fs::exists(dir_ / "chosen" / "T.aws"));
  EXPECT_TRUE(fs::exists(dir_ / "home" / "U.aws"));
  EXPECT_TRUE(fs::exists(dir_ / "home" / "V.aws"));
}

// Read into memory of its own or mapped, the same bytes and the same refusals.
TEST_F(WsFilesTest, WholeReadOfAWorkspaceFile) {
  const Bytes image = workspace_image(9000, 2);
  write_file(path("W.aws"), image);
  Bytes header_only = image;
  header_only[6] = 0;
  write_file(path("X.aws"), header_only);
  write_file(path("EMPTY.aws"), {});
  struct Case {
    const char* name;
    std::uint32_t limit;
    int code;
  } cases[] = {{"W.aws", 9000, 0}, {"W.aws", 8999, 9}, {"X.aws", 9000, 7}, {"EMPTY.aws", 9000, 7}, {"NONE.aws", 9000, 1}};
  for (auto reader : {read_ws_whole, map_ws_whole}) {
    for (const Case& c : cases) {
      SCOPED_TRACE(std::string(c.name) + " " + std::to_string(c.limit) + (reader == map_ws_whole ? " mapped" : ""));
      WsImage got;
      EXPECT_EQ(reader(path(c.name).c_str(), c.limit, got), c.code);
      if (c.code == 0) EXPECT_EQ(Bytes(got.data(), got.data() + got.length), image);
      else EXPECT_EQ(got.data(), nullptr);
    }
  }
}

// Another process may cut a file while it is mapped: a guarded read past the
// new end answers 7 instead of ending the process, and the guard still works
// after that. A fault outside any guarded read still ends the process.
TEST_F(WsFilesTest, GuardedReadOfAMappedFileThatShrank) {
  const std::size_t page = static_cast<std::size_t>(::sysconf(_SC_PAGESIZE));
  write_file(path("CUT.aws"), workspace_image(4 * page, 3));
  WsImage image;
  ASSERT_EQ(map_ws_whole(path("CUT.aws").c_str(), 1u << 20, image), 0);
  ASSERT_EQ(::truncate(path("CUT.aws").c_str(), static_cast<off_t>(page)), 0);
  const std::uint8_t* bytes = image.data();
  volatile std::uint32_t sum = 0;
  auto read_from = [&](std::size_t from, std::size_t to) {
    return [&sum, bytes, from, to] {
      for (std::size_t i = from; i < to; ++i) sum = sum + bytes[i];
    };
  };
  auto whole = read_from(0, 4 * page);
  auto first_page = read_from(0, page);
  for (int round = 0; round < 2; ++round) {
    EXPECT_EQ(guarded_read(bytes, image.length, whole), 7);
    EXPECT_EQ(guarded_read(bytes, image.length, first_page), 0);
  }
  EXPECT_DEATH(whole(), "");
}

}  // namespace
}  // namespace zema

namespace zema {
namespace {

// A staged file replaces the old one only when committed; abandoned (or
// dropped) it leaves the old file as it was and no temporary behind.
TEST_F(WsFilesTest, StagedFileReplacesOnlyWhenCommitted) {
  const std::string p = path("T.atf");
  write_file(p, Bytes{1, 2, 3});
  {
    StagedFile f;
    ASSERT_EQ(begin_staged(p.c_str(), f), 0);
    const Bytes mid{9, 9};
    ASSERT_EQ(write_staged(f, 2, mid.data()), 0);
  }
  EXPECT_EQ(read_file(p), (Bytes{1, 2, 3}));
  {
    StagedFile f;
    ASSERT_EQ(begin_staged(p.c_str(), f), 0);
    const Bytes mid{7, 8};
    ASSERT_EQ(write_staged(f, 2, mid.data()), 0);
    abandon_staged(f);
    EXPECT_NE(write_staged(f, 2, mid.data()), 0);
    EXPECT_NE(commit_staged(f), 0);
  }
  EXPECT_EQ(read_file(p), (Bytes{1, 2, 3}));
  {
    StagedFile f;
    ASSERT_EQ(begin_staged(p.c_str(), f), 0);
    const Bytes whole{4, 5, 6, 7};
    ASSERT_EQ(write_staged(f, 4, whole.data()), 0);
    EXPECT_EQ(read_file(p), (Bytes{1, 2, 3}));
    ASSERT_EQ(commit_staged(f), 0);
  }
  EXPECT_EQ(read_file(p), (Bytes{4, 5, 6, 7}));
  std::size_t files = 0;
  for (const auto& e : fs::directory_iterator(dir_)) files += e.is_regular_file();
  EXPECT_EQ(files, 1u);
  // A directory of that name is not replaced.
  fs::create_directory(dir_ / "D.atf");
  StagedFile d;
  EXPECT_EQ(begin_staged(path("D.atf").c_str(), d), 3);
}

}  // namespace
}  // namespace zema
