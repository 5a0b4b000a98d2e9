// zema-console: runs one interpreter task with no window and no packaged-mode
// rules, over standard streams. Test tooling, not part of the program.
//
//   zema-console [--echo] [--input-marker] [--interrupt-polls N[,N…]] [OPTION VALUE]... [FILE]
//
// The OPTIONs are the program's own (-wssize KB, -xrm LINE, -id N, …); an
// unknown option, or a number option or -xrm number setting that is not a
// number, ends the driver with a message and status 1.
//
// Input lines come from FILE or standard input (UTF-8); session output goes
// to standard output (UTF-8). End of input ends the task with status 0; a
// FILE that cannot be read ends it with a message and status 1. Ctrl+C is
// an attention. Typed at a terminal, each input line is asked for with its
// prompt. A size above the largest workspace is refused. --input-marker and
// --interrupt-polls serve the transcript tests: the first announces each
// input request, the second raises two attentions at the Nth attention poll
// of the first input line that gets that far (each N of a list in turn).
//
// --wi: the session uses ⎕WI. The driver then runs as zema-console-wi (the
// same driver built with the ⎕WI object system, beside this one; it is a
// separate program so that a plain run does not load Qt): a QApplication
// on the main thread (platform offscreen unless QT_QPA_PLATFORM is set)
// holds the task's ⎕WI objects, and the interpreter runs on a thread of
// its own, as in the program.
#include <pthread.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "host/paths.h"
#include "host/settings.h"
#include "host/task.h"
#include "host/temp_files.h"
#include "interpreter/session/life.h"
#include "interpreter/workspace/entry.h"
#include "interpreter/workspace/workspace.h"
#include "tools/console_task.h"

#ifdef ZEMA_CONSOLE_WI
#include <QApplication>
#include <QMetaObject>

#include <thread>

#include "tools/console_wi_task.h"
#include "wi/qwi_button.h"
#include "wi/qwi_system.h"
#endif

namespace {

zema::ConsoleTask* g_task = nullptr;

void on_sigint(int) {
  if (g_task) g_task->attnPending = true;
}

int usage() {
  std::fputs("usage: zema-console [--wi] [--echo] [--input-marker] [--interrupt-polls N[,N…]] [OPTION VALUE]... [FILE]\n",
             stderr);
  return 2;
}

// Runs the interpreter on the calling thread until the task ends: its
// status.
int run_interpreter(zema::ConsoleTask& task) {
  zema::set_current_apl_task(&task);
  int status = 0;
  try {
    zema::apl(task.Memory(), task.MemorySize(), "", &task.wsBase, 1);
  } catch (const zema::TaskEnded& e) {
    status = e.status;
  }
  zema::set_current_apl_task(nullptr);
  return status;
}

#ifndef ZEMA_CONSOLE_WI
// --wi: the same command line goes to zema-console-wi, beside this program.
int run_wi_driver(char** argv) {
  char self[4096];
  const ssize_t n = ::readlink("/proc/self/exe", self, sizeof self - 1);
  if (n <= 0) {
    std::fprintf(stderr, "zema-console: cannot find zema-console-wi: %s\n", std::strerror(errno));
    return 1;
  }
  self[n] = '\0';
  std::string path(self);
  path = path.substr(0, path.rfind('/') + 1) + "zema-console-wi";
  ::execv(path.c_str(), argv);
  std::fprintf(stderr, "zema-console: cannot run %s: %s\n", path.c_str(), std::strerror(errno));
  return 1;
}
#endif

}  // namespace

int main(int argc, char** argv) {
  zema::ConsoleTask::Options options;
  const char* file = nullptr;
  // The driver's own options and FILE; everything else is the program's
  // command line, read by the settings.
  std::vector<std::string> program_args;
  for (int i = 1; i < argc; ++i) {
    std::string a = argv[i];
    if (a == "--wi") {
#ifndef ZEMA_CONSOLE_WI
      return run_wi_driver(argv);
#endif
    } else if (a == "--echo") {
      options.echo = true;
    } else if (a == "--input-marker") {
      options.input_marker = true;
    } else if (a == "--interrupt-polls") {
      if (++i >= argc) return usage();
      // N or N,N,…: each used in turn.
      for (const char* p = argv[i]; *p;) {
        char* end = nullptr;
        const unsigned long n = std::strtoul(p, &end, 10);
        if (end == p) return usage();
        if (n) options.interrupt_polls.push_back(static_cast<unsigned>(n));
        p = *end == ',' ? end + 1 : end;
        if (*end && *end != ',') return usage();
      }
    } else if (a.size() > 1 && a[0] == '-') {
      program_args.push_back(a == "--wssize" ? "-wssize" : a);
      if (i + 1 < argc) program_args.push_back(argv[++i]);
    } else if (!file) {
      file = argv[i];
    } else {
      return usage();
    }
  }
  zema::Settings settings;
  std::string error;
  if (!settings.process(program_args, &error)) {
    std::fprintf(stderr, "zema-console: %s\n", error.c_str());
    return 1;
  }
  settings.validate();
  if (const zema::FontPair* pair = settings.font_pair()) zema::use_font_pair(*pair);
  const std::int32_t ws_setting = settings.number("wssize");
  if (ws_setting < 0) {
    std::fprintf(stderr, "Invalid WS size: %d\n", ws_setting);
    return 1;
  }
  const unsigned long long ws_kb = static_cast<unsigned long long>(ws_setting);
  if (ws_kb < zema::kMinWsKB) {
    std::fprintf(stderr, "Invalid WS size (less than %u KB). Program aborted\n", zema::kMinWsKB);
    return 1;
  }

  constexpr unsigned long long largest_kb = zema::ConsoleTask::kLargestWorkspace / 1024;
  if (ws_kb > largest_kb) {
    std::fprintf(stderr, "Invalid WS size (more than %llu KB). Program aborted\n", largest_kb);
    return 1;
  }

  std::FILE* in = stdin;
  if (file) {
    in = std::fopen(file, "rb");
    if (!in) {
      std::fprintf(stderr, "zema-console: cannot open %s: %s\n", file, std::strerror(errno));
      return 1;
    }
    struct stat st {};
    if (::fstat(::fileno(in), &st) == 0 && S_ISDIR(st.st_mode)) {
      std::fprintf(stderr, "zema-console: cannot read %s: %s\n", file, std::strerror(EISDIR));
      std::fclose(in);
      return 1;
    }
  }
  options.terminal = !options.input_marker && ::isatty(::fileno(in));

#ifdef ZEMA_CONSOLE_WI
  // Ctrl+C is for the interpreter's thread alone (its wait for a line must
  // be the read it ends): blocked here before any thread starts, and let
  // through again on that thread.
  sigset_t interrupt;
  sigemptyset(&interrupt);
  sigaddset(&interrupt, SIGINT);
  pthread_sigmask(SIG_BLOCK, &interrupt, nullptr);
  if (!qEnvironmentVariableIsSet("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  int app_argc = 1;
  char* app_argv[] = {argv[0], nullptr};
  QApplication app(app_argc, app_argv);
  QApplication::setQuitOnLastWindowClosed(false);
  zema::ConsoleWiTask task(in, stdout, options);
#else
  zema::ConsoleTask task(in, stdout, options);
#endif
  if (!task.AllocateTaskMemory(ws_kb * 1024)) {
    std::fprintf(stderr, "Cannot allocate a workspace of %llu KB. Program aborted\n", ws_kb);
    return 1;
  }
  char cwd[4096];
  if (::getcwd(cwd, sizeof cwd)) task.names.ws_directory = std::string(cwd) + "/";
  // Two fresh temporary files that no other process can foresee; removed
  // when the task ends.
  zema::TaskTempFiles temps;
  const std::string ws_directory = task.names.ws_directory;
  task.names = settings.names(temps.first(), temps.second());
  task.names.ws_directory = ws_directory;
  task.prefs = settings.prefs();

  g_task = &task;
  struct sigaction sa {};
  sa.sa_handler = on_sigint;
  sigemptyset(&sa.sa_mask);
  sigaction(SIGINT, &sa, nullptr);

#ifdef ZEMA_CONSOLE_WI
  // The ⎕WI objects on this thread, the interpreter on its own; when it
  // ends, the objects go and the application's loop with them.
  zema::register_qwi_visual_classes();
  task.system = new zema::QwiSystem(&task);
  int status = 0;
  std::thread interpreter([&] {
    pthread_sigmask(SIG_UNBLOCK, &interrupt, nullptr);
    status = run_interpreter(task);
    QMetaObject::invokeMethod(
        &app,
        [&task] {
          task.CloseDownWi();
          QCoreApplication::quit();
        },
        Qt::QueuedConnection);
  });
  QApplication::exec();
  interpreter.join();
#else
  const int status = run_interpreter(task);
#endif
  g_task = nullptr;
  std::fflush(stdout);
  if (in != stdin) std::fclose(in);
  if (task.ReadError()) {
    std::fprintf(stderr, "zema-console: cannot read %s: %s\n", file ? file : "standard input",
                 std::strerror(task.ReadError()));
    return 1;
  }
  return status;
}
