// The system-function table and the three call entries.
#include "interpreter/sysfns/dispatch.h"

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
#include "interpreter/sysfns/handlers.h"

namespace zema {

namespace {

constexpr const char* kLoc = "c_src/aplsfn";

// ---- the table ----------------------------------------------------------------------
//
// One row per ⎕ name, by number. A handler given as nullptr is a service
// this program does not offer: the call answers NONCE ERROR (code 24,
// "not available here").

struct Row {
  SysFnRow fn;
  SfForm forms[3];  // niladic, monadic, dyadic
};

constexpr SfForm given(bool present) { return present ? SfForm::Handler : SfForm::Missing; }

// Niladic names: their monadic and dyadic forms do not exist.
constexpr Row nil(const char* name, SfNiladic h) {
  return {{name, 0x00, h, nullptr, nullptr}, {given(h), SfForm::Nonce, SfForm::Nonce}};
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
constexpr Row nil_syntax(const char* name) {
  return {{name, 0x00, nullptr, nullptr, nullptr}, {SfForm::Syntax, SfForm::Nonce, SfForm::Nonce}};
}

constexpr SfMonadic kNoMonadic = nullptr;
constexpr SfDyadic kNoDyadic = nullptr;

const std::array<Row, kSystemFunctions> kTable = {{
    nil("⎕LC", sflc),                                  // 0
    nil("⎕TS", sfts),                                  // 1
    nil("⎕AI", sfai),                                  // 2
    nil("⎕UL", sful),                                  // 3
    nil("⎕ID", sfid),                                  // 4
    nil("⎕WA", sfwa),                                  // 5
    nil("⎕AV", sfav),                                  // 6
    nil("⎕TT", sftt),                                  // 7
    nil("⎕A", sfa),                                    // 8
    nil("⎕a", sfau),                                   // 9
    nil("⎕B", sfb),                                    // 10
    nil("⎕b", sfbu),                                   // 11
    nil("⎕C", sf_c),                                   // 12
    nil("⎕D", sfd),                                    // 13
    nil("⎕I", sfi),                                    // 14
    nil("⎕i", sfiu),                                   // 15
    nil("⎕L", sfl),                                    // 16
    nil("⎕R", sfr),                                    // 17
    nil("⎕T", sft),                                    // 18
    nil("⎕LER", sfler),                                // 19
    nil("⎕CL", sfcl),                                  // 20
    nil("⎕N", sfn),                                    // 21
    nil("⎕y", sfyu),                                   // 22
    nil("⎕W", sfw),                                    // 23
    nil("⎕M", sfm),                                    // 24
    nil("⎕SI", nullptr),                               // 25
    nil("⎕ERM", nullptr),                              // 26
    nil("⎕ET", sfet),                                  // 27
    nil("⎕TC", sftc),                                  // 28
    nil("⎕EM", sfem),                                  // 29
    mon("⎕HC", 0x01, sfhc_monadic),                    // 30
    mon("⎕DL", 0x01, sfdl_monadic),                    // 31
    both("⎕CR", 0x01, kNoMonadic, kNoDyadic),          // 32
    dya("⎕OV", 0x01, kNoDyadic),                       // 33
    mon("⎕EX", 0x01, kNoMonadic),                      // 34
    both("⎕FX", 0x03, kNoMonadic, kNoDyadic),          // 35
    mon("⎕NC", 0x01, kNoMonadic),                      // 36
    both("⎕NL", 0x01, kNoMonadic, kNoDyadic),          // 37
    both("⎕STOP", 0x01, kNoMonadic, kNoDyadic),        // 38
    both("⎕TRACE", 0x01, kNoMonadic, kNoDyadic),       // 39
    both("⎕SVO", 0x01, kNoMonadic, kNoDyadic),         // 40
    mon("⎕SVR", 0x01, kNoMonadic),                     // 41
    both("⎕SVC", 0x01, kNoMonadic, kNoDyadic),         // 42
    mon("⎕SVQ", 0x01, kNoMonadic),                     // 43
    both("⎕SS", 0x03, kNoMonadic, kNoDyadic),          // 44
    both("⎕DR", 0x0B, kNoMonadic, kNoDyadic),          // 45
    both("⎕ERS", 0x01, qers_monadic, qers_dyadic),     // 46
    both("⎕BOX", 0x01, kNoMonadic, kNoDyadic),         // 47
    mon("⎕ERX", 0x01, kNoMonadic),                     // 48
    both("⎕DBR", 0x01, kNoMonadic, kNoDyadic),         // 49
    mon("⎕MOUNT", 0x01, qmt_monadic),                  // 50
    both("⎕1421", 0x0B, kNoMonadic, kNoDyadic),        // 51: dyadic is ⎕OV's handler
    dya("⎕FMT", 0x01, kNoDyadic),                      // 52
    dya("⎕CONF", 0x01, kNoDyadic),                     // 53
    mon("⎕CC", 0x01, kNoMonadic),                      // 54
    both("⎕EDIT", 0x01, kNoMonadic, kNoDyadic),        // 55
    dya("⎕EA", 0x01, kNoDyadic),                       // 56
    mon("⎕EC", 0x01, kNoMonadic),                      // 57
    both("⎕ES", 0x01, quades_monadic, quades_dyadic),  // 58
    mon("⎕AF", 0x01, kNoMonadic),                      // 59
    dya("⎕AT", 0x01, kNoDyadic),                       // 60
    dya("⎕TF", 0x01, kNoDyadic),                       // 61
    nil("⎕TIME", nullptr),                             // 62
    both("⎕HOST", 0x01, sfhost_monadic, sfhost_dyadic),  // 63
    dya("⎕NAPPEND", 0x01, kNoDyadic),                  // 64
    dya("⎕NCREATE", 0x01, kNoDyadic),                  // 65
    both("⎕NERASE", 0x01, kNoMonadic, kNoDyadic),      // 66
    nil("⎕NERROR", nullptr),                           // 67
    mon("⎕NLOCK", 0x01, kNoMonadic),                   // 68
    nil("⎕NNAMES", nullptr),                           // 69
    nil("⎕NNUMS", nullptr),                            // 70
    mon("⎕NREAD", 0x01, kNoMonadic),                   // 71
    dya("⎕NRENAME", 0x01, kNoDyadic),                  // 72
    dya("⎕NREPLACE", 0x01, kNoDyadic),                 // 73
    dya("⎕NRESIZE", 0x01, kNoDyadic),                  // 74
    mon("⎕NSIZE", 0x01, kNoMonadic),                   // 75
    dya("⎕NTIE", 0x01, kNoDyadic),                     // 76
    mon("⎕NUNTIE", 0x01, kNoMonadic),                  // 77
    dya("⎕NWRITE", 0x01, kNoDyadic),                   // 78
    both("⎕WI", 0x03, kNoMonadic, kNoDyadic),          // 79
    both("⎕WE", 0x09, kNoMonadic, kNoDyadic),          // 80
    nil("⎕EV", nullptr),                               // 81
    nil("⎕WSELF", nullptr),                            // 82
    both("⎕NA", 0x01, kNoMonadic, kNoDyadic),          // 83
    both("⎕NTYPE", 0x05, kNoMonadic, kNoDyadic),       // 84
    nil("⎕WARG", nullptr),                             // 85
    mon("⎕DISPLAY", 0x0B, kNoMonadic),                 // 86
    mon("⎕VI", 0x01, kNoMonadic),                      // 87
    mon("⎕FI", 0x01, kNoMonadic),                      // 88
    nil("⎕TCBEL", sftcbel),                            // 89
    nil("⎕TCBS", sftcbs),                              // 90
    nil("⎕TCDEL", sftcdel),                            // 91
    nil("⎕TCESC", sftcesc),                            // 92
    nil("⎕TCFF", sftcff),                              // 93
    nil("⎕TCLF", sftclf),                              // 94
    nil("⎕TCNL", sftcnl),                              // 95
    nil("⎕TCNUL", sftcnul),                            // 96
    mon("⎕UCS", 0x01, kNoMonadic),                     // 97
    dya("⎕FAPPEND", 0x15, kNoDyadic),                  // 98
    dya("⎕FCREATE", 0x01, kNoDyadic),                  // 99
    mon("⎕FCSIZE", 0x01, kNoMonadic),                  // 100
    mon("⎕FDELETE", 0x01, kNoMonadic),                 // 101
    mon("⎕FDROP", 0x01, kNoMonadic),                   // 102
    dya("⎕FDUP", 0x01, kNoDyadic),                     // 103
    both("⎕FERASE", 0x01, kNoMonadic, kNoDyadic),      // 104
    nil("⎕FERROR", nullptr),                           // 105
    mon("⎕FHOLD", 0x01, kNoMonadic),                   // 106
    mon("⎕FLIB", 0x01, kNoMonadic),                    // 107
    nil("⎕FNAMES", nullptr),                           // 108
    nil("⎕FNUMS", nullptr),                            // 109
    mon("⎕FRDAC", 0x01, kNoMonadic),                   // 110
    mon("⎕FRDCI", 0x01, kNoMonadic),                   // 111
    mon("⎕FRDFI", 0x01, kNoMonadic),                   // 112
    mon("⎕FREAD", 0x01, kNoMonadic),                   // 113
    dya("⎕FRENAME", 0x01, kNoDyadic),                  // 114
    dya("⎕FREPLACE", 0x15, kNoDyadic),                 // 115
    dya("⎕FRESIZE", 0x01, kNoDyadic),                  // 116
    mon("⎕FSIZE", 0x01, kNoMonadic),                   // 117
    dya("⎕FSTAC", 0x01, kNoDyadic),                    // 118
    dya("⎕FSTIE", 0x01, kNoDyadic),                    // 119
    dya("⎕FTIE", 0x01, kNoDyadic),                     // 120
    mon("⎕FUNTIE", 0x01, kNoMonadic),                  // 121
    dya("⎕FWRITE", 0x15, kNoDyadic),                   // 122
    both("⎕PFKEY", 0x01, kNoMonadic, kNoDyadic),       // 123
    nil("⎕TCHT", sftcht),                              // 124
    both("⎕SQL", 0x03, kNoMonadic, kNoDyadic),         // 125
    both("⎕CHART", 0x07, kNoMonadic, kNoDyadic),       // 126
    both("⎕LIB", 0x01, kNoMonadic, kNoDyadic),         // 127
    dya("⎕TR", 0x01, kNoDyadic),                       // 128
    nil("⎕WSSIZE", sfwssize),                          // 129
    nil("⎕SYMB", sfsymb),                              // 130
    both("⎕NEW", 0x0B, kNoMonadic, kNoDyadic),         // 131
    {{"⎕DESC", 0x01, nullptr, nullptr, nullptr}, {SfForm::Nonce, SfForm::Domain, SfForm::Nonce}},  // 132
    dya("⎕IC", 0x01, kNoDyadic),                       // 133
    nil("⎕THIS", nullptr),                             // 134
    dya("⎕EXPORT", 0x07, kNoDyadic),                   // 135
    mon("⎕IMPORT", 0x03, kNoMonadic),                  // 136
    nil("⎕BASE", nullptr),                             // 137
    mon("⎕CLASS", 0x09, kNoMonadic),                   // 138
    both("⎕INSTANCES", 0x09, kNoMonadic, kNoDyadic),   // 139
    mon("⎕DF", 0x01, kNoMonadic),                      // 140
    mon("⎕STATE", 0x01, kNoMonadic),                   // 141
    nil("⎕NULL", nullptr),                             // 142
    nil("⎕HANDLE", nullptr),                           // 143
    nil("⎕OID", nullptr),                              // 144
    nil("⎕DS", nullptr),                               // 145
    nil("⎕PARENT", nullptr),                           // 146
    nil("⎕CHILDREN", nullptr),                         // 147
    nil("⎕CLASSES", nullptr),                          // 148
    nil("⎕CLASSNAME", nullptr),                        // 149
    nil("⎕CLASSREF", nullptr),                         // 150
    dya("⎕REPARENT", 0x19, kNoDyadic),                 // 151
    dya("⎕RECLASS", 0x19, kNoDyadic),                  // 152
    nil("⎕MEMBERS", nullptr),                          // 153
    dya("⎕SETUP", 0x03, kNoDyadic),                    // 154
    dya("⎕EVAL", 0x01, kNoDyadic),                     // 155
    mon("⎕CLONE", 0x01, kNoMonadic),                   // 156
    dya("⎕CALL", 0x03, kNoDyadic),                     // 157
    nil_syntax("⎕REF"),                                // 158
    nil_syntax("⎕VAL"),                                // 159
    both("⎕GETCLASS", 0x01, kNoMonadic, kNoDyadic),    // 160
    nil("⎕EVA", nullptr),                              // 161: ⎕WARG's handler
    nil("⎕EVN", nullptr),                              // 162
    nil("⎕EVT", nullptr),                              // 163
}};

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
  sup_syser(kLoc, 100, ws);
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
  if (number4 % 4 != 0 || number4 / 4 >= std::uint32_t(kSystemFunctions)) sup_syser(kLoc, 200, ws);
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
  // No selective-assignment model check: a selective assignment is refused
  // before a system function in its target runs.
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
