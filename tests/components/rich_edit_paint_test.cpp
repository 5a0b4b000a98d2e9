// Painting, scrolling and printing of the text control, checked on offscreen
// screenshots and on the PDF that printing writes.
#include <gtest/gtest.h>

#include <QFontInfo>
#include <QFontMetrics>
#include <QImage>
#include <QPrinter>
#include <QScrollBar>
#include <QTemporaryDir>

#include <cstdio>
#include <string>

#include "components/rich_edit.h"

namespace zema {
namespace {

QImage shot(MRichEdit& e) { return e.grab().toImage().convertToFormat(QImage::Format_RGB32); }

// Pixels of img inside r with exactly colour rgb, and the darkest grey level there.
int count_colour(const QImage& img, QRect r, QRgb rgb) {
  int n = 0;
  for (int y = r.top(); y <= r.bottom(); ++y)
    for (int x = r.left(); x <= r.right(); ++x) n += (img.pixel(x, y) & 0xFFFFFF) == (rgb & 0xFFFFFF);
  return n;
}
int darkest(const QImage& img, QRect r) {
  int d = 255;
  for (int y = r.top(); y <= r.bottom(); ++y)
    for (int x = r.left(); x <= r.right(); ++x) d = std::min(d, qGray(img.pixel(x, y)));
  return d;
}

TEST(RichEditPaint, EmptyBorderedControlShowsBackgroundAndAOnePixelFrame) {
  MRichEdit e;
  e.resize(60, 40);
  const QImage img = shot(e);
  ASSERT_EQ(img.size(), QSize(60, 40));
  const QRect inside(1, 1, 58, 38);
  EXPECT_EQ(count_colour(img, inside, 0xFFFFFF), 58 * 38);  // only background inside
  for (int x = 0; x < 60; ++x) {
    EXPECT_EQ(img.pixel(x, 0) & 0xFFFFFF, 0u);
    EXPECT_EQ(img.pixel(x, 39) & 0xFFFFFF, 0u);
  }
  for (int y = 0; y < 40; ++y) {
    EXPECT_EQ(img.pixel(0, y) & 0xFFFFFF, 0u);
    EXPECT_EQ(img.pixel(59, y) & 0xFFFFFF, 0u);
  }
  e.SetBorderStyle(0);
  e.SetColor(0x0000FF);  // red, as 0x00BBGGRR
  const QImage plain = shot(e);
  EXPECT_EQ(count_colour(plain, QRect(0, 0, 60, 40), qRgb(255, 0, 0)), 60 * 40);
}

TEST(RichEditPaint, DisabledTextIsGreyAndSelectionIsWhiteOnBlack) {
  MRichEdit e;
  e.resize(120, 30);
  e.InsertString("MMMM", -1);
  const QRect text(10, 3, 4 * e.WidthOfM(), e.GetLineHeight(0));
  EXPECT_LT(darkest(shot(e), text), 0x40);  // black text
  e.setEnabled(false);
  const QImage grey = shot(e);
  EXPECT_EQ(darkest(grey, text), 0xC0);
  EXPECT_GT(count_colour(grey, text, 0xC0C0C0), 0);
  e.setEnabled(true);
  e.SetSelectionRange(0, 4);
  const QImage sel = shot(e);
  // Selected: mostly black background with white glyphs.
  EXPECT_GT(count_colour(sel, text, 0x000000), text.width() * text.height() / 2);
  EXPECT_GT(count_colour(sel, text, 0xFFFFFF), 0);
}

TEST(RichEditPaint, AplGlyphsRenderFromTheFallbackFont) {
  MRichEdit e;
  const QFontInfo info(e.font());
  EXPECT_EQ(info.family(), MRichEdit::AplFontFamily());
  const QFontMetrics m(e.font());
  for (char32_t u : {U'⍴', U'⍳', U'⍞', U'⎕', U'∇', U'⍝', U'←'}) EXPECT_TRUE(m.inFontUcs4(u)) << static_cast<unsigned>(u);
  // The control's character 0x8D shows ⍞: ink differs from a plain box.
  e.resize(80, 30);
  e.InsertString("\x8D", -1);
  const QRect cell(10, 3, e.WidthOfM(), e.GetLineHeight(0));
  const QImage img = shot(e);
  EXPECT_LT(darkest(img, cell), 0x80);
  MRichEdit box;
  box.resize(80, 30);
  box.InsertString("\x8D", -1);
  box.SetTextFontName(0, 1, "NoSuchFontAnywhere");
  EXPECT_LT(darkest(shot(box), cell), 0x80);  // the fallback family still draws it
}

TEST(RichEditPaint, ScrollingKeepsTheCaretInViewAndDrivesTheBar) {
  MRichEdit e;
  e.SetWordWrap(false);
  std::string text;
  for (int i = 0; i < 50; ++i) text += "line\r";
  e.InsertString(text.c_str(), -1);
  e.SetScrollBars(2);
  e.ResizeFrameTo(200, 100, true);
  e.ShowCharPosition(e.length() + 1);  // the empty line below the text
  SRect32 r, f;
  e.GetCharRectangle(e.length(), r);
  e.CalcFrameRect32(f);
  EXPECT_LE(r.bottom + e.GetLineHeight(0), f.bottom);
  EXPECT_TRUE(e.VerticalBar()->isVisibleTo(&e));
  EXPECT_EQ(e.VerticalBar()->value(), -e.GetImageLocation().v);
  // Image fully visible: the bar hides, or shows disabled with HideScrollBars off.
  e.SetText("x");
  e.ScrollImageTo(0, 0, false);
  e.AdjustScrollBars();
  EXPECT_FALSE(e.VerticalBar()->isVisibleTo(&e));
  e.SetHideScrollBars(false);
  EXPECT_TRUE(e.VerticalBar()->isVisibleTo(&e));
  EXPECT_FALSE(e.VerticalBar()->isEnabled());
}

// Runs a poppler tool on file and answers its output.
std::string run(const std::string& command) {
  std::string out;
  if (std::FILE* p = popen(command.c_str(), "r")) {
    char buf[512];
    while (std::fgets(buf, sizeof buf, p)) out += buf;
    pclose(p);
  }
  return out;
}

int pages_of(const std::string& pdf) {
  const std::string info = run("pdfinfo '" + pdf + "' 2>/dev/null");
  const auto at = info.find("Pages:");
  return at == std::string::npos ? -1 : std::atoi(info.c_str() + at + 6);
}

TEST(RichEditPrint, PrintsPagesWithTitleAndPageNumbersToPdf) {
  QTemporaryDir dir;
  ASSERT_TRUE(dir.isValid());
  const std::string pdf = dir.filePath("out.pdf").toStdString();
  MRichEdit e;
  e.resize(300, 200);
  e.InsertString("first line\rsecond line", -1);
  e.SetSelectionRange(2, 5);
  e.PrintPageNumbers(true);
  {
    QPrinter printer(QPrinter::HighResolution);
    printer.setOutputFormat(QPrinter::PdfFormat);
    printer.setOutputFileName(QString::fromStdString(pdf));
    e.Print("My Title", &printer);
  }
  EXPECT_EQ(pages_of(pdf), 1);
  const std::string text = run("pdftotext -layout '" + pdf + "' - 2>/dev/null");
  EXPECT_NE(text.find("My Title"), std::string::npos) << text;
  EXPECT_NE(text.find("first line"), std::string::npos) << text;
  EXPECT_NE(text.find("second line"), std::string::npos) << text;
  EXPECT_NE(text.find("Page 1"), std::string::npos) << text;
  EXPECT_LT(text.find("My Title"), text.find("first line"));
  EXPECT_LT(text.find("second line"), text.find("Page 1"));
  // Selection, size, margins and border as before.
  int s, t;
  e.GetSelectionRange(s, t);
  EXPECT_EQ(s, 2);
  EXPECT_EQ(t, 5);
  EXPECT_EQ(e.size(), QSize(300, 200));
  int top, left, bottom, right;
  e.GetMargins(top, left, bottom, right);
  EXPECT_EQ(top + left + bottom + right, 3 + 10 + 3 + 3);
  EXPECT_EQ(e.BorderStyle(), 1);

  // A long text runs over pages numbered in order; the empty text prints one page.
  std::string lines;
  for (int i = 0; i < 150; ++i) lines += "line " + std::to_string(i) + "\r";
  e.SetText(lines);
  const std::string pdf2 = dir.filePath("long.pdf").toStdString();
  {
    QPrinter printer(QPrinter::HighResolution);
    printer.setOutputFormat(QPrinter::PdfFormat);
    printer.setOutputFileName(QString::fromStdString(pdf2));
    e.Print("", &printer);
  }
  const int pages = pages_of(pdf2);
  EXPECT_GE(pages, 2);
  const std::string long_text = run("pdftotext '" + pdf2 + "' - 2>/dev/null");
  EXPECT_LT(long_text.find("Page 1"), long_text.find("Page 2"));
  EXPECT_NE(long_text.find("line 149"), std::string::npos);
  e.SetText("");
  const std::string pdf3 = dir.filePath("empty.pdf").toStdString();
  {
    QPrinter printer(QPrinter::HighResolution);
    printer.setOutputFormat(QPrinter::PdfFormat);
    printer.setOutputFileName(QString::fromStdString(pdf3));
    e.Print("Empty", &printer);
  }
  EXPECT_EQ(pages_of(pdf3), 1);
  const std::string empty_text = run("pdftotext '" + pdf3 + "' - 2>/dev/null");
  EXPECT_NE(empty_text.find("Empty"), std::string::npos);
  EXPECT_NE(empty_text.find("Page 1"), std::string::npos);
}

}  // namespace
}  // namespace zema
