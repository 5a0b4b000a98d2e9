// zema-loop-bench: times a loop of a defined function through the
// interpreter library, written with :For over ⍳N and with a branch to a
// label, each adding a scalar per iteration, and the :For loop adding
// ⍎'2+3'; prints ns per iteration next to a plain C++ loop doing the same
// additions (through a volatile, one load and one store per step, so that
// it is not folded away), and the cost of one ⍎ call: the ⍎ loop less the
// same loop adding |5 (a statement of the same shape, a primitive applied
// to a constant, which the engine runs through the same token loop).
//
//   zema-loop-bench [--quick]
//
// The loop runs 10⁵ times either way; --quick takes the best of 3 runs, not 7.
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "bench/harness.h"
#include "interpreter/session/definition.h"

using namespace zema;
using namespace zema::bench;

int main(int argc, char** argv) {
  const RunSize size = run_size(argc, argv);
  const std::uint32_t n = 100000u;
  Session s(64u << 20);
  install_definition_routes();
  s.type({"∇R←FOR N;I", "R←0", ":For I :In ⍳N", "R←R+1", ":EndFor", "∇"});
  s.type({"∇R←BRANCH N", "R←0", "L:R←R+1", "→L×N>R", "∇"});
  s.type({"∇R←EXECUTE N;I", "R←0", ":For I :In ⍳N", "R←R+⍎'2+3'", ":EndFor", "∇"});
  s.type({"∇R←PLAIN N;I", "R←0", ":For I :In ⍳N", "R←R+|5", ":EndFor", "∇"});
  const std::string count = std::to_string(n);
  const double t_for = s.time_line("Z←FOR " + count, size.reps);
  const double t_branch = s.time_line("Z←BRANCH " + count, size.reps);
  const double t_execute = s.time_line("Z←EXECUTE " + count, size.reps);
  const double t_plain = s.time_line("Z←PLAIN " + count, size.reps);
  s.run("Z←(FOR 3),(BRANCH 3),(EXECUTE 3),PLAIN 3");
  s.run("→(3 3 15 15≡Z)/0 ⋄ 'wrong loop results'");
  volatile std::int32_t sink = 0;
  const double c_loop = best_of(size.reps, [] {}, [&] {
    // The running sum goes through a volatile each step, so that the
    // compiler can neither fold the loop nor keep r in a register.
    volatile std::int32_t r = 0;
    for (std::uint32_t i = 0; i < n; ++i) r = r + 1;
    sink = r;
  });
  std::printf("loop of %u iterations   ns/iteration   ms/loop   C++ ns/iteration\n", n);
  std::printf("%s %12.1f %9.2f %12.2f\n", padded(":For I :In ⍳N", 22).c_str(), 1e9 * t_for / n, 1e3 * t_for,
              1e9 * c_loop / n);
  std::printf("%s %12.1f %9.2f %12.2f\n", padded("L:R←R+1 ⋄ →L×N>R", 22).c_str(), 1e9 * t_branch / n,
              1e3 * t_branch, 1e9 * c_loop / n);
  // The :For loop with ⍎ in its body, less the same loop adding |5: one ⍎ call.
  std::printf("%s %12.1f %9.2f\n", padded("R←R+|5 in :For", 22).c_str(), 1e9 * t_plain / n, 1e3 * t_plain);
  std::printf("%s %12.1f %9.2f   ⍎ call: %.1f ns\n", padded("R←R+⍎'2+3' in :For", 22).c_str(), 1e9 * t_execute / n,
              1e3 * t_execute, 1e9 * (t_execute - t_plain) / n);
  return sink == 0 ? 1 : 0;
}
