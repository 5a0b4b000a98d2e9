// What the task tests share: a recorder of what a task hands to its
// session (its output and its end), and a wait for the task's input
// request.
#pragma once

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <string>
#include <thread>

#include "program/local_task.h"

namespace zema::task_test {

using namespace std::chrono_literals;

// Collects what a task hands to its session, and its end.
struct Session {
  std::mutex m;
  std::condition_variable cv;
  std::string text;
  int status = -1;
  LocalTask::Front Front(bool window) {
    LocalTask::Front f;
    f.session_output = [this](const std::string& s) {
      std::lock_guard<std::mutex> lock(m);
      text += s;
      cv.notify_all();
    };
    f.ended = [this](int s) {
      std::lock_guard<std::mutex> lock(m);
      status = s;
      cv.notify_all();
    };
    f.window = window;
    return f;
  }
  bool WaitFor(const std::string& part) {
    std::unique_lock<std::mutex> lock(m);
    return cv.wait_for(lock, 20s, [&] { return text.find(part) != std::string::npos; });
  }
  bool WaitEnded() {
    std::unique_lock<std::mutex> lock(m);
    return cv.wait_for(lock, 20s, [&] { return status >= 0; });
  }
  std::string Text() {
    std::lock_guard<std::mutex> lock(m);
    return text;
  }
};

inline bool wait_awaiting(const LocalTask& task) {
  for (int i = 0; i < 2000 && !task.IsAwaitingInput(); ++i) std::this_thread::sleep_for(10ms);
  return task.IsAwaitingInput();
}

}  // namespace zema::task_test
