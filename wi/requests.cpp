#include "wi/requests.h"

#include <QWidget>

#include <new>
#include <string>

#include "host/task.h"
#include "host/values.h"
#include "platform/synchronize.h"
#include "wi/qwi_system.h"
#include "wi/value_forms.h"

namespace zema {

namespace {

// A request's name as the interpreter holds it (internal characters).
std::string_view name_of(const char* internal) { return internal ? std::string_view(internal) : std::string_view(); }

bool named_property_class(int c) { return c == 47 || c == 48 || c == 49 || c == qwi_class::Browser; }

}  // namespace

QwiObj* find_qwi_object(QwiSystem* system, std::string_view top, std::string_view path) {
  if (!system) return nullptr;
  QwiObj* o;
  if (top == "\xA1" || top == "\x4C") {
    if (path.empty()) return system;
    o = system;
  } else {
    o = system->FindChild(top);
    if (!o || path.empty()) return o;
  }
  std::size_t at = 0;
  for (;;) {
    const std::size_t dot = path.find('.', at);
    o = o->FindChild(path.substr(at, dot == std::string_view::npos ? std::string_view::npos : dot - at));
    if (!o || dot == std::string_view::npos) return o;
    at = dot + 1;
  }
}

void open_pending_window(APLTask& task) {
  QwiSystem* system = task.system;
  if (!system) return;
  if (system->HasPendingWindow()) synchronize([&] { system->OpenPendingWindow(); });
}

bool bring_back_modal_window(APLTask& task) {
  QwiSystem* system = task.system;
  if (!system) return false;
  bool modal = false;
  synchronize([&] {
    QwiObj* w = system->modal_window();
    if (!w) return;
    modal = true;
    if (auto* widget = qobject_cast<QWidget*>(w->control())) {
      QWidget* form = widget->window();
      form->show();
      form->setEnabled(true);
      form->activateWindow();
      form->setFocus();
    }
  });
  return modal;
}

void qwi_get_property_request(APLTask& task) {
  task.resultTooBig = false;
  task.neededSize = 0;
  QwiSystem* system = task.system;
  if (!task.propertyName) {
    if (!system) {
      task.guiResult = return_empty_matrix(task.resultBuffer);
      return;
    }
    std::uint32_t needed = 0;
    task.guiResult = system->TakeQwiResult(task.resultBuffer, task.resultSize, &needed);
    if (task.guiResult == 4) {
      task.resultTooBig = true;
      task.neededSize = needed;
    }
    return;
  }
  try {
    const std::string masked = qwi_mask_name(name_of(task.propertyName));
    const std::string_view top = name_of(task.objectTop), path = name_of(task.objectPath);
    if (system) system->DiscardQwiResult();
    const int id = find_property_id(masked);
    task.propertyId = id;
    synchronize([&] {
      try {
        task.FlushOutput();
        QwiObj* object = find_qwi_object(system, top, path);
        if (object) {
          const int event = object->FindCallBackID(masked);
          if (event != kQwiNoEvent) {
            task.guiResult = object->GetCallback(event, task.resultBuffer, task.resultSize);
            return;
          }
        }
        if (!object) {
          if (id == 270) task.guiResult = return_empty_matrix(task.resultBuffer);
          else if (id == 99) task.guiResult = return_raw_text(task.resultBuffer, "", task.resultSize);
          else task.guiResult = 88;
          return;
        }
        if (id == kQwiDeltaProperty) {
          task.guiResult = object->GetDeltaProperty(masked, task.resultBuffer, task.resultSize);
        } else if (id == kQwiUnknownProperty && !named_property_class(object->class_id())) {
          task.guiResult = 12;
        } else if (object->class_id() == qwi_class::Browser) {
          task.guiResult = object->GetNamedProperty(id, task.resultBuffer, task.resultSize, masked);
        } else {
          task.guiResult = object->GetProperty(id, task.resultBuffer, task.resultSize);
        }
      } catch (const std::bad_alloc&) {
        task.guiResult = 68;
      } catch (...) {
        task.guiResult = 12;
      }
    });
  } catch (const std::bad_alloc&) {
    task.guiResult = 68;
  }
}

void qwi_set_property_request(APLTask& task) {
  task.propertyId = kQwiUnknownProperty;
  task.callbackId = kQwiNoEvent;
  QwiSystem* system = task.system;
  try {
    const std::string masked = qwi_mask_name(name_of(task.propertyName));
    const std::string_view top = name_of(task.objectTop), path = name_of(task.objectPath);
    if (system) system->DiscardQwiResult();
    const void* value = task.requestValue;
    synchronize([&] {
      try {
        QwiObj* object = find_qwi_object(system, top, path);
        if (object) task.callbackId = object->FindCallBackID(masked);
        if (task.callbackId != kQwiNoEvent) {
          task.guiResult = object->AddCallback(task.callbackId, value);
          if (task.guiResult == 0) object->HookCallback(task.callbackId);
          return;
        }
        const int id = find_property_id(masked);
        task.propertyId = id;
        if (object && id == kQwiUnknownProperty && !named_property_class(object->class_id())) {
          task.guiResult = 12;
          return;
        }
        if (id == kQwiDeltaProperty) {
          task.guiResult = object ? object->SetDeltaProperty(masked, value) : 12;
          return;
        }
        task.FlushOutput();
        if (id == 319 && object && object != system) {
          object->DeleteYourself();
          object = nullptr;
        }
        if (id == 263 || id == 319) {
          task.guiResult = system ? QwiObj::QwiNew(system, top, path, value) : 88;
          return;
        }
        if (!object) {
          task.guiResult = 88;
          return;
        }
        if (id == 264) {
          task.guiResult = object->QwiSetMethod(value);
          return;
        }
        task.guiResult = object->class_id() == qwi_class::Browser ? object->SetNamedProperty(id, value, masked)
                                                                  : object->SetProperty(id, value);
        if (task.guiResult == 0 && id >= 0 && id < kQwiPropertyCount) object->mark_set(id);
      } catch (const std::bad_alloc&) {
        task.guiResult = 68;
      } catch (...) {
        task.guiResult = 12;
      }
    });
  } catch (const std::bad_alloc&) {
    task.guiResult = 68;
  }
}

}  // namespace zema
