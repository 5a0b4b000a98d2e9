// zema-grade-bench: times ⍋ and ⍒ through the interpreter library next to
// std::stable_sort of the same (value, index) pairs, and prints each as a
// ratio to it. The C++ side builds the pairs from the same data, sorts them
// by value (ties keep index order) and writes the indices out, as the
// interpreter's result holds them.
//
//   zema-grade-bench [--quick]
//
// 10⁶ random integers (the whole 32-bit range), floats (both signs, many
// magnitudes) and characters (every code), and a 10⁵×4 integer matrix of
// small values (rows share prefixes, so comparisons go past the first
// column). --quick times fewer repetitions.
#include <algorithm>
#include <array>
#include <cstdint>
#include <cstdio>
#include <functional>
#include <random>
#include <string>
#include <utility>
#include <vector>

#include "bench/harness.h"
#include "interpreter/workspace/heap.h"

using namespace zema;
using namespace zema::bench;

int main(int argc, char** argv) {
  const RunSize size = run_size(argc, argv);
  const int reps = size.reps;
  constexpr std::uint32_t n = 1000000, rows = 100000, cols = 4;
  Session s(400u * 1000u * 1000u);
  std::mt19937 rng(2024);
  s.define("I", ET_INT, n, [&](std::uint8_t* p) {
    for (std::uint32_t i = 0; i < n; ++i) store_el<std::int32_t>(p, i, static_cast<std::int32_t>(rng()));
  });
  s.define("F", ET_FLOAT, n, [&](std::uint8_t* p) {
    std::uniform_real_distribution<double> u(-1.0, 1.0);
    std::uniform_int_distribution<int> e(-40, 40);
    for (std::uint32_t i = 0; i < n; ++i) store_el<double>(p, i, std::ldexp(u(rng), e(rng)));
  });
  // A character vector: its data written as bytes after the shape.
  {
    s.run("C←" + std::to_string(n) + "⍴' '");
    std::uint8_t* p = s.data("C");
    for (std::uint32_t i = 0; i < n; ++i) p[i] = static_cast<std::uint8_t>(rng());
  }
  s.define("V", ET_INT, rows * cols, [&](std::uint8_t* p) {
    for (std::uint32_t i = 0; i < rows * cols; ++i) store_el<std::int32_t>(p, i, static_cast<std::int32_t>(rng() % 100));
  });
  s.run("M←" + std::to_string(rows) + " " + std::to_string(cols) + "⍴V");

  std::vector<std::uint8_t> out(4ull * n);
  std::uint8_t* z = out.data();
  // std::stable_sort of (value, index) pairs by value, upwards or downwards;
  // the indices (origin 1) written out.
  auto pairs = [&]<class T>(const char* name, bool down, T) {
    return [&, name, down] {
      std::vector<std::pair<T, std::uint32_t>> v(n);
      const std::uint8_t* x = s.data(name);
      for (std::uint32_t i = 0; i < n; ++i) v[i] = {load_el<T>(x, i), i};
      if (down) std::stable_sort(v.begin(), v.end(), [](const auto& a, const auto& b) { return a.first > b.first; });
      else std::stable_sort(v.begin(), v.end(), [](const auto& a, const auto& b) { return a.first < b.first; });
      for (std::uint32_t i = 0; i < n; ++i) store_el<std::uint32_t>(z, i, v[i].second + 1);
    };
  };
  struct Case {
    const char* expr;
    std::function<void()> loop;
  };
  const std::vector<Case> cases = {
      {"⍋I", pairs("I", false, std::int32_t{})},
      {"⍒I", pairs("I", true, std::int32_t{})},
      {"⍋F", pairs("F", false, double{})},
      {"⍒F", pairs("F", true, double{})},
      {"⍋C", pairs("C", false, std::uint8_t{})},
      {"⍋M",
       [&] {
         std::vector<std::pair<std::array<std::int32_t, cols>, std::uint32_t>> v(rows);
         const std::uint8_t* x = s.data("V");  // M's ravel
         for (std::uint32_t i = 0; i < rows; ++i) {
           for (std::uint32_t k = 0; k < cols; ++k) v[i].first[k] = load_el<std::int32_t>(x, cols * i + k);
           v[i].second = i;
         }
         std::stable_sort(v.begin(), v.end(), [](const auto& a, const auto& b) { return a.first < b.first; });
         for (std::uint32_t i = 0; i < rows; ++i) store_el<std::uint32_t>(z, i, v[i].second + 1);
       }},
  };
  std::printf("%-6s %12s %12s %8s\n", "", "interpreter", "stable_sort", "ratio");
  for (const Case& c : cases) {
    const double t = s.time_line(std::string("Z←") + c.expr, reps);
    const double b = best_of(reps, [] {}, c.loop);
    std::printf("%s    %10.2fms %10.2fms %8.2f\n", c.expr, 1e3 * t, 1e3 * b, t / b);
  }
  return 0;
}
