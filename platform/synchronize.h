// The hand-off of work from a task thread to the GUI thread.
#pragma once

#include <functional>

namespace zema {

// Runs `work` on the GUI thread (the thread of the QApplication) and
// returns when it has finished; on the GUI thread itself it runs at once.
// Without an application object it runs on the calling thread.
void synchronize(const std::function<void()>& work);
// True on the GUI thread (or without an application object).
bool on_gui_thread();

}  // namespace zema
