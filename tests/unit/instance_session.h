// A session with the class PT (properties X, Y read-only with the value
// 7, Z private) and two of its instances made directly in the pool, named
// A, B and AB (both); the pool, the exact reference counts and the heap
// are checked after each test.
#pragma once

#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "interpreter/engine/classes.h"
#include "interpreter/workspace/arrays.h"
#include "interpreter/workspace/heap.h"
#include "interpreter/workspace/object_pool.h"
#include "interpreter/workspace/symtab.h"
#include "test_workspace.h"

namespace zema::test {

class InstanceSession : public DefiningSession {
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
    DefiningSessionOn::SetUp();
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
    DefiningSessionOn::TearDown();
  }


  std::uint32_t cls = 0, a = 0, b = 0;
  std::uint32_t count(std::uint32_t slot) { return rd32(ws(), find_object_instance(slot, ws()) + pobj::RefCount); }
};

}  // namespace zema::test
