// The interpreter's door towards its host task: the entry `apl`, the
// terminal routines, attention, and the workspace's life (clear, resize,
// paths, packing, system errors).
#pragma once

#include <cstdint>
#include <string>

#include "interpreter/workspace.h"

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

// Writes the eight scratch-area header words (hdr::ScratchAreas) as
// offsets from `ws` to the scratch buffers in LowGlobals.
void setup_wstmp_rhos(Ws ws);
// Address of scratch area i (0-7) as its header word gives it.
std::uint8_t* scratch_area(int i, Ws ws);

// ---- attention ----
// Polls the host for an attention. When one is seen and attentions are
// enabled, sets st::AttentionSeen and counts it; a pending attention is
// then acted on (the interrupt path) unless it is the first and a
// statement is running, which ends the statement first.
void atntrp(Ws ws);
// Enables (`on` nonzero) or disables attentions; disabling forgets a
// pending one and clears st::AttentionSeen. Tells the host.
void sup_attn(int on, Ws ws);

// ---- terminal (text in internal characters) ----
// Reads one input line from the host: `text` and `length` receive it (the
// host's buffer, valid until the next read). Clears st::AttentionSeen,
// adds the waiting time to the keying time (⎕AI). Answers 4 for a line,
// 0 when none came (an attention interrupted the read; length negative).
// The end of input ends the task.
int sup_lnin(const char** text, int* length, Ws ws);
// ⍞ input: reads a line after the prompt already on the session line and
// writes at most `*length` characters into `buffer`, the prompt's
// characters that came back unchanged replaced by the ⎕PR character
// (unless ⎕PR is empty); `*length` out: the count. Answers 4, or 0 when
// no line came.
int sup_qtqdi(int* length, char* buffer, Ws ws);
// Waits for one key and answers its code (0-255); the wait counts as
// keying time.
int sup_cget(Ws ws);
// Sends one character to the session; 0 is dropped, and a carriage return
// while an input line is being edited or prompted.
void sup_snd1c(int c, Ws ws);
// Sends `length` characters of `text` (no line end); polls attention first.
void sup_lnout(int length, const char* text, Ws ws);
// Sends the characters from `text` to `last` (inclusive) as one line; the
// byte after `last` is restored afterwards.
void sup_lsend(char* text, char* last, Ws ws);
// The next input line is edited: it starts with the session line's text,
// the cursor at `column`.
void sup_edit(int column, Ws ws);
// The next input line follows a prompt already on the session line.
void sup_promt(Ws ws);
// Tells the host that function `symbol` stopped at `line` for `reason`,
// with the message at workspace offset `message` (0: none); answers the
// host's answer.
int sup_break(std::uint32_t symbol, int line, int reason, std::uint32_t message, Ws ws);
// Ends the task (through the host); never returns.
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
// Asks the host for a block of `new_size` bytes (the task ends when it
// refuses), moves the side state to the new base and clears there.
[[noreturn]] void resize_ws(std::uint32_t new_size, Ws ws);
// Packs the execution stack down against the heap top, for saving: answers
// the offset of the end of the packed block. unpkws moves it back up under
// hdr::Top.
std::uint32_t pkws(Ws ws);
void unpkws(Ws ws);

// Path building in the path buffer of LowGlobals. `name` points at a length
// byte followed by internal characters.
// libset writes library `library`'s folder (99: the home folder) and
// answers its length.
std::uint32_t libset(std::uint32_t library, Ws ws);
// The whole path of workspace file `name` in `library` with the current
// extension (flags bit 15: `name` is the whole path); for the temporary
// extensions, the host's temporary name instead. Answers the path buffer.
const char* wsset(std::uint32_t library, std::uint32_t flags, const std::uint8_t* name, Ws ws);
// The host's first temporary name (for the .atm extension) or its second
// into the path buffer; answers it.
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
// The side state of the workspace at `ws`, made empty on first use;
// forget_side_state drops it (the block is gone or has moved).
SideState& side_state(Ws ws);
void forget_side_state(Ws ws);

}  // namespace zema
