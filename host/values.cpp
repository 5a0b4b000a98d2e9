#include "host/values.h"

#include <cmath>
#include <cstring>

#include "host/charset.h"

namespace zema {

namespace {

constexpr std::uint8_t kBool = 5, kInt = 7, kFloat = 9, kChar = 11;
constexpr int kWsFull = 4, kDomain = 12, kRank = 16, kLength = 20;

std::uint32_t word_at(const void* p, std::size_t off) {
  std::uint32_t w;
  std::memcpy(&w, static_cast<const std::uint8_t*>(p) + off, 4);
  return w;
}
void put_word(void* p, std::size_t off, std::uint32_t w) { std::memcpy(static_cast<std::uint8_t*>(p) + off, &w, 4); }

// Writes a header: owner 0, size, type, flags 0, rank; answers the data offset.
std::size_t put_header(void* area, std::uint32_t size, std::uint8_t type, int rank) {
  auto* b = static_cast<std::uint8_t*>(area);
  put_word(area, 0, 0);
  put_word(area, 4, size);
  b[8] = type;
  b[9] = 0;
  const std::uint16_t r4 = static_cast<std::uint16_t>(rank * 4);
  std::memcpy(b + 10, &r4, 2);
  return 12 + 4 * static_cast<std::size_t>(rank);
}

struct View {
  const std::uint8_t* base;
  std::uint8_t type, flags;
  int rank;
  std::uint32_t length(int axis) const { return word_at(base, 12 + 4 * static_cast<std::size_t>(axis)); }
  const std::uint8_t* data() const { return base + 12 + 4 * rank; }
};

View view(const void* value) {
  const auto* b = static_cast<const std::uint8_t*>(value);
  std::uint16_t r4;
  std::memcpy(&r4, b + 10, 2);
  return {b, b[8], b[9], r4 / 4};
}

// The count of a list argument, or −1 when the shape is not one.
long long list_count(const View& v) {
  if (v.rank == 0) return 1;
  if (v.rank == 1) return v.length(0);
  if (v.rank == 2 && v.length(0) == 1) return v.length(1);
  if (v.rank == 2 && v.length(0) == 0) return 0;
  return -1;
}

// Item i of a simple numeric array as a double; false for another type.
bool numeric_item(const View& v, std::uint32_t i, double* out) {
  switch (v.type) {
    case kBool: *out = (word_at(v.data(), 4 * (i / 32)) >> (31 - i % 32)) & 1u; return true;
    case kInt: *out = static_cast<std::int32_t>(word_at(v.data(), 4 * static_cast<std::size_t>(i))); return true;
    case kFloat: std::memcpy(out, v.data() + 8 * static_cast<std::size_t>(i), 8); return true;
    default: return false;
  }
}

int get_text(const void* value, char* out, int max, bool translate) {
  const View v = view(value);
  long long n;
  if (v.type == kChar && v.flags == 0) {
    if (v.rank > 2 || (v.rank == 2 && v.length(0) != 1)) return kRank;
    n = list_count(v);
  } else if (translate && v.rank == 1 && v.length(0) == 0) {
    n = 0;
  } else {
    return kDomain;
  }
  if (n > max) return kLength;
  for (long long i = 0; i < n; ++i) {
    const std::uint8_t c = v.data()[i];
    out[i] = static_cast<char>(translate ? fontout(c) : c);
  }
  out[n] = 0;
  return 0;
}

}  // namespace

int near_integer(double x, std::int32_t* out) {
  if (!(x <= 2147483647.0 && x >= -2147483648.0)) return kDomain;
  const double whole = std::trunc(x);
  const double f = x - whole;
  auto w = static_cast<std::int64_t>(whole);
  if (f > 0.999999) ++w;
  else if (f < -0.999999) --w;
  else if (std::fabs(f) > 0.000001) return kDomain;
  if (w > 2147483647 || w < -2147483647 - 1) return kDomain;
  *out = static_cast<std::int32_t>(w);
  return 0;
}

int return_empty_matrix(void* area) {
  const std::size_t d = put_header(area, 20, kInt, 2);
  put_word(area, d - 8, 0);
  put_word(area, d - 4, 0);
  return 0;
}

int return_empty_vector(void* area) {
  put_header(area, 16, kInt, 1);
  put_word(area, 12, 0);
  return 0;
}

int return_boolean_scalar(void* area, std::uint8_t flag) {
  put_word(area, put_header(area, 16, kBool, 0), flag ? 0x80000000u : 0);
  return 0;
}

int return_integer_scalar(void* area, std::int32_t value) {
  put_word(area, put_header(area, 16, kInt, 0), static_cast<std::uint32_t>(value));
  return 0;
}

int return_integer_pair(void* area, std::int32_t a, std::int32_t b) {
  put_header(area, 24, kInt, 1);
  put_word(area, 12, 2);
  put_word(area, 16, static_cast<std::uint32_t>(a));
  put_word(area, 20, static_cast<std::uint32_t>(b));
  return 0;
}

int return_float_scalar(void* area, double value) {
  std::memcpy(static_cast<std::uint8_t*>(area) + put_header(area, 20, kFloat, 0), &value, 8);
  return 0;
}

int return_n_floats(void* area, const double* items, int n, int room) {
  if (!items || n < 0) n = 0;
  const long long size = 16 + 8LL * n;
  if (size >= room) return kWsFull;
  put_header(area, static_cast<std::uint32_t>(size), kFloat, 1);
  put_word(area, 12, static_cast<std::uint32_t>(n));
  if (n) std::memcpy(static_cast<std::uint8_t*>(area) + 16, items, 8 * static_cast<std::size_t>(n));
  return 0;
}

int return_translated_text(void* area, const char* text, int room) {
  const std::size_t n = text ? std::strlen(text) : 0;
  if (room < 16) return kWsFull;
  const std::size_t size = 16 + ((n + 3) & ~std::size_t{3});
  put_header(area, static_cast<std::uint32_t>(size), kChar, 1);
  put_word(area, 12, static_cast<std::uint32_t>(n));
  if (size > static_cast<std::size_t>(room)) return kWsFull;
  auto* data = static_cast<std::uint8_t*>(area) + 16;
  for (std::size_t i = 0; i < n; ++i) data[i] = fontin(static_cast<std::uint8_t>(text[i]));
  return 0;
}

int return_raw_text(void* area, const char* text, int room) {
  auto* data = static_cast<std::uint8_t*>(area) + 16;
  const long long fits = room > 16 ? room - 16 : 0;
  long long n = 0;
  while (n < fits && text[n]) {
    data[n] = static_cast<std::uint8_t>(text[n]);
    ++n;
  }
  if (text[n]) return kWsFull;
  put_header(area, static_cast<std::uint32_t>(16 + ((n + 3) & ~3LL)), kChar, 1);
  put_word(area, 12, static_cast<std::uint32_t>(n));
  return 0;
}

int get_translated_text(const void* value, char* out, int max) { return get_text(value, out, max, true); }
int get_raw_text(const void* value, char* out, int max) { return get_text(value, out, max, false); }

int get_n_integers(const void* value, std::int32_t* out, int max, int* count) {
  const View v = view(value);
  const long long n = list_count(v);
  if (n < 0) return kRank;
  if (n == 0) {
    *count = 0;
    return 0;
  }
  if (n > max) return kLength;
  for (long long i = 0; i < n; ++i) {
    double x;
    if (v.flags || !numeric_item(v, static_cast<std::uint32_t>(i), &x)) return kDomain;
    if (near_integer(x, &out[i])) return kDomain;
  }
  *count = static_cast<int>(n);
  return 0;
}

int get_n_floats(const void* value, double* out, int max, int* count) {
  const View v = view(value);
  const long long n = list_count(v);
  if (n < 0) return kRank;
  if (n == 0) {
    *count = 0;
    return 0;
  }
  if (n > max) return kLength;
  for (long long i = 0; i < n; ++i)
    if (v.flags || !numeric_item(v, static_cast<std::uint32_t>(i), &out[i])) return kDomain;
  *count = static_cast<int>(n);
  return 0;
}

int get_one_integer(const void* value, std::int32_t* out) {
  int count = 0;
  if (get_n_integers(value, out, 1, &count) != 0 || count != 1) return kDomain;
  return 0;
}

int get_one_boolean(const void* value, std::int32_t* out) {
  std::int32_t x = 0;
  if (get_one_integer(value, &x) != 0 || (x != 0 && x != 1)) return kDomain;
  *out = x;
  return 0;
}

}  // namespace zema
