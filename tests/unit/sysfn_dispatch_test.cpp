// The system-function dispatch: every one of the 164 ⎕ names reaches a
// handler or the error its form calls for, arguments are refused by the
// row's flags, and the handlers the program has give their results.
#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <map>
#include <optional>
#include <set>
#include <sstream>
#include <string>

#include "files/directory_listing.h"
#include "host/charset.h"
#include "interpreter/engine/engine.h"
#include "interpreter/workspace/entry.h"
#include "interpreter/workspace/errors.h"
#include "interpreter/workspace/integrity.h"
#include "interpreter/engine/line.h"
#include "interpreter/workspace/stack.h"
#include "interpreter/workspace/symtab.h"
#include "interpreter/session/definition.h"
#include "interpreter/sysfns/dispatch.h"
#include "interpreter/sysfns/library_listing.h"
#include "interpreter/reader/tokeniser.h"
#include "test_arrays.h"
#include "test_workspace.h"

namespace zema {
namespace {

using test::ArrayImage;
using test::CaptureTask;
using test::CurrentTask;
using test::TestWorkspace;

// ---- the forms as the names are listed by valence --------------------------------------

std::set<std::string> words(const char* list) {
  std::set<std::string> s;
  std::istringstream in(list);
  for (std::string w; in >> w;) s.insert(w);
  return s;
}

bool listed_niladic(int n) {
  static const std::set<int> extra = {62, 67, 69, 70, 81, 82, 85, 105, 108, 109, 124, 129, 130, 134, 137, 153, 158, 159};
  return n <= 29 || extra.count(n) || (n >= 89 && n <= 96) || (n >= 142 && n <= 150) || (n >= 161 && n <= 163);
}
const std::set<std::string> kMonadicOnly = words(
    "⎕HC ⎕DL ⎕EX ⎕NC ⎕SVR ⎕SVQ ⎕ERX ⎕MOUNT ⎕CC ⎕EC ⎕AF ⎕NLOCK ⎕NREAD ⎕NSIZE ⎕NUNTIE ⎕DISPLAY ⎕VI ⎕FI ⎕UCS "
    "⎕FCSIZE ⎕FDELETE ⎕FDROP ⎕FHOLD ⎕FLIB ⎕FRDAC ⎕FRDCI ⎕FRDFI ⎕FREAD ⎕FSIZE ⎕FUNTIE ⎕IMPORT ⎕CLASS ⎕DF ⎕STATE "
    "⎕CLONE");
const std::set<std::string> kDyadicOnly = words(
    "⎕OV ⎕FMT ⎕CONF ⎕EA ⎕AT ⎕TF ⎕NAPPEND ⎕NCREATE ⎕NRENAME ⎕NREPLACE ⎕NRESIZE ⎕NTIE ⎕NWRITE ⎕FAPPEND ⎕FCREATE "
    "⎕FDUP ⎕FRENAME ⎕FREPLACE ⎕FRESIZE ⎕FSTAC ⎕FSTIE ⎕FTIE ⎕FWRITE ⎕TR ⎕IC ⎕EXPORT ⎕REPARENT ⎕RECLASS ⎕SETUP "
    "⎕EVAL ⎕CALL");
const std::set<std::string> kBoth = words(
    "⎕CR ⎕FX ⎕NL ⎕STOP ⎕TRACE ⎕SVO ⎕SVC ⎕SS ⎕DR ⎕ERS ⎕BOX ⎕DBR ⎕1421 ⎕EDIT ⎕ES ⎕HOST ⎕NERASE ⎕WI ⎕WE ⎕NA ⎕NTYPE "
    "⎕FERASE ⎕PFKEY ⎕SQL ⎕CHART ⎕LIB ⎕NEW ⎕INSTANCES ⎕GETCLASS");

// sfflags of the names that take arguments and are not 0x01.
const std::map<std::string, int> kFlags = {
    {"⎕FX", 0x03},      {"⎕SS", 0x03},       {"⎕WI", 0x03},        {"⎕SQL", 0x03},      {"⎕IMPORT", 0x03},
    {"⎕SETUP", 0x03},   {"⎕CALL", 0x03},     {"⎕NTYPE", 0x05},     {"⎕CHART", 0x07},    {"⎕EXPORT", 0x07},
    {"⎕WE", 0x09},      {"⎕CLASS", 0x09},    {"⎕INSTANCES", 0x09}, {"⎕DR", 0x0B},       {"⎕1421", 0x0B},
    {"⎕DISPLAY", 0x0B}, {"⎕NEW", 0x0B},      {"⎕FAPPEND", 0x15},   {"⎕FREPLACE", 0x15}, {"⎕FWRITE", 0x15},
    {"⎕REPARENT", 0x19}, {"⎕RECLASS", 0x19},
};

// The handlers the program has, by valence.
const std::set<std::string> kBuiltNiladic = words(
    "⎕LC ⎕TS ⎕AI ⎕UL ⎕ID ⎕WA ⎕AV ⎕TT ⎕A ⎕a ⎕B ⎕b ⎕C ⎕D ⎕I ⎕i ⎕L ⎕R ⎕T ⎕LER ⎕CL ⎕N ⎕y ⎕W ⎕M ⎕ET ⎕TC ⎕TCBEL "
    "⎕TCBS ⎕TCDEL ⎕TCESC ⎕TCFF ⎕TCLF ⎕TCNL ⎕TCNUL ⎕TCHT ⎕WSSIZE ⎕SYMB ⎕EM ⎕ERM ⎕SI ⎕TIME"
    " ⎕THIS ⎕NULL ⎕CLASSES ⎕BASE ⎕PARENT ⎕HANDLE ⎕OID ⎕DS ⎕CHILDREN ⎕CLASSNAME ⎕CLASSREF ⎕MEMBERS"
    " ⎕EV ⎕WSELF ⎕WARG ⎕EVA ⎕EVN ⎕EVT");
const std::set<std::string> kBuiltMonadic = words(
    "⎕HC ⎕DL ⎕MOUNT ⎕HOST ⎕ES ⎕ERS ⎕EC ⎕ERX ⎕CR ⎕EX ⎕FX ⎕NC ⎕NL ⎕NA ⎕STOP ⎕TRACE ⎕LIB ⎕PFKEY ⎕NEW"
    " ⎕CLASS ⎕INSTANCES ⎕DF ⎕STATE ⎕CLONE ⎕GETCLASS ⎕AF ⎕UCS ⎕WI ⎕WE");
const std::set<std::string> kClassFunctions = words(
    "⎕THIS ⎕NULL ⎕CLASSES ⎕BASE ⎕PARENT ⎕HANDLE ⎕OID ⎕DS ⎕CHILDREN ⎕CLASSNAME ⎕CLASSREF ⎕MEMBERS ⎕CLASS ⎕INSTANCES ⎕DF"
    " ⎕STATE ⎕CLONE ⎕GETCLASS ⎕REPARENT ⎕RECLASS");
const std::set<std::string> kBuiltDyadic =
    words("⎕HOST ⎕ES ⎕ERS ⎕EA ⎕CR ⎕FX ⎕NL ⎕AT ⎕TF ⎕NA ⎕FMT ⎕STOP ⎕TRACE ⎕PFKEY ⎕IC ⎕NEW ⎕INSTANCES ⎕REPARENT ⎕RECLASS ⎕WI ⎕WE");

// ---- calling a row ----------------------------------------------------------------------------

struct Outcome {
  int error = 0;            // the ErrorCode raised, 0 for none
  std::uint32_t result = 0; // the result array
};

class Dispatch : public ::testing::Test {
 protected:
  // ⎕NA fixes its declaration through the definition code's routes.
  void SetUp() override {
    install_definition_routes();
    set_library_routes(LibraryRoutes{[](std::uint32_t, Ws) { return std::string("/no/such/"); }, visit_directory});
  }
  void TearDown() override { lex_routes() = saved_routes_; }
  LexRoutes saved_routes_ = lex_routes();
  CaptureTask task;
  CurrentTask current{&task};

  // Enters the ⎕ name of row n in the symbol table; answers its token.
  static std::uint32_t symbol_of(int n, Ws ws) {
    const std::string name = utf8_to_internal(sysfn_row(n).name);
    std::memcpy(ws + kNameBuffer, name.data(), name.size());
    std::uint32_t free = 0, found = 0;
    if (symfnd(free, found, static_cast<std::uint32_t>(name.size()), ws) != 0) {
      // A long name's object comes from the top of the free gap, as while
      // a line is tokenised, and then joins the heap.
      wr32(ws, hdr::TokenAreaLimit, rd32(ws, hdr::StackPointer));
      found = syment(free, static_cast<std::uint32_t>(name.size()), ws);
      fxnms(ws);
    }
    const std::uint32_t e = entry_of_table_offset(found);
    wr32(ws, e + sym::Value, 4 * static_cast<std::uint32_t>(n));
    wr8(ws, e + sym::Type, system_function_takes_arguments(n) ? SYM_SYSFN : SYM_SYSFN0);
    return token_of_table_offset(found);
  }

  // Calls row n with the valence given by the arguments present, in a
  // workspace of its own.
  static Outcome call(int n, const std::optional<ArrayImage>& left, const std::optional<ArrayImage>& right,
                      int valence, const std::function<void(Ws, std::uint32_t)>& check = nullptr) {
    TestWorkspace tw;
    Ws ws = tw.ws();
    const std::uint32_t token = symbol_of(n, ws);
    Outcome out;
    try {
      if (valence == 0) {
        set_token_register(StackEntry{TC_NILADIC, 0, token}, ws);
        EXPECT_EQ(xnilfn(ws), ES_BIND);
        const StackEntry r = token_register(ws);
        EXPECT_EQ(r.cls, kOwnsObject | TC_VALUE);
        EXPECT_FALSE(r.flags & kSeResult);
        EXPECT_TRUE(stack_is_empty(ws)) << "the call's entries are gone";
        out.result = r.value;
      } else {
        test::place(ws, *right);
        stack(StackEntry{TC_NAMEDFN, 0, token}, ws);
        if (valence == 2) {
          test::place(ws, *left);
          const std::uint32_t top = stack_entry_at(0, ws);
          wr8(ws, top, kOwnsObject | TC_LEFTARG);
        }
        const int state = valence == 1 ? do_xmnfn(ws) : do_xdyfn(ws);
        EXPECT_EQ(state, ES_FINISH_APPLICATION);
        // The result on top of left (or its placeholder), function, right.
        EXPECT_EQ(rd32(ws, hdr::Top) - 4 - rd32(ws, hdr::StackPointer), 4 * kStackEntrySize);
        const StackEntry r = load_entry(stack_entry_at(0, ws), ws);
        EXPECT_EQ(r.cls, kOwnsObject | TC_VALUE);
        EXPECT_TRUE(r.flags & kSeResult);
        out.result = r.value;
      }
      if (check) check(ws, out.result);
      EXPECT_EQ(check_integrity(ws), 0) << sysfn_row(n).name;
    } catch (const AplError& e) {
      out.error = e.code;
    }
    return out;
  }
  static Outcome call0(int n, const std::function<void(Ws, std::uint32_t)>& check = nullptr) {
    return call(n, std::nullopt, std::nullopt, 0, check);
  }
  static Outcome call1(int n, const ArrayImage& r, const std::function<void(Ws, std::uint32_t)>& check = nullptr) {
    return call(n, std::nullopt, r, 1, check);
  }
  static Outcome call2(int n, const ArrayImage& l, const ArrayImage& r,
                       const std::function<void(Ws, std::uint32_t)>& check = nullptr) {
    return call(n, l, r, 2, check);
  }
  static int number(const char* name) {
    for (int n = 0; n < kSystemFunctions; ++n)
      if (std::string(sysfn_row(n).name) == name) return n;
    ADD_FAILURE() << name;
    return 0;
  }
};

// A valid argument for the handlers the program has (any value for the rest).
ArrayImage good_argument(const std::string& name) {
  if (name == "⎕HC") return test::int_scalar(99);
  if (name == "⎕DL") return test::int_scalar(0);
  if (name == "⎕MOUNT" || name == "⎕HOST" || name == "⎕EC" || name == "⎕EA") return test::char_vector("");
  if (name == "⎕ES" || name == "⎕ERS") return test::int_vector({});  // signals nothing
  if (name == "⎕CR" || name == "⎕EX" || name == "⎕NC" || name == "⎕AT") return test::char_vector("X");
  if (name == "⎕FX" || name == "⎕TF") return test::char_vector("");  // fixes nothing; no text
  if (name == "⎕NL") return test::int_scalar(2);
  if (name == "⎕IC") return test::char_array({0, 3}, "");  // a class without members
  if (name == "⎕NA") return test::char_vector("LIB|FN");
  if (name == "⎕LIB") return test::char_vector("/no/such/directory");
  if (name == "⎕PFKEY") return test::int_scalar(3);
  return test::int_scalar(0);
}
// A valid left argument for the dyadic handlers the program has.
ArrayImage good_left(const std::string& name) {
  if (name == "⎕CR" || name == "⎕AT" || name == "⎕TF") return test::int_scalar(1);
  if (name == "⎕FX") return test::int_scalar(0);
  if (name == "⎕NL") return test::char_vector("A");
  if (name == "⎕NA") return test::char_vector("F");
  if (name == "⎕NEW") return test::char_vector("apl");
  if (name == "⎕FMT") return test::char_vector("I5");
  if (name == "⎕PFKEY") return test::char_vector("ls");
  if (name == "⎕IC") return test::char_vector("C");
  return test::int_scalar(5);
}

TEST_F(Dispatch, EveryRowReachesItsHandlerOrItsError) {
  int built = 0;
  for (int n = 0; n < kSystemFunctions; ++n) {
    const std::string name = sysfn_row(n).name;
    const bool niladic = listed_niladic(n);
    EXPECT_EQ(niladic, !system_function_takes_arguments(n)) << name;
    EXPECT_EQ(niladic + kMonadicOnly.count(name) + kDyadicOnly.count(name) + kBoth.count(name) + (name == "⎕DESC"), 1)
        << name;
    const bool monadic = kMonadicOnly.count(name) || kBoth.count(name);
    const bool dyadic = kDyadicOnly.count(name) || kBoth.count(name);
    const bool syntax = name == "⎕REF" || name == "⎕VAL";
    const ArrayImage arg = good_argument(name);
    // One valence: the error it must give, or (form exists) a result from
    // a handler and NONCE ERROR from a service the program lacks.
    auto expect = [&](int valence, bool exists, int refusal, const std::set<std::string>& built_set) {
      const Outcome o = valence == 0 ? call0(n) : valence == 1 ? call1(n, arg) : call2(n, good_left(name), arg);
      if (!exists) {
        EXPECT_EQ(o.error, refusal) << name << " valence " << valence;
        return;
      }
      if (built_set.count(name)) {
        ++built;
        // ⎕ERX sets a line of the running function: refused at immediate
        // execution. ⎕STOP and ⎕TRACE name a function, ⎕NEW a class, which the workspace lacks.
        // The class functions have no object here (or a class argument).
        // ⎕WI, ⎕WE and ⎕EV find no ⎕WI system to ask.
        const bool refused = name == "⎕WI" || name == "⎕WE" || name == "⎕EV" || name == "⎕ERX" || name == "⎕STOP" || name == "⎕TRACE" || name == "⎕NEW" ||
                             (kClassFunctions.count(name) && name != "⎕THIS" && name != "⎕NULL" && name != "⎕CLASSES");
        EXPECT_EQ(o.error, refused ? E_DOMAIN : 0) << name << " valence " << valence;
        EXPECT_EQ(sysfn_form(n, valence), SfForm::Handler) << name;
      } else {
        EXPECT_EQ(o.error, E_NONCE) << name << " valence " << valence;
        EXPECT_EQ(sysfn_form(n, valence), SfForm::Missing) << name;
      }
    };
    if (syntax) {
      expect(0, false, E_SYNTAX, {});
    } else {
      expect(0, niladic, E_NONCE, kBuiltNiladic);
    }
    if (name == "⎕DESC") {
      expect(1, false, E_DOMAIN, {});
      expect(2, false, E_NONCE, {});
      continue;
    }
    expect(1, monadic, niladic ? E_NONCE : E_VALENCE, kBuiltMonadic);
    expect(2, dyadic, niladic ? E_NONCE : E_VALENCE, kBuiltDyadic);
  }
  EXPECT_EQ(built, static_cast<int>(kBuiltNiladic.size() + kBuiltMonadic.size() + kBuiltDyadic.size()));
}

// Every name of the table, typed, becomes a symbol that leads the
// dispatcher to its row: value the row's number × 4, type 9 when the row's
// flags say it takes arguments, else 6. Its lower-case spelling too.
TEST_F(Dispatch, EveryNameTokenisesToTheRowThatRunsIt) {
  // Case is masked except for ⎕a: these spell another row's name, or (⎕y)
  // none, when read.
  const std::map<std::string, std::string> read_as = {{"⎕b", "⎕B"}, {"⎕i", "⎕I"}, {"⎕y", ""}};
  auto lower = [](std::string s) {
    for (char& ch : s)
      if (ch >= 'A' && ch <= 'Z') ch = static_cast<char>(ch - 'A' + 'a');
    return s;
  };
  auto row_of = [&](const std::string& spelling) {
    for (int n = 0; n < kSystemFunctions; ++n) {
      if (spelling != sysfn_row(n).name) continue;
      const auto it = read_as.find(spelling);
      return it == read_as.end() ? n : it->second.empty() ? -1 : number(it->second.c_str());
    }
    return -2;  // not a row's own spelling
  };
  for (int n = 0; n < kSystemFunctions; ++n) {
    const std::string name = sysfn_row(n).name;
    for (const std::string& spelling : {name, lower(name)}) {
      int row = row_of(spelling);
      if (row == -2) row = n;  // a lower-case spelling of the name
      TestWorkspace tw;
      Ws ws = tw.ws();
      const std::string text = utf8_to_internal(spelling);
      ASSERT_EQ(lexcal(reinterpret_cast<const std::uint8_t*>(text.data()), static_cast<std::uint32_t>(text.size()), ws),
                4)
          << spelling;
      const std::uint32_t s = rd32(ws, hdr::KillSlot) + tl::Body;
      const std::uint32_t length = rd8(ws, s) | (std::uint32_t(rd8(ws, s + 1)) << 8);
      if (row < 0) {
        EXPECT_EQ(rd8(ws, s + 3), TK_QUAD) << spelling << ": the ⎕ alone, then a name";
        continue;
      }
      ASSERT_EQ(length, 5u) << spelling << ": one symbol token";
      const std::uint32_t e = entry_of_token((std::uint32_t(rd8(ws, s + 3)) << 8) | rd8(ws, s + 4));
      EXPECT_EQ(rd32(ws, e + sym::Value), 4u * static_cast<std::uint32_t>(row)) << spelling;
      const bool takes_arguments = sysfn_row(row).flags & sff::TakesArguments;
      EXPECT_EQ(rd8(ws, e + sym::Type) & kSymTypeMask, takes_arguments ? SYM_SYSFN : SYM_SYSFN0) << spelling;
    }
  }
}

TEST_F(Dispatch, FlagsAreTheListedOnes) {
  for (int n = 0; n < kSystemFunctions; ++n) {
    const std::string name = sysfn_row(n).name;
    int expected = listed_niladic(n) ? 0x00 : 0x01;
    if (auto it = kFlags.find(name); it != kFlags.end()) expected = it->second;
    EXPECT_EQ(sysfn_row(n).flags, expected) << name;
  }
}

TEST_F(Dispatch, ArgumentsRefusedByTheFlags) {
  const ArrayImage nested = test::nested_vector({test::int_vector({1, 2}), test::int_scalar(3)});
  const ArrayImage objects = test::objref_array({2}, {0, 0});
  for (int n = 0; n < kSystemFunctions; ++n) {
    if (listed_niladic(n)) continue;
    const std::string name = sysfn_row(n).name;
    const std::uint8_t flags = sysfn_row(n).flags;
    const ArrayImage plain = good_argument(name);
    // A refused argument is a DOMAIN ERROR whatever the form; an allowed
    // one goes on to the form, which the plain argument shows.
    auto check = [&](const Outcome& got, const Outcome& with_plain, bool allowed, const char* what) {
      if (!allowed) {
        EXPECT_EQ(got.error, E_DOMAIN) << name << " " << what;
      } else if (with_plain.error != 0) {
        EXPECT_EQ(got.error, with_plain.error) << name << " " << what;
      }
    };
    const Outcome plain1 = call1(n, plain);
    check(call1(n, nested), plain1, flags & sff::RightNested, "right nested");
    check(call1(n, objects), plain1, flags & sff::RightObjects, "right objects");
    const Outcome plain2 = call2(n, test::int_scalar(5), plain);
    check(call2(n, nested, plain), plain2, flags & sff::LeftNested, "left nested");
    check(call2(n, objects, plain), plain2, flags & sff::LeftObjects, "left objects");
  }
}

TEST_F(Dispatch, AnAxisOnASystemFunctionIsAnAxisError) {
  TestWorkspace tw;
  Ws ws = tw.ws();
  const std::uint32_t token = symbol_of(number("⎕DL"), ws);
  test::place(ws, test::int_scalar(0));
  stack(StackEntry{TC_NAMEDFN, 0, token | (1u << 16)}, ws);
  try {
    do_xmnfn(ws);
    FAIL() << "no error";
  } catch (const AplError& e) {
    EXPECT_EQ(e.code, E_AXIS);
  }
}

// ---- the handlers the program has -----------------------------------------------------------

std::string chars_of(Ws ws, std::uint32_t a) {
  std::uint32_t n = 1;
  const std::uint32_t rank = rd16(ws, a + obj::Rank4) / 4;
  for (std::uint32_t k = 0; k < rank; ++k) n *= rd32(ws, a + obj::Shape + 4 * k);
  return std::string(reinterpret_cast<const char*>(ws + a + obj::Shape + 4 * rank), n);
}
std::vector<std::int32_t> ints_of(Ws ws, std::uint32_t a) {
  EXPECT_EQ(rd8(ws, a + obj::Type), ET_INT);
  const std::uint32_t rank = rd16(ws, a + obj::Rank4) / 4;
  const std::uint32_t n = rank ? rd32(ws, a + obj::Shape) : 1;
  std::vector<std::int32_t> v(n);
  if (n) std::memcpy(v.data(), ws + a + obj::Shape + 4 * rank, 4 * n);
  return v;
}
std::vector<std::uint32_t> shape_of(Ws ws, std::uint32_t a) {
  std::vector<std::uint32_t> s;
  for (std::uint32_t k = 0; k < rd16(ws, a + obj::Rank4) / 4u; ++k) s.push_back(rd32(ws, a + obj::Shape + 4 * k));
  return s;
}

TEST_F(Dispatch, CharacterConstants) {
  auto run = [&](const char* name) {
    std::string s;
    std::vector<std::uint32_t> shape;
    call0(number(name), [&](Ws ws, std::uint32_t a) {
      EXPECT_EQ(rd8(ws, a + obj::Type), ET_CHAR) << name;
      s = chars_of(ws, a);
      shape = shape_of(ws, a);
    });
    return std::make_pair(s, shape);
  };
  using S = std::vector<std::uint32_t>;
  struct Case {
    const char* name;
    std::string chars;
    S shape;
  } cases[] = {
      {"⎕A", utf8_to_internal("ABCDEFGHIJKLMNOPQRSTUVWXYZ"), {26}},
      {"⎕a", utf8_to_internal("abcdefghijklmnopqrstuvwxyz"), {26}},
      {"⎕D", "0123456789", {10}},
      {"⎕B", "\x08", {}},     {"⎕b", "\x88", {}},     {"⎕I", std::string(1, '\0'), {}},
      {"⎕i", "\x80", {}},     {"⎕L", "\x0A", {}},     {"⎕R", "\x0D", {}},
      {"⎕T", "\x89", {}},     {"⎕N", "\x01", {}},     {"⎕y", "\x05\x06", {2}},
      {"⎕TC", "\x08\x0D\x0A", {3}},
      {"⎕TCBEL", "\x87", {}}, {"⎕TCBS", "\x08", {}},  {"⎕TCDEL", "\xFF", {}},
      {"⎕TCESC", "\x9B", {}}, {"⎕TCFF", "\x8C", {}},  {"⎕TCHT", "\x89", {}},
      {"⎕TCLF", "\x0A", {}},  {"⎕TCNL", "\x0D", {}},  {"⎕TCNUL", std::string(1, '\0'), {}},
  };
  for (const Case& c : cases) {
    const auto [s, shape] = run(c.name);
    EXPECT_EQ(s, c.chars) << c.name;
    EXPECT_EQ(shape, c.shape) << c.name;
  }
  const auto [av, av_shape] = run("⎕AV");
  ASSERT_EQ(av.size(), 256u);
  for (int i = 0; i < 256; ++i) EXPECT_EQ(static_cast<std::uint8_t>(av[i]), i);
  const auto [c, c_shape] = run("⎕C");
  ASSERT_EQ(c.size(), 33u);
  EXPECT_EQ(static_cast<std::uint8_t>(c[0]), 0x80);
  EXPECT_EQ(static_cast<std::uint8_t>(c[31]), 0x9F);
  EXPECT_EQ(static_cast<std::uint8_t>(c[32]), 0xFF);
  const auto [w, w_shape] = run("⎕W");
  EXPECT_EQ(w_shape, (S{7, 9}));
  EXPECT_EQ(w.substr(0, 9), utf8_to_internal("SUNDAY   "));
  EXPECT_EQ(w.substr(27, 9), utf8_to_internal("WEDNESDAY"));
  const auto [m, m_shape] = run("⎕M");
  EXPECT_EQ(m_shape, (S{12, 9}));
  EXPECT_EQ(m.substr(8 * 9, 9), utf8_to_internal("SEPTEMBER"));
  EXPECT_EQ(m.substr(11 * 9, 9), utf8_to_internal("DECEMBER "));
}

TEST_F(Dispatch, StateQueries) {
  call0(number("⎕AI"), [](Ws ws, std::uint32_t a) {
    const auto v = ints_of(ws, a);
    ASSERT_EQ(v.size(), 7u);
    EXPECT_EQ(v[4], 700);
    EXPECT_EQ(v[1], v[5]);
  });
  call0(number("⎕TS"), [](Ws ws, std::uint32_t a) {
    const auto v = ints_of(ws, a);
    ASSERT_EQ(v.size(), 7u);
    EXPECT_GE(v[0], 1991);
    EXPECT_LE(v[0], 2090);
    EXPECT_TRUE(v[1] >= 1 && v[1] <= 12);
    EXPECT_TRUE(v[2] >= 1 && v[2] <= 31);
    EXPECT_TRUE(v[6] >= 0 && v[6] < 1000);
  });
  call0(number("⎕WA"), [](Ws ws, std::uint32_t a) {
    // Measured while the call's three entries were on the stack and before
    // the result (now at `a`) was made.
    const std::uint32_t sp = rd32(ws, hdr::Top) - 4 - 3 * kStackEntrySize;
    EXPECT_EQ(static_cast<std::uint32_t>(ints_of(ws, a)[0]), sp - a + rd32(ws, hdr::Garbage));
  });
  call0(number("⎕LC"), [](Ws ws, std::uint32_t a) { EXPECT_TRUE(ints_of(ws, a).empty()); });
  call0(number("⎕WSSIZE"), [](Ws ws, std::uint32_t a) {
    EXPECT_EQ(static_cast<std::uint32_t>(ints_of(ws, a)[0]), rd32(ws, hdr::Top));
  });
  call0(number("⎕SYMB"), [](Ws ws, std::uint32_t a) {
    const auto v = ints_of(ws, a);
    ASSERT_EQ(v.size(), 2u);
    EXPECT_EQ(v[0], 1);  // ⎕SYMB's own name
    EXPECT_EQ(v[1], 1026);
  });
}

TEST_F(Dispatch, ErrorQueriesReadTheLastError) {
  TestWorkspace tw;
  Ws ws = tw.ws();
  task.wsBase = ws;
  auto line = [&](const char* utf8) {
    const std::string t = utf8_to_internal(utf8);
    run_input_line(t.data(), static_cast<int>(t.size()), ws);
  };
  auto value = [&](const char* letter) {
    std::uint32_t free = 0, found = 0;
    wr8(ws, kNameBuffer, static_cast<std::uint8_t>(utf8_to_internal(letter)[0]));
    EXPECT_EQ(symfnd(free, found, 1, ws), 0);
    return ints_of(ws, rd32(ws, entry_of_table_offset(found) + sym::Value));
  };
  line("⎕IO←2");
  line("E←⎕ET");
  line("L←⎕LER");
  line("C←⎕CL");
  EXPECT_EQ(value("E"), (std::vector<std::int32_t>{5, 4}));
  EXPECT_EQ(value("L"), (std::vector<std::int32_t>{11, 0}));
  EXPECT_EQ(value("C"), (std::vector<std::int32_t>{0}));
}

TEST_F(Dispatch, LowerCaseNames) {
  // ⎕b and ⎕i mean ⎕B and ⎕I; ⎕a is the row of its own.
  EXPECT_EQ(system_function_number(reinterpret_cast<const std::uint8_t*>(
                utf8_to_internal("⎕b").append(12 - utf8_to_internal("⎕b").size(), '\0').data())),
            number("⎕B"));
  TestWorkspace tw;
  Ws ws = tw.ws();
  task.wsBase = ws;
  auto first_char = [&](const char* utf8) {
    const std::string t = utf8_to_internal(std::string("X←") + utf8);
    run_input_line(t.data(), static_cast<int>(t.size()), ws);
    std::uint32_t free = 0, found = 0;
    wr8(ws, kNameBuffer, 0x78);  // X
    EXPECT_EQ(symfnd(free, found, 1, ws), 0);
    const std::uint32_t v = rd32(ws, entry_of_table_offset(found) + sym::Value);
    return rd8(ws, v + obj::Shape + rd16(ws, v + obj::Rank4));
  };
  EXPECT_EQ(first_char("⎕b"), 0x08);
  EXPECT_EQ(first_char("⎕i"), 0x00);
  EXPECT_EQ(first_char("⎕a"), 0xE1);
  EXPECT_EQ(first_char("⎕d"), 0x30);
  EXPECT_TRUE(stack_is_empty(ws));
  EXPECT_EQ(check_integrity(ws), 0);
}

TEST_F(Dispatch, Delay) {
  struct Case {
    ArrayImage arg;
    int error;
  } cases[] = {
      {test::int_scalar(0), 0},
      {test::float_scalar(0.02), 0},
      {test::bool_vector({0}), 0},
      {test::int_scalar(-1), E_DOMAIN},
      {test::float_scalar(-0.5), E_DOMAIN},
      {test::int_vector({1, 2}), E_RANK},
      {test::int_vector({}), E_RANK},
      {test::char_scalar("a"), E_DOMAIN},
      {test::float_scalar(3e6), E_DOMAIN},  // beyond 2*31 milliseconds
  };
  for (const Case& c : cases) {
    double seconds = -1;
    const Outcome o = call1(number("⎕DL"), c.arg, [&](Ws ws, std::uint32_t a) {
      ASSERT_EQ(rd8(ws, a + obj::Type), ET_FLOAT);
      EXPECT_EQ(rd16(ws, a + obj::Rank4), 0);
      std::memcpy(&seconds, ws + a + obj::Shape, 8);
    });
    EXPECT_EQ(o.error, c.error);
    if (c.error == 0) {
      EXPECT_GE(seconds, 0.0);
      EXPECT_LT(seconds, 2.0);
    }
  }
  double waited = 0;
  call1(number("⎕DL"), test::float_scalar(0.05),
        [&](Ws ws, std::uint32_t a) { std::memcpy(&waited, ws + a + obj::Shape, 8); });
  EXPECT_GE(waited, 0.05);
}

TEST_F(Dispatch, HostCommands) {
  const int host = number("⎕HOST");
  std::string out;
  auto grab = [&](Ws ws, std::uint32_t a) {
    EXPECT_EQ(rd8(ws, a + obj::Type), ET_CHAR);
    EXPECT_EQ(rd16(ws, a + obj::Rank4), 4);
    out = internal_to_utf8(chars_of(ws, a));
  };
  EXPECT_EQ(call1(host, test::char_vector(""), grab).error, 0);
  EXPECT_EQ(out, "LINUX");
  EXPECT_EQ(call1(host, test::char_vector("echo hello"), grab).error, 0);
  EXPECT_EQ(out, "hello");
  EXPECT_EQ(call2(host, test::int_scalar(5), test::char_vector("printf 'A\\nB\\n'"), grab).error, 0);
  EXPECT_EQ(out, "A\rB");
  struct Case {
    std::optional<ArrayImage> left;
    ArrayImage right;
    int error;
  } cases[] = {
      {std::nullopt, test::int_scalar(1), E_DOMAIN},
      {std::nullopt, test::char_array({2, 2}, "lsls"), E_RANK},
      {test::int_scalar(-1), test::char_vector("ls"), E_DOMAIN},
      {test::char_scalar("a"), test::char_vector("ls"), E_DOMAIN},
      {test::int_vector({1, 2}), test::char_vector("ls"), E_RANK},
  };
  for (const Case& c : cases)
    EXPECT_EQ((c.left ? call2(host, *c.left, c.right) : call1(host, c.right)).error, c.error);
}

TEST_F(Dispatch, HardCopyAndMount) {
  call1(number("⎕HC"), test::int_scalar(99), [](Ws ws, std::uint32_t a) { EXPECT_EQ(ints_of(ws, a)[0], 0); });
  EXPECT_EQ(call1(number("⎕HC"), test::char_scalar("a")).error, E_DOMAIN);
  EXPECT_EQ(call1(number("⎕HC"), test::int_vector({1, 2})).error, E_RANK);

  const int mount = number("⎕MOUNT");
  auto table = [&](const ArrayImage& arg) {
    std::string t;
    call1(mount, arg, [&](Ws ws, std::uint32_t a) {
      EXPECT_EQ(shape_of(ws, a), (std::vector<std::uint32_t>{10, 260}));
      t = chars_of(ws, a);
    });
    return t;
  };
  // Each call runs in a workspace of its own: the table starts blank there
  // only when the session's LowGlobals say so, so compare rows directly.
  const std::string one = table(test::char_scalar("A"));
  ASSERT_EQ(one.size(), 2600u);
  EXPECT_EQ(one.substr(0, 260), utf8_to_internal("A") + std::string(259, ' '));
  const std::string two = table(test::char_array({2, 3}, "ABCDEF"));
  EXPECT_EQ(two.substr(0, 4), utf8_to_internal("ABC "));
  EXPECT_EQ(two.substr(260, 4), utf8_to_internal("DEF "));
  EXPECT_EQ(call1(mount, test::char_array({11, 1}, "AAAAAAAAAAA")).error, E_LENGTH);
  EXPECT_EQ(call1(mount, test::char_vector(std::string(261, 'A'))).error, E_LENGTH);
  EXPECT_EQ(call1(mount, test::char_array({1, 1, 1}, "A")).error, E_RANK);
  call1(mount, test::int_vector({0x41424344}), [](Ws ws, std::uint32_t a) {
    const auto v = ints_of(ws, a);
    ASSERT_EQ(v.size(), 650u);
    EXPECT_EQ(v[0], 0x41424344);
  });
  EXPECT_EQ(call1(mount, test::int_vector(std::vector<std::int32_t>(651, 0))).error, E_LENGTH);
}

}  // namespace
}  // namespace zema
