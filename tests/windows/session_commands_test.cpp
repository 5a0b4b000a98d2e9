// The session window's menus and commands on real widgets: the packaged
// arrangement (and that the development shortcuts do not exist in it), the
// workspace commands as submitted lines, Save As and its refusals, the
// recent workspaces, the session history files, closing and Exit.
#include <QAction>
#include <QFile>
#include <QKeyEvent>
#include <QMenu>
#include <QMenuBar>
#include <QTemporaryDir>
#include <QTest>

#include <string>
#include <vector>

#include "components/rich_edit.h"
#include "host/charset.h"
#include "platform/memory_ini.h"
#include "platform/message_box.h"
#include "tests/windows/window_fixture.h"
#include "windows/session_window.h"

namespace zema {
namespace {

using testing_support::FakeTask;
using testing_support::WindowFixture;

std::string internal(const std::string& utf8) { return utf8_to_internal(utf8); }

class SessionCommandsTest : public WindowFixture {
 protected:
  void SetUp() override {
    WindowFixture::SetUp();
    set_message_box_hook([this](const MessageBoxRequest& r) {
      boxes.push_back(r);
      return box_answer;
    });
    TAPLSessionWin::file_dialog_hook = [this](TAPLSessionWin::FileDialogRequest& r) {
      dialogs.push_back(r);
      if (dialog_path.empty()) return false;
      r.path = dialog_path;
      r.filter_index = dialog_filter;
      return true;
    };
  }
  void TearDown() override {
    set_message_box_hook(nullptr);
    TAPLSessionWin::file_dialog_hook = nullptr;
    delete gAppDataFile;
    gAppDataFile = nullptr;
    WindowFixture::TearDown();
  }

  TAPLSessionWin* Make(bool packaged = true) {
    APLShell* shell = NewShell();
    task = TaskOf(shell);
    auto* w = new TAPLSessionWin("myapp", task, nullptr, packaged);
    w->submit_line = [this](const std::string& line) {
      sent.push_back(line);
      return true;
    };
    shell->AddWindowToShell(w);
    shell->session_window = w;
    windows_.push_back(w);
    w->show();
    EXPECT_TRUE(QTest::qWaitForWindowExposed(w));
    return w;
  }
  static QStringList Captions(const QList<QAction*>& actions) {
    QStringList out;
    for (QAction* a : actions)
      if (a->isVisible()) out << (a->isSeparator() ? QStringLiteral("-") : a->text());
    return out;
  }

  FakeTask* task = nullptr;
  std::vector<std::string> sent;
  std::vector<MessageBoxRequest> boxes;
  int box_answer = MB_OK;
  std::vector<TAPLSessionWin::FileDialogRequest> dialogs;
  std::string dialog_path;
  int dialog_filter = 1;
};

TEST_F(SessionCommandsTest, PackagedArrangementHasFileEditAndDisplayOnly) {
  TAPLSessionWin* w = Make();
  EXPECT_TRUE(w->IsPackaged());
  EXPECT_EQ(Captions(w->menuBar()->actions()), (QStringList{"&File", "&Edit", "&Display"}));
  EXPECT_EQ(Captions(w->PackageFileMenu->actions()),
            (QStringList{"&Save window contents...", "-", "Page Set&up...", "&Print window...", "-", "Exit"}));
  EXPECT_EQ(Captions(w->ToolsMenu->actions()), QStringList{"&Font Size"});
  EXPECT_FALSE(w->EditMenu->actions().contains(w->OpenEditItem));
  EXPECT_FALSE(w->EditMenu->actions().contains(w->EditEditRecentItem->menuAction()));
  EXPECT_TRUE(w->EditMenu->actions().contains(w->EditDisplayItem));
  EXPECT_EQ(w->FileMenu, nullptr);
  EXPECT_EQ(w->DebugMenu, nullptr);
}

TEST_F(SessionCommandsTest, PackagedWindowHasNoDevelopmentShortcuts) {
  TAPLSessionWin* w = Make();
  task->ws_name = "CLEAR WS";
  dialog_path = "/tmp/x.aws";
  const QList<QKeySequence> dev = {QKeySequence(Qt::CTRL | Qt::Key_O), QKeySequence(Qt::CTRL | Qt::Key_S),
                                   QKeySequence(Qt::CTRL | Qt::Key_R), QKeySequence(Qt::CTRL | Qt::Key_T),
                                   QKeySequence(Qt::CTRL | Qt::Key_U), QKeySequence(Qt::CTRL | Qt::Key_D)};
  for (QAction* a : w->findChildren<QAction*>())
    for (const QKeySequence& k : a->shortcuts()) EXPECT_FALSE(dev.contains(k)) << a->text().toStdString();
  ASSERT_TRUE(Activate(w));
  for (Qt::Key k : {Qt::Key_S, Qt::Key_O, Qt::Key_D, Qt::Key_R}) QTest::keyClick(w->Contents, k, Qt::ControlModifier);
  EXPECT_TRUE(dialogs.empty());
  EXPECT_TRUE(sent.empty());
  EXPECT_TRUE(boxes.empty());
}

TEST_F(SessionCommandsTest, DevelopmentShortcutsWorkOnlyOutsidePackagedMode) {
  TAPLSessionWin* w = Make(false);
  EXPECT_FALSE(w->PackageFileMenu->menuAction()->isVisible());
  ASSERT_NE(w->FileMenu, nullptr);
  ASSERT_NE(w->DebugMenu, nullptr);
  EXPECT_EQ(w->menuBar()->actions().first(), w->FileMenu->menuAction());
  ASSERT_TRUE(Activate(w));
  QTest::keyClick(w->Contents, Qt::Key_S, Qt::ControlModifier);
  ASSERT_EQ(sent.size(), 1u);
  EXPECT_EQ(sent[0], internal(")SAVE"));
}

TEST_F(SessionCommandsTest, SaveWindowContentsWritesTheTextAsTheControlHoldsIt) {
  TAPLSessionWin* w = Make();
  QTemporaryDir dir;
  dialog_path = (dir.path() + "/out").toStdString();
  w->AppendSession("      1+1\n2\n      ");
  w->PackageFileSaveItem->trigger();
  ASSERT_EQ(dialogs.size(), 1u);
  EXPECT_TRUE(dialogs[0].save);
  EXPECT_EQ(dialogs[0].title, "Save");
  EXPECT_EQ(dialogs[0].filter, "Text files (*.txt)|*.txt");
  QFile f(QString::fromStdString(dialog_path + ".txt"));
  ASSERT_TRUE(f.open(QIODevice::ReadOnly)) << "the default extension is added";
  EXPECT_EQ(f.readAll().toStdString(), "      1+1\r2\r      ");

  // Re-reading it (development Session History) gives the same text.
  TAPLSessionWin* d = Make(false);
  d->AppendSession("other\n");
  dialog_path += ".txt";
  d->SessionOpenItemClick();
  EXPECT_EQ(d->Contents->Text(), "      1+1\r2\r      ");
  EXPECT_EQ(dialogs.back().title, "Load APL session");

  // A file that cannot be written is reported.
  dialog_path = dir.path().toStdString() + "/missing/dir/out.txt";
  w->SessionSaveItemClick();
  ASSERT_EQ(boxes.size(), 1u);
  EXPECT_EQ(boxes[0].text, "File I/O error saving text");
}

TEST_F(SessionCommandsTest, ClearSessionHistoryLeavesAPromptOnlyAtOrdinaryInput) {
  TAPLSessionWin* w = Make();
  w->AppendSession("abc\n      ");
  box_answer = MB_CANCEL;
  w->SessionNewItemClick();
  ASSERT_EQ(boxes.size(), 1u);
  EXPECT_EQ(boxes[0].text, "Clear the whole of your current session window?");
  EXPECT_EQ(boxes[0].flags, 49u);
  EXPECT_EQ(w->Contents->Text(), "abc\r      ");
  box_answer = MB_OK;
  w->SessionNewItemClick();
  EXPECT_EQ(w->Contents->Text(), "      ");
  EXPECT_EQ(w->Contents->Caret(), 6);
  task->awaiting = false;  // a line executes
  w->SessionNewItemClick();
  EXPECT_EQ(w->Contents->Text(), "");
}

TEST_F(SessionCommandsTest, SaveOnAClearWorkspaceAsksForANameInstead) {
  TAPLSessionWin* w = Make(false);
  task->ws_name = "CLEAR WS";
  dialog_path = "/w/new.aws";
  w->FileSaveItemClick();
  ASSERT_EQ(dialogs.size(), 1u);
  EXPECT_EQ(dialogs[0].filter, "APL Workspaces (*.aws)|*.aws|Executable (packaged WS)|*");
  EXPECT_TRUE(dialogs[0].overwrite_prompt);
  EXPECT_EQ(dialogs[0].file_name, "");
  ASSERT_EQ(sent.size(), 1u);
  EXPECT_EQ(sent[0], internal(")SAVE '/w/new.aws'"));

  task->ws_name = "MYWS";
  w->FileSaveItemClick();
  ASSERT_EQ(sent.size(), 2u);
  EXPECT_EQ(sent[1], internal(")SAVE"));
  EXPECT_EQ(dialogs.size(), 1u);
}

TEST_F(SessionCommandsTest, SaveAsExecutableRefusals) {
  TAPLSessionWin* w = Make(false);
  std::vector<std::string> written;
  int result = 0;
  dialog_path = "/w/app";
  dialog_filter = 2;
  struct Case {
    const char* si;
    bool lx;
    bool maker;
    int result;
    const char* message;  // null: written, no message
  } cases[] = {
      {"f[3]*", true, true, 0,
       "This workspace cannot be saved as an executable because the )SI stack is not clear.  Use )SICL and try again"},
      {"", false, true, 0, "This workspace cannot be saved as an executable because no Latent Expression is defined"},
      {"", true, false, 0, "Could not write out the executable: Runtime support file not found"},
      {"", true, true, 88, "Could not write out the executable: Runtime support file not found"},
      {"", true, true, 5, "Could not write out the executable: An I/O error or disk full error occurred"},
      {"", true, true, 0, nullptr},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.message ? c.message : "written");
    boxes.clear();
    written.clear();
    task->si = c.si;
    task->lx_defined = c.lx;
    result = c.result;
    if (c.maker)
      w->make_packaged = [&](const std::string& file) {
        written.push_back(file);
        return result;
      };
    else
      w->make_packaged = nullptr;
    w->FileSaveAsItemClick();
    const bool reached_maker = c.si[0] == 0 && c.lx && c.maker;
    EXPECT_EQ(written.size(), reached_maker ? 1u : 0u);
    if (reached_maker) {
      EXPECT_EQ(written[0], "/w/app") << "an executable gets no extension";
    }
    if (c.message) {
      ASSERT_EQ(boxes.size(), 1u);
      EXPECT_EQ(boxes[0].text, c.message);
      EXPECT_EQ(boxes[0].caption, "ZEMA Error");
    } else {
      EXPECT_TRUE(boxes.empty());
    }
  }
  EXPECT_TRUE(sent.empty());
}

TEST_F(SessionCommandsTest, OpenConfirmsBeforeOverwritingAWorkspace) {
  gAppDataFile = new MemIniFile;
  TAPLSessionWin* w = Make(false);
  task->not_empty = true;
  dialog_path = "/w/it's.aws";
  box_answer = MB_CANCEL;
  w->FileOpenItemClick();
  ASSERT_EQ(boxes.size(), 1u);
  EXPECT_EQ(boxes[0].text, "This will overwrite all your current workspace contents");
  EXPECT_TRUE(dialogs.empty());
  box_answer = MB_OK;
  w->FileOpenItemClick();
  ASSERT_EQ(dialogs.size(), 1u);
  EXPECT_EQ(dialogs[0].title, "Load APL workspace");
  ASSERT_EQ(sent.size(), 1u);
  EXPECT_EQ(sent[0], internal(")LOAD '/w/it''s.aws'"));
  EXPECT_EQ(gAppDataFile->ReadString("recent workspaces", "0", ""), "/w/it's.aws");

  // A cancelled dialog sends nothing; an empty workspace needs no confirmation.
  task->not_empty = false;
  boxes.clear();
  dialog_path.clear();
  w->FileOpenItemClick();
  EXPECT_TRUE(boxes.empty());
  EXPECT_EQ(sent.size(), 1u);
}

TEST_F(SessionCommandsTest, CommandsSubmitTheirSystemCommands) {
  TAPLSessionWin* w = Make(false);
  dialog_path = "/w/x.atf";
  w->FileImportItemClick();
  w->FileExportItemClick();
  dialog_path = "/w/y.aws";
  w->FileCopyItemClick();
  w->FileNewItemClick();
  w->DebugSIClearItemClick();
  w->DebugResumeItemClick();
  EXPECT_EQ(sent, (std::vector<std::string>{internal(")IN '/w/x.atf'"), internal(")OUT '/w/x.atf'"),
                                            internal(")COPY '/w/y.aws'"), internal(")CLEAR"), internal(")SICL"),
                                            internal("→⎕CL")}));
  ASSERT_EQ(dialogs.size(), 3u);
  EXPECT_EQ(dialogs[1].file_name, "MYWS") << "Export offers the workspace name";
  EXPECT_EQ(dialogs[1].filter, "APL Transfer Files (*.atf)|*.atf|All files (*.*)|*.*");
}

TEST_F(SessionCommandsTest, RecentWorkspacesMoveToTheFrontAndDropTheOldest) {
  gAppDataFile = new MemIniFile;
  TAPLSessionWin* w = Make(false);
  for (const char* p : {"/a/one.aws", "/a/two.aws", "/a/one.aws"}) w->AddRecentFile(p);
  EXPECT_EQ(gAppDataFile->ReadSection("recent workspaces"), (std::vector<std::string>{"0", "1"}));
  EXPECT_EQ(gAppDataFile->ReadString("recent workspaces", "0", ""), "/a/one.aws");
  EXPECT_EQ(gAppDataFile->ReadString("recent workspaces", "1", ""), "/a/two.aws");
  EXPECT_EQ(Captions(w->FileMenu->actions()).mid(Captions(w->FileMenu->actions()).size() - 4),
            (QStringList{"one", "two", "-", "E&xit ZEMA"}));
  for (const char* p : {"/a/3.aws", "/a/four.AWS", "/a/5", "/a/six.aws"}) w->AddRecentFile(p);
  std::vector<std::string> kept;
  for (int i = 0; i < 5; ++i) kept.push_back(gAppDataFile->ReadString("recent workspaces", std::to_string(i), ""));
  EXPECT_EQ(kept, (std::vector<std::string>{"/a/six.aws", "/a/5", "/a/four.AWS", "/a/3.aws", "/a/one.aws"}));
  EXPECT_FALSE(gAppDataFile->ValueExists("recent workspaces", "5"));
  // ".aws" goes only from a name longer than five characters, in any case.
  EXPECT_EQ(w->FileRecentItems[0]->text(), "six");
  EXPECT_EQ(w->FileRecentItems[2]->text(), "four");
  EXPECT_EQ(w->FileRecentItems[3]->text(), "3.aws");

  // Choosing an item loads it and moves it to the front.
  w->FileRecentItems[4]->trigger();
  ASSERT_EQ(sent.size(), 1u);
  EXPECT_EQ(sent[0], internal(")LOAD '/a/one.aws'"));
  EXPECT_EQ(gAppDataFile->ReadString("recent workspaces", "0", ""), "/a/one.aws");
}

TEST_F(SessionCommandsTest, SameNameInTwoFoldersShowsBothPaths) {
  gAppDataFile = new MemIniFile;
  TAPLSessionWin* w = Make(false);
  w->AddRecentFile("/x/book.aws");
  w->AddRecentFile("/other.aws");
  w->AddRecentFile("/y/book.aws");
  EXPECT_EQ(w->FileRecentItems[0]->text(), "/y/book.aws");
  EXPECT_EQ(w->FileRecentItems[1]->text(), "other");
  EXPECT_EQ(w->FileRecentItems[2]->text(), "/x/book.aws");
  EXPECT_FALSE(w->FileRecentItems[3]->isVisible());
}

TEST_F(SessionCommandsTest, NoApplicationDataFileKeepsNoRecentList) {
  TAPLSessionWin* w = Make(false);
  w->AddRecentFile("/x/book.aws");
  for (QAction* a : w->FileRecentItems) EXPECT_FALSE(a->isVisible());
  EXPECT_FALSE(w->FileRecentSeparator->isVisible());
}

TEST_F(SessionCommandsTest, FileAndDebugMenuStatesFollowTheInputRequest) {
  TAPLSessionWin* w = Make(false);
  struct Case {
    bool awaiting;
    int state;
    const char* si;
    bool workspace_items, exit, interrupt, resume;
  } cases[] = {
      {true, 0, "", true, true, false, false},
      {true, 0, "f[1]*", true, true, false, true},
      {true, 0x2000, "f[1]*", false, true, true, false},
      {true, 0x0004, "", false, true, false, false},
      {false, 0, "f[1]*", false, false, true, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << c.awaiting << " " << c.state << " " << c.si);
    task->awaiting = c.awaiting;
    task->state = c.state;
    task->si = c.si;
    w->FileMenuClick();
    w->DebugMenuClick();
    for (QAction* a : {w->FileNewItem, w->FileOpenItem, w->FileSaveItem, w->FileSaveAsItem, w->FileCopyItem,
                       w->FileImportItem, w->FileExportItem})
      EXPECT_EQ(a->isEnabled(), c.workspace_items) << a->text().toStdString();
    EXPECT_EQ(w->FileExitItem->isEnabled(), c.exit);
    EXPECT_EQ(w->CloseSessionItem->isEnabled(), c.exit);
    EXPECT_TRUE(w->PrintWindowItem->isEnabled());
    EXPECT_EQ(w->DebugInterruptItem->isEnabled(), c.interrupt);
    for (QAction* a : {w->DebugResumeItem, w->DebugSIClearItem, w->DebugDebugItem, w->DebugStepOverItem})
      EXPECT_EQ(a->isEnabled(), c.resume) << a->text().toStdString();
  }
}

TEST_F(SessionCommandsTest, SessionEditMenuNeverUndoesAndAlwaysFinds) {
  TAPLSessionWin* w = Make();
  w->AppendSession("abc");
  w->Contents->SetReadOnly(true);
  task->awaiting = false;
  w->EditMenuClick();
  EXPECT_FALSE(w->EditUndoItem->isEnabled());
  EXPECT_FALSE(w->EditCopyItem->isEnabled());
  EXPECT_TRUE(w->EditSelectAllItem->isEnabled());
  EXPECT_TRUE(w->EditFindItem->isEnabled());
  EXPECT_FALSE(w->EditDisplayItem->isEnabled());
  w->Contents->SetSelectionRange(0, 2);
  task->awaiting = true;
  w->EditMenuClick();
  EXPECT_TRUE(w->EditCutItem->isEnabled()) << "the session's rule looks at the selection only";
  EXPECT_TRUE(w->EditDisplayItem->isEnabled());
}

TEST_F(SessionCommandsTest, ClosingAsksTheApplicationOrTheTaskAndStaysOpen) {
  TAPLSessionWin* w = Make();
  std::vector<APLTask*> quit;
  int events = 0;
  bool queued = true;
  w->quit_task = [&](APLTask* t) { quit.push_back(t); };
  w->quit_menu_event = [&] { return ++events, queued; };
  w->close();
  EXPECT_TRUE(w->isVisible());
  EXPECT_EQ(events, 1);
  EXPECT_TRUE(quit.empty()) << "only the application's event is raised";
  queued = false;
  w->close();
  EXPECT_TRUE(w->isVisible());
  ASSERT_EQ(quit.size(), 1u);
  EXPECT_EQ(quit[0], task);
  task->ending = true;
  w->close();
  EXPECT_FALSE(w->isVisible());
}

TEST_F(SessionCommandsTest, ExitAsksEveryTaskToQuit) {
  TAPLSessionWin* w = Make();
  Make();
  std::vector<APLTask*> quit;
  w->quit_task = [&](APLTask* t) { quit.push_back(t); };
  w->PackageFileExitItem->trigger();
  ASSERT_EQ(quit.size(), 2u);
  EXPECT_EQ(quit[0], tasks_[0].get());
  EXPECT_EQ(quit[1], tasks_[1].get());
}

TEST_F(SessionCommandsTest, NewSessionWithoutAMakerIsRefused) {
  TAPLSessionWin* w = Make(false);
  w->FileNewTaskItemClick();
  ASSERT_EQ(boxes.size(), 1u);
  EXPECT_EQ(boxes[0].text, "Cannot create new APL task");
  int made = 0;
  w->new_session = [&](TAPLSessionWin* from) { return from == w && ++made; };
  w->FileNewTaskItemClick();
  EXPECT_EQ(made, 1);
  EXPECT_EQ(boxes.size(), 1u);
}

TEST_F(SessionCommandsTest, NewSessionPlacesTheWindowOffsetOnTheScreen) {
  const QRect screen(0, 0, 1000, 800);
  struct Case {
    QPoint from, to;
  } cases[] = {
      {{100, 50}, {116, 66}},   {{-5, 50}, {16, 66}},   {{990, 50}, {16, 66}},
      {{984, 784}, {1000, 800}}, {{985, 785}, {16, 16}}, {{100, 900}, {116, 16}},
  };
  for (const Case& c : cases)
    EXPECT_EQ(TAPLSessionWin::NewSessionPosition(c.from, screen), c.to) << c.from.x() << "," << c.from.y();
}

}  // namespace
}  // namespace zema
