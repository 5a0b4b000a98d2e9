// Transfer files: text files of 80-column records that carry workspace
// objects as their transfer forms, in a PC code (each record followed by
// two line-end bytes) or a 370 code (records back to back). Column 1 is
// the record's kind, compared as the raw byte; columns 2-72 carry data;
// 73-80 are ignored on reading. Each record is read in its own code.
#pragma once

#include <array>
#include <cstdint>

namespace zema::transfer {

constexpr std::uint32_t kRecordBytes = 80;
constexpr std::uint32_t kDataColumns = 71;     // columns 2-72
constexpr std::uint32_t kLineEndBytes = 2;     // after a PC record
constexpr std::uint32_t kPcRecordBytes = kRecordBytes + kLineEndBytes;

enum class Code : std::uint8_t { Pc, Ibm370 };
enum class Kind : std::uint8_t {
  Continued,  // data; the object goes on in the next data record
  Last,       // data; the object's last record
  Comment,    // no data, skipped
  Invalid,    // not a transfer record
};
struct RecordClass {
  Kind kind;
  Code code;
};

// The kind and code of a record whose column 1 holds `first`.
RecordClass classify(std::uint8_t first);

// The internal code of file byte `b` read in `code`.
std::uint8_t read_char(Code code, std::uint8_t b);
// The PC file byte written for internal code `c`.
std::uint8_t write_char(std::uint8_t c);

// Translates the data columns of `record` (kRecordBytes bytes, read in
// `code`) into kDataColumns internal characters at `out`.
void decode_data(const std::uint8_t* record, Code code, std::uint8_t* out);

// Writes one PC record of kPcRecordBytes bytes to `out`: column 1 X when
// `last` else a blank, the `n` (at most kDataColumns) internal characters
// translated, blanks to column 79, 0xF8 in column 80, then CR LF.
void encode_pc(const std::uint8_t* chars, std::uint32_t n, bool last, std::uint8_t* out);

}  // namespace zema::transfer
