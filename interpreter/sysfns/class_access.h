// The routines the host's class editor, debugger and workspace views call
// to read and change classes by name while the interpreter waits for
// input. They run on the caller's thread (the GUI thread); each takes
// class_access_mutex() for its whole run, and the thread that runs the
// interpreter holds the same mutex while it runs APL code, so that no two
// of them touch the workspace at once. The lock is recursive: a caller
// that must keep an address good across several calls (a value read, then
// stored) holds it around them.
//
// Names are texts in the internal character set (no terminating zero
// needed). A class is found by its name's symbol (a class name, type 16);
// a member name of 31 characters or more is refused; a combined name is
// "Class.member", split at its first dot. Values are machine addresses of
// array objects inside the workspace, valid until the interpreter runs or
// allocates again. Results are error codes: 0 success, 4 WS FULL,
// 12 DOMAIN ERROR, 20 LENGTH ERROR, 28 VALUE ERROR (not found),
// 104 SYSTEM LIMIT, 108 SYMBOL TABLE FULL. An error raised inside is
// answered as its code, ⎕ET and the error number left as they were.
#pragma once

#include <cstdint>
#include <mutex>
#include <string>
#include <string_view>

#include "interpreter/workspace/workspace.h"

namespace zema::class_access {

// The one lock of these routines (and of the interpreter's run).
std::recursive_mutex& class_access_mutex();

// The member `member` of the class `cls`: with `ancestors` the class and
// then each ancestor, else the class alone. Answers the address of its
// value (null for none) and sets `kind`: 0xFF not found, else the member's
// symbol type, 3 (with no value) for a property without value.
const std::uint8_t* get_named_class_member(std::string_view cls, std::string_view member, std::uint8_t* kind,
                                           bool ancestors, Ws ws);

// The property `member` of the instance in pool slot `slot`: its own
// value when it holds one, else its class's (through the ancestors). Null
// when the name is too long or unknown, the slot holds no APL object, or
// there is no value.
const std::uint8_t* get_named_instance_property(std::uint32_t slot, std::string_view member, Ws ws);

// Gives the class `cls` the property `member`, with a copy of the array at
// `value` (which must be an object of the heap) or, with null, without a
// value; the member name is entered in the symbol table when new. 12 for
// an unknown class, a member name too long, a member that is a method or a
// value outside the heap; 4 when the free gap is smaller than the class,
// the value and 1,024 bytes; 108, 104 from the symbol table.
int set_named_class_property(std::string_view cls, std::string_view member, const std::uint8_t* value, Ws ws);

// The access flags (1 private, 2 class-wide, 4 read-only) of the member
// named "Class.member"; 0 when there is no dot, or the class or member is
// unknown.
std::uint8_t get_member_details(std::string_view combined, Ws ws);

// Sets those flags (flags & 7) and stamps the class: 12 without a dot or
// for an unknown class, 20 for a member name too long, 28 when the name is
// not a member of the class itself.
int set_member_details(std::string_view combined, std::uint8_t flags, Ws ws);

// Makes `parent` the parent of `cls` (an empty parent: no parent), and
// stamps it: 28 for an unknown class or parent, 12 when the parent is the
// class or one of its descendants (nothing changes).
int reparent_named_class(std::string_view cls, std::string_view parent, Ws ws);

// Takes the member out of the class (a method's lines freed with it):
// 12 for a name of 31 characters or more, 28 for a name not in the symbol
// table or not a member, 12 when `cls` is no class.
int erase_named_member(std::string_view cls, std::string_view member, Ws ws);

// The class's text, lines separated by carriage returns (internal
// characters), copied out of the workspace; empty for a name that is no
// class or a text that does not fit.
std::string get_class_text(std::string_view cls, Ws ws);

// Writes the name of the symbol with token `token` at `out`, then a zero
// byte; answers the address of that zero byte. `out` must have room for
// 31 bytes.
char* output_sym_name(char* out, std::uint16_t token, Ws ws);

}  // namespace zema::class_access
