// The symbol table: one 16-byte entry per name in the workspace, sixteen
// fixed entries for the system variables followed by a bucket area of 27
// equal buckets (A-Z and "everything else") searched by linear probing.
//
// Three kinds of "where" appear in this API; each routine says which:
//   - entry offset   : workspace offset of the entry (from `ws`);
//   - table offset   : offset of the entry from the table base (kSymtabStart),
//                      = entry offset - kSymtabStart; the fixed entries are
//                      table offsets 0..255, the bucket area starts at 256;
//   - symbol token   : table offset / 8 (always even, fits 16 bits).
//
// The name to look up or enter is passed in the name buffer (header 0x38,
// 30 bytes, internal character set) with its length given separately. The
// tokeniser drops characters past the 30th before filling the buffer; these
// routines take 1 <= length <= 30.
#pragma once

#include <cstdint>
#include <string>

#include "interpreter/workspace/workspace.h"

namespace zema {

// ---- layout -----------------------------------------------------------------

// Fields of an entry (offsets from the entry).
namespace sym {
constexpr std::uint32_t Name = 0;      // w: packed short name, or offset of the name object
constexpr std::uint32_t Value = 4;     // w: value object offset / number / sysfn number x 4
constexpr std::uint32_t Type = 8;      // b: SymbolType in bits 0-6, bit 7 localisation flag
constexpr std::uint32_t Length = 9;    // b: name length 1-30; 0 = free entry
constexpr std::uint32_t Uses = 10;     // h: number of symbol tokens referring to the entry
constexpr std::uint32_t Reserved = 12; // w: 0 on entry; parked value of the result display
}  // namespace sym

// The type byte (sym::Type): the SymbolType, and the mark of a name
// localised by a running defined function.
constexpr std::uint8_t kSymTypeMask = 0x7F;
constexpr std::uint8_t kSymLocalFlag = 0x80;
// Most uses an entry counts (sym::Uses); one more is SYSTEM LIMIT.
constexpr std::uint16_t kMaxUses = 0xFFFF;

// Bucket area: starts after the sixteen fixed entries.
constexpr std::uint32_t kFixedAreaBytes = kSymtabFixed * kSymtabEntrySize;  // 256
constexpr std::uint32_t kBucketArea = kSymtabStart + kFixedAreaBytes;      // 0x4F8

// The name buffer and the system-function result the tokeniser leaves for syment.
constexpr std::uint32_t kNameBuffer = 0x038;     // 30 bytes of characters
constexpr std::uint32_t kMaxNameLength = 30;     // longer names are cut to 30 characters
constexpr std::uint32_t kSysFnNumber = 0x060;    // w: system-function number x 4
constexpr std::uint32_t kSysFnType = 0x064;      // b: SymbolType of that function (6 or 9)

// First character of a system name (⎕ in the internal character set).
constexpr std::uint8_t kQuadChar = 0x4C;

// Bit 0 of this header byte: the line being tokenised belongs to an executed text.
constexpr std::uint32_t kInsideExecuteByte = 0x173;

// What an entry names (bits 0-6 of sym::Type).
enum SymbolType : std::uint8_t {
  SYM_FN0 = 0,        // defined function, no arguments
  SYM_FN1 = 1,        // monadic defined function
  SYM_FN2 = 2,        // dyadic defined function
  SYM_VAR = 3,        // variable
  SYM_LABEL = 4,      // label of a running defined function
  SYM_SYSVAR = 5,     // system variable (never released by clnus2)
  SYM_SYSFN0 = 6,     // system function without arguments
  SYM_SHARED = 7,     // shared variable
  SYM_GROUP = 8,      // group of names (name class 5)
  SYM_SYSFN = 9,      // system function taking arguments
  SYM_OPERAND = 10,   // function operand of a running defined operator
  SYM_OP_FIRST = 11,  // defined operators 11-14
  SYM_OP_LAST = 14,
  SYM_UNDEF = 15,     // name without a value
  SYM_CLASS = 16,     // class name
};

// True for a defined function or operator (types 0-2 and 11-14).
inline bool is_function_type(std::uint8_t type) {
  return type <= SYM_FN2 || (type >= SYM_OP_FIRST && type <= SYM_OP_LAST);
}

// Name class (as ⎕NC reports it) of each SymbolType, indexed by type (18 bytes).
extern const std::uint8_t fttb[18];

// ---- conversions ----------------------------------------------------------------

// Between the three kinds of "where" (see the top of this file); pure
// arithmetic, nothing is read or checked.
// Entry offset of table offset `rel`.
constexpr std::uint32_t entry_of_table_offset(std::uint32_t rel) { return kSymtabStart + rel; }
// Table offset of the entry at entry offset `entry`.
constexpr std::uint32_t table_offset_of_entry(std::uint32_t entry) { return entry - kSymtabStart; }
// Entry offset of symbol token `token` (token × 8 from the table base).
constexpr std::uint32_t entry_of_token(std::uint32_t token) { return kSymtabStart + token * 8; }
// Symbol token of the entry at entry offset `entry`.
constexpr std::uint32_t token_of_entry(std::uint32_t entry) { return (entry - kSymtabStart) / 8; }
// Symbol token of table offset `rel`.
constexpr std::uint32_t token_of_table_offset(std::uint32_t rel) { return rel / 8; }

// Size of the name object of a name of `length` (> 3) characters.
constexpr std::uint32_t name_object_size(std::uint32_t length) { return (length + 11) & ~3u; }

// ---- routines -------------------------------------------------------------------

// (length << 24) | (c0 << 16) | (c1 << 8) | c2, taking the three bytes at
// `text` whatever the length.
std::uint32_t get_sname_as_integer(std::uint32_t length, const std::uint8_t* text);

// Bucket (0-26) of a name by its first character: A-Z and ∆ (a-z and ⍙
// fold onto them) give 0-25, everything else 26.
std::uint32_t symbol_bucket(std::uint8_t first_char);

// Looks up the name in the name buffer in the bucket area. Answers 0 when
// found: `found` = its table offset. Answers 1 when not found: `found` = 0.
// Either way `first_free` = entry offset of the first free entry met in
// probe order from the name's bucket (wrapping round the area), 0 when none.
// The fixed entries are never searched. Short and long names never match
// each other: the length byte is always compared.
int symfnd(std::uint32_t& first_free, std::uint32_t& found, std::uint32_t length, Ws ws);

// Fills the free entry at entry offset `entry` with the name in the name
// buffer: type 15, no value, no uses; a ⎕ name takes its value word and
// type from kSysFnNumber/kSysFnType. A long name gets its name object from
// allocate_long_name_memory. Answers the entry's table offset.
std::uint32_t syment(std::uint32_t entry, std::uint32_t length, Ws ws);

// Takes `size` bytes plus an owner word from the top of the free gap by
// lowering the token-area limit (hdr::TokenAreaLimit); answers the new
// object's offset (owner word just below it). fxnms later slides these
// objects into the heap. WS FULL unless 12 bytes stay free above the heap
// top (the free block the fix-up makes of the gap).
std::uint32_t allocate_long_name_memory(std::uint32_t size, Ws ws);

// Counts one more use of the entry at table offset `rel`; answers its entry
// offset. At 0xFFFF uses already: SYSTEM LIMIT through `limit` (cursors are
// signed offsets from ws of the text and the token line at the name).
std::uint32_t symuse(std::uint32_t rel, std::int32_t text_cursor, std::int32_t token_cursor, Ws ws);

// Drops one use of the entry with symbol token `token`.
void clnuse(std::uint32_t token, Ws ws);
// Drops one use of the entry at entry offset `entry`. System variables are
// left alone. At zero uses the name object (if any) is released and the
// entry zeroed (free).
void clnus2(std::uint32_t entry, Ws ws);

// The name of the entry at entry offset `entry` (internal characters).
std::string symbol_name(std::uint32_t entry, Ws ws);

// Entry errors raised by the symbol table; neither returns. The cursors
// (where the caret would go) are taken but not used yet.
// SYMBOL TABLE FULL (108, ⎕ET 1 4): no free entry for a new name.
[[noreturn]] void symtfl(std::int32_t text_cursor, std::int32_t token_cursor, Ws ws);
// SYSTEM LIMIT (104, ⎕ET 1 13): an entry already counts kMaxUses uses.
[[noreturn]] void limit(std::int32_t text_cursor, std::int32_t token_cursor, Ws ws);

}  // namespace zema
