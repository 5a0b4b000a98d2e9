// Objects made, set, read and deleted through the task's request entry
// points: placement, ties, pairs and their error codes, data and ∆
// properties, colours, units, callbacks and the events they raise.
#include <gtest/gtest.h>

#include "wi_fixture.h"

namespace zema::wi_test {
namespace {

using QwiObjects = WiTest;

TEST_F(QwiObjects, WindowsTakeTheLowestFreeTieAndOtherObjectsCountFrom10000) {
  ASSERT_EQ(make("t1", "", "Timer"), 0);
  for (const char* w : {"w1", "w2", "w3"}) ASSERT_EQ(make(w, "", "Form"), 0) << w;
  ASSERT_EQ(make("t2", "", "Timer"), 0);
  struct Case {
    const char* top;
    int tie;
  } before[] = {{"t1", 10000}, {"w1", 10}, {"w2", 11}, {"w3", 12}, {"t2", 10001}};
  for (const Case& c : before) {
    ASSERT_EQ(get(c.top, "", "tie"), 0);
    EXPECT_EQ(reply().ints(), std::vector<std::int32_t>{c.tie}) << c.top;
  }
  ASSERT_EQ(get("w2", "", "delete"), 0);
  EXPECT_EQ(object("w2"), nullptr);
  ASSERT_EQ(make("w4", "", "Window"), 0);
  ASSERT_EQ(make("t3", "", "Timer"), 0);
  ASSERT_EQ(make("w1", "b", "Button"), 0);
  struct Case after[] = {{"w4", 11}, {"t3", 10002}};
  for (const Case& c : after) {
    ASSERT_EQ(get(c.top, "", "tie"), 0);
    EXPECT_EQ(reply().ints(), std::vector<std::int32_t>{c.tie}) << c.top;
  }
  ASSERT_EQ(get("w1", "b", "tie"), 0);
  EXPECT_EQ(reply().ints(), std::vector<std::int32_t>{10003});
  // A window's number stays reserved when its tie is changed.
  ASSERT_EQ(set("w1", "", "tie", int_scalar(99)), 0);
  ASSERT_EQ(make("w5", "", "Dialog"), 0);
  ASSERT_EQ(get("w5", "", "tie"), 0);
  EXPECT_EQ(reply().ints(), std::vector<std::int32_t>{13});
  ASSERT_EQ(get("w5", "", "class"), 0);
  EXPECT_EQ(reply().text(), "Dialog");
}

TEST_F(QwiObjects, PlacementRules) {
  ASSERT_EQ(make("w", "", "Form"), 0);
  ASSERT_EQ(make("w", "sel", "Selector"), 0);
  ASSERT_EQ(make("w", "fr", "Frame"), 0);
  ASSERT_EQ(make("w", "btn", "Button"), 0);
  ASSERT_EQ(make("w", "ed", "Edit"), 0);
  ASSERT_EQ(make("w", "mn", "Menu"), 0);
  ASSERT_EQ(make("tm", "", "Timer"), 0);
  struct Case {
    const char* top;
    const char* path;
    const char* cls;
    int code;
  } cases[] = {
      {"b0", "", "Button", 12},       // not a top-level class
      {"w", "d", "Dialog", 0},        // a window in a window
      {"w", "btn.d", "Dialog", 12},   // a window only in a window
      {"w", "pg", "Page", 12},        // no page in a window
      {"w", "sel.pg", "Page", 0},     // a page in a selector
      {"w", "sel.pg.b", "Button", 0}, // anything in a page
      {"w", "fr.l", "List", 0},       // anything in a frame
      {"w", "btn.lab", "Label", 0},   // a label in a button
      {"w", "ed.lab", "Label", 12},   // not in an edit
      {"w", "btn.t", "Timer", 0},     // a timer under anything with a control
      {"tm", "t", "Timer", 12},       // a timer wraps nothing
      {"w", "mn.sub", "Menu", 0},     // a menu in a menu
      {"w", "btn.il", "Imagelist", 0},
      {"w", "mn.il", "Imagelist", 12},
      {"w", "btn.x", "Button", 12},
      {"w", "m2", "MsgBox", 12},      // never a child
      {"w", "nosuch.b", "Button", 88},
      {"nosuch", "b", "Button", 88},
      {"w", "btn", "Button", 12},     // exists
      {"w", "", "Form", 12},          // exists
      {"#", "", "Form", 12},          // would be unreachable
      {"z", "", "Nonsense", 12},
      {"z", "", "Picture", 12},       // a child class
      {"z", "", "Printer", 24},       // a class this library does not build
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.top) + " " + c.path + " " + c.cls);
    EXPECT_EQ(make(c.top, c.path, c.cls), c.code);
    if (c.code == 88 || c.code == 24) {
      EXPECT_EQ(object(c.top, c.path), nullptr);
    }
  }
  EXPECT_EQ(set("e", "", "New", nested({})), 12);  // an empty nested vector
  EXPECT_EQ(set("e", "", "New", int_scalar(3)), 12);
}

TEST_F(QwiObjects, AWindowWaitsUntilTheNextIsMadeOrItIsOpened) {
  ASSERT_EQ(make("w1", "", "Form", {text("onOpen"), text("opened1")}), 0);
  EXPECT_FALSE(object("w1")->opened());
  EXPECT_EQ(task.system->pending_window(), object("w1"));
  ASSERT_EQ(make("w2", "", "Form"), 0);
  EXPECT_TRUE(object("w1")->opened());
  EXPECT_EQ(task.system->pending_window(), object("w2"));
  EXPECT_EQ(task.system->QueuedCount(), 1);  // w1's onOpen
  open_pending_window(task);
  EXPECT_TRUE(object("w2")->opened());
  EXPECT_EQ(task.system->pending_window(), nullptr);
  // A timer is opened at once, and its onOpen given among the pairs sees it.
  ASSERT_EQ(make("t", "", "Timer", {text("onOpen"), text("opened2")}), 0);
  EXPECT_TRUE(object("t")->opened());
  ASSERT_EQ(events(7), 0);
  EXPECT_EQ(reply().text(), "opened1");
  ASSERT_EQ(events(7), 0);
  EXPECT_EQ(reply().text(), "opened2");
}

TEST_F(QwiObjects, AFailedNewLeavesNothingAndRaisesNothing) {
  ASSERT_EQ(make("w", "", "Form"), 0);
  // onDestroy and onClose set in the pairs, then a pair that fails.
  EXPECT_EQ(make("w", "b", "Button",
                 {text("onDestroy"), text("gone"), text("onClose"), text("closed"), text("border"), int_scalar(1)}),
            20);
  EXPECT_EQ(object("w", "b"), nullptr);
  EXPECT_EQ(task.system->QueuedCount(), 0);
  // A name without a value, an unknown name, a name that is no text.
  EXPECT_EQ(make("w", "b", "Button", {text("tie")}), 12);
  EXPECT_EQ(make("w", "b", "Button", {text("nonsense"), int_scalar(1)}), 12);
  EXPECT_EQ(make("w", "b", "Button", {int_scalar(5), int_scalar(1)}), 12);
  EXPECT_EQ(make("w", "b", "Button", {text("scale"), int_scalar(9)}), 12);
  EXPECT_TRUE(object("w")->children().empty());
  // A failed window does not stay pending.
  EXPECT_EQ(make("w2", "", "Form", {text("scale"), int_scalar(0)}), 12);
  EXPECT_EQ(object("w2"), nullptr);
  EXPECT_EQ(task.system->pending_window(), nullptr);
  EXPECT_TRUE(object("w")->opened());  // shown before w2 was built
  // Pairs that work: set-flags are recorded for state.
  ASSERT_EQ(make("w", "b", "Button", {text("scale"), int_scalar(5), text("tie"), int_scalar(7)}), 0);
  ASSERT_EQ(get("w", "b", "scale"), 0);
  EXPECT_EQ(reply().ints(), std::vector<std::int32_t>{5});
  ASSERT_EQ(get("w", "b", "state"), 0);
  ASSERT_EQ(reply().shape(), (std::vector<std::uint32_t>{2, 2}));
  EXPECT_EQ(reply().item(0).text(), "scale");
  EXPECT_EQ(reply().item(2).text(), "tie");
  EXPECT_EQ(reply().item(3).ints(), std::vector<std::int32_t>{7});
}

TEST_F(QwiObjects, SetAppliesPairsUntilTheFirstFailure) {
  ASSERT_EQ(make("t", "", "Timer"), 0);
  EXPECT_EQ(set("t", "", "set", nested({text("tie")})), 20);
  EXPECT_EQ(set("t", "", "set", int_scalar(1)), 12);
  EXPECT_EQ(set("t", "", "set", nested({text("tie"), int_scalar(42), text("scale")})), 12);
  ASSERT_EQ(get("t", "", "tie"), 0);
  EXPECT_EQ(reply().ints(), std::vector<std::int32_t>{42});
  // Events are no property names here.
  EXPECT_EQ(set("t", "", "set", nested({text("onClick"), text("x")})), 12);
  EXPECT_EQ(set("nosuch", "", "set", nested({text("tie"), int_scalar(1)})), 88);
}

TEST_F(QwiObjects, DataAndDeltaPropertiesAreValueErrorsUntilSet) {
  ASSERT_EQ(make("t", "", "Timer"), 0);
  const std::string delta = std::string(1, static_cast<char>(fontout(0x7B))) + "Mine";
  const std::string other_case = std::string(1, static_cast<char>(fontout(0xFB))) + "MINE";
  EXPECT_EQ(get("t", "", "data"), 28);
  EXPECT_EQ(get("t", "", delta.c_str()), 28);
  const Value v = nested({text("abc"), ints({1, 2, 3})});
  ASSERT_EQ(set("t", "", "data", v), 0);
  ASSERT_EQ(set("t", "", delta.c_str(), v), 0);
  for (const std::string& name : {std::string("data"), delta, other_case}) {
    SCOPED_TRACE(name);
    ASSERT_EQ(get("t", "", name.c_str()), 0);
    EXPECT_EQ(std::memcmp(area.data() + 4, v.data() + 4, v.size() - 4), 0);
    // Too small: WS FULL with the size needed.
    EXPECT_EQ(get("t", "", name.c_str(), static_cast<int>(v.size())), 4);
    EXPECT_EQ(task.neededSize, v.size());
  }
  // A ∆ property of a missing object.
  EXPECT_EQ(set("nosuch", "", delta.c_str(), v), 12);
}

TEST_F(QwiObjects, ColourValues) {
  ASSERT_EQ(make("w", "", "Form"), 0);
  ASSERT_EQ(make("w", "b", "Button"), 0);
  struct Case {
    Value value;
    int code;
    std::int32_t fg, bg;  // stored after
  } cases[] = {
      {int_scalar(255), 0, 255, -1},
      {ints({0, 0, 255}), 0, 16711680, -1},
      {ints({1, 2, 3, 4, 5, 6}), 0, 197121, 394500},
      {ints({1, 2}), 0, 1, 2},
      {ints({1, 2, 3, 4}), 20, 1, 2},
      {ints({256, 0, 0}), 12, 1, 2},
      {float_scalar(2.0000001), 0, 2, 2},
      {float_scalar(2.5), 12, 2, 2},
      {ints({1, 2, 3, 4, 5, 6}, {2, 3}), 16, 2, 2},
      {ints({7}, {1, 1}), 0, 7, 2},
      {text("red"), 12, 7, 2},
      {ints({-3, 9}), 0, 7, 9},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(set("w", "b", "colour", c.value), c.code);
    ASSERT_EQ(get("w", "b", "color"), 0);
    EXPECT_EQ(reply().ints(), (std::vector<std::int32_t>{c.fg, c.bg}));
  }
  // −1 resolves one level only: a parent's −1 gives −2.
  std::int32_t fg, bg;
  ASSERT_EQ(object("w", "b")->DecodeColourProperty(ints({-1, -1}).data(), &fg, &bg), 0);
  EXPECT_EQ(fg, -2);
  EXPECT_EQ(bg, -2);
  ASSERT_EQ(set("w", "", "color", ints({5, 6})), 0);
  ASSERT_EQ(object("w", "b")->DecodeColourProperty(int_scalar(-1).data(), &fg, &bg), 0);
  EXPECT_EQ(fg, 5);
  EXPECT_EQ(bg, 6);
  // Without a parent −1 means the default.
  ASSERT_EQ(set("#", "", "color", ints({-1, 3})), 0);
  ASSERT_EQ(get("#", "", "color"), 0);
  EXPECT_EQ(reply().ints(), (std::vector<std::int32_t>{-2, 3}));
}

TEST_F(QwiObjects, UnitsAndScale) {
  ASSERT_EQ(get("#", "", "units"), 0);
  EXPECT_EQ(reply().shape(), (std::vector<std::uint32_t>{6, 2}));
  const std::vector<double> u = reply().floats();
  EXPECT_EQ(u[0], 16.0);  // code 1: character cells, vertical first
  EXPECT_EQ(u[1], 8.0);
  EXPECT_EQ(u[2], 2.0);
  EXPECT_EQ(u[8], 1.0);  // code 5: pixels
  EXPECT_EQ(u[9], 1.0);
  EXPECT_EQ(get("#", "", "units", 99), 4);
  EXPECT_EQ(set("#", "", "scale", int_scalar(7)), 12);
  EXPECT_EQ(set("#", "", "scale", int_scalar(5)), 0);
  ASSERT_EQ(make("t", "", "Timer"), 0);  // copies its parent's scale
  ASSERT_EQ(get("t", "", "scale"), 0);
  EXPECT_EQ(reply().ints(), std::vector<std::int32_t>{5});
}

TEST_F(QwiObjects, FontSizesFollowTheScaleCode) {
  ASSERT_EQ(make("w", "", "Form"), 0);
  ASSERT_EQ(make("w", "b", "Button"), 0);  // a font of 16 pixels
  ASSERT_EQ(make("w", "l", "List"), 0);    // no font
  ASSERT_EQ(get("w", "b", "font"), 0);
  ASSERT_EQ(reply().rank(), 1);
  ASSERT_EQ(reply().length(0), 4u);
  EXPECT_EQ(reply().item(1).floats(), std::vector<double>{1.0});  // scale 1: 16 ÷ 16
  EXPECT_EQ(reply().item(3).text(), "");
  ASSERT_EQ(set("w", "b", "scale", int_scalar(5)), 0);
  ASSERT_EQ(set("w", "b", "font", nested({text(""), int_scalar(23), int_scalar(1 + 4)})), 0);
  ASSERT_EQ(get("w", "b", "font"), 0);
  EXPECT_EQ(reply().item(1).ints(), std::vector<std::int32_t>{23});
  EXPECT_EQ(reply().item(2).ints(), std::vector<std::int32_t>{5});
  // An empty size and style leave them.
  ASSERT_EQ(set("w", "b", "font", nested({text(""), ints({}), ints({})})), 0);
  ASSERT_EQ(get("w", "b", "font"), 0);
  EXPECT_EQ(reply().item(1).ints(), std::vector<std::int32_t>{23});
  EXPECT_EQ(reply().item(2).ints(), std::vector<std::int32_t>{5});
  EXPECT_EQ(set("w", "b", "font", nested({text("a"), int_scalar(1), int_scalar(0), text(""), text("")})), 20);
  EXPECT_EQ(set("w", "b", "font", int_scalar(3)), 12);
  EXPECT_EQ(get("w", "l", "font"), 12);
  EXPECT_EQ(set("w", "l", "font", text("Sans")), 12);
}

TEST_F(QwiObjects, NamesChildrenSelfAndMissingObjects) {
  ASSERT_EQ(make("w", "", "Form"), 0);
  ASSERT_EQ(make("w", "f", "Frame"), 0);
  ASSERT_EQ(make("w", "f.b", "Button"), 0);
  ASSERT_EQ(get("w", "f.b", "self"), 0);
  EXPECT_EQ(reply().text(), "w.f.b");
  ASSERT_EQ(get("w", "", "children"), 0);
  EXPECT_EQ(reply().texts(), std::vector<std::string>{"w.f"});
  ASSERT_EQ(get("w", "f.b", "children"), 0);
  EXPECT_EQ(reply().type(), 11);
  EXPECT_EQ(qwi_item_count(area.data()), 0u);
  ASSERT_EQ(get("#", "", "self"), 0);
  EXPECT_EQ(reply().text(), "#");
  // A missing object: self empty, delete done, anything else 88.
  EXPECT_EQ(get("w", "zz", "self"), 0);
  EXPECT_EQ(reply().text(), "");
  EXPECT_EQ(get("w", "zz", "delete"), 0);
  EXPECT_EQ(reply().shape(), (std::vector<std::uint32_t>{0, 0}));
  EXPECT_EQ(get("w", "zz", "tie"), 88);
  EXPECT_EQ(get("w", "", "nonsense"), 12);
  // Renaming: 35 characters at most; the System object keeps its name.
  ASSERT_EQ(set("w", "f", "name", text("g")), 0);
  ASSERT_EQ(get("w", "g.b", "self"), 0);
  EXPECT_EQ(reply().text(), "w.g.b");
  EXPECT_EQ(set("w", "g", "name", text(std::string(36, 'x'))), 20);
  EXPECT_EQ(set("#", "", "name", text("x")), 12);
  // create replaces an existing object.
  ASSERT_EQ(set("w", "g", "create", text("Frame")), 0);
  EXPECT_TRUE(object("w", "g")->children().empty());
}

TEST_F(QwiObjects, CallbacksAreStoredReadAndTakeTheirEvents) {
  ASSERT_EQ(make("w", "", "Form"), 0);
  ASSERT_EQ(make("w", "b", "Button"), 0);
  ASSERT_EQ(set("w", "b", "onClick", text("hit")), 0);
  EXPECT_EQ(task.callbackId, 24);
  ASSERT_EQ(get("w", "b", "ONCLICK"), 0);
  EXPECT_EQ(reply().text(), "hit");
  ASSERT_EQ(get("w", "b", "onSend"), 0);
  EXPECT_EQ(reply().text(), "");
  EXPECT_EQ(set("w", "b", "onClick", int_scalar(1)), 12);
  EXPECT_EQ(set("w", "zz", "onClick", text("x")), 88);

  QwiObj* b = object("w", "b");
  EXPECT_EQ(b->CheckUserEvent(24, 1, 2, 3, 4), 3);
  EXPECT_EQ(b->CheckUserEvent(25), 1);  // no callback for onDblClick
  // An empty expression is no callback.
  ASSERT_EQ(set("w", "b", "onSend", text("")), 0);
  EXPECT_EQ(b->CheckUserEvent(20), 1);
  // Replaced while queued: the queued event keeps the old expression.
  ASSERT_EQ(set("w", "b", "onClick", text("new")), 0);
  EXPECT_EQ(b->CheckUserEvent(24), 3);
  ASSERT_EQ(events(7), 0);
  EXPECT_EQ(reply().text(), "hit");
  ASSERT_EQ(events(8), 0);
  const std::vector<std::int32_t> words = reply().ints();
  EXPECT_EQ(words[0], b->tie());
  EXPECT_EQ(words[1], 24);
  EXPECT_EQ(std::vector<std::int32_t>(words.begin() + 5, words.end()), (std::vector<std::int32_t>{1, 2, 3, 4}));
  ASSERT_EQ(events(7), 0);
  EXPECT_EQ(reply().text(), "new");
  // state lists callbacks after properties.
  ASSERT_EQ(get("w", "b", "state"), 0);
  ASSERT_EQ(reply().shape(), (std::vector<std::uint32_t>{2, 2}));
  EXPECT_EQ(reply().item(0).text(), "onClick");  // newest first
  EXPECT_EQ(reply().item(1).text(), "new");
  EXPECT_EQ(reply().item(2).text(), "onSend");
}

TEST_F(QwiObjects, MethodsRaiseTheirEvents) {
  ASSERT_EQ(make("t", "", "Timer", {text("onClose"), text("c"), text("onClick"), text("k"), text("onSend"), text("s"),
                                    text("onDestroy"), text("d")}),
            0);
  EXPECT_EQ(set("t", "", "trigger", text("onNothing")), 12);
  EXPECT_EQ(set("t", "", "trigger", text("click")), 12);
  ASSERT_EQ(set("t", "", "trigger", text("ONCLICK")), 0);
  ASSERT_EQ(get("t", "", "send"), 0);
  // close with an onClose callback only queues the event.
  ASSERT_EQ(get("t", "", "close"), 0);
  EXPECT_TRUE(object("t")->opened());
  ASSERT_EQ(set("t", "", "close", int_scalar(1)), 0);
  EXPECT_FALSE(object("t")->opened());
  ASSERT_EQ(get("t", "", "delete"), 0);
  std::vector<std::string> texts;
  while (events(7) == 0 && reply().type() == 11) texts.push_back(reply().text());
  EXPECT_EQ(texts, (std::vector<std::string>{"k", "s", "c", "d"}));
}

TEST_F(QwiObjects, DeletingASubtreeRaisesOnDestroyParentFirst) {
  ASSERT_EQ(make("w", "", "Form", {text("onDestroy"), text("w")}), 0);
  ASSERT_EQ(make("w", "f", "Frame", {text("onDestroy"), text("f")}), 0);
  ASSERT_EQ(make("w", "f.b", "Button", {text("onDestroy"), text("b")}), 0);
  ASSERT_EQ(make("w", "c", "Check", {text("onDestroy"), text("c")}), 0);
  ASSERT_EQ(get("w", "", "delete"), 0);
  std::vector<std::string> texts;
  while (events(7) == 0 && reply().type() == 11) texts.push_back(reply().text());
  EXPECT_EQ(texts, (std::vector<std::string>{"w", "f", "b", "c"}));
}

TEST_F(QwiObjects, SystemObjectRefusesWhatItDoesNotOffer) {
  EXPECT_EQ(get("#", "", "delete"), 12);
  EXPECT_EQ(get("#", "", "open"), 12);
  EXPECT_EQ(set("#", "", "opened", int_scalar(1)), 12);
  ASSERT_EQ(get("#", "", "version"), 0);
  EXPECT_EQ(reply().ints().size(), 5u);
  ASSERT_EQ(get("#", "", "action"), 0);
  EXPECT_EQ(reply().text(), "open");
  // ⎕ alone names the System object too.
  ASSERT_EQ(get(std::string(1, static_cast<char>(fontout(0x4C))), "", "class"), 0);
  EXPECT_EQ(reply().text(), "System");
  ASSERT_EQ(get("#", "", "xclasses"), 0);
  EXPECT_EQ(reply().shape(), (std::vector<std::uint32_t>{0, 4}));
  EXPECT_EQ(set("#", "", "unicode", ints({65, 70000})), 12);
  ASSERT_EQ(set("#", "", "unicode", ints({65, 0x2206})), 0);
  ASSERT_EQ(get("#", "", "unicode"), 0);
  EXPECT_EQ(reply().ints(), (std::vector<std::int32_t>{65, 0x2206}));
  ASSERT_EQ(set("#", "", "pointer", int_scalar(14)), 0);
  ASSERT_EQ(get("#", "", "pointer"), 0);
  EXPECT_EQ(reply().ints(), std::vector<std::int32_t>{35});
  ASSERT_EQ(set("#", "", "pointer", int_scalar(0)), 0);
}

TEST_F(QwiObjects, ResetEmptiesTheTreeAndTheQueue) {
  ASSERT_EQ(make("w", "", "Form", {text("onClose"), text("x")}), 0);
  ASSERT_EQ(make("t", "", "Timer", {text("onSend"), text("x")}), 0);
  object("t")->CheckUserEvent(20);
  ASSERT_EQ(set("#", "", "scale", int_scalar(5)), 0);
  ASSERT_EQ(get("#", "", "reset"), 0);
  EXPECT_TRUE(task.system->children().empty());
  EXPECT_EQ(task.system->QueuedCount(), 0);
  EXPECT_EQ(task.system->pending_window(), nullptr);
  ASSERT_EQ(events(8), 0);
  EXPECT_EQ(reply().ints()[1], 999);
  ASSERT_EQ(get("#", "", "scale"), 0);
  EXPECT_EQ(reply().ints(), std::vector<std::int32_t>{1});
  // Ties start again for windows; the counter of other objects does not.
  ASSERT_EQ(make("w", "", "Form"), 0);
  ASSERT_EQ(make("t", "", "Timer"), 0);
  ASSERT_EQ(get("w", "", "tie"), 0);
  EXPECT_EQ(reply().ints(), std::vector<std::int32_t>{10});
  ASSERT_EQ(get("t", "", "tie"), 0);
  EXPECT_EQ(reply().ints(), std::vector<std::int32_t>{10001});
}

TEST_F(QwiObjects, ASavedResultIsFetchedByAReadWithoutName) {
  // Nothing kept: an empty matrix.
  ASSERT_EQ(get("#", "", nullptr), 0);
  EXPECT_EQ(reply().shape(), (std::vector<std::uint32_t>{0, 0}));
  void* kept = task.system->SetQwiResult(300);
  ASSERT_NE(kept, nullptr);
  ASSERT_EQ(qwi_return_text(kept, 300, std::string(100, 'a')), 0);
  EXPECT_EQ(get("#", "", nullptr, 116), 4);  // needs exactly 116: too big
  EXPECT_TRUE(task.resultTooBig);
  EXPECT_EQ(task.neededSize, 116u);
  ASSERT_EQ(get("#", "", nullptr, 117), 0);
  EXPECT_EQ(qwi_item_count(area.data()), 100u);
  ASSERT_EQ(get("#", "", nullptr), 0);  // handed over once
  EXPECT_EQ(reply().shape(), (std::vector<std::uint32_t>{0, 0}));
}

}  // namespace
}  // namespace zema::wi_test
