// The workspace commands: load, save, drop, library listing, continue,
// clear, off and the workspace's name, with their passwords and stamps.
#include "interpreter/session/ws_commands.h"

#include <cstring>
#include <string>

#include "host/charset.h"
#include "host/services.h"
#include "interpreter/engine/statement_end.h"
#include "interpreter/engine/sysvars.h"
#include "interpreter/output/display.h"
#include "interpreter/reader/tokeniser.h"
#include "interpreter/session/definition.h"
#include "interpreter/session/life.h"
#include "interpreter/session/ws_image.h"
#include "interpreter/sysfns/commands.h"
#include "interpreter/workspace/entry.h"
#include "interpreter/workspace/heap.h"
#include "interpreter/workspace/support.h"
#include "interpreter/workspace/sysvar_slots.h"

namespace zema {

namespace {

constexpr std::uint8_t kKeyMark = 0x02;  // in the key's eighth byte
constexpr std::uint32_t kFullNameRoom = 255;
constexpr std::uint32_t kShortIdRoom = 11;

// The parsed argument of a workspace-name form.
struct Argument {
  std::uint16_t flags;
  std::uint8_t* name;  // length byte, characters, a blank (scratch area 1)
  std::uint8_t* key;   // 8 bytes in the workspace (cmdws::Key)
  std::uint32_t library;
};

Argument cprmfx(Ws ws) {
  return {rd16(ws, cmdws::Flags), scratch_area(1, ws), ws + cmdws::Key, rd32(ws, cmdws::Library)};
}

bool quiet(std::uint16_t flags) { return flags & cmdf::Quiet; }

void say(const std::string& utf8, Ws ws) {
  ldprt(utf8_to_internal(utf8), ws);
  cdisp(0x0D, ws);
}

bool path_char(std::uint8_t c) { return c == ich::Colon || c == 0x5C || c == 0x2F; }

std::uint16_t path_flag(const std::uint8_t* name) {
  for (std::uint32_t i = 0; i < name[0]; ++i)
    if (path_char(name[1 + i])) return cmdf::Path;
  return 0;
}

// The workspace's identity as )WSID shows it: the library number and a
// blank when it is not 0, then the full name (internal characters).
std::string identity(Ws ws) {
  std::string s;
  if (const std::uint32_t lib = rd32(ws, hdr::LibraryLoaded)) s = utf8_to_internal(std::to_string(lib) + " ");
  s.append(reinterpret_cast<const char*>(ws + hdr::SaveName + 1), rd8(ws, hdr::SaveName));
  return s;
}

void say_identity(const std::string& prefix_utf8, Ws ws) {
  ldprt(utf8_to_internal(prefix_utf8) + identity(ws), ws);
  cdisp(0x0D, ws);
}

// The full name from the name buffer; the short identity is the part after
// the last ":", "\" or "/", at most 11 characters.
void copy_wsid_name(const std::uint8_t* name, Ws ws) {
  const std::uint32_t n = std::min<std::uint32_t>(name[0], kFullNameRoom);
  wr8(ws, hdr::SaveName, static_cast<std::uint8_t>(n));
  std::memcpy(ws + hdr::SaveName + 1, name + 1, n);
  std::uint32_t start = n;
  while (start > 0 && !path_char(name[start])) --start;
  const std::uint32_t k = std::min(n - start, kShortIdRoom);
  std::memset(ws + hdr::Wsid, ich::Blank, 1 + kShortIdRoom);
  wr8(ws, hdr::Wsid, static_cast<std::uint8_t>(k));
  std::memcpy(ws + hdr::Wsid + 1, name + 1 + start, k);
}

// Names the workspace after the parsed argument: library, names, key.
void cmwsid(const Argument& a, Ws ws) {
  wr32(ws, hdr::LibraryLoaded, a.library);
  copy_wsid_name(a.name, ws);
  std::memcpy(ws + hdr::WsLock, a.key, 8);
  if (!quiet(a.flags)) sup_new_wsid(ws);
}

void stamp_now(Ws ws) {
  std::uint32_t date = 0;
  wr32(ws, hdr::SaveTime, sup_tds(&date, ws));
  wr32(ws, hdr::SaveDate, date);
}

// "SAVED  " and the stamp of the loaded workspace.
void cptsvd(std::uint16_t flags, Ws ws) {
  if (quiet(flags)) return;
  ldprt(utf8_to_internal("SAVED  "), ws);
  fmttd(ws);
  cdisp(0x0D, ws);
}

// The save itself, under the full name and library of the workspace:
// stamp, marks, a compacted heap, the write; then the stamp line (mode 0:
// with the identity). 0 or 12.
int csavm2(int mode, std::uint16_t flags, Ws ws) {
  if (rd32(ws, hdr::ClassDefining) != 0) {
    print_message(utf8_to_internal("NOT WITH OPEN CLASS DEFINITION"), ws);
    return 12;
  }
  stamp_now(ws);
  wr16(ws, hdr::Version, 700);
  wr16(ws, hdr::Marker1, rd32(ws, hdr::ObjectPool) ? 0x3333 : 0x3232);
  wr16(ws, hdr::Marker2, 0x03F3);
  force_gcol(ws);
  std::uint8_t full[1 + kFullNameRoom + 1];
  std::memcpy(full, ws + hdr::SaveName, 1 + kFullNameRoom);
  wr8(ws, hdr::MiscBits, rd8(ws, hdr::MiscBits) | cmdws::kFileOperation);
  const int rc = sup_save(rd32(ws, hdr::LibraryLoaded), full, path_flag(full), ws);
  wr8(ws, hdr::MiscBits, rd8(ws, hdr::MiscBits) & ~cmdws::kFileOperation);
  if (rc != 0) return 12;
  if (quiet(flags)) return 0;
  fmttd(ws);
  if (mode == 0) ldprt(utf8_to_internal(" ") + identity(ws), ws);
  cdisp(0x0D, ws);
  return 0;
}

void say_locked_not_saved(Ws ws) { say("NOT SAVED, WS LOCKED", ws); }

// The guarded save: the key given (marked in place) and then the parsed key
// unmarked must fit a file that exists.
int csav00(int mode, std::uint8_t* key, Ws ws) {
  Argument a = cprmfx(ws);
  key[7] |= kKeyMark;
  int answer = 0;
  if (sup_wsfnd(a.library, a.name, key, a.flags, &answer, ws) != 0) return 12;
  if (answer == -1) {
    a = cprmfx(ws);
    std::uint8_t plain[8];
    std::memcpy(plain, a.key, 8);
    plain[7] &= static_cast<std::uint8_t>(~kKeyMark);
    if (sup_wsfnd(a.library, a.name, plain, a.flags, &answer, ws) != 0) return 12;
    if (answer == -1) {
      say_locked_not_saved(ws);
      return 12;
    }
  }
  return csavm2(mode, a.flags, ws);
}

// Makes the text (at most the probe buffer's size) the next input line of
// the immediate-execution loop. It lies in the probe buffer, which nothing
// uses before the loop has tokenised the line.
void queue_line(const char* utf8, Ws ws) {
  LowGlobals& lg = lowglobals(ws);
  const std::string line = utf8_to_internal(utf8);
  std::memcpy(lg.probe, line.data(), line.size());
  wr32(ws, hdr::PendingAddress, static_cast<std::uint32_t>(low_offset(ws, lg.probe)));
  wr32(ws, hdr::PendingLength, static_cast<std::uint32_t>(line.size()));
}

int refused(Ws ws) {
  wr8(ws, hdr::MiscBits, rd8(ws, hdr::MiscBits) & ~cmdws::kFileOperation);
  return 12;
}

// ---- the handlers ----

int cload_args(std::uint16_t, Ws ws) {
  Argument a = cprmfx(ws);
  std::uint8_t name[257];
  std::memcpy(name, a.name, sizeof name);
  int answer = 0;
  bool marked = false;
  if (probe_twice(a.library, name, a.key, a.flags, &answer, &marked, ws) != 0) return refused(ws);
  if (answer == 0) {
    say("WS NOT FOUND", ws);
    return refused(ws);
  }
  if (answer == -1) {
    say("WS LOCKED", ws);
    return refused(ws);
  }
  const std::uint16_t flags = a.flags;
  const std::uint32_t library = a.library;
  // A load asked for by ⍎ (or ⎕EA, ⎕EC) hands on to the program of the
  // loaded workspace, not to its latent expression.
  const bool from_execute = state_has(st::ExecuteRunning, ws);
  // The old workspace stays until the new one has been read and checked.
  if (sup_load(library, name, flags, ws) != 0) return refused(ws);
  kill_syscmd_output();
  std::memcpy(scratch_area(1, ws), name, sizeof name);
  std::memset(ws + hdr::TokenRegister, 0, 6);
  wr16(ws, cmdws::Flags, flags);
  sup_attn(rd16(ws, hdr::AttnLevel), ws);
  sup_qpr(static_cast<std::int16_t>(rdi32(ws, sysvar_value_word(sysvar::PR))), ws);
  if (rd16(ws, hdr::Version) == 0) siclr(ws);
  cptsvd(flags, ws);
  wr32(ws, hdr::LibraryLoaded, library);
  copy_wsid_name(name, ws);
  if (!quiet(flags)) sup_new_wsid(ws);
  // Reached from ⍎: the loaded workspace's program (one saved by a
  // ⍎')SAVE' of its own) goes on at its next line; a workspace without
  // one is left in immediate execution. Else the latent expression runs
  // next, as if typed, unless the loaded workspace has a definition open
  // or an )XLOAD finds attention on.
  const bool xload_held = (flags & cmdf::ExecuteLoad) && rd16(ws, hdr::AttnLevel) != 0;
  if (from_execute) {
    queue_line("→⎕CL+1", ws);
  } else if (!state_has(st::Defining, ws) && !xload_held) {
    latent_expression_starting(rd32(ws, hdr::ErrorMessage));
    queue_line("⍎⎕LX", ws);
  }
  throw EnterImmediate{ws};
}

int csave_args(std::uint16_t, Ws ws) {
  Argument a = cprmfx(ws);
  const bool same = a.name[0] == rd8(ws, hdr::SaveName) &&
                    std::memcmp(a.name + 1, ws + hdr::SaveName + 1, a.name[0]) == 0 &&
                    a.library == rd32(ws, hdr::LibraryLoaded);
  if (same) {
    cmwsid(a, ws);
    return csav00(1, ws + cmdws::Key, ws);
  }
  int answer = 0;
  bool marked = false;
  if (probe_twice(a.library, a.name, a.key, a.flags, &answer, &marked, ws) != 0) return refused(ws);
  if (answer == 1) {
    say_identity("NOT SAVED, THIS WS IS ", ws);
    return refused(ws);
  }
  if (answer == -1) {
    say_locked_not_saved(ws);
    return refused(ws);
  }
  // A new file: it keeps the key in the form of the first probe (marked).
  a.key[7] |= kKeyMark;
  cmwsid(a, ws);
  return csavm2(1, a.flags, ws);
}

int csave_no_args(std::uint16_t flags, Ws ws) {
  std::uint8_t* buffer = scratch_area(1, ws);
  const std::uint32_t n = rd8(ws, hdr::SaveName);
  std::memcpy(buffer, ws + hdr::SaveName, 1 + n);
  buffer[1 + n] = ich::Blank;
  flags = static_cast<std::uint16_t>((flags & ~cmdf::Path) | path_flag(buffer));
  wr16(ws, cmdws::Flags, flags);
  std::memcpy(ws + cmdws::Key, ws + hdr::WsLock, 8);
  wr32(ws, cmdws::Library, rd32(ws, hdr::LibraryLoaded));
  if (n == 8 && buffer[1 + 5] == ich::Blank) {
    say_identity("NOT SAVED, THIS WS IS ", ws);
    return refused(ws);
  }
  return csav00(0, ws + hdr::WsLock, ws);
}

int cdrop_args(std::uint16_t, Ws ws) {
  const Argument a = cprmfx(ws);
  int answer = 0;
  bool marked = false;
  if (probe_twice(a.library, a.name, a.key, a.flags, &answer, &marked, ws) != 0) return refused(ws);
  if (answer == 0) {
    say("WS NOT FOUND", ws);
    return refused(ws);
  }
  if (answer == -1) {
    say("WS LOCKED", ws);
    return refused(ws);
  }
  if (sup_drop(a.library, a.name, a.flags, ws) != 0) return refused(ws);
  if (!quiet(a.flags)) {
    stamp_now(ws);
    fmttd(ws);
    cdisp(0x0D, ws);
  }
  return 0;
}

int clib_no_args(std::uint16_t, Ws ws) {
  const std::uint8_t none[1] = {0};
  return sup_lib(0, 0, none, ws) == 0 ? 0 : refused(ws);
}

int clib_args(std::uint16_t flags, Ws ws) {
  const Argument a = cprmfx(ws);
  const std::uint8_t none[1] = {0};
  int rc;
  if (a.name[0] == 0) rc = sup_lib(a.library, 0, none, ws);
  else if (a.name[0] == 1 && (flags & cmdf::LibraryGiven)) rc = sup_lib(a.library, a.name[1], none, ws);
  else rc = sup_lib(a.library, 0, a.name, ws);
  return rc == 0 ? 0 : refused(ws);
}

[[noreturn]] void end_session(Ws ws) {
  siclr(ws);
  kill_syscmd_output();
  sup_off();
}

int ccont_no_args(std::uint16_t flags, Ws ws) {
  wr32(ws, hdr::LibraryLoaded, 0);
  const std::string name = utf8_to_internal("CONTINUE");
  wr8(ws, hdr::SaveName, static_cast<std::uint8_t>(name.size()));
  std::memcpy(ws + hdr::SaveName + 1, name.data(), name.size());
  // A session whose work could not be saved does not end.
  if (csavm2(0, flags, ws) != 0) return refused(ws);
  end_session(ws);
}

int cclear_no_args(std::uint16_t, Ws ws) {
  siclr(ws);
  kill_syscmd_output();
  sup_clear(ws);
}

int cclear_args(std::int32_t bytes, std::uint16_t flags, Ws ws) {
  if (bytes == 0) return cclear_no_args(flags, ws);
  siclr(ws);
  kill_syscmd_output();
  resize_ws(static_cast<std::uint32_t>(bytes), ws);
}

int coff_no_args(std::uint16_t, Ws ws) { end_session(ws); }

int cwsid_no_args(std::uint16_t, Ws ws) {
  say_identity("", ws);
  return 0;
}

int cwsid_args(std::uint16_t, Ws ws) {
  const Argument a = cprmfx(ws);
  if (!quiet(a.flags)) say_identity("WAS ", ws);
  cmwsid(a, ws);
  return 0;
}

}  // namespace

int probe_twice(std::uint32_t library, const std::uint8_t* name, const std::uint8_t* key, std::uint16_t flags,
                int* answer, bool* marked, Ws ws) {
  std::uint8_t k[8];
  std::memcpy(k, key, 8);
  k[7] |= kKeyMark;
  if (sup_wsfnd(library, name, k, flags, answer, ws) != 0) return 12;
  *marked = *answer != -1;
  if (*answer != -1) return 0;
  std::memcpy(k, key, 8);
  k[7] &= static_cast<std::uint8_t>(~kKeyMark);
  return sup_wsfnd(library, name, k, flags, answer, ws) != 0 ? 12 : 0;
}

void install_workspace_commands() {
  auto none = [](CmdNoArgs f) {
    CommandHandler h;
    h.no_args = f;
    return h;
  };
  CommandHandler size;
  size.number = cclear_args;
  set_command_handler(C_LOAD_NAME, none(cload_args));
  set_command_handler(C_SAVE, none(csave_no_args));
  set_command_handler(C_SAVE_NAME, none(csave_args));
  set_command_handler(C_DROP_NAME, none(cdrop_args));
  set_command_handler(C_LIB, none(clib_no_args));
  set_command_handler(C_LIB_NAME, none(clib_args));
  set_command_handler(C_CONT, none(ccont_no_args));
  set_command_handler(C_CLEAR, none(cclear_no_args));
  set_command_handler(C_CLEAR_SIZE, size);
  set_command_handler(C_OFF, none(coff_no_args));
  set_command_handler(C_WSID, none(cwsid_no_args));
  set_command_handler(C_WSID_NAME, none(cwsid_args));
}

}  // namespace zema
