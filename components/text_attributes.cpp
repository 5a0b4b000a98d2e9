#include "components/text_attributes.h"

#include "components/rich_edit.h"

namespace zema {

namespace {

void selection(const MRichEdit* e, int& start, int& count) {
  int s, t;
  e->GetSelectionRange(s, t);
  start = s;
  count = t - s;
}

}  // namespace

int MTextAttributes::Ref() const {
  int s, e;
  owner_->GetSelectionRange(s, e);
  return s != e ? e - 1 : owner_->Caret();
}

std::int32_t MTextAttributes::Color() const { return owner_->GetTextColour(Ref()); }
std::string MTextAttributes::Name() const { return owner_->GetTextFontName(Ref()); }
int MTextAttributes::Size() const { return owner_->GetTextFontPointSize(Ref()); }
int MTextAttributes::Style() const { return owner_->GetTextStyle(Ref()); }

void MTextAttributes::SetColor(std::int32_t c) {
  int s, n;
  selection(owner_, s, n);
  owner_->SetTextColour(s, n, c);
}
void MTextAttributes::SetName(const std::string& name) {
  int s, n;
  selection(owner_, s, n);
  owner_->SetTextFontName(s, n, name);
}
void MTextAttributes::SetSize(int size) {
  int s, n;
  selection(owner_, s, n);
  owner_->SetTextFontPointSize(s, n, size);
}
void MTextAttributes::SetStyle(int face) {
  int s, n;
  selection(owner_, s, n);
  owner_->SetTextStyle(s, n, face);
}

void MTextAttributes::Assign(const QFont& font, std::int32_t colour) {
  int s, n;
  selection(owner_, s, n);
  owner_->SetFontForRange(font, colour, s, n);
}

void MTextAttributes::AssignTo(QFont& font) const {
  const int r = Ref();
  font.setFamily(QString::fromStdString(owner_->GetTextFontName(r)));
  font.setPointSize(std::max(1, owner_->GetTextFontPointSize(r)));
  const int face = owner_->GetTextStyle(r);
  font.setBold(face & face_bold);
  font.setItalic(face & face_italic);
  font.setUnderline(face & face_underline);
  font.setStrikeOut(face & face_strikeout);
}

int MParaAttributes::Ref() const {
  int s, e;
  owner_->GetSelectionRange(s, e);
  return s != e ? e - 1 : owner_->Caret();
}

int MParaAttributes::Alignment() const { return owner_->GetParagraphAlignment(Ref()); }
int MParaAttributes::FirstIndent() const { return owner_->GetParagraphFirstIndent(Ref()); }
int MParaAttributes::LeftIndent() const { return owner_->GetParagraphLeftIndent(Ref()); }
int MParaAttributes::RightIndent() const { return owner_->GetParagraphRightIndent(Ref()); }
int MParaAttributes::Numbering() const { return owner_->GetParagraphNumberingStyle(Ref()); }

void MParaAttributes::SetAlignment(int v) {
  int s, n;
  selection(owner_, s, n);
  owner_->SetParagraphAlignment(s, n, v);
}
void MParaAttributes::SetFirstIndent(int v) {
  int s, n;
  selection(owner_, s, n);
  owner_->SetParagraphFirstIndent(s, n, v);
}
void MParaAttributes::SetLeftIndent(int v) {
  int s, n;
  selection(owner_, s, n);
  owner_->SetParagraphLeftIndent(s, n, v);
}
void MParaAttributes::SetRightIndent(int v) {
  int s, n;
  selection(owner_, s, n);
  owner_->SetParagraphRightIndent(s, n, v);
}
void MParaAttributes::SetNumbering(int v) {
  int s, n;
  selection(owner_, s, n);
  owner_->SetParagraphNumberingStyle(s, n, v);
}

}  // namespace zema
