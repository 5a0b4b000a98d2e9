// A task whose session is a pair of byte streams: input lines come from a
// file or standard input in UTF-8, session output goes to standard output in
// UTF-8, one line per carriage return, with trailing blanks dropped. A
// byte-order mark at the very start of the input is skipped.
#pragma once

#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "host/output_buffer.h"
#include "host/task.h"

namespace zema {

class ConsoleTask : public APLTask {
 public:
  struct Options {
    bool echo = false;          // write each input line as the session shows it
    bool input_marker = false;  // announce each input request with a line holding 0x1E
    // Test hook: for each N in turn, the Nth and (N+1)th attention polls
    // of the first input line that makes that many find an attention, as
    // if Ctrl+C were pressed twice; each N counts from the input line after
    // the one the previous N was used in (empty: never).
    std::vector<unsigned> interrupt_polls;
    // Input is typed at a terminal: the prompt (six blanks, the ∇ editor's
    // [n], a ⍞ prompt) is written before each read, and the typed line is
    // not written again (the terminal shows it). Off for files and pipes,
    // whose lines are written after they are read, with --echo.
    bool terminal = false;
  };

  // The largest block the interpreter is given: its offsets, ⎕WA and
  // ⎕WSSIZE are 32-bit signed figures, and the block with the 10,000 bytes
  // the task keeps beside it stays below 2^31 bytes.
  static constexpr std::uint64_t kLargestWorkspace = 2147473408;  // 2,097,142 KB

  ConsoleTask(std::FILE* in, std::FILE* out, Options options);
  ~ConsoleTask() override;

  // Allocates the task's block: `bytes` for the interpreter after a 128-byte
  // head. False when it cannot be had or is above kLargestWorkspace.
  bool AllocateTaskMemory(std::uint64_t bytes);
  std::uint8_t* Memory() const { return block_ ? block_ + 128 : nullptr; }
  std::uint32_t MemorySize() const { return static_cast<std::uint32_t>(blockSize_ - 128); }

  void WriteOutput(const char* text, std::size_t n) override;
  void FlushOutput() override;
  Input ReadInputLine(std::string& line) override;
  int GetOneKeystroke() override;
  std::uint32_t ReAllocateTaskMemory(std::uint32_t bytes, std::uint8_t** new_ws) override;
  [[noreturn]] void EndAPLTask() override;
  void CheckFrontEndAttention() override;

  // The errno of a failed read of the input (which ended the session as
  // its end would), or 0.
  int ReadError() const { return readErrno_; }

 private:
  void EmitLine(const std::string& internal);
  // Takes a chunk of the output buffer: whole lines are written out, the
  // unfinished one is kept in pending_.
  void TakeChunk(std::string_view chunk);

  std::FILE* in_;
  std::FILE* out_;
  Options options_;
  // Output in internal characters: buffered in chunks as the program's
  // task buffers it, then split into lines.
  OutputBuffer buffer_;
  std::string pending_;  // the unfinished output line taken from the buffer
  std::uint8_t* block_ = nullptr;
  std::uint64_t blockSize_ = 0;
  std::uint8_t* oldBlock_ = nullptr;
  unsigned polls_ = 0;  // attention polls since the last input line
  std::size_t nextInterrupt_ = 0;  // the interrupt_polls entry in use
  bool interruptArmed_ = true;     // the entry counts this line's polls
  bool atStart_ = true;  // no input line read yet
  int readErrno_ = 0;
};

}  // namespace zema
