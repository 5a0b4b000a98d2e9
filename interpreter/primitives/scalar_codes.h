// PrimitiveCodes of the scalar functions (a primitive's internal character
// code; the token of a primitive is 2 × code + 1).
#pragma once

#include <cstdint>

namespace zema::pc {

constexpr std::uint8_t Nor = 0x0E;     // ⍱
constexpr std::uint8_t Nand = 0x0F;    // ⍲
constexpr std::uint8_t Log = 0x15;     // ⍟
constexpr std::uint8_t Shriek = 0x1E;  // !
constexpr std::uint8_t Fill = 0x20;    // the fill pseudo-primitive (never applied from a line)
constexpr std::uint8_t Lt = 0x23;      // <
constexpr std::uint8_t Le = 0x24;      // ≤
constexpr std::uint8_t Eq = 0x25;      // =
constexpr std::uint8_t Gt = 0x26;      // >
constexpr std::uint8_t Or = 0x28;      // ∨
constexpr std::uint8_t And = 0x29;     // ∧
constexpr std::uint8_t Ne = 0x2A;      // ≠
constexpr std::uint8_t Divide = 0x2B;  // ÷
constexpr std::uint8_t Plus = 0x2D;    // +
constexpr std::uint8_t Times = 0x3D;   // ×
constexpr std::uint8_t Floor = 0x44;   // ⌊
constexpr std::uint8_t Stile = 0x4D;   // |
constexpr std::uint8_t Circle = 0x4F;  // ○
constexpr std::uint8_t Star = 0x50;    // *
constexpr std::uint8_t Query = 0x51;   // ?
constexpr std::uint8_t Ceiling = 0x53; // ⌈
constexpr std::uint8_t Tilde = 0x54;   // ~
constexpr std::uint8_t Ge = 0x5E;      // ≥
constexpr std::uint8_t Minus = 0x5F;   // −

}  // namespace zema::pc
