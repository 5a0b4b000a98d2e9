// TAPLShellWindow: the form every session-manager window derives from. It
// gives a window its place in its task's shell, its kind, a title of at most
// 50 characters, a modified flag, the common reactions to window messages,
// its geometry in the desktop file, and the Window and Help menus every
// window shares. Also the two dialog bases, TOKBottomDlg and TAPLStdDialog,
// and disable_controls. GUI thread only.
#pragma once

#include <QDialog>
#include <QMainWindow>

#include <functional>
#include <string>

#include "windows/shell.h"

class QAction;
class QFont;
class QMenu;
class QPushButton;

namespace zema {

class MemIniFile;
class Settings;

// ---- process-wide state of the session manager (GUI thread) ----
// The desktop file (window geometry), or null; the live settings, or null
// (then every setting reads its default).
extern MemIniFile* gDesktopFile;
// The application-data file (recent workspaces), or null.
extern MemIniFile* gAppDataFile;
Settings* live_settings();
void set_live_settings(Settings* settings);
// A flag setting of the live settings (its default without them).
bool pref_flag(const char* name);
std::int32_t pref_number(const char* name);

// The screen rectangle {0, 0, width, height} of the primary screen.
QRect screen_client_rect();
// The four APL fonts, all of the APL font family: the text font at the
// screen size of the text_font_size setting; the font of APL symbols in
// dialog controls and lists (10 points); of status strips (8 points); of
// window titles drawn by the program (12 points).
QFont apl_text_font();
QFont apl_dialog_font();
QFont apl_status_font();
QFont apl_win_title_font();
// The screen's pixels per inch (96 when unknown) and the conversions of a
// nominal point size to the screen size and back.
int screen_ppi();
int ScreenNominalToFontsize(int points);
int ScreenFontsizeToNominal(int size);

// Runs `d` modally and answers its result. Tests set a hook that stands
// in for the person (it gets the dialog, shown, and answers the result).
// Where nothing can be seen (no_screen) and no hook is set, nothing waits:
// "TITLE: cancelled" goes to standard error and the answer is Rejected.
int RunModal(QDialog* d);
void set_run_modal_hook(std::function<int(QDialog*)> hook);

// Rows and columns that Tile uses for n windows.
struct TileGrid {
  int rows = 0, columns = 0;
};
TileGrid tile_grid(int n);

class TAPLShellWindow : public QMainWindow {
 public:
  // A window of kind_any with the caption "ZEMA" (its title), 618 × 335,
  // the Window and Help menus; in no shell until a creator adds it.
  explicit TAPLShellWindow(QWidget* owner = nullptr);
  ~TAPLShellWindow() override;

  // Copies at most 50 characters of `t` (display-font characters); when 50
  // were copied, the 49th and 50th become '.', so a longer title shows its
  // first 48 characters and "..". Sets the caption.
  void SetWindowTitle(const std::string& t);
  const std::string& GetWindowTitle() const { return title_; }
  // Stores `m`: true blanks the caption, false shows the title again (the
  // keyboard window sets false). SetWindowTitle always shows the title.
  void SetTitleDrawMode(bool m);
  bool GetModifiedState() const { return modified_; }
  void SetModifiedState(bool m) { modified_ = m; }
  bool IsPreview() const { return preview_; }

  // The base reactions: 1 closes the window, 2 sets the bounds from
  // ptr → BoundsRect, 3 minimises, 4 maximises, 5 restores, 203 and 302
  // enable the window, 301 disables it; every other message is ignored.
  virtual void AcceptMsg(int msg, int arg, void* ptr);
  // Makes the window an inert sample: every control and top-level menu
  // disabled, no close handling, no desktop-file traffic.
  virtual void MakePreview();
  // The name an editor window edits (display-font characters), empty for
  // every other window; FindNamedEditWindow compares it.
  virtual std::string EditedName() const { return {}; }

  // Writes top, left, width and height under "WSNAME:name" of the desktop
  // file (the section erased first). Nothing for a preview, an empty name,
  // or without a shell, task or desktop file.
  void SaveDesktopPosition(const std::string& name);
  // Reads them back (current values as defaults) when save_window_positions
  // is on, then keeps the window on the screen: a top or left at or beyond
  // the screen's far edge − 50, or before its near edge, becomes the edge.
  void RestoreDesktopPosition(const std::string& name);

  int window_kind = kind_any;
  TAPLShellWindow* next_window = nullptr;
  APLShell* owner_shell = nullptr;

  // ---- the Window and Help menus ----
  // Rebuilds the Window menu: Close All, Next Window, the numbered items
  // (the first ten application windows of every shell, checked when it is
  // this one) and More windows.
  void WindowMenuClick();
  // Broadcasts message 1 to the kinds 2, 4, 0x80, 8, 0x10, 0x20 and 0x100
  // of every shell.
  void WindowCloseAllItemClick();
  // Tiles the shell windows of every shell (not minimised, kind not
  // kind_any) in tile_grid cells of the screen.
  void WindowTileItemClick();
  // Cascades every application window that is not minimised from the
  // screen's corner in steps of 16, each coordinate wrapping on its own.
  void WindowCascadeItemClick();
  // The window list dialog; activates the window chosen.
  void WindowsMoreWindowsClick();
  // The about box, modally.
  void HelpAboutItemClick();

  QMenu* WindowMenu = nullptr;
  QAction* WindowCloseItem = nullptr;
  QAction* WindowCloseAllItem = nullptr;
  QAction* WindowTileItem = nullptr;
  QAction* WindowCascadeItem = nullptr;
  QAction* WindowNextWindow = nullptr;
  QAction* WindowItems[10] = {};
  QAction* WindowsMoreWindows = nullptr;
  QMenu* HelpMenu = nullptr;
  QAction* HelpContentsItem = nullptr;
  QAction* HelpSearchItem = nullptr;
  QAction* HelpContextItem = nullptr;
  QAction* HelpAboutItem = nullptr;
  QAction* HelpWebsSiteItem = nullptr;

 protected:
  // FormClose: takes the window out of its shell's list and lets it be
  // freed. Derived windows that override closeEvent call this last.
  void closeEvent(QCloseEvent* e) override;
  void changeEvent(QEvent* e) override;

 private:
  bool modified_ = false;
  bool title_draw_mode_ = true;
  bool preview_ = false;
  std::string title_;
};

// Disables every child control of `c` (recursively) and turns its tooltips
// off.
void disable_controls(QWidget* c);

// A dialog with a framed bevel and OK (result 1, default) and Cancel
// (result 2) at the bottom.
class TOKBottomDlg : public QDialog {
 public:
  explicit TOKBottomDlg(QWidget* owner = nullptr);
  QPushButton* OKBtn = nullptr;
  QPushButton* CancelBtn = nullptr;
  // Escape and the close box answer as Cancel does: 2.
  void reject() override { done(2); }

 protected:
  // The area above the buttons where derived dialogs put their controls.
  QWidget* body() const { return body_; }

 private:
  QWidget* body_ = nullptr;
};

// The session manager's standard dialog: caption "APL", OK and Cancel on
// the right, a hidden Help button on the left.
class TAPLStdDialog : public TOKBottomDlg {
 public:
  explicit TAPLStdDialog(QWidget* owner = nullptr);
  QPushButton* HelpBtn = nullptr;
};

}  // namespace zema
