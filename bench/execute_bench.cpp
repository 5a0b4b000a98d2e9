// zema-execute-bench: times ⍎ of a short expression, a line at a time
// through the interpreter library, 10⁵ calls (10⁴ with --quick), and
// prints ns per call: the line Z←⍎'2+3', the same line without ⍎
// (Z←2+3), and their difference, the cost of one ⍎ (its level opened and
// closed, the text tokenised and run).
//
//   zema-execute-bench [--quick]
#include <cstdint>
#include <cstdio>
#include <string>

#include "bench/harness.h"

using namespace zema;
using namespace zema::bench;

int main(int argc, char** argv) {
  const RunSize size = run_size(argc, argv);
  const int calls = size.quick ? 10000 : 100000;
  Session s(64u << 20);
  auto per_line = [&](const std::string& line) {
    s.run(line);
    return best_of(size.reps, [] {}, [&] {
             for (int i = 0; i < calls; ++i) s.run(line);
           }) / calls;
  };
  const double with = per_line("Z←⍎'2+3'");
  const double without = per_line("Z←2+3");
  if (rd32(s.ws, rd32(s.ws, s.symbol("Z") + sym::Value) + obj::Shape) != 5) return 1;
  std::printf("⍎ of a short expression, %d calls     ns/line\n", calls);
  std::printf("%s %9.0f\n", padded("Z←⍎'2+3'", 36).c_str(), 1e9 * with);
  std::printf("%s %9.0f\n", padded("Z←2+3", 36).c_str(), 1e9 * without);
  std::printf("%s %9.0f\n", padded("one ⍎ (the difference)", 36).c_str(), 1e9 * (with - without));
  return 0;
}
