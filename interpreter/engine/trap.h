// The trap steps of the error path that send an error to a line of the
// running function: the :Try block around the failing line, else the ⎕ERX
// line.
#pragma once

#include "interpreter/workspace/workspace.h"

namespace zema {

// For an error `code` at a level whose trap word is armed (and that runs a
// function's line or an executed text): the catch line of the enclosing
// :Try block, or else the ⎕ERX line (the trap word's low 24 bits). When
// one is found the error's message is composed (for ⎕EM), the line and the
// statement's stack are released and the answer is the engine state that
// runs that line; else -1 and the error goes on to be displayed.
int trap_error(int code, Ws ws);

}  // namespace zema
