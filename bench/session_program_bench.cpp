// The program's session under a stream of interpreter output, on Qt's
// offscreen platform: a LocalTask on its own thread runs a defined function
// that prints ⍳10 in a :For loop, its flushed output handed to the GUI
// thread and appended to a TAPLSessionWin as the program wires it
// (session_text → AppendSession, the 200 ms attention tick). As the lines
// reach the window every 1,000 of them are timestamped, with the GUI
// thread's CPU time (hand-offs, appends, paints) and the time spent in
// AppendSession and in the text control's paints. Prints the same loop with
// the lines counted but not appended (the interpreter and the hand-off
// alone); for 10^5 lines, ms per 1,000 lines at the start and at the end;
// for 10^6 lines (2·10^5 with --quick) the window's text length and the
// process's resident memory every 10^5 lines; then the time from a key
// typed at the input request to its paint.
//   build/bench/zema-session-program-bench [--quick]
#include <QApplication>
#include <QEventLoop>
#include <QKeyEvent>
#include <QPointer>
#include <QTimer>

#include <time.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <string>
#include <vector>

#include "components/rich_edit.h"
#include "host/charset.h"
#include "program/local_task.h"
#include "windows/session_window.h"
#include "windows/shell.h"

namespace {

using Clock = std::chrono::steady_clock;
using zema::LocalTask;
using zema::TAPLSessionWin;

double ms_between(Clock::time_point a, Clock::time_point b) {
  return std::chrono::duration<double, std::milli>(b - a).count();
}

// CPU time of the calling thread.
double thread_cpu_ms() {
  timespec t{};
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
  return double(t.tv_sec) * 1e3 + double(t.tv_nsec) / 1e6;
}

long resident_kb() {
  std::ifstream f("/proc/self/status");
  for (std::string line; std::getline(f, line);)
    if (line.rfind("VmRSS:", 0) == 0) return std::stol(line.substr(6));
  return -1;
}

// Sums the time the window's text control spends painting.
class PaintClock : public QObject {
 public:
  double ms = 0;
  long paints = 0;
  bool eventFilter(QObject* o, QEvent* e) override {
    if (e->type() == QEvent::Paint) {
      const auto t0 = Clock::now();
      // The paint runs inside this filter so that it can be timed; the
      // event is then taken as handled.
      static_cast<QWidget*>(o)->removeEventFilter(this);
      QCoreApplication::sendEvent(o, e);
      static_cast<QWidget*>(o)->installEventFilter(this);
      ms += ms_between(t0, Clock::now());
      ++paints;
      return true;
    }
    return false;
  }
};

// What reaches the window: lines counted and timestamped per 1,000, and
// the time spent appending them.
struct Arrivals {
  long lines = 0;
  double append_ms = 0;
  std::vector<Clock::time_point> marks;  // at lines 1000, 2000, ...
  std::vector<double> append_marks;      // append_ms at the same points
  std::vector<double> paint_marks;       // paint ms at the same points
  std::vector<double> cpu_marks;         // the GUI thread's CPU time
  std::vector<long> rss_marks;           // resident kB every 100,000 lines
  void reset() {
    lines = 0;
    append_ms = 0;
    marks.clear();
    append_marks.clear();
    paint_marks.clear();
    cpu_marks.clear();
    rss_marks.clear();
  }
};

// ms per 1,000 lines over the blocks [from, to) of the marks.
double per_thousand(const std::vector<Clock::time_point>& marks, std::size_t from, std::size_t to) {
  return ms_between(marks[from], marks[to]) / double(to - from);
}
double per_thousand(const std::vector<double>& marks, std::size_t from, std::size_t to) {
  return (marks[to] - marks[from]) / double(to - from);
}

}  // namespace

int main(int argc, char** argv) {
  setenv("QT_QPA_PLATFORM", "offscreen", 0);
  QApplication app(argc, argv);
  QApplication::setQuitOnLastWindowClosed(false);
  const bool quick = argc > 1 && std::strcmp(argv[1], "--quick") == 0;

  // A first task that never starts, so that the measured task is not the
  // package's (no )SLOAD) and is given its lines directly.
  LocalTask first(LocalTask::Front{});

  QPointer<TAPLSessionWin> session;
  LocalTask* task_of_window = nullptr;
  PaintClock paint_clock;
  Arrivals seen;
  bool ended = false;
  bool to_window = true;  // false: the lines are counted, not appended
  LocalTask::Front front;
  front.window = false;
  front.ended = [&](int) { ended = true; };
  front.session_text = [&](const std::string& text, bool overwrite) {
    if (!session || !task_of_window) return;
    if (to_window && !task_of_window->noEcho) {
      const auto t0 = Clock::now();
      session->overwrite = overwrite;
      session->AppendSession(text.c_str());
      session->overwrite = false;
      seen.append_ms += ms_between(t0, Clock::now());
    }
    const long before = seen.lines;
    seen.lines += std::count(text.begin(), text.end(), '\r');
    for (long k = before / 1000 + 1; k <= seen.lines / 1000; ++k) {
      seen.marks.push_back(Clock::now());
      seen.append_marks.push_back(seen.append_ms);
      seen.paint_marks.push_back(paint_clock.ms);
      seen.cpu_marks.push_back(thread_cpu_ms());
      if (k % 100 == 0) seen.rss_marks.push_back(resident_kb());
    }
  };
  TAPLSessionWin* window_for_task = nullptr;
  front.error_colour = [&](bool on) {
    if (window_for_task) window_for_task->SetErrorColour(on);
  };
  LocalTask task(std::move(front));
  if (!task.AllocateTaskMemory(16.0 * 1024 * 1024)) return 1;
  zema::APLShell shell(&task);
  session = new TAPLSessionWin("bench", &task);
  window_for_task = session;
  task_of_window = &task;
  shell.session_window = session;
  shell.AddWindowToShell(session);
  session->submit_line = [&task](const std::string& line) { return task.ExecuteInputLine(line); };
  session->flush_output = [&task] { task.FlushOutput(); };
  session->resize(800, 600);
  session->show();
  session->Contents->installEventFilter(&paint_clock);
  QTimer tick;
  QObject::connect(&tick, &QTimer::timeout, [&task] { task.Tick(); });
  tick.start(200);
  task.Start();

  // Runs the event loop, as the program's does, until the task waits for
  // a line (or has ended).
  auto wait_for_input = [&] {
    QEventLoop loop;
    QTimer poll;
    QObject::connect(&poll, &QTimer::timeout, [&] {
      if (task.IsAwaitingInput() || ended) loop.quit();
    });
    poll.start(1);
    if (!task.IsAwaitingInput() && !ended) loop.exec();
    app.processEvents();
  };
  auto send = [&](const char* utf8) {
    wait_for_input();
    if (!task.ExecuteInputLine(zema::utf8_line_to_internal(utf8))) {
      std::fprintf(stderr, "line not taken: %s\n", utf8);
      std::exit(1);
    }
  };
  for (const char* line : {"∇P N;I", ":For I :In ⍳N", "⎕←⍳10", ":EndFor", "∇"}) send(line);
  wait_for_input();

  // 10^5 lines counted but not appended: the interpreter and the hand-off
  // to the GUI thread alone.
  const long lines = 100000;
  to_window = false;
  seen.reset();
  const auto b0 = Clock::now();
  send(("P " + std::to_string(lines)).c_str());
  wait_for_input();
  const double bare = ms_between(b0, Clock::now());
  to_window = true;
  std::printf("10^5 lines of ⎕←⍳10 through the task, not appended: %.0f ms (%.2f ms per 1,000 lines)\n", bare,
              bare * 1000 / lines);

  // 10^5 lines.
  seen.reset();
  const double paint_before = paint_clock.ms;
  const auto t0 = Clock::now();
  send(("P " + std::to_string(lines)).c_str());
  wait_for_input();
  const double total = ms_between(t0, Clock::now());
  if (seen.marks.size() < 20) {
    std::fprintf(stderr, "only %ld lines reached the window\n", seen.lines);
    return 1;
  }
  const std::size_t n = seen.marks.size();
  std::printf(
      "10^5 lines of ⎕←⍳10 through the task to the window: %.0f ms (%.2f ms per 1,000 lines); "
      "in AppendSession %.0f ms, painting %.0f ms (%ld paints so far)\n",
      total, total * 1000 / lines, seen.append_ms, paint_clock.ms - paint_before, paint_clock.paints);
  std::printf("  ms per 1,000 lines   wall   GUI thread CPU   AppendSession   paint\n");
  std::printf("  lines 1k-10k     %8.2f  %12.3f  %12.3f  %9.3f\n", per_thousand(seen.marks, 0, 9),
              per_thousand(seen.cpu_marks, 0, 9), per_thousand(seen.append_marks, 0, 9),
              per_thousand(seen.paint_marks, 0, 9));
  std::printf("  last 9k lines    %8.2f  %12.3f  %12.3f  %9.3f\n", per_thousand(seen.marks, n - 10, n - 1),
              per_thousand(seen.cpu_marks, n - 10, n - 1), per_thousand(seen.append_marks, n - 10, n - 1),
              per_thousand(seen.paint_marks, n - 10, n - 1));
  double worst = 0;
  for (std::size_t i = 1; i < n; ++i) worst = std::max(worst, ms_between(seen.marks[i - 1], seen.marks[i]));
  std::printf("  worst 1,000 lines (wall) %.2f ms; text %d characters\n", worst, session->Contents->GetTextLen());

  // 10^6 lines: the trim keeps the text, and memory, flat.
  const long more = quick ? 200000 : 1000000;
  const long rss_start = resident_kb();
  const int text_start = session->Contents->GetTextLen();
  seen.reset();
  int longest = 0;
  QTimer probe;
  QObject::connect(&probe, &QTimer::timeout, [&] { longest = std::max(longest, session->Contents->GetTextLen()); });
  probe.start(10);
  const auto m0 = Clock::now();
  send(("P " + std::to_string(more)).c_str());
  wait_for_input();
  probe.stop();
  const double more_ms = ms_between(m0, Clock::now());
  const std::size_t mn = seen.marks.size();
  std::printf(
      "%ld more lines: %.0f ms (%.2f ms per 1,000; first 10k %.2f, last 10k %.2f); text %d characters at the "
      "start, %d at the end, longest seen %d; RSS %ld kB at the start, %ld kB at the end\n",
      more, more_ms, more_ms * 1000 / more, per_thousand(seen.marks, 0, 10), per_thousand(seen.marks, mn - 11, mn - 1),
      text_start, session->Contents->GetTextLen(), longest, rss_start, resident_kb());
  std::printf("  GUI thread CPU per 1,000 lines: first 10k %.3f ms, last 10k %.3f ms; RSS every 10^5 lines (kB):",
              per_thousand(seen.cpu_marks, 0, 10), per_thousand(seen.cpu_marks, mn - 11, mn - 1));
  for (long kb : seen.rss_marks) std::printf(" %ld", kb);
  std::printf("\n");

  // A key typed at the input request, to its paint.
  session->activateWindow();
  app.processEvents();
  double key_best = 1e30, key_sum = 0, key_worst = 0;
  const int keys = 200;
  for (int i = 0; i < keys; ++i) {
    const long paints = paint_clock.paints;
    const auto k0 = Clock::now();
    const char c = static_cast<char>('a' + i % 26);
    QKeyEvent press(QEvent::KeyPress, Qt::Key_A + i % 26, Qt::NoModifier, QString(QChar(c)));
    QApplication::sendEvent(session->Contents, &press);
    while (paint_clock.paints == paints) app.processEvents();
    const double ms = ms_between(k0, Clock::now());
    key_best = std::min(key_best, ms);
    key_worst = std::max(key_worst, ms);
    key_sum += ms;
  }
  std::printf(
      "typed key to painted at the input request, session of %d characters: %.3f ms mean, %.3f best, "
      "%.3f worst\n",
      session->Contents->GetTextLen(), key_sum / keys, key_best, key_worst);

  task.RequestQuit();
  wait_for_input();
  task.Join();
  window_for_task = nullptr;
  shell.CloseAllWindows();
  QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
  return 0;
}
