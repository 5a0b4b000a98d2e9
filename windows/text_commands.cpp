// The text windows' Edit, Tools and Help menu commands: the state and
// captions the menus take each time they open, the clipboard and Unicode
// commands, printing, font size, the keyboard choice, help on the word at
// the caret and the Edit Recent list.
#include <QAction>
#include <QApplication>
#include <QByteArray>
#include <QClipboard>
#include <QMenu>
#include <QMimeData>
#include <QPointer>

#include <memory>
#include <new>
#include <string>
#include <vector>

#include "components/rich_edit.h"
#include "host/char_tables.h"
#include "host/charset.h"
#include "host/settings.h"
#include "host/task.h"
#include "platform/memory_ini.h"
#include "windows/find_dialog.h"
#include "windows/help_lookup.h"
#include "windows/printing.h"
#include "windows/shell_text.h"
#include "windows/word_breaks.h"

namespace zema {

std::function<bool(const std::string& word, std::string* page)> help_index_hook;
std::function<void(const std::string& page)> help_show_hook;
std::function<void(const std::string& name, const NameInformation& info, APLShell* shell)> open_editor_hook;

namespace {

// Workspace-state bits that mark input other than an immediate-execution
// line (a suspended function's ⍞ or ⎕ input and the like): the name
// commands need a task at the immediate-execution prompt.
constexpr int kBusyStateBits = 0x6004;

// Selections this long or longer are not looked up in the help.
constexpr int kHelpSelectionLimit = 100;

// The task is waiting for an immediate-execution line.
bool task_ready(APLTask* task) {
  return task && task->IsAwaitingInput() && (task->GetWSState() & kBusyStateBits) == 0;
}

// The object kind that the selection of `w` names: for the editing test 2
// variable, 3 function, 4 operator, 9 class; for the display test 2 for a
// variable; 0 when it names none. The name popup's test belongs here; until
// the popup exists no selection names an object, and the name items keep
// their plain captions.
int selection_object_kind(const TAPLShellText& w, bool display_test, std::string* name) {
  (void)w, (void)display_test, (void)name;
  return 0;
}

// Sets the keyboard choice (mode as Settings::set_keyboard_layout) and tells
// every window of every shell, so that the keyboard labels and the
// keyboard window follow.
void SetKeyboardLayout(int mode) {
  if (Settings* s = live_settings()) s->set_keyboard_layout(mode);
  for (APLShell* shell = first_apl_shell(); shell; shell = shell->next_shell())
    shell->BroadcastMsg(kind_any, msg_keyboard_changed, 0, nullptr);
}

// The word that help is asked about in `w`: the selection (none when it is
// kHelpSelectionLimit characters or longer), else the word at the caret
// (at most word_room − 1 characters). False when there is none.
bool help_word(const TAPLShellText& w, int word_room, std::string* word, bool* selected) {
  const MRichEdit* c = w.Contents;
  const int length = c->SelLength();
  *selected = length > 0;
  if (*selected) {
    if (length >= kHelpSelectionLimit) return false;
    std::string buffer(static_cast<std::size_t>(length) + 1, '\0');
    buffer.resize(static_cast<std::size_t>(c->GetSelTextBuf(buffer.data(), length + 1)));
    *word = buffer;
  } else {
    *word = w.GetWordBeforePos(c->Caret(), word_room);
  }
  return !word->empty();
}

bool is_c_letter(char c) { return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z'); }

// Looks `word` up in the help; a selected word that starts with a letter
// is tried once more with an apostrophe in front (quoted ⎕WI property and
// method names are indexed so).
bool help_knows(const std::string& word, bool selected, std::string* page) {
  if (!help_index_hook) return false;
  if (help_index_hook(word, page)) return true;
  return selected && is_c_letter(word[0]) && help_index_hook("'" + word, page);
}

}  // namespace

// ---------------------------------------------------------------- Edit menu

void TAPLShellText::EditMenuClick() {
  const bool W = !Contents->ReadOnly();
  const bool S = Contents->SelLength() > 0;
  const bool V = Contents->isVisible();
  const bool T = task_ready(Task());
  const QMimeData* clip = QApplication::clipboard()->mimeData();
  const bool can_paste = clip && clip->hasFormat(QStringLiteral("text/plain"));
  const bool has_find_text = APLFindDialog && !APLFindDialog->FindText().empty();

  EditUndoItem->setEnabled(window_kind != kind_search_results && undo.undo_enabled && CanUndo() && W && V);
  EditCutItem->setEnabled(S && W && V);
  EditDeleteItem->setEnabled(S && W && V);
  EditCopyItem->setEnabled(S && V);
  EditCopyUniItem->setEnabled(S && V);
  EditPasteItem->setEnabled(can_paste && W && V);
  EditPasteUniItem->setEnabled(can_paste && W && V);
  EditSelectAllItem->setEnabled(V);
  EditFindItem->setEnabled(V);
  EditFindSelectionItem->setEnabled(S && V);
  EditFindNextItem->setEnabled(has_find_text && V);
  EditReplaceItem->setEnabled(has_find_text && W && V);

  OpenEditItem->setEnabled(T);
  EditDisplayItem->setEnabled(T);
  EditChartItem->setEnabled(T);
  EditEditRecentItem->menuAction()->setEnabled(T);

  QString edit_caption = QStringLiteral("&Edit Function/Variable/Class...");
  QString display_caption = QStringLiteral("Display &Variable...");
  QString chart_caption = QStringLiteral("C&hart Variable...");
  if (T) {
    std::string name;
    const char* form = nullptr;
    switch (selection_object_kind(*this, false, &name)) {
      case 2: form = "&Edit Variable: %1"; break;
      case 3: form = "&Edit Function: %1"; break;
      case 4: form = "&Edit Operator: %1"; break;
      case 9: form = "&Edit Class: %1"; break;
      default: break;
    }
    if (form) edit_caption = QString::fromUtf8(form).arg(font_text_to_unicode(munge_name_for_menu(name.c_str())));
    if (selection_object_kind(*this, true, &name) == 2) {
      const QString shown = font_text_to_unicode(munge_name_for_menu(name.c_str()));
      display_caption = QStringLiteral("Display &Variable: %1").arg(shown);
      chart_caption = QStringLiteral("C&hart Variable: %1").arg(shown);
    }
  }
  OpenEditItem->setText(edit_caption);
  EditDisplayItem->setText(display_caption);
  EditChartItem->setText(chart_caption);
}

void TAPLShellText::EditCutItemClick() { Contents->CutToClipboard(); }

void TAPLShellText::EditCopyItemClick() { Contents->CopyToClipboard(); }

// The control's own paste: its private format when the text came from a
// text window, else the Unicode text converted character by character to
// display-font codes (so ⍴ stays ⍴ rather than losing its high byte).
void TAPLShellText::EditPasteItemClick() {
  if (Contents->ReadOnly()) return;
  Contents->PasteFromClipboard();
}

void TAPLShellText::EditDeleteItemClick() { Contents->ClearSelection(); }

void TAPLShellText::EditSelectAllItemClick() { Contents->SelectAll(); }

void TAPLShellText::EditCopyUniItemClick() {
  const int length = Contents->SelLength();
  if (length <= 0) return;
  std::string buffer(static_cast<std::size_t>(length) + 1, '\0');
  buffer.resize(static_cast<std::size_t>(Contents->GetSelTextBuf(buffer.data(), length + 1)));
  QApplication::clipboard()->setText(font_text_to_unicode(buffer));
}

void TAPLShellText::EditPasteUniItemClick() {
  if (Contents->ReadOnly()) return;
  const QMimeData* clip = QApplication::clipboard()->mimeData();
  if (!clip || !clip->hasText()) return;
  const QString text = clip->text();
  if (text.isEmpty()) return;
  const std::string bytes = unicode_to_font_text(text);
  Contents->SetNewColour(pref_number("session_user_input_color"));
  // Inserted in the typing style just set, also over a selection (whose own
  // style would otherwise be taken).
  Contents->InsertText(bytes.data(), static_cast<int>(bytes.size()), Contents->TypingStyle());
  Contents->ShowCharPosition(Contents->Caret());
}

// ---------------------------------------------------------------- printing

void TAPLShellText::PrintSetupItemClick() { TPrinterSetupDialog(this).Execute(); }

void TAPLShellText::PrintWindowItemClick() { TAPLPrinter::PrintWindow(this); }

// ---------------------------------------------------------------- Tools menu

void TAPLShellText::OptionsMenuClick() {
  if (APLTask* task = Task()) SpecialWSExplorerItem->setEnabled(task_ready(task));
  if (pref_flag("apl_keyboard")) {
    SpecialUseAPLKeyboard->setText(QStringLiteral("Switch to Non-APL &Keyboard"));
    SpecialKeyboard->menuAction()->setEnabled(true);
    const bool unified = pref_flag("unified_keyboard");
    KeyboardUnifiedItem->setChecked(unified);
    KeyboardStandardItem->setChecked(!unified);
  } else {
    SpecialUseAPLKeyboard->setText(QStringLiteral("Switch to APL &Keyboard"));
    SpecialKeyboard->menuAction()->setEnabled(false);
  }
  const int nominal = ScreenFontsizeToNominal(Contents->font().pointSize());
  for (QAction* item : FontSizeItems) item->setChecked(item->data().toInt() == nominal);
}

void TAPLShellText::SpecialWSExplorerItemClick() {
  if (owner_shell) owner_shell->BringUpExplorer();
}

void TAPLShellText::SpecialCtrlBrowserItemClick() {
  if (owner_shell) owner_shell->BringUpCtrlBrowser();
}

void TAPLShellText::SpecialFontItemClick(int points) {
  Contents->SetFontSize(ScreenNominalToFontsize(points));
  Contents->ShowCharPosition(Contents->Caret());
}

void TAPLShellText::SpecialUseAPLKeyboardClick() { SetKeyboardLayout(pref_flag("apl_keyboard") ? 4 : 3); }
void TAPLShellText::KeyboardAPLItemClick() { SetKeyboardLayout(1); }
void TAPLShellText::KeyboardUnifiedItemClick() { SetKeyboardLayout(2); }
void TAPLShellText::KeyboardNationalItemClick() { SetKeyboardLayout(4); }

// ---------------------------------------------------------------- Help menu

void TAPLShellText::HelpMenuClick() {
  HelpContextItem->setEnabled(false);
  std::string word, page;
  bool selected = false;
  if (!help_word(*this, 109, &word, &selected)) return;
  const bool found = help_knows(word, selected, &page);
  HelpContextItem->setEnabled(found);
  HelpContextItem->setText(!selected && found ? QStringLiteral("Help on Item at Cursor")
                                              : QStringLiteral("Help on Selected Item"));
}

void TAPLShellText::HelpContextItemClick() {
  std::string word, page;
  bool selected = false;
  if (!help_word(*this, 102, &word, &selected)) return;
  if (!help_knows(word, selected, &page) || !help_show_hook) return;
  QApplication::setOverrideCursor(Qt::WaitCursor);
  help_show_hook(page);
  QApplication::restoreOverrideCursor();
}

void TAPLShellText::HelpKeyboardItemClick() {
  if (owner_shell) owner_shell->ShowKeymapWindow();
}

std::string TAPLShellText::GetWordBeforePos(int pos, int max) const {
  const std::string text = Contents->GetTextCopy();
  return zema::GetWordBeforePos(text.data(), static_cast<int>(text.size()), pos, max);
}

// ---------------------------------------------------------------- Edit Recent

void TAPLShellText::EditEditRecentItemClick() {
  APLTask* task = Task();
  if (!gDesktopFile || !task_ready(task)) return;
  std::vector<std::string> sections;
  std::string prefix;
  try {
    prefix = task->GetWSName() + ":";
    sections = gDesktopFile->ReadSections();
  } catch (const std::bad_alloc&) {
    out_of_memory("Cannot create menu", 2);
    return;
  }
  int filled = 0;
  for (auto it = sections.rbegin(); it != sections.rend() && filled < 10; ++it) {
    if (it->size() <= prefix.size() || it->compare(0, prefix.size(), prefix) != 0) continue;
    NameInformation info;
    if (task->GetNameInformation(it->substr(prefix.size()), &info) != 0) continue;
    const int t = info.symbol_type;
    if (!((t >= 0 && t <= 3) || (t >= 11 && t <= 14) || t == 16)) continue;
    QAction* item = EditRecent[filled++];
    item->setText(font_text_to_unicode(munge_name_for_menu(info.name.c_str())).replace(QLatin1Char('&'), QStringLiteral("&&")));
    item->setData(QByteArray(info.name.data(), static_cast<qsizetype>(info.name.size())));
    item->setEnabled(true);
    item->setVisible(true);
  }
  int next = filled;
  if (filled == 0) {
    EditRecent[0]->setText(QStringLiteral("(empty)"));
    EditRecent[0]->setData(QVariant());
    EditRecent[0]->setEnabled(false);
    EditRecent[0]->setVisible(true);
    next = 1;
  }
  for (int i = next; i < 10; ++i) {
    EditRecent[i]->setData(QVariant());
    EditRecent[i]->setEnabled(false);
    EditRecent[i]->setVisible(false);
  }
}

void TAPLShellText::EditRecentItemClick(int index) {
  APLTask* task = Task();
  if (!task || index < 0 || index >= 10) return;
  const QByteArray data = EditRecent[index]->data().toByteArray();
  if (data.isEmpty()) return;
  const std::string name(data.constData(), static_cast<std::size_t>(data.size()));
  APLShell* shell = owner_shell;
  const int open = shell->FindNamedEditWindow(name);
  if (open >= 0) {
    shell->ActivateWindow(open, this);
    return;
  }
  NameInformation info;
  if (task->GetNameInformation(name, &info) != 0) return;
  if (open_editor_hook) open_editor_hook(name, info, shell);
}

void TAPLShellText::SearchMenuItemClick() {
  // The workspace search dialog is not part of this program yet.
}

}  // namespace zema
