// Evaluation of text and of typed input: ⍎, ⎕EA and ⎕EC run a character
// vector as a line of APL, and ⎕ read as a value asks for an expression.
// Each opens a level of the state indicator of its own (a frame without
// local records, symbol type 3) on which the engine runs the line like any
// other; the engine comes back here when the line ends, branches or fails.
#pragma once

#include <cstdint>

#include "interpreter/primitives/primitive_call.h"
#include "interpreter/workspace/workspace.h"

namespace zema {

// Kinds of evaluation level (header byte hdr::EvalKind of the level).
namespace evk {
constexpr std::uint8_t QuadInput = 1;  // ⎕ read as a value
constexpr std::uint8_t Execute = 2;    // ⍎, and ⎕EA's left argument
constexpr std::uint8_t ExecAlt = 3;    // ⎕EA's right argument
constexpr std::uint8_t ExecCatch = 4;  // ⎕EC's argument
constexpr std::uint8_t TransferForm = 5;  // 2 ⎕TF's expression, run as ⎕EC runs its text
constexpr std::uint8_t WindowCallback = 6;  // an event's callback expression run by ⎕WE
}  // namespace evk

// ⎕WE's continuation, installed by the session: run when a callback
// expression started by start_window_callback has ended (its value, if
// any, already released), with ⎕WE's call entries and whatever ⎕WE pushed
// above them on top of the stack again. Answers the engine state: it
// either pushes ⎕WE's result or starts the next callback, and answers
// ES_FINISH_APPLICATION either way. Without it the end of a callback is
// SYSTEM ERROR.
using WindowCallbackReturn = int (*)(Ws ws);
void set_window_callback_return(WindowCallbackReturn route);
// Called when an error closes a callback's level instead (the ⎕WE that
// ran it ends with the error), so that the event functions no longer
// answer as inside a callback. Null: nothing is done.
using WindowCallbackAbandoned = void (*)(Ws ws);
void set_window_callback_abandoned(WindowCallbackAbandoned route);

// Sets the character vector whose offset the word at `text_slot` holds
// (a stack entry ⎕WE pushed) to run at a new level as a statement of its
// own, as ⍎ runs text, except that its value is dropped and its end calls
// the continuation above rather than ending the application. Its errors
// and branches leave the level as they leave a ⍎ level. An entry error of
// the text is raised as ⎕WE's error. The caller answers state 2, which
// starts the line; an empty text (nothing to run) answers false and sets
// nothing up.
bool start_window_callback(std::uint32_t text_slot, Ws ws);

// Bits of the trap word (hdr::TrapWord) that evaluation sets: an error in
// the running text goes to ⎕EA's left argument, or ends ⎕EC with code 0.
// A function called from such text passes its errors up to it.
constexpr std::uint32_t kTrapExecAlt = 0x01000000;
constexpr std::uint32_t kTrapExecCatch = 0x02000000;
// In a ⎕EC level's trap word: this ⎕EC switched attention off (and the
// attention setting hdr::AttnLevel to 0); closing the level switches it on.
constexpr std::uint32_t kTrapAttnOff = 0x04000000;
// Held only while evaluated text is tokenised (a system command in it runs
// then): the text lies below the stack pointer, in place of the level's
// stack entries, and an entry error reports nothing itself (the evaluation
// reports or takes it).
constexpr std::uint32_t kTrapTokenising = 0x20000000;  // apart from the :Try bit (control.h)

// ⍎R (a primitive handler). DOMAIN ERROR for a nested R or inside a selective
// assignment's target, AXIS ERROR with an axis, RANK ERROR for a matrix of
// characters. A simple R that is not text is the result; empty text gives
// an empty vector that is not displayed; otherwise the text's line is set
// to run at a new level (do_xmnopd starts it) and its value becomes the
// result. An entry error of the text is raised as the error of ⍎.
void execute_monadic(const PrimitiveCall& call, Ws ws);

// L ⎕EA R (`mode` evk::ExecAlt), ⎕EC R (evk::ExecCatch) and the
// expression of form-2 ⎕TF (evk::TransferForm, the right argument of a
// dyadic call) as ⍎ does
// (evk::Execute): reads the text from the array whose offset the word at
// `text_slot` holds, and either pushes the result (the call is complete)
// or sets the line to run at a new level. The caller answers state 2.
// ⎕TF's expression runs as ⎕EC's text does (errors, branches and
// attention alike) and ends with ⎕TF's result in place of ⎕EC's: the
// expression's value when it would be displayed; the text's first word
// (up to a blank or ←, leading blanks skipped) when its value would not
// (an assignment); an empty character vector when it gave no value,
// failed or branched.
void start_evaluation(std::uint32_t text_slot, std::uint8_t mode, Ws ws);

// Statement end (xrsltp): the value on top of the stack (above the primer)
// ends an evaluation level when the statement is its line's last. Answers
// the next engine state, or -1 when the statement ends as usual.
int evaluation_value(Ws ws);

// Line end (eol) at an evaluation level without a value: ⎕ input asks
// again; ⍎ and ⎕EA give an empty vector that is not displayed; ⎕EC gives
// return code 3. Answers the next engine state.
int evaluation_without_value(Ws ws);

// The error path (errorl), for the error `code` just raised: closes the
// ⍎ levels that hold it, and lets ⎕EA (its left argument runs) or ⎕EC
// (return code 0, ⎕ET and the message) take it. Answers the engine state
// to go on with, or -1 when the error is reported at the level reached.
int take_error_in_evaluation(int code, Ws ws);

// A branch out of an evaluated text (the current level runs text): ⎕EC
// takes it (return code 4 with `target`, or 5 when `has_target` is false)
// and the answer is the engine state; under ⍎ and ⎕EA the text levels are
// closed and the answer is -1: the branch is then carried out at the level
// reached, whose statement (still on the stack) it abandons.
int branch_out_of_evaluation(bool has_target, std::int32_t target, Ws ws);

// Before immediate execution reads a line: when the current level is a
// ⎕-input level still waiting for its answer (an error in the answer was
// reported, and the next line answers again), writes the ⎕: prompt and
// answers true; otherwise writes nothing and answers false.
bool prompt_for_quad_answer(Ws ws);

// Runs the token line in the kill slot as an immediate line (the engine's
// line-start state). At the immediate level with no line running the
// engine simply runs it. Otherwise (a ⎕FX of a class whose property values
// are computed, called from a line; or a level of ⍎, ⎕EA, ⎕EC or ⎕TF text,
// or of ⎕ input, whose own line is still being read, as when it is a )IN)
// it runs at a level of its own that keeps the current level's words and
// stack, closed when the line ends.
void run_line_apart(Ws ws);

// Pops the frame of the current evaluation level (quadus); when it is a
// ⎕EC's that switched attention off, switches it back on (setting
// hdr::AttnLevel to 1). Every way out of a ⎕EC's level (its end, an
// escape →, a cleared state indicator) comes through here.
void end_evaluation_level(Ws ws);

// For a system command that called ⎕TF outside the engine (in transfer
// mode, kTransferFile): when ⎕TF set its expression to run, runs the
// engine until the level ends, ⎕TF's result then on top of the stack; the
// engine's Executing bit is kept as it was. Answers false when nothing was
// set to run.
bool run_pending_evaluation(Ws ws);

// Whether ⎕TF's expression, run in transfer mode, failed, gave no value or
// branched since the last call (a mark in hdr::MiscBits, cleared here).
bool take_transfer_form_failure(Ws ws);

// Whether the current level runs the text of a ⎕EA or ⎕EC (not a ⍎ or
// ⎕-input level, nor a function): its errors, ⎕ES's included, are taken
// at this level by take_error_in_evaluation.
bool at_trapping_text(Ws ws);

// ⎕ read as a value (xsvref): VALUE ERROR inside ⎕EC text, DOMAIN ERROR
// inside other evaluated text; else opens the ⎕-input level, prompts with
// ⎕: and reads lines until one is to be executed. Answers the engine state
// (the line runs at the level; its value later goes to the token register).
int quad_input(Ws ws);

}  // namespace zema
