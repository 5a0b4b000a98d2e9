// The object records of )COPY: classes (kind 16) and instances (kind 31),
// and the translation of the object references inside copied values.
//
// A record has the 40-byte header of copy_commands.h (kind, flag byte,
// 16-bit count of member records, 32-bit length, 16-bit name length, 30
// bytes of name: the class's own name, or an instance's class name). From
// byte 40 a 32-byte field: a class's parent name (16-bit length and
// characters; length 0 for no parent), or an instance's pool slot in the
// source workspace (32 bits). From byte 72 the member records, each with the
// same 40-byte header (kind: 15 no value, 3 a property, else a method's
// symbol type; flag byte: the access flags; count: a method's lines;
// length; the member's name), then a property's value object unchanged
// (from its byte 0), or a method's lines in listing form, the header line
// first, each ended by a carriage return, padded to 4 bytes.
//
// Classes are written in passes by generation (0 no parent, one more per
// ancestor), so that a parent is rebuilt before its children; instances
// are written before the variables that refer to them, and an instance
// after the instances its properties refer to (a cycle leaves the back
// reference null).
#pragma once

#include <cstdint>

#include "interpreter/workspace/workspace.h"

namespace zema {

namespace crec {
constexpr std::uint32_t Kind = 0;        // b
constexpr std::uint32_t Flags = 1;       // b
constexpr std::uint32_t Count = 2;       // h: lines of a function, member records of a class or instance
constexpr std::uint32_t Length = 4;      // w: the whole record
constexpr std::uint32_t NameLength = 8;  // h
constexpr std::uint32_t Name = 10;       // 30 bytes
constexpr std::uint32_t Header = 40;
constexpr std::uint32_t Field = 40;      // parent name, or source slot
constexpr std::uint32_t Members = 72;
constexpr std::uint8_t KindClass = 16;
constexpr std::uint8_t KindInstance = 31;
}  // namespace crec

// ---- writing (the source workspace is loaded) ----

// The generation of the class named at symbol entry `entry`: 0 without a
// parent, one more per ancestor; -1 when the name is no class.
int class_generation(std::uint32_t entry, Ws ws);

// The greatest generation of the symbol table's class names, -1 when none.
int greatest_class_generation(Ws ws);

// Answers of the record writers.
enum class WriteResult { Ok, Failed, NullClass };

// Writes the class named at `entry` as one record (write_seq). `records`
// counts it. May compact; WS FULL when its methods' text does not fit.
WriteResult write_class_record(std::uint32_t entry, std::uint32_t& records, Ws ws);

// Writes a record for each APL instance that value object `value` refers
// to (and those their properties refer to, first) that has none yet (the
// mark stays in the source, which is discarded); `records` and
// `instances` count them. Allocates nothing.
WriteResult write_referenced_instances(std::uint32_t value, std::uint32_t& records, std::uint32_t& instances,
                                       Ws ws);

// ---- reading (the current workspace is back) ----

// The instances made by one copy, and the source slot each stands for: two
// stack entries (a reference vector, counted, and an integer vector) made
// by `begin`, given up by `end`. While they are held no sweep frees an
// instance not yet referred to; `end` frees those nothing refers to.
class CopiedInstances {
 public:
  // Room for `n` instances (none: no stack entries). May compact; WS FULL.
  void begin(std::uint32_t n, Ws ws);
  // Unstacks the entries (the stack must be as `begin` left it).
  void end(Ws ws);
  // The slot made for `source` slot, 0 when none.
  std::uint32_t find(std::uint32_t source, Ws ws) const;
  // Records `made` (counted once here) for `source`.
  void add(std::uint32_t source, std::uint32_t made, Ws ws);
  // Translates every reference in value object `value` from the source's
  // slots to the instances made; a reference to no instance made becomes
  // null and sets `nulled`.
  void translate(std::uint32_t value, bool& nulled, Ws ws) const;

 private:
  std::uint32_t refs_ = 0;     // stack slot of the reference vector, 0 none
  std::uint32_t sources_ = 0;  // stack slot of the source slots
  std::uint32_t used_ = 0;
  std::uint32_t room_ = 0;
};

// What reading object records found: warnings for the end of the copy.
struct ObjectWarnings {
  bool reference_nulled = false;   // a reference found no instance
  bool property_dropped = false;   // a field its class lacks
};

// Answers of the record fixers.
enum class FixObject { Ok, Damaged, Refused };

// Whether the record held by the character vector at stack slot `slot`
// (the whole record, header included) is well formed: lengths, counts,
// member kinds and value objects within bounds. Reads only.
bool object_record_sound(std::uint32_t slot, Ws ws);

// Rebuilds the class of the record at stack slot `slot` (sound, its name
// not protected): a missing parent prints "Class C not copied, missing
// parent class P" and drops it; the class is made (or replaced in its own
// slot) through its text, then its properties and access flags set. A
// class that cannot be made prints "Error creating class C" and answers
// Refused. Property values' references are translated. May compact; WS
// FULL.
FixObject fix_class_record(std::uint32_t slot, CopiedInstances& made, ObjectWarnings& w, Ws ws);

// Makes the instance of the record at stack slot `slot` (sound): dropped
// when its class does not exist here; a field that is no non-class-wide
// property of the class is left out (property_dropped). The instance is
// added to `made`. May compact; WS FULL.
FixObject fix_instance_record(std::uint32_t slot, CopiedInstances& made, ObjectWarnings& w, Ws ws);

}  // namespace zema
