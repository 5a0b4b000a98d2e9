#include "interpreter/engine/properties.h"

#include <cstring>
#include <string>

#include "host/charset.h"
#include "interpreter/workspace/errors.h"
#include "interpreter/workspace/heap.h"
#include "interpreter/workspace/integrity.h"
#include "interpreter/workspace/object_pool.h"
#include "interpreter/workspace/symtab.h"

namespace zema {

namespace {

std::uint32_t entry_at(std::uint32_t off, std::uint32_t i) { return off + pobj::Entries + mentry::Size * i; }

bool is_instance(std::uint32_t off, Ws ws) {
  return off != 0 && rd8(ws, off + obj::Type) == ET_INSTANCE && rd8(ws, off + pobj::Arch) == 0;
}

// The current instance when it is an instance of exactly the class in
// `cls_slot` (it then stands for the class's instance properties), else 0.
std::uint32_t calling_instance_of(std::uint32_t cls_slot, Ws ws) {
  const std::uint32_t current = rd32(ws, hdr::CurrentInstance);
  if (current == 0) return 0;
  const std::uint32_t off = find_object_instance(current, ws);
  return is_instance(off, ws) && rd32(ws, off + pobj::ClassSlot) == cls_slot ? current : 0;
}

void say(const char* text, Ws ws) {
  const std::string s = utf8_to_internal(text);
  print_extended_error(reinterpret_cast<const std::uint8_t*>(s.c_str()), ws);
}

// The instance in `slot` moved into a new object one entry longer (the new
// entry {token, kind 3, flags 0, no value} last); answers the entry's index.
// The old copy is freed without releasing what it held.
std::uint32_t grow_instance(std::uint32_t slot, std::uint16_t token, Ws ws) {
  const std::uint32_t old_size = rd32(ws, find_object_instance(slot, ws) + obj::Size);
  const std::uint32_t off = getspc(old_size + mentry::Size - 8, ws);
  const std::uint32_t old = find_object_instance(slot, ws);  // compaction may have moved it
  std::memcpy(ws + off + 8, ws + old + 8, old_size - 8);
  std::memset(ws + off + old_size, 0, mentry::Size);
  wr8(ws, off + pobj::Arch, rd8(ws, old + pobj::Arch));
  set_owner(off, 0, OK_INSTANCE, ws);
  wr32(ws, object_pool(ws) + pool::Table + 4 * slot, off);
  move_pooled_owner_words(off, static_cast<std::int64_t>(off) - static_cast<std::int64_t>(old), ws);
  const std::uint32_t n = rd32(ws, off + pobj::Count);
  const std::uint32_t me = entry_at(off, n);
  wr16(ws, me + mentry::Token, token);
  wr8(ws, me + mentry::Kind, SYM_VAR);
  wr32(ws, off + pobj::Count, n + 1);
  wr8(ws, old, OK_WORD);
  wr8(ws, old + obj::Type, 0);
  wr32(ws, old - 4, 0);
  mgarb(old, ws);
  return n;
}

// Entry `i` of the pooled object in `slot` takes a copy of the array in
// the word at `value_word`; the old value goes.
void store_entry_value(std::uint32_t slot, std::uint32_t i, std::uint32_t value_word, Ws ws) {
  const std::uint32_t size = rd32(ws, rd32(ws, value_word) + obj::Size);
  const std::uint32_t copy = getspc(size - 8, ws);
  std::memcpy(ws + copy + 8, ws + rd32(ws, value_word) + 8, size - 8);
  count_value_references(copy, ws);
  const std::uint32_t me = entry_at(find_object_instance(slot, ws), i);
  const std::uint32_t old = rd32(ws, me + mentry::Value);
  const std::uint8_t kind = rd8(ws, me + mentry::Kind);
  wr32(ws, me + mentry::Value, copy);
  wr8(ws, me + mentry::Kind, SYM_VAR);
  set_owner(copy, me + mentry::Value, OK_WORD, ws);
  if (old != 0 && kind != SYM_UNDEF) mgarb(old, ws);
}

}  // namespace

MemberRef accessible_member(std::uint16_t token, std::uint32_t slot, Ws ws) {
  const MemberRef m = internal_class_member(token, slot, ws);
  if (m.kind == 0xFF) valer(ws);
  if ((m.access & kPrivate) && slot != rd32(ws, hdr::CurrentInstance))
    raise_extended_error_ascii(E_DOMAIN, "Cannot access private class member from outside the class", ws);
  return m;
}

int instance_property_index(std::uint32_t inst, std::uint16_t token, Ws ws) {
  if (!is_instance(inst, ws)) return -1;
  const std::uint32_t n = rd32(ws, inst + pobj::Count);
  for (std::uint32_t i = 0; i < n; ++i)
    if (rd16(ws, entry_at(inst, i) + mentry::Token) == token) return static_cast<int>(i);
  return -1;
}

std::uint32_t property_value_word(std::uint32_t slot, std::uint16_t token, const MemberRef& m, Ws ws) {
  std::uint32_t off = find_object_instance(slot, ws);
  if (off != 0 && rd8(ws, off + obj::Type) == ET_CLASS && !(m.access & kClassWide))
    if (const std::uint32_t inst = calling_instance_of(slot, ws)) off = find_object_instance(inst, ws);
  const int i = instance_property_index(off, token, ws);
  if (i >= 0) {
    const std::uint32_t word = entry_at(off, static_cast<std::uint32_t>(i)) + mentry::Value;
    return rd32(ws, word) != 0 ? word : 0;
  }
  return m.value != 0 ? owner_slot(m.value, ws) : 0;
}

int internal_assign_property(std::uint32_t slot, std::uint16_t token, std::uint32_t value_word, std::uint8_t access,
                             Ws ws) {
  std::uint32_t off = find_object_instance(slot, ws);
  if (off == 0) return E_VALUE;
  if (!(access & kClassWide)) {
    if (rd8(ws, off + obj::Type) == ET_CLASS) {
      const std::uint32_t inst = calling_instance_of(slot, ws);
      if (inst == 0) {
        say("Cannot assign to property without an instance of the class", ws);
        return E_SYNTAX;
      }
      slot = inst;
      off = find_object_instance(slot, ws);
    }
    if (rd32(ws, off + pobj::ClassSlot) == 0) {
      say("Cannot assign to property - class has been deleted", ws);
      return E_VALUE;
    }
    int i = instance_property_index(off, token, ws);
    if (i < 0) i = static_cast<int>(grow_instance(slot, token, ws));
    store_entry_value(slot, static_cast<std::uint32_t>(i), value_word, ws);
    return 0;
  }
  const std::uint32_t owner = internal_class_member(token, slot, ws).owner;
  if (owner == 0) return E_VALUE;
  if (contains_object_reference(rd32(ws, value_word), ws)) {
    say("Cannot assign array containing an object reference to a class-wide property", ws);
    return E_DOMAIN;
  }
  const int i = own_member_index(class_in_slot(owner, ws), token, ws);
  if (i < 0) ZEMA_SYSTEM_ERROR(ws);
  store_entry_value(owner, static_cast<std::uint32_t>(i), value_word, ws);
  return 0;
}

}  // namespace zema
