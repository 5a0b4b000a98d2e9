// Published properties, attribute facades and text files of the text control,
// and the small controls.
#include <gtest/gtest.h>

#include <QApplication>
#include <QMouseEvent>
#include <QTemporaryDir>

#include <fstream>
#include <sstream>
#include <string>

#include "components/rich_edit.h"
#include "components/small_controls.h"
#include "components/text_attributes.h"

namespace zema {
namespace {

TEST(RichEditProperties, SelectionAndTextProperties) {
  MRichEdit e;
  int changes = 0;
  e.OnChange = [&](MRichEdit*) { ++changes; };
  e.SetText("0123456789");
  e.SetText("abcdefghij");
  EXPECT_EQ(changes, 2);  // once per Text
  EXPECT_EQ(e.Text(), "abcdefghij");
  e.SetSelLength(3);
  e.SetSelStart(5);
  EXPECT_EQ(e.SelStart(), 5);
  EXPECT_EQ(e.SelLength(), 0);
  EXPECT_EQ(e.Caret(), 5);
  e.SetSelLength(3);
  EXPECT_EQ(e.SelText(), "fgh");
  e.SetSelText("X");
  EXPECT_EQ(e.Text(), "abcdeXij");
  e.SetReadOnly(true);
  EXPECT_TRUE(e.ReadOnly());
  EXPECT_FALSE(e.HasAttribute(attr_editable));
  e.SetScrollBars(3);
  EXPECT_EQ(e.ScrollBars(), 3);
  e.SetScrollBars(2);
  EXPECT_EQ(e.ScrollBars(), 2);
  e.SetWordWrap(false);
  EXPECT_FALSE(e.WordWrap());
}

TEST(RichEditProperties, AlignmentCentresEveryParagraph) {
  MRichEdit e;
  e.resize(300, 100);
  e.SetText("a\rb\rc");
  e.SetParagraphLeftIndent(2, 0, 7);  // paragraph 1 differs in another field
  e.SetAlignment(2);
  for (int pos : {0, 2, 4}) EXPECT_EQ(e.GetParagraphAlignment(pos), 2);
  EXPECT_EQ(e.GetParagraphLeftIndent(2), 7);
  EXPECT_EQ(e.Alignment(), 2);
}

TEST(RichEditFacades, TextAttributesFollowTheSelectionOrTheTypingStyle) {
  MRichEdit e;
  e.SetText("abcdef");
  MTextAttributes& a = *e.SelAttributes();
  // Empty selection at the end: the typing style only.
  a.SetColor(0x123456);
  EXPECT_EQ(a.Color(), 0x123456);
  EXPECT_EQ(e.GetTextColour(0), 0);
  e.SetSelectionRange(1, 3);
  a.SetStyle(face_bold | face_strikeout);
  a.SetSize(14);
  EXPECT_EQ(a.Style(), face_bold | face_strikeout);
  EXPECT_EQ(e.GetTextFontPointSize(2), 14);
  EXPECT_EQ(e.GetTextFontPointSize(3), 10);
  EXPECT_FALSE(a.Protected());
  QFont f;
  a.AssignTo(f);
  EXPECT_TRUE(f.bold());
  EXPECT_TRUE(f.strikeOut());
  EXPECT_EQ(f.pointSize(), 14);
  MParaAttributes& p = *e.Paragraph();
  p.SetTabCount(5);
  EXPECT_EQ(p.TabCount(), 0);
  p.SetLeftIndent(12);
  EXPECT_EQ(p.LeftIndent(), 12);
  p.SetNumbering(1);
  EXPECT_EQ(e.GetParagraphNumberingStyle(0), 1);
}

TEST(RichEditFiles, SaveLoadAndLineEnds) {
  QTemporaryDir dir;
  const std::string name = dir.filePath("t.txt").toStdString();
  MRichEdit e;
  e.SetText("one\rtwo\t\x8D\rthree");
  ASSERT_TRUE(e.SaveTextToFile(name));
  MRichEdit back;
  ASSERT_TRUE(back.LoadFromFile(name));
  EXPECT_EQ(back.Text(), e.Text());

  const std::string crlf = dir.filePath("crlf.txt").toStdString();
  std::ofstream(crlf, std::ios::binary) << "a\r\nb\r\n";
  ASSERT_TRUE(back.LoadFromFile(crlf));
  EXPECT_EQ(back.Text(), "a\rb\r");
  // A CR LF pair split by the 1024-byte block: two paragraph ends.
  const std::string split = dir.filePath("split.txt").toStdString();
  std::ofstream(split, std::ios::binary) << std::string(1023, 'x') << "\r\ny";
  ASSERT_TRUE(back.LoadFromFile(split));
  EXPECT_EQ(back.length(), 1023 + 3);
  EXPECT_EQ(back.ParagraphCount(), 2);
  EXPECT_FALSE(back.LoadFromFile(dir.filePath("missing").toStdString()));
  EXPECT_EQ(back.length(), 0);
  EXPECT_FALSE(e.SaveTextToFile(dir.filePath("no/such/dir").toStdString()));
}

TEST(SmallControls, ColourButtonBevelFollowsTheLeftButton) {
  MColourButton b;
  EXPECT_EQ(b.size(), QSize(50, 20));
  EXPECT_TRUE(b.Raised());
  EXPECT_EQ(b.palette().color(QPalette::Window), QColor(Qt::black));
  auto press = [&](QEvent::Type type, Qt::MouseButton button) {
    QMouseEvent ev(type, QPointF(5, 5), QPointF(5, 5), button, button, Qt::NoModifier);
    QApplication::sendEvent(&b, &ev);
  };
  press(QEvent::MouseButtonPress, Qt::RightButton);
  EXPECT_TRUE(b.Raised());
  press(QEvent::MouseButtonPress, Qt::LeftButton);
  EXPECT_FALSE(b.Raised());
  press(QEvent::MouseButtonRelease, Qt::LeftButton);
  EXPECT_TRUE(b.Raised());
  TStaticText label;
  TCSpinEdit spin;
  QWidget window;
  MSizeGrip grip(&window);
  EXPECT_EQ(grip.parentWidget(), &window);
}

}  // namespace
}  // namespace zema
