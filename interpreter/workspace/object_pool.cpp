#include "interpreter/workspace/object_pool.h"

#include <algorithm>
#include <cstring>
#include <vector>

#include "interpreter/workspace/arrays.h"
#include "interpreter/workspace/errors.h"
#include "interpreter/workspace/heap.h"
#include "interpreter/workspace/symtab.h"

namespace zema {

namespace {

// A state-indicator frame's saved current instance and link word (the
// frame layout belongs to the engine; the pool walks only these two).
constexpr std::uint32_t kFrameInstance = 0x2C;
constexpr std::uint32_t kFrameLink = 0x5C;

// A derived function carries an embedded operand from byte 42 when it is
// larger than 53 bytes; the class byte of its operand entry at byte 18
// says what it is.
constexpr std::uint32_t kDerfnEmbedded = 42;
constexpr std::uint32_t kDerfnOperandClass = 18;
constexpr std::uint32_t kDerfnMinSize = 53;
constexpr std::uint8_t kEmbeddedArray = 0x24;
constexpr std::uint8_t kEmbeddedDerfn = 0x21;

// Forwarding entries left in the table while renumbering.
constexpr std::uint32_t kForward = 0x80000000u;

// The largest capacity: the pool object must stay addressable.
constexpr std::uint64_t kMaxCapacity = 0x3FFFFFF0u;

// Whether enough slots are free for compaction to cut or renumber the
// pool: at least pool::ShrinkAt, and at least half of them, so that a pool
// just grown (a third free) is not cut back at the next compaction.
bool enough_free(std::uint32_t cap, std::uint32_t used) {
  const std::uint32_t free_slots = cap - used;
  return free_slots >= pool::ShrinkAt && free_slots >= cap / 2;
}

std::uint32_t capacity(std::uint32_t p, Ws ws) { return rd32(ws, p + pool::Capacity); }
std::uint32_t in_use(std::uint32_t p, Ws ws) { return rd32(ws, p + pool::InUse); }
std::uint32_t table_word(std::uint32_t p, std::uint32_t slot) { return p + pool::Table + 4 * slot; }
std::uint32_t slot_of(std::uint32_t p, std::uint32_t slot, Ws ws) { return rd32(ws, table_word(p, slot)); }
std::uint8_t kind_of(std::uint32_t off, Ws ws) { return rd8(ws, off) & 0x0F; }

bool is_apl_instance(std::uint32_t off, Ws ws) {
  return rd8(ws, off + obj::Type) == ET_INSTANCE && rd8(ws, off + pobj::Arch) == 0;
}
bool is_apl_pooled(std::uint32_t off, Ws ws) { return rd8(ws, off + pobj::Arch) == 0; }

// The items of a nested array: its element count, or the one prototype
// item an empty nested array carries.
std::uint32_t nested_items(std::uint32_t a, Ws ws) {
  const std::uint32_t n = array_count(a, ws);
  return n == 0 ? 1 : n;
}

// Calls f(item offset) for each item of nested array `a` (offsets of 0,
// and offsets outside the object, skipped).
template <class F>
void for_each_item(std::uint32_t a, Ws ws, F&& f) {
  const std::uint32_t size = rd32(ws, a + obj::Size);
  const std::uint32_t data = array_data(a, ws);
  const std::uint32_t n = nested_items(a, ws);
  for (std::uint32_t i = 0; i < n; ++i) {
    if (data + 4 * i + 4 > a + size) break;
    const std::uint32_t rel = rd32(ws, data + 4 * i);
    if (rel == 0 || rel >= size) continue;
    f(a + rel);
  }
}

// Calls f(offset of the slot word) for every reference element of `a` and
// of its items at any depth.
template <class F>
void for_each_reference(std::uint32_t a, Ws ws, F&& f, int depth = 0) {
  if (depth > 200) ZEMA_SYSTEM_ERROR(ws);
  const std::uint8_t t = rd8(ws, a + obj::Type);
  if (t == ET_OBJREF) {
    const std::uint32_t n = array_count(a, ws);
    const std::uint32_t data = array_data(a, ws);
    for (std::uint32_t i = 0; i < n; ++i) f(data + 4 * i);
  } else if (t == ET_NESTED) {
    for_each_item(a, ws, [&](std::uint32_t item) { for_each_reference(item, ws, f, depth + 1); });
  }
}

// The embedded operand of a derived function, 0 for none; `is_array`
// says which kind.
std::uint32_t derfn_embedded(std::uint32_t d, bool& is_array, Ws ws) {
  if (rd32(ws, d + obj::Size) <= kDerfnMinSize) return 0;
  const std::uint8_t cls = rd8(ws, d + kDerfnOperandClass);
  if (cls == kEmbeddedArray) {
    is_array = true;
    return d + kDerfnEmbedded;
  }
  if (cls == kEmbeddedDerfn) {
    is_array = false;
    return d + kDerfnEmbedded;
  }
  return 0;
}

// Calls f on every reference word of a value object: an array's, or a
// derived function's embedded operand's.
template <class F>
void for_each_value_reference(std::uint32_t v, Ws ws, F&& f, int depth = 0) {
  if (depth > 200) ZEMA_SYSTEM_ERROR(ws);
  const std::uint8_t t = rd8(ws, v + obj::Type);
  if (t == ET_OBJREF || t == ET_NESTED) {
    for_each_reference(v, ws, f);
  } else if (t == ET_DERIVED) {
    bool is_array = false;
    if (std::uint32_t e = derfn_embedded(v, is_array, ws))
      is_array ? for_each_reference(e, ws, f) : for_each_value_reference(e, ws, f, depth + 1);
  }
}

// Whether the pool exists and holds any object.
bool pool_holds_objects(Ws ws) {
  const std::uint32_t p = object_pool(ws);
  return p != 0 && in_use(p, ws) > 1;
}

// Whether any property value of APL instance `off` holds a reference.
bool properties_hold_references(std::uint32_t off, Ws ws) {
  const std::uint32_t n = rd32(ws, off + pobj::Count);
  for (std::uint32_t i = 0; i < n; ++i) {
    const std::uint32_t v = rd32(ws, off + pobj::Entries + mentry::Size * i + mentry::Value);
    if (v != 0 && contains_object_reference(v, ws)) return true;
  }
  return false;
}

// Frees the pooled object in `slot`: the slot first (so that references
// back to it from what it holds do nothing), then the object, which
// releases what it holds.
void free_slot(std::uint32_t slot, Ws ws) {
  std::uint32_t p = object_pool(ws);
  const std::uint32_t off = slot_of(p, slot, ws);
  wr32(ws, table_word(p, slot), 0);
  wr32(ws, p + pool::InUse, in_use(p, ws) - 1);
  if (slot < rd32(ws, p + pool::LowestFree)) wr32(ws, p + pool::LowestFree, slot);
  mgarb(off, ws);
}

// Turns the tail of the pool beyond `new_capacity` into a released object.
void cut_pool(std::uint32_t new_capacity, Ws ws) {
  const std::uint32_t p = object_pool(ws);
  const std::uint32_t old_size = rd32(ws, p + obj::Size);
  const std::uint32_t new_size = pool::Table + 4 * new_capacity;
  if (old_size < new_size + 16) return;  // the tail would be too small to be an object
  const std::uint32_t tail = p + new_size + 4;
  wr32(ws, tail - 4, 0);
  wr32(ws, tail, kReleased | OK_WORD);
  wr32(ws, tail + obj::Size, old_size - new_size - 4);
  wr32(ws, p + obj::Size, new_size);
  wr32(ws, p + pool::Capacity, new_capacity);
  wr32(ws, hdr::Garbage, rd32(ws, hdr::Garbage) + old_size - new_size);
  const std::uint32_t lowest = rd32(ws, hdr::LowestReleased);
  if (lowest == 0 || lowest > tail) wr32(ws, hdr::LowestReleased, tail);
}

// A class leaves the hierarchy: its child classes take its parent, and its
// instances take its parent as their class (with that class's name symbol,
// 0 when there is none).
void release_class_links(std::uint32_t off, Ws ws) {
  const std::uint32_t p = object_pool(ws);
  if (p == 0) ZEMA_SYSTEM_ERROR(ws);
  const std::uint32_t self = rd32(ws, off + pobj::OwnSlot);
  const std::uint32_t parent = rd32(ws, off + pobj::ParentSlot);
  const std::uint32_t parent_off = parent != 0 && parent < capacity(p, ws) ? slot_of(p, parent, ws) : 0;
  const std::uint32_t parent_name = parent_off != 0 ? rd32(ws, parent_off + pobj::NameSymbol) : 0;
  const std::uint32_t cap = capacity(p, ws);
  for (std::uint32_t s = 1; s < cap; ++s) {
    const std::uint32_t o = slot_of(p, s, ws);
    if (o == 0 || o == off || (o & kForward) || !is_apl_pooled(o, ws)) continue;
    if (rd8(ws, o + obj::Type) == ET_CLASS) {
      if (rd32(ws, o + pobj::ParentSlot) == self) wr32(ws, o + pobj::ParentSlot, parent_off ? parent : 0);
    } else if (rd32(ws, o + pobj::ClassSlot) == self) {
      wr32(ws, o + pobj::ClassSlot, parent_off ? parent : 0);
      wr32(ws, o + pobj::NameSymbol, parent_name);
    }
  }
}

// ---- marking ------------------------------------------------------------------------------

struct Marker {
  Ws ws;
  std::int64_t left;  // pooled objects not yet marked

  void slot(std::uint32_t s) {
    if (s == 0 || left <= 0) return;
    const std::uint32_t p = object_pool(ws);
    if (s >= capacity(p, ws)) ZEMA_SYSTEM_ERROR(ws);
    const std::uint32_t off = slot_of(p, s, ws);
    if (off == 0) return;
    const std::uint8_t f = rd8(ws, off + pobj::Flags);
    if (f & kSweepMark) return;
    wr8(ws, off + pobj::Flags, f | kSweepMark);
    --left;
    if (is_apl_instance(off, ws)) properties(off);
  }
  void properties(std::uint32_t off) {
    const std::uint32_t n = rd32(ws, off + pobj::Count);
    for (std::uint32_t i = 0; i < n && left > 0; ++i) {
      const std::uint32_t v = rd32(ws, off + pobj::Entries + mentry::Size * i + mentry::Value);
      if (v != 0) value(v);
    }
  }
  void value(std::uint32_t v) {
    for_each_value_reference(v, ws, [&](std::uint32_t word) { slot(rd32(ws, word)); });
  }
};

// Whether a live heap object is a root or a holder of references the pool
// walks must see: a stack entry's value, or the value of a variable, a
// function operand or a class name (or a saved local of those types).
// Pooled objects, the pool and token lines are not; SYSTEM ERROR for an
// unknown owner kind.
bool walked_holder(std::uint32_t off, bool with_words, Ws ws) {
  switch (kind_of(off, ws)) {
    case OK_INSTANCE:
    case OK_CLASS:
    case OK_NEXTLINE: return false;
    case OK_WORD:
      if (!with_words) return false;
      break;
    case OK_STACK: break;
    case OK_SYMBOL: {
      const std::uint8_t type = rd8(ws, rd32(ws, off - 4) + sym::Type) & kSymTypeMask;
      if (type != SYM_VAR && type != SYM_OPERAND && type != SYM_CLASS) return false;
      break;
    }
    default: ZEMA_SYSTEM_ERROR(ws);
  }
  if (rd32(ws, off + obj::Size) <= 12) return false;
  if (rd8(ws, off + obj::Flags1) & kHoldsTokenLines) return false;
  const std::uint8_t t = rd8(ws, off + obj::Type);
  return t == ET_OBJREF || t == ET_NESTED || t == ET_DERIVED;
}

// Calls f on every live heap object for which walked_holder is true.
template <class F>
void for_each_holder(bool with_words, Ws ws, F&& f) {
  const std::uint32_t top = rd32(ws, hdr::HeapTop);
  for (std::uint32_t off = kHeapStart; off < top; off += rd32(ws, off + obj::Size) + 4) {
    if (rd8(ws, off) & kReleased) continue;
    if (walked_holder(off, with_words, ws)) f(off);
  }
}

// Calls f on the word of the current instance, the calling instance and,
// while a function runs, each state-indicator frame's saved instance.
template <class F>
void for_each_instance_word(Ws ws, F&& f) {
  f(hdr::CurrentInstance);
  f(hdr::CallingInstance);
  if (rd16(ws, hdr::RunningToken) == 0) return;
  for (std::uint32_t link = rd32(ws, hdr::SiLink); link != 0 && rd32(ws, link) != 0; link = rd32(ws, link))
    f(link - kFrameLink + kFrameInstance);
}

}  // namespace

// ---- creation -----------------------------------------------------------------------------

void create_new_object_pool(Ws ws) {
  if (object_pool(ws) != 0) return;
  const std::uint32_t n = pool::Table - 8 + 4 * pool::NewCapacity;
  const std::uint32_t p = getspc(n, ws);
  std::memset(ws + p + 8, 0, n);
  wr8(ws, p + obj::Type, ET_POOL);
  wr32(ws, p + pool::Capacity, pool::NewCapacity);
  wr32(ws, p + pool::InUse, 1);
  wr32(ws, p + pool::LowestFree, 1);
  wr32(ws, hdr::ObjectPool, p);
  set_owner(p, hdr::ObjectPool, OK_WORD, ws);
}

void ensure_object_pool_space(std::uint32_t n, Ws ws) {
  create_new_object_pool(ws);
  std::uint32_t p = object_pool(ws);
  if (std::uint64_t(capacity(p, ws)) >= std::uint64_t(in_use(p, ws)) + n) return;
  // Half as much again as is in use (at least 100 beyond what is needed),
  // so that creating n objects copies the table O(log n) times.
  const std::uint64_t used = in_use(p, ws);
  const std::uint64_t needed = used + n + pool::NewCapacity;
  if (needed > kMaxCapacity) ws_full(ws);
  const auto new_cap = static_cast<std::uint32_t>(std::min(std::max(needed, used + used / 2), kMaxCapacity));
  const std::uint32_t bytes = pool::Table - 8 + 4 * new_cap;
  const std::uint32_t q = getspc(bytes, ws);
  // The allocation may have compacted, which may have renumbered, cut or
  // freed the pool: look again.
  p = object_pool(ws);
  if (p == 0) {
    mgarb(q, ws);
    create_new_object_pool(ws);
    p = object_pool(ws);
    if (capacity(p, ws) >= in_use(p, ws) + n) return;
    return ensure_object_pool_space(n, ws);
  }
  if (std::uint64_t(capacity(p, ws)) >= std::uint64_t(in_use(p, ws)) + n) {
    mgarb(q, ws);
    return;
  }
  std::memset(ws + q + 8, 0, bytes);
  std::memcpy(ws + q + 8, ws + p + 8, pool::Table - 8 + 4 * capacity(p, ws));
  wr32(ws, q + pool::Capacity, new_cap);
  wr32(ws, hdr::ObjectPool, q);
  set_owner(q, hdr::ObjectPool, OK_WORD, ws);
  wr32(ws, p - 4, 0);
  mgarb(p, ws);
}

std::uint32_t create_object_instance(std::uint32_t size, Ws ws) {
  if (size < pobj::HeaderSize || (size & 3)) ZEMA_SYSTEM_ERROR(ws);
  ensure_object_pool_space(1, ws);
  const std::uint32_t off = getspc(size - 8, ws);
  std::memset(ws + off + 8, 0, size - 8);
  const std::uint32_t p = object_pool(ws);
  const std::uint32_t cap = capacity(p, ws);
  std::uint32_t slot = rd32(ws, p + pool::LowestFree);
  while (slot < cap && slot_of(p, slot, ws) != 0) ++slot;
  if (slot == 0 || slot >= cap) ZEMA_SYSTEM_ERROR(ws);
  wr8(ws, off + obj::Type, ET_INSTANCE);
  wr8(ws, off + pobj::Arch, 0xFF);
  wr32(ws, off + pobj::OwnSlot, slot);
  std::uint32_t low = rd32(ws, hdr::SerialLow) + 1;
  std::uint32_t high = rd32(ws, hdr::SerialHigh) + (low == 0 ? 1 : 0);
  wr32(ws, hdr::SerialLow, low);
  wr32(ws, hdr::SerialHigh, high);
  wr32(ws, off + pobj::SerialHigh, high);
  wr32(ws, off + pobj::SerialLow, low);
  set_owner(off, 0, OK_INSTANCE, ws);
  wr32(ws, table_word(p, slot), off);
  wr32(ws, p + pool::InUse, in_use(p, ws) + 1);
  std::uint32_t next = slot + 1;
  while (next < cap && slot_of(p, next, ws) != 0) ++next;
  wr32(ws, p + pool::LowestFree, next);
  return off;
}

// ---- counting -----------------------------------------------------------------------------

std::uint32_t find_object_instance(std::uint32_t slot, Ws ws) {
  const std::uint32_t p = object_pool(ws);
  if (p == 0) return 0;
  if (slot >= capacity(p, ws)) ZEMA_SYSTEM_ERROR(ws);
  return slot_of(p, slot, ws);
}

bool object_slot_live(std::uint32_t slot, Ws ws) {
  const std::uint32_t p = object_pool(ws);
  return slot != 0 && p != 0 && slot < capacity(p, ws) && slot_of(p, slot, ws) != 0;
}

void inc_object_reference_count(std::uint32_t slot, Ws ws) {
  if (slot == 0) return;
  const std::uint32_t p = object_pool(ws);
  if (p == 0 || slot >= capacity(p, ws)) ZEMA_SYSTEM_ERROR(ws);
  const std::uint32_t off = slot_of(p, slot, ws);
  if (off == 0) ZEMA_SYSTEM_ERROR(ws);
  wr32(ws, off + pobj::RefCount, rd32(ws, off + pobj::RefCount) + 1);
}

void dec_object_reference_count(std::uint32_t slot, Ws ws) {
  if (slot == 0) return;
  const std::uint32_t p = object_pool(ws);
  if (p == 0) return;
  if (slot >= capacity(p, ws)) ZEMA_SYSTEM_ERROR(ws);
  const std::uint32_t off = slot_of(p, slot, ws);
  if (off == 0) return;
  if (!(rd8(ws, p + pool::Flags) & kCyclesPossible) && is_apl_instance(off, ws) &&
      properties_hold_references(off, ws))
    wr8(ws, p + pool::Flags, rd8(ws, p + pool::Flags) | kCyclesPossible);
  const std::uint32_t count = rd32(ws, off + pobj::RefCount);
  if (count == 0) ZEMA_SYSTEM_ERROR(ws);
  wr32(ws, off + pobj::RefCount, count - 1);
  if (count == 1 && !(rd8(ws, hdr::MiscBits) & kSweepRunning)) free_slot(slot, ws);
}

void inc_array_reference_counts(std::uint32_t array, Ws ws) {
  const std::uint8_t t = rd8(ws, array + obj::Type);
  if (t == ET_NESTED && !pool_holds_objects(ws)) return;
  if (t != ET_OBJREF && t != ET_NESTED) return;
  for_each_reference(array, ws, [&](std::uint32_t word) { inc_object_reference_count(rd32(ws, word), ws); });
}

bool dec_array_reference_counts(std::uint32_t array, Ws ws) {
  const std::uint8_t t = rd8(ws, array + obj::Type);
  if (t == ET_NESTED && !pool_holds_objects(ws)) return false;
  if (t != ET_OBJREF && t != ET_NESTED) return false;
  bool released = false;
  for_each_reference(array, ws, [&](std::uint32_t word) {
    const std::uint32_t s = rd32(ws, word);
    if (s != 0) {
      released = true;
      dec_object_reference_count(s, ws);
    }
  });
  return released;
}

void inc_derfn_reference_counts(std::uint32_t derfn, Ws ws) {
  if (!pool_holds_objects(ws)) return;
  for_each_value_reference(derfn, ws, [&](std::uint32_t word) { inc_object_reference_count(rd32(ws, word), ws); });
}

bool dec_derfn_reference_counts(std::uint32_t derfn, Ws ws) {
  if (!pool_holds_objects(ws)) return false;
  bool released = false;
  for_each_value_reference(derfn, ws, [&](std::uint32_t word) {
    const std::uint32_t s = rd32(ws, word);
    if (s != 0) {
      released = true;
      dec_object_reference_count(s, ws);
    }
  });
  return released;
}

void count_value_references(std::uint32_t off, Ws ws) {
  if (off == 0) return;
  const std::uint8_t f1 = rd8(ws, off + obj::Flags1);
  if (f1 & (kRefsCounted | kHoldsTokenLines)) return;
  if (rd32(ws, off + obj::Size) <= 12) return;
  const std::uint8_t t = rd8(ws, off + obj::Type);
  if (t != ET_OBJREF && t != ET_NESTED && t != ET_DERIVED) return;
  const std::uint32_t p = object_pool(ws);
  // Without objects nothing is counted (nor marked), whatever the slots say.
  if (!pool_holds_objects(ws)) return;
  const std::uint32_t cap = capacity(p, ws);
  for_each_value_reference(off, ws, [&](std::uint32_t word) {
    const std::uint32_t s = rd32(ws, word);
    if (s == 0) return;
    if (s >= cap || slot_of(p, s, ws) == 0) {
      wr32(ws, word, 0);
      return;
    }
    inc_object_reference_count(s, ws);
  });
  wr8(ws, off + obj::Flags1, f1 | kRefsCounted);
}

bool contains_object_reference(std::uint32_t array, Ws ws) {
  const std::uint8_t t = rd8(ws, array + obj::Type);
  if (t == ET_OBJREF) return true;
  if (t != ET_NESTED) return false;
  bool found = false;
  for_each_item(array, ws, [&](std::uint32_t item) { found = found || contains_object_reference(item, ws); });
  return found;
}

void nullify_object_references(std::uint32_t array, Ws ws) {
  for_each_reference(array, ws, [&](std::uint32_t word) { wr32(ws, word, 0); });
}

// ---- release and moves ----------------------------------------------------------------------

void release_object_contents(std::uint32_t off, Ws ws) {
  const std::uint8_t kind = kind_of(off, ws);
  if (kind == OK_CLASS && is_apl_pooled(off, ws)) release_class_links(off, ws);
  if (kind == OK_INSTANCE || kind == OK_CLASS) {
    if (is_apl_pooled(off, ws)) {
      const std::uint32_t n = rd32(ws, off + pobj::Count);
      for (std::uint32_t i = 0; i < n; ++i) release_member_value(off + pobj::Entries + mentry::Size * i, ws);
      if (kind == OK_CLASS)
        for (std::uint32_t i = 0; i < n; ++i) {
          const std::uint16_t token = rd16(ws, off + pobj::Entries + mentry::Size * i + mentry::Token);
          if (token != 0) clnuse(token, ws);
        }
    }
    if (const std::uint32_t text = rd32(ws, off + pobj::DisplayText)) {
      wr32(ws, off + pobj::DisplayText, 0);
      mgarb(text, ws);
    }
    return;
  }
  if (rd32(ws, off + obj::Size) <= 12 || object_pool(ws) == 0) return;
  if (!(rd8(ws, off + obj::Flags1) & kRefsCounted)) return;
  const std::uint8_t t = rd8(ws, off + obj::Type);
  if (t == ET_OBJREF || t == ET_NESTED)
    dec_array_reference_counts(off, ws);
  else if (t == ET_DERIVED)
    dec_derfn_reference_counts(off, ws);
}

void release_member_value(std::uint32_t entry, Ws ws) {
  std::uint32_t v = rd32(ws, entry + mentry::Value);
  wr32(ws, entry + mentry::Value, 0);
  const std::uint8_t kind = rd8(ws, entry + mentry::Kind);
  if (v == 0 || kind == SYM_UNDEF) return;
  if (!is_function_type(kind)) {
    mgarb(v, ws);
    return;
  }
  // A function's lines: each owns the next through its next-line word
  // (owner kind OK_NEXTLINE, owner + 8), cut before the line is released.
  constexpr std::uint32_t kNextLineWord = 8;
  while (v != 0) {
    const std::uint32_t next = rd32(ws, v + kNextLineWord);
    wr32(ws, v + kNextLineWord, 0);
    mgarb(v, ws);
    v = next;
  }
}

void move_pooled_owner_words(std::uint32_t off, std::int64_t delta, Ws ws) {
  if (!is_apl_pooled(off, ws)) return;
  const std::uint32_t n = rd32(ws, off + pobj::Count);
  for (std::uint32_t i = 0; i < n; ++i) {
    const std::uint32_t v = rd32(ws, off + pobj::Entries + mentry::Size * i + mentry::Value);
    if (v != 0) wr32(ws, v - 4, static_cast<std::uint32_t>(rd32(ws, v - 4) + delta));
  }
  if (const std::uint32_t text = rd32(ws, off + pobj::DisplayText))
    wr32(ws, text - 4, static_cast<std::uint32_t>(rd32(ws, text - 4) + delta));
}

// ---- the sweep ----------------------------------------------------------------------------

void mark_and_sweep(Ws ws) {
  std::uint32_t p = object_pool(ws);
  if (p == 0 || in_use(p, ws) <= 1 || !(rd8(ws, p + pool::Flags) & kCyclesPossible)) return;
  const std::uint32_t cap = capacity(p, ws);
  std::int64_t n = 0;
  for (std::uint32_t s = 1; s < cap; ++s) {
    const std::uint32_t off = slot_of(p, s, ws);
    if (off == 0) continue;
    wr8(ws, off + pobj::Flags, rd8(ws, off + pobj::Flags) & ~kSweepMark);
    ++n;
  }
  Marker m{ws, n};
  for_each_holder(false, ws, [&](std::uint32_t off) { m.value(off); });
  for_each_instance_word(ws, [&](std::uint32_t word) { m.slot(rd32(ws, word)); });
  if (m.left < 0) ZEMA_SYSTEM_ERROR(ws);
  if (m.left > 0) {
    wr8(ws, hdr::MiscBits, rd8(ws, hdr::MiscBits) | kSweepRunning);
    std::int64_t left = m.left;
    for (std::uint32_t s = 1; s < cap && left > 0; ++s) {
      p = object_pool(ws);
      const std::uint32_t off = slot_of(p, s, ws);
      if (off == 0 || (rd8(ws, off + pobj::Flags) & kSweepMark)) continue;
      free_slot(s, ws);
      --left;
    }
    wr8(ws, hdr::MiscBits, rd8(ws, hdr::MiscBits) & ~kSweepRunning);
  }
  p = object_pool(ws);
  wr8(ws, p + pool::Flags, rd8(ws, p + pool::Flags) & ~kCyclesPossible);
}

// ---- compaction of the pool -----------------------------------------------------------------

void compact_object_pool(Ws ws) {
  if (object_pool(ws) == 0) return;
  mark_and_sweep(ws);
  std::uint32_t p = object_pool(ws);
  const std::uint32_t used = in_use(p, ws);
  if (used == 1) {
    wr32(ws, hdr::ObjectPool, 0);
    wr32(ws, p - 4, 0);
    mgarb(p, ws);
    return;
  }
  const std::uint32_t cap = capacity(p, ws);
  if (!enough_free(cap, used)) return;
  std::uint32_t high = cap - 1;
  while (high >= used && slot_of(p, high, ws) == 0) --high;
  if (high - used < pool::NewCapacity) {
    const std::uint32_t new_cap = high + pool::NewCapacity;
    if (cap - new_cap >= pool::NewCapacity) cut_pool(new_cap, ws);
    return;
  }
  // Renumber: the top objects move into the lowest free slots, leaving
  // forwarding entries, until slots 1 … used − 1 are all in use.
  std::uint32_t free_slot_no = rd32(ws, p + pool::LowestFree);
  std::uint32_t top = high;
  for (;;) {
    while (free_slot_no < used && slot_of(p, free_slot_no, ws) != 0) ++free_slot_no;
    if (free_slot_no >= used) break;
    while (top > free_slot_no && (slot_of(p, top, ws) == 0 || (slot_of(p, top, ws) & kForward))) --top;
    if (top <= free_slot_no) ZEMA_SYSTEM_ERROR(ws);
    const std::uint32_t off = slot_of(p, top, ws);
    wr32(ws, table_word(p, free_slot_no), off);
    wr32(ws, off + pobj::OwnSlot, free_slot_no);
    wr32(ws, table_word(p, top), kForward | free_slot_no);
  }
  auto forward = [&](std::uint32_t word) {
    const std::uint32_t s = rd32(ws, word);
    if (s == 0 || s >= cap) return;
    const std::uint32_t t = slot_of(p, s, ws);
    if (t & kForward) wr32(ws, word, t & ~kForward);
  };
  for_each_holder(true, ws, [&](std::uint32_t off) { for_each_value_reference(off, ws, forward); });
  for (std::uint32_t s = 1; s < used; ++s) {
    const std::uint32_t off = slot_of(p, s, ws);
    if (off == 0 || (off & kForward)) ZEMA_SYSTEM_ERROR(ws);
    forward(off + (rd8(ws, off + obj::Type) == ET_CLASS ? pobj::ParentSlot : pobj::ClassSlot));
  }
  for_each_instance_word(ws, forward);
  for (std::uint32_t s = used; s < cap; ++s) wr32(ws, table_word(p, s), 0);
  wr32(ws, p + pool::LowestFree, used);
  cut_pool(used + pool::NewCapacity, ws);
}

// ---- the invariant ----------------------------------------------------------------------------

bool object_reference_counts_consistent(bool exact, Ws ws) {
  const std::uint32_t p = object_pool(ws);
  const std::uint32_t cap = p != 0 ? capacity(p, ws) : 0;
  std::vector<std::uint32_t> tally(cap, 0);
  bool ok = true;
  const std::uint32_t top = rd32(ws, hdr::HeapTop);
  for (std::uint32_t off = kHeapStart; off < top && ok; off += rd32(ws, off + obj::Size) + 4) {
    if ((rd8(ws, off) & kReleased) || !(rd8(ws, off + obj::Flags1) & kRefsCounted)) continue;
    if (rd8(ws, off + obj::Flags1) & kHoldsTokenLines) continue;
    for_each_value_reference(off, ws, [&](std::uint32_t word) {
      const std::uint32_t s = rd32(ws, word);
      if (s == 0) return;
      if (s >= cap || slot_of(p, s, ws) == 0) {
        ok = false;
        return;
      }
      ++tally[s];
    });
  }
  for (std::uint32_t s = 1; s < cap && ok; ++s) {
    const std::uint32_t off = slot_of(p, s, ws);
    if (off == 0) continue;
    const std::uint32_t count = rd32(ws, off + pobj::RefCount);
    ok = exact ? count == tally[s] : count >= tally[s];
  }
  return ok;
}

bool object_pool_consistent(Ws ws) {
  const std::uint32_t p = object_pool(ws);
  const std::uint32_t top = rd32(ws, hdr::HeapTop);
  std::uint32_t pooled_in_heap = 0;
  for (std::uint32_t off = kHeapStart; off < top; off += rd32(ws, off + obj::Size) + 4) {
    if (rd32(ws, off + obj::Size) < 12) return false;
    if (rd8(ws, off) & kReleased) continue;
    const std::uint8_t k = kind_of(off, ws);
    if (k == OK_INSTANCE || k == OK_CLASS) ++pooled_in_heap;
  }
  if (p == 0) return pooled_in_heap == 0;
  if (p < kHeapStart || p >= top || (rd8(ws, p) & kReleased) || kind_of(p, ws) != OK_WORD) return false;
  if (rd32(ws, p - 4) != hdr::ObjectPool || rd8(ws, p + obj::Type) != ET_POOL) return false;
  const std::uint32_t cap = capacity(p, ws);
  if (rd32(ws, p + obj::Size) != pool::Table + 4 * cap) return false;
  std::uint32_t used = 1;
  std::uint32_t first_free = cap;
  if (slot_of(p, 0, ws) != 0) return false;
  for (std::uint32_t s = 1; s < cap; ++s) {
    const std::uint32_t off = slot_of(p, s, ws);
    if (off == 0) {
      if (first_free == cap) first_free = s;
      continue;
    }
    ++used;
    if (off < kHeapStart || off >= top || (rd8(ws, off) & kReleased)) return false;
    const std::uint8_t k = kind_of(off, ws);
    const std::uint8_t t = rd8(ws, off + obj::Type);
    if (!((k == OK_INSTANCE && t == ET_INSTANCE) || (k == OK_CLASS && t == ET_CLASS))) return false;
    if (rd32(ws, off + pobj::OwnSlot) != s || rd32(ws, off - 4) != 0) return false;
    const std::uint32_t link = rd32(ws, off + (t == ET_CLASS ? pobj::ParentSlot : pobj::ClassSlot));
    if (link >= cap) return false;
  }
  if (used != in_use(p, ws) || used != pooled_in_heap + 1) return false;
  const std::uint32_t lowest = rd32(ws, p + pool::LowestFree);
  return lowest >= 1 && lowest <= first_free;
}

}  // namespace zema
