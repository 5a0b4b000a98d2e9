// Focusable ⎕WI controls: the visible base plus the widget handle, tab
// order and tab stop, focus, and the key and focus events. GUI thread.
#pragma once

#include "wi/qwi_visbase.h"

namespace zema {

class QwiVisctrl : public QwiVisbase {
 public:
  QwiVisctrl(APLTask* task, std::string_view name, QwiObj* parent);

  int GetProperty(int id, void* result, int size) override;
  int SetProperty(int id, const void* value) override;
  void ValidForClass(QwiValidFlags& flags) override;
  static void ValidAtThisLevel(QwiValidFlags& flags);
  // onFocus, onUnFocus: the widget's focus-in and focus-out.
  void HookCallback(int event) override;
  // With a containing window and a control: key down, up and press, then
  // the visible base's.
  void HookStandardCallbacks() override;

 private:
  int order_ = 0;  // the tab order (written value rounded up, minus 1)
};

}  // namespace zema
