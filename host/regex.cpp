#include "host/regex.h"

#define PCRE2_CODE_UNIT_WIDTH 8
#include <pcre2.h>

#include <cstdio>
#include <cstring>
#include <mutex>
#include <new>

#include "host/char_tables.h"
#include "host/charset.h"

namespace zema {

namespace {

// At most this many substrings per match, the whole match included.
constexpr int kMaxSubstrings = 30;

// The engine's character tables: lower-case map, case-flip map, ten class
// bitmaps of 32 bytes, character-type map.
constexpr std::size_t kLowerMap = 0, kFlipMap = 256, kClassBits = 512, kTypes = 832, kTablesSize = 1088;
// The class bitmaps within kClassBits.
constexpr std::size_t kBitsSpace = 0, kBitsXdigit = 32, kBitsDigit = 64, kBitsUpper = 96, kBitsLower = 128,
                      kBitsWord = 160, kBitsGraph = 192, kBitsPrint = 224, kBitsPunct = 256, kBitsCntrl = 288;

unsigned char apl_tables[kTablesSize];
std::once_flag apl_tables_once;

// The C locale's classification, whatever locale the process has chosen:
// only ASCII characters have a class.
bool c_space(int c) { return c == ' ' || (c >= 0x09 && c <= 0x0D); }
bool c_digit(int c) { return c >= '0' && c <= '9'; }
bool c_xdigit(int c) { return c_digit(c) || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F'); }
bool c_graph(int c) { return c > 0x20 && c < 0x7F; }
bool c_alnum(int c) { return c_digit(c) || (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); }
bool c_punct(int c) { return c_graph(c) && !c_alnum(c); }
bool c_cntrl(int c) { return c < 0x20 || c == 0x7F; }

// Host character c through APL case map `map`: the host character of the
// mapped internal code, or c itself when the map leaves the code alone or its
// partner has no host character that reads back as it.
unsigned char mapped_case(const std::array<std::uint8_t, 256>& map, int c) {
  const std::uint8_t internal = fontin(c), other = map[internal];
  if (other == internal) return static_cast<unsigned char>(c);
  const std::uint8_t host = fontout(other);
  return fontin(host) == other ? host : static_cast<unsigned char>(c);
}

// Rewrites the engine's tables for the APL character set, each host
// character looked at through its internal code. The bits of the type map
// are read from the engine's own tables (space, letter, small letter, digit,
// word), so that a library that numbers them differently still works.
void build_apl_tables() {
  unsigned char type_space = 0x01, type_letter = 0x02, type_small = 0x04, type_digit = 0x08, type_word = 0x10;
  if (const std::uint8_t* stock = pcre2_maketables(nullptr)) {
    const std::uint8_t* types = stock + kTypes;
    type_word = types['_'];
    type_space = types[' '];
    type_letter = static_cast<unsigned char>(types['A'] & ~type_word);
    type_small = static_cast<unsigned char>(types['a'] & ~types['A']);
    type_digit = static_cast<unsigned char>(types['5'] & ~type_word);
    pcre2_maketables_free(nullptr, stock);
  }
  unsigned char* t = apl_tables;
  std::memset(t, 0, kTablesSize);
  auto set_bit = [&](std::size_t bitmap, int c) {
    t[kClassBits + bitmap + static_cast<std::size_t>(c / 8)] |= static_cast<unsigned char>(1u << (c % 8));
  };
  for (int c = 0; c < 256; ++c) {
    const std::uint8_t internal = fontin(c);
    const bool upper = apl_is_uppercase_table[internal] != 0, lower = apl_is_lowercase_table[internal] != 0;
    // ∆ and ⍙ count as letters, as in names.
    const bool letter = (internal >= 0x61 && internal <= 0x7B) || (internal >= 0xE1 && internal <= 0xFB);
    const bool word = upper || lower || letter || c_digit(c) || c == 0x5F;
    // Host 0x0B is no blank: in the APL font it is a character.
    const bool space = c_space(c) && c != 0x0B;

    t[kLowerMap + c] = mapped_case(apl_lowercase_table, c);
    t[kFlipMap + c] = lower ? mapped_case(apl_uppercase_table, c) : mapped_case(apl_lowercase_table, c);

    if (space) set_bit(kBitsSpace, c);
    if (c_xdigit(c)) set_bit(kBitsXdigit, c);
    if (c_digit(c)) set_bit(kBitsDigit, c);
    if (upper) set_bit(kBitsUpper, c);
    if (lower) set_bit(kBitsLower, c);
    if (word) set_bit(kBitsWord, c);
    if (c_graph(c)) set_bit(kBitsGraph, c);
    if (!non_printing_quad_av[internal]) set_bit(kBitsPrint, c);
    if (c_punct(c)) set_bit(kBitsPunct, c);
    if (c_cntrl(c)) set_bit(kBitsCntrl, c);

    unsigned char type = 0;
    if (space) type |= type_space;
    if (letter || upper || lower) type |= type_letter;
    if (lower) type |= type_small;
    if (c_digit(c)) type |= type_digit;
    if (word) type |= type_word;
    t[kTypes + c] = type;
  }
}

void set(std::string* message, const std::string& text) {
  if (message) *message = text;
}

std::string format_int(const char* format, int n) {
  char buffer[128];
  std::snprintf(buffer, sizeof buffer, format, n);
  return buffer;
}

}  // namespace

struct RegexSearch {
  pcre2_code* code = nullptr;
  pcre2_match_data* match = nullptr;
  // Substring pairs of the last search's match (0 when it found nothing).
  int substrings = 0;
  // Start and end of each substring of the last match found (−1 −1 for a
  // group that took no part); pair 0 is the whole match.
  int offsets[2 * kMaxSubstrings] = {};
  bool found = false;  // some search has found a match
};

const unsigned char* regex_character_tables() {
  std::call_once(apl_tables_once, build_apl_tables);
  return apl_tables;
}

RegexSearch* regex_open_search(const char* pattern, unsigned flags, std::string* message) {
  const unsigned char* tables = regex_character_tables();
  if (!pattern) pattern = "";
  std::uint32_t options = 0;
  if (flags & regex_caseless) options |= PCRE2_CASELESS;
  if (flags & regex_multiline) options |= PCRE2_MULTILINE;
  if (flags & regex_dotall) options |= PCRE2_DOTALL;
  std::uint32_t newline = PCRE2_NEWLINE_ANYCRLF;
  if (flags & regex_newline_cr) newline = PCRE2_NEWLINE_CR;
  if (flags & regex_newline_lf) newline = PCRE2_NEWLINE_LF;
  if (flags & regex_newline_crlf) newline = PCRE2_NEWLINE_CRLF;

  RegexSearch* search = new (std::nothrow) RegexSearch;
  pcre2_compile_context* context = pcre2_compile_context_create(nullptr);
  if (!search || !context) {
    pcre2_compile_context_free(context);
    delete search;
    set(message, "Out of memory");
    return nullptr;
  }
  pcre2_set_character_tables(context, tables);
  pcre2_set_newline(context, newline);
  int error = 0;
  PCRE2_SIZE error_offset = 0;
  search->code = pcre2_compile(reinterpret_cast<PCRE2_SPTR>(pattern), PCRE2_ZERO_TERMINATED, options, &error,
                               &error_offset, context);
  pcre2_compile_context_free(context);
  if (!search->code) {
    delete search;
    if (error == PCRE2_ERROR_HEAP_FAILED) {
      set(message, "Out of memory");
    } else if (message) {
      PCRE2_UCHAR text[256];
      if (pcre2_get_error_message(error, text, sizeof text) < 0) text[0] = 0;
      char buffer[400];
      std::snprintf(buffer, sizeof buffer, "Error in regular expression at position %d: %s",
                    static_cast<int>(error_offset) + 1, reinterpret_cast<const char*>(text));
      *message = buffer;
    }
    return nullptr;
  }
  // Without JIT support (or memory for it) the interpreter matches instead.
  pcre2_jit_compile(search->code, PCRE2_JIT_COMPLETE);
  search->match = pcre2_match_data_create(kMaxSubstrings, nullptr);
  if (!search->match) {
    regex_close_search(search);
    set(message, "Out of memory");
    return nullptr;
  }
  return search;
}

int regex_search_next(RegexSearch* search, const char* text, int length, int offset, int* position,
                      int* match_length, int* substrings, std::string* message) {
  *position = -1;
  *match_length = 0;
  *substrings = 0;
  if (!search) {
    set(message, "Regular expression has not been compiled");
    return 24;
  }
  search->substrings = 0;
  // A size of −1 would read as "zero-terminated": refuse bad sizes here.
  if (length < 0 || offset < 0 || offset > length || (!text && length > 0)) {
    set(message, regex_get_error_string(PCRE2_ERROR_BADOFFSET));
    return 68;
  }
  const auto subject = reinterpret_cast<PCRE2_SPTR>(text ? text : "");
  const auto size = static_cast<PCRE2_SIZE>(length);
  int rc;
  if (offset > 0 && search->found && search->offsets[0] == search->offsets[1] && offset == search->offsets[1]) {
    // Again from where an empty match ended: the first non-empty match that
    // starts there or after it (the empty one would be found again). From
    // any other offset the search is an ordinary one, so that a caller
    // stepping past an empty match finds the next empty match too.
    rc = PCRE2_ERROR_NOMATCH;
    for (int p = offset; p < length && rc == PCRE2_ERROR_NOMATCH; ++p)
      rc = pcre2_match(search->code, subject, size, static_cast<PCRE2_SIZE>(p), PCRE2_NOTEMPTY | PCRE2_ANCHORED,
                       search->match, nullptr);
  } else {
    rc = pcre2_match(search->code, subject, size, static_cast<PCRE2_SIZE>(offset), 0, search->match, nullptr);
  }
  if (rc == PCRE2_ERROR_NOMATCH) return 0;
  if (rc == 0) {
    set(message, format_int("Too many substrings in regular expression, maximum is %d", kMaxSubstrings));
    return 104;
  }
  if (rc < 0) {
    set(message, regex_get_error_string(rc));
    return 68;
  }
  const PCRE2_SIZE* ovector = pcre2_get_ovector_pointer(search->match);
  for (int i = 0; i < 2 * kMaxSubstrings; ++i)
    search->offsets[i] = i < 2 * rc && ovector[i] != PCRE2_UNSET ? static_cast<int>(ovector[i]) : -1;
  search->found = true;
  search->substrings = rc;
  *substrings = rc;
  *position = search->offsets[0];
  *match_length = search->offsets[1] - search->offsets[0];
  return 0;
}

bool regex_extract_substring(const RegexSearch* search, int index, RegexSpan* span) {
  if (!search || index < 0 || index >= search->substrings) return false;
  span->start = search->offsets[2 * index];
  span->end = search->offsets[2 * index + 1];
  return true;
}

int regex_get_replacement_string(const RegexSearch* search, const char* subject, const char* templ, char* out,
                                 int room) {
  if (!search || !templ || !out) return 68;
  if (room < 1) return 4;
  int used = 0;
  for (const char* p = templ; *p; ++p) {
    if (*p == '\\' && p[1] >= '0' && p[1] <= '9') {
      ++p;
      RegexSpan span;
      if (!subject || !regex_extract_substring(search, *p - '0', &span) || span.start < 0) continue;
      const int n = span.end - span.start;
      if (room - used - n <= 1) {
        out[used] = 0;
        return 4;
      }
      std::memcpy(out + used, subject + span.start, static_cast<std::size_t>(n));
      used += n;
      continue;
    }
    // "\c" stands for c; a backslash that ends the template for itself.
    if (*p == '\\' && p[1]) ++p;
    if (room - used - 1 <= 0) {
      out[used] = 0;
      return 4;
    }
    out[used++] = *p;
  }
  out[used] = 0;
  return 0;
}

void regex_close_search(RegexSearch* search) {
  if (!search) return;
  pcre2_match_data_free(search->match);
  pcre2_code_free(search->code);
  delete search;
}

std::string regex_get_error_string(int code) {
  std::string text = format_int("Regular expression engine error %d", code);
  switch (code) {
    case PCRE2_ERROR_NOMEMORY:
    case PCRE2_ERROR_HEAPLIMIT:
      text += ": Out of memory";
      break;
    case PCRE2_ERROR_NOSUBSTRING:
      text += ": Invalid substring number";
      break;
    case PCRE2_ERROR_MATCHLIMIT:
      text += ": Exceeded backtracking limit";
      break;
    case PCRE2_ERROR_BADUTFOFFSET:
      text += ": Invalid offset into UTF-8 string";
      break;
    case PCRE2_ERROR_DEPTHLIMIT:
    case PCRE2_ERROR_JIT_STACKLIMIT:
      text += ": Recursion limit exceeed";
      break;
    default:
      if (code <= PCRE2_ERROR_UTF8_ERR1 && code >= PCRE2_ERROR_UTF8_ERR21) text += ": Invalid UTF-8 string";
      break;
  }
  return text;
}

}  // namespace zema
