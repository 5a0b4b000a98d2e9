// Defined-function call and return: a call becomes a new level of the
// state indicator (a frame, siframe::, on the execution stack with its local
// records below it), and the end of the function turns back into a value.
#pragma once

#include <cstdint>

#include "interpreter/workspace/stack.h"
#include "interpreter/workspace/workspace.h"

namespace zema {

// Header registers that the dispatch fills for the call (tokens, 0 = none).
namespace callreg {
constexpr std::uint32_t ResultName = 0x038;    // h: the header's result name
constexpr std::uint32_t LeftName = 0x03A;      // h: the left argument's name
constexpr std::uint32_t OwnName = 0x03C;  // 0xFFFF when the function localises its own name
constexpr std::uint32_t RightName = 0x03E;     // h: the right argument's name
constexpr std::uint32_t Monadic = 0x040;  // i16: 1 for a monadic call
constexpr std::uint32_t LeftOperand = 0x042;   // h: a defined operator's left operand name
constexpr std::uint32_t RightOperand = 0x044;  // h: its right operand name
constexpr std::uint32_t OperatorType = 0x046;  // end of the registers cleared for a call
}  // namespace callreg

// The state-indicator frame and its local records. Offsets from the
// frame's base; the words marked "saved" hold the header word of the same
// name (hdr::) as it was at the call, put back by quadus.
namespace siframe {
constexpr std::uint32_t Size = 96;          // bytes of a frame
constexpr std::uint32_t Count = 0x00;       // i16: records below the frame, minus one
constexpr std::uint32_t Pending = 0x04;     // w: saved message object (owner word here)
constexpr std::uint32_t Et1 = 0x08;         // i16: saved ⎕ET, -1 when not saved
constexpr std::uint32_t Et2 = 0x0A;         // i16: its second element
constexpr std::uint32_t Tabs = 0x0C;        // 22 bytes: saved ⎕HT
constexpr std::uint32_t Ct = 0x22;          // 10 bytes: saved ⎕CT
constexpr std::uint32_t Instance = 0x2C;      // w: saved CurrentInstance
constexpr std::uint32_t RunningSymbol = 0x30; // w: saved RunningSymbol
constexpr std::uint32_t RunningToken = 0x34;  // h: 0 in the bottom frame
constexpr std::uint32_t State = 0x36;         // h: saved engine state word (st::)
constexpr std::uint32_t Line = 0x38;          // w: saved current token line (owner word here)
constexpr std::uint32_t Register = 0x3E;      // 6 bytes: saved token register
constexpr std::uint32_t StackPointer = 0x44;  // w: the stack pointer at the call (its entries on top)
constexpr std::uint32_t LineNumber = 0x48;    // w: saved FnLineNumber
constexpr std::uint32_t ErrTokens = 0x4C;     // h: saved ErrTokenCount
constexpr std::uint32_t Tokens = 0x4E;        // h: saved TokensTaken
constexpr std::uint32_t Cursor = 0x50;        // w: saved LineCursor
constexpr std::uint32_t SymType = 0x54;       // b: saved RunningSymType
constexpr std::uint32_t EvalKind = 0x55;      // b: saved EvalKind
constexpr std::uint32_t BelowReads = 0x56;    // b: 1 when the levels below hold entries naming variables
constexpr std::uint32_t Trap = 0x58;          // w: saved TrapWord
constexpr std::uint32_t Link = 0x5C;          // w: the previous frame's link (hdr::SiLink chains them), 0: none
constexpr std::uint32_t RecordSize = 12;      // a local record: kind b, token h at 2, value w at 4, type b at 8
}  // namespace siframe

// Local record kinds (the record's first byte).
constexpr std::uint8_t kRecName = 0x00;     // a localised name: its saved value and type
constexpr std::uint8_t kRecRL = 0x01;       // localised ⎕RL: its saved value
constexpr std::uint8_t kRecCT = 0x02;       // localised ⎕CT: saved in the frame (siframe::Ct)
constexpr std::uint8_t kRecHT = 0x03;       // localised ⎕HT: saved in the frame (siframe::Tabs)
constexpr std::uint8_t kRecLabel = 0x7F;    // a label, localised as a name
constexpr std::uint8_t kRecControl = 0xFE;  // one per control-structure level: an object to release, or 0
constexpr std::uint8_t kRecEmpty = 0xFF;    // nothing to restore

// Offset of the newest frame's base, 0 when the state indicator is empty.
std::uint32_t si_frame(Ws ws);
// True when the state indicator is empty (si_frame answers 0).
inline bool si_empty(Ws ws) { return si_frame(ws) == 0; }

// Function set-up: clears the header registers and fetches the header of
// the function entry (the entry above the stack pointer). Answers 4 for a
// defined function (with its valence code: -1 niladic, 0 monadic, 1 with a
// left argument), 0 for a system function.
int dfnsu(int* valence_code, Ws ws);
// The header's name cursor just after the result token (when any).
std::uint32_t header_names(Ws ws);

// Writes into the new frame at `frame` the header registers a level keeps
// (current instance, running symbol and token, engine state, line and line
// number, token counts, symbol type, evaluation kind, trap word), with the
// stack pointer `sp` and the line cursor `cursor` it goes back to, and
// whether the levels below hold readers of variables (readers_below in
// assign.h); the new frame's link word must be written.
void save_level_registers(std::uint32_t frame, std::uint32_t sp, std::uint32_t cursor, Ws ws);
// Performs the call whose registers are set; answers engine state 12.
int xfnc(Ws ws);

// Ends the current level; answers the symbol type of the level that ended
// (0 niladic, 1 or 2 a function with arguments, 3 a level that is not a
// function).
int xfnclr(Ws ws);

// Pops the newest frame and restores the engine's words; answers the
// frame's base.
std::uint32_t quadus(Ws ws);

// The line object of line n (n >= 1) of the executing function, or 0.
std::uint32_t xffndl(std::uint32_t n, Ws ws);

// The function object of the executing function (0 in immediate execution).
std::uint32_t running_function(Ws ws);

// Calls a defined function from the dispatch, with `valence` 0 (niladic),
// 1 (monadic) or 2 (dyadic): the stack already holds the left entry (or a
// placeholder), the function entry and the right entry (or a placeholder)
// from the stack pointer up. Answers the engine state.
int call_defined(int valence, Ws ws);

// Calls a defined operator as call_defined calls a function (`dyadic` for
// a call with a left argument; the function entry names the operator): the
// names of the header are bound as a function's, and its operand names
// become local names of type 10 whose values hold `left_operand` and, for
// a dyadic operator, `right_operand` (entries that own no object).
// VALENCE ERROR for a left argument the header does not name. Answers the
// engine state.
int call_operator(bool dyadic, const StackEntry& left_operand, const StackEntry& right_operand, Ws ws);

// Prints "NAME[line] " for the running function (error reports).
void fnsub(Ws ws);

}  // namespace zema
