// Mouse clicks and drags, the caret's blink, word-wise movement and a
// horizontal scroll bar handed in by the owner.
#include <gtest/gtest.h>

#include <QApplication>
#include <QMouseEvent>
#include <QPointer>
#include <QScrollBar>
#include <QTest>

#include <string>

#include "components/rich_edit.h"

namespace zema {
namespace {

struct Shown {
  explicit Shown(const std::string& text) {
    e.resize(400, 200);
    e.SetWordWrap(false);
    e.InsertText(text.data(), static_cast<int>(text.size()), -1);
    e.show();
    QApplication::setActiveWindow(&e);
    e.setFocus();
    QApplication::processEvents();
  }
  void Mouse(QEvent::Type type, QPoint at, Qt::KeyboardModifiers mods = Qt::NoModifier) {
    const Qt::MouseButtons held = type == QEvent::MouseButtonRelease ? Qt::NoButton : Qt::LeftButton;
    QMouseEvent ev(type, at, e.mapToGlobal(at), type == QEvent::MouseMove ? Qt::NoButton : Qt::LeftButton, held, mods);
    QApplication::sendEvent(&e, &ev);
  }
  // The middle of character pos, in control coordinates.
  QPoint At(int pos) const {
    SRect32 r;
    e.GetCharRectangle(pos, r);
    const SPoint32 o = e.GetImageLocation();
    return {(r.left + r.right) / 2 + o.h, (r.top + r.bottom) / 2 + o.v};
  }
  std::pair<int, int> Sel() const {
    int s, t;
    e.GetSelectionRange(s, t);
    return {s, t};
  }
  MRichEdit e;
};

TEST(RichEditMouse, ClicksPlaceTheCaretShiftClickExtendsDoubleClickSelectsAWord) {
  Shown w("alpha beta\rgamma delta\r");
  w.Mouse(QEvent::MouseButtonPress, w.At(7));
  w.Mouse(QEvent::MouseButtonRelease, w.At(7));
  EXPECT_EQ(w.e.Caret(), 7);
  EXPECT_EQ(w.Sel(), std::make_pair(7, 7));
  // Shift+click after the caret: caret..pos; before the selection: pos..end.
  w.Mouse(QEvent::MouseButtonPress, w.At(14), Qt::ShiftModifier);
  w.Mouse(QEvent::MouseButtonRelease, w.At(14), Qt::ShiftModifier);
  EXPECT_EQ(w.Sel(), std::make_pair(7, 14));
  w.Mouse(QEvent::MouseButtonPress, w.At(2), Qt::ShiftModifier);
  w.Mouse(QEvent::MouseButtonRelease, w.At(2), Qt::ShiftModifier);
  EXPECT_EQ(w.Sel(), std::make_pair(2, 14));
  // Double click on "gamma": the word, united with no selection after a click.
  w.Mouse(QEvent::MouseButtonPress, w.At(13));
  w.Mouse(QEvent::MouseButtonRelease, w.At(13));
  w.Mouse(QEvent::MouseButtonDblClick, w.At(13));
  w.Mouse(QEvent::MouseButtonRelease, w.At(13));
  EXPECT_EQ(w.Sel(), std::make_pair(11, 16));
  EXPECT_EQ(QWidget::mouseGrabber(), nullptr);
  // Three clicks: the whole line with its CR.
  w.e.MouseClicked(3, 13, false);
  EXPECT_EQ(w.Sel(), std::make_pair(11, 23));
}

TEST(RichEditMouse, DraggingSelectsFromTheAnchorEitherWay) {
  Shown w("alpha beta\rgamma delta\r");
  w.Mouse(QEvent::MouseButtonPress, w.At(6));
  ASSERT_EQ(QWidget::mouseGrabber(), &w.e);
  w.Mouse(QEvent::MouseMove, w.At(13));
  EXPECT_EQ(w.Sel(), std::make_pair(6, 13));
  w.Mouse(QEvent::MouseMove, w.At(2));  // back across the anchor
  EXPECT_EQ(w.Sel(), std::make_pair(2, 6));
  EXPECT_EQ(w.e.Caret(), 6);
  w.Mouse(QEvent::MouseButtonRelease, w.At(2));
  EXPECT_EQ(QWidget::mouseGrabber(), nullptr);
  w.Mouse(QEvent::MouseMove, w.At(15));  // not dragging any more
  EXPECT_EQ(w.Sel(), std::make_pair(2, 6));
}

TEST(RichEditCaret, TheCaretBlinksOnlyWithoutASelection) {
  Shown w("abc");
  w.e.SetInsertionPoint(1, false);
  ASSERT_TRUE(w.e.IsTarget());
  // The timer flips the caret every 500 ms: on, then off again.
  const bool before = w.e.CaretShown();
  EXPECT_TRUE(QTest::qWaitFor([&] { return w.e.CaretShown() != before; }, 2000));
  EXPECT_TRUE(QTest::qWaitFor([&] { return w.e.CaretShown() == before; }, 2000));
  w.e.SetSelectionRange(0, 2);
  EXPECT_FALSE(w.e.CaretShown());
  QTest::qWait(600);
  EXPECT_FALSE(w.e.CaretShown());
}

TEST(RichEditKeysByWord, CtrlArrowsMoveByWordsAndParagraphs) {
  struct Case {
    int from;
    int key;
    bool by_word, to_boundary;
    int to;
  };
  // "ab cd\r\ref  gh\rij" : paragraphs at 0, 6, 7, 14.
  const Case cases[] = {
      {4, Qt::Key_Left, true, false, 3},     // inside a word: its start
      {3, Qt::Key_Left, true, false, 0},     // at a word start: the previous word
      {9, Qt::Key_Left, true, false, 7},     // at the blanks after "ef": the word "ef"
      {7, Qt::Key_Left, true, false, 3},     // back over two CRs to "cd"
      {0, Qt::Key_Left, true, false, 0},
      {1, Qt::Key_Right, true, false, 2},    // to the end of "ab"
      {2, Qt::Key_Right, true, false, 5},    // at its end: over the blank, end of "cd"
      {5, Qt::Key_Right, true, false, 9},    // over CRs to the end of "ef"
      {10, Qt::Key_Up, true, false, 7},      // paragraph start
      {7, Qt::Key_Up, true, false, 6},       // already there: the previous one
      {8, Qt::Key_Down, true, false, 13},    // the next CR
      {13, Qt::Key_Down, true, false, 16},   // past the CR it is on: to the end
      {10, Qt::Key_Left, false, true, 7},    // line start
      {8, Qt::Key_Right, false, true, 13},   // line end, before the CR
      {10, Qt::Key_Up, false, true, 0},
      {3, Qt::Key_Down, false, true, 16},
  };
  for (const Case& c : cases) {
    MRichEdit e;
    e.resize(300, 200);
    e.SetWordWrap(false);
    e.InsertString("ab cd\r\ref  gh\rij", -1);
    e.SetInsertionPoint(c.from, false);
    e.CursorKeyPressed(c.key, false, c.to_boundary, c.by_word, true);
    EXPECT_EQ(e.Caret(), c.to) << "key " << std::hex << c.key << std::dec << " from " << c.from;
  }
}

TEST(RichEditScroll, AnOwnersHorizontalBarReplacesTheControlsAndScrollsIt) {
  MRichEdit e;
  e.resize(120, 80);
  e.SetWordWrap(false);
  e.SetScrollBars(3);
  e.InsertString(std::string(80, 'M').c_str(), -1);
  QPointer<QScrollBar> old = e.HorizontalBar();
  QWidget owner;
  auto* bar = new QScrollBar(Qt::Horizontal, &owner);
  e.SetHorizScrollbar(bar);
  EXPECT_TRUE(old.isNull());  // the control's own bar is freed
  EXPECT_EQ(e.HorizontalBar(), bar);
  EXPECT_GT(bar->maximum(), 0);  // the wide text gives the new bar a range
  bar->setValue(40);
  EXPECT_EQ(e.GetImageLocation().h, -40);
  // Handing in the bar it already has keeps it alive and hooked once.
  int scrolls = 0;
  e.OnScroll = [&](MRichEdit*) { ++scrolls; };
  e.SetHorizScrollbar(bar);
  EXPECT_EQ(e.HorizontalBar(), bar);
  bar->setValue(10);
  EXPECT_EQ(e.GetImageLocation().h, -10);
  EXPECT_EQ(scrolls, 1);
  // A bar handed in while it is not wanted is not hooked.
  MRichEdit plain;
  plain.resize(120, 80);
  plain.SetScrollBars(0);
  plain.InsertString(std::string(80, 'M').c_str(), -1);
  auto* idle = new QScrollBar(Qt::Horizontal, &owner);
  plain.SetHorizScrollbar(idle);
  idle->setValue(5);
  EXPECT_EQ(plain.GetImageLocation().h, 0);
}

}  // namespace
}  // namespace zema
