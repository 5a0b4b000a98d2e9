// Packaged application files: trailer, reading, writing, the start-up load.
#include "files/packaged.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <cstring>
#include <fstream>
#include <iterator>
#include <string>

namespace zema {
namespace {

std::string slurp(const std::string& p) {
  std::ifstream in(p, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}
void spit(const std::string& p, const std::string& s) { std::ofstream(p, std::ios::binary) << s; }
std::uint32_t word_at_end(const std::string& s, std::size_t from_end) {
  std::uint32_t w;
  std::memcpy(&w, s.data() + s.size() - from_end, 4);
  return w;
}

class Packaged : public ::testing::Test {
 protected:
  void SetUp() override {
    char t[] = "/tmp/zema_pkg_XXXXXX";
    dir_ = ::mkdtemp(t);
    spit(dir_ + "/stub", "STUB");
    spit(dir_ + "/empty", "");
  }
  void TearDown() override {
    ::unsetenv("ZEMA_PLAY");
    set_startup_load_pending(false);
    std::string cmd = "rm -rf " + dir_;
    (void)std::system(cmd.c_str());
  }
  std::string dir_;
};

TEST_F(Packaged, SizeFieldInKB) {
  EXPECT_EQ(package_size_kb(1000000, 20480), 976u);
  EXPECT_EQ(package_size_kb(0, 20480), 20480u);
  EXPECT_EQ(package_size_kb(-5, 300), 300u);
}

TEST_F(Packaged, WrittenAndReadBack) {
  const std::string path = dir_ + "/app";
  const std::string image = "IMAGEBYTES";
  ASSERT_EQ(make_package(path.c_str(), (dir_ + "/stub").c_str(), reinterpret_cast<const std::uint8_t*>(image.data()),
                         10, 976),
            0);
  const std::string file = slurp(path);
  EXPECT_EQ(file.size(), 4 + 10 + 32u);
  EXPECT_EQ(file.substr(0, 14), "STUBIMAGEBYTES");
  EXPECT_EQ(word_at_end(file, 16), 976u);
  EXPECT_EQ(word_at_end(file, 12), 4u);
  EXPECT_EQ(word_at_end(file, 8), 10u);
  EXPECT_EQ(word_at_end(file, 4), kPackageMagic);
  struct stat st {};
  ASSERT_EQ(::stat(path.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0775u);

  ::setenv("ZEMA_PLAY", path.c_str(), 1);
  EXPECT_EQ(check_packaged_ws(), 976);
  std::uint8_t head[5] = {};
  EXPECT_EQ(read_packaged_ws(head, 5), 0);
  EXPECT_EQ(std::string(reinterpret_cast<char*>(head), 5), "IMAGE");
  EXPECT_EQ(packaged_ws_length(), 10u);  // the full length, whatever was asked
}

TEST_F(Packaged, EmptyStubPutsImageAtZeroAndZeroSizeAnswersMinusOne) {
  const std::string path = dir_ + "/app";
  ASSERT_EQ(make_package(path.c_str(), (dir_ + "/empty").c_str(), reinterpret_cast<const std::uint8_t*>("XY"), 2, 0), 0);
  EXPECT_EQ(word_at_end(slurp(path), 12), 0u);
  ::setenv("ZEMA_PLAY", path.c_str(), 1);
  EXPECT_EQ(check_packaged_ws(), -1);
}

TEST_F(Packaged, NoPackageAnswersZeroAndSixtyEight) {
  std::uint8_t b[4];
  ::unsetenv("ZEMA_PLAY");
  EXPECT_EQ(check_packaged_ws(), 0);
  EXPECT_EQ(read_packaged_ws(b, 4), 68);
  for (const std::string& p : {dir_ + "/missing", dir_ + "/stub"}) {
    ::setenv("ZEMA_PLAY", p.c_str(), 1);
    EXPECT_EQ(check_packaged_ws(), 0) << p;
    EXPECT_EQ(read_packaged_ws(b, 4), 68) << p;
  }
}

// A file that ZEMA_PLAY names but that is no sound package: 0, and a
// sentence naming the file and the fault; none for an unset ZEMA_PLAY or a
// sound package.
TEST_F(Packaged, DamagedPackagesAreNamedWithTheirFault) {
  const std::string good = dir_ + "/app";
  ASSERT_EQ(make_package(good.c_str(), (dir_ + "/stub").c_str(), reinterpret_cast<const std::uint8_t*>("IMAGE"), 5, 976),
            0);
  const std::string sound = slurp(good);  // 4 stub, 5 image, 32 trailer
  auto with_word = [&](std::size_t from_end, std::uint32_t w) {
    std::string f = sound;
    std::memcpy(f.data() + f.size() - from_end, &w, 4);
    return f;
  };
  struct Case {
    const char* name;
    std::string content;
    const char* fault;  // after "The packaged application PATH is damaged: "
  } cases[] = {
      {"short", "STUB", "it is too short to end in a trailer"},
      {"magic", with_word(4, 0x12345678), "its trailer is missing or broken"},
      {"offset", with_word(12, 100),
       "its trailer places the image (5 bytes at offset 100) outside the 9 bytes before the trailer"},
      {"length", with_word(8, 6),
       "its trailer places the image (6 bytes at offset 4) outside the 9 bytes before the trailer"},
      {"wrapping", with_word(12, 0xFFFFFFFFu),
       "its trailer places the image (5 bytes at offset 4294967295) outside the 9 bytes before the trailer"},
      {"empty", with_word(8, 0), "its trailer gives the image no bytes"},
  };
  for (const Case& c : cases) {
    const std::string path = dir_ + "/" + c.name;
    spit(path, c.content);
    ::setenv("ZEMA_PLAY", path.c_str(), 1);
    std::string problem;
    EXPECT_EQ(check_packaged_ws(&problem), 0) << c.name;
    EXPECT_EQ(problem, "The packaged application " + path + " is damaged: " + c.fault);
    std::uint8_t b[4];
    EXPECT_EQ(read_packaged_ws(b, 4), 68) << c.name;
  }
  std::string problem = "stale";
  ::setenv("ZEMA_PLAY", (dir_ + "/missing").c_str(), 1);
  EXPECT_EQ(check_packaged_ws(&problem), 0);
  EXPECT_EQ(problem, "Cannot open the packaged application " + dir_ + "/missing: No such file or directory");
  ::setenv("ZEMA_PLAY", good.c_str(), 1);
  EXPECT_EQ(check_packaged_ws(&problem), 976);
  EXPECT_EQ(problem, "");
  ::unsetenv("ZEMA_PLAY");
  EXPECT_EQ(check_packaged_ws(&problem), 0);
  EXPECT_EQ(problem, "");
}

// A failed write leaves no file behind, and an earlier package at the path
// stays as it was.
TEST_F(Packaged, FailedWriteKeepsThePreviousFile) {
  const std::string path = dir_ + "/app";
  spit(path, "OLD PACKAGE");
  EXPECT_EQ(make_package(path.c_str(), (dir_ + "/no_stub").c_str(), reinterpret_cast<const std::uint8_t*>("XY"), 2, 0),
            68);
  EXPECT_EQ(slurp(path), "OLD PACKAGE");
  EXPECT_EQ(make_package((dir_ + "/new").c_str(), (dir_ + "/no_stub").c_str(),
                         reinterpret_cast<const std::uint8_t*>("XY"), 2, 0),
            68);
  EXPECT_NE(::access((dir_ + "/new").c_str(), F_OK), 0);
  // No temporaries either.
  std::size_t entries = 0;
  for (const auto& e : std::filesystem::directory_iterator(dir_)) entries += e.path().filename() != "";
  EXPECT_EQ(entries, 3u);  // stub, empty, app
}

// The start-up load serves "pack" from the package once: later reads of a
// workspace named pack read their own file.
TEST_F(Packaged, StartupLoadEndsAfterTheFirstWholeRead) {
  const std::string path = dir_ + "/app";
  ASSERT_EQ(make_package(path.c_str(), (dir_ + "/stub").c_str(), reinterpret_cast<const std::uint8_t*>("XY"), 2, 0), 0);
  ::setenv("ZEMA_PLAY", path.c_str(), 1);
  set_startup_load_pending(true);
  EXPECT_TRUE(serves_startup_image("/some/lib/pack.aws"));
  EXPECT_FALSE(serves_startup_image("/some/lib/other.aws"));
  WsImage image;
  EXPECT_EQ(read_startup_image_whole(1000, image), 0);
  EXPECT_EQ(image.length, 2u);
  EXPECT_FALSE(serves_startup_image("/some/lib/pack.aws"));
}

}  // namespace
}  // namespace zema
