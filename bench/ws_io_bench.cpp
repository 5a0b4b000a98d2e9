// )SAVE and )LOAD of a workspace of about 20 MB (arrays, functions, a
// suspended function) against copying the same file with cp on the same disk.
//   build/bench/zema-ws-io-bench [--quick] [DIRECTORY]
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <string>

#include "bench/harness.h"
#include "interpreter/reader/tokeniser.h"
#include "interpreter/session/definition.h"
#include "interpreter/session/ws_commands.h"
#include "interpreter/sysfns/commands.h"

using namespace zema;
using namespace zema::bench;

namespace {

// Runs a line whose output is expected (a stamp, a SAVED line) or that
// re-enters immediate execution (a load).
void command(Session& s, const std::string& line) {
  const std::string text = utf8_to_internal(line);
  try {
    run_input_line(text.data(), static_cast<int>(text.size()), s.ws);
  } catch (const EnterImmediate&) {
  }
  s.task.output.clear();
}

}  // namespace

int main(int argc, char** argv) {
  const RunSize size = run_size(argc, argv);
  std::string dir = argc > 2 ? argv[2] : (argc > 1 && std::string(argv[1]) != "--quick" ? argv[1] : ".");
  std::string pattern = dir + "/ws-io-bench-XXXXXX";
  if (!::mkdtemp(pattern.data())) {
    std::perror("mkdtemp");
    return 1;
  }
  dir = pattern;
  Session s(48u << 20);
  s.task.names.ws_directory = dir + "/";
  forget_side_state(s.ws);
  s.ws = apl_setup(s.memory.data(), static_cast<std::uint32_t>(s.memory.size()), "", 1);
  clear_workspace(s.ws);
  install_definition_routes();
  install_command_routes();
  install_workspace_commands();

  const std::uint32_t n = size.quick ? 500000 : 2400000;  // 8 bytes each: 4 or 19 MB of floats
  s.run("F←" + std::to_string(n) + "⍴0.5");
  s.run("I←⍳100000");
  s.run("C←1000 100⍴'ABC'");
  s.run("N←(⍳1000)(2 3⍴'XY')");
  for (const char* line : {"∇Z←G X", "Z←X×2", "∇", "∇H", "1÷0", "∇"}) command(s, line);
  command(s, "H");
  command(s, ")WSID BENCH");

  const int reps = size.reps;
  const double save = best_of(reps, [] {}, [&] { command(s, ")SAVE"); });
  const std::string file = dir + "/BENCH.aws";
  const auto bytes = std::filesystem::file_size(file);
  const double load = best_of(reps, [] {}, [&] { command(s, ")LOAD BENCH"); });
  const std::string cp = "cp " + file + " " + dir + "/COPY.aws";
  const double copy = best_of(reps, [] {}, [&] {
    if (std::system(cp.c_str()) != 0) std::exit(1);
  });
  std::printf("workspace file %.1f MB\n", bytes / 1048576.0);
  std::printf(")SAVE  %.4f s   ratio to cp %.2f\n", save, save / copy);
  std::printf(")LOAD  %.4f s   ratio to cp %.2f\n", load, load / copy);
  std::printf("cp     %.4f s\n", copy);
  std::filesystem::remove_all(dir);
  return 0;
}
