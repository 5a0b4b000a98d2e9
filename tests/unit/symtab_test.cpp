// The symbol table: lookup by bucket and linear probing, entering names,
// name objects, use counts and the release of entries.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "host/charset.h"
#include "interpreter/workspace/errors.h"
#include "interpreter/workspace/heap.h"
#include "interpreter/workspace/symtab.h"
#include "test_workspace.h"

namespace zema {
namespace {

using test::TestWorkspace;

std::string in(const char* utf8) { return utf8_to_internal(utf8); }

// Puts a name into the name buffer, with junk in the rest of the buffer so
// that nothing depends on what follows the name there.
void set_name(Ws ws, const std::string& name) {
  std::memset(ws + kNameBuffer, 0x55, kMaxNameLength);
  std::memcpy(ws + kNameBuffer, name.data(), name.size());
}

std::uint32_t lookup(Ws ws, const std::string& name, std::uint32_t* first_free = nullptr) {
  set_name(ws, name);
  std::uint32_t free_entry = 0;
  std::uint32_t found = 0;
  int r = symfnd(free_entry, found, static_cast<std::uint32_t>(name.size()), ws);
  if (first_free) *first_free = free_entry;
  EXPECT_EQ(r == 0, found != 0);
  return r == 0 ? entry_of_table_offset(found) : 0;
}

// What the tokeniser does with a name: look it up, enter it when new (no
// free entry: SYMBOL TABLE FULL), count one use. Answers the entry offset.
std::uint32_t use_name(Ws ws, const std::string& name) {
  std::uint32_t first_free = 0;
  std::uint32_t e = lookup(ws, name, &first_free);
  if (e == 0) {
    if (first_free == 0) symtfl(0, 0, ws);
    set_name(ws, name);
    e = entry_of_table_offset(syment(first_free, static_cast<std::uint32_t>(name.size()), ws));
  }
  return symuse(table_offset_of_entry(e), 0, 0, ws);
}

// The name fix-up after a tokenised line: the gap below the name objects
// becomes one released object, and compaction slides the names down into
// the heap.
void file_names(Ws ws) {
  const std::uint32_t top = rd32(ws, hdr::HeapTop);
  const std::uint32_t lim = rd32(ws, hdr::TokenAreaLimit);
  const std::uint32_t sp = rd32(ws, hdr::StackPointer);
  if (lim == sp) return;
  wr32(ws, top - 4, 0);
  wr32(ws, top, kReleased);
  wr32(ws, top + obj::Size, lim - top);
  wr32(ws, hdr::Garbage, rd32(ws, hdr::Garbage) + (lim - top) + 4);
  const std::uint32_t lowest = rd32(ws, hdr::LowestReleased);
  if (lowest == 0 || lowest > top) wr32(ws, hdr::LowestReleased, top);
  wr32(ws, hdr::HeapTop, sp + 4);
  force_gcol(ws);
  wr32(ws, hdr::TokenAreaLimit, sp);
}

std::uint32_t bucket_start(Ws ws, std::uint32_t bucket) {
  return kBucketArea + bucket * rd16(ws, hdr::BucketSize) * kSymtabEntrySize;
}
std::uint32_t bucket_of_entry(Ws ws, std::uint32_t e) {
  return (e - kBucketArea) / (rd16(ws, hdr::BucketSize) * kSymtabEntrySize);
}

class SymtabTest : public ::testing::Test {
 protected:
  explicit SymtabTest(std::uint32_t bytes = 256 * 1024) : t_(bytes), ws_(t_.ws()) {
    wr32(ws_, hdr::TokenAreaLimit, rd32(ws_, hdr::StackPointer));
  }
  TestWorkspace t_;
  Ws ws_;
};

TEST(Symtab, PackedShortNameTakesThreeBytesWhateverTheLength) {
  const std::uint8_t text[] = {0x61, 0x62, 0x63};
  EXPECT_EQ(get_sname_as_integer(1, text), 0x01616263u);
  EXPECT_EQ(get_sname_as_integer(3, text), 0x03616263u);
}

TEST(Symtab, NameClassOfEachSymbolType) {
  const std::uint8_t expected[18] = {3, 3, 3, 2, 1, 2, 2, 2, 5, 3, 3, 4, 4, 4, 4, 0, 9, 0};
  for (int i = 0; i < 18; ++i) EXPECT_EQ(fttb[i], expected[i]) << "type " << i;
}

TEST(Symtab, TokensAndEntriesConvert) {
  EXPECT_EQ(entry_of_token(0), kSymtabStart);                 // ⎕LX
  EXPECT_EQ(entry_of_token(2), kSymtabStart + 16);            // ⎕IO
  EXPECT_EQ(token_of_entry(kBucketArea), 32u);                // first bucket entry
  EXPECT_EQ(token_of_table_offset(kFixedAreaBytes + 48), 38u);
  EXPECT_EQ(entry_of_token(token_of_entry(kBucketArea + 160)), kBucketArea + 160);
}

TEST(Symtab, BucketByFirstCharacter) {
  struct Case {
    const char* first;
    std::uint32_t bucket;
  } cases[] = {{"A", 0}, {"Q", 16}, {"Z", 25}, {"a", 0}, {"z", 25},
               {"∆", 26}, {"⍙", 26}, {"⎕", 26}, {"$", 26}, {"_", 26}, {"0", 26}};
  for (const auto& c : cases) EXPECT_EQ(symbol_bucket(std::uint8_t(in(c.first)[0])), c.bucket) << c.first;
}

TEST_F(SymtabTest, NamesLandInTheirBucketAndAreFoundAgain) {
  for (const char* n : {"X", "Q1", "Abc", "DELTA", "⎕XYZWV", "$SYS", "∆NAME"}) {
    std::string name = in(n);
    std::uint32_t e = use_name(ws_, name);
    EXPECT_EQ(bucket_of_entry(ws_, e), symbol_bucket(std::uint8_t(name[0]))) << n;
    EXPECT_EQ(lookup(ws_, name), e) << n;
    EXPECT_EQ(symbol_name(e, ws_), name) << n;
    EXPECT_EQ(rd8(ws_, e + sym::Length), name.size()) << n;
  }
}

TEST_F(SymtabTest, NamesAreCaseSensitiveAndShareABucket) {
  const char* pairs[][2] = {{"Abc", "ABC"}, {"Alpha", "ALPHA"}, {"a", "A"}};
  for (const auto& p : pairs) {
    std::uint32_t e1 = use_name(ws_, in(p[0]));
    std::uint32_t e2 = use_name(ws_, in(p[1]));
    EXPECT_NE(e1, e2) << p[0];
    EXPECT_EQ(bucket_of_entry(ws_, e1), bucket_of_entry(ws_, e2)) << p[0];
    EXPECT_EQ(lookup(ws_, in(p[0])), e1);
    EXPECT_EQ(lookup(ws_, in(p[1])), e2);
  }
}

// The tokeniser cuts names to 30 characters before they reach the table;
// here names of up to 30 characters are told apart by every character and
// by their length.
TEST_F(SymtabTest, LongNamesUpToThirtyCharacters) {
  const std::string n30 = in("ABCDEFGHIJKLMNOPQRSTUVWXYZABCD");
  std::string n30b = n30;
  n30b[29] = in("E")[0];
  const std::string n29 = n30.substr(0, 29);
  const std::string n4 = n30.substr(0, 4);
  std::uint32_t e30 = use_name(ws_, n30);
  std::uint32_t e30b = use_name(ws_, n30b);
  std::uint32_t e29 = use_name(ws_, n29);
  std::uint32_t e4 = use_name(ws_, n4);
  EXPECT_NE(e30, e30b);
  EXPECT_NE(e30, e29);
  EXPECT_NE(e29, e4);
  EXPECT_EQ(lookup(ws_, n30), e30);
  EXPECT_EQ(lookup(ws_, n30b), e30b);
  EXPECT_EQ(lookup(ws_, n29), e29);
  EXPECT_EQ(lookup(ws_, n4), e4);
  EXPECT_EQ(symbol_name(e30, ws_), n30);
}

TEST_F(SymtabTest, NameObjectSizeAndShape) {
  struct Case {
    const char* name;
    std::uint32_t size;
  } cases[] = {{"ABCD", 12}, {"ABCDE", 16}, {"ABCDEFGH", 16}, {"ABCDEFGHI", 20},
               {"ABCDEFGHIJKLMNOPQRSTUVWXYZABCD", 40}};
  for (const auto& c : cases) {
    const std::string name = in(c.name);
    EXPECT_EQ(name_object_size(static_cast<std::uint32_t>(name.size())), c.size) << c.name;
    const std::uint32_t lim = rd32(ws_, hdr::TokenAreaLimit);
    const std::uint32_t top = rd32(ws_, hdr::HeapTop);
    std::uint32_t e = use_name(ws_, name);
    const std::uint32_t nm = rd32(ws_, e + sym::Name);
    // Taken from the top of the free gap, the heap top untouched.
    EXPECT_EQ(rd32(ws_, hdr::TokenAreaLimit), lim - c.size - 4) << c.name;
    EXPECT_EQ(nm, lim - c.size) << c.name;
    EXPECT_EQ(rd32(ws_, hdr::HeapTop), top);
    EXPECT_EQ(rd32(ws_, nm - 4), e) << c.name;  // owner: the entry's name word
    EXPECT_EQ(rd32(ws_, nm), 0u) << c.name;
    EXPECT_EQ(rd32(ws_, nm + obj::Size), c.size) << c.name;
    EXPECT_EQ(std::memcmp(ws_ + nm + 8, name.data(), name.size()), 0) << c.name;
  }
  // Slid into the heap, the name objects are ordinary heap objects owned by
  // their entries.
  file_names(ws_);
  EXPECT_TRUE(heap_consistent(ws_));
  for (const auto& c : cases) {
    std::uint32_t e = lookup(ws_, in(c.name));
    ASSERT_NE(e, 0u) << c.name;
    std::uint32_t nm = rd32(ws_, e + sym::Name);
    EXPECT_LT(nm, rd32(ws_, hdr::HeapTop)) << c.name;
    EXPECT_EQ(owner_slot(nm, ws_), e) << c.name;
  }
}

TEST_F(SymtabTest, NewEntryIsAValuelessName) {
  std::uint32_t ff = 0;
  ASSERT_EQ(lookup(ws_, in("NEW"), &ff), 0u);
  std::memset(ws_ + ff, 0, kSymtabEntrySize);
  set_name(ws_, in("NEW"));
  std::uint32_t rel = syment(ff, 3, ws_);
  EXPECT_EQ(entry_of_table_offset(rel), ff);
  EXPECT_EQ(rd32(ws_, ff + sym::Value), 0u);
  EXPECT_EQ(rd8(ws_, ff + sym::Type), SYM_UNDEF);
  EXPECT_EQ(rd8(ws_, ff + sym::Length), 3);
  EXPECT_EQ(rd16(ws_, ff + sym::Uses), 0);
  EXPECT_EQ(rd32(ws_, ff + sym::Reserved), 0u);
}

// Whatever followed a short name in the name buffer, its stored word has
// zero bytes past the name, and it is found again with other junk there.
TEST_F(SymtabTest, ShortNamesAreStoredWithZeroPadding) {
  struct Case {
    const char* name;
    std::uint32_t word;
  } cases[] = {{"A", 0x01610000}, {"AB", 0x02616200}, {"ABC", 0x03616263}};
  for (const auto& c : cases) {
    std::uint32_t e = use_name(ws_, in(c.name));
    EXPECT_EQ(rd32(ws_, e + sym::Name), c.word) << c.name;
    std::memset(ws_ + kNameBuffer, 0x77, kMaxNameLength);
    std::memcpy(ws_ + kNameBuffer, in(c.name).data(), std::strlen(c.name));
    std::uint32_t ff = 0;
    std::uint32_t found = 0;
    EXPECT_EQ(symfnd(ff, found, static_cast<std::uint32_t>(std::strlen(c.name)), ws_), 0) << c.name;
    EXPECT_EQ(entry_of_table_offset(found), e) << c.name;
  }
}

TEST_F(SymtabTest, SystemFunctionNamesTakeNumberAndTypeFromTheHeader) {
  wr32(ws_, kSysFnNumber, 17 * 4);
  wr8(ws_, kSysFnType, SYM_SYSFN);
  std::uint32_t upper = use_name(ws_, in("⎕NL"));
  std::uint32_t lower = use_name(ws_, in("⎕nl"));
  std::uint32_t plain = use_name(ws_, in("NL"));
  EXPECT_NE(upper, lower);
  for (std::uint32_t e : {upper, lower}) {
    EXPECT_EQ(rd32(ws_, e + sym::Value), 68u);
    EXPECT_EQ(rd8(ws_, e + sym::Type), SYM_SYSFN);
  }
  EXPECT_EQ(rd32(ws_, plain + sym::Value), 0u);
  EXPECT_EQ(rd8(ws_, plain + sym::Type), SYM_UNDEF);
}

TEST_F(SymtabTest, MissingNameVisitsTheWholeAreaAndOffersTheFirstFreeEntry) {
  const std::uint32_t per_bucket = rd16(ws_, hdr::BucketSize);
  // Fill the last bucket; a further name of that bucket wraps to bucket 0.
  std::vector<std::uint32_t> last;
  for (std::uint32_t i = 0; i < per_bucket; ++i) {
    std::string name = in("∆") + std::string(1, char(0x61 + i / 26)) + std::string(1, char(0x61 + i % 26));
    last.push_back(use_name(ws_, name));
  }
  EXPECT_EQ(last.front(), bucket_start(ws_, 26));
  EXPECT_EQ(last.back(), kBucketArea + rd16(ws_, hdr::BucketEntries) * kSymtabEntrySize - 16);

  std::uint32_t ff = 1;
  EXPECT_EQ(lookup(ws_, in("∆ZZ"), &ff), 0u);
  EXPECT_EQ(ff, kBucketArea);

  // With bucket 0's first entry taken, the next one is offered.
  use_name(ws_, in("A"));
  EXPECT_EQ(lookup(ws_, in("∆ZZ"), &ff), 0u);
  EXPECT_EQ(ff, kBucketArea + 16);

  // A name that overflowed is found past free entries: the probe does not
  // stop at a hole.
  std::uint32_t over = use_name(ws_, in("∆ZZ"));
  EXPECT_EQ(over, kBucketArea + 16);
  clnus2(last[3], ws_);
  EXPECT_EQ(rd8(ws_, last[3] + sym::Length), 0);
  EXPECT_EQ(lookup(ws_, in("∆ZZ"), &ff), over);

  // A miss now offers the hole in bucket 26 before the wrapped entries.
  EXPECT_EQ(lookup(ws_, in("∆YY"), &ff), 0u);
  EXPECT_EQ(ff, last[3]);
  // A name of another bucket is offered its own bucket's start, even with
  // the earlier hole.
  EXPECT_EQ(lookup(ws_, in("M"), &ff), 0u);
  EXPECT_EQ(ff, bucket_start(ws_, 12));
}

// The entry just before a name's bucket (for bucket 0: the last entry of the
// area) is the last one the probe visits; it is still searched and offered.
TEST_F(SymtabTest, ProbeEndsAtTheEntryBeforeTheBucket) {
  const std::uint32_t total = rd16(ws_, hdr::BucketEntries);
  const std::uint32_t area_end = kBucketArea + total * kSymtabEntrySize;
  struct Case {
    const char* name;
    std::uint32_t bucket;
  } cases[] = {{"A", 0}, {"MX", 12}, {"ZED", 25}};
  for (const auto& c : cases) {
    const std::string name = in(c.name);
    const std::uint32_t start = bucket_start(ws_, c.bucket);
    const std::uint32_t last = (start == kBucketArea ? area_end : start) - kSymtabEntrySize;
    // Every entry taken by a name nobody looks up, but the last one probed.
    for (std::uint32_t e = kBucketArea; e < area_end; e += kSymtabEntrySize) {
      std::memset(ws_ + e, 0, kSymtabEntrySize);
      wr32(ws_, e + sym::Name, 0x037F7F7F);
      wr8(ws_, e + sym::Length, 3);
    }
    std::memset(ws_ + last, 0, kSymtabEntrySize);
    std::uint32_t ff = 0;
    EXPECT_EQ(lookup(ws_, name, &ff), 0u) << c.name;
    EXPECT_EQ(ff, last) << c.name;
    set_name(ws_, name);
    syment(ff, static_cast<std::uint32_t>(name.size()), ws_);
    EXPECT_EQ(lookup(ws_, name, &ff), last) << c.name;
    EXPECT_EQ(ff, 0u) << c.name;
  }
}

TEST_F(SymtabTest, FullBucketAreaIsSymbolTableFullWhateverTheFixedEntries) {
  const std::uint32_t total = rd16(ws_, hdr::BucketEntries);
  ASSERT_EQ(total, 1026u);
  for (int i = 10; i < 16; ++i) ASSERT_EQ(rd8(ws_, kSymtabStart + 16 * i + sym::Length), 0) << i;
  auto nth = [](std::uint32_t i) {
    return std::string{char(0x61 + i % 26), char(0x61 + (i / 26) % 26), char(0x61 + i / 676)};
  };
  for (std::uint32_t i = 0; i < total; ++i) use_name(ws_, nth(i));
  // Every name is still there, each in its own entry.
  for (std::uint32_t i = 0; i < total; i += 97) EXPECT_NE(lookup(ws_, nth(i)), 0u);
  std::uint32_t ff = 1;
  EXPECT_EQ(lookup(ws_, nth(total), &ff), 0u);
  EXPECT_EQ(ff, 0u);
  try {
    use_name(ws_, nth(total));
    FAIL() << "no SYMBOL TABLE FULL";
  } catch (const AplError& e) {
    EXPECT_EQ(e.code, E_SYMBOL_TABLE_FULL);
  }
  EXPECT_EQ(rd16(ws_, hdr::ErrorCode), 108);
  EXPECT_EQ(rd16(ws_, hdr::EtMajor), 1);
  EXPECT_EQ(rd16(ws_, hdr::EtMinor), 4);
  for (int i = 10; i < 16; ++i) EXPECT_EQ(rd8(ws_, kSymtabStart + 16 * i + sym::Length), 0) << i;
}

TEST_F(SymtabTest, UseCountStopsAtItsLimit) {
  std::uint32_t e = use_name(ws_, in("COUNTED"));
  const std::uint32_t rel = table_offset_of_entry(e);
  for (std::uint32_t i = 1; i < 0xFFFF; ++i) ASSERT_EQ(symuse(rel, 0, 0, ws_), e);
  EXPECT_EQ(rd16(ws_, e + sym::Uses), 0xFFFF);
  try {
    symuse(rel, 0, 0, ws_);
    FAIL() << "no SYSTEM LIMIT";
  } catch (const AplError& err) {
    EXPECT_EQ(err.code, E_SYSTEM_LIMIT);
  }
  EXPECT_EQ(rd16(ws_, hdr::EtMajor), 1);
  EXPECT_EQ(rd16(ws_, hdr::EtMinor), 13);
  EXPECT_EQ(rd16(ws_, e + sym::Uses), 0xFFFF);
}

TEST_F(SymtabTest, ReleasingSystemVariablesLeavesThemAlone) {
  for (std::uint32_t token : {0u, 2u, 18u}) {  // ⎕LX, ⎕IO, ⎕CS
    const std::uint32_t e = entry_of_token(token);
    wr16(ws_, e + sym::Uses, 1);
    std::uint8_t before[16];
    std::memcpy(before, ws_ + e, 16);
    clnuse(token, ws_);
    clnuse(token, ws_);
    EXPECT_EQ(std::memcmp(before, ws_ + e, 16), 0) << token;
  }
  EXPECT_EQ(rd32(ws_, entry_of_token(2) + sym::Value), 1u);
}

TEST_F(SymtabTest, LastUseFreesTheEntryAndItsNameObject) {
  // Name memory is taken downwards, so KEEPER, entered first, ends up above
  // LONGER in the heap and LONGER's release is counted as garbage.
  std::uint32_t keep = use_name(ws_, in("KEEPER"));
  std::uint32_t lng = use_name(ws_, in("LONGER"));
  std::uint32_t shrt = use_name(ws_, in("SH"));
  use_name(ws_, in("LONGER"));
  use_name(ws_, in("SH"));
  file_names(ws_);
  ASSERT_TRUE(heap_consistent(ws_));
  const std::uint32_t garbage_before = rd32(ws_, hdr::Garbage);
  const std::uint32_t nm = rd32(ws_, lng + sym::Name);
  ASSERT_LT(nm, rd32(ws_, keep + sym::Name));

  clnuse(token_of_entry(lng), ws_);
  clnuse(token_of_entry(shrt), ws_);
  EXPECT_EQ(rd16(ws_, lng + sym::Uses), 1);
  EXPECT_EQ(lookup(ws_, in("LONGER")), lng);
  EXPECT_EQ(rd8(ws_, nm) & kReleased, 0);

  clnuse(token_of_entry(lng), ws_);
  clnuse(token_of_entry(shrt), ws_);
  for (std::uint32_t e : {lng, shrt}) {
    std::uint8_t zero[16] = {};
    EXPECT_EQ(std::memcmp(ws_ + e, zero, 16), 0);
  }
  EXPECT_EQ(lookup(ws_, in("LONGER")), 0u);
  EXPECT_EQ(lookup(ws_, in("SH")), 0u);
  EXPECT_NE(rd8(ws_, nm) & kReleased, 0);
  EXPECT_EQ(rd32(ws_, hdr::Garbage), garbage_before + name_object_size(6) + 4);
  EXPECT_TRUE(heap_consistent(ws_));
  force_gcol(ws_);
  EXPECT_TRUE(heap_consistent(ws_));
  EXPECT_EQ(symbol_name(keep, ws_), in("KEEPER"));
}

TEST_F(SymtabTest, NameMemoryNeverPassesTheHeapTop) {
  const std::uint32_t top = rd32(ws_, hdr::HeapTop);
  // The gap left below the names must still hold the free block that the
  // name fix-up makes of it (12 bytes at least).
  wr32(ws_, hdr::TokenAreaLimit, top + 28);
  EXPECT_THROW(allocate_long_name_memory(16, ws_), AplError);
  EXPECT_EQ(rd32(ws_, hdr::TokenAreaLimit), top + 28);
  EXPECT_EQ(allocate_long_name_memory(12, ws_), top + 16);
  EXPECT_EQ(rd32(ws_, hdr::TokenAreaLimit), top + 12);
}

// In a workspace of 16 MB or more an offset can have a top byte of 1 to 3
// and so look like a packed short name; the length byte keeps them apart.
class BigWorkspaceSymtab : public SymtabTest {
 protected:
  BigWorkspaceSymtab() : SymtabTest(64u * 1024 * 1024) {}
};

TEST_F(BigWorkspaceSymtab, ShortAndLongNamesNeverCollide) {
  struct Case {
    const char* short_name;
    std::uint32_t packed;
    const char* long_name;
  } cases[] = {{"A", 0x01610000, "LONGNAME"}, {"AB", 0x02616200, "LONGERNAME"}, {"ABD", 0x03616264, "LONGESTNAME"}};
  for (const auto& c : cases) {
    const std::string longn = in(c.long_name);
    const std::uint32_t size = name_object_size(static_cast<std::uint32_t>(longn.size()));
    // Place the name object at the offset that equals the packed short name.
    ASSERT_LT(c.packed + size, rd32(ws_, hdr::StackPointer));
    wr32(ws_, hdr::TokenAreaLimit, c.packed + size);
    std::uint32_t le = use_name(ws_, longn);
    ASSERT_EQ(rd32(ws_, le + sym::Name), c.packed) << c.long_name;

    const std::string shortn = in(c.short_name);
    EXPECT_EQ(lookup(ws_, shortn), 0u) << c.short_name;
    std::uint32_t se = use_name(ws_, shortn);
    EXPECT_NE(se, le);
    EXPECT_EQ(rd32(ws_, se + sym::Name), c.packed);
    EXPECT_EQ(lookup(ws_, shortn), se);
    EXPECT_EQ(lookup(ws_, longn), le);
    EXPECT_EQ(rd16(ws_, le + sym::Uses), 1);
    EXPECT_EQ(rd16(ws_, se + sym::Uses), 1);
    wr32(ws_, hdr::TokenAreaLimit, rd32(ws_, hdr::StackPointer));
  }
}

}  // namespace
}  // namespace zema
