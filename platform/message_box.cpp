#include "platform/message_box.h"

#include <QGuiApplication>
#include <QMessageBox>
#include <QScreen>
#include <cstdio>
#include <mutex>

#include "platform/synchronize.h"

namespace zema {

namespace {
std::mutex g_hook_mutex;
std::function<int(const MessageBoxRequest&)> g_hook;

QMessageBox::StandardButton qt_button(int result) {
  switch (result) {
    case MB_CANCEL: return QMessageBox::Cancel;
    case MB_ABORT: return QMessageBox::Abort;
    case MB_RETRY: return QMessageBox::Retry;
    case MB_IGNORE: return QMessageBox::Ignore;
    case MB_YES: return QMessageBox::Yes;
    case MB_NO: return QMessageBox::No;
    default: return QMessageBox::Ok;
  }
}


// A box nobody could see or answer: its caption and text go to standard
// error and its default button answers.
int write_unseen_box(const std::string& text, const std::string& caption, unsigned flags) {
  std::string line = caption + ": " + text;
  if (line.empty() || line.back() != '\n') line += '\n';
  std::fwrite(line.data(), 1, line.size(), stderr);
  std::fflush(stderr);
  return decode_message_box_flags(flags).default_button;
}

int result_of(QMessageBox::StandardButton b) {
  switch (b) {
    case QMessageBox::Cancel: return MB_CANCEL;
    case QMessageBox::Abort: return MB_ABORT;
    case QMessageBox::Retry: return MB_RETRY;
    case QMessageBox::Ignore: return MB_IGNORE;
    case QMessageBox::Yes: return MB_YES;
    case QMessageBox::No: return MB_NO;
    case QMessageBox::Ok: return MB_OK;
    default: return MB_CANCEL;
  }
}
}  // namespace

bool no_screen() {
  if (!qobject_cast<QGuiApplication*>(QCoreApplication::instance())) return true;
  const QString platform = QGuiApplication::platformName();
  return platform == QLatin1String("offscreen") || platform.startsWith(QLatin1String("minimal")) ||
         QGuiApplication::primaryScreen() == nullptr;
}

MessageBoxLayout decode_message_box_flags(unsigned flags) {
  MessageBoxLayout l;
  const unsigned set = flags & 7;
  switch (set) {
    case 1: l.buttons = {MB_OK, MB_CANCEL}; break;
    case 2: l.buttons = {MB_ABORT, MB_RETRY, MB_IGNORE}; break;
    case 3: l.buttons = {MB_YES, MB_NO, MB_CANCEL}; break;
    case 4: l.buttons = {MB_YES, MB_NO}; break;
    case 5: l.buttons = {MB_RETRY, MB_CANCEL}; break;
    default: l.buttons = {MB_OK}; break;
  }
  const unsigned icon = flags & 0xF0;
  l.icon = icon == 0x10 ? MessageBoxIcon::Critical : icon == 0x30 ? MessageBoxIcon::Warning : MessageBoxIcon::Information;
  switch (flags & 0x300) {
    case 0: l.default_button = set == 2 ? MB_ABORT : set == 5 ? MB_RETRY : (set == 3 || set == 4) ? MB_YES : MB_OK; break;
    case 0x100: l.default_button = set == 2 ? MB_RETRY : (set == 1 || set == 5) ? MB_CANCEL : (set == 3 || set == 4) ? MB_NO : MB_OK; break;
    case 0x200: l.default_button = set == 2 ? MB_IGNORE : set == 3 ? MB_CANCEL : MB_OK; break;
    default: l.default_button = MB_OK; break;
  }
  return l;
}

void set_message_box_hook(std::function<int(const MessageBoxRequest&)> hook) {
  std::lock_guard<std::mutex> lock(g_hook_mutex);
  g_hook = std::move(hook);
}

int ShowMessageBox(const std::string& text, const std::string& caption, unsigned flags) {
  {
    std::lock_guard<std::mutex> lock(g_hook_mutex);
    if (g_hook) return g_hook(MessageBoxRequest{text, caption, flags});
  }
  int answer = MB_CANCEL;
  synchronize([&] {
    if (no_screen()) {
      answer = write_unseen_box(text, caption, flags);
      return;
    }
    const MessageBoxLayout l = decode_message_box_flags(flags);
    QMessageBox box;
    box.setWindowTitle(QString::fromUtf8(caption.c_str()));
    box.setText(QString::fromUtf8(text.c_str()));
    box.setIcon(l.icon == MessageBoxIcon::Critical  ? QMessageBox::Critical
                : l.icon == MessageBoxIcon::Warning ? QMessageBox::Warning
                                                    : QMessageBox::Information);
    QMessageBox::StandardButtons buttons;
    for (int b : l.buttons) buttons |= qt_button(b);
    box.setStandardButtons(buttons);
    box.setDefaultButton(qt_button(l.default_button));
    if (buttons & QMessageBox::Cancel) box.setEscapeButton(QMessageBox::Cancel);
    answer = result_of(static_cast<QMessageBox::StandardButton>(box.exec()));
  });
  return answer;
}

}  // namespace zema
