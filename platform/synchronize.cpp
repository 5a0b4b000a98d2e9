#include "platform/synchronize.h"

#include <QCoreApplication>
#include <QMetaObject>
#include <QThread>

namespace zema {

bool on_gui_thread() {
  QCoreApplication* app = QCoreApplication::instance();
  return !app || QThread::currentThread() == app->thread();
}

void synchronize(const std::function<void()>& work) {
  if (on_gui_thread()) {
    work();
    return;
  }
  QMetaObject::invokeMethod(QCoreApplication::instance(), [&work] { work(); }, Qt::BlockingQueuedConnection);
}

}  // namespace zema
