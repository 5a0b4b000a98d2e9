// Function definition: a defined function or operator is a chain of token
// lines (tokeniser.h), its header line being the value of its name and the
// body lines following through their next-line words. This module parses
// and fixes headers (dfnhfx), takes every line typed while a ∇ definition
// is open (dfnent), and closes the definition (dfnend): control-structure
// depths, the fix time, the lock, and SI DAMAGE when a function on the
// state indicator changed. Line numbers and the bracket commands are in
// line_editor.h.
//
// The function object's layout (fnl::, fnmark::) and its name's symbol
// type are in the engine's function_object.h, for the calls that read them.
#pragma once

#include <cstdint>

#include "interpreter/engine/function_object.h"
#include "interpreter/output/timestamp.h"
#include "interpreter/workspace/workspace.h"

namespace zema {

// Lexing-state bits (hdr::LexState) set while a definition is open, beside
// the tokeniser's own (lexst::).
namespace defst {
constexpr std::uint16_t Executing = 0x0100;       // the function edited is the one executing
constexpr std::uint16_t OnSi = 0x0200;            // it has frames on the state indicator
constexpr std::uint16_t HeaderReplaced = 0x0400;  // its header was replaced while it executes
}  // namespace defst

// Where a name being replaced by a fix from text keeps its old value:
// oldfn:: in function_object.h.

// Puts dfnent, dfnhfx, lbrksv and dfnend into the tokeniser's routes.
void install_definition_routes();

// A finished line in the kill slot while a definition is open or a ∇ is
// pending: a header when no definition is open, else a body line filed
// under the current line number (number 0 replaces the header). Answers 6.
int dfnent(Ws ws);

// Parses and fixes the header line in the kill slot: opens an existing
// function for editing, starts a new one, or replaces the header of the
// open definition. DEFN ERROR (an entry error) for a header it refuses.
void dfnhfx(Ws ws);

// After a line: sets the definition-open bit, then closes the definition
// for a closing ∇ or an executed text, or prompts for the next line; in a
// fix from text neither (the fixing code closes). Answers 6.
int dfldn2(Ws ws);

// Closes the open definition: depths, fix time, lock, SI DAMAGE; clears
// the definition state. Answers 6.
int dfnend(Ws ws);

// The value slot of the open definition (a symbol entry or a local
// record: value word at +4, type byte at +8; for a method of the class
// being defined its member entry, value word at +4, found again at each
// call since the class moves) and its header line.
std::uint32_t definition_slot(Ws ws);
// The header line: the value word of definition_slot.
std::uint32_t definition_header(Ws ws);

// The slot holding the outermost value of the name at `entry`: past every
// local record that shadows it on the state indicator.
std::uint32_t gtglbl(std::uint32_t entry, Ws ws);

// Gives every body line of the function its control-structure depth, and
// the header the greatest one.
void set_indent_levels(std::uint32_t header, Ws ws);
// Whether the last statement of the line starts with an end keyword.
bool sc_check_single_line(std::uint32_t line, Ws ws);

// Whether the line's first statement is a comment alone.
bool comment_alone(std::uint32_t line, Ws ws);

// Fix time. Offset from the header line where it lies.
std::uint32_t fix_time_offset(std::uint32_t header, Ws ws);
// Stores the current time in the header line held by the value word at
// `value_slot`, enlarging the line by 8 bytes when it has no room (no
// stamp when the workspace cannot give the room).
void timestamp_fn(std::uint32_t value_slot, Ws ws);
// The fix time; answers true when there is none.
bool get_timestamp(std::uint32_t header, std::uint32_t* time, std::uint32_t* date, Ws ws);
// Prints two blanks and the fix time; answers true (printing nothing)
// when there is none. The words go through hdr::SaveTime/SaveDate.
bool print_timestamp(std::uint32_t header, Ws ws);
// The time stamp writer, fmttd, is in output/timestamp.h.

// SI DAMAGE: prints the message (not while )COPY runs) and marks the
// frames (sier2) of function `token`, a method of class slot `cls` (0: a
// workspace function).
void sier(std::uint32_t token, std::uint32_t cls, Ws ws);
// Every frame from the link word `head` on whose calling function is
// `token` (saved type byte not negative), a workspace function for `cls`
// 0 or a method of the class in slot `cls` (engine/method_calls.h
// method_level_class), gets -1 as its saved line number. Answers true when
// one was marked.
bool sier2(std::uint32_t token, std::uint32_t head, Ws ws, std::uint32_t cls = 0);

// ---- state-indicator questions -------------------------------------------
// Whether the function whose symbol entry is given is the calling function
// of any frame (saved type byte not negative).
bool function_on_si(std::uint32_t symbol_entry, Ws ws);
// Whether one of those frames was called from one of the function's own
// lines (saved state word without bit 0x0040): the function is pendent.
bool function_pendent(std::uint32_t symbol_entry, Ws ws);
// The same for method `token` of the class in pool slot `cls`: a level
// runs it when it is a method level whose method that class declares.
bool method_on_si(std::uint16_t token, std::uint32_t cls, Ws ws);
bool method_pendent(std::uint16_t token, std::uint32_t cls, Ws ws);
// Whether the current level runs function `token` (type byte not
// negative): a workspace function for `cls` 0, else a method of that class.
// Reads the header words.
bool current_level_runs(std::uint16_t token, std::uint32_t cls, Ws ws);

}  // namespace zema
