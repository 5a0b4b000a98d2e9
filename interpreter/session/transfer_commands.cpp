// )IN and )OUT: transfer files read and written through ⎕TF.
#include "interpreter/session/transfer_commands.h"

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "files/transfer_records.h"
#include "files/wsfiles.h"
#include "interpreter/engine/evaluation.h"
#include "host/charset.h"
#include "interpreter/output/display.h"
#include "interpreter/reader/tokeniser.h"
#include "interpreter/session/copy_commands.h"
#include "interpreter/session/copy_objects.h"
#include "interpreter/session/life.h"
#include "interpreter/session/ws_image.h"
#include "interpreter/sysfns/capture.h"
#include "interpreter/sysfns/commands.h"
#include "interpreter/sysfns/dispatch.h"
#include "interpreter/sysfns/handlers.h"
#include "interpreter/sysfns/names.h"
#include "interpreter/workspace/arrays.h"
#include "interpreter/workspace/entry.h"
#include "interpreter/workspace/errors.h"
#include "interpreter/workspace/heap.h"
#include "interpreter/workspace/stack.h"
#include "interpreter/workspace/symtab.h"

namespace zema {

namespace {

using transfer::kDataColumns;
using transfer::kRecordBytes;

constexpr int kFailed = 12;
constexpr std::uint32_t kListRoom = 512;     // characters of a name list
constexpr std::uint32_t kRecordRoom = 256;   // kept above the text read so far
constexpr std::uint32_t kMinFree = 500;      // then at least this to the stack
constexpr int kNoSuchFile = 1;
constexpr int kIoError = 3;
constexpr int kEndOfFile = 5;

// read_object's answers besides a length.
constexpr int kEnd = 0;
constexpr int kReadError = -1;  // reported already
constexpr int kInvalid = -2;    // a record of unknown kind
constexpr int kNoRoom = -3;
constexpr int kCutShort = -4;   // the file ends inside an object

std::uint8_t glyph(const char* utf8) { return static_cast<std::uint8_t>(utf8_to_internal(utf8)[0]); }

void say(const char* utf8, Ws ws) { print_message(utf8_to_internal(utf8), ws); }
void text(std::string_view internal, Ws ws) { ldprt(internal, ws); }

// The path of the command's file with the extension .atf.
std::string file_path(Ws ws) {
  LowGlobals& lg = lowglobals(ws);
  const std::uint32_t saved = lg.extension;
  lg.extension = kExtAtf;
  std::string path = wsset(rd32(ws, cmdws::Library), rd16(ws, cmdws::Flags), scratch_area(1, ws), ws);
  lg.extension = saved;
  return path;
}

// For the length of a transfer: attention off, the sequential file closed
// at the end, ⎕TF's transfer mode off again.
class TransferScope {
 public:
  explicit TransferScope(Ws ws) : ws_(ws) { sup_attn(0, ws); }
  ~TransferScope() {
    close_seq();
    set_mode(false);
    sup_attn(rd16(ws_, hdr::AttnLevel), ws_);
  }
  TransferScope(const TransferScope&) = delete;
  TransferScope& operator=(const TransferScope&) = delete;
  void set_mode(bool on) const {
    const std::uint8_t bits = rd8(ws_, hdr::ResultBits);
    wr8(ws_, hdr::ResultBits, on ? bits | kTransferFile : bits & ~kTransferFile);
  }

 private:
  Ws ws_;
};

// Pops the stack down to `mark`, releasing what the entries own.
void pop_to(std::uint32_t mark, Ws ws) {
  while (rd32(ws, hdr::StackPointer) < mark) {
    StackEntry e{};
    unstack(e, ws);
    release_entry(e, ws);
  }
}

// An APL error while an object was read or written: the stack back to
// `mark`, the error forgotten, its message shown. Answers 12.
int abandon(int code, std::uint32_t mark, Ws ws) {
  pop_to(mark, ws);
  wr16(ws, hdr::EtMajor, 0);
  wr16(ws, hdr::EtMinor, 0);
  kill_dead_man(ws);
  const int shown = code == E_WS_FULL || code == E_SYMBOL_TABLE_FULL ? code : E_DATA_DAMAGED;
  print_message(ertab(shown), ws);
  return kFailed;
}

// Reports a failed read; answers 12.
int read_failure(int rc, Ws ws) {
  if (rc == kInvalid) say("WS INVALID", ws);
  else if (rc == kNoRoom) print_message(ertab(E_WS_FULL), ws);
  else if (rc != kReadError) print_message(ertab(E_DATA_DAMAGED), ws);
  return kFailed;
}

// Reads the next object of the open file. With `at`, its text (71
// characters of every data record, translated) goes to workspace offset
// `at` onward; without, the file is only checked. `first` receives the
// text's first character. Answers the text's length, kEnd at a clean end,
// or a failure code.
int read_object(std::uint32_t at, std::uint8_t* first, Ws ws) {
  std::uint32_t length = 0;
  std::uint8_t record[kRecordBytes];
  for (;;) {
    if (at && std::uint64_t(at) + length + kDataColumns + kRecordRoom + kMinFree > rd32(ws, hdr::StackPointer))
      return kNoRoom;
    std::memset(record, 0, sizeof record);
    const int rc = read_seq(kRecordBytes, record);
    if (rc == kIoError) {
      print_io_error(ws);
      return kReadError;
    }
    if (record[0] == 0) return length ? kCutShort : kEnd;
    const transfer::RecordClass k = transfer::classify(record[0]);
    if (k.kind == transfer::Kind::Invalid) return kInvalid;
    if (rc == kEndOfFile) return length || k.kind != transfer::Kind::Comment ? kCutShort : kEnd;
    if (k.code == transfer::Code::Pc) {
      std::uint8_t line_end[transfer::kLineEndBytes];
      if (read_seq(transfer::kLineEndBytes, line_end) == kIoError) {
        print_io_error(ws);
        return kReadError;
      }
    }
    if (k.kind == transfer::Kind::Comment) continue;
    if (length == 0) *first = transfer::read_char(k.code, record[1]);
    if (at) transfer::decode_data(record, k.code, ws + at + length);
    length += kDataColumns;
    if (length > 0x7FFFFFFFu - kDataColumns) return kNoRoom;
    if (k.kind == transfer::Kind::Last) return static_cast<int>(length);
  }
}

// The form ⎕TF reads an object text in (the text at `s`, `n` characters),
// or 0 for an unknown kind letter: N and C form 1, A form 2, F form 1 when
// the word after its first blank is 2, else form 2.
int form_of(const std::uint8_t* s, std::uint32_t n) {
  if (n == 0) return 0;
  if (s[0] == glyph("N") || s[0] == glyph("C")) return 1;
  if (s[0] == glyph("A")) return 2;
  if (s[0] != glyph("F")) return 0;
  std::uint32_t i = 0;
  while (i < n && !is_blank(s[i])) ++i;
  return i + 1 < n && s[i + 1] == glyph("2") ? 1 : 2;
}

// The object's name: after the kind letter up to a blank or ←, at most 30.
std::string object_name(const std::uint8_t* s, std::uint32_t n) {
  const std::uint8_t arrow = glyph("←");
  std::string name;
  for (std::uint32_t i = 1; i < n && !is_blank(s[i]) && s[i] != arrow && name.size() < kMaxNameLength; ++i)
    name.push_back(static_cast<char>(s[i]));
  return name;
}

// The names of a list (internal characters), each cut to 30.
std::vector<std::string> list_names(const std::uint8_t* p, std::uint32_t n) {
  std::vector<std::string> names;
  std::uint32_t i = 0;
  while (i < n) {
    while (i < n && is_blank(p[i])) ++i;
    std::string name;
    while (i < n && !is_blank(p[i])) name.push_back(static_cast<char>(p[i++]));
    if (name.size() > kMaxNameLength) name.resize(kMaxNameLength);
    if (!name.empty()) names.push_back(name);
  }
  return names;
}

// "NOT COPIED: " before the first name this command could not copy.
struct NotCopied {
  bool heading = false;
  void add(const std::string& name, Ws ws) {
    if (!heading) {
      if (rd16(ws, hdr::OutColumn) != 0) cdisp(kCarriageReturn, ws);
      text(utf8_to_internal("NOT COPIED: "), ws);
      heading = true;
    }
    text(name, ws);
    cdisp(ich::Blank, ws);
  }
  void end(Ws ws) const {
    if (heading) cdisp(kCarriageReturn, ws);
  }
};

// ⎕TF with the left argument `form` and the right argument on top of the
// stack, in transfer mode, its entries laid out as the engine's call has
// them (left argument, function, right argument: a placeholder stands for
// the function); an expression it sets to run runs to its end. Answers
// whether its result (on top) is empty; an expression that failed, gave
// no value or branched is DATA DAMAGED (raised).
bool call_tf(int form, const TransferScope& scope, Ws ws) {
  push_result(new_int_scalar(0, ws), ws);
  push_result(new_int_scalar(form, ws), ws);
  const SfArg left{stack_entry_at(0, ws) + se::Value};
  const SfArg right{stack_entry_at(2, ws) + se::Value};
  take_transfer_form_failure(ws);
  scope.set_mode(true);
  sftf_dyadic(left, right, ws);
  run_pending_evaluation(ws);
  scope.set_mode(false);
  const std::uint32_t result = rd32(ws, stack_entry_at(0, ws) + se::Value);
  if (take_transfer_form_failure(ws)) {
    int major = 0, minor = 0;
    et_tab_pair(ertabn(E_DATA_DAMAGED), &major, &minor);
    error(E_DATA_DAMAGED, major, minor, ws);
  }
  return array_count(result, ws) == 0;
}

int in_common(const std::uint8_t* list, std::uint32_t list_length, bool listed, Ws ws) {
  if (list_length > kListRoom) return copy_buffer_full(ws);
  std::vector<std::string> wanted = list_names(list, list_length);
  std::vector<bool> done(wanted.size(), false);
  force_gcol(ws);
  const std::string path = file_path(ws);
  TransferScope scope(ws);
  const int opened = open_seq(path.c_str());
  if (opened == kNoSuchFile) {
    say("WS NOT FOUND", ws);
    return kFailed;
  }
  if (opened != 0) {
    print_io_error(ws);
    return kFailed;
  }
  // Object by object: each is read whole before it is defined, and a
  // failure ends the command there; the objects defined before it stay.
  NotCopied not_copied;
  for (;;) {
    const std::uint32_t origin = capture_origin(1, ws);
    std::uint8_t first = 0;
    const int n = read_object(origin, &first, ws);
    if (n == kEnd) break;
    if (n < 0) {
      not_copied.end(ws);
      return read_failure(n, ws);
    }
    auto length = static_cast<std::uint32_t>(n);
    const std::uint8_t* s = ws + origin;
    const int form = form_of(s, length);
    if (form == 0) {
      not_copied.end(ws);
      return read_failure(kCutShort, ws);
    }
    const std::string name = object_name(s, length);
    if (listed) {
      std::size_t k = 0;
      while (k < wanted.size() && (done[k] || wanted[k] != name)) ++k;
      if (k == wanted.size()) continue;
      done[k] = true;
    }
    const std::uint32_t mark = rd32(ws, hdr::StackPointer);
    try {
      push_result(captured_array(1, &length, ws), ws);
      if (call_tf(form, scope, ws)) not_copied.add(name, ws);
    } catch (const AplError& e) {
      scope.set_mode(false);
      not_copied.end(ws);
      return abandon(e.code, mark, ws);
    }
    pop_to(mark, ws);
    force_gcol(ws);
  }
  not_copied.end(ws);
  bool heading = false;
  for (std::size_t k = 0; k < wanted.size(); ++k) {
    if (done[k]) continue;
    if (!heading) {
      if (rd16(ws, hdr::OutColumn) != 0) cdisp(kCarriageReturn, ws);
      text(utf8_to_internal("NOT FOUND: "), ws);
      heading = true;
    }
    text(wanted[k], ws);
    cdisp(ich::Blank, ws);
  }
  if (heading) cdisp(kCarriageReturn, ws);
  return 0;
}

// Writes the text of the array on top of the stack as records.
bool write_records(StagedFile& file, Ws ws) {
  const std::uint32_t a = rd32(ws, stack_entry_at(0, ws) + se::Value);
  const std::uint32_t n = array_count(a, ws);
  const std::uint8_t* s = ws + array_data(a, ws);
  std::uint8_t record[transfer::kPcRecordBytes];
  for (std::uint32_t i = 0; i < n; i += kDataColumns) {
    const std::uint32_t k = n - i < kDataColumns ? n - i : kDataColumns;
    transfer::encode_pc(s + i, k, i + kDataColumns >= n, record);
    if (write_staged(file, sizeof record, record) != 0) return false;
  }
  return true;
}

// The names )OUT writes without a list: the system variables, then the
// functions, operators and variables in symbol-table order.
std::vector<std::string> workspace_names(Ws ws) {
  std::vector<std::string> names;
  for (const char* sv : {"⎕PP", "⎕IO", "⎕CT", "⎕FC", "⎕RL", "⎕PR", "⎕LX"}) names.push_back(utf8_to_internal(sv));
  const std::uint32_t entries = rd16(ws, hdr::BucketEntries);
  for (std::uint32_t i = 0; i < entries; ++i) {
    const std::uint32_t entry = kBucketArea + kSymtabEntrySize * i;
    if (rd8(ws, entry + sym::Length) == 0) continue;
    const std::uint8_t type = rd8(ws, entry + sym::Type) & kSymTypeMask;
    if (type <= SYM_VAR || (type >= SYM_OP_FIRST && type <= SYM_OP_LAST) || type == SYM_CLASS)
      names.push_back(symbol_name(entry, ws));
  }
  return names;
}

// The names with the classes among them moved to the end, parents before
// their children (by generation, each generation in the order given), so
// that )IN finds each class's parent defined before the class.
std::vector<std::string> classes_last(const std::vector<std::string>& names, Ws ws) {
  std::vector<std::string> others;
  std::vector<std::pair<int, std::string>> classes;
  for (const std::string& name : names) {
    const NameRef r = look_up_name(reinterpret_cast<const std::uint8_t*>(name.data()),
                                   static_cast<std::uint32_t>(name.size()), ws);
    if (r.kind == NameKind::Found && r.type == SYM_CLASS)
      classes.emplace_back(class_generation(r.entry, ws), name);
    else
      others.push_back(name);
  }
  std::stable_sort(classes.begin(), classes.end(),
                   [](const auto& a, const auto& b) { return a.first < b.first; });
  for (auto& c : classes) others.push_back(std::move(c.second));
  return others;
}

int out_common(const std::uint8_t* list, std::uint32_t list_length, bool listed, Ws ws) {
  if (list_length > kListRoom) return copy_buffer_full(ws);
  force_gcol(ws);
  const std::string path = file_path(ws);
  StagedFile file;
  if (begin_staged(path.c_str(), file) != 0) {
    print_io_error(ws);
    return kFailed;
  }
  TransferScope scope(ws);
  const std::vector<std::string> names = classes_last(listed ? list_names(list, list_length) : workspace_names(ws), ws);
  NotCopied not_copied;
  for (const std::string& name : names) {
    const std::uint32_t mark = rd32(ws, hdr::StackPointer);
    try {
      push_result(new_char_vector(name, ws), ws);
      if (call_tf(2, scope, ws)) {
        not_copied.add(name, ws);
      } else if (!write_records(file, ws)) {
        not_copied.end(ws);
        pop_to(mark, ws);
        print_io_error(ws);
        print_message(ertab(E_DATA_DAMAGED), ws);
        return kFailed;
      }
    } catch (const AplError& e) {
      scope.set_mode(false);
      not_copied.end(ws);
      return abandon(e.code, mark, ws);
    }
    pop_to(mark, ws);
    force_gcol(ws);
  }
  not_copied.end(ws);
  if (commit_staged(file) != 0) {
    print_io_error(ws);
    return kFailed;
  }
  return 0;
}

int cin_args(std::uint16_t, Ws ws) { return in_common(nullptr, 0, false, ws); }
int cin_list(const std::uint8_t* list, std::uint32_t length, std::uint16_t, Ws ws) {
  return in_common(list, length, true, ws);
}
int cout_args(std::uint16_t, Ws ws) { return out_common(nullptr, 0, false, ws); }
int cout_list(const std::uint8_t* list, std::uint32_t length, std::uint16_t, Ws ws) {
  return out_common(list, length, true, ws);
}

}  // namespace

void install_transfer_commands() {
  CommandHandler in_name, in_list, out_name, out_list;
  in_name.no_args = cin_args;
  in_list.text = cin_list;
  out_name.no_args = cout_args;
  out_list.text = cout_list;
  set_command_handler(C_IN_NAME, in_name);
  set_command_handler(C_IN_LIST, in_list);
  set_command_handler(C_OUT_NAME, out_name);
  set_command_handler(C_OUT_LIST, out_list);
}

}  // namespace zema
