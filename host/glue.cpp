// The plain functions through which the interpreter reaches its task.
#include <dlfcn.h>
#include <fenv.h>
#include <poll.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <climits>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <new>
#include <string>
#include <thread>

#include "host/charset.h"
#include "host/services.h"
#include "host/values.h"
#include "host/task.h"

namespace zema {

namespace host_detail {
thread_local constinit APLTask* current_apl_task = nullptr;
}  // namespace host_detail
using host_detail::current_apl_task;

APLTask* find_my_task() { return current_apl_task; }
void set_current_apl_task(APLTask* task) { current_apl_task = task; }

namespace {
ServerSideTaskVars gui_server_globals;
const NamesRecord kNoNames{};
const PrefsRecord kNoPrefs{};

// Appends `n` characters to the task's capture. Past captureLimit, or when
// the buffer cannot grow, nothing more is kept and the capture is marked
// too big; the buffer grows by doubling, never beyond the limit.
void store_syscmd_chars(APLTask* t, const char* text, std::size_t n) {
  std::vector<char>& b = t->captureBuffer;
  if (t->captureOverflow) return;
  if (b.size() > t->captureLimit || n > t->captureLimit - b.size()) {
    t->captureOverflow = true;
    return;
  }
  try {
    if (b.size() + n > b.capacity())
      b.reserve(std::min(t->captureLimit, std::max(2 * b.capacity(), b.size() + n)));
    b.insert(b.end(), text, text + n);
  } catch (const std::bad_alloc&) {
    t->captureOverflow = true;
  }
}

void store_syscmd_char(APLTask* t, int ch) {
  const char c = static_cast<char>(ch);
  store_syscmd_chars(t, &c, 1);
}
}  // namespace

// ---- session input and output ----------------------------------------------

int csend(int c) {
  APLTask* t = find_my_task();
  if (!t) return 0;
  if (t->attnEnabled && t->attnPending) return 0;
  if (t->capturing) {
    store_syscmd_char(t, c);
    return 0;
  }
  char ch = static_cast<char>(c);
  t->WriteOutput(&ch, 1);
  return 0;
}

int msgout(const char* text, int length) {
  APLTask* t = find_my_task();
  if (t && t->attnEnabled && t->attnPending) return 0;
  for (int i = 0; i < length; ++i) csend(static_cast<std::uint8_t>(text[i]));
  return 0;
}

int linein(const char** text, int* length, bool* line_typed) {
  *line_typed = false;
  APLTask* t = find_my_task();
  if (!t) {
    *text = "";
    *length = -1;
    return -1;
  }
  t->FlushOutput();
  static thread_local std::string line;
  APLTask::Input got = t->ReadInputLine(line);
  if (got == APLTask::Input::Ended) off();
  *text = line.data();
  *length = static_cast<int>(line.size());
  *line_typed = got == APLTask::Input::Line;
  if (got == APLTask::Input::Interrupted && t->attnEnabled) {
    t->attnPending = false;
    *length = -1;
  }
  return *length;
}

int cget() {
  APLTask* t = find_my_task();
  return t ? t->GetOneKeystroke() : 3;
}

void get_cur_line(const char** text, int* length) {
  APLTask* t = find_my_task();
  *length = 0;
  *text = "";
  if (t) {
    *text = t->currentLine.data();
    *length = static_cast<int>(t->currentLine.size());
  }
}

namespace {
// Sends a host text to the session: a carriage return with a line feed, or
// a line feed alone, ends a line; a lone carriage return ends one only when
// `lone_cr_ends` (otherwise it is dropped).
void send_host_text(const char* text, bool lone_cr_ends) {
  APLTask* t = find_my_task();
  if (!t) return;
  std::string internal;
  for (const char* p = text; *p; ++p) {
    char c = *p;
    if (c == '\r') {
      if (p[1] == '\n') ++p;
      else if (!lone_cr_ends) continue;
      internal.push_back(0x0D);
    } else if (c == '\n') {
      internal.push_back(0x0D);
    } else {
      internal.push_back(static_cast<char>(fontin(static_cast<std::uint8_t>(c))));
    }
  }
  if (t->capturing) {
    store_syscmd_chars(t, internal.data(), internal.size());
    return;
  }
  t->WriteOutput(internal.data(), internal.size());
}
}  // namespace

void APLTask::ASCIILineSend(const char* text) { send_host_text(text, false); }

int APLTask::QwiEvents(int subcode, int argument, void* result, int room) {
  (void)subcode, (void)argument, (void)result, (void)room;
  return 24;
}

int APLTask::QwiSelf(void* result, int room) { return return_raw_text(result, "", room); }

int APLTask::QwiWindowVisible(const char* name, void* result, int room) {
  (void)name, (void)room;
  return return_boolean_scalar(result, 0);
}

void ascii_line_send(const char* text) {
  if (APLTask* t = find_my_task()) t->ASCIILineSend(text);
}

void line_send(const char* text) {
  APLTask* t = find_my_task();
  if (t && t->attnEnabled && t->attnPending) return;
  send_host_text(text, true);
}

// Session requests go to the calling task; 88 without one.
int cursor_add(int column, int line) {
  APLTask* t = find_my_task();
  if (!t) return 88;
  t->cursorColumn = column;
  t->cursorLine = line;
  t->CursorAdd();
  return t->guiResult;
}
int cursor_x(int column) { return cursor_add(column, -1); }
std::int32_t* get_cursor_add() {
  APLTask* t = find_my_task();
  return t ? t->cursorAddress : nullptr;
}
int quadcc(int code) {
  APLTask* t = find_my_task();
  if (!t) return 88;
  t->requestCode = code;
  t->QuadCC();
  return t->guiResult;
}

void record_syscmd_output() {
  APLTask* t = find_my_task();
  if (!t) return;
  t->captureBuffer.clear();
  t->captureOverflow = false;
  try {
    t->captureBuffer.reserve(std::min<std::size_t>(10000, t->captureLimit));
  } catch (const std::bad_alloc&) {
    return;  // capturing stays off
  }
  t->capturing = true;
}

void kill_syscmd_output() {
  APLTask* t = find_my_task();
  if (!t) return;
  t->captureBuffer.clear();
  t->captureBuffer.shrink_to_fit();
  t->capturing = false;
  t->captureOverflow = false;
}

int get_syscmd_output_len() {
  APLTask* t = find_my_task();
  if (!t || !t->capturing) return -1;
  // A capture that went past the limit answers one more than the limit:
  // no array of that length fits in the workspace (WS FULL).
  if (t->captureOverflow) return static_cast<int>(std::min<std::size_t>(t->captureLimit + 1, INT_MAX));
  return static_cast<int>(t->captureBuffer.size());
}

int copy_syscmd_output(char* destination) {
  APLTask* t = find_my_task();
  if (!t || !t->capturing) return 28;
  if (!t->captureBuffer.empty()) std::memcpy(destination, t->captureBuffer.data(), t->captureBuffer.size());
  return 0;
}

// ---- attention and task life ------------------------------------------------

int check_event_attention() {
  APLTask* t = find_my_task();
  if (!t) return 0;
  t->CheckFrontEndAttention();
  if (!t->attnPending) return 0;
  if (t->attnEnabled) {
    t->FlushOutput();
    t->noEcho = false;
    t->attnPending = false;
  }
  return 1;
}

void set_attention(int on) {
  APLTask* t = find_my_task();
  if (!t) return;
  t->attnEnabled = on != 0;
  if (!on) t->attnPending = false;
}

void off() {
  if (APLTask* t = find_my_task()) t->EndAPLTask();
  throw TaskEnded{0};
}

void tidy_on_clear() {
  // The sequential file is the one host resource a clear releases.
  ServerSideTaskVars* v = get_server_side_task_vars();
  if (v->seq_fd >= 0) {
    ::close(v->seq_fd);
    v->seq_fd = -1;
  }
}

// The console has no debugger: a stop is reported as not shown.
int function_stopped(std::uint32_t symbol, int line, int reason, const void* message) {
  if (!find_my_task()) return 0;
  return reason == 1 ? 2 : 0;
}

void new_wsid() {}

void latent_expression_starting(std::uint32_t error_message) {
  if (APLTask* t = find_my_task()) t->LatentExpressionStarting(error_message);
}

int user_load() { return find_my_task() ? count_apl_tasks() : 0; }

std::uint32_t change_ws_size(std::uint32_t bytes, std::uint8_t** new_ws) {
  APLTask* t = find_my_task();
  if (!t) return 0;
  if (bytes < 204800) bytes = 204800;
  std::uint32_t size = t->ReAllocateTaskMemory(bytes, new_ws);
  if (size == 0) return 0;  // refused: the task keeps its block
  char text[64];
  if (size < 1048576u)
    std::snprintf(text, sizeof text, "WS Size = %uKB\r\n", size / 1024);
  else if (size < 104857600u)
    std::snprintf(text, sizeof text, "WS Size = %1.1fMB\r\n", size / 1048576.0);
  else
    std::snprintf(text, sizeof text, "WS Size = %uMB\r\n", size / 1048576);
  line_send(text);
  return size + 10000;
}

// No full-screen editor without a window.
int start_fse(const char* name, int line_word, int mode) { return find_my_task() ? 24 : 88; }

// ---- task records -----------------------------------------------------------

ServerSideTaskVars* get_server_side_task_vars() {
  APLTask* t = find_my_task();
  return t ? &t->hostVars : &gui_server_globals;
}

const NamesRecord& get_names() {
  APLTask* t = find_my_task();
  return t ? t->names : kNoNames;
}

const PrefsRecord& get_prefs() {
  APLTask* t = find_my_task();
  return t ? t->prefs : kNoPrefs;
}

char* keep(const char* text) {
  char* copy = ::strdup(text);
  if (!copy) {
    std::fputs("Out of memory - keep\n", stderr);
    std::exit(-1);
  }
  return copy;
}

// ---- errors of the host -----------------------------------------------------

std::string error_text(int host_error) {
  if (host_error == 0) return utf8_to_internal("No error message available");
  char buf[256];
  const char* msg = ::strerror_r(host_error, buf, sizeof buf);
  if (!msg || !*msg) return utf8_to_internal("File access error");
  std::string s(msg);
  while (!s.empty() && (s.back() == '\n' || s.back() == '\r')) s.pop_back();
  if (s.size() > 255) s.resize(255);
  return utf8_to_internal(s);
}

int latest_error() { return get_server_side_task_vars()->last_errno; }

// ---- libraries ----------------------------------------------------------------

std::string installation_directory() {
  char exe[4096];
  ssize_t n = ::readlink("/proc/self/exe", exe, sizeof exe - 1);
  if (n > 0) {
    std::string dir(exe, static_cast<std::size_t>(n));
    dir.erase(dir.find_last_of('/') + 1);
    if (dir.size() >= 4 && dir.compare(dir.size() - 4, 4, "bin/") == 0) return dir.substr(0, dir.size() - 4);
  }
  return "/usr/local/zema/";
}

void* host_load_library(const char* name) {
  std::string n(name);
  std::string path;
  if (n.size() >= 3 && n.compare(n.size() - 3, 3, ".so") == 0)
    path = n;
  else
    path = installation_directory() + "bin/" + n + ".so";
  return ::dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
}

void* host_find_routine(void* handle, const char* entry) { return handle ? ::dlsym(handle, entry) : nullptr; }

int host_unload_library(void* handle) {
  if (handle) ::dlclose(handle);
  return 0;
}

// ---- ⎕WI: requests handed to the calling task's object system -----------------

int qwi_get_property(const char* property, const char* object, const char* path, void* result, int room) {
  if (room < 256) return 4;
  return_empty_matrix(result);
  APLTask* t = find_my_task();
  if (!t) return 88;
  t->resultBuffer = result;
  t->resultSize = room;
  t->propertyName = property;
  t->objectTop = object;
  t->objectPath = path;
  t->QwiGetProperty();
  return t->guiResult;
}

int qwi_set_property(const char* property, const char* object, const char* path, const void* value) {
  APLTask* t = find_my_task();
  if (!t) return 88;
  t->requestValue = value;
  t->propertyName = property;
  t->objectTop = object;
  t->objectPath = path;
  t->QwiSetProperty();
  return t->guiResult;
}

// ---- shared variables: no processor is served by the console ---------------------

int svar_offer(int processor, std::uint32_t* handle, const char* name) {
  *handle = 0x80000000u;
  return 1;
}
int svar_retract(int processor, std::uint32_t handle) { return 2; }
int svar_referenced(int processor, std::uint32_t handle, void* result, int room) { return 28; }
int svar_specified(int processor, std::uint32_t handle, const void* value) { return 28; }

// ---- time and floating point -------------------------------------------------

std::uint32_t get_cpu_time() {
  return static_cast<std::uint32_t>(std::clock() / (CLOCKS_PER_SEC / 1000));
}

int sleep_a_while(int ms) {
  if (ms <= 0) return 0;
  int slept = std::min(ms, 100);
  std::this_thread::sleep_for(std::chrono::milliseconds(slept));
  return slept;
}

// The interpreter asks for all exceptions masked and round to nearest; on
// x86-64 doubles are computed in SSE registers, where that is the default.
void _control87(unsigned word, unsigned mask) {
  if ((word & mask & 0x0C00) == 0) ::fesetround(FE_TONEAREST);
}

// ---- hard copy: the console has no printer -------------------------------------

namespace {
std::atomic<QuadHCHandler> quadhc_handler{nullptr};
}  // namespace

void set_quadhc_handler(QuadHCHandler handler) { quadhc_handler.store(handler); }

int quadhc(int code) {
  if (QuadHCHandler handler = quadhc_handler.load()) return handler(code);
  APLTask* t = find_my_task();
  if (!t) return 1;
  t->FlushOutput();
  switch (code) {
    case 0: t->hardCopyMode = 0; return 0;
    case 1:
    case -1: return 7;  // no printer to open
    case 99: return t->hardCopyMode;
    case 1000:
    case -1000: return 6;  // printing is not open
    default: return 1;
  }
}

}  // namespace zema
