#include "interpreter/engine/derived_operand.h"

#include <cstring>

#include "interpreter/primitives/args.h"
#include "interpreter/primitives/primitive_call.h"
#include "interpreter/workspace/heap.h"

namespace zema {

std::uint32_t new_derived_object(const StackEntry& operand, Ws ws) {
  const std::uint32_t obj = getspc(kDerivedBody, ws);
  std::memset(ws + obj + obj::Type, 0, 8 + kDerivedBody - obj::Type);
  wr8(ws, obj + obj::Type, ET_DERIVED);
  wr16(ws, obj + obj::Rank4, 4);
  wr32(ws, obj + obj::Shape, 8 + kDerivedBody - obj::Shape - 4);
  store_entry(obj + dfn::Entry, operand, ws);
  return obj;
}

void begin_derived_monadic(Ws ws) {
  const std::uint32_t fn = stack_entry_at(0, ws);
  wr32(ws, hdr::TokensTaken, rd32(ws, hdr::TokensTaken) - 1);
  wr8(ws, hdr::LeftDesc + desc::Type, 0);
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
  store_entry(at, StackEntry{static_cast<std::uint8_t>(kOwnsObject | TC_DERIVED), flags, obj}, ws);
  set_owner(obj, at, OK_STACK, ws);
}

}  // namespace zema
