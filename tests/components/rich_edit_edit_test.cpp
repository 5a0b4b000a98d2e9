// Editing, keys, selection, undo and the clipboard commands of the text control.
#include <gtest/gtest.h>

#include <QApplication>
#include <QClipboard>
#include <QKeyEvent>
#include <QMimeData>

#include <string>

#include "components/rich_edit.h"
#include "host/charset.h"

namespace zema {
namespace {

struct Control {
  explicit Control(const std::string& text = {}, int w = 400, int h = 200) {
    e.resize(w, h);
    e.SetWordWrap(false);
    e.OnChange = [this](MRichEdit*) { ++changes; };
    if (!text.empty()) e.InsertText(text.data(), static_cast<int>(text.size()), -1);
    changes = 0;
  }
  void Key(int key, Qt::KeyboardModifiers mods = Qt::NoModifier, const QString& text = {}) {
    QKeyEvent ev(QEvent::KeyPress, key, mods, text);
    QApplication::sendEvent(&e, &ev);
  }
  void Type(const std::string& s) {
    for (char c : s) Key(0, Qt::NoModifier, QString(QChar(static_cast<unsigned char>(c))));
  }
  std::pair<int, int> Sel() const {
    int s, t;
    e.GetSelectionRange(s, t);
    return {s, t};
  }
  MRichEdit e;
  int changes = 0;
};

TEST(RichEditEdit, InsertionConvertsLineEndsAndControlCharacters) {
  struct Case {
    std::string in, stored;
    int paragraphs;
  } cases[] = {
      {"a\r\nb", "a\rb", 1},
      {"a\nb\rc", "a\rb\rc", 2},
      {"\r\n\r\n", "\r\r", 2},
      {std::string("x\x01y"), "x y", 0},
      {"\t\x80\xff", "\t\x80\xff", 0},
  };
  for (const Case& k : cases) {
    Control c(k.in);
    EXPECT_EQ(c.e.Text(), k.stored);
    EXPECT_EQ(c.e.ParagraphCount(), k.paragraphs);
    EXPECT_EQ(c.e.Caret(), static_cast<int>(k.stored.size()));
    EXPECT_TRUE(c.e.Modified());
  }
}

TEST(RichEditEdit, DeletionAdjustsTheSelection) {
  struct Case {
    int s, e, del_start, del_count, want_s, want_e;
  } cases[] = {
      {5, 20, 5, 3, 5, 17},   // starting at the range: shortened
      {5, 20, 18, 5, 5, 18},  // ending inside the range: cut at its start
      {5, 20, 10, 3, 5, 10},  // round the range: cut at its start
      {5, 20, 25, 3, 5, 20},  // before the range: unchanged
      {10, 20, 0, 3, 7, 7},   // the caret after the range moves down; the selection empties
  };
  for (const Case& k : cases) {
    Control c(std::string(30, 'x'));
    c.e.SetSelectionRange(k.s, k.e);
    c.e.DeleteText(k.del_start, k.del_count, false);
    EXPECT_EQ(c.Sel(), std::make_pair(k.want_s, k.want_e)) << k.s << ".." << k.e;
  }
}

TEST(RichEditEdit, ProtectedChangesAndMaximumLength) {
  Control c("abcdef");
  c.e.OnProtectChange = [](MRichEdit*, int, int, bool& allow) { allow = false; };
  c.e.DeleteText(0, 3, false);
  c.e.InsertString("zz", -1);
  EXPECT_EQ(c.e.Text(), "abcdef");
  EXPECT_EQ(c.changes, 0);
  c.e.OnProtectChange = nullptr;
  c.e.SetMaxLength(6);
  c.e.SetSelectionRange(0, 2);
  c.e.InsertString("123", -1);  // too long: the selection stays deleted
  EXPECT_EQ(c.e.Text(), "cdef");
  c.e.InsertString("12", -1);
  EXPECT_EQ(c.e.Text(), "12cdef");
}

TEST(RichEditEdit, BackspaceAtTheStartAndDeleteAtTheEndDoNothing) {
  Control c("ab");
  c.e.SetInsertionPoint(0, false);
  c.Key(Qt::Key_Backspace);
  c.e.SetInsertionPoint(2, false);
  c.Key(Qt::Key_Delete);
  EXPECT_EQ(c.e.Text(), "ab");
  EXPECT_EQ(c.changes, 0);
  c.Key(Qt::Key_Backspace);
  EXPECT_EQ(c.e.Text(), "a");
  EXPECT_EQ(c.changes, 1);
}

TEST(RichEditEdit, ShiftArrowsExtendFromTheCaretAndArrowsCollapse) {
  Control c("0123456789");
  c.e.SetInsertionPoint(7, false);
  c.Key(Qt::Key_Left, Qt::ShiftModifier);
  EXPECT_EQ(c.Sel(), std::make_pair(6, 7));
  EXPECT_EQ(c.e.Caret(), 7);
  c.Key(Qt::Key_Right, Qt::ShiftModifier);
  EXPECT_EQ(c.Sel(), std::make_pair(7, 7));
  EXPECT_EQ(c.e.Caret(), 7);
  c.e.SetSelectionRange(2, 5);
  c.e.SetInsertionPoint(2, false);
  c.e.SetSelectionRange(2, 5);
  c.Key(Qt::Key_Left);
  EXPECT_EQ(c.Sel(), std::make_pair(2, 2));
  c.Key(Qt::Key_End);
  EXPECT_EQ(c.e.Caret(), 10);
  c.Key(Qt::Key_Home);
  EXPECT_EQ(c.e.Caret(), 0);
  c.Key(Qt::Key_Right, Qt::ControlModifier);
  EXPECT_EQ(c.e.Caret(), 10);  // one word
}

TEST(RichEditEdit, UpAndDownKeepTheIdealColumn) {
  Control c("abcdef\rab\rabcdef");
  c.e.SetInsertionPoint(5, false);
  c.Key(Qt::Key_Down);
  EXPECT_EQ(c.e.Caret(), 9);  // end of the short line
  c.Key(Qt::Key_Down);
  EXPECT_EQ(c.e.Caret(), 15);  // column 5 again
  c.Key(Qt::Key_Down);
  EXPECT_EQ(c.e.Caret(), 16);  // from the last line: the end
}

TEST(RichEditEdit, PageDownMovesByTheVisibleLinesLessTwo) {
  Control c;
  std::string text;
  for (int i = 0; i < 40; ++i) text += "line\r";
  c.e.InsertString(text.c_str(), -1);
  const int lh = c.e.GetLineHeight(0);
  c.e.ResizeFrameTo(200, 3 + 9 * lh + lh / 2, true);  // lines 0..9 visible
  c.e.ScrollImageTo(0, 0, false);
  c.e.SetInsertionPoint(0, false);
  ASSERT_EQ(c.e.GetFirstVisibleLine(), 0);
  ASSERT_EQ(c.e.GetLastVisibleLine(), 9);
  c.Key(Qt::Key_PageDown);
  EXPECT_EQ(c.e.CharToLineNum(c.e.Caret()), 16);
  EXPECT_GE(c.e.GetLastVisibleLine(), 16);
  c.Key(Qt::Key_PageUp);
  EXPECT_LT(c.e.CharToLineNum(c.e.Caret()), 16);
}

TEST(RichEditEdit, AddLineDeleteLineAndInsertAt) {
  Control c;
  c.e.AddLine("one");
  EXPECT_EQ(c.e.Text(), "one");
  c.e.AddLine("two");
  c.e.AppendLine("three");
  EXPECT_EQ(c.e.Text(), "one\rtwo\rthree");
  c.e.InsertString("\rfour", -1);
  c.e.DeleteLine(2);
  EXPECT_EQ(c.e.Text(), "one\rtwo\rfour");
  c.e.SetSelectionRange(1, 2);
  c.e.InsertAt(0, "X");
  EXPECT_EQ(c.e.Text(), "Xone\rtwo\rfour");
  EXPECT_EQ(c.Sel(), std::make_pair(1, 2));
  c.e.DeleteLine(99);
  EXPECT_EQ(c.e.length(), 13);
}

TEST(RichEditUndo, TypingBackspaceAndUndo) {
  Control c("hello world");
  c.e.SetInsertionPoint(5, false);
  c.Type("abc");
  EXPECT_EQ(c.e.Text(), "helloabc world");
  EXPECT_TRUE(c.e.CanUndo());
  c.e.Undo();
  EXPECT_EQ(c.e.Text(), "hello world");
  EXPECT_EQ(c.e.Caret(), 5);
  EXPECT_FALSE(c.e.CanUndo());
  c.e.Undo();  // a second undo does nothing
  EXPECT_EQ(c.e.Text(), "hello world");

  // Typed two, then three Backspaces: the third saves one character.
  c.e.SetInsertionPoint(5, false);
  c.Type("xy");
  for (int i = 0; i < 3; ++i) c.Key(Qt::Key_Backspace);
  EXPECT_EQ(c.e.Text(), "hell world");
  c.e.Undo();
  EXPECT_EQ(c.e.Text(), "hello world");

  // Five Backspaces make one record; undo restores them in their styles.
  c.e.SetSupportsStyledPaste(true);
  c.e.SetTextColour(6, 2, 0x0000FF);
  c.e.SetInsertionPoint(11, false);
  for (int i = 0; i < 5; ++i) c.Key(Qt::Key_Backspace);
  EXPECT_EQ(c.e.Text(), "hello ");
  c.e.Undo();
  EXPECT_EQ(c.e.Text(), "hello world");
  EXPECT_EQ(c.e.GetTextColour(6), 0x0000FF);
  EXPECT_EQ(c.e.GetTextColour(7), 0x0000FF);
  EXPECT_EQ(c.e.GetTextColour(8), 0);
}

TEST(RichEditUndo, ReplacingASelectionThenUndoRestoresItSelected) {
  Control c("one two three");
  c.e.SetSelectionRange(4, 7);
  c.Type("X");
  EXPECT_EQ(c.e.Text(), "one X three");
  c.e.Undo();
  EXPECT_EQ(c.e.Text(), "one two three");
  EXPECT_EQ(c.Sel(), std::make_pair(4, 7));
  c.e.SetUndoSupport(false);
  c.Type("Y");
  EXPECT_FALSE(c.e.Undo());
}

TEST(RichEditClipboard, CutCopyPasteAndUndo) {
  Control c("abc def");
  QApplication::clipboard()->setText("unchanged");
  c.e.CopyToClipboard();  // empty selection: clipboard untouched
  EXPECT_EQ(QApplication::clipboard()->text(), "unchanged");
  c.e.SetSelectionRange(4, 7);
  c.e.CutToClipboard();
  EXPECT_EQ(c.e.Text(), "abc ");
  EXPECT_EQ(QApplication::clipboard()->text(), "def");
  c.e.Undo();
  EXPECT_EQ(c.e.Text(), "abc def");
  EXPECT_EQ(c.Sel(), std::make_pair(4, 7));

  QApplication::clipboard()->setText("x\r\ny\r\n");
  c.e.SetInsertionPoint(3, false);
  c.e.PasteFromClipboard();
  EXPECT_EQ(c.e.Text(), "abcx\ry\r def");
  EXPECT_EQ(c.e.ParagraphCount(), 2);
  c.e.Undo();
  EXPECT_EQ(c.e.Text(), "abc def");
  EXPECT_EQ(c.e.ParagraphCount(), 0);

  c.e.SetReadOnly(true);
  c.e.PasteFromClipboard();
  EXPECT_EQ(c.e.Text(), "abc def");
}

// Font codes of UTF-8 APL text, as the control holds it.
// (paragraph ends and tabs stay as they are).
std::string font_text(const char* utf8) {
  std::string internal = utf8_to_internal(utf8), font;
  for (char c : internal)
    font.push_back(c == '\r' || c == '\t' ? c : static_cast<char>(fontout(static_cast<unsigned char>(c))));
  return font;
}

// Other programs see the control's copies as Unicode and give it Unicode.
TEST(RichEditClipboard, OtherProgramsExchangeUnicode) {
  Control c(font_text("x←⍴⍳5\r⍝ ⌈⌊\tA"));
  c.e.SelectAll();
  c.e.CopyToClipboard();
  EXPECT_EQ(QApplication::clipboard()->text().toStdString(), "x←⍴⍳5\n⍝ ⌈⌊\tA");

  QApplication::clipboard()->setText(QString::fromUtf8("y←⍳5\r\nz←⍴y"));
  Control d;
  d.e.PasteFromClipboard();
  EXPECT_EQ(d.e.Text(), font_text("y←⍳5\rz←⍴y"));
  // A character outside the set arrives as a look-alike or '?'.
  QApplication::clipboard()->setText(QString::fromUtf8("a☃b"));
  Control q;
  q.e.PasteFromClipboard();
  EXPECT_EQ(q.e.Text(), font_text("a?b"));
}

// Every font code whose character comes back from Unicode survives a trip
// through another program; the rest survive the control's own copies.
TEST(RichEditClipboard, EveryFontCodeSurvivesItsWayThroughTheClipboard) {
  int through_unicode = 0;
  for (int code = 0x20; code < 0x100; ++code) {
    const std::string one(1, static_cast<char>(code));
    Control from(one);
    from.e.SelectAll();
    from.e.CopyToClipboard();
    Control own;
    own.e.PasteFromClipboard();
    EXPECT_EQ(own.e.Text(), one) << "font code " << code;

    const QString unicode(QChar(convert_to_unicode(fontin(code))));
    EXPECT_EQ(QApplication::clipboard()->text(), unicode) << "font code " << code;
    const bool round_trips = fontout(convert_from_unicode(convert_to_unicode(fontin(code)))) == code;
    QApplication::clipboard()->setText(unicode);  // as another program gives it
    Control other;
    other.e.PasteFromClipboard();
    if (round_trips) {
      ++through_unicode;
      EXPECT_EQ(other.e.Text(), one) << "font code " << code;
    }
  }
  EXPECT_GT(through_unicode, 150);
}

TEST(RichEditClipboard, StyleRunsOfAStretch) {
  Control c("abcd");
  c.e.SetTextColour(2, 2, 0x00FF00);
  const StScrpRec runs = c.e.MakeScrapHandle(1, 3);
  ASSERT_EQ(runs.size(), 2u);
  EXPECT_EQ(runs[0].start, 0);
  EXPECT_EQ(runs[1].start, 1);
  EXPECT_EQ(runs[1].drawing_colour, 0x00FF00);
  EXPECT_TRUE(c.e.MakeScrapHandle(4, 3).empty());
  MRichEdit empty;
  empty.SelectAll();
  int s, e;
  empty.GetSelectionRange(s, e);
  EXPECT_EQ(s, 0);
  EXPECT_EQ(e, 0);
}

TEST(RichEditBadInput, HugeTextsInvalidPositionsAndZeroSize) {
  Control c;
  const std::string big(10 << 20, 'a');
  c.e.InsertText(big.data(), static_cast<int>(big.size()), -1);
  EXPECT_EQ(c.e.length(), 10 << 20);
  c.e.InsertText("x", -4, -1);  // a negative length inserts nothing
  c.e.InsertText(nullptr, 5, -1);
  EXPECT_EQ(c.e.length(), 10 << 20);
  c.e.Clear();
  c.e.InsertString("abc\rdef", 12345);  // an unknown style is the typing style
  EXPECT_EQ(c.e.StyleIndexAt(0), c.e.TypingStyle());
  c.e.SetSelectionRange(-7, 1 << 30);
  EXPECT_EQ(c.Sel(), std::make_pair(0, 7));
  c.e.SetSelectionRange(5, 2);
  EXPECT_EQ(c.Sel(), std::make_pair(5, 5));
  c.e.SetInsertionPoint(-3, true);
  EXPECT_EQ(c.e.Caret(), 0);
  c.e.DeleteText(-1, 3, false);
  c.e.DeleteText(7, 3, false);
  c.e.DeleteText(2, -3, false);
  EXPECT_EQ(c.e.Text(), "abc\rdef");
  c.e.SetTextColour(100, 5, 0xFF);
  c.e.SetParagraphAlignment(-5, 1000, 2);
  EXPECT_EQ(c.e.GetParagraphAlignment(6), 2);
  SRect32 r;
  c.e.GetCharRectangle(1 << 30, r);
  c.e.ResizeFrameTo(0, 0, true);
  c.e.SetWordWrap(true);
  c.e.ShowCharPosition(1 << 30);
  c.e.ScrollBy(5);
  c.e.SetScrollBars(3);
  EXPECT_FALSE(c.e.grab().isNull() && false);
  c.e.InsertString("more text that cannot fit anywhere", -1);
  EXPECT_EQ(c.e.length(), 7 + 34);
  c.e.ResizeFrameTo(-5, -5, true);
  c.e.InsertString("x", -1);
  EXPECT_EQ(c.e.length(), 42);
}

}  // namespace
}  // namespace zema
