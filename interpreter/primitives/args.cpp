// Argument descriptors, result allocation, and element fetch and store
// through the registers.
#include "interpreter/primitives/args.h"

#include <cstring>

#include "interpreter/workspace/errors.h"
#include "interpreter/workspace/heap.h"
#include "interpreter/workspace/symtab.h"

namespace zema {

namespace {

constexpr std::uint32_t kAllowRefsRight = 0x100000;
constexpr std::uint32_t kAllowRefsLeft = 0x200000;

void set_result_bits(std::uint8_t bits, Ws ws) { wr8(ws, hdr::ResultBits, rd8(ws, hdr::ResultBits) | bits); }

// Fills the descriptor at `at` for the array whose offset lies in `word`.
void describe(std::uint32_t mask, std::uint32_t at, std::uint32_t word, Ws ws) {
  const std::uint32_t off = rd32(ws, word);
  ArgDescriptor d;
  d.type = rd8(ws, off + obj::Type);
  d.offset_word = word;
  const std::uint32_t rank4 = rd16(ws, off + obj::Rank4);
  d.count = array_count(off, ws);
  d.first = obj::Shape + rank4;
  d.cursor = d.first;
  if (rank4 == 0) {
    d.shape = kShapeSingle;
  } else {
    if (d.count == 1) d.shape = kShapeSingle | kShapeOneElement;
    if (d.count == 0) d.shape = kShapeEmpty;
    if (rank4 == 4) d.shape |= kShapeVector;
  }
  const std::uint32_t size = element_size(d.type);
  if (rank4 != 0 && (size == 0 || d.type == ET_DERIVED || d.type == ET_INDEXVEC)) noncer_1(ws);
  d.step = d.count == 1 ? 0 : size;
  if (d.type == ET_NESTED) d.word = d.first + 4 * d.count;
  store_desc(at, d, ws);
  if (d.count == 0) return;
  const std::uint32_t flags = call_flags(ws);
  if (d.type == ET_CHAR && (flags & mask)) domner(ws);
  if (d.type == ET_OBJREF) {
    const std::uint32_t allow = mask == kLeftMask ? kAllowRefsLeft : kAllowRefsRight;
    if (!(flags & allow)) domner(ws);
    set_result_bits(rbits::SlowArgs, ws);
  }
}

// Register of a descriptor.
std::uint32_t reg_of(std::uint32_t at) { return at + desc::Reg; }

// The next bit of a boolean argument: a new word is loaded when none is
// pending; the word shifts on unless the argument is a single element.
std::uint32_t next_bit(ArgDescriptor& d, Ws ws, std::uint32_t array) {
  if (d.bits == 0) {
    d.word = rd32(ws, array + d.cursor);
    d.cursor += 4;
    d.bits = 32;
  }
  const std::uint32_t bit = d.word >> 31;
  if (d.step != 0) {
    d.word <<= 1;
    --d.bits;
  }
  return bit;
}

}  // namespace

std::uint32_t element_size(std::uint8_t type) {
  switch (type) {
    case ET_BOOL:
    case ET_INT:
    case ET_OBJREF:
    case ET_NESTED:
    case ET_INDEXVEC: return 4;
    case ET_FLOAT: return 8;
    case ET_CHAR: return 1;
    case ET_WIDE16: return 16;
    default: return 0;
  }
}

void xopafx(std::uint32_t mask, std::uint32_t at, std::uint32_t entry, Ws ws) {
  const std::uint8_t cls = rd8(ws, entry + se::Class) & kClassMask;
  if (cls != TC_VALUE && cls != TC_SPECIAL && cls != TC_LEFTARG) synter_noarray(ws);
  find_ws_entry(entry, ws);  // VALUE ERROR for a missing value
  const std::uint32_t word = (rd8(ws, entry + se::Class) & kOwnsObject)
                                 ? entry + se::Value
                                 : entry_of_token(rd16(ws, entry + se::Value)) + sym::Value;
  describe(mask, at, word, ws);
}

void xopafx_nest(std::uint32_t mask, std::uint32_t at, std::uint32_t word, Ws ws) { describe(mask, at, word, ws); }

void no_left_argument(Ws ws) {
  wr8(ws, hdr::LeftDesc + desc::Type, 0);
  wr32(ws, hdr::LeftDesc + desc::OffsetWord, rd32(ws, hdr::Top) - 4);
}

std::uint32_t oprslt(std::uint32_t count, std::uint32_t rank4, std::uint8_t type, std::uint32_t extra, Ws ws,
                     bool at_top) {
  wr16(ws, hdr::ResultDesc + desc::Bits, 0);
  const bool nest = rd8(ws, hdr::ResultBits) & rbits::NestArea;
  std::uint32_t entry = 0;
  if (!nest) entry = stack(StackEntry{0, kSeResult, 0}, ws);
  wr8(ws, hdr::ResultDesc + desc::Type, type);
  wr32(ws, hdr::ResultDesc + desc::Count, count);
  wr32(ws, hdr::ResultCount, count);
  if (count > 0x7FFFFFFFu) xwsfll(ws);
  std::uint64_t bytes;
  switch (type) {
    case ET_BOOL: bytes = count == 0 ? 0 : (std::uint64_t(count - 1) / 32 + 1) * 4; break;
    case ET_INT:
    case ET_OBJREF:
    case ET_NESTED:
    case ET_INDEXVEC:
      if (count >= 0x1FFFFFFF) xwsfll(ws);
      bytes = std::uint64_t(count) * 4 + (type == ET_NESTED ? extra : 0);
      break;
    case ET_FLOAT:
      if (count >= 0xFFFFFFF) xwsfll(ws);
      bytes = std::uint64_t(count) * 8;
      break;
    case ET_WIDE16:
      if (count >= 0x7FFFFFF) xwsfll(ws);
      bytes = std::uint64_t(count) * 16;
      break;
    case ET_CHAR: bytes = count; break;
    default: noncer_1(ws);
  }
  wr32(ws, hdr::ResultDesc + desc::Step, element_size(type));
  wr32(ws, hdr::ResultDesc + desc::First, obj::Shape + rank4);
  wr32(ws, hdr::ResultDesc + desc::Cursor, obj::Shape + rank4);
  const std::uint64_t n = bytes + rank4 + 4;
  if (n > 0xFFFFFF00u) xwsfll(ws);
  std::uint32_t off;
  if (nest) {
    off = getspc_nest(static_cast<std::uint32_t>(n), ws);
    wr32(ws, hdr::ResultDesc + desc::NestResult, off);
    wr32(ws, hdr::ResultDesc + desc::OffsetWord, hdr::ResultDesc + desc::NestResult);
  } else {
    off = at_top || type == ET_NESTED ? getspc(static_cast<std::uint32_t>(n), ws)
                                      : getspc_placed(static_cast<std::uint32_t>(n), ws);
    settle_entry(entry, StackEntry{static_cast<std::uint8_t>(kOwnsObject | TC_VALUE), kSeResult, off}, ws);
    wr32(ws, hdr::ResultDesc + desc::OffsetWord, entry + se::Value);
  }
  if (type == ET_NESTED) wr32(ws, hdr::ResultDesc + desc::Word, obj::Shape + rank4 + 4 * count);
  wr8(ws, off + obj::Type, type);
  wr8(ws, off + obj::Flags9, 0);
  wr16(ws, off + obj::Rank4, rank4);
  return off + obj::Shape;
}

std::uint32_t xdy_shape(Ws ws) {
  const std::uint8_t lf = rd8(ws, hdr::LeftDesc + desc::Shape);
  const std::uint8_t rf = rd8(ws, hdr::RightDesc + desc::Shape);
  const std::uint32_t la = desc_array(hdr::LeftDesc, ws);
  const std::uint32_t ra = desc_array(hdr::RightDesc, ws);
  const bool lsingle = lf & kShapeSingle, rsingle = rf & kShapeSingle;
  if (!lsingle && !rsingle) {
    const std::uint32_t rank = array_rank(la, ws);
    if (rank != array_rank(ra, ws)) ranker(ws);
    for (std::uint32_t i = 0; i < rank; ++i)
      if (rd32(ws, la + obj::Shape + 4 * i) != rd32(ws, ra + obj::Shape + 4 * i)) lener(ws);
    return hdr::LeftDesc;
  }
  if (!lsingle) return hdr::LeftDesc;
  if (!rsingle) return hdr::RightDesc;
  const bool lheld = lf & kShapeHeld, rheld = rf & kShapeHeld;
  if (lheld != rheld) return lheld ? hdr::RightDesc : hdr::LeftDesc;
  if (lheld) return hdr::LeftDesc;
  return array_rank(ra, ws) > array_rank(la, ws) ? hdr::RightDesc : hdr::LeftDesc;
}

std::uint8_t xoprfs(std::uint32_t flags, Ws ws) {
  if (flags & 0x10) return ET_FLOAT;
  if (flags & 0x4) return ET_BOOL;
  const std::uint8_t lt = rd8(ws, hdr::LeftDesc + desc::Type);
  const std::uint8_t rt = rd8(ws, hdr::RightDesc + desc::Type);
  if ((lt | rt) < 8) return ET_INT;
  if (lt == 0 && (flags & 0x80)) return ET_INT;
  return ET_FLOAT;
}

void xoprfx(std::uint8_t type, std::uint32_t source, Ws ws) {
  if (rd8(ws, source + desc::Shape) & kShapeHeld) {
    oprslt(1, 0, type, 0, ws);
    return;
  }
  const std::uint32_t count = rd32(ws, source + desc::Count);
  const std::uint32_t rank4 = rd16(ws, desc_array(source, ws) + obj::Rank4);
  const std::uint32_t shape = oprslt(count, rank4, type, 0, ws);
  // The source may have moved while the result was allocated.
  const std::uint32_t src = desc_array(source, ws) + obj::Shape;
  std::memmove(ws + shape, ws + src, rank4);
}

void xopftc(std::uint32_t at, Ws ws) {
  set_desc_reg(hdr::ResultDesc, Extended80{}, ws);
  ArgDescriptor d = load_desc(at, ws);
  const std::uint32_t array = desc_array(at, ws);
  std::uint8_t reg[kExtended80Bytes] = {};
  switch (d.type) {
    case ET_BOOL:
      store_x80(reg, next_bit(d, ws, array) ? x80const::one : x80const::fpzero);
      store_desc(at, d, ws);
      std::memcpy(ws + reg_of(at), reg, sizeof reg);
      return;
    case ET_INT: store_x80(reg, intflt(rdi32(ws, array + d.cursor))); break;
    case ET_FLOAT: {
      double v;
      std::memcpy(&v, ws + array + d.cursor, 8);
      store_x80(reg, fltdb(v));
      break;
    }
    case ET_CHAR: reg[0] = rd8(ws, array + d.cursor); break;
    case ET_OBJREF: std::memcpy(reg, ws + array + d.cursor, 4); break;
    default: ZEMA_SYSTEM_ERROR(ws);
  }
  d.cursor += d.step;
  store_desc(at, d, ws);
  std::memcpy(ws + reg_of(at), reg, sizeof reg);
}

void bump_argument(std::uint32_t at, Ws ws) {
  ArgDescriptor d = load_desc(at, ws);
  if (d.step == 0) return;
  if (d.type == ET_BOOL) {
    next_bit(d, ws, desc_array(at, ws));
  } else {
    d.cursor += d.step;
  }
  store_desc(at, d, ws);
}

int stuff_value(Ws ws) {
  ArgDescriptor d = load_desc(hdr::ResultDesc, ws);
  const std::uint32_t array = desc_array(hdr::ResultDesc, ws);
  const std::uint8_t* z = ws + reg_of(hdr::ResultDesc);
  switch (d.type) {
    case ET_BOOL: {
      const Extended80 v = load_x80(z);
      d.word = (d.word << 1) | (v.mant_hi != 0 ? 1u : 0u);
      ++d.bits;
      if (d.bits == 32 || d.count == 1) {
        wr32(ws, array + d.cursor, d.word << (32 - d.bits));
        d.cursor += 4;
        d.bits = 0;
        d.word = 0;
      }
      break;
    }
    case ET_INT: {
      std::int32_t v;
      if (!fltint(load_x80(z), v)) return 8;
      wr32(ws, array + d.cursor, static_cast<std::uint32_t>(v));
      d.cursor += 4;
      break;
    }
    case ET_FLOAT: {
      double v;
      if (!dblflt(load_x80(z), v)) domner(ws);
      std::memcpy(ws + array + d.cursor, &v, 8);
      d.cursor += 8;
      break;
    }
    case ET_CHAR: wr8(ws, array + d.cursor, z[0]); d.cursor += 1; break;
    case ET_OBJREF: std::memcpy(ws + array + d.cursor, z, 4); d.cursor += 4; break;
    default: ZEMA_SYSTEM_ERROR(ws);
  }
  --d.count;
  store_desc(hdr::ResultDesc, d, ws);
  return d.count == 0 ? 4 : 0;
}

void point_nth(std::uint32_t n, std::uint32_t at, Ws ws) {
  ArgDescriptor d = load_desc(at, ws);
  if (d.type == ET_BOOL) {
    d.cursor = d.first + 4 * (n / 32);
    d.word = rd32(ws, desc_array(at, ws) + d.cursor) << (n % 32);
    d.cursor += 4;
    d.bits = 1;
  } else {
    d.cursor = d.first + n * element_size(d.type);
  }
  store_desc(at, d, ws);
}

void fetch_nth(std::uint32_t n, std::uint32_t at, Ws ws) {
  const ArgDescriptor d = load_desc(at, ws);
  const std::uint32_t data = desc_array(at, ws) + d.first;
  std::uint8_t reg[kExtended80Bytes] = {};
  switch (d.type) {
    case ET_BOOL:
      store_x80(reg, (rd32(ws, data + 4 * (n / 32)) >> (31 - n % 32)) & 1 ? x80const::one : x80const::fpzero);
      break;
    case ET_INT: store_x80(reg, intflt(rdi32(ws, data + 4 * n))); break;
    case ET_FLOAT: {
      double v;
      std::memcpy(&v, ws + data + 8 * n, 8);
      store_x80(reg, fltdb(v));
      break;
    }
    case ET_CHAR: reg[0] = rd8(ws, data + n); break;
    case ET_OBJREF:
    case ET_NESTED: std::memcpy(reg, ws + data + 4 * n, 4); break;
    default: ZEMA_SYSTEM_ERROR(ws);
  }
  std::memcpy(ws + reg_of(at), reg, sizeof reg);
}

SavedArgs save_args(Ws ws) {
  return SavedArgs{load_desc(hdr::LeftDesc, ws), load_desc(hdr::RightDesc, ws), rd32(ws, hdr::LeftItem),
                   rd32(ws, hdr::RightItem)};
}

void restore_args(const SavedArgs& s, Ws ws) {
  store_desc(hdr::LeftDesc, s.left, ws);
  store_desc(hdr::RightDesc, s.right, ws);
  wr32(ws, hdr::LeftItem, s.left_item);
  wr32(ws, hdr::RightItem, s.right_item);
}

std::uint32_t xoproe(Ws ws) {
  const std::uint32_t flags = call_flags(ws) | 0x10;
  set_call_flags(flags, ws);
  if (rd8(ws, hdr::ResultBits) & rbits::NestArea) {
    wr32(ws, hdr::NestLow, rd32(ws, hdr::ResultDesc + desc::NestResult));
  } else {
    StackEntry e;
    unstack(e, ws);
    release_entry(e, ws);
  }
  return flags;
}

}  // namespace zema
