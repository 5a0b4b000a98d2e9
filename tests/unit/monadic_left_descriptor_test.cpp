// A monadic primitive reads nothing through the left descriptor: with the
// descriptor's offset word left pointing at a word that holds a wild offset
// (as a dyadic call long gone leaves it), every monadic primitive, alone and
// under each, on simple, nested and empty arguments, runs as usual.
#include <gtest/gtest.h>

#include <string>

#include "interpreter/primitives/args.h"
#include "interpreter/workspace/heap.h"
#include "interpreter/workspace/stack.h"
#include "test_workspace.h"

namespace zema {
namespace {

using test::CaptureTask;
using test::CurrentTask;
using test::TestWorkspace;

constexpr const char* kMonadic[] = {",", "⌽", "⊖", "⍉", "↑", "⊃", "⊂", "≡", "⍴", "⍋", "⍒", "~", "-", "+", "|",
                                    "⌊", "⍕", "⍳", "?", "*", "×", "÷", "!", "○", "⌹", "⍎"};
constexpr const char* kArguments[] = {"3(4 5)", "'ab' 'cde'", "2 2⍴⍳4", "⍳0", "⊂⍳3", "2 1⍴(1 2)(3 4)", "0⍴⊂1 2",
                                      "'text'", "5"};

// Points the left descriptor's offset word at a word of the free gap that
// holds an offset far outside the workspace.
void poison_left_descriptor(Ws ws) {
  const std::uint32_t word = (rd32(ws, hdr::StackPointer) - 2048) & ~3u;
  wr32(ws, word, 0xFFFFFF00u);
  wr32(ws, hdr::LeftDesc + desc::OffsetWord, word);
}

TEST(MonadicLeftDescriptor, NoMonadicPrimitiveReadsAStaleLeftArgument) {
  CaptureTask task;
  CurrentTask current{&task};
  TestWorkspace tw;
  const Ws ws = tw.ws();
  task.wsBase = ws;
  for (const char* f : kMonadic) {
    for (const char* a : kArguments) {
      for (const std::string& line : {std::string(f) + a, std::string(f) + "¨" + a}) {
        poison_left_descriptor(ws);
        const std::string printed = test::run_line(line, task, ws);
        SCOPED_TRACE(line);
        EXPECT_EQ(printed.find("SYSTEM ERROR"), std::string::npos) << printed;
        EXPECT_TRUE(heap_consistent(ws));
      }
    }
  }
}

}  // namespace
}  // namespace zema
