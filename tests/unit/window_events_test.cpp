// ⎕WI requests and ⎕WE event waits against a scripted task: the task
// records what reaches its ⎕WI property calls and serves a queue of events
// and callback expressions, so that the interpreter's side is seen on its
// own: the requests sent for each argument shape, the replies adopted, the
// argument errors, callbacks run between events, the event functions
// inside and outside callbacks, and an attention ending a wait.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstring>
#include <deque>
#include <string>
#include <thread>
#include <variant>
#include <vector>

#include "host/charset.h"
#include "host/services_channel.h"
#include "host/values.h"
#include "interpreter/workspace/entry.h"
#include "interpreter/workspace/heap.h"
#include "interpreter/workspace/integrity.h"
#include "test_workspace.h"

namespace zema {
namespace {

using Event = std::vector<std::int32_t>;
using Clock = std::chrono::steady_clock;

// Writes an array object into a reply area: a simple integer vector, a
// character vector (UTF-8 given), or a nested vector of integer scalars.
void write_ints(void* area, const std::vector<std::int32_t>& v) {
  auto* b = static_cast<std::uint8_t*>(area);
  const std::uint32_t n = static_cast<std::uint32_t>(v.size()), size = 16 + 4 * n;
  std::memset(b, 0, 16);
  std::memcpy(b + 4, &size, 4);
  b[8] = 7;
  b[10] = 4;
  std::memcpy(b + 12, &n, 4);
  if (n) std::memcpy(b + 16, v.data(), 4 * n);
}
void write_nested_ints(void* area, const std::vector<std::int32_t>& v) {
  auto* b = static_cast<std::uint8_t*>(area);
  const std::uint32_t n = static_cast<std::uint32_t>(v.size());
  std::uint32_t at = 16 + 4 * n;
  for (std::uint32_t i = 0; i < n; ++i) {
    std::memcpy(b + 16 + 4 * i, &at, 4);
    std::uint8_t* item = b + at;
    const std::uint32_t item_size = 16;
    std::memset(item, 0, 16);
    std::memcpy(item + 4, &item_size, 4);
    item[8] = 7;  // rank 0: the value follows the header
    std::memcpy(item + 12, &v[i], 4);
    at += item_size;
  }
  std::memset(b, 0, 4);
  std::memcpy(b + 4, &at, 4);
  b[8] = 15;
  b[9] = 0;
  b[10] = 4;
  b[11] = 0;
  std::memcpy(b + 12, &n, 4);
}

// An array object written as text: 'chars', numbers, (nested items).
std::string render(const std::uint8_t* v, bool top = true) {
  std::uint32_t rank4 = 0;
  std::memcpy(&rank4, v + 10, 2);
  rank4 &= 0xFFFF;
  const std::uint32_t rank = rank4 / 4;
  std::uint32_t n = 1;
  for (std::uint32_t k = 0; k < rank; ++k) {
    std::uint32_t len = 0;
    std::memcpy(&len, v + 12 + 4 * k, 4);
    n *= len;
  }
  const std::uint8_t* data = v + 12 + 4 * rank;
  std::string out;
  switch (v[8]) {
    case 11: return "'" + internal_to_utf8(std::string(reinterpret_cast<const char*>(data), n)) + "'";
    case 15:
      for (std::uint32_t i = 0; i < n; ++i) {
        std::uint32_t at = 0;
        std::memcpy(&at, data + 4 * i, 4);
        out += (i ? " " : "") + render(v + at, false);
      }
      return top ? out : "(" + out + ")";
    case 7:
      for (std::uint32_t i = 0; i < n; ++i) {
        std::int32_t x = 0;
        std::memcpy(&x, data + 4 * i, 4);
        out += (i ? " " : "") + std::to_string(x);
      }
      return out;
    case 5:
      for (std::uint32_t i = 0; i < n; ++i) {
        std::uint32_t w = 0;
        std::memcpy(&w, data + 4 * (i / 32), 4);
        out += (i ? " " : "") + std::to_string((w >> (31 - i % 32)) & 1);
      }
      return out;
    default: return "?";
  }
}

std::string utf8_or_null(const char* internal) { return internal ? internal_to_utf8(internal) : "-"; }

// The scripted ⎕WI system.
class ScriptedWiTask : public test::CaptureTask {
 public:
  // Each property call, as "get OBJECT PATH PROPERTY" or "set OBJECT PATH
  // PROPERTY value" ("-" for a missing part).
  std::vector<std::string> requests;
  // The reply of a property read: a text, or (nested_reply) 1 2 3 as a
  // nested vector of scalars.
  std::string reply = "Hello";
  bool nested_reply = false;
  int property_failure = 0;  // answered by every property call when set
  // The event queue: callback texts (UTF-8) and event records.
  std::deque<std::variant<std::string, Event>> queue;
  Event current{0, 999, 0, 0, 0, 0, 0, 0, 0};
  std::vector<int> subcodes;   // of every events read
  std::vector<int> arguments;  // and its argument
  int discards = 0;            // subcode-3 reads
  int visible_reads = 0;       // window visibility asked
  int visible_until = 0;       // visible for this many reads
  std::string visible_name;

  void QwiGetProperty() override {
    requests.push_back("get " + utf8_or_null(objectTop) + " " + utf8_or_null(objectPath) + " " +
                       utf8_or_null(propertyName));
    if (property_failure) {
      guiResult = property_failure;
      return;
    }
    if (nested_reply)
      write_nested_ints(resultBuffer, {1, 2, 3});
    else if (propertyName)
      return_raw_text(resultBuffer, utf8_to_internal(reply).c_str(), resultSize);
    guiResult = 0;
  }
  void QwiSetProperty() override {
    requests.push_back("set " + utf8_or_null(objectTop) + " " + utf8_or_null(objectPath) + " " +
                       utf8_or_null(propertyName) + " " + render(static_cast<const std::uint8_t*>(requestValue)));
    guiResult = property_failure;
  }
  int QwiEvents(int subcode, int argument, void* result, int room) override {
    subcodes.push_back(subcode);
    arguments.push_back(argument);
    switch (subcode) {
      case 3:
        ++discards;
        queue.clear();
        return return_empty_matrix(result);
      case 7:
        if (queue.empty()) {
          if (argument != 0) std::this_thread::sleep_for(std::chrono::milliseconds(100));
          return return_empty_vector(result);
        }
        if (auto* text = std::get_if<std::string>(&queue.front())) {
          const std::string t = utf8_to_internal(*text);
          queue.pop_front();
          return return_raw_text(result, t.c_str(), room);
        } else {
          const Event e = std::get<Event>(queue.front());
          queue.pop_front();
          write_ints(result, e);
          return 0;
        }
      case 8: write_ints(result, current); return 0;
      case 9: return return_integer_scalar(result, 42);
      case 10: return return_raw_text(result, utf8_to_internal("onClick").c_str(), room);
      default: return 24;
    }
  }
  int QwiSelf(void* result, int room) override {
    return return_raw_text(result, utf8_to_internal("W.B").c_str(), room);
  }
  int QwiWindowVisible(const char* name, void* result, int room) override {
    (void)room;
    visible_name = internal_to_utf8(name);
    return return_boolean_scalar(result, ++visible_reads <= visible_until ? 1 : 0);
  }
};

template <typename Task>
class WiSession : public ::testing::Test {
 protected:
  void SetUp() override {
    saved_ = lex_routes();
    install_definition_routes();
    set_current_apl_task(&task_);
    task_.wsBase = ws();
    sup_attn(1, ws());
  }
  void TearDown() override {
    set_current_apl_task(nullptr);
    lex_routes() = saved_;
  }
  Ws ws() const { return t_.ws(); }

  // Runs the lines; answers what was printed (a new line per return).
  std::string type(std::initializer_list<std::string> lines) {
    task_.output.clear();
    for (const std::string& l : lines) {
      const std::string text = utf8_to_internal(l);
      wr16(ws(), hdr::OutColumn, 0);
      run_input_line(text.data(), static_cast<int>(text.size()), ws());
    }
    std::string out;
    for (char c : task_.output) out += c == '\r' ? std::string("\n") : internal_to_utf8(std::string(1, c));
    return out;
  }
  std::string first(std::initializer_list<std::string> lines) { return test::first_line(type(lines)); }
  void expect_sound() {
    force_gcol(ws());
    EXPECT_TRUE(heap_consistent(ws()));
    EXPECT_EQ(check_integrity(ws()), IF_OK);
  }

  test::TestWorkspace t_{256 * 1024};
  Task task_;
  LexRoutes saved_;
};

using WindowRequests = WiSession<ScriptedWiTask>;
using WindowEvents = WiSession<ScriptedWiTask>;
using NoWiSystem = WiSession<test::CaptureTask>;

// ---- the channel ----

TEST(ServicesChannel, RefusesWhatItDoesNotServe) {
  std::vector<std::uint32_t> area(64, 0);
  std::vector<std::uint32_t> name(8, 0);
  return_raw_text(name.data(), "A", 32);
  // Without a task: no ⎕WI system.
  EXPECT_EQ(services_write(kServicesProperties, 1, 0, name.data()), 88);
  EXPECT_EQ(services_read(kServicesEvents, 7, 0, area.data(), 256), 88);
  ScriptedWiTask task;
  test::CurrentTask current(&task);
  EXPECT_EQ(services_write(kServicesProperties, 1, 0, name.data()), 0);
  EXPECT_EQ(services_write(kServicesProperties, 9, 0, name.data()), 12);
  EXPECT_EQ(services_read(kServicesProperties, 9, 0, area.data(), 256), 12);
  EXPECT_EQ(services_write(kServicesEvents, 7, 0, name.data()), 24);
  EXPECT_EQ(services_write(6, 1, 0, name.data()), 24);
  EXPECT_EQ(services_read(6, 1, 0, area.data(), 256), 24);
  // A name must be text.
  return_integer_scalar(name.data(), 5);
  EXPECT_EQ(services_write(kServicesProperties, 2, 1, name.data()), 12);
}

// ---- ⎕WI ----

TEST_F(WindowRequests, ReadsAPropertyOfTheNamedObject) {
  EXPECT_EQ(type({"'W' ⎕WI 'caption'"}), "Hello\n");
  // The object's name is split at its first dot; the property name is
  // sent in capitals.
  EXPECT_EQ(type({"'F.B.C' ⎕WI 'Caption'"}), "Hello\n");
  EXPECT_EQ(task_.requests, (std::vector<std::string>{"get W - CAPTION", "get F B.C CAPTION"}));
}

TEST_F(WindowRequests, EachArgumentShapeSendsItsValue) {
  struct Case {
    const char* line;
    const char* sent;
  };
  const Case cases[] = {
      {"'W' ⎕WI 'caption' 'Hello'", "set W - CAPTION 'Hello'"},
      {"'W' ⎕WI 'size' (10 20)", "set W - SIZE 10 20"},
      {"'W' ⎕WI 'set' ('caption' 'A') ('visible' 1)", "set W - SET 'caption' 'A' 'visible' 1"},
      {"'W' ⎕WI 'SET' ('caption' 'A')", "set W - SET 'caption' 'A'"},
      {"'W' ⎕WI 'Set' ('where' 1 2 3)", "set W - SET 'where' (1 2 3)"},
      {"⎕WI 'New' 'Form' ('caption' 'X')", "set W - NEW 'Form' 'caption' 'X'"},
      {"⎕WI 'create' 'Form' ('caption' 'X') ('size' 5 6)", "set W - CREATE 'Form' 'caption' 'X' 'size' (5 6)"},
      {"⎕WI 'New' 'Form'", "set W - NEW 'Form'"},
      {"'W' ⎕WI 'addItem' 'one' 2", "set W - ADDITEM 'one' 2"},
  };
  for (const Case& c : cases) {
    task_.requests.clear();
    const std::string out = type({std::string("R←") + c.line});
    SCOPED_TRACE(c.line);
    EXPECT_EQ(out, "");
    // The value write, then the read of its reply (no property named).
    ASSERT_EQ(task_.requests.size(), 2u);
    EXPECT_EQ(task_.requests[0], c.sent);
    EXPECT_EQ(task_.requests[1].substr(task_.requests[1].size() - 2), " -");
  }
  expect_sound();
}

TEST_F(WindowRequests, ArgumentErrors) {
  struct Case {
    const char* line;
    const char* error;
  };
  const Case cases[] = {
      {"⎕WI ⊂'caption'", "LENGTH ERROR"},
      {"⎕WI 2 2⍴⊂'x'", "RANK ERROR"},
      {"⎕WI 5", "DOMAIN ERROR"},
      {"'W' ⎕WI 'new' 'Form' 'caption'", "DOMAIN ERROR"},
      {"'W' ⎕WI 'set' ('caption')", "DOMAIN ERROR"},
      {"'W' ⎕WI 'set' (,⊂'caption')", "DOMAIN ERROR"},
      {"('W' 'XY') ⎕WI 'caption'", "DOMAIN ERROR"},
      {"'W' ⎕WI 106⍴'a'", "LENGTH ERROR"},
      {"(2 2⍴'ab') ⎕WI 'caption'", "RANK ERROR"},
  };
  for (const Case& c : cases) {
    task_.requests.clear();
    EXPECT_EQ(first({c.line}), c.error) << c.line;
    EXPECT_TRUE(task_.requests.empty()) << c.line;
  }
  // 105 characters are a name.
  EXPECT_EQ(first({"'W' ⎕WI 105⍴'a'"}), "Hello");
  expect_sound();
}

TEST_F(WindowRequests, ANestedReplyOfSimpleScalarsArrivesSimple) {
  task_.nested_reply = true;
  EXPECT_EQ(type({"R←'W' ⎕WI 'list'", "R", "≡R", "R+1"}), "1 2 3\n1\n2 3 4\n");
}

TEST_F(WindowRequests, TheSystemsFailureIsRaisedWithItsCode) {
  task_.property_failure = 12;
  EXPECT_EQ(first({"'W' ⎕WI 'caption'"}), "DOMAIN ERROR");
  task_.property_failure = 88;
  type({"'W' ⎕WI 'caption'"});
  EXPECT_EQ(type({"⎕ET"}), "0 1\n");
}

TEST_F(NoWiSystem, WithoutAWiSystemRequestsFail) {
  EXPECT_NE(first({"'W' ⎕WI 'caption'"}), "");
  EXPECT_EQ(type({"⎕ET"}), "0 1\n");
  EXPECT_EQ(first({"⎕WE 0"}), "DOMAIN ERROR");
  EXPECT_EQ(type({"⍴⎕WSELF", "⍴⎕WARG", "⍴⎕EVN", "⎕EVT≡⎕NULL"}), "0\n0\n0\n1\n");
}

// ---- ⎕WE ----

TEST_F(WindowEvents, LookingOnceWithNoEventAnswersEmptyAtOnce) {
  const auto t0 = Clock::now();
  EXPECT_EQ(type({"R←⎕WE 0", "⍴R", "0=↑0⍴R"}), "0\n1\n");
  EXPECT_LT(Clock::now() - t0, std::chrono::milliseconds(90));
  EXPECT_EQ(task_.subcodes, (std::vector<int>{7}));
  EXPECT_EQ(task_.arguments, (std::vector<int>{0}));
}

TEST_F(WindowEvents, AnEventWithoutACallbackIsTheResult) {
  task_.queue.push_back(Event{7, 1, 2, 3, 4, 5, 6, 7, 8});
  EXPECT_EQ(type({"⎕WE ¯1"}), "7 1 2 3 4 5 6 7 8\n");
  EXPECT_EQ(task_.arguments, (std::vector<int>{-1}));
  task_.queue.push_back(Event{9, 9, 9, 9, 9, 9, 9, 9, 9});
  EXPECT_EQ(type({"⎕WE 2.5"}), "9 9 9 9 9 9 9 9 9\n");
  EXPECT_EQ(task_.arguments.back(), 2500);
}

TEST_F(WindowEvents, CallbacksRunThenTheNextEventIsReturned) {
  task_.queue.push_back(std::string("N←N+1"));
  task_.queue.push_back(std::string("N←N+10 ⋄ S←⎕WSELF ⋄ A←⎕WARG ⋄ E←⎕EVN"));
  task_.queue.push_back(Event{1, 2, 3, 4, 5, 6, 7, 8, 9});
  EXPECT_EQ(type({"N←0", "R←⎕WE ¯1", "N", "R", "S", "A", "E", "⎕EVT≡⎕NULL"}),
            "11\n1 2 3 4 5 6 7 8 9\nW.B\n42\nonClick\n1\n");
  EXPECT_EQ(task_.queue.size(), 0u);
  // Outside a callback the event functions answer as without an event.
  EXPECT_EQ(type({"⍴⎕WSELF", "⍴⎕WARG", "⍴⎕EVN"}), "0\n0\n0\n");
  EXPECT_EQ(task_.hostVars.qwi_callback_flag, -1);
  expect_sound();
}

TEST_F(WindowEvents, ACallbacksValueIsNotShownAndItsOutputIs) {
  task_.queue.push_back(std::string("1+1"));
  task_.queue.push_back(std::string("⎕←'seen'"));
  EXPECT_EQ(type({"⍴⎕WE 0.05"}), "seen\n0\n");
}

TEST_F(WindowEvents, ATimeOutEndsTheWaitAfterTheLastCallback) {
  task_.queue.push_back(std::string("X←1"));
  const auto t0 = Clock::now();
  EXPECT_EQ(type({"⍴⎕WE 0.3", "X"}), "0\n1\n");
  const auto waited = Clock::now() - t0;
  EXPECT_GE(waited, std::chrono::milliseconds(290));
  EXPECT_LT(waited, std::chrono::milliseconds(2000));
}

TEST_F(WindowEvents, AFailingCallbackEndsTheWaitWithItsError) {
  task_.queue.push_back(std::string("1÷0"));
  task_.queue.push_back(Event{1, 1, 1, 1, 1, 1, 1, 1, 1});
  EXPECT_EQ(first({"⎕WE ¯1"}), "DOMAIN ERROR");
  expect_sound();
  // The failed callback is over: the event functions answer as outside one.
  EXPECT_EQ(type({"⍴⎕WSELF", "⍴⎕EVN"}), "0\n0\n");
  // The event behind it is still there for the next wait.
  EXPECT_EQ(type({"⎕WE 0"}), "1 1 1 1 1 1 1 1 1\n");
  // A callback that calls ⎕WE itself.
  task_.queue.push_back(std::string("Y←⎕WE 0"));
  task_.queue.push_back(Event{2, 2, 2, 2, 2, 2, 2, 2, 2});
  EXPECT_EQ(type({"⍴⎕WE 0", "Y"}), "0\n2 2 2 2 2 2 2 2 2\n");
  expect_sound();
}

TEST_F(WindowEvents, ACallbackInsideADefinedFunction) {
  type({"∇Z←F", "Z←⎕WE ¯1", "∇"});
  task_.queue.push_back(std::string("G←'in'"));
  task_.queue.push_back(Event{3, 3, 3, 3, 3, 3, 3, 3, 3});
  EXPECT_EQ(type({"F", "G"}), "3 3 3 3 3 3 3 3 3\nin\n");
  expect_sound();
}

TEST_F(WindowEvents, DiscardingFirst) {
  task_.queue.push_back(Event{1, 1, 1, 1, 1, 1, 1, 1, 1});
  EXPECT_EQ(type({"⍴1 ⎕WE 0"}), "0\n");
  EXPECT_EQ(task_.discards, 1);
  task_.queue.push_back(Event{1, 1, 1, 1, 1, 1, 1, 1, 1});
  EXPECT_EQ(type({"0 ⎕WE 0"}), "1 1 1 1 1 1 1 1 1\n");
  EXPECT_EQ(task_.discards, 1);
  struct Case {
    const char* line;
    const char* error;
  };
  for (const Case& c :
       {Case{"1 2 ⎕WE 0", "LENGTH ERROR"}, Case{"'a' ⎕WE 0", "DOMAIN ERROR"}, Case{"⎕WE 1 2", "RANK ERROR"},
        Case{"⎕WE ⊂1 2", "DOMAIN ERROR"}, Case{"⎕WE 3E6", "DOMAIN ERROR"}, Case{"⎕WE ⎕NULL", "DOMAIN ERROR"}})
    EXPECT_EQ(first({c.line}), c.error) << c.line;
}

TEST_F(WindowEvents, WaitingOnAWindowLastsWhileItIsVisible) {
  task_.visible_until = 2;
  task_.queue.push_back(Event{1, 1, 1, 1, 1, 1, 1, 1, 1});  // discarded in this mode
  EXPECT_EQ(type({"⍴⎕WE 'Main'"}), "0\n");
  EXPECT_EQ(task_.visible_reads, 3);
  EXPECT_EQ(task_.visible_name, "Main");
}

TEST_F(WindowEvents, TheCurrentEvent) {
  task_.current = {5, 6, 7, 8, 9, 10, 11, 12, 13};
  EXPECT_EQ(type({"⎕EV"}), "5 6 7 8 9 10 11 12 13\n");
}

// Runs `line` while another thread raises an attention after 350 ms;
// answers the output and the milliseconds from the attention to the end
// of the line.
template <typename Fixture>
std::string with_attention(Fixture& f, ScriptedWiTask& task, const std::string& line, long long* ms) {
  Clock::time_point raised;
  std::thread attention([&] {
    std::this_thread::sleep_for(std::chrono::milliseconds(350));
    raised = Clock::now();
    task.attnPending = true;
  });
  const std::string out = f.run(line);
  const auto ended = Clock::now();
  attention.join();
  *ms = std::chrono::duration_cast<std::chrono::milliseconds>(ended - raised).count();
  return out;
}

class AttentionWhileWaiting : public WindowEvents {
 public:
  std::string run(const std::string& line) { return type({line}); }
};

TEST_F(AttentionWhileWaiting, EndsAnEndlessWaitAndInterruptsTheFunction) {
  type({"∇F", "⎕WE ¯1", "'not reached'", "∇"});
  long long ms = 0;
  const std::string out = with_attention(*this, task_, "F", &ms);
  std::printf("attention to the end of the wait: %lld ms\n", ms);
  EXPECT_NE(out.find("INTERRUPT\nF[2] 'not reached'"), std::string::npos) << out;
  EXPECT_EQ(out.find("not reached\n"), std::string::npos) << out;
  EXPECT_LT(ms, 2000);
  expect_sound();
}

// In immediate execution the attention noted during the statement ends
// the wait, and the statement, as it ends a ⎕DL there.
TEST_F(AttentionWhileWaiting, EndsAnEndlessWaitInImmediateExecutionAsADelayEnds) {
  long long ms = 0;
  const std::string waited = with_attention(*this, task_, "⍴⎕WE ¯1", &ms);
  EXPECT_LT(ms, 2000);
  expect_sound();
  ScriptedWiTask other;
  test::TestWorkspace fresh{256 * 1024};
  set_current_apl_task(&other);
  other.wsBase = fresh.ws();
  sup_attn(1, fresh.ws());
  std::thread attention([&] {
    std::this_thread::sleep_for(std::chrono::milliseconds(350));
    other.attnPending = true;
  });
  other.output.clear();
  const std::string text = utf8_to_internal("⍴⎕DL 5");
  run_input_line(text.data(), static_cast<int>(text.size()), fresh.ws());
  attention.join();
  set_current_apl_task(&task_);
  EXPECT_EQ(waited, test::first_line(internal_to_utf8(other.output)) + "\n");
}

}  // namespace
}  // namespace zema
