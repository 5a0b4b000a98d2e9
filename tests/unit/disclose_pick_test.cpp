// Disclose, pick and first on arrays holding object references, which no
// APL line can build yet: they are placed on the stack as the engine leaves
// them and the primitive applied.
#include <gtest/gtest.h>

#include <functional>
#include <sstream>
#include <string>

#include "host/charset.h"
#include "interpreter/engine/apply.h"
#include "interpreter/engine/engine.h"
#include "interpreter/reader/tokeniser.h"
#include "interpreter/workspace/errors.h"
#include "interpreter/workspace/heap.h"
#include "interpreter/workspace/stack.h"
#include "test_arrays.h"
#include "primitive_fixture.h"
#include "test_workspace.h"

namespace zema {
namespace {

using namespace test;


class DisclosePick : public test::PrimitiveCalls {};

TEST_F(DisclosePick, DiscloseKeepsReferencesApartFromNumbers) {
  struct Case {
    const char* what;
    ArrayImage right;
    std::string expected;
  };
  const std::vector<Case> cases = {
      {"references only: a reference matrix padded with null references",
       nested_vector({objref_array({2}, {5, 6}), objref_array({1}, {7})}), "R[2 2] 5 6 7 0"},
      {"a reference scalar among reference vectors", nested_vector({objref_array({}, {9}), objref_array({2}, {5, 6})}),
       "R[2 2] 9 0 5 6"},
      {"references with integers: no number converts to a reference",
       nested_vector({objref_array({2}, {5, 6}), int_vector({1, 2})}), "error DOMAIN ERROR"},
      {"integers, then references", nested_vector({int_vector({1}), objref_array({2}, {5, 6})}), "error DOMAIN ERROR"},
      {"references with booleans", nested_vector({objref_array({1}, {5}), bool_vector({1})}), "error DOMAIN ERROR"},
      {"references with characters: nested, the reference padded with a zero",
       nested_vector({objref_array({1}, {5}), char_vector("ab")}), "N[2 2](R 5)(B 0)(C a)(C b)"},
  };
  for (const Case& c : cases) EXPECT_EQ(monadic("⊃", c.right), c.expected) << c.what;
}

TEST_F(DisclosePick, PickAndFirstCopyReferencesOut) {
  const ArrayImage refs = nested_vector({objref_array({2}, {5, 6}), int_vector({1, 2})});
  EXPECT_EQ(dyadic(int_scalar(1), "⊃", refs), "R[2] 5 6");
  EXPECT_EQ(dyadic(int_vector({1, 2}), "⊃", refs), "R 6");
  EXPECT_EQ(monadic("↑", objref_array({3}, {4, 5, 6})), "R 4");
  EXPECT_EQ(monadic("↑", objref_array({0}, {})), "R 0");
  EXPECT_EQ(monadic("↑", refs), "R[2] 5 6");
}

}  // namespace
}  // namespace zema
