// The system-function table and the three call entries.
#include "interpreter/sysfns/dispatch.h"

#include "interpreter/engine/selective_assign.h"
#include "interpreter/engine/call.h"

#include <array>
#include <cstring>

#include "interpreter/primitives/args.h"
#include "interpreter/engine/engine.h"
#include "interpreter/workspace/entry.h"
#include "interpreter/engine/error_path.h"
#include "interpreter/workspace/errors.h"
#include "interpreter/workspace/heap.h"
#include "interpreter/workspace/stack.h"
#include "interpreter/workspace/symtab.h"
#include "interpreter/workspace/arrays.h"
#include "interpreter/sysfns/class_functions.h"
#include "interpreter/sysfns/handlers.h"
#include "interpreter/sysfns/library_listing.h"

namespace zema {

namespace {

// ---- the table ----------------------------------------------------------------------
//
// One row per ⎕ name, by number, from system_functions.def. A handler
// given as nullptr is a service this program does not offer: the call
// answers NONCE ERROR (code 24, "not available here").

struct Row {
  SysFnRow fn;
  SfForm forms[3];  // niladic, monadic, dyadic
};

constexpr SfForm given(bool present) { return present ? SfForm::Handler : SfForm::Missing; }

// Niladic names: their monadic and dyadic forms do not exist.
constexpr Row nil(const char* name, std::uint8_t flags, SfNiladic h) {
  return {{name, flags, h, nullptr, nullptr}, {given(h), SfForm::Nonce, SfForm::Nonce}};
}
// Monadic only: called dyadically, VALENCE ERROR.
constexpr Row mon(const char* name, std::uint8_t flags, SfMonadic h) {
  return {{name, flags, nullptr, h, nullptr}, {SfForm::Nonce, given(h), SfForm::Valence}};
}
// Dyadic only: called monadically, VALENCE ERROR.
constexpr Row dya(const char* name, std::uint8_t flags, SfDyadic h) {
  return {{name, flags, nullptr, nullptr, h}, {SfForm::Nonce, SfForm::Valence, given(h)}};
}
// Monadic and dyadic.
constexpr Row both(const char* name, std::uint8_t flags, SfMonadic m, SfDyadic d) {
  return {{name, flags, nullptr, m, d}, {SfForm::Nonce, given(m), given(d)}};
}
// A niladic name whose call is a SYNTAX ERROR.
constexpr Row nil_syntax(const char* name, std::uint8_t flags) {
  return {{name, flags, nullptr, nullptr, nullptr}, {SfForm::Syntax, SfForm::Nonce, SfForm::Nonce}};
}
// A name that takes arguments and refuses every monadic call with DOMAIN ERROR.
constexpr Row domain(const char* name, std::uint8_t flags) {
  return {{name, flags, nullptr, nullptr, nullptr}, {SfForm::Nonce, SfForm::Domain, SfForm::Nonce}};
}

constexpr SfMonadic kNoMonadic = nullptr;
constexpr SfDyadic kNoDyadic = nullptr;

const auto kTable = std::to_array<Row>({
#define SYSFN(form, name, flags, ...) form(name, flags __VA_OPT__(, ) __VA_ARGS__),
#include "interpreter/reader/system_functions.def"
});
static_assert(std::tuple_size_v<decltype(kTable)> == kSystemFunctions);

// Raises the error of a form that runs no handler.
[[noreturn]] void refuse(SfForm form, Ws ws) {
  switch (form) {
    case SfForm::Valence: valence_error(ws);
    case SfForm::Domain: domner(ws);
    case SfForm::Syntax: synter(ws);
    case SfForm::Nonce:
    case SfForm::Missing: noncer_1(ws);
    case SfForm::Handler: break;
  }
  ZEMA_SYSTEM_ERROR(ws);
}

// ---- the call's entries -------------------------------------------------------------

std::uint32_t function_symbol(std::uint32_t fn_entry, Ws ws) { return entry_of_token(rd16(ws, fn_entry + se::Value)); }

bool is_system_function(std::uint32_t sym, Ws ws) {
  const std::uint8_t type = rd8(ws, sym + sym::Type) & kSymTypeMask;
  return type == SYM_SYSFN0 || type == SYM_SYSFN;
}

// An argument entry must hold a value (class 1 or 22).
void check_argument_entry(std::uint32_t entry, Ws ws) {
  const std::uint8_t cls = rd8(ws, entry + se::Class) & kClassMask;
  if (cls != TC_VALUE && cls != TC_LEFTARG) synter_noarray(ws);
}

// Sets the argument descriptor at `at` on the entry's value (VALUE ERROR
// when there is none) and answers the argument: the word the descriptor
// reads the array's offset from.
SfArg argument(std::uint32_t at, std::uint32_t entry, Ws ws) {
  xopafx(at == hdr::LeftDesc ? kLeftMask : kRightMask, at, entry, ws);
  return SfArg{rd32(ws, at + desc::OffsetWord)};
}

// Refuses a nested or object-reference argument, by its descriptor, that
// the row's flags do not allow.
void check_nested(std::uint32_t at, bool allowed, Ws ws) {
  if (!allowed && rd8(ws, at + desc::Type) == ET_NESTED) domner(ws);
}
void check_objects(std::uint32_t at, bool allowed, Ws ws) {
  if (!allowed && rd8(ws, at + desc::Type) == ET_OBJREF) domner(ws);
}

// The system-function half of function set-up: the function's token is
// counted off the statement's token count (the application counts it back
// with its result), the header registers are cleared, and the row number
// is recorded. Answers the row.
int system_setup(std::uint32_t sym, int valence, Ws ws) {
  wr32(ws, hdr::TokensTaken, rd32(ws, hdr::TokensTaken) - 1);
  constexpr std::uint32_t kCallRegisters = 0x038, kCallRegistersEnd = 0x046;
  std::memset(ws + kCallRegisters, 0, kCallRegistersEnd - kCallRegisters);
  wr16(ws, 0x040, valence == 1 ? 1 : 0);  // the monadic-call word
  wr32(ws, hdr::PrimFlags, 0x300000);
  wr8(ws, hdr::HeaderSymType, rd8(ws, sym + sym::Type) & kSymTypeMask);
  wr32(ws, hdr::CallingInstance, 0);
  const std::uint32_t number4 = rd32(ws, sym + sym::Value);
  if (number4 % 4 != 0 || number4 / 4 >= std::uint32_t(kSystemFunctions)) ZEMA_SYSTEM_ERROR(ws);
  wr32(ws, hdr::PrimCode, number4);
  return static_cast<int>(number4 / 4);
}

// A system function as the operand of an operator (each, product, reduce):
// NONCE ERROR.
[[noreturn]] void operand_call(Ws ws) { noncer_1(ws); }

// ---- defined functions ---------------------------------------------------------------

}  // namespace

const SysFnRow& sysfn_row(int n) { return kTable.at(static_cast<std::size_t>(n)).fn; }

SfForm sysfn_form(int n, int valence) { return kTable.at(static_cast<std::size_t>(n)).forms[valence]; }

int do_xdyfn(Ws ws) {
  poll_attention(ws);
  wr16(ws, 0x040, 0);
  check_argument_entry(stack_entry_at(0, ws), ws);
  check_argument_entry(stack_entry_at(2, ws), ws);
  const std::uint32_t fn = stack_entry_at(1, ws);
  const std::uint32_t sym = function_symbol(fn, ws);
  if (!is_system_function(sym, ws)) return call_defined(2, ws);
  const int n = system_setup(sym, 2, ws);
  refuse_model_argument(stack_entry_at(2, ws), ws);  // a selective assignment's model
  if (rd8(ws, fn + se::Flags) & 0xF0) operand_call(ws);
  if (rd32(ws, fn + se::Value) >> 16) axis_error(ws);
  const Row& row = kTable[static_cast<std::size_t>(n)];
  const SfArg right = argument(hdr::RightDesc, stack_entry_at(2, ws), ws);
  const SfArg left = argument(hdr::LeftDesc, stack_entry_at(0, ws), ws);
  check_nested(hdr::RightDesc, row.fn.flags & sff::RightNested, ws);
  check_nested(hdr::LeftDesc, row.fn.flags & sff::LeftNested, ws);
  check_objects(hdr::RightDesc, row.fn.flags & sff::RightObjects, ws);
  check_objects(hdr::LeftDesc, row.fn.flags & sff::LeftObjects, ws);
  if (row.forms[2] != SfForm::Handler) refuse(row.forms[2], ws);
  row.fn.dyadic(left, right, ws);
  return ES_FINISH_APPLICATION;
}

int do_xmnfn(Ws ws) {
  poll_attention(ws);
  wr16(ws, 0x040, 1);
  check_argument_entry(stack_entry_at(1, ws), ws);
  push_fake(ws);  // the left argument's place
  const std::uint32_t fn = stack_entry_at(1, ws);
  const std::uint32_t sym = function_symbol(fn, ws);
  if (!is_system_function(sym, ws)) return call_defined(1, ws);
  const int n = system_setup(sym, 1, ws);
  refuse_model_argument(stack_entry_at(2, ws), ws);  // a selective assignment's model
  if (rd8(ws, fn + se::Flags) & 0xF0) operand_call(ws);
  if (rd32(ws, fn + se::Value) >> 16) axis_error(ws);
  const Row& row = kTable[static_cast<std::size_t>(n)];
  const SfArg right = argument(hdr::RightDesc, stack_entry_at(2, ws), ws);
  check_nested(hdr::RightDesc, row.fn.flags & sff::RightNested, ws);
  check_objects(hdr::RightDesc, row.fn.flags & sff::RightObjects, ws);
  if (row.forms[1] != SfForm::Handler) refuse(row.forms[1], ws);
  row.fn.monadic(right, ws);
  return ES_FINISH_APPLICATION;
}

int xnilfn(Ws ws) {
  wr16(ws, 0x040, 0);
  // Placeholders round the name give the stack the shape of a dyadic call.
  push_fake(ws);
  xpushx(ws);
  push_fake(ws);
  const std::uint32_t sym = function_symbol(stack_entry_at(1, ws), ws);
  if (!is_system_function(sym, ws)) return call_defined(0, ws);
  const int n = system_setup(sym, 0, ws);
  wr32(ws, hdr::TokensTaken, rd32(ws, hdr::TokensTaken) + 1);
  const Row& row = kTable[static_cast<std::size_t>(n)];
  if (row.forms[0] != SfForm::Handler) refuse(row.forms[0], ws);
  row.fn.niladic(ws);
  // The result goes to the token register; the call's entries go.
  popst(ws);
  wr8(ws, hdr::TokenRegister + se::Flags, rd8(ws, hdr::TokenRegister + se::Flags) & ~kSeResult);
  for (int i = 0; i < 3; ++i) {
    StackEntry e;
    unstack(e, ws);
    release_entry(e, ws);
  }
  return ES_BIND;
}

}  // namespace zema
