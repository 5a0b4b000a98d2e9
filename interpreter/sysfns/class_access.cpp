// Classes by name for the host: see class_access.h.
#include "interpreter/sysfns/class_access.h"

#include <cstring>

#include "interpreter/engine/classes.h"
#include "interpreter/reader/tokeniser.h"
#include "interpreter/sysfns/class_text.h"
#include "interpreter/sysfns/definitions.h"
#include "interpreter/sysfns/names.h"
#include "interpreter/workspace/errors.h"
#include "interpreter/workspace/heap.h"
#include "interpreter/workspace/object_pool.h"
#include "interpreter/workspace/symtab.h"

namespace zema::class_access {

namespace {

constexpr std::uint32_t kMemberNameLimit = 31;  // member names must be shorter
constexpr std::uint32_t kRoomBeyond = 1024;

using Guard = std::lock_guard<std::recursive_mutex>;

// The symbol entry of a name (at most 30 characters), 0 when it is not in
// the table.
std::uint32_t find_symbol(std::string_view name, Ws ws) {
  if (name.empty() || name.size() > kMaxNameLength) return 0;
  std::memcpy(ws + kNameBuffer, name.data(), name.size());
  std::uint32_t first_free = 0, found = 0;
  if (symfnd(first_free, found, static_cast<std::uint32_t>(name.size()), ws) != 0) return 0;
  return entry_of_table_offset(found);
}

std::uint16_t token_of(std::uint32_t entry) { return static_cast<std::uint16_t>(token_of_entry(entry)); }

// The class object named `cls`, 0 when it names no class.
std::uint32_t class_def_from_name(std::string_view cls, Ws ws) {
  const std::uint32_t e = find_symbol(cls, ws);
  return e != 0 ? class_def_from_symidx(token_of(e), ws) : 0;
}

std::uint32_t entry_at(std::uint32_t cls, std::uint32_t i) { return cls + pobj::Entries + mentry::Size * i; }

// "Class.member" split at its first dot; false without a dot.
bool split(std::string_view combined, std::string_view& cls, std::string_view& member) {
  const std::size_t dot = combined.find('.');
  if (dot == std::string_view::npos) return false;
  cls = combined.substr(0, dot);
  member = combined.substr(dot + 1);
  return true;
}

// An error raised inside a routine becomes its answer; the error state
// seen by APL stays as it was.
class KeptErrorState {
 public:
  explicit KeptErrorState(Ws ws)
      : ws_(ws),
        major_(rd16(ws, hdr::EtMajor)),
        minor_(rd16(ws, hdr::EtMinor)),
        code_(rd16(ws, hdr::ErrorCode)),
        number_(rd32(ws, hdr::ErrorNumber)) {}
  ~KeptErrorState() {
    wr16(ws_, hdr::EtMajor, major_);
    wr16(ws_, hdr::EtMinor, minor_);
    wr16(ws_, hdr::ErrorCode, code_);
    wr32(ws_, hdr::ErrorNumber, number_);
  }
  KeptErrorState(const KeptErrorState&) = delete;
  KeptErrorState& operator=(const KeptErrorState&) = delete;

 private:
  Ws ws_;
  std::uint16_t major_, minor_, code_;
  std::uint32_t number_;
};

// The symbol entry of a member name, entered when new (type 15, no uses:
// the member takes the first).
std::uint32_t enter_member_name(std::string_view name, Ws ws) {
  std::memcpy(ws + kNameBuffer, name.data(), name.size());
  return enter_buffer_name(static_cast<std::uint32_t>(name.size()), ws);
}

// Whether `off` is a live array object of the heap.
bool heap_array(std::uint32_t off, Ws ws) {
  if (off < kSymtabStart || off + 12 > rd32(ws, hdr::HeapTop)) return false;
  if (rd8(ws, off) & kReleased) return false;
  const std::uint8_t t = rd8(ws, off + obj::Type);
  return t == ET_BOOL || t == ET_INT || t == ET_FLOAT || t == ET_CHAR || t == ET_OBJREF || t == ET_NESTED;
}

}  // namespace

std::recursive_mutex& class_access_mutex() {
  static std::recursive_mutex m;
  return m;
}

const std::uint8_t* get_named_class_member(std::string_view cls, std::string_view member, std::uint8_t* kind,
                                           bool ancestors, Ws ws) {
  Guard g(class_access_mutex());
  *kind = 0xFF;
  const std::uint32_t c = class_def_from_name(cls, ws);
  if (c == 0 || member.size() >= kMemberNameLimit) return nullptr;
  const std::uint32_t e = find_symbol(member, ws);
  if (e == 0) return nullptr;
  MemberRef m;
  if (ancestors) {
    m = internal_class_member(token_of(e), rd32(ws, c + pobj::OwnSlot), ws);
  } else if (const int i = own_member_index(c, token_of(e), ws); i >= 0) {
    const std::uint32_t me = entry_at(c, static_cast<std::uint32_t>(i));
    m.kind = rd8(ws, me + mentry::Kind);
    m.value = m.kind == SYM_UNDEF ? 0 : rd32(ws, me + mentry::Value);
  }
  if (m.kind == 0xFF) return nullptr;
  *kind = m.kind == SYM_UNDEF ? static_cast<std::uint8_t>(SYM_VAR) : m.kind;
  return m.value != 0 ? ws + m.value : nullptr;
}

const std::uint8_t* get_named_instance_property(std::uint32_t slot, std::string_view member, Ws ws) {
  Guard g(class_access_mutex());
  if (member.size() >= kMemberNameLimit) return nullptr;
  const std::uint32_t e = find_symbol(member, ws);
  const std::uint32_t p = object_pool(ws);
  if (e == 0 || p == 0 || slot == 0 || slot >= rd32(ws, p + pool::Capacity)) return nullptr;
  const std::uint32_t off = find_object_instance(slot, ws);
  if (off == 0 || rd8(ws, off + pobj::Arch) != 0) return nullptr;
  if (rd8(ws, off + obj::Type) == ET_INSTANCE) {
    // The instance's own property entries first.
    const std::uint32_t n = rd32(ws, off + pobj::Count);
    for (std::uint32_t i = 0; i < n; ++i) {
      const std::uint32_t me = entry_at(off, i);
      if (rd16(ws, me + mentry::Token) != token_of(e)) continue;
      const std::uint32_t v = rd8(ws, me + mentry::Kind) == SYM_UNDEF ? 0 : rd32(ws, me + mentry::Value);
      return v != 0 ? ws + v : nullptr;
    }
  }
  const MemberRef m = internal_class_member(token_of(e), slot, ws);
  return m.value != 0 ? ws + m.value : nullptr;
}

int set_named_class_property(std::string_view cls, std::string_view member, const std::uint8_t* value, Ws ws) {
  Guard g(class_access_mutex());
  const std::uint32_t c = class_def_from_name(cls, ws);
  if (c == 0) return E_DOMAIN;
  std::uint32_t v = 0;
  if (value != nullptr) {
    if (value < ws) return E_DOMAIN;
    v = static_cast<std::uint32_t>(value - ws);
    if (!heap_array(v, ws)) return E_DOMAIN;
  }
  const std::uint64_t needed = std::uint64_t(rd32(ws, c + obj::Size)) + (v ? rd32(ws, v + obj::Size) : 0) + kRoomBeyond;
  if (rd32(ws, hdr::StackPointer) - rd32(ws, hdr::HeapTop) + rd32(ws, hdr::Garbage) < needed) return E_WS_FULL;
  if (member.empty() || member.size() >= kMemberNameLimit) return E_DOMAIN;
  KeptErrorState kept(ws);
  try {
    const std::uint32_t slot = rd32(ws, c + pobj::OwnSlot);
    const std::uint32_t e = enter_member_name(member, ws);
    if (rd16(ws, e + sym::Uses) == kMaxUses) return E_SYSTEM_LIMIT;
    const int code = zema::set_named_class_property(slot, token_of(e), v, ws);
    // A name entered just now and refused keeps no entry.
    if (rd16(ws, e + sym::Uses) == 0 && (rd8(ws, e + sym::Type) & kSymTypeMask) == SYM_UNDEF) {
      wr16(ws, e + sym::Uses, 1);
      clnus2(e, ws);
    }
    return code;
  } catch (const AplError& err) {
    return err.code;
  }
}

std::uint8_t get_member_details(std::string_view combined, Ws ws) {
  Guard g(class_access_mutex());
  std::string_view cls, member;
  if (!split(combined, cls, member) || member.size() >= kMemberNameLimit) return 0;
  const std::uint32_t c = class_def_from_name(cls, ws);
  const std::uint32_t e = c != 0 ? find_symbol(member, ws) : 0;
  if (e == 0) return 0;
  const int i = own_member_index(c, token_of(e), ws);
  return i < 0 ? 0 : rd8(ws, entry_at(c, static_cast<std::uint32_t>(i)) + mentry::Access) & 7;
}

int set_member_details(std::string_view combined, std::uint8_t flags, Ws ws) {
  Guard g(class_access_mutex());
  std::string_view cls, member;
  if (!split(combined, cls, member)) return E_DOMAIN;
  const std::uint32_t c = class_def_from_name(cls, ws);
  if (c == 0) return E_DOMAIN;
  if (member.size() >= kMemberNameLimit) return E_LENGTH;
  const std::uint32_t e = find_symbol(member, ws);
  if (e == 0) return E_VALUE;
  const int code = zema::set_member_details(rd32(ws, c + pobj::OwnSlot), token_of(e), flags & 7, ws);
  if (code == 0) stamp_class(c, ws);
  return code;
}

int reparent_named_class(std::string_view cls, std::string_view parent, Ws ws) {
  Guard g(class_access_mutex());
  const std::uint32_t c = class_def_from_name(cls, ws);
  if (c == 0) return E_VALUE;
  std::uint32_t parent_slot = 0;
  if (!parent.empty()) {
    const std::uint32_t p = class_def_from_name(parent, ws);
    if (p == 0) return E_VALUE;
    parent_slot = rd32(ws, p + pobj::OwnSlot);
    // The new parent's line of ancestors must not pass through the class
    // (at most one step per pool slot).
    const std::uint32_t self = rd32(ws, c + pobj::OwnSlot);
    std::uint32_t s = parent_slot;
    for (std::uint32_t steps = rd32(ws, object_pool(ws) + pool::Capacity); s != 0 && steps > 0; --steps) {
      if (s == self) return E_DOMAIN;
      const std::uint32_t a = class_in_slot(s, ws);
      s = a != 0 ? rd32(ws, a + pobj::ParentSlot) : 0;
    }
  }
  wr32(ws, c + pobj::ParentSlot, parent_slot);
  stamp_class(c, ws);
  return 0;
}

int erase_named_member(std::string_view cls, std::string_view member, Ws ws) {
  Guard g(class_access_mutex());
  if (cls.size() >= kMemberNameLimit || member.size() >= kMemberNameLimit) return E_DOMAIN;
  const std::uint32_t ce = find_symbol(cls, ws);
  const std::uint32_t me = find_symbol(member, ws);
  if (ce == 0 || me == 0) return E_VALUE;
  const std::uint32_t c = class_def_from_symidx(token_of(ce), ws);
  if (c == 0) return E_DOMAIN;
  const int i = own_member_index(c, token_of(me), ws);
  if (i < 0) return E_VALUE;
  // A method's lines go first: the member entry holds only the header.
  const std::uint32_t m = entry_at(c, static_cast<std::uint32_t>(i));
  if (defined_function_type(rd8(ws, m + mentry::Kind))) {
    const std::uint32_t fn = rd32(ws, m + mentry::Value);
    wr32(ws, m + mentry::Value, 0);
    wr8(ws, m + mentry::Kind, SYM_UNDEF);
    erasfn(fn, ws);
  }
  return delete_class_member(token_of(ce), token_of(me), ws);
}

std::string get_class_text(std::string_view cls, Ws ws) {
  Guard g(class_access_mutex());
  const std::uint32_t e = find_symbol(cls, ws);
  if (e == 0) return {};
  KeptErrorState kept(ws);
  try {
    const std::uint8_t* text = nullptr;
    std::uint32_t length = 0;
    if (!get_class_text_form(token_of(e), &text, &length, ws)) return {};
    return std::string(reinterpret_cast<const char*>(text), length);
  } catch (const AplError&) {
    return {};
  }
}

char* output_sym_name(char* out, std::uint16_t token, Ws ws) {
  const std::string name = symbol_name(entry_of_token(token), ws);
  const std::size_t n = name.size() < kMaxNameLength ? name.size() : kMaxNameLength;
  std::memcpy(out, name.data(), n);
  out[n] = 0;
  return out + n;
}

}  // namespace zema::class_access
