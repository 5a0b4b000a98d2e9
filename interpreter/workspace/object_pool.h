// The object pool: one table of slots through which APL values reach
// instances and classes. A value holds a slot number (element type 14),
// never an offset, so references survive compaction, saving and loading;
// the slot is the pooled object's owner. Each pooled object counts the
// references to it and is freed when the count falls to zero; instances
// that only refer to each other are found by a mark-and-sweep pass at the
// next compaction.
#pragma once

#include <cstdint>

#include "interpreter/workspace/workspace.h"

namespace zema {

// The pool object (element type 4, owner word hdr::ObjectPool, kind 0).
namespace pool {
constexpr std::uint32_t Flags = 9;          // b: kCyclesPossible
constexpr std::uint32_t Capacity = 12;      // w: number of slots
constexpr std::uint32_t InUse = 16;         // w: slots in use, counting slot 0
constexpr std::uint32_t LowestFree = 20;    // w: where the search for a free slot starts
constexpr std::uint32_t Table = 40;         // w × capacity: object offset per slot, 0 = free
constexpr std::uint32_t NewCapacity = 100;  // capacity of a new pool, and the least room added when it grows
constexpr std::uint32_t ShrinkAt = 200;     // least free slots that make compaction shrink or renumber
}  // namespace pool

// Pool flag: an instance holding references has lost a reference, so a
// cycle of unreachable instances may exist.
constexpr std::uint8_t kCyclesPossible = 0x01;

// The header of a pooled object (instance, element type 8, owner kind 1;
// class, element type 6, owner kind 5). Its owner word is 0: its slot is
// pool + pool::Table + 4 × OwnSlot.
namespace pobj {
constexpr std::uint32_t Arch = 2;          // b: 0 APL class, 1 ⎕WI object, 3–19 external, 0xFF not set
constexpr std::uint32_t Flags = 9;         // b: kStandsForExternal, kSweepMark
constexpr std::uint32_t RefCount = 12;     // w
constexpr std::uint32_t OwnSlot = 16;      // w
constexpr std::uint32_t ClassSlot = 20;    // w: an instance's class
constexpr std::uint32_t ParentSlot = 24;   // w: a class's parent
constexpr std::uint32_t NameSymbol = 28;   // w: class-name symbol's byte offset (token × 8), 0 deleted
constexpr std::uint32_t Stamp = 36;        // w ×2: time of the last change (classes)
constexpr std::uint32_t SerialHigh = 44;   // w
constexpr std::uint32_t SerialLow = 48;    // w
constexpr std::uint32_t DisplayText = 52;  // w: ⎕DF text object, 0 none (owner word here, kind 0)
constexpr std::uint32_t Count = 60;        // w: member or property entries
constexpr std::uint32_t Entries = 72;      // 12-byte entries
constexpr std::uint32_t HeaderSize = 72;   // an object without entries
}  // namespace pobj

// A member or property entry (offsets from the entry). The value's owner
// word is the entry's value field, owner kind 0.
namespace mentry {
constexpr std::uint32_t Token = 0;   // h: member name's symbol token
constexpr std::uint32_t Kind = 2;    // b: the member's symbol type (0–2 method, 3 property, 15 no value)
constexpr std::uint32_t Access = 3;  // b: kPrivate, kClassWide, kReadOnly
constexpr std::uint32_t Value = 4;   // w: value object, 0 none
constexpr std::uint32_t Size = 12;
}  // namespace mentry

// Access flags of a member entry.
constexpr std::uint8_t kPrivate = 0x01;
constexpr std::uint8_t kClassWide = 0x02;
constexpr std::uint8_t kReadOnly = 0x04;

// Pooled-object flags (pobj::Flags).
constexpr std::uint8_t kStandsForExternal = 0x01;
constexpr std::uint8_t kSweepMark = 0x04;

// obj::Flags1 bit of a value object (an array or a derived function): the
// references it holds are counted, so releasing it gives them up. A value
// gets it when it is first kept (count_value_references); a copy made from
// byte 8 on starts without it, and an object released without it (a result
// that failed half-way) gives up nothing.
constexpr std::uint8_t kRefsCounted = 0x20;

// hdr::MiscBits bit: a sweep is freeing objects (a count reaching zero
// then leaves the object to the sweep).
constexpr std::uint8_t kSweepRunning = 0x80;

// Offset of the pool object, 0 when there is none.
inline std::uint32_t object_pool(Ws ws) { return rd32(ws, hdr::ObjectPool); }

// Makes an empty pool (capacity 100, slot 0 in use) when there is none.
// May compact; WS FULL when it does not fit.
void create_new_object_pool(Ws ws);

// Makes the pool if needed and grows it so that n more slots are free:
// a new pool object of capacity max(in use + n + 100, in use × 1.5) takes
// the header and table, the old one is released. May compact; WS FULL when
// it does not fit.
void ensure_object_pool_space(std::uint32_t n, Ws ws);

// A new pooled object of `size` bytes (from byte 0 to the end of its data;
// at least pobj::HeaderSize): data cleared, owner kind 1, element type 8,
// architecture 0xFF, count 0, the lowest free slot as its own and the next
// serial number (hdr::SerialHigh/Low). Answers its offset; the caller sets
// the architecture and the rest. May compact; WS FULL.
std::uint32_t create_object_instance(std::uint32_t size, Ws ws);

// The offset of the object in `slot`, 0 for no pool or a free slot. A slot
// at or beyond the capacity is SYSTEM ERROR.
std::uint32_t find_object_instance(std::uint32_t slot, Ws ws);

// Whether `slot` holds an object (false for 0, no pool, a slot beyond the
// capacity or a free slot).
bool object_slot_live(std::uint32_t slot, Ws ws);

// One more reference to `slot`'s object (slot 0 does nothing; no pool, a
// slot beyond the capacity or a free slot is SYSTEM ERROR).
void inc_object_reference_count(std::uint32_t slot, Ws ws);

// One reference fewer. Slot 0, no pool and a free slot do nothing; beyond
// the capacity is SYSTEM ERROR. An APL instance whose properties hold
// references sets the pool's kCyclesPossible first. At zero (and no sweep
// running) the slot is freed and then the object released, which releases
// what it holds in turn.
void dec_object_reference_count(std::uint32_t slot, Ws ws);

// Every reference in `array` (type 14, or type 15 with its items at any
// depth) gains one / loses one. The decrement answers whether it released
// any reference. Other types do nothing.
void inc_array_reference_counts(std::uint32_t array, Ws ws);
bool dec_array_reference_counts(std::uint32_t array, Ws ws);

// Counts the references value object `off` holds, once (kRefsCounted):
// each reference to a live object gains one; a reference to a free slot,
// or beyond the capacity, means nothing here and becomes null. Arrays
// without references, and any value while the pool holds no object, are
// left unmarked. Every place that keeps a value
// (a variable, a stack slot, a property) calls it; it is idempotent.
void count_value_references(std::uint32_t off, Ws ws);

// The same for the array or derived function embedded in a derived
// function (element type 2, larger than 53 bytes).
void inc_derfn_reference_counts(std::uint32_t derfn, Ws ws);
bool dec_derfn_reference_counts(std::uint32_t derfn, Ws ws);

// Whether `array` is a reference array (even of null references) or a
// nested array with one at any depth.
bool contains_object_reference(std::uint32_t array, Ws ws);

// Sets every reference in `array` and its items to null (arrays read from
// files, whose slot numbers mean nothing here).
void nullify_object_references(std::uint32_t array, Ws ws);

// What releasing object `off` (already marked released) gives up, by what
// it is: an instance's property values and ⎕DF text, a class's contents,
// the references of an array or derived function. Called by mgarb.
void release_object_contents(std::uint32_t off, Ws ws);

// Releases the value of the member or property entry at `entry` and sets
// its value word to 0: a method's (kind 0–2 or an operator's) header line
// with every body line chained from it, any other value alone; a property
// without a value (kind 15) holds none. The kind is left as it was.
void release_member_value(std::uint32_t entry, Ws ws);

// The owner words of what a pooled APL object at `off` owns (member or
// property values, ⎕DF text) follow it after it moved by `delta` bytes.
void move_pooled_owner_words(std::uint32_t off, std::int64_t delta, Ws ws);

// The first step of heap compaction: the cycle sweep when flagged; the
// pool freed when empty; when at least 200 slots and at least half the
// capacity are free, cut when its top is empty, or else renumbered (every
// reference in the workspace rewritten) to capacity in use + 100.
void compact_object_pool(Ws ws);

// Frees every pooled object that no variable, stack entry, current
// instance or state-indicator level reaches, when kCyclesPossible is set.
void mark_and_sweep(Ws ws);

// Checks the pool against the heap: header words, every used slot holding
// a live pooled object that names that slot, the count in use, the lowest
// free slot, and every live pooled object of the heap present in the pool.
// Answers false (without raising) at the first inconsistency.
bool object_pool_consistent(Ws ws);

// Checks the counts against the references: every value object of the
// heap marked kRefsCounted refers only to live objects (or null), and no
// object's count is below the number of such references to it; with
// `exact`, equal to it (true when no function runs and no constructor or
// method holds an instance). Answers false at the first difference. For
// tests and the integrity check: it keeps a tally per slot in host memory.
bool object_reference_counts_consistent(bool exact, Ws ws);

}  // namespace zema
