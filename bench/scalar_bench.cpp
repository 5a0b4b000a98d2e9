// zema-bench: times scalar functions through the interpreter library next
// to plain C++ loops doing the same work on the same data, and prints each
// as a ratio to its loop.
//
//   zema-bench [--quick]
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
  const bool quick = size.quick;
  const std::uint32_t n = size.n;
  const int reps = size.reps;
  Session s(1200u * 1000u * 1000u);

  s.define("I", ET_INT, n, [&](std::uint8_t* p) {
    for (std::uint32_t i = 0; i < n; ++i) store_el<std::int32_t>(p, i, static_cast<std::int32_t>(i * 7919u % 2001u) - 1000);
  });
  s.define("J", ET_INT, n, [&](std::uint8_t* p) {
    for (std::uint32_t i = 0; i < n; ++i) store_el<std::int32_t>(p, i, static_cast<std::int32_t>(i * 104729u % 2001u) - 1000);
  });
  s.define("F", ET_FLOAT, n, [&](std::uint8_t* p) {
    for (std::uint32_t i = 0; i < n; ++i) store_el<double>(p, i, (i * 7919u % 2001u) * 0.5 - 500.25);
  });
  s.define("G", ET_FLOAT, n, [&](std::uint8_t* p) {
    for (std::uint32_t i = 0; i < n; ++i) store_el<double>(p, i, (i * 104729u % 2001u) * 0.5 - 500.25);
  });
  const std::uint32_t words = (n + 31) / 32;
  s.define("B", ET_BOOL, n, [&](std::uint8_t* p) {
    for (std::uint32_t i = 0; i < words; ++i) store_el<std::uint32_t>(p, i, i * 2654435761u);
  });
  s.define("C", ET_BOOL, n, [&](std::uint8_t* p) {
    for (std::uint32_t i = 0; i < words; ++i) store_el<std::uint32_t>(p, i, i * 40503u + 0x9E3779B9u);
  });

  // Reductions: ±1 integers and floats near 1 keep products finite; all
  // ones and all zeros make ∧/ and ∨/ read every word.
  s.define("K", ET_INT, n, [&](std::uint8_t* p) {
    for (std::uint32_t i = 0; i < n; ++i) store_el<std::int32_t>(p, i, (i * 7919u % 13u) < 6 ? -1 : 1);
  });
  s.define("H", ET_FLOAT, n, [&](std::uint8_t* p) {
    for (std::uint32_t i = 0; i < n; ++i) store_el<double>(p, i, 1.0 + ((i * 7919u % 2001u) - 1000.0) * 1e-9);
  });
  s.define("T", ET_BOOL, n, [&](std::uint8_t* p) {
    for (std::uint32_t i = 0; i < words; ++i) store_el<std::uint32_t>(p, i, 0xFFFFFFFFu);
  });
  s.define("E", ET_BOOL, n, [&](std::uint8_t* p) {
    for (std::uint32_t i = 0; i < words; ++i) store_el<std::uint32_t>(p, i, 0);
  });

  std::vector<std::uint8_t> out(8ull * n + 64);
  std::uint8_t* z = out.data();
  double ct = 1e-13;

  struct Case {
    const char* expr;
    std::function<void()> loop;
  };
  auto ints = [&](auto op) {
    return [&, op] {
      const std::uint8_t *x = s.data("I"), *y = s.data("J");
      for (std::size_t i = 0; i < n; ++i) store_el<std::int32_t>(z, i, op(load_el<std::int32_t>(x, i), load_el<std::int32_t>(y, i)));
    };
  };
  auto floats = [&](auto op) {
    return [&, op] {
      const std::uint8_t *x = s.data("F"), *y = s.data("G");
      for (std::size_t i = 0; i < n; ++i) store_el<double>(z, i, op(load_el<double>(x, i), load_el<double>(y, i)));
    };
  };
  // 32 results to a word, the first in the top bit.
  auto packed = [&](const char* a, const char* b, auto get, auto rel) {
    return [&, a, b, get, rel] {
      const std::uint8_t *x = s.data(a), *y = s.data(b);
      for (std::size_t w = 0; w < n / 32; ++w) {
        std::uint32_t bits = 0;
        for (std::size_t j = 0; j < 32; ++j) bits = (bits << 1) | rel(get(x, 32 * w + j), get(y, 32 * w + j));
        store_el<std::uint32_t>(z, w, bits);
      }
    };
  };
  const std::vector<Case> cases = {
      {"I+J", ints([](std::int32_t a, std::int32_t b) { return a + b; })},
      {"I×J", ints([](std::int32_t a, std::int32_t b) { return a * b; })},
      {"I=J", packed("I", "J", [](const std::uint8_t* p, std::size_t i) { return load_el<std::int32_t>(p, i); }, [](std::int32_t a, std::int32_t b) { return std::uint32_t(a == b); })},
      {"I⌈J", ints([](std::int32_t a, std::int32_t b) { return std::max(a, b); })},
      {"I+1",
       [&] {
         const std::uint8_t* x = s.data("I");
         for (std::size_t i = 0; i < n; ++i) store_el<std::int32_t>(z, i, load_el<std::int32_t>(x, i) + 1);
       }},
      {"F+G", floats([](double a, double b) { return a + b; })},
      {"F×G", floats([](double a, double b) { return a * b; })},
      {"F=G", packed("F", "G", [](const std::uint8_t* p, std::size_t i) { return load_el<double>(p, i); },
                     [&](double a, double b) {
                       return std::uint32_t(a == b || std::fabs(a - b) <= ct * std::max(std::fabs(a), std::fabs(b)));
                     })},
      {"F⌈G", floats([](double a, double b) { return std::max(a, b); })},
      {"F+1",
       [&] {
         const std::uint8_t* x = s.data("F");
         for (std::size_t i = 0; i < n; ++i) store_el<double>(z, i, load_el<double>(x, i) + 1.0);
       }},
      {"⌊F",
       [&] {
         const std::uint8_t* x = s.data("F");
         for (std::size_t i = 0; i < n; ++i) store_el<std::int32_t>(z, i, static_cast<std::int32_t>(std::floor(load_el<double>(x, i))));
       }},
      {"⌈F",
       [&] {
         const std::uint8_t* x = s.data("F");
         for (std::size_t i = 0; i < n; ++i) store_el<std::int32_t>(z, i, static_cast<std::int32_t>(std::ceil(load_el<double>(x, i))));
       }},
      {"G|F", floats([](double a, double b) { return a - b * std::floor(a / b); })},
      {"*F÷100",
       [&] {
         const std::uint8_t* x = s.data("F");
         for (std::size_t i = 0; i < n; ++i) store_el<double>(z, i, load_el<double>(x, i) / 100.0);
         for (std::size_t i = 0; i < n; ++i) store_el<double>(z, i, std::exp(load_el<double>(z, i)));
       }},
      {"¯5○F",
       [&] {
         const std::uint8_t* x = s.data("F");
         for (std::size_t i = 0; i < n; ++i) store_el<double>(z, i, std::asinh(load_el<double>(x, i)));
       }},
      {"¯4○F×4",
       [&] {
         const std::uint8_t* x = s.data("F");
         for (std::size_t i = 0; i < n; ++i) store_el<double>(z, i, load_el<double>(x, i) * 4.0);
         for (std::size_t i = 0; i < n; ++i) {
           const double v = load_el<double>(z, i);
           store_el<double>(z, i, std::sqrt(v * v - 1.0));
         }
       }},
      {"~B",
       [&] {
         const std::uint8_t* x = s.data("B");
         for (std::size_t i = 0; i < words; ++i) store_el<std::uint32_t>(z, i, ~load_el<std::uint32_t>(x, i));
       }},
      {"B∧C",
       [&] {
         const std::uint8_t *x = s.data("B"), *y = s.data("C");
         for (std::size_t i = 0; i < words; ++i) store_el<std::uint32_t>(z, i, load_el<std::uint32_t>(x, i) & load_el<std::uint32_t>(y, i));
       }},
      // Reductions right to left, as the interpreter defines them.
      {"+/I",
       [&] {
         const std::uint8_t* x = s.data("I");
         std::int64_t acc = 0;
         for (std::size_t i = n; i-- > 0;) acc += load_el<std::int32_t>(x, i);
         store_el<std::int32_t>(z, 0, static_cast<std::int32_t>(acc));
       }},
      {"×/K",
       [&] {
         const std::uint8_t* x = s.data("K");
         std::int32_t acc = 1;
         for (std::size_t i = n; i-- > 0;) acc *= load_el<std::int32_t>(x, i);
         store_el<std::int32_t>(z, 0, acc);
       }},
      {"⌈/I",
       [&] {
         const std::uint8_t* x = s.data("I");
         std::int32_t acc = load_el<std::int32_t>(x, n - 1);
         for (std::size_t i = 0; i < n; ++i) acc = std::max(acc, load_el<std::int32_t>(x, i));
         store_el<std::int32_t>(z, 0, acc);
       }},
      {"+/F",
       [&] {
         const std::uint8_t* x = s.data("F");
         double acc = load_el<double>(x, n - 1);
         for (std::size_t i = n - 1; i-- > 0;) acc = load_el<double>(x, i) + acc;
         store_el<double>(z, 0, acc);
       }},
      {"×/H",
       [&] {
         const std::uint8_t* x = s.data("H");
         double acc = load_el<double>(x, n - 1);
         for (std::size_t i = n - 1; i-- > 0;) acc = load_el<double>(x, i) * acc;
         store_el<double>(z, 0, acc);
       }},
      {"⌈/F",
       [&] {
         const std::uint8_t* x = s.data("F");
         double acc = load_el<double>(x, n - 1);
         for (std::size_t i = 0; i < n; ++i) acc = std::max(acc, load_el<double>(x, i));
         store_el<double>(z, 0, acc);
       }},
      {"+/B",
       [&] {
         const std::uint8_t* x = s.data("B");
         std::int64_t acc = 0;
         for (std::size_t i = 0; i < words; ++i) acc += __builtin_popcount(load_el<std::uint32_t>(x, i));
         store_el<std::int32_t>(z, 0, static_cast<std::int32_t>(acc));
       }},
      {"∧/T",
       [&] {
         const std::uint8_t* x = s.data("T");
         std::uint32_t all = 1;
         for (std::size_t i = 0; i < words && all; ++i) all = load_el<std::uint32_t>(x, i) == 0xFFFFFFFFu;
         store_el<std::uint32_t>(z, 0, all);
       }},
      {"∨/E",
       [&] {
         const std::uint8_t* x = s.data("E");
         std::uint32_t any = 0;
         for (std::size_t i = 0; i < words && !any; ++i) any = load_el<std::uint32_t>(x, i) != 0;
         store_el<std::uint32_t>(z, 0, any);
       }},
      {"+\\I",
       [&] {
         const std::uint8_t* x = s.data("I");
         std::int32_t acc = 0;
         for (std::size_t i = 0; i < n; ++i) store_el<std::int32_t>(z, i, acc += load_el<std::int32_t>(x, i));
       }},
      {"+\\F",
       [&] {
         const std::uint8_t* x = s.data("F");
         double acc = 0;
         for (std::size_t i = 0; i < n; ++i) store_el<double>(z, i, acc += load_el<double>(x, i));
       }},
      {"+\\B",
       [&] {
         const std::uint8_t* x = s.data("B");
         std::int32_t acc = 0;
         for (std::size_t i = 0; i < n; ++i)
           store_el<std::int32_t>(z, i, acc += (load_el<std::uint32_t>(x, i / 32) >> (31 - i % 32)) & 1);
       }},
  };

  std::printf("%s %12s %12s %8s\n", padded("").c_str(), "interpreter", "C++ loop", "ratio");
  for (const Case& c : cases) {
    const std::string line = std::string("Z←") + c.expr;
    s.run(line);  // warm the result's pages
    const double t = best_of(reps, [&] {
      s.run("Z←0");
      force_gcol(s.ws);
    }, [&] { s.run(line); });
    const double b = best_of(reps, [] {}, c.loop);
    std::printf("%s %10.2fms %10.2fms %8.2f\n", padded(c.expr).c_str(), 1e3 * t, 1e3 * b, t / b);
  }

  // Interpreter overhead: a long chain of scalar operations on scalars
  // (+ − ⌈, so that the values stay small integers).
  constexpr int kOps = 100;
  std::string chain = "Z←1";
  for (int i = 0; i < kOps; ++i) chain += (i % 3 == 0 ? "+" : i % 3 == 1 ? "-" : "⌈") + std::to_string(i % 7 + 1);
  volatile std::int32_t one = 1;
  std::int64_t sink = 0;
  auto chain_loop = [&] {
    // The same operations from the right, as APL evaluates them.
    std::int32_t acc = (kOps - 1) % 7 + one;
    for (int i = kOps - 2; i >= -1; --i) {
      const std::int32_t v = i < 0 ? one : i % 7 + one;
      const int op = (i + 1) % 3;
      acc = op == 0 ? v + acc : op == 1 ? v - acc : std::max(v, acc);
    }
    sink += acc;
  };
  const int chain_reps = quick ? 200 : 2000;
  const double t = best_of(5, [] {}, [&] {
    for (int r = 0; r < chain_reps; ++r) s.run(chain);
  });
  const double b = best_of(5, [] {}, [&] {
    for (int r = 0; r < chain_reps; ++r) chain_loop();
  });
  std::printf("%s %10.2fus %10.4fus %8.0f   (%d operations a line: %.0f ns each)\n", padded("chain").c_str(), 1e6 * t / chain_reps,
              1e6 * b / chain_reps, t / b, kOps, 1e9 * t / chain_reps / kOps);
  if (sink == 42) std::printf(" ");
  return 0;
}
