// Names given to system functions as text, and the erasure of one name's
// object: what ⎕EX, ⎕NC, ⎕AT, ⎕TF, ⎕FX and ⎕NA share.
//
// A name is a letter (A–Z, ∆, a–z, ⍙) followed by letters, digits, _ and ¯,
// with blanks allowed before and after it; it is looked up on its first 30
// characters. A ⎕ name is looked up among the system variables and the
// system functions.
#pragma once

#include <cstdint>

#include "interpreter/sysfns/dispatch.h"

namespace zema {

// What a name's text is.
enum class NameKind : std::uint8_t {
  Empty,    // blanks only, or no characters
  Invalid,  // not one valid name (a ⎕ name of no system variable or function included)
  Unknown,  // a valid name not in the symbol table
  Found,    // a valid name in the symbol table
  System,   // a ⎕ name of a system function not yet in the symbol table
};
struct NameRef {
  NameKind kind = NameKind::Empty;
  std::uint32_t entry = 0;   // Found: the symbol entry's offset
  std::uint8_t type = 0;     // Found and System: the symbol type (System: 6 or 9)
  std::uint32_t start = 0;   // the name's first character, from the text's start
  std::uint32_t length = 0;  // its length (at most 30 kept for the lookup)
};

// Reads the name in the `n` internal characters at `text` (which may lie
// in the workspace: nothing is allocated). The lookup uses the name buffer
// (kNameBuffer). Valid names are copied there whether found or not.
NameRef look_up_name(const std::uint8_t* text, std::uint32_t n, Ws ws);

// The symbol entry of the name of `length` characters (the first 30 kept)
// in the name buffer (kNameBuffer; look_up_name leaves a valid name there),
// entered when it is new. SYMBOL TABLE FULL; WS FULL when its name object
// cannot fit. A new entry fixes the token area's limit and the names
// (fxnms).
std::uint32_t enter_buffer_name(std::uint32_t length, Ws ws);

// Whether `c` may follow the first letter of a name.
bool name_char(std::uint8_t c);

// A name-list argument: a character scalar or vector (one name) or matrix
// (one name per row). DOMAIN ERROR when it is not characters (an empty
// numeric array included), RANK ERROR above rank 2. A scalar counts as
// 1 × 1, a vector as one row.
struct NameRows {
  std::uint32_t rows = 0;
  std::uint32_t columns = 0;
  bool matrix = false;  // the argument has rank 2
};
NameRows name_rows(SfArg arg, Ws ws);
// Row `i` of the argument: its characters (valid until the workspace
// compacts).
const std::uint8_t* name_row(SfArg arg, const NameRows& rows, std::uint32_t i, Ws ws);

// Whether the defined function or operator whose symbol entry is given may
// be erased or replaced: walking the state indicator from the running
// level outwards, a level that localises the name shields it (the visible
// object is its local), a level whose running function is the name
// forbids it.
bool function_erasable(std::uint32_t entry, Ws ws);

// Frees a function object: the header line at `header` and every line
// chained from it (each gives up its symbol uses).
void erasfn(std::uint32_t header, Ws ws);

// Erases the object of the symbol entry: a variable (its value handed to a
// pending stack entry that names it, else freed) or a shared variable; a
// defined function or operator when function_erasable allows. The entry is
// left without a value (type 15, the localisation bit kept); an entry that
// is not localised loses the use its value counted, and goes at zero uses.
// Answers true when it erased; false for labels, system names, groups,
// operands, classes, names without value and functions in use.
bool erase_object(std::uint32_t entry, Ws ws);

}  // namespace zema
