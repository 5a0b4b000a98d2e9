// Bracket lists: collecting [e1;e2;…] into an index list.
#pragma once

#include "interpreter/workspace/workspace.h"

namespace zema {

// Collects the entries down to the terminator class (4 for ], 5 for )) into
// an index list that replaces the terminator's entry. Answers 1 when some
// position is elided.
int bndx(int terminator, Ws ws);
// "[" reached: builds the index list.
int do_xbuild_index(Ws ws);
// "[]".
int do_xempty_index(Ws ws);
// "(" reached over a semicolon list.
int do_xbuild_nest(Ws ws);

}  // namespace zema
