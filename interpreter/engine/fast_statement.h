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

}  // namespace zema
