// ⎕NEW: a new instance of an APL class, as a scalar object reference.
#include <string>

#include "host/charset.h"
#include "interpreter/engine/classes.h"
#include "interpreter/engine/constructors.h"
#include "interpreter/engine/instances.h"
#include "interpreter/sysfns/handlers.h"
#include "interpreter/workspace/arrays.h"
#include "interpreter/workspace/errors.h"
#include "interpreter/workspace/integrity.h"
#include "interpreter/workspace/object_pool.h"

namespace zema {

namespace {

// The class a ⎕NEW right argument names (a name, a reference, or either as
// the first item of a nested vector whose other items are the
// constructor's argument); `more` says whether such items follow.
std::uint32_t named_class(std::uint32_t r, bool& more, Ws ws) {
  more = false;
  const std::uint8_t t = rd8(ws, r + obj::Type);
  if (t == ET_NESTED) {
    if (array_rank(r, ws) > 1 || array_count(r, ws) == 0) domner(ws);
    more = array_count(r, ws) > 1;
    r = r + rd32(ws, array_data(r, ws));
  }
  switch (rd8(ws, r + obj::Type)) {
    case ET_CHAR:
      if (array_rank(r, ws) > 1) return 0;
      return class_def_from_name(ws + array_data(r, ws), array_count(r, ws), ws);
    case ET_OBJREF: return class_def_from_obj_ref_array(r, true, ws);
    default: return 0;
  }
}

void new_common(SfArg right, Ws ws) {
  bool more = false;
  const std::uint32_t cls = named_class(right.array(ws), more, ws);
  if (cls == 0) domner(ws);
  if (rd8(ws, cls + pobj::Flags) & kStandsForExternal) noncer_1(ws);  // external architectures are not served
  if (rd8(ws, right.array(ws) + obj::Type) == ET_OBJREF && array_count(right.array(ws), ws) > 1) more = true;
  const std::uint32_t cls_slot = rd32(ws, cls + pobj::OwnSlot);
  std::uint8_t kind = 0;
  const std::uint16_t ctor = internal_find_constructor(cls_slot, kind, ws);
  if (ctor != 0 && kind == 0 && more)
    raise_extended_error_ascii(E_VALENCE, "Unexpected argument supplied to niladic constructor", ws);
  const std::uint32_t slot = create_apl_instance(cls_slot, ws);
  // The reference pushed takes the instance's first reference when it settles.
  const std::uint32_t z = new_array(ET_OBJREF, 0, nullptr, ws);
  wr32(ws, z + obj::Shape, slot);
  push_result(z, ws);
  if (ctor != 0) internal_run_constructor(slot, ctor, kind, right.slot, ws);
}

}  // namespace

void sfnew_monadic(SfArg right, Ws ws) { new_common(right, ws); }

void sfnew_dyadic(SfArg left, SfArg right, Ws ws) {
  const std::uint32_t l = left.array(ws);
  if (rd8(ws, l + obj::Type) == ET_CHAR) {
    std::string name;
    for (std::uint32_t i = 0; i < array_count(l, ws); ++i) name += static_cast<char>(rd8(ws, array_data(l, ws) + i));
    // "apl" in any case.
    const std::string upper = utf8_to_internal("APL"), lower = utf8_to_internal("apl");
    bool apl = name.size() == 3;
    for (std::size_t i = 0; i < 3 && apl; ++i) apl = name[i] == upper[i] || name[i] == lower[i];
    if (!apl) noncer_1(ws);  // ⎕ and external architectures are not served
  } else {
    if (array_count(l, ws) != 1) lener(ws);
    const std::uint8_t t = rd8(ws, l + obj::Type);
    if (t != ET_INT && t != ET_BOOL) domner(ws);
    const std::uint32_t v = t == ET_BOOL ? rd32(ws, array_data(l, ws)) >> 31 : rd32(ws, array_data(l, ws));
    if (v != 0) noncer_1(ws);
  }
  new_common(right, ws);
}

}  // namespace zema
