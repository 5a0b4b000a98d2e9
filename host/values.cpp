#include "host/values.h"

#include <cmath>
#include <cstdlib>
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

// ---- items by position ----

namespace zema {

namespace {

constexpr std::uint8_t kNested = 15;
constexpr int kNoMemory = 68;

bool is_text_shape(const View& v) { return v.rank <= 1 || (v.rank == 2 && v.length(0) == 1); }

// The number of items: the product of the lengths.
std::uint64_t item_count(const View& v) {
  std::uint64_t n = 1;
  for (int k = 0; k < v.rank; ++k) n *= v.length(k);
  return n;
}

std::uint32_t bit_of(const std::uint8_t* data, std::uint64_t i) {
  return (word_at(data, 4 * (i / 32)) >> (31 - i % 32)) & 1u;
}

// The object of item i of a nested array.
View nested_item(const View& v, std::uint64_t i) { return view(v.base + word_at(v.data(), 4 * i)); }

// Item i of a simple numeric list argument as a double: 0, or the code.
int indexed_number(const void* value, int i, double* out) {
  const View v = view(value);
  if (v.flags || (v.type != kBool && v.type != kInt && v.type != kFloat)) return kDomain;
  const long long n = list_count(v);
  if (n < 0) return kRank;
  if (i < 0 || i >= n) return kLength;
  numeric_item(v, static_cast<std::uint32_t>(i), out);
  return 0;
}

// Heap sort of the item words of a nested vector: it stays within the
// array whatever the comparison answers, and takes no memory.
template <typename Less>
void heap_sort_words(std::uint8_t* words, std::uint32_t n, Less less) {
  auto get = [&](std::uint32_t k) { return word_at(words, 4 * std::size_t{k}); };
  auto swap = [&](std::uint32_t a, std::uint32_t b) {
    const std::uint32_t t = get(a);
    put_word(words, 4 * std::size_t{a}, get(b));
    put_word(words, 4 * std::size_t{b}, t);
  };
  auto sift = [&](std::uint32_t root, std::uint32_t end) {
    for (;;) {
      std::uint64_t child = 2 * std::uint64_t{root} + 1;
      if (child >= end) return;
      if (child + 1 < end && less(get(static_cast<std::uint32_t>(child)), get(static_cast<std::uint32_t>(child + 1))))
        ++child;
      if (!less(get(root), get(static_cast<std::uint32_t>(child)))) return;
      swap(root, static_cast<std::uint32_t>(child));
      root = static_cast<std::uint32_t>(child);
    }
  };
  for (std::uint32_t k = n / 2; k-- > 0;) sift(k, n);
  for (std::uint32_t end = n; end > 1; --end) {
    swap(0, end - 1);
    sift(0, end - 1);
  }
}

}  // namespace

int keep_translated_text(const void* value, char** out) {
  *out = nullptr;
  const View v = view(value);
  long long n;
  if (v.type == kChar && v.flags == 0 && v.rank <= 2) {
    if (!is_text_shape(v)) return kRank;
    n = list_count(v);
  } else if (v.rank == 1 && v.length(0) == 0) {
    n = 0;
  } else {
    return kDomain;
  }
  auto* copy = static_cast<char*>(std::malloc(static_cast<std::size_t>(n) + 1));
  if (!copy) return kNoMemory;
  const int code = get_translated_text(value, copy, static_cast<int>(n));
  if (code) {
    std::free(copy);
    return code;
  }
  *out = copy;
  return 0;
}

int get_indexed_integer(const void* value, std::int32_t* out, int i) {
  double x;
  if (const int code = indexed_number(value, i, &x)) return code;
  return near_integer(x, out);
}

int get_indexed_float(const void* value, double* out, int i) { return indexed_number(value, i, out); }

int get_matrix_integer(const void* value, std::int32_t* out, int row, int col) {
  const View v = view(value);
  if (v.rank != 2) return kDomain;
  if (row < 0 || col < 0 || static_cast<std::uint32_t>(row) >= v.length(0) ||
      static_cast<std::uint32_t>(col) >= v.length(1))
    return kLength;
  const std::uint64_t i = std::uint64_t(row) * v.length(1) + static_cast<std::uint32_t>(col);
  double x;
  if (v.type == kNested) {
    const View item = nested_item(v, i);
    if (item.rank != 0) return kRank;
    if (!numeric_item(item, 0, &x)) return kDomain;
  } else if (!numeric_item(v, static_cast<std::uint32_t>(i), &x)) {
    return kDomain;
  }
  return near_integer(x, out);
}

int get_nth_ptr(int i, const void* value, const void** p) {
  const View v = view(value);
  if (i < 0 || static_cast<std::uint64_t>(i) >= item_count(v)) return -1;
  switch (v.type) {
    case kInt: *p = v.data() + 4 * std::size_t(i); return kInt;
    case kFloat: *p = v.data() + 8 * std::size_t(i); return kFloat;
    case kChar: *p = v.data() + i; return kChar;
    case kNested: {
      const View item = nested_item(v, static_cast<std::uint64_t>(i));
      if (item_count(item) != 1 || item.rank > 2) return -1;
      *p = item.data();
      return item.type;
    }
    default: return -1;
  }
}

double get_nth_float(int i, const void* value, char* error) {
  const View v = view(value);
  if (v.type == kBool) {
    if (i < 0 || static_cast<std::uint64_t>(i) >= item_count(v)) {
      *error = 1;
      return 0.0;
    }
    return bit_of(v.data(), static_cast<std::uint64_t>(i));
  }
  const void* p = nullptr;
  switch (get_nth_ptr(i, value, &p)) {
    case kBool: return word_at(p, 0) >> 31;
    case kInt: return static_cast<std::int32_t>(word_at(p, 0));
    case kFloat: {
      double x;
      std::memcpy(&x, p, 8);
      return x;
    }
    default: *error = 1; return 0.0;
  }
}

int get_nth_arg(int i, const void* value, int wanted, char* error) {
  *error = 0;
  auto fail = [&](int sentinel) {
    *error = 1;
    return sentinel;
  };
  // Fetch.
  const View v = view(value);
  std::uint8_t type;
  std::int32_t whole = 0;
  double x = 0;
  if (v.type == kBool) {
    const std::uint64_t n = v.rank == 0 ? 1 : v.rank == 1 ? v.length(0) : 0;
    if (i < 0 || static_cast<std::uint64_t>(i) >= n) return fail(0xDEAF);
    type = kBool;
    whole = static_cast<std::int32_t>(bit_of(v.data(), static_cast<std::uint64_t>(i)));
  } else {
    const void* p = nullptr;
    const int t = get_nth_ptr(i, value, &p);
    if (t < 0) return fail(0xDEAD);
    type = static_cast<std::uint8_t>(t);
    switch (type) {
      case kBool: whole = static_cast<std::int32_t>(word_at(p, 0) >> 31); break;
      case kInt: whole = static_cast<std::int32_t>(word_at(p, 0)); break;
      case kFloat: std::memcpy(&x, p, 8); break;
      case kChar: whole = *static_cast<const std::uint8_t*>(p); break;
      default: return fail(0xBEDE);
    }
  }
  // Convert.
  if (wanted == kChar) return type == kChar ? whole : fail(0xFEED);
  if (wanted != kBool && wanted != kInt) return fail(0xBEEF);
  if (type == kChar) return fail(0xCEDE);
  if (type == kFloat) {
    if (!(x <= 2147483647.0 && x >= -2147483648.0)) return fail(0xBADBAD);
    if (near_integer(x, &whole)) return fail(0xFACE);
  }
  if (wanted == kBool && whole != 0 && whole != 1) *error = 1;
  return whole;
}

void* strip_crlf_from_charvec(void* value, bool all) {
  const View v = view(value);
  if (v.type != kChar || v.flags || v.rank != 1) return value;
  auto* data = static_cast<std::uint8_t*>(value) + 16;
  const std::uint32_t n = v.length(0);
  std::uint32_t kept = 0;
  std::uint8_t previous = 0;
  for (std::uint32_t k = 0; k < n; ++k) {
    const std::uint8_t c = data[k];
    const bool drop = all ? c == 13 || c == 10 : c == 10 && previous == 13;
    previous = c;
    if (!drop) data[kept++] = c;
  }
  put_word(value, 12, kept);
  put_word(value, 4, 16 + ((kept + 3) & ~3u));
  return value;
}

void sort_nested_strings(void* value) {
  const View v = view(value);
  if (v.type != kNested || v.flags || v.rank != 1) return;
  const auto* base = v.base;
  auto less = [base](std::uint32_t a, std::uint32_t b) {
    const View x = view(base + a), y = view(base + b);
    const bool texts = x.type == kChar && !x.flags && x.rank == 1 && y.type == kChar && !y.flags && y.rank == 1;
    if (!texts) return false;
    const std::uint32_t nx = x.length(0), ny = y.length(0);
    for (std::uint32_t k = 0; k < nx && k < ny; ++k) {
      const int cx = x.data()[k] & 0x7F, cy = y.data()[k] & 0x7F;
      if (cx != cy) return cx < cy;
    }
    return nx < ny;
  };
  heap_sort_words(static_cast<std::uint8_t*>(value) + 16, v.length(0), less);
}

}  // namespace zema
