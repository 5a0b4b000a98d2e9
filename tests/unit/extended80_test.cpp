// Bit-exact tests of the software 80-bit extended real: format, conversions,
// truncating arithmetic and the constant table.
#include "interpreter/workspace/extended80.h"

#include <gtest/gtest.h>

#include <array>
#include <bit>
#include <cfloat>
#include <cmath>
#include <cstdio>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <ostream>
#include <string>
#include <vector>

namespace zema {

// Readable failures: exponent word, mantissa high, mantissa low in hex.
static void PrintTo(const Extended80& x, std::ostream* os) {
    char buf[40];
    std::snprintf(buf, sizeof buf, "%04X %08X %08X", unsigned{x.exp_word}, unsigned{x.mant_hi},
                  unsigned{x.mant_lo});
    *os << buf;
}

namespace {

using namespace x80const;

constexpr Extended80 X(std::uint16_t e, std::uint32_t hi, std::uint32_t lo) {
    return Extended80{e, hi, lo};
}

const Extended80 kZero{};
const Extended80 kTwo = X(0x4000, 0x80000000, 0);
const Extended80 kThree = X(0x4000, 0xC0000000, 0);
const Extended80 kMinusOne = X(0xBFFF, 0x80000000, 0);
const Extended80 kOnePlusUlp = X(0x3FFF, 0x80000000, 0x00000001);  // 1 + 2^-63
const Extended80 kAllOnes = X(0x3FFF, 0xFFFFFFFF, 0xFFFFFFFF);     // 2 - 2^-63

std::uint64_t bits(double d) { return std::bit_cast<std::uint64_t>(d); }
double from_bits(std::uint64_t b) { return std::bit_cast<double>(b); }

// ---------------------------------------------------------------------------
// Format and memory form

TEST(Extended80Format, StoredFormIsExponentWordThenHighThenLowAtAnyAlignment) {
    std::array<std::uint8_t, 13> buf{};
    buf.fill(0xEE);
    std::uint8_t* end = tox(buf.data() + 1, ct);  // deliberately misaligned
    EXPECT_EQ(end, buf.data() + 11);
    EXPECT_EQ(buf[0], 0xEE);
    EXPECT_EQ(buf[11], 0xEE);

    // Each field in the machine's byte order.
    std::array<std::uint8_t, 10> expected{};
    if constexpr (std::endian::native == std::endian::little)
        expected = {0xD3, 0x3F, 0x42, 0x13, 0x2E, 0xE1, 0x10, 0x0E, 0xB4, 0x4B};
    else
        expected = {0x3F, 0xD3, 0xE1, 0x2E, 0x13, 0x42, 0x4B, 0xB4, 0x0E, 0x10};
    EXPECT_EQ(0, std::memcmp(buf.data() + 1, expected.data(), 10));

    Extended80 back;
    EXPECT_EQ(xto(buf.data() + 1, back), buf.data() + 11);
    EXPECT_EQ(back, ct);
    EXPECT_EQ(load_x80(buf.data() + 1), ct);
}

TEST(Extended80Format, Move0AndMove1WriteZeroAndOneAndAdvanceByTen) {
    std::array<std::uint8_t, 21> buf{};
    buf.fill(0xAB);
    std::uint8_t* p = move1(move0(buf.data() + 1));
    EXPECT_EQ(p, buf.data() + 21);
    for (int i = 1; i <= 10; ++i) EXPECT_EQ(buf[i], 0) << i;
    EXPECT_EQ(load_x80(buf.data() + 1), kZero);
    EXPECT_EQ(load_x80(buf.data() + 11), X(0x3FFF, 0x80000000, 0));
    EXPECT_EQ(buf[0], 0xAB);
}

// ---------------------------------------------------------------------------
// Integer conversions

TEST(Extended80Convert, IntfltIsExact) {
    struct Case { std::int32_t in; Extended80 out; };
    const Case cases[] = {
        {0, kZero},
        {1, X(0x3FFF, 0x80000000, 0)},
        {-1, X(0xBFFF, 0x80000000, 0)},
        {2, X(0x4000, 0x80000000, 0)},
        {-5, X(0xC001, 0xA0000000, 0)},
        {10, X(0x4002, 0xA0000000, 0)},
        {100, X(0x4005, 0xC8000000, 0)},
        {100000, X(0x400F, 0xC3500000, 0)},
        {std::numeric_limits<std::int32_t>::max(), X(0x401D, 0xFFFFFFFE, 0)},
        {std::numeric_limits<std::int32_t>::min(), X(0xC01E, 0x80000000, 0)},
        {-2147483647, X(0xC01D, 0xFFFFFFFE, 0)},
    };
    for (const Case& c : cases) EXPECT_EQ(intflt(c.in), c.out) << c.in;
    EXPECT_EQ(intflt(2147483647), two31);
    EXPECT_EQ(intflt(1), one);
}

TEST(Extended80Convert, FltintAcceptsValuesWithinTheFuzzOfA32BitInteger) {
    struct Case { const char* what; Extended80 in; bool ok; std::int32_t out; };
    const Case cases[] = {
        {"0", kZero, true, 0},
        {"1", X(0x3FFF, 0x80000000, 0), true, 1},
        {"-7", X(0xC001, 0xE0000000, 0), true, -7},
        {"3 + 2^-46", X(0x4000, 0xC0000000, 0x00010000), true, 3},
        {"3 - 2^-46", X(0x4000, 0xBFFFFFFF, 0xFFFF0000), true, 3},
        {"3 + 2^-40", X(0x4000, 0xC0000000, 0x00400000), false, 0},
        {"3 + 0x80000 units", X(0x4000, 0xC0000000, 0x00080000), true, 3},
        {"3 + 0x80001 units", X(0x4000, 0xC0000000, 0x00080001), false, 0},
        {"3 - 0x7FFFF units", X(0x4000, 0xBFFFFFFF, 0xFFF80001), true, 3},
        {"3 - 0x80000 units", X(0x4000, 0xBFFFFFFF, 0xFFF80000), false, 0},
        {"-(3 - 2^-46)", X(0xC000, 0xBFFFFFFF, 0xFFFF0000), true, -3},
        {"0.5", X(0x3FFE, 0x80000000, 0), false, 0},
        {"2.5", X(0x4000, 0xA0000000, 0), false, 0},
        {"2^30 + 0.5", X(0x401D, 0x80000001, 0), false, 0},
        {"2^30 + 1", X(0x401D, 0x80000002, 0), true, 1073741825},
        {"2^-47 counts as zero", X(0x3FD0, 0x80000000, 0), true, 0},
        {"-2^-47 counts as zero", X(0xBFD0, 0xFFFFFFFF, 0xFFFFFFFF), true, 0},
        {"2^-46 is a fraction", X(0x3FD1, 0x80000000, 0), false, 0},
        {"1 - 2^-64 rounds up to 1", X(0x3FFE, 0xFFFFFFFF, 0xFFFFFFFF), true, 1},
        {"4 - 2^-50 rounds up to 4", X(0x4000, 0xFFFFFFFF, 0xFFFFF000), true, 4},
        {"2147483647", two31, true, 2147483647},
        {"2147483647 + 2^-15", X(0x401D, 0xFFFFFFFE, 0x00040000), true, 2147483647},
        {"2147483648", X(0x401E, 0x80000000, 0), false, 0},
        {"2^31 - 2^-20 rounds to 2^31", X(0x401D, 0xFFFFFFFF, 0xFFFFE000), false, 0},
        {"-2147483648", X(0xC01E, 0x80000000, 0), true, std::numeric_limits<std::int32_t>::min()},
        {"-(2^31 - 2^-20) rounds to -2^31", X(0xC01D, 0xFFFFFFFF, 0xFFFFE000), true,
         std::numeric_limits<std::int32_t>::min()},
        {"-2147483649", X(0xC01E, 0x80000001, 0), false, 0},
        {"-3000000000", X(0xC01E, 0xB2D05E00, 0), false, 0},
        {"2^40", X(0x4027, 0x80000000, 0), false, 0},
    };
    for (const Case& c : cases) {
        std::int32_t out = 12345;
        const bool ok = fltint(c.in, out);
        EXPECT_EQ(ok, c.ok) << c.what;
        if (c.ok) {
            EXPECT_EQ(out, c.out) << c.what;
        } else {
            EXPECT_EQ(out, 12345) << c.what << ": output changed on failure";
        }
    }
}

TEST(Extended80Convert, IntegersRoundTripAndIntdblIsExact) {
    const std::int32_t values[] = {0, 1, -1, 7, -1000000, 1 << 30, 2147483647, -2147483647,
                                   std::numeric_limits<std::int32_t>::min()};
    for (std::int32_t v : values) {
        std::int32_t back = 0;
        ASSERT_TRUE(fltint(intflt(v), back)) << v;
        EXPECT_EQ(back, v);
        EXPECT_EQ(bits(intdbl(v)), bits(static_cast<double>(v))) << v;
    }
}

TEST(Extended80Convert, DblintUsesTheSameFuzzOnDoubles) {
    struct Case { double in; bool ok; std::int32_t out; };
    const Case cases[] = {
        {3.0, true, 3},
        {3.0 + 0x1p-46, true, 3},
        {3.0 - 0x1p-46, true, 3},
        {3.0 + 0x1p-40, false, 0},
        {0.5, false, 0},
        {1E-15, true, 0},
        {-0.0, true, 0},
        {2147483647.0, true, 2147483647},
        {2147483648.0, false, 0},
        {-2147483648.0, true, std::numeric_limits<std::int32_t>::min()},
        {-2147483649.0, false, 0},
        {1E300, false, 0},
        {DBL_MIN, true, 0},
    };
    for (const Case& c : cases) {
        std::int32_t out = 0;
        EXPECT_EQ(dblint(c.in, out), c.ok) << c.in;
        if (c.ok) {
            EXPECT_EQ(out, c.out) << c.in;
        }
        const std::uint64_t b = bits(c.in);
        std::int32_t out_words = 0;
        EXPECT_EQ(dblint(static_cast<std::uint32_t>(b >> 32), static_cast<std::uint32_t>(b),
                         out_words),
                  c.ok)
            << c.in;
        if (c.ok) {
            EXPECT_EQ(out_words, c.out) << c.in;
        }
    }
}

// ---------------------------------------------------------------------------
// Double conversions

TEST(Extended80Convert, FltdbIsExactForEveryDouble) {
    struct Case { std::uint64_t in; Extended80 out; };
    const Case cases[] = {
        {0x0000000000000000, kZero},
        {0x8000000000000000, kZero},                                 // -0
        {0x3FF0000000000000, X(0x3FFF, 0x80000000, 0)},              // 1
        {0xBFF0000000000000, X(0xBFFF, 0x80000000, 0)},              // -1
        {0x3FB999999999999A, X(0x3FFB, 0xCCCCCCCC, 0xCCCCD000)},     // 0.1
        {0x3D3C25C268497682, X(0x3FD3, 0xE12E1342, 0x4BB41000)},     // 1E-13
        {0x7FEFFFFFFFFFFFFF, posinf},                                // DBL_MAX
        {0xFFEFFFFFFFFFFFFF, neginf},                                // -DBL_MAX
        {0x0010000000000000, X(0x3C01, 0x80000000, 0)},              // DBL_MIN
        {0x433FFFFFFFFFFFFF, X(0x4033, 0xFFFFFFFF, 0xFFFFF800)},     // 2^53 - 1
        {0x4340000000000000, X(0x4034, 0x80000000, 0)},              // 2^53
        {0x4340000000000001, X(0x4034, 0x80000000, 0x00000800)},     // 2^53 + 2
        {0xC1E0000000000000, X(0xC01E, 0x80000000, 0)},              // -2^31
        // Subnormals keep their value: fraction × 2^-1074, normalised.
        {0x0008000000000000, X(0x3C00, 0x80000000, 0)},              // 2^-1023
        {0x000C000000000000, X(0x3C00, 0xC0000000, 0)},              // 1.5 × 2^-1023
        {0x000FFFFFFFFFFFFF, X(0x3C00, 0xFFFFFFFF, 0xFFFFF000)},
        {0x0000000000000001, X(0x3BCD, 0x80000000, 0)},              // 2^-1074
        {0x80000000FFFFFFFF, X(0xBBEC, 0xFFFFFFFF, 0)},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(fltdb(from_bits(c.in)), c.out) << std::hex << c.in;
        EXPECT_EQ(fltdbl(static_cast<std::uint32_t>(c.in >> 32), static_cast<std::uint32_t>(c.in)),
                  c.out)
            << std::hex << c.in;
    }
}

TEST(Extended80Convert, DblfltTruncatesToNormalsAndSubnormals) {
    struct Case { const char* what; Extended80 in; std::uint64_t out; };
    const Case cases[] = {
        {"0", kZero, 0},
        {"1", one, 0x3FF0000000000000},
        {"-2.5", X(0xC000, 0xA0000000, 0), 0xC004000000000000},
        {"posinf", posinf, 0x7FEFFFFFFFFFFFFF},
        {"neginf", neginf, 0xFFEFFFFFFFFFFFFF},
        {"just above DBL_MAX truncates", X(0x43FE, 0xFFFFFFFF, 0xFFFFFFFF), 0x7FEFFFFFFFFFFFFF},
        {"DBL_MIN", X(0x3C01, 0x80000000, 0), 0x0010000000000000},
        {"2^53 - 1", X(0x4033, 0xFFFFFFFF, 0xFFFFF800), 0x433FFFFFFFFFFFFF},
        {"2^53 + 1 truncates to 2^53", X(0x4034, 0x80000000, 0x00000400), 0x4340000000000000},
        {"2^53 + 3 truncates to 2^53 + 2", X(0x4034, 0x80000000, 0x00000C00), 0x4340000000000001},
        {"ct is one unit below the double 1E-13", ct, 0x3D3C25C268497681},
        {"1.5 x 2^-1023 is a subnormal", X(0x3C00, 0xC0000000, 0), 0x000C000000000000},
        {"a subnormal truncates", X(0x3BFF, 0xFFFFFFFF, 0xFFFFFFFF), 0x0007FFFFFFFFFFFF},
        {"a negative subnormal keeps its sign", X(0xBBFF, 0x80000000, 0), 0x8004000000000000},
        {"2^-1074, the smallest subnormal", X(0x3BCD, 0x80000000, 0), 1},
        {"just below 2^-1073 truncates to 2^-1074", X(0x3BCD, 0xFFFFFFFF, 0xFFFFFFFF), 1},
        {"2^-1075 gives +0", X(0x3BCC, 0x80000000, 0), 0},
        {"negative below 2^-1074 gives +0", X(0xBBCC, 0xFFFFFFFF, 0), 0},
        {"2^-16382", X(0x0001, 0x80000000, 0), 0},
    };
    for (const Case& c : cases) {
        double out = 99.0;
        ASSERT_TRUE(dblflt(c.in, out)) << c.what;
        EXPECT_EQ(bits(out), c.out) << c.what << std::hex << " got " << bits(out);
    }
}

TEST(Extended80Convert, DblfltReportsDoubleOverflowWithoutTouchingTheOutput) {
    const Extended80 too_big[] = {
        X(0x43FF, 0x80000000, 0),  // 2^1024
        X(0xC3FF, 0xFFFFFFFF, 0xFFFFFFFF),
        X(0x7FFF, 0x80000000, 0),
    };
    for (const Extended80& x : too_big) {
        double out = 42.0;
        EXPECT_FALSE(dblflt(x, out)) << std::hex << x.exp_word;
        EXPECT_EQ(out, 42.0);
    }
}

TEST(Extended80Convert, DoublesRoundTripBitForBit) {
    const std::uint64_t patterns[] = {
        0x3FF0000000000000, 0xBFF0000000000000, 0x3FB999999999999A, 0x7FEFFFFFFFFFFFFF,
        0xFFEFFFFFFFFFFFFF, 0x0010000000000000, 0x8010000000000000, 0x433FFFFFFFFFFFFF,
        0x4340000000000001, 0x400921FB54442D18, 0xC1E0000000000000, 0x0008000000000000,
        0x000FFFFFFFFFFFFF, 0x0000000000000001, 0x80000000FFFFFFFF, 0x00000000000007E8,
    };
    for (std::uint64_t p : patterns) {
        double out = 0;
        ASSERT_TRUE(dblflt(fltdb(from_bits(p)), out));
        EXPECT_EQ(bits(out), p) << std::hex << p;
    }
    double out = 1;
    ASSERT_TRUE(dblflt(fltdb(-0.0), out));
    EXPECT_EQ(bits(out), 0u) << "-0 comes back as +0";
}

// ---------------------------------------------------------------------------
// Arithmetic

struct BinCase {
    const char* what;
    Extended80 l;
    Extended80 r;
    bool ok;
    Extended80 z;
};

void expect_table(const char* op, bool (*fn)(const Extended80&, const Extended80&, Extended80&),
                  const std::vector<BinCase>& cases) {
    const Extended80 sentinel = X(0x1234, 0x89ABCDEF, 0x01234567);
    for (const BinCase& c : cases) {
        Extended80 z = sentinel;
        const bool ok = fn(c.l, c.r, z);
        EXPECT_EQ(ok, c.ok) << op << ": " << c.what;
        if (c.ok) {
            EXPECT_EQ(z, c.z) << op << ": " << c.what;
        } else {
            EXPECT_EQ(z, sentinel) << op << ": " << c.what << ": Z written on failure";
        }
    }
}

TEST(Extended80Arith, GtlrgOrdersByMagnitudeAndLeftWinsTies) {
    struct Case { Extended80 l, r; bool left; };
    const Case cases[] = {
        {kMinusOne, one, true},  // equal magnitude: L
        {one, kMinusOne, true},
        {one, X(0xC000, 0x80000000, 0), false},          // |-2| > 1
        {kAllOnes, kTwo, false},                         // exponent decides first
        {X(0x3FFF, 0x80000000, 1), kMinusOne, true},     // then the mantissa
        {kZero, X(0xBC00, 0x80000000, 0), false},
        {kZero, kZero, true},
    };
    for (const Case& c : cases) {
        const MagnitudeOrder o = gtlrg(c.l, c.r);
        EXPECT_EQ(o.left_is_larger, c.left);
        EXPECT_EQ(o.larger, c.left ? c.l : c.r);
        EXPECT_EQ(o.smaller, c.left ? c.r : c.l);
    }
}

TEST(Extended80Arith, NegFlipsTheSignExceptOfZero) {
    EXPECT_EQ(neg(one), kMinusOne);
    EXPECT_EQ(neg(kMinusOne), one);
    EXPECT_EQ(neg(kZero), kZero);
    EXPECT_EQ(neg(neg(ct)), ct);
}

TEST(Extended80Arith, PlusdTruncatesWithTwoGuardBits) {
    expect_table("plusd", plusd, {
        {"1 + 0 is L", one, kZero, true, one},
        {"0 + -3 is R", kZero, X(0xC000, 0xC0000000, 0), true, X(0xC000, 0xC0000000, 0)},
        {"0 + 0", kZero, kZero, true, kZero},
        {"1 + 1", one, one, true, kTwo},
        {"1 + -1 is a true zero", one, kMinusOne, true, kZero},
        {"-1 + 0.5", kMinusOne, onehlf, true, X(0xBFFE, 0x80000000, 0)},
        {"0.5 + -1", onehlf, kMinusOne, true, X(0xBFFE, 0x80000000, 0)},
        {"-2 + 3", X(0xC000, 0x80000000, 0), kThree, true, one},
        {"2147483647 + 1", two31, one, true, X(0x401E, 0x80000000, 0)},
        {"exponent difference 62 leaves the larger", one, X(0x3FC1, 0x80000000, 0), true, one},
        {"... also for a negative smaller", one, X(0xBFC1, 0xFFFFFFFF, 0xFFFFFFFF), true, one},
        {"difference 61 adds one guard-bit unit", one, X(0x3FC2, 0x80000000, 0), true,
         X(0x3FFF, 0x80000000, 0x00000004)},
        {"1 - 2^-61 is exact", one, X(0xBFC2, 0x80000000, 0), true,
         X(0x3FFE, 0xFFFFFFFF, 0xFFFFFFF8)},
        {"the two low mantissa bits are dropped", X(0x3FFF, 0x80000000, 3), one, true, kTwo},
        {"a negative smaller shifts towards -infinity", one, X(0xBFFC, 0x80000000, 0x00000004),
         true, X(0x3FFE, 0xDFFFFFFF, 0xFFFFFFF8)},
        {"cancellation renormalises", X(0x3FFF, 0x80000000, 4), kMinusOne, true,
         X(0x3FC2, 0x80000000, 0)},
        {"all ones + all ones", kAllOnes, kAllOnes, true, X(0x4000, 0xFFFFFFFF, 0xFFFFFFFC)},
        {"exponent overflow", X(0x7FFF, 0x80000000, 0), X(0x7FFF, 0x80000000, 0), false, {}},
        {"largest exponent still fits", X(0x7FFE, 0x80000000, 0), X(0x7FFE, 0x80000000, 0), true,
         X(0x7FFF, 0x80000000, 0)},
    });
}

TEST(Extended80Arith, MinusdAddsTheNegation) {
    expect_table("minusd", minusd, {
        {"1 - 1", one, one, true, kZero},
        {"-1 - -1", kMinusOne, kMinusOne, true, kZero},
        {"3 - 2", kThree, kTwo, true, one},
        {"2 - 3", kTwo, kThree, true, kMinusOne},
        {"0 - 1", kZero, one, true, kMinusOne},
        {"1 - 0", one, kZero, true, one},
        {"1 - (1 + 2^-61)", one, X(0x3FFF, 0x80000000, 4), true, X(0xBFC2, 0x80000000, 0)},
        {"overflow", X(0x7FFF, 0x80000000, 0), X(0xFFFF, 0x80000000, 0), false, {}},
    });
}

TEST(Extended80Arith, FmultKeepsTheTopSixtyFourBitsOfTheProduct) {
    expect_table("fmult", fmult, {
        {"1 x 1", one, one, true, one},
        {"2 x 3", kTwo, kThree, true, X(0x4001, 0xC0000000, 0)},
        {"-2 x 3", X(0xC000, 0x80000000, 0), kThree, true, X(0xC001, 0xC0000000, 0)},
        {"-2 x -3", X(0xC000, 0x80000000, 0), X(0xC000, 0xC0000000, 0), true,
         X(0x4001, 0xC0000000, 0)},
        {"0 x 5", kZero, X(0x4001, 0xA0000000, 0), true, kZero},
        {"-5 x 0 has no sign", X(0xC001, 0xA0000000, 0), kZero, true, kZero},
        {"0.5 x 0.5", onehlf, onehlf, true, X(0x3FFD, 0x80000000, 0)},
        // The normalising shift brings in a 0, not the product's next bit.
        {"1 x (1 + 2^-63) loses the last bit", one, kOnePlusUlp, true, one},
        {"(1 + 2^-63)^2", kOnePlusUlp, kOnePlusUlp, true, X(0x3FFF, 0x80000000, 2)},
        // Carries out of the lower half reach the kept bits.
        {"(2 - 2^-63)^2", kAllOnes, kAllOnes, true, X(0x4000, 0xFFFFFFFF, 0xFFFFFFFE)},
        {"2^8192 squared has the largest exponent", X(0x5FFF, 0x80000000, 0),
         X(0x5FFF, 0x80000000, 0), true, X(0x7FFF, 0x80000000, 0)},
        {"(1.5 x 2^8192) squared overflows", X(0x5FFF, 0xC0000000, 0), X(0x5FFF, 0xC0000000, 0),
         false, {}},
        {"largest x 2 overflows", X(0x7FFF, 0x80000000, 0), kTwo, false, {}},
        {"negative overflow", X(0xFFFE, 0x80000000, 0), X(0x7FFE, 0x80000000, 0), false, {}},
        {"2^-8191 squared is the smallest exponent", X(0x2000, 0x80000000, 0),
         X(0x2000, 0x80000000, 0), true, X(0x0001, 0x80000000, 0)},
        {"2^-8192 squared underflows", X(0x1FFF, 0x80000000, 0), X(0x1FFF, 0x80000000, 0), false,
         {}},
    });
}

TEST(Extended80Arith, FdivIsTruncatedRestoringDivisionOfHalvedMantissas) {
    expect_table("fdiv", fdiv, {
        {"6 / 3", X(0x4001, 0xC0000000, 0), kThree, true, kTwo},
        {"-6 / 3", X(0xC001, 0xC0000000, 0), kThree, true, X(0xC000, 0x80000000, 0)},
        {"-6 / -3", X(0xC001, 0xC0000000, 0), X(0xC000, 0xC0000000, 0), true, kTwo},
        {"1 / 3", one, kThree, true, X(0x3FFD, 0xAAAAAAAA, 0xAAAAAAAA)},
        {"2 / 3", kTwo, kThree, true, X(0x3FFE, 0xAAAAAAAA, 0xAAAAAAAA)},
        {"1 / 1.5", one, X(0x3FFF, 0xC0000000, 0), true, X(0x3FFE, 0xAAAAAAAA, 0xAAAAAAAA)},
        {"1 / 10", one, X(0x4002, 0xA0000000, 0), true, X(0x3FFB, 0xCCCCCCCC, 0xCCCCCCCC)},
        // The normalising shift brings in a 0, not a further quotient bit (1).
        {"1 / 7", one, X(0x4001, 0xE0000000, 0), true, X(0x3FFC, 0x92492492, 0x49249248)},
        {"0 / 5", kZero, X(0x4001, 0xA0000000, 0), true, kZero},
        {"0 / -5 has no sign", kZero, X(0xC001, 0xA0000000, 0), true, kZero},
        // Both mantissas lose their lowest bit before dividing.
        {"(1 + 2^-63) / 1", kOnePlusUlp, one, true, one},
        {"1 / (1 + 2^-63)", one, kOnePlusUlp, true, one},
        {"(2 - 2^-63) / 1", kAllOnes, one, true, X(0x3FFF, 0xFFFFFFFF, 0xFFFFFFFE)},
        {"largest / 1", X(0x7FFF, 0x80000000, 0), one, true, X(0x7FFF, 0x80000000, 0)},
        {"largest / 0.5 overflows", X(0x7FFF, 0x80000000, 0), onehlf, false, {}},
        {"smallest / 1", X(0x0001, 0x80000000, 0), one, true, X(0x0001, 0x80000000, 0)},
        {"smallest / 2 underflows", X(0x0001, 0x80000000, 0), kTwo, false, {}},
        {"1 / largest underflows", one, X(0x7FFF, 0x80000000, 0), false, {}},
    });
}

TEST(Extended80Arith, DivddHandlesZeroOperands) {
    expect_table("divdd", divdd, {
        {"2 / 0", kTwo, kZero, false, {}},
        {"-2 / 0", X(0xC000, 0x80000000, 0), kZero, false, {}},
        {"0 / 0 is 1", kZero, kZero, true, one},
        {"0 / 5", kZero, X(0x4001, 0xA0000000, 0), true, kZero},
        {"6 / 3", X(0x4001, 0xC0000000, 0), kThree, true, kTwo},
        {"overflow", X(0x7FFF, 0x80000000, 0), onehlf, false, {}},
    });
}

TEST(Extended80Arith, DivdFourIsTheReciprocal) {
    struct Case { Extended80 r; bool ok; Extended80 z; };
    const Case cases[] = {
        {X(0x4001, 0x80000000, 0), true, X(0x3FFD, 0x80000000, 0)},  // 1/4
        {X(0xBFFE, 0x80000000, 0), true, X(0xC000, 0x80000000, 0)},  // 1/-0.5
        {kThree, true, X(0x3FFD, 0xAAAAAAAA, 0xAAAAAAAA)},
        {kZero, false, {}},
    };
    for (const Case& c : cases) {
        Extended80 z{};
        EXPECT_EQ(divd_4(c.r, z), c.ok);
        if (c.ok) {
            EXPECT_EQ(z, c.z);
        }
    }
}

TEST(Extended80Arith, ProductBeyondTheDoubleRangeStaysInTheRegister) {
    const Extended80 big = fltdb(1E300);
    Extended80 z;
    ASSERT_TRUE(fmult(big, big, z));  // 1E600
    EXPECT_EQ(z.exp_word, 0x47C8);  // 2^1993
    double out = 0;
    EXPECT_FALSE(dblflt(z, out));

    ASSERT_TRUE(fmult(fltdb(1E308), kTwo, z));  // 2E308
    EXPECT_FALSE(dblflt(z, out));

    ASSERT_TRUE(fdiv(fltdb(1E-300), fltdb(1E20), z));  // 1E-320, a subnormal
    ASSERT_TRUE(dblflt(z, out));
    EXPECT_NEAR(out, 1E-320, 0x1p-1074);
}

// Decimal scaling as the literal scanner does it: an integer mantissa divided
// by exact powers of ten (largest first), then truncated to a double.
Extended80 scale_down(std::int32_t mantissa, const std::vector<Extended80>& powers) {
    Extended80 v = intflt(mantissa);
    for (const Extended80& p : powers) {
        Extended80 z;
        EXPECT_TRUE(fdiv(v, p, z));
        v = z;
    }
    return v;
}

TEST(Extended80Arith, DecimalScalingReproducesTheStoredConstants) {
    const Extended80 ten = X(0x4002, 0xA0000000, 0);
    const Extended80 hundred = X(0x4005, 0xC8000000, 0);
    const Extended80 ten_to_10 = X(0x4020, 0x9502F900, 0);

    // 1E-13 = 1 / 10^10 / 10^2 / 10: exactly the stored ⎕CT pattern, which the
    // double 1E-13 (ends 0x4BB41000) does not give.
    EXPECT_EQ(scale_down(1, {ten_to_10, hundred, ten}), ct);
    EXPECT_NE(fltdb(1E-13), ct);

    struct Case { const char* text; std::int32_t mantissa; std::vector<Extended80> powers;
                  std::uint64_t expect; };
    const Case cases[] = {
        // One unit below the nearest double...
        {"0.1", 1, {ten}, 0x3FB9999999999999},
        {"1.1", 11, {ten}, 0x3FF1999999999999},
        {"0.001", 1, {hundred, ten}, 0x3F50624DD2F1A9FB},
        {"123.456", 123456, {hundred, ten}, 0x405EDD2F1A9FBE76},
        // ...or exactly the nearest double.
        {"0.3", 3, {ten}, 0x3FD3333333333333},
        {"0.7", 7, {ten}, 0x3FE6666666666666},
    };
    for (const Case& c : cases) {
        double out = 0;
        ASSERT_TRUE(dblflt(scale_down(c.mantissa, c.powers), out)) << c.text;
        EXPECT_EQ(bits(out), c.expect) << c.text << std::hex << " got " << bits(out);
    }
}

// ---------------------------------------------------------------------------
// Constants

TEST(Extended80Constants, EveryEntryTruncatesToItsDecimalValue) {
    struct Case { const char* name; const Extended80* c; const char* decimal; };
    const Case cases[] = {
        {"ct", &ct, "1E-13"},
        {"onehlf", &onehlf, "0.5"},
        {"sq2", &sq2, "1.4142135623730951455"},
        {"lnc1[0]", &lnc1[0], "0.42108737121797973346"},
        {"lnc1[1]", &lnc1[1], "-9.6376909336868656908"},
        {"lnc1[2]", &lnc1[2], "30.957292821537649274"},
        {"lnc1[3]", &lnc1[3], "-24.013917955921051828"},
        {"lnc2[0]", &lnc2[0], "1"},
        {"lnc2[1]", &lnc2[1], "-8.9111090279378313284"},
        {"lnc2[2]", &lnc2[2], "19.480966070088971520"},
        {"lnc2[3]", &lnc2[3], "-12.006958977960525914"},
        {"ln2d2", &ln2d2, "0.34657359027997264311"},
        {"invln2", &invln2, "1.4426950408889633870"},
        {"etop1[0]", &etop1[0], "0.023093347753750232548"},
        {"etop1[1]", &etop1[1], "20.202065651286925885"},
        {"etop1[2]", &etop1[2], "1513.9067990543389897"},
        {"etoq1[0]", &etoq1[0], "1"},
        {"etoq1[1]", &etoq1[1], "233.18421142748161401"},
        {"etoq1[2]", &etoq1[2], "4368.2116627275581777"},
        {"sqcon", &sqcon, "0.46484146373133194974"},
        {"gamp[0]", &gamp[0], "0.050405460836766190214"},
        {"gamp[1]", &gamp[1], "0.45637593637129092450"},
        {"gamp[2]", &gamp[2], "4.5626974981667576259"},
        {"gamp[3]", &gamp[3], "27.474380854875363411"},
        {"gamp[4]", &gamp[4], "152.69750682610185777"},
        {"gamp[5]", &gamp[5], "599.65748999418713083"},
        {"gamp[6]", &gamp[6], "2018.7899154002914202"},
        {"gamp[7]", &gamp[7], "4300.9657105424903421"},
        {"gamp[8]", &gamp[8], "6794.5554609656528555"},
        {"gamq[0]", &gamq[0], "1"},
        {"gamq[1]", &gamq[1], "-16.578359883065246549"},
        {"gamq[2]", &gamq[2], "83.657448811029595959"},
        {"gamq[3]", &gamq[3], "41.995656691668841631"},
        {"gamq[4]", &gamq[4], "-1383.3593325342669687"},
        {"gamq[5]", &gamq[5], "1428.3340976884678639"},
        {"gamq[6]", &gamq[6], "6794.5554609656528555"},
        {"onepi", &onepi, "3.14159265358979323846"},
        {"twopi", &twopi, "6.28318530717958647692"},
        {"twodpi", &twodpi, "0.63661977236758134308"},
        {"pid2", &pid2, "1.57079632679489661923"},
        {"sinp[0]", &sinp[0], "5.8623812956300002300E-12"},
        {"sinp[1]", &sinp[1], "-6.6839665286785995252E-10"},
        {"sinp[2]", &sinp[2], "5.6921285470111377684E-8"},
        {"sinp[3]", &sinp[3], "-3.5988429472773518335E-6"},
        {"sinp[4]", &sinp[4], "1.6044118467438021674E-4"},
        {"sinp[5]", &sinp[5], "-4.6817541352926397152E-3"},
        {"sinp[6]", &sinp[6], "0.079692626246163786319"},
        {"sinp[7]", &sinp[7], "-0.64596409750624605994"},
        {"sinp[8]", &sinp[8], "1.5707963267948965580"},
        {"arctp[0]", &arctp[0], "0.084978674519333691206"},
        {"arctp[1]", &arctp[1], "13.205010656086638932"},
        {"arctp[2]", &arctp[2], "307.35591973367155561"},
        {"arctp[3]", &arctp[3], "2513.2363248817409840"},
        {"arctp[4]", &arctp[4], "9309.5979940028537385"},
        {"arctp[5]", &arctp[5], "17031.111330825089681"},
        {"arctp[6]", &arctp[6], "14987.772317832337649"},
        {"arctp[7]", &arctp[7], "5057.7575874044041484"},
        {"arctq[0]", &arctq[0], "1"},
        {"arctq[1]", &arctq[1], "53.261696091384813201"},
        {"arctq[2]", &arctq[2], "768.26660174203141196"},
        {"arctq[3]", &arctq[3], "4647.6885102242267749"},
        {"arctq[4]", &arctq[4], "13889.882150995064876"},
        {"arctq[5]", &arctq[5], "21577.456984555483359"},
        {"arctq[6]", &arctq[6], "16673.691513633806608"},
        {"arctq[7]", &arctq[7], "5057.7575874044041484"},
        {"one", &one, "1"},
        {"posinf", &posinf, "1.7976931348623157E308"},
        {"neginf", &neginf, "-1.7976931348623157E308"},
        {"two31", &two31, "2147483647"},
    };
    for (const Case& c : cases) {
        EXPECT_NE(c.c->mant_hi & 0x80000000u, 0u) << c.name << ": leading bit not explicit";
        double truncated = 0;
        ASSERT_TRUE(dblflt(*c.c, truncated)) << c.name;
        const double nearest = std::strtod(c.decimal, nullptr);
        // Truncation gives the nearest double or the one just below it in magnitude.
        const std::uint64_t gap = (bits(nearest) & ~(std::uint64_t{1} << 63)) -
                                  (bits(truncated) & ~(std::uint64_t{1} << 63));
        EXPECT_TRUE(std::signbit(truncated) == std::signbit(nearest) && gap <= 1)
            << c.name << std::hex << ": " << bits(truncated) << " vs " << bits(nearest);
    }
    EXPECT_EQ(fpzero, kZero);
}

TEST(Extended80Constants, ExactRelationsBetweenEntries) {
    Extended80 z;
    ASSERT_TRUE(fmult(onepi, kTwo, z));
    EXPECT_EQ(z, twopi);
    ASSERT_TRUE(fdiv(onepi, kTwo, z));
    EXPECT_EQ(z, pid2);
    ASSERT_TRUE(fdiv(one, kTwo, z));
    EXPECT_EQ(z, onehlf);
    EXPECT_EQ(neg(posinf), neginf);
    EXPECT_EQ(gamp[8], gamq[6]);
    EXPECT_EQ(arctp[7], arctq[7]);
}

}  // namespace
}  // namespace zema
