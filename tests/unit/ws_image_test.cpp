// Workspaces on disk through the commands and the image installer: round
// trips, refused files that leave the workspace as it was, other sizes, and
// a fuzzer over the installer.
#include <gtest/gtest.h>

#include <unistd.h>

#include <cstdint>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <string>
#include <vector>

#include "files/wsfiles.h"
#include "host/charset.h"
#include "interpreter/session/copy_commands.h"
#include "interpreter/session/definition.h"
#include "interpreter/session/life.h"
#include "interpreter/session/ws_commands.h"
#include "interpreter/session/ws_image.h"
#include "interpreter/sysfns/commands.h"
#include "interpreter/sysfns/names.h"
#include "interpreter/workspace/heap.h"
#include "interpreter/workspace/entry.h"
#include "test_workspace.h"
#include "ws_file_fixture.h"
#include "ws_session.h"

namespace zema {
namespace {

namespace fs = std::filesystem;
using test::Bytes;
using test::CaptureTask;
using test::read_file;
using test::write_file;

using Session = test::WsSession;

class WsImageTest : public test::WsSessionTest {
 protected:
  WsImageTest() : WsSessionTest("wsimage") {}

  // A workspace with values of every kind, a function, changed system
  // variables and a suspended function.
  static void fill(Session& s) {
    s.type({"B←1 0 1 1 0 0 1 0 1", "I←¯3 17 2000000000", "F←2.5 ¯1E300 0.125", "C←2 3⍴'ABCDEF'",
            "N←(1 2)'XY'(3 (4 'Z'))", "E←0⍴⊂1 2", "S←'Q'", "⎕IO←0", "⎕PP←5", "⎕CT←1E¯10", "⎕LX←'HELLO'",
            "∇Z←G X", "Z←X×2", "∇", "∇H", "1÷0", "∇", "H"});
  }
  // What the user sees of that workspace.
  static std::string look(Session& s) {
    return s.type({"B", "I", "F", "C", "N", "⍴E", "S", "⎕IO", "⎕PP", "⎕CT", "⎕LX", "G 21", ")SI", "⍳3"});
  }
};

TEST_F(WsImageTest, SavedWorkspaceLoadsBackEqual) {
  Session s(task_, 512 * 1024);
  fill(s);
  const std::string before = look(s);
  EXPECT_NE(before.find("H[1] *"), std::string::npos) << before;
  s.type({")WSID ROUND", ")SAVE"});
  ASSERT_TRUE(fs::exists(dir_ / "ROUND.aws"));
  const Bytes saved = s.contents();
  s.type({")CLEAR"});
  const std::string loaded = s.type({")LOAD ROUND"});
  EXPECT_EQ(loaded.rfind("SAVED  ", 0), 0u) << loaded;
  EXPECT_EQ(look(s), before);
  EXPECT_EQ(s.type({")WSID"}), "ROUND\n");
  // Nothing of the image depends on where it was: loaded again, the same bytes.
  Session other(task_, 512 * 1024);
  other.type({")LOAD ROUND"});
  EXPECT_EQ(saved.size(), other.contents().size());
  EXPECT_EQ(look(other), before);
}

TEST_F(WsImageTest, LargerAndSmallerWorkspaces) {
  {
    Session s(task_, 512 * 1024);
    fill(s);
    s.type({")SAVE ROUND"});
  }
  Session bigger(task_, 1024 * 1024);
  bigger.type({")LOAD ROUND"});
  EXPECT_NE(bigger.type({")SI"}).find("H[1] *"), std::string::npos);
  EXPECT_EQ(bigger.type({"G 4"}), "8\n");

  // A smaller block that still holds the image: the stack moves down to its
  // top, and the suspended levels are given up.
  Session smaller(task_, 300 * 1024);
  const std::string out = smaller.type({")LOAD ROUND"});
  EXPECT_EQ(out.rfind("SAVED  ", 0), 0u) << out;
  EXPECT_EQ(smaller.type({")SI"}), "");
  EXPECT_EQ(smaller.type({"G 4", "C"}), "8\nABC\nDEF\n");
  EXPECT_EQ(rd32(smaller.ws(), hdr::Top), lowglobals(smaller.ws()).ws_size);

  // Too small for the image: refused, nothing changed.
  Session tiny(task_, 200 * 1024);
  tiny.type({"V←⍳40000"});
  {
    Session big(task_, 512 * 1024);
    big.type({"W←⍳45000", ")SAVE LARGE"});
  }
  const Bytes before = tiny.body();
  EXPECT_EQ(tiny.type({")LOAD LARGE"}), "IO ERROR: WORKSPACE TOO LARGE\n");
  EXPECT_EQ(tiny.body(), before);
}

// A damaged file read into the workspace would lose the work in it: every
// refusal must leave the workspace byte for byte as it was.
TEST_F(WsImageTest, DamagedFilesAreRefusedAndTheWorkspaceStays) {
  {
    Session s(task_, 512 * 1024);
    fill(s);
    s.type({")SAVE GOOD"});
  }
  const Bytes good = read_file(dir_ / "GOOD.aws");
  ASSERT_GT(good.size(), kHeapStart);
  auto patched = [&](std::uint32_t at, std::uint32_t value) {
    Bytes b = good;
    std::memcpy(b.data() + at, &value, 4);
    return b;
  };
  struct Case {
    const char* what;
    Bytes file;
    const char* message;
  } cases[] = {
      {"cut in the heap", Bytes(good.begin(), good.begin() + kHeapStart + 40), "WS INVALID"},
      {"cut by one byte", Bytes(good.begin(), good.end() - 1), "WS INVALID"},
      {"other byte order", patched(kSymtabStart + 16, 0x6F694C03), "WS INVALID"},
      {"heap top past the end", patched(hdr::HeapTop, static_cast<std::uint32_t>(good.size()) + 8), "WS INVALID"},
      {"stack pointer off", patched(hdr::StackPointer, rd32(const_cast<std::uint8_t*>(good.data()), hdr::StackPointer) + 4), "WS INVALID"},
      {"SI link outside the stack", patched(hdr::SiLink, 64), "WS INVALID"},
      {"a value's owner broken", patched(kFirstOwnerWord, 0x12345678), "WS INVALID"},
      {"short header", Bytes(good.begin(), good.begin() + 20), "FILE FORMAT NOT RECOGNIZED"},
  };
  Session s(task_, 512 * 1024);
  s.type({"KEEP←'MINE'", ")WSID MINE"});
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    write_file(dir_ / "BAD.aws", c.file);
    const Bytes before = s.body();
    EXPECT_EQ(s.type({")LOAD BAD"}), std::string(c.message) + "\n");
    EXPECT_EQ(s.body(), before);
  }
  EXPECT_EQ(s.type({"KEEP", ")WSID"}), "MINE\nMINE\n");
  write_file(dir_ / "TEXT.aws", Bytes(100, 'x'));
  EXPECT_EQ(s.type({")LOAD TEXT"}), "FILE FORMAT NOT RECOGNIZED\n");
}

// The installer takes any bytes: it accepts a sound image or leaves the
// workspace as it was, and never reads or writes outside the block (run it
// under the sanitizers). ZEMA_FUZZ_ROUNDS runs it longer.
TEST_F(WsImageTest, FuzzedImagesNeverHarmTheWorkspace) {
  {
    Session s(task_, 512 * 1024);
    fill(s);
    s.type({")SAVE GOOD"});
  }
  const Bytes good = read_file(dir_ / "GOOD.aws");
  Session s(task_, 512 * 1024);
  s.type({"KEEP←⍳10"});
  Bytes clean = s.contents();
  const char* env = std::getenv("ZEMA_FUZZ_ROUNDS");
  const int rounds = env ? std::atoi(env) : 300;
  std::mt19937 rng(20261211);
  int accepted = 0;
  for (int round = 0; round < rounds; ++round) {
    Bytes b = good;
    const int kind = round % 4;
    if (kind == 0) {
      b.resize(rng() % b.size());
    } else {
      const int flips = 1 + static_cast<int>(rng() % 8);
      for (int f = 0; f < flips; ++f) {
        // Half of the damage in the header and symbol table, where the
        // offsets are.
        const std::size_t at = (rng() & 1) ? rng() % kHeapStart : rng() % b.size();
        if (kind == 1) b[at] ^= static_cast<std::uint8_t>(1u << (rng() % 8));
        else if (kind == 2) b[at] = static_cast<std::uint8_t>(rng());
        else if (at + 4 <= b.size()) {
          const std::uint32_t v = static_cast<std::uint32_t>(rng() % (b.size() + 64));
          std::memcpy(b.data() + at, &v, 4);
        }
      }
    }
    const int r = install_image(b.data(), static_cast<std::uint32_t>(b.size()), 0, false, s.ws());
    if (r == IR_OK) {
      ++accepted;
      // Start again from the clean workspace.
      ASSERT_EQ(install_image(good.data(), static_cast<std::uint32_t>(good.size()), 0, false, s.ws()), IR_OK);
      clear_workspace(s.ws());
      s.type({"KEEP←⍳10"});
      clean = s.contents();
    } else {
      const Bytes now = s.contents();
      std::size_t i = 0;
      while (i < now.size() && i < clean.size() && now[i] == clean[i]) ++i;
      ASSERT_EQ(now, clean) << "round " << round << " first difference at " << i << " of " << now.size() << " / " << clean.size();
    }
  }
  EXPECT_LT(accepted, rounds);
}

// An image whose saved top equals its saved stack pointer carries no stack
// segment at all: it loads as a workspace with an empty stack, into a
// workspace of the same size, a larger and a smaller one.
TEST_F(WsImageTest, ImageWithoutStackSegmentLoadsWithAnEmptyStack) {
  {
    Session s(task_, 512 * 1024);
    s.type({"V←⍳5", "∇Z←G X", "Z←X×2", "∇", ")SAVE NOSTACK"});
  }
  Bytes b = read_file(dir_ / "NOSTACK.aws");
  const std::uint32_t heap = rd32(b.data(), hdr::HeapTop);
  ASSERT_EQ(b.size(), heap + 4u);  // the sentinel alone
  b.resize(heap);
  const std::uint32_t top = rd32(b.data(), hdr::Top);
  std::memcpy(b.data() + hdr::StackPointer, &top, 4);
  write_file(dir_ / "NOSTACK.aws", b);
  for (std::uint32_t size : {512u * 1024, 1024u * 1024, 300u * 1024}) {
    SCOPED_TRACE(size);
    Session s(task_, size);
    const std::string out = s.type({")LOAD NOSTACK"});
    EXPECT_EQ(out.rfind("SAVED  ", 0), 0u) << out;
    EXPECT_EQ(s.type({"V", "G 4", ")SI"}), "1 2 3 4 5\n8\n");
    const std::uint32_t t = rd32(s.ws(), hdr::Top);
    EXPECT_EQ(t, lowglobals(s.ws()).ws_size);
    EXPECT_EQ(rd32(s.ws(), hdr::StackPointer), t - 4);
    EXPECT_EQ(rd32(s.ws(), hdr::SiLink), t - 4);
    EXPECT_EQ(rd32(s.ws(), t - 4), 0u);
  }
}

// A file cut by another process while the load has it mapped: refused as
// WS INVALID, the workspace as it was. The first image is cut where its
// check reads (the stack segment at its end), the second, without a stack
// segment, only while it is copied in.
TEST_F(WsImageTest, FileCutWhileMappedIsRefusedAndTheWorkspaceStays) {
  {
    Session s(task_, 512 * 1024);
    fill(s);
    s.type({"BIG←⍳20000", ")SAVE WITHSTACK"});
  }
  Bytes b = read_file(dir_ / "WITHSTACK.aws");
  const std::uint32_t heap = rd32(b.data(), hdr::HeapTop);
  b.resize(heap);
  const std::uint32_t top = rd32(b.data(), hdr::Top);
  std::memcpy(b.data() + hdr::StackPointer, &top, 4);
  write_file(dir_ / "NOSTACK.aws", b);
  Session s(task_, 512 * 1024);
  s.type({"KEEP←⍳5000", ")WSID MINE"});
  for (const char* name : {"WITHSTACK.aws", "NOSTACK.aws"}) {
    SCOPED_TRACE(name);
    const std::string path = (dir_ / name).string();
    WsImage image;
    ASSERT_EQ(map_ws_whole(path.c_str(), 512 * 1024, image), 0);
    ASSERT_EQ(::truncate(path.c_str(), kHeapStart + 100), 0);
    const Bytes before = s.body();
    EXPECT_EQ(install_image(image.data(), image.length, 0, false, s.ws()), IR_INVALID);
    EXPECT_EQ(s.body(), before);
  }
  EXPECT_EQ(s.type({"+/KEEP", ")WSID"}), "12502500\nMINE\n");
}

// The name GRP (a variable first) made a group of the names in `members`
// (each followed by a blank), as )GROUP would leave it.
void make_group(Session& s, const std::string& members) {
  s.type({"GRP←0"});
  Ws ws = s.ws();
  const std::string name = utf8_to_internal("GRP");
  const NameRef r = look_up_name(reinterpret_cast<const std::uint8_t*>(name.data()), 3, ws);
  ASSERT_EQ(r.kind, NameKind::Found);
  const std::string text = utf8_to_internal(members);
  const std::uint32_t length = static_cast<std::uint32_t>(text.size());
  const std::uint32_t g = getspc(4 + ((length + 3) & ~3u), ws);
  wr32(ws, g + 8, length);
  std::memcpy(ws + g + 12, text.data(), length);
  mgarb(rd32(ws, r.entry + sym::Value), ws);
  wr32(ws, r.entry + sym::Value, g);
  wr8(ws, r.entry + sym::Type, static_cast<std::uint8_t>((rd8(ws, r.entry + sym::Type) & ~kSymTypeMask) | SYM_GROUP));
  set_owner(g, r.entry, OK_SYMBOL, ws);
}

TEST_F(WsImageTest, CopyOfAGroupBringsTheMembersThatHaveValues) {
  task_.names.temp_name1 = (dir_ / "copy1").string();
  task_.names.temp_name2 = (dir_ / "copy2").string();
  install_copy_commands();
  Session s(task_, 512 * 1024);
  s.type({"A←1 2", "B←'b'", "C←3", "∇R←F X", "R←X+1", "∇"});
  make_group(s, "A F NOPE B ");
  s.type({")WSID SRC", ")SAVE", ")CLEAR", "C←'kept'"});
  const std::string copied = s.type({")SCOPY SRC GRP"});
  EXPECT_EQ(copied, "");  // a member without value is passed over silently
  EXPECT_EQ(s.type({"A", "B", "C", "F 1", "⎕NC 'NOPE'"}), "1 2\nb\nkept\n2\n0\n");
  EXPECT_FALSE(fs::exists(dir_ / "copy1") || fs::exists(dir_ / "copy2"));
}

// Should the image of the workspace saved at the start of a copy not load
// back (here the transfer records have overwritten it: both temporaries
// are one file), the copy kept in memory is put back: the workspace is
// never lost.
TEST_F(WsImageTest, CopyWhoseSavedWorkspaceDoesNotLoadBackKeepsTheWorkspace) {
  task_.names.temp_name1 = (dir_ / "same").string();
  task_.names.temp_name2 = (dir_ / "same").string();
  install_copy_commands();
  Session s(task_, 512 * 1024);
  s.type({"A←1 2", ")WSID SRC", ")SAVE", ")CLEAR", "B←'mine'", "∇R←G X", "R←X×2", "∇"});
  const std::string copied = s.type({")SCOPY SRC A"});
  EXPECT_EQ(copied, "WS INVALID\n");
  EXPECT_EQ(s.type({"A", "B", "G 4", ")WSID"}), "1 2\nmine\n8\nCLEAR WS\n");
}


// A session whose output fails with SYSTEM ERROR the first time a given
// text is written: an internal failure deep inside execution (a function
// running, another suspended, a value being displayed).
class FailingTask : public CaptureTask {
 public:
  std::string fail_on;  // internal characters
  void WriteOutput(const char* text, std::size_t n) override {
    CaptureTask::WriteOutput(text, n);
    if (!fail_on.empty() && output.find(fail_on) != std::string::npos) {
      fail_on.clear();
      ZEMA_SYSTEM_ERROR(wsBase);
    }
  }
};

// The dump a SYSTEM ERROR writes loads back with )LOAD, whatever was
// under way: the user's work is in it.
TEST_F(WsImageTest, SystemErrorDumpLoadsBack) {
  struct Case {
    const char* what;
    const char* fail_on;
    const char* line;
  } cases[] = {
      {"inside a function", "ABOUT TO FAIL", "F 3"},
      {"displaying at immediate execution", "HELLO", "'HELLO'"},
      {"inside an executed text under an operator", "ABOUT TO FAIL", "⍎'F¨1 2'"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    FailingTask task;
    task.names.ws_directory = dir_.string() + "/";
    test::CurrentTask current(&task);
    for (const auto& f : fs::directory_iterator(dir_)) fs::remove(f.path());
    Session s(task, 512 * 1024);
    s.type({"KEEP←'MINE' 1 2 3", "N←(1 2)'XY'", "∇Z←F X", "Z←X×2", "'ABOUT TO FAIL'", "∇", "∇H", "1÷0", "∇", "H",
            ")WSID WORK"});
    const std::string look = s.type({"KEEP", "N", "F 4", "⎕NL 3"});
    task.fail_on = utf8_to_internal(c.fail_on);
    const std::string failed = s.type({c.line});
    ASSERT_NE(failed.find("SYSTEM ERROR"), std::string::npos) << failed;
    EXPECT_EQ(s.type({"⎕NC 'KEEP'"}), "0\n");  // the workspace was cleared
    std::vector<fs::path> dumps;
    for (const auto& f : fs::directory_iterator(dir_))
      if (f.path().extension() == ".dmp") dumps.push_back(f.path());
    ASSERT_EQ(dumps.size(), 1u);
    fs::copy_file(dumps[0], dir_ / "DUMP.aws");
    const std::string loaded = s.type({")LOAD DUMP"});
    EXPECT_EQ(loaded.rfind("SAVED ", 0), 0u) << loaded;
    EXPECT_EQ(s.type({"KEEP", "N", "F 4", "⎕NL 3"}), look);
    // It goes on as a workspace: saved and loaded again.
    const std::string again = s.type({")SIC", ")SAVE AGAIN", ")LOAD AGAIN"});
    EXPECT_NE(again.find("SAVED "), std::string::npos) << again;
    EXPECT_EQ(s.type({"KEEP", "N", "F 4", "⎕NL 3"}), look);
  }
}

}  // namespace
}  // namespace zema
