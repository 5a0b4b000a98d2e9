// Clocks of the host: a monotonic millisecond count for elapsed times, and
// the time-of-day and date words of the local clock.
//
// Everything here may be called on any thread.
#pragma once

#include <cstdint>
#include <ctime>

namespace zema {

// Milliseconds on a clock that never goes back and does not jump at
// midnight or when the system time is set; only differences mean anything.
std::uint64_t monotonic_ms();

// The two time words of a broken-down local time `local` plus `microseconds`
// into its second: words[0] ← milliseconds since midnight, words[1] ← the
// date as month × 10000 + day × 100 + the two-digit year.
void time_words_from(const std::tm& local, long microseconds, std::uint32_t words[2]);

// (Declared with the other services: get_system_time refreshes the calling
// thread's two words from the local clock through time_words_from.)

}  // namespace zema
