// zema-instances-bench: creating and releasing APL instances through the
// interpreter (⎕NEW¨ over a vector of class names, then the vector
// released), in nanoseconds per instance, next to a plain C++ loop that
// allocates and frees as many 84-byte objects each holding a count.
//
//   zema-instances-bench [--quick]
//
// 10⁶ instances (10⁵ with --quick). The pool grows by half again, so
// creation copies the slot table a logarithmic number of times: the time
// per instance stays flat as the count grows.
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "bench/harness.h"
#include "interpreter/engine/classes.h"
#include "interpreter/workspace/errors.h"
#include "interpreter/workspace/heap.h"
#include "interpreter/workspace/object_pool.h"

using namespace zema;
using namespace zema::bench;

namespace {

struct Plain {
  std::uint32_t count = 0;
  std::uint8_t rest[80] = {};
};

}  // namespace

int main(int argc, char** argv) {
  const bool quick = argc > 1 && std::string(argv[1]) == "--quick";
  const std::uint32_t n = quick ? 100000u : 1000000u;
  const int reps = quick ? 3 : 5;
  Session s(512u * 1024u * 1024u);
  // The class made as class-definition mode makes it (the bench task has
  // no definition routes).
  {
    const std::string name = utf8_to_internal("Pt");
    std::memcpy(s.ws + kNameBuffer, name.data(), name.size());
    std::uint32_t first_free = 0, found = 0;
    const auto len = static_cast<std::uint32_t>(name.size());
    if (symfnd(first_free, found, len, s.ws) != 0) found = syment(first_free, len, s.ws);
    try {
      if (create_empty_class(static_cast<std::uint16_t>(token_of_table_offset(found)), 0, 0, false, s.ws) != 0)
        return 1;
    } catch (const AplError& e) {
      std::fprintf(stderr, "class: error %d\n", e.code);
      return 1;
    }
  }
  s.run("N←" + std::to_string(n) + "⍴⊂'Pt'");
  const std::string make = "Z←⎕NEW¨N";
  const double create = best_of(reps, [&] {
    s.run("Z←0");
    force_gcol(s.ws);
  }, [&] { s.run(make); });
  const double release = best_of(reps, [&] {
    s.run(make);
  }, [&] {
    s.run("Z←0");
    force_gcol(s.ws);
  });
  const std::uint32_t capacity = rd32(s.ws, object_pool(s.ws) + pool::Capacity);
  const double plain = best_of(reps, [] {}, [&] {
    std::vector<std::unique_ptr<Plain>> v(n);
    for (auto& p : v) {
      p = std::make_unique<Plain>();
      p->count = 1;
    }
    for (auto& p : v) p.reset();
  });
  std::printf("%u instances\n", n);
  std::printf("%s %8.1f ns each\n", padded("⎕NEW¨").c_str(), 1e9 * create / n);
  std::printf("%s %8.1f ns each\n", padded("release").c_str(), 1e9 * release / n);
  std::printf("%s %8.1f ns each (new and delete of 84 bytes)\n", padded("plain C++").c_str(), 1e9 * plain / n);
  std::printf("ratio (create + release) / plain: %.1f; pool capacity after release %u\n", (create + release) / plain,
              capacity);
  return 0;
}
