// The system variables' reading and assignment handlers, and the special
// variables as the engine and the assignment arrow meet them.
#include "interpreter/engine/sysvars.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <string>

#include "interpreter/engine/engine.h"
#include "interpreter/workspace/entry.h"
#include "interpreter/engine/error_path.h"
#include "interpreter/engine/evaluation.h"
#include "interpreter/workspace/errors.h"
#include "interpreter/workspace/heap.h"
#include "interpreter/workspace/extended80.h"
#include "interpreter/workspace/stack.h"
#include "interpreter/engine/statement_end.h"
#include "interpreter/workspace/support.h"
#include "interpreter/workspace/arrays.h"
#include "interpreter/reader/tokeniser.h"

namespace zema {

// . , * 0 _ ¯
const std::uint8_t qfc_default[6] = {0x2E, 0x2C, 0x50, 0x30, 0x46, 0x40};

namespace {

constexpr std::uint8_t kTokenQuoteQuad = 0x3B;  // ⍞

// A share record (the value of a shared variable's symbol): the processor
// number and the host's share handle in its third and fourth words.
constexpr std::uint32_t kShareProcessor = 8;
constexpr std::uint32_t kShareHandle = 12;

// Room the ⍞ answer leaves free below the stack.
constexpr std::int64_t kQuoteQuadReserve = 130;
// Room a shared variable's value leaves free below the stack.
constexpr std::int64_t kShareReserve = 100;

void set_register(std::uint32_t a, Ws ws) {
  set_token_register(StackEntry{static_cast<std::uint8_t>(kOwnsObject | TC_VALUE), 0, a}, ws);
}

std::uint32_t value_word(int index, Ws ws) { return rd32(ws, sysvar_value_word(index)); }
void set_value_word(int index, std::uint32_t v, Ws ws) { wr32(ws, sysvar_value_word(index), v); }

std::uint8_t* tab_stops(Ws ws) { return sup_tabs(ws); }
bool tab_set(const std::uint8_t* buffer, int column) {
  std::uint32_t word;
  std::memcpy(&word, buffer + kTabMap + 4 * ((column - 1) / 32), 4);
  return (word >> ((column - 1) % 32)) & 1;
}
void set_tab(std::uint8_t* buffer, int column) {
  std::uint32_t word;
  std::uint8_t* at = buffer + kTabMap + 4 * ((column - 1) / 32);
  std::memcpy(&word, at, 4);
  word |= 1u << ((column - 1) % 32);
  std::memcpy(at, &word, 4);
  buffer[0] = 1;
}

// ⎕HT: the set columns, ascending; empty when no stop was ever set.
std::uint32_t read_tab_stops(Ws ws) {
  const std::uint8_t* buffer = tab_stops(ws);
  std::array<std::int32_t, kTabColumns> columns{};
  std::uint32_t n = 0;
  if (buffer[0] != 0)
    for (int p = 1; p <= kTabColumns; ++p)
      if (tab_set(buffer, p)) columns[n++] = p;
  return new_int_vector(columns.data(), n, ws);
}

// One non-negative integer from a value of one element (xqintf): LENGTH
// ERROR unless every axis is 1, DOMAIN ERROR for a value that is not an
// integer or is negative.
std::int32_t single_natural(std::uint32_t a, Ws ws) {
  if (!all_axes_one(a, ws)) lener(ws);
  const std::int32_t v = getint(array_type(a, ws), array_data(a, ws), ws);
  if (v < 0) domner(ws);
  return v;
}

void assign_ct(std::uint32_t a, Ws ws) {
  if (!all_axes_one(a, ws)) lener(ws);
  Extended80 x;  // zero
  switch (array_type(a, ws)) {
    case ET_FLOAT: {
      double d;
      std::memcpy(&d, ws + array_data(a, ws), 8);
      x = fltdb(d);
      // Not negative (sign bit) and below 1 (biased exponent under 0x3FFF).
      if (x.exp_word != 0 && x.exp_word >= 0x3FFF) domner(ws);
      break;
    }
    case ET_BOOL:
    case ET_INT:
      if (getint(array_type(a, ws), array_data(a, ws), ws) != 0) domner(ws);
      break;
    default: domner(ws);
  }
  store_x80(ws + hdr::QuadCT, x);
}

// ⎕LX and ⎕FC: the value is copied into an object of the entry's own; the
// old one goes.
void assign_owned_value(int index, std::uint32_t slot, Ws ws) {
  const std::uint32_t copy = copy_array(slot, ws);
  const std::uint32_t entry = sysvar_entry(index);
  const std::uint32_t old = value_word(index, ws);  // read after the copy: compaction may move it
  set_value_word(index, copy, ws);
  set_owner(copy, entry, OK_SYMBOL, ws);
  wr8(ws, entry + sym::Type, SYM_SYSVAR);
  mgarb(old, ws);
}

void assign_pr(std::uint32_t a, Ws ws) {
  if (array_type(a, ws) != ET_CHAR) domner(ws);
  std::int16_t c = -1;
  if (array_count(a, ws) != 0) {
    if (!all_axes_one(a, ws)) lener(ws);
    c = rd8(ws, array_data(a, ws));
  }
  set_value_word(sysvar::PR, static_cast<std::uint32_t>(std::int32_t{c}), ws);
  sup_qpr(c, ws);
}

void assign_ht(std::uint32_t a, Ws ws) {
  std::array<std::uint8_t, kTabStopBytes> work{};
  const std::uint32_t rank = array_rank(a, ws);
  std::uint32_t items = 1;
  if (rank >= 2) {
    if (!all_axes_one(a, ws)) ranker(ws);
  } else if (rank == 1) {
    items = array_axis(a, 0, ws);
  }
  if (items != 0) {
    const std::uint8_t type = array_type(a, ws);
    if (!is_numeric_type(type)) domner(ws);  // characters, object references and nested values
    const std::uint32_t data = array_data(a, ws);
    for (std::uint32_t i = 0; i < items; ++i) {
      std::int32_t p;
      switch (type) {
        case ET_BOOL: p = (rd32(ws, data + 4 * (i / 32)) >> (31 - i % 32)) & 1; break;
        case ET_INT: p = rdi32(ws, data + 4 * i); break;
        default: p = getin3(data + 8 * i, ws); break;
      }
      if (p < 0) domner(ws);
      if (p >= 1 && p <= kTabColumns) set_tab(work.data(), p);
    }
  }
  std::memcpy(tab_stops(ws), work.data(), kTabStopBytes);
}

// ⍞ read as a value: the answer to the prompt already on the line.
void quote_quad_input(Ws ws) {
  const auto state = static_cast<std::uint16_t>(engine_state(ws) & ~st::AttentionSeen);
  set_state(st::QuoteQuadInput, st::AttentionSeen | st::StatementStarted, ws);
  auto fail = [&](int code, int major, int minor) {
    wr16(ws, hdr::State, state);
    error(code, major, minor, ws);
  };
  gcol(ws);
  const std::uint32_t top = rd32(ws, hdr::HeapTop);
  const std::int64_t room = std::int64_t(rd32(ws, hdr::StackPointer)) - top;
  if (room < kQuoteQuadReserve) fail(E_WS_FULL, 1, 3);
  // The answer may take all the free room; one that does not fit is WS FULL.
  const std::int64_t longest = std::min<std::int64_t>(room - kQuoteQuadReserve, 0x7FFFFFF0);
  if (rd16(ws, hdr::OutColumn) >= longest) fail(E_WS_FULL, 1, 3);
  int length = static_cast<int>(longest);
  char* buffer = reinterpret_cast<char*>(ws + top + 16);
  const int read = sup_qtqdi(&length, buffer, ws);
  if (read == 0) fail(E_INTERRUPT, 1, 1);
  if (read != 4) fail(E_WS_FULL, 1, 3);
  // The object is built in place round the characters: a vector's data
  // lies 16 bytes in, a scalar's 12.
  const auto n = static_cast<std::uint32_t>(length);
  std::uint32_t size;
  if (n == 1) {
    wr8(ws, top + 12, rd8(ws, top + 16));
    wr16(ws, top + obj::Rank4, 0);
    size = 16;
  } else {
    wr16(ws, top + obj::Rank4, 4);
    wr32(ws, top + obj::Shape, n);
    size = std::max<std::uint32_t>((16 + n + 3) & ~3u, 16);
  }
  wr32(ws, top, 0);
  wr32(ws, top + obj::Size, size);
  wr8(ws, top + obj::Type, ET_CHAR);
  wr8(ws, top + obj::Flags9, 0);
  set_owner(top, hdr::TokenRegister, OK_STACK, ws);
  wr32(ws, hdr::HeapTop, top + size + 4);
  wr16(ws, hdr::State, state);
  set_register(top, ws);
}

// A shared variable read as a value: the host writes it at the heap top.
void shared_reference(std::uint32_t entry, Ws ws) {
  gcol(ws);
  const std::uint32_t top = rd32(ws, hdr::HeapTop);
  const std::int64_t room = std::int64_t(rd32(ws, hdr::StackPointer)) - top;
  if (room < kShareReserve) ws_full(ws);
  const std::uint32_t share = rd32(ws, entry + sym::Value);
  const int code = sup_svref(rdi32(ws, share + kShareProcessor), rd32(ws, share + kShareHandle), ws + top,
                             static_cast<int>(room - kShareReserve));
  if (code != 0) error(code, 0, 1, ws);
  const std::uint32_t size = rd32(ws, top + obj::Size);
  wr8(ws, top, 0);
  set_owner(top, hdr::TokenRegister, OK_STACK, ws);
  wr32(ws, hdr::HeapTop, top + size + 4);
  set_register(top, ws);
}

}  // namespace

void read_system_variable(int index, Ws ws) {
  std::uint32_t a = 0;
  switch (index) {
    case sysvar::LX:
      a = value_word(index, ws) ? copy_array(sysvar_value_word(index), ws) : new_char_vector({}, ws);
      break;
    case sysvar::IO:
    case sysvar::PP:
    case sysvar::PW:
    case sysvar::CS: a = new_int_scalar(rd16(ws, sysvar_value_word(index)), ws); break;
    case sysvar::RL: a = new_int_scalar(rdi32(ws, hdr::QuadRL), ws); break;
    case sysvar::CT: a = new_float_scalar(get_qct(ws), ws); break;
    case sysvar::HT: a = read_tab_stops(ws); break;
    case sysvar::FC:
      a = value_word(index, ws)
              ? copy_array(sysvar_value_word(index), ws)
              : new_char_vector(std::string_view(reinterpret_cast<const char*>(qfc_default), 6), ws);
      break;
    case sysvar::PR: {
      const auto c = static_cast<std::int16_t>(rd16(ws, sysvar_value_word(index)));
      const char one = static_cast<char>(c);
      a = new_char_vector(c < 0 ? std::string_view{} : std::string_view(&one, 1), ws);
      break;
    }
    default: ZEMA_SYSTEM_ERROR(ws);
  }
  set_register(a, ws);
}

void assign_system_variable(int index, std::uint32_t value_slot, Ws ws) {
  const std::uint32_t a = rd32(ws, value_slot);
  switch (index) {
    case sysvar::IO: {
      const std::int32_t v = single_natural(a, ws);
      if (v > 1) domner(ws);
      set_value_word(index, static_cast<std::uint32_t>(v), ws);
      break;
    }
    case sysvar::PP: {
      const std::int32_t v = single_natural(a, ws);
      if (v < 1) domner(ws);
      set_value_word(index, static_cast<std::uint32_t>(std::min(v, 15)), ws);
      break;
    }
    case sysvar::PW: {
      const std::int32_t v = single_natural(a, ws);
      if (v < 40 || v > 390) domner(ws);
      set_value_word(index, static_cast<std::uint32_t>(v), ws);
      sup_qpw(static_cast<std::uint16_t>(v), ws);
      break;
    }
    case sysvar::CS: {
      const std::int32_t v = single_natural(a, ws);
      if (v > 7) domner(ws);
      set_value_word(index, static_cast<std::uint32_t>(v), ws);
      break;
    }
    case sysvar::RL: {
      const std::int32_t v = single_natural(a, ws);
      if (v < 1 || v > 2147483646) domner(ws);
      wr32(ws, hdr::QuadRL, static_cast<std::uint32_t>(v));
      break;
    }
    case sysvar::CT: assign_ct(a, ws); break;
    case sysvar::HT: assign_ht(a, ws); break;
    case sysvar::LX: {
      const std::uint8_t type = array_type(a, ws);
      if (type == ET_OBJREF || type == ET_NESTED) domner(ws);
      assign_owned_value(index, value_slot, ws);
      break;
    }
    case sysvar::FC:
      if (array_type(a, ws) != ET_CHAR || array_rank(a, ws) != 1) domner(ws);
      if (array_axis(a, 0, ws) > 6) lener(ws);
      assign_owned_value(index, value_slot, ws);
      break;
    case sysvar::PR: assign_pr(a, ws); break;
    default: ZEMA_SYSTEM_ERROR(ws);
  }
}

double get_qct(Ws ws) {
  double d = 0;
  if (!dblflt(load_x80(ws + hdr::QuadCT), d)) d = 0;  // never: ⎕CT is below 1
  return d;
}

int xsvref(Ws ws) {
  const std::uint32_t value = rd32(ws, hdr::TokenRegister + se::Value);
  const std::uint8_t tag = value & 0xFF;
  if (tag & 1) {
    if (tag == kTokenQuoteQuad) {
      quote_quad_input(ws);
      return ES_NEXT_TOKEN;
    }
    if (tag != TK_QUAD) ZEMA_SYSTEM_ERROR(ws);
    return quad_input(ws);
  }
  const std::uint32_t token = value & 0xFFFF;
  const std::uint32_t entry = entry_of_token(token);
  switch (rd8(ws, entry + sym::Type) & kSymTypeMask) {
    case SYM_SYSVAR:
      if (!is_sysvar_token(token)) ZEMA_SYSTEM_ERROR(ws);
      read_system_variable(sysvar_index_of_token(token), ws);
      break;
    case SYM_SHARED: shared_reference(entry, ws); break;
    default: ZEMA_SYSTEM_ERROR(ws);
  }
  return ES_NEXT_TOKEN;
}

void xsvspc_named(std::uint32_t token, std::uint32_t value_entry, Ws ws) {
  find_ws_entry(value_entry, ws);  // VALUE ERROR when there is no value
  const std::uint32_t slot = (rd8(ws, value_entry + se::Class) & kOwnsObject)
                                 ? value_entry + se::Value
                                 : entry_of_token(rd16(ws, value_entry + se::Value)) + sym::Value;
  const std::uint32_t entry = entry_of_token(token);
  switch (rd8(ws, entry + sym::Type) & kSymTypeMask) {
    case SYM_SYSVAR:
      if (!is_sysvar_token(token)) ZEMA_SYSTEM_ERROR(ws);
      assign_system_variable(sysvar_index_of_token(token), slot, ws);
      break;
    case SYM_SHARED: {
      const std::uint32_t share = rd32(ws, entry + sym::Value);
      const int code = sup_svspc(rdi32(ws, share + kShareProcessor), rd32(ws, share + kShareHandle),
                                 ws + rd32(ws, slot));
      if (code != 0) error(code, 0, 1, ws);
      break;
    }
    default: ZEMA_SYSTEM_ERROR(ws);
  }
}

void prepare_indexed_special(std::uint32_t token, Ws ws) {
  if ((token & 1) || (rd8(ws, entry_of_token(token) + sym::Type) & kSymTypeMask) != SYM_SYSVAR) indxer(ws);
  if (token == sysvar_token(sysvar::LX)) {
    if (value_word(sysvar::LX, ws) == 0) indxer(ws);
    return;
  }
  if (token != sysvar_token(sysvar::FC)) indxer(ws);
  if (value_word(sysvar::FC, ws) != 0) return;
  // The default becomes ⎕FC's value first, through its own assignment.
  const std::uint32_t temp = new_char_vector(std::string_view(reinterpret_cast<const char*>(qfc_default), 6), ws);
  const std::uint32_t slot = stack(StackEntry{static_cast<std::uint8_t>(kOwnsObject | TC_VALUE), 0, temp}, ws);
  assign_system_variable(sysvar::FC, slot + se::Value, ws);
  StackEntry e;
  unstack(e, ws);
  mgarb(e.value, ws);
}

void save_quad_ct(std::uint32_t at, Ws ws) { std::memcpy(ws + at, ws + hdr::QuadCT, kExtended80Bytes); }
void restore_quad_ct(std::uint32_t at, Ws ws) { std::memcpy(ws + hdr::QuadCT, ws + at, kExtended80Bytes); }
void save_tab_stops(std::uint32_t at, Ws ws) { std::memcpy(ws + at, tab_stops(ws), kTabSaveBytes); }
void restore_tab_stops(std::uint32_t at, Ws ws) { std::memcpy(tab_stops(ws), ws + at, kTabSaveBytes); }

void sysvar_restored(int index, Ws ws) {
  if (index == sysvar::PW) sup_qpw(rd16(ws, sysvar_value_word(index)), ws);
  if (index == sysvar::PR) sup_qpr(static_cast<std::int16_t>(rd16(ws, sysvar_value_word(index))), ws);
}

}  // namespace zema
