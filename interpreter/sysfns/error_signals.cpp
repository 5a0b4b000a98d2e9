// Errors chosen by the program and the message of the last error: ⎕ES
// (by ⎕ET pair or with a message of its own), ⎕ERS (by error number) and
// ⎕EM (the last error's report as a three-row matrix).

#include "interpreter/output/display.h"
#include "interpreter/engine/error_path.h"
#include "interpreter/workspace/errors.h"
#include "interpreter/workspace/heap.h"
#include "interpreter/engine/statement_end.h"
#include "interpreter/workspace/arrays.h"
#include "interpreter/sysfns/handlers.h"

namespace zema {

namespace {

// Element i of a simple numeric array as an integer (DOMAIN ERROR for a
// fraction or a character).
std::int32_t int_item(std::uint32_t a, std::uint32_t i, Ws ws) {
  const std::uint32_t data = array_data(a, ws);
  switch (array_type(a, ws)) {
    case ET_BOOL: return static_cast<std::int32_t>((rd32(ws, data + 4 * (i / 32)) >> (31 - i % 32)) & 1u);
    case ET_INT: return rdi32(ws, data + 4 * i);
    case ET_FLOAT: return getin3(data + 8 * i, ws);
    default: domner(ws);
  }
}

// Keeps a message argument (rank 0 or 1, else RANK ERROR) as the
// program's own message, in the workspace.
void keep_message(SfArg arg, Ws ws) {
  if (array_rank(arg.array(ws), ws) > 1) ranker(ws);
  keep_own_message(arg.slot, ws);
}

bool is_empty(std::uint32_t a, Ws ws) { return array_count(a, ws) == 0; }
bool is_chars(std::uint32_t a, Ws ws) { return array_type(a, ws) == ET_CHAR; }

// A call that signals nothing gives no result.
void no_result(Ws ws) { push_result(0, ws, true); }

void set_et(int major, int minor, Ws ws) {
  wr16(ws, hdr::EtMajor, static_cast<std::uint16_t>(major));
  wr16(ws, hdr::EtMinor, static_cast<std::uint16_t>(minor));
}

// The ⎕ET pair of a numeric ⎕ES argument: a vector (RANK ERROR) of two
// integers (LENGTH ERROR).
void es_pair(std::uint32_t a, int* major, int* minor, Ws ws) {
  if (array_rank(a, ws) != 1) ranker(ws);
  if (array_count(a, ws) != 2) lener(ws);
  *major = int_item(a, 0, ws);
  *minor = int_item(a, 1, ws);
}

// ⎕ERS's error number: the first item of a numeric scalar or vector.
// Answers false for an empty vector.
bool ers_number(std::uint32_t a, std::int32_t* number, Ws ws) {
  if (!is_numeric_type(array_type(a, ws))) domner(ws);
  if (array_rank(a, ws) > 1) ranker(ws);
  if (is_empty(a, ws)) return false;
  *number = int_item(a, 0, ws);
  return true;
}

void set_et_of_number(std::int32_t number, Ws ws) {
  int major = 0, minor = 1;
  et_tab_pair(number, &major, &minor);
  set_et(major, minor, ws);
}

}  // namespace

void quades_monadic(SfArg right, Ws ws) {
  const std::uint32_t r = right.array(ws);
  if (is_empty(r, ws)) return no_result(ws);
  if (is_chars(r, ws)) {
    keep_message(right, ws);
    set_et(0, 1, ws);
    signal_error(15, true, ws);
  }
  int major = 0, minor = 0;
  es_pair(r, &major, &minor, ws);
  if (major == 0 && minor == 0) {
    clear_error_state(ws);
    return no_result(ws);
  }
  set_et(major, minor, ws);
  signal_error(et_tab_lookup(major, minor), false, ws);
}

void quades_dyadic(SfArg left, SfArg right, Ws ws) {
  const std::uint32_t r = right.array(ws);
  if (is_empty(r, ws)) return no_result(ws);
  if (is_chars(r, ws)) domner(ws);
  int major = 0, minor = 0;
  es_pair(r, &major, &minor, ws);
  if (major == 0 && minor == 0) {
    clear_error_state(ws);
    return no_result(ws);
  }
  // The message must be characters; an empty left argument of any type
  // is an empty message.
  const std::uint32_t l = left.array(ws);
  if (array_rank(l, ws) > 1) ranker(ws);
  if (!is_chars(l, ws) && !is_empty(l, ws)) domner(ws);
  if (is_chars(l, ws))
    keep_message(left, ws);
  else
    keep_own_message(0, ws);
  set_et(major, minor, ws);
  signal_error(15, true, ws);
}

void qers_monadic(SfArg right, Ws ws) {
  force_gcol(ws);
  std::int32_t number = 0;
  if (!ers_number(right.array(ws), &number, ws)) return no_result(ws);
  if (number == 0) {
    clear_error_state(ws);
    return no_result(ws);
  }
  set_et_of_number(number, ws);
  signal_error(number, false, ws);
}

void qers_dyadic(SfArg left, SfArg right, Ws ws) {
  std::int32_t number = 0;
  if (!ers_number(right.array(ws), &number, ws)) return no_result(ws);
  if (number == 0) {
    clear_error_state(ws);
    return no_result(ws);
  }
  const std::uint32_t l = left.array(ws);
  if (!is_chars(l, ws)) domner(ws);
  keep_message(left, ws);
  set_et_of_number(number, ws);
  signal_error(number, true, ws);
}

void sfem(Ws ws) { push_result(message_rows(ws), ws); }

void sferm(Ws ws) {
  const std::uint32_t m = rd32(ws, hdr::ErrorMessage);
  if (m == 0) {
    push_result(new_char_vector({}, ws), ws);
    return;
  }
  push_result(copy_array(hdr::ErrorMessage, ws), ws);
}

}  // namespace zema
