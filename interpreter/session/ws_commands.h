// The workspace commands: )LOAD )SLOAD )XLOAD, )SAVE )SSAVE, )DROP )SDROP,
// )LIB, )CONTINUE, )CLEAR, )OFF, )WSID )SWSID, installed into the command
// dispatcher's handler table at start.
#pragma once

#include <array>
#include <cstdint>

#include "interpreter/workspace/workspace.h"

namespace zema {

// Gives the workspace commands' codes their handlers (set_command_handler).
void install_workspace_commands();

// The key probes of a command: the parsed key (8 bytes at `key`) with the
// mark (bit 0x02 of its eighth byte) set, then, when the file's lock differs,
// without it. 0 with `*answer` 0 (no file), 1 (a key fits) or −1 (neither
// fits) and `*marked` telling whether the marked form fitted; 12 after the
// probe's own message.
int probe_twice(std::uint32_t library, const std::uint8_t* name, const std::uint8_t* key, std::uint16_t flags,
                int* answer, bool* marked, Ws ws);

}  // namespace zema
