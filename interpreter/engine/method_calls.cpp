#include "interpreter/engine/method_calls.h"

#include <cstring>
#include <vector>

#include "interpreter/engine/call.h"
#include "interpreter/engine/classes.h"
#include "interpreter/engine/operator_frame.h"
#include "interpreter/engine/properties.h"
#include "interpreter/primitives/args.h"
#include "interpreter/workspace/arrays.h"
#include "interpreter/workspace/entry.h"
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

int start_array_calls(int valence, Ws ws);

// Calls the method of the reference in the function entry (entry 1; the
// left argument or a placeholder on top, the right or a placeholder under
// it) on its one object, with `valence` 0, 1 or 2.
int call_on_one_object(int valence, Ws ws) {
  const std::uint32_t fentry = stack_entry_at(1, ws);
  const std::uint32_t d = rd32(ws, fentry + se::Value);
  const std::uint16_t token = rd16(ws, d + mref::Token);
  const std::uint32_t refs = d + mref::Refs;
  if (array_rank(refs, ws) != 0) return start_array_calls(valence, ws);
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

// Calls over an array of objects run through an operator frame (kind
// kArrayMethods) pushed above the call's entries (left or placeholder,
// reference, right or placeholder): one call per object, each with a
// reference to that object alone and the matching item of each argument.
// The frame's caller word keeps the valence.
constexpr std::uint32_t kFnBelowFrame = opf::Entries + 1;

std::uint32_t frame_reference(std::uint32_t p, Ws ws) {
  return rd32(ws, p + kStackEntrySize * kFnBelowFrame + se::Value);
}

// An argument that is not a scalar must have the objects' shape.
void check_conforms(std::uint32_t refs, std::uint32_t arg, Ws ws) {
  const std::uint32_t rank = array_rank(arg, ws);
  if (rank == 0) return;
  if (rank != array_rank(refs, ws)) ranker(ws);
  for (std::uint32_t k = 0; k < rank; ++k)
    if (array_axis(arg, k, ws) != array_axis(refs, k, ws)) lener(ws);
}

// Pushes a new reference like the one the frame at P calls, for the
// object of its current index alone (a scalar reference, counted).
void push_one_object_reference(std::uint32_t p, Ws ws) {
  constexpr std::uint32_t kScalarRef = obj::Shape + 4;  // a rank-0 reference array
  const std::uint32_t d = getspc(mref::Refs + kScalarRef - 8, ws);
  const std::uint32_t from = frame_reference(p, ws);  // after any compaction
  const std::uint32_t refs = from + mref::Refs;
  const std::uint32_t n = array_count(refs, ws);
  const std::uint32_t slot = ref_at(refs, frame_word(p, opf::Index, ws) % n, ws);
  std::memcpy(ws + d + obj::Type, ws + from + obj::Type, mref::Refs - obj::Type);
  wr8(ws, d + obj::Flags1, 0);
  const std::uint32_t e = d + mref::Refs;
  wr32(ws, e, 0);
  wr32(ws, e + obj::Size, kScalarRef);
  wr32(ws, e + obj::Type, ET_OBJREF);  // type, no flags, rank 0
  wr32(ws, e + obj::Shape, slot);
  count_value_references(d, ws);
  stack(StackEntry{static_cast<std::uint8_t>(kOwnsObject | TC_DERIVED), 0, d}, ws);
}

// Pushes the call for the frame's current object (link, right item or
// placeholder, reference, left item or placeholder) and makes it.
int next_object_call(std::uint32_t p, Ws ws) {
  const auto valence = static_cast<int>(frame_word(p, opf::Caller, ws));
  stack_table_ptr(p, ws);
  if (valence >= 1)
    get_next_right(p, ws);
  else
    push_fake(ws);
  push_one_object_reference(p, ws);
  if (valence == 1) return ES_APPLY_MONADIC;
  if (valence == 2) {
    get_next_left(p, ws);
    return ES_APPLY_DYADIC;
  }
  push_fake(ws);
  check_attention(ws);
  return call_on_one_object(0, ws);
}

// No object: an empty result of the objects' shape, of the right
// argument's simple type (integer without one, or for a nested one).
int empty_array_call(int valence, Ws ws) {
  const std::uint32_t refs = rd32(ws, stack_entry_at(1, ws) + se::Value) + mref::Refs;
  std::uint8_t type = ET_INT;
  if (valence >= 1) {
    const std::uint8_t t = array_type(find_ws_entry(stack_entry_at(2, ws), ws), ws);
    if (t != ET_NESTED && t != ET_OBJREF) type = t;
  }
  const std::uint32_t rank = array_rank(refs, ws);
  const std::uint32_t at = oprslt(0, 4 * rank, type, 0, ws);
  const std::uint32_t again = rd32(ws, stack_entry_at(2, ws) + se::Value) + mref::Refs;  // after any compaction
  for (std::uint32_t k = 0; k < rank; ++k) wr32(ws, at + 4 * k, array_axis(again, k, ws));
  return ES_FINISH_APPLICATION;
}

int start_array_calls(int valence, Ws ws) {
  if (valence >= 1) own_arguments_for_calls(ws);
  const std::uint32_t refs = rd32(ws, stack_entry_at(1, ws) + se::Value) + mref::Refs;
  if (valence >= 1) check_conforms(refs, find_ws_entry(stack_entry_at(2, ws), ws), ws);
  if (valence == 2) check_conforms(refs, find_ws_entry(stack_entry_at(0, ws), ws), ws);
  const std::uint32_t n = array_count(refs, ws);
  if (n == 0) return empty_array_call(valence, ws);
  if (valence >= 1) xopafx(0, hdr::RightDesc, stack_entry_at(2, ws), ws);
  if (valence == 2) xopafx(0, hdr::LeftDesc, stack_entry_at(0, ws), ws);
  return next_object_call(stack_opctl(kArrayMethods, n, static_cast<std::uint32_t>(valence), ws), ws);
}

}  // namespace

int array_method_return(Ws ws) {
  const std::uint32_t p = stack_op_result(ws);
  const std::uint32_t i = frame_word(p, opf::Index, ws) + 1;
  set_frame_word(p, opf::Index, i, ws);
  if (i < frame_word(p, opf::Count, ws)) return next_object_call(p, ws);
  const std::uint32_t refs = frame_reference(p, ws) + mref::Refs;
  std::vector<std::uint32_t> shape(array_rank(refs, ws));
  for (std::uint32_t k = 0; k < shape.size(); ++k) shape[k] = array_axis(refs, k, ws);
  return finish_frame(p, shape, ws);
}

bool is_method_reference_object(std::uint32_t d, Ws ws) {
  return rd8(ws, d + obj::Type) == ET_DERIVED && rd32(ws, d + obj::Size) > mref::Refs &&
         rd8(ws, d + mref::Mark) == mref::kMark && rd8(ws, d + mref::OperandClass) == mref::kEmbeddedArray;
}

std::uint32_t current_object(Ws ws) { return rd32(ws, hdr::CurrentInstance); }

std::uint32_t method_function(std::uint16_t token, std::uint32_t slot, std::uint8_t* kind, Ws ws) {
  const std::uint32_t off = find_object_instance(slot, ws);
  if (off == 0 || rd8(ws, off + pobj::Arch) != 0) return 0;
  const MemberRef m = internal_class_member(token, slot, ws);
  if (m.value == 0 || m.kind > SYM_FN2) return 0;
  if (kind) *kind = m.kind;
  return m.value;
}

std::uint32_t method_level_class(std::uint32_t running_symbol, std::uint32_t object, std::uint16_t token, Ws ws) {
  if (running_symbol != kMethodLevel) return 0;
  if (method_function(token, object, nullptr, ws) == 0) return kLostMethodClass;
  return internal_class_member(token, object, ws).owner;
}

std::uint16_t method_level_class_name(std::uint32_t running_symbol, std::uint32_t object, std::uint16_t token, Ws ws) {
  const std::uint32_t slot = method_level_class(running_symbol, object, token, ws);
  if (slot == 0 || slot == kLostMethodClass) return 0;
  const std::uint32_t cls = class_in_slot(slot, ws);
  return cls ? static_cast<std::uint16_t>(rd32(ws, cls + pobj::NameSymbol) / 8) : 0;
}

bool is_method_reference(std::uint32_t entry, Ws ws) {
  const StackEntry e = load_entry(entry, ws);
  if (!(e.cls & kOwnsObject) || e.value == 0) return false;
  return is_method_reference_object(e.value, ws);
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
  // Counted and marked, so that releasing the reference gives them up.
  count_value_references(d, ws);
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
