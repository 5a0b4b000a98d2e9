// The operator frame: an operator whose operand is a function the engine
// must run (a defined function) keeps its working state in 17 stack entries
// of class 0x20, pushes the operand's call above them with a link entry and
// lets the engine run it; when the result lies on the link, the engine
// resumes the operator by the frame's continuation kind.
#pragma once

#include <cstdint>
#include <vector>

#include "interpreter/workspace/workspace.h"

namespace zema {

// Class of the frame's entries and of the link entry.
constexpr std::uint8_t kClassOperatorFrame = 0x20;

// Words of the frame at P (the u32 value of the entry at P + 6k, at byte
// P + 6k + 2). Words 9-14 repeat 3-8 for the left argument.
namespace opf {
constexpr std::uint32_t Entries = 17;
constexpr std::uint32_t Kind = 0;         // continuation kind (below)
constexpr std::uint32_t Count = 1;        // operand calls to make
constexpr std::uint32_t Index = 2;        // results collected so far
constexpr std::uint32_t RightWord = 3;    // offset of the ws word holding the right array's offset
constexpr std::uint32_t RightCursor = 4;  // next element, from the array's start
constexpr std::uint32_t RightFirst = 5;   // first element, from the array's start
constexpr std::uint32_t RightStep = 6;    // bytes per item, 0 for a repeated element
constexpr std::uint32_t RightBits = 7;    // booleans: the current word
constexpr std::uint32_t RightLeft = 8;    // u16 bits left in it; byte 2 the descriptor's shape flags
constexpr std::uint32_t LeftWord = 9;
constexpr std::uint32_t Caller = 15;      // each: offset of the ws word holding the shape-giving array
constexpr std::uint32_t ResultSlot = 16;  // the same value; the slot of the final result
}  // namespace opf

// Continuation kinds (word 0).
constexpr std::uint32_t kEachMonadic = 0;
constexpr std::uint32_t kEachDyadic = 4;
constexpr std::uint32_t kOuterDefined = 8;   // ∘.g: the next pair
constexpr std::uint32_t kReduceDefined = 12;
constexpr std::uint32_t kScanDefined = 16;
constexpr std::uint32_t kInnerOperand = 20;  // f.g: g's call on a row and a column returned
constexpr std::uint32_t kInnerReduce = 24;   // f.g: f/ of g's result returned

// Word k of the frame at P, read and written.
std::uint32_t frame_word(std::uint32_t p, std::uint32_t k, Ws ws);
void set_frame_word(std::uint32_t p, std::uint32_t k, std::uint32_t v, Ws ws);

// Pushes a frame of `kind` for `count` calls, with both argument
// descriptors (hdr::LeftDesc, hdr::RightDesc) saved and `caller` twice;
// answers its position P (the lowest entry).
std::uint32_t stack_opctl(std::uint32_t kind, std::uint32_t count, std::uint32_t caller, Ws ws);

// Pushes the link entry (class 0x20, value P).
void stack_table_ptr(std::uint32_t p, Ws ws);

// Pushes the next item of the right (left) argument saved in the frame at
// P as a value of its own (a copy of a nested item, a scalar of a simple
// element) and advances the saved cursor.
void get_next_right(std::uint32_t p, Ws ws);
void get_next_left(std::uint32_t p, Ws ws);

// With the operand's result on top and the link under it: the result takes
// the link's slot; answers P.
std::uint32_t stack_op_result(Ws ws);

// Resumes the operator whose link lies under the result on top of the
// stack by its frame's kind; answers the engine state. SYSTEM ERROR for an
// unknown kind.
int x_do_next_opr(Ws ws);

// The N results above the frame at P (N its count word) made one array of
// `shape`, completed as collect does, and put in the frame's result slot (the
// no-value entry when some call gave no value); the stack is cut back to that
// slot. Answers the state that finishes the application.
int finish_frame(std::uint32_t p, const std::vector<std::uint32_t>& shape, Ws ws);

// Makes the value entry at the stack slot `slot` own its array: a
// variable's value (an entry that names it) is copied, so that an operand
// called through a frame that assigns the variable does not change the
// array the operator walks. Other entries are left. WS FULL; may compact.
void own_argument(std::uint32_t slot, Ws ws);

// For an operator about to call its operand through a frame (stack from
// the top: left argument or the absent one's placeholder, function, right
// argument): own_argument on both arguments, the descriptors set again on
// any that was copied. WS FULL; may compact.
void own_arguments_for_calls(Ws ws);

}  // namespace zema
