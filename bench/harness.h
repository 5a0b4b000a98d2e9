// The harness shared by the benchmarks: a workspace with a silent session,
// lines run through the interpreter library, variables bound to data written
// directly, and the best-of-n timer.
#pragma once

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "host/charset.h"
#include "host/task.h"
#include "interpreter/session/life.h"
#include "interpreter/workspace/entry.h"
#include "interpreter/workspace/heap.h"
#include "interpreter/engine/line.h"
#include "interpreter/workspace/symtab.h"
#include "interpreter/workspace/workspace.h"

namespace zema::bench {

using Clock = std::chrono::steady_clock;

class BenchTask : public APLTask {
 public:
  std::string output;
  void WriteOutput(const char* text, std::size_t n) override { output.append(text, n); }
  void FlushOutput() override {}
  Input ReadInputLine(std::string&) override { return Input::Ended; }
  int GetOneKeystroke() override { return 3; }
  std::uint32_t ReAllocateTaskMemory(std::uint32_t, std::uint8_t**) override { return 0; }
  [[noreturn]] void EndAPLTask() override { std::exit(0); }
};

struct Session {
  std::vector<std::uint8_t> memory;
  Ws ws;
  BenchTask task;

  explicit Session(std::uint32_t bytes) : memory(bytes) {
    set_current_apl_task(&task);
    ws = apl_setup(memory.data(), bytes, "", 1);
    clear_workspace(ws);
  }

  void run(const std::string& line) {
    task.output.clear();
    const std::string text = utf8_to_internal(line);
    run_input_line(text.data(), static_cast<int>(text.size()), ws);
    if (!task.output.empty()) {
      std::fprintf(stderr, "%s\n%s\n", line.c_str(), internal_to_utf8(task.output).c_str());
      std::exit(1);
    }
  }

  // Types `lines` (a definition to the ∇ editor, say), their output and
  // prompts dropped.
  void type(const std::vector<std::string>& lines) {
    for (const std::string& l : lines) {
      const std::string text = utf8_to_internal(l);
      run_input_line(text.data(), static_cast<int>(text.size()), ws);
      wr16(ws, hdr::OutColumn, 0);
    }
    task.output.clear();
  }

  std::uint32_t symbol(const std::string& name) {
    const std::string text = utf8_to_internal(name);
    std::memcpy(ws + kNameBuffer, text.data(), text.size());
    std::uint32_t first_free = 0, found = 0;
    if (symfnd(first_free, found, static_cast<std::uint32_t>(text.size()), ws) != 0) std::abort();
    return entry_of_table_offset(found);
  }

  // Binds `name` to a new vector of `count` elements of `type` whose data
  // `fill` writes; answers the data's address.
  std::uint8_t* define(const std::string& name, std::uint8_t type, std::uint32_t count,
                       const std::function<void(std::uint8_t*)>& fill) {
    run(name + "←0");
    const std::uint32_t bytes = type == ET_BOOL ? 4 * ((count + 31) / 32) : type == ET_FLOAT ? 8 * count : 4 * count;
    const std::uint32_t off = getspc(8 + bytes, ws);
    wr8(ws, off + obj::Type, type);
    wr8(ws, off + obj::Flags9, 0);
    wr16(ws, off + obj::Rank4, 4);
    wr32(ws, off + obj::Shape, count);
    fill(ws + off + 16);
    const std::uint32_t entry = symbol(name);
    const std::uint32_t old = rd32(ws, entry + sym::Value);
    wr32(ws, entry + sym::Value, off);
    set_owner(off, entry, OK_SYMBOL, ws);
    mgarb(old, ws);
    return ws + off + 16;
  }
  // The data of a variable (it moves only when the heap is compacted).
  std::uint8_t* data(const std::string& name) { return ws + rd32(ws, symbol(name) + sym::Value) + 16; }

  // The best time of `reps` runs of `line`, run once first; before each run
  // Z is released and the heap compacted.
  double time_line(const std::string& line, int reps);
};

// `text` padded with blanks to `width` columns (printf counts the bytes of
// the glyphs, not their columns).
inline std::string padded(const std::string& text, std::size_t width = 10) {
  std::size_t columns = 0;
  for (unsigned char c : text) columns += (c & 0xC0) != 0x80;
  return text + std::string(columns < width ? width - columns : 0, ' ');
}

// The size of a run: 10⁷ elements and 7 repetitions, or with --quick 10⁶
// and 3.
struct RunSize {
  bool quick;
  std::uint32_t n;
  int reps;
};
inline RunSize run_size(int argc, char** argv) {
  const bool quick = argc > 1 && std::string(argv[1]) == "--quick";
  return {quick, quick ? 1000000u : 10000000u, quick ? 3 : 7};
}

inline double best_of(int reps, const std::function<void()>& before, const std::function<void()>& work) {
  double best = 1e30;
  for (int r = 0; r < reps; ++r) {
    before();
    const auto t0 = Clock::now();
    work();
    const double s = std::chrono::duration<double>(Clock::now() - t0).count();
    best = std::min(best, s);
  }
  return best;
}

inline double Session::time_line(const std::string& line, int reps) {
  run(line);
  return best_of(reps, [&] {
    run("Z←0");
    force_gcol(ws);
  }, [&] { run(line); });
}

template <class T>
inline T load_el(const std::uint8_t* p, std::size_t i) {
  T v;
  std::memcpy(&v, p + sizeof(T) * i, sizeof(T));
  return v;
}
template <class T>
inline void store_el(std::uint8_t* p, std::size_t i, T v) {
  std::memcpy(p + sizeof(T) * i, &v, sizeof(T));
}


}  // namespace zema::bench
