// Applying scalar functions to arrays placed on the stack as the engine
// leaves them: conformability, the result's shape and type, the rebuild as
// float after integer overflow, nested pervasion (items, held elements,
// simplification, empty prototypes, the depth limit), object references,
// and boolean results across word boundaries against a reference.
#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "host/charset.h"
#include "interpreter/engine/apply.h"
#include "interpreter/primitives/args.h"
#include "interpreter/engine/engine.h"
#include "interpreter/workspace/errors.h"
#include "interpreter/workspace/heap.h"
#include "interpreter/workspace/stack.h"
#include "interpreter/reader/tokeniser.h"
#include "test_arrays.h"
#include "primitive_fixture.h"
#include "test_workspace.h"

namespace zema {
namespace {

using namespace test;



class ScalarApply : public test::PrimitiveCalls {};

ArrayImage int_matrix(std::uint32_t rows, std::uint32_t cols, std::int32_t v) {
  return int_array({rows, cols}, std::vector<std::int32_t>(rows * cols, v));
}

TEST_F(ScalarApply, ArgumentsConformOrRaiseRankAndLengthErrors) {
  struct Case {
    ArrayImage left, right;
    std::string expected;
  };
  const std::vector<Case> cases = {
      {int_matrix(2, 2, 1), int_vector({1, 2, 3}), "error RANK ERROR"},
      {int_matrix(2, 2, 1), int_vector({1, 2}), "error RANK ERROR"},
      {int_matrix(2, 3, 1), int_matrix(3, 2, 1), "error LENGTH ERROR"},
      {int_vector({1, 2, 3}), int_vector({1, 2}), "error LENGTH ERROR"},
      {int_matrix(2, 2, 1), int_scalar(5), "I[2 2] 6 6 6 6"},
      {int_vector({7}), int_matrix(2, 2, 1), "I[2 2] 8 8 8 8"},
      // Two single elements: the higher rank gives the shape, the left on a tie.
      {int_array({1, 1}, {4}), int_vector({5}), "I[1 1] 9"},
      {int_vector({5}), int_array({1, 1}, {4}), "I[1 1] 9"},
      {int_vector({5}), int_scalar(4), "I[1] 9"},
      {int_scalar(4), int_vector({5}), "I[1] 9"},
      {int_vector({}), int_scalar(4), "I[0]"},
      {int_array({2, 0}, {}), int_array({2, 0}, {}), "I[2 0]"},
  };
  for (const Case& c : cases) EXPECT_EQ(dyadic(c.left, "+", c.right), c.expected);
}

TEST_F(ScalarApply, ResultTypeFollowsTheFlagsAndTheArgumentTypes) {
  struct Case {
    ArrayImage left;
    const char* fn;
    ArrayImage right;
    std::string expected;
  };
  const std::vector<Case> cases = {
      {bool_vector({1, 0}), "+", bool_vector({1, 1}), "I[2] 2 1"},
      {int_vector({6, 3}), "÷", int_vector({3, 2}), "F[2] 2 1.5"},
      {int_vector({6, 3}), "=", int_vector({6, 2}), "B[2] 1 0"},
      {float_vector({1.5}), "⌈", int_vector({1, 2}), "F[2] 1.5 2"},
      // Integer overflow anywhere rebuilds the whole result as float.
      {int_vector({1, 2147483647}), "+", int_scalar(1), "F[2] 2 2.14748e+09"},
      {int_scalar(65536), "×", int_vector({1, 65536}), "F[2] 65536 4.29497e+09"},
      {int_scalar(46340), "×", int_scalar(46340), "I 2147395600"},
      {int_scalar(-2147483647 - 1), "-", int_scalar(1), "F -2.14748e+09"},
      {int_scalar(3), "|", int_scalar(-2147483647 - 1), "F 1"},
      {int_scalar(2), "*", int_vector({30, 31}), "F[2] 1.07374e+09 2.14748e+09"},
      {int_scalar(2), "*", int_scalar(30), "I 1073741824"},
      {int_vector({2, 5}), "!", int_vector({5, 2}), "I[2] 10 0"},
  };
  for (const Case& c : cases) EXPECT_EQ(dyadic(c.left, c.fn, c.right), c.expected) << c.fn;
  struct MonadicCase {
    const char* fn;
    ArrayImage right;
    std::string expected;
  };
  const std::vector<MonadicCase> monadic_cases = {
      {"-", int_vector({3, -2147483647 - 1}), "F[2] -3 2.14748e+09"},
      {"|", int_scalar(-2147483647 - 1), "F 2.14748e+09"},
      {"⌊", float_vector({2.5, -0.5}), "I[2] 2 -1"},
      {"⌈", float_scalar(1e10), "F 1e+10"},
      {"×", float_vector({-0.0001, 0, 3}), "I[3] -1 0 1"},
      {"!", int_vector({12, 13}), "F[2] 4.79002e+08 6.22702e+09"},
      {"!", int_scalar(12), "I 479001600"},
      {"+", bool_vector({1, 0}), "I[2] 1 0"},
      {"~", int_vector({1, 0}), "B[2] 0 1"},
      {"÷", int_scalar(4), "F 0.25"},
  };
  for (const MonadicCase& c : monadic_cases) EXPECT_EQ(monadic(c.fn, c.right), c.expected) << c.fn;
}

TEST_F(ScalarApply, FormsAndArgumentsTheFlagsRefuse) {
  EXPECT_EQ(monadic("<", int_scalar(5)), "error VALENCE ERROR");
  EXPECT_EQ(monadic("∧", bool_vector({1})), "error VALENCE ERROR");
  EXPECT_EQ(dyadic(char_vector("a"), "+", int_scalar(1)), "error DOMAIN ERROR");
  EXPECT_EQ(dyadic(int_scalar(1), "×", char_vector("ab")), "error DOMAIN ERROR");
  EXPECT_EQ(monadic("-", char_scalar("a")), "error DOMAIN ERROR");
  EXPECT_EQ(monadic("~", char_scalar("a")), "error DOMAIN ERROR");
  // Empty character arrays pass: nothing is computed (character and
  // integer types make a float result).
  EXPECT_EQ(dyadic(char_vector(""), "+", int_scalar(1)), "F[0]");
  EXPECT_EQ(monadic("~", int_scalar(2)), "error DOMAIN ERROR");
  EXPECT_EQ(dyadic(int_scalar(5), "÷", int_scalar(0)), "error DOMAIN ERROR");
  EXPECT_EQ(dyadic(float_scalar(1e308), "×", int_scalar(10)), "error DOMAIN ERROR");
  EXPECT_EQ(monadic("∪", int_scalar(1)), "error SYNTAX ERROR");
  EXPECT_EQ(monadic("⌶", int_scalar(1)), "error NONCE ERROR");
}

TEST_F(ScalarApply, CharactersAndReferencesCompareOnlyWithTheirOwnKind) {
  EXPECT_EQ(dyadic(char_vector("abc"), "=", char_vector("abd")), "B[3] 1 1 0");
  EXPECT_EQ(dyadic(char_vector("abc"), "≠", char_scalar("b")), "B[3] 1 0 1");
  EXPECT_EQ(dyadic(char_scalar("A"), "=", int_vector({65, 1})), "B[2] 0 0");
  EXPECT_EQ(dyadic(char_scalar("A"), "≠", int_vector({65, 1})), "B[2] 1 1");
  EXPECT_EQ(dyadic(objref_array({3}, {5, 6, 7}), "=", objref_array({3}, {5, 0, 7})), "B[3] 1 0 1");
  EXPECT_EQ(dyadic(objref_array({2}, {5, 6}), "≠", int_vector({5, 6})), "B[2] 1 1");
  EXPECT_EQ(dyadic(objref_array({1}, {5}), "+", int_scalar(1)), "error DOMAIN ERROR");
}

TEST_F(ScalarApply, NestedArgumentsAreWalkedItemByItem) {
  const ArrayImage pair = nested_vector({int_vector({1, 2}), int_scalar(3)});
  EXPECT_EQ(dyadic(pair, "+", int_scalar(10)), "N[2](I[2] 11 12)(I 13)");
  EXPECT_EQ(dyadic(int_vector({10, 20}), "+", pair), "N[2](I[2] 11 12)(I 23)");
  EXPECT_EQ(dyadic(pair, "×", pair), "N[2](I[2] 1 4)(I 9)");
  EXPECT_EQ(monadic("-", nested_vector({int_vector({1, 2}), enclosed(float_vector({0.5}), 2)})),
            "N[2](I[2] -1 -2)(N(N(F[1] -0.5)))");
  // Held booleans: the first bit of a word is read by the kernels, later
  // ones through the element-at-a-time path.
  EXPECT_EQ(dyadic(bool_vector({1, 0, 1}), "+", nested_vector({int_vector({1, 2}), int_scalar(3), int_vector({4, 5})})),
            "N[3](I[2] 2 3)(I 3)(I[2] 5 6)");
  EXPECT_EQ(dyadic(nested_vector({int_vector({1, 1}), float_scalar(1e20), int_scalar(3)}), "|", bool_vector({1, 1, 0})),
            "N[3](I[2] 0 0)(F 0)(I 0)");
  // Overflow widens only the item where it happens.
  EXPECT_EQ(dyadic(nested_vector({int_vector({1, 2}), int_scalar(2147483647)}), "+", int_scalar(1)),
            "N[2](I[2] 2 3)(F 2.14748e+09)");
  EXPECT_EQ(dyadic(nested_vector({int_vector({1, 2}), int_scalar(3)}), "+", int_vector({1, 2, 3})),
            "error LENGTH ERROR");
  EXPECT_EQ(dyadic(nested_vector({int_vector({1, 2}), int_scalar(3)}), "+",
                   nested_vector({int_vector({1, 2, 3}), int_scalar(3)})),
            "error LENGTH ERROR");
  EXPECT_FALSE(rd8(ws, hdr::ResultBits) & rbits::NestArea);
}

TEST_F(ScalarApply, EqualityOfNestedArgumentsBecomesSimpleWhenEveryItemIs) {
  const ArrayImage a = nested_vector({int_scalar(1), char_scalar("a")});
  const ArrayImage b = nested_vector({int_scalar(1), char_scalar("b")});
  EXPECT_EQ(dyadic(a, "=", b), "B[2] 1 0");
  EXPECT_EQ(dyadic(a, "≠", b), "B[2] 0 1");
  // Arithmetic keeps the nested form; so does an item that is not a scalar.
  const ArrayImage c = nested_vector({int_vector({1, 2}), int_scalar(3)});
  EXPECT_EQ(dyadic(c, "=", nested_vector({int_vector({1, 2}), int_scalar(4)})), "N[2](B[2] 1 1)(B 0)");
  EXPECT_EQ(dyadic(nested_vector({int_scalar(1), float_scalar(2.5)}), "+", int_scalar(1)), "N[2](I 2)(F 3.5)");
  // Inner levels are simplified too.
  const ArrayImage inner = nested_vector({nested_vector({int_scalar(1), char_scalar("x")}), int_vector({1})});
  EXPECT_EQ(dyadic(inner, "=", inner), "N[2](B[2] 1 1)(B[1] 1)");
}

TEST_F(ScalarApply, AnEmptyNestedResultGetsAZeroPrototype) {
  const ArrayImage empty = nested_array({0}, {}, int_vector({1, 2}));
  EXPECT_EQ(dyadic(empty, "+", int_scalar(1)), "N[0]:B[2] 0 0");
  EXPECT_EQ(monadic("-", nested_array({0}, {}, nested_vector({char_vector("ab"), int_scalar(1)}))),
            "N[0]:N[2](B[2] 0 0)(B 0)");
  // A simple empty side with a nested other side: a boolean scalar zero.
  EXPECT_EQ(dyadic(int_vector({}), "+", nested_scalar(int_vector({1, 2}))), "N[0]:B 0");
  // The prototype is built within the same depth budget.
  EXPECT_EQ(monadic("-", nested_array({0}, {}, enclosed(int_vector({1}), 101))), "error SYSTEM LIMIT");
  EXPECT_EQ(monadic("-", nested_array({0}, {}, enclosed(int_vector({1}), 98))).substr(0, 10), "N[0]:N(N(N");
}

TEST_F(ScalarApply, NestingDeeperThanTheBudgetIsSystemLimit) {
  EXPECT_EQ(monadic("-", enclosed(int_vector({1, 2}), 100)).substr(0, 4), "N(N(");
  const std::uint32_t top = rd32(ws, hdr::HeapTop);
  EXPECT_EQ(monadic("-", enclosed(int_vector({1, 2}), 102)), "error SYSTEM LIMIT");
  EXPECT_EQ(rd16(ws, hdr::EtMajor), 1);
  EXPECT_EQ(rd16(ws, hdr::EtMinor), 10);
  EXPECT_FALSE(rd8(ws, hdr::ResultBits) & rbits::NestArea);
  EXPECT_GT(rd32(ws, hdr::HeapTop), top);  // the argument and the partial result, still on the stack
  EXPECT_TRUE(heap_consistent(ws));
}

TEST_F(ScalarApply, ArgumentsThatMoveWhileTheResultIsAllocatedAreFoundAgain) {
  // Garbage below the arguments: allocating the result compacts the heap.
  const std::uint32_t junk = place(ws, int_vector(std::vector<std::int32_t>(1000, 7)));
  StackEntry e;
  unstack(e, ws);
  mgarb(junk, ws);
  wr32(ws, hdr::GarbageLimit, 0);
  const std::uint32_t room = rd32(ws, hdr::StackPointer) - rd32(ws, hdr::HeapTop);
  // Arguments large enough that the result fits only after compaction.
  const std::uint32_t n = (room - 4100) / 12;
  std::string want = "I[" + std::to_string(n) + "]";
  for (std::uint32_t i = 0; i < n; ++i) want += " 6";
  EXPECT_EQ(dyadic(int_vector(std::vector<std::int32_t>(n, 2)), "×", int_vector(std::vector<std::int32_t>(n, 3))), want);
  // Only the two released arguments are garbage: the junk went in the compaction.
  EXPECT_EQ(rd32(ws, hdr::Garbage), 2 * (20 + 4 * n));
}

// Boolean results over lengths around word boundaries, each side a vector
// or a single element, against the definition element by element.
TEST_F(ScalarApply, BooleanFunctionsAgreeWithTheirDefinitionAcrossWords) {
  std::mt19937 gen(7);
  struct Fn {
    const char* glyph;
    std::function<int(int, int)> f;
  };
  const std::vector<Fn> fns = {
      {"∧", [](int a, int b) { return a & b; }},        {"∨", [](int a, int b) { return a | b; }},
      {"⍲", [](int a, int b) { return !(a & b); }},     {"⍱", [](int a, int b) { return !(a | b); }},
      {"=", [](int a, int b) { return a == b; }},       {"≠", [](int a, int b) { return a != b; }},
      {"<", [](int a, int b) { return a < b; }},        {"≤", [](int a, int b) { return a <= b; }},
      {">", [](int a, int b) { return a > b; }},        {"≥", [](int a, int b) { return a >= b; }},
  };
  for (std::uint32_t n : {1u, 31u, 32u, 33u, 95u}) {
    std::vector<int> a(n), b(n);
    for (std::uint32_t i = 0; i < n; ++i) {
      a[i] = gen() & 1;
      b[i] = gen() & 1;
    }
    for (const Fn& fn : fns) {
      for (int shape = 0; shape < 3; ++shape) {
        const std::vector<int> la = shape == 1 ? std::vector<int>{a[0]} : a;
        const std::vector<int> rb = shape == 2 ? std::vector<int>{b[0]} : b;
        std::string want = "B[" + std::to_string(n) + "]";
        for (std::uint32_t i = 0; i < n; ++i) want += " " + std::to_string(fn.f(la[shape == 1 ? 0 : i], rb[shape == 2 ? 0 : i]) ? 1 : 0);
        EXPECT_EQ(dyadic(bool_vector(la), fn.glyph, bool_vector(rb)), want) << fn.glyph << " n=" << n << " shape " << shape;
        // The same values as integers go through the integer comparisons
        // (or, for ∧ ∨ ⍲ ⍱, the element-at-a-time path).
        std::vector<std::int32_t> li(la.begin(), la.end()), ri(rb.begin(), rb.end());
        EXPECT_EQ(dyadic(int_vector(li), fn.glyph, int_vector(ri)), want) << fn.glyph << " int n=" << n;
      }
    }
    std::string want = "B[" + std::to_string(n) + "]";
    for (std::uint32_t i = 0; i < n; ++i) want += a[i] ? " 0" : " 1";
    EXPECT_EQ(monadic("~", bool_vector(a)), want);
    EXPECT_EQ(monadic("~", int_vector(std::vector<std::int32_t>(a.begin(), a.end()))), want);
    EXPECT_EQ(monadic("~", float_vector(std::vector<double>(a.begin(), a.end()))), want);
  }
}

TEST_F(ScalarApply, IntegerComparisonsAcrossWordsWithScalarExtension) {
  std::vector<std::int32_t> x(70), y(70);
  for (int i = 0; i < 70; ++i) {
    x[i] = (i * 37) % 11 - 5;
    y[i] = (i * 17) % 7 - 3;
  }
  struct Fn {
    const char* glyph;
    std::function<bool(double, double)> f;
  };
  const std::vector<Fn> fns = {{"=", std::equal_to<>()}, {"≠", std::not_equal_to<>()}, {"<", std::less<>()},
                               {"≤", std::less_equal<>()}, {">", std::greater<>()},   {"≥", std::greater_equal<>()}};
  for (const Fn& fn : fns) {
    std::string vv = "B[70]", vs = "B[70]", fv = "B[70]";
    for (int i = 0; i < 70; ++i) {
      vv += fn.f(x[i], y[i]) ? " 1" : " 0";
      vs += fn.f(x[i], 0) ? " 1" : " 0";
      fv += fn.f(x[i] + 0.5, y[i]) ? " 1" : " 0";
    }
    EXPECT_EQ(dyadic(int_vector(x), fn.glyph, int_vector(y)), vv) << fn.glyph;
    EXPECT_EQ(dyadic(int_vector(x), fn.glyph, bool_vector({0})), vs) << fn.glyph;
    std::vector<double> xf(x.begin(), x.end());
    for (double& d : xf) d += 0.5;
    EXPECT_EQ(dyadic(float_vector(xf), fn.glyph, int_vector(y)), fv) << fn.glyph;
  }
}

TEST_F(ScalarApply, ComparisonsAreTolerantOnlyWhenAFloatTakesPart) {
  struct Case {
    ArrayImage left;
    const char* fn;
    ArrayImage right;
    std::string expected;
  };
  const std::vector<Case> cases = {
      {int_scalar(1), "=", float_vector({1 + 1e-14, 1 + 1e-12}), "B[2] 1 0"},
      {int_scalar(0), "=", float_scalar(1e-20), "B 0"},
      {float_scalar(1e-20), "=", float_scalar(-1e-20), "B 0"},
      {int_scalar(3), "=", float_scalar(3.0000000000001), "B 1"},
      {int_scalar(1), "≥", float_scalar(1 + 1e-14), "B 1"},
      {int_scalar(1), "<", float_vector({1 + 1e-14, 1 + 1e-12}), "B[2] 0 1"},
      {float_vector({1 + 1e-14, 2}), ">", int_scalar(1), "B[2] 0 1"},
      {int_scalar(1000000001), "=", int_scalar(1000000000), "B 0"},
  };
  for (const Case& c : cases) EXPECT_EQ(dyadic(c.left, c.fn, c.right), c.expected) << c.fn;
  // ⎕CT = 0 makes = exact for floats.
  store_x80(ws + hdr::QuadCT, Extended80{});
  EXPECT_EQ(dyadic(int_scalar(1), "=", float_scalar(1 + 1e-15)), "B 0");
}

}  // namespace
}  // namespace zema
