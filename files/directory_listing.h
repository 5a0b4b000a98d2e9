// The entries of a host directory, for the ⎕LIB listing.
#pragma once

#include <functional>

namespace zema {

// Calls `each` with the name of every entry of `directory` ("~" as for
// workspaces, an empty path is "."), "." and ".." included, in the order
// the host gives them, until `each` answers false. Answers 0, 1 when the
// directory does not exist, 68 when it cannot be read.
int visit_directory(const char* directory, const std::function<bool(const char* name)>& each);

}  // namespace zema
