// The ⎕WI object model: the base of every ⎕WI object, its common state
// (name, tie, colours, scale, data, ∆ properties, callbacks, set-flags),
// the object tree of a task, the factory that builds objects by class
// name, and `set`, `close` and `delete`.
//
// Threads: objects live on the GUI thread and every operation here runs
// there. The callback lists, the ∆ properties, the tree links and the
// names are also guarded by the owning System object's lock, because the
// task thread reads the event queue (which shares callback nodes) and the
// full name of the current object under that lock. Nothing handed to an APL
// value is a pointer: callback nodes reach the program as handles of the
// System object's handle table (qwi_system.h).
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include <QFont>

#include "wi/vocabulary.h"

class QObject;

namespace zema {

class APLTask;
class QwiObj;
class QwiSystem;
class QwiDraw;

// One callback of one object for one event. Shared by the object's list
// and by every queued event record naming it; `refs` counts them (changed
// only under the System object's lock). A node whose object went away is
// detached (window and object null) and lives on until its last record is
// released.
struct QwiCallback {
  int event = kQwiNoEvent;
  QwiObj* window = nullptr;  // the object's parent, or the object itself when it is a window
  QwiObj* object = nullptr;
  int refs = 1;
  std::string text;  // the expression, internal characters, as given
};

// Property and event validity flags of a class, filled by ValidForClass.
struct QwiValidFlags {
  std::array<std::uint8_t, kQwiMethodLimit> properties{};  // by property/method id
  std::array<std::uint8_t, kQwiEventLimit> events{};        // by event id
};

class QwiObj {
 public:
  // Links nothing: QwiNew appends the object to its parent. Copies the
  // parent's scale code and aquaadjust and finds the containing window.
  // `name` is in internal characters (at most 35 kept).
  QwiObj(APLTask* task, std::string_view name, QwiObj* parent);
  virtual ~QwiObj();
  QwiObj(const QwiObj&) = delete;
  QwiObj& operator=(const QwiObj&) = delete;

  // ---- the virtual interface, in order ----
  // Reads property or method `id` into `result` (`size` bytes): an error
  // code; 12 for an id no level answers, 4 when the result does not fit.
  virtual int GetProperty(int id, void* result, int size);
  // Writes property or method `id` from `value` (may be null for none).
  virtual int SetProperty(int id, const void* value);
  // Fills `flags` (cleared by the caller) with this class's valid ids.
  virtual void ValidForClass(QwiValidFlags& flags);
  // A callback was stored for `event`: connect the control event behind it.
  virtual void HookCallback(int event);
  // Once after construction: connect the control events the class needs.
  virtual void HookStandardCallbacks();
  // really false: raise onClose only. really true: end the modal state when
  // this is the modal window, clear `opened`, hide the control when
  // show-when-opened, mark `opened` as set.
  virtual void CloseYourself(bool really);
  // Closes, raises onDestroy, deletes the children, releases the callbacks,
  // unlinks, and destroys the object (the System object survives, emptied).
  virtual void DeleteYourself();
  // Event id of a masked name (999 none).
  virtual int FindCallBackID(std::string_view masked_name);
  // The name of `event` as a character vector: 0, or 4 when it does not fit.
  virtual int EventToString(int event, void* result, int size);
  // The handlers of control events; each raises its event through
  // CheckUserEvent. The base connects nothing and raises nothing.
  virtual void OnActivateHandler() {}
  virtual void OnChangeHandler() {}
  virtual void OnClickHandler() {}
  virtual void OnDblClickHandler() {}
  virtual void OnDeactivateHandler() {}
  virtual void OnKeyDownHandler() {}
  virtual void OnKeyUpHandler() {}
  virtual void OnKeyPressHandler() {}
  virtual void OnLimitHandler() {}
  virtual void OnMenuHandler() {}
  virtual void OnMouseDownHandler() {}
  virtual void OnMouseUpHandler() {}
  virtual void OnMouseMoveHandler() {}
  virtual void OnPaintHandler() {}
  virtual void OnScrollHandler() {}
  virtual void OnSelChangeHandler() {}
  // Property access by name for the classes that take names outside the
  // vocabulary (the Browser); every other class answers through
  // GetProperty / SetProperty.
  virtual int GetNamedProperty(int id, void* result, int size, std::string_view masked_name);
  virtual int SetNamedProperty(int id, const void* value, std::string_view masked_name);

  // ---- class levels ----
  // The base level of the valid lists: data, name, tie, children, class,
  // properties, methods, events, self, opened; new, set, close, delete,
  // open, send, trigger, create; onClose, onSend, onOpen, onDestroy.
  static void ValidAtThisLevel(QwiValidFlags& flags);

  // ---- ∆ properties (name masked, beginning 0x7B) ----
  // Read: 0; 28 never set; 4 when the area is too small (the task's
  // neededSize ← its size). Write: 0, or 68 when out of memory.
  int GetDeltaProperty(std::string_view masked_name, void* result, int size);
  int SetDeltaProperty(std::string_view masked_name, const void* value);

  // ---- callbacks (under the System object's lock) ----
  // Stores a character scalar or vector (else 12; 68 out of memory) as the
  // callback of `event`, replacing the old one.
  int AddCallback(int event, const void* value);
  // The expression of `event` (untranslated) or an empty vector; 4 when it
  // does not fit.
  int GetCallback(int event, void* result, int size);
  void DeleteCallback(int event);
  // The node of `event` when its expression is not empty, else null. The
  // caller holds the System object's lock while it uses the node.
  QwiCallback* FindCallback(int event);
  // Queues `event` with the four arguments when a callback takes it (3),
  // else 1. Nothing is queued for an object still being built.
  int CheckUserEvent(int event, std::int32_t a1 = 0, std::int32_t a2 = 0, std::int32_t a3 = 0,
                     std::int32_t a4 = 0);

  // ---- names ----
  // The dotted name from below the System object (at most ten parts, 360
  // bytes); the System object's is its own name. Internal characters.
  std::string FullName() const;
  // The child named exactly `name`, or null.
  QwiObj* FindChild(std::string_view name) const;

  // ---- colours and scale ----
  // Decodes a colour value into the stored colours (−3 keeps one) and
  // answers the pair to apply, a stored −1 resolved one level: the parent's
  // stored colour unless that is −1, else −2.
  int DecodeColourProperty(const void* value, std::int32_t* foreground, std::int32_t* background);
  // Pixels per user unit of this object's (or its parent's) scale code.
  void GetObjectScale(double* horizontal, double* vertical, bool use_parent) const;

  // ---- accessors ----
  std::uint8_t class_id() const { return class_id_; }
  const char* class_name() const { return class_name_; }
  const std::string& name() const { return name_; }
  QwiObj* parent() const { return parent_; }
  QwiSystem* system() const { return system_; }
  APLTask* task() const { return task_; }
  const std::vector<QwiObj*>& children() const { return children_; }
  QObject* control() const { return control_; }
  QwiObj* containing_window() const { return containing_window_; }
  std::int32_t tie() const { return tie_; }
  std::int32_t window_number() const { return window_number_; }
  bool opened() const { return opened_; }
  bool visible() const { return visible_; }
  int scale_code() const { return scale_; }
  std::int32_t foreground() const { return foreground_; }
  std::int32_t background() const { return background_; }
  bool is_set(int id) const { return id >= 0 && id < kQwiPropertyCount && set_flags_[std::size_t(id)]; }
  void mark_set(int id) {
    if (id >= 0 && id < kQwiPropertyCount) set_flags_[std::size_t(id)] = true;
  }
  // The object that wraps `control` (its tag), or null.
  static QwiObj* from_control(const QObject* control);

  // ---- creation (factory and path) ----
  // Builds an object of `class_id` (0–2 the window kinds) named `name`
  // under `parent`; null when the class cannot be built.
  using Factory = QwiObj* (*)(APLTask* task, std::string_view name, QwiObj* parent, int class_id);
  // Makes `factory` the builder of `class_id`; a class without a builder
  // cannot be created (24). Called once per class at start-up.
  static void RegisterClass(int class_id, Factory factory);
  // Creates the object at top name / path from a class name or a nested
  // vector (class name, then name/value pairs). 0 created; 12 bad value,
  // unknown class, existing object, placement refused or bad pair; 88 a
  // missing top or intermediate object; 24 a class not built here; 68 out
  // of memory; a setter's code. A failed creation leaves no object and
  // raises no event.
  static int QwiNew(QwiSystem* system, std::string_view top, std::string_view path, const void* value);
  // Applies name/value pairs (a nested vector of at least 2 items: else 12,
  // 20); stops at the first failure, keeping what was applied.
  int QwiSetMethod(const void* value);
  // Whether a class may be created under `parent` (children only).
  static bool PlacementAllowed(int class_id, const QwiObj* parent);

 protected:
  // Opens a closed object: marks it open, raises onOpen, shows the control
  // when show-when-opened and visible, and ends its pending state.
  void OpenYourself();
  // Shows or hides the control when it is a widget.
  void ShowControl(bool show);
  // Hands the control to the object: tags it so its events find the object.
  void SetControl(QObject* control);

  std::uint8_t class_id_ = kQwiNoClass;
  QObject* control_ = nullptr;
  std::optional<QFont> font_;
  APLTask* task_;
  QwiObj* parent_;
  QwiSystem* system_ = nullptr;
  std::string name_;
  bool opened_ = false;
  bool visible_ = false;
  bool show_when_opened_ = false;
  bool aquaadjust_ = false;
  QwiObj* containing_window_ = nullptr;
  std::int32_t tie_ = 0;
  std::int32_t window_number_ = -1;
  std::optional<std::vector<std::uint8_t>> data_;
  struct Delta {
    std::string name;
    std::vector<std::uint8_t> value;
  };
  std::vector<Delta> deltas_;  // newest first
  int scale_ = 1;
  std::int32_t foreground_ = -1;  // the parent's
  std::int32_t background_ = -1;
  const char* class_name_ = "";
  std::vector<QwiObj*> children_;   // owned, in creation order
  std::vector<QwiCallback*> callbacks_;  // newest first
  QwiDraw* drawing_ = nullptr;
  bool autodraw_ = false;
  std::array<bool, kQwiPropertyCount> set_flags_{};
  std::int32_t child_tie_counter_ = 10000;
  // False until QwiNew has finished building the object: no event is
  // raised for an object that never came to exist.
  bool created_ = false;

 private:
  friend class QwiSystem;
  int GetFont(void* result, int size);
  int SetFont(const void* value);
  int GetState(void* result, int size);
  int ApplyPair(std::string_view masked_name, const void* value, bool events_allowed);
  void ReleaseCallbacks();
};

}  // namespace zema
