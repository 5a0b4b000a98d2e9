// zema-each-bench: times f¨ with a primitive operand through the
// interpreter library next to plain C++ loops doing the same work per item
// on the same data, and prints ns per item and the ratio to the loop.
//
//   zema-each-bench [--quick]
//
// V is a nested vector of n three-element integer vectors, W the integers
// 1 … n: ⍴¨V (each item's length), -¨W (each element negated as a scalar).
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "bench/harness.h"

using namespace zema;
using namespace zema::bench;

int main(int argc, char** argv) {
  const RunSize size = run_size(argc, argv);
  const std::uint32_t n = size.quick ? 100000u : 1000000u;
  Session s(512u << 20);
  s.run("V←" + std::to_string(n) + "⍴⊂1 2 3");
  s.run("W←⍳" + std::to_string(n));
  std::vector<std::int32_t> out(n);

  const double t_shape = s.time_line("Z←⍴¨V", size.reps);
  const double c_shape = best_of(size.reps, [] {}, [&] {
    const std::uint32_t v = rd32(s.ws, s.symbol("V") + sym::Value);
    const std::uint32_t table = v + obj::Shape + 4;
    for (std::uint32_t i = 0; i < n; ++i) {
      const std::uint32_t item = v + rd32(s.ws, table + 4 * i);
      out[i] = static_cast<std::int32_t>(rd32(s.ws, item + obj::Shape));
    }
  });
  const double t_neg = s.time_line("Z←-¨W", size.reps);
  const double c_neg = best_of(size.reps, [] {}, [&] {
    const std::uint8_t* w = s.data("W");
    for (std::uint32_t i = 0; i < n; ++i) out[i] = -load_el<std::int32_t>(w, i);
  });
  std::printf("each on %u items      ns/item   C++ ns/item  ratio\n", n);
  std::printf("%s %9.1f %12.2f %8.0f\n", padded("⍴¨V", 20).c_str(), 1e9 * t_shape / n, 1e9 * c_shape / n,
              t_shape / c_shape);
  std::printf("%s %9.1f %12.2f %8.0f\n", padded("-¨W", 20).c_str(), 1e9 * t_neg / n, 1e9 * c_neg / n, t_neg / c_neg);
  return out[n / 2] == 0 ? 1 : 0;
}
