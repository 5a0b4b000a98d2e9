// The grammar's tables by what they make the engine do: which pairs
// reduce, which wait for the next token, which are syntax errors; and the
// token classes of characters and symbols.
#include <gtest/gtest.h>

#include <string>

#include "host/charset.h"
#include "interpreter/engine/engine.h"
#include "interpreter/workspace/symtab.h"
#include "interpreter/reader/tokeniser.h"

namespace zema {
namespace {

// What the state loop does with the top entries T (top) and S (below) when
// the next token to the left has class N: reduce T and S by their action
// when T binds S more strongly than N binds T, else shift N.
LabelCode step(int n, int t, int s) {
  return binding[t][s] > binding[n][t] ? syntab[t][s] : lc::Syntlp;
}

TEST(EngineTables, WhatReducesAndWhatWaits) {
  struct Case {
    const char* phrase;  // the classes N T S as a line shows them
    int n, t, s;
    LabelCode expected;
  } cases[] = {
      // Functions take their right argument when nothing to the left binds
      // more strongly, and wait for a value on the left.
      {"⋄ - 3", TC_EDGE, TC_PRIMITIVE, TC_VALUE, lc::Xmnop},
      {"- - 3", TC_PRIMITIVE, TC_PRIMITIVE, TC_VALUE, lc::Xmnop},
      {"2 - 3", TC_VALUE, TC_PRIMITIVE, TC_VALUE, lc::Syntlp},
      {"(- 3", TC_LPAREN, TC_PRIMITIVE, TC_VALUE, lc::Xmnop},
      {"⋄ F 3", TC_EDGE, TC_NAMEDFN, TC_VALUE, lc::Xmnfn},
      {"2 F 3", TC_VALUE, TC_NAMEDFN, TC_VALUE, lc::Syntlp},
      // A value above a function becomes its left argument, which then
      // applies the function dyadically.
      {"⋄ 2 -", TC_EDGE, TC_VALUE, TC_PRIMITIVE, lc::Xlarg},
      {"⋄ 2 F", TC_EDGE, TC_VALUE, TC_NAMEDFN, lc::Xlarg},
      {"⋄ 2 - 3", TC_EDGE, TC_LEFTARG, TC_PRIMITIVE, lc::Xdyop},
      {"⋄ 2 F 3", TC_EDGE, TC_LEFTARG, TC_NAMEDFN, lc::Xdyfn},
      // Brackets bind before anything on the left: indexing, axes.
      {"- A[I]", TC_PRIMITIVE, TC_VALUE, TC_INDEXLIST, lc::Xindex},
      {"2 A[I]", TC_VALUE, TC_VALUE, TC_INDEXLIST, lc::Xindex},
      {"⋄ ⎕[I]", TC_EDGE, TC_SPECIAL, TC_INDEXLIST, lc::Xindex},
      {"2 -[1]", TC_VALUE, TC_PRIMITIVE, TC_INDEXLIST, lc::Xaxis},
      {"⋄ A[]", TC_EDGE, TC_LBRACKET, TC_RBRACKET, lc::XemptyIndex},
      // Compress binds its left value before a function to the left of it.
      {"- 1 0/", TC_PRIMITIVE, TC_VALUE, TC_SLASH, lc::Xrdce},
      // Assignment and branch take the value on their right.
      {"X ← 3", TC_VALUE, TC_ASSIGN, TC_VALUE, lc::Xasgn},
      {"⋄ → 3", TC_EDGE, TC_BRANCH, TC_VALUE, lc::Xbrnch},
      // A closing parenthesis or bracket waits for its opening one.
      {"⋄ )3", TC_EDGE, TC_RPAREN, TC_VALUE, lc::Syntlp},
      {"A ]3", TC_VALUE, TC_RBRACKET, TC_VALUE, lc::Syntlp},
      // Two functions side by side bind to nothing: the left one waits.
      {"⋄ - +", TC_EDGE, TC_PRIMITIVE, TC_PRIMITIVE, lc::Syntlp},
  };
  for (const Case& c : cases) EXPECT_EQ(step(c.n, c.t, c.s), c.expected) << c.phrase;
}

TEST(EngineTables, MisplacedTokensAreSyntaxErrors) {
  // The action of a pair that cannot stand together, whatever the left:
  // each names one of the SYNTAX ERROR routines.
  struct Case {
    const char* phrase;
    int t, s;
    LabelCode expected;
  } cases[] = {
      {"← )", TC_ASSIGN, TC_RPAREN, lc::SynterBadline},
      {"← -", TC_ASSIGN, TC_PRIMITIVE, lc::SynterBadline},
      {"→ ←", TC_BRANCH, TC_ASSIGN, lc::SynterBadline},
      {"- ←", TC_PRIMITIVE, TC_ASSIGN, lc::SynterNoarray},
      {"- )", TC_PRIMITIVE, TC_RPAREN, lc::SynterNoarray},
      {"F ←", TC_NAMEDFN, TC_ASSIGN, lc::SynterClass},
      {"F ]", TC_NAMEDFN, TC_RBRACKET, lc::Synter},
      {"2 - ¨", TC_LEFTARG, TC_EACH, lc::Synter},
      {"A →", TC_VALUE, TC_BRANCH, lc::SynterBadline},
  };
  for (const Case& c : cases) EXPECT_EQ(syntab[c.t][c.s], c.expected) << c.phrase;
  // ⎕ or ⍞ (an assignment's target) right of the dot: refused at once,
  // whatever stands left of the dot.
  for (int n : {TC_PRIMITIVE, TC_VALUE, TC_SLASH, TC_NAMEDFN, TC_EDGE})
    EXPECT_EQ(step(n, TC_DOT, TC_SPECIAL), lc::SynterBadline) << n;
  // An assignment binds only a value.
  for (int s = 0; s < 32; ++s)
    EXPECT_EQ(binding[TC_ASSIGN][s] != 0, s == TC_VALUE) << s;
}

TEST(EngineTables, PunctuationAndUnusedClassesBindNothing) {
  // Classes that never stand on top of the stack in a reduction: their
  // rows bind to nothing, and none binds beyond the 24 classes.
  for (int t : {TC_SEMICOLON, TC_INDEXLIST, TC_BOUNDDOT, TC_EDGE, TC_LPAREN, TC_RESERVED})
    for (int s = 0; s < 32; ++s) EXPECT_EQ(binding[t][s], 0) << t << " " << s;
  for (int t = 0; t < 24; ++t)
    for (int s = 24; s < 32; ++s) EXPECT_EQ(binding[t][s], 0) << t << " " << s;
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
