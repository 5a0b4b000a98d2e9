// The text windows' find over 10⁵ lines of display-font text: one search
// that scans the whole text (the only match is at the far end), timed as
// the best of n and set against a plain C++ loop over the same data
// (std::string::find / rfind; without case also std::search with a folding
// comparison; for whole words a find loop that checks the neighbours itself).
//   build/bench/zema-text-search-bench [--quick]
#include <algorithm>
#include <cctype>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <functional>
#include <string>

#include "host/charset.h"
#include "windows/text_search.h"
#include "windows/word_breaks.h"

namespace {

using Clock = std::chrono::steady_clock;

double best_ms(int reps, const std::function<int()>& work, int* result) {
  double best = 1e30;
  for (int r = 0; r < reps; ++r) {
    const auto t0 = Clock::now();
    *result = work();
    best = std::min(best, std::chrono::duration<double, std::milli>(Clock::now() - t0).count());
  }
  return best;
}

std::string font(std::u32string_view u) {
  std::string s;
  for (char32_t c : u) s += static_cast<char>(zema::fontout(zema::convert_from_unicode(c)));
  return s;
}

void report(const char* what, double ms, double base_ms, int found, int base_found) {
  std::printf("  %-34s %8.3f ms   plain C++ %8.3f ms   ratio %5.2f%s\n", what, ms, base_ms, ms / base_ms,
              found == base_found ? "" : "   RESULTS DIFFER");
}

}  // namespace

int main(int argc, char** argv) {
  const bool quick = argc > 1 && std::strcmp(argv[1], "--quick") == 0;
  const int lines = 100000, reps = quick ? 3 : 9;
  const std::string line = font(U"      R←XIO+data[index]×IOX⌈count ⍝ some words here\r");
  std::string text;
  text.reserve(line.size() * lines + 64);
  const std::string head = font(U"needle IO head\r");
  text += head;
  for (int i = 0; i < lines; ++i) text += line;
  text += font(U"the Needle and IO at the end\r");
  const int n = static_cast<int>(text.size());
  std::printf("%d lines, %d characters; one search over the whole text (best of %d)\n", lines, n, reps);

  zema::SearchOptions o;
  o.case_sensitive = true;
  o.wrap = false;
  int len = 0, found = 0, base_found = 0;
  const std::string needle = "Needle";

  double ms = best_ms(reps, [&] { return zema::SearchFor(text.data(), n, needle.c_str(), 1, o, nullptr, &len, nullptr); }, &found);
  double base = best_ms(reps, [&] { return static_cast<int>(text.find(needle, 1)); }, &base_found);
  report("literal down", ms, base, found, base_found);

  o.up = true;
  ms = best_ms(reps, [&] { return zema::SearchFor(text.data(), n, "needle", n - 1, o, nullptr, &len, nullptr); }, &found);
  base = best_ms(reps, [&] { return static_cast<int>(text.rfind("needle", static_cast<std::size_t>(n - 1))); },
                 &base_found);
  report("literal up", ms, base, found, base_found);

  o.up = false;
  o.case_sensitive = false;
  ms = best_ms(reps, [&] { return zema::SearchFor(text.data(), n, "NEEDLE", 1, o, nullptr, &len, nullptr); }, &found);
  base = best_ms(reps, [&] { return static_cast<int>(text.find(needle, 1)); }, &base_found);
  report("case-insensitive down", ms, base, found, base_found);
  const std::string upper = "NEEDLE";
  base = best_ms(reps, [&] {
    const auto fold = [](char a, char b) {
      return std::tolower(static_cast<unsigned char>(a)) == std::tolower(static_cast<unsigned char>(b));
    };
    const auto it = std::search(text.begin() + 1, text.end(), upper.begin(), upper.end(), fold);
    return it == text.end() ? -1 : static_cast<int>(it - text.begin());
  }, &base_found);
  report("  against std::search, folding", ms, base, found, base_found);

  o.case_sensitive = true;
  o.whole_word = true;
  // "IO" stands twice in every line, inside XIO and IOX, never as a word.
  ms = best_ms(reps, [&] { return zema::SearchFor(text.data(), n, "IO", static_cast<int>(head.size()), o, nullptr, &len, nullptr); },
               &found);
  base = best_ms(reps, [&] {
    for (std::size_t p = text.find("IO", head.size()); p != std::string::npos; p = text.find("IO", p + 1)) {
      const bool before = p == 0 || zema::IsDelimiter(static_cast<unsigned char>(text[p - 1]));
      const bool after = p + 2 >= text.size() || zema::IsDelimiter(static_cast<unsigned char>(text[p + 2]));
      if (before && after) return static_cast<int>(p);
    }
    return -1;
  }, &base_found);
  report("whole word down (many rejected hits)", ms, base, found, base_found);
  return 0;
}
