// The executable's path pieces and the date and time texts.
#include "platform/executable_dates.h"

#include <gtest/gtest.h>

namespace zema {
namespace {

TEST(ExecutablePath, DirectoryAndName) {
  struct Case {
    std::string path, directory, name;
  } cases[] = {
      {"/usr/local/zema/bin/ZEMASupport4", "/usr/local/zema/bin/", "ZEMASupport4"},
      {"app", "", "app"},
      {"/app", "/", "app"},
      {"/" + std::string(258, 'a'), "/", std::string(258, 'a')},  // 259 characters
      {"/" + std::string(259, 'a'), "/", ""},                     // 260: no name
  };
  for (const Case& c : cases) {
    EXPECT_EQ(executable_directory_of(c.path), c.directory) << c.path;
    EXPECT_EQ(executable_name_of(c.path), c.name) << c.path;
  }
  EXPECT_EQ(get_executable_name(), "zema_program_tests");
  EXPECT_EQ(get_executable_directory().back(), '/');
}

TEST(DateTimeTexts, PaddedFields) {
  const DateTimeRecord when{2024, 3, 2, 7, 9, 5, 4, 500};
  EXPECT_EQ(get_local_date_string(when), "2024-03-07");
  EXPECT_EQ(get_local_time_string(when), "9:05:04");
}

}  // namespace
}  // namespace zema
