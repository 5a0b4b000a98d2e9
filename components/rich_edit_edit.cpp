// MRichEdit: insertion and deletion, caret and selection, keys and mouse,
// the single-level undo record, style runs and the clipboard commands.
#include <QApplication>
#include <QClipboard>
#include <QKeyEvent>
#include <QMimeData>
#include <QMouseEvent>
#include <QTimer>

#include <algorithm>
#include <cstring>
#include <new>

#include "components/rich_edit.h"
#include "host/charset.h"

namespace zema {

// ---------------------------------------------------------------- text changes

void MRichEdit::InsertText(const char* text, int len, int style) {
  if (len < 0 || (len > 0 && text == nullptr)) return;
  if (style < 0 || style >= StyleCount()) style = typing_style_;
  bool allow = true;
  if (OnProtectChange) OnProtectChange(this, sel_start_, sel_end_, allow);
  if (!allow) return;
  const bool had_selection = sel_start_ != sel_end_;
  if (had_selection) DeleteText(sel_start_, sel_end_ - sel_start_, true);
  const int p = caret_;
  int n = len;
  for (int i = 0; i + 1 < len; ++i)
    if (text[i] == kCR && text[i + 1] == '\n') --n;
  if (n == 0) {
    if (had_selection) {
      if (OnChange) OnChange(this);
    }
    return;
  }
  // Past the length limit nothing is inserted; a replaced selection is gone
  // all the same, and that change is reported.
  if (max_length_ != 0 && length() + static_cast<long long>(n) > max_length_) {
    if (had_selection && OnChange) OnChange(this);
    return;
  }
  HideInsertionPoint();
  const bool at_end = p == length();
  const int old_lines = line_count_;
  const int para = CharToParagraphNum(p);
  int k = 0;
  try {
    if (text_.capacity() < length() + n + 1) text_.reserve(text_.capacity() + n + 10000);
    if (style_index_.capacity() < length() + n + 1) style_index_.reserve(style_index_.capacity() + n + 10000);
    std::string piece;
    piece.reserve(n);
    for (int i = 0; i < len; ++i) {
      const unsigned char c = static_cast<unsigned char>(text[i]);
      if (c == kCR || c == '\n') {
        piece.push_back(kCR);
        ++k;
        if (c == kCR && i + 1 < len && text[i + 1] == '\n') ++i;
      } else if (c < 0x20 && c != '\t') {
        piece.push_back(' ');
      } else {
        piece.push_back(static_cast<char>(c));
      }
    }
    // Room is reserved for both above, so neither insertion allocates.
    style_index_.insert(p, n, static_cast<std::uint16_t>(style));
    text_.insert(p, piece.data(), n);
  } catch (const std::bad_alloc&) {
    MBeep(1);
    if (had_selection && OnChange) OnChange(this);
    return;
  }
  modified_ = true;
  if (k > 0) {
    try {
      const std::uint16_t fmt = para_index_[std::clamp(para, 0, paragraph_count_)];
      para_index_.insert(para_index_.begin() + std::clamp(para, 0, paragraph_count_) + 1, k, fmt);
      paragraph_count_ += k;
    } catch (const std::bad_alloc&) {
      MBeep(1);
    }
  }
  if (para_mark_pos_ > p) {
    para_mark_pos_ += n;
    para_mark_num_ += k;
  }
  if (at_end)
    RecalculateText(true, p);
  else
    RelayoutEdit(p, 0, n);
  SetInsertionPoint(p + n, false);
  RepaintRange(p, old_lines);
  if (OnChange) OnChange(this);
}

void MRichEdit::RepaintRange(int p, int old_lines) {
  if (HasAttribute(attr_wrap)) {
    const int from = LineToChar(std::max(0, CharToLineNum(p) - 1));
    RedrawTextRange(from, length() - from, true);
  } else if (line_count_ == old_lines) {
    RedrawTextRange(p, std::max(0, CharToLineEnd(p) + 1 - p), false);
  } else {
    RedrawTextRange(p, length() - p, true);
  }
}

void MRichEdit::InsertString(const char* text, int style) {
  InsertText(text, text ? static_cast<int>(std::strlen(text)) : 0, style);
}

void MRichEdit::DeleteText(int start, int count, bool quiet) {
  if (start < 0 || start >= length()) return;
  count = std::min(count, length() - start);
  if (count <= 0) return;
  if (!quiet) {
    bool allow = true;
    if (OnProtectChange) OnProtectChange(this, start, start + count, allow);
    if (!allow) return;
  }
  HideInsertionPoint();
  const int k = text_.count(start, start + count, kCR);
  const int para = CharToParagraphNum(start);
  const bool inside = start != 0 && text_[start - 1] != kCR;
  const int old_lines = line_count_;
  text_.erase(start, count);
  style_index_.erase(start, count);
  modified_ = true;
  if (k > 0) {
    const int p = std::min(para + (inside ? 1 : 0), static_cast<int>(para_index_.size()));
    const int n = std::min(k, static_cast<int>(para_index_.size()) - p);
    para_index_.erase(para_index_.begin() + p, para_index_.begin() + p + n);
    paragraph_count_ -= k;
    if (para_index_.empty()) para_index_.push_back(0);
  }
  if (para_mark_pos_ >= start + count) {
    para_mark_pos_ -= count;
    para_mark_num_ -= k;
  } else if (para_mark_pos_ > start) {
    para_mark_pos_ = para_mark_num_ = 0;
  }
  // The selection follows the text (also while drawing), so that it never
  // reaches past the end.
  if (sel_start_ >= start + count) {
    sel_start_ -= count;
    sel_end_ -= count;
  } else if (sel_start_ >= start) {
    sel_end_ = std::max(sel_start_, sel_end_ - count);
  } else if (sel_end_ > start) {
    sel_end_ = start;
  }
  sel_end_ = std::min(sel_end_, length());
  sel_start_ = std::min(sel_start_, sel_end_);
  RelayoutEdit(start, count, 0);
  RepaintRange(start, old_lines);
  if (caret_ >= start + count) {
    SetInsertionPoint(caret_ - count, false);
  } else if (caret_ > start) {
    SetInsertionPoint(start, false);
  } else {
    ShowCharPosition(caret_);
  }
  if (!quiet && OnChange) OnChange(this);
}

void MRichEdit::Clear() {
  DeleteText(0, length(), false);
  if (typing_style_ != 0) styles_[0] = styles_[typing_style_];
  typing_style_ = 0;
  styles_.resize(1);
  char_widths_.clear();
}

void MRichEdit::SetTextBuf(const char* text) {
  DeleteText(0, length(), false);
  InsertString(text, typing_style_);
}

void MRichEdit::SetSelTextBuf(const char* text) {
  InsertString(text, sel_start_ == sel_end_ || caret_ >= length() ? typing_style_ : style_index_[caret_]);
}

int MRichEdit::GetTextBuf(char* buffer, int size) const { return GetTextRange(0, size, buffer); }

int MRichEdit::GetSelTextBuf(char* buffer, int size) const {
  if (size < 1) return 0;
  const int n = std::min(sel_end_ - sel_start_, size - 1);
  text_.copy_out(sel_start_, n, buffer);
  buffer[n] = 0;
  return n;
}

void MRichEdit::InsertAt(int pos, const char* text) {
  const int s = sel_start_, e = sel_end_, c = caret_;
  SetSelectionRange(pos, pos);
  SetSelTextBuf(text);
  sel_start_ = std::min(s, length());
  sel_end_ = std::min(e, length());
  caret_ = std::min(c, length());
}

void MRichEdit::AddLine(const char* text) {
  SetInsertionPoint(length(), false);
  if (length() > 0 && text_.back() != kCR) SetSelTextBuf("\r");
  SetSelTextBuf(text);
}

void MRichEdit::AppendLine(const char* text) {
  SetInsertionPoint(length(), false);
  SetSelTextBuf("\r");
  SetSelTextBuf(text);
}

void MRichEdit::DeleteLine(int line) {
  if (line >= 0 && line < line_count_) DeleteText(line_starts_[line], line_starts_[line + 1] - line_starts_[line], false);
}

// ---------------------------------------------------------------- caret and selection

void MRichEdit::SetInsertionPoint(int pos, bool take_style) {
  HideInsertionPoint();
  pos = std::clamp(pos, 0, length());
  const int os = sel_start_, oe = sel_end_;
  sel_start_ = sel_end_ = pos;
  if (os != oe) RedrawTextRange(os, oe - os, false);
  caret_ = pos;
  if (take_style && length() > 0) {
    if ((pos == 0 || text_[pos - 1] == kCR) && pos < length())
      typing_style_ = style_index_[pos];
    else if (pos > 0)
      typing_style_ = style_index_[pos - 1];
  }
  if (!relayout_suppressed_) CalculateIdealInsertionColumn();
  if (OnSelectionChange) OnSelectionChange(this);
}

int MRichEdit::ColumnAt(int pos) const {
  const int ls = CharToLineStart(pos);
  int col = 0;
  for (int i = ls; i < pos && i < length(); ++i) col = text_[i] == '\t' ? ((col + tab_stop_) / tab_stop_) * tab_stop_ : col + 1;
  return col;
}

void MRichEdit::CalculateIdealInsertionColumn() { ideal_column_ = ColumnAt(caret_); }

int MRichEdit::PosAtColumn(int line, int column) const {
  if (line >= line_count_) return length();
  int i = line_starts_[line];
  const int last = line_starts_[line] + LineLength(line);
  int col = 0;
  while (col < column && i < last) {
    col = text_[i] == '\t' ? ((col + tab_stop_) / tab_stop_) * tab_stop_ : col + 1;
    ++i;
  }
  return i;
}

void MRichEdit::GetSelectionRange(int& start, int& end) const {
  start = sel_start_;
  end = sel_end_;
}

void MRichEdit::SetSelectionRange(int start, int end) {
  start = std::clamp(start, 0, length());
  end = std::clamp(end, start, length());
  HideInsertionPoint();
  const int os = sel_start_, oe = sel_end_;
  sel_start_ = start;
  sel_end_ = end;
  // The caret is one end of the selection (the anchor); a caret elsewhere
  // goes to its start.
  if (caret_ != start && caret_ != end) caret_ = start;
  if (HasAttribute(attr_selectable) && !drawing_suppressed_) {
    if (start < oe && os < end) {
      if (os != start) RedrawTextRange(std::min(os, start), std::abs(os - start), false);
      if (oe != end) RedrawTextRange(std::min(oe, end), std::abs(oe - end), false);
    } else {
      RedrawTextRange(os, oe - os, false);
      RedrawTextRange(start, end - start, false);
    }
  }
  if (start == end) {
    SetInsertionPoint(start, false);
    return;
  }
  if ((os != start || oe != end) && OnSelectionChange) OnSelectionChange(this);
}

// ---------------------------------------------------------------- keys

namespace {

// Whether the control itself handles the key (a shortcut of the same key
// must not take it away).
bool WantsKey(const QKeyEvent& e, bool want_returns, bool want_tabs) {
  const int key = e.key();
  const bool arrow = key == Qt::Key_Left || key == Qt::Key_Right || key == Qt::Key_Up || key == Qt::Key_Down;
  if (e.modifiers() & Qt::ControlModifier) return arrow;
  switch (key) {
    case Qt::Key_Backspace:
    case Qt::Key_Delete:
    case Qt::Key_Home:
    case Qt::Key_End:
    case Qt::Key_PageUp:
    case Qt::Key_PageDown:
      return true;
    case Qt::Key_Return:
    case Qt::Key_Enter:
      return want_returns;
    case Qt::Key_Tab:
      return want_tabs;
    default:
      break;
  }
  if (arrow) return true;
  const QString t = e.text();
  return !t.isEmpty() && t.at(0).unicode() >= 0x20 && t.at(0).unicode() != 0x7F;
}

}  // namespace

bool MRichEdit::event(QEvent* e) {
  if (e->type() == QEvent::ShortcutOverride) {
    auto* k = static_cast<QKeyEvent*>(e);
    if (WantsKey(*k, want_returns, want_tabs)) {
      k->accept();
      return true;
    }
    k->ignore();
    return false;
  }
  switch (e->type()) {
    case QEvent::KeyPress:
    case QEvent::InputMethod:
    case QEvent::MouseButtonPress:
    case QEvent::MouseButtonDblClick:
    case QEvent::MouseMove: {
      // What the user does shows at once, past the paint interval.
      const bool outer = paint_now_;
      paint_now_ = true;
      struct Restore {
        bool& flag;
        bool was;
        ~Restore() { flag = was; }
      } restore{paint_now_, outer};
      return QWidget::event(e);
    }
    default:
      return QWidget::event(e);
  }
}

void MRichEdit::keyPressEvent(QKeyEvent* e) {
  const bool shift = e->modifiers() & Qt::ShiftModifier;
  const bool ctrl = e->modifiers() & Qt::ControlModifier;
  const bool alt = e->modifiers() & Qt::AltModifier;
  const int key = e->key();
  switch (key) {
    case Qt::Key_Backspace:
      DeleteLeftKeyPressed();
      return;
    case Qt::Key_Delete:
      DeleteRightKeyPressed();
      return;
    case Qt::Key_Home:
    case Qt::Key_End:
    case Qt::Key_Left:
    case Qt::Key_Right:
    case Qt::Key_Up:
    case Qt::Key_Down:
    case Qt::Key_PageUp:
    case Qt::Key_PageDown:
      if (alt) return;
      if (key == Qt::Key_Home)
        ctrl ? CursorKeyPressed(key, shift, false, false, true) : CursorKeyPressed(Qt::Key_Left, shift, true, false, true);
      else if (key == Qt::Key_End)
        ctrl ? CursorKeyPressed(key, shift, false, false, true) : CursorKeyPressed(Qt::Key_Right, shift, true, false, true);
      else if (key == Qt::Key_Left || key == Qt::Key_Right)
        CursorKeyPressed(key, shift, false, ctrl, true);
      else if (!ctrl)
        CursorKeyPressed(key, shift, false, false, true);
      return;
    default:
      break;
  }
  if (ctrl) {  // shortcuts belong to the window
    e->ignore();
    return;
  }
  const QString t = e->text();
  if (key == Qt::Key_Return || key == Qt::Key_Enter) {
    InputKeyPressed(kCR);
    return;
  }
  if (key == Qt::Key_Tab) {
    InputKeyPressed('\t');
    return;
  }
  for (const QChar q : t) {
    const char16_t u = q.unicode();
    if (u == 3) {
      DeleteLeftKeyPressed();
      continue;
    }
    if (u < 0x20 && u != '\t' && u != kCR) continue;
    if (u == 0x7F) continue;
    const unsigned char c = u < 0x80 ? static_cast<unsigned char>(u) : fontout(convert_from_unicode(u));
    InputKeyPressed(static_cast<char>(c));
  }
}

void MRichEdit::InputKeyPressed(char c) {
  if (!isEnabled() || !HasAttribute(attr_editable)) return;
  if (sel_start_ == sel_end_ && caret_ == undo_start_ + undo_typed_ && undo_enabled_) {
    ++undo_typed_;
  } else {
    SaveUndoInfo();
    undo_typed_ = 1;
  }
  InsertText(&c, 1, typing_style_);
  ShowCharPosition(caret_);
}

void MRichEdit::DeleteLeftKeyPressed() {
  if (!isEnabled() || !HasAttribute(attr_editable)) return;
  if (sel_start_ != sel_end_) {
    SaveUndoInfo();
    DeleteText(sel_start_, sel_end_ - sel_start_, false);
    return;
  }
  if (caret_ == 0) return;
  if (caret_ != undo_start_ + undo_typed_) SaveUndoInfo();
  ExtendUndoInfo(true);
  DeleteText(caret_ - 1, 1, false);
  ShowCharPosition(caret_);
}

void MRichEdit::DeleteRightKeyPressed() {
  if (!isEnabled() || !HasAttribute(attr_editable)) return;
  if (sel_start_ != sel_end_) {
    SaveUndoInfo();
    DeleteText(sel_start_, sel_end_ - sel_start_, false);
    return;
  }
  if (caret_ >= length()) return;
  if (caret_ != undo_start_ + undo_typed_) SaveUndoInfo();
  ExtendUndoInfo(false);
  DeleteText(caret_, 1, false);
}

void MRichEdit::MoveOrExtend(int target, bool extend, int moving) {
  target = std::clamp(target, 0, length());
  if (extend) {
    const int anchor = moving == sel_start_ ? sel_end_ : sel_start_;
    const int keep_caret = caret_;
    SetSelectionRange(std::min(anchor, target), std::max(anchor, target));
    caret_ = sel_start_ == sel_end_ ? sel_start_ : keep_caret;
    ShowCharPosition(target);
  } else {
    SetInsertionPoint(target, true);
    ShowCharPosition(target);
  }
}

void MRichEdit::CursorKeyPressed(int key, bool extend, bool to_boundary, bool by_word, bool move_caret) {
  extend = extend && HasAttribute(attr_selectable);
  const bool has_sel = sel_start_ != sel_end_;
  const int moving = extend && has_sel ? (caret_ == sel_start_ ? sel_end_ : sel_start_) : caret_;
  if (!extend && has_sel && key != Qt::Key_Home && key != Qt::Key_End && key != Qt::Key_PageUp && key != Qt::Key_PageDown) {
    SetInsertionPoint(caret_, true);
    ShowCharPosition(caret_);
    return;
  }
  const int len = length();
  auto blank = [&](int i) { return text_[i] == ' ' || text_[i] == '\t' || text_[i] == kCR; };
  int target = moving;
  const int keep_ideal = ideal_column_;
  bool vertical = false;
  switch (key) {
    case Qt::Key_Left:
      if (to_boundary) {
        target = CharToLineStart(moving);
      } else if (by_word) {
        int s, e;
        FindWord(moving, s, e);
        if (s == moving || moving == len) {
          target = moving;
          while (target > 0 && blank(target - 1)) --target;
          FindWord(std::max(0, target - 1), s, e);
          target = target > 0 ? s : 0;
        } else {
          target = s;
        }
      } else {
        target = std::max(0, moving - 1);
      }
      break;
    case Qt::Key_Right:
      if (to_boundary) {
        const int line = CharToLineNum(moving);
        target = LineToChar(line) + LineLength(line);
      } else if (by_word) {
        int s, e;
        FindWord(std::max(0, moving - 1), s, e);
        if (e <= moving) {
          target = moving;
          while (target < len && blank(target)) ++target;
          FindWord(target, s, e);
          target = e;
        } else {
          target = e;
        }
      } else {
        target = std::min(len, moving + 1);
      }
      break;
    case Qt::Key_Up:
      if (extend && moving == 0) return;
      if (to_boundary) {
        target = 0;
      } else if (by_word) {
        int p = moving;
        if (p > 0 && text_[p - 1] == kCR) --p;
        while (p > 0 && text_[p - 1] != kCR) --p;
        target = p;
      } else {
        const int line = CharToLineNum(moving);
        target = line == 0 ? PosAtColumn(0, 0) : PosAtColumn(line - 1, ideal_column_);
        vertical = true;
      }
      break;
    case Qt::Key_Down:
      if (extend && moving == len) return;
      if (to_boundary) {
        target = len;
      } else if (by_word) {
        int p = moving;
        if (p < len && text_[p] == kCR) ++p;
        while (p < len && text_[p] != kCR) ++p;
        target = p;
      } else {
        const int line = CharToLineNum(moving);
        target = line + 1 >= line_count_ ? len : PosAtColumn(line + 1, ideal_column_);
        vertical = true;
      }
      break;
    case Qt::Key_Home:
    case Qt::Key_End: {
      const int pos = key == Qt::Key_Home ? 0 : len;
      ShowCharPosition(pos);
      if (move_caret) MoveOrExtend(pos, extend, moving);
      if (sel_start_ == sel_end_ && !caret_shown_) ToggleInsertionPoint();
      return;
    }
    case Qt::Key_PageUp:
    case Qt::Key_PageDown: {
      const int fl = GetFirstVisibleLine(), ll = GetLastVisibleLine();
      const bool many = ll - fl + 1 > 3;
      int line = key == Qt::Key_PageUp ? std::max(0, 2 * fl - ll + (many ? 2 : 0))
                                       : std::min(line_count_, 2 * ll - fl - (many ? 2 : 0));
      const int pos = LineToChar(line);
      ShowCharPosition(pos);
      if (move_caret) MoveOrExtend(pos, extend, moving);
      if (sel_start_ == sel_end_ && !caret_shown_) ToggleInsertionPoint();
      return;
    }
    default:
      return;
  }
  MoveOrExtend(target, extend, moving);
  if (vertical) ideal_column_ = keep_ideal;
  if (sel_start_ == sel_end_ && !caret_shown_) ToggleInsertionPoint();
}

// ---------------------------------------------------------------- mouse

void MRichEdit::mousePressEvent(QMouseEvent* e) {
  if (e->button() != Qt::LeftButton) return;
  const bool extend = e->modifiers() & Qt::ShiftModifier;
  dragging_ = true;
  grabMouse();
  MouseClicked(1, CharFromPoint(e->position().toPoint().x(), e->position().toPoint().y()), extend);
  last_drag_ = caret_;
}

void MRichEdit::mouseDoubleClickEvent(QMouseEvent* e) {
  if (e->button() != Qt::LeftButton) return;
  if (dragging_) {
    dragging_ = false;
    releaseMouse();
  }
  MouseClicked(2, CharFromPoint(e->position().toPoint().x(), e->position().toPoint().y()),
               e->modifiers() & Qt::ShiftModifier);
}

void MRichEdit::mouseMoveEvent(QMouseEvent* e) {
  if (!dragging_) return;
  if (QWidget::mouseGrabber() == this) {
    MouseStillDown({static_cast<int>(e->position().y()) - image_v_, static_cast<int>(e->position().x()) - image_h_},
                   last_drag_);
  } else {
    dragging_ = false;
    releaseMouse();
  }
}

void MRichEdit::mouseReleaseEvent(QMouseEvent*) {
  dragging_ = false;
  releaseMouse();
}

void MRichEdit::MouseClicked(int clicks, int pos, bool extend) {
  if (!isEnabled() || !HasAttribute(attr_selectable)) return;
  setFocus();
  if (clicks == 1) {
    if (extend) {
      if (pos < sel_start_)
        SetSelectionRange(pos, sel_end_);
      else
        SetSelectionRange(sel_start_, pos);
      ShowCharPosition(pos);
    } else {
      SetInsertionPoint(pos, true);
    }
  } else if (clicks == 2) {
    int s, e;
    FindWord(pos, s, e);
    SetSelectionRange(std::min(s, sel_start_), std::max(e, sel_end_));
  } else {
    const int line = CharToLineNum(pos);
    SetSelectionRange(LineToChar(line), LineToChar(line + 1));
  }
}

void MRichEdit::MouseStillDown(SPoint32 point, int& last) {
  if (!HasAttribute(attr_selectable)) return;
  int pos = 0;
  FindCharContainingPoint({point.v, point.h + 3}, pos);
  if (pos == last) return;
  last = pos;
  ShowCharPosition(pos);
  const int c = caret_;
  SetSelectionRange(std::min(pos, c), std::max(pos, c));
  caret_ = c;
}

void MRichEdit::focusInEvent(QFocusEvent*) {
  if (!keep_selection_) HilightSelection(true);
}

void MRichEdit::focusOutEvent(QFocusEvent*) {
  HideInsertionPoint();
  if (!keep_selection_) HilightSelection(false);
}

// ---------------------------------------------------------------- undo

void MRichEdit::SaveUndoInfo() {
  if (!undo_enabled_) return;
  undo_saved_.clear();
  undo_styles_.clear();
  undo_start_ = sel_start_;
  undo_saved_length_ = sel_end_ - sel_start_;
  undo_typed_ = 0;
  if (undo_saved_length_ > 0) {
    undo_saved_ = text_.substr(sel_start_, sel_start_ + undo_saved_length_);
    if (styled_paste_) undo_styles_ = MakeScrapHandle(sel_start_, undo_saved_length_);
  }
}

void MRichEdit::ExtendUndoInfo(bool backward) {
  if (!undo_enabled_) return;
  if ((!backward && caret_ >= length()) || (backward && caret_ == 0)) return;
  if ((!backward && caret_ < undo_start_ + undo_typed_ && caret_ >= undo_start_) ||
      (backward && caret_ > undo_start_ && undo_typed_ > 0 && caret_ <= undo_start_ + undo_typed_)) {
    --undo_typed_;
    return;
  }
  const int d = backward ? caret_ - 1 : caret_;
  const char c = text_[d];
  if (undo_saved_length_ == 0) {
    SaveUndoInfo();
    undo_saved_.assign(1, c);
    undo_start_ = d;
    undo_saved_length_ = 1;
    undo_styles_ = MakeScrapHandle(d, 1);
    return;
  }
  StScrpRec one = MakeScrapHandle(d, 1);
  if (backward) {
    undo_saved_.insert(undo_saved_.begin(), c);
    --undo_start_;
  } else {
    undo_saved_.push_back(c);
  }
  ++undo_saved_length_;
  if (!undo_styles_.empty() && !one.empty()) {
    ScrapRun run = one[0];
    auto same = [&](const ScrapRun& r) {
      return r.font_number == run.font_number && r.face == run.face && r.point_size == run.point_size &&
             r.drawing_colour == run.drawing_colour;
    };
    if (backward) {
      if (same(undo_styles_.front())) {
        for (std::size_t i = 1; i < undo_styles_.size(); ++i) ++undo_styles_[i].start;
      } else {
        for (ScrapRun& r : undo_styles_) ++r.start;
        run.start = 0;
        undo_styles_.insert(undo_styles_.begin(), run);
      }
    } else if (!same(undo_styles_.back())) {
      run.start = undo_saved_length_ - 1;
      undo_styles_.push_back(run);
    }
  }
}

void MRichEdit::ApplyUndoInfo() {
  if (undo_typed_ == 0 && undo_saved_length_ == 0) return;
  SetInsertionPoint(undo_start_, true);
  if (undo_typed_ > 0) DeleteText(undo_start_, undo_typed_, false);
  if (undo_saved_length_ > 0 && !undo_saved_.empty()) {
    SetInsertionPoint(undo_start_, false);
    const std::string saved = undo_saved_;
    const StScrpRec runs = undo_styles_;
    InsertText(saved.data(), static_cast<int>(saved.size()), typing_style_);
    if (!runs.empty()) ApplyTextStyleFromScrap(runs, undo_start_, static_cast<int>(saved.size()));
    SetSelectionRange(undo_start_, undo_start_ + static_cast<int>(saved.size()));
  }
  ShowCharPosition(caret_);
  undo_typed_ = 0;
  undo_saved_length_ = 0;
}

// ---------------------------------------------------------------- style runs and clipboard

StScrpRec MRichEdit::MakeScrapHandle(int start, int count) const {
  start = std::max(0, start);
  count = std::min(count, length() - start);
  StScrpRec runs;
  if (count <= 0) return runs;
  for (int i = start; i < start + count; ++i) {
    if (i != start && style_index_[i] == style_index_[i - 1]) continue;
    const TextStyleEntry& s = styles_[style_index_[i]];
    ScrapRun r;
    r.start = i - start;
    r.line_height = static_cast<std::int16_t>(GetLineHeight(CharToLineNum(i)));
    r.ascent = s.metrics.ascent;
    r.font_number = static_cast<std::int16_t>(s.font_number);
    r.face = s.face;
    r.point_size = static_cast<std::int16_t>(s.point_size);
    r.drawing_colour = s.drawing_colour;
    runs.push_back(r);
  }
  return runs;
}

void MRichEdit::ApplyTextStyleFromScrap(const StScrpRec& runs, int start, int count) {
  if (runs.empty() || count <= 0) return;
  start = std::clamp(start, 0, length());
  count = std::min(count, length() - start);
  for (std::size_t r = 0; r < runs.size(); ++r) {
    const int from = start + runs[r].start;
    const int to = r + 1 < runs.size() ? start + runs[r + 1].start : start + count;
    const int idx = GetStyleIndex(runs[r].font_number, runs[r].point_size, runs[r].face, runs[r].drawing_colour);
    for (int i = std::max(from, start); i < std::min(to, start + count); ++i) style_index_[i] = static_cast<std::uint16_t>(idx);
    if (caret_ > from && caret_ - 1 < to) typing_style_ = idx;
  }
  RecalculateText(false, 0);
  if (!drawing_suppressed_) update();
}

namespace {

// The clipboard format of the control's own copies: its font-code bytes as
// they are, so that a paste into a control gives back exactly what was
// copied, characters without a Unicode counterpart included.
constexpr char kFontTextFormat[] = "application/x-zema-font-text";

}  // namespace

// Font-code text as other programs read it: each character through the
// internal set to Unicode; paragraph ends become line feeds, tabs stay.
QString font_text_to_unicode(const std::string& bytes) {
  QString s;
  s.reserve(static_cast<qsizetype>(bytes.size()));
  for (const char ch : bytes) {
    const auto c = static_cast<unsigned char>(ch);
    if (c == static_cast<unsigned char>(kCR)) s.append(QChar('\n'));
    else if (c == '\t') s.append(QChar('\t'));
    else s.append(QChar(convert_to_unicode(fontin(c))));
  }
  return s;
}

// Unicode text of another program as font codes: each character to the
// internal set (a look-alike, else '?') and out to the font; line ends and
// other control characters are left for InsertText to take.
std::string unicode_to_font_text(const QString& text) {
  std::string bytes;
  bytes.reserve(static_cast<std::size_t>(text.size()));
  for (const char32_t u : text.toUcs4()) {
    if (u < 0x20) bytes.push_back(static_cast<char>(u));
    else bytes.push_back(static_cast<char>(fontout(convert_from_unicode(u))));
  }
  return bytes;
}

bool MRichEdit::ObeyCommand(int command) {
  const bool can_edit = isEnabled() && HasAttribute(attr_editable);
  const bool has_sel = sel_start_ != sel_end_;
  auto put = [&] {
    std::string bytes;
    for (int i = sel_start_; i < sel_end_; ++i) bytes.push_back(text_[i]);
    auto* data = new QMimeData;
    data->setText(font_text_to_unicode(bytes));
    data->setData(kFontTextFormat, QByteArray(bytes.data(), static_cast<qsizetype>(bytes.size())));
    QApplication::clipboard()->setMimeData(data);  // the clipboard owns it
  };
  switch (command) {
    case 0:
      if (can_edit && has_sel) {
        SaveUndoInfo();
        put();
        DeleteText(sel_start_, sel_end_ - sel_start_, false);
      }
      return true;
    case 1:
      if (has_sel) put();
      return true;
    case 2:
      if (can_edit && has_sel) {
        SaveUndoInfo();
        DeleteText(sel_start_, sel_end_ - sel_start_, false);
      }
      return true;
    case 3: {
      const QMimeData* data = QApplication::clipboard()->mimeData();
      if (!can_edit || data == nullptr || !data->hasFormat("text/plain")) return true;
      SaveUndoInfo();
      std::string bytes;
      if (data->hasFormat(kFontTextFormat)) {
        const QByteArray own = data->data(kFontTextFormat);
        bytes.assign(own.constData(), static_cast<std::size_t>(own.size()));
      } else {
        bytes = unicode_to_font_text(data->text());
      }
      const int before = length() - (sel_end_ - sel_start_);
      InsertText(bytes.data(), static_cast<int>(bytes.size()), typing_style_);
      if (undo_enabled_) undo_typed_ = length() - before;
      ShowCharPosition(caret_);
      return true;
    }
    case 4:
      SetSelectionRange(0, length());
      return true;
    case 5:
      if (!undo_enabled_) return false;
      if (can_edit) ApplyUndoInfo();
      return true;
    default:
      return true;
  }
}

}  // namespace zema
