// ⎕TF while a transfer file is read or written (the header's transfer bit,
// set by )IN and )OUT): simple values in form 1 whatever form is asked,
// nested ones in form 2 behind the letter A, functions' form 2 behind F and
// the name; such texts read back; a function text that cannot be fixed is
// DATA DAMAGED, and the name keeps its value.
#include <gtest/gtest.h>

#include <string>

#include "interpreter/reader/tokeniser.h"
#include "interpreter/workspace/errors.h"
#include "interpreter/workspace/heap.h"
#include "interpreter/workspace/integrity.h"
#include "test_workspace.h"

namespace zema {
namespace {

class TransferMode : public test::DefiningSession {
 protected:
  void transfer(bool on) {
    const std::uint8_t bits = rd8(ws(), hdr::ResultBits);
    wr8(ws(), hdr::ResultBits, on ? bits | kTransferFile : bits & ~kTransferFile);
  }
  std::string in_transfer(const std::string& line) {
    transfer(true);
    const std::string out = type({line});
    transfer(false);
    return out;
  }
};

TEST_F(TransferMode, FormsWrittenAndReadBack) {
  type({"X←1 2 3", "N←1 (2 3) 'ab'", "⎕FX 'Z←F' 'Z←''it''''s'''"});
  struct Case {
    const char* line;
    const char* out;
  } const cases[] = {
      {"2 ⎕TF 'X'", "NX 1 3 1 2 3\n"},  // simple: form 1 though form 2 is asked
      {"1 ⎕TF 'X'", "NX 1 3 1 2 3\n"},
      {"2 ⎕TF 'N'", "AN←(1) (2 3) ('ab')\n"},
      {"1 ⎕TF 'N'", "AN←(1) (2 3) ('ab')\n"},  // nested: form 2 though form 1 is asked
      {"2 ⎕TF 'F'", "FF ⎕FX 'Z←F' 'Z←''it''''s'''\n"},
      {"1 ⎕TF 'F'", "FF 2 2 9 Z←F      Z←'it''s'\n"},
      {"2 ⎕TF '⎕IO'", "N⎕IO 0 1\n"},
      // Read back under other names.
      {"2 ⎕TF 'AM←(1) (2 3) (''ab'')'", "M\n"},
      {"2 ⎕TF 'FG ⎕FX ''Z←G'' ''Z←5'''", "G\n"},
  };
  for (const Case& c : cases) EXPECT_EQ(in_transfer(c.line), c.out) << c.line;
  EXPECT_EQ(type({"M≡N", "G"}), "1\n5\n");
  // Outside a transfer the letters are part of the name.
  EXPECT_EQ(type({"2 ⎕TF 'AM←5'", "AM"}), "AM\n5\n");
  EXPECT_EQ(check_integrity(ws()), 0);
}

TEST_F(TransferMode, AnUnreadableFormTwoTextIsDataDamaged) {
  type({"M←7", "⎕FX 'Z←G' 'Z←5'"});
  // (Expressions the value reader does not take run when )IN reads them:
  // the transfer transcripts show them.)
  for (const char* line : {"2 ⎕TF 'FG ⎕FX ''Z←G'' ''Z←∇'''", "2 ⎕TF 'FG ⎕FX ''Z←G'' ''Z←5'"}) {
    EXPECT_EQ(test::first_line(in_transfer(line)), "DATA DAMAGED") << line;
    EXPECT_EQ(rd16(ws(), hdr::ErrorCode), E_DATA_DAMAGED) << line;
  }
  EXPECT_EQ(type({"M", "G"}), "7\n5\n");
  EXPECT_TRUE(heap_consistent(ws()));
}

}  // namespace
}  // namespace zema
