#include "interpreter/engine/derived_operand.h"

#include <cstring>

#include "interpreter/engine/method_calls.h"
#include "interpreter/engine/user_operator.h"
#include "interpreter/primitives/args.h"
#include "interpreter/primitives/primitive_call.h"
#include "interpreter/primitives/structural.h"
#include "interpreter/workspace/errors.h"
#include "interpreter/workspace/heap.h"

namespace zema {

namespace {

// The fields of a derived object that may hold an operand: dfn::Entry and,
// for products and defined operators, the second operand beside it.
constexpr std::uint32_t kSecondField = 24;

// The object an operand in stack slot `slot` is copied from (a value's
// array, a derived function's object), or 0 for an operand held as its
// entry image.
std::uint32_t embeddable(std::uint32_t slot, Ws ws) {
  const std::uint8_t cls = rd8(ws, slot + se::Class) & kClassMask;
  if (cls == TC_VALUE) return find_ws_entry(slot, ws);
  if (cls == TC_DERIVED) return derived_object(slot, ws);
  return 0;
}

// Levels of derived functions within the derived object `obj` (1 for one
// that holds none); stops counting past kMaxOperandDepth.
std::uint32_t depth_of(std::uint32_t obj, Ws ws) {
  std::uint32_t deepest = 0;
  for (std::uint32_t field : {dfn::Entry, kSecondField}) {
    if (rd8(ws, obj + field + se::Class) != kClassLink) continue;
    const std::uint32_t inner = obj + rd32(ws, obj + field + se::Value);
    if (rd8(ws, inner + obj::Type) != ET_DERIVED) continue;
    const std::uint32_t d = depth_of(inner, ws);
    if (d > deepest) deepest = d;
    if (deepest > kMaxOperandDepth) break;
  }
  return deepest + 1;
}

// Starts the derived object `obj` of `body` bytes after its header words:
// zero-filled with the derived type, its shape word covering the body.
void start_object(std::uint32_t obj, std::uint32_t body, Ws ws) {
  std::memset(ws + obj + obj::Type, 0, 8 + kDerivedBody - obj::Type);
  wr8(ws, obj + obj::Type, ET_DERIVED);
  wr16(ws, obj + obj::Rank4, 4);
  wr32(ws, obj + obj::Shape, 8 + body - obj::Shape - 4);
}

// The object `src` (whole, header included) copied to `obj` + `at`, where
// it has no owner of its own.
void embed(std::uint32_t obj, std::uint32_t at, std::uint32_t src, Ws ws) {
  std::memmove(ws + obj + at, ws + src, rd32(ws, src + obj::Size));
  wr8(ws, obj + at, 0);
}

// A fresh heap object that is a copy of the embedded object at `src`.
std::uint32_t copy_out(std::uint32_t src_word, std::uint32_t rel, Ws ws) {
  const std::uint32_t size = rd32(ws, rd32(ws, src_word) + rel + obj::Size);
  const std::uint32_t copy = getspc(size - 8, ws);
  const std::uint32_t src = rd32(ws, src_word) + rel;  // the heap may have moved
  std::memmove(ws + copy + 8, ws + src + 8, size - 8);
  return copy;
}

std::uint8_t class_of_copy(std::uint32_t copy, Ws ws) {
  return rd8(ws, copy + obj::Type) == ET_DERIVED ? TC_DERIVED : TC_VALUE;
}

}  // namespace

std::uint32_t new_derived_object(const StackEntry& operand, Ws ws) {
  const std::uint32_t obj = getspc(kDerivedBody, ws);
  std::memset(ws + obj + obj::Type, 0, 8 + kDerivedBody - obj::Type);
  wr8(ws, obj + obj::Type, ET_DERIVED);
  wr16(ws, obj + obj::Rank4, 4);
  wr32(ws, obj + obj::Shape, 8 + kDerivedBody - obj::Shape - 4);
  store_entry(obj + dfn::Entry, operand, ws);
  return obj;
}

std::uint32_t derived_with_operand(std::uint32_t base_slot, std::uint32_t field, std::uint32_t from, Ws ws) {
  std::uint32_t src = embeddable(from, ws);
  if (src != 0 && rd8(ws, src + obj::Type) == ET_DERIVED && depth_of(src, ws) >= kMaxOperandDepth) limit_error(ws);
  const std::uint32_t base_size = base_slot ? rd32(ws, derived_object(base_slot, ws) + obj::Size) : 8 + kDerivedBody;
  const std::uint32_t extra = src ? rd32(ws, src + obj::Size) : 0;
  if (std::uint64_t{base_size} + extra > 0x7FFFFFF0u) xwsfll(ws);
  const std::uint32_t obj = getspc(base_size + extra - 8, ws);
  if (base_slot) {
    std::memmove(ws + obj + 8, ws + derived_object(base_slot, ws) + 8, base_size - 8);
    wr32(ws, obj + obj::Shape, base_size + extra - obj::Shape - 4);
  } else {
    start_object(obj, kDerivedBody + extra, ws);
  }
  const StackEntry operand = load_entry(from, ws);
  if (src == 0) {
    store_entry(obj + field, operand, ws);
  } else {
    src = embeddable(from, ws);  // the heap may have moved
    embed(obj, base_size, src, ws);
    store_entry(obj + field, StackEntry{kClassLink, operand.flags, base_size}, ws);
  }
  return obj;
}

std::uint32_t operand_holder(std::uint32_t src_word, std::uint32_t field, Ws ws) {
  const StackEntry e = load_entry(rd32(ws, src_word) + field, ws);
  const std::uint32_t extra = e.cls == kClassLink ? rd32(ws, rd32(ws, src_word) + e.value + obj::Size) : 0;
  const std::uint32_t obj = getspc(kDerivedBody + extra, ws);
  start_object(obj, kDerivedBody + extra, ws);
  if (e.cls == kClassLink) {
    embed(obj, 8 + kDerivedBody, rd32(ws, src_word) + e.value, ws);
    store_entry(obj + dfn::Entry, StackEntry{kClassLink, e.flags, 8 + kDerivedBody}, ws);
  } else {
    store_entry(obj + dfn::Entry, e, ws);
  }
  return obj;
}

void push_operand_at(std::uint32_t fn, std::uint32_t field, Ws ws) {
  const StackEntry e = load_entry(derived_object(fn, ws) + field, ws);
  if (e.cls != kClassLink) {
    stack(e, ws);
    return;
  }
  const std::uint32_t copy = copy_out(fn + se::Value, e.value, ws);
  stack(StackEntry{static_cast<std::uint8_t>(kOwnsObject | class_of_copy(copy, ws)),
                   class_of_copy(copy, ws) == TC_DERIVED ? e.flags : std::uint8_t{0}, copy},
        ws);
}

StackEntry operand_entry(std::uint32_t holder_word, Ws ws) {
  const StackEntry e = load_entry(rd32(ws, holder_word) + dfn::Entry, ws);
  if (e.cls != kClassLink) return e;
  const std::uint32_t copy = copy_out(holder_word, e.value, ws);
  const std::uint8_t cls = class_of_copy(copy, ws);
  return StackEntry{static_cast<std::uint8_t>(kOwnsObject | cls), cls == TC_DERIVED ? e.flags : std::uint8_t{0}, copy};
}

bool runs_in_engine(std::uint32_t obj, std::uint32_t field, Ws ws) {
  const StackEntry e = load_entry(obj + field, ws);
  if ((e.cls & kClassMask) == TC_NAMEDFN) return true;
  // ⍎ runs its text as a line of its own.
  if (e.cls == TC_PRIMITIVE && (e.value & 0xFF) == kExecuteTag) return true;
  if (e.cls != kClassLink) return false;
  const std::uint32_t inner = obj + e.value;
  if (rd8(ws, inner + obj::Type) != ET_DERIVED) return false;
  if (rd8(ws, inner + uop::Mark) == uop::kMark || is_method_reference_object(inner, ws)) return true;
  // Reduce and scan call an operand that is derived or carries an axis through
  // the engine, as an inner product does an f with an axis beside a g held as
  // its entry image.
  const StackEntry first = load_entry(inner + dfn::Entry, ws);
  if ((e.flags & fe::ReduceScan) && (first.cls == kClassLink || (first.cls == TC_PRIMITIVE && first.flags != 0)))
    return true;
  const StackEntry second = load_entry(inner + kSecondField, ws);
  if ((e.flags & fe::Product) && first.cls != kClassLink && second.cls == TC_PRIMITIVE && second.flags != 0)
    return true;
  return runs_in_engine(inner, dfn::Entry, ws) || runs_in_engine(inner, kSecondField, ws);
}

void begin_derived_monadic(Ws ws) {
  const std::uint32_t fn = stack_entry_at(0, ws);
  wr32(ws, hdr::TokensTaken, rd32(ws, hdr::TokensTaken) - 1);
  no_left_argument(ws);
  set_call_flags(pf::RightReferences | pf::LeftReferences, ws);
  xopafx(0, hdr::RightDesc, fn + kStackEntrySize, ws);
  push_fake(ws);
}

void begin_derived_dyadic(Ws ws) {
  wr32(ws, hdr::TokensTaken, rd32(ws, hdr::TokensTaken) - 1);
  set_call_flags(pf::RightReferences | pf::LeftReferences, ws);
  xopafx(0, hdr::LeftDesc, stack_entry_at(0, ws), ws);
  xopafx(0, hdr::RightDesc, stack_entry_at(2, ws), ws);
}

void replace_operand_with_derived(std::uint32_t obj, std::uint8_t flags, Ws ws) {
  StackEntry top;
  unstack(top, ws);
  const std::uint32_t at = stack_entry_at(0, ws);
  // An operand that owned its object is held as a copy in `obj` now.
  release_entry(top, ws);
  release_entry(load_entry(at, ws), ws);
  store_entry(at, StackEntry{static_cast<std::uint8_t>(kOwnsObject | TC_DERIVED), flags, obj}, ws);
  set_owner(obj, at, OK_STACK, ws);
}

}  // namespace zema
