// Transfer-file records and their code tables.
#include "files/transfer_records.h"

#include <cstring>

namespace zema::transfer {

namespace {
#include "files/transfer_tables.inc"

constexpr std::uint8_t kColumn80 = 0xF8;
}  // namespace

RecordClass classify(std::uint8_t first) {
  switch (first) {
    case 0x20: return {Kind::Continued, Code::Pc};
    case 0x58: return {Kind::Last, Code::Pc};
    case 0x2A: return {Kind::Comment, Code::Pc};
    case 0x40: return {Kind::Continued, Code::Ibm370};
    case 0xE7: return {Kind::Last, Code::Ibm370};
    case 0x5C: return {Kind::Comment, Code::Ibm370};
    default: return {Kind::Invalid, Code::Pc};
  }
}

std::uint8_t read_char(Code code, std::uint8_t b) { return code == Code::Pc ? kPcIn[b] : k370In[b]; }

std::uint8_t write_char(std::uint8_t c) { return kPcOut[c]; }

void decode_data(const std::uint8_t* record, Code code, std::uint8_t* out) {
  for (std::uint32_t i = 0; i < kDataColumns; ++i) out[i] = read_char(code, record[1 + i]);
}

void encode_pc(const std::uint8_t* chars, std::uint32_t n, bool last, std::uint8_t* out) {
  if (n > kDataColumns) n = kDataColumns;
  out[0] = last ? 0x58 : 0x20;
  for (std::uint32_t i = 0; i < n; ++i) out[1 + i] = kPcOut[chars[i]];
  std::memset(out + 1 + n, 0x20, kRecordBytes - 2 - n);
  out[kRecordBytes - 1] = kColumn80;
  out[kRecordBytes] = 0x0D;
  out[kRecordBytes + 1] = 0x0A;
}

}  // namespace zema::transfer
