// The small controls that form the text windows and dialogs: the size grip,
// the static status text, the spin edit and the colour-swatch button.
// GUI thread only.
#pragma once

#include <QFrame>
#include <QLabel>
#include <QSizeGrip>
#include <QSpinBox>

namespace zema {

// The size-grip square in the corner of a text window.
class MSizeGrip : public QSizeGrip {
 public:
  explicit MSizeGrip(QWidget* parent) : QSizeGrip(parent) {}
};

// A status field.
class TStaticText : public QLabel {
 public:
  explicit TStaticText(QWidget* parent = nullptr) : QLabel(parent) {}
};

// A number field.
class TCSpinEdit : public QSpinBox {
 public:
  explicit TCSpinEdit(QWidget* parent = nullptr) : QSpinBox(parent) {}
};

// A colour swatch: black, 50 by 20, raised; lowered while the left button is
// held down on it.
class MColourButton : public QFrame {
 public:
  explicit MColourButton(QWidget* parent = nullptr);
  // Answers whether the outer bevel is raised.
  bool Raised() const { return frameShadow() == QFrame::Raised; }

 protected:
  void mousePressEvent(QMouseEvent* e) override;
  void mouseReleaseEvent(QMouseEvent* e) override;
};

}  // namespace zema
