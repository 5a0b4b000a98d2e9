// The printer lock, ⎕HC hard copy from a task thread, window printing and
// the printing dialogs, printed to PDF files whose text pdftotext reads.
#include <QPrintDialog>
#include <QSpinBox>
#include <QTemporaryDir>

#include <atomic>
#include <cstdio>
#include <thread>

#include "components/rich_edit.h"
#include "host/services.h"
#include "platform/message_box.h"
#include "windows/printing.h"
#include "window_fixture.h"

namespace zema {
namespace {

using testing_support::FakeTask;
using testing_support::WindowFixture;

// Runs `f` on a thread of its own whose task is `task`, as the interpreter
// runs ⎕HC, while the GUI thread goes on handling events (the page work
// that the thread hands over among them); answers f's answer.
template <class F>
auto OnTaskThread(APLTask* task, F f) {
  std::atomic<bool> done{false};
  decltype(f()) result{};
  std::thread thread([&] {
    set_current_apl_task(task);
    result = f();
    set_current_apl_task(nullptr);
    done = true;
  });
  while (!done) QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
  thread.join();
  return result;
}

// The text of a PDF file, pages separated by form feeds.
std::string PdfText(const QString& path) {
  const std::string command = "pdftotext -layout '" + path.toStdString() + "' - 2>/dev/null";
  std::string text;
  if (FILE* p = popen(command.c_str(), "r")) {
    char buffer[4096];
    std::size_t n;
    while ((n = fread(buffer, 1, sizeof buffer, p)) > 0) text.append(buffer, n);
    pclose(p);
  }
  return text;
}

int Count(const std::string& text, const std::string& what) {
  int n = 0;
  for (std::size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + what.size())) ++n;
  return n;
}

class Printing : public WindowFixture {
 protected:
  void SetUp() override {
    WindowFixture::SetUp();
    ASSERT_TRUE(dir_.isValid());
    ASSERT_TRUE(initialise_printer_lock());
    install_quadhc_handler();
    set_message_box_hook([this](const MessageBoxRequest& r) {
      messages_.push_back(r.caption + ": " + r.text);
      return static_cast<int>(MB_OK);
    });
  }
  void TearDown() override {
    set_quadhc_handler(nullptr);
    set_message_box_hook(nullptr);
    set_print_output_file("");
    WindowFixture::TearDown();
    EXPECT_FALSE(is_printer_busy());
    EXPECT_FALSE(qhc_job_open());
  }

  // Points every printer at a new PDF file and answers its path.
  QString PrintTo(const char* name) {
    const QString path = dir_.filePath(QString::fromUtf8(name));
    set_print_output_file(path.toStdString());
    return path;
  }

  TAPLShellText* NewText(APLShell* shell, const char* text) {
    auto* w = Add(new TAPLShellText, shell, kind_function_editor);
    w->AppendText(text);
    return w;
  }

  // Answers the copies dialog with `copies` and OK; counts the dialogs.
  void AnswerCopies(int copies) {
    set_run_modal_hook([this, copies](QDialog* d) {
      auto* p = dynamic_cast<TPrintDialog*>(d);
      if (!p) return 2;
      offered_.push_back(p->SpinEditCopies->value());
      p->SpinEditCopies->setValue(copies);
      return 1;
    });
  }

  QTemporaryDir dir_;
  std::vector<std::string> messages_;
  std::vector<int> offered_;
};

// ---------------------------------------------------------------- the lock

TEST_F(Printing, TheLockRefusesASecondUserAndIsFreeAfterUnlock) {
  EXPECT_FALSE(is_printer_busy());
  ASSERT_TRUE(lock_printer());
  EXPECT_TRUE(is_printer_busy());
  EXPECT_FALSE(lock_printer());
  unlock_printer();
  EXPECT_FALSE(is_printer_busy());
  EXPECT_TRUE(lock_printer());
  unlock_printer();
}

TEST_F(Printing, OfManyThreadsTryingTheLockAtOnceExactlyOneGetsIt) {
  std::atomic<int> winners{0};
  std::atomic<bool> go{false};
  std::vector<std::thread> threads;
  for (int i = 0; i < 8; ++i)
    threads.emplace_back([&] {
      while (!go) std::this_thread::yield();
      if (lock_printer()) ++winners;
    });
  go = true;
  for (auto& t : threads) t.join();
  EXPECT_EQ(winners.load(), 1);
  unlock_printer();
}

TEST_F(Printing, MarginSettingsBecomeThousandthsOfAnInch) {
  EXPECT_EQ(print_margin_thousandths(2540), 1000);
  EXPECT_EQ(print_margin_thousandths(1270), 500);
  EXPECT_EQ(print_margin_thousandths(0), 0);
}

// ---------------------------------------------------------------- ⎕HC

TEST_F(Printing, QuadHcCodesOnTheTaskThread) {
  APLShell* shell = NewShell();
  FakeTask* task = TaskOf(shell);
  PrintTo("modes.pdf");
  struct Step {
    int code, answer, mode;
    bool no_echo;
  };
  const Step steps[] = {
      {99, 0, 0, false},    {1000, 6, 0, false},  // no job: no-echo refused and left clear
      {-1, 0, -1, false},   {99, -1, -1, false},  {-1, 0, -1, false},  {1, 0, 1, false},
      {1000, 0, 1, true},   {99, 1, 1, true},     {-1000, 0, 1, false}, {1000, 0, 1, true},
      {5, 1, 1, true},      {0, 0, 0, false},     {99, 0, 0, false},    {0, 0, 0, false},
  };
  for (const Step& s : steps) {
    EXPECT_EQ(OnTaskThread(task, [&] { return quadhc(s.code); }), s.answer) << "code " << s.code;
    EXPECT_EQ(task->hardCopyMode, s.mode) << "code " << s.code;
    EXPECT_EQ(task->noEcho, s.no_echo) << "code " << s.code;
    EXPECT_EQ(is_printer_busy(), s.mode != 0) << "code " << s.code;
  }
}

TEST_F(Printing, WithoutATaskQuadHcAnswersOne) { EXPECT_EQ(quadhc(99), 1); }

TEST_F(Printing, TheJobHoldsThePrinterForItsTask) {
  APLShell* one = NewShell();
  APLShell* two = NewShell();
  PrintTo("held.pdf");
  ASSERT_EQ(OnTaskThread(TaskOf(one), [] { return quadhc(1); }), 0);
  EXPECT_EQ(OnTaskThread(TaskOf(two), [] { return quadhc(-1); }), 7);
  EXPECT_EQ(TaskOf(two)->hardCopyMode, 0);
  // Closing in a task without a job leaves the other task's job alone.
  EXPECT_EQ(OnTaskThread(TaskOf(two), [] { return quadhc(0); }), 0);
  EXPECT_TRUE(is_printer_busy());
  EXPECT_EQ(OnTaskThread(TaskOf(one), [] { return close_qhc(); }), 0);
  EXPECT_FALSE(is_printer_busy());
  EXPECT_EQ(OnTaskThread(TaskOf(two), [] { return quadhc(-1); }), 0);
  EXPECT_EQ(OnTaskThread(TaskOf(two), [] { return quadhc(0); }), 0);
}

TEST_F(Printing, EchoedLinesReachThePdfWhenTheJobCloses) {
  APLShell* shell = NewShell();
  FakeTask* task = TaskOf(shell);
  const QString path = PrintTo("echo.pdf");
  ASSERT_EQ(OnTaskThread(task, [] { return quadhc(1); }), 0);
  OnTaskThread(task, [] {
    write_printer("FIRST OUTPUT LINE\n", 1);
    write_printer("SECOND OUTPUT LINE\n", 1);
    return 0;
  });
  write_printer("TYPED INPUT LINE\r\n", 1);  // the session's echo, on the GUI thread
  // Switching the echo keeps the same document.
  ASSERT_EQ(OnTaskThread(task, [] { return quadhc(-1); }), 0);
  OnTaskThread(task, [] {
    write_printer("AFTER THE SWITCH\n", -1);
    return 0;
  });
  ASSERT_EQ(OnTaskThread(task, [] { return quadhc(0); }), 0);
  const std::string text = PdfText(path);
  const std::size_t a = text.find("FIRST OUTPUT LINE"), b = text.find("SECOND OUTPUT LINE"),
                    c = text.find("TYPED INPUT LINE"), d = text.find("AFTER THE SWITCH");
  ASSERT_NE(a, std::string::npos) << text;
  ASSERT_NE(b, std::string::npos) << text;
  ASSERT_NE(c, std::string::npos) << text;
  ASSERT_NE(d, std::string::npos) << text;
  EXPECT_LT(a, b);
  EXPECT_LT(b, c);
  EXPECT_LT(c, d);
  EXPECT_EQ(Count(text, "\f"), 1) << "one page";
  // Nothing is printed once the job is closed.
  write_printer("TOO LATE\n", 0);
  EXPECT_EQ(PdfText(path).find("TOO LATE"), std::string::npos);
}

TEST_F(Printing, TextPastTheBottomContinuesOnANewPageAndFormFeedStartsOne) {
  APLShell* shell = NewShell();
  const QString path = PrintTo("pages.pdf");
  ASSERT_EQ(OnTaskThread(TaskOf(shell), [] { return quadhc(1); }), 0);
  OnTaskThread(TaskOf(shell), [] {
    for (int i = 0; i < 150; ++i) write_printer(("LINE " + std::to_string(i) + "\n").c_str(), 1);
    write_printer("\fAFTER THE FORM FEED\n", 1);
    return 0;
  });
  ASSERT_EQ(OnTaskThread(TaskOf(shell), [] { return quadhc(0); }), 0);
  const std::string text = PdfText(path);
  const int pages = Count(text, "\f");
  EXPECT_GE(pages, 3) << text;
  for (int i : {0, 75, 149}) EXPECT_NE(text.find("LINE " + std::to_string(i) + "\n"), std::string::npos) << i;
  // The form feed's page holds nothing but what followed it.
  const std::size_t last_page = text.rfind('\f', text.size() - 2);
  ASSERT_NE(last_page, std::string::npos);
  EXPECT_NE(text.find("AFTER THE FORM FEED", last_page), std::string::npos);
  EXPECT_EQ(text.find("LINE 149", last_page), std::string::npos);
}

TEST_F(Printing, TaskAndGuiWritersAreSerialisedOnOneJob) {
  APLShell* shell = NewShell();
  FakeTask* task = TaskOf(shell);
  const QString path = PrintTo("both.pdf");
  ASSERT_EQ(OnTaskThread(task, [] { return quadhc(1); }), 0);
  std::atomic<bool> done{false};
  std::thread writer([&] {
    set_current_apl_task(task);
    for (int i = 0; i < 60; ++i) write_printer(("TASKLINE " + std::to_string(i) + "\n").c_str(), 1);
    set_current_apl_task(nullptr);
    done = true;
  });
  int gui = 0;
  while (!done) {
    if (gui < 60) write_printer(("GUILINE " + std::to_string(gui++) + "\r\n").c_str(), 1);
    QCoreApplication::processEvents(QEventLoop::AllEvents, 1);
  }
  writer.join();
  ASSERT_EQ(OnTaskThread(task, [] { return quadhc(0); }), 0);
  const std::string text = PdfText(path);
  for (int i = 0; i < 60; ++i) EXPECT_EQ(Count(text, "TASKLINE " + std::to_string(i) + "\n"), 1) << i;
  for (int i = 0; i < gui; ++i) EXPECT_EQ(Count(text, "GUILINE " + std::to_string(i) + "\n"), 1) << i;
}

// ---------------------------------------------------------------- windows

TEST_F(Printing, PrintWindowPrintsTheWindowsText) {
  APLShell* shell = NewShell();
  TAPLShellText* w = NewText(shell, "      RESULT IS 42\rSECOND LINE OF TEXT\r");
  const QString path = PrintTo("window.pdf");
  AnswerCopies(1);
  w->PrintWindowItemClick();
  const std::string text = PdfText(path);
  const std::size_t a = text.find("RESULT IS 42"), b = text.find("SECOND LINE OF TEXT");
  ASSERT_NE(a, std::string::npos) << text;
  ASSERT_NE(b, std::string::npos) << text;
  EXPECT_LT(a, b);
  EXPECT_FALSE(is_printer_busy());
  EXPECT_TRUE(messages_.empty());
  // The window keeps its text; the formatter's is a copy.
  EXPECT_EQ(w->Contents->GetTextCopy(), "      RESULT IS 42\rSECOND LINE OF TEXT\r");
}

TEST_F(Printing, ACancelledCopiesDialogPrintsNothingAndFreesThePrinter) {
  APLShell* shell = NewShell();
  TAPLShellText* w = NewText(shell, "NOT TO BE PRINTED\r");
  const QString path = PrintTo("cancelled.pdf");
  set_run_modal_hook([](QDialog* d) {
    EXPECT_EQ(d->windowTitle(), QStringLiteral("Print Document"));
    return 2;
  });
  w->PrintWindowItemClick();
  EXPECT_FALSE(QFile::exists(path));
  EXPECT_FALSE(is_printer_busy());
}

TEST_F(Printing, TheCopiesChosenAreOfferedNextTime) {
  APLShell* shell = NewShell();
  TAPLShellText* w = NewText(shell, "COPIED TEXT\r");
  PrintTo("copies.pdf");
  AnswerCopies(3);
  w->PrintWindowItemClick();
  AnswerCopies(1);
  w->PrintWindowItemClick();
  ASSERT_EQ(offered_.size(), 2u);
  EXPECT_EQ(offered_[1], 3);
}

TEST_F(Printing, AWindowPrintHoldsThePrinterAgainstQuadHc) {
  APLShell* shell = NewShell();
  FakeTask* task = TaskOf(shell);
  TAPLShellText* w = NewText(shell, "WINDOW TEXT ONLY\r");
  const QString path = PrintTo("window_first.pdf");
  int during = -1;
  set_run_modal_hook([&](QDialog*) {
    // While the copies dialog runs the window print holds the printer: ⎕HC
    // is refused and a task's output finds no job to print on.
    during = OnTaskThread(task, [] {
      const int answer = quadhc(1);
      write_printer("TASK OUTPUT\n", 1);
      return answer;
    });
    return 1;
  });
  w->PrintWindowItemClick();
  EXPECT_EQ(during, 7);
  EXPECT_EQ(task->hardCopyMode, 0);
  const std::string text = PdfText(path);
  EXPECT_NE(text.find("WINDOW TEXT ONLY"), std::string::npos) << text;
  EXPECT_EQ(text.find("TASK OUTPUT"), std::string::npos) << text;
  // And the printer is free again for ⎕HC.
  EXPECT_EQ(OnTaskThread(task, [] { return quadhc(1); }), 0);
  EXPECT_EQ(OnTaskThread(task, [] { return quadhc(0); }), 0);
}

TEST_F(Printing, PrintWindowDuringAHardCopyJobIsRefused) {
  APLShell* shell = NewShell();
  FakeTask* task = TaskOf(shell);
  TAPLShellText* w = NewText(shell, "MUST NOT PRINT\r");
  const QString path = PrintTo("job_first.pdf");
  ASSERT_EQ(OnTaskThread(task, [] { return quadhc(1); }), 0);
  int dialogs = 0;
  set_run_modal_hook([&](QDialog*) { return ++dialogs, 1; });
  w->PrintWindowItemClick();
  EXPECT_EQ(dialogs, 0);
  ASSERT_EQ(messages_.size(), 1u);
  EXPECT_EQ(messages_[0], "ZEMA Warning: Cannot open printer - it is already in use");
  EXPECT_TRUE(is_printer_busy());
  ASSERT_EQ(OnTaskThread(task, [] { return quadhc(0); }), 0);
  EXPECT_EQ(PdfText(path).find("MUST NOT PRINT"), std::string::npos);
}

TEST_F(Printing, PrintSetupRunsThePrintersDialogModally) {
  APLShell* shell = NewShell();
  TAPLShellText* w = NewText(shell, "");
  QPrinter* seen = nullptr;
  set_run_modal_hook([&](QDialog* d) {
    if (auto* p = dynamic_cast<QPrintDialog*>(d)) seen = p->printer();
    return 0;
  });
  w->PrintSetupItemClick();
  EXPECT_EQ(seen, &the_printer());
  EXPECT_FALSE(TPrinterSetupDialog(w).Execute());
}

}  // namespace
}  // namespace zema
