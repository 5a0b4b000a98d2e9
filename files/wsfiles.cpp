// Workspace files, the )LIB listing, library directories and the task's
// sequential file, over POSIX calls.
//
// Paths arrive as host strings (display-font bytes). Before any of them reaches
// the system, a leading remote marker (↑ or ↓) is dropped and a leading "~" is
// replaced by the home directory.
#include "files/wsfiles.h"

#include <dirent.h>
#include <fcntl.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <new>
#include <string>
#include <vector>

#include "host/charset.h"
#include "host/services.h"
#include "host/task.h"
#include "interpreter/entry.h"
#include "interpreter/sysvars.h"

namespace zema {

namespace {

constexpr int kOk = 0;
constexpr int kNotFound = 1;
constexpr int kIoError = 3;
constexpr int kEndOfFile = 5;
constexpr int kNotWorkspace = 7;
constexpr int kNoMemory = 68;

constexpr std::uint8_t kInternalUpArrow = 0x59;
constexpr std::uint8_t kInternalDownArrow = 0x55;
constexpr std::uint8_t kInternalBlank = 0x20;
constexpr std::uint8_t kInternalReturn = 0x0D;

// Room of the library-directory buffer that the interpreter passes.
constexpr std::size_t kLibraryBufferSize = 516;

// )LIB keeps at most this many names, in a name area of this many bytes, and
// stops taking names when less than kNameAreaReserve bytes of it are free.
// When it has to stop before the directory ends, the listing is printed
// unsorted, in directory order, straight from a second pass.
constexpr std::size_t kMaxListedNames = 300;
constexpr std::size_t kNameArea = 6000;
constexpr std::size_t kNameAreaReserve = 512;
constexpr int kLibFieldWidth = 12;

void record_errno(int e) { get_server_side_task_vars()->last_errno = e; }

std::string home_directory() {
  if (const char* home = std::getenv("HOME"); home && *home) return home;
  long room = ::sysconf(_SC_GETPW_R_SIZE_MAX);
  std::vector<char> buffer(room > 0 ? static_cast<std::size_t>(room) : 16384);
  passwd entry{};
  passwd* found = nullptr;
  if (::getpwuid_r(::geteuid(), &entry, buffer.data(), buffer.size(), &found) == 0 && found && found->pw_dir)
    return found->pw_dir;
  return {};
}

// The path the system is given for an interpreter path. "~" stands for the
// home directory with its "/", so "~NAME.aws" and "~/NAME.aws" both name a
// file in it. Without a known home directory the path is left as it is.
std::string host_path(const char* path) {
  if (!path) return {};
  const auto first = static_cast<std::uint8_t>(path[0]);
  if (first != 0 && (first == fontout(kInternalUpArrow) || first == fontout(kInternalDownArrow))) ++path;
  if (path[0] != '~') return path;
  std::string home = home_directory();
  if (home.empty()) return path;
  if (home.back() != '/') home += '/';
  const char* rest = path + 1;
  if (*rest == '/') ++rest;
  return home + rest;
}

// Reads until `count` bytes have come or the file ends: the number read, or
// -1 with errno set.
std::int64_t read_fully(int fd, std::uint8_t* buffer, std::uint32_t count) {
  std::uint32_t done = 0;
  while (done < count) {
    ssize_t n = ::read(fd, buffer + done, count - done);
    if (n < 0) {
      if (errno == EINTR) continue;
      return -1;
    }
    if (n == 0) break;
    done += static_cast<std::uint32_t>(n);
  }
  return done;
}

// Writes all `count` bytes: true, or false with errno set.
bool write_fully(int fd, const std::uint8_t* buffer, std::uint32_t count) {
  std::uint32_t done = 0;
  while (done < count) {
    ssize_t n = ::write(fd, buffer + done, count - done);
    if (n < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    if (n == 0) {
      errno = ENOSPC;
      return false;
    }
    done += static_cast<std::uint32_t>(n);
  }
  return true;
}

// The header check of a workspace read: byte 6 (the ⎕WSID length, signed)
// must be 1-11; the marker bytes 2-3 "22" or "33" accept the image, "dd"
// rejects it; any other marker is accepted only for an image whose first two
// bytes, read most significant first, are below 800. Fewer than 7 bytes
// cannot be checked and are refused.
bool looks_like_workspace(const std::uint8_t* h, std::uint32_t count) {
  if (count < 7) return false;
  const auto wsid_length = static_cast<std::int8_t>(h[6]);
  if (wsid_length < 1 || wsid_length > 11) return false;
  if (h[2] == h[3] && (h[2] == 0x32 || h[2] == 0x33)) return true;
  if (h[2] == 0x64 && h[3] == 0x64) return false;
  return h[0] * 256 + h[1] < 800;
}

std::string installed_ws_directory() { return installation_directory() + "ws/"; }

// The ".aws" entries of one directory, extension removed, optionally only
// those whose first character is `first`.
class WsDirectory {
 public:
  WsDirectory(const std::string& path, int first) : dir_(::opendir(path.c_str())), first_(first) {}
  ~WsDirectory() {
    if (dir_) ::closedir(dir_);
  }
  WsDirectory(const WsDirectory&) = delete;
  WsDirectory& operator=(const WsDirectory&) = delete;

  bool is_open() const { return dir_ != nullptr; }

  // The next name into `name`; false at the end of the directory.
  bool next(std::string& name) {
    while (dirent* entry = ::readdir(dir_)) {
      const std::size_t length = std::strlen(entry->d_name);
      if (length < 5 || std::strcmp(entry->d_name + length - 4, ".aws") != 0) continue;
      if (first_ != 0 && static_cast<std::uint8_t>(entry->d_name[0]) != first_) continue;
      name.assign(entry->d_name, length - 4);
      return true;
    }
    return false;
  }

 private:
  DIR* dir_;
  int first_;
};

// Prints names in fields of 12 columns, starting a new line before a name
// once the column has passed ⎕PW − 12; a name of 12 or more characters takes
// its length + 1 columns.
class LibPrinter {
 public:
  LibPrinter(int pw, Ws ws) : pw_(pw), ws_(ws) {}

  void put(const std::string& name) {
    if (column_ > 0 && column_ > pw_ - kLibFieldWidth) {
      sup_snd1c(kInternalReturn, ws_);
      column_ = 0;
    }
    field_.clear();
    for (char c : name) field_.push_back(static_cast<char>(fontin(static_cast<std::uint8_t>(c))));
    const std::size_t width = name.size() >= kLibFieldWidth ? name.size() + 1 : kLibFieldWidth;
    field_.resize(width, static_cast<char>(kInternalBlank));
    sup_lnout(static_cast<int>(field_.size()), field_.data(), ws_);
    column_ += static_cast<int>(width);
  }

  void end() { sup_snd1c(kInternalReturn, ws_); }

 private:
  int pw_;
  Ws ws_;
  int column_ = 0;
  std::string field_;
};

int open_failure_code(int e) { return e == ENOENT || e == 0 ? kNotFound : kIoError; }

}  // namespace

// ---- workspace files ------------------------------------------------------------

std::int64_t size_ws(const char* path) {
  const std::string p = host_path(path);
  int fd = ::open(p.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) {
    record_errno(errno);
    return -1;
  }
  struct stat info {};
  off_t end = -1;
  int e = 0;
  if (::fstat(fd, &info) != 0)
    e = errno;
  else if (S_ISDIR(info.st_mode))
    e = EISDIR;
  else if ((end = ::lseek(fd, 0, SEEK_END)) < 0)
    e = errno;
  ::close(fd);
  if (e != 0) {
    record_errno(e);
    return -1;
  }
  return end;
}

int read_ws(const char* path, std::uint32_t count, std::uint8_t* destination) {
  const std::string p = host_path(path);
  errno = 0;
  int fd = ::open(p.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) {
    const int e = errno;
    record_errno(e);
    return open_failure_code(e);
  }
  const std::int64_t got = read_fully(fd, destination, count);
  const int e = errno;
  ::close(fd);
  if (got < 0) {
    record_errno(e);
    return kIoError;
  }
  // A file that ends early is not a workspace of the expected size.
  if (got < count) return kNotWorkspace;
  return looks_like_workspace(destination, count) ? kOk : kNotWorkspace;
}

// The new image goes to path + "~" and is flushed to the disk; only then does
// an atomic rename put it in the old file's place. Any failure leaves the old
// file untouched and removes the incomplete new one.
int write_ws(const char* path, std::uint32_t length, const std::uint8_t* source) {
  const std::string p = host_path(path);
  const std::string temporary = p + "~";
  int fd = ::open(temporary.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_NOFOLLOW | O_CLOEXEC, 0666);
  if (fd < 0) {
    record_errno(errno);
    return kIoError;
  }
  auto fail = [&](int e) {
    ::unlink(temporary.c_str());
    record_errno(e);
    return kIoError;
  };
  // Some file systems cannot sync; that alone is no reason to refuse the save.
  if (!write_fully(fd, source, length) || (::fsync(fd) != 0 && errno != EINVAL && errno != ENOTSUP)) {
    const int e = errno;
    ::close(fd);
    return fail(e);
  }
  if (::close(fd) != 0) return fail(errno);
  if (::rename(temporary.c_str(), p.c_str()) != 0) return fail(errno);
  return kOk;
}

int delete_ws(const char* path) {
  const std::string p = host_path(path);
  errno = 0;
  if (::unlink(p.c_str()) == 0) return kOk;
  const int e = errno;
  record_errno(e);
  return open_failure_code(e);
}

// ---- libraries ------------------------------------------------------------------

int print_lib(const char* directory, int option, Ws ws) {
  if (APLTask* task = find_my_task()) task->FlushOutput();
  const int first = (option & 0xFF) != 0 ? fontout(option) : 0;
  const int pw = rdi32(ws, sysvar_value_word(sysvar::PW));
  std::string path = host_path(directory);
  if (path.empty()) path = ".";

  try {
    std::vector<std::string> names;
    bool complete = true;
    {
      WsDirectory listing(path, first);
      if (!listing.is_open()) {
        const int e = errno;
        if (e == ENOENT) return kOk;
        record_errno(e);
        return kIoError;
      }
      names.reserve(kMaxListedNames);
      std::size_t used = 0;
      std::string name;
      for (;;) {
        if (names.size() >= kMaxListedNames || kNameArea - used < kNameAreaReserve) {
          complete = !listing.next(name);
          break;
        }
        if (!listing.next(name)) break;
        used += name.size() + 1;
        names.push_back(name);
      }
    }

    LibPrinter printer(pw, ws);
    if (complete) {
      std::sort(names.begin(), names.end());
      for (const std::string& name : names) printer.put(name);
    } else {
      names.clear();
      WsDirectory listing(path, first);
      if (!listing.is_open()) {
        record_errno(errno);
        return kIoError;
      }
      std::string name;
      while (listing.next(name)) printer.put(name);
    }
    printer.end();
  } catch (const std::bad_alloc&) {
    return kNoMemory;
  }
  return kOk;
}

void library_to_path(std::uint32_t library, char* buffer, Ws ws) {
  std::string dir;
  if (library == 99) {
    dir = "~";
  } else if (library <= 9) {
    const std::uint8_t* row = lowglobals(ws).mount[library];
    for (std::size_t i = 0; i < sizeof lowglobals(ws).mount[0]; ++i) dir.push_back(static_cast<char>(fontout(row[i])));
    const std::size_t start = dir.find_first_not_of(" \t");
    if (start == std::string::npos) {
      dir = get_names().ws_directory;
      if (dir.empty()) dir = installed_ws_directory();
    } else {
      dir = dir.substr(start, dir.find_last_not_of(" \t") + 1 - start);
    }
  } else {
    dir = installed_ws_directory();
  }
  if (!dir.empty() && dir.back() != '/') dir += '/';
  // The buffer is fixed; a directory too long for it is cut, never overrun.
  const std::size_t n = std::min(dir.size(), kLibraryBufferSize - 1);
  std::memcpy(buffer, dir.data(), n);
  buffer[n] = 0;
}

// ---- the sequential file ----------------------------------------------------------

namespace {
// Opening a sequential file closes one left open before it.
void forget_seq(ServerSideTaskVars* vars) {
  if (vars->seq_fd >= 0) ::close(vars->seq_fd);
  vars->seq_fd = -1;
}
}  // namespace

int open_seq(const char* path) {
  ServerSideTaskVars* vars = get_server_side_task_vars();
  forget_seq(vars);
  const std::string p = host_path(path);
  errno = 0;
  int fd = ::open(p.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) {
    const int e = errno;
    record_errno(e);
    return open_failure_code(e);
  }
  vars->seq_fd = fd;
  return kOk;
}

int create_seq(const char* path) {
  ServerSideTaskVars* vars = get_server_side_task_vars();
  forget_seq(vars);
  const std::string p = host_path(path);
  int fd = ::open(p.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
  if (fd < 0) {
    record_errno(errno);
    return kIoError;
  }
  vars->seq_fd = fd;
  return kOk;
}

// Fewer bytes than asked for means the end of the file; the bytes that did
// come are in the buffer.
int read_seq(std::uint32_t count, std::uint8_t* buffer) {
  ServerSideTaskVars* vars = get_server_side_task_vars();
  if (vars->seq_fd < 0) {
    record_errno(EBADF);
    return kIoError;
  }
  const std::int64_t got = read_fully(vars->seq_fd, buffer, count);
  if (got < 0) {
    record_errno(errno);
    return kIoError;
  }
  return got < count ? kEndOfFile : kOk;
}

int write_seq(std::uint32_t count, const std::uint8_t* buffer) {
  ServerSideTaskVars* vars = get_server_side_task_vars();
  if (vars->seq_fd < 0) {
    record_errno(EBADF);
    return kIoError;
  }
  if (!write_fully(vars->seq_fd, buffer, count)) {
    record_errno(errno);
    return kIoError;
  }
  return kOk;
}

// The descriptor is given up whatever close answers.
int close_seq() {
  ServerSideTaskVars* vars = get_server_side_task_vars();
  if (vars->seq_fd < 0) return kOk;
  const int result = ::close(vars->seq_fd);
  vars->seq_fd = -1;
  if (result != 0) {
    record_errno(errno);
    return kIoError;
  }
  return kOk;
}

std::string latest_error_afl() { return error_text(get_server_side_task_vars()->last_afl_errno); }

}  // namespace zema
