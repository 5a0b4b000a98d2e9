// The tokeniser: token bytes of lines, labels and keywords, ⎕ names,
// routing of system commands and ∇ lines, entry errors with their message
// and caret, and the release of token lines.
#include "interpreter/reader/tokeniser.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <sstream>
#include <string>
#include <vector>

#include "host/charset.h"
#include "host/task.h"
#include "interpreter/engine/line.h"
#include "interpreter/engine/sysvars.h"
#include "interpreter/reader/entry_errors.h"
#include "interpreter/workspace/errors.h"
#include "interpreter/workspace/heap.h"
#include "interpreter/workspace/symtab.h"
#include "test_workspace.h"

namespace zema {
namespace {

using Bytes = std::vector<std::uint8_t>;
using test::TestWorkspace;

std::string internal(std::string_view utf8) { return utf8_to_internal(utf8); }

int lex(Ws ws, const std::string& internal_text) {
  return lexcal(reinterpret_cast<const std::uint8_t*>(internal_text.data()),
                static_cast<std::uint32_t>(internal_text.size()), ws);
}

// Symbol token of a name that is in the table (-1 when it is not).
int token_of(Ws ws, const std::string& utf8) {
  std::string n = internal(utf8);
  std::memcpy(ws + kNameBuffer, n.data(), n.size());
  std::uint32_t free_entry = 0, found = 0;
  if (symfnd(free_entry, found, static_cast<std::uint32_t>(n.size()), ws) != 0) return -1;
  return static_cast<int>(token_of_table_offset(found));
}

std::uint16_t uses_of(Ws ws, const std::string& utf8) {
  int t = token_of(ws, utf8);
  return t < 0 ? 0 : rd16(ws, entry_of_token(static_cast<std::uint32_t>(t)) + sym::Uses);
}

// The statements of the token line in the kill slot, as bytes.
Bytes body_of(Ws ws) {
  const std::uint32_t line = rd32(ws, hdr::KillSlot);
  std::uint32_t s = line + tl::Body;
  for (;;) {
    std::uint32_t len = rd8(ws, s) | (rd8(ws, s + 1) << 8);
    if (len == 0) break;
    if (len == 0xFFFF) len = rd8(ws, s + 2) | (rd8(ws, s + 3) << 8) | (rd8(ws, s + 4) << 16) | (rd8(ws, s + 5) << 24);
    s += len;
  }
  return Bytes(ws + line + tl::Body, ws + s);
}

// Expected statements: "|" separates statements; an item is hex bytes or
// @Name (the name's 2-byte symbol token). Short form: each statement gets
// its length and opening tag.
Bytes expected_body(Ws ws, const std::string& layout) {
  if (layout.empty()) return {tl::kShortHead, 0, TT_STATEMENT};  // one empty statement
  Bytes out;
  std::stringstream statements(layout);
  std::string statement;
  while (std::getline(statements, statement, '|')) {
    Bytes tokens;
    std::stringstream items(statement);
    std::string item;
    while (items >> item) {
      if (item[0] == '@') {
        int t = token_of(ws, item.substr(1));
        EXPECT_GE(t, 0) << item << " is not in the symbol table";
        tokens.push_back(static_cast<std::uint8_t>(t >> 8));
        tokens.push_back(static_cast<std::uint8_t>(t));
      } else {
        for (std::size_t i = 0; i + 1 < item.size(); i += 2)
          tokens.push_back(static_cast<std::uint8_t>(std::stoi(item.substr(i, 2), nullptr, 16)));
      }
    }
    const std::size_t len = tokens.size() + 3;
    out.push_back(static_cast<std::uint8_t>(len));
    out.push_back(static_cast<std::uint8_t>(len >> 8));
    out.push_back(TT_STATEMENT);
    out.insert(out.end(), tokens.begin(), tokens.end());
  }
  return out;
}

std::string hex(const Bytes& b) {
  std::string s;
  char buf[4];
  for (std::uint8_t x : b) {
    std::snprintf(buf, sizeof buf, "%02X ", x);
    s += buf;
  }
  return s;
}

// A session that keeps what the interpreter prints, current while it lives.
class Session {
 public:
  Session() { set_current_apl_task(&task); }
  ~Session() { set_current_apl_task(nullptr); }
  test::CaptureTask task;
};

// Symbol-table bytes, to compare before and after.
Bytes symbol_table(Ws ws) { return Bytes(ws + kSymtabStart, ws + kFirstOwnerWord); }

// ---- token bytes ----------------------------------------------------------------

TEST(Tokeniser, TokenBytesOfLines) {
  struct Case {
    const char* text;
    const char* label;  // name of the label, or ""
    const char* body;
  };
  const Case cases[] = {
      {"1 0 1", "", "A0000000 0300 05"},
      {"¯1 0", "", "FFFFFFFF 00000000 0200 07"},
      {"2147483647", "", "7FFFFFFF 0100 07"},
      {"2147483648", "", "41E0000000000000 0100 09"},
      {"¯2147483648", "", "80000000 0100 07"},
      {"¯2147483649", "", "C1E0000000200000 0100 09"},
      {"1¯2", "", "80000000 0100 05 81 00000002 0100 07"},
      {"1 ¯2", "", "00000001 FFFFFFFE 0200 07"},
      {"1 2 3X", "", "00000001 00000002 00000003 0300 07 @X"},
      {"1.5.2", "", "3FF8000000000000 0100 09 5D 00000002 0100 07"},
      {"1E5.3", "", "40F86A0000000000 0100 09 5D 00000003 0100 07"},
      {"2E", "", "00000002 0100 07 @E"},
      {"2e¯x", "", "00000002 0100 07 @e¯x"},
      {"+.×", "", "5B 5D 7B"},
      {"A:If X", "A", "@If @X"},
      {"A: :If X", "A", "61 @X"},
      {"a: :iF x", "a", "61 @x"},
      {":ENDIF ⋄ :Else", "", "E3 | C3"},
      {":Ifx", "", "7D @Ifx"},
      {"L:", "L", ""},
      {"A:B:C", "A", "@B @C"},
      {"⎕IO:", "", "0002"},
      {"X⋄⋄Y", "", "@X | @Y"},
      {"⋄X", "", "@X"},
      {"X⋄  ", "", "@X"},
      {"X ⋄ ⍝ c", "", "@X 00 0001 20E3 0500 03"},
      {"⎕io X", "", "0002 @X"},
      {"⎕NL X", "", "@⎕NL @X"},
      {"⎕", "", "99"},
      {"⎕←1", "", "99 B7 80000000 0100 05"},
      {"⎕ABCDEFGHIJKL", "", "99 @ABCDEFGHIJKL"},
      {"X ⍝ hi", "", "@X 00 0001 20E8E9 0600 03"},
      {"  ⍝ note  ", "", "00 0000 20EEEFF4E5 0800 03"},
      {"'It''s'", "", "69F44BF3 0400 0B"},
      {"'abc", "", "E1E2E3 0300 0B"},
      {"''", "", "0000 0B"},
      {"\"ab\"", "", "E1E2 0200 11"},
      {"⍬≡[", "", "15 CF 77"},
      {"Ä", "", "41"},
      {"$", "", "FD"},
      {"$x ∆y ⍙z", "", "@$x @∆y @⍙z"},
      {"A_1¯b", "", "@A_1¯b"},
      {"X )Y", "", "@X 45 @Y"},
  };
  for (const Case& c : cases) {
    TestWorkspace t;
    Ws ws = t.ws();
    ASSERT_EQ(lex(ws, internal(c.text)), 4) << c.text;
    EXPECT_EQ(hex(body_of(ws)), hex(expected_body(ws, c.body))) << c.text;
    const int label = *c.label ? token_of(ws, c.label) : 0;
    EXPECT_EQ(rd16(ws, rd32(ws, hdr::KillSlot) + tl::Label), label) << c.text;
    EXPECT_TRUE(heap_consistent(ws)) << c.text;
  }
}

TEST(Tokeniser, FinishedLineIsAHeapObjectInTheKillSlot) {
  TestWorkspace t;
  Ws ws = t.ws();
  const std::uint32_t top = rd32(ws, hdr::HeapTop);
  ASSERT_EQ(lex(ws, internal("LONGERNAME←1 2 3 ⋄ SHORT←'abc'")), 4);
  const std::uint32_t line = rd32(ws, hdr::KillSlot);
  EXPECT_EQ(line, top);
  EXPECT_EQ(rd32(ws, line - 4), hdr::KillSlot);
  EXPECT_EQ(rd8(ws, line), 0);
  EXPECT_EQ(rd8(ws, line + tl::Marks), 0x42);
  EXPECT_EQ(rd32(ws, line + tl::Next), 0u);
  const std::uint32_t size = rd32(ws, line + tl::Size);
  EXPECT_EQ(size % 4, 0u);
  EXPECT_EQ(size, (tl::Body + body_of(ws).size() + 2 + 3) & ~3u);
  // The long names made during the line now lie in the heap after it.
  EXPECT_EQ(rd32(ws, hdr::TokenAreaLimit), rd32(ws, hdr::StackPointer));
  EXPECT_EQ(rd32(ws, hdr::HeapTop), line + size + 4 + (name_object_size(10) + 4) + (name_object_size(5) + 4));
  EXPECT_TRUE(heap_consistent(ws));
  const std::uint32_t entry = entry_of_token(token_of(ws, "LONGERNAME"));
  const std::uint32_t name = rd32(ws, entry + sym::Name);
  EXPECT_GT(name, line);
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(ws + name + 8), 10), internal("LONGERNAME"));
}

TEST(Tokeniser, LongFormStatementsInsideExecute) {
  TestWorkspace t;
  Ws ws = t.ws();
  set_state(st::ExecuteRunning, 0, ws);
  ASSERT_EQ(lex(ws, internal("X⋄Y")), 4);
  const int x = token_of(ws, "X"), y = token_of(ws, "Y");
  const Bytes want = {0xFF, 0xFF, 9, 0, 0, 0, 1, Bytes::value_type(x >> 8), Bytes::value_type(x),
                      0xFF, 0xFF, 9, 0, 0, 0, 1, Bytes::value_type(y >> 8), Bytes::value_type(y)};
  EXPECT_EQ(hex(body_of(ws)), hex(want));
  // Fixing from text keeps the short form even inside execute.
  set_state(st::FixingText, 0, ws);
  ASSERT_EQ(lex(ws, internal("X")), 4);
  EXPECT_EQ(hex(body_of(ws)), hex(expected_body(ws, "@X")));
}

TEST(Tokeniser, NamesAreKeptToThirtyCharactersAsTyped) {
  TestWorkspace t;
  Ws ws = t.ws();
  const std::string name31 = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcde";
  ASSERT_EQ(lex(ws, internal(name31 + " Abc ABC")), 4);
  const int tok = token_of(ws, name31.substr(0, 30));
  ASSERT_GE(tok, 0);
  EXPECT_EQ(rd8(ws, entry_of_token(tok) + sym::Length), 30);
  EXPECT_NE(token_of(ws, "Abc"), token_of(ws, "ABC"));
  EXPECT_EQ(hex(body_of(ws)), hex(expected_body(ws, "@" + name31.substr(0, 30) + " @Abc @ABC")));
}

TEST(Tokeniser, SystemFunctionNames) {
  TestWorkspace t;
  Ws ws = t.ws();
  ASSERT_EQ(lex(ws, internal("⎕nl ⎕NL ⎕TS ⎕a ⎕b ⎕y ⎕1421 ⎕CLASSNAME")), 4);
  struct Case {
    const char* name;
    int number;
    int type;
  };
  // Case is masked except for ⎕a; ⎕nl and ⎕NL are two entries of one function.
  const Case cases[] = {{"⎕nl", 37, SYM_SYSFN}, {"⎕NL", 37, SYM_SYSFN},    {"⎕TS", 1, SYM_SYSFN0},
                        {"⎕a", 9, SYM_SYSFN0},  {"⎕b", 10, SYM_SYSFN0},    {"⎕1421", 51, SYM_SYSFN},
                        {"⎕CLASSNAME", 149, SYM_SYSFN0}};
  for (const Case& c : cases) {
    int tok = token_of(ws, c.name);
    ASSERT_GE(tok, 0) << c.name;
    const std::uint32_t e = entry_of_token(tok);
    EXPECT_EQ(rd32(ws, e + sym::Value), 4u * c.number) << c.name;
    EXPECT_EQ(rd8(ws, e + sym::Type), c.type) << c.name;
  }
  EXPECT_NE(token_of(ws, "⎕nl"), token_of(ws, "⎕NL"));
  EXPECT_EQ(token_of(ws, "⎕y"), -1);  // not a system name: ⎕ then the name y
  EXPECT_GE(token_of(ws, "y"), 0);
  std::uint8_t row[12] = {};
  const std::string instances = internal("⎕instances");
  std::memcpy(row, instances.data(), instances.size());
  EXPECT_EQ(system_function_number(row), 139);
}

TEST(Tokeniser, TransferFileReadsQuadAsDeltaUnderbar) {
  TestWorkspace t;
  Ws ws = t.ws();
  wr8(ws, hdr::ResultBits, kTransferFile);
  set_state(st::FixingText, 0, ws);
  ASSERT_EQ(lex(ws, internal("⎕IO ⎕NL ⎕QQ ⎕+")), 4);
  EXPECT_EQ(hex(body_of(ws)), hex(expected_body(ws, "0002 @⍙NL @⍙QQ @⍙ 5B")));
}

// ---- routing ----------------------------------------------------------------

struct RouteLog {
  static inline std::string text;
  static inline int calls = 0;
};

int record_syscmd(const std::uint8_t* text, std::uint32_t length, Ws) {
  RouteLog::text.assign(reinterpret_cast<const char*>(text), length);
  ++RouteLog::calls;
  return 7;
}

class Routes : public ::testing::Test {
 protected:
  void SetUp() override {
    saved_ = lex_routes();
    RouteLog::text.clear();
    RouteLog::calls = 0;
  }
  void TearDown() override { lex_routes() = saved_; }
  LexRoutes saved_;
};

TEST_F(Routes, SystemCommandsGoToTheDispatcher) {
  TestWorkspace t;
  Ws ws = t.ws();
  lex_routes().syscmd = record_syscmd;
  EXPECT_EQ(lex(ws, internal("   )LOAD X")), 7);
  EXPECT_EQ(RouteLog::text, internal(")LOAD X"));
  EXPECT_EQ(rd32(ws, hdr::KillSlot), 0u);
  // Fixing a definition from text, ")" is an ordinary character.
  set_state(st::FixingText, 0, ws);
  EXPECT_EQ(lex(ws, internal(")X")), 4);
  EXPECT_EQ(RouteLog::calls, 1);
}

TEST_F(Routes, WithoutDispatcherACommandIsIncorrect) {
  TestWorkspace t;
  Ws ws = t.ws();
  Session session;
  EXPECT_EQ(lex(ws, internal(")CLEAR")), 12);
  EXPECT_EQ(session.task.output, internal("INCORRECT COMMAND") + "\r");
}

int definition_line(Ws) {
  ++RouteLog::calls;
  return 0;
}

TEST_F(Routes, DefinitionLinesGoToFunctionDefinition) {
  TestWorkspace t;
  Ws ws = t.ws();
  lex_routes().dfnent = definition_line;
  EXPECT_EQ(lex(ws, internal("∇Z←F X")), 0);
  EXPECT_EQ(rd16(ws, hdr::LexState), lexst::Opened);
  wr16(ws, hdr::LexState, 0);  // as function definition would leave it
  EXPECT_EQ(lex(ws, internal("⍫F∇")), 0);
  EXPECT_EQ(rd16(ws, hdr::LexState), lexst::Opened | lexst::Locked | lexst::Closed);
  EXPECT_EQ(RouteLog::calls, 2);
  // The ∇ header word is cleared by a ∇.
  wr32(ws, kDefinitionWord, 5);
  wr16(ws, hdr::LexState, 0);
  EXPECT_EQ(lex(ws, internal("∇")), 0);
  EXPECT_EQ(rd32(ws, kDefinitionWord), 0u);
}

void header_fixed(Ws ws) {
  ++RouteLog::calls;
  clrkil(ws);  // function definition takes the header line
  set_state(st::Defining, 0, ws);
}

int bracket_editor(const std::uint8_t** text, std::uint32_t* remaining, Ws) {
  RouteLog::text.assign(reinterpret_cast<const char*>(*text), *remaining);
  *text += *remaining;
  *remaining = 0;
  return 7;
}

TEST_F(Routes, BracketEndsAPendingHeaderAndOpensTheLineEditor) {
  TestWorkspace t;
  Ws ws = t.ws();
  lex_routes().dfnhfx = header_fixed;
  lex_routes().lbrksv = bracket_editor;
  wr16(ws, hdr::LexState, lexst::Opened);
  EXPECT_EQ(lex(ws, internal("F[3]")), 8);
  EXPECT_EQ(RouteLog::calls, 1);
  EXPECT_EQ(RouteLog::text, internal("[3]"));
  EXPECT_EQ(rd16(ws, hdr::LexState), lexst::Opened | lexst::HeaderBracket);
  clrkil(ws);
  EXPECT_TRUE(heap_consistent(ws));
}

int bracket_then_go_on(const std::uint8_t** text, std::uint32_t* remaining, Ws) {
  *text += 3;  // "[3]"
  *remaining -= 3;
  return 5;
}

TEST_F(Routes, BracketEditorMayHandTheRestBack) {
  TestWorkspace t;
  Ws ws = t.ws();
  lex_routes().lbrksv = bracket_then_go_on;
  lex_routes().dfnent = definition_line;
  set_state(st::Defining, 0, ws);
  EXPECT_EQ(lex(ws, internal("[3] X←1")), 0);
  EXPECT_EQ(RouteLog::calls, 1);
  EXPECT_EQ(hex(body_of(ws)), hex(expected_body(ws, "@X B7 80000000 0100 05")));
  set_state(0, st::Defining, ws);
  clrkil(ws);
  EXPECT_TRUE(heap_consistent(ws));
}

// ---- entry errors -----------------------------------------------------------------

struct Failure {
  int code;
  std::string output;
};

Failure fail(Ws ws, const std::string& internal_text) {
  Session session;
  try {
    lex(ws, internal_text);
  } catch (const EntryAbandoned& e) {
    EXPECT_EQ(e.code, rd16(ws, hdr::ErrorCode));
    return {e.code, session.task.output};
  }
  ADD_FAILURE() << "no entry error";
  return {0, session.task.output};
}

// The message, the line up to `at` (a prefix of the typed text), and the caret.
std::string report(const char* message, const std::string& typed_prefix) {
  return internal(message) + "\r" + typed_prefix + "\x0A" + internal("^") + "\r";
}

TEST(EntryErrors, DefinitionErrorsShowTheCaretUnderTheCause) {
  struct Case {
    const char* text;
    const char* upto;  // the text printed before the caret
  };
  const Case cases[] = {
      {"   1 2 ∇", "   1 2 "},   // ∇ not first on the line
      {"A:∇F", "A:"},            // nor after a label
      {"∇F∇ X", "∇F∇ "},         // only blanks after a closing ∇
      {"∇Z←F", ""},              // no function definition: caret under the ∇
  };
  for (const Case& c : cases) {
    TestWorkspace t;
    Ws ws = t.ws();
    const Bytes symbols = symbol_table(ws);
    const std::uint32_t top = rd32(ws, hdr::HeapTop);
    Failure f = fail(ws, internal(c.text));
    EXPECT_EQ(f.code, E_DEFN) << c.text;
    EXPECT_EQ(rd16(ws, hdr::EtMajor), 0);
    EXPECT_EQ(rd16(ws, hdr::EtMinor), 2);
    EXPECT_EQ(rd32(ws, hdr::ErrorNumber), 14u);
    if (*c.upto) {
      EXPECT_EQ(f.output, report("DEFN ERROR", internal(c.upto))) << c.text;
    } else {
      EXPECT_EQ(f.output, internal("DEFN ERROR") + "\r") << c.text;  // nothing before the caret position
    }
    EXPECT_EQ(rd16(ws, hdr::LexState), 0) << c.text;
    EXPECT_EQ(rd32(ws, hdr::KillSlot), 0u);
    force_gcol(ws);
    EXPECT_EQ(rd32(ws, hdr::HeapTop), top) << c.text;
    EXPECT_EQ(symbol_table(ws), symbols) << c.text;
    EXPECT_TRUE(heap_consistent(ws));
  }
}

TEST(EntryErrors, FixingFromTextRefusesDelSilently) {
  TestWorkspace t;
  Ws ws = t.ws();
  set_state(st::FixingText, 0, ws);
  Failure f = fail(ws, internal("X∇"));
  EXPECT_EQ(f.code, E_DEFN);
  EXPECT_EQ(f.output, "");
}

TEST(EntryErrors, LineTooLongForTheTokenAreaIsWsFull) {
  // A workspace whose free gap holds about 1500 bytes of tokens.
  TestWorkspace t(kLowGlobalsSize + kHeapStart + 1600);
  Ws ws = t.ws();
  const std::uint32_t top = rd32(ws, hdr::HeapTop);
  const Bytes symbols = symbol_table(ws);
  const std::string typed = internal("NAME←'" + std::string(3000, 'q') + "'");
  Failure f = fail(ws, typed);
  EXPECT_EQ(f.code, E_WS_FULL);
  EXPECT_EQ(rd16(ws, hdr::EtMajor), 1);
  EXPECT_EQ(rd16(ws, hdr::EtMinor), 3);
  EXPECT_EQ(rd32(ws, hdr::ErrorNumber), 1u);
  // The message, then the line up to the character that did not fit.
  const std::string head = internal("WS FULL") + "\r";
  ASSERT_EQ(f.output.compare(0, head.size(), head), 0) << f.output.substr(0, 20);
  const std::size_t printed = f.output.size() - head.size() - 3;
  EXPECT_GT(printed, 1000u);
  EXPECT_LT(printed, 1600u);
  EXPECT_EQ(f.output.substr(head.size(), printed), typed.substr(0, printed));
  EXPECT_EQ(f.output.substr(f.output.size() - 3), "\x0A" + internal("^") + "\r");

  EXPECT_EQ(rd32(ws, hdr::KillSlot), 0u);
  force_gcol(ws);
  EXPECT_EQ(rd32(ws, hdr::HeapTop), top);
  EXPECT_EQ(symbol_table(ws), symbols);  // NAME is gone again
  EXPECT_TRUE(heap_consistent(ws));
}

TEST(EntryErrors, LongNamesFillingTheFreeGapAreWsFull) {
  // The name objects of new long names come from the top of the free gap.
  TestWorkspace t(kLowGlobalsSize + kHeapStart + 1600);
  Ws ws = t.ws();
  const std::uint32_t top = rd32(ws, hdr::HeapTop);
  const Bytes symbols = symbol_table(ws);
  std::string line;
  for (int i = 0; i < 100; ++i) line += "NAME_NUMBER_" + std::to_string(1000 + i) + " ";
  Failure f = fail(ws, internal(line));
  EXPECT_EQ(f.code, E_WS_FULL);
  force_gcol(ws);
  EXPECT_EQ(rd32(ws, hdr::HeapTop), top);
  EXPECT_EQ(symbol_table(ws), symbols);
  EXPECT_TRUE(heap_consistent(ws));
}

TEST(EntryErrors, SymbolTableFullLeavesNoNewNames) {
  TestWorkspace t;
  Ws ws = t.ws();
  // A table of 27 entries, one per bucket; all but those of A, B and C taken.
  wr16(ws, hdr::BucketEntries, 27);
  wr16(ws, hdr::BucketSize, 1);
  for (std::uint32_t b = 3; b < 27; ++b) {
    const std::uint32_t e = kBucketArea + 16 * b;
    wr32(ws, e + sym::Name, (2u << 24) | (0x51u << 16) | ((0x30 + b) << 8));  // "?n"
    wr8(ws, e + sym::Type, SYM_VAR);
    wr8(ws, e + sym::Length, 2);
    wr16(ws, e + sym::Uses, 1);
  }
  const Bytes symbols = symbol_table(ws);
  Failure f = fail(ws, internal("A B C D"));
  EXPECT_EQ(f.code, E_SYMBOL_TABLE_FULL);
  EXPECT_EQ(rd16(ws, hdr::EtMajor), 1);
  EXPECT_EQ(rd16(ws, hdr::EtMinor), 4);
  EXPECT_EQ(rd32(ws, hdr::ErrorNumber), 12u);
  EXPECT_EQ(f.output, report("SYMBOL TABLE FULL", internal("A B C ")));
  EXPECT_EQ(symbol_table(ws), symbols);  // A, B and C left again
  EXPECT_TRUE(heap_consistent(ws));
}

TEST(EntryErrors, ExhaustedUseCountIsSystemLimit) {
  TestWorkspace t;
  Ws ws = t.ws();
  ASSERT_EQ(lex(ws, internal("QQ")), 4);
  const std::uint32_t e = entry_of_token(token_of(ws, "QQ"));
  clrkil(ws);
  // The entry as if 65,535 token lines named it.
  wr32(ws, e + sym::Name, (2u << 24) | (0x71u << 16) | (0x71u << 8));  // QQ
  wr8(ws, e + sym::Length, 2);
  wr8(ws, e + sym::Type, SYM_UNDEF);
  wr16(ws, e + sym::Uses, 0xFFFF);
  const Bytes symbols = symbol_table(ws);
  Failure f = fail(ws, internal("1+QQ"));
  EXPECT_EQ(f.code, E_SYSTEM_LIMIT);
  EXPECT_EQ(rd16(ws, hdr::EtMinor), 13);
  EXPECT_EQ(rd32(ws, hdr::ErrorNumber), 10u);
  EXPECT_EQ(f.output, report("SYSTEM LIMIT", internal("1+")));
  EXPECT_EQ(symbol_table(ws), symbols);
  EXPECT_TRUE(heap_consistent(ws));

  // Inside an executed text the line is released and the error is an
  // execution error.
  wr8(ws, kInsideExecuteByte, 1);
  EXPECT_THROW(lex(ws, internal("1+QQ")), AplError);
  EXPECT_EQ(rd32(ws, hdr::KillSlot), 0u);
  EXPECT_EQ(symbol_table(ws), symbols);
  EXPECT_TRUE(heap_consistent(ws));
}

TEST(EntryErrors, StatementLongerThan16BitsIsSystemLimitInShortForm) {
  TestWorkspace t(1024 * 1024);
  Ws ws = t.ws();
  const std::uint32_t top = rd32(ws, hdr::HeapTop);
  const std::string text = internal("X←'" + std::string(70000, 'z') + "'");
  Failure f = fail(ws, text);
  EXPECT_EQ(f.code, E_SYSTEM_LIMIT);
  EXPECT_EQ(rd32(ws, hdr::HeapTop), top);

  // Inside execute the statement length and the literal's count are 32-bit;
  // stepping back from the statement's end crosses the whole literal.
  set_state(st::ExecuteRunning, 0, ws);
  ASSERT_EQ(lex(ws, text), 4);
  const std::uint32_t s = rd32(ws, hdr::KillSlot) + tl::Body;
  ASSERT_EQ(rd16(ws, s), 0xFFFF);
  const std::uint32_t end = s + rd32(ws, s + 2);
  std::uint32_t cursor = end - 1;
  EXPECT_EQ(get_count(ws, cursor), 70000u);
  const std::uint32_t literal = skipsl(end, ws);
  EXPECT_EQ(literal, s + tl::kLongHead + 3);  // after X and ←
  EXPECT_EQ(skipsl(skipsl(literal, ws), ws), s + tl::kLongHead);
}

TEST(EntryErrors, TrapWordSilencesTheReport) {
  TestWorkspace t;
  Ws ws = t.ws();
  wr32(ws, hdr::TrapWord, 1);
  Failure f = fail(ws, internal("A ∇"));
  EXPECT_EQ(f.code, E_DEFN);
  EXPECT_EQ(f.output, "");
}

TEST(EntryErrors, PartlyWrittenOutputLineIsEndedFirst) {
  TestWorkspace t;
  Ws ws = t.ws();
  wr16(ws, hdr::OutColumn, 4);
  Failure f = fail(ws, internal("A∇"));
  EXPECT_EQ(f.output, "\r" + report("DEFN ERROR", internal("A")));
}

TEST(EntryErrors, OpenDefinitionKeepsItsLexingState) {
  TestWorkspace t;
  Ws ws = t.ws();
  set_state(st::Defining, 0, ws);
  wr16(ws, hdr::LexState, lexst::Opened | lexst::Locked | 0x80);
  Failure f = fail(ws, internal("A∇"));  // a definition line, and no definition editor
  EXPECT_EQ(f.code, E_DEFN);
  EXPECT_EQ(rd16(ws, hdr::LexState), lexst::Opened | lexst::Locked);
}

TEST(EntryErrors, ThousandEntryErrorsGiveBackEverything) {
  TestWorkspace t(kLowGlobalsSize + kHeapStart + 4000);
  Ws ws = t.ws();
  const std::uint32_t top = rd32(ws, hdr::HeapTop);
  const Bytes symbols = symbol_table(ws);
  const std::string failing[] = {
      internal("ALPHA BETA GAMMA ∇"),
      internal("LONGNAME_ONE←'" + std::string(5000, 'w') + "'"),
      internal("⎕NL 1 2 3 X∇"),
      internal("L1: THE_LABEL_LINE ⋄ 1.5 2.5 ⍝ then ∇ is in the comment ⋄ ∇"),
  };
  const std::string ok = internal("∆VALUE←0.1 0.2 ⋄ ⎕IO←1");
  for (int i = 0; i < 1000; ++i) {
    try {
      lex(ws, failing[i % 3]);
      ADD_FAILURE() << "line " << i % 3 << " did not fail";
    } catch (const EntryAbandoned&) {
    }
    ASSERT_EQ(rd32(ws, hdr::KillSlot), 0u) << i;
    ASSERT_TRUE(heap_consistent(ws)) << i;
    ASSERT_LE(rd32(ws, hdr::HeapTop), top + rd32(ws, hdr::Garbage)) << i;
    if (i % 100 == 0) {
      ASSERT_EQ(lex(ws, ok), 4);
    }
  }
  EXPECT_EQ(lex(ws, failing[3]), 4);  // the ∇ in the comment is comment text
  clrkil(ws);
  force_gcol(ws);
  EXPECT_EQ(rd32(ws, hdr::HeapTop), top);
  EXPECT_EQ(symbol_table(ws), symbols);
}

// ---- token-line release -------------------------------------------------------------

TEST(TokenLines, ReleaseDropsLabelAndSymbolUses) {
  TestWorkspace t;
  Ws ws = t.ws();
  const Bytes symbols = symbol_table(ws);
  ASSERT_EQ(lex(ws, internal("LAB: ALPHA BETA ALPHA ⎕IO ⋄ ALPHA")), 4);
  EXPECT_EQ(uses_of(ws, "LAB"), 1);
  EXPECT_EQ(uses_of(ws, "ALPHA"), 3);
  EXPECT_EQ(uses_of(ws, "BETA"), 1);
  const std::uint32_t io_uses = rd16(ws, sysvar_entry(sysvar::IO) + sym::Uses);
  clrkil(ws);
  EXPECT_EQ(rd32(ws, hdr::KillSlot), 0u);
  EXPECT_EQ(token_of(ws, "ALPHA"), -1);
  EXPECT_EQ(rd16(ws, sysvar_entry(sysvar::IO) + sym::Uses), io_uses);
  force_gcol(ws);
  EXPECT_EQ(symbol_table(ws), symbols);
  EXPECT_TRUE(heap_consistent(ws));
}

TEST(TokenLines, SkipslStepsOverEveryKindOfToken) {
  TestWorkspace t;
  Ws ws = t.ws();
  // 13 tokens: A ← 'xy', one float literal, "q" ⍬ ⎕IO ) :If ⎕ [ B and the comment.
  ASSERT_EQ(lex(ws, internal("A←'xy' 1 0 1 ¯1 2 1.5 \"q\" ⍬ ⎕IO ) :If ⎕ [ B ⍝ c")), 4);
  const std::uint32_t s = rd32(ws, hdr::KillSlot) + tl::Body;
  const std::uint32_t end = s + rd16(ws, s);
  std::vector<std::uint32_t> starts;
  for (std::uint32_t cursor = end; cursor > s + 3; cursor = skipsl(cursor, ws)) starts.push_back(cursor);
  EXPECT_EQ(starts.size(), 13u);
  EXPECT_EQ(skipsl(starts.back(), ws), s + 3);
}

TEST(TokenLines, TokenisingAnInputLineLeavesNothingBehind) {
  TestWorkspace t;
  Ws ws = t.ws();
  Session session;
  const std::uint32_t top = rd32(ws, hdr::HeapTop);
  const Bytes symbols = symbol_table(ws);
  const std::string ok = internal("SOME_NAME←1 2 3");
  EXPECT_EQ(tokenise_input_line(ok.data(), static_cast<int>(ok.size()), ws), 4);
  EXPECT_NE(rd32(ws, hdr::KillSlot), 0u);
  clrkil(ws);
  const std::string bad = internal("SOME_NAME∇");
  EXPECT_EQ(tokenise_input_line(bad.data(), static_cast<int>(bad.size()), ws), 12);
  EXPECT_EQ(rd32(ws, hdr::KillSlot), 0u);
  EXPECT_EQ(session.task.output, report("DEFN ERROR", internal("SOME_NAME")));
  EXPECT_EQ(tokenise_input_line("  ", 2, ws), 0);
  force_gcol(ws);
  EXPECT_EQ(rd32(ws, hdr::HeapTop), top);
  EXPECT_EQ(symbol_table(ws), symbols);
}

}  // namespace
}  // namespace zema
