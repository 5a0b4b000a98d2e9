// The system-command dispatcher: command table, name and argument parsing,
// and the call of the row's handler.
#include "interpreter/sysfns/commands.h"

#include <cstring>

#include "host/charset.h"
#include "interpreter/output/display.h"
#include "interpreter/workspace/entry.h"
#include "interpreter/workspace/errors.h"
#include "interpreter/reader/tokeniser.h"

namespace zema {

namespace {

constexpr std::uint16_t X = C_NOT_ALLOWED;

// Keys are written here in ASCII and compared after conversion.
constexpr std::array<CommandRow, kCommandRows> kRows = {{
    {{'C', 'L', 'E', 'A'}, 0x4000, C_CLEAR, C_CLEAR_SIZE, X},
    {{'S', 'A', 'V', 'E'}, 0x0008, C_SAVE, C_SAVE_NAME, X},
    {{'S', 'S', 'A', 'V'}, 0x0048, C_SAVE, C_SAVE_NAME, X},
    {{'D', 'R', 'O', 'P'}, 0x0008, X, C_DROP_NAME, X},
    {{'S', 'D', 'R', 'O'}, 0x0048, X, C_DROP_NAME, X},
    {{'L', 'O', 'A', 'D'}, 0x0008, X, C_LOAD_NAME, X},
    {{'S', 'L', 'O', 'A'}, 0x0048, X, C_LOAD_NAME, X},
    {{'C', 'O', 'P', 'Y'}, 0x2005, X, C_COPY_NAME, C_COPY_LIST},
    {{'S', 'C', 'O', 'P'}, 0x2045, X, C_COPY_NAME, C_COPY_LIST},
    {{'P', 'C', 'O', 'P'}, 0x2005, X, C_PCOPY_NAME, C_PCOPY_LIST},
    {{'S', 'P', 'C', 'O'}, 0x2045, X, C_PCOPY_NAME, C_PCOPY_LIST},
    {{'G', 'R', 'O', 'U'}, 0x0010, X, X, C_GROUP_LIST},
    {{'E', 'R', 'A', 'S'}, 0x2010, X, X, C_ERASE_LIST},
    {{'O', 'R', 'I', 'G'}, 0x0020, C_ORIG, C_ORIG_N, X},
    {{'D', 'I', 'G', 'I'}, 0x0020, C_DIGI, C_DIGI_N, X},
    {{'T', 'A', 'B', 'S'}, 0x0080, C_TAB, C_TAB_ARGS, X},
    {{'S', 'Y', 'M', 'B'}, 0x0020, C_SYMB, C_SYMB_N, X},
    {{'W', 'I', 'D', 'T'}, 0x0020, C_WIDT, C_WIDT_N, X},
    {{'W', 'S', 'I', 'D'}, 0x0008, C_WSID, C_WSID_NAME, X},
    {{'S', 'W', 'S', 'I'}, 0x0048, C_WSID, C_WSID_NAME, X},
    {{'F', 'N', 'S', ' '}, 0x0010, C_FNS, X, C_FNS_LIST},
    {{'V', 'A', 'R', 'S'}, 0x0010, C_VARS, X, C_VARS_LIST},
    {{'G', 'R', 'P', 'S'}, 0x0010, C_GRPS, X, C_GRPS_LIST},
    {{'G', 'R', 'P', ' '}, 0x0002, X, C_GRP_NAME, X},
    {{'S', 'I', ' ', '\0'}, 0x0020, C_SI, C_SI_N, X},
    {{'S', 'I', 'V', ' '}, 0x0020, C_SIV, C_SIV_N, X},
    {{'S', 'I', 'N', 'L'}, 0x0020, C_SIV, C_SIV_N, X},
    {{'S', 'I', 'C', 'L'}, 0x0020, C_SICL, C_SICL_N, X},
    {{'R', 'E', 'S', 'E'}, 0x0020, C_SICL, C_SICL_N, X},
    {{'S', 'I', 'C', ' '}, 0x0020, C_SICL, C_SICL_N, X},
    {{'L', 'I', 'B', ' '}, 0x0108, C_LIB, C_LIB_NAME, X},
    {{'O', 'F', 'F', ' '}, 0x0000, C_OFF, X, X},
    {{'C', 'O', 'N', 'T'}, 0x0000, C_CONT, X, X},
    {{'E', 'D', 'I', 'T'}, 0x0209, C_EDIT, C_EDIT_NAME, X},
    {{'X', 'L', 'O', 'A'}, 0x0408, X, C_LOAD_NAME, X},
    {{'C', 'S', ' ', '\0'}, 0x0020, C_CS, C_CS_N, X},
    {{'T', 'I', 'M', 'E'}, 0x0000, C_TIME, X, X},
    {{'I', 'N', ' ', '\0'}, 0x0805, X, C_IN_NAME, C_IN_LIST},
    {{'O', 'U', 'T', ' '}, 0x0805, X, C_OUT_NAME, C_OUT_LIST},
    {{'O', 'P', 'S', ' '}, 0x0010, C_OPS, X, C_OPS_LIST},
    {{'N', 'M', 'S', ' '}, 0x0010, C_NMS, X, C_NMS_LIST},
    {{'H', 'O', 'S', 'T'}, 0x1000, C_RAW_HOST, X, X},
    {{'S', 'I', 'S', ' '}, 0x0020, C_SIS, C_SIS_N, X},
    {{'D', 'I', 'S', 'P'}, 0x0002, X, C_DISPLAY_NAME, X},
    {{'C', 'L', 'A', 'S'}, 0x0010, C_CLASS, X, C_CLASS_LIST},
    {{'R', 'E', 'P', 'A'}, 0x0010, X, X, C_REPARENT_LIST},
}};

// The commands' handlers; every other slot is empty (not available).
std::array<CommandHandler, kCommandCodes> make_handlers() {
  std::array<CommandHandler, kCommandCodes> h{};
  auto at = [&h](std::uint16_t code) -> CommandHandler& { return h[code - 0x500]; };
  at(C_RAW_HOST).text = chost_any_args;
  at(C_DISPLAY_NAME).name = cdisplay_args;
  at(C_SI).no_args = csi_no_args;
  at(C_SI_N).number = csi_args;
  at(C_SIV).no_args = csiv_no_args;
  at(C_SIV_N).number = csiv_args;
  at(C_SIS).no_args = csis_no_args;
  at(C_SIS_N).number = csis_args;
  at(C_SICL).no_args = csicl_no_args;
  at(C_SICL_N).number = csicl_args;
  return h;
}
std::array<CommandHandler, kCommandCodes> kHandlers = make_handlers();

// Internal code of an ASCII key character (letters 0x61-0x7A, blank, NUL).
std::uint8_t key_char(char c) {
  if (c >= 'A' && c <= 'Z') return static_cast<std::uint8_t>(0x61 + (c - 'A'));
  return static_cast<std::uint8_t>(c);
}

constexpr std::uint8_t kUnderbar = 0x46;

// The rest of the command line.
struct Cursor {
  const std::uint8_t* p;
  std::uint32_t rem;
  bool at_end() const { return rem == 0; }
  std::uint8_t peek() const { return *p; }
  std::uint8_t take() { --rem; return *p++; }
  // Skips blanks and tabs; true at the end of the text.
  bool skipsp() {
    while (rem && is_blank(*p)) { ++p; --rem; }
    return rem == 0;
  }
};

bool name_char(std::uint8_t c, bool point) {
  return cmpalp(c) || cmpdig(c) || c == kUnderbar || c == ich::HighMinus || (point && c == ich::Point);
}

// Reads one name into the scratch (60 characters kept, then a blank).
// Answers the character that ended it (consumed; a blank at the end).
std::uint8_t sysgnm(Cursor& c, std::uint32_t* count, Ws ws, bool quad_names = false) {
  std::uint32_t n = 0;
  bool first = true;
  while (!c.at_end()) {
    const std::uint8_t ch = c.peek();
    const bool ok = first ? (cmpalp(ch) || (quad_names && ch == ich::Quad)) : name_char(ch, !quad_names);
    if (!ok) break;
    c.take();
    first = false;
    if (n < cmdws::kScratchName) wr8(ws, cmdws::Scratch + n++, ch);
  }
  wr8(ws, cmdws::Scratch + n, ich::Blank);
  *count = n;
  return c.at_end() ? ich::Blank : c.take();
}

std::uint8_t sysgns(Cursor& c, std::uint32_t* count, Ws ws) {
  wr32(ws, cmdws::Scratch, 0);
  const std::uint8_t end = sysgnm(c, count, ws);
  wr8(ws, cmdws::Scratch + *count, 0);
  return end;
}

// Decimal digits up to a blank (consumed) or the end.
bool cgnum(Cursor& c, std::int32_t* value) {
  std::int64_t v = 0;
  while (!c.at_end()) {
    const std::uint8_t ch = c.take();
    if (is_blank(ch)) break;
    if (!cmpdig(ch)) { *value = -1; return false; }
    v = v * 10 + (ch - 0x30);
    if (v > 0x7FFFFFFF) { *value = -1; return false; }
  }
  *value = static_cast<std::int32_t>(v);
  return true;
}

int refuse(Ws ws) {
  c_incorrect(ws);
  return 12;
}

int not_available(Ws ws) {
  print_message(ertab(E_NONCE), ws);
  wr8(ws, hdr::MiscBits, rd8(ws, hdr::MiscBits) & ~cmdws::kFileOperation);
  return 12;
}

std::uint16_t stored_flags(Ws ws) { return rd16(ws, cmdws::Flags); }

// A name list from the cursor on: every item a name, or "(NAME)" with 0x2000.
bool name_list_ok(Cursor c, std::uint16_t flags, Ws ws) {
  std::uint32_t n = 0;
  while (!c.skipsp()) {
    if (flags & cmdf::FileName) {
      const std::uint8_t end = sysgnm(c, &n, ws, true);
      if (n == 0 || !is_blank(end)) return false;
    } else if ((flags & cmdf::Indirect) && c.peek() == 0x3A /* ( */) {
      c.take();
      c.skipsp();
      const std::uint8_t end = sysgnm(c, &n, ws);
      if (n == 0) return false;
      if (end != ich::RightParen) {
        if (!is_blank(end)) return false;
        if (c.skipsp() || c.take() != ich::RightParen) return false;
      }
    } else {
      const std::uint8_t end = sysgnm(c, &n, ws);
      if (n == 0 || !is_blank(end)) return false;
    }
  }
  return true;
}

int call_list(std::uint16_t code, Cursor c, Ws ws) {
  if (!name_list_ok(c, stored_flags(ws), ws)) return refuse(ws);
  if (code == C_NOT_ALLOWED) return c_incorrect(ws);
  const CommandHandler& h = command_handler(code);
  if (!h.text) return not_available(ws);
  c.skipsp();
  return h.text(c.p, c.rem, stored_flags(ws), ws);
}

// A )CLEAR size: digits, an optional blank, an optional unit K, M or G.
bool parse_size(Cursor& c, std::int32_t* bytes) {
  std::int64_t v = 0;
  bool digits = false;
  while (!c.at_end() && cmpdig(c.peek())) {
    v = v * 10 + (c.take() - 0x30);
    if (v > 0xFFFFFFFFll) v = 0xFFFFFFFFll;
    digits = true;
  }
  if (!digits) return false;
  if (!c.at_end() && is_blank(c.peek())) c.take();
  if (!c.at_end()) {
    const std::uint8_t unit = c.take() & 0x7F;
    if (unit == 0x6B && v < 2097152) v *= 1024;                 // K
    else if (unit == 0x6D && v <= 2048) v *= 1048576;           // M
    else if (unit == 0x67 && v <= 2) v *= 1073741824;           // G
    else return false;
  }
  *bytes = v > 0x7F800000 ? 0x7F800000 : static_cast<std::int32_t>(v);
  return true;
}

// The tab form: one number; more only after a first that is not 0; no 0 among them.
bool parse_tabs(Cursor c, bool* several, std::int32_t* first) {
  std::int32_t v = 0;
  if (!cgnum(c, &v)) return false;
  *first = v;
  *several = false;
  while (!c.skipsp()) {
    if (*first == 0) return false;
    std::int32_t w = 0;
    if (!cgnum(c, &w) || w == 0) return false;
    *several = true;
  }
  return true;
}

// Workspace or file name, library number and password; then the name form
// or a name list.
int workspace_name(const CommandRow& row, Cursor c, Ws ws) {
  std::memset(ws + cmdws::Key, 0, 8);
  wr32(ws, cmdws::Library, 0);
  wr8(ws, cmdws::EditLibrary, 0);
  wr8(ws, cmdws::EditName, 0);
  std::uint8_t* buffer = scratch_area(1, ws);  // below the workspace base, in LowGlobals
  buffer[0] = 0;
  std::uint16_t flags = stored_flags(ws);
  bool library = false;
  if (cmpdig(c.peek())) {
    std::int32_t lib = 0;
    if (!cgnum(c, &lib)) return refuse(ws);
    wr32(ws, cmdws::Library, static_cast<std::uint32_t>(lib));
    flags |= cmdf::LibraryGiven;
    wr16(ws, cmdws::Flags, flags);
    library = true;
    if (row.flags & cmdf::EditorName) wr8(ws, cmdws::EditLibrary, static_cast<std::uint8_t>(lib));
    if (c.skipsp()) {
      if (!(row.flags & cmdf::LibraryAlone)) return refuse(ws);
      const CommandHandler& h = command_handler(row.one_arg);
      return h.no_args ? h.no_args(flags, ws) : not_available(ws);
    }
  }
  if (row.flags & cmdf::EditorName) {
    std::uint32_t n = 0;
    const std::uint8_t end = sysgnm(c, &n, ws);
    if (n == 0) return refuse(ws);
    if (n > 61) n = 61;
    wr8(ws, cmdws::EditLength, static_cast<std::uint8_t>(n));
    std::memcpy(ws + cmdws::EditName, ws + cmdws::Scratch, n);
    wr8(ws, cmdws::EditName + n, end);
    if (!c.skipsp()) return refuse(ws);
  } else {
    std::uint32_t n = 0;
    const bool quoted = c.peek() == ich::Quote;
    if (quoted) c.take();
    for (;;) {
      if (c.at_end()) {
        if (quoted) return refuse(ws);
        break;
      }
      std::uint8_t ch = c.peek();
      if (quoted) {
        c.take();
        if (ch == ich::Quote) {
          if (c.at_end() || c.peek() != ich::Quote) break;
          c.take();
        }
      } else {
        if (is_blank(ch)) break;
        if (ch == ich::Colon && library && n > 0) break;
        c.take();
      }
      if (ch == ich::Colon || ch == 0x5C /* \ */ || ch == 0x2F /* / */) flags |= cmdf::Path;
      if (n == 254) return refuse(ws);  // the area holds the length, the name and a blank
      buffer[1 + n++] = ch;
    }
    if (n == 0) return refuse(ws);
    buffer[1 + n] = ich::Blank;
    buffer[0] = static_cast<std::uint8_t>(n);
    wr16(ws, cmdws::Flags, flags);
    if (library && (flags & cmdf::Path) && rd32(ws, cmdws::Library) != 99) return refuse(ws);
    // A password after a colon, which may follow blanks.
    c.skipsp();
    if (!c.at_end() && c.peek() == ich::Colon) {
      c.take();
      if (!c.skipsp()) {
        std::uint8_t pw[8];
        std::uint32_t k = 0;
        while (!c.at_end() && !is_blank(c.peek())) {
          const std::uint8_t ch = c.take();
          if (!cmpalp(ch) && !cmpdig(ch)) return refuse(ws);
          if (k < 8) pw[k++] = ch;
        }
        const auto key = password_key(pw, k);
        std::memcpy(ws + cmdws::Key, key.data(), 8);
      }
    }
    const bool more = !c.skipsp();
    if (more) {
      if ((row.flags & cmdf::LibraryAlone) || !(row.flags & cmdf::ListAfterName)) return refuse(ws);
      return call_list(row.list, c, ws);
    }
  }
  if (row.one_arg == C_NOT_ALLOWED) return c_incorrect(ws);
  const CommandHandler& h = command_handler(row.one_arg);
  return h.no_args ? h.no_args(stored_flags(ws), ws) : not_available(ws);
}

}  // namespace

const std::array<CommandRow, kCommandRows>& command_table() { return kRows; }

const CommandHandler& command_handler(std::uint16_t code) {
  static const CommandHandler none{};
  if (code < 0x500 || code - 0x500 >= kCommandCodes) return none;
  return kHandlers[code - 0x500];
}

int c_incorrect(Ws ws) {
  print_message(ertab(E_INCORRECT_COMMAND), ws);
  wr8(ws, hdr::MiscBits, rd8(ws, hdr::MiscBits) & ~cmdws::kFileOperation);
  return 0;
}

std::array<std::uint8_t, 8> password_key(const std::uint8_t* password, std::uint32_t length) {
  std::array<std::uint8_t, 8> k{};
  for (std::uint32_t i = 0; i < length && i < 8; ++i) {
    const std::uint8_t ch = password[i];
    std::uint8_t x = static_cast<std::uint8_t>((ch << 4) | (ch >> 4));
    x = static_cast<std::uint8_t>(-x);
    x = static_cast<std::uint8_t>((x >> 1) | (x << 7));
    k[i] = x;
  }
  for (int i = 1; i < 8; ++i) k[i] = static_cast<std::uint8_t>(k[i] + k[i - 1]);
  k[0] = static_cast<std::uint8_t>(k[0] + k[7]);
  return k;
}

int syscmd(const std::uint8_t* text, std::uint32_t length, Ws ws) {
  Cursor c{text + 1, length ? length - 1 : 0};
  if (c.skipsp()) {
    sixsp(ws);
    return 8;
  }
  wr32(ws, cmdws::Scratch, 0);
  std::uint32_t n = 0;
  const std::uint8_t end = sysgnm(c, &n, ws);
  if (n == 0 || !is_blank(end)) return refuse(ws);
  std::uint8_t word[4];
  for (int i = 0; i < 4; ++i) word[i] = rd8(ws, cmdws::Scratch + i) & 0x7F;
  const CommandRow* row = nullptr;
  for (const CommandRow& r : kRows) {
    bool same = true;
    for (int i = 0; i < 4 && same; ++i) same = key_char(r.key[i]) == word[i];
    if (same) {
      row = &r;
      break;
    }
  }
  if (!row) return refuse(ws);
  wr8(ws, hdr::ResultBits, rd8(ws, hdr::ResultBits) & ~0x40);
  wr16(ws, cmdws::Flags, row->flags);

  if (row->flags & cmdf::NotWhileDefining) {
    const bool defining = state_has(st::Defining, ws);
    if (defining || rd32(ws, hdr::ClassDefining) != 0) {
      const std::uint16_t was = engine_state(ws);
      set_state(st::OwnMessage, 0, ws);
      print_message(utf8_to_internal(defining ? "NOT WITH OPEN DEFINITION" : "NOT WITH OPEN CLASS DEFINITION"), ws);
      if (!(was & st::OwnMessage)) set_state(0, st::OwnMessage, ws);
      return 0;
    }
  }
  if (row->flags & cmdf::Raw) {
    if (row->no_args == C_NOT_ALLOWED) return c_incorrect(ws);
    const CommandHandler& h = command_handler(row->no_args);
    return h.text ? h.text(c.p, c.rem, row->flags, ws) : not_available(ws);
  }
  if (c.skipsp()) {
    std::memset(ws + cmdws::FirstLimit, 0, cmdws::kLimitBytes);
    if (row->no_args == C_NOT_ALLOWED) return c_incorrect(ws);
    const CommandHandler& h = command_handler(row->no_args);
    return h.no_args ? h.no_args(row->flags, ws) : not_available(ws);
  }
  const CommandHandler& one = command_handler(row->one_arg);
  if (row->flags & cmdf::Number) {
    std::int32_t v = 0;
    if (!cgnum(c, &v) || !c.skipsp()) return refuse(ws);
    if (row->one_arg == C_NOT_ALLOWED) return c_incorrect(ws);
    return one.number ? one.number(v, row->flags, ws) : not_available(ws);
  }
  if (row->flags & cmdf::Size) {
    std::int32_t bytes = 0;
    if (!parse_size(c, &bytes)) return refuse(ws);
    return one.number ? one.number(bytes, row->flags, ws) : not_available(ws);
  }
  if (row->flags & cmdf::OneName) {
    std::uint32_t len = 0;
    const std::uint8_t e = sysgns(c, &len, ws);
    if (len == 0 || !is_blank(e) || !c.skipsp()) return refuse(ws);
    return one.name ? one.name(len, row->flags, ws) : not_available(ws);
  }
  if (row->flags & cmdf::NameList) return call_list(row->list, c, ws);
  if (row->flags & cmdf::Tabs) {
    bool several = false;
    std::int32_t first = 0;
    if (!parse_tabs(c, &several, &first)) return refuse(ws);
    return one.tabs ? one.tabs(c.p, c.rem, several, first, ws) : not_available(ws);
  }
  return workspace_name(*row, c, ws);
}

void install_command_routes() { lex_routes().syscmd = syscmd; }

void set_command_handler(std::uint16_t code, const CommandHandler& handler) {
  if (code >= 0x500 && code - 0x500 < kCommandCodes) kHandlers[code - 0x500] = handler;
}

}  // namespace zema
