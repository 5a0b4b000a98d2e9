// Where the ten system variables live in the symbol table, for every layer
// that reads one (the rules for reading and setting them are in the
// engine's sysvars.h).
//
// The system variables are the first ten fixed symbol entries, symbol
// tokens 0, 2 … 18 (index = token ÷ 2). Where each keeps its value:
//   ⎕LX  value word: a value object owned by the entry, 0 for none
//   ⎕IO ⎕PP ⎕PW ⎕CS  value word: the number
//   ⎕RL  header word hdr::QuadRL
//   ⎕CT  header hdr::QuadCT, 80-bit extended
//   ⎕HT  the tab-stop buffer of LowGlobals (sup_tabs; not saved)
//   ⎕FC  value word: a character vector owned by the entry, 0 for none
//   ⎕PR  value word: a character code 0-255, or -1 for none
// ⎕PW and ⎕PR are also kept in LowGlobals as the session's settings
// (sup_qpw, sup_qpr).
#pragma once

#include <cstdint>

#include "interpreter/workspace/symtab.h"
#include "interpreter/workspace/workspace.h"

namespace zema {

// The system variables by index, in symbol-table order.
namespace sysvar {
enum Index : int { LX = 0, IO, PP, PW, RL, CT, HT, FC, PR, CS };
constexpr int kCount = 10;
}  // namespace sysvar

// The symbol entry of system variable `index`, its value word, and its
// symbol token.
constexpr std::uint32_t sysvar_entry(int index) { return kSymtabStart + kSymtabEntrySize * std::uint32_t(index); }
constexpr std::uint32_t sysvar_value_word(int index) { return sysvar_entry(index) + sym::Value; }
constexpr std::uint32_t sysvar_token(int index) { return 2 * std::uint32_t(index); }
// True when the symbol token `token` names a system variable.
constexpr bool is_sysvar_token(std::uint32_t token) { return token < 2 * sysvar::kCount && token % 2 == 0; }
// The index of the system variable whose symbol token is `token` (one that
// is_sysvar_token accepts).
constexpr int sysvar_index_of_token(std::uint32_t token) { return static_cast<int>(token / 2); }

// ⎕IO, read from its value word.
inline std::int32_t quad_io(Ws ws) { return rdi32(ws, sysvar_value_word(sysvar::IO)); }

}  // namespace zema
