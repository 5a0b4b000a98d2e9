#include "wi/qwi_timer.h"

#include <QTimer>

#include "host/values.h"

namespace zema {

QwiTimer::QwiTimer(APLTask* task, std::string_view name, QwiObj* parent) : QwiObj(task, name, parent) {
  class_id_ = qwi_class::Timer;
  auto* t = new QTimer(parent ? parent->control() : nullptr);
  t->setInterval(1000);
  SetControl(t);
  Apply();
}

QTimer* QwiTimer::timer() const { return qobject_cast<QTimer*>(control_); }

void QwiTimer::Apply() {
  QTimer* t = timer();
  if (!t) return;
  if (enabled_ && t->interval() > 0) t->start();
  else t->stop();
}

void QwiTimer::ValidAtThisLevel(QwiValidFlags& flags) {
  flags.properties[33] = flags.properties[5] = 1;
  flags.events[18] = 1;
}

void QwiTimer::ValidForClass(QwiValidFlags& flags) {
  QwiObj::ValidAtThisLevel(flags);
  ValidAtThisLevel(flags);
}

void QwiTimer::HookCallback(int event) {
  if (event != 18 || hooked_ || !timer()) return;
  hooked_ = true;
  QObject::connect(timer(), &QTimer::timeout, timer(), [this] { OnTimerHandler(); });
}

void QwiTimer::OnTimerHandler() {
  if (opened_) CheckUserEvent(18);
}

int QwiTimer::GetProperty(int id, void* result, int size) {
  switch (id) {
    case 5: return return_boolean_scalar(result, enabled_);
    case 33: return return_integer_scalar(result, timer() ? timer()->interval() : 0);
    default: return QwiObj::GetProperty(id, result, size);
  }
}

int QwiTimer::SetProperty(int id, const void* value) {
  std::int32_t v;
  switch (id) {
    case 5:
      if (!value || get_one_boolean(value, &v)) return 12;
      enabled_ = v;
      Apply();
      return 0;
    case 33:
      if (!value || get_one_integer(value, &v) || v < 0) return 12;
      if (timer()) timer()->setInterval(v);
      Apply();
      return 0;
    default: return QwiObj::SetProperty(id, value);
  }
}

}  // namespace zema
