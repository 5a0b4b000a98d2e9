// Forwarding of widget events to ⎕WI events: one event filter watches the
// control of every visible object and, for the events the object has
// connected, records what the event says and calls the object's handler.
#include <QAbstractButton>
#include <QApplication>
#include <QCloseEvent>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QResizeEvent>
#include <QWidget>

#include "host/charset.h"
#include "wi/qwi_visbase.h"
#include "wi/qwi_window.h"

namespace zema {

int shift_state_to_long(bool shift, bool alt, bool control) {
  return (shift ? 1 : 0) | (alt ? 2 : 0) | (control ? 4 : 0);
}

namespace {

int shift_of(Qt::KeyboardModifiers m) {
  return shift_state_to_long(m & Qt::ShiftModifier, m & Qt::AltModifier, m & Qt::ControlModifier);
}

int button_of(Qt::MouseButton b) {
  if (b == Qt::RightButton) return 1;
  if (b == Qt::MiddleButton) return 2;
  return 0;
}

// The four words of a key event: the character byte, its APL code, the X
// key code and the modifier bits (what the keyboard filter of the task
// records for the session's own windows).
void key_words(const QKeyEvent* k, std::int32_t out[4]) {
  const QString text = k->text();
  const int byte = text.isEmpty() ? 0 : (text.at(0).unicode() < 256 ? text.at(0).unicode() : 0);
  out[0] = byte;
  out[1] = byte ? fontin(static_cast<unsigned char>(byte)) : 0;
  out[2] = static_cast<std::int32_t>(k->nativeScanCode());
  out[3] = shift_of(k->modifiers());
}

class QwiEventFilter : public QObject {
 public:
  bool eventFilter(QObject* watched, QEvent* e) override {
    auto* o = dynamic_cast<QwiVisbase*>(QwiObj::from_control(watched));
    if (!o) return false;
    auto* window = dynamic_cast<QwiWindow*>(o);
    QwiInputEvent& in = o->input();
    // A key that a ⎕WI control left unhandled travels on to its window's
    // form: the control has raised it for the window already.
    if (window && (e->type() == QEvent::KeyPress || e->type() == QEvent::KeyRelease)) {
      QWidget* focus = QApplication::focusWidget();
      if (focus && focus != watched && QwiObj::from_control(focus)) return false;
    }
    switch (e->type()) {
      case QEvent::MouseButtonPress:
      case QEvent::MouseButtonRelease:
      case QEvent::MouseMove: {
        const auto* m = static_cast<QMouseEvent*>(e);
        const QPoint p = m->position().toPoint();
        in.x = p.x(), in.y = p.y();
        in.button = button_of(m->button());
        in.shift = shift_of(m->modifiers());
        if (e->type() == QEvent::MouseButtonPress) {
          if (o->hooked(3)) o->OnMouseDownOrDragHandler();
        } else if (e->type() == QEvent::MouseButtonRelease) {
          if (o->hooked(4)) o->OnMouseUpHandler();
          // A click on a widget that has no click of its own: a release
          // inside it (buttons report theirs through `clicked`).
          auto* w = static_cast<QWidget*>(watched);
          if (o->hooked(24) && !qobject_cast<QAbstractButton*>(watched) && w->rect().contains(p))
            o->OnClickHandler();
        } else if (o->hooked(15)) {
          o->OnMouseMoveHandler();
        }
        return false;
      }
      case QEvent::MouseButtonDblClick:
        if (o->hooked(25)) o->OnDblClickHandler();
        return false;
      case QEvent::KeyPress: {
        const auto* k = static_cast<QKeyEvent*>(e);
        key_words(k, in.key);
        in.pressed_byte = in.key[0];
        if (o->hooked(1)) o->OnKeyDownHandler();
        if (o->hooked(30) && in.pressed_byte) o->OnKeyPressHandler();
        return false;
      }
      case QEvent::KeyRelease:
        key_words(static_cast<QKeyEvent*>(e), in.key);
        if (o->hooked(2)) o->OnKeyUpHandler();
        return false;
      case QEvent::FocusIn:
      case QEvent::WindowActivate:
        if ((e->type() == QEvent::FocusIn) != (window != nullptr) && o->hooked(7)) o->OnActivateHandler();
        return false;
      case QEvent::FocusOut:
      case QEvent::WindowDeactivate:
        if ((e->type() == QEvent::FocusOut) != (window != nullptr) && o->hooked(8)) o->OnDeactivateHandler();
        return false;
      case QEvent::Paint:
        if (o->hooked(9)) o->OnPaintHandler();
        return false;
      case QEvent::Resize: {
        const auto* r = static_cast<QResizeEvent*>(e);
        if (r->oldSize().isValid())
          o->AnchorChildren(r->oldSize().width(), r->oldSize().height(), r->size().width(), r->size().height());
        if (window) window->OnResizeHandler();
        return false;
      }
      case QEvent::Show:
        if (window && e->spontaneous() && o->hooked(28)) window->OnShowHandler();
        return false;
      case QEvent::Hide:
        if (window && e->spontaneous() && o->hooked(29)) window->OnHideHandler();
        return false;
      case QEvent::Close:
        if (window) {
          if (!window->OnCloseQueryHandler()) {
            e->ignore();
            return true;
          }
          // The object may be gone now (deleted by the close query).
          if (auto* still = dynamic_cast<QwiWindow*>(QwiObj::from_control(watched))) still->OnCloseHandler();
        }
        return false;
      default: return false;
    }
  }
};

}  // namespace

QObject* qwi_event_filter() {
  // Lives as long as the program: every watched control uses it.
  static QwiEventFilter* filter = new QwiEventFilter;
  return filter;
}

// ---- the handlers ----

void QwiVisbase::ConvertToWindowCoordinates(int* x, int* y) const {
  QWidget* w = widget();
  auto* win = containing_window_ ? qobject_cast<QWidget*>(containing_window_->control()) : nullptr;
  if (!w || !win || w == win) return;
  const QPoint p = win->isAncestorOf(w) ? w->mapTo(win, QPoint(*x, *y)) : win->mapFromGlobal(w->mapToGlobal(QPoint(*x, *y)));
  *x = p.x(), *y = p.y();
}

void QwiVisbase::RaiseWindowFirst(int event, std::int32_t a1, std::int32_t a2, std::int32_t a3, std::int32_t a4) {
  if (containing_window_ && containing_window_ != this) containing_window_->CheckUserEvent(event, a1, a2, a3, a4);
  CheckUserEvent(event, a1, a2, a3, a4);
}

void QwiVisbase::OnActivateHandler() { CheckUserEvent(7); }
void QwiVisbase::OnChangeHandler() { CheckUserEvent(23); }
void QwiVisbase::OnClickHandler() { RaiseWindowFirst(24, 0, 0, 0, 0); }
void QwiVisbase::OnDblClickHandler() { CheckUserEvent(25); }
void QwiVisbase::OnDeactivateHandler() { CheckUserEvent(8); }
void QwiVisbase::OnKeyDownHandler() { RaiseWindowFirst(1, input_.key[0], input_.key[1], input_.key[2], input_.key[3]); }
void QwiVisbase::OnKeyUpHandler() { RaiseWindowFirst(2, input_.key[0], input_.key[1], input_.key[2], input_.key[3]); }
void QwiVisbase::OnKeyPressHandler() {
  const int byte = input_.pressed_byte;
  RaiseWindowFirst(30, byte, fontin(static_cast<unsigned char>(byte)), 0, 0);
}
void QwiVisbase::OnLimitHandler() { CheckUserEvent(22); }
void QwiVisbase::OnMenuHandler() { CheckUserEvent(5); }
void QwiVisbase::OnMouseDownHandler() {
  int x = input_.x, y = input_.y;
  ConvertToWindowCoordinates(&x, &y);
  RaiseWindowFirst(3, y, x, input_.button, input_.shift);
}
void QwiVisbase::OnMouseUpHandler() {
  int x = input_.x, y = input_.y;
  ConvertToWindowCoordinates(&x, &y);
  RaiseWindowFirst(4, y, x, input_.button, input_.shift);
}
void QwiVisbase::OnMouseMoveHandler() {
  int x = input_.x, y = input_.y;
  ConvertToWindowCoordinates(&x, &y);
  RaiseWindowFirst(15, y, x, 0, input_.shift);
}
void QwiVisbase::OnPaintHandler() { CheckUserEvent(9); }
void QwiVisbase::OnScrollHandler() { CheckUserEvent(14); }
void QwiVisbase::OnSelChangeHandler() { CheckUserEvent(40); }
void QwiVisbase::OnMouseDownOrDragHandler() { OnMouseDownHandler(); }

}  // namespace zema
