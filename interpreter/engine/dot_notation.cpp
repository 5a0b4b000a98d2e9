#include "interpreter/engine/dot_notation.h"

#include <cstring>

#include "interpreter/engine/classes.h"
#include "interpreter/engine/method_calls.h"
#include "interpreter/engine/properties.h"
#include "interpreter/engine/reduce_operator.h"
#include "interpreter/primitives/args.h"
#include "interpreter/primitives/nested_results.h"
#include "interpreter/primitives/structural.h"
#include "interpreter/workspace/arrays.h"
#include "interpreter/workspace/entry.h"
#include "interpreter/workspace/errors.h"
#include "interpreter/workspace/heap.h"
#include "interpreter/workspace/integrity.h"
#include "interpreter/workspace/object_pool.h"
#include "interpreter/workspace/stack.h"
#include "interpreter/workspace/symtab.h"

namespace zema {

namespace {

// Stack positions of the chain, from the top.
constexpr std::uint32_t kObjectAt = 0;
constexpr std::uint32_t kNameAt = 2;
constexpr std::uint32_t kAfterAt = 3;
constexpr std::uint32_t kValueAt = 4;

[[noreturn]] void raise_code(int code, Ws ws) {
  switch (code) {
    case E_SYNTAX: synter(ws);
    case E_VALUE: valer(ws);
    case E_DOMAIN: domner(ws);
    default: error(code, 0, 0, ws);
  }
}

// The APL object in `slot`: VALUE ERROR when there is none, NONCE ERROR
// for objects of another architecture.
std::uint32_t apl_object(std::uint32_t slot, Ws ws) {
  const std::uint32_t off = find_object_instance(slot, ws);
  if (off == 0) valer(ws);
  if (rd8(ws, off + pobj::Arch) != 0) noncer_1(ws);
  return off;
}

// The member token of the name entry, checked: a name (no object of its
// own) of a class a member may have; ⎕ names are not members yet.
std::uint16_t member_token(Ws ws) {
  const StackEntry e = load_entry(stack_entry_at(kNameAt, ws), ws);
  switch (e.cls) {
    case TC_VALUE:
    case TC_NAMEDFN:
    case TC_NILADIC:
    case TC_MONOP:
    case TC_DYOP:
    case TC_DERIVED:
    case TC_RESERVED: break;
    default: synter(ws);
  }
  const std::uint16_t token = static_cast<std::uint16_t>(e.value & 0xFFFF);
  const std::uint8_t type = rd8(ws, entry_of_token(token) + sym::Type) & kSymTypeMask;
  if (type == SYM_SYSVAR || type == SYM_SYSFN0 || type == SYM_SYSFN) noncer_1(ws);
  return token;
}

// The references the object entry holds: SYNTAX ERROR for anything else.
std::uint32_t object_refs(std::uint32_t entry, Ws ws) {
  const std::uint32_t refs = find_ws_entry(entry, ws);
  if (array_type(refs, ws) != ET_OBJREF) synter(ws);
  return refs;
}

std::uint32_t ref_at(std::uint32_t refs, std::uint32_t i, Ws ws) { return rd32(ws, array_data(refs, ws) + 4 * i); }

// The word holding the value of member `token` of the object in `slot`,
// for reading: VALUE ERROR when the property has none.
std::uint32_t readable_value_word(std::uint32_t slot, std::uint16_t token, Ws ws) {
  apl_object(slot, ws);
  const MemberRef m = accessible_member(token, slot, ws);
  if (m.kind != SYM_VAR && m.kind != SYM_UNDEF) noncer_1(ws);  // methods: not built yet
  const std::uint32_t word = property_value_word(slot, token, m, ws);
  if (word == 0) valer(ws);
  return word;
}

// Assigns the array in the word at `value_word` to member `token` of the
// object in `slot`.
void assign_property(std::uint32_t slot, std::uint16_t token, std::uint32_t value_word, Ws ws) {
  apl_object(slot, ws);
  const MemberRef m = accessible_member(token, slot, ws);
  if (m.kind != SYM_VAR && m.kind != SYM_UNDEF)
    raise_extended_error_ascii(E_DOMAIN, "Cannot assign to class member - not a property", ws);
  if (m.access & kReadOnly) raise_extended_error_ascii(E_DOMAIN, "Cannot assign to read-only property", ws);
  if (const int code = internal_assign_property(slot, token, value_word, m.access, ws)) raise_code(code, ws);
}

// The word holding the array a value entry stands for (its own, or its
// name's value word).
std::uint32_t value_word_of(std::uint32_t entry, Ws ws) {
  find_ws_entry(entry, ws);  // VALUE ERROR for a name without a value
  if (rd8(ws, entry + se::Class) & kOwnsObject) return entry + se::Value;
  return entry_of_token(static_cast<std::uint16_t>(rd32(ws, entry + se::Value) & 0xFFFF)) + sym::Value;
}

// The value on top takes the place of the `depth` entries below it (an
// object they own released).
void replace_below(std::uint32_t depth, Ws ws) {
  StackEntry result;
  unstack(result, ws);
  for (std::uint32_t k = 0; k < depth; ++k) {
    StackEntry e;
    unstack(e, ws);
    release_entry(e, ws);
  }
  const std::uint32_t slot = stack(result, ws);
  if ((result.cls & kOwnsObject) && result.value != 0) set_owner(rd32(ws, slot + se::Value), slot, OK_STACK, ws);
}

// Pushes one array of the objects' shape holding the member's value of
// each object as an item, made simple when every item is a simple scalar of
// one kind; its references are counted when it is kept.
void push_values_of_each(std::uint32_t obj_entry, std::uint16_t token, Ws ws) {
  std::uint32_t refs = object_refs(obj_entry, ws);
  const std::uint32_t rank = array_rank(refs, ws);
  const std::uint32_t n = array_count(refs, ws);
  if (n == 0) {
    const std::uint32_t at = oprslt(0, 4 * rank, ET_INT, 0, ws);
    refs = object_refs(obj_entry, ws);
    for (std::uint32_t k = 0; k < rank; ++k) wr32(ws, at + 4 * k, array_axis(refs, k, ws));
    return;
  }
  // Every value is found (and checked) before anything is allocated.
  std::uint64_t extra = 0;
  for (std::uint32_t i = 0; i < n; ++i)
    extra += rd32(ws, rd32(ws, readable_value_word(ref_at(refs, i, ws), token, ws)) + obj::Size);
  const std::uint64_t total = extra + 4ull * n + 4ull * rank + 16;
  if (total > 0x7FFFFFF0u) xwsfll(ws);
  need_room(total, ws);
  const std::uint32_t first = oprslt(n, 4 * rank, ET_NESTED, static_cast<std::uint32_t>(extra), ws);
  refs = object_refs(obj_entry, ws);
  for (std::uint32_t k = 0; k < rank; ++k) wr32(ws, first + 4 * k, array_axis(refs, k, ws));
  const std::uint32_t z = first - obj::Shape;
  const std::uint32_t table = first + 4 * rank;
  std::uint32_t at = table + 4 * n;
  for (std::uint32_t i = 0; i < n; ++i) {
    const std::uint32_t v = rd32(ws, readable_value_word(ref_at(refs, i, ws), token, ws));
    const std::uint32_t size = rd32(ws, v + obj::Size);
    wr32(ws, table + 4 * i, at - z);
    std::memcpy(ws + at, ws + v, size);
    wr32(ws, at, 0);
    at += size;
  }
  const std::uint8_t type = check_simple(z, ws);
  if (type == ET_NESTED) return;
  const std::uint32_t shape_at = oprslt(n, 4 * rank, type, 0, ws);
  write_simple_image(rd32(ws, stack_entry_at(1, ws) + se::Value), type, shape_at - 4, ws);
  StackEntry simple;
  unstack(simple, ws);
  settle_entry(stack_entry_at(0, ws), simple, ws);  // the nested one goes
}

int read_chain(std::uint16_t token, Ws ws) {
  const std::uint32_t obj_entry = stack_entry_at(kObjectAt, ws);
  const std::uint32_t refs = object_refs(obj_entry, ws);
  if (array_rank(refs, ws) == 0) {
    const std::uint32_t copy = copy_array(readable_value_word(ref_at(refs, 0, ws), token, ws), ws);
    push_result(copy, ws);
  } else {
    push_values_of_each(obj_entry, token, ws);
  }
  replace_below(kNameAt + 1, ws);
  return ES_BIND;
}

int assign_chain(std::uint16_t token, Ws ws) {
  const std::uint32_t obj_entry = stack_entry_at(kObjectAt, ws);
  const std::uint32_t value_entry = stack_entry_at(kValueAt, ws);
  std::uint32_t refs = object_refs(obj_entry, ws);
  const std::uint32_t value = find_ws_entry(value_entry, ws);
  if (array_rank(refs, ws) == 0) {
    assign_property(ref_at(refs, 0, ws), token, value_word_of(value_entry, ws), ws);
  } else {
    const std::uint32_t n = array_count(refs, ws);
    const std::uint32_t items = array_count(value, ws);
    const bool each_item = items == n && n >= 2;
    if (!each_item && items >= 2) {
      if (array_rank(value, ws) == array_rank(refs, ws)) lener(ws);
      ranker(ws);
    }
    // One value for every object: an enclosed scalar gives its item.
    const bool disclose = !each_item && array_type(value, ws) == ET_NESTED && array_rank(value, ws) == 0;
    if (disclose && n != 0) push_item(value_entry, 0, ws);
    for (std::uint32_t i = 0; i < n; ++i) {
      if (each_item) push_item(value_entry, i, ws);
      const std::uint32_t word = each_item || disclose ? stack_entry_at(0, ws) + se::Value : value_word_of(value_entry, ws);
      refs = object_refs(obj_entry, ws);
      assign_property(ref_at(refs, i, ws), token, word, ws);
      if (each_item) {
        StackEntry e;
        unstack(e, ws);
        release_entry(e, ws);
      }
      if ((i & 0x3FF) == 0x3FF) poll_attention(ws);
    }
    if (disclose && n != 0) {
      StackEntry e;
      unstack(e, ws);
      release_entry(e, ws);
    }
  }
  // The value stays, marked as an assignment's result.
  for (std::uint32_t k = 0; k < kValueAt; ++k) {
    StackEntry e;
    unstack(e, ws);
    release_entry(e, ws);
  }
  const std::uint32_t top = stack_entry_at(0, ws);
  wr8(ws, top + se::Flags, rd8(ws, top + se::Flags) | kSeNoDisplay);
  return ES_BIND;
}

DotSystemMember system_member_route = nullptr;

// The ⎕ name the name entry holds, as its number; -1 for another name.
int system_member_number(Ws ws) {
  const StackEntry e = load_entry(stack_entry_at(kNameAt, ws), ws);
  if (e.cls != TC_NAMEDFN && e.cls != TC_NILADIC) return -1;
  const std::uint32_t sym = entry_of_token(static_cast<std::uint16_t>(e.value & 0xFFFF));
  const std::uint8_t type = rd8(ws, sym + sym::Type) & kSymTypeMask;
  if (type != SYM_SYSFN0 && type != SYM_SYSFN) return -1;
  return static_cast<int>(rd32(ws, sym + sym::Value) / 4);
}

// obj.⎕NAME (niladic) or obj.⎕NAME R (monadic, R the value after it):
// the route's result replaces the chain (and R).
int system_member_chain(int number, Ws ws) {
  if (system_member_route == nullptr) noncer_1(ws);
  const bool monadic = (rd8(ws, stack_entry_at(kNameAt, ws) + se::Class) & kClassMask) == TC_NAMEDFN;
  std::uint32_t arg_word = 0;
  if (monadic) {
    const std::uint32_t after = stack_entry_at(kAfterAt, ws);
    if ((rd8(ws, after + se::Class) & kClassMask) != TC_VALUE) synter(ws);
    arg_word = value_word_of(after, ws);
  }
  system_member_route(value_word_of(stack_entry_at(kObjectAt, ws), ws), static_cast<std::uint32_t>(number), arg_word,
                      ws);
  replace_below(monadic ? kAfterAt + 1 : kNameAt + 1, ws);
  return ES_BIND;
}

}  // namespace

void set_dot_system_member_route(DotSystemMember route) { system_member_route = route; }

std::uint8_t member_name_class(std::uint16_t token, std::uint8_t cls, std::uint32_t line, std::uint32_t dot, Ws ws) {
  // The object's name: two bytes, the right one even; no dot left of it.
  if (dot < 2) return cls;
  const std::uint8_t low = rd8(ws, line + dot - 1);
  if (low & 1) return cls;
  if (dot >= 3 && rd8(ws, line + dot - 3) == kDotTag) return cls;
  const auto object = static_cast<std::uint16_t>((std::uint32_t{rd8(ws, line + dot - 2)} << 8) | low);
  const std::uint32_t sym_entry = entry_of_token(object);
  const std::uint8_t type = rd8(ws, sym_entry + sym::Type) & kSymTypeMask;
  if (type != SYM_VAR && type != SYM_CLASS) return cls;
  const std::uint32_t refs = rd32(ws, sym_entry + sym::Value);
  if (refs == 0 || array_type(refs, ws) != ET_OBJREF || array_count(refs, ws) == 0) return cls;
  const std::uint32_t slot = ref_at(refs, 0, ws);
  const std::uint32_t off = find_object_instance(slot, ws);
  if (off == 0 || rd8(ws, off + pobj::Arch) != 0) return cls;
  const MemberRef m = internal_class_member(token, slot, ws);
  if (m.kind == SYM_FN0) return TC_NILADIC;
  if (m.kind == SYM_FN1 || m.kind == SYM_FN2) return TC_NAMEDFN;
  if (m.kind == SYM_VAR || m.kind == SYM_UNDEF) return TC_VALUE;
  return cls;
}

int do_dot_notation(Ws ws) {
  object_refs(stack_entry_at(kObjectAt, ws), ws);
  if (const int number = system_member_number(ws); number >= 0) return system_member_chain(number, ws);
  const std::uint16_t token = member_token(ws);
  if ((rd8(ws, stack_entry_at(kAfterAt, ws) + se::Class) & kClassMask) == TC_ASSIGN) return assign_chain(token, ws);
  // A method of the first object makes the chain a method reference.
  const std::uint32_t refs = object_refs(stack_entry_at(kObjectAt, ws), ws);
  if (array_count(refs, ws) != 0) {
    std::uint8_t kind = 0;
    if (method_function(token, ref_at(refs, 0, ws), &kind, ws) != 0) return push_method_reference(token, kind, ws);
  } else {
    // No object to ask: what follows the chain makes it a function.
    switch (rd8(ws, stack_entry_at(kAfterAt, ws) + se::Class) & kClassMask) {
      case TC_VALUE:
      case TC_SLASH:
      case TC_NILADIC:
      case TC_EACH:
      case TC_MONOP:
      case TC_DYOP: return push_method_reference(token, SYM_FN1, ws);
      default: break;
    }
  }
  return read_chain(token, ws);
}

}  // namespace zema
