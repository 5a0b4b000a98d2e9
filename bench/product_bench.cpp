// zema-product-bench: times outer and inner products through the
// interpreter library next to plain C++ on the same data, and prints each
// as a ratio to it.
//
//   zema-product-bench [--quick]
//
// +.× of two n×n float matrices (n = 1000, --quick 300) against a naive
// i-j-k triple loop and a blocked i-k-j loop (both summing each element in
// the same order as the interpreter, last k first); ∘.× and ∘.= of two
// 1000-element float and integer vectors against a double loop.
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <random>
#include <string>
#include <vector>

#include "bench/harness.h"

using namespace zema;
using namespace zema::bench;

namespace {

void naive(const std::uint8_t* a, const std::uint8_t* b, std::uint8_t* z, std::size_t n) {
  for (std::size_t i = 0; i < n; ++i)
    for (std::size_t j = 0; j < n; ++j) {
      double acc = load_el<double>(a, i * n + n - 1) * load_el<double>(b, (n - 1) * n + j);
      for (std::size_t k = n - 1; k-- > 0;) acc = load_el<double>(a, i * n + k) * load_el<double>(b, k * n + j) + acc;
      store_el<double>(z, i * n + j, acc);
    }
}

void blocked(const std::uint8_t* a, const std::uint8_t* b, std::uint8_t* z, std::size_t n) {
  constexpr std::size_t kCols = 256, kDepth = 128;
  std::vector<double> row(kCols);
  for (std::size_t j0 = 0; j0 < n; j0 += kCols) {
    const std::size_t w = std::min(kCols, n - j0);
    for (std::size_t top = n; top > 0;) {
      const std::size_t bottom = top > kDepth ? top - kDepth : 0;
      for (std::size_t i = 0; i < n; ++i) {
        std::size_t k = top;
        if (top == n) {
          --k;
          const double x = load_el<double>(a, i * n + k);
          for (std::size_t j = 0; j < w; ++j) row[j] = x * load_el<double>(b, k * n + j0 + j);
        } else {
          for (std::size_t j = 0; j < w; ++j) row[j] = load_el<double>(z, i * n + j0 + j);
        }
        while (k > bottom) {
          --k;
          const double x = load_el<double>(a, i * n + k);
          for (std::size_t j = 0; j < w; ++j) row[j] = x * load_el<double>(b, k * n + j0 + j) + row[j];
        }
        for (std::size_t j = 0; j < w; ++j) store_el<double>(z, i * n + j0 + j, row[j]);
      }
      top = bottom;
    }
  }
}

}  // namespace

int main(int argc, char** argv) {
  const RunSize size = run_size(argc, argv);
  const int reps = size.quick ? 2 : 3;
  const std::uint32_t n = size.quick ? 300 : 1000;
  Session s(200u * 1000u * 1000u);
  std::mt19937 rng(2024);
  std::uniform_real_distribution<double> u(-1.0, 1.0);
  std::uniform_int_distribution<std::int32_t> small(0, 9);
  for (const char* name : {"FA", "FB"})
    s.define(name, ET_FLOAT, n * n, [&](std::uint8_t* p) {
      for (std::uint32_t i = 0; i < n * n; ++i) store_el<double>(p, i, u(rng));
    });
  const std::string sh = std::to_string(n) + " " + std::to_string(n);
  s.run("A←" + sh + "⍴FA");
  s.run("B←" + sh + "⍴FB");
  s.run("FA←FB←0");
  constexpr std::uint32_t m = 1000;
  s.define("X", ET_FLOAT, m, [&](std::uint8_t* p) {
    for (std::uint32_t i = 0; i < m; ++i) store_el<double>(p, i, u(rng));
  });
  s.define("I", ET_INT, m, [&](std::uint8_t* p) {
    for (std::uint32_t i = 0; i < m; ++i) store_el<std::int32_t>(p, i, small(rng));
  });
  std::vector<std::uint8_t> out(8ull * n * n);

  std::printf("%-8s %12s %12s %8s %12s %8s\n", "", "interpreter", "naive", "ratio", "blocked", "ratio");
  {
    const double t = s.time_line("Z←A+.×B", reps);
    const double tn = best_of(reps, [] {}, [&] { naive(s.data("A") + 4, s.data("B") + 4, out.data(), n); });
    const double tb = best_of(reps, [] {}, [&] { blocked(s.data("A") + 4, s.data("B") + 4, out.data(), n); });
    std::printf("%-8s %10.2fms %10.2fms %8.2f %10.2fms %8.2f\n", "A+.×B", 1e3 * t, 1e3 * tn, t / tn, 1e3 * tb,
                t / tb);
  }
  std::printf("%-8s %12s %12s %8s\n", "", "interpreter", "C++ loop", "ratio");
  {
    const double t = s.time_line("Z←X∘.×X", reps * 3);
    const double tc = best_of(reps * 3, [] {}, [&] {
      const std::uint8_t* x = s.data("X");
      for (std::uint32_t i = 0; i < m; ++i) {
        const double a = load_el<double>(x, i);
        for (std::uint32_t j = 0; j < m; ++j) store_el<double>(out.data(), i * m + j, a * load_el<double>(x, j));
      }
    });
    std::printf("%-8s %10.2fms %10.2fms %8.2f\n", "X∘.×X", 1e3 * t, 1e3 * tc, t / tc);
  }
  {
    const double t = s.time_line("Z←I∘.=I", reps * 3);
    const double tc = best_of(reps * 3, [] {}, [&] {
      const std::uint8_t* x = s.data("I");
      std::uint8_t* z = out.data();
      std::uint64_t bit = 0;
      std::fill(z, z + (m * m + 7) / 8, 0);
      for (std::uint32_t i = 0; i < m; ++i) {
        const std::int32_t a = load_el<std::int32_t>(x, i);
        for (std::uint32_t j = 0; j < m; ++j, ++bit)
          if (a == load_el<std::int32_t>(x, j)) z[bit >> 3] |= static_cast<std::uint8_t>(0x80 >> (bit & 7));
      }
    });
    std::printf("%-8s %10.2fms %10.2fms %8.2f\n", "I∘.=I", 1e3 * t, 1e3 * tc, t / tc);
  }
  return 0;
}
