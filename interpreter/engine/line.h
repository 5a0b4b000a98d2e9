// Running one input line: the tokeniser, then the execution engine.
#pragma once

#include "interpreter/workspace/workspace.h"

namespace zema {

// Tokenises an input line of internal characters (the line-entry restart
// point: an entry error has reported itself and answers 12). Answers as the
// tokeniser does: 4 when a token line is ready in the kill slot, 8 when the
// next line is read without a prompt, any other value to prompt again.
int tokenise_input_line(const char* text, int length, Ws ws);

// Runs the engine from `state` (the execution restart point: errors go
// through the error path, and the engine goes on where it says).
void run_engine(int state, Ws ws);

// Tokenises the line and runs it; answers the tokeniser's result.
int run_input_line(const char* text, int length, Ws ws);

}  // namespace zema
