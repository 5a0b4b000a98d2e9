// The packaging stub (installed as bin/zema_pack.stb): copied to the front
// of a packaged application, it makes the package one executable file. It
// starts ZEMASupport4 with ZEMA_PLAY naming the package itself (its own
// executable file) and passes its arguments on. The program is the file
// named by ZEMA_PROGRAM, else ZEMASupport4 in the stub's build directory,
// else ZEMASupport4 on the PATH.
#include <unistd.h>

#include <climits>
#include <cstdio>
#include <cstdlib>
#include <vector>

#ifndef ZEMA_PROGRAM_PATH
#define ZEMA_PROGRAM_PATH "ZEMASupport4"
#endif

int main(int argc, char** argv) {
  char self[PATH_MAX];
  const ssize_t n = ::readlink("/proc/self/exe", self, sizeof self - 1);
  if (n <= 0) {
    std::fputs("zema_pack.stb: cannot find the package\n", stderr);
    return 1;
  }
  self[n] = 0;
  ::setenv("ZEMA_PLAY", self, 1);
  const char* program = std::getenv("ZEMA_PROGRAM");
  std::vector<char*> args(argv, argv + argc);
  args.push_back(nullptr);
  if (program && *program) {
    args[0] = const_cast<char*>(program);
    ::execv(program, args.data());
  }
  args[0] = const_cast<char*>(ZEMA_PROGRAM_PATH);
  ::execv(ZEMA_PROGRAM_PATH, args.data());
  ::execvp("ZEMASupport4", args.data());
  std::perror("zema_pack.stb: cannot start ZEMASupport4");
  return 1;
}
