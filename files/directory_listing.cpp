// The entries of a host directory: see directory_listing.h.
#include "files/directory_listing.h"

#include <dirent.h>

#include <cerrno>
#include <string>

#include "files/wsfiles.h"

namespace zema {

int visit_directory(const char* directory, const std::function<bool(const char* name)>& each) {
  const std::string path = workspace_host_path(directory);
  DIR* d = ::opendir(path.empty() ? "." : path.c_str());
  if (!d) return errno == ENOENT || errno == ENOTDIR ? 1 : 68;
  while (const dirent* entry = ::readdir(d))
    if (!each(entry->d_name)) break;
  ::closedir(d);
  return 0;
}

}  // namespace zema
