// The session output buffer of a task with a window: up to 512 characters
// in display-font code (a new line stays code 13), handed to the window in
// chunks so that the task thread crosses to the GUI thread seldom.
#pragma once

#include <cstddef>
#include <functional>
#include <string>
#include <string_view>

namespace zema {

class OutputBuffer {
 public:
  static constexpr std::size_t kCapacity = 512;
  // Receives the buffered characters (display code) when the buffer is
  // flushed; the buffer is empty afterwards.
  using Sink = std::function<void(std::string_view)>;

  explicit OutputBuffer(Sink sink) : sink_(std::move(sink)) {}

  // Appends one character in display code. A full buffer is flushed first.
  // A new line (13) drops the blanks before it and sets the column to 0,
  // then flushes when `quad_pw` ≥ the room left; any other code below 32
  // is shown as a blank and advances the column.
  void Put(int f, int quad_pw);
  // Hands the buffered characters to the sink (nothing when empty).
  void Flush();
  // Drops the buffered characters (a task without a window).
  void Discard() { text_.clear(); }

  std::size_t Count() const { return text_.size(); }
  const std::string& Text() const { return text_; }
  int Column() const { return column_; }

 private:
  Sink sink_;
  std::string text_;
  int column_ = 0;
};

}  // namespace zema
