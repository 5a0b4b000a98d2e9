// The session window's menus and the commands behind them: workspace
// commands submitted as system commands, the recent workspaces, the session
// history, the Debug menu, printing, closing and ending the program.
#include <QApplication>
#include <QClipboard>
#include <QCloseEvent>
#include <QFileDialog>
#include <QMenu>
#include <QMenuBar>
#include <QMimeData>

#include <cstdio>
#include <cstring>
#include <exception>
#include <new>

#include "components/rich_edit.h"
#include "host/charset.h"
#include "host/task.h"
#include "platform/memory_ini.h"
#include "platform/message_box.h"
#include "windows/find_dialog.h"
#include "windows/printing.h"
#include "windows/session_window.h"

namespace zema {

namespace {

constexpr const char* kRecentSection = "recent workspaces";
constexpr int kRecentCount = 5;
constexpr const char* kWorkspaceFilter = "APL Workspaces (*.aws)|*.aws|All files (*)|*";
constexpr const char* kTransferFilter = "APL Transfer Files (*.atf)|*.atf|All files (*)|*";

std::string internal(const char* utf8) { return utf8_to_internal(utf8); }

// "desc|patterns|desc|patterns" as the file dialog's name filters.
QStringList name_filters(const std::string& filter) {
  QStringList parts = QString::fromStdString(filter).split(QLatin1Char('|'));
  QStringList out;
  for (int i = 0; i + 1 < parts.size(); i += 2) {
    const QString patterns = parts[i + 1].replace(QLatin1Char(';'), QLatin1Char(' '));
    if (parts[i].contains(QLatin1Char('(') + patterns + QLatin1Char(')')))
      out << parts[i];
    else
      out << parts[i] + QStringLiteral(" (") + patterns + QLatin1Char(')');
  }
  return out;
}

// The caption of a recent item: the path's last component less a final
// ".aws" (any case) when the component is longer than five characters.
std::string recent_caption(const std::string& path) {
  const std::size_t slash = path.rfind('/');
  std::string name = slash == std::string::npos ? path : path.substr(slash + 1);
  if (name.size() > 5 && QString::fromStdString(name.substr(name.size() - 4)).compare(QStringLiteral(".aws"), Qt::CaseInsensitive) == 0)
    name.resize(name.size() - 4);
  return name;
}

bool read_file(const std::string& path, std::string* out) {
  std::FILE* f = std::fopen(path.c_str(), "rb");
  if (!f) return false;
  char buf[65536];
  std::size_t n;
  bool ok = true;
  try {
    while ((n = std::fread(buf, 1, sizeof buf, f)) > 0) out->append(buf, n);
  } catch (const std::bad_alloc&) {
    ok = false;
  }
  ok = ok && !std::ferror(f);
  std::fclose(f);
  return ok;
}

bool write_file(const std::string& path, const std::string& text) {
  std::FILE* f = std::fopen(path.c_str(), "wb");
  if (!f) return false;
  bool ok = std::fwrite(text.data(), 1, text.size(), f) == text.size();
  ok = std::fclose(f) == 0 && ok;
  return ok;
}

}  // namespace

std::function<bool(TAPLSessionWin::FileDialogRequest&)> TAPLSessionWin::file_dialog_hook;

bool TAPLSessionWin::RunFileDialog(FileDialogRequest& r) {
  bool ok = false;
  if (file_dialog_hook) {
    ok = file_dialog_hook(r);
  } else {
    QFileDialog d(QApplication::activeWindow(), QString::fromStdString(r.title));
    d.setOption(QFileDialog::DontUseNativeDialog);
    d.setAcceptMode(r.save ? QFileDialog::AcceptSave : QFileDialog::AcceptOpen);
    d.setFileMode(r.save ? QFileDialog::AnyFile : QFileDialog::ExistingFile);
    d.setOption(QFileDialog::DontConfirmOverwrite, !r.overwrite_prompt);
    const QStringList filters = name_filters(r.filter);
    d.setNameFilters(filters);
    if (r.filter_index >= 1 && r.filter_index <= filters.size()) d.selectNameFilter(filters[r.filter_index - 1]);
    d.setDefaultSuffix(QString::fromStdString(r.default_extension));
    if (!r.file_name.empty()) d.selectFile(QString::fromStdString(r.file_name));
    if (RunModal(&d) == QDialog::Accepted && !d.selectedFiles().isEmpty()) {
      r.path = d.selectedFiles().first().toStdString();
      r.filter_index = static_cast<int>(filters.indexOf(d.selectedNameFilter())) + 1;
      ok = true;
    }
  }
  if (!ok || r.path.empty()) return false;
  // A name typed without an extension gets the default one (not for the
  // executable filter, whose files have none).
  const std::size_t slash = r.path.rfind('/');
  const std::string name = slash == std::string::npos ? r.path : r.path.substr(slash + 1);
  const bool executable = r.filter.find("Executable") != std::string::npos && r.filter_index == 2;
  if (!executable && !r.default_extension.empty() && name.find('.') == std::string::npos)
    r.path += "." + r.default_extension;
  return true;
}

// ---------------------------------------------------------------- menus

void TAPLSessionWin::BuildSessionMenus() {
  auto item = [this](QMenu* menu, const char* caption, void (TAPLSessionWin::*handler)(), QKeySequence keys = {}) {
    QAction* a = menu->addAction(QString::fromUtf8(caption));
    if (!keys.isEmpty()) a->setShortcut(keys);
    QObject::connect(a, &QAction::triggered, this, [this, handler] { (this->*handler)(); });
    return a;
  };
  PackageFileMenu = new QMenu(QStringLiteral("&File"), this);
  PackageFileSaveItem = item(PackageFileMenu, "&Save window contents...", &TAPLSessionWin::SessionSaveItemClick);
  PackageFileMenu->addSeparator();
  PackageFilePageSetupItem = PackageFileMenu->addAction(QStringLiteral("Page Set&up..."));
  QObject::connect(PackageFilePageSetupItem, &QAction::triggered, this, [this] { PrintSetupItemClick(); });
  PackageFilePrintItem = PackageFileMenu->addAction(QStringLiteral("&Print window..."));
  QObject::connect(PackageFilePrintItem, &QAction::triggered, this, [this] { PrintWindowItemClick(); });
  PackageFileMenu->addSeparator();
  PackageFileExitItem = item(PackageFileMenu, "Exit", &TAPLSessionWin::FileExitItemClick);

  // The session's own Edit rule replaces the text window's.
  QObject::disconnect(EditMenu, &QMenu::aboutToShow, this, nullptr);
  QObject::connect(EditMenu, &QMenu::aboutToShow, this, [this] { EditMenuClick(); });

  QMenuBar* bar = menuBar();
  if (!packaged_) {
    PackageFileMenu->menuAction()->setVisible(false);
    BuildDevelopmentMenus();
    return;
  }
  bar->insertMenu(bar->actions().isEmpty() ? nullptr : bar->actions().first(), PackageFileMenu);
  ToolsMenu->setTitle(QStringLiteral("&Display"));
  // Only the font sizes stay under Display; the items taken out keep no
  // shortcut anywhere in the window.
  const QList<QAction*> tools = ToolsMenu->actions();
  for (QAction* a : tools)
    if (a != SpecialFontItem->menuAction()) ToolsMenu->removeAction(a);
  // The object-editing items go, with the separator before the editing
  // group (the one just before Display Variable stays).
  const QList<QAction*> edit = EditMenu->actions();
  const int open = static_cast<int>(edit.indexOf(OpenEditItem));
  if (open > 0 && edit[open - 1]->isSeparator()) EditMenu->removeAction(edit[open - 1]);
  EditMenu->removeAction(OpenEditItem);
  EditMenu->removeAction(EditEditRecentItem->menuAction());
  WindowMenu->menuAction()->setVisible(false);
  HelpMenu->menuAction()->setVisible(false);
}

void TAPLSessionWin::BuildDevelopmentMenus() {
  auto item = [this](QMenu* menu, const char* caption, void (TAPLSessionWin::*handler)(), QKeySequence keys = {}) {
    QAction* a = menu->addAction(QString::fromUtf8(caption));
    if (!keys.isEmpty()) a->setShortcut(keys);
    if (handler) QObject::connect(a, &QAction::triggered, this, [this, handler] { (this->*handler)(); });
    return a;
  };
  QMenuBar* bar = menuBar();
  FileMenu = new QMenu(QStringLiteral("&File"), this);
  bar->insertMenu(bar->actions().isEmpty() ? nullptr : bar->actions().first(), FileMenu);
  QObject::connect(FileMenu, &QMenu::aboutToShow, this, [this] { FileMenuClick(); });
  FileNewItem = item(FileMenu, "&New   )CLEAR", &TAPLSessionWin::FileNewItemClick);
  FileNewItem->setStatusTip(QStringLiteral(")CLEAR workspace"));
  FileOpenItem = item(FileMenu, "&Open...   )LOAD..", &TAPLSessionWin::FileOpenItemClick, QKeySequence(Qt::CTRL | Qt::Key_O));
  FileOpenItem->setStatusTip(QStringLiteral(")LOAD an existing workspace"));
  FileSaveItem = item(FileMenu, "&Save  )SAVE", &TAPLSessionWin::FileSaveItemClick, QKeySequence(Qt::CTRL | Qt::Key_S));
  FileSaveItem->setStatusTip(QStringLiteral(")SAVE current workspace"));
  FileSaveAsItem = item(FileMenu, "Save &As...  )SAVE..", &TAPLSessionWin::FileSaveAsItemClick);
  FileSaveAsItem->setStatusTip(QStringLiteral(")SAVE current workspace under a new name"));
  FileCopyItem = item(FileMenu, "&Copy...  )COPY...", &TAPLSessionWin::FileCopyItemClick);
  FileCopyItem->setStatusTip(QStringLiteral(")COPY contents of a workspace"));
  FileMenu->addSeparator();
  FileNewTaskItem = item(FileMenu, "&New Session", &TAPLSessionWin::FileNewTaskItemClick);
  FileSessionItem = FileMenu->addMenu(QStringLiteral("Session &History"));
  SessionNewItem = item(FileSessionItem, "&Clear Session History", &TAPLSessionWin::SessionNewItemClick);
  SessionOpenItem = item(FileSessionItem, "Re-&open Session History...", &TAPLSessionWin::SessionOpenItemClick);
  SessionSaveItem = item(FileSessionItem, "&Save Session History...", &TAPLSessionWin::SessionSaveItemClick);
  CloseSessionItem = item(FileMenu, "Close Sess&ion", &TAPLSessionWin::CloseSessionItemClick);
  FileMenu->addSeparator();
  FileImportItem = item(FileMenu, "&Import...  )IN...", &TAPLSessionWin::FileImportItemClick);
  FileExportItem = item(FileMenu, "&Export...   )OUT..", &TAPLSessionWin::FileExportItemClick);
  FileMenu->addSeparator();
  FilePrintSetupItem = FileMenu->addAction(QStringLiteral("Page Set&up..."));
  QObject::connect(FilePrintSetupItem, &QAction::triggered, this, [this] { PrintSetupItemClick(); });
  FilePrintItem = FileMenu->addMenu(QStringLiteral("&Print"));
  PrintWindowItem = FilePrintItem->addAction(QStringLiteral("Window &Contents..."));
  QObject::connect(PrintWindowItem, &QAction::triggered, this, [this] { PrintWindowItemClick(); });
  PrintListingItem = item(FilePrintItem, "&Workspace Listing...", &TAPLSessionWin::PrintListingItemClick);
  FileMenu->addSeparator();
  for (int i = 0; i < kRecentCount; ++i) {
    FileRecentItems[i] = FileMenu->addAction(QString());
    FileRecentItems[i]->setVisible(false);
    QObject::connect(FileRecentItems[i], &QAction::triggered, this, [this, i] { FileRecentItemClick(i); });
  }
  FileRecentSeparator = FileMenu->addSeparator();
  FileRecentSeparator->setVisible(false);
  FileExitItem = item(FileMenu, "E&xit ZEMA", &TAPLSessionWin::FileExitItemClick);
  FileExitItem->setStatusTip(QStringLiteral("Exit this application"));

  DebugMenu = new QMenu(QStringLiteral("&Debug"), this);
  bar->insertMenu(WindowMenu->menuAction(), DebugMenu);
  QObject::connect(DebugMenu, &QMenu::aboutToShow, this, [this] { DebugMenuClick(); });
  DebugInterruptItem = item(DebugMenu, "&Interrupt", &TAPLSessionWin::DebugInterruptItemClick, QKeySequence(Qt::CTRL | Qt::Key_Delete));
  DebugResumeItem = item(DebugMenu, "&Resume Execution", &TAPLSessionWin::DebugResumeItemClick, QKeySequence(Qt::CTRL | Qt::Key_R));
  DebugSIClearItem = item(DebugMenu, "&Clear Execution Stack", &TAPLSessionWin::DebugSIClearItemClick);
  DebugMenu->addSeparator();
  DebugStepOverItem = item(DebugMenu, "&Step Over", &TAPLSessionWin::DebugStepOverItemClick, QKeySequence(Qt::CTRL | Qt::Key_T));
  DebugStepInItem = item(DebugMenu, "Step &In", &TAPLSessionWin::DebugStepInItemClick, QKeySequence(Qt::CTRL | Qt::Key_U));
  DebugRunEndItem = item(DebugMenu, "Run to &End", &TAPLSessionWin::DebugRunEndItemClick);
  DebugMenu->addSeparator();
  DebugDebugItem = item(DebugMenu, "Show &Debug Window...", &TAPLSessionWin::DebugDebugItemClick, QKeySequence(Qt::CTRL | Qt::Key_D));
  DebugBreakpoint = item(DebugMenu, "&Breakpoints...", &TAPLSessionWin::DebugBreakpointClick);
  DebugBreakpoint->setStatusTip(QStringLiteral("Set/Clear breakpoints in a function where execution will stop"));
  DebugWatchItem = item(DebugMenu, "&Watch...", &TAPLSessionWin::DebugWatchItemClick);
  UpdateRecentFileMenus();
}

void TAPLSessionWin::FileMenuClick() {
  if (!FileMenu) return;
  APLTask* t = Task();
  const bool waiting = t && t->IsAwaitingInput();
  const bool ordinary = waiting && (t->GetWSState() & 0x6004) == 0;
  const bool busy = is_printer_busy();
  for (QAction* a : {FileNewItem, FileOpenItem, FileSaveItem, FileSaveAsItem, FileCopyItem, FileImportItem,
                     FileExportItem})
    a->setEnabled(ordinary);
  for (QAction* a : FileRecentItems) a->setEnabled(ordinary && !a->data().toString().isEmpty());
  // The workspace listing is not built.
  PrintListingItem->setEnabled(false);
  FileExitItem->setEnabled(waiting);
  CloseSessionItem->setEnabled(waiting);
  PrintWindowItem->setEnabled(!busy);
}

void TAPLSessionWin::DebugMenuClick() {
  if (!DebugMenu) return;
  APLTask* t = Task();
  const bool waiting = t && t->IsAwaitingInput();
  const bool ordinary = waiting && (t->GetWSState() & 0x6004) == 0;
  for (QAction* a : {DebugStepOverItem, DebugStepInItem, DebugRunEndItem}) a->setEnabled(false);
  if (!waiting) {
    DebugInterruptItem->setEnabled(t != nullptr);
    for (QAction* a : {DebugWatchItem, DebugResumeItem, DebugSIClearItem, DebugBreakpoint, DebugDebugItem})
      a->setEnabled(false);
    return;
  }
  DebugInterruptItem->setEnabled((t->GetWSState() & 0x2000) != 0);
  DebugWatchItem->setEnabled(ordinary && show_watch != nullptr);
  DebugBreakpoint->setEnabled(ordinary && show_breakpoints != nullptr);
  const bool suspended = ordinary && !t->GetSI().empty();
  for (QAction* a : {DebugResumeItem, DebugSIClearItem, DebugDebugItem, DebugStepOverItem, DebugStepInItem,
                     DebugRunEndItem})
    a->setEnabled(suspended);
}

void TAPLSessionWin::EditMenuClick() {
  // The base makes the name items' captions; the enabling is the session's.
  TAPLShellText::EditMenuClick();
  const bool S = Contents->SelLength() > 0;
  APLTask* t = Task();
  const bool R = t && t->IsAwaitingInput() && (t->GetWSState() & 0x6004) == 0;
  const QMimeData* clip = QApplication::clipboard()->mimeData();
  const bool can_paste = clip && clip->hasFormat(QStringLiteral("text/plain"));
  const bool has_find_text = APLFindDialog && !APLFindDialog->FindText().empty();
  EditUndoItem->setEnabled(false);
  for (QAction* a : {EditCutItem, EditCopyItem, EditCopyUniItem, EditDeleteItem, EditFindSelectionItem})
    a->setEnabled(S);
  EditPasteItem->setEnabled(can_paste);
  EditPasteUniItem->setEnabled(can_paste);
  EditSelectAllItem->setEnabled(true);
  EditFindItem->setEnabled(true);
  EditFindNextItem->setEnabled(has_find_text);
  EditReplaceItem->setEnabled(has_find_text);
  OpenEditItem->setEnabled(R);
  EditEditRecentItem->menuAction()->setEnabled(R);
  EditDisplayItem->setEnabled(R);
  EditChartItem->setEnabled(R);
}

// ---------------------------------------------------------------- workspace commands

bool TAPLSessionWin::ConfirmSafety(const char* text, bool only_if_not_empty) {
  if (!pref_flag("safety")) return true;
  if (only_if_not_empty) {
    APLTask* t = Task();
    if (!t || !t->WSNotEmpty()) return true;
  }
  return ShowMessageBox(text, "ZEMA Warning", 49) == MB_OK;
}

std::string TAPLSessionWin::DefaultWorkspaceFile() {
  APLTask* t = Task();
  const std::string name = t ? t->GetWSName() : std::string("CLEAR WS");
  return name == "CLEAR WS" ? std::string() : name;
}

void TAPLSessionWin::FileNewItemClick() {
  if (!ConfirmSafety("This will erase all your current workspace contents", true)) return;
  FakeInputLine(internal(")CLEAR").c_str());
  if (owner_shell) owner_shell->BroadcastMsg(kind_any, msg_wsid_changed, 0, nullptr);
}

void TAPLSessionWin::FileOpenItemClick() {
  if (!ConfirmSafety("This will overwrite all your current workspace contents", true)) return;
  FileDialogRequest r;
  r.title = "Load APL workspace";
  r.filter = kWorkspaceFilter;
  r.default_extension = "aws";
  if (!RunFileDialog(r)) return;
  FakeSyscmd(internal(")LOAD ").c_str(), r.path.c_str(), ".aws");
  AddRecentFile(r.path);
}

void TAPLSessionWin::FileSaveItemClick() {
  APLTask* t = Task();
  if (!t) return;
  if (t->GetWSName() == "CLEAR WS") {
    FileSaveAsItemClick();
    return;
  }
  FakeInputLine(internal(")SAVE").c_str());
}

void TAPLSessionWin::FileSaveAsItemClick() {
  FileDialogRequest r;
  r.save = true;
  r.title = "Save APL workspace";
  r.filter = "APL Workspaces (*.aws)|*.aws|Executable (packaged WS)|*";
  r.overwrite_prompt = true;
  r.filter_index = 1;
  r.default_extension = "aws";
  r.file_name = DefaultWorkspaceFile();
  if (!RunFileDialog(r)) return;
  if (r.filter_index != 2) {
    FakeSyscmd(internal(")SAVE ").c_str(), r.path.c_str(), ".aws");
    AddRecentFile(r.path);
    return;
  }
  APLTask* t = Task();
  if (!t) return;
  if (!t->GetSI().empty()) {
    ShowMessageBox(
        "This workspace cannot be saved as an executable because the )SI stack is not clear.  Use )SICL and try again",
        "ZEMA Error", 16);
    return;
  }
  if (!t->CheckQuadLXDefined()) {
    ShowMessageBox("This workspace cannot be saved as an executable because no Latent Expression is defined",
                   "ZEMA Error", 16);
    return;
  }
  const int result = make_packaged ? make_packaged(r.path) : 88;
  if (result == 88)
    ShowMessageBox("Could not write out the executable: Runtime support file not found", "ZEMA Error", 16);
  else if (result != 0)
    ShowMessageBox("Could not write out the executable: An I/O error or disk full error occurred", "ZEMA Error", 16);
}

void TAPLSessionWin::FileCopyItemClick() {
  FileDialogRequest r;
  r.title = "Copy APL workspace";
  r.filter = kWorkspaceFilter;
  r.default_extension = "aws";
  if (RunFileDialog(r)) FakeSyscmd(internal(")COPY ").c_str(), r.path.c_str(), ".aws");
}

void TAPLSessionWin::FileImportItemClick() {
  FileDialogRequest r;
  r.title = "Import APL workspace";
  r.filter = kTransferFilter;
  r.default_extension = "atf";
  if (RunFileDialog(r)) FakeSyscmd(internal(")IN ").c_str(), r.path.c_str(), ".atf");
}

void TAPLSessionWin::FileExportItemClick() {
  FileDialogRequest r;
  r.save = true;
  r.title = "Export APL workspace";
  r.filter = "APL Transfer Files (*.atf)|*.atf|All files (*.*)|*.*";
  r.default_extension = "atf";
  r.file_name = DefaultWorkspaceFile();
  if (RunFileDialog(r)) FakeSyscmd(internal(")OUT ").c_str(), r.path.c_str(), ".atf");
}

void TAPLSessionWin::FileRecentItemClick(int index) {
  if (index < 0 || index >= kRecentCount || !FileRecentItems[index]) return;
  const std::string path = FileRecentItems[index]->data().toString().toStdString();
  if (path.empty()) return;
  if (!ConfirmSafety("This will overwrite all your current workspace contents", true)) return;
  FakeSyscmd(internal(")LOAD ").c_str(), path.c_str(), ".aws");
  AddRecentFile(path);
}

void TAPLSessionWin::FileNewTaskItemClick() {
  if (new_session) {
    new_session(this);
    return;
  }
  ShowMessageBox("Cannot create new APL task", "ZEMA Error", 16);
}

QPoint TAPLSessionWin::NewSessionPosition(QPoint from, const QRect& screen) {
  int left = from.x(), top = from.y();
  if (left < screen.left() || left > screen.right() + 1 - 16) left = screen.left();
  if (top < screen.top() || top > screen.bottom() + 1 - 16) top = screen.top();
  return {left + 16, top + 16};
}

void TAPLSessionWin::CloseSessionItemClick() { close(); }

void TAPLSessionWin::FileExitItemClick() {
  if (!quit_task) return;
  for (APLTask* t = first_apl_task(); t; t = t->nextTask) quit_task(t);
}

void TAPLSessionWin::closeEvent(QCloseEvent* e) {
  APLTask* t = Task();
  if (!owner_shell || !t || t->ending) {
    TAPLShellText::closeEvent(e);
    return;
  }
  e->ignore();
  if (quit_menu_event && quit_menu_event()) return;
  if (quit_task) quit_task(t);
}

// ---------------------------------------------------------------- session history

void TAPLSessionWin::SessionNewItemClick() {
  if (!ConfirmSafety("Clear the whole of your current session window?", false)) return;
  APLTask* t = Task();
  const bool ordinary = t && t->IsAwaitingInput() && (t->GetWSState() & 0x6004) == 0;
  const bool was_restoring = restoring;
  restoring = true;
  Contents->SelectAll();
  Contents->SetSelTextBuf("");
  if (ordinary) {
    Contents->SetNewColour(output_colour);
    Contents->SetSelTextBuf("      ");
    Contents->SetSelectionRange(6, 6);
    Contents->SetNewColour(pref_number("session_user_input_color"));
  }
  restoring = was_restoring;
  line_no = -1;
  line_text.clear();
  ContentsSelectionChange();
}

void TAPLSessionWin::SessionOpenItemClick() {
  FileDialogRequest r;
  r.title = "Load APL session";
  r.filter = "APL Session Files (*.sess)|*.sess";
  r.default_extension = "sess";
  if (!RunFileDialog(r)) return;
  const bool was_restoring = restoring;
  restoring = true;
  Contents->SelectAll();
  Contents->SetSelTextBuf("");
  Contents->SetNewColour(output_colour);
  // The file is read here rather than by the control, so that a failure is
  // reported through the process's message boxes.
  std::string bytes;
  if (!read_file(r.path, &bytes)) {
    ShowMessageBox("File I/O error reading text", "ZEMA Error", 16);
  } else {
    try {
      Contents->SetSelTextBuf(bytes.c_str());
    } catch (const std::exception&) {
      ShowMessageBox("Out of memory updating window", "ZEMA Error", 16);
    }
  }
  Contents->SetNewColour(pref_number("session_user_input_color"));
  restoring = was_restoring;
  line_no = -1;
  line_text.clear();
  ContentsSelectionChange();
}

void TAPLSessionWin::SessionSaveItemClick() {
  FileDialogRequest r;
  r.save = true;
  r.title = "Save";
  r.filter = "Text files (*.txt)|*.txt";
  r.default_extension = "txt";
  if (!RunFileDialog(r)) return;
  if (!write_file(r.path, Contents->Text())) ShowMessageBox("File I/O error saving text", "ZEMA Error", 16);
}

// ---------------------------------------------------------------- debug

void TAPLSessionWin::DebugInterruptItemClick() {
  if (attention)
    attention();
  else if (APLTask* t = Task())
    t->attnPending = true;
}

void TAPLSessionWin::DebugResumeItemClick() { FakeInputLine(internal("→⎕CL").c_str()); }

void TAPLSessionWin::DebugSIClearItemClick() { FakeInputLine(internal(")SICL").c_str()); }

void TAPLSessionWin::Step(int msg) {
  if (!owner_shell) return;
  if (!owner_shell->debug_window) {
    DebugDebugItemClick();
    if (!owner_shell->debug_window) return;
  }
  owner_shell->BroadcastMsg(kind_debugger, msg, 0, nullptr);
}

void TAPLSessionWin::DebugStepOverItemClick() { Step(msg_step_over); }
void TAPLSessionWin::DebugStepInItemClick() { Step(msg_step_into); }
void TAPLSessionWin::DebugRunEndItemClick() { Step(msg_run_to_end); }

void TAPLSessionWin::DebugDebugItemClick() {
  if (!owner_shell) return;
  if (!owner_shell->debug_window) {
    if (!owner_shell->make_debug_window) return;
    TAPLShellWindow* d = owner_shell->make_debug_window(owner_shell);
    if (!d) return;
    owner_shell->debug_window = d;
  }
  owner_shell->debug_window->show();
  owner_shell->BroadcastMsg(kind_debugger, msg_apl_ready, 0, nullptr);
}

void TAPLSessionWin::DebugBreakpointClick() {
  if (show_breakpoints) show_breakpoints(this);
}

void TAPLSessionWin::DebugWatchItemClick() {
  if (show_watch) show_watch(this);
}

// ---------------------------------------------------------------- recent workspaces

void TAPLSessionWin::AddRecentFile(const std::string& path) {
  if (!gAppDataFile || path.empty()) return;
  std::vector<std::string> old;
  for (int i = 0;; ++i) {
    const std::string key = std::to_string(i);
    if (!gAppDataFile->ValueExists(kRecentSection, key)) break;
    old.push_back(gAppDataFile->ReadString(kRecentSection, key, ""));
  }
  gAppDataFile->EraseSection(kRecentSection);
  gAppDataFile->WriteString(kRecentSection, "0", path);
  int next = 1;
  for (const std::string& p : old) {
    if (next >= kRecentCount) break;
    if (p == path) continue;
    gAppDataFile->WriteString(kRecentSection, std::to_string(next++), p);
  }
  UpdateRecentFileMenus();
}

void TAPLSessionWin::UpdateRecentFileMenus() {
  if (!owner_shell || !gAppDataFile || !FileMenu) return;
  std::string captions[kRecentCount];
  for (int i = 0; i < kRecentCount; ++i) {
    QAction* a = FileRecentItems[i];
    a->setData(QVariant());
    const std::string key = std::to_string(i);
    if (!gAppDataFile->ValueExists(kRecentSection, key)) {
      a->setVisible(false);
      a->setEnabled(false);
      continue;
    }
    const std::string path = gAppDataFile->ReadString(kRecentSection, key, "");
    a->setData(QString::fromStdString(path));
    captions[i] = recent_caption(path);
    for (int j = 0; j < i; ++j) {
      if (!FileRecentItems[j]->isVisible() || captions[j] != captions[i]) continue;
      // The same name twice: both show where they are.
      FileRecentItems[j]->setText(FileRecentItems[j]->data().toString());
      captions[i] = path;
    }
    a->setText(QString::fromStdString(captions[i]));
    a->setVisible(true);
    a->setEnabled(true);
  }
  FileRecentSeparator->setVisible(!gAppDataFile->ReadSection(kRecentSection).empty());
}

}  // namespace zema
