// Text store, styles, paragraphs and layout of the text control.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "components/print_font.h"
#include "components/rich_edit.h"

namespace zema {
namespace {

// A control of a fixed size with word wrap off, holding text.
struct Control {
  explicit Control(const std::string& text = {}, int w = 400, int h = 200) {
    e.resize(w, h);
    e.SetWordWrap(false);
    if (!text.empty()) e.InsertText(text.data(), static_cast<int>(text.size()), -1);
  }
  MRichEdit e;
};

TEST(RichEditStore, NewControlHasOneStyleOneFormatAndTheDefaultGeometry) {
  MRichEdit e;
  EXPECT_EQ(e.StyleCount(), 1);
  EXPECT_EQ(e.FormatCount(), 1);
  EXPECT_EQ(e.length(), 0);
  EXPECT_EQ(e.Caret(), 0);
  EXPECT_EQ(e.GetParagraphAlignment(0), 0);
  EXPECT_EQ(e.GetParagraphLeftIndent(0), 0);
  int top, left, bottom, right;
  e.GetMargins(top, left, bottom, right);
  EXPECT_EQ(top, 3);
  EXPECT_EQ(left, 10);
  EXPECT_EQ(bottom, 3);
  EXPECT_EQ(right, 3);
  EXPECT_TRUE(e.HasAttribute(attr_selectable | attr_editable | attr_wrap));
  EXPECT_EQ(e.GetTextFontName(0), MRichEdit::AplFontFamily().toStdString());
  // The TAB at column 1 of the default tab stop 4 advances three columns.
  e.InsertString("a\tb", -1);
  EXPECT_EQ(e.MeasureTextWidth(1, 1, 1), 3 * e.WidthOfM());
}

TEST(RichEditStore, LinesAndParagraphsOfAShortText) {
  Control c("abc");
  EXPECT_EQ(c.e.GetLineCount(), 1);
  c.e.InsertString("\r", -1);
  EXPECT_EQ(c.e.GetLineCount(), 1);
  EXPECT_EQ(c.e.CharToLineNum(4), 1);
  EXPECT_EQ(c.e.CharToLineNum(2), 0);
  EXPECT_EQ(c.e.CharToParagraphNum(4), 1);
  EXPECT_EQ(c.e.CharToLineStart(4), 4);
  EXPECT_EQ(c.e.CharToLineEnd(0), 3);
  EXPECT_EQ(c.e.LineLength(0), 3);
  EXPECT_EQ(c.e.LineToChar(5), 4);
  MRichEdit empty;
  EXPECT_EQ(empty.CharToLineEnd(0), -1);
  EXPECT_EQ(empty.GetLineCount(), 0);
}

TEST(RichEditStore, TabStopsAdvanceToTheNextMultiple) {
  Control c("\tx");
  const int m = c.e.WidthOfM();
  ASSERT_TRUE(c.e.IsMonospace());
  struct Case {
    int stop, column, columns;
  } cases[] = {{4, 1, 3}, {4, 0, 4}, {4, 3, 1}, {4, 4, 4}, {0, 5, 1}, {-3, 2, 1}, {8, 1, 7}};
  for (const Case& k : cases) {
    c.e.SetTabStop(k.stop);
    EXPECT_EQ(c.e.MeasureTextWidth(0, 1, k.column), k.columns * m) << k.stop << " " << k.column;
  }
}

TEST(RichEditStore, CentringWithNegativeSpareWidthTruncatesTowardZero) {
  Control c("abcdefghij");
  const int w = 10 * c.e.WidthOfM();
  // Available width = frame − left 10 − right 3; spare = available − w = −3.
  c.e.resize(w + 13 - 3, 100);
  c.e.SetParagraphAlignment(0, 0, 2);
  EXPECT_EQ(c.e.LinePosition(0), -1);
  c.e.ResizeFrameTo(w + 13 + 7, 100, true);  // spare 7 centres at 3
  EXPECT_EQ(c.e.LinePosition(0), 3);
  c.e.SetParagraphAlignment(0, 0, 1);
  EXPECT_EQ(c.e.LinePosition(0), 7);
}

TEST(RichEditStore, BulletParagraphsAreNarrowerAndStartFurtherRight) {
  Control c("abcdefghij\rxyz");
  const int w = 10 * c.e.WidthOfM();
  c.e.resize(w + 13 + 20, 100);
  c.e.SetParagraphNumberingStyle(0, 0, 1);
  EXPECT_EQ(c.e.GetParagraphNumberingStyle(0), 1);
  EXPECT_EQ(c.e.GetParagraphNumberingStyle(12), 0);
  EXPECT_EQ(c.e.LinePosition(0), 15);
  EXPECT_EQ(c.e.LinePosition(1), 0);
  c.e.SetParagraphAlignment(0, 0, 1);
  EXPECT_EQ(c.e.LinePosition(0), 15 + (20 - 15));  // limit − width = 20 − 15
  // With wrap on, a bullet line breaks 15 pixels earlier.
  Control d(std::string(30, 'a'));
  d.e.resize(13 + 20 * d.e.WidthOfM(), 100);
  d.e.SetWordWrap(true);
  EXPECT_EQ(d.e.LineLength(0), 20);
  d.e.SetParagraphNumberingStyle(0, 0, 1);
  EXPECT_EQ(d.e.LineLength(0), 20 - (15 + d.e.WidthOfM() - 1) / d.e.WidthOfM());
}

TEST(RichEditStore, WordWrapBreaksWordsAndKeepsPunctuationWithItsWord) {
  Control c;
  const int m = c.e.WidthOfM();
  c.e.resize(13 + 10 * m, 200);
  c.e.SetWordWrap(true);
  c.e.InsertString("abcdefghijklmnop", -1);  // one word wider than the line
  EXPECT_EQ(c.e.LineLength(0), 10);
  EXPECT_EQ(c.e.LineToChar(1), 10);
  c.e.SetText("abcd efghij, x");  // the comma would start line 1: "efghij" goes along
  EXPECT_EQ(c.e.LineToChar(1), 5);
  c.e.SetText("abcd ef ghij");  // ordinary break before the word that does not fit
  EXPECT_EQ(c.e.LineToChar(1), 8);
}

TEST(RichEditStore, ColourOfAnEmptyRangeChangesOnlyTheTypingStyle) {
  Control c("abc");
  c.e.SetTextColour(3, 0, 0x0000FF);
  EXPECT_EQ(c.e.GetTextColour(0), 0);
  EXPECT_EQ(c.e.GetTextColour(3), 0x0000FF);
  c.e.InsertString("d", -1);
  EXPECT_EQ(c.e.GetTextColour(3), 0x0000FF);
  EXPECT_EQ(c.e.GetTextColour(2), 0);
  // The same value again adds no row.
  const int rows = c.e.StyleCount();
  c.e.SetTextColour(0, 4, 0x0000FF);
  c.e.SetTextColour(0, 4, 0x0000FF);
  EXPECT_EQ(c.e.StyleCount(), rows);
  EXPECT_EQ(c.e.GetTextColour(0), 0x0000FF);
  // Out-of-range positions read the typing style; a negative start is 0.
  c.e.SetTextColour(-5, 1, 0x00FF00);
  EXPECT_EQ(c.e.GetTextColour(0), 0x00FF00);
  EXPECT_EQ(c.e.GetTextColour(1000), c.e.GetTextColour(-1));
}

TEST(RichEditStore, FontChangesSetOrClearTheMonospaceAndUniformFlags) {
  Control c("abcdef");
  ASSERT_TRUE(c.e.IsUniformFont());
  c.e.SetTextFontName(0, 2, "DejaVu Sans");
  EXPECT_FALSE(c.e.IsUniformFont());
  EXPECT_FALSE(c.e.IsMonospace());
  c.e.SetTextFontName(0, c.e.length(), "DejaVu Sans Mono");
  EXPECT_TRUE(c.e.IsUniformFont());
  EXPECT_TRUE(c.e.IsMonospace());
  c.e.SetTextFontName(0, -1, "DejaVu Sans Mono");  // not given as (0, length)
  EXPECT_FALSE(c.e.IsUniformFont());
  EXPECT_EQ(c.e.GetTextFontName(5), "DejaVu Sans Mono");
}

TEST(RichEditStore, FontNumbersAreSharedBetweenControls) {
  MRichEdit a, b;
  EXPECT_EQ(MRichEdit::FontNameToNumber("Some Face"), MRichEdit::FontNameToNumber("Some Face"));
  EXPECT_EQ(a.GetTextFontNumber(0), b.GetTextFontNumber(0));
  EXPECT_EQ(MRichEdit::FontNumberToName(MRichEdit::FontNameToNumber("Some Face")), "Some Face");
  EXPECT_EQ(MRichEdit::FontNumberToName(987654), "");
}

TEST(RichEditStore, JoinedParagraphsKeepTheFormatTheDeletionStartsIn) {
  Control c("ab\rcd\ref");
  c.e.SetParagraphLeftIndent(3, 0, 20);  // paragraph 1
  // From inside paragraph 0 across its CR: the first paragraph's format.
  c.e.DeleteText(1, 2, false);
  EXPECT_EQ(c.e.ParagraphCount(), 1);
  EXPECT_EQ(c.e.GetParagraphLeftIndent(0), 0);
  // From a paragraph start across its CR: the second paragraph's format.
  c.e.SetText("ab\rcd\ref");
  c.e.SetParagraphLeftIndent(3, 0, 20);
  c.e.DeleteText(0, 3, false);
  EXPECT_EQ(c.e.GetParagraphLeftIndent(0), 20);
}

TEST(RichEditStore, ParagraphsMadeBySplittingTakeTheSplitParagraphsFormat) {
  Control c("ab\rcd\ref");
  c.e.SetParagraphLeftIndent(3, 0, 20);
  c.e.SetInsertionPoint(4, false);
  c.e.InsertString("x\ry\r", -1);  // "ab|cx|y|d|ef"
  ASSERT_EQ(c.e.ParagraphCount(), 4);
  const int want[] = {0, 20, 20, 20, 0};
  for (int p = 0, pos = 0; p <= 4; ++p) {
    EXPECT_EQ(c.e.GetParagraphLeftIndent(pos), want[p]) << p;
    pos = static_cast<int>(c.e.Text().find('\r', pos)) + 1;
  }
  EXPECT_EQ(c.e.LinePosition(c.e.CharToLineNum(c.e.length() - 1)), 0);
  EXPECT_EQ(c.e.LinePosition(2), 20);
}

TEST(RichEditStore, TextAndLineCopiesAreBoundedAndTerminated) {
  Control c("abc\rdefg");
  char buf[8];
  std::memset(buf, 'x', sizeof buf);
  EXPECT_EQ(c.e.GetTextRange(0, 1, buf), 0);
  EXPECT_EQ(buf[0], 0);
  EXPECT_EQ(buf[1], 'x');
  EXPECT_EQ(c.e.GetLine(1, buf, 8), 4);
  EXPECT_STREQ(buf, "defg");
  EXPECT_EQ(c.e.GetLine(1, buf, 3), 2);
  EXPECT_STREQ(buf, "de");
  EXPECT_EQ(c.e.GetLine(7, buf, 8), 0);
  EXPECT_STREQ(buf, "");
  buf[0] = 'x';
  EXPECT_EQ(c.e.GetLine(0, buf, 0), 0);
  EXPECT_EQ(buf[0], 'x');
}

TEST(RichEditStore, FixedWidthMeasuringMeasuresEveryCharacterAsM) {
  Control c("il");
  c.e.SetTextFontName(0, 2, "DejaVu Sans");
  ASSERT_FALSE(c.e.IsMonospace());
  const int narrow = c.e.MeasureTextWidth(0, 2, 0);
  c.e.SetFixedWidthMeasuring(true);
  const int fixed = c.e.MeasureTextWidth(0, 2, 0);
  EXPECT_GT(fixed, narrow);
  c.e.SetText("MM");
  c.e.SetTextFontName(0, 2, "DejaVu Sans");
  EXPECT_EQ(fixed, c.e.MeasureTextWidth(0, 2, 0));
}

TEST(PrintFont, TranslationTable) {
  struct Case {
    int c;
    std::uint8_t base, over;
    bool result;
  } cases[] = {{0x8D, 0xB5, 0x27, true}, {0x8C, 0xB5, 0, false}, {0x80, 0xA2, 0, false}, {0xFE, 0x7E, 0xA8, true},
               {0x41, 0x41, 0, false},   {0xA0, 0xA0, 0, false}, {0x7F, 0x7F, 0, false}};
  for (const Case& k : cases) {
    std::uint8_t b = 1, o = 1;
    EXPECT_EQ(translate_to_print_font(k.c, b, o), k.result) << k.c;
    EXPECT_EQ(b, k.base) << k.c;
    EXPECT_EQ(o, k.over) << k.c;
  }
}

}  // namespace
}  // namespace zema
