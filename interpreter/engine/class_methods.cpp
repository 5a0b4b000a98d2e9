#include "interpreter/engine/class_methods.h"

#include "interpreter/engine/classes.h"
#include "interpreter/workspace/errors.h"
#include "interpreter/workspace/heap.h"
#include "interpreter/workspace/object_pool.h"
#include "interpreter/workspace/symtab.h"

namespace zema {

std::uint32_t defining_class(Ws ws) {
  const std::uint16_t name = rd16(ws, hdr::ClassWord);
  return name != 0 ? class_def_from_symidx(name, ws) : 0;
}

std::uint32_t defining_class_member(std::uint16_t token, Ws ws) {
  const std::uint32_t cls = defining_class(ws);
  if (cls == 0) return 0;
  const int i = own_member_index(cls, token, ws);
  return i < 0 ? 0 : cls + pobj::Entries + mentry::Size * static_cast<std::uint32_t>(i);
}

int take_method_header(std::uint16_t token, std::uint8_t type, Ws ws) {
  const std::uint32_t cls = defining_class(ws);
  if (cls == 0 || rd32(ws, hdr::KillSlot) == 0) return 12;
  std::uint32_t me = defining_class_member(token, ws);
  if (me != 0) {
    const std::uint8_t kind = rd8(ws, me + mentry::Kind);
    if (kind != SYM_UNDEF && !is_function_type(kind)) return 12;
    release_member_value(me, ws);
    wr8(ws, me + mentry::Kind, SYM_UNDEF);
  } else {
    // A new member without a value first: the room (and the name's use)
    // come from the property routine, which may move the class.
    if (set_named_class_property(rd32(ws, cls + pobj::OwnSlot), token, 0, ws) != 0) return 12;
    me = defining_class_member(token, ws);
    if (me == 0) ZEMA_SYSTEM_ERROR(ws);
  }
  const std::uint32_t line = rd32(ws, hdr::KillSlot);
  wr32(ws, hdr::KillSlot, 0);
  wr32(ws, me + mentry::Value, line);
  wr8(ws, me + mentry::Kind, type);
  set_owner(line, me + mentry::Value, OK_WORD, ws);
  stamp_class(defining_class(ws), ws);
  return 0;
}

int rename_defining_member(std::uint16_t from, std::uint16_t to, Ws ws) {
  if (from == to) return 0;
  if (defining_class_member(to, ws) != 0) return 12;
  const std::uint32_t me = defining_class_member(from, ws);
  if (me == 0) return 28;
  const std::uint32_t e = entry_of_token(to);
  if (rd16(ws, e + sym::Uses) == kMaxUses) error(E_SYSTEM_LIMIT, 0, 0, ws);
  wr16(ws, e + sym::Uses, rd16(ws, e + sym::Uses) + 1);
  wr16(ws, me + mentry::Token, to);
  clnuse(from, ws);
  stamp_class(defining_class(ws), ws);
  return 0;
}

}  // namespace zema
