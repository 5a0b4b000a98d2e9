#include "platform/executable_dates.h"

#include <unistd.h>

#include <cstdio>

namespace zema {

namespace {
constexpr std::size_t kLongestExecutablePath = 259;

std::string own_path() {
  char buf[4096];
  const ssize_t n = ::readlink("/proc/self/exe", buf, sizeof buf);
  return n > 0 && static_cast<std::size_t>(n) < sizeof buf ? std::string(buf, static_cast<std::size_t>(n)) : std::string();
}
}  // namespace

std::string executable_directory_of(const std::string& path) {
  const std::size_t slash = path.rfind('/');
  return slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
}

std::string executable_name_of(const std::string& path) {
  if (path.size() > kLongestExecutablePath) return {};
  const std::size_t slash = path.rfind('/');
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

std::string get_executable_directory() { return executable_directory_of(own_path()); }
std::string get_executable_name() { return executable_name_of(own_path()); }

std::string get_local_date_string(const DateTimeRecord& when) {
  char text[32];
  std::snprintf(text, sizeof text, "%d-%02d-%02d", when.year, when.month, when.day);
  return text;
}

std::string get_local_time_string(const DateTimeRecord& when) {
  char text[32];
  std::snprintf(text, sizeof text, "%d:%02d:%02d", when.hour, when.minute, when.second);
  return text;
}

}  // namespace zema
