// Reduction, n-wise reduction and scan of simple arrays by scalar primitives.
#include "interpreter/primitives/reduce_scan.h"

#include <bit>
#include <cfloat>
#include <cmath>
#include <cstring>

#include "interpreter/primitives/args.h"
#include "interpreter/primitives/circle.h"
#include "interpreter/primitives/element_access.h"
#include "interpreter/primitives/kernels_arith.h"
#include "interpreter/primitives/scalar_kernels.h"
#include "interpreter/primitives/kernels_compare.h"
#include "interpreter/primitives/kernels_transcendental.h"
#include "interpreter/primitives/primitive_call.h"
#include "interpreter/primitives/scalar_codes.h"
#include "interpreter/primitives/scalar_dispatch.h"
#include "interpreter/primitives/structural.h"
#include "interpreter/workspace/entry.h"
#include "interpreter/workspace/errors.h"
#include "interpreter/workspace/heap.h"
#include "interpreter/workspace/stack.h"

namespace zema {

namespace {

using namespace elem;

// Elements between attention polls.
constexpr std::uint32_t kPollEvery = 65536;

struct Poll {
  Ws ws;
  std::uint64_t left = kPollEvery;
  void step(std::uint64_t k) {
    if (left > k) {
      left -= k;
      return;
    }
    left = kPollEvery;
    poll_attention(ws);
  }
};

// R seen along one axis: `outer` blocks of n × s elements; successive
// elements along the axis lie s apart.
struct Geo {
  std::uint64_t outer = 1;
  std::uint64_t n = 1;
  std::uint64_t s = 1;
};

Geo geometry(const ArrayInfo& r, std::uint32_t axis, Ws ws) {
  Geo g;
  if (r.rank == 0) return g;
  for (std::uint32_t k = 0; k < r.rank; ++k) {
    const std::uint64_t d = dim(r, k, ws);
    if (k < axis) g.outer *= d;
    else if (k == axis) g.n = d;
    else g.s *= d;
  }
  return g;
}

// The result type a scalar primitive's row gives for R's type.
std::uint8_t fold_type(std::uint32_t flags, std::uint8_t rtype) {
  if (flags & pf::FloatResult) return ET_FLOAT;
  if (flags & pf::BooleanResult) return ET_BOOL;
  return rtype == ET_BOOL || rtype == ET_INT ? ET_INT : ET_FLOAT;
}

// The partial result on top of the stack is given up.
void drop_result(Ws ws) {
  StackEntry e;
  unstack(e, ws);
  release_entry(e, ws);
}

inline std::int32_t bit_of(const std::uint8_t* p, std::uint64_t i) {
  return static_cast<std::int32_t>((ld_w(p, i >> 5) >> (31 - (i & 31))) & 1);
}

template <std::uint8_t T>
inline std::int32_t int_of(const std::uint8_t* p, std::uint64_t i) {
  if constexpr (T == ET_BOOL) return bit_of(p, i);
  return ld_i(p, i);
}
template <std::uint8_t T>
inline double dbl_of(const std::uint8_t* p, std::uint64_t i) {
  if constexpr (T == ET_BOOL) return bit_of(p, i);
  if constexpr (T == ET_INT) return ld_i(p, i);
  return ld_f(p, i);
}


// ---- the operations ---------------------------------------------------------------------

struct IntPlus {
  static bool apply(std::int32_t& l, std::int32_t r) { return __builtin_add_overflow(l, r, &l); }
};
struct IntTimes {
  static bool apply(std::int32_t& l, std::int32_t r) { return __builtin_mul_overflow(l, r, &l); }
};
struct IntMax {
  static bool apply(std::int32_t& l, std::int32_t r) {
    l = l >= r ? l : r;
    return false;
  }
};
struct IntMin {
  static bool apply(std::int32_t& l, std::int32_t r) {
    l = l <= r ? l : r;
    return false;
  }
};
struct IntOther {
  IntDyadic op;
  Ws ws;
  bool apply(std::int32_t& l, std::int32_t r) const { return op(l, r, ws); }
};

struct FltPlus {
  static double apply(double l, double r) { return l + r; }
};
struct FltTimes {
  static double apply(double l, double r) { return l * r; }
};
// The two operands are never NaN, so the order of the test does not matter.
struct FltMax {
  static double apply(double l, double r) { return std::max(l, r); }
};
struct FltMin {
  static double apply(double l, double r) { return std::min(l, r); }
};
struct FltMinus {
  static double apply(double l, double r) { return l - r; }
};
struct FltOther {
  std::uint8_t code;
  double ct;
  Ws ws;
  double apply(double l, double r) const {
    switch (code) {
      case pc::Divide:
        if (r != 0.0) return l / r;
        if (l == 0.0) return 1.0;
        domner(ws);
      case pc::Log: return logffd(l, r, ws);
      case pc::Star: return starffd(l, r, ws);
      case pc::Stile: return resffd(l, r, ct, ws);
      case pc::Circle: return circlffd(l, r, ws);
      default: return 0.0;  // the fill function
    }
  }
};

bool has_float_rule(std::uint8_t code) {
  switch (code) {
    case pc::Fill:
    case pc::Plus:
    case pc::Minus:
    case pc::Times:
    case pc::Divide:
    case pc::Ceiling:
    case pc::Floor:
    case pc::Log:
    case pc::Star:
    case pc::Stile:
    case pc::Circle: return true;
    default: return false;
  }
}

// ---- windows ------------------------------------------------------------------------------

// One reduction: `w` elements from `start`, going back `step` at a time.
struct Window {
  std::uint64_t out;
  std::uint64_t start;
  std::uint64_t w;
  std::int64_t step;
};

// Calls cell(Window) for each result element in ravel order: the
// reduction of each window (plain: the whole axis; n-wise: every window of
// f.window elements; scan: every prefix). Stops when a cell answers false.
// A cell counts its own elements to the poll through `fold_steps`.
template <class Cell>
bool each_window(const Geo& g, std::uint64_t m, const FoldCall& f, bool scan, Poll& poll, Cell&& cell) {
  for (std::uint64_t a = 0; a < g.outer; ++a) {
    for (std::uint64_t j = 0; j < m; ++j) {
      for (std::uint64_t b = 0; b < g.s; ++b) {
        const std::uint64_t base = a * g.n * g.s + b;
        Window win{(a * m + j) * g.s + b, 0, 0, static_cast<std::int64_t>(g.s)};
        if (scan) {
          win.start = base + j * g.s;
          win.w = j + 1;
        } else if (f.mode == 0) {
          win.start = base + (g.n - 1) * g.s;
          win.w = g.n;
        } else if (f.mode > 0) {
          win.start = base + (j + f.window - 1) * g.s;
          win.w = f.window;
        } else {
          win.start = base + j * g.s;
          win.w = f.window;
          win.step = -win.step;
        }
        if (!cell(win)) return false;
        poll.step(win.w <= kPollEvery ? win.w : 1);
      }
    }
  }
  return true;
}

// Calls step(i) for the elements of w after its first, in order, polling
// between runs of kPollEvery so that a long window can be interrupted;
// stops when a step answers false.
template <class Step>
bool fold_steps(const Window& w, Poll& poll, Step&& step) {
  std::uint64_t i = w.start;
  if (w.w <= kPollEvery) {
    // Short windows (n-wise, scans' prefixes): each_window polls them.
    for (std::uint64_t k = 1; k < w.w; ++k) {
      i -= w.step;
      if (!step(i)) return false;
    }
    return true;
  }
  for (std::uint64_t k = 1; k < w.w;) {
    const std::uint64_t run = std::min<std::uint64_t>(w.w - k, kPollEvery);
    for (const std::uint64_t stop = k + run; k < stop; ++k) {
      i -= w.step;
      if (!step(i)) return false;
    }
    poll.step(run);
  }
  return true;
}

// Integer result over boolean or integer elements; false on overflow.
template <std::uint8_t T, class Op>
bool int_windows(const Op& op, const Geo& g, std::uint64_t m, const FoldCall& f, bool scan, const std::uint8_t* x,
                 std::uint8_t* z, Poll& poll) {
  return each_window(g, m, f, scan, poll, [&](const Window& w) {
    std::int32_t acc = int_of<T>(x, w.start);
    const bool fits = fold_steps(w, poll, [&](std::uint64_t i) {
      std::int32_t v = int_of<T>(x, i);
      if (op.apply(v, acc)) return false;
      acc = v;
      return true;
    });
    if (!fits) return false;
    st_i(z, w.out, acc);
    return true;
  });
}

// Float result over integer or float elements, each step rounded to a double.
template <std::uint8_t T, class Op>
void float_windows(const Op& op, const Geo& g, std::uint64_t m, const FoldCall& f, bool scan, const std::uint8_t* x,
                   std::uint8_t* z, Poll& poll, Ws ws) {
  each_window(g, m, f, scan, poll, [&](const Window& w) {
    double acc = dbl_of<T>(x, w.start);
    fold_steps(w, poll, [&](std::uint64_t i) {
      acc = op.apply(dbl_of<T>(x, i), acc);
      return true;
    });
    if (!std::isfinite(acc)) domner(ws);
    st_f(z, w.out, acc + 0.0);
    return true;
  });
}

// Boolean result over booleans by a word operation on single bits.
void bool_windows(WordOp op, const Geo& g, std::uint64_t m, const FoldCall& f, bool scan, const std::uint8_t* x,
                  std::uint8_t* z, Poll& poll) {
  each_window(g, m, f, scan, poll, [&](const Window& w) {
    std::uint32_t acc = static_cast<std::uint32_t>(bit_of(x, w.start));
    fold_steps(w, poll, [&](std::uint64_t i) {
      acc = apply_word_op(op, static_cast<std::uint32_t>(bit_of(x, i)), acc) & 1;
      return true;
    });
    if (acc) {
      const std::uint64_t word = w.out >> 5;
      st_w(z, word, ld_w(z, word) | (0x80000000u >> (w.out & 31)));
    }
    return true;
  });
}

// Any result type through the 80-bit registers; false when a value does
// not fit an integer result.
bool register_windows(const FoldCall& f, std::uint8_t ztype, const Geo& g, std::uint64_t m, bool scan,
                      const ArrayInfo& r, const ArrayInfo& z, Poll& poll, Ws ws) {
  const RegDyadic fn = slow_dyadic(f.code);
  if (!fn) ZEMA_SYSTEM_ERROR(ws);
  const std::uint8_t acc_type = ztype;
  return each_window(g, m, f, scan, poll, [&](const Window& w) {
    // The data may move only through an allocation; the element routines
    // allocate nothing, but the addresses are taken afresh for safety.
    const std::uint8_t* x = ws + r.data;
    Extended80 acc = reg_of_elem(r.type, x, w.start);
    std::uint8_t at = r.type;
    fold_steps(w, poll, [&](std::uint64_t i) {
      acc = fn(RegArgs{reg_of_elem(r.type, x, i), acc, r.type, at}, ws);
      at = acc_type;
      return true;
    });
    std::uint8_t* zp = ws + z.data;
    switch (ztype) {
      case ET_BOOL:
        if (acc.mant_hi != 0) st_w(zp, w.out >> 5, ld_w(zp, w.out >> 5) | (0x80000000u >> (w.out & 31)));
        break;
      case ET_INT: {
        std::int32_t v;
        if (!fltint(acc, v)) return false;
        st_i(zp, w.out, v);
        break;
      }
      default: {
        double v;
        if (!dblflt(acc, v)) domner(ws);
        st_f(zp, w.out, v + 0.0);
        break;
      }
    }
    return true;
  });
}

// ---- whole-row loops for the common reductions --------------------------------------------

// The number of ones among `len` bits from bit `from`.
std::uint64_t ones_in(const std::uint8_t* x, std::uint64_t from, std::uint64_t len) {
  std::uint64_t n = 0;
  std::uint64_t i = from;
  const std::uint64_t end = from + len;
  if (i & 31) {
    const std::uint64_t stop = std::min(end, (i | 31) + 1);
    std::uint32_t word = ld_w(x, i >> 5) << (i & 31);
    const std::uint64_t k = stop - i;
    if (k < 32) word &= ~(0xFFFFFFFFu >> k);
    n += std::popcount(word);
    i = stop;
  }
  std::uint64_t wi = i >> 5;
  const std::uint64_t wend = end >> 5;
  for (; wi < wend; ++wi) n += std::popcount(ld_w(x, wi));
  i = std::max(i, wend << 5);
  if (i < end) {
    const std::uint64_t k = end - i;
    n += std::popcount(ld_w(x, i >> 5) & ~(0xFFFFFFFFu >> k));
  }
  return n;
}

// Plain reduction of booleans by + ∧ ∨ × ⌈ ⌊ along the last axis: each row's
// ones counted a word at a time (∧ asks whether all are ones, ∨ whether any).
// Whether `len` bits from bit `from` are all ones (`ones`) or all zeros,
// stopping at the first word that says otherwise.
bool all_bits(const std::uint8_t* x, std::uint64_t from, std::uint64_t len, bool ones) {
  const std::uint32_t want = ones ? 0xFFFFFFFFu : 0;
  std::uint64_t i = from;
  const std::uint64_t end = from + len;
  while (i < end && (i & 31)) {
    if (static_cast<bool>(bit_of(x, i)) != ones) return false;
    ++i;
  }
  // Eight words at a time, then one.
  for (; i + 256 <= end; i += 256) {
    std::uint32_t all = 0xFFFFFFFFu, any = 0;
    for (std::uint64_t j = 0; j < 8; ++j) {
      const std::uint32_t w = ld_w(x, (i >> 5) + j);
      all &= w;
      any |= w;
    }
    if (ones ? all != want : any != want) return false;
  }
  for (; i + 32 <= end; i += 32)
    if (ld_w(x, i >> 5) != want) return false;
  for (; i < end; ++i)
    if (static_cast<bool>(bit_of(x, i)) != ones) return false;
  return true;
}

bool bool_rows(const FoldCall& f, const Geo& g, const std::uint8_t* x, const ArrayInfo& z, Poll& poll, Ws ws) {
  std::uint8_t* zp = ws + z.data;
  const bool plus = f.code == pc::Plus;
  const bool ones = f.code == pc::And || f.code == pc::Times || f.code == pc::Floor;
  for (std::uint64_t a = 0; a < g.outer; ++a) {
    // The row in runs of kPollEvery bits, polled between runs.
    std::uint64_t count = 0;
    bool all = true;
    for (std::uint64_t done = 0; done < g.n && (plus || all);) {
      const std::uint64_t k = std::min<std::uint64_t>(g.n - done, kPollEvery);
      if (plus)
        count += ones_in(x, a * g.n + done, k);
      else
        all = all_bits(x, a * g.n + done, k, ones);
      done += k;
      poll.step(k);
    }
    const std::int32_t v = plus ? static_cast<std::int32_t>(count) : ones ? all : !all;
    if (z.type == ET_INT) {
      st_i(zp, a, v);
    } else if (v) {
      st_w(zp, a >> 5, ld_w(zp, a >> 5) | (0x80000000u >> (a & 31)));
    }
  }
  return true;
}

// +/ of integer rows, right to left in 32 bits as the element routine adds,
// the overflow tests gathered over a run and looked at once.
[[gnu::noinline]] bool int_sum_run(const std::uint8_t* q, std::uint64_t k, std::int32_t& acc) {
  std::int32_t a = acc;
  bool over = false;
  for (std::uint64_t i = k; i-- > 0;) over |= __builtin_add_overflow(ld_i(q, i), a, &a);
  acc = a;
  return !over;
}

bool int_sum_rows(const Geo& g, const std::uint8_t* x, std::uint8_t* z, Poll& poll) {
  for (std::uint64_t a = 0; a < g.outer; ++a) {
    const std::uint8_t* p = x + 4 * a * g.n;
    std::int32_t acc = ld_i(p, g.n - 1);
    for (std::uint64_t end = g.n - 1; end > 0;) {
      const std::uint64_t k = std::min<std::uint64_t>(end, kPollEvery);
      if (!int_sum_run(p + 4 * (end - k), k, acc)) return false;
      end -= k;
      poll.step(k);
    }
    st_i(z, a, acc);
  }
  return true;
}

// One run of elements folded into an accumulator, out of line so that the
// accumulator stays in a register through the run.
template <class Op>
[[gnu::noinline]] std::int32_t int_extreme_run(const std::uint8_t* q, std::uint64_t k, std::int32_t acc) {
  for (std::uint64_t i = 0; i < k; ++i) Op::apply(acc, ld_i(q, i));
  return acc;
}
template <class Op>
[[gnu::noinline]] double float_extreme_run(const std::uint8_t* q, std::uint64_t k, double acc) {
  for (std::uint64_t i = 0; i < k; ++i) acc = Op::apply(acc, ld_f(q, i));
  return acc;
}
// Elements k−1 down to 0 from q, each x giving x f acc.
template <class Op>
[[gnu::noinline]] double float_fold_run(const std::uint8_t* q, std::uint64_t k, double acc) {
  for (std::uint64_t i = k; i-- > 0;) acc = Op::apply(ld_f(q, i), acc);
  return acc;
}

template <class Op>
void int_extreme_rows(const Geo& g, const std::uint8_t* x, std::uint8_t* z, Poll& poll) {
  for (std::uint64_t a = 0; a < g.outer; ++a) {
    const std::uint8_t* p = x + 4 * a * g.n;
    std::int32_t acc = ld_i(p, g.n - 1);
    for (std::uint64_t done = 0; done < g.n;) {
      const std::uint64_t k = std::min<std::uint64_t>(g.n - done, kPollEvery);
      acc = int_extreme_run<Op>(p + 4 * done, k, acc);
      done += k;
      poll.step(k);
    }
    st_i(z, a, acc);
  }
}

template <class Op>
void float_extreme_rows(const Geo& g, const std::uint8_t* x, std::uint8_t* z, Poll& poll) {
  for (std::uint64_t a = 0; a < g.outer; ++a) {
    const std::uint8_t* p = x + 8 * a * g.n;
    double acc = ld_f(p, g.n - 1);
    for (std::uint64_t done = 0; done < g.n;) {
      const std::uint64_t k = std::min<std::uint64_t>(g.n - done, kPollEvery);
      acc = float_extreme_run<Op>(p + 8 * done, k, acc);
      done += k;
      poll.step(k);
    }
    st_f(z, a, acc + 0.0);
  }
}

// + or × of float rows, right to left, a double at each step.
template <class Op>
void float_fold_rows(const Geo& g, const std::uint8_t* x, std::uint8_t* z, Poll& poll, Ws ws) {
  for (std::uint64_t a = 0; a < g.outer; ++a) {
    const std::uint8_t* p = x + 8 * a * g.n;
    double acc = ld_f(p, g.n - 1);
    for (std::uint64_t end = g.n - 1; end > 0;) {
      const std::uint64_t k = std::min<std::uint64_t>(end, kPollEvery);
      acc = float_fold_run<Op>(p + 8 * (end - k), k, acc);
      end -= k;
      poll.step(k);
    }
    if (!std::isfinite(acc)) domner(ws);
    st_f(z, a, acc + 0.0);
  }
}

// The whole-row loops of a plain reduction along the last axis; answers
// 1 done, 0 overflow (widen), −1 none applies.
int row_loops(const FoldCall& f, const Geo& g, const ArrayInfo& r, const ArrayInfo& z, Poll& poll, Ws ws) {
  if (f.mode != 0 || g.s != 1) return -1;
  const std::uint8_t* x = ws + r.data;
  std::uint8_t* zp = ws + z.data;
  if (r.type == ET_BOOL) {
    switch (f.code) {
      case pc::Plus:
      case pc::And:
      case pc::Or:
      case pc::Times:
      case pc::Ceiling:
      case pc::Floor: return bool_rows(f, g, x, z, poll, ws) ? 1 : 0;
      default: return -1;
    }
  }
  if (r.type == ET_INT && z.type == ET_INT) {
    switch (f.code) {
      case pc::Plus: return int_sum_rows(g, x, zp, poll) ? 1 : 0;
      case pc::Ceiling: int_extreme_rows<IntMax>(g, x, zp, poll); return 1;
      case pc::Floor: int_extreme_rows<IntMin>(g, x, zp, poll); return 1;
      default: return -1;
    }
  }
  if (r.type == ET_FLOAT && z.type == ET_FLOAT) {
    switch (f.code) {
      case pc::Plus: float_fold_rows<FltPlus>(g, x, zp, poll, ws); return 1;
      case pc::Times: float_fold_rows<FltTimes>(g, x, zp, poll, ws); return 1;
      case pc::Ceiling: float_extreme_rows<FltMax>(g, x, zp, poll); return 1;
      case pc::Floor: float_extreme_rows<FltMin>(g, x, zp, poll); return 1;
      default: return -1;
    }
  }
  return -1;
}

// ---- choosing the element loop ------------------------------------------------------------

template <std::uint8_t T>
bool int_by_op(const FoldCall& f, const Geo& g, std::uint64_t m, bool scan, const std::uint8_t* x, std::uint8_t* z,
               Poll& poll, Ws ws) {
  switch (f.code) {
    case pc::Plus: return int_windows<T>(IntPlus{}, g, m, f, scan, x, z, poll);
    case pc::Times: return int_windows<T>(IntTimes{}, g, m, f, scan, x, z, poll);
    case pc::Ceiling: return int_windows<T>(IntMax{}, g, m, f, scan, x, z, poll);
    case pc::Floor: return int_windows<T>(IntMin{}, g, m, f, scan, x, z, poll);
    default: return int_windows<T>(IntOther{int_rule(f.code), ws}, g, m, f, scan, x, z, poll);
  }
}

template <std::uint8_t T>
void float_by_op(const FoldCall& f, const Geo& g, std::uint64_t m, bool scan, const std::uint8_t* x, std::uint8_t* z,
                 Poll& poll, Ws ws) {
  switch (f.code) {
    case pc::Plus: return float_windows<T>(FltPlus{}, g, m, f, scan, x, z, poll, ws);
    case pc::Times: return float_windows<T>(FltTimes{}, g, m, f, scan, x, z, poll, ws);
    case pc::Ceiling: return float_windows<T>(FltMax{}, g, m, f, scan, x, z, poll, ws);
    case pc::Floor: return float_windows<T>(FltMin{}, g, m, f, scan, x, z, poll, ws);
    case pc::Minus: return float_windows<T>(FltMinus{}, g, m, f, scan, x, z, poll, ws);
    default: return float_windows<T>(FltOther{f.code, comparison_tolerance(ws), ws}, g, m, f, scan, x, z, poll, ws);
  }
}

// Every window reduced into z of its type: typed loops where they serve,
// else the registers. False when an integer result overflowed.
bool fill_windows(const FoldCall& f, const Geo& g, std::uint64_t m, bool scan, const ArrayInfo& r, const ArrayInfo& z,
                  Poll& poll, Ws ws) {
  const std::uint8_t* x = ws + r.data;
  std::uint8_t* zp = ws + z.data;
  if (z.type == ET_INT && int_rule(f.code)) {
    if (r.type == ET_BOOL) return int_by_op<ET_BOOL>(f, g, m, scan, x, zp, poll, ws);
    if (r.type == ET_INT) return int_by_op<ET_INT>(f, g, m, scan, x, zp, poll, ws);
  }
  if (z.type == ET_FLOAT && has_float_rule(f.code)) {
    if (r.type == ET_INT) {
      float_by_op<ET_INT>(f, g, m, scan, x, zp, poll, ws);
      return true;
    }
    if (r.type == ET_FLOAT) {
      float_by_op<ET_FLOAT>(f, g, m, scan, x, zp, poll, ws);
      return true;
    }
  }
  if (z.type == ET_BOOL && r.type == ET_BOOL && word_op(f.code) != WordOp::None) {
    bool_windows(word_op(f.code), g, m, f, scan, x, zp, poll);
    return true;
  }
  return register_windows(f, z.type, g, m, scan, r, z, poll, ws);
}

// The result of `shape` and `type` holding R's elements as they are.
void copy_of_right(const std::vector<std::uint32_t>& shape, Ws ws) {
  const std::uint8_t type = array_info(right_arg(ws), ws).type;
  const ArrayInfo z = new_simple(shape, type, ws);
  const ArrayInfo r = array_info(right_arg(ws), ws);
  const std::uint64_t bytes = type == ET_BOOL ? 4 * ((std::uint64_t{r.count} + 31) / 32)
                                              : std::uint64_t{r.count} * elem_bytes(type);
  std::memmove(ws + z.data, ws + r.data, bytes);
}

// ---- scans ---------------------------------------------------------------------------------

// Running folds, acc ← acc f x, along each row, polled for attention
// between runs of kPollEvery elements so that one long row can be
// interrupted. The element routines are taken by value and capture by
// value, so that stores into the result cannot be taken to change them and
// the loop keeps everything in registers.
// One run of k elements after element i, out of line so that the
// accumulator and the cursor stay in registers through the run.
template <class Acc, class Load, class Step, class Store>
[[gnu::noinline]] bool running_run(std::uint64_t& cursor, std::uint64_t s, std::uint64_t k, Acc& accumulator,
                                   Load load, Step step, Store store) {
  std::uint64_t i = cursor;
  Acc acc = accumulator;
  for (std::uint64_t j = 0; j < k; ++j) {
    i += s;
    if (!step(acc, load(i))) return false;
    store(i, acc);
  }
  cursor = i;
  accumulator = acc;
  return true;
}

template <class Load, class Step, class Store>
bool running(const Geo& g, Poll& poll, Load load, Step step, Store store) {
  for (std::uint64_t a = 0; a < g.outer; ++a) {
    for (std::uint64_t b = 0; b < g.s; ++b) {
      std::uint64_t i = a * g.n * g.s + b;
      auto acc = load(i);
      store(i, acc);
      for (std::uint64_t j = 1; j < g.n;) {
        const std::uint64_t k = std::min<std::uint64_t>(g.n - j, kPollEvery);
        if (!running_run(i, g.s, k, acc, load, step, store)) return false;
        j += k;
        poll.step(k);
      }
      poll.step(1);
    }
  }
  return true;
}

template <std::uint8_t T, class Op>
bool int_running(const Op& op, const Geo& g, const std::uint8_t* x, std::uint8_t* z, Poll& poll) {
  return running(
      g, poll, [x](std::uint64_t i) { return int_of<T>(x, i); },
      [op](std::int32_t& acc, std::int32_t v) { return !op.apply(acc, v); },
      [z](std::uint64_t i, std::int32_t v) { st_i(z, i, v); });
}

template <std::uint8_t T, class Op>
void float_running(const Op& op, const Geo& g, const std::uint8_t* x, std::uint8_t* z, Poll& poll, Ws ws) {
  running(
      g, poll, [x](std::uint64_t i) { return dbl_of<T>(x, i); },
      [op](double& acc, double v) {
        acc = op.apply(acc, v);
        return true;
      },
      [z](std::uint64_t i, double v) {
        // A value that is not finite stays so: one test at the end serves.
        st_f(z, i, v + 0.0);
      });
  for (std::uint64_t a = 0; a < g.outer * g.s; ++a) {
    const std::uint64_t last = (a / g.s) * g.n * g.s + (g.n - 1) * g.s + a % g.s;
    if (!std::isfinite(ld_f(z, last))) domner(ws);
  }
}

// The running fold of an associative operand (or = ≠ < on booleans);
// answers 1 done, 0 overflow, −1 when it does not serve.
int running_scan(const FoldCall& f, const Geo& g, const ArrayInfo& r, const ArrayInfo& z, Poll& poll, Ws ws) {
  const std::uint8_t* x = ws + r.data;
  std::uint8_t* zp = ws + z.data;
  if (z.type == ET_BOOL && r.type == ET_BOOL) {
    const bool less = f.code == pc::Lt;
    const WordOp op = word_op(f.code);
    if (!less && op == WordOp::None) return -1;
    const auto load = [x](std::uint64_t i) { return static_cast<std::uint32_t>(bit_of(x, i)); };
    const auto store = [zp](std::uint64_t i, std::uint32_t v) {
      if (v & 1) st_w(zp, i >> 5, ld_w(zp, i >> 5) | (0x80000000u >> (i & 31)));
    };
    if (less) {
      // <: a one only at the first one of the row; the accumulator's bit 1
      // says whether a one has been met, bit 0 is the value.
      running(
          g, poll, [x](std::uint64_t i) { return bit_of(x, i) ? 3u : 0u; },
          [](std::uint32_t& acc, std::uint32_t v) {
            acc = (acc & 2) ? 2 : (v ? 3 : 0);
            return true;
          },
          store);
    } else {
      running(
          g, poll, load,
          [op](std::uint32_t& acc, std::uint32_t v) {
            acc = apply_word_op(op, acc, v) & 1;
            return true;
          },
          store);
    }
    return 1;
  }
  if (z.type == ET_INT && (r.type == ET_BOOL || r.type == ET_INT)) {
    const bool b = r.type == ET_BOOL;
    switch (f.code) {
      case pc::Plus: return (b ? int_running<ET_BOOL>(IntPlus{}, g, x, zp, poll) : int_running<ET_INT>(IntPlus{}, g, x, zp, poll)) ? 1 : 0;
      case pc::Times: return (b ? int_running<ET_BOOL>(IntTimes{}, g, x, zp, poll) : int_running<ET_INT>(IntTimes{}, g, x, zp, poll)) ? 1 : 0;
      case pc::Ceiling: return (b ? int_running<ET_BOOL>(IntMax{}, g, x, zp, poll) : int_running<ET_INT>(IntMax{}, g, x, zp, poll)) ? 1 : 0;
      case pc::Floor: return (b ? int_running<ET_BOOL>(IntMin{}, g, x, zp, poll) : int_running<ET_INT>(IntMin{}, g, x, zp, poll)) ? 1 : 0;
      default: return -1;
    }
  }
  if (z.type == ET_FLOAT && (r.type == ET_INT || r.type == ET_FLOAT)) {
    const bool i = r.type == ET_INT;
    switch (f.code) {
      case pc::Plus: i ? float_running<ET_INT>(FltPlus{}, g, x, zp, poll, ws) : float_running<ET_FLOAT>(FltPlus{}, g, x, zp, poll, ws); return 1;
      case pc::Times: i ? float_running<ET_INT>(FltTimes{}, g, x, zp, poll, ws) : float_running<ET_FLOAT>(FltTimes{}, g, x, zp, poll, ws); return 1;
      case pc::Ceiling: i ? float_running<ET_INT>(FltMax{}, g, x, zp, poll, ws) : float_running<ET_FLOAT>(FltMax{}, g, x, zp, poll, ws); return 1;
      case pc::Floor: i ? float_running<ET_INT>(FltMin{}, g, x, zp, poll, ws) : float_running<ET_FLOAT>(FltMin{}, g, x, zp, poll, ws); return 1;
      default: return -1;
    }
  }
  return -1;
}

}  // namespace

Extended80 reg_of_elem(std::uint8_t type, const std::uint8_t* p, std::uint64_t i) {
  switch (type) {
    case ET_BOOL: return bit_of(p, i) ? x80const::one : x80const::fpzero;
    case ET_INT: return intflt(ld_i(p, i));
    case ET_FLOAT: return fltdb(ld_f(p, i));
    default: {
      // A character sits in the register's first byte.
      std::uint8_t b[kExtended80Bytes] = {};
      b[0] = p[i];
      return load_x80(b);
    }
  }
}

std::vector<std::uint32_t> reduce_shape(const FoldCall& f, Ws ws) {
  const ArrayInfo r = array_info(right_arg(ws), ws);
  std::vector<std::uint32_t> shape = shape_of(r, ws);
  if (r.rank == 0) {
    if (f.mode == 0) return shape;
    shape.push_back(1);  // a scalar reduces as a one-element vector
  }
  const std::uint32_t n = shape[f.axis];
  if (f.mode == 0) {
    shape.erase(shape.begin() + f.axis);
  } else {
    if (std::uint64_t{f.window} > std::uint64_t{n} + 1) lener(ws);
    shape[f.axis] = n + 1 - f.window;
  }
  return shape;
}

double reduce_identity(std::uint8_t code, Ws ws) {
  switch (code) {
    case pc::Shriek:
    case pc::Le:
    case pc::Eq:
    case pc::And:
    case pc::Divide:
    case pc::Times:
    case pc::Star:
    case pc::Ge: return 1.0;
    case pc::Lt:
    case pc::Gt:
    case pc::Or:
    case pc::Ne:
    case pc::Plus:
    case pc::Stile:
    case pc::Minus: return 0.0;
    case pc::Floor: return DBL_MAX;
    case pc::Ceiling: return -DBL_MAX;
    default: domner(ws);
  }
}

void reduce_simple(const FoldCall& f, Ws ws) {
  const std::vector<std::uint32_t> shape = reduce_shape(f, ws);
  ArrayInfo r = array_info(right_arg(ws), ws);
  const Geo g = geometry(r, f.axis, ws);
  // A window of one gives R; a length-1 axis R's elements as they are.
  if (f.mode != 0 && f.window == 1) return copy_of_right(shape, ws);
  if (f.mode == 0 && g.n == 1) return copy_of_right(shape, ws);
  std::uint8_t type = fold_type(f.flags, r.type);
  const bool empty_axis = g.n == 0 || (f.mode != 0 && f.window == 0);
  if (empty_axis) {
    std::uint32_t count = 1;
    for (std::uint32_t d : shape) count = d == 0 ? 0 : count;
    const double id = count == 0 ? 0.0 : reduce_identity(f.code, ws);
    if (type == ET_INT && (id > 2147483647.0 || id < -2147483648.0)) type = ET_FLOAT;
    const ArrayInfo z = new_simple(shape, type, ws);
    for (std::uint64_t i = 0; i < z.count; ++i) {
      if (type == ET_FLOAT)
        st_f(ws + z.data, i, id);
      else if (type == ET_INT)
        st_i(ws + z.data, i, static_cast<std::int32_t>(id));
      else if (id != 0)
        put_bit(z.data, i, true, ws);
    }
    return;
  }
  if (r.type == ET_CHAR && (f.flags & (pf::NoCharacters | pf::NoLeftCharacters))) domner(ws);
  const std::uint64_t m = f.mode == 0 ? 1 : g.n + 1 - f.window;
  for (;;) {
    const ArrayInfo z = new_simple(shape, type, ws);
    r = array_info(right_arg(ws), ws);
    if (z.count == 0) return;
    Poll poll{ws};
    int done = row_loops(f, g, r, z, poll, ws);
    if (done < 0) done = fill_windows(f, g, m, false, r, z, poll, ws) ? 1 : 0;
    if (done) return;
    if (type == ET_FLOAT) ZEMA_SYSTEM_ERROR(ws);
    drop_result(ws);
    type = ET_FLOAT;
  }
}

void scan_simple(const FoldCall& f, Ws ws) {
  ArrayInfo r = array_info(right_arg(ws), ws);
  const std::vector<std::uint32_t> shape = shape_of(r, ws);
  const Geo g = geometry(r, f.axis, ws);
  if (g.n <= 1 || r.count == 0) return copy_of_right(shape, ws);
  if (r.type == ET_CHAR) domner(ws);
  std::uint32_t flags = f.flags;
  // A relational operand over non-booleans passes the first element
  // through: the result is not boolean, and every prefix is reduced.
  const bool relational = (flags & pf::DyadicScalar) && (flags & pf::BooleanResult) && !(flags & pf::BooleanArgs);
  const bool toggled = relational && r.type != ET_BOOL;
  if (toggled) flags ^= pf::BooleanResult | pf::IntegerReduce;
  std::uint8_t type = fold_type(flags, r.type);
  const bool associative = (flags & pf::ReduceIdentity) ||
                           (r.type == ET_BOOL && ((flags & pf::SimplifyNested) || f.code == pc::Lt));
  for (;;) {
    const ArrayInfo z = new_simple(shape, type, ws);
    r = array_info(right_arg(ws), ws);
    Poll poll{ws};
    int done = -1;
    if (associative && !toggled) done = running_scan(f, g, r, z, poll, ws);
    if (done < 0) done = fill_windows(f, g, g.n, true, r, z, poll, ws) ? 1 : 0;
    if (done) return;
    if (type == ET_FLOAT) ZEMA_SYSTEM_ERROR(ws);
    drop_result(ws);
    type = ET_FLOAT;
  }
}

}  // namespace zema
