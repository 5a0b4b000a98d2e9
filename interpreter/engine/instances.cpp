#include "interpreter/engine/instances.h"

#include <algorithm>
#include <cstring>
#include <string>

#include "interpreter/engine/classes.h"
#include "interpreter/workspace/arrays.h"
#include "interpreter/workspace/errors.h"
#include "interpreter/workspace/integrity.h"
#include "interpreter/workspace/object_pool.h"
#include "interpreter/workspace/symtab.h"

namespace zema {

namespace {

constexpr std::uint32_t kClassNameMax = 30;

std::uint32_t entry_at(std::uint32_t off, std::uint32_t i) { return off + pobj::Entries + mentry::Size * i; }

// The class of an APL object (a class its own), 0 for none.
std::uint32_t class_of(std::uint32_t slot, Ws ws) {
  if (!object_slot_live(slot, ws)) return 0;
  const std::uint32_t off = find_object_instance(slot, ws);
  if (rd8(ws, off + pobj::Arch) != 0) return 0;
  if (rd8(ws, off + obj::Type) == ET_CLASS) return off;
  return class_in_slot(rd32(ws, off + pobj::ClassSlot), ws);
}

}  // namespace

std::uint32_t class_def_from_name(const std::uint8_t* text, std::uint32_t n, Ws ws) {
  while (n > 0 && text[n - 1] == 0x20) --n;
  while (n > 0 && text[0] == 0x20) ++text, --n;
  if (n == 0 || n > kClassNameMax) return 0;
  std::uint32_t first_free = 0, found = 0;
  std::memcpy(ws + kNameBuffer, text, n);
  if (symfnd(first_free, found, n, ws) != 0) return 0;
  return class_def_from_symidx(static_cast<std::uint16_t>(token_of_table_offset(found)), ws);
}

std::uint32_t class_def_from_obj_ref_array(std::uint32_t array, bool any_length, Ws ws) {
  if (rd8(ws, array + obj::Type) != ET_OBJREF) return 0;
  const std::uint32_t n = array_count(array, ws);
  if (n == 0 || array_rank(array, ws) > 1 || (n > 1 && !any_length)) return 0;
  const std::uint32_t slot = rd32(ws, array_data(array, ws));
  if (!object_slot_live(slot, ws)) return 0;
  const std::uint32_t off = find_object_instance(slot, ws);
  if (rd8(ws, off + obj::Type) == ET_CLASS || (rd8(ws, off + pobj::Flags) & kStandsForExternal)) return off;
  return 0;
}

std::uint32_t create_apl_instance(std::uint32_t cls_slot, Ws ws) {
  std::uint32_t cls = class_in_slot(cls_slot, ws);
  if (cls == 0) domner(ws);
  if (rd32(ws, cls + pobj::NameSymbol) == 0)
    raise_extended_error_ascii(E_DOMAIN, "Cannot create instance - class has been deleted", ws);
  const std::uint32_t off = create_object_instance(kNewInstanceSize, ws);
  cls = class_in_slot(cls_slot, ws);  // the allocation may have moved it
  wr8(ws, off + pobj::Arch, 0);
  wr32(ws, off + pobj::ClassSlot, cls_slot);
  wr32(ws, off + pobj::NameSymbol, rd32(ws, cls + pobj::NameSymbol));
  return rd32(ws, off + pobj::OwnSlot);
}

std::uint16_t internal_find_constructor(std::uint32_t slot, std::uint8_t& kind, Ws ws) {
  std::uint32_t cls = class_of(slot, ws);
  for (std::uint32_t steps = object_pool(ws) ? rd32(ws, object_pool(ws) + pool::Capacity) : 0; cls != 0 && steps > 0;
       --steps) {
    const std::uint32_t name = rd32(ws, cls + pobj::NameSymbol);
    if (name == 0) return 0;
    const auto token = static_cast<std::uint16_t>(token_of_table_offset(name));
    const int i = own_member_index(cls, token, ws);
    if (i >= 0) {
      kind = rd8(ws, entry_at(cls, static_cast<std::uint32_t>(i)) + mentry::Kind);
      return kind <= 2 ? token : 0;
    }
    cls = class_in_slot(rd32(ws, cls + pobj::ParentSlot), ws);
  }
  return 0;
}

int internal_find_instance_property(std::uint32_t off, std::uint16_t token, Ws ws) {
  if (rd8(ws, off + obj::Type) != ET_INSTANCE || rd32(ws, off + pobj::ClassSlot) == 0) return -1;
  const std::uint32_t n = rd32(ws, off + pobj::Count);
  for (std::uint32_t i = 0; i < n; ++i)
    if (rd16(ws, entry_at(off, i) + mentry::Token) == token) return static_cast<int>(i);
  return -1;
}

void internal_quad_nl(std::uint32_t mask, std::uint32_t slot, Ws ws) {
  // Calls f(symbol token) for each member listed: public, of a name class
  // asked for, and not hidden by a member of the same name nearer the object.
  auto visit = [&](auto&& f) {
    const std::uint32_t start = class_of(slot, ws);
    std::uint32_t cls = start;
    for (std::uint32_t steps = object_pool(ws) ? rd32(ws, object_pool(ws) + pool::Capacity) : 0;
         cls != 0 && steps > 0; --steps) {
      if (rd32(ws, cls + pobj::NameSymbol) == 0) break;
      const std::uint32_t n = rd32(ws, cls + pobj::Count);
      for (std::uint32_t i = 0; i < n; ++i) {
        const std::uint32_t e = entry_at(cls, i);
        const std::uint16_t token = rd16(ws, e + mentry::Token);
        bool hidden = false;
        for (std::uint32_t c = start; c != cls && !hidden; c = class_in_slot(rd32(ws, c + pobj::ParentSlot), ws))
          hidden = own_member_index(c, token, ws) >= 0;
        if (hidden || (rd8(ws, e + mentry::Access) & (kPrivate | kClassWide))) continue;
        const std::uint8_t kind = rd8(ws, e + mentry::Kind);
        const int name_class = kind == SYM_VAR || kind == SYM_UNDEF ? 2 : kind <= 2 ? 3 : 4;
        if (mask & (1u << name_class)) f(token);
      }
      cls = class_in_slot(rd32(ws, cls + pobj::ParentSlot), ws);
    }
  };
  std::uint32_t rows = 0, width = 0;
  visit([&](std::uint16_t token) {
    ++rows;
    width = std::max<std::uint32_t>(width, rd8(ws, entry_of_token(token) + sym::Length));
  });
  const std::uint32_t shape[2] = {rows, width};
  const std::uint32_t z = new_array(ET_CHAR, 2, shape, ws);
  push_result(z, ws);
  const std::uint32_t data = array_data(z, ws);  // nothing below allocates
  std::memset(ws + data, 0x20, std::size_t{rows} * width);
  std::uint32_t row = 0;
  visit([&](std::uint16_t token) {
    const std::string name = symbol_name(entry_of_token(token), ws);
    std::memcpy(ws + data + row++ * width, name.data(), std::min<std::size_t>(name.size(), width));
  });
  // Rows sorted in place (a class has few members).
  auto less = [&](std::uint32_t a, std::uint32_t b) {
    return std::memcmp(ws + data + a * width, ws + data + b * width, width) < 0;
  };
  std::uint8_t* tmp = ws + kNameBuffer;  // a name is at most 30 characters wide here
  for (std::uint32_t i = 1; i < rows && width <= 30; ++i)
    for (std::uint32_t k = i; k > 0 && less(k, k - 1); --k) {
      std::memcpy(tmp, ws + data + k * width, width);
      std::memcpy(ws + data + k * width, ws + data + (k - 1) * width, width);
      std::memcpy(ws + data + (k - 1) * width, tmp, width);
    }
}

}  // namespace zema
