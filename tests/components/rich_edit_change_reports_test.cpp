// Every way the text control changes its text reports the change twice:
// before it, with the range about to be replaced, and after it. A window's
// undo chain rebuilds each change from these two reports, so the range must
// hold everything that changed and the after-report must never be missing.
#include <gtest/gtest.h>

#include <QApplication>
#include <QClipboard>
#include <QTest>
#include <QVBoxLayout>
#include <QWidget>

#include <functional>
#include <string>

#include "components/rich_edit.h"

namespace zema {
namespace {

// A shown, focused control whose reports are written down as
// "P<start>-<end>" and "C"; each after-report is checked against the text
// kept at the matching before-report: only [start, end) may differ.
struct Reporting {
  Reporting() {
    auto* layout = new QVBoxLayout(&w);
    e = new MRichEdit;
    layout->addWidget(e);
    w.resize(400, 200);
    e->SetWordWrap(false);
    w.show();
    QApplication::setActiveWindow(&w);
    e->setFocus();
    QApplication::processEvents();
  }
  void Start(const std::string& text, int sel_start, int sel_end) {
    e->OnProtectChange = nullptr;
    e->OnChange = nullptr;
    e->SetTextBuf(text.c_str());
    e->SetSelectionRange(sel_start, sel_end);
    log.clear();
    faults.clear();
    e->OnProtectChange = [this](MRichEdit* c, int s, int t, bool& allow) {
      allow = true;
      log += "P" + std::to_string(s) + "-" + std::to_string(t) + " ";
      before = c->GetTextCopy();
      from = s;
      to = t;
      open = true;
    };
    e->OnChange = [this](MRichEdit* c) {
      log += "C ";
      if (!open) faults += "after-report without before-report; ";
      open = false;
      const std::string after = c->GetTextCopy();
      const std::size_t tail = before.size() - static_cast<std::size_t>(to);
      if (after.compare(0, from, before, 0, from) != 0 || after.size() < from + tail ||
          after.compare(after.size() - tail, tail, before, to, tail) != 0)
        faults += "changed outside [" + std::to_string(from) + "," + std::to_string(to) + "): '" + before +
                  "' -> '" + after + "'; ";
    };
  }
  QWidget w;
  MRichEdit* e = nullptr;
  std::string log, faults, before;
  std::size_t from = 0, to = 0;
  bool open = false;
};

TEST(RichEditChangeReports, EveryChangePathReportsTheReplacedRangeBeforeAndAfter) {
  const std::string t = "abc\rdef\rghi";  // 11 characters, three lines
  struct Case {
    const char* name;
    int sel_start, sel_end;
    std::function<void(MRichEdit*)> act;
    const char* log;
    const char* text;
  } cases[] = {
      {"typed character", 2, 2, [](MRichEdit* e) { QTest::keyClick(e, Qt::Key_X); }, "P2-2 C ", "abxc\rdef\rghi"},
      {"Backspace", 2, 2, [](MRichEdit* e) { QTest::keyClick(e, Qt::Key_Backspace); }, "P1-2 C ", "ac\rdef\rghi"},
      {"Delete", 2, 2, [](MRichEdit* e) { QTest::keyClick(e, Qt::Key_Delete); }, "P2-3 C ", "ab\rdef\rghi"},
      {"Enter", 2, 2, [](MRichEdit* e) { QTest::keyClick(e, Qt::Key_Return); }, "P2-2 C ", "ab\rc\rdef\rghi"},
      {"typed over a selection", 1, 6, [](MRichEdit* e) { QTest::keyClick(e, Qt::Key_Z); }, "P1-6 C ", "azf\rghi"},
      {"Backspace on a selection", 1, 6, [](MRichEdit* e) { QTest::keyClick(e, Qt::Key_Backspace); }, "P1-6 C ",
       "af\rghi"},
      {"Delete on a selection", 1, 6, [](MRichEdit* e) { QTest::keyClick(e, Qt::Key_Delete); }, "P1-6 C ", "af\rghi"},
      {"paste over a selection", 4, 7,
       [](MRichEdit* e) {
         QApplication::clipboard()->setText("P\nQ");
         e->PasteFromClipboard();
       },
       "P4-7 C ", "abc\rP\rQ\rghi"},
      {"cut", 0, 4, [](MRichEdit* e) { e->CutToClipboard(); }, "P0-4 C ", "def\rghi"},
      {"clear", 8, 11, [](MRichEdit* e) { e->ClearSelection(); }, "P8-11 C ", "abc\rdef\r"},
      {"copy changes nothing", 0, 4, [](MRichEdit* e) { e->CopyToClipboard(); }, "", "abc\rdef\rghi"},
      {"SetSelTextBuf", 1, 2, [](MRichEdit* e) { e->SetSelTextBuf("XY"); }, "P1-2 C ", "aXYc\rdef\rghi"},
      {"InsertText", 5, 5, [](MRichEdit* e) { e->InsertText("12", 2, -1); }, "P5-5 C ", "abc\rd12ef\rghi"},
      {"DeleteText", 0, 0, [](MRichEdit* e) { e->DeleteText(3, 2, false); }, "P3-5 C ", "abcef\rghi"},
      {"DeleteText past the end is clipped", 0, 0, [](MRichEdit* e) { e->DeleteText(9, 50, false); }, "P9-11 C ",
       "abc\rdef\rg"},
      {"quiet DeleteText reports nothing", 0, 0, [](MRichEdit* e) { e->DeleteText(3, 2, true); }, "", "abcef\rghi"},
      {"SetTextBuf", 2, 2, [](MRichEdit* e) { e->SetTextBuf("new"); }, "P0-11 C P0-0 C ", "new"},
      {"SetText", 2, 2, [](MRichEdit* e) { e->SetText("new"); }, "P0-11 C ", "new"},
      {"Clear", 2, 2, [](MRichEdit* e) { e->Clear(); }, "P0-11 C ", ""},
      {"InsertAt", 0, 1, [](MRichEdit* e) { e->InsertAt(4, "zz"); }, "P4-4 C ", "abc\rzzdef\rghi"},
      {"AddLine", 0, 0, [](MRichEdit* e) { e->AddLine("jk"); }, "P11-11 C P12-12 C ", "abc\rdef\rghi\rjk"},
      {"AppendLine", 0, 0, [](MRichEdit* e) { e->AppendLine("jk"); }, "P11-11 C P12-12 C ", "abc\rdef\rghi\rjk"},
      {"DeleteLine", 0, 0, [](MRichEdit* e) { e->DeleteLine(1); }, "P4-8 C ", "abc\rghi"},
      {"the control's own undo", 11, 11,
       [](MRichEdit* e) {
         QTest::keyClicks(e, "xy");
         e->Undo();
       },
       "P11-11 C P12-12 C P11-13 C ", "abc\rdef\rghi"},
      // Past the length limit the typed text is refused, but the selection it
      // was to replace is already gone: that change is reported too.
      {"selection replaced past the length limit", 1, 2,
       [](MRichEdit* e) {
         e->SetMaxLength(11);
         e->SetSelTextBuf("XYZ");
       },
       "P1-2 C ", "ac\rdef\rghi"},
  };
  for (const Case& k : cases) {
    Reporting r;
    r.Start(t, k.sel_start, k.sel_end);
    k.act(r.e);
    EXPECT_EQ(r.log, k.log) << k.name;
    EXPECT_EQ(r.faults, "") << k.name;
    EXPECT_EQ(r.e->GetTextCopy(), k.text) << k.name;
  }
}

}  // namespace
}  // namespace zema
