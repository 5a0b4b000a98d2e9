// The System object's event queue as the interpreter reads it: what each
// subcode answers, that no event is lost when a result does not fit, the
// handles of callback nodes, and the current event.
#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "wi_fixture.h"

namespace zema::wi_test {
namespace {

class QwiEventQueue : public WiTest {
 protected:
  void SetUp() override {
    ASSERT_EQ(make("w", "", "Form"), 0);
    ASSERT_EQ(make("w", "b", "Button", {text("onClick"), text("clicked")}), 0);
    b = object("w", "b");
  }
  QwiObj* b = nullptr;
};

TEST_F(QwiEventQueue, AFullQueueKeepsTheNewest200) {
  for (int i = 1; i <= 201; ++i) ASSERT_EQ(b->CheckUserEvent(24, i, 0, 0, 0), 3);
  EXPECT_EQ(task.system->QueuedCount(), 200);
  // Too little room for 200 rows: WS FULL, and nothing taken.
  EXPECT_EQ(events(3, 0, 20 + 36 * 200), 4);
  EXPECT_EQ(task.system->QueuedCount(), 200);
  ASSERT_EQ(events(3, 0, 8192), 0);
  ASSERT_EQ(reply().shape(), (std::vector<std::uint32_t>{200, 9}));
  const std::vector<std::int32_t> words = reply().ints();
  EXPECT_EQ(words[0], b->tie());
  EXPECT_EQ(words[1], 24);
  EXPECT_EQ(words[5], 2);  // the first event raised was dropped
  EXPECT_EQ(words[199 * 9 + 5], 201);
  EXPECT_EQ(task.system->QueuedCount(), 0);
  ASSERT_EQ(events(3), 0);
  EXPECT_EQ(reply().shape(), (std::vector<std::uint32_t>{0, 9}));
}

TEST_F(QwiEventQueue, HandlesOfCallbackNodes) {
  ASSERT_EQ(events(4), 0);  // empty: at once
  EXPECT_EQ(reply().shape(), std::vector<std::uint32_t>{0});
  b->CheckUserEvent(24, 7, 8, 9, 10);
  b->CheckUserEvent(24, 11, 0, 0, 0);
  // Too small: WS FULL and the event stays.
  EXPECT_EQ(events(5, 0, 55), 4);
  EXPECT_EQ(task.system->QueuedCount(), 2);
  ASSERT_EQ(events(5, 0, 56), 0);
  std::vector<std::int32_t> first = reply().ints();
  ASSERT_EQ(first.size(), 10u);
  EXPECT_EQ(std::vector<std::int32_t>(first.begin() + 5, first.begin() + 9), (std::vector<std::int32_t>{7, 8, 9, 10}));
  ASSERT_EQ(events(4), 0);
  const std::int32_t second = reply().ints()[9];
  EXPECT_NE(first[9], second);
  // The node outlives its object while a handle holds it.
  ASSERT_EQ(get("w", "b", "delete"), 0);
  ASSERT_EQ(events(6, first[9]), 0);
  EXPECT_EQ(reply().text(), "clicked");
  // A handle gives its text once; 0, stale and made-up handles are refused.
  for (std::int32_t h : {first[9], 0, -1, 12345, second + 1})
    EXPECT_EQ(events(6, h), 12) << h;
  // A text that does not fit keeps the handle.
  EXPECT_EQ(events(6, second, 20), 4);
  ASSERT_EQ(events(6, second), 0);
  EXPECT_EQ(reply().text(), "clicked");
  EXPECT_EQ(events(6, second), 12);
  // A slot used again gets a new generation: the old handle stays refused.
  ASSERT_EQ(make("t", "", "Timer", {text("onSend"), text("sent")}), 0);
  object("t")->CheckUserEvent(20);
  ASSERT_EQ(events(5), 0);
  const std::int32_t third = reply().ints()[9];
  EXPECT_NE(third, second);
  EXPECT_EQ(events(6, second), 12);
  ASSERT_EQ(events(6, third), 0);
  EXPECT_EQ(reply().text(), "sent");
}

TEST_F(QwiEventQueue, WaitingEndsWithAnEventOrAnAttention) {
  task.attnPending = true;
  EXPECT_EQ(events(5), 120);
  task.attnPending = false;
  // An event raised on the GUI thread while the task thread waits.
  std::atomic<int> rc{-1};
  std::vector<std::uint8_t> out(256);
  std::thread reader([&] { rc = task.system->r1000_events(5, 0, out.data(), 256); });
  // This thread is the GUI thread: it serves the reader's hand-offs (the
  // pending window is shown first) while it waits.
  auto serve = [&](int ms) {
    const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
    while (rc.load() == -1 && std::chrono::steady_clock::now() < end) QCoreApplication::processEvents();
  };
  serve(250);
  EXPECT_EQ(rc.load(), -1);
  EXPECT_TRUE(object("w")->opened());
  b->CheckUserEvent(24, 3, 0, 0, 0);
  serve(5000);
  reader.join();
  EXPECT_EQ(rc.load(), 0);
  EXPECT_EQ(Reply{out.data()}.ints()[5], 3);
  EXPECT_EQ(task.system->r1000_events(6, Reply{out.data()}.ints()[9], out.data(), 256), 0);
}

TEST_F(QwiEventQueue, TheCurrentEventAnswersSelfAndTheEventWords) {
  std::vector<std::uint8_t> self(400);
  ASSERT_EQ(task.system->qwself_read(self.data(), 400), 0);
  EXPECT_EQ(Reply{self.data()}.text(), "");
  EXPECT_EQ(task.system->qwself_read(self.data(), 391), 4);
  ASSERT_EQ(events(7), 0);  // empty queue
  EXPECT_EQ(reply().type(), 7);

  b->CheckUserEvent(24, 5, 6, 0, 0);
  EXPECT_EQ(events(7, 0, 20), 4);  // the text does not fit: the event stays
  EXPECT_EQ(task.system->QueuedCount(), 1);
  ASSERT_EQ(events(7), 0);
  EXPECT_EQ(reply().text(), "clicked");
  ASSERT_EQ(events(8), 0);
  const std::vector<std::int32_t> words = reply().ints();
  ASSERT_EQ(words.size(), 9u);
  EXPECT_EQ(words[0], b->tie());
  EXPECT_EQ(words[5], 5);
  EXPECT_EQ(words[6], 6);
  EXPECT_EQ(events(8, 0, 51), 4);
  ASSERT_EQ(events(10), 0);
  EXPECT_EQ(reply().text(), "onClick");
  ASSERT_EQ(task.system->qwself_read(self.data(), 400), 0);
  EXPECT_EQ(Reply{self.data()}.text(), "w.b");
  EXPECT_EQ(task.system->current_window(), object("w"));
  ASSERT_EQ(events(9), 0);  // nothing attached
  EXPECT_EQ(reply().type(), 11);

  // An attached value moves to the current event.
  b->CheckUserEvent(24);
  ASSERT_EQ(task.system->SetQWARG(ints({4, 5, 6})), 0);
  EXPECT_EQ(task.system->SetQWARG(ints({1})), 68);  // taken
  ASSERT_EQ(events(7), 0);
  ASSERT_EQ(events(9), 0);
  EXPECT_EQ(reply().ints(), (std::vector<std::int32_t>{4, 5, 6}));

  // After the object is deleted, the current event names no object.
  ASSERT_EQ(get("w", "b", "delete"), 0);
  ASSERT_EQ(task.system->qwself_read(self.data(), 400), 0);
  EXPECT_EQ(Reply{self.data()}.text(), "");
  ASSERT_EQ(events(10), 0);
  EXPECT_EQ(reply().text(), "");
  EXPECT_EQ(events(11), 24);
  EXPECT_EQ(events(2), 24);
}

TEST_F(QwiEventQueue, AQueuedEventOfADeletedObjectStillRuns) {
  b->CheckUserEvent(24);
  ASSERT_EQ(get("w", "b", "delete"), 0);
  ASSERT_EQ(events(7), 0);
  EXPECT_EQ(reply().text(), "clicked");
  std::vector<std::uint8_t> self(400);
  ASSERT_EQ(task.system->qwself_read(self.data(), 400), 0);
  EXPECT_EQ(Reply{self.data()}.text(), "");
}

TEST_F(QwiEventQueue, VisibleWindowCheck) {
  std::vector<std::uint8_t> out(64);
  const std::string w(1, static_cast<char>(fontin('w')));
  // The pending window is shown first, so it counts.
  ASSERT_EQ(task.system->check_visible_window(w.c_str(), out.data(), 64), 0);
  EXPECT_EQ(Reply{out.data()}.ints(), std::vector<std::int32_t>{1});
  ASSERT_EQ(set("w", "", "opened", int_scalar(0)), 0);
  ASSERT_EQ(task.system->check_visible_window(w.c_str(), out.data(), 64), 0);
  EXPECT_EQ(Reply{out.data()}.ints(), std::vector<std::int32_t>{0});
  ASSERT_EQ(task.system->check_visible_window("nosuch", out.data(), 64), 0);
  EXPECT_EQ(Reply{out.data()}.ints(), std::vector<std::int32_t>{0});
}

}  // namespace
}  // namespace zema::wi_test

namespace zema::wi_test {
namespace {

TEST_F(QwiEventQueue, SignalRaisesOnSignalOnTheRepresentingObjectWithTheValue) {
  // A child task whose System object is represented by `t` in this tree.
  FakeTask child;
  ASSERT_EQ(make("t", "", "Timer", {text("onSignal"), text("signalled")}), 0);
  child.system->representing_object = object("t");
  std::vector<std::uint8_t> out(256);
  const Value payload = ints({7, 8});
  ASSERT_EQ(child.system->SetProperty(337, payload.data()), 0);
  ASSERT_EQ(events(7), 0);
  EXPECT_EQ(reply().text(), "signalled");
  ASSERT_EQ(events(8), 0);
  EXPECT_EQ(reply().ints()[1], 43);
  EXPECT_EQ(reply().ints()[5], child.system->task_id());
  ASSERT_EQ(events(9), 0);
  EXPECT_EQ(reply().ints(), (std::vector<std::int32_t>{7, 8}));
  // Without a representing object nothing is raised.
  child.system->representing_object = nullptr;
  EXPECT_EQ(child.system->GetProperty(337, out.data(), 256), 0);
  EXPECT_EQ(task.system->QueuedCount(), 0);
}

}  // namespace
}  // namespace zema::wi_test

namespace zema::wi_test {
namespace {

TEST_F(QwiEventQueue, ClearingTheQueueEndsEveryHandleAndAttachment) {
  EXPECT_EQ(task.system->SetQWARG(ints({1})), 68);  // nothing queued
  b->CheckUserEvent(24);
  b->CheckUserEvent(24);
  ASSERT_EQ(events(5), 0);
  const std::int32_t handle = reply().ints()[9];
  ASSERT_EQ(task.system->SetQWARG(ints({1})), 0);
  task.system->ClearEventQueue();
  EXPECT_EQ(task.system->QueuedCount(), 0);
  EXPECT_EQ(events(6, handle), 12);
  // The object and its callback are still there.
  EXPECT_EQ(b->CheckUserEvent(24), 3);
  ASSERT_EQ(events(7), 0);
  EXPECT_EQ(reply().text(), "clicked");
}

TEST_F(QwiEventQueue, OpenAndOpenedRaiseOnOpenOnce) {
  ASSERT_EQ(set("w", "b", "onOpen", text("o")), 0);
  ASSERT_EQ(set("w", "b", "opened", int_scalar(0)), 0);
  EXPECT_FALSE(b->opened());
  ASSERT_EQ(get("w", "b", "opened"), 0);
  EXPECT_EQ(reply().ints(), std::vector<std::int32_t>{0});
  ASSERT_EQ(get("w", "b", "open"), 0);
  ASSERT_EQ(get("w", "b", "open"), 0);  // already open: nothing
  ASSERT_EQ(set("w", "b", "opened", int_scalar(1)), 0);
  EXPECT_TRUE(b->opened());
  EXPECT_EQ(task.system->QueuedCount(), 1);
  EXPECT_EQ(set("w", "b", "opened", int_scalar(2)), 12);
}

}  // namespace
}  // namespace zema::wi_test
