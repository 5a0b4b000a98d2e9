// Numeric literals: one or more numbers separated by blanks, written into
// the token line under construction as one boolean, integer or float literal
// token (tags 0x05, 0x07, 0x09).
//
// A number is [¯]digits[.digits][E[¯]digits] in internal characters (¯ 0x40,
// "." 0x2E, E 0x65, e 0xE5). Its value is the IEEE double nearest to the
// decimal text (round to nearest, ties to even); out-of-range values give
// the largest finite double (too large) or +0 (too small, subnormals
// included). The literal's type: float when any number has a "." or an
// exponent, or does not fit a 32-bit integer (¯2147483648 does); else
// integer when any number is not 0 or 1, or has a ¯; else boolean.
//
// Elements in the token line are most significant byte first: 8-byte
// doubles, 4-byte integers, booleans packed 32 to a word from the top bit.
#pragma once

#include <cstddef>
#include <cstdint>

#include "interpreter/reader/tokeniser.h"
#include "interpreter/workspace/workspace.h"

namespace zema {

// Flags of a number being read (and of the literal, for 0x040 and 0x080).
namespace nf {
constexpr std::uint32_t Negative = 0x001;     // a ¯ opened the number
constexpr std::uint32_t Digit = 0x002;        // a digit has been read
constexpr std::uint32_t Point = 0x004;        // a "." has been read
constexpr std::uint32_t ExpNegative = 0x008;  // the written exponent is negative
constexpr std::uint32_t Significant = 0x010;  // a digit other than a leading zero
constexpr std::uint32_t Started = 0x020;      // a ¯, "." or digit has been read
constexpr std::uint32_t NotBoolean = 0x040;   // kept across the literal
constexpr std::uint32_t Float = 0x080;        // kept across the literal
constexpr std::uint32_t ExpRange = 0x100;     // the exponent is out of range
constexpr std::uint32_t Stray = 0x200;        // stopped at a ¯ or "." that is no part of a number
constexpr std::uint32_t LiteralFlags = NotBoolean | Float;  // the bits kept across the literal
}  // namespace nf

// Working fields the scanner leaves in the header when it closes a literal:
// the number count, the literal's start in the token line, its element type.
namespace numhdr {
constexpr std::uint32_t Count = 0x038;  // w
constexpr std::uint32_t Start = 0x03C;  // w
constexpr std::uint32_t Type = 0x040;   // b: 5, 7 or 9
}  // namespace numhdr

// Bit of header byte 0x1D8: conversion mode (⎕TF, ⎕VI, ⎕FI): elements are
// written without count and tag, with no count limit, and lack of room is
// the execution-time WS FULL.
constexpr std::uint8_t kConversionMode = 0x10;

// One number as read by scan_one_number.
struct ScannedNumber {
  std::uint32_t flags = 0;     // nf:: bits, the literal bits carried in
  std::uint64_t mantissa = 0;  // the leading digits that fit 64 bits
  std::int32_t exponent = 0;   // decimal exponent of `mantissa`
  double value = 0;            // the number, correctly rounded
};

// Reads one number from text[pos] on; pos ends at the character that ended
// it (not consumed). `literal_flags` carries nf::NotBoolean and nf::Float
// from the literal's earlier numbers; the result's flags add this number's.
// Used directly by ⎕VI and ⎕FI.
ScannedNumber scan_one_number(const std::uint8_t* text, std::size_t length, std::size_t& pos,
                              std::uint32_t literal_flags);

// The value of a number from its digits: `digits` are the significant
// decimal digits (characters '0'-'9', first one not '0') and the number is
// digits × 10^exponent10, negated for nf::Negative. nf::ExpRange makes the
// value 0 (with nf::ExpNegative) or the largest finite double. Also sets
// nf::Float and nf::NotBoolean in `flags` as the mantissa requires.
double numend(std::uint32_t& flags, std::uint64_t mantissa, const char* digits, std::size_t ndigits,
              std::int64_t exponent10);

// How do_numeric_scan stopped.
enum NumericStatus {
  NUM_END = 0,    // the text is exhausted
  NUM_NEXT = 1,   // the cursor stands at a character for the tokeniser's rules
  NUM_STRAY = 2,  // the cursor stands at a ¯ or "." to be written as a one-byte token
};

// Reads the literal at the cursor (which stands at a digit, ¯ or ".") and
// writes it at the token cursor. Entry errors: WS FULL when fewer than 50
// bytes of room remain as a number is stored, SYSTEM LIMIT when a
// short-form literal reaches 65,535 numbers or the statement's length would
// pass 16 bits (the literal is closed first where it can be).
NumericStatus do_numeric_scan(LexCursor& c, Ws ws);

}  // namespace zema
