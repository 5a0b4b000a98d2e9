// The text control under session-like load, on Qt's offscreen platform:
// appending lines one at a time with the view kept at the end, and typing a
// character into a long text. Reports ms per 1,000 appended lines at several
// text lengths (the cost per line must not grow with the length) and ms per key.
//   build/bench/zema-rich-edit-bench [--quick]
#include <QApplication>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "components/rich_edit.h"

namespace {

double ms_since(std::chrono::steady_clock::time_point t0) {
  return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - t0).count();
}

}  // namespace

int main(int argc, char** argv) {
  setenv("QT_QPA_PLATFORM", "offscreen", 0);
  QApplication app(argc, argv);
  const bool quick = argc > 1 && std::strcmp(argv[1], "--quick") == 0;
  const int lines = quick ? 20000 : 100000;
  zema::MRichEdit e;
  e.resize(800, 600);
  e.SetWordWrap(false);
  e.show();
  std::printf("appending %d lines, view at the end after each\n", lines);
  auto t0 = std::chrono::steady_clock::now();
  for (int i = 1; i <= lines; ++i) {
    const std::string line = "      output line " + std::to_string(i) + " of the session, some words";
    e.AddLine(line.c_str());
    e.ShowCharPosition(e.length());
    if (i % (lines / 5) == 0) {
      app.processEvents();
      std::printf("  lines %6d..%6d: %.2f ms per 1,000 lines\n", i - lines / 5 + 1, i, ms_since(t0) / (lines / 5) * 1000);
      t0 = std::chrono::steady_clock::now();
    }
  }
  const int keys = 200;
  e.SetInsertionPoint(e.length() / 2, false);
  t0 = std::chrono::steady_clock::now();
  for (int i = 0; i < keys; ++i) {
    e.InputKeyPressed('x');
    app.processEvents();
  }
  std::printf("typing into %d lines (mid-text): %.3f ms per key\n", e.GetLineCount(), ms_since(t0) / keys);
  e.SetInsertionPoint(e.length(), false);
  t0 = std::chrono::steady_clock::now();
  for (int i = 0; i < keys; ++i) {
    e.InputKeyPressed('x');
    app.processEvents();
  }
  std::printf("typing into %d lines (at the end): %.3f ms per key\n", e.GetLineCount(), ms_since(t0) / keys);
  // The text change and its layout alone (painting suppressed), mid-text.
  e.SetRedraw(false);
  e.SetInsertionPoint(e.length() / 2, false);
  t0 = std::chrono::steady_clock::now();
  for (int i = 0; i < keys; ++i) e.InputKeyPressed('x');
  std::printf("typing into %d lines (mid-text, no painting): %.3f ms per key\n", e.GetLineCount(), ms_since(t0) / keys);
  return 0;
}
