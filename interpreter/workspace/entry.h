// The interpreter's door towards its host task: the terminal routines,
// attention, scratch areas, and the side state of a workspace.
#pragma once

#include <cstdint>
#include <string>

#include "host/services.h"
#include "interpreter/workspace/workspace.h"

namespace zema {

// Points the eight scratch-area words (hdr::ScratchAreas) at the scratch
// buffers in LowGlobals, as signed offsets from the base.
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
// The poll, then the countdown of the engine's next poll reloaded. Inline:
// with no attention pending or seen, and the front end not due to be asked,
// it only tests the task's flag.
inline void check_attention(Ws ws) {
  if (attention_poll_due() || lowglobals(ws).attn_count != 0) poll_attention(ws);
  wr16(ws, hdr::AttnCountdown, rd16(ws, hdr::AttnReload));
}
// Takes the attention: output and listing state reset, then INTERRUPT while
// a line executes, else the engine is left.
[[noreturn]] void intptr_attn(Ws ws);
// Enables (non-zero) or disables attention; disabling forgets one seen.
void sup_attn(int on, Ws ws);

// ---- terminal (text in internal characters) ----
// Reads one input line from the host: `text` and `length` receive it (the
// host's buffer, valid until the next read). Clears st::AttentionSeen,
// adds the waiting time to the keying time (⎕AI); a line typed to its end
// puts the output column (hdr::OutColumn) back to 0. Answers 4 for a line,
// 0 when none came (an attention interrupted the read; length negative).
// The end of input ends the task.
int sup_lnin(const char** text, int* length, Ws ws);
// ⍞ input: reads a line after the prompt already on the session line and
// writes at most `*length` characters into `buffer`, the prompt's
// characters that came back unchanged replaced by the ⎕PR character
// (unless ⎕PR is empty); `*length` out: the count. Answers 4, 0 when
// no line came, or 12 when the answer is longer than `*length` (what
// fitted is in `buffer`, the rest is lost).
int sup_qtqdi(int* length, char* buffer, Ws ws);
// Waits for one key and answers its code (0-255); the wait counts as
// keying time.
int sup_cget(Ws ws);
// Sends one character to the session; 0 is dropped, and a carriage return
// while an input line is being edited or prompted.
void sup_snd1c(int c, Ws ws);
// Sends `length` characters of `text` (no line end); an attention the host
// signalled meanwhile is recorded first (the next poll takes it).
void sup_lnout(int length, const char* text, Ws ws);
// Recording of the session output (a system command run by ⍎ whose output
// is its value): sup_record_output starts it empty, sup_recorded_output
// answers the characters recorded (−1 when nothing is being recorded) and
// copies them to `destination` when that is not null, sup_stop_recording
// ends it and drops what was recorded.
void sup_record_output(Ws ws);
int sup_recorded_output(char* destination, Ws ws);
void sup_stop_recording(Ws ws);
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

// The side state of a workspace: host names and paths, which cannot live in
// the block or in LowGlobals as pointers, kept here, keyed by base.
struct SideState {
  std::string temp_name1, temp_name2, help_file, ws_directory;
};
// The side state of the workspace at `ws`, made empty on first use;
// forget_side_state drops it (the block is gone or has moved).
SideState& side_state(Ws ws);
// Drops the side state of the workspace at `ws` (none: nothing happens).
void forget_side_state(Ws ws);

}  // namespace zema
