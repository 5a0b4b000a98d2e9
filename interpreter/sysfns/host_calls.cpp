// System functions that hand their argument to the support layer: ⎕HC
// (hard copy), ⎕DL (delay), ⎕MOUNT (the library table) and ⎕HOST (a shell
// command).
#include <cmath>
#include <cstring>
#include <vector>

#include "interpreter/engine/error_path.h"
#include "interpreter/workspace/errors.h"
#include "interpreter/workspace/heap.h"
#include "interpreter/workspace/integrity.h"
#include "interpreter/engine/statement_end.h"
#include "interpreter/workspace/support.h"
#include "interpreter/workspace/arrays.h"
#include "interpreter/sysfns/handlers.h"

namespace zema {

namespace {

// A numeric argument of one element (DOMAIN ERROR, RANK ERROR) as an integer.
std::int32_t single_integer(std::uint32_t a, Ws ws) {
  if (!is_numeric_type(array_type(a, ws))) domner(ws);
  if (array_count(a, ws) != 1) ranker(ws);
  return getint(array_type(a, ws), array_data(a, ws), ws);
}

// The ⎕MOUNT table: 10 rows of 260 characters.
constexpr std::uint32_t kMountRows = 10;
constexpr std::uint32_t kMountWidth = 260;
constexpr std::uint32_t kMountBytes = kMountRows * kMountWidth;

// ⎕HOST leaves this much of the free space alone, and the monadic form
// allows a command this many seconds without output.
constexpr std::int64_t kHostReserve = 256;
constexpr int kHostTimeLimit = 20;

void host_common(int time_limit, SfArg right, Ws ws) {
  force_gcol(ws);
  const std::uint32_t a = right.array(ws);
  if (array_type(a, ws) != ET_CHAR) domner(ws);
  if (array_rank(a, ws) > 1) ranker(ws);
  const std::uint32_t top = rd32(ws, hdr::HeapTop);
  const std::int64_t room = std::int64_t(rd32(ws, hdr::StackPointer)) - top - kHostReserve;
  if (room < 0) ws_full(ws);
  // The output is collected where a vector allocated at the heap top keeps
  // its characters.
  char* buffer = reinterpret_cast<char*>(ws + top + 16);
  int length = static_cast<int>(room);
  const int code = sup_qhost(ws + array_data(a, ws), static_cast<int>(array_count(a, ws)), buffer, &length,
                             time_limit, ws);
  if (code != 0) raise_extended_error(code, nullptr, ws);
  if (length > 0 && buffer[length - 1] == 0x0D) --length;  // no final line end
  // The result is made around the collected characters, which never leave
  // the workspace: the room kept free lets the allocation land at the heap
  // top without a compaction, so the characters are already its data; the
  // move only runs should the object have landed lower.
  const auto n = static_cast<std::uint32_t>(length);
  const std::uint32_t result = getspc(4 + 4 + n, ws);
  std::memmove(ws + result + obj::Shape + 4, buffer, n);
  wr8(ws, result + obj::Type, ET_CHAR);
  wr8(ws, result + obj::Flags9, 0);
  wr16(ws, result + obj::Rank4, 4);
  wr32(ws, result + obj::Shape, n);
  const std::uint32_t end = result + rd32(ws, result + obj::Size);
  const std::uint32_t data_end = result + obj::Shape + 4 + n;
  std::memset(ws + data_end, 0, end - data_end);
  push_result(result, ws);
}

}  // namespace

void sfhc_monadic(SfArg right, Ws ws) {
  const std::int32_t code = single_integer(right.array(ws), ws);
  push_result(new_int_scalar(sup_hc(code), ws), ws);
}

void sfdl_monadic(SfArg right, Ws ws) {
  const std::uint32_t a = right.array(ws);
  if (!is_numeric_type(array_type(a, ws))) domner(ws);
  if (array_count(a, ws) != 1) ranker(ws);
  double seconds;
  if (array_type(a, ws) == ET_FLOAT)
    std::memcpy(&seconds, ws + array_data(a, ws), 8);
  else
    seconds = getint(array_type(a, ws), array_data(a, ws), ws);
  if (seconds < 0) domner(ws);
  const double ms = std::floor(seconds * 1000);
  if (!(ms < 2147483648.0)) domner(ws);
  const std::uint32_t elapsed = sup_dl(static_cast<std::uint32_t>(ms), ws);
  push_result(new_float_scalar(elapsed / 1000.0, ws), ws);
}

void qmt_monadic(SfArg right, Ws ws) {
  const std::uint32_t a = right.array(ws);
  const std::uint8_t type = array_type(a, ws);
  const std::uint32_t rank = array_rank(a, ws);
  std::vector<std::uint8_t> table(kMountBytes);
  if (type == ET_CHAR) {
    if (rank > 2) ranker(ws);
    const std::uint32_t rows = rank < 2 ? 1 : array_axis(a, 0, ws);
    const std::uint32_t columns = rank == 0 ? 1 : array_axis(a, rank - 1, ws);
    if (rows > kMountRows) lener(ws);
    if (columns > kMountWidth) lener(ws);
    std::vector<std::uint8_t> given;
    if (rows != 0 && columns != 0) {
      given.assign(std::size_t(rows) * kMountWidth, 0x20);
      const std::uint32_t data = array_data(a, ws);
      for (std::uint32_t r = 0; r < rows; ++r)
        std::memcpy(&given[std::size_t(r) * kMountWidth], ws + data + std::size_t(r) * columns, columns);
    }
    sup_qmt(static_cast<int>(given.size()), given.data(), table.data(), ws);
    push_result(new_char_matrix(kMountRows, kMountWidth,
                                std::string_view(reinterpret_cast<const char*>(table.data()), kMountBytes), ws),
                ws);
    return;
  }
  if (!is_numeric_type(type)) domner(ws);
  if (rank > 1) ranker(ws);
  const std::uint32_t n = array_count(a, ws);
  if (n > kMountBytes / 4) lener(ws);
  std::vector<std::int32_t> words(n);
  const std::uint32_t data = array_data(a, ws);
  const std::uint32_t step = type == ET_FLOAT ? 8 : 4;
  for (std::uint32_t i = 0; i < n; ++i) {
    if (type == ET_BOOL)
      words[i] = (rd32(ws, data + 4 * (i / 32)) >> (31 - i % 32)) & 1;
    else
      words[i] = getint(type, data + step * i, ws);
  }
  sup_qmt(static_cast<int>(4 * n), reinterpret_cast<const std::uint8_t*>(words.data()), table.data(), ws);
  push_result(new_int_vector(reinterpret_cast<const std::int32_t*>(table.data()), kMountBytes / 4, ws), ws);
}

void sfhost_monadic(SfArg right, Ws ws) { host_common(kHostTimeLimit, right, ws); }

void sfhost_dyadic(SfArg left, SfArg right, Ws ws) {
  const std::int32_t limit = single_integer(left.array(ws), ws);
  if (limit < 0) domner(ws);
  host_common(limit, right, ws);
}

}  // namespace zema
