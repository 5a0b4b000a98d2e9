// Names as text and the erasure of a name's object.
#include "interpreter/sysfns/names.h"

#include <cstring>

#include "interpreter/engine/assign.h"
#include "interpreter/engine/classes.h"
#include "interpreter/engine/call.h"
#include "interpreter/engine/function_object.h"
#include "interpreter/reader/tokeniser.h"
#include "interpreter/workspace/arrays.h"
#include "interpreter/workspace/errors.h"
#include "interpreter/workspace/heap.h"
#include "interpreter/workspace/stack.h"
#include "interpreter/workspace/symtab.h"

namespace zema {

namespace {

// A ⎕ name of `k` characters (⎕ first) at `text`: a system variable among
// the fixed entries, or a system function (in the bucket area when some
// line has used it).
NameRef look_up_system_name(const std::uint8_t* text, std::uint32_t k, NameRef ref, Ws ws) {
  if (k > 12) return ref;
  std::uint8_t buf[12] = {};
  std::memcpy(buf, text, k);
  if (k <= 3) {
    const std::uint32_t packed = (k << 24) | (std::uint32_t(buf[0] & 0x7F) << 16) | (std::uint32_t(buf[1] & 0x7F) << 8) |
                                 std::uint32_t(buf[2] & 0x7F);
    for (std::uint32_t i = 0; i < kSymtabFixed; ++i) {
      const std::uint32_t e = kSymtabStart + kSymtabEntrySize * i;
      if (rd8(ws, e + sym::Length) != 0 && rd32(ws, e + sym::Name) == packed) {
        ref.kind = NameKind::Found;
        ref.entry = e;
        ref.type = rd8(ws, e + sym::Type) & kSymTypeMask;
        return ref;
      }
    }
  }
  const int n = system_function_number(buf);
  if (n < 0) return ref;
  std::memcpy(ws + kNameBuffer, text, k);
  std::uint32_t first_free = 0, found = 0;
  if (symfnd(first_free, found, k, ws) == 0) {
    ref.kind = NameKind::Found;
    ref.entry = entry_of_table_offset(found);
    ref.type = rd8(ws, ref.entry + sym::Type) & kSymTypeMask;
    return ref;
  }
  ref.kind = NameKind::System;
  ref.type = system_function_takes_arguments(n) ? SYM_SYSFN : SYM_SYSFN0;
  return ref;
}

// The record of a state-indicator frame that localises `token`, 0 when none.
bool frame_localises(std::uint32_t frame, std::uint16_t token, Ws ws) {
  const std::int32_t count = rdi16(ws, frame + siframe::Count) + 1;
  for (std::int32_t i = 0; i < count; ++i) {
    const std::uint32_t r = frame - siframe::RecordSize * static_cast<std::uint32_t>(i + 1);
    if (!(rd8(ws, r) & 0x80) && rd16(ws, r + 2) == token) return true;
  }
  return false;
}

}  // namespace

bool name_char(std::uint8_t c) { return cmpalp(c) || cmpdig(c) || c == ich::Underbar || c == ich::HighMinus; }

NameRef look_up_name(const std::uint8_t* text, std::uint32_t n, Ws ws) {
  NameRef ref;
  std::uint32_t i = 0;
  while (i < n && is_blank(text[i])) ++i;
  std::uint32_t end = n;
  while (end > i && is_blank(text[end - 1])) --end;
  if (i == end) return ref;
  ref.start = i;
  ref.length = end - i;
  ref.kind = NameKind::Invalid;
  if (text[i] == kQuadChar) {
    for (std::uint32_t j = i + 1; j < end; ++j)
      if (!name_char(text[j])) return ref;
    if (end - i < 2) return ref;
    return look_up_system_name(text + i, end - i, ref, ws);
  }
  if (!cmpalp(text[i])) return ref;
  for (std::uint32_t j = i + 1; j < end; ++j)
    if (!name_char(text[j])) return ref;
  const std::uint32_t k = ref.length < kMaxNameLength ? ref.length : kMaxNameLength;
  std::memcpy(ws + kNameBuffer, text + i, k);
  std::uint32_t first_free = 0, found = 0;
  if (symfnd(first_free, found, k, ws) != 0) {
    ref.kind = NameKind::Unknown;
    return ref;
  }
  ref.kind = NameKind::Found;
  ref.entry = entry_of_table_offset(found);
  ref.type = rd8(ws, ref.entry + sym::Type) & kSymTypeMask;
  return ref;
}

std::uint32_t enter_buffer_name(std::uint32_t length, Ws ws) {
  if (length > kMaxNameLength) length = kMaxNameLength;
  std::uint32_t first_free = 0, found = 0;
  if (symfnd(first_free, found, length, ws) == 0) return entry_of_table_offset(found);
  if (first_free == 0) symtab_full(ws);
  wr32(ws, hdr::TokenAreaLimit, rd32(ws, hdr::StackPointer) & ~3u);
  if (length > 3 && rd32(ws, hdr::HeapTop) + name_object_size(length) + 100 > rd32(ws, hdr::StackPointer)) ws_full(ws);
  const std::uint32_t entry = entry_of_table_offset(syment(first_free, length, ws));
  fxnms(ws);
  return entry;
}

NameRows name_rows(SfArg arg, Ws ws) {
  const std::uint32_t a = arg.array(ws);
  if (array_type(a, ws) != ET_CHAR) domner(ws);
  const std::uint32_t rank = array_rank(a, ws);
  if (rank > 2) ranker(ws);
  NameRows r;
  r.matrix = rank == 2;
  r.rows = rank == 2 ? array_axis(a, 0, ws) : 1;
  r.columns = rank == 0 ? 1 : array_axis(a, rank - 1, ws);
  return r;
}

const std::uint8_t* name_row(SfArg arg, const NameRows& rows, std::uint32_t i, Ws ws) {
  return ws + array_data(arg.array(ws), ws) + std::uint64_t(i) * rows.columns;
}

bool function_erasable(std::uint32_t entry, Ws ws) {
  const auto token = static_cast<std::uint16_t>(token_of_entry(entry));
  std::uint16_t running = rd16(ws, hdr::RunningToken);
  for (std::uint32_t link = rd32(ws, hdr::SiLink); rd32(ws, link) != 0; link = rd32(ws, link)) {
    const std::uint32_t frame = link - siframe::Link;
    if (frame_localises(frame, token, ws)) return true;
    if (running == token) return false;
    running = rd16(ws, frame + siframe::RunningToken);
  }
  return running != token;
}

void erasfn(std::uint32_t header, Ws ws) {
  while (header) {
    const std::uint32_t next = rd32(ws, header + fnl::Next);
    wr32(ws, header + fnl::Next, 0);
    mgarb(header, ws);
    header = next;
  }
}

bool erase_object(std::uint32_t entry, Ws ws) {
  if (rd8(ws, entry + sym::Length) == 0) return false;  // an entry already given up
  const std::uint8_t type_byte = rd8(ws, entry + sym::Type);
  const std::uint8_t type = type_byte & kSymTypeMask;
  const std::uint32_t value = rd32(ws, entry + sym::Value);
  const bool counted = !(type_byte & kSymLocalFlag);
  if (type == SYM_VAR || type == SYM_SHARED) {
    wr32(ws, entry + sym::Value, 0);
    wr8(ws, entry + sym::Type, (type_byte & kSymLocalFlag) | SYM_UNDEF);
    if (value && !settle_name_readers(entry, value, 0, ws)) mgarb(value, ws);
    if (counted) clnus2(entry, ws);
    return true;
  }
  if (type == SYM_CLASS && !(type_byte & kSymLocalFlag)) return erase_class_name(entry, ws);
  if (is_function_type(type)) {
    if (!function_erasable(entry, ws)) return false;
    // The lines' own symbol uses (the header's name among them) go with them.
    wr32(ws, entry + sym::Value, 0);
    wr8(ws, entry + sym::Type, (type_byte & kSymLocalFlag) | SYM_UNDEF);
    erasfn(value, ws);
    return true;
  }
  return false;
}

}  // namespace zema
