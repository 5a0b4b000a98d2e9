// The host's routines on classes by name: members through the parents,
// properties set and refused, access flags, reparenting, erasure, the
// class text; and their lock, taken from another thread.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstring>
#include <string>
#include <thread>

#include "interpreter/engine/classes.h"
#include "interpreter/session/class_definition.h"
#include "interpreter/sysfns/class_access.h"
#include "interpreter/workspace/arrays.h"
#include "interpreter/workspace/heap.h"
#include "interpreter/workspace/object_pool.h"
#include "test_workspace.h"

namespace zema {
namespace {

namespace ca = class_access;

std::string in(const char* utf8) { return utf8_to_internal(utf8); }

class ClassAccess : public test::DefiningSession {
 protected:
  void SetUp() override {
    DefiningSessionOn::SetUp();
    install_class_definition_routes();
    lex_routes().class_close = close_class_definition;
    // Shape has `area`; Pt : Shape has x, a private `sec`, a value v and
    // a method Move.
    type({"∇Shape {", "area", "}", "∇Pt:Shape;sec {", "x", "sec", "}", "v←1 2 3", "∇Z←Move R", "Z←R+1", "∇",
          "'Pt' ⎕IC 2 4⍴'v   Move'"});
    ASSERT_NE(class_def_from_symidx(token("Pt"), ws()), 0u);
  }
  std::uint16_t token(const char* utf8) const { return static_cast<std::uint16_t>(token_of_entry(entry_of(utf8))); }
  void consistent() {
    EXPECT_TRUE(heap_consistent(ws()));
    EXPECT_TRUE(object_pool_consistent(ws()));
  }
};

TEST_F(ClassAccess, MembersAreFoundInAncestorsOnlyWhenAsked) {
  std::uint8_t kind = 0;
  EXPECT_EQ(ca::get_named_class_member(in("Pt"), in("area"), &kind, false, ws()), nullptr);
  EXPECT_EQ(kind, 0xFF);
  EXPECT_EQ(ca::get_named_class_member(in("Pt"), in("area"), &kind, true, ws()), nullptr);
  EXPECT_EQ(kind, SYM_VAR);  // found, a property without value
  const std::uint8_t* v = ca::get_named_class_member(in("Pt"), in("v"), &kind, false, ws());
  ASSERT_NE(v, nullptr);
  EXPECT_EQ(kind, SYM_VAR);
  const auto off = static_cast<std::uint32_t>(v - ws());
  EXPECT_EQ(array_count(off, ws()), 3u);
  EXPECT_EQ(rdi32(ws(), array_data(off, ws()) + 8), 3);
  EXPECT_NE(ca::get_named_class_member(in("Pt"), in("Move"), &kind, true, ws()), nullptr);
  EXPECT_EQ(kind, SYM_FN1);
  EXPECT_EQ(ca::get_named_class_member(in("nosuch"), in("x"), &kind, true, ws()), nullptr);
  EXPECT_EQ(kind, 0xFF);
  EXPECT_EQ(ca::get_named_class_member(in("Pt"), std::string(31, 'x'), &kind, true, ws()), nullptr);
}

TEST_F(ClassAccess, PropertiesAreSetCopiedOrRefused) {
  type({"w←'abc'"});
  const std::uint8_t* w = ws() + rd32(ws(), entry_of("w") + sym::Value);
  EXPECT_EQ(ca::set_named_class_property(in("Pt"), in("fresh"), w, ws()), 0);  // a new name
  std::uint8_t kind = 0;
  const std::uint8_t* got = ca::get_named_class_member(in("Pt"), in("fresh"), &kind, false, ws());
  ASSERT_NE(got, nullptr);
  EXPECT_NE(got, ws() + rd32(ws(), entry_of("w") + sym::Value));  // a copy
  const auto off = static_cast<std::uint32_t>(got - ws());
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(ws() + array_data(off, ws())), 3), in("abc"));
  // No value: kind 3, no address.
  EXPECT_EQ(ca::set_named_class_property(in("Pt"), in("v"), nullptr, ws()), 0);
  EXPECT_EQ(ca::get_named_class_member(in("Pt"), in("v"), &kind, false, ws()), nullptr);
  EXPECT_EQ(kind, SYM_VAR);
  // A method stays a method.
  EXPECT_EQ(ca::set_named_class_property(in("Pt"), in("Move"), w, ws()), 12);
  EXPECT_NE(ca::get_named_class_member(in("Pt"), in("Move"), &kind, false, ws()), nullptr);
  EXPECT_EQ(kind, SYM_FN1);
  EXPECT_EQ(ca::set_named_class_property(in("nosuch"), in("y"), nullptr, ws()), 12);
  EXPECT_EQ(ca::set_named_class_property(in("Pt"), std::string(31, 'y'), nullptr, ws()), 12);
  EXPECT_EQ(ca::set_named_class_property(in("Pt"), in("y"), ws() + 8, ws()), 12);  // not a heap array
  EXPECT_EQ(entry_of("y"), 0u);  // refused names leave no entry
  consistent();
}

TEST_F(ClassAccess, AccessFlagsByCombinedName) {
  EXPECT_EQ(ca::get_member_details(in("Pt.sec"), ws()), kPrivate);
  EXPECT_EQ(ca::get_member_details(in("Pt.x"), ws()), 0);
  EXPECT_EQ(ca::get_member_details(in("Pt"), ws()), 0);
  EXPECT_EQ(ca::set_member_details(in("Pt"), kReadOnly, ws()), 12);
  EXPECT_EQ(ca::set_member_details(in("nosuch.x"), kReadOnly, ws()), 12);
  EXPECT_EQ(ca::set_member_details(in("Pt.nosuch"), kReadOnly, ws()), 28);
  EXPECT_EQ(ca::set_member_details(in("Pt.area"), kReadOnly, ws()), 28);  // the parent's
  EXPECT_EQ(ca::set_member_details(in("Pt.") + std::string(31, 'x'), kReadOnly, ws()), 20);
  const std::uint32_t before = rd32(ws(), class_def_from_symidx(token("Pt"), ws()) + pobj::Stamp + 4);
  EXPECT_EQ(ca::set_member_details(in("Pt.v"), 0xFF, ws()), 0);
  EXPECT_EQ(ca::get_member_details(in("Pt.v"), ws()), 7);
  EXPECT_GE(rd32(ws(), class_def_from_symidx(token("Pt"), ws()) + pobj::Stamp + 4), before);
  // The text shows them: read-only, class-wide and private.
  const std::string text = ca::get_class_text(in("Pt"), ws());
  EXPECT_NE(text.find(in("{v←←1 2 3}")), std::string::npos) << internal_to_utf8(text);
  EXPECT_EQ(text.substr(0, text.find('\r')), in("Pt : Shape; sec;v {"));
}

TEST_F(ClassAccess, ReparentingRefusesCycles) {
  type({"∇Kid:Pt {}"});
  const std::uint32_t shape_slot = rd32(ws(), class_def_from_symidx(token("Shape"), ws()) + pobj::OwnSlot);
  EXPECT_EQ(ca::reparent_named_class(in("Shape"), in("Kid"), ws()), 12);  // under its descendant
  EXPECT_EQ(ca::reparent_named_class(in("Shape"), in("Shape"), ws()), 12);
  EXPECT_EQ(rd32(ws(), class_def_from_symidx(token("Shape"), ws()) + pobj::ParentSlot), 0u);
  EXPECT_EQ(ca::reparent_named_class(in("nosuch"), in("Shape"), ws()), 28);
  EXPECT_EQ(ca::reparent_named_class(in("Kid"), in("nosuch"), ws()), 28);
  EXPECT_EQ(ca::reparent_named_class(in("Kid"), in("Shape"), ws()), 0);
  EXPECT_EQ(rd32(ws(), class_def_from_symidx(token("Kid"), ws()) + pobj::ParentSlot), shape_slot);
  EXPECT_EQ(ca::reparent_named_class(in("Pt"), {}, ws()), 0);
  std::uint8_t kind = 0;
  ca::get_named_class_member(in("Pt"), in("area"), &kind, true, ws());
  EXPECT_EQ(kind, 0xFF);  // no longer inherited
}

TEST_F(ClassAccess, ErasingMembersFreesMethodLines) {
  // Every line of the method is freed: the heap shrinks by all of them.
  std::uint8_t kind = 0;
  const std::uint32_t header =
      static_cast<std::uint32_t>(ca::get_named_class_member(in("Pt"), in("Move"), &kind, false, ws()) - ws());
  std::uint32_t lines = 0;
  for (std::uint32_t l = header; l != 0; l = rd32(ws(), l + 8)) lines += rd32(ws(), l + obj::Size) + 4;
  force_gcol(ws());
  const std::uint32_t top = rd32(ws(), hdr::HeapTop);
  EXPECT_EQ(ca::erase_named_member(in("Pt"), in("Move"), ws()), 0);
  force_gcol(ws());
  EXPECT_GE(top - rd32(ws(), hdr::HeapTop), lines);
  EXPECT_EQ(ca::erase_named_member(in("Pt"), in("Move"), ws()), 28);
  EXPECT_EQ(ca::erase_named_member(in("Pt"), in("unheard"), ws()), 28);
  EXPECT_EQ(ca::erase_named_member(in("v"), in("x"), ws()), 12);  // a name, but no class
  EXPECT_EQ(ca::erase_named_member(std::string(31, 'P'), in("x"), ws()), 12);
  EXPECT_EQ(ca::erase_named_member(in("Pt"), in("x"), ws()), 0);
  ca::get_named_class_member(in("Pt"), in("x"), &kind, false, ws());
  EXPECT_EQ(kind, 0xFF);
  force_gcol(ws());
  consistent();
}

TEST_F(ClassAccess, TheTextIsThatOfCr) {
  type({"t←1 ⎕CR 'Pt'"});
  const std::uint32_t t = rd32(ws(), entry_of("t") + sym::Value);
  const std::string cr(reinterpret_cast<const char*>(ws() + array_data(t, ws())), array_count(t, ws()));
  EXPECT_EQ(ca::get_class_text(in("Pt"), ws()), cr);
  EXPECT_EQ(ca::get_class_text(in("nosuch"), ws()), "");
  char out[31];
  EXPECT_EQ(ca::output_sym_name(out, token("Shape"), ws()), out + 5);
  EXPECT_EQ(std::string(out), in("Shape"));
}

// While one thread holds the lock (as the interpreter does while it runs),
// a call from another thread waits for it.
TEST_F(ClassAccess, CallsFromAnotherThreadWaitForTheLock) {
  std::atomic<bool> released{false};
  std::atomic<bool> answered_early{false};
  std::atomic<int> answer{-1};
  std::thread caller;
  {
    std::lock_guard<std::recursive_mutex> running(ca::class_access_mutex());
    caller = std::thread([&] {
      const int r = ca::set_member_details(in("Pt.x"), kReadOnly, ws());
      if (!released.load()) answered_early = true;
      answer = r;
    });
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    EXPECT_EQ(answer.load(), -1);
    released = true;
  }
  caller.join();
  EXPECT_FALSE(answered_early.load());
  EXPECT_EQ(answer.load(), 0);
  EXPECT_EQ(ca::get_member_details(in("Pt.x"), ws()), kReadOnly);
}

// Two threads changing and reading one class at once leave it whole: the
// lock makes each change complete before the next begins.
TEST_F(ClassAccess, ConcurrentChangesKeepTheWorkspaceConsistent) {
  type({"w←⍳5"});
  auto worker = [&](const char* name, int rounds) {
    for (int i = 0; i < rounds; ++i) {
      // The value's address is good only while the lock is held: a change
      // by the other thread may compact the heap.
      {
        std::lock_guard<std::recursive_mutex> l(ca::class_access_mutex());
        const std::uint8_t* value = ws() + rd32(ws(), entry_of("w") + sym::Value);
        ASSERT_EQ(ca::set_named_class_property(in("Pt"), in(name), i % 3 ? value : nullptr, ws()), 0);
      }
      ASSERT_EQ(ca::set_member_details(in("Pt.") + in(name), static_cast<std::uint8_t>(i & 7), ws()), 0);
      std::uint8_t kind = 0;
      ca::get_named_class_member(in("Pt"), in(name), &kind, false, ws());
      ASSERT_EQ(kind, SYM_VAR);
    }
  };
  std::thread a(worker, "alpha", 300), b(worker, "beta", 300);
  a.join();
  b.join();
  force_gcol(ws());
  consistent();
  EXPECT_EQ(ca::get_member_details(in("Pt.alpha"), ws()), 299 & 7);
}

}  // namespace
}  // namespace zema
