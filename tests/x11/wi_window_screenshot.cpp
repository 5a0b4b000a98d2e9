// A ⎕WI Window with a caption and a Button, made through the task's ⎕WI
// requests, shown on a real X display (run under a virtual one by the test
// script), photographed from the screen and checked by its pixels: the
// window's white background around the button, a button face of its own
// colour with a darker border where the button stands, and the caption's
// dark ink inside it. Writes the screenshot to the file named by its first
// argument for a person to look at.
#include <QApplication>
#include <QImage>
#include <QPixmap>
#include <QPushButton>
#include <QScreen>
#include <QTest>

#include <cstdio>
#include <string>

#include "tests/x11/screenshot_checks.h"
#include "../wi/wi_fixture.h"
#include "wi/qwi_button.h"

namespace {

using screenshot::check;
using screenshot::failures;

using namespace zema;
using namespace zema::wi_test;

// Names go to the request in internal characters, as the interpreter sends them.
std::string internal_name(const std::string& display) {
  std::string s;
  for (char c : display) s += static_cast<char>(fontin(static_cast<unsigned char>(c)));
  return s;
}

int request(FakeTask& task, const char* top, const char* path, const char* property, const Value& value) {
  const std::string t = internal_name(top), p = internal_name(path), name = internal_name(property);
  task.requestValue = value.data();
  task.propertyName = name.c_str();
  task.objectTop = t.c_str();
  task.objectPath = p.c_str();
  qwi_set_property_request(task);
  return task.guiResult;
}

bool whitish(QRgb p) { return qRed(p) > 245 && qGreen(p) > 245 && qBlue(p) > 245; }

}  // namespace

int main(int argc, char** argv) {
  QApplication app(argc, argv);
  if (!screenshot::on_x_display()) return 1;
  int rc;
  {
    FakeTask task;
    register_qwi_visual_classes();
    check(request(task, "Main", "", "New",
                  nested({text("Window"), text("scale"), int_scalar(5), text("where"), ints({3, 5, 14, 40}),  // character cells of the System object
                          text("caption"), text("Orders")})) == 0,
          "the window is made");
    check(request(task, "Main", "OK", "New",
                  nested({text("Button"), text("where"), ints({60, 80, 40, 140}), text("caption"), text("Accept")})) == 0,
          "the button is made");
    auto internal = [](std::string s) {
      for (char& c : s) c = static_cast<char>(fontin(static_cast<unsigned char>(c)));
      return s;
    };
    QwiObj* window = find_qwi_object(task.system, internal("Main"), "");
    QwiObj* button = window ? window->FindChild(internal("OK")) : nullptr;
    if (!window || !button) {
      std::fprintf(stderr, "the objects are missing\n");
      return 1;
    }
    auto* form = qobject_cast<QWidget*>(window->control());
    auto* push = qobject_cast<QPushButton*>(button->control());
    task.system->OpenPendingWindow();
    if (!QTest::qWaitForWindowExposed(form)) {
      std::fprintf(stderr, "the window was never shown\n");
      return 1;
    }
    QTest::qWait(300);
    app.processEvents();
    check(form->windowTitle() == "Orders", "the window's caption");
    check(push->text() == "Accept", "the button's caption");

    const QImage shot = form->screen()->grabWindow(0).toImage();
    if (argc > 1) shot.save(QString::fromLocal8Bit(argv[1]));

    const QRect client(form->mapToGlobal(QPoint(0, 0)), form->size());
    const QRect b(push->mapToGlobal(QPoint(0, 0)), push->size());
    check(b == QRect(client.topLeft() + QPoint(80, 60), QSize(140, 40)), "the button stands where it was put");
    // The window's background: white away from the button.
    for (QPoint p : {QPoint(10, 10), QPoint(300, 10), QPoint(10, 200), QPoint(300, 200), QPoint(60, 80), QPoint(240, 80)})
      check(whitish(shot.pixel(client.topLeft() + p)), "window background at " + std::to_string(p.x()) + "," + std::to_string(p.y()));
    // The button: its face is not the window's white, its border darker
    // still, and the caption puts dark ink in the middle.
    int face = 0, total = 0, border = 0, ink = 0;
    for (int y = b.top() + 6; y < b.bottom() - 6; ++y)
      for (int x = b.left() + 6; x < b.right() - 6; ++x) {
        const QRgb p = shot.pixel(x, y);
        ++total;
        face += !whitish(p);
        ink += qGray(p) < 100;
      }
    for (int x = b.left() + 4; x < b.right() - 4; ++x) {
      border += qGray(shot.pixel(x, b.top())) < 200 || qGray(shot.pixel(x, b.top() + 1)) < 200;
      border += qGray(shot.pixel(x, b.bottom())) < 200 || qGray(shot.pixel(x, b.bottom() - 1)) < 200;
    }
    check(face * 10 > total * 5, "a button face (" + std::to_string(face) + " of " + std::to_string(total) + ")");
    check(border * 10 > (b.width() - 8) * 2 * 8, "a button border (" + std::to_string(border) + ")");
    check(ink > 20, "caption ink (" + std::to_string(ink) + ")");
    rc = failures == 0 ? 0 : 1;
  }
  return rc;
}
