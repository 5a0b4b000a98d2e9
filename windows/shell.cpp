#include "windows/shell.h"

#include <QFontMetrics>
#include <QWidget>

#include <algorithm>

#include <new>

#include "host/task.h"
#include "platform/message_box.h"
#include "platform/synchronize.h"
#include "components/rich_edit.h"
#include "windows/shell_text.h"
#include "windows/shell_window.h"

namespace zema {

namespace {

APLShell* g_first_shell = nullptr;

}  // namespace

APLShell* first_apl_shell() { return g_first_shell; }

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

APLShell::APLShell(APLTask* task) : task_(task) {
  if (task_) task_->shell = this;
}

APLShell::~APLShell() {
  for (TAPLShellWindow* w = first_window_; w;) {
    TAPLShellWindow* next = w->next_window;
    w->owner_shell = nullptr;
    w->next_window = nullptr;
    w = next;
  }
  UnlinkFromChain();
  if (task_ && task_->shell == this) task_->shell = nullptr;
}

void APLShell::AppendToChain() {
  APLShell** at = &g_first_shell;
  while (*at) {
    if (*at == this) return;
    at = &(*at)->next_shell_;
  }
  *at = this;
  next_shell_ = nullptr;
}

void APLShell::UnlinkFromChain() {
  for (APLShell** at = &g_first_shell; *at; at = &(*at)->next_shell_) {
    if (*at == this) {
      *at = next_shell_;
      next_shell_ = nullptr;
      return;
    }
  }
}

void APLShell::AddWindowToShell(TAPLShellWindow* w) {
  if (!w) return;
  TAPLShellWindow** at = &first_window_;
  while (*at) {
    if (*at == w) {
      w->owner_shell = this;
      return;
    }
    at = &(*at)->next_window;
  }
  *at = w;
  w->next_window = nullptr;
  w->owner_shell = this;
}

void APLShell::DeleteWindowFromShell(TAPLShellWindow* w) {
  if (!w) return;
  // A watch window that captures output gives the session its ⎕PW back.
  if (w == watch_output) WatchOutput(nullptr);
  if (w->owner_shell == this) w->owner_shell = nullptr;
  for (TAPLShellWindow** at = &first_window_; *at; at = &(*at)->next_window) {
    if (*at == w) {
      *at = w->next_window;
      w->next_window = nullptr;
      if (window_cursor_ == w) window_cursor_ = nullptr;
      if (session_window == w) session_window = nullptr;
      if (debug_window == w) debug_window = nullptr;
      if (explorer_window == w) explorer_window = nullptr;
      if (keymap_window == w) keymap_window = nullptr;
      return;
    }
  }
}

TAPLShellWindow* APLShell::GetFirstShellWindow(int kind) {
  window_cursor_ = nullptr;
  for (TAPLShellWindow* w = first_window_; w; w = w->next_window) {
    if (kind == kind_any || w->window_kind == kind) {
      window_cursor_ = w;
      return w;
    }
  }
  return nullptr;
}

TAPLShellWindow* APLShell::GetNextShellWindow(int kind) {
  if (!window_cursor_) return nullptr;
  for (TAPLShellWindow* w = window_cursor_->next_window; w; w = w->next_window) {
    if (kind == kind_any || w->window_kind == kind) {
      window_cursor_ = w;
      return w;
    }
  }
  window_cursor_ = nullptr;
  return nullptr;
}

std::vector<QWidget*> APLShell::AppWindows() const {
  std::vector<QWidget*> out;
  for (TAPLShellWindow* w = first_window_; w; w = w->next_window) out.push_back(w);
  if (qwi_windows)
    for (QWidget* w : qwi_windows()) out.push_back(w);
  return out;
}

QWidget* APLShell::GetFirstAppWindow() {
  app_cursor_ = -1;
  return GetNextAppWindow();
}

QWidget* APLShell::GetNextAppWindow() {
  const std::vector<QWidget*> all = AppWindows();
  if (app_cursor_ + 1 >= static_cast<int>(all.size())) {
    app_cursor_ = static_cast<int>(all.size());
    return nullptr;
  }
  return all[static_cast<std::size_t>(++app_cursor_)];
}

int APLShell::FindNamedEditWindow(const std::string& name) const {
  int i = 0;
  for (TAPLShellWindow* w = first_window_; w; w = w->next_window, ++i)
    if (!name.empty() && w->EditedName() == name) return i;
  return -1;
}

void APLShell::BroadcastMsg(int kind, int msg, int arg, void* ptr) {
  if (!on_gui_thread()) {
    // Widgets are touched on the GUI thread only; the list changes only
    // there too, so the walk is made there.
    synchronize([&] { BroadcastMsg(kind, msg, arg, ptr); });
    return;
  }
  for (TAPLShellWindow* w = first_window_; w;) {
    TAPLShellWindow* next = w->next_window;
    if (kind == kind_any || w->window_kind == kind) w->AcceptMsg(msg, arg, ptr);
    w = next;
  }
}

void APLShell::ActivateWindow(int index, TAPLShellWindow* w) {
  if (index >= 0) {
    int i = 0;
    for (TAPLShellWindow* x = first_window_; x; x = x->next_window, ++i)
      if (i == index) {
        activate_widget(x);
        return;
      }
    return;
  }
  // The window after `w` over the whole walk; after the last window of the
  // walk (whatever empty shells follow it), the first window of the walk.
  // A `w` in no list activates nothing.
  bool found = false;
  TAPLShellWindow* first = nullptr;
  for (APLShell* s = g_first_shell; s; s = s->next_shell_) {
    for (TAPLShellWindow* x = s->first_window_; x; x = x->next_window) {
      if (!first) first = x;
      if (found) {
        activate_widget(x);
        return;
      }
      if (x == w) found = true;
    }
  }
  if (found) activate_widget(first);
}

void APLShell::ActivateAppWindow(int index, QWidget* from) {
  (void)from;
  int i = 0;
  for (APLShell* s = g_first_shell; s; s = s->next_shell_)
    for (QWidget* w : s->AppWindows())
      if (i++ == index) {
        activate_widget(w);
        return;
      }
}

void APLShell::CloseAllWindows() {
  while (TAPLShellWindow* w = GetFirstShellWindow(kind_any)) {
    DeleteWindowFromShell(w);
    w->close();
  }
}

void APLShell::WatchOutput(TAPLShellText* w) {
  if (!task_ || w == watch_output) return;
  if (!w) {
    if (saved_print_width != -1) task_->SetQuadPW(saved_print_width);
  } else {
    if (!watch_output) saved_print_width = static_cast<std::int16_t>(task_->GetQuadPW());
    const QFontMetrics m(w->Contents->font());
    const int em = std::max(1, m.horizontalAdvance(QLatin1Char('m')));
    task_->SetQuadPW(w->Contents->width() / em - 1);
  }
  watch_output = w;
}

void APLShell::BringUpExplorer() {
  if (!explorer_window) {
    if (!make_explorer_window) return;  // no explorer in this program yet
    TAPLShellWindow* w = make_explorer_window(this);
    if (!w) {
      out_of_memory("Can't create explorer window", 2);
      return;
    }
    explorer_window = w;
    AddWindowToShell(w);
  }
  activate_widget(explorer_window);
}

void APLShell::ShowKeymapWindow() {
  if (!keymap_window) {
    if (!make_keymap_window) return;  // no keyboard window in this program yet
    TAPLShellWindow* w = make_keymap_window(this);
    if (!w) {
      out_of_memory("Can't create keyboard layout window", 2);
      return;
    }
    keymap_window = w;
    AddWindowToShell(w);
  }
  activate_widget(keymap_window);
}

}  // namespace zema
