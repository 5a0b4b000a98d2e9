// The ten system variables: their value rules, where each keeps its value,
// the session settings they pass on, and the reading of ⍞.
#include <gtest/gtest.h>

#include <cstring>
#include <deque>
#include <string>

#include "host/charset.h"
#include "interpreter/workspace/entry.h"
#include "interpreter/workspace/errors.h"
#include "interpreter/workspace/heap.h"
#include "interpreter/workspace/integrity.h"
#include "interpreter/engine/line.h"
#include "interpreter/workspace/extended80.h"
#include "interpreter/workspace/support.h"
#include "interpreter/workspace/symtab.h"
#include "interpreter/engine/sysvars.h"
#include "test_arrays.h"
#include "test_workspace.h"

namespace zema {
namespace {

using test::CaptureTask;
using test::CurrentTask;
using test::TestWorkspace;

// A session whose input lines are given in advance (UTF-8); a line of one
// control-C is an interrupt instead.
class ScriptedTask : public CaptureTask {
 public:
  std::deque<std::string> input;
  Input ReadInputLine(std::string& line) override {
    if (input.empty()) return Input::Ended;
    if (input.front() == "\x03") {
      input.pop_front();
      return Input::Interrupted;
    }
    line = utf8_to_internal(input.front());
    input.pop_front();
    return Input::Line;
  }
};

class SysVars : public ::testing::Test {
 protected:
  ScriptedTask task;
  CurrentTask current{&task};
  TestWorkspace tw;
  Ws ws = tw.ws();

  void SetUp() override { task.wsBase = ws; }

  // Runs one line; answers what it printed, lines joined by '\n'.
  std::string run(const std::string& utf8) {
    std::string s = run_line(utf8, task, ws);
    for (char& c : s)
      if (c == '\r') c = '\n';
    while (!s.empty() && s.back() == '\n') s.pop_back();
    return s;
  }
  // The value object of a one-letter variable.
  std::uint32_t value_of(const char* letter) {
    std::uint32_t free = 0, found = 0;
    wr8(ws, kNameBuffer, static_cast<std::uint8_t>(utf8_to_internal(letter)[0]));
    EXPECT_EQ(symfnd(free, found, 1, ws), 0) << letter;
    return rd32(ws, entry_of_table_offset(found) + sym::Value);
  }
  // The first line a statement printed (the error message, or nothing).
  std::string first_line(const std::string& utf8) {
    const std::string out = run(utf8);
    return out.substr(0, out.find('\n'));
  }
};

TEST_F(SysVars, ValueRules) {
  // Assignment, the first line it prints, then what the variable reads:
  // a refused value leaves the old one.
  struct Case {
    const char* assign;
    const char* message;
    const char* read;
    const char* value;
  } cases[] = {
      {"⎕PP←20", "", "⎕PP", "15"},
      {"⎕PP←0", "DOMAIN ERROR", "⎕PP", "10"},
      {"⎕PP←1", "", "⎕PP", "1"},
      {"⎕IO←1 1", "LENGTH ERROR", "⎕IO", "1"},
      {"⎕IO←⍬", "LENGTH ERROR", "⎕IO", "1"},
      {"⎕IO←2", "DOMAIN ERROR", "⎕IO", "1"},
      {"⎕IO←'a'", "DOMAIN ERROR", "⎕IO", "1"},
      {"⎕IO←0.5", "DOMAIN ERROR", "⎕IO", "1"},
      {"⎕IO←0.0", "", "⎕IO", "0"},
      {"⎕PW←39", "DOMAIN ERROR", "⎕PW", "80"},
      {"⎕PW←391", "DOMAIN ERROR", "⎕PW", "80"},
      {"⎕PW←40", "", "⎕PW", "40"},
      {"⎕PW←390", "", "⎕PW", "390"},
      {"⎕CS←7", "", "⎕CS", "7"},
      {"⎕CS←8", "DOMAIN ERROR", "⎕CS", "0"},
      {"⎕CS←¯1", "DOMAIN ERROR", "⎕CS", "0"},
      {"⎕RL←0", "DOMAIN ERROR", "⎕RL", "16807"},
      {"⎕RL←2147483647", "DOMAIN ERROR", "⎕RL", "16807"},
      {"⎕RL←2147483646", "", "⎕RL", "2147483646"},
      {"⎕RL←1", "", "⎕RL", "1"},
      {"⎕CT←0", "", "⎕CT", "0"},
      {"⎕CT←1", "DOMAIN ERROR", "⎕CT", "1E¯13"},
      {"⎕CT←¯1E¯10", "DOMAIN ERROR", "⎕CT", "1E¯13"},
      {"⎕CT←1.5", "DOMAIN ERROR", "⎕CT", "1E¯13"},
      {"⎕CT←0 0", "LENGTH ERROR", "⎕CT", "1E¯13"},
      {"⎕CT←'a'", "DOMAIN ERROR", "⎕CT", "1E¯13"},
      {"⎕CT←0.5", "", "⎕CT", "0.5"},
      {"⎕FC←'.,*0_'", "", "⎕FC", ".,*0_"},
      {"⎕FC←'.,*0_¯x'", "LENGTH ERROR", "⎕FC", ".,*0_¯"},
      {"⎕FC←'x'", "DOMAIN ERROR", "⎕FC", ".,*0_¯"},
      {"⎕FC←1 2", "DOMAIN ERROR", "⎕FC", ".,*0_¯"},
      {"⎕PR←'#'", "", "⎕PR", "#"},
      {"⎕PR←'ab'", "LENGTH ERROR", "⎕PR", ""},
      {"⎕PR←1", "DOMAIN ERROR", "⎕PR", ""},
      {"⎕PR←''", "", "⎕PR", ""},
      {"⎕HT←8 16 24", "", "⎕HT", "8 16 24"},
      {"⎕HT←24 8 8 0 200", "", "⎕HT", "8 24"},
      {"⎕HT←'a'", "DOMAIN ERROR", "⎕HT", ""},
      {"⎕HT←(1 2)(3)", "DOMAIN ERROR", "⎕HT", ""},
      {"⎕HT←2.5", "DOMAIN ERROR", "⎕HT", ""},
      {"⎕LX←'GO'", "", "⎕LX", "GO"},
      {"⎕LX←1 2 3", "", "⎕LX", "1 2 3"},
      {"⎕LX←'AB' 'C'", "DOMAIN ERROR", "⎕LX", ""},
  };
  for (const Case& c : cases) {
    TestWorkspace fresh;
    ws = fresh.ws();
    task.wsBase = ws;
    lowglobals(ws).pr_char = -1;
    std::memset(sup_tabs(ws), 0, kTabStopBytes);
    run("⎕PR←''");
    EXPECT_EQ(first_line(c.assign), c.message) << c.assign;
    EXPECT_EQ(run(c.read), c.value) << c.assign;
    EXPECT_EQ(check_integrity(ws), 0) << c.assign;
  }
}

TEST_F(SysVars, OneElementArraysOfAnyRank) {
  // Every axis 1: a scalar, a vector or a matrix of one element.
  struct Case {
    test::ArrayImage value;
    int error;
  } cases[] = {
      {test::int_array({1}, {0}), 0},
      {test::int_array({1, 1}, {0}), 0},
      {test::float_array({1, 1, 1}, {1.0}), 0},
      {test::bool_array({1}, {1}), 0},
      {test::int_array({1, 2}, {0, 0}), E_LENGTH},
      {test::int_array({0}, {}), E_LENGTH},
      {test::char_array({1}, "a"), E_DOMAIN},
  };
  for (const Case& c : cases) {
    const std::uint32_t a = test::place(ws, c.value);
    int code = 0;
    try {
      assign_system_variable(sysvar::IO, test::slot_of(ws, a), ws);
    } catch (const AplError& e) {
      code = e.code;
    }
    EXPECT_EQ(code, c.error);
  }
  EXPECT_EQ(quad_io(ws), 1);  // the last accepted value was the boolean 1
}

TEST_F(SysVars, ClearWorkspaceValues) {
  EXPECT_EQ(run("⎕IO"), "1");
  EXPECT_EQ(run("⎕PP"), "10");
  EXPECT_EQ(run("⎕RL"), "16807");
  EXPECT_EQ(run("⎕CT"), "1E¯13");
  EXPECT_EQ(run("⎕FC"), ".,*0_¯");
  EXPECT_EQ(run("⎕LX"), "");
  EXPECT_EQ(run("⎕CS"), "0");
  // An empty ⎕LX reads as an empty character vector.
  run("X←⎕LX");
  const std::uint32_t x = value_of("X");
  EXPECT_EQ(rd8(ws, x + obj::Type), ET_CHAR);
  EXPECT_EQ(rd16(ws, x + obj::Rank4), 4);
  EXPECT_EQ(rd32(ws, x + obj::Shape), 0u);
  EXPECT_NEAR(get_qct(ws), 1e-13, 1e-27);
}

TEST_F(SysVars, AssignedValueStaysTheStatementsValueWithoutDisplay) {
  EXPECT_EQ(run("⎕IO←0"), "");
  EXPECT_EQ(run("X←⎕PP←5"), "");
  EXPECT_EQ(run("X"), "5");
  EXPECT_EQ(run("Y←7"), "");
  EXPECT_EQ(run("⎕PP←Y"), "");
  EXPECT_EQ(run("⎕PP"), "7");
  EXPECT_EQ(first_line("⎕PP←UNSET"), "VALUE ERROR");
}

TEST_F(SysVars, ExtendedQuadCT) {
  run("⎕CT←0.5");
  const Extended80 half = load_x80(ws + hdr::QuadCT);
  EXPECT_EQ(half, (Extended80{0x3FFE, 0x80000000u, 0}));
  run("⎕CT←0");
  EXPECT_TRUE(load_x80(ws + hdr::QuadCT).is_zero());
  run("⎕CT←1E¯10");
  EXPECT_NEAR(get_qct(ws), 1e-10, 1e-24);
  EXPECT_LT(load_x80(ws + hdr::QuadCT).exponent(), 0x3FFF);
}

TEST_F(SysVars, SessionSettingsFollowPWAndPR) {
  run("⎕PW←100");
  EXPECT_EQ(lowglobals(ws).pw_default, 100);
  run("⎕PR←'*'");
  EXPECT_EQ(lowglobals(ws).pr_char, 0x50);
  EXPECT_EQ(rdi32(ws, sysvar_value_word(sysvar::PR)), 0x50);
  run("⎕PR←''");
  EXPECT_EQ(lowglobals(ws).pr_char, -1);
  EXPECT_EQ(rdi32(ws, sysvar_value_word(sysvar::PR)), -1);
  // A refused width leaves the session's setting too.
  run("⎕PW←20");
  EXPECT_EQ(lowglobals(ws).pw_default, 100);
}

TEST_F(SysVars, TabStopLayout) {
  run("⎕HT←1 32 33 160 161");
  const std::uint8_t* b = sup_tabs(ws);
  EXPECT_EQ(b[0], 1);
  std::uint32_t w[5];
  std::memcpy(w, b + kTabMap, sizeof w);
  EXPECT_EQ(w[0], 0x80000001u);  // columns 1 and 32
  EXPECT_EQ(w[1], 0x00000001u);  // column 33
  EXPECT_EQ(w[2], 0u);
  EXPECT_EQ(w[4], 0x80000000u);  // column 160
  EXPECT_EQ(run("⎕HT"), "1 32 33 160");
  run("⎕HT←⍬");
  EXPECT_EQ(b[0], 0);
  EXPECT_EQ(run("⎕HT"), "");
  // A boolean value sets column 1 only.
  run("⎕HT←1 0 1");
  EXPECT_EQ(run("⎕HT"), "1");
}

TEST_F(SysVars, LXAndFCOwnTheirValues) {
  run("⎕LX←'ONE'");
  const std::uint32_t first = rd32(ws, sysvar_value_word(sysvar::LX));
  ASSERT_NE(first, 0u);
  EXPECT_EQ(rd32(ws, first - 4), sysvar_entry(sysvar::LX));
  EXPECT_EQ(rd8(ws, first) & 0x0F, OK_SYMBOL);
  run("⎕LX←'TWO'");
  EXPECT_TRUE(rd8(ws, first) & kReleased);  // the old value went
  EXPECT_EQ(rd8(ws, sysvar_entry(sysvar::LX) + sym::Type), SYM_SYSVAR);
  run("V←'ABC'");
  run("⎕FC←V");
  const std::uint32_t fc = rd32(ws, sysvar_value_word(sysvar::FC));
  EXPECT_EQ(rd32(ws, fc - 4), sysvar_entry(sysvar::FC));
  EXPECT_EQ(run("V"), "ABC");  // copied, not taken
  EXPECT_EQ(check_integrity(ws), 0);
}

TEST_F(SysVars, IndexedAssignmentTargets) {
  // ⎕FC without a value is given its default first.
  prepare_indexed_special(sysvar_token(sysvar::FC), ws);
  const std::uint32_t fc = rd32(ws, sysvar_value_word(sysvar::FC));
  ASSERT_NE(fc, 0u);
  EXPECT_EQ(std::memcmp(ws + fc + 16, qfc_default, 6), 0);
  EXPECT_EQ(check_integrity(ws), 0);
  auto code_of = [&](int index) {
    try {
      prepare_indexed_special(sysvar_token(index), ws);
    } catch (const AplError& e) {
      return e.code;
    }
    return 0;
  };
  EXPECT_EQ(code_of(sysvar::LX), E_INDEX);  // no value yet
  run("⎕LX←'X'");
  EXPECT_EQ(code_of(sysvar::LX), 0);
  EXPECT_EQ(code_of(sysvar::IO), E_INDEX);
  EXPECT_EQ(code_of(sysvar::HT), E_INDEX);
}

TEST_F(SysVars, LocalisationSavesAndRestores) {
  constexpr std::uint32_t kFrame = 0x294;  // scratch bytes of the header
  run("⎕HT←1 100 160");
  save_tab_stops(kFrame, ws);
  run("⎕HT←5");
  restore_tab_stops(kFrame, ws);
  EXPECT_EQ(run("⎕HT"), "1 100 160");

  save_quad_ct(kFrame, ws);
  run("⎕CT←0");
  restore_quad_ct(kFrame, ws);
  EXPECT_EQ(run("⎕CT"), "1E¯13");

  const std::uint32_t seed = save_quad_rl(ws);
  run("⎕RL←5");
  restore_quad_rl(seed, ws);
  EXPECT_EQ(run("⎕RL"), "16807");

  wr32(ws, sysvar_value_word(sysvar::PW), 123);
  sysvar_restored(sysvar::PW, ws);
  EXPECT_EQ(lowglobals(ws).pw_default, 123);
  wr32(ws, sysvar_value_word(sysvar::PR), 0x2E);
  sysvar_restored(sysvar::PR, ws);
  EXPECT_EQ(lowglobals(ws).pr_char, 0x2E);
}

TEST_F(SysVars, QuoteQuadReadsALine) {
  struct Case {
    const char* typed;
    std::uint16_t rank4;
  } cases[] = {{"A", 0}, {"AB", 4}, {"", 4}, {"HELLO WORLD", 4}};
  for (const Case& c : cases) {
    task.input = {c.typed};
    EXPECT_EQ(run("X←⍞"), "") << c.typed;
    const std::uint32_t v = value_of("X");
    EXPECT_EQ(rd8(ws, v + obj::Type), ET_CHAR);
    EXPECT_EQ(rd16(ws, v + obj::Rank4), c.rank4) << c.typed;
    EXPECT_EQ(run("X"), c.typed);
    EXPECT_EQ(check_integrity(ws), 0);
  }
}

TEST_F(SysVars, QuoteQuadWithoutALineIsAnInterrupt) {
  task.attnEnabled = true;
  task.input = {"\x03"};
  EXPECT_EQ(first_line("X←⍞"), "INTERRUPT");
  EXPECT_EQ(rd16(ws, hdr::EtMajor), 1);
  EXPECT_EQ(rd16(ws, hdr::EtMinor), 1);
  EXPECT_FALSE(rd16(ws, hdr::State) & st::QuoteQuadInput);
}

}  // namespace
}  // namespace zema
