// A cleared workspace in memory of its own, for tests of the interpreter's
// layers below immediate execution.
#pragma once

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "host/charset.h"
#include "host/task.h"
#include "interpreter/entry.h"
#include "interpreter/line.h"
#include "interpreter/sysvars.h"
#include "interpreter/workspace.h"

namespace zema::test {

class TestWorkspace {
 public:
  explicit TestWorkspace(std::uint32_t bytes = 256 * 1024) : memory_(bytes) {
    ws_ = apl_setup(memory_.data(), bytes, "", 1);
    clear_workspace(ws_);
  }
  ~TestWorkspace() { forget_side_state(ws_); }
  TestWorkspace(const TestWorkspace&) = delete;
  TestWorkspace& operator=(const TestWorkspace&) = delete;

  Ws ws() const { return ws_; }

 private:
  std::vector<std::uint8_t> memory_;
  Ws ws_;
};

// A session that keeps what the interpreter prints (internal characters)
// and gives no input. Its workspace can be moved to a new block.
class CaptureTask : public APLTask {
 public:
  ~CaptureTask() override {
    for (auto* b : blocks_) std::free(b);
  }
  std::string output;
  void WriteOutput(const char* text, std::size_t n) override { output.append(text, n); }
  void FlushOutput() override {}
  Input ReadInputLine(std::string&) override { return Input::Ended; }
  int GetOneKeystroke() override { return 3; }
  std::uint32_t ReAllocateTaskMemory(std::uint32_t bytes, std::uint8_t** new_ws) override {
    auto* p = static_cast<std::uint8_t*>(std::calloc(1, std::size_t(bytes) + 10000));
    if (!p) return 0;
    if (wsBase) std::memcpy(p, wsBase - kLowGlobalsSize, kLowGlobalsSize);
    blocks_.push_back(p);
    *new_ws = wsBase = p + kLowGlobalsSize;
    return bytes;
  }
  [[noreturn]] void EndAPLTask() override { throw TaskEnded{0}; }

 private:
  std::vector<std::uint8_t*> blocks_;
};

// Makes a task current on this thread for the lifetime of the object.
class CurrentTask {
 public:
  explicit CurrentTask(APLTask* t) : saved_(find_my_task()) { set_current_apl_task(t); }
  ~CurrentTask() { set_current_apl_task(saved_); }

 private:
  APLTask* saved_;
};

// Runs one input line with the output column at 0; answers what the session
// printed during it, as UTF-8 (carriage returns kept).
inline std::string run_line(const std::string& utf8, CaptureTask& task, Ws ws) {
  task.output.clear();
  const std::string text = utf8_to_internal(utf8);
  wr16(ws, hdr::OutColumn, 0);
  run_input_line(text.data(), static_cast<int>(text.size()), ws);
  return internal_to_utf8(task.output);
}

inline std::string first_line(const std::string& s) { return s.substr(0, s.find_first_of("\r\n")); }

// A cleared workspace whose session output is recorded, with the output
// column and line count at 0 and ⎕PW as given: the base of the display tests.
class SessionFixture {
 protected:
  explicit SessionFixture(int pw) {
    set_pw(pw);
    wr16(ws, hdr::OutColumn, 0);
    wr16(ws, hdr::OutLineCount, 0);
  }
  void set_pw(int pw) { wr32(ws, sysvar_value_word(sysvar::PW), static_cast<std::uint32_t>(pw)); }

  TestWorkspace tw;
  Ws ws = tw.ws();
  CaptureTask task;
  CurrentTask current{&task};
};

}  // namespace zema::test
