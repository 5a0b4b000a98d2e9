#include "interpreter/workspace/integrity.h"

#include <cstring>
#include <string>

#include "host/charset.h"
#include "interpreter/workspace/entry.h"
#include "interpreter/workspace/errors.h"
#include "interpreter/workspace/support.h"
#include "interpreter/workspace/symtab.h"

namespace zema {

namespace {

// Where an object pool keeps its slot table, from the pool's offset.
constexpr std::uint32_t kPoolSlots = 40;
constexpr std::size_t kExtendedMessageLimit = 511;

bool holds_value_object(std::uint8_t kind) {
  switch (kind) {
    case SYM_VAR:
    case SYM_LABEL:
    case SYM_SHARED:
    case SYM_GROUP:
    case SYM_OPERAND:
    case SYM_CLASS: return true;
    default: return false;
  }
}

// Step 1: names and kinds of the bucket area's entries.
int check_names(Ws ws) {
  const std::uint32_t heap_top = rd32(ws, hdr::HeapTop);
  const std::uint32_t entries = rd16(ws, hdr::BucketEntries);
  for (std::uint32_t i = 0; i < entries; ++i) {
    const std::uint32_t e = kBucketArea + kSymtabEntrySize * i;
    const std::uint32_t length = rd8(ws, e + sym::Length);
    if (length == 0) continue;
    const std::uint8_t kind = rd8(ws, e + sym::Type) & kSymTypeMask;
    const std::uint32_t name = rd32(ws, e + sym::Name);
    if (kind == SYM_UNDEF && name == 0) {
      // A name without value and without a name: the entry is emptied.
      wr8(ws, e + sym::Length, 0);
      wr32(ws, e + sym::Value, 0);
      wr8(ws, e + sym::Type, 0);
      continue;
    }
    if (length > kMaxNameLength) return IF_NAME_TOO_LONG;
    if (length > 3) {
      if (name >= heap_top) return IF_OFFSET_RANGE;
      const std::uint32_t size = rd32(ws, name + obj::Size);
      const std::uint32_t expected = name_object_size(length);
      if (size != expected && size != expected - 2) return IF_NAME_OBJECT_SIZE;
    } else {
      if (name >> 24 != length) return IF_SHORT_NAME_LENGTH;
      const std::uint32_t padding = length == 1 ? 0xFFFFu : length == 2 ? 0xFFu : 0;
      if (name & padding) return IF_SHORT_NAME_PADDING;
    }
    if (kind > SYM_CLASS) return IF_SYMBOL_KIND;
    if (holds_value_object(kind)) {
      const std::uint32_t value = rd32(ws, e + sym::Value);
      if (value >= heap_top) return IF_OFFSET_RANGE;
      if (rd8(ws, value + obj::Flags1) & kHoldsTokenLines) return IF_TOKEN_LINE_MARK;
    }
  }
  return IF_OK;
}

// Step 2: every named entry with a value owns it.
int check_values(Ws ws) {
  const std::uint32_t heap_top = rd32(ws, hdr::HeapTop);
  const std::uint32_t entries = rd16(ws, hdr::BucketEntries);
  for (std::uint32_t i = 0; i < entries; ++i) {
    const std::uint32_t e = kBucketArea + kSymtabEntrySize * i;
    if (rd8(ws, e + sym::Length) == 0) continue;
    const std::uint8_t kind = rd8(ws, e + sym::Type) & kSymTypeMask;
    if (kind == SYM_UNDEF || kind == SYM_SYSFN || kind == SYM_SYSFN0) continue;
    const std::uint32_t value = rd32(ws, e + sym::Value);
    if (value >= heap_top) return IF_OFFSET_RANGE;
    if ((rd8(ws, value + obj::Kind) & 0x0F) != OK_SYMBOL) return IF_VALUE_OWNER_KIND;
    if (rd32(ws, value - 4) != e) return IF_VALUE_OWNER;
  }
  return IF_OK;
}

// Steps 3 and 4: the heap from the end of the symbol table to the heap top.
int check_heap(Ws ws) {
  const std::uint32_t heap_top = rd32(ws, hdr::HeapTop);
  const std::uint32_t ws_top = rd32(ws, hdr::Top);
  const std::uint32_t lowest = rd32(ws, hdr::LowestReleased);
  const std::uint32_t pool = rd32(ws, hdr::ObjectPool);
  std::uint64_t garbage = 0;
  std::uint64_t off = kHeapStart;
  while (off < heap_top) {
    const std::uint32_t size = rd32(ws, off + obj::Size);
    if (size < 12 || (size & 3) || off + size + 4 > heap_top) return IF_HEAP_CHAIN;
    const std::uint8_t kind_byte = rd8(ws, off + obj::Kind);
    if (kind_byte & kReleased) {
      if (lowest != 0 && off >= lowest) garbage += size + 4;
    } else {
      const std::uint32_t owner = rd32(ws, off - 4);
      std::uint64_t place;
      switch (kind_byte & 0x0F) {
        case OK_WORD: place = owner; break;
        case OK_INSTANCE:
        case OK_CLASS:
          if (pool == 0) return IF_OWNER_KIND;
          // A pooled object's owner word is 0: its slot number is its own.
          place = pool + std::uint64_t(rd32(ws, off + 16)) * 4 + kPoolSlots;
          break;
        case OK_STACK: place = std::uint64_t(owner) + 2; break;
        case OK_SYMBOL: place = std::uint64_t(owner) + 4; break;
        case OK_NEXTLINE: place = std::uint64_t(owner) + 8; break;
        default: return IF_OWNER_KIND;
      }
      if (place + 4 > ws_top) return IF_OFFSET_RANGE;
      if (rd32(ws, place) != off) return IF_OWNER_SLOT;
    }
    off += size + 4;
  }
  if (off != heap_top) return IF_HEAP_CHAIN;
  if (lowest != 0 && garbage != rd32(ws, hdr::Garbage)) return IF_GARBAGE_COUNT;
  return IF_OK;
}

// The ⎕ET pair of an error code raised without a routine of its own.
void et_pair_of(int code, int& major, int& minor) {
  major = 0;
  minor = 1;
  if (code >= E_UNAUTHORIZED_FILE_ACCESS && code <= E_LOGICAL_UNIT) {
    major = 6;
    minor = (code - E_UNAUTHORIZED_FILE_ACCESS) / 4 + 1;
  } else if (code == E_DOMAIN) {
    major = 5;
    minor = 4;
  } else if (code == E_SYSTEM_ERROR) {
    major = 1;
    minor = 2;
  } else if (code == E_DEFN) {
    minor = 2;
  } else if (code == E_INTERRUPT) {
    major = 1;
  }
}

}  // namespace

int check_integrity(Ws ws) {
  if (int r = check_names(ws)) return r;
  if (int r = check_values(ws)) return r;
  return check_heap(ws);
}

void change_qmount(Ws ws, int n, const std::uint8_t* bytes, std::uint8_t* destination) {
  sup_qmt(n, bytes, destination, ws);
}

void print_extended_error(const std::uint8_t* message, Ws ws) {
  if (message == nullptr || message[0] == 0 || rd32(ws, hdr::TrapWord) != 0) return;
  std::size_t n = 0;
  while (n < kExtendedMessageLimit && message[n] != 0) ++n;
  print_message(std::string_view(reinterpret_cast<const char*>(message), n), ws);
}

void raise_extended_error(int code, const std::uint8_t* message, Ws ws) {
  print_extended_error(message, ws);
  switch (code) {
    case E_WS_FULL: xwsfll(ws);
    case E_SYNTAX: synter(ws);
    case E_RANK: ranker(ws);
    case E_LENGTH: lener(ws);
    case E_NONCE: noncer_1(ws);
    case E_VALUE: valer(ws);
    case E_INDEX: indxer(ws);
    case E_VALENCE: valence_error(ws);
    case E_AXIS: axis_error(ws);
    case E_SYSTEM_LIMIT: limit_error(ws);
    case E_SYMBOL_TABLE_FULL: symtab_full(ws);
    case E_STRUCTURED_CONTROL: sc_error(ws);
    default: {
      int major, minor;
      et_pair_of(code, major, minor);
      error(code, major, minor, ws);
    }
  }
}

void raise_extended_error_ascii(int code, const char* message, Ws ws) {
  std::uint8_t text[kExtendedMessageLimit + 1];
  std::size_t n = 0;
  if (message)
    for (; n < kExtendedMessageLimit && message[n] != 0; ++n) text[n] = fontin(static_cast<std::uint8_t>(message[n]));
  text[n] = 0;
  raise_extended_error(code, text, ws);
}

}  // namespace zema
