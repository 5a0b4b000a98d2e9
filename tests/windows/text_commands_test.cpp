// The text windows' Edit, Tools and Help menu commands on real windows.
#include <QAction>
#include <QMenu>
#include <QMimeData>
#include <QLabel>

#include "components/rich_edit.h"
#include "windows/shell_text.h"
#include "window_fixture.h"

namespace zema {
namespace {

using testing_support::FakeTask;
using testing_support::WindowFixture;

std::string F(const char* utf8) { return unicode_to_font_text(QString::fromUtf8(utf8)); }
QString U(const char* utf8) { return QString::fromUtf8(utf8); }

// An editor stand-in: a text window that says which name it edits.
class NamedWindow : public TAPLShellText {
 public:
  explicit NamedWindow(std::string name) : name_(std::move(name)) {}
  std::string EditedName() const override { return name_; }

 private:
  std::string name_;
};

class TextCommands : public WindowFixture {
 protected:
  TAPLShellText* NewText(APLShell* shell, const char* utf8 = "", int kind = kind_function_editor) {
    auto* w = Add(new TAPLShellText, shell, kind);
    if (*utf8) w->AppendText(F(utf8).c_str());
    return w;
  }
  static std::string Text(TAPLShellText* w) { return w->Contents->GetTextCopy(); }
};

// ---------------------------------------------------------------- Edit menu

TEST_F(TextCommands, EditMenuFollowsReadOnlySelectionAndClipboard) {
  APLShell* shell = NewShell();
  TAPLShellText* w = NewText(shell, "abcdef");
  QApplication::clipboard()->setText(QStringLiteral("x"));
  struct Case {
    bool read_only, selection;
    bool cut, copy, paste, select_all, find_selection;
  };
  const Case cases[] = {
      {false, true, true, true, true, true, true},
      {false, false, false, false, true, true, false},
      {true, true, false, true, false, true, true},
      {true, false, false, false, false, true, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << "read-only " << c.read_only << " selection " << c.selection);
    w->Contents->SetReadOnly(c.read_only);
    w->Contents->SetSelectionRange(1, c.selection ? 3 : 1);
    w->EditMenuClick();
    EXPECT_EQ(w->EditCutItem->isEnabled(), c.cut);
    EXPECT_EQ(w->EditDeleteItem->isEnabled(), c.cut);
    EXPECT_EQ(w->EditCopyItem->isEnabled(), c.copy);
    EXPECT_EQ(w->EditCopyUniItem->isEnabled(), c.copy);
    EXPECT_EQ(w->EditPasteItem->isEnabled(), c.paste);
    EXPECT_EQ(w->EditPasteUniItem->isEnabled(), c.paste);
    EXPECT_EQ(w->EditSelectAllItem->isEnabled(), c.select_all);
    EXPECT_EQ(w->EditFindItem->isEnabled(), c.select_all);
    EXPECT_EQ(w->EditFindSelectionItem->isEnabled(), c.find_selection);
    EXPECT_FALSE(w->EditUndoItem->isEnabled());  // this window keeps no undo chain
  }
  // Nothing to paste: both paste items off even on a writable control.
  QApplication::clipboard()->clear();
  w->Contents->SetReadOnly(false);
  w->EditMenuClick();
  EXPECT_FALSE(w->EditPasteItem->isEnabled());
  EXPECT_FALSE(w->EditPasteUniItem->isEnabled());
  // A hidden control enables nothing.
  w->Contents->hide();
  w->Contents->SetSelectionRange(0, 3);
  w->EditMenuClick();
  EXPECT_FALSE(w->EditCopyItem->isEnabled());
  EXPECT_FALSE(w->EditSelectAllItem->isEnabled());
}

TEST_F(TextCommands, NameCommandsNeedATaskAtTheImmediateExecutionPrompt) {
  APLShell* shell = NewShell();
  FakeTask* task = TaskOf(shell);
  TAPLShellText* w = NewText(shell, "abc");
  TAPLShellText* loose = NewText(nullptr, "abc");  // in no shell: no task
  struct Case {
    TAPLShellText* window;
    bool awaiting;
    int state;
    bool enabled;
  };
  const Case cases[] = {
      {w, true, 0, true},      {w, true, 0x2000, false}, {w, true, 0x4000, false}, {w, true, 0x0004, false},
      {w, true, 0x0001, true}, {w, false, 0, false},     {loose, true, 0, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << "awaiting " << c.awaiting << " state " << c.state);
    task->awaiting = c.awaiting;
    task->state = c.state;
    c.window->EditMenuClick();
    EXPECT_EQ(c.window->OpenEditItem->isEnabled(), c.enabled);
    EXPECT_EQ(c.window->EditDisplayItem->isEnabled(), c.enabled);
    EXPECT_EQ(c.window->EditChartItem->isEnabled(), c.enabled);
    EXPECT_EQ(c.window->EditEditRecentItem->menuAction()->isEnabled(), c.enabled);
    EXPECT_EQ(c.window->OpenEditItem->text(), U("&Edit Function/Variable/Class..."));
    EXPECT_EQ(c.window->EditDisplayItem->text(), U("Display &Variable..."));
    EXPECT_EQ(c.window->EditChartItem->text(), U("C&hart Variable..."));
  }
}

TEST_F(TextCommands, OpeningTheEditMenuSetsItsState) {
  APLShell* shell = NewShell();
  TAPLShellText* w = NewText(shell, "abc");
  w->Contents->SetSelectionRange(0, 0);
  w->EditCutItem->setEnabled(true);
  w->EditMenu->popup(w->mapToGlobal(QPoint(10, 10)));
  EXPECT_FALSE(w->EditCutItem->isEnabled());
  w->EditMenu->hide();
}

// ---------------------------------------------------------------- clipboard

TEST_F(TextCommands, CopyAndPasteKeepAplCharacters) {
  APLShell* shell = NewShell();
  TAPLShellText* from = NewText(shell, "x←⍴⍳⎕");
  TAPLShellText* to = NewText(shell);
  ASSERT_TRUE(Activate(from));
  QTest::keyClick(from->Contents, Qt::Key_A, Qt::ControlModifier);
  QTest::keyClick(from->Contents, Qt::Key_C, Qt::ControlModifier);
  EXPECT_EQ(QApplication::clipboard()->text(), U("x←⍴⍳⎕"));
  ASSERT_TRUE(Activate(to));
  QTest::keyClick(to->Contents, Qt::Key_V, Qt::ControlModifier);
  EXPECT_EQ(Text(to), F("x←⍴⍳⎕"));

  // Text from another program (Unicode only) arrives as the same
  // characters, not as the low bytes of their code units (⍴ is U+2374).
  QApplication::clipboard()->setText(U("⍴⍳⎕"));
  to->Contents->SelectAll();
  QTest::keyClick(to->Contents, Qt::Key_V, Qt::ControlModifier);
  EXPECT_EQ(Text(to), F("⍴⍳⎕"));
  EXPECT_NE(Text(to)[0], 't');

  // A read-only control takes no paste.
  to->Contents->SetReadOnly(true);
  to->Contents->SelectAll();
  to->EditPasteItemClick();
  EXPECT_EQ(Text(to), F("⍴⍳⎕"));
}

TEST_F(TextCommands, CutDeleteAndSelectAll) {
  APLShell* shell = NewShell();
  TAPLShellText* w = NewText(shell, "ab⍴cd");
  w->Contents->SetSelectionRange(1, 3);
  w->EditCutItemClick();
  EXPECT_EQ(Text(w), F("acd"));
  EXPECT_EQ(QApplication::clipboard()->text(), U("b⍴"));
  w->Contents->SetSelectionRange(0, 1);
  w->EditDeleteItemClick();
  EXPECT_EQ(Text(w), F("cd"));
  w->EditSelectAllItemClick();
  EXPECT_EQ(w->Contents->SelLength(), 2);
}

TEST_F(TextCommands, UnicodeCopyAndPasteUseTheInputColour) {
  Set("session_user_input_color: 0x00123456");
  APLShell* shell = NewShell();
  TAPLShellText* from = NewText(shell, "⍴⍳⎕");
  TAPLShellText* to = NewText(shell, "abcd");
  from->Contents->SelectAll();
  from->EditCopyUniItemClick();
  const QMimeData* clip = QApplication::clipboard()->mimeData();
  ASSERT_NE(clip, nullptr);
  EXPECT_EQ(clip->text(), U("⍴⍳⎕"));

  to->Contents->SetSelectionRange(1, 3);
  to->EditPasteUniItemClick();
  EXPECT_EQ(Text(to), F("a⍴⍳⎕d"));
  for (int i = 1; i <= 3; ++i) EXPECT_EQ(to->Contents->GetTextColour(i), 0x00123456) << i;
  EXPECT_NE(to->Contents->GetTextColour(0), 0x00123456);
  EXPECT_NE(to->Contents->GetTextColour(4), 0x00123456);

  // An empty selection copies nothing; a read-only control takes nothing.
  QApplication::clipboard()->setText(U("keep"));
  from->Contents->SetSelectionRange(1, 1);
  from->EditCopyUniItemClick();
  EXPECT_EQ(QApplication::clipboard()->text(), U("keep"));
  to->Contents->SetReadOnly(true);
  to->EditPasteUniItemClick();
  EXPECT_EQ(Text(to), F("a⍴⍳⎕d"));
}

TEST_F(TextCommands, CopyAsUnicodeGivesLineEnds) {
  APLShell* shell = NewShell();
  const std::string two_lines = F("a←1") + "\r" + F("⍴a");
  TAPLShellText* w = NewText(shell);
  w->AppendText(two_lines.c_str());
  w->Contents->SelectAll();
  w->EditCopyUniItemClick();
  EXPECT_EQ(QApplication::clipboard()->text(), U("a←1\n⍴a"));
  TAPLShellText* to = NewText(shell);
  to->EditPasteUniItemClick();
  EXPECT_EQ(Text(to), two_lines);
}

// ---------------------------------------------------------------- Tools menu

TEST_F(TextCommands, KeyboardCommandsSetTheChoiceAndEveryLabel) {
  APLShell* one = NewShell();
  APLShell* two = NewShell();
  TAPLShellText* a = NewText(one);
  TAPLShellText* b = NewText(one, "", kind_session);
  TAPLShellText* c = NewText(two);
  const auto labels = [&] {
    return std::vector<QString>{a->StatusKB->text(), b->StatusKB->text(), c->StatusKB->text()};
  };
  const auto all = [](const char* t) { return std::vector<QString>(3, QString::fromUtf8(t)); };

  a->OptionsMenuClick();
  EXPECT_EQ(a->SpecialUseAPLKeyboard->text(), U("Switch to Non-APL &Keyboard"));
  EXPECT_TRUE(a->SpecialKeyboard->menuAction()->isEnabled());
  EXPECT_TRUE(a->KeyboardUnifiedItem->isChecked());
  EXPECT_EQ(labels(), all("KB: Uni APL"));

  a->KeyboardAPLItemClick();
  EXPECT_EQ(labels(), all("KB: Std APL"));
  c->OptionsMenuClick();
  EXPECT_TRUE(c->KeyboardStandardItem->isChecked());
  EXPECT_FALSE(c->KeyboardUnifiedItem->isChecked());

  ASSERT_TRUE(Activate(c));
  QTest::keyClick(c->Contents, Qt::Key_N, Qt::ControlModifier);  // Switch to Non-APL Keyboard
  EXPECT_FALSE(pref_flag("apl_keyboard"));
  EXPECT_EQ(labels(), all("KB: Non-APL"));
  a->OptionsMenuClick();
  EXPECT_EQ(a->SpecialUseAPLKeyboard->text(), U("Switch to APL &Keyboard"));
  EXPECT_FALSE(a->SpecialKeyboard->menuAction()->isEnabled());

  c->SpecialUseAPLKeyboardClick();  // back on, the standard map kept
  EXPECT_EQ(labels(), all("KB: Std APL"));
  b->KeyboardUnifiedItemClick();
  EXPECT_EQ(labels(), all("KB: Uni APL"));
  b->KeyboardNationalItemClick();
  EXPECT_EQ(labels(), all("KB: Non-APL"));
}

TEST_F(TextCommands, FontSizeChangesOneWindowUntilTheFontMessage) {
  Set("text_font_size: 10");
  APLShell* one = NewShell();
  APLShell* two = NewShell();
  TAPLShellText* a = NewText(one, "⍳10");
  TAPLShellText* b = NewText(two, "⍳10");
  const int base = apl_text_font().pointSize();
  ASSERT_NE(ScreenNominalToFontsize(14), base);

  QAction* fourteen = a->FontSizeItems[5];
  ASSERT_EQ(fourteen->data().toInt(), 14);
  fourteen->trigger();
  EXPECT_EQ(a->Contents->font().pointSize(), ScreenNominalToFontsize(14));
  EXPECT_EQ(a->Contents->GetTextFontPointSize(0), ScreenNominalToFontsize(14));
  EXPECT_EQ(b->Contents->font().pointSize(), base);
  EXPECT_EQ(b->Contents->GetTextFontPointSize(0), base);

  a->OptionsMenuClick();
  b->OptionsMenuClick();
  for (int i = 0; i < 10; ++i) {
    EXPECT_EQ(a->FontSizeItems[i]->isChecked(), kFontSizePoints[i] == 14) << kFontSizePoints[i];
    EXPECT_EQ(b->FontSizeItems[i]->isChecked(), kFontSizePoints[i] == 10) << kFontSizePoints[i];
  }

  for (APLShell* s = first_apl_shell(); s; s = s->next_shell()) s->BroadcastMsg(kind_any, msg_font_changed, 0, nullptr);
  EXPECT_EQ(a->Contents->font().pointSize(), base);
  EXPECT_EQ(a->Contents->GetTextFontPointSize(0), base);
  EXPECT_EQ(b->Contents->font().pointSize(), base);
}

TEST_F(TextCommands, ExplorerItemFollowsTheTask) {
  APLShell* shell = NewShell();
  TAPLShellText* w = NewText(shell);
  TaskOf(shell)->state = 0x2000;
  w->OptionsMenuClick();
  EXPECT_FALSE(w->SpecialWSExplorerItem->isEnabled());
  TaskOf(shell)->state = 0;
  w->OptionsMenuClick();
  EXPECT_TRUE(w->SpecialWSExplorerItem->isEnabled());

  // The explorer is made on first use and activated afterwards.
  int made = 0;
  shell->make_explorer_window = [&](APLShell*) -> TAPLShellWindow* {
    ++made;
    auto* e = new TAPLShellText;
    e->window_kind = kind_any;
    windows_.push_back(e);
    return e;
  };
  w->SpecialWSExplorerItem->trigger();
  w->SpecialWSExplorerItem->trigger();
  EXPECT_EQ(made, 1);
  ASSERT_NE(shell->explorer_window, nullptr);
  EXPECT_TRUE(shell->explorer_window->isVisible());
}

// ---------------------------------------------------------------- Help menu

class HelpCommands : public TextCommands {
 protected:
  void SetUp() override {
    TextCommands::SetUp();
    help_index_hook = [this](const std::string& word, std::string* page) {
      asked.push_back(word);
      auto it = known.find(word);
      if (it == known.end()) return false;
      *page = it->second;
      return true;
    };
    help_show_hook = [this](const std::string& page) { shown.push_back(page); };
    known[F("⍴")] = "rho";
    known[F("'caption")] = "caption-property";
    known[F("⎕WI")] = "quad-wi";
  }
  std::map<std::string, std::string> known;
  std::vector<std::string> asked, shown;
};

TEST_F(HelpCommands, PrimitiveJustBeforeTheCaretIsLookedUpAlone) {
  TAPLShellText* w = NewText(NewShell(), "⍴⍳5");
  w->Contents->SetSelectionRange(1, 1);
  w->HelpMenuClick();
  ASSERT_EQ(asked, std::vector<std::string>{F("⍴")});
  EXPECT_TRUE(w->HelpContextItem->isEnabled());
  EXPECT_EQ(w->HelpContextItem->text(), U("Help on Item at Cursor"));
  w->HelpContextItemClick();
  EXPECT_EQ(shown, std::vector<std::string>{"rho"});
}

TEST_F(HelpCommands, QuotedNameAtTheCaretKeepsItsApostrophes) {
  TAPLShellText* w = NewText(NewShell(), "'F' ⎕WI 'caption'");
  const int inside = static_cast<int>(F("'F' ⎕WI 'cap").size());
  w->Contents->SetSelectionRange(inside, inside);
  EXPECT_EQ(w->GetWordBeforePos(inside, 109), F("'caption'"));
  w->HelpMenuClick();
  ASSERT_EQ(asked, std::vector<std::string>{F("'caption'")});  // no second try without a selection
  EXPECT_FALSE(w->HelpContextItem->isEnabled());
  EXPECT_EQ(w->HelpContextItem->text(), U("Help on Selected Item"));
  w->HelpContextItemClick();
  EXPECT_TRUE(shown.empty());
}

TEST_F(HelpCommands, SelectedNameIsTriedAgainWithAnApostrophe) {
  TAPLShellText* w = NewText(NewShell(), "'F' ⎕WI 'caption'");
  const int start = static_cast<int>(F("'F' ⎕WI '").size());
  w->Contents->SetSelectionRange(start, start + 7);
  w->HelpMenuClick();
  EXPECT_EQ(asked, (std::vector<std::string>{F("caption"), F("'caption")}));
  EXPECT_TRUE(w->HelpContextItem->isEnabled());
  EXPECT_EQ(w->HelpContextItem->text(), U("Help on Selected Item"));
  ASSERT_TRUE(Activate(w));
  QTest::keyClick(w->Contents, Qt::Key_H, Qt::ControlModifier);
  EXPECT_EQ(shown, std::vector<std::string>{"caption-property"});

  // A selection starting with a symbol gets no second try.
  asked.clear();
  const int quad = static_cast<int>(F("'F' ").size());
  w->Contents->SetSelectionRange(quad, quad + 1);
  w->HelpMenuClick();
  EXPECT_EQ(asked, std::vector<std::string>{F("⎕")});
  EXPECT_FALSE(w->HelpContextItem->isEnabled());
}

TEST_F(HelpCommands, LongSelectionsAreNotLookedUp) {
  known[std::string(99, 'a')] = "a99";
  TAPLShellText* w = NewText(NewShell(), std::string(150, 'a').c_str());
  w->Contents->SetSelectionRange(0, 100);
  w->HelpContextItem->setEnabled(true);
  w->HelpMenuClick();
  EXPECT_TRUE(asked.empty());
  EXPECT_FALSE(w->HelpContextItem->isEnabled());
  w->HelpContextItemClick();
  EXPECT_TRUE(shown.empty());

  w->Contents->SetSelectionRange(0, 99);
  w->HelpMenuClick();
  EXPECT_EQ(asked.front(), std::string(99, 'a'));
  EXPECT_TRUE(w->HelpContextItem->isEnabled());
}

TEST_F(HelpCommands, WithoutTheHelpNothingIsEnabled) {
  help_index_hook = nullptr;
  TAPLShellText* w = NewText(NewShell(), "⍴⍳5");
  w->Contents->SetSelectionRange(1, 1);
  w->HelpMenuClick();
  EXPECT_FALSE(w->HelpContextItem->isEnabled());
  w->HelpContextItemClick();
  EXPECT_TRUE(shown.empty());
}

TEST_F(HelpCommands, EmptyTextLooksNothingUp) {
  TAPLShellText* w = NewText(NewShell());
  w->HelpMenuClick();
  EXPECT_TRUE(asked.empty());
  EXPECT_FALSE(w->HelpContextItem->isEnabled());
}

// ---------------------------------------------------------------- Edit Recent

class EditRecent : public TextCommands {
 protected:
  void SetUp() override {
    TextCommands::SetUp();
    gDesktopFile = new MemIniFile;
    shell = NewShell();
    task = TaskOf(shell);
    w = NewText(shell, "", kind_session);
  }
  void Saved(const std::string& section) { gDesktopFile->WriteInteger(section, "top", 1); }
  std::vector<QString> Shown() {
    std::vector<QString> out;
    for (QAction* a : w->EditRecent)
      if (a->isVisible()) out.push_back(a->text());
    return out;
  }
  APLShell* shell = nullptr;
  FakeTask* task = nullptr;
  TAPLShellText* w = nullptr;
};

TEST_F(EditRecent, ListsTenObjectsNewestFirst) {
  // Oldest first in the file: f0 … f11, with names that are no objects of
  // this workspace in between.
  const int kinds[] = {0, 1, 2, 3, 11, 12, 13, 14, 16, 0, 3, 16};
  for (int i = 0; i < 12; ++i) {
    const std::string name = "f" + std::to_string(i);
    task->AddName(name, kinds[i]);
    Saved("MYWS:" + name);
    if (i == 5) Saved("OTHER:z");
    if (i == 6) Saved("MYWS:gone");  // no longer known
  }
  task->AddName("OTHER", 3);
  task->AddName("z", 3);
  for (int t : {4, 5, 10, 15}) {
    const std::string name = "t" + std::to_string(t);
    task->AddName(name, t);
    Saved("MYWS:" + name);
  }
  Saved("MYWS:");
  w->EditEditRecentItemClick();
  std::vector<QString> expected;
  for (int i = 11; i >= 2; --i) expected.push_back(QStringLiteral("f%1").arg(i));
  EXPECT_EQ(Shown(), expected);
  for (QAction* a : w->EditRecent) EXPECT_EQ(a->isEnabled(), a->isVisible());
}

TEST_F(EditRecent, ShowsEmptyWhenNothingQualifies) {
  task->AddName("v", 15);
  Saved("MYWS:v");
  Saved("OTHER:w");
  task->AddName("w", 3);
  w->EditEditRecentItemClick();
  EXPECT_EQ(Shown(), std::vector<QString>{U("(empty)")});
  EXPECT_FALSE(w->EditRecent[0]->isEnabled());

  // Once filled, a later opening with fewer names hides the rest again.
  task->AddName("a", 3);
  task->AddName("b", 3);
  Saved("MYWS:a");
  Saved("MYWS:b");
  w->EditEditRecentItemClick();
  EXPECT_EQ(Shown(), (std::vector<QString>{U("b"), U("a")}));
  gDesktopFile->EraseSection("MYWS:b");
  w->EditEditRecentItemClick();
  EXPECT_EQ(Shown(), std::vector<QString>{U("a")});
}

TEST_F(EditRecent, NothingChangesWhileSuspendedOrWithoutTheFile) {
  task->AddName("a", 3);
  Saved("MYWS:a");
  task->state = 0x2000;
  w->EditEditRecentItemClick();
  EXPECT_TRUE(Shown().empty());
  task->state = 0;
  delete gDesktopFile;
  gDesktopFile = nullptr;
  w->EditEditRecentItemClick();
  EXPECT_TRUE(Shown().empty());
}

TEST_F(EditRecent, ChoosingANameActivatesItsEditorOrOpensOne) {
  const std::string delta = F("A∆B");
  task->AddName(delta, 3, 1);
  task->AddName("g", 0);
  Saved("MYWS:" + delta);
  Saved("MYWS:g");
  std::vector<std::pair<std::string, NameInformation>> opened;
  open_editor_hook = [&](const std::string& name, const NameInformation& info, APLShell* s) {
    EXPECT_EQ(s, shell);
    opened.emplace_back(name, info);
  };
  w->EditEditRecentItemClick();
  ASSERT_EQ(Shown(), (std::vector<QString>{U("g"), U("A^B")}));

  // The menu shows ∆ as ^; the editor is asked for the name itself.
  w->EditRecent[1]->trigger();
  ASSERT_EQ(opened.size(), 1u);
  EXPECT_EQ(opened[0].first, delta);
  EXPECT_EQ(opened[0].second.symbol_type, 3);
  EXPECT_EQ(opened[0].second.edit_kind, 1);

  // An editor already open on g is activated instead.
  auto* editor = Add(new NamedWindow("g"), shell, kind_function_editor);
  ASSERT_TRUE(Activate(w));
  w->EditRecent[0]->trigger();
  EXPECT_TRUE(QTest::qWaitForWindowActive(editor, 2000));
  EXPECT_EQ(opened.size(), 1u);

  // A name that went away meanwhile opens nothing.
  task->names.erase(delta);
  w->EditRecent[1]->trigger();
  EXPECT_EQ(opened.size(), 1u);
}

}  // namespace
}  // namespace zema
