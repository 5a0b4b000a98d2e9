// Overstrikes, ⎕TR, the case and terminal tables and menu names: their
// invariants over whole tables and the listed cases.
#include <gtest/gtest.h>

#include <string>

#include "host/char_tables.h"
#include "host/charset.h"

namespace zema {
namespace {

std::uint8_t code(const char* utf8) {
  const std::string s = utf8_to_internal(utf8);
  EXPECT_EQ(s.size(), 1u) << utf8;
  return static_cast<std::uint8_t>(s[0]);
}

TEST(HostCharTables, OverstrikesInBothOrders) {
  struct Case {
    const char *a, *b, *result;
  } cases[] = {{"∆", "|", "⍋"}, {"~", "0", "⍬"}, {"⎕", "'", "⍞"}, {"A", "_", "a"}, {"Z", "_", "z"},
               {"⋄", "⋄", "⋄"}, {" ", "⍕", "⍕"}, {"∨", "^", "⋄"}, {"<", ">", "⋄"}, {"[", "]", "⌷"}};
  for (const Case& c : cases) {
    EXPECT_EQ(ovstin(code(c.a), code(c.b)), code(c.result)) << c.a << c.b;
    EXPECT_EQ(ovstin(code(c.b), code(c.a)), code(c.result)) << c.b << c.a;
  }
  EXPECT_EQ(ovstin(code("⍺"), code("⍵")), 0);
}

TEST(HostCharTables, EveryOverstrikeIsSymmetricAndMadeOfTwoCharacters) {
  for (const auto& row : overstrikes) {
    EXPECT_NE(row[0], row[1]);
    EXPECT_NE(row[0], 0x20);
    EXPECT_NE(row[1], 0x20);
    // The first row holding the pair gives the result, in either order.
    EXPECT_EQ(ovstin(row[0], row[1]), ovstin(row[1], row[0]));
    EXPECT_NE(ovstin(row[0], row[1]), 0);
  }
}

TEST(HostCharTables, CaseTablesAreInverseOnTheirPairs) {
  int pairs = 0;
  for (int c = 0; c < 256; ++c) {
    const std::uint8_t small = apl_lowercase_table[c];
    if (small == c) continue;
    ++pairs;
    EXPECT_TRUE(apl_is_uppercase_table[c] || c == 0xD8) << c;
    if (c != 0xD8) {
      EXPECT_EQ(apl_uppercase_table[small], c) << c;
    }
  }
  EXPECT_EQ(pairs, 26 + 15);
  EXPECT_EQ(apl_lowercase_table[0xB5], 0xAE);  // Ö
  EXPECT_EQ(apl_uppercase_table[0xD9], 0xD9);  // ø
  EXPECT_EQ(apl_is_uppercase_table[0xD7], 1);
  EXPECT_EQ(apl_is_uppercase_table[0xD8], 0);
  EXPECT_EQ(non_printing_quad_av[0x0D], 1);
  EXPECT_EQ(non_printing_quad_av[0x20], 0);
}

TEST(HostCharTables, TerminalTable) {
  EXPECT_EQ(ttrin(0x01), 0x81);
  EXPECT_EQ(ttrin(0x0D), 0x0D);
  EXPECT_EQ(ttrin(0x48), 0x7B);
  EXPECT_EQ(ttrin(0x7F), 0xFF);
  EXPECT_EQ(ttrout(0x00), 0x80);
  EXPECT_EQ(ttrout(0x05), 0x20);
  EXPECT_EQ(ttrout(0x7F), 0x7D);
  EXPECT_EQ(ttrout(128 + 0x05), 0x05);  // the print section
  EXPECT_EQ(ttrout(128 + 0x0D), 0x0A);
  EXPECT_EQ(ttrin(128 + 0x41), 0x41);
}

TEST(HostCharTables, QuadTrAndMenuNames) {
  char out[4] = {1, 1, 1, 1};
  EXPECT_EQ(quadtr("ab", out, 2, 0), 12);
  EXPECT_EQ(out[0], 1);
  EXPECT_EQ(quadtr("ab", out, 0, 1), 0);
  ASSERT_EQ(quadtr("A", out, 1, 1), 0);
  EXPECT_EQ(static_cast<std::uint8_t>(out[0]), fontin('A'));
  EXPECT_EQ(munge_name_for_menu(std::string(150, 'x').c_str()).size(), 100u);
  EXPECT_EQ(unmunge_name_from_menu("&File"), "File");
  const std::string name = {'A', static_cast<char>(fontout(0x7B)), static_cast<char>(fontout(0xFB))};
  EXPECT_EQ(munge_name_for_menu(name.c_str()), "A^#");
  EXPECT_EQ(unmunge_name_from_menu("A^#"), name);
}

}  // namespace
}  // namespace zema
