// / ⌿ \ ⍀ with an array operand: compress or expand.
#include "interpreter/engine/reduce_array_operand.h"

#include "interpreter/engine/apply.h"
#include "interpreter/engine/derived_operand.h"
#include "interpreter/primitives/primitive_call.h"
#include "interpreter/primitives/structural.h"
#include "interpreter/workspace/entry.h"
#include "interpreter/workspace/errors.h"
#include "interpreter/workspace/heap.h"
#include "interpreter/workspace/stack.h"

namespace zema {

namespace {

// The token tags (2·code+1) of the four operator glyphs.
constexpr std::uint32_t kTagScanFirst = 0x35;    // ⍀
constexpr std::uint32_t kTagReduceFirst = 0x37;  // ⌿
constexpr std::uint32_t kTagScanLast = 0x7F;     // backslash
constexpr std::uint32_t kTagReduceLast = 0x5F;   // /

}  // namespace

bool holds_array_operand(std::uint32_t fn, Ws ws) {
  const std::uint32_t obj = derived_object(fn, ws);
  const StackEntry e = load_entry(obj + dfn::Entry, ws);
  return e.cls == kClassLink && rd8(ws, obj + e.value + obj::Type) != ET_DERIVED;
}

int reduce_array_monadic(Ws ws) {
  push_operand_at(stack_entry_at(0, ws), dfn::Entry, ws);
  const std::uint32_t fn = stack_entry_at(1, ws);
  const StackEntry derived = load_entry(fn, ws);
  const std::uint32_t axis = rd32(ws, derived_object(fn, ws) + kReduceAxisWord);
  const bool first = derived.flags & fe::FirstAxis;
  std::uint32_t tag;
  if (derived.flags & fe::Scan)
    tag = first ? kTagScanFirst : kTagScanLast;
  else
    tag = first ? kTagReduceFirst : kTagReduceLast;
  release_entry(derived, ws);
  store_entry(fn,
              StackEntry{TC_SLASH, axis != 0 ? fe::Axis : std::uint8_t{0}, tag | (axis << 16)}, ws);
  return do_xdyop(ws);
}

}  // namespace zema
