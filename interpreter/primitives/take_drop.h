// Dyadic ↑ (take) and ↓ (drop), with or without an axis.
#pragma once

#include "interpreter/primitives/primitive_call.h"
#include "interpreter/workspace/workspace.h"

namespace zema {

// L↑R and L↑[K]R: reads L and R through the call's descriptors and pushes
// the result (oprslt). L gives one count per axis of R (or, with K, per
// axis named there; the other axes are taken whole): a positive count takes
// from the start of the axis, a negative one from its end; a count beyond
// the length pads with R's fill (blanks for characters, zeros for other
// simple types, for a nested R the prototype of the first item of each row
// that receives items, else of R's first item). A scalar R counts as one of
// length 1 on every axis. Raises DOMAIN ERROR (nested or non-integer L),
// RANK ERROR (L of rank above 1, an axis on a scalar R), LENGTH ERROR (L
// empty or longer than 63 without an axis, or not one count per axis of
// R), AXIS ERROR (a bad axis, or not one axis per count), WS FULL (the
// result does not fit; found from the sizes before anything is built).
void take_dyadic(const PrimitiveCall& c, Ws ws);
// L↓R and L↓[K]R: drops |L| elements from the start (positive) or end
// (negative) of each axis, unnamed axes dropping none; the part kept is
// taken as by take_dyadic, with the same checks and errors.
void drop_dyadic(const PrimitiveCall& c, Ws ws);

}  // namespace zema
