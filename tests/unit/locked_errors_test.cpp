// Errors inside locked functions: passed up to the calling line, where the
// report and ⎕ET say DOMAIN ERROR while the recorded error code and error
// number stay those of the error raised; no level of the locked function
// (or of what it called) is left on the state indicator.
#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "host/charset.h"
#include "host/task.h"
#include "interpreter/engine/call.h"
#include "interpreter/session/definition.h"
#include "interpreter/workspace/errors.h"
#include "interpreter/workspace/heap.h"
#include "interpreter/workspace/integrity.h"
#include "interpreter/engine/line.h"
#include "interpreter/engine/statement_end.h"
#include "interpreter/reader/tokeniser.h"
#include "test_workspace.h"

namespace zema {
namespace {

class LockedErrors : public test::DefiningSession {
 protected:
  void SetUp() override {
    DefiningSessionOn::SetUp();
    type({"⍫LEN", "'in LEN'", "1 2+1 2 3", "⍫"});
    type({"⍫Z←A PICK X", "Z←X[A]", "⍫"});
    type({"∇U", "÷0", "∇"});
    type({"⍫CALLSU", "U", "⍫"});
    type({"⍫OUTER", "LEN", "⍫"});
    type({"⍫SIG", "⎕ES 7 7", "⍫"});
    type({"⍫CALLSSIG", "SIG", "⍫"});
    type({"⍫OWN", "⎕ES 'MINE'", "⍫"});
    type({"⍫CALLSOWN", "OWN", "⍫"});
    type({"∇G", "'G1'", "LEN", "∇"});
  }

};

TEST_F(LockedErrors, TheCallingLineReportsWhileTheRaisedErrorIsKept) {
  struct Case {
    const char* line;
    const char* report;     // what the session shows
    std::vector<int> et;    // what ⎕ET says
    int code;               // the error code recorded when it was raised
    std::int32_t number;    // and its error number
    std::uint32_t line_no;  // the error line: the caller's line number
    bool suspended;         // a caller (not locked) stays on the state indicator
  } const cases[] = {
      {"LEN", "in LEN\nDOMAIN ERROR\n      LEN\n      ^\n", {5, 4}, E_LENGTH, 5, 0, false},
      {"5 PICK 1 2 3", "DOMAIN ERROR\n      5 PICK 1 2 3\n      ^\n", {5, 4}, E_INDEX, 3, 0, false},
      // An unlocked function called by a locked one passes its error up too.
      {"CALLSU", "DOMAIN ERROR\n      CALLSU\n      ^\n", {5, 4}, E_DOMAIN, 11, 0, false},
      // Through two locked levels.
      {"OUTER", "in LEN\nDOMAIN ERROR\n      OUTER\n      ^\n", {5, 4}, E_LENGTH, 5, 0, false},
      // ⎕ES leaves its own function first; a message-less error keeps its
      // pair through a locked caller, one with a message of its own becomes
      // DOMAIN ERROR but shows that message.
      {"CALLSSIG", "\n      CALLSSIG\n      ^\n", {7, 7}, -4, -1, 0, false},
      {"CALLSOWN", "MINE\n      CALLSOWN\n      ^\n", {5, 4}, E_UNKNOWN_ERROR_TYPE, 15, 0, false},
      {"OWN", "MINE\n      OWN\n      ^\n", {0, 1}, E_UNKNOWN_ERROR_TYPE, 15, 0, false},
      // An unlocked caller suspends at its own line.
      {"G", "G1\nin LEN\nDOMAIN ERROR\nG[2] LEN\n     ^\n", {5, 4}, E_LENGTH, 5, 2, true},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(type({c.line}), c.report) << c.line;
    EXPECT_EQ(et(), c.et) << c.line;
    EXPECT_EQ(rdi16(ws(), hdr::ErrorCode), c.code) << c.line;
    EXPECT_EQ(rdi32(ws(), hdr::ErrorNumber), c.number) << c.line;
    EXPECT_EQ(rd16(ws(), hdr::ErrorLine), c.line_no) << c.line;
    EXPECT_EQ(!si_empty(ws()), c.suspended) << c.line;
    EXPECT_EQ(check_integrity(ws()), 0) << c.line;
    EXPECT_TRUE(heap_consistent(ws())) << c.line;
    siclr(ws());
    EXPECT_TRUE(si_empty(ws())) << c.line;
    EXPECT_TRUE(heap_consistent(ws())) << c.line;
  }
}

}  // namespace
}  // namespace zema
