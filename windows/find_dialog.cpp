#include "windows/find_dialog.h"

#include <QApplication>
#include <QCheckBox>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QVBoxLayout>

#include <new>
#include <string>

#include "components/rich_edit.h"
#include "host/regex.h"
#include "platform/message_box.h"
#include "windows/shell_text.h"
#include "windows/text_search.h"

namespace zema {

TAPLFindDialog* APLFindDialog = nullptr;

TAPLFindDialog* find_dialog() {
  if (!APLFindDialog) APLFindDialog = new TAPLFindDialog(nullptr);
  return APLFindDialog;
}

TAPLFindDialog::TAPLFindDialog(QWidget* owner) : TAPLStdDialog(owner) {
  setObjectName("Find");
  setWindowTitle(QStringLiteral("Find"));
  setModal(false);
  resize(450, 192);
  setMinimumWidth(450);
  setMaximumWidth(600);
  auto* grid = new QGridLayout(body());
  grid->addWidget(new QLabel(QStringLiteral("Find:"), body()), 0, 0);
  EditFind = new QLineEdit(body());
  grid->addWidget(EditFind, 1, 0);
  LabelReplace = new QLabel(QStringLiteral("Replace by:"), body());
  grid->addWidget(LabelReplace, 2, 0);
  EditReplace = new QLineEdit(body());
  grid->addWidget(EditReplace, 3, 0);
  for (QLineEdit* e : {EditFind, EditReplace}) {
    e->setFont(apl_dialog_font());
    QObject::connect(e, &QLineEdit::textEdited, this, [this] { EditFindChange(); });
  }
  auto* checks = new QVBoxLayout;
  CheckBoxWholeWord = new QCheckBox(QStringLiteral("Match &whole words only "), body());
  CheckBoxCaseSensitive = new QCheckBox(QStringLiteral("&Case-sensitive search"), body());
  CheckBoxRegex = new QCheckBox(QStringLiteral("Regular Expression search"), body());
  for (QCheckBox* c : {CheckBoxWholeWord, CheckBoxCaseSensitive, CheckBoxRegex}) {
    checks->addWidget(c);
    QObject::connect(c, &QCheckBox::toggled, this, [this] { FormActivate(); });
  }
  grid->addLayout(checks, 4, 0);
  GroupBox1 = new QGroupBox(QStringLiteral("Direction "), body());
  auto* dir = new QVBoxLayout(GroupBox1);
  RadioButtonDown = new QRadioButton(QStringLiteral("Down"), GroupBox1);
  RadioButtonUp = new QRadioButton(QStringLiteral("Up"), GroupBox1);
  RadioButtonDown->setChecked(true);
  dir->addWidget(RadioButtonDown);
  dir->addWidget(RadioButtonUp);
  QObject::connect(RadioButtonDown, &QRadioButton::clicked, this, [this] { RadioButtonDownClick(); });
  QObject::connect(RadioButtonUp, &QRadioButton::clicked, this, [this] { RadioButtonUpClick(); });
  grid->addWidget(GroupBox1, 0, 1, 3, 1);
  GroupBoxWrap = new QGroupBox(QStringLiteral("At end of text "), body());
  auto* wrap = new QVBoxLayout(GroupBoxWrap);
  RadioButtonWrap = new QRadioButton(QStringLiteral("Wrap"), GroupBoxWrap);
  RadioButtonStop = new QRadioButton(QStringLiteral("Stop"), GroupBoxWrap);
  RadioButtonWrap->setChecked(true);
  wrap->addWidget(RadioButtonWrap);
  wrap->addWidget(RadioButtonStop);
  grid->addWidget(GroupBoxWrap, 3, 1, 2, 1);
  StaticStatus = new QLabel(QStringLiteral("Did not wrap"), body());
  StaticStatus->setEnabled(false);
  grid->addWidget(StaticStatus, 5, 0, 1, 2);

  OKBtn->setText(QStringLiteral("&Find"));
  OKBtn->disconnect(this);
  CancelBtn->disconnect(this);
  QObject::connect(OKBtn, &QPushButton::clicked, this, [this] { OKBtnClick(); });
  QObject::connect(CancelBtn, &QPushButton::clicked, this, [this] { CancelBtnClick(); });
  ReplaceBtn = new QPushButton(QStringLiteral("&Replace && find"), this);
  ReplaceAllBtn = new QPushButton(QStringLiteral("Replace &All"), this);
  if (auto* buttons = findChild<QHBoxLayout*>("buttons")) {
    const int at = buttons->indexOf(CancelBtn);
    buttons->insertWidget(at, ReplaceAllBtn);
    buttons->insertWidget(at, ReplaceBtn);
  }
  QObject::connect(ReplaceBtn, &QPushButton::clicked, this, [this] { ReplaceBtnClick(); });
  QObject::connect(ReplaceAllBtn, &QPushButton::clicked, this, [this] { ReplaceAllBtnClick(); });
  EditFind->setFocus();
  FormActivate();
}

TAPLFindDialog::~TAPLFindDialog() {
  regex_close_search(find_regex);
  if (APLFindDialog == this) APLFindDialog = nullptr;
}

std::string TAPLFindDialog::FindText() const { return unicode_to_font_text(EditFind->text()); }
std::string TAPLFindDialog::ReplaceText() const { return unicode_to_font_text(EditReplace->text()); }
void TAPLFindDialog::SetFindText(const std::string& text) {
  EditFind->setText(font_text_to_unicode(text));
  FormActivate();
}
bool TAPLFindDialog::Up() const { return RadioButtonUp->isChecked(); }
void TAPLFindDialog::SetDown() {
  RadioButtonDown->setChecked(true);
  RadioButtonDownClick();
}
bool TAPLFindDialog::CaseSensitive() const { return CheckBoxCaseSensitive->isChecked(); }
bool TAPLFindDialog::WholeWord() const { return CheckBoxWholeWord->isChecked(); }
bool TAPLFindDialog::Regex() const { return CheckBoxRegex->isChecked(); }
bool TAPLFindDialog::Wrap() const { return RadioButtonWrap->isChecked(); }

void TAPLFindDialog::SetStatus(const char* text, bool enabled) {
  StaticStatus->setText(QString::fromUtf8(text));
  StaticStatus->setEnabled(enabled);
}

void TAPLFindDialog::EditFindChange() {
  SetStatus("Did not wrap", false);
  FormActivate();
}

void TAPLFindDialog::OKBtnClick() {
  if (find_target) find_target->FindDialogFind();
}
void TAPLFindDialog::ReplaceBtnClick() {
  if (find_target) find_target->FindDialogReplace();
}
void TAPLFindDialog::ReplaceAllBtnClick() {
  if (find_target) find_target->FindDialogReplaceAll();
}
void TAPLFindDialog::CancelBtnClick() { hide(); }
void TAPLFindDialog::RadioButtonDownClick() { GroupBoxWrap->setTitle(QStringLiteral("At end of text ")); }
void TAPLFindDialog::RadioButtonUpClick() { GroupBoxWrap->setTitle(QStringLiteral("At start of text ")); }

void TAPLFindDialog::FormActivate() {
  const bool read_only = !find_target || find_target->Contents->ReadOnly();
  const std::string find = FindText();
  OKBtn->setEnabled(!find.empty() && find_target);
  ReplaceAllBtn->setEnabled(!find.empty() && !read_only);
  bool selection_matches = false;
  if (!find.empty() && !read_only) {
    MRichEdit* c = find_target->Contents;
    if (Regex()) {
      // A pattern never equals the text it matches: Replace replaces the
      // last match of the last Find, so the button follows that.
      selection_matches = SelectionIsLastMatch(find_regex, c->SelStart(), c->SelLength());
    } else {
      const std::string selected = c->SelText();
      selection_matches =
          TextEqualsPattern(selected.data(), static_cast<int>(selected.size()), find.c_str(), CaseSensitive());
    }
  }
  ReplaceBtn->setEnabled(selection_matches);
  LabelReplace->setEnabled(!read_only);
  EditReplace->setEnabled(!read_only);
}

void TAPLFindDialog::showEvent(QShowEvent* e) {
  TAPLStdDialog::showEvent(e);
  FormActivate();
}

void TAPLFindDialog::changeEvent(QEvent* e) {
  TAPLStdDialog::changeEvent(e);
  if (e->type() == QEvent::ActivationChange && isActiveWindow()) FormActivate();
}

// ---------------------------------------------------------------- the text window's side

namespace {

// Compiles the find text into the dialog's expression (the old one closed
// first); false, after the wrapper's message box, when it does not compile.
bool compile_find_text(TAPLFindDialog* d) {
  regex_close_search(d->find_regex);
  d->find_regex = nullptr;
  if (!d->Regex()) return true;
  std::string message;
  d->find_regex = regex_open_search(d->FindText().c_str(), regex_multiline | (d->CaseSensitive() ? 0u : regex_caseless),
                                    &message);
  if (!d->find_regex) {
    ShowMessageBox(message, "ZEMA Error", 16);
    return false;
  }
  return true;
}

}  // namespace

void TAPLShellText::EditFindItemClick() {
  TAPLFindDialog* d = find_dialog();
  d->find_target = this;
  if (d->parentWidget() != this) d->setParent(this, Qt::Dialog);
  d->show();
  d->raise();
  d->FormActivate();
}

void TAPLShellText::EditFindNextItemClick() {
  find_dialog()->find_target = this;
  FindDialogFind();
}

void TAPLShellText::EditFindSelectionItemClick() {
  if (Contents->SelLength() == 0) return;
  TAPLFindDialog* d = find_dialog();
  d->find_target = this;
  d->SetDown();
  d->SetFindText(Contents->SelText());
  FindDialogFind();
}

void TAPLShellText::EditReplaceItemClick() {
  find_dialog()->find_target = this;
  FindDialogReplace();
}

int TAPLShellText::SearchFor(const char* pattern, int start, bool up, bool case_sensitive, bool whole_word, bool wrap,
                             bool regex, int* match_length) {
  TAPLFindDialog* d = find_dialog();
  try {
    const char* text = Contents->GetPointerToText();
    std::string message;
    const SearchOptions o{up, case_sensitive, whole_word, wrap, regex};
    const int r = zema::SearchFor(text, Contents->GetTextLen(), pattern, start, o, d->find_regex, match_length, &message);
    if (r == -2 && !message.empty()) ShowMessageBox(message, "ZEMA Error", 16);
    return r;
  } catch (const std::bad_alloc&) {
    ShowMessageBox("Cannot complete search operation - out of memory", "ZEMA Error", 16);
    return -2;
  }
}

void TAPLShellText::FindDialogFind() {
  TAPLFindDialog* d = find_dialog();
  const std::string find = d->FindText();
  const SearchStart s = FindStartFor(Contents->SelStart(), Contents->SelLength(), Contents->GetTextLen(), d->Up(), d->Wrap(), d->Regex());
  if (!compile_find_text(d)) return;
  FindFrom(find, s.start, s.origin);
}

bool TAPLShellText::FindFrom(const std::string& find, int start, int origin) {
  TAPLFindDialog* d = find_dialog();
  int length = 0;
  const int r = SearchFor(find.c_str(), start, d->Up(), d->CaseSensitive(), d->WholeWord(), d->Wrap(), d->Regex(), &length);
  if (r < 0) {
    d->SetStatus("Search string not found", true);
    return false;
  }
  Contents->setFocus();
  Contents->SetSelectionRange(r, r + length);
  Contents->ShowCharPosition(r);
  const SearchStatus st = FindStatusFor(r, origin, d->Up());
  d->SetStatus(st.text, st.enabled);
  d->FormActivate();
  return true;
}

void TAPLShellText::FindDialogReplace() {
  TAPLFindDialog* d = find_dialog();
  const std::string find = d->FindText();
  int step = 1;
  const int start = Contents->SelStart();
  if (!find.empty() && !Contents->ReadOnly()) {
    if (d->Regex()) {
      std::string replacement;
      if (d->find_regex && SelectionIsLastMatch(d->find_regex, start, Contents->SelLength()) &&
          ExpandReplacement(d->find_regex, Contents->GetPointerToText(), d->ReplaceText().c_str(), &replacement)) {
        Contents->SetSelTextBuf(replacement.c_str());
        step = static_cast<int>(replacement.size());
      }
    } else {
      const std::string replacement = d->ReplaceText();
      const std::string selected = Contents->SelText();
      if (TextEqualsPattern(selected.data(), static_cast<int>(selected.size()), find.c_str(), d->CaseSensitive()))
        Contents->SetSelTextBuf(replacement.c_str());
      step = static_cast<int>(replacement.size());
    }
  }
  const SearchStart s = ReplaceNextStartFor(start, step, Contents->GetTextLen(), d->Up(), d->Wrap(), d->Regex());
  Contents->SetSelectionRange(Contents->SelStart(), Contents->SelStart());
  if (!FindFrom(find, s.start, s.origin)) {
    d->ReplaceBtn->setEnabled(false);
    d->ReplaceAllBtn->setEnabled(false);
  }
}

void TAPLShellText::FindDialogReplaceAll() {
  TAPLFindDialog* d = find_dialog();
  const std::string find = d->FindText();
  if (find.empty() || Contents->ReadOnly()) return;
  ReplaceAllStart st = ReplaceAllStartFor(Contents->SelStart(), Contents->SelLength(), d->Up(), d->Wrap(), d->Regex());
  QApplication::setOverrideCursor(Qt::WaitCursor);
  if (!compile_find_text(d)) {
    QApplication::restoreOverrideCursor();
    return;
  }
  const std::string plain = d->ReplaceText();
  const std::string templ = plain;
  int count = 0;
  const int old_sel_start = Contents->SelStart(), old_sel_length = Contents->SelLength();
  UndoInfo* const older = undo.undo_head;
  // Drawing waits until the last replacement: each one would repaint.
  const bool redraw = Contents->SetRedraw(false);
  int start = st.start;
  while (start >= 0) {
    int length = 0;
    const int r = SearchFor(find.c_str(), start, st.up, d->CaseSensitive(), d->WholeWord(), false, d->Regex(), &length);
    if (r < 0) break;
    std::string replacement;
    if (d->Regex()) {
      if (!ExpandReplacement(d->find_regex, Contents->GetPointerToText(), templ.c_str(), &replacement)) break;
    } else {
      replacement = plain;
    }
    Contents->SetSelectionRange(r, r + length);
    Contents->SetSelTextBuf(replacement.c_str());
    ++count;
    start = ReplaceAllNextStart(r, length, static_cast<int>(replacement.size()), Contents->GetTextLen(), st.up,
                                d->Regex());
  }
  // Each replacement selects its match first; undoing them all gives back
  // the selection the user had before Replace All.
  for (UndoInfo* u = undo.undo_head; u && u != older; u = u->next) {
    if (u->next == older) {
      u->sel_start = old_sel_start;
      u->sel_length = old_sel_length;
    }
  }
  Contents->SetRedraw(redraw);
  Contents->update();
  Contents->ShowCharPosition(Contents->SelStart());
  Contents->setFocus();
  d->SetStatus(ReplacedCountText(count).c_str(), true);
  QApplication::restoreOverrideCursor();
  d->ReplaceBtn->setEnabled(false);
  d->ReplaceAllBtn->setEnabled(false);
}

}  // namespace zema
