// Keys delivered the way a window delivers them: the control inside a window
// whose actions have shortcuts, keys sent through the shortcut machinery.
#include <gtest/gtest.h>

#include <QAction>
#include <QApplication>
#include <QTest>
#include <QVBoxLayout>
#include <QWidget>

#include <string>

#include "components/rich_edit.h"

namespace zema {
namespace {

struct Window {
  Window() {
    auto* layout = new QVBoxLayout(&w);
    e = new MRichEdit;
    layout->addWidget(e);
    w.resize(400, 200);
    e->SetWordWrap(false);
    const std::string text = "alpha beta gamma";
    e->InsertText(text.data(), static_cast<int>(text.size()), -1);
    w.show();
    QApplication::setActiveWindow(&w);
    e->setFocus();
    QApplication::processEvents();
  }
  // An action of the window with the given shortcut; counts its triggers.
  int* Shortcut(const QKeySequence& keys) {
    auto* a = new QAction(&w);
    a->setShortcut(keys);
    a->setShortcutContext(Qt::WindowShortcut);
    w.addAction(a);
    int* n = &counts[count_used++];
    QObject::connect(a, &QAction::triggered, [n] { ++*n; });
    return n;
  }
  QWidget w;
  MRichEdit* e = nullptr;
  int counts[8] = {};
  int count_used = 0;
};

TEST(RichEditKeys, ControlTakesItsKeysAheadOfWindowShortcuts) {
  struct Case {
    Qt::Key key;
    Qt::KeyboardModifiers mods;
    bool control_takes;  // else the window's shortcut fires
    int caret_after;     // from the caret at 8 (inside "beta")
    const char* text_after;
  };
  const Case cases[] = {
      {Qt::Key_Left, Qt::ControlModifier, true, 6, "alpha beta gamma"},    // word start
      {Qt::Key_Right, Qt::ControlModifier, true, 10, "alpha beta gamma"},  // word end
      {Qt::Key_Delete, Qt::NoModifier, true, 8, "alpha bea gamma"},
      {Qt::Key_Backspace, Qt::NoModifier, true, 7, "alpha bta gamma"},
      {Qt::Key_Home, Qt::NoModifier, true, 0, "alpha beta gamma"},
      {Qt::Key_X, Qt::NoModifier, true, 9, "alpha bexta gamma"},
      {Qt::Key_C, Qt::ControlModifier, false, 8, "alpha beta gamma"},
      {Qt::Key_Home, Qt::ControlModifier, false, 8, "alpha beta gamma"},
      {Qt::Key_Z, Qt::ControlModifier, false, 8, "alpha beta gamma"},
  };
  for (const Case& c : cases) {
    Window win;
    ASSERT_TRUE(win.e->hasFocus());
    win.e->SetInsertionPoint(8, false);
    int* fired = win.Shortcut(QKeySequence(c.key | c.mods));
    QTest::keyClick(win.e, c.key, c.mods);
    const std::string what = QKeySequence(c.key | c.mods).toString().toStdString();
    EXPECT_EQ(*fired, c.control_takes ? 0 : 1) << what;
    EXPECT_EQ(win.e->Caret(), c.caret_after) << what;
    EXPECT_EQ(win.e->Text(), c.text_after) << what;
  }
}

TEST(RichEditKeys, CtrlKeysWithoutAShortcutStillReachTheControl) {
  Window win;
  win.e->SetInsertionPoint(8, false);
  QTest::keyClick(win.e, Qt::Key_End, Qt::ControlModifier);
  EXPECT_EQ(win.e->Caret(), 16);
  QTest::keyClick(win.e, Qt::Key_Home, Qt::ControlModifier);
  EXPECT_EQ(win.e->Caret(), 0);
}

}  // namespace
}  // namespace zema
