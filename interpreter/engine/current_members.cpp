#include "interpreter/engine/current_members.h"

#include "interpreter/engine/call.h"
#include "interpreter/engine/classes.h"
#include "interpreter/engine/engine.h"
#include "interpreter/engine/properties.h"
#include "interpreter/workspace/arrays.h"
#include "interpreter/workspace/errors.h"
#include "interpreter/workspace/heap.h"
#include "interpreter/workspace/integrity.h"
#include "interpreter/workspace/object_pool.h"
#include "interpreter/workspace/symtab.h"

namespace zema {

namespace {

bool is_property(std::uint8_t kind) { return kind == SYM_VAR || kind == SYM_UNDEF; }

std::uint32_t entry_at(std::uint32_t off, std::uint32_t i) { return off + pobj::Entries + mentry::Size * i; }

// The engine's token class for a method member of symbol type `kind`.
std::uint8_t method_class(std::uint8_t kind) {
  switch (kind) {
    case 0: return TC_NILADIC;
    case 1:
    case 2: return TC_NAMEDFN;
    case 11:
    case 12: return TC_MONOP;
    case 13:
    case 14: return TC_DYOP;
    default: return 0;
  }
}

[[noreturn]] void raise_code(int code, Ws ws) {
  switch (code) {
    case E_SYNTAX: synter(ws);
    case E_VALUE: valer(ws);
    case E_DOMAIN: domner(ws);
    default: error(code, 0, 0, ws);
  }
}

// The object a variable named by `target` refers to (checked as
// assign_current_class_member says).
std::uint32_t target_object(std::uint16_t target, Ws ws) {
  const std::uint32_t e = entry_of_token(target);
  if ((rd8(ws, e + sym::Type) & kSymTypeMask) != SYM_VAR) domner(ws);
  const std::uint32_t v = rd32(ws, e + sym::Value);
  if (array_type(v, ws) != ET_OBJREF) domner(ws);
  if (array_rank(v, ws) > 1) ranker(ws);
  if (array_count(v, ws) != 1) lener(ws);
  return rd32(ws, array_data(v, ws));
}

}  // namespace

CurrentMember find_current_class_member(std::uint16_t token, std::uint32_t slot, Ws ws) {
  CurrentMember r;
  if (slot == 0) slot = rd32(ws, hdr::CurrentInstance);
  if (slot == 0 || !object_slot_live(slot, ws)) return r;
  const std::uint32_t off = find_object_instance(slot, ws);
  if (rd8(ws, off + pobj::Arch) != 0) return r;
  const int own = instance_property_index(off, token, ws);
  if (own >= 0) {
    r.kind = rd8(ws, entry_at(off, static_cast<std::uint32_t>(own)) + mentry::Kind);
    const std::uint32_t word = entry_at(off, static_cast<std::uint32_t>(own)) + mentry::Value;
    r.word = rd32(ws, word) != 0 ? word : 0;
    return r;
  }
  const MemberRef m = internal_class_member(token, slot, ws);
  if (m.kind == 0xFF) return r;
  check_privacy_violation(slot, m.access, ws);
  r.kind = m.kind;
  r.access = m.access;
  if (is_property(m.kind)) r.word = property_value_word(slot, token, m, ws);
  return r;
}

bool local_of_running_level(std::uint16_t token, Ws ws) {
  if (!(rd8(ws, entry_of_token(token) + sym::Type) & kSymLocalFlag)) return false;
  for (std::uint32_t link = rd32(ws, hdr::SiLink); link != 0 && rd32(ws, link) != 0; link = rd32(ws, link)) {
    const std::uint32_t frame = link - siframe::Link;
    const std::uint16_t count = rd16(ws, frame + siframe::Count);
    if (count == 0xFFFF) continue;  // an evaluation level: no records
    return frame_localises(frame, token, ws);
  }
  return false;
}

bool frame_localises(std::uint32_t frame, std::uint16_t token, Ws ws) {
  const std::uint32_t n = static_cast<std::uint32_t>(rdi16(ws, frame + siframe::Count)) + 1;
  for (std::uint32_t i = 1; i <= n; ++i) {
    const std::uint32_t r = frame - i * siframe::RecordSize;
    const std::uint8_t kind = rd8(ws, r);
    if ((kind == kRecName || kind == kRecLabel) && rd16(ws, r + 2) == token) return true;
  }
  return false;
}

bool is_current_member_name(std::uint16_t token, Ws ws) {
  if (rd32(ws, hdr::CurrentInstance) == 0 || local_of_running_level(token, ws)) return false;
  return find_current_class_member(token, 0, ws).kind != 0xFF;
}

bool current_member_entry(std::uint16_t token, StackEntry& out, Ws ws) {
  if (rd32(ws, hdr::CurrentInstance) == 0) return false;
  const std::uint8_t type = rd8(ws, entry_of_token(token) + sym::Type) & kSymTypeMask;
  if (type == SYM_SYSVAR || type == SYM_SYSFN0 || type == SYM_SYSFN || type == SYM_OPERAND) return false;
  if (local_of_running_level(token, ws)) return false;
  const CurrentMember m = find_current_class_member(token, 0, ws);
  if (m.kind == 0xFF) return false;
  if (!is_property(m.kind)) {
    const std::uint8_t cls = method_class(m.kind);
    if (cls == 0) return false;
    out = StackEntry{cls, 0, token};
    return true;
  }
  // A target of ←: next to the arrow, or in a list of names, whose names
  // read so far stand as ")" entries above the arrow.
  std::uint32_t above = 0;
  while (entry_class(above, ws) == TC_RPAREN) ++above;
  if (entry_class(above, ws) == TC_ASSIGN) {
    out = StackEntry{TC_VALUE, 0, token};
    return true;
  }
  if (entry_class(0, ws) == TC_INDEXLIST && entry_class(1, ws) == TC_ASSIGN) noncer_1(ws);
  if (m.word == 0) valer(ws);
  const std::uint32_t copy = copy_array(m.word, ws);
  set_owner(copy, hdr::TokenRegister, OK_STACK, ws);
  out = StackEntry{static_cast<std::uint8_t>(kOwnsObject | TC_VALUE), 0, copy};
  return true;
}

void assign_current_class_member(std::uint16_t token, std::uint16_t target, std::uint32_t value_word, Ws ws) {
  const std::uint32_t slot = target == 0 ? rd32(ws, hdr::CurrentInstance) : target_object(target, ws);
  if (slot == 0 || !object_slot_live(slot, ws)) noncer_1(ws);
  const CurrentMember m = find_current_class_member(token, slot, ws);
  if (m.kind == 0xFF) valer(ws);
  if (!is_property(m.kind))
    raise_extended_error_ascii(E_DOMAIN, "Cannot assign to class member - not a property", ws);
  if (m.access & kReadOnly) raise_extended_error_ascii(E_DOMAIN, "Cannot assign to read-only property", ws);
  if (const int code = internal_assign_property(slot, token, value_word, m.access, ws)) raise_code(code, ws);
}

int assign_current_member_name(std::uint16_t token, std::uint32_t value_entry, bool strand, Ws ws) {
  if (!is_current_member_name(token, ws)) return -1;
  find_ws_entry(value_entry, ws);  // VALUE ERROR for a name without a value
  const StackEntry v = load_entry(value_entry, ws);
  const std::uint32_t word = (v.cls & kOwnsObject)
                                 ? value_entry + se::Value
                                 : entry_of_token(static_cast<std::uint16_t>(v.value & 0xFFFF)) + sym::Value;
  assign_current_class_member(token, 0, word, ws);
  if (strand) {
    // The item made for this name is not kept by anything else.
    release_entry(load_entry(value_entry, ws), ws);
    store_entry(value_entry, StackEntry{TC_VALUE, 0, 0}, ws);
    return ES_NEXT_TOKEN;
  }
  // The value, not the member's name, is the assignment's result.
  StackEntry arrow, value;
  unstack(arrow, ws);
  unstack(value, ws);
  release_entry(arrow, ws);
  value.flags |= kSeNoDisplay;
  settle_entry(hdr::TokenRegister, value, ws);
  return ES_NEXT_TOKEN;
}

}  // namespace zema
