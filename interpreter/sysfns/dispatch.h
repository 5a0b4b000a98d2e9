// Calling a name in function position: xnilfn (niladic), do_xmnfn
// (monadic) and do_xdyfn (dyadic) decide between a defined function and a
// system function, and dispatch a system function through the table of
// the 164 ⎕ names (interpreter/reader/system_functions.def) to its handler.
//
// A ⎕ name is a symbol whose value word holds its number × 4 (the row of
// the table) and whose type is 9 (takes arguments) or 6 (niladic).
#pragma once

#include <cstdint>

#include "interpreter/reader/tokeniser.h"
#include "interpreter/workspace/workspace.h"

namespace zema {

// An argument of a system function: the word that holds its array's offset
// (a stack entry's or a variable's value word). Compaction keeps the word
// up to date, so a handler that allocates reads the array again through it.
struct SfArg {
  std::uint32_t slot = 0;
  std::uint32_t array(Ws ws) const { return rd32(ws, slot); }
};

// Handlers, by valence. Each pushes its result on the execution stack
// (push_result) and returns, or raises an APL error. A niladic handler
// takes no argument; a monadic one its right argument; a dyadic one both,
// their descriptors (hdr::LeftDesc, hdr::RightDesc) already set on them.
using SfNiladic = void (*)(Ws ws);
using SfMonadic = void (*)(SfArg right, Ws ws);
using SfDyadic = void (*)(SfArg left, SfArg right, Ws ws);

// One ⎕ name's row: its name, its flags and a handler per valence (null
// where the row has none; sysfn_form says what the call does then).
struct SysFnRow {
  const char* name;  // UTF-8, for listings and diagnostics
  std::uint8_t flags;  // sff:: bits
  SfNiladic niladic;
  SfMonadic monadic;
  SfDyadic dyadic;
};

// Row n (0 <= n < kSystemFunctions) of the table.
const SysFnRow& sysfn_row(int n);

// What a row does for one valence, as the tests and listings see it.
enum class SfForm {
  Handler,    // a handler of its own runs
  Nonce,      // the form does not exist: NONCE ERROR
  Valence,    // the name does not take this valence: VALENCE ERROR
  Missing,    // the service behind the name is not in this program: NONCE ERROR
  Domain,     // DOMAIN ERROR (monadic ⎕DESC)
  Syntax,     // SYNTAX ERROR (⎕REF, ⎕VAL)
};
// valence: 0 niladic, 1 monadic, 2 dyadic.
SfForm sysfn_form(int n, int valence);

// The three entries, reduce actions of the engine. Each polls for an
// attention (the dyadic and monadic ones) and hands a name that is not a ⎕
// name to call_defined, answering what it answers. For a ⎕ name it counts
// the function's token off hdr::TokensTaken, clears the call registers,
// records the row number × 4 in hdr::PrimCode, and runs the row's handler
// for the valence or raises the row's error for it (sysfn_form).
//
// Dyadic call. The stack holds, from the stack pointer up, the left
// argument (class 1 or 22), the function and the right argument (else
// SYNTAX ERROR). An operator's marks on the function are NONCE ERROR, an
// axis AXIS ERROR; sets both descriptors (VALUE ERROR for a name without a
// value), refuses a nested or object-reference argument the row's flags do
// not allow (DOMAIN ERROR). Answers engine state 2: the result is on top of
// the call's entries.
int do_xdyfn(Ws ws);
// Monadic call: the stack holds the function and the right argument; a
// placeholder is pushed for the left argument first, then as do_xdyfn with
// the right descriptor alone. Answers 2.
int do_xmnfn(Ws ws);
// Niladic call of the name in the token register: pushes a placeholder,
// the name (xpushx: VALUE ERROR for a name without a value) and a second
// placeholder. A ⎕ name's result is popped into the token register (its
// kSeResult mark cleared) and the three entries released. Answers 9.
int xnilfn(Ws ws);

}  // namespace zema
