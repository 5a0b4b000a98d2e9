// A text window holding APL text and box-drawing characters, shown on a real
// X display (run under a virtual one by the test script), photographed from
// the screen and checked by its pixels: every character cell has ink, no two
// cells are alike, the APL symbols are not drawn as empty boxes, and the
// box-drawing lines run across their cells. Writes the screenshot to the file
// named by its first argument (in the build folder) for a person to look at.
#include <QApplication>
#include <QImage>
#include <QPixmap>
#include <QScreen>
#include <QTest>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "tests/x11/screenshot_checks.h"
#include "components/rich_edit.h"
#include "host/charset.h"
#include "windows/shell_text.h"
#include "windows/shell_window.h"

namespace {

using screenshot::check;
using screenshot::failures;

// The ink of one cell: true where a pixel is much darker than the
// background.
struct Cell {
  int width = 0, height = 0;
  std::vector<bool> ink;
  bool at(int x, int y) const { return ink[static_cast<std::size_t>(y * width + x)]; }
  int count() const {
    int n = 0;
    for (bool b : ink) n += b;
    return n;
  }
};

Cell cell_of(const QImage& shot, QRect r) {
  Cell c;
  c.width = r.width();
  c.height = r.height();
  c.ink.resize(static_cast<std::size_t>(c.width * c.height));
  for (int y = 0; y < c.height; ++y)
    for (int x = 0; x < c.width; ++x) {
      const QRgb p = shot.pixel(r.left() + x, r.top() + y);
      c.ink[static_cast<std::size_t>(y * c.width + x)] = qGray(p) < 128;
    }
  return c;
}

int difference(const Cell& a, const Cell& b) {
  int n = 0;
  for (std::size_t i = 0; i < a.ink.size() && i < b.ink.size(); ++i) n += a.ink[i] != b.ink[i];
  return n;
}

// A hollow rectangle: the ink's bounding box has ink along most of all four
// edges and little inside. A font without the glyph draws this.
bool is_empty_box(const Cell& c) {
  int left = c.width, right = -1, top = c.height, bottom = -1;
  for (int y = 0; y < c.height; ++y)
    for (int x = 0; x < c.width; ++x)
      if (c.at(x, y)) {
        left = std::min(left, x), right = std::max(right, x);
        top = std::min(top, y), bottom = std::max(bottom, y);
      }
  if (right - left < 3 || bottom - top < 3) return false;
  auto edge = [&](int x0, int y0, int dx, int dy, int n) {
    int k = 0;
    for (int i = 0; i < n; ++i) k += c.at(x0 + i * dx, y0 + i * dy);
    return k * 10 >= n * 8;
  };
  const int w = right - left + 1, h = bottom - top + 1;
  if (!edge(left, top, 1, 0, w) || !edge(left, bottom, 1, 0, w) || !edge(left, top, 0, 1, h) || !edge(right, top, 0, 1, h))
    return false;
  int inside = 0;
  for (int y = top + 2; y < bottom - 1; ++y)
    for (int x = left + 2; x < right - 1; ++x) inside += c.at(x, y);
  return inside * 10 < (w - 3) * (h - 3) * 2;
}

bool has_full_row(const Cell& c) {
  for (int y = 0; y < c.height; ++y) {
    int k = 0;
    for (int x = 0; x < c.width; ++x) k += c.at(x, y);
    if (k * 10 >= c.width * 9) return true;
  }
  return false;
}

bool has_full_column(const Cell& c) {
  for (int x = 0; x < c.width; ++x) {
    int k = 0;
    for (int y = 0; y < c.height; ++y) k += c.at(x, y);
    if (k * 10 >= c.height * 9) return true;
  }
  return false;
}

}  // namespace

int main(int argc, char** argv) {
  QApplication app(argc, argv);
  if (!screenshot::on_x_display()) return 1;
  const std::u32string symbols = U"⍴⍳⍋∇⎕┌─┐│└┘";
  std::string text;
  for (char32_t u : symbols) text += static_cast<char>(zema::fontout(zema::convert_from_unicode(u)));

  auto* w = new zema::TAPLShellText;
  w->SetWindowTitle("APL text");
  w->Contents->SetFontSize(zema::ScreenNominalToFontsize(28));
  w->Contents->SetTextBuf(text.c_str());
  w->Contents->SetSelectionRange(0, 0);
  w->Contents->SetTextColour(0, -1, 0);
  w->move(40, 40);
  w->resize(700, 260);
  w->show();
  if (!QTest::qWaitForWindowExposed(w)) {
    std::fprintf(stderr, "the window was never shown\n");
    return 1;
  }
  QTest::qWait(300);
  app.processEvents();
  w->Contents->HideInsertionPoint();
  w->Contents->repaint();
  QTest::qWait(100);

  const QImage shot = w->screen()->grabWindow(0).toImage();
  if (argc > 1) shot.save(QString::fromLocal8Bit(argv[1]));

  std::vector<Cell> cells;
  for (int i = 0; i < static_cast<int>(text.size()); ++i) {
    zema::SRect32 r;
    w->Contents->GetCharRectangle(i, r);
    const QPoint top_left = w->Contents->mapToGlobal(w->Contents->PointFromChar(i));
    const QRect cell(top_left, QSize(r.right - r.left, r.bottom - r.top));
    check(cell.width() > 4 && cell.height() > 8 && shot.rect().contains(cell), "cell " + std::to_string(i) + " on the screen");
    if (!shot.rect().contains(cell)) return 1;
    cells.push_back(cell_of(shot, cell));
  }
  const char* names[] = {"rho", "iota", "grade up", "del", "quad", "corner top left", "horizontal line",
                         "corner top right", "vertical line", "corner bottom left", "corner bottom right"};
  for (std::size_t i = 0; i < cells.size(); ++i) {
    check(cells[i].count() >= 8, std::string(names[i]) + " has ink");
    if (i < 4) check(!is_empty_box(cells[i]), std::string(names[i]) + " is drawn, not an empty box");
    for (std::size_t j = 0; j < i; ++j)
      check(difference(cells[i], cells[j]) >= 6, std::string(names[i]) + " differs from " + names[j]);
  }
  // ZEMA_DUMP_CELLS=1 prints each cell's ink, to see what the checks saw.
  if (std::getenv("ZEMA_DUMP_CELLS"))
    for (const Cell& c : cells) {
      for (int y = 0; y < c.height; ++y) {
        for (int x = 0; x < c.width; ++x) std::fputc(c.at(x, y) ? '#' : '.', stderr);
        std::fputc('\n', stderr);
      }
      std::fputc('\n', stderr);
    }
  check(has_full_row(cells[6]), "the horizontal line crosses its cell");
  check(has_full_column(cells[8]), "the vertical line runs down its cell");
  check(!has_full_row(cells[8]) && !has_full_column(cells[6]), "the two lines are not both ways");
  delete w;
  if (failures == 0) std::printf("the screenshot shows the %zu characters\n", cells.size());
  return failures == 0 ? 0 : 1;
}
