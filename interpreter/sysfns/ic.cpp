// L ⎕IC R: a class built or extended from names of the workspace. The
// functions, operators and variables R names move into the class named by
// L as its members (a name without a value becomes a property without
// value); the names are left without values. Every check is made before
// anything moves.
#include <cstring>

#include "host/charset.h"
#include "interpreter/engine/classes.h"
#include "interpreter/engine/function_object.h"
#include "interpreter/reader/tokeniser.h"
#include "interpreter/sysfns/handlers.h"
#include "interpreter/sysfns/names.h"
#include "interpreter/workspace/arrays.h"
#include "interpreter/workspace/errors.h"
#include "interpreter/workspace/heap.h"
#include "interpreter/workspace/object_pool.h"
#include "interpreter/workspace/stack.h"
#include "interpreter/workspace/symtab.h"

namespace zema {

namespace {

const std::uint8_t kGreater = static_cast<std::uint8_t>(utf8_to_internal(">")[0]);
constexpr std::uint32_t kFreeNeeded = 256;

// A name of at most 30 characters copied out of the argument.
struct ShortName {
  std::uint8_t text[kMaxNameLength] = {};
  std::uint32_t length = 0;
};

// Reads "Class" or "Class > Parent", blanks allowed around each name.
// LENGTH ERROR for no class name; DOMAIN ERROR for anything else after
// the names.
void read_left(SfArg left, ShortName& cls, ShortName& parent, bool& has_parent, Ws ws) {
  const std::uint32_t a = left.array(ws);
  if (array_type(a, ws) != ET_CHAR) domner(ws);
  const std::uint32_t n = array_count(a, ws);
  const std::uint8_t* s = ws + array_data(a, ws);
  std::uint32_t i = 0;
  auto blanks = [&] {
    while (i < n && is_blank(s[i])) ++i;
  };
  auto word = [&](ShortName& into) {
    while (i < n && !is_blank(s[i]) && s[i] != kGreater) {
      if (into.length < kMaxNameLength) into.text[into.length++] = s[i];
      ++i;
    }
  };
  blanks();
  word(cls);
  if (cls.length == 0) lener(ws);
  blanks();
  has_parent = i < n && s[i] == kGreater;
  if (has_parent) {
    ++i;
    blanks();
    word(parent);
    blanks();
  }
  if (i < n) domner(ws);
}

// Whether the name at the symbol entry may move into a class: a global
// variable without references, a defined function or operator not running
// (nor pendent), or a name without value.
bool takeable(std::uint32_t entry, Ws ws) {
  const std::uint8_t type_byte = rd8(ws, entry + sym::Type);
  if (type_byte & kSymLocalFlag) return false;
  const std::uint8_t type = type_byte & kSymTypeMask;
  if (type == SYM_UNDEF) return true;
  if (type == SYM_VAR) return !contains_object_reference(rd32(ws, entry + sym::Value), ws);
  if (is_function_type(type)) return function_erasable(entry, ws);
  return false;
}

// The integer vector on top of the stack (one word per name of R).
std::uint32_t entries_word(std::uint32_t i, Ws ws) {
  return array_data(rd32(ws, stack_entry_at(0, ws) + se::Value), ws) + 4 * i;
}

// Moves the value of the symbol entry into the class in `slot` as the
// member of the same name (replacing a member of that name).
void move_into_class(std::uint32_t slot, std::uint32_t entry, Ws ws) {
  const auto token = static_cast<std::uint16_t>(token_of_entry(entry));
  std::uint32_t cls = class_in_slot(slot, ws);
  // A method of that name goes first: its lines are freed with it.
  const int old = own_member_index(cls, token, ws);
  if (old >= 0) {
    const std::uint32_t me = cls + pobj::Entries + mentry::Size * static_cast<std::uint32_t>(old);
    const std::uint8_t kind = rd8(ws, me + mentry::Kind);
    if (is_function_type(kind)) {
      const std::uint32_t fn = rd32(ws, me + mentry::Value);
      wr32(ws, me + mentry::Value, 0);
      wr8(ws, me + mentry::Kind, SYM_UNDEF);
      erasfn(fn, ws);
    }
  }
  // The member as a property without value, grown into place when new.
  if (set_named_class_property(slot, token, 0, ws) != 0) ZEMA_SYSTEM_ERROR(ws);
  const std::uint8_t type_byte = rd8(ws, entry + sym::Type);
  const std::uint8_t type = type_byte & kSymTypeMask;
  if (type == SYM_UNDEF) return;
  cls = class_in_slot(slot, ws);
  const int i = own_member_index(cls, token, ws);
  if (i < 0) ZEMA_SYSTEM_ERROR(ws);
  const std::uint32_t me = cls + pobj::Entries + mentry::Size * static_cast<std::uint32_t>(i);
  const std::uint32_t value = rd32(ws, entry + sym::Value);
  wr32(ws, entry + sym::Value, 0);
  wr8(ws, entry + sym::Type, (type_byte & kSymLocalFlag) | SYM_UNDEF);
  wr8(ws, me + mentry::Kind, type);
  wr32(ws, me + mentry::Value, value);
  if (value != 0) set_owner(value, me + mentry::Value, OK_WORD, ws);
  // The member counts a use of the name now; a variable's value counted
  // one too, which goes (a function's lines keep their own).
  if (type == SYM_VAR) clnus2(entry, ws);
}

}  // namespace

void sfic_dyadic(SfArg left, SfArg right, Ws ws) {
  // 1. The names of R.
  NameRows rows = name_rows(right, ws);
  if (!rows.matrix && array_count(right.array(ws), ws) == 0) rows.rows = 0;
  force_gcol(ws);
  // 2. The class name and its parent.
  ShortName cls_name, parent_name;
  bool has_parent = false;
  read_left(left, cls_name, parent_name, has_parent, ws);
  std::uint16_t parent_token = 0;
  if (has_parent) {
    const NameRef p = look_up_name(parent_name.text, parent_name.length, ws);
    if (p.kind != NameKind::Found || p.type != SYM_CLASS) domner(ws);
    parent_token = static_cast<std::uint16_t>(token_of_entry(p.entry));
    if (class_def_from_symidx(parent_token, ws) == 0) domner(ws);
  }
  NameRef c = look_up_name(cls_name.text, cls_name.length, ws);
  if (c.kind != NameKind::Found && c.kind != NameKind::Unknown) domner(ws);
  if (cls_name.text[0] == kQuadChar) domner(ws);
  // 3. An existing class is extended (with its own parent only).
  bool extend = false, constructor = false;
  if (c.kind == NameKind::Found) {
    if (c.type == SYM_CLASS) {
      const std::uint32_t cls = class_def_from_symidx(static_cast<std::uint16_t>(token_of_entry(c.entry)), ws);
      if (cls == 0) domner(ws);
      if (has_parent && rd32(ws, cls + pobj::ParentSlot) !=
                            rd32(ws, class_def_from_symidx(parent_token, ws) + pobj::OwnSlot))
        domner(ws);
      extend = true;
    } else if (c.type <= SYM_FN2) {
      constructor = true;  // allowed only when R names it (checked below)
    } else if (c.type != SYM_UNDEF) {
      domner(ws);
    }
  }
  // 4. Each name of R, entered when new; its entry kept in an integer
  // vector (0: not taken) that becomes the result.
  const std::uint32_t shape = rows.rows;
  push_result(new_array(ET_INT, 1, &shape, ws), ws);
  bool constructor_listed = false;
  for (std::uint32_t i = 0; i < rows.rows; ++i) {
    NameRef r = look_up_name(name_row(right, rows, i, ws), rows.columns, ws);
    std::uint32_t entry = 0;
    if (r.kind == NameKind::Unknown) {
      entry = enter_buffer_name(r.length, ws);
    } else if (r.kind == NameKind::Found) {
      entry = r.entry;
    }
    if (entry == 0 || rd8(ws, entry + sym::Length) == 0 || !takeable(entry, ws)) entry = 0;
    for (std::uint32_t k = 0; k < i && entry != 0; ++k)
      if (rd32(ws, entries_word(k, ws)) == entry) entry = 0;  // listed before: moved once
    if (entry != 0 && (rd8(ws, entry + sym::Type) & kSymTypeMask) != SYM_UNDEF && rd16(ws, entry + sym::Uses) == kMaxUses)
      error(E_SYSTEM_LIMIT, 0, 0, ws);
    if (constructor && entry == c.entry) constructor_listed = true;
    wr32(ws, entries_word(i, ws), entry);
  }
  if (constructor && !constructor_listed) domner(ws);
  force_gcol(ws);
  if (rd32(ws, hdr::StackPointer) - rd32(ws, hdr::HeapTop) < kFreeNeeded) ws_full(ws);

  // 5–8. The class, then its members. A function that names the new
  // class waits at oldfn::Value while the name becomes the class.
  c = look_up_name(cls_name.text, cls_name.length, ws);
  std::uint32_t cls_entry = c.entry;
  if (c.kind != NameKind::Found) cls_entry = enter_buffer_name(c.length, ws);
  const auto cls_token = static_cast<std::uint16_t>(token_of_entry(cls_entry));
  if (!extend) {
    std::uint32_t taken = 0;
    for (std::uint32_t i = 0; i < rows.rows; ++i)
      if (rd32(ws, entries_word(i, ws)) != 0) ++taken;
    const std::uint8_t type_byte = rd8(ws, cls_entry + sym::Type);
    if (constructor) {
      const std::uint32_t fn = rd32(ws, cls_entry + sym::Value);
      wr32(ws, oldfn::Value, fn);
      set_owner(fn, oldfn::Value, OK_WORD, ws);
      wr8(ws, oldfn::Type, type_byte);
      wr32(ws, cls_entry + sym::Value, 0);
      wr8(ws, cls_entry + sym::Type, (type_byte & kSymLocalFlag) | SYM_UNDEF);
    }
    int made = 12;
    try {
      made = create_empty_class(cls_token, parent_token, taken > 0 ? taken : 1, false, ws);
    } catch (...) {
      if (constructor) {
        const std::uint32_t fn = rd32(ws, oldfn::Value);
        wr32(ws, oldfn::Value, 0);
        wr32(ws, cls_entry + sym::Value, fn);
        wr8(ws, cls_entry + sym::Type, rd8(ws, oldfn::Type));
        set_owner(fn, cls_entry, OK_SYMBOL, ws);
      }
      throw;
    }
    if (made != 0) ZEMA_SYSTEM_ERROR(ws);
  }
  const std::uint32_t slot = rd32(ws, class_def_from_symidx(cls_token, ws) + pobj::OwnSlot);
  for (std::uint32_t i = 0; i < rows.rows; ++i) {
    const std::uint32_t entry = rd32(ws, entries_word(i, ws));
    if (entry == 0) continue;
    if (constructor && entry == cls_entry) {
      // The constructor: its function from where it waits.
      const auto token = cls_token;
      if (set_named_class_property(slot, token, 0, ws) != 0) ZEMA_SYSTEM_ERROR(ws);
      const std::uint32_t cls = class_in_slot(slot, ws);
      const std::uint32_t me = cls + pobj::Entries + mentry::Size * static_cast<std::uint32_t>(own_member_index(cls, token, ws));
      const std::uint32_t fn = rd32(ws, oldfn::Value);
      wr32(ws, oldfn::Value, 0);
      wr8(ws, me + mentry::Kind, rd8(ws, oldfn::Type) & kSymTypeMask);
      wr32(ws, me + mentry::Value, fn);
      set_owner(fn, me + mentry::Value, OK_WORD, ws);
      continue;
    }
    move_into_class(slot, entry, ws);
  }
  stamp_class(class_in_slot(slot, ws), ws);

  // The answer as booleans.
  const std::uint32_t b = new_array(ET_BOOL, 1, &shape, ws);
  for (std::uint32_t i = 0; i < rows.rows; ++i)
    if (rd32(ws, entries_word(i, ws))) {
      const std::uint32_t w = array_data(b, ws) + 4 * (i / 32);
      wr32(ws, w, rd32(ws, w) | (0x80000000u >> (i % 32)));
    }
  StackEntry top = load_entry(stack_entry_at(0, ws), ws);
  top.value = b;
  settle_entry(stack_entry_at(0, ws), top, ws);
}

}  // namespace zema
