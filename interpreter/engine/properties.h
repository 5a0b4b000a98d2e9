// Members of APL objects as dot notation reaches them: the access check,
// where a property's value lies for an instance or a class, and property
// assignment (an instance grows by one entry when it first gets a value of
// its own; a class-wide property is changed in the class that declares it).
#pragma once

#include <cstdint>

#include "interpreter/engine/classes.h"
#include "interpreter/workspace/workspace.h"

namespace zema {

// The member `token` of the APL object in `slot` (its class, then each
// ancestor), checked for use from here: VALUE ERROR when it is no member,
// DOMAIN ERROR with "Cannot access private class member from outside the
// class" for a private member while `slot` is not the current instance.
// Reads the pool and hdr::CurrentInstance; writes nothing.
MemberRef accessible_member(std::uint16_t token, std::uint32_t slot, Ws ws);

// The index of the instance `inst`'s own property entry for `token`, -1
// when it has none (and for anything that is not an instance).
int instance_property_index(std::uint32_t inst, std::uint16_t token, Ws ws);

// The offset of the word that holds the value of property `m` (found for
// `token`) of the object in `slot`: an instance's own entry, else (also
// for a class reached while the current instance is one of exactly that
// class: that instance's entry) the member's value in its class. 0 when
// the property has no value. Reads only.
std::uint32_t property_value_word(std::uint32_t slot, std::uint16_t token, const MemberRef& m, Ws ws);

// Gives property `token` (access flags `access`, as found) of the object
// in `slot` the array whose offset lies in the word at `value_word` (a
// stack entry's or symbol's value word, which compaction updates): a copy
// is stored, its references raised, the old value released. Not
// class-wide: a class stands for the current instance when that is one of
// exactly that class, else prints "Cannot assign to property without an
// instance of the class" and answers 8; an instance of a deleted class
// prints "Cannot assign to property - class has been deleted" and answers
// 28; an instance without its own entry grows by one. Class-wide: the
// declaring class is changed; a value holding references prints "Cannot
// assign array containing an object reference to a class-wide property"
// and answers 12. Answers 0, or 28 for no object. May compact; WS FULL.
int internal_assign_property(std::uint32_t slot, std::uint16_t token, std::uint32_t value_word, std::uint8_t access,
                             Ws ws);

}  // namespace zema
