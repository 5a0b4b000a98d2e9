// Function definition and the ∇ line editor: header grammar and fixing,
// the function object's layout, line numbers and prompts, the bracket
// commands, listings with the fix time, control-structure depths, and
// SI DAMAGE for a function that is executing.
#include "interpreter/session/definition.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <regex>
#include <string>
#include <vector>

#include "host/charset.h"
#include "host/task.h"
#include "interpreter/reader/entry_errors.h"
#include "interpreter/workspace/errors.h"
#include "interpreter/workspace/heap.h"
#include "interpreter/engine/line.h"
#include "interpreter/session/line_editor.h"
#include "interpreter/workspace/symtab.h"
#include "interpreter/reader/tokeniser.h"
#include "test_workspace.h"

namespace zema {
namespace {

using test::TestWorkspace;

std::string internal(std::string_view utf8) { return utf8_to_internal(utf8); }

// A workspace with function definition installed and a session that keeps
// what the interpreter prints. Lines are typed through line entry, so an
// entry error reports itself and the next line goes on.
class Definition : public test::DefiningSession {
 protected:
  // Types the lines; answers what was printed meanwhile (UTF-8, a new line
  // for each carriage return).
  std::string type(std::initializer_list<const char*> lines) {
    task_.output.clear();
    for (const char* l : lines) {
      std::string text = internal(l);
      // As reading a line does: the output column and the input mode reset.
      wr16(ws(), hdr::OutColumn, 0);
      lowglobals(ws()).input_mode = 0;
      last_ = tokenise_input_line(text.data(), static_cast<int>(text.size()), ws());
    }
    return as_session(task_.output);
  }

  // Output as a session shows it: a carriage return ends a line; a line
  // feed goes down a line in the same column (the caret of an error).
  static std::string as_session(const std::string& output) {
    std::string out, line;
    for (char c : output) {
      if (c == '\r' || c == '\x0A') {
        out += internal_to_utf8(line) + "\n";
        line = c == '\r' ? std::string() : std::string(line.size(), ' ');
      } else {
        line.push_back(c);
      }
    }
    return out + internal_to_utf8(line);
  }
  int last_result() const { return last_; }

  std::uint16_t token_of(const char* utf8) {
    std::string n = internal(utf8);
    std::memcpy(ws() + kNameBuffer, n.data(), n.size());
    std::uint32_t free_entry = 0, found = 0;
    if (symfnd(free_entry, found, static_cast<std::uint32_t>(n.size()), ws()) != 0) return 0xFFFF;
    return static_cast<std::uint16_t>(token_of_table_offset(found));
  }
  std::uint32_t entry_of(const char* name) { return entry_of_token(token_of(name)); }
  std::uint8_t type_of(const char* name) { return rd8(ws(), entry_of(name) + sym::Type); }
  std::uint32_t header_of(const char* name) { return rd32(ws(), entry_of(name) + sym::Value); }
  bool defining() { return state_has(st::Defining, ws()); }

  // The body lines of a function: (BCD number, depth) in chain order.
  std::vector<std::pair<std::uint32_t, std::uint16_t>> lines_of(const char* name) {
    std::vector<std::pair<std::uint32_t, std::uint16_t>> out;
    for (std::uint32_t l = rd32(ws(), header_of(name) + fnl::Next); l; l = rd32(ws(), l + fnl::Next))
      out.emplace_back(rd32(ws(), l + fnl::Number), rd16(ws(), l + fnl::Depth));
    return out;
  }
  std::vector<std::uint32_t> numbers_of(const char* name) {
    std::vector<std::uint32_t> out;
    for (auto& [n, d] : lines_of(name)) out.push_back(n);
    return out;
  }

  int last_ = 0;
};

// ---- line numbers ------------------------------------------------------------------

TEST(LineNumbers, BcdAdditionCarriesAndStopsAtTheTop) {
  struct Case {
    std::uint32_t a, b, sum;
  } const cases[] = {
      {0x00010000, 0x00010000, 0x00020000},  // 1 + 1
      {0x00095000, 0x00010000, 0x00105000},  // 9.5 + 1
      {0x00039000, 0x00001000, 0x00040000},  // 3.9 + 0.1
      {0x00019999, 0x00000001, 0x00020000},  // 1.9999 + 0.0001
      {0x09990000, 0x00010000, 0x10000000},  // 999 + 1
      {0x99990000, 0x00010000, bcd::Last},   // 9999 + 1 overflows
      {bcd::Last, 0x00000001, bcd::Last},
  };
  for (const Case& c : cases) EXPECT_EQ(bcd_add(c.a, c.b), c.sum) << std::hex << c.a << " + " << c.b;
}

TEST(LineNumbers, ABracketNumberSetsTheIncrementFromItsLastDecimal) {
  TestWorkspace t;
  struct Case {
    std::uint32_t n, increment;
  } const cases[] = {
      {0x00030000, 0x00010000}, {0x00035000, 0x00001000}, {0x00012500, 0x00000100},
      {0x00010050, 0x00000010}, {0x00012345, 0x00000001}, {0x00000000, 0x00010000},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(lbrki2(c.n, t.ws()), c.n);
    EXPECT_EQ(rd32(t.ws(), hdr::EditLine), c.n);
    EXPECT_EQ(rd32(t.ws(), hdr::EditIncrement), c.increment) << std::hex << c.n;
  }
}

TEST(LineNumbers, PromptsPadToFourCharactersAfterTheBracket) {
  TestWorkspace t;
  test::CaptureTask task;
  test::CurrentTask current(&task);
  struct Case {
    std::uint32_t n;
    const char* text;
  } const cases[] = {
      {0x00000000, "[0]  "},   {0x00010000, "[1]  "},       {0x00100000, "[10] "},
      {0x00035000, "[3.5]"},   {0x00012050, "[1.205]"},     {0x12340000, "[1234]"},
      {bcd::Last, "[9999.9999]"}, {0x00000010, "[0.001]"},
  };
  for (const Case& c : cases) {
    task.output.clear();
    EXPECT_EQ(dfnfmc(c.n, t.ws()), 0x20);
    EXPECT_EQ(internal_to_utf8(task.output), c.text);
  }
}

// ---- the header ---------------------------------------------------------------------

TEST_F(Definition, HeadersGiveTheSymbolTypeAndHeaderWords) {
  struct Case {
    const char* header;
    const char* name;
    int type;               // -1: DEFN ERROR
    std::uint16_t word;     // valence | 0x8000 for a result
    std::uint16_t locals;
  } const cases[] = {
      {"∇Z←A FOO B;C;D ⍝ note", "FOO", 2, 0x8002, 2},
      {"∇FOO;⎕IO", "FOO", 0, 0, 1},
      {"∇Z←FOO", "FOO", 0, 0x8000, 0},
      {"∇FOO R", "FOO", 1, 1, 0},
      {"∇Z←L (F OP G) R", "OP", 14, 0x8002, 0},
      {"∇(F OP) R", "OP", 11, 1, 0},
      {"∇L (F OP) R;X", "OP", 12, 2, 1},
      {"∇(F OP G) R", "OP", 13, 1, 0},
      {"∇(F) R", "F", 1, 1, 0},
      {"∇L (F) R", "F", 2, 2, 0},
      // The grammar does not forbid repeated names.
      {"∇Z←Z FOO Z;Z;FOO", "FOO", 2, 0x8002, 2},
      {"∇⎕IO FOO R", "FOO", -1, 0, 0},
      {"∇FOO ⎕IO", "FOO", -1, 0, 0},
      {"∇⎕IO←FOO", "FOO", -1, 0, 0},
      {"∇(⎕IO OP) R", "OP", -1, 0, 0},
      {"∇FOO;⎕NC", "FOO", -1, 0, 0},
      {"∇FOO ⎕NC", "FOO", -1, 0, 0},
      {"∇A B C D", "B", -1, 0, 0},
      {"∇FOO;A B", "FOO", -1, 0, 0},
      {"∇FOO;", "FOO", -1, 0, 0},
      {"∇FOO;;A", "FOO", -1, 0, 0},
      {"∇FOO⋄X", "FOO", -1, 0, 0},
      {"∇Z←FOO 1", "FOO", -1, 0, 0},
      {"∇Z W←FOO", "FOO", -1, 0, 0},
      {"∇FOO←Z←Y", "FOO", -1, 0, 0},
      {"∇(A OP) R S", "OP", -1, 0, 0},
      {"∇X Y (A OP) R", "OP", -1, 0, 0},
      {"∇(A B C D) R", "B", -1, 0, 0},
      {"∇(A OP)", "OP", -1, 0, 0},
      {"∇((A OP)) R", "OP", -1, 0, 0},
      {"∇", "FOO", -1, 0, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.header);
    const std::string out = type({c.header, "∇"});
    if (c.type < 0) {
      EXPECT_EQ(out.substr(0, 11), "DEFN ERROR\n");
      const std::uint16_t token = token_of(c.name);
      if (token != 0xFFFF) {
        EXPECT_EQ(rd8(ws(), entry_of_token(token) + sym::Type) & kSymTypeMask, SYM_UNDEF);
      }
    } else {
      EXPECT_EQ(out, "[1]   ");
      EXPECT_EQ(type_of(c.name), c.type);
      const std::uint32_t h = header_of(c.name);
      EXPECT_EQ(rd16(ws(), h + fnl::HeaderWord), c.word);
      EXPECT_EQ(rd16(ws(), h + fnl::Locals), c.locals);
      EXPECT_EQ(rd8(ws(), h + fnl::Marks), kHoldsTokenLines | fnmark::Header | 0x02);
      EXPECT_EQ(rd32(ws(), h - 4), entry_of(c.name));
      EXPECT_EQ(rd8(ws(), h) & 0x0F, OK_SYMBOL);
      // The header's tokens start at +0x15, as the call reads them.
      EXPECT_EQ(rd8(ws(), h + fnl::Names - 1), TT_STATEMENT);
      // Rid the workspace of it for the next case.
      const std::uint32_t e = entry_of(c.name);
      wr32(ws(), e + sym::Value, 0);
      wr8(ws(), e + sym::Type, SYM_UNDEF);
      mgarb(h, ws());
    }
    EXPECT_FALSE(defining());
    EXPECT_EQ(rd16(ws(), hdr::LexState), 0);
    EXPECT_EQ(rd32(ws(), hdr::KillSlot), 0u);
  }
  EXPECT_TRUE(heap_consistent(ws()));
}

TEST_F(Definition, OpeningNamesThatAreNotFunctions) {
  type({"∇F X", "Y←X", "∇"});
  // A variable.
  wr8(ws(), entry_of_token(token_of("Y")) + sym::Type, SYM_VAR);
  EXPECT_EQ(type({"∇Y"}), "DEFN ERROR\n");
  // An existing function opens only by its name alone.
  EXPECT_EQ(type({"∇F"}), "[2]   ");
  EXPECT_EQ(type({"∇"}), "");
  EXPECT_EQ(type({"∇Z←F X"}), "DEFN ERROR\n");
  EXPECT_EQ(type({"∇F;A"}), "DEFN ERROR\n");
  // A new name cannot go to the editor straight away.
  EXPECT_EQ(type({"∇NEW[3]"}), "DEFN ERROR\n");
  EXPECT_FALSE(defining());
  EXPECT_EQ(token_of("NEW"), 0xFFFF);  // the refused header gave its names back
  EXPECT_EQ(type_of("F"), SYM_FN1);
  EXPECT_TRUE(heap_consistent(ws()));
}

// ---- the function object ----------------------------------------------------------------

TEST_F(Definition, BodyLinesChainFromTheHeaderInNumberOrder) {
  EXPECT_EQ(type({"∇R←A PLUS B", "R←A+B", "C←1"}), "[1]   [2]   [3]   ");
  EXPECT_EQ(type({"[1.5]", "X←2", "Y←3"}), "[1.5] [1.6] [1.7] ");
  EXPECT_EQ(type({"[0.5]Q←0"}), "[0.6] ");
  EXPECT_EQ(type({"∇"}), "");
  EXPECT_EQ(numbers_of("PLUS"),
            (std::vector<std::uint32_t>{0x5000, 0x00010000, 0x00015000, 0x00016000, 0x00020000}));
  // Every line is owned by the one before it through its next-line word.
  std::uint32_t prev = header_of("PLUS");
  for (std::uint32_t l = rd32(ws(), prev + fnl::Next); l; prev = l, l = rd32(ws(), l + fnl::Next)) {
    EXPECT_EQ(rd32(ws(), l - 4), prev);
    EXPECT_EQ(rd8(ws(), l) & 0x0F, OK_NEXTLINE);
  }
  // Opening numbers the lines 1, 2, 3 … and prompts after the last.
  EXPECT_EQ(type({"∇PLUS"}), "[6]   ");
  EXPECT_EQ(numbers_of("PLUS"),
            (std::vector<std::uint32_t>{0x00010000, 0x00020000, 0x00030000, 0x00040000, 0x00050000}));
  type({"∇"});
  EXPECT_TRUE(heap_consistent(ws()));
}

TEST_F(Definition, AReplacedLineKeepsItsStopAndTraceAndGivesBackItsNames) {
  type({"∇F", "QQQ←1", "B←2"});
  std::uint32_t first = rd32(ws(), header_of("F") + fnl::Next);
  wr8(ws(), first + fnl::Marks, rd8(ws(), first + fnl::Marks) | fnmark::Stop | fnmark::Trace);
  EXPECT_EQ(type({"[1]A←3"}), "[2]   ");
  EXPECT_EQ(token_of("QQQ"), 0xFFFF);  // used by the replaced line only
  first = rd32(ws(), header_of("F") + fnl::Next);
  EXPECT_EQ(rd8(ws(), first + fnl::Marks) & (fnmark::Stop | fnmark::Trace), fnmark::Stop | fnmark::Trace);
  EXPECT_EQ(numbers_of("F"), (std::vector<std::uint32_t>{0x00010000, 0x00020000}));
  EXPECT_EQ(type({"[⎕]∇"}), "      ∇F\n[1]   A←3\n[2]   B←2\n      ∇\n");
  EXPECT_TRUE(heap_consistent(ws()));
}

TEST_F(Definition, TheLastLineNumberStaysWhereTheAdvanceOverflows) {
  type({"∇F"});
  EXPECT_EQ(type({"[9999]A←1"}), "[9999.9999] ");
  EXPECT_EQ(type({"B←2", "C←3"}), "[9999.9999] [9999.9999] ");
  EXPECT_EQ(numbers_of("F"), (std::vector<std::uint32_t>{0x99990000, bcd::Last}));
  EXPECT_EQ(type({"[⎕]"}), "      ∇F\n[9999] A←1\n[9999.9999] C←3\n      ∇\n[9999.9999] ");
  type({"∇"});
}

TEST_F(Definition, LineZeroReplacesTheHeader) {
  type({"∇F", "A←1", "[0]Z←G X;T"});
  EXPECT_EQ(token_of("F"), 0xFFFF);  // used by the old header only
  EXPECT_EQ(type_of("G"), SYM_FN1);
  EXPECT_EQ(rd16(ws(), header_of("G") + fnl::HeaderWord), 0x8001);
  EXPECT_EQ(numbers_of("G"), std::vector<std::uint32_t>{0x00010000});
  // The new name must have no value.
  type({"∇", "∇H", "∇"});
  EXPECT_EQ(type({"∇G", "[0]H"}), "[2]   DEFN ERROR\n");
  EXPECT_TRUE(defining());
  EXPECT_EQ(type_of("H"), SYM_FN0);
  const std::uint32_t g = header_of("G");
  wr32(ws(), g + fix_time_offset(g, ws()) + 4, 0);  // no fix time in the listing
  EXPECT_EQ(type({"[⎕]∇"}), "      ∇Z←G X;T\n[1]   A←1\n      ∇\n");
  EXPECT_TRUE(heap_consistent(ws()));
}

// ---- the bracket editor ---------------------------------------------------------------------

TEST_F(Definition, BracketCommands) {
  type({"∇F", "A←1", "B←2", "C←3"});
  struct Case {
    const char* line;
    const char* output;
  } const cases[] = {
      {"[2⎕]", "[2]   B←2\n[2]   "},
      {"[⎕2]", "[2]   B←2\n[3]   C←3\n      ∇\n[4]   "},
      {"[⎕0]", "      ∇F\n[1]   A←1\n[2]   B←2\n[3]   C←3\n      ∇\n[4]   "},
      {"[9⎕]", "[9]   "},
      {"[0⎕]", "[0]   F\n[0]   "},
      {"[2][⎕]", "      ∇F\n[1]   A←1\n[2]   B←2\n[3]   C←3\n      ∇\n[4]   "},
      {"[ 2 ]", "[2]   "},
      {"[∆7]", "[8]   "},
      {"[∆2]", "[3]   "},
      {"[1.23456]X←9", "[1.2346] "},
      // ⎕ advances from the last line by the increment that [1.23456] set.
      {"[⎕]", "      ∇F\n[1]   A←1\n[1.2345] X←9\n[3]   C←3\n      ∇\n[3.0001] "},
      {"[⎕]X", "DEFN ERROR\n[⎕]\n   ^\n"},
      {"[∆2]X", "DEFN ERROR\n[∆2]\n    ^\n"},
      {"[∆0]", "DEFN ERROR\n[∆0\n   ^\n"},
      {"[12345]", "DEFN ERROR\n[1234\n     ^\n"},
      {"[1.2.3]", "DEFN ERROR\n[1.2\n    ^\n"},
      {"[", "DEFN ERROR\n[\n ^\n"},
      {"[2", "DEFN ERROR\n[2\n  ^\n"},
      {"[2 ", "DEFN ERROR\n[2 \n   ^\n"},
      {"[X]", "DEFN ERROR\n[\n ^\n"},
      {"[2)", "DEFN ERROR\n[2\n  ^\n"},
      {"[3]", "[3]   "},
      {"[⎕3.5]", "      ∇\n[4]   "},
  };
  for (const Case& c : cases) EXPECT_EQ(type({c.line}), c.output) << c.line;
  EXPECT_TRUE(defining());
  EXPECT_EQ(type({"[3]∇"}), "");
  EXPECT_FALSE(defining());
  EXPECT_TRUE(heap_consistent(ws()));
}

TEST_F(Definition, AnInsertedLineSetsTheIncrement) {
  type({"∇F", "A←1", "B←2", "C←3", "D←4"});
  EXPECT_EQ(type({"[3.5]", "X←5"}), "[3.5] [3.6] ");
  EXPECT_EQ(type({"[3.25]Y←6"}), "[3.26] ");
  type({"∇"});
  EXPECT_EQ(numbers_of("F"), (std::vector<std::uint32_t>{0x10000, 0x20000, 0x30000, 0x32500, 0x35000, 0x40000}));
}

TEST_F(Definition, ARightParenthesisAfterTheBracketIsASystemCommand) {
  std::string seen;
  static std::string* record = nullptr;
  record = &seen;
  lex_routes().syscmd = [](const std::uint8_t* text, std::uint32_t length, Ws) {
    record->assign(reinterpret_cast<const char*>(text), length);
    return 12;
  };
  type({"∇F", "A←1"});
  type({"[1] )WSID"});
  EXPECT_EQ(seen, internal(")WSID"));
  EXPECT_EQ(last_result(), 12);
  EXPECT_TRUE(defining());
  type({"∇"});
}

TEST_F(Definition, EditingALineShowsItWithoutAPromptAfterIt) {
  type({"∇F", "A←1", "L:B←2"});
  task_.output.clear();
  EXPECT_EQ(type({"[2⎕3]"}), "[2]  L:B←2");
  EXPECT_EQ(last_result(), 8);  // the next line is read without a prompt
  EXPECT_EQ(lowglobals(ws()).input_mode, 1);
  EXPECT_EQ(lowglobals(ws()).cursor_column, 3u);
  EXPECT_EQ(type({"L:B←3"}), "[3]   ");
  EXPECT_EQ(type({"[2⎕3.5]"}), "DEFN ERROR\n[2⎕3.5]\n       ^\n");
  EXPECT_EQ(type({"[7⎕3]"}), "[7]   ");  // no such line
  type({"∇"});
}

TEST_F(Definition, ALockedDefinitionCannotBeListedOrOpened) {
  EXPECT_EQ(type({"⍫G", "A←1", "[⎕]"}), "[1]   [2]   DEFN ERROR\n[⎕]\n   ^\n");
  EXPECT_EQ(type({"[1⎕]"}), "DEFN ERROR\n[1⎕]\n    ^\n");
  EXPECT_EQ(type({"∇"}), "");
  EXPECT_NE(rd8(ws(), header_of("G") + fnl::Marks) & fnmark::Locked, 0);
  EXPECT_EQ(type({"∇G"}), "DEFN ERROR\n");
  // A closing ⍫ locks too, and clears stop and trace settings.
  type({"∇H", "A←1"});
  const std::uint32_t first = rd32(ws(), header_of("H") + fnl::Next);
  wr8(ws(), first + fnl::Marks, rd8(ws(), first + fnl::Marks) | fnmark::Stop | fnmark::Trace);
  EXPECT_EQ(type({"[⎕]⍫"}), "DEFN ERROR\n[⎕]⍫\n    ^\n");
  EXPECT_EQ(type({"⍫"}), "");
  EXPECT_NE(rd8(ws(), header_of("H") + fnl::Marks) & fnmark::Locked, 0);
  EXPECT_EQ(rd8(ws(), rd32(ws(), header_of("H") + fnl::Next) + fnl::Marks) & (fnmark::Stop | fnmark::Trace), 0);
}

// ---- errors leave the definition as it was ------------------------------------------------------

TEST_F(Definition, AFailedLineLeavesTheDefinitionAsItWas) {
  type({"∇F;L", "A←1"});
  const std::uint32_t line = rd32(ws(), hdr::EditLine);
  // A closing ∇ followed by text; a statement longer than a line can hold.
  EXPECT_EQ(type({"B←2 ∇ C"}), "DEFN ERROR\nB←2 ∇ \n      ^\n");
  const std::string long_line = "B←'" + std::string(70000, 'x') + "'";
  EXPECT_EQ(type({long_line.c_str()}).substr(0, 13), "SYSTEM LIMIT\n");
  EXPECT_TRUE(defining());
  EXPECT_EQ(rd32(ws(), hdr::EditLine), line);
  // A header refused at line 0 (the bracket has moved the current number).
  EXPECT_EQ(type({"[0]⎕IO F"}), "DEFN ERROR\n");
  EXPECT_EQ(type_of("F"), SYM_FN0);
  EXPECT_EQ(rd16(ws(), header_of("F") + fnl::Locals), 1);
  EXPECT_EQ(numbers_of("F"), std::vector<std::uint32_t>{0x00010000});
  // A label may repeat a local name.
  EXPECT_EQ(type({"[2]L:B←2"}), "[3]   ");
  EXPECT_EQ(type({"[⎕]∇"}), "      ∇F;L\n[1]   A←1\n[2]  L:B←2\n      ∇\n");
  EXPECT_TRUE(heap_consistent(ws()));
}

// ---- listing and the fix time --------------------------------------------------------------------

TEST(FixTime, StylesOfTimeAndDate) {
  TestWorkspace t;
  test::CaptureTask task;
  test::CurrentTask current(&task);
  Ws ws = t.ws();
  wr32(ws, hdr::SaveTime, (14 * 3600 + 5 * 60 + 9) * 1000 + 999);  // 14:05:09 on 9 March 2026
  wr32(ws, hdr::SaveDate, 30926);
  struct Case {
    std::uint8_t time_style, date_style;
    const char* text;
  } const cases[] = {
      {0, 0, "14.05.09 3/09/26"},        {1, 1, "14:05:09 3/09/2026"}, {3, 2, "2:05:09 PM 9/03/26"},
      {2, 3, "2.05.09 PM 9/03/2026"},    {0, 4, "14.05.09 2026-03-09"},
      {0x81, 4, "2026-03-09 14:05:09"},  // bit 7: the date first
  };
  for (const Case& c : cases) {
    task.output.clear();
    wr16(ws, hdr::OutColumn, 0);
    wr8(ws, hdr::TermFormat, c.time_style);
    wr8(ws, hdr::TermFormat + 1, c.date_style);
    fmttd(ws);
    EXPECT_EQ(internal_to_utf8(task.output), c.text);
  }
  // Midnight, morning, noon; two-digit years on both sides of the pivot
  // (90 is 2090, 91 is 1991).
  struct Clock {
    std::uint32_t ms, date;
    const char* text;
  } const clocks[] = {
      {0, 11791, "0:00:00 AM 17/01/1991"},
      {(9 * 60 + 1) * 60000, 123199, "9:01:00 AM 31/12/1999"},
      {12 * 3600000, 70490, "12:00:00 PM 4/07/2090"},
  };
  wr8(ws, hdr::TermFormat, 3);
  wr8(ws, hdr::TermFormat + 1, 3);
  for (const Clock& c : clocks) {
    task.output.clear();
    wr16(ws, hdr::OutColumn, 0);
    wr32(ws, hdr::SaveTime, c.ms);
    wr32(ws, hdr::SaveDate, c.date);
    fmttd(ws);
    EXPECT_EQ(internal_to_utf8(task.output), c.text);
  }
}

TEST_F(Definition, ListingAFixedFunctionShowsItsFixTime) {
  type({"∇R←A PLUS B", "R←A+B", "∇"});
  const std::uint32_t h = header_of("PLUS");
  std::uint32_t time = 0, date = 0;
  ASSERT_FALSE(get_timestamp(h, &time, &date, ws()));
  const std::uint32_t at = fix_time_offset(h, ws());
  EXPECT_EQ(at % 4, 0u);
  EXPECT_EQ(at, (20 + (rd8(ws(), h + 18) | (rd8(ws(), h + 19) << 8)) + 3) & ~3u);
  EXPECT_GE(rd32(ws(), h + obj::Size), at + 8);
  EXPECT_NE(date, 0u);
  EXPECT_LT(time, 24u * 3600 * 1000);

  wr8(ws(), hdr::TermFormat, 0);
  wr8(ws(), hdr::TermFormat + 1, 0);
  const std::string listing = type({"∇PLUS[⎕]∇"});
  EXPECT_TRUE(std::regex_match(
      listing, std::regex("      ∇R←A PLUS B\n\\[1\\]   R←A\\+B\n      ∇  [0-9]+\\.[0-9]{2}\\.[0-9]{2} "
                          "[0-9]+/[0-9]{2}/[0-9]{2}\n")))
      << listing;
  EXPECT_FALSE(defining());
  // A fixed time shows exactly.
  wr32(ws(), header_of("PLUS") + at, 50709000);
  wr32(ws(), header_of("PLUS") + at + 4, 30926);
  EXPECT_EQ(type({"∇PLUS", "[⎕]"}), "[2]         ∇R←A PLUS B\n[1]   R←A+B\n      ∇  14.05.09 3/09/26\n[2]   ");
  // Closing stamps a new time.
  type({"∇"});
  get_timestamp(header_of("PLUS"), &time, &date, ws());
  EXPECT_NE(date, 30926u);
  EXPECT_TRUE(heap_consistent(ws()));
}

TEST_F(Definition, AHeaderWithoutRoomIsEnlargedForItsFixTime) {
  type({"∇F", "A←1", "∇"});
  // A header that is a bare token line, as a function from elsewhere may
  // have, takes the place of F's header; F's body goes with it.
  const std::uint32_t value = entry_of("F") + sym::Value;
  const std::uint32_t old = rd32(ws(), value);
  const std::uint32_t body = rd32(ws(), old + fnl::Next);
  type({"F"});
  ASSERT_EQ(last_result(), 4);
  const std::uint32_t bare = rd32(ws(), hdr::KillSlot);
  wr32(ws(), hdr::KillSlot, 0);
  wr32(ws(), value, bare);
  set_owner(bare, entry_of("F"), OK_SYMBOL, ws());
  wr32(ws(), bare + fnl::Next, body);
  set_owner(body, bare, OK_NEXTLINE, ws());
  wr32(ws(), old + fnl::Next, 0);
  mgarb(old, ws());
  const std::uint32_t at = fix_time_offset(bare, ws());
  ASSERT_EQ(rd32(ws(), bare + obj::Size), at);
  ASSERT_TRUE(heap_consistent(ws()));
  std::uint32_t time = 0, date = 0;
  EXPECT_TRUE(get_timestamp(bare, &time, &date, ws()));

  timestamp_fn(value, ws());
  const std::uint32_t grown = rd32(ws(), value);
  EXPECT_FALSE(get_timestamp(grown, &time, &date, ws()));
  EXPECT_EQ(rd32(ws(), grown + obj::Size), at + 8);
  EXPECT_EQ(rd32(ws(), grown - 4), entry_of("F"));
  const std::uint32_t first = rd32(ws(), grown + fnl::Next);
  ASSERT_NE(first, 0u);
  EXPECT_EQ(rd32(ws(), first - 4), grown);
  EXPECT_EQ(rd16(ws(), entry_of("F") + sym::Uses), 1);  // the copy took over the line's name
  EXPECT_TRUE(heap_consistent(ws()));
  force_gcol(ws());
  EXPECT_TRUE(heap_consistent(ws()));
  EXPECT_EQ(rd32(ws(), rd32(ws(), rd32(ws(), value) + fnl::Next) - 4), rd32(ws(), value));
}

// ---- control structures ----------------------------------------------------------------------

TEST_F(Definition, ControlStructuresAreIndentedWhenTheDefinitionCloses) {
  type({"∇F X", ":If X", "A←1", ":If A ⋄ B←2 ⋄ :EndIf", ":Else", ":For I :In X", "C←I", ":EndFor", ":EndIf",
        "⍝ note", "D←4", "∇"});
  EXPECT_EQ(lines_of("F"), (std::vector<std::pair<std::uint32_t, std::uint16_t>>{
                               {0x10000, 0}, {0x20000, 1}, {0x30000, 1}, {0x40000, 0}, {0x50000, 1},
                               {0x60000, 2}, {0x70000, 1}, {0x80000, 0}, {0x90000, 0}, {0x100000, 0}}));
  const std::uint32_t h = header_of("F");
  EXPECT_EQ(rd16(ws(), h + fnl::Depth), 2);
  std::uint32_t third = rd32(ws(), rd32(ws(), rd32(ws(), h + fnl::Next) + fnl::Next) + fnl::Next);
  EXPECT_NE(rd8(ws(), third + fnl::Marks) & fnmark::OneLineCs, 0);
  EXPECT_EQ(rd8(ws(), rd32(ws(), h + fnl::Next) + fnl::Marks) & fnmark::OneLineCs, 0);
  wr32(ws(), h + fix_time_offset(h, ws()) + 4, 0);  // no fix time in the listing
  EXPECT_EQ(type({"∇F[⎕]∇"}),
            "      ∇F X\n"
            "[1]   :If X\n"
            "[2]     A←1\n"
            "[3]     :If A ⋄ B←2 ⋄ :EndIf\n"
            "[4]   :Else\n"
            "[5]     :For I :In X\n"
            "[6]       C←I\n"
            "[7]     :EndFor\n"
            "[8]   :EndIf\n"
            "[9]  ⍝ note\n"
            "[10]  D←4\n"
            "      ∇\n");
}

// ---- SI DAMAGE ---------------------------------------------------------------------------------

// Makes the function look like the one executing, with a frame whose
// records are given as (kind, name); a label record's name gets its line
// number as an integer scalar value, as a call gives it.
class Executing : public Definition {
 protected:
  struct Record {
    std::uint8_t kind;
    const char* name = nullptr;
    std::int32_t label_line = 0;
  };
  void run(const char* function, std::vector<Record> records, std::uint16_t caller = 0, std::uint8_t caller_type = 0xFF) {
    const std::uint32_t sp = rd32(ws(), hdr::StackPointer);
    frame_ = sp - 0x60;
    const std::uint32_t n = static_cast<std::uint32_t>(records.size());
    std::memset(ws() + frame_ - 12 * n, 0, 12 * n + 0x60);
    wr16(ws(), frame_, n - 1);
    wr16(ws(), frame_ + 0x34, caller);
    wr8(ws(), frame_ + 0x54, caller_type);
    wr32(ws(), frame_ + 0x48, 7);
    // The link word holds the previous head: the zero word at the top.
    saved_head_ = rd32(ws(), hdr::SiLink);
    wr32(ws(), frame_ + 0x5C, saved_head_);
    for (std::uint32_t i = 0; i < n; ++i) {
      const std::uint32_t r = frame_ - 12 * (i + 1);
      wr8(ws(), r, records[i].kind);
      if (!records[i].name) continue;
      wr16(ws(), r + 2, token_of(records[i].name));
      wr8(ws(), r + 8, SYM_UNDEF);
    }
    wr32(ws(), hdr::StackPointer, frame_ - 12 * n);
    for (const Record& rec : records) {
      if (rec.kind != 0x7F) continue;
      const std::uint32_t e = entry_of(rec.name);
      const std::uint32_t v = getspc(8, ws());
      wr8(ws(), v + obj::Type, ET_INT);
      wr8(ws(), v + obj::Flags9, 0);
      wr16(ws(), v + obj::Rank4, 0);
      wr32(ws(), v + obj::Shape, static_cast<std::uint32_t>(rec.label_line));
      wr32(ws(), e + sym::Value, v);
      set_owner(v, e, OK_SYMBOL, ws());
      wr8(ws(), e + sym::Type, 0x80 | SYM_LABEL);
    }
    wr32(ws(), hdr::SiLink, frame_ + 0x5C);
    wr16(ws(), hdr::RunningToken, token_of(function));
    wr8(ws(), hdr::RunningSymType, type_of(function));
    wr32(ws(), hdr::FnLineNumber, 3);
  }
  // Back to immediate execution.
  void stop() {
    if (frame_ == 0) return;
    wr32(ws(), hdr::StackPointer, frame_ + 0x60);
    wr32(ws(), hdr::SiLink, saved_head_);
    wr16(ws(), hdr::RunningToken, 0);
    wr8(ws(), hdr::RunningSymType, 0);
    frame_ = 0;
  }
  std::int32_t label_value(const char* name) {
    return rdi32(ws(), rd32(ws(), entry_of(name) + sym::Value) + obj::Shape);
  }
  std::int32_t current_line() { return rdi32(ws(), hdr::FnLineNumber); }

  std::uint32_t frame_ = 0;
  std::uint32_t saved_head_ = 0;
  static constexpr std::uint8_t kEmpty = 0xFF, kLabel = 0x7F, kControl = 0xFE;
};

TEST_F(Executing, ControlStructureRecordsAreNotLeftOverLabels) {
  type({"∇F", "L:X←1", ":If X", "Y←2", ":EndIf", "∇"});
  run("F", {{kEmpty}, {kEmpty}, {kEmpty}, {kEmpty}, {kEmpty}, {kLabel, "L", 1}, {kControl}, {kControl}});
  EXPECT_EQ(type({"∇F", "∇"}), "[5]   ");
  EXPECT_EQ(current_line(), 3);
  EXPECT_EQ(label_value("L"), 1);
}

TEST_F(Executing, MovedLabelsTakeTheirNewPositionsQuietly) {
  type({"∇F;T", "A←1", "L:X←1", "M:Y←2", "∇"});
  run("F", {{kEmpty}, {kEmpty}, {kEmpty}, {kEmpty}, {kEmpty}, {0, "T"}, {kLabel, "L", 2}, {kLabel, "M", 3}, {kControl}});
  EXPECT_EQ(type({"∇F", "[0.5]Q←0", "∇"}), "[4]   [0.6] ");
  EXPECT_EQ(current_line(), 3);
  EXPECT_EQ(label_value("L"), 3);
  EXPECT_EQ(label_value("M"), 4);
}

TEST_F(Executing, AddingOrRemovingALabelDamagesTheStateIndicator) {
  type({"∇F", "L:X←1", "Y←2", "∇"});
  const char* const edits[] = {"[2]M:Y←2", "[1]X←1", "[1]M:X←1"};
  for (const char* edit : edits) {
    SCOPED_TRACE(edit);
    stop();
    type({"∇F", "[1]L:X←1", "[2]Y←2", "∇"});
    run("F", {{kEmpty}, {kEmpty}, {kEmpty}, {kEmpty}, {kEmpty}, {kLabel, "L", 1}, {kControl}});
    EXPECT_EQ(type({"∇F", edit, "∇"}), std::string(edit[1] == '2' ? "[3]   [3]   " : "[3]   [2]   ") + "SI DAMAGE\n");
    EXPECT_EQ(current_line(), -1);
  }
}

TEST_F(Executing, APendentFunctionCannotBeOpened) {
  type({"∇F", "X←1", "∇"});
  // F called itself from one of its lines: F is pendent, and opening it at
  // the session is refused; nothing changes.
  run("F", {{kEmpty}, {kEmpty}, {kEmpty}, {kEmpty}, {kEmpty}, {kControl}}, token_of("F"), SYM_FN0);
  EXPECT_EQ(type({"∇F", "[0]F R", "∇"}), "DEFN ERROR\nDEFN ERROR\n");
  EXPECT_EQ(current_line(), 3);
  EXPECT_EQ(rdi32(ws(), frame_ + 0x48), 7);
  EXPECT_EQ(type_of("F"), SYM_FN0);
}

TEST_F(Executing, AnExecutingFunctionWithoutChangesReportsNothing) {
  type({"∇F", "X←1", "∇"});
  run("F", {{kEmpty}, {kEmpty}, {kEmpty}, {kEmpty}, {kEmpty}, {kControl}}, token_of("F"), SYM_FN0);
  EXPECT_EQ(type({"∇F", "[⎕]", "∇"}).find("SI DAMAGE"), std::string::npos);
  EXPECT_EQ(current_line(), 3);
  EXPECT_EQ(rdi32(ws(), frame_ + 0x48), 7);
}

// ---- fixing from text ---------------------------------------------------------------------------

TEST_F(Definition, AFixFromTextReplacesAFunctionAndKeepsTheOldOne) {
  auto fix = [&](std::initializer_list<const char*> lines) {
    set_state(st::FixingText, 0, ws());
    wr16(ws(), hdr::LexState, lexst::Opened);
    const std::string out = type(lines);
    if (defining()) dfnend(ws());
    set_state(0, st::FixingText, ws());
    return out;
  };
  EXPECT_EQ(fix({"Z←G X", "Z←X"}), "");  // no prompts
  EXPECT_EQ(type_of("G"), SYM_FN1);
  EXPECT_EQ(numbers_of("G"), std::vector<std::uint32_t>{0x00010000});
  EXPECT_EQ(rd32(ws(), oldfn::Entry), 0u);

  EXPECT_EQ(fix({"G", "A←1", "B←2"}), "");
  EXPECT_EQ(type_of("G"), SYM_FN0);
  EXPECT_EQ(numbers_of("G"), (std::vector<std::uint32_t>{0x00010000, 0x00020000}));
  EXPECT_EQ(rd32(ws(), oldfn::Entry), entry_of("G"));
  EXPECT_EQ(rd8(ws(), oldfn::Type), SYM_FN1);
  const std::uint32_t old = rd32(ws(), oldfn::Value);
  EXPECT_EQ(rd32(ws(), old - 4), oldfn::Value);
  EXPECT_EQ(rd16(ws(), old + fnl::HeaderWord), 0x8001);
  EXPECT_NE(rd32(ws(), old + fnl::Next), 0u);  // with its body
  for (std::uint32_t l = old; l;) {
    const std::uint32_t next = rd32(ws(), l + fnl::Next);
    mgarb(l, ws());
    l = next;
  }
  force_gcol(ws());
  EXPECT_TRUE(heap_consistent(ws()));

  // A variable cannot be replaced.
  wr8(ws(), entry_of_token(token_of("A")) + sym::Type, SYM_VAR);
  EXPECT_EQ(fix({"A"}), "");
  EXPECT_EQ(rd16(ws(), hdr::ErrorCode), E_DEFN);
  EXPECT_FALSE(defining());
  wr8(ws(), entry_of_token(token_of("A")) + sym::Type, SYM_UNDEF);
}

TEST_F(Executing, AFixFromTextLeavesTheRunningFunctionAlone) {
  type({"∇G", "X←1", "∇"});
  run("G", {{kEmpty}, {kEmpty}, {kEmpty}, {kEmpty}, {kEmpty}, {kControl}});
  wr16(ws(), hdr::ErrorCode, 0);
  set_state(st::FixingText, 0, ws());
  wr16(ws(), hdr::LexState, lexst::Opened);
  type({"G"});
  EXPECT_EQ(rd16(ws(), hdr::ErrorCode), E_DEFN);
  EXPECT_FALSE(defining());
  // Localised in the running function's frame, the name can take one.
  stop();
  run("G", {{kEmpty}, {kEmpty}, {kEmpty}, {kEmpty}, {kEmpty}, {0, "G"}, {kControl}});
  wr16(ws(), hdr::ErrorCode, 0);
  wr16(ws(), hdr::LexState, lexst::Opened);
  type({"G", "Y←2"});
  EXPECT_EQ(rd16(ws(), hdr::ErrorCode), 0);
  EXPECT_TRUE(defining());
  dfnend(ws());
  set_state(0, st::FixingText, ws());
}

}  // namespace
}  // namespace zema
