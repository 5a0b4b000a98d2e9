// The execution engine's state loop, its tables, and taking tokens from the
// current line.
#include "interpreter/engine.h"

#include <array>
#include <cstring>
#include <string>

#include "host/charset.h"
#include "interpreter/apply.h"
#include "interpreter/assign.h"
#include "interpreter/call.h"
#include "interpreter/entry.h"
#include "interpreter/entry_errors.h"
#include "interpreter/error_path.h"
#include "interpreter/errors.h"
#include "interpreter/heap.h"
#include "interpreter/primitives/indexing.h"
#include "interpreter/primitives/structural.h"
#include "interpreter/statement_end.h"
#include "interpreter/symtab.h"
#include "interpreter/sysfns/dispatch.h"
#include "interpreter/sysvars.h"
#include "interpreter/tokeniser.h"

namespace zema {

namespace {
// Bit 0 of ⎕CS (value word of the tenth fixed symbol) allows indexing a
// numeric literal.
constexpr std::uint32_t kQuadCSValue = kSymtabStart + 9 * kSymtabEntrySize + 4;

std::array<std::uint8_t, 128> build_optran() {
  std::array<std::uint8_t, 128> t;
  t.fill(TC_INVALID);
  auto set = [&](const char* glyphs, std::uint8_t cls) {
    std::string codes = utf8_to_internal(glyphs);
    for (char c : codes) t[primitive_code(static_cast<std::uint8_t>(c)) & 0x7F] = cls;
  };
  set("⍐⍗⍇⍈⍱⍲⍒⍋⌽⍉⊖⍟⌶⍫⍎⍕!⌹<≤=>∨^≠÷,+×:¯⍺⊥∩⌊∊_⍳∘|⊤○*?⍴⌈~↓∪⍵⊃↑⊂⊢≥-⊣⍪$", TC_PRIMITIVE);
  for (std::uint8_t c : {0x67, 0x69, 0x6F}) t[c] = TC_PRIMITIVE;  // ≡ ⍷ ⌷
  set("←", TC_ASSIGN);
  set("→", TC_BRANCH);
  for (int c = 0x30; c <= 0x38; ++c) t[c] = TC_BRANCH;  // control keywords
  for (int c = 0x61; c <= 0x66; ++c) t[c] = TC_BRANCH;
  for (int c = 0x70; c <= 0x7B; ++c) t[c] = TC_BRANCH;
  set("]", TC_RBRACKET);
  set(")", TC_RPAREN);
  set(";", TC_SEMICOLON);
  set("⍀⌿/\\", TC_SLASH);
  set(".", TC_DOT);
  for (std::uint8_t c : {1, 2, 3, 4, 5, 8, 10}) t[c] = TC_CONSTANT;  // literal tags
  set("⍞⎕", TC_SPECIAL);
  t[0] = TC_EDGE;
  set("(", TC_LPAREN);
  set("[", TC_LBRACKET);
  set("¨", TC_EACH);
  return t;
}

}  // namespace

std::uint8_t optran(std::uint8_t code) {
  static const std::array<std::uint8_t, 128> table = build_optran();
  return table[code & 0x7F];
}

// By symbol type: 0, 6 → niladic; 1, 2, 9 → named function; 3, 4, 15, 16 →
// value; 5, 7 → special variable; 8 → none; 10 → derived; 11, 12 → monadic
// operator; 13, 14 → dyadic operator; 17-19 → primitive.
const std::uint8_t stran[20] = {TC_NILADIC, TC_NAMEDFN, TC_NAMEDFN, TC_VALUE,   TC_VALUE,
                                TC_SPECIAL, TC_NILADIC, TC_SPECIAL, TC_INVALID, TC_NAMEDFN,
                                TC_DERIVED, TC_MONOP,   TC_MONOP,   TC_DYOP,    TC_DYOP,
                                TC_VALUE,   TC_VALUE,   TC_PRIMITIVE, TC_PRIMITIVE, TC_PRIMITIVE};

const std::int8_t binding[24][32] = {
    {0, 2, 0, 0, 0, 0, 0, 6, 0, 9, 6, 0, 2, 2, 2, 0, 0, 0, 6, 6, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0},  // 0
    {4, 6, 0, 1, 0, 0, 0, 6, 4, 9, 7, 0, 6, 6, 6, 0, 0, 0, 6, 6, 0, 4, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0},  // 1
    {0, 2, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0},  // 2
    {0, 2, 0, 0, 0, 0, 0, 6, 0, 9, 6, 0, 2, 2, 2, 0, 0, 0, 6, 6, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0},  // 3
    {5, 5, 5, 0, 0, 0, 0, 8, 9, 9, 9, 0, 9, 9, 9, 0, 0, 0, 9, 9, 0, 5, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0},  // 4
    {9, 9, 0, 9, 0, 0, 0, 9, 9, 9, 9, 0, 9, 9, 9, 0, 0, 0, 9, 9, 0, 9, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0},  // 5
    {0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0},  // 6
    {0, 0, 0, 0, 0, 0, 0, 0, 0, 9, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0},  // 7
    {0, 2, 0, 0, 0, 0, 0, 6, 0, 9, 6, 0, 2, 2, 2, 0, 0, 0, 6, 6, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0},  // 8
    {0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0},  // 9
    {0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0},  // 10
    {8, 8, 0, 0, 0, 0, 0, 0, 8, 9, 0, 0, 0, 8, 0, 0, 0, 0, 0, 0, 0, 8, 0, 8, 0, 0, 0, 0, 0, 0, 0, 0},  // 11
    {4, 6, 0, 4, 0, 0, 0, 6, 4, 9, 6, 0, 6, 6, 6, 0, 0, 0, 6, 6, 0, 4, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0},  // 12
    {4, 6, 0, 4, 0, 0, 0, 6, 4, 9, 6, 0, 6, 6, 6, 0, 0, 0, 6, 6, 0, 4, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0},  // 13
    {4, 6, 0, 4, 0, 0, 0, 6, 4, 9, 6, 0, 6, 6, 6, 0, 0, 0, 6, 6, 0, 4, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0},  // 14
    {0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0},  // 15
    {0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0},  // 16
    {0, 0, 0, 0, 9, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0},  // 17
    {0, 0, 0, 0, 0, 0, 0, 0, 0, 9, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0},  // 18
    {0, 0, 0, 0, 0, 0, 0, 0, 0, 9, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0},  // 19
    {8, 8, 0, 0, 0, 0, 0, 0, 8, 9, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 8, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0},  // 20
    {0, 2, 0, 0, 0, 0, 0, 6, 0, 9, 6, 0, 2, 2, 2, 0, 0, 0, 6, 6, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0},  // 21
    {8, 0, 0, 0, 0, 0, 0, 0, 8, 9, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 8, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0},  // 22
    {0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0},  // 23
};
const LabelCode syntab[24][24] = {
    {lc::Nonce, lc::Xmnop, lc::SynterNoarray, lc::SynterBadline, lc::SynterBadline, lc::SynterNoarray, lc::SynterNoarray, lc::Xrdce, lc::Nonce, lc::Xaxis, lc::XprodRes, lc::Nonce, lc::Nonce, lc::Nonce, lc::Nonce, lc::Nonce, lc::Nonce, lc::Nonce, lc::Xeach, lc::Xumnop, lc::Nonce, lc::Nonce, lc::Nonce, lc::Nonce},  // 0
    {lc::Xlarg, lc::Xnest, lc::Nonce, lc::SynterBadline, lc::Nonce, lc::Nonce, lc::Syntlp, lc::Xrdce, lc::Xlarg, lc::Xindex, lc::DotNotation, lc::SynterBadline, lc::Nonce, lc::Nonce, lc::Nonce, lc::Nonce, lc::Nonce, lc::Nonce, lc::SynterBadline, lc::Xumnop, lc::Nonce, lc::Xlarg, lc::Nonce, lc::Nonce},  // 1
    {lc::SynterBadline, lc::Xasgn, lc::SynterBadline, lc::SynterBadline, lc::SynterBadline, lc::SynterBadline, lc::SynterBadline, lc::SynterBadline, lc::SynterBadline, lc::SynterBadline, lc::SynterBadline, lc::SynterBadline, lc::SynterBadline, lc::SynterBadline, lc::SynterBadline, lc::SynterBadline, lc::SynterBadline, lc::SynterBadline, lc::SynterBadline, lc::SynterBadline, lc::SynterBadline, lc::Nonce, lc::SynterBadline, lc::SynterBadline},  // 2
    {lc::Nonce, lc::Xbrnch, lc::SynterBadline, lc::SynterBadline, lc::SynterBadline, lc::SynterBadline, lc::SynterBadline, lc::SynterBadline, lc::Nonce, lc::SynterBadline, lc::SynterBadline, lc::SynterBadline, lc::Nonce, lc::Nonce, lc::Nonce, lc::Nonce, lc::Nonce, lc::Nonce, lc::SynterBadline, lc::Nonce, lc::Nonce, lc::Nonce, lc::Nonce, lc::Nonce},  // 3
    {lc::Syntlp, lc::Syntlp, lc::Syntlp, lc::Syntlp, lc::Syntlp, lc::Syntlp, lc::Syntlp, lc::Syntlp, lc::Syntlp, lc::SynterBadline, lc::Syntlp, lc::Syntlp, lc::Nonce, lc::Nonce, lc::Nonce, lc::Nonce, lc::Nonce, lc::Nonce, lc::Syntlp, lc::Syntlp, lc::Syntlp, lc::Syntlp, lc::Syntlp, lc::Nonce},  // 4
    {lc::Syntlp, lc::Syntlp, lc::Syntlp, lc::Syntlp, lc::Syntlp, lc::Syntlp, lc::Syntlp, lc::Syntlp, lc::Syntlp, lc::Syntlp, lc::Syntlp, lc::Syntlp, lc::Nonce, lc::Nonce, lc::Nonce, lc::Nonce, lc::Nonce, lc::Nonce, lc::Syntlp, lc::Syntlp, lc::Syntlp, lc::Syntlp, lc::Syntlp, lc::Nonce},  // 5
    {lc::Nonce, lc::Syntlp, lc::SynterBadline, lc::SynterBadline, lc::Syntlp, lc::Syntlp, lc::Syntlp, lc::SynterBadline, lc::Nonce, lc::SynterBadline, lc::SynterBadline, lc::SynterBadline, lc::Nonce, lc::Nonce, lc::Nonce, lc::Nonce, lc::Nonce, lc::Nonce, lc::SynterBadline, lc::Nonce, lc::Nonce, lc::Nonce, lc::Nonce, lc::Nonce},  // 6
    {lc::Nonce, lc::Syntlp, lc::SynterBadline, lc::SynterBadline, lc::SynterBadline, lc::SynterBadline, lc::SynterBadline, lc::SynterBadline, lc::Nonce, lc::Xaxis, lc::XprodRes, lc::SynterBadline, lc::Nonce, lc::Nonce, lc::Nonce, lc::Nonce, lc::Nonce, lc::Nonce, lc::Xeach, lc::Xumnop, lc::Nonce, lc::Nonce, lc::Nonce, lc::Nonce},  // 7
    {lc::Nonce, lc::Xmnfn, lc::SynterClass, lc::SynterBadline, lc::Synter, lc::Synter, lc::Synter, lc::Xrdce, lc::Nonce, lc::Xaxis, lc::XprodRes, lc::Nonce, lc::Nonce, lc::Nonce, lc::Nonce, lc::Nonce, lc::Nonce, lc::Nonce, lc::Xeach, lc::Xumnop, lc::Nonce, lc::Nonce, lc::Nonce, lc::Nonce},  // 8
    {lc::Nonce, lc::Nonce, lc::Nonce, lc::Nonce, lc::Nonce, lc::Nonce, lc::Nonce, lc::Nonce, lc::Nonce, lc::Nonce, lc::Nonce, lc::Nonce, lc::Nonce, lc::Nonce, lc::Nonce, lc::Nonce, lc::Nonce, lc::Nonce, lc::Nonce, lc::Nonce, lc::Nonce, lc::Nonce, lc::Nonce, lc::Nonce},  // 9
    {lc::Nonce, lc::Nonce, lc::Nonce, lc::Nonce, lc::Nonce, lc::Nonce, lc::Nonce, lc::Nonce, lc::Nonce, lc::Nonce, lc::Nonce, lc::Nonce, lc::Nonce, lc::Nonce, lc::Nonce, lc::Nonce, lc::Nonce, lc::Nonce, lc::Nonce, lc::Nonce, lc::Nonce, lc::Nonce, lc::Nonce, lc::Nonce},  // 10
    {lc::Xprod, lc::Xprod, lc::SynterBadline, lc::SynterBadline, lc::SynterBadline, lc::SynterBadline, lc::SynterBadline, lc::SynterBadline, lc::Xprod, lc::SynterBadline, lc::SynterBadline, lc::SynterBadline, lc::Nonce, lc::Xprod, lc::Nonce, lc::Nonce, lc::Nonce, lc::Nonce, lc::SynterBadline, lc::Xprod, lc::Xprod, lc::Xprod, lc::Nonce, lc::Xprod},  // 11
    {lc::Nonce, lc::Nonce, lc::Nonce, lc::Nonce, lc::Nonce, lc::Nonce, lc::Nonce, lc::Nonce, lc::Nonce, lc::Nonce, lc::Nonce, lc::Nonce, lc::Nonce, lc::Nonce, lc::Nonce, lc::Nonce, lc::Nonce, lc::Nonce, lc::Nonce, lc::Nonce, lc::Nonce, lc::Nonce, lc::Nonce, lc::Nonce},  // 12
    {lc::Nonce, lc::Nonce, lc::Nonce, lc::Nonce, lc::Nonce, lc::Nonce, lc::Nonce, lc::Nonce, lc::Nonce, lc::Nonce, lc::Nonce, lc::Nonce, lc::Nonce, lc::Nonce, lc::Nonce, lc::Nonce, lc::Nonce, lc::Nonce, lc::Nonce, lc::Nonce, lc::Nonce, lc::Nonce, lc::Nonce, lc::Nonce},  // 13
    {lc::Nonce, lc::Nonce, lc::Nonce, lc::Nonce, lc::Nonce, lc::Nonce, lc::Nonce, lc::Nonce, lc::Nonce, lc::Xindex, lc::Nonce, lc::Nonce, lc::Nonce, lc::Nonce, lc::Nonce, lc::Nonce, lc::Nonce, lc::Nonce, lc::Nonce, lc::Nonce, lc::Nonce, lc::Nonce, lc::Nonce, lc::Nonce},  // 14
    {lc::Nonce, lc::Nonce, lc::Nonce, lc::Nonce, lc::Nonce, lc::Nonce, lc::Nonce, lc::Nonce, lc::Nonce, lc::Nonce, lc::Nonce, lc::Nonce, lc::Nonce, lc::Nonce, lc::Nonce, lc::Nonce, lc::Nonce, lc::Nonce, lc::Nonce, lc::Nonce, lc::Nonce, lc::Nonce, lc::Nonce, lc::Nonce},  // 15
    {lc::Nonce, lc::Nonce, lc::Nonce, lc::Nonce, lc::Nonce, lc::Nonce, lc::Nonce, lc::Nonce, lc::Nonce, lc::Nonce, lc::Nonce, lc::Nonce, lc::Nonce, lc::Nonce, lc::Nonce, lc::Nonce, lc::Nonce, lc::Nonce, lc::Nonce, lc::Nonce, lc::Nonce, lc::Nonce, lc::Nonce, lc::Nonce},  // 16
    {lc::Nonce, lc::Nonce, lc::Nonce, lc::Nonce, lc::XemptyIndex, lc::Nonce, lc::Nonce, lc::Nonce, lc::Nonce, lc::Nonce, lc::Nonce, lc::Nonce, lc::Nonce, lc::Nonce, lc::Nonce, lc::Nonce, lc::Nonce, lc::Nonce, lc::Nonce, lc::Nonce, lc::Nonce, lc::Nonce, lc::Nonce, lc::Nonce},  // 17
    {lc::Nonce, lc::Nonce, lc::SynterBadline, lc::SynterBadline, lc::SynterBadline, lc::SynterBadline, lc::SynterBadline, lc::SynterBadline, lc::Nonce, lc::SynterBadline, lc::SynterBadline, lc::SynterBadline, lc::Nonce, lc::Nonce, lc::Nonce, lc::Nonce, lc::Nonce, lc::Nonce, lc::SynterBadline, lc::Nonce, lc::Nonce, lc::Nonce, lc::Nonce, lc::Nonce},  // 18
    {lc::Nonce, lc::Nonce, lc::SynterBadline, lc::SynterBadline, lc::SynterBadline, lc::SynterBadline, lc::SynterBadline, lc::SynterBadline, lc::Nonce, lc::SynterBadline, lc::SynterBadline, lc::SynterBadline, lc::Nonce, lc::Nonce, lc::Nonce, lc::Nonce, lc::Nonce, lc::Nonce, lc::SynterBadline, lc::Nonce, lc::Nonce, lc::Nonce, lc::Nonce, lc::Nonce},  // 19
    {lc::Xudyop, lc::Xudyop, lc::SynterBadline, lc::SynterBadline, lc::SynterBadline, lc::SynterBadline, lc::SynterBadline, lc::SynterBadline, lc::Xudyop, lc::SynterBadline, lc::SynterBadline, lc::SynterBadline, lc::Nonce, lc::Nonce, lc::Nonce, lc::Nonce, lc::Nonce, lc::Nonce, lc::SynterBadline, lc::Nonce, lc::Nonce, lc::Xudyop, lc::Nonce, lc::Nonce},  // 20
    {lc::Nonce, lc::XmnDerfn, lc::SynterNoarray, lc::SynterBadline, lc::SynterBadline, lc::SynterNoarray, lc::SynterNoarray, lc::Xrdce, lc::Nonce, lc::Xaxis, lc::XprodRes, lc::Nonce, lc::Nonce, lc::Nonce, lc::Nonce, lc::Nonce, lc::Nonce, lc::Nonce, lc::Xeach, lc::Xumnop, lc::Nonce, lc::Nonce, lc::Nonce, lc::Nonce},  // 21
    {lc::Xdyop, lc::Nonce, lc::SynterNoarray, lc::SynterBadline, lc::SynterBadline, lc::SynterNoarray, lc::SynterNoarray, lc::Xdyop, lc::Xdyfn, lc::Nonce, lc::SynterClass, lc::Nonce, lc::Nonce, lc::Nonce, lc::Nonce, lc::Nonce, lc::Nonce, lc::Nonce, lc::Synter, lc::Nonce, lc::Nonce, lc::XdyDerfn, lc::Nonce, lc::Nonce},  // 22
    {lc::Nonce, lc::Nonce, lc::Nonce, lc::Nonce, lc::Nonce, lc::Nonce, lc::Nonce, lc::Nonce, lc::Nonce, lc::Nonce, lc::DotNotation, lc::Nonce, lc::Nonce, lc::Nonce, lc::Nonce, lc::Nonce, lc::Nonce, lc::Nonce, lc::Nonce, lc::Nonce, lc::Nonce, lc::Nonce, lc::Nonce, lc::Nonce},  // 23
};


void resume_apl(int state, Ws ws) { throw ResumeEngine{state}; }

// ---- the token register --------------------------------------------------------

StackEntry token_register(Ws ws) { return load_entry(hdr::TokenRegister, ws); }
void set_token_register(const StackEntry& e, Ws ws) { store_entry(hdr::TokenRegister, e, ws); }

std::uint32_t find_ws_entry(std::uint32_t entry, Ws ws) {
  std::uint8_t cls = rd8(ws, entry + se::Class);
  std::uint32_t value = rd32(ws, entry + se::Value);
  if (cls & kOwnsObject) {
    if (value == 0) error(E_VALUE, 3, 1, ws);
    return value;
  }
  std::uint32_t sym = entry_of_token(value & 0xFFFF);
  if ((rd8(ws, sym + sym::Type) & kSymTypeMask) == SYM_UNDEF) error(E_VALUE, 3, 1, ws);
  return rd32(ws, sym + sym::Value);
}

void check_attention(Ws ws) {
  atntrp(ws);
  wr16(ws, hdr::AttnCountdown, rd16(ws, hdr::AttnReload));
}

// ---- taking tokens -----------------------------------------------------------------

void get_token(Ws ws) {
  wr32(ws, hdr::TokensTaken, rd32(ws, hdr::TokensTaken) + 1);
  if (rd8(ws, hdr::TokenRegister) & kOwnsObject) noncer_1(ws);
  set_token_register(null_entry, ws);
  const std::uint32_t line = current_line(ws);
  std::uint32_t cursor = rd32(ws, hdr::LineCursor) - 1;
  const std::uint8_t b = rd8(ws, line + cursor);
  const std::uint8_t before = rd8(ws, line + cursor - 1);
  const std::uint32_t value = (std::uint32_t(before) << 8) | b;
  std::uint8_t cls;
  if (b & 1) {
    cls = optran(static_cast<std::uint8_t>(b >> 1));
  } else {
    --cursor;
    std::uint8_t type = rd8(ws, entry_of_token(value) + sym::Type) & kSymTypeMask;
    cls = type < sizeof stran ? stran[type] : static_cast<std::uint8_t>(TC_INVALID);
  }
  wr32(ws, hdr::LineCursor, cursor);
  if (cls & TC_INVALID) {
    set_token_register(null_entry, ws);
    synter_class(ws);
  }
  set_token_register(StackEntry{cls, 0, value}, ws);
}

int xconfx(Ws ws) {
  const std::uint32_t line = current_line(ws);
  std::uint32_t cursor = rd32(ws, hdr::LineCursor);  // at the tag
  const std::uint8_t tag = rd8(ws, line + cursor);
  if (tag == TT_ZILDE) {
    std::uint32_t off = getspc(8, ws);  // type, rank, one shape word
    wr8(ws, off + obj::Type, ET_INT);
    wr16(ws, off + obj::Rank4, 4);
    wr32(ws, off + obj::Shape, 0);
    set_token_register(StackEntry{static_cast<std::uint8_t>(kOwnsObject | TC_VALUE), 0, off}, ws);
    return tag;
  }
  std::uint32_t at = line + cursor;
  std::uint32_t count = get_count(ws, at);
  if (tag == TT_COMMENT) {
    wr32(ws, hdr::LineCursor, at - count - line);
    get_token(ws);
    return TT_COMMENT;
  }
  std::uint8_t type;
  std::uint32_t bytes;
  switch (tag) {
    case TT_BOOL: type = ET_BOOL; bytes = ((count - 1) / 32 + 1) * 4; break;
    case TT_INT: type = ET_INT; bytes = 4 * count; break;
    case TT_FLOAT: type = ET_FLOAT; bytes = 8 * count; break;
    case TT_CHARS:
    case TT_DQ_CHARS: type = ET_CHAR; bytes = count; break;
    default: ZEMA_SYSTEM_ERROR(ws);
  }
  if (count == 0) bytes = 0;
  const std::uint32_t data_start = at - bytes - line;
  wr32(ws, hdr::LineCursor, data_start);
  const bool scalar = count == 1;
  const std::uint32_t rank4 = scalar ? 0 : 4;
  std::uint32_t off = getspc(4 + rank4 + bytes, ws);
  wr8(ws, off + obj::Type, type);
  wr16(ws, off + obj::Rank4, rank4);
  if (!scalar) wr32(ws, off + obj::Shape, count);
  if (type != ET_CHAR) wr8(ws, off + obj::Kind, rd8(ws, off + obj::Kind) | kStrandMark);
  // The line may have moved if getspc compacted: read it again.
  const std::uint32_t src = current_line(ws) + data_start;
  const std::uint32_t dst = off + obj::Shape + rank4;
  if (type == ET_CHAR) {
    std::memcpy(ws + dst, ws + src, bytes);
  } else {
    const std::uint32_t width = type == ET_FLOAT ? 8 : 4;
    for (std::uint32_t i = 0; i < bytes; i += width)
      for (std::uint32_t j = 0; j < width; ++j) ws[dst + i + j] = ws[src + i + width - 1 - j];
  }
  set_token_register(StackEntry{static_cast<std::uint8_t>(kOwnsObject | TC_VALUE), 0, off}, ws);
  return tag;
}

// ---- lines and statements ------------------------------------------------------

void linsu(std::uint32_t line, Ws ws) {
  wr32(ws, hdr::CurrentLine, line);
  set_owner(line, hdr::CurrentLine, OK_WORD, ws);
  linsusm(line, ws);
}

void linsusm(std::uint32_t line, Ws ws) {
  wr32(ws, hdr::TokensTaken, 0);
  const std::uint32_t s = line + tl::Body;
  wr8(ws, hdr::FirstTag, rd8(ws, s + get_statement_head(ws, s)));
  wr32(ws, hdr::LineCursor, get_statement_length(ws, s) + tl::Body);
  wr16(ws, hdr::State, rd16(ws, hdr::State) | st::StatementStarted);
  stack(primer, ws);
}

int do_syntlp(Ws) { return ES_NEXT_TOKEN; }

int do_xlarg(Ws ws) {
  const std::uint32_t top = stack_entry_at(0, ws);
  wr8(ws, top, (rd8(ws, top) & kOwnsObject) | TC_LEFTARG);
  return ES_BIND;
}

void popst(Ws ws) {
  if (rd8(ws, hdr::TokenRegister) & kOwnsObject) noncer_1(ws);
  StackEntry e;
  unstack(e, ws);
  set_token_register(e, ws);
  if ((e.cls & kOwnsObject) && e.value != 0) {
    wr32(ws, e.value - 4, hdr::TokenRegister);
    wr8(ws, e.value, OK_STACK);  // written whole: the strand mark goes
  }
}

namespace {

// Runs the reduce action that syntab names.
int dispatch(LabelCode code, Ws ws) {
  switch (code) {
    case lc::Syntlp: return do_syntlp(ws);
    case lc::Xlarg: return do_xlarg(ws);
    case lc::Xnest: return do_xnest(ws);
    case lc::XemptyIndex: return do_xempty_index(ws);
    case lc::Xasgn: return do_xasgn(ws);
    case lc::Xmnop: return do_xmnop(ws);
    case lc::Xdyop: return do_xdyop(ws);
    case lc::Synter: synter(ws);
    case lc::SynterBadline: synter_badline(ws);
    case lc::SynterNoarray: synter_noarray(ws);
    case lc::SynterClass: synter_class(ws);
    case lc::Valence: valence_error(ws);
    case lc::Xmnfn: return do_xmnfn(ws);
    case lc::Xdyfn: return do_xdyfn(ws);
    case lc::Xaxis: return do_xaxis(ws);
    case lc::Xindex: return do_xindex(ws);
    case lc::XmnDerfn: return do_xmn_derfn(ws);
    case lc::XdyDerfn: return do_xdy_derfn(ws);
    case lc::Xrdce:
      // A value left of / or \ makes it compress or expand; reduce and
      // scan arrive with the operators.
      if (entry_class(0, ws) == TC_VALUE) return do_xdyop(ws);
      noncer_1(ws);
    case lc::Nonce:
    // Actions whose routines arrive with branches, defined functions and
    // operators.
    case lc::Xumnop:
    case lc::Xudyop:
    case lc::Xeach:
    case lc::Xprod:
    case lc::XprodRes:
    case lc::Xbrnch:
    case lc::DotNotation: noncer_1(ws);
    default: ZEMA_SYSTEM_ERROR(ws);
  }
}

// State 9: compare bindings and reduce, shift or close brackets.
int bind_step(Ws ws) {
  const std::uint8_t t = entry_class(0, ws);
  const std::uint8_t s = entry_class(1, ws);
  const std::uint8_t n = register_class(ws);
  if (n == TC_DOT) return ES_NEXT_TOKEN;
  if (t == s) {
    if (n == TC_DYOP) return ES_NEXT_TOKEN;  // a numeric operand split arrives with defined operators
    if (s == TC_VALUE) return do_xnest(ws);
  }
  // Entries below a statement's primer (frames, operator-frame entries of
  // class 0x20) bind to nothing.
  const int bts = (t < 24 && s < 24) ? binding[t][s] : 0;
  const int bnt = (n < 24 && t < 24) ? binding[n][t] : 0;
  if (bts > bnt) return dispatch(syntab[t][s], ws);
  if (bts < bnt || bts != 0) return ES_NEXT_TOKEN;
  if (n == TC_LBRACKET) return do_xbuild_index(ws);
  if (n == TC_LPAREN) {
    if (s != TC_RPAREN) return do_xbuild_nest(ws);
    if (is_primer(1, ws)) synter_badline(ws);
    if ((rd8(ws, stack_entry_at(2, ws)) & 0x7F) != kOperatorFrame) {
      // (A): the value stands in the token register in place of the "(".
      popst(ws);
      StackEntry paren;
      unstack(paren, ws);
      return ES_BIND;
    }
    synter_badline(ws);  // operator frames arrive with the operators
  }
  if (t == TC_ASSIGN) return s < 24 ? dispatch(syntab[TC_ASSIGN][s], ws) : (synter_badline(ws), ES_BIND);
  if (n == TC_EDGE) return ES_STATEMENT_RESULT;
  if (t == TC_EDGE) synter_badline(ws);
  return ES_NEXT_TOKEN;
}

// State 10: shift the token register and take the next token.
int next_token(Ws ws) {
  check_attention(ws);
  wr8(ws, hdr::ResultBits, rd8(ws, hdr::ResultBits) & ~0x01);
  const std::uint8_t n = register_class(ws);
  const std::uint8_t t = entry_class(0, ws);
  switch (n) {
    case TC_CONSTANT: {
      if (t == TC_ASSIGN) synter_badline(ws);
      const std::uint8_t tag = rd8(ws, current_line(ws) + rd32(ws, hdr::LineCursor));
      if (t == TC_INDEXLIST && !(rd32(ws, kQuadCSValue) & 1) && tag != TT_CHARS) {
        wr32(ws, hdr::TokensTaken, rd32(ws, hdr::TokensTaken) - 1);
        error(E_RANK, 5, 2, ws);
      }
      xconfx(ws);
      return ES_AFTER_LINE;
    }
    case TC_NILADIC: {
      // After a dot the name is a member's: it is pushed like any token.
      const std::uint32_t line = current_line(ws);
      if (rd8(ws, line + rd32(ws, hdr::LineCursor) - 1) == kDotTag) break;
      if (t == TC_ASSIGN) return do_xasgn(ws);
      wr32(ws, hdr::CallingInstance, rd32(ws, hdr::CurrentInstance));
      return xnilfn(ws);
    }
    case TC_SPECIAL:
      if (t == TC_ASSIGN) return do_xasgn(ws);
      if (t != TC_INDEXLIST || entry_class(1, ws) != TC_ASSIGN) return xsvref(ws);
      // Indexed assignment into ⎕LX or ⎕FC.
      prepare_indexed_special(rd16(ws, hdr::TokenRegister + se::Value), ws);
      break;
    default: break;
  }
  xpushx(ws);
  get_token(ws);
  return ES_BIND;
}

// State 19: an empty statement ends here.
int after_line(Ws ws) {
  if (register_class(ws) != TC_EDGE) return ES_NEXT_TOKEN;
  if (!is_primer(0, ws)) synter_badline(ws);
  clrstk(ws);
  return ES_NEXT_STATEMENT;
}

}  // namespace

int eolfnx(Ws ws) {
  const std::uint32_t n = rd32(ws, hdr::FnLineNumber) + 1;
  wr32(ws, hdr::FnLineNumber, n);
  const std::uint32_t found = static_cast<std::int32_t>(n) > 0 ? xffndl(n, ws) : 0;
  if (found) {
    check_attention(ws);
    // The line runs as a copy, so that the function's own lines are never
    // consumed; the copy holds no symbol uses.
    const std::uint32_t size = rd32(ws, found + obj::Size);
    const std::uint32_t copy = getspc(size - 8, ws);
    wr32(ws, hdr::KillSlot, copy);
    set_owner(copy, hdr::KillSlot, OK_WORD, ws);
    std::memset(ws + hdr::TokenRegister, 0, 6);
    const std::uint32_t line = xffndl(n, ws);  // compaction may have moved it
    if (line == 0) ZEMA_SYSTEM_ERROR(ws);
    wr16(ws, copy + tl::CsDepth, rd16(ws, line + tl::CsDepth));
    wr8(ws, copy + tl::Marks, rd8(ws, line + tl::Marks) & 0x1A);
    std::memcpy(ws + copy + 8, ws + line + 8, size - 8);
    std::uint8_t& out = ws[hdr::OutputBits];
    if (out & 0x10) {
      out &= ~0x10;
    } else {
      const bool stop = rd8(ws, line + tl::Marks) & 0x08;
      const bool step = (rd8(ws, hdr::StepRequest) & 1) && !stop;
      if ((stop || step) && !(rd16(ws, hdr::State) & st::PassErrors)) {
        const int answer = sup_break(rd32(ws, hdr::RunningSymbol), static_cast<int>(n), stop ? 0 : 1, 0, ws);
        if (answer != 2) {
          wr16(ws, hdr::State, rd16(ws, hdr::State) | st::NotFunctionLine);
          wr8(ws, hdr::StepRequest, 0);
          return ES_STATEMENT_END;
        }
      }
    }
    if (rd8(ws, line + tl::Marks) & 0x10) out |= 0x08;
    return ES_LINE_START;
  }
  // The function ends.
  ws[hdr::OutputBits] &= ~0x10;
  const int code = xfnclr(ws);
  if (!(rd16(ws, hdr::State) & st::NotFunctionLine) && static_cast<std::int32_t>(rd32(ws, hdr::FnLineNumber)) < 0)
    noncer_1(ws);  // leaving by a branch arrives with branches
  if (code == 0 || code == 3) {
    popst(ws);
    return ES_NEXT_TOKEN;
  }
  wr32(ws, hdr::TokensTaken, rd32(ws, hdr::TokensTaken) + 1);
  return ES_BIND;
}

int syntax(int state, Ws ws) {
  for (;;) {
    switch (state) {
      case ES_APPLY_DYADIC:
        check_attention(ws);
        if (entry_class(1, ws) == TC_PRIMITIVE) {
          state = xdyop_common(0, stack_entry_at(1, ws), ws);
        } else if (entry_class(1, ws) == TC_NAMEDFN) {
          wr32(ws, hdr::CallingInstance, rd32(ws, hdr::CurrentInstance));
          state = do_xdyfn(ws);
        } else if (entry_class(1, ws) == TC_DERIVED) {
          state = do_xdy_derfn(ws);
        } else {
          noncer_1(ws);  // derived functions arrive with the operators
        }
        break;
      case ES_APPLY_MONADIC:
        check_attention(ws);
        if (entry_class(0, ws) == TC_PRIMITIVE) {
          state = do_xmnop(ws);
        } else if (entry_class(0, ws) == TC_NAMEDFN) {
          wr32(ws, hdr::CallingInstance, rd32(ws, hdr::CurrentInstance));
          state = do_xmnfn(ws);
        } else if (entry_class(0, ws) == TC_DERIVED) {
          state = do_xmn_derfn(ws);
        } else {
          noncer_1(ws);  // derived functions arrive with the operators
        }
        break;
      case ES_FINISH_APPLICATION: state = do_xmnopd(ws); break;
      case ES_APPLY_PRIMITIVE_DYADIC: state = xdyop_common(0, stack_entry_at(1, ws), ws); break;
      case ES_BIND: state = bind_step(ws); break;
      case ES_NEXT_TOKEN: state = next_token(ws); break;
      case ES_FUNCTION_LINE_END: state = eolfnx(ws); break;
      case ES_LINE_START: {
        wr8(ws, hdr::FirstTag, 0);
        wr16(ws, hdr::State, rd16(ws, hdr::State) | st::Executing);
        const std::uint32_t line = rd32(ws, hdr::KillSlot);
        wr32(ws, hdr::KillSlot, 0);
        linsu(line, ws);
        state = ES_STATEMENT_START;
        break;
      }
      case ES_STATEMENT_START:
        wr8(ws, hdr::FirstTag, 0);
        wr16(ws, hdr::AttnCountdown, 1024);
        wr16(ws, hdr::AttnReload, 1024);
        get_token(ws);
        state = ES_AFTER_LINE;
        break;
      case ES_STATEMENT_END: state = eol(ws); break;
      case ES_NEXT_STATEMENT: {
        std::uint32_t next = 0;
        if (!eolck(&next, ws)) {
          state = ES_STATEMENT_END;
          break;
        }
        wr32(ws, hdr::LineCursor, next);
        wr32(ws, hdr::TokensTaken, 0);
        wr16(ws, hdr::State, rd16(ws, hdr::State) | st::StatementStarted);
        wr32(ws, hdr::StackPointer, rd32(ws, hdr::StackPointer) - kStackEntrySize);
        state = ES_STATEMENT_START;
        break;
      }
      case ES_STATEMENT_RESULT: state = xrsltp(ws); break;
      case ES_LEAVE:
        wr16(ws, hdr::State, rd16(ws, hdr::State) & ~st::Executing);
        return crlm(0, ws);
      case ES_AFTER_LINE: state = after_line(ws); break;
      default: ZEMA_SYSTEM_ERROR(ws);
    }
  }
}

}  // namespace zema
