// Outer and inner products whose operand is a defined function: the
// operand is called through an operator frame (operator_frame.h), one call
// per pair, and the engine resumes the product by the frame's kind.
#pragma once

#include "interpreter/workspace/workspace.h"

namespace zema {

// The operands are pushed for each call by push_operand_at (a derived one
// as a fresh copy); f/ holds a copy of f.

// L∘.g R for a defined g (or one the engine must run), with L on top, the derived function under it and
// R below (descriptors set): pushes a kOuterDefined frame (word 1 the pair
// count, word 2 the pairs done, words 15 and 16 R's item count and the
// right items left in the current row) and the first call Lᵢ g Rⱼ, and
// answers the state that applies it. An empty result calls nothing: its
// prototype is R's, cleared. SYSTEM LIMIT for more than 63 result axes,
// WS FULL for a pair count beyond 32 bits.
int outer_defined(Ws ws);

// L f.g R where f or g (or both) is a defined function (or one the engine
// must run, or f carries an axis), in the same stack
// picture: item (i, j) of the result is f/ (row i of L) g (column j of R),
// a scalar argument taken as a vector of one item. Pushes a kInnerOperand
// frame (word 1 the result count, word 2 the results done, word 10 the
// columns of R, words 11 and 12 L's last and R's first length) and the
// first call of g, and answers the state that applies it; g and f/ are both
// applied by the engine, whether primitive or defined. DOMAIN ERROR for an
// empty result (f/ over no items has no function to give the prototype),
// VALENCE ERROR for a primitive operand without a dyadic form, SYSTEM LIMIT
// for more than 63 result axes.
int inner_defined(Ws ws);

// Resumed by x_do_next_opr with the operand's result on the link.
// outer_return collects it and makes the next pair's call, or after the
// last replaces the frame by the results made one array of shape (⍴L),⍴R
// (the no-value entry when some call gave none). inner_operand_return
// applies f/ to g's result (kind kInnerReduce; VALUE ERROR when g gave no
// value); inner_reduce_return collects f/'s result and makes the next
// element's call of g (kind kInnerOperand), or after the last replaces the
// frame by the results made one array of shape (¯1↓⍴L),1↓⍴R. Each answers
// the engine state.
int outer_return(Ws ws);
int inner_operand_return(Ws ws);
int inner_reduce_return(Ws ws);

}  // namespace zema
