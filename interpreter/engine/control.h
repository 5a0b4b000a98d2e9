// Branches and control structures: → and the control keywords, the
// control-structure records in which a running structure keeps its state,
// and the search for a structure's next clause.
//
// A record (12 bytes) is one per control-structure depth of the running
// function, below its frame (depth 0 lowest), or the header's one record
// (hdr::ImmediateCs) for immediate execution:
//   +0 b 0xFE   +1 b kind (csk::)   +2 h the opening line's number; a :Try's
//   state (cstry::) and, while an error is being caught, its code × 16
//   +4 w a value the structure keeps (:For's array, :Select's value), owner
//   kind 0, or 0   +8 w :If/:Select decision, :Repeat count, :For items
//   assigned, :Try the trap word saved at :Try.
#pragma once

#include <cstdint>

#include "interpreter/workspace/workspace.h"

namespace zema {

// Keyword tokens (2c + 1 of their character codes).
namespace kw {
constexpr std::uint8_t If = 0x61, For = 0x63, While = 0x65, Repeat = 0x67, Select = 0x69, Try = 0x6B,
                       CatchIf = 0x6D, CatchAll = 0x6F, EndTry = 0x71, Else = 0xC3, ElseIf = 0xC5, AndIf = 0xC7,
                       OrIf = 0xC9, Case = 0xCB, CaseList = 0xCD, End = 0xE1, EndIf = 0xE3, EndFor = 0xE5,
                       EndWhile = 0xE7, EndRepeat = 0xE9, EndSelect = 0xEB, Until = 0xED, Leave = 0xEF,
                       Continue = 0xF1, GoTo = 0xF3, Return = 0xF5, In = 0xF7;
}  // namespace kw

// Record kinds: the opening keyword's character code.
namespace csk {
constexpr std::uint8_t If = 0x30, For = 0x31, While = 0x32, Repeat = 0x33, Select = 0x34, Try = 0x35;
}
// States of a :Try record (low four bits of its word at +2).
namespace cstry {
constexpr std::uint16_t Block = 0, Catching = 1, CatchBlock = 2;
}
// Trap word bit: inside a :Try block.
constexpr std::uint32_t kTrapInTry = 0x10000000u;

// Reduce action for a statement that begins with → or a control keyword
// (the stack: the keyword, its value or the statement's primer, ...; the
// token register holds the statement edge, or the name left of :In).
// Carries the branch out or runs the keyword; answers the next state.
int do_xbrnch(Ws ws);

// Statement start: true when the statement's first byte may begin a clause
// whose condition is not to be evaluated (:ElseIf, :OrIf, :CatchIf).
inline bool sc_maybe_redundant(std::uint8_t first) { return first == kw::ElseIf || first == kw::OrIf || first == kw::CatchIf; }
// For such a statement: when its structure has already taken a block
// (:ElseIf, :OrIf) or its try or catch block ended normally (:CatchIf),
// passes over it without evaluating and answers the next state; else -1
// (the statement runs).
int sc_redundant_clause(Ws ws);

// A :For statement's :In before the engine would go on: for `:For … :In
// ⍳N` (the stack: ⍳ over a value over the primer, the token register :In)
// the loop runs over the compact sequence without making the vector; for
// `:For (A B) :In value` (the register the parenthesis) the names are not
// evaluated. Answers the next state, or -1 when the statement is not of
// either form (for ⍳, N not a single non-negative integer): the engine
// then goes on as written.
int sc_in_early(Ws ws);

// Whether `token` is an end keyword (:End, :EndIf … :EndSelect, :EndTry).
bool ends_structure(std::uint8_t token);
// A statement that is an end keyword alone, taken (the stack: the
// statement's primer; the cursor at its opening tag, the register its
// edge): runs it as the engine would and answers the next state.
int sc_end_statement(Ws ws);

// The error path's step for :Try: when an armed :Try block encloses the
// failing line of the current function, that record starts catching (the
// trap word put back from it, `code` kept to be raised again when no clause
// takes it) and the answer is the line of its first catch clause or
// :EndTry; else -1. The :Try bit of the trap word is cleared either way.
int sc_find_catch_line(int code, Ws ws);

}  // namespace zema
