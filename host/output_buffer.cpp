#include "host/output_buffer.h"

namespace zema {

void OutputBuffer::Put(int f, int quad_pw) {
  if (text_.size() >= kCapacity) Flush();
  const bool new_line = f == 13;
  if (new_line) {
    while (!text_.empty() && text_.back() == ' ') text_.pop_back();
    column_ = 0;
  } else {
    if (f < 32 && blankControls_) f = ' ';
    ++column_;
  }
  text_.push_back(static_cast<char>(f));
  if (new_line && static_cast<std::size_t>(quad_pw) >= kCapacity - text_.size()) Flush();
}

void OutputBuffer::Flush() {
  if (text_.empty()) return;
  std::string chunk;
  chunk.swap(text_);
  if (sink_) sink_(chunk);
}

}  // namespace zema
