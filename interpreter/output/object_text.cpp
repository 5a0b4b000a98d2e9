#include "interpreter/output/object_text.h"

#include "host/charset.h"
#include "interpreter/workspace/arrays.h"
#include "interpreter/workspace/object_pool.h"
#include "interpreter/workspace/symtab.h"

namespace zema {

namespace {

constexpr std::uint32_t kDisplayTextMax = 40;

// The name of the class an APL object belongs to (a class its own), empty
// when the class is gone.
std::string class_name_of(std::uint32_t off, Ws ws) {
  std::uint32_t cls = off;
  if (rd8(ws, off + obj::Type) != ET_CLASS) {
    const std::uint32_t s = rd32(ws, off + pobj::ClassSlot);
    cls = object_slot_live(s, ws) ? find_object_instance(s, ws) : 0;
  }
  if (cls == 0 || rd8(ws, cls + obj::Type) != ET_CLASS) return {};
  // An instance keeps the class-name symbol it was made with; a deleted
  // class has none.
  const std::uint32_t name = rd32(ws, off + pobj::NameSymbol);
  if (name == 0 || rd32(ws, cls + pobj::NameSymbol) == 0) return {};
  return symbol_name(entry_of_table_offset(name), ws);
}

}  // namespace

std::string object_display_text(std::uint32_t slot, bool forced, Ws ws) {
  if (slot == 0) return utf8_to_internal("[NULL OBJECT]");
  if (!object_slot_live(slot, ws)) return utf8_to_internal("[OBJ " + std::to_string(slot) + " NO INST???]");
  const std::uint32_t off = find_object_instance(slot, ws);
  if (const std::uint32_t text = rd32(ws, off + pobj::DisplayText); text != 0 && !forced) {
    if (rd8(ws, text + obj::Type) != ET_CHAR || array_rank(text, ws) > 1)
      return utf8_to_internal("[INVALID DEFAULT FMT]");
    std::uint32_t n = array_count(text, ws);
    if (n > kDisplayTextMax) n = kDisplayTextMax;
    return std::string(reinterpret_cast<const char*>(ws + array_data(text, ws)), n);
  }
  if (rd8(ws, off + pobj::Arch) != 0)
    return utf8_to_internal("[OBJ " + std::to_string(slot) + " REFS:" + std::to_string(rd32(ws, off + pobj::RefCount)) +
                            "]");
  const bool is_class = rd8(ws, off + obj::Type) == ET_CLASS;
  std::string name = class_name_of(off, ws);
  if (name.empty()) name = utf8_to_internal("DELETED CLASS");
  return utf8_to_internal(is_class ? "{" : "[") + name + utf8_to_internal(is_class ? "}" : "]");
}

}  // namespace zema
