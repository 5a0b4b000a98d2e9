// MRichEdit: the styled, paragraph-formatted text control of every text window.
//
// The text is one buffer of 8-bit display-font characters addressed by offsets
// 0..length; paragraphs end with CR (0x0D) and the text holds no LF and no
// control character but TAB and CR. Every character has an index into the style
// table, every paragraph an index into the paragraph-format table. The control
// lays the text out into lines itself, paints it with QPainter, and keeps its
// own caret, selection, single-level undo and clipboard commands.
//
// Geometry: the *image* is the laid-out text (margins included), the *frame*
// the visible client area; the image is scrolled behind the frame by the image
// offset (v, h; 0 or negative). Control coordinates = image + offset.
// Rectangles are top, left, bottom, right; points v, h.
//
// Colours are 0x00BBGGRR words. GUI thread only (the font-name list is
// process-wide and unsynchronised).
#pragma once

#include <QWidget>

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "components/gap_buffer.h"

class QElapsedTimer;
class QFont;
class QPainter;
class QPaintDevice;
class QPrinter;
class QRegion;
class QScrollBar;
class QTimer;

namespace zema {

class MTextAttributes;
class MParaAttributes;

struct SRect32 {
  std::int32_t top = 0, left = 0, bottom = 0, right = 0;
};
struct SPoint32 {
  std::int32_t v = 0, h = 0;
};

struct FontInfo {
  std::int16_t ascent = 0, descent = 0, leading = 0;
};

// Face bits of a style.
enum : std::int16_t { face_bold = 1, face_italic = 2, face_underline = 4, face_strikeout = 8 };
// Attribute word bits.
enum : std::uint16_t { attr_selectable = 1, attr_editable = 2, attr_wrap = 4 };

struct TextStyleEntry {
  std::int16_t face = 0;
  std::int32_t colour = 0;
  std::int32_t font_number = 0;
  std::int32_t drawing_colour = 0;  // used for drawing and style runs
  std::int32_t point_size = 0;
  FontInfo metrics;
};

struct ParagraphInfo {
  std::int32_t left_indent = 0, first_indent = 0, right_indent = 0;
  std::int16_t alignment = 0;  // 0 left, 1 right, 2 centre
  std::uint8_t numbering = 0;  // 0 none, 1 bullet
  bool operator==(const ParagraphInfo&) const = default;
};

// One run of a style-run record: the style of characters from start (relative
// to the described stretch) up to the next run's start.
struct ScrapRun {
  std::int32_t start = 0;
  std::int16_t line_height = 0, ascent = 0, font_number = 0, face = 0, point_size = 0;
  std::int32_t drawing_colour = 0;
};
using StScrpRec = std::vector<ScrapRun>;  // empty = no record

inline constexpr char kCR = 0x0D;

// Display-font text as other programs read it: each character through the
// internal set to Unicode; paragraph ends (CR) become line feeds, tabs stay.
QString font_text_to_unicode(const std::string& bytes);
// Unicode text of another program as display-font characters: each
// character to the internal set (a look-alike, else '?') and out to the
// font; control characters (line ends, tabs) are kept as they are.
std::string unicode_to_font_text(const QString& text);

class MRichEdit : public QWidget {
 public:
  explicit MRichEdit(QWidget* parent = nullptr);
  ~MRichEdit() override;

  // ---- events (called when set) ----
  std::function<void(MRichEdit*)> OnChange, OnSelectionChange, OnScroll;
  std::function<void(MRichEdit*, int start, int end, bool& allow)> OnProtectChange;
  std::function<bool(const char* text, int pos, int length)> IsWordBreak;
  // The beep: counts calls; tests read it. Sounds QApplication::beep.
  int beep_count = 0;

  // ---- text store, styles and paragraphs ----
  // Font-name list shared by all controls: the number of name (added when
  // absent), and the name of number (empty when never handed out).
  static int FontNameToNumber(const std::string& name);
  static std::string FontNumberToName(int number);
  // The font family used for APL text: "ZEMA Upright" when installed, else
  // "DejaVu Sans Mono".
  static QString AplFontFamily();

  // Of the character at pos; outside 0..length-1 the typing style's.
  std::int32_t GetTextColour(int pos) const;
  int GetTextFontNumber(int pos) const;
  std::string GetTextFontName(int pos) const;
  int GetTextFontPointSize(int pos) const;
  int GetTextStyle(int pos) const;
  // Change one attribute of characters start..start+count-1 (count -1 = to
  // the end; negative start = 0; count clipped; count 0 = the typing style).
  void SetTextColour(int start, int count, std::int32_t colour);
  void SetTextFontNumber(int start, int count, int number);
  void SetTextFontName(int start, int count, const std::string& name);
  void SetTextFontPointSize(int start, int count, int size);
  void SetTextStyle(int start, int count, int face);
  void SetNewColour(std::int32_t colour) { SetTextColour(caret_, 0, colour); }
  void SetFontSize(int size);
  void SetBackgroundColour(std::int32_t colour);
  // Finds or appends the style row; 0 (after a beep) when the table cannot grow.
  int GetStyleIndex(int font_number, int size, int face, std::int32_t colour);
  void GetFontMetrics(const QFont& font, FontInfo* info) const;
  // Metrics of every style row and the width of "M" again, on the drawing device.
  void RethinkFontMetrics();

  // Of the paragraph holding pos (a format index past the table reads row 0).
  int GetParagraphLeftIndent(int pos) const { return ParaAt(pos).left_indent; }
  int GetParagraphRightIndent(int pos) const { return ParaAt(pos).right_indent; }
  int GetParagraphFirstIndent(int pos) const { return ParaAt(pos).first_indent; }
  int GetParagraphAlignment(int pos) const { return ParaAt(pos).alignment; }
  int GetParagraphNumberingStyle(int pos) const { return ParaAt(pos).numbering; }
  // Change one field of the paragraphs from the one holding start to the one
  // holding start+count-1 (only the first when count is 0); relayout, repaint.
  void SetParagraphLeftIndent(int start, int count, int v);
  void SetParagraphRightIndent(int start, int count, int v);
  void SetParagraphFirstIndent(int start, int count, int v);
  void SetParagraphAlignment(int start, int count, int v);
  void SetParagraphNumberingStyle(int start, int count, int v);
  int GetParagraphStyleIndex(const ParagraphInfo& info);

  bool HasAttribute(std::uint16_t mask) const { return (attributes_ & mask) != 0; }
  void SetAttribute(std::uint16_t mask, bool on);
  // Suppress drawing / relayout; each answers whether it was enabled before.
  bool SetRedraw(bool on);
  bool DrawingIsSuppressed() const { return drawing_suppressed_; }
  bool SetRecalculate(bool on);
  void SetSupportsStyledCopy(bool b) { styled_copy_ = b; }
  bool SupportsStyledCopy() const { return styled_copy_; }
  void SetSupportsStyledPaste(bool b) { styled_paste_ = b; }
  bool SupportsStyledPaste() const { return styled_paste_; }
  // The text buffer itself (not terminated; valid until the next change; may
  // move the text's gap, so it costs a move of part of the text).
  const char* GetPointerToText() const { return text_.data(); }

  // ---- layout ----
  void SetMargins(int top, int left, int bottom, int right);
  void GetMargins(int& top, int& left, int& bottom, int& right) const;
  void SetTabStop(int n);
  void SetHangingIndent(int n);
  int GetLineHeight(int line) const;
  // Rebuilds the line table; incremental re-lays only the last line (uniform
  // font, from > 0).
  void RecalculateText(bool incremental, int from);
  void FrameSizeChanged(bool redraw);
  int MeasureTextWidth(int start, int count, int column) const;
  int CharToLineNum(int pos) const;
  int CharToParagraphNum(int pos) const;
  int CharToLineStart(int pos) const;
  int CharToLineEnd(int pos) const;
  int LineToChar(int line) const;
  int LineLength(int line) const;
  int GetLine(int line, char* buffer, int size) const;
  int GetLineCount() const { return length() == 0 ? 0 : line_count_; }
  int GetTextRange(int start, int size, char* buffer) const;
  SPoint32 GetTextExtent() const { return {image_height_, image_width_}; }
  int GetTextWidth(const char* text) const;
  void GetCharRectangle(int pos, SRect32& r) const;
  void FindCharContainingPoint(SPoint32 point, int& pos) const;
  int CharFromPoint(int x, int y) const;
  QPoint PointFromChar(int pos) const;
  void GetVisibleRange(int& first, int& last) const;
  int GetFirstVisibleLine() const;
  int GetLastVisibleLine() const;
  bool CheckWordBreak(const char* text, int pos, int length) const;
  void FindWord(int pos, int& start, int& end) const;
  int LinePosition(int line) const { return line_positions_[line]; }

  // ---- drawing, caret and scrolling ----
  // The shortest time between two paints of the text, in milliseconds
  // (0, the default: every repaint is asked for at once). Above 0, the
  // repaints that the text, the caret and scrolling ask for within that
  // time after the last paint are gathered into one, and so are the
  // changes to a shown scroll bar's range and position: a stream of small
  // edits (session output) is painted at most once per interval, while a
  // lone edit still paints at once. What a key or mouse event handled by
  // the control asks for is never held back (the gathered region goes
  // with it).
  void SetPaintInterval(int ms);
  int PaintInterval() const { return paint_interval_; }
  // Whether a gathered repaint waits for the interval to end.
  bool PaintDeferred() const;
  void RedrawTextRange(int start, int count, bool to_end);
  void HilightSelection(bool on);
  void HilightCharRange(bool on, int start, int end);
  void ToggleInsertionPoint();
  void HideInsertionPoint();
  bool CaretShown() const { return caret_shown_; }
  void CalcFrameRect32(SRect32& r) const;
  bool ImagePointIsInFrame(int h, int v) const;
  SPoint32 GetImageLocation() const { return {image_v_, image_h_}; }
  void ResizeImageTo(int width, int height, bool redraw);
  void ResizeFrameTo(int width, int height, bool redraw);
  void ScrollImageBy(int dh, int dv, bool redraw);
  void ScrollImageTo(int h, int v, bool redraw);
  void ShowCharPosition(int pos);
  void ScrollBy(int lines);
  void AdjustScrollBars();
  void SetHorizScrollbar(QScrollBar* bar);
  QScrollBar* VerticalBar() const { return vbar_; }
  QScrollBar* HorizontalBar() const { return hbar_; }
  bool IsTarget() const;
  bool IsActive() const;

  // ---- editing ----
  void InsertText(const char* text, int length, int style);
  void InsertString(const char* text, int style);
  void DeleteText(int start, int count, bool quiet);
  void Clear();
  void SetTextBuf(const char* text);
  void SetSelTextBuf(const char* text);
  int GetTextBuf(char* buffer, int size) const;
  int GetSelTextBuf(char* buffer, int size) const;
  int GetTextLen() const { return length(); }
  void InsertAt(int pos, const char* text);
  void AddLine(const char* text);
  void AppendLine(const char* text);
  void DeleteLine(int line);
  std::string GetTextCopy() const { return text_.substr(0, length()); }
  void SetInsertionPoint(int pos, bool take_style);
  void CalculateIdealInsertionColumn();
  void GetSelectionRange(int& start, int& end) const;
  void SetSelectionRange(int start, int end);
  void SelectAll() { SetSelectionRange(0, length()); }
  int Caret() const { return caret_; }
  int TypingStyle() const { return typing_style_; }
  int StyleCount() const { return static_cast<int>(styles_.size()); }
  const TextStyleEntry& StyleRow(int i) const { return styles_[i]; }
  int StyleIndexAt(int pos) const { return style_index_[pos]; }
  int FormatCount() const { return static_cast<int>(formats_.size()); }
  int ParagraphCount() const { return paragraph_count_; }
  int ParagraphIndexOf(int para) const { return para_index_[para]; }
  bool IsMonospace() const { return monospace_; }
  bool IsUniformFont() const { return uniform_font_; }
  int WidthOfM() const { return width_m_; }
  int MaxLength() const { return max_length_; }
  void SetMaxLength(int n) { max_length_ = n; }
  bool Modified() const { return modified_; }
  void SetModified(bool b) { modified_ = b; }
  void SetFixedWidthMeasuring(bool b) { fixed_width_ = b; }

  // Keys and mouse (the Qt handlers call these).
  void InputKeyPressed(char c);
  void DeleteLeftKeyPressed();
  void DeleteRightKeyPressed();
  void CursorKeyPressed(int key, bool extend, bool to_boundary, bool by_word, bool move_caret);
  void MouseClicked(int clicks, int pos, bool extend);
  void MouseStillDown(SPoint32 point, int& last);
  void MBeep(int);

  // ---- undo ----
  void SetUndoSupport(bool on) { undo_enabled_ = on; }
  void SaveUndoInfo();
  void ExtendUndoInfo(bool backward);
  void ApplyUndoInfo();
  bool Undo() { return ObeyCommand(5); }
  bool CanUndo() const { return undo_saved_length_ != 0 || undo_typed_ != 0; }
  int UndoTypedCount() const { return undo_typed_; }

  // ---- style runs and clipboard ----
  StScrpRec MakeScrapHandle(int start, int count) const;
  void ApplyTextStyleFromScrap(const StScrpRec& runs, int start, int count);
  // 0 cut, 1 copy, 2 clear, 3 paste, 4 select all, 5 undo. A copy puts the
  // selection on the clipboard twice: as Unicode text (font codes through
  // the internal set, paragraph ends as line feeds) for other programs, and
  // as its own bytes in a private format. A paste takes the private format
  // when it is there, else the Unicode text converted to font codes.
  bool ObeyCommand(int command);
  void CutToClipboard() { ObeyCommand(0); }
  void CopyToClipboard() { ObeyCommand(1); }
  void ClearSelection() { ObeyCommand(2); }
  void PasteFromClipboard() { ObeyCommand(3); }

  // ---- printing ----
  // Prints the whole text on printer (a default QPrinter when null).
  void Print(const std::string& title, QPrinter* printer = nullptr);
  void PrintPageNumbers(bool on) { page_numbers_ = on; }
  void CountPanels(int& across, int& down) const;
  bool ScrollToPanel(int across, int down);

  // ---- published properties and text files ----
  MTextAttributes* SelAttributes() const { return sel_attributes_.get(); }
  MParaAttributes* Paragraph() const { return para_attributes_.get(); }
  int BorderStyle() const { return border_style_; }
  void SetBorderStyle(int v);
  std::int32_t Color() const { return background_; }
  void SetColor(std::int32_t c);
  bool ReadOnly() const { return !HasAttribute(attr_editable); }
  void SetReadOnly(bool b) { SetAttribute(attr_editable, !b); }
  int SelStart() const { return sel_start_; }
  void SetSelStart(int v) { SetSelectionRange(v, v); }
  int SelLength() const { return sel_end_ - sel_start_; }
  void SetSelLength(int v) { SetSelectionRange(sel_start_, sel_start_ + v); }
  bool HideSelection() const { return !keep_selection_; }
  void SetHideSelection(bool b);
  bool HideScrollBars() const { return hide_vbar_; }
  void SetHideScrollBars(bool b);
  int ScrollBars() const { return (hbar_wanted_ ? 1 : 0) + (vbar_wanted_ ? 2 : 0); }
  void SetScrollBars(int v);
  bool WordWrap() const { return HasAttribute(attr_wrap); }
  void SetWordWrap(bool b);
  std::string SelText() const { return text_.substr(sel_start_, sel_end_); }
  void SetSelText(const std::string& s) { InsertText(s.data(), static_cast<int>(s.size()), -1); }
  std::string Text() const { return text_.substr(0, length()); }
  void SetText(const std::string& s);
  int Alignment() const { return formats_[0].alignment; }
  void SetAlignment(int a);
  bool want_tabs = false, want_returns = true;
  void SetFontForRange(const QFont& font, std::int32_t colour, int start, int count);
  // Plain files of the text's bytes. Failures show a message box (and answer
  // false, for callers without a screen).
  bool SaveTextToFile(const std::string& name);
  bool InsertTextFromFile(const std::string& name);
  bool LoadFromFile(const std::string& name);

  int length() const { return text_.size(); }

 protected:
  void paintEvent(QPaintEvent* e) override;
  void resizeEvent(QResizeEvent* e) override;
  // Takes, ahead of the window's shortcuts, the keys the control handles:
  // editing and movement keys and typed characters, and of the keys with Ctrl
  // held only the four arrows (the rest are the window's shortcuts).
  bool event(QEvent* e) override;
  void keyPressEvent(QKeyEvent* e) override;
  void mousePressEvent(QMouseEvent* e) override;
  void mouseDoubleClickEvent(QMouseEvent* e) override;
  void mouseMoveEvent(QMouseEvent* e) override;
  void mouseReleaseEvent(QMouseEvent* e) override;
  void focusInEvent(QFocusEvent* e) override;
  void focusOutEvent(QFocusEvent* e) override;
  bool focusNextPrevChild(bool) override { return false; }

 private:
  friend class MTextAttributes;
  friend class MParaAttributes;

  const ParagraphInfo& ParaAt(int pos) const;
  void NormaliseRange(int& start, int& count) const;
  template <class Same, class Make>
  bool ChangeCharacters(int start, int count, Same same, Make make);
  void AfterFontChange(int given_start, int given_count, int start, int count, bool changed);
  template <class Set>
  void ChangeParagraphs(int start, int count, Set set);
  QFont FontOfRow(int row) const;
  void MeasureM();
  int CharWidth(int row, unsigned char c) const;
  int LineTop(int line) const;
  bool LineBeginsParagraph(int line) const;
  int LineStartX(int line) const;  // image x of the line's first character
  int LineStartColumn(int line) const;
  void EnsureLineCapacity(int n);
  const ParagraphInfo* FormatOfParagraph(int para) const;  // null outside the text
  int AvailableWidth() const;
  // Lays out the line at start (which the punctuation rule may move back; prev
  // is the previous line's start in the paragraph, or -1); writes its width
  // and, when the rule moved the start in an aligned paragraph, the previous
  // line's new width to *prev_width. Answers the offset after the line.
  int LayOutLine(int& start, int prev, const ParagraphInfo* fmt, int& width, int* prev_width) const;
  void PositionLines(int first, int last);
  void FinishLayout(int max_width, int height);
  // Re-lays only the paragraphs that an edit at p (removed, then inserted
  // characters) touched, keeping the rest of the line table; the image width
  // does not shrink here.
  void RelayoutEdit(int p, int removed, int inserted);
  int FrameWidth() const;
  int FrameHeight() const;
  void DrawSelf(QPainter& p, const QRect& clip);
  void DrawRun(QPainter& p, int start, int count, int x, int line_top, int line_height,
               int line_ascent, std::int32_t fg, std::int32_t bg);
  void DrawBullet(QPainter& p, int pos, int x, int y, int line_height, int line_ascent);
  QRect CaretRect() const;
  // Asks for the control, or `r`, to be repainted: at once, or gathered
  // under the paint interval; the gathered region (and scroll bar changes)
  // are asked for when the interval ends (ShowDeferredPaint).
  void AskRepaint();
  void AskRepaint(const QRect& r);
  void ShowDeferredPaint();
  void RepaintRange(int p, int old_lines);
  int ColumnAt(int pos) const;
  int PosAtColumn(int line, int column) const;
  void MoveOrExtend(int target, bool extend, int moving);
  void InsertTimerTimeout();

  std::unique_ptr<MTextAttributes> sel_attributes_;
  std::unique_ptr<MParaAttributes> para_attributes_;
  bool fixed_width_ = false;
  std::int32_t image_v_ = 0, image_h_ = 0;
  std::int32_t image_width_ = 100, image_height_ = 100;
  std::uint16_t attributes_ = 7;
  std::vector<TextStyleEntry> styles_;
  std::vector<ParagraphInfo> formats_;
  bool modified_ = false;
  bool drawing_suppressed_ = false;
  bool relayout_suppressed_ = false;
  bool monospace_ = false;
  bool uniform_font_ = true;
  bool bottom_clip_ = false;
  bool printing_ = false;
  int caret_ = 0;
  bool caret_shown_ = false;
  int ideal_column_ = 0;
  int sel_start_ = 0, sel_end_ = 0;
  bool keep_selection_ = false;
  int width_m_ = 8;
  bool margins_set_ = false;
  int left_margin_ = 10, right_margin_ = 3, top_margin_ = 3, bottom_margin_ = 3;
  int tab_stop_ = 4;
  int hanging_indent_ = 0;
  GapBuffer<char> text_;  // gap at the last edit: typing moves only what lies between
  int max_length_ = 0;
  GapBuffer<std::uint16_t> style_index_;
  int typing_style_ = 0;
  bool styled_copy_ = false, styled_paste_ = false;
  std::vector<std::uint16_t> para_index_;
  int paragraph_count_ = 0;
  std::vector<std::int32_t> line_starts_{0};
  std::vector<std::int32_t> line_positions_{0};
  std::vector<std::int32_t> line_widths_{0};
  int line_count_ = 0;
  int border_style_ = 1;
  bool undo_enabled_ = true;
  int undo_start_ = 0, undo_saved_length_ = 0, undo_typed_ = 0;
  std::string undo_saved_;
  StScrpRec undo_styles_;
  QPaintDevice* canvas_ = nullptr;  // the printer while printing, else the screen
  QScrollBar* hbar_ = nullptr;
  QScrollBar* vbar_ = nullptr;
  bool vbar_wanted_ = false, hbar_wanted_ = false;
  bool hide_vbar_ = true, hide_hbar_ = true;
  int bar_thickness_ = 16;
  std::int32_t background_ = 0xFFFFFF;
  QTimer* caret_timer_ = nullptr;
  int paint_interval_ = 0;
  QTimer* paint_timer_ = nullptr;    // runs while a repaint is gathered
  std::int64_t last_paint_ms_ = -1;  // of paint_clock_; −1 never painted
  std::unique_ptr<QElapsedTimer> paint_clock_;
  std::unique_ptr<QRegion> deferred_paint_;
  bool deferred_bars_ = false;  // scroll bars to set when it ends
  bool paint_now_ = false;      // a key or mouse event is handled
  int last_drag_ = 0;
  bool dragging_ = false;
  bool page_numbers_ = false;
  bool first_paint_pending_ = true;
  int print_width_ = 0, print_height_ = 0;  // the page while printing
  mutable std::vector<std::vector<std::int16_t>> char_widths_;
  // A position and its paragraph number, kept true across edits.
  mutable int para_mark_pos_ = 0, para_mark_num_ = 0;  // per style row, lazily
};

}  // namespace zema
