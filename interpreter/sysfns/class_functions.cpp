#include "interpreter/sysfns/class_functions.h"

#include <cmath>
#include <cstring>
#include <string_view>
#include <vector>

#include "host/charset.h"
#include "interpreter/engine/call.h"
#include "interpreter/engine/classes.h"
#include "interpreter/engine/reduce_operator.h"
#include "interpreter/output/display.h"
#include "interpreter/sysfns/capture.h"
#include "interpreter/sysfns/definitions.h"
#include "interpreter/sysfns/mini_format.h"
#include "interpreter/sysfns/names.h"
#include "interpreter/workspace/arrays.h"
#include "interpreter/workspace/entry.h"
#include "interpreter/workspace/errors.h"
#include "interpreter/workspace/heap.h"
#include "interpreter/workspace/integrity.h"
#include "interpreter/workspace/object_pool.h"
#include "interpreter/workspace/stack.h"
#include "interpreter/workspace/symtab.h"

namespace zema {

namespace {

// ⎕ name numbers of the functions that act on an object.
enum : std::uint32_t {
  kBase = 137, kDf = 140, kState = 141, kHandle = 143, kOid = 144, kDs = 145, kParent = 146,
  kChildren = 147, kClassName = 149, kClassRef = 150, kMembers = 153, kClone = 156, kRef = 158,
};

constexpr std::uint8_t kArchApl = 0, kArchWi = 1;

// ---- the object a function acts on ------------------------------------------------------
//
// Read again after every allocation: compaction may move the reference
// array and renumber the pool, and it rewrites the word it is read from.
struct ObjectArg {
  std::uint32_t word;      // hdr::CurrentInstance, or a word holding a reference array
  bool through;            // used through a reference
  std::uint32_t index = 0; // the element of the reference array
  std::uint32_t slot(Ws ws) const {
    if (!through) return rd32(ws, word);
    const std::uint32_t a = rd32(ws, word);
    return index >= array_count(a, ws) ? 0 : rd32(ws, array_data(a, ws) + 4 * index);
  }
};

ObjectArg current_object() { return {hdr::CurrentInstance, false}; }

// The object's slot: plainly, none is DOMAIN ERROR.
std::uint32_t object_slot(const ObjectArg& o, Ws ws) {
  const std::uint32_t s = o.slot(ws);
  if (s == 0 && !o.through) domner(ws);
  return s;
}

std::uint32_t pooled(std::uint32_t slot, Ws ws) { return slot == 0 ? 0 : find_object_instance(slot, ws); }
std::uint8_t arch_of(std::uint32_t off, Ws ws) { return rd8(ws, off + pobj::Arch); }
bool is_class_object(std::uint32_t off, Ws ws) { return rd8(ws, off + obj::Type) == ET_CLASS; }
bool is_instance_object(std::uint32_t off, Ws ws) { return rd8(ws, off + obj::Type) == ET_INSTANCE; }
bool deleted(std::uint32_t cls, Ws ws) { return rd32(ws, cls + pobj::NameSymbol) == 0; }
std::uint32_t capacity(Ws ws) { return object_pool(ws) == 0 ? 0 : rd32(ws, object_pool(ws) + pool::Capacity); }

// An object of an external architecture: no library interface is bound
// to any architecture slot yet, so every call into one is FILE I/O ERROR.
[[noreturn]] void unbound_architecture(Ws ws) { error(E_FILE_IO, 0, 0, ws); }

// The class slot of an APL object: a class is its own; an instance's class
// unless it is gone or deleted; 0 otherwise.
std::uint32_t internal_get_class(std::uint32_t slot, Ws ws) {
  const std::uint32_t off = pooled(slot, ws);
  if (off == 0 || arch_of(off, ws) != kArchApl) return 0;
  if (is_class_object(off, ws)) return slot;
  const std::uint32_t cls_slot = rd32(ws, off + pobj::ClassSlot);
  const std::uint32_t cls = class_in_slot(cls_slot, ws);
  return cls == 0 || deleted(cls, ws) ? 0 : cls_slot;
}

// The parent slot of the APL class in `slot`, 0 when it has none or the
// parent is gone or deleted.
std::uint32_t live_parent(std::uint32_t slot, Ws ws) {
  const std::uint32_t cls = class_in_slot(slot, ws);
  if (cls == 0) return 0;
  const std::uint32_t parent = rd32(ws, cls + pobj::ParentSlot);
  const std::uint32_t p = class_in_slot(parent, ws);
  return p == 0 || deleted(p, ws) ? 0 : parent;
}

// ---- arguments ----------------------------------------------------------------------------

// One element of a numeric array as an integer; false for anything else.
bool integer_at(std::uint32_t a, std::uint32_t i, std::int64_t& v, Ws ws) {
  const std::uint32_t data = array_data(a, ws);
  switch (array_type(a, ws)) {
    case ET_BOOL: v = (rd32(ws, data + 4 * (i / 32)) >> (31 - i % 32)) & 1; return true;
    case ET_INT: v = static_cast<std::int32_t>(rd32(ws, data + 4 * i)); return true;
    case ET_FLOAT: {
      double d;
      std::memcpy(&d, ws + data + 8 * i, 8);
      const double r = std::nearbyint(d);
      if (!(std::fabs(d - r) <= 1e-10 * std::fmax(1.0, std::fabs(r))) || std::fabs(r) > 9e15) return false;
      v = static_cast<std::int64_t>(r);
      return true;
    }
    default: return false;
  }
}

// The class the text names (a class-name symbol), as its slot; 0 for none.
std::uint32_t class_slot_from_name(const std::uint8_t* text, std::uint32_t n, Ws ws) {
  const NameRef ref = look_up_name(text, n, ws);
  if (ref.kind != NameKind::Found || ref.type != SYM_CLASS) return 0;
  const std::uint32_t cls = class_def_from_symidx(static_cast<std::uint16_t>(token_of_entry(ref.entry)), ws);
  return cls == 0 ? 0 : rd32(ws, cls + pobj::OwnSlot);
}

// A class-name argument: a character scalar or vector names a class; a
// reference array (a scalar or one element) designates the class it
// refers to (or an object standing for an external class). Answers the
// class's slot, 0 when it names none; anything else is DOMAIN ERROR.
std::uint32_t class_argument(SfArg arg, Ws ws) {
  const std::uint32_t a = arg.array(ws);
  const std::uint8_t type = array_type(a, ws);
  if (type == ET_CHAR && array_rank(a, ws) <= 1)
    return class_slot_from_name(ws + array_data(a, ws), array_count(a, ws), ws);
  if (type != ET_OBJREF) domner(ws);
  if (array_count(a, ws) != 1) return 0;
  const std::uint32_t slot = rd32(ws, array_data(a, ws));
  const std::uint32_t off = pooled(slot, ws);
  if (off == 0) return 0;
  return is_class_object(off, ws) || (rd8(ws, off + pobj::Flags) & kStandsForExternal) ? slot : 0;
}

// ---- results ------------------------------------------------------------------------------

// Pushes a scalar reference to the slot `pick` answers (0: ⎕NULL),
// counted when the result is kept. `pick` runs once before the allocation
// (it may raise) and once after it (a compaction may have renumbered the
// pool).
template <class Pick>
void push_reference(Pick pick, Ws ws) {
  pick();
  push_result(new_array(ET_OBJREF, 0, nullptr, ws), ws);
  const std::uint32_t slot = pick();
  wr32(ws, array_data(rd32(ws, stack_entry_at(0, ws) + se::Value), ws), slot);
}

// Pushes the vector of references to the slots `walk` gives (counted when kept).
// `walk(emit)` calls emit(slot) for each, in order; it runs once to count
// (and check: it may raise) and again after the allocation to fill. Should
// the allocation's compaction have freed objects so that the counts
// differ, the vector is made again.
template <class Walk>
void push_references(Walk walk, Ws ws) {
  for (;;) {
    std::uint32_t n = 0;
    walk([&](std::uint32_t) { ++n; });
    push_result(new_array(ET_OBJREF, 1, &n, ws), ws);
    const std::uint32_t a = rd32(ws, stack_entry_at(0, ws) + se::Value);
    std::uint32_t k = 0;
    walk([&](std::uint32_t slot) {
      if (k < n) wr32(ws, array_data(a, ws) + 4 * k, slot);
      ++k;
    });
    if (k == n) return;
    StackEntry e;
    unstack(e, ws);
    wr32(ws, array_data(a, ws) - 4, 0);  // released as a zero-length vector
    release_entry(e, ws);
  }
}

// Every used slot of the pool, in order, with its object.
template <class F>
void each_pooled(F f, Ws ws) {
  const std::uint32_t cap = capacity(ws);
  for (std::uint32_t s = 1; s < cap; ++s)
    if (const std::uint32_t off = find_object_instance(s, ws)) f(s, off);
}

void push_int(std::int32_t v, Ws ws) { push_result(new_int_scalar(v, ws), ws); }

void push_chars(std::string_view internal, Ws ws) { push_result(new_char_vector(internal, ws), ws); }

// The empty 0 × 0 integer matrix of ⎕REPARENT and ⎕RECLASS.
void push_empty_matrix(Ws ws) {
  const std::uint32_t shape[2] = {0, 0};
  push_result(new_array(ET_INT, 2, shape, ws), ws);
}

// The name of symbol token `token` (internal characters, in the text buffer).
std::string_view name_of(std::uint16_t token, Ws ws) {
  std::uint32_t cursor;
  fmtnam(token, &cursor, ws);
  return text_buffer(ws);
}

// ---- nested matrices built in place -----------------------------------------------------------

constexpr std::uint32_t round4(std::uint64_t n) { return static_cast<std::uint32_t>((n + 3) & ~std::uint64_t(3)); }
constexpr std::uint32_t kCharItemHead = 16;  // a character vector's header and shape
std::uint32_t char_item_bytes(std::uint32_t n) { return round4(kCharItemHead + n); }

// Writes an item header (kind byte and size word as a nested item has them).
void item_header(std::uint32_t at, std::uint32_t size, std::uint8_t type, std::uint32_t rank, Ws ws) {
  wr32(ws, at, 0);
  wr32(ws, at + obj::Size, size);
  wr8(ws, at + obj::Type, type);
  wr8(ws, at + obj::Flags9, 0);
  wr16(ws, at + obj::Rank4, 4 * rank);
}

std::uint32_t put_chars_item(std::uint32_t at, std::string_view text, Ws ws) {
  const std::uint32_t size = char_item_bytes(static_cast<std::uint32_t>(text.size()));
  std::memset(ws + at, 0, size);
  item_header(at, size, ET_CHAR, 1, ws);
  wr32(ws, at + obj::Shape, static_cast<std::uint32_t>(text.size()));
  if (!text.empty()) std::memcpy(ws + at + kCharItemHead, text.data(), text.size());
  return at + size;
}

std::uint32_t put_int_item(std::uint32_t at, std::int32_t v, Ws ws) {
  item_header(at, 16, ET_INT, 0, ws);
  wr32(ws, at + obj::Shape, static_cast<std::uint32_t>(v));
  return at + 16;
}

// A copy of the array at `v` as an item.
std::uint32_t put_copy_item(std::uint32_t at, std::uint32_t v, Ws ws) {
  const std::uint32_t size = rd32(ws, v + obj::Size);
  std::memcpy(ws + at, ws + v, size);
  wr32(ws, at, 0);
  wr8(ws, at + obj::Flags1, 0);
  return at + size;
}

// Allocates and pushes a rows × columns nested matrix with `items` bytes
// of items after its offset table (for no rows: room for the empty
// character vector prototype). Answers the array; the caller fills it
// without allocating.
std::uint32_t push_nested_matrix(std::uint32_t rows, std::uint32_t columns, std::uint64_t items, Ws ws) {
  const std::uint64_t n = std::uint64_t(rows) * columns;
  const std::uint64_t bytes = 4 + 8 + 4 * n + (n == 0 ? kCharItemHead : items);
  if (bytes > 0x7FFFFFF0u) ws_full(ws);
  const std::uint32_t a = getspc(static_cast<std::uint32_t>(bytes), ws);
  wr8(ws, a + obj::Type, ET_NESTED);
  wr8(ws, a + obj::Flags9, 0);
  wr16(ws, a + obj::Rank4, 8);
  wr32(ws, a + obj::Shape, rows);
  wr32(ws, a + obj::Shape + 4, columns);
  if (n == 0) put_chars_item(array_data(a, ws), {}, ws);
  push_result(a, ws);
  return rd32(ws, stack_entry_at(0, ws) + se::Value);
}

// ---- ⎕STATE ---------------------------------------------------------------------------------

// The valued properties of the instance `inst` (its own entries, then,
// with `inherited`, those of its class and each ancestor whose names are
// not yet listed), each given to emit(token, value).
template <class Emit>
void state_rows(std::uint32_t inst, bool inherited, Emit emit, Ws ws) {
  const auto valued = [&](std::uint32_t off, std::uint32_t i) {
    const std::uint32_t e = off + pobj::Entries + mentry::Size * i;
    return rd8(ws, e + mentry::Kind) == SYM_VAR && rd32(ws, e + mentry::Value) != 0;
  };
  const auto listed_in = [&](std::uint32_t off, std::uint16_t token) {
    const std::uint32_t n = rd32(ws, off + pobj::Count);
    for (std::uint32_t i = 0; i < n; ++i)
      if (valued(off, i) && rd16(ws, off + pobj::Entries + mentry::Size * i + mentry::Token) == token) return true;
    return false;
  };
  const auto emit_all = [&](std::uint32_t off, std::uint32_t stop_class) {
    const std::uint32_t n = rd32(ws, off + pobj::Count);
    for (std::uint32_t i = 0; i < n; ++i) {
      if (!valued(off, i)) continue;
      const std::uint32_t e = off + pobj::Entries + mentry::Size * i;
      const std::uint16_t token = rd16(ws, e + mentry::Token);
      if (off != inst) {
        if (listed_in(inst, token)) continue;
        bool seen = false;
        std::uint32_t c = rd32(ws, inst + pobj::ClassSlot);
        for (std::uint32_t guard = capacity(ws); c != stop_class && c != 0 && guard; --guard) {
          const std::uint32_t co = class_in_slot(c, ws);
          if (co == 0) break;
          if (listed_in(co, token)) {
            seen = true;
            break;
          }
          c = rd32(ws, co + pobj::ParentSlot);
        }
        if (seen) continue;
      }
      emit(token, rd32(ws, e + mentry::Value));
    }
  };
  emit_all(inst, 0);
  if (!inherited) return;
  std::uint32_t c = rd32(ws, inst + pobj::ClassSlot);
  for (std::uint32_t guard = capacity(ws); c != 0 && guard; --guard) {
    const std::uint32_t co = class_in_slot(c, ws);
    if (co == 0 || deleted(co, ws)) break;
    emit_all(co, c);
    c = rd32(ws, co + pobj::ParentSlot);
  }
}

// The APL instance the state functions act on: a null object through a
// reference answers 0 (an empty state); anything but an APL instance is
// DOMAIN ERROR.
std::uint32_t state_instance(const ObjectArg& o, Ws ws) {
  const std::uint32_t slot = object_slot(o, ws);
  if (slot == 0) return 0;
  const std::uint32_t off = pooled(slot, ws);
  if (off == 0 || !is_instance_object(off, ws) || arch_of(off, ws) != kArchApl) domner(ws);
  return off;
}

void do_quad_state(const ObjectArg& o, bool inherited, Ws ws) {
  force_gcol(ws);
  std::uint32_t inst = state_instance(o, ws);
  std::uint32_t rows = 0;
  std::uint64_t bytes = 0;
  if (inst != 0)
    state_rows(inst, inherited, [&](std::uint16_t token, std::uint32_t value) {
      ++rows;
      bytes += char_item_bytes(static_cast<std::uint32_t>(name_of(token, ws).size())) + rd32(ws, value + obj::Size);
    }, ws);
  if (bytes + 8ull * rows + 1024 + 64 > std::uint64_t(rd32(ws, hdr::StackPointer) - rd32(ws, hdr::HeapTop))) ws_full(ws);
  const std::uint32_t z = push_nested_matrix(rows, 2, bytes, ws);
  if (rows == 0) return;
  inst = state_instance(o, ws);
  const std::uint32_t table = array_data(z, ws);
  std::uint32_t at = table + 8 * rows, i = 0;
  state_rows(inst, inherited, [&](std::uint16_t token, std::uint32_t value) {
    wr32(ws, table + 4 * i++, at - z);
    at = put_chars_item(at, name_of(token, ws), ws);
    wr32(ws, table + 4 * i++, at - z);
    at = put_copy_item(at, value, ws);
  }, ws);
}

// B of ⎕STATE: one or two elements, 0 or 1 then 0. Answers the first.
bool state_argument(SfArg arg, Ws ws) {
  const std::uint32_t a = arg.array(ws);
  const std::uint32_t n = array_count(a, ws);
  if (array_rank(a, ws) > 1 && n != 1) ranker(ws);
  if (n != 1 && n != 2) lener(ws);
  std::int64_t first, second = 0;
  if (!integer_at(a, 0, first, ws) || (first != 0 && first != 1)) domner(ws);
  if (n == 2 && (!integer_at(a, 1, second, ws) || second != 0)) domner(ws);
  return first == 1;
}

// ---- ⎕DS --------------------------------------------------------------------------------

constexpr std::uint32_t kDsNameMax = 100, kDsValueLimit = 50, kDsReserve = 1280;

void quad_ds(const ObjectArg& o, Ws ws) {
  // The state's names are checked first; the text is then written at the
  // heap top and made a character vector in place.
  const std::uint32_t inst0 = state_instance(o, ws);
  if (inst0 != 0)
    state_rows(inst0, true, [&](std::uint16_t token, std::uint32_t) {
      if (name_of(token, ws).size() > kDsNameMax) noncer_1(ws);
    }, ws);
  const std::uint32_t origin = capture_origin(1, ws);
  const std::uint32_t inst = state_instance(o, ws);
  const std::uint32_t sp = rd32(ws, hdr::StackPointer);
  if (origin + kDsReserve > sp) ws_full(ws);
  const std::uint32_t end = sp - kDsReserve;
  const std::string comma = utf8_to_internal(", "), equals = utf8_to_internal("=");
  std::uint32_t at = origin;
  bool first = true;
  const auto put = [&](std::string_view text) {
    if (at + text.size() + 3 >= end) ws_full(ws);
    if (!text.empty()) std::memcpy(ws + at, text.data(), text.size());
    at += static_cast<std::uint32_t>(text.size());
  };
  if (inst != 0)
    state_rows(inst, true, [&](std::uint16_t token, std::uint32_t value) {
      if (!first) put(comma);
      first = false;
      put(name_of(token, ws));
      put(equals);
      if (at + kDsValueLimit + 100 >= end) ws_full(ws);
      at = mini_format(value, at, end, kDsValueLimit, ws);
    }, ws);
  const std::uint32_t n = at - origin;
  push_result(captured_array(1, &n, ws), ws);
}

// ---- ⎕MEMBERS ---------------------------------------------------------------------------------

// The member rows of the class in `cls_slot` and its ancestors: each
// member given to emit(class, entry), a class's own first, an ancestor's
// only when no class before it has the name; a deleted ancestor ends it.
template <class Emit>
void member_rows(std::uint32_t cls_slot, Emit emit, Ws ws) {
  std::uint32_t c = cls_slot;
  for (std::uint32_t guard = capacity(ws); c != 0 && guard; --guard) {
    const std::uint32_t co = class_in_slot(c, ws);
    if (co == 0 || deleted(co, ws)) break;
    const std::uint32_t n = rd32(ws, co + pobj::Count);
    for (std::uint32_t i = 0; i < n; ++i) {
      const std::uint32_t e = co + pobj::Entries + mentry::Size * i;
      const std::uint16_t token = rd16(ws, e + mentry::Token);
      bool hidden = false;
      for (std::uint32_t d = cls_slot; d != c && !hidden;) {
        const std::uint32_t dof = class_in_slot(d, ws);
        hidden = own_member_index(dof, token, ws) >= 0;
        d = rd32(ws, dof + pobj::ParentSlot);
      }
      if (!hidden) emit(co, e);
    }
    c = rd32(ws, co + pobj::ParentSlot);
  }
}

// The name class of a member: 2 property, 3 function, 10 the class's
// constructor, 4 operator, 0 anything else.
std::int32_t member_name_class(std::uint32_t cls, std::uint32_t e, Ws ws) {
  const std::uint8_t kind = rd8(ws, e + mentry::Kind);
  if (kind == SYM_VAR || kind == SYM_UNDEF) return 2;
  if (kind <= SYM_FN2)
    return rd16(ws, e + mentry::Token) * 8u == rd32(ws, cls + pobj::NameSymbol) ? 10 : 3;
  if (kind >= SYM_OP_FIRST && kind <= SYM_OP_LAST) return 4;
  return 0;
}

constexpr std::uint32_t kMembersReserve = 2048;

// The comment a method's line 1 is, as listed, written at `at` in the
// free gap; answers its length (0 when the member is no function or
// operator, has no line 1, or line 1 is not a comment). WS FULL when the
// line does not fit below the stack.
std::uint32_t method_comment(std::uint32_t e, std::uint32_t at, Ws ws) {
  const std::uint8_t kind = rd8(ws, e + mentry::Kind);
  const std::uint32_t header = rd32(ws, e + mentry::Value);
  if (header == 0 || !is_function_type(kind)) return 0;
  const std::uint32_t line = function_line(header, 1, ws);
  if (line == 0) return 0;
  std::uint32_t n;
  {
    TextCapture capture(at, ws);
    n = capture_function_line(line, ws);
  }
  static const std::uint8_t lamp = static_cast<std::uint8_t>(utf8_to_internal("⍝")[0]);
  static const std::uint8_t blank = static_cast<std::uint8_t>(utf8_to_internal(" ")[0]);
  std::uint32_t lead = 0;
  while (lead < n && rd8(ws, at + lead) == blank) ++lead;
  if (lead == n || rd8(ws, at + lead) != lamp) return 0;
  std::memmove(ws + at, ws + at + lead, n - lead);
  return n - lead;
}

// The free gap's start, where a comment is listed before it is kept.
std::uint32_t scratch_at(Ws ws) { return rd32(ws, hdr::HeapTop) + 16; }

void list_class_members(const ObjectArg& o, Ws ws) {
  object_slot(o, ws);
  force_gcol(ws);
  const auto cls_of = [&] { return internal_get_class(o.slot(ws), ws); };
  std::uint32_t rows = 0;
  std::uint64_t bytes = 0;
  member_rows(cls_of(), [&](std::uint32_t co, std::uint32_t e) {
    ++rows;
    bytes += char_item_bytes(static_cast<std::uint32_t>(name_of(rd16(ws, e + mentry::Token), ws).size()));
    bytes += char_item_bytes(static_cast<std::uint32_t>(name_of(rd32(ws, co + pobj::NameSymbol) / 8, ws).size()));
    bytes += 3 * 16 + char_item_bytes(method_comment(e, scratch_at(ws), ws));
  }, ws);
  if (bytes + 24ull * rows + kMembersReserve > std::uint64_t(rd32(ws, hdr::StackPointer) - rd32(ws, hdr::HeapTop)))
    ws_full(ws);
  const std::uint32_t z = push_nested_matrix(rows, 6, bytes, ws);
  if (rows == 0) return;
  const std::uint32_t table = array_data(z, ws);
  std::uint32_t at = table + 24 * rows, i = 0;
  const auto next = [&] { wr32(ws, table + 4 * i++, at - z); };
  member_rows(cls_of(), [&](std::uint32_t co, std::uint32_t e) {
    const std::uint8_t kind = rd8(ws, e + mentry::Kind);
    const std::uint8_t access = rd8(ws, e + mentry::Access);
    next();
    at = put_chars_item(at, name_of(rd16(ws, e + mentry::Token), ws), ws);
    next();
    at = put_chars_item(at, name_of(rd32(ws, co + pobj::NameSymbol) / 8, ws), ws);
    next();
    at = put_int_item(at, member_name_class(co, e, ws), ws);
    next();
    at = put_int_item(at, access & (kPrivate | kClassWide), ws);
    next();
    at = put_int_item(at, kind == SYM_UNDEF ? 2 : (access & kReadOnly) ? 1 : 0, ws);
    next();
    const std::uint32_t scratch = scratch_at(ws);
    const std::uint32_t n = method_comment(e, scratch, ws);
    at = put_chars_item(at, {reinterpret_cast<const char*>(ws + scratch), n}, ws);
  }, ws);
}

// ---- ⎕DF and ⎕CLONE --------------------------------------------------------------------------

void quad_df(const ObjectArg& o, SfArg text, Ws ws) {
  const std::uint32_t slot = object_slot(o, ws);
  const std::uint32_t off = pooled(slot, ws);
  if (off == 0) noncer_1(ws);
  if (!is_instance_object(off, ws)) domner(ws);
  const std::uint32_t t = text.array(ws);
  if (array_type(t, ws) != ET_CHAR || array_rank(t, ws) > 1) domner(ws);
  std::uint32_t copy = 0;
  if (array_count(t, ws) != 0) copy = copy_array(text.slot, ws);
  const std::uint32_t inst = pooled(o.slot(ws), ws);
  const std::uint32_t old = rd32(ws, inst + pobj::DisplayText);
  wr32(ws, inst + pobj::DisplayText, copy);
  if (copy != 0) set_owner(copy, inst + pobj::DisplayText, OK_WORD, ws);
  if (old != 0)
    push_result(old, ws);
  else
    push_chars({}, ws);
}

void quad_clone(const ObjectArg& o, SfArg count, Ws ws) {
  const std::uint32_t a = count.array(ws);
  if (array_count(a, ws) != 1) lener(ws);
  std::int64_t n64;
  if (!integer_at(a, 0, n64, ws) || n64 < 0 || n64 > 0x7FFFFFFF) domner(ws);
  const std::uint32_t n = static_cast<std::uint32_t>(n64);
  const std::uint32_t slot = object_slot(o, ws);
  if (slot == 0 || n == 0) {
    push_result(new_array(ET_OBJREF, 1, &n, ws), ws);
    return;
  }
  const std::uint32_t off = pooled(slot, ws);
  if (off == 0 || !is_instance_object(off, ws)) domner(ws);
  const std::uint8_t arch = arch_of(off, ws);
  if (arch == kArchWi) raise_extended_error_ascii(E_DOMAIN, "Class does not support clone operation", ws);
  if (arch != kArchApl) unbound_architecture(ws);
  // Room for everything first, so that no clone is left half made.
  ensure_object_pool_space(n, ws);
  force_gcol(ws);
  std::uint32_t src = pooled(o.slot(ws), ws);
  const std::uint32_t size = rd32(ws, src + obj::Size);
  const std::uint32_t entries = rd32(ws, src + pobj::Count);
  std::uint64_t values = 0;
  for (std::uint32_t i = 0; i < entries; ++i)
    if (const std::uint32_t v = rd32(ws, src + pobj::Entries + mentry::Size * i + mentry::Value))
      values += rd32(ws, v + obj::Size) + 4;
  if (const std::uint32_t t = rd32(ws, src + pobj::DisplayText)) values += rd32(ws, t + obj::Size) + 4;
  const std::uint64_t need = std::uint64_t(n) * (size + 4) + (std::uint64_t(n) + 1) * 4 + 16 + std::uint64_t(n) * values;
  if (need + 256 > std::uint64_t(rd32(ws, hdr::StackPointer) - rd32(ws, hdr::HeapTop))) ws_full(ws);
  push_result(new_array(ET_OBJREF, 1, &n, ws), ws);
  const std::uint32_t result_word = stack_entry_at(0, ws) + se::Value;
  for (std::uint32_t k = 0; k < n; ++k) {
    std::uint32_t c = create_object_instance(size, ws);
    const std::uint32_t cslot = rd32(ws, c + pobj::OwnSlot);
    wr32(ws, array_data(rd32(ws, result_word), ws) + 4 * k, cslot);
    src = pooled(o.slot(ws), ws);
    wr8(ws, c + pobj::Arch, kArchApl);
    wr8(ws, c + pobj::Flags, rd8(ws, src + pobj::Flags) & ~kSweepMark);
    wr32(ws, c + pobj::ClassSlot, rd32(ws, src + pobj::ClassSlot));
    wr32(ws, c + pobj::NameSymbol, rd32(ws, src + pobj::NameSymbol));
    wr32(ws, c + pobj::Count, entries);
    for (std::uint32_t i = 0; i < entries; ++i) {
      const std::uint32_t se_ = src + pobj::Entries + mentry::Size * i;
      const std::uint32_t ce = c + pobj::Entries + mentry::Size * i;
      wr16(ws, ce + mentry::Token, rd16(ws, se_ + mentry::Token));
      wr8(ws, ce + mentry::Kind, rd8(ws, se_ + mentry::Kind));
      wr8(ws, ce + mentry::Access, rd8(ws, se_ + mentry::Access));
      wr32(ws, ce + mentry::Value, 0);
    }
    // The values, each copied and owned by its entry; the objects they
    // refer to gain a reference.
    for (std::uint32_t i = 0; i <= entries; ++i) {
      const std::uint32_t field = i < entries ? pobj::Entries + mentry::Size * i + mentry::Value : pobj::DisplayText;
      src = pooled(o.slot(ws), ws);
      if (rd32(ws, src + field) == 0) continue;
      const std::uint32_t copy = copy_array(src + field, ws);
      c = pooled(cslot, ws);
      wr32(ws, c + field, copy);
      set_owner(copy, c + field, OK_WORD, ws);
      count_value_references(copy, ws);
    }
  }
}

// ---- the functions on an object, by number --------------------------------------------------

// ⎕BASE and ⎕PARENT: the parent class of the object's class.
void quad_base(const ObjectArg& o, Ws ws) {
  push_reference([&]() -> std::uint32_t {
    const std::uint32_t slot = object_slot(o, ws);
    const std::uint32_t off = pooled(slot, ws);
    if (off == 0 || arch_of(off, ws) == kArchWi) return 0;
    if (arch_of(off, ws) != kArchApl) unbound_architecture(ws);
    const std::uint32_t cls = is_class_object(off, ws) ? slot : internal_get_class(slot, ws);
    return cls == 0 ? 0 : live_parent(cls, ws);
  }, ws);
}

void quad_handle(const ObjectArg& o, Ws ws) {
  const std::uint32_t off = pooled(object_slot(o, ws), ws);
  if (off == 0) return push_int(0, ws);
  if (!is_instance_object(off, ws)) domner(ws);
  const std::uint8_t arch = arch_of(off, ws);
  push_int(arch == kArchApl ? 0 : static_cast<std::int32_t>(rd32(ws, off + pobj::Count)), ws);
}

void quad_oid(const ObjectArg& o, Ws ws) {
  const std::uint32_t off = pooled(object_slot(o, ws), ws);
  if (off == 0) return push_int(0, ws);
  const std::uint32_t high = rd32(ws, off + pobj::SerialHigh), low = rd32(ws, off + pobj::SerialLow);
  if (high == 0) {
    if (!is_instance_object(off, ws)) domner(ws);
    if (low <= 0x7FFFFFFFu) return push_int(static_cast<std::int32_t>(low), ws);
  }
  push_result(new_float_scalar(double(high) * 4294967296.0 + double(low), ws), ws);
}

void quad_children(const ObjectArg& o, Ws ws) {
  const std::uint32_t off = pooled(object_slot(o, ws), ws);
  if (off == 0) noncer_1(ws);
  if (!is_class_object(off, ws)) domner(ws);
  push_references([&](auto emit) {
    const std::uint32_t me = o.slot(ws);
    each_pooled([&](std::uint32_t s, std::uint32_t p) {
      if (is_class_object(p, ws) && rd32(ws, p + pobj::ParentSlot) == me) emit(s);
    }, ws);
  }, ws);
}

void quad_classname(const ObjectArg& o, Ws ws) {
  const std::uint32_t off = pooled(object_slot(o, ws), ws);
  const std::uint32_t sym = off == 0 ? 0 : rd32(ws, off + pobj::NameSymbol);
  if (sym == 0) return push_chars(utf8_to_internal("null"), ws);
  const std::string name(name_of(static_cast<std::uint16_t>(sym / 8), ws));
  push_chars(name, ws);
}

void quad_classref(const ObjectArg& o, Ws ws) {
  push_reference([&] { return internal_get_class(object_slot(o, ws), ws); }, ws);
}

void niladic_on(std::uint32_t number, const ObjectArg& o, Ws ws) {
  switch (number) {
    case kBase:
    case kParent: return quad_base(o, ws);
    case kHandle: return quad_handle(o, ws);
    case kOid: return quad_oid(o, ws);
    case kDs: return quad_ds(o, ws);
    case kChildren: return quad_children(o, ws);
    case kClassName: return quad_classname(o, ws);
    case kClassRef: return quad_classref(o, ws);
    case kMembers: return list_class_members(o, ws);
    case kRef: return push_reference([&] { return o.slot(ws); }, ws);
    default: synter(ws);
  }
}

void monadic_on(std::uint32_t number, const ObjectArg& o, SfArg arg, Ws ws) {
  switch (number) {
    case kDf: return quad_df(o, arg, ws);
    case kState: {
      const bool inherited = state_argument(arg, ws);
      return do_quad_state(o, inherited, ws);
    }
    case kClone: return quad_clone(o, arg, ws);
    default: synter(ws);
  }
}

// ⎕INSTANCES: instances of the class R names (with `direct` only those
// whose class is that class, else also of classes inheriting from it).
void quad_instances(bool direct, SfArg right, Ws ws) {
  if (class_argument(right, ws) == 0) domner(ws);
  push_references([&](auto emit) {
    const std::uint32_t cls = class_argument(right, ws);
    each_pooled([&](std::uint32_t s, std::uint32_t p) {
      if (!is_instance_object(p, ws)) return;
      std::uint32_t c = rd32(ws, p + pobj::ClassSlot);
      for (std::uint32_t guard = capacity(ws); c != 0 && guard; --guard) {
        if (c == cls) return emit(s);
        if (direct) return;
        const std::uint32_t co = pooled(c, ws);
        if (co == 0 || !is_class_object(co, ws)) return;
        c = rd32(ws, co + pobj::ParentSlot);
      }
    }, ws);
  }, ws);
}

// ---- over an array of references ------------------------------------------------------------

// Pushes element or item i of the array in `word` as a value of its own:
// a copy of a nested array's item, a scalar of a simple one's element.
void push_argument_item(std::uint32_t word, std::uint32_t i, Ws ws) {
  std::uint32_t a = rd32(ws, word);
  const std::uint8_t type = array_type(a, ws);
  if (type == ET_NESTED) {
    const std::uint32_t size = rd32(ws, a + rd32(ws, array_data(a, ws) + 4 * i) + obj::Size);
    const std::uint32_t copy = getspc(size - 8, ws);
    a = rd32(ws, word);
    const std::uint32_t item = a + rd32(ws, array_data(a, ws) + 4 * i);
    std::memmove(ws + copy + 8, ws + item + 8, size - 8);
    push_result(copy, ws);
    return;
  }
  const std::uint32_t z = new_array(type, 0, nullptr, ws);
  a = rd32(ws, word);
  const std::uint32_t from = array_data(a, ws), to = array_data(z, ws);
  switch (type) {
    case ET_BOOL: wr32(ws, to, ((rd32(ws, from + 4 * (i / 32)) >> (31 - i % 32)) & 1) << 31); break;
    case ET_FLOAT: std::memmove(ws + to, ws + from + 8 * i, 8); break;
    case ET_CHAR: wr8(ws, to, rd8(ws, from + i)); break;
    default: wr32(ws, to, rd32(ws, from + 4 * i)); break;
  }
  push_result(z, ws);
}

// obj.⎕NAME over an array of references: the function runs once per
// object, in order (item i of a non-scalar argument going to object i),
// and the results are collected into one array of the references' shape,
// simple when every result is a simple scalar of one kind. No objects:
// an empty array of that shape, of characters when the argument is, else
// of integers.
void on_each_object(std::uint32_t refs_word, std::uint32_t number, std::uint32_t arg_word, Ws ws) {
  std::uint32_t refs = rd32(ws, refs_word);
  const std::uint32_t rank = array_rank(refs, ws);
  const std::uint32_t n = array_count(refs, ws);
  bool each_item = false;
  if (arg_word != 0) {
    const std::uint32_t arg = rd32(ws, arg_word);
    if (array_rank(arg, ws) != 0) {
      if (array_rank(arg, ws) != rank) ranker(ws);
      for (std::uint32_t k = 0; k < rank; ++k)
        if (array_axis(arg, k, ws) != array_axis(refs, k, ws)) lener(ws);
      each_item = true;
    }
  }
  std::vector<std::uint32_t> shape(rank);  // at most the rank of an array
  for (std::uint32_t k = 0; k < rank; ++k) shape[k] = array_axis(refs, k, ws);
  if (n == 0) {
    const bool chars = arg_word != 0 && array_type(rd32(ws, arg_word), ws) == ET_CHAR;
    push_result(new_array(chars ? ET_CHAR : ET_INT, rank, shape.data(), ws), ws);
    return;
  }
  for (std::uint32_t i = 0; i < n; ++i) {
    const ObjectArg o{refs_word, true, i};
    if (arg_word == 0) {
      niladic_on(number, o, ws);
    } else if (!each_item) {
      monadic_on(number, o, SfArg{arg_word}, ws);
    } else {
      // The item stays below the result until the result is in its place.
      push_argument_item(arg_word, i, ws);
      monadic_on(number, o, SfArg{stack_entry_at(0, ws) + se::Value}, ws);
      StackEntry result, item;
      unstack(result, ws);
      unstack(item, ws);
      release_entry(item, ws);
      const std::uint32_t slot = stack(result, ws);
      set_owner(result.value, slot, OK_STACK, ws);
    }
    if ((i & 0x3FF) == 0x3FF) poll_attention(ws);
  }
  collect(shape, n, ws);
}

}  // namespace

// ---- shared routines ---------------------------------------------------------------------------

int reparent_class(std::uint32_t cls, std::uint32_t parent, Ws ws) {
  for (std::uint32_t p = parent, guard = capacity(ws); p != 0 && guard; --guard) {
    if (p == cls) return E_DOMAIN;
    const std::uint32_t po = pooled(p, ws);
    if (po == 0 || !is_class_object(po, ws)) break;
    p = rd32(ws, po + pobj::ParentSlot);
  }
  const std::uint32_t off = class_in_slot(cls, ws);
  if (off == 0) return E_DOMAIN;
  wr32(ws, off + pobj::ParentSlot, parent);
  stamp_class(off, ws);
  return 0;
}

void class_function_through_reference(std::uint32_t refs_word, std::uint32_t number, std::uint32_t arg_word, Ws ws) {
  const std::uint32_t refs = rd32(ws, refs_word);
  if (array_type(refs, ws) != ET_OBJREF) synter(ws);
  if (array_rank(refs, ws) == 0) {
    const ObjectArg o{refs_word, true};
    if (arg_word == 0) return niladic_on(number, o, ws);
    return monadic_on(number, o, SfArg{arg_word}, ws);
  }
  on_each_object(refs_word, number, arg_word, ws);
}

// ---- the handlers -----------------------------------------------------------------------------

void sfthis(Ws ws) {
  push_reference([&] { return find_calling_instance(ws); }, ws);
}

void sfnull(Ws ws) { push_result(new_array(ET_OBJREF, 0, nullptr, ws), ws); }

void sfclasses(Ws ws) {
  push_references([&](auto emit) {
    each_pooled([&](std::uint32_t s, std::uint32_t p) {
      if (is_class_object(p, ws) || (rd8(ws, p + pobj::Flags) & kStandsForExternal)) emit(s);
    }, ws);
  }, ws);
}

void sfclass_monadic(SfArg right, Ws ws) {
  const auto object = [&]() -> std::uint32_t {
    const std::uint32_t a = right.array(ws);
    if (array_type(a, ws) != ET_OBJREF || array_rank(a, ws) > 1 || array_count(a, ws) != 1) domner(ws);
    return rd32(ws, array_data(a, ws));
  };
  const std::uint32_t off = pooled(object(), ws);
  if (off == 0 || arch_of(off, ws) == kArchWi) return sfnull(ws);
  if (arch_of(off, ws) != kArchApl) unbound_architecture(ws);
  if (internal_get_class(object(), ws) == 0) return sfnull(ws);
  push_references([&](auto emit) {
    std::uint32_t c = internal_get_class(object(), ws);
    for (std::uint32_t guard = capacity(ws); c != 0 && guard; --guard) {
      emit(c);
      c = live_parent(c, ws);
    }
  }, ws);
}

void sfinstances_monadic(SfArg right, Ws ws) { quad_instances(false, right, ws); }

void sfinstances_dyadic(SfArg left, SfArg right, Ws ws) {
  const std::uint32_t l = left.array(ws);
  if (array_count(l, ws) != 1) ranker(ws);
  std::int64_t v;
  if (!integer_at(l, 0, v, ws) || (v != 0 && v != 1)) domner(ws);
  quad_instances(v == 1, right, ws);
}

void sfbase(Ws ws) { quad_base(current_object(), ws); }
void sfparent(Ws ws) { quad_base(current_object(), ws); }
void sfhandle(Ws ws) { quad_handle(current_object(), ws); }
void sfoid(Ws ws) { quad_oid(current_object(), ws); }
void sfds(Ws ws) { quad_ds(current_object(), ws); }
void sfchildren(Ws ws) { quad_children(current_object(), ws); }
void sfclassname(Ws ws) { quad_classname(current_object(), ws); }
void sfclassref(Ws ws) { quad_classref(current_object(), ws); }
void sfmembers(Ws ws) { list_class_members(current_object(), ws); }
void sfdf(SfArg right, Ws ws) { quad_df(current_object(), right, ws); }
void sfstate(SfArg right, Ws ws) {
  const bool inherited = state_argument(right, ws);
  do_quad_state(current_object(), inherited, ws);
}
void sfclone(SfArg right, Ws ws) { quad_clone(current_object(), right, ws); }

void sfgetclass_monadic(SfArg right, Ws ws) {
  const std::uint32_t a = right.array(ws);
  if (array_type(a, ws) != ET_CHAR || array_rank(a, ws) > 1 || array_count(a, ws) > 255) domner(ws);
  const auto pick = [&] {
    const std::uint32_t t = right.array(ws);
    return class_slot_from_name(ws + array_data(t, ws), array_count(t, ws), ws);
  };
  if (pick() == 0) domner(ws);
  push_reference(pick, ws);
}

void sfreparent_dyadic(SfArg left, SfArg right, Ws ws) {
  const std::uint32_t cls = class_argument(left, ws);
  if (cls == 0) domner(ws);
  if (arch_of(pooled(cls, ws), ws) != kArchApl || !is_class_object(pooled(cls, ws), ws))
    raise_extended_error_ascii(E_DOMAIN, "Architecture does not support reparent operation", ws);
  const std::uint32_t parent = class_argument(right, ws);
  if (reparent_class(cls, parent, ws) != 0) domner(ws);
  push_empty_matrix(ws);
}

void sfreclass_dyadic(SfArg left, SfArg right, Ws ws) {
  const std::uint32_t cls = class_argument(left, ws);
  if (cls == 0) raise_extended_error_ascii(E_DOMAIN, "Class not found", ws);
  const std::uint32_t co = pooled(cls, ws);
  if (arch_of(co, ws) != kArchApl || !is_class_object(co, ws))
    raise_extended_error_ascii(E_DOMAIN, "Architecture does not support reclass operation", ws);
  if (deleted(co, ws)) raise_extended_error_ascii(E_DOMAIN, "Class has been deleted", ws);
  const std::uint32_t r = right.array(ws);
  if (array_type(r, ws) != ET_OBJREF) domner(ws);
  const std::uint32_t n = array_count(r, ws);
  const std::uint32_t data = array_data(r, ws);
  for (std::uint32_t i = 0; i < n; ++i) {
    const std::uint32_t s = rd32(ws, data + 4 * i);
    if (s == 0) continue;
    const std::uint32_t off = pooled(s, ws);
    if (off == 0 || !is_instance_object(off, ws) || arch_of(off, ws) != kArchApl) domner(ws);
  }
  const std::uint32_t symbol = rd32(ws, co + pobj::NameSymbol);
  for (std::uint32_t i = 0; i < n; ++i)
    if (const std::uint32_t off = pooled(rd32(ws, data + 4 * i), ws)) {
      wr32(ws, off + pobj::ClassSlot, cls);
      wr32(ws, off + pobj::NameSymbol, symbol);
    }
  push_empty_matrix(ws);
}

}  // namespace zema
