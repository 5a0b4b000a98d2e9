// The session output buffer of a task: up to 512 characters, handed to the
// front end in chunks so that output crosses to it seldom. The program's
// task keeps display-font code in it (a new line stays code 13, control
// codes show as blanks); the console keeps internal characters, whose
// codes below 32 are characters of their own (`blank_controls` false).
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

  explicit OutputBuffer(Sink sink, bool blank_controls = true)
      : sink_(std::move(sink)), blankControls_(blank_controls) {}

  // Appends one character. A full buffer is flushed first. A new line (13)
  // drops the blanks before it and sets the column to 0, then flushes when
  // `quad_pw` ≥ the room left; any other code advances the column (one
  // below 32 is stored as a blank when control codes are blanked).
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
  bool blankControls_;
};

}  // namespace zema
