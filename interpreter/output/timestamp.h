// Dates and times as the session writes them: the year of a two-digit
// year, and the time stamp writer of )TIME, ⎕TIME and the fix times of
// function listings.
#pragma once

#include <cstdint>

#include "interpreter/workspace/workspace.h"

namespace zema {

// The year of a two-digit year (0–99): 00–90 are 2000–2090, 91–99 are
// 1991–1999. The one pivot for ⎕TS, ⎕AT and every printed date.
constexpr std::int32_t full_year(std::uint32_t two_digits) {
  return static_cast<std::int32_t>(two_digits <= 90 ? 2000 + two_digits : 1900 + two_digits);
}

// Prints (cdisp) the time stamp in hdr::SaveTime (ms since midnight) and
// hdr::SaveDate (month×10000 + day×100 + two-digit year) in the time and
// date styles of header bytes 0x1DA (bit 7: date first; low bits: 1 ":"
// rather than "." between fields, 2 and up a 12-hour clock) and 0x1DB
// (0 M/DD/YY, 1 M/DD/YYYY, 2 D/MM/YY, 3 D/MM/YYYY, 4 YYYY-MM-DD).
void fmttd(Ws ws);

}  // namespace zema
