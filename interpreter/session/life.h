// The session's start and the workspace's life as a whole: the entry `apl`,
// clear, resize, packing, paths and the internal-failure exit.
#pragma once

#include <cstdint>

#include "interpreter/workspace/workspace.h"

namespace zema {

// Thrown to (re-)enter the immediate-execution loop from any depth; carries
// the workspace base, which a resize changes.
struct EnterImmediate {
  Ws ws;
};

// The one entry point: lays out LowGlobals and the workspace in `memory`,
// takes the host's start-up facts, clears the workspace and runs immediate
// execution. Never returns (the host ends the task from inside).
[[noreturn]] void apl(std::uint8_t* memory, std::uint32_t size, const char* startup_ws, std::uint8_t** ws_out,
                      std::uint32_t task_id);

// Steps of `apl` before the first clear: LowGlobals laid out and filled from
// the host's names and preferences. Answers the workspace base.
Ws apl_setup(std::uint8_t* memory, std::uint32_t size, const char* startup_ws, std::uint32_t task_id);

// Clears the workspace in place (header, symbol table, heap and stack).
void clear_workspace(Ws ws);
// Clears, announces CLEAR WS (unless a start-up workspace is pending) and
// enters immediate execution.
[[noreturn]] void sup_clear(Ws ws);
[[noreturn]] void resize_ws(std::uint32_t new_size, Ws ws);
std::uint32_t pkws(Ws ws);
void unpkws(Ws ws);

// Path building in the path buffer of LowGlobals. `name` points at a length
// byte followed by internal characters.
std::uint32_t libset(std::uint32_t library, Ws ws);
const char* wsset(std::uint32_t library, std::uint32_t flags, const std::uint8_t* name, Ws ws);
const char* wsset_temp(Ws ws);
// Writes the name (and, unless flags bit 15 is set, the extension) into the
// path buffer from position `start`.
const char* mvwsid(std::uint32_t start, std::uint32_t flags, const std::uint8_t* name, Ws ws);

// SYSTEM ERROR at `file`[`line`]: the location in the header, a dump of the
// workspace when it can be written, the report, a clear. The handler that
// `apl_setup` installs for `sup_syser`.
[[noreturn]] void system_error(const char* file, int line, Ws ws);

}  // namespace zema
