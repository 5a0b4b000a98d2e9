#include "interpreter/engine/classes.h"

#include <cstring>

#include "interpreter/engine/call.h"
#include "interpreter/workspace/arrays.h"
#include "interpreter/workspace/errors.h"
#include "interpreter/workspace/heap.h"
#include "interpreter/workspace/integrity.h"
#include "interpreter/workspace/object_pool.h"
#include "interpreter/workspace/support.h"
#include "interpreter/workspace/symtab.h"

namespace zema {

namespace {

std::uint32_t entry_at(std::uint32_t cls, std::uint32_t i) { return cls + pobj::Entries + mentry::Size * i; }

void add_use(std::uint16_t token, Ws ws) {
  const std::uint32_t e = entry_of_token(token);
  if (rd16(ws, e + sym::Uses) == kMaxUses) error(E_SYSTEM_LIMIT, 0, 0, ws);
  wr16(ws, e + sym::Uses, rd16(ws, e + sym::Uses) + 1);
}

// Room for members left in the class object.
std::uint32_t room_left(std::uint32_t cls, Ws ws) {
  const std::uint32_t room = (rd32(ws, cls + obj::Size) - pobj::HeaderSize) / mentry::Size;
  return room - rd32(ws, cls + pobj::Count);
}

// The class in `slot` moved into a new object with room for `extra` more
// members; answers its offset. The old copy is freed without releasing
// what it held (its owner kind and type cleared).
std::uint32_t grow_class(std::uint32_t slot, std::uint32_t extra, Ws ws) {
  const std::uint32_t old_size = rd32(ws, class_in_slot(slot, ws) + obj::Size);
  const std::uint32_t off = getspc(old_size + mentry::Size * extra - 8, ws);
  const std::uint32_t old = class_in_slot(slot, ws);  // compaction may have moved it
  std::memset(ws + off + 8, 0, old_size + mentry::Size * extra - 8);
  std::memcpy(ws + off + 8, ws + old + 8, old_size - 8);
  wr8(ws, off + pobj::Arch, 0);
  wr8(ws, off + obj::Type, ET_CLASS);
  set_owner(off, 0, OK_CLASS, ws);
  const std::uint32_t p = object_pool(ws);
  wr32(ws, p + pool::Table + 4 * slot, off);
  move_pooled_owner_words(off, static_cast<std::int64_t>(off) - static_cast<std::int64_t>(old), ws);
  wr8(ws, old, OK_WORD);
  wr8(ws, old + obj::Type, 0);
  wr32(ws, old - 4, 0);
  mgarb(old, ws);
  return off;
}

// A scalar reference to `slot` (element type 14).
std::uint32_t new_reference_scalar(std::uint32_t slot, Ws ws) {
  const std::uint32_t a = new_array(ET_OBJREF, 0, nullptr, ws);
  wr32(ws, a + obj::Shape, slot);
  return a;
}

}  // namespace

void stamp_class(std::uint32_t cls, Ws ws) {
  std::uint32_t date = 0;
  const std::uint32_t t = sup_tds(&date, ws);
  wr32(ws, cls + pobj::Stamp, date);
  wr32(ws, cls + pobj::Stamp + 4, t);
}

std::uint32_t class_in_slot(std::uint32_t slot, Ws ws) {
  const std::uint32_t p = object_pool(ws);
  if (slot == 0 || p == 0 || slot >= rd32(ws, p + pool::Capacity)) return 0;
  const std::uint32_t off = find_object_instance(slot, ws);
  if (off == 0 || rd8(ws, off + obj::Type) != ET_CLASS || rd8(ws, off + pobj::Arch) != 0) return 0;
  return off;
}

std::uint32_t class_def_from_symidx(std::uint16_t token, Ws ws) {
  const std::uint32_t e = entry_of_token(token);
  if ((rd8(ws, e + sym::Type) & kSymTypeMask) != SYM_CLASS) return 0;
  const std::uint32_t v = rd32(ws, e + sym::Value);
  if (v == 0 || rd8(ws, v + obj::Type) != ET_OBJREF || rd16(ws, v + obj::Rank4) != 0) return 0;
  return class_in_slot(rd32(ws, v + obj::Shape), ws);
}

int create_empty_class(std::uint16_t name, std::uint16_t parent, std::uint32_t room, bool empty, Ws ws) {
  std::uint32_t parent_slot = 0;
  if (parent != 0) {
    const std::uint32_t pc = class_def_from_symidx(parent, ws);
    if (pc == 0) return 12;
    parent_slot = rd32(ws, pc + pobj::OwnSlot);
  }
  gcol(ws);
  const std::uint32_t e = entry_of_token(name);
  const std::uint8_t type_byte = rd8(ws, e + sym::Type);
  if ((type_byte & kSymTypeMask) == SYM_CLASS) {
    std::uint32_t cls = class_def_from_symidx(name, ws);
    if (cls == 0) ZEMA_SYSTEM_ERROR(ws);
    if (parent != 0 && rd32(ws, cls + pobj::ParentSlot) != parent_slot) return 12;
    if (!empty) return 0;
    // Replaced in its own slot: the members go, the identity stays.
    const std::uint32_t slot = rd32(ws, cls + pobj::OwnSlot);
    const std::uint32_t size = pobj::HeaderSize + mentry::Size * room;
    const std::uint32_t off = getspc(size - 8, ws);
    cls = class_in_slot(slot, ws);
    std::memset(ws + off + 8, 0, size - 8);
    wr8(ws, off + obj::Type, ET_CLASS);
    wr8(ws, off + pobj::Arch, 0);
    for (std::uint32_t w : {pobj::RefCount, pobj::OwnSlot, pobj::ParentSlot, pobj::NameSymbol, pobj::SerialHigh,
                            pobj::SerialLow})
      wr32(ws, off + w, rd32(ws, cls + w));
    stamp_class(off, ws);
    set_owner(off, 0, OK_CLASS, ws);
    wr32(ws, object_pool(ws) + pool::Table + 4 * slot, off);
    // The old object releases its members, but not its place in the
    // hierarchy: it is freed as a plain pooled class whose slot is gone.
    wr8(ws, cls + pobj::Arch, 0);
    wr32(ws, cls + pobj::OwnSlot, 0);
    wr32(ws, cls - 4, 0);
    const std::uint32_t n = rd32(ws, cls + pobj::Count);
    for (std::uint32_t i = 0; i < n; ++i) {
      const std::uint32_t me = entry_at(cls, i);
      release_member_value(me, ws);
      clnuse(rd16(ws, me + mentry::Token), ws);
    }
    wr32(ws, cls + pobj::Count, 0);
    wr8(ws, cls, OK_WORD);
    wr8(ws, cls + obj::Type, 0);
    mgarb(cls, ws);
    return 0;
  }
  if ((type_byte & kSymTypeMask) != SYM_UNDEF) return 12;
  // The name holds a null reference first, so that the reference needs no
  // room once the class exists (which no compaction may then find
  // unreferenced); a class that does not fit leaves the name as it was.
  const std::uint32_t ref = new_reference_scalar(0, ws);
  wr32(ws, e + sym::Value, ref);
  set_owner(ref, e, OK_SYMBOL, ws);
  wr8(ws, e + sym::Type, static_cast<std::uint8_t>((type_byte & kSymLocalFlag) | SYM_CLASS));
  std::uint32_t off = 0;
  try {
    off = create_object_instance(pobj::HeaderSize + mentry::Size * room, ws);
  } catch (const AplError&) {
    const std::uint32_t r = rd32(ws, e + sym::Value);
    wr32(ws, e + sym::Value, 0);
    wr8(ws, e + sym::Type, type_byte);
    mgarb(r, ws);
    throw;
  }
  const std::uint32_t slot = rd32(ws, off + pobj::OwnSlot);
  wr8(ws, off + obj::Type, ET_CLASS);
  wr8(ws, off + pobj::Arch, 0);
  set_owner(off, 0, OK_CLASS, ws);
  wr32(ws, off + pobj::RefCount, 1);
  wr32(ws, off + pobj::ParentSlot, parent_slot);
  wr32(ws, off + pobj::NameSymbol, static_cast<std::uint32_t>(name) * 8);
  stamp_class(off, ws);
  // The name's reference is the class's first: counted by hand above.
  const std::uint32_t name_ref = rd32(ws, e + sym::Value);
  wr32(ws, name_ref + obj::Shape, slot);
  wr8(ws, name_ref + obj::Flags1, rd8(ws, name_ref + obj::Flags1) | kRefsCounted);
  if (!(type_byte & kSymLocalFlag)) add_use(name, ws);
  return 0;
}

int own_member_index(std::uint32_t cls, std::uint16_t token, Ws ws) {
  const std::uint32_t n = rd32(ws, cls + pobj::Count);
  for (std::uint32_t i = 0; i < n; ++i)
    if (rd16(ws, entry_at(cls, i) + mentry::Token) == token) return static_cast<int>(i);
  return -1;
}

MemberRef internal_class_member(std::uint16_t token, std::uint32_t slot, Ws ws) {
  MemberRef m;
  std::uint32_t off = find_object_instance(slot, ws);
  if (off == 0 || rd8(ws, off + pobj::Arch) != 0) return m;
  if (rd8(ws, off + obj::Type) != ET_CLASS) off = class_in_slot(rd32(ws, off + pobj::ClassSlot), ws);
  // At most one step per pool slot: a damaged chain cannot loop.
  for (std::uint32_t steps = rd32(ws, object_pool(ws) + pool::Capacity); off != 0 && steps > 0; --steps) {
    if (rd32(ws, off + pobj::NameSymbol) == 0) return m;
    const int i = own_member_index(off, token, ws);
    if (i >= 0) {
      const std::uint32_t me = entry_at(off, static_cast<std::uint32_t>(i));
      m.kind = rd8(ws, me + mentry::Kind);
      m.access = rd8(ws, me + mentry::Access) & 7;
      m.value = m.kind == SYM_UNDEF ? 0 : rd32(ws, me + mentry::Value);
      m.owner = rd32(ws, off + pobj::OwnSlot);
      return m;
    }
    off = class_in_slot(rd32(ws, off + pobj::ParentSlot), ws);
  }
  return m;
}

int set_named_class_property(std::uint32_t slot, std::uint16_t token, std::uint32_t value, Ws ws) {
  std::uint32_t cls = class_in_slot(slot, ws);
  if (cls == 0) return 12;
  int i = own_member_index(cls, token, ws);
  if (i >= 0) {
    const std::uint8_t kind = rd8(ws, entry_at(cls, static_cast<std::uint32_t>(i)) + mentry::Kind);
    if (kind != SYM_VAR && kind != SYM_UNDEF) return 12;
  }
  // Room first, then the copy (the value found again through its owner
  // after each compaction): a copy that does not fit changes nothing but
  // the room.
  const std::uint32_t value_slot = value != 0 ? owner_slot(value, ws) : 0;
  if (i < 0 && room_left(cls, ws) == 0) grow_class(slot, 4, ws);
  std::uint32_t copy = 0;
  if (value != 0) {
    value = rd32(ws, value_slot);
    const std::uint32_t size = rd32(ws, value + obj::Size);
    copy = getspc(size - 8, ws);
    value = rd32(ws, value_slot);
    std::memcpy(ws + copy + 8, ws + value + 8, size - 8);
    count_value_references(copy, ws);
  }
  cls = class_in_slot(slot, ws);
  std::uint32_t me;
  if (i < 0) {
    const std::uint32_t n = rd32(ws, cls + pobj::Count);
    me = entry_at(cls, n);
    wr16(ws, me + mentry::Token, token);
    wr8(ws, me + mentry::Access, 0);
    wr32(ws, me + mentry::Value, 0);
    wr32(ws, cls + pobj::Count, n + 1);
    add_use(token, ws);
  } else {
    me = entry_at(cls, static_cast<std::uint32_t>(i));
    const std::uint32_t old = rd32(ws, me + mentry::Value);
    const std::uint8_t kind = rd8(ws, me + mentry::Kind);
    wr32(ws, me + mentry::Value, 0);
    if (old != 0 && kind != SYM_UNDEF) mgarb(old, ws);
  }
  wr8(ws, me + mentry::Kind, value != 0 ? SYM_VAR : SYM_UNDEF);
  if (copy != 0) {
    wr32(ws, me + mentry::Value, copy);
    set_owner(copy, me + mentry::Value, OK_WORD, ws);
  }
  stamp_class(cls, ws);
  return 0;
}

int set_member_details(std::uint32_t slot, std::uint16_t token, std::uint8_t access, Ws ws) {
  const std::uint32_t cls = class_in_slot(slot, ws);
  if (cls == 0) return 12;
  const int i = own_member_index(cls, token, ws);
  if (i < 0) return 28;
  wr8(ws, entry_at(cls, static_cast<std::uint32_t>(i)) + mentry::Access, access & 7);
  return 0;
}

namespace {

// Takes entry `i` out of the pooled object at `off` (a class's member or
// an instance's property): its value released, later entries moved down
// (their values' owner words following), the count one less.
void remove_entry(std::uint32_t off, std::uint32_t i, Ws ws) {
  const std::uint32_t n = rd32(ws, off + pobj::Count);
  release_member_value(entry_at(off, i), ws);
  for (std::uint32_t j = i + 1; j < n; ++j) {
    const std::uint32_t from = entry_at(off, j), to = entry_at(off, j - 1);
    std::memcpy(ws + to, ws + from, mentry::Size);
    const std::uint32_t moved = rd32(ws, to + mentry::Value);
    if (moved != 0 && rd8(ws, to + mentry::Kind) != SYM_UNDEF) wr32(ws, moved - 4, to + mentry::Value);
  }
  std::memset(ws + entry_at(off, n - 1), 0, mentry::Size);
  wr32(ws, off + pobj::Count, n - 1);
}

bool property_kind(std::uint8_t kind) { return kind == SYM_VAR || kind == SYM_UNDEF; }

// Whether the class in `slot` is `ancestor` or descends from it.
bool descends_from(std::uint32_t slot, std::uint32_t ancestor, Ws ws) {
  const std::uint32_t p = object_pool(ws);
  for (std::uint32_t guard = p ? rd32(ws, p + pool::Capacity) : 0; slot != 0 && guard; --guard) {
    if (slot == ancestor) return true;
    const std::uint32_t off = class_in_slot(slot, ws);
    if (off == 0) return false;
    slot = rd32(ws, off + pobj::ParentSlot);
  }
  return false;
}

}  // namespace

int delete_class_member(std::uint16_t cls_token, std::uint16_t member, Ws ws) {
  const std::uint32_t cls = class_def_from_symidx(cls_token, ws);
  if (cls == 0) return 12;
  const int i = own_member_index(cls, member, ws);
  if (i < 0) return 28;
  const std::uint8_t kind = rd8(ws, entry_at(cls, static_cast<std::uint32_t>(i)) + mentry::Kind);
  const std::uint32_t cls_slot = rd32(ws, cls + pobj::OwnSlot);
  remove_entry(cls, static_cast<std::uint32_t>(i), ws);
  stamp_class(cls, ws);
  // A property gone from the class: the instances of the class and of its
  // descendants for which the name is no property any more lose their own
  // values for it.
  if (property_kind(kind) && !property_kind(internal_class_member(member, cls_slot, ws).kind)) {
    const std::uint32_t p = object_pool(ws);
    const std::uint32_t capacity = p ? rd32(ws, p + pool::Capacity) : 0;
    for (std::uint32_t s = 1; s < capacity; ++s) {
      const std::uint32_t off = find_object_instance(s, ws);
      if (off == 0 || rd8(ws, off + obj::Type) != ET_INSTANCE || rd8(ws, off + pobj::Arch) != 0) continue;
      if (!descends_from(rd32(ws, off + pobj::ClassSlot), cls_slot, ws)) continue;
      if (property_kind(internal_class_member(member, s, ws).kind)) continue;
      for (std::uint32_t k = 0; k < rd32(ws, off + pobj::Count); ++k)
        if (rd16(ws, entry_at(off, k) + mentry::Token) == member) {
          remove_entry(off, k, ws);
          break;
        }
    }
  }
  clnuse(member, ws);
  return 0;
}

void check_privacy_violation(std::uint32_t slot, std::uint8_t access, Ws ws) {
  if (!(access & kPrivate)) return;
  if (slot != 0 && rd32(ws, hdr::CurrentInstance) == slot) return;
  raise_extended_error_ascii(E_DOMAIN, "Cannot access private class member from outside the class", ws);
}

std::uint32_t find_calling_instance(Ws ws) {
  const auto instance = [&](std::uint32_t slot) {
    return object_slot_live(slot, ws) && rd8(ws, find_object_instance(slot, ws) + obj::Type) == ET_INSTANCE;
  };
  const std::uint32_t current = rd32(ws, hdr::CurrentInstance);
  if (!object_slot_live(current, ws)) return 0;
  if (instance(current)) return current;
  // A class's method: the instance saved by the nearest frame that saved
  // one; a frame that saved none, or a freed object, ends the search.
  for (std::uint32_t link = rd32(ws, hdr::SiLink); link != 0 && rd32(ws, link) != 0; link = rd32(ws, link)) {
    const std::uint32_t saved = rd32(ws, link - siframe::Link + siframe::Instance);
    if (!object_slot_live(saved, ws)) return 0;
    if (instance(saved)) return saved;
  }
  return 0;
}

bool erase_class_name(std::uint32_t entry, Ws ws) {
  const std::uint8_t type_byte = rd8(ws, entry + sym::Type);
  if ((type_byte & kSymTypeMask) != SYM_CLASS) return false;
  mark_class_as_deleted(static_cast<std::uint16_t>(token_of_entry(entry)), ws);
  const std::uint32_t value = rd32(ws, entry + sym::Value);
  wr32(ws, entry + sym::Value, 0);
  wr8(ws, entry + sym::Type, (type_byte & kSymLocalFlag) | SYM_UNDEF);
  if (value) mgarb(value, ws);
  if (!(type_byte & kSymLocalFlag)) clnus2(entry, ws);
  return true;
}

void mark_class_as_deleted(std::uint16_t token, Ws ws) {
  const std::uint32_t cls = class_def_from_symidx(token, ws);
  if (cls != 0) wr32(ws, cls + pobj::NameSymbol, 0);
}

}  // namespace zema
