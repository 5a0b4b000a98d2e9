// ⌹. One solver serves every shape: R's rows scaled by their largest
// magnitude to find column scales, the columns divided by them, then a
// Householder QR factorisation with column pivoting (the column of largest
// remaining magnitude first) and row pivoting, applied to L's columns as it
// goes, and back substitution. The work matrix is kept by columns, so that
// each reflection runs over contiguous memory, in 80-bit long doubles.
#include "interpreter/primitives/domino.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <utility>
#include <vector>

#include "interpreter/primitives/args.h"
#include "interpreter/primitives/structural.h"
#include "interpreter/workspace/entry.h"
#include "interpreter/workspace/errors.h"
#include "interpreter/workspace/heap.h"

namespace zema {

namespace {

using Real = long double;

// Bytes left untouched below the stack pointer.
constexpr std::uint64_t kStackMargin = 128;
// A remaining column smaller than this times R's largest magnitude is
// taken as dependent on the columns already chosen.
constexpr Real kRankTolerance = 1E-13L;

// An argument seen as a matrix: a scalar is 1×1, a vector of length m m×1.
struct MatrixView {
  std::uint64_t rows = 1, cols = 1;
  bool matrix = false;
};

MatrixView view_of(const ArrayInfo& a, Ws ws) {
  MatrixView v;
  if (a.rank > 2) ranker(ws);
  if (a.rank >= 1) v.rows = dim(a, 0, ws);
  if (a.rank == 2) {
    v.cols = dim(a, 1, ws);
    v.matrix = true;
  }
  return v;
}

// `bytes` of scratch in the free gap between heap top and stack, 16-aligned
// in host memory; WS FULL when the gap is short even after a compaction.
// Arrays read before the call must be read again after it.
std::uint8_t* gap_scratch(std::uint64_t bytes, Ws ws) {
  for (bool compacted = false;; compacted = true) {
    const std::uint64_t top = rd32(ws, hdr::HeapTop), sp = rd32(ws, hdr::StackPointer);
    const auto at = reinterpret_cast<std::uintptr_t>(ws + top);
    const std::uint64_t pad = (16 - at % 16) % 16;
    if (sp > top && sp - top >= pad + bytes + kStackMargin) return ws + top + pad;
    if (compacted) xwsfll(ws);
    force_gcol(ws);
  }
}

// Element i of a simple numeric array as a long double.
struct NumericReader {
  const std::uint8_t* d;
  std::uint8_t type;
  Real operator()(std::uint64_t i) const {
    switch (type) {
      case ET_BOOL: {
        std::uint32_t word;
        std::memcpy(&word, d + 4 * (i / 32), 4);
        return (word >> (31 - i % 32)) & 1;
      }
      case ET_INT: {
        std::int32_t v;
        std::memcpy(&v, d + 4 * i, 4);
        return v;
      }
      default: {
        double v;
        std::memcpy(&v, d + 8 * i, 8);
        return v;
      }
    }
  }
};

NumericReader reader_of(std::uint32_t off, Ws ws) {
  const ArrayInfo a = array_info(off, ws);
  return {ws + a.data, a.type};
}

// The factorisation's work: M by columns (m rows, n columns of R then k of
// L), R's row maxima and column scales, and the column permutation.
struct Work {
  Real* m_cols;
  Real* row_max;
  Real* col_scale;
  std::uint32_t* perm;
  std::uint64_t m, n, k;
  Real* col(std::uint64_t j) const { return m_cols + j * m; }
};

// Scales R into M's first n columns and copies L (or the identity) into the
// rest. Answers the rank tolerance. A zero row takes no part in the column
// scales; a zero column keeps the scale 1 (its rank test fails later).
Real load(const Work& w, bool identity, Ws ws) {
  const NumericReader r = reader_of(right_arg(ws), ws);
  const std::uint64_t m = w.m, n = w.n, k = w.k;
  // R's ravel is row-major: element (i, j) at i·n + j.
  Real largest = 0;
  for (std::uint64_t i = 0; i < m; ++i) {
    Real mx = 0;
    for (std::uint64_t j = 0; j < n; ++j) {
      const Real v = std::fabs(r(i * n + j));
      w.col(j)[i] = v;
      if (v > mx) mx = v;
    }
    w.row_max[i] = mx;
    if (mx > largest) largest = mx;
  }
  for (std::uint64_t j = 0; j < n; ++j) {
    Real* c = w.col(j);
    Real s = 0;
    for (std::uint64_t i = 0; i < m; ++i) {
      if (w.row_max[i] == 0) continue;
      const Real q = c[i] / w.row_max[i];
      if (q > s) s = q;
    }
    w.col_scale[j] = s == 0 ? 1 : s;
    w.perm[j] = static_cast<std::uint32_t>(j);
  }
  for (std::uint64_t i = 0; i < m; ++i) {
    for (std::uint64_t j = 0; j < n; ++j) w.col(j)[i] = r(i * n + j) / w.col_scale[j];
  }
  if (identity) {
    for (std::uint64_t l = 0; l < k; ++l) {
      Real* c = w.col(n + l);
      for (std::uint64_t i = 0; i < m; ++i) c[i] = i == l ? 1 : 0;
    }
  } else {
    const NumericReader a = reader_of(left_arg(ws), ws);
    for (std::uint64_t i = 0; i < m; ++i) {
      for (std::uint64_t l = 0; l < k; ++l) w.col(n + l)[i] = a(i * k + l);
    }
  }
  return kRankTolerance * largest;
}

// The sum of v[r]·c[r] for r in [from, to), in two interleaved halves so
// that the additions do not wait on each other.
inline Real dot_from(const Real* v, const Real* c, std::uint64_t from, std::uint64_t to) {
  Real a = 0, b = 0;
  std::uint64_t r = from;
  for (; r + 1 < to; r += 2) {
    a += v[r] * c[r];
    b += v[r + 1] * c[r + 1];
  }
  if (r < to) a += v[r] * c[r];
  return a + b;
}

// The largest magnitude of c[r] for r in [from, to).
inline Real max_from(const Real* c, std::uint64_t from, std::uint64_t to) {
  Real g = 0;
  for (std::uint64_t r = from; r < to; ++r) {
    const Real a = c[r] < 0 ? -c[r] : c[r];
    if (a > g) g = a;
  }
  return g;
}

// Householder QR of M's first n columns with column and row pivoting, the
// reflections applied to every later column. DOMAIN ERROR when a column is
// dependent. `col_max` holds, for each of R's columns not yet chosen, the
// largest magnitude of its remaining rows, kept up by each reflection.
void factorise(const Work& w, Real* col_max, Real tolerance, Ws ws) {
  const std::uint64_t m = w.m, n = w.n, width = w.n + w.k;
  for (std::uint64_t j = 0; j < n; ++j) col_max[j] = max_from(w.col(j), 0, m);
  for (std::uint64_t i = 0; i < n; ++i) {
    check_attention(ws);
    // The remaining column of largest magnitude (the first on ties).
    std::uint64_t q = i;
    for (std::uint64_t j = i + 1; j < n; ++j) {
      if (col_max[j] > col_max[q]) q = j;
    }
    if (col_max[q] < tolerance || col_max[q] == 0) domner(ws);
    if (q != i) {
      Real* a = w.col(i);
      Real* b = w.col(q);
      for (std::uint64_t r = 0; r < m; ++r) std::swap(a[r], b[r]);
      std::swap(w.perm[i], w.perm[q]);
      std::swap(col_max[i], col_max[q]);
    }
    Real* v = w.col(i);
    // The row of largest magnitude in the pivot column leads.
    std::uint64_t t = i;
    for (std::uint64_t r = i + 1; r < m; ++r) {
      if (std::fabs(v[r]) > std::fabs(v[t])) t = r;
    }
    if (t != i) {
      for (std::uint64_t j = i; j < width; ++j) std::swap(w.col(j)[i], w.col(j)[t]);
    }
    const Real sigma2 = dot_from(v, v, i, m);
    const Real sigma = std::sqrt(sigma2);
    const Real alpha = v[i] >= 0 ? -sigma : sigma;
    const Real v1 = v[i] - alpha;
    const Real beta = 1 / (sigma2 - alpha * v[i]);
    for (std::uint64_t j = i + 1; j < width; ++j) {
      Real* c = w.col(j);
      const Real s = beta * (v1 * c[i] + dot_from(v, c, i + 1, m));
      c[i] -= s * v1;
      if (j < n) {
        // Two running maxima, so that the comparisons do not wait on each other.
        Real g = 0, h = 0;
        std::uint64_t r = i + 1;
        for (; r + 1 < m; r += 2) {
          c[r] -= s * v[r];
          c[r + 1] -= s * v[r + 1];
          g = std::max(g, std::fabs(c[r]));
          h = std::max(h, std::fabs(c[r + 1]));
        }
        if (r < m) {
          c[r] -= s * v[r];
          g = std::max(g, std::fabs(c[r]));
        }
        col_max[j] = std::max(g, h);
      } else {
        for (std::uint64_t r = i + 1; r < m; ++r) c[r] -= s * v[r];
      }
    }
    v[i] = alpha;
  }
}

// Back substitution for each of L's columns, in place in M's rows 0…n−1;
// the unknowns unscaled into R's column order and written to the result
// (n×k, row-major doubles). DOMAIN ERROR for a value beyond the double
// range.
void solve(const Work& w, Ws ws) {
  const std::uint64_t n = w.n, k = w.k;
  std::uint8_t* z = ws + array_info(desc_array(hdr::ResultDesc, ws), ws).data;
  for (std::uint64_t l = 0; l < k; ++l) {
    Real* b = w.col(n + l);
    for (std::uint64_t r = n; r-- > 0;) {
      const Real x = b[r] / w.col(r)[r];
      b[r] = x;
      const Real* c = w.col(r);
      for (std::uint64_t s = 0; s < r; ++s) b[s] -= x * c[s];
    }
    for (std::uint64_t r = 0; r < n; ++r) {
      const std::uint32_t j = w.perm[r];
      const double x = static_cast<double>(b[r] / w.col_scale[j]);
      if (!std::isfinite(x)) domner(ws);
      std::memcpy(z + 8 * (j * k + l), &x, 8);
    }
  }
}

void domino(const PrimitiveCall& c, bool dyadic, Ws ws) {
  ArrayInfo r = array_info(right_arg(ws), ws);
  if (dyadic && !is_numeric(array_info(left_arg(ws), ws).type)) domner(ws);
  if (!is_numeric(r.type)) domner(ws);
  no_axis(c.fn_entry, ws);
  MatrixView a;
  if (dyadic) {
    a = view_of(array_info(left_arg(ws), ws), ws);
  } else {
    // The identity of R's row count: a scalar R gives the scalar 1.
    const std::uint64_t order = r.rank == 0 ? 1 : dim(r, 0, ws);
    if (order * order > 0xFFFFFFFFull) xwsfll(ws);
    a = {order, order, r.rank > 0};
  }
  const MatrixView b = view_of(r, ws);
  if (a.rows != b.rows) lener(ws);
  if (b.rows < b.cols) domner(ws);

  std::vector<std::uint32_t> shape;
  if (b.matrix) shape.push_back(static_cast<std::uint32_t>(b.cols));
  if (a.matrix) shape.push_back(static_cast<std::uint32_t>(a.cols));
  const ArrayInfo z = new_simple(shape, ET_FLOAT, ws);
  if (z.count == 0) return;

  const std::uint64_t m = b.rows, n = b.cols, k = a.cols;
  // M (m × (n + k)), row maxima (m), column scales (n), column maxima (n),
  // permutation (n).
  const std::uint64_t values = m * (n + k) + m + 2 * n;
  if (values > 0x10000000ull) xwsfll(ws);
  std::uint8_t* s = gap_scratch(sizeof(Real) * values + 4 * n, ws);
  Real* base = reinterpret_cast<Real*>(s);
  const Work w{base, base + m * (n + k), base + m * (n + k) + m,
               reinterpret_cast<std::uint32_t*>(base + values), m, n, k};
  const Real tolerance = load(w, !dyadic, ws);
  factorise(w, base + values - n, tolerance, ws);
  solve(w, ws);
}

}  // namespace

void domino_monadic(const PrimitiveCall& c, Ws ws) { domino(c, false, ws); }
void domino_dyadic(const PrimitiveCall& c, Ws ws) { domino(c, true, ws); }

}  // namespace zema
