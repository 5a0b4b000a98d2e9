// ⎕EA and ⎕EC: text run under error control, through the evaluation
// levels of the engine.
#include "interpreter/engine/evaluation.h"
#include "interpreter/sysfns/handlers.h"
#include "interpreter/workspace/arrays.h"
#include "interpreter/workspace/errors.h"

namespace zema {

void quadea_dyadic(SfArg left, SfArg right, Ws ws) {
  (void)left;  // checked when it runs, after the right argument failed
  start_evaluation(right.slot, evk::ExecAlt, ws);
}

void quadec_monadic(SfArg right, Ws ws) {
  if (array_type(right.array(ws), ws) != ET_CHAR) domner(ws);
  start_evaluation(right.slot, evk::ExecCatch, ws);
}

}  // namespace zema
