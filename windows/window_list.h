// The window list dialog (Window ▸ More windows...) and the about box
// (Help ▸ About...). GUI thread only.
#pragma once

#include <QDialog>

#include <string>

#include "windows/shell_window.h"

class QLabel;
class QListWidget;

namespace zema {

class TAPLWindowListDialog : public TAPLStdDialog {
 public:
  // Caption "Window List", a list box in the APL dialog font above OK and
  // Cancel.
  explicit TAPLWindowListDialog(QWidget* owner = nullptr);
  // Fills the list with one line per application window of every shell,
  // in the order ActivateAppWindow counts them (a shell window's title, a
  // ⎕WI window's caption), and selects the first line.
  void Populate();
  // Populate, then run modally: the chosen line's index (OK or a
  // double-click), −1 otherwise.
  int Execute();
  QListWidget* WindowListBox = nullptr;
};

// The version line of the about box: "Version %d.%d.%d / %d.%2d %s" with the
// program's major, minor and release numbers, the interpreter level of the
// ⎕AI record ÷ 100 and its remainder, and an empty text.
std::string about_version_text();

class TAboutBox : public QDialog {
 public:
  // Caption "About ZEMA", dark blue, centred; the program's picture, the
  // name, the version line and a notice in yellow. Any click closes it.
  explicit TAboutBox(QWidget* owner = nullptr);
  QLabel* Label2 = nullptr;
  QLabel* LabelVersion = nullptr;
  QLabel* Label1 = nullptr;
  QLabel* ProgramIcon = nullptr;

 protected:
  void mousePressEvent(QMouseEvent* e) override;
  bool eventFilter(QObject* watched, QEvent* e) override;
};

}  // namespace zema
