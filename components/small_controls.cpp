#include "components/small_controls.h"

#include <QMouseEvent>

namespace zema {

MColourButton::MColourButton(QWidget* parent) : QFrame(parent) {
  setFrameStyle(QFrame::Panel | QFrame::Raised);
  setLineWidth(1);
  setAutoFillBackground(true);
  QPalette p = palette();
  p.setColor(QPalette::Window, Qt::black);
  setPalette(p);
  resize(50, 20);
}

void MColourButton::mousePressEvent(QMouseEvent* e) {
  QFrame::mousePressEvent(e);
  if (e->button() == Qt::LeftButton) setFrameShadow(QFrame::Sunken);
}

void MColourButton::mouseReleaseEvent(QMouseEvent* e) {
  QFrame::mouseReleaseEvent(e);
  if (e->button() == Qt::LeftButton) setFrameShadow(QFrame::Raised);
}

}  // namespace zema
