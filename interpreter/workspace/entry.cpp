// Terminal routines, attention, scratch areas and the side state: the
// interpreter's door towards its host task.
#include "interpreter/workspace/entry.h"

#include <cstring>
#include <map>
#include <mutex>

#include "host/charset.h"
#include "host/services.h"
#include "interpreter/workspace/errors.h"
#include "interpreter/workspace/support.h"

namespace zema {

namespace {
std::mutex side_mutex;
std::map<Ws, SideState>& side_map() {
  static std::map<Ws, SideState> m;
  return m;
}

// Scratch areas: the first of 252 bytes, then seven of 256.
std::uint8_t* scratch_address(int i, Ws ws) {
  LowGlobals& lg = lowglobals(ws);
  return i == 0 ? lg.scratch0 : lg.scratch[i - 1];
}
}  // namespace

void setup_wstmp_rhos(Ws ws) {
  for (int i = 0; i < 8; ++i)
    wr32(ws, hdr::ScratchAreas + 4 * i, static_cast<std::uint32_t>(low_offset(ws, scratch_address(i, ws))));
}

std::uint8_t* scratch_area(int i, Ws ws) { return ws + rdi32(ws, hdr::ScratchAreas + 4 * i); }

SideState& side_state(Ws ws) {
  std::lock_guard<std::mutex> lock(side_mutex);
  return side_map()[ws];
}

void forget_side_state(Ws ws) {
  std::lock_guard<std::mutex> lock(side_mutex);
  side_map().erase(ws);
}

// ---- attention ----------------------------------------------------------------

bool atntrp(Ws ws) {
  LowGlobals& lg = lowglobals(ws);
  if (check_event_attention()) {
    if (!lg.attn_enabled) return false;
    set_state(st::AttentionSeen, 0, ws);
    ++lg.attn_count;
  } else if (lg.attn_count == 0) {
    return false;
  }
  return !(lg.attn_count == 1 && state_has(st::StatementStarted, ws));
}

void poll_attention(Ws ws) {
  if (!atntrp(ws)) return;
  LowGlobals& lg = lowglobals(ws);
  lg.input_mode = 0;
  lg.attn_count = 0;
  intptr_attn(ws);
}

void check_attention(Ws ws) {
  poll_attention(ws);
  wr16(ws, hdr::AttnCountdown, rd16(ws, hdr::AttnReload));
}

void intptr_attn(Ws ws) {
  wr16(ws, hdr::AttnCountdown, rd16(ws, hdr::AttnReload));
  wr8(ws, hdr::OutputBits, 0);
  set_state(0, st::ListDigits | st::Capturing, ws);
  if (!state_has(st::Defining, ws)) wr16(ws, hdr::LexState, 0);
  if (state_has(st::Executing, ws)) synatn(engine_state(ws), ws);
  resume_apl(kLeaveEngine, ws);
}

void sup_attn(int on, Ws ws) {
  LowGlobals& lg = lowglobals(ws);
  lg.attn_enabled = static_cast<std::uint16_t>(on);
  if (!on) {
    lg.attn_count = 0;
    set_state(0, st::AttentionSeen, ws);
  }
  set_attention(on & 0x7F);
}

// ---- terminal ------------------------------------------------------------------

int sup_lnin(const char** text, int* length, Ws ws) {
  LowGlobals& lg = lowglobals(ws);
  set_state(0, st::AttentionSeen, ws);
  lg.wait_start = gtime();
  if (lg.input_mode == 1 && lg.cursor_column != 0) cursor_x(static_cast<int>(lg.cursor_column));
  lg.input_mode = 0;
  bool line_typed = false;
  linein(text, length, &line_typed);
  // The typed line ended the session line: output starts a new one, so the
  // line a ⍞ prompt left open needs no ending of its own.
  if (line_typed) wr16(ws, hdr::OutColumn, 0);
  lg.keying_time += gtime() - lg.wait_start;
  return *length >= 0 ? 4 : 0;
}

int sup_qtqdi(int* length, char* buffer, Ws ws) {
  int capacity = *length;
  const char* prompt = nullptr;
  int prompt_len = 0;
  get_cur_line(&prompt, &prompt_len);
  std::string saved(prompt, static_cast<std::size_t>(prompt_len));
  const char* in = nullptr;
  int in_len = 0;
  if (sup_lnin(&in, &in_len, ws) == 0) return 0;
  int out = 0;
  int i = 0;
  std::int16_t pr = lowglobals(ws).pr_char;
  if (pr >= 0) {
    while (i < in_len && out < capacity && i < static_cast<int>(saved.size()) && in[i] == saved[i]) {
      buffer[out++] = static_cast<char>(pr);
      ++i;
    }
  }
  while (i < in_len && out < capacity) buffer[out++] = in[i++];
  *length = out;
  return i < in_len ? 12 : 4;  // 12: the answer does not fit
}

int sup_cget(Ws ws) {
  LowGlobals& lg = lowglobals(ws);
  lg.wait_start = gtime();
  int key = cget();
  lg.keying_time += gtime() - lg.wait_start;
  return key & 0xFF;
}

void sup_snd1c(int c, Ws ws) {
  c &= 0xFF;
  if (c == 0) return;
  if (c == 0x0D && lowglobals(ws).input_mode != 0) return;
  csend(c);
}

void sup_record_output(Ws) { record_syscmd_output(); }

int sup_recorded_output(char* destination, Ws) {
  const int n = get_syscmd_output_len();
  if (n > 0 && destination != nullptr && copy_syscmd_output(destination) != 0) return -1;
  return n;
}

void sup_stop_recording(Ws) { kill_syscmd_output(); }

void sup_lnout(int length, const char* text, Ws ws) {
  atntrp(ws);
  msgout(text, length);
}

void sup_lsend(char* text, char* last, Ws ws) {
  char saved = last[1];
  last[1] = 0;
  ascii_line_send(text);
  last[1] = saved;
}

void sup_edit(int column, Ws ws) {
  LowGlobals& lg = lowglobals(ws);
  lg.input_mode = 1;
  lg.cursor_column = static_cast<std::uint32_t>(column);
}

void sup_promt(Ws ws) { lowglobals(ws).input_mode = 2; }

int sup_break(std::uint32_t symbol, int line, int reason, std::uint32_t message, Ws ws) {
  return function_stopped(symbol, line, reason, message ? ws + message : nullptr);
}

void sup_off() { off(); }

void print_message(std::string_view text, Ws ws) {
  set_state(st::OwnMessage, 0, ws);
  if (APLTask* t = find_my_task()) t->SetErrorColour(true);
  sup_lnout(static_cast<int>(text.size()), text.data(), ws);
  sup_snd1c(0x0D, ws);
  if (APLTask* t = find_my_task()) t->SetErrorColour(false);
  set_state(0, st::OwnMessage, ws);
}

}  // namespace zema
