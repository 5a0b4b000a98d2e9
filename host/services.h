// The host services the interpreter calls on its task thread. Each finds the
// calling task itself; without a task each answers as a missing service.
// Results are 0 or an ErrorCode unless stated.
#pragma once

#include <cstdint>
#include <string>

#include "host/task.h"

namespace zema {

// ---- session input and output ----
int csend(int c);
int msgout(const char* text, int length);
// Stores the next input line (internal characters) and its length; a
// negative length means no line.
int linein(const char** text, int* length);
int cget();
void get_cur_line(const char** text, int* length);
// A line of host characters (⎕CC): a carriage return without a line feed is dropped.
void ascii_line_send(const char* text);
// A line of host characters such as the workspace-size report.
void line_send(const char* text);
int cursor_add(int column, int line);
int cursor_x(int column);
std::int32_t* get_cursor_add();
int quadcc(int code);
void record_syscmd_output();
void kill_syscmd_output();
int get_syscmd_output_len();
int copy_syscmd_output(char* destination);

// ---- attention and task life ----
int check_event_attention();
void set_attention(int on);
[[noreturn]] void off();
void tidy_on_clear();
int function_stopped(std::uint32_t symbol, int line, int reason, const void* message);
void new_wsid();
int user_load();
std::uint32_t change_ws_size(std::uint32_t bytes, std::uint8_t** new_ws);
int start_fse(const char* name, int line_word, int mode);
int exec_cmd(const char* command, char* output, int size, int time_limit);

// ---- task records ----
ServerSideTaskVars* get_server_side_task_vars();
const NamesRecord& get_names();
const PrefsRecord& get_prefs();
char* keep(const char* text);

// ---- errors of the host ----
// The system's text for a host error number, in internal characters.
std::string error_text(int host_error);
int latest_error();

// ---- libraries ----
// The installation's root, with a trailing "/": the executable's directory
// less a final "bin/", else the standard place. Its "bin" holds the shared
// libraries named without ".so", its "ws" the default library.
std::string installation_directory();
void* host_load_library(const char* name);
void* host_find_routine(void* handle, const char* entry);
int host_unload_library(void* handle);

// ---- ⎕WI ----
int qwi_get_property(const char* property, const char* object, const char* path, void* result, int room);
int qwi_set_property(const char* property, const char* object, const char* path, const void* value);

// ---- shared variables, time, floating point ----
int svar_offer(int processor, std::uint32_t* handle, const char* name);
int svar_retract(int processor, std::uint32_t handle);
int svar_referenced(int processor, std::uint32_t handle, void* result, int room);
int svar_specified(int processor, std::uint32_t handle, const void* value);
// Milliseconds since local midnight, and the date as month×10000+day×100+yy.
const std::uint32_t* get_system_time();
std::uint32_t get_cpu_time();
int sleep_a_while(int ms);
void _control87(unsigned word, unsigned mask);

// ---- hard copy ----
int quadhc(int code);

}  // namespace zema
