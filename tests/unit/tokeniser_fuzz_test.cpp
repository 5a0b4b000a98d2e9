// Bounded, seeded random lines through the tokeniser: arbitrary bytes and
// mutations of valid lines, in the short and long statement forms, in
// fix-from-text and transfer-file states, in a roomy and in a cramped
// workspace. Every line must tokenise or end in an entry error, and the
// workspace must give back all it lent: the heap stays consistent, and the
// heap top and the symbol table's entries and use counts return to where
// they were.
#include <gtest/gtest.h>

#include <cstdint>
#include <iterator>
#include <map>
#include <random>
#include <string>
#include <vector>

#include "host/charset.h"
#include "interpreter/reader/entry_errors.h"
#include "interpreter/workspace/errors.h"
#include "interpreter/workspace/heap.h"
#include "interpreter/workspace/symtab.h"
#include "interpreter/reader/tokeniser.h"
#include "test_workspace.h"

namespace zema {
namespace {

using Bytes = std::vector<std::uint8_t>;
using test::TestWorkspace;

constexpr int kRandomLines = 20000;
constexpr int kMutatedLines = 20000;
constexpr std::size_t kMaxLine = 200;

const char* const kValidLines[] = {
    "X←1 2 3",
    "A:If X",
    "A: :If X ⋄ :EndIf",
    "Z←⍳10 ⋄ ⍝ comment",
    "'It''s' \"dq\" ⍬",
    "1¯2 1 ¯2 0.5 1E5 ¯1.25E¯3 2147483648 ¯2147483649",
    "⎕IO←0 ⋄ ⎕NL 2 ⋄ ⎕ABCDEFGHIJKL ⋄ ⎕ ⋄ ⎕a",
    "∇Z←F X",
    "LONG_NAME_NUMBER_ONE LONG_NAME_NUMBER_TWO $x ∆y ⍙z",
    "+.× ≡ ⌷ [1] ÷ ⊃ ↑",
    ":For I :In ⍳N ⋄ :Leave ⋄ :EndFor",
    ")LOAD WS",
    "   X⋄⋄Y ⋄",
    "1 0 1 0 1 1 1 0 0 0 1 1 1 0 1 0 1 0 1 1 0 1 1 1 0 1 0 0 1 1 1 0 1",
    "F[2]",
};

// Characters that steer the tokeniser, drawn more often than chance would;
// those that end or reroute a line are drawn rarely.
const std::string& common_chars() {
  static const std::string a = utf8_to_internal("0123456789¯.eE '\"⋄[]⎕$_∆⍙ABCXYZabcxyz⍬≡⌷+←\t") +
                               std::string("\x00\x01\x08\x0A\x0D\x80\xA0\xD7\xFF", 9);
  return a;
}
const std::string& rare_chars() {
  static const std::string a = utf8_to_internal("∇⍫⍝:)");
  return a;
}

class Fuzzer {
 public:
  Fuzzer(Ws ws, std::uint32_t seed) : ws_(ws), rng_(seed) {
    for (const char* line : kValidLines) corpus_.push_back(utf8_to_internal(line));
  }

  // Uniform bytes, biased characters, or a soup of plausible tokens.
  std::string random_line(bool soup_only = false) {
    const std::size_t length = pick(kMaxLine + 1);
    std::string s;
    switch (soup_only ? 2 : pick(3)) {
      case 0:
        while (s.size() < length) s.push_back(static_cast<char>(pick(256)));
        break;
      case 1:
        while (s.size() < length) s.push_back(some_char());
        break;
      default:
        while (s.size() < length) {
          s += token();
          if (coin(2, 3)) s.push_back(' ');
        }
    }
    if (s.size() > kMaxLine) s.resize(kMaxLine);
    return s;
  }

  std::string mutated_line() {
    std::string s = corpus_[pick(corpus_.size())];
    const int edits = 1 + static_cast<int>(pick(4));
    for (int k = 0; k < edits; ++k) {
      const std::size_t at = s.empty() ? 0 : pick(s.size() + 1);
      switch (pick(5)) {
        case 0:  // replace a byte
          if (!s.empty()) s[at % s.size()] = some_char();
          break;
        case 1:  // insert a byte
          s.insert(at, 1, some_char());
          break;
        case 2:  // delete a run
          if (!s.empty()) s.erase(at % s.size(), 1 + pick(4));
          break;
        case 3:  // splice in part of another line
        {
          const std::string& other = corpus_[pick(corpus_.size())];
          const std::size_t from = pick(other.size());
          s.insert(at, other.substr(from, pick(other.size() - from + 1)));
          break;
        }
        default:  // repeat a slice
          if (!s.empty()) {
            const std::size_t from = pick(s.size());
            s.insert(at, s.substr(from, pick(20)));
          }
      }
    }
    if (s.size() > kMaxLine) s.resize(kMaxLine);
    return s;
  }

  // Runs one line in a random state; answers false (with a failure
  // recorded) when the workspace is left inconsistent.
  bool run(const std::string& line) {
    std::uint16_t state = st::NotFunctionLine;
    if (coin(1, 4)) state |= st::ExecuteRunning;
    if (coin(1, 8)) state |= st::FixingText;
    wr16(ws_, hdr::State, state);
    wr8(ws_, hdr::ResultBits, coin(1, 8) ? kTransferFile : 0);
    wr16(ws_, hdr::LexState, 0);
    try {
      const int r = lexcal(reinterpret_cast<const std::uint8_t*>(line.data()), static_cast<std::uint32_t>(line.size()), ws_);
      EXPECT_TRUE(r == 0 || r == 4 || r == 12) << "result " << r;
      ++(r == 4 ? tokenised : routed);
    } catch (const EntryAbandoned& e) {
      ++abandoned;
      ++errors[e.code];
    } catch (const AplError& e) {
      ADD_FAILURE() << "execution error " << e.code << " while tokenising";
      return false;
    }
    if (rd32(ws_, hdr::KillSlot) != 0) {
      const std::uint32_t line_at = rd32(ws_, hdr::KillSlot);
      const std::uint32_t size = rd32(ws_, line_at + tl::Size);
      if (size % 4 != 0 || line_at + size + 4 > rd32(ws_, hdr::HeapTop)) {
        ADD_FAILURE() << "unfinished token line left in the kill slot";
        return false;
      }
    }
    if (!heap_consistent(ws_)) {
      ADD_FAILURE() << "heap inconsistent";
      return false;
    }
    if (rd32(ws_, hdr::TokenAreaLimit) != rd32(ws_, hdr::StackPointer)) {
      ADD_FAILURE() << "name objects left above the heap";
      return false;
    }
    return true;
  }

  int tokenised = 0, routed = 0, abandoned = 0;
  std::map<int, int> errors;  // entry errors by code

 private:
  std::size_t pick(std::size_t n) { return n == 0 ? 0 : std::uniform_int_distribution<std::size_t>(0, n - 1)(rng_); }
  bool coin(int num = 1, int den = 2) { return static_cast<int>(pick(static_cast<std::size_t>(den))) < num; }
  char some_char() {
    if (coin(1, 100)) return rare_chars()[pick(rare_chars().size())];
    if (coin(1, 8)) return static_cast<char>(pick(256));
    return common_chars()[pick(common_chars().size())];
  }
  // A name, number, literal, keyword, ⎕ name or punctuation.
  std::string token() {
    static const char* const fixed[] = {"⎕IO", "⎕nl", "⎕TS", "⎕", "⎕XYZ", ":If", ":EndFor", ":in", "⋄", "'a''b'",
                                        "\"q\"", "¯", ".", "+.×", "[1]", "1E400", "¯1.5E¯7", "2147483648", "0 1"};
    std::string t;
    switch (pick(4)) {
      case 0: {  // a name of 1 to 12 characters
        static const std::string first = utf8_to_internal("ABCDEFGHIJKLMNOPQRSTUVWXYZabcz∆⍙");
        static const std::string rest = utf8_to_internal("ABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789_¯");
        t.push_back(first[pick(first.size())]);
        for (std::size_t k = pick(12); k > 0; --k) t.push_back(rest[pick(rest.size())]);
        return t;
      }
      case 1: {  // a number
        if (coin()) t += utf8_to_internal("¯");
        for (std::size_t k = 1 + pick(12); k > 0; --k) t.push_back(static_cast<char>('0' + pick(10)));
        if (coin(1, 3)) t += "." + std::to_string(pick(1000));
        if (coin(1, 4)) t += "E" + std::to_string(pick(400));
        return t;
      }
      case 2: return std::string(1, some_char());
      default: return utf8_to_internal(fixed[pick(std::size(fixed))]);
    }
  }

  Ws ws_;
  std::mt19937 rng_;
  std::vector<std::string> corpus_;
};

Bytes symbol_table(Ws ws) { return Bytes(ws + kSymtabStart, ws + kFirstOwnerWord); }

// Releases what the last line left and checks that everything came back.
void expect_all_returned(Ws ws, std::uint32_t heap_top, const Bytes& symbols) {
  clrkil(ws);
  force_gcol(ws);
  EXPECT_EQ(rd32(ws, hdr::HeapTop), heap_top);
  EXPECT_EQ(rd32(ws, hdr::Garbage), 0u);
  EXPECT_EQ(symbol_table(ws), symbols);
  EXPECT_TRUE(heap_consistent(ws));
}

// Answers the entry errors met, by code.
std::map<int, int> fuzz(std::uint32_t ws_bytes, std::uint32_t seed, int random_lines, int mutated_lines,
                        bool soup_only = false) {
  TestWorkspace t(ws_bytes);
  Ws ws = t.ws();
  const std::uint32_t heap_top = rd32(ws, hdr::HeapTop);
  const Bytes symbols = symbol_table(ws);
  Fuzzer f(ws, seed);
  for (int i = 0; i < random_lines; ++i) {
    if (!f.run(f.random_line(soup_only))) {
      ADD_FAILURE() << "random line " << i;
      return f.errors;
    }
  }
  for (int i = 0; i < mutated_lines; ++i) {
    if (!f.run(f.mutated_line())) {
      ADD_FAILURE() << "mutated line " << i;
      return f.errors;
    }
  }
  // Each kind of outcome has been reached.
  EXPECT_GT(f.tokenised, (random_lines + mutated_lines) / 10);
  EXPECT_GT(f.abandoned, (random_lines + mutated_lines) / 100);
  EXPECT_GT(f.routed, 0);
  wr16(ws, hdr::State, st::NotFunctionLine);
  expect_all_returned(ws, heap_top, symbols);
  return f.errors;
}

TEST(TokeniserFuzz, RandomAndMutatedLines) {
  EXPECT_GT(fuzz(256 * 1024, 0x5EED1, kRandomLines, kMutatedLines)[E_DEFN], 0);
}

// A free gap of about 250 bytes: long lines and long names run out of room.
TEST(TokeniserFuzz, CrampedWorkspace) {
  EXPECT_GT(fuzz(kLowGlobalsSize + kHeapStart + 250, 0x5EED2, 4000, 2000, true)[E_WS_FULL], 100);
}

// A symbol table of 27 entries (one per bucket), 20 of them taken: lines
// with more than seven new names fill it.
TEST(TokeniserFuzz, SmallSymbolTable) {
  TestWorkspace t;
  Ws ws = t.ws();
  wr16(ws, hdr::BucketEntries, 27);
  wr16(ws, hdr::BucketSize, 1);
  for (std::uint32_t b = 7; b < 27; ++b) {
    const std::uint32_t e = kBucketArea + kSymtabEntrySize * b;
    wr32(ws, e + sym::Name, (2u << 24) | (0x51u << 16) | ((0x30 + b) << 8));  // "?n": never typed
    wr8(ws, e + sym::Type, SYM_VAR);
    wr8(ws, e + sym::Length, 2);
    wr16(ws, e + sym::Uses, 1);
  }
  const std::uint32_t heap_top = rd32(ws, hdr::HeapTop);
  const Bytes symbols = symbol_table(ws);
  Fuzzer f(ws, 0x5EED3);
  for (int i = 0; i < 4000; ++i) ASSERT_TRUE(f.run(f.random_line(true))) << "random line " << i;
  EXPECT_GT(f.errors[E_SYMBOL_TABLE_FULL], 100);
  expect_all_returned(ws, heap_top, symbols);
}

}  // namespace
}  // namespace zema
