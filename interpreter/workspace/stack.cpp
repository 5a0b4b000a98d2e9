#include "interpreter/workspace/stack.h"

#include <cstring>

#include "interpreter/workspace/errors.h"
#include "interpreter/workspace/heap.h"
#include "interpreter/workspace/symtab.h"

namespace zema {

namespace {

// Token classes of a name and of a name marked as a left argument.
constexpr std::uint8_t kClassName = 1;
constexpr std::uint8_t kClassLeftArgument = 22;

bool room_for_entry(std::uint32_t sp, Ws ws) {
  return std::int64_t(sp) - kStackEntrySize > std::int64_t(rd32(ws, hdr::HeapTop)) + kStackHeapMargin;
}

// True when the token just left of the line cursor is the dot.
bool dot_on_left(Ws ws) {
  const std::uint32_t line = rd32(ws, hdr::CurrentLine);
  const std::uint32_t cursor = rd32(ws, hdr::LineCursor);
  if (line == 0 || cursor == 0) return false;
  return rd8(ws, std::int64_t(line) + cursor - 1) == kDotTag;
}

// Makes room for one more entry: compacts once when the new entry would not
// lie above heap top + 50, WS FULL when it still would not (or when there is
// no garbage to reclaim).
void make_room(Ws ws) {
  if (room_for_entry(rd32(ws, hdr::StackPointer), ws)) return;
  if (rd32(ws, hdr::Garbage) == 0) ws_full(ws);
  force_gcol(ws);
  if (!room_for_entry(rd32(ws, hdr::StackPointer), ws)) ws_full(ws);
}

std::uint32_t put_entry(const StackEntry& e, Ws ws) {
  const std::uint32_t off = rd32(ws, hdr::StackPointer) - kStackEntrySize;
  wr32(ws, hdr::StackPointer, off);
  store_entry(off, e, ws);
  if ((e.cls & kOwnsObject) && e.value != 0) set_owner(e.value, off, OK_STACK, ws);
  return off;
}

}  // namespace

std::uint32_t stack(std::uint32_t source, Ws ws) {
  make_room(ws);
  // Read after compacting: compaction may have moved the source's object
  // and rewritten its value word.
  return put_entry(load_entry(source, ws), ws);
}

std::uint32_t stack(const StackEntry& e, Ws ws) {
  make_room(ws);
  return put_entry(e, ws);
}

std::uint32_t xpushx(Ws ws) {
  const StackEntry reg = load_entry(hdr::TokenRegister, ws);
  if ((reg.cls == kClassName || reg.cls == kClassLeftArgument) && !(reg.flags & kSeClassMember)) {
    const std::uint32_t entry = entry_of_token(rd16(ws, hdr::TokenRegister + se::Value));
    if ((rd8(ws, entry + sym::Type) & kSymTypeMask) == SYM_UNDEF && !dot_on_left(ws)) error(E_VALUE, 3, 1, ws);
  }
  const std::uint32_t off = stack(hdr::TokenRegister, ws);
  wr8(ws, hdr::TokenRegister + se::Class, rd8(ws, hdr::TokenRegister + se::Class) & ~kOwnsObject);
  return off;
}

std::uint32_t push_fake(Ws ws) { return stack(null_entry, ws); }

void unstack(StackEntry& out, Ws ws) {
  const std::uint32_t sp = rd32(ws, hdr::StackPointer);
  out = load_entry(sp, ws);
  wr32(ws, hdr::StackPointer, sp + kStackEntrySize);
}

bool is_primer(std::uint32_t k, Ws ws) {
  const std::uint32_t off = stack_entry_at(k, ws);
  return rd8(ws, off + se::Class) == primer.cls && rd8(ws, off + se::Value) == 0;
}

// ---- descriptors ------------------------------------------------------------------

void push_nest(std::uint32_t n, std::uint32_t source, Ws ws) {
  const std::uint32_t high = rd32(ws, hdr::NestHigh);
  const std::uint32_t low = rd32(ws, hdr::NestLow);
  if (high < n || high - n <= low) ws_full(ws);
  wr32(ws, hdr::NestHigh, high - n);
  std::memmove(ws + (high - n), ws + source, n);
}

std::uint32_t pop_nest(std::uint32_t n, std::uint32_t destination, Ws ws) {
  const std::uint32_t high = rd32(ws, hdr::NestHigh);
  std::memmove(ws + destination, ws + high, n);
  wr32(ws, hdr::NestHigh, high + n);
  return high + n;
}

void push_left(Ws ws) {
  push_nest(desc::Saved, hdr::LeftDesc, ws);
  push_nest(4, hdr::LeftItem, ws);
}

void push_right(Ws ws) {
  push_nest(desc::Saved, hdr::RightDesc, ws);
  push_nest(4, hdr::RightItem, ws);
}

void push_result(Ws ws) { push_nest(desc::Saved, hdr::ResultDesc, ws); }

std::uint32_t pop_left(Ws ws) {
  pop_nest(4, hdr::LeftItem, ws);
  pop_nest(desc::Saved, hdr::LeftDesc, ws);
  return desc::Saved;
}

std::uint32_t pop_right(Ws ws) {
  pop_nest(4, hdr::RightItem, ws);
  pop_nest(desc::Saved, hdr::RightDesc, ws);
  return desc::Saved;
}

std::uint32_t pop_result(Ws ws) {
  pop_nest(desc::Saved, hdr::ResultDesc, ws);
  return desc::Saved;
}

std::uint32_t find_ws_entry(std::uint32_t entry, Ws ws) {
  std::uint8_t cls = rd8(ws, entry + se::Class);
  std::uint32_t value = rd32(ws, entry + se::Value);
  if (cls & kOwnsObject) {
    if (value == 0) error(E_VALUE, 3, 1, ws);
    return value;
  }
  std::uint32_t sym = entry_of_token(value & 0xFFFF);
  if ((rd8(ws, sym + sym::Type) & kSymTypeMask) == SYM_UNDEF) error(E_VALUE, 3, 1, ws);
  return rd32(ws, sym + sym::Value);
}

}  // namespace zema
