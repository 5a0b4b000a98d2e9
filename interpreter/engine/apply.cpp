// Function application: flags, monadic and dyadic primitives, the scalar
// path, nested pervasion and finishing an application.
#include "interpreter/engine/selective_assign.h"
#include "interpreter/engine/apply.h"
#include "interpreter/engine/user_operator.h"
#include "interpreter/engine/method_calls.h"
#include "interpreter/engine/operator_frame.h"

#include <array>
#include <cstdint>
#include <cstring>
#include <vector>

#include "interpreter/primitives/args.h"
#include "interpreter/primitives/grade.h"
#include "interpreter/engine/engine.h"
#include "interpreter/engine/error_path.h"
#include "interpreter/engine/each_operator.h"
#include "interpreter/engine/evaluation.h"
#include "interpreter/engine/format_primitive.h"
#include "interpreter/engine/product_operator.h"
#include "interpreter/engine/reduce_operator.h"
#include "interpreter/workspace/errors.h"
#include "interpreter/workspace/heap.h"
#include "interpreter/workspace/symtab.h"
#include "interpreter/primitives/disclose_pick.h"
#include "interpreter/primitives/domino.h"
#include "interpreter/primitives/encode_decode.h"
#include "interpreter/primitives/nested_results.h"
#include "interpreter/primitives/scalar_codes.h"
#include "interpreter/primitives/scalar_dispatch.h"
#include "interpreter/primitives/search_primitives.h"
#include "interpreter/primitives/structural.h"
#include "interpreter/primitives/take_drop.h"

namespace zema {

namespace {

// Header byte hdr::MiscBits bit: a handler has set up a line to run.
constexpr std::uint8_t kLineToRun = 0x40;
// Nesting levels a walk of nested arguments may descend.
constexpr std::int16_t kDepthBudget = 100;
// Room the prototype of an empty nested result needs at least.
constexpr std::uint32_t kPrototypeRoom = 256;

constexpr std::array<std::uint32_t, 128> build_opflg() {
  using namespace pf;
  std::array<std::uint32_t, 128> t{};
  // ⍐ ⍗ ⍇
  t[0x07] = t[0x09] = t[0x0B] = Monadic | Dyadic | NoCharacters | NoLeftCharacters;
  // ⍈
  t[0x0C] = Dyadic | LeftReferences;
  // ⍱ ⍲
  t[0x0E] = t[0x0F] = Dyadic | MonadicScalar | DyadicScalar | BooleanArgs | BooleanResult | NoCharacters |
      NoLeftCharacters | AcceptsModel;
  // ⍒ ⍋
  t[0x10] = t[0x11] = Monadic | Dyadic | IntegerReduce;
  // ⌽ ⍉
  t[0x12] = t[0x13] = Monadic | Dyadic | NoLeftCharacters | AcceptsModel | RightReferences;
  // ⊖
  t[0x14] = Monadic | Dyadic | NoLeftCharacters | FirstAxis | AcceptsModel | RightReferences;
  // ⍟
  t[0x15] = Monadic | Dyadic | MonadicScalar | DyadicScalar | FloatResult | NoCharacters | NoLeftCharacters;
  // ⌶
  t[0x16] = Monadic | Dyadic | NoCharacters | NoLeftCharacters | IntegerReduce;
  // ⍎
  t[0x18] = Monadic;
  // ⍕
  t[0x19] = Monadic | Dyadic | RightReferences;
  // ⍀ ⌿
  t[0x1A] = t[0x1B] = Dyadic | NoLeftCharacters | FirstAxis | AcceptsModel | RightReferences;
  // !
  t[0x1E] = Monadic | Dyadic | MonadicScalar | DyadicScalar | NoCharacters | NoLeftCharacters | IntegerReduce;
  // ⌹
  t[0x1F] = Monadic | Dyadic | FloatResult | NoCharacters | NoLeftCharacters;
  // fill
  t[0x20] = Monadic | Dyadic | MonadicScalar | DyadicScalar | MonadicInteger | IntegerReduce;
  // < ≤ > ≥
  t[0x23] = t[0x24] = t[0x26] = t[0x5E] = Dyadic | MonadicScalar | DyadicScalar | BooleanResult | NoCharacters |
      NoLeftCharacters | AcceptsModel;
  // = ≠
  t[0x25] = t[0x2A] = Dyadic | MonadicScalar | DyadicScalar | BooleanResult | SimplifyNested | AcceptsModel |
      RightReferences | LeftReferences;
  // ∨ ∧
  t[0x28] = t[0x29] = Dyadic | MonadicScalar | DyadicScalar | BooleanArgs | BooleanResult | NoCharacters |
      NoLeftCharacters | ReduceIdentity | AcceptsModel;
  // ÷
  t[0x2B] = Monadic | Dyadic | MonadicScalar | DyadicScalar | FloatResult | NoCharacters | NoLeftCharacters;
  // ,
  t[0x2C] = Monadic | Dyadic | AcceptsModel | RightReferences | LeftReferences;
  // +
  t[0x2D] = Monadic | Dyadic | MonadicScalar | DyadicScalar | NoCharacters | NoLeftCharacters | IntegerReduce |
      ReduceIdentity;
  // /
  t[0x2F] = Dyadic | NoLeftCharacters | AcceptsModel | RightReferences;
  // ×
  t[0x3D] = Monadic | Dyadic | MonadicScalar | DyadicScalar | MonadicInteger | NoCharacters | NoLeftCharacters |
      IntegerReduce | ReduceIdentity;
  // \ .
  t[0x3F] = Dyadic | NoLeftCharacters | AcceptsModel | RightReferences;
  // ⍺
  t[0x41] = Dyadic;
  // ⊥
  t[0x42] = Dyadic | NoCharacters | NoLeftCharacters | IntegerReduce;
  // ⌊ ⌈
  t[0x44] = t[0x53] = Monadic | Dyadic | MonadicScalar | DyadicScalar | MonadicInteger | NoCharacters |
      NoLeftCharacters | IntegerReduce | ReduceIdentity;
  // ∊
  t[0x45] = Monadic | Dyadic | BooleanResult | AcceptsModel | RightReferences | LeftReferences;
  // ⍳
  t[0x49] = Monadic | Dyadic | IntegerReduce | AcceptsModel | RightReferences | LeftReferences;
  // | * −
  t[0x4D] = t[0x50] = t[0x5F] = Monadic | Dyadic | MonadicScalar | DyadicScalar | NoCharacters | NoLeftCharacters |
      IntegerReduce;
  // ⊤
  t[0x4E] = Dyadic | NoCharacters | NoLeftCharacters | IntegerReduce;
  // ○
  t[0x4F] = Monadic | Dyadic | MonadicScalar | DyadicScalar | FloatResult | NoCharacters | NoLeftCharacters;
  // ?
  t[0x51] = Monadic | Dyadic | MonadicScalar | MonadicInteger | NoCharacters | NoLeftCharacters | IntegerReduce;
  // ⍴
  t[0x52] = Monadic | Dyadic | NoLeftCharacters | AcceptsModel | RightReferences;
  // ~
  t[0x54] = Monadic | Dyadic | MonadicScalar | BooleanArgs | BooleanResult | AcceptsModel | RightReferences |
      LeftReferences;
  // ↓
  t[0x55] = Dyadic | NoLeftCharacters | AcceptsModel | RightReferences;
  // ⊃ ↑
  t[0x58] = t[0x59] = Monadic | Dyadic | NoLeftCharacters | AcceptsModel | RightReferences;
  // ⊂
  t[0x5A] = Monadic | Dyadic | MonadicInteger | NoLeftCharacters | AcceptsModel | RightReferences;
  // ≡
  t[0x67] = Monadic | Dyadic | MonadicInteger | RightReferences | LeftReferences;
  // ⍷
  t[0x69] = Dyadic | BooleanResult | MonadicInteger | AcceptsModel | RightReferences | LeftReferences;
  // ⌷
  t[0x6F] = Dyadic | AcceptsModel | RightReferences;
  // ⍪
  t[0x7D] = Monadic | Dyadic | FirstAxis | AcceptsModel | RightReferences | LeftReferences;
  return t;
}
constexpr std::array<std::uint32_t, 128> kOpflg = build_opflg();

// Handlers of the mixed primitives by code; a primitive whose handler is
// not here answers NONCE ERROR.
std::array<PrimitiveHandler, 128> build_monadic_handlers() {
  std::array<PrimitiveHandler, 128> t{};
  t[0x52] = shape_monadic;     // ⍴
  t[0x49] = iota_monadic;      // ⍳
  t[0x67] = depth_monadic;     // ≡
  t[0x5A] = enclose_monadic;   // ⊂
  t[0x45] = enlist_monadic;    // ∊
  t[0x2C] = t[0x7D] = ravel_monadic;  // , ⍪
  t[0x58] = disclose_monadic;  // ⊃
  t[0x59] = first_monadic;     // ↑
  t[0x12] = t[0x14] = reverse_monadic;  // ⌽ ⊖
  t[0x13] = transpose_monadic;  // ⍉
  t[0x11] = grade_up_monadic;  // ⍋
  t[0x10] = grade_down_monadic;  // ⍒
  t[0x1F] = domino_monadic;    // ⌹
  t[0x18] = execute_monadic;   // ⍎
  t[0x19] = format_monadic;    // ⍕
  return t;
}
std::array<PrimitiveHandler, 128> build_dyadic_handlers() {
  std::array<PrimitiveHandler, 128> t{};
  t[0x52] = reshape_dyadic;    // ⍴
  t[0x49] = index_of_dyadic;   // ⍳
  t[0x67] = match_dyadic;      // ≡
  t[0x2F] = t[0x1B] = compress_dyadic;  // / ⌿
  t[0x3F] = t[0x1A] = expand_dyadic;    // \ ⍀
  t[0x2C] = t[0x7D] = catenate_dyadic;  // , ⍪
  t[0x6F] = squad_dyadic;      // ⌷
  t[0x5A] = partition_dyadic;  // ⊂
  t[0x59] = take_dyadic;       // ↑
  t[0x55] = drop_dyadic;       // ↓
  t[0x58] = pick_dyadic;       // ⊃
  t[0x12] = t[0x14] = rotate_dyadic;  // ⌽ ⊖
  t[0x13] = transpose_dyadic;  // ⍉
  t[0x11] = grade_up_dyadic;   // ⍋
  t[0x10] = grade_down_dyadic;  // ⍒
  t[0x1F] = domino_dyadic;     // ⌹
  t[0x51] = deal_dyadic;       // ?
  t[0x69] = find_dyadic;       // ⍷
  t[0x45] = membership_dyadic; // ∊
  t[0x54] = without_dyadic;    // ~
  t[0x4E] = encode_dyadic;     // ⊤
  t[0x42] = decode_dyadic;     // ⊥
  t[0x19] = format_dyadic;     // ⍕
  t[0x41] = format_alpha;      // ⍺
  return t;
}

// `xopsu`: the function's row ORed into the call flags, both kept in the
// header while the primitive runs.
std::uint32_t xopsu(std::uint32_t flags, std::uint32_t fn_entry, Ws ws) {
  const std::uint8_t code = (function_tag(fn_entry, ws) >> 1) & 0x7F;
  const std::uint32_t row = kOpflg[code];
  if (row == 0) synter_class(ws);
  flags |= row;
  set_call_flags(flags, ws);
  wr32(ws, hdr::PrimCode, 4u * code);
  return flags;
}

void lower_token_count(Ws ws) { wr32(ws, hdr::TokensTaken, rd32(ws, hdr::TokensTaken) - 1); }

void take_level(Ws ws) {
  const std::int16_t budget = rdi16(ws, hdr::DepthBudget);
  if (budget <= 0) depth_error(ws);
  wr16(ws, hdr::DepthBudget, static_cast<std::uint16_t>(budget - 1));
}
void give_level(Ws ws) { wr16(ws, hdr::DepthBudget, static_cast<std::uint16_t>(rdi16(ws, hdr::DepthBudget) + 1)); }

void set_bits(std::uint8_t bits, Ws ws) { wr8(ws, hdr::ResultBits, rd8(ws, hdr::ResultBits) | bits); }
void clear_bits(std::uint8_t bits, Ws ws) { wr8(ws, hdr::ResultBits, rd8(ws, hdr::ResultBits) & ~bits); }

// The value of a boolean or integer scalar (rank 0) array; false for any
// other array.
bool small_scalar_array(std::uint32_t array, std::int64_t& v, Ws ws) {
  if (rd16(ws, array + obj::Rank4) != 0) return false;
  const std::uint8_t type = rd8(ws, array + obj::Type);
  if (type != ET_INT && type != ET_BOOL) return false;
  const std::uint32_t word = rd32(ws, array + obj::Shape);
  v = type == ET_INT ? std::int64_t{static_cast<std::int32_t>(word)} : std::int64_t{word >> 31};
  return true;
}

// The same for the array an argument descriptor describes.
bool small_scalar(std::uint32_t at, std::int64_t& v, Ws ws) {
  return rd8(ws, at + desc::Shape) == kShapeSingle && small_scalar_array(desc_array(at, ws), v, ws);
}

// The same for the array a value entry on the stack stands for; false too
// when the entry is anything but a plain value with one (the general path
// gives the errors), or a selective-assignment model.
bool small_scalar_entry(std::uint32_t entry, std::int64_t& v, Ws ws) {
  const std::uint8_t cls = rd8(ws, entry + se::Class);
  if (((cls & kClassMask) != TC_VALUE && (cls & kClassMask) != TC_LEFTARG) ||
      (rd8(ws, entry + se::Flags) & kSeSelectiveModel))
    return false;
  const std::uint32_t value = rd32(ws, entry + se::Value);
  std::uint32_t array = value;
  if (!(cls & kOwnsObject)) {
    const std::uint32_t sym = entry_of_token(value & 0xFFFF);
    if ((rd8(ws, sym + sym::Type) & kSymTypeMask) == SYM_UNDEF) return false;
    array = rd32(ws, sym + sym::Value);
  }
  return array != 0 && small_scalar_array(array, v, ws);
}

// A scalar function of two boolean or integer scalars a and b that the
// typed kernels would answer in one element: + − × with an integer result
// within 32 bits, and the comparisons. The scalar result is allocated as the
// kernels' path allocates it and its element written at once; answers
// false, having done nothing, for every other case (an integer overflow goes
// on to the kernels and their float rerun). Loops spend most of their time
// in such applications.
// The value alone: its type and its element word, nothing allocated.
bool scalar_pair_value(std::int64_t a, std::int64_t b, std::uint8_t& type, std::uint32_t& word, Ws ws) {
  if (rd8(ws, hdr::ResultBits) & rbits::SlowArgs) return false;
  std::int64_t z = 0;
  bool boolean = true;
  if (!small_scalar_result(prim_code(ws), call_flags(ws), a, b, z, boolean)) return false;
  type = boolean ? ET_BOOL : ET_INT;
  word = boolean ? static_cast<std::uint32_t>(z) << 31 : static_cast<std::uint32_t>(z);
  return true;
}

bool scalar_pair(std::int64_t a, std::int64_t b, Ws ws) {
  std::uint8_t type = 0;
  std::uint32_t word = 0;
  if (!scalar_pair_value(a, b, type, word, ws)) return false;
  wr32(ws, oprslt(1, 0, type, 0, ws), word);
  return true;
}

// A dyadic application's end (do_xmnopd) for a scalar result of the given
// type and element word, without the result descriptor's allocation path:
// the left argument and the function are dropped and the scalar takes the
// right argument's slot. A right argument the slot owns (a constant or an
// earlier result: a boolean or integer scalar, so of the result's size) is
// overwritten in place, as a fresh object would be written; else the
// scalar is allocated.
int finish_scalar_pair(std::uint8_t type, std::uint32_t word, Ws ws) {
  const std::uint32_t right = stack_entry_at(2, ws);
  const bool reuse = rd8(ws, right + se::Class) & kOwnsObject;
  const std::uint32_t off = reuse ? rd32(ws, right + se::Value) : getspc(8, ws);
  if (reuse) {
    wr32(ws, off + obj::Kind, 0);  // as getspc leaves it: no strand mark
    wr8(ws, off + obj::Kind, OK_STACK);
    wr8(ws, right + se::Class, TC_VALUE);  // settle_entry must not release it
  }
  wr8(ws, off + obj::Type, type);
  wr8(ws, off + obj::Flags9, 0);
  wr16(ws, off + obj::Rank4, 0);
  wr32(ws, off + obj::Shape, word);
  StackEntry left, fn;
  unstack(left, ws);
  unstack(fn, ws);
  release_entry(fn, ws);
  release_entry(left, ws);
  settle_entry(stack_entry_at(0, ws), StackEntry{static_cast<std::uint8_t>(kOwnsObject | TC_VALUE), 0, off}, ws);
  wr32(ws, hdr::TokensTaken, rd32(ws, hdr::TokensTaken) + 1);
  if (entry_class(1, ws) == kClassOperatorFrame) return x_do_next_opr(ws);
  return ES_BIND;
}

// Allocates a simple result and runs the kernels until it fits its type.
void run_simple_dyadic(Ws ws) {
  const std::uint32_t source = xdy_shape(ws);
  std::int64_t a = 0, b = 0;
  if (small_scalar(hdr::LeftDesc, a, ws) && small_scalar(hdr::RightDesc, b, ws) && scalar_pair(a, b, ws)) return;
  const SavedArgs saved = save_args(ws);
  for (;;) {
    xoprfx(xoprfs(call_flags(ws), ws), source, ws);
    if (xdy_scalar(ws) == 0) return;
    xoproe(ws);
    restore_args(saved, ws);
  }
}

void run_simple_monadic(Ws ws) {
  const SavedArgs saved = save_args(ws);
  // The rerun for a float result (roll beyond 2*31) draws the same numbers again.
  const std::uint32_t seed = rd32(ws, hdr::QuadRL);
  for (;;) {
    xoprfx(xoprfs(call_flags(ws), ws), hdr::RightDesc, ws);
    if (xmn_scalar(ws) == 0) return;
    xoproe(ws);
    restore_args(saved, ws);
    wr32(ws, hdr::QuadRL, seed);
  }
}

// Steps the descriptor at `at` into the current item of its argument: a
// nested argument's item gets a descriptor of its own, its offset kept in
// `item_word`; a simple argument's current element is held for extension
// against the other side.
void get_sub_arg(std::uint32_t mask, std::uint32_t at, std::uint32_t item_word, Ws ws) {
  ArgDescriptor d = load_desc(at, ws);
  if (d.type == ET_NESTED) {
    const std::uint32_t array = desc_array(at, ws);
    wr32(ws, item_word, array + rd32(ws, array + d.cursor));
    xopafx_nest(mask, at, item_word, ws);
    return;
  }
  // A boolean whose current bit is not at the top of the word at the
  // cursor, and object references, take the element-at-a-time path.
  if ((d.type == ET_BOOL && d.bits != 0) || d.type == ET_OBJREF) set_bits(rbits::SlowArgs, ws);
  d.step = 0;
  d.count = 1;
  d.shape = kShapeSingle | kShapeHeld;
  store_desc(at, d, ws);
}

// The result item just built at `item` in the nested-result area, made
// simple when all its items are simple scalars of one kind.
void simplify_in_area(std::uint32_t item, Ws ws) {
  const std::uint8_t type = check_simple(item, ws);
  if (type == ET_NESTED) return;
  // The image is written above the item, in the area's free room, then moved
  // down over it.
  const std::uint32_t bytes = simple_image_size(item, type, ws);
  const std::uint32_t above = rd32(ws, hdr::NestLow);
  if (rd32(ws, hdr::NestHigh) - above < bytes) xwsfll(ws);
  write_simple_image(item, type, above, ws);
  const std::uint32_t size = bytes + 8;
  wr32(ws, item, 0);
  wr32(ws, item + obj::Size, size);
  std::memmove(ws + item + obj::Type, ws + above, bytes);
  wr32(ws, hdr::NestLow, item + size);
}

// The prototype of an empty nested result, from the empty argument.
void empty_prototype(bool dyadic, Ws ws) {
  if (rd32(ws, hdr::NestHigh) - rd32(ws, hdr::NestLow) < kPrototypeRoom) xwsfll(ws);
  std::uint32_t source = hdr::RightDesc;
  if (dyadic && !(rd8(ws, hdr::RightDesc + desc::Shape) & kShapeEmpty)) source = hdr::LeftDesc;
  const std::uint32_t array = desc_array(source, ws);
  if (rd8(ws, array + obj::Type) == ET_NESTED) {
    const std::uint32_t first = obj::Shape + rd16(ws, array + obj::Rank4);
    if (rd32(ws, array + obj::Size) > first) {
      zero_prototype(array + first, ws);
      return;
    }
  }
  const std::uint32_t zero = getspc_nest(8, ws);
  wr8(ws, zero + obj::Type, ET_BOOL);
  wr8(ws, zero + obj::Flags9, 0);
  wr16(ws, zero + obj::Rank4, 0);
  wr32(ws, zero + obj::Shape, 0);
}

// One level of nested pervasion; `dyadic` says whether the left side takes part.
void nest_walk(bool dyadic, Ws ws) {
  const std::uint32_t count = rd32(ws, hdr::ResultDesc + desc::Count);
  if (count == 0) {
    empty_prototype(dyadic, ws);
    return;
  }
  for (std::uint32_t i = 0; i < count; ++i) {
    push_result(ws);
    push_right(ws);
    if (dyadic) push_left(ws);
    clear_bits(rbits::SlowArgs, ws);
    const std::uint32_t result = desc_array(hdr::ResultDesc, ws);
    wr32(ws, result + rd32(ws, hdr::ResultDesc + desc::Cursor), rd32(ws, hdr::NestLow) - result);
    if (dyadic) get_sub_arg(kLeftMask, hdr::LeftDesc, hdr::LeftItem, ws);
    get_sub_arg(kRightMask, hdr::RightDesc, hdr::RightItem, ws);
    const std::uint32_t flags = call_flags(ws);
    const bool nested = rd8(ws, hdr::RightDesc + desc::Type) == ET_NESTED ||
                        (dyadic && rd8(ws, hdr::LeftDesc + desc::Type) == ET_NESTED);
    if (nested) {
      xoprfx(ET_NESTED, dyadic ? xdy_shape(ws) : hdr::RightDesc, ws);
      take_level(ws);
      nest_walk(dyadic, ws);
      give_level(ws);
      const std::uint32_t item = rd32(ws, hdr::ResultDesc + desc::NestResult);
      wr32(ws, item + obj::Size, rd32(ws, hdr::NestLow) - item);
      if (flags & pf::SimplifyNested) simplify_in_area(item, ws);
    } else if (dyadic) {
      run_simple_dyadic(ws);
    } else {
      run_simple_monadic(ws);
    }
    set_call_flags(flags, ws);
    if (dyadic) pop_left(ws);
    pop_right(ws);
    pop_result(ws);
    if (dyadic) bump_argument(hdr::LeftDesc, ws);
    bump_argument(hdr::RightDesc, ws);
    wr32(ws, hdr::ResultDesc + desc::Cursor, rd32(ws, hdr::ResultDesc + desc::Cursor) + 4);
  }
}

// A nested result on the heap, its items built in the nested-result area
// opened just above it; the area closes into the result object.
void nested_result(bool dyadic, Ws ws) {
  gcol(ws);
  xoprfx(ET_NESTED, dyadic ? xdy_shape(ws) : hdr::RightDesc, ws);
  const std::uint32_t result_entry = stack_entry_at(0, ws);
  set_bits(rbits::NestArea, ws);
  wr32(ws, hdr::NestLow, rd32(ws, hdr::HeapTop) - 4);
  wr32(ws, hdr::NestHigh, rd32(ws, hdr::StackPointer));
  wr16(ws, hdr::DepthBudget, kDepthBudget);
  try {
    nest_walk(dyadic, ws);
  } catch (...) {
    // The partial items lie above the heap top and are simply forgotten.
    clear_bits(rbits::NestArea, ws);
    throw;
  }
  clear_bits(rbits::NestArea, ws);
  const std::uint32_t result = rd32(ws, result_entry + se::Value);
  const std::uint32_t low = rd32(ws, hdr::NestLow);
  wr32(ws, result + obj::Size, low - result);
  wr32(ws, hdr::HeapTop, low + 4);
  if (!(call_flags(ws) & pf::SimplifyNested)) return;
  const std::uint8_t type = check_simple(result, ws);
  if (type == ET_NESTED) return;
  // The simple array takes the nested result's stack entry.
  const std::uint32_t n = array_count(result, ws);
  const std::uint32_t rank4 = rd16(ws, result + obj::Rank4);
  const std::uint32_t shape = oprslt(n, rank4, type, 0, ws);
  // The allocation may have compacted the heap: find the nested result again.
  const std::uint32_t source = rd32(ws, stack_entry_at(1, ws) + se::Value);
  write_simple_image(source, type, shape - 4, ws);
  StackEntry simple;
  unstack(simple, ws);
  settle_entry(stack_entry_at(0, ws), simple, ws);
}

}  // namespace

std::uint32_t primitive_flags(std::uint8_t code) { return kOpflg[code & 0x7F]; }

bool small_scalar_result(std::uint8_t code, std::uint32_t flags, std::int64_t a, std::int64_t b, std::int64_t& z,
                        bool& boolean) {
  if (flags & 0x10) return false;
  boolean = true;
  switch (code) {
    case pc::Plus: z = a + b; boolean = false; break;
    case pc::Minus: z = a - b; boolean = false; break;
    case pc::Times: z = a * b; boolean = false; break;
    case pc::Lt: z = a < b; break;
    case pc::Le: z = a <= b; break;
    case pc::Eq: z = a == b; break;
    case pc::Ge: z = a >= b; break;
    case pc::Gt: z = a > b; break;
    case pc::Ne: z = a != b; break;
    default: return false;
  }
  // The result type the kernels' path takes (xoprfs: booleans and integers
  // give an integer result unless the row asks for a boolean one).
  if (((flags & 0x4) != 0) != boolean) return false;
  return boolean || (z >= INT32_MIN && z <= INT32_MAX);
}

std::uint8_t function_tag(std::uint32_t fn_entry, Ws ws) {
  if ((rd8(ws, fn_entry + se::Class) & kClassMask) == TC_DERIVED)
    return rd8(ws, derived_object(fn_entry, ws) + dfn::Entry + se::Value);
  return rd8(ws, fn_entry + se::Value);
}

PrimitiveHandler monadic_handler(std::uint8_t code) {
  static const std::array<PrimitiveHandler, 128> table = build_monadic_handlers();
  return table[code & 0x7F];
}

PrimitiveHandler dyadic_handler(std::uint8_t code) {
  static const std::array<PrimitiveHandler, 128> table = build_dyadic_handlers();
  return table[code & 0x7F];
}

void scalar_monadic(Ws ws) {
  if (rd8(ws, hdr::RightDesc + desc::Type) == ET_NESTED)
    nested_result(false, ws);
  else
    run_simple_monadic(ws);
}

void scalar_dyadic(Ws ws) {
  if (rd8(ws, hdr::LeftDesc + desc::Type) == ET_NESTED || rd8(ws, hdr::RightDesc + desc::Type) == ET_NESTED)
    nested_result(true, ws);
  else
    run_simple_dyadic(ws);
}

void scalar_dyadic_axis(std::uint32_t fn_entry, std::uint32_t flags, Ws ws) {
  const ArrayInfo l = array_info(left_arg(ws), ws);
  const ArrayInfo r = array_info(right_arg(ws), ws);
  // H, the argument of higher rank (the right one on a tie), and M.
  const bool right_high = r.rank >= l.rank;
  const ArrayInfo& h = right_high ? r : l;
  const ArrayInfo& m = right_high ? l : r;
  const AxisList ax = multiple_axis(fn_entry, flags, h.rank, ws);
  const auto n = static_cast<std::uint32_t>(ax.k.size());
  if (n != m.rank || m.rank == 0 || m.rank == h.rank) {
    if (n != m.rank && !(m.rank == 0 && h.rank == 1)) axis_error(ws);
    scalar_dyadic(ws);
    return;
  }
  // The step in M of each of H's axes (0 for the axes M does not have),
  // for an odometer over H's axes: fixed records of at most 63 axes, the
  // elements read and written in place in the workspace.
  const std::vector<std::uint32_t> hshape = shape_of(h, ws);
  std::uint32_t stride[63] = {};
  std::uint32_t mstep = 1;
  for (std::uint32_t j = n; j-- > 0;) {
    if (hshape[ax.k[j]] != dim(m, j, ws)) lener(ws);
    stride[ax.k[j]] = mstep;
    mstep *= dim(m, j, ws);
  }
  const std::uint32_t hrank = h.rank, hcount = h.count;
  // Calls f(i, p) for each element i of H with p its element of M.
  auto spread = [&](auto&& f) {
    std::uint32_t idx[63] = {};
    std::uint32_t pos = 0;
    for (std::uint32_t i = 0; i < hcount; ++i) {
      f(i, pos);
      for (std::uint32_t k = hrank; k-- > 0;) {
        pos += stride[k];
        if (++idx[k] < hshape[k]) break;
        pos -= stride[k] * idx[k];
        idx[k] = 0;
      }
    }
  };
  // M spread over H's shape, a temporary entry on top of the stack.
  const std::uint32_t m_desc = right_high ? hdr::LeftDesc : hdr::RightDesc;
  const std::uint32_t m_mask = right_high ? kLeftMask : kRightMask;
  if (m.type == ET_NESTED) {
    result_from_picks(
        hshape,
        [&](const std::function<void(const Pick&)>& pick) {
          spread([&](std::uint32_t, std::uint32_t p) { pick(Pick{p, right_high, false}); });
        },
        right_high, ws);
  } else {
    const ArrayInfo z = new_simple(hshape, m.type, ws);
    const ArrayInfo mm = array_info(right_high ? left_arg(ws) : right_arg(ws), ws);
    const std::uint32_t w = elem_bytes(mm.type);
    std::uint8_t* dst = ws + z.data;
    const std::uint8_t* src = ws + mm.data;
    if (w == 0) {
      spread([&](std::uint32_t i, std::uint32_t p) {
        if (bit_at(mm.data, p, ws)) put_bit(z.data, i, true, ws);
      });
    } else {
      spread([&](std::uint32_t i, std::uint32_t p) { std::memcpy(dst + std::uint64_t{w} * i, src + std::uint64_t{w} * p, w); });
    }
  }
  const std::uint32_t temp_slot = stack_entry_at(0, ws);
  xopafx(m_mask, m_desc, temp_slot, ws);
  set_call_flags(flags, ws);
  scalar_dyadic(ws);
  // The result takes the temporary's place.
  StackEntry result;
  unstack(result, ws);
  settle_entry(temp_slot, result, ws);
}

void xmn_nest_nest(Ws ws) { nest_walk(false, ws); }
void xdy_nest_nest(Ws ws) { nest_walk(true, ws); }

int do_xmnop(Ws ws) { return xmnop_common(0, stack_entry_at(0, ws), ws); }
int do_xdyop(Ws ws) { return xdyop_common(0, stack_entry_at(1, ws), ws); }

int xmnop_common(std::uint32_t flags, std::uint32_t fn_entry, Ws ws) {
  lower_token_count(ws);
  flags = xopsu(flags, fn_entry, ws);
  const std::uint8_t code = prim_code(ws);
  wr8(ws, hdr::LeftDesc + desc::Type, 0);
  xopafx(kRightMask, hdr::RightDesc, fn_entry + kStackEntrySize, ws);
  push_fake(ws);
  check_model_argument(code, flags, false, fn_entry + kStackEntrySize, ws);
  const std::uint8_t entry_flags = rd8(ws, fn_entry + se::Flags);
  if (entry_flags & fe::Product) valence_error(ws);
  if (!(entry_flags & fe::ReduceScan)) {
    if (!(flags & pf::Monadic)) valence_error(ws);
    if (flags & pf::MonadicScalar) {
      // An operator's derived function never comes here: do_xmn_derfn applies
      // each, reduce and scan itself, and a primitive's entry has no such flags.
      if (entry_flags & fe::Each) ZEMA_SYSTEM_ERROR(ws);
      if ((entry_flags & fe::Axis) || (flags & pf::FromDerived)) axis_error(ws);
      scalar_monadic(ws);
      return ES_FINISH_APPLICATION;
    }
  }
  if (entry_flags & (fe::Each | fe::ReduceScan)) ZEMA_SYSTEM_ERROR(ws);  // as above
  const PrimitiveHandler h = monadic_handler(code);
  if (!h) noncer_1(ws);
  h(PrimitiveCall{stack_entry_at(2, ws), 0, stack_entry_at(1, ws), flags}, ws);
  return ES_FINISH_APPLICATION;
}

int xdyop_common(std::uint32_t flags, std::uint32_t fn_entry, Ws ws, bool finish) {
  lower_token_count(ws);
  flags = xopsu(flags, fn_entry, ws);
  const std::uint8_t code = prim_code(ws);
  if (code == 0x58) {  // ⊃ as the outermost function of a selective assignment's target
    int state;
    if (pick_selasgn(state, ws)) return state;
  }
  check_model_argument(code, flags, true, stack_entry_at(2, ws), ws);
  clear_bits(rbits::SlowArgs, ws);
  if (!(flags & pf::Dyadic)) valence_error(ws);
  if ((flags & pf::DyadicScalar) && !(flags & pf::FromDerived) && rd8(ws, fn_entry + se::Flags) == 0) {
    // Two boolean or integer scalars: no descriptors needed.
    std::int64_t a = 0, b = 0;
    std::uint8_t type = 0;
    std::uint32_t word = 0;
    if (small_scalar_entry(stack_entry_at(0, ws), a, ws) && small_scalar_entry(stack_entry_at(2, ws), b, ws) &&
        scalar_pair_value(a, b, type, word, ws)) {
      if (finish && !(rd8(ws, hdr::MiscBits) & kLineToRun)) return finish_scalar_pair(type, word, ws);
      wr32(ws, oprslt(1, 0, type, 0, ws), word);
      return ES_FINISH_APPLICATION;
    }
  }
  xopafx(kLeftMask, hdr::LeftDesc, stack_entry_at(0, ws), ws);
  xopafx(kRightMask, hdr::RightDesc, stack_entry_at(2, ws), ws);
  const std::uint8_t entry_flags = rd8(ws, fn_entry + se::Flags);
  // do_xdy_derfn applies products, n-wise reduction and each itself; a
  // primitive's entry carries no operator flags.
  if (entry_flags & (fe::Product | fe::ReduceScan)) ZEMA_SYSTEM_ERROR(ws);
  const bool each = entry_flags & fe::Each;
  if ((flags & pf::DyadicScalar) && (!each || entry_flags == fe::Each)) {
    if ((entry_flags & fe::Axis) || (flags & pf::FromDerived))
      scalar_dyadic_axis(fn_entry, flags, ws);
    else
      scalar_dyadic(ws);
    return ES_FINISH_APPLICATION;
  }
  if (each) ZEMA_SYSTEM_ERROR(ws);  // as above
  const PrimitiveHandler h = dyadic_handler(code);
  if (!h) noncer_1(ws);
  h(PrimitiveCall{stack_entry_at(2, ws), stack_entry_at(0, ws), stack_entry_at(1, ws), flags}, ws);
  return ES_FINISH_APPLICATION;
}

namespace {

// The primitive a derived function applies, for an entry whose flags name
// no operator: the derived function of an axis list.
std::uint32_t derived_primitive(std::uint32_t fn_entry, Ws ws) {
  const std::uint32_t obj = derived_object(fn_entry, ws);
  // The callers have sent every operator's derived function elsewhere.
  if (rd8(ws, fn_entry + se::Flags) & ~fe::Axis) ZEMA_SYSTEM_ERROR(ws);
  const std::uint8_t cls = rd8(ws, obj + dfn::Entry + se::Class) & kClassMask;
  // A named function with an axis list: a defined or system function takes no axis.
  if (cls == TC_NAMEDFN && rd32(ws, obj + dfn::ListWord) != 0) axis_error(ws);
  if (cls != TC_PRIMITIVE && cls != TC_SLASH) noncer_1(ws);
  return obj;
}

}  // namespace

int do_xmn_derfn(Ws ws) {
  const std::uint32_t fn = stack_entry_at(0, ws);
  if (is_method_reference(fn, ws)) return method_reference_monadic(ws);
  // An operator's derived function may not take a selective assignment's model.
  if (is_user_operator(fn, ws) || (rd8(ws, fn + se::Flags) & ~fe::Axis)) refuse_model_argument(stack_entry_at(1, ws), ws);
  if (is_user_operator(fn, ws)) return user_operator_monadic(ws);
  if (rd8(ws, fn + se::Flags) & fe::ReduceScan) return reduce_monadic(ws);
  if (rd8(ws, fn + se::Flags) & fe::Each) return each_monadic(ws);
  if (rd8(ws, fn + se::Flags) & fe::Product) valence_error(ws);  // products are dyadic
  derived_primitive(fn, ws);
  return xmnop_common(pf::FromDerived, fn, ws);
}

int do_xdy_derfn(Ws ws) {
  const std::uint32_t fn = stack_entry_at(1, ws);
  if (is_method_reference(fn, ws)) return method_reference_dyadic(ws);
  // An operator's derived function may not take a selective assignment's model.
  if (is_user_operator(fn, ws) || (rd8(ws, fn + se::Flags) & ~fe::Axis)) refuse_model_argument(stack_entry_at(2, ws), ws);
  if (is_user_operator(fn, ws)) return user_operator_dyadic(ws);
  if (rd8(ws, fn + se::Flags) & fe::ReduceScan) return reduce_dyadic(ws);
  if (rd8(ws, fn + se::Flags) & fe::Each) return each_dyadic(ws);
  if (rd8(ws, fn + se::Flags) & fe::Product) return product_dyadic(ws);
  derived_primitive(fn, ws);
  return xdyop_common(pf::FromDerived, fn, ws);
}

int do_xmnopd(Ws ws) {
  if (rd8(ws, hdr::MiscBits) & kLineToRun) {
    wr8(ws, hdr::MiscBits, rd8(ws, hdr::MiscBits) & ~kLineToRun);
    return ES_LINE_START;
  }
  StackEntry result, left, fn;
  unstack(result, ws);
  unstack(left, ws);
  unstack(fn, ws);
  const std::uint32_t slot = stack_entry_at(0, ws);
  const StackEntry right = load_entry(slot, ws);
  // The result takes the right argument's slot as a plain value: its result
  // and counted-references marks go (object references are not counted),
  // and it keeps the right argument's selective-model mark.
  result.flags &= static_cast<std::uint8_t>(~(kSeResult | kSeRefsCounted));
  result.flags |= right.flags & kSeSelectiveModel;
  release_entry(fn, ws);
  release_entry(left, ws);
  settle_entry(slot, result, ws);
  wr32(ws, hdr::TokensTaken, rd32(ws, hdr::TokensTaken) + 1);
  if (entry_class(1, ws) == kClassOperatorFrame) return x_do_next_opr(ws);
  return ES_BIND;
}

}  // namespace zema
