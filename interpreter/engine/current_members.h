// Plain names inside a method: while a method of an APL object runs (the
// current object, hdr::CurrentInstance), a name that is a member of that
// object stands for the member (its own property value, else the class's;
// a method of the class), before any workspace name of the same spelling.
// The method's own local names (result, arguments, localised names and
// labels of its level) hide members of the same name.
#pragma once

#include <cstdint>

#include "interpreter/workspace/stack.h"
#include "interpreter/workspace/workspace.h"

namespace zema {

// A member of an object as a plain name finds it.
struct CurrentMember {
  std::uint32_t word = 0;    // the word holding the property's value offset, 0 none (or a method)
  std::uint8_t kind = 0xFF;  // symbol type of the member (3 an own property value), 0xFF not a member
  std::uint8_t access = 0;   // kPrivate, kClassWide, kReadOnly (0 for an own property value)
};

// Member `token` of the object in `slot` (0: the current object): the
// object's own property entry first (kind 3, access 0), else the member of
// its class or an ancestor, with the privacy check (DOMAIN ERROR from
// outside); a property of a class reached while an instance of exactly
// that class is current gives that instance's value. Kind 0xFF when there
// is no object or no such member. Reads the pool and the header only.
CurrentMember find_current_class_member(std::uint16_t token, std::uint32_t slot, Ws ws);

// Whether `token` is a local name of the running method's level (the
// newest function level of the state indicator; evaluation levels above
// it skipped). Reads the symbol and the frame's records.
bool local_of_running_level(std::uint16_t token, Ws ws);

// Whether the level of the state-indicator frame `frame` has a local
// record (a name or a label) for `token`. Reads the frame's records.
bool frame_localises(std::uint32_t frame, std::uint16_t token, Ws ws);

// For the engine's token fetch: the stack entry the name `token` stands
// for while a method runs and the name is a member of the current object
// (and no local of the method): a property gives a fresh copy of its value
// (kOwnsObject | TC_VALUE; VALUE ERROR when it has none), or the name
// itself as a value when it is the target of an assignment (the arrow on
// top of the stack); a method gives the name with the class of its valence.
// Answers false, writing nothing, for every other name. Indexed assignment
// to a member (NAME[I]←V) is NONCE ERROR. May compact; WS FULL.
bool current_member_entry(std::uint16_t token, StackEntry& out, Ws ws);

// Whether the plain name `token` is a member of the current object now
// (not hidden by a local).
bool is_current_member_name(std::uint16_t token, Ws ws);

// Gives property `token` of an object the array whose offset lies in the
// word at `value_word`: with `target` 0 the current object (none: NONCE
// ERROR), else the object the variable named by symbol token `target`
// refers to (a scalar or one-element reference vector; DOMAIN ERROR for a
// name that is no variable or holds no references, LENGTH ERROR for a
// longer vector, RANK ERROR above rank 1, NONCE ERROR for no object).
// DOMAIN ERROR "Cannot assign to class member - not a property" for a
// method, "Cannot assign to read-only property" for a read-only one, the
// privacy DOMAIN ERROR from outside; VALUE ERROR for no such member; then
// internal_assign_property, whose code is raised. May compact; WS FULL.
void assign_current_class_member(std::uint16_t token, std::uint16_t target, std::uint32_t value_word, Ws ws);

// For assignment to a plain name: when the name is a member of the current
// object (and no local of the method), assigns the value of the stack
// entry at `value_entry` to it and answers the engine state; the entries
// are dropped as a named assignment drops them, the value (not the name)
// left in the token register marked as an assignment's result; with
// `strand` (one name of a strand assignment) only the value entry's object
// goes. Answers -1, changing nothing, for any other name.
int assign_current_member_name(std::uint16_t token, std::uint32_t value_entry, bool strand, Ws ws);

}  // namespace zema
