// ⎕PFKEY: the texts of the programmable function keys 1-45, kept by the
// host. 'TEXT' ⎕PFKEY n sets key n (an empty text clears it); ⎕PFKEY n
// answers its text, written by the host in the free space and adopted.
#include "host/services.h"
#include "interpreter/engine/statement_end.h"
#include "interpreter/sysfns/handlers.h"
#include "interpreter/sysfns/host_results.h"
#include "interpreter/workspace/arrays.h"
#include "interpreter/workspace/errors.h"
#include "interpreter/workspace/integrity.h"

namespace zema {

namespace {

// The free space the host's reply needs at least.
constexpr std::uint32_t kLeastRoom = 100;

// The key number: the first element of the argument, an integer (DOMAIN
// ERROR for characters, a nested array or a non-integral value); further
// elements are not looked at, and an empty argument names no key (LENGTH
// ERROR).
std::int32_t key_number(SfArg right, Ws ws) {
  const std::uint32_t a = right.array(ws);
  const std::uint8_t type = array_type(a, ws);
  if (!is_numeric_type(type)) domner(ws);
  if (array_count(a, ws) == 0) lener(ws);
  return getint(type, array_data(a, ws), ws);
}

}  // namespace

void sfpfkeys_dyadic(SfArg left, SfArg right, Ws ws) {
  const std::int32_t n = key_number(right, ws);
  if (n < 1 || n > 45) domner(ws);
  if (const int code = set_pf_key(n, ws + left.array(ws))) raise_extended_error(code, nullptr, ws);
  push_result(new_int_vector(nullptr, 0, ws), ws, true);
}

void sfpfkeys_monadic(SfArg right, Ws ws) {
  const std::int32_t n = key_number(right, ws);
  std::int32_t room = 0;
  std::uint8_t* area = host_result_area(kLeastRoom, &room, ws);
  if (const int code = get_pf_key(n, area, room)) raise_extended_error(code, nullptr, ws);
  adopt_host_result(room, ws);
}

}  // namespace zema
