// MRichEdit: construction, the style and paragraph tables, and layout.
#include "components/rich_edit.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QFont>
#include <QFontDatabase>
#include <QFontMetrics>
#include <QRegion>
#include <QScrollBar>
#include <QTimer>

#include <algorithm>
#include <cctype>
#include <cstring>
#include <new>
#include <utility>

#include "components/text_attributes.h"
#include "host/charset.h"

namespace zema {

namespace {

// The font-name list: (name, number) pairs, numbers handed out from 0.
std::vector<std::pair<std::string, int>>& font_names() {
  static std::vector<std::pair<std::string, int>> names;
  return names;
}
int next_font_number = 0;

QChar display_char(unsigned char c) { return QChar(convert_to_unicode(fontin(c))); }

}  // namespace

QString MRichEdit::AplFontFamily() {
  static const QString family = QFontDatabase::hasFamily("ZEMA Upright") ? QString("ZEMA Upright")
                                                                         : QString("DejaVu Sans Mono");
  return family;
}

int MRichEdit::FontNameToNumber(const std::string& name) {
  for (const auto& [n, number] : font_names())
    if (n == name) return number;
  try {
    font_names().emplace_back(name, next_font_number);
  } catch (const std::bad_alloc&) {
    return 0;
  }
  return next_font_number++;
}

std::string MRichEdit::FontNumberToName(int number) {
  for (const auto& [n, num] : font_names())
    if (num == number) return n;
  return {};
}

MRichEdit::MRichEdit(QWidget* parent) : QWidget(parent) {
  QFont f(AplFontFamily());
  f.setPointSize(10);
  setFont(f);
  text_.reserve(1000);
  style_index_.reserve(1000);
  formats_.reserve(10);
  formats_.push_back(ParagraphInfo{});
  para_index_.assign(1, 0);
  line_starts_.assign(10, 0);
  line_positions_.assign(10, 0);
  line_widths_.assign(10, 0);
  styles_.reserve(50);
  TextStyleEntry row0;
  row0.font_number = FontNameToNumber(f.family().toStdString());
  row0.point_size = f.pointSize();
  row0.face = static_cast<std::int16_t>((f.bold() ? face_bold : 0) | (f.italic() ? face_italic : 0) |
                                        (f.underline() ? face_underline : 0) |
                                        (f.strikeOut() ? face_strikeout : 0));
  row0.colour = row0.drawing_colour = 0;
  GetFontMetrics(f, &row0.metrics);
  styles_.push_back(row0);
  MeasureM();
  hbar_ = new QScrollBar(Qt::Horizontal, this);
  vbar_ = new QScrollBar(Qt::Vertical, this);
  for (QScrollBar* bar : {hbar_, vbar_}) {
    bar->setFocusPolicy(Qt::NoFocus);
    bar->hide();
  }
  bar_thickness_ = vbar_->sizeHint().width();
  connect(vbar_, &QScrollBar::valueChanged, this, [this](int v) { ScrollImageTo(-image_h_, v, true); });
  connect(hbar_, &QScrollBar::valueChanged, this, [this](int h) { ScrollImageTo(h, -image_v_, true); });
  setFocusPolicy(Qt::StrongFocus);
  setAttribute(Qt::WA_OpaquePaintEvent);
  setAttribute(Qt::WA_InputMethodEnabled);
  setCursor(Qt::IBeamCursor);
  sel_attributes_ = std::make_unique<MTextAttributes>(this);
  para_attributes_ = std::make_unique<MParaAttributes>(this);
  caret_timer_ = new QTimer(this);
  caret_timer_->setInterval(500);
  connect(caret_timer_, &QTimer::timeout, this, [this] { InsertTimerTimeout(); });
  caret_timer_->start();
  paint_clock_ = std::make_unique<QElapsedTimer>();
  paint_clock_->start();
  deferred_paint_ = std::make_unique<QRegion>();
  paint_timer_ = new QTimer(this);
  paint_timer_->setSingleShot(true);
  connect(paint_timer_, &QTimer::timeout, this, [this] { ShowDeferredPaint(); });
}

MRichEdit::~MRichEdit() = default;

void MRichEdit::MBeep(int) {
  ++beep_count;
  QApplication::beep();
}

// ---------------------------------------------------------------- styles

QFont MRichEdit::FontOfRow(int row) const {
  const TextStyleEntry& s = styles_[row < StyleCount() ? row : 0];
  QFont f;
  f.setFamilies({QString::fromStdString(FontNumberToName(s.font_number)), AplFontFamily()});
  f.setPointSize(std::max(1, s.point_size));
  f.setBold(s.face & face_bold);
  f.setItalic(s.face & face_italic);
  f.setUnderline(s.face & face_underline);
  return f;
}

void MRichEdit::GetFontMetrics(const QFont& font, FontInfo* info) const {
  const QFontMetrics m = canvas_ ? QFontMetrics(font, canvas_) : QFontMetrics(font);
  info->ascent = static_cast<std::int16_t>(m.ascent());
  info->descent = static_cast<std::int16_t>(m.descent());
  info->leading = static_cast<std::int16_t>(m.lineSpacing() - (m.ascent() + m.descent()));
}

void MRichEdit::MeasureM() {
  const int row = typing_style_ < StyleCount() ? typing_style_ : 0;
  width_m_ = std::max(1, CharWidth(row, 'M'));
  monospace_ = CharWidth(row, '|') == width_m_;
}

int MRichEdit::CharWidth(int row, unsigned char c) const {
  if (row >= StyleCount()) row = 0;
  if (char_widths_.size() < styles_.size()) char_widths_.resize(styles_.size());
  std::vector<std::int16_t>& w = char_widths_[row];
  if (w.empty()) {
    const QFont f = FontOfRow(row);
    const QFontMetrics m = canvas_ ? QFontMetrics(f, canvas_) : QFontMetrics(f);
    w.resize(256);
    for (int i = 0; i < 256; ++i) w[i] = static_cast<std::int16_t>(m.horizontalAdvance(display_char(static_cast<unsigned char>(i))));
  }
  return w[c];
}

void MRichEdit::RethinkFontMetrics() {
  char_widths_.clear();
  for (int i = 0; i < StyleCount(); ++i) GetFontMetrics(FontOfRow(i), &styles_[i].metrics);
  const int keep = typing_style_;
  typing_style_ = StyleCount() - 1;
  width_m_ = std::max(1, CharWidth(typing_style_, 'M'));
  typing_style_ = keep;
}

int MRichEdit::GetStyleIndex(int font_number, int size, int face, std::int32_t colour) {
  for (int i = 0; i < StyleCount(); ++i) {
    const TextStyleEntry& s = styles_[i];
    if (s.font_number == font_number && s.point_size == size && s.face == face && s.colour == colour) return i;
  }
  if (StyleCount() >= 0xFFFF) {
    MBeep(1);
    return 0;
  }
  try {
    if (styles_.size() == styles_.capacity()) styles_.reserve(styles_.capacity() + 50);
    TextStyleEntry row;
    row.colour = row.drawing_colour = colour;
    row.font_number = font_number;
    row.point_size = size;
    row.face = static_cast<std::int16_t>(face);
    styles_.push_back(row);
  } catch (const std::bad_alloc&) {
    MBeep(1);
    return 0;
  }
  GetFontMetrics(FontOfRow(StyleCount() - 1), &styles_.back().metrics);
  return StyleCount() - 1;
}

int MRichEdit::GetParagraphStyleIndex(const ParagraphInfo& info) {
  for (int i = 0; i < FormatCount(); ++i)
    if (formats_[i] == info) return i;
  if (FormatCount() >= 0xFFFF) {
    MBeep(1);
    return 0;
  }
  try {
    if (formats_.size() == formats_.capacity()) formats_.reserve(formats_.capacity() + 10);
    formats_.push_back(info);
  } catch (const std::bad_alloc&) {
    MBeep(1);
    return 0;
  }
  return FormatCount() - 1;
}

void MRichEdit::NormaliseRange(int& start, int& count) const {
  if (start < 0) start = 0;
  if (start > length()) start = length();
  if (count < 0 || count > length() - start) count = length() - start;
}

std::int32_t MRichEdit::GetTextColour(int pos) const {
  return styles_[pos >= 0 && pos < length() ? style_index_[pos] : typing_style_].colour;
}
int MRichEdit::GetTextFontNumber(int pos) const {
  return styles_[pos >= 0 && pos < length() ? style_index_[pos] : typing_style_].font_number;
}
std::string MRichEdit::GetTextFontName(int pos) const { return FontNumberToName(GetTextFontNumber(pos)); }
int MRichEdit::GetTextFontPointSize(int pos) const {
  return styles_[pos >= 0 && pos < length() ? style_index_[pos] : typing_style_].point_size;
}
int MRichEdit::GetTextStyle(int pos) const {
  return styles_[pos >= 0 && pos < length() ? style_index_[pos] : typing_style_].face;
}

// Gives characters start..start+count-1 (count 0: the typing style) the style
// row that make(row) describes wherever same(row) is false. Answers whether a
// character changed.
template <class Same, class Make>
bool MRichEdit::ChangeCharacters(int start, int count, Same same, Make make) {
  if (count == 0) {
    const TextStyleEntry row = styles_[typing_style_];
    if (!same(row)) {
      const TextStyleEntry n = make(row);
      typing_style_ = GetStyleIndex(n.font_number, n.point_size, n.face, n.colour);
    }
    return false;
  }
  bool changed = false;
  int last_old = -1, last_new = -1;
  for (int i = start; i < start + count; ++i) {
    const int old = style_index_[i];
    if (same(styles_[old])) continue;
    if (old != last_old) {
      const TextStyleEntry n = make(styles_[old]);
      last_old = old;
      last_new = GetStyleIndex(n.font_number, n.point_size, n.face, n.colour);
    }
    style_index_[i] = static_cast<std::uint16_t>(last_new);
    changed = true;
  }
  if (caret_ > start && caret_ - 1 < start + count) typing_style_ = style_index_[caret_ - 1];
  return changed;
}

void MRichEdit::SetTextColour(int start, int count, std::int32_t colour) {
  NormaliseRange(start, count);
  const bool changed = ChangeCharacters(
      start, count, [&](const TextStyleEntry& r) { return r.colour == colour; },
      [&](TextStyleEntry r) {
        r.colour = colour;
        return r;
      });
  if (changed) RedrawTextRange(start, count, false);
}

void MRichEdit::AfterFontChange(int given_start, int given_count, int start, int count, bool changed) {
  const bool whole = given_start == 0 && given_count == length();
  if (whole) {
    char_widths_.clear();
    MeasureM();
    uniform_font_ = true;
    if (caret_ == 0 || caret_ - 1 >= start + count) {
      if (length() > 0) {
        TextStyleEntry& t = styles_[typing_style_];
        const TextStyleEntry& c0 = styles_[style_index_[0]];
        if (typing_style_ != style_index_[0]) {
          typing_style_ = GetStyleIndex(t.font_number, c0.point_size, t.face, t.colour);
          styles_[typing_style_].metrics = c0.metrics;
        }
      }
    }
  } else {
    monospace_ = false;
    uniform_font_ = false;
  }
  if (changed) {
    RecalculateText(false, 0);
    const int from = CharToLineStart(start);
    RedrawTextRange(from, length() - from, true);
  }
}

void MRichEdit::SetTextFontNumber(int start, int count, int number) {
  const int gs = start, gc = count;
  NormaliseRange(start, count);
  const bool changed = ChangeCharacters(
      start, count, [&](const TextStyleEntry& r) { return r.font_number == number; },
      [&](TextStyleEntry r) {
        r.font_number = number;
        return r;
      });
  AfterFontChange(gs, gc, start, count, changed);
}

void MRichEdit::SetTextFontName(int start, int count, const std::string& name) {
  SetTextFontNumber(start, count, FontNameToNumber(name));
}

void MRichEdit::SetTextFontPointSize(int start, int count, int size) {
  const int gs = start, gc = count;
  NormaliseRange(start, count);
  const bool changed = ChangeCharacters(
      start, count, [&](const TextStyleEntry& r) { return r.point_size == size; },
      [&](TextStyleEntry r) {
        r.point_size = size;
        return r;
      });
  AfterFontChange(gs, gc, start, count, changed);
}

void MRichEdit::SetTextStyle(int start, int count, int face) {
  if (!(start == 0 && count == length())) monospace_ = false;
  NormaliseRange(start, count);
  const bool changed = ChangeCharacters(
      start, count, [&](const TextStyleEntry& r) { return r.face == face; },
      [&](TextStyleEntry r) {
        r.face = static_cast<std::int16_t>(face);
        return r;
      });
  if (changed) {
    RecalculateText(false, 0);
    RedrawTextRange(start, CharToLineEnd(start + count - 1) + 1 - start, false);
  }
}

void MRichEdit::SetFontSize(int size) {
  QFont f = font();
  f.setPointSize(std::max(1, size));
  setFont(f);
  SetTextFontPointSize(0, length(), size);
}

void MRichEdit::SetBackgroundColour(std::int32_t colour) {
  background_ = colour;
  update();
}

// ---------------------------------------------------------------- paragraphs

const ParagraphInfo& MRichEdit::ParaAt(int pos) const {
  const int p = std::clamp(CharToParagraphNum(pos), 0, paragraph_count_);
  const int idx = para_index_[p];
  return formats_[idx < FormatCount() ? idx : 0];
}

template <class Set>
void MRichEdit::ChangeParagraphs(int start, int count, Set set) {
  NormaliseRange(start, count);
  const int first = CharToParagraphNum(start);
  const int last = count == 0 ? first : CharToParagraphNum(start + count - 1);
  int last_old = -1, last_new = -1;
  for (int p = std::max(0, first); p <= std::min(last, paragraph_count_); ++p) {
    const int old = para_index_[p] < FormatCount() ? para_index_[p] : 0;
    if (old != last_old) {
      ParagraphInfo info = formats_[old];
      set(info);
      last_old = old;
      last_new = GetParagraphStyleIndex(info);
    }
    para_index_[p] = static_cast<std::uint16_t>(last_new);
  }
  RecalculateText(false, 0);
  RedrawTextRange(0, length(), true);
}

void MRichEdit::SetParagraphLeftIndent(int start, int count, int v) {
  ChangeParagraphs(start, count, [v](ParagraphInfo& i) { i.left_indent = v; });
}
void MRichEdit::SetParagraphRightIndent(int start, int count, int v) {
  ChangeParagraphs(start, count, [v](ParagraphInfo& i) { i.right_indent = v; });
}
void MRichEdit::SetParagraphFirstIndent(int start, int count, int v) {
  ChangeParagraphs(start, count, [v](ParagraphInfo& i) { i.first_indent = v; });
}
void MRichEdit::SetParagraphAlignment(int start, int count, int v) {
  ChangeParagraphs(start, count, [v](ParagraphInfo& i) { i.alignment = static_cast<std::int16_t>(v); });
}
void MRichEdit::SetParagraphNumberingStyle(int start, int count, int v) {
  ChangeParagraphs(start, count, [v](ParagraphInfo& i) { i.numbering = static_cast<std::uint8_t>(v); });
}

// ---------------------------------------------------------------- attributes

void MRichEdit::SetAttribute(std::uint16_t mask, bool on) {
  if (on)
    attributes_ |= mask;
  else
    attributes_ &= static_cast<std::uint16_t>(~mask);
  if (!on && !HasAttribute(attr_editable)) HideInsertionPoint();
  if (mask & attr_wrap) {
    RecalculateText(false, 0);
    update();
  }
}

bool MRichEdit::SetRedraw(bool on) {
  const bool was = !drawing_suppressed_;
  drawing_suppressed_ = !on;
  if (on && !was) {
    update();
    if (HasAttribute(attr_selectable)) ShowCharPosition(caret_);
  }
  return was;
}

bool MRichEdit::SetRecalculate(bool on) {
  const bool was = !relayout_suppressed_;
  relayout_suppressed_ = !on;
  if (on && !was) {
    RecalculateText(false, 0);
    CalculateIdealInsertionColumn();
  }
  return was;
}

// ---------------------------------------------------------------- layout

void MRichEdit::SetMargins(int top, int left, int bottom, int right) {
  top_margin_ = top;
  left_margin_ = left;
  bottom_margin_ = bottom;
  right_margin_ = right;
  margins_set_ = true;
  RecalculateText(false, 0);
  update();
}

void MRichEdit::GetMargins(int& top, int& left, int& bottom, int& right) const {
  top = top_margin_;
  left = left_margin_;
  bottom = bottom_margin_;
  right = right_margin_;
}

void MRichEdit::SetTabStop(int n) {
  tab_stop_ = n < 2 ? 1 : n;
  RecalculateText(false, 0);
  update();
}

void MRichEdit::SetHangingIndent(int n) {
  hanging_indent_ = n;
  RecalculateText(false, 0);
  update();
}

int MRichEdit::GetLineHeight(int line) const {
  if (line >= line_count_) line = line_count_ - 1;
  if (!uniform_font_ && line >= 0) {
    int h = 1;
    for (int i = line_starts_[line]; i < line_starts_[line + 1]; ++i) {
      const FontInfo& m = styles_[style_index_[i]].metrics;
      h = std::max(h, m.ascent + m.descent + m.leading);
    }
    return h;
  }
  const FontInfo& m = styles_[typing_style_].metrics;
  return m.ascent + m.descent + m.leading;
}

int MRichEdit::MeasureTextWidth(int start, int count, int column) const {
  if (count <= 0) return 0;
  const int end = start + count;
  if (monospace_ && !fixed_width_) {
    int col = column;
    for (int i = start; i < end; ++i) col = text_[i] == '\t' ? ((col + tab_stop_) / tab_stop_) * tab_stop_ : col + 1;
    return (col - column) * width_m_;
  }
  int width = 0, col = column;
  for (int i = start; i < end; ++i) {
    const int row = style_index_[i];
    if (text_[i] == '\t') {
      const int next = ((col + tab_stop_) / tab_stop_) * tab_stop_;
      width += CharWidth(row, ' ') * (next - col);
      col = next;
    } else {
      width += fixed_width_ ? CharWidth(row, 'M') : CharWidth(row, static_cast<unsigned char>(text_[i]));
      ++col;
    }
  }
  return width;
}

void MRichEdit::EnsureLineCapacity(int n) {
  if (static_cast<int>(line_starts_.size()) < n) {
    const std::size_t size = n + 1000;
    line_starts_.resize(size);
    line_positions_.resize(size);
    line_widths_.resize(size);
  }
}

int MRichEdit::FrameWidth() const { return printing_ ? print_width_ : width(); }
int MRichEdit::FrameHeight() const { return printing_ ? print_height_ : height(); }

const ParagraphInfo* MRichEdit::FormatOfParagraph(int para) const {
  if (para < 0 || para > paragraph_count_ || para >= static_cast<int>(para_index_.size())) return nullptr;
  const int idx = para_index_[para];
  return &formats_[idx < FormatCount() ? idx : 0];
}

int MRichEdit::AvailableWidth() const {
  return FrameWidth() - left_margin_ - right_margin_ - (vbar_wanted_ ? bar_thickness_ : 0);
}

int MRichEdit::LayOutLine(int& start, int prev, const ParagraphInfo* fmt, int& width, int* prev_width) const {
  const bool wrap = HasAttribute(attr_wrap);
  const int len = length();
  int scan = start;
  const bool begins = scan == 0 || text_[scan - 1] == kCR;
  const int align = fmt ? fmt->alignment : 0;
  int limit = AvailableWidth();
  if (fmt) {
    limit -= fmt->left_indent + fmt->right_indent;
    if (begins) limit -= fmt->first_indent;
    if (fmt->numbering == 1) limit -= 15;
  }
  // A line may not start with a blank (unless right-aligned) or with
  // punctuation: the word before it comes along.
  if (wrap && !begins && prev >= 0) {
    const unsigned char c = static_cast<unsigned char>(text_[scan]);
    const bool blank = (c == ' ' || c == '\t') && align != 1;
    if (blank || std::strchr(".,;:?!", c) != nullptr) {
      for (int j = scan - 1; j > prev && j >= scan - 3 && text_[j] != kCR; --j) {
        const unsigned char d = static_cast<unsigned char>(text_[j]);
        if (std::isalnum(d) || d == '_' || d == '$') {
          int ws, we;
          FindWord(j, ws, we);
          if (ws > prev) {
            scan = ws;
            if (align != 0 && prev_width) {
              const bool prev_begins = prev == 0 || text_[prev - 1] == kCR;
              *prev_width = MeasureTextWidth(prev, scan - prev, prev_begins ? 0 : hanging_indent_);
            }
          }
          break;
        }
      }
    }
  }
  start = scan;
  const int col0 = begins ? 0 : hanging_indent_;
  const int shift = begins ? 0 : hanging_indent_ * width_m_;
  const int cr = text_.find(scan, len, kCR);
  int end = cr >= 0 ? cr : len;
  if (wrap) {
    const bool mono = monospace_ && !fixed_width_;
    int w = 0, col = col0;
    for (int i = scan; i < end; ++i) {
      const int row = style_index_[i];
      if (text_[i] == '\t') {
        const int next = ((col + tab_stop_) / tab_stop_) * tab_stop_;
        w += (mono ? width_m_ : CharWidth(row, ' ')) * (next - col);
        col = next;
      } else {
        w += mono ? width_m_ : fixed_width_ ? CharWidth(row, 'M') : CharWidth(row, static_cast<unsigned char>(text_[i]));
        ++col;
      }
      if (w + shift > limit) {
        int ws, we;
        FindWord(i, ws, we);
        if (align == 1)
          while (ws > scan && (text_[ws - 1] == ' ' || text_[ws - 1] == '\t')) --ws;
        end = ws > scan ? ws : std::max(i, scan + 1);
        break;
      }
    }
  }
  width = MeasureTextWidth(scan, end - scan, col0);
  if (end < len && text_[end] == kCR) ++end;
  return end;
}

void MRichEdit::PositionLines(int first, int last) {
  const int avail = AvailableWidth();
  const ParagraphInfo* fmt = nullptr;
  int base = 0, limit = avail;
  int p = first < line_count_ ? CharToParagraphNum(line_starts_[first]) : 0;
  for (int line = first; line < last; ++line) {
    const bool begins = LineBeginsParagraph(line);
    if (begins && line != first) ++p;
    if (begins || line == first) {
      fmt = FormatOfParagraph(p);
      base = fmt ? fmt->left_indent + (fmt->numbering == 1 ? 15 : 0) : 0;
      limit = avail;
      if (fmt) limit -= fmt->left_indent + fmt->right_indent + (begins ? fmt->first_indent : 0) + (fmt->numbering == 1 ? 15 : 0);
    }
    const int shift = begins && fmt ? fmt->first_indent : 0;
    const int align = fmt ? fmt->alignment : 0;
    const int w = line_widths_[line];
    line_positions_[line] = align == 0 ? base + shift : align == 2 ? (limit - w) / 2 + base + shift : base + shift + limit - w;
  }
  // The empty line after a final CR.
  const int len = length();
  line_positions_[line_count_] = 0;
  if (len == 0 || text_[len - 1] == kCR) {
    const int idx = para_index_[std::min(paragraph_count_, static_cast<int>(para_index_.size()) - 1)];
    if (idx < FormatCount()) {
      const ParagraphInfo& f = formats_[idx];
      const int bullet = f.numbering == 1 ? 15 : 0;
      const int b = f.left_indent + bullet;
      const int l = avail - f.left_indent - f.first_indent - f.right_indent - bullet;
      line_positions_[line_count_] = f.alignment == 0 ? b : f.alignment == 1 ? b + l : b + l / 2;
    }
  }
}

void MRichEdit::FinishLayout(int max_width, int height) {
  const int bar = vbar_wanted_ ? bar_thickness_ : 0;
  const int iw = HasAttribute(attr_wrap) ? FrameWidth() : max_width + bar;
  if (iw != image_width_ || height != image_height_) {
    ResizeImageTo(iw, height, false);
    AdjustScrollBars();
  }
}

void MRichEdit::RecalculateText(bool incremental, int from) {
  if (relayout_suppressed_) return;
  const int bar = vbar_wanted_ ? bar_thickness_ : 0;
  int height, max_width, scan, para;
  if (incremental && from > 0 && uniform_font_ && line_count_ > 0) {
    --line_count_;
    scan = line_starts_[line_count_];
    height = GetLineHeight(-1) * line_count_ + top_margin_ + bottom_margin_;
    max_width = image_width_ - bar;
    para = CharToParagraphNum(scan);
  } else {
    line_count_ = 0;
    height = top_margin_ + bottom_margin_;
    max_width = left_margin_ + right_margin_;
    scan = 0;
    para = 0;
  }
  int first_recompute = line_count_;
  const int len = length();
  try {
    while (scan < len) {
      EnsureLineCapacity(line_count_ + 2);
      const bool begins = scan == 0 || text_[scan - 1] == kCR;
      const int prev = !begins && line_count_ > 0 ? line_starts_[line_count_ - 1] : -1;
      int start = scan, width = 0, prev_width = -1;
      const int end = LayOutLine(start, prev, FormatOfParagraph(para), width, &prev_width);
      if (prev_width >= 0) {
        line_widths_[line_count_ - 1] = prev_width;
        first_recompute = std::min(first_recompute, line_count_ - 1);
      }
      line_starts_[line_count_] = start;
      line_widths_[line_count_] = width;
      max_width = std::max(max_width, left_margin_ + right_margin_ + (begins ? 0 : hanging_indent_ * width_m_) + width);
      ++line_count_;
      if (end > 0 && text_[end - 1] == kCR) ++para;
      scan = end;
      line_starts_[line_count_] = scan;
      height += GetLineHeight(line_count_ - 1);
    }
  } catch (const std::bad_alloc&) {
    const_cast<MRichEdit*>(this)->MBeep(1);
  }
  EnsureLineCapacity(line_count_ + 2);
  line_starts_[line_count_] = len;
  FinishLayout(max_width, height);
  PositionLines(first_recompute, line_count_);
}

void MRichEdit::RelayoutEdit(int p, int removed, int inserted) {
  if (relayout_suppressed_) return;
  if (!uniform_font_ || line_count_ == 0) {
    RecalculateText(false, 0);
    return;
  }
  const int len = length();
  const int delta = inserted - removed;
  // The first line of the paragraph holding p (the text before p is unchanged).
  int k = static_cast<int>(std::upper_bound(line_starts_.begin(), line_starts_.begin() + line_count_, p) -
                           line_starts_.begin()) - 1;
  k = std::max(0, k);
  while (k > 0 && text_[line_starts_[k] - 1] != kCR) --k;
  int scan = line_starts_[k];
  int para = CharToParagraphNum(scan);
  std::vector<std::int32_t> starts, widths;
  int max_width = image_width_ - (vbar_wanted_ ? bar_thickness_ : 0);
  int resume = line_count_;  // first old line kept after the re-laid ones
  try {
    while (scan < len) {
      const bool begins = scan == 0 || text_[scan - 1] == kCR;
      if (begins && scan > p + inserted) {
        // A paragraph start in the unchanged text after the edit: when an old
        // line started there, the rest of the old table still holds.
        const int old = scan - delta;
        const auto it = std::lower_bound(line_starts_.begin() + k, line_starts_.begin() + line_count_, old);
        if (it != line_starts_.begin() + line_count_ && *it == old) {
          resume = static_cast<int>(it - line_starts_.begin());
          break;
        }
      }
      const int prev = !begins && !starts.empty() ? starts.back() : -1;
      int start = scan, width = 0, prev_width = -1;
      const int end = LayOutLine(start, prev, FormatOfParagraph(para), width, &prev_width);
      if (prev_width >= 0) widths.back() = prev_width;
      starts.push_back(start);
      widths.push_back(width);
      max_width = std::max(max_width, left_margin_ + right_margin_ + (begins ? 0 : hanging_indent_ * width_m_) + width);
      if (end > 0 && text_[end - 1] == kCR) ++para;
      scan = end;
    }
    const int kept = line_count_ - resume;
    const int count = k + static_cast<int>(starts.size()) + kept;
    EnsureLineCapacity(count + 2);
    // Move the kept lines into place, shifted by the change in length.
    const int to = k + static_cast<int>(starts.size());
    for (std::vector<std::int32_t>* v : {&line_starts_, &line_positions_, &line_widths_}) {
      if (to < resume)
        std::move(v->begin() + resume, v->begin() + line_count_, v->begin() + to);
      else if (to > resume)
        std::move_backward(v->begin() + resume, v->begin() + line_count_, v->begin() + to + kept);
    }
    line_count_ = count;
    for (int i = 0; i < kept; ++i) line_starts_[k + static_cast<int>(starts.size()) + i] += delta;
    std::copy(starts.begin(), starts.end(), line_starts_.begin() + k);
    std::copy(widths.begin(), widths.end(), line_widths_.begin() + k);
  } catch (const std::bad_alloc&) {
    MBeep(1);
    RecalculateText(false, 0);
    return;
  }
  line_starts_[line_count_] = len;
  FinishLayout(max_width, GetLineHeight(-1) * line_count_ + top_margin_ + bottom_margin_);
  PositionLines(k, k + static_cast<int>(starts.size()));
}

void MRichEdit::FrameSizeChanged(bool redraw) {
  bool aligned = false;
  for (const ParagraphInfo& f : formats_) aligned = aligned || f.alignment != 0;
  if (HasAttribute(attr_wrap) || aligned) {
    HideInsertionPoint();
    RecalculateText(false, 0);
  }
  AdjustScrollBars();
  if (redraw) update();
}

bool MRichEdit::LineBeginsParagraph(int line) const {
  const int s = line_starts_[line];
  return s == 0 || text_[s - 1] == kCR;
}

int MRichEdit::LineStartColumn(int line) const {
  return line < line_count_ && !LineBeginsParagraph(line) ? hanging_indent_ : 0;
}

int MRichEdit::LineStartX(int line) const {
  return line_positions_[line] + left_margin_ + LineStartColumn(line) * width_m_;
}

int MRichEdit::LineTop(int line) const {
  if (uniform_font_) return top_margin_ + GetLineHeight(-1) * line;
  int top = top_margin_;
  for (int i = 0; i < line; ++i) top += GetLineHeight(i);
  return top;
}

int MRichEdit::CharToLineNum(int pos) const {
  const int len = length();
  if (pos >= len) return (len == 0 || text_[len - 1] == kCR) ? line_count_ : line_count_ - 1;
  if (pos <= 0) return 0;
  // Line starts ascend: the last start at or before pos.
  const auto it = std::upper_bound(line_starts_.begin(), line_starts_.begin() + line_count_, pos);
  return static_cast<int>(it - line_starts_.begin()) - 1;
}

int MRichEdit::CharToParagraphNum(int pos) const {
  const int len = length();
  pos = std::clamp(pos, 0, len);
  // The CRs before pos, counted from the nearest of the start, the end and
  // the last position asked for (edits nearby keep asking near it).
  const auto crs = [this](int from, int to) {
    return text_.count(from, to, kCR);
  };
  int n;
  const int to_mark = std::abs(pos - para_mark_pos_);
  if (to_mark <= pos && to_mark <= len - pos)
    n = pos >= para_mark_pos_ ? para_mark_num_ + crs(para_mark_pos_, pos) : para_mark_num_ - crs(pos, para_mark_pos_);
  else if (pos <= len - pos)
    n = crs(0, pos);
  else
    n = paragraph_count_ - crs(pos, len);
  para_mark_pos_ = pos;
  para_mark_num_ = n;
  return n;
}

int MRichEdit::CharToLineStart(int pos) const {
  const int len = length();
  if (pos >= len) return (len == 0 || text_[len - 1] == kCR) ? len : line_starts_[line_count_ - 1];
  return line_starts_[CharToLineNum(pos)];
}

int MRichEdit::CharToLineEnd(int pos) const {
  if (length() == 0) return -1;
  if (pos < 0) return 0;
  const int line = CharToLineNum(pos);
  if (line >= line_count_ - 1) return length() - 1;
  return line_starts_[line + 1] - 1;
}

int MRichEdit::LineToChar(int line) const {
  if (line < 0) return 0;
  if (line >= line_count_) return length();
  return line_starts_[line];
}

int MRichEdit::LineLength(int line) const {
  if (line < 0 || line >= line_count_) return 0;
  int n = line_starts_[line + 1] - line_starts_[line];
  if (n > 0 && text_[line_starts_[line + 1] - 1] == kCR) --n;
  return n;
}

int MRichEdit::GetLine(int line, char* buffer, int size) const {
  if (size < 1) return 0;
  const int n = std::min(LineLength(line), size - 1);
  if (n > 0) text_.copy_out(line_starts_[line], n, buffer);
  buffer[std::max(n, 0)] = 0;
  return std::max(n, 0);
}

int MRichEdit::GetTextRange(int start, int size, char* buffer) const {
  if (size < 1) return 0;
  start = std::clamp(start, 0, length());
  const int n = std::min(length() - start, size - 1);
  text_.copy_out(start, n, buffer);
  buffer[n] = 0;
  return n;
}

int MRichEdit::GetTextWidth(const char* text) const {
  const int n = static_cast<int>(std::strlen(text));
  if (monospace_) return n * width_m_;
  const int row = length() > 0 ? style_index_[0] : typing_style_;
  int w = 0;
  for (int i = 0; i < n; ++i) w += CharWidth(row, static_cast<unsigned char>(text[i]));
  return w;
}

void MRichEdit::GetCharRectangle(int pos, SRect32& r) const {
  pos = std::clamp(pos, 0, length());
  const int line = CharToLineNum(pos);
  r.top = LineTop(line);
  r.bottom = r.top + GetLineHeight(line);
  const int x0 = LineStartX(line);
  const int col = LineStartColumn(line);
  const int ls = line < line_count_ ? line_starts_[line] : length();
  r.left = x0 + MeasureTextWidth(ls, pos - ls, col);
  r.right = (pos == length() || text_[pos] == kCR) ? r.left : x0 + MeasureTextWidth(ls, pos + 1 - ls, col);
}

void MRichEdit::FindCharContainingPoint(SPoint32 point, int& pos) const {
  if (length() == 0 || point.v < top_margin_) {
    pos = 0;
    return;
  }
  int line;
  if (uniform_font_) {
    line = (point.v - top_margin_) / std::max(1, GetLineHeight(-1));
  } else {
    int bottom = top_margin_;
    for (line = 0; line < line_count_; ++line) {
      bottom += GetLineHeight(line);
      if (point.v <= bottom) break;
    }
  }
  if (line >= line_count_) {
    pos = length();
    return;
  }
  const int x0 = LineStartX(line);
  const int col = LineStartColumn(line);
  const int ls = line_starts_[line];
  const int end = ls + LineLength(line);
  int i = ls;
  while (i < end && x0 + MeasureTextWidth(ls, i + 1 - ls, col) <= point.h) ++i;
  pos = i;
}

int MRichEdit::CharFromPoint(int x, int y) const {
  int pos = 0;
  FindCharContainingPoint({y - image_v_, x - image_h_}, pos);
  return pos;
}

QPoint MRichEdit::PointFromChar(int pos) const {
  SRect32 r;
  GetCharRectangle(pos, r);
  return {r.left + image_h_, r.top + image_v_};
}

void MRichEdit::GetVisibleRange(int& first, int& last) const {
  SRect32 f;
  CalcFrameRect32(f);
  FindCharContainingPoint({f.top, f.left}, first);
  FindCharContainingPoint({f.bottom, f.right}, last);
  if (length() > 0 && last >= length()) last = length() - 1;
}

int MRichEdit::GetFirstVisibleLine() const {
  int f, l;
  GetVisibleRange(f, l);
  return CharToLineNum(f);
}

int MRichEdit::GetLastVisibleLine() const {
  int f, l;
  GetVisibleRange(f, l);
  return CharToLineNum(l);
}

bool MRichEdit::CheckWordBreak(const char* text, int pos, int len) const {
  if (IsWordBreak) return IsWordBreak(text, pos, len);
  const int c = static_cast<signed char>(text[pos]);
  return !(c >= 0 && std::isalnum(c));
}

void MRichEdit::FindWord(int pos, int& start, int& end) const {
  const int len = length();
  if (pos < 0) {
    start = end = 0;
    return;
  }
  if (pos >= len) {
    start = end = len;
    return;
  }
  const char* t = text_.data();
  if (CheckWordBreak(t, pos, len)) {
    start = pos;
    end = pos + 1;
    return;
  }
  start = pos;
  while (start > 0 && !CheckWordBreak(t, start - 1, len)) --start;
  end = pos;
  while (end < len && !CheckWordBreak(t, end, len)) ++end;
}

}  // namespace zema
