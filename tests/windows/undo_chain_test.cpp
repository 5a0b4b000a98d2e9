// The text windows' undo chain on a real, shown and focused text control,
// wired to its two change reports, changed by real key events; Ctrl+Z and
// Ctrl+V are window shortcuts, as in a text window.
#include <gtest/gtest.h>

#include <QAction>
#include <QApplication>
#include <QClipboard>
#include <QTest>
#include <QVBoxLayout>
#include <QWidget>

#include <cstdio>
#include <functional>
#include <string>

#include "components/rich_edit.h"
#include "windows/undo_chain.h"

namespace zema {
namespace {

struct Editor {
  Editor() {
    auto* layout = new QVBoxLayout(&w);
    e = new MRichEdit;
    layout->addWidget(e);
    w.resize(500, 300);
    e->SetWordWrap(false);
    e->SetUndoSupport(false);
    chain.undo_enabled = true;
    e->OnProtectChange = [this](MRichEdit* c, int s, int t, bool& allow) {
      chain.ContentsProtectChange(c, s, t, allow);
      if (on_before) on_before();
    };
    e->OnChange = [this](MRichEdit* c) { chain.ContentsChange(c, has_task); };
    AddShortcut(QKeySequence(Qt::CTRL | Qt::Key_Z), [this] { chain.Undo(e); });
    AddShortcut(QKeySequence(Qt::CTRL | Qt::Key_V), [this] { e->PasteFromClipboard(); });
    w.show();
    QApplication::setActiveWindow(&w);
    e->setFocus();
    QApplication::processEvents();
  }
  void AddShortcut(const QKeySequence& keys, std::function<void()> f) {
    auto* a = new QAction(&w);
    a->setShortcut(keys);
    a->setShortcutContext(Qt::WindowShortcut);
    w.addAction(a);
    QObject::connect(a, &QAction::triggered, f);
  }
  // New text, nothing to undo, the caret at `caret`.
  void Load(const std::string& text, int caret) {
    e->SetTextBuf(text.c_str());
    chain.ClearUndo();
    e->SetSelectionRange(caret, caret);
  }
  void Key(Qt::Key k, Qt::KeyboardModifiers m = Qt::NoModifier) { QTest::keyClick(e, k, m); }
  void Type(const char* s) { QTest::keyClicks(e, s); }
  void Undo() { Key(Qt::Key_Z, Qt::ControlModifier); }
  std::string Text() const { return e->GetTextCopy(); }
  int Records() const {
    int n = 0;
    for (const UndoInfo* r = chain.undo_head; r; r = r->next) ++n;
    return n;
  }

  QWidget w;
  MRichEdit* e = nullptr;
  UndoChain chain;
  bool has_task = true;
  std::function<void()> on_before;
};

TEST(UndoChain, OneUndoTakesBackARunOfTypingOnly) {
  Editor ed;
  ed.Load("hello world", 5);
  ed.Type("abc");
  ASSERT_EQ(ed.Text(), "helloabc world");
  EXPECT_EQ(ed.Records(), 3);
  EXPECT_EQ(ed.chain.undo_head->GetType(), 0);
  ed.Undo();
  EXPECT_EQ(ed.Text(), "hello world");
  EXPECT_FALSE(ed.chain.CanUndo());

  // Typed, caret moved, typed again: only the last run goes.
  ed.Load("hello world", 5);
  ed.Type("ab");
  ed.Key(Qt::Key_End);
  ed.Type("c");
  ASSERT_EQ(ed.Text(), "helloab worldc");
  ed.Undo();
  EXPECT_EQ(ed.Text(), "helloab world");
  EXPECT_EQ(ed.e->SelStart(), 13);
  ed.Undo();
  EXPECT_EQ(ed.Text(), "hello world");
  EXPECT_EQ(ed.e->SelStart(), 5);
}

TEST(UndoChain, RunsOfDeletionsAreUndoneTogetherOthersSingly) {
  struct Case {
    const char* name;
    int caret;
    Qt::Key first;
    int move_to;  // caret before the second key, -1 none
    Qt::Key rest;
    int rest_count;
    const char* after;
    int undos;  // Ctrl+Z presses that bring the text back
  } cases[] = {
      {"three Backspaces", 5, Qt::Key_Backspace, -1, Qt::Key_Backspace, 2, "he world", 1},
      {"three Deletes", 1, Qt::Key_Delete, -1, Qt::Key_Delete, 2, "ho world", 1},
      {"Backspace then Delete elsewhere", 5, Qt::Key_Backspace, 6, Qt::Key_Delete, 1, "hell wrld", 2},
      {"Delete then Backspace elsewhere", 0, Qt::Key_Delete, 6, Qt::Key_Backspace, 1, "ello orld", 2},
  };
  for (const Case& k : cases) {
    Editor ed;
    ed.Load("hello world", k.caret);
    ed.Key(k.first);
    if (k.move_to >= 0) ed.e->SetSelectionRange(k.move_to, k.move_to);
    for (int i = 0; i < k.rest_count; ++i) ed.Key(k.rest);
    ASSERT_EQ(ed.Text(), k.after) << k.name;
    for (int i = 1; i < k.undos; ++i) {
      ed.Undo();
      EXPECT_NE(ed.Text(), "hello world") << k.name << ": undo " << i << " went too far";
    }
    ed.Undo();
    EXPECT_EQ(ed.Text(), "hello world") << k.name;
    EXPECT_FALSE(ed.chain.CanUndo()) << k.name;
  }
}

TEST(UndoChain, TypingOverASelectionIsUndoneAloneAndTheSelectionComesBack) {
  Editor ed;
  ed.Load("hello", 0);
  ed.Type("a");  // start 0: the next change starts one after it
  ed.Key(Qt::Key_Right, Qt::ShiftModifier);
  ed.Key(Qt::Key_Right, Qt::ShiftModifier);
  ASSERT_EQ(ed.e->SelStart(), 1);
  ASSERT_EQ(ed.e->SelLength(), 2);
  ed.Type("x");
  ASSERT_EQ(ed.Text(), "axllo");
  EXPECT_EQ(ed.chain.undo_head->GetType(), 2);
  EXPECT_FALSE(ed.chain.undo_head->nextInGroup());
  ed.Undo();
  EXPECT_EQ(ed.Text(), "ahello");
  EXPECT_EQ(ed.e->SelStart(), 1);
  EXPECT_EQ(ed.e->SelLength(), 2);
  ed.Undo();
  EXPECT_EQ(ed.Text(), "hello");
  EXPECT_EQ(ed.e->SelLength(), 0);
  EXPECT_EQ(ed.e->SelStart(), 0);
}

TEST(UndoChain, UndoRestoresTheSelectionBeforeTheChange) {
  Editor ed;
  ed.Load("hello world", 6);
  for (int i = 0; i < 5; ++i) ed.Key(Qt::Key_Right, Qt::ShiftModifier);
  ed.Key(Qt::Key_Delete);
  ASSERT_EQ(ed.Text(), "hello ");
  ed.Key(Qt::Key_Home);
  ed.Undo();
  EXPECT_EQ(ed.Text(), "hello world");
  EXPECT_EQ(ed.e->SelStart(), 6);
  EXPECT_EQ(ed.e->SelLength(), 5);
}

TEST(UndoChain, AChangeThatLeavesTheTextAsItWasIsNotRecorded) {
  Editor ed;
  ed.Load("hello", 2);
  const int count = ed.chain.undo_count;  // loading counted; clearing keeps the count
  // A character replaced by the same one, reported as an empty range.
  bool allow = false;
  ed.chain.ContentsProtectChange(ed.e, 2, 2, allow);
  EXPECT_TRUE(allow);
  ASSERT_NE(ed.chain.undo_pending, nullptr);
  ed.e->DeleteText(2, 1, true);
  ed.e->OnProtectChange = nullptr;
  ed.e->InsertText("l", 1, -1);  // reports the end of the change
  EXPECT_EQ(ed.Text(), "hello");
  EXPECT_EQ(ed.chain.undo_pending, nullptr);
  EXPECT_FALSE(ed.chain.CanUndo());
  EXPECT_EQ(ed.chain.undo_count, count);
  // Reports around no change at all leave nothing either.
  ed.chain.ContentsProtectChange(ed.e, 1, 1, allow);
  ed.chain.ContentsChange(ed.e, true);
  EXPECT_FALSE(ed.chain.CanUndo());
  EXPECT_EQ(ed.chain.undo_count, count);
}

TEST(UndoChain, OldRecordsAreTrimmedButUndoReachesBackPastFiveHundredChanges) {
  Editor ed;
  ed.Load("", 0);
  std::string expected;
  std::string texts[1003];  // the text after n changes
  UndoInfo* first_mark = nullptr;
  for (int n = 1; n <= 1002; ++n) {
    const char c = static_cast<char>('a' + n % 26);
    ed.e->SetSelectionRange(0, 0);  // each change at the start: none groups
    ed.e->InsertText(&c, 1, -1);
    expected.insert(expected.begin(), c);
    texts[n] = expected;
    if (n == 500) {
      EXPECT_EQ(ed.Records(), 500);
      EXPECT_EQ(ed.chain.undo_mark, nullptr);
    }
    if (n == 501) {
      EXPECT_EQ(ed.Records(), 501);  // no mark yet: nothing freed
      EXPECT_EQ(ed.chain.undo_count, 0);
      EXPECT_EQ(ed.chain.undo_mark, ed.chain.undo_head);
      first_mark = ed.chain.undo_mark;
    }
    if (n == 1001) {
      EXPECT_EQ(ed.Records(), 1001);
    }
  }
  ASSERT_EQ(ed.Text(), texts[1002]);
  // The 1002nd change passed 500 since the mark: the 500 older than it went.
  EXPECT_EQ(ed.Records(), 502);
  EXPECT_EQ(ed.chain.undo_mark, ed.chain.undo_head);
  const UndoInfo* last = ed.chain.undo_head;
  while (last->next) last = last->next;
  EXPECT_EQ(last, first_mark);

  for (int k = 1; k <= 502; ++k) {
    ed.Undo();
    ASSERT_EQ(ed.Text(), texts[1002 - k]) << "undo " << k;
  }
  EXPECT_FALSE(ed.chain.CanUndo());
  EXPECT_EQ(ed.chain.undo_mark, nullptr);
  EXPECT_EQ(ed.chain.undo_count, 0);
  ed.Undo();
  EXPECT_EQ(ed.Text(), texts[500]);
}

TEST(UndoChain, NothingIsRecordedReadOnlyDisabledOrWithoutATask) {
  struct Case {
    const char* name;
    bool read_only, enabled, has_task;
  } cases[] = {
      {"read-only", true, true, true},
      {"undo disabled", false, false, true},
      {"no task", false, true, false},
  };
  for (const Case& k : cases) {
    Editor ed;
    ed.Load("hello", 5);
    ed.e->SetReadOnly(k.read_only);
    ed.chain.undo_enabled = k.enabled;
    ed.has_task = k.has_task;
    if (!k.read_only) ed.Type("ab");
    ed.e->SetSelTextBuf("cd");  // code changes even a read-only text
    EXPECT_EQ(ed.chain.undo_head, nullptr) << k.name;
    EXPECT_FALSE(ed.chain.CanUndo()) << k.name;
    const std::string now = ed.Text();
    ed.Undo();
    EXPECT_EQ(ed.Text(), now) << k.name;
  }
}

// Records taken before a change that goes unrecorded no longer fit the
// text: replaying them would garble it, so the chain is emptied.
TEST(UndoChain, AnUnrecordedChangeEmptiesTheChain) {
  struct Case {
    const char* name;
    std::function<void(Editor&)> unrecorded;
  } cases[] = {
      {"read-only", [](Editor& ed) { ed.e->SetReadOnly(true); }},
      {"undo disabled", [](Editor& ed) { ed.chain.undo_enabled = false; }},
      {"no task", [](Editor& ed) { ed.has_task = false; }},
  };
  for (const Case& k : cases) {
    Editor ed;
    ed.Load("0123456789", 5);
    ed.Type("ab");
    ASSERT_EQ(ed.Records(), 2) << k.name;
    k.unrecorded(ed);
    ed.e->SetSelectionRange(0, 0);
    ed.e->SetSelTextBuf("XYZ");  // a change of code, three characters before the typing
    ed.e->SetReadOnly(false);
    ed.chain.undo_enabled = true;
    ed.has_task = true;
    EXPECT_EQ(ed.chain.undo_head, nullptr) << k.name;
    ed.Undo();
    EXPECT_EQ(ed.Text(), "XYZ01234ab56789") << k.name;
  }
}

TEST(UndoChain, TheContextIsOnlyTheLinesAroundTheChange) {
  std::string text;
  for (int i = 0; i < 1000; ++i) {
    char line[16];
    std::snprintf(line, sizeof line, "line%04d%s", i, i < 999 ? "\r" : "");
    text += line;
  }
  ASSERT_EQ(text.size(), 8999u);
  struct Case {
    const char* name;
    int sel_start, sel_end;
    int context_start, context_end;
  } cases[] = {
      {"caret in line 500", 500 * 9 + 3, 500 * 9 + 3, 499 * 9, 502 * 9},
      {"selection over lines 500 to 502", 500 * 9 + 2, 502 * 9 + 5, 499 * 9, 504 * 9},
      {"caret in the first line", 2, 2, 0, 2 * 9},
      {"caret at the end", 8999, 8999, 998 * 9, 8999},
  };
  for (const Case& k : cases) {
    Editor ed;
    ed.Load(text, 0);
    ed.e->SetSelectionRange(k.sel_start, k.sel_end);
    bool seen = false;
    ed.on_before = [&] {
      const UndoInfo* r = ed.chain.undo_pending;
      ASSERT_NE(r, nullptr);
      seen = true;
      EXPECT_EQ(r->context_start, k.context_start) << k.name;
      EXPECT_EQ(r->context_len, k.context_end - k.context_start) << k.name;
      EXPECT_TRUE(r->has_context);
      EXPECT_EQ(r->context, text.substr(k.context_start, k.context_end - k.context_start)) << k.name;
      EXPECT_EQ(r->removed, text.substr(k.sel_start, k.sel_end - k.sel_start)) << k.name;
    };
    ed.Type("x");
    EXPECT_TRUE(seen) << k.name;
    ASSERT_NE(ed.chain.undo_head, nullptr);
    EXPECT_FALSE(ed.chain.undo_head->has_context) << k.name;
    EXPECT_TRUE(ed.chain.undo_head->context.empty()) << k.name;
    ed.on_before = nullptr;
    ed.Undo();
    EXPECT_EQ(ed.Text(), text) << k.name;
  }
}

TEST(UndoChain, ARemovalLargerThanReportedIsFoundFromTheContext) {
  const std::string text = "abc\rdefgh\rijk\rlmn";
  struct Case {
    const char* name;
    int reported_start, reported_end;  // what the before-report says
    int start, count;                  // what the control removes
    int rec_start;
    const char* removed;
  } cases[] = {
      {"empty range, more removed", 5, 5, 5, 3, 5, "efg"},
      {"one reported, three removed", 5, 6, 5, 3, 5, "efg"},
      {"removal after the reported place", 4, 4, 7, 2, 7, "gh"},
      {"removal across a line end", 8, 8, 8, 3, 8, "h\ri"},
  };
  for (const Case& k : cases) {
    Editor ed;
    ed.Load(text, 1);
    bool allow = false;
    ed.chain.ContentsProtectChange(ed.e, k.reported_start, k.reported_end, allow);
    ed.e->DeleteText(k.start, k.count, true);
    ed.chain.ContentsChange(ed.e, true);
    const UndoInfo* r = ed.chain.undo_head;
    ASSERT_NE(r, nullptr) << k.name;
    EXPECT_EQ(r->start, k.rec_start) << k.name;
    EXPECT_EQ(r->end - r->start, k.count) << k.name;
    EXPECT_TRUE(r->has_removed) << k.name;
    EXPECT_EQ(r->removed, k.removed) << k.name;
    EXPECT_EQ(r->inserted(), 0) << k.name;
    EXPECT_EQ(r->len_before - r->len_after, k.count) << k.name;
    ed.Undo();
    EXPECT_EQ(ed.Text(), text) << k.name;
    EXPECT_EQ(ed.e->SelStart(), 1) << k.name;
  }
}

TEST(UndoChain, UndoAfterAMultiLinePasteRestoresTheTextExactly) {
  Editor ed;
  const std::string text = "first line\rsecond\rthird";
  ed.Load(text, 6);
  for (int i = 0; i < 8; ++i) ed.Key(Qt::Key_Right, Qt::ShiftModifier);  // "line\rsec"
  QApplication::clipboard()->setText(QString::fromUtf8("x←1\r\ny\n\nz"));
  ed.Key(Qt::Key_V, Qt::ControlModifier);
  ASSERT_NE(ed.Text(), text);
  EXPECT_EQ(ed.Records(), 1);
  ed.Type("q");
  ed.Undo();  // the typed character
  ed.Undo();  // the paste
  EXPECT_EQ(ed.Text(), text);
  EXPECT_EQ(ed.e->SelStart(), 6);
  EXPECT_EQ(ed.e->SelLength(), 8);
  EXPECT_EQ(ed.e->ParagraphCount(), 2);
  EXPECT_FALSE(ed.chain.CanUndo());
}

}  // namespace
}  // namespace zema
