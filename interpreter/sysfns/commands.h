// System commands: a line whose first non-blank is ")" comes here from the
// tokeniser instead of being tokenised. The command word picks a row of the
// command table by its first four letters (case-blind); the row's flags say
// how the rest of the line is parsed, and its three label codes name the
// handlers of the forms without argument, with one argument and with a name
// list. A form whose code is C_NOT_ALLOWED is refused; a form without a
// handler (an empty slot in the handler table) answers NONCE ERROR.
#pragma once

#include <array>
#include <cstdint>

#include "interpreter/workspace/workspace.h"

namespace zema {

// Flag bits of a command row (low 16 bits of the row's flag word).
namespace cmdf {
constexpr std::uint16_t NotWhileDefining = 0x0001;
constexpr std::uint16_t OneName = 0x0002;
constexpr std::uint16_t ListAfterName = 0x0004;
constexpr std::uint16_t WorkspaceName = 0x0008;
constexpr std::uint16_t NameList = 0x0010;
constexpr std::uint16_t Number = 0x0020;
constexpr std::uint16_t Quiet = 0x0040;
constexpr std::uint16_t Tabs = 0x0080;
constexpr std::uint16_t LibraryAlone = 0x0100;
constexpr std::uint16_t EditorName = 0x0200;
constexpr std::uint16_t ExecuteLoad = 0x0400;
constexpr std::uint16_t FileName = 0x0800;
constexpr std::uint16_t Raw = 0x1000;
constexpr std::uint16_t Indirect = 0x2000;
constexpr std::uint16_t Size = 0x4000;          // in the table
constexpr std::uint16_t LibraryGiven = 0x4000;  // at run time
constexpr std::uint16_t Path = 0x8000;          // at run time
}  // namespace cmdf

// Workspace fields the parse fills for the handlers.
namespace cmdws {
constexpr std::uint32_t Scratch = 0x038;     // the command word, then each name read
constexpr std::uint32_t kScratchName = 60;   // characters kept of a name
constexpr std::uint32_t EditLength = 0x05F;  // b
constexpr std::uint32_t EditName = 0x060;    // 62 bytes
constexpr std::uint32_t Key = 0x06C;         // 8 bytes
constexpr std::uint32_t Library = 0x074;     // w
constexpr std::uint32_t EditLibrary = 0x09B; // b
constexpr std::uint32_t Flags = 0x0A2;       // h
constexpr std::uint32_t FirstLimit = 0x0D8;  // h + 30 bytes
constexpr std::uint32_t kLimitBytes = 32;
constexpr std::uint8_t kFileOperation = 0x10;  // bit of hdr::MiscBits
}  // namespace cmdws
// The workspace-name buffer is scratch area 1: a length byte, the name, a blank.

// Label codes of the handlers.
enum CommandCode : std::uint16_t {
  C_RAW_HOST = 0x501,
  C_NOT_ALLOWED = 0x502,
  // forms without argument, 0x503-0x519
  C_CLEAR = 0x503, C_SAVE, C_ORIG, C_DIGI, C_TAB, C_SYMB, C_WIDT, C_WSID, C_FNS, C_VARS, C_GRPS,
  C_SI, C_SIV, C_SICL, C_LIB, C_OFF, C_CONT, C_EDIT, C_CS, C_TIME, C_OPS, C_NMS, C_SIS,
  C_CLEAR_SIZE = 0x51A,
  // number forms, 0x51B-0x523
  C_ORIG_N = 0x51B, C_DIGI_N, C_SYMB_N, C_WIDT_N, C_SICL_N, C_SI_N, C_SIV_N, C_SIS_N, C_CS_N,
  C_TAB_ARGS = 0x524,
  // workspace- and file-name forms, 0x525-0x52E
  C_EDIT_NAME = 0x525, C_LIB_NAME, C_SAVE_NAME, C_DROP_NAME, C_LOAD_NAME, C_COPY_NAME, C_PCOPY_NAME,
  C_WSID_NAME, C_IN_NAME, C_OUT_NAME,
  C_COPY_LIST = 0x52F, C_PCOPY_LIST, C_IN_LIST, C_OUT_LIST,
  C_DISPLAY_NAME = 0x533, C_GRP_NAME = 0x534,
  C_GROUP_LIST = 0x535, C_ERASE_LIST, C_FNS_LIST, C_VARS_LIST, C_GRPS_LIST, C_OPS_LIST, C_NMS_LIST,
  C_CLASS = 0x53C, C_CLASS_LIST = 0x53D, C_REPARENT_LIST = 0x53E,
};
constexpr int kCommandCodes = 0x3F;  // 0x500 to 0x53E

struct CommandRow {
  char key[4];  // first four letters, upper case; a blank (and NUL) after a shorter word
  std::uint16_t flags;
  std::uint16_t no_args, one_arg, list;  // CommandCode
};
constexpr int kCommandRows = 46;
const std::array<CommandRow, kCommandRows>& command_table();

// Handler shapes; the workspace comes last.
using CmdNoArgs = int (*)(std::uint16_t flags, Ws ws);                  // also the workspace-name forms
using CmdNumber = int (*)(std::int32_t n, std::uint16_t flags, Ws ws);  // also the size form
using CmdName = int (*)(std::uint32_t length, std::uint16_t flags, Ws ws);  // name at cmdws::Scratch
using CmdTabs = int (*)(const std::uint8_t* text, std::uint32_t length, bool several, std::int32_t first, Ws ws);
using CmdText = int (*)(const std::uint8_t* text, std::uint32_t length, std::uint16_t flags, Ws ws);  // lists, raw

// The handler behind a code: the one pointer of the code's shape is used.
// All empty: the command is not available (NONCE ERROR).
struct CommandHandler {
  CmdNoArgs no_args = nullptr;
  CmdNumber number = nullptr;
  CmdName name = nullptr;
  CmdTabs tabs = nullptr;
  CmdText text = nullptr;
};
const CommandHandler& command_handler(std::uint16_t code);

// The dispatcher. Answers 8 for a line of ")" and blanks (six blanks have
// been printed), 12 when the line was refused, else the handler's result.
int syscmd(const std::uint8_t* text, std::uint32_t length, Ws ws);
// Installs `syscmd` as the tokeniser's system-command route.
void install_command_routes();

// "INCORRECT COMMAND" on a line of its own; ends a file operation; 0.
int c_incorrect(Ws ws);

// The 8-byte workspace key of a password (internal characters, the first
// eight used).
std::array<std::uint8_t, 8> password_key(const std::uint8_t* password, std::uint32_t length);

// ---- state-indicator commands (si_commands.cpp) ----
// )SI, )SIV and )SICLEAR without and with a number: each lists (or
// clears) the levels and answers 0, or 12 after INCORRECT COMMAND.
int csi_no_args(std::uint16_t flags, Ws ws);
int csi_args(std::int32_t n, std::uint16_t flags, Ws ws);
int csiv_no_args(std::uint16_t flags, Ws ws);
int csiv_args(std::int32_t n, std::uint16_t flags, Ws ws);
int csicl_no_args(std::uint16_t flags, Ws ws);
int csicl_args(std::int32_t n, std::uint16_t flags, Ws ws);
// The listing of n levels, newest first; mode 0x01 adds the local names.
// 12 after INCORRECT COMMAND for a negative n.
int csie(std::int32_t n, int mode, Ws ws);

}  // namespace zema
