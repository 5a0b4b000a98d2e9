// Images as integer matrices and the text of a multi-line edit control.
#include <gtest/gtest.h>

#include <QImage>
#include <QPlainTextEdit>

#include "wi/widget_values.h"
#include "wi_fixture.h"

namespace zema::wi_test {
namespace {

TEST(QwiWidgetValues, ImagesFromAndToIntegerMatrices) {
  QImage image;
  ASSERT_EQ(get_bitmap_from_apl_data(&image, ints({0, 1, 1, 0}, {2, 2}).data()), 0);
  EXPECT_EQ(image.format(), QImage::Format_Mono);
  ASSERT_EQ(get_bitmap_from_apl_data(&image, ints({0, 1, 2, 0}, {2, 2}).data()), 0);
  EXPECT_EQ(image.format(), QImage::Format_RGB32);

  const Value colours = ints({255, 65280, 16711680, 0x123456, 0, 16777215}, {2, 3});
  ASSERT_EQ(get_bitmap_from_apl_data(&image, colours.data()), 0);
  EXPECT_EQ(image.width(), 3);
  EXPECT_EQ(image.height(), 2);
  std::vector<std::uint8_t> out(256);
  EXPECT_EQ(return_apl_data_from_bitmap(out.data(), &image, 2 * 3 * 4 + 20), 4);
  ASSERT_EQ(return_apl_data_from_bitmap(out.data(), &image, 2 * 3 * 4 + 21), 0);
  EXPECT_EQ(Reply{out.data()}.shape(), (std::vector<std::uint32_t>{2, 3}));
  EXPECT_EQ(Reply{out.data()}.ints(), (std::vector<std::int32_t>{255, 65280, 16711680, 0x123456, 0, 16777215}));

  // A monochrome image reads back as black and white.
  ASSERT_EQ(get_bitmap_from_apl_data(&image, ints({1, 0}, {1, 2}).data()), 0);
  ASSERT_EQ(return_apl_data_from_bitmap(out.data(), &image, 256), 0);
  EXPECT_EQ(Reply{out.data()}.ints(), (std::vector<std::int32_t>{16777215, 0}));

  EXPECT_EQ(get_bitmap_from_apl_data(&image, ints({1, 2, 3}).data()), 16);
  EXPECT_EQ(get_bitmap_from_apl_data(&image, text("ab").data()), 16);
  EXPECT_EQ(get_bitmap_from_apl_data(nullptr, ints({1}, {1, 1}).data()), 68);
  EXPECT_EQ(return_apl_data_from_bitmap(out.data(), nullptr, 256), 68);
}

TEST(QwiWidgetValues, EditTextKeepsCarriageReturnsAsLineEnds) {
  QPlainTextEdit memo;
  Value v = text("ab?c");
  v[16 + 2] = 0x0D;  // a carriage return in the internal set
  ASSERT_EQ(qwi_edit_set_text(&memo, v.data(), false), 0);
  EXPECT_EQ(memo.toPlainText(), QString("ab\nc"));
  std::vector<std::uint8_t> out(256);
  ASSERT_EQ(qwi_edit_return_text(&memo, out.data(), 256, false), 0);
  EXPECT_EQ(std::memcmp(out.data() + 12, v.data() + 12, 8), 0);
  EXPECT_EQ(qwi_edit_return_text(&memo, out.data(), 20, false), 4);

  ASSERT_EQ(qwi_edit_set_selection(&memo, ints({1, 2}).data()), 0);
  ASSERT_EQ(qwi_edit_return_selection(&memo, out.data()), 0);
  EXPECT_EQ(Reply{out.data()}.ints(), (std::vector<std::int32_t>{1, 2}));
  ASSERT_EQ(qwi_edit_return_text(&memo, out.data(), 256, true), 0);
  EXPECT_EQ(qwi_item_count(out.data()), 2u);
  EXPECT_EQ(out[16 + 1], 0x0D);
  ASSERT_EQ(qwi_edit_set_text(&memo, text("XY").data(), true), 0);
  EXPECT_EQ(memo.toPlainText(), QString("aXYc"));

  EXPECT_EQ(qwi_edit_set_text(&memo, ints({1}).data(), false), 12);
  Value matrix = header(11, {2, 1}, 2);
  EXPECT_EQ(qwi_edit_set_text(&memo, matrix.data(), false), 16);
  EXPECT_EQ(qwi_edit_set_selection(&memo, ints({1}).data()), 20);
}

}  // namespace
}  // namespace zema::wi_test
