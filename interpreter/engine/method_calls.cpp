#include "interpreter/engine/method_calls.h"

#include <cstring>

#include "interpreter/engine/call.h"
#include "interpreter/engine/classes.h"
#include "interpreter/engine/properties.h"
#include "interpreter/workspace/arrays.h"
#include "interpreter/workspace/errors.h"
#include "interpreter/workspace/heap.h"
#include "interpreter/workspace/object_pool.h"
#include "interpreter/workspace/stack.h"
#include "interpreter/workspace/symtab.h"

namespace zema {

namespace {

// The method reference (element type ET_DERIVED). The operand-class byte
// and the embedded array's place are those the pool reads to count the
// references of a derived function's embedded array.
namespace mref {
constexpr std::uint32_t OperandClass = 18;  // b: 0x24, an embedded array
constexpr std::uint32_t EmbeddedAt = 20;    // w: the embedded array's offset from the object (42)
constexpr std::uint32_t Token = 24;         // h: the member's token
constexpr std::uint32_t Kind = 26;          // b: the member's kind when the reference was made
constexpr std::uint32_t Mark = 32;          // b: kMark
constexpr std::uint32_t Refs = 42;          // the object-reference array, a whole object image
constexpr std::uint8_t kEmbeddedArray = 0x24;
constexpr std::uint8_t kMark = 0x4D;
}  // namespace mref

std::uint32_t ref_at(std::uint32_t refs, std::uint32_t i, Ws ws) { return rd32(ws, array_data(refs, ws) + 4 * i); }

// Calls the method of the reference in the function entry (entry 1; the
// left argument or a placeholder on top, the right or a placeholder under
// it) on its one object, with `valence` 0, 1 or 2.
int call_on_one_object(int valence, Ws ws) {
  const std::uint32_t fentry = stack_entry_at(1, ws);
  const std::uint32_t d = rd32(ws, fentry + se::Value);
  const std::uint16_t token = rd16(ws, d + mref::Token);
  const std::uint32_t refs = d + mref::Refs;
  if (array_rank(refs, ws) != 0) noncer_1(ws);  // calls over arrays of objects: not built yet
  const std::uint32_t slot = ref_at(refs, 0, ws);
  const std::uint32_t off = find_object_instance(slot, ws);
  if (off == 0) valer(ws);
  if (rd8(ws, off + pobj::Arch) != 0) noncer_1(ws);
  const MemberRef m = accessible_member(token, slot, ws);
  if (m.kind > SYM_FN2) synter(ws);
  // The object lives through the call: this reference until the level
  // holds its own, the reference entry being gone by then.
  inc_object_reference_count(slot, ws);
  const StackEntry old = load_entry(fentry, ws);
  store_entry(fentry, StackEntry{TC_NAMEDFN, 0, token}, ws);
  release_entry(old, ws);
  wr32(ws, hdr::CallingInstance, slot);
  int state;
  try {
    state = call_defined(valence, ws);
  } catch (...) {
    dec_object_reference_count(slot, ws);
    throw;
  }
  dec_object_reference_count(slot, ws);
  // A niladic method's result stays on the stack as a function's does.
  if (valence == 0) wr8(ws, hdr::RunningSymType, SYM_FN1);
  return state;
}

}  // namespace

std::uint32_t current_object(Ws ws) { return rd32(ws, hdr::CurrentInstance); }

std::uint32_t method_function(std::uint16_t token, std::uint32_t slot, std::uint8_t* kind, Ws ws) {
  const std::uint32_t off = find_object_instance(slot, ws);
  if (off == 0 || rd8(ws, off + pobj::Arch) != 0) return 0;
  const MemberRef m = internal_class_member(token, slot, ws);
  if (m.value == 0 || m.kind > SYM_FN2) return 0;
  if (kind) *kind = m.kind;
  return m.value;
}

bool is_method_reference(std::uint32_t entry, Ws ws) {
  const StackEntry e = load_entry(entry, ws);
  if (!(e.cls & kOwnsObject) || e.value == 0) return false;
  return rd8(ws, e.value + obj::Type) == ET_DERIVED && rd32(ws, e.value + obj::Size) > mref::Refs &&
         rd8(ws, e.value + mref::Mark) == mref::kMark && rd8(ws, e.value + mref::OperandClass) == mref::kEmbeddedArray;
}

int push_method_reference(std::uint16_t token, std::uint8_t kind, Ws ws) {
  const std::uint32_t size = rd32(ws, find_ws_entry(stack_entry_at(0, ws), ws) + obj::Size);
  const std::uint32_t d = getspc(mref::Refs + size - 8, ws);
  const std::uint32_t refs = find_ws_entry(stack_entry_at(0, ws), ws);  // after any compaction
  std::memset(ws + d + 9, 0, mref::Refs - 9);
  wr8(ws, d + obj::Type, ET_DERIVED);
  wr8(ws, d + mref::OperandClass, mref::kEmbeddedArray);
  wr32(ws, d + mref::EmbeddedAt, mref::Refs);
  wr16(ws, d + mref::Token, token);
  wr8(ws, d + mref::Kind, kind);
  wr8(ws, d + mref::Mark, mref::kMark);
  std::memcpy(ws + d + mref::Refs, ws + refs, size);
  wr32(ws, d + mref::Refs, 0);
  inc_array_reference_counts(d + mref::Refs, ws);
  push_result(d, ws);
  // The reference takes the chain's place.
  StackEntry ref;
  unstack(ref, ws);
  for (int k = 0; k < 3; ++k) {
    StackEntry e;
    unstack(e, ws);
    release_entry(e, ws);
  }
  if (kind != 0) {
    ref.cls = static_cast<std::uint8_t>(kOwnsObject | TC_DERIVED);
    ref.flags = 0;
    const std::uint32_t at = stack(ref, ws);
    set_owner(d, at, OK_STACK, ws);
    return ES_BIND;
  }
  push_fake(ws);  // the right argument's place
  ref.cls = static_cast<std::uint8_t>(kOwnsObject | TC_DERIVED);
  ref.flags = 0;
  set_owner(d, stack(ref, ws), OK_STACK, ws);
  push_fake(ws);  // the left argument's place
  return call_on_one_object(0, ws);
}

int method_reference_monadic(Ws ws) {
  push_fake(ws);  // the left argument's place
  return call_on_one_object(1, ws);
}

int method_reference_dyadic(Ws ws) { return call_on_one_object(2, ws); }

}  // namespace zema
