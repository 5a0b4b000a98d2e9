// ⎕STOP and ⎕TRACE: the stop and trace marks on the lines of a defined
// function. The engine acts on them when a line starts (eolfnx) and when a
// statement ends (xrsltp, the branch); here they are only set and read.
#include <cmath>
#include <cstring>

#include "interpreter/engine/function_object.h"
#include "interpreter/sysfns/definitions.h"
#include "interpreter/sysfns/handlers.h"
#include "interpreter/sysfns/names.h"
#include "interpreter/workspace/arrays.h"
#include "interpreter/workspace/errors.h"
#include "interpreter/workspace/symtab.h"

namespace zema {

namespace {

constexpr std::uint32_t kLongestName = 255;

// The symbol entry of the defined function or operator the right argument
// names: a character scalar or vector holding one name, blanks around it.
// DOMAIN ERROR for anything else.
std::uint32_t marked_function(SfArg right, Ws ws) {
  const std::uint32_t a = right.array(ws);
  if (array_type(a, ws) != ET_CHAR || array_rank(a, ws) > 1) domner(ws);
  const std::uint32_t n = array_count(a, ws);
  if (n > kLongestName) domner(ws);
  const NameRef ref = look_up_name(ws + array_data(a, ws), n, ws);
  if (ref.kind != NameKind::Found || !defined_function_type(ref.type)) domner(ws);
  const std::uint32_t header = rd32(ws, ref.entry + sym::Value);
  if (header == 0 || !(rd8(ws, header + fnl::Marks) & 0x40)) domner(ws);
  return ref.entry;
}

// Pushes the numbers of the lines that carry `mask`, ascending.
void push_marked_lines(std::uint32_t entry, std::uint8_t mask, Ws ws) {
  std::uint32_t count = 0;
  for (std::uint32_t l = rd32(ws, rd32(ws, entry + sym::Value) + fnl::Next); l; l = rd32(ws, l + fnl::Next))
    if (rd8(ws, l + fnl::Marks) & mask) ++count;
  const std::uint32_t result = new_array(ET_INT, 1, &count, ws);
  // The allocation may have moved the function: walk it again from its name.
  std::uint32_t at = array_data(result, ws);
  std::int32_t number = 1;
  for (std::uint32_t l = rd32(ws, rd32(ws, entry + sym::Value) + fnl::Next); l; l = rd32(ws, l + fnl::Next), ++number) {
    if (rd8(ws, l + fnl::Marks) & mask) {
      wr32(ws, at, static_cast<std::uint32_t>(number));
      at += 4;
    }
  }
  push_result(result, ws);
}

// Item i of a numeric array as a line number: a non-negative integer
// (DOMAIN ERROR otherwise); numbers past any line come back as 0xFFFFFFFF.
std::uint32_t line_number(std::uint32_t a, std::uint32_t i, Ws ws) {
  const std::uint32_t data = array_data(a, ws);
  switch (array_type(a, ws)) {
    case ET_BOOL: return (rd32(ws, data + 4 * (i / 32)) >> (31 - i % 32)) & 1;
    case ET_INT: {
      const std::int32_t v = rdi32(ws, data + 4 * i);
      if (v < 0) domner(ws);
      return static_cast<std::uint32_t>(v);
    }
    default: {
      double d;
      std::memcpy(&d, ws + data + 8 * i, 8);
      if (!(d >= 0) || d != std::floor(d)) domner(ws);
      return d >= 4294967295.0 ? 0xFFFFFFFFu : static_cast<std::uint32_t>(d);
    }
  }
}

void marks_monadic(SfArg right, std::uint8_t mask, Ws ws) {
  push_marked_lines(marked_function(right, ws), mask, ws);
}

void marks_dyadic(SfArg left, SfArg right, std::uint8_t mask, Ws ws) {
  const std::uint32_t entry = marked_function(right, ws);
  const std::uint32_t a = left.array(ws);
  if (array_rank(a, ws) > 1) ranker(ws);
  const std::uint32_t n = array_count(a, ws);
  if (n != 0 && !is_numeric_type(array_type(a, ws))) domner(ws);
  // Every number is checked before any mark changes.
  for (std::uint32_t i = 0; i < n; ++i) line_number(a, i, ws);
  const std::uint32_t header = rd32(ws, entry + sym::Value);
  if (!(rd8(ws, header + fnl::Marks) & fnmark::Locked)) {
    std::uint32_t number = 1;
    for (std::uint32_t l = rd32(ws, header + fnl::Next); l; l = rd32(ws, l + fnl::Next), ++number) {
      bool set = false;
      for (std::uint32_t i = 0; i < n && !set; ++i) set = line_number(a, i, ws) == number;
      const std::uint8_t marks = rd8(ws, l + fnl::Marks);
      wr8(ws, l + fnl::Marks, set ? (marks | mask) : (marks & ~mask));
    }
  }
  push_marked_lines(entry, mask, ws);
}

}  // namespace

void sfst_monadic(SfArg right, Ws ws) { marks_monadic(right, fnmark::Stop, ws); }
void sfst_dyadic(SfArg left, SfArg right, Ws ws) { marks_dyadic(left, right, fnmark::Stop, ws); }
void sftrace_monadic(SfArg right, Ws ws) { marks_monadic(right, fnmark::Trace, ws); }
void sftrace_dyadic(SfArg left, SfArg right, Ws ws) { marks_dyadic(left, right, fnmark::Trace, ws); }

}  // namespace zema
