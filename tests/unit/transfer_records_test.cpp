// Transfer-file records: the record kinds, the PC and 370 code tables and
// the record writer.
#include "files/transfer_records.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "host/charset.h"

namespace zema::transfer {
namespace {

TEST(TransferRecords, ColumnOneKinds) {
  struct Case {
    std::uint8_t byte;
    Kind kind;
    Code code;
  } const cases[] = {
      {0x20, Kind::Continued, Code::Pc}, {0x58, Kind::Last, Code::Pc},     {0x2A, Kind::Comment, Code::Pc},
      {0x40, Kind::Continued, Code::Ibm370}, {0xE7, Kind::Last, Code::Ibm370}, {0x5C, Kind::Comment, Code::Ibm370},
  };
  for (const Case& c : cases) {
    const RecordClass k = classify(c.byte);
    EXPECT_EQ(k.kind, c.kind) << int(c.byte);
    EXPECT_EQ(k.code, c.code) << int(c.byte);
  }
  for (std::uint8_t b : {0x00, 0x41, 0x78, 0x21, 0xC7, 0xFF}) EXPECT_EQ(classify(b).kind, Kind::Invalid) << int(b);
}

// Every glyph the transfer forms and ordinary programs use goes out in the
// PC code and reads back as itself; in the 370 code the letters, digits
// and the common glyphs read as the same internal codes as in the PC code.
TEST(TransferRecords, GlyphsRoundTrip) {
  const std::string glyphs = utf8_to_internal(
      "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789 ¯.,;:'()[]←→⍴⍳⊂⊃⎕⍞∆⍙_"
      "+-×÷⌈⌊*⍟|!○~∧∨⍲⍱<≤=≥>≠∊⍷↑↓⍉⌽⊖⍋⍒⍎⍕⊥⊤⌹∘/\\⍀⌿¨⍨⋄⍝∇⍫⍬≡≢⊣⊢#@$&?\"{}");
  for (unsigned char c : glyphs) {
    const std::uint8_t b = write_char(c);
    EXPECT_EQ(read_char(Code::Pc, b), c) << std::hex << int(c);
  }
  // Every 370 byte that reads as a character survives the PC code.
  for (int b = 0; b < 256; ++b) {
    const std::uint8_t c = read_char(Code::Ibm370, static_cast<std::uint8_t>(b));
    if (c) {
      EXPECT_EQ(read_char(Code::Pc, write_char(c)), c) << std::hex << b;
    }
  }
  struct Case {
    std::uint8_t pc, ibm, internal;
  } const same[] = {{0x41, 0xC1, 0x61}, {0x5A, 0xE9, 0x7A}, {0x30, 0xF0, 0x30}, {0x39, 0xF9, 0x39}, {0x20, 0x40, 0x20}};
  for (const Case& c : same) {
    EXPECT_EQ(read_char(Code::Pc, c.pc), c.internal);
    EXPECT_EQ(read_char(Code::Ibm370, c.ibm), c.internal);
  }
}

// PC bytes read and written again are themselves, except the box-drawing
// and duplicate bytes the reading folds together: each vertical bar reads
// as 4D and is written as 7C.
TEST(TransferRecords, PcBytesFoldOnlyDuplicates) {
  int same = 0;
  for (int b = 0; b < 256; ++b) {
    const std::uint8_t c = read_char(Code::Pc, static_cast<std::uint8_t>(b));
    if (write_char(c) == b) {
      ++same;
    } else if (c == 0x4D) {
      EXPECT_EQ(write_char(c), 0x7C) << std::hex << b;
    }
  }
  for (std::uint8_t bar : {0x7C, 0xB3, 0xB4, 0xB9, 0xBA}) EXPECT_EQ(read_char(Code::Pc, bar), 0x4D) << int(bar);
  // All of the printable ASCII range is kept.
  for (int b = 0x20; b < 0x7F; ++b) EXPECT_EQ(write_char(read_char(Code::Pc, static_cast<std::uint8_t>(b))), b) << b;
  EXPECT_GT(same, 200);
}

TEST(TransferRecords, RecordsWrittenAndReadBack) {
  const std::string text = utf8_to_internal("NX 1 3 1 2 3");
  std::uint8_t record[kPcRecordBytes];
  for (bool last : {true, false}) {
    encode_pc(reinterpret_cast<const std::uint8_t*>(text.data()), static_cast<std::uint32_t>(text.size()), last,
              record);
    EXPECT_EQ(record[0], last ? 0x58 : 0x20);
    EXPECT_EQ(std::string(reinterpret_cast<char*>(record + 1), text.size()), "NX 1 3 1 2 3");
    for (std::uint32_t i = 1 + static_cast<std::uint32_t>(text.size()); i < 79; ++i) EXPECT_EQ(record[i], 0x20) << i;
    EXPECT_EQ(record[79], 0xF8);
    EXPECT_EQ(record[80], 0x0D);
    EXPECT_EQ(record[81], 0x0A);
    std::uint8_t back[kDataColumns];
    decode_data(record, Code::Pc, back);
    EXPECT_EQ(std::string(reinterpret_cast<char*>(back), text.size()), text);
    for (std::uint32_t i = static_cast<std::uint32_t>(text.size()); i < kDataColumns; ++i) EXPECT_EQ(back[i], 0x20);
  }
  // A full record: 71 characters, none lost, column 80 still 0xF8.
  std::string full(kDataColumns, static_cast<char>(0x61));
  full.back() = 0x7A;
  encode_pc(reinterpret_cast<const std::uint8_t*>(full.data()), kDataColumns, true, record);
  EXPECT_EQ(record[71], 'Z');
  EXPECT_EQ(record[72], 0x20);
  EXPECT_EQ(record[79], 0xF8);
}

}  // namespace
}  // namespace zema::transfer
