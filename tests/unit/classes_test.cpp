// Classes in the object pool: creation and reopening, members found
// through the parent chain, property values copied with their references
// counted, member removal, deletion and release of a class.
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

using test::TestWorkspace;

// A short name entered as the tokeniser does (one use); answers its token.
std::uint16_t token(Ws ws, const char* name) {
  const std::uint32_t n = static_cast<std::uint32_t>(std::strlen(name));
  std::memcpy(ws + kNameBuffer, name, n);
  std::uint32_t first_free = 0, found = 0;
  if (symfnd(first_free, found, n, ws) != 0) found = syment(first_free, n, ws);
  return static_cast<std::uint16_t>(token_of_entry(symuse(found, 0, 0, ws)));
}

std::uint32_t slot_of_class(std::uint16_t name, Ws ws) {
  const std::uint32_t cls = class_def_from_symidx(name, ws);
  return cls ? rd32(ws, cls + pobj::OwnSlot) : 0;
}

// A value held as a variable's (so that it has an owner to be found by).
std::uint32_t variable(Ws ws, std::uint16_t name, std::uint32_t array) {
  const std::uint32_t e = entry_of_token(name);
  wr32(ws, e + sym::Value, array);
  set_owner(array, e, OK_SYMBOL, ws);
  wr8(ws, e + sym::Type, SYM_VAR);
  return array;
}

class Classes : public ::testing::Test {
 protected:
  TestWorkspace t;
  Ws ws = t.ws();
  std::uint16_t pt = token(ws, "PT"), ch = token(ws, "CH"), x = token(ws, "X"), y = token(ws, "Y"),
                v = token(ws, "V");
};

TEST_F(Classes, CreationNamesTheClassAndChecksParentsAndNames) {
  ASSERT_EQ(create_empty_class(pt, 0, 2, false, ws), 0);
  const std::uint32_t cls = class_def_from_symidx(pt, ws);
  ASSERT_NE(cls, 0u);
  EXPECT_EQ(rd8(ws, entry_of_token(pt) + sym::Type) & kSymTypeMask, SYM_CLASS);
  EXPECT_EQ(rd32(ws, cls + pobj::RefCount), 1u);
  EXPECT_EQ(rd32(ws, cls + pobj::NameSymbol), pt * 8u);
  EXPECT_EQ(rd8(ws, cls) & 0x0F, OK_CLASS);
  EXPECT_EQ(create_empty_class(ch, x, 2, false, ws), 12);  // X is no class
  ASSERT_EQ(create_empty_class(ch, pt, 2, false, ws), 0);
  EXPECT_EQ(rd32(ws, class_def_from_symidx(ch, ws) + pobj::ParentSlot), slot_of_class(pt, ws));
  EXPECT_EQ(create_empty_class(pt, ch, 2, false, ws), 12);  // another parent
  EXPECT_EQ(create_empty_class(ch, pt, 2, false, ws), 0);   // the same one
  variable(ws, v, new_int_scalar(1, ws));
  EXPECT_EQ(create_empty_class(v, 0, 2, false, ws), 12);  // a name in use
  EXPECT_TRUE(object_pool_consistent(ws));
  EXPECT_TRUE(heap_consistent(ws));
}

TEST_F(Classes, MembersAreFoundThroughParentsAndHiddenByChildren) {
  ASSERT_EQ(create_empty_class(pt, 0, 1, false, ws), 0);
  ASSERT_EQ(create_empty_class(ch, pt, 1, false, ws), 0);
  const std::uint32_t ps = slot_of_class(pt, ws), cs = slot_of_class(ch, ws);
  const std::uint32_t one = variable(ws, v, new_int_scalar(7, ws));
  ASSERT_EQ(set_named_class_property(ps, x, one, ws), 0);
  ASSERT_EQ(set_named_class_property(ps, y, 0, ws), 0);  // grows the class: room was 1
  ASSERT_EQ(set_member_details(ps, y, kClassWide | kReadOnly, ws), 0);
  EXPECT_EQ(set_member_details(ps, v, 0, ws), 28);

  MemberRef m = internal_class_member(x, cs, ws);
  ASSERT_EQ(m.kind, SYM_VAR);
  EXPECT_EQ(m.owner, ps);
  EXPECT_NE(m.value, one);  // a copy
  EXPECT_EQ(rd32(ws, m.value + obj::Shape), 7u);
  m = internal_class_member(y, cs, ws);
  EXPECT_EQ(m.kind, SYM_UNDEF);
  EXPECT_EQ(m.access, kClassWide | kReadOnly);

  ASSERT_EQ(set_named_class_property(cs, x, 0, ws), 0);  // the child's own x hides the parent's
  EXPECT_EQ(internal_class_member(x, cs, ws).owner, cs);
  ASSERT_EQ(delete_class_member(ch, x, ws), 0);  // and removing it uncovers it
  EXPECT_EQ(internal_class_member(x, cs, ws).owner, ps);
  EXPECT_EQ(delete_class_member(ch, x, ws), 28);
  EXPECT_EQ(internal_class_member(v, cs, ws).kind, 0xFF);
  EXPECT_TRUE(object_pool_consistent(ws));
  EXPECT_TRUE(heap_consistent(ws));
  force_gcol(ws);
  EXPECT_EQ(rd32(ws, internal_class_member(x, cs, ws).value + obj::Shape), 7u);
}

TEST_F(Classes, APropertyHoldingAReferenceCountsIt) {
  ASSERT_EQ(create_empty_class(pt, 0, 1, false, ws), 0);
  ASSERT_EQ(create_empty_class(ch, 0, 1, false, ws), 0);
  const std::uint32_t ps = slot_of_class(pt, ws), cs = slot_of_class(ch, ws);
  // CH's own reference (its name's value), copied into a property of PT.
  ASSERT_EQ(set_named_class_property(ps, x, rd32(ws, entry_of_token(ch) + sym::Value), ws), 0);
  EXPECT_EQ(rd32(ws, class_in_slot(cs, ws) + pobj::RefCount), 2u);
  ASSERT_EQ(set_named_class_property(ps, x, 0, ws), 0);  // the value goes, and its reference
  EXPECT_EQ(rd32(ws, class_in_slot(cs, ws) + pobj::RefCount), 1u);
}

TEST_F(Classes, ReplacingWithTheEmptyFlagKeepsTheSlotAndDropsMembers) {
  ASSERT_EQ(create_empty_class(pt, 0, 2, false, ws), 0);
  const std::uint32_t ps = slot_of_class(pt, ws);
  ASSERT_EQ(set_named_class_property(ps, x, 0, ws), 0);
  const std::uint16_t uses = rd16(ws, entry_of_token(x) + sym::Uses);
  ASSERT_EQ(create_empty_class(pt, 0, 2, false, ws), 0);  // kept
  EXPECT_EQ(rd32(ws, class_in_slot(ps, ws) + pobj::Count), 1u);
  ASSERT_EQ(create_empty_class(pt, 0, 2, true, ws), 0);  // replaced
  EXPECT_EQ(slot_of_class(pt, ws), ps);
  EXPECT_EQ(rd32(ws, class_in_slot(ps, ws) + pobj::Count), 0u);
  EXPECT_EQ(rd16(ws, entry_of_token(x) + sym::Uses), uses - 1);
  EXPECT_TRUE(object_pool_consistent(ws));
  EXPECT_TRUE(heap_consistent(ws));
}

TEST_F(Classes, ADeletedClassHidesItsMembersAndGoesWithItsLastReference) {
  ASSERT_EQ(create_empty_class(pt, 0, 1, false, ws), 0);
  const std::uint32_t ps = slot_of_class(pt, ws);
  ASSERT_EQ(set_named_class_property(ps, x, 0, ws), 0);
  mark_class_as_deleted(pt, ws);
  EXPECT_EQ(internal_class_member(x, ps, ws).kind, 0xFF);
  // Erasing the name releases its reference, the last one.
  const std::uint32_t e = entry_of_token(pt);
  const std::uint32_t ref = rd32(ws, e + sym::Value);
  wr32(ws, e + sym::Value, 0);
  wr8(ws, e + sym::Type, SYM_UNDEF);
  mgarb(ref, ws);
  EXPECT_EQ(find_object_instance(ps, ws), 0u);
  EXPECT_TRUE(object_pool_consistent(ws));
  EXPECT_TRUE(heap_consistent(ws));
}

}  // namespace
}  // namespace zema
