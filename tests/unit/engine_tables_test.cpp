// The grammar's tables, checked cell by cell against their rows as the
// grammar is written down (row: the class on the left; "R:strength" pairs
// or "columns action").
#include <gtest/gtest.h>

#include <map>
#include <sstream>
#include <string>

#include "host/charset.h"
#include "interpreter/engine/engine.h"
#include "interpreter/workspace/symtab.h"
#include "interpreter/reader/tokeniser.h"

namespace zema {
namespace {

TEST(EngineTables, BindingStrengths) {
  const std::map<int, std::string> rows = {
      {0, "1:2 7:6 9:9 10:6 12:2 13:2 14:2 18:6 19:6"},
      {1, "0:4 1:6 3:1 7:6 8:4 9:9 10:7 12:6 13:6 14:6 18:6 19:6 21:4"},
      {2, "1:2"},
      {3, "1:2 7:6 9:9 10:6 12:2 13:2 14:2 18:6 19:6"},
      {4, "0:5 1:5 2:5 7:8 8:9 9:9 10:9 12:9 13:9 14:9 18:9 19:9 21:5"},
      {5, "0:9 1:9 3:9 7:9 8:9 9:9 10:9 12:9 13:9 14:9 18:9 19:9 21:9"},
      {7, "9:9"},
      {8, "1:2 7:6 9:9 10:6 12:2 13:2 14:2 18:6 19:6"},
      {11, "0:8 1:8 8:8 9:9 13:8 21:8 23:8"},
      {12, "0:4 1:6 3:4 7:6 8:4 9:9 10:6 12:6 13:6 14:6 18:6 19:6 21:4"},
      {13, "0:4 1:6 3:4 7:6 8:4 9:9 10:6 12:6 13:6 14:6 18:6 19:6 21:4"},
      {14, "0:4 1:6 3:4 7:6 8:4 9:9 10:6 12:6 13:6 14:6 18:6 19:6 21:4"},
      {17, "4:9"},
      {18, "9:9"},
      {19, "9:9"},
      {20, "0:8 1:8 8:8 9:9 21:8"},
      {21, "1:2 7:6 9:9 10:6 12:2 13:2 14:2 18:6 19:6"},
      {22, "0:8 8:8 9:9 21:8"},
  };
  for (int l = 0; l < 24; ++l) {
    int expected[32] = {};
    if (auto it = rows.find(l); it != rows.end()) {
      std::istringstream in(it->second);
      for (std::string pair; in >> pair;) expected[std::stoi(pair)] = std::stoi(pair.substr(pair.find(':') + 1));
    }
    for (int r = 0; r < 32; ++r) EXPECT_EQ(binding[l][r], expected[r]) << "binding[" << l << "][" << r << "]";
  }
}

TEST(EngineTables, ReduceActions) {
  // Each row: T, then "columns=action" groups; "a-b" is a range.
  const char* rows[] = {
      "0 1=Xmnop 2,5,6=Noarray 3,4=B 7=Xrdce 9=Xaxis 10=XprodRes 18=Xeach 19=Xumnop",
      "1 0,8,21=Xlarg 1=Xnest 3,11,18=B 6=S 7=Xrdce 9=Xindex 10=Dot 19=Xumnop",
      "2 1=Xasgn 0,2-20,22,23=B",
      "3 1=Xbrnch 2-7,9-11,18=B",
      "4 9=B 0-8,10,11,18-22=S",
      "5 0-11,18-22=S",
      "6 1,4,5,6=S 2,3,7,9,10,11,18=B",
      "7 1=S 2-7,11=B 9=Xaxis 10=XprodRes 18=Xeach 19=Xumnop",
      "8 1=Xmnfn 2=Class 3=B 4,5,6=Synter 7=Xrdce 9=Xaxis 10=XprodRes 18=Xeach 19=Xumnop",
      "11 0,1,8,13,19,20,21,23=Xprod 2-7,9-11,18=B",
      "14 9=Xindex",
      "17 4=XemptyIndex",
      "18 2-7,9-11,18=B",
      "19 2-7,9-11,18=B",
      "20 0,1,8,21=Xudyop 2-7,9-11,18=B",
      "21 1=XmnDerfn 2,5,6=Noarray 3,4=B 7=Xrdce 9=Xaxis 10=XprodRes 18=Xeach 19=Xumnop",
      "22 0,7=Xdyop 2,5,6=Noarray 3,4=B 8=Xdyfn 10=Class 18=Synter 21=XdyDerfn",
      "23 10=Dot",
  };
  const std::map<std::string, LabelCode> codes = {
      {"Xmnop", lc::Xmnop},     {"Noarray", lc::SynterNoarray}, {"B", lc::SynterBadline}, {"S", lc::Syntlp},
      {"Xrdce", lc::Xrdce},     {"Xaxis", lc::Xaxis},           {"XprodRes", lc::XprodRes}, {"Xeach", lc::Xeach},
      {"Xumnop", lc::Xumnop},   {"Xlarg", lc::Xlarg},           {"Xnest", lc::Xnest},      {"Xindex", lc::Xindex},
      {"Dot", lc::DotNotation}, {"Xasgn", lc::Xasgn},           {"Xbrnch", lc::Xbrnch},    {"Xmnfn", lc::Xmnfn},
      {"Class", lc::SynterClass}, {"Synter", lc::Synter},       {"Xprod", lc::Xprod},      {"XemptyIndex", lc::XemptyIndex},
      {"Xudyop", lc::Xudyop},   {"XmnDerfn", lc::XmnDerfn},     {"Xdyop", lc::Xdyop},      {"Xdyfn", lc::Xdyfn},
      {"XdyDerfn", lc::XdyDerfn},
  };
  LabelCode expected[24][24];
  for (auto& row : expected)
    for (auto& cell : row) cell = lc::Nonce;
  for (const char* row : rows) {
    std::istringstream in(row);
    int t;
    in >> t;
    for (std::string group; in >> group;) {
      const LabelCode code = codes.at(group.substr(group.find('=') + 1));
      std::istringstream cols(group.substr(0, group.find('=')));
      for (std::string c; std::getline(cols, c, ',');) {
        const auto dash = c.find('-');
        const int from = std::stoi(c), to = dash == std::string::npos ? from : std::stoi(c.substr(dash + 1));
        for (int s = from; s <= to; ++s) expected[t][s] = code;
      }
    }
  }
  for (int t = 0; t < 24; ++t)
    for (int s = 0; s < 24; ++s) EXPECT_EQ(syntab[t][s], expected[t][s]) << "syntab[" << t << "][" << s << "]";
}

TEST(EngineTables, TokenClassesOfCharactersAndSymbols) {
  struct Case {
    const char* glyph;
    std::uint8_t cls;
  } cases[] = {{"+", TC_PRIMITIVE}, {"⍴", TC_PRIMITIVE}, {"⍎", TC_PRIMITIVE}, {"≡", TC_PRIMITIVE},
               {"⌷", TC_PRIMITIVE}, {"←", TC_ASSIGN},   {"→", TC_BRANCH},    {"]", TC_RBRACKET},
               {")", TC_RPAREN},     {";", TC_SEMICOLON}, {"/", TC_SLASH},    {"⍀", TC_SLASH},
               {".", TC_DOT},        {"⎕", TC_SPECIAL},  {"⍞", TC_SPECIAL},   {"(", TC_LPAREN},
               {"[", TC_LBRACKET},   {"¨", TC_EACH},     {"⍝", TC_INVALID},   {"∇", TC_INVALID},
               {"{", TC_INVALID},    {"⋄", TC_INVALID},  {"≢", TC_INVALID},   {"⍤", TC_INVALID}};
  for (const Case& c : cases) {
    const std::string code = utf8_to_internal(c.glyph);
    EXPECT_EQ(optran(primitive_code(static_cast<std::uint8_t>(code[0]))), c.cls) << c.glyph;
  }
  EXPECT_EQ(optran(0), TC_EDGE);
  for (std::uint8_t tag : {1, 2, 3, 4, 5, 8, 10}) EXPECT_EQ(optran(tag), TC_CONSTANT) << int(tag);
  EXPECT_EQ(optran(0x30), TC_BRANCH);  // :If
  EXPECT_EQ(optran(0x7B), TC_BRANCH);  // :In
  EXPECT_EQ(optran(0x39), TC_INVALID); // the digit 9
  EXPECT_EQ(stran[SYM_UNDEF], TC_VALUE);
  EXPECT_EQ(stran[SYM_VAR], TC_VALUE);
  EXPECT_EQ(stran[SYM_SYSVAR], TC_SPECIAL);
  EXPECT_EQ(stran[SYM_SYSFN0], TC_NILADIC);
  EXPECT_EQ(stran[8], TC_INVALID);
}

}  // namespace
}  // namespace zema
