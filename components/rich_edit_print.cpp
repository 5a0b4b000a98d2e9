// MRichEdit: pagination and printing through Qt's print support.
#include <QFontMetrics>
#include <QPainter>
#include <QPrinter>

#include <memory>

#include "components/rich_edit.h"

namespace zema {

namespace {

// Header and footer font.
QFont header_font() {
  QFont f("Helvetica");
  f.setPointSize(8);
  return f;
}

}  // namespace

// Heights of the pages in order, for the frame at its present (page) size.
static std::vector<int> page_heights(const MRichEdit& e, int frame_height, int top, int bottom, int lines) {
  std::vector<int> pages;
  int used = 0;
  for (int line = 0; line < lines; ++line) {
    const int h = e.GetLineHeight(line);
    if (used > 0 && top + used + h > frame_height - bottom) {
      pages.push_back(used);
      used = 0;
    }
    used += h;
  }
  pages.push_back(used);
  return pages;
}

void MRichEdit::CountPanels(int& across, int& down) const {
  across = 1;
  down = static_cast<int>(page_heights(*this, FrameHeight(), top_margin_, bottom_margin_, line_count_).size());
}

bool MRichEdit::ScrollToPanel(int across, int down) {
  const std::vector<int> pages = page_heights(*this, FrameHeight(), top_margin_, bottom_margin_, line_count_);
  if (down < 1 || down > static_cast<int>(pages.size())) return false;
  int sum = 0;
  for (int i = 0; i < down - 1; ++i) sum += pages[i];
  ScrollImageTo((across - 1) * FrameWidth(), sum, false);
  return true;
}

void MRichEdit::Print(const std::string& title, QPrinter* printer) {
  std::unique_ptr<QPrinter> own;
  if (printer == nullptr) {
    own = std::make_unique<QPrinter>();
    printer = own.get();
  }
  const bool was_suppressed = drawing_suppressed_;
  drawing_suppressed_ = true;
  const int ss = sel_start_, se = sel_end_, caret = caret_;
  sel_start_ = sel_end_ = 0;
  const int tm = top_margin_, lm = left_margin_, bm = bottom_margin_, rm = right_margin_;
  const int border = border_style_;
  border_style_ = 0;
  const SPoint32 offset = GetImageLocation();
  const QFont hf = header_font();
  const QFontMetrics hm(hf, printer);
  // The height of a line of the header font (not the ink of "|"): the title
  // is written that many lines above the text, so it must be the same measure.
  const int bar_height = hm.height();
  if (!title.empty()) top_margin_ += 2 * bar_height;
  if (page_numbers_) bottom_margin_ += 2 * bar_height;
  bottom_clip_ = true;
  const QRect page = printer->pageLayout().paintRectPixels(printer->resolution());
  const QRect paper = printer->pageLayout().fullRectPixels(printer->resolution());
  const int hmargin = page.left() - paper.left(), vmargin = page.top() - paper.top();
  top_margin_ = std::max(top_margin_, vmargin);
  bottom_margin_ = std::max(bottom_margin_, vmargin);
  left_margin_ = std::max(left_margin_, hmargin);
  right_margin_ = std::max(right_margin_, hmargin);
  printer->setDocName(QString::fromStdString(title));
  QPainter painter;
  const bool began = painter.begin(printer);
  canvas_ = printer;
  printing_ = true;
  print_width_ = page.width();
  print_height_ = page.height();
  RethinkFontMetrics();
  MeasureM();
  RecalculateText(false, 0);
  if (began) {
    int across, down;
    CountPanels(across, down);
    for (int d = 1; d <= down; ++d) {
      if (d > 1) printer->newPage();
      ScrollToPanel(1, d);
      DrawSelf(painter, QRect(0, 0, print_width_, print_height_));
      if (!title.empty() || page_numbers_) {
        painter.setFont(hf);
        painter.setPen(Qt::black);
        const int th = hm.height();
        if (!title.empty()) painter.drawText(left_margin_, top_margin_ - 2 * th + hm.ascent(), QString::fromStdString(title));
        if (page_numbers_)
          painter.drawText(left_margin_, print_height_ - bottom_margin_ + th + hm.ascent(), QString("Page %1").arg(d));
      }
    }
    painter.end();
  }
  canvas_ = nullptr;
  printing_ = false;
  bottom_clip_ = false;
  top_margin_ = tm;
  left_margin_ = lm;
  bottom_margin_ = bm;
  right_margin_ = rm;
  border_style_ = border;
  RethinkFontMetrics();
  MeasureM();
  RecalculateText(false, 0);
  image_v_ = offset.v;
  image_h_ = offset.h;
  sel_start_ = ss;
  sel_end_ = se;
  caret_ = caret;
  drawing_suppressed_ = was_suppressed;
  update();
}

}  // namespace zema
