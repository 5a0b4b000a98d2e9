// ⎕WI windows: Window and Form (QwiWindow), Dialog (QwiDialog) and, for now,
// Document as a plain window. A top-level QWidget created hidden and pending,
// with caption, border, colour, modal state (GoModal / StopModal, sending
// 301 and 302 to the task's session windows), the close query rules, and
// the window's own key, mouse, focus, paint, resize, show and hide events.
// GUI thread only.
#pragma once

#include "wi/qwi_visbase.h"

namespace zema {

class QwiWindow : public QwiVisbase {
 public:
  QwiWindow(APLTask* task, std::string_view name, QwiObj* parent);
  ~QwiWindow() override;

  int GetProperty(int id, void* result, int size) override;
  int SetProperty(int id, const void* value) override;
  void ValidForClass(QwiValidFlags& flags) override;
  static void ValidAtThisLevel(QwiValidFlags& flags);
  void HookCallback(int event) override;
  // Ends the modal state first when closing really.
  void CloseYourself(bool really) override;

  // Makes this the modal window: remembers the previous one, sends 301,
  // disables the task's other windows, enables and focuses this one.
  void GoModal();
  // Only when this is the modal window: the previous one (still alive)
  // becomes modal again; without one, 302 is sent and every window enabled.
  void StopModal();

  void OnPaintHandler() override;
  virtual void OnShowHandler();
  virtual void OnHideHandler();
  virtual void OnResizeHandler();
  virtual void OnMoveHandler();
  // The user asks to close: true when the form may close. An opened window
  // whose onClose callback took the event stays; one without a callback
  // deletes itself (the answer is then true and the object is gone).
  virtual bool OnCloseQueryHandler();
  virtual void OnCloseHandler();

 protected:
  void ApplyVisible(bool show) override;
  void EndModalState() override { StopModal(); }
  void SetBorder(int code, bool system_menu, bool min_max);

  QwiWindow* previous_modal_ = nullptr;
  std::string menu_image_list_;  // full name, empty: none
  int border_ = 2;
  bool system_menu_ = true;
  bool min_max_ = true;
};

class QwiDialog : public QwiWindow {
 public:
  QwiDialog(APLTask* task, std::string_view name, QwiObj* parent);
};

}  // namespace zema
