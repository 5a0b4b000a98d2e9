#include "wi/qwi_visbase.h"

#include <QCursor>
#include <QWidget>

#include <algorithm>
#include <cmath>
#include <cstring>

#include "host/charset.h"
#include "host/values.h"
#include "wi/qwi_system.h"
#include "wi/value_forms.h"

namespace zema {

QObject* qwi_event_filter();

namespace {

// Pointer numbers and cursor shapes, as read and as written.
struct PointerRow {
  int number;
  Qt::CursorShape shape;
};
constexpr PointerRow kPointers[] = {
    {1, Qt::ArrowCursor},      {2, Qt::CrossCursor},     {3, Qt::IBeamCursor},      {5, Qt::SizeAllCursor},
    {6, Qt::SizeBDiagCursor},  {7, Qt::SizeVerCursor},   {8, Qt::SizeFDiagCursor},  {9, Qt::SizeHorCursor},
    {10, Qt::UpArrowCursor},   {11, Qt::WaitCursor},     {12, Qt::ForbiddenCursor}, {13, Qt::BusyCursor},
    {14, Qt::PointingHandCursor}, {30, Qt::DragMoveCursor}, {31, Qt::ForbiddenCursor}, {32, Qt::SplitHCursor},
    {33, Qt::SplitVCursor},    {34, Qt::WaitCursor},     {35, Qt::PointingHandCursor}};

// A format list value: a character vector, or a vector of them.
bool is_format_list(const void* value) {
  if (qwi_is_character(value)) return qwi_rank(value) <= 1;
  if (!qwi_is_nested(value) || qwi_rank(value) != 1) return false;
  for (std::uint32_t i = 0; i < qwi_item_count(value); ++i) {
    const void* item = qwi_nested_item(value, i);
    if (!qwi_is_character(item) || qwi_rank(item) > 1) return false;
  }
  return true;
}

}  // namespace

QwiVisbase::QwiVisbase(APLTask* task, std::string_view name, QwiObj* parent) : QwiObj(task, name, parent) {
  visible_ = true;
  show_when_opened_ = true;
  autodraw_ = true;
}

QwiVisbase::~QwiVisbase() = default;

QWidget* QwiVisbase::widget() const { return qobject_cast<QWidget*>(control_); }

void QwiVisbase::WatchControl() {
  if (control_) control_->installEventFilter(qwi_event_filter());
}

void QwiVisbase::Hook(int event) {
  if (event <= 0 || event >= kQwiEventLimit) return;
  hooked_.set(std::size_t(event));
  if (event == 15)
    if (QWidget* w = widget()) w->setMouseTracking(true);
}

void QwiVisbase::ValidAtThisLevel(QwiValidFlags& flags) {
  for (int id : {73, 74, 8, 6, 5, 3, 4, 1, 78, 17, 58, 14, 107, 51, 52, 53, 54, 114, 108, 109, 259, 280, 272, 275,
                 266, 277, 329, 330})
    flags.properties[std::size_t(id)] = 1;
  for (int ev : {24, 25, 4, 3, 15, 28, 29, 31, 32, 33, 35, 36, 34}) flags.events[std::size_t(ev)] = 1;
}

void QwiVisbase::ValidForClass(QwiValidFlags& flags) {
  QwiObj::ValidAtThisLevel(flags);
  ValidAtThisLevel(flags);
}

void QwiVisbase::HookCallback(int event) {
  if (!control_) return;
  if (event == 25 || event == 31 || event == 32 || event == 34) Hook(event);
  else if (event == 9) {
    Hook(9);
    if (auto* win = dynamic_cast<QwiVisbase*>(containing_window_)) win->Hook(9);
  }
}

void QwiVisbase::HookStandardCallbacks() {
  if (!containing_window_ || !control_) return;
  for (int ev : {24, 4, 15, 3}) Hook(ev);
}

void QwiVisbase::ApplyVisible(bool show) {
  visible_ = show;
  if (show) {
    if (opened_) {
      CheckUserEvent(28);
      ShowControl(true);
    }
    return;
  }
  // Hiding raises onHide even before the object was opened.
  EndModalState();
  CheckUserEvent(29);
  ShowControl(false);
}

void QwiVisbase::AnchorChildren(int old_width, int old_height, int new_width, int new_height) {
  const int dw = new_width - old_width, dh = new_height - old_height;
  if (dw == 0 && dh == 0) return;
  for (QwiObj* c : children_) {
    auto* v = dynamic_cast<QwiVisbase*>(c);
    QWidget* w = v ? v->widget() : nullptr;
    if (!w || w->isWindow()) continue;
    // One axis: position and length from the near and far anchors.
    auto axis = [](bool near_edge, bool far_edge, int pos, int len, int old_total, int delta, int* out_pos, int* out_len) {
      *out_pos = pos, *out_len = len;
      if (near_edge && far_edge) *out_len = std::max(0, len + delta);
      else if (far_edge) *out_pos = pos + delta;
      else if (!near_edge && old_total > 0) *out_pos = (2 * pos + len) * (old_total + delta) / (2 * old_total) - len / 2;
    };
    const QRect g = w->geometry();
    int x, y, width, height;
    axis(v->anchors_ & 4, v->anchors_ & 1, g.x(), g.width(), old_width, dw, &x, &width);
    axis(v->anchors_ & 8, v->anchors_ & 2, g.y(), g.height(), old_height, dh, &y, &height);
    w->setGeometry(x, y, width, height);
  }
}

int QwiVisbase::GetProperty(int id, void* result, int size) {
  QWidget* w = widget();
  double ph, pv, oh, ov;
  GetObjectScale(&ph, &pv, true);
  GetObjectScale(&oh, &ov, false);
  switch (id) {
    case 1: {
      if (!w) return 12;
      const QRect g = w->geometry();
      const double v[4] = {g.y() / pv, g.x() / ph, g.height() / pv, g.width() / ph};
      return return_n_floats(result, v, 4, size);
    }
    case 3:
    case 4: {
      if (!w) return 12;
      const double sv = id == 3 ? ov : pv, sh = id == 3 ? oh : ph;
      const double v[2] = {w->height() / sv, w->width() / sh};
      return return_n_floats(result, v, 2, size);
    }
    case 5: return return_boolean_scalar(result, w ? w->isEnabled() : 1);
    case 6: return return_boolean_scalar(result, visible_);
    case 8: return qwi_return_text(result, size, "");
    case 51:
    case 52: {
      const auto& s = id == 51 ? drag_source_ : drop_target_;
      return qwi_return_text(result, size, s ? *s : "");
    }
    case 53:
    case 54: {
      const auto& f = id == 53 ? source_formats_ : target_formats_;
      if (!f) return qwi_return_text(result, size, "");
      return qwi_return_copy(result, size, *f, nullptr);
    }
    case 73: {
      const std::int32_t v[4] = {(anchors_ >> 3) & 1, (anchors_ >> 2) & 1, (anchors_ >> 1) & 1, anchors_ & 1};
      return qwi_return_integers(result, size, v, 4);
    }
    case 74: return return_integer_scalar(result, align_);
    case 78: return return_integer_scalar(result, pointer_);
    case 108:
    case 109: {
      const int* s = id == 108 ? max_size_ : min_size_;
      const double v[2] = {s[0] / ov, s[1] / oh};
      return return_n_floats(result, v, 2, size);
    }
    case 114: return return_boolean_scalar(result, autodraw_);
    case 259: {
      const std::string tip = w ? w->toolTip().toStdString() : std::string();
      return return_translated_text(result, tip.c_str(), size);
    }
    case 272:
      EndModalState();
      visible_ = false;
      if (opened_) {
        CheckUserEvent(29);
        ShowControl(false);
      }
      mark_set(6);
      return return_empty_matrix(result);
    case 275:
      if (w) w->repaint();
      return return_empty_matrix(result);
    case 280:
      system_->OpenPendingWindow();
      visible_ = true;
      if (opened_) {
        CheckUserEvent(28);
        ShowControl(true);
        if (class_id_ == qwi_class::Window && w && w->isEnabled()) {
          w->activateWindow();
          w->setFocus();
        }
      }
      return return_empty_matrix(result);
    default: return QwiObj::GetProperty(id, result, size);
  }
}

int QwiVisbase::SetProperty(int id, const void* value) {
  QWidget* w = widget();
  double ph, pv, oh, ov;
  GetObjectScale(&ph, &pv, true);
  GetObjectScale(&oh, &ov, false);
  switch (id) {
    case 1: {
      double v[4];
      int n = 0;
      if (!value) return 12;
      if (const int rc = get_n_floats(value, v, 4, &n)) return rc;
      if (n != 2 && n != 4) return 20;
      if (!w) return 0;
      const int top = int(v[0] * pv), left = int(v[1] * ph);
      if (n == 2) w->move(left, top);
      else w->setGeometry(left, top, int(v[3] * ph), int(v[2] * pv));
      return 0;
    }
    case 3:
    case 4: {
      double v[2];
      int n = 0;
      if (!value) return 12;
      if (const int rc = get_n_floats(value, v, 2, &n)) return rc;
      if (n != 2) return 20;
      const double sv = id == 3 ? ov : pv, sh = id == 3 ? oh : ph;
      if (w) w->resize(int(v[1] * sh), int(v[0] * sv));
      return 0;
    }
    case 5: {
      std::int32_t f;
      if (!value || get_one_boolean(value, &f)) return 12;
      if (w) w->setEnabled(f);
      return 0;
    }
    case 6: {
      std::int32_t f;
      if (!value || get_one_integer(value, &f) || f < -1 || f > 1) return 12;
      ApplyVisible(f == 1);
      return 0;
    }
    case 8: return value ? 0 : 12;
    case 53:
    case 54: {
      if (!value || !is_format_list(value)) return 12;
      auto& f = id == 53 ? source_formats_ : target_formats_;
      if (qwi_item_count(value) == 0) {
        f.reset();
        return 0;
      }
      std::vector<std::uint8_t> copy;
      if (qwi_copy_value(value, copy)) return 68;
      f = std::move(copy);
      return 0;
    }
    case 73: {
      std::int32_t v[4];
      int n = 0;
      if (!value) return 12;
      if (const int rc = get_n_integers(value, v, 4, &n)) return rc;
      for (int i = 0; i < n; ++i)
        if (v[i] != 0 && v[i] != 1) return 12;
      if (n != 4) return 20;
      anchors_ = v[0] << 3 | v[1] << 2 | v[2] << 1 | v[3];
      return 0;
    }
    case 74: {
      std::int32_t a;
      if (!value || get_one_integer(value, &a) || a < -1 || a > 4) return 12;
      align_ = a;
      return 0;
    }
    case 78: {
      std::int32_t p;
      if (!value || get_one_integer(value, &p)) return 12;
      Qt::CursorShape shape = Qt::ArrowCursor;
      int reads = 0;
      for (const PointerRow& row : kPointers)
        if (row.number == p) shape = row.shape, reads = p == 14 ? 35 : p == 31 ? 12 : p;
      pointer_ = reads;
      if (w) {
        if (reads) w->setCursor(QCursor(shape));
        else w->unsetCursor();
      }
      return 0;
    }
    case 108:
    case 109: {
      double v[2];
      int n = 0;
      if (!value) return 12;
      if (const int rc = get_n_floats(value, v, 2, &n)) return rc;
      if ((n >= 1 && v[0] < 0) || (n == 2 && v[1] < 0)) return 12;
      if (n != 2) return 20;
      int* s = id == 108 ? max_size_ : min_size_;
      s[0] = int(v[0] * ov), s[1] = int(v[1] * oh);
      if (w) {
        if (id == 108) w->setMaximumSize(s[1] ? s[1] : QWIDGETSIZE_MAX, s[0] ? s[0] : QWIDGETSIZE_MAX);
        else w->setMinimumSize(s[1], s[0]);
      }
      return 0;
    }
    case 114: {
      std::int32_t f;
      if (!value || get_one_boolean(value, &f)) return 12;
      autodraw_ = f;
      if (f && w) w->update();
      return 0;
    }
    case 259: {
      char tip[1024];
      if (!value) return 12;
      if (const int rc = get_translated_text(value, tip, 1023)) return rc;
      if (w) w->setToolTip(QString::fromLatin1(tip));
      return 0;
    }
    case 320: return 24;  // no drawing engine: an object keeps no drawing
    case 329:
    case 330: {
      std::int32_t v[2];
      int n = 0;
      if (!value) return 12;
      if (const int rc = get_n_integers(value, v, 2, &n)) return rc;
      if (n != 2) return 20;
      QPoint p(v[1], v[0]);
      if (w) p = id == 329 ? w->mapFromGlobal(p) : w->mapToGlobal(p);
      void* area = system_->SetQwiResult(24);
      if (!area) return 68;
      return return_integer_pair(area, p.y(), p.x());
    }
    default: return QwiObj::SetProperty(id, value);
  }
}

}  // namespace zema
