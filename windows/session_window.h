// TAPLSessionWin: the session window of a task, the text window in which a
// packaged application's output appears and in which the user types input
// lines. Output arrives on the GUI thread as display-font text; a whole
// line is taken from the text at Enter and handed, in internal characters,
// to the submit hook. Keys typed while the interpreter is busy wait in a
// type-ahead ring, which the task thread may also read one key at a time.
//
// Threads: every member runs on the GUI thread except SetErrorColour and
// GetOneKeystroke, which the task thread calls (see each). The window must
// outlive every such call: the task ends before its window is deleted.
#pragma once

#include <array>
#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>

#include <QPoint>
#include <QRect>

#include "windows/shell_text.h"

class QCloseEvent;

namespace zema {

class TAPLSessionWin : public TAPLShellText {
 public:
  // A hidden window of kind_session titled `executable_name` (display-font
  // characters), client area 692 × 455, centred on the screen unless the
  // session_win_default_w setting is above 0 (then the four
  // session_win_default_* settings place it); background
  // session_background_color, output in session_apl_output_color; the
  // undo chain off, the text empty, at most 20,000,000 characters.
  // `task` is the task whose attention flags GetOneKeystroke reads and
  // whose attnPending the interrupt keys set when no attention hook is
  // given (may be null).
  // `packaged` (the only arrangement the program uses): the packaged File
  // menu, Tools as "&Display" with the font sizes only, the Edit menu
  // without the object-editing items, Window and Help hidden; the
  // development File and Debug menus are not made at all, so none of their
  // shortcuts exists. Without it: the development menus, no packaged one.
  explicit TAPLSessionWin(const std::string& executable_name, APLTask* task = nullptr, QWidget* owner = nullptr,
                          bool packaged = true);
  ~TAPLSessionWin() override;

  // 101 places the window from the session_win_default_* settings (when
  // the width is not 0), sets the font size of the APL text font and ⎕PW
  // (forced); 104 the base's font change, then ⎕PW (forced); 105 the
  // background and output colours from the settings; 106 ⎕PW (forced);
  // 201 nothing (the title stays); 202 the hourglass cursor and ⎕PW (not
  // forced); 203 enables the window, the I-beam cursor, new text in
  // session_user_input_color and the colour state input, then replays one
  // line of type-ahead. The rest go to TAPLShellText::AcceptMsg.
  void AcceptMsg(int msg, int arg, void* ptr) override;

  // ---- output ----
  // Appends interpreter output `text` (NUL-terminated display-font
  // characters; "\n", "\r" and "\r\n" each end a line). Empty: nothing.
  // Unless `overwrite`: the session is trimmed (CheckSessionLength) and the
  // text goes at the end, which is then scrolled into view; with
  // `overwrite` it replaces the rest of the caret's line as far as it
  // reaches, the remainder inserted. In session_error_message_color while
  // the colour state is error, else in output_colour; after it the typing
  // colour is the input colour again when the state is input. A hidden
  // window shows itself when the text holds anything but blanks and line
  // ends. The remembered line (line_no) is taken again when the text
  // changed it.
  void AppendSession(const char* text);
  // Any thread (the task thread writes its output through it): when the
  // wanted state (2 on, 1 off) differs from the colour state, the
  // flush_output hook runs first (so output already buffered keeps the
  // old colour), then the state is stored. The state is atomic; the GUI
  // thread applies it at the next AppendSession.
  void SetErrorColour(bool on);
  // Past session_length − 100 characters: deletes from the start up to the
  // start of the line holding character length / 3; a first line that
  // holds it is cut at that character instead (so one endless line cannot
  // grow past the limit). line_no follows the deleted lines (forgotten when
  // its line went).
  void CheckSessionLength();
  // Sets the task's ⎕PW (SetQuadPW) from the window: nothing when
  // fixed_print_width is on and not `force`, or without a shell or task;
  // quad_pw when fixed, else the text control's width ÷ the width of "m",
  // less 1; clamped to 40…390.
  void RethinkPrintWidth(bool force);
  // An input request: a hidden window shows itself. The program calls it
  // each time its task asks for input.
  void InputRequested();

  // ---- ⎕CC and cursor requests ----
  // The interpreter's requests on the session text (GUI thread; the task
  // thread waits meanwhile, its pending output already flushed). The caret
  // is at column c of line l. 1 empties the text and, when `hard_copy`
  // (the task prints its session, hard-copy mode 1) and print_hard_copy is
  // set, prints a form feed; 2 the caret to the start of the text; 3 to
  // the start of its line; 4, 5, 6, 7 the caret up, down, left, right
  // (CursorAdd at (c, l − 1), (c, l + 1), (c − 1, l), (c + 1, l); up on
  // line 0 stays there); 10 deletes to the end of the line; 11 to the end
  // of the text; 16 deletes the line, then CursorAdd(c, l); 17 inserts an
  // empty line before the caret's line, then CursorAdd(c, l); 18 deletes
  // the character at the caret; 19 inserts a blank there, the caret
  // staying; 29/30, 36/37, 38/39 underline, bold, italic on/off in the
  // typing style (the text already there keeps its face); 35 beeps;
  // 101…108 set output_colour to black, white, red, green, blue, cyan,
  // dark red, yellow. Any other code does nothing.
  void QuadCC(int code, bool hard_copy);
  // Puts the caret at `column` of `line` (−1: the caret's line), with an
  // empty selection. A column above 254 is 254, a negative one 0; another
  // negative line is line 0. Empty lines are appended until the line
  // exists and a shorter line is padded with blanks up to the column (both
  // only as far as the text's length limit lets them; the caret then
  // stops at the end of what is there).
  void CursorAdd(int column, int line);

  // ---- input ----
  // Key-down with Ctrl: Ctrl+'.' and Ctrl+Delete interrupt (the attention
  // hook, else the task's attnPending); Ctrl+Up and Ctrl+Down recall.
  // Answers whether the key was consumed.
  bool SessionKeyDown(int key, bool ctrl);
  // A typed character `key` (display font; CR for Enter): while the task
  // is busy it joins the type-ahead (a full ring beeps and drops it); at an
  // input request Enter without Ctrl takes the line and anything else is
  // left to the control (answer false). Answers whether it was consumed.
  bool ContentsKeyPress(char key, bool ctrl);
  // Remembers the caret's line as it stands (unless restoring, or the line
  // is the remembered one and its text is not empty).
  void ContentsSelectionChange();
  // Puts the remembered line back as it was remembered.
  void RestoreLine();
  // Shows the previous (`back`) or next entered line at the end of the
  // session; only at an ordinary input request.
  void RecallLastLine(bool back);
  // Task thread: the internal code of the next type-ahead key; 0 when the
  // task's attention is pending and enabled, or once CloseKeystrokes ran;
  // otherwise waits (woken by a typed key, at the latest every 100 ms) and
  // asks again.
  int GetOneKeystroke();
  // Any thread: no key will come any more (the task is asked to quit); a
  // wait in GetOneKeystroke ends at once.
  void CloseKeystrokes();
  // Submits `line` (internal characters) as if typed; a prompt of blanks
  // left on the last line is deleted, so the line's output starts there.
  void FakeInputLine(const char* line);
  // Submits `command` (internal characters, with its trailing blank), then
  // `path` (display font) in quotes, converted to internal characters with
  // every quote doubled. An empty path does nothing. `extension` is not
  // used. The file_selected hook hears of the path (`workspace` true for
  // )LOAD, )SAVE, )SLOAD and )SSAVE).
  void FakeSyscmd(const char* command, const char* path, const char* extension);
  // One line of type-ahead to the session (message 203 calls it).
  void ReplayTypeahead();
  // Keys waiting in the type-ahead ring.
  int TypeaheadCount() const;

  // ---- hooks (set by the program before the task runs) ----
  // Takes an entered line (internal characters, no line end); false: the
  // task did not take it (the window beeps).
  std::function<bool(const std::string& internal_line)> submit_line;
  // Asks the task to interrupt; null: the task's attnPending is set.
  std::function<void()> attention;
  // Flushes the task's pending output synchronously (SetErrorColour).
  std::function<void()> flush_output;
  // Prints a text on the ⎕HC job (display font) while hard copy is on.
  std::function<void(const std::string& text)> print_hard_copy;
  // FakeSyscmd's path, for the task's selected-file or workspace-path
  // field.
  std::function<void(const std::string& path, bool workspace)> file_selected;
  // Lines longer than this (characters) are refused with a message, not
  // cut; 0: no limit.
  std::size_t input_line_limit = 0;

  // ---- menus and commands (session_commands.cpp) ----
  // A file dialog asked for by a command. `filter` pairs a description and
  // its patterns with '|' ("APL Workspaces (*.aws)|*.aws|All files (*)|*");
  // `filter_index` counts the pairs from 1. On OK the dialog fills `path`
  // and `filter_index` (the pair chosen).
  struct FileDialogRequest {
    bool save = false;
    std::string title, filter, default_extension, file_name;
    bool overwrite_prompt = false;
    int filter_index = 1;
    std::string path;
  };
  // Tests: while set, it stands in for every file dialog of the session
  // window (it answers OK with true, after filling the request); null: a
  // QFileDialog run through RunModal.
  static std::function<bool(FileDialogRequest&)> file_dialog_hook;
  // Runs the file dialog for `r` (the hook, else a QFileDialog): true on OK
  // with a non-empty path, the default extension added to a name without one.
  static bool RunFileDialog(FileDialogRequest& r);

  // Whether the menus were arranged for a packaged application.
  bool IsPackaged() const { return packaged_; }

  // Packaged File menu (always enabled).
  QMenu* PackageFileMenu = nullptr;
  QAction* PackageFileSaveItem = nullptr;
  QAction* PackageFilePageSetupItem = nullptr;
  QAction* PackageFilePrintItem = nullptr;
  QAction* PackageFileExitItem = nullptr;
  // Development File and Debug menus: null in packaged mode.
  QMenu* FileMenu = nullptr;
  QAction* FileNewItem = nullptr;
  QAction* FileOpenItem = nullptr;
  QAction* FileSaveItem = nullptr;
  QAction* FileSaveAsItem = nullptr;
  QAction* FileCopyItem = nullptr;
  QAction* FileNewTaskItem = nullptr;
  QMenu* FileSessionItem = nullptr;
  QAction* SessionNewItem = nullptr;
  QAction* SessionOpenItem = nullptr;
  QAction* SessionSaveItem = nullptr;
  QAction* CloseSessionItem = nullptr;
  QAction* FileImportItem = nullptr;
  QAction* FileExportItem = nullptr;
  QAction* FilePrintSetupItem = nullptr;
  QMenu* FilePrintItem = nullptr;
  QAction* PrintWindowItem = nullptr;
  QAction* PrintListingItem = nullptr;
  QAction* FileRecentItems[5] = {};  // each holds its path as its data
  QAction* FileRecentSeparator = nullptr;
  QAction* FileExitItem = nullptr;
  QMenu* DebugMenu = nullptr;
  QAction* DebugInterruptItem = nullptr;
  QAction* DebugResumeItem = nullptr;
  QAction* DebugSIClearItem = nullptr;
  QAction* DebugStepOverItem = nullptr;
  QAction* DebugStepInItem = nullptr;
  QAction* DebugRunEndItem = nullptr;
  QAction* DebugDebugItem = nullptr;
  QAction* DebugBreakpoint = nullptr;
  QAction* DebugWatchItem = nullptr;

  // Menu opening: File enables the workspace items and the recent items at
  // an ordinary input request only, Exit and Close Session at any input
  // request, the print items unless the printer is busy (the workspace
  // listing is not built: always disabled). Debug: Interrupt while the task
  // runs or asks for ⍞ input; Watch and Breakpoints at ordinary input (and
  // a maker); Resume, Clear Stack, Show Debug Window and the step items at
  // ordinary input with a state indicator that is not empty.
  void FileMenuClick();
  void DebugMenuClick();
  // The session's Edit rule: no Undo; Cut, Copy, Copy as Unicode, Delete,
  // Find Selected Text with a selection; the pastes when the clipboard
  // holds text; Select All and Find always; Find Again and Replace with a
  // search text; the name items (captions as the base makes them) at an
  // ordinary input request.
  void EditMenuClick();

  // Workspace commands, submitted as system commands (FakeInputLine,
  // FakeSyscmd). A confirmation ("ZEMA Warning", OK/Cancel) comes first
  // when the safety setting is on and the workspace is not empty.
  void FileNewItemClick();
  void FileOpenItemClick();
  // "CLEAR WS": Save As; else )SAVE.
  void FileSaveItemClick();
  // The workspace filter: )SAVE and the recent list. The executable
  // filter: refused ("ZEMA Error") with a state indicator that is not
  // empty or without ⎕LX, else written by make_packaged (88 and other
  // failures reported).
  void FileSaveAsItemClick();
  void FileCopyItemClick();
  void FileImportItemClick();
  void FileExportItemClick();
  // The recent item `index` (0–4): its path loaded and moved to the front;
  // nothing for an item without a path.
  void FileRecentItemClick(int index);
  // new_session, else "Cannot create new APL task".
  void FileNewTaskItemClick();
  void CloseSessionItemClick();
  // Asks every task of the task list to quit (quit_task).
  void FileExitItemClick();
  // Session history: clear (with safety, confirmed; at an ordinary input
  // request the six-blank prompt is left, caret after it, typing in the
  // input colour); re-read a file into the emptied window in the output
  // colour; save the window's text as a plain file.
  void SessionNewItemClick();
  void SessionOpenItemClick();
  void SessionSaveItemClick();
  // The workspace listing is not built: nothing.
  void PrintListingItemClick() {}
  void DebugInterruptItemClick();
  void DebugResumeItemClick();
  void DebugSIClearItemClick();
  // The debugger is made (make_debug_window of the shell) when the shell
  // has none, then 402, 403 or 404 goes to it.
  void DebugStepOverItemClick();
  void DebugStepInItemClick();
  void DebugRunEndItemClick();
  void DebugDebugItemClick();
  void DebugBreakpointClick();
  void DebugWatchItemClick();

  // Recent workspaces in gAppDataFile, section "recent workspaces", keys
  // "0" (newest) to "4": `path` becomes "0", the others follow without it,
  // at most five; then the items. Nothing without the file.
  void AddRecentFile(const std::string& path);
  // The recent items from the file: item i holds key i's path and shows
  // its last component less a final ".aws" (any case; only when the
  // component is longer than 5 characters), or the full path when another
  // item shows the same name; items without a key are hidden. Nothing
  // without a shell, the file or the File menu.
  void UpdateRecentFileMenus();

  // Where a new session window goes from this one at (left, top) on
  // `screen`: 16 pixels right and down, each coordinate first reset to the
  // screen's edge when it lies outside or within 16 of the far edge.
  static QPoint NewSessionPosition(QPoint from, const QRect& screen);

  // Asks `task` to quit: its quit flag set and the task woken, so it ends
  // (and its windows close). Null: nothing can ask a task to quit.
  std::function<void(APLTask* task)> quit_task;
  // The application's quit-menu event: answers true when it was queued
  // (the window then stays open). Null: the application has none.
  std::function<bool()> quit_menu_event;
  // Writes the packaged executable `file` from the running workspace:
  // 0 done, 88 no runtime support file, else an I/O failure. Null: 88.
  std::function<int(const std::string& file)> make_packaged;
  // Makes and shows a further session (task, shell, window); false when it
  // could not (it reported why). Null: "Cannot create new APL task".
  std::function<bool(TAPLSessionWin* from)> new_session;
  // The breakpoints dialog and a watch window; null: their items stay
  // disabled.
  std::function<void(TAPLSessionWin* from)> show_breakpoints, show_watch;

  // ---- state ----
  static constexpr int kTypeaheadSize = 100;
  static constexpr int kRecallSize = 100;
  std::atomic<int> colour_state{1};  // 0 input, 1 output, 2 error
  int line_no = -1;                  // the remembered line; −1 none
  std::string line_text;             // its text when remembered
  std::int32_t line_colour = 0;
  bool restoring = false;
  std::array<std::string, kRecallSize> recall;  // empty: no line
  int recall_next = 0;
  int recall_index = -1;
  std::int32_t output_colour = 0;
  bool overwrite = false;

 protected:
  bool eventFilter(QObject* watched, QEvent* e) override;
  // FormResize and FormShow: ⎕PW from the width (not forced).
  void resizeEvent(QResizeEvent* e) override;
  void showEvent(QShowEvent* e) override;
  // FormCloseQuery: closes without a shell or task, or when the task is
  // ending; else the quit-menu event when the application has one, or the
  // task is asked to quit; the window stays open (it closes at the task's
  // end).
  void closeEvent(QCloseEvent* e) override;

 private:
  // Enter at an input request: takes the line and submits it.
  void EnterLine();
  // Whether the task waits for input, and for an ordinary line.
  bool AwaitingInput() const;
  bool OrdinaryInput() const;
  std::string LineTextOf(int line) const;
  void TakeLine(int line);
  void AddAtEnd(const std::string& text, std::int32_t colour);
  bool PopTypeahead(char* c);

  // The menus of the session window (session_commands.cpp).
  void BuildSessionMenus();
  void BuildDevelopmentMenus();
  // OK/Cancel "ZEMA Warning" when the safety setting is on (and, with
  // `only_if_not_empty`, the workspace is not empty): false abandons.
  bool ConfirmSafety(const char* text, bool only_if_not_empty);
  // The workspace dialogs' file name: the workspace name unless "CLEAR WS".
  std::string DefaultWorkspaceFile();
  void Step(int msg);

  bool packaged_ = true;
  APLTask* task_;
  mutable std::mutex typeahead_lock_;
  std::condition_variable typeahead_added_;
  std::array<char, kTypeaheadSize> typeahead_{};
  int typeahead_pos_ = 0;    // oldest key
  int typeahead_count_ = 0;  // keys held
  bool keys_closed_ = false;  // CloseKeystrokes ran (under typeahead_lock_)
};

}  // namespace zema
