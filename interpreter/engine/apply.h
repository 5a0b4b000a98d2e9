// Applying primitive functions: the table of PrimitiveFlags, the monadic
// and dyadic application the engine reduces to, the scalar path with its
// rerun on integer overflow, nested pervasion of the scalar functions, the
// handler tables of the mixed (non-scalar) primitives, and finishing an
// application (state 2). The flags, the function-entry flags, the
// derived-function layout and the handlers' call are in the primitives'
// primitive_call.h.
#pragma once

#include <cstdint>

#include "interpreter/primitives/primitive_call.h"
#include "interpreter/workspace/workspace.h"

namespace zema {

// The token tag of the primitive a function entry applies: its own, or
// that of the primitive a derived function derives from.
std::uint8_t function_tag(std::uint32_t fn_entry, Ws ws);

// The opflg row of a PrimitiveCode (0: the code is not a function).
std::uint32_t primitive_flags(std::uint8_t code);

// z ← a f b for the scalar primitive `code` (flags `flags`, its
// PrimitiveFlags) on two boolean or integer scalars, when the typed
// kernels would give it in one element: + − × with an integer result
// within 32 bits, the comparisons, and the result type the row asks for
// (`boolean` says which). False for anything else, an integer overflow
// included (the kernels rerun it in floating point). Reads nothing else.
bool small_scalar_result(std::uint8_t code, std::uint32_t flags, std::int64_t a, std::int64_t b, std::int64_t& z,
                         bool& boolean);

// The handler of a code's monadic and dyadic form (nullptr: NONCE ERROR).
PrimitiveHandler monadic_handler(std::uint8_t code);
PrimitiveHandler dyadic_handler(std::uint8_t code);

// The engine's reductions: a primitive on top with its argument below
// (monadic), a left argument on top of a primitive and its right argument
// (dyadic). Both answer the next state (2).
int do_xmnop(Ws ws);
int do_xdyop(Ws ws);
// `flags`: run-time call flags ORed into the primitive's row; the function
// is the stack entry at `fn_entry`. With `finish` (the engine's own
// applications), a scalar function of two small scalars also ends the
// application itself (as do_xmnopd) and answers the state after it; else
// the result is left on the stack for ES_FINISH_APPLICATION.
int xmnop_common(std::uint32_t flags, std::uint32_t fn_entry, Ws ws);
int xdyop_common(std::uint32_t flags, std::uint32_t fn_entry, Ws ws, bool finish = false);

// The engine's reductions of a derived function (class 21) with its right
// argument below it, or with a left argument on top of it.
int do_xmn_derfn(Ws ws);
int do_xdy_derfn(Ws ws);

// State 2: the result replaces the function and its arguments.
int do_xmnopd(Ws ws);

// The scalar path over descriptors already set: allocates the result with
// the type the call flags and argument types choose, runs the kernels and
// rebuilds as float after an integer overflow; arguments holding nested
// arrays are walked item by item. The result is pushed (outside the
// nested-result area).
void scalar_monadic(Ws ws);
void scalar_dyadic(Ws ws);

// A dyadic scalar function with an axis (written on the entry, or an axis
// list of a derived function, call flag pf::FromDerived). When the axes
// name, in order, the axes of the argument of higher rank that the other
// one's axes run along, that other argument is spread over the higher
// one's shape and the ordinary scalar path runs; otherwise the axis must
// leave the ordinary extension valid (else AXIS ERROR).
void scalar_dyadic_axis(std::uint32_t fn_entry, std::uint32_t flags, Ws ws);

// Nested pervasion inside the nested-result area, for the result described
// by the result descriptor.
void xmn_nest_nest(Ws ws);
void xdy_nest_nest(Ws ws);


}  // namespace zema
