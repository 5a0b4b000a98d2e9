// zema-pack: makes a packaged application from a saved workspace without
// the session window. Test tooling, like the console driver.
//
//   zema-pack STUB WORKSPACE.aws OUTPUT [SIZE_KB]
//
// OUTPUT is the stub, the workspace image and the trailer; SIZE_KB (default
// the workspace's own configured size, else 0: the wssize setting applies)
// is the workspace size the package asks for. Status 0, or 1 with a message.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "files/packaged.h"
#include "files/wsfiles.h"
#include "interpreter/workspace/workspace.h"

int main(int argc, char** argv) {
  if (argc < 4 || argc > 5) {
    std::fputs("usage: zema-pack STUB WORKSPACE.aws OUTPUT [SIZE_KB]\n", stderr);
    return 2;
  }
  zema::WsImage image;
  if (zema::read_ws_whole(argv[2], 0x7FFFFFFF, image) != 0) {
    std::fprintf(stderr, "zema-pack: %s is not a readable workspace\n", argv[2]);
    return 1;
  }
  std::uint32_t size_kb = 0;
  if (argc == 5) {
    size_kb = static_cast<std::uint32_t>(std::strtoul(argv[4], nullptr, 10));
  } else if (image.length >= zema::hdr::PackagedWsSize + 4) {
    std::int32_t configured = 0;
    std::memcpy(&configured, image.bytes.get() + zema::hdr::PackagedWsSize, 4);
    size_kb = zema::package_size_kb(configured, 0);
  }
  if (zema::make_package(argv[3], argv[1], image.bytes.get(), image.length, size_kb) != 0) {
    std::fprintf(stderr, "zema-pack: cannot write %s\n", argv[3]);
    return 1;
  }
  return 0;
}
