// Shell commands for )HOST, ⎕HOST and the remote server's host command.
//
// The command runs as `$SHELL -c COMMAND` (bash when SHELL is unset) in a
// process group of its own, so that a stop kills whatever the shell started
// as well. Its standard input is /dev/null: a command that reads input sees
// the end at once instead of waiting for the time limit. Its standard
// output and error come back through one pipe that is read without blocking
// while the task watches for attentions and for the quiet-time limit.
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "host/charset.h"
#include "host/clock.h"
#include "host/services.h"
#include "host/task.h"

extern char** environ;

namespace zema {

namespace {

constexpr int kNoPipe = -68;       // FILE I/O ERROR: no pipe, or no command could be started
constexpr int kNoRoom = -4;        // WS FULL: the output does not fit
constexpr int kInterrupted = -120; // INTERRUPT
constexpr int kNotFound = 127;     // the shell's status for a command it cannot find

// Reads what the pipe holds now into `block`; answers the count, 0 when
// nothing is waiting, −1 at the end of the output.
ssize_t read_some(int fd, char* block, std::size_t room) {
  for (;;) {
    const ssize_t n = ::read(fd, block, room);
    if (n > 0) return n;
    if (n == 0) return -1;
    if (errno == EINTR) continue;
    if (errno == EAGAIN || errno == EWOULDBLOCK) return 0;
    return -1;
  }
}

// Where the output goes: the session, or the caller's area in internal
// characters while the count stays below `room`.
struct Sink {
  char* out;
  int room;
  int count = 0;
  int error = 0;

  bool held_cr = false;  // session: a block's final CR, whose LF may open the next

  // Takes `n` bytes of host characters (`block` has room for one more);
  // false once they did not fit.
  bool take(char* block, ssize_t n) {
    if (!out) {
      // A CR LF pair split between two blocks is one line end.
      ssize_t at = 0;
      if (held_cr) {
        held_cr = false;
        if (n > 0 && block[0] == '\n') ++at;
        line_send("\r\n");
      }
      if (n > at && block[n - 1] == '\r') {
        held_cr = true;
        --n;
      }
      // The session takes C strings: each run between NUL bytes is sent
      // by itself (a NUL has no character to show), so nothing after a NUL
      // in the block is lost.
      block[n] = 0;
      while (at < n) {
        const std::size_t run = std::strlen(block + at);
        if (run) line_send(block + at);
        at += static_cast<ssize_t>(run) + 1;
      }
      return true;
    }
    if (static_cast<long long>(count) + n >= room) {
      error = kNoRoom;
      return false;
    }
    for (ssize_t i = 0; i < n; ++i) out[count++] = static_cast<char>(fontin(static_cast<std::uint8_t>(block[i])));
    return true;
  }
};

}  // namespace

int exec_cmd(char* command, char* output, int size, int time_limit) {
  if (APLTask* t = find_my_task()) t->FlushOutput();
  // A leading ↓ or ↑ is not part of the command.
  if (static_cast<std::uint8_t>(*command) == 0x55 || static_cast<std::uint8_t>(*command) == 0x59) ++command;
  for (char* p = command; *p; ++p) *p = static_cast<char>(fontout(static_cast<std::uint8_t>(*p)));

  int pipe_fds[2];
  if (::pipe2(pipe_fds, O_CLOEXEC) != 0) {
    line_send("cannot create pipe\n");
    return kNoPipe;
  }
  const char* shell = std::getenv("SHELL");
  if (!shell || !*shell) shell = "bash";

  posix_spawn_file_actions_t actions;
  posix_spawnattr_t attributes;
  ::posix_spawn_file_actions_init(&actions);
  ::posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
  ::posix_spawn_file_actions_adddup2(&actions, pipe_fds[1], 1);
  ::posix_spawn_file_actions_adddup2(&actions, pipe_fds[1], 2);
  ::posix_spawnattr_init(&attributes);
  ::posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETPGROUP | POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF);
  ::posix_spawnattr_setpgroup(&attributes, 0);
  sigset_t none, all;
  sigemptyset(&none);
  sigfillset(&all);
  ::posix_spawnattr_setsigmask(&attributes, &none);
  ::posix_spawnattr_setsigdefault(&attributes, &all);
  char dash_c[] = "-c";
  char* argv[] = {const_cast<char*>(shell), dash_c, command, nullptr};
  pid_t pid = -1;
  const int spawn_error = ::posix_spawnp(&pid, shell, &actions, &attributes, argv, environ);
  ::posix_spawn_file_actions_destroy(&actions);
  ::posix_spawnattr_destroy(&attributes);
  ::close(pipe_fds[1]);
  if (spawn_error != 0) {
    ::close(pipe_fds[0]);
    return kNoPipe;
  }
  const int from_child = pipe_fds[0];
  ::fcntl(from_child, F_SETFL, ::fcntl(from_child, F_GETFL) | O_NONBLOCK);

  Sink sink{output, size};
  char block[512];
  const std::uint64_t limit_ms = time_limit > 0 ? static_cast<std::uint64_t>(time_limit) * 1000 : 0;
  std::uint64_t quiet_since = monotonic_ms();
  bool output_open = true;
  bool stopped = false;
  int status = 0;
  auto stop = [&](int error) {
    if (!stopped) ::kill(-pid, SIGKILL);
    stopped = true;
    if (error && !sink.error) sink.error = error;
  };

  for (;;) {
    if (output_open && !sink.error) {
      const ssize_t n = read_some(from_child, block, sizeof block - 1);
      if (n < 0) {
        output_open = false;
      } else if (n > 0) {
        quiet_since = monotonic_ms();
        if (!sink.take(block, n)) stop(0);
      }
    }
    if (!stopped && check_event_attention()) {
      APLTask* t = find_my_task();
      if (!t || t->attnEnabled) stop(kInterrupted);
    }
    if (!stopped && limit_ms && monotonic_ms() - quiet_since > limit_ms) stop(0);
    const pid_t done = ::waitpid(pid, &status, WNOHANG);
    if (done == pid || (done < 0 && errno != EINTR)) break;
    pollfd p{from_child, POLLIN, 0};
    ::poll(&p, output_open && !sink.error ? 1 : 0, 10);
  }

  // What the command wrote before it ended.
  while (output_open && !sink.error) {
    const ssize_t n = read_some(from_child, block, sizeof block - 1);
    if (n <= 0) break;
    if (!sink.take(block, n)) break;
  }
  if (sink.held_cr) line_send("\r");
  ::close(from_child);
  // A stopped shell may have left a child behind that holds nothing of
  // ours any more; the group is killed once more for it.
  if (stopped) ::kill(-pid, SIGKILL);

  if (!output) {
    if (APLTask* t = find_my_task()) t->FlushOutput();
  } else if (sink.count > 0 && output[sink.count - 1] == 0x0D) {
    --sink.count;
  }
  if (sink.error) return sink.error;
  if (!stopped && WIFEXITED(status) && WEXITSTATUS(status) == kNotFound) return kNoPipe;
  return sink.count;
}

}  // namespace zema
