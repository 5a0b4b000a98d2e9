#include "windows/window_list.h"

#include <QEvent>
#include <QLabel>
#include <QListWidget>
#include <QMouseEvent>
#include <QPainter>
#include <QPixmap>
#include <QPointer>
#include <QVBoxLayout>

#include <cstdio>

#include "components/rich_edit.h"
#include "host/paths.h"
#include "host/utilities.h"

namespace zema {

TAPLWindowListDialog::TAPLWindowListDialog(QWidget* owner) : TAPLStdDialog(owner) {
  setObjectName("APLWindowListDialog");
  setWindowTitle(QStringLiteral("Window List"));
  resize(217, 289);
  setMinimumSize(200, 150);
  auto* layout = new QVBoxLayout(body());
  WindowListBox = new QListWidget(body());
  WindowListBox->setFont(apl_dialog_font());
  layout->addWidget(WindowListBox);
  QObject::connect(WindowListBox, &QListWidget::itemDoubleClicked, this, [this] { done(1); });
}

void TAPLWindowListDialog::Populate() {
  WindowListBox->clear();
  for (APLShell* s = first_apl_shell(); s; s = s->next_shell())
    for (QWidget* w = s->GetFirstAppWindow(); w; w = s->GetNextAppWindow()) {
      if (auto* sw = dynamic_cast<TAPLShellWindow*>(w))
        WindowListBox->addItem(font_text_to_unicode(sw->GetWindowTitle()));
      else
        WindowListBox->addItem(w->windowTitle());
    }
  if (WindowListBox->count() > 0) WindowListBox->setCurrentRow(0);
}

int TAPLWindowListDialog::Execute() {
  Populate();
  QPointer<TAPLWindowListDialog> self(this);
  const int result = RunModal(this);
  if (!self) return -1;  // deleted with its owner while it ran
  return result == 1 ? WindowListBox->currentRow() : -1;
}

std::string about_version_text() {
  const std::int32_t* v = version();
  int ai[7];
  get_quadai(ai);
  char text[80];
  std::snprintf(text, sizeof text, "Version %d.%d.%d / %d.%2d %s", v[0], v[1], v[2], ai[4] / 100, ai[4] % 100, "");
  return text;
}

namespace {

// The program's picture: the grade-up glyph in a framed square.
QPixmap program_picture() {
  QPixmap p(48, 48);
  p.fill(QColor(0, 0, 64));
  QPainter painter(&p);
  painter.setPen(QColor(255, 255, 0));
  painter.drawRect(1, 1, 45, 45);
  QFont f = apl_dialog_font();
  f.setPixelSize(36);
  painter.setFont(f);
  painter.drawText(QRect(0, 0, 48, 48), Qt::AlignCenter, QString(QChar(0x234B)));
  return p;
}

}  // namespace

TAboutBox::TAboutBox(QWidget* owner) : QDialog(owner) {
  setObjectName("AboutBox");
  setWindowTitle(QStringLiteral("About ZEMA"));
  setAutoFillBackground(true);
  QPalette pal = palette();
  pal.setColor(QPalette::Window, QColor(0, 0, 64));  // the colour word 0x400000: dark blue
  pal.setColor(QPalette::WindowText, QColor(255, 255, 0));
  setPalette(pal);
  QFont font(QStringLiteral("Helvetica"));
  font.setPointSize(11);
  setFont(font);
  auto* layout = new QVBoxLayout(this);
  ProgramIcon = new QLabel(this);
  ProgramIcon->setPixmap(program_picture());
  ProgramIcon->setAlignment(Qt::AlignCenter);
  Label2 = new QLabel(QStringLiteral(" ZEMA for Linux "), this);
  QFont big = font;
  big.setPointSize(18);
  big.setBold(true);
  Label2->setFont(big);
  LabelVersion = new QLabel(QString::fromStdString(about_version_text()), this);
  Label1 = new QLabel(QStringLiteral("The run-time system for packaged APL applications."), this);
  for (QLabel* l : {ProgramIcon, Label2, LabelVersion, Label1}) {
    l->setAlignment(Qt::AlignCenter);
    l->installEventFilter(this);
    layout->addWidget(l);
  }
}

void TAboutBox::mousePressEvent(QMouseEvent* e) {
  (void)e;
  done(1);
}

bool TAboutBox::eventFilter(QObject* watched, QEvent* e) {
  if (e->type() == QEvent::MouseButtonPress) {
    done(1);
    return true;
  }
  return QDialog::eventFilter(watched, e);
}

}  // namespace zema
