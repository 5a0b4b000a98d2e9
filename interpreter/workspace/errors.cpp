#include "interpreter/workspace/errors.h"

#include <array>
#include <cstdlib>
#include <string>

#include "host/charset.h"
#include "host/services.h"
#include "interpreter/workspace/heap.h"

namespace zema {

namespace {

constexpr std::array<const char*, kErtabSize> kMessages = {
    "",
    "WS FULL",
    "SYNTAX ERROR",
    "DOMAIN ERROR",
    "RANK ERROR",
    "LENGTH ERROR",
    "NONCE ERROR",
    "VALUE ERROR",
    "INDEX ERROR",
    "UNAUTHORIZED FILE ACCESS",
    "FILE NOT IN SYSTEM",
    "COMPONENT NOT IN FILE",
    "FILE ALLOCATION EXCEEDED",
    "FILE OR COMPONENT HELD",
    "FILE MAINTENANCE IN PROGRESS",
    "USER ALLOCATION EXCEEDED",
    "FILE IN EXISTENCE",
    "FILE I/O ERROR",
    "DISK FULL",
    "USER NOT IN SYSTEM",
    "DATA DAMAGED",
    "FILE LOCKED",
    "LOGICAL UNIT NOT FOUND",
    "VALENCE ERROR",
    "AXIS ERROR",
    "SYSTEM ERROR",
    "SYSTEM LIMIT",
    "SYMBOL TABLE FULL",
    "DEFN ERROR",
    "UNKNOWN ERROR TYPE",
    "INTERRUPT",
    "INCORRECT COMMAND",
    "STRUCTURED CONTROL ERROR",
};

constexpr std::array<int, kErtabSize> kNumbers = {0,  1,  2,  11, 4,  5,  16, 6,  3,  19, 18,
                                                  20, 21, 24, 23, 28, 29, 17, 40, 27, 26, 41,
                                                  42, 7,  8,  9,  10, 12, 14, 15, 13, 25, 43};

struct EtRow {
  int major, minor, number;
};
constexpr EtRow kEtTab[] = {
    {0, 0, 0},   {0, 1, 15},  {0, 2, 14},  {1, 1, 13},  {1, 2, 9},   {1, 3, 1},   {1, 4, 12},  {1, 8, 10},
    {1, 5, 10},  {1, 6, 10},  {1, 7, 10},  {1, 9, 10},  {1, 10, 10}, {1, 11, 10}, {1, 12, 10}, {1, 13, 10},
    {2, 2, 2},   {2, 1, 2},   {2, 3, 2},   {2, 4, 2},   {2, 5, 2},   {2, 10, 43}, {3, 1, 6},   {3, 2, 6},
    {5, 1, 7},   {5, 2, 4},   {5, 3, 5},   {5, 4, 11},  {5, 5, 3},   {5, 6, 8},   {6, 1, 19},  {6, 2, 18},
    {6, 3, 20},  {6, 4, 21},  {6, 5, 24},  {6, 6, 23},  {6, 7, 28},  {6, 8, 29},  {6, 9, 17},  {6, 10, 40},
    {6, 11, 27}, {6, 12, 26}, {6, 13, 41}, {6, 14, 42},
};

const std::array<std::string, kErtabSize>& internal_messages() {
  static const std::array<std::string, kErtabSize> table = [] {
    std::array<std::string, kErtabSize> t;
    for (int i = 0; i < kErtabSize; ++i) t[i] = utf8_to_internal(kMessages[i]);
    return t;
  }();
  return table;
}

}  // namespace

std::string_view ertab(int code) {
  if (code < 0 || code % 4 != 0 || code / 4 >= kErtabSize) return {};
  return internal_messages()[code / 4];
}

int ertabn(int code) {
  if (code < 0 || code % 4 != 0 || code / 4 >= kErtabSize) return 0;
  return kNumbers[code / 4];
}

int et_tab_lookup(int major, int minor) {
  for (const auto& r : kEtTab)
    if (r.major == major && r.minor == minor) return r.number;
  return -1;
}

bool et_tab_pair(int number, int* major, int* minor) {
  for (const auto& r : kEtTab)
    if (r.number == number) {
      *major = r.major;
      *minor = r.minor;
      return true;
    }
  return false;
}

int error_code_of_number(int number) {
  if (number < 0) return -4;
  for (int i = 0; i < kErtabSize; ++i)
    if (kNumbers[i] == number) return 4 * i;
  return E_UNKNOWN_ERROR_TYPE;
}

void error(int code, int et_major, int et_minor, Ws ws) {
  wr16(ws, hdr::EtMajor, et_major);
  wr16(ws, hdr::EtMinor, et_minor);
  wr8(ws, hdr::ResultBits, rd8(ws, hdr::ResultBits) & ~0x0C);
  set_state(0, st::Capturing, ws);
  wr8(ws, hdr::MultiDisplay, rd8(ws, hdr::MultiDisplay) & ~0x80);
  wr8(ws, hdr::MiscBits, rd8(ws, hdr::MiscBits) & ~0x02);
  wr32(ws, hdr::CallingInstance, 0);
  code &= ~3;
  wr16(ws, hdr::ErrorCode, code);
  wr16(ws, hdr::ErrorLine, rd32(ws, hdr::FnLineNumber));
  kill_dead_man(ws);
  kill_syscmd_output();
  wr32(ws, hdr::ErrorNumber, code < 132 ? ertabn(code) : 15);
  throw AplError{code};
}

void ws_full(Ws ws) { error(E_WS_FULL, 1, 3, ws); }

void xwsfll(Ws ws) { error(E_WS_FULL, 1, 3, ws); }
void synter_noarray(Ws ws) { error(E_SYNTAX, 2, 1, ws); }
void synter_badline(Ws ws) { error(E_SYNTAX, 2, 2, ws); }
void synter_class(Ws ws) { error(E_SYNTAX, 2, 3, ws); }
void synter(Ws ws) { error(E_SYNTAX, 2, 4, ws); }
void domner(Ws ws) { error(E_DOMAIN, 5, 4, ws); }
void ranker(Ws ws) { error(E_RANK, 5, 2, ws); }
void lener(Ws ws) { error(E_LENGTH, 5, 3, ws); }
void noncer_1(Ws ws) { error(E_NONCE, 2, 4, ws); }
void valer(Ws ws) { error(E_VALUE, 3, 2, ws); }
void indxer(Ws ws) { error(E_INDEX, 5, 5, ws); }
void valence_error(Ws ws) { error(E_VALENCE, 5, 1, ws); }
void axis_error(Ws ws) { error(E_AXIS, 5, 6, ws); }
void limit_error(Ws ws) { error(E_SYSTEM_LIMIT, 1, 8, ws); }
void depth_error(Ws ws) { error(E_SYSTEM_LIMIT, 1, 10, ws); }
void symtab_full(Ws ws) { error(E_SYMBOL_TABLE_FULL, 1, 4, ws); }
void sc_error(Ws ws) { error(E_STRUCTURED_CONTROL, 2, 10, ws); }

void synatn(std::uint16_t state_word, Ws ws) {
  // Always INTERRUPT: there is no ⎕ input to prompt again.
  error(E_INTERRUPT, 1, 1, ws);
}

std::uint32_t kill_dead_man(Ws ws) {
  std::uint32_t old = rd32(ws, hdr::ErrorMessage);
  if (old) {
    wr32(ws, hdr::ErrorMessage, 0);
    mgarb(old, ws);
  }
  return old;
}

void resume_apl(int state, Ws ws) { throw ResumeEngine{state}; }

namespace {
SystemErrorHandler system_error_handler = nullptr;
}  // namespace

void set_system_error_handler(SystemErrorHandler handler) { system_error_handler = handler; }

void sup_syser(const char* file, int line, Ws ws) {
  if (system_error_handler) system_error_handler(file, line, ws);
  std::abort();
}

}  // namespace zema
