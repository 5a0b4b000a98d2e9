// The default display of values: simple arrays printed directly through the
// display buffer, nested arrays laid out first as a tree of character
// matrices in the free space above the heap and then printed line by line,
// and the same layout captured as one character matrix for the host.
//
// Simple arrays:
//  - scalars and vectors: numbers separated by one blank, each number with
//    its blank printed as a unit so that folding at ⎕PW never splits it;
//    characters one by one.
//  - rank 2 and more: columns of the last axis get their own width
//    (integers right-aligned, floats aligned on the point or all in
//    exponent form); rows are separated by a new line, planes by one blank
//    line and each further axis by one more. ⎕CS bit value 4 gives the whole
//    array one width.
//
// Nested arrays (display tree, from the capture address upward, offsets
// from a node's start):
//   +0  u16  rank of the item laid out (0 for a number cell or a laid-out
//            nested item)
//   +2  u8   1 when the item is not a character array (nested node: 1 when
//            any item is not a simple scalar)
//   +3  u8   1 when the item is a simple numeric scalar
//   +4  u32  node size, a multiple of 4
//   +8  u32  character node: 0x0008000B (type 11, rank 2); nested node: the
//            array's type byte, flags byte and rank × 4
//   +12      character node: rows, columns (+16), the characters (+20);
//            nested node: the shape, then per item the offset of the item's
//            node from this node.
#pragma once

#include <cstdint>
#include <string>

#include "interpreter/workspace/errors.h"
#include "interpreter/workspace/workspace.h"

namespace zema {

// ---- header words and bits the display uses --------------------------------------

namespace showhdr {
constexpr std::uint32_t ColumnWidth = 0x06A;    // i16: integer-part width of a column; -1: exponent form
constexpr std::uint32_t FractionWidth = 0x06C;  // i16: fraction width (from the point) of a float column
constexpr std::uint32_t ElementCount = 0x080;   // w: elements of the array being printed
}  // namespace showhdr

// Bits of header byte hdr::MiscBits.
constexpr std::uint8_t kHostLayout = 0x04;     // control characters shown as blanks
constexpr std::uint8_t kCompactLayout = 0x08;  // item ranks count as at most 1 when spacing items
// Bit of header byte hdr::ResultBits: a nested layout is being built (blank
// lines are written as lines of blanks, so every line has the same width).
constexpr std::uint8_t kNestedLayout = 0x01;
// Bit of header byte hdr::MultiDisplay: several values of one statement
// are being displayed on one line.
constexpr std::uint8_t kMultiValue = 0x80;

// ⎕CS bit value 4 asks for one width for the whole array.
constexpr std::uint32_t kCsUniform = 4;

// The nesting allowance of a layout: a value may be nested this many
// levels deep (counting nested arrays); one more is SYSTEM LIMIT.
constexpr std::int16_t kDisplayDepth = 100;

// ---- display tree nodes --------------------------------------------------------------

// Fields of a display-tree node, laid out from the layout cursor: a
// character node holds rows of text; a nested node an item offset per item.
namespace dnode {
constexpr std::uint32_t Rank = 0;       // u16: the array's rank
constexpr std::uint32_t NotChar = 2;    // u8: 1 when the text is not characters (or the items not simple)
constexpr std::uint32_t NumScalar = 3;  // u8: 1 for a numeric scalar
constexpr std::uint32_t Size = 4;       // u32: bytes of the node (the next node follows)
constexpr std::uint32_t TypeWord = 8;   // u32: kCharNodeType for a character node
constexpr std::uint32_t Shape = 12;     // nested node: rank words, then item offsets
constexpr std::uint32_t Rows = 12;      // character node
constexpr std::uint32_t Columns = 16;   // character node
constexpr std::uint32_t Chars = 20;     // character node
}  // namespace dnode

// The type word that marks a character node (a nested node holds the
// array's element type and flags there instead).
constexpr std::uint32_t kCharNodeType = 0x0008000B;

// ---- the session's display -----------------------------------------------------------

// Line state shared by the values of one statement. `width` receives the
// output column reached by the value's last line (before any new line);
// the other words are carried for the statement's caller.
struct DisplayLine {
  std::int32_t width = 0;
  std::int32_t word2 = 0;
  std::int32_t word3 = 0;
};

// Displays the array whose offset lies in the word at `value_slot` (a stack
// entry's or a symbol's value word: the heap may be compacted before a
// nested value is laid out, and the slot follows it). Ends the line with a
// new line unless output bit 0x20 is set (it is cleared), several values
// are being displayed (kMultiValue), or nothing was printed for an empty
// array of rank 2 or more.
void display_array(DisplayLine& line, std::uint32_t value_slot, Ws ws);

// Prints a simple array. Answers 4 when it has rank 2 or more and no
// elements (nothing printed), else 0. Rank 2 and more ends a partly written
// line first (unless capturing). NONCE ERROR for element types other than
// boolean, integer, float, character and object reference.
int exprn(std::uint32_t value, Ws ws);

// Prints `count` elements of `type` starting at the data offset `data` as a
// scalar or vector (`value` is the array they belong to). Booleans start at
// the most significant bit of the word at `data`.
void exvec2(std::uint32_t value, std::uint32_t count, std::uint8_t type, std::uint32_t data, Ws ws);

// Lays a value out as a display-tree node at the capture address and
// advances the address past it; answers the node's offset. A simple value
// becomes a character node; a nested value a nested node whose nested items
// are already printed into character nodes. The caller sets capture
// (st::Capturing), kNestedLayout and the nesting allowance (hdr::DepthBudget).
// SYSTEM LIMIT beyond the allowance; WS FULL when the layout comes within
// 100 bytes of the stack (500 for a number cell).
std::uint32_t make_display_array(std::uint32_t value, Ws ws);

// Prints a display-tree node line by line through `cdisp`, lines separated
// by carriage returns (none after the last). Answers the number of lines.
// The column measures of a nested node (12 bytes a column) are kept for
// the while at the capture address, which must point at free space; it is
// left where it was, or, while capturing, just past the captured text.
// WS FULL when the measures would come within 100 bytes of the stack.
int print_display_array(std::uint32_t node, Ws ws);

// ---- monadic ⍕ ---------------------------------------------------------------------------

// Lays out the display of the value whose offset lies in the word at
// `value_slot` (the heap is compacted first) as one character node in the
// free space above the heap top: rows at dnode::Rows, columns at
// dnode::Columns, the characters from dnode::Chars, rows of equal width and
// no line ends, never folded at ⎕PW. Answers the node's offset; it stays
// valid until the heap or the stack next grows. SYSTEM LIMIT beyond 100
// levels of nesting; WS FULL when the free space is too small.
std::uint32_t layout_for_format(std::uint32_t value_slot, Ws ws);

// ---- layouts of several values (the boxed display) ------------------------------------

// Runs `build(context, ws)` inside a layout begun at the heap top as
// format_APL_array begins one (capture on, the nested-layout flag, the full
// nesting allowance, control characters shown as blanks), and puts the
// display's header words back when it ends, also by an error. Answers what
// `build` answers (the offset of the node it made in the free space, valid
// until the heap or the stack next grows).
std::uint32_t run_host_layout(std::uint32_t (*build)(void* context, Ws ws), void* context, Ws ws);
// Inside run_host_layout: lays the array at `value` out at the layout
// cursor as one character node (a nested array's tree printed into it) and
// answers the node; `compact` spaces a nested array's items compactly.
std::uint32_t lay_out_char_node(std::uint32_t value, bool compact, Ws ws);
// Inside run_host_layout: the layout cursor (the next free byte), moving
// it, and WS FULL unless `bytes` from the cursor stay 100 bytes below the stack.
std::uint32_t layout_cursor(Ws ws);
void set_layout_cursor(std::uint32_t at, Ws ws);
void layout_need_room(std::uint64_t bytes, Ws ws);

// ---- the host's entry ------------------------------------------------------------------

// Answer of format_APL_array while a line is executing: the layout would
// use the workspace's free space and state words under the running line.
constexpr int kFormatBusy = E_NONCE;

// Lays out the default display of `value` (an array inside the workspace,
// or a host copy of one, which is first copied into the free space) as one
// character-matrix node in the free space above the heap: control
// characters as blanks, compact spacing when bit 7 of the value's first
// byte is set. `*matrix` receives the node (size at +4, 0x0008000B at +8,
// rows, columns, then the characters without line ends); it stays valid
// until the workspace is next used. Attention is off meanwhile and set back
// to the level in hdr::AttnLevel afterwards.
// Answers 0, an ErrorCode (4: the free space is too small), or kFormatBusy
// without touching anything while a line is executing (st::Executing). An
// error answered so leaves ⎕ET, the error code, number and line, and the
// last report (hdr::ErrorMessage, ⎕EM) as they were.
int format_APL_array(Ws ws, const std::uint8_t* value, const std::uint8_t** matrix);

// ---- building blocks -----------------------------------------------------------------------

// Prints a new line (carriage return through cdisp).
void ptcr(Ws ws);
// 4 when the text buffer holds no "E", 0 when its number is in exponent form.
int cke(Ws ws);
// Inserts one blank in front of the text buffer.
void exnshf(Ws ws);
// Pads the text buffer on the right with blanks to `width` and prints it as a unit.
void expadp1(int width, Ws ws);
// The same to ⎕PP + 8 characters (the field of an exponent-form number).
void expadp(Ws ws);
// Characters of an integer's text: its digits plus 1 for the minus sign.
int fmt_width(std::int32_t value);

// Column measures over `n` elements from `data`, every `stride`-th element.
// Integers: the width of the wider of the smallest and largest (into
// showhdr::ColumnWidth). Floats: the widest integer part and fraction
// (ColumnWidth, FractionWidth), ColumnWidth -1 when any is in exponent form.
// Object references: the widest text (ColumnWidth). Each answers ColumnWidth.
int scan_int_width(std::uint32_t data, std::uint32_t n, std::uint32_t stride, Ws ws);
int scan_flt_width(std::uint32_t data, std::uint32_t n, std::uint32_t stride, Ws ws);
int scan_obj_width(std::uint32_t data, std::uint32_t n, std::uint32_t stride, Ws ws);
// Float scalars of column `column` of the nested array `value` (rank 2 or
// more): FractionWidth the widest fraction, ColumnWidth -1 when any is in
// exponent form (else 0).
int scan_nst_width(std::uint32_t value, std::uint32_t column, Ws ws);

// The display text of an object reference (internal characters, at most
// 96): object_display_text (object_text.h), not forced.
std::string format_object_reference(std::uint32_t slot, Ws ws);

}  // namespace zema
