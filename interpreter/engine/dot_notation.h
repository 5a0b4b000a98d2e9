// Dot notation: an object reference, a dot and a member name (obj.Name,
// objs.Name, obj.A.B) reads a property or assigns one (obj.Name←V). The
// engine calls do_dot_notation when a value is followed by a bound dot.
#pragma once

#include <cstdint>

#include "interpreter/workspace/workspace.h"

namespace zema {

// Reduces the chain on top of the stack: the object entry, a bound dot and
// the member's name entry (entries 0, 1, 2), and what follows it (entry
// 3). Only the first name is taken (a further dot applies to its result).
// When entry 3 is an assignment arrow, the value below it (entry 4) is
// assigned to the member of each object, the chain and the arrow go and
// the value stays, marked as an assignment's (not displayed); else the
// chain is replaced by the member's value (an array of objects gives one
// item per object, in the objects' shape, made simple when every item is a
// simple scalar of one kind). Answers the engine's next state (bind).
// SYNTAX ERROR when the object entry holds no references or the member is
// not a name; VALUE ERROR for a null or free reference, a name that is no
// member and a property without a value; DOMAIN ERROR (with its text) for
// a private member from outside, a member that is not a property or is
// read-only under assignment; SYNTAX ERROR (after its text) for an
// instance property assigned on a class; LENGTH or RANK ERROR when the
// value's items do not match the objects; NONCE ERROR for methods, ⎕
// variables as members and objects of other architectures (not built
// yet). A ⎕ function as the member (obj.⎕CLASSNAME, obj.⎕CLONE 2, the
// value after a monadic one its argument) goes to the route below, whose
// result replaces the chain. May compact; WS FULL.
int do_dot_notation(Ws ws);

// The class system functions as members of a reference, installed by the
// session: the word holding the reference array, the ⎕ name's number, and
// the word holding the argument of a monadic one (0 for a niladic one).
// It pushes the result or raises. Without it such a member is NONCE ERROR.
using DotSystemMember = void (*)(std::uint32_t refs_word, std::uint32_t number, std::uint32_t arg_word, Ws ws);
void set_dot_system_member_route(DotSystemMember route);

// The token class the engine gives the name `token` read just right of the
// dot at byte `dot` of the token line at `line`, whose own class is `cls`:
// when a plain name (itself no member) left of the dot holds references
// (a variable or a class name), a method of the first object's class is a
// function (niladic: class 13, else 8) and a property a value (class 1),
// so that the name binds before the dot reduces it; otherwise, and for a
// name that is no member, `cls`. Reads only.
std::uint8_t member_name_class(std::uint16_t token, std::uint8_t cls, std::uint32_t line, std::uint32_t dot, Ws ws);

}  // namespace zema
