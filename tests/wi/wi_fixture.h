// A task with a ⎕WI System object, driven through the same request entry
// points a real task uses; APL values built in host memory; replies read
// back from result areas; and small test classes standing in for the
// visible classes (a window with a widget, plain objects of any class id).
#pragma once

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QEvent>
#include <QWidget>

#include <cstdint>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "host/charset.h"
#include "host/task.h"
#include "wi/qwi_system.h"
#include "wi/requests.h"
#include "wi/value_forms.h"

namespace zema::wi_test {

using Value = std::vector<std::uint8_t>;

// ---- values ----

inline Value header(std::uint8_t type, const std::vector<std::uint32_t>& shape, std::size_t data) {
  const std::size_t raw = 12 + 4 * shape.size() + data;
  Value v((raw + 3) & ~std::size_t{3}, 0);
  const auto size = static_cast<std::uint32_t>(v.size());
  std::memcpy(&v[4], &size, 4);
  v[8] = type;
  const auto r4 = static_cast<std::uint16_t>(4 * shape.size());
  std::memcpy(&v[10], &r4, 2);
  for (std::size_t i = 0; i < shape.size(); ++i) std::memcpy(&v[12 + 4 * i], &shape[i], 4);
  return v;
}

inline Value ints(const std::vector<std::int32_t>& items, std::vector<std::uint32_t> shape = {~0u}) {
  if (shape == std::vector<std::uint32_t>{~0u}) shape = {static_cast<std::uint32_t>(items.size())};
  Value v = header(7, shape, 4 * items.size());
  if (!items.empty()) std::memcpy(&v[12 + 4 * shape.size()], items.data(), 4 * items.size());
  return v;
}
inline Value int_scalar(std::int32_t x) { return ints({x}, {}); }
inline Value float_scalar(double x) {
  Value v = header(9, {}, 8);
  std::memcpy(&v[12], &x, 8);
  return v;
}
// A character vector of display-code text (each byte through fontin).
inline Value text(const std::string& display) {
  Value v = header(11, {static_cast<std::uint32_t>(display.size())}, display.size());
  for (std::size_t i = 0; i < display.size(); ++i) v[16 + i] = fontin(static_cast<unsigned char>(display[i]));
  return v;
}
inline Value nested(const std::vector<Value>& items) {
  std::size_t size = 16 + 4 * items.size();
  for (const Value& it : items) size += it.size();
  Value v = header(15, {static_cast<std::uint32_t>(items.size())}, 4 * items.size());
  v.resize(size, 0);
  const auto s = static_cast<std::uint32_t>(size);
  std::memcpy(&v[4], &s, 4);
  std::uint32_t at = static_cast<std::uint32_t>(16 + 4 * items.size());
  for (std::size_t i = 0; i < items.size(); ++i) {
    std::memcpy(&v[16 + 4 * i], &at, 4);
    std::memcpy(&v[at], items[i].data(), items[i].size());
    at += static_cast<std::uint32_t>(items[i].size());
  }
  return v;
}

// ---- replies ----

struct Reply {
  const std::uint8_t* p;
  int type() const { return p[8]; }
  int rank() const { return qwi_rank(p); }
  std::uint32_t length(int axis) const {
    std::uint32_t n;
    std::memcpy(&n, p + 12 + 4 * axis, 4);
    return n;
  }
  std::vector<std::uint32_t> shape() const {
    std::vector<std::uint32_t> s;
    for (int k = 0; k < rank(); ++k) s.push_back(length(k));
    return s;
  }
  const std::uint8_t* data() const { return p + 12 + 4 * rank(); }
  std::vector<std::int32_t> ints() const {
    std::vector<std::int32_t> out(qwi_item_count(p));
    if (type() == 5) {
      for (std::size_t i = 0; i < out.size(); ++i) {
        std::uint32_t w;
        std::memcpy(&w, data() + 4 * (i / 32), 4);
        out[i] = (w >> (31 - i % 32)) & 1;
      }
    } else if (!out.empty()) {
      std::memcpy(out.data(), data(), 4 * out.size());
    }
    return out;
  }
  std::vector<double> floats() const {
    std::vector<double> out(qwi_item_count(p));
    if (!out.empty()) std::memcpy(out.data(), data(), 8 * out.size());
    return out;
  }
  // A character array's characters in display code.
  std::string text() const {
    std::string s(reinterpret_cast<const char*>(data()), qwi_item_count(p));
    for (char& c : s) c = static_cast<char>(fontout(static_cast<unsigned char>(c)));
    return s;
  }
  Reply item(std::uint32_t i) const { return {static_cast<const std::uint8_t*>(qwi_nested_item(p, i))}; }
  // The items of a nested vector of texts.
  std::vector<std::string> texts() const {
    std::vector<std::string> out;
    if (type() != 15) return out;
    for (std::uint32_t i = 0; i < qwi_item_count(p); ++i) out.push_back(item(i).text());
    return out;
  }
};

// ---- test classes ----

// A plain object of any class id, optionally with a control.
class TestObj : public QwiObj {
 public:
  TestObj(APLTask* task, std::string_view name, QwiObj* parent, int class_id, bool with_control)
      : QwiObj(task, name, parent) {
    class_id_ = static_cast<std::uint8_t>(class_id);
    if (with_control) SetControl(new QObject);
    if (class_id == qwi_class::Button) {
      QFont f;
      f.setPixelSize(16);
      font_ = f;
    }
  }
  // A property that fails: `border` (12) is refused with 20.
  int SetProperty(int id, const void* value) override { return id == 12 ? 20 : QwiObj::SetProperty(id, value); }
};

// A window: class id 0, a widget, shown when opened.
class TestWindow : public QwiObj {
 public:
  TestWindow(APLTask* task, std::string_view name, QwiObj* parent) : QwiObj(task, name, parent) {
    class_id_ = 0;
    visible_ = true;
    show_when_opened_ = true;
    SetControl(new QWidget);
  }
};

inline QwiObj* make_test_object(APLTask* task, std::string_view name, QwiObj* parent, int class_id) {
  if (class_id <= 2) return new TestWindow(task, name, parent);
  // Classes that hold controls in the real system: a frame, selector,
  // page, button, list and edit; the rest wrap nothing.
  const bool control = class_id != qwi_class::Timer && class_id != qwi_class::Menu && class_id != qwi_class::Imagelist;
  return new TestObj(task, name, parent, class_id, control);
}

inline void register_test_classes() {
  for (int id : {0, 1, 2, 3, 4, 6, 7, 9, 15, 21, 22, 23, 26, 27, 36, 46})
    QwiObj::RegisterClass(id, make_test_object);
}

// ---- the task ----

class FakeTask : public APLTask {
 public:
  FakeTask() {
    register_test_classes();
    system = new QwiSystem(this);
  }
  ~FakeTask() override {
    system->ClearEventQueue();
    system->DeleteYourself();
    delete system;
    // Window widgets go through the deferred release.
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
  }
  void WriteOutput(const char*, std::size_t) override {}
  void FlushOutput() override { ++flushes; }
  Input ReadInputLine(std::string&) override { return Input::Ended; }
  int GetOneKeystroke() override { return 3; }
  std::uint32_t ReAllocateTaskMemory(std::uint32_t, std::uint8_t**) override { return 0; }
  [[noreturn]] void EndAPLTask() override { throw TaskEnded{0}; }

  int flushes = 0;
};

// The fixture: requests written in display code, replies in `area`.
class WiTest : public ::testing::Test {
 protected:
  FakeTask task;
  std::vector<std::uint8_t> area = std::vector<std::uint8_t>(4096, 0xEE);

  // Reads `property` of the object top.path into `area` (room bytes).
  // Names are given in display code and handed over in internal
  // characters, as the interpreter holds them; a null property stays null.
  int get(const std::string& top, const std::string& path, const char* property, int room = 4096) {
    area.assign(std::max(room, 4096), 0xEE);
    task.resultBuffer = area.data();
    task.resultSize = room;
    hand_over(top, path, property);
    qwi_get_property_request(task);
    return task.guiResult;
  }
  int set(const std::string& top, const std::string& path, const char* property, const Value& value) {
    task.requestValue = value.data();
    hand_over(top, path, property);
    qwi_set_property_request(task);
    return task.guiResult;
  }
  static std::string internal(const std::string& display) {
    std::string s;
    for (char c : display) s += static_cast<char>(fontin(static_cast<unsigned char>(c)));
    return s;
  }
  void hand_over(const std::string& top, const std::string& path, const char* property) {
    top_ = internal(top);
    path_ = internal(path);
    property_ = property ? internal(property) : std::string();
    task.propertyName = property ? property_.c_str() : nullptr;
    task.objectTop = top_.c_str();
    task.objectPath = path_.c_str();
  }
  std::string top_, path_, property_;
  // `new` at top/path of a class, with name/value pairs.
  int make(const std::string& top, const std::string& path, const std::string& cls, std::vector<Value> pairs = {}) {
    if (pairs.empty()) return set(top, path, "New", text(cls));
    pairs.insert(pairs.begin(), text(cls));
    return set(top, path, "New", nested(pairs));
  }
  Reply reply() const { return {area.data()}; }
  int events(int subcode, int argument = 0, int room = 4096) {
    area.assign(std::max(room, 4096), 0xEE);
    return task.system->r1000_events(subcode, argument, area.data(), room);
  }
  QwiObj* object(const std::string& top, const std::string& path = "") {
    return find_qwi_object(task.system, internal(top), internal(path));
  }
};

}  // namespace zema::wi_test
