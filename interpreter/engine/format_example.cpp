#include "interpreter/engine/format_primitive.h"
#include "interpreter/workspace/errors.h"
namespace zema {
void format_by_example(const ArrayInfo&, const ArrayInfo&, Ws ws) { noncer_1(ws); }
}
