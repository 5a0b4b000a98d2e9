// The paint interval of the text control: a stream of edits is painted a
// few times, not once per edit, the gathered region and the scroll bar
// catch up when the interval ends, and what the user types shows at once.
#include <gtest/gtest.h>

#include <QApplication>
#include <QElapsedTimer>
#include <QPaintEvent>
#include <QRegion>
#include <QScrollBar>
#include <QTest>

#include <string>

#include "components/rich_edit.h"

namespace zema {
namespace {

// Counts the paints of a widget and gathers the region they covered.
struct PaintWatch : QObject {
  int paints = 0;
  QRegion painted;
  bool eventFilter(QObject*, QEvent* e) override {
    if (e->type() == QEvent::Paint) {
      ++paints;
      painted += static_cast<QPaintEvent*>(e)->region();
    }
    return false;
  }
  void Reset() {
    paints = 0;
    painted = QRegion();
  }
};

struct Shown {
  MRichEdit e;
  PaintWatch watch;
  Shown() {
    e.resize(300, 120);
    e.SetScrollBars(2);
    e.SetHideScrollBars(false);
    e.show();
    EXPECT_TRUE(QTest::qWaitForWindowExposed(&e));
    e.installEventFilter(&watch);
    // Lines enough that the text scrolls, painted before the test starts.
    for (int i = 0; i < 20; ++i) e.InsertString("start\r", -1);
    e.ShowCharPosition(e.GetTextLen());
    QApplication::processEvents();
    watch.Reset();
  }
  // The rectangle of the last line's first character, in control coordinates.
  QRect LastLine() const {
    SRect32 r;
    e.GetCharRectangle(e.LineToChar(e.GetLineCount() - 1), r);
    const SPoint32 at = e.GetImageLocation();
    return QRect(QPoint(r.left + at.h, r.top + at.v), QPoint(r.right + at.h, r.bottom + at.v - 1));
  }
  // Output as the session appends it: at the end, then scrolled into view.
  void Append(const std::string& line) {
    e.SetSelectionRange(e.GetTextLen(), e.GetTextLen());
    e.InsertString(line.c_str(), -1);
    e.ShowCharPosition(e.GetTextLen());
  }
};

TEST(RichEditPaintInterval, StreamOfEditsIsPaintedOncePerIntervalAndCatchesUp) {
  Shown s;
  s.e.SetPaintInterval(200);
  QElapsedTimer clock;
  clock.start();
  for (int i = 0; i < 60; ++i) {
    s.Append("output line " + std::to_string(i) + "\r");
    QApplication::processEvents();  // one event-loop turn per chunk
  }
  const qint64 elapsed = clock.elapsed();
  EXPECT_LE(s.watch.paints, 2 + elapsed / 200) << elapsed << " ms";
  // When the interval ends the last line is painted and the bar shows
  // where the text is scrolled to.
  s.watch.Reset();
  const QRect last = s.LastLine();
  QTest::qWait(300);
  EXPECT_GE(s.watch.paints, 1);
  EXPECT_TRUE(s.watch.painted.contains(last)) << last.top() << " " << last.bottom();
  EXPECT_EQ(s.e.VerticalBar()->value(), -s.e.GetImageLocation().v);
  EXPECT_EQ(s.e.VerticalBar()->maximum(), -s.e.GetImageLocation().v);
  EXPECT_FALSE(s.e.PaintDeferred());
}

TEST(RichEditPaintInterval, TypedKeyPaintsAtOnceWithWhatWasGathered) {
  Shown s;
  s.e.SetPaintInterval(5000);
  s.Append("first\r");
  QApplication::processEvents();
  s.Append("second\r");  // within the interval of the paint just made
  QApplication::processEvents();
  ASSERT_TRUE(s.e.PaintDeferred());
  const QRect gathered = s.LastLine().translated(0, -s.e.GetLineHeight(0));
  s.watch.Reset();
  QElapsedTimer clock;
  clock.start();
  QTest::keyClick(&s.e, Qt::Key_X, Qt::NoModifier);
  QApplication::processEvents();
  EXPECT_LT(clock.elapsed(), 1000);
  EXPECT_GE(s.watch.paints, 1);
  EXPECT_TRUE(s.watch.painted.contains(gathered));
  EXPECT_FALSE(s.e.PaintDeferred());
  EXPECT_EQ(s.e.GetTextCopy().back(), 'x');
}

TEST(RichEditPaintInterval, WithoutAnIntervalEveryTurnPaints) {
  Shown s;
  for (int i = 0; i < 5; ++i) {
    const int before = s.watch.paints;
    s.Append("line\r");
    QApplication::processEvents();
    EXPECT_GT(s.watch.paints, before);
    EXPECT_FALSE(s.e.PaintDeferred());
  }
  // Setting the interval back to 0 shows what was gathered at once.
  s.e.SetPaintInterval(5000);
  s.Append("gathered\r");
  QApplication::processEvents();
  ASSERT_TRUE(s.e.PaintDeferred());
  s.watch.Reset();
  const QRect last = s.LastLine();
  s.e.SetPaintInterval(0);
  QApplication::processEvents();
  EXPECT_FALSE(s.e.PaintDeferred());
  EXPECT_TRUE(s.watch.painted.contains(last));
}

}  // namespace
}  // namespace zema
