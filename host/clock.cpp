#include "host/clock.h"

#include <time.h>

#include "host/services.h"

namespace zema {

std::uint64_t monotonic_ms() {
  timespec ts{};
  ::clock_gettime(CLOCK_MONOTONIC, &ts);
  return static_cast<std::uint64_t>(ts.tv_sec) * 1000u + static_cast<std::uint64_t>(ts.tv_nsec) / 1000000u;
}

void time_words_from(const std::tm& local, long microseconds, std::uint32_t words[2]) {
  words[0] = static_cast<std::uint32_t>(((local.tm_hour * 60 + local.tm_min) * 60 + local.tm_sec) * 1000 +
                                        microseconds / 1000);
  const int year = local.tm_year > 99 ? local.tm_year - 100 : local.tm_year;
  words[1] = static_cast<std::uint32_t>((local.tm_mon + 1) * 10000 + local.tm_mday * 100 + year % 100);
}

const std::uint32_t* get_system_time() {
  static thread_local std::uint32_t words[2];
  timespec ts{};
  ::clock_gettime(CLOCK_REALTIME, &ts);
  const time_t secs = ts.tv_sec;
  std::tm local{};
  ::localtime_r(&secs, &local);
  time_words_from(local, ts.tv_nsec / 1000, words);
  return words;
}

}  // namespace zema
