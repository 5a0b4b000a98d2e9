// The display text of an object reference.
#pragma once

#include <cstdint>
#include <string>

#include "interpreter/workspace/workspace.h"

namespace zema {

// The text an object reference to `slot` displays as, in internal
// characters: "[NULL OBJECT]" for slot 0, "[OBJ n NO INST???]" for a free
// slot; an object with a ⎕DF text shows that text (a character scalar or
// vector, at most 40 characters; anything else "[INVALID DEFAULT FMT]")
// unless `forced`; an APL instance shows its class name in brackets, a
// class its name in braces ("DELETED CLASS" when the class is gone); any
// other object "[OBJ n REFS:k]". Reads the pool, the object and the
// symbol table; writes nothing.
std::string object_display_text(std::uint32_t slot, bool forced, Ws ws);

}  // namespace zema
