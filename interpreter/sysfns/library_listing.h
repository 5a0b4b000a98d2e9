// ⎕LIB: the entries of a directory as a character matrix. The directory
// layer and the library table lie above the system functions, so the
// session hands them in as routes.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

#include "interpreter/sysfns/dispatch.h"
#include "interpreter/workspace/workspace.h"

namespace zema {

struct LibraryRoutes {
  // The directory of library `library` (a host path ending in "/").
  std::string (*directory)(std::uint32_t library, Ws ws) = nullptr;
  // Calls `each` with every entry name of the directory until it answers
  // false: 0, 1 when the directory does not exist, 68 when it cannot be read.
  int (*visit)(const char* directory, const std::function<bool(const char*)>& each) = nullptr;
};

// Writes the routes ⎕LIB uses (null ones: NONCE ERROR).
void set_library_routes(const LibraryRoutes& routes);

// ⎕LIB of a directory path (characters, a vector at most) or of a library
// number (one non-negative integer; DOMAIN ERROR for a negative one, for
// other types, and RANK ERROR/LENGTH ERROR for other shapes): pushes one
// row per entry of the directory, "." and ".." included, in the host's
// order, padded with blanks to the longest name; a directory that does not
// exist gives a 0-by-0 matrix. WS FULL when the matrix does not fit.
void sflib_monadic(SfArg right, Ws ws);

}  // namespace zema
