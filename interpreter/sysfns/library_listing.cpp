// ⎕LIB: see library_listing.h.
#include "interpreter/sysfns/library_listing.h"

#include <algorithm>
#include <cstring>

#include "host/charset.h"
#include "interpreter/engine/statement_end.h"
#include "interpreter/reader/tokeniser.h"
#include "interpreter/workspace/arrays.h"
#include "interpreter/workspace/errors.h"
#include "interpreter/workspace/heap.h"

namespace zema {

namespace {

LibraryRoutes g_routes;

// A directory path given as text is taken up to this many characters.
constexpr std::uint32_t kPathLimit = 260;

// The directory the argument names (a host path).
std::string directory_of(std::uint32_t a, Ws ws) {
  const std::uint8_t type = array_type(a, ws);
  if (type == ET_CHAR) {
    if (array_rank(a, ws) > 1) ranker(ws);
    const std::uint32_t n = std::min(array_count(a, ws), kPathLimit);
    const std::uint8_t* text = ws + array_data(a, ws);
    std::string path;
    for (std::uint32_t i = 0; i < n; ++i) path.push_back(static_cast<char>(fontout(text[i])));
    return path;
  }
  if (!is_numeric_type(type)) domner(ws);
  if (array_count(a, ws) != 1) ranker(ws);
  const std::int32_t library = getint(type, array_data(a, ws), ws);
  if (library < 0) domner(ws);
  return g_routes.directory(static_cast<std::uint32_t>(library), ws);
}

}  // namespace

void set_library_routes(const LibraryRoutes& routes) { g_routes = routes; }

void sflib_monadic(SfArg right, Ws ws) {
  if (!g_routes.directory || !g_routes.visit) noncer_1(ws);
  const std::string directory = directory_of(right.array(ws), ws);
  // First the shape: the entries are counted and measured, nothing kept.
  std::uint64_t rows = 0, columns = 0;
  const int rc = g_routes.visit(directory.c_str(), [&](const char* name) {
    ++rows;
    columns = std::max<std::uint64_t>(columns, std::strlen(name));
    return true;
  });
  if (rc == 1) rows = columns = 0;
  else if (rc != 0) domner(ws);
  if (rows * columns > lowglobals(ws).ws_size) ws_full(ws);
  const std::uint32_t shape[2] = {static_cast<std::uint32_t>(rows), static_cast<std::uint32_t>(columns)};
  const std::uint32_t result = new_array(ET_CHAR, 2, shape, ws);
  std::uint8_t* data = ws + array_data(result, ws);
  std::memset(data, ich::Blank, rows * columns);
  // Then the names, into the rows; a directory that changed in between
  // fills what rows it has, each name cut to the width.
  if (rows != 0) {
    std::uint64_t row = 0;
    g_routes.visit(directory.c_str(), [&](const char* name) {
      const std::uint64_t n = std::min<std::uint64_t>(std::strlen(name), columns);
      for (std::uint64_t k = 0; k < n; ++k) data[row * columns + k] = fontin(static_cast<std::uint8_t>(name[k]));
      return ++row < rows;
    });
  }
  push_result(result, ws);
}

}  // namespace zema
