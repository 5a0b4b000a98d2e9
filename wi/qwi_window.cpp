#include "wi/qwi_window.h"

#include <QPalette>
#include <QWidget>

#include <algorithm>
#include <cstdio>

#include "host/charset.h"
#include "host/task.h"
#include "host/values.h"
#include "windows/shell.h"
#include "wi/qwi_system.h"
#include "wi/value_forms.h"

namespace zema {

namespace {

std::string to_host(std::string_view internal) {
  std::string s(internal);
  for (char& c : s) c = static_cast<char>(fontout(static_cast<unsigned char>(c)));
  return s;
}

// The task's top-level ⎕WI windows (children of the System object).
std::vector<QwiWindow*> task_windows(QwiSystem* system) {
  std::vector<QwiWindow*> out;
  for (QwiObj* c : system->children())
    if (auto* w = dynamic_cast<QwiWindow*>(c)) out.push_back(w);
  return out;
}

void broadcast(APLTask* task, int msg) {
  if (task && task->shell) task->shell->BroadcastMsg(kind_any, msg, 0, nullptr);
}

}  // namespace

QwiWindow::QwiWindow(APLTask* task, std::string_view name, QwiObj* parent) : QwiVisbase(task, name, parent) {
  class_id_ = qwi_class::Window;
  auto* form = new QWidget;
  form->setAttribute(Qt::WA_DeleteOnClose, false);
  form->resize(320, 240);
  std::string caption = to_host(name);
  if (caption.rfind("sysobj_", 0) == 0) {
    caption = "Window";
    for (int n = 1; n <= 99; ++n) {
      char buffer[32];
      std::snprintf(buffer, sizeof buffer, "Window %d", n);
      bool used = false;
      for (QwiWindow* w : task_windows(system_))
        if (auto* f = w->widget(); f && f->windowTitle() == QLatin1String(buffer)) used = true;
      if (!used) {
        caption = buffer;
        break;
      }
    }
  }
  form->setWindowTitle(QString::fromLatin1(caption.c_str()));
  form->setAutoFillBackground(true);
  QPalette pal = form->palette();
  pal.setColor(QPalette::Window, Qt::white);
  form->setPalette(pal);
  foreground_ = background_ = kQwiColourDefault;
  SetControl(form);
  WatchControl();
  form->hide();
  opened_ = false;
}

QwiWindow::~QwiWindow() = default;

void QwiWindow::ValidAtThisLevel(QwiValidFlags& flags) {
  for (int id : {12, 28, 29, 115, 130, 271, 283, 320}) flags.properties[std::size_t(id)] = 1;
  for (int ev : {7, 8, 28, 9, 12, 5, 11}) flags.events[std::size_t(ev)] = 1;
}

void QwiWindow::ValidForClass(QwiValidFlags& flags) {
  QwiVisbase::ValidForClass(flags);
  ValidAtThisLevel(flags);
}

void QwiWindow::HookCallback(int event) {
  switch (event) {
    case 1: case 2: case 30: case 3: case 4: case 15: case 7: case 8: case 9: case 28: case 29: Hook(event); return;
    case 10: case 12: return;
    default: QwiVisbase::HookCallback(event);
  }
}

void QwiWindow::CloseYourself(bool really) {
  if (really) StopModal();
  QwiVisbase::CloseYourself(really);
}

void QwiWindow::GoModal() {
  if (system_->modal_window() != this) {
    previous_modal_ = dynamic_cast<QwiWindow*>(system_->modal_window());
    system_->set_modal_window(this);
  }
  broadcast(task_, 301);
  for (QwiWindow* w : task_windows(system_))
    if (w != this && w->widget()) w->widget()->setEnabled(false);
  if (QWidget* f = widget()) {
    f->setEnabled(true);
    f->activateWindow();
    f->setFocus();
  }
}

void QwiWindow::StopModal() {
  if (system_->modal_window() != this) return;
  // The previous modal window may have gone away since.
  const std::vector<QwiWindow*> windows = task_windows(system_);
  QwiWindow* previous = previous_modal_;
  previous_modal_ = nullptr;
  if (previous && std::find(windows.begin(), windows.end(), previous) == windows.end()) previous = nullptr;
  if (previous) {
    system_->set_modal_window(previous);
    if (QWidget* f = previous->widget()) {
      f->setEnabled(true);
      f->show();
    }
    return;
  }
  system_->set_modal_window(nullptr);
  broadcast(task_, 302);
  for (QwiWindow* w : windows)
    if (w->widget()) w->widget()->setEnabled(true);
}

void QwiWindow::ApplyVisible(bool show) { QwiVisbase::ApplyVisible(show); }

void QwiWindow::OnPaintHandler() {
  CheckUserEvent(9);
  std::vector<QwiObj*> todo(children_.rbegin(), children_.rend());
  while (!todo.empty()) {
    QwiObj* c = todo.back();
    todo.pop_back();
    c->OnPaintHandler();
    todo.insert(todo.end(), c->children().rbegin(), c->children().rend());
  }
}

void QwiWindow::OnShowHandler() {
  CheckUserEvent(28);
  for (QwiObj* c : children_) c->CheckUserEvent(28);
}

void QwiWindow::OnHideHandler() {
  CheckUserEvent(29);
  for (QwiObj* c : children_) c->CheckUserEvent(29);
}

void QwiWindow::OnResizeHandler() {
  if (QWidget* f = widget()) CheckUserEvent(12, f->width(), f->height());
}

void QwiWindow::OnMoveHandler() {
  if (QWidget* f = widget()) CheckUserEvent(11, f->y(), f->x());
}

bool QwiWindow::OnCloseQueryHandler() {
  if (!opened_) return true;
  if (CheckUserEvent(10) & 2) return false;
  DeleteYourself();
  return true;
}

void QwiWindow::OnCloseHandler() {
  StopModal();
  opened_ = false;
}

void QwiWindow::SetBorder(int code, bool system_menu, bool min_max) {
  border_ = code == 3 ? 4 : code;
  system_menu_ = system_menu;
  min_max_ = min_max;
  QWidget* f = widget();
  if (!f) return;
  Qt::WindowFlags flags = Qt::Window;
  if (code == 0) flags |= Qt::FramelessWindowHint;
  else if (code == 3 || code == 4) flags = Qt::Dialog;
  else if (code == 5 || code == 6) flags = Qt::Tool;
  if (code != 0) {
    flags |= Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowCloseButtonHint;
    if (system_menu) flags |= Qt::WindowSystemMenuHint;
    if (min_max && code != 3 && code != 4) flags |= Qt::WindowMinMaxButtonsHint;
  }
  const bool shown = f->isVisible();
  f->setWindowFlags(flags);
  if (shown) f->show();
}

int QwiWindow::GetProperty(int id, void* result, int size) {
  QWidget* f = widget();
  switch (id) {
    case 6: {
      if (!f || !f->isVisible()) return return_integer_scalar(result, 0);
      return return_integer_scalar(result, f->isMinimized() ? 2 : f->isMaximized() ? 3 : 1);
    }
    case 8: {
      const std::string t = f ? f->windowTitle().toLatin1().toStdString() : std::string();
      return return_translated_text(result, t.c_str(), size);
    }
    case 12: {
      int v = border_;
      if (border_ != 0 && system_menu_) v += 16;
      if (border_ != 0 && border_ != 4 && min_max_) v += 64;
      return return_integer_scalar(result, v);
    }
    case 28:
    case 29: return return_integer_scalar(result, f ? static_cast<std::int32_t>(f->winId()) : 0);
    case 75: return 24;
    case 115: return return_boolean_scalar(result, 0);
    case 130: return qwi_return_text(result, size, menu_image_list_);
    case 271:
      if (f && f->isEnabled() && f->isVisible()) {
        f->activateWindow();
        f->setFocus();
      }
      return return_empty_matrix(result);
    case 283:
      if (!opened_) {
        opened_ = true;
        CheckUserEvent(26);
      }
      visible_ = true;
      if (f) f->show();
      if (system_->pending_window() == this) system_->set_pending_window(nullptr);
      GoModal();
      return return_empty_matrix(result);
    default: return QwiVisbase::GetProperty(id, result, size);
  }
}

int QwiWindow::SetProperty(int id, const void* value) {
  QWidget* f = widget();
  switch (id) {
    case 6: {
      std::int32_t v;
      if (!value || get_one_integer(value, &v) || v < -3 || v > 3) return 12;
      if (f) {
        const int a = v < 0 ? -v : v;
        Qt::WindowStates s = f->windowState() & ~(Qt::WindowMaximized | Qt::WindowMinimized);
        if (a == 3) s |= Qt::WindowMaximized;
        if (a == 2) s |= Qt::WindowMinimized;
        f->setWindowState(s);
      }
      ApplyVisible(v > 0);
      return 0;
    }
    case 8: {
      char t[1024];
      if (!value) return 12;
      if (const int rc = get_translated_text(value, t, 1023)) return rc;
      if (f) f->setWindowTitle(QString::fromLatin1(t));
      return 0;
    }
    case 12: {
      std::int32_t v;
      if (!value || get_one_integer(value, &v) || (v & 7) == 7) return 12;
      SetBorder(v & 7, v & 16, v & 64);
      return 0;
    }
    case 14: {
      std::int32_t fg, bg;
      if (!value) return 12;
      if (const int rc = DecodeColourProperty(value, &fg, &bg)) return rc;
      if (f) {
        QPalette pal = f->palette();
        if (bg == kQwiColourDefault) pal.setColor(QPalette::Window, QWidget().palette().color(QPalette::Button));
        else pal.setColor(QPalette::Window, QColor(bg & 0xFF, (bg >> 8) & 0xFF, (bg >> 16) & 0xFF));
        f->setPalette(pal);
      }
      for (QwiObj* c : children_) c->SetProperty(14, nullptr);
      return 0;
    }
    case 115: {
      std::int32_t b;
      return !value || get_one_boolean(value, &b) ? 12 : 0;
    }
    case 130: {
      char n[1024];
      if (!value) return 12;
      if (const int rc = get_raw_text(value, n, 1023)) return rc;
      std::string name(n);
      if (name.empty()) {
        menu_image_list_.clear();
        return 0;
      }
      std::string top = name, path;
      if (name[0] == '.') top = FullName() + name;
      if (const auto dot = top.find('.'); dot != std::string::npos) path = top.substr(dot + 1), top.resize(dot);
      QwiObj* o = find_qwi_object(system_, top, path);
      if (!o) return 88;
      if (o->class_id() != qwi_class::Imagelist) return 12;
      menu_image_list_ = o->FullName();
      return 0;
    }
    default: return QwiVisbase::SetProperty(id, value);
  }
}

QwiDialog::QwiDialog(APLTask* task, std::string_view name, QwiObj* parent) : QwiWindow(task, name, parent) {
  SetBorder(4, true, false);
  if (QWidget* f = widget()) {
    QPalette pal = f->palette();
    pal.setColor(QPalette::Window, QWidget().palette().color(QPalette::Button));
    f->setPalette(pal);
  }
  background_ = kQwiColourDefault;
}

}  // namespace zema
