// Errors chosen by the program: ⎕ES by ⎕ET pair or with its own message,
// ⎕ERS by error number, the clearing forms that signal nothing, the report
// at the caller's line when used in a function, and ⎕EM's three rows.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "host/charset.h"
#include "host/task.h"
#include "interpreter/session/definition.h"
#include "interpreter/engine/error_path.h"
#include "interpreter/workspace/errors.h"
#include "interpreter/workspace/heap.h"
#include "interpreter/workspace/integrity.h"
#include "interpreter/engine/line.h"
#include "interpreter/workspace/stack.h"
#include "interpreter/sysfns/handlers.h"
#include "interpreter/reader/tokeniser.h"
#include "test_arrays.h"
#include "test_workspace.h"

namespace zema {
namespace {

using test::TestWorkspace;

class ErrorSignals : public test::DefiningSession {
 protected:
  std::int32_t error_number() const { return rdi32(ws(), hdr::ErrorNumber); }
  int error_code() const { return rdi16(ws(), hdr::ErrorCode); }

  void expect_sound(const std::string& what) {
    EXPECT_EQ(check_integrity(ws()), 0) << what;
    EXPECT_TRUE(heap_consistent(ws())) << what;
    EXPECT_FALSE(rd8(ws(), hdr::MiscBits) & kOwnMessageBit) << what << ": the own message serves one report";
  }

  // ⎕EM's result: its shape and its rows.
  std::vector<std::string> em_rows(std::vector<std::uint32_t>* shape) {
    sfem(ws());
    const StackEntry e = load_entry(stack_entry_at(0, ws()), ws());
    const std::uint32_t a = e.value;
    EXPECT_EQ(rd8(ws(), a + obj::Type), ET_CHAR);
    EXPECT_EQ(rd16(ws(), a + obj::Rank4), 8);
    const std::uint32_t rows = rd32(ws(), a + obj::Shape), cols = rd32(ws(), a + obj::Shape + 4);
    *shape = {rows, cols};
    std::vector<std::string> out;
    for (std::uint32_t r = 0; r < rows; ++r)
      out.push_back(internal_to_utf8(
          std::string(reinterpret_cast<const char*>(ws() + a + obj::Shape + 8 + r * cols), cols)));
    StackEntry popped;
    unstack(popped, ws());
    mgarb(popped.value, ws());
    return out;
  }

};

// ---- signalled in immediate execution ----------------------------------------------------

TEST_F(ErrorSignals, EachFormSignalsItsErrorWithItsMessage) {
  struct Case {
    const char* line;
    const char* report;  // what the session shows
    std::vector<int> et;
    std::int32_t number;
    int code;
  } const cases[] = {
      {"⎕ES 5 4", "DOMAIN ERROR\n      ⎕ES 5 4\n      ^\n", {5, 4}, 11, E_DOMAIN},
      {"⎕ES 1.0 3", "WS FULL\n      ⎕ES 1 3\n      ^\n", {1, 3}, 1, E_WS_FULL},
      {"⎕ES 6 14", "LOGICAL UNIT NOT FOUND\n      ⎕ES 6 14\n      ^\n", {6, 14}, 42, E_LOGICAL_UNIT},
      // No such pair: number ¯1 and no message at all.
      {"⎕ES 7 7", "\n      ⎕ES 7 7\n      ^\n", {7, 7}, -1, -4},
      {"⎕ES 'NOT SO FAST'", "NOT SO FAST\n      ⎕ES 'NOT SO FAST'\n      ^\n", {0, 1}, 15, E_UNKNOWN_ERROR_TYPE},
      {"⎕ES 'X'", "X\n      ⎕ES 'X'\n      ^\n", {0, 1}, 15, E_UNKNOWN_ERROR_TYPE},
      {"'OWN' ⎕ES 5 5", "OWN\n      'OWN' ⎕ES 5 5\n      ^\n", {5, 5}, 15, E_UNKNOWN_ERROR_TYPE},
      {"(⍳0) ⎕ES 5 5", "\n      (⍳0)⎕ES 5 5\n      ^\n", {5, 5}, 15, E_UNKNOWN_ERROR_TYPE},
      {"⎕ERS 3", "INDEX ERROR\n      ⎕ERS 3\n      ^\n", {5, 5}, 3, E_INDEX},
      {"⎕ERS 10", "SYSTEM LIMIT\n      ⎕ERS 10\n      ^\n", {1, 8}, 10, E_SYSTEM_LIMIT},
      {"⎕ERS 11 99", "DOMAIN ERROR\n      ⎕ERS 11 99\n      ^\n", {5, 4}, 11, E_DOMAIN},
      {"⎕ERS 25", "INCORRECT COMMAND\n      ⎕ERS 25\n      ^\n", {0, 1}, 25, E_INCORRECT_COMMAND},
      {"⎕ERS 99", "UNKNOWN ERROR TYPE\n      ⎕ERS 99\n      ^\n", {0, 1}, 99, E_UNKNOWN_ERROR_TYPE},
      {"⎕ERS ¯3", "\n      ⎕ERS ¯3\n      ^\n", {0, 1}, -3, -4},
      {"'TOO LONG' ⎕ERS 5", "TOO LONG\n      'TOO LONG' ⎕ERS 5\n      ^\n", {5, 3}, 5, E_LENGTH},
      {"'Z' ⎕ERS 43", "Z\n      'Z' ⎕ERS 43\n      ^\n", {2, 10}, 43, E_STRUCTURED_CONTROL},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(type({c.line}), c.report) << c.line;
    EXPECT_EQ(et(), c.et) << c.line;
    EXPECT_EQ(error_number(), c.number) << c.line;
    EXPECT_EQ(error_code(), c.code) << c.line;
    EXPECT_NE(rd32(ws(), hdr::ErrorMessage), 0u) << c.line;
    expect_sound(c.line);
  }
}

TEST_F(ErrorSignals, AMessageOfAHundredCharactersOrMoreIsShownWhole) {
  for (int n : {99, 100, 150, 400}) {
    std::string text;
    for (int i = 0; i < n; ++i) text.push_back(static_cast<char>('A' + i % 26));
    const std::string line = "⎕ES '" + text + "'";
    // The session folds it at ⎕PW like any long line; the report keeps it whole.
    type({line});
    std::vector<std::uint32_t> shape;
    const std::string first = em_rows(&shape)[0];  // blank-padded to the widest row
    EXPECT_EQ(first.substr(0, text.size()), text) << n;
    EXPECT_EQ(first.find_first_not_of(' ', text.size()), std::string::npos) << n;
    expect_sound(line);
    // The next error has the table's message again.
    EXPECT_EQ(type({"1÷0"}).substr(0, 13), "DOMAIN ERROR\n") << n;
  }
}

TEST_F(ErrorSignals, WrongArgumentsAreTheirOwnErrors) {
  struct Case {
    const char* line;
    int code;
    std::vector<int> et;
  } const cases[] = {
      {"⎕ES 1 2 3", E_LENGTH, {5, 3}},
      {"⎕ES ,5", E_LENGTH, {5, 3}},
      {"⎕ES 5", E_RANK, {5, 2}},
      {"⎕ES 2 2⍴5 4", E_RANK, {5, 2}},
      {"⎕ES 2 2⍴'ABCD'", E_RANK, {5, 2}},
      {"⎕ES 1.5 2", E_DOMAIN, {5, 4}},
      {"'A' ⎕ES 'B'", E_DOMAIN, {5, 4}},
      {"(2 2⍴'ABCD') ⎕ES 5 4", E_RANK, {5, 2}},
      {"5 ⎕ES 5 4", E_DOMAIN, {5, 4}},
      {"⎕ERS 'A'", E_DOMAIN, {5, 4}},
      {"⎕ERS 2 2⍴3", E_RANK, {5, 2}},
      {"⎕ERS 2.5", E_DOMAIN, {5, 4}},
      {"5 ⎕ERS 3", E_DOMAIN, {5, 4}},
      {"(2 2⍴'ABCD') ⎕ERS 3", E_RANK, {5, 2}},
  };
  for (const Case& c : cases) {
    const std::string report = type({c.line});
    EXPECT_EQ(error_code(), c.code) << c.line << ": " << report;
    EXPECT_EQ(et(), c.et) << c.line;
    EXPECT_EQ(report.substr(0, report.find('\n')), internal_to_utf8(ertab(c.code))) << c.line;
    expect_sound(c.line);
  }
}

TEST_F(ErrorSignals, ClearingFormsAndEmptyArgumentsSignalNothing) {
  struct Case {
    const char* line;
    bool clears;
  } const cases[] = {
      {"⎕ES 0 0", true},     {"'MSG' ⎕ES 0 0", true}, {"⎕ERS 0", true},   {"'MSG' ⎕ERS 0", true},
      {"⎕ERS 0 7", true},    {"⎕ES ⍳0", false},       {"⎕ES ''", false},  {"'MSG' ⎕ES ''", false},
      {"⎕ERS ⍳0", false},    {"'MSG' ⎕ERS ⍳0", false},
  };
  for (const Case& c : cases) {
    ASSERT_EQ(type({"1 2+1 2 3"}).substr(0, 13), "LENGTH ERROR\n");
    ASSERT_NE(rd32(ws(), hdr::ErrorMessage), 0u);
    EXPECT_EQ(type({c.line}), "") << c.line;
    if (c.clears) {
      EXPECT_EQ(et(), (std::vector<int>{0, 0})) << c.line;
      EXPECT_EQ(error_number(), 0) << c.line;
      EXPECT_EQ(rd16(ws(), hdr::ErrorLine), 0) << c.line;
      EXPECT_EQ(rd32(ws(), hdr::ErrorMessage), 0u) << c.line;
    } else {
      EXPECT_EQ(et(), (std::vector<int>{5, 3})) << c.line;
      EXPECT_EQ(error_number(), 5) << c.line;
      EXPECT_NE(rd32(ws(), hdr::ErrorMessage), 0u) << c.line;
    }
    expect_sound(c.line);
  }
  // No result to assign.
  EXPECT_EQ(type({"X←⎕ES 0 0"}).substr(0, 12), "VALUE ERROR\n");
}

// ---- used in a function ---------------------------------------------------------------------

TEST_F(ErrorSignals, InAFunctionTheErrorIsReportedInTheCallersLine) {
  type({"∇G", "'in G'", "⎕ES 'G FAILED'", "'not reached'", "∇"});
  type({"∇H", "'MSG' ⎕ERS 3", "∇"});
  type({"∇F;A", "A←⍳3", "'F calls'", "G", "'not reached'", "∇"});
  type({"∇K", "⎕ES 7 7", "∇"});
  // Called from immediate execution: six blanks and the calling line;
  // nothing stays suspended.
  EXPECT_EQ(type({"G"}), "in G\nG FAILED\n      G\n      ^\n");
  EXPECT_EQ(et(), (std::vector<int>{0, 1}));
  EXPECT_EQ(error_number(), 15);
  EXPECT_EQ(type({"⎕LC"}), "\n");
  expect_sound("G");
  // Called from F: F's name and line, and F stays suspended there.
  EXPECT_EQ(type({"F"}), "F calls\nin G\nG FAILED\nF[3] G\n     ^\n");
  EXPECT_EQ(rd16(ws(), hdr::ErrorLine), 3);
  EXPECT_EQ(type({"⎕LC"}), "3\n");
  expect_sound("F");
  EXPECT_EQ(type({"H"}), "MSG\n      H\n      ^\n");
  EXPECT_EQ(et(), (std::vector<int>{5, 5}));
  EXPECT_EQ(type({"⎕LC"}), "3\n");
  EXPECT_EQ(type({"K"}), "\n      K\n      ^\n");
  EXPECT_EQ(et(), (std::vector<int>{7, 7}));
  expect_sound("K");
  // Signalling again and again takes no space.
  type({"G"});
  force_gcol(ws());
  const std::uint32_t top = rd32(ws(), hdr::HeapTop);
  for (int i = 0; i < 5; ++i) type({"G"});
  force_gcol(ws());
  EXPECT_EQ(rd32(ws(), hdr::HeapTop), top);
}

// ---- ⎕EM ------------------------------------------------------------------------------------

TEST_F(ErrorSignals, EmIsTheLastReportInThreeRows) {
  std::vector<std::uint32_t> shape;
  em_rows(&shape);
  EXPECT_EQ(shape, (std::vector<std::uint32_t>{3, 0}));
  struct Case {
    const char* line;
    std::vector<std::string> rows;
  } const cases[] = {
      {"1÷0", {"DOMAIN ERROR", "      1÷0", "      ^"}},
      {"⎕ES 'A MUCH LONGER MESSAGE'", {"A MUCH LONGER MESSAGE", "      ⎕ES 'A MUCH LONGER MESSAGE'", "      ^"}},
      {"⎕ES 7 7", {"", "      ⎕ES 7 7", "      ^"}},
  };
  for (const Case& c : cases) {
    type({c.line});
    // Rows blank-padded to the longest line.
    std::size_t width = 0;
    for (const auto& r : c.rows) width = std::max(width, utf8_to_internal(r).size());
    std::vector<std::string> padded;
    for (const auto& r : c.rows) {
      std::string internal = utf8_to_internal(r);
      internal.resize(width, ' ');
      padded.push_back(internal_to_utf8(internal));
    }
    EXPECT_EQ(em_rows(&shape), padded) << c.line;
    EXPECT_EQ(shape, (std::vector<std::uint32_t>{3, static_cast<std::uint32_t>(width)})) << c.line;
  }
  // ⎕ES 0 0 releases the message: 3 by 0 again.
  type({"⎕ES 0 0"});
  em_rows(&shape);
  EXPECT_EQ(shape, (std::vector<std::uint32_t>{3, 0}));
}

TEST_F(ErrorSignals, EmPutsABlankRowAboveAShortMessage) {
  // Messages of one, two and four lines, set as the last error's message.
  struct Case {
    std::string text;  // '|' for a carriage return
    std::vector<std::string> rows;
  } const cases[] = {
      {"ONE", {"   ", "ONE", "   "}},
      {"AB|CDEF", {"    ", "AB  ", "CDEF"}},
      {"AB|CDEF|", {"    ", "AB  ", "CDEF"}},
      {"1|22|333|4444", {"1   ", "22  ", "333 "}},
      {"", {}},
  };
  for (const Case& c : cases) {
    std::string internal;
    for (char ch : c.text) internal.push_back(ch == '|' ? '\r' : utf8_to_internal(std::string(1, ch))[0]);
    const std::uint32_t m = test::place(ws(), test::char_vector(c.text));
    std::memcpy(ws() + m + obj::Shape + 4, internal.data(), internal.size());
    StackEntry e;
    unstack(e, ws());
    kill_dead_man(ws());
    wr32(ws(), hdr::ErrorMessage, m);
    set_owner(m, hdr::ErrorMessage, OK_WORD, ws());
    std::vector<std::uint32_t> shape;
    const auto rows = em_rows(&shape);
    if (c.rows.empty()) {
      EXPECT_EQ(shape, (std::vector<std::uint32_t>{3, 0})) << c.text;
    } else {
      EXPECT_EQ(rows, c.rows) << c.text;
    }
    EXPECT_EQ(check_integrity(ws()), 0) << c.text;
  }
}

}  // namespace
}  // namespace zema
