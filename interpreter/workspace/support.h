// The thin support layer between the interpreter and its host: time,
// identities, settings kept outside the workspace, shared variables, shell
// commands, hard copy, the full-screen editor and cursor control. Results
// are 0 or an ErrorCode unless stated.
#pragma once

#include <cstdint>
#include <string>

#include "interpreter/workspace/workspace.h"

namespace zema {

// ---- time ----
// Milliseconds on the host's monotonic clock (wrapping at 2*32): only
// differences, taken unsigned, mean anything.
std::uint32_t gtime();
// Milliseconds since local midnight, and `*date` ← the date as month×10000 + day×100 + yy.
std::uint32_t ftime(std::uint32_t* date);
// ⎕TS's time and date: as ftime.
std::uint32_t sup_tds(std::uint32_t* date, Ws ws);
// ⎕AI: writes seven numbers to `out7`: user number, processor time,
// connect time, keying time (all milliseconds), 700, then processor and
// connect time again.
void sup_qai(std::int32_t* out7, Ws ws);
// ⎕DL: waits `ms` milliseconds, polling attention (an attention or
// midnight ends the wait early); answers the milliseconds waited.
std::uint32_t sup_dl(std::uint32_t ms, Ws ws);

// ---- identities and settings kept in LowGlobals ----
std::uint32_t sup_id(Ws ws);     // the task's id
std::uint32_t sup_tt(Ws ws);     // ⎕TT: the terminal type
std::uint32_t sup_i29rd(Ws ws);  // the user number (⎕AI[1])
int sup_ul();                    // ⎕UL: the host's count of users
void sup_qpw(std::uint16_t width, Ws ws);       // records ⎕PW's value for a clear workspace
void sup_qpr(std::int16_t ch, Ws ws);           // records ⎕PR's character (−1: empty)
void sup_settfmt(std::uint16_t word, Ws ws);    // records the terminal format word
std::uint8_t* sup_getdspacename(Ws ws);         // the data-space name buffer
std::uint8_t* sup_tabs(Ws ws);                  // the tab-stop buffer
// Copies the 128-byte translation table at `source` to `destination`.
void sup_ltrn(int spare, const std::uint8_t* source, std::uint8_t* destination, Ws ws);
// Answers the low byte of `value` (a terminal parameter, nothing kept).
int sup_sprm(std::uint32_t value, Ws ws);
// No-ops kept for the terminal protocol: blot and duplicate.
void sup_blot(Ws ws);
void sup_dupl(Ws ws);
// Follows the output column (hdr::OutColumn) for a character sent: a
// carriage return sets it to 0, a printing character (0x10 and above)
// moves it on.
void sup_logch(int c, Ws ws);
// ⎕MOUNT's table: when n > 0, the first n bytes at `source` replace it;
// then the whole table is copied to `destination`.
void sup_qmt(int n, const std::uint8_t* source, std::uint8_t* destination, Ws ws);
// Tells the host the workspace's name has changed.
void sup_new_wsid(Ws ws);
// ⎕HC: passes `code` to the host's hard copy and answers its answer.
int sup_hc(int code);
// Opens the full-screen editor on the `length` internal characters at
// `name` (at most 99), at `line_word`, in definition mode when a function
// is being defined; answers the host's answer.
int sup_fse(const std::uint8_t* name, int length, int line_word, Ws ws);
// ⎕CC: `code` in and out; `numbers`/`count` the request's numbers; a, b, c
// the result words. Answers 4 for request -1, else 0.
int sup_qccadr(int* code, std::int32_t** record, const std::int32_t* numbers, int count, std::int32_t* a,
               std::int32_t* b, std::int32_t* c, Ws ws);
// ⎕HOST: runs `command` (internal characters) and leaves its output in
// `buffer`; `capacity` in: the buffer's size, out: the output's length.
// The command and its output use the buffer less its last 8 bytes.
// An empty command answers the system's name LINUX. Answers 0, 4 when the
// buffer cannot hold the name, 20 when it cannot hold the command, else
// the host's error number.
int sup_qhost(const std::uint8_t* command, int length, char* buffer, int* capacity, int time_limit, Ws ws);
// )HOST: runs a command with its output sent to the session, `buffer`
// (`capacity` bytes) receiving a copy of the command. An empty
// command shows IS LINUX. Answers 0, or 4 (WS FULL shown) when the command
// does not fit.
int sup_host(const std::uint8_t* command, int length, char* buffer, int capacity, int spare, Ws ws);
// `*text` ← the system's text for host error `host_error`; answers its length.
int my_error_text(int host_error, std::string* text);

// ---- shared variables ----
// Processors served: 3 (a share inside the task) and 100 and above; the
// others answer as unserved (no share, degree 0, error 28).
// Offers a share of the `name_length` characters at `name` (at most 30) to
// `processor`; `*handle` ← its handle (0x80000000 for an unserved
// processor, which answers 1). Answers the host's answer.
int sup_svo(int processor, int name_length, const std::uint8_t* name, int spare, std::uint32_t* handle, Ws ws);
// Retracts the share `handle`; answers the host's answer, 1 when unserved.
int sup_svr(int processor, std::uint32_t handle);
// ⎕SVQ's state of a processor: 2 served, 1 not.
int sup_svqs(int processor);
// The access-control degree set for a processor (⎕SVC): 15 served, 0 not.
int sup_svc(int processor, int spare1, int spare2, Ws ws);
// The access-control degree asked for (⎕SVC monadic): the same answers.
int sup_svcq(int processor, int spare, Ws ws);
// `*list` ← the processors served inside the task (just 3); answers their count.
int sup_svtf(const std::int32_t** list, Ws ws);
// Reads the share's value into `result` (`room` bytes); answers the
// host's answer, 28 when the processor is not served.
int sup_svref(int processor, std::uint32_t handle, void* result, int room);
// Specifies the share's value from `value`; the same answers.
int sup_svspc(int processor, std::uint32_t handle, const void* value);

}  // namespace zema
