#include "windows/shell_window.h"

#include <QAction>
#include <QApplication>
#include <QCloseEvent>
#include <QFrame>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QMenu>
#include <QMenuBar>
#include <QPointer>
#include <QPushButton>
#include <QScreen>
#include <QVBoxLayout>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <memory>
#include <new>

#include "components/rich_edit.h"
#include "host/charset.h"
#include "host/settings.h"
#include "host/task.h"
#include "platform/font_sizes.h"
#include "platform/memory_ini.h"
#include "platform/message_box.h"
#include "windows/help_lookup.h"
#include "windows/window_list.h"

namespace zema {

MemIniFile* gDesktopFile = nullptr;
MemIniFile* gAppDataFile = nullptr;

namespace {

Settings* g_settings = nullptr;

// The kinds that Close All closes, in the order it closes them.
constexpr int kCloseAllKinds[] = {kind_function_editor, kind_variable_editor, kind_search_results, kind_watch,
                                  kind_debugger,        kind_display,         kind_class_summary};

const Settings& settings_or_defaults() {
  if (g_settings) return *g_settings;
  static const Settings defaults;
  return defaults;
}

// Every application window of every shell, in chain order.
std::vector<QWidget*> all_app_windows() {
  std::vector<QWidget*> out;
  for (APLShell* s = first_apl_shell(); s; s = s->next_shell()) {
    const auto w = s->AppWindows();
    out.insert(out.end(), w.begin(), w.end());
  }
  return out;
}

}  // namespace

Settings* live_settings() { return g_settings; }
void set_live_settings(Settings* settings) { g_settings = settings; }
bool pref_flag(const char* name) { return settings_or_defaults().flag(name); }
std::int32_t pref_number(const char* name) { return settings_or_defaults().number(name); }

QRect screen_client_rect() {
  const QScreen* s = QGuiApplication::primaryScreen();
  if (!s) return QRect(0, 0, 640, 480);
  return QRect(0, 0, s->geometry().width(), s->geometry().height());
}

int screen_ppi() {
  const QScreen* s = QGuiApplication::primaryScreen();
  const int ppi = s ? static_cast<int>(s->logicalDotsPerInch() + 0.5) : 96;
  return ppi > 0 ? ppi : 96;
}

int ScreenNominalToFontsize(int points) { return screen_nominal_to_fontsize(points, screen_ppi()); }
int ScreenFontsizeToNominal(int size) { return screen_fontsize_to_nominal(size, screen_ppi()); }

QFont apl_text_font() {
  QFont f(MRichEdit::AplFontFamily());
  f.setPointSize(std::max(1, ScreenNominalToFontsize(pref_number("text_font_size"))));
  return f;
}

namespace {
QFont apl_font_of_size(int points) {
  QFont f(MRichEdit::AplFontFamily());
  f.setFixedPitch(true);
  f.setPointSize(points);
  return f;
}
}  // namespace

QFont apl_dialog_font() { return apl_font_of_size(10); }
QFont apl_status_font() { return apl_font_of_size(8); }
QFont apl_win_title_font() { return apl_font_of_size(12); }

TileGrid tile_grid(int n) {
  if (n <= 0) return {0, 0};
  if (n == 1) return {1, 1};
  if (n == 2) return {1, 2};
  if (n == 3) return {1, 3};
  if (n == 4) return {2, 2};
  if (n <= 6) return {2, 3};
  if (n <= 9) return {3, 3};
  if (n <= 12) return {3, 4};
  if (n <= 16) return {4, 4};
  if (n <= 25) return {5, 5};
  if (n <= 36) return {6, 6};
  if (n <= 49) return {7, 7};
  return {8, n / 8 + 1};
}

namespace {
std::function<int(QDialog*)> g_run_modal_hook;
}

void set_run_modal_hook(std::function<int(QDialog*)> hook) { g_run_modal_hook = std::move(hook); }

int RunModal(QDialog* d) {
  if (g_run_modal_hook) {
    QPointer<QDialog> alive(d);
    d->show();
    const int r = g_run_modal_hook(d);
    if (alive) d->hide();
    return r;
  }
  // Nobody could see or answer the dialog: it is cancelled, and says so.
  if (no_screen()) {
    std::fprintf(stderr, "%s: cancelled\n", d->windowTitle().toUtf8().constData());
    return QDialog::Rejected;
  }
  return d->exec();
}

TAPLShellWindow::TAPLShellWindow(QWidget* owner) : QMainWindow(owner) {
  setObjectName("APLShellWindow");
  setAttribute(Qt::WA_DeleteOnClose);
  if (owner) setWindowFlags(windowFlags() | Qt::Window);
  title_ = "ZEMA";
  QMainWindow::setWindowTitle(QStringLiteral("ZEMA"));
  resize(618, 335);

  WindowMenu = menuBar()->addMenu(QStringLiteral("&Window"));
  QObject::connect(WindowMenu, &QMenu::aboutToShow, this, [this] { WindowMenuClick(); });
  WindowCloseItem = WindowMenu->addAction(QStringLiteral("&Close Window"));
  WindowCloseItem->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_W));
  QObject::connect(WindowCloseItem, &QAction::triggered, this, [this] { AcceptMsg(msg_close, 0, nullptr); });
  WindowCloseAllItem = WindowMenu->addAction(QStringLiteral("Close &all Edit/Debug Windows"));
  QObject::connect(WindowCloseAllItem, &QAction::triggered, this, [this] { WindowCloseAllItemClick(); });
  WindowMenu->addSeparator();
  WindowTileItem = WindowMenu->addAction(QStringLiteral("&Tile"));
  WindowTileItem->setStatusTip(QStringLiteral("Tile all windows"));
  QObject::connect(WindowTileItem, &QAction::triggered, this, [this] { WindowTileItemClick(); });
  WindowCascadeItem = WindowMenu->addAction(QStringLiteral("&Cascade"));
  WindowCascadeItem->setStatusTip(QStringLiteral("Cascade all windows"));
  QObject::connect(WindowCascadeItem, &QAction::triggered, this, [this] { WindowCascadeItemClick(); });
  WindowMenu->addSeparator()->setVisible(false);
  WindowNextWindow = WindowMenu->addAction(QStringLiteral("&Next Window"));
  WindowNextWindow->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_L));
  QObject::connect(WindowNextWindow, &QAction::triggered, this, [this] {
    if (owner_shell) owner_shell->ActivateWindow(-1, this);
  });
  WindowMenu->addSeparator();
  for (int i = 0; i < 10; ++i) {
    WindowItems[i] = WindowMenu->addAction(QString::number(i));
    WindowItems[i]->setCheckable(true);
    WindowItems[i]->setShortcut(QKeySequence(Qt::CTRL | (Qt::Key_0 + i)));
    WindowItems[i]->setVisible(false);
    QObject::connect(WindowItems[i], &QAction::triggered, this, [this, i] {
      if (owner_shell) owner_shell->ActivateAppWindow(i, this);
    });
  }
  WindowsMoreWindows = WindowMenu->addAction(QStringLiteral("&More windows..."));
  WindowsMoreWindows->setVisible(false);
  QObject::connect(WindowsMoreWindows, &QAction::triggered, this, [this] { WindowsMoreWindowsClick(); });

  HelpMenu = menuBar()->addMenu(QStringLiteral("&Help"));
  HelpContentsItem = HelpMenu->addAction(QStringLiteral("&Contents"));
  HelpContentsItem->setStatusTip(QStringLiteral("Display the help contents screen"));
  HelpSearchItem = HelpMenu->addAction(QStringLiteral("&Search for Help On..."));
  HelpSearchItem->setStatusTip(QStringLiteral("Search help file for a topic"));
  QObject::connect(HelpContentsItem, &QAction::triggered, this, [] {
    if (help_show_hook) help_show_hook(std::string());
  });
  QObject::connect(HelpSearchItem, &QAction::triggered, this, [] {
    if (help_show_hook) help_show_hook("SEARCH");
  });
  HelpContextItem = HelpMenu->addAction(QStringLiteral("&Help on Selected Item"));
  HelpContextItem->setVisible(false);
  HelpMenu->addSeparator();
  HelpAboutItem = HelpMenu->addAction(QStringLiteral("&About..."));
  HelpAboutItem->setStatusTip(QStringLiteral("Show program information"));
  QObject::connect(HelpAboutItem, &QAction::triggered, this, [this] { HelpAboutItemClick(); });
  HelpWebsSiteItem = HelpMenu->addAction(QStringLiteral("Home page"));
  HelpWebsSiteItem->setVisible(false);
}

TAPLShellWindow::~TAPLShellWindow() {
  if (owner_shell) owner_shell->DeleteWindowFromShell(this);
}

void TAPLShellWindow::SetWindowTitle(const std::string& t) {
  title_ = t.substr(0, std::min<std::size_t>(t.size(), 50));
  if (title_.size() == 50) title_[48] = title_[49] = '.';
  QMainWindow::setWindowTitle(font_text_to_unicode(title_));
}

void TAPLShellWindow::SetTitleDrawMode(bool m) {
  title_draw_mode_ = m;
  QMainWindow::setWindowTitle(m ? QString() : font_text_to_unicode(title_));
}

void TAPLShellWindow::AcceptMsg(int msg, int arg, void* ptr) {
  (void)arg;
  switch (msg) {
    case msg_close:
      close();
      break;
    case msg_set_bounds:
      if (ptr) {
        const auto* r = static_cast<const BoundsRect*>(ptr);
        move(r->left, r->top);
        resize(std::max(0, r->right - r->left), std::max(0, r->bottom - r->top));
      }
      break;
    case msg_minimise:
      showMinimized();
      break;
    case msg_maximise:
      showMaximized();
      break;
    case msg_restore:
      showNormal();
      break;
    case msg_apl_ready:
    case msg_modal_end:
      setEnabled(true);
      break;
    case msg_modal_begin:
      setEnabled(false);
      break;
    default:
      break;
  }
}

void disable_controls(QWidget* c) {
  if (!c) return;
  for (QObject* o : c->children()) {
    auto* w = qobject_cast<QWidget*>(o);
    if (!w || w->isWindow()) continue;
    w->setEnabled(false);
    w->setToolTip(QString());
    disable_controls(w);
  }
}

void TAPLShellWindow::MakePreview() {
  preview_ = true;
  disable_controls(this);
  for (QAction* a : menuBar()->actions()) a->setEnabled(false);
}

void TAPLShellWindow::SaveDesktopPosition(const std::string& name) {
  if (preview_ || name.empty() || !owner_shell || !owner_shell->task() || !gDesktopFile) return;
  const std::string section = owner_shell->task()->GetWSName() + ":" + name;
  if (gDesktopFile->SectionExists(section)) gDesktopFile->EraseSection(section);
  gDesktopFile->WriteInteger(section, "top", y());
  gDesktopFile->WriteInteger(section, "left", x());
  gDesktopFile->WriteInteger(section, "width", width());
  gDesktopFile->WriteInteger(section, "height", height());
}

void TAPLShellWindow::RestoreDesktopPosition(const std::string& name) {
  if (preview_ || !pref_flag("save_window_positions") || name.empty() || !owner_shell || !owner_shell->task() ||
      !gDesktopFile)
    return;
  const std::string section = owner_shell->task()->GetWSName() + ":" + name;
  int top = gDesktopFile->ReadInteger(section, "top", y());
  int left = gDesktopFile->ReadInteger(section, "left", x());
  const int w = gDesktopFile->ReadInteger(section, "width", width());
  const int h = gDesktopFile->ReadInteger(section, "height", height());
  const QRect screen = screen_client_rect();
  if (top < screen.top() || top >= screen.top() + screen.height() - 50) top = screen.top();
  if (left < screen.left() || left >= screen.left() + screen.width() - 50) left = screen.left();
  move(left, top);
  resize(std::max(1, w), std::max(1, h));
}

void TAPLShellWindow::WindowMenuClick() {
  bool closable = false;
  for (APLShell* s = first_apl_shell(); s && !closable; s = s->next_shell())
    for (int kind : kCloseAllKinds)
      if (s->GetFirstShellWindow(kind)) closable = true;
  WindowCloseAllItem->setEnabled(closable);

  APLShell* first = first_apl_shell();
  WindowNextWindow->setEnabled(first && (first->AppWindows().size() >= 2 || first->next_shell()));

  const std::vector<QWidget*> windows = all_app_windows();
  for (int i = 0; i < 10; ++i) {
    QAction* item = WindowItems[i];
    if (i >= static_cast<int>(windows.size())) {
      item->setVisible(false);
      continue;
    }
    QWidget* w = windows[static_cast<std::size_t>(i)];
    QString caption;
    if (auto* sw = dynamic_cast<TAPLShellWindow*>(w)) {
      caption = font_text_to_unicode(sw->GetWindowTitle());
      if (sw->window_kind != kind_session) caption = QStringLiteral("  ") + caption;
    } else {
      caption = w->windowTitle();
    }
    caption.replace(QLatin1Char('&'), QStringLiteral("&&"));  // shown as it is, not as a mnemonic
    item->setText(caption);
    item->setShortcut(QKeySequence(Qt::CTRL | (Qt::Key_0 + i)));
    item->setChecked(w == this);
    item->setVisible(true);
  }
  const bool more = windows.size() > 10;
  WindowsMoreWindows->setVisible(more);
  WindowsMoreWindows->setEnabled(more);
}

void TAPLShellWindow::WindowCloseAllItemClick() {
  for (APLShell* s = first_apl_shell(); s; s = s->next_shell())
    for (int kind : kCloseAllKinds) s->BroadcastMsg(kind, msg_close, 0, nullptr);
}

void TAPLShellWindow::WindowTileItemClick() {
  std::vector<TAPLShellWindow*> windows;
  for (APLShell* s = first_apl_shell(); s; s = s->next_shell())
    for (TAPLShellWindow* w = s->GetFirstShellWindow(kind_any); w; w = s->GetNextShellWindow(kind_any))
      if (!w->isMinimized() && w->window_kind != kind_any) windows.push_back(w);
  const int n = static_cast<int>(windows.size());
  if (n == 0) return;
  const TileGrid g = tile_grid(n);
  const QRect screen = screen_client_rect();
  const int cw = screen.width() / g.columns, ch = screen.height() / g.rows;
  for (int i = 0; i < n; ++i) {
    TAPLShellWindow* w = windows[static_cast<std::size_t>(i)];
    w->move(screen.left() + (i % g.columns) * cw, screen.top() + (i / g.columns) * ch);
    w->resize(cw, ch);
  }
}

void TAPLShellWindow::WindowCascadeItemClick() {
  const QRect screen = screen_client_rect();
  const int bottom = screen.top() + screen.height(), right = screen.left() + screen.width();
  int x = screen.left(), y = screen.top();
  for (QWidget* w : all_app_windows()) {
    if (w->isMinimized()) continue;
    w->move(x, y);
    w->show();
    w->setFocus();
    y += 16;
    if (y > bottom - 16) y = screen.top();
    x += 16;
    if (x > right - 16) x = screen.left();
  }
}

// The window may be closed (and deleted, with the dialogs it owns) while a
// modal dialog of it runs, for instance when its task ends: both are watched,
// and neither is touched once gone.
void TAPLShellWindow::WindowsMoreWindowsClick() {
  QPointer<TAPLShellWindow> self(this);
  QPointer<TAPLWindowListDialog> dialog;
  try {
    dialog = new TAPLWindowListDialog(this);
  } catch (const std::bad_alloc&) {
    out_of_memory("Cannot display window list", 2);
    return;
  }
  const int index = dialog->Execute();
  delete dialog.data();
  if (!self) return;
  if (index != -1 && owner_shell) owner_shell->ActivateAppWindow(index, this);
}

void TAPLShellWindow::HelpAboutItemClick() {
  QPointer<TAboutBox> box;
  try {
    box = new TAboutBox(this);
  } catch (const std::bad_alloc&) {
    out_of_memory("Cannot display about box", 2);
    return;
  }
  RunModal(box);
  delete box.data();
}

void TAPLShellWindow::closeEvent(QCloseEvent* e) {
  if (!preview_ && owner_shell) owner_shell->DeleteWindowFromShell(this);
  e->accept();
}

void TAPLShellWindow::changeEvent(QEvent* e) {
  QMainWindow::changeEvent(e);
  if (e->type() == QEvent::ActivationChange && isActiveWindow()) WindowMenuClick();
}

// ---------------------------------------------------------------- dialogs

TOKBottomDlg::TOKBottomDlg(QWidget* owner) : QDialog(owner) {
  setObjectName("OKBottomDlg");
  setWindowTitle(QStringLiteral("Dialog"));
  resize(313, 214);
  auto* layout = new QVBoxLayout(this);
  auto* bevel = new QFrame(this);
  bevel->setFrameShape(QFrame::StyledPanel);
  body_ = bevel;
  layout->addWidget(bevel, 1);
  auto* buttons = new QHBoxLayout;
  buttons->setObjectName("buttons");
  OKBtn = new QPushButton(QStringLiteral("OK"), this);
  OKBtn->setDefault(true);
  CancelBtn = new QPushButton(QStringLiteral("Cancel"), this);
  buttons->addStretch(1);
  buttons->addWidget(OKBtn);
  buttons->addWidget(CancelBtn);
  buttons->addStretch(1);
  layout->addLayout(buttons);
  QObject::connect(OKBtn, &QPushButton::clicked, this, [this] { done(1); });
  QObject::connect(CancelBtn, &QPushButton::clicked, this, [this] { done(2); });
  OKBtn->setFocus();
}

TAPLStdDialog::TAPLStdDialog(QWidget* owner) : TOKBottomDlg(owner) {
  setObjectName("APLStdDialog");
  setWindowTitle(QStringLiteral("APL"));
  resize(319, 247);
  HelpBtn = new QPushButton(QStringLiteral("&Help"), this);
  HelpBtn->setVisible(false);
  // OK and Cancel to the right, Help at the left.
  if (auto* buttons = findChild<QHBoxLayout*>("buttons")) {
    buttons->insertWidget(0, HelpBtn);
    delete buttons->takeAt(buttons->count() - 1);  // the trailing stretch, owned by the layout until taken
  }
}

}  // namespace zema
