// Class-definition mode: a ∇ line whose header ends with "{" (or "{}")
// opens it for a class (created when new, reopened when it exists); each
// later line is a property line, a ∇ function definition or the "}" that
// closes it. The header line is kept in hdr::ClassDefining (owner word
// there) and the class name's token in hdr::ClassWord while it is open.
#pragma once

#include <cstdint>

#include "interpreter/workspace/workspace.h"

namespace zema {

// Whether the finished header line in the kill slot ends with "{" or "}"
// (after any comment): a class header, for open_class_definition.
bool is_class_header(Ws ws);

// Opens the mode for the header line in the kill slot: Name {, Name;P;Q {,
// Child:Parent {, with "{}" for an empty class closed at once. Reads the
// symbol table and the pool; creates or reopens the class; takes the line
// from the kill slot into hdr::ClassDefining. DEFN ERROR after printing
// the reason (already in a mode, no brace at the end, a system name, a
// parent that is no class, a different parent, a name in use).
void open_class_definition(Ws ws);

// A line finished while the mode is open (in the kill slot): "}" closes
// the mode; name, {name}, name←expr, name←←expr, {name←expr} and
// {name←←expr} define properties. Answers 0 (taken), 12 (refused: a
// "Class defn error: …" line printed, the mode left open) or 4 (a line of
// an executed text while the class word is set aside, to be run as usual). The kill slot is cleared when
// the line is taken or refused.
int consider_class_defn_line(Ws ws);

// Ends the mode: the header's names after ";" become the private members
// (the rest are listed after "Not found in class:"), the class is stamped,
// the header released, hdr::ClassDefining and hdr::ClassWord cleared. With
// no mode open it only clears hdr::ClassWord.
void close_class_definition(Ws ws);

// Puts consider_class_defn_line into the tokeniser's routes.
void install_class_definition_routes();

}  // namespace zema
