// The visible ⎕WI objects' common base: an object that shows a widget in a
// window. Position and size in user units, visibility, enabling, anchors,
// alignment, pointer shape, size limits, tooltips, format names for drag
// and drop, and the forwarding of the widget's mouse, key, focus and paint
// events to ⎕WI events (window first for mouse, key and click events).
//
// Threads: GUI thread only, like every object of the tree.
#pragma once

#include <bitset>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "wi/qwi_obj.h"

class QWidget;

namespace zema {

// 1 Shift, 2 Alt, 4 Control, summed (mouse buttons are not reported).
int shift_state_to_long(bool shift, bool alt, bool control);

// What the widget event being forwarded says: the mouse position in the
// control's client pixels, the button (0 left, 1 right, 2 middle), the
// shift state value, and the four words of the key event (character byte,
// APL code, X key code, modifier bits).
struct QwiInputEvent {
  int x = 0, y = 0;
  int button = 0;
  int shift = 0;
  std::int32_t key[4] = {0, 0, 0, 0};
  int pressed_byte = 0;  // the key press's character byte (0 none)
};

class QwiVisbase : public QwiObj {
 public:
  // Copies the name; visible, show-when-opened and autodraw on.
  QwiVisbase(APLTask* task, std::string_view name, QwiObj* parent);
  ~QwiVisbase() override;

  int GetProperty(int id, void* result, int size) override;
  int SetProperty(int id, const void* value) override;
  void ValidForClass(QwiValidFlags& flags) override;
  static void ValidAtThisLevel(QwiValidFlags& flags);
  // Connects double click and paint (others: QwiObj).
  void HookCallback(int event) override;
  // With a containing window and a control: click, mouse up, down, move.
  void HookStandardCallbacks() override;

  // The forwarding handlers: each raises its event from `input()`.
  void OnActivateHandler() override;
  void OnChangeHandler() override;
  void OnClickHandler() override;
  void OnDblClickHandler() override;
  void OnDeactivateHandler() override;
  void OnKeyDownHandler() override;
  void OnKeyUpHandler() override;
  void OnKeyPressHandler() override;
  void OnLimitHandler() override;
  void OnMenuHandler() override;
  void OnMouseDownHandler() override;
  void OnMouseUpHandler() override;
  void OnMouseMoveHandler() override;
  void OnPaintHandler() override;
  void OnScrollHandler() override;
  void OnSelChangeHandler() override;
  // Mouse down, then (not built yet) the start of a drag.
  virtual void OnMouseDownOrDragHandler();

  // Converts a control client point to the containing window's client
  // coordinates; unchanged without a control or a containing window.
  void ConvertToWindowCoordinates(int* x, int* y) const;
  // Raises `event` on the containing window (when there is one and it is
  // not this object), then on this object.
  void RaiseWindowFirst(int event, std::int32_t a1, std::int32_t a2, std::int32_t a3, std::int32_t a4);

  // The widget event being forwarded (written by the event filter).
  QwiInputEvent& input() { return input_; }
  // Whether the control event behind `event` is connected.
  bool hooked(int event) const { return event > 0 && event < kQwiEventLimit && hooked_[std::size_t(event)]; }
  QWidget* widget() const;
  // The control grew by `dw` × `dh` pixels: each visible child keeps the
  // distances to the edges it is anchored at (anchored at both of two
  // opposite edges, it stretches; at neither, it keeps its centre in
  // proportion; only at the far edge, it moves).
  void AnchorChildren(int old_width, int old_height, int new_width, int new_height);

 protected:
  // Connects `event` (marks it; the event filter acts on marked events).
  void Hook(int event);
  // Installs the event filter on the control (after SetControl).
  void WatchControl();
  // Sets visible and raises onShow/onHide when opened, showing or hiding
  // the control; hiding ends this window's modal state.
  virtual void ApplyVisible(bool show);
  // Ends the modal state when this is the modal window (windows).
  virtual void EndModalState() {}

  QwiInputEvent input_;
  std::bitset<kQwiEventLimit> hooked_;
  std::optional<std::vector<std::uint8_t>> source_formats_, target_formats_;
  std::optional<std::string> drag_source_, drop_target_;
  int anchors_ = 0b1100;  // top, left, bottom, right as bits 8, 4, 2, 1
  int align_ = 0;
  int pointer_ = 0;
  int min_size_[2] = {0, 0}, max_size_[2] = {0, 0};  // pixels, height first
};

}  // namespace zema
