// Test text from Unicode literals: display-font characters for the windows,
// and UTF-8 for failure messages.
#pragma once

#include <string>
#include <string_view>

#include "host/charset.h"

namespace zema::testing_support {

inline std::string font(std::u32string_view u) {
  std::string s;
  for (char32_t c : u) s += static_cast<char>(fontout(convert_from_unicode(c)));
  return s;
}

inline std::string utf8(std::u32string_view u) {
  std::string internal;
  for (char32_t c : u) internal += static_cast<char>(convert_from_unicode(c));
  return internal_to_utf8(internal);
}

}  // namespace zema::testing_support
