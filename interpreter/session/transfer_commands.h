// )IN and )OUT: transfer files (files/transfer_records.h) read into and
// written from the workspace through ⎕TF in its transfer mode.
#pragma once

namespace zema {

// Gives the dispatcher the handlers of )IN and )OUT (the file-name form
// and the form with a name list). Called once at start.
//
// )IN FILE [NAMES]: reads FILE.atf of the library given object by object:
// each is read whole (its records, ended by its last, with a known kind
// letter) and then defined (or each listed one: the first object of each
// name) through ⎕TF, which replaces a name's object only when the new one
// is whole; a damaged object ends the command, those before it stay. Objects
// ⎕TF does not define follow "NOT COPIED: ", listed names not in the file
// "NOT FOUND: ". WS NOT FOUND, IO ERROR, WS INVALID (an unknown record
// kind), DATA DAMAGED (a file cut short inside an object or an object that
// cannot be read), WS FULL and SYMBOL TABLE FULL end the command with 12.
//
// )OUT FILE [NAMES]: writes the system variables ⎕PP ⎕IO ⎕CT ⎕FC ⎕RL ⎕PR
// ⎕LX, then every function, operator and variable of the symbol table (or
// the listed names) as PC-code records, and last the classes, parents
// before their children, each as a function record (F, the name and the
// ⎕FX of its lines) that )IN fixes again; the file replaces an existing one
// only when it is whole (a new temporary, synced and renamed over it).
void install_transfer_commands();

}  // namespace zema
