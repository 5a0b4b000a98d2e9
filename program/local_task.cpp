#include "program/local_task.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>

#include "files/packaged.h"
#include "host/charset.h"
#include "interpreter/engine/call.h"
#include "interpreter/session/life.h"
#include "interpreter/sysfns/class_access.h"
#include "interpreter/workspace/arrays.h"
#include "interpreter/workspace/symtab.h"
#include "interpreter/workspace/sysvar_slots.h"
#include "interpreter/workspace/workspace.h"
#include "platform/message_box.h"
#include "platform/synchronize.h"
#include "windows/shell.h"
#include "wi/qwi_system.h"
#include "wi/requests.h"

#include <QCoreApplication>
#include <QEventLoop>

namespace zema {

namespace {

constexpr std::size_t kStopMessageMax = 299;

// Display-code output to UTF-8 lines.
std::string display_to_utf8(std::string_view chunk) {
  std::string internal, text;
  for (char c : chunk) {
    if (c == 13 || c == 10) {
      text += internal_to_utf8(internal) + "\n";
      internal.clear();
    } else {
      internal.push_back(static_cast<char>(fontin(static_cast<std::uint8_t>(c))));
    }
  }
  return text + internal_to_utf8(internal);
}

// The characters of a simple character vector object, or "".
std::string char_vector(std::uint32_t a, Ws ws) {
  if (!a || array_type(a, ws) != ET_CHAR) return {};
  return std::string(reinterpret_cast<const char*>(ws + array_data(a, ws)), array_count(a, ws));
}

// The title of the stop report made when the application is back in
// immediate execution: about the newest suspended function, "Stopped at
// NAME line number N", passing over ⎕-input levels and levels of ⍎ text;
// "Stopped in Execute" when there is no function.
std::string stop_title(Ws ws) {
  std::uint16_t token = rd16(ws, hdr::RunningToken);
  std::int32_t line = rdi32(ws, hdr::FnLineNumber);
  bool skip = true;
  for (std::uint32_t link = rd32(ws, hdr::SiLink); skip && link && rd32(ws, link) != 0; link = rd32(ws, link)) {
    const std::uint32_t frame = link - siframe::Link;
    token = rd16(ws, frame + siframe::RunningToken);
    line = rdi32(ws, frame + siframe::LineNumber);
    skip = (rd16(ws, frame + siframe::State) & st::ValueAwaited) || token == 0;
  }
  if (token == 0) return "Stopped in Execute";
  return "Stopped at " + internal_to_utf8(symbol_name(entry_of_token(token), ws)) + " line number " +
         std::to_string(line);
}

}  // namespace

LocalTask::LocalTask(Front front, BlockAllocator allocate)
    : front_(std::move(front)), allocate_(std::move(allocate)), out_([this](std::string_view chunk) {
        if (serving_) {
          // The GUI thread waits for the work that made this output: it
          // goes with the next output.
          deferred_.append(chunk);
          return;
        }
        std::string text;
        if (!deferred_.empty()) {
          text.swap(deferred_);
          text.append(chunk);
          chunk = text;
        }
        // Handed over without waiting: the window takes it in order with
        // the task's other GUI steps.
        Post([this, text = std::string(chunk), overwrite = overwrite_] {
          if (front_.session_text) front_.session_text(text, overwrite);
          if (front_.session_output) front_.session_output(display_to_utf8(text));
        });
      }) {}

LocalTask::~LocalTask() {
  if (thread_.joinable()) thread_.join();
  std::free(block_.block);
  std::free(oldBlock_);
}

bool LocalTask::AllocateTaskMemory(double bytes) {
  if (block_.block) return true;
  block_ = allocate_task_block(bytes, allocate_);
  if (block_.block) captureLimit = block_.size - 10000;
  return block_.block != nullptr;
}

void LocalTask::Start() { thread_ = std::thread([this] { Body(); }); }

void LocalTask::Join() {
  if (thread_.joinable()) thread_.join();
}

void LocalTask::Body() {
  set_current_apl_task(this);
  int status = 1;
  try {
    if (front_.set_up_tables) {
      if (const char* missing = front_.set_up_tables()) {
        ShowMessageBox(std::string("Out of memory - ") + missing, "ZEMA Error", 16);
        exitStatus = 1;
        EndAPLTask();
      }
    }
    // Started as the package's task: no CLEAR WS before the load.
    HoldWorkspace();
    apl(block_.block + 128, block_.size - 128, "pack", &wsBase, 0);
  } catch (const TaskEnded& e) {
    status = e.status;
  } catch (...) {
    // Whatever else escapes ends the task, and with it the program,
    // rather than leave the program running without it.
    status = 1;
  }
  if (!closedDown_) Gui([this] { CloseDownTaskGUI(); });
  ReleaseWorkspace();
  set_current_apl_task(nullptr);
  Gui([&] {
    if (front_.ended) front_.ended(status);
  });
}

void LocalTask::Gui(const std::function<void()>& step) {
  synchronize([&] {
    const std::thread::id outer = stepThread_.exchange(std::this_thread::get_id());
    struct Restore {
      std::atomic<std::thread::id>& at;
      std::thread::id id;
      ~Restore() { at = id; }
    } restore{stepThread_, outer};
    step();
  });
}

void LocalTask::Post(std::function<void()> step) {
  if (on_gui_thread()) {
    step();
    return;
  }
  postRoom_.acquire();
  QMetaObject::invokeMethod(
      QCoreApplication::instance(),
      [this, step = std::move(step)] {
        // A step of this task, as for Gui: class routines called from it
        // are refused rather than wait for the running task.
        const std::thread::id outer = stepThread_.exchange(std::this_thread::get_id());
        step();
        stepThread_ = outer;
        postRoom_.release();
      },
      Qt::QueuedConnection);
}

void LocalTask::HoldWorkspace() {
  if (holdsWorkspace_) return;
  class_access::class_access_mutex().lock();
  holdsWorkspace_ = true;
}

void LocalTask::ReleaseWorkspace() {
  if (!holdsWorkspace_) return;
  holdsWorkspace_ = false;
  class_access::class_access_mutex().unlock();
}

bool LocalTask::WithClassAccess(const std::function<void(std::uint8_t*)>& work) {
  if (find_my_task() == this) {
    work(wsBase);
    return true;
  }
  if (stepThread_.load() == std::this_thread::get_id()) return false;
  std::recursive_mutex& m = class_access::class_access_mutex();
  while (!m.try_lock()) {
    if (closedDown_) return false;
    // The task runs: its GUI steps are run here while it does, and the
    // lock is tried again shortly.
    if (QCoreApplication::instance() && on_gui_thread())
      QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents);
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  std::lock_guard<std::recursive_mutex> held(m, std::adopt_lock);
  if (closedDown_ || !wsBase) return false;
  work(wsBase);
  return true;
}

void LocalTask::CloseDownTaskGUI() {
  // The task's windows close with it (their close asks nothing now).
  ending = true;
  if (system) {
    // The queue first, so that no record holds a callback of an object
    // being deleted; then the tree, then the System object itself.
    system->ClearEventQueue();
    system->DeleteYourself();
    delete system;
    system = nullptr;
  }
  if (front_.closing) front_.closing();
  if (shell) shell->CloseAllWindows();
  unlink_apl_task(this);
  closedDown_ = true;
}

bool LocalTask::ExecuteInputLine(const std::string& line) {
  // Only a waiting task takes a line: one line per wait, so that a line is
  // never overwritten before it is read.
  bool waiting = true;
  if (!awaitingInput_.compare_exchange_strong(waiting, false)) return false;
  inputLine_ = line;
  input_.release();
  return true;
}

void LocalTask::Interrupt() {
  attnPending = true;
  bool waiting = true;
  if (attnEnabled && awaitingInput_.compare_exchange_strong(waiting, false)) {
    inputLine_.clear();
    input_.release();
  }
}

void LocalTask::RequestQuit() {
  quitRequested = true;
  bool waiting = true;
  if (awaitingInput_.compare_exchange_strong(waiting, false)) input_.release();
}

bool LocalTask::InWorkspace(const std::function<void(std::uint8_t*)>& work) {
  if (find_my_task() == this) {
    work(wsBase);
    return true;
  }
  std::lock_guard<std::mutex> lock(jobLock_);
  // Taking the wait as ExecuteInputLine does: no line can be handed over
  // while the work runs.
  bool waiting = true;
  if (!awaitingInput_.compare_exchange_strong(waiting, false)) return false;
  job_ = &work;
  input_.release();
  jobDone_.acquire();
  awaitingInput_ = true;
  return true;
}

void LocalTask::WriteOutput(const char* text, std::size_t n) {
  const int pw = wsBase ? static_cast<int>(rdi32(wsBase, sysvar_value_word(sysvar::PW))) : prefs.pw;
  for (std::size_t i = 0; i < n; ++i) {
    const auto c = static_cast<std::uint8_t>(text[i]);
    if ((c & 0x7F) == 0x0A) {
      // Cursor down: a new line, on which the output goes on in the same
      // column (the caret under an error's line).
      out_.Flush();
      const int column = out_.Column();
      out_.Put(13, pw);
      for (int k = 0; k < column; ++k) out_.Put(' ', pw);
      continue;
    }
    if (c == 0x0D) {
      out_.Put(13, pw);
      continue;
    }
    const int f = fontout(c);
    if (f == 8) {
      // Backspace: the cursor one column left, a request of its own.
      FlushOutput();
      if (!noEcho) {
        requestCode = 6;
        QuadCC();
      }
      continue;
    }
    if (c == 0x87) {
      FlushOutput();
      requestCode = 35;  // the bell
      QuadCC();
      continue;
    }
    // Any other control code is shown as a blank, the display code of a
    // carriage return (internal 0x8D) too: only code 0x0D ends a line.
    out_.Put(f == 13 ? ' ' : f, pw);
  }
}

void LocalTask::QuadCC() {
  guiResult = 0;
  if (!front_.window) return;
  FlushOutput();
  Gui([&] {
    if (front_.quad_cc) front_.quad_cc(requestCode);
    guiResult = 0;
  });
}

void LocalTask::CursorAdd() {
  guiResult = 0;
  if (!front_.window) return;
  FlushOutput();
  Gui([&] {
    if (front_.cursor) front_.cursor(std::min(cursorColumn, 254), cursorLine);
    guiResult = 0;
  });
}

void LocalTask::FlushOutput() {
  if (front_.session_output || front_.session_text)
    out_.Flush();
  else
    out_.Discard();
}

void LocalTask::CheckFrontEndAttention() {
  if (tick_.exchange(false)) FlushOutput();
}

int LocalTask::GetOneKeystroke() {
  if (!front_.window || !front_.keystroke) return 3;
  FlushOutput();
  const int key = front_.keystroke();
  // Asked to quit while it waited for the key: the task ends now.
  if (quitRequested) EndAPLTask();
  return key;
}

void LocalTask::ASCIILineSend(const char* text) {
  if (!front_.window) return;
  FlushOutput();
  const int hard_copy = hardCopyMode;
  hardCopyMode = 0;
  overwrite_ = true;
  APLTask::ASCIILineSend(text);
  FlushOutput();
  overwrite_ = false;
  hardCopyMode = hard_copy;
}

void LocalTask::SetErrorColour(bool on) {
  if (!front_.error_colour) return;
  // The output before the change keeps the old colour.
  FlushOutput();
  Post([this, on] { front_.error_colour(on); });
}

bool LocalTask::ApplicationFailed(std::string* message) const {
  Ws ws = wsBase;
  if (!ws) return false;
  const std::uint32_t si = rd32(ws, hdr::SiLink);
  const bool suspended = si && rd32(ws, si) != 0;
  const std::uint32_t m = rd32(ws, hdr::ErrorMessage);
  if (!suspended && (m == 0 || m == errorBeforeLx_)) return false;
  // The box shows at most 299 characters of the message.
  std::string text = char_vector(m, ws).substr(0, kStopMessageMax);
  for (char& c : text)
    if (c == 0x0D) c = '\n';
  *message = internal_to_utf8(text);
  while (!message->empty() && (message->back() == '\n' || message->back() == ' ')) message->pop_back();
  return true;
}

void LocalTask::Prologue(std::string* line, bool* give_line) {
  Ws ws = wsBase;
  // A ⎕WI window the interpreter asked to open shows before the wait.
  if (system) system->OpenPendingWindow();
  if (firstInput_ && first_apl_task() == this) {
    // The start-up load of the first task: the package's image, served
    // as workspace "pack"; its latent expression runs inside the load.
    firstInput_ = false;
    loadSent_ = true;
    *line = utf8_to_internal(")SLOAD pack");
    set_startup_load_pending(true);
    *give_line = true;
    return;
  }
  firstInput_ = false;
  if (loadSent_) {
    loadSent_ = false;
    set_startup_load_pending(false);
    const std::string pack = utf8_to_internal("pack");
    const bool loaded = ws && rd8(ws, hdr::SaveName) == pack.size() &&
                        std::memcmp(ws + hdr::SaveName + 1, pack.data(), pack.size()) == 0;
    if (!loaded) {
      // The package could not be loaded (the interpreter said why).
      exitStatus = 1;
      quitRequested = true;
      return;
    }
  }
  if (!front_.window) return;  // a task without a window is given lines
  // ⍞ and ⎕ input: the session window shows (if it has not yet) and the
  // user's line answers it.
  if (ws && state_has(st::QuoteQuadInput | st::ValueAwaited, ws)) {
    asking_ = true;
    return;
  }
  // An immediate-execution line: the application has finished (or
  // stopped).
  std::string message;
  if (ApplicationFailed(&message)) report_application_error(this, message, stop_title(ws));
  quitRequested = true;
}

APLTask::Input LocalTask::ReadInputLine(std::string& line) {
  stepMode = 0;
  FlushOutput();
  std::string given;
  bool give = false;
  Gui([&] { Prologue(&given, &give); });
  if (give) {
    line = given;
    return Input::Line;
  }
  if (quitRequested) EndAPLTask();
  // Only now does the thread wait: a line or a piece of work handed over
  // from here on is taken, and the class routines may read the workspace.
  awaitingInput_ = true;
  ReleaseWorkspace();
  if (asking_) {
    // The window hears of the request once the line can be taken, so that
    // keys typed ahead and replayed by it reach this wait.
    asking_ = false;
    QMetaObject::invokeMethod(
        QCoreApplication::instance(),
        [this] {
          if (awaitingInput_ && front_.line_requested) front_.line_requested();
        },
        Qt::QueuedConnection);
  }
  for (;;) {
    input_.acquire();
    if (!job_) break;
    // Work on the workspace for the front end, while the interpreter waits.
    // It runs under the class-access lock: taken here, or already held by
    // the caller, who waits for the work.
    serving_ = true;
    const bool locked = class_access::class_access_mutex().try_lock();
    try {
      (*job_)(wsBase);
    } catch (...) {
      // The work answers its own failures; nothing may unwind the wait.
    }
    if (locked) class_access::class_access_mutex().unlock();
    out_.Flush();
    serving_ = false;
    job_ = nullptr;
    jobDone_.release();
  }
  HoldWorkspace();
  if (quitRequested) EndAPLTask();
  Gui([this] {
    if (front_.line_taken) front_.line_taken();
    // A modal ⎕WI window is brought back after each line.
    if (system && system->modal_window()) {
      if (shell) shell->BroadcastMsg(0xffff, 301, 0, nullptr);
      bring_back_modal_window(*this);
    }
  });
  if (attnEnabled && attnPending) return Input::Interrupted;
  line = inputLine_;
  return Input::Line;
}

std::uint32_t LocalTask::ReAllocateTaskMemory(std::uint32_t bytes, std::uint8_t** new_ws) {
  // The new block is had before the old one is given up: a refusal leaves
  // the task as it was (WS FULL).
  TaskBlock fresh = reallocate_task_block(bytes, allocate_);
  if (!fresh.block) return 0;
  std::memcpy(fresh.block + 128, block_.block + 128, kLowGlobalsSize);
  // The interpreter still runs on the old block while it switches over.
  std::free(oldBlock_);
  oldBlock_ = block_.block;
  block_ = fresh;
  *new_ws = fresh.block + 128 + kLowGlobalsSize;
  wsBase = *new_ws;
  captureLimit = fresh.size - 10000;
  return fresh.size - 10000;
}

void LocalTask::EndAPLTask() {
  if (!ending) {
    ending = true;
    FlushOutput();
    Gui([this] { CloseDownTaskGUI(); });
  }
  throw TaskEnded{exitStatus};
}

void LocalTask::QwiGetProperty() { qwi_get_property_request(*this); }

void LocalTask::QwiSetProperty() { qwi_set_property_request(*this); }

int LocalTask::QwiEvents(int subcode, int argument, void* result, int room) {
  const int rc = system ? system->r1000_events(subcode, argument, result, room)
                        : APLTask::QwiEvents(subcode, argument, result, room);
  // Asked to quit (Exit, the session window closed) while the application
  // waits for events: the task ends rather than wait on.
  if (quitRequested) EndAPLTask();
  return rc;
}

int LocalTask::QwiSelf(void* result, int room) {
  return system ? system->qwself_read(result, room) : APLTask::QwiSelf(result, room);
}

int LocalTask::QwiWindowVisible(const char* name, void* result, int room) {
  return system ? system->check_visible_window(name, result, room) : APLTask::QwiWindowVisible(name, result, room);
}

void report_application_error(LocalTask* task, const std::string& message, const std::string& title) {
  if (message.empty())
    ShowMessageBox(title, "Application error (breakpoint hit)", 16);
  else
    ShowMessageBox(message, "Application error", 16);
  task->exitStatus = 1;
  task->quitRequested = true;
}

}  // namespace zema
