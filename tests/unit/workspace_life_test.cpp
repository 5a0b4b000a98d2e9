// The workspace's life as a whole: resizing, packing, paths and the
// internal-failure exit.
#include <gtest/gtest.h>

#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <regex>
#include <string>
#include <vector>

#include "host/charset.h"
#include "interpreter/session/life.h"
#include "interpreter/workspace/entry.h"
#include "interpreter/workspace/errors.h"
#include "interpreter/workspace/heap.h"
#include "test_workspace.h"

namespace zema {
namespace {

using test::CaptureTask;
using test::CurrentTask;
using test::TestWorkspace;

// The session output as lines: each carriage return ends one.
std::string printed(const CaptureTask& t) {
  std::string s = internal_to_utf8(t.output);
  for (char& c : s)
    if (c == '\r') c = '\n';
  return s;
}

TEST(ResizeWorkspace, MovesIntoANewBlockClearsAndReportsTheSize) {
  CaptureTask task;
  CurrentTask current(&task);
  std::vector<std::uint8_t> first(200 * 1024);
  Ws ws = apl_setup(first.data(), static_cast<std::uint32_t>(first.size()), "", 7);
  task.wsBase = ws;
  clear_workspace(ws);
  lowglobals(ws).mount[2][0] = 0x61;  // LowGlobals goes along
  struct Case {
    std::uint32_t ask;
    const char* line;
  } cases[] = {{100000, "WS Size = 200KB"}, {1572864, "WS Size = 1.5MB"}, {209715200, "WS Size = 200MB"}};
  for (const Case& c : cases) {
    task.output.clear();
    Ws moved = nullptr;
    try {
      resize_ws(c.ask, ws);
      FAIL() << "resize returned";
    } catch (const EnterImmediate& e) {
      moved = e.ws;
    }
    ASSERT_NE(moved, nullptr);
    EXPECT_NE(moved, ws);
    std::uint32_t bytes = std::max<std::uint32_t>(c.ask, 204800);
    EXPECT_EQ(lowglobals(moved).ws_size, ((bytes + 10000) & ~3u) - kLowGlobalsSize);
    EXPECT_EQ(rd32(moved, hdr::Top), lowglobals(moved).ws_size);
    EXPECT_EQ(rd32(moved, hdr::HeapTop), kHeapStart);
    EXPECT_EQ(lowglobals(moved).mount[2][0], 0x61);
    EXPECT_EQ(lowglobals(moved).task_id, 7u);
    EXPECT_EQ(printed(task), std::string(c.line) + "\nCLEAR WS\n") << c.ask;
    ws = moved;
  }
  forget_side_state(ws);
}

TEST(PackedImage, StackSegmentFollowsTheHeapAndComesBack) {
  TestWorkspace t;
  Ws ws = t.ws();
  std::uint32_t obj = getspc(20, ws);
  wr32(ws, obj + 12, 0x12345678);
  // Three words on the stack above the sentinel.
  std::uint32_t sp = rd32(ws, hdr::StackPointer);
  for (std::uint32_t i = 1; i <= 3; ++i) wr32(ws, sp - 4 * i, 0xA0 + i);
  wr32(ws, hdr::StackPointer, sp - 12);
  std::uint32_t heap_top = rd32(ws, hdr::HeapTop);
  std::uint32_t len = pkws(ws);
  EXPECT_EQ(len, heap_top + 16);
  EXPECT_EQ(rd32(ws, heap_top), 0xA3u);
  EXPECT_EQ(rd32(ws, heap_top + 12), 0u);  // the sentinel, last
  for (std::uint32_t i = 1; i <= 3; ++i) wr32(ws, sp - 4 * i, 0);
  unpkws(ws);
  for (std::uint32_t i = 1; i <= 3; ++i) EXPECT_EQ(rd32(ws, sp - 4 * i), 0xA0 + i);
  EXPECT_EQ(rd32(ws, obj + 12), 0x12345678u);
}

std::string path_of(const char* p) { return std::string(p); }

TEST(WorkspacePaths, DirectoryNameAndExtension) {
  TestWorkspace t;
  Ws ws = t.ws();
  LowGlobals& lg = lowglobals(ws);
  std::string dir = utf8_to_internal("/data/apl/");
  std::memcpy(lg.mount[1], dir.data(), dir.size());
  std::string n = utf8_to_internal("MYWS");
  std::uint8_t name[16] = {static_cast<std::uint8_t>(n.size())};
  std::memcpy(name + 1, n.data(), n.size());
  EXPECT_EQ(path_of(wsset(1, 0, name, ws)), "/data/apl/MYWS.aws");
  // A whole path: no directory, no extension.
  EXPECT_EQ(path_of(wsset(1, 0x8000, name, ws)), "MYWS");
  lg.extension = kExtAtf;
  EXPECT_EQ(path_of(wsset(1, 0, name, ws)), "/data/apl/MYWS.atf");
  lg.extension = kExtAws;
  // Library 99 is the home directory.
  std::string home = std::getenv("HOME") ? std::getenv("HOME") : "";
  std::string p99 = wsset(99, 0, name, ws);
  EXPECT_TRUE(p99.rfind("~", 0) == 0 || (!home.empty() && p99.rfind(home, 0) == 0)) << p99;
  EXPECT_EQ(p99.substr(p99.size() - 9), "/MYWS.aws");
  // The )COPY temporaries take the host's temporary names whatever the name.
  side_state(ws).temp_name1 = "/tmp/copy1.atm";
  side_state(ws).temp_name2 = "/tmp/copy2.aff";
  lg.extension = kExtAtm;
  EXPECT_EQ(path_of(wsset(1, 0, name, ws)), "/tmp/copy1.atm");
  lg.extension = kExtAff;
  EXPECT_EQ(path_of(wsset(1, 0, name, ws)), "/tmp/copy2.aff");
  lg.extension = kExtAws;
  // A name too long for the buffer is cut, never written past it.
  std::uint8_t longname[256] = {255};
  std::memset(longname + 1, 0x61, 255);
  std::memset(lg.mount[1], 0x61, 260);
  std::string p = wsset(1, 0, longname, ws);
  EXPECT_LT(p.size(), sizeof lg.path);
  EXPECT_EQ(p.substr(p.size() - 4), ".aws");
}

TEST(SystemError, DumpsTheWorkspaceReportsTheLocationAndClears) {
  CaptureTask task;
  CurrentTask current(&task);
  TestWorkspace t;
  Ws ws = t.ws();
  char tmpl[] = "/tmp/zema_syserXXXXXX";
  ASSERT_NE(::mkdtemp(tmpl), nullptr);
  std::string dir = std::string(tmpl) + "/";
  std::string internal_dir = utf8_to_internal(dir);
  std::memset(lowglobals(ws).mount[0], 0x20, 260);
  std::memcpy(lowglobals(ws).mount[0], internal_dir.data(), internal_dir.size());
  std::uint32_t obj = getspc(16, ws);
  mgarb(obj, ws);
  std::string expected_first;
  for (int round = 0; round < 2; ++round) {
    task.output.clear();
    std::uint32_t o = getspc(16, ws);
    mgarb(o, ws);
    EXPECT_THROW(mgarb(o, ws), EnterImmediate);  // released twice
    std::string out = printed(task);
    // The location is the source file (its name alone) and line that raised it.
    EXPECT_TRUE(std::regex_search(out, std::regex("SYSTEM ERROR\nLocation: heap\\.cpp\\[[1-9][0-9]*\\]\n"))) << out;
    EXPECT_EQ(rd32(ws, hdr::HeapTop), kHeapStart);  // cleared
  }
  // Two system errors in one process write two dumps, named one after another.
  int dumps = 0;
  for (const auto& e : std::filesystem::directory_iterator(tmpl)) {
    std::string f = e.path().filename().string();
    EXPECT_EQ(f.rfind("ZEMAERR", 0), 0u) << f;
    EXPECT_EQ(f.substr(f.size() - 4), ".dmp");
    ++dumps;
  }
  EXPECT_EQ(dumps, 2);
  std::filesystem::remove_all(tmpl);
}

// A dump never replaces a file that is there: another task's dump, or one
// of an earlier session. With every name taken, no dump is written.
TEST(SystemError, DumpNeverOverwritesAnExistingFile) {
  CaptureTask task;
  CurrentTask current(&task);
  TestWorkspace t;
  Ws ws = t.ws();
  char tmpl[] = "/tmp/zema_syserXXXXXX";
  ASSERT_NE(::mkdtemp(tmpl), nullptr);
  const std::string internal_dir = utf8_to_internal(std::string(tmpl) + "/");
  std::memset(lowglobals(ws).mount[0], 0x20, 260);
  std::memcpy(lowglobals(ws).mount[0], internal_dir.data(), internal_dir.size());
  std::vector<std::string> names;
  for (int c = '0'; c < '0' + 75; ++c) {
    names.push_back(std::string(tmpl) + "/ZEMAERR" + static_cast<char>(c) + ".dmp");
    std::FILE* f = std::fopen(names.back().c_str(), "wb");
    ASSERT_NE(f, nullptr);
    std::fputs("earlier", f);
    std::fclose(f);
  }
  EXPECT_THROW(ZEMA_SYSTEM_ERROR(ws), EnterImmediate);
  for (const std::string& n : names) {
    std::FILE* f = std::fopen(n.c_str(), "rb");
    ASSERT_NE(f, nullptr) << n;
    char buffer[16] = {};
    EXPECT_EQ(std::fread(buffer, 1, sizeof buffer, f), 7u) << n;
    std::fclose(f);
  }
  std::filesystem::remove_all(tmpl);
}

TEST(SystemError, ReportsTheFileAndLineThatRaisedIt) {
  CaptureTask task;
  CurrentTask current(&task);
  TestWorkspace t;
  Ws ws = t.ws();
  char tmpl[] = "/tmp/zema_syserXXXXXX";
  ASSERT_NE(::mkdtemp(tmpl), nullptr);
  const std::string internal_dir = utf8_to_internal(std::string(tmpl) + "/");
  std::memset(lowglobals(ws).mount[0], 0x20, 260);
  std::memcpy(lowglobals(ws).mount[0], internal_dir.data(), internal_dir.size());
  int line = 0;
  try {
    line = __LINE__, ZEMA_SYSTEM_ERROR(ws);
  } catch (const EnterImmediate&) {
  }
  EXPECT_EQ(printed(task),
            "SYSTEM ERROR\nLocation: workspace_life_test.cpp[" + std::to_string(line) + "]\nCLEAR WS\n");
  EXPECT_EQ(rd32(ws, hdr::HeapTop), kHeapStart);  // cleared
  std::filesystem::remove_all(tmpl);
}

}  // namespace
}  // namespace zema
