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
constexpr std::uint16_t NotWhileDefining = 0x0001;  // refused while a definition or class is open
constexpr std::uint16_t OneName = 0x0002;           // the argument is one name
constexpr std::uint16_t ListAfterName = 0x0004;     // a name list may follow the workspace name
constexpr std::uint16_t WorkspaceName = 0x0008;     // the argument is a workspace name (library, password)
constexpr std::uint16_t NameList = 0x0010;          // the argument is a list of names
constexpr std::uint16_t Number = 0x0020;            // the argument is a number
constexpr std::uint16_t Quiet = 0x0040;             // the S-form of a command (SSAVE, SLOAD …)
constexpr std::uint16_t Tabs = 0x0080;              // the argument is tab stops
constexpr std::uint16_t LibraryAlone = 0x0100;      // a library number alone is an argument
constexpr std::uint16_t EditorName = 0x0200;        // the argument is a name for the editor
constexpr std::uint16_t ExecuteLoad = 0x0400;       // a load that does not run ⎕LX
constexpr std::uint16_t FileName = 0x0800;          // the list's items are file names
constexpr std::uint16_t Raw = 0x1000;               // the rest of the line goes to the handler as text
constexpr std::uint16_t Indirect = 0x2000;          // a list item "(NAME)" names a variable holding names
constexpr std::uint16_t Size = 0x4000;          // in the table: the argument is a workspace size
constexpr std::uint16_t LibraryGiven = 0x4000;  // at run time: a library number was given
constexpr std::uint16_t Path = 0x8000;          // at run time: the name holds a path (: \ /)
}  // namespace cmdf

// Workspace fields the parse fills for the handlers.
namespace cmdws {
constexpr std::uint32_t Scratch = 0x038;     // the command word, then each name read
constexpr std::uint32_t kScratchName = 60;   // characters kept of a name
constexpr std::uint32_t EditLength = 0x05F;  // b: length of the editor's name
constexpr std::uint32_t EditName = 0x060;    // 62 bytes: the editor's name (at most 61) and its end character
constexpr std::uint32_t Key = 0x06C;         // 8 bytes: the password's key (password_key), zeros for none
constexpr std::uint32_t Library = 0x074;     // w: the library number given, 0 for none
constexpr std::uint32_t EditLibrary = 0x09B; // b: the library number given to the editor
constexpr std::uint32_t Flags = 0x0A2;       // h: the row's flags with the run-time bits
constexpr std::uint32_t FirstLimit = 0x0D8;  // h + 30 bytes: limits, cleared for a form without argument
constexpr std::uint32_t kLimitBytes = 32;    // bytes cleared from FirstLimit
constexpr std::uint8_t kFileOperation = 0x10;  // bit of hdr::MiscBits
}  // namespace cmdws
// The workspace-name buffer is scratch area 1: a length byte, the name, a blank.

// Label codes of the handlers, by form (the command's first four letters
// and _N, _NAME, _LIST for the number, name and list forms). C_RAW_HOST
// takes the line as text; C_NOT_ALLOWED refuses the form.
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

// One command: its key, flags (cmdf::) and the codes of its three forms.
struct CommandRow {
  char key[4];  // first four letters, upper case; a blank (and NUL) after a shorter word
  std::uint16_t flags;
  std::uint16_t no_args, one_arg, list;  // CommandCode
};
// Rows in the command table.
constexpr int kCommandRows = 46;
// The command table (kRows), in the order the dispatcher searches it.
const std::array<CommandRow, kCommandRows>& command_table();

// Handler shapes; the workspace comes last.
using CmdNoArgs = int (*)(std::uint16_t flags, Ws ws);                  // also the workspace-name forms
using CmdNumber = int (*)(std::int32_t n, std::uint16_t flags, Ws ws);  // also the size form
using CmdName = int (*)(std::uint32_t length, std::uint16_t flags, Ws ws);  // name at cmdws::Scratch
using CmdTabs = int (*)(const std::uint8_t* text, std::uint32_t length, bool several, std::int32_t first, Ws ws);
using CmdText = int (*)(const std::uint8_t* text, std::uint32_t length, std::uint16_t flags, Ws ws);  // lists, raw

// The handlers of one code: the one pointer of the code's shape is used.
// All empty: the command is not available (NONCE ERROR).
struct CommandHandler {
  CmdNoArgs no_args = nullptr;
  CmdNumber number = nullptr;
  CmdName name = nullptr;
  CmdTabs tabs = nullptr;
  CmdText text = nullptr;
};
// The handlers behind `code`; all empty for a code outside 0x500–0x53E.
const CommandHandler& command_handler(std::uint16_t code);

// The dispatcher, for `length` internal characters from the ")". Answers 8
// for a line of ")" and blanks (six blanks have been printed); 12 when the
// line was refused (INCORRECT COMMAND for an unknown command or a malformed
// argument, NONCE ERROR for a form not available); 0 after INCORRECT
// COMMAND for a form the row does not allow (C_NOT_ALLOWED); else the
// handler's result.
int syscmd(const std::uint8_t* text, std::uint32_t length, Ws ws);
// Installs `syscmd` as the tokeniser's system-command route.
void install_command_routes();
// Gives `code` its handlers; for commands served by a higher layer (the
// workspace commands of the session), installed at start. A code outside
// 0x500–0x53E is ignored.
void set_command_handler(std::uint16_t code, const CommandHandler& handler);

// Prints "INCORRECT COMMAND" on a line of its own and clears the file
// operation bit (cmdws::kFileOperation); answers 0.
int c_incorrect(Ws ws);

// The 8-byte workspace key of a password (internal characters, the first
// eight used; zeros after a shorter one): each byte's halves swapped,
// negated and rotated right by one.
std::array<std::uint8_t, 8> password_key(const std::uint8_t* password, std::uint32_t length);

// )HOST (host_command.cpp): runs the `length` characters of `text` after
// leading blanks in the host's shell, its output to the session; no command
// shows IS LINUX. Answers 0, or 12 after WS FULL when the command does not
// fit the free space.
int chost_any_args(const std::uint8_t* text, std::uint32_t length, std::uint16_t flags, Ws ws);
// )DISPLAY NAME (name at cmdws::Scratch): the variable's boxed display,
// each row ended by a new line. VALUE ERROR for a name without a value,
// DOMAIN ERROR for one that is not a variable, WS FULL without room, each
// shown on a line of its own with the answer 12 (the last error's words
// and ⎕ET kept); else 0.
int cdisplay_args(std::uint32_t length, std::uint16_t flags, Ws ws);

// ---- state-indicator commands (si_commands.cpp) ----
// )SI, )SIV and )SICLEAR without and with a number: each lists (or
// clears) the levels and answers 0, or 12 after INCORRECT COMMAND.
// )SI: every level; with n, the n newest.
int csi_no_args(std::uint16_t flags, Ws ws);
int csi_args(std::int32_t n, std::uint16_t flags, Ws ws);
// )SIV (and )SINL): the same with each level's local names.
int csiv_no_args(std::uint16_t flags, Ws ws);
int csiv_args(std::int32_t n, std::uint16_t flags, Ws ws);
// )SIS: the listing with each level's statement and a caret under the point
// reached; the line typed at a suspended or the bottom level follows "*".
int csis_no_args(std::uint16_t flags, Ws ws);
int csis_args(std::int32_t n, std::uint16_t flags, Ws ws);
// )SICLEAR: clears every level; with n, the n newest.
int csicl_no_args(std::uint16_t flags, Ws ws);
int csicl_args(std::int32_t n, std::uint16_t flags, Ws ws);
// The listing of n levels, newest first; mode 0x01 adds the local names,
// 0x04 the statements (0x02: no "*" on the first entry).
// 12 after INCORRECT COMMAND for a negative n.
int csie(std::int32_t n, int mode, Ws ws);
// The front end's state-indicator listing: csie(n, mode) stored in the free
// gap above the heap top (compacted first) instead of shown, lines ended by
// carriage returns. Answers the zero-terminated text in internal codes,
// valid until the interpreter runs again, or null when it did not fit.
// Attention is off meanwhile; the output column and bits are kept.
const std::uint8_t* get_state_indicator(Ws ws, std::int32_t n, int mode);

}  // namespace zema
