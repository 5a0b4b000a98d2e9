// The task whose thread runs the interpreter inside this process. Output
// is buffered on the task thread and handed to the GUI thread; input lines
// come from the GUI thread through a semaphore. The first input request of
// the first task loads the package ()SLOAD pack, which runs its latent
// expression); after that, a task with a session window that asks for an
// immediate-execution line ends (the application has finished), and one
// that asks for ⍞ or ⎕ input shows its window and waits for the line.
// Around each wait for a line, a ⎕WI window waiting to be shown is shown
// (before) and a modal ⎕WI window is brought back (after).
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <mutex>
#include <semaphore>
#include <string>
#include <thread>

#include "host/output_buffer.h"
#include "host/task.h"
#include "host/task_memory.h"

namespace zema {

class LocalTask : public APLTask {
 public:
  // The GUI side: where flushed output goes (UTF-8, lines ended by "\n";
  // null: discarded, as for a task without a session window) and what is
  // done when the task has ended (on the GUI thread, with the exit status).
  struct Front {
    std::function<void(const std::string&)> session_output;
    // The same output as display-font characters, lines ended by "\r" (the
    // session window's text), on the GUI thread. Either sink keeps output
    // flowing; with neither it is discarded.
    // `overwrite`: the text is written over the current line from the
    // caret (a ⎕CC line), not added at the end.
    std::function<void(const std::string& text, bool overwrite)> session_text;
    // GUI thread: a ⍞ or ⎕ input request, once the task waits for the
    // line (queued: the task may have been given its line, or ended, by
    // then, and the call is left out); and every line taken, before the
    // interpreter runs it.
    std::function<void()> line_requested;
    std::function<void()> line_taken;
    // GUI thread: the task ends, just before its windows close.
    std::function<void()> closing;
    // GUI thread, in order with the output: the interpreter's messages
    // start (true) and end (false) in the error colour. Null: no colours.
    std::function<void(bool on)> error_colour;
    // Task thread: waits for one typed key (internal code; 0 when an
    // attention came first). Null: no keys (3).
    std::function<int()> keystroke;
    std::function<void(int status)> ended;
    // ⎕CC requests (code: 6 cursor left, 35 beep, ...) and cursor moves
    // (line −1: the current line; column at most 254), handed over as data
    // on the GUI thread after the output written before them. Null: none
    // taken. Only a task with a window makes them.
    std::function<void(int code)> quad_cc;
    std::function<void(int column, int line)> cursor;
    // The task has a session window (hidden until the application asks
    // for input): the packaged-mode quit rule applies to it.
    bool window = true;
    // Sets up the task's host tables before the interpreter starts;
    // answers null, or what could not be had ("Could not get memory for
    // ..."), which ends the task with status 1. Null: nothing to set up.
    std::function<const char*()> set_up_tables;
  };

  explicit LocalTask(Front front, BlockAllocator allocate = default_block_allocator());
  ~LocalTask() override;

  // The workspace block (GUI thread, before Start): false when no block
  // above 51,200 bytes could be had.
  bool AllocateTaskMemory(double bytes);
  double GetTaskSize() const { return block_.size ? double(block_.size) - 10000 : -10000; }
  // Starts the thread, which runs the interpreter until the task ends.
  void Start();
  // Waits for the thread to end (after `ended` ran).
  void Join();
  // GUI thread: hands an input line (internal characters, whole) to a
  // task that waits for one; false, the line dropped, when it does not
  // wait (yet).
  bool ExecuteInputLine(const std::string& line);
  // Any thread: asks the task to quit; a task waiting for input is woken
  // and ends, one that runs ends at its next input request.
  void RequestQuit();
  // Any thread: an attention (Ctrl+. in the session window); a task
  // waiting for input is woken and its wait answers no line.
  void Interrupt();
  // Stops cannot be set in a packaged application: 84 (FILE LOCKED),
  // nothing changed.
  int SetStop(const std::string& name, int line, bool on) const {
    (void)name, (void)line, (void)on;
    return 84;
  }
  // Stepping asked for by the front end (0 run, 1 step, 2 step in, 3 step
  // out); every input request sets it back to 0.
  void SetStepMode(int mode) { stepMode = mode; }
  // The number of tasks in the task list.
  int CountTasks() const { return count_apl_tasks(); }
  // The task's ended (EndAPLTask has run its GUI step and left the list).
  bool HasEnded() const { return closedDown_; }
  bool IsAwaitingInput() const override { return awaitingInput_; }
  // Set by the attention tick (any thread): the next poll flushes output.
  void Tick() { tick_ = true; }

  // ---- the workspace for the front end (program/workspace_access.cpp) ----
  // Any thread but the task's: runs `work` on the task thread while the
  // task waits for an input line, and returns when it has run. The caller
  // is held until then, so the workspace is only ever touched by the task
  // thread. Session output made by `work` is delivered after it. False,
  // `work` not run, when the task does not wait for input (it runs, or
  // has ended). On the task thread itself `work` runs at once.
  bool InWorkspace(const std::function<void(std::uint8_t* ws)>& work);
  // The answers below come through InWorkspace; a task that is not
  // waiting for input answers as with no workspace (state 0, ⎕PW 80, ⎕IO
  // 0, SetQuadPW does nothing) or, where an ErrorCode is answered, 68.
  // Names and texts are UTF-8; the lines of a text are separated by "\n".
  int GetWSState() override;
  int GetQuadPW() override;
  // The workspace's name without directory and ".aws", display-font
  // characters ("CLEAR WS" when the task does not wait for input).
  std::string GetWSName() override;
  void SetQuadPW(int pw) override;  // only a width ⎕PW takes (40..390)
  int GetQuadIO();
  // The text of the object `name` for an editor: kind 1 (a character
  // matrix variable) with the name and its rows (trailing blanks removed)
  // in `text`; kind 0 and an empty text for a name with no value (a new
  // function); −1 and no text for an invalid name, a function (its text is
  // withheld in a packaged application), any other value, or a task not
  // waiting for input.
  int GetObject(const std::string& name, std::string* text);
  // Stores an edited text: kind 1 makes the lines of `text` a character
  // matrix (as wide as the longest line, padded with blanks) assigned to
  // `name`. Answers an ErrorCode: 24 for kind 0 (a packaged application
  // fixes no functions; nothing changed), 112 while a ∇ definition is
  // open, 12 for another kind or an invalid name, 20 for an empty text,
  // 8 when the name has a value other than a variable, 4 when the matrix
  // does not fit, 108 when the symbol table is full, 68 when the task does
  // not wait for input.
  int PutObject(const std::string& name, int kind, const std::string& text);
  // The stop marks of the function `name`: `lines[i]` for line i (1 the
  // first line after the header; `lines[0]` is cleared). Answers 0; 40 for
  // a name not in the symbol table, 12 for one that names no defined
  // function, 84 for a locked function, 20 when the function has `n` or
  // more lines (the flags below n are set), 68 when the task does not
  // wait for input.
  int GetStopLines(const std::string& name, bool* lines, int n);

  // ---- the class routines (interpreter/sysfns/class_access.h) ----
  // The task thread holds class_access_mutex() while the interpreter runs
  // and gives it up only while it waits for an input line, so that whoever
  // holds it sees the workspace at rest. GUI thread (or any thread but the
  // task's): runs `work` with the lock held and the task's workspace base
  // once the task waits for input; meanwhile the task's GUI steps go on
  // (queued calls are run here, user input is not), so a task that hands
  // output to the GUI thread is not left waiting. On the task thread
  // `work` runs at once. False, `work` not run, when the task has ended,
  // or when called inside one of the task's own GUI steps (the task holds
  // the lock and waits for that step). Class routines called from the GUI
  // thread go through here: called bare while the task runs, they would
  // hold the GUI thread the task waits on.
  bool WithClassAccess(const std::function<void(std::uint8_t* ws)>& work);

  void WriteOutput(const char* text, std::size_t n) override;
  void FlushOutput() override;
  // ⎕CC and cursor requests, from the request fields; the GUI step hands
  // them to the front as data and answers 0.
  void QuadCC() override;
  void CursorAdd() override;
  // ⎕WI: the requests of wi/requests.h on the task's System object
  // (`system`, made by start-up on the GUI thread; a task without one
  // answers as for a missing object). The event reads, ⎕WSELF and the
  // visibility question go to the System object's readers; without one
  // they answer as the base does.
  void QwiGetProperty() override;
  void QwiSetProperty() override;
  int QwiEvents(int subcode, int argument, void* result, int room) override;
  int QwiSelf(void* result, int room) override;
  int QwiWindowVisible(const char* name, void* result, int room) override;
  Input ReadInputLine(std::string& line) override;
  int GetOneKeystroke() override;
  void SetErrorColour(bool on) override;
  void ASCIILineSend(const char* text) override;
  void CheckFrontEndAttention() override;
  std::uint32_t ReAllocateTaskMemory(std::uint32_t bytes, std::uint8_t** new_ws) override;
  void LatentExpressionStarting(std::uint32_t error_message) override { errorBeforeLx_ = error_message; }
  // Ends the task once: its GUI step (CloseDownTaskGUI: empties the ⎕WI
  // event queue, deletes the ⎕WI tree and the System object, closes the
  // windows) takes it out of the task list; throws TaskEnded with
  // exitStatus.
  [[noreturn]] void EndAPLTask() override;

  // Set when a stop or error report ended the application: every task
  // quits at its next input request, with status 1.
  std::atomic<bool> quitRequested{false};
  std::atomic<int> stepMode{0};
  int exitStatus = 0;

 private:
  void Body();
  // Runs `step` on the GUI thread (synchronize), marking the thread that
  // runs it as inside a step of this task.
  void Gui(const std::function<void()>& step);
  // Runs `step` on the GUI thread without waiting for it, after every step
  // handed over before it; at most kPostedMax posted steps are outstanding
  // (the task waits for room), so output cannot run ahead of its window
  // without bound. On the GUI thread, or without an application, it runs
  // at once.
  void Post(std::function<void()> step);
  static constexpr int kPostedMax = 64;
  // Task thread: takes and gives up the class-access lock (once).
  void HoldWorkspace();
  void ReleaseWorkspace();
  void Prologue(std::string* line, bool* give_line);
  void CloseDownTaskGUI();
  bool ApplicationFailed(std::string* message) const;

  Front front_;
  BlockAllocator allocate_;
  TaskBlock block_;
  std::uint8_t* oldBlock_ = nullptr;
  OutputBuffer out_;
  std::thread thread_;
  std::binary_semaphore input_{0};
  std::counting_semaphore<kPostedMax> postRoom_{kPostedMax};
  std::string inputLine_;
  std::atomic<bool> awaitingInput_{false};
  std::atomic<bool> tick_{false};
  bool firstInput_ = true;          // the next input request is the first
  bool loadSent_ = false;           // the last input line was )SLOAD pack
  bool overwrite_ = false;          // output flushed now is a ⎕CC line (task thread)
  bool asking_ = false;             // the request is ⍞ or ⎕ input (task thread)
  // InWorkspace's hand-over: the work for the waiting task thread (one at
  // a time, under jobLock_), its end posted on jobDone_; while it runs the
  // output is kept in deferred_ instead of going to the blocked caller.
  std::mutex jobLock_;
  const std::function<void(std::uint8_t*)>* job_ = nullptr;
  std::binary_semaphore jobDone_{0};
  bool serving_ = false;
  std::string deferred_;
  std::atomic<bool> closedDown_{false};
  bool holdsWorkspace_ = false;                    // task thread only
  std::atomic<std::thread::id> stepThread_{};      // the thread inside a GUI step of this task
  std::atomic<std::uint32_t> errorBeforeLx_{0};  // the error-report word when ⎕LX began
};

// The GUI step of a stop or error in a packaged application: shows
// `message` under "Application error", or without a message the stop's
// `title` ("Stopped at NAME line number N") under "Application error
// (breakpoint hit)" (error icon), and makes every task quit with status 1.
void report_application_error(LocalTask* task, const std::string& message, const std::string& title);

}  // namespace zema
