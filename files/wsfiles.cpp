// Workspace files, the )LIB listing, library directories and the task's
// sequential file, over POSIX calls.
//
// Paths arrive as host strings (display-font bytes). Before any of them reaches
// the system, a leading remote marker (↑ or ↓) is dropped and a leading "~" is
// replaced by the home directory.
#include "files/wsfiles.h"
#include "files/packaged.h"
#include "files/read_guard.h"

#include <dirent.h>
#include <fcntl.h>
#include <pwd.h>
#include <signal.h>
#include <sys/mman.h>
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

namespace zema {

namespace {

constexpr int kOk = 0;
constexpr int kNotFound = 1;
constexpr int kIoError = 3;
constexpr int kEndOfFile = 5;
constexpr int kNotWorkspace = 7;
constexpr int kNoMemory = 68;
constexpr int kTooLarge = 9;
constexpr int kExists = 2;

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

// Characters in a ⎕MOUNT row.
constexpr std::size_t kMountRowSize = 260;

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

// The directory last chosen in a file selector of the calling task (each task
// runs on a thread of its own); empty until one is chosen.
thread_local std::string file_selector_directory;

// The path the system is given for an interpreter path. "~" stands for the
// file selector's directory when the task has chosen one, else the home
// directory, with its "/", so "~NAME.aws" and "~/NAME.aws" both name a file
// in it. Without either the path is left as it is.
std::string host_path(const char* path) {
  if (!path) return {};
  const auto first = static_cast<std::uint8_t>(path[0]);
  if (first != 0 && (first == fontout(kInternalUpArrow) || first == fontout(kInternalDownArrow))) ++path;
  if (path[0] != '~') return path;
  std::string home = file_selector_directory.empty() ? home_directory() : file_selector_directory;
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

// Lays out names in fields of 12 columns, starting a new line before a name
// once the column has passed ⎕PW − 12; a name of 12 or more characters takes
// its length + 1 columns.
class LibLayout {
 public:
  LibLayout(int pw, std::string& out) : pw_(pw), out_(out) {}

  void put(const std::string& name) {
    if (column_ > 0 && column_ > pw_ - kLibFieldWidth) {
      out_.push_back(static_cast<char>(kInternalReturn));
      column_ = 0;
    }
    for (char c : name) out_.push_back(static_cast<char>(fontin(static_cast<std::uint8_t>(c))));
    const std::size_t width = name.size() >= kLibFieldWidth ? name.size() + 1 : kLibFieldWidth;
    out_.append(width - name.size(), static_cast<char>(kInternalBlank));
    column_ += static_cast<int>(width);
  }

  void end() { out_.push_back(static_cast<char>(kInternalReturn)); }

 private:
  int pw_;
  std::string& out_;
  int column_ = 0;
};

int open_failure_code(int e) { return e == ENOENT || e == 0 ? kNotFound : kIoError; }

}  // namespace

std::string workspace_host_path(const char* path) { return host_path(path); }

// ---- workspace files ------------------------------------------------------------

std::int64_t size_ws(const char* path) {
  if (serves_startup_image(path)) {
    std::uint8_t probe[4];
    return read_packaged_ws(probe, 0) == 0 ? std::int64_t(packaged_ws_length()) : -1;
  }
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
  if (serves_startup_image(path)) {
    const int rc = read_startup_image(count, destination);
    return rc != kOk ? rc : looks_like_workspace(destination, count) ? kOk : kNotWorkspace;
  }
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

namespace {

// Temporaries of a save are named ".NAME.PID.XXXXXX" beside the file: unique
// per save (mkstemp), in the same directory so that the rename is atomic,
// and carrying the writer's process id so that a later save can tell the
// leftovers of a process that died mid-save from a save still running.
std::string temporary_prefix(const std::string& path, std::string* directory) {
  const std::size_t slash = path.rfind('/');
  *directory = slash == std::string::npos ? std::string(".") : path.substr(0, slash == 0 ? 1 : slash);
  const std::string base = slash == std::string::npos ? path : path.substr(slash + 1);
  return "." + base + ".";
}

// Removes temporaries of `prefix` in `directory` whose writing process no
// longer exists.
void remove_stale_temporaries(const std::string& directory, const std::string& prefix) {
  DIR* d = ::opendir(directory.c_str());
  if (!d) return;
  while (dirent* entry = ::readdir(d)) {
    const char* name = entry->d_name;
    if (std::strncmp(name, prefix.c_str(), prefix.size()) != 0) continue;
    const char* rest = name + prefix.size();
    char* end = nullptr;
    const long pid = std::strtol(rest, &end, 10);
    if (end == rest || *end != '.' || std::strlen(end + 1) != 6 || pid <= 0) continue;
    if (::kill(static_cast<pid_t>(pid), 0) == 0 || errno != ESRCH) continue;
    ::unlinkat(::dirfd(d), name, 0);
  }
  ::closedir(d);
}

bool sync_unsupported(int e) { return e == EINVAL || e == ENOTSUP; }

}  // namespace

// The new image is staged: a temporary of its own in the file's directory,
// flushed to the disk, renamed over the old file, the directory flushed so
// that the rename itself survives a crash. Any failure leaves the old file
// untouched and removes the temporary.
int write_ws(const char* path, std::uint32_t length, const std::uint8_t* source) {
  StagedFile file;
  if (const int rc = begin_staged(path, file)) return rc;
  if (const int rc = write_staged(file, length, source)) return rc;
  return commit_staged(file);
}

StagedFile::~StagedFile() { abandon_staged(*this); }

int begin_staged(const char* path, StagedFile& file) {
  abandon_staged(file);
  file.target = host_path(path);
  struct stat target {};
  if (::stat(file.target.c_str(), &target) == 0 && S_ISDIR(target.st_mode)) {
    record_errno(EISDIR);
    return kIoError;
  }
  const std::string prefix = temporary_prefix(file.target, &file.directory);
  remove_stale_temporaries(file.directory, prefix);
  file.temporary = file.directory + "/" + prefix + std::to_string(::getpid()) + ".XXXXXX";
  const int fd = ::mkostemp(file.temporary.data(), O_CLOEXEC);
  if (fd < 0) {
    record_errno(errno);
    file.temporary.clear();
    return kIoError;
  }
  file.fd = fd;
  const mode_t mode = ::stat(file.target.c_str(), &target) == 0 ? (target.st_mode & 07777) : 0644;
  if (::fchmod(fd, mode) != 0) {
    record_errno(errno);
    abandon_staged(file);
    return kIoError;
  }
  return kOk;
}

int write_staged(StagedFile& file, std::uint32_t count, const std::uint8_t* buffer) {
  if (file.fd < 0) {
    record_errno(EBADF);
    return kIoError;
  }
  // Written in pieces, the disk is set to work on each piece at once, so
  // that the sync of the commit finds most of the file written already.
  constexpr std::uint32_t kPiece = 4u << 20;
  for (std::uint32_t done = 0; done < count;) {
    const std::uint32_t n = std::min(kPiece, count - done);
    if (!write_fully(file.fd, buffer + done, n)) {
      record_errno(errno);
      return kIoError;
    }
    const off_t at = ::lseek(file.fd, 0, SEEK_CUR) - n;
    ::sync_file_range(file.fd, at, n, SYNC_FILE_RANGE_WRITE);
    done += n;
  }
  return kOk;
}

int commit_staged(StagedFile& file) {
  if (file.fd < 0) {
    record_errno(EBADF);
    return kIoError;
  }
  auto fail = [&file](int e) {
    abandon_staged(file);
    record_errno(e);
    return kIoError;
  };
  if (::fsync(file.fd) != 0 && !sync_unsupported(errno)) return fail(errno);
  const int fd = file.fd;
  file.fd = -1;
  if (::close(fd) != 0) return fail(errno);
  if (::rename(file.temporary.c_str(), file.target.c_str()) != 0) return fail(errno);
  file.temporary.clear();
  const int dfd = ::open(file.directory.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (dfd >= 0) {
    ::fsync(dfd);
    ::close(dfd);
  }
  return kOk;
}

void abandon_staged(StagedFile& file) {
  if (file.fd >= 0) ::close(file.fd);
  file.fd = -1;
  if (!file.temporary.empty()) ::unlink(file.temporary.c_str());
  file.temporary.clear();
}

WsImage::~WsImage() { reset(); }

void WsImage::reset() {
  if (mapping) ::munmap(mapping, length);
  mapping = nullptr;
  bytes.reset();
  length = 0;
}

namespace {

// Opens a workspace file to be read whole: 0 with the descriptor and size,
// or the result code of read_ws_whole (nothing left open).
int open_whole(const char* path, std::uint32_t limit, int* fd, std::uint32_t* size) {
  const std::string p = host_path(path);
  errno = 0;
  *fd = ::open(p.c_str(), O_RDONLY | O_CLOEXEC);
  if (*fd < 0) {
    const int e = errno;
    record_errno(e);
    return open_failure_code(e);
  }
  struct stat info {};
  if (::fstat(*fd, &info) != 0 || S_ISDIR(info.st_mode)) {
    const int e = S_ISDIR(info.st_mode) ? EISDIR : errno;
    ::close(*fd);
    record_errno(e);
    return kIoError;
  }
  if (info.st_size > static_cast<off_t>(limit)) {
    ::close(*fd);
    return kTooLarge;
  }
  *size = static_cast<std::uint32_t>(info.st_size);
  return kOk;
}

}  // namespace

int read_ws_whole(const char* path, std::uint32_t limit, WsImage& image) {
  image.reset();
  if (serves_startup_image(path)) {
    const int rc = read_startup_image_whole(limit, image);
    if (rc != kOk || looks_like_workspace(image.bytes.get(), image.length)) return rc;
    image.reset();
    return kNotWorkspace;
  }
  int fd = -1;
  std::uint32_t size = 0;
  if (const int rc = open_whole(path, limit, &fd, &size)) return rc;
  image.bytes.reset(new (std::nothrow) std::uint8_t[size ? size : 1]);
  if (!image.bytes) {
    ::close(fd);
    return kNoMemory;
  }
  // One byte more than the size is asked for, so that a file that grew since
  // fstat is noticed rather than cut.
  std::uint8_t extra = 0;
  std::int64_t got = read_fully(fd, image.bytes.get(), size);
  int e = errno;
  if (got == size && read_fully(fd, &extra, 1) != 0) got = -2;
  ::close(fd);
  if (got == -1) {
    record_errno(e);
    image.reset();
    return kIoError;
  }
  if (got != size || !looks_like_workspace(image.bytes.get(), size)) {
    image.reset();
    return kNotWorkspace;
  }
  image.length = size;
  return kOk;
}

// The pages come straight from the file cache (MAP_POPULATE maps them all
// at once); the header is the first read, guarded like every later one.
int map_ws_whole(const char* path, std::uint32_t limit, WsImage& image) {
  if (serves_startup_image(path)) return read_ws_whole(path, limit, image);
  image.reset();
  int fd = -1;
  std::uint32_t size = 0;
  if (const int rc = open_whole(path, limit, &fd, &size)) return rc;
  if (size == 0) {
    ::close(fd);
    return kNotWorkspace;
  }
  void* mapped = ::mmap(nullptr, size, PROT_READ, MAP_PRIVATE | MAP_POPULATE, fd, 0);
  const int e = errno;
  ::close(fd);
  if (mapped == MAP_FAILED) {
    record_errno(e);
    return e == ENOMEM ? kNoMemory : kIoError;
  }
  image.mapping = mapped;
  image.length = size;
  bool sound = false;
  auto check_header = [&] { sound = looks_like_workspace(image.data(), size); };
  if (guarded_read(image.data(), size, check_header) != kOk || !sound) {
    image.reset();
    return kNotWorkspace;
  }
  return kOk;
}

int create_ws_exclusive(const char* path, std::uint32_t length, const std::uint8_t* source) {
  const std::string p = host_path(path);
  int fd = ::open(p.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0644);
  if (fd < 0) {
    const int e = errno;
    record_errno(e);
    return e == EEXIST ? kExists : kIoError;
  }
  if (!write_fully(fd, source, length) || (::fsync(fd) != 0 && !sync_unsupported(errno))) {
    const int e = errno;
    ::close(fd);
    ::unlink(p.c_str());
    record_errno(e);
    return kIoError;
  }
  if (::close(fd) != 0) {
    record_errno(errno);
    return kIoError;
  }
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

int list_lib(const char* directory, int option, int pw, std::string& lines) {
  const int first = (option & 0xFF) != 0 ? fontout(option) : 0;
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

    LibLayout printer(pw, lines);
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

void library_to_path(std::uint32_t library, const std::uint8_t* mount_row, char* buffer) {
  std::string dir;
  if (library == 99) {
    dir = "~";
  } else if (library <= 9) {
    for (std::size_t i = 0; i < kMountRowSize; ++i) dir.push_back(static_cast<char>(fontout(mount_row[i])));
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

void set_file_selector_directory(const std::string& directory) { file_selector_directory = directory; }

std::string latest_error_afl() { return error_text(get_server_side_task_vars()->last_afl_errno); }

}  // namespace zema
