// The one find-and-replace dialog that serves every text window: the find
// text, the replacement, the options, a status line and the buttons Find,
// Replace & find, Replace All and Cancel. Its target is the text window
// activated last or whose Edit menu invoked it; the searching is done by
// that window (TAPLShellText::FindDialogFind and the rest). GUI thread only.
#pragma once

#include "windows/shell_window.h"

class QCheckBox;
class QGroupBox;
class QLabel;
class QLineEdit;
class QRadioButton;

namespace zema {

struct RegexSearch;
class TAPLShellText;

class TAPLFindDialog : public TAPLStdDialog {
 public:
  // Caption "Find", the two edits in the APL dialog font, focus on the find
  // text; direction Down, Wrap.
  explicit TAPLFindDialog(QWidget* owner = nullptr);
  ~TAPLFindDialog() override;

  // Editing either text: status "Did not wrap", disabled; the buttons
  // checked again.
  void EditFindChange();
  // The buttons: Find, Replace & find and Replace All of the target (none:
  // nothing); Cancel hides the dialog.
  void OKBtnClick();
  void ReplaceBtnClick();
  void ReplaceAllBtnClick();
  void CancelBtnClick();
  // Down / Up re-caption the wrap group "At end of text " / "At start of
  // text ".
  void RadioButtonDownClick();
  void RadioButtonUpClick();
  // The button check: Find needs a find text and a target; Replace All a
  // find text and a target that is not read-only; Replace & find also the
  // target's selection equal to the find text; "Replace by:" is disabled
  // for a read-only target (or none).
  void FormActivate();

  // The find text and replacement in display-font characters; the options.
  std::string FindText() const;
  std::string ReplaceText() const;
  void SetFindText(const std::string& text);
  bool Up() const;
  void SetDown();
  bool CaseSensitive() const;
  bool WholeWord() const;
  bool Regex() const;
  bool Wrap() const;
  // Sets the status line.
  void SetStatus(const char* text, bool enabled);

  TAPLShellText* find_target = nullptr;  // not owned
  RegexSearch* find_regex = nullptr;     // the last compiled expression, owned

  QLineEdit* EditFind = nullptr;
  QLineEdit* EditReplace = nullptr;
  QLabel* LabelReplace = nullptr;
  QCheckBox* CheckBoxWholeWord = nullptr;
  QCheckBox* CheckBoxCaseSensitive = nullptr;
  QCheckBox* CheckBoxRegex = nullptr;
  QGroupBox* GroupBox1 = nullptr;
  QRadioButton* RadioButtonDown = nullptr;
  QRadioButton* RadioButtonUp = nullptr;
  QGroupBox* GroupBoxWrap = nullptr;
  QRadioButton* RadioButtonWrap = nullptr;
  QRadioButton* RadioButtonStop = nullptr;
  QLabel* StaticStatus = nullptr;
  QPushButton* ReplaceBtn = nullptr;
  QPushButton* ReplaceAllBtn = nullptr;

 protected:
  void showEvent(QShowEvent* e) override;
  // Activation runs the button check: the target's selection may have
  // changed meanwhile.
  void changeEvent(QEvent* e) override;
};

// The shared find dialog (made at start-up, or on first use by a text
// window), or null.
extern TAPLFindDialog* APLFindDialog;
// The shared find dialog, made when there is none yet.
TAPLFindDialog* find_dialog();

}  // namespace zema
