#include "windows/shell_text.h"

#include <QAction>
#include <QActionGroup>
#include <QCloseEvent>
#include <QCursor>
#include <QFrame>
#include <QHBoxLayout>
#include <QLabel>
#include <QMenu>
#include <QMenuBar>
#include <QMouseEvent>
#include <QScrollBar>
#include <QSizeGrip>
#include <QVBoxLayout>

#include <cstring>
#include <exception>

#include "components/rich_edit.h"
#include "host/task.h"
#include "platform/message_box.h"
#include "windows/find_dialog.h"
#include "windows/word_breaks.h"

namespace zema {

QString keyboard_state_text() {
  if (pref_flag("apl_keyboard")) return pref_flag("unified_keyboard") ? QStringLiteral("KB: Uni APL") : QStringLiteral("KB: Std APL");
  return QStringLiteral("KB: Non-APL");
}

bool TAPLShellText::CheckWordBreak(const char* text, int pos, int len) { return IsWordBreak(text, pos, len); }

TAPLShellText::TAPLShellText(QWidget* owner) : TAPLShellWindow(owner) {
  auto* central = new QWidget(this);
  auto* layout = new QVBoxLayout(central);
  layout->setContentsMargins(0, 0, 0, 0);
  layout->setSpacing(0);
  Contents = new MRichEdit(central);
  layout->addWidget(Contents, 1);
  auto* strip = new QWidget(central);
  strip->setFixedHeight(16);
  auto* strip_layout = new QHBoxLayout(strip);
  strip_layout->setContentsMargins(0, 0, 0, 0);
  strip_layout->setSpacing(0);
  Bevel1 = new QFrame(strip);
  Bevel1->setFrameShape(QFrame::Panel);
  Bevel1->setFrameShadow(QFrame::Sunken);
  auto* bevel_layout = new QHBoxLayout(Bevel1);
  bevel_layout->setContentsMargins(2, 0, 2, 0);
  StatusKB = new QLabel(Bevel1);
  QFont small(QStringLiteral("Helvetica"));
  small.setPixelSize(8);
  StatusKB->setFont(small);
  StatusKB->setEnabled(false);
  StatusKB->installEventFilter(this);
  bevel_layout->addWidget(StatusKB);
  Bevel1->setFixedWidth(70);
  strip_layout->addWidget(Bevel1);
  HScrollBar = new QScrollBar(Qt::Horizontal, strip);
  strip_layout->addWidget(HScrollBar, 1);
  // Takes the strip's room while the text control hides the scroll bar, so
  // that the keyboard label stays at the left.
  strip_layout->addStretch(0);
  SizeGrip = new QSizeGrip(strip);
  strip_layout->addWidget(SizeGrip);
  layout->addWidget(strip);
  setCentralWidget(central);

  EditPopupMenu = new QMenu(this);
  KBPopMenu = new QMenu(this);
  QObject::connect(KBPopMenu->addAction(QStringLiteral("Standard (classic) &APL")), &QAction::triggered, this,
                   [this] { KeyboardAPLItemClick(); });
  QObject::connect(KBPopMenu->addAction(QStringLiteral("&Unified APL")), &QAction::triggered, this,
                   [this] { KeyboardUnifiedItemClick(); });
  QObject::connect(KBPopMenu->addAction(QStringLiteral("&Default non-APL")), &QAction::triggered, this,
                   [this] { KeyboardNationalItemClick(); });

  BuildMenus();

  Contents->SetWordWrap(false);
  Contents->SetScrollBars(3);
  Contents->SetHorizScrollbar(HScrollBar);
  Contents->IsWordBreak = &TAPLShellText::CheckWordBreak;
  const QFont font = apl_text_font();
  Contents->setFont(font);
  Contents->SetFontSize(font.pointSize());
  Contents->Clear();
  SizeGrip->hide();
  SpecialCtrlBrowserItem->setVisible(false);
  Contents->SetHideSelection(false);
  Contents->SetUndoSupport(false);
  Contents->SetSupportsStyledCopy(true);
  Contents->SetSupportsStyledPaste(false);
  // Every change of the text reaches the undo chain before and after it.
  Contents->OnProtectChange = [this](MRichEdit*, int start, int end, bool& allow) {
    ContentsProtectChange(start, end, allow);
  };
  Contents->OnChange = [this](MRichEdit*) { ContentsChange(); };
  AcceptMsg(msg_keyboard_changed, 0, nullptr);
}

TAPLShellText::~TAPLShellText() {
  if (Contents) {
    Contents->OnProtectChange = nullptr;
    Contents->OnChange = nullptr;
  }
  if (APLFindDialog && APLFindDialog->find_target == this) APLFindDialog->find_target = nullptr;
  // The find dialog lives for the whole run: it must not go with the window
  // it was last opened from.
  if (APLFindDialog && APLFindDialog->parentWidget() == this) {
    const bool shown = APLFindDialog->isVisible();
    APLFindDialog->setParent(nullptr, APLFindDialog->windowFlags());
    if (shown) APLFindDialog->show();
  }
}

void TAPLShellText::BuildMenus() {
  EditMenu = new QMenu(QStringLiteral("&Edit"), this);
  menuBar()->insertMenu(WindowMenu->menuAction(), EditMenu);
  QObject::connect(EditMenu, &QMenu::aboutToShow, this, [this] { EditMenuClick(); });
  auto item = [this](QMenu* menu, const char* caption, QKeySequence keys, void (TAPLShellText::*handler)()) {
    QAction* a = menu->addAction(QString::fromUtf8(caption));
    if (!keys.isEmpty()) a->setShortcut(keys);
    if (handler) QObject::connect(a, &QAction::triggered, this, [this, handler] { (this->*handler)(); });
    return a;
  };
  EditUndoItem = item(EditMenu, "&Undo", QKeySequence(Qt::CTRL | Qt::Key_Z), &TAPLShellText::EditUndoItemClick);
  EditMenu->addSeparator();
  EditCutItem = item(EditMenu, "Cu&t", QKeySequence(Qt::CTRL | Qt::Key_X), &TAPLShellText::EditCutItemClick);
  EditCopyItem = item(EditMenu, "&Copy", QKeySequence(Qt::CTRL | Qt::Key_C), &TAPLShellText::EditCopyItemClick);
  EditPasteItem = item(EditMenu, "&Paste", QKeySequence(Qt::CTRL | Qt::Key_V), &TAPLShellText::EditPasteItemClick);
  EditDeleteItem = item(EditMenu, "&Delete", QKeySequence(), &TAPLShellText::EditDeleteItemClick);
  EditSelectAllItem =
      item(EditMenu, "Se&lect All", QKeySequence(Qt::CTRL | Qt::Key_A), &TAPLShellText::EditSelectAllItemClick);
  EditMenu->addSeparator();
  EditCopyUniItem = item(EditMenu, "C&opy as Unicode", QKeySequence(Qt::SHIFT | Qt::CTRL | Qt::Key_C),
                         &TAPLShellText::EditCopyUniItemClick);
  EditPasteUniItem = item(EditMenu, "Paste from U&nicode", QKeySequence(Qt::SHIFT | Qt::CTRL | Qt::Key_V),
                          &TAPLShellText::EditPasteUniItemClick);
  EditMenu->addSeparator();
  EditFindItem = item(EditMenu, "&Find/Change...", QKeySequence(Qt::CTRL | Qt::Key_F), &TAPLShellText::EditFindItemClick);
  EditFindNextItem =
      item(EditMenu, "Find &Again", QKeySequence(Qt::CTRL | Qt::Key_G), &TAPLShellText::EditFindNextItemClick);
  EditFindSelectionItem = item(EditMenu, "Find &Selected Text", QKeySequence(Qt::CTRL | Qt::Key_J),
                               &TAPLShellText::EditFindSelectionItemClick);
  EditReplaceItem = item(EditMenu, "&Replace and Find Next", QKeySequence(Qt::CTRL | Qt::Key_K),
                         &TAPLShellText::EditReplaceItemClick);
  SearchMenuItem = item(EditMenu, "Search &Workspace...", QKeySequence(Qt::SHIFT | Qt::CTRL | Qt::Key_F),
                        &TAPLShellText::SearchMenuItemClick);
  EditMenu->addSeparator();
  EditDisplayItem = item(EditMenu, "Display &Variable...", QKeySequence(), nullptr);
  EditChartItem = item(EditMenu, "C&hart Variable...", QKeySequence(), nullptr);
  EditEditRecentItem = EditMenu->addMenu(QStringLiteral("Ed&it Recent"));
  QObject::connect(EditEditRecentItem, &QMenu::aboutToShow, this, [this] { EditEditRecentItemClick(); });
  for (int i = 0; i < 10; ++i) {
    EditRecent[i] = EditEditRecentItem->addAction(QString());
    EditRecent[i]->setVisible(false);
    QObject::connect(EditRecent[i], &QAction::triggered, this, [this, i] { EditRecentItemClick(i); });
  }
  OpenEditItem = item(EditMenu, "&Edit Function/Variable/Class...", QKeySequence(Qt::CTRL | Qt::Key_E), nullptr);

  ToolsMenu = new QMenu(QStringLiteral("&Tools"), this);
  menuBar()->insertMenu(WindowMenu->menuAction(), ToolsMenu);
  QObject::connect(ToolsMenu, &QMenu::aboutToShow, this, [this] { OptionsMenuClick(); });
  SpecialWSExplorerItem =
      item(ToolsMenu, "&Workspace Explorer", QKeySequence(), &TAPLShellText::SpecialWSExplorerItemClick);
  SpecialCtrlBrowserItem =
      item(ToolsMenu, "&Control Browser", QKeySequence(), &TAPLShellText::SpecialCtrlBrowserItemClick);
  SpecialFontItem = ToolsMenu->addMenu(QStringLiteral("&Font Size"));
  auto* sizes = new QActionGroup(this);
  for (int i = 0; i < 10; ++i) {
    const int points = kFontSizePoints[i];
    FontSizeItems[i] = SpecialFontItem->addAction(QStringLiteral("%1 point").arg(points));
    FontSizeItems[i]->setCheckable(true);
    FontSizeItems[i]->setData(points);
    sizes->addAction(FontSizeItems[i]);
    if (points == 9 || points == 11) FontSizeItems[i]->setVisible(false);
    QObject::connect(FontSizeItems[i], &QAction::triggered, this, [this, points] { SpecialFontItemClick(points); });
  }
  SpecialUseAPLKeyboard = item(ToolsMenu, "Switch to non-APL &Keyboard", QKeySequence(Qt::CTRL | Qt::Key_N),
                               &TAPLShellText::SpecialUseAPLKeyboardClick);
  SpecialKeyboard = ToolsMenu->addMenu(QStringLiteral("&APL Keyboard Layout"));
  auto* layouts = new QActionGroup(this);
  KeyboardStandardItem = item(SpecialKeyboard, "&Standard (classic) APL", QKeySequence(),
                              &TAPLShellText::KeyboardAPLItemClick);
  KeyboardUnifiedItem =
      item(SpecialKeyboard, "&Unified APL", QKeySequence(), &TAPLShellText::KeyboardUnifiedItemClick);
  for (QAction* a : {KeyboardStandardItem, KeyboardUnifiedItem}) {
    a->setCheckable(true);
    layouts->addAction(a);
  }
  ToolsMenu->addSeparator();
  Preferences1 = item(ToolsMenu, "&Preferences...", QKeySequence(), &TAPLShellText::SpecialPreferencesClick);

  QObject::connect(HelpMenu, &QMenu::aboutToShow, this, [this] { HelpMenuClick(); });
  HelpContextItem->setVisible(true);
  HelpContextItem->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_H));
  QObject::connect(HelpContextItem, &QAction::triggered, this, [this] { HelpContextItemClick(); });
  HelpKeyboardItem = HelpMenu->addAction(QStringLiteral("&Keyboard Layout"));
  QObject::connect(HelpKeyboardItem, &QAction::triggered, this, [this] { HelpKeyboardItemClick(); });
}

APLTask* TAPLShellText::Task() const { return owner_shell ? owner_shell->task() : nullptr; }

void TAPLShellText::AcceptMsg(int msg, int arg, void* ptr) {
  switch (msg) {
    case msg_keyboard_changed:
      StatusKB->setText(keyboard_state_text());
      break;
    case msg_font_changed:
      Contents->SetFontSize(apl_text_font().pointSize());
      break;
    case msg_quicksym_caret_off:
      DrawQuickSymCursor(false);
      break;
    case msg_quicksym_caret_on:
      DrawQuickSymCursor(true);
      break;
    default:
      TAPLShellWindow::AcceptMsg(msg, arg, ptr);
      break;
  }
}

void TAPLShellText::MakePreview() { TAPLShellWindow::MakePreview(); }

void TAPLShellText::AppendText(const char* text) {
  try {
    const int end = Contents->GetTextLen();
    Contents->SetSelectionRange(end, end);
    Contents->SetSelTextBuf(text);
  } catch (const std::exception&) {
    ShowMessageBox("Out of memory updating window", "ZEMA Error", 16);
  }
}

void TAPLShellText::OutputText(const char* text, std::int32_t colour) {
  try {
    const int end = Contents->GetTextLen();
    Contents->SetSelectionRange(end, end);
    Contents->SetNewColour(colour);
    Contents->SetSelTextBuf(text);
  } catch (const std::exception&) {
    ShowMessageBox("Out of memory updating window", "ZEMA Error", 16);
  }
}

void TAPLShellText::ShrinkToFit() {
  const SPoint32 extent = Contents->GetTextExtent();
  const int text_width = extent.h, text_height = extent.v;
  if (text_width == 0 || text_height == 0) return;
  int w = width(), h = height();
  const int client_width = Contents->width(), client_height = Contents->height();
  if (client_width > text_width) w = w - client_width + text_width + 10;
  if (client_height > text_height) h = h - client_height + text_height + 10;
  if (w < width() || h < height()) resize(std::min(w, width()), std::min(h, height()));
}

void TAPLShellText::FormActivate() {
  if (!APLFindDialog) return;
  APLFindDialog->find_target = this;
  APLFindDialog->FormActivate();
}

void TAPLShellText::StatusKBClick() { KBPopMenu->popup(QCursor::pos()); }

void TAPLShellText::ContentsProtectChange(int start, int end, bool& allow) {
  undo.ContentsProtectChange(Contents, start, end, allow);
}

void TAPLShellText::ContentsChange() { undo.ContentsChange(Contents, Task() != nullptr); }

void TAPLShellText::EditUndoItemClick() {
  if (CanUndo()) undo.Undo(Contents);
}

void TAPLShellText::closeEvent(QCloseEvent* e) {
  if (APLFindDialog && APLFindDialog->find_target == this) APLFindDialog->find_target = nullptr;
  ClearUndo();
  Contents->OnChange = nullptr;
  Contents->OnProtectChange = nullptr;
  TAPLShellWindow::closeEvent(e);
}

void TAPLShellText::changeEvent(QEvent* e) {
  TAPLShellWindow::changeEvent(e);
  if (e->type() == QEvent::ActivationChange && isActiveWindow()) FormActivate();
}

bool TAPLShellText::eventFilter(QObject* watched, QEvent* e) {
  if (watched == StatusKB && e->type() == QEvent::MouseButtonPress && StatusKB->isEnabled()) {
    StatusKBClick();
    return true;
  }
  return TAPLShellWindow::eventFilter(watched, e);
}

}  // namespace zema
