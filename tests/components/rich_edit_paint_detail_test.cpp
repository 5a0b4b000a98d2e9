// Pixels of bullets and of a selection reaching a line's CR, and the area a
// partial repaint covers once the image is scrolled sideways.
#include <gtest/gtest.h>

#include <QApplication>
#include <QImage>
#include <QPaintEvent>

#include <algorithm>
#include <string>

#include "components/rich_edit.h"

namespace zema {
namespace {

QImage shot(MRichEdit& e) { return e.grab().toImage().convertToFormat(QImage::Format_RGB32); }

int count_colour(const QImage& img, QRect r, QRgb rgb) {
  int n = 0;
  for (int y = r.top(); y <= r.bottom(); ++y)
    for (int x = r.left(); x <= r.right(); ++x) n += (img.pixel(x, y) & 0xFFFFFF) == (rgb & 0xFFFFFF);
  return n;
}

TEST(RichEditPaintDetail, ABulletIsInkedFifteenPixelsLeftOfItsLine) {
  MRichEdit bullet, plain;
  for (MRichEdit* e : {&bullet, &plain}) {
    e->resize(200, 40);
    e->InsertString("abc", -1);
  }
  bullet.SetParagraphNumberingStyle(0, 0, 1);
  const QPoint start = bullet.PointFromChar(0);
  const QRect band(start.x() - 15, start.y(), 15, bullet.GetLineHeight(0));
  ASSERT_GE(band.left(), 1);
  const QImage with = shot(bullet);
  EXPECT_LT(count_colour(with, band, 0xFFFFFF), band.width() * band.height());  // ink of "*"
  // Nothing between the bullet and the text, and no bullet without numbering.
  const QImage without = shot(plain);
  const QRect same(plain.PointFromChar(0).x() - 15, start.y(), 15, plain.GetLineHeight(0));
  EXPECT_EQ(count_colour(without, same.intersected(QRect(1, 1, 198, 38)), 0xFFFFFF),
            same.intersected(QRect(1, 1, 198, 38)).width() * same.height());
}

TEST(RichEditPaintDetail, ASelectionEndingAtACrFillsToTheRightEdge) {
  MRichEdit e;
  e.resize(200, 60);
  e.SetWordWrap(false);
  e.InsertString("ab\rcd", -1);
  const int lh = e.GetLineHeight(0);
  const int after_b = e.PointFromChar(2).x() + 2;
  const QRect rest_of_line(after_b, e.PointFromChar(0).y() + 1, 200 - 2 - after_b, lh - 2);
  e.SetSelectionRange(0, 3);  // "ab" and its CR
  EXPECT_EQ(count_colour(shot(e), rest_of_line, 0x000000), rest_of_line.width() * rest_of_line.height());
  e.SetSelectionRange(0, 2);  // not the CR
  EXPECT_EQ(count_colour(shot(e), rest_of_line, 0xFFFFFF), rest_of_line.width() * rest_of_line.height());
  // The second line's rest stays white while the first line's CR is selected.
  e.SetSelectionRange(0, 3);
  const QRect second(e.PointFromChar(5).x() + 2, e.PointFromChar(3).y() + 1, 40, lh - 2);
  EXPECT_EQ(count_colour(shot(e), second, 0xFFFFFF), second.width() * second.height());
}

// Records the bounding rectangles of the paint events a widget receives.
struct PaintSpy : QObject {
  bool eventFilter(QObject*, QEvent* ev) override {
    if (ev->type() == QEvent::Paint) painted |= static_cast<QPaintEvent*>(ev)->rect();
    return false;
  }
  QRect painted;
};

TEST(RichEditPaintDetail, AfterAHorizontalScrollARangeOverTwoLinesRepaintsTheWholeFrameWidth) {
  MRichEdit e;
  e.resize(200, 100);
  e.SetWordWrap(false);
  e.InsertString((std::string(60, 'M') + "\r" + std::string(60, 'W') + "\r" + "end").c_str(), -1);
  e.show();
  QApplication::processEvents();
  e.ScrollImageBy(40, 0, true);
  ASSERT_EQ(e.GetImageLocation().h, -40);
  QApplication::processEvents();
  PaintSpy spy;
  e.installEventFilter(&spy);
  e.RedrawTextRange(20, 50, false);  // from line 0 into line 1
  QApplication::processEvents();
  e.removeEventFilter(&spy);
  const int lh = e.GetLineHeight(0);
  const QPoint line0 = e.PointFromChar(0);
  EXPECT_LE(spy.painted.left(), 1);
  EXPECT_GE(spy.painted.right(), 198);
  EXPECT_LE(spy.painted.top(), line0.y());
  EXPECT_GE(spy.painted.bottom(), line0.y() + 2 * lh - 1);
  EXPECT_LT(spy.painted.bottom(), line0.y() + 3 * lh + 2);  // not the third line's whole band
}

TEST(RichEditPaintDetail, AnEmptyRangeAtTheStartRepaintsTheFirstCharacter) {
  MRichEdit e;
  e.resize(200, 60);
  e.InsertString("abc\rdef", -1);
  e.show();
  QApplication::processEvents();
  PaintSpy spy;
  e.installEventFilter(&spy);
  e.RedrawTextRange(0, 0, false);  // also what losing the focus does with the caret at 0
  QApplication::processEvents();
  e.removeEventFilter(&spy);
  EXPECT_TRUE(spy.painted.contains(e.PointFromChar(0) + QPoint(1, 1)));
}

}  // namespace
}  // namespace zema
