#include "interpreter/workspace/symtab.h"

#include <cstring>

#include "interpreter/workspace/errors.h"
#include "interpreter/workspace/heap.h"

namespace zema {

const std::uint8_t fttb[18] = {
    3, 3, 3,     // defined functions
    2,           // variable
    1,           // label
    2, 2, 2,     // system variable, niladic system function, shared variable
    5,           // group
    3, 3,        // system function with arguments, operand function
    4, 4, 4, 4,  // defined operators
    0,           // name without a value
    9,           // class name
    0,
};

namespace {

constexpr std::uint32_t kShortNameMax = 3;

// The packed word of a short name as it is stored: the bytes past the name's
// last character are zero, so a name's word does not depend on what happened
// to follow it in the name buffer.
std::uint32_t packed_short_name(std::uint32_t length, const std::uint8_t* text) {
  std::uint32_t word = get_sname_as_integer(length, text);
  return word & ~(0x00FFFFFFu >> (8 * length));
}

bool entry_matches(std::uint32_t e, std::uint32_t length, std::uint32_t packed, Ws ws) {
  // The length byte tells short entries (name word = packed name) from long
  // ones (name word = offset); comparing it first keeps an offset whose top
  // byte happens to be 1-3 from matching a packed short name.
  if (rd8(ws, e + sym::Length) != length) return false;
  if (length <= kShortNameMax) return rd32(ws, e + sym::Name) == packed;
  std::uint32_t name = rd32(ws, e + sym::Name);
  return std::memcmp(ws + name + 8, ws + kNameBuffer, length) == 0;
}

// One probing step: remembers the first free entry, counts the entry as
// visited and advances (wrapping) through the bucket area. Answers 4 to go
// on, 0 when every entry has been visited.
int symnxt(std::uint32_t& first_free, std::uint32_t& pos, std::uint32_t area_bytes, std::uint32_t& visited,
           std::uint32_t area, Ws ws) {
  std::uint32_t e = area + pos;
  if (first_free == 0 && rd8(ws, e + sym::Length) == 0) first_free = e;
  visited += kSymtabEntrySize;
  if (visited >= area_bytes) return 0;
  pos += kSymtabEntrySize;
  if (pos >= area_bytes) pos = 0;
  return 4;
}

}  // namespace

std::uint32_t get_sname_as_integer(std::uint32_t length, const std::uint8_t* text) {
  return (length << 24) | (std::uint32_t(text[0]) << 16) | (std::uint32_t(text[1]) << 8) | std::uint32_t(text[2]);
}

std::uint32_t symbol_bucket(std::uint8_t first_char) {
  std::uint8_t c = first_char & 0x7F;
  return (c >= 0x61 && c <= 0x7B) ? std::uint32_t(c - 0x61) : 26u;
}

int symfnd(std::uint32_t& first_free, std::uint32_t& found, std::uint32_t length, Ws ws) {
  first_free = 0;
  found = 0;
  const std::uint32_t area_bytes = std::uint32_t(rd16(ws, hdr::BucketEntries)) * kSymtabEntrySize;
  const std::uint32_t bucket_bytes = std::uint32_t(rd16(ws, hdr::BucketSize)) * kSymtabEntrySize;
  if (area_bytes == 0) return 1;
  const std::uint32_t packed = length <= kShortNameMax ? packed_short_name(length, ws + kNameBuffer) : 0;
  std::uint32_t pos = symbol_bucket(rd8(ws, kNameBuffer)) * bucket_bytes;
  if (pos >= area_bytes) pos = 0;
  std::uint32_t visited = 0;
  do {
    if (entry_matches(kBucketArea + pos, length, packed, ws)) {
      found = pos + kFixedAreaBytes;
      return 0;
    }
  } while (symnxt(first_free, pos, area_bytes, visited, kBucketArea, ws) != 0);
  return 1;
}

std::uint32_t allocate_long_name_memory(std::uint32_t size, Ws ws) {
  // The gap left between the heap top and the names must still hold the
  // free block (12 bytes at least) that the name fix-up makes of it.
  constexpr std::uint64_t kFillerMin = 12;
  std::uint32_t lim = rd32(ws, hdr::TokenAreaLimit);
  std::uint64_t need = std::uint64_t(size) + 4;
  if (std::uint64_t(lim) < std::uint64_t(rd32(ws, hdr::HeapTop)) + kFillerMin + need) ws_full(ws);
  lim -= static_cast<std::uint32_t>(need);
  wr32(ws, hdr::TokenAreaLimit, lim);
  return lim + 4;
}

std::uint32_t syment(std::uint32_t entry, std::uint32_t length, Ws ws) {
  std::uint32_t name;
  if (length <= kShortNameMax) {
    name = packed_short_name(length, ws + kNameBuffer);
  } else {
    const std::uint32_t size = name_object_size(length);
    name = allocate_long_name_memory(size, ws);
    wr32(ws, name - 4, entry);  // owner kind 0: the entry's name word
    wr32(ws, name, 0);
    wr32(ws, name + obj::Size, size);
    std::memset(ws + name + 8, 0, size - 8);
    std::memcpy(ws + name + 8, ws + kNameBuffer, length);
  }
  wr32(ws, entry + sym::Name, name);
  wr32(ws, entry + sym::Value, 0);
  wr8(ws, entry + sym::Type, SYM_UNDEF);
  wr8(ws, entry + sym::Length, length);
  wr16(ws, entry + sym::Uses, 0);
  wr32(ws, entry + sym::Reserved, 0);
  if (rd8(ws, kNameBuffer) == kQuadChar) {
    wr32(ws, entry + sym::Value, rd32(ws, kSysFnNumber));
    wr8(ws, entry + sym::Type, rd8(ws, kSysFnType));
  }
  return table_offset_of_entry(entry);
}

std::uint32_t symuse(std::uint32_t rel, std::int32_t text_cursor, std::int32_t token_cursor, Ws ws) {
  const std::uint32_t e = entry_of_table_offset(rel);
  const std::uint16_t uses = rd16(ws, e + sym::Uses);
  if (uses == kMaxUses) limit(text_cursor, token_cursor, ws);
  wr16(ws, e + sym::Uses, uses + 1u);
  return e;
}

void clnuse(std::uint32_t token, Ws ws) { clnus2(entry_of_token(token), ws); }

void clnus2(std::uint32_t entry, Ws ws) {
  if ((rd8(ws, entry + sym::Type) & kSymTypeMask) == SYM_SYSVAR) return;
  std::uint16_t uses = rd16(ws, entry + sym::Uses);
  if (uses == 0) return;  // nothing counted: nothing to drop
  --uses;
  if (uses != 0) {
    wr16(ws, entry + sym::Uses, uses);
    return;
  }
  if (rd8(ws, entry + sym::Length) > kShortNameMax) mgarb(rd32(ws, entry + sym::Name), ws);
  std::memset(ws + entry, 0, kSymtabEntrySize);
}

std::string symbol_name(std::uint32_t entry, Ws ws) {
  const std::uint32_t length = rd8(ws, entry + sym::Length);
  const std::uint32_t name = rd32(ws, entry + sym::Name);
  if (length <= kShortNameMax) {
    const char packed[3] = {char(name >> 16), char(name >> 8), char(name)};
    return std::string(packed, length);
  }
  return std::string(reinterpret_cast<const char*>(ws + name + 8), length);
}

void symtfl(std::int32_t /*text_cursor*/, std::int32_t /*token_cursor*/, Ws ws) {
  error(E_SYMBOL_TABLE_FULL, 1, 4, ws);
}

void limit(std::int32_t /*text_cursor*/, std::int32_t /*token_cursor*/, Ws ws) {
  error(E_SYSTEM_LIMIT, 1, 13, ws);
}

}  // namespace zema
