// Software 80-bit extended arithmetic; see extended80.h for the format.
#include "interpreter/workspace/extended80.h"

#include <bit>
#include <cstring>

namespace zema {

namespace {

constexpr int kBias = Extended80::kBias;
// Difference between the extended and the double exponent biases.
constexpr int kDoubleRebias = 16383 - 1023;
// Largest biased exponent a result may carry; 0 is reserved for zero.
constexpr int kMaxBiased = 0x7FFF;

constexpr std::uint16_t sign_of(const Extended80& x) {
    return x.exp_word & Extended80::kSignBit;
}

// Builds a non-zero result from an unbiased exponent, a normalised mantissa
// and a sign; false when the biased exponent does not fit 1..32767.
bool pack_result(int unbiased, std::uint64_t mantissa, std::uint16_t sign, Extended80& z) {
    if (mantissa == 0) {
        z = Extended80{};
        return true;
    }
    const int biased = unbiased + kBias;
    if (biased < 1 || biased > kMaxBiased) return false;
    z = Extended80::make(static_cast<std::uint16_t>(biased | sign), mantissa);
    return true;
}

// Top 64 bits of the 128-bit product, from the four 32 × 32 partial products
// (carries out of the lower half included).
std::uint64_t mul_high64(std::uint64_t a, std::uint64_t b) {
    constexpr std::uint64_t kLow32 = 0xFFFFFFFFu;
    const std::uint64_t a0 = a & kLow32, a1 = a >> 32;
    const std::uint64_t b0 = b & kLow32, b1 = b >> 32;
    const std::uint64_t p00 = a0 * b0;
    const std::uint64_t p01 = a0 * b1;
    const std::uint64_t p10 = a1 * b0;
    const std::uint64_t p11 = a1 * b1;
    const std::uint64_t mid = (p00 >> 32) + (p01 & kLow32) + (p10 & kLow32);
    return p11 + (p01 >> 32) + (p10 >> 32) + (mid >> 32);
}

}  // namespace

// ---------------------------------------------------------------------------
// Memory form

const std::uint8_t* xto(const std::uint8_t* p, Extended80& reg) {
    reg = load_x80(p);
    return p + kExtended80Bytes;
}

std::uint8_t* tox(std::uint8_t* p, const Extended80& reg) {
    store_x80(p, reg);
    return p + kExtended80Bytes;
}

std::uint8_t* move0(std::uint8_t* p) { return tox(p, x80const::fpzero); }

std::uint8_t* move1(std::uint8_t* p) { return tox(p, x80const::one); }

// ---------------------------------------------------------------------------
// Conversions

Extended80 intflt(std::int32_t value) {
    if (value == 0) return Extended80{};
    const bool negative = value < 0;
    // Magnitude as unsigned so that -2147483648 needs no special case.
    std::uint32_t magnitude = negative ? 0u - static_cast<std::uint32_t>(value)
                                       : static_cast<std::uint32_t>(value);
    const int shifts = std::countl_zero(magnitude);
    magnitude <<= shifts;
    const int biased = kBias + 31 - shifts;
    return Extended80{static_cast<std::uint16_t>(biased | (negative ? Extended80::kSignBit : 0)),
                      magnitude, 0};
}

bool fltint(const Extended80& x, std::int32_t& out) {
    int e = x.exponent() - kBias;
    if (e < -46) {  // below 2^-46: counts as zero
        out = 0;
        return true;
    }
    // Round at bit 19 of the low word: a value within 0x80000 units of an
    // integer boundary of the low word is pulled onto it.
    std::uint32_t hi = x.mant_hi;
    std::uint32_t lo = x.mant_lo + 0x7FFFFu;
    if (lo < x.mant_lo) {  // carry out of the low word
        if (++hi == 0) {   // carry out of the high word: mantissa becomes 2^63
            hi = 0x80000000u;
            lo = 0;
            ++e;
        }
    }
    if ((lo & 0xFFF00000u) != 0) return false;  // fraction in the low word
    const bool negative = x.negative();
    if (e < 0 || e > 31) return false;
    // At e = 31 only -2^31 is in range.
    if (e == 31 && (!negative || hi != 0x80000000u)) return false;
    if (e < 31 && (hi & (0xFFFFFFFFu >> (e + 1))) != 0) return false;  // fraction
    const std::uint32_t magnitude = hi >> (31 - e);
    out = static_cast<std::int32_t>(negative ? 0u - magnitude : magnitude);
    return true;
}

Extended80 fltdbl(std::uint32_t high_word, std::uint32_t low_word) {
    const std::uint16_t sign = (high_word & 0x80000000u) ? Extended80::kSignBit : 0;
    const int field = static_cast<int>((high_word >> 20) & 0x7FF);
    if (field == 0) {
        // Zero, or a subnormal: fraction × 2^-1074, normalised.
        const std::uint64_t fraction = (std::uint64_t{high_word & 0xFFFFFu} << 32) | low_word;
        if (fraction == 0) return Extended80{};
        const int shift = std::countl_zero(fraction);
        return Extended80::make(static_cast<std::uint16_t>((kDoubleRebias + 12 - shift) | sign),
                                fraction << shift);
    }
    return Extended80{static_cast<std::uint16_t>((field + kDoubleRebias) | sign),
                      0x80000000u | (high_word << 11) | (low_word >> 21), low_word << 11};
}

Extended80 fltdb(double d) {
    std::uint64_t bits;
    std::memcpy(&bits, &d, sizeof bits);
    return fltdbl(static_cast<std::uint32_t>(bits >> 32), static_cast<std::uint32_t>(bits));
}

bool dblflt(const Extended80& x, double& out) {
    if (x.exp_word == 0) {
        out = 0.0;
        return true;
    }
    const int field = x.exponent() - kDoubleRebias;
    if (field > 2046) return false;
    std::uint64_t bits;
    if (field >= 1) {
        bits = (static_cast<std::uint64_t>(field) << 52) | ((x.mantissa() >> 11) & ((std::uint64_t{1} << 52) - 1));
    } else {
        // Below the normal range: a subnormal, truncated; +0 when nothing
        // is left.
        const int shift = 12 - field;
        bits = shift < 64 ? x.mantissa() >> shift : 0;
        if (bits == 0) {
            out = 0.0;
            return true;
        }
    }
    bits |= std::uint64_t{x.negative()} << 63;
    std::memcpy(&out, &bits, sizeof out);
    return true;
}

bool dblint(std::uint32_t high_word, std::uint32_t low_word, std::int32_t& out) {
    return fltint(fltdbl(high_word, low_word), out);
}

bool dblint(double d, std::int32_t& out) { return fltint(fltdb(d), out); }

double intdbl(std::int32_t value) {
    double d = 0.0;
    // Every 32-bit integer lies well inside the double range.
    [[maybe_unused]] const bool ok = dblflt(intflt(value), d);
    return d;
}

// ---------------------------------------------------------------------------
// Arithmetic

MagnitudeOrder gtlrg(const Extended80& l, const Extended80& r) {
    const bool left = l.exponent() != r.exponent() ? l.exponent() > r.exponent()
                                                   : l.mantissa() >= r.mantissa();
    return left ? MagnitudeOrder{l, r, true} : MagnitudeOrder{r, l, false};
}

Extended80 neg(const Extended80& x) {
    if (x.exp_word == 0) return x;
    Extended80 n = x;
    n.exp_word ^= Extended80::kSignBit;
    return n;
}

bool plusd(const Extended80& l, const Extended80& r, Extended80& z) {
    const MagnitudeOrder ord = gtlrg(l, r);
    const Extended80& big = ord.larger;
    const Extended80& small = ord.smaller;
    if (small.exp_word == 0) {
        z = big;
        return true;
    }
    const int d = big.exponent() - small.exponent();
    if (d > 61) {
        z = big;
        return true;
    }
    // Signed fixed point with two guard bits at the top; the two lowest
    // mantissa bits are dropped.
    std::int64_t a = static_cast<std::int64_t>(big.mantissa() >> 2);
    std::int64_t b = static_cast<std::int64_t>(small.mantissa() >> 2);
    if (big.negative()) a = -a;
    if (small.negative()) b = -b;
    b >>= d;  // arithmetic: a negative operand is truncated towards -infinity
    std::int64_t sum = a + b;
    std::uint16_t sign = 0;
    if (sum < 0) {
        sum = -sum;
        sign = Extended80::kSignBit;
    }
    if (sum == 0) {
        z = Extended80{};
        return true;
    }
    std::uint64_t m = static_cast<std::uint64_t>(sum);
    const int k = std::countl_zero(m);
    m <<= k;
    return pack_result(big.exponent() - kBias + 2 - k, m, sign, z);
}

bool minusd(const Extended80& l, const Extended80& r, Extended80& z) {
    return plusd(l, neg(r), z);
}

bool fmult(const Extended80& l, const Extended80& r, Extended80& z) {
    if (l.exp_word == 0 || r.exp_word == 0) {
        z = Extended80{};
        return true;
    }
    std::uint64_t m = mul_high64(l.mantissa(), r.mantissa());
    int e = (l.exponent() - kBias) + (r.exponent() - kBias);
    if ((m >> 63) == 0)
        m <<= 1;  // a 0 enters at the bottom; the product's lower half is not consulted
    else
        ++e;
    return pack_result(e, m, sign_of(l) ^ sign_of(r), z);
}

bool fdiv(const Extended80& l, const Extended80& r, Extended80& z) {
    // Restoring division of the mantissas, each first shifted right by 1.
    const std::uint64_t divisor = r.mantissa() >> 1;
    std::uint64_t rem = l.mantissa() >> 1;
    std::uint64_t q = 0;
    for (int step = 0; step < 64; ++step) {
        q = (q << 1) | 1;
        if (rem < divisor)
            q &= ~std::uint64_t{1};
        else
            rem -= divisor;
        rem <<= 1;
    }
    int e = (l.exp_word == 0 ? 0 : l.exponent() - kBias) - (r.exponent() - kBias);
    if ((q >> 63) == 0) {
        q <<= 1;  // a 0 enters at the bottom
        --e;
    }
    return pack_result(e, q, sign_of(l) ^ sign_of(r), z);
}

bool divdd(const Extended80& l, const Extended80& r, Extended80& z) {
    if (r.exp_word != 0 || r.mant_hi != 0) return fdiv(l, r, z);
    if (l.exp_word != 0) return false;  // non-zero ÷ 0
    z = x80const::one;                   // 0 ÷ 0
    return true;
}

bool divd_4(const Extended80& r, Extended80& z) { return divdd(x80const::one, r, z); }

}  // namespace zema
