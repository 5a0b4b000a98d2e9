#include "platform/font_sizes.h"

#include <initializer_list>

namespace zema {

namespace {
int resolution(int ppi) { return ppi > 0 ? ppi : 96; }
}  // namespace

int screen_nominal_to_fontsize(int nominal, int ppi) {
  const int p = resolution(ppi);
  return (p / 2 + 75 * nominal) / p;
}

int screen_fontsize_to_nominal(int size, int ppi) {
  const int p = resolution(ppi);
  for (int nominal : {8, 10, 12, 14, 16, 18, 24, 28})
    if (screen_nominal_to_fontsize(nominal, p) == size) return nominal;
  return (size * p + 37) / 75;
}

}  // namespace zema
