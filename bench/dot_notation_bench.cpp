// zema-dot-notation-bench: 10⁶ property reads through dot notation: one
// statement reading a class-wide property over a vector of 10⁶ references
// (V.count), and a :For loop reading it once per iteration (Point.count);
// prints ns per read next to a plain C++ loop that gathers one integer per
// object through a slot table into a result vector. Also a :For loop
// calling a niladic method through dot notation (Point.Get), beside the
// same loop calling a workspace function of the same body (GET): their
// difference is the cost of reaching the method through the object.
//
//   zema-dot-notation-bench [--quick]
//
// --quick takes the best of 3 runs, not 7.
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "bench/harness.h"
#include "interpreter/session/class_definition.h"
#include "interpreter/session/definition.h"

using namespace zema;
using namespace zema::bench;

int main(int argc, char** argv) {
  const RunSize size = run_size(argc, argv);
  const std::uint32_t n = 1000000u;
  Session s(256u << 20);
  install_definition_routes();
  install_class_definition_routes();
  s.type({"∇Point {", "{count}", "∇R←Get", "R←5", "∇", "}", "Point.count←5"});
  s.type({"∇R←GET", "R←5", "∇"});
  s.type({"∇R←CALLS N;I", "R←0", ":For I :In ⍳N", "R←Point.Get", ":EndFor", "∇"});
  s.type({"∇R←PLAIN N;I", "R←0", ":For I :In ⍳N", "R←GET", ":EndFor", "∇"});
  s.type({"∇R←LOOP N;I", "R←0", ":For I :In ⍳N", "R←Point.count", ":EndFor", "∇"});
  const std::string count = std::to_string(n);
  s.run("V←" + count + "⍴Point");
  const double t_array = s.time_line("Z←V.count", size.reps);
  const double t_loop = s.time_line("Z←LOOP " + count, size.reps);
  s.run("→((5=Z)∧∧/5=V.count)/0 ⋄ 'wrong property values'");
  const std::uint32_t calls = 100000u;
  const double t_calls = s.time_line("Z←CALLS " + std::to_string(calls), size.reps);
  const double t_plain = s.time_line("Z←PLAIN " + std::to_string(calls), size.reps);
  s.run("→(5=Z)/0 ⋄ 'wrong method result'");
  // The same gathering in C++: a slot per object, the value through the slot.
  std::vector<std::uint32_t> slots(n, 1), table(2, 5);
  std::vector<std::int32_t> out(n);
  volatile std::int32_t sink = 0;
  const double c_loop = best_of(size.reps, [] {}, [&] {
    for (std::uint32_t i = 0; i < n; ++i) out[i] = static_cast<std::int32_t>(table[slots[i]]);
    sink = out[n - 1];
  });
  std::printf("%u property reads          ns/read   ms total   C++ ns/read\n", n);
  std::printf("%s %10.1f %10.2f %12.2f\n", padded("V.count over 10⁶ refs", 24).c_str(), 1e9 * t_array / n, 1e3 * t_array,
              1e9 * c_loop / n);
  std::printf("%s %10.1f %10.2f %12.2f\n", padded("Point.count in :For", 24).c_str(), 1e9 * t_loop / n, 1e3 * t_loop,
              1e9 * c_loop / n);
  std::printf("%u calls                  ns/call   ms total\n", calls);
  std::printf("%s %10.1f %10.2f\n", padded("Point.Get in :For", 24).c_str(), 1e9 * t_calls / calls, 1e3 * t_calls);
  std::printf("%s %10.1f %10.2f\n", padded("GET in :For", 24).c_str(), 1e9 * t_plain / calls, 1e3 * t_plain);
  return sink == 0 ? 1 : 0;
}
