// The local task's answers to the front end about its workspace: state,
// ⎕PW and ⎕IO, the text of an object for an editor and its storing back,
// and the stop marks of a function. Each runs on the task thread through
// InWorkspace while the interpreter waits for input, on the interpreter's
// own routines (name look-up, arrays, symbol entries).
#include <algorithm>
#include <cstring>
#include <string>

#include "host/charset.h"
#include "interpreter/engine/function_object.h"
#include "interpreter/reader/tokeniser.h"
#include "interpreter/sysfns/definitions.h"
#include "interpreter/sysfns/names.h"
#include "interpreter/workspace/arrays.h"
#include "interpreter/workspace/errors.h"
#include "interpreter/workspace/heap.h"
#include "interpreter/workspace/stack.h"
#include "interpreter/workspace/symtab.h"
#include "interpreter/workspace/sysvar_slots.h"
#include "interpreter/workspace/workspace.h"
#include "program/local_task.h"

namespace zema {

namespace {

constexpr int kNoMemory = 68;
constexpr std::uint8_t kCr = 0x0D;

// The name in `internal` characters, looked up; a name with blanks around
// it or more than one name is no name here.
NameRef find_name(const std::string& internal, Ws ws) {
  if (internal.empty()) return NameRef{};
  NameRef ref = look_up_name(reinterpret_cast<const std::uint8_t*>(internal.data()),
                             static_cast<std::uint32_t>(internal.size()), ws);
  if (ref.start != 0 || ref.length != internal.size()) ref.kind = NameKind::Invalid;
  return ref;
}

// Binds the array held by the newest stack entry to `name` (a valid name
// not of the system, whose entry, if any, is free or a variable): as the
// interpreter's assignment does, the old value is erased only once the
// new one is whole. The entry is popped, the array now the name's.
void bind_top_to_name(const std::string& name, Ws ws) {
  const auto* text = reinterpret_cast<const std::uint8_t*>(name.data());
  const auto n = static_cast<std::uint32_t>(name.size());
  NameRef ref = look_up_name(text, n, ws);
  if (ref.kind == NameKind::Found && ref.type != SYM_UNDEF) erase_object(ref.entry, ws);
  ref = look_up_name(text, n, ws);  // an erasure may have given the entry up
  std::uint32_t entry = ref.entry;
  if (ref.kind != NameKind::Found) {
    entry = enter_buffer_name(ref.length, ws);
  }
  const std::uint32_t top = stack_entry_at(0, ws);
  const StackEntry held = load_entry(top, ws);
  const std::uint8_t type_byte = rd8(ws, entry + sym::Type);
  wr32(ws, entry + sym::Value, held.value);
  wr8(ws, entry + sym::Type, (type_byte & kSymLocalFlag) | SYM_VAR);
  if (!(type_byte & kSymLocalFlag)) wr16(ws, entry + sym::Uses, rd16(ws, entry + sym::Uses) + 1);
  set_owner(held.value, entry, OK_SYMBOL, ws);
  StackEntry popped;
  unstack(popped, ws);
}

// Pops and releases what was pushed above `saved` (the stack pointer
// before the work began): the work failed half-way.
void drop_to(std::uint32_t saved, Ws ws) {
  while (rd32(ws, hdr::StackPointer) < saved) {
    StackEntry e;
    unstack(e, ws);
    release_entry(e, ws);
  }
}

}  // namespace

int LocalTask::GetWSState() {
  int state = 0;
  InWorkspace([&](Ws ws) {
    if (ws) state = rd16(ws, hdr::State);
  });
  return state;
}

int LocalTask::GetQuadPW() {
  int pw = 80;
  InWorkspace([&](Ws ws) {
    if (ws) pw = rdi32(ws, sysvar_value_word(sysvar::PW));
  });
  return pw;
}

std::string LocalTask::GetWSName() {
  std::string name = "CLEAR WS";
  InWorkspace([&](Ws ws) {
    if (!ws) return;
    // The short identity: the name after the last path separator.
    const int n = std::min<int>(rd8(ws, hdr::Wsid), 11);
    std::string id;
    for (int i = 0; i < n; ++i) id.push_back(static_cast<char>(fontout(rd8(ws, hdr::Wsid + 1 + i))));
    while (!id.empty() && id.back() == ' ') id.pop_back();
    if (id.size() > 4 && id.compare(id.size() - 4, 4, ".aws") == 0) id.resize(id.size() - 4);
    name = id;
  });
  return name;
}

void LocalTask::SetQuadPW(int pw) {
  if (pw < 40 || pw > 390) return;
  InWorkspace([&](Ws ws) {
    if (ws) wr32(ws, sysvar_value_word(sysvar::PW), static_cast<std::uint32_t>(pw));
  });
}

int LocalTask::GetQuadIO() {
  int io = 0;
  InWorkspace([&](Ws ws) {
    if (ws) io = quad_io(ws);
  });
  return io;
}

int LocalTask::GetObject(const std::string& name, std::string* text) {
  text->clear();
  int kind = -1;
  const std::string internal = utf8_to_internal(name);
  InWorkspace([&](Ws ws) {
    if (!ws) return;
    const NameRef ref = find_name(internal, ws);
    if (ref.kind == NameKind::Unknown || (ref.kind == NameKind::Found && ref.type == SYM_UNDEF)) {
      kind = 0;  // no value yet: a new function, with no text
      return;
    }
    if (ref.kind != NameKind::Found || ref.type != SYM_VAR) return;  // functions withheld
    const std::uint32_t a = rd32(ws, ref.entry + sym::Value);
    if (!a || array_type(a, ws) != ET_CHAR || array_rank(a, ws) != 2) return;
    const std::uint32_t rows = array_axis(a, 0, ws), columns = array_axis(a, 1, ws);
    const auto* data = ws + array_data(a, ws);
    std::string lines = internal;
    for (std::uint32_t r = 0; r < rows; ++r) {
      const auto* row = data + std::size_t(r) * columns;
      std::uint32_t n = columns;
      while (n && row[n - 1] == ' ') --n;
      lines.push_back(static_cast<char>(kCr));
      lines.append(reinterpret_cast<const char*>(row), n);
    }
    *text = internal_to_utf8(lines);
    for (char& c : *text)
      if (c == '\r') c = '\n';
    kind = 1;
  });
  return kind;
}

int LocalTask::PutObject(const std::string& name, int kind, const std::string& text) {
  if (kind == 0) return 24;
  if (kind != 1) return 12;
  // The rows: lines ended by a carriage return, a line feed or both.
  std::string rows_text = utf8_to_internal(text);
  std::uint32_t rows = 0, columns = 0;
  std::string row;
  std::string cells;  // rows of `columns`, filled below
  {
    std::uint32_t length = 0;
    for (std::size_t i = 0; i <= rows_text.size(); ++i) {
      const bool end = i == rows_text.size();
      const char c = end ? 0 : rows_text[i];
      if (end || c == kCr || c == '\n') {
        if (!end && c == kCr && i + 1 < rows_text.size() && rows_text[i + 1] == '\n') ++i;
        if (end && length == 0 && rows > 0) break;  // no row after a final line end
        ++rows;
        columns = std::max(columns, length);
        length = 0;
      } else {
        ++length;
      }
    }
    if (rows_text.empty()) return 20;
    std::size_t at = 0;
    for (std::uint32_t r = 0; r < rows; ++r) {
      std::size_t e = at;
      while (e < rows_text.size() && rows_text[e] != static_cast<char>(kCr) && rows_text[e] != '\n') ++e;
      std::string line = rows_text.substr(at, e - at);
      line.resize(columns, ' ');
      cells += line;
      if (e < rows_text.size() && rows_text[e] == static_cast<char>(kCr) && e + 1 < rows_text.size() &&
          rows_text[e + 1] == '\n')
        ++e;
      at = e + 1;
    }
  }
  const std::string internal = utf8_to_internal(name);
  int code = kNoMemory;
  InWorkspace([&](Ws ws) {
    if (!ws) return;
    if (rd16(ws, hdr::State) & st::Defining) {
      code = 112;
      return;
    }
    const NameRef ref = find_name(internal, ws);
    if ((ref.kind != NameKind::Found && ref.kind != NameKind::Unknown) ||
        static_cast<std::uint8_t>(internal[0]) == kQuadChar) {
      code = 12;
      return;
    }
    if (ref.kind == NameKind::Found && ref.type != SYM_UNDEF && ref.type != SYM_VAR) {
      code = 8;
      return;
    }
    const std::uint32_t saved = rd32(ws, hdr::StackPointer);
    try {
      push_result(new_char_matrix(rows, columns, cells, ws), ws);
      bind_top_to_name(internal, ws);
      code = 0;
    } catch (const AplError& e) {
      drop_to(saved, ws);
      code = e.code;
    }
  });
  return code;
}

int LocalTask::GetStopLines(const std::string& name, bool* lines, int n) {
  const std::string internal = utf8_to_internal(name);
  int code = kNoMemory;
  InWorkspace([&](Ws ws) {
    if (!ws) return;
    const NameRef ref = find_name(internal, ws);
    if (ref.kind != NameKind::Found) {
      code = 40;
      return;
    }
    const std::uint32_t header = rd32(ws, ref.entry + sym::Value);
    if (!defined_function_type(ref.type) || header == 0) {
      code = 12;
      return;
    }
    if (rd8(ws, header + fnl::Marks) & fnmark::Locked) {
      code = 84;
      return;
    }
    for (int i = 0; i < n; ++i) lines[i] = false;
    int i = 1;
    for (std::uint32_t l = rd32(ws, header + fnl::Next); l; l = rd32(ws, l + fnl::Next), ++i) {
      if (i >= n) {
        code = 20;
        return;
      }
      lines[i] = (rd8(ws, l + fnl::Marks) & fnmark::Stop) != 0;
    }
    code = 0;
  });
  return code;
}

}  // namespace zema
