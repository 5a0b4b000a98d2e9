// Statements run without the token loop: the shapes that loops spend their
// time in, `Z←A+1`, `→L×N>R` and `:EndFor`.
#pragma once

#include "interpreter/workspace/workspace.h"

namespace zema {

// At the start of a statement of a function line (the stack: the
// statement's primer; the line cursor past its last token), runs without
// the token loop, as the loop would, and answers the next state:
// - an end keyword alone (:EndFor, :End …), handed to the control structures;
// - `NAME←expr` or `→expr`, where expr is names and one-number literals
//   joined by + − × < ≤ = ≥ > ≠ (no parentheses), every name holding a
//   boolean or integer scalar (or being a label), every result an integer
//   within 32 bits: ES_NEXT_STATEMENT after the assignment, ES_STATEMENT_END
//   after the branch. The target's value, a boolean or integer scalar the
//   name owns alone (an assignment copies), is overwritten in place; nothing
//   is allocated and no error can arise but the attention poll's INTERRUPT,
//   taken before anything is changed.
// Answers -1, having changed nothing, for any other statement, a traced
// line, immediate execution and evaluated text: the engine then runs the
// statement as written.
int fast_scalar_statement(Ws ws);

// The attention poll at the start of a statement, before any of its tokens
// is taken (the line cursor past its last token, no token taken): an
// interrupt taken here is reported as at the token loop's first poll, the
// statement current and the caret under its last token. Reads and, while
// polling, changes hdr::LineCursor and hdr::TokensTaken, restored when no
// interrupt is taken; reloads the poll countdown.
void poll_statement_start(Ws ws);
// The poll between the lines of a function, at the start of the line just
// made current (linsu): as poll_statement_start, taken while the statement
// does not yet count as started, so that a first attention is acted on here.
void poll_line_start(Ws ws);

}  // namespace zema
