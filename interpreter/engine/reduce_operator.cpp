// The operators / ⌿ \ ⍀ with a function operand.
#include "interpreter/engine/reduce_operator.h"

#include <cstring>

#include "interpreter/engine/apply.h"
#include "interpreter/engine/engine.h"
#include "interpreter/primitives/args.h"
#include "interpreter/primitives/primitive_call.h"
#include "interpreter/primitives/reduce_scan.h"
#include "interpreter/primitives/structural.h"
#include "interpreter/workspace/errors.h"
#include "interpreter/workspace/heap.h"
#include "interpreter/workspace/stack.h"

namespace zema {

namespace {

// Where a reduce-family derived object keeps the operator's axis.
constexpr std::uint32_t kAxisWord = 30;
// Bytes of a derived object without an axis list, after its header words.
constexpr std::uint32_t kDerivedBody = 34;

// The glyph codes of the operator tokens.
constexpr std::uint8_t kScanFirst = 0x1A;   // ⍀
constexpr std::uint8_t kReduceFirst = 0x1B; // ⌿
constexpr std::uint8_t kScanLast = 0x3F;    // \ (backslash)

struct Applied {
  std::uint8_t code;
  std::uint32_t row;
  FoldCall fold;
  bool scan;
};

// Reads the derived function at `fn` and sets the call up: the operand's
// code and row, the axis resolved against R (the right descriptor's array).
Applied set_up(std::uint32_t fn, Ws ws) {
  const std::uint32_t obj = derived_object(fn, ws);
  const StackEntry operand = load_entry(obj + dfn::Entry, ws);
  const std::uint8_t flags = rd8(ws, fn + se::Flags);
  Applied a{};
  a.code = static_cast<std::uint8_t>(((operand.value & 0xFF) >> 1) & 0x7F);
  a.row = primitive_flags(a.code);
  a.scan = flags & fe::Scan;
  a.fold.code = a.code;
  a.fold.flags = a.row;
  wr32(ws, hdr::PrimCode, 4u * a.code);
  set_call_flags(a.row | pf::FromDerived, ws);
  const ArrayInfo r = array_info(right_arg(ws), ws);
  const std::uint32_t given = rd32(ws, obj + kAxisWord);
  const std::uint32_t rank = r.rank == 0 ? 1 : r.rank;
  if (given != 0) {
    if (given > rank) axis_error(ws);
    a.fold.axis = given - 1;
  } else {
    a.fold.axis = (flags & fe::FirstAxis) || r.rank == 0 ? 0 : r.rank - 1;
  }
  // Only a dyadic scalar primitive on a simple argument is served here.
  const bool plain = operand.flags == 0 && (operand.cls & kClassMask) == TC_PRIMITIVE;
  if (!plain || !(a.row & pf::DyadicScalar) || r.type == ET_NESTED || r.type == ET_OBJREF) noncer_1(ws);
  return a;
}

void run(const Applied& a, Ws ws) {
  if (a.scan)
    scan_simple(a.fold, ws);
  else
    reduce_simple(a.fold, ws);
}

}  // namespace

int do_xrdce(Ws ws) {
  // A value left of / or \ makes it compress or expand.
  if (entry_class(0, ws) == TC_VALUE) return do_xdyop(ws);
  const std::uint32_t op = stack_entry_at(1, ws);
  if (rd8(ws, op + 5) != 0) axis_error(ws);  // a fractional axis
  const std::uint32_t fn = stack_entry_at(0, ws);
  const StackEntry operand = load_entry(fn, ws);
  if ((operand.cls & ~kOwnsObject) != TC_PRIMITIVE || (operand.cls & kOwnsObject)) noncer_1(ws);
  const std::uint32_t obj = getspc(kDerivedBody, ws);
  std::memset(ws + obj + obj::Type, 0, 8 + kDerivedBody - obj::Type);
  wr8(ws, obj + obj::Type, ET_DERIVED);
  wr16(ws, obj + obj::Rank4, 4);
  wr32(ws, obj + obj::Shape, 8 + kDerivedBody - obj::Shape - 4);
  store_entry(obj + dfn::Entry, operand, ws);
  const std::uint32_t slot = stack_entry_at(1, ws);
  const std::uint8_t glyph = static_cast<std::uint8_t>((rd8(ws, slot + se::Value) >> 1) & 0x7F);
  wr32(ws, obj + kAxisWord, rd8(ws, slot + 4));
  std::uint8_t flags = fe::ReduceScan;
  if (glyph == kScanFirst || glyph == kReduceFirst) flags |= fe::FirstAxis;
  if (glyph == kScanFirst || glyph == kScanLast) flags |= fe::Scan;
  StackEntry top;
  unstack(top, ws);
  const std::uint32_t at = stack_entry_at(0, ws);
  store_entry(at, StackEntry{static_cast<std::uint8_t>(kOwnsObject | TC_DERIVED), flags, obj}, ws);
  set_owner(obj, at, OK_STACK, ws);
  return ES_BIND;
}

int reduce_monadic(Ws ws) {
  const std::uint32_t fn = stack_entry_at(0, ws);
  wr32(ws, hdr::TokensTaken, rd32(ws, hdr::TokensTaken) - 1);
  wr8(ws, hdr::LeftDesc + desc::Type, 0);
  set_call_flags(pf::RightReferences | pf::LeftReferences, ws);
  xopafx(0, hdr::RightDesc, fn + kStackEntrySize, ws);
  push_fake(ws);
  const Applied a = set_up(stack_entry_at(1, ws), ws);
  run(a, ws);
  return ES_FINISH_APPLICATION;
}

int reduce_dyadic(Ws ws) {
  const std::uint32_t fn = stack_entry_at(1, ws);
  wr32(ws, hdr::TokensTaken, rd32(ws, hdr::TokensTaken) - 1);
  if (rd8(ws, fn + se::Flags) & fe::Scan) synter(ws);
  set_call_flags(pf::RightReferences | pf::LeftReferences, ws);
  xopafx(0, hdr::LeftDesc, stack_entry_at(0, ws), ws);
  xopafx(0, hdr::RightDesc, stack_entry_at(2, ws), ws);
  // The window: one element, not nested nor characters.
  const ArrayInfo l = array_info(left_arg(ws), ws);
  if (l.type == ET_NESTED || l.type == ET_OBJREF || l.type == ET_CHAR) domner(ws);
  if (l.count != 1) {
    if (l.rank == 1) lener(ws);
    ranker(ws);
  }
  const std::int32_t w = int_at(l, 0, ws);
  Applied a = set_up(fn, ws);
  a.fold.mode = w < 0 ? -1 : 1;
  a.fold.window = w < 0 ? static_cast<std::uint32_t>(-static_cast<std::int64_t>(w)) : static_cast<std::uint32_t>(w);
  run(a, ws);
  return ES_FINISH_APPLICATION;
}

}  // namespace zema
