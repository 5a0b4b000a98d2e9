// Visible ⎕WI classes on real widgets: ties, the event loop from a real
// mouse click on a Button in a Window, modal windows, reset, the Timer,
// and the refusal of bad property values.
#include <QPushButton>
#include <QTest>
#include <QWidget>

#include <cstring>

#include "windows/shell.h"
#include "windows/shell_window.h"
#include "wi/qwi_button.h"
#include "wi/qwi_window.h"
#include "wi_fixture.h"

namespace zema::wi_test {
namespace {

class VisualTest : public WiTest {
 protected:
  VisualTest() { register_qwi_visual_classes(); }

  std::int32_t tie(const std::string& top, const std::string& path = "") {
    EXPECT_EQ(get(top, path, "tie"), 0);
    return reply().ints().at(0);
  }
  // All queued records, each words 1–9 (the queue is left as it is).
  std::vector<std::vector<std::int32_t>> queued() {
    EXPECT_EQ(events(3, 0, 65536), 0);
    const std::vector<std::int32_t> all = reply().ints();
    std::vector<std::vector<std::int32_t>> rows;
    for (std::size_t i = 0; i + 9 <= all.size(); i += 9) rows.emplace_back(all.begin() + long(i), all.begin() + long(i) + 9);
    return rows;
  }
  QWidget* widget_of(const std::string& top, const std::string& path = "") {
    QwiObj* o = object(top, path);
    return o ? qobject_cast<QWidget*>(o->control()) : nullptr;
  }
  // A window W in pixels (scale 5) at 100 100, 200 × 300, with a button B at
  // 20 30, 40 × 100; shown.
  void window_with_button() {
    ASSERT_EQ(make("W", "", "Window", {text("scale"), int_scalar(5), text("where"), ints({100, 100, 200, 300})}), 0);
    ASSERT_EQ(make("W", "B", "Button", {text("where"), ints({20, 30, 40, 100})}), 0);
    ASSERT_EQ(get("W", "", "show"), 0);
    ASSERT_TRUE(QTest::qWaitForWindowExposed(widget_of("W")));
  }
};

TEST_F(VisualTest, WindowsTakeTheLowestFreeTieAndOtherObjectsCountFrom10000) {
  for (const char* w : {"W1", "W2", "W3"}) ASSERT_EQ(make(w, "", "Window"), 0);
  EXPECT_EQ(tie("W1"), 10);
  EXPECT_EQ(tie("W2"), 11);
  EXPECT_EQ(tie("W3"), 12);
  ASSERT_EQ(get("W2", "", "delete"), 0);
  ASSERT_EQ(make("W4", "", "Dialog"), 0);
  EXPECT_EQ(tie("W4"), 11);
  ASSERT_EQ(make("T", "", "Timer"), 0);
  EXPECT_EQ(tie("T"), 10000);
  ASSERT_EQ(make("W1", "B", "Button"), 0);
  EXPECT_EQ(tie("W1", "B"), 10001);
  EXPECT_EQ(make("B", "", "Button"), 12);           // a Button is never top level
  EXPECT_EQ(make("Nope", "B", "Button"), 88);       // no such parent
  EXPECT_EQ(make("W1", "Nope.B", "Button"), 88);    // no such intermediate object
}

TEST_F(VisualTest, NewObjectsShowTheirNamesAndDialogsReadTheirBorder) {
  ASSERT_EQ(make("Main", "", "Window"), 0);
  ASSERT_EQ(make("Main", "OK", "Button"), 0);
  ASSERT_EQ(get("Main", "", "caption"), 0);
  EXPECT_EQ(reply().text(), "Main");
  ASSERT_EQ(get("Main", "OK", "caption"), 0);
  EXPECT_EQ(reply().text(), "OK");
  EXPECT_EQ(qobject_cast<QPushButton*>(widget_of("Main", "OK"))->text(), "OK");
  ASSERT_EQ(make("D", "", "Dialog"), 0);
  ASSERT_EQ(get("D", "", "class"), 0);
  EXPECT_EQ(reply().text(), "Dialog");
  ASSERT_EQ(get("D", "", "border"), 0);
  EXPECT_EQ(reply().ints().at(0), 4 + 16);
  ASSERT_EQ(set("Main", "", "border", int_scalar(3)), 0);
  ASSERT_EQ(get("Main", "", "border"), 0);
  EXPECT_EQ(reply().ints().at(0), 4);
  // Names given by the object system become numbered captions.
  ASSERT_EQ(make("sysobj_a", "", "Window"), 0);
  ASSERT_EQ(make("sysobj_b", "", "Window"), 0);
  EXPECT_EQ(widget_of("sysobj_a")->windowTitle(), "Window 1");
  EXPECT_EQ(widget_of("sysobj_b")->windowTitle(), "Window 2");
}

TEST_F(VisualTest, ClickMethodAndRealClicksQueueWindowFirst) {
  window_with_button();
  ASSERT_EQ(set("W", "B", "onClick", text("button")), 0);
  ASSERT_EQ(get("W", "B", "click"), 0);
  auto rows = queued();
  ASSERT_EQ(rows.size(), 1u);
  EXPECT_EQ(rows[0][0], tie("W", "B"));
  EXPECT_EQ(rows[0][1], 24);
  task.system->ClearEventQueue();

  // Only the button's onClick set: one record from a real click.
  QPushButton* button = qobject_cast<QPushButton*>(widget_of("W", "B"));
  ASSERT_NE(button, nullptr);
  EXPECT_EQ(button->geometry(), QRect(30, 20, 100, 40));
  QTest::mouseClick(button, Qt::LeftButton, {}, QPoint(10, 10));
  rows = queued();
  ASSERT_EQ(rows.size(), 1u);
  EXPECT_EQ(rows[0][1], 24);
  task.system->ClearEventQueue();

  // Window and button both listening: the window's record first, each time.
  for (const char* ev : {"onClick", "onMouseDown", "onMouseUp"}) {
    ASSERT_EQ(set("W", "", ev, text("w")), 0);
    ASSERT_EQ(set("W", "B", ev, text("b")), 0);
  }
  QTest::mousePress(button, Qt::LeftButton, Qt::ShiftModifier, QPoint(1, 1));
  QTest::mouseRelease(button, Qt::LeftButton, {}, QPoint(7, 5));
  rows = queued();
  const std::int32_t w = tie("W"), b = tie("W", "B");
  struct Expected {
    std::int32_t tie, event, a1, a2, a3, a4;
  };
  const Expected expected[] = {
      {w, 3, 21, 31, 0, 1}, {b, 3, 21, 31, 0, 1},  // mouse down by the button's corner, Shift held
      {w, 4, 25, 37, 0, 0}, {b, 4, 25, 37, 0, 0},  // mouse up, in window coordinates
      {w, 24, 0, 0, 0, 0},  {b, 24, 0, 0, 0, 0},
  };
  ASSERT_EQ(rows.size(), std::size(expected));
  for (std::size_t i = 0; i < rows.size(); ++i) {
    SCOPED_TRACE(i);
    EXPECT_EQ(rows[i][0], expected[i].tie);
    EXPECT_EQ(rows[i][1], expected[i].event);
    EXPECT_EQ(rows[i][5], expected[i].a1);
    EXPECT_EQ(rows[i][6], expected[i].a2);
    EXPECT_EQ(rows[i][7], expected[i].a3);
    EXPECT_EQ(rows[i][8], expected[i].a4);
  }
}

TEST_F(VisualTest, KeyEventsReportTheCharacterAndModifierBitsWindowFirst) {
  window_with_button();
  ASSERT_EQ(set("W", "", "onKeyDown", text("w")), 0);
  ASSERT_EQ(set("W", "B", "onKeyDown", text("b")), 0);
  ASSERT_EQ(set("W", "B", "onKeyPress", text("b")), 0);
  QWidget* button = widget_of("W", "B");
  button->setFocus();
  QTest::keyPress(button, 'A', Qt::ShiftModifier);
  const auto rows = queued();
  // The Shift key goes down first, then A: each key down on the window and
  // then the button; the button's key press last. The key the button leaves
  // unhandled reaches the form but raises nothing twice.
  const std::int32_t w = tie("W"), b = tie("W", "B");
  const std::vector<std::vector<std::int32_t>> expected = {
      {w, 1, 0, 0, 1}, {b, 1, 0, 0, 1}, {w, 1, 'A', fontin('A'), 1}, {b, 1, 'A', fontin('A'), 1},
      {b, 30, 'A', fontin('A'), 0}};
  ASSERT_EQ(rows.size(), expected.size());
  for (std::size_t i = 0; i < rows.size(); ++i)
    EXPECT_EQ((std::vector<std::int32_t>{rows[i][0], rows[i][1], rows[i][5], rows[i][6], rows[i][8]}), expected[i]) << i;
}

// A session window that records the messages it is sent.
class RecordingWindow : public TAPLShellWindow {
 public:
  void AcceptMsg(int msg, int arg, void* ptr) override {
    messages.push_back(msg);
    TAPLShellWindow::AcceptMsg(msg, arg, ptr);
  }
  std::vector<int> messages;
};

TEST_F(VisualTest, ModalWindowsHandTheModalStateBackInOrder) {
  auto* shell = new APLShell(&task);
  auto* session = new RecordingWindow;
  shell->AddWindowToShell(session);
  ASSERT_EQ(make("W1", "", "Window"), 0);
  ASSERT_EQ(make("W2", "", "Window"), 0);
  ASSERT_EQ(make("W3", "", "Window"), 0);
  QwiObj* w1 = object("W1");
  QwiObj* w2 = object("W2");

  ASSERT_EQ(get("W1", "", "wait"), 0);
  EXPECT_EQ(task.system->modal_window(), w1);
  EXPECT_TRUE(widget_of("W1")->isEnabled());
  EXPECT_FALSE(widget_of("W2")->isEnabled());
  EXPECT_FALSE(session->isEnabled());
  ASSERT_EQ(get("W2", "", "wait"), 0);
  EXPECT_EQ(task.system->modal_window(), w2);
  EXPECT_FALSE(widget_of("W1")->isEnabled());
  EXPECT_FALSE(widget_of("W3")->isEnabled());
  EXPECT_EQ(session->messages, (std::vector<int>{301, 301}));

  // Closing the second: the first is modal again, nothing released.
  ASSERT_EQ(get("W2", "", "close"), 0);
  EXPECT_EQ(task.system->modal_window(), w1);
  EXPECT_TRUE(widget_of("W1")->isEnabled());
  EXPECT_FALSE(widget_of("W3")->isEnabled());
  EXPECT_EQ(session->messages, (std::vector<int>{301, 301}));

  // Closing the first ends the modal state: 302 and every window enabled.
  ASSERT_EQ(get("W1", "", "close"), 0);
  EXPECT_EQ(task.system->modal_window(), nullptr);
  EXPECT_EQ(session->messages, (std::vector<int>{301, 301, 302}));
  EXPECT_TRUE(session->isEnabled());
  for (const char* w : {"W1", "W2", "W3"}) EXPECT_TRUE(widget_of(w)->isEnabled()) << w;

  shell->DeleteWindowFromShell(session);
  delete session;
  delete shell;
  task.shell = nullptr;
}

TEST_F(VisualTest, AModalWindowDeletedUnderAnotherIsNotHandedBack) {
  ASSERT_EQ(make("W1", "", "Window"), 0);
  ASSERT_EQ(make("W2", "", "Window"), 0);
  ASSERT_EQ(get("W1", "", "wait"), 0);
  ASSERT_EQ(get("W2", "", "wait"), 0);
  ASSERT_EQ(get("W1", "", "delete"), 0);
  ASSERT_EQ(get("W2", "", "close"), 0);
  EXPECT_EQ(task.system->modal_window(), nullptr);
  EXPECT_TRUE(widget_of("W2")->isEnabled());
}

TEST_F(VisualTest, UserCloseWithoutCallbackDeletesTheWindowWithOneItStays) {
  ASSERT_EQ(make("W1", "", "Window"), 0);
  ASSERT_EQ(make("W2", "", "Window", {text("onClose"), text("keep")}), 0);
  for (const char* w : {"W1", "W2"}) ASSERT_EQ(get(w, "", "show"), 0);
  EXPECT_FALSE(widget_of("W2")->close());
  EXPECT_TRUE(widget_of("W2")->isVisible());
  const auto rows = queued();
  ASSERT_EQ(rows.size(), 1u);
  EXPECT_EQ(rows[0][1], 10);
  widget_of("W1")->close();
  EXPECT_EQ(get("W1", "", "tie"), 88);
}

TEST_F(VisualTest, SystemResetLeavesNoChildren) {
  window_with_button();
  ASSERT_EQ(make("T", "", "Timer"), 0);
  ASSERT_EQ(get("#", "", "reset"), 0);
  ASSERT_EQ(get("#", "", "children"), 0);
  EXPECT_EQ(reply().texts().size(), 0u);
  EXPECT_TRUE(task.system->children().empty());
  EXPECT_EQ(get("W", "", "tie"), 88);
}

TEST_F(VisualTest, TimerTicksOnlyWhileOpenAndRefusesANegativeInterval) {
  ASSERT_EQ(make("T", "", "Timer"), 0);
  ASSERT_EQ(get("T", "", "interval"), 0);
  EXPECT_EQ(reply().ints().at(0), 1000);
  EXPECT_EQ(set("T", "", "interval", int_scalar(-1)), 12);
  ASSERT_EQ(get("T", "", "interval"), 0);
  EXPECT_EQ(reply().ints().at(0), 1000);

  // No callback yet: ticks raise nothing.
  ASSERT_EQ(set("T", "", "interval", int_scalar(5)), 0);
  QTest::qWait(60);
  EXPECT_EQ(task.system->QueuedCount(), 0);
  ASSERT_EQ(set("T", "", "onTimer", text("tick")), 0);
  QTest::qWait(60);
  const auto rows = queued();
  ASSERT_GE(rows.size(), 2u);
  EXPECT_EQ(rows[0][1], 18);
  EXPECT_EQ(rows[0][0], 10000);

  ASSERT_EQ(get("T", "", "close"), 0);
  task.system->ClearEventQueue();
  QTest::qWait(60);
  EXPECT_EQ(task.system->QueuedCount(), 0);
  EXPECT_EQ(get("T", "", "tie"), 0);  // still alive
  ASSERT_EQ(get("T", "", "open"), 0);
  QTest::qWait(60);
  EXPECT_GT(task.system->QueuedCount(), 0);

  ASSERT_EQ(set("T", "", "enabled", int_scalar(0)), 0);
  task.system->ClearEventQueue();
  QTest::qWait(60);
  EXPECT_EQ(task.system->QueuedCount(), 0);
}

TEST_F(VisualTest, GoodValuesReadBack) {
  window_with_button();
  ASSERT_EQ(set("W", "B", "anchors", ints({1, 1, 0, 0})), 0);
  ASSERT_EQ(get("W", "B", "anchors"), 0);
  EXPECT_EQ(reply().ints(), (std::vector<std::int32_t>{1, 1, 0, 0}));
  ASSERT_EQ(set("W", "B", "order", float_scalar(2.2)), 0);
  ASSERT_EQ(get("W", "B", "order"), 0);
  EXPECT_EQ(reply().ints().at(0), 3);
  ASSERT_EQ(set("W", "B", "pointer", int_scalar(14)), 0);
  ASSERT_EQ(get("W", "B", "pointer"), 0);
  EXPECT_EQ(reply().ints().at(0), 35);
  for (int style : {2, 1, 0}) {
    ASSERT_EQ(set("W", "B", "style", int_scalar(style)), 0);
    ASSERT_EQ(get("W", "B", "style"), 0);
    EXPECT_EQ(reply().ints().at(0), style);
  }
  ASSERT_EQ(get("W", "B", "where"), 0);
  EXPECT_EQ(reply().floats(), (std::vector<double>{20, 30, 40, 100}));
  ASSERT_EQ(set("W", "B", "color", ints({255, 0, 0})), 0);  // shown as the caption colour
  ASSERT_EQ(get("W", "B", "color"), 0);
  EXPECT_EQ(reply().ints(), (std::vector<std::int32_t>{255, -1}));
  ASSERT_EQ(set("W", "", "visible", int_scalar(0)), 0);
  EXPECT_FALSE(widget_of("W")->isVisible());
  ASSERT_EQ(get("W", "", "visible"), 0);
  EXPECT_EQ(reply().ints().at(0), 0);
  EXPECT_EQ(set("W", "B", "draw", text("x")), 24);
}

TEST_F(VisualTest, HidingRaisesOnHideEvenBeforeOpeningButTheHideMethodDoesNot) {
  ASSERT_EQ(make("W", "", "Window", {text("onHide"), text("h")}), 0);
  ASSERT_FALSE(object("W")->opened());
  ASSERT_EQ(get("W", "", "hide"), 0);
  EXPECT_EQ(task.system->QueuedCount(), 0);
  ASSERT_EQ(set("W", "", "visible", int_scalar(0)), 0);
  const auto rows = queued();
  ASSERT_EQ(rows.size(), 1u);
  EXPECT_EQ(rows[0][1], 29);
}

// Anchors keep a child's distances to the edges it is anchored at when the
// window is resized.
TEST_F(VisualTest, AnchoredChildrenFollowTheWindowsEdges) {
  window_with_button();  // the window 300 wide, 200 high; B at 20 30, 40 × 100
  const Value none = ints({0, 0, 0, 0});
  struct Case {
    Value anchors;
    QRect expected;  // after the window grows by 50 × 20
  };
  const Case cases[] = {
      {ints({1, 1, 0, 0}), QRect(30, 20, 100, 40)},  // top left: stays
      {ints({1, 1, 1, 1}), QRect(30, 20, 150, 60)},  // all four: stretches
      {ints({0, 0, 1, 1}), QRect(80, 40, 100, 40)},  // bottom right: moves
  };
  QWidget* form = widget_of("W");
  QWidget* button = widget_of("W", "B");
  for (const Case& c : cases) {
    ASSERT_EQ(set("W", "B", "anchors", c.anchors), 0);
    form->resize(300, 200);
    button->setGeometry(30, 20, 100, 40);
    form->resize(350, 220);
    EXPECT_EQ(button->geometry(), c.expected);
  }
}

// A value of the wrong type, rank or length is refused with its code and
// changes nothing that can be read back.
TEST_F(VisualTest, BadValuesAreRefusedAndChangeNothing) {
  ASSERT_EQ(make("W", "", "Window", {text("scale"), int_scalar(5)}), 0);
  ASSERT_EQ(make("D", "", "Dialog"), 0);
  ASSERT_EQ(make("W", "B", "Button"), 0);
  ASSERT_EQ(make("T", "", "Timer"), 0);
  const Value nums = ints({1, 2});
  const Value matrix = ints({1, 2, 3, 4}, {2, 2});
  const Value long_text = text(std::string(300, 'x'));
  struct Case {
    const char* property;
    Value bad;
    int code;
  };
  const std::vector<Case> visual = {
      {"where", text("ab"), 12},         {"where", ints({1, 2, 3}), 20},   {"where", ints({1}), 20},
      {"where", matrix, 16},             {"size", ints({1, 2, 3}), 20},    {"size", text("ab"), 12},
      {"extent", ints({1}), 20},         {"enabled", int_scalar(2), 12},   {"enabled", text("a"), 12},
      {"visible", int_scalar(5), 12},    {"visible", text("a"), 12},       {"anchors", ints({1, 1, 0}), 20},
      {"anchors", ints({2, 0, 0, 0}), 12}, {"anchors", text("abcd"), 12},  {"align", int_scalar(5), 12},
      {"align", nums, 12},               {"pointer", text("a"), 12},       {"maxsize", ints({-1, 0}), 12},
      {"maxsize", ints({1}), 20},        {"minsize", ints({1, 2, 3}), 20}, {"minsize", text("ab"), 12},
      {"autodraw", int_scalar(2), 12},   {"tooltip", nums, 12},            {"sourceformats", nums, 12},
      {"targetformats", nested({text("a"), nums}), 12}, {"scale", int_scalar(7), 12},
      {"color", text("red"), 12},        {"color", ints({1, 2, 3, 4}), 20},
  };
  const std::vector<Case> window = {
      {"visible", int_scalar(4), 12}, {"caption", nums, 12}, {"border", int_scalar(7), 12},
      {"border", text("a"), 12},      {"doublebuffered", int_scalar(2), 12}, {"menuimagelist", nums, 12},
  };
  const std::vector<Case> button = {
      {"style", int_scalar(3), 12}, {"style", text("a"), 12}, {"caption", nums, 12}, {"caption", long_text, 20},
      {"order", text("a"), 12},     {"tabstop", int_scalar(2), 12}, {"doublebuffered", text("a"), 12},
  };
  const std::vector<Case> timer = {
      {"interval", int_scalar(-1), 12}, {"interval", text("a"), 12}, {"interval", nums, 12},
      {"enabled", int_scalar(2), 12},
  };
  struct Target {
    const char* top;
    const char* path;
    std::vector<const std::vector<Case>*> tables;
  };
  const Target targets[] = {{"W", "", {&visual, &window}}, {"D", "", {&visual, &window}}, {"W", "B", {&visual, &button}},
                            {"T", "", {&timer}}};
  for (const Target& t : targets)
    for (const auto* table : t.tables)
      for (const Case& c : *table) {
        SCOPED_TRACE(std::string(t.top) + "." + t.path + " " + c.property);
        ASSERT_EQ(get(t.top, t.path, c.property), 0);
        const Value before(area.begin(), area.begin() + qwi_value_size(area.data()));
        EXPECT_EQ(set(t.top, t.path, c.property, c.bad), c.code);
        ASSERT_EQ(get(t.top, t.path, c.property), 0);
        const Value after(area.begin(), area.begin() + qwi_value_size(area.data()));
        EXPECT_EQ(before, after);
      }
}

}  // namespace
}  // namespace zema::wi_test
