#include "host/paths.h"

#include <stdlib.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>

namespace zema {

std::string apl_path_for(const std::string& exe_directory, const char* directory, const char* file) {
  std::string root = "/usr/local/zema/";
  const std::size_t n = exe_directory.size();
  if (n >= 5 && exe_directory.compare(n - 5, 5, "/bin/") == 0) root = exe_directory.substr(0, n - 4);
  return root + (directory ? directory : "") + "/" + (file ? file : "");
}

std::string get_apl_path(const char* directory, const char* file) {
  char exe[4096];
  const ssize_t n = ::readlink("/proc/self/exe", exe, sizeof exe - 1);
  std::string dir;
  if (n > 0) {
    dir.assign(exe, static_cast<std::size_t>(n));
    dir.erase(dir.find_last_of('/') + 1);
  }
  return apl_path_for(dir, directory, file);
}

std::string get_home_path(const char* file) {
  const char* home = std::getenv("HOME");
  if (!home || std::strlen(home) >= 260) return {};
  std::string path = home;
  if (path.empty() || path.back() != '/') path += '/';
  if (file) path += file;
  return path;
}

const std::int32_t* version() {
  static const std::int32_t record[10] = {4, 1, 12, 80386, 2, 2100, 1, 0, 0, 0};
  return record;
}

int make_temp_file(const std::string& pattern, std::string* name) {
  std::string buffer = pattern;
  const int fd = ::mkstemp(buffer.data());
  if (fd >= 0) *name = buffer;
  return fd;
}

int text_iconv_open(const char* to, const char* from) {
  if (from && std::strncmp(from, "UN", 2) == 0) return 1;
  if (to && std::strncmp(to, "UN", 2) == 0) return 0;
  return -1;
}

int text_iconv(int handle, const char** in, std::size_t* in_left, char** out, std::size_t* out_left) {
  if (handle == 0) {
    while (*in_left >= 1 && *out_left >= 2) {
      (*out)[0] = **in;
      (*out)[1] = 0;
      *in += 1;
      *in_left -= 1;
      *out += 2;
      *out_left -= 2;
    }
  } else {
    while (*in_left >= 2 && *out_left >= 1) {
      **out = (*in)[0];
      *in += 2;
      *in_left -= 2;
      *out += 1;
      *out_left -= 1;
    }
  }
  return 0;
}

int text_iconv_close(int) { return 0; }

}  // namespace zema
