#include "host/charset.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iterator>
#include <latch>
#include <random>
#include <string>
#include <thread>
#include <vector>

namespace zema {
namespace {

using namespace std::string_literals;

constexpr std::uint8_t kQuestionMark = 0x51;

// Internal codes that have no character.
constexpr int kNoCharacter[] = {0x00, 0x80, 0xDE, 0xDF, 0xE0, 0xFE};

// The control characters U+0001-U+0006, U+0008, U+000A and U+000D exist twice,
// at 0x01-0x0D and again at 0x81-0x8D. Unicode cannot tell the copies apart,
// so the lower (first) code wins and the upper copy does not come back.
struct Collapse {
    int from;
    int to;
};
constexpr Collapse kUnicodeCollapses[] = {
    {0x81, 0x01}, {0x82, 0x02}, {0x83, 0x03}, {0x84, 0x04}, {0x85, 0x05},
    {0x86, 0x06}, {0x88, 0x08}, {0x8A, 0x0A}, {0x8D, 0x0D},
};

// Internal codes that have no glyph in the Windows font and show as its blank.
constexpr int kNoGlyph[] = {0x00, 0x01, 0x02, 0x03, 0x04, 0x05, 0x06, 0x9C, 0x9E,
                            0x9F, 0xD3, 0xD4, 0xDE, 0xDF, 0xE0, 0xFE, 0xFF};

// Internal codes with a font code that comes back as a different internal code.
constexpr Collapse kFontCollapses[] = {
    {0x0A, 0x81},  // LF goes out as font 0x01, which reads back as 0x81
    {0x80, 0x00},  // goes out as font NUL, which reads back as 0x00
    {0x88, 0x08},  // the second BS shares font 0x08 with the first
    {0x8A, 0x0D},  // goes out as font LF, which reads back as CR
    {0x8D, 0x0D},  // the second CR shares font 0x0D with the first
};

// Code that c comes back as, given the codes that collapse onto another.
template <std::size_t N>
int comes_back_as(const Collapse (&collapses)[N], int c) {
    for (const auto& k : collapses)
        if (k.from == c) return k.to;
    return c;
}

bool contains(const int* begin, const int* end, int c) {
    return std::find(begin, end, c) != end;
}

std::string hex(int v) {
    char buf[16];
    std::snprintf(buf, sizeof buf, "0x%02X", v);
    return buf;
}

// ---------------------------------------------------------------- to Unicode

TEST(Charset, ExactlyTheListedCodesHaveNoCharacterAndReadAsBlank) {
    for (int c = 0; c < 256; ++c) {
        const bool none = contains(std::begin(kNoCharacter), std::end(kNoCharacter), c);
        EXPECT_EQ(unicode_table[c] == 0, none) << hex(c);
        const std::uint16_t want = none ? 0x0020 : unicode_table[c];
        EXPECT_EQ(convert_to_unicode(c), want) << hex(c);
    }
}

TEST(Charset, LettersDigitsAndControlsSitInTheirBlocks) {
    for (int i = 0; i < 26; ++i) {
        EXPECT_EQ(convert_to_unicode(0x61 + i), 'A' + i);
        EXPECT_EQ(convert_to_unicode(0xE1 + i), 'a' + i);
        // Masking with 0x7F folds the cases.
        EXPECT_EQ((0xE1 + i) & 0x7F, 0x61 + i);
    }
    for (int i = 0; i < 10; ++i) EXPECT_EQ(convert_to_unicode(0x30 + i), '0' + i);
    for (int i = 1; i < 16; ++i) EXPECT_EQ(convert_to_unicode(0x80 + i), i);
    const std::uint16_t box[] = {0x250C, 0x2510, 0x2514, 0x2518, 0x2500, 0x2502,
                                 0x253C, 0x251C, 0x2524, 0x2534, 0x252C};
    for (int i = 0; i < 11; ++i) EXPECT_EQ(convert_to_unicode(0x90 + i), box[i]) << hex(0x90 + i);
}

TEST(Charset, ConvertToUnicodeOfNamedCodes) {
    struct Case {
        int code;
        std::uint16_t unicode;
    };
    const Case cases[] = {
        {0x61, 0x0041}, {0xE1, 0x0061}, {0x00, 0x0020}, {0xFE, 0x0020}, {0x20, 0x0020},
        {0x7B, 0x2206}, {0xFB, 0x2359}, {0x40, 0x00AF}, {0x46, 0x005F}, {0x4C, 0x2395},
        {0x4B, 0x0027}, {0x60, 0x22C4}, {0x0D, 0x000D}, {0x49, 0x2373}, {0x52, 0x2374},
        {0x5B, 0x2190}, {0x41, 0x237A}, {0x57, 0x2375}, {0xFD, 0x20AC}, {0xDD, 0x00FF},
        {0xFF, 0x007F}, {0x9D, 0x00CD}, {0xD3, 0x0152},
        // Only the low 8 bits of the argument count.
        {0x161, 0x0041}, {-0x1F, 0x0061},
    };
    for (const auto& k : cases) EXPECT_EQ(convert_to_unicode(k.code), k.unicode) << hex(k.code);
}

// -------------------------------------------------------------- from Unicode

TEST(Charset, ConvertFromUnicodeOfNamedCodePoints) {
    struct Case {
        std::uint32_t unicode;
        int code;
    };
    const Case cases[] = {
        {0x00FF, 0xDD}, {0x007F, 0xFF}, {0x0007, 0x87}, {0x00A6, 0x51}, {0x03C1, 0x52},
        {0x4E00, 0x51}, {0x0041, 0x61}, {0x0061, 0xE1}, {0x0020, 0x20}, {0x003F, 0x51},
        {0x000D, 0x0D}, {0x000A, 0x0A}, {0x0001, 0x01}, {0x000F, 0x8F}, {0x001D, 0x51},
        {0x00CD, 0x9D}, {0x2373, 0x49}, {0x2395, 0x4C}, {0x20AC, 0xFD}, {0x0152, 0xD3},
        {0x0000, 0x00}, {0xFFFF, 0x51}, {0x10000, 0x51}, {0x1F600, 0x51}, {0x110000, 0x51},
        // Truncating to 16 bits would turn these into U+2373 and U+0041.
        {0x12373, 0x51}, {0x10041, 0x51},
    };
    for (const auto& k : cases) EXPECT_EQ(convert_from_unicode(k.unicode), k.code) << hex(k.unicode);
}

TEST(Charset, SubstitutesForLookAlikes) {
    struct Case {
        std::uint32_t unicode;
        int code;
    };
    const Case cases[] = {
        {0x03B1, 0x41}, {0x03B2, 0xDC}, {0x03B5, 0x45}, {0x03B9, 0x49}, {0x03C1, 0x52},
        {0x03C9, 0x57}, {0x2013, 0x5F}, {0x2212, 0x5F}, {0x2019, 0x4B}, {0x201C, 0xA0},
        {0x201D, 0xA0}, {0x2028, 0x0D}, {0x2029, 0x0D}, {0x203E, 0x40}, {0x2044, 0x2F},
        {0x2215, 0x2F}, {0x2223, 0x4D}, {0x2227, 0x29}, {0x223C, 0x54}, {0x22C6, 0x50},
        {0x25AF, 0x4C}, {0x25CA, 0x60},
        // Neighbours that have no substitute.
        {0x03B0, 0x51}, {0x03C2, 0x51}, {0x2014, 0x51}, {0x2018, 0x51}, {0x201E, 0x51},
    };
    for (const auto& k : cases) EXPECT_EQ(convert_from_unicode(k.unicode), k.code) << hex(k.unicode);
}

TEST(Charset, UnicodeRoundTripExceptForTheSecondControlCopies) {
    int collapsed = 0;
    for (int c = 0; c < 256; ++c) {
        if (unicode_table[c] == 0) continue;
        const int target = comes_back_as(kUnicodeCollapses, c);
        EXPECT_EQ(convert_from_unicode(convert_to_unicode(c)), target) << hex(c);
        if (target != c) {
            ++collapsed;
            EXPECT_EQ(unicode_table[target], unicode_table[c]) << hex(c);
            EXPECT_LT(unicode_table[c], 0x10) << hex(c);
        }
    }
    EXPECT_EQ(collapsed, static_cast<int>(std::size(kUnicodeCollapses)));
}

// Whole Basic Multilingual Plane against the definition: the lowest internal
// code carrying the character, else a substitute, else '?'.
TEST(Charset, ConvertFromUnicodeAgreesWithTableOverTheWholePlane) {
    for (std::uint32_t u = 0; u <= 0xFFFF; ++u) {
        int lowest = -1;
        for (int c = 0; c < 256 && lowest < 0; ++c)
            if (unicode_table[c] == u) lowest = c;
        const int got = convert_from_unicode(u);
        if (lowest >= 0) {
            ASSERT_EQ(got, lowest) << hex(static_cast<int>(u));
        } else if (got != kQuestionMark) {
            // Only the substitutes give a code whose character differs.
            ASSERT_GE(u, 0x0100u) << hex(static_cast<int>(u));
            ASSERT_NE(convert_to_unicode(got), u) << hex(static_cast<int>(u));
        }
    }
}

// -------------------------------------------------------------------- font

TEST(Charset, CurrentFontPairStartsAsTheWindowsPair) {
    EXPECT_EQ(internal_to_font, win_internal_to_font);
    EXPECT_EQ(font_to_internal, win_font_to_internal);
}

TEST(Charset, FontTranslationUsesTheLowEightBits) {
    EXPECT_EQ(fontin(0xB8), 0x41);  // APL alpha
    EXPECT_EQ(fontin(0x1B8), 0x41);
    EXPECT_EQ(fontin(static_cast<char>(0xB8)), 0x41);
    EXPECT_EQ(fontout(0x41), 0xB8);
    EXPECT_EQ(fontout(0x141), 0xB8);
    EXPECT_EQ(fontout(static_cast<char>(0xE1)), 0x61);  // small a
}

TEST(Charset, ExactlyTheListedCodesHaveNoGlyph) {
    for (int c = 0; c < 256; ++c) {
        const bool none = contains(std::begin(kNoGlyph), std::end(kNoGlyph), c);
        if (c == 0x20) continue;  // the blank itself
        EXPECT_EQ(fontout(c) == 0x20, none) << hex(c);
    }
}

TEST(Charset, FontRoundTripExceptForSharedControlCodes) {
    for (int c = 0; c < 256; ++c) {
        if (c != 0x20 && contains(std::begin(kNoGlyph), std::end(kNoGlyph), c)) continue;
        EXPECT_EQ(fontin(fontout(c)), comes_back_as(kFontCollapses, c)) << hex(c);
    }
}

TEST(Charset, FontCodesReadBackToThemselvesExceptTheListedOnes) {
    struct Case {
        int font;
        int internal;
    };
    // Font codes whose internal code goes out as another font code.
    const Case cases[] = {
        {0x00, 0x00}, {0x0D, 0x0D}, {0x7F, 0xFF}, {0xA0, 0x20}, {0xA2, 0xFF}, {0xAD, 0xFF}, {0xFE, 0xFF},
    };
    std::vector<int> exceptions;
    for (const auto& k : cases) {
        EXPECT_EQ(fontin(k.font), k.internal) << hex(k.font);
        exceptions.push_back(k.font);
    }
    EXPECT_EQ(fontin(0x0A), 0x0D);
    EXPECT_EQ(fontin(0x1B), 0x9B);
    for (int f = 0x10; f < 0x20; ++f) {
        if (f == 0x1B) continue;
        EXPECT_EQ(fontin(f), 0x00) << hex(f);
        exceptions.push_back(f);
    }
    for (int f = 0; f < 256; ++f) {
        if (std::find(exceptions.begin(), exceptions.end(), f) != exceptions.end()) continue;
        EXPECT_EQ(fontout(fontin(f)), f) << hex(f);
    }
}

// The font keeps ASCII in place and most of Latin-1 too, so the font table
// must agree with the Unicode table there.
TEST(Charset, FontAgreesWithUnicodeOnAsciiAndLatinOne) {
    for (int c = 0; c < 256; ++c) {
        const std::uint16_t u = unicode_table[c];
        if (u >= 0x20 && u < 0x7F) {
            EXPECT_EQ(fontout(c), u) << hex(c);
        }
    }
    // Latin-1 letters the font moves elsewhere: A grave, A tilde, O tilde.
    struct Moved {
        int code;
        int font;
    };
    const Moved moved[] = {{0xD0, 0xD0}, {0xD1, 0xB6}, {0xD2, 0xB7}};
    for (int c = 0; c < 256; ++c) {
        const std::uint16_t u = unicode_table[c];
        if (u < 0xA0 || u > 0xFF) continue;
        int want = u;
        for (const auto& m : moved)
            if (m.code == c) want = m.font;
        EXPECT_EQ(fontout(c), want) << hex(c);
    }
    EXPECT_EQ(fontout(0xFD), 0x80);  // euro at its Windows code page position
}

TEST(Charset, StringTranslationCopiesAtMostCountMinusOne) {
    const char font[] = "\xB8\xBC" "AB";  // alpha iota A B
    const std::string internal = "\x41\x49\x61\x62"s;
    struct Case {
        int count;
        std::size_t copied;  // characters translated; npos: nothing written
    };
    const Case cases[] = {
        {-1, std::string::npos}, {0, std::string::npos}, {1, 0}, {2, 1}, {4, 3}, {5, 4}, {64, 4},
    };
    for (const auto& k : cases) {
        char dst[80];
        std::memset(dst, '#', sizeof dst);
        EXPECT_EQ(string_font_to_internal(font, dst, k.count), dst);
        if (k.copied == std::string::npos) {
            EXPECT_EQ(dst[0], '#') << k.count;
            continue;
        }
        EXPECT_EQ(std::string(dst, k.copied), internal.substr(0, k.copied)) << k.count;
        EXPECT_EQ(dst[k.copied], '\0') << k.count;
        EXPECT_EQ(dst[k.copied + 1], '#') << k.count;

        char back[80];
        std::memset(back, '#', sizeof back);
        EXPECT_EQ(string_internal_to_font(dst, back, k.count), back);
        EXPECT_EQ(std::string(back), std::string(font, k.copied)) << k.count;
        EXPECT_EQ(back[k.copied + 1], '#') << k.count;
    }
}

// ------------------------------------------------------------------- UTF-8

TEST(Charset, InternalToUtf8UsesOneToThreeBytes) {
    struct Case {
        std::string internal;
        std::string utf8;
    };
    const Case cases[] = {
        {"\x61"s, "A"},
        {"\x40"s, "\xC2\xAF"},        // high minus
        {"\x49"s, "\xE2\x8D\xB3"},    // iota
        {"\xFD"s, "\xE2\x82\xAC"},    // euro
        {"\x00\xFE"s, "  "},          // no character: blank
        {"\x0D\x0A"s, "\r\n"},
        {""s, ""},
    };
    for (const auto& k : cases) EXPECT_EQ(internal_to_utf8(k.internal), k.utf8) << k.utf8;
}

TEST(Charset, Utf8LineWithAplSymbolsRoundTrips) {
    const std::string line = "⍳⍴⎕←¯1 'It''s'";
    const std::string internal = "\x49\x52\x4C\x5B\x40\x31\x20\x4B\x69\xF4\x4B\x4B\xF3\x4B"s;
    EXPECT_EQ(utf8_to_internal(line), internal);
    EXPECT_EQ(internal_to_utf8(internal), line);
}

TEST(Charset, EveryCodeThroughUtf8AndBack) {
    std::string all, expected;
    for (int c = 0; c < 256; ++c) {
        all.push_back(static_cast<char>(c));
        const int want = unicode_table[c] == 0 ? 0x20 : comes_back_as(kUnicodeCollapses, c);
        expected.push_back(static_cast<char>(want));
    }
    EXPECT_EQ(utf8_to_internal(internal_to_utf8(all)), expected);
}

TEST(Charset, InvalidUtf8GivesOneMarkPerBadByte) {
    struct Case {
        const char* what;
        std::string utf8;
        std::string internal;
    };
    const Case cases[] = {
        {"lone 0xFF", "\xFF"s, "\xFE"s},
        {"lone 0xF5", "\xF5"s, "\xFE"s},
        {"stray continuation", "\x80"s, "\xFE"s},
        {"truncated 3-byte at end", "\xE2\x8D"s, "\xFE\xFE"s},
        {"truncated 2-byte at end", "\xC2"s, "\xFE"s},
        {"truncated 4-byte at end", "\xF0\x9F\x98"s, "\xFE\xFE\xFE"s},
        {"truncated then valid", "A\xE2\x8D" "B"s, "\x61\xFE\xFE\x62"s},
        {"truncated then iota", "\xE2\x8D\xE2\x8D\xB3"s, "\xFE\xFE\x49"s},
        {"overlong slash", "\xC0\xAF"s, "\xFE\xFE"s},
        {"overlong C1", "\xC1\xBF"s, "\xFE\xFE"s},
        {"overlong 3-byte", "\xE0\x80\xAF"s, "\xFE\xFE\xFE"s},
        {"overlong 4-byte", "\xF0\x8F\xBF\xBF"s, "\xFE\xFE\xFE\xFE"s},
        {"high surrogate", "\xED\xA0\x80"s, "\xFE\xFE\xFE"s},
        {"low surrogate", "\xED\xBF\xBF"s, "\xFE\xFE\xFE"s},
        {"beyond U+10FFFF", "\xF4\x90\x80\x80"s, "\xFE\xFE\xFE\xFE"s},
        {"last before surrogates", "\xED\x9F\xBF"s, "\x51"s},
        {"astral", "\xF0\x9F\x98\x80"s, "\x51"s},
        {"astral, low 16 bits are iota", "\xF0\x92\x8D\xB3"s, "\x51"s},
        {"U+10FFFF", "\xF4\x8F\xBF\xBF"s, "\x51"s},
        {"NUL", "\0"s, "\0"s},
    };
    for (const auto& k : cases) EXPECT_EQ(utf8_to_internal(k.utf8), k.internal) << k.what;
}

TEST(Charset, HasInternalCodeSaysWhetherQuestionMarkIsAFallback) {
    struct Case {
        std::uint32_t u;
        bool has;
    };
    const Case cases[] = {
        {0x003F, true},    // ? itself
        {0x2373, true},    // iota
        {0x03C1, true},    // Greek rho, a look-alike of ⍴
        {0x2212, true},    // minus sign, a look-alike of -
        {0x2368, false},   // ⍨
        {0x00A6, false},   // broken bar: below U+0100 yet outside the set
        {0xFEFF, false},   // byte-order mark
        {0x1F600, false},  // astral
    };
    for (const auto& k : cases) EXPECT_EQ(has_internal_code(k.u), k.has) << std::hex << k.u;
}

// A typed line: a character outside the set is '?' only where it is data.
TEST(Charset, LineOutsideTheSetIsDataOnlyInQuotesAndComments) {
    struct Case {
        const char* what;
        std::string utf8;
        std::string internal;
    };
    const Case cases[] = {
        {"between primitives", "+⍨3"s, "\x2D\xFE\x33"s},
        {"in quotes", "'⍨'"s, "\x4B\x51\x4B"s},
        {"in double quotes", "\"⍨\""s, "\xA0\x51\xA0"s},
        {"after the literal closes", "'a'⍨"s, "\x4B\xE1\x4B\xFE"s},
        {"doubled quote stays inside", "'''⍨'"s, "\x4B\x4B\x4B\x51\x4B"s},
        {"other quote inside a literal", "'\"⍨'⍨"s, "\x4B\xA0\x51\x4B\xFE"s},
        {"literal left open", "'⍨"s, "\x4B\x51"s},
        {"comment", "1⍝⍨'"s, "\x31\x1C\x51\x4B"s},
        {"lamp inside quotes is no comment", "'⍝'⍨"s, "\x4B\x1C\x4B\xFE"s},
        {"byte-order mark inside a line", "\xEF\xBB\xBF" "2"s, "\xFE\x32"s},
        {"look-alike is a symbol", "ρ"s, "\x52"s},
        {"malformed byte in quotes", "'\xFF'"s, "\x4B\xFE\x4B"s},
    };
    for (const auto& k : cases) EXPECT_EQ(utf8_line_to_internal(k.utf8), k.internal) << k.what;
}

// Cutting a valid line at every byte leaves one mark per byte of the cut
// character and decodes everything before it.
TEST(Charset, Utf8CutAtEveryByte) {
    const std::string line = "a⍳¯€b";
    std::vector<std::size_t> starts;
    for (std::size_t i = 0; i < line.size(); ++i)
        if ((static_cast<unsigned char>(line[i]) & 0xC0) != 0x80) starts.push_back(i);
    starts.push_back(line.size());
    for (std::size_t cut = 0; cut <= line.size(); ++cut) {
        std::size_t start = 0;
        for (std::size_t s : starts)
            if (s <= cut) start = s;
        const std::string whole = utf8_to_internal(line.substr(0, start));
        const std::string got = utf8_to_internal(line.substr(0, cut));
        EXPECT_EQ(got, whole + std::string(cut - start, '\xFE')) << cut;
    }
}

TEST(Charset, RandomBytesNeverGrowTheText) {
    std::mt19937 gen(20240611);
    std::uniform_int_distribution<int> byte(0, 255), length(0, 40);
    for (int round = 0; round < 5000; ++round) {
        std::string s(static_cast<std::size_t>(length(gen)), '\0');
        for (char& ch : s) ch = static_cast<char>(byte(gen));
        const std::string out = utf8_to_internal(s);
        ASSERT_LE(out.size(), s.size());
        // Whatever came out is valid once re-encoded.
        const std::string again = internal_to_utf8(out);
        ASSERT_EQ(utf8_to_internal(again).find('\xFE'), std::string::npos);
    }
}

// ------------------------------------------------------------- concurrency

// Runs in a fresh process so that the inverse table is really built by the
// racing threads.
TEST(CharsetDeathTest, ConcurrentFirstUseGivesConsistentAnswers) {
    const std::string saved_style = GTEST_FLAG_GET(death_test_style);
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_EXIT(
        {
            constexpr int kThreads = 8;
            constexpr std::uint32_t kLimit = 0x2600;
            std::latch start(kThreads);
            std::vector<std::vector<std::uint8_t>> seen(kThreads, std::vector<std::uint8_t>(kLimit));
            std::vector<std::thread> threads;
            for (int t = 0; t < kThreads; ++t) {
                threads.emplace_back([&, t] {
                    start.arrive_and_wait();
                    // Threads walk in different orders so they hit different
                    // entries first.
                    for (std::uint32_t i = 0; i < kLimit; ++i) {
                        const std::uint32_t u = (i * (2 * t + 1)) % kLimit;
                        seen[t][u] = convert_from_unicode(u);
                    }
                });
            }
            for (auto& th : threads) th.join();
            bool ok = seen[0][0x00FF] == 0xDD && seen[0][0x0007] == 0x87 && seen[0][0x2373] == 0x49 &&
                      seen[0][0x00A6] == 0x51 && seen[0][0x0041] == 0x61;
            for (int t = 1; t < kThreads; ++t) ok = ok && seen[t] == seen[0];
            std::exit(ok ? 0 : 1);
        },
        ::testing::ExitedWithCode(0), "");
    GTEST_FLAG_SET(death_test_style, saved_style);
}

}  // namespace
}  // namespace zema
