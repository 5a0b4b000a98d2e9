#include "interpreter/output/numfmt.h"

#include <algorithm>
#include <array>
#include <stdexcept>

#include "interpreter/workspace/sysvar_slots.h"
#include "interpreter/workspace/errors.h"
#include "interpreter/workspace/extended80.h"

namespace zema {

namespace {

// Digits shown while a token line is listed.
constexpr int kListingDigits = 15;

// Powers of ten used to scale a value into 64-bit integer range, largest
// first. 10^50, 10^100 and 10^200 lie a few units of the last place below
// the exact truncations; they are used as they are.
struct PowerOfTen {
  int power;
  Extended80 value;
};
constexpr std::array<PowerOfTen, 8> kPowers{{
    {200, {0x4297, 0xA738C6BE, 0xBB12D162}},
    {100, {0x414B, 0x924D692C, 0xA61BE754}},
    {50, {0x40A5, 0x88D8762B, 0xF324CD0E}},
    {25, {0x4052, 0x84595161, 0x401484A0}},
    {10, {0x4020, 0x9502F900, 0x00000000}},
    {5, {0x400F, 0xC3500000, 0x00000000}},
    {2, {0x4005, 0xC8000000, 0x00000000}},
    {1, {0x4002, 0xA0000000, 0x00000000}},
}};

// Binary exponents between which the scaled value, shifted, is a 64-bit
// integer of 18 to 20 decimal digits: [2^57, 2^64).
constexpr int kScaledLow = 0x4038;
constexpr int kScaledHigh = 0x403E;

int significant_digits(Ws ws) {
  if (state_has(st::ListDigits, ws)) return kListingDigits;
  return std::clamp(rdi32(ws, sysvar_value_word(sysvar::PP)), 1, 20);
}

std::uint32_t clear_text(Ws ws) {
  wr16(ws, hdr::TextCount, 0);
  return hdr::TextChars;
}

// The uncounted blank after the text.
void end_text(std::uint32_t cursor, Ws ws) { wr8(ws, cursor, numch::Blank); }

int decimal_exponent_of(std::uint32_t magnitude) {
  int e = 0;
  while (magnitude >= 10) {
    magnitude /= 10;
    ++e;
  }
  return e;
}

// The value of x when it is a whole number in the 32-bit range.
bool exact_int32(const Extended80& x, std::int32_t& out) {
  int e = x.exponent() - Extended80::kBias;
  if (e < 0 || e > 31) return false;
  std::uint64_t m = x.mantissa();
  if (e < 63 && (m << (e + 1)) != 0) return false;  // bits after the point
  std::uint64_t magnitude = m >> (63 - e);
  if (x.negative()) {
    if (magnitude > 0x80000000u) return false;
    out = static_cast<std::int32_t>(-static_cast<std::int64_t>(magnitude));
  } else {
    if (magnitude > 0x7FFFFFFFu) return false;
    out = static_cast<std::int32_t>(magnitude);
  }
  return true;
}

}  // namespace

std::uint32_t fmtce(std::uint8_t c, std::uint32_t cursor, Ws ws) {
  wr8(ws, cursor, c);
  wr16(ws, hdr::TextCount, rd16(ws, hdr::TextCount) + 1);
  return cursor + 1;
}

std::uint32_t fmtinx(std::int32_t value, std::uint32_t cursor, Ws ws) {
  std::uint32_t magnitude = static_cast<std::uint32_t>(value);
  if (value < 0) {
    cursor = fmtce(numch::Minus, cursor, ws);
    magnitude = 0u - magnitude;
  }
  char digits[10];
  int n = 0;
  do {
    digits[n++] = static_cast<char>(magnitude % 10);
    magnitude /= 10;
  } while (magnitude != 0);
  while (n > 0) cursor = fmtce(static_cast<std::uint8_t>(numch::Zero + digits[--n]), cursor, ws);
  return cursor;
}

void fmtint(std::int32_t value, Ws ws) { end_text(fmtinx(value, clear_text(ws), ws), ws); }

std::uint32_t fmtbin(std::uint32_t word, Ws ws) {
  std::uint32_t cursor = clear_text(ws);
  cursor = fmtce((word & 0x80000000u) ? numch::Zero + 1 : numch::Zero, cursor, ws);
  end_text(cursor, ws);
  return word << 1;
}

int fmtflt(std::uint32_t low_word, std::uint32_t high_word, int mode, Ws ws) {
  if ((high_word & 0x7FF00000u) == 0x7FF00000u) {
    // Infinity or NaN: the largest finite double of the same sign.
    high_word = (high_word & 0x80000000u) | 0x7FEFFFFFu;
    low_word = 0xFFFFFFFFu;
  }
  Extended80 x = fltdbl(high_word, low_word);
  return fmtfls(x.exp_word, x.mant_hi, x.mant_lo, mode, ws);
}

int fmtfle(std::uint16_t exp_word, std::uint32_t mant_hi, std::uint32_t mant_lo, int mode, Ws ws) {
  return fmtfls(exp_word, mant_hi, mant_lo, mode, ws);
}

int fmtfls(std::uint16_t exp_word, std::uint32_t mant_hi, std::uint32_t mant_lo, int mode, Ws ws) {
  const int digits = significant_digits(ws);
  const bool exponent_form = mode != 0;
  std::uint32_t cursor = clear_text(ws);
  Extended80 x{exp_word, mant_hi, mant_lo};

  if (x.exponent() == 0) {
    cursor = fmtce(numch::Zero, cursor, ws);
    if (exponent_form) {
      if (digits > 1) {
        cursor = fmtce(numch::Point, cursor, ws);
        for (int i = 1; i < digits; ++i) cursor = fmtce(numch::Zero, cursor, ws);
      }
      cursor = fmtce(numch::Exp, cursor, ws);
      cursor = fmtce(numch::Zero, cursor, ws);
    }
    end_text(cursor, ws);
    return 0;
  }

  if (!exponent_form) {
    std::int32_t whole;
    if (exact_int32(x, whole)) {
      fmtint(whole, ws);
      return decimal_exponent_of(whole < 0 ? 0u - static_cast<std::uint32_t>(whole) : static_cast<std::uint32_t>(whole));
    }
  }

  if (x.negative()) cursor = fmtce(numch::Minus, cursor, ws);
  x.exp_word &= Extended80::kExponentMask;

  // Scale into [2^57, 2^64): value = x × 10^scale throughout.
  int scale = 0;
  while (x.exponent() < kScaledLow) {
    auto p = kPowers.begin();
    Extended80 z;
    for (; p != kPowers.end(); ++p) {
      if (!fmult(x, p->value, z)) ZEMA_SYSTEM_ERROR(ws);
      if (z.exponent() <= kScaledHigh) break;
    }
    if (p == kPowers.end()) ZEMA_SYSTEM_ERROR(ws);
    x = z;
    scale -= p->power;
  }
  while (x.exponent() > kScaledHigh) {
    auto p = kPowers.begin();
    Extended80 z;
    for (; p != kPowers.end(); ++p) {
      if (!fdiv(x, p->value, z)) ZEMA_SYSTEM_ERROR(ws);
      if (z.exponent() >= kScaledLow) break;
    }
    if (p == kPowers.end()) ZEMA_SYSTEM_ERROR(ws);
    x = z;
    scale += p->power;
  }
  std::uint64_t n = x.mantissa() >> (kScaledHigh - x.exponent());

  // Decimal digits of the integer, most significant first.
  std::array<std::uint8_t, 20> all{};
  int nd = 0;
  for (std::uint64_t t = n; t != 0; t /= 10) ++nd;
  for (int i = nd - 1; i >= 0; --i, n /= 10) all[i] = static_cast<std::uint8_t>(n % 10);
  int point = nd + scale;  // digits before the decimal point

  // Keep `digits` digits; round up only when the dropped part exceeds half
  // a unit of the last kept digit.
  std::array<std::uint8_t, 20> d{};
  const int keep = std::min(digits, nd);
  std::copy(all.begin(), all.begin() + keep, d.begin());
  bool up = false;
  if (keep < nd) {
    if (all[keep] > 5)
      up = true;
    else if (all[keep] == 5)
      up = std::any_of(all.begin() + keep + 1, all.begin() + nd, [](std::uint8_t v) { return v != 0; });
  }
  if (up) {
    int i = keep - 1;
    while (i >= 0 && d[i] == 9) d[i--] = 0;
    if (i < 0) {
      d[0] = 1;
      ++point;
    } else {
      ++d[i];
    }
  }

  auto put_digit = [&](int i) { cursor = fmtce(static_cast<std::uint8_t>(numch::Zero + d[i]), cursor, ws); };
  const int exponent = point - 1;
  int last = digits - 1;  // last digit written
  if (!exponent_form) {
    while (last > 0 && d[last] == 0) --last;
    if (point > -4 && point <= digits) {
      if (point <= 0) {
        cursor = fmtce(numch::Zero, cursor, ws);
        cursor = fmtce(numch::Point, cursor, ws);
        for (int i = point; i < 0; ++i) cursor = fmtce(numch::Zero, cursor, ws);
        for (int i = 0; i <= last; ++i) put_digit(i);
      } else {
        for (int i = 0; i < point; ++i) put_digit(i);
        if (last >= point) {
          cursor = fmtce(numch::Point, cursor, ws);
          for (int i = point; i <= last; ++i) put_digit(i);
        }
      }
      end_text(cursor, ws);
      return exponent;
    }
  }
  put_digit(0);
  if (last >= 1) {
    cursor = fmtce(numch::Point, cursor, ws);
    for (int i = 1; i <= last; ++i) put_digit(i);
  }
  cursor = fmtce(numch::Exp, cursor, ws);
  cursor = fmtinx(exponent, cursor, ws);
  end_text(cursor, ws);
  return exponent;
}

std::uint32_t idiv(std::uint32_t* dividend, std::uint32_t divisor) {
  if (divisor == 0) throw std::domain_error("integer divide by zero");
  std::uint32_t remainder = *dividend % divisor;
  *dividend /= divisor;
  return remainder;
}

std::uint32_t idiv_skip(std::uint32_t* low, std::uint32_t high, std::uint32_t divisor) {
  if (divisor == 0) throw std::domain_error("integer divide by zero");
  std::uint64_t dividend = (std::uint64_t{high} << 32) | *low;
  *low = static_cast<std::uint32_t>(dividend / divisor);
  return static_cast<std::uint32_t>(dividend % divisor);
}

}  // namespace zema
