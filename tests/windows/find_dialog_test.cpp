// The find-and-replace dialog and the undo chain as a person meets them: a
// real text window in a shell, the shared dialog opened with Ctrl+F, the
// find text typed, the buttons clicked, Ctrl+G / Ctrl+J / Ctrl+K / Ctrl+Z
// pressed in the window.
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QCheckBox>
#include <QRadioButton>

#include <vector>

#include "components/rich_edit.h"
#include "platform/message_box.h"
#include "windows/find_dialog.h"
#include "windows/shell_text.h"
#include "window_fixture.h"

#include <ostream>

QT_BEGIN_NAMESPACE
inline void PrintTo(const QString& s, std::ostream* os) { *os << '"' << s.toStdString() << '"'; }
QT_END_NAMESPACE

namespace zema {
namespace {

using testing_support::WindowFixture;

std::string F(const char* utf8) { return unicode_to_font_text(QString::fromUtf8(utf8)); }
QString U(const char* utf8) { return QString::fromUtf8(utf8); }

class FindDialogTest : public WindowFixture {
 protected:
  void SetUp() override {
    WindowFixture::SetUp();
    delete APLFindDialog;  // every test starts with a fresh dialog
    set_message_box_hook([this](const MessageBoxRequest& r) {
      boxes_.push_back(r);
      return static_cast<int>(MB_OK);
    });
  }
  void TearDown() override {
    set_message_box_hook(nullptr);
    delete APLFindDialog;
    WindowFixture::TearDown();
  }

  // A shown, active editing window holding `utf8`, with an empty undo chain
  // (enabled as the editors enable it), caret at 0.
  TAPLShellText* Open(const char* utf8, bool editable = true) {
    if (!shell_) shell_ = NewShell();
    auto* w = Add(new TAPLShellText, shell_, kind_function_editor);
    w->AppendText(F(utf8).c_str());
    w->Contents->SetReadOnly(!editable);
    w->ClearUndo();
    w->undo.undo_enabled = editable;
    w->Contents->SetSelectionRange(0, 0);
    EXPECT_TRUE(Activate(w));
    return w;
  }
  // Ctrl+F in the window: the dialog, shown.
  TAPLFindDialog* OpenDialog(TAPLShellText* w) {
    Key(w, Qt::Key_F, Qt::ControlModifier);
    TAPLFindDialog* d = APLFindDialog;
    EXPECT_NE(d, nullptr);
    if (d) {
      EXPECT_TRUE(d->isVisible());
    }
    return d;
  }
  static void Key(TAPLShellText* w, Qt::Key k, Qt::KeyboardModifiers m = Qt::NoModifier) {
    QTest::keyClick(w->Contents, k, m);
  }
  // Types `utf8` into `e`, APL symbols as key presses that carry them.
  static void Type(QWidget* e, const char* utf8) {
    for (QChar c : U(utf8)) {
      if (c.unicode() < 0x80)
        QTest::keyClick(e, c.toLatin1());
      else
        QTest::sendKeyEvent(QTest::Click, e, Qt::Key_unknown, QString(c), Qt::NoModifier);
    }
  }
  // Replaces the find (or replacement) text by typing.
  static void TypeInto(QLineEdit* e, const char* utf8) {
    e->selectAll();
    QTest::keyClick(e, Qt::Key_Delete);
    Type(e, utf8);
  }
  // A click where a person clicks: check boxes and radio buttons on their
  // box, push buttons in the middle.
  static void Click(QAbstractButton* b) {
    const bool has_box = qobject_cast<QCheckBox*>(b) || qobject_cast<QRadioButton*>(b);
    QTest::mouseClick(b, Qt::LeftButton, Qt::NoModifier, has_box ? QPoint(6, b->height() / 2) : QPoint());
  }
  static std::string Text(TAPLShellText* w) { return w->Contents->GetTextCopy(); }
  static std::pair<int, int> Sel(TAPLShellText* w) {
    return {w->Contents->SelStart(), w->Contents->SelStart() + w->Contents->SelLength()};
  }
  static void ExpectStatus(TAPLFindDialog* d, const char* text, bool enabled) {
    EXPECT_EQ(d->StaticStatus->text(), U(text));
    EXPECT_EQ(d->StaticStatus->isEnabled(), enabled);
  }

  APLShell* shell_ = nullptr;
  std::vector<MessageBoxRequest> boxes_;
};

using P = std::pair<int, int>;

// ---------------------------------------------------------------- Find

TEST_F(FindDialogTest, FindDownWrapsAtTheEndAndUpGoesBack) {
  TAPLShellText* w = Open("abc abc abc");
  TAPLFindDialog* d = OpenDialog(w);
  EXPECT_EQ(d->find_target, w);
  EXPECT_FALSE(d->OKBtn->isEnabled());  // no find text yet
  QTest::keyClicks(d->EditFind, "abc");
  EXPECT_TRUE(d->OKBtn->isEnabled());
  Click(d->OKBtn);
  EXPECT_EQ(Sel(w), P(0, 3));
  ExpectStatus(d, "Did not wrap", false);
  Click(d->OKBtn);
  EXPECT_EQ(Sel(w), P(4, 7));
  ExpectStatus(d, "Did not wrap", false);
  // Find Again from the window's keyboard.
  ASSERT_TRUE(Activate(w));
  Key(w, Qt::Key_G, Qt::ControlModifier);
  EXPECT_EQ(Sel(w), P(8, 11));
  ExpectStatus(d, "Did not wrap", false);
  Key(w, Qt::Key_G, Qt::ControlModifier);
  EXPECT_EQ(Sel(w), P(0, 3));
  ExpectStatus(d, "Wrapped", true);

  // Up from the last match.
  w->Contents->SetSelectionRange(8, 11);
  Click(d->RadioButtonUp);
  EXPECT_EQ(d->GroupBoxWrap->title(), U("At start of text "));
  Click(d->OKBtn);
  EXPECT_EQ(Sel(w), P(4, 7));
  ExpectStatus(d, "Did not wrap", false);
  Click(d->OKBtn);
  EXPECT_EQ(Sel(w), P(0, 3));
  ExpectStatus(d, "Did not wrap", false);
  // Up from the first match wraps round to the last.
  Click(d->OKBtn);
  EXPECT_EQ(Sel(w), P(8, 11));
  ExpectStatus(d, "Wrapped", true);
  Click(d->RadioButtonDown);
  EXPECT_EQ(d->GroupBoxWrap->title(), U("At end of text "));
}

TEST_F(FindDialogTest, StopAtEitherEndReportsNotFound) {
  TAPLShellText* w = Open("abc abc");
  TAPLFindDialog* d = OpenDialog(w);
  QTest::keyClicks(d->EditFind, "abc");
  Click(d->RadioButtonStop);
  w->Contents->SetSelectionRange(4, 7);
  Click(d->OKBtn);
  ExpectStatus(d, "Search string not found", true);
  EXPECT_EQ(Sel(w), P(4, 7));  // the selection stays
  Click(d->RadioButtonUp);
  w->Contents->SetSelectionRange(0, 3);
  Click(d->OKBtn);
  ExpectStatus(d, "Search string not found", true);
  EXPECT_EQ(Sel(w), P(0, 3));
  // With Wrap the same searches go round.
  Click(d->RadioButtonWrap);
  Click(d->OKBtn);
  EXPECT_EQ(Sel(w), P(4, 7));
  ExpectStatus(d, "Wrapped", true);
}

TEST_F(FindDialogTest, WholeWordsAndCase) {
  TAPLShellText* w = Open("X⎕IO XIO abc ABC");
  TAPLFindDialog* d = OpenDialog(w);
  Click(d->CheckBoxWholeWord);
  Click(d->RadioButtonStop);
  struct Case {
    const char* find;
    bool case_sensitive;
    int sel_start;
    int found;  // -1 not found
  };
  const Case cases[] = {
      {"⎕IO", false, 0, 1},  // begins with a quad: found although X is no delimiter
      {"IO", false, 5, -1},  // inside XIO: not a word
      {"abc", false, 9, 9},   {"ABC", false, 10, 13}, {"ABC", true, 0, 13},
      {"abc", true, 10, -1},  {"aBc", true, 0, -1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << c.find << " case-sensitive " << c.case_sensitive << " from " << c.sel_start);
    TypeInto(d->EditFind, c.find);
    if (d->CheckBoxCaseSensitive->isChecked() != c.case_sensitive) Click(d->CheckBoxCaseSensitive);
    w->Contents->SetSelectionRange(c.sel_start, c.sel_start);
    Click(d->OKBtn);
    if (c.found < 0) {
      ExpectStatus(d, "Search string not found", true);
      EXPECT_EQ(Sel(w), P(c.sel_start, c.sel_start));
    } else {
      EXPECT_EQ(Sel(w), P(c.found, c.found + static_cast<int>(F(c.find).size())));
    }
  }
}

TEST_F(FindDialogTest, EditingTheFindTextResetsTheStatus) {
  TAPLShellText* w = Open("abc");
  TAPLFindDialog* d = OpenDialog(w);
  QTest::keyClicks(d->EditFind, "zz");
  Click(d->OKBtn);
  ExpectStatus(d, "Search string not found", true);
  QTest::keyClick(d->EditFind, Qt::Key_Backspace);
  ExpectStatus(d, "Did not wrap", false);
  Click(d->OKBtn);
  ExpectStatus(d, "Search string not found", true);
  QTest::keyClicks(d->EditReplace, "q");
  ExpectStatus(d, "Did not wrap", false);
  // Emptying the find text disables Find.
  QTest::keyClick(d->EditFind, Qt::Key_Backspace);
  EXPECT_FALSE(d->OKBtn->isEnabled());
  EXPECT_FALSE(d->ReplaceAllBtn->isEnabled());
}

TEST_F(FindDialogTest, FindSelectedTextTakesTheSelectionAndGoesDown) {
  TAPLShellText* w = Open("ab ab ab");
  TAPLFindDialog* d = OpenDialog(w);
  QTest::keyClicks(d->EditFind, "zzz");
  Click(d->RadioButtonUp);
  ASSERT_TRUE(Activate(w));
  w->Contents->SetSelectionRange(3, 5);
  Key(w, Qt::Key_J, Qt::ControlModifier);
  EXPECT_EQ(d->EditFind->text(), U("ab"));
  EXPECT_TRUE(d->RadioButtonDown->isChecked());
  EXPECT_EQ(d->GroupBoxWrap->title(), U("At end of text "));
  EXPECT_EQ(Sel(w), P(6, 8));
  // Without a selection Ctrl+J does nothing.
  w->Contents->SetSelectionRange(1, 1);
  Key(w, Qt::Key_J, Qt::ControlModifier);
  EXPECT_EQ(Sel(w), P(1, 1));
  EXPECT_EQ(d->EditFind->text(), U("ab"));
}

// ---------------------------------------------------------------- Replace

TEST_F(FindDialogTest, ReplaceAndFindWaitsForTheSelectionToMatch) {
  TAPLShellText* w = Open("one two one");
  TAPLFindDialog* d = OpenDialog(w);
  QTest::keyClicks(d->EditFind, "ONE");
  QTest::keyClicks(d->EditReplace, "1");
  EXPECT_FALSE(d->ReplaceBtn->isEnabled());
  EXPECT_TRUE(d->ReplaceAllBtn->isEnabled());
  EXPECT_TRUE(d->EditReplace->isEnabled());
  Click(d->ReplaceBtn);  // disabled: nothing happens
  EXPECT_EQ(Text(w), "one two one");
  Click(d->OKBtn);
  EXPECT_EQ(Sel(w), P(0, 3));
  EXPECT_TRUE(d->ReplaceBtn->isEnabled());  // case-insensitive equality
  Click(d->ReplaceBtn);
  EXPECT_EQ(Text(w), "1 two one");
  EXPECT_EQ(Sel(w), P(6, 9));  // and the next one is found
  ExpectStatus(d, "Did not wrap", false);
  // Ctrl+K in the window does the same.
  ASSERT_TRUE(Activate(w));
  Key(w, Qt::Key_K, Qt::ControlModifier);
  EXPECT_EQ(Text(w), "1 two 1");
  ExpectStatus(d, "Search string not found", true);
  EXPECT_FALSE(d->ReplaceBtn->isEnabled());
  EXPECT_FALSE(d->ReplaceAllBtn->isEnabled());
  // Case-sensitive: "one" selected no longer equals "ONE".
  w->Contents->SetTextBuf("one");
  w->Contents->SetSelectionRange(0, 3);
  Click(d->CheckBoxCaseSensitive);
  EXPECT_FALSE(d->ReplaceBtn->isEnabled());
}

TEST_F(FindDialogTest, AReadOnlyWindowOffersNoReplacing) {
  TAPLShellText* w = Open("abc abc", false);
  TAPLFindDialog* d = OpenDialog(w);
  QTest::keyClicks(d->EditFind, "abc");
  EXPECT_TRUE(d->OKBtn->isEnabled());
  EXPECT_FALSE(d->ReplaceAllBtn->isEnabled());
  EXPECT_FALSE(d->EditReplace->isEnabled());
  EXPECT_FALSE(d->LabelReplace->isEnabled());
  Click(d->OKBtn);
  EXPECT_EQ(Sel(w), P(0, 3));
  EXPECT_FALSE(d->ReplaceBtn->isEnabled());
  ASSERT_TRUE(Activate(w));
  Key(w, Qt::Key_K, Qt::ControlModifier);  // Replace and Find Next: only finds
  EXPECT_EQ(Text(w), "abc abc");
  EXPECT_EQ(Sel(w), P(4, 7));
}

TEST_F(FindDialogTest, ReplaceAllCountsAndUndoRestoresByteForByte) {
  TAPLShellText* w = Open("a⍴b a\nA  a");
  const std::string original = Text(w);
  std::string expected;
  for (char c : original) expected += (c == 'a' || c == 'A') ? F("⍵⍵") : std::string(1, c);
  TAPLFindDialog* d = OpenDialog(w);
  QTest::keyClicks(d->EditFind, "a");
  Type(d->EditReplace, "⍵⍵");
  w->Contents->SetSelectionRange(2, 4);
  Click(d->ReplaceAllBtn);
  EXPECT_EQ(Text(w), expected);
  ExpectStatus(d, "4 strings replaced", true);
  EXPECT_FALSE(d->ReplaceBtn->isEnabled());
  EXPECT_FALSE(d->ReplaceAllBtn->isEnabled());
  ASSERT_TRUE(Activate(w));
  for (int i = 0; i < 20 && w->CanUndo(); ++i) Key(w, Qt::Key_Z, Qt::ControlModifier);
  EXPECT_EQ(Text(w), original);
  EXPECT_EQ(Sel(w), P(2, 4));
  EXPECT_FALSE(w->CanUndo());

  TypeInto(d->EditFind, "⍴");
  Click(d->ReplaceAllBtn);
  ExpectStatus(d, "1 string replaced", true);
  TypeInto(d->EditFind, "zz");
  Click(d->ReplaceAllBtn);
  ExpectStatus(d, "0 strings replaced", true);
}

TEST_F(FindDialogTest, ReplaceAllUpwardsReplacesEachOriginalOnce) {
  TAPLShellText* w = Open("aXXXX");
  TAPLFindDialog* d = OpenDialog(w);
  QTest::keyClicks(d->EditFind, "a");
  QTest::keyClicks(d->EditReplace, "aa");
  Click(d->RadioButtonUp);
  Click(d->RadioButtonStop);
  w->Contents->SetSelectionRange(5, 5);
  Click(d->ReplaceAllBtn);
  EXPECT_EQ(Text(w), "aaXXXX");
  ExpectStatus(d, "1 string replaced", true);
}

TEST_F(FindDialogTest, RegularExpressionFindAndReplaceWithACapture) {
  TAPLShellText* w = Open("x=12; y=345;");
  TAPLFindDialog* d = OpenDialog(w);
  Click(d->CheckBoxRegex);
  QTest::keyClicks(d->EditFind, "([a-z])=([0-9]+)");
  QTest::keyClicks(d->EditReplace, "\\2:\\1");
  Click(d->OKBtn);
  EXPECT_EQ(Sel(w), P(0, 4));
  EXPECT_TRUE(d->ReplaceBtn->isEnabled());
  Click(d->ReplaceBtn);
  EXPECT_EQ(Text(w), "12:x; y=345;");
  EXPECT_EQ(Sel(w), P(6, 11));
  // A selection that is not the last match: nothing replaced, next found.
  w->Contents->SetSelectionRange(0, 2);
  Click(d->ReplaceBtn);
  EXPECT_EQ(Text(w), "12:x; y=345;");
  EXPECT_EQ(Sel(w), P(6, 11));
  Click(d->ReplaceAllBtn);
  EXPECT_EQ(Text(w), "12:x; 345:y;");
  ExpectStatus(d, "1 string replaced", true);
  EXPECT_TRUE(boxes_.empty());
}

TEST_F(FindDialogTest, ABadRegularExpressionIsReportedAndSearchesNothing) {
  TAPLShellText* w = Open("a(b");
  TAPLFindDialog* d = OpenDialog(w);
  Click(d->CheckBoxRegex);
  QTest::keyClicks(d->EditFind, "a(b");
  QTest::keyClicks(d->EditReplace, "z");
  w->Contents->SetSelectionRange(1, 1);
  Click(d->OKBtn);
  ASSERT_EQ(boxes_.size(), 1u);
  EXPECT_EQ(boxes_[0].caption, "ZEMA Error");
  EXPECT_EQ(boxes_[0].text.rfind("Error in regular expression at position ", 0), 0u) << boxes_[0].text;
  EXPECT_EQ(Sel(w), P(1, 1));
  ExpectStatus(d, "Did not wrap", false);
  Click(d->ReplaceAllBtn);
  EXPECT_EQ(boxes_.size(), 2u);
  EXPECT_EQ(Text(w), "a(b");
  ExpectStatus(d, "Did not wrap", false);
}

// ---------------------------------------------------------------- the target

TEST_F(FindDialogTest, ClosingTheTargetLeavesTheDialogWithoutOne) {
  TAPLShellText* w = Open("abc abc");
  TAPLFindDialog* d = OpenDialog(w);
  QPointer<TAPLFindDialog> alive(d);
  QTest::keyClicks(d->EditFind, "abc");
  QTest::keyClicks(d->EditReplace, "x");
  QPointer<TAPLShellText> gone(w);
  w->close();
  QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
  ASSERT_TRUE(gone.isNull());
  ASSERT_FALSE(alive.isNull());  // the dialog lives for the whole run
  EXPECT_EQ(d->find_target, nullptr);
  d->FormActivate();
  EXPECT_FALSE(d->OKBtn->isEnabled());
  EXPECT_FALSE(d->ReplaceAllBtn->isEnabled());
  EXPECT_FALSE(d->EditReplace->isEnabled());
  // The buttons do nothing.
  d->OKBtnClick();
  d->ReplaceBtnClick();
  d->ReplaceAllBtnClick();
  EXPECT_EQ(d->EditFind->text(), U("abc"));
  // Another window takes the dialog over.
  TAPLShellText* v = Open("xabc");
  EXPECT_EQ(d->find_target, v);
  ASSERT_TRUE(Activate(v));
  Key(v, Qt::Key_G, Qt::ControlModifier);
  EXPECT_EQ(Sel(v), P(1, 4));
}

// ---------------------------------------------------------------- undo

TEST_F(FindDialogTest, OneCtrlZTakesBackARunOfTyping) {
  TAPLShellText* w = Open("abc");
  w->Contents->SetSelectionRange(3, 3);
  QTest::keyClicks(w->Contents, "xyz");
  EXPECT_EQ(Text(w), "abcxyz");
  Key(w, Qt::Key_Z, Qt::ControlModifier);
  EXPECT_EQ(Text(w), "abc");
  EXPECT_EQ(Sel(w), P(3, 3));
  EXPECT_FALSE(w->CanUndo());
  // Typing two characters, moving the caret, typing a third: Ctrl+Z takes
  // back only the third.
  QTest::keyClicks(w->Contents, "12");
  w->Contents->SetSelectionRange(0, 0);
  QTest::keyClicks(w->Contents, "3");
  EXPECT_EQ(Text(w), "3abc12");
  Key(w, Qt::Key_Z, Qt::ControlModifier);
  EXPECT_EQ(Text(w), "abc12");
  EXPECT_EQ(Sel(w), P(0, 0));
  // Typing over a selection is undone alone, the selection restored.
  w->Contents->SetSelectionRange(1, 3);
  QTest::keyClicks(w->Contents, "q");
  EXPECT_EQ(Text(w), "aq12");
  Key(w, Qt::Key_Z, Qt::ControlModifier);
  EXPECT_EQ(Text(w), "abc12");
  EXPECT_EQ(Sel(w), P(1, 3));
  Key(w, Qt::Key_Z, Qt::ControlModifier);
  EXPECT_EQ(Text(w), "abc");
}

}  // namespace
}  // namespace zema
