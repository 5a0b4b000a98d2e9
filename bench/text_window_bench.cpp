// A text window on Qt's offscreen platform under large texts: opening it on
// 10^5 lines (the window made, the text set and the first paint), a Find
// through the window over 10^5 lines (the match at the far end; set against
// std::string::find over the same text), and Replace All of 10^4 matches
// (set against a plain loop building the replaced std::string).
//   build/bench/zema-text-window-bench [--quick]
#include <QApplication>
#include <QLabel>
#include <QLineEdit>
#include <QRadioButton>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <string>

#include "components/rich_edit.h"
#include "windows/find_dialog.h"
#include "windows/shell_text.h"

namespace {

using Clock = std::chrono::steady_clock;

double ms_since(Clock::time_point t0) { return std::chrono::duration<double, std::milli>(Clock::now() - t0).count(); }

std::string lines_of(int n, const char* line) {
  std::string s;
  const std::size_t len = std::strlen(line);
  s.reserve(len * static_cast<std::size_t>(n) + 32);
  for (int i = 0; i < n; ++i) s.append(line, len);
  return s;
}

}  // namespace

int main(int argc, char** argv) {
  setenv("QT_QPA_PLATFORM", "offscreen", 0);
  QApplication app(argc, argv);
  const bool quick = argc > 1 && std::strcmp(argv[1], "--quick") == 0;
  const int lines = 100000, reps = quick ? 2 : 5;
  std::string text = lines_of(lines, "      R<-data[index]+count  a line of the window's text\r");
  text += "the needle at the end\r";

  double open_best = 1e30;
  for (int r = 0; r < reps; ++r) {
    const auto t0 = Clock::now();
    auto* w = new zema::TAPLShellText;
    w->resize(800, 600);
    w->Contents->SetTextBuf(text.c_str());
    w->show();
    app.processEvents();
    open_best = std::min(open_best, ms_since(t0));
    w->close();
    app.processEvents();
  }
  std::printf("opening a text window on %d lines: %.1f ms (best of %d)\n", lines, open_best, reps);

  auto* w = new zema::TAPLShellText;
  w->resize(800, 600);
  w->Contents->SetTextBuf(text.c_str());
  w->show();
  app.processEvents();
  zema::TAPLFindDialog* d = zema::find_dialog();
  d->SetFindText("needle");
  d->RadioButtonStop->setChecked(true);
  double find_best = 1e30, plain_best = 1e30;
  for (int r = 0; r < reps * 2; ++r) {
    w->Contents->SetSelectionRange(0, 0);
    auto t0 = Clock::now();
    w->FindDialogFind();
    find_best = std::min(find_best, ms_since(t0));
    t0 = Clock::now();
    volatile std::size_t at = text.find("needle");
    (void)at;
    plain_best = std::min(plain_best, ms_since(t0));
  }
  std::printf("find over %d lines through the window: %.3f ms per search; std::string::find %.3f ms; ratio %.2f\n",
              lines, find_best, plain_best, find_best / plain_best);
  w->close();
  app.processEvents();

  const int matches = 10000;
  const std::string source = lines_of(matches, "x := value of the item\r");
  double replace_best = 1e30, plain_replace = 1e30;
  for (int r = 0; r < reps; ++r) {
    auto* v = new zema::TAPLShellText;
    v->resize(800, 600);
    v->Contents->SetTextBuf(source.c_str());
    v->show();
    app.processEvents();
    v->Contents->SetSelectionRange(0, 0);
    d->find_target = v;
    d->SetFindText(":=");
    d->EditReplace->setText(QStringLiteral("<-"));
    d->RadioButtonWrap->setChecked(true);
    auto t0 = Clock::now();
    v->FindDialogReplaceAll();
    replace_best = std::min(replace_best, ms_since(t0));
    const std::string status = d->StaticStatus->text().toStdString();
    if (r == 0) std::printf("  Replace All: %s\n", status.c_str());
    t0 = Clock::now();
    std::string out;
    out.reserve(source.size());
    std::size_t from = 0;
    for (std::size_t at = source.find(":="); at != std::string::npos; at = source.find(":=", from)) {
      out.append(source, from, at - from);
      out += "<-";
      from = at + 2;
    }
    out.append(source, from, std::string::npos);
    plain_replace = std::min(plain_replace, ms_since(t0));
    v->close();
    app.processEvents();
  }
  std::printf("Replace All of %d matches: %.1f ms; plain C++ loop %.3f ms; ratio %.0f\n", matches, replace_best,
              plain_replace, replace_best / plain_replace);
  return 0;
}
