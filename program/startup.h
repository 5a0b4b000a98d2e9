// The program's start-up and life: refuses to run without a packaged
// application (ZEMA_PLAY), applies the command line, makes the local task,
// runs it on its thread under the GUI event loop and answers the exit
// status: 0 when the application ended, 1 when it could not start, failed
// to load or stopped with an error.
#pragma once

namespace zema {

int run_program(int argc, char** argv);

}  // namespace zema
