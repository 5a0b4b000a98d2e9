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

namespace {

zema::ConsoleTask* g_task = nullptr;

void on_sigint(int) {
  if (g_task) g_task->attnPending = true;
}

int usage() {
  std::fputs("usage: zema-console [--echo] [--input-marker] [--interrupt-polls N[,N…]] [OPTION VALUE]... [FILE]\n", stderr);
  return 2;
}

}  // namespace

int main(int argc, char** argv) {
  zema::ConsoleTask::Options options;
  const char* file = nullptr;
  // The driver's own options and FILE; everything else is the program's
  // command line, read by the settings.
  std::vector<std::string> program_args;
  for (int i = 1; i < argc; ++i) {
    std::string a = argv[i];
    if (a == "--echo") {
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

  zema::ConsoleTask task(in, stdout, options);
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

  zema::set_current_apl_task(&task);
  int status = 0;
  try {
    zema::apl(task.Memory(), task.MemorySize(), "", &task.wsBase, 1);
  } catch (const zema::TaskEnded& e) {
    status = e.status;
  }
  zema::set_current_apl_task(nullptr);
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
