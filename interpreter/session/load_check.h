// The check a loaded image passes before it replaces the workspace, on top
// of the integrity check (check_integrity): everything that execution,
// display and saving follow without checking again. Every object's
// structure (array headers and shapes against sizes, nested items inside
// their container, token lines statement by statement and token by token,
// pooled instances and classes with their member tables, the pool), every
// link from a place that names an object to that object (symbol values and
// name objects, a function's line chain, member values, the header's object
// words, the state indicator's frames and local records), and the header's
// engine and session state words against what a workspace can be saved
// with.
#pragma once

#include <cstdint>

#include "interpreter/workspace/workspace.h"

namespace zema {

// Checks the workspace at `ws` (an image just copied in, its stack placed
// and the integrity check passed). Reads only; answers 0 when every check
// holds, else the number of the first check that failed (for tests and
// reports; the loader refuses the image as WS INVALID). Keeps a map of the
// heap's live objects in host memory while it runs.
int check_loaded_image(Ws ws);

}  // namespace zema
