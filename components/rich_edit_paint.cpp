// MRichEdit: painting, the caret, scrolling and the scroll bars.
//
// Painting happens only in paintEvent (and while printing, on the printer):
// RedrawTextRange and the caret ask Qt to repaint rectangles, at once or,
// under a paint interval, gathered until the interval ends. The caret is a
// state drawn by every paint while caret_shown_ is set.
#include <QApplication>
#include <QElapsedTimer>
#include <QFontMetrics>
#include <QPaintEvent>
#include <QPainter>
#include <QRegion>
#include <QScrollBar>
#include <QTimer>

#include <algorithm>

#include "components/print_font.h"
#include "components/rich_edit.h"
#include "host/charset.h"

namespace zema {

namespace {

QColor qcolour(std::int32_t c) { return QColor(c & 0xFF, (c >> 8) & 0xFF, (c >> 16) & 0xFF); }
QChar display_char(unsigned char c) { return QChar(convert_to_unicode(fontin(c))); }

constexpr std::int32_t kDisabledText = 0xC0C0C0;
constexpr std::int32_t kSelectionBack = 0x000000, kSelectionText = 0xFFFFFF;

}  // namespace

void MRichEdit::CalcFrameRect32(SRect32& r) const {
  r.top = -image_v_;
  r.left = -image_h_;
  r.bottom = r.top + FrameHeight() - (!printing_ && hbar_->isVisible() ? bar_thickness_ : 0);
  r.right = r.left + FrameWidth() - (!printing_ && vbar_->isVisible() ? bar_thickness_ : 0);
}

bool MRichEdit::ImagePointIsInFrame(int h, int v) const {
  const int x = h + image_h_, y = v + image_v_;
  return x >= 0 && y >= 0 && x < FrameWidth() && y < FrameHeight();
}

void MRichEdit::ResizeImageTo(int w, int h, bool) {
  image_width_ = w;
  image_height_ = h;
}

void MRichEdit::ResizeFrameTo(int w, int h, bool) {
  resize(std::max(0, w), std::max(0, h));
  FrameSizeChanged(true);
}

void MRichEdit::resizeEvent(QResizeEvent*) {
  const int t = bar_thickness_;
  vbar_->setGeometry(width() - t, 0, t, std::max(0, height() - (hbar_->isVisible() ? t : 0)));
  if (hbar_->parentWidget() == this) hbar_->setGeometry(0, height() - t, std::max(0, width() - (vbar_->isVisible() ? t : 0)), t);
  FrameSizeChanged(true);
}

void MRichEdit::ScrollImageBy(int dh, int dv, bool redraw) {
  if (dh == 0 && dv == 0) return;
  image_h_ -= dh;
  image_v_ -= dv;
  if (redraw) AskRepaint();
  if (OnScroll) OnScroll(this);
}

void MRichEdit::ScrollImageTo(int h, int v, bool redraw) { ScrollImageBy(h + image_h_, v + image_v_, redraw); }

void MRichEdit::ShowCharPosition(int pos) {
  if (drawing_suppressed_) return;
  SRect32 r;
  GetCharRectangle(std::clamp(pos, 0, length()), r);
  if (pos > length()) {
    const int h = GetLineHeight(line_count_ - 1);
    r.top += h;
    r.bottom += h;
  }
  SRect32 f;
  CalcFrameRect32(f);
  int dh = 0, dv = 0;
  if (r.left < f.left + left_margin_)
    dh = r.left - (f.left + left_margin_);
  else if (r.right > f.right - right_margin_)
    dh = r.right - (f.right - right_margin_);
  if (r.top < f.top + top_margin_) {
    dv = r.top - (f.top + top_margin_);
  } else if (r.bottom > f.bottom - bottom_margin_) {
    dv = r.bottom - (f.bottom - bottom_margin_);
    if (r.top - dv < f.top + top_margin_) dv = 0;
  }
  if (dh != 0 || dv != 0) {
    HideInsertionPoint();
    ScrollImageBy(dh, dv, true);
    AdjustScrollBars();
  }
}

void MRichEdit::ScrollBy(int lines) {
  if (lines < 0) ShowCharPosition(LineToChar(std::max(0, GetFirstVisibleLine() + lines)));
  if (lines > 0) ShowCharPosition(LineToChar(std::min(line_count_, GetLastVisibleLine() + lines)));
}

void MRichEdit::AdjustScrollBars() {
  struct Bar {
    QScrollBar* bar;
    bool wanted, hide;
    int offset, extent, client, small;
  };
  const Bar bars[] = {
      {vbar_, vbar_wanted_, hide_vbar_, image_v_, image_height_, height(), GetLineHeight(-1)},
      {hbar_, hbar_wanted_, hide_hbar_, image_h_, image_width_, width(), width_m_},
  };
  const bool defer = PaintDeferred();
  for (const Bar& b : bars) {
    if (!b.bar) continue;
    if (!b.wanted) {
      b.bar->hide();
      continue;
    }
    const int scrolled = -b.offset;
    int range = std::abs(b.offset);
    const int excess = b.extent + b.offset - b.client;
    if (excess > 0) range = scrolled < 0 ? std::max(range, excess) : range + excess;
    const int maximum = std::max(range, 0), position = std::max(scrolled, 0);
    if (defer && b.bar->isVisible() && b.bar->isEnabled() && (maximum != 0 || position != 0)) {
      // The bar stays as it is shown until the gathered repaint.
      deferred_bars_ = true;
      continue;
    }
    const QSignalBlocker block(b.bar);
    if (maximum == 0 && position == 0) {
      if (b.hide) {
        b.bar->hide();
      } else {
        b.bar->setEnabled(false);
        b.bar->show();
      }
      continue;
    }
    b.bar->setEnabled(true);
    b.bar->setRange(0, maximum);
    b.bar->setValue(position);
    b.bar->setSingleStep(std::max(1, b.small));
    b.bar->setPageStep(std::max(1, b.client));
    b.bar->show();
  }
}

void MRichEdit::SetHorizScrollbar(QScrollBar* bar) {
  if (bar != hbar_) delete hbar_;  // the bar already in use is kept, not freed
  if (bar) disconnect(bar, &QScrollBar::valueChanged, this, nullptr);
  hbar_ = bar;
  if (hbar_ && hbar_wanted_)
    connect(hbar_, &QScrollBar::valueChanged, this, [this](int h) { ScrollImageTo(h, -image_v_, true); });
  AdjustScrollBars();
}

bool MRichEdit::IsActive() const {
  const QWidget* w = window();
  return w == this || w->isActiveWindow();
}

bool MRichEdit::IsTarget() const { return hasFocus() && IsActive(); }

// ---------------------------------------------------------------- caret

QRect MRichEdit::CaretRect() const {
  SRect32 r;
  int x, top, h;
  if (caret_ == 0) {
    GetCharRectangle(0, r);
    x = r.left;
    top = r.top;
    h = r.bottom - r.top;
  } else if (text_[caret_ - 1] == kCR) {
    GetCharRectangle(caret_ - 1, r);
    const int line = CharToLineNum(caret_);
    x = line_positions_[line] + left_margin_;
    top = r.bottom;
    h = GetLineHeight(line);
  } else {
    GetCharRectangle(caret_ - 1, r);
    x = r.right - 1;
    top = r.top;
    h = r.bottom - r.top;
  }
  return QRect(x + image_h_, top + image_v_, 1, h);
}

void MRichEdit::ToggleInsertionPoint() {
  if (!HasAttribute(attr_editable)) return;
  if (!caret_shown_ && (!IsTarget() || !isEnabled() || drawing_suppressed_ || printing_)) return;
  const QRect r = CaretRect();
  SRect32 f;
  CalcFrameRect32(f);
  const int top = r.top() - image_v_, bottom = r.bottom() - image_v_;
  if (!(top >= f.top && top < f.bottom) && !(bottom >= f.top && bottom < f.bottom)) {
    caret_shown_ = false;
    return;
  }
  caret_shown_ = !caret_shown_;
  AskRepaint(r);
}

void MRichEdit::HideInsertionPoint() {
  if (caret_shown_) ToggleInsertionPoint();
  if (caret_shown_) AskRepaint(CaretRect());
  caret_shown_ = false;
}

void MRichEdit::InsertTimerTimeout() {
  if (!dragging_) {
    caret_timer_->setInterval(500);
    if (sel_start_ == sel_end_) ToggleInsertionPoint();
    return;
  }
  if (QWidget::mouseGrabber() == this) {
    const QPoint p = mapFromGlobal(QCursor::pos());
    MouseStillDown({p.y() - image_v_, p.x() - image_h_}, last_drag_);
    caret_timer_->setInterval(100);
  } else {
    dragging_ = false;
    releaseMouse();
  }
}

// ---------------------------------------------------------------- repainting

void MRichEdit::RedrawTextRange(int start, int count, bool to_end) {
  if (start < 0 || count < 0 || drawing_suppressed_ || !isVisible()) return;
  const int len = length();
  if (start >= len && count == 0) count = 1;
  start = std::min(start, len);
  if (start > 0 && start < len) {
    --start;
    ++count;
  }
  // An empty range at offset 0 covers no character to look at: it stands
  // for the first one.
  if (count == 0) count = 1;
  else if (start + count - 1 < len - 1 && text_[start + count - 1] != kCR) ++count;
  const int last = std::min(start + count - 1, len);
  SRect32 r1, r2, f;
  GetCharRectangle(start, r1);
  GetCharRectangle(last, r2);
  CalcFrameRect32(f);
  const int line1 = CharToLineNum(start);
  if (r1.left == LineStartX(std::min(line1, line_count_))) r1.left = f.left;
  if (caret_ == len && (len == 0 || text_[len - 1] == kCR) && ParaAt(len).numbering == 1) to_end = true;
  if (to_end) {
    r2 = {r1.bottom, f.left, f.bottom, f.right};
  } else if (last == len || text_[last] == kCR) {
    r2.right = f.right;
  }
  r1.top = std::max(r1.top, f.top);
  r2.bottom = std::min(r2.bottom, f.bottom);
  HideInsertionPoint();
  QRect clip;
  if (!to_end && CharToLineNum(last) == line1)
    clip = QRect(QPoint(r1.left + image_h_, r1.top + image_v_), QPoint(r2.right + image_h_, r1.bottom + image_v_));
  else
    clip = QRect(QPoint(f.left + image_h_, r1.top + image_v_), QPoint(f.right + image_h_, r2.bottom + image_v_));
  AskRepaint(clip.normalized().adjusted(-1, -1, 1, 1));
}

void MRichEdit::SetPaintInterval(int ms) {
  paint_interval_ = std::max(0, ms);
  if (paint_interval_ == 0 && PaintDeferred()) {
    paint_timer_->stop();
    ShowDeferredPaint();
  }
}

bool MRichEdit::PaintDeferred() const { return paint_timer_ && paint_timer_->isActive(); }

void MRichEdit::AskRepaint() { AskRepaint(rect()); }

void MRichEdit::AskRepaint(const QRect& r) {
  if (paint_now_ && PaintDeferred()) {
    paint_timer_->stop();
    ShowDeferredPaint();
  } else if (paint_interval_ > 0 && !paint_now_ && !printing_ && isVisible()) {
    const std::int64_t since = last_paint_ms_ < 0 ? paint_interval_ : paint_clock_->elapsed() - last_paint_ms_;
    if (PaintDeferred()) {
      *deferred_paint_ += r;
      return;
    }
    if (since < paint_interval_) {
      *deferred_paint_ += r;
      paint_timer_->start(static_cast<int>(paint_interval_ - since));
      return;
    }
  }
  update(r);
}

void MRichEdit::ShowDeferredPaint() {
  if (!deferred_paint_->isEmpty()) update(*deferred_paint_);
  *deferred_paint_ = QRegion();
  if (deferred_bars_) {
    deferred_bars_ = false;
    AdjustScrollBars();
  }
}

void MRichEdit::HilightSelection(bool) { RedrawTextRange(sel_start_, sel_end_ - sel_start_, sel_end_ == length()); }

void MRichEdit::HilightCharRange(bool, int start, int end) {
  if (!HasAttribute(attr_selectable) || start >= end) return;
  int first, last;
  GetVisibleRange(first, last);
  start = std::max(start, first);
  end = std::min(end, last + 1);
  if (start < end) RedrawTextRange(start, end - start, false);
}

// ---------------------------------------------------------------- painting

void MRichEdit::paintEvent(QPaintEvent* e) {
  if (drawing_suppressed_) return;
  last_paint_ms_ = paint_clock_->elapsed();
  if (first_paint_pending_) {
    first_paint_pending_ = false;
    RethinkFontMetrics();
    RecalculateText(false, 0);
  }
  QPainter p(this);
  DrawSelf(p, e->rect());
}

void MRichEdit::DrawSelf(QPainter& p, const QRect& clip_in) {
  p.save();
  const bool border = border_style_ != 0 && !printing_;
  QRect area(0, 0, FrameWidth(), FrameHeight());
  if (border) area.adjust(1, 1, -1, -1);
  if (printing_) area = QRect(QPoint(left_margin_, top_margin_), QPoint(FrameWidth() - right_margin_ - 1, FrameHeight() - bottom_margin_ - 1));
  const QRect clip = clip_in.intersected(area);
  p.setClipRect(clip);
  SRect32 f;
  CalcFrameRect32(f);
  const int frame_right = f.right + image_h_;  // control coordinates
  const QColor bg = qcolour(background_);
  if (!printing_) p.fillRect(clip, bg);
  const int clip_top = clip.top() - image_v_, clip_bottom = clip.bottom() + 1 - image_v_;
  int line = 0, top = top_margin_;
  if (uniform_font_) {
    line = std::max(0, (clip_top - top_margin_) / std::max(1, GetLineHeight(-1)));
    top = LineTop(line);
  } else {
    while (line < line_count_ && top + GetLineHeight(line) < clip_top) top += GetLineHeight(line++);
  }
  const int left_edge = border ? 1 : 0;
  const int first_line = line;
  int para = line < line_count_ ? CharToParagraphNum(line_starts_[line]) : 0;
  for (; line < line_count_ && top < clip_bottom; ++line) {
    const int lh = GetLineHeight(line);
    if (printing_ && bottom_clip_ && top + lh > f.bottom - bottom_margin_) break;
    const int ls = line_starts_[line], le = ls + LineLength(line);
    int x = LineStartX(line) + image_h_;
    int col = LineStartColumn(line);
    const int y = top + image_v_;
    int ascent = 0;
    if (uniform_font_) {
      ascent = styles_[typing_style_].metrics.ascent;
    } else {
      for (int i = ls; i < line_starts_[line + 1]; ++i) ascent = std::max<int>(ascent, styles_[style_index_[i]].metrics.ascent);
    }
    if (!printing_) p.fillRect(QRect(left_edge, y, std::max(0, x - left_edge), lh), bg);
    if (line != first_line && LineBeginsParagraph(line)) ++para;
    if (LineBeginsParagraph(line)) {
      const ParagraphInfo* fmt = FormatOfParagraph(para);
      if (fmt && fmt->numbering == 1) DrawBullet(p, ls, x, y, lh, ascent);
    }
    int i = ls;
    while (i < le) {
      const bool selected = i >= sel_start_ && i < sel_end_ && HasAttribute(attr_selectable) &&
                            (!keep_selection_ || true);
      const int row = style_index_[i];
      std::int32_t fg = isEnabled() ? styles_[row].drawing_colour : kDisabledText;
      std::int32_t back = background_;
      if (selected) {
        fg = kSelectionText;
        back = kSelectionBack;
      }
      int j = i + 1;
      int w;
      if (text_[i] == '\t') {
        const int next = ((col + tab_stop_) / tab_stop_) * tab_stop_;
        w = MeasureTextWidth(i, 1, col);
        p.fillRect(QRect(x, y, w, lh), qcolour(back));
        col = next;
      } else {
        while (j < le && text_[j] != '\t' && style_index_[j] == row && !(j == sel_start_ && j > i) &&
               !(j == sel_end_ && j > i))
          ++j;
        w = MeasureTextWidth(i, j - i, col);
        DrawRun(p, i, j - i, x, y, lh, ascent, fg, back);
        col += j - i;
      }
      x += w;
      i = j;
      if (x >= frame_right) break;
    }
    if (x < frame_right && !printing_) {
      const bool sel_end_line = le < length() && le >= sel_start_ && le < sel_end_ && HasAttribute(attr_selectable);
      p.fillRect(QRect(x, y, frame_right - x, lh), sel_end_line ? qcolour(kSelectionBack) : bg);
    }
    top += lh;
  }
  const int len = length();
  if (caret_ == len && (len == 0 || text_[len - 1] == kCR) && ParaAt(len).numbering == 1) {
    SRect32 r;
    GetCharRectangle(len, r);
    const int lh = GetLineHeight(-1);
    DrawBullet(p, len, line_positions_[line_count_] + left_margin_ + image_h_, (len == 0 ? top_margin_ : r.top) + image_v_,
               lh, styles_[typing_style_].metrics.ascent);
  }
  if (!printing_ && caret_shown_ && sel_start_ == sel_end_) {
    const QRect c = CaretRect();
    p.setClipRect(clip.intersected(QRect(0, 0, frame_right, f.bottom + image_v_)));
    p.fillRect(c, Qt::black);
  }
  if (border) {
    p.setClipping(false);
    p.setPen(Qt::black);
    p.setBrush(Qt::NoBrush);
    p.drawRect(0, 0, width() - 1, height() - 1);
  }
  p.restore();
}

void MRichEdit::DrawRun(QPainter& p, int start, int count, int x, int line_top, int line_height, int line_ascent,
                        std::int32_t fg, std::int32_t bg) {
  const int row = style_index_[start];
  const FontInfo& m = styles_[row].metrics;
  const int baseline = line_top + line_ascent;
  const int w = MeasureTextWidth(start, count, 0);
  if (!printing_) p.fillRect(QRect(x, line_top, w, line_height), qcolour(bg));
  p.setFont(FontOfRow(row));
  p.setPen(qcolour(fg));
  (void)m;
  if (printing_ && fixed_width_) {
    // Characters the print font lacks: the base character, then the
    // overstrike moved back over it.
    int cx = x;
    for (int i = start; i < start + count; ++i) {
      std::uint8_t base, over;
      translate_to_print_font(static_cast<unsigned char>(text_[i]), base, over);
      p.drawText(cx, baseline, QString(display_char(base)));
      const int bw = CharWidth(row, base);
      if (over) p.drawText(cx, baseline, QString(display_char(over)));
      cx += bw;
    }
    return;
  }
  if (monospace_ || fixed_width_) {
    // Each character in its cell, so that text and measurement agree.
    const int cw = monospace_ ? width_m_ : CharWidth(row, 'M');
    if (monospace_ && !fixed_width_) {
      QString s;
      s.reserve(count);
      for (int i = start; i < start + count; ++i) s.append(display_char(static_cast<unsigned char>(text_[i])));
      p.drawText(x, baseline, s);
      return;
    }
    for (int i = 0; i < count; ++i)
      p.drawText(x + i * cw, baseline, QString(display_char(static_cast<unsigned char>(text_[start + i]))));
    return;
  }
  int cx = x;
  for (int i = start; i < start + count; ++i) {
    const unsigned char c = static_cast<unsigned char>(text_[i]);
    p.drawText(cx, baseline, QString(display_char(c)));
    cx += CharWidth(row, c);
  }
}

void MRichEdit::DrawBullet(QPainter& p, int pos, int x, int y, int line_height, int line_ascent) {
  const int row = pos >= 0 && pos < length() ? style_index_[pos] : typing_style_;
  QFont f = FontOfRow(row);
  int size = std::max(1, styles_[row].point_size);
  while (size > 10 && QFontMetrics(f).horizontalAdvance('*') >= 15) {
    size -= 10;
    f.setPointSize(size);
  }
  if (!printing_) p.fillRect(QRect(x - 15, y, 15, line_height), qcolour(background_));
  p.setFont(f);
  p.setPen(qcolour(styles_[row].drawing_colour));
  p.drawText(x - 15, y + line_ascent, QStringLiteral("*"));
}

}  // namespace zema
