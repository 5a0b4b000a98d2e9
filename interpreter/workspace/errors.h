// Error codes, the message table and the raising of APL errors.
//
// An ErrorCode is four times the index of a message in `ertab`. Routines that
// raise an APL error never return: they record the error in the workspace
// header and unwind (by exception) to the execution restart point.
#pragma once

#include <cstdint>
#include <string_view>

#include "interpreter/workspace/workspace.h"

namespace zema {

// Error codes: 4 × the row of the error's message in the table (ertab).
enum ErrorCode : int {
  E_NONE = 0,
  E_WS_FULL = 4,
  E_SYNTAX = 8,
  E_DOMAIN = 12,
  E_RANK = 16,
  E_LENGTH = 20,
  E_NONCE = 24,
  E_VALUE = 28,
  E_INDEX = 32,
  E_UNAUTHORIZED_FILE_ACCESS = 36,
  E_FILE_NOT_IN_SYSTEM = 40,
  E_COMPONENT_NOT_IN_FILE = 44,
  E_FILE_ALLOCATION_EXCEEDED = 48,
  E_FILE_HELD = 52,
  E_FILE_MAINTENANCE = 56,
  E_USER_ALLOCATION_EXCEEDED = 60,
  E_FILE_IN_EXISTENCE = 64,
  E_FILE_IO = 68,
  E_DISK_FULL = 72,
  E_USER_NOT_IN_SYSTEM = 76,
  E_DATA_DAMAGED = 80,
  E_FILE_LOCKED = 84,
  E_LOGICAL_UNIT = 88,
  E_VALENCE = 92,
  E_AXIS = 96,
  E_SYSTEM_ERROR = 100,
  E_SYSTEM_LIMIT = 104,
  E_SYMBOL_TABLE_FULL = 108,
  E_DEFN = 112,
  E_UNKNOWN_ERROR_TYPE = 116,
  E_INTERRUPT = 120,
  E_INCORRECT_COMMAND = 124,
  E_STRUCTURED_CONTROL = 128,
};

// Rows of the message table (codes 0 to 128).
constexpr int kErtabSize = 33;

// The message of an error code, in the internal character set (empty for 0
// and for codes outside the table).
std::string_view ertab(int code);
// The error number of an error code (⎕ERS and the error-number word).
int ertabn(int code);
// The error number of a ⎕ET pair, or -1 when the table has no such pair.
int et_tab_lookup(int major, int minor);
// The first ⎕ET pair whose error number is `number`; false when none is.
bool et_tab_pair(int number, int* major, int* minor);
// The error code that signals error number `number`: 4 × the first message
// index with that number, 116 (UNKNOWN ERROR TYPE) when no message has it,
// -4 (no message at all) for a negative number.
int error_code_of_number(int number);

// Thrown by the error path to return to the execution restart point. The
// error is already recorded in the workspace header.
struct AplError {
  int code;
};

// Records an error (code and ⎕ET pair) and unwinds.
[[noreturn]] void error(int code, int et_major, int et_minor, Ws ws);
// WS FULL (⎕ET 1 3).
[[noreturn]] void ws_full(Ws ws);

// The error routines, by ⎕ET pair. None returns.
[[noreturn]] void xwsfll(Ws ws);          // WS FULL 1 3
[[noreturn]] void synter_noarray(Ws ws);  // SYNTAX ERROR 2 1
[[noreturn]] void synter_badline(Ws ws);  // SYNTAX ERROR 2 2
[[noreturn]] void synter_class(Ws ws);    // SYNTAX ERROR 2 3
[[noreturn]] void synter(Ws ws);          // SYNTAX ERROR 2 4
[[noreturn]] void domner(Ws ws);          // DOMAIN ERROR 5 4
[[noreturn]] void ranker(Ws ws);          // RANK ERROR 5 2
[[noreturn]] void lener(Ws ws);           // LENGTH ERROR 5 3
[[noreturn]] void noncer_1(Ws ws);        // NONCE ERROR 2 4
[[noreturn]] void valer(Ws ws);           // VALUE ERROR 3 2
[[noreturn]] void indxer(Ws ws);          // INDEX ERROR 5 5
[[noreturn]] void valence_error(Ws ws);   // VALENCE ERROR 5 1
[[noreturn]] void axis_error(Ws ws);      // AXIS ERROR 5 6
[[noreturn]] void limit_error(Ws ws);     // SYSTEM LIMIT 1 8
[[noreturn]] void depth_error(Ws ws);     // SYSTEM LIMIT 1 10
[[noreturn]] void symtab_full(Ws ws);     // SYMBOL TABLE FULL 1 4
[[noreturn]] void sc_error(Ws ws);        // STRUCTURED CONTROL ERROR 2 10
// INTERRUPT, 1 1.
[[noreturn]] void synatn(std::uint16_t state_word, Ws ws);

// Releases the last error's message object; answers its old offset.
std::uint32_t kill_dead_man(Ws ws);

// Thrown to the execution restart point: the engine goes on in `state`
// (kLeaveEngine leaves it).
struct ResumeEngine {
  int state;
};
constexpr int kLeaveEngine = 18;
// Engine states: the numbers the engine's loop (syntax) runs by, which
// every reduce action answers and ResumeEngine names.
enum EngineState : int {
  ES_APPLY_DYADIC = 0,
  ES_APPLY_MONADIC = 1,
  ES_FINISH_APPLICATION = 2,
  ES_APPLY_PRIMITIVE_DYADIC = 3,
  ES_BIND = 9,
  ES_NEXT_TOKEN = 10,
  ES_FUNCTION_LINE_END = 12,
  ES_LINE_START = 13,
  ES_STATEMENT_START = 14,
  ES_STATEMENT_END = 15,
  ES_NEXT_STATEMENT = 16,
  ES_STATEMENT_RESULT = 17,
  ES_LEAVE = kLeaveEngine,
  ES_AFTER_LINE = 19,
};
// Unwinds to the execution restart point, which goes on in `state`
// (throws ResumeEngine).
[[noreturn]] void resume_apl(int state, Ws ws);

// Internal inconsistency at `file` (the part after its last "/") and
// `line`: hands the location to the handler the session installs (SYSTEM
// ERROR with the location, a dump of the workspace when possible, a clear),
// which never returns. Without a handler the process ends.
[[noreturn]] void sup_syser(const char* file, int line, Ws ws);
// The SYSTEM ERROR handler's shape; it must not return.
using SystemErrorHandler = void (*)(const char* file, int line, Ws ws);
// Installs the handler sup_syser calls (the session's system_error).
void set_system_error_handler(SystemErrorHandler handler);

// An internal inconsistency at this point of the source: sup_syser with
// this file and line, so that every report names where it was raised.
#define ZEMA_SYSTEM_ERROR(ws) ::zema::sup_syser(__FILE__, __LINE__, (ws))

}  // namespace zema
