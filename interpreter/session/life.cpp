// The workspace's life as a whole: clear, resize, packing, paths and the
// internal-failure exit.
#include <algorithm>
#include <cstdio>
#include <cstring>
#include <map>
#include <atomic>
#include <new>
#include <vector>

#include "files/wsfiles.h"
#include "host/charset.h"
#include "host/services.h"
#include "interpreter/engine/sysvars.h"
#include "interpreter/session/life.h"
#include "interpreter/session/ws_dump.h"
#include "interpreter/workspace/entry.h"
#include "interpreter/workspace/errors.h"
#include "interpreter/workspace/heap.h"
#include "interpreter/workspace/support.h"

namespace zema {

namespace {

// The ten system-variable entries of a clear workspace: ⎕LX ⎕IO ⎕PP ⎕PW ⎕RL
// ⎕CT ⎕HT ⎕FC ⎕PR ⎕CS, kind 5, name length 3.
void write_clrsym(Ws ws) {
  static const char* const names[10] = {"LX", "IO", "PP", "PW", "RL", "CT", "HT", "FC", "PR", "CS"};
  static const std::uint32_t values[10] = {0, 1, 10, 80, 0, 0, 0, 0, 0, 0};
  for (int i = 0; i < 10; ++i) {
    std::uint32_t e = sysvar_entry(i);
    std::uint32_t c1 = convert_from_unicode(static_cast<std::uint16_t>(names[i][0]));
    std::uint32_t c2 = convert_from_unicode(static_cast<std::uint16_t>(names[i][1]));
    wr32(ws, e, (3u << 24) | (0x4Cu << 16) | (c1 << 8) | c2);
    wr32(ws, e + 4, values[i]);
    wr8(ws, e + 8, 5);
    wr8(ws, e + 9, 3);
    wr16(ws, e + 10, 0);
    wr32(ws, e + 12, 0);
  }
}

// ⎕CT of a clear workspace: 1E¯13 as an 80-bit extended value.
void write_clear_ct(Ws ws) {
  wr16(ws, hdr::QuadCT, 0x3FD3);
  wr32(ws, hdr::QuadCT + 2, 0xE12E1342u);
  wr32(ws, hdr::QuadCT + 6, 0x4BB40E10u);
}

void set_restart_words(Ws ws) {
  LowGlobals& lg = lowglobals(ws);
  wr32(ws, hdr::ExecRestart, static_cast<std::uint32_t>(low_offset(ws, lg.exec_restart)));
  wr32(ws, hdr::LineRestart, static_cast<std::uint32_t>(low_offset(ws, lg.line_restart)));
}

// The number of the next dump, shared by the process's tasks: ZEMAERR0,
// ZEMAERR1 … (the last character's code stepped from "0").
std::atomic<std::uint32_t> next_dump{0};
// Names tried before a dump is given up (each taken one is skipped).
constexpr int kDumpTries = 64;

}  // namespace

void clear_workspace(Ws ws) {
  LowGlobals& lg = lowglobals(ws);
  tidy_on_clear();
  sup_attn(0, ws);
  std::memset(ws, 0, kHeapStart);

  std::string wsid = utf8_to_internal("CLEAR WS   ");
  wr8(ws, hdr::Wsid, 8);
  std::memcpy(ws + hdr::Wsid + 1, wsid.data(), 11);
  wr16(ws, hdr::State, st::NotFunctionLine);
  wr32(ws, hdr::QuadRL, 16807);
  write_clear_ct(ws);
  wr16(ws, hdr::AttnLevel, 1);
  wr16(ws, hdr::AttnCountdown, 50);
  wr16(ws, hdr::AttnReload, 50);
  wr16(ws, hdr::BucketEntries, kSymtabBuckets * kSymtabBucketSize);
  wr16(ws, hdr::BucketSize, kSymtabBucketSize);
  write_clrsym(ws);
  lg.attn_count = 0;
  lg.extension = kExtAws;
  set_restart_words(ws);

  std::uint32_t s = lg.ws_size;
  wr32(ws, hdr::Top, s);
  wr32(ws, hdr::StackPointer, s - 4);
  wr32(ws, hdr::SiLink, s - 4);
  wr32(ws, s - 4, 0);
  wr32(ws, hdr::HeapTop, kHeapStart);

  wr8(ws, hdr::StepRequest, 0);
  wr32(ws, hdr::ObjectPool, 0);
  wr32(ws, hdr::CurrentInstance, 0);
  wr32(ws, hdr::CallingInstance, 0);
  wr32(ws, hdr::ClassDefining, 0);
  wr32(ws, hdr::SerialHigh, 0);
  wr32(ws, hdr::SerialLow, 0);
  wr16(ws, hdr::ClassWord, 0);
  set_uncollected_garbage_limit(ws);
  wr8(ws, hdr::IntegrityCheck, 0);
  wr32(ws, hdr::HostBlock, 0);
  setup_wstmp_rhos(ws);
  _control87(0x037F, 0xFFFF);

  wr32(ws, sysvar_value_word(sysvar::PW), lg.pw_default);
  wr16(ws, hdr::TermFormat, lg.term_format);
  wr32(ws, sysvar_value_word(sysvar::PR), static_cast<std::uint32_t>(static_cast<std::int32_t>(lg.pr_char)));
  std::memcpy(ws + hdr::SaveName, ws + hdr::Wsid, 9);
}

void sup_clear(Ws ws) {
  clear_workspace(ws);
  LowGlobals& lg = lowglobals(ws);
  if (!(lg.startup_flags & kStartupPending)) {
    std::string clear = utf8_to_internal("CLEAR WS");
    sup_lnout(8, clear.data(), ws);
    sup_new_wsid(ws);
    sup_attn(1, ws);
    sup_snd1c(0x0D, ws);
  } else {
    lg.startup_flags &= static_cast<std::uint8_t>(~kStartupPending);
    sup_attn(1, ws);
  }
  throw EnterImmediate{ws};
}

void resize_ws(std::uint32_t new_size, Ws ws) {
  std::uint8_t* base = nullptr;
  std::uint32_t figure = change_ws_size(new_size, &base);
  // Refused: the workspace stays as it is, in its block.
  if (figure == 0) ws_full(ws);
  Ws nws = base;
  if (nws != ws) {
    SideState side = side_state(ws);
    forget_side_state(ws);
    side_state(nws) = side;
  }
  lowglobals(nws).ws_size = (figure & ~3u) - kLowGlobalsSize;
  wr32(nws, hdr::ObjectPool, 0);
  sup_clear(nws);
}

std::uint32_t pkws(Ws ws) {
  std::uint32_t heap_top = rd32(ws, hdr::HeapTop);
  std::uint32_t sp = rd32(ws, hdr::StackPointer);
  std::uint32_t len = rd32(ws, hdr::Top) - sp;
  std::memmove(ws + heap_top, ws + sp, len);
  return heap_top + len;
}

void unpkws(Ws ws) {
  std::uint32_t heap_top = rd32(ws, hdr::HeapTop);
  std::uint32_t sp = rd32(ws, hdr::StackPointer);
  std::uint32_t len = rd32(ws, hdr::Top) - sp;
  std::memmove(ws + sp, ws + heap_top, len);
}

std::uint32_t libset(std::uint32_t library, Ws ws) {
  LowGlobals& lg = lowglobals(ws);
  char* path = reinterpret_cast<char*>(lg.path);
  if (library == 99) {
    path[0] = '~';
    path[1] = '/';
    path[2] = 0;
  } else {
    library_to_path(library, library <= 9 ? lowglobals(ws).mount[library] : nullptr, path);
  }
  return static_cast<std::uint32_t>(std::strlen(path));
}

const char* wsset_temp(Ws ws) {
  LowGlobals& lg = lowglobals(ws);
  const SideState& side = side_state(ws);
  const std::string& name = lg.extension == kExtAtm ? side.temp_name1 : side.temp_name2;
  std::size_t n = std::min(name.size(), sizeof lg.path - 1);
  std::memcpy(lg.path, name.data(), n);
  lg.path[n] = 0;
  return reinterpret_cast<const char*>(lg.path);
}

const char* mvwsid(std::uint32_t start, std::uint32_t flags, const std::uint8_t* name, Ws ws) {
  LowGlobals& lg = lowglobals(ws);
  bool whole = flags & 0x8000;
  std::size_t at = std::min<std::size_t>(start, sizeof lg.path - 1);
  // Room is left for the extension and the terminating NUL.
  std::size_t room = sizeof lg.path - 1 - (whole ? 0 : 4);
  for (std::size_t i = 0; i < name[0] && at < room; ++i) lg.path[at++] = fontout(name[1 + i]);
  if (!whole) {
    for (int shift = 24; shift >= 0; shift -= 8) lg.path[at++] = static_cast<std::uint8_t>(lg.extension >> shift);
  }
  lg.path[at] = 0;
  return reinterpret_cast<const char*>(lg.path);
}

const char* wsset(std::uint32_t library, std::uint32_t flags, const std::uint8_t* name, Ws ws) {
  LowGlobals& lg = lowglobals(ws);
  if (lg.extension == kExtAtm || lg.extension == kExtAff) return wsset_temp(ws);
  std::uint32_t start = (flags & 0x8000) ? 0 : libset(library, ws);
  return mvwsid(start, flags, name, ws);
}

void system_error(const char* file, int line, Ws ws) {
  const char* base = std::strrchr(file, '/');
  base = base ? base + 1 : file;
  char location[256];
  std::snprintf(location, sizeof location, "Location: %s[%d]", base, line);
  location[200] = 0;
  std::memset(ws + hdr::SyserLocation, 0, 201);
  std::memcpy(ws + hdr::SyserLocation, location, std::strlen(location));

  // Each dump takes a number of its own and a file that did not exist: two
  // tasks failing at once never write over each other's dump.
  // The dump holds the user's work as immediate execution would, so that
  // )LOAD takes it back; a workspace that no longer passes a load's checks
  // is dumped as it stands.
  LowGlobals& lg = lowglobals(ws);
  {
    const std::uint32_t heap = rd32(ws, hdr::HeapTop), sp = rd32(ws, hdr::StackPointer), top = rd32(ws, hdr::Top);
    std::vector<std::uint8_t> as_it_stood;
    if (heap <= sp && sp <= top && top <= lg.ws_size) {
      try {
        as_it_stood.assign(ws, ws + heap);
        as_it_stood.insert(as_it_stood.end(), ws + sp, ws + top);
      } catch (const std::bad_alloc&) {
        as_it_stood.clear();
      }
    }
    if (!as_it_stood.empty() && !make_dump_loadable(ws)) {
      std::memcpy(ws, as_it_stood.data(), heap);
      std::memcpy(ws + sp, as_it_stood.data() + heap, top - sp);
    }
  }
  const std::uint32_t len = pkws(ws);
  for (int attempt = 0; attempt < kDumpTries; ++attempt) {
    const std::uint32_t n = next_dump.fetch_add(1);
    std::uint8_t name[9];
    name[0] = 8;
    std::string internal = utf8_to_internal("ZEMAERR");
    std::memcpy(name + 1, internal.data(), 7);
    name[8] = fontin(static_cast<std::uint8_t>('0' + n % 75));
    lg.extension = kExtDmp;
    const std::string path = wsset(0, 0, name, ws);
    lg.extension = kExtAws;
    if (create_ws_exclusive(path.c_str(), len, ws) != 2) break;
  }
  unpkws(ws);

  print_message(utf8_to_internal("SYSTEM ERROR"), ws);
  print_message(utf8_to_internal(location), ws);
  sup_clear(ws);
}

}  // namespace zema
