#include "interpreter/reader/numlit.h"

#include <cfloat>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <limits>

#include "interpreter/reader/entry_errors.h"
#include "interpreter/workspace/errors.h"

namespace zema {

namespace {

constexpr std::uint8_t kE = 0x65;
constexpr std::uint8_t kLowerE = 0xE5;

// Significant digits kept for the conversion. A double's nearest value is
// decided by its first 768 significant digits and whether any later digit
// is non-zero, so longer numbers keep 800 digits and a sticky 1.
constexpr std::size_t kMaxDigits = 800;

constexpr std::uint32_t kShortCountLimit = 0xFFFF;

void put_be32(Ws ws, std::uint32_t off, std::uint32_t v) {
  ws[off] = static_cast<std::uint8_t>(v >> 24);
  ws[off + 1] = static_cast<std::uint8_t>(v >> 16);
  ws[off + 2] = static_cast<std::uint8_t>(v >> 8);
  ws[off + 3] = static_cast<std::uint8_t>(v);
}

std::uint64_t get_be64(Ws ws, std::uint32_t off) {
  std::uint64_t v = 0;
  for (int i = 0; i < 8; ++i) v = (v << 8) | ws[off + i];
  return v;
}

void put_be64(Ws ws, std::uint32_t off, std::uint64_t v) {
  for (int i = 7; i >= 0; --i) {
    ws[off + i] = static_cast<std::uint8_t>(v);
    v >>= 8;
  }
}

double double_at(Ws ws, std::uint32_t off) {
  std::uint64_t bits = get_be64(ws, off);
  double d;
  std::memcpy(&d, &bits, 8);
  return d;
}

bool conversion_mode(Ws ws) { return (rd8(ws, hdr::ResultBits) & kConversionMode) != 0; }

std::uint32_t element_bytes(std::uint8_t type, std::uint32_t n) {
  switch (type) {
    case TT_BOOL: return n == 0 ? 0 : ((n - 1) / 32 + 1) * 4;
    case TT_INT: return 4 * n;
    default: return 8 * n;
  }
}

// Writes count and tag after `elements` bytes of a literal that starts at
// the token cursor and commits the literal.
// In conversion mode only the elements are kept, without a trailer.
void close_literal(LexCursor& c, std::uint32_t n, std::uint8_t type, Ws ws) {
  if (n == 0) return;
  const std::uint32_t start = c.token;
  const std::uint32_t elements = element_bytes(type, n);
  wr32(ws, numhdr::Count, n);
  wr32(ws, numhdr::Start, start);
  wr8(ws, numhdr::Type, type);
  if (conversion_mode(ws)) {
    c.token = start + elements;
    return;
  }
  const std::uint32_t at = set_count_and_tag(ws, start + elements, n, type);
  lenbmp(c, at - start, ws);
}

// Closes a literal whose numbers were stored as doubles from the token
// cursor: booleans and integers are rewritten in place (they are shorter).
void numcls(LexCursor& c, std::uint32_t n, std::uint32_t flags, Ws ws) {
  if (n == 0) return;
  const std::uint32_t start = c.token;
  std::uint8_t type = TT_FLOAT;
  if (!(flags & nf::Float)) {
    if (flags & nf::NotBoolean) {
      type = TT_INT;
      for (std::uint32_t k = 0; k < n; ++k)
        put_be32(ws, start + 4 * k, static_cast<std::uint32_t>(static_cast<std::int32_t>(double_at(ws, start + 8 * k))));
    } else {
      type = TT_BOOL;
      std::uint32_t word = 0;
      for (std::uint32_t k = 0; k < n; ++k) {
        if (double_at(ws, start + 8 * k) != 0) word |= 0x80000000u >> (k % 32);
        if (k % 32 == 31 || k == n - 1) {
          put_be32(ws, start + 4 * (k / 32), word);
          word = 0;
        }
      }
    }
  }
  close_literal(c, n, type, ws);
}

// Lack of room for one more number: an entry error, or in conversion mode
// the execution-time WS FULL.
[[noreturn]] void no_room(LexCursor& c, std::uint32_t n, std::uint32_t flags, Ws ws) {
  if (conversion_mode(ws)) {
    wr8(ws, hdr::ResultBits, rd8(ws, hdr::ResultBits) & ~kConversionMode);
    ws_full(ws);
  }
  numcls(c, n, flags, ws);
  entry::wsfull(c.mark, c.token, ws);
}

// Plain integers in 32-bit arithmetic: one or more runs of digits, each
// with an optional leading ¯, apart by blanks, the last ended by the end of
// the text or a character that cannot continue a number (a name, a
// function, a parenthesis …). Answers the status, or -1, having written
// nothing that counts, for anything the general scan must read: a decimal
// point, an exponent, a ¯ not followed by a digit or after digits, a value
// beyond 32 bits, only 0s and 1s (a boolean literal), no room.
int fast_scan_integer(LexCursor& c, Ws ws) {
  const std::uint8_t* s = c.text;
  const std::size_t len = c.remaining;
  const bool limited = !c.long_form && !conversion_mode(ws);
  std::size_t i = 0;
  std::uint32_t n = 0;
  std::uint32_t at = c.token;
  std::uint32_t beyond_boolean = 0;
  for (;;) {
    bool negative = false;
    if (s[i] == ich::HighMinus) {
      negative = true;
      if (++i >= len) return -1;
    }
    if (!cmpdig(s[i])) return -1;
    std::uint32_t v = 0;
    for (; i < len && cmpdig(s[i]); ++i) {
      std::uint32_t d = s[i] - 0x30;
      if (v > 214748364 || (v == 214748364 && d > (negative ? 8u : 7u))) return -1;
      v = v * 10 + d;
    }
    if (i < len) {
      const std::uint8_t next = s[i];
      if (next == ich::HighMinus || next == ich::Point || next == kE || next == kLowerE) return -1;
    }
    if (!ckwsf2(at, 0, ws)) return -1;
    if (limited && n + 1 >= kShortCountLimit) return -1;
    beyond_boolean |= negative || v > 1;
    put_be32(ws, at, negative ? 0u - v : v);
    at += 4;
    ++n;
    while (i < len && is_blank(s[i])) ++i;
    if (i >= len || !cmpnum(s[i])) break;
  }
  if (!beyond_boolean) return -1;
  c.mark = c.text;
  c.text += i;
  c.remaining -= static_cast<std::uint32_t>(i);
  close_literal(c, n, TT_INT, ws);
  return c.remaining == 0 ? NUM_END : NUM_NEXT;
}

}  // namespace

double numend(std::uint32_t& flags, std::uint64_t mantissa, const char* digits, std::size_t ndigits,
              std::int64_t exponent10) {
  if (mantissa == 0) return 0.0;
  constexpr std::uint64_t k2p31 = 0x80000000u;
  if ((mantissa >> 32) != 0 || (flags & nf::ExpRange) ||
      (mantissa >= k2p31 && !((flags & nf::Negative) && mantissa == k2p31)))
    flags |= nf::Float;
  if (static_cast<std::uint32_t>(mantissa) > 1) flags |= nf::NotBoolean;

  double v;
  if (flags & nf::ExpRange) {
    v = (flags & nf::ExpNegative) ? 0.0 : DBL_MAX;
  } else {
    // digits × 10^exponent10 as "DDDDeX": no decimal point, so the
    // conversion does not depend on the locale.
    char buf[kMaxDigits + 32];
    std::size_t nd = ndigits < kMaxDigits + 1 ? ndigits : kMaxDigits + 1;
    std::memcpy(buf, digits, nd);
    std::snprintf(buf + nd, sizeof buf - nd, "e%lld", static_cast<long long>(exponent10));
    v = std::strtod(buf, nullptr);
    if (std::isinf(v)) v = DBL_MAX;
  }
  if (v != 0 && (flags & nf::Negative)) v = -v;
  return v;
}

ScannedNumber scan_one_number(const std::uint8_t* s, std::size_t len, std::size_t& i, std::uint32_t literal_flags) {
  std::uint32_t f = literal_flags & nf::LiteralFlags;
  std::uint64_t mantissa = 0;
  std::int32_t exponent = 0;  // of the mantissa, as its digits were taken
  char digits[kMaxDigits + 1];
  std::size_t nd = 0;
  std::int64_t exponent10 = 0;  // of all the digits
  bool sticky = false;
  bool exponent_read = false;
  std::int64_t written = 0;  // the exponent after E

  while (i < len) {
    const std::uint8_t ch = s[i];
    if (ch == ich::HighMinus) {
      bool opens = !(f & nf::Started) &&
                   ((i + 1 < len && cmpdig(s[i + 1])) || (i + 2 < len && s[i + 1] == ich::Point && cmpdig(s[i + 2])));
      if (!opens) {
        f |= nf::Stray;
        break;
      }
      f |= nf::Negative | nf::Started | nf::NotBoolean;
      ++i;
      continue;
    }
    if (ch == ich::Point) {
      // A "." after the exponent cannot belong to the number either.
      if (exponent_read || (f & nf::Point) || (!(f & nf::Digit) && !(i + 1 < len && cmpdig(s[i + 1])))) {
        f |= nf::Stray;
        break;
      }
      f |= nf::Point | nf::Started | nf::Float;
      ++i;
      continue;
    }
    if (exponent_read) break;
    if (cmpdig(ch)) {
      const std::uint32_t d = ch - 0x30;
      f |= nf::Digit | nf::Started;
      ++i;
      if (!(f & nf::Significant) && d == 0) {
        if (f & nf::Point) {
          --exponent;
          --exponent10;
        }
        continue;
      }
      f |= nf::Significant;
      if (mantissa <= (std::numeric_limits<std::uint64_t>::max() - d) / 10) {
        mantissa = mantissa * 10 + d;
        if (f & nf::Point) --exponent;
      } else if (!(f & nf::Point)) {
        ++exponent;
      }
      if (nd < kMaxDigits) {
        digits[nd++] = static_cast<char>(ch);
        if (f & nf::Point) --exponent10;
      } else {
        if (d != 0) sticky = true;
        if (!(f & nf::Point)) ++exponent10;
      }
      continue;
    }
    if ((ch == kE || ch == kLowerE) && (f & nf::Digit)) {
      std::size_t j = i + 1;
      bool negative = false;
      if (j < len && s[j] == ich::HighMinus) {
        negative = true;
        ++j;
      }
      if (j >= len || !cmpdig(s[j])) break;  // the letter is handed back
      std::int32_t e = 0;
      for (; j < len && cmpdig(s[j]); ++j) {
        if (f & nf::ExpRange) continue;
        e = e * 10 + (s[j] - 0x30);
        if (e > 399) f |= nf::ExpRange;
      }
      i = j;
      exponent_read = true;
      f |= nf::Float;
      if (negative) f |= nf::ExpNegative;
      written = negative ? -e : e;
      if (!(f & nf::ExpRange)) {
        std::int64_t sum = exponent + written;
        if (sum < std::numeric_limits<std::int16_t>::min() || sum > std::numeric_limits<std::int16_t>::max())
          f |= nf::ExpRange;
        else
          exponent = static_cast<std::int32_t>(sum);
      }
      continue;
    }
    break;
  }

  if (sticky) {
    digits[nd++] = '1';
    --exponent10;
  }
  ScannedNumber r;
  r.mantissa = mantissa;
  r.exponent = exponent;
  if (f & nf::Started) r.value = numend(f, mantissa, digits, nd, exponent10 + written);
  r.flags = f;
  return r;
}

NumericStatus do_numeric_scan(LexCursor& c, Ws ws) {
  if (const int r = fast_scan_integer(c, ws); r >= 0) return static_cast<NumericStatus>(r);

  const std::uint8_t* s = c.text;
  const std::size_t len = c.remaining;
  const bool limited = !c.long_form && !conversion_mode(ws);
  std::size_t i = 0;
  std::uint32_t flags = 0;
  std::uint32_t n = 0;
  auto stop_at = [&](std::size_t k) {
    c.text = s + k;
    c.remaining = static_cast<std::uint32_t>(len - k);
  };
  for (;;) {
    const std::size_t number_start = i;
    ScannedNumber number = scan_one_number(s, len, i, flags);
    flags = number.flags;
    if (flags & nf::Started) {
      c.mark = s + number_start;
      const std::uint32_t at = c.token + 8 * n;
      if (!ckwsf2(at, 0, ws)) {
        stop_at(number_start);
        no_room(c, n, flags, ws);
      }
      if (limited && n + 1 >= kShortCountLimit) {
        stop_at(number_start);
        numcls(c, n, flags, ws);
        entry::limit(c.mark, c.token, ws);
      }
      std::uint64_t bits;
      std::memcpy(&bits, &number.value, 8);
      put_be64(ws, at, bits);
      ++n;
    }
    if (flags & nf::Stray) {
      stop_at(i);
      numcls(c, n, flags, ws);
      return NUM_STRAY;
    }
    if (i < len && !is_blank(s[i])) {
      stop_at(i);
      numcls(c, n, flags, ws);
      return NUM_NEXT;
    }
    while (i < len && is_blank(s[i])) ++i;
    if (i >= len) {
      stop_at(len);
      numcls(c, n, flags, ws);
      return NUM_END;
    }
    if (!cmpnum(s[i])) {
      stop_at(i);
      numcls(c, n, flags, ws);
      return NUM_NEXT;
    }
  }
}

}  // namespace zema
