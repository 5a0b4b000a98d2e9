#include "interpreter/engine/constructors.h"

#include <cstring>

#include "interpreter/engine/call.h"
#include "interpreter/engine/operator_frame.h"
#include "interpreter/primitives/args.h"
#include "interpreter/primitives/nested_results.h"
#include "interpreter/primitives/structural.h"
#include "interpreter/workspace/arrays.h"
#include "interpreter/workspace/errors.h"
#include "interpreter/workspace/heap.h"
#include "interpreter/workspace/integrity.h"
#include "interpreter/workspace/object_pool.h"
#include "interpreter/workspace/stack.h"
#include "interpreter/workspace/symtab.h"

namespace zema {

namespace {

// Pushes, as a value of its own, the items of the nested vector at `r_word`
// after the first: a nested vector, or simple when every one of them is a
// simple scalar of one kind.
void push_rest_of_nested(std::uint32_t r_word, Ws ws) {
  std::uint32_t r = rd32(ws, r_word);
  const std::uint32_t n = array_count(r, ws) - 1;
  std::uint64_t extra = 0;
  for (std::uint32_t i = 1; i <= n; ++i) extra += rd32(ws, r + rd32(ws, array_data(r, ws) + 4 * i) + obj::Size);
  need_room(extra + 4ull * n + 32, ws);
  const std::uint32_t first = oprslt(n, 4, ET_NESTED, static_cast<std::uint32_t>(extra), ws);
  wr32(ws, first, n);
  const std::uint32_t z = first - obj::Shape;
  const std::uint32_t table = first + 4;
  std::uint32_t at = table + 4 * n;
  r = rd32(ws, r_word);
  for (std::uint32_t i = 0; i < n; ++i) {
    const std::uint32_t item = r + rd32(ws, array_data(r, ws) + 4 * (i + 1));
    const std::uint32_t size = rd32(ws, item + obj::Size);
    wr32(ws, table + 4 * i, at - z);
    std::memcpy(ws + at, ws + item, size);
    wr32(ws, at, 0);
    at += size;
  }
  const std::uint8_t type = check_simple(z, ws);
  if (type == ET_NESTED) return;
  const std::uint32_t shape_at = oprslt(n, 4, type, 0, ws);
  write_simple_image(rd32(ws, stack_entry_at(1, ws) + se::Value), type, shape_at - 4, ws);
  StackEntry simple;
  unstack(simple, ws);
  settle_entry(stack_entry_at(0, ws), simple, ws);  // the nested one goes
}

// Pushes the references of the vector at `r_word` after the first.
void push_rest_of_references(std::uint32_t r_word, Ws ws) {
  const std::uint32_t n = array_count(rd32(ws, r_word), ws) - 1;
  const std::uint32_t first = oprslt(n, 4, ET_OBJREF, 0, ws);
  wr32(ws, first, n);
  std::memcpy(ws + first + 4, ws + array_data(rd32(ws, r_word), ws) + 4, 4ull * n);
}

}  // namespace

void internal_run_constructor(std::uint32_t slot, std::uint16_t ctor, std::uint8_t kind, std::uint32_t r_word, Ws ws) {
  // ⎕NEW's reference on top holds the instance from now on.
  count_value_references(rd32(ws, stack_entry_at(0, ws) + se::Value), ws);
  const std::uint32_t p = stack_opctl(kConstructorReturn, 1, slot, ws);
  stack_table_ptr(p, ws);
  const std::uint32_t r = rd32(ws, r_word);
  const std::uint8_t r_type = rd8(ws, r + obj::Type);
  const bool more = (r_type == ET_NESTED || r_type == ET_OBJREF) && array_rank(r, ws) == 1 && array_count(r, ws) > 1;
  if (more && kind == 0)
    raise_extended_error_ascii(E_VALENCE, "Unexpected argument supplied to niladic constructor", ws);
  if (kind == 0) {
    push_fake(ws);
  } else if (more && r_type == ET_NESTED) {
    push_rest_of_nested(r_word, ws);
  } else if (more) {
    push_rest_of_references(r_word, ws);
  } else {
    const std::uint32_t first = oprslt(0, 4, contains_object_reference(r, ws) ? ET_OBJREF : ET_INT, 0, ws);
    wr32(ws, first, 0);
  }
  wr8(ws, stack_entry_at(0, ws) + se::Flags, 0);
  stack(StackEntry{kind == 0 ? static_cast<std::uint8_t>(TC_NILADIC) : static_cast<std::uint8_t>(TC_NAMEDFN), 0, ctor},
        ws);
  push_fake(ws);  // the left argument's place
  wr32(ws, hdr::CallingInstance, slot);
  // A niladic call counts its own token back; ⎕NEW's application does.
  if (kind == 0) wr32(ws, hdr::TokensTaken, rd32(ws, hdr::TokensTaken) - 1);
  const int state = call_defined(kind == 0 ? 0 : 1, ws);
  // Its end goes the way of a function with an argument: to the frame.
  if (kind == 0) wr8(ws, hdr::RunningSymType, SYM_FN1);
  resume_apl(state, ws);
}

int constructor_return(Ws ws) {
  StackEntry result;
  stack_op_result(ws);
  unstack(result, ws);
  release_entry(result, ws);
  for (std::uint32_t k = 0; k < opf::Entries; ++k) {
    StackEntry e;
    unstack(e, ws);
  }
  return ES_FINISH_APPLICATION;
}

}  // namespace zema
