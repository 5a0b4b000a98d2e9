// zema-pack: makes a packaged application from a saved workspace without
// the session window. Test tooling, like the console driver.
//
//   zema-pack STUB WORKSPACE.aws OUTPUT [SIZE_KB]
//
// OUTPUT is the stub, the workspace image and the trailer; SIZE_KB is the
// workspace size the package asks for: a whole number of KB from 100 (the
// smallest workspace the program starts) to 2,097,142 (the largest it
// makes), or 0 for "the wssize setting applies". Without it, the
// workspace's own configured size, else 0. Status 0, or 1 with a message
// naming what is wrong (2 for a wrong number of arguments).
#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "files/packaged.h"
#include "files/wsfiles.h"
#include "interpreter/workspace/workspace.h"

namespace {

// The largest workspace the program makes, in KB (its block and offsets
// stay within 31 bits).
constexpr unsigned long kLargestWsKB = 2097142;

// SIZE_KB as given: false, with `*why`, for anything but a whole decimal
// number that is 0 or lies within 100 .. kLargestWsKB.
bool read_size(const char* text, std::uint32_t* kb, std::string* why) {
  const std::string given = text;
  if (given.empty() || given.find_first_not_of("0123456789") != std::string::npos) {
    *why = given.rfind('-', 0) == 0 ? "is negative" : "is not a whole number of KB";
    return false;
  }
  errno = 0;
  const unsigned long long n = std::strtoull(text, nullptr, 10);
  if (errno == ERANGE || n > kLargestWsKB) {
    *why = "is more than the largest workspace, " + std::to_string(kLargestWsKB) + " KB";
    return false;
  }
  if (n != 0 && n < zema::kMinWsKB) {
    *why = "is less than the smallest workspace, " + std::to_string(zema::kMinWsKB) + " KB: the package could never start";
    return false;
  }
  *kb = static_cast<std::uint32_t>(n);
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 4 || argc > 5) {
    std::fputs("usage: zema-pack STUB WORKSPACE.aws OUTPUT [SIZE_KB]\n", stderr);
    return 2;
  }
  std::uint32_t size_kb = 0;
  std::string why;
  if (argc == 5 && !read_size(argv[4], &size_kb, &why)) {
    std::fprintf(stderr, "zema-pack: size %s %s\n", argv[4], why.c_str());
    return 1;
  }
  if (const int stub = ::open(argv[1], O_RDONLY | O_CLOEXEC); stub < 0) {
    std::fprintf(stderr, "zema-pack: cannot read the stub %s: %s\n", argv[1], std::strerror(errno));
    return 1;
  } else {
    ::close(stub);
  }
  zema::WsImage image;
  if (zema::read_ws_whole(argv[2], 0x7FFFFFFF, image) != 0) {
    std::fprintf(stderr, "zema-pack: %s is not a readable workspace\n", argv[2]);
    return 1;
  }
  if (argc < 5 && image.length >= zema::hdr::PackagedWsSize + 4) {
    std::int32_t configured = 0;
    std::memcpy(&configured, image.bytes.get() + zema::hdr::PackagedWsSize, 4);
    size_kb = zema::package_size_kb(configured, 0);
    if (size_kb != 0 && (size_kb < zema::kMinWsKB || size_kb > kLargestWsKB)) {
      std::fprintf(stderr, "zema-pack: %s asks for a workspace of %u KB, outside %u .. %lu KB: give SIZE_KB\n",
                   argv[2], size_kb, zema::kMinWsKB, kLargestWsKB);
      return 1;
    }
  }
  if (zema::make_package(argv[3], argv[1], image.bytes.get(), image.length, size_kb) != 0) {
    std::fprintf(stderr, "zema-pack: cannot write %s\n", argv[3]);
    return 1;
  }
  return 0;
}
