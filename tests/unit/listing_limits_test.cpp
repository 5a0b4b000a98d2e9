// The limits of the name listings: a first limit compared over the longer
// of the two names (blanks pad the shorter), a last limit compared over its
// own length only, so that it acts as a prefix.
#include <gtest/gtest.h>

#include <string>

#include "host/charset.h"
#include "interpreter/session/listing_commands.h"

namespace zema {
namespace {

struct LimitCase {
  const char* name;
  const char* first;
  const char* last;
  bool listed;
};

TEST(ListingLimits, FirstAndLastLimits) {
  const LimitCase cases[] = {
      {"B", "", "", true},        // no limit
      {"A", "B", "", false},      // below the first limit
      {"B", "B", "", true},       // the first limit itself
      {"BA", "B", "", true},      // a longer name after its prefix
      {"B", "BA", "", false},     // a blank sorts before every character
      {"Z", "B", "", true},       // no last limit: everything after the first
      {"ABC", "A", "AB", true},   // the last limit is a prefix
      {"ABZZ", "A", "AB", true},
      {"AC", "A", "AB", false},   // past the prefix
      {"B", "A", "AB", false},
      {"a", "A", "Z", false},     // small letters come after ∆
      {"1A", "A", "Z", false},    // not a name, but it shows digits sort first
  };
  for (const LimitCase& c : cases) {
    EXPECT_EQ(name_within_limits(utf8_to_internal(c.name), utf8_to_internal(c.first), utf8_to_internal(c.last)),
              c.listed)
        << c.name << " within " << c.first << " " << c.last;
  }
}

}  // namespace
}  // namespace zema
