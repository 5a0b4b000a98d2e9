// The ten system variables, and the reading and setting of the special
// variables (⎕, ⍞, system and shared variables) that the engine and the
// assignment arrow hand over.
//
// The slots of the system variables and where each keeps its value are
// in sysvar_slots.h.
#pragma once

#include <cstdint>

#include "interpreter/workspace/sysvar_slots.h"
#include "interpreter/workspace/workspace.h"

namespace zema {

// The tab-stop buffer: byte 0 is 1 once any stop is set; the 160-bit map
// of columns 1-160 follows from byte 1 as five 32-bit words, column p being
// bit (p-1) mod 32 of word (p-1) div 32. Localisation saves its first 22
// bytes, which hold all of it.
constexpr std::uint32_t kTabStopBytes = 36;
constexpr std::uint32_t kTabMap = 1;
constexpr std::uint32_t kTabSaveBytes = 22;
constexpr int kTabColumns = 160;

// ⎕FC's value when it has none: . , * 0 _ ¯ (internal codes).
extern const std::uint8_t qfc_default[6];

// ---- reading and assigning one system variable --------------------------------------

// Builds the value of system variable `index` as a new array and leaves it
// in the token register (class 0x81, flags 0).
void read_system_variable(int index, Ws ws);

// Validates the array whose offset lies in the word at `value_slot` and
// makes it the value of system variable `index`. DOMAIN, LENGTH and RANK
// ERROR as the variable's rules say; a refused value leaves the old one.
void assign_system_variable(int index, std::uint32_t value_slot, Ws ws);

// ⎕CT as a double (the extended value truncated), for tolerant comparison.
double get_qct(Ws ws);

// ---- special variables as the engine meets them ------------------------------------

// Engine state 10 with a SpecialVariable in the token register: its value
// replaces the token in the register. Answers the next engine state.
int xsvref(Ws ws);

// Assignment to the system or shared variable whose symbol token is
// `token`; the value is the stack entry at `value_entry`. Stores it (the
// caller keeps the value as the statement's, not displayed).
void xsvspc_named(std::uint32_t token, std::uint32_t value_entry, Ws ws);

// Indexed assignment into a special variable (the engine's state 10 with
// an index list and ← to the right of it): ⎕LX only when it has a value;
// ⎕FC, given its default value first when it has none; INDEX ERROR for
// every other one.
void prepare_indexed_special(std::uint32_t token, Ws ws);

// ---- localisation --------------------------------------------------------------------
// A function that localises a system variable saves the outer value and
// restores it on return. ⎕IO ⎕PP ⎕PW ⎕PR ⎕CS live in the value word and ⎕LX
// ⎕FC in the value object the word holds: the caller saves and restores the
// word (handing a value object's ownership back and forth), then calls
// `sysvar_restored` so that ⎕PW and ⎕PR reach the session's settings again.
// ⎕RL, ⎕CT and ⎕HT live outside the symbol entry:

// ⎕RL's seed.
inline std::uint32_t save_quad_rl(Ws ws) { return rd32(ws, hdr::QuadRL); }
inline void restore_quad_rl(std::uint32_t seed, Ws ws) { wr32(ws, hdr::QuadRL, seed); }
// ⎕CT's 10 bytes to and from the workspace offset `at` (a frame's ⎕CT field).
void save_quad_ct(std::uint32_t at, Ws ws);
void restore_quad_ct(std::uint32_t at, Ws ws);
// ⎕HT's kTabSaveBytes bytes to and from the workspace offset `at`.
void save_tab_stops(std::uint32_t at, Ws ws);
void restore_tab_stops(std::uint32_t at, Ws ws);
// After the value word of system variable `index` was put back: passes ⎕PW
// and ⎕PR to the session's settings; nothing for the others.
void sysvar_restored(int index, Ws ws);

}  // namespace zema
