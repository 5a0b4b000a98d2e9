// The console task of a session that uses ⎕WI: the interpreter runs on its
// own thread and the ⎕WI objects live on the GUI thread (the thread of the
// QApplication), as in the program. The task's System object (`system`)
// is made by the driver on the GUI thread before the task starts; the
// requests, the event reads, ⎕WSELF and the visibility question go to it.
// Around each wait for an input line a window waiting to be shown is
// shown (before) and a modal window is brought back (after).
#pragma once

#include "tools/console_task.h"

namespace zema {

class ConsoleWiTask : public ConsoleTask {
 public:
  using ConsoleTask::ConsoleTask;
  ~ConsoleWiTask() override;

  void QwiGetProperty() override;
  void QwiSetProperty() override;
  int QwiEvents(int subcode, int argument, void* result, int room) override;
  int QwiSelf(void* result, int room) override;
  int QwiWindowVisible(const char* name, void* result, int room) override;
  Input ReadInputLine(std::string& line) override;

  // GUI thread, once the interpreter has ended: empties the event queue
  // and deletes the ⎕WI tree and the System object (`system` ← null).
  void CloseDownWi();
};

}  // namespace zema
