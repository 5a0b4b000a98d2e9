// Workspaces on disk: load (checked in memory of its own, installed only
// when sound), save, probe, drop and the library listing.
#include "interpreter/session/ws_image.h"

#include <cstring>
#include <string>

#include "files/read_guard.h"
#include "files/wsfiles.h"
#include "host/charset.h"
#include "host/services.h"
#include "interpreter/engine/sysvars.h"
#include "interpreter/session/life.h"
#include "interpreter/session/load_check.h"
#include "interpreter/session/ws_backup.h"
#include "interpreter/workspace/entry.h"
#include "interpreter/workspace/errors.h"
#include "interpreter/workspace/heap.h"
#include "interpreter/workspace/integrity.h"
#include "interpreter/workspace/sysvar_slots.h"

namespace zema {

namespace {

// The name word of ⎕IO (symbol entry 1) in this machine's byte order, and
// as an image of the other byte order shows it.
constexpr std::uint32_t kByteOrderMark = 0x034C696F;
constexpr std::uint32_t kByteOrderMarkSwapped = 0x6F694C03;
constexpr std::uint32_t kByteOrderMarkAt = kSymtabStart + kSymtabEntrySize;
constexpr std::uint16_t kImageVersion = 700;
// The header words that say where the session's output stands: output
// and caret columns, output line count, caret line.
constexpr std::uint32_t kTerminalWordsEnd = hdr::CaretLine + 2;
// A frame's saved stack pointer lies this many bytes below its link word.
constexpr std::uint32_t kFrameSavedSp = 24;

std::uint32_t img32(const std::uint8_t* image, std::uint32_t at) {
  std::uint32_t v;
  std::memcpy(&v, image + at, 4);
  return v;
}

// The header words that the check of an image relies on, as found at
// `base`: an image, or the block once the image is copied in.
struct CheckedWords {
  std::uint32_t mark, heap_top, top, sp, si_link;
  std::uint16_t version, buckets, bucket_size;
  bool operator==(const CheckedWords&) const = default;
};

CheckedWords checked_words(const std::uint8_t* base) {
  CheckedWords w{};
  w.mark = img32(base, kByteOrderMarkAt);
  w.heap_top = img32(base, hdr::HeapTop);
  w.top = img32(base, hdr::Top);
  w.sp = img32(base, hdr::StackPointer);
  w.si_link = img32(base, hdr::SiLink);
  std::memcpy(&w.version, base + hdr::Version, 2);
  std::memcpy(&w.buckets, base + hdr::BucketEntries, 2);
  std::memcpy(&w.bucket_size, base + hdr::BucketSize, 2);
  return w;
}

// The chain of link words of a stack from `sp` to `top` whose bytes are at
// `segment`, starting at `link`: each inside the segment, above its frame's
// saved stack pointer, and each next one further up; it must end.
bool chain_sound(const std::uint8_t* segment, std::uint32_t sp, std::uint32_t top, std::uint32_t link) {
  if (link < sp || link > top - 4) return false;
  for (;;) {
    const std::uint32_t next = img32(segment, link - sp);
    if (next == 0) return true;
    if (link - sp < kFrameSavedSp || next <= link || next > top - 4) return false;
    link = next;
  }
}

// Where the image's stack segment goes, worked out before anything moves,
// and the words it was worked out from.
struct Placement {
  std::uint32_t heap_top, length, segment, new_top;
  std::int64_t shift;
  CheckedWords words;
};

// Checks what can be checked of the image before it touches the workspace:
// marks, table sizes, heap top, the stack segment against the saved top
// and stack pointer, and the state-indicator chain inside the segment.
int check_image(const std::uint8_t* image, std::uint32_t length, std::uint32_t size, Placement& p) {
  if (length > size) return IR_TOO_LARGE;
  if (length < kHeapStart + 4) return IR_INVALID;
  const CheckedWords w = checked_words(image);
  p.words = w;
  if (w.mark != kByteOrderMark) return IR_INVALID;  // the other byte order is not converted yet
  if (w.version > kImageVersion || w.buckets == 0 || w.buckets > kMaxBucketEntries ||
      w.buckets % kSymtabBuckets != 0 || w.bucket_size != w.buckets / kSymtabBuckets)
    return IR_INVALID;
  const std::uint32_t heap_top = w.heap_top, top = w.top, sp = w.sp;
  // A saved top equal to the saved stack pointer: an image without the
  // stack segment, taken as an empty stack (its sentinel is written anew).
  const bool no_segment = top == sp;
  if (heap_top < kHeapStart || heap_top > length - (no_segment ? 0 : 4) || (heap_top & 3) != 0) return IR_INVALID;
  const std::uint32_t segment = length - heap_top;
  if (no_segment) {
    if (segment != 0 || top < length || (top & 3) != 0) return IR_INVALID;
    p.heap_top = heap_top;
    p.length = length;
    p.segment = 0;
    p.new_top = size & ~3u;
    p.shift = 0;
    return IR_OK;
  }
  // Stack entries are 6 bytes long: the stack pointer, and the link words
  // of frames opened above an odd number of entries, need not be aligned.
  if (top < segment || top - segment != sp || top < length || (top & 3) != 0) return IR_INVALID;
  const bool empty = segment == 4;
  p.heap_top = heap_top;
  p.length = length;
  p.segment = segment;
  if (size < top || empty) {
    p.new_top = size & ~3u;
    p.shift = static_cast<std::int64_t>(p.new_top) - top;
  } else {
    p.new_top = top;
    p.shift = 0;
  }
  return chain_sound(image + heap_top, sp, top, w.si_link) ? IR_OK : IR_INVALID;
}

// The image was read a second time by the copy: it must still be the one
// that was checked (another process may have written to a mapped file in
// the meantime).
bool copy_is_checked_image(const Placement& p, std::uint32_t new_sp, Ws ws) {
  if (!(checked_words(ws) == p.words)) return false;
  return p.segment == 0 || chain_sound(ws + new_sp, p.words.sp, p.words.top, p.words.si_link);
}

// After the stack segment moved by `d`: every heap object whose owner slot
// lay in the segment (a stack entry, a word or saved local of a frame) is told where its
// slot is now. The walk stops at the first object that does not chain; the
// integrity check then refuses the image.
void relocate_stack_owners(std::uint32_t old_sp, std::uint32_t old_top, std::uint32_t d, Ws ws) {
  const std::uint32_t heap_top = rd32(ws, hdr::HeapTop);
  std::uint64_t off = kSymtabStart + kSymtabEntrySize * std::uint64_t(kSymtabEntries) + 4;
  while (off + 8 <= heap_top) {
    const std::uint32_t size = rd32(ws, static_cast<std::uint32_t>(off) + obj::Size);
    if (size < 12 || (size & 3) || off + size + 4 > heap_top) return;
    const std::uint8_t kind_byte = rd8(ws, static_cast<std::uint32_t>(off));
    const std::uint32_t kind = kind_byte & 0x0F;
    if (!(kind_byte & kReleased) && (kind == OK_WORD || kind == OK_STACK || kind == OK_SYMBOL)) {
      const std::uint32_t owner = rd32(ws, static_cast<std::uint32_t>(off) - 4);
      const std::uint64_t place = std::uint64_t(owner) + kind;
      if (place >= old_sp && place < old_top) wr32(ws, static_cast<std::uint32_t>(off) - 4, owner + d);
    }
    off += size + 4;
  }
}

// The words a load sets for this process and session (they hold offsets of
// LowGlobals or session settings, never anything the image decides).
void set_session_words(std::uint32_t library, bool keep_integrity_switch, Ws ws) {
  LowGlobals& lg = lowglobals(ws);
  wr32(ws, hdr::ExecRestart, static_cast<std::uint32_t>(low_offset(ws, lg.exec_restart)));
  wr32(ws, hdr::LineRestart, static_cast<std::uint32_t>(low_offset(ws, lg.line_restart)));
  wr32(ws, hdr::LoadedWsSize, lg.ws_size);
  const std::uint16_t version = rd16(ws, hdr::Version);
  if (version != 0 && version < kImageVersion) {
    wr16(ws, hdr::ClassWord, 0);
    for (std::uint32_t w = hdr::ObjectPool; w <= hdr::ClassDefining; w += 4) wr32(ws, w, 0);
  }
  wr32(ws, sysvar_value_word(sysvar::PW), lg.pw_default);
  wr16(ws, hdr::TermFormat, lg.term_format);
  wr8(ws, hdr::StepRequest, 0);
  wr32(ws, hdr::LibraryLoaded, library);
  if (!keep_integrity_switch) wr8(ws, hdr::IntegrityCheck, 0);
  wr32(ws, hdr::HostBlock, 0);
  setup_wstmp_rhos(ws);
  set_uncollected_garbage_limit(ws);
  _control87(0x037F, 0xFFFF);
}

std::string path_of(std::uint32_t library, const std::uint8_t* name, std::uint32_t flags, Ws ws) {
  return wsset(library, flags, name, ws);
}

void print_text(const char* utf8, Ws ws) { print_message(utf8_to_internal(utf8), ws); }

}  // namespace

void print_io_error(Ws ws) { print_message(utf8_to_internal("IO ERROR: ") + error_text(latest_error()), ws); }

int install_image(const std::uint8_t* image, std::uint32_t length, std::uint32_t library, bool keep_integrity_switch,
                  Ws ws) {
  // Every read of the image is guarded: a mapped file may shrink under it.
  const std::uint32_t size = lowglobals(ws).ws_size;
  Placement p{};
  int checked = IR_INVALID;
  auto check = [&] { checked = check_image(image, length, size, p); };
  if (guarded_read(image, length, check) != 0) return IR_INVALID;
  if (checked != IR_OK) return checked;
  const std::uint32_t new_sp = p.segment == 0 ? p.new_top - 4 : p.new_top - p.segment;
  // Where the session's output stands is the terminal's, not the image's.
  std::uint8_t terminal[kTerminalWordsEnd - hdr::OutColumn];
  std::memcpy(terminal, ws + hdr::OutColumn, sizeof terminal);
  WorkspaceBackup backup;
  if (!backup.take_overwritten(ws, p.heap_top, new_sp, p.new_top)) return IR_NO_MEMORY;

  auto copy = [&] {
    std::memcpy(ws, image, p.heap_top);
    std::memcpy(ws + new_sp, image + p.heap_top, p.segment);
  };
  if (guarded_read(image, length, copy) != 0 || !copy_is_checked_image(p, new_sp, ws)) {
    backup.restore(ws);
    return IR_INVALID;
  }
  const std::uint32_t d = static_cast<std::uint32_t>(p.shift);  // modulo 2^32
  wr32(ws, hdr::Top, p.new_top);
  wr32(ws, hdr::StackPointer, new_sp);
  wr32(ws, hdr::SiLink, p.segment == 0 ? new_sp : rd32(ws, hdr::SiLink) + d);
  wr32(ws, p.new_top - 4, 0);
  if (p.shift != 0) {
    if (p.shift < 0) wr16(ws, hdr::Version, 0);
    relocate_stack_owners(p.words.top - p.segment, p.words.top, d, ws);
    for (std::uint32_t link = rd32(ws, hdr::SiLink); rd32(ws, link) != 0; link = rd32(ws, link)) {
      wr32(ws, link, rd32(ws, link) + d);
      wr32(ws, link - kFrameSavedSp, rd32(ws, link - kFrameSavedSp) + d);
    }
  }
  set_session_words(library, keep_integrity_switch, ws);
  std::memcpy(ws + hdr::OutColumn, terminal, sizeof terminal);
  if (check_integrity(ws) != IF_OK || check_loaded_image(ws) != 0) {
    backup.restore(ws);
    return IR_INVALID;
  }
  return IR_OK;
}

int sup_load(std::uint32_t library, const std::uint8_t* name, std::uint32_t flags, Ws ws) {
  LowGlobals& lg = lowglobals(ws);
  const bool temporary = lg.extension == kExtAtm;
  const std::string path = path_of(library, name, flags, ws);
  WsImage image;
  switch (map_ws_whole(path.c_str(), lg.ws_size, image)) {
    case 0: break;
    case 9: print_text("IO ERROR: WORKSPACE TOO LARGE", ws); return 4;
    case 7: print_text("WS INVALID", ws); return 4;
    case 68: print_text("IO ERROR: NOT ENOUGH MEMORY", ws); return 4;
    default: print_io_error(ws); return 4;
  }
  const std::uint32_t stored_library = lg.extension == kExtAws ? library : 0;
  switch (install_image(image.data(), image.length, stored_library, temporary, ws)) {
    case IR_OK: return 0;
    case IR_TOO_LARGE: print_text("IO ERROR: WORKSPACE TOO LARGE", ws); return 4;
    case IR_NO_MEMORY: print_text("IO ERROR: NOT ENOUGH MEMORY", ws); return 4;
    default: print_text("WS INVALID", ws); return 4;
  }
}

int sup_save(std::uint32_t library, const std::uint8_t* name, std::uint32_t flags, Ws ws) {
  const std::string path = path_of(library, name, flags, ws);
  const std::uint32_t length = pkws(ws);
  const int rc = write_ws(path.c_str(), length, ws);
  unpkws(ws);
  if (rc != 0) {
    print_io_error(ws);
    return 4;
  }
  return 0;
}

int sup_wsfnd(std::uint32_t library, const std::uint8_t* name, const std::uint8_t* key, std::uint32_t flags,
              int* answer, Ws ws) {
  LowGlobals& lg = lowglobals(ws);
  const std::string path = path_of(library, name, flags, ws);
  switch (read_ws(path.c_str(), sizeof lg.probe, lg.probe)) {
    case 0: break;
    case 1: *answer = 0; return 0;
    case 7: print_text("FILE FORMAT NOT RECOGNIZED", ws); return 4;
    default: print_io_error(ws); *answer = 13; return 4;
  }
  *answer = std::memcmp(lg.probe + hdr::WsLock, key, 8) == 0 ? 1 : -1;
  return 0;
}

int sup_drop(std::uint32_t library, const std::uint8_t* name, std::uint32_t flags, Ws ws) {
  const std::string path = path_of(library, name, flags, ws);
  if (delete_ws(path.c_str()) == 3) {
    print_io_error(ws);
    return 4;
  }
  return 0;
}

int sup_lib(std::uint32_t library, int option, const std::uint8_t* directory, Ws ws) {
  std::string dir;
  if (directory && directory[0] != 0) {
    for (std::uint32_t i = 0; i < directory[0]; ++i) dir.push_back(static_cast<char>(fontout(directory[1 + i])));
  } else {
    libset(library, ws);
    dir = reinterpret_cast<const char*>(lowglobals(ws).path);
  }
  std::string lines;
  const std::int32_t pw = static_cast<std::int32_t>(rd32(ws, sysvar_value_word(sysvar::PW)));
  const int rc = list_lib(dir.c_str(), option, pw, lines);
  if (rc != 0) {
    if (rc == 68) print_text("IO ERROR: NOT ENOUGH MEMORY", ws);
    else print_io_error(ws);
    return 4;
  }
  // Each line of the listing ends with a carriage return.
  std::size_t start = 0;
  for (std::size_t i = 0; i < lines.size(); ++i) {
    if (lines[i] != '\r' && static_cast<std::uint8_t>(lines[i]) != 0x0D) continue;
    sup_lnout(static_cast<int>(i - start), lines.data() + start, ws);
    sup_snd1c(0x0D, ws);
    start = i + 1;
  }
  return 0;
}

}  // namespace zema
