// The System object: the root of a task's ⎕WI tree, with the task's event
// queue (200 records, the oldest dropped when full), the current event
// from which ⎕WSELF and the event words are answered, the window waiting
// to be shown, the modal window, the saved result of a write, and the
// properties of the system as a whole (screen, clipboard, pointer).
//
// Threads: the tree and the properties belong to the GUI thread. The
// queue is filled on the GUI thread (CheckUserEvent) and read on the task
// thread (r1000_events); the queue, the current event, the handle table,
// the saved result and every callback node's reference count are guarded
// by the one lock of this object (recursive: GUI-thread code that holds it
// may call what takes it again).
#pragma once

#include <array>
#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

#include "wi/qwi_obj.h"

namespace zema {

// One queued event: words 1–9 (tie, event id, time of day in ms, pointer
// position vertical and horizontal in screen pixels, four arguments), the
// callback node holding one reference, and an attached value.
struct QwiEvent {
  std::array<std::int32_t, 9> words{};
  QwiCallback* node = nullptr;
  std::vector<std::uint8_t> attached;  // empty: none
};

class QwiSystem : public QwiObj {
 public:
  static constexpr int kQueueSize = 200;
  static constexpr int kMaxHandles = 0xFFFF;

  // The root of `task`'s tree: class 19, name # (internal 0xA1), an empty
  // queue, current event id 999.
  explicit QwiSystem(APLTask* task);
  ~QwiSystem() override;

  int GetProperty(int id, void* result, int size) override;
  int SetProperty(int id, const void* value) override;
  void ValidForClass(QwiValidFlags& flags) override;
  static void ValidAtThisLevel(QwiValidFlags& flags);

  void LockSystemObject() { lock_.lock(); }
  void UnlockSystemObject() { lock_.unlock(); }
  std::recursive_mutex& lock() { return lock_; }

  // ---- the event queue ----
  // Queues an event of `tie` with `node` (taking one reference under the
  // lock); a full queue drops its oldest record. GUI thread.
  void AddEventToQueue(int event, std::int32_t tie, std::int32_t a1, std::int32_t a2, std::int32_t a3,
                       std::int32_t a4, QwiCallback* node);
  // Empties the queue (releasing every record), resets the current event
  // (id 999) and forgets the current, pending and modal windows and the
  // current object. Also drops every handle still held by the program.
  void ClearEventQueue();
  // Attaches `value` to the newest record when it has none: 0; 68 when the
  // queue is empty or the record has one (the value is left with the caller).
  int SetQWARG(std::vector<std::uint8_t>&& value);
  // Drops one reference of `node`, freeing it with its last (lock held or
  // taken here).
  void ReleaseNode(QwiCallback* node);
  // The number of queued records (under the lock).
  int QueuedCount();

  // ---- the event channel (task thread) ----
  // The read side of the events component for `subcode`: 3 all records as
  // an n×9 matrix; 4 empty vector or as 5; 5 waits for a record and answers
  // words 1–9 and a callback handle (120 on attention); 6 the expression of
  // a handle, releasing it (12 for a handle not live); 7 takes the oldest
  // record as the current event and answers its expression, or an empty
  // vector; 8 the current event's words; 9 its attached value; 10 its
  // event name; other subcodes 24. A result that does not fit answers 4
  // and leaves the queue as it was.
  int r1000_events(int subcode, int argument, void* result, int size);
  // ⎕WSELF: the current object's full name (empty when none); 4 when the
  // area is under 392 bytes.
  int qwself_read(void* result, int size);
  // 1 when the top-level object `name` (internal characters) exists, is
  // opened and visible, else 0. Shows a pending window first.
  int check_visible_window(const char* name, void* result, int size);

  // ---- windows waiting and modal (GUI thread) ----
  QwiObj* pending_window() const { return pending_window_; }
  void set_pending_window(QwiObj* w);
  // Whether a window waits to be shown (any thread).
  bool HasPendingWindow();
  QwiObj* modal_window() const { return modal_window_; }
  void set_modal_window(QwiObj* w) { modal_window_ = w; }
  // Opens and shows the pending window, if any, and forgets it.
  void OpenPendingWindow();
  // The current event's object (null when none or deleted).
  QwiObj* current_object() const { return current_object_; }
  QwiObj* current_window() const { return current_window_; }
  // Forgets `object` wherever the System object names it.
  void ForgetObject(QwiObj* object);

  // ---- the saved result of a write ----
  // A fresh saved result of max(size, 20) bytes holding an empty matrix,
  // replacing the old; answers its area (null when out of memory).
  void* SetQwiResult(int size);
  // Copies the saved result to `area` when its size is below `size` and
  // frees it (0); none: an empty matrix (0); too big: 4, `*needed` ← its size.
  int TakeQwiResult(void* area, int size, std::uint32_t* needed);
  void DiscardQwiResult();

  // The next tie for a non-window object (10000 upwards, never reused).
  std::int32_t NextChildTie() { return child_tie_counter_++; }
  // The lowest n ≥ 10 that no object of the tree has as tie or window number.
  std::int32_t FreeWindowNumber() const;

  // The APL object of the parent task that represents this task, or null.
  QwiObj* representing_object = nullptr;
  // The identity of the task, carried by child-task events.
  std::int32_t task_id() const { return task_id_; }

 private:
  struct HandleSlot {
    QwiCallback* node = nullptr;
    std::uint16_t generation = 1;
  };
  // Makes a handle for one reference of `node`: 0 when the table is full.
  std::int32_t NewHandle(QwiCallback* node);
  // The node of a live handle, taking it out of the table; null otherwise.
  QwiCallback* TakeHandle(std::int32_t handle);
  void ReleaseRecord(QwiEvent& record);
  // The subcodes of r1000_events, after a pending window was shown.
  int Events(int subcode, int argument, void* result, int size);
  bool AttentionPending();
  void Reset();

  std::recursive_mutex lock_;
  std::array<QwiEvent, kQueueSize> queue_;
  int oldest_ = 0;
  int count_ = 0;
  QwiEvent current_;
  QwiObj* current_window_ = nullptr;
  QwiObj* current_object_ = nullptr;
  QwiObj* pending_window_ = nullptr;
  QwiObj* modal_window_ = nullptr;
  std::vector<std::uint8_t> saved_result_;
  bool has_saved_result_ = false;
  std::vector<HandleSlot> handles_;
  std::vector<std::uint32_t> free_handles_;
  std::int32_t task_id_;
};

// The object named by a top name and a dotted path (internal characters):
// # or ⎕ alone starts at the System object (itself with an empty path);
// any other top name must be a child of it; each path component a child of
// the object reached. Null when any is missing. GUI thread.
QwiObj* find_qwi_object(QwiSystem* system, std::string_view top, std::string_view path);

// Milliseconds since local midnight.
std::int32_t qwi_time_of_day();

}  // namespace zema
