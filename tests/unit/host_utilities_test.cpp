// Host utilities: names, the host form of numbers, error texts.
#include <gtest/gtest.h>

#include <cerrno>
#include <string>

#include "host/charset.h"
#include "host/services.h"
#include "host/utilities.h"

namespace zema {
namespace {

TEST(HostUtilities, NameCheck) {
  struct Case {
    const char* name;
    bool dots;
    bool valid;
  } cases[] = {{"A1", false, true},  {"1A", false, false}, {"A.B", true, true},   {"A.B", false, false},
               {"A.", true, false},  {"_A", false, false}, {"A_", false, true},   {"∆x", false, true},
               {"", false, false},   {"A¯", false, true},  {"$AB", false, true},  {"A$", false, false},
               {"A$B", false, false}, {"A+B", false, false}, {"⍙Z9", true, true}};
  for (const Case& c : cases) {
    const std::string internal = utf8_to_internal(c.name);
    EXPECT_EQ(check_valid_name_for_symbol(internal.c_str(), c.dots), c.valid) << c.name << " dots " << c.dots;
  }
}

TEST(HostUtilities, NumberText) {
  const std::string hm(1, static_cast<char>(fontout(0x40)));
  struct Case {
    double x;
    std::string text;
  } cases[] = {{0, "0"},          {100, "100"},        {-0.5, hm + "0.5"},       {1e10, "1E10"},
               {1.5e-7, "1.5E" + hm + "7"}, {1e9, "1000000000"}, {123.456, "123.456"}, {-2.5e20, hm + "2.5E20"}};
  for (const Case& c : cases) EXPECT_EQ(format_flt(c.x), c.text) << c.x;
}

TEST(HostUtilities, ErrorTexts) {
  EXPECT_EQ(error_text(0), utf8_to_internal("No error message available"));
  const std::string enoent = error_text(ENOENT);
  EXPECT_FALSE(enoent.empty());
  EXPECT_NE(enoent.back(), '\x0D');
  char dst[256];
  const std::string longer(400, 'a');
  report_error(longer.c_str(), dst);
  EXPECT_EQ(std::string(dst).size(), 255u);
  int record[7];
  get_quadai(record);
  EXPECT_EQ(record[4], 700);
}

}  // namespace
}  // namespace zema
