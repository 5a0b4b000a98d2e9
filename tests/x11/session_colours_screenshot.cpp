// A session window on a real X display (run under a virtual one by the test
// script): an ordinary output line, an error line written while the error
// colour is on, and a line typed with real key events at an input request.
// The window is photographed from the screen and each line's glyph pixels
// are checked to be in its own colour from the settings, and in neither of
// the other two. Writes the screenshot to the file named by its first
// argument (in the build folder) for a person to look at.
#include <QApplication>
#include <QImage>
#include <QPixmap>
#include <QScreen>
#include <QTest>

#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include "tests/x11/screenshot_checks.h"
#include "components/rich_edit.h"
#include "host/settings.h"
#include "host/task.h"
#include "windows/session_window.h"
#include "windows/shell.h"
#include "windows/shell_window.h"

namespace {

using screenshot::check;
using screenshot::failures;

// A task that waits for input once the test says so and keeps the lines it
// is given.
class InputTask : public zema::APLTask {
 public:
  bool awaiting = false;
  std::vector<std::string> lines;
  void WriteOutput(const char*, std::size_t) override {}
  void FlushOutput() override {}
  Input ReadInputLine(std::string&) override { return Input::Ended; }
  int GetOneKeystroke() override { return 0; }
  std::uint32_t ReAllocateTaskMemory(std::uint32_t, std::uint8_t**) override { return 0; }
  [[noreturn]] void EndAPLTask() override { std::abort(); }
  bool IsAwaitingInput() const override { return awaiting; }
};

struct Rgb {
  int r, g, b;
};

// A 0x00BBGGRR colour word.
Rgb from_word(std::int32_t w) { return {w & 0xFF, (w >> 8) & 0xFF, (w >> 16) & 0xFF}; }

int distance(Rgb a, QRgb p) { return std::abs(a.r - qRed(p)) + std::abs(a.g - qGreen(p)) + std::abs(a.b - qBlue(p)); }

// What one line's pixels hold: the pixels unlike the background (ink), and
// of those the ones within reach of each of the three colours.
struct LineInk {
  int ink = 0;
  int near[3] = {0, 0, 0};
};

LineInk ink_of(const QImage& shot, const QRect& r, Rgb background, const Rgb (&colours)[3]) {
  LineInk k;
  for (int y = r.top(); y <= r.bottom(); ++y)
    for (int x = r.left(); x <= r.right(); ++x) {
      const QRgb p = shot.pixel(x, y);
      if (distance(background, p) < 120) continue;
      ++k.ink;
      for (int i = 0; i < 3; ++i)
        if (distance(colours[i], p) < 90) ++k.near[i];
    }
  return k;
}

// The screen rectangle of a line's characters.
QRect line_rect(zema::MRichEdit* e, int line) {
  const int start = e->LineToChar(line);
  const int n = e->LineLength(line);
  QRect all;
  for (int i = start; i < start + n; ++i) {
    zema::SRect32 r;
    e->GetCharRectangle(i, r);
    const QPoint top_left = e->mapToGlobal(e->PointFromChar(i));
    all |= QRect(top_left, QSize(r.right - r.left, r.bottom - r.top));
  }
  return all;
}

}  // namespace

int main(int argc, char** argv) {
  QApplication app(argc, argv);
  if (!screenshot::on_x_display()) return 1;
  // Three colours far apart, none of them black, on white.
  zema::Settings settings;
  std::string error;
  for (const char* line : {"*session_background_color: 0x00ffffff", "*session_apl_output_color: 0x0000a000",
                           "*session_error_message_color: 0x000000e0", "*session_user_input_color: 0x00e00000"})
    if (settings.set_resource(line, &error) != 0) {
      std::fprintf(stderr, "setting %s refused: %s\n", line, error.c_str());
      return 1;
    }
  zema::set_live_settings(&settings);
  const Rgb background = from_word(zema::pref_number("session_background_color"));
  const Rgb colours[3] = {from_word(zema::pref_number("session_apl_output_color")),
                          from_word(zema::pref_number("session_error_message_color")),
                          from_word(zema::pref_number("session_user_input_color"))};
  const char* names[3] = {"output", "error", "input"};

  InputTask task;
  auto shell = std::make_unique<zema::APLShell>(&task);
  auto* w = new zema::TAPLSessionWin("session colours", &task);
  w->submit_line = [&task](const std::string& line) {
    task.lines.push_back(line);
    return true;
  };
  shell->AddWindowToShell(w);
  shell->session_window = w;
  w->Contents->SetFontSize(zema::ScreenNominalToFontsize(24));
  w->move(40, 40);
  w->resize(700, 300);

  w->AppendSession("ordinary output\n");
  w->SetErrorColour(true);
  w->AppendSession("VALUE ERROR\n");
  w->SetErrorColour(false);
  task.awaiting = true;
  w->AcceptMsg(zema::msg_apl_ready, 0, nullptr);
  if (!QTest::qWaitForWindowExposed(w)) {
    std::fprintf(stderr, "the window was never shown\n");
    return 1;
  }
  QTest::keyClicks(w->Contents, "typed line");
  QTest::keyClick(w->Contents, Qt::Key_Return);
  check(task.lines.size() == 1, "Enter submits one line");

  QTest::qWait(300);
  app.processEvents();
  w->Contents->HideInsertionPoint();
  w->Contents->repaint();
  QTest::qWait(100);

  const QImage shot = w->screen()->grabWindow(0).toImage();
  if (argc > 1) shot.save(QString::fromLocal8Bit(argv[1]));

  zema::MRichEdit* e = w->Contents;
  const char* expected[3] = {"ordinary output", "VALUE ERROR", "typed line"};
  for (int line = 0; line < 3; ++line) {
    std::string text(static_cast<std::size_t>(e->LineLength(line)), '\0');
    e->GetLine(line, text.data(), static_cast<int>(text.size()) + 1);
    check(text == expected[line], "line " + std::to_string(line) + " reads \"" + expected[line] + "\", not \"" + text + "\"");
    const QRect r = line_rect(e, line);
    check(!r.isEmpty() && shot.rect().contains(r), std::string(names[line]) + " line on the screen");
    if (r.isEmpty() || !shot.rect().contains(r)) continue;
    const LineInk k = ink_of(shot, r, background, colours);
    std::printf("%s line: %d ink pixels, near output %d, error %d, input %d\n", names[line], k.ink, k.near[0], k.near[1],
                k.near[2]);
    check(k.ink >= 100, std::string(names[line]) + " line has ink");
    // The glyphs' solid pixels are in the line's colour; the rest of the ink
    // is its edges blended with the background, never another colour.
    check(k.near[line] * 3 >= k.ink, std::string(names[line]) + " line drawn in its colour");
    for (int other = 0; other < 3; ++other)
      if (other != line) check(k.near[other] == 0, std::string(names[line]) + " line has no " + names[other] + " pixels");
  }
  // Closing deletes the window (later: the posted deletion runs here).
  shell->CloseAllWindows();
  QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
  shell.reset();
  zema::set_live_settings(nullptr);
  if (failures == 0) std::printf("the screenshot shows output, error and input each in its colour\n");
  return failures == 0 ? 0 : 1;
}
