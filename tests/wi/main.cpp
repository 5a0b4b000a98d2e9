// Runs the ⎕WI object tests inside one QApplication on the offscreen platform.
#include <gtest/gtest.h>

#include <QApplication>

#include <cstdlib>
#include <string>

#include <sys/stat.h>
#include <unistd.h>

int main(int argc, char** argv) {
  setenv("QT_QPA_PLATFORM", "offscreen", 0);
  // Qt warns when it has no runtime folder (the build lists these tests, so
  // the warning would show in every build): give it a private one.
  if (const char* set = std::getenv("XDG_RUNTIME_DIR"); !set || !*set) {
    const std::string folder = "/tmp/zema-runtime-" + std::to_string(getuid());
    mkdir(folder.c_str(), 0700);
    struct stat st {};
    if (lstat(folder.c_str(), &st) == 0 && S_ISDIR(st.st_mode) && st.st_uid == getuid() &&
        (st.st_mode & 0777) == 0700)
      setenv("XDG_RUNTIME_DIR", folder.c_str(), 1);
  }
  QApplication app(argc, argv);
  testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
