#include "interpreter/workspace/heap.h"

#include <cstring>

#include "interpreter/workspace/errors.h"
#include "interpreter/workspace/object_pool.h"
#include "interpreter/workspace/stack.h"

namespace zema {

namespace {

TokenLineRelease token_line_release = nullptr;

constexpr std::uint32_t kStackMargin = 100;

// Objects of this size or more are placed in released runs (getspc_placed)
// and stay where they are when gcol compacts: below it, finding a run costs
// little next to filling the object, and sliding it costs as much again.
constexpr std::uint32_t kLargeObject = 256u << 10;

std::uint32_t size_of(std::uint32_t off, Ws ws) { return rd32(ws, off + obj::Size); }
std::uint8_t kind_of(std::uint32_t off, Ws ws) { return rd8(ws, off) & 0x0F; }

// Whether `total` bytes (object and owner word) fit at the heap top and still
// leave the margin below the stack.
bool fits(std::uint64_t total, Ws ws) {
  std::uint64_t top = rd32(ws, hdr::HeapTop);
  std::uint64_t sp = rd32(ws, hdr::StackPointer);
  return top + total + kStackMargin <= sp;
}

// Object size for n bytes after the 8-byte prefix; never below 12 bytes.
std::uint64_t alloc_size(std::uint32_t n) {
  std::uint64_t size = (std::uint64_t(n) + 11) & ~std::uint64_t(3);
  return size < 12 ? 12 : size;
}

}  // namespace

std::uint32_t getspc(std::uint32_t n, Ws ws) {
  std::uint64_t size = alloc_size(n);
  if (!fits(size + 4, ws)) {
    force_gcol(ws);
    if (!fits(size + 4, ws)) ws_full(ws);
  }
  std::uint32_t off = rd32(ws, hdr::HeapTop);
  wr32(ws, off - 4, hdr::TokenRegister);
  wr32(ws, off, 0);
  wr8(ws, off + obj::Kind, OK_STACK);
  wr32(ws, off + obj::Size, static_cast<std::uint32_t>(size));
  // No element type yet: releasing the object before its maker writes one
  // must not take old bytes for references.
  wr8(ws, off + obj::Type, 0);
  wr32(ws, hdr::HeapTop, off + static_cast<std::uint32_t>(size) + 4);
  return off;
}

std::uint32_t getspc_clean(std::uint32_t n, Ws ws) { return getspc(n, ws); }

namespace {

// Writes a released object over `bytes` bytes from `owner_word` (the owner
// word and the object after it); bytes is at least 16.
void write_released(std::uint32_t owner_word, std::uint32_t bytes, Ws ws) {
  wr32(ws, owner_word, 0);
  wr32(ws, owner_word + 4, kReleased);
  wr32(ws, owner_word + 4 + obj::Size, bytes - 4);
  wr8(ws, owner_word + 4 + obj::Type, 0);
}

// The offset of an object of `size` bytes laid over the lowest run of
// released objects that holds it with nothing left over or with a remainder
// of at least 16 bytes (made a released object), or 0 when no run does.
std::uint32_t place_in_released(std::uint64_t size, Ws ws) {
  const std::uint32_t top = rd32(ws, hdr::HeapTop);
  std::uint32_t off = rd32(ws, hdr::LowestReleased);
  if (off == 0) return 0;
  auto next = [&](std::uint32_t at) {
    const std::uint32_t sz = size_of(at, ws);
    if (sz < 12 || (sz & 3) || std::uint64_t(at) + sz + 4 > top) ZEMA_SYSTEM_ERROR(ws);
    return at + sz + 4;
  };
  while (off < top) {
    if (!(rd8(ws, off) & kReleased)) {
      off = next(off);
      continue;
    }
    std::uint32_t end = off;
    while (end < top && (rd8(ws, end) & kReleased)) end = next(end);
    const std::uint64_t bytes = end - off;  // from off's owner word to end's
    if (bytes == size + 4 || bytes >= size + 4 + 16) {
      const std::uint32_t rest = static_cast<std::uint32_t>(bytes - size - 4);
      if (rest != 0) write_released(off + static_cast<std::uint32_t>(size), rest, ws);
      const std::uint32_t garbage = rd32(ws, hdr::Garbage) - static_cast<std::uint32_t>(size) - 4;
      wr32(ws, hdr::Garbage, garbage);
      // The lowest released object is now the remainder, or the first
      // released one after the run.
      std::uint32_t lowest = rest != 0 ? off + static_cast<std::uint32_t>(size) + 4 : end;
      if (garbage == 0) {
        lowest = 0;
      } else if (rd32(ws, hdr::LowestReleased) != off) {
        lowest = rd32(ws, hdr::LowestReleased);
      } else {
        while (lowest < top && !(rd8(ws, lowest) & kReleased)) lowest = next(lowest);
        if (lowest >= top) ZEMA_SYSTEM_ERROR(ws);
      }
      wr32(ws, hdr::LowestReleased, lowest);
      return off;
    }
    off = end;
  }
  return 0;
}

}  // namespace

std::uint32_t getspc_placed(std::uint32_t n, Ws ws) {
  const std::uint64_t size = alloc_size(n);
  std::uint32_t off = 0;
  if (size >= kLargeObject && rd32(ws, hdr::Garbage) >= size + 4) off = place_in_released(size, ws);
  if (off == 0) return getspc(n, ws);
  wr32(ws, off - 4, hdr::TokenRegister);
  wr32(ws, off, 0);
  wr8(ws, off + obj::Kind, OK_STACK);
  wr32(ws, off + obj::Size, static_cast<std::uint32_t>(size));
  wr8(ws, off + obj::Type, 0);
  return off;
}

std::uint32_t getspc_nest(std::uint32_t n, Ws ws) {
  std::uint64_t size = alloc_size(n);
  std::uint64_t low = rd32(ws, hdr::NestLow);
  std::uint64_t high = rd32(ws, hdr::NestHigh);
  if (low + size + kStackMargin >= high) ws_full(ws);
  auto off = static_cast<std::uint32_t>(low);
  wr32(ws, off, 0);
  wr32(ws, off + obj::Size, static_cast<std::uint32_t>(size));
  wr32(ws, hdr::NestLow, static_cast<std::uint32_t>(low + size));
  return off;
}

std::uint32_t lddr(std::uint32_t n, std::uint32_t src_end, std::uint32_t dst_end, Ws ws) {
  std::memmove(ws + dst_end - n, ws + src_end - n, n);
  return src_end - n;
}

void set_owner(std::uint32_t off, std::uint32_t owner, std::uint8_t kind, Ws ws) {
  // A value a name keeps holds counted references.
  if (kind == OK_SYMBOL) count_value_references(off, ws);
  wr32(ws, off - 4, owner);
  wr8(ws, off, (rd8(ws, off) & 0xF0) | (kind & 0x0F));
}

bool release_entry(const StackEntry& e, Ws ws) {
  if (!(e.cls & kOwnsObject) || e.value == 0) return false;
  mgarb(e.value, ws);
  return true;
}

void settle_entry(std::uint32_t slot, const StackEntry& e, Ws ws) {
  // The result's references are counted before the slot's old value gives
  // up its own: a result may refer to what only the old value held.
  if ((e.cls & kOwnsObject) && e.value != 0) count_value_references(e.value, ws);
  release_entry(load_entry(slot, ws), ws);
  store_entry(slot, e, ws);
  if ((e.cls & kOwnsObject) && e.value != 0) set_owner(e.value, slot, OK_STACK, ws);
}

std::uint32_t owner_slot(std::uint32_t off, Ws ws) {
  std::uint32_t owner = rd32(ws, off - 4);
  switch (kind_of(off, ws)) {
    case OK_WORD: return owner;
    case OK_STACK: return owner + 2;
    case OK_SYMBOL: return owner + 4;
    case OK_NEXTLINE: return owner + 8;
    case OK_INSTANCE:
    case OK_CLASS: {
      const std::uint32_t p = object_pool(ws);
      return p == 0 ? 0 : p + pool::Table + 4 * rd32(ws, off + pobj::OwnSlot);
    }
    default: return 0;
  }
}

void mgarb(std::uint32_t off, Ws ws) {
  if (off == 0) return;
  std::uint8_t k = rd8(ws, off);
  if (k & kReleased) ZEMA_SYSTEM_ERROR(ws);
  wr8(ws, off, k | kReleased);
  std::uint32_t size = size_of(off, ws);
  std::uint32_t top = rd32(ws, hdr::HeapTop);
  if (off + size + 4 == top && !state_has(st::Defining, ws)) {
    wr32(ws, hdr::HeapTop, top - size - 4);
  } else {
    wr32(ws, hdr::Garbage, rd32(ws, hdr::Garbage) + size + 4);
    std::uint32_t lowest = rd32(ws, hdr::LowestReleased);
    if (lowest == 0 || lowest >= off) wr32(ws, hdr::LowestReleased, off);
  }
  // What the object owns goes with it. Its storage stays in place until
  // compaction (or is already gone at the top), so it can still be read.
  if (rd8(ws, off + obj::Flags1) & kHoldsTokenLines) {
    if (!token_line_release) ZEMA_SYSTEM_ERROR(ws);
    token_line_release(off, ws);
  } else {
    release_object_contents(off, ws);
  }
}

void set_token_line_release(TokenLineRelease release) { token_line_release = release; }

void set_uncollected_garbage_limit(Ws ws) {
  std::uint32_t gap = rd32(ws, hdr::StackPointer) - rd32(ws, hdr::HeapTop);
  wr32(ws, hdr::GarbageLimit, gap / 100);
}

namespace {

// Slides the live objects above the lowest released one down over the
// released ones. Unless `full`, a large object stays where it is: the space
// below it is left as one released object (the lowest of them recorded, their
// bytes counted as garbage), for getspc_placed to fill.
void compact(bool full, Ws ws) {
  std::uint32_t start = rd32(ws, hdr::LowestReleased);
  std::uint32_t kept = rd32(ws, hdr::Garbage);
  wr32(ws, hdr::LowestReleased, 0);
  wr32(ws, hdr::Garbage, 0);
  std::uint32_t top = rd32(ws, hdr::HeapTop);
  if (start == 0) {
    if (kept != 0) ZEMA_SYSTEM_ERROR(ws);
    return;
  }
  std::uint32_t dst = start;
  std::uint32_t src = start;
  std::uint32_t left = 0, lowest_left = 0;
  while (src < top) {
    std::uint32_t size = size_of(src, ws);
    if (size < 12 || (size & 3) || src + size + 4 > top) ZEMA_SYSTEM_ERROR(ws);
    if (rd8(ws, src) & kReleased) {
      kept -= size + 4;
      src += size + 4;
      continue;
    }
    if (!full && size >= kLargeObject && dst != src) {
      write_released(dst - 4, src - dst, ws);
      left += src - dst;
      if (lowest_left == 0) lowest_left = dst;
      dst = src;
    }
    std::uint32_t owner = rd32(ws, src - 4);
    std::uint8_t kind = kind_of(src, ws);
    const bool pooled = kind == OK_INSTANCE || kind == OK_CLASS;
    // Instances and classes live only in an object pool.
    if (pooled && object_pool(ws) == 0) ZEMA_SYSTEM_ERROR(ws);
    std::uint32_t slot = owner_slot(src, ws);
    if (!pooled && kind != OK_WORD && kind != OK_STACK && kind != OK_SYMBOL && kind != OK_NEXTLINE)
      ZEMA_SYSTEM_ERROR(ws);
    if (rd32(ws, slot) != src) ZEMA_SYSTEM_ERROR(ws);
    wr32(ws, dst - 4, owner);
    if (dst != src) std::memmove(ws + dst, ws + src, size);
    wr32(ws, slot, dst);
    if (pooled && dst != src) move_pooled_owner_words(dst, std::int64_t(dst) - std::int64_t(src), ws);
    if (rd8(ws, dst + obj::Flags1) & kHoldsTokenLines) {
      std::uint32_t next = rd32(ws, dst + 8);
      if (next != 0) wr32(ws, next - 4, dst);
    }
    if (dst != src) wr32(ws, dst + size, 0);
    dst += size + 4;
    src += size + 4;
  }
  if (src != top || kept != 0) ZEMA_SYSTEM_ERROR(ws);
  wr32(ws, hdr::HeapTop, dst);
  wr32(ws, hdr::Garbage, left);
  wr32(ws, hdr::LowestReleased, lowest_left);
}

}  // namespace

void gcol(Ws ws) {
  compact_object_pool(ws);
  auto garbage = rdi32(ws, hdr::Garbage);
  if (garbage == 0 || garbage <= rdi32(ws, hdr::GarbageLimit)) return;
  compact(true, ws);
}

void gcol_leaving_large(Ws ws) {
  compact_object_pool(ws);
  auto garbage = rdi32(ws, hdr::Garbage);
  if (garbage == 0 || garbage <= rdi32(ws, hdr::GarbageLimit)) return;
  // All the garbage one run that the last tidying left under a large
  // object: tidying again would move nothing.
  const std::uint32_t low = rd32(ws, hdr::LowestReleased);
  if (low != 0 && std::uint64_t(size_of(low, ws)) + 4 == std::uint32_t(garbage)) {
    const std::uint32_t next = low + size_of(low, ws) + 4;
    if (next < rd32(ws, hdr::HeapTop) && !(rd8(ws, next) & kReleased) && size_of(next, ws) >= kLargeObject) return;
  }
  compact(false, ws);
}

void force_gcol(Ws ws) {
  compact_object_pool(ws);
  if (rd32(ws, hdr::Garbage) == 0) return;
  compact(true, ws);
}

bool heap_consistent(Ws ws) {
  std::uint32_t top = rd32(ws, hdr::HeapTop);
  std::uint32_t off = kHeapStart;
  std::uint64_t garbage = 0;
  while (off < top) {
    std::uint32_t size = size_of(off, ws);
    if (size < 12 || (size & 3) || std::uint64_t(off) + size + 4 > top) return false;
    if (rd8(ws, off) & kReleased) {
      garbage += size + 4;
    } else {
      std::uint32_t slot = owner_slot(off, ws);
      std::uint8_t kind = kind_of(off, ws);
      if (kind != OK_WORD && kind != OK_STACK && kind != OK_SYMBOL && kind != OK_NEXTLINE &&
          !((kind == OK_INSTANCE || kind == OK_CLASS) && slot != 0))
        return false;
      if (slot + 4 > rd32(ws, hdr::Top) || rd32(ws, slot) != off) return false;
    }
    off += size + 4;
  }
  return off == top && garbage == rd32(ws, hdr::Garbage);
}

}  // namespace zema
