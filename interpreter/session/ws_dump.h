// The workspace a SYSTEM ERROR dumps: the user's work as immediate
// execution would hold it, so that )LOAD takes it back.
#pragma once

#include <cstdint>

#include "interpreter/workspace/workspace.h"

namespace zema {

// Turns the workspace at `ws` (about to be cleared after an internal
// failure) into the state immediate execution would hold with the state
// indicator cleared: each suspended or running level's local names get
// their saved values back, the execution stack is emptied, what only the
// stack and the engine's registers held is released (as garbage, in
// place), and the engine's state words are those of immediate execution.
// Every read is bounded by the workspace; nothing is allocated in it.
// Answers true when the result passes the checks a load makes; false
// when it does not (the workspace was damaged before the failure), and
// the workspace is then as unusable as it was.
bool make_dump_loadable(Ws ws);

}  // namespace zema
