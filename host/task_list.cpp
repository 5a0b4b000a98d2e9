// The process's list of tasks, linked through APLTask::nextTask.
#include <mutex>

#include "host/task.h"

namespace zema {

namespace {
std::mutex list_lock;
APLTask* sFirstTask = nullptr;
}  // namespace

APLTask::APLTask() {
  std::lock_guard<std::mutex> lock(list_lock);
  APLTask** link = &sFirstTask;
  while (*link) link = &(*link)->nextTask;
  *link = this;
}

APLTask::~APLTask() { unlink_apl_task(this); }

APLTask* first_apl_task() {
  std::lock_guard<std::mutex> lock(list_lock);
  return sFirstTask;
}

int count_apl_tasks() {
  std::lock_guard<std::mutex> lock(list_lock);
  int n = 0;
  for (APLTask* t = sFirstTask; t; t = t->nextTask) ++n;
  return n;
}

int unlink_apl_task(APLTask* task) {
  std::lock_guard<std::mutex> lock(list_lock);
  for (APLTask** link = &sFirstTask; *link; link = &(*link)->nextTask) {
    if (*link == task) {
      *link = task->nextTask;
      task->nextTask = nullptr;
      break;
    }
  }
  int n = 0;
  for (APLTask* t = sFirstTask; t; t = t->nextTask) ++n;
  return n;
}

}  // namespace zema
