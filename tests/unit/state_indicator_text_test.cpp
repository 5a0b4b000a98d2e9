// The front end's state-indicator text: the listing the session would show,
// stored in free workspace memory, or null when it does not fit.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "host/charset.h"
#include "interpreter/sysfns/commands.h"
#include "interpreter/workspace/arrays.h"
#include "interpreter/workspace/heap.h"
#include "interpreter/workspace/symtab.h"
#include "test_workspace.h"

namespace zema {
namespace {

class StateIndicatorText : public test::DefiningSession {
 protected:
  // F1 calls F2, which stops on a DOMAIN ERROR at its line 2.
  void suspend() {
    type({"∇F1 X", "A←X+F2 X", "∇", "∇R←F2 Y", "R←1", "R←Y÷0 ⍝ " + std::string(200, '-'), "∇", "F1 5"});
  }
  // The text answered, in UTF-8 with a new line for each carriage return.
  std::string text(std::int32_t n, int mode) {
    const std::uint8_t* t = get_state_indicator(ws(), n, mode);
    if (!t) return "(null)";
    std::string out;
    for (; *t; ++t) out += *t == '\r' ? std::string("\n") : internal_to_utf8(std::string(1, static_cast<char>(*t)));
    return out;
  }
};

TEST_F(StateIndicatorText, ListsWhatTheCommandsShow) {
  suspend();
  const std::uint16_t column = rd16(ws(), hdr::OutColumn);
  struct Case {
    std::int32_t n;
    int mode;
    std::string text;
  };
  const Case cases[] = {
      {0x7FFFFFFF, 0, "F2[2] *         \nF1[1]   \n"},
      {1, 0, "F2[2] *         \n"},
      {0, 0, ""},
      {0x7FFFFFFF, 1, "F2[2] *         R       Y       \nF1[1]   X       \n"},
      {0x7FFFFFFF, 6, "F2[2]   R←Y÷0 ⍝ " + std::string(200, '-') + "\n          ^\nF1[1]   A←X+F2 X\n            ^\n*       F1 5\n        ^\n"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(text(c.n, c.mode), c.text) << c.n << " " << c.mode;
    EXPECT_EQ(rd16(ws(), hdr::OutColumn), column) << "the output column is kept";
  }
  EXPECT_EQ(type({"⍴⎕SI"}), "25\n") << "the session goes on";
}

TEST_F(StateIndicatorText, NullWhenTheListingDoesNotFit) {
  suspend();
  // A variable that leaves about 250 bytes free: the statements do not fit.
  force_gcol(ws());
  const std::uint32_t free = rd32(ws(), hdr::StackPointer) - rd32(ws(), hdr::HeapTop);
  const std::uint32_t n = (free - 250) / 4;
  const std::uint32_t filler = new_array(ET_INT, 1, &n, ws());
  const std::uint32_t e = entry_of("A");
  wr32(ws(), e + sym::Value, filler);
  wr8(ws(), e + sym::Type, SYM_VAR);
  set_owner(filler, e, OK_SYMBOL, ws());
  EXPECT_EQ(text(0x7FFFFFFF, 0), "F2[2] *         \nF1[1]   \n");
  EXPECT_EQ(text(0x7FFFFFFF, 6), "(null)");
  EXPECT_EQ(rd8(ws(), hdr::OutputBits) & 0x06, 0) << "the store and overflow bits are cleared";
  EXPECT_TRUE(heap_consistent(ws()));
}

}  // namespace
}  // namespace zema
