// Dot notation on instances (made here directly in the pool, as ⎕NEW
// will): an instance's own property values beside its class's, the growth
// of an instance on its first own value, read-only and private members,
// arrays of instances and chains through a property holding a reference.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "interpreter/engine/classes.h"
#include "interpreter/workspace/arrays.h"
#include "interpreter/workspace/heap.h"
#include "interpreter/workspace/object_pool.h"
#include "interpreter/workspace/symtab.h"
#include "test_workspace.h"

namespace zema {
namespace {

using test::first_line;

class DotInstances : public test::DefiningSession {
 protected:
  // The token of a name as the tokeniser enters it (internal characters).
  std::uint16_t token(const char* utf8) {
    const std::string name = utf8_to_internal(utf8);
    const std::uint32_t n = static_cast<std::uint32_t>(name.size());
    std::memcpy(ws() + kNameBuffer, name.data(), n);
    std::uint32_t first_free = 0, found = 0;
    if (symfnd(first_free, found, n, ws()) != 0) found = syment(first_free, n, ws());
    return static_cast<std::uint16_t>(token_of_entry(symuse(found, 0, 0, ws())));
  }
  // The variable `name` holding the references to `slots`.
  void refs(const char* name, std::initializer_list<std::uint32_t> slots) {
    const std::uint32_t n = static_cast<std::uint32_t>(slots.size());
    const std::uint32_t a = new_array(ET_OBJREF, n == 1 ? 0 : 1, &n, ws());
    std::uint32_t i = 0;
    for (std::uint32_t s : slots) wr32(ws(), array_data(a, ws()) + 4 * i++, s);
    const std::uint32_t e = entry_of_token(token(name));
    wr32(ws(), e + sym::Value, a);
    set_owner(a, e, OK_SYMBOL, ws());
    wr8(ws(), e + sym::Type, SYM_VAR);
  }
  // A new instance of the class in `cls_slot`, without own values.
  std::uint32_t instance(std::uint32_t cls_slot) {
    const std::uint32_t off = create_object_instance(pobj::HeaderSize, ws());
    wr8(ws(), off + pobj::Arch, 0);
    wr32(ws(), off + pobj::ClassSlot, cls_slot);
    wr32(ws(), off + pobj::NameSymbol, rd32(ws(), class_in_slot(cls_slot, ws()) + pobj::NameSymbol));
    return rd32(ws(), off + pobj::OwnSlot);
  }
  std::uint32_t own_values(std::uint32_t slot) { return rd32(ws(), find_object_instance(slot, ws()) + pobj::Count); }

  void SetUp() override {
    DefiningSession::SetUp();
    const std::uint16_t pt = token("PT");
    ASSERT_EQ(create_empty_class(pt, 0, 4, false, ws()), 0);
    cls = rd32(ws(), class_def_from_symidx(pt, ws()) + pobj::OwnSlot);
    ASSERT_EQ(set_named_class_property(cls, token("X"), 0, ws()), 0);
    type({"DEFAULT←7"});
    ASSERT_EQ(set_named_class_property(cls, token("Y"), rd32(ws(), entry_of("DEFAULT") + sym::Value), ws()), 0);
    ASSERT_EQ(set_member_details(cls, token("Y"), kReadOnly, ws()), 0);
    ASSERT_EQ(set_named_class_property(cls, token("Z"), 0, ws()), 0);
    ASSERT_EQ(set_member_details(cls, token("Z"), kPrivate, ws()), 0);
    a = instance(cls);
    b = instance(cls);
    refs("A", {a});
    refs("B", {b});
    refs("AB", {a, b});
  }
  void TearDown() override {
    EXPECT_TRUE(object_pool_consistent(ws()));
    EXPECT_TRUE(object_reference_counts_consistent(true, ws()));
    EXPECT_TRUE(heap_consistent(ws()));
    DefiningSession::TearDown();
  }

  std::uint32_t cls = 0, a = 0, b = 0;
};

TEST_F(DotInstances, AnInstanceGrowsOnItsFirstOwnValueAndKeepsItApart) {
  EXPECT_EQ(type({"A.X"}).substr(0, 11), "VALUE ERROR");
  EXPECT_EQ(type({"A.X←5", "A.X", "A.X←'abc'", "A.X"}), "5\nabc\n");
  EXPECT_EQ(own_values(a), 1u);  // one entry, replaced in place the second time
  EXPECT_EQ(own_values(b), 0u);
  EXPECT_EQ(type({"B.X"}).substr(0, 11), "VALUE ERROR");
  EXPECT_EQ(type({"PT.X"}).substr(0, 11), "VALUE ERROR");  // the class's own has none
  EXPECT_EQ(type({"A.Y", "B.Y"}), "7\n7\n");                 // the class's value
}

TEST_F(DotInstances, ReadOnlyAndPrivateMembersAreRefused) {
  EXPECT_EQ(first_line(type({"A.Y←1"})), "Cannot assign to read-only property");
  EXPECT_EQ(own_values(a), 0u);
  EXPECT_EQ(first_line(type({"A.Z"})), "Cannot access private class member from outside the class");
  EXPECT_EQ(first_line(type({"A.Z←1"})), "Cannot access private class member from outside the class");
  EXPECT_EQ(et(), (std::vector<int>{5, 4}));
}

TEST_F(DotInstances, ArraysOfInstancesTakeOneItemEachOrTheSameValue) {
  EXPECT_EQ(type({"AB.X←1 2", "AB.X", "A.X", "B.X"}), "1 2\n1\n2\n");
  EXPECT_EQ(type({"AB.X←⊂'ab'", "AB.X"}), " ab ab \n");
  EXPECT_EQ(first_line(type({"AB.X←1 2 3"})), "LENGTH ERROR");
  EXPECT_EQ(type({"AB.X"}), " ab ab \n");  // nothing assigned
}

TEST_F(DotInstances, AChainReadsAndAssignsThroughAPropertyHoldingAReference) {
  EXPECT_EQ(type({"A.X←B", "B.X←42", "A.X.X", "A.X.X←43", "B.X"}), "42\n43\n");
  EXPECT_EQ(rd32(ws(), find_object_instance(b, ws()) + pobj::RefCount), 3u);  // B, AB and A's property
  // Values read over an array and dropped leave the counts as they were.
  EXPECT_EQ(type({"AB.X←B", "⍴AB.X", "⍴AB.X.X"}), "2\n2\n");
  EXPECT_EQ(rd32(ws(), find_object_instance(b, ws()) + pobj::RefCount), 4u);
}

}  // namespace
}  // namespace zema
