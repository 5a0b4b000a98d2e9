// zema-domino-bench: times ⌹ through the interpreter library next to plain
// C++ on the same data, and prints each as a ratio to it. Two plain
// solvers: LU with partial pivoting in double (the usual fast way), and
// Householder QR in long double (the interpreter's arithmetic and method,
// without its column pivoting and scaling). Each reads the matrix's
// doubles and writes the answer's doubles, as the interpreter does.
//
//   zema-domino-bench [--quick]
//
// A 200×200 float matrix of values in [¯1, 1) with 4 added on the
// diagonal: ⌹M (the inverse) and V⌹M (one right-hand side).
#include <cmath>
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

namespace {

// Solves B X = A for n×n B and n×k A (row-major doubles) by LU with
// partial pivoting, in double.
void lu_solve(const std::uint8_t* b_data, const std::vector<double>& a, std::size_t n, std::size_t k,
              std::uint8_t* z) {
  std::vector<double> m(n * n), x(a);
  for (std::size_t i = 0; i < n * n; ++i) m[i] = load_el<double>(b_data, i);
  std::vector<std::size_t> piv(n);
  for (std::size_t j = 0; j < n; ++j) {
    std::size_t p = j;
    for (std::size_t i = j + 1; i < n; ++i) {
      if (std::fabs(m[i * n + j]) > std::fabs(m[p * n + j])) p = i;
    }
    if (p != j) {
      for (std::size_t c = 0; c < n; ++c) std::swap(m[j * n + c], m[p * n + c]);
      for (std::size_t c = 0; c < k; ++c) std::swap(x[j * k + c], x[p * k + c]);
    }
    const double d = m[j * n + j];
    for (std::size_t i = j + 1; i < n; ++i) {
      const double f = m[i * n + j] / d;
      m[i * n + j] = f;
      for (std::size_t c = j + 1; c < n; ++c) m[i * n + c] -= f * m[j * n + c];
      for (std::size_t c = 0; c < k; ++c) x[i * k + c] -= f * x[j * k + c];
    }
  }
  for (std::size_t r = n; r-- > 0;) {
    for (std::size_t c = 0; c < k; ++c) {
      double s = x[r * k + c];
      for (std::size_t q = r + 1; q < n; ++q) s -= m[r * n + q] * x[q * k + c];
      x[r * k + c] = s / m[r * n + r];
    }
  }
  for (std::size_t i = 0; i < n * k; ++i) store_el<double>(z, i, x[i]);
}

// The same by Householder QR in long double, the matrix kept by columns.
void qr_solve(const std::uint8_t* b_data, const std::vector<double>& a, std::size_t n, std::size_t k,
              std::uint8_t* z) {
  using Real = long double;
  const std::size_t w = n + k;
  std::vector<Real> m(n * w);
  for (std::size_t i = 0; i < n; ++i) {
    for (std::size_t j = 0; j < n; ++j) m[j * n + i] = load_el<double>(b_data, i * n + j);
    for (std::size_t l = 0; l < k; ++l) m[(n + l) * n + i] = a[i * k + l];
  }
  for (std::size_t i = 0; i < n; ++i) {
    Real* v = &m[i * n];
    Real s2 = 0;
    for (std::size_t r = i; r < n; ++r) s2 += v[r] * v[r];
    const Real alpha = v[i] >= 0 ? -std::sqrt(s2) : std::sqrt(s2);
    const Real v1 = v[i] - alpha, beta = 1 / (s2 - alpha * v[i]);
    for (std::size_t j = i + 1; j < w; ++j) {
      Real* c = &m[j * n];
      Real dot = v1 * c[i];
      for (std::size_t r = i + 1; r < n; ++r) dot += v[r] * c[r];
      const Real s = beta * dot;
      c[i] -= s * v1;
      for (std::size_t r = i + 1; r < n; ++r) c[r] -= s * v[r];
    }
    v[i] = alpha;
  }
  for (std::size_t l = 0; l < k; ++l) {
    Real* b = &m[(n + l) * n];
    for (std::size_t r = n; r-- > 0;) {
      const Real x = b[r] / m[r * n + r];
      b[r] = x;
      for (std::size_t q = 0; q < r; ++q) b[q] -= x * m[r * n + q];
    }
    for (std::size_t r = 0; r < n; ++r) store_el<double>(z, r * k + l, static_cast<double>(b[r]));
  }
}

}  // namespace

int main(int argc, char** argv) {
  const RunSize size = run_size(argc, argv);
  const int reps = size.reps;
  constexpr std::uint32_t n = 200;
  Session s(100u * 1000u * 1000u);
  std::mt19937 rng(2024);
  std::uniform_real_distribution<double> u(-1.0, 1.0);
  s.define("F", ET_FLOAT, n * n, [&](std::uint8_t* p) {
    for (std::uint32_t i = 0; i < n * n; ++i) store_el<double>(p, i, u(rng) + (i % (n + 1) == 0 ? 4.0 : 0.0));
  });
  s.define("V", ET_FLOAT, n, [&](std::uint8_t* p) {
    for (std::uint32_t i = 0; i < n; ++i) store_el<double>(p, i, u(rng));
  });
  s.run("M←" + std::to_string(n) + " " + std::to_string(n) + "⍴F");

  std::vector<double> identity(n * n, 0.0), rhs(n);
  for (std::uint32_t i = 0; i < n; ++i) identity[i * n + i] = 1;
  for (std::uint32_t i = 0; i < n; ++i) rhs[i] = load_el<double>(s.data("V"), i);
  std::vector<std::uint8_t> out(8ull * n * n);

  struct Case {
    const char* expr;
    const std::vector<double>* a;
    std::size_t k;
  };
  const Case cases[] = {{"⌹M", &identity, n}, {"V⌹M", &rhs, 1}};
  std::printf("%-6s %12s %12s %8s %12s %8s\n", "", "interpreter", "LU double", "ratio", "QR long dbl", "ratio");
  for (const Case& c : cases) {
    const double t = s.time_line(std::string("Z←") + c.expr, reps);
    const double lu = best_of(reps, [] {}, [&] { lu_solve(s.data("F"), *c.a, n, c.k, out.data()); });
    const double qr = best_of(reps, [] {}, [&] { qr_solve(s.data("F"), *c.a, n, c.k, out.data()); });
    std::printf("%-6s %10.2fms %10.2fms %8.2f %10.2fms %8.2f\n", c.expr, 1e3 * t, 1e3 * lu, t / lu, 1e3 * qr,
                t / qr);
  }
  return 0;
}
