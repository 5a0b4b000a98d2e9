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
// Asks the host for a block of `new_size` bytes (WS FULL, the workspace
// untouched, when it refuses), moves the side state to the new base and
// clears there.
[[noreturn]] void resize_ws(std::uint32_t new_size, Ws ws);
// Packs the execution stack down against the heap top, for saving: answers
// the offset of the end of the packed block. unpkws moves it back up under
// hdr::Top.
std::uint32_t pkws(Ws ws);
// Moves the packed stack (hdr::Top − stack pointer bytes, from the heap
// top) back to the stack pointer; nothing else is changed.
void unpkws(Ws ws);

// Path building in the path buffer of LowGlobals. `name` points at a length
// byte followed by internal characters.
// libset writes library `library`'s folder (99: the home folder) and
// answers its length.
std::uint32_t libset(std::uint32_t library, Ws ws);
// The whole path of workspace file `name` in `library` with the current
// extension (flags bit 15: `name` is the whole path); for the temporary
// extensions, the host's temporary name instead. Answers the path buffer.
const char* wsset(std::uint32_t library, std::uint32_t flags, const std::uint8_t* name, Ws ws);
// The host's first temporary name (for the .atm extension) or its second
// into the path buffer; answers it.
const char* wsset_temp(Ws ws);
// Writes the name (and, unless flags bit 15 is set, the extension) into the
// path buffer from position `start`.
const char* mvwsid(std::uint32_t start, std::uint32_t flags, const std::uint8_t* name, Ws ws);

// SYSTEM ERROR at `file`[`line`]: the location in the header, a dump of the
// workspace when it can be written, the report, a clear. The handler that
// `apl_setup` installs for `sup_syser`.
[[noreturn]] void system_error(const char* file, int line, Ws ws);

}  // namespace zema
