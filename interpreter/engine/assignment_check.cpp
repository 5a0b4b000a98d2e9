// Refusing an assignment whose statement is sure to fail at its left edge.
#include "interpreter/engine/assignment_check.h"

#include <cstdint>

#include "host/charset.h"
#include "interpreter/engine/engine.h"
#include "interpreter/reader/entry_errors.h"
#include "interpreter/reader/token_format.h"
#include "interpreter/reader/tokeniser.h"
#include "interpreter/workspace/errors.h"
#include "interpreter/workspace/stack.h"

namespace zema {

namespace {

std::uint8_t token_of(const char* glyph) { return one_byte_token(static_cast<std::uint8_t>(utf8_to_internal(glyph)[0])); }

const std::uint8_t kLeftParen = token_of("(");
const std::uint8_t kRightParen = token_of(")");
const std::uint8_t kLeftBracket = token_of("[");
const std::uint8_t kRightBracket = token_of("]");
const std::uint8_t kArrow = token_of("→");

// Deeper nesting than this is left to the engine.
constexpr int kMaxDepth = 64;

// The pending entries of the statement, from the top of the stack down to
// its primer (operator-frame entries passed over).
class PendingEntries {
 public:
  explicit PendingEntries(Ws ws) : ws_(ws), bottom_(rd32(ws, hdr::Top) - 4) {}
  // The next entry's offset, 0 at the primer (or the stack's bottom).
  std::uint32_t next() {
    for (;;) {
      const std::uint32_t e = stack_entry_at(k_, ws_);
      if (e >= bottom_ || is_primer(k_, ws_)) return 0;
      ++k_;
      if ((rd8(ws_, e + se::Class) & 0x7F) != kOperatorFrame) return e;
    }
  }
  // The next pending `)` or `]`: its class, or 0 when none is left.
  std::uint8_t next_closer() {
    while (const std::uint32_t e = next()) {
      const std::uint8_t cls = rd8(ws_, e + se::Class) & 0x7F;
      if (cls == TC_RPAREN || cls == TC_RBRACKET) return cls;
    }
    return 0;
  }

 private:
  Ws ws_;
  std::uint32_t bottom_;
  std::uint32_t k_ = 0;
};

// Whether the pending entries alone doom the statement: a `[` or `(` still
// open, a → or control keyword with something left of it, or, after a `;` of the same group (the
// entries between two pending closers), anything but values and `;`.
bool pending_entries_fail(Ws ws) {
  PendingEntries pending(ws);
  bool separated = false;
  while (const std::uint32_t e = pending.next()) {
    switch (rd8(ws, e + se::Class) & 0x7F) {
      case TC_LBRACKET:
      case TC_LPAREN:
      case TC_BRANCH: return true;
      case TC_RPAREN:
      case TC_RBRACKET: separated = false; break;
      case TC_SEMICOLON: separated = true; break;
      case TC_VALUE: break;
      default:
        if (separated) return true;
    }
  }
  return false;
}

// Whether the tokens left of the cursor `at` (a workspace offset), with the
// `)` and `]` pending on the stack, leave a bracket without its partner or
// hold a → that is not the first token. `opener` receives the offset of
// the statement's opening tag.
bool left_tokens_fail(std::uint32_t at, std::uint32_t& opener, Ws ws) {
  PendingEntries pending(ws);
  std::uint64_t brackets = 0;  // closers met left of the arrow, newest in bit 0: 1 for `]`
  int depth = 0;
  bool fails = false;
  while (rd8(ws, at - 1) != TT_STATEMENT) {
    const std::uint8_t tag = rd8(ws, at - 1);
    const std::uint32_t start = skipsl(at, ws);
    if (!fails) {
      if (tag == kRightParen || tag == kRightBracket) {
        if (depth == kMaxDepth) return false;
        brackets = brackets << 1 | (tag == kRightBracket);
        ++depth;
      } else if (tag == kLeftParen || tag == kLeftBracket) {
        const bool bracket = tag == kLeftBracket;
        if (depth != 0) {
          fails = (brackets & 1) != bracket;
          brackets >>= 1;
          --depth;
        } else {
          const std::uint8_t closer = pending.next_closer();
          fails = closer == 0 || (closer == TC_RBRACKET) != bracket;
        }
      } else if (tag == kArrow) {
        fails = rd8(ws, start - 1) != TT_STATEMENT;
      }
    }
    at = start;
  }
  opener = at - 1;
  return fails || depth != 0 || pending.next_closer() != 0;
}

// The statement's first fault, read from its right end: a `(` or `[` with
// no partner to its right, a → not first, else the leftmost `)` or `]`
// left without a partner. Answers its position as hdr::TokensTaken counts
// (1 for the last token); 0 when there is none or the nesting is too deep.
std::uint32_t fault_position(std::uint32_t opener, Ws ws) {
  const std::uint32_t start = opener + 1 - statement_head(long_form(ws));
  const std::uint32_t end = start + get_statement_length(ws, start);
  bool bracket[kMaxDepth];
  std::uint32_t where[kMaxDepth];
  int depth = 0;
  std::uint32_t n = 0;
  for (std::uint32_t at = end; at > opener + 1;) {
    ++n;
    const std::uint8_t tag = rd8(ws, at - 1);
    const std::uint32_t first = skipsl(at, ws);
    if (tag == kRightParen || tag == kRightBracket) {
      if (depth == kMaxDepth) return 0;
      bracket[depth] = tag == kRightBracket;
      where[depth++] = n;
    } else if (tag == kLeftParen || tag == kLeftBracket) {
      if (depth == 0 || bracket[depth - 1] != (tag == kLeftBracket)) return n;
      --depth;
    } else if (tag == kArrow && rd8(ws, first - 1) != TT_STATEMENT) {
      return n;
    }
    at = first;
  }
  return depth != 0 ? where[depth - 1] : 0;
}

}  // namespace

void refuse_doomed_assignment(Ws ws) {
  std::uint32_t opener = 0;
  const bool left = left_tokens_fail(current_line(ws) + rd32(ws, hdr::LineCursor), opener, ws);
  if (!left && !pending_entries_fail(ws)) return;
  if (const std::uint32_t at = fault_position(opener, ws)) wr32(ws, hdr::TokensTaken, at);
  synter_badline(ws);
}

}  // namespace zema
