// A cleared workspace in memory of its own, for tests of the interpreter's
// layers below immediate execution.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <initializer_list>
#include <string>
#include <vector>

#include "host/charset.h"
#include "host/task.h"
#include "interpreter/engine/line.h"
#include "interpreter/engine/sysvars.h"
#include "interpreter/reader/tokeniser.h"
#include "interpreter/session/definition.h"
#include "interpreter/session/life.h"
#include "interpreter/workspace/entry.h"
#include "interpreter/workspace/errors.h"
#include "interpreter/workspace/symtab.h"
#include "interpreter/workspace/workspace.h"

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

// The symbol-table entry of a name given in UTF-8; 0 when it has none.
inline std::uint32_t symbol_entry(const std::string& utf8, Ws ws) {
  const std::string name = utf8_to_internal(utf8);
  std::memcpy(ws + kNameBuffer, name.data(), name.size());
  std::uint32_t free = 0, found = 0;
  if (symfnd(free, found, static_cast<std::uint32_t>(name.size()), ws) != 0) return 0;
  return entry_of_table_offset(found);
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

// A cleared workspace of `Bytes` bytes with the ∇ editor's routes installed
// and a recording task current: the base of the tests that define functions
// and run lines (`Base` is the GoogleTest base, a parameterised one too).
template <typename Base, std::uint32_t Bytes = 256 * 1024>
class DefiningSessionOn : public Base {
 protected:
  void SetUp() override {
    saved_ = lex_routes();
    install_definition_routes();
    set_current_apl_task(&task_);
    task_.wsBase = ws();
  }
  void TearDown() override {
    set_current_apl_task(nullptr);
    lex_routes() = saved_;
  }
  Ws ws() const { return t_.ws(); }

  // Runs the lines; answers what was printed (UTF-8, a new line for each
  // carriage return).
  std::string type(std::initializer_list<std::string> lines) {
    task_.output.clear();
    for (const std::string& l : lines) {
      const std::string text = utf8_to_internal(l);
      wr16(ws(), hdr::OutColumn, 0);
      run_input_line(text.data(), static_cast<int>(text.size()), ws());
    }
    std::string out;
    for (char c : task_.output) out += c == '\r' ? std::string("\n") : internal_to_utf8(std::string(1, c));
    return out;
  }

  // ⎕ET of the last error.
  std::vector<int> et() const { return {rdi16(ws(), hdr::EtMajor), rdi16(ws(), hdr::EtMinor)}; }

  // The symbol-table entry of a name (SIZE_MAX-like 0 when it has none).
  std::uint32_t entry_of(const std::string& utf8) const { return symbol_entry(utf8, ws()); }

  TestWorkspace t_{Bytes};
  CaptureTask task_;
  LexRoutes saved_;
};

using DefiningSession = DefiningSessionOn<::testing::Test>;

}  // namespace zema::test
