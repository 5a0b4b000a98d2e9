// Reduction and scan with a defined or derived function as the operand,
// called through an operator frame.
#pragma once

#include <cstdint>

#include "interpreter/workspace/workspace.h"

namespace zema {

// f/R, f⌿R, f\R, f⍀R for a defined or derived f, or a primitive with an
// axis (pushed as a copy of its own for every call), with the derived function under the
// placeholder on top and R under it. An axis of length 1, and every first
// element of a scan, are results without a call; otherwise pushes an
// operator frame (kind kReduceDefined or kScanDefined, R's value word as
// its caller value, the axis in the placeholder under it) and the first
// call x[i] f acc, taking the row right to left, and answers the state
// that applies it. An empty result is made without a call. DOMAIN ERROR for
// an empty axis of a reduction (a defined function has no identity), AXIS
// ERROR for an axis beyond R's rank.
int reduce_defined_monadic(Ws ws);

// L f/R, L f⌿R for a defined f (n-wise reduction), with the left argument
// on top, the derived function under it and R below, L already read as the
// window `window`: each window of |window| neighbours along the axis is
// reduced right to left (a negative window: reversed, from its first
// element). LENGTH ERROR for a window beyond the axis length + 1; an empty
// result is made without a call, a window of 1 gives R's items without a
// call, a window of 0 is a DOMAIN ERROR (no identity). Otherwise L's entry
// is released (the axis is kept in its slot), a kReduceDefined frame is
// pushed with the first call, and the state that applies it is answered.
int reduce_defined_dyadic(std::int32_t window, Ws ws);

// Resumed by x_do_next_opr with the operand's result on the link: the
// result becomes the next call's accumulator while the row has steps
// left, else it is collected and the next row (element) begins; after the
// last, the frame is replaced by the results made one array (R's shape
// without the axis for a reduction, with it of length n−w+1 for an n-wise
// one, R's shape for a scan; the no-value
// entry when some call gave no value) and state 2 is answered.
int reduce_return(Ws ws);
int scan_return(Ws ws);

}  // namespace zema
