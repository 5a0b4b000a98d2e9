// The operator frame and the operator stack.
#include "interpreter/engine/operator_frame.h"

#include <cstring>

#include "interpreter/engine/constructors.h"
#include "interpreter/engine/each_operator.h"
#include "interpreter/engine/method_calls.h"
#include "interpreter/engine/product_defined.h"
#include "interpreter/engine/reduce_defined.h"
#include "interpreter/engine/reduce_operator.h"
#include "interpreter/primitives/args.h"
#include "interpreter/primitives/structural.h"
#include "interpreter/workspace/errors.h"
#include "interpreter/workspace/heap.h"
#include "interpreter/workspace/stack.h"
#include "interpreter/workspace/arrays.h"
#include "interpreter/workspace/entry.h"
#include "interpreter/workspace/symtab.h"

namespace zema {

namespace {

// Offsets of words 3-8 from the argument's first word.
constexpr std::uint32_t kWord = 0, kCursor = 1, kFirst = 2, kStep = 3, kBits = 4, kLeft = 5;

void push_frame_entry(std::uint32_t v, Ws ws) { stack(StackEntry{kClassOperatorFrame, 0, v}, ws); }

// Pushes the six words of the descriptor at `d` in the frame's push order
// (bits-left and flags first, the array word last).
void push_descriptor(std::uint32_t d, Ws ws) {
  push_frame_entry(rd16(ws, d + desc::Bits) | (std::uint32_t{rd8(ws, d + desc::Shape)} << 16), ws);
  push_frame_entry(rd32(ws, d + desc::Word), ws);
  push_frame_entry(rd32(ws, d + desc::Step), ws);
  push_frame_entry(rd32(ws, d + desc::First), ws);
  push_frame_entry(rd32(ws, d + desc::Cursor), ws);
  push_frame_entry(rd32(ws, d + desc::OffsetWord), ws);
}

// A copy of the item at `rel` bytes into the array at `arr` pushed as a value.
void push_item_copy(std::uint32_t p, std::uint32_t base, std::uint32_t rel, Ws ws) {
  const std::uint32_t size = rd32(ws, rd32(ws, frame_word(p, base + kWord, ws)) + rel + obj::Size);
  const std::uint32_t copy = getspc(size - 8, ws);
  const std::uint32_t src = rd32(ws, frame_word(p, base + kWord, ws)) + rel;  // the heap may have moved
  std::memmove(ws + copy + 8, ws + src + 8, size - 8);
  stack(StackEntry{static_cast<std::uint8_t>(kOwnsObject | TC_VALUE), 0, copy}, ws);
}

void push_scalar_elem(const Elem& e, Ws ws) {
  const std::uint32_t data = oprslt(1, 0, e.type, 0, ws);
  put_elem(array_info(data - obj::Shape, ws), 0, e, ws);
  wr8(ws, stack_entry_at(0, ws) + se::Flags, 0);
}

// get_next_right and get_next_left on the words from `base`.
void get_next(std::uint32_t p, std::uint32_t base, Ws ws) {
  const std::uint32_t arr = rd32(ws, frame_word(p, base + kWord, ws));
  const ArrayInfo a = array_info(arr, ws);
  const std::uint32_t cursor = frame_word(p, base + kCursor, ws);
  const std::uint32_t step = frame_word(p, base + kStep, ws);
  if (a.type == ET_NESTED) {
    push_item_copy(p, base, rd32(ws, arr + cursor), ws);
    set_frame_word(p, base + kCursor, cursor + step, ws);
    return;
  }
  Elem e;
  e.type = a.type;
  if (a.type == ET_BOOL) {
    std::uint32_t left = frame_word(p, base + kLeft, ws);
    std::uint32_t bits = frame_word(p, base + kBits, ws);
    if ((left & 0xFFFF) == 0) {
      bits = rd32(ws, arr + cursor);
      left = (left & ~0xFFFFu) | 32;
      set_frame_word(p, base + kCursor, cursor + 4, ws);
    }
    e.i = (bits >> 31) & 1;
    if (!((left >> 16) & kShapeSingle)) {
      bits <<= 1;
      --left;
    }
    set_frame_word(p, base + kBits, bits, ws);
    set_frame_word(p, base + kLeft, left, ws);
    push_scalar_elem(e, ws);
    return;
  }
  const std::uint32_t size = elem_bytes(a.type);
  e = elem_at(a, (cursor - frame_word(p, base + kFirst, ws)) / size, ws);
  set_frame_word(p, base + kCursor, cursor + step, ws);
  push_scalar_elem(e, ws);
}

}  // namespace

std::uint32_t frame_word(std::uint32_t p, std::uint32_t k, Ws ws) { return rd32(ws, p + kStackEntrySize * k + se::Value); }
void set_frame_word(std::uint32_t p, std::uint32_t k, std::uint32_t v, Ws ws) {
  wr32(ws, p + kStackEntrySize * k + se::Value, v);
}

std::uint32_t stack_opctl(std::uint32_t kind, std::uint32_t count, std::uint32_t caller, Ws ws) {
  push_frame_entry(caller, ws);
  push_frame_entry(caller, ws);
  push_descriptor(hdr::LeftDesc, ws);
  push_descriptor(hdr::RightDesc, ws);
  push_frame_entry(0, ws);
  push_frame_entry(count, ws);
  push_frame_entry(kind, ws);
  return stack_entry_at(0, ws);
}

void stack_table_ptr(std::uint32_t p, Ws ws) { push_frame_entry(p, ws); }

void get_next_right(std::uint32_t p, Ws ws) { get_next(p, opf::RightWord, ws); }
void get_next_left(std::uint32_t p, Ws ws) { get_next(p, opf::LeftWord, ws); }

std::uint32_t stack_op_result(Ws ws) {
  StackEntry result;
  unstack(result, ws);
  const std::uint32_t link = stack_entry_at(0, ws);
  const std::uint32_t p = rd32(ws, link + se::Value);
  store_entry(link, result, ws);
  if ((result.cls & kOwnsObject) && result.value != 0) set_owner(result.value, link, OK_STACK, ws);
  return p;
}

int x_do_next_opr(Ws ws) {
  const std::uint32_t p = rd32(ws, stack_entry_at(1, ws) + se::Value);
  switch (frame_word(p, opf::Kind, ws)) {
    case kEachMonadic: return each_mon_return(ws);
    case kEachDyadic: return each_dy_return(ws);
    case kReduceDefined: return reduce_return(ws);
    case kScanDefined: return scan_return(ws);
    case kOuterDefined: return outer_return(ws);
    case kInnerOperand: return inner_operand_return(ws);
    case kInnerReduce: return inner_reduce_return(ws);
    case kArrayMethods: return array_method_return(ws);
    case kConstructorReturn: return constructor_return(ws);
    default: ZEMA_SYSTEM_ERROR(ws);
  }
}

int finish_frame(std::uint32_t p, const std::vector<std::uint32_t>& shape, Ws ws) {
  const std::uint32_t n = frame_word(p, opf::Count, ws);
  bool nothing = false;
  for (std::uint32_t k = 0; k < n; ++k)
    if (rd32(ws, stack_entry_at(k, ws) + se::Value) == 0) nothing = true;
  StackEntry result{static_cast<std::uint8_t>(kOwnsObject | TC_VALUE), kSeNoDisplay, 0};
  if (nothing) {
    for (std::uint32_t k = 0; k < n; ++k) {
      StackEntry e;
      unstack(e, ws);
      release_entry(e, ws);
    }
  } else {
    collect(shape, n, ws);
    unstack(result, ws);
  }
  const std::uint32_t slot = p + kStackEntrySize * opf::ResultSlot;
  wr32(ws, hdr::StackPointer, slot);
  store_entry(slot, result, ws);
  if (result.value) set_owner(result.value, slot, OK_STACK, ws);
  return ES_FINISH_APPLICATION;
}

namespace {
// A value or left argument whose entry names a variable.
bool names_variable(std::uint32_t slot, Ws ws) {
  const std::uint8_t cls = rd8(ws, slot + se::Class);
  const std::uint8_t kind = cls & kClassMask;
  return (kind == TC_VALUE || kind == TC_LEFTARG) && !(cls & kOwnsObject) && rd32(ws, slot + se::Value) != 0;
}
}  // namespace

void own_argument(std::uint32_t slot, Ws ws) {
  if (!names_variable(slot, ws)) return;
  const std::uint8_t kind = rd8(ws, slot + se::Class) & kClassMask;
  const std::uint32_t copy = copy_array(entry_of_token(rd16(ws, slot + se::Value)) + sym::Value, ws);
  settle_entry(slot, StackEntry{static_cast<std::uint8_t>(kOwnsObject | kind), rd8(ws, slot + se::Flags), copy}, ws);
}

void own_arguments_for_calls(Ws ws) {
  const bool left = names_variable(stack_entry_at(0, ws), ws);
  const bool right = names_variable(stack_entry_at(2, ws), ws);
  if (!left && !right) return;
  own_argument(stack_entry_at(0, ws), ws);
  own_argument(stack_entry_at(2, ws), ws);
  // Copies may have moved arrays: both descriptors are set again.
  const std::uint8_t kind = rd8(ws, stack_entry_at(0, ws) + se::Class) & kClassMask;
  if (kind == TC_VALUE || kind == TC_LEFTARG) xopafx(0, hdr::LeftDesc, stack_entry_at(0, ws), ws);
  xopafx(0, hdr::RightDesc, stack_entry_at(2, ws), ws);
}

}  // namespace zema
