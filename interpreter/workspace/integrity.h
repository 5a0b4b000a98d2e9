// Three small services: the workspace integrity check, the host's access
// to the ⎕MOUNT table, and APL errors raised with an explanatory line of
// their own (extended errors).
#pragma once

#include <cstdint>

#include "interpreter/workspace/workspace.h"

namespace zema {

// What check_integrity found wrong (0: nothing).
enum IntegrityFailure : int {
  IF_OK = 0,
  IF_NAME_TOO_LONG = 1,        // a name length above 30
  IF_SHORT_NAME_LENGTH = 2,    // a packed name's top byte is not its length
  IF_NAME_OBJECT_SIZE = 3,     // a long name's object has the wrong size
  IF_SHORT_NAME_PADDING = 4,   // packed bytes after a short name are not 0
  IF_SYMBOL_KIND = 7,          // a symbol kind above 16
  IF_VALUE_OWNER_KIND = 8,     // a symbol's value is not owned through a symbol (kind 4)
  IF_VALUE_OWNER = 9,          // a symbol's value's owner word is not the symbol
  IF_HEAP_CHAIN = 10,          // the heap walk passes the heap top
  IF_OWNER_KIND = 11,          // an owner kind the heap does not know, or a pool kind without a pool
  IF_OWNER_SLOT = 12,          // an owner's slot does not hold the object
  IF_TOKEN_LINE_MARK = 13,     // a value carries the token-line mark (0x40 in byte 1)
  IF_GARBAGE_COUNT = 14,       // the free blocks do not add up to the garbage count
  IF_OFFSET_RANGE = 15,        // an offset beyond the heap top, or an owner beyond the top
};

// Checks the symbol table's bucket area, the ownership of every symbol's
// value and every heap object, and the garbage count. Raises nothing: the
// caller decides what a failure means. Entries of a name without a value
// and without a name word are emptied on the way.
int check_integrity(Ws ws);

// The host's view of the ⎕MOUNT table (2,600 bytes): the first `n` bytes
// are replaced from `bytes` when n > 0, then the whole table is copied to
// `destination`.
void change_qmount(Ws ws, int n, const std::uint8_t* bytes, std::uint8_t* destination);

// Writes `message` (internal characters, NUL-terminated, at most 511 used)
// on a line of its own in the error colour, unless it is null or empty or
// a trap is armed.
void print_extended_error(const std::uint8_t* message, Ws ws);
// Writes the message, then raises the APL error of `code` (an ErrorCode).
[[noreturn]] void raise_extended_error(int code, const std::uint8_t* message, Ws ws);
// The same with a message in the host's character code.
[[noreturn]] void raise_extended_error_ascii(int code, const char* message, Ws ws);

}  // namespace zema
