// The execution stack, the token register and the argument descriptors.
//
// The stack holds 6-byte entries growing down from the top of the block;
// hdr::StackPointer is the offset of the newest entry, entry k from the top
// lies at stack pointer + 6k. The empty stack is the stack pointer at
// hdr::Top - 4, where a zero word (the sentinel) lies. The token register
// (hdr::TokenRegister) has the same 6-byte shape.
//
// Each primitive sees its arguments and builds its result through three
// argument descriptors in the header (left, right, result); while nested
// arguments are walked, descriptors are saved at the high end of the
// nested-result area (hdr::NestLow .. hdr::NestHigh).
#pragma once

#include <cstdint>

#include "interpreter/workspace/extended80.h"
#include "interpreter/workspace/workspace.h"

namespace zema {

// ---- stack entries ----------------------------------------------------------------

// Bytes per stack entry: class, flags and the unaligned value word.
constexpr std::uint32_t kStackEntrySize = 6;
// Room kept between a new stack entry and the heap top.
constexpr std::uint32_t kStackHeapMargin = 50;

// Fields of a stack entry.
namespace se {
constexpr std::uint32_t Class = 0;  // b: bit 7 owns an object; bits 0-6 token class
constexpr std::uint32_t Flags = 1;  // b
constexpr std::uint32_t Value = 2;  // w (unaligned)
}  // namespace se

constexpr std::uint8_t kOwnsObject = 0x80;     // class bit: value is an owned heap object
constexpr std::uint8_t kClassMask = 0x7F;      // the token class without kOwnsObject
constexpr std::uint8_t kOperatorFrame = 0x20;  // class of operator-frame entries

// Token classes: the low 7 bits of a stack entry's class byte.
enum TokenClass : std::uint8_t {
  TC_PRIMITIVE = 0,
  TC_VALUE = 1,
  TC_ASSIGN = 2,
  TC_BRANCH = 3,
  TC_RBRACKET = 4,
  TC_RPAREN = 5,
  TC_SEMICOLON = 6,
  TC_SLASH = 7,
  TC_NAMEDFN = 8,
  TC_INDEXLIST = 9,
  TC_BOUNDDOT = 10,
  TC_DOT = 11,
  TC_CONSTANT = 12,
  TC_NILADIC = 13,
  TC_SPECIAL = 14,
  TC_EDGE = 15,
  TC_LPAREN = 16,
  TC_LBRACKET = 17,
  TC_EACH = 18,
  TC_MONOP = 19,
  TC_DYOP = 20,
  TC_DERIVED = 21,
  TC_LEFTARG = 22,
  TC_RESERVED = 23,
  TC_INVALID = 0x80,
};

// Bits of the flags byte (se::Flags).
constexpr std::uint8_t kSeNoDisplay = 0x01;       // the statement's end does not display this value (assigned)
constexpr std::uint8_t kSeSelectiveModel = 0x02;  // the value is a selective-assignment model; results keep it
constexpr std::uint8_t kSeClassMember = 0x04;     // the name was resolved as a class member (no VALUE ERROR check)
constexpr std::uint8_t kSeResult = 0x08;          // a fresh result of a primitive or ⎕ function
constexpr std::uint8_t kSeRefsCounted = 0x10;     // the object references in the value are counted
constexpr std::uint8_t kSeReduceScan = 0x20;      // operator marks of a function entry: reduce or scan,
constexpr std::uint8_t kSeEach = 0x40;            //   each,
constexpr std::uint8_t kSeProduct = 0x80;         //   inner or outer product (not set yet)

// The one-byte token of the dot in a token line.
constexpr std::uint8_t kDotTag = 0x5D;

// One stack entry (or the token register) as values: class byte (bit 7
// kOwnsObject), flags byte, value word (an object's offset when it owns one,
// a symbol's token, a one-byte token or a small number).
struct StackEntry {
  std::uint8_t cls = 0;
  std::uint8_t flags = 0;
  std::uint32_t value = 0;
  friend constexpr bool operator==(const StackEntry&, const StackEntry&) = default;
};

// The bottom marker of every statement (class 5, value 0).
inline constexpr StackEntry primer{5, 0, 0};
// The placeholder of push_fake: class 0, no object (the absent left argument).
inline constexpr StackEntry null_entry{0, 0, 0};

// Reads the 6 bytes at `off` (a stack entry, the token register, or any slot
// of that shape) as a StackEntry; ownership is not touched.
inline StackEntry load_entry(std::uint32_t off, Ws ws) {
  return StackEntry{rd8(ws, off + se::Class), rd8(ws, off + se::Flags), rd32(ws, off + se::Value)};
}
// Writes `e` into the 6 bytes at `off`. Only the bytes: the object's owner
// word is not changed (set_owner, or settle_entry in heap.h, do that).
inline void store_entry(std::uint32_t off, const StackEntry& e, Ws ws) {
  wr8(ws, off + se::Class, e.cls);
  wr8(ws, off + se::Flags, e.flags);
  wr32(ws, off + se::Value, e.value);
}

// Offset of entry k counted from the top (0 = newest).
inline std::uint32_t stack_entry_at(std::uint32_t k, Ws ws) {
  return rd32(ws, hdr::StackPointer) + kStackEntrySize * k;
}
// True when no entry is above the sentinel (stack pointer = hdr::Top - 4).
inline bool stack_is_empty(Ws ws) { return rd32(ws, hdr::StackPointer) == rd32(ws, hdr::Top) - 4; }

// Pushes a copy of the entry at offset `source`; answers the new entry's
// offset. Compacts the heap once when the new entry would not lie above
// heap top + 50, then WS FULL if it still would not. An owned object (class
// bit 7, value not 0) is handed to the new entry (owner kind 2).
std::uint32_t stack(std::uint32_t source, Ws ws);
// The same for an entry held outside the workspace. Compaction rewrites only
// the slot an object's owner word names, so an entry that owns an object
// must be pushed from that slot with the form above.
std::uint32_t stack(const StackEntry& e, Ws ws);

// Pushes the token register and takes its object's ownership away from it
// (class bit 7 cleared). A name of class 1 or 22 whose symbol has no value
// (type 15), not resolved as a class member and not to the right of a dot,
// raises VALUE ERROR instead.
std::uint32_t xpushx(Ws ws);

// Pushes null_entry.
std::uint32_t push_fake(Ws ws);

// Pops the newest entry into `out` (ownership is the caller's to settle).
void unstack(StackEntry& out, Ws ws);

// True when entry k has class 5 and the first byte of its value is 0.
bool is_primer(std::uint32_t k, Ws ws);

// ---- argument descriptors -----------------------------------------------------------

// Fields of an argument descriptor in the header.
namespace desc {
constexpr std::uint32_t Type = 0;        // b: ElementType
constexpr std::uint32_t Shape = 1;       // b: shape flags below
constexpr std::uint32_t Reg = 2;         // 10 bytes: the side's Extended80 register
constexpr std::uint32_t OffsetWord = 12; // w: offset of the word holding the array's offset
constexpr std::uint32_t NestResult = 16; // w: result array in the nested-result area
constexpr std::uint32_t Cursor = 20;     // w: offset of the next element from the array start
constexpr std::uint32_t First = 24;      // w: offset of the first element (12 + rank x 4)
constexpr std::uint32_t Count = 28;      // w: element count
constexpr std::uint32_t Step = 32;       // w: element size; 0 for scalar extension
constexpr std::uint32_t Word = 36;       // w: booleans' current word; nested: element area
constexpr std::uint32_t Bits = 40;       // h: booleans: bits left in the word
constexpr std::uint32_t Saved = 42;      // bytes saved by push_left and friends
constexpr std::uint32_t Size = 44;       // with padding
}  // namespace desc

// Bits of a descriptor's shape byte (desc::Shape), set by xopafx.
constexpr std::uint8_t kShapeSingle = 0x80;      // one element, read with step 0 (a scalar unless kShapeOneElement)
constexpr std::uint8_t kShapeOneElement = 0x08;  // with kShapeSingle: not a scalar
constexpr std::uint8_t kShapeVector = 0x10;      // rank 1
constexpr std::uint8_t kShapeEmpty = 0x20;       // no elements

// A descriptor read out of (or to be written into) the header.
struct ArgDescriptor {
  std::uint8_t type = 0;
  std::uint8_t shape = 0;
  Extended80 reg;
  std::uint32_t offset_word = 0;
  std::uint32_t nest_result = 0;
  std::uint32_t cursor = 0;
  std::uint32_t first = 0;
  std::uint32_t count = 0;
  std::uint32_t step = 0;
  std::uint32_t word = 0;
  std::uint16_t bits = 0;
  friend bool operator==(const ArgDescriptor&, const ArgDescriptor&) = default;
};

// Reads the descriptor at `at` (hdr::LeftDesc, hdr::RightDesc or
// hdr::ResultDesc) field by field. Inline, as store_desc: every primitive
// call moves descriptors, and a caller that reads a few fields pays for those.
inline ArgDescriptor load_desc(std::uint32_t at, Ws ws) {
  ArgDescriptor d;
  d.type = rd8(ws, at + desc::Type);
  d.shape = rd8(ws, at + desc::Shape);
  d.reg = load_x80(ws + at + desc::Reg);
  d.offset_word = rd32(ws, at + desc::OffsetWord);
  d.nest_result = rd32(ws, at + desc::NestResult);
  d.cursor = rd32(ws, at + desc::Cursor);
  d.first = rd32(ws, at + desc::First);
  d.count = rd32(ws, at + desc::Count);
  d.step = rd32(ws, at + desc::Step);
  d.word = rd32(ws, at + desc::Word);
  d.bits = rd16(ws, at + desc::Bits);
  return d;
}
// Writes every field of `d` into the descriptor at `at`.
inline void store_desc(std::uint32_t at, const ArgDescriptor& d, Ws ws) {
  wr8(ws, at + desc::Type, d.type);
  wr8(ws, at + desc::Shape, d.shape);
  store_x80(ws + at + desc::Reg, d.reg);
  wr32(ws, at + desc::OffsetWord, d.offset_word);
  wr32(ws, at + desc::NestResult, d.nest_result);
  wr32(ws, at + desc::Cursor, d.cursor);
  wr32(ws, at + desc::First, d.first);
  wr32(ws, at + desc::Count, d.count);
  wr32(ws, at + desc::Step, d.step);
  wr32(ws, at + desc::Word, d.word);
  wr16(ws, at + desc::Bits, d.bits);
}
// Reads and writes only the register of the descriptor at `at`.
inline Extended80 desc_reg(std::uint32_t at, Ws ws) { return load_x80(ws + at + desc::Reg); }
inline void set_desc_reg(std::uint32_t at, const Extended80& v, Ws ws) { store_x80(ws + at + desc::Reg, v); }

// The descriptor stack at the high end of the nested-result area.
// push_nest lowers the high end by n and copies n bytes from `source`
// there; WS FULL when the high end would not stay above the low end.
void push_nest(std::uint32_t n, std::uint32_t source, Ws ws);
// Copies n bytes from the high end to `destination` and raises the high end
// by n; answers the new high end (just past the bytes taken).
std::uint32_t pop_nest(std::uint32_t n, std::uint32_t destination, Ws ws);

// Saves on the descriptor stack (push_nest) the first desc::Saved (42)
// bytes of the left descriptor, then the word hdr::LeftItem; WS FULL when
// the area has no room.
void push_left(Ws ws);
// The same for the right descriptor and hdr::RightItem.
void push_right(Ws ws);
// Saves the result descriptor alone (42 bytes).
void push_result(Ws ws);
// Restores what push_left saved (the item word, then the descriptor) and
// answers desc::Saved (42), the descriptor bytes taken. Pops must come in
// the reverse order of the pushes.
std::uint32_t pop_left(Ws ws);
// The same for the right descriptor and hdr::RightItem.
std::uint32_t pop_right(Ws ws);
// Restores the result descriptor; answers 42.
std::uint32_t pop_result(Ws ws);

// The offset of the array that a value entry stands for: its own object,
// or the value of the name it holds. VALUE ERROR when there is none.
std::uint32_t find_ws_entry(std::uint32_t entry, Ws ws);

}  // namespace zema
