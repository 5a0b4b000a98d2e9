// The ⎕WI Button (class 3): a QPushButton showing a caption (its name until
// set), raising onClick when pressed, with `style` (0 plain, 1 default,
// 2 cancel) and a caption colour. GUI thread.
#pragma once

#include "wi/qwi_visctrl.h"

namespace zema {

class QwiButton : public QwiVisctrl {
 public:
  QwiButton(APLTask* task, std::string_view name, QwiObj* parent);

  int GetProperty(int id, void* result, int size) override;
  int SetProperty(int id, const void* value) override;
  void ValidForClass(QwiValidFlags& flags) override;
  static void ValidAtThisLevel(QwiValidFlags& flags);
  void HookStandardCallbacks() override;

 private:
  bool cancel_ = false;
};

// Registers the builders of Window/Form (0), Dialog (1), Document (2),
// Button (3) and Timer (15). Call once before objects are created.
void register_qwi_visual_classes();

}  // namespace zema
