// Members made in class-definition mode: ∇ definitions filed as methods
// (kind, the header line owned by the member entry, the name's uses),
// property lines evaluated into values with their access flags, and the
// workspace staying consistent after each.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <string>

#include "host/charset.h"
#include "interpreter/engine/class_methods.h"
#include "interpreter/engine/classes.h"
#include "interpreter/engine/function_object.h"
#include "interpreter/session/class_definition.h"
#include "interpreter/workspace/arrays.h"
#include "interpreter/workspace/heap.h"
#include "interpreter/workspace/object_pool.h"
#include "interpreter/workspace/symtab.h"
#include "test_workspace.h"

namespace zema {
namespace {

class ClassMembers : public test::DefiningSession {
 protected:
  void SetUp() override {
    DefiningSessionOn::SetUp();
    install_class_definition_routes();
  }

  std::uint16_t token_of(const char* utf8) {
    const std::string n = utf8_to_internal(utf8);
    std::memcpy(ws() + kNameBuffer, n.data(), n.size());
    std::uint32_t free_entry = 0, found = 0;
    if (symfnd(free_entry, found, static_cast<std::uint32_t>(n.size()), ws()) != 0) return 0;
    return static_cast<std::uint16_t>(token_of_table_offset(found));
  }
  std::uint16_t uses_of(const char* utf8) {
    const std::uint16_t t = token_of(utf8);
    return t ? rd16(ws(), entry_of_token(t) + sym::Uses) : 0;
  }
  std::uint32_t class_slot(const char* utf8) {
    const std::uint32_t cls = class_def_from_symidx(token_of(utf8), ws());
    return cls ? rd32(ws(), cls + pobj::OwnSlot) : 0;
  }
  MemberRef member(const char* cls, const char* name) {
    return internal_class_member(token_of(name), class_slot(cls), ws());
  }
  // The member's value as the display shows it.
  std::string shown(const char* cls, const char* name) {
    const MemberRef m = member(cls, name);
    if (m.value == 0) return "(none)";
    const std::uint32_t v = m.value;
    if (array_type(v, ws()) == ET_INT) {
      std::string out;
      for (std::uint32_t i = 0; i < array_count(v, ws()); ++i)
        out += (i ? " " : "") + std::to_string(rdi32(ws(), array_data(v, ws()) + 4 * i));
      return out;
    }
    if (array_type(v, ws()) == ET_CHAR)
      return internal_to_utf8(
          std::string(reinterpret_cast<const char*>(ws() + array_data(v, ws())), array_count(v, ws())));
    return "type " + std::to_string(array_type(v, ws()));
  }
  void expect_consistent() {
    EXPECT_TRUE(heap_consistent(ws()));
    EXPECT_TRUE(object_pool_consistent(ws()));
  }
};

TEST_F(ClassMembers, MethodsAreMembersOwningTheirLines) {
  EXPECT_EQ(type({"∇Point;Hide {", "∇Z←L Move R", "Z←L+R", "∇", "∇Hide", "1", "2", "∇", "∇Reset R", "R", "∇",
                  "}"}),
            "[1]   [2]   [1]   [2]   [3]   [1]   [2]   ");
  struct Case {
    const char* name;
    std::uint8_t kind;
    std::uint8_t access;
    int body_lines;
  } cases[] = {{"Move", SYM_FN2, 0, 1}, {"Hide", SYM_FN0, kPrivate, 2}, {"Reset", SYM_FN1, 0, 1}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const MemberRef m = member("Point", c.name);
    ASSERT_EQ(m.kind, c.kind);
    EXPECT_EQ(m.access, c.access);
    ASSERT_NE(m.value, 0u);
    // The header line, owned by the member entry's value word.
    EXPECT_TRUE(rd8(ws(), m.value + fnl::Marks) & fnmark::Header);
    EXPECT_EQ(rd8(ws(), m.value) & 0x0F, OK_WORD);
    const std::uint32_t cls = class_def_from_symidx(token_of("Point"), ws());
    const int i = own_member_index(cls, token_of(c.name), ws());
    ASSERT_GE(i, 0);
    EXPECT_EQ(rd32(ws(), m.value - 4), cls + pobj::Entries + mentry::Size * static_cast<std::uint32_t>(i) + mentry::Value);
    int n = 0;
    for (std::uint32_t l = rd32(ws(), m.value + fnl::Next); l; l = rd32(ws(), l + fnl::Next)) ++n;
    EXPECT_EQ(n, c.body_lines);
    // No workspace function of that name: the name's symbol has no value.
    EXPECT_EQ(rd8(ws(), entry_of_token(token_of(c.name)) + sym::Type) & kSymTypeMask, SYM_UNDEF);
  }
  // Move's uses: the member entry and the header line's name.
  EXPECT_EQ(uses_of("Move"), 2);
  EXPECT_FALSE(state_has(st::Defining, ws()));
  EXPECT_EQ(rd32(ws(), hdr::ClassDefining), 0u);
  expect_consistent();
}

TEST_F(ClassMembers, EditingRenamingAndErasingAMethod) {
  type({"∇Point {", "∇Z←Move R", "Z←R", "∇", "x←0", "}"});
  // Reopened: ∇Move opens the method, [0] renames it with its body kept.
  EXPECT_EQ(type({"∇Point {", "∇Move", "[0]Z←Go R", "[2]Z←Z+1", "∇", "}"}), "[2]   [2]   [3]   ");
  EXPECT_EQ(member("Point", "Move").kind, 0xFF);
  const MemberRef go = member("Point", "Go");
  ASSERT_EQ(go.kind, SYM_FN1);
  int n = 0;
  for (std::uint32_t l = rd32(ws(), go.value + fnl::Next); l; l = rd32(ws(), l + fnl::Next)) ++n;
  EXPECT_EQ(n, 2);
  EXPECT_EQ(uses_of("Move"), 0);  // the old name's entry is gone
  // A method may not take a property's name, nor clash on renaming.
  EXPECT_EQ(type({"∇Point {", "∇Z←x R", "∇Go", "[0]Z←x R", "∇", "}"}), "DEFN ERROR\n[3]   DEFN ERROR\n");
  EXPECT_EQ(member("Point", "x").kind, SYM_VAR);
  EXPECT_EQ(member("Point", "Go").kind, SYM_FN1);
  // Taking the member out releases the whole function with its uses.
  ASSERT_EQ(delete_class_member(token_of("Point"), token_of("Go"), ws()), 0);
  EXPECT_EQ(uses_of("Go"), 0);
  force_gcol(ws());
  expect_consistent();
}

TEST_F(ClassMembers, AValueLessPropertyBecomesAMethodAndAClassReleasesItsMethods) {
  type({"∇Point {", "{f}", "∇f", "1", "∇", "}"});
  const MemberRef f = member("Point", "f");
  EXPECT_EQ(f.kind, SYM_FN0);
  EXPECT_EQ(f.access, kClassWide);  // the flags set by {f} stay
  // Replacing the class by an empty one in its slot frees the method.
  const std::uint32_t heap_before = rd32(ws(), hdr::HeapTop);
  ASSERT_EQ(create_empty_class(token_of("Point"), 0, 1, true, ws()), 0);
  force_gcol(ws());
  EXPECT_LT(rd32(ws(), hdr::HeapTop), heap_before);
  EXPECT_EQ(uses_of("f"), 0);
  expect_consistent();
}

TEST_F(ClassMembers, PropertyLinesGiveValuesAndFlags) {
  EXPECT_EQ(type({"A←10", "∇Point {", "x←A+⍳3", "y←←'ab','c'", "{n←⍴⍳4}", "{r←←A} ⍝ note", "q←'it''s'",
                  "}"}),
            "");
  struct Case {
    const char* name;
    std::uint8_t access;
    const char* value;
  } cases[] = {
      {"x", 0, "11 12 13"},      {"y", kReadOnly, "abc"},         {"n", kClassWide, "4"},
      {"r", kClassWide | kReadOnly, "10"}, {"q", 0, "it's"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const MemberRef m = member("Point", c.name);
    EXPECT_EQ(m.kind, SYM_VAR);
    EXPECT_EQ(m.access, c.access);
    EXPECT_EQ(shown("Point", c.name), c.value);
  }
  // The expression's answer leaves nothing behind in the symbol table.
  EXPECT_EQ(token_of(" "), 0);
  expect_consistent();
}

TEST_F(ClassMembers, APropertyExpressionThatFailsLeavesTheModeOpenAndTheClassAsItWas) {
  const std::string out = type({"∇Point {", "x←5", "x←1÷0", "y←", "z←⍳", "x←←undefined", "w←→", "}"});
  const std::string bad = "Class defn error: Expression did not yield valid result\n";
  EXPECT_EQ(out, bad + bad + bad + bad + bad);
  EXPECT_EQ(shown("Point", "x"), "5");
  EXPECT_EQ(member("Point", "x").access, 0);
  for (const char* n : {"y", "z", "w"}) EXPECT_EQ(member("Point", n).kind, 0xFF) << n;
  EXPECT_EQ(rd32(ws(), hdr::ClassDefining), 0u);
  EXPECT_EQ(type({"1+1"}), "2\n");
  expect_consistent();
}

TEST_F(ClassMembers, APropertyNamedLikeAMethodIsRefusedAndTheMethodKept) {
  EXPECT_EQ(type({"∇Point {", "∇f", "1", "∇", "f←2", "}"}), "[1]   [2]   Class defn error: Error assigning data to property\n");
  EXPECT_EQ(member("Point", "f").kind, SYM_FN0);
  expect_consistent();
}

}  // namespace
}  // namespace zema
