// What the tests of workspace files share: whole files as bytes, and a
// fixture whose test runs in a fresh directory of its own, removed after.
#pragma once

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <system_error>
#include <vector>

namespace zema::test {

using Bytes = std::vector<std::uint8_t>;

// The whole file (empty when it cannot be read).
inline Bytes read_file(const std::filesystem::path& p) {
  std::ifstream in(p, std::ios::binary);
  return Bytes(std::istreambuf_iterator<char>(in), {});
}

// Creates or replaces the file with exactly `bytes`.
inline void write_file(const std::filesystem::path& p, const Bytes& bytes) {
  std::ofstream out(p, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

// dir_: a new directory under the system's temporary directory, named from
// `prefix`, made before each test and removed with its contents after.
class TemporaryDirectoryTest : public ::testing::Test {
 protected:
  explicit TemporaryDirectoryTest(const char* prefix) : prefix_(prefix) {}
  void SetUp() override {
    std::string pattern = (std::filesystem::temp_directory_path() / (prefix_ + "-XXXXXX")).string();
    ASSERT_NE(::mkdtemp(pattern.data()), nullptr);
    dir_ = pattern;
  }
  void TearDown() override {
    std::error_code ec;
    std::filesystem::remove_all(dir_, ec);
  }

  std::filesystem::path dir_;

 private:
  std::string prefix_;
};

}  // namespace zema::test
