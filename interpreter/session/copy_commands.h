// )COPY, )PCOPY and their quiet forms )SCOPY, )SPCOPY: objects taken from a
// saved workspace into the current one.
//
// Only one workspace fits the block, so a copy goes by way of the task's
// two temporary files: the current workspace is saved to the first, the
// source workspace loaded in its place, each object to copy written as a
// record to the second file, the first file loaded back and the records
// fixed into it one by one. Any failure after the switch loads the first
// file back (and, should that image not load, puts back the copy of the
// workspace kept in memory: the workspace is never lost); both files are
// removed on every path. A group named in the list brings the members it
// names that have values.
//
// Record (host byte order): kind byte (0 function or operator as text, 3
// variable, 8 group, 16 class, 31 instance: copy_objects.h), a flag byte (functions: 0x80 locked), a 16-bit line count (functions), a
// 32-bit length of the whole record, a 16-bit name length, the name (30
// bytes); from byte 40 the value's heap object unchanged, or the
// function's lines in listing form, each ended by a carriage return.
// A variable's references are translated to the instances the copy made.
#pragma once

#include <cstdint>

#include "interpreter/workspace/workspace.h"

namespace zema {

// Gives the copy commands' codes (C_COPY_NAME, C_PCOPY_NAME, C_COPY_LIST,
// C_PCOPY_LIST) their handlers.
void install_copy_commands();

// A name list of )COPY, )PCOPY, )IN or )OUT longer than the 512-byte copy
// buffer: prints COPY BUFFER FULL unless a ⎕ERX trap line is armed or
// ⎕EA or ⎕EC text runs (the program takes the failure itself). Answers
// 12, the command refused.
int copy_buffer_full(Ws ws);

}  // namespace zema
