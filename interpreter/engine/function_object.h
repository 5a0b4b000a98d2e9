// A defined function or operator as an object: a chain of token lines, the
// header line being the value of its name and the body lines following
// through their next-line words. The definition (session/definition.h)
// builds it; calls (call.h) read it.
//
// Function object (offsets from the line; the owner word at -4):
//   Header line — the name's value (owner kind 4 at the value slot)
//     +1  b  0x40 token lines, 0x04 header, 0x80 locked (⍫)
//     +2  h  greatest control-structure depth of the body
//     +8  w  first body line, 0 when none
//     +12 h  header word: valence (0, 1, 2; an operator 1 + left argument
//            named) | 0x8000 for an explicit result
//     +14 h  number of local names
//     +18    one short-form statement: the header tokens as typed, from +0x15
//     at (20 + statement length) rounded up to 4, when the object reaches
//     that far: the fix time, two words (ms since midnight, date word
//     month×10000 + day×100 + year mod 100); absent when the date is 0.
//   Body line — owned by the line before it (owner kind 8, next-line word)
//     +1  b  0x40 token lines, 0x02 a control structure opens and closes on
//            the line, 0x08 stop, 0x10 trace
//     +2  h  control-structure depth, for listing
//     +8  w  next line in ascending number order, 0 for the last
//     +12 w  line number, BCD: four integer digits above, four decimals below
//     +16 h  label token, 0 when none
//
// The name's symbol type is the valence (0–2) for a function and
// 8 + 2 × operands + valence (11–14) for an operator; bit 7 of the type
// byte is kept.
#pragma once

#include <cstdint>

namespace zema {

// Offsets in a function's line (a token line as the definition keeps it).
namespace fnl {
constexpr std::uint32_t Marks = 1;       // b: fnmark:: bits
constexpr std::uint32_t Depth = 2;       // h: control-structure depth for listing (header: the deepest)
constexpr std::uint32_t Next = 8;        // w: the next line, 0 after the last
constexpr std::uint32_t HeaderWord = 12; // h, header line: valence (low byte) | kExplicitResult
constexpr std::uint32_t Locals = 14;     // h, header line: count of local names
constexpr std::uint32_t Number = 12;     // w BCD, body lines
constexpr std::uint32_t Label = 16;      // h: the label's token, 0 for none
constexpr std::uint32_t Names = 0x15;    // the header's tokens
}  // namespace fnl

// Bits of a function line's marks byte (fnl::Marks).
namespace fnmark {
constexpr std::uint8_t OneLineCs = 0x02;  // a control structure opens and closes on this line
constexpr std::uint8_t Header = 0x04;     // the header line
constexpr std::uint8_t Stop = 0x08;       // a stop is set on the line
constexpr std::uint8_t Trace = 0x10;      // a trace is set on the line
constexpr std::uint8_t Locked = 0x80;     // header line: the function is locked
}  // namespace fnmark

// Bit of fnl::HeaderWord: the header names a result.
constexpr std::uint16_t kExplicitResult = 0x8000;

// Header words where a name being replaced by a fix from text (⎕FX, ⎕TF)
// keeps its old value until the fix has succeeded or failed.
namespace oldfn {
constexpr std::uint32_t Value = 0x09C;  // w, owner word of the value (kind 0)
constexpr std::uint32_t Entry = 0x0A0;  // w, the value slot (a symbol entry), 0 for none
constexpr std::uint32_t Type = 0x0A9;   // b, its type byte
}  // namespace oldfn

}  // namespace zema
