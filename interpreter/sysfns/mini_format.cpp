#include "interpreter/sysfns/mini_format.h"

#include <cstdio>
#include <cstring>
#include <string>

#include "host/charset.h"
#include "interpreter/output/show.h"
#include "interpreter/workspace/arrays.h"

namespace zema {

namespace {

// The output: characters go at `at` while below `end`; `full` once the
// text has passed the limit (the "..." then written).
struct Sink {
  Ws ws;
  std::uint32_t start, at, end, limit;
  bool full = false;

  void put(std::uint8_t c) {
    if (full) return;
    if (at - start >= limit || at + 3 >= end) {
      full = true;
      for (int i = 0; i < 3; ++i) wr8(ws, at++, internal_dot());
      return;
    }
    wr8(ws, at++, c);
  }
  void put_utf8(std::string_view text) {
    for (const char c : utf8_to_internal(text)) put(static_cast<std::uint8_t>(c));
  }
  static std::uint8_t internal_dot() {
    static const std::uint8_t dot = static_cast<std::uint8_t>(utf8_to_internal(".")[0]);
    return dot;
  }
};

void put_int(Sink& s, std::int64_t v) {
  if (v < 0) s.put_utf8("¯");
  s.put_utf8(std::to_string(v < 0 ? -v : v));
}

void put_float(Sink& s, double v) {
  char buf[40];
  std::snprintf(buf, sizeof buf, "%g", v);
  for (const char* p = buf; *p; ++p) {
    if (*p == '-')
      s.put_utf8("¯");
    else
      s.put_utf8(std::string_view(p, 1));
  }
}

void put_array(Sink& s, std::uint32_t a);

// Element i of the simple or nested array `a` (data at `data`).
void put_element(Sink& s, std::uint32_t a, std::uint8_t type, std::uint32_t data, std::uint32_t i) {
  Ws ws = s.ws;
  switch (type) {
    case ET_BOOL: put_int(s, (rd32(ws, data + 4 * (i / 32)) >> (31 - i % 32)) & 1); break;
    case ET_INT: put_int(s, static_cast<std::int32_t>(rd32(ws, data + 4 * i))); break;
    case ET_FLOAT: {
      double v;
      std::memcpy(&v, ws + data + 8 * i, 8);
      put_float(s, v);
      break;
    }
    case ET_CHAR: s.put(rd8(ws, data + i)); break;
    case ET_OBJREF:
      for (const char c : format_object_reference(rd32(ws, data + 4 * i), ws)) s.put(static_cast<std::uint8_t>(c));
      break;
    case ET_NESTED: {
      const std::uint32_t item = a + rd32(ws, data + 4 * i);
      const bool inline_item = array_rank(item, ws) == 0 ? array_type(item, ws) != ET_NESTED
                                                         : array_rank(item, ws) == 1 && array_type(item, ws) == ET_CHAR;
      if (!inline_item) s.put_utf8("(");
      put_array(s, item);
      if (!inline_item) s.put_utf8(")");
      break;
    }
    default: s.put_utf8("?"); break;
  }
}

void put_array(Sink& s, std::uint32_t a) {
  Ws ws = s.ws;
  const std::uint8_t type = array_type(a, ws);
  const std::uint32_t rank = array_rank(a, ws);
  const std::uint32_t n = array_count(a, ws);
  if (rank == 1 && n == 0 && type != ET_CHAR) s.put_utf8("0⍴");
  if (rank >= 2) {
    for (std::uint32_t k = 0; k < rank && !s.full; ++k) {
      if (k) s.put_utf8(" ");
      put_int(s, array_axis(a, k, ws));
    }
    s.put_utf8("⍴");
  }
  const bool chars = type == ET_CHAR;
  if (chars) s.put_utf8("'");
  if (n == 0 && !chars) s.put_utf8("0");
  const std::uint32_t data = array_data(a, ws);
  for (std::uint32_t i = 0; i < n && !s.full; ++i) {
    if (i && !chars) s.put_utf8(" ");
    put_element(s, a, type, data, i);
  }
  if (chars) s.put_utf8("'");
}

}  // namespace

std::uint32_t mini_format(std::uint32_t array, std::uint32_t out, std::uint32_t out_end, std::uint32_t limit, Ws ws) {
  Sink s{ws, out, out, out_end, limit};
  put_array(s, array);
  return s.at;
}

}  // namespace zema
