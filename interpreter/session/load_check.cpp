// The load check: objects, links and state words of a loaded image.
#include "interpreter/session/load_check.h"

#include <algorithm>
#include <cstring>
#include <vector>

#include "interpreter/engine/call.h"
#include "interpreter/engine/evaluation.h"
#include "interpreter/engine/function_object.h"
#include "interpreter/engine/method_calls.h"
#include "interpreter/reader/token_format.h"
#include "interpreter/workspace/object_pool.h"
#include "interpreter/workspace/stack.h"
#include "interpreter/workspace/symtab.h"
#include "interpreter/workspace/sysvar_slots.h"

namespace zema {

namespace {

// What failed (the answer of check_loaded_image).
enum Failure : int {
  kOk = 0,
  kStateWord = 20,      // engine state word, output bits or misc bits
  kRunningFunction = 21,
  kGarbageWords = 22,   // lowest released object and garbage count
  kHeaderObject = 23,   // an object word of the header
  kInstanceWord = 24,   // current or calling instance
  kPool = 25,
  kArray = 26,
  kTokenLine = 27,
  kFunction = 28,       // a function's header line or line chain
  kSymbol = 29,
  kPooledObject = 30,   // an instance or class
  kOwner = 31,          // an owner that cannot own the object
  kFrame = 32,          // a state-indicator frame or local record
  kDerived = 33,
  kClassWords = 34,
};

constexpr std::uint32_t kMaxRank = 63;
constexpr int kMaxDepth = 100;
// The smallest derived function, and where its embedded operand lies.
constexpr std::uint32_t kDerivedMinSize = 53;
constexpr std::uint32_t kDerivedOperandClass = 18;
constexpr std::uint32_t kDerivedEmbedded = 42;
constexpr std::uint8_t kEmbeddedArray = 0x80;
// Engine state bits a saved workspace never holds: they belong to an
// operation that ends before a )SAVE can run (definition, copy, fix from
// text, capture, ⍞ input, listing).
constexpr std::uint16_t kTransientStateBits = st::ListDigits | st::Defining | st::OwnMessage | st::Copying |
                                              st::CaptureOverflow | st::FixingText | st::Capturing |
                                              st::QuoteQuadInput;
// Output bits that only an output operation holds (log only, one line
// shown, capture, overflow, quotes doubled) and the multiple-display bit.
constexpr std::uint8_t kTransientOutputBits = 0x80 | 0x40 | 0x04 | 0x02 | 0x01;
// Misc bits held only inside an operation: a pick shortcut pending, a
// primitive's line set up, a pool sweep running.
constexpr std::uint8_t kTransientMiscBits = 0x01 | 0x40 | 0x80;

class Checker {
 public:
  explicit Checker(Ws ws)
      : ws_(ws),
        heap_top_(rd32(ws, hdr::HeapTop)),
        top_(rd32(ws, hdr::Top)),
        sp_(rd32(ws, hdr::StackPointer)),
        pool_(rd32(ws, hdr::ObjectPool)),
        live_((heap_top_ / 4 + 63) / 64, 0) {}

  int run() {
    map_heap();
    // The words that hold a line being run: a function's line or a copy
    // of it (which need not carry the token-line mark), or a typed line.
    line_slots_ = {hdr::CurrentLine, hdr::KillSlot};
    for (std::uint32_t link = rd32(ws_, hdr::SiLink); rd32(ws_, link) != 0; link = rd32(ws_, link))
      if (link >= siframe::Link) line_slots_.push_back(link - siframe::Link + siframe::Line);
    if (pool_ != 0) {
      if (!is_object_owned_by(pool_, hdr::ObjectPool) || rd8(ws_, pool_ + obj::Type) != ET_POOL) return kPool;
      const std::uint32_t size = rd32(ws_, pool_ + obj::Size);
      const std::uint64_t capacity = rd32(ws_, pool_ + pool::Capacity);
      if (size < pool::Table || pool::Table + 4 * capacity > size) return kPool;
      if (!object_pool_consistent(ws_)) return kPool;
      capacity_ = static_cast<std::uint32_t>(capacity);
    }
    if (int r = check_header()) return r;
    // Objects first: a function's lines are then sound token lines.
    if (int r = check_objects()) return r;
    if (int r = check_symbols()) return r;
    return check_frames();
  }

 private:
  // ---- the map of live objects ----------------------------------------------------------

  void map_heap() {
    std::uint64_t off = kFirstOwnerWord + 4;
    while (off < heap_top_) {
      const std::uint32_t o = static_cast<std::uint32_t>(off);
      if (!(rd8(ws_, o) & kReleased)) live_[o / 4 / 64] |= std::uint64_t(1) << (o / 4 % 64);
      off += rd32(ws_, o + obj::Size) + 4;  // sizes were checked by the integrity check
    }
  }
  bool is_live(std::uint32_t o) const {
    return o > kFirstOwnerWord && o < heap_top_ && (o & 3) == 0 && (live_[o / 4 / 64] >> (o / 4 % 64) & 1);
  }
  // The place an object's owner word and kind lead to.
  std::uint64_t owner_place(std::uint32_t o) const {
    const std::uint32_t owner = rd32(ws_, o - 4);
    switch (rd8(ws_, o + obj::Kind) & 0x0F) {
      case OK_WORD: return owner;
      case OK_STACK: return std::uint64_t(owner) + 2;
      case OK_SYMBOL: return std::uint64_t(owner) + 4;
      case OK_NEXTLINE: return std::uint64_t(owner) + 8;
      default: return ~std::uint64_t(0);  // pooled objects: their slot, checked with the pool
    }
  }
  // Whether `o` is a live object whose one slot is the word at `place`.
  bool is_object_owned_by(std::uint32_t o, std::uint32_t place) const {
    return is_live(o) && owner_place(o) == place;
  }
  // The same, or 0.
  bool holds_nothing_or_owned(std::uint32_t place) const {
    const std::uint32_t o = rd32(ws_, place);
    return o == 0 || is_object_owned_by(o, place);
  }
  bool valid_token(std::uint32_t token) const { return (token & 1) == 0 && token / 2 < kSymtabEntries; }
  bool name_in_use(std::uint32_t token) const {
    return valid_token(token) && rd8(ws_, entry_of_token(token) + sym::Length) != 0;
  }
  bool valid_slot(std::uint32_t slot) const { return slot == 0 || (pool_ != 0 && slot < capacity_); }
  // A pool slot holding a live object of element type `type`.
  bool live_slot_of(std::uint32_t slot, std::uint8_t type) const {
    if (pool_ == 0 || slot == 0 || slot >= capacity_) return false;
    const std::uint32_t o = rd32(ws_, pool_ + pool::Table + 4 * slot);
    return is_live(o) && rd8(ws_, o + obj::Type) == type;
  }

  // ---- the header ----------------------------------------------------------------------------

  int check_header() {
    const bool si_empty = rd32(ws_, rd32(ws_, hdr::SiLink)) == 0;
    const std::uint16_t state = rd16(ws_, hdr::State);
    if (int r = check_state_word(state, si_empty)) return r;
    // Immediate execution traps nothing: a trap word belongs to a
    // function's line or an executed text.
    if ((state & (st::NotFunctionLine | st::ExecuteRunning | st::ValueAwaited)) == st::NotFunctionLine &&
        rd32(ws_, hdr::TrapWord) != 0)
      return kStateWord;
    if (rd8(ws_, hdr::OutputBits) & kTransientOutputBits) return kStateWord;
    if (rd8(ws_, hdr::MultiDisplay) != 0) return kStateWord;
    if (rd8(ws_, hdr::MiscBits) & kTransientMiscBits) return kStateWord;
    if (!running_function_sound(rd32(ws_, hdr::RunningSymbol), rd16(ws_, hdr::RunningToken))) return kRunningFunction;

    // Garbage: no released object without a lowest one, none below it,
    // and (the integrity check) those above it adding up to the count.
    const std::uint32_t lowest = rd32(ws_, hdr::LowestReleased);
    if (lowest == 0 && rd32(ws_, hdr::Garbage) != 0) return kGarbageWords;
    if (lowest != 0 && (lowest < kFirstOwnerWord + 4 || lowest >= heap_top_)) return kGarbageWords;
    bool boundary = lowest == 0;
    for (std::uint64_t off = kFirstOwnerWord + 4; off < heap_top_;) {
      const std::uint32_t o = static_cast<std::uint32_t>(off);
      if (o == lowest) boundary = true;
      if ((rd8(ws_, o) & kReleased) && (lowest == 0 || o < lowest)) return kGarbageWords;
      off += rd32(ws_, o + obj::Size) + 4;
    }
    if (!boundary) return kGarbageWords;

    // Object words: a token line (current line, kill slot), a message.
    for (std::uint32_t place : {hdr::CurrentLine, hdr::KillSlot}) {
      const std::uint32_t o = rd32(ws_, place);
      if (o != 0 && !is_object_owned_by(o, place)) return kHeaderObject;
    }
    for (std::uint32_t place : {hdr::ErrorMessage, hdr::OwnMessageText}) {
      const std::uint32_t o = rd32(ws_, place);
      if (o != 0 && (!is_object_owned_by(o, place) || check_array(o, o + rd32(ws_, o + obj::Size), 0) != kOk))
        return kHeaderObject;
    }
    const std::uint32_t line = rd32(ws_, hdr::CurrentLine);
    if (line != 0 && rd32(ws_, hdr::LineCursor) > rd32(ws_, line + obj::Size)) return kHeaderObject;

    if (!register_sound(hdr::TokenRegister)) return kHeaderObject;
    for (std::uint32_t w : {hdr::CurrentInstance, hdr::CallingInstance}) {
      const std::uint32_t slot = rd32(ws_, w);
      if (slot != 0 && !live_slot_of(slot, ET_INSTANCE)) return kInstanceWord;
    }
    // No class is being defined in a saved workspace.
    if (rd32(ws_, hdr::ClassDefining) != 0 || rd16(ws_, hdr::ClassWord) != 0) return kClassWords;
    return kOk;
  }

  // A state word as a level of a saved workspace can hold: nothing of an
  // operation that cannot be under way at a save; the bare immediate
  // state when nothing is suspended.
  static int check_state_word(std::uint16_t state, bool si_empty) {
    if (state & kTransientStateBits) return kStateWord;
    if (si_empty && (state & ~(st::AttentionSeen | st::PassErrors)) != st::NotFunctionLine) return kStateWord;
    return kOk;
  }

  // The running function's symbol and token agree: none in immediate
  // execution; else the entry of the token, the record that saved it
  // when the function localises its own name, or a method's level.
  bool running_function_sound(std::uint32_t symbol, std::uint16_t token) const {
    if (token == 0 || token == 0xFFFF) return symbol == 0 || (symbol - kSymtabStart) % kSymtabEntrySize == 0;
    if (!valid_token(token)) return false;
    return symbol == entry_of_token(token) || symbol == kMethodLevel ||
           (symbol >= sp_ && std::uint64_t(symbol) + siframe::RecordSize <= top_);
  }

  // ---- the symbol table ---------------------------------------------------------------------

  int check_symbols() {
    // ⎕LX and ⎕FC hold arrays owned by their entries.
    for (int v : {sysvar::LX, sysvar::FC}) {
      const std::uint32_t place = sysvar_value_word(v);
      const std::uint32_t o = rd32(ws_, place);
      if (o != 0 && (!is_object_owned_by(o, place) || check_array(o, o + rd32(ws_, o + obj::Size), 0) != kOk))
        return kSymbol;
    }
    for (std::uint32_t i = kSymtabFixed; i < kSymtabEntries; ++i) {
      const std::uint32_t e = kSymtabStart + kSymtabEntrySize * i;
      const std::uint32_t length = rd8(ws_, e + sym::Length);
      if (length == 0) continue;
      if (length > 3 && !is_object_owned_by(rd32(ws_, e + sym::Name), e + sym::Name)) return kSymbol;
      if (int r = check_value(e + sym::Value, rd8(ws_, e + sym::Type) & kSymTypeMask)) return r;
    }
    return kOk;
  }

  // The value in the word at `place` (a symbol's or a saved local's) as
  // a name of `type` holds it.
  int check_value(std::uint32_t place, std::uint8_t type) const {
    const std::uint32_t value = rd32(ws_, place);
    switch (type) {
      case SYM_UNDEF:
      case SYM_SYSVAR:
      case SYM_SYSFN:
      case SYM_SYSFN0: return kOk;
      case SYM_VAR:
      case SYM_LABEL:
      case SYM_CLASS:
        if (!is_object_owned_by(value, place)) return kSymbol;
        return check_array(value, value + rd32(ws_, value + obj::Size), 0);
      case SYM_SHARED:
      case SYM_GROUP:
      case SYM_OPERAND: return is_object_owned_by(value, place) ? kOk : kSymbol;
      default: return is_function_type(type) ? check_function(value, place, type) : kSymbol;
    }
  }

  // A function or operator whose header line is `header`, owned by the
  // word at `place`: a header line, then body lines each owned by the
  // line before it.
  int check_function(std::uint32_t header, std::uint32_t place, std::uint8_t type) const {
    if (!is_object_owned_by(header, place)) return kFunction;
    const std::uint8_t marks = rd8(ws_, header + fnl::Marks);
    if (!(marks & kHoldsTokenLines) || !(marks & fnmark::Header)) return kFunction;
    const std::uint16_t word = rd16(ws_, header + fnl::HeaderWord);
    if ((word & 0xFF) > 2) return kFunction;
    // The local names a call reads from the header, at the places it
    // reads them: inside the header's statement, each a name in use.
    if (get_le16(ws_, header + tl::Body) == kLongLengthMark) return kFunction;
    const std::uint32_t statement_end = header + tl::Body + get_statement_length(ws_, header + tl::Body);
    const int code = static_cast<int>(word & 0xFF) - 1;
    std::uint32_t cursor = header + fnl::Names + ((word & kExplicitResult) ? 3 : 0) +
                           2 * (code < 0 ? 1 : code == 0 ? 2 : 3);
    if (type >= SYM_OP_FIRST && type <= SYM_OP_LAST) cursor += 2 * static_cast<std::uint32_t>((type - 9) / 2) + 2;
    const std::uint32_t locals = rd16(ws_, header + fnl::Locals);
    if (std::uint64_t(cursor) + 3 * std::uint64_t(locals) > statement_end) return kFunction;
    for (std::uint32_t i = 0; i < locals; ++i, cursor += 3) {
      const std::uint32_t token = (std::uint32_t(rd8(ws_, cursor + 1)) << 8) | rd8(ws_, cursor + 2);
      if (!name_in_use(token)) return kFunction;
      const std::uint8_t t = rd8(ws_, entry_of_token(token) + sym::Type) & kSymTypeMask;
      if (t == SYM_SYSFN || t == SYM_SYSFN0) return kFunction;
    }
    if (word & kExplicitResult) {
      const std::uint32_t token = (std::uint32_t(rd8(ws_, header + fnl::Names)) << 8) | rd8(ws_, header + fnl::Names + 1);
      if (!name_in_use(token)) return kFunction;
    }
    std::uint32_t line = header;
    for (std::uint32_t next; (next = rd32(ws_, line + fnl::Next)) != 0; line = next) {
      if (!is_object_owned_by(next, line + fnl::Next)) return kFunction;
      const std::uint8_t m = rd8(ws_, next + fnl::Marks);
      if (!(m & kHoldsTokenLines) || (m & fnmark::Header)) return kFunction;
    }
    return kOk;
  }

  // ---- objects ------------------------------------------------------------------------------

  int check_objects() {
    for (std::uint64_t off = kFirstOwnerWord + 4; off < heap_top_;) {
      const std::uint32_t o = static_cast<std::uint32_t>(off);
      off += rd32(ws_, o + obj::Size) + 4;
      if (!is_live(o)) continue;
      if (int r = check_object(o)) return r;
    }
    return kOk;
  }

  int check_object(std::uint32_t o) {
    const std::uint8_t kind = rd8(ws_, o + obj::Kind) & 0x0F;
    const std::uint32_t owner = rd32(ws_, o - 4);
    const std::uint32_t end = o + rd32(ws_, o + obj::Size);
    // An object owned by a stack entry has it in the stack or the token
    // register; a line's next line is owned by a token line.
    if (kind == OK_STACK && owner != hdr::TokenRegister && (owner < sp_ || std::uint64_t(owner) + 6 > top_))
      return kOwner;
    if (kind == OK_NEXTLINE && (!is_live(owner) || !(rd8(ws_, owner + obj::Flags1) & kHoldsTokenLines)))
      return kOwner;
    if (rd8(ws_, o + obj::Flags1) & kHoldsTokenLines) return check_token_line(o, end);
    if (kind == OK_WORD && std::find(line_slots_.begin(), line_slots_.end(), owner) != line_slots_.end())
      return check_token_line(o, end);
    if (kind == OK_INSTANCE || kind == OK_CLASS) return check_pooled(o, kind == OK_CLASS ? ET_CLASS : ET_INSTANCE);
    // Objects whose contents are not an array: a long name's, a group's,
    // a shared variable's, an operand's.
    if (kind == OK_WORD && owner >= kSymtabStart && owner < kFirstOwnerWord) return kOk;
    if (kind == OK_SYMBOL && owner >= kBucketArea && owner < kFirstOwnerWord) {
      const std::uint8_t type = rd8(ws_, owner + sym::Type) & kSymTypeMask;
      if (type == SYM_SHARED || type == SYM_GROUP || type == SYM_OPERAND) return kOk;
    }
    switch (rd8(ws_, o + obj::Type)) {
      case ET_POOL: return o == pool_ ? kOk : kPool;
      case ET_CLASS:
      case ET_INSTANCE: return kPooledObject;  // not in the pool
      case ET_DERIVED: return check_derived(o, end, 0);
      default: return check_array(o, end, 0);
    }
  }

  // An array at `a` that ends by `limit`: its type, rank and shape within
  // its size; references to slots of the pool; nested items inside it.
  int check_array(std::uint32_t a, std::uint64_t limit, int depth) const {
    if (depth > kMaxDepth) return kArray;
    const std::uint32_t size = rd32(ws_, a + obj::Size);
    if (size < 12 || (size & 3) || a + std::uint64_t(size) > limit) return kArray;
    // Items of a sound array lie apart, each at least 12 bytes: more visits
    // than that means items shared over and over, which could take for ever.
    if (depth == 0) arrays_left_ = size / 12 + 1;
    if (arrays_left_-- == 0) return kArray;
    const std::uint32_t rank4 = rd16(ws_, a + obj::Rank4);
    if (rank4 & 3 || rank4 / 4 > kMaxRank || 12 + std::uint64_t(rank4) > size) return kArray;
    std::uint64_t n = 1;
    for (std::uint32_t i = 0; i < rank4 / 4; ++i) {
      n *= rd32(ws_, a + obj::Shape + 4 * i);
      if (n > 0xFFFFFFFFu) return kArray;
    }
    const std::uint32_t type = rd8(ws_, a + obj::Type);
    std::uint64_t bytes;
    switch (type) {
      case ET_BOOL: bytes = (n + 31) / 32 * 4; break;
      case ET_INT:
      case ET_OBJREF: bytes = 4 * n; break;
      case ET_FLOAT: bytes = 8 * n; break;
      case ET_CHAR: bytes = n; break;
      case ET_WIDE16: bytes = 16 * n; break;
      case ET_NESTED: bytes = 4 * n; break;
      case ET_INDEXVEC:
        if (rank4 != 4) return kArray;
        bytes = 4;
        break;
      default: return kArray;
    }
    const std::uint32_t data = a + obj::Shape + rank4;
    if (data + bytes > a + std::uint64_t(size)) return kArray;
    if (type == ET_OBJREF) {
      for (std::uint64_t i = 0; i < n; ++i)
        if (!valid_slot(rd32(ws_, data + 4 * static_cast<std::uint32_t>(i)))) return kArray;
    } else if (type == ET_NESTED && n == 0) {
      // An empty nested array carries its prototype item where the
      // offsets would begin.
      if (data < a + size) return check_array(data, a + std::uint64_t(size), depth + 1);
    } else if (type == ET_NESTED) {
      for (std::uint64_t i = 0; i < n; ++i) {
        const std::uint32_t rel = rd32(ws_, data + 4 * static_cast<std::uint32_t>(i));
        if (rel < data + bytes - a || (rel & 3) || std::uint64_t(rel) + 12 > size) return kArray;
        if (int r = check_array(a + rel, a + std::uint64_t(size), depth + 1)) return r;
      }
    }
    return kOk;
  }

  // A derived function: its size, and the array or derived function it
  // may embed.
  int check_derived(std::uint32_t d, std::uint64_t limit, int depth) const {
    if (depth > kMaxDepth) return kDerived;
    const std::uint32_t size = rd32(ws_, d + obj::Size);
    if (size < 12 || d + std::uint64_t(size) > limit) return kDerived;
    if (depth == 0) arrays_left_ = size / 12 + 1;
    if (size <= kDerivedMinSize) return kOk;
    const std::uint32_t inner = d + kDerivedEmbedded;
    const std::uint8_t cls = rd8(ws_, d + kDerivedOperandClass);
    if (cls == kEmbeddedArray) return check_array(inner, d + std::uint64_t(size), depth + 1);
    if (rd8(ws_, inner + obj::Type) == ET_DERIVED && inner + 12 <= d + std::uint64_t(size))
      return check_derived(inner, d + std::uint64_t(size), depth + 1);
    return kOk;
  }

  // A token line ending by `end`: its label, its statements each with
  // its head, and each statement's tokens read from the right as the
  // engine reads them, ending exactly at the head.
  int check_token_line(std::uint32_t line, std::uint32_t end) const {
    if (end < line + tl::Body + 2) return kTokenLine;
    // A label is localised by a call: a name of the workspace's own.
    const std::uint32_t label = rd16(ws_, line + tl::Label);
    if (label != 0) {
      if (!name_in_use(label) || label / 2 < kSymtabFixed) return kTokenLine;
      const std::uint8_t type = rd8(ws_, entry_of_token(label) + sym::Type) & kSymTypeMask;
      if (type == SYM_SYSVAR || type == SYM_SYSFN || type == SYM_SYSFN0) return kTokenLine;
    }
    // A header's names are localised by a call: none is a system function.
    const bool header = (rd8(ws_, line + fnl::Marks) & (kHoldsTokenLines | fnmark::Header)) ==
                        (kHoldsTokenLines | fnmark::Header);
    std::uint32_t s = line + tl::Body;
    for (;;) {
      if (s + 2 > end) return kTokenLine;
      if (get_le16(ws_, s) == 0) return kOk;  // the end marker
      const bool long_form = statement_is_long(ws_, s);
      if (long_form && s + 6 > end) return kTokenLine;
      const std::uint32_t length = get_statement_length(ws_, s);
      const std::uint32_t head = statement_head(long_form);
      if (length < head || std::uint64_t(s) + length + 2 > end) return kTokenLine;
      if (rd8(ws_, s + head - 1) != TT_STATEMENT) return kTokenLine;
      if (!tokens_sound(s + head, s + length, header)) return kTokenLine;
      s += length;
    }
  }

  bool tokens_sound(std::uint32_t first, std::uint32_t cursor, bool header) const {
    while (cursor > first) {
      const std::uint8_t b = rd8(ws_, cursor - 1);
      if (!(b & 1)) {
        // A name: an entry in use.
        if (cursor - first < 2) return false;
        const std::uint32_t token = (std::uint32_t(rd8(ws_, cursor - 2)) << 8) | b;
        if (!name_in_use(token)) return false;
        const std::uint32_t e = entry_of_token(token);
        const std::uint8_t type = rd8(ws_, e + sym::Type) & kSymTypeMask;
        if (header && (type == SYM_SYSFN || type == SYM_SYSFN0)) return false;
        cursor -= 2;
        continue;
      }
      --cursor;  // the tag
      std::uint32_t unit;
      switch (b) {
        case TT_COMMENT:
        case TT_CHARS:
        case TT_DQ_CHARS: unit = 1; break;
        case TT_BOOL: unit = 0; break;
        case TT_INT: unit = 4; break;
        case TT_FLOAT: unit = 8; break;
        default: continue;  // a one-byte token
      }
      if (cursor - first < 2) return false;
      std::uint32_t count = get_le16(ws_, cursor - 2);
      cursor -= 2;
      if (count == kLongLengthMark) {
        if (cursor - first < 4) return false;
        count = get_le32(ws_, cursor - 4);
        cursor -= 4;
      }
      const std::uint64_t bytes = unit == 0 ? (count == 0 ? 0 : (std::uint64_t(count) - 1) / 32 * 4 + 4)
                                            : std::uint64_t(unit) * count;
      if (bytes > cursor - first) return false;
      cursor -= static_cast<std::uint32_t>(bytes);
    }
    return true;
  }

  // An instance or class: its header within its size, its class or
  // parent, name, display text and member entries.
  int check_pooled(std::uint32_t o, std::uint8_t type) const {
    if (rd8(ws_, o + obj::Type) != type) return kPooledObject;
    const std::uint32_t size = rd32(ws_, o + obj::Size);
    if (size < pobj::HeaderSize) return kPooledObject;
    const std::uint64_t count = rd32(ws_, o + pobj::Count);
    if (pobj::Entries + mentry::Size * count > size) return kPooledObject;
    const bool apl = rd8(ws_, o + pobj::Arch) == 0;
    if (type == ET_INSTANCE) {
      if (apl && !live_slot_of(rd32(ws_, o + pobj::ClassSlot), ET_CLASS)) return kPooledObject;
    } else {
      const std::uint32_t parent = rd32(ws_, o + pobj::ParentSlot);
      if (parent != 0 && !live_slot_of(parent, ET_CLASS)) return kPooledObject;
      const std::uint32_t name = rd32(ws_, o + pobj::NameSymbol);
      if (name != 0 && (name % kSymtabEntrySize != 0 || name / kSymtabEntrySize >= kSymtabEntries))
        return kPooledObject;
    }
    const std::uint32_t text = rd32(ws_, o + pobj::DisplayText);
    if (text != 0 && (!is_object_owned_by(text, o + pobj::DisplayText) ||
                      check_array(text, text + rd32(ws_, text + obj::Size), 0) != kOk))
      return kPooledObject;
    if (!apl) return kOk;
    for (std::uint32_t i = 0; i < count; ++i) {
      const std::uint32_t e = o + pobj::Entries + mentry::Size * i;
      if (!valid_token(rd16(ws_, e + mentry::Token))) return kPooledObject;
      const std::uint8_t kind = rd8(ws_, e + mentry::Kind);
      const std::uint32_t place = e + mentry::Value;
      const std::uint32_t value = rd32(ws_, place);
      if (value == 0) continue;
      if (is_function_type(kind)) {
        if (check_function(value, place, kind)) return kPooledObject;
      } else if (!is_object_owned_by(value, place) ||
                 check_array(value, value + rd32(ws_, value + obj::Size), 0) != kOk) {
        return kPooledObject;
      }
    }
    return kOk;
  }

  // ---- the state indicator -----------------------------------------------------------------

  // Each frame (the chain itself was checked before the image was copied
  // in): its words as the header's are checked, and its local records.
  // The stack entries of one level, from `low` up to `high`: the primer
  // on top, and each that owns an object owns it through its value word.
  // An executed text's level (`text_level`) holds its text instead.
  bool entries_sound(std::uint32_t low, std::uint32_t high, bool text_level = false) const {
    // A command run from executed text was saved while the text lay in
    // place of the level's entries: there are none to check.
    if (text_level) return low <= high;
    if (low > high || (high - low) % kStackEntrySize != 0) return false;
    // A level's entries begin (at the top) with the primer, where the
    // release of a level's entries stops.
    if (high > low && !(rd8(ws_, high - kStackEntrySize + se::Class) == primer.cls &&
                        (rd32(ws_, high - kStackEntrySize + se::Value) & 0xFF) == 0))
      return false;
    for (std::uint32_t e = low; e + kStackEntrySize <= high; e += kStackEntrySize)
      if ((rd8(ws_, e + se::Class) & kOwnsObject) && !is_object_owned_by(rd32(ws_, e + se::Value), e + se::Value))
        return false;
    return true;
  }

  int check_frames() const {
    std::uint32_t low = sp_;
    for (std::uint32_t link = rd32(ws_, hdr::SiLink); rd32(ws_, link) != 0; link = rd32(ws_, link)) {
      if (link < low + siframe::Link) return kFrame;
      const std::uint32_t frame = link - siframe::Link;
      const std::uint32_t records = static_cast<std::uint32_t>(static_cast<std::int16_t>(rd16(ws_, frame + siframe::Count)) + 1);
      if (records > 0x8000 || std::uint64_t(siframe::RecordSize) * records > frame - low) return kFrame;
      const bool text_level = low == sp_ && (rd16(ws_, hdr::State) & st::ExecuteRunning) &&
                              (rd32(ws_, hdr::TrapWord) & kTrapTokenising);
      if (!entries_sound(low, frame - siframe::RecordSize * records, text_level)) return kFrame;
      low = rd32(ws_, frame + siframe::StackPointer);
      if (low < link || low > top_ - 4) return kFrame;
    }
    if (!entries_sound(low, top_ - 4)) return kFrame;
    std::uint32_t link = rd32(ws_, hdr::SiLink);
    for (; rd32(ws_, link) != 0; link = rd32(ws_, link)) {
      if (link < sp_ + siframe::Link) return kFrame;
      const std::uint32_t frame = link - siframe::Link;
      const std::uint16_t saved_state = rd16(ws_, frame + siframe::State);
      if (check_state_word(saved_state, false)) return kFrame;
      // The oldest level was called from immediate execution.
      if (rd32(ws_, rd32(ws_, link)) == 0 &&
          (saved_state & (st::NotFunctionLine | st::ExecuteRunning | st::ValueAwaited)) != st::NotFunctionLine)
        return kFrame;
      if (!running_function_sound(rd32(ws_, frame + siframe::RunningSymbol), rd16(ws_, frame + siframe::RunningToken)))
        return kFrame;
      if (!holds_nothing_or_owned(frame + siframe::Pending)) return kFrame;
      const std::uint32_t line = rd32(ws_, frame + siframe::Line);
      if (line != 0) {
        if (!is_object_owned_by(line, frame + siframe::Line)) return kFrame;
        if (rd32(ws_, frame + siframe::Cursor) > rd32(ws_, line + obj::Size)) return kFrame;
      }
      if (!register_sound(frame + siframe::Register)) return kFrame;
      const std::uint32_t saved_sp = rd32(ws_, frame + siframe::StackPointer);
      if (saved_sp < sp_ || saved_sp > top_) return kFrame;
      const std::uint32_t instance = rd32(ws_, frame + siframe::Instance);
      if (instance != 0 && !live_slot_of(instance, ET_INSTANCE)) return kFrame;
      const std::uint32_t records = static_cast<std::uint32_t>(static_cast<std::int16_t>(rd16(ws_, frame + siframe::Count)) + 1);
      if (records > 0x8000 || std::uint64_t(siframe::RecordSize) * records > frame - sp_) return kFrame;
      for (std::uint32_t i = 0; i < records; ++i)
        if (!record_sound(frame - siframe::RecordSize * (i + 1))) return kFrame;
    }
    return kOk;
  }

  // A token register (the header's, or one a frame saved): an object it
  // owns is owned through its value word.
  bool register_sound(std::uint32_t at) const {
    const std::uint32_t v = rd32(ws_, at + se::Value);
    return !(rd8(ws_, at + se::Class) & kOwnsObject) || v == 0 || is_object_owned_by(v, at + se::Value);
  }

  bool record_sound(std::uint32_t r) const {
    const std::uint8_t kind = rd8(ws_, r);
    switch (kind) {
      case kRecEmpty: return true;
      case kRecControl: return holds_nothing_or_owned(r + 4);
      case kRecName:
      case kRecRL:
      case kRecCT:
      case kRecHT:
      case kRecLabel: break;
      default: return false;
    }
    const std::uint32_t token = rd16(ws_, r + 2);
    if (!name_in_use(token)) return false;
    if (kind != kRecName && kind != kRecLabel) return true;
    const std::uint32_t e = entry_of_token(token);
    if ((rd8(ws_, e + sym::Type) & kSymTypeMask) == SYM_SYSVAR && e != sysvar_entry(sysvar::LX) &&
        e != sysvar_entry(sysvar::FC))
      return true;  // a system variable's value itself
    // The saved value goes back to the name with the saved type.
    const std::uint8_t saved_type = rd8(ws_, r + 8) & kSymTypeMask;
    return check_value(r + 4, saved_type) == kOk;
  }

  Ws ws_;
  std::uint32_t heap_top_, top_, sp_, pool_;
  std::uint32_t capacity_ = 0;
  std::vector<std::uint64_t> live_;
  std::vector<std::uint32_t> line_slots_;
  mutable std::uint32_t arrays_left_ = 0;  // visits the array being checked may still take
};

}  // namespace

int check_loaded_image(Ws ws) { return Checker(ws).run(); }

}  // namespace zema
