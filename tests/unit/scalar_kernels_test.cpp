// The element routines and whole-vector loops of the scalar functions:
// integer loops and their overflow answers, double loops and their DOMAIN
// ERRORs, integer residue, power, factorial and binomial, tolerant floor,
// ceiling and residue (the same on doubles and on 80-bit registers), the
// register forms of the elementary functions against the C library, the
// circle functions' domains, and roll.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "interpreter/workspace/errors.h"
#include "interpreter/primitives/circle.h"
#include "interpreter/primitives/kernels_arith.h"
#include "interpreter/primitives/kernels_compare.h"
#include "interpreter/primitives/kernels_transcendental.h"
#include "interpreter/primitives/scalar_codes.h"
#include "test_workspace.h"

namespace zema {
namespace {

using namespace test;

class ScalarKernels : public ::testing::Test {
 protected:
  TestWorkspace tw;
  Ws ws = tw.ws();
  CaptureTask task;
  CurrentTask current{&task};

  bool domain_error(const std::function<void()>& f) {
    try {
      f();
    } catch (const AplError& e) {
      return e.code == E_DOMAIN;
    }
    return false;
  }
  double to_double(const Extended80& x) {
    double d = 0;
    EXPECT_TRUE(dblflt(x, d));
    return d;
  }
  RegArgs regs(double l, double r) { return RegArgs{fltdb(l), fltdb(r), ET_FLOAT, ET_FLOAT}; }
};

// ---- integer loops ------------------------------------------------------------------

struct IntLoop {
  std::vector<std::int32_t> z;
  int answer;
};

IntLoop run_int(std::uint8_t code, std::vector<std::int32_t> l, std::vector<std::int32_t> r, Ws ws) {
  const std::size_t n = std::max(l.size(), r.size());
  IntLoop out{std::vector<std::int32_t>(n), 0};
  out.answer = fused_i_ii(code, reinterpret_cast<std::uint8_t*>(out.z.data()),
                          reinterpret_cast<const std::uint8_t*>(l.data()), reinterpret_cast<const std::uint8_t*>(r.data()),
                          l.size() == 1 ? 0 : 4, r.size() == 1 ? 0 : 4, static_cast<std::uint32_t>(n), ws);
  return out;
}

TEST_F(ScalarKernels, IntegerLoopsAnswerEightOnOverflowOnly) {
  constexpr std::int32_t kMax = 2147483647, kMin = -2147483647 - 1;
  struct Case {
    std::uint8_t code;
    std::int32_t l, r;
    int answer;
    std::int32_t z;
  };
  const std::vector<Case> cases = {
      {pc::Plus, kMax, 1, 8, 0},        {pc::Plus, kMax, 0, 0, kMax},     {pc::Plus, kMin, -1, 8, 0},
      {pc::Plus, kMin, kMax, 0, -1},    {pc::Minus, kMin, 1, 8, 0},       {pc::Minus, 0, kMin, 8, 0},
      {pc::Minus, -1, kMin, 0, kMax},   {pc::Times, kMin, -1, 8, 0},      {pc::Times, 65536, 65536, 8, 0},
      {pc::Times, 46340, 46340, 0, 2147395600}, {pc::Times, kMin, 1, 0, kMin}, {pc::Times, -46341, 46341, 8, 0},
      {pc::Ceiling, kMin, kMax, 0, kMax}, {pc::Floor, kMin, kMax, 0, kMin}, {pc::Ceiling, -3, 3, 0, 3},
      {pc::Floor, 3, -3, 0, -3},
  };
  for (const Case& c : cases) {
    const IntLoop got = run_int(c.code, {c.l}, {c.r}, ws);
    EXPECT_EQ(got.answer, c.answer) << int(c.code) << " " << c.l << " " << c.r;
    if (c.answer == 0) {
      EXPECT_EQ(got.z[0], c.z) << int(c.code) << " " << c.l << " " << c.r;
    }
  }
  EXPECT_EQ(run_int(pc::Divide, {1}, {1}, ws).answer, -1);
}

TEST_F(ScalarKernels, IntegerLoopsCoverBlocksTailsAndEachScalarSide) {
  for (std::uint32_t n : {1u, 8u, 9u, 17u, 1024u, 1025u, 3000u}) {
    std::vector<std::int32_t> a(n), b(n);
    for (std::uint32_t i = 0; i < n; ++i) {
      a[i] = static_cast<std::int32_t>(i * 7919 % 20011) - 10000;
      b[i] = static_cast<std::int32_t>(i * 104729 % 30011) - 15000;
    }
    const IntLoop sum = run_int(pc::Minus, a, b, ws);
    const IntLoop left = run_int(pc::Times, {-3}, b, ws);
    const IntLoop right = run_int(pc::Ceiling, a, {5}, ws);
    ASSERT_EQ(sum.answer, 0);
    for (std::uint32_t i = 0; i < n; ++i) {
      ASSERT_EQ(sum.z[i], a[i] - b[i]) << n << " " << i;
      ASSERT_EQ(left.z[i], -3 * b[i]) << n << " " << i;
      ASSERT_EQ(right.z[i], std::max(a[i], 5)) << n << " " << i;
    }
    // One overflowing element anywhere, block or tail, is found.
    for (std::uint32_t at : {0u, n / 2, n - 1}) {
      std::vector<std::int32_t> c = a;
      c[at] = 2147483647;
      EXPECT_EQ(run_int(pc::Plus, c, {1}, ws).answer, 8) << n << " " << at;
      EXPECT_EQ(run_int(pc::Plus, {1}, c, ws).answer, 8) << n << " " << at;
    }
  }
}

// ---- double loops -----------------------------------------------------------------------

std::vector<double> run_float(std::uint8_t code, std::vector<double> l, std::vector<double> r, Ws ws) {
  const std::size_t n = std::max(l.size(), r.size());
  std::vector<double> z(n);
  EXPECT_EQ(fused_f_ff(code, reinterpret_cast<std::uint8_t*>(z.data()), reinterpret_cast<const std::uint8_t*>(l.data()),
                       reinterpret_cast<const std::uint8_t*>(r.data()), l.size() == 1 ? 0 : 8, r.size() == 1 ? 0 : 8,
                       static_cast<std::uint32_t>(n), ws),
            0);
  return z;
}

TEST_F(ScalarKernels, DoubleLoopsRefuseInfiniteResultsAndStoreNoNegativeZero) {
  EXPECT_TRUE(domain_error([&] { run_float(pc::Plus, {1e308}, {1, 1e308}, ws); }));
  EXPECT_TRUE(domain_error([&] { run_float(pc::Times, {1e308, 1}, {10}, ws); }));
  EXPECT_TRUE(domain_error([&] { run_float(pc::Divide, {0, 1.5}, {0}, ws); }));
  EXPECT_TRUE(domain_error([&] { run_float(pc::Divide, {1e300}, {1e-300}, ws); }));
  EXPECT_DOUBLE_EQ(run_float(pc::Times, {1e308}, {0.1}, ws)[0], 1e307);
  EXPECT_EQ(run_float(pc::Divide, {0, 3}, {0, 2}, ws), (std::vector<double>{1, 1.5}));
  const std::vector<double> zeros = run_float(pc::Times, {-1.5, 0}, {0, -2}, ws);
  for (double d : zeros) EXPECT_FALSE(std::signbit(d));
  EXPECT_FALSE(std::signbit(run_float(pc::Minus, {0}, {0}, ws)[0]));
  EXPECT_EQ(run_float(pc::Ceiling, {1.5, -0.5}, {1.5, 0.5}, ws), (std::vector<double>{1.5, 0.5}));
  EXPECT_EQ(run_float(pc::Floor, {1.5, -0.5}, {1.5, 0.5}, ws), (std::vector<double>{1.5, -0.5}));
  std::vector<double> big(2500);
  for (std::size_t i = 0; i < big.size(); ++i) big[i] = i * 0.5;
  const std::vector<double> sums = run_float(pc::Plus, big, {0.25}, ws);
  for (std::size_t i = 0; i < big.size(); ++i) ASSERT_EQ(sums[i], i * 0.5 + 0.25);
  big[2400] = 1e308;
  EXPECT_TRUE(domain_error([&] { run_float(pc::Times, {10}, big, ws); }));
}

// ---- integer element routines -------------------------------------------------------------

TEST_F(ScalarKernels, IntegerResidueHasTheLeftArgumentsSign) {
  struct Case {
    std::int32_t l, r, z;
    bool overflow;
  };
  const std::vector<Case> cases = {
      {3, -7, 2, false},  {-3, 7, -2, false}, {3, 7, 1, false},     {-3, -7, -1, false}, {0, 5, 5, false},
      {5, 0, 0, false},   {3, 6, 0, false},   {-3, 6, 0, false},    {3, -6, 0, false},   {7, 2147483647, 1, false},
      {-2147483647 - 1, 5, 0, true},          {3, -2147483647 - 1, 0, true},
  };
  for (const Case& c : cases) {
    std::int32_t l = c.l;
    EXPECT_EQ(resfd(l, c.r, ws), c.overflow) << c.l << "|" << c.r;
    if (!c.overflow) {
      EXPECT_EQ(l, c.z) << c.l << "|" << c.r;
    }
  }
}

TEST_F(ScalarKernels, IntegerPowerStaysIntegerWhileItFits) {
  struct Case {
    std::int32_t l, r, z;
    bool overflow;
  };
  const std::vector<Case> cases = {
      {2, 30, 1073741824, false}, {2, 31, 0, true},  {1, 1000, 1, false},   {0, 1000, 0, false},
      {-1, 31, 0, true},          {-1, 30, 1, false}, {2, -1, 0, true},     {7, 0, 1, false},
      {0, 0, 1, false},           {5, 1, 5, false},   {4, 15, 1073741824, false}, {4, 16, 0, true},
      {32, 6, 1073741824, false}, {32, 7, 0, true},   {3, 19, 1162261467, false}, {3, 20, 0, true},
      {-3, 19, -1162261467, false}, {10, 9, 1000000000, false}, {10, 10, 0, true},
  };
  for (const Case& c : cases) {
    std::int32_t l = c.l;
    EXPECT_EQ(starfd(l, c.r, ws), c.overflow) << c.l << "*" << c.r;
    if (!c.overflow) {
      EXPECT_EQ(l, c.z) << c.l << "*" << c.r;
    }
  }
}

// The product of the s = min(k, n − k) top factors of n! ÷ (n−k)!, for
// the problem with non-negative arguments that k ! n reduces to (0 when
// there is none): the integer routine works through it.
double top_product(std::int64_t k, std::int64_t n) {
  if (k < 0 && n < 0 && n >= k) return top_product(-(n + 1), -(k + 1));
  if (k >= 0 && n < 0) return top_product(k, k - n - 1);
  if (k < 0 || n < k) return 0;
  const std::int64_t s = std::min(k, n - k);
  double p = 1;
  for (std::int64_t i = 0; i < s; ++i) p *= double(n - i);
  return s > 12 ? 1e300 : p;
}

// n choose k by the generalised definition, in exact 64-bit arithmetic.
std::int64_t binomial(std::int64_t k, std::int64_t n) {
  if (k < 0) {
    if (n >= 0 || n < k) return 0;
    const std::int64_t v = binomial(-(n + 1), -(k + 1));
    return ((n - k) & 1) ? -v : v;
  }
  if (n < 0) {
    const std::int64_t v = binomial(k, k - n - 1);
    return (k & 1) ? -v : v;
  }
  if (n < k) return 0;
  std::int64_t v = 1;
  for (std::int64_t i = 1; i <= k; ++i) v = v * (n - k + i) / i;
  return v;
}

TEST_F(ScalarKernels, IntegerBinomialMatchesTheDefinitionOrOverflows) {
  for (std::int32_t k = -8; k <= 12; ++k) {
    for (std::int32_t n = -10; n <= 30; ++n) {
      std::int32_t l = k;
      const bool overflow = factfd(l, n, ws);
      const std::int64_t want = binomial(k, n);
      if (!overflow) {
        EXPECT_EQ(l, want) << k << "!" << n;
      } else {
        EXPECT_GT(top_product(k, n), 2147483647.0) << k << "!" << n << " = " << want;
      }
    }
  }
  std::int32_t l = 15;
  EXPECT_TRUE(factfd(l, 40, ws));  // both complements above 12
  std::int32_t x = 12;
  EXPECT_FALSE(factfm(x, ws));
  EXPECT_EQ(x, 479001600);
  x = 13;
  EXPECT_TRUE(factfm(x, ws));
  EXPECT_TRUE(domain_error([&] {
    std::int32_t y = -1;
    factfm(y, ws);
  }));
}

// ---- tolerant floor, ceiling and residue on both paths -------------------------------------

TEST_F(ScalarKernels, FloorCeilingAndResidueAreTheSameOnDoublesAndRegisters) {
  struct Case {
    double x, floor, ceiling;
  };
  const std::vector<Case> cases = {
      {2.99999999999999, 3, 3},   {-0.5, -1, 0},  {1e-14, 0, 0},   {-1e-14, 0, 0},        {1.05, 1, 2},
      {2e-13, 0, 1},              {-2e-13, -1, 0}, {0.9999999999999999, 1, 1}, {-0.99999999999999, -1, -1},
      {100000000000000.05, 1e14, 1e14}, {100000000000000.5, 1e14 + 1, 1e14 + 1}, {-100000000000000.5, -1e14, -1e14}, {3.00000000000001, 3, 3},
      {-2.99999999999999, -3, -3}, {0, 0, 0},     {-7, -7, -7},    {1e300, 1e300, 1e300},  {0.9, 0, 1},
  };
  const double ct = comparison_tolerance(ws);
  for (const Case& c : cases) {
    EXPECT_EQ(minffm(c.x, ct), c.floor) << c.x;
    EXPECT_EQ(maxffm(c.x, ct), c.ceiling) << c.x;
    EXPECT_EQ(to_double(minm(RegArgs{{}, fltdb(c.x), 0, ET_FLOAT}, ws)), c.floor) << c.x;
    EXPECT_EQ(to_double(maxm(RegArgs{{}, fltdb(c.x), 0, ET_FLOAT}, ws)), c.ceiling) << c.x;
  }
  struct Res {
    double l, r, z;
  };
  const std::vector<Res> residues = {
      {1e20, 1, 0},  {-1e20, 1, 0},  {1e20, 3e7, 3e7},  {0.1, 0.3, 0}, {3, -7, 2},    {-3, 7, -2}, {0, 5, 5},     {5, 0, 0},
      {1, 2.25, 0.25}, {1, -0.25, 0.75}, {2.5, 7, 2}, {1, 1e-20, 0}, {1, 2e-13, 2e-13}, {-1, 2.99999999999999, 0},
  };
  for (const Res& c : residues) {
    EXPECT_EQ(resffd(c.l, c.r, ws), c.z) << c.l << "|" << c.r;
    EXPECT_NEAR(to_double(resd(regs(c.l, c.r), ws)), c.z, 1e-15) << c.l << "|" << c.r;
  }
  // Without tolerance, the nearest quotient is not taken as integral.
  store_x80(ws + hdr::QuadCT, Extended80{});
  EXPECT_EQ(minffm(2.99999999999999, 0), 2);
  EXPECT_EQ(to_double(minm(RegArgs{{}, fltdb(2.99999999999999), 0, ET_FLOAT}, ws)), 2);
}

// ---- registers against the C library -------------------------------------------------------

TEST_F(ScalarKernels, RegisterElementaryFunctionsAgreeWithTheLibrary) {
  auto close = [](double got, double want) { return std::fabs(got - want) <= 4e-15 * std::max(1.0, std::fabs(want)); };
  for (double x : {1e-300, 0.001, 0.5, 0.999, 1.0, 1.5, 2.0, 10.0, 12345.678, 1e300}) {
    EXPECT_TRUE(close(to_double(log_4(fltdb(x), ws)), std::log(x))) << "ln " << x;
    for (double y : {0.5, 2.0, 3.5, -1.25}) {
      const double want = std::pow(x, y);
      if (want > 1e300 || want < 1e-300) continue;
      EXPECT_TRUE(close(to_double(stard_x(fltdb(x), fltdb(y), ws)), want)) << x << "*" << y;
    }
  }
  for (double x : {-700.0, -20.0, -1.0, -1e-10, 0.0, 1e-10, 0.5, 1.0, 10.0, 700.0})
    EXPECT_TRUE(close(to_double(star_4(fltdb(x), ws)), std::exp(x))) << "exp " << x;
  for (double x : {0.0, 0.25, 0.5, 1.5, 5.0, 20.5, -0.5, -1.5, -2.25})
    EXPECT_TRUE(close(to_double(fact_x(fltdb(x), ws)), std::tgamma(x + 1))) << "! " << x;
  const std::vector<std::pair<int, std::function<double(double)>>> circles = {
      {1, [](double x) { return std::sin(x); }},   {2, [](double x) { return std::cos(x); }},
      {3, [](double x) { return std::tan(x); }},   {5, [](double x) { return std::sinh(x); }},
      {6, [](double x) { return std::cosh(x); }},  {7, [](double x) { return std::tanh(x); }},
      {-3, [](double x) { return std::atan(x); }}, {-5, [](double x) { return std::asinh(x); }},
      {4, [](double x) { return std::sqrt(1 + x * x); }},
  };
  for (const auto& [selector, f] : circles)
    for (double x : {-100.0, -2.0, -0.5, -1e-9, 0.0, 0.3, 1.0, 3.0, 20.0})
      EXPECT_TRUE(close(to_double(circld(RegArgs{intflt(selector), fltdb(x), ET_INT, ET_FLOAT}, ws)), f(x)))
          << selector << "○" << x;
  for (double x : {-1.0, -0.7, -1e-10, 0.0, 0.2, 0.99, 1.0}) {
    EXPECT_TRUE(close(to_double(circld(RegArgs{intflt(-1), fltdb(x), ET_INT, ET_FLOAT}, ws)), std::asin(x))) << x;
    EXPECT_TRUE(close(to_double(circld(RegArgs{intflt(-2), fltdb(x), ET_INT, ET_FLOAT}, ws)), std::acos(x))) << x;
    EXPECT_TRUE(close(to_double(circld(RegArgs{intflt(0), fltdb(x), ET_INT, ET_FLOAT}, ws)), std::sqrt(1 - x * x)))
        << x;
  }
  for (double x : {1.0, 1.5, 10.0}) {
    EXPECT_TRUE(close(to_double(circld(RegArgs{intflt(-6), fltdb(x), ET_INT, ET_FLOAT}, ws)), std::acosh(x))) << x;
    EXPECT_TRUE(close(to_double(circld(RegArgs{intflt(-4), fltdb(-x), ET_INT, ET_FLOAT}, ws)), std::sqrt(x * x - 1)))
        << x;
  }
  EXPECT_TRUE(close(to_double(circld(RegArgs{intflt(-7), fltdb(0.5), ET_INT, ET_FLOAT}, ws)), std::atanh(0.5)));
}

// Near 0 and near 1 the circle functions keep their relative precision on
// both paths (no cancellation in ln(1 + small), 1 − R², e*R − e*−R); the
// expected values are the exact functions of the double arguments.
TEST_F(ScalarKernels, CircleFunctionsKeepTheirPrecisionNearZeroAndOne) {
  struct Case {
    int selector;
    double x, want;
  };
  const std::vector<Case> cases = {
      {-5, 1e-10, 1.0e-10},
      {-5, -1e-6, -9.9999999999983329e-7},
      {-5, 3e-8, 2.9999999999999993e-8},
      {-5, 0.001, 9.9999983333340835e-4},
      {-7, 1e-10, 1.0e-10},
      {-7, -1e-6, -1.0000000000003333e-6},
      {-7, 0.001, 1.0000003333335334e-3},
      {-7, 0.999999, 7.2543286192476694},
      {-6, 1 + 1e-10, 1.4142136208675861e-5},
      {-6, 1.0001, 1.4142017775251545e-2},
      {5, 1e-10, 1.0e-10},
      {5, 1e-6, 1.0000000000001666e-6},
      {5, -0.001, -1.000000166666675e-3},
      {5, 0.3, 3.0452029344714261e-1},
      {7, 1e-6, 9.9999999999966662e-7},
      {7, 0.001, 9.9999966666680002e-4},
      {-1, 1e-6, 1.0000000000001666e-6},
      {-1, 0.999999, 1.569382113114652},
      {-2, 1 - 1e-10, 1.4142136208911564e-5},
      {-2, 0.999999, 1.4142136802445851e-3},
      {-2, -0.999999, 3.1401784399095487},
      {0, 1 - 1e-10, 1.4142136208440159e-5},
      {0, 0.999999, 1.4142132088399936e-3},
      {-4, 1 + 1e-10, 1.4142136209147266e-5},
      {-4, -1.000001, 1.4142139158682701e-3},
      {1, 1e-10, 1.0e-10},
      {-3, 1e-10, 1.0e-10},
  };
  for (const Case& c : cases) {
    const double tolerance = 1e-15 * std::fabs(c.want);
    EXPECT_NEAR(circlffd(c.selector, c.x, ws), c.want, tolerance) << c.selector << "○" << c.x;
    EXPECT_NEAR(to_double(circld(RegArgs{intflt(c.selector), fltdb(c.x), ET_INT, ET_FLOAT}, ws)), c.want, tolerance)
        << "register " << c.selector << "○" << c.x;
  }
}

// The register exponential reaches the subnormal doubles as the library
// does (to within the truncation of the last unit), and gives 0 below them.
TEST_F(ScalarKernels, RegisterExponentialReachesTheSubnormals) {
  for (double x : {-709.0, -720.0, -740.0, -744.0}) {
    const double want = std::exp(x);
    EXPECT_NEAR(to_double(star_4(fltdb(x), ws)), want, std::max(0x1p-1074, 1e-14 * want)) << "exp " << x;
  }
  EXPECT_EQ(to_double(star_4(fltdb(-746.0), ws)), 0.0);
  EXPECT_EQ(to_double(star_4(fltdb(-1e5), ws)), 0.0);
}

TEST_F(ScalarKernels, PowersOfNegativeNumbersNeedAnOddDenominator) {
  EXPECT_NEAR(starffd(-8, 1.0 / 3, ws), -2, 1e-14);
  EXPECT_NEAR(starffd(-8, 2.0 / 3, ws), 4, 1e-14);
  EXPECT_NEAR(starffd(-32, 0.2, ws), -2, 1e-14);
  EXPECT_NEAR(starffd(-27, -1.0 / 3, ws), -1.0 / 3, 1e-14);
  EXPECT_TRUE(domain_error([&] { starffd(-8, 0.5, ws); }));
  EXPECT_TRUE(domain_error([&] { starffd(-8, 0.25, ws); }));
  EXPECT_TRUE(domain_error([&] { starffd(0, -1, ws); }));
  EXPECT_EQ(starffd(0, 0, ws), 1);
  EXPECT_EQ(starffd(2, -1, ws), 0.5);
  EXPECT_TRUE(domain_error([&] { starffm(710, ws); }));
  EXPECT_EQ(starffm(-750, ws), 0);
  EXPECT_TRUE(domain_error([&] { logffm(0, ws); }));
  EXPECT_TRUE(domain_error([&] { logffd(2, -1, ws); }));
  // The register forms.
  EXPECT_NEAR(to_double(stard(regs(-8, 1.0 / 3), ws)), -2, 1e-14);
  EXPECT_TRUE(domain_error([&] { stard(regs(-8, 0.5), ws); }));
  EXPECT_EQ(to_double(stard(regs(0, 0), ws)), 1);
  EXPECT_EQ(to_double(logd(regs(1, 1), ws)), 1);
  EXPECT_TRUE(domain_error([&] { logd(regs(1, 2), ws); }));
  EXPECT_TRUE(domain_error([&] { star_4(fltdb(710), ws); }));
  EXPECT_EQ(to_double(star_4(fltdb(-750), ws)), 0);
}

TEST_F(ScalarKernels, RegisterBinomialCoversIntegersAndFractions) {
  struct Case {
    double k, n, z;
  };
  const std::vector<Case> cases = {
      {2, 5, 10}, {5, 2, 0}, {-1, 3, 0}, {2, -3, 6}, {-2, -1, -1}, {0, 0, 1}, {3, 3, 1}, {1.5, 3.5, 4.375},
      {0.5, 1, std::tgamma(2) / (std::tgamma(1.5) * std::tgamma(1.5))},
  };
  for (const Case& c : cases) EXPECT_NEAR(to_double(bc(regs(c.k, c.n), ws)), c.z, 1e-13) << c.k << "!" << c.n;
  EXPECT_TRUE(domain_error([&] { bc(regs(0.5, -2), ws); }));
  EXPECT_TRUE(domain_error([&] { fact_x(fltdb(-1), ws); }));
}

TEST_F(ScalarKernels, CircleSelectorsAndDomains) {
  struct Case {
    double l, r;
    bool domain;
    double z;
  };
  const std::vector<Case> cases = {
      {1, 0, false, 0},       {2, 0, false, 1},       {1, 1e16, true, 0},  {0, 1, false, 0},
      {0, 1.5, true, 0},      {-1, 1, false, M_PI / 2}, {-4, -2, false, std::sqrt(3.0)}, {-4, 0.5, true, 0},
      {-6, 0.5, true, 0},     {-7, 1, true, 0},       {8, 1, true, 0},      {-8, 1, true, 0},
      {12, 1, true, 0},       {1.0000000000001, 0, false, 0}, {1.000000000001, 0, true, 0},
      {0.9999999999999, 0, true, 0},
  };
  for (const Case& c : cases) {
    if (c.domain) {
      EXPECT_TRUE(domain_error([&] { circlffd(c.l, c.r, ws); })) << c.l << "○" << c.r;
    } else {
      EXPECT_NEAR(circlffd(c.l, c.r, ws), c.z, 1e-15) << c.l << "○" << c.r;
    }
  }
  EXPECT_NO_THROW(circlffd(1, 2e15, ws));
  EXPECT_EQ(circlffm(1, ws), 3.141592653589793);
  EXPECT_EQ(to_double(circld(RegArgs{intflt(-1), fltdb(-1e-10), ET_INT, ET_FLOAT}, ws)), -1e-10);
  EXPECT_TRUE(domain_error([&] { circld(regs(1.5, 0), ws); }));
  EXPECT_TRUE(domain_error([&] { circld(regs(1, 1e16), ws); }));
}

TEST_F(ScalarKernels, RollDrawsFromTheGeneratorSeededByQuadRL) {
  // ⎕RL 16807 of a clear workspace: the draws 282475249, 1622650073 …
  std::int32_t x = 6;
  fast_roll(x, ws);
  EXPECT_EQ(rd32(ws, hdr::QuadRL), 282475249u);
  EXPECT_EQ(x, static_cast<std::int32_t>((2ull * 6 * 282475249) >> 32) + 1);
  x = 1000;
  fast_roll(x, ws);
  EXPECT_EQ(rd32(ws, hdr::QuadRL), 1622650073u);
  EXPECT_EQ(x, static_cast<std::int32_t>((2ull * 1000 * 1622650073) >> 32) + 1);
  EXPECT_TRUE(domain_error([&] {
    std::int32_t y = 0;
    fast_roll(y, ws);
  }));
  for (double n : {0.0, -1.0, 2.5}) EXPECT_TRUE(domain_error([&] { slow_roll(regs(0, n), ws); })) << n;
  const double big = to_double(slow_roll(regs(0, 1e10), ws));
  EXPECT_GE(big, 1);
  EXPECT_LE(big, 1e10);
  EXPECT_EQ(big, std::floor(big));
}

}  // namespace
}  // namespace zema
