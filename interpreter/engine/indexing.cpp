// Bracket lists: the entries between [ and ] (or a semicolon list in
// parentheses) collected into an index list, a nested vector whose elided
// positions hold offset 0.
#include "interpreter/engine/indexing.h"

#include <cstring>
#include <vector>

#include "interpreter/engine/engine.h"
#include "interpreter/engine/error_path.h"
#include "interpreter/workspace/errors.h"
#include "interpreter/workspace/heap.h"
#include "interpreter/workspace/symtab.h"

namespace zema {

int bndx(int terminator, Ws ws) {
  // First pass: the positions and the room their values need.
  std::uint64_t total = 0;
  std::uint32_t positions = 1;
  std::uint32_t k = 0;
  for (;; ++k) {
    if (is_primer(k, ws)) synter_badline(ws);
    const std::uint32_t e = stack_entry_at(k, ws);
    const std::uint8_t c = rd8(ws, e) & 0x7F;
    if (c == terminator) break;
    if (c == TC_SEMICOLON) {
      ++positions;
    } else if (c == TC_VALUE) {
      total += rd32(ws, find_ws_entry(e, ws) + obj::Size);
    } else {
      synter_badline(ws);
    }
  }
  const std::uint32_t terminator_at = k;
  const std::uint64_t bytes = 8 + 4ull * positions + total;
  if (bytes > 0xFFFFFF00u) xwsfll(ws);
  const std::uint32_t list = getspc(static_cast<std::uint32_t>(bytes), ws);
  wr8(ws, list + obj::Type, ET_NESTED);
  wr16(ws, list + obj::Rank4, 4);
  wr32(ws, list + obj::Shape, positions);
  // Second pass: positions from the left, that is from the top down.
  int elided = 0;
  std::uint32_t at = list + obj::Shape + 4 + 4 * positions;
  std::uint32_t pos = 0;
  bool filled = false;
  for (std::uint32_t i = 0; i <= terminator_at; ++i) {
    const std::uint32_t e = stack_entry_at(i, ws);
    const std::uint8_t c = rd8(ws, e) & 0x7F;
    if (c == TC_VALUE) {
      const std::uint32_t v = find_ws_entry(e, ws);
      const std::uint32_t size = rd32(ws, v + obj::Size);
      std::memmove(ws + at, ws + v, size);
      wr8(ws, at, 0);
      wr32(ws, list + obj::Shape + 4 + 4 * pos, at - list);
      at += size;
      filled = true;
    } else {  // ; or the terminator ends a position
      if (!filled) {
        wr32(ws, list + obj::Shape + 4 + 4 * pos, 0);
        elided = 1;
      }
      ++pos;
      filled = false;
    }
  }
  // Cut the stack back to the terminator, which becomes the list.
  for (std::uint32_t i = 0; i < terminator_at; ++i) {
    StackEntry popped;
    unstack(popped, ws);
    release_entry(popped, ws);
  }
  settle_entry(stack_entry_at(0, ws), StackEntry{static_cast<std::uint8_t>(kOwnsObject | TC_INDEXLIST), 0, list}, ws);
  return elided;
}

namespace {

// Whether the token to the left of the line cursor is a one-byte token of
// class 0 (primitive) or 7 (operator): the brackets are then an axis.
bool function_on_left(Ws ws) {
  const std::uint32_t cursor = rd32(ws, hdr::LineCursor);
  const std::uint8_t b = rd8(ws, current_line(ws) + cursor - 1);
  if (!(b & 1)) return false;
  const std::uint8_t c = optran(static_cast<std::uint8_t>(b >> 1));
  return c == TC_PRIMITIVE || c == TC_SLASH;
}

}  // namespace

int do_xbuild_index(Ws ws) {
  bndx(TC_RBRACKET, ws);
  if (function_on_left(ws)) {
    popst(ws);
  } else {
    get_token(ws);
  }
  return ES_BIND;
}

int do_xempty_index(Ws ws) {
  StackEntry bracket;
  unstack(bracket, ws);
  bndx(TC_RBRACKET, ws);
  // f[] is not an empty axis.
  const std::uint8_t n = register_class(ws);
  if (n == TC_PRIMITIVE || n == TC_SLASH || n == TC_DERIVED) axis_error(ws);
  return ES_BIND;
}

int do_xbuild_nest(Ws ws) {
  if (bndx(TC_RPAREN, ws)) synter_badline(ws);
  // A semicolon list in parentheses is taken only by ⎕SS, which this
  // program does not offer: SYNTAX ERROR.
  synter_badline(ws);
}

}  // namespace zema
