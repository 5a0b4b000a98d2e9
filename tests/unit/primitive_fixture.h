// A cleared workspace in which primitives are applied straight through the
// engine's application routines, with the result (or the error) rendered as
// text: the base of the tests of single primitive calls.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <functional>
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

namespace zema::test {

class PrimitiveCalls : public ::testing::Test {
 protected:
  TestWorkspace tw{1024 * 1024};
  Ws ws = tw.ws();
  CaptureTask task;
  CurrentTask current{&task};

  void SetUp() override { stack(primer, ws); }

  // Pushes the primitive written as `glyph`.
  void push_function(const char* glyph) {
    const auto code = static_cast<std::uint8_t>(utf8_to_internal(glyph)[0]);
    stack(StackEntry{TC_PRIMITIVE, 0, one_byte_token(code)}, ws);
  }
  // Runs `apply` and finishes the application; answers the result's text
  // (render), or "error " and the error's message. The result is released.
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

}  // namespace zema::test
