// What the screenshot tests share: failed checks counted and reported on
// standard error, and the refusal to run anywhere but on an X display.
#pragma once

#include <QGuiApplication>

#include <cstdio>
#include <string>

namespace screenshot {

inline int failures = 0;

// Reports `what` when `ok` is false and counts it.
inline void check(bool ok, const std::string& what) {
  if (!ok) {
    std::fprintf(stderr, "FAIL: %s\n", what.c_str());
    ++failures;
  }
}

// True on Qt's X11 platform; otherwise says what is needed, false.
inline bool on_x_display() {
  if (QGuiApplication::platformName() == QLatin1String("xcb")) return true;
  std::fprintf(stderr, "needs an X display (QT_QPA_PLATFORM=xcb), not %s\n", qPrintable(QGuiApplication::platformName()));
  return false;
}

}  // namespace screenshot
