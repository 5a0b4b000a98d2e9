// zema-repeat-bench: the cost of a kernel repeated in a loop against the cost
// of one run. A defined function assigns the kernel's result to a global
// name N times:
//   ∇REP_k N;I
//   :For I :In ⍳N
//   Y←kernel
//   :EndFor
// and the bench prints the time of REP_k 1, of REP_k 10 per repetition and
// their ratio (1 when each of ten runs costs what one does), for the kernels
// Y←X,X and Y←(2×n)⍴X over an integer X of n elements, in a roomy workspace
// and in one that holds only a few results, and the same ten assignments
// typed as ten lines against one. One run is timed with Y holding an earlier
// result, as in the loop, and with Y←0 before it (the new result then lands
// in the memory the old one left, warm in the caches: a loop's results need
// two places, as the old value lives until the new one is assigned). Next to
// them, plain C++ copying the same bytes, for scale.
//
//   zema-repeat-bench [--quick]     (--quick: n = 10⁶, 3 runs; else 5×10⁶, 7)
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "bench/harness.h"
#include "interpreter/session/definition.h"

using namespace zema;
using namespace zema::bench;

int main(int argc, char** argv) {
  const RunSize size = run_size(argc, argv);
  const std::uint32_t n = size.quick ? 1000000u : 5000000u;
  const int reps = size.reps;
  install_definition_routes();
  const std::uint64_t result_bytes = 8ull * n;  // 2n integers
  std::vector<std::int32_t> out(2ull * n);
  std::int64_t sink = 0;

  std::printf("%-26s %9s %9s %11s %8s %8s %9s\n", "", "one", "one, Y←0", "each of 10", "÷one", "÷Y←0", "C++");
  struct Kernel {
    const char* name;
    std::string text;
  };
  const std::string twice = std::to_string(2ull * n);
  const Kernel kernels[] = {{"Y←X,X", "X,X"}, {"Y←(2n)⍴X", twice + "⍴X"}};
  // Roomy: 1.2 GB. Tight: X, the live Y, the new result and half a result more.
  const struct {
    const char* name;
    std::uint64_t bytes;
  } rooms[] = {{"roomy", 1200ull << 20}, {"tight", 4 * n + 2 * result_bytes + result_bytes / 2 + (4u << 20)}};
  for (const auto& room : rooms) {
    Session s(static_cast<std::uint32_t>(room.bytes));
    s.define("X", ET_INT, n, [&](std::uint8_t* p) {
      for (std::uint32_t i = 0; i < n; ++i) store_el<std::int32_t>(p, i, static_cast<std::int32_t>(i * 7919u));
    });
    for (std::size_t k = 0; k < std::size(kernels); ++k) {
      const std::string fn = "REP" + std::to_string(k);
      s.type({"∇" + fn + " N;I", ":For I :In ⍳N", "Y←" + kernels[k].text, ":EndFor", "∇"});
      const std::string line = "Y←" + kernels[k].text;
      // Y holds an earlier result before each run (as in the loop), or
      // Y←0 and the heap compacted before each run, so that the result
      // lands where the old one lay.
      auto timed = [&](const std::string& what, bool emptied, int times) {
        s.run(what);
        return best_of(reps, [&] {
          s.run(line);
          if (emptied) s.run("Y←0");
          force_gcol(s.ws);
        }, [&] {
          for (int r = 0; r < times; ++r) s.run(what);
        }) / times;
      };
      const double c = best_of(reps, [] {}, [&] {
        const std::uint8_t* x = s.data("X");
        // Both kernels' results are X twice over.
        std::memcpy(out.data(), x, 4ull * n);
        std::memcpy(out.data() + n, x, 4ull * n);
        sink += out[n + 3];
      });
      // In a defined function's loop; then typed as ten lines against one.
      const struct {
        std::string how, one, ten;
        int times;
      } ways[] = {{" loop, ", fn + " 1", fn + " 10", 1}, {" lines, ", line, line, 10}};
      for (const auto& w : ways) {
        const double one = timed(w.one, false, 1);
        const double emptied = timed(w.one, true, 1);
        const double each = w.times == 1 ? timed(w.ten, false, 1) / 10 : timed(w.ten, false, 10);
        const std::string what = std::string(kernels[k].name) + w.how + room.name;
        std::printf("%s %7.2fms %7.2fms %9.2fms %8.2f %8.2f %7.2fms\n", padded(what, 26).c_str(), 1e3 * one,
                    1e3 * emptied, 1e3 * each, each / one, each / emptied, 1e3 * c);
      }
    }
  }
  return sink == 42 ? 1 : 0;
}
