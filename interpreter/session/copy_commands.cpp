// )COPY )PCOPY )SCOPY )SPCOPY: see copy_commands.h.
#include "interpreter/session/copy_commands.h"

#include <array>
#include <cstring>
#include <string>

#include "files/wsfiles.h"
#include "host/charset.h"
#include "interpreter/engine/evaluation.h"
#include "interpreter/engine/function_object.h"
#include "interpreter/engine/statement_end.h"
#include "interpreter/output/display.h"
#include "interpreter/output/timestamp.h"
#include "interpreter/reader/tokeniser.h"
#include "interpreter/session/copy_objects.h"
#include "interpreter/session/definition.h"
#include "interpreter/session/life.h"
#include "interpreter/session/ws_backup.h"
#include "interpreter/session/ws_commands.h"
#include "interpreter/session/ws_image.h"
#include "interpreter/sysfns/capture.h"
#include "interpreter/sysfns/commands.h"
#include "interpreter/sysfns/definitions.h"
#include "interpreter/sysfns/names.h"
#include "interpreter/workspace/arrays.h"
#include "interpreter/workspace/entry.h"
#include "interpreter/workspace/errors.h"
#include "interpreter/workspace/heap.h"
#include "interpreter/workspace/object_pool.h"
#include "interpreter/workspace/stack.h"
#include "interpreter/workspace/support.h"
#include "interpreter/workspace/symtab.h"

namespace zema {

namespace {

constexpr std::uint32_t kRecordHeader = 40;
constexpr std::uint32_t kListRoom = 512;
constexpr std::uint32_t kGapReserve = 1024;  // kept free between heap and stack
constexpr std::uint8_t kKindFunction = 0;
// A group's value: the length of its text of names, then the text.
constexpr std::uint32_t kGroupTextLength = 8;
constexpr std::uint32_t kGroupText = 12;
constexpr std::uint8_t kRecordLocked = fnmark::Locked;  // flag byte of a function record

// What the command was given, kept outside the workspace across the switches.
struct CopyRequest {
  bool protect = false;
  bool quiet = false;
  bool whole = false;
  std::uint16_t flags = 0;
  std::uint32_t library = 0;
  std::uint8_t name[257] = {};
  std::uint8_t key[8] = {};
  std::array<std::uint8_t, kListRoom> list{};
  std::uint32_t list_length = 0;
};

// What the copy has done so far.
struct CopyProgress {
  std::uint32_t records = 0;
  std::uint32_t instances = 0;  // instance records among them
  int pass = -1;                // class generation written now; -1 the final pass
  bool null_class = false;      // a class named had no definition
  ObjectWarnings warnings;
  bool not_found_started = false;
  bool not_copied_started = false;
  bool si_damage = false;
};

void say(const char* utf8, Ws ws) {
  ldprt(utf8_to_internal(utf8), ws);
  cdisp(kCarriageReturn, ws);
}

// "NOT FOUND: " or "NOT COPIED: " once on a line of its own, then the name and a blank.
void report_name(bool& started, const char* title, const std::uint8_t* name, std::uint32_t n, Ws ws) {
  if (!started) {
    if (rd16(ws, hdr::OutColumn) != 0) cdisp(kCarriageReturn, ws);
    ldprt(utf8_to_internal(title), ws);
    started = true;
  }
  ldprt(std::string(reinterpret_cast<const char*>(name), n) + static_cast<char>(kBlank), ws);
}

void end_line(bool started, Ws ws) {
  if (started) cdisp(kCarriageReturn, ws);
}

std::string temp_path(std::uint32_t extension, Ws ws) {
  LowGlobals& lg = lowglobals(ws);
  lg.extension = extension;
  const std::uint8_t none[2] = {0, ich::Blank};
  std::string path = wsset(0, 0, none, ws);
  lg.extension = kExtAws;
  return path;
}

// Closes the transfer file and removes both temporaries.
void remove_temporaries(Ws ws) {
  close_seq();
  delete_ws(temp_path(kExtAtm, ws).c_str());
  delete_ws(temp_path(kExtAff, ws).c_str());
}

// Loads the workspace saved when the copy began; when that image does not
// load, the copy kept in memory is put back instead: the workspace is never
// lost.
void reload_original(const WorkspaceBackup& kept, Ws ws) {
  close_seq();
  LowGlobals& lg = lowglobals(ws);
  lg.extension = kExtAtm;
  const std::uint8_t none[2] = {0, ich::Blank};
  const int rc = sup_load(0, none, 0, ws);
  lg.extension = kExtAws;
  if (rc != 0) kept.restore(ws);
}

// Back to the workspace the command started from, the temporaries removed.
void restore_original(const WorkspaceBackup& kept, std::uint32_t library, Ws ws) {
  reload_original(kept, ws);
  remove_temporaries(ws);
  set_state(0, st::Copying, ws);
  wr32(ws, hdr::LibraryLoaded, library);
}

// ---- writing records (the source workspace is loaded) ----

bool copyable_type(std::uint8_t type) {
  return defined_function_type(type) || type == SYM_VAR || type == SYM_GROUP || type == SYM_CLASS;
}

// Whether the object at the entry is written in this pass: a class in the
// pass of its generation, anything else in the final one.
bool in_pass(std::uint32_t entry, std::uint8_t type, const CopyProgress& p, Ws ws) {
  return type == SYM_CLASS ? class_generation(entry, ws) == p.pass : p.pass == -1;
}

void record_header(std::uint8_t* h, std::uint8_t kind, std::uint16_t lines, std::uint32_t length,
                   const std::string& name) {
  std::memset(h, 0, kRecordHeader);
  h[0] = kind;
  std::memcpy(h + 2, &lines, 2);
  std::memcpy(h + 4, &length, 4);
  const std::uint16_t n = static_cast<std::uint16_t>(std::min<std::size_t>(name.size(), kMaxNameLength));
  std::memcpy(h + 8, &n, 2);
  std::memcpy(h + 10, name.data(), n);
}

// Writes the object of the entry as one record: true, or false after a
// failed write. WS FULL (a function's text not fitting) is raised.
bool write_record(std::uint32_t entry, std::uint8_t type, CopyProgress& p, Ws ws) {
  if (type == SYM_CLASS) {
    const WriteResult r = write_class_record(entry, p.records, ws);
    p.null_class = r == WriteResult::NullClass;
    return r == WriteResult::Ok;
  }
  // The instances a variable refers to go first.
  if (type == SYM_VAR && write_referenced_instances(rd32(ws, entry + sym::Value), p.records, p.instances, ws) !=
                             WriteResult::Ok)
    return false;
  ++p.records;
  std::uint8_t h[kRecordHeader];
  const std::string name = symbol_name(entry, ws);
  if (!defined_function_type(type)) {
    const std::uint32_t value = rd32(ws, entry + sym::Value);
    const std::uint32_t size = rd32(ws, value + obj::Size);
    record_header(h, type, 0, kRecordHeader + size, name);
    return write_seq(kRecordHeader, h) == 0 && write_seq(size, ws + value) == 0;
  }
  force_gcol(ws);
  const std::uint32_t origin = rd32(ws, hdr::HeapTop);
  std::uint32_t total = 0, lines = 0;
  {
    TextCapture capture(origin, ws);
    for (std::uint32_t l = rd32(ws, entry + sym::Value); l; l = rd32(ws, l + fnl::Next)) {
      capture_function_line(l, ws);
      capture.store_return();
      ++lines;
    }
    total = capture.cursor() - origin;
  }
  record_header(h, kKindFunction, static_cast<std::uint16_t>(lines), kRecordHeader + total, name);
  // The flag byte keeps the lock: a copied locked function stays locked.
  h[1] = rd8(ws, rd32(ws, entry + sym::Value) + fnl::Marks) & kRecordLocked;
  return write_seq(kRecordHeader, h) == 0 && write_seq(total, ws + origin) == 0;
}

// Writes the members a group at the entry names (its text at kGroupText,
// each name followed by a blank) that have a value of a kind a copy takes;
// the others are passed over. False after a failed write.
bool copy_group_members(std::uint32_t group, CopyProgress& p, Ws ws) {
  for (std::uint32_t at = 0;;) {
    // The group is read again: a function's listing may compact the heap.
    const std::uint32_t g = rd32(ws, group + sym::Value);
    const std::uint32_t length = rd32(ws, g + kGroupTextLength);
    const std::uint8_t* text = ws + g + kGroupText;
    while (at < length && text[at] == kBlank) ++at;
    if (at >= length) return true;
    const std::uint32_t start = at;
    while (at < length && text[at] != kBlank) ++at;
    std::uint8_t item[kMaxNameLength];
    const std::uint32_t n = std::min<std::uint32_t>(at - start, kMaxNameLength);
    std::memcpy(item, text + start, n);
    const NameRef r = look_up_name(item, n, ws);
    if (r.kind != NameKind::Found || !copyable_type(r.type) || !in_pass(r.entry, r.type, p, ws)) continue;
    if (!write_record(r.entry, r.type, p, ws)) return false;
  }
}

// Looks the name up in the source and writes it (a group with its
// members), or reports it not found. False after a failed write.
bool copy_named(const std::uint8_t* name, std::uint32_t n, CopyProgress& p, Ws ws) {
  const NameRef r = look_up_name(name, n, ws);
  if (r.kind != NameKind::Found || !copyable_type(r.type)) {
    if (p.pass == -1) report_name(p.not_found_started, "NOT FOUND: ", name, n, ws);
    return true;
  }
  if (!in_pass(r.entry, r.type, p, ws)) return true;
  if (!write_record(r.entry, r.type, p, ws)) return false;
  return r.type != SYM_GROUP || copy_group_members(r.entry, p, ws);
}

// The names of a list item "(NAME)": the rows of the source's character
// variable NAME, each up to its first blank. False after a failed write.
bool copy_indirect(const std::uint8_t* name, std::uint32_t n, CopyProgress& p, Ws ws) {
  const NameRef r = look_up_name(name, n, ws);
  std::uint32_t a = r.kind == NameKind::Found && r.type == SYM_VAR ? rd32(ws, r.entry + sym::Value) : 0;
  if (a == 0 || array_type(a, ws) != ET_CHAR || array_rank(a, ws) > 2) {
    if (p.pass == -1) report_name(p.not_found_started, "NOT FOUND: ", name, n, ws);
    return true;
  }
  const std::uint32_t entry = r.entry;
  const std::uint32_t rank = array_rank(a, ws);
  const std::uint32_t rows = rank == 2 ? array_axis(a, 0, ws) : 1;
  const std::uint32_t columns = rank == 0 ? 1 : array_axis(a, rank - 1, ws);
  for (std::uint32_t i = 0; i < rows; ++i) {
    // The value is read again: a function's listing may compact the heap.
    a = rd32(ws, entry + sym::Value);
    std::uint8_t item[kMaxNameLength];
    std::uint32_t k = 0;
    const std::uint8_t* row = ws + array_data(a, ws) + i * columns;
    while (k < columns && k < kMaxNameLength && row[k] != kBlank) {
      item[k] = row[k];
      ++k;
    }
    if (k == 0) continue;
    if (!copy_named(item, k, p, ws)) return false;
  }
  return true;
}

// Writes every record the request asks for in one pass: 0, 1 after a
// failed write, 2 for a list item that is not a name.
int write_pass(const CopyRequest& q, CopyProgress& p, Ws ws) {
  if (q.whole) {
    const std::uint32_t end = kBucketArea + rd16(ws, hdr::BucketEntries) * kSymtabEntrySize;
    for (std::uint32_t e = kBucketArea; e < end; e += kSymtabEntrySize) {
      if (rd32(ws, e + sym::Name) == 0) continue;
      const std::uint8_t type = rd8(ws, e + sym::Type) & kSymTypeMask;
      if (!copyable_type(type) || !in_pass(e, type, p, ws)) continue;
      if (!write_record(e, type, p, ws)) return 1;
    }
    return 0;
  }
  std::uint32_t i = 0;
  const std::uint8_t* t = q.list.data();
  const std::uint32_t n = q.list_length;
  while (i < n) {
    while (i < n && t[i] == kBlank) ++i;
    if (i == n) break;
    const bool indirect = t[i] == 0x3A;
    if (indirect) ++i;
    while (i < n && t[i] == kBlank) ++i;
    const std::uint32_t start = i;
    while (i < n && t[i] != kBlank && t[i] != ich::RightParen) ++i;
    const std::uint32_t len = i - start;
    if (indirect) {
      while (i < n && t[i] == kBlank) ++i;
      if (i < n && t[i] == ich::RightParen) ++i;
    }
    if (len == 0) return 2;
    const bool ok = indirect ? copy_indirect(t + start, len, p, ws) : copy_named(t + start, len, p, ws);
    if (!ok) return 1;
  }
  return 0;
}

// Every pass: the classes by generation, parents first, then the rest.
int write_records(const CopyRequest& q, CopyProgress& p, Ws ws) {
  const int last = greatest_class_generation(ws);
  for (int g = 0; g <= last; ++g) {
    p.pass = g;
    if (const int rc = write_pass(q, p, ws)) return rc;
  }
  p.pass = -1;
  return write_pass(q, p, ws);
}

// ---- reading records (the current workspace is back) ----

// The lines of a function record, from the character vector the stack
// entry at `slot` owns.
class RecordLines : public FixSource {
 public:
  explicit RecordLines(std::uint32_t slot) : slot_(slot) {}
  bool line(std::uint32_t i, const std::uint8_t** text, std::uint32_t* n, Ws ws) override {
    const std::uint32_t a = rd32(ws, slot_ + se::Value);
    const std::uint32_t count = array_count(a, ws);
    const std::uint8_t* data = ws + array_data(a, ws);
    if (i != line_) return false;
    if (at_ >= count) return false;
    std::uint32_t end = at_;
    while (end < count && data[end] != kCarriageReturn) ++end;
    *text = data + at_;
    *n = end - at_;
    at_ = end + 1;
    ++line_;
    return true;
  }

 private:
  std::uint32_t slot_;
  std::uint32_t at_ = 0, line_ = 0;
};

enum FixResult { FIX_OK, FIX_IO, FIX_FULL, FIX_REFUSED, FIX_SYMBOLS, FIX_DAMAGED };

// Enters a name not yet in the table: its entry, or 0 when the table is full.
std::uint32_t enter_name(const std::uint8_t* name, std::uint32_t n, Ws ws) {
  std::memcpy(ws + kNameBuffer, name, n);
  std::uint32_t first_free = 0, found = 0;
  if (symfnd(first_free, found, n, ws) == 0) return entry_of_table_offset(found);
  if (first_free == 0) return 0;
  wr32(ws, hdr::TokenAreaLimit, rd32(ws, hdr::StackPointer) & ~3u);
  const std::uint32_t rel = syment(first_free, n, ws);
  fxnms(ws);
  return entry_of_table_offset(rel);
}

FixResult fix_value(const std::uint8_t* h, const std::uint8_t* name, std::uint32_t n, const CopyRequest& q,
                    CopyProgress& p, const CopiedInstances& made, Ws ws) {
  std::uint32_t length = 0;
  std::memcpy(&length, h + 4, 4);
  const std::uint32_t size = length - kRecordHeader;
  std::uint8_t prefix[8];
  NameRef r = look_up_name(name, n, ws);
  bool skip = false;
  if (r.kind == NameKind::Found && r.type != SYM_UNDEF) {
    skip = q.protect || !erase_object(r.entry, ws);
    if (skip) report_name(p.not_copied_started, "NOT COPIED: ", name, n, ws);
  }
  if (skip) {
    // The value is read past, a piece at a time.
    for (std::uint32_t left = size; left > 0;) {
      const std::uint32_t k = std::min<std::uint32_t>(left, sizeof prefix);
      if (read_seq(k, prefix) != 0) return FIX_IO;
      left -= k;
    }
    return FIX_OK;
  }
  force_gcol(ws);
  if (std::uint64_t(rd32(ws, hdr::HeapTop)) + size + kGapReserve > rd32(ws, hdr::StackPointer)) return FIX_FULL;
  const std::uint32_t entry = enter_name(name, n, ws);
  if (entry == 0) return FIX_SYMBOLS;
  const std::uint32_t a = getspc(size - 8, ws);
  if (read_seq(8, prefix) != 0 || read_seq(size - 8, ws + a + 8) != 0) {
    mgarb(a, ws);
    return FIX_IO;
  }
  wr8(ws, a + obj::Flags1, 0);
  // Its references name the source's slots: they become the instances
  // this copy made (null for any other), then count.
  if (h[0] == SYM_VAR) {
    made.translate(a, p.warnings.reference_nulled, ws);
    count_value_references(a, ws);
  }
  wr32(ws, entry + sym::Value, a);
  wr8(ws, entry + sym::Type, static_cast<std::uint8_t>((rd8(ws, entry + sym::Type) & kSymLocalFlag) | h[0]));
  set_owner(a, entry, OK_SYMBOL, ws);
  symuse(table_offset_of_entry(entry), 0, 0, ws);
  return FIX_OK;
}

FixResult fix_function(const std::uint8_t* h, const std::uint8_t* name, std::uint32_t n, const CopyRequest& q,
                       CopyProgress& p, Ws ws) {
  std::uint32_t length = 0;
  std::memcpy(&length, h + 4, 4);
  const std::uint32_t size = length - kRecordHeader;
  const NameRef r = look_up_name(name, n, ws);
  std::uint32_t replace_variable = 0;
  bool skip = false;
  if (r.kind == NameKind::Found && r.type != SYM_UNDEF) {
    if (q.protect) skip = true;
    else if (r.type == SYM_VAR) replace_variable = r.entry;
    // A pendent function cannot be redefined: it is kept.
    else if (defined_function_type(r.type) && !function_pendent(r.entry, ws))
      p.si_damage = p.si_damage || function_on_si(r.entry, ws);
    else skip = true;
    if (skip) report_name(p.not_copied_started, "NOT COPIED: ", name, n, ws);
  }
  force_gcol(ws);
  if (std::uint64_t(rd32(ws, hdr::HeapTop)) + size + kGapReserve > rd32(ws, hdr::StackPointer)) return FIX_FULL;
  const std::uint32_t shape[1] = {size};
  const std::uint32_t text = new_array(ET_CHAR, 1, shape, ws);
  const std::uint32_t slot = stack(StackEntry{static_cast<std::uint8_t>(kOwnsObject | 1), 0, text}, ws);
  FixResult result = FIX_OK;
  if (read_seq(size, ws + array_data(text, ws)) != 0) {
    result = FIX_IO;
  } else if (!skip) {
    RecordLines lines(slot);
    std::uint32_t entry = 0;
    if (fix_definition(lines, (h[1] & kRecordLocked) != 0, replace_variable, &entry, ws) >= 0) result = FIX_REFUSED;
  }
  StackEntry e;
  unstack(e, ws);
  release_entry(e, ws);
  return result;
}

// A class or instance record: read whole into a character vector held by
// a stack entry, checked, then fixed in. A class whose name has a value
// is not copied under protection; another value of the name is erased.
FixResult fix_object(const std::uint8_t* h, const std::uint8_t* name, std::uint32_t n, const CopyRequest& q,
                     CopyProgress& p, CopiedInstances& made, Ws ws) {
  std::uint32_t length = 0;
  std::memcpy(&length, h + 4, 4);
  if (length < crec::Members) return FIX_DAMAGED;
  force_gcol(ws);
  if (std::uint64_t(rd32(ws, hdr::HeapTop)) + length + kGapReserve > rd32(ws, hdr::StackPointer)) return FIX_FULL;
  const std::uint32_t shape[1] = {length};
  const std::uint32_t text = new_array(ET_CHAR, 1, shape, ws);
  std::memcpy(ws + array_data(text, ws), h, kRecordHeader);
  const std::uint32_t slot = stack(StackEntry{static_cast<std::uint8_t>(kOwnsObject | 1), 0, text}, ws);
  FixResult result = FIX_OK;
  if (read_seq(length - kRecordHeader, ws + array_data(text, ws) + kRecordHeader) != 0) {
    result = FIX_IO;
  } else if (!object_record_sound(slot, ws)) {
    result = FIX_DAMAGED;
  } else if (h[0] == crec::KindInstance) {
    if (fix_instance_record(slot, made, p.warnings, ws) != FixObject::Ok) result = FIX_REFUSED;
  } else {
    const NameRef r = look_up_name(name, n, ws);
    bool skip = false;
    if (r.kind == NameKind::Found && r.type != SYM_UNDEF) {
      skip = q.protect || (r.type != SYM_CLASS && !erase_object(r.entry, ws));
      if (skip) report_name(p.not_copied_started, "NOT COPIED: ", name, n, ws);
    }
    if (!skip && fix_class_record(slot, made, p.warnings, ws) != FixObject::Ok) result = FIX_REFUSED;
  }
  StackEntry e;
  unstack(e, ws);
  release_entry(e, ws);
  return result;
}

// Reads the records back and fixes them in: 0, or 12 after the prior
// workspace was restored.
int read_records(const CopyRequest& q, CopyProgress& p, const WorkspaceBackup& kept, std::uint32_t library, Ws ws) {
  CopiedInstances made;
  made.begin(p.instances, ws);
  for (std::uint32_t k = 0; k < p.records; ++k) {
    std::uint8_t h[kRecordHeader];
    FixResult result = FIX_IO;
    if (read_seq(kRecordHeader, h) == 0) {
      std::uint16_t n = 0;
      std::memcpy(&n, h + 8, 2);
      std::uint8_t name[kMaxNameLength];
      std::memcpy(name, h + 10, std::min<std::uint32_t>(n, kMaxNameLength));
      n = static_cast<std::uint16_t>(std::min<std::uint32_t>(n, kMaxNameLength));
      if (n == 0) result = FIX_DAMAGED;
      else if (h[0] == kKindFunction) result = fix_function(h, name, n, q, p, ws);
      else if (h[0] == crec::KindClass || h[0] == crec::KindInstance) result = fix_object(h, name, n, q, p, made, ws);
      else if (h[0] >= SYM_VAR && h[0] <= 10) result = fix_value(h, name, n, q, p, made, ws);
      else result = FIX_DAMAGED;
    }
    if (result == FIX_OK) continue;
    restore_original(kept, library, ws);
    if (result == FIX_IO) print_io_error(ws);
    if (result == FIX_FULL) say("WS FULL", ws);
    if (result == FIX_SYMBOLS) say("SYMBOL TABLE FULL", ws);
    if (result == FIX_DAMAGED) say("WS INVALID", ws);
    // A refused line: the tokeniser has reported it.
    return 12;
  }
  // Instances nothing refers to now are freed.
  made.end(ws);
  return 0;
}

// ---- the command ----

int ccopc(const std::uint8_t* text, std::uint32_t length, std::uint16_t flags, int mode, Ws ws) {
  CopyRequest q;
  q.protect = mode & 1;
  q.whole = mode & 2;
  q.quiet = flags & cmdf::Quiet;
  q.flags = flags;
  q.library = rd32(ws, cmdws::Library);
  std::memcpy(q.name, scratch_area(1, ws), sizeof q.name);
  std::memcpy(q.key, ws + cmdws::Key, 8);
  // The list crosses the switch of workspaces in the copy buffer.
  if (length > kListRoom) return copy_buffer_full(ws);
  if (text) std::memcpy(q.list.data(), text, length);
  q.list_length = length;

  force_gcol(ws);
  int answer = 0;
  bool marked = false;
  if (probe_twice(q.library, q.name, q.key, q.flags, &answer, &marked, ws) != 0) return 12;
  if (answer == 0) return say("WS NOT FOUND", ws), 0;
  if (answer == -1) return say("WS LOCKED", ws), 0;

  const std::uint32_t own_library = rd32(ws, hdr::LibraryLoaded);
  // The workspace is also kept in memory: should its temporary image not
  // load back, it is put back from there.
  WorkspaceBackup kept;
  if (!kept.take(ws)) return say("IO ERROR: NOT ENOUGH MEMORY", ws), 12;
  LowGlobals& lg = lowglobals(ws);
  // The current workspace goes to the first temporary.
  lg.extension = kExtAtm;
  const std::uint8_t none[2] = {0, ich::Blank};
  const int saved = sup_save(0, none, 0, ws);
  lg.extension = kExtAws;
  if (saved != 0) {
    remove_temporaries(ws);
    return 12;
  }
  // A source that does not load leaves the workspace as it was.
  if (sup_load(q.library, q.name, q.flags, ws) != 0) {
    remove_temporaries(ws);
    wr32(ws, hdr::LibraryLoaded, own_library);
    return 12;
  }
  CopyProgress p;
  int written = 0;
  try {
    siclr(ws);
    if (!q.quiet) {
      ldprt(utf8_to_internal("SAVED  "), ws);
      fmttd(ws);
      cdisp(kCarriageReturn, ws);
    }
    if (create_seq(temp_path(kExtAff, ws).c_str()) != 0) written = 3;
    else written = write_records(q, p, ws);
  } catch (const AplError&) {
    written = 4;
  }
  if (written != 0) {
    restore_original(kept, own_library, ws);
    if (written == 1 && p.null_class) say("NULL CLASS DEFINITION IN TARGET WS", ws);
    else if (written == 1 || written == 3) print_io_error(ws);
    if (written == 2) c_incorrect(ws);
    if (written == 4) say("WS FULL", ws);
    return written == 2 ? 0 : 12;
  }
  end_line(p.not_found_started, ws);
  if (p.records == 0) {
    restore_original(kept, own_library, ws);
    return 0;
  }
  // Back to the current workspace, the records read into it.
  reload_original(kept, ws);
  wr32(ws, hdr::LibraryLoaded, own_library);
  if (open_seq(temp_path(kExtAff, ws).c_str()) != 0) {
    print_io_error(ws);
    restore_original(kept, own_library, ws);
    return 12;
  }
  set_state(st::Copying, 0, ws);
  int rc = 0;
  try {
    rc = read_records(q, p, kept, own_library, ws);
  } catch (const AplError&) {
    restore_original(kept, own_library, ws);
    say("WS FULL", ws);
    return 12;
  }
  if (rc != 0) return rc;
  set_state(0, st::Copying, ws);
  remove_temporaries(ws);
  end_line(p.not_copied_started, ws);
  if (p.si_damage) say("SI DAMAGE", ws);
  if (p.warnings.reference_nulled) say("Warning: At least one object reference set to NULL (class does not exist)", ws);
  if (p.warnings.property_dropped)
    say("Warning: At least one object property not copied (not valid for class)", ws);
  return 0;
}

int ccopy_args(std::uint16_t flags, Ws ws) { return ccopc(nullptr, 0, flags, 2, ws); }
int cpcopy_args(std::uint16_t flags, Ws ws) { return ccopc(nullptr, 0, flags, 3, ws); }
int ccopy_list(const std::uint8_t* text, std::uint32_t length, std::uint16_t flags, Ws ws) {
  return ccopc(text, length, flags, 0, ws);
}
int cpcopy_list(const std::uint8_t* text, std::uint32_t length, std::uint16_t flags, Ws ws) {
  return ccopc(text, length, flags, 1, ws);
}

}  // namespace

int copy_buffer_full(Ws ws) {
  constexpr std::uint32_t kTrapLine = 0x00FFFFFF;
  if (!(rd32(ws, hdr::TrapWord) & (kTrapLine | kTrapExecAlt | kTrapExecCatch))) say("COPY BUFFER FULL", ws);
  return 12;
}

void install_copy_commands() {
  CommandHandler h;
  h.no_args = ccopy_args;
  set_command_handler(C_COPY_NAME, h);
  h.no_args = cpcopy_args;
  set_command_handler(C_PCOPY_NAME, h);
  CommandHandler l;
  l.text = ccopy_list;
  set_command_handler(C_COPY_LIST, l);
  l.text = cpcopy_list;
  set_command_handler(C_PCOPY_LIST, l);
}

}  // namespace zema
