// Refusing an assignment whose statement is sure to fail at its left edge.
#include "interpreter/engine/assignment_check.h"

#include <cstdint>

#include "host/charset.h"
#include "interpreter/engine/control.h"
#include "interpreter/engine/engine.h"
#include "interpreter/reader/entry_errors.h"
#include "interpreter/reader/token_format.h"
#include "interpreter/reader/tokeniser.h"
#include "interpreter/workspace/errors.h"
#include "interpreter/workspace/stack.h"

namespace zema {

namespace {


const std::uint8_t kLeftParen = glyph_token("(");
const std::uint8_t kRightParen = glyph_token(")");
const std::uint8_t kLeftBracket = glyph_token("[");
const std::uint8_t kRightBracket = glyph_token("]");

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

bool is_function_class(std::uint8_t cls) {
  switch (cls) {
    case TC_PRIMITIVE:
    case TC_SLASH:
    case TC_NAMEDFN:
    case TC_DOT:
    case TC_EACH:
    case TC_MONOP:
    case TC_DYOP:
    case TC_DERIVED: return true;
    default: return false;
  }
}

// Whether the pending entries alone doom the statement: a `[` or `(` still
// open; a → or control keyword with something left of it; a function,
// operator or arrow with nothing right of it to take (rightmost, or just
// left of a `;`, `)` or `]`); after a `;` of the same group (the entries between two
// pending closers), anything but values and `;`. A function or operator
// that is the arrow's own operand is left to the arrow, which refuses it.
bool pending_entries_fail(Ws ws) {
  PendingEntries pending(ws);
  bool separated = false;
  bool starved = false;  // the entry above is a function or operator, not the arrow's operand
  bool first = true;
  for (;;) {
    const std::uint32_t e = pending.next();
    const std::uint8_t cls = e ? rd8(ws, e + se::Class) & 0x7F : TC_EDGE;
    switch (cls) {
      case TC_EDGE: return starved;
      case TC_LBRACKET:
      case TC_LPAREN:
      case TC_BRANCH: return true;
      case TC_RPAREN:
      case TC_RBRACKET:
        if (starved) return true;
        separated = false;
        break;
      case TC_SEMICOLON:
        if (starved) return true;
        separated = true;
        break;
      case TC_VALUE: break;
      default:
        if (separated) return true;
    }
    starved = !first && (is_function_class(cls) || cls == TC_ASSIGN);
    first = false;
  }
}

// The class of a token whose last byte is `tag`: a name's is not known here.
constexpr std::uint8_t kNameClass = 0xFF;

std::uint8_t class_of_tag(std::uint8_t tag) { return (tag & 1) ? optran(static_cast<std::uint8_t>(tag >> 1)) : kNameClass; }

// Whether a token of class `left` leaves the token right of it at the start
// of an expression, with nothing left of it to take as operand or target.
bool starts_expression(std::uint8_t left) {
  return left == TC_EDGE || left == TC_LPAREN || left == TC_LBRACKET || left == TC_SEMICOLON || left == TC_ASSIGN ||
         left == TC_BRANCH;
}

// Whether the token ending in `tag`, with `left` the last byte of the token
// left of it (TT_STATEMENT at the statement's start), is wrong whatever its
// names turn out to be: a → or control keyword (but :In) not first; an
// operator or an arrow with nothing to take on its left; a function, an
// operator, an arrow or a `(` just left of a `;`.
bool misplaced(std::uint8_t tag, std::uint8_t left) {
  const std::uint8_t cls = class_of_tag(tag), lcls = class_of_tag(left);
  switch (cls) {
    case TC_BRANCH: return lcls != TC_EDGE && tag != kw::In;
    case TC_SLASH:
    case TC_EACH:
    case TC_DOT:
    case TC_ASSIGN: return starts_expression(lcls);
    case TC_SEMICOLON:
      return lcls == TC_PRIMITIVE || lcls == TC_SLASH || lcls == TC_EACH || lcls == TC_DOT || lcls == TC_ASSIGN ||
             lcls == TC_LPAREN;
    default: return false;
  }
}

// Whether the tokens left of the cursor `at` (a workspace offset), with the
// `)` and `]` pending on the stack, leave a bracket without its partner or
// hold a misplaced token. `opener` receives the offset of the statement's
// opening tag.
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
      } else {
        fails = misplaced(tag, rd8(ws, start - 1));
      }
    }
    at = start;
  }
  opener = at - 1;
  return fails || depth != 0 || pending.next_closer() != 0;
}

// The statement's first fault, read from its right end: a `(` or `[` with
// no partner to its right, a misplaced token, else the leftmost `)` or `]`
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
    } else if (misplaced(tag, rd8(ws, first - 1))) {
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
