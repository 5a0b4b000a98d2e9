// The shell and the shell window base on real windows: titles, tiling,
// cascading, Close All, the window list, Next Window, geometry in the
// desktop file, the window list dialog, the about box and broadcasts from
// another thread.
#include <QAction>
#include <QFontMetrics>
#include <QLabel>
#include <QListWidget>
#include <QPushButton>
#include <QThread>

#include <atomic>
#include <thread>

#include "components/rich_edit.h"
#include "windows/shell_text.h"
#include "windows/window_list.h"
#include "window_fixture.h"

namespace zema {
namespace {

using testing_support::WindowFixture;

class ShellWindows : public WindowFixture {
 protected:
  TAPLShellWindow* NewWindow(APLShell* shell, int kind) { return Add(new TAPLShellWindow, shell, kind); }
  static std::vector<TAPLShellWindow*> Listed(APLShell* s, int kind = kind_any) {
    std::vector<TAPLShellWindow*> out;
    for (TAPLShellWindow* w = s->GetFirstShellWindow(kind); w; w = s->GetNextShellWindow(kind)) out.push_back(w);
    return out;
  }
  static void FlushDeletes() { QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete); }
};

TEST_F(ShellWindows, TitlesAreBoundedToFiftyCharacters) {
  TAPLShellWindow* w = NewWindow(nullptr, kind_session);
  EXPECT_EQ(w->GetWindowTitle(), "ZEMA");
  const std::string s49(49, 'x'), s50(50, 'y'), s60(60, 'z');
  w->SetWindowTitle(s49);
  EXPECT_EQ(w->GetWindowTitle(), s49);
  EXPECT_EQ(w->windowTitle(), QString::fromStdString(s49));
  w->SetWindowTitle(s50);
  EXPECT_EQ(w->GetWindowTitle(), std::string(48, 'y') + "..");
  w->SetWindowTitle(s60);
  EXPECT_EQ(w->GetWindowTitle(), std::string(48, 'z') + "..");
  EXPECT_EQ(w->windowTitle(), QString::fromStdString(std::string(48, 'z') + ".."));
  w->SetTitleDrawMode(true);
  EXPECT_EQ(w->windowTitle(), QString());
  w->SetTitleDrawMode(false);
  EXPECT_EQ(w->windowTitle(), QString::fromStdString(std::string(48, 'z') + ".."));
}

// Headless, with no hook standing in for a person, a modal dialog is
// cancelled at once instead of waiting for ever.
TEST(RunModalHeadless, CancelledWithoutWaiting) {
  set_run_modal_hook(nullptr);
  QDialog d;
  d.setWindowTitle(QStringLiteral("Load APL workspace"));
  EXPECT_EQ(RunModal(&d), QDialog::Rejected);
  EXPECT_FALSE(d.isVisible());
}

TEST(TileGrid, RowsAndColumnsForEachCount) {
  struct Case {
    int n, rows, columns;
  };
  const Case cases[] = {{0, 0, 0},  {1, 1, 1},  {2, 1, 2},  {3, 1, 3},  {4, 2, 2},  {5, 2, 3},  {6, 2, 3},
                        {7, 3, 3},  {9, 3, 3},  {10, 3, 4}, {12, 3, 4}, {13, 4, 4}, {16, 4, 4}, {17, 5, 5},
                        {25, 5, 5}, {26, 6, 6}, {36, 6, 6}, {37, 7, 7}, {49, 7, 7}, {50, 8, 7}, {63, 8, 8},
                        {64, 8, 9}};
  for (const Case& c : cases) {
    const TileGrid g = tile_grid(c.n);
    EXPECT_EQ(g.rows, c.rows) << c.n;
    EXPECT_EQ(g.columns, c.columns) << c.n;
  }
}

TEST_F(ShellWindows, TileGivesFiveWindowsTwoRowsOfThreeCells) {
  APLShell* one = NewShell();
  APLShell* two = NewShell();
  std::vector<TAPLShellWindow*> tiled = {NewWindow(one, kind_session), NewWindow(one, kind_function_editor),
                                         NewWindow(one, kind_watch)};
  TAPLShellWindow* minimised = NewWindow(one, kind_display);
  minimised->showMinimized();
  TAPLShellWindow* any = NewWindow(one, kind_any);
  any->move(7, 9);
  any->resize(123, 45);
  tiled.push_back(NewWindow(two, kind_session));
  tiled.push_back(NewWindow(two, kind_variable_editor));
  ASSERT_TRUE(minimised->isMinimized());

  tiled[0]->WindowTileItemClick();
  const QRect screen = screen_client_rect();
  const int cw = screen.width() / 3, ch = screen.height() / 2;
  for (int i = 0; i < 5; ++i) {
    SCOPED_TRACE(i);
    EXPECT_EQ(tiled[i]->x(), (i % 3) * cw);
    EXPECT_EQ(tiled[i]->y(), (i / 3) * ch);
    EXPECT_EQ(tiled[i]->width(), cw);
    EXPECT_EQ(tiled[i]->height(), ch);
  }
  EXPECT_EQ(any->pos(), QPoint(7, 9));
  EXPECT_EQ(any->size(), QSize(123, 45));
}

TEST_F(ShellWindows, CascadeWrapsEachCoordinateOnItsOwn) {
  const QRect screen = screen_client_rect();
  const int columns = (screen.width() - 16) / 16 + 1;  // x positions before x wraps
  const int rows = (screen.height() - 16) / 16 + 1;    // y positions before y wraps
  // On a square screen both wrap at the same window; each is checked
  // against its own edge either way.
  const int n = std::max(columns, rows) + 3;
  APLShell* one = NewShell();
  APLShell* two = NewShell();
  std::vector<TAPLShellWindow*> windows;
  for (int i = 0; i < n; ++i) {
    windows.push_back(NewWindow(i < n / 2 ? one : two, i % 5 == 0 ? kind_any : kind_function_editor));
    windows.back()->resize(100, 60);
  }
  TAPLShellWindow* minimised = NewWindow(two, kind_watch);
  minimised->showMinimized();
  windows.push_back(NewWindow(two, kind_watch));  // after the minimised one, which takes no step

  windows[0]->WindowCascadeItemClick();
  for (int i = 0; i <= n; ++i) {
    SCOPED_TRACE(i);
    EXPECT_EQ(windows[i]->x(), screen.left() + 16 * (i % columns));
    EXPECT_EQ(windows[i]->y(), screen.top() + 16 * (i % rows));
  }
  EXPECT_EQ(windows[columns]->x(), screen.left());
  EXPECT_EQ(windows[rows]->y(), screen.top());
  if (columns != rows) {
    EXPECT_NE(windows[columns]->y(), screen.top());
    EXPECT_NE(windows[rows]->x(), screen.left());
  }
}

TEST_F(ShellWindows, CloseAllClosesTheEditingKindsOfEveryShell) {
  const int closing[] = {kind_function_editor, kind_variable_editor, kind_search_results, kind_watch,
                         kind_debugger,        kind_display,         kind_class_summary};
  const int staying[] = {kind_session, kind_any, kind_quick_chart, kind_keyboard};
  APLShell* shells[] = {NewShell(), NewShell()};
  std::vector<QPointer<TAPLShellWindow>> closed, kept;
  for (APLShell* s : shells) {
    kept.push_back(NewWindow(s, kind_session));
    for (int k : closing) closed.push_back(NewWindow(s, k));
    for (int k : staying) kept.push_back(NewWindow(s, k));
    closed.push_back(NewWindow(s, kind_function_editor));
  }
  kept[0]->WindowMenuClick();
  EXPECT_TRUE(kept[0]->WindowCloseAllItem->isEnabled());
  kept[0]->WindowCloseAllItem->trigger();
  FlushDeletes();
  for (auto& w : closed) EXPECT_TRUE(w.isNull());
  for (auto& w : kept) EXPECT_FALSE(w.isNull());
  EXPECT_EQ(Listed(shells[0]).size(), 5u);
  EXPECT_EQ(Listed(shells[1]).size(), 5u);
  kept[0]->WindowMenuClick();
  EXPECT_FALSE(kept[0]->WindowCloseAllItem->isEnabled());
}

TEST_F(ShellWindows, BroadcastCloseReachesEveryWindowOfTheKindAsEachLeaves) {
  APLShell* s = NewShell();
  const int kinds[] = {kind_function_editor, kind_function_editor, kind_variable_editor, kind_function_editor,
                       kind_function_editor, kind_session,         kind_function_editor};
  std::vector<QPointer<TAPLShellWindow>> windows;
  for (int k : kinds) windows.push_back(NewWindow(s, k));
  s->BroadcastMsg(kind_function_editor, msg_close, 0, nullptr);
  FlushDeletes();
  for (std::size_t i = 0; i < windows.size(); ++i)
    EXPECT_EQ(windows[i].isNull(), kinds[i] == kind_function_editor) << i;
  EXPECT_EQ(Listed(s).size(), 2u);
}

TEST_F(ShellWindows, TheWindowListOfAShell) {
  APLShell* s = NewShell();
  EXPECT_EQ(s->GetFirstShellWindow(kind_any), nullptr);
  EXPECT_EQ(s->GetNextShellWindow(kind_any), nullptr);
  TAPLShellWindow* a = NewWindow(s, kind_session);
  TAPLShellWindow* b = NewWindow(s, kind_function_editor);
  s->AddWindowToShell(a);
  s->AddWindowToShell(b);
  EXPECT_EQ(Listed(s), (std::vector<TAPLShellWindow*>{a, b}));
  EXPECT_EQ(Listed(s, kind_function_editor), std::vector<TAPLShellWindow*>{b});
  EXPECT_EQ(s->GetFirstShellWindow(kind_function_editor), b);
  EXPECT_EQ(s->GetNextShellWindow(kind_function_editor), nullptr);
  EXPECT_EQ(s->GetNextShellWindow(kind_function_editor), nullptr);
  EXPECT_EQ(s->GetNextShellWindow(kind_any), nullptr);
  EXPECT_EQ(s->GetFirstShellWindow(kind_watch), nullptr);
  EXPECT_EQ(s->GetNextShellWindow(kind_any), nullptr);
}

TEST_F(ShellWindows, FindNamedEditWindowWithOnlyASessionWindow) {
  APLShell* s = NewShell();
  NewWindow(s, kind_session);
  EXPECT_EQ(s->FindNamedEditWindow("x"), -1);
  EXPECT_EQ(s->FindNamedEditWindow(""), -1);
}

TEST_F(ShellWindows, NextWindowGoesRoundTheChain) {
  APLShell* one = NewShell();
  TAPLShellWindow* only = NewWindow(one, kind_session);
  ASSERT_TRUE(Activate(only));
  only->WindowNextWindow->trigger();
  EXPECT_TRUE(only->isActiveWindow());

  TAPLShellWindow* second = NewWindow(one, kind_function_editor);
  APLShell* two = NewShell();
  TAPLShellWindow* third = NewWindow(two, kind_session);
  TAPLShellWindow* last = NewWindow(two, kind_watch);
  ASSERT_TRUE(Activate(second));
  second->WindowNextWindow->trigger();
  EXPECT_TRUE(QTest::qWaitForWindowActive(third, 2000));
  ASSERT_TRUE(Activate(last));
  last->WindowNextWindow->trigger();
  EXPECT_TRUE(QTest::qWaitForWindowActive(only, 2000));

  // A shell without windows at the end of the chain does not stop the
  // round.
  NewShell();
  ASSERT_TRUE(Activate(last));
  last->WindowNextWindow->trigger();
  EXPECT_TRUE(QTest::qWaitForWindowActive(only, 2000));
}

TEST_F(ShellWindows, ModalBeginAndEndLeaveTheWindowEnabled) {
  TAPLShellWindow* w = NewWindow(NewShell(), kind_session);
  w->AcceptMsg(msg_modal_begin, 0, nullptr);
  EXPECT_FALSE(w->isEnabled());
  w->AcceptMsg(msg_modal_end, 0, nullptr);
  EXPECT_TRUE(w->isEnabled());
  w->AcceptMsg(msg_modal_begin, 0, nullptr);
  w->AcceptMsg(msg_apl_ready, 0, nullptr);
  EXPECT_TRUE(w->isEnabled());
}

TEST_F(ShellWindows, SetBoundsMessage) {
  TAPLShellWindow* w = NewWindow(NewShell(), kind_session);
  BoundsRect r{30, 40, 330, 240};
  w->AcceptMsg(msg_set_bounds, 0, &r);
  EXPECT_EQ(w->pos(), QPoint(30, 40));
  EXPECT_EQ(w->size(), QSize(300, 200));
}

// ---------------------------------------------------------------- desktop file

class DesktopPositions : public ShellWindows {
 protected:
  void SetUp() override {
    ShellWindows::SetUp();
    gDesktopFile = new MemIniFile;
    w = NewWindow(NewShell(), kind_function_editor);
  }
  TAPLShellWindow* w = nullptr;
};

TEST_F(DesktopPositions, SavingTwiceKeepsOneSectionOfFourKeys) {
  w->move(20, 30);
  w->resize(300, 200);
  w->SaveDesktopPosition("f");
  w->move(25, 35);
  w->SaveDesktopPosition("f");
  EXPECT_EQ(gDesktopFile->ReadSections(), std::vector<std::string>{"MYWS:f"});
  EXPECT_EQ(gDesktopFile->ReadSection("MYWS:f"), (std::vector<std::string>{"top", "left", "width", "height"}));
  EXPECT_EQ(gDesktopFile->ReadInteger("MYWS:f", "top", -1), 35);
  EXPECT_EQ(gDesktopFile->ReadInteger("MYWS:f", "left", -1), 25);
  EXPECT_EQ(gDesktopFile->ReadInteger("MYWS:f", "width", -1), 300);
  EXPECT_EQ(gDesktopFile->ReadInteger("MYWS:f", "height", -1), 200);

  w->move(0, 0);
  w->resize(100, 100);
  w->RestoreDesktopPosition("f");
  EXPECT_EQ(w->pos(), QPoint(25, 35));
  EXPECT_EQ(w->size(), QSize(300, 200));
}

TEST_F(DesktopPositions, NothingIsSavedWithoutAName) {
  w->SaveDesktopPosition("");
  EXPECT_TRUE(gDesktopFile->ReadSections().empty());
}

TEST_F(DesktopPositions, RestoringIsOffWhenPositionsAreNotSaved) {
  Set("save_window_positions: False");
  gDesktopFile->WriteInteger("MYWS:f", "top", 100);
  gDesktopFile->WriteInteger("MYWS:f", "left", 110);
  w->move(5, 6);
  w->RestoreDesktopPosition("f");
  EXPECT_EQ(w->pos(), QPoint(5, 6));
}

TEST_F(DesktopPositions, RestoredWindowsStayOnTheScreen) {
  const QRect screen = screen_client_rect();
  struct Case {
    int top, left, want_top, want_left;
  };
  const int bottom = screen.height(), right = screen.width();
  const Case cases[] = {
      {bottom - 50, 10, 0, 10},          {bottom - 51, 10, bottom - 51, 10}, {-5, 10, 0, 10},
      {20, right - 50, 20, 0},           {20, right - 51, 20, right - 51},   {20, -1, 20, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << c.top << "," << c.left);
    gDesktopFile->WriteInteger("MYWS:f", "top", c.top);
    gDesktopFile->WriteInteger("MYWS:f", "left", c.left);
    w->RestoreDesktopPosition("f");
    EXPECT_EQ(w->y(), c.want_top);
    EXPECT_EQ(w->x(), c.want_left);
  }
}

// ---------------------------------------------------------------- dialogs

TEST_F(ShellWindows, WindowListChoosesTheEleventhWindow) {
  APLShell* one = NewShell();
  APLShell* two = NewShell();
  std::vector<TAPLShellWindow*> windows;
  for (int i = 0; i < 11; ++i) {
    windows.push_back(NewWindow(i < 6 ? one : two, i == 0 || i == 6 ? kind_session : kind_function_editor));
    windows.back()->SetWindowTitle("w" + std::to_string(i));
  }
  ASSERT_TRUE(Activate(windows[0]));
  windows[0]->WindowMenuClick();
  EXPECT_TRUE(windows[0]->WindowsMoreWindows->isVisible());
  int rows = 0, first_selected = -1;
  set_run_modal_hook([&](QDialog* d) {
    auto* list = static_cast<TAPLWindowListDialog*>(d)->WindowListBox;
    rows = list->count();
    first_selected = list->currentRow();
    QListWidgetItem* item = list->item(10);
    list->scrollToItem(item);
    const QPoint at = list->visualItemRect(item).center();
    QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, at);
    QTest::mouseDClick(list->viewport(), Qt::LeftButton, {}, at);
    return d->result();
  });
  windows[0]->WindowsMoreWindows->trigger();
  EXPECT_EQ(rows, 11);
  EXPECT_EQ(first_selected, 0);
  EXPECT_TRUE(QTest::qWaitForWindowActive(windows[10], 2000));

  // Cancelled: nothing is activated.
  ASSERT_TRUE(Activate(windows[3]));
  set_run_modal_hook([&](QDialog* d) {
    auto* dialog = static_cast<TAPLWindowListDialog*>(d);
    dialog->WindowListBox->setCurrentRow(7);
    QTest::mouseClick(dialog->CancelBtn, Qt::LeftButton);
    return d->result();
  });
  windows[3]->WindowsMoreWindowsClick();
  QTest::qWait(50);
  for (int i = 0; i < 11; ++i)
    if (i != 3) {
      EXPECT_FALSE(windows[i]->isActiveWindow()) << i;
    }
}

TEST_F(ShellWindows, AboutBoxShowsTheVersionAndClosesOnAnyClick) {
  TAPLShellWindow* w = NewWindow(NewShell(), kind_session);
  QString version;
  bool closed = false;
  set_run_modal_hook([&](QDialog* d) {
    auto* box = static_cast<TAboutBox*>(d);
    version = box->LabelVersion->text();
    QTest::mouseClick(box->Label1, Qt::LeftButton);
    closed = !box->isVisible();
    return d->result();
  });
  w->HelpAboutItem->trigger();
  EXPECT_EQ(version, QStringLiteral("Version 4.1.12 / 7. 0 "));
  EXPECT_TRUE(closed);

  for (int target = 0; target < 5; ++target) {
    SCOPED_TRACE(target);
    TAboutBox box(w);
    box.show();
    QWidget* widgets[] = {&box, box.Label2, box.LabelVersion, box.Label1, box.ProgramIcon};
    QWidget* hit = widgets[target];
    QTest::mouseClick(hit, Qt::LeftButton, {}, target == 0 ? QPoint(2, 2) : hit->rect().center());
    EXPECT_FALSE(box.isVisible());
    EXPECT_EQ(box.result(), 1);
  }
}

// ---------------------------------------------------------------- threads

class RecordingWindow : public TAPLShellWindow {
 public:
  void AcceptMsg(int msg, int arg, void* ptr) override {
    if (msg == msg_prefs_changed) {
      thread = QThread::currentThread();
      ++calls;
    }
    TAPLShellWindow::AcceptMsg(msg, arg, ptr);
  }
  QThread* thread = nullptr;
  int calls = 0;
};

TEST_F(ShellWindows, BroadcastFromAnotherThreadRunsOnTheGuiThread) {
  APLShell* s = NewShell();
  auto* a = Add(new RecordingWindow, s, kind_session);
  auto* b = Add(new RecordingWindow, s, kind_function_editor);
  std::atomic<bool> done{false};
  std::thread sender([&] {
    s->BroadcastMsg(kind_any, msg_prefs_changed, 0, nullptr);
    done = true;
  });
  EXPECT_TRUE(QTest::qWaitFor([&] { return done.load(); }, 5000));
  sender.join();
  EXPECT_EQ(a->calls, 1);
  EXPECT_EQ(b->calls, 1);
  EXPECT_EQ(a->thread, QThread::currentThread());
  EXPECT_EQ(b->thread, QThread::currentThread());
}

}  // namespace
}  // namespace zema

namespace zema::testing_support {
namespace {

using WatchOutputTest = WindowFixture;

// Output captured by a watch window narrows ⎕PW to the window; a second
// capture keeps the first saved width, and ending it (or closing the
// capturing window) gives the session its width back.
TEST_F(WatchOutputTest, SavesAndRestoresThePrintWidth) {
  APLShell* shell = NewShell();
  FakeTask* task = TaskOf(shell);
  task->pw = 72;
  auto* a = Add(new TAPLShellText, shell, kind_watch);
  auto* b = Add(new TAPLShellText, shell, kind_watch);
  a->resize(400, 200);
  b->resize(300, 200);
  QApplication::processEvents();
  const int em = QFontMetrics(a->Contents->font()).horizontalAdvance(QLatin1Char('m'));
  shell->WatchOutput(a);
  EXPECT_EQ(task->pw, a->Contents->width() / em - 1);
  EXPECT_EQ(shell->saved_print_width, 72);
  shell->WatchOutput(b);
  EXPECT_EQ(task->pw, b->Contents->width() / em - 1);
  EXPECT_EQ(shell->saved_print_width, 72);
  shell->WatchOutput(nullptr);
  EXPECT_EQ(task->pw, 72);
  shell->WatchOutput(a);
  EXPECT_NE(task->pw, 72);
  a->close();
  QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
  EXPECT_EQ(shell->watch_output, nullptr);
  EXPECT_EQ(task->pw, 72);
}

// Escape answers as Cancel does.
TEST(DialogBase, EscapeAnswersCancel) {
  TAPLStdDialog d;
  d.show();
  QTest::keyClick(&d, Qt::Key_Escape);
  EXPECT_EQ(d.result(), 2);
  EXPECT_FALSE(d.isVisible());
}

}  // namespace
}  // namespace zema::testing_support
