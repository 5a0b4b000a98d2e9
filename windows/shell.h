// APLShell: the register of one task's session-manager windows, the chain of
// every task's shell, the window messages and window kinds.
//
// A shell lives on the GUI thread from its task's creation to the task's
// end. Windows never hold pointers to their siblings: they ask their shell.
// Every call that touches a widget runs on the GUI thread; BroadcastMsg may
// be called from another thread and then hands its walk to the GUI thread
// and waits for it.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

class QWidget;

namespace zema {

class APLTask;
class TAPLShellText;
class TAPLShellWindow;

// Window messages: a number with a 32-bit argument and a pointer, delivered
// through TAPLShellWindow::AcceptMsg.
enum shell_message : int {
  msg_close = 1,
  msg_set_bounds = 2,  // ptr → {left, top, right, bottom}
  msg_minimise = 3,
  msg_maximise = 4,
  msg_restore = 5,
  msg_print_contents = 6,
  msg_prefs_windows = 101,
  msg_prefs_changed = 102,
  msg_keyboard_changed = 103,
  msg_font_changed = 104,
  msg_colours_changed = 105,
  msg_print_width_changed = 106,
  msg_quicksym_popup = 107,
  msg_show_key = 108,
  msg_quicksym_caret_off = 109,
  msg_quicksym_caret_on = 110,
  msg_wsid_changed = 201,
  msg_apl_busy = 202,
  msg_apl_ready = 203,
  msg_object_fixed = 204,
  msg_modal_begin = 301,
  msg_modal_end = 302,
  msg_breakpoints_changed = 401,
  msg_step_over = 402,
  msg_step_into = 403,
  msg_run_to_end = 404,
};

// Window kinds; a filter of kind_any matches every window.
enum window_kind : int {
  kind_session = 1,
  kind_function_editor = 2,
  kind_variable_editor = 4,
  kind_watch = 8,
  kind_debugger = 0x10,
  kind_display = 0x20,
  kind_quick_chart = 0x40,
  kind_search_results = 0x80,
  kind_class_summary = 0x100,
  kind_keyboard = 0x1000,
  kind_any = 0xFFFF,
};

// The rectangle of msg_set_bounds.
struct BoundsRect {
  int left = 0, top = 0, right = 0, bottom = 0;
};

class APLShell {
 public:
  // An empty shell of `task` (may be null in tests), stored in the task's
  // shell field. It is not in the chain until AppendToChain.
  explicit APLShell(APLTask* task);
  // Closes nothing: the task's end closes the windows first (CloseAll), then
  // deletes the shell, which leaves the chain.
  ~APLShell();
  APLShell(const APLShell&) = delete;
  APLShell& operator=(const APLShell&) = delete;

  // Reads: the chain. Writes: appends this shell at the end (the first shell
  // becomes first_apl_shell). Nothing when already in the chain.
  void AppendToChain();
  // Takes this shell out of the chain (nothing when it is not there).
  void UnlinkFromChain();

  APLTask* task() const { return task_; }
  APLShell* next_shell() const { return next_shell_; }

  // Appends `w` at the tail of the list unless it is there already, and
  // makes this shell its owner.
  void AddWindowToShell(TAPLShellWindow* w);
  // Clears `w`'s owner and unlinks it (nothing else when it is not listed).
  void DeleteWindowFromShell(TAPLShellWindow* w);
  // The first window of `kind` (any for kind_any) or null, moving the
  // window cursor there; the next such window after the cursor, or null.
  TAPLShellWindow* GetFirstShellWindow(int kind);
  TAPLShellWindow* GetNextShellWindow(int kind);
  // The task's application windows in order: every shell window in list
  // order, then the task's top-level ⎕WI windows (qwi_windows). Null at the
  // end.
  QWidget* GetFirstAppWindow();
  QWidget* GetNextAppWindow();
  // The same, as one list.
  std::vector<QWidget*> AppWindows() const;
  // The position (from 0) of the editor that edits `name` (display-font
  // characters, compared byte for byte), else −1. Editors say what they
  // edit through TAPLShellWindow::EditedName.
  int FindNamedEditWindow(const std::string& name) const;
  // Calls AcceptMsg(msg, arg, ptr) on every window of `kind` (all for
  // kind_any), in list order. The next link is read before each call, so
  // a window may close during its message. Off the GUI thread the walk runs
  // on the GUI thread and the caller waits for it.
  void BroadcastMsg(int kind, int msg, int arg, void* ptr);
  // index ≥ 0: activates the index-th window of this shell's list; a
  // negative index activates the window after `w` over the whole chain
  // (from the last window of the chain, even when empty shells follow its
  // shell: the first window of the chain).
  void ActivateWindow(int index, TAPLShellWindow* w);
  // Activates the index-th application window counted over every shell of
  // the chain.
  void ActivateAppWindow(int index, QWidget* from);
  // Closes every window of the shell, each taken out of the list first
  // (the task's end).
  void CloseAllWindows();

  // The task's single windows (null until made) and the session window.
  TAPLShellWindow* session_window = nullptr;
  TAPLShellWindow* debug_window = nullptr;
  TAPLShellWindow* explorer_window = nullptr;
  TAPLShellWindow* keymap_window = nullptr;
  // Makers of the single windows, installed by the windows that exist (null:
  // the window cannot be made). Each answers the new window or null.
  std::function<TAPLShellWindow*(APLShell*)> make_debug_window, make_explorer_window, make_keymap_window;
  // The task's top-level ⎕WI windows (class Window) in child order; null:
  // none.
  std::function<std::vector<QWidget*>()> qwi_windows;

  // Shows the task's explorer or keyboard-layout window, made on first use
  // (owner the session window); a maker that fails is reported through
  // out_of_memory ("Can't create explorer window", "Can't create keyboard
  // layout window"); without a maker nothing happens.
  void BringUpExplorer();
  void ShowKeymapWindow();
  // The control browser does not exist: nothing.
  void BringUpCtrlBrowser() {}

  // Sends the task's output to the text window `w` (a watch window), or back
  // to the session for null. The first capture saves ⎕PW and sets it to the
  // width of w's text control in "m"s less one; ending the capture restores
  // the saved ⎕PW (which stays saved). Nothing without a task, or when `w`
  // already captures.
  void WatchOutput(TAPLShellText* w);
  // The window that captures output instead of the session, or null; set
  // `drop_output` when the task must drop its output instead.
  TAPLShellText* watch_output = nullptr;
  bool drop_output = false;

  // The pending output line the task fills and flushes.
  char pending_output[512] = {};
  std::int32_t pending_count = 0;
  // ⎕PW to restore when output stops going to a watch window; −1 none.
  std::int16_t saved_print_width = -1;

 private:
  APLTask* task_;
  APLShell* next_shell_ = nullptr;
  TAPLShellWindow* first_window_ = nullptr;
  TAPLShellWindow* window_cursor_ = nullptr;
  int app_cursor_ = -1;
};

// The head of the chain of shells (the start-up shell), or null.
APLShell* first_apl_shell();

// Reports "Out of memory - TEXT" under "ZEMA Error" (critical icon). Action
// 2 returns to the caller; action 4 throws std::bad_alloc after the report,
// so that a constructor's caller sees the creation fail.
void out_of_memory(const std::string& text, int action);

// Activating a window: show it, restore it when minimised, focus it.
void activate_widget(QWidget* w);

}  // namespace zema
