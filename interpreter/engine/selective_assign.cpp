// Selective assignment: the model of the variable, the model check of the
// primitives, and the store at the positions the target selected.
#include "interpreter/engine/selective_assign.h"

#include <cstring>
#include <vector>

#include "interpreter/engine/assign.h"
#include "interpreter/engine/engine.h"
#include "interpreter/primitives/args.h"
#include "interpreter/primitives/primitive_call.h"
#include "interpreter/primitives/structural.h"
#include "interpreter/reader/entry_errors.h"
#include "interpreter/reader/token_format.h"
#include "interpreter/workspace/arrays.h"
#include "interpreter/workspace/errors.h"
#include "interpreter/workspace/heap.h"
#include "interpreter/workspace/object_pool.h"
#include "interpreter/workspace/stack.h"
#include "interpreter/workspace/symtab.h"
#include "interpreter/workspace/sysvar_slots.h"

namespace zema {

namespace {

// Primitive codes met here.
constexpr std::uint8_t kCodeMember = 0x45;     // ∊
constexpr std::uint8_t kCodePick = 0x58;       // ⊃
constexpr std::uint8_t kCodeFirst = 0x59;      // ↑
constexpr std::uint8_t kCodeCatenate = 0x2C;   // ,
constexpr std::uint8_t kCodeCatenate1 = 0x7D;  // ⍪
constexpr std::uint8_t kParenTag = 0x45;       // the one-byte token of )
constexpr std::uint32_t kModelBit = 0x80000000u;
constexpr int kMaxDepth = 100;

constexpr std::uint32_t round4(std::uint32_t n) { return (n + 3) & ~3u; }

std::uint32_t var_slot(std::uint32_t token) { return entry_of_token(token) + sym::Value; }

// Pushes a stack entry owning the fresh object `obj` (owned by the token
// register since getspc): it goes through the register, so that a
// compaction while pushing finds it.
void push_owned(std::uint32_t obj, Ws ws) {
  const StackEntry saved = load_entry(hdr::TokenRegister, ws);
  store_entry(hdr::TokenRegister, StackEntry{static_cast<std::uint8_t>(kOwnsObject | TC_VALUE), 0, obj}, ws);
  stack(hdr::TokenRegister, ws);
  store_entry(hdr::TokenRegister, saved, ws);
}

// Pushes a copy of the object at `rel` bytes into the array that the word
// at `slot` holds (an item at any depth, or the array itself with rel 0).
void push_copy(std::uint32_t slot, std::uint32_t rel, Ws ws) {
  const std::uint32_t size = rd32(ws, rd32(ws, slot) + rel + obj::Size);
  const std::uint32_t copy = getspc(size - 8, ws);
  std::memcpy(ws + copy + 8, ws + rd32(ws, slot) + rel + 8, size - 8);
  push_owned(copy, ws);
}

// The top entry takes the slot of the entry at `below` (whose object is
// released); the stack is cut back to it.
void settle_top_into(std::uint32_t below, Ws ws) {
  StackEntry top;
  unstack(top, ws);
  while (stack_entry_at(0, ws) != below) {
    StackEntry e;
    unstack(e, ws);
    release_entry(e, ws);
  }
  settle_entry(below, StackEntry{static_cast<std::uint8_t>(kOwnsObject | TC_VALUE), 0, top.value}, ws);
}

void drop_top(int n, Ws ws) {
  for (int i = 0; i < n; ++i) {
    StackEntry e;
    unstack(e, ws);
    release_entry(e, ws);
  }
}

bool simple_scalar(std::uint32_t a, Ws ws) { return array_type(a, ws) != ET_NESTED && array_rank(a, ws) == 0; }

// ---- models --------------------------------------------------------------------

// Bytes of the nested model of the object at `a`.
std::uint64_t model_bytes(std::uint32_t a, int depth, Ws ws) {
  if (depth > kMaxDepth) limit_error(ws);
  const ArrayInfo x = array_info(a, ws);
  const std::uint64_t head = 12 + 4ull * x.rank;
  if (x.type != ET_NESTED) return head + 4ull * x.count;
  if (x.count == 0) return head + 16;  // an empty integer vector as its prototype
  std::uint64_t s = head + 4ull * x.count;
  for (std::uint32_t i = 0; i < x.count; ++i) s += model_bytes(a + rd32(ws, x.data + 4 * i), depth + 1, ws);
  return s;
}

// Writes at `d` the model of the object at `a`, numbering its simple
// elements from `k` depth first; answers the bytes written.
std::uint32_t write_model(std::uint32_t a, std::uint32_t d, std::uint32_t& k, Ws ws) {
  const ArrayInfo x = array_info(a, ws);
  wr32(ws, d, 0);
  wr8(ws, d + obj::Type, x.type == ET_NESTED ? ET_NESTED : ET_INT);
  wr8(ws, d + obj::Flags9, 0);
  wr16(ws, d + obj::Rank4, static_cast<std::uint16_t>(4 * x.rank));
  for (std::uint32_t i = 0; i < x.rank; ++i) wr32(ws, d + obj::Shape + 4 * i, rd32(ws, a + obj::Shape + 4 * i));
  std::uint32_t off = obj::Shape + 4 * x.rank;
  if (x.type != ET_NESTED) {
    for (std::uint32_t i = 0; i < x.count; ++i) wr32(ws, d + off + 4 * i, kModelBit + k++);
    off += 4 * x.count;
  } else if (x.count == 0) {
    const std::uint32_t p = d + off;
    wr32(ws, p, 0);
    wr32(ws, p + obj::Size, 16);
    wr8(ws, p + obj::Type, ET_INT);
    wr8(ws, p + obj::Flags9, 0);
    wr16(ws, p + obj::Rank4, 4);
    wr32(ws, p + obj::Shape, 0);
    off += 16;
  } else {
    std::uint32_t pos = off + 4 * x.count;
    for (std::uint32_t i = 0; i < x.count; ++i) {
      wr32(ws, d + off + 4 * i, pos);
      pos += write_model(a + rd32(ws, x.data + 4 * i), d + pos, k, ws);
    }
    off = pos;
  }
  wr32(ws, d + obj::Size, off);
  return off;
}

// The number of simple elements (leaves) of the object at `a`.
std::uint64_t leaf_count(std::uint32_t a, int depth, Ws ws) {
  if (depth > kMaxDepth) limit_error(ws);
  const ArrayInfo x = array_info(a, ws);
  if (x.type != ET_NESTED) return x.count;
  std::uint64_t n = 0;
  for (std::uint32_t i = 0; i < x.count; ++i) n += leaf_count(a + rd32(ws, x.data + 4 * i), depth + 1, ws);
  return n;
}

// The model of the variable whose value the word `slot` holds: a fresh
// object, owned by the token register.
std::uint32_t make_model(std::uint32_t slot, bool nested, Ws ws) {
  const std::uint32_t a = rd32(ws, slot);
  if (!nested) {
    const ArrayInfo x = array_info(a, ws);
    const std::vector<std::uint32_t> shape = shape_of(x, ws);
    const std::uint32_t m = new_array(ET_INT, x.rank, shape.data(), ws);
    const std::uint32_t data = array_data(m, ws);
    for (std::uint32_t i = 0; i < x.count; ++i) wr32(ws, data + 4 * i, kModelBit + i);
    return m;
  }
  const std::uint64_t bytes = model_bytes(a, 0, ws);
  if (bytes > 0x7FFFFFF0u) xwsfll(ws);
  const std::uint32_t m = getspc(static_cast<std::uint32_t>(bytes) - 8, ws);
  const std::uint32_t head = rd32(ws, m);
  const std::uint32_t size = rd32(ws, m + obj::Size);
  std::uint32_t k = 0;
  write_model(rd32(ws, slot), m, k, ws);
  wr32(ws, m, head);
  wr32(ws, m + obj::Size, size);
  return m;
}

// Whether the ↑ just left of the name (its token at line offset
// `first_at`) is first with a function to its left (then its result is
// worked on further and the leaves are modelled): the tokens left of it are
// read back over closing parentheses, literals and bracketed indices.
bool function_left_of_first(std::uint32_t first_at, Ws ws) {
  const std::uint32_t line = current_line(ws);
  std::uint32_t c = line + first_at;
  int brackets = 0;
  for (int guard = 0; guard < 100000 && c > line + 8; ++guard) {
    const std::uint8_t tag = rd8(ws, c - 1);
    if (tag == TT_STATEMENT) return false;
    if (!(tag & 1)) {
      if (brackets == 0) return false;
      c -= 2;
      continue;
    }
    const std::uint8_t cls = optran(static_cast<std::uint8_t>(tag >> 1));
    if (cls == TC_RBRACKET) ++brackets;
    else if (cls == TC_LBRACKET && brackets > 0) --brackets;
    else if (brackets == 0 && cls != TC_RPAREN && cls != TC_CONSTANT)
      return cls == TC_PRIMITIVE || cls == TC_SLASH || cls == TC_EACH || cls == TC_MONOP || cls == TC_DYOP;
    c = skipsl(c, ws);
  }
  return false;
}

// Whether the model of the variable of symbol entry `sym` numbers its
// leaves: a nested variable whose target reaches inside its items (∊, ⊃,
// or first worked on further), the primitive of one-byte token `tag` just
// left of the name; `tag_at` is that token's line offset.
bool leaves_modelled(std::uint32_t sym, std::uint8_t tag, std::uint32_t tag_at, Ws ws) {
  if (array_type(rd32(ws, sym + sym::Value), ws) != ET_NESTED) return false;
  if (!(tag & 1) || optran(static_cast<std::uint8_t>(tag >> 1)) != TC_PRIMITIVE) return false;
  const std::uint8_t code = static_cast<std::uint8_t>(tag >> 1);
  return code == kCodeMember || code == kCodePick || (code == kCodeFirst && function_left_of_first(tag_at, ws));
}

// The target of (… X[I])←V, read back from the `]` just right of the
// target's `)` (the line cursor at it): over bracket groups, and into
// parentheses, to the name they index ((X[I])[J], ((,X)[I]), (X[I;])).
// Answers the name's line offset, or 0 when a value or a function stands
// there instead.
std::uint32_t indexed_target_at(Ws ws) {
  const std::uint32_t line = current_line(ws);
  std::uint32_t c = line + rd32(ws, hdr::LineCursor);  // just past the token left of the "]"
  int depth = 1;
  for (int guard = 0; guard < 1000000 && c > line + 8; ++guard) {
    const std::uint8_t tag = rd8(ws, c - 1);
    if (tag == TT_STATEMENT) return 0;
    if (depth == 0) {
      // Left of a bracket group, or just inside a ")": a name is the target.
      if (!(tag & 1)) return c - 2 - line;
      const std::uint8_t cls = optran(static_cast<std::uint8_t>(tag >> 1));
      if (cls == TC_RBRACKET) depth = 1;
      else if (cls != TC_RPAREN) return 0;
      c -= 1;
      continue;
    }
    if (tag & 1) {
      const std::uint8_t cls = optran(static_cast<std::uint8_t>(tag >> 1));
      if (cls == TC_RBRACKET) ++depth;
      else if (cls == TC_LBRACKET) --depth;
    }
    c = skipsl(c, ws);
  }
  return 0;
}

// The variable of symbol entry `sym` must have a value (VALUE ERROR); V
// (the entry at `value_entry`) becomes a copy of its own, so that storing
// into the variable cannot change it.
void check_target_and_value(std::uint32_t sym, std::uint32_t value_entry, Ws ws) {
  if ((rd8(ws, sym + sym::Type) & kSymTypeMask) != SYM_VAR || rd32(ws, sym + sym::Value) == 0) valer(ws);
  const StackEntry v = load_entry(value_entry, ws);
  find_ws_entry(value_entry, ws);  // VALUE ERROR for a value that is not there
  if (!(v.cls & kOwnsObject)) {
    const std::uint32_t c = copy_array(var_slot(v.value & 0xFFFF), ws);
    settle_entry(value_entry, StackEntry{static_cast<std::uint8_t>(kOwnsObject | TC_VALUE), v.flags, c}, ws);
  }
}

// ---- building new values ---------------------------------------------------------

// Pushes the array that the word `word` holds with its element (item) i
// replaced by item map[base + i] of V (the entry at `v_entry`) wherever
// that is not −1; the map is the integer vector of the entry at `map_entry`.
void build_group(std::uint32_t word, std::uint32_t base, std::uint32_t map_entry, std::uint32_t v_entry, Ws ws) {
  xopafx(0, hdr::LeftDesc, v_entry, ws);
  xopafx_nest(0, hdr::RightDesc, word, ws);
  const ArrayInfo g = array_info(rd32(ws, word), ws);
  const std::vector<std::uint32_t> shape = shape_of(g, ws);
  const std::uint32_t count = g.count;
  result_from_picks(
      shape,
      [&](const std::function<void(const Pick&)>& emit) {
        const std::uint32_t data = array_data(find_ws_entry(map_entry, ws), ws);
        for (std::uint32_t i = 0; i < count; ++i) {
          const std::int32_t k = rdi32(ws, data + 4 * (base + i));
          emit(k >= 0 ? Pick{static_cast<std::uint32_t>(k), true, false} : Pick{i, false, false});
        }
      },
      false, ws);
}

// Pushes ⊂X, X the array of the entry at `x_entry`: a nested scalar
// holding a copy of it.
void push_enclosed(std::uint32_t x_entry, Ws ws) {
  const std::uint32_t size = round4(rd32(ws, find_ws_entry(x_entry, ws) + obj::Size));
  const std::uint32_t e = getspc(4 + 4 + size, ws);
  const std::uint32_t src = find_ws_entry(x_entry, ws);
  wr8(ws, e + obj::Type, ET_NESTED);
  wr8(ws, e + obj::Flags9, 0);
  wr16(ws, e + obj::Rank4, 0);
  wr32(ws, e + obj::Shape, 16);
  std::memcpy(ws + e + 16, ws + src, rd32(ws, src + obj::Size));
  wr32(ws, e + 16, 0);
  push_owned(e, ws);
}

// Replaces item p of the array of the entry at `node_entry` (on top of the
// stack) by the array of the entry at `x_entry` whole (a simple scalar as
// an element); the node's entry takes the new array.
void replace_item(std::uint32_t node_entry, std::uint32_t p, std::uint32_t x_entry, Ws ws) {
  std::uint32_t l_entry = x_entry;
  if (!simple_scalar(find_ws_entry(x_entry, ws), ws)) {
    push_enclosed(x_entry, ws);
    l_entry = stack_entry_at(0, ws);
  }
  xopafx(0, hdr::LeftDesc, l_entry, ws);
  xopafx(0, hdr::RightDesc, node_entry, ws);
  const ArrayInfo n = array_info(find_ws_entry(node_entry, ws), ws);
  const std::vector<std::uint32_t> shape = shape_of(n, ws);
  const std::uint32_t count = n.count;
  result_from_picks(
      shape,
      [&](const std::function<void(const Pick&)>& emit) {
        for (std::uint32_t i = 0; i < count; ++i) emit(i == p ? Pick{0, true, false} : Pick{i, false, false});
      },
      false, ws);
  settle_top_into(node_entry, ws);
}

// Replaces the top n entries (arrays, in item order) by one nested array of
// the shape of the object at `rel` in the array the word `slot` holds.
void assemble(std::uint32_t n, std::uint32_t slot, std::uint32_t rel, Ws ws) {
  const std::uint32_t rank = array_rank(rd32(ws, slot) + rel, ws);
  std::uint64_t bytes = 4 + 4ull * rank + 4ull * n;
  for (std::uint32_t i = 0; i < n; ++i) bytes += round4(rd32(ws, find_ws_entry(stack_entry_at(i, ws), ws) + obj::Size));
  if (bytes > 0x7FFFFFF0u) xwsfll(ws);
  const std::uint32_t z = getspc(static_cast<std::uint32_t>(bytes), ws);
  const std::uint32_t a = rd32(ws, slot) + rel;
  wr8(ws, z + obj::Type, ET_NESTED);
  wr8(ws, z + obj::Flags9, 0);
  wr16(ws, z + obj::Rank4, static_cast<std::uint16_t>(4 * rank));
  for (std::uint32_t i = 0; i < rank; ++i) wr32(ws, z + obj::Shape + 4 * i, rd32(ws, a + obj::Shape + 4 * i));
  const std::uint32_t table = z + obj::Shape + 4 * rank;
  std::uint32_t pos = obj::Shape + 4 * rank + 4 * n;
  for (std::uint32_t i = 0; i < n; ++i) {
    const std::uint32_t src = find_ws_entry(stack_entry_at(n - 1 - i, ws), ws);
    const std::uint32_t size = rd32(ws, src + obj::Size);
    wr32(ws, table + 4 * i, pos);
    std::memcpy(ws + z + pos, ws + src, size);
    wr32(ws, z + pos, 0);
    pos += round4(size);
  }
  drop_top(static_cast<int>(n), ws);
  push_owned(z, ws);
}

// Pushes the rebuilt copy of the object at `rel` in the variable (value
// word `slot`): its leaves refilled in order from position `j` on (groups
// of simple elements, or of simple scalar items, keep their shape), its
// nesting kept.
void rebuild(std::uint32_t slot, std::uint32_t rel, std::uint32_t& j, int depth, std::uint32_t map_entry,
             std::uint32_t v_entry, Ws ws) {
  if (depth > kMaxDepth) limit_error(ws);
  const ArrayInfo x = array_info(rd32(ws, slot) + rel, ws);
  bool group = x.type != ET_NESTED;
  if (!group && x.count > 0) {
    group = true;
    for (std::uint32_t i = 0; i < x.count && group; ++i)
      group = simple_scalar(x.off + rd32(ws, x.data + 4 * i), ws);
  }
  if (x.count == 0) {
    push_copy(slot, rel, ws);
    return;
  }
  if (group) {
    push_copy(slot, rel, ws);
    const std::uint32_t e = stack_entry_at(0, ws);
    build_group(e + se::Value, j, map_entry, v_entry, ws);
    settle_top_into(e, ws);
    j += x.count;
    return;
  }
  for (std::uint32_t i = 0; i < x.count; ++i) {
    const std::uint32_t a = rd32(ws, slot) + rel;
    rebuild(slot, rel + rd32(ws, array_data(a, ws) + 4 * i), j, depth + 1, map_entry, v_entry, ws);
  }
  assemble(x.count, slot, rel, ws);
}

// The variable of symbol token `token` takes the array of the top entry,
// which is popped; its old value is released.
void give_to_variable(std::uint32_t token, Ws ws) {
  StackEntry z;
  unstack(z, ws);
  const std::uint32_t slot = var_slot(token);
  const std::uint32_t old = rd32(ws, slot);
  count_value_references(z.value, ws);
  wr32(ws, slot, z.value);
  wr32(ws, z.value - 4, entry_of_token(token));
  wr8(ws, z.value, OK_SYMBOL);
  if (old && !settle_name_readers(entry_of_token(token), old, 0, ws)) mgarb(old, ws);
}

// Ends the assignment: the entries above V go, V stands in the token
// register (in the place of the "(") as the value, not displayed.
int finish(int above_v, Ws ws) {
  wr8(ws, hdr::SelectBits,
      rd8(ws, hdr::SelectBits) & ~(selbits::Active | selbits::Deferred | selbits::PickFirst | selbits::Nested));
  drop_top(above_v, ws);
  const std::uint32_t v = stack_entry_at(0, ws);
  wr8(ws, v + se::Flags, rd8(ws, v + se::Flags) | kSeNoDisplay);
  popst(ws);
  return ES_BIND;
}

// V against the selection of `r`: one element is spread; otherwise equal
// shapes once axes of length 1 are left out (RANK ERROR, LENGTH ERROR).
void check_shape(std::uint32_t v, std::uint32_t r, Ws ws) {
  if (array_count(v, ws) == 1) return;
  std::uint32_t sv[64], sr[64];
  std::uint32_t nv = 0, nr = 0;
  for (std::uint32_t i = 0; i < array_rank(v, ws); ++i)
    if (array_axis(v, i, ws) != 1) sv[nv++] = array_axis(v, i, ws);
  for (std::uint32_t i = 0; i < array_rank(r, ws); ++i)
    if (array_axis(r, i, ws) != 1) sr[nr++] = array_axis(r, i, ws);
  if (nv != nr) ranker(ws);
  for (std::uint32_t i = 0; i < nv; ++i)
    if (sv[i] != sr[i]) lener(ws);
}

}  // namespace

int sel_asgn(std::uint32_t name_token, std::uint32_t value_entry, Ws ws) {
  const std::uint32_t sym = entry_of_token(name_token);
  check_target_and_value(sym, value_entry, ws);
  bool nested = false;
  if (register_class(ws) == TC_PRIMITIVE)
    nested = leaves_modelled(sym, static_cast<std::uint8_t>(rd32(ws, hdr::TokenRegister + se::Value) & 0xFF),
                             rd32(ws, hdr::LineCursor), ws);
  stack(StackEntry{TC_RPAREN, kSeSelectiveModel, (name_token << 8) | kParenTag}, ws);
  push_owned(make_model(var_slot(name_token), nested, ws), ws);
  // The model, untouched yet, is marked as a fresh result as well.
  wr8(ws, stack_entry_at(0, ws) + se::Flags, kSeSelectiveModel | kSeResult);
  std::uint8_t bits = rd8(ws, hdr::SelectBits) & ~(selbits::PickFirst | selbits::Nested | selbits::Deferred);
  bits |= selbits::Active | (nested ? selbits::Nested : 0);
  wr8(ws, hdr::SelectBits, bits);
  return ES_BIND;
}

int sel_asgn_indexed(std::uint32_t value_entry, Ws ws) {
  const std::uint32_t at = indexed_target_at(ws);
  if (at == 0) domner(ws);
  const std::uint32_t line = current_line(ws);
  const std::uint32_t name_token = (std::uint32_t{rd8(ws, line + at)} << 8) | rd8(ws, line + at + 1);
  const std::uint32_t sym = entry_of_token(name_token);
  check_target_and_value(sym, value_entry, ws);
  stack(StackEntry{TC_RPAREN, kSeSelectiveModel, (name_token << 8) | kParenTag}, ws);
  wr32(ws, hdr::SelectTarget, at);
  std::uint8_t bits = rd8(ws, hdr::SelectBits) & ~(selbits::PickFirst | selbits::Nested);
  wr8(ws, hdr::SelectBits, bits | selbits::Active | selbits::Deferred);
  return ES_BIND;
}

bool fetch_selective_model(std::uint32_t name_at, Ws ws) {
  if (!(rd8(ws, hdr::SelectBits) & selbits::Deferred) || rd32(ws, hdr::SelectTarget) != name_at) return false;
  const std::uint32_t line = current_line(ws);
  const std::uint32_t name_token = (std::uint32_t{rd8(ws, line + name_at)} << 8) | rd8(ws, line + name_at + 1);
  const bool nested = leaves_modelled(entry_of_token(name_token), rd8(ws, line + name_at - 1), name_at - 1, ws);
  const std::uint32_t m = make_model(var_slot(name_token), nested, ws);
  set_token_register(StackEntry{static_cast<std::uint8_t>(kOwnsObject | TC_VALUE), kSeSelectiveModel | kSeResult, m},
                     ws);
  std::uint8_t bits = rd8(ws, hdr::SelectBits) & ~(selbits::Deferred | selbits::Nested);
  wr8(ws, hdr::SelectBits, static_cast<std::uint8_t>(bits | (nested ? selbits::Nested : 0)));
  return true;
}

bool is_selective_paren(std::uint32_t entry, Ws ws) {
  return (rd8(ws, entry + se::Class) & kClassMask) == TC_RPAREN && (rd8(ws, entry + se::Flags) & kSeSelectiveModel) &&
         (rd32(ws, entry + se::Value) & 0xFF) == kParenTag;
}

int sel_asgn_return(Ws ws) {
  const std::uint8_t bits = rd8(ws, hdr::SelectBits);
  wr8(ws, hdr::SelectBits, bits & ~(selbits::Active | selbits::Deferred));
  const std::uint32_t r_entry = stack_entry_at(0, ws);
  const StackEntry r = load_entry(r_entry, ws);
  if ((r.cls & kClassMask) != TC_VALUE || !(r.cls & kOwnsObject) || !(r.flags & kSeSelectiveModel) || r.value == 0)
    domner(ws);
  const std::uint32_t token = rd32(ws, stack_entry_at(1, ws) + se::Value) >> 8;
  const std::uint32_t v_entry = stack_entry_at(3, ws);
  const std::uint32_t slot = var_slot(token);
  const bool nested = bits & selbits::Nested;
  const std::uint64_t total64 = nested ? leaf_count(rd32(ws, slot), 0, ws) : array_count(rd32(ws, slot), ws);
  const auto total = static_cast<std::uint32_t>(total64);
  // Every element a model position: a computed value or a fill cannot be assigned.
  std::uint32_t ra = r.value;
  const std::uint32_t n = array_count(ra, ws);
  if (n == 0) return finish(3, ws);
  if (array_type(ra, ws) != ET_INT) domner(ws);
  for (std::uint32_t i = 0; i < n; ++i) {
    const std::uint32_t u = rd32(ws, array_data(ra, ws) + 4 * i);
    if (!(u & kModelBit) || (u & ~kModelBit) >= total) domner(ws);
  }
  // First or pick outermost, a simple element chosen: V replaces it whole.
  if ((bits & selbits::PickFirst) && array_rank(find_ws_entry(v_entry, ws), ws) != 0) {
    push_enclosed(v_entry, ws);
    StackEntry ev;
    unstack(ev, ws);
    settle_entry(v_entry, StackEntry{static_cast<std::uint8_t>(kOwnsObject | TC_VALUE), 0, ev.value}, ws);
    ra = find_ws_entry(r_entry, ws);
  }
  check_shape(find_ws_entry(v_entry, ws), ra, ws);
  // The map: for each position, the item of V stored there (the last one
  // when R repeats a position), or −1.
  const std::uint32_t map = new_array(ET_INT, 1, &total, ws);
  push_owned(map, ws);
  const std::uint32_t map_entry = stack_entry_at(0, ws);
  {
    const std::uint32_t md = array_data(find_ws_entry(map_entry, ws), ws);
    for (std::uint32_t i = 0; i < total; ++i) wr32(ws, md + 4 * i, 0xFFFFFFFFu);
    const std::uint32_t rr = find_ws_entry(r_entry, ws);
    const bool one = array_count(find_ws_entry(v_entry, ws), ws) == 1;
    for (std::uint32_t i = 0; i < n; ++i) {
      const std::uint32_t pos = rd32(ws, array_data(rr, ws) + 4 * i) & ~kModelBit;
      wr32(ws, md + 4 * pos, one ? 0 : i);
    }
  }
  if (nested) {
    std::uint32_t j = 0;
    rebuild(slot, 0, j, 0, map_entry, v_entry, ws);
  } else {
    build_group(slot, 0, map_entry, v_entry, ws);
  }
  give_to_variable(token, ws);
  return finish(4, ws);  // the map, R, ")" and ←
}

void check_model_argument(std::uint8_t code, std::uint32_t flags, bool dyadic, std::uint32_t right_entry, Ws ws) {
  const std::uint8_t bits = rd8(ws, hdr::SelectBits);
  if (!(bits & selbits::Active) || !(rd8(ws, right_entry + se::Flags) & kSeSelectiveModel)) return;
  if (!(flags & pf::AcceptsModel)) domner(ws);
  if (dyadic && (code == kCodeCatenate || code == kCodeCatenate1)) domner(ws);
  const bool pick_first = dyadic ? code == kCodePick : code == kCodeFirst;
  wr8(ws, hdr::SelectBits,
      static_cast<std::uint8_t>(pick_first ? (bits | selbits::PickFirst) : (bits & ~selbits::PickFirst)));
}

void refuse_model_argument(std::uint32_t right_entry, Ws ws) {
  if ((rd8(ws, hdr::SelectBits) & selbits::Active) && (rd8(ws, right_entry + se::Flags) & kSeSelectiveModel))
    domner(ws);
}

bool pick_selasgn(int& state, Ws ws) {
  // The stack: L, ⊃, R, ")", ←, V from the top.
  if (!(rd8(ws, hdr::SelectBits) & selbits::Active) || register_class(ws) != TC_LPAREN) return false;
  if (!is_selective_paren(stack_entry_at(3, ws), ws)) return false;
  const std::uint8_t rflags = rd8(ws, stack_entry_at(2, ws) + se::Flags);
  if ((rflags & (kSeSelectiveModel | kSeResult)) != (kSeSelectiveModel | kSeResult)) return false;
  wr8(ws, hdr::SelectBits, rd8(ws, hdr::SelectBits) & ~selbits::Active);
  wr32(ws, hdr::TokensTaken, rd32(ws, hdr::TokensTaken) + 1);  // as the application's end would
  const std::uint32_t token = rd32(ws, stack_entry_at(3, ws) + se::Value) >> 8;
  const std::uint32_t slot = var_slot(token);
  const std::uint32_t l_entry = stack_entry_at(0, ws);
  const std::uint32_t v_entry = stack_entry_at(5, ws);
  // Walk the path first: every level checked before anything is built.
  const ArrayInfo path = array_info(find_ws_entry(l_entry, ws), ws);
  if (path.rank > 1) ranker(ws);
  if (path.count > static_cast<std::uint32_t>(kMaxDepth) + 1) limit_error(ws);
  std::uint32_t rels[kMaxDepth + 2], positions[kMaxDepth + 2];
  const std::int32_t io = quad_io(ws);
  std::uint32_t rel = 0;
  for (std::uint32_t d = 0; d < path.count; ++d) {
    const std::uint32_t c = rd32(ws, slot) + rel;
    const ArrayInfo cx = array_info(c, ws);
    // The index of this level: an item of a nested L, else an element.
    ArrayInfo ix;
    std::uint32_t ix_count;
    if (path.type == ET_NESTED) {
      ix = array_info(path.off + rd32(ws, path.data + 4 * d), ws);
      if (ix.type == ET_NESTED) domner(ws);
      if (ix.rank > 1) ranker(ws);
      ix_count = ix.count;
    } else {
      ix = path;
      ix_count = 1;
    }
    if (ix_count != cx.rank) ranker(ws);
    std::uint32_t p = 0;
    for (std::uint32_t k = 0; k < cx.rank; ++k) {
      const std::int64_t i = std::int64_t{int_at(ix, path.type == ET_NESTED ? k : d, ws)} - io;
      const std::uint32_t len = rd32(ws, c + obj::Shape + 4 * k);
      if (i < 0 || i >= std::int64_t{len}) indxer(ws);
      p = p * len + static_cast<std::uint32_t>(i);
    }
    rels[d] = rel;
    positions[d] = p;
    if (d + 1 < path.count) {
      if (cx.type != ET_NESTED) ranker(ws);  // a simple scalar has no items to pick from
      rel += rd32(ws, cx.data + 4 * p);
    }
  }
  if (path.count == 0) {
    push_copy(v_entry + se::Value, 0, ws);
  } else {
    // Innermost first: each level's copy with one item replaced.
    std::uint32_t child = v_entry;
    for (std::uint32_t d = path.count; d-- > 0;) {
      push_copy(slot, rels[d], ws);
      const std::uint32_t node = stack_entry_at(0, ws);
      replace_item(node, positions[d], child, ws);
      if (child != v_entry) settle_top_into(child, ws);
      child = stack_entry_at(0, ws);
    }
  }
  give_to_variable(token, ws);
  state = finish(5, ws);  // L, ⊃, R, ")" and ←
  return true;
}

}  // namespace zema
