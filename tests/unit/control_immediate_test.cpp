// Control keywords typed in immediate execution, each followed by lines
// that fail, escape, compact the heap or read and erase the names the
// keyword set: every pair leaves a sound workspace (no SYSTEM ERROR, the
// heap and the integrity check pass), and a :For's control variable keeps
// its name and value.
#include <gtest/gtest.h>

#include <string>

#include "host/charset.h"
#include "interpreter/engine/line.h"
#include "interpreter/workspace/heap.h"
#include "interpreter/workspace/integrity.h"
#include "interpreter/workspace/symtab.h"
#include "test_workspace.h"

namespace zema {
namespace {

using test::CaptureTask;
using test::CurrentTask;
using test::TestWorkspace;

class ControlImmediate : public ::testing::Test {
 protected:
  CaptureTask task;
  CurrentTask current{&task};
};

constexpr const char* kKeywordLines[] = {
    ":If 1", ":If 0", ":ElseIf 1", ":AndIf 1", ":OrIf 0", ":Else", ":EndIf", ":While 1", ":While 0", ":Until 0",
    ":Repeat", ":Repeat 3", ":EndRepeat", ":For I :In 3", ":For I :In ⍳3", ":For I :In 'abc'",
    ":For (I J) :In (1 2)(3 4)", ":For I :In ⍬", ":For I :In 2 2⍴⍳4", ":EndFor", ":Select 5", ":Select 'ab'",
    ":Case 5", ":CaseList 1 2", ":EndSelect", ":Try", ":CatchIf 1", ":CatchAll", ":EndTry", ":Leave", ":Continue",
    ":GoTo 2", ":Return", ":End", ":For I :In 3 ⋄ I ⋄ :EndFor", ":Select 5 ⋄ :Case 5 ⋄ 'five' ⋄ :EndSelect",
    ":Repeat 2 ⋄ 'r' ⋄ :EndRepeat", ":If 1 ⋄ :Leave ⋄ :EndIf",
};

constexpr const char* kFollowing[] = {
    "1÷0", "→", "Y←⍳5000", "⎕EX 'I'", "I", "J", "⍎':EndFor'", "⍎':For K :In 2'", "⍎'1÷0'", "Z←⎕EC '1÷0'",
    ":Select 6", ":For K :In 4 5",
};

TEST_F(ControlImmediate, EveryKeywordThenEveryFollowingLineLeavesASoundWorkspace) {
  for (const char* keyword : kKeywordLines) {
    for (const char* following : kFollowing) {
      TestWorkspace tw;
      const Ws ws = tw.ws();
      task.wsBase = ws;
      std::string printed;
      for (const char* line : {keyword, following, "Y←⍳6000", "1÷0", "Y←⍳7000"})
        printed += test::run_line(line, task, ws);
      force_gcol(ws);
      SCOPED_TRACE(std::string(keyword) + " then " + following);
      EXPECT_EQ(printed.find("SYSTEM ERROR"), std::string::npos) << printed;
      EXPECT_TRUE(heap_consistent(ws));
      EXPECT_EQ(check_integrity(ws), IF_OK);
    }
  }
}

TEST_F(ControlImmediate, AForVariableKeepsItsNameAfterItsLineHasGone) {
  TestWorkspace tw;
  const Ws ws = tw.ws();
  task.wsBase = ws;
  test::run_line(":For NEWNAME :In 7 8", task, ws);
  test::run_line("Y←⍳5000", task, ws);
  test::run_line("1÷0", task, ws);
  EXPECT_NE(test::symbol_entry("NEWNAME", ws), 0u);
  EXPECT_NE(test::run_line("NEWNAME", task, ws).find('7'), std::string::npos);
  EXPECT_TRUE(heap_consistent(ws));
}

}  // namespace
}  // namespace zema
