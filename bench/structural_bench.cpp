// zema-structural-bench: times structural primitives through the interpreter library next
// to plain C++ loops doing the same work on the same data, and prints each
// as a ratio to its loop; dyadic ⍳ is timed at two sizes to show that it
// grows linearly.
//
//   zema-structural-bench [--quick]
//
// The arrays are written into the workspace directly and bound to names
// through the symbol table; each expression then runs as an input line
// `Z←expression` (tokenised, executed, the result assigned). The timing is
// the best of several runs; before each run Z is set to 0 and the heap
// compacted, so that every result lands in the same (warm) memory and no
// compaction of earlier results falls into a timed run.
#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <string>
#include <type_traits>
#include <vector>

#include "bench/harness.h"
#include "host/charset.h"
#include "host/task.h"
#include "interpreter/workspace/entry.h"
#include "interpreter/workspace/heap.h"
#include "interpreter/engine/line.h"
#include "interpreter/workspace/symtab.h"
#include "interpreter/workspace/workspace.h"

using namespace zema;
using namespace zema::bench;

int main(int argc, char** argv) {
  const RunSize size = run_size(argc, argv);
  const std::uint32_t n = size.n;
  const int reps = size.reps;
  Session s(1200u * 1000u * 1000u);
  const std::uint32_t words = (n + 31) / 32;
  s.define("I", ET_INT, n, [&](std::uint8_t* p) {
    for (std::uint32_t i = 0; i < n; ++i) store_el<std::int32_t>(p, i, static_cast<std::int32_t>(i * 7919u % 2001u) - 1000);
  });
  s.define("J", ET_INT, n, [&](std::uint8_t* p) {
    for (std::uint32_t i = 0; i < n; ++i) store_el<std::int32_t>(p, i, static_cast<std::int32_t>(i * 104729u % 2001u));
  });
  s.define("B", ET_BOOL, n, [&](std::uint8_t* p) {
    for (std::uint32_t i = 0; i < words; ++i) store_el<std::uint32_t>(p, i, i * 2654435761u);
  });
  // A sparse selection: most words are zero.
  s.define("S", ET_BOOL, n, [&](std::uint8_t* p) {
    for (std::uint32_t i = 0; i < words; ++i) store_el<std::uint32_t>(p, i, i % 16 == 0 ? 0x80000001u : 0);
  });
  // Replication counts 0 1 2 0 1 2 …: the general (non-boolean) path.
  s.define("C", ET_INT, n, [&](std::uint8_t* p) {
    for (std::uint32_t i = 0; i < n; ++i) store_el<std::int32_t>(p, i, static_cast<std::int32_t>(i % 3));
  });
  s.define("P", ET_BOOL, 4, [&](std::uint8_t* p) { store_el<std::uint32_t>(p, 0, 0xA0000000u); });
  // A[K]: n/10 scattered indices (⎕IO 1) into the n integers of I, the
  // n floats of D and the n booleans of B.
  const std::uint32_t nk = n / 10;
  s.define("K", ET_INT, nk, [&](std::uint8_t* p) {
    for (std::uint32_t i = 0; i < nk; ++i) store_el<std::int32_t>(p, i, static_cast<std::int32_t>(std::uint64_t{i} * 2654435761u % n) + 1);
  });
  s.define("D", ET_FLOAT, n, [&](std::uint8_t* p) {
    for (std::uint32_t i = 0; i < n; ++i) store_el<double>(p, i, 0.5 * i);
  });
  s.run("N←" + std::to_string(n));
  s.run("M←1000 1000⍴I");  // take and drop: rows of a 1000 by 1000 integer matrix
  // V: n/10 integer vectors of length 10, the rows of I, for ⊃V.
  s.run("V←⊂[2]" + std::to_string(n / 10) + " 10⍴I");
  // 1000 × 1000 matrices of integers and of booleans for ⍉ ⌽ ⊖.
  s.run("BM←1000 1000⍴B");
  auto matrix = [&](const char* name) { return s.data(name) + 4; };  // past the second length
  // ⊤ and ⊥: 10⁶ values in 32 binary digits, and back from a 32 × 10⁶ boolean matrix.
  constexpr std::uint32_t kCoded = 1000000;
  s.run("E←⍳1000000");
  s.run("R2←32⍴2");
  s.run("BB←32 1000000⍴B");
  std::vector<std::int32_t> digits(32ull * kCoded);

  std::vector<std::uint8_t> out(8ull * n + 64);  // room for 2/I
  std::uint8_t* z = out.data();
  std::int64_t sink = 0;
  auto compress = [&](const char* sel) {
    return [&, sel] {
      const std::uint8_t *b = s.data(sel), *x = s.data("I");
      std::size_t k = 0;
      for (std::size_t i = 0; i < n; ++i)
        if ((load_el<std::uint32_t>(b, i / 32) >> (31 - i % 32)) & 1) store_el<std::int32_t>(z, k++, load_el<std::int32_t>(x, i));
      sink += static_cast<std::int64_t>(k);
    };
  };
  // The plain gather, with the same bound check a C++ caller would make.
  auto gather = [&]<std::size_t width>(const char* from, std::integral_constant<std::size_t, width>) {
    return [&, from] {
      const std::uint8_t *x = s.data(from), *k = s.data("K");
      for (std::size_t j = 0; j < nk; ++j) {
        const auto i = static_cast<std::uint32_t>(load_el<std::int32_t>(k, j)) - 1u;
        if (i >= n) std::abort();
        std::memcpy(z + width * j, x + width * i, width);
      }
    };
  };
  // Rows [r0, r1) of M, columns [c0, c0+w), copied row by row.
  auto rows = [&](std::size_t r0, std::size_t r1, std::size_t c0, std::size_t w) {
    return [&, r0, r1, c0, w] {
      const std::uint8_t* m = s.data("M") + 4;  // a matrix: past its second shape word
      for (std::size_t r = r0; r < r1; ++r) std::memcpy(z + 4 * w * (r - r0), m + 4 * (1000 * r + c0), 4 * w);
    };
  };
  struct Case {
    const char* expr;
    std::function<void()> loop;
  };
  const std::vector<Case> cases = {
      {"B/I", compress("B")},
      {"S/I", compress("S")},
      {"C/I",
       [&] {
         const std::uint8_t *c = s.data("C"), *x = s.data("I");
         std::size_t k = 0;
         for (std::size_t i = 0; i < n; ++i) {
           const std::int32_t v = load_el<std::int32_t>(x, i);
           for (std::int32_t t = load_el<std::int32_t>(c, i); t > 0; --t) store_el<std::int32_t>(z, k++, v);
         }
         sink += static_cast<std::int64_t>(k);
       }},
      {"2/I",
       [&] {
         const std::uint8_t* x = s.data("I");
         for (std::size_t i = 0; i < n; ++i) {
           const std::int32_t v = load_el<std::int32_t>(x, i);
           store_el<std::int32_t>(z, 2 * i, v);
           store_el<std::int32_t>(z, 2 * i + 1, v);
         }
       }},
      {"N⍴P",
       [&] {
         const std::uint8_t* p = s.data("P");
         const std::uint32_t pat = load_el<std::uint32_t>(p, 0);
         for (std::size_t i = 0; i < n; ++i) {
           const std::uint32_t bit = (pat >> (31 - i % 4)) & 1;
           if (i % 32 == 0) store_el<std::uint32_t>(z, i / 32, 0);
           store_el<std::uint32_t>(z, i / 32, load_el<std::uint32_t>(z, i / 32) | (bit << (31 - i % 32)));
         }
       }},
      {"N⍴I",
       [&] {
         const std::uint8_t* x = s.data("I");
         for (std::size_t i = 0; i < n; ++i) store_el<std::int32_t>(z, i, load_el<std::int32_t>(x, i));
       }},
      {"I[K]", gather("I", std::integral_constant<std::size_t, 4>{})},
      {"D[K]", gather("D", std::integral_constant<std::size_t, 8>{})},
      {"B[K]",
       [&] {
         const std::uint8_t *b = s.data("B"), *k = s.data("K");
         std::uint32_t word = 0;
         for (std::size_t j = 0; j < nk; ++j) {
           const auto i = static_cast<std::uint32_t>(load_el<std::int32_t>(k, j)) - 1u;
           if (i >= n) std::abort();
           word |= ((load_el<std::uint32_t>(b, i / 32) >> (31 - i % 32)) & 1) << (31 - j % 32);
           if (j % 32 == 31) {
             store_el<std::uint32_t>(z, j / 32, word);
             word = 0;
           }
         }
         if (nk % 32) store_el<std::uint32_t>(z, nk / 32, word);
       }},
      {"⍉M",
       [&] {
         // The plain blocked transpose: 32 × 32 tiles.
         const std::uint8_t* x = matrix("M");
         for (std::size_t r0 = 0; r0 < 1000; r0 += 32)
           for (std::size_t c0 = 0; c0 < 1000; c0 += 32)
             for (std::size_t c = c0; c < std::min<std::size_t>(c0 + 32, 1000); ++c)
               for (std::size_t r = r0; r < std::min<std::size_t>(r0 + 32, 1000); ++r)
                 store_el<std::int32_t>(z, c * 1000 + r, load_el<std::int32_t>(x, r * 1000 + c));
       }},
      {"⌽M",
       [&] {
         const std::uint8_t* x = matrix("M");
         for (std::size_t r = 0; r < 1000; ++r)
           for (std::size_t c = 0; c < 1000; ++c)
             store_el<std::int32_t>(z, r * 1000 + c, load_el<std::int32_t>(x, r * 1000 + 999 - c));
       }},
      {"⊖M",
       [&] {
         const std::uint8_t* x = matrix("M");
         for (std::size_t r = 0; r < 1000; ++r) std::memcpy(z + 4000 * r, x + 4000 * (999 - r), 4000);
       }},
      {"1⌽I",
       [&] {
         const std::uint8_t* x = s.data("I");
         std::memcpy(z, x + 4, 4 * (n - 1));
         std::memcpy(z + 4 * (n - 1), x, 4);
       }},
      {"⌽B",
       [&] {
         // Word by word: the 32 bits ending at each position, bit-reversed.
         const std::uint8_t* b = s.data("B");
         const std::size_t shift = (32 - n % 32) % 32;  // unused bits of the last word
         for (std::size_t w = 0; w < words; ++w) {
           const std::size_t end = 32 * (words - w) - shift;  // one past the last source bit
           const std::size_t first = end >= 32 ? end - 32 : 0;
           std::uint64_t pair = std::uint64_t{load_el<std::uint32_t>(b, first / 32)} << 32;
           if (first % 32) pair |= load_el<std::uint32_t>(b, first / 32 + 1);
           std::uint32_t v = static_cast<std::uint32_t>(pair >> (32 - first % 32));
           if (end < 32) v &= ~(~0u >> end);
           v = ((v >> 1) & 0x55555555u) | ((v & 0x55555555u) << 1);
           v = ((v >> 2) & 0x33333333u) | ((v & 0x33333333u) << 2);
           v = ((v >> 4) & 0x0F0F0F0Fu) | ((v & 0x0F0F0F0Fu) << 4);
           store_el<std::uint32_t>(z, w, __builtin_bswap32(v) << (end < 32 ? 32 - end : 0));
         }
       }},
      {"⍉BM",
       [&] {
         // Bit by bit down the columns, the result written a word at a time.
         const std::uint8_t* b = matrix("BM");
         std::uint32_t word = 0;
         std::size_t k = 0;
         for (std::size_t c = 0; c < 1000; ++c)
           for (std::size_t r = 0; r < 1000; ++r, ++k) {
             const std::size_t i = r * 1000 + c;
             word |= ((load_el<std::uint32_t>(b, i / 32) >> (31 - i % 32)) & 1u) << (31 - k % 32);
             if (k % 32 == 31) {
               store_el<std::uint32_t>(z, k / 32, word);
               word = 0;
             }
           }
       }},
      {"I,J",
       [&] {
         const std::uint8_t *x = s.data("I"), *y = s.data("J");
         for (std::size_t i = 0; i < n; ++i) store_el<std::int32_t>(z, i, load_el<std::int32_t>(x, i));
         for (std::size_t i = 0; i < n; ++i) store_el<std::int32_t>(z, n + i, load_el<std::int32_t>(y, i));
       }},
      {"1↓[1]M", rows(1, 1000, 0, 1000)},
      {"500↑[1]M", rows(0, 500, 0, 1000)},
      {"0 1↓M", rows(0, 1000, 1, 999)},
      {"R2⊤E",
       [&] {
         const std::uint8_t *r = s.data("R2"), *x = s.data("E");
         for (std::size_t j = 0; j < kCoded; ++j) {
           std::int64_t v = load_el<std::int32_t>(x, j);
           for (std::size_t k = 32; k-- > 0;) {
             const std::int64_t q = load_el<std::int32_t>(r, k);
             std::int64_t m = v % q;
             if (m != 0 && (m < 0) != (q < 0)) m += q;
             digits[k * kCoded + j] = static_cast<std::int32_t>(m);
             v = (v - m) / q;
           }
         }
         sink += digits[kCoded - 1];
       }},
      {"2⊥BB",
       [&] {
         const std::uint8_t* b = matrix("BB");
         for (std::size_t j = 0; j < kCoded; ++j) {
           std::int64_t v = 0;
           for (std::size_t k = 0; k < 32; ++k) {
             const std::size_t i = k * kCoded + j;
             v = v * 2 + ((load_el<std::uint32_t>(b, i / 32) >> (31 - i % 32)) & 1);
           }
           store_el<double>(z, j, static_cast<double>(v));
         }
       }},
      {"⊃V",
       [&] {
         // Each item's data straight into its row of the matrix.
         const std::uint8_t* v = s.data("V");
         const std::uint8_t* base = v - 16;
         for (std::size_t i = 0; i < n / 10; ++i) std::memcpy(z + 40 * i, base + load_el<std::uint32_t>(v, i) + 16, 40);
       }},
  };
  std::printf("%s %12s %12s %8s\n", padded("").c_str(), "interpreter", "C++ loop", "ratio");
  for (const Case& c : cases) {
    const double t = s.time_line(std::string("Z←") + c.expr, reps);
    const double b = best_of(reps, [] {}, c.loop);
    std::printf("%s %10.2fms %10.2fms %8.2f\n", padded(c.expr).c_str(), 1e3 * t, 1e3 * b, t / b);
  }

  // X⍳Y on distinct integers (every other one of Y missing from X), next to
  // a plain C++ open-addressed table of the same size doing the same search.
  // The growth from 10⁵ to 10⁶ is shown for both: past the caches each
  // probe costs a memory access, for the loop as for the interpreter.
  double previous = 0, previous_loop = 0;
  for (const std::uint32_t m : {100000u, 1000000u}) {
    s.define("X", ET_INT, m, [&](std::uint8_t* p) {
      for (std::uint32_t i = 0; i < m; ++i) store_el<std::int32_t>(p, i, static_cast<std::int32_t>(i * 2654435761u));
    });
    s.define("Y", ET_INT, m, [&](std::uint8_t* p) {
      for (std::uint32_t i = 0; i < m; ++i) store_el<std::int32_t>(p, i, static_cast<std::int32_t>((m - 1 - i) * 2654435761u + (i % 2)));
    });
    const double t = s.time_line("Z←X⍳Y", reps);
    std::vector<std::uint64_t> table(3ull * m);
    const double b = best_of(reps, [] {}, [&] {
      const std::uint8_t *x = s.data("X"), *y = s.data("Y");
      const std::uint64_t slots = table.size();
      std::fill(table.begin(), table.end(), 0);
      auto slot = [slots](std::uint32_t v) {
        v ^= v >> 16;
        v *= 0x7FEB352Du;
        v ^= v >> 15;
        v *= 0x846CA68Bu;
        v ^= v >> 16;
        return std::uint64_t(v) * slots >> 32;
      };
      for (std::uint32_t i = 0; i < m; ++i) {
        const auto v = load_el<std::uint32_t>(x, i);
        std::uint64_t k = slot(v);
        while (table[k] != 0 && static_cast<std::uint32_t>(table[k]) != v) k = k + 1 == slots ? 0 : k + 1;
        if (table[k] == 0) table[k] = v | std::uint64_t(i + 1) << 32;
      }
      for (std::uint32_t j = 0; j < m; ++j) {
        const auto v = load_el<std::uint32_t>(y, j);
        std::uint64_t k = slot(v);
        while (table[k] != 0 && static_cast<std::uint32_t>(table[k]) != v) k = k + 1 == slots ? 0 : k + 1;
        store_el<std::uint32_t>(z, j, table[k] == 0 ? m + 1 : static_cast<std::uint32_t>(table[k] >> 32));
      }
    });
    std::printf("X⍳Y %-6u %10.2fms %10.2fms %8.2f", m, 1e3 * t, 1e3 * b, t / b);
    if (previous > 0) std::printf("   (×%.1f, loop ×%.1f, for ×10 the length)", t / previous, b / previous_loop);
    std::printf("\n");
    previous = t;
    previous_loop = b;
  }
  if (sink == 42) std::printf(" ");
  return 0;
}
