// TAPLShellText: the base of every session-manager window whose body is
// text. One MRichEdit (`Contents`) fills the window above a status strip
// with the keyboard label; the Edit, Tools and Help menus and their
// commands, find and replace through the shared find dialog, and a private
// undo chain. Derived windows set their kind, caption and extra menus.
// GUI thread only.
#pragma once

#include <string>

#include "windows/shell_window.h"
#include "windows/undo_chain.h"

class QAction;
class QActionGroup;
class QFrame;
class QLabel;
class QMenu;
class QScrollBar;
class QSizeGrip;

namespace zema {

class MRichEdit;
class RegexSearch;
class TAPLFindDialog;

// The keyboard label's text for the keyboard settings: "KB: Uni APL",
// "KB: Std APL" or "KB: Non-APL".
QString keyboard_state_text();

class TAPLShellText : public TAPLShellWindow {
 public:
  // The text control (APL text font, no word wrap, both scroll bars, its
  // own undo off, hide-selection off), the status strip and the menus;
  // the word-break test of the control is IsWordBreak; every change of the
  // text passes the undo chain's two reports; the keyboard label is set.
  // A failure to make a part reports through out_of_memory with action 4
  // (the creation fails with std::bad_alloc).
  explicit TAPLShellText(QWidget* owner = nullptr);
  ~TAPLShellText() override;

  // 103 sets the keyboard label, 104 the control's font size to the APL
  // text font's, 109 and 110 do nothing visible; the rest go to the base.
  void AcceptMsg(int msg, int arg, void* ptr) override;
  void MakePreview() override;
  // Appends `text` (NUL-terminated display-font characters) at the end in
  // the typing style, caret after it; OutputText in `colour` (0x00BBGGRR).
  // Out of memory: "Out of memory updating window" under "ZEMA Error".
  virtual void AppendText(const char* text);
  virtual void OutputText(const char* text, std::int32_t colour);
  // Shrinks the window to the extent of its text (+10 pixels) in each
  // direction where the client area is larger; never grows it.
  virtual void ShrinkToFit();

  // The control's word-break callback (IsWordBreak of word_breaks.h).
  static bool CheckWordBreak(const char* text, int pos, int len);
  // Makes this window the target of the shared find dialog.
  void FormActivate();
  // Pops the keyboard menu up at the mouse position.
  void StatusKBClick();
  // Does nothing: no quick-symbol caret in this program.
  void DrawQuickSymCursor(bool on) { (void)on; }

  // ---- undo (the chain's reports and Edit ▸ Undo) ----
  void ContentsProtectChange(int start, int end, bool& allow);
  void ContentsChange();
  void EditUndoItemClick();
  bool CanUndo() const { return undo.CanUndo(); }
  void ClearUndo() { undo.ClearUndo(); }

  // ---- Edit, Tools and Help menu commands (text_commands.cpp) ----
  // Edit menu opening: enables the items from the control's read-only
  // state, selection, visibility and the clipboard, the find items from the
  // shared find dialog's text, and the name items (Edit, Display, Chart,
  // Edit Recent) when the task waits for an immediate-execution line (no
  // bit of 0x6004 in its workspace state).
  void EditMenuClick();
  // The control's clipboard commands; Paste does nothing on a read-only
  // control and takes the control's own format or, from other programs,
  // Unicode text converted to display-font characters.
  void EditCutItemClick();
  void EditCopyItemClick();
  void EditPasteItemClick();
  void EditDeleteItemClick();
  void EditSelectAllItemClick();
  // The selection as Unicode text on the clipboard (nothing when empty);
  // the clipboard's Unicode text, in the session_user_input_color setting,
  // over the selection (nothing when read-only or no text).
  void EditCopyUniItemClick();
  void EditPasteUniItemClick();
  // The printer set-up dialog (TPrinterSetupDialog), and the whole text
  // printed through TAPLPrinter::PrintWindow (printing.h).
  void PrintSetupItemClick();
  void PrintWindowItemClick();
  // Tools menu opening: Workspace Explorer enabled as the name items (when
  // there is a task); the keyboard items' caption, enabling and check from
  // apl_keyboard and unified_keyboard; the font size of the control checked.
  void OptionsMenuClick();
  // The shell's explorer and control browser.
  void SpecialWSExplorerItemClick();
  void SpecialCtrlBrowserItemClick();
  // This window's text at nominal size `points`, the caret kept in view.
  void SpecialFontItemClick(int points);
  // The keyboard choice (live settings' set_keyboard_layout: 4 or 3 as
  // apl_keyboard is on or off, 1 standard, 2 unified, 4 non-APL), then
  // message 103 to every window of every shell.
  void SpecialUseAPLKeyboardClick();
  void KeyboardAPLItemClick();
  void KeyboardUnifiedItemClick();
  void KeyboardNationalItemClick();
  void SpecialPreferencesClick() {}
  // Help menu opening: Help on Selected Item enabled when the help
  // (help_index_hook) knows the selection (under 100 characters) or the
  // word at the caret; a selection starting with a letter is tried again
  // with an apostrophe in front. The command shows the page found
  // (help_show_hook).
  void HelpMenuClick();
  void HelpContextItemClick();
  // The shell's keyboard window.
  void HelpKeyboardItemClick();
  void HelpWebsSiteItemClick() {}
  // Edit Recent opening: the newest ten objects of this workspace in the
  // desktop file (sections "WSNAME:name") that the task still knows as a
  // function, operator, variable or class; "(empty)" disabled when none.
  // Choosing one activates its open editor, else asks open_editor_hook.
  void EditEditRecentItemClick();
  void EditRecentItemClick(int index);
  // The workspace search dialog does not exist yet: nothing.
  void SearchMenuItemClick();
  // The word at `pos` of the text (GetWordBeforePos of word_breaks.h), at
  // most max − 1 characters.
  std::string GetWordBeforePos(int pos, int max) const;

  // ---- find and replace (find_dialog.cpp) ----
  void EditFindItemClick();
  void EditFindNextItemClick();
  void EditFindSelectionItemClick();
  void EditReplaceItemClick();
  void FindDialogFind();
  void FindDialogReplace();
  void FindDialogReplaceAll();
  // The offset of the match of `pattern` from `start` in the control's
  // text, −1 none, −2 an error; `*match_length` its length.
  int SearchFor(const char* pattern, int start, bool up, bool case_sensitive, bool whole_word, bool wrap, bool regex,
                int* match_length);

  // The shell's task, or null.
  APLTask* Task() const;

  MRichEdit* Contents = nullptr;
  QScrollBar* HScrollBar = nullptr;
  QLabel* StatusKB = nullptr;
  QFrame* Bevel1 = nullptr;
  QSizeGrip* SizeGrip = nullptr;
  QMenu* EditPopupMenu = nullptr;
  QMenu* KBPopMenu = nullptr;

  QMenu* EditMenu = nullptr;
  QAction* EditUndoItem = nullptr;
  QAction* EditCutItem = nullptr;
  QAction* EditCopyItem = nullptr;
  QAction* EditPasteItem = nullptr;
  QAction* EditDeleteItem = nullptr;
  QAction* EditSelectAllItem = nullptr;
  QAction* EditCopyUniItem = nullptr;
  QAction* EditPasteUniItem = nullptr;
  QAction* EditFindItem = nullptr;
  QAction* EditFindNextItem = nullptr;
  QAction* EditFindSelectionItem = nullptr;
  QAction* EditReplaceItem = nullptr;
  QAction* SearchMenuItem = nullptr;
  QAction* EditDisplayItem = nullptr;
  QAction* EditChartItem = nullptr;
  QMenu* EditEditRecentItem = nullptr;
  QAction* EditRecent[10] = {};
  QAction* OpenEditItem = nullptr;

  QMenu* ToolsMenu = nullptr;
  QAction* SpecialWSExplorerItem = nullptr;
  QAction* SpecialCtrlBrowserItem = nullptr;
  QMenu* SpecialFontItem = nullptr;
  QAction* FontSizeItems[10] = {};  // 8, 9, 10, 11, 12, 14, 16, 18, 24, 28 point
  QAction* SpecialUseAPLKeyboard = nullptr;
  QMenu* SpecialKeyboard = nullptr;
  QAction* KeyboardStandardItem = nullptr;
  QAction* KeyboardUnifiedItem = nullptr;
  QAction* Preferences1 = nullptr;
  QAction* HelpKeyboardItem = nullptr;

  UndoChain undo;

 protected:
  // FormClose: the find dialog forgets this window, the undo chain is
  // emptied and the change reports detached, then the base's close.
  void closeEvent(QCloseEvent* e) override;
  void changeEvent(QEvent* e) override;
  bool eventFilter(QObject* watched, QEvent* e) override;

 private:
  void BuildMenus();
  // Searches for `find` from `start` with the find dialog's options; selects
  // and shows the match and sets the status (judged against `origin`), or
  // reports "Search string not found" and answers false.
  bool FindFrom(const std::string& find, int start, int origin);
};

// The font sizes of Tools ▸ Font Size, in menu order.
inline constexpr int kFontSizePoints[10] = {8, 9, 10, 11, 12, 14, 16, 18, 24, 28};

}  // namespace zema
