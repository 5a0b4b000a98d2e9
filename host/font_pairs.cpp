// The font pairs and the choice among them.
#include <cctype>

#include "host/charset.h"

namespace zema {

const FontPair windows_font_pair{"Windows", win_internal_to_font, win_font_to_internal};
const FontPair mac_font_pair{"Mac", win_internal_to_font, win_font_to_internal};
const FontPair aix_font_pair{"AIX", win_internal_to_font, win_font_to_internal};

namespace {
const FontPair* current = &windows_font_pair;
}  // namespace

const FontPair* font_pair_for_charset(std::string_view charset) {
  if (charset.empty()) return nullptr;
  switch (std::tolower(static_cast<unsigned char>(charset[0]))) {
    case 'm': return &mac_font_pair;
    case 'w': return &windows_font_pair;
    case 'l':
    case 'a': return &aix_font_pair;
    default: return nullptr;
  }
}

void use_font_pair(const FontPair& pair) {
  current = &pair;
  internal_to_font = pair.to_font;
  font_to_internal = pair.to_internal;
}

const FontPair& current_font_pair() { return *current; }

}  // namespace zema
