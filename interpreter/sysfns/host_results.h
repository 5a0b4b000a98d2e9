// Results that the host writes as complete array objects in the
// workspace's free space (⎕PFKEY's key texts, later ⎕WI replies and the
// like), and their adoption as a system function's result.
#pragma once

#include <cstdint>

#include "interpreter/workspace/workspace.h"

namespace zema {

// The area where the host may write a result: the heap top, with `*room`
// bytes to write in. Compacts the heap when fewer than `least` bytes are
// free; WS FULL when there are still fewer. The room leaves the margin an
// allocation of the written object needs, so that adopting it makes no
// compaction of its own. Nothing is allocated.
std::uint8_t* host_result_area(std::uint32_t least, std::int32_t* room, Ws ws);

// Makes the array object the host wrote at the heap top (its size word
// at +4 counts its bytes from its start) a heap object of its own and
// pushes it as the result (quiet: not displayed). The object must lie
// within the room that host_result_area gave; a size outside it (the host
// wrote no object) is WS FULL.
void adopt_host_result(std::int32_t room, Ws ws, bool quiet = false);

}  // namespace zema
