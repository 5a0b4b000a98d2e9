// The session window on Qt's offscreen platform under a stream of output:
// 10^5 lines appended one by one through AppendSession, timed per 1,000
// lines at the start and at the end (the session trimmed at the default
// session_length of 100,000 characters, so the time must not grow); 10^6
// lines with the text length at the end (flat thanks to the trim); and the
// time from a typed key to its paint.
//   build/bench/zema-session-output-bench [--quick]
#include <QApplication>
#include <QKeyEvent>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <string>

#include "components/rich_edit.h"
#include "host/task.h"
#include "windows/session_window.h"
#include "windows/shell.h"

namespace {

using Clock = std::chrono::steady_clock;

double ms_since(Clock::time_point t0) { return std::chrono::duration<double, std::milli>(Clock::now() - t0).count(); }

class QuietTask : public zema::APLTask {
 public:
  void WriteOutput(const char*, std::size_t) override {}
  void FlushOutput() override {}
  Input ReadInputLine(std::string&) override { return Input::Ended; }
  int GetOneKeystroke() override { return 3; }
  std::uint32_t ReAllocateTaskMemory(std::uint32_t, std::uint8_t**) override { return 0; }
  [[noreturn]] void EndAPLTask() override { std::exit(0); }
  bool IsAwaitingInput() const override { return true; }
};

std::string line_of(long i) {
  char buf[96];
  std::snprintf(buf, sizeof buf, "%8ld  the result of a line of output, long enough to look real\n", i);
  return buf;
}

}  // namespace

int main(int argc, char** argv) {
  setenv("QT_QPA_PLATFORM", "offscreen", 0);
  QApplication app(argc, argv);
  const bool quick = argc > 1 && std::strcmp(argv[1], "--quick") == 0;
  QuietTask task;
  zema::APLShell shell(&task);
  auto* w = new zema::TAPLSessionWin("bench", &task);
  shell.AddWindowToShell(w);
  w->resize(800, 600);
  w->show();
  app.processEvents();

  const long lines = 100000;
  double first = 0, last = 0, worst = 0;
  long line = 0;
  for (long block = 0; block < lines / 1000; ++block) {
    const auto t0 = Clock::now();
    for (int i = 0; i < 1000; ++i) w->AppendSession(line_of(line++).c_str());
    app.processEvents();  // the paints of the block
    const double ms = ms_since(t0);
    if (block == 0) first = ms;
    if (block == lines / 1000 - 1) last = ms;
    worst = std::max(worst, ms);
  }
  std::printf("AppendSession, %ld lines: %.2f ms per 1,000 lines at the start, %.2f at the end, worst block %.2f; "
              "text %d characters\n",
              lines, first, last, worst, w->Contents->GetTextLen());

  const long more = quick ? 200000 : 1000000;
  const auto t0 = Clock::now();
  int longest = 0;
  for (long i = 0; i < more; ++i) {
    w->AppendSession(line_of(line++).c_str());
    longest = std::max(longest, w->Contents->GetTextLen());
    if (i % 1000 == 999) app.processEvents();
  }
  const double total = ms_since(t0);
  std::printf("%ld more lines: %.0f ms (%.2f ms per 1,000); text at the end %d characters, longest %d "
              "(session_length 100000)\n",
              more, total, total * 1000 / more, w->Contents->GetTextLen(), longest);

  // A typed key to its paint: the key event, then the paint it asks for.
  w->AppendSession("      ");
  w->activateWindow();
  app.processEvents();
  double key_best = 1e30, key_sum = 0;
  const int keys = 200;
  for (int i = 0; i < keys; ++i) {
    const auto k0 = Clock::now();
    const char c = static_cast<char>('a' + i % 26);
    QKeyEvent press(QEvent::KeyPress, Qt::Key_A + i % 26, Qt::NoModifier, QString(QChar(c)));
    QApplication::sendEvent(w->Contents, &press);
    w->Contents->repaint();
    const double ms = ms_since(k0);
    key_best = std::min(key_best, ms);
    key_sum += ms;
  }
  std::printf("typed key to painted, session of %d characters: %.3f ms mean, %.3f ms best\n",
              w->Contents->GetTextLen(), key_sum / keys, key_best);
  w->close();
  delete w;
  return 0;
}
