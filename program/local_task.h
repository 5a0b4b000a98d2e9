// The task whose thread runs the interpreter inside this process. Output
// is buffered on the task thread and handed to the GUI thread; input lines
// come from the GUI thread through a semaphore. The first input request of
// the first task loads the package ()SLOAD pack, which runs its latent
// expression); after that, a task with a session window that asks for an
// immediate-execution line ends (the application has finished).
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
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
  // GUI thread: hands an input line (cut to 2047 bytes) to a task that
  // waits for one; false, the line dropped, when it does not wait (yet).
  bool ExecuteInputLine(const std::string& line);
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
  bool IsAwaitingInput() const { return awaitingInput_; }
  // Set by the attention tick (any thread): the next poll flushes output.
  void Tick() { tick_ = true; }

  void WriteOutput(const char* text, std::size_t n) override;
  void FlushOutput() override;
  int QuadCC(int code) override;
  int CursorAdd(int column, int line) override;
  Input ReadInputLine(std::string& line) override;
  int GetOneKeystroke() override;
  void CheckFrontEndAttention() override;
  std::uint32_t ReAllocateTaskMemory(std::uint32_t bytes, std::uint8_t** new_ws) override;
  void LatentExpressionStarting(std::uint32_t error_message) override { errorBeforeLx_ = error_message; }
  // Ends the task once: its GUI step (CloseDownTaskGUI) takes it out of
  // the task list; throws TaskEnded with exitStatus.
  [[noreturn]] void EndAPLTask() override;

  // Set when a stop or error report ended the application: every task
  // quits at its next input request, with status 1.
  std::atomic<bool> quitRequested{false};
  std::atomic<int> stepMode{0};
  int exitStatus = 0;

 private:
  void Body();
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
  std::string inputLine_;
  std::atomic<bool> awaitingInput_{false};
  std::atomic<bool> tick_{false};
  bool firstInput_ = true;          // the next input request is the first
  bool loadSent_ = false;           // the last input line was )SLOAD pack
  bool closedDown_ = false;
  std::atomic<std::uint32_t> errorBeforeLx_{0};  // the error-report word when ⎕LX began
};

// The GUI step of a stop or error in a packaged application: shows
// "Application error" with `message` (error icon) and makes every task quit.
void report_application_error(LocalTask* task, const std::string& message);

}  // namespace zema
