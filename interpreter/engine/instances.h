// Instances of APL classes: pooled objects (element type 8, owner kind 1,
// architecture 0; layout pobj:: in object_pool.h) that point to their
// class (pobj::ClassSlot, with the class-name symbol in pobj::NameSymbol)
// and hold one 12-byte property entry (mentry::) for each property given a
// value in that instance; a new instance holds none.
#pragma once

#include <cstdint>

#include "interpreter/workspace/workspace.h"

namespace zema {

// Size of a new instance without property entries.
constexpr std::uint32_t kNewInstanceSize = 84;

// The class object the argument of ⎕NEW (or a class system function)
// names: `array` a character scalar or vector (a class name of at most 30
// characters, through the symbol table), or a reference array (its first
// element; with `any_length` clear only a scalar or a one-element vector).
// Answers 0 for anything else, or when no live APL class is named.
std::uint32_t class_def_from_name(const std::uint8_t* text, std::uint32_t n, Ws ws);
std::uint32_t class_def_from_obj_ref_array(std::uint32_t array, bool any_length, Ws ws);

// A new APL instance of the class in pool slot `cls_slot`: 84 bytes, no
// properties, count 0 (the reference its creator keeps takes the first).
// Answers its slot. DOMAIN ERROR "Cannot create instance - class has been
// deleted" for a deleted class. May compact; WS FULL.
std::uint32_t create_apl_instance(std::uint32_t cls_slot, Ws ws);

// The constructor of the class or instance in `slot`: from its class up
// through the ancestors, the first class with a member named like the
// class itself; 0 when there is none, or the member is no method, or a
// deleted class is met first. `kind` gets the member's kind (0–2).
std::uint16_t internal_find_constructor(std::uint32_t slot, std::uint8_t& kind, Ws ws);

// The index of the property entry for `token` in the instance at `off`,
// -1 when it has none (always for a class or an instance without class).
int internal_find_instance_property(std::uint32_t off, std::uint16_t token, Ws ws);

// ⎕NL of an object: the names of the public members of the class or
// instance in `slot` and of its ancestors (a child's member hiding a
// parent's of the same name) whose name class n has bit n of `mask` set
// (2 a property, 3 a method), as a character matrix sorted by name, pushed
// as the result. WS FULL when it does not fit.
void internal_quad_nl(std::uint32_t mask, std::uint32_t slot, Ws ws);

}  // namespace zema
