// An assignment in a statement that cannot end well is refused before it
// changes anything.
#pragma once

#include "interpreter/workspace/workspace.h"

namespace zema {

// From the engine, when the token register holds an assignment arrow about
// to be shifted (the stack: what stands right of the arrow, down to the
// statement's primer; the line cursor just left of the arrow). Some faults
// of a statement are met only when its left edge is reached, after every
// assignment in it has been made: a `(` or `[` without its partner, a `)`
// or `]` whose partner never comes, a → (or, right of the arrow, a control
// keyword) that is not the statement's first token, an operator or arrow
// with nothing on its left, a function or operator left rightmost or
// between the separators of a `;` list.
// When the entries pending on the stack and the tokens left of the arrow
// show such a fault, raises SYNTAX ERROR (2 2) with the caret at the
// offending token (at the arrow when that token cannot be placed), so that
// no variable changes. Reads the stack, the current line and
// hdr::LineCursor; writes hdr::TokensTaken only when it raises. Costs one
// step per pending entry and per token left of the arrow.
void refuse_doomed_assignment(Ws ws);

}  // namespace zema
