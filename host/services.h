// The host services the interpreter calls on its task thread. Each finds the
// calling task itself; without a task each answers as a missing service.
// Results are 0 or an ErrorCode unless stated.
#pragma once

#include <cstdint>
#include <string>

#include "host/task.h"

namespace zema {

// ---- session input and output ----
// Writes one character to the session, or to the capture buffer while
// system-command output is recorded; nothing while an attention is pending.
int csend(int c);
// csend for each of `length` characters of `text`.
int msgout(const char* text, int length);
// Stores the next input line (internal characters) and its length; a
// negative length means no line (an attention interrupted the read). The
// end of input ends the task. `*line_typed` ← true when the line was typed
// to its end (which ends the session line, so output starts a new one),
// false when a read was interrupted. Flushes output first; answers the
// length.
int linein(const char** text, int* length, bool* line_typed);
// Waits for one keystroke and answers it (3 without a task).
int cget();
// `*text`, `*length` ← the characters on the current session line (a
// prompt already shown), valid until the next output.
void get_cur_line(const char** text, int* length);
// A line of host characters (⎕CC): a carriage return without a line feed is dropped.
void ascii_line_send(const char* text);
// A line of host characters such as the workspace-size report.
void line_send(const char* text);
// ⎕CC cursor control: moves the cursor to `column`, `line` (cursor_x: on
// the current line); get_cursor_add answers the task's cursor record
// (column, line, …) or null; quadcc runs request `code`. Answers 0, 88
// without a task.
int cursor_add(int column, int line);
int cursor_x(int column);
std::int32_t* get_cursor_add();
int quadcc(int code);
// Capture of session output (a system command run under program control):
// record_syscmd_output starts it with an empty buffer (capturing stays off
// when no buffer can be had), kill_syscmd_output ends it and drops the
// buffer, get_syscmd_output_len answers the bytes captured (−1 when not
// capturing; the task's captureLimit + 1 when more came than that, a length
// no workspace array can have), copy_syscmd_output copies the bytes kept to
// `destination` (28 when not capturing).
void record_syscmd_output();
void kill_syscmd_output();
int get_syscmd_output_len();
int copy_syscmd_output(char* destination);

// ---- attention and task life ----
// Answers 1 when an attention is pending (taken, and output flushed, when
// attentions are enabled), else 0.
int check_event_attention();
namespace host_detail {
extern thread_local constinit APLTask* current_apl_task;
}
// The poll's quick test, inline so that a poll with nothing pending costs a
// few loads: true when the current task has an attention pending or its
// front end is due to be asked (see APLTask::frontEndCheckEvery); only then
// need check_event_attention be called. False without a task.
inline bool attention_poll_due() {
  APLTask* t = host_detail::current_apl_task;
  if (!t) return false;
  if (t->attnPending.load(std::memory_order_relaxed)) return true;
  if (--t->frontEndCountdown != 0) return false;
  t->frontEndCountdown = t->frontEndCheckEvery;
  return true;
}
// Enables or disables attentions; disabling drops a pending one.
void set_attention(int on);
// Ends the task: throws TaskEnded.
[[noreturn]] void off();
// Closes what a clear closes outside the workspace (the sequential file).
void tidy_on_clear();
// Reports a stop in `symbol` at `line` for `reason` with `message`;
// answers how it was shown (0: not shown).
int function_stopped(std::uint32_t symbol, int line, int reason, const void* message);
// The workspace name changed (nothing to update without a window).
void new_wsid();
// A loaded workspace's latent expression runs next (its task is told, with
// the error-report word it was loaded with).
void latent_expression_starting(std::uint32_t error_message);
// The number of users of the system: the tasks in the task list (0
// without a task).
int user_load();
// Gives the task a new block of `bytes` (at least 204,800): `*new_ws` ←
// its workspace base; reports the size on the session and answers the
// block's size plus 10,000, or 0 when refused (the old block stays).
std::uint32_t change_ws_size(std::uint32_t bytes, std::uint8_t** new_ws);
// Opens the full-screen editor on `name` at `line_word` (`mode` −1:
// defining); answers 0 or an error (24 without a window).
int start_fse(const char* name, int line_word, int mode);
// Runs `command` (internal characters, NUL-terminated; translated to host
// characters in place, a leading ↓ or ↑ dropped) through the shell, with
// standard input from /dev/null. Without `output` (room 0) its output goes
// to the session as it comes; with it, it is collected there in internal
// characters while the count stays below `room`, one final CR dropped.
// `seconds` limits the time without output (0: none); the command, with
// whatever it started, is killed then and the answer keeps what came.
// Answers the count collected (0 to the session), −4 when the output did
// not fit (what fitted stays), −120 at an attention, −68 when no pipe could
// be made or the shell could not be started or found no such command.
int exec_cmd(char* command, char* output, int room, int seconds);

// ---- task records ----
// The calling task's host variables (a shared record without a task).
ServerSideTaskVars* get_server_side_task_vars();
// The task's names (temporary files, help, workspace folder) and preferences.
const NamesRecord& get_names();
const PrefsRecord& get_prefs();
// A heap copy of `text` that lives as long as the process.
char* keep(const char* text);

// ---- errors of the host ----
// The system's text for a host error number, in internal characters.
std::string error_text(int host_error);
// The host error number of the task's last failed host call.
int latest_error();

// ---- libraries ----
// The installation's root, with a trailing "/": the executable's directory
// less a final "bin/", else the standard place. Its "bin" holds the shared
// libraries named without ".so", its "ws" the default library.
std::string installation_directory();
// Loads the shared library `name` (a path ending .so, else that name in
// the installation's "bin"); answers its handle or null.
void* host_load_library(const char* name);
// The address of routine `entry` in a loaded library, or null.
void* host_find_routine(void* handle, const char* entry);
// Unloads a library (null is ignored); answers 0.
int host_unload_library(void* handle);

// ---- ⎕WI ----
// Reads `property` of `object` into `result` (`room` bytes, at least 256,
// else 4) or sets it from `value`; 88 without windows.
int qwi_get_property(const char* property, const char* object, const char* path, void* result, int room);
int qwi_set_property(const char* property, const char* object, const char* path, const void* value);

// ---- function keys ----
// Sets key `n` (1-45) to the text `value` (an array object read as by
// get_translated_text, at most 499 characters, kept in display code; its
// error answered when it is no such text); an empty text unsets the key.
// 12 for a key outside 1-45.
int set_pf_key(int n, const void* value);
// Writes key `n`'s text (empty when unset) into `result` as a character
// vector (return_translated_text with `room`); 12 for a key outside 1-45.
int get_pf_key(int n, void* result, int room);
// Key `n`'s text in display code, for the front end that types it; empty
// when unset or outside 1-45.
std::string pf_key_text(int n);

// ---- shared variables, time, floating point ----
// Offers, retracts, reads and specifies a share with `processor`; the
// console serves none (offer: handle 0x80000000 and 1; retract 2; read and
// specify 28).
int svar_offer(int processor, std::uint32_t* handle, const char* name);
int svar_retract(int processor, std::uint32_t handle);
int svar_referenced(int processor, std::uint32_t handle, void* result, int room);
int svar_specified(int processor, std::uint32_t handle, const void* value);
// The calling thread's two time words, refreshed from the local clock:
// milliseconds since local midnight, and the date as month×10000+day×100+yy.
// Elapsed times are measured on monotonic_ms (host/clock.h) instead.
const std::uint32_t* get_system_time();
// Processor time used, in milliseconds.
std::uint32_t get_cpu_time();
// Sleeps at most 100 of the `ms` milliseconds; answers the milliseconds slept.
int sleep_a_while(int ms);
// Sets the floating-point control word under `mask` (rounding to nearest).
void _control87(unsigned word, unsigned mask);

// ---- hard copy ----
// ⎕HC request `code` of the calling thread's task: the installed handler's
// answer; without one (no printer: the console) 0 closes, 99 answers the
// mode, 1 and −1 answer 7, 1000 and −1000 answer 6, others 1; 1 without a
// task.
int quadhc(int code);
// Installs the ⎕HC handler that quadhc hands every request to (null: the
// console's answers above). Set at start-up by the layer that can print;
// safe to call from any thread.
using QuadHCHandler = int (*)(int code);
void set_quadhc_handler(QuadHCHandler handler);

}  // namespace zema
