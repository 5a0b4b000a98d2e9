// The listing and setting commands, )ERASE, )GROUP, )GRP, )REPARENT, )TIME
// and )EDIT.
#include "interpreter/session/listing_commands.h"

#include <algorithm>
#include <array>
#include <cstring>

#include "host/charset.h"
#include "interpreter/engine/assign.h"
#include "interpreter/engine/classes.h"
#include "interpreter/engine/function_object.h"
#include "interpreter/output/display.h"
#include "interpreter/output/numfmt.h"
#include "interpreter/output/timestamp.h"
#include "interpreter/reader/tokeniser.h"
#include "interpreter/session/definition.h"
#include "interpreter/sysfns/class_functions.h"
#include "interpreter/sysfns/commands.h"
#include "interpreter/sysfns/names.h"
#include "interpreter/workspace/arrays.h"
#include "interpreter/workspace/entry.h"
#include "interpreter/workspace/errors.h"
#include "interpreter/workspace/heap.h"
#include "interpreter/workspace/object_pool.h"
#include "interpreter/workspace/support.h"
#include "interpreter/workspace/symtab.h"
#include "interpreter/workspace/sysvar_slots.h"

namespace zema {

namespace {

constexpr std::uint8_t kLeftParen = 0x3A;  // (

void text(const char* utf8, Ws ws) { ldprt(utf8_to_internal(utf8), ws); }
void newline(Ws ws) { cdisp(kCarriageReturn, ws); }

// A number through the integer formatter (a unit that folds at ⎕PW).
void number(std::int32_t v, Ws ws) {
  fmtint(v, ws);
  ldism(ws);
}

// "WAS n" or "IS n" and a new line.
void was(std::int32_t v, Ws ws) {
  text("WAS ", ws);
  number(v, ws);
  newline(ws);
}
void is(std::int32_t v, Ws ws) {
  text("IS ", ws);
  number(v, ws);
  newline(ws);
}

int refuse(Ws ws) {
  c_incorrect(ws);
  return 12;
}

std::int32_t setting(int index, Ws ws) { return rdi32(ws, sysvar_value_word(index)); }

// ---- )ORIGIN )DIGITS )WIDTH )CS ----

int set_setting(int index, std::int32_t n, std::int32_t low, std::int32_t high, Ws ws) {
  if (n < low || n > high) return refuse(ws);
  const std::int32_t old = setting(index, ws);
  wr32(ws, sysvar_value_word(index), static_cast<std::uint32_t>(n));
  if (index == sysvar::PW) sup_qpw(static_cast<std::uint16_t>(n), ws);
  was(old, ws);
  return 0;
}

int corig_args(std::int32_t n, std::uint16_t, Ws ws) { return set_setting(sysvar::IO, n, 0, 1, ws); }
int cdigi_args(std::int32_t n, std::uint16_t, Ws ws) { return set_setting(sysvar::PP, n, 1, 15, ws); }
int cwidt_args(std::int32_t n, std::uint16_t, Ws ws) { return set_setting(sysvar::PW, n, 40, 390, ws); }
int ccs_args(std::int32_t n, std::uint16_t, Ws ws) { return set_setting(sysvar::CS, n, 0, 7, ws); }
int corig_no_args(std::uint16_t, Ws ws) { return is(setting(sysvar::IO, ws), ws), 0; }
int cdigi_no_args(std::uint16_t, Ws ws) { return is(setting(sysvar::PP, ws), ws), 0; }
int cwidt_no_args(std::uint16_t, Ws ws) { return is(setting(sysvar::PW, ws), ws), 0; }
int ccs_no_args(std::uint16_t, Ws ws) { return is(setting(sysvar::CS, ws), ws), 0; }

// ---- )SYMBOLS ----

std::uint32_t entry_at(std::uint32_t i) { return kBucketArea + kSymtabEntrySize * i; }

// Entries of the bucket area in use.
std::uint32_t csymct(Ws ws) {
  std::uint32_t n = 0;
  const std::uint32_t entries = rd16(ws, hdr::BucketEntries);
  for (std::uint32_t i = 0; i < entries; ++i)
    if (rd8(ws, entry_at(i) + sym::Length) != 0) ++n;
  return n;
}

int csymb_no_args(std::uint16_t, Ws ws) {
  text("IS ", ws);
  number(rd16(ws, hdr::BucketEntries), ws);
  text(", USED ", ws);
  number(static_cast<std::int32_t>(csymct(ws)), ws);
  newline(ws);
  return 0;
}

// The size changes only in a workspace without names: rounded up to a
// multiple of the bucket count, the old size printed. The heap starts at a
// fixed offset after the room of the default table, so a table may shrink
// within that room (the bytes after it stay zero) but not grow past it.
int csymb_args(std::int32_t n, std::uint16_t, Ws ws) {
  if (n <= 0 || n > 32022 || state_has(st::ValueAwaited, ws) || csymct(ws) != 0) return refuse(ws);
  force_gcol(ws);
  const std::int32_t old = rd16(ws, hdr::BucketEntries);
  const std::int32_t size = ((n - 1) / kSymtabBuckets + 1) * kSymtabBuckets;
  if (size > static_cast<std::int32_t>(kMaxBucketEntries)) return refuse(ws);
  if (size != old) {
    std::memset(ws + kBucketArea, 0, kMaxBucketEntries * kSymtabEntrySize);
    wr16(ws, hdr::BucketEntries, static_cast<std::uint16_t>(size));
    wr16(ws, hdr::BucketSize, static_cast<std::uint16_t>(size / kSymtabBuckets));
  }
  was(old, ws);
  return 0;
}

// ---- )TABS ----

constexpr int kTabColumns = 160;

bool tab_set(const std::uint8_t* tabs, int column) {
  const int bit = column - 1;
  std::uint32_t word = 0;
  std::memcpy(&word, tabs + 1 + 4 * (bit / 32), 4);
  return (word >> (bit % 32)) & 1u;
}
void ctabst(int column, Ws ws) {
  if (column < 1 || column > kTabColumns) return;
  std::uint8_t* tabs = sup_tabs(ws);
  const int bit = column - 1;
  std::uint32_t word = 0;
  std::memcpy(&word, tabs + 1 + 4 * (bit / 32), 4);
  word |= 1u << (bit % 32);
  std::memcpy(tabs + 1 + 4 * (bit / 32), &word, 4);
  tabs[0] = 1;
}
void ctabpt(Ws ws) {
  const std::uint8_t* tabs = sup_tabs(ws);
  if (tabs[0] == 0) {
    text("NOT SET", ws);
    newline(ws);
    return;
  }
  for (int c = 1; c <= kTabColumns; ++c) {
    if (!tab_set(tabs, c)) continue;
    number(c, ws);
    pspace(ws);
  }
  newline(ws);
}

int ctab_no_args(std::uint16_t, Ws ws) {
  text("ARE ", ws);
  ctabpt(ws);
  return 0;
}

// `text` holds the numbers after the first (which the dispatcher has read).
int ctab_args(const std::uint8_t* rest, std::uint32_t length, bool several, std::int32_t first, Ws ws) {
  sup_attn(0, ws);
  text("WERE ", ws);
  ctabpt(ws);
  sup_attn(1, ws);
  if (!several) {
    if (first > 0)
      for (std::int64_t c = first; c <= kTabColumns; c += first) ctabst(static_cast<int>(c), ws);
    return 0;
  }
  ctabst(first, ws);
  std::int64_t v = 0;
  bool digits = false;
  for (std::uint32_t i = 0; i <= length; ++i) {
    if (i < length && cmpdig(rest[i])) {
      if (v <= kTabColumns) v = v * 10 + (rest[i] - 0x30);
      digits = true;
    } else if (digits) {
      ctabst(v > kTabColumns ? 0 : static_cast<int>(v), ws);
      v = 0;
      digits = false;
    }
  }
  return 0;
}

// ---- name listings ----

// The class digit a listing shows for a symbol type; 0 for types never listed.
int listing_class(std::uint8_t type) {
  switch (type) {
    case SYM_FN0: case SYM_FN1: case SYM_FN2: return 3;
    case SYM_VAR: case SYM_SHARED: return 2;
    case SYM_GROUP: return 5;
    case SYM_CLASS: return 9;
    default: return (type >= SYM_OP_FIRST && type <= SYM_OP_LAST) ? 4 : 0;
  }
}

// The limits of the list forms; both empty for the forms without argument.
struct Limits {
  std::string first, last;
};

// Reads one name of `p`/`n` from `*i`; empty when the next item is no name.
std::string read_name(const std::uint8_t* p, std::uint32_t n, std::uint32_t* i) {
  while (*i < n && is_blank(p[*i])) ++*i;
  std::string s;
  if (*i >= n || !cmpalp(p[*i])) return s;
  while (*i < n && (cmpalp(p[*i]) || cmpdig(p[*i]) || p[*i] == ich::Underbar || p[*i] == ich::HighMinus))
    s += static_cast<char>(p[(*i)++]);
  if (s.size() > kMaxNameLength) s.resize(kMaxNameLength);
  return s;
}
bool at_item_end(const std::uint8_t* p, std::uint32_t n, std::uint32_t i) { return i >= n || is_blank(p[i]); }
bool only_blanks(const std::uint8_t* p, std::uint32_t n, std::uint32_t i) {
  while (i < n && is_blank(p[i])) ++i;
  return i >= n;
}

// A name's listed text and whether it is listed under class `digit` (0: all).
bool listed_name(std::uint32_t entry, int digit, const Limits& limits, std::string* out, Ws ws) {
  if (rd8(ws, entry + sym::Length) == 0) return false;
  const std::uint8_t type_byte = rd8(ws, gtglbl(entry, ws) + sym::Type);
  if (type_byte & kSymLocalFlag) return false;
  const int c = listing_class(type_byte & kSymTypeMask);
  if (c == 0 || (digit != 0 && digit != c)) return false;
  std::string name = symbol_name(entry, ws);
  if (!name.empty() && static_cast<std::uint8_t>(name[0]) == kQuadChar) return false;
  if (!name_within_limits(name, limits.first, limits.last)) return false;
  if (digit == 0) {
    name += static_cast<char>(ich::Point);
    name += static_cast<char>(0x30 + c);
  }
  *out = name;
  return true;
}

// Prints a name padded to the next multiple of 8 (8 more when it is one
// already), on a new line when the line would pass ⎕PW.
void cnamfe(const std::string& name, Ws ws) {
  const std::uint32_t padded = (static_cast<std::uint32_t>(name.size()) / 8 + 1) * 8;
  const std::uint32_t column = rd16(ws, hdr::OutColumn);
  if (column != 0 && column + padded > static_cast<std::uint32_t>(setting(sysvar::PW, ws))) newline(ws);
  std::string s = name;
  s.append(padded - name.size(), static_cast<char>(kBlank));
  ldprt(s, ws);
}

// The order of first letters of the unsorted listing: A–Z ∆ a–z ⍙.
std::uint8_t nth_letter(int k) { return static_cast<std::uint8_t>(k < 27 ? 0x61 + k : 0xE1 + (k - 27)); }

void name_list_common(int digit, const Limits& limits, Ws ws) {
  gcol(ws);
  const std::uint32_t entries = rd16(ws, hdr::BucketEntries);
  std::string name;
  std::uint32_t count = 0, longest = 0;
  for (std::uint32_t i = 0; i < entries; ++i) {
    if (!listed_name(entry_at(i), digit, limits, &name, ws)) continue;
    ++count;
    longest = std::max<std::uint32_t>(longest, static_cast<std::uint32_t>(name.size()));
  }
  if (count == 0) return;
  const std::uint32_t width = (longest + 8) & ~7u;
  const std::uint32_t top = rd32(ws, hdr::HeapTop);
  const std::uint64_t need = std::uint64_t(count) * width + top + 100;
  if (need <= rd32(ws, hdr::StackPointer)) {
    // Sorted: one blank-padded slot per name in the free gap above the heap.
    std::memset(ws + top, kBlank, std::size_t(count) * width);
    std::uint32_t k = 0;
    for (std::uint32_t i = 0; i < entries && k < count; ++i) {
      if (!listed_name(entry_at(i), digit, limits, &name, ws)) continue;
      std::memcpy(ws + top + std::size_t(k++) * width, name.data(), name.size());
    }
    std::array<std::uint8_t, 48> held{};
    auto at = [&](std::uint32_t j) { return ws + top + std::size_t(j) * width; };
    for (std::uint32_t gap = count / 2; gap > 0; gap /= 2) {
      for (std::uint32_t i = gap; i < count; ++i) {
        std::memcpy(held.data(), at(i), width);
        std::uint32_t j = i;
        while (j >= gap && std::memcmp(at(j - gap), held.data(), width) > 0) {
          std::memcpy(at(j), at(j - gap), width);
          j -= gap;
        }
        std::memcpy(at(j), held.data(), width);
      }
    }
    for (std::uint32_t j = 0; j < count; ++j) {
      const std::uint8_t* slot = at(j);
      const std::uint8_t* end = static_cast<const std::uint8_t*>(std::memchr(slot, kBlank, width));
      cnamfe(std::string(reinterpret_cast<const char*>(slot), end ? end - slot : width), ws);
    }
  } else {
    // Unsorted: by first letter, then in table order.
    for (int l = 0; l < 54; ++l) {
      const std::uint8_t letter = nth_letter(l);
      for (std::uint32_t i = 0; i < entries; ++i) {
        if (!listed_name(entry_at(i), digit, limits, &name, ws)) continue;
        if (static_cast<std::uint8_t>(name[0]) == letter) cnamfe(name, ws);
      }
    }
  }
  newline(ws);
}

// The limits of a list form: a first and an optional last name.
bool get_first_last(const std::uint8_t* p, std::uint32_t n, Limits* limits) {
  std::uint32_t i = 0;
  limits->first = read_name(p, n, &i);
  if (limits->first.empty() || !at_item_end(p, n, i)) return false;
  if (only_blanks(p, n, i)) return true;
  limits->last = read_name(p, n, &i);
  if (limits->last.empty() || !at_item_end(p, n, i)) return false;
  return only_blanks(p, n, i);
}

template <int Digit>
int list_no_args(std::uint16_t, Ws ws) {
  name_list_common(Digit, Limits{}, ws);
  return 0;
}
template <int Digit>
int list_args(const std::uint8_t* p, std::uint32_t n, std::uint16_t, Ws ws) {
  Limits limits;
  if (!get_first_last(p, n, &limits)) return refuse(ws);
  name_list_common(Digit, limits, ws);
  return 0;
}

// ---- )ERASE ----

// One item of an erase list: a name, a class member "CLASS.MEMBER", or
// "(NAME)".
struct Item {
  bool indirect = false;
  std::string name;
  std::string member;  // after the point of a dotted name; empty otherwise
};
// Reads the next item; false at the end, and false with `bad` set at an
// item that is none of these (every call moves on or answers false, so a
// loop over the items always ends).
bool next_item(const std::uint8_t* p, std::uint32_t n, std::uint32_t* i, Item* item, bool* bad) {
  while (*i < n && is_blank(p[*i])) ++*i;
  if (*i >= n) return false;
  item->indirect = p[*i] == kLeftParen;
  item->member.clear();
  if (item->indirect) ++*i;
  item->name = read_name(p, n, i);
  if (item->name.empty()) return !(*bad = true);
  if (item->indirect) {
    while (*i < n && is_blank(p[*i])) ++*i;
    if (*i >= n || p[*i] != ich::RightParen) return !(*bad = true);
    ++*i;
  } else if (*i < n && p[*i] == ich::Point) {
    ++*i;
    item->member = read_name(p, n, i);
    if (item->member.empty()) return !(*bad = true);
  }
  if (!at_item_end(p, n, *i)) return !(*bad = true);
  return true;
}

// The character value of an indirect entry, checked: VALUE ERROR, DOMAIN
// ERROR or RANK ERROR (printed) and 0 when it cannot stand for names.
std::uint32_t indirect_value(const std::string& name, Ws ws) {
  const NameRef ref = look_up_name(reinterpret_cast<const std::uint8_t*>(name.data()),
                                   static_cast<std::uint32_t>(name.size()), ws);
  ErrorCode e = E_VALUE;
  std::uint32_t value = 0;
  if (ref.kind == NameKind::Found) {
    const std::uint32_t slot = gtglbl(ref.entry, ws);
    if ((rd8(ws, slot + sym::Type) & kSymTypeMask) == SYM_VAR) {
      value = rd32(ws, slot + sym::Value);
      e = array_type(value, ws) != ET_CHAR ? E_DOMAIN : array_rank(value, ws) > 2 ? E_RANK : E_NONE;
    }
  }
  if (e == E_NONE) return value;
  print_message(ertab(e), ws);
  return 0;
}

// Expands the list into the free gap above the heap top: each "(NAME)"
// becomes the first blank-free run of each row of NAME's value. Answers
// the expanded text's offset and length, or false after the messages.
bool expand_indirect(const std::uint8_t* p, std::uint32_t n, std::uint32_t* at, std::uint32_t* length, Ws ws) {
  force_gcol(ws);
  const std::uint32_t top = rd32(ws, hdr::HeapTop);
  const std::uint32_t gap = rd32(ws, hdr::StackPointer) - top;
  if (gap < 200) {
    print_message(ertab(E_WS_FULL), ws);
    return false;
  }
  const std::uint32_t room = gap - 100;
  std::uint32_t out = 0;
  auto put = [&](std::uint8_t c) {
    if (out >= room) return false;
    wr8(ws, top + out++, c);
    return true;
  };
  std::uint32_t i = 0;
  Item item;
  bool bad = false;
  while (next_item(p, n, &i, &item, &bad)) {
    if (!item.indirect) {
      if (!put(kBlank)) break;
      bool ok = true;
      for (char c : item.name) ok = ok && put(static_cast<std::uint8_t>(c));
      if (!item.member.empty()) {
        ok = ok && put(ich::Point);
        for (char c : item.member) ok = ok && put(static_cast<std::uint8_t>(c));
      }
      if (!ok) break;
      continue;
    }
    const std::uint32_t v = indirect_value(item.name, ws);
    if (v == 0) return false;
    const std::uint32_t rank = array_rank(v, ws);
    const std::uint32_t count = array_count(v, ws);
    const std::uint32_t columns = rank == 0 ? 1 : array_axis(v, rank - 1, ws);
    const std::uint32_t rows = columns == 0 ? 0 : count / columns;
    bool ok = true;
    for (std::uint32_t r = 0; r < rows && ok; ++r) {
      ok = put(kBlank);
      const std::uint32_t row = array_data(v, ws) + r * columns;
      for (std::uint32_t c = 0; c < columns && ok; ++c) {
        const std::uint8_t ch = rd8(ws, row + c);
        if (ch == kBlank) break;
        ok = put(ch);
      }
    }
    if (!ok) break;
  }
  if (bad) return false;
  if (i < n && !only_blanks(p, n, i)) {
    print_message(ertab(E_WS_FULL), ws);
    return false;
  }
  *at = top;
  *length = out;
  return true;
}

// The object slot of a name that can be erased, 0 otherwise.
std::uint32_t erasable(const std::string& name, std::uint32_t* entry, Ws ws) {
  const NameRef ref = look_up_name(reinterpret_cast<const std::uint8_t*>(name.data()),
                                   static_cast<std::uint32_t>(name.size()), ws);
  if (ref.kind != NameKind::Found) return 0;
  const std::uint32_t slot = gtglbl(ref.entry, ws);
  const std::uint8_t type = rd8(ws, slot + sym::Type) & kSymTypeMask;
  if (type == SYM_UNDEF || type == SYM_SYSVAR || type == SYM_SYSFN0 || type == SYM_SYSFN) return 0;
  *entry = ref.entry;
  return slot;
}

// The tokens of a dotted item whose class part names a class (by its
// global meaning) holding the member part as a member of its own: true
// with both tokens. Otherwise false, with `report` the part to report: the
// member when the class exists without it, else the class part.
bool erasable_member(const Item& item, std::uint16_t* cls, std::uint16_t* member, std::string* report, Ws ws) {
  *report = item.name;
  std::uint32_t entry = 0;
  const std::uint32_t slot = erasable(item.name, &entry, ws);
  if (slot == 0 || (rd8(ws, slot + sym::Type) & kSymTypeMask) != SYM_CLASS) return false;
  const auto token = static_cast<std::uint16_t>(token_of_entry(entry));
  const std::uint32_t object = class_def_from_symidx(token, ws);
  if (object == 0) return false;
  *report = item.member;
  const NameRef m = look_up_name(reinterpret_cast<const std::uint8_t*>(item.member.data()),
                                 static_cast<std::uint32_t>(item.member.size()), ws);
  if (m.kind != NameKind::Found) return false;
  const auto member_token = static_cast<std::uint16_t>(token_of_entry(m.entry));
  if (own_member_index(object, member_token, ws) < 0) return false;
  *cls = token;
  *member = member_token;
  return true;
}

constexpr int kSiDamaged = 0x01;
constexpr int kNested = 0x02;

// Erases the names of the list; answers the flags with kSiDamaged when a
// function on the state indicator went.
int cerasl(const std::uint8_t* p, std::uint32_t n, int flags, Ws ws) {
  std::uint32_t i = 0;
  Item item;
  bool bad = false;
  while (next_item(p, n, &i, &item, &bad)) {
    if (!item.member.empty()) {
      std::uint16_t cls = 0, member = 0;
      std::string unused;
      if (erasable_member(item, &cls, &member, &unused, ws)) delete_class_member(cls, member, ws);
      continue;
    }
    std::uint32_t entry = 0;
    const std::uint32_t slot = erasable(item.name, &entry, ws);
    if (slot == 0) continue;
    const std::uint8_t type_byte = rd8(ws, slot + sym::Type);
    const std::uint8_t type = type_byte & kSymTypeMask;
    const std::uint32_t value = rd32(ws, slot + sym::Value);
    if (type == SYM_GROUP && !(flags & kNested)) {
      // The members first; the group's own text stays put meanwhile.
      const std::uint32_t length = rd32(ws, value + 8);
      flags |= cerasl(ws + value + 12, length, flags | kNested, ws) & kSiDamaged;
    }
    if (is_function_type(type)) {
      wr32(ws, slot + sym::Value, 0);
      wr8(ws, slot + sym::Type, (type_byte & kSymLocalFlag) | SYM_UNDEF);
      erasfn(value, ws);
      // The newest level, and older ones, suspended in it or pendent on it are damaged.
      const auto token = static_cast<std::uint16_t>(token_of_entry(entry));
      if (current_level_runs(token, 0, ws)) {
        wr32(ws, hdr::FnLineNumber, 0xFFFFFFFFu);
        flags |= kSiDamaged;
      }
      if (sier2(token, rd32(ws, hdr::SiLink), ws)) flags |= kSiDamaged;
    } else if (slot == entry && (type == SYM_VAR || type == SYM_SHARED)) {
      erase_object(entry, ws);
    } else if (slot == entry && erase_class_name(entry, ws)) {
    } else {
      wr32(ws, slot + sym::Value, 0);
      wr8(ws, slot + sym::Type, (type_byte & kSymLocalFlag) | SYM_UNDEF);
      if (value && type != SYM_LABEL && type != SYM_OPERAND) mgarb(value, ws);
      if (slot == entry && !(type_byte & kSymLocalFlag)) clnus2(entry, ws);
    }
  }
  return flags;
}

int cerase_list(const std::uint8_t* p, std::uint32_t n, std::uint16_t, Ws ws) {
  sup_attn(0, ws);
  const bool has_paren = std::memchr(p, kLeftParen, n) != nullptr;
  if (has_paren) {
    std::uint32_t at = 0, length = 0;
    if (!expand_indirect(p, n, &at, &length, ws)) {
      sup_attn(rd16(ws, hdr::AttnLevel) != 0, ws);
      return refuse(ws);
    }
    p = ws + at;  // the expanded list stays in the free gap while the names go
    n = length;
  }
  // Report the names that cannot go; refuse a list with a non-name.
  std::uint32_t i = 0;
  Item item;
  bool bad = false, reported = false;
  while (next_item(p, n, &i, &item, &bad)) {
    std::string report = item.name;
    if (!item.member.empty()) {
      std::uint16_t cls = 0, member = 0;
      if (erasable_member(item, &cls, &member, &report, ws)) continue;
    } else {
      std::uint32_t entry = 0;
      if (erasable(item.name, &entry, ws) != 0) continue;
    }
    if (!reported) text("NOT FOUND: ", ws);
    reported = true;
    ldprt(report, ws);
    pspace(ws);
  }
  if (reported) newline(ws);
  sup_attn(rd16(ws, hdr::AttnLevel) != 0, ws);
  if (bad) return refuse(ws);
  if (cerasl(p, n, 0, ws) & kSiDamaged) {
    text("SI DAMAGE", ws);
    newline(ws);
  }
  return 0;
}

// ---- )GROUP and )GRP ----

int cgroup_list(const std::uint8_t* p, std::uint32_t n, std::uint16_t, Ws ws) {
  std::uint32_t i = 0;
  const std::string group = read_name(p, n, &i);
  if (group.empty() || !at_item_end(p, n, i)) return refuse(ws);
  // The members, once each and in the order given, checked before anything changes.
  std::string members;
  std::uint32_t count = 0;
  for (;;) {
    const std::string m = read_name(p, n, &i);
    if (m.empty()) {
      if (!only_blanks(p, n, i)) return refuse(ws);
      break;
    }
    if (!at_item_end(p, n, i)) return refuse(ws);
    bool seen = false;
    for (std::size_t k = 0; k < members.size() && !seen;) {
      const std::size_t e = members.find(static_cast<char>(kBlank), k);
      seen = members.compare(k, e - k, m) == 0;
      k = e + 1;
    }
    if (seen) continue;
    members += m;
    members += static_cast<char>(kBlank);
    ++count;
    if (members.size() > 0x10000) {
      print_message(ertab(E_WS_FULL), ws);
      return 12;
    }
  }
  NameRef ref = look_up_name(reinterpret_cast<const std::uint8_t*>(group.data()),
                             static_cast<std::uint32_t>(group.size()), ws);
  std::uint32_t entry = 0;
  if (ref.kind == NameKind::Found) {
    entry = ref.entry;
    const std::uint8_t type = rd8(ws, gtglbl(entry, ws) + sym::Type) & kSymTypeMask;
    if ((rd8(ws, entry + sym::Type) & kSymLocalFlag) || (type != SYM_GROUP && type != SYM_UNDEF)) {
      print_message(utf8_to_internal("NOT GROUPED, NAME IN USE"), ws);
      return 12;
    }
  }
  std::uint32_t object = 0;
  const std::uint32_t length = static_cast<std::uint32_t>(members.size());
  if (count != 0) {
    object = getspc(4 + ((length + 3) & ~3u), ws);  // WS FULL before anything changed
    wr32(ws, object + 8, length);
    std::memcpy(ws + object + 12, members.data(), length);
  }
  if (ref.kind != NameKind::Found) {
    if (count == 0) return 0;
    // A new name: enter it (the lookup left it in the name buffer).
    std::uint32_t first_free = 0, found = 0;
    const auto len = static_cast<std::uint32_t>(std::min<std::size_t>(group.size(), kMaxNameLength));
    if (symfnd(first_free, found, len, ws) != 0) {
      if (first_free == 0) {
        mgarb(object, ws);
        symtfl(0, 0, ws);
      }
      found = syment(first_free, len, ws);
    }
    entry = symuse(found, 0, 0, ws);
  } else {
    const std::uint8_t type = rd8(ws, entry + sym::Type) & kSymTypeMask;
    if (type == SYM_GROUP) {
      mgarb(rd32(ws, entry + sym::Value), ws);
      wr32(ws, entry + sym::Value, 0);
      wr8(ws, entry + sym::Type, SYM_UNDEF);
      if (count == 0) {
        clnus2(entry, ws);
        return 0;
      }
    } else {
      if (count == 0) return 0;
      const std::uint16_t uses = rd16(ws, entry + sym::Uses);
      if (uses != kMaxUses) wr16(ws, entry + sym::Uses, static_cast<std::uint16_t>(uses + 1));
    }
  }
  wr32(ws, entry + sym::Value, object);
  wr8(ws, entry + sym::Type, SYM_GROUP);
  set_owner(object, entry, OK_SYMBOL, ws);
  return 0;
}

int cgrp_args(std::uint32_t length, std::uint16_t, Ws ws) {
  const NameRef ref = look_up_name(ws + cmdws::Scratch, length, ws);
  if (ref.kind != NameKind::Found || (rd8(ws, ref.entry + sym::Type) & kSymTypeMask) != SYM_GROUP) return 0;
  const std::uint32_t value = rd32(ws, ref.entry + sym::Value);
  const std::uint32_t n = rd32(ws, value + 8);
  const std::string members(reinterpret_cast<const char*>(ws + value + 12), n);
  for (int l = 0; l < 54; ++l) {
    for (std::size_t k = 0; k < members.size();) {
      const std::size_t e = members.find(static_cast<char>(kBlank), k);
      if (static_cast<std::uint8_t>(members[k]) == nth_letter(l)) cnamfe(members.substr(k, e - k), ws);
      k = e + 1;
    }
  }
  newline(ws);
  return 0;
}

// )REPARENT CLASS PARENT: exactly two names of classes; the first takes
// the second as its parent unless that makes it its own ancestor.
int creparent_list(const std::uint8_t* p, std::uint32_t n, std::uint16_t, Ws ws) {
  std::uint32_t i = 0;
  std::uint32_t slots[2] = {0, 0};
  for (std::uint32_t& slot : slots) {
    const std::string name = read_name(p, n, &i);
    if (name.empty() || !at_item_end(p, n, i)) return refuse(ws);
    const NameRef ref = look_up_name(reinterpret_cast<const std::uint8_t*>(name.data()),
                                     static_cast<std::uint32_t>(name.size()), ws);
    if (ref.kind != NameKind::Found) return refuse(ws);
    const std::uint32_t cls = class_def_from_symidx(static_cast<std::uint16_t>(token_of_entry(ref.entry)), ws);
    if (cls == 0) return refuse(ws);
    slot = rd32(ws, cls + pobj::OwnSlot);
  }
  if (!only_blanks(p, n, i) || reparent_class(slots[0], slots[1], ws) != 0) return refuse(ws);
  return 0;
}

// ---- )TIME and )EDIT ----

int ctime_no_args(std::uint16_t, Ws ws) {
  std::uint32_t date = 0;
  wr32(ws, hdr::SaveTime, sup_tds(&date, ws));
  wr32(ws, hdr::SaveDate, date);
  fmttd(ws);
  newline(ws);
  return 0;
}

// The host's answer to an editor request: 0, or an error code to show.
int edit_answer(int answer, Ws ws) {
  if (answer == 0) return 0;
  if (rd32(ws, hdr::TrapWord) == 0) {
    if (rd16(ws, hdr::OutColumn) != 0) newline(ws);
    text("ERROR IN )EDIT: ", ws);
    ldprt(ertab(answer), ws);
    newline(ws);
  }
  return 12;
}

int cedit_args(std::uint16_t, Ws ws) {
  if (rd8(ws, cmdws::EditLibrary) >= 3) return refuse(ws);
  const std::uint32_t saved = rd32(ws, hdr::WorkWord);
  const int answer = sup_fse(ws + cmdws::EditName, rd8(ws, cmdws::EditLength), rd8(ws, cmdws::EditLibrary), ws);
  wr32(ws, hdr::WorkWord, saved);
  return edit_answer(answer, ws);
}
int cedit_no_args(std::uint16_t, Ws ws) {
  edit_answer(sup_fse(nullptr, 0, 0, ws), ws);
  return 0;
}

}  // namespace

bool name_within_limits(const std::string& name, const std::string& first, const std::string& last) {
  if (first.empty()) return true;
  auto padded = [](const std::string& s, std::size_t i) {
    return i < s.size() ? static_cast<std::uint8_t>(s[i]) : kBlank;
  };
  const std::size_t n = std::max(name.size(), first.size());
  for (std::size_t i = 0; i < n; ++i) {
    if (padded(name, i) != padded(first, i)) {
      if (padded(name, i) < padded(first, i)) return false;
      break;
    }
  }
  for (std::size_t i = 0; i < last.size(); ++i) {
    if (padded(name, i) != padded(last, i)) return padded(name, i) < padded(last, i);
  }
  return true;
}

void install_listing_commands() {
  auto none = [](CmdNoArgs f) {
    CommandHandler h;
    h.no_args = f;
    return h;
  };
  auto num = [](CmdNumber f) {
    CommandHandler h;
    h.number = f;
    return h;
  };
  auto list = [](CmdText f) {
    CommandHandler h;
    h.text = f;
    return h;
  };
  set_command_handler(C_ORIG, none(corig_no_args));
  set_command_handler(C_ORIG_N, num(corig_args));
  set_command_handler(C_DIGI, none(cdigi_no_args));
  set_command_handler(C_DIGI_N, num(cdigi_args));
  set_command_handler(C_WIDT, none(cwidt_no_args));
  set_command_handler(C_WIDT_N, num(cwidt_args));
  set_command_handler(C_CS, none(ccs_no_args));
  set_command_handler(C_CS_N, num(ccs_args));
  set_command_handler(C_SYMB, none(csymb_no_args));
  set_command_handler(C_SYMB_N, num(csymb_args));
  set_command_handler(C_TAB, none(ctab_no_args));
  CommandHandler tabs;
  tabs.tabs = ctab_args;
  set_command_handler(C_TAB_ARGS, tabs);
  set_command_handler(C_FNS, none(list_no_args<3>));
  set_command_handler(C_FNS_LIST, list(list_args<3>));
  set_command_handler(C_VARS, none(list_no_args<2>));
  set_command_handler(C_VARS_LIST, list(list_args<2>));
  set_command_handler(C_OPS, none(list_no_args<4>));
  set_command_handler(C_OPS_LIST, list(list_args<4>));
  set_command_handler(C_GRPS, none(list_no_args<5>));
  set_command_handler(C_GRPS_LIST, list(list_args<5>));
  set_command_handler(C_CLASS, none(list_no_args<9>));
  set_command_handler(C_CLASS_LIST, list(list_args<9>));
  set_command_handler(C_NMS, none(list_no_args<0>));
  set_command_handler(C_NMS_LIST, list(list_args<0>));
  set_command_handler(C_ERASE_LIST, list(cerase_list));
  set_command_handler(C_GROUP_LIST, list(cgroup_list));
  CommandHandler grp;
  grp.name = cgrp_args;
  set_command_handler(C_GRP_NAME, grp);
  set_command_handler(C_REPARENT_LIST, list(creparent_list));
  set_command_handler(C_TIME, none(ctime_no_args));
  set_command_handler(C_EDIT, none(cedit_no_args));
  set_command_handler(C_EDIT_NAME, none(cedit_args));
}

}  // namespace zema
