// The SYSTEM ERROR dump made loadable: the state indicator unwound in place.
#include "interpreter/session/ws_dump.h"

#include <algorithm>
#include <cstring>
#include <iterator>

#include "interpreter/engine/call.h"
#include "interpreter/engine/function_object.h"
#include "interpreter/session/load_check.h"
#include "interpreter/workspace/integrity.h"
#include "interpreter/workspace/stack.h"
#include "interpreter/workspace/symtab.h"
#include "interpreter/workspace/sysvar_slots.h"

namespace zema {

namespace {

class Unwinder {
 public:
  explicit Unwinder(Ws ws)
      : ws_(ws),
        size_(lowglobals(ws).ws_size & ~3u),
        heap_top_(rd32(ws, hdr::HeapTop)),
        top_(rd32(ws, hdr::Top)),
        sp_(rd32(ws, hdr::StackPointer)) {}

  bool run() {
    if (top_ > size_ || top_ < 4 || sp_ > top_ - 4 || heap_top_ < kHeapStart || heap_top_ > sp_) return false;
    if (!heap_walks()) return false;
    unwind_frames();
    release_orphans();
    reset_header();
    return check_integrity(ws_) == 0 && check_loaded_image(ws_) == 0;
  }

 private:
  bool heap_walks() const {
    std::uint64_t off = kFirstOwnerWord + 4;
    while (off < heap_top_) {
      const std::uint32_t size = rd32(ws_, static_cast<std::uint32_t>(off) + obj::Size);
      if (size < 12 || (size & 3) || off + size + 4 > heap_top_ + 4) return false;
      off += size + 4;
    }
    return off == heap_top_;
  }
  // Whether `o` may be an object's offset (the heap walk decides).
  bool in_heap(std::uint32_t o) const { return o > kFirstOwnerWord && o + 12 <= heap_top_ && (o & 3) == 0; }

  void release(std::uint32_t o) {
    if (in_heap(o)) wr8(ws_, o + obj::Kind, rd8(ws_, o + obj::Kind) | kReleased);
  }

  // Each level, newest first: its records give their names back the
  // saved values, lowest record first as a return does.
  void unwind_frames() {
    std::uint32_t link = rd32(ws_, hdr::SiLink);
    for (int levels = 0; levels < 100000; ++levels) {
      if (link < sp_ + siframe::Link || link > top_ - 4) return;
      const std::uint32_t next = rd32(ws_, link);
      if (next == 0) return;
      const std::uint32_t frame = link - siframe::Link;
      const std::uint32_t records =
          static_cast<std::uint32_t>(static_cast<std::int16_t>(rd16(ws_, frame + siframe::Count)) + 1);
      if (records <= 0x8000 && std::uint64_t(siframe::RecordSize) * records <= frame - sp_)
        for (std::uint32_t i = records; i-- > 0;) restore(frame - siframe::RecordSize * (i + 1), frame);
      if (next <= link) return;
      link = next;
    }
  }

  void restore(std::uint32_t r, std::uint32_t frame) {
    const std::uint8_t kind = rd8(ws_, r);
    if (kind == kRecControl || kind == kRecEmpty) return;  // controls: released with the stack
    const std::uint16_t token = rd16(ws_, r + 2);
    if ((token & 1) || token / 2 >= kSymtabEntries) return;
    const std::uint32_t e = entry_of_token(token);
    const std::uint8_t type = rd8(ws_, e + sym::Type) & kSymTypeMask;
    const std::uint32_t saved = rd32(ws_, r + 4);
    const std::uint8_t saved_type = rd8(ws_, r + 8);
    if (type == SYM_SYSVAR) {
      if (kind == kRecRL) wr32(ws_, hdr::QuadRL, saved);
      if (kind == kRecCT) std::memcpy(ws_ + hdr::QuadCT, ws_ + frame + siframe::Ct, 10);
      if (kind != kRecName) return;
      wr8(ws_, e + sym::Type, saved_type);
      if (e == sysvar_entry(sysvar::LX) || e == sysvar_entry(sysvar::FC)) {
        release(rd32(ws_, e + sym::Value));
        own(saved, e);
      }
      wr32(ws_, e + sym::Value, saved);
      return;
    }
    // The local value goes (a function with all its lines), the saved one
    // comes back.
    const std::uint32_t v = rd32(ws_, e + sym::Value);
    if (is_function_type(type)) {
      for (std::uint32_t line = v, n = 0; in_heap(line) && n < heap_top_ / 16; ++n) {
        release(line);
        line = rd32(ws_, line + fnl::Next);
      }
    } else if (type != SYM_UNDEF && type != SYM_SYSFN && type != SYM_SYSFN0) {
      release(v);
    }
    wr32(ws_, e + sym::Value, saved);
    wr8(ws_, e + sym::Type, saved_type);
    const std::uint8_t t = saved_type & kSymTypeMask;
    if (t != SYM_UNDEF && t != SYM_SYSFN && t != SYM_SYSFN0 && t != SYM_SYSVAR) own(saved, e);
  }

  // The object at `o` is owned by symbol entry `e` (owner kind 4).
  void own(std::uint32_t o, std::uint32_t e) {
    if (!in_heap(o)) return;
    wr32(ws_, o - 4, e);
    wr8(ws_, o + obj::Kind, static_cast<std::uint8_t>((rd8(ws_, o + obj::Kind) & 0xF0) | OK_SYMBOL));
  }

  // Releases every object whose one slot goes with the stack or the
  // engine's registers, or no longer holds it (a local value given up),
  // with the lines chained from a released line.
  void release_orphans() {
    const std::uint32_t registers[] = {hdr::CurrentLine, hdr::KillSlot, hdr::TokenRegister + se::Value,
                                       hdr::ErrorMessage, hdr::OwnMessageText};
    for (std::uint32_t off = kFirstOwnerWord + 4; off < heap_top_; off += rd32(ws_, off + obj::Size) + 4) {
      const std::uint8_t k = rd8(ws_, off + obj::Kind);
      if (k & kReleased) continue;
      const std::uint32_t owner = rd32(ws_, off - 4);
      std::uint64_t place;
      switch (k & 0x0F) {
        case OK_WORD: place = owner; break;
        case OK_STACK: place = std::uint64_t(owner) + 2; break;
        case OK_SYMBOL: place = std::uint64_t(owner) + 4; break;
        case OK_NEXTLINE: continue;  // goes with the line before it
        default: continue;           // pooled objects stay, held by their slots
      }
      const bool orphan = (place >= sp_ && place < top_) ||
                          std::find(std::begin(registers), std::end(registers), place) != std::end(registers) ||
                          place + 4 > size_ || rd32(ws_, static_cast<std::uint32_t>(place)) != off;
      if (!orphan) continue;
      release(off);
      // The lines owned one by the other from it.
      std::uint32_t line = off;
      for (std::uint32_t n = 0; n < heap_top_ / 16; ++n) {
        const std::uint32_t next = rd32(ws_, line + fnl::Next);
        if (!in_heap(next) || rd32(ws_, next - 4) != line || (rd8(ws_, next + obj::Kind) & 0x0F) != OK_NEXTLINE) break;
        release(next);
        line = next;
      }
    }
    // The garbage: every released object, from the lowest.
    std::uint32_t lowest = 0;
    std::uint32_t garbage = 0;
    for (std::uint32_t off = kFirstOwnerWord + 4; off < heap_top_; off += rd32(ws_, off + obj::Size) + 4) {
      if (!(rd8(ws_, off + obj::Kind) & kReleased)) continue;
      if (lowest == 0) lowest = off;
      garbage += rd32(ws_, off + obj::Size) + 4;
    }
    wr32(ws_, hdr::LowestReleased, lowest);
    wr32(ws_, hdr::Garbage, garbage);
  }

  // The registers and state words of immediate execution, an empty stack.
  void reset_header() {
    wr32(ws_, top_ - 4, 0);
    wr32(ws_, hdr::StackPointer, top_ - 4);
    wr32(ws_, hdr::SiLink, top_ - 4);
    wr16(ws_, hdr::State, st::NotFunctionLine);
    for (std::uint32_t w : {hdr::CurrentLine, hdr::KillSlot, hdr::ErrorMessage, hdr::OwnMessageText,
                            hdr::RunningSymbol, hdr::TrapWord, hdr::CurrentInstance, hdr::CallingInstance,
                            hdr::ClassDefining, hdr::LineCursor, hdr::FnLineNumber, hdr::TokensTaken})
      wr32(ws_, w, 0);
    wr16(ws_, hdr::RunningToken, 0);
    wr16(ws_, hdr::ClassWord, 0);
    std::memset(ws_ + hdr::TokenRegister, 0, 6);
    std::memset(ws_ + hdr::ImmediateCs, 0, 12);
    wr8(ws_, hdr::EvalKind, 0);
    wr8(ws_, hdr::RunningSymType, 0);
    wr8(ws_, hdr::OutputBits, 0);
    wr8(ws_, hdr::MultiDisplay, 0);
    wr8(ws_, hdr::MiscBits, rd8(ws_, hdr::MiscBits) & ~0xC1);
    wr8(ws_, hdr::ResultBits, 0);
    wr8(ws_, hdr::SelectBits, 0);
  }

  Ws ws_;
  std::uint32_t size_, heap_top_, top_, sp_;
};

}  // namespace

bool make_dump_loadable(Ws ws) { return Unwinder(ws).run(); }

}  // namespace zema
