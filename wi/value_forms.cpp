#include "wi/value_forms.h"

#include <algorithm>
#include <cstring>
#include <new>

#include "host/charset.h"
#include "host/values.h"
#include "wi/vocabulary.h"

namespace zema {

namespace {

constexpr std::uint8_t kBool = 5, kInt = 7, kFloat = 9, kChar = 11, kNested = 15;

std::uint32_t word_at(const void* p, std::size_t off) {
  std::uint32_t w;
  std::memcpy(&w, static_cast<const std::uint8_t*>(p) + off, 4);
  return w;
}
void put_word(void* p, std::size_t off, std::uint32_t w) { std::memcpy(static_cast<std::uint8_t*>(p) + off, &w, 4); }

std::uint8_t type_of(const void* v) { return static_cast<const std::uint8_t*>(v)[8]; }
const std::uint8_t* data_of(const void* v) {
  return static_cast<const std::uint8_t*>(v) + 12 + 4 * static_cast<std::size_t>(qwi_rank(v));
}

// A header of `type` and `shape` with `data_bytes` of data, size rounded up
// to a whole word; answers the image.
QwiImage header(std::uint8_t type, const std::vector<std::uint32_t>& shape, std::size_t data_bytes) {
  const std::size_t raw = 12 + 4 * shape.size() + data_bytes;
  QwiImage a((raw + 3) & ~std::size_t{3}, 0);
  put_word(a.data(), 4, static_cast<std::uint32_t>(a.size()));
  a[8] = type;
  const auto r4 = static_cast<std::uint16_t>(4 * shape.size());
  std::memcpy(&a[10], &r4, 2);
  for (std::size_t i = 0; i < shape.size(); ++i) put_word(a.data(), 12 + 4 * i, shape[i]);
  return a;
}

int write_image(void* area, int room, const QwiImage& image) {
  if (room < 0 || image.size() >= static_cast<std::size_t>(room)) return 4;
  std::memcpy(area, image.data(), image.size());
  return 0;
}

}  // namespace

std::uint32_t qwi_value_size(const void* value) { return word_at(value, 4); }

int qwi_copy_value(const void* value, std::vector<std::uint8_t>& out) {
  try {
    const auto* b = static_cast<const std::uint8_t*>(value);
    out.assign(b, b + qwi_value_size(value));
    put_word(out.data(), 0, 0);
    return 0;
  } catch (const std::bad_alloc&) {
    return 68;
  }
}

int qwi_return_copy(void* area, int room, const std::vector<std::uint8_t>& copy, std::uint32_t* needed) {
  if (room < 0 || copy.size() >= static_cast<std::size_t>(room)) {
    if (needed) *needed = static_cast<std::uint32_t>(copy.size());
    return 4;
  }
  std::memcpy(area, copy.data(), copy.size());
  return 0;
}

bool qwi_is_nested(const void* value) { return type_of(value) == kNested; }
bool qwi_is_character(const void* value) { return type_of(value) == kChar; }

int qwi_rank(const void* value) {
  std::uint16_t r4;
  std::memcpy(&r4, static_cast<const std::uint8_t*>(value) + 10, 2);
  return r4 / 4;
}

std::uint32_t qwi_item_count(const void* value) {
  std::uint64_t n = 1;
  for (int k = 0; k < qwi_rank(value); ++k) n *= word_at(value, 12 + 4 * static_cast<std::size_t>(k));
  return static_cast<std::uint32_t>(std::min<std::uint64_t>(n, 0xFFFFFFFFu));
}

const void* qwi_nested_item(const void* value, std::uint32_t i) {
  return static_cast<const std::uint8_t*>(value) + word_at(data_of(value), 4 * static_cast<std::size_t>(i));
}

QwiImage qwi_text_image(const std::string& internal_text) {
  QwiImage a = header(kChar, {static_cast<std::uint32_t>(internal_text.size())}, internal_text.size());
  std::memcpy(a.data() + 16, internal_text.data(), internal_text.size());
  return a;
}

QwiImage qwi_copy_image(const void* value) {
  const auto* b = static_cast<const std::uint8_t*>(value);
  QwiImage a(b, b + qwi_value_size(value));
  put_word(a.data(), 0, 0);
  return a;
}

int qwi_return_nested(void* area, int room, const std::vector<std::uint32_t>& shape,
                      const std::vector<QwiImage>& items) {
  if (items.empty()) {
    std::vector<std::uint32_t> empty_shape = shape;
    if (empty_shape.empty()) empty_shape = {0};
    return write_image(area, room, header(kChar, empty_shape, 0));
  }
  std::size_t size = 12 + 4 * shape.size() + 4 * items.size();
  for (const QwiImage& it : items) size += it.size();
  if (room < 0 || size >= static_cast<std::size_t>(room)) return 4;
  QwiImage head = header(kNested, shape, 4 * items.size());
  auto* out = static_cast<std::uint8_t*>(area);
  std::memcpy(out, head.data(), head.size());
  put_word(out, 4, static_cast<std::uint32_t>(size));
  std::size_t at = 12 + 4 * shape.size() + 4 * items.size();
  for (std::size_t i = 0; i < items.size(); ++i) {
    put_word(out, 12 + 4 * shape.size() + 4 * i, static_cast<std::uint32_t>(at));
    std::memcpy(out + at, items[i].data(), items[i].size());
    at += items[i].size();
  }
  return 0;
}

int qwi_return_float_matrix(void* area, int room, int rows, int cols, const double* items) {
  const std::size_t n = static_cast<std::size_t>(rows) * static_cast<std::size_t>(cols);
  QwiImage a = header(kFloat, {static_cast<std::uint32_t>(rows), static_cast<std::uint32_t>(cols)}, 8 * n);
  if (n) std::memcpy(a.data() + 20, items, 8 * n);
  return write_image(area, room, a);
}

int qwi_return_integers(void* area, int room, const std::int32_t* items, int n) {
  QwiImage a = header(kInt, {static_cast<std::uint32_t>(n)}, 4 * static_cast<std::size_t>(n));
  if (n) std::memcpy(a.data() + 16, items, 4 * static_cast<std::size_t>(n));
  return write_image(area, room, a);
}

int qwi_return_integer_matrix(void* area, int room, int rows, int cols, const std::int32_t* items) {
  const std::size_t n = static_cast<std::size_t>(rows) * static_cast<std::size_t>(cols);
  if (room < 0 || 20 + 4 * n >= static_cast<std::size_t>(room)) return 4;
  QwiImage a = header(kInt, {static_cast<std::uint32_t>(rows), static_cast<std::uint32_t>(cols)}, 4 * n);
  if (n) std::memcpy(a.data() + 20, items, 4 * n);
  return write_image(area, room, a);
}

int qwi_return_text(void* area, int room, const std::string& internal_text) {
  if (room < 0 || 16 + internal_text.size() >= static_cast<std::size_t>(room)) return 4;
  return write_image(area, room, qwi_text_image(internal_text));
}

int qwi_return_name_list(void* area, int room, std::vector<std::string> names) {
  qwi_sort_names(names);
  std::vector<QwiImage> items;
  items.reserve(names.size());
  for (const std::string& n : names) items.push_back(qwi_text_image(n));
  return qwi_return_nested(area, room, {static_cast<std::uint32_t>(items.size())}, items);
}

int get_colour_values(const void* value, std::int32_t* foreground, std::int32_t* background) {
  if (!value) {
    *foreground = kQwiColourKeep;
    *background = 0;
    return 0;
  }
  const std::uint8_t type = type_of(value);
  if (type != kBool && type != kInt && type != kFloat) return 12;
  const int rank = qwi_rank(value);
  std::uint32_t n;
  if (rank == 0) {
    n = 1;
  } else if (rank == 1) {
    n = word_at(value, 12);
    if (n != 1 && n != 2 && n != 3 && n != 6) return 20;
  } else if (rank == 2 && word_at(value, 12) == 1 && word_at(value, 16) == 1) {
    n = 1;
  } else {
    return 16;
  }
  std::int32_t v[6];
  const std::uint8_t* d = data_of(value);
  for (std::uint32_t i = 0; i < n; ++i) {
    if (type == kBool) {
      v[i] = static_cast<std::int32_t>((word_at(d, 4 * (i / 32)) >> (31 - i % 32)) & 1u);
    } else if (type == kInt) {
      v[i] = static_cast<std::int32_t>(word_at(d, 4 * i));
    } else {
      double x;
      std::memcpy(&x, d + 8 * i, 8);
      if (near_integer(x, &v[i]) != 0) return 12;
    }
  }
  auto rgb = [](const std::int32_t* c, std::int32_t* out) {
    for (int k = 0; k < 3; ++k)
      if (c[k] < 0 || c[k] > 255) return false;
    *out = c[0] + c[1] * 256 + c[2] * 65536;
    return true;
  };
  switch (n) {
    case 1: *foreground = v[0], *background = kQwiColourKeep; return 0;
    case 2: *foreground = v[0], *background = v[1]; return 0;
    case 3:
      if (!rgb(v, foreground)) return 12;
      *background = kQwiColourKeep;
      return 0;
    default:
      if (!rgb(v, foreground) || !rgb(v + 3, background)) return 12;
      return 0;
  }
}

void qwi_scale_pixels(int code, double dpi_x, double dpi_y, bool printer, double* horizontal, double* vertical) {
  switch (code) {
    case 2:
      *horizontal = printer ? dpi_x * 2 / 72 : 2.0;
      *vertical = printer ? dpi_y * 2 / 72 : 2.0;
      return;
    case 3: *horizontal = dpi_x / 72, *vertical = dpi_y / 72; return;
    case 4: *horizontal = dpi_x / 1440, *vertical = dpi_y / 1440; return;
    case 5: *horizontal = 1.0, *vertical = 1.0; return;
    case 6: *horizontal = dpi_x / 25.4, *vertical = dpi_y / 25.4; return;
    default:
      *horizontal = printer ? dpi_x * 8 / 72 : 8.0;
      *vertical = printer ? dpi_y * 16 / 72 : 16.0;
      return;
  }
}

int font_style_to_long(bool bold, bool italic, bool underline, bool strike_out) {
  return (bold ? 1 : 0) | (italic ? 2 : 0) | (underline ? 4 : 0) | (strike_out ? 16 : 0);
}

}  // namespace zema
