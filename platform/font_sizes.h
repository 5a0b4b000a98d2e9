// Nominal font sizes (the sizes the settings name) and the font sizes used
// on a screen of a given resolution, for the APL fonts.
#pragma once

namespace zema {

// The screen font size for nominal size `nominal` on a screen of `ppi`
// pixels per inch: (ppi/2 + 75·nominal) / ppi, each division an integer
// division. A `ppi` of 0 or less is taken as 96.
int screen_nominal_to_fontsize(int nominal, int ppi);
// The first of the nominal sizes 8, 10, 12, 14, 16, 18, 24, 28 whose
// screen size on `ppi` is `size`; when none is, (size·ppi + 37) / 75.
int screen_fontsize_to_nominal(int size, int ppi);

}  // namespace zema
