// MRichEdit: published properties, SetFontForRange and plain text files.
#include <QMessageBox>

#include <cstdio>

#include "components/rich_edit.h"

namespace zema {

void MRichEdit::SetBorderStyle(int v) {
  if (v == border_style_) return;
  border_style_ = v;
  update();
}

void MRichEdit::SetColor(std::int32_t c) {
  if (c == background_) return;
  background_ = c;
  update();
}

void MRichEdit::SetHideSelection(bool b) {
  if (keep_selection_ == !b) return;
  keep_selection_ = !b;
  update();
}

void MRichEdit::SetHideScrollBars(bool b) {
  if (b == hide_vbar_) return;
  hide_vbar_ = hide_hbar_ = b;
  AdjustScrollBars();
}

void MRichEdit::SetScrollBars(int v) {
  hbar_wanted_ = v == 1 || v == 3;
  vbar_wanted_ = v == 2 || v == 3;
  AdjustScrollBars();
}

void MRichEdit::SetWordWrap(bool b) {
  if (b == WordWrap()) return;
  SetAttribute(attr_wrap, b);
  ScrollImageTo(0, 0, false);
  RecalculateText(false, 0);
  update();
}

void MRichEdit::SetText(const std::string& s) {
  update();
  SelectAll();
  InsertText(s.data(), static_cast<int>(s.size()), -1);
}

void MRichEdit::SetAlignment(int a) {
  for (ParagraphInfo& f : formats_) f.alignment = static_cast<std::int16_t>(a);
  RecalculateText(false, 0);
  RedrawTextRange(0, length(), true);
}

void MRichEdit::SetFontForRange(const QFont& font, std::int32_t colour, int start, int count) {
  const bool was = SetRedraw(false);
  SetTextFontName(start, count, font.family().toStdString());
  SetTextFontPointSize(start, count, font.pointSize());
  SetTextColour(start, count, colour);
  SetTextStyle(start, count,
               (font.bold() ? face_bold : 0) | (font.italic() ? face_italic : 0) |
                   (font.underline() ? face_underline : 0) | (font.strikeOut() ? face_strikeout : 0));
  SetRedraw(was);
  if (was) {
    update();
    ShowCharPosition(start + count);
  }
}

namespace {

void file_error(QWidget* parent, const char* text) {
  if (parent->isVisible()) QMessageBox::information(parent, QString(), QString::fromLatin1(text));
}

}  // namespace

bool MRichEdit::SaveTextToFile(const std::string& name) {
  std::FILE* f = std::fopen(name.c_str(), "wb");
  bool ok = f != nullptr;
  if (ok) {
    ok = std::fwrite(text_.data(), 1, static_cast<std::size_t>(length()), f) == static_cast<std::size_t>(length());
    ok = std::fclose(f) == 0 && ok;
  }
  if (!ok) file_error(this, "File I/O error saving text");
  return ok;
}

bool MRichEdit::InsertTextFromFile(const std::string& name) {
  std::FILE* f = std::fopen(name.c_str(), "r");
  bool ok = f != nullptr;
  const bool was = SetRedraw(false);
  if (ok) {
    char block[1024];
    std::size_t n;
    while ((n = std::fread(block, 1, sizeof block, f)) > 0) InsertText(block, static_cast<int>(n), -1);
    ok = !std::ferror(f);
    ok = std::fclose(f) == 0 && ok;
  }
  if (!ok) file_error(this, "File I/O error reading text");
  SetRedraw(was);
  update();
  return ok;
}

bool MRichEdit::LoadFromFile(const std::string& name) {
  Clear();
  return InsertTextFromFile(name);
}

}  // namespace zema
