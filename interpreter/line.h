// Running one input line: the tokeniser and the execution engine behind it.
#pragma once

#include "interpreter/workspace.h"

namespace zema {

// Runs an input line of internal characters. Answers as the tokeniser does:
// 4 when a statement ran, 8 when the next line is read without a prompt, any
// other value to prompt again.
int run_input_line(const char* text, int length, Ws ws);

}  // namespace zema
