#include "wi/qwi_button.h"

#include <QPushButton>

#include "host/charset.h"
#include "host/values.h"
#include "wi/qwi_timer.h"
#include "wi/qwi_window.h"
#include "wi/value_forms.h"

namespace zema {

QwiButton::QwiButton(APLTask* task, std::string_view name, QwiObj* parent) : QwiVisctrl(task, name, parent) {
  class_id_ = qwi_class::Button;
  auto* b = new QPushButton(parent ? qobject_cast<QWidget*>(parent->control()) : nullptr);
  std::string caption(name.substr(0, 255));
  for (char& c : caption) c = static_cast<char>(fontout(static_cast<unsigned char>(c)));
  b->setText(QString::fromLatin1(caption.c_str()));
  b->show();
  font_ = b->font();
  SetControl(b);
  WatchControl();
}

void QwiButton::ValidAtThisLevel(QwiValidFlags& flags) {
  for (int id : {13, 21, 107}) flags.properties[std::size_t(id)] = 1;
}

void QwiButton::ValidForClass(QwiValidFlags& flags) {
  QwiVisctrl::ValidForClass(flags);
  ValidAtThisLevel(flags);
}

void QwiButton::HookStandardCallbacks() {
  QwiVisctrl::HookStandardCallbacks();
  if (auto* b = qobject_cast<QPushButton*>(control_))
    QObject::connect(b, &QPushButton::clicked, b, [this] {
      if (hooked(24)) OnClickHandler();
    });
}

int QwiButton::GetProperty(int id, void* result, int size) {
  auto* b = qobject_cast<QPushButton*>(control_);
  switch (id) {
    case 8: {
      const std::string t = b ? b->text().toLatin1().toStdString() : std::string();
      return return_translated_text(result, t.c_str(), size);
    }
    case 13: return return_integer_scalar(result, b && b->isDefault() ? 1 : cancel_ ? 2 : 0);
    default: return QwiVisctrl::GetProperty(id, result, size);
  }
}

int QwiButton::SetProperty(int id, const void* value) {
  auto* b = qobject_cast<QPushButton*>(control_);
  switch (id) {
    case 8: {
      char t[256];
      if (!value) return 12;
      if (const int rc = get_translated_text(value, t, 255)) return rc;
      if (b) b->setText(QString::fromLatin1(t));
      return 0;
    }
    case 13: {
      std::int32_t v;
      if (!value || get_one_integer(value, &v) || v < 0 || v > 2) return 12;
      if (b) b->setDefault(v == 1);
      cancel_ = v == 2;
      return 0;
    }
    case 14: {
      // Stored (and read back) as every object's colours; the button
      // shows the caption colour.
      std::int32_t fg, bg;
      if (const int rc = DecodeColourProperty(value, &fg, &bg)) return rc;
      if (b) {
        QPalette pal = b->palette();
        pal.setColor(QPalette::ButtonText, fg < 0 ? QPalette().color(QPalette::ButtonText)
                                                  : QColor(fg & 0xFF, (fg >> 8) & 0xFF, (fg >> 16) & 0xFF));
        b->setPalette(pal);
      }
      return 0;
    }
    default: return QwiVisctrl::SetProperty(id, value);
  }
}

namespace {

QwiObj* make_visual(APLTask* task, std::string_view name, QwiObj* parent, int class_id) {
  switch (class_id) {
    case qwi_class::Window:
    case qwi_class::Document: return new QwiWindow(task, name, parent);
    case qwi_class::Dialog: return new QwiDialog(task, name, parent);
    case qwi_class::Button: return new QwiButton(task, name, parent);
    case qwi_class::Timer: return new QwiTimer(task, name, parent);
    default: return nullptr;
  }
}

}  // namespace

void register_qwi_visual_classes() {
  for (int id : {qwi_class::Window, qwi_class::Dialog, qwi_class::Document, qwi_class::Button, qwi_class::Timer})
    QwiObj::RegisterClass(id, make_visual);
}

}  // namespace zema
