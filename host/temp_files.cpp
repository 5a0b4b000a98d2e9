// A task's two temporary files: see temp_files.h.
#include "host/temp_files.h"

#include <unistd.h>

#include <cstdlib>

#include "host/paths.h"

namespace zema {

namespace {
std::string make_one(const std::string& dir) {
  std::string name;
  const int fd = make_temp_file(dir + "/zema_XXXXXX", &name);
  if (fd < 0) return std::string();
  ::close(fd);
  return name;
}
}  // namespace

TaskTempFiles::TaskTempFiles() {
  const char* env = std::getenv("TMPDIR");
  const std::string dir = env && *env ? env : "/tmp";
  first_ = make_one(dir);
  second_ = make_one(dir);
}

TaskTempFiles::~TaskTempFiles() {
  if (!first_.empty()) ::unlink(first_.c_str());
  if (!second_.empty()) ::unlink(second_.c_str());
}

}  // namespace zema
