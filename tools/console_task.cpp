#include "tools/console_task.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "host/charset.h"
#include "host/task_memory.h"
#include "interpreter/workspace/workspace.h"

namespace zema {

namespace {
constexpr std::size_t kHead = 128;

bool blank(const std::string& s) { return s.find_first_not_of(' ') == std::string::npos; }
}  // namespace

ConsoleTask::ConsoleTask(std::FILE* in, std::FILE* out, Options options)
    : in_(in), out_(out), options_(options), buffer_([this](std::string_view chunk) { TakeChunk(chunk); }, false) {
  // The test hook counts every poll.
  if (!options_.interrupt_polls.empty()) frontEndCheckEvery = 1;
}

ConsoleTask::~ConsoleTask() {
  std::free(block_);
  std::free(oldBlock_);
}

bool ConsoleTask::AllocateTaskMemory(std::uint64_t bytes) {
  if (bytes > kLargestWorkspace) return false;
  std::uint64_t total = bytes + kHead;
  auto* p = static_cast<std::uint8_t*>(std::calloc(1, total));
  if (!p) return false;
  std::free(block_);
  block_ = p;
  blockSize_ = total;
  captureLimit = bytes;
  return true;
}

void ConsoleTask::EmitLine(const std::string& internal) {
  std::string text = internal_to_utf8(internal);
  std::size_t end = text.find_last_not_of(' ');
  text.resize(end == std::string::npos ? 0 : end + 1);
  text.push_back('\n');
  std::fwrite(text.data(), 1, text.size(), out_);
}

void ConsoleTask::TakeChunk(std::string_view chunk) {
  for (char c : chunk) {
    if (c == 0x0D) {
      EmitLine(pending_);
      pending_.clear();
    } else {
      pending_.push_back(c);
    }
  }
}

void ConsoleTask::WriteOutput(const char* text, std::size_t n) {
  for (std::size_t i = 0; i < n; ++i) {
    const char c = text[i];
    if ((c & 0x7F) == 0x0A) {
      // Line feed: down one line, same column (the caret under an error).
      buffer_.Flush();
      std::size_t column = pending_.size();
      EmitLine(pending_);
      pending_.assign(column, ' ');
    } else {
      buffer_.Put(static_cast<std::uint8_t>(c), prefs.pw);
    }
  }
  // What a ⍞ read finds on the line: the prompt written so far.
  const std::string& held = buffer_.Text();
  const std::size_t end = held.rfind('\r');
  currentLine = end == std::string::npos ? pending_ + held : held.substr(end + 1);
}

void ConsoleTask::FlushOutput() {
  buffer_.Flush();
  std::fflush(out_);
}

void ConsoleTask::CheckFrontEndAttention() {
  buffer_.Flush();
  // Two attentions in a row, as a user pressing Ctrl+C twice: the first
  // waits for the line's end, the second interrupts at once.
  if (nextInterrupt_ >= options_.interrupt_polls.size() || !interruptArmed_) return;
  ++polls_;
  const unsigned n = options_.interrupt_polls[nextInterrupt_];
  if (polls_ == n) attnPending = true;
  if (polls_ == n + 1) {
    attnPending = true;
    ++nextInterrupt_;  // each count once, the next from the next input line
    interruptArmed_ = false;
  }
}

APLTask::Input ConsoleTask::ReadInputLine(std::string& line) {
  polls_ = 0;
  interruptArmed_ = true;
  buffer_.Flush();
  std::string prompt = pending_;
  pending_.clear();
  currentLine.clear();
  // A ⍞ answer is data, and the line handed back holds the prompt it was
  // typed after, as a session line does: the interpreter tells the prompt
  // from what was typed over it.
  const bool answer = wsBase && state_has(st::QuoteQuadInput, wsBase);
  if (options_.input_marker) {
    // The marker carries the prompt already on the line (blank for the
    // six-blank prompt of immediate execution).
    std::string marker = "\x1e" + (blank(prompt) ? std::string() : internal_to_utf8(prompt)) + "\n";
    std::fputs(marker.c_str(), out_);
  } else if (options_.terminal) {
    std::string shown = blank(prompt) ? std::string(6, ' ') : internal_to_utf8(prompt);
    std::fputs(shown.c_str(), out_);
  }
  std::fflush(out_);
  // An attention that came before the wait gives no line, as one during it.
  if (attnPending) return Input::Interrupted;
  std::string raw;
  bool any = false;
  for (;;) {
    int c = std::fgetc(in_);
    if (c == EOF) {
      if (std::ferror(in_) && errno == EINTR) {
        std::clearerr(in_);
        // An attention (SIGINT) while waiting abandons the line being typed.
        if (attnPending) return Input::Interrupted;
        continue;
      }
      if (std::ferror(in_)) {
        readErrno_ = errno;
        any = false;  // a line cut by a failed read is not run
      }
      break;
    }
    any = true;
    if (c == '\n') break;
    raw.push_back(static_cast<char>(c));
  }
  if (!any) {
    if (options_.terminal && !options_.input_marker) {
      std::fputs("\n", out_);  // the shell's prompt on a line of its own
    } else if (!options_.input_marker && !blank(prompt)) {
      EmitLine(prompt);
    }
    return Input::Ended;
  }
  if (atStart_ && raw.compare(0, 3, "\xEF\xBB\xBF") == 0) raw.erase(0, 3);
  atStart_ = false;
  if (!raw.empty() && raw.back() == '\r') raw.pop_back();
  const std::string typed = answer ? utf8_to_internal(raw) : utf8_line_to_internal(raw);
  line = answer ? prompt + typed : typed;
  if (options_.input_marker || options_.terminal) return Input::Line;
  if (options_.echo) {
    EmitLine((blank(prompt) ? std::string(6, ' ') : prompt) + typed);
  } else if (!blank(prompt)) {
    EmitLine(prompt);
  }
  return Input::Line;
}

int ConsoleTask::GetOneKeystroke() {
  FlushOutput();
  int c = std::fgetc(in_);
  if (c == EOF) return 3;
  char b = static_cast<char>(c);
  std::string internal = utf8_to_internal(std::string_view(&b, 1));
  return static_cast<std::uint8_t>(internal[0]);
}

std::uint32_t ConsoleTask::ReAllocateTaskMemory(std::uint32_t bytes, std::uint8_t** new_ws) {
  // The program's rule: the largest block that can be had, three quarters
  // smaller at each refusal; none at all leaves the old block in use.
  TaskBlock fresh = reallocate_task_block(bytes, default_block_allocator());
  if (!fresh.block) return 0;
  auto* p = fresh.block;
  // The LowGlobals record goes along below the new base.
  if (block_) std::memcpy(p + kHead, block_ + kHead, kLowGlobalsSize);
  // The old block stays allocated until the next move: the interpreter is
  // still running on it while it switches over.
  std::free(oldBlock_);
  oldBlock_ = block_;
  block_ = p;
  blockSize_ = fresh.size + 1024;  // reallocate_task_block's block is 11,024 bytes over the figure
  *new_ws = p + kHead + kLowGlobalsSize;
  wsBase = *new_ws;
  captureLimit = fresh.size - 10000;
  return fresh.size - 10000;
}

void ConsoleTask::EndAPLTask() {
  buffer_.Flush();
  if (!blank(pending_)) EmitLine(pending_);
  pending_.clear();
  currentLine.clear();
  std::fflush(out_);
  ending = true;
  throw TaskEnded{0};
}

}  // namespace zema
