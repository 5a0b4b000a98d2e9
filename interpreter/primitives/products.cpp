// Outer and inner products of simple arrays by scalar primitives.
#include "interpreter/primitives/products.h"

#include <algorithm>
#include <cmath>
#include <cstring>

#include "interpreter/primitives/args.h"
#include "interpreter/primitives/element_access.h"
#include "interpreter/primitives/primitive_call.h"
#include "interpreter/primitives/reduce_scan.h"
#include "interpreter/primitives/scalar_codes.h"
#include "interpreter/primitives/scalar_dispatch.h"
#include "interpreter/primitives/scalar_kernels.h"
#include "interpreter/primitives/structural.h"
#include "interpreter/workspace/entry.h"
#include "interpreter/workspace/errors.h"
#include "interpreter/workspace/heap.h"
#include "interpreter/workspace/stack.h"

namespace zema {

namespace {

using namespace elem;

// Result elements between attention polls.
constexpr std::uint32_t kPollEvery = 65536;

inline bool bit_at(const std::uint8_t* p, std::uint64_t i) { return (ld_w(p, i >> 5) >> (31 - (i & 31))) & 1; }


// Stores z as element i of a result of `type`; false when it does not fit
// an integer result (or a boolean one: not 0 or 1).
bool store_at(std::uint8_t type, std::uint8_t* p, std::uint64_t i, const Extended80& z, Ws ws) {
  switch (type) {
    case ET_BOOL: {
      if (z.is_zero()) return true;
      if (!(z == x80const::one)) return false;
      st_w(p, i >> 5, ld_w(p, i >> 5) | (0x80000000u >> (i & 31)));
      return true;
    }
    case ET_INT: {
      std::int32_t v;
      if (!z.is_zero() && xexp(z) < -46) return false;
      if (!fltint(z, v)) return false;
      st_i(p, i, v);
      return true;
    }
    default: {
      double v;
      if (!dblflt(z, v)) domner(ws);
      st_f(p, i, v + 0.0);
      return true;
    }
  }
}

std::uint32_t elem_bytes(std::uint8_t type) { return type == ET_FLOAT ? 8 : type == ET_CHAR ? 1 : 4; }

// Refuses characters g does not take (DOMAIN ERROR).
void check_characters(const ScalarOperand& g, const ArrayInfo& l, const ArrayInfo& r, Ws ws) {
  if (l.type == ET_CHAR && (g.flags & (pf::NoCharacters | pf::NoLeftCharacters))) domner(ws);
  if (r.type == ET_CHAR && (g.flags & pf::NoCharacters)) domner(ws);
}

// The result's element count, WS FULL beyond 31 bits (0 when any length is 0).
std::uint32_t result_count(const std::vector<std::uint32_t>& shape, Ws ws) {
  std::uint64_t n = 1;
  for (std::uint32_t d : shape) {
    n *= d;
    if (n == 0) return 0;
    if (n > 0x7FFFFFFFu) xwsfll(ws);
  }
  return static_cast<std::uint32_t>(n);
}

// Allocates the result (pushed) and answers it; boolean data zeroed.
ArrayInfo make_result(const std::vector<std::uint32_t>& shape, std::uint32_t count, std::uint8_t type, Ws ws) {
  const std::uint32_t first = oprslt(count, static_cast<std::uint32_t>(4 * shape.size()), type, 0, ws);
  for (std::size_t k = 0; k < shape.size(); ++k) wr32(ws, first + 4 * static_cast<std::uint32_t>(k), shape[k]);
  const ArrayInfo z = array_info(first - obj::Shape, ws);
  if (type == ET_BOOL) std::memset(ws + z.data, 0, 4 * ((static_cast<std::uint64_t>(count) + 31) / 32));
  return z;
}

void drop_result(Ws ws) {
  StackEntry e;
  unstack(e, ws);
  release_entry(e, ws);
}

// The result type of a scalar operand on arguments of these types.
std::uint8_t operand_type(std::uint32_t flags, std::uint8_t lt, std::uint8_t rt) {
  if (flags & pf::FloatResult) return ET_FLOAT;
  if (flags & pf::BooleanResult) return ET_BOOL;
  return lt == ET_FLOAT || rt == ET_FLOAT ? ET_FLOAT : ET_INT;
}

// Writes `n` bits from `src` (packed from its first bit) into `dst` from bit `at`.
void put_bits(std::uint8_t* dst, std::uint64_t at, const std::uint32_t* src, std::uint32_t n) {
  for (std::uint32_t k = 0; k < n; k += 32) {
    const std::uint32_t take = std::min<std::uint32_t>(32, n - k);
    std::uint32_t w = src[k / 32];
    if (take < 32) w &= ~(0xFFFFFFFFu >> take);
    const std::uint64_t p = at + k;
    const std::uint32_t sh = p & 31;
    st_w(dst, p >> 5, ld_w(dst, p >> 5) | (w >> sh));
    if (sh != 0 && sh + take > 32) st_w(dst, (p >> 5) + 1, ld_w(dst, (p >> 5) + 1) | (w << (32 - sh)));
  }
}

// One row of the outer product: left element i against all of R, by the
// typed kernel. Answers as the kernels do (0, −1 no kernel, else overflow).
int outer_row(const ScalarOperand& g, DyKernel k, const ArrayInfo& l, const ArrayInfo& r, const ArrayInfo& z,
              std::uint8_t zt, std::uint64_t i, Ws ws) {
  // The left element as a single value the kernels read: a boolean as a
  // word of its bit (all ones or 0), else the element itself.
  std::uint8_t cell[8] = {};
  if (l.type == ET_BOOL) {
    const std::uint32_t w = bit_at(ws + l.data, i) ? ~0u : 0u;
    std::memcpy(cell, &w, 4);
  } else {
    std::memcpy(cell, ws + l.data + elem_bytes(l.type) * i, elem_bytes(l.type));
  }
  const std::uint32_t kflags = ((g.flags & 0xFFFF) << 16) | kf::LeftSingle | (r.count == 1 ? kf::RightSingle : 0);
  const std::uint32_t rstep = r.count == 1 ? 0 : 1;
  if (zt != ET_BOOL) {
    const DyadicCall c{kflags, g.code, ws + z.data + static_cast<std::uint64_t>(elem_bytes(zt)) * i * r.count,
                       cell, ws + r.data, 0, rstep, r.count, l.type, r.type, ws};
    return run_dyadic(k, c);
  }
  // Boolean rows go through a small buffer, 1024 elements at a time, and
  // are packed one after the other without gaps.
  std::uint32_t buf[32];
  for (std::uint32_t j = 0; j < r.count; j += 1024) {
    const std::uint32_t n = std::min<std::uint32_t>(1024, r.count - j);
    const std::uint8_t* rp = ws + r.data + (r.type == ET_BOOL ? j / 8 : static_cast<std::uint64_t>(elem_bytes(r.type)) * j);
    const DyadicCall c{kflags, g.code, reinterpret_cast<std::uint8_t*>(buf), cell, rp, 0, rstep, n, l.type, r.type, ws};
    const int answer = run_dyadic(k, c);
    if (answer != 0) return answer;
    put_bits(ws + z.data, static_cast<std::uint64_t>(i) * r.count + j, buf, n);
  }
  return 0;
}

// One row of the outer product element by element; false when a value
// does not fit the result type.
bool outer_row_slow(RegDyadic fn, const ArrayInfo& l, const ArrayInfo& r, const ArrayInfo& z, std::uint8_t zt,
                    std::uint64_t i, Ws ws) {
  const Extended80 a = reg_of_elem(l.type, ws + l.data, i);
  for (std::uint64_t j = 0; j < r.count; ++j) {
    const Extended80 v = fn(RegArgs{a, reg_of_elem(r.type, ws + r.data, j), l.type, r.type}, ws);
    if (!store_at(zt, ws + z.data, i * r.count + j, v, ws)) return false;
  }
  return true;
}

std::vector<std::uint32_t> axes_of(const ArrayInfo& a, std::uint32_t from, std::uint32_t to, Ws ws) {
  std::vector<std::uint32_t> s;
  for (std::uint32_t k = from; k < to; ++k) s.push_back(dim(a, k, ws));
  return s;
}

// ---- inner product loops -----------------------------------------------------------------

// Where the loops find L[i;k] and R[k;j].
struct Inner {
  std::uint64_t rows = 1, cols = 1, n = 1;
  std::uint64_t lstep = 1, rstep = 1;  // 0 on a side of common length 1
  std::uint64_t l_at(std::uint64_t i, std::uint64_t k) const { return i * (lstep ? n : 1) + k * lstep; }
  std::uint64_t r_at(std::uint64_t k, std::uint64_t j) const { return k * rstep * cols + j; }
};

// +.× on doubles: blocked over columns and the common axis so that a tile
// of R stays in cache while every row of L passes over it. Each element
// still sums from the last k back, one rounding per step.
void plus_times_float(const Inner& g, const ArrayInfo& l, const ArrayInfo& r, const ArrayInfo& z, Ws ws) {
  constexpr std::uint64_t kCols = 256, kDepth = 128;
  const std::uint8_t* lp = ws + l.data;
  const std::uint8_t* rp = ws + r.data;
  std::uint8_t* zp = ws + z.data;
  auto lv = [&](std::uint64_t i) { return l.type == ET_FLOAT ? ld_f(lp, i) : l.type == ET_INT ? double(ld_i(lp, i)) : double(bit_at(lp, i)); };
  const bool rf = r.type == ET_FLOAT;
  double row[kCols];
  for (std::uint64_t j0 = 0; j0 < g.cols; j0 += kCols) {
    const std::uint64_t w = std::min(kCols, g.cols - j0);
    for (std::uint64_t top = g.n; top > 0;) {
      const std::uint64_t bottom = top > kDepth ? top - kDepth : 0;
      for (std::uint64_t i = 0; i < g.rows; ++i) {
        std::uint8_t* out = zp + 8 * (i * g.cols + j0);
        std::uint64_t k = top;
        if (top == g.n) {
          // The first step: the product alone.
          --k;
          const double a = lv(g.l_at(i, k));
          for (std::uint64_t j = 0; j < w; ++j) {
            const std::uint64_t at = g.r_at(k, j0 + j);
            row[j] = a * (rf ? ld_f(rp, at) : r.type == ET_INT ? double(ld_i(rp, at)) : double(bit_at(rp, at)));
          }
        } else {
          std::memcpy(row, out, 8 * w);
        }
        while (k > bottom) {
          --k;
          const double a = lv(g.l_at(i, k));
          if (rf) {
            const std::uint8_t* rr = rp + 8 * g.r_at(k, j0);
            for (std::uint64_t j = 0; j < w; ++j) row[j] = a * ld_f(rr, j) + row[j];
          } else {
            for (std::uint64_t j = 0; j < w; ++j) {
              const std::uint64_t at = g.r_at(k, j0 + j);
              row[j] = a * (r.type == ET_INT ? double(ld_i(rp, at)) : double(bit_at(rp, at))) + row[j];
            }
          }
        }
        std::memcpy(out, row, 8 * w);
      }
      top = bottom;
      poll_attention(ws);
    }
  }
  // An overflow to infinity (or a not-a-number from it) anywhere leaves a
  // value that is not finite; negative zeros become zeros.
  for (std::uint64_t e = 0; e < z.count; ++e) {
    const double v = ld_f(zp, e);
    if (!std::isfinite(v)) domner(ws);
    st_f(zp, e, v + 0.0);
  }
}

// +.× on 32-bit integers (booleans read as integers); false on overflow.
bool plus_times_int(const Inner& g, const ArrayInfo& l, const ArrayInfo& r, const ArrayInfo& z, Ws ws) {
  const std::uint8_t* lp = ws + l.data;
  const std::uint8_t* rp = ws + r.data;
  std::uint8_t* zp = ws + z.data;
  auto iv = [](std::uint8_t t, const std::uint8_t* p, std::uint64_t i) {
    return t == ET_INT ? ld_i(p, i) : static_cast<std::int32_t>(bit_at(p, i));
  };
  bool over = false;
  std::uint32_t polled = 0;
  for (std::uint64_t i = 0; i < g.rows; ++i) {
    std::int32_t* row = reinterpret_cast<std::int32_t*>(zp) + i * g.cols;  // written through memcpy below
    for (std::uint64_t j = 0; j < g.cols; ++j) {
      std::uint64_t k = g.n - 1;
      std::int32_t acc;
      over |= __builtin_mul_overflow(iv(l.type, lp, g.l_at(i, k)), iv(r.type, rp, g.r_at(k, j)), &acc);
      while (k > 0) {
        --k;
        std::int32_t p;
        over |= __builtin_mul_overflow(iv(l.type, lp, g.l_at(i, k)), iv(r.type, rp, g.r_at(k, j)), &p);
        over |= __builtin_add_overflow(p, acc, &acc);
      }
      std::memcpy(row + j, &acc, 4);
    }
    if (over) return false;
    if ((polled += static_cast<std::uint32_t>(g.cols)) >= kPollEvery) {
      polled = 0;
      poll_attention(ws);
    }
  }
  return true;
}

// Any pair element by element on the 80-bit registers; f ∧ or ∨ stops a
// row at its absorbing value once g's results are known to be 0 or 1.
// False when a value does not fit the result type.
bool inner_slow(const ScalarOperand& f, const ScalarOperand& gop, const Inner& g, const ArrayInfo& l,
                const ArrayInfo& r, const ArrayInfo& z, std::uint8_t zt, Ws ws) {
  const RegDyadic fg = slow_dyadic(gop.code), ff = slow_dyadic(f.code);
  if (!fg || !ff) ZEMA_SYSTEM_ERROR(ws);
  const bool logical = f.code == pc::And || f.code == pc::Or;
  const Extended80 absorb = f.code == pc::Or ? x80const::one : x80const::fpzero;
  auto boolean = [&](const Extended80& v) {
    if (!(v.is_zero() || v == x80const::one)) domner(ws);
  };
  std::uint32_t polled = 0;
  for (std::uint64_t i = 0; i < g.rows; ++i) {
    for (std::uint64_t j = 0; j < g.cols; ++j) {
      std::uint64_t k = g.n - 1;
      auto step = [&](std::uint64_t kk) {
        return fg(RegArgs{reg_of_elem(l.type, ws + l.data, g.l_at(i, kk)), reg_of_elem(r.type, ws + r.data, g.r_at(kk, j)),
                          l.type, r.type},
                  ws);
      };
      Extended80 acc = step(k);
      if (logical) boolean(acc);
      while (k > 0 && !(logical && acc == absorb)) {
        --k;
        const Extended80 t = step(k);
        if (logical) boolean(t);
        acc = ff(RegArgs{t, acc, ET_FLOAT, ET_FLOAT}, ws);
      }
      if (!store_at(zt, ws + z.data, i * g.cols + j, acc, ws)) return false;
    }
    if ((polled += static_cast<std::uint32_t>(g.cols)) >= kPollEvery) {
      polled = 0;
      poll_attention(ws);
    }
  }
  return true;
}

}  // namespace

void outer_simple(const ScalarOperand& g, Ws ws) {
  ArrayInfo l = array_info(left_arg(ws), ws);
  ArrayInfo r = array_info(right_arg(ws), ws);
  check_characters(g, l, r, ws);
  if (l.rank + r.rank > 63) limit_error(ws);
  std::vector<std::uint32_t> shape = axes_of(l, 0, l.rank, ws);
  for (std::uint32_t d : axes_of(r, 0, r.rank, ws)) shape.push_back(d);
  const std::uint32_t count = result_count(shape, ws);
  std::uint8_t zt = operand_type(g.flags, l.type, r.type);
  if (g.flags & pf::BooleanResult) zt = ET_BOOL;
  const RegDyadic slow = slow_dyadic(g.code);
  if (!slow) ZEMA_SYSTEM_ERROR(ws);
  for (;;) {
    const ArrayInfo z = make_result(shape, count, zt, ws);
    l = array_info(left_arg(ws), ws);
    r = array_info(right_arg(ws), ws);
    const DyKernel k = select_dyadic(r.type, l.type, zt);
    bool fits = true;
    std::uint32_t polled = 0;
    for (std::uint64_t i = 0; i < l.count && count != 0 && fits; ++i) {
      const int answer = k == DyKernel::None ? -1 : outer_row(g, k, l, r, z, zt, i, ws);
      if (answer == -1) {
        if (zt == ET_BOOL) {
          // The row's bits may hold a partial kernel result: cleared first.
          for (std::uint64_t j = 0; j < r.count; ++j) {
            const std::uint64_t b = i * r.count + j;
            st_w(ws + z.data, b >> 5, ld_w(ws + z.data, b >> 5) & ~(0x80000000u >> (b & 31)));
          }
        }
        fits = outer_row_slow(slow, l, r, z, zt, i, ws);
      } else if (answer != 0) {
        fits = false;
      }
      if ((polled += r.count) >= kPollEvery) {
        polled = 0;
        poll_attention(ws);
      }
    }
    if (fits) return;
    if (zt != ET_INT) domner(ws);
    drop_result(ws);
    zt = ET_FLOAT;
  }
}

void inner_simple(const ScalarOperand& f, const ScalarOperand& gop, Ws ws) {
  ArrayInfo l = array_info(left_arg(ws), ws);
  ArrayInfo r = array_info(right_arg(ws), ws);
  check_characters(gop, l, r, ws);
  const std::uint32_t na = l.rank == 0 ? 1 : dim(l, l.rank - 1, ws);
  const std::uint32_t nb = r.rank == 0 ? 1 : dim(r, 0, ws);
  const std::uint32_t n = nb != 1 ? nb : na;
  if (na != 1 && nb != 1 && na != nb) lener(ws);
  std::vector<std::uint32_t> shape = axes_of(l, 0, l.rank == 0 ? 0 : l.rank - 1, ws);
  const std::vector<std::uint32_t> tail = axes_of(r, r.rank == 0 ? 0 : 1, r.rank, ws);
  if (shape.size() + tail.size() > 63) limit_error(ws);
  Inner g;
  for (std::uint32_t d : shape) g.rows *= d;
  for (std::uint32_t d : tail) g.cols *= d;
  shape.insert(shape.end(), tail.begin(), tail.end());
  const std::uint32_t count = result_count(shape, ws);
  g.n = n;
  g.lstep = na == 1 ? 0 : 1;
  g.rstep = nb == 1 ? 0 : 1;
  if (na == 1 && l.rank != 0) g.lstep = 0;
  // The type: f's result over the type g gives.
  const std::uint8_t gt = operand_type(gop.flags, l.type, r.type);
  std::uint8_t zt = operand_type(f.flags, gt == ET_BOOL ? std::uint8_t{ET_INT} : gt, gt == ET_BOOL ? std::uint8_t{ET_INT} : gt);
  if (count == 0) {
    make_result(shape, 0, zt, ws);
    return;
  }
  if (n == 0 || l.count == 0 || r.count == 0) {
    // An empty common axis: every element is f's identity.
    const double id = reduce_identity(f.code, ws);
    if (zt == ET_BOOL && id != 0.0 && id != 1.0) zt = ET_INT;
    if (zt == ET_INT && (id > 2147483647.0 || id < -2147483648.0)) zt = ET_FLOAT;
    const ArrayInfo z = make_result(shape, count, zt, ws);
    for (std::uint64_t e = 0; e < count; ++e) {
      if (zt == ET_BOOL) {
        if (id == 1.0) st_w(ws + z.data, e >> 5, ld_w(ws + z.data, e >> 5) | (0x80000000u >> (e & 31)));
      } else if (zt == ET_INT) {
        st_i(ws + z.data, e, static_cast<std::int32_t>(id));
      } else {
        st_f(ws + z.data, e, id);
      }
    }
    return;
  }
  const bool plus_times = f.code == pc::Plus && gop.code == pc::Times;
  const bool numeric = l.type != ET_CHAR && r.type != ET_CHAR;
  bool fast_int = plus_times && numeric && l.type != ET_FLOAT && r.type != ET_FLOAT;
  for (;;) {
    const ArrayInfo z = make_result(shape, count, zt, ws);
    l = array_info(left_arg(ws), ws);
    r = array_info(right_arg(ws), ws);
    if (plus_times && numeric && zt == ET_FLOAT && (l.type == ET_FLOAT || r.type == ET_FLOAT)) {
      plus_times_float(g, l, r, z, ws);
      return;
    }
    const bool fits = fast_int && zt == ET_INT ? plus_times_int(g, l, r, z, ws) : inner_slow(f, gop, g, l, r, z, zt, ws);
    if (fits) return;
    if (zt == ET_FLOAT) domner(ws);
    drop_result(ws);
    zt = zt == ET_BOOL ? std::uint8_t{ET_INT} : std::uint8_t{ET_FLOAT};
    fast_int = false;
  }
}

}  // namespace zema
