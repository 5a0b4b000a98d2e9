// Object records of )COPY: see copy_objects.h.
#include "interpreter/session/copy_objects.h"

#include <algorithm>
#include <cstring>
#include <string>

#include "files/wsfiles.h"
#include "host/charset.h"
#include "interpreter/engine/classes.h"
#include "interpreter/engine/function_object.h"
#include "interpreter/engine/instances.h"
#include "interpreter/engine/properties.h"
#include "interpreter/output/display.h"
#include "interpreter/sysfns/capture.h"
#include "interpreter/sysfns/definitions.h"
#include "interpreter/sysfns/names.h"
#include "interpreter/workspace/arrays.h"
#include "interpreter/workspace/errors.h"
#include "interpreter/workspace/heap.h"
#include "interpreter/workspace/object_pool.h"
#include "interpreter/workspace/stack.h"
#include "interpreter/workspace/symtab.h"

namespace zema {

namespace {

constexpr std::uint8_t kWrittenMark = 0x02;  // pobj::Flags in the source: the instance's record is written
constexpr std::uint32_t kFieldRoom = 32;
constexpr int kMaxDepth = 64;                // instances written through properties, at most this deep

std::uint32_t member_at(std::uint32_t off, std::uint32_t i) { return off + pobj::Entries + mentry::Size * i; }
std::uint32_t pad4(std::uint32_t n) { return (n + 3) & ~3u; }
bool is_method_kind(std::uint8_t kind) { return kind != SYM_UNDEF && kind != SYM_VAR; }

void header(std::uint8_t* h, std::uint8_t kind, std::uint8_t flags, std::uint32_t count, std::uint32_t length,
            const std::string& name) {
  std::memset(h, 0, crec::Header);
  h[crec::Kind] = kind;
  h[crec::Flags] = flags;
  const auto c = static_cast<std::uint16_t>(count);
  std::memcpy(h + crec::Count, &c, 2);
  std::memcpy(h + crec::Length, &length, 4);
  const auto n = static_cast<std::uint16_t>(std::min<std::size_t>(name.size(), kMaxNameLength));
  std::memcpy(h + crec::NameLength, &n, 2);
  std::memcpy(h + crec::Name, name.data(), n);
}

std::string token_name(std::uint32_t token, Ws ws) { return symbol_name(entry_of_token(token), ws); }

// The name of a pooled class (its symbol word holds token × 8), empty when deleted.
std::string class_name(std::uint32_t cls, Ws ws) {
  const std::uint32_t sym_word = rd32(ws, cls + pobj::NameSymbol);
  return sym_word == 0 ? std::string() : token_name(sym_word / 8, ws);
}

// Calls f(word) for each reference element of array `a` and its items.
template <class F>
void each_reference(std::uint32_t a, Ws ws, F&& f, int depth = 0) {
  if (depth > 200) return;
  const std::uint8_t t = rd8(ws, a + obj::Type);
  const std::uint32_t size = rd32(ws, a + obj::Size);
  if (t == ET_OBJREF) {
    const std::uint32_t n = array_count(a, ws), data = array_data(a, ws);
    for (std::uint32_t i = 0; i < n && data + 4 * i + 4 <= a + size; ++i) f(data + 4 * i);
  } else if (t == ET_NESTED) {
    const std::uint32_t n = std::max<std::uint32_t>(array_count(a, ws), 1), data = array_data(a, ws);
    for (std::uint32_t i = 0; i < n && data + 4 * i + 4 <= a + size; ++i) {
      const std::uint32_t rel = rd32(ws, data + 4 * i);
      if (rel != 0 && rel < size) each_reference(a + rel, ws, f, depth + 1);
    }
  }
}

WriteResult write_instance(std::uint32_t slot, std::uint32_t& records, std::uint32_t& instances, int depth, Ws ws);

WriteResult write_instances_in(std::uint32_t value, std::uint32_t& records, std::uint32_t& instances, int depth,
                               Ws ws) {
  WriteResult r = WriteResult::Ok;
  each_reference(value, ws, [&](std::uint32_t word) {
    if (r == WriteResult::Ok) r = write_instance(rd32(ws, word), records, instances, depth, ws);
  });
  return r;
}

WriteResult write_instance(std::uint32_t slot, std::uint32_t& records, std::uint32_t& instances, int depth, Ws ws) {
  if (depth > kMaxDepth || !object_slot_live(slot, ws)) return WriteResult::Ok;
  std::uint32_t off = find_object_instance(slot, ws);
  if (rd8(ws, off + obj::Type) != ET_INSTANCE || rd8(ws, off + pobj::Arch) != 0) return WriteResult::Ok;
  if (rd8(ws, off + pobj::Flags) & kWrittenMark) return WriteResult::Ok;
  const std::uint32_t cls = class_in_slot(rd32(ws, off + pobj::ClassSlot), ws);
  const std::string cname = cls ? class_name(cls, ws) : std::string();
  if (cname.empty()) return WriteResult::Ok;  // a deleted class: references to it become null
  wr8(ws, off + pobj::Flags, rd8(ws, off + pobj::Flags) | kWrittenMark);
  const std::uint32_t n = rd32(ws, off + pobj::Count);
  // What its properties refer to comes first.
  for (std::uint32_t i = 0; i < n; ++i) {
    const std::uint32_t v = rd32(ws, member_at(off, i) + mentry::Value);
    if (v == 0) continue;
    const WriteResult r = write_instances_in(v, records, instances, depth + 1, ws);
    if (r != WriteResult::Ok) return r;
  }
  std::uint32_t length = crec::Members, fields = 0;
  for (std::uint32_t i = 0; i < n; ++i) {
    const std::uint32_t v = rd32(ws, member_at(off, i) + mentry::Value);
    if (v == 0 || rd8(ws, member_at(off, i) + mentry::Kind) != SYM_VAR) continue;
    length += crec::Header + rd32(ws, v + obj::Size);
    ++fields;
  }
  std::uint8_t h[crec::Header + kFieldRoom] = {};
  header(h, crec::KindInstance, 0, fields, length, cname);
  std::memcpy(h + crec::Field, &slot, 4);
  if (write_seq(sizeof h, h) != 0) return WriteResult::Failed;
  for (std::uint32_t i = 0; i < n; ++i) {
    const std::uint32_t me = member_at(off, i);
    const std::uint32_t v = rd32(ws, me + mentry::Value);
    if (v == 0 || rd8(ws, me + mentry::Kind) != SYM_VAR) continue;
    const std::uint32_t size = rd32(ws, v + obj::Size);
    std::uint8_t m[crec::Header];
    header(m, SYM_VAR, rd8(ws, me + mentry::Access) & 7, 0, crec::Header + size,
           token_name(rd16(ws, me + mentry::Token), ws));
    if (write_seq(crec::Header, m) != 0 || write_seq(size, ws + v) != 0) return WriteResult::Failed;
  }
  ++records;
  ++instances;
  return WriteResult::Ok;
}

// ---- reading ----

std::uint32_t record_at(std::uint32_t slot, Ws ws) { return array_data(rd32(ws, slot + se::Value), ws); }
std::uint32_t record_length(std::uint32_t slot, Ws ws) { return array_count(rd32(ws, slot + se::Value), ws); }

std::uint16_t h16(Ws ws, std::uint32_t at) {
  std::uint16_t v;
  std::memcpy(&v, ws + at, 2);
  return v;
}
std::uint32_t h32(Ws ws, std::uint32_t at) {
  std::uint32_t v;
  std::memcpy(&v, ws + at, 4);
  return v;
}

// A value object as a record carries it: sizes and shape inside its bytes.
bool value_sound(const std::uint8_t* v, std::uint32_t room) {
  if (room < 12) return false;
  std::uint32_t size;
  std::memcpy(&size, v + obj::Size, 4);
  std::int16_t rank4;
  std::memcpy(&rank4, v + obj::Rank4, 2);
  if (size != room || size % 4 != 0 || rank4 < 0 || rank4 % 4 != 0) return false;
  if (obj::Shape + static_cast<std::uint32_t>(rank4) > size) return false;
  switch (v[obj::Type]) {
    case ET_BOOL: case ET_INT: case ET_FLOAT: case ET_CHAR: case ET_WIDE16: case ET_OBJREF: case ET_NESTED:
      return true;
    default:
      return false;
  }
}

// A value object of the record at `at` (its `size` bytes) copied to a new
// heap object held by a new stack entry; answers the stack slot.
std::uint32_t stack_value_copy(std::uint32_t slot, std::uint32_t at_rel, std::uint32_t size, Ws ws) {
  const std::uint32_t v = getspc(size - 8, ws);
  std::memcpy(ws + v + 8, ws + record_at(slot, ws) + at_rel + 8, size - 8);
  wr8(ws, v + obj::Flags1, 0);
  return stack(StackEntry{static_cast<std::uint8_t>(kOwnsObject | 1), 0, v}, ws);
}

void drop_stacked(Ws ws) {
  StackEntry e;
  unstack(e, ws);
  release_entry(e, ws);
}

std::uint32_t enter_member_name(const std::uint8_t* name, std::uint32_t n, Ws ws) {
  std::memcpy(ws + kNameBuffer, name, n);
  std::uint32_t first_free = 0, found = 0;
  if (symfnd(first_free, found, n, ws) == 0) return token_of_table_offset(found);
  if (first_free == 0) return 0;
  wr32(ws, hdr::TokenAreaLimit, rd32(ws, hdr::StackPointer) & ~3u);
  const std::uint32_t rel = syment(first_free, n, ws);
  fxnms(ws);
  return token_of_table_offset(rel);
}

std::string internal_text(const char* utf8) { return utf8_to_internal(utf8); }

// The lines of a class record as class-definition text: its header line
// "Name : Parent {", each method between its ∇ lines, the closing brace.
// Properties are set afterwards with their exact values.
class ClassRecordLines : public FixSource {
 public:
  ClassRecordLines(std::uint32_t slot, const std::string& head) : slot_(slot), head_(head) {}
  bool line(std::uint32_t, const std::uint8_t** text, std::uint32_t* n, Ws ws) override {
    static const std::string nabla = internal_text("∇"), close = internal_text("}");
    if (state_ == 0) {
      state_ = 1;
      return give(head_, text, n);
    }
    const std::uint32_t rec = record_at(slot_, ws);
    if (lines_left_ > 0) {
      std::uint32_t end = at_;
      while (ws[rec + end] != kCarriageReturn) ++end;
      *text = ws + rec + at_;
      *n = end - at_;
      at_ = end + 1;
      if (--lines_left_ == 0) closing_ = true;
      return true;
    }
    if (closing_) {
      closing_ = false;
      return give(nabla, text, n);
    }
    // The next method.
    const std::uint32_t count = h16(ws, rec + crec::Count);
    while (member_ < count) {
      const std::uint32_t m = next_;
      ++member_;
      next_ += h32(ws, rec + m + crec::Length);
      const std::uint32_t lines = h16(ws, rec + m + crec::Count);
      if (!is_method_kind(ws[rec + m]) || lines == 0) continue;
      // The header line with ∇ before it, in the last byte of the member's header.
      std::uint32_t end = m + crec::Header;
      while (ws[rec + end] != kCarriageReturn) ++end;
      ws[rec + m + crec::Header - 1] = static_cast<std::uint8_t>(nabla[0]);
      *text = ws + rec + m + crec::Header - 1;
      *n = end - (m + crec::Header - 1);
      at_ = end + 1;
      lines_left_ = lines - 1;
      closing_ = lines_left_ == 0;
      return true;
    }
    if (state_ == 1) {
      state_ = 2;
      return give(close, text, n);
    }
    return false;
  }

 private:
  static bool give(const std::string& s, const std::uint8_t** text, std::uint32_t* n) {
    *text = reinterpret_cast<const std::uint8_t*>(s.data());
    *n = static_cast<std::uint32_t>(s.size());
    return true;
  }
  std::uint32_t slot_;
  std::string head_;
  int state_ = 0;
  std::uint32_t member_ = 0, next_ = crec::Members, at_ = 0, lines_left_ = 0;
  bool closing_ = false;
};

}  // namespace

int class_generation(std::uint32_t entry, Ws ws) {
  std::uint32_t cls = class_def_from_symidx(static_cast<std::uint16_t>(token_of_entry(entry)), ws);
  if (cls == 0) return -1;
  int g = 0;
  const std::uint32_t steps = rd32(ws, object_pool(ws) + pool::Capacity);
  for (std::uint32_t s = 0; s < steps; ++s) {
    cls = class_in_slot(rd32(ws, cls + pobj::ParentSlot), ws);
    if (cls == 0) break;
    ++g;
  }
  return g;
}

int greatest_class_generation(Ws ws) {
  int g = -1;
  const std::uint32_t end = kBucketArea + rd16(ws, hdr::BucketEntries) * kSymtabEntrySize;
  for (std::uint32_t e = kBucketArea; e < end; e += kSymtabEntrySize) {
    if (rd32(ws, e + sym::Name) == 0 || (rd8(ws, e + sym::Type) & kSymTypeMask) != SYM_CLASS) continue;
    g = std::max(g, class_generation(e, ws));
  }
  return g;
}

WriteResult write_class_record(std::uint32_t entry, std::uint32_t& records, Ws ws) {
  const auto token = static_cast<std::uint16_t>(token_of_entry(entry));
  if (class_def_from_symidx(token, ws) == 0) return WriteResult::NullClass;
  force_gcol(ws);
  const std::uint32_t cls = class_def_from_symidx(token, ws);
  const std::uint32_t n = rd32(ws, cls + pobj::Count);
  // Every method's lines, one after another, in the free gap.
  const std::uint32_t origin = rd32(ws, hdr::HeapTop);
  std::uint32_t text_end = origin;
  {
    TextCapture capture(origin, ws);
    for (std::uint32_t i = 0; i < n; ++i) {
      const std::uint32_t me = member_at(cls, i);
      if (!is_method_kind(rd8(ws, me + mentry::Kind))) continue;
      for (std::uint32_t l = rd32(ws, me + mentry::Value); l; l = rd32(ws, l + fnl::Next)) {
        capture_function_line(l, ws);
        capture.store_return();
      }
    }
    text_end = capture.cursor();
  }
  // Each method's text: as many carriage returns as it has lines.
  auto method_text = [&](std::uint32_t me, std::uint32_t& at, std::uint32_t& lines) {
    const std::uint32_t start = at;
    lines = function_line_count(rd32(ws, me + mentry::Value), ws);
    for (std::uint32_t k = 0; k < lines && at < text_end; ++at)
      if (ws[at] == kCarriageReturn) ++k;
    return at - start;
  };
  std::uint32_t length = crec::Members;
  for (std::uint32_t i = 0, at = origin; i < n; ++i) {
    const std::uint32_t me = member_at(cls, i);
    const std::uint8_t kind = rd8(ws, me + mentry::Kind);
    const std::uint32_t v = rd32(ws, me + mentry::Value);
    std::uint32_t lines = 0;
    length += crec::Header;
    if (is_method_kind(kind)) length += pad4(method_text(me, at, lines));
    else if (kind == SYM_VAR && v != 0) length += rd32(ws, v + obj::Size);
  }
  std::uint8_t h[crec::Header + kFieldRoom] = {};
  header(h, crec::KindClass, 0, n, length, symbol_name(entry, ws));
  const std::uint32_t parent = class_in_slot(rd32(ws, cls + pobj::ParentSlot), ws);
  const std::string pname = parent ? class_name(parent, ws) : std::string();
  const auto pn = static_cast<std::uint16_t>(std::min<std::size_t>(pname.size(), kMaxNameLength));
  std::memcpy(h + crec::Field, &pn, 2);
  std::memcpy(h + crec::Field + 2, pname.data(), pn);
  if (write_seq(sizeof h, h) != 0) return WriteResult::Failed;
  for (std::uint32_t i = 0, at = origin; i < n; ++i) {
    const std::uint32_t me = member_at(cls, i);
    const std::uint8_t kind = rd8(ws, me + mentry::Kind);
    const std::uint32_t v = rd32(ws, me + mentry::Value);
    const std::string mname = token_name(rd16(ws, me + mentry::Token), ws);
    std::uint8_t m[crec::Header];
    std::uint8_t flags = rd8(ws, me + mentry::Access) & 7;
    if (is_method_kind(kind)) {
      std::uint32_t lines = 0;
      const std::uint32_t start = at;
      const std::uint32_t t = method_text(me, at, lines);
      header(m, kind, flags, lines, crec::Header + pad4(t), mname);
      const std::uint8_t zeros[4] = {};
      if (write_seq(crec::Header, m) != 0 || write_seq(t, ws + start) != 0 || write_seq(pad4(t) - t, zeros) != 0)
        return WriteResult::Failed;
      continue;
    }
    const bool with_value = kind == SYM_VAR && v != 0;
    const std::uint32_t size = with_value ? rd32(ws, v + obj::Size) : 0;
    header(m, with_value ? SYM_VAR : SYM_UNDEF, flags, 0, crec::Header + size, mname);
    if (write_seq(crec::Header, m) != 0 || (with_value && write_seq(size, ws + v) != 0)) return WriteResult::Failed;
  }
  ++records;
  return WriteResult::Ok;
}

WriteResult write_referenced_instances(std::uint32_t value, std::uint32_t& records, std::uint32_t& instances,
                                       Ws ws) {
  if (value == 0 || object_pool(ws) == 0) return WriteResult::Ok;
  return write_instances_in(value, records, instances, 0, ws);
}

// ---- CopiedInstances ----

void CopiedInstances::begin(std::uint32_t n, Ws ws) {
  room_ = n;
  used_ = 0;
  if (n == 0) return;
  const std::uint32_t shape[1] = {n};
  std::uint32_t a = new_array(ET_OBJREF, 1, shape, ws);
  std::memset(ws + array_data(a, ws), 0, 4 * std::size_t{n});
  wr8(ws, a + obj::Flags1, rd8(ws, a + obj::Flags1) | kRefsCounted);
  refs_ = stack(StackEntry{static_cast<std::uint8_t>(kOwnsObject | 1), 0, a}, ws);
  a = new_array(ET_INT, 1, shape, ws);
  std::memset(ws + array_data(a, ws), 0, 4 * std::size_t{n});
  sources_ = stack(StackEntry{static_cast<std::uint8_t>(kOwnsObject | 1), 0, a}, ws);
}

void CopiedInstances::end(Ws ws) {
  if (refs_ == 0) return;
  drop_stacked(ws);
  drop_stacked(ws);
  refs_ = sources_ = 0;
}

std::uint32_t CopiedInstances::find(std::uint32_t source, Ws ws) const {
  if (refs_ == 0 || source == 0) return 0;
  const std::uint32_t s = array_data(rd32(ws, sources_ + se::Value), ws);
  const std::uint32_t r = array_data(rd32(ws, refs_ + se::Value), ws);
  for (std::uint32_t i = 0; i < used_; ++i)
    if (rd32(ws, s + 4 * i) == source) return rd32(ws, r + 4 * i);
  return 0;
}

void CopiedInstances::add(std::uint32_t source, std::uint32_t made, Ws ws) {
  if (used_ >= room_) ZEMA_SYSTEM_ERROR(ws);
  inc_object_reference_count(made, ws);
  wr32(ws, array_data(rd32(ws, sources_ + se::Value), ws) + 4 * used_, source);
  wr32(ws, array_data(rd32(ws, refs_ + se::Value), ws) + 4 * used_, made);
  ++used_;
}

void CopiedInstances::translate(std::uint32_t value, bool& nulled, Ws ws) const {
  each_reference(value, ws, [&](std::uint32_t word) {
    const std::uint32_t source = rd32(ws, word);
    const std::uint32_t made = find(source, ws);
    if (source != 0 && made == 0) nulled = true;
    wr32(ws, word, made);
  });
}

// ---- fixing ----

bool object_record_sound(std::uint32_t slot, Ws ws) {
  const std::uint32_t total = record_length(slot, ws);
  const std::uint32_t rec = record_at(slot, ws);
  if (total < crec::Members || h32(ws, rec + crec::Length) != total) return false;
  const std::uint8_t kind = ws[rec + crec::Kind];
  if (kind != crec::KindClass && kind != crec::KindInstance) return false;
  auto name_ok = [&](std::uint32_t at, std::uint32_t n) {
    if (n == 0 || n > kMaxNameLength) return false;
    for (std::uint32_t i = 0; i < n; ++i)
      if (ws[at + i] == kBlank || ws[at + i] == kCarriageReturn) return false;
    return true;
  };
  if (!name_ok(rec + crec::Name, h16(ws, rec + crec::NameLength))) return false;
  if (kind == crec::KindClass) {
    const std::uint16_t pn = h16(ws, rec + crec::Field);
    if (pn != 0 && !name_ok(rec + crec::Field + 2, pn)) return false;
  } else if (h32(ws, rec + crec::Field) == 0) {
    return false;
  }
  std::uint32_t at = crec::Members;
  const std::uint32_t count = h16(ws, rec + crec::Count);
  for (std::uint32_t i = 0; i < count; ++i) {
    if (total - at < crec::Header) return false;
    const std::uint32_t m = rec + at;
    const std::uint32_t length = h32(ws, m + crec::Length);
    if (length < crec::Header || length > total - at || length % 4 != 0) return false;
    if (!name_ok(m + crec::Name, h16(ws, m + crec::NameLength))) return false;
    const std::uint8_t mk = ws[m + crec::Kind];
    if (ws[m + crec::Flags] & ~7u) return false;
    if (kind == crec::KindInstance && mk != SYM_VAR) return false;
    if (mk == SYM_VAR) {
      if (!value_sound(ws + m + crec::Header, length - crec::Header)) return false;
    } else if (mk == SYM_UNDEF) {
      if (length != crec::Header) return false;
    } else {
      if (!defined_function_type(mk)) return false;
      // As many lines as counted, each ended, within the member.
      const std::uint32_t lines = h16(ws, m + crec::Count);
      std::uint32_t k = 0, p = crec::Header;
      for (; p < length && k < lines; ++p)
        if (ws[m + p] == kCarriageReturn) ++k;
      if (lines == 0 || k != lines) return false;
    }
    at += length;
  }
  return at == total;
}

FixObject fix_class_record(std::uint32_t slot, CopiedInstances& made, ObjectWarnings& w, Ws ws) {
  std::uint32_t rec = record_at(slot, ws);
  const std::string name(reinterpret_cast<const char*>(ws + rec + crec::Name), h16(ws, rec + crec::NameLength));
  const std::string parent(reinterpret_cast<const char*>(ws + rec + crec::Field + 2), h16(ws, rec + crec::Field));
  if (!parent.empty() &&
      class_def_from_name(reinterpret_cast<const std::uint8_t*>(parent.data()), static_cast<std::uint32_t>(parent.size()),
                          ws) == 0) {
    const std::string text = "Class " + internal_to_utf8(name).substr(0, 38) + " not copied, missing parent class " +
                             internal_to_utf8(parent).substr(0, 38);
    ldprt(utf8_to_internal(text), ws);
    cdisp(kCarriageReturn, ws);
    return FixObject::Ok;
  }
  // The class and its methods through its text; it replaces a class of the name in its own slot.
  const std::string head = name + (parent.empty() ? "" : internal_text(" : ") + parent) + internal_text(" {");
  ClassRecordLines lines(slot, head);
  std::uint32_t entry = 0;
  const std::uint32_t cls = fix_definition(lines, false, 0, &entry, ws) < 0
                                ? class_def_from_name(reinterpret_cast<const std::uint8_t*>(name.data()),
                                                      static_cast<std::uint32_t>(name.size()), ws)
                                : 0;
  if (cls == 0) {
    ldprt(utf8_to_internal("Error creating class " + internal_to_utf8(name)), ws);
    cdisp(kCarriageReturn, ws);
    return FixObject::Refused;
  }
  const std::uint32_t cls_slot = rd32(ws, cls + pobj::OwnSlot);
  // Properties with their values, then every member's access flags.
  rec = record_at(slot, ws);
  const std::uint32_t count = h16(ws, rec + crec::Count);
  for (std::uint32_t i = 0, at = crec::Members; i < count; ++i) {
    rec = record_at(slot, ws);
    const std::uint32_t m = rec + at;
    const std::uint32_t length = h32(ws, m + crec::Length);
    const std::uint8_t kind = ws[m + crec::Kind];
    const std::uint8_t access = ws[m + crec::Flags] & 7;
    std::uint8_t mname[kMaxNameLength];
    const std::uint32_t mn = h16(ws, m + crec::NameLength);
    std::memcpy(mname, ws + m + crec::Name, mn);
    const std::uint32_t member_at_rel = at;
    at += length;
    const std::uint32_t token = enter_member_name(mname, mn, ws);
    if (token == 0) return FixObject::Refused;
    if (kind == SYM_VAR) {
      const std::uint32_t v = stack_value_copy(slot, member_at_rel + crec::Header, length - crec::Header, ws);
      made.translate(rd32(ws, v + se::Value), w.reference_nulled, ws);
      const int rc = set_named_class_property(cls_slot, static_cast<std::uint16_t>(token), rd32(ws, v + se::Value), ws);
      drop_stacked(ws);
      if (rc != 0) return FixObject::Refused;
    } else if (kind == SYM_UNDEF) {
      if (set_named_class_property(cls_slot, static_cast<std::uint16_t>(token), 0, ws) != 0) return FixObject::Refused;
    }
    set_member_details(cls_slot, static_cast<std::uint16_t>(token), access, ws);
  }
  return FixObject::Ok;
}

FixObject fix_instance_record(std::uint32_t slot, CopiedInstances& made, ObjectWarnings& w, Ws ws) {
  std::uint32_t rec = record_at(slot, ws);
  const std::uint32_t cls = class_def_from_name(ws + rec + crec::Name, h16(ws, rec + crec::NameLength), ws);
  if (cls == 0 || rd32(ws, cls + pobj::NameSymbol) == 0) return FixObject::Ok;  // references to it become null
  const std::uint32_t inst = create_apl_instance(rd32(ws, cls + pobj::OwnSlot), ws);
  rec = record_at(slot, ws);
  made.add(h32(ws, rec + crec::Field), inst, ws);
  const std::uint32_t count = h16(ws, rec + crec::Count);
  for (std::uint32_t i = 0, at = crec::Members; i < count; ++i) {
    rec = record_at(slot, ws);
    const std::uint32_t m = rec + at;
    const std::uint32_t length = h32(ws, m + crec::Length);
    const std::uint32_t member_at_rel = at;
    at += length;
    std::uint32_t first_free = 0, found = 0;
    const std::uint32_t mn = h16(ws, m + crec::NameLength);
    std::memcpy(ws + kNameBuffer, ws + m + crec::Name, mn);
    const bool known = symfnd(first_free, found, mn, ws) == 0;
    const MemberRef mr = known ? internal_class_member(static_cast<std::uint16_t>(token_of_table_offset(found)), inst, ws)
                               : MemberRef{};
    if (!known || (mr.kind != SYM_VAR && mr.kind != SYM_UNDEF) || (mr.access & kClassWide)) {
      w.property_dropped = true;
      continue;
    }
    const auto token = static_cast<std::uint16_t>(token_of_table_offset(found));
    const std::uint32_t v = stack_value_copy(slot, member_at_rel + crec::Header, length - crec::Header, ws);
    made.translate(rd32(ws, v + se::Value), w.reference_nulled, ws);
    const int rc = internal_assign_property(inst, token, v + se::Value, mr.access, ws);
    drop_stacked(ws);
    if (rc != 0) return FixObject::Refused;
  }
  return FixObject::Ok;
}

}  // namespace zema
