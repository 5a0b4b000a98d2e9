// The interpreter's door towards its host task: the terminal routines,
// attention, scratch areas, and the side state of a workspace.
#pragma once

#include <cstdint>
#include <string>

#include "interpreter/workspace/workspace.h"

namespace zema {

void setup_wstmp_rhos(Ws ws);
// Address of scratch area i (0-7) as its header word gives it.
std::uint8_t* scratch_area(int i, Ws ws);

// Attention. `atntrp` takes an attention signalled by the host into the
// state (bit st::AttentionSeen, the count in LowGlobals) and answers true
// when one is to be acted on now: a second attention, or the first while no
// statement has started. It never unwinds; the poll does.
bool atntrp(Ws ws);
// The poll: an attention to act on is taken (`intptr_attn`).
void poll_attention(Ws ws);
// The poll, then the countdown of the engine's next poll reloaded.
void check_attention(Ws ws);
// Takes the attention: output and listing state reset, then INTERRUPT while
// a line executes, else the engine is left.
[[noreturn]] void intptr_attn(Ws ws);
// Enables (non-zero) or disables attention; disabling forgets one seen.
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
