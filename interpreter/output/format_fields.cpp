#include "interpreter/output/format_fields.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "host/charset.h"
#include "interpreter/workspace/sysvar_slots.h"

namespace zema {

namespace {

// The first `want` significant digits of |x| (want ≤ 780) and the decimal
// exponent of the first, from the C library's conversion, which is exact
// up to the last digit it writes (rounded there).
int leading_digits(double ax, int want, char* buf, std::size_t size, std::uint8_t* digits) {
  std::snprintf(buf, size, "%.*e", want - 1, ax);
  const char* p = buf;
  int n = 0;
  for (; *p && *p != 'e'; ++p)
    if (*p >= '0' && *p <= '9') digits[n++] = static_cast<std::uint8_t>(*p - '0');
  return *p == 'e' ? std::atoi(p + 1) : 0;
}

}  // namespace

void decimal_of(double x, int sig, DecimalDigits& out) {
  out = DecimalDigits{};
  if (sig < 1) sig = 1;
  if (sig > kFormatDigits) sig = kFormatDigits;
  if (!std::isfinite(x)) x = x < 0 ? -1.7976931348623157e308 : 1.7976931348623157e308;
  if (x == 0) return;
  out.negative = x < 0;
  const double ax = std::fabs(x);
  // Seventeen digits decide the rounding at `sig` half away from zero,
  // unless they read as an exact half there (5 then zeros): that may be
  // the conversion's own rounding, so the whole exact expansion decides.
  char buf[40];
  std::uint8_t d[24];
  int e = leading_digits(ax, 17, buf, sizeof buf, d);
  bool half = d[sig] == 5;
  for (int i = sig + 1; i < 17 && half; ++i) half = d[i] == 0;
  if (half) {
    char big[800];
    std::uint8_t all[781];
    e = leading_digits(ax, 780, big, sizeof big, all);
    std::memcpy(d, all, static_cast<std::size_t>(sig) + 1);
  }
  std::memcpy(out.d, d, static_cast<std::size_t>(sig));
  out.point = e + 1;
  if (d[sig] >= 5) {
    int i = sig - 1;
    while (i >= 0 && out.d[i] == 9) out.d[i--] = 0;
    if (i < 0) {
      out.d[0] = 1;
      ++out.point;
    } else {
      ++out.d[i];
    }
  }
  int n = sig;
  while (n > 0 && out.d[n - 1] == 0) --n;
  out.n = n;
}

void decimal_of_int(std::int64_t x, DecimalDigits& out) {
  out = DecimalDigits{};
  if (x == 0) return;
  out.negative = x < 0;
  std::uint64_t m = x < 0 ? 0 - static_cast<std::uint64_t>(x) : static_cast<std::uint64_t>(x);
  std::uint8_t rev[24];
  int k = 0;
  for (; m != 0; m /= 10) rev[k++] = static_cast<std::uint8_t>(m % 10);
  out.point = k;
  for (int i = 0; i < k; ++i) out.d[i] = rev[k - 1 - i];
  while (k > 0 && out.d[k - 1] == 0) --k;
  out.n = k;
}

void round_significant(DecimalDigits& x, int sig) {
  if (x.n <= sig) return;
  if (sig < 0) {
    x.n = 0;
    return;
  }
  const bool up = x.d[sig] >= 5;
  x.n = sig;
  if (up) {
    int i = sig - 1;
    while (i >= 0 && x.d[i] == 9) x.d[i--] = 0;
    if (i < 0) {
      x.d[0] = 1;
      x.n = 1;
      ++x.point;
    } else {
      ++x.d[i];
    }
  }
  while (x.n > 0 && x.d[x.n - 1] == 0) --x.n;
}

void round_decimals(DecimalDigits& x, int decimals) {
  if (x.n == 0) return;
  const long keep = static_cast<long>(x.point) + decimals;  // digits kept
  if (keep >= x.n) return;
  if (keep < 0) {
    x.n = 0;
    return;
  }
  if (keep == 0) {
    // Only the rounding digit is left: 0.5 and above becomes one unit.
    if (x.d[0] >= 5) {
      x.d[0] = 1;
      x.n = 1;
      ++x.point;
    } else {
      x.n = 0;
    }
    return;
  }
  round_significant(x, static_cast<int>(keep));
}

const FormatChars& fchars() {
  static const FormatChars k = [] {
    FormatChars c{};
    auto u = [](char32_t ch) { return convert_from_unicode(static_cast<std::uint32_t>(ch)); };
    c.blank = u(U' ');
    c.point = u(U'.');
    c.comma = u(U',');
    c.star = u(U'*');
    c.minus_high = u(U'¯');
    c.minus = u(U'-');
    c.plus = u(U'+');
    c.zero = u(U'0');
    c.letter_e = u(U'E');
    c.left_paren = u(U'(');
    c.right_paren = u(U')');
    c.lt = u(U'<');
    c.gt = u(U'>');
    c.enclose = u(U'⊂');
    c.disclose = u(U'⊃');
    c.dieresis = u(U'¨');
    c.quad = u(U'⎕');
    c.quote_quad = u(U'⍞');
    c.quote = u(U'\'');
    c.semicolon = u(U';');
    c.underbar = u(U'_');
    c.floor_sym = u(U'⌊');
    c.stile = u(U'|');
    c.letter_a = u(U'A');
    return c;
  }();
  return k;
}

std::uint8_t get_qfc(int i, Ws ws) {
  static constexpr char32_t kDefaults[6] = {U'.', U',', U'*', U'0', U'_', U'¯'};
  const std::uint32_t v = rd32(ws, sysvar_value_word(sysvar::FC));
  if (v != 0 && rd8(ws, v + obj::Type) == ET_CHAR) {
    const std::uint32_t rank = rd16(ws, v + obj::Rank4) / 4;
    const std::uint32_t count = rank == 0 ? 1 : rd32(ws, v + obj::Shape);
    if (rank <= 1 && static_cast<std::uint32_t>(i) < count && (rank == 1 || i == 0))
      return rd8(ws, v + obj::Shape + 4 * rank + static_cast<std::uint32_t>(i));
  }
  return convert_from_unicode(static_cast<std::uint32_t>(kDefaults[i]));
}

std::uint64_t fixed_length(const DecimalDigits& x, int p) {
  std::uint64_t len = x.n != 0 && x.negative ? 1 : 0;
  const int ints = integer_digits(x);
  if (ints > 0)
    len += static_cast<std::uint64_t>(ints);
  else if (p == 0)
    len += 1;
  if (p > 0) len += 1 + static_cast<std::uint64_t>(p);
  return len;
}

void write_fixed(const DecimalDigits& x, int p, std::uint8_t point, std::uint8_t minus, FieldWriter& w) {
  const std::uint8_t zero = fchars().zero;
  // Decimals right to left: digit index point + k − 1 for decimal k (1-based).
  for (int k = p; k >= 1 && !w.overflow; --k) {
    const long idx = static_cast<long>(x.point) + k - 1;
    w.put(static_cast<std::uint8_t>(zero + (idx >= 0 && idx < x.n ? x.d[idx] : 0)));
  }
  if (p > 0) w.put(point);
  const int ints = integer_digits(x);
  if (ints > 0) {
    for (int i = ints - 1; i >= 0 && !w.overflow; --i) w.put(static_cast<std::uint8_t>(zero + digit_at(x, i)));
  } else if (p == 0) {
    w.put(zero);
  }
  if (x.n != 0 && x.negative) w.put(minus);
}

std::uint64_t thorn_width(double v, bool integer, int p) {
  if (p < 0) {
    const std::uint64_t q = static_cast<std::uint64_t>(-static_cast<std::int64_t>(p));
    return q + (q == 1 ? 0 : 1) + (v < 0 ? 1 : 0) + 5;
  }
  DecimalDigits x;
  if (integer)
    decimal_of_int(static_cast<std::int64_t>(v), x);
  else
    decimal_of(v, kFormatDigits, x);
  round_decimals(x, p);
  const int ints = integer_digits(x);
  std::uint64_t len = ints == 0 ? static_cast<std::uint64_t>(p) + 1 : static_cast<std::uint64_t>(ints) + p + 1;
  if (v < 0) ++len;
  return len;
}

void write_exponent(double v, int digits, std::uint8_t point, std::uint8_t minus, FieldWriter& w) {
  const FormatChars& c = fchars();
  DecimalDigits x;
  decimal_of(v, digits, x);
  const int e = x.n == 0 ? 0 : x.point - 1;
  // Exponent part: three digits, high minus or trailing blank.
  if (e >= 0) w.put(c.blank);
  const int ae = e < 0 ? -e : e;
  for (int k = 0, t = ae; k < 3 || t != 0; ++k, t /= 10) w.put(static_cast<std::uint8_t>(c.zero + t % 10));
  if (e < 0) w.put(c.minus_high);
  w.put(c.letter_e);
  for (int k = digits - 1; k >= 1 && !w.overflow; --k) w.put(static_cast<std::uint8_t>(c.zero + digit_at(x, k)));
  if (digits > 1) w.put(point);
  w.put(static_cast<std::uint8_t>(c.zero + digit_at(x, 0)));
  if (x.negative) w.put(minus);
}

}  // namespace zema
