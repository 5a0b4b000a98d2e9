#include "files/packaged.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <new>
#include <string>

namespace zema {

namespace {

std::atomic<std::uint32_t> g_packaged_length{0};
std::atomic<bool> g_startup_pending{false};

struct Trailer {
  std::uint32_t size_kb = 0, offset = 0, length = 0, magic = 0;
};

// Opens ZEMA_PLAY's file and reads its trailer; −1 when there is none to be
// had, else the open descriptor (the caller closes it). With `problem`,
// says why a file that ZEMA_PLAY names gives none ("" when unset).
int open_package(Trailer* t, std::string* problem = nullptr) {
  const char* play = std::getenv("ZEMA_PLAY");
  if (!play || !*play) return -1;
  auto refuse = [&](int fd, const std::string& why) {
    if (fd >= 0) ::close(fd);
    if (problem) *problem = why;
    return -1;
  };
  const std::string name = play;
  int fd = ::open(play, O_RDONLY | O_CLOEXEC);
  if (fd < 0) return refuse(-1, "Cannot open the packaged application " + name + ": " + std::strerror(errno));
  std::uint8_t raw[kPackageTrailerSize];
  const off_t end = ::lseek(fd, 0, SEEK_END);
  if (end < 0) return refuse(fd, "Cannot read the packaged application " + name + ": " + std::strerror(errno));
  if (end < static_cast<off_t>(kPackageTrailerSize) ||
      ::pread(fd, raw, sizeof raw, end - kPackageTrailerSize) != static_cast<ssize_t>(sizeof raw))
    return refuse(fd, "The packaged application " + name + " is damaged: it is too short to end in a trailer");
  std::memcpy(&t->size_kb, raw + 16, 4);
  std::memcpy(&t->offset, raw + 20, 4);
  std::memcpy(&t->length, raw + 24, 4);
  std::memcpy(&t->magic, raw + 28, 4);
  if (t->magic != kPackageMagic)
    return refuse(fd, "The packaged application " + name + " is damaged: its trailer is missing or broken");
  // The image lies between the stub and the trailer.
  const std::uint64_t image_end = std::uint64_t(t->offset) + t->length;
  if (t->length == 0)
    return refuse(fd, "The packaged application " + name + " is damaged: its trailer gives the image no bytes");
  if (image_end > static_cast<std::uint64_t>(end) - kPackageTrailerSize)
    return refuse(fd, "The packaged application " + name + " is damaged: its trailer places the image (" +
                          std::to_string(t->length) + " bytes at offset " + std::to_string(t->offset) +
                          ") outside the " + std::to_string(end - kPackageTrailerSize) +
                          " bytes before the trailer");
  return fd;
}

bool read_at(int fd, std::uint8_t* buffer, std::uint32_t count, off_t at) {
  while (count > 0) {
    const ssize_t got = ::pread(fd, buffer, count, at);
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0) return false;
    buffer += got;
    count -= static_cast<std::uint32_t>(got);
    at += got;
  }
  return true;
}

bool write_all(int fd, const std::uint8_t* buffer, std::size_t count) {
  while (count > 0) {
    const ssize_t put = ::write(fd, buffer, count);
    if (put < 0 && errno == EINTR) continue;
    if (put <= 0) return false;
    buffer += put;
    count -= static_cast<std::size_t>(put);
  }
  return true;
}

}  // namespace

int check_packaged_ws(std::string* problem) {
  Trailer t;
  if (problem) problem->clear();
  const int fd = open_package(&t, problem);
  if (fd < 0) return 0;
  ::close(fd);
  if (t.size_kb == 0) return -1;
  return t.size_kb > 0x7FFFFFFFu ? 0x7FFFFFFF : static_cast<int>(t.size_kb);
}

int read_packaged_ws(std::uint8_t* buffer, std::uint32_t max) {
  Trailer t;
  const int fd = open_package(&t);
  if (fd < 0) return 68;
  g_packaged_length = t.length;
  const std::uint32_t count = t.length < max ? t.length : max;
  const bool ok = read_at(fd, buffer, count, static_cast<off_t>(t.offset));
  ::close(fd);
  return ok ? 0 : 68;
}

std::uint32_t packaged_ws_length() { return g_packaged_length; }

std::uint32_t package_size_kb(std::int64_t configured_bytes, std::uint32_t wssize_kb) {
  const std::uint64_t bytes =
      configured_bytes > 0 ? static_cast<std::uint64_t>(configured_bytes) : std::uint64_t(wssize_kb) * 1024;
  return static_cast<std::uint32_t>(bytes / 1024);
}

int make_package(const char* path, const char* stub_path, const std::uint8_t* image, std::uint32_t length,
                 std::uint32_t size_kb) {
  // The temporary lies beside the file, so that the rename is atomic.
  const std::string target = path;
  const std::size_t slash = target.rfind('/');
  const std::string directory = slash == std::string::npos ? std::string() : target.substr(0, slash + 1);
  const std::string base = slash == std::string::npos ? target : target.substr(slash + 1);
  std::string temp = directory + "." + base + ".XXXXXX";
  int out = ::mkstemp(temp.data());
  if (out < 0) return 68;
  auto fail = [&](int in) {
    if (in >= 0) ::close(in);
    ::close(out);
    ::unlink(temp.c_str());
    return 68;
  };
  const int in = ::open(stub_path, O_RDONLY | O_CLOEXEC);
  if (in < 0) return fail(-1);
  std::uint8_t block[4096];
  std::uint64_t stub_length = 0;
  for (;;) {
    const ssize_t got = ::read(in, block, sizeof block);
    if (got < 0 && errno == EINTR) continue;
    if (got < 0) return fail(in);
    if (got == 0) break;
    if (!write_all(out, block, static_cast<std::size_t>(got))) return fail(in);
    stub_length += static_cast<std::uint64_t>(got);
  }
  ::close(in);
  // Offsets are 32-bit words: a stub and image beyond 4 GB cannot be described.
  if (stub_length + length + kPackageTrailerSize > 0xFFFFFFFFu) return fail(-1);
  std::uint8_t trailer[kPackageTrailerSize] = {};
  const std::uint32_t offset = static_cast<std::uint32_t>(stub_length);
  std::memcpy(trailer + 16, &size_kb, 4);
  std::memcpy(trailer + 20, &offset, 4);
  std::memcpy(trailer + 24, &length, 4);
  std::memcpy(trailer + 28, &kPackageMagic, 4);
  if (!write_all(out, image, length) || !write_all(out, trailer, sizeof trailer)) return fail(-1);
  if (::fchmod(out, 0775) != 0 || ::fsync(out) != 0) return fail(-1);
  if (::close(out) != 0) {
    ::unlink(temp.c_str());
    return 68;
  }
  if (::rename(temp.c_str(), path) != 0) {
    ::unlink(temp.c_str());
    return 68;
  }
  return 0;
}

void set_startup_load_pending(bool pending) { g_startup_pending = pending; }
bool startup_load_pending() { return g_startup_pending; }

bool serves_startup_image(const char* path) {
  if (!g_startup_pending || !path) return false;
  const char* base = std::strrchr(path, '/');
  base = base ? base + 1 : path;
  return std::strcmp(base, "pack.aws") == 0 || std::strcmp(base, "pack") == 0;
}

int read_startup_image(std::uint32_t count, std::uint8_t* destination) {
  if (read_packaged_ws(destination, count) != 0) return 3;
  // A package whose image is shorter than asked for is no workspace.
  return packaged_ws_length() < count ? 7 : 0;
}

int read_startup_image_whole(std::uint32_t limit, WsImage& image) {
  g_startup_pending = false;
  image.reset();
  std::uint8_t probe[4];
  if (read_packaged_ws(probe, 0) != 0) return 3;
  const std::uint32_t length = packaged_ws_length();
  if (length > limit) return 9;
  image.bytes.reset(new (std::nothrow) std::uint8_t[length ? length : 1]);
  if (!image.bytes) return 68;
  if (read_packaged_ws(image.bytes.get(), length) != 0) {
    image.bytes.reset();
    return 3;
  }
  image.length = length;
  return 0;
}

}  // namespace zema
