// Generated cases: small random arrays (simple and nested, of every element
// kind, up to rank 3) are bound to names in a workspace and the structural
// primitives and scalar functions are applied to them under ⎕IO 0 and 1.
// Each result is compared with a reference model written here: kind
// (simple or nested), shape, elements, prototypes of empty nested results,
// numeric element types, and the error reported. The interpreter's own
// match must also find the result equal to the model's value. The generator
// is seeded, so a failing case is the same on every run; the message gives
// the lines to type to see it again.
#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <functional>
#include <limits>
#include <map>
#include <optional>
#include <random>
#include <string>
#include <vector>

#include "array_model.h"
#include "host/charset.h"
#include "interpreter/workspace/heap.h"
#include "interpreter/engine/line.h"
#include "interpreter/workspace/symtab.h"
#include "test_arrays.h"
#include "test_workspace.h"

namespace zema {
namespace {

using test::Val;
using Shape = std::vector<std::uint32_t>;

// ---- the model ---------------------------------------------------------------------

struct ModelError {
  std::string name;
};
[[noreturn]] void fail(const char* name) { throw ModelError{name}; }

constexpr double kCt = 1e-13;

bool is_float(const Val& v) { return v.kind == Val::Num && v.ntype == ET_FLOAT; }

// A count, length, axis or index read as a 32-bit integer: booleans and
// integers as they are, floats when within rounding of an integer.
std::int64_t integer_of(const Val& e) {
  if (e.kind != Val::Num) fail("DOMAIN ERROR");
  const double d = e.num[0];
  const double r = std::nearbyint(d);
  if (std::fabs(d - r) > std::ldexp(std::fabs(d), -44) || r < -2147483648.0 || r > 2147483647.0) fail("DOMAIN ERROR");
  return static_cast<std::int64_t>(r);
}

// Tolerant equality of two simple scalars (characters only equal characters;
// tolerance only when one side is a float).
bool scalar_equal(const Val& a, const Val& b) {
  if (a.kind != b.kind) return false;
  if (a.kind == Val::Chr) return a.chr[0] == b.chr[0];
  const double x = a.num[0], y = b.num[0];
  if (x == y) return true;
  if (!is_float(a) && !is_float(b)) return false;
  if ((x < 0) != (y < 0)) return false;
  return std::fabs(x - y) <= kCt * std::max(std::fabs(x), std::fabs(y));
}

bool match(const Val& a, const Val& b) {
  if (a.shape != b.shape) return false;
  if (a.simple() != b.simple()) return false;
  if (a.simple()) {
    if (a.kind != b.kind) return false;
    for (std::size_t i = 0; i < a.count(); ++i)
      if (!scalar_equal(test::elem(a, i), test::elem(b, i))) return false;
    return true;
  }
  if (!a.items.empty()) {
    for (std::size_t i = 0; i < a.items.size(); ++i)
      if (!match(a.items[i], b.items[i])) return false;
    return true;
  }
  if (!a.proto && !b.proto) return true;
  if (!a.proto || !b.proto) return false;
  return match(*a.proto, *b.proto);
}

int depth(const Val& v) {
  if (v.simple()) return v.rank() == 0 ? 0 : 1;
  if (v.items.empty()) return v.proto ? 1 + depth(*v.proto) : 0;
  int d = 0;
  for (const auto& it : v.items) d = std::max(d, depth(it));
  return 1 + d;
}

Val int_vector(const std::vector<std::int64_t>& v) {
  Val r;
  r.kind = Val::Num;
  r.ntype = ET_INT;
  r.shape = {static_cast<std::uint32_t>(v.size())};
  for (auto x : v) r.num.push_back(static_cast<double>(x));
  return r;
}

// A result built by selecting items of a source: `index` in ravel order,
// or, with `fill`, the prototype of that item; −1 names the prototype an
// empty source carries.
struct Pick {
  std::int64_t index;
  bool fill;
};

// Completes a selection from `src` into an array of `shape`. A simple
// source gives its own kind; a nested one becomes simple when every named
// item is a simple scalar of one kind (fills store 0 or blank), and an empty
// result takes its prototype from the source's first item (simple scalar:
// a simple empty array of its kind) or, from an empty source, the prototype
// that source carries.
Val complete(const Val& src, const Shape& shape, const std::vector<Pick>& picks) {
  auto named = [&](const Pick& p) -> Val {
    if (p.index < 0) {
      if (!src.proto) fail("NONCE ERROR");
      return *src.proto;
    }
    return test::elem(src, static_cast<std::size_t>(p.index));
  };
  if (src.simple()) {
    std::vector<Val> es;
    for (const auto& p : picks) {
      if (p.fill) es.push_back(src.kind == Val::Chr ? test::chr_scalar(' ') : test::num_scalar(0, ET_BOOL));
      else es.push_back(named(p));
    }
    return test::pack_simple(src.kind, shape, es, src.kind == Val::Num ? src.ntype : 0);
  }
  if (picks.empty()) {
    if (src.items.empty()) return test::pack_nested(shape, {}, src.proto);
    const Val& first = src.items[0];
    if (first.simple_scalar()) return test::pack_simple(first.kind, shape, {}, first.kind == Val::Num ? first.ntype : 0);
    return test::pack_nested(shape, {}, std::make_shared<Val>(test::prototype(first)));
  }
  std::vector<Val> named_items;
  for (const auto& p : picks) named_items.push_back(named(p));
  std::vector<const Val*> ps;
  for (const auto& v : named_items) ps.push_back(&v);
  const Val::Kind k = test::common_simple_kind(ps);
  std::vector<Val> es;
  // A simple result takes the widest numeric type of the items named,
  // those a fill names included (the fill itself stores a zero of it).
  std::uint8_t widest = ET_BOOL;
  for (std::size_t i = 0; i < picks.size(); ++i) {
    if (k == Val::Num) widest = std::max(widest, named_items[i].ntype);
    if (!picks[i].fill) {
      es.push_back(named_items[i]);
    } else if (k == Val::Chr) {
      es.push_back(test::chr_scalar(' '));
    } else if (k == Val::Num) {
      es.push_back(test::num_scalar(0, ET_BOOL));
    } else {
      es.push_back(test::prototype(named_items[i]));
    }
  }
  if (k != Val::Nest) return test::pack_simple(k, shape, es, k == Val::Num ? widest : 0);
  return test::pack_nested(shape, es);
}

std::size_t product(const Shape& s, std::size_t from, std::size_t to) {
  std::size_t n = 1;
  for (std::size_t i = from; i < to; ++i) n *= s[i];
  return n;
}

// ---- the structural primitives -----------------------------------------------------------

Val reshape(const Val& l, const Val& r) {
  if (!l.simple()) fail("DOMAIN ERROR");
  if (l.rank() > 1) fail("RANK ERROR");
  Shape shape;
  for (std::size_t i = 0; i < l.count(); ++i) {
    const std::int64_t n = integer_of(test::elem(l, i));
    if (n < 0) fail("DOMAIN ERROR");
    shape.push_back(static_cast<std::uint32_t>(n));
  }
  const std::size_t count = product(shape, 0, shape.size());
  std::vector<Pick> picks;
  if (count != 0) {
    if (r.count() == 0 && r.kind == Val::Nest) {
      for (std::size_t i = 0; i < count; ++i) picks.push_back({-1, false});
    } else if (r.count() == 0) {
      for (std::size_t i = 0; i < count; ++i) picks.push_back({0, true});
    } else {
      for (std::size_t i = 0; i < count; ++i) picks.push_back({static_cast<std::int64_t>(i % r.count()), false});
    }
  }
  if (!r.simple() && r.count() == 0 && count != 0) {
    // Cycling the prototype of an empty source: every position holds it.
    if (!r.proto) fail("NONCE ERROR");
    std::vector<Val> es(count, *r.proto);
    return test::pack_items(shape, es);
  }
  return complete(r, shape, picks);
}

// The axis of a primitive that takes one whole axis: `written` (zero-based)
// or the default, first or last.
std::size_t whole_axis(const Val& r, std::optional<int> written, bool first) {
  if (r.rank() == 0) return 0;
  if (!written) return first ? 0 : r.rank() - 1;
  if (*written < 0 || static_cast<std::size_t>(*written) >= r.rank()) fail("AXIS ERROR");
  return static_cast<std::size_t>(*written);
}

std::vector<std::int64_t> integers_of(const Val& l) {
  if (!l.simple()) fail("DOMAIN ERROR");
  std::vector<std::int64_t> v;
  for (std::size_t i = 0; i < l.count(); ++i) v.push_back(integer_of(test::elem(l, i)));
  return v;
}

Val compress(const Val& l, const Val& r, std::optional<int> axis_written, bool first) {
  if (!l.simple()) fail("DOMAIN ERROR");
  const std::size_t a = whole_axis(r, axis_written, first);
  std::vector<std::int64_t> lv = integers_of(l);
  Shape rs = r.rank() == 0 ? Shape{1} : r.shape;
  const std::size_t len = rs[a], pre = product(rs, 0, a), post = product(rs, a + 1, rs.size());
  // Per element of L: (v, source slice or −1 for none).
  struct Step {
    std::int64_t v;
    std::int64_t slice;  // slice of R copied or skipped; −1: fill without consuming
  };
  std::vector<Step> steps;
  std::int64_t fill_of_insert = -1;  // insertion mode: the fill names the first item of the row
  bool insertion = false;
  if (l.count() == 1) {
    const std::int64_t v = lv[0];
    if (len == 0) {
      if (v < 0) steps.push_back({v, -1});
    } else {
      for (std::size_t j = 0; j < len; ++j) steps.push_back({v, static_cast<std::int64_t>(j)});
    }
  } else {
    if (l.rank() != 1) fail("RANK ERROR");
    if (r.count() == 1) {
      for (auto v : lv) steps.push_back({v, 0});
      rs[a] = 1;
    } else if (lv.size() != len) {
      std::size_t nonneg = 0;
      for (auto v : lv) nonneg += v >= 0;
      if (nonneg != len && len != 1) fail("LENGTH ERROR");
      insertion = true;
      std::int64_t at = 0;
      for (auto v : lv) {
        if (v < 0) {
          steps.push_back({v, -1});
        } else {
          steps.push_back({v, len == 1 ? 0 : at});
          ++at;
        }
      }
      (void)fill_of_insert;
    } else {
      for (std::size_t j = 0; j < lv.size(); ++j) steps.push_back({lv[j], static_cast<std::int64_t>(j)});
    }
  }
  std::size_t n = 0;
  for (const auto& s : steps) n += static_cast<std::size_t>(s.v < 0 ? -s.v : s.v);
  Shape shape = rs;
  shape[a] = static_cast<std::uint32_t>(n);
  const bool single = r.count() == 1;
  std::vector<Pick> picks;
  for (std::size_t p = 0; p < pre; ++p) {
    const std::size_t row = p * rs[a] * post;
    for (const auto& s : steps) {
      for (std::int64_t t = 0; t < (s.v < 0 ? -s.v : s.v); ++t) {
        for (std::size_t q = 0; q < post; ++q) {
          if (s.v > 0) {
            picks.push_back({static_cast<std::int64_t>(single ? 0 : row + s.slice * post + q), false});
          } else if (r.count() == 0) {
            picks.push_back({-1, true});
          } else if (insertion || s.slice < 0) {
            picks.push_back({static_cast<std::int64_t>(single ? 0 : row), true});
          } else {
            // A fill slice is the prototype of one item throughout: the
            // first item of the slice its element skips.
            picks.push_back({static_cast<std::int64_t>(single ? 0 : row + s.slice * post), true});
          }
        }
      }
    }
  }
  return complete(r, shape, picks);
}

Val expand(const Val& l, const Val& r, std::optional<int> axis_written, bool first) {
  if (!l.simple()) fail("DOMAIN ERROR");
  const std::size_t a = whole_axis(r, axis_written, first);
  std::vector<std::int64_t> lv = integers_of(l);
  if (l.count() != 1 && l.rank() != 1) fail("RANK ERROR");
  std::size_t positives = 0, n = 0;
  for (auto v : lv) {
    positives += v > 0;
    n += v == 0 ? 1 : static_cast<std::size_t>(v < 0 ? -v : v);
  }
  Shape rs = r.rank() == 0 ? Shape{1} : r.shape;
  if (r.count() != 1 && rs[a] != positives) fail("LENGTH ERROR");
  const std::size_t pre = product(rs, 0, a), post = product(rs, a + 1, rs.size());
  const bool single = r.count() == 1;
  Shape shape = rs;
  shape[a] = static_cast<std::uint32_t>(n);
  std::vector<Pick> picks;
  for (std::size_t p = 0; p < pre; ++p) {
    const std::size_t row = p * rs[a] * post;
    std::size_t slice = 0;
    for (auto v : lv) {
      const std::int64_t times = v == 0 ? 1 : (v < 0 ? -v : v);
      for (std::int64_t t = 0; t < times; ++t)
        for (std::size_t q = 0; q < post; ++q) {
          if (v > 0) picks.push_back({static_cast<std::int64_t>(single ? 0 : row + slice * post + q), false});
          else if (r.count() == 0) picks.push_back({-1, true});
          else picks.push_back({static_cast<std::int64_t>(single ? 0 : row), true});
        }
      if (v > 0) ++slice;
    }
  }
  return complete(r, shape, picks);
}

// L↑R and L↓R; `axes` (zero-based) when an axis list was written. A result
// position maps to R's position shifted on each axis; the fill of a row
// along the last axis is the prototype of the first item of R it receives,
// or of R's first item when it receives none.
Val take_drop(const Val& l, const Val& r, const std::optional<std::vector<int>>& axes, bool drop) {
  if (l.kind == Val::Chr && l.count() > 0) fail("DOMAIN ERROR");  // refused before the function runs
  if (!drop && l.count() == 0 && r.rank() == 0) return r;
  if (!l.simple()) fail("DOMAIN ERROR");
  if (l.rank() > 1) fail("RANK ERROR");
  std::vector<std::int64_t> c;
  if (!axes) {
    if (l.count() < 1 || l.count() > 63) fail("LENGTH ERROR");
    c = integers_of(l);
    if (r.rank() != 0 && r.rank() != c.size()) fail("LENGTH ERROR");
  } else {
    if (r.rank() == 0) fail("RANK ERROR");
    for (std::size_t j = 0; j < axes->size(); ++j) {
      const int a = (*axes)[j];
      if (a < 0 || static_cast<std::size_t>(a) >= r.rank()) fail("AXIS ERROR");
      for (std::size_t i = 0; i < j; ++i)
        if ((*axes)[i] == a) fail("AXIS ERROR");
    }
    if (axes->size() != l.count()) fail("AXIS ERROR");
    const std::vector<std::int64_t> lv = integers_of(l);
    for (std::size_t k = 0; k < r.rank(); ++k) c.push_back(drop ? 0 : r.shape[k]);
    for (std::size_t j = 0; j < lv.size(); ++j) c[static_cast<std::size_t>((*axes)[j])] = lv[j];
  }
  const Shape rs = r.rank() == 0 ? Shape(c.size(), 1) : r.shape;
  const std::size_t rank = c.size();
  Shape shape(rank);
  std::vector<std::int64_t> shift(rank);
  for (std::size_t k = 0; k < rank; ++k) {
    const std::int64_t len = rs[k], m = c[k] < 0 ? -c[k] : c[k];
    if (drop) {
      shape[k] = static_cast<std::uint32_t>(std::max<std::int64_t>(0, len - m));
      shift[k] = c[k] > 0 ? m : 0;
    } else {
      shape[k] = static_cast<std::uint32_t>(m);
      shift[k] = c[k] < 0 ? len - m : 0;
    }
  }
  const std::size_t count = product(shape, 0, rank), row = shape[rank - 1];
  // R's ravel position of each result position, −1 outside R.
  std::vector<std::int64_t> from(count, -1);
  std::vector<std::int64_t> at(rank, 0);
  for (std::size_t i = 0; i < count; ++i) {
    std::int64_t src = 0;
    bool inside = true;
    for (std::size_t k = 0; k < rank; ++k) {
      const std::int64_t p = at[k] + shift[k];
      inside = inside && p >= 0 && p < static_cast<std::int64_t>(rs[k]);
      src = src * static_cast<std::int64_t>(rs[k]) + p;
    }
    if (inside) from[i] = src;
    for (std::size_t k = rank; k-- > 0;) {
      if (++at[k] < static_cast<std::int64_t>(shape[k])) break;
      at[k] = 0;
    }
  }
  std::vector<Pick> picks;
  for (std::size_t i = 0; i < count; i += row) {
    std::int64_t proto = r.count() == 0 ? -1 : 0;
    for (std::size_t j = 0; j < row; ++j)
      if (from[i + j] >= 0) {
        proto = from[i + j];
        break;
      }
    for (std::size_t j = 0; j < row; ++j) picks.push_back(from[i + j] >= 0 ? Pick{from[i + j], false} : Pick{proto, true});
  }
  return complete(r, shape, picks);
}

// How a catenation axis was written: none, a whole axis (zero-based), or a
// new axis inserted at position `at` (laminate).
struct CatAxis {
  enum Kind { None, Whole, Laminate } kind = None;
  int k = 0;
};

Val extend_to(const Val& scalar, const Shape& shape) {
  std::vector<Val> es(product(shape, 0, shape.size()), test::elem(scalar, 0));
  if (scalar.kind == Val::Nest) return test::pack_nested(shape, es);
  return test::pack_simple(scalar.kind, shape, es, scalar.kind == Val::Num ? scalar.ntype : 0);
}

Val with_shape(Val v, const Shape& s) {
  v.shape = s;
  return v;
}

Val catenate(Val l, Val r, CatAxis ax, bool first) {
  const Val l0 = l, r0 = r;  // before any extension, for the prototype
  const std::size_t rank = std::max(l.rank(), r.rank());
  std::size_t a = 0;
  if (ax.kind == CatAxis::Laminate || (ax.kind == CatAxis::None && rank == 0)) {
    if (ax.kind == CatAxis::Laminate && static_cast<std::size_t>(ax.k) > rank) fail("AXIS ERROR");
    const std::size_t at = ax.kind == CatAxis::Laminate ? static_cast<std::size_t>(ax.k) : 0;
    if (l.rank() && r.rank()) {
      if (l.rank() != r.rank()) fail("RANK ERROR");
      if (l.shape != r.shape) fail("LENGTH ERROR");
    }
    Shape common = l.rank() ? l.shape : r.shape;
    Shape s = common;
    s.insert(s.begin() + static_cast<std::ptrdiff_t>(at), 1);
    l = l.rank() ? with_shape(l, s) : extend_to(l, s);
    r = r.rank() ? with_shape(r, s) : extend_to(r, s);
    a = at;
  } else {
    if (ax.kind == CatAxis::Whole) {
      if (rank == 0 || static_cast<std::size_t>(ax.k) >= rank) fail("AXIS ERROR");
      a = static_cast<std::size_t>(ax.k);
    } else {
      a = first ? 0 : rank - 1;
    }
    if (l.rank() == 0 || r.rank() == 0) {
      Val& s = l.rank() == 0 ? l : r;
      Shape sh = l.rank() == 0 ? r.shape : l.shape;
      sh[a] = 1;
      s = extend_to(s, sh);
    } else if (l.rank() + 1 < r.rank() || r.rank() + 1 < l.rank()) {
      fail("RANK ERROR");
    } else if (l.rank() != r.rank()) {
      Val& lo = l.rank() < r.rank() ? l : r;
      const Val& hi = l.rank() < r.rank() ? r : l;
      Shape sh = lo.shape;
      sh.insert(sh.begin() + static_cast<std::ptrdiff_t>(a), 1);
      for (std::size_t i = 0; i < rank; ++i)
        if (i != a && sh[i] != hi.shape[i]) fail("LENGTH ERROR");
      lo = with_shape(lo, sh);
    } else {
      for (std::size_t i = 0; i < rank; ++i)
        if (i != a && l.shape[i] != r.shape[i]) fail("LENGTH ERROR");
    }
  }
  Shape shape = l.shape;
  shape[a] = l.shape[a] + r.shape[a];
  const std::size_t pre = product(shape, 0, a), post = product(shape, a + 1, shape.size());
  std::vector<Val> es;
  for (std::size_t p = 0; p < pre; ++p) {
    for (std::size_t i = 0; i < l.shape[a] * post; ++i) es.push_back(test::elem(l, p * l.shape[a] * post + i));
    for (std::size_t i = 0; i < r.shape[a] * post; ++i) es.push_back(test::elem(r, p * r.shape[a] * post + i));
  }
  // The result's type: the contributing side's when the other adds nothing,
  // R's when the result is empty, else the common simple kind or nested.
  const Val* only = l.shape[a] == 0 ? &r0 : (r.shape[a] == 0 ? &l0 : nullptr);
  if (!only && es.empty()) only = &r0;
  if (only) {
    if (only->kind != Val::Nest) return test::pack_simple(only->kind, shape, es, only->kind == Val::Num ? only->ntype : 0);
    if (es.empty()) {
      std::shared_ptr<Val> p;
      if (only->items.empty()) p = only->proto;
      else p = std::make_shared<Val>(test::prototype(only->items[0]));
      return test::pack_nested(shape, {}, p);
    }
    return test::pack_nested(shape, es);
  }
  if (l.kind == r.kind && l.kind != Val::Nest)
    return test::pack_simple(l.kind, shape, es, l.kind == Val::Num ? std::max(l.ntype, r.ntype) : 0);
  return test::pack_nested(shape, es);
}

Val ravel(const Val& r) {
  Val z = r;
  z.shape = {static_cast<std::uint32_t>(r.count())};
  return z;
}

void enlist_walk(const Val& v, std::vector<Val>& out) {
  if (v.simple()) {
    for (std::size_t i = 0; i < v.count(); ++i) out.push_back(test::elem(v, i));
  } else {
    for (const auto& it : v.items) enlist_walk(it, out);
  }
}

Val enlist(const Val& r) {
  std::vector<Val> es;
  enlist_walk(r, es);
  const Shape shape{static_cast<std::uint32_t>(es.size())};
  if (r.simple()) return test::pack_simple(r.kind, shape, es, r.kind == Val::Num ? r.ntype : 0);
  if (es.empty()) return test::pack_simple(Val::Num, shape, es, ET_BOOL);
  return test::pack_items(shape, es);
}

// ⌽R ⊖R (no `l`) and L⌽R L⊖R along the axis written or the default one.
Val rotate(const Val* l, const Val& r, std::optional<int> axis_written, bool first) {
  if (l && l->kind != Val::Num) fail("DOMAIN ERROR");
  const std::size_t a = whole_axis(r, axis_written, first);
  const Shape rs = r.rank() == 0 ? Shape{1} : r.shape;
  const std::size_t n = rs[a], pre = product(rs, 0, a), post = product(rs, a + 1, rs.size());
  std::vector<std::int64_t> amounts;
  if (l) {
    if (l->count() != 1) {
      if (l->rank() + 1 != r.rank()) fail("RANK ERROR");
      Shape rest = r.shape;
      rest.erase(rest.begin() + static_cast<std::ptrdiff_t>(a));
      if (l->shape != rest) fail("LENGTH ERROR");
    }
    if (r.count() == 0) return r;
    amounts = integers_of(*l);
  }
  std::vector<Pick> picks;
  for (std::size_t o = 0; o < pre; ++o)
    for (std::size_t j = 0; j < n; ++j)
      for (std::size_t i = 0; i < post; ++i) {
        std::size_t from = n - 1 - j;
        if (l) {
          const auto m = static_cast<std::int64_t>(n);
          const std::int64_t v = amounts[amounts.size() == 1 ? 0 : o * post + i];
          from = static_cast<std::size_t>(((static_cast<std::int64_t>(j) + v) % m + m) % m);
        }
        picks.push_back({static_cast<std::int64_t>((o * n + from) * post + i), false});
      }
  return complete(r, r.shape, picks);
}

// ⍉R (no `l`) and L⍉R: R's axis i becomes result axis map[i]; axes that
// meet take the diagonal.
Val transpose(const Val* l, const Val& r, int io) {
  std::vector<std::size_t> map;
  if (!l) {
    for (std::size_t i = 0; i < r.rank(); ++i) map.push_back(r.rank() - 1 - i);
  } else {
    if (l->kind != Val::Num) fail("DOMAIN ERROR");
    if (l->rank() > 1) fail("RANK ERROR");
    if (l->count() != r.rank()) fail("LENGTH ERROR");
    for (std::int64_t v : integers_of(*l)) {
      if (v - io < 0) fail("DOMAIN ERROR");
      map.push_back(static_cast<std::size_t>(v - io));
    }
    const std::size_t top = map.empty() ? 0 : *std::max_element(map.begin(), map.end());
    for (std::size_t v = 0; v <= top && !map.empty(); ++v)
      if (std::find(map.begin(), map.end(), v) == map.end()) fail("DOMAIN ERROR");
  }
  if (r.rank() <= 1) return r;
  const std::size_t rank = *std::max_element(map.begin(), map.end()) + 1;
  Shape shape(rank, 0xFFFFFFFFu);
  for (std::size_t i = 0; i < r.rank(); ++i) shape[map[i]] = std::min(shape[map[i]], r.shape[i]);
  std::vector<Pick> picks;
  const std::size_t count = product(shape, 0, rank);
  std::vector<std::size_t> at(rank, 0);
  for (std::size_t k = 0; k < count; ++k) {
    std::size_t from = 0;
    for (std::size_t i = 0; i < r.rank(); ++i) from = from * r.shape[i] + at[map[i]];
    picks.push_back({static_cast<std::int64_t>(from), false});
    for (std::size_t d = rank; d-- > 0;) {
      if (++at[d] < shape[d]) break;
      at[d] = 0;
    }
  }
  return complete(r, shape, picks);
}

// One position of a bracket index: elided, or an index array.
using IndexItem = std::optional<Val>;

Val index(const Val& a, const std::vector<IndexItem>& list, int io) {
  if (a.rank() == 0) fail("RANK ERROR");
  if (list.size() == 1 && !list[0]) return a;  // A[] is all of A
  if (list.size() != a.rank()) fail("RANK ERROR");
  Shape shape;
  std::vector<std::vector<std::int64_t>> positions;
  std::vector<bool> bad_domain;
  for (std::size_t k = 0; k < list.size(); ++k) {
    std::vector<std::int64_t> pos;
    if (!list[k]) {
      shape.push_back(a.shape[k]);
      for (std::uint32_t j = 0; j < a.shape[k]; ++j) pos.push_back(j);
    } else {
      const Val& ix = *list[k];
      for (auto s : ix.shape) shape.push_back(s);
      if (ix.count() != 0 && ix.kind != Val::Num) fail("INDEX ERROR");
      for (std::size_t j = 0; j < ix.count(); ++j) {
        // Out-of-range positions are marked; a non-integral one raises
        // DOMAIN ERROR when the odometer reaches it.
        const Val e = test::elem(ix, j);
        const double d = e.num[0];
        if (d != std::nearbyint(d) && std::fabs(d - std::nearbyint(d)) > std::ldexp(std::fabs(d), -44)) {
          pos.push_back(-2);
          continue;
        }
        const std::int64_t v = static_cast<std::int64_t>(std::nearbyint(d)) - io;
        pos.push_back(v < 0 || v >= a.shape[k] ? -1 : v);
      }
    }
    positions.push_back(pos);
  }
  // Every index is checked whatever the result's size: the odometer runs
  // over the axes that have positions, so that an empty index on one axis
  // does not excuse a bad index on another; the positions are kept only
  // when no axis is empty.
  const std::size_t count = product(shape, 0, shape.size());
  std::vector<std::size_t> live;
  std::size_t steps = 1;
  for (std::size_t k = 0; k < list.size(); ++k)
    if (!positions[k].empty()) {
      live.push_back(k);
      steps *= positions[k].size();
    }
  std::vector<Pick> picks;
  std::vector<std::size_t> at(list.size(), 0);
  for (std::size_t n = 0; n < steps; ++n) {
    std::int64_t linear = 0;
    for (std::size_t k : live) {
      const std::int64_t p = positions[k][at[k]];
      if (p == -2) fail("DOMAIN ERROR");
      if (p == -1) fail("INDEX ERROR");
      linear = linear * a.shape[k] + p;
    }
    if (count != 0) picks.push_back({linear, false});
    for (std::size_t j = live.size(); j-- > 0;) {
      const std::size_t k = live[j];
      if (++at[k] < positions[k].size()) break;
      at[k] = 0;
    }
  }
  return complete(a, shape, picks);
}

Val squad(const Val& i, const Val& a, int io) {
  if (i.kind == Val::Chr && i.count() != 0) fail("DOMAIN ERROR");
  if (i.kind == Val::Nest) {
    if (i.rank() > 1) fail("RANK ERROR");
    if (a.rank() == 0 && i.count() != 0) fail("RANK ERROR");
    if (i.count() != a.rank()) fail("RANK ERROR");
    std::vector<IndexItem> list;
    for (const auto& it : i.items) list.push_back(it);
    return index(a, list, io);
  }
  if (i.rank() > 1) fail("RANK ERROR");
  if (a.rank() == 0) {
    if (i.rank() != 1 || i.count() != 0) fail("RANK ERROR");
    return a;
  }
  if (i.count() > 63) fail("INDEX ERROR");
  if (i.count() != a.rank()) fail("RANK ERROR");
  std::int64_t linear = 0;
  std::vector<std::int64_t> v;
  for (std::size_t k = 0; k < i.count(); ++k) v.push_back(integer_of(test::elem(i, k)));
  for (std::size_t k = 0; k < i.count(); ++k) {
    const std::int64_t p = v[k] - io;
    if (p < 0 || p >= a.shape[k]) fail("INDEX ERROR");
    linear = linear * a.shape[k] + p;
  }
  Val item = test::elem(a, static_cast<std::size_t>(linear));
  if (item.simple_scalar()) return item;
  return test::pack_nested({}, {item});
}

Val iota(const Val& r, int io) {
  if (r.kind != Val::Num) fail("DOMAIN ERROR");
  if (r.count() != 1) fail("RANK ERROR");
  const std::int64_t n = integer_of(test::elem(r, 0));
  if (n < 0) fail("DOMAIN ERROR");
  std::vector<std::int64_t> v;
  for (std::int64_t k = 0; k < n; ++k) v.push_back(k + io);
  return int_vector(v);
}

Val index_of(const Val& l, const Val& r, int io) {
  if (l.rank() != 1) fail("RANK ERROR");
  Val z;
  z.kind = Val::Num;
  z.ntype = ET_INT;
  z.shape = r.shape;
  for (std::size_t j = 0; j < r.count(); ++j) {
    const Val y = test::elem(r, j);
    std::size_t found = l.count();
    for (std::size_t k = 0; k < l.count() && found == l.count(); ++k) {
      const Val x = test::elem(l, k);
      bool eq;
      if (l.simple() && r.simple()) eq = scalar_equal(x, y);
      else if (!l.simple() && r.simple()) eq = x.simple_scalar() && scalar_equal(x, y);
      else if (l.simple()) eq = y.simple_scalar() && scalar_equal(x, y);
      else eq = match(x, y);
      if (eq) found = k;
    }
    z.num.push_back(static_cast<double>(found + io));
  }
  return z;
}

// ---- the scalar functions --------------------------------------------------------------------

enum class Fn { Plus, Minus, Times, Divide, Residue, Max, Min, Eq, Ne, Lt, Le, Ge, Gt, And, Or, Nand, Nor, Not };

struct FnInfo {
  Fn fn;
  const char* glyph;
  bool chars_allowed;  // characters as arguments (= ≠)
};

const FnInfo kDyadic[] = {{Fn::Plus, "+", false},    {Fn::Minus, "−", false}, {Fn::Times, "×", false},
                          {Fn::Divide, "÷", false},  {Fn::Residue, "|", false}, {Fn::Max, "⌈", false},
                          {Fn::Min, "⌊", false},     {Fn::Eq, "=", true},       {Fn::Ne, "≠", true},
                          {Fn::Lt, "<", false},      {Fn::Le, "≤", false},      {Fn::Ge, "≥", false},
                          {Fn::Gt, ">", false},      {Fn::And, "∧", false},     {Fn::Or, "∨", false},
                          {Fn::Nand, "⍲", false},    {Fn::Nor, "⍱", false}};
const FnInfo kMonadic[] = {{Fn::Plus, "+", false},  {Fn::Minus, "−", false}, {Fn::Times, "×", false},
                           {Fn::Divide, "÷", false}, {Fn::Residue, "|", false}, {Fn::Max, "⌈", false},
                           {Fn::Min, "⌊", false},    {Fn::Not, "~", false}};

bool fits_int(double v) { return v >= -2147483648.0 && v <= 2147483647.0; }

double tolerant_floor(double x) {
  const double a = std::ceil(x);
  if (a == x) return x;
  if (std::fabs(x) <= kCt) return 0;
  if (a - x < kCt * std::fabs(a) && a - x < 0.1) return a;
  return a - 1;
}
double tolerant_ceiling(double x) {
  const double a = std::floor(x);
  if (a == x) return x;
  if (std::fabs(x) <= kCt) return 0;
  if (x - a < kCt * std::fabs(a) && x - a < 0.1) return a;
  return a + 1;
}

bool is_boolean_value(double v) { return v == 0 || v == 1; }

// Set by an integer element routine that overflows: the result is rebuilt
// as floats.
bool g_overflow = false;

bool tolerant_ge(double x, double y, bool floats) {
  if (!floats) return x >= y;
  return !(x - y < -kCt * std::max(std::fabs(x), std::fabs(y)));
}

// One element of a dyadic scalar function: the value and whether it needs
// a float (for functions with integer results).
double dyadic_element(Fn fn, const Val& x, const Val& y, bool floats) {
  if (fn == Fn::Eq || fn == Fn::Ne) {
    const bool e = scalar_equal(x, y);
    return (fn == Fn::Eq) == e;
  }
  const double a = x.num[0], b = y.num[0];
  switch (fn) {
    case Fn::Plus: return a + b;
    case Fn::Minus: return a - b;
    case Fn::Times: return a * b;
    case Fn::Divide:
      if (b == 0) {
        if (a == 0) return 1;
        fail("DOMAIN ERROR");
      }
      return a / b;
    case Fn::Residue: {
      if (a == 0) return b;
      if (!floats && (a == -2147483648.0 || (b != 0 && b == -2147483648.0))) g_overflow = true;
      if (b == 0) return 0;
      if (!floats && fits_int(a) && fits_int(b)) {
        const auto l = static_cast<std::int64_t>(a), r = static_cast<std::int64_t>(b);
        std::int64_t m = r % l;
        if (m != 0 && ((m < 0) != (l < 0))) m += l;
        return static_cast<double>(m);
      }
      const double q = b / a;
      if (tolerant_floor(q) == tolerant_ceiling(q)) return 0;
      const double z = b - a * std::floor(q);
      return z == 0 ? 0 : z;
    }
    case Fn::Max: return a >= b ? a : b;
    case Fn::Min: return a > b ? b : a;
    case Fn::Lt: return !tolerant_ge(a, b, floats);
    case Fn::Le: return tolerant_ge(b, a, floats);
    case Fn::Ge: return tolerant_ge(a, b, floats);
    case Fn::Gt: return !tolerant_ge(b, a, floats);
    default: break;
  }
  if (!is_boolean_value(a) || !is_boolean_value(b)) fail("DOMAIN ERROR");
  switch (fn) {
    case Fn::And: return a != 0 && b != 0;
    case Fn::Or: return a != 0 || b != 0;
    case Fn::Nand: return !(a != 0 && b != 0);
    case Fn::Nor: return !(a != 0 || b != 0);
    default: break;
  }
  fail("SYSTEM ERROR");
}

// The element type of a simple result before any widening after overflow.
std::uint8_t result_type(Fn fn, bool monadic, std::uint8_t t) {
  switch (fn) {
    case Fn::Eq: case Fn::Ne: case Fn::Lt: case Fn::Le: case Fn::Ge: case Fn::Gt:
    case Fn::And: case Fn::Or: case Fn::Nand: case Fn::Nor: case Fn::Not:
      return ET_BOOL;
    case Fn::Divide: return ET_FLOAT;
    case Fn::Times: case Fn::Max: case Fn::Min:
      if (monadic) return ET_INT;
      [[fallthrough]];
    default: return t == ET_FLOAT ? ET_FLOAT : ET_INT;
  }
}

Val zero_prototype(const Val& v) {
  Val r;
  r.shape = v.shape;
  if (v.simple()) {
    r.kind = Val::Num;
    r.ntype = ET_BOOL;
    r.num.assign(v.count(), 0.0);
    return r;
  }
  r.kind = Val::Nest;
  if (v.items.empty()) {
    if (v.proto) r.proto = std::make_shared<Val>(zero_prototype(*v.proto));
  } else {
    for (const auto& it : v.items) r.items.push_back(zero_prototype(it));
  }
  return r;
}

bool single(const Val& v) { return v.count() == 1; }

Val apply_dyadic(const FnInfo& f, const Val& l, const Val& r);
Val apply_monadic(const FnInfo& f, const Val& r);

// Simplifies a nested result of = ≠ whose items are all simple scalars.
Val finish_nested(const FnInfo& f, const Shape& shape, const std::vector<Val>& items) {
  if ((f.fn == Fn::Eq || f.fn == Fn::Ne) && !items.empty()) return test::pack_items(shape, items);
  return test::pack_nested(shape, items);
}

Val apply_dyadic(const FnInfo& f, const Val& l, const Val& r) {
  for (const Val* v : {&l, &r})
    if (v->kind == Val::Chr && v->count() != 0 && !f.chars_allowed) fail("DOMAIN ERROR");
  Shape shape;
  if (!single(l) && !single(r)) {
    if (l.rank() != r.rank()) fail("RANK ERROR");
    if (l.shape != r.shape) fail("LENGTH ERROR");
    shape = l.shape;
  } else if (!single(l)) {
    shape = l.shape;
  } else if (!single(r)) {
    shape = r.shape;
  } else {
    shape = r.rank() > l.rank() ? r.shape : l.shape;
  }
  const std::size_t n = product(shape, 0, shape.size());
  if (l.simple() && r.simple()) {
    const bool floats = is_float(l) || is_float(r);
    const std::uint8_t either = (l.kind == Val::Num && r.kind == Val::Num) ? std::max(l.ntype, r.ntype) : std::uint8_t{ET_INT};
    std::uint8_t t = result_type(f.fn, false, either);
    Val z;
    z.kind = Val::Num;
    z.shape = shape;
    g_overflow = false;
    for (std::size_t i = 0; i < n; ++i) {
      const double v = dyadic_element(f.fn, test::elem(l, single(l) ? 0 : i), test::elem(r, single(r) ? 0 : i), floats);
      if (!std::isfinite(v)) fail("DOMAIN ERROR");
      z.num.push_back(v == 0 ? 0.0 : v);
      if (t == ET_INT && (!fits_int(v) || g_overflow)) t = ET_FLOAT;
    }
    z.ntype = t;
    return z;
  }
  if (n == 0) {
    const Val& e = r.count() == 0 ? r : l;
    std::shared_ptr<Val> p;
    if (!e.simple() && e.proto) p = std::make_shared<Val>(zero_prototype(*e.proto));
    else if (e.simple()) p = std::make_shared<Val>(test::num_scalar(0, ET_BOOL));
    return test::pack_nested(shape, {}, p);
  }
  std::vector<Val> items;
  for (std::size_t i = 0; i < n; ++i)
    items.push_back(apply_dyadic(f, test::elem(l, single(l) ? 0 : i), test::elem(r, single(r) ? 0 : i)));
  return finish_nested(f, shape, items);
}

Val apply_monadic(const FnInfo& f, const Val& r) {
  if (r.kind == Val::Chr && r.count() != 0) fail("DOMAIN ERROR");
  const std::size_t n = r.count();
  if (r.simple()) {
    std::uint8_t t = result_type(f.fn, true, r.ntype);
    Val z;
    z.kind = Val::Num;
    z.shape = r.shape;
    for (std::size_t i = 0; i < n; ++i) {
      const double x = r.num[i];
      double v = 0;
      switch (f.fn) {
        case Fn::Plus: v = x; break;
        case Fn::Minus: v = -x; break;
        case Fn::Times: v = (x > 0) - (x < 0); break;
        case Fn::Divide:
          if (x == 0) fail("DOMAIN ERROR");
          v = 1 / x;
          break;
        case Fn::Residue: v = std::fabs(x); break;
        case Fn::Max: v = r.ntype == ET_FLOAT ? tolerant_ceiling(x) : x; break;
        case Fn::Min: v = r.ntype == ET_FLOAT ? tolerant_floor(x) : x; break;
        case Fn::Not:
          if (!is_boolean_value(x)) fail("DOMAIN ERROR");
          v = x == 0;
          break;
        default: fail("SYSTEM ERROR");
      }
      z.num.push_back(v == 0 ? 0.0 : v);
      if (t == ET_INT && !fits_int(v)) t = ET_FLOAT;
    }
    z.ntype = t;
    return z;
  }
  if (n == 0) {
    std::shared_ptr<Val> p;
    if (r.proto) p = std::make_shared<Val>(zero_prototype(*r.proto));
    return test::pack_nested(r.shape, {}, p);
  }
  std::vector<Val> items;
  for (std::size_t i = 0; i < n; ++i) items.push_back(apply_monadic(f, r.items[i]));
  return test::pack_nested(r.shape, items);
}

// ⍋R ⍒R L⍋R L⍒R: the indices that sort R's major cells, compared exactly
// element by element (characters by internal code, or by their positions
// in L), equal cells in index order for both directions.
Val grade(const Val* l, const Val& r, bool down, int io) {
  if (l ? l->kind == Val::Nest : r.kind == Val::Nest) fail("DOMAIN ERROR");
  if (l && (l->kind != Val::Chr || r.kind != Val::Chr || l->rank() == 0 || l->count() == 0)) fail("DOMAIN ERROR");
  if (r.rank() == 0) fail("RANK ERROR");
  const std::size_t n = r.shape[0], cell = product(r.shape, 1, r.rank());
  // levels[k][c]: the rank of character c at level k.
  std::vector<std::vector<std::uint32_t>> levels;
  if (r.kind == Val::Chr && !l) {
    levels.assign(1, std::vector<std::uint32_t>(256));
    for (int c = 32; c < 127; ++c)
      levels[0][c] = static_cast<unsigned char>(utf8_to_internal(std::string(1, static_cast<char>(c)))[0]);
  } else if (l && (l->rank() == 1 || r.rank() == 1)) {
    levels.assign(1, std::vector<std::uint32_t>(256, 255));
    std::uint32_t next = 0;
    for (std::size_t i = 0; i < l->count(); ++i) {
      auto& t = levels[0][static_cast<unsigned char>(l->chr[i])];
      if (t == 255 && l->chr.find(l->chr[i]) == i) t = std::min<std::uint32_t>(next++, 255);
    }
  } else if (l) {
    levels.assign(l->rank(), std::vector<std::uint32_t>(256, 1u << 31));
    for (std::size_t i = 0; i < l->count(); ++i) {
      if (l->chr.find(l->chr[i]) != i) continue;
      std::size_t rest = i;
      for (std::size_t k = 0; k < l->rank(); ++k) {
        const std::uint32_t len = l->shape[l->rank() - 1 - k];
        levels[k][static_cast<unsigned char>(l->chr[i])] = static_cast<std::uint32_t>(rest % len);
        rest /= len;
      }
    }
  }
  auto compare = [&](std::size_t x, std::size_t y) {
    if (r.kind == Val::Num) {
      for (std::size_t k = 0; k < cell; ++k) {
        const double u = r.num[x * cell + k], v = r.num[y * cell + k];
        if (u != v) return u < v ? -1 : 1;
      }
      return 0;
    }
    for (const auto& t : levels)
      for (std::size_t k = 0; k < cell; ++k) {
        const std::uint32_t u = t[static_cast<unsigned char>(r.chr[x * cell + k])];
        const std::uint32_t v = t[static_cast<unsigned char>(r.chr[y * cell + k])];
        if (u != v) return u < v ? -1 : 1;
      }
    return 0;
  };
  std::vector<std::size_t> order(n);
  for (std::size_t i = 0; i < n; ++i) order[i] = i;
  std::stable_sort(order.begin(), order.end(), [&](std::size_t x, std::size_t y) {
    const int c = compare(x, y);
    return down ? c > 0 : c < 0;
  });
  std::vector<std::int64_t> z;
  for (std::size_t i : order) z.push_back(static_cast<std::int64_t>(i) + io);
  return int_vector(z);
}

// ---- the generator ----------------------------------------------------------------------------

class Gen {
 public:
  explicit Gen(std::uint32_t seed) : rng_(seed) {}

  int below(int n) { return static_cast<int>(rng_() % static_cast<std::uint32_t>(n)); }
  bool chance(int percent) { return below(100) < percent; }

  Shape shape(int max_rank = 3, int max_len = 4) {
    Shape s(static_cast<std::size_t>(below(max_rank + 1)));
    for (auto& x : s) x = static_cast<std::uint32_t>(chance(12) ? 0 : 1 + below(max_len));
    return s;
  }

  enum Kind { Bool, SmallInt, BigInt, Float, Char, Nested, Any };

  double number(Kind k) {
    static const double big[] = {2147483647.0, -2147483648.0, 2147483646.0, -2147483647.0,
                                 1073741824.0, -1073741824.0, 65536.0,      46341.0};
    static const double floats[] = {0.5, -2.5, 1.25, 0.125, -0.375, 3.75, 1e10, 2.0, 0.0, 1.0, 3e9, -7.5};
    switch (k) {
      case Bool: return below(2);
      case SmallInt: return below(15) - 5;
      case BigInt: return chance(70) ? big[below(8)] : below(7) - 3;
      default: return chance(70) ? (below(2001) - 1000) / 8.0 : floats[below(12)];
    }
  }

  Val simple(Kind k, const Shape& s) {
    Val v;
    v.shape = s;
    const std::size_t n = product(s, 0, s.size());
    if (k == Char) {
      static const char alphabet[] = "abAB z'9";
      v.kind = Val::Chr;
      for (std::size_t i = 0; i < n; ++i) v.chr += alphabet[below(8)];
      return v;
    }
    v.kind = Val::Num;
    for (std::size_t i = 0; i < n; ++i) v.num.push_back(number(k));
    v.ntype = k == Bool ? ET_BOOL : k == Float ? ET_FLOAT : ET_INT;
    if (k != Float) {
      std::uint8_t t = ET_BOOL;
      for (double d : v.num) t = std::max(t, test::type_of_number(d));
      v.ntype = t;
    }
    return v;
  }

  Kind simple_kind() { return static_cast<Kind>(below(5)); }

  // An item of a nested array: a simple scalar, a short simple vector, or
  // (while depth remains) a nested array.
  Val item(int depth_left, Kind numbers) {
    const int c = below(10);
    if (c < 4) return simple(chance(40) ? Char : numbers, {});
    if (c < 8 || depth_left == 0) return simple(chance(30) ? Char : numbers, {static_cast<std::uint32_t>(below(4))});
    return nested(shape(2, 3), depth_left - 1, numbers);
  }

  // A nested array of the shape; one whose items all came out simple
  // scalars of one kind is the simple array they make, as a strand would.
  Val nested(const Shape& s, int depth_left, Kind numbers) {
    const std::size_t n = product(s, 0, s.size());
    if (n == 0) {
      Val p = item(depth_left, numbers);
      if (p.simple_scalar() && chance(70)) p = simple(numbers, {2});
      return test::pack_nested(s, {}, std::make_shared<Val>(test::prototype(p)));
    }
    std::vector<Val> items;
    for (std::size_t i = 0; i < n; ++i) items.push_back(item(depth_left, numbers));
    return test::pack_items(s, items);
  }

  Val value(Kind k, const Shape& s) {
    if (k == Any) k = chance(35) ? Nested : simple_kind();
    if (k == Nested) return nested(s, 2, chance(50) ? SmallInt : simple_kind() == Float ? Float : SmallInt);
    return simple(k, s);
  }
  Val value(Kind k = Any) { return value(k, shape()); }

  // An integer vector of counts or positions (boolean, integer or integral
  // float), of the given values.
  Val integers(const std::vector<std::int64_t>& v, bool vector = true) {
    Val r;
    r.kind = Val::Num;
    if (vector) r.shape = {static_cast<std::uint32_t>(v.size())};
    for (auto x : v) r.num.push_back(static_cast<double>(x));
    std::uint8_t t = ET_BOOL;
    for (double d : r.num) t = std::max(t, test::type_of_number(d));
    r.ntype = chance(15) ? std::uint8_t{ET_FLOAT} : t;
    return r;
  }

  // Element 0 of a numeric value set to v, the type widened to hold it.
  static void set_first(Val& r, double v) {
    r.num[0] = v;
    r.ntype = std::max(r.ntype, test::type_of_number(v));
  }

 private:
  std::mt19937 rng_;
};

// ---- the interpreter side ---------------------------------------------------------------------

class Apl {
 public:
  Apl() : tw_(1024 * 1024) {}
  Ws ws() const { return tw_.ws(); }

  std::string run(const std::string& line) { return test::run_line(line, task_, ws()); }

  std::uint32_t symbol(const std::string& name) {
    const std::uint32_t e = test::symbol_entry(name, ws());
    EXPECT_NE(e, 0u) << name;
    return e;
  }

  // Binds `name` to the value, written into the heap directly.
  void define(const std::string& name, const Val& v) {
    const test::ArrayImage a = test::image_of(v);
    ASSERT_EQ(run(name + "←0"), "");
    const std::uint32_t off = getspc(a.size() - 8, ws());
    std::memcpy(ws() + off + 8, a.bytes.data() + 8, a.size() - 8);
    const std::uint32_t entry = symbol(name);
    const std::uint32_t old = rd32(ws(), entry + sym::Value);
    wr32(ws(), entry + sym::Value, off);
    set_owner(off, entry, OK_SYMBOL, ws());
    mgarb(old, ws());
  }

  Val value(const std::string& name, std::string& bad) {
    return test::read_value(rd32(ws(), symbol(name) + sym::Value), ws(), bad);
  }

 private:
  test::TestWorkspace tw_;
  test::CaptureTask task_;
  test::CurrentTask current_{&task_};
};

// One generated case: the names to bind, the line that sets Z, and the
// model's answer.
struct Case {
  std::vector<std::pair<std::string, Val>> names;
  std::string line;  // an expression; the test runs Z←line
  std::function<Val()> model;
};

struct Outcome {
  std::string kind;  // empty when the case passed; else what differs, without the values
  std::string text;  // the lines, the model's and the interpreter's answers
};

// Runs the case and compares the interpreter's answer with the model's.
Outcome check(Apl& apl, const Case& c, int io) {
  std::string setup = "⎕IO←" + std::to_string(io);
  for (const auto& [name, v] : c.names) {
    apl.define(name, v);
    setup += " ⋄ " + name + "←" + test::apl_text(v);
  }
  std::string want_error;
  Val want;
  try {
    want = c.model();
  } catch (const ModelError& e) {
    want_error = e.name;
  }
  const std::string out = apl.run("Z←" + c.line);
  const std::string got_error = test::first_line(out);
  const std::string where = "\n      " + setup + "\n      Z←" + c.line + "\n";
  if (!want_error.empty()) {
    if (got_error == want_error) return {};
    std::string got = got_error;
    if (got.empty()) {
      std::string bad;
      got = test::apl_text(apl.value("Z", bad));
    }
    return {"wanted " + want_error + ", got " + (got_error.empty() ? "a value" : got_error),
            where + "wanted " + want_error + ", got " + got};
  }
  if (!out.empty()) return {"wanted a value, got " + got_error, where + "wanted " + test::apl_text(want) + ", got " + got_error};
  std::string bad;
  const Val got = apl.value("Z", bad);
  if (!bad.empty()) return {"result of " + bad, where + "result of " + bad};
  std::string d = test::difference(want, got, true);
  if (d.empty()) {
    apl.define("E", want);
    const std::string m = apl.run("E≡Z");
    if (test::first_line(m) != "1") d = "E≡Z answers " + test::first_line(m) + " for E←" + test::apl_text(want);
  }
  if (d.empty()) return {};
  std::string kind;
  for (char ch : d)
    if (!std::isdigit(static_cast<unsigned char>(ch))) kind += ch;
  if (kind.rfind("E≡Z", 0) == 0) kind = "E≡Z";
  return {kind, where + "wanted " + test::apl_text(want) + "\n   got " + test::apl_text(got) + "\n   (" + d + ")"};
}

// Runs `n` cases made by `make` under each index origin; reports the first
// few discrepancies in full and counts the rest.
void run_cases(const char* family, std::uint32_t seed, int n, const std::function<Case(Gen&, int)>& make) {
  Apl apl;
  Gen gen(seed);
  int failures = 0, type_failures = 0;
  std::string report, type_report;
  std::map<std::string, int> seen;  // examples shown per kind of discrepancy
  for (int io = 0; io <= 1; ++io) {
    ASSERT_EQ(apl.run("⎕IO←" + std::to_string(io)), "");
    for (int k = 0; k < n; ++k) {
      const Case c = make(gen, io);
      const Outcome o = check(apl, c, io);
      if (o.kind.empty()) continue;
      const bool type_only = o.kind.find("numeric type") != std::string::npos;
      ++(type_only ? type_failures : failures);
      if (++seen[o.kind] <= 3) (type_only ? type_report : report) += o.text + "\n";
    }
  }
  std::string kinds, type_kinds;
  for (const auto& [kind, times] : seen)
    (kind.find("numeric type") != std::string::npos ? type_kinds : kinds) += "\n  " + std::to_string(times) + " × " + kind;
  EXPECT_EQ(failures, 0) << family << ": " << failures << " discrepancies:" << kinds << "\nexamples of each:" << report;
  EXPECT_EQ(type_failures, 0) << family << ": " << type_failures << " results right but for the numeric type of some elements:"
                              << type_kinds << "\nexamples of each:" << type_report;
  EXPECT_TRUE(heap_consistent(apl.ws()));
}

std::string axis_text(int zero_based, int io) { return "[" + std::to_string(zero_based + io) + "]"; }

// ---- the families -----------------------------------------------------------------------------

TEST(GeneratedCases, ScalarDyadic) {
  run_cases("dyadic scalar functions", 101, 2500, [](Gen& g, int) {
    const FnInfo f = kDyadic[g.below(static_cast<int>(std::size(kDyadic)))];
    const bool logical = f.fn >= Fn::And;
    auto kind = [&] {
      if (logical && g.chance(70)) return Gen::Bool;
      return g.chance(30) ? Gen::Nested : g.simple_kind();
    };
    Val l = g.value(kind());
    Val r;
    const int c = g.below(10);
    if (c < 6) r = g.value(kind(), l.shape);
    else if (c < 8) r = g.value(kind(), Shape(static_cast<std::size_t>(g.below(3)), 1));
    else r = g.value(kind());
    if (g.chance(50)) std::swap(l, r);
    Case k;
    k.names = {{"L", l}, {"R", r}};
    k.line = std::string("L") + f.glyph + "R";
    k.model = [f, l, r] { return apply_dyadic(f, l, r); };
    return k;
  });
}

TEST(GeneratedCases, ScalarMonadic) {
  run_cases("monadic scalar functions", 102, 1500, [](Gen& g, int) {
    const FnInfo f = kMonadic[g.below(static_cast<int>(std::size(kMonadic)))];
    const Val r = g.value(f.fn == Fn::Not && g.chance(70) ? Gen::Bool : Gen::Any);
    Case k;
    k.names = {{"R", r}};
    k.line = std::string(f.glyph) + "R";
    k.model = [f, r] { return apply_monadic(f, r); };
    return k;
  });
}

TEST(GeneratedCases, Reshape) {
  run_cases("reshape", 103, 2000, [](Gen& g, int) {
    const Val r = g.value();
    std::vector<std::int64_t> lens;
    const int rank = g.below(4);
    for (int i = 0; i < rank; ++i) lens.push_back(g.chance(15) ? 0 : g.below(5));
    Val l = g.integers(lens, !(rank == 1 && g.chance(40)));
    const int c = g.below(20);
    if (c == 0 && rank > 0) Gen::set_first(l, -1);
    if (c == 1 && rank > 0) Gen::set_first(l, 1.5);
    if (c == 2) l = g.simple(Gen::Char, {2});
    if (c == 3) l = g.value(Gen::Nested, {2});
    if (c == 4) l = g.integers({1, 2}), l.shape = {1, 2};
    Case k;
    k.names = {{"L", l}, {"R", r}};
    k.line = "L⍴R";
    k.model = [l, r] { return reshape(l, r); };
    return k;
  });
}

// A replication or expansion left argument for an axis of length `len`.
Val counts(Gen& g, std::size_t len, bool expansion) {
  std::vector<std::int64_t> v;
  if (expansion) {
    std::size_t positives = 0;
    while (positives < len || g.chance(30)) {
      if (positives < len && g.chance(65)) {
        v.push_back(g.chance(80) ? 1 : 2);
        ++positives;
      } else {
        v.push_back(g.chance(75) ? 0 : -1 - g.below(2));
      }
      if (v.size() > 8) break;
    }
    if (g.chance(10)) v.push_back(1);  // one positive too many
  } else {
    const std::size_t n = g.chance(75) ? len : static_cast<std::size_t>(g.below(5));
    for (std::size_t i = 0; i < n; ++i) {
      const int c = g.below(10);
      v.push_back(c < 7 ? g.below(2) : c < 9 ? 2 + g.below(2) : -1 - g.below(2));
    }
  }
  if (g.chance(10)) return g.integers({v.empty() ? 1 : v[0]}, g.chance(50));
  Val l = g.integers(v);
  if (g.chance(5) && !v.empty()) Gen::set_first(l, 0.5);
  if (g.chance(3)) l.shape = {1, static_cast<std::uint32_t>(v.size())};
  return l;
}

void replicate_family(const char* family, std::uint32_t seed, bool expansion) {
  run_cases(family, seed, 2000, [expansion](Gen& g, int io) {
    const Val r = g.value();
    const bool first = g.chance(35);
    std::optional<int> axis;
    if (g.chance(30)) axis = g.below(static_cast<int>(r.rank()) + 1);
    const std::size_t a = r.rank() == 0 ? 0 : (axis ? std::min<std::size_t>(*axis, r.rank() - 1) : (first ? 0 : r.rank() - 1));
    const Val l = counts(g, r.rank() == 0 ? 1 : r.shape[a], expansion);
    Case k;
    k.names = {{"L", l}, {"R", r}};
    k.line = std::string("L") + (expansion ? (first ? "⍀" : "\\") : (first ? "⌿" : "/")) +
             (axis ? axis_text(*axis, io) : "") + "R";
    k.model = [l, r, axis, first, expansion] {
      return expansion ? expand(l, r, axis, first) : compress(l, r, axis, first);
    };
    return k;
  });
}

TEST(GeneratedCases, CompressAndReplicate) { replicate_family("compress", 104, false); }
TEST(GeneratedCases, Expand) { replicate_family("expand", 105, true); }

TEST(GeneratedCases, Catenate) {
  run_cases("catenate", 106, 2500, [](Gen& g, int io) {
    Val l = g.value();
    Shape s = l.shape;
    const int c = g.below(10);
    if (c < 4 && !s.empty()) s[static_cast<std::size_t>(g.below(static_cast<int>(s.size())))] = static_cast<std::uint32_t>(g.below(4));
    else if (c < 6 && !s.empty()) s.erase(s.begin() + g.below(static_cast<int>(s.size())));
    else if (c < 7) s.clear();
    else if (c < 8) s = g.shape();
    Val r = g.value(Gen::Any, s);
    if (g.chance(50)) std::swap(l, r);
    const bool first = g.chance(30);
    CatAxis ax;
    std::string axis;
    const int rank = static_cast<int>(std::max(l.rank(), r.rank()));
    const int d = g.below(10);
    if (d < 3) {
      ax = {CatAxis::Whole, g.below(rank + 1)};
      axis = axis_text(ax.k, io);
    } else if (d < 5) {
      ax = {CatAxis::Laminate, g.below(rank + 2)};
      const int written2 = 2 * (ax.k - 1 + io) + 1;  // twice the written axis
      axis = "[" + std::string(written2 < 0 ? "¯" : "") + std::to_string(std::abs(written2) / 2) + ".5]";
    }
    Case k;
    k.names = {{"L", l}, {"R", r}};
    k.line = std::string("L") + (first ? "⍪" : ",") + axis + "R";
    k.model = [l, r, ax, first] { return catenate(l, r, ax, first); };
    return k;
  });
}

TEST(GeneratedCases, BracketIndexing) {
  run_cases("bracket indexing", 107, 2500, [](Gen& g, int io) {
    const Val a = g.value();
    std::size_t positions = a.rank();
    if (g.chance(5)) positions = static_cast<std::size_t>(g.below(4));
    if (positions == 0) positions = 1;
    std::vector<IndexItem> list;
    const bool scalar = a.rank() == 0;
    Case k;
    std::string text;
    for (std::size_t p = 0; p < positions; ++p) {
      if (p) text += ";";
      if (g.chance(20) && !(scalar && positions == 1)) {
        list.push_back(std::nullopt);
        continue;
      }
      const std::int64_t len = p < a.rank() ? a.shape[p] : 2;
      Shape s = g.shape(2, 3);
      std::vector<std::int64_t> v;
      for (std::size_t i = 0; i < product(s, 0, s.size()); ++i) {
        std::int64_t x = len > 0 ? g.below(static_cast<int>(len)) + io : io;
        if (g.chance(4)) x = g.chance(50) ? len + io : io - 1;
        v.push_back(x);
      }
      Val ix = g.integers(v);
      ix.shape = s;
      if (g.chance(3) && ix.count()) Gen::set_first(ix, ix.num[0] + 0.5);
      if (g.chance(3)) ix = g.simple(Gen::Char, {static_cast<std::uint32_t>(g.below(2))});
      const std::string name = "I" + std::to_string(p);
      k.names.push_back({name, ix});
      text += name;
      list.push_back(ix);
    }
    k.names.push_back({"A", a});
    k.line = "A[" + text + "]";
    k.model = [a, list, io] { return index(a, list, io); };
    return k;
  });
}

TEST(GeneratedCases, Squad) {
  run_cases("squad", 108, 1500, [](Gen& g, int io) {
    const Val a = g.value();
    Val i;
    if (g.chance(25) && a.rank() > 0) {
      std::vector<Val> items;
      for (std::size_t p = 0; p < a.rank(); ++p) {
        std::vector<std::int64_t> v;
        const int n = g.below(3);
        for (int j = 0; j < n; ++j) v.push_back(a.shape[p] ? g.below(static_cast<int>(a.shape[p])) + io : io);
        items.push_back(g.integers(v, n != 1 || g.chance(50)));
      }
      i = test::pack_items({static_cast<std::uint32_t>(items.size())}, items);
    } else {
      std::vector<std::int64_t> v;
      std::size_t n = a.rank();
      if (g.chance(5)) n = static_cast<std::size_t>(g.below(4));
      for (std::size_t p = 0; p < n; ++p) {
        const std::int64_t len = p < a.rank() ? a.shape[p] : 2;
        v.push_back(g.chance(5) ? len + io : (len ? g.below(static_cast<int>(len)) : 0) + io);
      }
      i = g.integers(v, n != 1 || g.chance(60));
      if (g.chance(3)) i = g.simple(Gen::Char, {1});
    }
    Case k;
    k.names = {{"I", i}, {"A", a}};
    k.line = "I⌷A";
    k.model = [i, a, io] { return squad(i, a, io); };
    return k;
  });
}

TEST(GeneratedCases, IndexGeneratorAndIndexOf) {
  run_cases("index generator and index of", 109, 2000, [](Gen& g, int io) {
    Case k;
    if (g.chance(30)) {
      Val r = g.integers({g.below(6)}, g.chance(70));
      const int c = g.below(12);
      if (c == 0) Gen::set_first(r, -1);
      if (c == 1) r = g.integers({2, 3});
      if (c == 2) r = g.simple(Gen::Char, {});
      if (c == 3) Gen::set_first(r, r.num[0] + 0.5);
      k.names = {{"R", r}};
      k.line = "⍳R";
      k.model = [r, io] { return iota(r, io); };
      return k;
    }
    Val l = g.value(Gen::Any, {static_cast<std::uint32_t>(g.below(6))});
    if (g.chance(5)) l = g.value();
    Val r = g.value();
    // Take some of R's elements from L, so that there is something to find.
    if (r.kind == l.kind && l.count() && r.count() && g.chance(70)) {
      for (std::size_t j = 0; j < r.count(); ++j) {
        if (!g.chance(60)) continue;
        const std::size_t from = static_cast<std::size_t>(g.below(static_cast<int>(l.count())));
        if (r.kind == Val::Nest) r.items[j] = l.items[from];
        else if (r.kind == Val::Chr) r.chr[j] = l.chr[from];
        else r.num[j] = l.num[from] * (g.chance(20) ? 1 + 1e-15 : 1.0);
      }
      if (r.kind == Val::Num) r.ntype = std::max(r.ntype, l.ntype);
      if (r.kind == Val::Num && r.ntype != ET_FLOAT)
        for (double& d : r.num) d = std::nearbyint(d);
    }
    k.names = {{"L", l}, {"R", r}};
    k.line = "L⍳R";
    k.model = [l, r, io] { return index_of(l, r, io); };
    return k;
  });
}

TEST(GeneratedCases, RavelEnlistShapeDepthMatch) {
  run_cases("ravel, enlist, shape, depth and match", 110, 2000, [](Gen& g, int) {
    const Val r = g.value();
    Case k;
    const int c = g.below(5);
    k.names = {{"R", r}};
    if (c == 0) {
      k.line = ",R";
      k.model = [r] { return ravel(r); };
    } else if (c == 1) {
      k.line = "∊R";
      k.model = [r] { return enlist(r); };
    } else if (c == 2) {
      k.line = "⍴R";
      k.model = [r] {
        std::vector<std::int64_t> v(r.shape.begin(), r.shape.end());
        return int_vector(v);
      };
    } else if (c == 3) {
      k.line = "≡R";
      k.model = [r] { return test::num_scalar(depth(r), ET_INT); };
    } else {
      Val l = g.chance(40) ? r : g.value(Gen::Any, r.shape);
      if (g.chance(15)) l = g.value();
      k.names.push_back({"L", l});
      k.line = "L≡R";
      k.model = [l, r] { return test::num_scalar(match(l, r), ET_BOOL); };
    }
    return k;
  });
}

TEST(GeneratedCases, TakeAndDrop) {
  run_cases("take and drop", 111, 2500, [](Gen& g, int io) {
    const Val r = g.value();
    const bool drop = g.chance(45);
    const int rank = static_cast<int>(r.rank());
    // A count from beyond the length at one end to beyond it at the other.
    auto count = [&](std::size_t k) {
      const int len = k < r.rank() ? static_cast<int>(r.shape[k]) : 1;
      return static_cast<std::int64_t>(g.below(2 * len + 5) - len - 2);
    };
    std::vector<std::int64_t> v;
    std::optional<std::vector<int>> axes;
    std::string axis;
    if (g.chance(30)) {
      std::vector<int> all(static_cast<std::size_t>(rank));
      for (int k = 0; k < rank; ++k) all[static_cast<std::size_t>(k)] = k;
      for (int k = rank - 1; k > 0; --k) std::swap(all[static_cast<std::size_t>(k)], all[static_cast<std::size_t>(g.below(k + 1))]);
      all.resize(static_cast<std::size_t>(g.below(rank + 1)));
      if (g.chance(8)) all.push_back(g.below(rank + 1));  // repeated or beyond the rank
      axes = all;
      for (int a : all) {
        v.push_back(count(static_cast<std::size_t>(a < 0 ? 0 : a)));
        axis += (axis.empty() ? "" : " ") + std::to_string(a + io);
      }
      if (g.chance(8)) v.push_back(1);  // a count without its axis
      axis = all.size() == 1 && g.chance(50) ? "[" + axis + "]" : "[" + (all.empty() ? std::string("⍳0") : axis) + "]";
    } else {
      const std::size_t n = rank == 0 ? 1 + g.below(3) : g.chance(8) ? g.below(rank + 2) : rank;
      for (std::size_t k = 0; k < n; ++k) v.push_back(count(k));
    }
    Val l = g.integers(v, !(v.size() == 1 && g.chance(30)));
    const int c = g.below(25);
    if (c == 0 && !v.empty()) Gen::set_first(l, 1.5);
    if (c == 1) l = g.value(Gen::Nested, {static_cast<std::uint32_t>(v.size())});
    if (c == 2) l.shape = {1, static_cast<std::uint32_t>(v.size())};
    Case k;
    k.names = {{"L", l}, {"R", r}};
    k.line = std::string("L") + (drop ? "↓" : "↑") + axis + "R";
    k.model = [l, r, axes, drop] { return take_drop(l, r, axes, drop); };
    return k;
  });
}

TEST(GeneratedCases, ReverseAndRotate) {
  run_cases("reverse and rotate", 111, 2000, [](Gen& g, int io) {
    const Val r = g.value();
    const bool first = g.chance(35);
    std::optional<int> axis;
    if (g.chance(30)) axis = g.below(static_cast<int>(r.rank()) + 1);
    const std::size_t a = r.rank() == 0 ? 0 : (axis ? std::min<std::size_t>(*axis, r.rank() - 1) : (first ? 0 : r.rank() - 1));
    Case k;
    k.names = {{"R", r}};
    const std::string fn = std::string(first ? "⊖" : "⌽") + (axis ? axis_text(*axis, io) : "");
    if (g.chance(30)) {
      k.line = fn + "R";
      k.model = [r, axis, first] { return rotate(nullptr, r, axis, first); };
      return k;
    }
    // Amounts: one for all, or one per vector along the axis (R's shape
    // without the axis), now and then of a wrong shape or not integers.
    Shape rest = r.shape;
    if (!rest.empty()) rest.erase(rest.begin() + static_cast<std::ptrdiff_t>(a));
    std::vector<std::int64_t> v;
    const int c = g.below(10);
    const std::size_t n = c < 4 ? 1 : c < 9 ? product(rest, 0, rest.size()) : static_cast<std::size_t>(g.below(4));
    for (std::size_t i = 0; i < n; ++i) v.push_back(g.below(19) - 9);
    Val l = g.integers(v, c >= 2);
    if (c >= 4 && c < 9) l.shape = rest;
    if (g.chance(5) && !v.empty()) Gen::set_first(l, 1.5);
    if (g.chance(3)) l = g.value(Gen::Nested, {1});
    if (g.chance(3)) l = g.simple(Gen::Char, {1});
    k.names.push_back({"L", l});
    k.line = "L" + fn + "R";
    k.model = [l, r, axis, first] { return rotate(&l, r, axis, first); };
    return k;
  });
}

TEST(GeneratedCases, Transpose) {
  run_cases("transpose", 112, 2000, [](Gen& g, int io) {
    const Val r = g.value(Gen::Any, g.shape(4, 3));
    Case k;
    k.names = {{"R", r}};
    if (g.chance(25)) {
      k.line = "⍉R";
      k.model = [r] { return transpose(nullptr, r, 0); };
      return k;
    }
    // Each of R's axes sent to a result axis, every result axis reached
    // (repeats take diagonals); now and then a value missing or out of range.
    const int rank = static_cast<int>(r.rank());
    const int m = rank == 0 ? 0 : 1 + g.below(rank);
    std::vector<std::int64_t> v;
    for (int i = 0; i < rank; ++i) v.push_back(i < m ? i : g.below(m));
    for (int i = rank - 1; i > 0; --i) std::swap(v[static_cast<std::size_t>(i)], v[static_cast<std::size_t>(g.below(i + 1))]);
    for (auto& x : v) x += io;
    const int c = g.below(20);
    if (c == 0 && !v.empty()) v[0] = rank + io;
    if (c == 1 && !v.empty()) v[0] = io - 1;
    if (c == 2) v.push_back(io);
    if (c == 3 && !v.empty()) v.pop_back();
    Val l = g.integers(v, !(v.size() == 1 && g.chance(40)));
    if (c == 4 && !v.empty()) Gen::set_first(l, 0.5);
    if (c == 5) l.shape = {1, static_cast<std::uint32_t>(v.size())};
    if (c == 6) l = g.value(Gen::Nested, {static_cast<std::uint32_t>(v.size())});
    k.names.push_back({"L", l});
    k.line = "L⍉R";
    k.model = [l, r, io] { return transpose(&l, r, io); };
    return k;
  });
}

// The two faults this kind of test found first, as plain cases.
TEST(GeneratedCases, SelectedSimpleScalarsGiveSimpleArrays) {
  Apl apl;
  for (const char* line : {"(1 0 1/1 'a' 2)≡1 2", "(1⍴5 (1 2))≡,5", "''≡0/'a' (1 2)", "''≡('a' (1 2))[⍬]",
                           "(2 0⍴'a' (1 2))≡2 0⍴''"}) {
    EXPECT_EQ(test::first_line(apl.run(line)), "1") << line;
  }
}

TEST(GeneratedCases, Grade) {
  run_cases("grade", 112, 2000, [](Gen& g, int io) {
    const bool down = g.chance(50);
    const std::string glyph = down ? "⍒" : "⍋";
    Case k;
    if (g.chance(60)) {
      const Val r = g.chance(10) ? g.value() : g.value(g.chance(5) ? Gen::Nested : g.simple_kind(), g.shape(3, 6));
      k.names = {{"R", r}};
      k.line = glyph + "R";
      k.model = [r, down, io] { return grade(nullptr, r, down, io); };
      return k;
    }
    // A collating sequence: characters of R's alphabet and others, of rank
    // 1 to 3, each character maybe more than once.
    Val l = g.simple(Gen::Char, g.shape(3, 4));
    if (g.chance(5)) l = g.value();
    const Val r = g.chance(90) ? g.simple(Gen::Char, g.shape(3, 5)) : g.value();
    k.names = {{"L", l}, {"R", r}};
    k.line = "L" + glyph + "R";
    k.model = [l, r, down, io] { return grade(&l, r, down, io); };
    return k;
  });
}

// Long vectors and tall matrices: every pass of the radix sorts, keys that
// differ only in high or only in low bits, all keys equal, −0 and +0,
// neighbouring floats, and many ties.
TEST(GeneratedCases, GradeLong) {
  Apl apl;
  std::mt19937 rng(113);
  const std::uint32_t n = 20000;
  auto ints = [&](const std::function<double(std::uint32_t)>& f) {
    Val v;
    v.shape = {n};
    v.ntype = ET_INT;
    for (std::uint32_t i = 0; i < n; ++i) v.num.push_back(f(i));
    return v;
  };
  std::vector<Val> cases = {
      ints([&](std::uint32_t) { return static_cast<double>(static_cast<std::int32_t>(rng())); }),
      ints([&](std::uint32_t) { return static_cast<double>(static_cast<std::int32_t>(rng() & 0xFFC00000u)); }),
      ints([&](std::uint32_t) { return static_cast<double>(static_cast<std::int32_t>(rng() % 7) - 3); }),
      ints([&](std::uint32_t i) { return i == 5 ? 2 : 2147483647.0 * (i % 2 ? 1 : -1) - (i % 2 ? 0 : 1); }),
      ints([&](std::uint32_t) { return 7; }),
  };
  Val f = ints([&](std::uint32_t i) {
    static const double special[] = {0.0, -0.0, 1.0, std::nextafter(1.0, 2.0), std::nextafter(1.0, 0.0), -1e300, 1e-300, -1e-300};
    if (i % 3 == 0) return special[rng() % 8];
    double d;
    std::uint64_t bits = std::uint64_t(rng()) << 32 | rng();
    std::memcpy(&d, &bits, 8);
    return std::isfinite(d) ? d : 0.5;
  });
  f.ntype = ET_FLOAT;
  cases.push_back(f);
  Val b = ints([&](std::uint32_t i) { return i % 97 == 0 ? 1 : rng() % 2; });
  b.ntype = ET_BOOL;
  cases.push_back(b);
  Val c;
  c.kind = Val::Chr;
  c.shape = {n};
  for (std::uint32_t i = 0; i < n; ++i) c.chr += "abAB z'9"[rng() % 8];
  cases.push_back(c);
  // Matrices: rows that share long prefixes.
  Val m = ints([&](std::uint32_t) { return static_cast<double>(static_cast<std::int32_t>(rng() % 3) - 1); });
  m.shape = {n / 5, 5};
  cases.push_back(m);
  // Short rows: first columns of few values, a last column over the
  // whole range.
  Val m2 = ints([&](std::uint32_t i) {
    return i % 2 ? static_cast<double>(static_cast<std::int32_t>(rng())) : static_cast<double>(rng() % 5) - 2;
  });
  m2.shape = {n / 2, 2};
  cases.push_back(m2);
  Val m3 = ints([&](std::uint32_t i) { return i % 3 == 2 ? static_cast<double>(rng() % 3) : 2147483647.0 - (rng() % 2); });
  m3.shape = {n / 3 - 1, 3};
  m3.num.resize(m3.count());
  cases.push_back(m3);
  Val mf = f;
  mf.shape = {n / 4, 4};
  cases.push_back(mf);
  Val mb = b;
  mb.shape = {n / 40, 40};
  cases.push_back(mb);
  Val mc = c;
  mc.shape = {n / 2, 2};
  cases.push_back(mc);
  for (const Val& r : cases)
    for (int io = 0; io <= 1; ++io)
      for (const bool down : {false, true}) {
        Case k;
        k.names = {{"R", r}};
        k.line = down ? "⍒R" : "⍋R";
        k.model = [&r, down, io] { return grade(nullptr, r, down, io); };
        ASSERT_EQ(apl.run("⎕IO←" + std::to_string(io)), "");
        const Outcome o = check(apl, k, io);
        EXPECT_TRUE(o.kind.empty()) << k.line << " of type " << int{r.ntype} << " kind " << int{r.kind} << " rank "
                                    << r.rank() << ": " << o.kind;
      }
  EXPECT_TRUE(heap_consistent(apl.ws()));
}

// Prototypes and fill items hold boolean zeros whatever the numeric type
// of the items they stand for (the match above cannot see it).
TEST(GeneratedCases, PrototypesHoldBooleanZeros) {
  Apl apl;
  for (const char* line : {"Z←0⍴⊂1 2 300", "Z←0⍴⊂1.5 2", "Z←1 ¯1/(1 2 300)(3 4)"}) {
    ASSERT_EQ(apl.run(line), "") << line;
    std::string bad;
    const Val z = apl.value("Z", bad);
    ASSERT_EQ(z.kind, Val::Nest) << line;
    const Val& p = z.items.empty() ? *z.proto : z.items.back();
    EXPECT_EQ(int{p.ntype}, int{ET_BOOL}) << line << ": " << test::apl_text(p);
  }
}

}  // namespace
}  // namespace zema
