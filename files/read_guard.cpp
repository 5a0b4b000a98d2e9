// Guarded reads of mapped files: see read_guard.h. One SIGBUS handler for
// the process, installed at the first guarded read; each thread arms it for
// the range it reads, and a fault inside that range jumps back to the
// guarded_read that armed it.
#include "files/read_guard.h"

#include <setjmp.h>
#include <signal.h>
#include <unistd.h>

#include <cstdint>
#include <mutex>

namespace zema {

namespace {

constexpr int kNotWorkspace = 7;

struct Guard {
  sigjmp_buf jump;
  std::uintptr_t low, high;
};

thread_local Guard* armed = nullptr;
struct sigaction previous_action;
std::once_flag handler_installed;

void on_bus_error(int signal, siginfo_t* info, void* context) {
  Guard* g = armed;
  const auto at = reinterpret_cast<std::uintptr_t>(info->si_addr);
  if (g && info->si_code == BUS_ADRERR && at >= g->low && at < g->high) siglongjmp(g->jump, 1);
  // Not a guarded read: whatever handled SIGBUS before this handler.
  if (previous_action.sa_flags & SA_SIGINFO) {
    previous_action.sa_sigaction(signal, info, context);
  } else if (previous_action.sa_handler != SIG_DFL && previous_action.sa_handler != SIG_IGN) {
    previous_action.sa_handler(signal);
  } else {
    // On return the faulting instruction runs again and the default action
    // ends the process, as it would have without this handler.
    ::signal(SIGBUS, SIG_DFL);
  }
}

void install_handler() {
  struct sigaction action {};
  action.sa_sigaction = on_bus_error;
  action.sa_flags = SA_SIGINFO;
  sigemptyset(&action.sa_mask);
  ::sigaction(SIGBUS, &action, &previous_action);
}

}  // namespace

int guarded_read(const std::uint8_t* bytes, std::size_t count, void (*work)(void*), void* context) {
  std::call_once(handler_installed, install_handler);
  // A fault is reported for the page, anywhere in it: the range is taken to
  // the end of its last page.
  const auto page = static_cast<std::uintptr_t>(::sysconf(_SC_PAGESIZE));
  Guard guard;
  guard.low = reinterpret_cast<std::uintptr_t>(bytes);
  guard.high = (guard.low + count + page - 1) / page * page;
  Guard* const outer = armed;
  if (sigsetjmp(guard.jump, 1) != 0) {
    armed = outer;
    return kNotWorkspace;
  }
  armed = &guard;
  work(context);
  armed = outer;
  return 0;
}

}  // namespace zema
