// Methods of APL objects called through dot notation (obj.Name, obj.Name R,
// L obj.Name R): the chain becomes a method reference (a derived-function
// object holding a counted copy of the object references and the member's
// token) that the engine applies like any function. The call selects the
// object (hdr::CallingInstance); the called level makes it the current
// object (hdr::CurrentInstance), finds the method's lines through it and
// holds a reference to it until the level ends, however it ends.
#pragma once

#include <cstdint>

#include "interpreter/workspace/workspace.h"

namespace zema {

// hdr::RunningSymbol of a level that runs a method: its lines are the
// member hdr::RunningToken of the current object (no symbol holds them).
constexpr std::uint32_t kMethodLevel = 1;

// The current object: the instance or class whose method is running, 0
// outside any method. Reads hdr::CurrentInstance only.
std::uint32_t current_object(Ws ws);

// The header line of method `token` (a function member, kind 0–2, found in
// the class of the APL object in `slot` and then its ancestors); 0 when the
// object is none, of another architecture, or has no such method. Writes
// the member's kind to `*kind` when found and `kind` is not null. Reads only.
std::uint32_t method_function(std::uint16_t token, std::uint32_t slot, std::uint8_t* kind, Ws ws);

// The class a level's method belongs to, from the level's running-symbol
// word, its current object and its running token (the header words, or
// a frame's saved ones): the pool slot of the class or ancestor that
// declares the member; 0 for a level that runs no method (a workspace
// function, immediate execution); kLostMethodClass when the method is no
// longer found (its class deleted, its object freed). Reads only.
constexpr std::uint32_t kLostMethodClass = 0xFFFFFFFFu;
std::uint32_t method_level_class(std::uint32_t running_symbol, std::uint32_t object, std::uint16_t token, Ws ws);

// The token of the class name a listing puts before a method level's name
// ("Class.Method"): the name of the class that declares the method; 0 for
// a level that runs no method, or when the class has none (deleted).
std::uint16_t method_level_class_name(std::uint32_t running_symbol, std::uint32_t object, std::uint16_t token, Ws ws);

// Whether the stack entry at `entry` owns a method reference; whether the
// object at `d` is one. Read only.
bool is_method_reference(std::uint32_t entry, Ws ws);
bool is_method_reference_object(std::uint32_t d, Ws ws);

// Continuation kind of the operator frame of a call over an array of
// objects (operator_frame.h).
constexpr std::uint32_t kArrayMethods = 56;

// x_do_next_opr for kArrayMethods, with the call's result on its link:
// counts it and calls the method on the next object (a reference to that
// object alone, the arguments' next items), or, after the last, replaces
// the frame by the results made one array of the objects' shape (the
// no-value entry when some call gave no value). Answers the engine state.
int array_method_return(Ws ws);

// From do_dot_notation, with the chain on top of the stack (object entry,
// bound dot, member name) and member `token` a method of kind `kind` of the
// first object: the three entries become one method reference. A niladic
// method (kind 0) is called at once, its result left in the chain's place;
// otherwise answers state 9 for the engine to apply the reference. WS FULL.
int push_method_reference(std::uint16_t token, std::uint8_t kind, Ws ws);

// Apply the method reference on the stack: monadic with the reference on
// top and the right argument under it; dyadic with the left argument on
// top, then the reference and the right argument. An array of objects:
// one call per object through an operator frame, in ravel order, each
// argument that is not a scalar giving its item i to object i (RANK or
// LENGTH ERROR when it does not have the objects' shape); no object gives
// an empty result of their shape. One object: the method
// is called with that object selected (VALUE ERROR for a null or free
// reference or a name that is no member, DOMAIN ERROR for a private
// member from outside, VALENCE ERROR when the header does not take the
// arguments, NONCE ERROR for objects of another architecture). Answers
// the engine state of the call.
int method_reference_monadic(Ws ws);
int method_reference_dyadic(Ws ws);

}  // namespace zema
