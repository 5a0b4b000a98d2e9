// The program's start-up and life: refuses to run without a packaged
// application (ZEMA_PLAY), applies the command line, makes the local task,
// runs it on its thread under the GUI event loop and answers the exit
// status: 0 when the application ended, 1 when it could not start, failed
// to load or stopped with an error.
#pragma once

#include <string>
#include <vector>

#include "host/settings.h"

namespace zema {

// Applies the command line `args` (after the program's name) to
// `settings`, validates them and makes the font pair of the charset
// setting current. False, `*error` naming the option, as Settings::process
// answers.
bool apply_command_line(const std::vector<std::string>& args, Settings* settings, std::string* error);

// A ZEMA_PLAY that names no sound package (missing, unreadable, damaged) is
// refused with a message naming the file and what is wrong, status 1.
int run_program(int argc, char** argv);

}  // namespace zema
