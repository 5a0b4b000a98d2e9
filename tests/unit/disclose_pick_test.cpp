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
#include "test_workspace.h"

namespace zema {
namespace {

using namespace test;


class DisclosePick : public ::testing::Test {
 protected:
  TestWorkspace tw{1024 * 1024};
  Ws ws = tw.ws();
  CaptureTask task;
  CurrentTask current{&task};

  void SetUp() override { stack(primer, ws); }

  void push_function(const char* glyph) {
    const auto code = static_cast<std::uint8_t>(utf8_to_internal(glyph)[0]);
    stack(StackEntry{TC_PRIMITIVE, 0, one_byte_token(code)}, ws);
  }
  // The result's text, or the error's message.
  std::string finish(const std::function<int()>& apply) {
    try {
      EXPECT_EQ(apply(), ES_FINISH_APPLICATION);
      EXPECT_EQ(do_xmnopd(ws), ES_BIND);
    } catch (const AplError& e) {
      return "error " + internal_to_utf8(std::string(ertab(e.code)));
    }
    const std::uint32_t value = rd32(ws, stack_entry_at(0, ws) + se::Value);
    std::string text = render(ws, value);
    EXPECT_TRUE(heap_consistent(ws)) << text;
    StackEntry e;
    unstack(e, ws);
    mgarb(e.value, ws);
    return text;
  }
  std::string monadic(const char* glyph, const ArrayImage& right) {
    place(ws, right);
    push_function(glyph);
    return finish([&] { return do_xmnop(ws); });
  }
  std::string dyadic(const ArrayImage& left, const char* glyph, const ArrayImage& right) {
    place(ws, right);
    push_function(glyph);
    place(ws, left);
    wr8(ws, stack_entry_at(0, ws), kOwnsObject | TC_LEFTARG);
    return finish([&] { return do_xdyop(ws); });
  }
};

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
