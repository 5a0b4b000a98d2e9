// Assignment to names and to ⎕ and ⍞.
#include "interpreter/engine/assign.h"

#include <cstring>

#include "interpreter/engine/call.h"
#include "interpreter/engine/current_members.h"
#include "interpreter/engine/engine.h"
#include "interpreter/engine/error_path.h"
#include "interpreter/engine/selective_assign.h"
#include "interpreter/workspace/arrays.h"
#include "interpreter/workspace/errors.h"
#include "interpreter/workspace/heap.h"
#include "interpreter/workspace/integrity.h"
#include "interpreter/workspace/object_pool.h"
#include "interpreter/output/show.h"
#include "interpreter/workspace/symtab.h"
#include "interpreter/engine/sysvars.h"

namespace zema {

namespace {

constexpr std::uint8_t kTokenQuad = 0x99;
constexpr std::uint8_t kTokenQuoteQuad = 0x3B;

[[noreturn]] void syntax_error_for(std::uint8_t cls, Ws ws) {
  switch (cls) {
    case TC_PRIMITIVE:
    case TC_SLASH:
    case TC_NAMEDFN:
    case TC_EACH:
    case TC_MONOP:
    case TC_DYOP:
    case TC_DERIVED: synter_noarray(ws);
    default: synter_badline(ws);
  }
}

void drop_entries(int n, Ws ws) {
  for (int i = 0; i < n; ++i) {
    StackEntry e;
    unstack(e, ws);
    release_entry(e, ws);
  }
}

}  // namespace

namespace {

// Whether the entry names a variable by token `token` (0: any variable).
bool reads_name(const StackEntry& e, std::uint32_t token) {
  if (e.cls != TC_VALUE && e.cls != TC_LEFTARG) return false;  // kOwnsObject: a value of its own
  return token == 0 ? (e.value & 0xFFFF) != 0 : (e.value & 0xFFFF) == token;
}

// The frame below `frame` (0 when it is the bottom one).
std::uint32_t frame_below(std::uint32_t frame, Ws ws) {
  const std::uint32_t link = rd32(ws, frame + siframe::Link);
  return rd32(ws, link) == 0 ? 0 : link - siframe::Link;
}

// Where the entries of the level above `frame` end: at its lowest local
// record (the stack's sentinel when there is no frame).
std::uint32_t level_end(std::uint32_t frame, Ws ws) {
  if (frame == 0) return rd32(ws, hdr::Top) - 4;
  return frame - siframe::RecordSize * (static_cast<std::uint32_t>(rdi16(ws, frame + siframe::Count)) + 1);
}

// Calls `f` with each entry from `from` up to `to` that names `token`.
// Entries are 6 bytes from the stack pointer up; a stretch that is not
// made of whole entries (text being tokenised lies there) is passed over.
template <typename F>
void each_reader(std::uint32_t from, std::uint32_t to, std::uint32_t token, Ws ws, F f) {
  if (to < from || (to - from) % kStackEntrySize != 0) return;
  for (std::uint32_t e = from; e < to; e += kStackEntrySize)
    if (reads_name(load_entry(e, ws), token)) f(e);
}

// settle_name_readers; without `this_level` the current level's entries
// are not searched.
bool settle_readers(std::uint32_t sym, std::uint32_t old, std::uint32_t skip, bool this_level, Ws ws) {
  const std::uint32_t token = token_of_entry(sym);
  // The word that holds what a reader copies: the variable's, or the
  // first reader's once it has taken `old`.
  std::uint32_t source = sym + sym::Value;
  bool taken = false;
  const auto give = [&](std::uint32_t e) {
    if (e == skip) return;
    const StackEntry was = load_entry(e, ws);
    std::uint32_t value;
    if (old != 0 && !taken) {
      value = old;
      taken = true;
      source = e + se::Value;
    } else {
      value = copy_array(source, ws);
    }
    settle_entry(e, StackEntry{static_cast<std::uint8_t>(was.cls | kOwnsObject), was.flags, value}, ws);
  };
  std::uint32_t frame = si_frame(ws);
  std::uint32_t from = rd32(ws, hdr::StackPointer);
  bool running = this_level && state_has(st::Executing, ws);
  // Only a name some level localises can stop the search early.
  const bool local = rd8(ws, sym + sym::Type) & kSymLocalFlag;
  for (;;) {
    if (running) each_reader(from, level_end(frame, ws), token, ws, give);
    if (frame == 0 || rd8(ws, frame + siframe::BelowReads) == 0 ||
        (local && frame_localises(frame, static_cast<std::uint16_t>(token), ws)))
      break;
    from = rd32(ws, frame + siframe::StackPointer);
    running = rd16(ws, frame + siframe::State) & st::Executing;
    frame = frame_below(frame, ws);
  }
  return taken;
}

}  // namespace

bool settle_name_readers(std::uint32_t sym, std::uint32_t old, std::uint32_t skip, Ws ws) {
  return settle_readers(sym, old, skip, true, ws);
}

void settle_lower_name_readers(std::uint32_t sym, Ws ws) { settle_readers(sym, 0, 0, false, ws); }

void settle_indexed_target_readers(Ws ws) {
  if ((rd8(ws, stack_entry_at(2, ws)) & kClassMask) != TC_ASSIGN || is_primer(2, ws)) return;
  const std::uint32_t target = stack_entry_at(0, ws);
  const StackEntry a = load_entry(target, ws);
  if (a.cls != TC_VALUE) return;
  const std::uint32_t sym = entry_of_token(a.value & 0xFFFF);
  if ((rd8(ws, sym + sym::Type) & kSymTypeMask) != SYM_VAR || rd32(ws, sym + sym::Value) == 0) return;
  settle_name_readers(sym, 0, target, ws);
}

bool readers_below(std::uint32_t frame, std::uint32_t sp, Ws ws) {
  const std::uint32_t below = frame_below(frame, ws);
  if (below != 0 && rd8(ws, below + siframe::BelowReads) != 0) return true;
  // A level whose line has not started holds no statement's entries (the
  // text of a ⍎ being tokenised may lie there instead).
  if (!state_has(st::Executing, ws)) return false;
  bool any = false;
  each_reader(sp, level_end(below, ws), 0, ws, [&](std::uint32_t) { any = true; });
  return any;
}

namespace {

// xsvspc: ⎕ and ⍞ show the value; a system or shared variable stores it.
// Either way the value stays the statement's, not displayed again.
int assign_special(std::uint32_t value_entry, Ws ws) {
  const std::uint8_t tok = rd8(ws, hdr::TokenRegister + se::Value);
  if (tok != kTokenQuad && tok != kTokenQuoteQuad) {
    // A system or shared variable takes the value.
    xsvspc_named(rd16(ws, hdr::TokenRegister + se::Value), value_entry, ws);
  } else {
    find_ws_entry(value_entry, ws);  // VALUE ERROR for a value that is not there
    if (tok == kTokenQuoteQuad) wr8(ws, hdr::OutputBits, rd8(ws, hdr::OutputBits) | 0x20);
    DisplayLine dl;
    const std::uint32_t slot = (rd8(ws, value_entry) & kOwnsObject)
                                   ? value_entry + se::Value
                                   : entry_of_token(rd16(ws, value_entry + se::Value)) + sym::Value;
    display_array(dl, slot, ws);
  }
  // The arrow goes; the value, already shown, is not shown again.
  StackEntry arrow, value;
  unstack(arrow, ws);
  unstack(value, ws);
  value.flags |= kSeNoDisplay;
  stack(value, ws);
  get_token(ws);
  return ES_BIND;
}

}  // namespace

int xasgn_common(std::uint32_t token, std::uint32_t value_entry, bool strand, Ws ws) {
  const StackEntry v = load_entry(value_entry, ws);
  const std::uint32_t sym = entry_of_token(token);
  // A←A leaves A as it is.
  if ((v.cls & kOwnsObject) || (v.value & 0xFFFF) != token) {
    if ((v.cls & kOwnsObject) && v.value == 0) error(E_VALUE, 3, 1, ws);
    if (register_class(ws) == TC_SPECIAL && !strand) return assign_special(value_entry, ws);
    if (const int state = assign_current_member_name(static_cast<std::uint16_t>(token), value_entry, strand, ws); state >= 0)
      return state;
    const std::uint8_t type_byte = rd8(ws, sym + sym::Type);
    const std::uint8_t kind = type_byte & kSymTypeMask;
    if (kind == SYM_SYSFN0) {
      wr8(ws, value_entry + se::Flags, 1);
      get_token(ws);
      return ES_BIND;
    }
    if (kind != SYM_UNDEF && kind != SYM_VAR) syntax_error_for(register_class(ws), ws);
    const bool counted = !(type_byte & kSymLocalFlag);
    if (kind == SYM_VAR) {
      const std::uint32_t old = rd32(ws, sym + sym::Value);
      if (counted) wr16(ws, sym + sym::Uses, rd16(ws, sym + sym::Uses) - 1);
      wr32(ws, sym + sym::Value, 0);
      if (old && !settle_name_readers(sym, old, 0, ws)) mgarb(old, ws);
    }
    std::uint32_t value;
    if (v.cls & kOwnsObject) {
      value = v.value;
      store_entry(value_entry, StackEntry{TC_VALUE, v.flags, 0}, ws);
    } else {
      // A value owned by another name is copied.
      const std::uint32_t src_sym = entry_of_token(v.value & 0xFFFF);
      const std::uint32_t size = rd32(ws, rd32(ws, src_sym + sym::Value) + obj::Size);
      value = getspc(size - 8, ws);
      const std::uint32_t src = rd32(ws, src_sym + sym::Value);  // compaction may have moved it
      std::memcpy(ws + value + 8, ws + src + 8, size - 8);
    }
    count_value_references(value, ws);
    wr32(ws, sym + sym::Value, value);
    wr8(ws, sym + sym::Type, (type_byte & ~kSymTypeMask) | SYM_VAR);
    if (counted) wr16(ws, sym + sym::Uses, rd16(ws, sym + sym::Uses) + 1);
    wr32(ws, value - 4, sym);
    wr8(ws, value, OK_SYMBOL);  // written whole: a strand mark goes
  }
  if (!strand) {
    wr8(ws, hdr::TokenRegister + se::Flags, rd8(ws, hdr::TokenRegister + se::Flags) | kSeNoDisplay);
    drop_entries(2, ws);
  }
  return ES_NEXT_TOKEN;
}

int do_xasgn(Ws ws) {
  if (rd8(ws, hdr::SelectBits) & 0x01) domner(ws);
  const std::uint32_t line = current_line(ws);
  if (rd8(ws, line + rd32(ws, hdr::LineCursor) - 1) == kDotTag) return ES_NEXT_TOKEN;
  const std::uint8_t cls = register_class(ws);
  const std::uint32_t value_entry = stack_entry_at(1, ws);
  switch (cls) {
    case TC_VALUE:
    case TC_NILADIC:
    case TC_SPECIAL: return xasgn_common(rd16(ws, hdr::TokenRegister + se::Value), value_entry, false, ws);
    case TC_RPAREN: break;
    default: syntax_error_for(cls, ws);
  }
  // A parenthesised list of names, read right to left: each goes on the
  // stack, so the leftmost ends on top and the list takes workspace room,
  // not host memory. The entries are of the ")" class, which owns nothing
  // and is no reference to a variable (an assignment gives a variable's
  // old value to the value entries that name it).
  std::uint32_t n = 0;
  auto name_at = [&](std::uint32_t at) { return load_entry(at, ws).value; };
  auto drop_names = [&] { wr32(ws, hdr::StackPointer, rd32(ws, hdr::StackPointer) + n * kStackEntrySize); };
  for (;;) {
    get_token(ws);
    const std::uint8_t c = register_class(ws);
    if (c == TC_LPAREN) break;
    if (c == TC_VALUE) {
      stack(StackEntry{TC_RPAREN, 0, rd16(ws, hdr::TokenRegister + se::Value)}, ws);
      ++n;
    } else if (c == TC_RBRACKET && n == 0) {
      // Selective assignment through bracket indexing: (… X[I])←V.
      return sel_asgn_indexed(value_entry, ws);
    } else if (c == TC_PRIMITIVE || c == TC_RBRACKET || c == TC_SLASH) {
      // Selective assignment: one name, next to the ")".
      if (n != 1) domner(ws);
      const std::uint32_t name = name_at(rd32(ws, hdr::StackPointer));
      drop_names();
      if (is_current_member_name(static_cast<std::uint16_t>(name), ws))
        raise_extended_error_ascii(E_DOMAIN, "Selective assignment on properties not yet supported", ws);
      return sel_asgn(name, value_entry, ws);
    } else if (c == TC_EACH) {
      noncer_1(ws);
    } else {
      syntax_error_for(c, ws);
    }
  }
  if (n == 0) synter_badline(ws);
  // Name i from the left.
  const std::uint32_t names = rd32(ws, hdr::StackPointer);
  auto name_of = [&](std::uint32_t i) { return name_at(names + i * kStackEntrySize); };
  if (n == 1) {
    const std::uint32_t name = name_of(0);
    drop_names();
    set_token_register(StackEntry{TC_VALUE, 0, name}, ws);
    return xasgn_common(name, value_entry, false, ws);
  }
  // Strand assignment: one item (or the one element) for each name.
  std::uint32_t v = find_ws_entry(value_entry, ws);
  const std::uint8_t type = rd8(ws, v + obj::Type);
  const std::uint32_t rank = rd16(ws, v + obj::Rank4) / 4;
  std::uint64_t count = 1;
  for (std::uint32_t i = 0; i < rank; ++i) count *= rd32(ws, v + obj::Shape + 4 * i);
  if (count != 1) {
    if (rank != 1) ranker(ws);
    if (count != n) lener(ws);
  }
  for (std::uint32_t i = 0; i < n; ++i) {
    const std::uint32_t k = count == 1 ? 0 : i;
    std::uint32_t item;
    if (type == ET_NESTED) {
      const std::uint32_t src_size = rd32(ws, v + rd32(ws, v + obj::Shape + 4 * rank + 4 * k) + obj::Size);
      item = getspc(src_size - 8, ws);
      v = find_ws_entry(value_entry, ws);
      const std::uint32_t src = v + rd32(ws, v + obj::Shape + 4 * rank + 4 * k);
      std::memcpy(ws + item + 8, ws + src + 8, src_size - 8);
    } else {
      const std::uint32_t width = type == ET_FLOAT ? 8 : 4;
      item = getspc(4 + width, ws);
      v = find_ws_entry(value_entry, ws);
      const std::uint32_t data = v + obj::Shape + 4 * rank;
      wr8(ws, item + obj::Type, type);
      wr16(ws, item + obj::Rank4, 0);
      wr32(ws, item + 12, 0);
      if (type == ET_BOOL)
        wr32(ws, item + 12, (rd32(ws, data + 4 * (k / 32)) >> (31 - k % 32) & 1) ? 0x80000000u : 0);
      else if (type == ET_CHAR)
        wr8(ws, item + 12, rd8(ws, data + k));
      else
        std::memcpy(ws + item + 12, ws + data + width * k, width);
    }
    const std::uint32_t temp = stack(StackEntry{static_cast<std::uint8_t>(kOwnsObject | TC_VALUE), 0, item}, ws);
    xasgn_common(name_of(i), temp, true, ws);
    StackEntry done;
    unstack(done, ws);
  }
  drop_names();
  // The statement's value is the whole value, not displayed.
  StackEntry arrow, value;
  unstack(arrow, ws);
  unstack(value, ws);
  value.flags |= kSeNoDisplay;
  settle_entry(hdr::TokenRegister, value, ws);
  return ES_NEXT_TOKEN;
}

}  // namespace zema
