#include "interpreter/sysfns/capture.h"

#include "interpreter/output/display.h"
#include "interpreter/workspace/errors.h"
#include "interpreter/workspace/heap.h"

namespace zema {

TextCapture::TextCapture(std::uint32_t at, Ws ws)
    : ws_(ws),
      saved_address_(rd32(ws, hdr::CaptureAddress)),
      saved_column_(rd16(ws, hdr::OutColumn)),
      saved_state_(engine_state(ws)),
      saved_bits_(rd8(ws, hdr::OutputBits)) {
  wr32(ws, hdr::CaptureAddress, at);
  wr16(ws, hdr::OutColumn, 0);
  wr8(ws, hdr::OutputBits, saved_bits_ & ~outbits::DoubleQuotes);
  set_state(st::Capturing, st::CaptureOverflow, ws);
}

TextCapture::~TextCapture() {
  constexpr std::uint16_t kOwn = st::Capturing | st::CaptureOverflow;
  set_state(saved_state_ & kOwn, ~saved_state_ & kOwn, ws_);
  wr8(ws_, hdr::OutputBits, saved_bits_);
  wr16(ws_, hdr::OutColumn, saved_column_);
  wr32(ws_, hdr::CaptureAddress, saved_address_);
}

std::uint32_t TextCapture::cursor() const { return rd32(ws_, hdr::CaptureAddress); }
void TextCapture::seek(std::uint32_t at) const { wr32(ws_, hdr::CaptureAddress, at); }
void TextCapture::store_return() const {
  cdisp_store(kCarriageReturn, ws_);
  wr16(ws_, hdr::OutColumn, 0);
}
void TextCapture::double_quotes(bool on) const {
  const std::uint8_t bits = rd8(ws_, hdr::OutputBits);
  wr8(ws_, hdr::OutputBits, on ? bits | outbits::DoubleQuotes : bits & ~outbits::DoubleQuotes);
}

std::uint32_t capture_origin(std::uint32_t rank, Ws ws) {
  force_gcol(ws);
  return rd32(ws, hdr::HeapTop) + array_header_bytes(rank);
}

std::uint32_t captured_array(std::uint32_t rank, const std::uint32_t* shape, Ws ws) {
  std::uint64_t count = 1;
  for (std::uint32_t k = 0; k < rank; ++k) count *= shape[k];
  const std::uint32_t top = rd32(ws, hdr::HeapTop);
  const std::uint64_t bytes = array_header_bytes(rank) + count;
  // getspc must find the room without compacting, or the text would be
  // left behind.
  if (top + ((bytes + 3) & ~std::uint64_t(3)) + 4 + kCaptureReserve > rd32(ws, hdr::StackPointer)) ws_full(ws);
  const std::uint32_t a = getspc(static_cast<std::uint32_t>(bytes - 8), ws);
  if (a != top) ZEMA_SYSTEM_ERROR(ws);
  wr8(ws, a + obj::Type, ET_CHAR);
  wr8(ws, a + obj::Flags9, 0);
  wr16(ws, a + obj::Rank4, 4 * rank);
  for (std::uint32_t k = 0; k < rank; ++k) wr32(ws, a + obj::Shape + 4 * k, shape[k]);
  const std::uint32_t end = a + static_cast<std::uint32_t>(bytes);
  for (std::uint32_t p = end; p < a + rd32(ws, a + obj::Size); ++p) wr8(ws, p, 0);
  return a;
}

std::uint32_t write_char_vector_header(std::uint32_t at, std::uint32_t n, Ws ws) {
  const std::uint32_t size = (array_header_bytes(1) + n + 3) & ~3u;
  wr32(ws, at, 0);
  wr32(ws, at + obj::Size, size);
  wr8(ws, at + obj::Type, ET_CHAR);
  wr8(ws, at + obj::Flags9, 0);
  wr16(ws, at + obj::Rank4, 4);
  wr32(ws, at + obj::Shape, n);
  for (std::uint32_t p = at + array_header_bytes(1) + n; p < at + size; ++p) wr8(ws, p, 0);
  return size;
}

}  // namespace zema
