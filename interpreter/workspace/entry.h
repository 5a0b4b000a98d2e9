// The interpreter's door towards its host task: the entry `apl`, the
// terminal routines, attention, and the workspace's life (clear, resize,
// paths, packing, system errors).
#pragma once

#include <cstdint>
#include <string>

#include "interpreter/workspace/workspace.h"

namespace zema {

// Thrown to (re-)enter the immediate-execution loop from any depth; carries
// the workspace base, which a resize changes.
struct EnterImmediate {
  Ws ws;
};

// The one entry point: lays out LowGlobals and the workspace in `memory`,
// takes the host's start-up facts, clears the workspace and runs immediate
// execution. Never returns (the host ends the task from inside).
[[noreturn]] void apl(std::uint8_t* memory, std::uint32_t size, const char* startup_ws, std::uint8_t** ws_out,
                      std::uint32_t task_id);

// Steps of `apl` before the first clear: LowGlobals laid out and filled from
// the host's names and preferences. Answers the workspace base.
Ws apl_setup(std::uint8_t* memory, std::uint32_t size, const char* startup_ws, std::uint32_t task_id);

void setup_wstmp_rhos(Ws ws);
// Address of scratch area i (0-7) as its header word gives it.
std::uint8_t* scratch_area(int i, Ws ws);

void atntrp(Ws ws);
void sup_attn(int on, Ws ws);
int sup_lnin(const char** text, int* length, Ws ws);
int sup_qtqdi(int* length, char* buffer, Ws ws);
int sup_cget(Ws ws);
void sup_snd1c(int c, Ws ws);
void sup_lnout(int length, const char* text, Ws ws);
void sup_lsend(char* text, char* last, Ws ws);
void sup_edit(int column, Ws ws);
void sup_promt(Ws ws);
int sup_break(std::uint32_t symbol, int line, int reason, std::uint32_t message, Ws ws);
[[noreturn]] void sup_off();

// Prints a message of the interpreter's own (error colour) followed by a
// carriage return.
void print_message(std::string_view internal_text, Ws ws);

// ---- workspace life ----
// Clears the workspace in place (header, symbol table, heap and stack).
void clear_workspace(Ws ws);
// Clears, announces CLEAR WS (unless a start-up workspace is pending) and
// enters immediate execution.
[[noreturn]] void sup_clear(Ws ws);
[[noreturn]] void resize_ws(std::uint32_t new_size, Ws ws);
std::uint32_t pkws(Ws ws);
void unpkws(Ws ws);

// Path building in the path buffer of LowGlobals. `name` points at a length
// byte followed by internal characters.
std::uint32_t libset(std::uint32_t library, Ws ws);
const char* wsset(std::uint32_t library, std::uint32_t flags, const std::uint8_t* name, Ws ws);
const char* wsset_temp(Ws ws);
// Writes the name (and, unless flags bit 15 is set, the extension) into the
// path buffer from position `start`.
const char* mvwsid(std::uint32_t start, std::uint32_t flags, const std::uint8_t* name, Ws ws);

// The side state of a workspace: host names and paths, which cannot live in
// the block or in LowGlobals as pointers, kept here, keyed by base.
struct SideState {
  std::string temp_name1, temp_name2, help_file, ws_directory;
  // The text of an error signalled with a message of the program's own
  // (⎕ES, dyadic ⎕ERS), in effect while header byte 0x128 has bit 1.
  std::string own_message;
};
SideState& side_state(Ws ws);
void forget_side_state(Ws ws);

}  // namespace zema
