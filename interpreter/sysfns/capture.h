// Building a system function's character result from the interpreter's own
// display output: while a TextCapture is alive, every character `cdisp`
// writes is stored in the free gap instead of shown (no folding at ⎕PW; a
// carriage return is not stored, store_return stores one), and WS FULL is
// raised when the text comes within 100 bytes of the stack. The result
// object is then made in place around the text (captured_array).
#pragma once

#include <cstdint>

#include "interpreter/workspace/workspace.h"

namespace zema {

class TextCapture {
 public:
  // Starts capturing at workspace offset `at` (in the free gap above the
  // heap top), the output column set to 0.
  TextCapture(std::uint32_t at, Ws ws);
  // Restores the capture address, the column, the state and output bits.
  ~TextCapture();
  TextCapture(const TextCapture&) = delete;
  TextCapture& operator=(const TextCapture&) = delete;

  // Where the next character goes.
  std::uint32_t cursor() const;
  // Moves the cursor (rewinding discards what was stored after `at`).
  void seek(std::uint32_t at) const;
  // Stores a carriage return (cdisp only counts one).
  void store_return() const;
  // Doubles every quote stored from now on (or stops doing so).
  void double_quotes(bool on) const;

 private:
  Ws ws_;
  std::uint32_t saved_address_;
  std::uint16_t saved_column_;
  std::uint16_t saved_state_;
  std::uint8_t saved_bits_;
};

// Bytes from an array object's start to its data, for `rank` axes.
constexpr std::uint32_t array_header_bytes(std::uint32_t rank) { return 12 + 4 * rank; }

// Writes at `at` the header of a character vector of `n` characters (owner
// word 0; the characters lie array_header_bytes(1) after it, put there by
// the caller before or after) and zeroes the bytes after them up to a word
// boundary. Answers its size. Writes only those bytes.
std::uint32_t write_char_vector_header(std::uint32_t at, std::uint32_t n, Ws ws);

// Compacts the heap and answers where the text of a character array of
// `rank` built at the heap top begins (array_header_bytes after it).
std::uint32_t capture_origin(std::uint32_t rank, Ws ws);

// Makes the character array of `rank` and `shape` whose data (the product
// of the shape, in characters) was captured at capture_origin(rank): the
// object is allocated at the heap top around it, nothing having been
// released or allocated since capture_origin. Answers the array (owned by
// the token register until pushed). WS FULL when there is no room for it.
std::uint32_t captured_array(std::uint32_t rank, const std::uint32_t* shape, Ws ws);

}  // namespace zema
