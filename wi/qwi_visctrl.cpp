#include "wi/qwi_visctrl.h"

#include <QWidget>

#include <cmath>

#include "host/values.h"
#include "wi/value_forms.h"

namespace zema {

QwiVisctrl::QwiVisctrl(APLTask* task, std::string_view name, QwiObj* parent) : QwiVisbase(task, name, parent) {}

void QwiVisctrl::ValidAtThisLevel(QwiValidFlags& flags) {
  for (int id : {29, 60, 89, 115, 271, 320}) flags.properties[std::size_t(id)] = 1;
  for (int ev : {7, 8, 1, 2, 30}) flags.events[std::size_t(ev)] = 1;
}

void QwiVisctrl::ValidForClass(QwiValidFlags& flags) {
  QwiVisbase::ValidForClass(flags);
  ValidAtThisLevel(flags);
}

void QwiVisctrl::HookCallback(int event) {
  if (event == 7 || event == 8) Hook(event);
  else QwiVisbase::HookCallback(event);
}

void QwiVisctrl::HookStandardCallbacks() {
  if (containing_window_ && control_)
    for (int ev : {1, 2, 30}) Hook(ev);
  QwiVisbase::HookStandardCallbacks();
}

int QwiVisctrl::GetProperty(int id, void* result, int size) {
  QWidget* w = widget();
  switch (id) {
    case 29: return return_integer_scalar(result, w ? static_cast<std::int32_t>(w->winId()) : 0);
    case 60: return return_integer_scalar(result, order_ + 1);
    case 89: return return_boolean_scalar(result, w && (w->focusPolicy() & Qt::TabFocus));
    case 115: return return_boolean_scalar(result, 0);
    case 271:
      if (w && w->isEnabled() && w->isVisible()) w->setFocus(Qt::OtherFocusReason);
      return return_empty_matrix(result);
    default: return QwiVisbase::GetProperty(id, result, size);
  }
}

int QwiVisctrl::SetProperty(int id, const void* value) {
  QWidget* w = widget();
  switch (id) {
    case 60: {
      double v[1];
      int n = 0;
      if (!value) return 12;
      if (const int rc = get_n_floats(value, v, 1, &n)) return rc;
      if (n == 0) return 0;
      if (!(std::fabs(v[0]) < 2e9)) return 12;
      order_ = static_cast<int>(std::ceil(v[0])) - 1;
      return 0;
    }
    case 89: {
      std::int32_t f;
      if (!value || get_one_boolean(value, &f)) return 12;
      if (w) w->setFocusPolicy(f ? Qt::StrongFocus : Qt::ClickFocus);
      return 0;
    }
    case 115: {
      std::int32_t f;
      return !value || get_one_boolean(value, &f) ? 12 : 0;
    }
    default: return QwiVisbase::SetProperty(id, value);
  }
}

}  // namespace zema
