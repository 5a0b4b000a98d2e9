#include "host/utilities.h"

#include <cmath>
#include <cstdio>
#include <cstring>

#include "host/charset.h"

namespace zema {

bool check_valid_name_for_symbol(const char* name, bool dots) {
  const auto* p = reinterpret_cast<const std::uint8_t*>(name);
  if (!*p) return false;
  for (std::size_t i = 0; p[i]; ++i) {
    const int c = p[i] & 0x7F;
    const bool last = p[i + 1] == 0;
    if (c >= 0x61 && c <= 0x7B) continue;
    if (c == 0x7E) {  // $: the two characters after it are taken as they are
      if (last || !p[i + 2]) return false;
      i += 2;
      continue;
    }
    if (i == 0) return false;
    if (c == 0x40 || c == 0x46 || (c >= 0x30 && c <= 0x39)) continue;
    if (c == 0x2E && dots && !last) continue;
    return false;
  }
  return true;
}

std::string format_flt(double x) {
  char buf[64];
  const double a = std::fabs(x);
  const bool e_form = a > 1e9 || (x != 0 && a < 1e-6);
  std::snprintf(buf, sizeof buf, e_form ? "%.10E" : "%.10f", x);
  std::string s = buf;
  const char high_minus = static_cast<char>(fontout(0x40));
  if (!e_form) {
    if (s.find('.') != std::string::npos) {
      while (s.back() == '0') s.pop_back();
      if (s.back() == '.') s.pop_back();
    }
  } else {
    const std::size_t e = s.find('E');
    std::string mantissa = s.substr(0, e), exponent = s.substr(e + 1);
    while (mantissa.back() == '0') mantissa.pop_back();
    if (mantissa.back() == '.') mantissa.pop_back();
    bool negative = false;
    if (exponent[0] == '+' || exponent[0] == '-') {
      negative = exponent[0] == '-';
      exponent.erase(0, 1);
    }
    while (exponent.size() > 1 && exponent[0] == '0') exponent.erase(0, 1);
    s = mantissa + "E" + (negative ? std::string(1, high_minus) : "") + exponent;
  }
  if (s[0] == '-') s[0] = high_minus;
  return s;
}

void report_error(const char* text, char* dst) {
  if (!dst) {
    std::fprintf(stderr, "%s\n", text);
    return;
  }
  string_font_to_internal(text, dst, 256);
}

void get_quadai(int record[7]) {
  for (int k = 0; k < 7; ++k) record[k] = 0;
  record[4] = 700;
}

}  // namespace zema
