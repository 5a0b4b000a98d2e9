// ⍕ of a 1000 × 1000 float matrix and 'F10.2' ⎕FMT of it, against a plain
// C++ loop that writes the same fields with snprintf ("%g"-style display
// text for ⍕, "%10.2f" for ⎕FMT) into one character buffer.
#include <cstdio>
#include <cstring>
#include <random>
#include <vector>

#include "bench/harness.h"

using namespace zema;
using namespace zema::bench;

int main(int argc, char** argv) {
  const RunSize size = run_size(argc, argv);
  const int reps = size.reps;
  constexpr std::uint32_t n = 1000000;
  Session s(400u * 1000u * 1000u);
  std::mt19937 rng(2024);
  s.define("V", ET_FLOAT, n, [&](std::uint8_t* p) {
    std::uniform_real_distribution<double> u(-1000.0, 1000.0);
    for (std::uint32_t i = 0; i < n; ++i) store_el<double>(p, i, u(rng));
  });
  s.run("M←1000 1000⍴V");
  std::vector<char> out(40ull * n);
  auto loop = [&](const char* fmt) {
    return [&, fmt] {
      const std::uint8_t* x = s.data("V");
      char* z = out.data();
      for (std::uint32_t i = 0; i < n; ++i) z += std::snprintf(z, 40, fmt, load_el<double>(x, i));
    };
  };
  struct Case {
    const char* expr;
    const char* fmt;
  };
  const Case cases[] = {{"⍕M", "%.10g "}, {"'F10.2'⎕FMT M", "%10.2f"}};
  std::printf("%-16s %12s %12s %8s\n", "", "interpreter", "snprintf", "ratio");
  for (const Case& c : cases) {
    const double t = s.time_line(std::string("Z←") + c.expr, reps);
    const double b = best_of(reps, [] {}, loop(c.fmt));
    std::printf("%s %10.2fms %10.2fms %8.2f\n", padded(c.expr, 16).c_str(), 1e3 * t, 1e3 * b, t / b);
  }
  return 0;
}
