// The text windows' undo chain: records built from the text control's
// before/after change reports, replayed newest first.
#include "windows/undo_chain.h"

#include <algorithm>
#include <memory>
#include <new>

#include "components/rich_edit.h"

namespace zema {

namespace {

// Records pushed since the last trim beyond which the older ones go.
constexpr int kUndoTrim = 500;

// The characters [start, start + count) of the control's text.
std::string text_range(const MRichEdit* control, int start, int count) {
  std::string s(static_cast<std::size_t>(count) + 1, '\0');
  const int n = control->GetTextRange(start, count + 1, s.data());
  s.resize(static_cast<std::size_t>(n));
  return s;
}

void free_chain(UndoInfo* r) {
  while (r != nullptr) {
    UndoInfo* older = r->next;
    delete r;
    r = older;
  }
}

}  // namespace

int UndoInfo::GetType() const {
  const int replaced = end - start;
  const int growth = len_after - len_before;
  if (replaced == 0 && growth == 1 && sel_length == 0) return 0;
  if (replaced == 1 && growth == -1 && sel_length == 0) return 1;
  return 2;
}

bool UndoInfo::nextInGroup() const {
  if (next == nullptr) return false;
  const int kind = GetType();
  if (kind == 0) return next->start == start - 1;
  if (kind == 1 && next->GetType() == 1) return next->start == start || next->start == start + 1;
  return false;
}

void UndoChain::ContentsProtectChange(MRichEdit* control, int start, int end, bool& allow) {
  allow = true;
  if (control == nullptr || undoing) return;
  if (control->ReadOnly() || !undo_enabled) {
    // The text changes without a record: the older records' offsets no
    // longer fit it, and replaying them would garble it.
    ClearUndo();
    return;
  }
  delete undo_pending;
  undo_pending = nullptr;
  try {
    auto rec = std::make_unique<UndoInfo>();
    const int len = control->GetTextLen();
    start = std::clamp(start, 0, len);
    end = std::clamp(end, start, len);
    rec->start = start;
    rec->end = end;
    rec->len_before = len;
    rec->sel_start = control->SelStart();
    rec->sel_length = control->SelLength();
    if (start != end) {
      rec->removed = text_range(control, start, end - start);
      rec->has_removed = true;
    }
    // From the start of the line before the change to the start of the
    // second line after it (or the end of the text).
    const int first_line = std::max(0, control->CharToLineNum(start) - 1);
    const int after_line = control->CharToLineNum(end) + 2;
    const int from = control->LineToChar(first_line);
    const int to = after_line < control->GetLineCount() ? control->LineToChar(after_line) : len;
    rec->context = text_range(control, from, to - from);
    rec->context_start = from;
    rec->context_len = static_cast<int>(rec->context.size());
    rec->has_context = true;
    undo_pending = rec.release();
  } catch (const std::bad_alloc&) {
    // The change goes unrecorded, and so must every older one.
    ClearUndo();
  }
}

void UndoChain::ContentsChange(MRichEdit* control, bool has_task) {
  if (undoing || control == nullptr || !undo_enabled) return;
  if (!has_task || undo_pending == nullptr) {
    // A change that goes unrecorded leaves the older records' offsets
    // wrong: they go too.
    ClearUndo();
    return;
  }
  std::unique_ptr<UndoInfo> rec(undo_pending);
  undo_pending = nullptr;
  rec->len_after = control->GetTextLen();
  if (rec->len_after == rec->len_before && rec->end == rec->start) return;  // nothing changed
  if (!Complete(control, *rec)) {
    ClearUndo();
    return;
  }
  std::string().swap(rec->context);
  rec->has_context = false;
  rec->next = undo_head;
  undo_head = rec.release();
  ++undo_count;
  if (undo_count > kUndoTrim) {
    if (undo_mark != nullptr) {
      free_chain(undo_mark->next);
      undo_mark->next = nullptr;
    }
    undo_count = 0;
    undo_mark = undo_head;
  }
}

bool UndoChain::Complete(MRichEdit* control, UndoInfo& record) {
  UndoInfo* rec = &record;
  if (rec->inserted() < 0) {
    // The control removed more than it reported: the characters gone are
    // found in the context, as the first stretch where the text differs.
    // Their number is the shrinkage, so that the mended record inserts
    // nothing; a change that is no removal inside the context is dropped.
    const int gone = rec->len_before - rec->len_after;
    const int kept = rec->context_len - gone;
    if (!rec->has_context || gone <= 0 || kept < 0) return false;
    try {
      const std::string now = text_range(control, rec->context_start, kept);
      if (static_cast<int>(now.size()) != kept) return false;
      const auto diff = std::mismatch(now.begin(), now.end(), rec->context.begin());
      const int p = static_cast<int>(diff.first - now.begin());
      if (rec->context.compare(static_cast<std::size_t>(p + gone), std::string::npos, now, static_cast<std::size_t>(p)) != 0)
        return false;
      rec->removed = rec->context.substr(static_cast<std::size_t>(p), static_cast<std::size_t>(gone));
      rec->has_removed = true;
      rec->start = rec->context_start + p;
      rec->end = rec->start + gone;
    } catch (const std::bad_alloc&) {
      return false;
    }
  }
  return true;
}

void UndoChain::Undo(MRichEdit* control) {
  if (!CanUndo() || control == nullptr || control->ReadOnly()) return;
  // A record taken before a change that never came is stale now.
  delete undo_pending;
  undo_pending = nullptr;
  const bool was_drawing = control->SetRedraw(false);
  bool go_on;
  do {
    UndoInfo* rec = undo_head;
    undoing = true;
    control->SetSelectionRange(rec->start, rec->start + rec->inserted());
    if (rec->has_removed)
      control->InsertText(rec->removed.data(), static_cast<int>(rec->removed.size()), -1);
    else if (control->SelLength() != 0)
      control->InsertText("", 0, -1);
    control->SetSelectionRange(rec->sel_start, rec->sel_start + rec->sel_length);
    undoing = false;
    go_on = rec->nextInGroup();
    undo_head = rec->next;
    if (undo_mark == rec) undo_mark = nullptr;
    delete rec;
    if (--undo_count <= 0) {
      undo_count = 0;
      undo_mark = nullptr;
    }
  } while (undo_head != nullptr && go_on);
  control->SetRedraw(was_drawing);
  control->update();
}

void UndoChain::ClearUndo() {
  free_chain(undo_head);
  undo_head = nullptr;
  delete undo_pending;
  undo_pending = nullptr;
  undo_mark = nullptr;
}

}  // namespace zema
