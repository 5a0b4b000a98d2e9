// The multi-level undo of the editing text windows: one UndoInfo per change
// of the text control, taken from the control's report before the change
// (the replaced range) and completed from its report after it, pushed on a
// chain that Undo replays from the newest record, a run of typed characters
// or of Delete or Backspace presses at a time. Replaying is not recorded
// (there is no redo). GUI thread only.
#pragma once

#include <string>

namespace zema {

class MRichEdit;

class UndoInfo {
 public:
  int start = 0;        // first offset of the replaced range
  int end = 0;          // offset after it (= start when nothing was replaced)
  int len_before = 0;   // text length before the change
  int len_after = 0;    // and after it
  bool has_removed = false;
  std::string removed;  // the replaced characters (has_removed)
  bool has_context = false;
  std::string context;  // the lines around the change before it, until it completes
  int context_start = 0;
  int context_len = 0;
  int sel_start = 0, sel_length = 0;  // the selection before the change
  UndoInfo* next = nullptr;           // the next older record

  // Characters the change inserted: len_after − (len_before − (end − start)).
  int inserted() const { return len_after - (len_before - (end - start)); }
  // 0 one character typed (nothing replaced, grew by 1, no selection); 1 one
  // character deleted (one replaced, shrank by 1, no selection); 2 other.
  int GetType() const;
  // Whether undoing this record goes on with the next older one: a typed
  // character whose predecessor record starts one before it; two deletions
  // at the same start (Delete) or one after (Backspace).
  bool nextInGroup() const;
};

class UndoChain {
 public:
  UndoChain() = default;
  ~UndoChain() { ClearUndo(); }
  UndoChain(const UndoChain&) = delete;
  UndoChain& operator=(const UndoChain&) = delete;

  // The control's report before a change of [start, end): `allow` ← true;
  // unless the control is read-only, the chain is disabled or an undo is
  // replaying, a pending record is made with the replaced characters and
  // the text from the line before the change's first line to two lines
  // after its last. A failed allocation records nothing.
  void ContentsProtectChange(MRichEdit* control, int start, int end, bool& allow);
  // The control's report after the change: when `has_task`, the chain is
  // enabled, a record is pending and no undo replays, the record is
  // completed (dropped when the text did not change; when the control
  // removed more than it reported, the removal, as long as the text shrank,
  // is found in the context as the first stretch that differs, and the
  // record dropped when the text is not the context with that stretch
  // taken out) and pushed; past 500 records since the last trim every record older
  // than the mark is freed and the mark moves to the newest.
  void ContentsChange(MRichEdit* control, bool has_task);
  // Edit ▸ Undo: with drawing suspended, replays the newest record (and the
  // older ones of its group), restoring the text and the selection before
  // each change. Does nothing to a read-only control; drops a pending record
  // whose change never came.
  void Undo(MRichEdit* control);
  // Enabled and the chain not empty.
  bool CanUndo() const { return undo_enabled && undo_head != nullptr; }
  // Frees every record and the pending one, forgets the mark (the count is
  // kept).
  void ClearUndo();

  UndoInfo* undo_head = nullptr;     // newest record
  UndoInfo* undo_pending = nullptr;  // the change under way
  UndoInfo* undo_mark = nullptr;     // trimming mark
  int undo_count = 0;                // records pushed since the last trim
  bool undoing = false;
  bool undo_enabled = false;

 private:
  // Works out the range of a change whose control removed more than it
  // reported, from the context; false when it cannot be had.
  bool Complete(MRichEdit* control, UndoInfo& record);
};

}  // namespace zema
