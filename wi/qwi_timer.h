// The ⎕WI Timer: a periodic onTimer event. Its control is a QTimer owned by
// the parent's control (none for a top-level Timer). It starts enabled with
// a 1000 ms interval; an interval of 0 never ticks. GUI thread.
#pragma once

#include "wi/qwi_obj.h"

class QTimer;

namespace zema {

class QwiTimer : public QwiObj {
 public:
  QwiTimer(APLTask* task, std::string_view name, QwiObj* parent);

  // enabled (5): a boolean; interval (33): ms ≥ 0 (negative 12).
  int GetProperty(int id, void* result, int size) override;
  int SetProperty(int id, const void* value) override;
  void ValidForClass(QwiValidFlags& flags) override;
  static void ValidAtThisLevel(QwiValidFlags& flags);
  // onTimer (18) connects the ticks to OnTimerHandler.
  void HookCallback(int event) override;
  // A tick: onTimer when opened; a closed Timer raises nothing.
  virtual void OnTimerHandler();

 private:
  QTimer* timer() const;
  void Apply();
  bool enabled_ = true;
  bool hooked_ = false;
};

}  // namespace zema
