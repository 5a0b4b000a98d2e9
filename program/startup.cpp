#include "program/startup.h"

#include <sys/stat.h>
#include <unistd.h>

#include <QApplication>
#include <QKeyEvent>
#include <QPointer>
#include <QTimer>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <mutex>
#include <new>
#include <sstream>
#include <string>
#include <vector>

#include "files/packaged.h"
#include "host/charset.h"
#include "host/paths.h"
#include "host/settings.h"
#include "host/temp_files.h"
#include "interpreter/workspace/workspace.h"
#include "platform/message_box.h"
#include "platform/memory_ini.h"
#include "program/local_task.h"
#include "windows/find_dialog.h"
#include "components/rich_edit.h"
#include "platform/executable_dates.h"
#include "windows/printing.h"
#include "windows/session_window.h"
#include "windows/shell.h"
#include "windows/shell_window.h"
#include "wi/qwi_button.h"
#include "wi/qwi_system.h"

namespace zema {

namespace {

constexpr unsigned kErrorIcon = 16;

// Test hooks, off in normal use: ZEMA_TEST_MESSAGE_LOG names a file to
// which each message box is appended ("caption|flags|text") instead of
// being shown; ZEMA_SESSION_LOG names a file ("-": standard output) that
// receives the session output as well as the session window;
// ZEMA_TEST_INPUT names a file whose lines are typed, as key events, into
// the session window at the application's input requests (the program is
// asked to quit when they run out); ZEMA_TEST_SESSION_DUMP names a file
// that receives the session window's text (UTF-8) when the program ends.
void install_test_hooks() {
  if (const char* log = std::getenv("ZEMA_TEST_MESSAGE_LOG"); log && *log) {
    const std::string path = log;
    set_message_box_hook([path](const MessageBoxRequest& r) {
      static std::mutex m;
      std::lock_guard<std::mutex> lock(m);
      std::ofstream(path, std::ios::app) << r.caption << '|' << r.flags << '|' << r.text << '\n';
      return static_cast<int>(MB_OK);
    });
  }
}

// The lines of ZEMA_TEST_INPUT, typed one per input request.
struct TestInput {
  std::vector<std::string> lines;
  std::size_t next = 0;
  bool active = false;
};

TestInput read_test_input() {
  TestInput in;
  const char* path = std::getenv("ZEMA_TEST_INPUT");
  if (!path || !*path) return in;
  in.active = true;
  std::ifstream f(path);
  for (std::string line; std::getline(f, line);) in.lines.push_back(line);
  return in;
}

// Types `line` into the window's text control as key events, then Enter.
void type_line(TAPLSessionWin* w, const std::string& line) {
  QWidget* target = w->Contents;
  for (const QChar c : QString::fromStdString(line)) {
    QKeyEvent press(QEvent::KeyPress, 0, Qt::NoModifier, QString(c));
    QCoreApplication::sendEvent(target, &press);
  }
  QKeyEvent enter(QEvent::KeyPress, Qt::Key_Return, Qt::NoModifier, QStringLiteral("\r"));
  QCoreApplication::sendEvent(target, &enter);
}

void dump_session(TAPLSessionWin* w) {
  const char* path = std::getenv("ZEMA_TEST_SESSION_DUMP");
  if (!path || !*path || !w) return;
  std::string text(static_cast<std::size_t>(w->Contents->GetTextLen()) + 1, '\0');
  const int n = w->Contents->GetTextBuf(text.data(), static_cast<int>(text.size()));
  text.resize(static_cast<std::size_t>(std::max(n, 0)));
  std::ofstream(path, std::ios::binary) << font_text_to_unicode(text).replace(QChar('\r'), QChar('\n')).toStdString();
}

std::function<void(const std::string&)> session_sink() {
  const char* log = std::getenv("ZEMA_SESSION_LOG");
  if (!log || !*log) return nullptr;
  std::FILE* f = std::string(log) == "-" ? stdout : std::fopen(log, "ab");
  if (!f) return nullptr;
  return [f](const std::string& text) {
    std::fwrite(text.data(), 1, text.size(), f);
    std::fflush(f);
  };
}

// The offscreen platform (headless runs) warns each time a window's size
// limits change, which says nothing about the program: that one message is
// dropped, every other goes to Qt's own handler.
QtMessageHandler qt_handler = nullptr;
void quiet_offscreen_messages(QtMsgType type, const QMessageLogContext& context, const QString& message) {
  if (message.contains(QLatin1String("does not support propagateSizeHints()"))) return;
  if (qt_handler) qt_handler(type, context, message);
}

// Qt keeps per-user runtime files under XDG_RUNTIME_DIR and warns on
// every start where it is not set: the program then gets a private folder
// of its own, zema-runtime-UID under TMPDIR (else /tmp), made with mode
// 0700 or reused when it is already that user's 0700 folder. A folder that
// cannot be had so is left alone, and Qt chooses.
void give_runtime_folder() {
  if (const char* set = std::getenv("XDG_RUNTIME_DIR"); set && *set) return;
  const char* tmp = std::getenv("TMPDIR");
  std::string base = tmp && *tmp ? tmp : "/tmp";
  while (base.size() > 1 && base.back() == '/') base.pop_back();
  const uid_t uid = ::getuid();
  const std::string folder = base + "/zema-runtime-" + std::to_string(uid);
  if (::mkdir(folder.c_str(), 0700) != 0 && errno != EEXIST) return;
  struct stat st {};
  if (::lstat(folder.c_str(), &st) != 0 || !S_ISDIR(st.st_mode) || st.st_uid != uid || (st.st_mode & 0777) != 0700)
    return;
  ::setenv("XDG_RUNTIME_DIR", folder.c_str(), 1);
}

}  // namespace

bool apply_command_line(const std::vector<std::string>& args, Settings* settings, std::string* error) {
  if (!settings->process(args, error)) return false;
  settings->validate();
  if (const FontPair* pair = settings->font_pair()) use_font_pair(*pair);
  return true;
}

int run_program(int argc, char** argv) {
  give_runtime_folder();
  qt_handler = qInstallMessageHandler(quiet_offscreen_messages);
  QApplication app(argc, argv);
  QApplication::setApplicationName("ZEMASupport4");
  QApplication::setQuitOnLastWindowClosed(false);
  install_test_hooks();

  std::string problem;
  const int packaged_kb = check_packaged_ws(&problem);
  if (!problem.empty()) {
    // ZEMA_PLAY names a file that is no sound package.
    ShowMessageBox(problem, "ZEMA Error", kErrorIcon);
    return 1;
  }
  if (packaged_kb == 0) {
    ShowMessageBox("This program cannot run as a standalone application.", "ZEMA Support", kErrorIcon);
    return 0;
  }

  Settings settings;
  std::vector<std::string> args(argv + 1, argv + argc);
  std::string error;
  if (!apply_command_line(args, &settings, &error)) {
    ShowMessageBox(error, "ZEMA Error", kErrorIcon);
    return 1;
  }
  const std::int64_t ws_kb = packaged_kb > 0 ? packaged_kb : settings.number("wssize");
  if (ws_kb < kMinWsKB) {
    ShowMessageBox("Invalid WS size (less than 100 KB). Program aborted", "ZEMA Error", kErrorIcon);
    return 1;
  }

  int status = 0;
  LocalTask::Front front;
  front.session_output = session_sink();
  front.ended = [&](int s) {
    status = s;
    QApplication::exit(s);
  };
  // The session window, made below, takes the output, the input requests
  // and the ⎕CC and cursor requests; it outlives the task's thread.
  QPointer<TAPLSessionWin> session;
  LocalTask* task_of_window = nullptr;
  TestInput test_input = read_test_input();
  front.session_text = [&](const std::string& text, bool overwrite) {
    if (!session || !task_of_window) return;
    if (!task_of_window->noEcho) {
      session->overwrite = overwrite;
      session->AppendSession(text.c_str());
      session->overwrite = false;
    }
    if (task_of_window->hardCopyMode == 1) write_printer(text.c_str(), 1);
  };
  front.line_requested = [&] {
    if (!session || !task_of_window) return;
    session->InputRequested();
    if (task_of_window->shell) task_of_window->shell->BroadcastMsg(0xffff, 203, 0, nullptr);
    if (test_input.active) {
      if (test_input.next < test_input.lines.size()) {
        const std::string line = test_input.lines[test_input.next++];
        type_line(session, line);
      } else {
        task_of_window->RequestQuit();
      }
    }
  };
  front.quad_cc = [&](int code) {
    if (session && task_of_window) session->QuadCC(code, task_of_window->hardCopyMode == 1);
  };
  front.cursor = [&](int column, int line) {
    if (session) session->CursorAdd(column, line);
  };
  front.closing = [&] { dump_session(session); };
  front.line_taken = [&] {
    if (task_of_window && task_of_window->shell) task_of_window->shell->BroadcastMsg(0xffff, 202, 0, nullptr);
  };
  // The colour travels with the output, on the GUI thread.
  front.error_colour = [&](bool on) {
    if (session) session->colour_state = on ? 2 : 1;
  };
  // Task thread; the window is deleted only after the thread has ended.
  TAPLSessionWin* window_for_task = nullptr;
  front.keystroke = [&]() -> int { return window_for_task ? window_for_task->GetOneKeystroke() : 3; };
  LocalTask task(std::move(front));
  if (!task.AllocateTaskMemory(double(ws_kb) * 1024)) {
    ShowMessageBox("Cannot create initial APL task", "ZEMA Error", kErrorIcon);
    return 1;
  }
  char cwd[4096];
  std::string ws_directory = ::getcwd(cwd, sizeof cwd) ? std::string(cwd) + "/" : std::string();
  // The task's two temporary files ()COPY), removed when the program ends.
  TaskTempFiles temps;
  task.names = settings.names(temps.first(), temps.second());
  task.names.ws_directory = ws_directory;
  task.prefs = settings.prefs();

  // The session manager: the live settings, the desktop and
  // application-data files (read now, written back when the task has
  // ended; a missing file reads as empty), the task's shell at the head of
  // the chain and the shared find dialog.
  set_live_settings(&settings);
  if (!initialise_printer_lock()) {
    ShowMessageBox("Cannot create lock to control printing", "ZEMA Error", kErrorIcon);
    return 1;
  }
  install_quadhc_handler();
  MemIniFile desktop(settings.desktop_file().empty() ? get_home_path(".zema_desktop") : settings.desktop_file());
  MemIniFile appdata(get_home_path(".zema_appdata"));
  desktop.Load();
  appdata.Load();
  gDesktopFile = &desktop;
  gAppDataFile = &appdata;
  APLShell shell(&task);
  shell.AppendToChain();
  // The task's ⎕WI System object, made and used on this thread; the task
  // deletes it with its tree when it ends.
  register_qwi_visual_classes();
  try {
    task.system = new QwiSystem(&task);
  } catch (const std::bad_alloc&) {
    ShowMessageBox("Out of memory - Cannot create system object", "ZEMA Error", kErrorIcon);
    return -1;
  }
  find_dialog();
  // The session window, titled with the package's file name: hidden until
  // the application writes something or asks for input.
  const char* play = std::getenv("ZEMA_PLAY");
  const std::string title =
      unicode_to_font_text(QString::fromStdString(executable_name_of(play && *play ? play : get_executable_name())));
  session = new TAPLSessionWin(title, &task);
  window_for_task = session;
  task_of_window = &task;
  shell.session_window = session;
  shell.AddWindowToShell(session);
  session->submit_line = [&task](const std::string& line) { return task.ExecuteInputLine(line); };
  session->attention = [&task] { task.Interrupt(); };
  session->print_hard_copy = [](const std::string& text) { write_printer(text.c_str(), 1); };
  // Exit and closing the window ask the task to quit; a task waiting for
  // input is woken to do so.
  session->quit_task = [w = session](APLTask* t) {
    if (auto* local = dynamic_cast<LocalTask*>(t)) local->RequestQuit();
    // A task waiting for a single key is not left waiting.
    if (w) w->CloseKeystrokes();
  };
  for (const int msg : {103, 104, 102, 105, 101}) shell.BroadcastMsg(0xffff, msg, 0, nullptr);

  // The attention tick: pending output reaches the session at least every
  // 200 ms while the interpreter runs.
  QTimer tick;
  QObject::connect(&tick, &QTimer::timeout, [&task] { task.Tick(); });
  tick.start(200);

  task.Start();
  QApplication::exec();
  task.Join();
  window_for_task = nullptr;
  if (task.system) {
    // A task that never reached its closing step.
    task.system->ClearEventQueue();
    task.system->DeleteYourself();
    delete task.system;
    task.system = nullptr;
  }
  close_qhc();
  shell.CloseAllWindows();
  // The closed windows are deleted now, before the objects they use.
  QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
  delete APLFindDialog;
  gDesktopFile = nullptr;
  gAppDataFile = nullptr;
  for (const MemIniFile* f : {&desktop, &appdata}) {
    std::string problem_saving;
    if (!f->path().empty() && !f->Save(&problem_saving)) std::fprintf(stderr, "%s\n", problem_saving.c_str());
  }
  set_live_settings(nullptr);
  return status;
}

}  // namespace zema
