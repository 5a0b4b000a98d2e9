// A value written as an APL expression that rebuilds it (the form-2
// writer of ⎕TF): numbers with 15 significant digits, characters quoted,
// "S⍴" shape prefixes, ⊂ and parenthesised items.
#pragma once

#include <cstdint>

#include "interpreter/sysfns/capture.h"

namespace zema {

// Writes the expression for the array `a` at the capture's cursor (a
// TextCapture alive). Answers false, writing nothing, when the value holds
// anything but numbers and characters; DEPTH ERROR beyond 100 levels of
// nesting; WS FULL when the text does not fit.
bool write_value_text(std::uint32_t a, const TextCapture& capture, Ws ws);

}  // namespace zema
