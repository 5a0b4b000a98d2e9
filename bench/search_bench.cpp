// zema-search-bench: times the searches of ∊ ~ ⍳ ⍷ through the interpreter
// library next to plain C++ doing the same work on the same data, and prints
// each as a ratio to it. Each search runs at two lengths (10⁵ and 10⁶) so
// that its growth shows:
//   X∊Y, X~Y   distinct integers, every other one of X missing from Y, next
//              to an open-addressed table of 3n keys;
//   (⍳N)∊⍳1000 a long left argument against a short table;
//   F⍳G, F∊G   floats, every other one of G missing from F, next to the
//              table's values sorted with their positions and a binary
//              search per probe looking at the values within ⎕CT;
//   'needle'⍷H 10⁷ random letters holding the needle now and then, next to
//              memmem restarted after each match.
// Then the searches short of room: X⍳Y, X∊Y, X~Y on 10⁶ integers, F⍳G on
// 6×10⁵ floats and L⍳R on 2×10⁵ nested pairs, in a 20 MB workspace (whose
// free gap holds only part of the table) against the same search in the
// roomy workspace and against the C++ above (nested: a C++ hash table of
// the pairs).
//
//   zema-search-bench [--quick]     (--quick: 10⁶ characters, 3 runs)
#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <functional>
#include <string>
#include <string.h>
#include <vector>

#include "bench/harness.h"
#include "host/charset.h"

using namespace zema;
using namespace zema::bench;

namespace {

std::uint32_t mix(std::uint32_t v) {
  v ^= v >> 16;
  v *= 0x7FEB352Du;
  v ^= v >> 15;
  v *= 0x846CA68Bu;
  v ^= v >> 16;
  return v;
}

// Binds `name` to a character vector of `count` bytes that `fill` writes.
void define_chars(Session& s, const std::string& name, std::uint32_t count,
                  const std::function<void(std::uint8_t*)>& fill) {
  s.run(name + "←0");
  const std::uint32_t off = getspc(8 + count, s.ws);
  wr8(s.ws, off + obj::Type, ET_CHAR);
  wr8(s.ws, off + obj::Flags9, 0);
  wr16(s.ws, off + obj::Rank4, 4);
  wr32(s.ws, off + obj::Shape, count);
  fill(s.ws + off + 16);
  const std::uint32_t entry = s.symbol(name);
  const std::uint32_t old = rd32(s.ws, entry + sym::Value);
  wr32(s.ws, entry + sym::Value, off);
  set_owner(off, entry, OK_SYMBOL, s.ws);
  mgarb(old, s.ws);
}

struct SortedValue {
  double v;
  std::uint32_t pos;
};

}  // namespace

int main(int argc, char** argv) {
  const RunSize size = run_size(argc, argv);
  const int reps = size.reps;
  Session s(1200u * 1000u * 1000u);
  std::vector<std::uint8_t> out(8ull * 10000000 + 64);
  std::uint8_t* z = out.data();
  std::int64_t sink = 0;

  std::printf("%-22s %12s %12s %8s\n", "", "interpreter", "C++", "ratio");
  auto report = [&](const std::string& what, double t, double b) {
    std::printf("%s %10.2fms %10.2fms %8.2f\n", padded(what, 22).c_str(),
                1e3 * t, 1e3 * b, t / b);
  };

  // Membership of integers through a table of 3n keys (0 kept aside).
  std::vector<std::uint32_t> keys;
  auto member_ints = [&](const std::uint8_t* x, std::uint32_t m, const std::uint8_t* y, std::uint32_t n,
                         auto&& put) {
    const std::uint64_t slots = 3ull * n;
    keys.assign(slots, 0);
    bool zero = false;
    for (std::uint32_t i = 0; i < n; ++i) {
      const auto v = load_el<std::uint32_t>(y, i);
      if (v == 0) {
        zero = true;
        continue;
      }
      std::uint64_t k = std::uint64_t(mix(v)) * slots >> 32;
      while (keys[k] != 0 && keys[k] != v) k = k + 1 == slots ? 0 : k + 1;
      keys[k] = v;
    }
    for (std::uint32_t j = 0; j < m; ++j) {
      const auto v = load_el<std::uint32_t>(x, j);
      bool found = zero;
      if (v != 0) {
        std::uint64_t k = std::uint64_t(mix(v)) * slots >> 32;
        while (keys[k] != 0 && keys[k] != v) k = k + 1 == slots ? 0 : k + 1;
        found = keys[k] == v;
      }
      put(j, found);
    }
  };
  auto set_bits = [&](std::uint32_t j, bool found) {
    if (j % 32 == 0) store_el<std::uint32_t>(z, j / 32, 0);
    if (found) store_el<std::uint32_t>(z, j / 32, load_el<std::uint32_t>(z, j / 32) | (0x80000000u >> (j % 32)));
  };

  for (const std::uint32_t m : {100000u, 1000000u}) {
    s.define("X", ET_INT, m, [&](std::uint8_t* p) {
      for (std::uint32_t i = 0; i < m; ++i) store_el<std::int32_t>(p, i, static_cast<std::int32_t>(i * 2654435761u));
    });
    s.define("Y", ET_INT, m, [&](std::uint8_t* p) {
      for (std::uint32_t i = 0; i < m; ++i)
        store_el<std::int32_t>(p, i, static_cast<std::int32_t>((m - 1 - i) * 2654435761u + (i % 2)));
    });
    const std::string len = std::to_string(m);
    report("X∊Y " + len, s.time_line("Z←X∊Y", reps), best_of(reps, [] {}, [&] {
      member_ints(s.data("X"), m, s.data("Y"), m, set_bits);
    }));
    report("X~Y " + len, s.time_line("Z←X~Y", reps), best_of(reps, [] {}, [&] {
      std::uint32_t k = 0;
      const std::uint8_t* x = s.data("X");
      member_ints(x, m, s.data("Y"), m, [&](std::uint32_t j, bool found) {
        if (!found) store_el<std::int32_t>(z, k++, load_el<std::int32_t>(x, j));
      });
      sink += k;
    }));
    s.run("N←" + len);
    s.define("T", ET_INT, 1000, [&](std::uint8_t* p) {
      for (std::uint32_t i = 0; i < 1000; ++i) store_el<std::int32_t>(p, i, static_cast<std::int32_t>(i + 1));
    });
    report("(⍳N)∊⍳1000 " + len, s.time_line("Z←(⍳N)∊⍳1000", reps), best_of(reps, [] {}, [&] {
      std::vector<std::int32_t> iota(m);
      for (std::uint32_t i = 0; i < m; ++i) iota[i] = static_cast<std::int32_t>(i + 1);
      member_ints(reinterpret_cast<const std::uint8_t*>(iota.data()), m, s.data("T"), 1000, set_bits);
    }));
  }

  // Floats: the table sorted with positions, equal values keeping the first.
  std::vector<SortedValue> sorted;
  auto search_floats = [&](const std::uint8_t* table, std::uint32_t n, const std::uint8_t* probes, std::uint32_t m,
                           bool positions) {
    const double ct = 1e-13;
    sorted.resize(n);
    for (std::uint32_t i = 0; i < n; ++i) sorted[i] = {load_el<double>(table, i), i};
    std::sort(sorted.begin(), sorted.end(), [](const SortedValue& a, const SortedValue& b) {
      return a.v < b.v || (a.v == b.v && a.pos < b.pos);
    });
    std::size_t d = 0;
    for (std::size_t i = 0; i < n; ++i)
      if (d == 0 || sorted[d - 1].v != sorted[i].v) sorted[d++] = sorted[i];
    for (std::uint32_t j = 0; j < m; ++j) {
      const double v = load_el<double>(probes, j), a = std::fabs(v);
      const double lo = v < 0 ? -a / (1 - ct) : a * (1 - ct), hi = v < 0 ? -a * (1 - ct) : a / (1 - ct);
      auto e = std::lower_bound(sorted.begin(), sorted.begin() + static_cast<std::ptrdiff_t>(d), lo,
                                [](const SortedValue& x, double y) { return x.v < y; });
      std::uint32_t found = n;
      for (; e != sorted.begin() + static_cast<std::ptrdiff_t>(d) && e->v <= hi; ++e)
        if (e->pos < found && std::fabs(e->v - v) <= ct * std::max(std::fabs(e->v), a)) found = e->pos;
      if (positions) store_el<std::uint32_t>(z, j, found + 1);
      else set_bits(j, found != n);
    }
  };
  for (const std::uint32_t m : {100000u, 1000000u}) {
    s.define("F", ET_FLOAT, m, [&](std::uint8_t* p) {
      for (std::uint32_t i = 0; i < m; ++i) store_el<double>(p, i, 0.25 * (mix(i) % (4 * m)));
    });
    s.define("G", ET_FLOAT, m, [&](std::uint8_t* p) {
      for (std::uint32_t i = 0; i < m; ++i) store_el<double>(p, i, 0.25 * (mix(m - 1 - i) % (4 * m)) + 0.125 * (i % 2));
    });
    const std::string len = std::to_string(m);
    report("F⍳G " + len, s.time_line("Z←F⍳G", reps), best_of(reps, [] {}, [&] {
      search_floats(s.data("F"), m, s.data("G"), m, true);
    }));
    report("F∊G " + len, s.time_line("Z←F∊G", reps), best_of(reps, [] {}, [&] {
      search_floats(s.data("G"), m, s.data("F"), m, false);
    }));
  }

  // Text: 10⁷ random letters with the needle every 1000 characters or so.
  const std::uint32_t h = size.n;
  const std::string letters = utf8_to_internal("abcdefghijklmnopqrstuvwxyz");
  const std::string needle = utf8_to_internal("needle");
  define_chars(s, "H", h, [&](std::uint8_t* p) {
    for (std::uint32_t i = 0; i < h; ++i) p[i] = static_cast<std::uint8_t>(letters[mix(i) % 26]);
    for (std::uint32_t i = 500; i + needle.size() < h; i += 997) std::memcpy(p + i, needle.data(), needle.size());
  });
  report("'needle'⍷H " + std::to_string(h), s.time_line("Z←'needle'⍷H", reps), best_of(reps, [] {}, [&] {
    const std::uint8_t* hay = s.data("H");
    std::memset(z, 0, (h + 31) / 32 * 4);
    std::size_t at = 0;
    while (const void* p = memmem(hay + at, h - at, needle.data(), needle.size())) {
      const auto k = static_cast<std::size_t>(static_cast<const std::uint8_t*>(p) - hay);
      store_el<std::uint32_t>(z, k / 32, load_el<std::uint32_t>(z, k / 32) | (0x80000000u >> (k % 32)));
      at = k + 1;
    }
  }));
  // Short of room: the same searches in a 20 MB workspace.
  std::printf("\n%-22s %12s %12s %12s %10s %8s\n", "20 MB workspace", "small", "roomy", "C++", "÷roomy", "÷C++");
  auto report_room = [&](const std::string& what, double small, double roomy, double b) {
    std::printf("%s %10.2fms %10.2fms %10.2fms %10.2f %8.2f\n", padded(what, 22).c_str(), 1e3 * small, 1e3 * roomy,
                1e3 * b, small / roomy, small / b);
  };
  {
    constexpr std::uint32_t m = 1000000, mf = 600000, pairs = 200000;
    auto ints = [&](Session& on) {
      on.define("X", ET_INT, m, [&](std::uint8_t* p) {
        for (std::uint32_t i = 0; i < m; ++i) store_el<std::int32_t>(p, i, static_cast<std::int32_t>(i * 2654435761u));
      });
      on.define("Y", ET_INT, m, [&](std::uint8_t* p) {
        for (std::uint32_t i = 0; i < m; ++i)
          store_el<std::int32_t>(p, i, static_cast<std::int32_t>((m - 1 - i) * 2654435761u + (i % 2)));
      });
    };
    auto floats = [&](Session& on) {
      on.run("X←Y←0");
      on.define("F", ET_FLOAT, mf, [&](std::uint8_t* p) {
        for (std::uint32_t i = 0; i < mf; ++i) store_el<double>(p, i, 0.25 * (mix(i) % (4 * mf)));
      });
      on.define("G", ET_FLOAT, mf, [&](std::uint8_t* p) {
        for (std::uint32_t i = 0; i < mf; ++i)
          store_el<double>(p, i, 0.25 * (mix(mf - 1 - i) % (4 * mf)) + 0.125 * (i % 2));
      });
    };
    auto nested = [&](Session& on) {
      on.run("F←G←0");
      on.run("L←(" + std::to_string(pairs) + "?1E9),¨1");
      on.run("R←⌽L");
    };
    Session small(20u << 20);
    const std::string lines[] = {"Z←X⍳Y", "Z←X∊Y", "Z←X~Y", "Z←F⍳G", "Z←L⍳R"};
    double roomy[std::size(lines)], tight[std::size(lines)];
    for (int pass = 0; pass < 2; ++pass) {
      Session& on = pass == 0 ? s : small;
      set_current_apl_task(&on.task);
      ints(on);
      for (int k = 0; k < 3; ++k) (pass == 0 ? roomy : tight)[k] = on.time_line(lines[k], reps);
      floats(on);
      (pass == 0 ? roomy : tight)[3] = on.time_line(lines[3], reps);
      nested(on);
      (pass == 0 ? roomy : tight)[4] = on.time_line(lines[4], reps);
      if (pass == 1) {
        on.run("→(Z≡⌽⍳⍴L)/0 ⋄ 'wrong nested answers'");
        on.run("Z←0");
      }
    }
    set_current_apl_task(&s.task);
    ints(s);
    std::vector<std::uint32_t> pos(m);
    const double c_index = best_of(reps, [] {}, [&] {
      member_ints(s.data("Y"), m, s.data("X"), m, [&](std::uint32_t j, bool found) { pos[j] = found; });
    });
    const double c_member = best_of(reps, [] {}, [&] {
      member_ints(s.data("X"), m, s.data("Y"), m, set_bits);
    });
    const double c_without = best_of(reps, [] {}, [&] {
      std::uint32_t k = 0;
      const std::uint8_t* x = s.data("X");
      member_ints(x, m, s.data("Y"), m, [&](std::uint32_t j, bool found) {
        if (!found) store_el<std::int32_t>(z, k++, load_el<std::int32_t>(x, j));
      });
      sink += k;
    });
    floats(s);
    const double c_floats = best_of(reps, [] {}, [&] { search_floats(s.data("F"), mf, s.data("G"), mf, true); });
    // Pairs (v, 1) against the same reversed: a table of the values.
    std::vector<std::int32_t> lv(pairs);
    for (std::uint32_t i = 0; i < pairs; ++i) lv[i] = static_cast<std::int32_t>(mix(i) % 1000000000u + 1);
    const double c_nested = best_of(reps, [] {}, [&] {
      std::vector<std::uint32_t> at(3ull * pairs, 0), key(3ull * pairs, 0);
      const std::uint64_t slots = 3ull * pairs;
      for (std::uint32_t i = 0; i < pairs; ++i) {
        std::uint64_t k = std::uint64_t(mix(static_cast<std::uint32_t>(lv[i]))) * slots >> 32;
        while (at[k] != 0 && key[k] != static_cast<std::uint32_t>(lv[i])) k = k + 1 == slots ? 0 : k + 1;
        if (at[k] == 0) at[k] = i + 1, key[k] = static_cast<std::uint32_t>(lv[i]);
      }
      for (std::uint32_t j = 0; j < pairs; ++j) {
        const auto v = static_cast<std::uint32_t>(lv[pairs - 1 - j]);
        std::uint64_t k = std::uint64_t(mix(v)) * slots >> 32;
        while (at[k] != 0 && key[k] != v) k = k + 1 == slots ? 0 : k + 1;
        pos[j] = at[k] != 0 ? at[k] : pairs + 1;
      }
      sink += pos[7];
    });
    const double c[] = {c_index, c_member, c_without, c_floats, c_nested};
    for (std::size_t k = 0; k < std::size(lines); ++k) {
      const char* length[] = {" 1000000", " 1000000", " 1000000", " 600000", " 200000"};
      const std::string what = lines[k].substr(std::string("Z←").size()) + length[k];
      report_room(what, tight[k], roomy[k], c[k]);
    }
  }
  if (sink == 42) std::printf(" ");
  return 0;
}
