#include "windows/shell.h"

#include <QWidget>

#include <new>

#include "platform/message_box.h"

namespace zema {

void out_of_memory(const std::string& text, int action) {
  ShowMessageBox("Out of memory - " + text, "ZEMA Error", 16);
  if (action == 4) throw std::bad_alloc();
}

void activate_widget(QWidget* w) {
  if (!w) return;
  w->show();
  if (w->isMinimized()) w->showNormal();
  w->raise();
  w->activateWindow();
  w->setFocus();
}

}  // namespace zema
