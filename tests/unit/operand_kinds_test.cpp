// Every operator with every kind of operand: primitive (with and without an
// axis), derived, defined (monadic, ambivalent, failing, niladic), a value
// (literal, named, empty, made by ⍎), ⍎ itself, and no operand or an
// operator in its place. Each derived function with no axis, an axis
// written after it and an axis on it in parentheses; applied monadically
// and dyadically to simple, nested, named and empty arguments; assigned to
// a name or through a selective assignment, typed directly, with its value
// run by ⍎ or wholly run by ⍎. Each line must give a value or report an APL
// error: never SYSTEM ERROR, never a crash. A line that fails assigns
// nothing, a variable defined before every line is still there, and the
// heap stays consistent. Where an operator needs a function and is given a
// value, the line is a SYNTAX ERROR whatever the other operand is. Named
// arguments give what the same values written out give.
#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "host/charset.h"
#include "interpreter/engine/line.h"
#include "interpreter/reader/tokeniser.h"
#include "interpreter/session/definition.h"
#include "interpreter/sysfns/commands.h"
#include "interpreter/workspace/heap.h"
#include "test_workspace.h"

namespace zema {
namespace {

struct Operand {
  const char* text;
  bool value;  // stands for an array, not a function
};

const Operand kOperands[] = {
    {"+", false},         {",", false},        {",[1]", false},     {"⍎", false},
    {"+/", false},        {"(+/)", false},     {"(+¨)", false},     {"(∘.×)", false},
    {"(+.×)", false},     {"(+/[1])", false},  {"(AF MOP)", false}, {"MF", false},
    {"AF", false},        {"BAD", false},      {"NIL", true},       {"(2)", true},
    {"''", true},         {"(1 2)", true},     {"V", true},         {"(⍳0)", true},
    {"(⍎'2 3')", true},
    // No operand, or an operator where the operand should stand.
    {"", false},          {"/", false},        {"¨", false},        {"∘.", false},
    {"MOP", false},
};

// An operator as written around its operands, F and G.
struct Operator {
  const char* name;
  const char* form;
  bool f_function;  // F must be a function: a value there is a SYNTAX ERROR
  bool g_function;  // the same for G
};

const Operator kOperators[] = {
    {"each", "F¨", true, false},
    {"reduce", "F/", false, false},
    {"reduce_first", "F⌿", false, false},
    {"scan", "F\\", false, false},
    {"scan_first", "F⍀", false, false},
    {"outer", "∘.G", false, true},
    {"inner", "F.G", false, true},
    {"defined_monadic", "F MOP", false, false},
    {"defined_dyadic", "F DOP G", false, false},
};

// The arguments: left (for a dyadic use) and right, and, for names, the
// same values written out.
struct Arguments {
  const char* left;
  const char* right;
  const char* left_written;
  const char* right_written;
};

const Arguments kArguments[] = {
    {"1 2", "3 4", "", ""},
    {"N", "N", "((1 2)(3 4))", "((1 2)(3 4))"},
    {"M", "M", "(2 2⍴⍳4)", "(2 2⍴⍳4)"},
    {"(⍳0)", "(⍳0)", "", ""},
};

std::string replaced(std::string s, const std::string& from, const std::string& to) {
  for (std::size_t at = s.find(from); at != std::string::npos; at = s.find(from, at + to.size()))
    s.replace(at, from.size(), to);
  return s;
}

bool is_error_report(const std::string& line) {
  const auto ends_with = [&](const std::string& e) {
    return line.size() >= e.size() && line.compare(line.size() - e.size(), e.size(), e) == 0;
  };
  return ends_with(" ERROR") || line == "WS FULL" || line == "SYSTEM LIMIT" || line == "INTERRUPT";
}

class OperandKinds : public test::DefiningSessionOn<::testing::TestWithParam<Operator>, 2 * 1024 * 1024> {
 protected:
  void SetUp() override {
    DefiningSessionOn::SetUp();
    install_command_routes();
    type({"∇Z←MF R", "Z←⌽R", "∇"});
    type({"∇Z←L AF R", "Z←R", "∇"});
    type({"∇Z←L BAD R", "Z←R÷0", "∇"});
    type({"∇Z←NIL", "Z←3", "∇"});
    type({"∇Z←(F MOP) R", "Z←F R", "∇"});
    type({"∇Z←L (F DOP G) R", "Z←F G R", "∇"});
    ASSERT_EQ(type({"Q←'kept' ⋄ V←5 6 ⋄ N←(1 2)(3 4) ⋄ M←2 2⍴⍳4"}), "");
  }
};

// One line: whether it must be a SYNTAX ERROR, and for a line that names
// its arguments, the same expression with them written out (which must
// give the same value).
struct Case {
  std::string line;
  bool syntax;
  std::string written;
};

// The cases of one operator: every operand (pair), axis form, valence,
// argument set, target and way of running.
std::vector<Case> cases_for(const Operator& op) {
  const std::string form = op.form;
  const Operand none{"", false};
  std::vector<const Operand*> every, just_none{&none};
  for (const Operand& o : kOperands) every.push_back(&o);
  const auto& fs = form.find('F') != std::string::npos ? every : just_none;
  const auto& gs = form.find('G') != std::string::npos ? every : just_none;
  std::vector<Case> cases;
  for (const Operand* f : fs) {
    for (const Operand* g : gs) {
      const std::string derived = replaced(replaced(form, "F", f->text), "G", g->text);
      const bool misplaced_value = (op.f_function && f->value) || (op.g_function && g->value);
      const std::string forms[] = {derived, derived + "[1]", "(" + derived + ")[1]"};
      for (int axis = 0; axis < 3; ++axis) {
        for (const Arguments& a : kArguments) {
          for (int dyadic = 0; dyadic < 2; ++dyadic) {
            const auto applied = [&](const std::string& l, const std::string& r) {
              return (dyadic ? l + " " : "") + forms[axis] + " " + r;
            };
            const std::string expr = applied(a.left, a.right);
            // An axis written straight after a value operand indexes it first.
            const bool syntax = misplaced_value && axis != 1;
            const std::string written = *a.right_written ? applied(a.left_written, a.right_written) : "";
            for (const std::string& target : {std::string("Z←"), std::string("(1↓Z)←")}) {
              cases.push_back({target + expr, syntax, target == "Z←" ? written : ""});
              cases.push_back({target + "⍎'" + replaced(expr, "'", "''") + "'", syntax, ""});
              cases.push_back({"⍎'" + replaced(target + expr, "'", "''") + "'", syntax, ""});
            }
          }
        }
      }
    }
  }
  return cases;
}

TEST_P(OperandKinds, GiveAValueOrAnErrorAndKeepTheWorkspace) {
  const std::vector<Case> cases = cases_for(GetParam());
  int failures = 0;
  std::string report;
  auto fail = [&](const std::string& line, const std::string& what) {
    if (++failures <= 12) report += "\n      " + line + "\n  " + what;
  };
  for (std::size_t k = 0; k < cases.size(); ++k) {
    const std::string& line = cases[k].line;
    ASSERT_EQ(type({"Z←'old'"}), "") << "before " << line;
    std::string out;
    try {
      out = type({line});
    } catch (...) {
      fail(line, "left immediate execution by an exception");
      break;
    }
    const std::string first = test::first_line(out);
    const bool failed = !out.empty();
    if (out.find("SYSTEM ERROR") != std::string::npos) {
      fail(line, out);
      ASSERT_EQ(type({"Q"}), "kept\n") << "the workspace was lost after " << line;
      continue;
    }
    if (failed && !is_error_report(first)) fail(line, "printed " + out);
    if (cases[k].syntax && first != "SYNTAX ERROR") fail(line, "wanted SYNTAX ERROR, got " + (first.empty() ? "a value" : first));
    // Nothing is assigned by a line that fails; what was there stays (seen
    // once a suspended function's local Z is gone).
    if (failed && type({")RESET"}) != "") fail(line, "then )RESET printed something");
    const std::string kept = type({failed ? "(Q≡'kept'),Z≡'old'" : "Q≡'kept'"});
    if (kept != (failed ? "1 1\n" : "1\n")) fail(line, "after " + first + ": " + kept);
    // Named arguments give what the values written out give: the same
    // value, or the same error.
    if (!cases[k].written.empty()) {
      const std::string w = type({"W←" + cases[k].written});
      if (!w.empty()) type({")RESET"});
      const bool same = failed ? test::first_line(w) == first : w.empty() && type({"Z≡W"}) == "1\n";
      if (!same)
        fail(line, "gives " + (failed ? first : "a value") + " but " + cases[k].written + " gives " +
                       (w.empty() ? (failed ? "a value" : "another value") : test::first_line(w)));
    }
    if (k % 64 == 0 && !heap_consistent(ws())) {
      fail(line, "heap inconsistent");
      break;
    }
  }
  EXPECT_TRUE(heap_consistent(ws()));
  EXPECT_EQ(type({")SI"}), "");
  EXPECT_EQ(failures, 0) << failures << " of " << cases.size() << " lines:" << report;
}

INSTANTIATE_TEST_SUITE_P(EveryOperator, OperandKinds, ::testing::ValuesIn(kOperators),
                         [](const ::testing::TestParamInfo<Operator>& p) { return std::string(p.param.name); });

}  // namespace
}  // namespace zema
