// APL classes built in the workspace: a class is a pooled object (element
// type 6, owner kind 5, architecture 0; layout pobj:: and mentry:: in
// object_pool.h) named by a symbol of type SYM_CLASS whose value is a
// scalar reference to the class's slot. The name's reference is counted
// (the class starts with count 1). Members are 12-byte entries, each
// holding one use of its name's symbol; a value a member holds is owned by
// the entry's value word (owner kind 0).
#pragma once

#include <cstdint>

#include "interpreter/workspace/workspace.h"

namespace zema {

// Makes the class named by symbol token `name` with room for `room`
// members, its parent the class named by `parent` (0: none). Reads the
// symbol table and the pool; writes a new pooled object, the name's value
// and type. For a name that is a class already: a given parent must be its
// parent; with `empty` the class is replaced in its own slot by an empty
// one (count, slot, parent, name and serial kept, new stamp), else it is
// kept. Answers 0, or 12 when the parent is no class, the parent differs,
// or the name has another value. May compact; WS FULL.
int create_empty_class(std::uint16_t name, std::uint16_t parent, std::uint32_t room, bool empty, Ws ws);

// The class object named by symbol token `token`: 0 unless the symbol is
// of type SYM_CLASS and its value a scalar reference to a live class.
std::uint32_t class_def_from_symidx(std::uint16_t token, Ws ws);

// The class object in pool slot `slot`, 0 for a free slot or anything else.
std::uint32_t class_in_slot(std::uint32_t slot, Ws ws);

// A member found along the parent chain.
struct MemberRef {
  std::uint32_t value = 0;   // the member's value object, 0 none (and for kind 15)
  std::uint8_t kind = 0xFF;  // symbol type of the member, 0xFF not found
  std::uint8_t access = 0;   // kPrivate, kClassWide, kReadOnly
  std::uint32_t owner = 0;   // slot of the class that declares it, 0 not found
};

// The member named by `token` in the class or instance in `slot`: the first
// entry with the token in its class, then in each ancestor (a class's
// member hides an ancestor's). A deleted class (name symbol 0) has none.
MemberRef internal_class_member(std::uint16_t token, std::uint32_t slot, Ws ws);

// The index of the entry for `token` in the class object `cls` itself
// (ancestors not searched), -1 when none.
int own_member_index(std::uint32_t cls, std::uint16_t token, Ws ws);

// Gives the class in `slot` the property `token`: with `value` (an array
// object, copied; its references raised) kind 3, without (0) kind 15, any
// old value of that member released; a new member is appended (the class
// grows when it has no room) with access flags 0. Answers 0, 12 when the
// slot holds no class or the name is a method of the class. May compact;
// WS FULL.
int set_named_class_property(std::uint32_t slot, std::uint16_t token, std::uint32_t value, Ws ws);

// Sets the access flags of the class's own member `token`; 28 when the
// class has no such member, 12 when the slot holds no class.
int set_member_details(std::uint32_t slot, std::uint16_t token, std::uint8_t access, Ws ws);

// Stamps the class object `cls` with the current time.
void stamp_class(std::uint32_t cls, Ws ws);

// Takes the member `member` out of the class named by `cls_token`: its
// value released, later entries moved down, its symbol use given up.
// Answers 0, or 28 when the class has no such member (12 when the name is
// no class).
int delete_class_member(std::uint16_t cls_token, std::uint16_t member, Ws ws);

// The class named by `token` is deleted: its name symbol word becomes 0, so
// that its members are no longer found. The name's value (the reference)
// is released by the caller that erases the name; the class lives on while
// other references hold it. Nothing when the name is no class.
void mark_class_as_deleted(std::uint16_t token, Ws ws);

// The privacy check of member access: a member whose access flags hold
// kPrivate, used on the object in `slot` while that object is not the
// current instance (hdr::CurrentInstance), raises DOMAIN ERROR with the
// message "Cannot access private class member from outside the class".
// Public members, and private ones used from inside, return. Reads the
// header word only.
void check_privacy_violation(std::uint32_t slot, std::uint8_t access, Ws ws);

// The instance a method of the current object works for: the current
// object (hdr::CurrentInstance) when it is an instance; when it is a class,
// the saved instance of the nearest state-indicator frame that saved one
// (a frame that saved none, or a freed object, ends the search); 0 when
// there is none. Reads the header and the state indicator.
std::uint32_t find_calling_instance(Ws ws);

// Erases the class name of symbol entry `entry` (a global name of type
// SYM_CLASS): the class is marked deleted, the name loses its value (the
// class's reference, so the class is freed unless other references hold
// it) and its symbol use. Answers false, doing nothing, for any other name.
bool erase_class_name(std::uint32_t entry, Ws ws);

}  // namespace zema
