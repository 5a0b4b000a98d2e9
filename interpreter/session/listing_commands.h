// The listing, setting, erase and group commands: )ORIGIN )DIGITS )WIDTH
// )SYMBOLS )TABS )CS show or set a setting; )FNS )VARS )OPS )GRPS )NMS
// )CLASSES list names by class; )ERASE )GROUP )GRP )REPARENT; )TIME and
// )EDIT. Installed into the command dispatcher's handler table at start.
#pragma once

#include <cstdint>
#include <string>

#include "interpreter/workspace/workspace.h"

namespace zema {

// Gives these commands' codes their handlers (set_command_handler).
void install_listing_commands();

// Whether the name `name` (internal characters, blank-padded or not) lies
// within the limits of a listing: not below `first` (compared over the
// longer of the two, blanks padding the shorter) and, when `last` is not
// empty, not above `last` over `last`'s own length (so the last limit acts
// as a prefix). An empty `first` admits every name.
bool name_within_limits(const std::string& name, const std::string& first, const std::string& last);

}  // namespace zema
