// Damaged workspace files through the real )LOAD: a few rich workspaces
// (functions with control structures, operators, classes, instances and a
// suspended state indicator) are saved, damaged at seeded random single and
// double byte positions and at every byte of the header, and loaded into a
// session that holds work of its own. A refused image must leave that work
// byte for byte; an accepted one must survive calls, display, ⎕CR of
// everything, resuming the suspended line, )SAVE and a second )LOAD without
// a crash or a SYSTEM ERROR. Each load runs in a child process, so that one
// fault is reported with its case and the others still run.
// ZEMA_LOAD_FUZZ_ROUNDS sets the random damages per workspace;
// ZEMA_LOAD_FUZZ_CASE="FNS byte 0x4A17" runs that one case in process.
#include <gtest/gtest.h>

#include <sys/wait.h>
#include <unistd.h>

#include <csignal>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <random>
#include <string>
#include <vector>

#include "interpreter/session/ws_commands.h"
#include "interpreter/session/ws_image.h"
#include "interpreter/sysfns/commands.h"
#include "test_workspace.h"
#include "ws_file_fixture.h"
#include "ws_session.h"

namespace zema {
namespace {

using test::Bytes;
using test::read_file;
using test::WsSession;
using test::write_file;

// A workspace to damage: the lines that build it, and the lines that use
// everything in it after a load.
struct Source {
  const char* name;
  std::vector<std::string> build;
  std::vector<std::string> use;
};

const Source kSources[] = {
    {"FNS",
     {"V←⍳5", "B←1 0 1 1 0 0 1", "R←2.5 ¯1E300", "C←2 3⍴'ABCDEF'", "N←(1 2)'XY'(3(4 'Z'))", "E←0⍴⊂1 2",
      "⎕IO←1", "⎕PP←7",
      "∇Z←G X;T", "⍝ doubles its argument", "Z←X×2", "T←'text' 1.5 ⍬", "∇",
      "∇Z←L ADD R", "Z←L+R", "∇",
      "∇Z←LOOP N;I", "Z←0", ":For I :In ⍳N", ":If 0=2|I", "Z←Z+I", ":Else", "Z←Z-1", ":EndIf", ":EndFor",
      "→END", "Z←¯1", "END:Z←Z,'done'", "∇",
      "∇Z←(F OP) R", "Z←F R", "∇",
      "∇Z←L (F DOP G) R", "Z←(L F R) G R", "∇",
      "∇NIL", "'niladic'", "∇",
      "∇Z←INV X", "Z←1÷X", "∇",
      "∇H X", "X÷0", "∇",
      "∇SUS;V;I", "V←'shadow'", ":For I :In ⍳3", "I÷0", ":EndFor", "∇",
      "H 1", "SUS", "INV¨0 2"},
     {"V", "B", "R", "C", "N", "⍴E", "G 21", "1 ADD 2", "LOOP 5", "-OP 3", "1 +DOP× 2", "G OP 4", "NIL",
      ")SI", ")FNS", ")VARS", "⎕NL 2 3 4", "⎕CR 'G'", "⎕CR 'ADD'", "⎕CR 'LOOP'", "⎕CR 'OP'", "⎕CR 'DOP'",
      "⎕CR 'NIL'", "⎕CR 'INV'", "⎕CR 'H'", "⎕CR 'SUS'", "→⎕LC", ")SI", "→⎕LC", ")SI", "→⎕LC", ")SIC", "V", "LOOP 3"}},
    {"CLS",
     {"∇Base {", "v", "∇Z←Twice R", "Z←2×R", "∇", "}",
      "∇Point:Base {", "x", "y←3", "∇Z←Fail R", "Z←R", "L:Z←÷0", "∇", "∇Z←Sum", "Z←x+y", "∇", "}",
      "P←⎕NEW 'Point'", "P.x←1 2 3", "Q←⎕NEW 'Base'", "Q.v←'text'", "P.v←Q", "L←P Q (⎕NEW 'Point')",
      "P.⎕DF 'the P'", "P.Fail 3"},
     {"P", "Q", "L", "P.x", "P.y", "P.v", "P.Sum", "P.Twice 4", "Q.Twice 5", "⎕CR 'Base'", "⎕CR 'Point'",
      "⎕NL 2 3 4 9", ")SI", ")CLASSES", "⍴⎕INSTANCES 'Point'", "→⎕LC", ")SIC", "(⎕NEW 'Point').Sum"}},
    // Saved by a program from inside itself: the image holds the running
    // function and the executed text's level.
    {"EXEC",
     {"W←'work'", "∇Z←TWICE X", "Z←2×X", "∇", "∇G;L", "L←'local'", "'one'", "⍎')SAVE EXEC'", "'two',L", "∇",
      ")WSID EXEC", "G"},
     {"W", "TWICE 4", ")SI", "⎕CR 'G'", "→⎕LC", ")SI", ")SIC", "W", "G"}},
};

// How a child's case ended (its exit status).
enum Outcome : int {
  kRefusedIntact = 0,
  kLoadedAndUsed = 1,
  kWorkspaceChanged = 10,  // refused, but the session's work is not as it was
  kSystemError = 11,       // SYSTEM ERROR on the way
  kSecondLoadRefused = 13, // what was saved after an accepted load does not load back
  kUnexpected = 14,        // an exception that escaped
};

const char* outcome_text(int code) {
  switch (code) {
    case kWorkspaceChanged: return "refused, but the workspace was changed";
    case kSystemError: return "SYSTEM ERROR";
    case kSecondLoadRefused: return "saved again, does not load back";
    case kUnexpected: return "an exception escaped";
    default: return "sanitizer report or abnormal exit";
  }
}

class WsLoadFuzzTest : public test::WsSessionTest {
 protected:
  WsLoadFuzzTest() : WsSessionTest("wsloadfuzz") {}

  // The workspace file of `source` as saved.
  Bytes saved(const Source& source) {
    WsSession s(task_, 512 * 1024);
    for (const std::string& line : source.build) s.type({line});
    // Unless the workspace saved itself from inside a program.
    const auto file = dir_ / (std::string(source.name) + ".aws");
    if (!std::filesystem::exists(file)) s.type({std::string(")WSID ") + source.name, ")SAVE"});
    Bytes b = read_file(file);
    EXPECT_GT(b.size(), kHeapStart) << source.name;
    return b;
  }

  // In a child process: a session with work of its own loads `file`; the
  // exit status says how it went (Outcome), a signal that it crashed.
  [[noreturn]] void run_case(const Source& source, const Bytes& file, const std::string& what) {
    what_ = what;
    alarm(60);
    int code = kUnexpected;
    try {
      code = load_and_use(source, file);
    } catch (...) {
    }
    std::fflush(nullptr);
    _exit(code);
  }

  int load_and_use(const Source& source, const Bytes& file) {
    WsSession s(task_, 512 * 1024);
    s.type({"KEEP←'MINE'", "∇Z←MY X", "Z←X", "∇", ")WSID MINE"});
    write_file(dir_ / "BAD.aws", file);
    const Bytes before = s.body();
    const std::string loaded = s.type({")LOAD BAD"});
    if (loaded.find("SYSTEM ERROR") != std::string::npos) return report(kSystemError, loaded);
    if (loaded.rfind("SAVED ", 0) != 0) {
      // Refused (WS INVALID, or a lock that no longer matches).
      if (s.body() != before) return report(kWorkspaceChanged, loaded);
      if (s.type({"KEEP", "MY 3", ")WSID"}) != "MINE\n3\nMINE\n") return report(kWorkspaceChanged, loaded);
      return kRefusedIntact;
    }
    std::string out;
    for (const std::string& line : source.use) out += s.type({line});
    out += s.type({")SAVE AGAIN"});
    if (out.find("SYSTEM ERROR") != std::string::npos) return report(kSystemError, out);
    const std::string again = s.type({")LOAD AGAIN"});
    if (again.rfind("SAVED ", 0) != 0) return report(kSecondLoadRefused, again);
    out.clear();
    for (const std::string& line : source.use) out += s.type({line});
    if (out.find("SYSTEM ERROR") != std::string::npos) return report(kSystemError, out);
    return kLoadedAndUsed;
  }

  int report(int code, const std::string& out) {
    std::fprintf(stderr, "---- %s %s\n%s\n", outcome_text(code), what_.c_str(), out.substr(0, 3000).c_str());
    return code;
  }

  // Runs one damaged file; answers a description of the fault, or "".
  std::string try_case(const Source& source, const Bytes& file, const std::string& what, int& loaded) {
    std::fflush(nullptr);
    const pid_t pid = fork();
    if (pid == 0) run_case(source, file, what);
    if (pid < 0) return "fork failed";
    int status = 0;
    if (waitpid(pid, &status, 0) != pid) return "wait failed";
    if (WIFSIGNALED(status)) {
      return WTERMSIG(status) == SIGALRM ? std::string("hang")
                                          : "crash, signal " + std::to_string(WTERMSIG(status));
    }
    const int code = WEXITSTATUS(status);
    if (code == kRefusedIntact) return "";
    if (code == kLoadedAndUsed) {
      ++loaded;
      return "";
    }
    return outcome_text(code);
  }

  // Damages `good` in each way `damage` gives and loads each; fails with
  // the list of faults.
  template <typename Damage>
  void run(const Source& source, const Bytes& good, int cases, Damage damage) {
    std::vector<std::string> faults;
    int loaded = 0;
    const char* only = std::getenv("ZEMA_LOAD_FUZZ_CASE");
    for (int i = 0; i < cases; ++i) {
      Bytes b = good;
      const std::string what = damage(i, b);
      if (only != nullptr) {
        // One case, in this process (for a debugger).
        if (std::string(source.name) + " " + what == only) {
          what_ = what;
          std::printf("outcome %d\n", load_and_use(source, b));
        }
        continue;
      }
      const std::string fault = try_case(source, b, what, loaded);
      if (!fault.empty()) faults.push_back(std::string(source.name) + " " + what + ": " + fault);
    }
    std::string all;
    for (const std::string& f : faults) all += f + "\n";
    EXPECT_TRUE(faults.empty()) << faults.size() << " of " << cases << " damaged images fault:\n" << all;
    std::printf("%s: %d of %d damaged images loaded\n", source.name, loaded, cases);
  }

  std::string what_;

  static std::string hex(std::size_t at) {
    char text[32];
    std::snprintf(text, sizeof text, "0x%zX", at);
    return text;
  }
};

// The undamaged workspaces load and are used without a fault (the
// harness itself is sound).
TEST_F(WsLoadFuzzTest, SoundWorkspacesLoadAndRun) {
  for (const Source& source : kSources) {
    const Bytes good = saved(source);
    int loaded = 0;
    EXPECT_EQ(try_case(source, good, "none", loaded), "") << source.name;
    EXPECT_EQ(loaded, 1) << source.name;
  }
}

// Every byte of the header, the engine and session state words among
// them, set to a value of its own and to its complement.
TEST_F(WsLoadFuzzTest, EveryHeaderByteDamaged) {
  for (const Source& source : kSources) {
    const Bytes good = saved(source);
    std::mt19937 rng(700);
    run(source, good, 2 * kHeaderSize, [&](int i, Bytes& b) {
      const std::size_t at = static_cast<std::size_t>(i / 2);
      const std::uint8_t was = b[at];
      b[at] = i % 2 ? static_cast<std::uint8_t>(~was) : static_cast<std::uint8_t>(was ^ (1u << (rng() % 8)));
      if (b[at] == was) b[at] ^= 0x01;
      return "header byte " + hex(at);
    });
  }
}

// One or two bytes changed at seeded random places of the symbol table,
// the heap and the stack segment.
TEST_F(WsLoadFuzzTest, RandomBytesDamaged) {
  const char* env = std::getenv("ZEMA_LOAD_FUZZ_ROUNDS");
  const int rounds = env ? std::atoi(env) : 600;
  for (const Source& source : kSources) {
    const Bytes good = saved(source);
    std::mt19937 rng(20261211);
    run(source, good, rounds, [&](int i, Bytes& b) {
      std::string what;
      const int bytes = 1 + i % 2;
      for (int k = 0; k < bytes; ++k) {
        // Half of the damage in the heap and stack, where the objects are.
        const std::size_t at =
            (rng() & 1) ? kSymtabStart + rng() % (b.size() - kSymtabStart) : kHeapStart + rng() % (b.size() - kHeapStart);
        const std::uint8_t was = b[at];
        b[at] = (rng() & 1) ? static_cast<std::uint8_t>(was ^ (1u << (rng() % 8))) : static_cast<std::uint8_t>(rng());
        if (b[at] == was) b[at] ^= 0x80;
        what += (k ? " and " : "byte ") + hex(at);
      }
      return what;
    });
  }
}

}  // namespace
}  // namespace zema
