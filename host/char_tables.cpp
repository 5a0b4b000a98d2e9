#include "host/char_tables.h"

#include <array>

#include "host/charset.h"

namespace zema {

const std::uint8_t overstrikes[kOverstrikes][3] = {
#include "host/overstrike_rows.inc"
};

std::uint8_t ovstin(int a, int b) {
  a &= 0xFF;
  b &= 0xFF;
  if (a == 0x20) return static_cast<std::uint8_t>(b);
  if (b == 0x20 || a == b) return static_cast<std::uint8_t>(a);
  for (const auto& row : overstrikes)
    if ((row[0] == a && row[1] == b) || (row[0] == b && row[1] == a)) return row[2];
  return 0;
}

int quadtr(const char* src, char* dst, int n, int direction) {
  if (direction != 1 && direction != -1) return 12;
  for (int i = 0; i < n; ++i) {
    const auto c = static_cast<std::uint8_t>(src[i]);
    dst[i] = static_cast<char>(direction == 1 ? fontin(c) : fontout(c));
  }
  return 0;
}

namespace {

using Table = std::array<std::uint8_t, 256>;

// Capital → small pairs beyond A–Z.
constexpr std::uint8_t kAccented[][2] = {{0x9D, 0xC2}, {0xB0, 0xBA}, {0xB1, 0xBC}, {0xB2, 0xBD}, {0xB3, 0xBE},
                                         {0xB4, 0xC6}, {0xB5, 0xAE}, {0xB6, 0xCF}, {0xD0, 0xB8}, {0xD1, 0xBB},
                                         {0xD2, 0xCB}, {0xD3, 0xD4}, {0xD5, 0xD6}, {0xD8, 0xD9}, {0xFC, 0xBF}};

constexpr Table identity() {
  Table t{};
  for (int c = 0; c < 256; ++c) t[c] = static_cast<std::uint8_t>(c);
  return t;
}

constexpr Table case_table(bool lower) {
  Table t = identity();
  for (int c = 0x61; c <= 0x7A; ++c) {
    if (lower) t[c] = static_cast<std::uint8_t>(c + 0x80);
    else t[c + 0x80] = static_cast<std::uint8_t>(c);
  }
  for (const auto& p : kAccented) {
    if (lower) t[p[0]] = p[1];
    else if (p[0] != 0xD8) t[p[1]] = p[0];  // ø keeps itself
  }
  return t;
}

// 1 for every code in the inclusive ranges given as pairs.
template <std::size_t N>
constexpr Table marks(const std::uint8_t (&ranges)[N][2]) {
  Table t{};
  for (const auto& r : ranges)
    for (int c = r[0]; c <= r[1]; ++c) t[c] = 1;
  return t;
}

constexpr std::uint8_t kCapitals[][2] = {{0x61, 0x7A}, {0x9D, 0x9D}, {0xB0, 0xB6}, {0xD0, 0xD3},
                                         {0xD5, 0xD5}, {0xD7, 0xD7}, {0xFC, 0xFC}};
constexpr std::uint8_t kSmalls[][2] = {{0xAE, 0xAE}, {0xB8, 0xC9}, {0xCB, 0xCF}, {0xD4, 0xD4},
                                       {0xD6, 0xD6}, {0xD9, 0xD9}, {0xDD, 0xDD}, {0xE1, 0xFA}};
constexpr std::uint8_t kNonPrinting[][2] = {{0x00, 0x06}, {0x08, 0x08}, {0x0A, 0x0A}, {0x0D, 0x0D},
                                            {0x80, 0x9F}, {0xDE, 0xE0}, {0xFE, 0xFF}};


// Input (0–127), output (128–255) and print (256–383) sections.
constexpr std::array<std::uint8_t, 384> terminal_table() {
  std::array<std::uint8_t, 384> t{};
  for (int s = 0; s < 3; ++s)
    for (int b = 0; b < 128; ++b) t[s * 128 + b] = static_cast<std::uint8_t>(b);
  for (int b = 0; b < 0x20; ++b)
    if (b != 0x08 && b != 0x0A && b != 0x0D) t[b] = static_cast<std::uint8_t>(0x80 + b);
  t[0x48] = 0x7B;
  t[0x7B] = 0x48;
  t[0x7D] = 0x7F;
  t[0x7F] = 0xFF;
  for (int s = 1; s <= 2; ++s) {
    std::uint8_t* o = &t[s * 128];
    o[0x00] = 0x80;
    o[0x05] = s == 1 ? 0x20 : 0x05;
    o[0x48] = 0x7B;
    o[0x7B] = 0x48;
    o[0x7F] = 0x7D;
    if (s == 2) o[0x0D] = 0x0A;
  }
  return t;
}
constexpr std::array<std::uint8_t, 384> kTerminal = terminal_table();

constexpr std::size_t kMenuName = 100;

}  // namespace

const std::array<std::uint8_t, 256> apl_lowercase_table = case_table(true);
const std::array<std::uint8_t, 256> apl_uppercase_table = case_table(false);
const std::array<std::uint8_t, 256> apl_is_uppercase_table = marks(kCapitals);
const std::array<std::uint8_t, 256> apl_is_lowercase_table = marks(kSmalls);
const std::array<std::uint8_t, 256> non_printing_quad_av = marks(kNonPrinting);

std::uint8_t ttrin(int b) { return kTerminal[static_cast<std::size_t>(b & 0xFF)]; }
std::uint8_t ttrout(int b) { return kTerminal[128 + static_cast<std::size_t>(b & 0xFF)]; }

std::string munge_name_for_menu(const char* name) {
  const std::uint8_t delta = fontout(0x7B), delta_underbar = fontout(0xFB);
  std::string out;
  for (const char* p = name; *p && out.size() < kMenuName; ++p) {
    const auto c = static_cast<std::uint8_t>(*p);
    out.push_back(c == delta ? '^' : c == delta_underbar ? '#' : *p);
  }
  return out;
}

std::string unmunge_name_from_menu(const char* caption) {
  const char delta = static_cast<char>(fontout(0x7B)), delta_underbar = static_cast<char>(fontout(0xFB));
  std::string out;
  for (const char* p = caption; *p && out.size() < kMenuName; ++p) {
    if (*p == '&') continue;
    out.push_back(*p == '^' ? delta : *p == '#' ? delta_underbar : *p);
  }
  return out;
}

}  // namespace zema
