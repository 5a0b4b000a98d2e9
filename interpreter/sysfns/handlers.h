// The system-function handlers, as the dispatch table names
// them. Each pushes its result (push_result) or raises an APL error.
#pragma once

#include "interpreter/sysfns/dispatch.h"

namespace zema {

// ---- niladic: state and accounting queries, the clock (queries.cpp) ----
void sflc(Ws ws);     // ⎕LC
void sfts(Ws ws);     // ⎕TS
void sfai(Ws ws);     // ⎕AI
void sful(Ws ws);     // ⎕UL
void sfid(Ws ws);     // ⎕ID
void sfwa(Ws ws);     // ⎕WA
void sftt(Ws ws);     // ⎕TT
void sfler(Ws ws);    // ⎕LER
void sfcl(Ws ws);     // ⎕CL
void sfet(Ws ws);     // ⎕ET
void sfwssize(Ws ws); // ⎕WSSIZE
void sfsymb(Ws ws);   // ⎕SYMB

// ---- niladic: character and name constants (queries.cpp) ----
void sfav(Ws ws);     // ⎕AV
void sfa(Ws ws);      // ⎕A
void sfau(Ws ws);     // ⎕a
void sfb(Ws ws);      // ⎕B
void sfbu(Ws ws);     // ⎕b
void sf_c(Ws ws);     // ⎕C
void sfd(Ws ws);      // ⎕D
void sfi(Ws ws);      // ⎕I
void sfiu(Ws ws);     // ⎕i
void sfl(Ws ws);      // ⎕L
void sfr(Ws ws);      // ⎕R
void sft(Ws ws);      // ⎕T
void sfn(Ws ws);      // ⎕N
void sfyu(Ws ws);     // ⎕y
void sfw(Ws ws);      // ⎕W
void sfm(Ws ws);      // ⎕M
void sftc(Ws ws);     // ⎕TC
void sftcbel(Ws ws);  // ⎕TCBEL
void sftcbs(Ws ws);   // ⎕TCBS
void sftcdel(Ws ws);  // ⎕TCDEL
void sftcesc(Ws ws);  // ⎕TCESC
void sftcff(Ws ws);   // ⎕TCFF
void sftclf(Ws ws);   // ⎕TCLF
void sftcnl(Ws ws);   // ⎕TCNL
void sftcnul(Ws ws);  // ⎕TCNUL
void sftcht(Ws ws);   // ⎕TCHT

// ---- characters and numbers (char_codes.cpp) ----
// ⎕AF: a character argument gives its internal codes (0–255, the positions
// in ⎕AV) in its shape; a numeric one of whole numbers 0–255 the characters
// (DOMAIN ERROR for any other number, a non-integral one among them).
void sfaf_monadic(SfArg right, Ws ws);
// ⎕UCS: a character argument gives its Unicode code points; a numeric one
// of whole numbers (else DOMAIN ERROR) the character of each code point,
// '?' for one outside 0–65535 or without a character here.
void sfucs_monadic(SfArg right, Ws ws);

// ---- errors chosen by the program, the last error's message (error_signals.cpp) ----
void sfem(Ws ws);                                      // ⎕EM
// The last error's message as one character vector, its lines separated
// by carriage returns; empty when none is kept.
void sferm(Ws ws);                                     // ⎕ERM
void quades_monadic(SfArg right, Ws ws);               // ⎕ES
void quades_dyadic(SfArg left, SfArg right, Ws ws);    // message ⎕ES ⎕ET pair
void qers_monadic(SfArg right, Ws ws);                 // ⎕ERS
void qers_dyadic(SfArg left, SfArg right, Ws ws);      // message ⎕ERS error number

// ---- text run under error control (evaluation_calls.cpp) ----
void quadea_dyadic(SfArg left, SfArg right, Ws ws);    // alternative ⎕EA text
void quadec_monadic(SfArg right, Ws ws);               // ⎕EC text
// ---- ⎕FMT (quad_fmt.cpp) ----
void qfmt_dyadic(SfArg left, SfArg right, Ws ws);      // format ⎕FMT array
// ---- the error-trap line (error_trap.cpp) ----
void sferx_monadic(SfArg right, Ws ws);                // ⎕ERX
// ---- stop and trace marks on a function's lines (stop_trace.cpp) ----
// Monadic: the numbers of the lines of the named function that carry the
// mark, ascending. Dyadic: the mark set on exactly the lines numbered in
// the left argument (0 and numbers past the last line ignored; nothing
// changes in a locked function), then the monadic result. DOMAIN ERROR for
// a name of no defined function and a number that is not a non-negative
// integer; RANK ERROR for a left argument above rank 1.
void sfst_monadic(SfArg right, Ws ws);                 // ⎕STOP name
void sfst_dyadic(SfArg left, SfArg right, Ws ws);      // lines ⎕STOP name
void sftrace_monadic(SfArg right, Ws ws);              // ⎕TRACE name
void sftrace_dyadic(SfArg left, SfArg right, Ws ws);   // lines ⎕TRACE name

// ---- functions of the support layer (host_calls.cpp) ----
void sfhc_monadic(SfArg right, Ws ws);                 // ⎕HC
void sfdl_monadic(SfArg right, Ws ws);                 // ⎕DL
void qmt_monadic(SfArg right, Ws ws);                  // ⎕MOUNT
void sfhost_monadic(SfArg right, Ws ws);               // ⎕HOST
void sfhost_dyadic(SfArg left, SfArg right, Ws ws);    // time limit ⎕HOST command

// ---- the function keys (pf_keys.cpp) ----
void sfpfkeys_monadic(SfArg right, Ws ws);             // ⎕PFKEY key
void sfpfkeys_dyadic(SfArg left, SfArg right, Ws ws);  // text ⎕PFKEY key

// ---- defined functions as text, erasure (definitions.cpp) ----
void sffx_monadic(SfArg right, Ws ws);                 // ⎕FX lines
void sffx_dyadic(SfArg left, SfArg right, Ws ws);      // lock ⎕FX lines
void sfcr_monadic(SfArg right, Ws ws);                 // ⎕CR name
void sfcr_dyadic(SfArg left, SfArg right, Ws ws);      // form ⎕CR name
void sfex_monadic(SfArg right, Ws ws);                 // ⎕EX names
void sfna_monadic(SfArg right, Ws ws);                 // ⎕NA description
void sfna_dyadic(SfArg left, SfArg right, Ws ws);      // name ⎕NA description

// ---- names and their classes (name_queries.cpp) ----
void sfnc_monadic(SfArg right, Ws ws);                 // ⎕NC names
void sfnl_monadic(SfArg right, Ws ws);                 // ⎕NL classes
void sfnl_dyadic(SfArg left, SfArg right, Ws ws);      // letters ⎕NL classes
void sfat_dyadic(SfArg left, SfArg right, Ws ws);      // set ⎕AT names

// ---- transfer form (transfer_form.cpp) ----
void sftf_dyadic(SfArg left, SfArg right, Ws ws);      // form ⎕TF text

// ---- classes from workspace names (ic.cpp) ----
// Moves the functions, operators and variables R names into the class L
// names ("Class" or "Class>Parent"), made when new; answers one boolean
// per name, 1 where it was taken.
void sfic_dyadic(SfArg left, SfArg right, Ws ws);      // class ⎕IC names

// ---- the state indicator and the clock as text (niladic.cpp) ----
void sfsi(Ws ws);                                      // ⎕SI
void sftime(Ws ws);                                    // ⎕TIME

// ---- objects (objects.cpp) ----
void sfnew_monadic(SfArg right, Ws ws);               // ⎕NEW class
void sfnew_dyadic(SfArg left, SfArg right, Ws ws);    // architecture ⎕NEW class

// ---- ⎕WI requests and events (window_events.cpp) ----
// Requests travel over the services channel (host/services_channel.h) to
// the task's ⎕WI system; without one every request fails as the channel
// answers. The replies are adopted as results by sfwi_fixup.
//
// ⎕WI R: a property name (text) is read (reply: its value); a nested
// vector (a scalar counts as one item; RANK ERROR beyond a vector, LENGTH
// ERROR under 2 items) names a property or method by its first item and
// gives the value: item 2 alone when there are 2 items and the first is
// not Set; for Create or New (any case) item 2 then each later item's
// pair (its first item, then its second, or the vector of the rest when
// it has more; DOMAIN ERROR when an item is no nested vector of 2 or
// more); for Set each pair from item 2; else items 2 to n. The reply of
// that write is the result. Any other R is DOMAIN ERROR. L ⎕WI R first
// names the object L (compacting the workspace). May compact; WS FULL.
void sfwi_monadic(SfArg right, Ws ws);
void sfwi_dyadic(SfArg left, SfArg right, Ws ws);
// Raises the channel's failure `code`: 4 WS FULL, 12 DOMAIN, 16 RANK, 20
// LENGTH ERROR; any other code with ⎕ET 0 1.
[[noreturn]] void sfwi_error(int code, Ws ws);
// Makes the reply the host wrote at the heap top within `room` the result
// on the stack (`quiet`: not displayed); a nested reply whose items are
// all simple scalars becomes the simple array of their kind.
void sfwi_fixup(std::int32_t room, Ws ws, bool quiet = false);
// ⎕WE R waits for ⎕WI events: R a number of seconds (negative: no limit;
// 0: look once; RANK ERROR for more than one element; DOMAIN ERROR beyond
// 2147483 seconds), or a window's name (waits while it is visible). A
// reference is DOMAIN ERROR (no ⎕WI instances exist here). Events with a
// callback expression have it run as a statement of its own (the callback
// flag in the task's hostVars 1 meanwhile, −1 while waiting); the first
// event without one is the result, its 9 integers; an empty vector when
// the time runs out, the window goes or an attention was noted during the
// statement; INTERRUPT for an attention that interrupts. A failed read of
// the queue is DOMAIN ERROR, a reply of an unknown kind NONCE ERROR.
// L ⎕WE R (L one number: DOMAIN, LENGTH ERROR): a non-zero L first
// discards the queued events.
void sfwe_monadic(SfArg right, Ws ws);
void sfwe_dyadic(SfArg left, SfArg right, Ws ws);
// The wait, with ⎕WE's frame (a value entry holding the time-out word) on
// top of its call's entries: ends with the result in the frame's place,
// or with a callback set to run above the frame. Answers state 2.
int sfwe_wait(Ws ws);
// The end of a callback (the session installs it as the engine's
// continuation, set_window_callback_return): drops the callback's text
// from above the frame and waits again. Answers state 2.
int sfwe_return(Ws ws);
// An error closed a ⎕WE callback's level: no callback runs any more.
void sfwe_abandoned(Ws ws);
// Milliseconds since the session began.
std::uint32_t sfwe_get_ms(Ws ws);
// ⎕EV: the record of the event whose callback runs (the last one taken).
void sfev(Ws ws);
// While a callback of a ⎕WI event runs: ⎕WSELF the object's full name,
// ⎕WARG (⎕EVA) the event's value, ⎕EVN its name, ⎕EVT a reference to the
// object (⎕NULL: no ⎕WI instances exist here). Otherwise an empty text,
// an empty numeric vector, an empty text and ⎕NULL.
void sfwself(Ws ws);
void sfwarg(Ws ws);
void sfevn(Ws ws);
void sfevt(Ws ws);

}  // namespace zema
