// Methods of the class being defined: a ∇ definition made while a class is
// open in class-definition mode (hdr::ClassWord names it) is a member of
// that class, not a workspace function. The member entry's value word owns
// the header line (owner kind OK_WORD), which owns the body lines through
// their next-line words; the entry's kind is the function's symbol type
// (0–2, an operator 11–14); the entry counts one use of the name's symbol.
#pragma once

#include <cstdint>

#include "interpreter/workspace/workspace.h"

namespace zema {

// The class object named by hdr::ClassWord, 0 when none is being defined.
std::uint32_t defining_class(Ws ws);

// The own member entry for `token` of the class being defined (ancestors
// not searched): its address, valid until the next allocation; 0 when
// there is no such member or no class.
std::uint32_t defining_class_member(std::uint16_t token, Ws ws);

// The header line in the kill slot becomes the value of the member `token`
// of the class being defined, with kind `type`: a new member is appended
// (the class grows when it has no room), a property without a value turns
// into the method, and an existing method's lines are released first. The
// line's header word and local count are the caller's. Answers 0, or 12
// (nothing changed) when no class is being defined or the member is a
// property with a value. May compact; WS FULL.
int take_method_header(std::uint16_t token, std::uint8_t type, Ws ws);

// The member `from` of the class being defined is renamed `to` (the entry
// takes a use of `to` and gives up its use of `from`). Answers 0, 12 when
// `to` is a member already, 28 when `from` is none.
int rename_defining_member(std::uint16_t from, std::uint16_t to, Ws ws);

}  // namespace zema
