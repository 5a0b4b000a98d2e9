// The class system functions: ⎕THIS ⎕NULL ⎕CLASSES ⎕CLASS ⎕INSTANCES
// ⎕BASE ⎕PARENT ⎕CHILDREN ⎕CLASSNAME ⎕CLASSREF ⎕HANDLE ⎕OID ⎕MEMBERS
// ⎕STATE ⎕DS ⎕DF ⎕GETCLASS ⎕REPARENT ⎕RECLASS ⎕CLONE, over the object
// pool and the classes of engine/classes.h.
//
// The functions that act on an object take it either plainly, as the
// current object (hdr::CurrentInstance: the instance or class whose method
// runs; none outside a method is DOMAIN ERROR), or through a reference
// written before them (ref.⎕CLASSNAME), where the null reference is an
// object of its own. Every reference a result holds is counted. Objects of
// ⎕WI and of external architectures do not exist yet: where a function
// must call their library it raises FILE I/O ERROR (no interface bound).
#pragma once

#include <cstdint>

#include "interpreter/sysfns/dispatch.h"

namespace zema {

// ---- the ⎕ handlers (dispatch table) ----
void sfthis(Ws ws);                                     // ⎕THIS: the calling instance, else ⎕NULL
void sfnull(Ws ws);                                     // ⎕NULL: the null reference
void sfclasses(Ws ws);                                  // ⎕CLASSES: every class, in slot order
void sfclass_monadic(SfArg right, Ws ws);               // ⎕CLASS R: R's class and its ancestors
void sfinstances_monadic(SfArg right, Ws ws);           // ⎕INSTANCES R
void sfinstances_dyadic(SfArg left, SfArg right, Ws ws);// L ⎕INSTANCES R (L 1: direct instances only)
void sfbase(Ws ws);                                     // ⎕BASE
void sfparent(Ws ws);                                   // ⎕PARENT (the same)
void sfhandle(Ws ws);                                   // ⎕HANDLE
void sfoid(Ws ws);                                      // ⎕OID
void sfds(Ws ws);                                       // ⎕DS
void sfchildren(Ws ws);                                 // ⎕CHILDREN
void sfclassname(Ws ws);                                // ⎕CLASSNAME
void sfclassref(Ws ws);                                 // ⎕CLASSREF
void sfmembers(Ws ws);                                  // ⎕MEMBERS
void sfdf(SfArg right, Ws ws);                          // ⎕DF T
void sfstate(SfArg right, Ws ws);                       // ⎕STATE B
void sfclone(SfArg right, Ws ws);                       // ⎕CLONE N
void sfgetclass_monadic(SfArg right, Ws ws);            // ⎕GETCLASS R
void sfreparent_dyadic(SfArg left, SfArg right, Ws ws); // L ⎕REPARENT R
void sfreclass_dyadic(SfArg left, SfArg right, Ws ws);  // L ⎕RECLASS R

// A ⎕ name written as the member of a reference (ref.⎕CLASSNAME,
// ref.⎕CLONE 2): `refs_word` holds the reference array, `number` is the ⎕
// name's number and `arg_word` the word holding the argument of a monadic
// one (0 for a niladic one). ⎕BASE ⎕PARENT ⎕HANDLE ⎕OID ⎕CHILDREN ⎕MEMBERS
// ⎕DS ⎕CLASSNAME ⎕CLASSREF (niladic) and ⎕STATE ⎕DF ⎕CLONE (monadic) act
// on the referenced object, and ⎕REF gives the reference itself; any
// other ⎕ name, or a valence that does not match, is SYNTAX ERROR. A scalar reference gives the function's result.
// An array of references of rank 1 or more runs the function once per
// object, in order, and collects the results into one array of the
// references' shape (as each does: simple when every result is a simple
// scalar of one kind); a non-scalar argument must have the references'
// rank (RANK ERROR) and shape (LENGTH ERROR), and its item i goes to
// object i. No objects: an empty array of their shape (characters when
// the argument is, else integers). Pushes the result or raises; the
// first object whose call fails ends it with that error.
void class_function_through_reference(std::uint32_t refs_word, std::uint32_t number, std::uint32_t arg_word, Ws ws);

// Makes `parent` (a pool slot, 0: none) the parent of the APL class in
// pool slot `cls` and stamps it. Answers 0, or 12 (nothing changed) when
// the parent is the class itself or one of its descendants. Writes the
// class's parent word and time stamp only.
int reparent_class(std::uint32_t cls, std::uint32_t parent, Ws ws);

}  // namespace zema
