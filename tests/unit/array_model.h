// A small reference model of APL arrays for the generated-case tests: a
// value is a shape with numbers, characters or items; an empty nested value
// may carry a prototype. Values are written into a workspace as array
// images, read back from it, compared, and shown as APL text for messages.
#pragma once

#include <cmath>
#include <cstdint>
#include <cstring>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "host/charset.h"
#include "interpreter/workspace/workspace.h"
#include "test_arrays.h"

namespace zema::test {

struct Val {
  enum Kind : std::uint8_t { Num, Chr, Nest };
  Kind kind = Num;
  std::uint8_t ntype = ET_BOOL;  // Num: ET_BOOL, ET_INT or ET_FLOAT
  std::vector<std::uint32_t> shape;
  std::vector<double> num;     // Num
  std::string chr;             // Chr: one ASCII byte per element
  std::vector<Val> items;      // Nest
  std::shared_ptr<Val> proto;  // Nest without items: the prototype it carries, if any

  std::size_t count() const {
    std::size_t n = 1;
    for (auto s : shape) n *= s;
    return n;
  }
  std::size_t rank() const { return shape.size(); }
  bool simple() const { return kind != Nest; }
  bool simple_scalar() const { return kind != Nest && shape.empty(); }
};

// The narrowest numeric type that holds v.
inline std::uint8_t type_of_number(double v) {
  if (v == 0 || v == 1) return ET_BOOL;
  if (v == std::floor(v) && v >= -2147483648.0 && v <= 2147483647.0) return ET_INT;
  return ET_FLOAT;
}

inline Val num_scalar(double v, std::uint8_t t) {
  Val r;
  r.kind = Val::Num;
  r.ntype = t;
  r.num = {v};
  return r;
}
inline Val num_scalar(double v) { return num_scalar(v, type_of_number(v)); }
inline Val chr_scalar(char c) {
  Val r;
  r.kind = Val::Chr;
  r.chr = std::string(1, c);
  return r;
}

// Element i in ravel order: a scalar of a simple value, an item of a nested one.
inline Val elem(const Val& v, std::size_t i) {
  if (v.kind == Val::Nest) return v.items[i];
  if (v.kind == Val::Chr) return chr_scalar(v.chr[i]);
  return num_scalar(v.num[i], v.ntype);
}

// A simple value of `kind` from scalar elements; numbers take the widest of
// their types unless `ntype` is given.
inline Val pack_simple(Val::Kind kind, const std::vector<std::uint32_t>& shape, const std::vector<Val>& es,
                       std::uint8_t ntype = 0) {
  Val r;
  r.kind = kind;
  r.shape = shape;
  std::uint8_t widest = ET_BOOL;
  for (const auto& e : es) {
    if (kind == Val::Chr) {
      r.chr += e.chr[0];
    } else {
      r.num.push_back(e.num[0]);
      if (e.ntype > widest) widest = e.ntype;
    }
  }
  r.ntype = ntype ? ntype : widest;
  return r;
}

inline Val pack_nested(const std::vector<std::uint32_t>& shape, std::vector<Val> es, std::shared_ptr<Val> proto = nullptr) {
  Val r;
  r.kind = Val::Nest;
  r.shape = shape;
  r.items = std::move(es);
  if (r.items.empty()) r.proto = std::move(proto);
  return r;
}

// The common simple kind of items that are all simple scalars of one kind
// (numbers, or characters), else Nest.
inline Val::Kind common_simple_kind(const std::vector<const Val*>& es) {
  bool chars = false, nums = false;
  for (const Val* e : es) {
    if (!e->simple_scalar()) return Val::Nest;
    (e->kind == Val::Chr ? chars : nums) = true;
  }
  if (chars && nums) return Val::Nest;
  return chars ? Val::Chr : Val::Num;
}

// Items made an array: simple when every item is a simple scalar of one kind.
inline Val pack_items(const std::vector<std::uint32_t>& shape, const std::vector<Val>& es) {
  std::vector<const Val*> ps;
  for (const auto& e : es) ps.push_back(&e);
  const Val::Kind k = es.empty() ? Val::Nest : common_simple_kind(ps);
  if (k != Val::Nest) return pack_simple(k, shape, es);
  return pack_nested(shape, es);
}

// The prototype: same shape, blanks for characters, boolean zeros for
// numbers, items' prototypes for a nested value.
inline Val prototype(const Val& v) {
  Val r;
  r.kind = v.kind;
  r.shape = v.shape;
  if (v.kind == Val::Num) {
    r.ntype = ET_BOOL;
    r.num.assign(v.count(), 0.0);
  } else if (v.kind == Val::Chr) {
    r.chr.assign(v.count(), ' ');
  } else if (v.items.empty()) {
    if (v.proto) r.proto = std::make_shared<Val>(prototype(*v.proto));
  } else {
    for (const auto& it : v.items) r.items.push_back(prototype(it));
  }
  return r;
}

// ---- workspace images ----------------------------------------------------------------

inline ArrayImage image_of(const Val& v) {
  if (v.kind == Val::Chr) return char_array(v.shape, v.chr);
  if (v.kind == Val::Num) {
    if (v.ntype == ET_BOOL) {
      std::vector<int> bits;
      for (double d : v.num) bits.push_back(d != 0);
      return bool_array(v.shape, bits);
    }
    if (v.ntype == ET_INT) {
      std::vector<std::int32_t> ints;
      for (double d : v.num) ints.push_back(static_cast<std::int32_t>(d));
      return int_array(v.shape, ints);
    }
    return float_array(v.shape, v.num);
  }
  std::vector<ArrayImage> items;
  for (const auto& it : v.items) items.push_back(image_of(it));
  if (items.empty() && !v.proto) return raw_array(ET_NESTED, v.shape, 0);
  return nested_array(v.shape, items, items.empty() ? image_of(*v.proto) : int_vector({}));
}

// The array object at `off` as a value; `bad` is set for element types the
// model does not know.
inline Val read_value(std::uint32_t off, Ws ws, std::string& bad) {
  Val r;
  const std::uint8_t type = rd8(ws, off + obj::Type);
  const std::uint32_t rank = rd16(ws, off + obj::Rank4) / 4;
  for (std::uint32_t i = 0; i < rank; ++i) r.shape.push_back(rd32(ws, off + obj::Shape + 4 * i));
  const std::uint32_t data = off + obj::Shape + 4 * rank;
  const std::size_t n = r.count();
  switch (type) {
    case ET_BOOL:
    case ET_INT:
    case ET_FLOAT:
      r.kind = Val::Num;
      r.ntype = type;
      for (std::size_t i = 0; i < n; ++i) {
        if (type == ET_BOOL) {
          r.num.push_back((rd32(ws, data + 4 * (i / 32)) >> (31 - i % 32)) & 1);
        } else if (type == ET_INT) {
          r.num.push_back(rdi32(ws, data + 4 * i));
        } else {
          double d;
          std::memcpy(&d, ws + data + 8 * i, 8);
          r.num.push_back(d);
        }
      }
      break;
    case ET_CHAR:
      r.kind = Val::Chr;
      r.chr = internal_to_utf8(std::string(reinterpret_cast<const char*>(ws + data), n));
      break;
    case ET_NESTED:
      r.kind = Val::Nest;
      for (std::size_t i = 0; i < n; ++i) r.items.push_back(read_value(off + rd32(ws, data + 4 * i), ws, bad));
      if (n == 0 && rd32(ws, off + obj::Size) >= data - off + 12)
        r.proto = std::make_shared<Val>(read_value(data, ws, bad));
      break;
    default:
      bad = "element type " + std::to_string(type);
  }
  return r;
}

// ---- comparison ------------------------------------------------------------------------

inline bool same_number(double a, double b) {
  if (a == b) return true;
  return std::fabs(a - b) <= 1e-14 * std::max(std::fabs(a), std::fabs(b));
}

// Empty when `got` is `want`: kind (simple numbers, simple characters,
// nested), shape, elements, and for empty nested values the prototype.
// Numeric element types are compared only when `types` is set, and never
// inside prototypes.
inline std::string difference(const Val& want, const Val& got, bool types, const std::string& where = "") {
  static const char* kinds[] = {"simple numeric", "simple character", "nested"};
  if (want.kind != got.kind) return where + kinds[want.kind] + " wanted, " + kinds[got.kind] + " found";
  if (want.shape != got.shape) return where + "shape differs";
  if (want.kind == Val::Num) {
    for (std::size_t i = 0; i < want.num.size(); ++i)
      if (!same_number(want.num[i], got.num[i])) return where + "element " + std::to_string(i) + " differs";
    if (types && want.ntype != got.ntype && want.count() != 0)
      return where + "numeric type " + std::to_string(want.ntype) + " wanted, " + std::to_string(got.ntype) + " found";
  } else if (want.kind == Val::Chr) {
    if (want.chr != got.chr) return where + "characters differ";
  } else if (!want.items.empty()) {
    for (std::size_t i = 0; i < want.items.size(); ++i) {
      std::string d = difference(want.items[i], got.items[i], types, where + "item " + std::to_string(i) + ": ");
      if (!d.empty()) return d;
    }
  } else if (want.proto || got.proto) {
    if (!want.proto || !got.proto) return where + (want.proto ? "prototype missing" : "prototype not wanted");
    return difference(*want.proto, *got.proto, false, where + "prototype: ");
  }
  return "";
}

// ---- APL text ----------------------------------------------------------------------------

inline std::string number_text(double v) {
  std::ostringstream s;
  s.precision(17);
  s << std::fabs(v);
  return (v < 0 ? "¯" : "") + s.str();
}

// An APL expression for the value (for messages); the element type of a
// number shows as a suffix b, i or f where it is not the literal's own.
inline std::string apl_text(const Val& v) {
  auto join = [&](const std::vector<std::string>& parts) {
    std::string s;
    for (std::size_t i = 0; i < parts.size(); ++i) s += (i ? " " : "") + parts[i];
    return s;
  };
  std::vector<std::string> shape_parts;
  for (auto s : v.shape) shape_parts.push_back(std::to_string(s));
  const std::string rho = v.rank() == 1 ? "" : (v.rank() == 0 ? "⍬" : join(shape_parts)) + "⍴";
  std::string body;
  if (v.kind == Val::Num) {
    std::vector<std::string> parts;
    for (double d : v.num) parts.push_back(number_text(d));
    if (parts.empty()) parts.push_back("⍬");
    body = join(parts);
    if (v.ntype != type_of_number(v.num.empty() ? 0 : v.num[0]))
      body += std::string("{") + (v.ntype == ET_BOOL ? "b" : v.ntype == ET_INT ? "i" : "f") + "}";
    if (v.rank() == 0) return body;
    if (v.rank() == 1 && v.count() == 1) return "," + body;
    if (v.rank() == 1) return v.count() == 0 ? "⍬" : body;
    return "(" + rho + body + ")";
  }
  if (v.kind == Val::Chr) {
    std::string q;
    for (char c : v.chr) q += (c == '\'' ? "''" : std::string(1, c));
    body = "'" + q + "'";
    if (v.rank() == 0) return body;
    if (v.rank() == 1 && v.count() != 1) return body;
    return "(" + (v.rank() == 1 ? std::string(",") : rho) + body + ")";
  }
  if (v.items.empty())
    return "(" + (v.rank() == 0 ? std::string("?") : join(shape_parts)) + "⍴⊂" +
           (v.proto ? apl_text(*v.proto) : std::string("<no prototype>")) + ")";
  std::vector<std::string> parts;
  for (const auto& it : v.items) parts.push_back(it.simple_scalar() ? apl_text(it) : "(" + apl_text(it) + ")");
  if (v.rank() == 0) return "(⊂" + parts[0] + ")";
  if (v.rank() == 1 && v.count() == 1) return "(,⊂" + parts[0] + ")";
  return "(" + rho + join(parts) + ")";
}

}  // namespace zema::test
