// The object records of )COPY read back: an instance record makes an
// instance of the class here, its references translated to the instances
// the copy made (null otherwise), the pool and counts consistent; a
// damaged record is refused before anything changes.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "host/charset.h"
#include "interpreter/session/class_definition.h"
#include "interpreter/session/copy_objects.h"
#include "interpreter/workspace/arrays.h"
#include "interpreter/workspace/heap.h"
#include "interpreter/workspace/object_pool.h"
#include "interpreter/workspace/stack.h"
#include "test_workspace.h"

namespace zema {
namespace {

class CopyObjects : public test::DefiningSession {
 protected:
  void SetUp() override {
    DefiningSessionOn::SetUp();
    install_class_definition_routes();
    type({"∇K {", "w", "}"});
  }
  static void put_header(std::string& r, std::size_t at, std::uint8_t kind, std::uint16_t count, std::uint32_t length,
                         const std::string& name) {
    r[at] = static_cast<char>(kind);
    std::memcpy(&r[at + crec::Count], &count, 2);
    std::memcpy(&r[at + crec::Length], &length, 4);
    const auto n = static_cast<std::uint16_t>(name.size());
    std::memcpy(&r[at + crec::NameLength], &n, 2);
    std::memcpy(&r[at + crec::Name], name.data(), n);
  }
  // An instance record of class `cls` from source slot `source`, its field
  // w a reference vector of `refs`.
  static std::string instance_record(const std::string& cls, std::uint32_t source, std::uint32_t r1,
                                     std::uint32_t r2) {
    const std::uint32_t value = 12 + 4 + 8;  // header, one axis, two references
    std::string r(crec::Members + crec::Header + value, '\0');
    put_header(r, 0, crec::KindInstance, 1, static_cast<std::uint32_t>(r.size()), utf8_to_internal(cls));
    std::memcpy(&r[crec::Field], &source, 4);
    put_header(r, crec::Members, 3, 0, crec::Header + value, utf8_to_internal("w"));
    const std::size_t v = crec::Members + crec::Header;
    std::memcpy(&r[v + obj::Size], &value, 4);
    r[v + obj::Type] = static_cast<char>(ET_OBJREF);
    const std::int16_t rank4 = 4;
    std::memcpy(&r[v + obj::Rank4], &rank4, 2);
    const std::uint32_t two = 2;
    std::memcpy(&r[v + obj::Shape], &two, 4);
    std::memcpy(&r[v + obj::Shape + 4], &r1, 4);
    std::memcpy(&r[v + obj::Shape + 8], &r2, 4);
    return r;
  }
  // The record as a character vector held by a stack entry: its slot.
  std::uint32_t stack_record(const std::string& r) {
    const std::uint32_t shape[1] = {static_cast<std::uint32_t>(r.size())};
    const std::uint32_t a = new_array(ET_CHAR, 1, shape, ws());
    std::memcpy(ws() + array_data(a, ws()), r.data(), r.size());
    return stack(StackEntry{static_cast<std::uint8_t>(kOwnsObject | 1), 0, a}, ws());
  }
  void drop() {
    StackEntry e;
    unstack(e, ws());
    release_entry(e, ws());
  }
  bool consistent() { return object_pool_consistent(ws()) && object_reference_counts_consistent(true, ws()); }
};

TEST_F(CopyObjects, InstancesReferToEachOtherAndOtherReferencesBecomeNull) {
  // Other objects take the slots the source used, so that a reference
  // left untranslated would name one of them.
  type({"x←⎕NEW¨5⍴⊂'K'"});
  CopiedInstances made;
  made.begin(2, ws());
  ObjectWarnings w;
  // Source slot 7 refers to nothing copied; slot 9 to 7 and to slot 3 (not copied).
  std::uint32_t s = stack_record(instance_record("K", 7, 0, 0));
  ASSERT_TRUE(object_record_sound(s, ws()));
  EXPECT_EQ(fix_instance_record(s, made, w, ws()), FixObject::Ok);
  drop();
  s = stack_record(instance_record("K", 9, 7, 3));
  EXPECT_EQ(fix_instance_record(s, made, w, ws()), FixObject::Ok);
  drop();
  EXPECT_TRUE(w.reference_nulled);
  EXPECT_FALSE(w.property_dropped);
  const std::uint32_t first = made.find(7, ws()), second = made.find(9, ws());
  ASSERT_NE(first, 0u);
  ASSERT_NE(second, 0u);
  EXPECT_EQ(made.find(3, ws()), 0u);
  EXPECT_TRUE(consistent());
  // The second instance's w holds the first and a null.
  const std::uint32_t off = find_object_instance(second, ws());
  const std::uint32_t v = rd32(ws(), off + pobj::Entries + mentry::Value);
  EXPECT_EQ(rd32(ws(), array_data(v, ws())), first);
  EXPECT_EQ(rd32(ws(), array_data(v, ws()) + 4), 0u);
  // At the end the first lives (the second refers to it), the second is freed
  // with nothing referring to it, and then the first too.
  made.end(ws());
  EXPECT_FALSE(object_slot_live(second, ws()));
  EXPECT_FALSE(object_slot_live(first, ws()));
  EXPECT_TRUE(consistent());
}

TEST_F(CopyObjects, FieldsTheClassLacksAndUnknownClassesAreDropped) {
  CopiedInstances made;
  made.begin(2, ws());
  ObjectWarnings w;
  std::string r = instance_record("K", 4, 0, 0);
  r[crec::Members + crec::Name] = static_cast<char>(utf8_to_internal("q")[0]);  // field q: no member of K
  std::uint32_t s = stack_record(r);
  EXPECT_EQ(fix_instance_record(s, made, w, ws()), FixObject::Ok);
  drop();
  EXPECT_TRUE(w.property_dropped);
  EXPECT_NE(made.find(4, ws()), 0u);
  s = stack_record(instance_record("Nope", 5, 0, 0));
  EXPECT_EQ(fix_instance_record(s, made, w, ws()), FixObject::Ok);
  drop();
  EXPECT_EQ(made.find(5, ws()), 0u);
  EXPECT_TRUE(consistent());
  made.end(ws());
  EXPECT_TRUE(consistent());
}

TEST_F(CopyObjects, DamagedRecordsAreNotSound) {
  const std::string good = instance_record("K", 7, 0, 0);
  struct Damage {
    const char* what;
    std::size_t at;
    std::uint8_t byte;
  } cases[] = {
      {"record length", crec::Length, 0xFF},
      {"member count", crec::Count, 2},
      {"name length", crec::NameLength, 31},
      {"member length", crec::Members + crec::Length, 0x7F},
      {"member kind", crec::Members + crec::Kind, 0},
      {"member flags", crec::Members + crec::Flags, 0x40},
      {"value size", crec::Members + crec::Header + obj::Size, 0x7C},
      {"value type", crec::Members + crec::Header + obj::Type, 3},
      {"value rank", crec::Members + crec::Header + obj::Rank4, 0x30},
      {"source slot", crec::Field, 0},
  };
  for (const Damage& d : cases) {
    std::string r = good;
    r[d.at] = static_cast<char>(d.byte);
    if (d.at == crec::Field) std::memset(&r[crec::Field], 0, 4);
    const std::uint32_t s = stack_record(r);
    EXPECT_FALSE(object_record_sound(s, ws())) << d.what;
    drop();
  }
  const std::uint32_t s = stack_record(good);
  EXPECT_TRUE(object_record_sound(s, ws()));
  drop();
  // A record cut short.
  const std::uint32_t t = stack_record(good.substr(0, good.size() - 4));
  EXPECT_FALSE(object_record_sound(t, ws()));
  drop();
}

}  // namespace
}  // namespace zema
