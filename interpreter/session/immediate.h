// The immediate-execution loop: prompt, read a line, run it, again.
#pragma once

#include "interpreter/workspace/workspace.h"

namespace zema {

// Runs until the host ends the task; left only by exceptions.
[[noreturn]] void intent(Ws ws);

}  // namespace zema
