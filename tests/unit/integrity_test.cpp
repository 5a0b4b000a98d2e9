// The workspace integrity check, the host's ⎕MOUNT access and extended
// errors.
#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <string>

#include "host/charset.h"
#include "interpreter/workspace/entry.h"
#include "interpreter/workspace/errors.h"
#include "interpreter/workspace/heap.h"
#include "interpreter/workspace/integrity.h"
#include "interpreter/engine/line.h"
#include "interpreter/workspace/symtab.h"
#include "interpreter/engine/sysvars.h"
#include "test_workspace.h"

namespace zema {
namespace {

using test::CaptureTask;
using test::CurrentTask;
using test::TestWorkspace;

class Integrity : public ::testing::Test {
 protected:
  CaptureTask task;
  CurrentTask current{&task};

  static void run(const char* utf8, Ws ws) {
    const std::string t = utf8_to_internal(utf8);
    run_input_line(t.data(), static_cast<int>(t.size()), ws);
  }
  // Entry offset of a variable.
  static std::uint32_t entry_of(const char* utf8, Ws ws) {
    const std::uint32_t e = test::symbol_entry(utf8, ws);
    EXPECT_NE(e, 0u) << utf8;
    return e;
  }
  // A workspace after a run of assignments, some of them failing.
  static void populate(Ws ws) {
    for (const char* line : {"A←1 2 3", "B←'ABC'", "LONGERNAME←5.5", "A←A", "C←(1 2)('X' 3)", "A←B", "⎕LX←'GO'",
                             "⎕FC←'.,'", "⎕PP←20", "⎕IO←2", "D←UNSET", "(E F)←1 2", "B←⍬", "LONGERNAME←'Z'"})
      run(line, ws);
  }
};

TEST_F(Integrity, ClearAndBusyWorkspacesPass) {
  TestWorkspace tw;
  EXPECT_EQ(check_integrity(tw.ws()), IF_OK);
  populate(tw.ws());
  EXPECT_GT(rd32(tw.ws(), hdr::Garbage), 0u);  // released values lie below live ones
  EXPECT_EQ(check_integrity(tw.ws()), IF_OK);
  force_gcol(tw.ws());
  EXPECT_EQ(check_integrity(tw.ws()), IF_OK);
}

TEST_F(Integrity, DamageIsFound) {
  const std::uint32_t lx = sysvar_value_word(sysvar::LX);
  struct Case {
    const char* what;
    std::function<void(Ws)> damage;
    int expected;
  } cases[] = {
      {"name length", [](Ws ws) { wr8(ws, entry_of("A", ws) + sym::Length, 31); }, IF_NAME_TOO_LONG},
      {"packed length", [](Ws ws) { wr8(ws, entry_of("A", ws) + 3, 2); }, IF_SHORT_NAME_LENGTH},
      {"packed padding", [](Ws ws) { wr8(ws, entry_of("A", ws) + 1, 0x61); }, IF_SHORT_NAME_PADDING},
      {"name object size",
       [](Ws ws) {
         const std::uint32_t name = rd32(ws, entry_of("LONGERNAME", ws) + sym::Name);
         wr32(ws, name + obj::Size, rd32(ws, name + obj::Size) + 4);
       },
       IF_NAME_OBJECT_SIZE},
      {"symbol kind", [](Ws ws) { wr8(ws, entry_of("A", ws) + sym::Type, 17); }, IF_SYMBOL_KIND},
      {"token-line mark",
       [](Ws ws) {
         const std::uint32_t v = rd32(ws, entry_of("C", ws) + sym::Value);
         wr8(ws, v + obj::Flags1, 0x40);
       },
       IF_TOKEN_LINE_MARK},
      {"value beyond the heap top",
       [](Ws ws) { wr32(ws, entry_of("A", ws) + sym::Value, rd32(ws, hdr::HeapTop) + 16); }, IF_OFFSET_RANGE},
      {"value owner kind",
       [](Ws ws) {
         const std::uint32_t v = rd32(ws, entry_of("B", ws) + sym::Value);
         wr8(ws, v, OK_STACK);
       },
       IF_VALUE_OWNER_KIND},
      {"value owner word",
       [](Ws ws) {
         const std::uint32_t v = rd32(ws, entry_of("B", ws) + sym::Value);
         wr32(ws, v - 4, entry_of("A", ws));
       },
       IF_VALUE_OWNER},
      {"object size", [=](Ws ws) { wr32(ws, rd32(ws, lx) + obj::Size, 0x100000); }, IF_HEAP_CHAIN},
      {"owner kind", [=](Ws ws) { wr8(ws, rd32(ws, lx), 6); }, IF_OWNER_KIND},
      {"pool kind without a pool", [=](Ws ws) { wr8(ws, rd32(ws, lx), OK_INSTANCE); }, IF_OWNER_KIND},
      {"owner slot", [=](Ws ws) { wr32(ws, rd32(ws, lx) - 4, sysvar_entry(sysvar::IO)); }, IF_OWNER_SLOT},
      {"owner beyond the top", [=](Ws ws) { wr32(ws, rd32(ws, lx) - 4, rd32(ws, hdr::Top)); }, IF_OFFSET_RANGE},
      {"garbage count", [](Ws ws) { wr32(ws, hdr::Garbage, rd32(ws, hdr::Garbage) + 4); }, IF_GARBAGE_COUNT},
  };
  for (const Case& c : cases) {
    TestWorkspace tw;
    populate(tw.ws());
    ASSERT_EQ(check_integrity(tw.ws()), IF_OK) << c.what;
    c.damage(tw.ws());
    EXPECT_EQ(check_integrity(tw.ws()), c.expected) << c.what;
  }
}

TEST_F(Integrity, AValuelessNamelessEntryIsEmptied) {
  TestWorkspace tw;
  Ws ws = tw.ws();
  const std::uint32_t e = kBucketArea + 5 * kSymtabEntrySize;
  wr8(ws, e + sym::Length, 2);
  wr8(ws, e + sym::Type, SYM_UNDEF);
  wr32(ws, e + sym::Value, 1234);
  EXPECT_EQ(check_integrity(ws), IF_OK);
  EXPECT_EQ(rd8(ws, e + sym::Length), 0);
  EXPECT_EQ(rd32(ws, e + sym::Value), 0u);
}

TEST_F(Integrity, MountTableThroughTheHost) {
  TestWorkspace tw;
  Ws ws = tw.ws();
  std::memset(lowglobals(ws).mount, 0x20, sizeof lowglobals(ws).mount);
  std::uint8_t row[260];
  std::memset(row, 0x61, sizeof row);
  std::uint8_t table[2600];
  change_qmount(ws, 260, row, table);
  EXPECT_EQ(std::memcmp(table, row, 260), 0);
  for (int i = 260; i < 2600; ++i) ASSERT_EQ(table[i], 0x20) << i;
  // A query changes nothing.
  std::uint8_t again[2600];
  change_qmount(ws, 0, nullptr, again);
  EXPECT_EQ(std::memcmp(table, again, sizeof table), 0);
}

TEST_F(Integrity, ExtendedErrors) {
  TestWorkspace tw;
  Ws ws = tw.ws();
  struct Case {
    int code;
    int major, minor;
  } cases[] = {{E_DOMAIN, 5, 4},    {E_WS_FULL, 1, 3},  {E_LENGTH, 5, 3},    {E_NONCE, 2, 4},
               {E_VALUE, 3, 2},     {E_INDEX, 5, 5},    {E_VALENCE, 5, 1},   {E_AXIS, 5, 6},
               {E_SYSTEM_LIMIT, 1, 8}, {E_STRUCTURED_CONTROL, 2, 10}, {E_FILE_IO, 6, 9},
               {E_LOGICAL_UNIT, 6, 14}, {E_INTERRUPT, 1, 1}, {E_DEFN, 0, 2}};
  for (const Case& c : cases) {
    task.output.clear();
    try {
      raise_extended_error_ascii(c.code, "Cannot assign", ws);
      FAIL() << "returned";
    } catch (const AplError& e) {
      EXPECT_EQ(e.code, c.code);
    }
    EXPECT_EQ(rd16(ws, hdr::EtMajor), c.major) << c.code;
    EXPECT_EQ(rd16(ws, hdr::EtMinor), c.minor) << c.code;
    EXPECT_EQ(internal_to_utf8(task.output), "Cannot assign\r") << c.code;
  }
  // Under a trap, and without a message, no line is written.
  wr32(ws, hdr::TrapWord, 0x02000000);
  task.output.clear();
  EXPECT_THROW(raise_extended_error_ascii(E_DOMAIN, "hidden", ws), AplError);
  EXPECT_EQ(task.output, "");
  wr32(ws, hdr::TrapWord, 0);
  EXPECT_THROW(raise_extended_error(E_DOMAIN, nullptr, ws), AplError);
  EXPECT_EQ(task.output, "");
}

}  // namespace
}  // namespace zema
