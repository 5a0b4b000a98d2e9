// Extended80: the 80-bit extended real used by every element-at-a-time
// numeric routine (general scalar path, literal scaling, number display,
// encode/decode, matrix division) and by ⎕CT.
//
// All arithmetic here is integer code: no floating-point unit and no
// `long double` is involved, so results are identical on every machine.
// Arithmetic truncates, never rounds.
//
// Value = (-1)^sign × mantissa × 2^(exponent - 16383 - 63), where the 64-bit
// mantissa has its leading 1 explicit (bit 63) for every non-zero value.
// Zero is the exponent word 0 with both mantissa words 0. There is no
// negative zero, no infinity and no not-a-number.
//
// Stored form (10 bytes, each field in the machine's byte order, no
// alignment):  +0 u16 exponent word (sign bit 15, biased exponent bits 0-14)
//              +2 u32 mantissa high word (leading 1 in bit 31)
//              +6 u32 mantissa low word
//
// The routines are value-level forms of the register routines that work on
// the L, R and Z registers of the argument descriptors; the register
// wrappers load L/R, call these and store Z.
//
// Failure reporting: where the register routine raises DOMAIN ERROR, the
// value form returns `false` instead and leaves its output untouched; the
// caller raises the APL error.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <cstring>

namespace zema {

// One 80-bit extended real as values: sign and biased exponent, and a
// 64-bit mantissa with an explicit leading 1; zero is exponent word 0.
struct Extended80 {
    std::uint16_t exp_word = 0;  // sign in bit 15, biased exponent in bits 0-14
    std::uint32_t mant_hi = 0;   // mantissa bits 63-32 (leading 1 in bit 31)
    std::uint32_t mant_lo = 0;   // mantissa bits 31-0

    static constexpr std::uint16_t kSignBit = 0x8000;
    static constexpr std::uint16_t kExponentMask = 0x7FFF;
    static constexpr int kBias = 16383;

    // The 64-bit mantissa.
    constexpr std::uint64_t mantissa() const {
        return (std::uint64_t{mant_hi} << 32) | mant_lo;
    }
    // Biased exponent without the sign.
    constexpr int exponent() const { return exp_word & kExponentMask; }
    // The sign bit; whether the value is zero (exponent word 0).
    constexpr bool negative() const { return (exp_word & kSignBit) != 0; }
    constexpr bool is_zero() const { return exp_word == 0; }

    // A value from its exponent word and 64-bit mantissa, unchecked.
    static constexpr Extended80 make(std::uint16_t exp_word, std::uint64_t mantissa) {
        return Extended80{exp_word, static_cast<std::uint32_t>(mantissa >> 32),
                          static_cast<std::uint32_t>(mantissa)};
    }

    friend constexpr bool operator==(const Extended80&, const Extended80&) = default;
};

// Size of the stored form.
inline constexpr std::size_t kExtended80Bytes = 10;

// ---------------------------------------------------------------------------
// Memory form (memcpy; any alignment).

// The register held in the 10 bytes at p; store_x80 writes `v` there.
// Inline: the engine moves descriptors holding a register on every call.
inline Extended80 load_x80(const void* p) {
    const auto* b = static_cast<const unsigned char*>(p);
    Extended80 v;
    std::memcpy(&v.exp_word, b, 2);
    std::memcpy(&v.mant_hi, b + 2, 4);
    std::memcpy(&v.mant_lo, b + 6, 4);
    return v;
}
inline void store_x80(void* p, const Extended80& v) {
    auto* b = static_cast<unsigned char*>(p);
    std::memcpy(b, &v.exp_word, 2);
    std::memcpy(b + 2, &v.mant_hi, 4);
    std::memcpy(b + 6, &v.mant_lo, 4);
}

// Register ← the 10 bytes at p (xtol/xtor/xtoz); returns p + 10.
const std::uint8_t* xto(const std::uint8_t* p, Extended80& reg);
// The 10 bytes at p ← register (ltox/rtox/ztox); returns p + 10.
std::uint8_t* tox(std::uint8_t* p, const Extended80& reg);
// The 10 bytes at p ← zero; returns p + 10.
std::uint8_t* move0(std::uint8_t* p);
// The 10 bytes at p ← 1.0; returns p + 10.
std::uint8_t* move1(std::uint8_t* p);

// ---------------------------------------------------------------------------
// Conversions.

// 32-bit integer → extended, exact. -2147483648 gives 0xC01E 80000000 00000000.
Extended80 intflt(std::int32_t value);

// Extended → 32-bit integer with the conversion fuzz: magnitudes below 2^-46
// give 0; otherwise the value must lie within 2^(e-44) of an integer
// (e = unbiased exponent), which it is rounded to, and that integer must fit
// 32 bits signed. Returns true (the "4" answer) with `out` set, or false
// (not an integer, not an error) leaving `out` unchanged.
[[nodiscard]] bool fltint(const Extended80& x, std::int32_t& out);

// IEEE double given as its high and low 32-bit words → extended, exactly.
// ±0 gives zero; a normal double has its exponent field rebiased (+15360)
// and the leading 1 set; a subnormal (exponent field 0, fraction f, value
// f × 2^-1074) is normalised, so it keeps its value.
Extended80 fltdbl(std::uint32_t high_word, std::uint32_t low_word);
// The same for a double value (`fltdb`).
Extended80 fltdb(double d);

// Extended → IEEE double, truncating the mantissa to 52 bits after the
// leading 1. A value below the normal range becomes a subnormal, truncated
// to a multiple of 2^-1074; zero and values below 2^-1074 give +0. A value
// whose double exponent field would exceed 2046 returns false (DOMAIN
// ERROR) leaving `out` unchanged.
[[nodiscard]] bool dblflt(const Extended80& x, double& out);

// Double (as words, or as a value) → 32-bit integer with fltint's fuzz:
// true with `out` set, false (not an integer) leaving it unchanged.
[[nodiscard]] bool dblint(std::uint32_t high_word, std::uint32_t low_word, std::int32_t& out);
[[nodiscard]] bool dblint(double d, std::int32_t& out);

// 32-bit integer → its exact double.
double intdbl(std::int32_t value);

// ---------------------------------------------------------------------------
// Arithmetic. Each takes L and R and writes Z; none rounds.

// Orders L and R by magnitude, comparing (exponent, mantissa) as one unsigned
// number with the sign left out; on equal magnitudes L counts as the larger.
struct MagnitudeOrder {
    Extended80 larger;
    Extended80 smaller;
    bool left_is_larger;
};
// The two values in that order.
MagnitudeOrder gtlrg(const Extended80& l, const Extended80& r);

// −x (the sign bit is flipped unless x is zero).
Extended80 neg(const Extended80& x);

// Z ← L + R with two guard bits. False (DOMAIN ERROR) when the result's
// exponent does not fit 1..32767.
[[nodiscard]] bool plusd(const Extended80& l, const Extended80& r, Extended80& z);

// Z ← L + (−R). The register form also leaves R negated: its wrapper sets
// R ← neg(R) and calls plusd.
[[nodiscard]] bool minusd(const Extended80& l, const Extended80& r, Extended80& z);

// Z ← L × R. False ("0" answer) when the exponent is out of range.
[[nodiscard]] bool fmult(const Extended80& l, const Extended80& r, Extended80& z);
// The DOMAIN ERROR form of fmult: identical on values.
[[nodiscard]] inline bool multd(const Extended80& l, const Extended80& r, Extended80& z) {
    return fmult(l, r, z);
}

// Z ← L ÷ R for R not zero. False ("0" answer) when the exponent is out of
// range.
[[nodiscard]] bool fdiv(const Extended80& l, const Extended80& r, Extended80& z);

// Z ← L ÷ R with the zero rules of ÷: non-zero ÷ 0 is false (DOMAIN ERROR),
// 0 ÷ 0 gives 1; otherwise as fdiv (false = DOMAIN ERROR).
[[nodiscard]] bool divdd(const Extended80& l, const Extended80& r, Extended80& z);

// Monadic ÷: Z ← 1 ÷ R through divdd.
[[nodiscard]] bool divd_4(const Extended80& r, Extended80& z);

// ---------------------------------------------------------------------------
// Constants (exponent word, mantissa). Tables are read first entry to last.

namespace x80const {

// Short name for the tables below.
using X = Extended80;
// A constant from its exponent word and the two halves of its mantissa.
constexpr X c(std::uint16_t e, std::uint32_t hi, std::uint32_t lo) { return X{e, hi, lo}; }

inline constexpr X ct = c(0x3FD3, 0xE12E1342, 0x4BB40E10);      // 1E-13, ⎕CT of a clear ws
inline constexpr X onehlf = c(0x3FFE, 0x80000000, 0x00000000);  // 0.5
inline constexpr X sq2 = c(0x3FFF, 0xB504F333, 0xF9DE6480);     // √2
// Numerator and denominator of the rational approximation of ln behind ⍟
// (in s² for s = (u − 1) ÷ (u + 1)).
inline constexpr std::array<X, 4> lnc1{
    c(0x3FFD, 0xD798C390, 0x4798653C), c(0xC002, 0x9A33FB68, 0x9240B113),
    c(0x4003, 0xF7A88923, 0x899921C2), c(0xC003, 0xC01C8104, 0x6C108E14)};
inline constexpr std::array<X, 4> lnc2{  // the denominator
    c(0x3FFF, 0x80000000, 0x00000000), c(0xC002, 0x8E93E70F, 0x61555790),
    c(0x4003, 0x9BD904BD, 0x2C246B6F), c(0xC002, 0xC01C8104, 0x6C108DFC)};
inline constexpr X ln2d2 = c(0x3FFD, 0xB17217F7, 0xD1CF79B8);   // ln 2 ÷ 2
inline constexpr X invln2 = c(0x3FFF, 0xB8AA3B29, 0x5C17F0AE);  // 1 ÷ ln 2
// p and q of 2*g ≈ (q + g·p) ÷ (q − g·p) in g² (g half the fraction of y), behind *.
inline constexpr std::array<X, 3> etop1{
    c(0x3FF9, 0xBD2E42AB, 0x70BDAA78), c(0x4003, 0xA19DD498, 0x9F60DB00),
    c(0x4009, 0xBD3D047F, 0x734DBD64)};
inline constexpr std::array<X, 3> etoq1{  // the denominator
    c(0x3FFF, 0x80000000, 0x00000000), c(0x4006, 0xE92F287A, 0xE89542B6),
    c(0x400B, 0x8881B17C, 0x3A652AD0)};
inline constexpr X sqcon = c(0x3FFD, 0xEDFFB349, 0x1A07CC54);  // the square root's start: m ÷ 2 + sqcon
// Numerator and denominator of the rational approximation of Γ(f + 1),
// f in [0, 1), behind !.
inline constexpr std::array<X, 9> gamp{
    c(0x3FFA, 0xCE75F4DD, 0x56EA59D9), c(0x3FFD, 0xE9AA1B52, 0xCAC9E28A),
    c(0x4001, 0x92019E2F, 0x055A0F71), c(0x4003, 0xDBCB8830, 0x8C4E403A),
    c(0x4006, 0x98B28FCE, 0xAED81FD9), c(0x4008, 0x95EA1450, 0xE99EC9D0),
    c(0x4009, 0xFC5946FC, 0xA95B764C), c(0x400B, 0x8667B9C6, 0x72EB2D7B),
    c(0x400B, 0xD4547195, 0x84CD744A)};
inline constexpr std::array<X, 7> gamq{  // the denominator
    c(0x3FFF, 0x80000000, 0x00000000), c(0xC003, 0x84A07B25, 0x78AB4113),
    c(0x4005, 0xA7509D21, 0x6C5517CA), c(0x4004, 0xA7FB8D6D, 0x830B813A),
    c(0xC009, 0xACEB7FA6, 0xF16218B4), c(0x4009, 0xB28AB0ED, 0xA2B470F3),
    c(0x400B, 0xD4547195, 0x84CD744A)};
inline constexpr X onepi = c(0x4000, 0xC90FDAA2, 0x2168C22E);   // π
inline constexpr X twopi = c(0x4001, 0xC90FDAA2, 0x2168C22E);   // 2π
inline constexpr X twodpi = c(0x3FFE, 0xA2F9836E, 0x4E441526);  // 2 ÷ π
inline constexpr X pid2 = c(0x3FFF, 0xC90FDAA2, 0x2168C22E);    // π ÷ 2
// Odd polynomial of sin in t = y × 2 ÷ π (y in [0, π÷2]), behind ○.
inline constexpr std::array<X, 9> sinp{
    c(0x3FD9, 0xCE43A2ED, 0x891F05B6), c(0xBFE0, 0xB7BA3BAA, 0xCB5C1BA9),
    c(0x3FE6, 0xF4799D80, 0x85B4EAC6), c(0xBFEC, 0xF183A6AB, 0x14AFA1CC),
    c(0x3FF2, 0xA83C1A41, 0xFA6B7133), c(0xBFF7, 0x99696673, 0x1241B354),
    c(0x3FFB, 0xA335E33B, 0xAD4FBB08), c(0xBFFE, 0xA55DE731, 0x2DF288A2),
    c(0x3FFF, 0xC90FDAA2, 0x2168C214)};
// Numerator and denominator of arctan x ÷ x in x² (|x| ≤ 1), behind ○.
inline constexpr std::array<X, 8> arctp{
    c(0x3FFB, 0xAE094C9F, 0x57FEEDDA), c(0x4002, 0xD347B940, 0xF393F1DC),
    c(0x4007, 0x99AD8EC7, 0x200F6B00), c(0x400A, 0x9D13C7FC, 0x9964F236),
    c(0x400C, 0x91766458, 0x8A35D684), c(0x400D, 0x850E3900, 0x5A999B65),
    c(0x400C, 0xEA2F16DA, 0x7C6006C2), c(0x400B, 0x9E0E0F89, 0xFC2E3605)};
inline constexpr std::array<X, 8> arctq{  // the denominator
    c(0x3FFF, 0x80000000, 0x00000000), c(0x4004, 0xD50BFA0F, 0x67F48A26),
    c(0x4008, 0xC0111000, 0xC0C53A69), c(0x400B, 0x913D8211, 0xA6001D1F),
    c(0x400C, 0xD9078752, 0x9727BC0A), c(0x400D, 0xA892E9F9, 0xE131263C),
    c(0x400D, 0x8243620E, 0x1333DD23), c(0x400B, 0x9E0E0F89, 0xFC2E3605)};
inline constexpr X one = c(0x3FFF, 0x80000000, 0x00000000);     // 1
inline constexpr X fpzero = c(0x0000, 0x00000000, 0x00000000);  // 0
inline constexpr X posinf = c(0x43FE, 0xFFFFFFFF, 0xFFFFF800);  // largest double
inline constexpr X neginf = c(0xC3FE, 0xFFFFFFFF, 0xFFFFF800);  // its negative
inline constexpr X two31 = c(0x401D, 0xFFFFFFFE, 0x00000000);   // 2147483647

}  // namespace x80const

}  // namespace zema
