// Calling a name in function position: xnilfn (niladic), do_xmnfn
// (monadic) and do_xdyfn (dyadic) decide between a defined function and a
// system function, and dispatch a system function through the table of
// the 164 ⎕ names (interpreter/system_functions.def) to its handler.
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

// Handlers. Each pushes its result on the execution stack (push_result)
// and returns, or raises an APL error.
using SfNiladic = void (*)(Ws ws);
using SfMonadic = void (*)(SfArg right, Ws ws);
using SfDyadic = void (*)(SfArg left, SfArg right, Ws ws);

struct SysFnRow {
  const char* name;  // UTF-8, for listings and diagnostics
  std::uint8_t flags;
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

// The three entries. The stack holds, from the stack pointer up: for
// do_xdyfn the left argument (class 22), the function and the right
// argument; for do_xmnfn the function and the right argument; xnilfn calls
// the name in the token register. A system function answers engine state
// 2 (monadic, dyadic: its result is on top of the call's entries) or 9
// (niladic: its result is in the token register).
int do_xdyfn(Ws ws);
int do_xmnfn(Ws ws);
int xnilfn(Ws ws);

}  // namespace zema
