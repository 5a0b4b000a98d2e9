// The workspace block: layout constants, the header words, LowGlobals and
// byte access at offsets from the workspace base.
//
// Every reference inside the block is a 32-bit byte offset from its base, so
// the block can be saved, loaded, byte-swapped and moved as a unit. The header
// words that name buffers outside the block (restart points, scratch areas) hold
// signed offsets from the base (negative for buffers in LowGlobals) or zero:
// the block never carries a pointer.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>

namespace zema {

// The workspace base. Every interpreter routine takes it as its last argument.
using Ws = std::uint8_t*;

// ---- byte access (unaligned-safe, machine byte order) ----------------------

// rdN answers the unsigned N-bit value at byte offset `off`, rdiN the same
// bits as signed; wrN writes the low N bits of `v` there. Offsets may be
// negative (LowGlobals lies below the base).
inline std::uint8_t rd8(Ws ws, std::int64_t off) { return ws[off]; }
// The 16-bit value at `off`.
inline std::uint16_t rd16(Ws ws, std::int64_t off) {
  std::uint16_t v;
  std::memcpy(&v, ws + off, 2);
  return v;
}
// The same 16 bits, signed.
inline std::int16_t rdi16(Ws ws, std::int64_t off) { return static_cast<std::int16_t>(rd16(ws, off)); }
// The 32-bit value at `off`.
inline std::uint32_t rd32(Ws ws, std::int64_t off) {
  std::uint32_t v;
  std::memcpy(&v, ws + off, 4);
  return v;
}
// The same 32 bits, signed.
inline std::int32_t rdi32(Ws ws, std::int64_t off) { return static_cast<std::int32_t>(rd32(ws, off)); }
// Writes the low 8, 16 or 32 bits of `v` at `off`.
inline void wr8(Ws ws, std::int64_t off, std::uint32_t v) { ws[off] = static_cast<std::uint8_t>(v); }
inline void wr16(Ws ws, std::int64_t off, std::uint32_t v) {
  auto x = static_cast<std::uint16_t>(v);
  std::memcpy(ws + off, &x, 2);
}
inline void wr32(Ws ws, std::int64_t off, std::uint32_t v) { std::memcpy(ws + off, &v, 4); }

// ---- regions ----------------------------------------------------------------

// The block from its base: the header words (hdr::), the symbol table,
// then the heap, whose first object's owner word follows the table.
constexpr std::uint32_t kHeaderSize = 0x3F8;
constexpr std::uint32_t kSymtabStart = 0x3F8;      // the symbol table's base, just after the header
constexpr std::uint32_t kSymtabEntrySize = 16;     // bytes per symbol entry
constexpr std::uint32_t kSymtabEntries = 1042;  // 16 fixed + 27 buckets of 38
constexpr std::uint32_t kSymtabFixed = 16;         // fixed entries (the system variables)
constexpr std::uint32_t kSymtabBuckets = 27;       // buckets: A–Z and everything else
constexpr std::uint32_t kSymtabBucketSize = 38;    // entries per bucket
// The bucket area's room before the heap: a new table's size, the largest
// )SYMBOLS allows (a smaller table leaves the rest of the room zero).
constexpr std::uint32_t kMaxBucketEntries = kSymtabBuckets * kSymtabBucketSize;
constexpr std::uint32_t kFirstOwnerWord = 0x4518;  // owner word of the heap's first object
constexpr std::uint32_t kHeapStart = 0x451C;  // 17,692: heap top of a clear workspace
static_assert(kSymtabStart + kSymtabEntries * kSymtabEntrySize == kFirstOwnerWord);

// Smallest workspace the host accepts, in KB.
constexpr std::uint32_t kMinWsKB = 100;

// ---- header words (offsets from the base) -----------------------------------
namespace hdr {
constexpr std::uint32_t Version = 0x000;          // h: image format version ()SAVE writes 700)
constexpr std::uint32_t Marker1 = 0x002;          // h: 0x3232 / 0x3333
constexpr std::uint32_t Marker2 = 0x004;          // h: 0x03F3
constexpr std::uint32_t Wsid = 0x006;             // length byte and characters
constexpr std::uint32_t WsLock = 0x012;           // 8 bytes
constexpr std::uint32_t WorkArea = 0x038;         // 0x038-0x0FF scratch
constexpr std::uint32_t TextCount = 0x038;        // h: display text buffer count
constexpr std::uint32_t TextChars = 0x03A;        // display text buffer characters
constexpr std::uint32_t SyserLocation = 0x038;    // C string, at most 200 characters
constexpr std::uint32_t OwnMessage = 0x09C;       // program's own error message
constexpr std::uint32_t LibraryLoaded = 0x100;    // w
constexpr std::uint32_t ExecRestart = 0x104;      // w: where the execution restart point lies
constexpr std::uint32_t LineRestart = 0x108;      // w: where the line-entry restart point lies
constexpr std::uint32_t EtMajor = 0x10C;          // h
constexpr std::uint32_t EtMinor = 0x10E;          // h
constexpr std::uint32_t ResultCount = 0x110;      // w
constexpr std::uint32_t ErrorNumber = 0x114;      // w
constexpr std::uint32_t PrimFlags = 0x118;        // w
constexpr std::uint32_t DepthBudget = 0x11C;      // h
constexpr std::uint32_t ErrTokenCount = 0x11E;    // h
constexpr std::uint32_t SelectTarget = 0x120;     // w: line offset of the name an indexed selective target indexes
constexpr std::uint32_t PickSelection = 0x124;    // w
constexpr std::uint32_t MiscBits = 0x128;         // b
constexpr std::uint32_t StepRequest = 0x129;      // b
constexpr std::uint32_t FirstTag = 0x12A;         // b
constexpr std::uint32_t PackagedWsSize = 0x12C;   // w
constexpr std::uint32_t LoadedWsSize = 0x130;     // w
constexpr std::uint32_t Top = 0x134;              // w: offset just past the execution stack
constexpr std::uint32_t SaveTime = 0x138;         // w
constexpr std::uint32_t SaveDate = 0x13C;         // w
constexpr std::uint32_t WorkWord = 0x140;         // w
constexpr std::uint32_t SiLink = 0x144;           // w
constexpr std::uint32_t RunningSymbol = 0x148;    // w
constexpr std::uint32_t RunningToken = 0x14C;     // h
constexpr std::uint32_t State = 0x14E;            // h: engine flags (state word)
constexpr std::uint32_t CurrentLine = 0x150;      // w: current token line, owner kind 0
constexpr std::uint32_t EvalKind = 0x154;         // b
constexpr std::uint32_t HeaderSymType = 0x155;    // b
constexpr std::uint32_t TokenRegister = 0x156;    // 6 bytes: a StackEntry
constexpr std::uint32_t StackPointer = 0x15C;     // w
constexpr std::uint32_t FnLineNumber = 0x160;     // w
constexpr std::uint32_t TokensTaken = 0x164;      // w
constexpr std::uint32_t LineCursor = 0x168;       // w
constexpr std::uint32_t RunningSymType = 0x16C;   // b
constexpr std::uint32_t TrapWord = 0x170;         // w
constexpr std::uint32_t KillSlot = 0x174;         // w
constexpr std::uint32_t ClassWord = 0x178;        // h
constexpr std::uint32_t QuadCT = 0x17A;           // 10 bytes Extended80
constexpr std::uint32_t ErrorCode = 0x184;        // h
constexpr std::uint32_t ErrorLine = 0x186;        // h
constexpr std::uint32_t OutColumn = 0x188;        // h
constexpr std::uint32_t CaretColumn = 0x18A;      // h
constexpr std::uint32_t OutLineCount = 0x18C;     // h
constexpr std::uint32_t CaretLine = 0x190;        // h
constexpr std::uint32_t OutputBits = 0x192;       // b
constexpr std::uint32_t MultiDisplay = 0x193;     // b
constexpr std::uint32_t QuadRL = 0x194;           // w
constexpr std::uint32_t HeapTop = 0x198;          // w
constexpr std::uint32_t LowestReleased = 0x19C;   // w
constexpr std::uint32_t Garbage = 0x1A0;          // w
constexpr std::uint32_t IntegrityCheck = 0x1A4;   // b
constexpr std::uint32_t LexState = 0x1A6;         // h
constexpr std::uint32_t EditLine = 0x1A8;         // w BCD
constexpr std::uint32_t EditIncrement = 0x1AC;    // w BCD
constexpr std::uint32_t DefEntry = 0x1B0;         // w
constexpr std::uint32_t DefToken = 0x1B4;         // h
constexpr std::uint32_t AttnLevel = 0x1B6;        // h
constexpr std::uint32_t TokenAreaLimit = 0x1B8;   // w
constexpr std::uint32_t LineTextStart = 0x1BC;    // w
constexpr std::uint32_t AttnCountdown = 0x1C0;    // h
constexpr std::uint32_t AttnReload = 0x1C2;       // h
constexpr std::uint32_t ErrorMessage = 0x1C4;     // w: owner kind 0
constexpr std::uint32_t NestLow = 0x1C8;          // w
constexpr std::uint32_t NestHigh = 0x1CC;         // w
constexpr std::uint32_t LeftItem = 0x1D0;         // w
constexpr std::uint32_t RightItem = 0x1D4;        // w
constexpr std::uint32_t ResultBits = 0x1D8;       // b
constexpr std::uint32_t SelectBits = 0x1D9;       // b
constexpr std::uint32_t TermFormat = 0x1DA;       // h
constexpr std::uint32_t ExecMode = 0x1DC;         // b
constexpr std::uint32_t OwnMessageText = 0x1E0;   // w: the program's own error message (⎕ES ⎕ERS) until its report, owner kind 0
constexpr std::uint32_t CaptureAddress = 0x1FC;   // w
constexpr std::uint32_t LeftDesc = 0x200;         // 44 bytes
constexpr std::uint32_t RightDesc = 0x22C;        // 44 bytes
constexpr std::uint32_t ResultDesc = 0x258;       // 44 bytes
constexpr std::uint32_t CallerCsWord = 0x284;     // h
constexpr std::uint32_t ImmediateCs = 0x286;      // 12 bytes
constexpr std::uint32_t SaveName = 0x2A8;         // 9 bytes
constexpr std::uint32_t PrimCode = 0x3A8;         // w
constexpr std::uint32_t PendingLength = 0x3AC;    // w
constexpr std::uint32_t PendingAddress = 0x3B0;   // w
constexpr std::uint32_t ScratchAreas = 0x3B4;     // 8 words
constexpr std::uint32_t GarbageLimit = 0x3D4;     // w
constexpr std::uint32_t ObjectPool = 0x3D8;       // w
constexpr std::uint32_t CurrentInstance = 0x3DC;  // w
constexpr std::uint32_t CallingInstance = 0x3E0;  // w
constexpr std::uint32_t SerialHigh = 0x3E4;       // w
constexpr std::uint32_t SerialLow = 0x3E8;        // w
constexpr std::uint32_t ClassDefining = 0x3EC;    // w
constexpr std::uint32_t HostBlock = 0x3F0;        // w: zero here; the host block is found through the task
constexpr std::uint32_t BucketEntries = 0x3F4;    // h: 1026
constexpr std::uint32_t BucketSize = 0x3F6;       // h: 38
}  // namespace hdr

// Bits of the engine state word (hdr::State); a defined-function call
// saves the word in its frame.
namespace st {
constexpr std::uint16_t ListDigits = 0x0001;        // a token line is being listed: floats with 15 digits
constexpr std::uint16_t Executing = 0x0002;         // the engine has started the current line
constexpr std::uint16_t Defining = 0x0004;          // ∇ definition mode is open
constexpr std::uint16_t PassErrors = 0x0008;        // errors pass up out of this level (locked or trapped)
constexpr std::uint16_t OwnMessage = 0x0010;        // a report or message is under way: errorl writes no other
constexpr std::uint16_t StatementStarted = 0x0020;  // the current statement has been set up (see linsu)
constexpr std::uint16_t NotFunctionLine = 0x0040;   // the running line is not a defined function's line
constexpr std::uint16_t AttentionSeen = 0x0080;     // an attention was taken at this level
constexpr std::uint16_t Copying = 0x0100;           // a )COPY is bringing objects in
constexpr std::uint16_t CaptureOverflow = 0x0200;   // captured output found no room: it goes to the session
constexpr std::uint16_t FixingText = 0x0400;        // a definition is being fixed from text
constexpr std::uint16_t Capturing = 0x0800;         // output is captured instead of shown
constexpr std::uint16_t ExecuteRunning = 0x1000;    // ⍎, ⎕EA or ⎕EC runs a line of text
constexpr std::uint16_t QuoteQuadInput = 0x2000;    // a ⍞ answer is being read
constexpr std::uint16_t ValueAwaited = 0x4000;      // a level that awaits a ⎕ input's value
}  // namespace st

// The engine state word hdr::State: reads it whole; answers whether any of
// `bits` is set in it; sets the bits `set` and then clears the bits `clear`.
inline std::uint16_t engine_state(Ws ws) { return rd16(ws, hdr::State); }
inline bool state_has(std::uint16_t bits, Ws ws) { return (engine_state(ws) & bits) != 0; }
inline void set_state(std::uint16_t set, std::uint16_t clear, Ws ws) {
  wr16(ws, hdr::State, static_cast<std::uint16_t>((engine_state(ws) | set) & ~clear));
}

// ---- heap objects (wsobj) ---------------------------------------------------

// Offsets within an object (from its start; the owner word lies at -4).
namespace obj {
constexpr std::uint32_t Kind = 0;   // b: bit 7 released, bit 6 strand mark, bits 0-3 owner kind
constexpr std::uint32_t Flags1 = 1; // b: 0x40 holds token lines
constexpr std::uint32_t Arch = 2;   // b
constexpr std::uint32_t Size = 4;   // w: bytes from offset 0 to the end of the data
constexpr std::uint32_t Type = 8;   // b: ElementType
constexpr std::uint32_t Flags9 = 9; // b
constexpr std::uint32_t Rank4 = 10; // h: rank x 4
constexpr std::uint32_t Shape = 12; // rank words
}  // namespace obj

// Bits of byte obj::Kind: the object is released (garbage); the object
// is a strand's result. Bit of byte obj::Flags1: the object holds token lines.
constexpr std::uint8_t kReleased = 0x80;
constexpr std::uint8_t kStrandMark = 0x40;
constexpr std::uint8_t kHoldsTokenLines = 0x40;

// Element type of an array object (byte obj::Type), or a descriptor's.
enum ElementType : std::uint8_t {
  ET_DERIVED = 2,     // a derived function (a primitive with an axis list)
  ET_POOL = 4,        // object pool
  ET_BOOL = 5,        // booleans, 32 to a word, the first in bit 31
  ET_CLASS = 6,       // class
  ET_INT = 7,         // 32-bit integers
  ET_INSTANCE = 8,    // instance
  ET_FLOAT = 9,       // doubles
  ET_CHAR = 11,       // one-byte characters, internal set
  ET_WIDE16 = 13,     // 16-byte elements
  ET_OBJREF = 14,     // object references
  ET_NESTED = 15,     // offsets of item arrays
  ET_INDEXVEC = 19,   // index vector
};

// Where the single slot that refers to an object lies, relative to its owner word.
enum OwnerKind : std::uint8_t {
  OK_WORD = 0,      // the owner offset itself
  OK_INSTANCE = 1,  // object-pool slot table
  OK_STACK = 2,     // owner + 2: a StackEntry's value
  OK_SYMBOL = 4,    // owner + 4: a symbol entry's or saved local's value word
  OK_CLASS = 5,     // as OK_INSTANCE
  OK_NEXTLINE = 8,  // owner + 8: previous token line's next-line word
};

// ---- LowGlobals -------------------------------------------------------------

// The session's private state below the workspace base; never saved. All of
// it is zero when the interpreter starts. Host strings are never kept here as
// pointers; they live in the task's side state (see SideState).
constexpr std::uint32_t kLowGlobalsSize = 10232;

// The layout of LowGlobals, field by field; sizes and order are fixed.
struct LowGlobals {
  std::uint8_t reserved0[6];
  std::uint16_t pw_default;
  std::int16_t pr_char;
  std::uint16_t term_format;
  std::uint32_t user_number;
  std::uint32_t task_id;
  std::uint32_t ws_size;
  std::uint32_t term_type;
  std::uint32_t file_word;
  std::uint8_t exec_restart[156];
  std::uint8_t line_restart[156];
  std::uint8_t copy_buffer[512];
  std::uint32_t dup_word;
  std::uint32_t start_time;
  std::uint32_t keying_time;
  std::uint32_t wait_start;
  std::uint16_t attn_count;
  std::uint16_t attn_enabled;
  std::uint8_t tab_stops[36];
  std::uint32_t file_record_word;
  std::uint32_t copy_source_library;
  std::uint32_t copy_record_count;
  std::uint8_t copy_flags;
  std::uint8_t reserved1[3];
  std::uint32_t temp_name1;    // kept for layout; the names live in SideState
  std::uint32_t temp_name2;
  std::uint32_t help_file;
  std::uint32_t ws_directory;
  std::uint32_t extension;     // ".aws" as a big-endian character word
  std::uint8_t probe[30];
  std::uint8_t mount[10][260]; // ⎕MOUNT rows, internal characters, blank padded
  std::uint8_t path[516];
  std::uint8_t dataspace[256];
  std::uint8_t startup_flags;
  std::uint8_t reserved2;
  std::uint16_t input_mode;
  std::uint8_t reserved3[2];
  std::uint32_t cursor_column;
  std::uint8_t editor_name[100];
  std::uint8_t component_state[3728];
  std::uint8_t scratch0[252];
  std::uint8_t scratch[7][256];
};
static_assert(sizeof(LowGlobals) == kLowGlobalsSize, "LowGlobals must be 10,232 bytes");

// The LowGlobals of the workspace at `ws` (the bytes just below the base).
inline LowGlobals& lowglobals(Ws ws) { return *reinterpret_cast<LowGlobals*>(ws - kLowGlobalsSize); }

// Signed offset from the base of a byte inside LowGlobals (negative).
inline std::int32_t low_offset(Ws ws, const void* p) {
  return static_cast<std::int32_t>(static_cast<const std::uint8_t*>(p) - ws);
}

// Extension words, four characters most significant byte first.
constexpr std::uint32_t ext_word(const char (&s)[5]) {
  return (std::uint32_t(std::uint8_t(s[0])) << 24) | (std::uint32_t(std::uint8_t(s[1])) << 16) |
         (std::uint32_t(std::uint8_t(s[2])) << 8) | std::uint32_t(std::uint8_t(s[3]));
}
// The file extensions the interpreter uses as words.
constexpr std::uint32_t kExtAws = ext_word(".aws");  // workspace
constexpr std::uint32_t kExtAtm = ext_word(".atm");  // temporary file, the host's first temporary name
constexpr std::uint32_t kExtAff = ext_word(".aff");  // temporary file, the host's second temporary name
constexpr std::uint32_t kExtAtf = ext_word(".atf");  // transfer file
constexpr std::uint32_t kExtDmp = ext_word(".dmp");  // SYSTEM ERROR dump

// Start-up flag bit: a start-up workspace is pending.
constexpr std::uint8_t kStartupPending = 0x02;

// Answer codes named for support-layer routines: 0 done, else the failure
// the name says (failed, end, no room). No routine answers them yet: the
// terminal routines answer 4 for a line and 0 for none (entry.h).
constexpr int SUP_OK = 0;
constexpr int SUP_FAILED = 4;
constexpr int SUP_END = 8;
constexpr int SUP_NOROOM = 12;

}  // namespace zema
