// ⎕NC ⎕NL ⎕AT: the classes of names, the names of classes, and the
// attributes of names.
#include <algorithm>
#include <array>
#include <cstring>

#include "interpreter/engine/function_object.h"
#include "interpreter/output/timestamp.h"
#include "interpreter/reader/token_format.h"
#include "interpreter/reader/tokeniser.h"
#include "interpreter/sysfns/definitions.h"
#include "interpreter/sysfns/handlers.h"
#include "interpreter/sysfns/names.h"
#include "interpreter/workspace/arrays.h"
#include "interpreter/workspace/errors.h"
#include "interpreter/workspace/stack.h"
#include "interpreter/workspace/symtab.h"
#include "interpreter/workspace/sysvar_slots.h"

namespace zema {

namespace {

std::int32_t class_of_type(std::uint8_t type) { return type < 18 ? fttb[type] : 0; }

// The class ⎕NC gives the name in row text of `n` characters.
std::int32_t name_class(const std::uint8_t* text, std::uint32_t n, Ws ws) {
  if (n == 0) return 0;
  const NameRef ref = look_up_name(text, n, ws);
  switch (ref.kind) {
    case NameKind::Found:
    case NameKind::System: return class_of_type(ref.type);
    case NameKind::Unknown: return 0;
    case NameKind::Empty:
    case NameKind::Invalid: break;
  }
  return (rd32(ws, sysvar_value_word(sysvar::CS)) & 2) ? 4 : -1;
}

// Element i of a simple numeric array as a whole number; DOMAIN ERROR for
// characters or a number that is not whole.
std::int32_t whole_number(std::uint32_t a, std::uint32_t i, Ws ws) {
  const std::uint8_t type = array_type(a, ws);
  const std::uint32_t data = array_data(a, ws);
  switch (type) {
    case ET_BOOL: return static_cast<std::int32_t>((rd32(ws, data + 4 * (i / 32)) >> (31 - i % 32)) & 1);
    case ET_INT: return rdi32(ws, data + 4 * i);
    case ET_FLOAT: {
      double d;
      std::memcpy(&d, ws + data + 8 * std::uint64_t(i), 8);
      if (d >= -2147483648.0 && d <= 2147483647.0 && d == static_cast<double>(static_cast<std::int32_t>(d)))
        return static_cast<std::int32_t>(d);
      break;
    }
    default: break;
  }
  domner(ws);
}

// ---- ⎕NL ----

// Whether a symbol entry is listed: a name of one of the classes (a bit
// set per class number) whose first letter is among `letters` (all when
// `letters` is null), and not a ⎕ name.
bool listed(std::uint32_t entry, std::uint32_t classes, const std::uint8_t* letters, std::uint32_t nletters,
            Ws ws) {
  if (rd8(ws, entry + sym::Length) == 0) return false;
  const std::uint8_t type = rd8(ws, entry + sym::Type) & kSymTypeMask;
  const std::int32_t c = class_of_type(type);
  if (c <= 0 || !(classes & (1u << c))) return false;
  const std::uint32_t length = rd8(ws, entry + sym::Length);
  const std::uint32_t name = rd32(ws, entry + sym::Name);
  const std::uint8_t first = length <= 3 ? static_cast<std::uint8_t>(name >> 16) : rd8(ws, name + 8);
  if (first == kQuadChar) return false;
  if (letters == nullptr) return true;
  for (std::uint32_t i = 0; i < nletters; ++i)
    if (letters[i] == first) return true;
  return false;
}

void name_list(SfArg* left, SfArg right, Ws ws) {
  const std::uint32_t r = right.array(ws);
  if (!is_numeric_type(array_type(r, ws)) && !(array_type(r, ws) == ET_CHAR && array_count(r, ws) == 0)) domner(ws);
  if (array_rank(r, ws) > 1) ranker(ws);
  std::uint32_t classes = 0;
  const std::uint32_t count = array_count(r, ws);
  for (std::uint32_t i = 0; i < count; ++i) {
    const std::int32_t c = whole_number(r, i, ws);
    if (c < 1 || c > 10 || (c > 5 && c < 9)) domner(ws);
    classes |= 1u << c;
  }
  std::uint32_t nletters = 0;
  if (left) {
    const std::uint32_t l = left->array(ws);
    if (array_type(l, ws) != ET_CHAR) domner(ws);
    if (array_rank(l, ws) > 1) ranker(ws);
    nletters = array_count(l, ws);
    for (std::uint32_t i = 0; i < nletters; ++i)
      if (!cmpalp(rd8(ws, array_data(l, ws) + i))) domner(ws);
  }
  auto letters = [&]() -> const std::uint8_t* { return left ? ws + array_data(left->array(ws), ws) : nullptr; };

  const std::uint32_t entries = rd16(ws, hdr::BucketEntries);
  auto entry_at = [](std::uint32_t i) { return kBucketArea + kSymtabEntrySize * i; };
  std::uint32_t rows = 0, width = 0;
  for (std::uint32_t i = 0; i < entries; ++i) {
    if (!listed(entry_at(i), classes, letters(), nletters, ws)) continue;
    ++rows;
    width = std::max<std::uint32_t>(width, rd8(ws, entry_at(i) + sym::Length));
  }
  if (rows == 0) width = 0;
  const std::uint32_t shape[2] = {rows, width};
  const std::uint32_t z = new_array(ET_CHAR, 2, shape, ws);
  const std::uint32_t data = array_data(z, ws);
  if (rows) std::memset(ws + data, 0x20, std::size_t(rows) * width);
  std::uint32_t row = 0;
  for (std::uint32_t i = 0; i < entries && row < rows; ++i) {
    if (!listed(entry_at(i), classes, letters(), nletters, ws)) continue;
    const std::string name = symbol_name(entry_at(i), ws);
    std::memcpy(ws + data + std::size_t(row) * width, name.data(), name.size());
    ++row;
  }
  // Shell sort of the rows (gaps 9 5 3 1) by their internal codes, for rows
  // of at most 100 characters.
  if (rows >= 2 && width <= 100) {
    std::array<std::uint8_t, 100> held{};
    auto at = [&](std::uint32_t k) { return ws + data + std::size_t(k) * width; };
    for (const std::uint32_t gap : {9u, 5u, 3u, 1u}) {
      for (std::uint32_t i = gap; i < rows; ++i) {
        std::memcpy(held.data(), at(i), width);
        std::uint32_t j = i;
        while (j >= gap && std::memcmp(at(j - gap), held.data(), width) > 0) {
          std::memcpy(at(j), at(j - gap), width);
          j -= gap;
        }
        std::memcpy(at(j), held.data(), width);
      }
    }
  }
  push_result(z, ws);
}

// ---- ⎕AT ----

constexpr std::uint32_t kAttributeWidths[4] = {3, 7, 4, 2};

// The fix time of a function's header line (see function_object.h): the
// two words after its header statement, when the line reaches that far and
// the date is not 0.
bool fix_time(std::uint32_t header, std::uint32_t* ms, std::uint32_t* date, Ws ws) {
  const std::uint32_t at = (20 + get_statement_length(ws, header + tl::Body) + 3) & ~3u;
  if (rd32(ws, header + obj::Size) < at + 8 || rd32(ws, header + at + 4) == 0) return false;
  *ms = rd32(ws, header + at);
  *date = rd32(ws, header + at + 4);
  return true;
}

void attributes(std::int32_t set, const NameRef& ref, std::int32_t* out, Ws ws) {
  const std::uint32_t width = kAttributeWidths[set - 1];
  for (std::uint32_t k = 0; k < width; ++k) out[k] = 0;
  if (ref.kind != NameKind::Found && ref.kind != NameKind::System) return;
  const std::uint8_t type = ref.type;
  const bool function = defined_function_type(type);
  const std::uint32_t value = ref.kind == NameKind::Found ? rd32(ws, ref.entry + sym::Value) : 0;
  const bool has_header = function && value != 0;
  switch (set) {
    case 1:
      if (function) {
        out[0] = has_header && (rd16(ws, value + fnl::HeaderWord) & kExplicitResult) ? 1 : 0;
        out[1] = type <= SYM_FN2 ? type : 0;
        out[2] = type >= SYM_OP_FIRST ? (type <= 12 ? 1 : 2) : 0;
      } else if (type >= SYM_VAR && type <= SYM_SHARED) {
        out[0] = 1;
      } else if (type == SYM_SYSFN) {
        out[0] = 1;
        out[1] = 2;
      }
      break;
    case 2: {
      std::uint32_t ms = 0, date = 0;
      if (has_header && fix_time(value, &ms, &date, ws)) {
        out[0] = full_year(date % 100);
        out[1] = static_cast<std::int32_t>(date / 10000);
        out[2] = static_cast<std::int32_t>(date / 100 % 100);
        out[3] = static_cast<std::int32_t>(ms / 3600000);
        out[4] = static_cast<std::int32_t>(ms / 60000 % 60);
        out[5] = static_cast<std::int32_t>(ms / 1000 % 60);
        out[6] = static_cast<std::int32_t>(ms % 1000);
      }
      break;
    }
    case 3:
      if (type == SYM_SYSFN || (has_header && (rd8(ws, value + fnl::Marks) & fnmark::Locked))) {
        out[0] = out[1] = out[2] = 1;
        out[3] = type == SYM_SYSFN ? 0 : 1;
      }
      break;
    case 4:
      if (has_header) {
        std::int32_t size = 0;
        for (std::uint32_t l = value; l; l = rd32(ws, l + fnl::Next)) size += rdi32(ws, l + obj::Size);
        out[0] = out[1] = size;
      } else if ((type == SYM_VAR || type == SYM_LABEL) && value) {
        out[0] = rdi32(ws, value + obj::Size);
        out[1] = out[0] - 12 - 4 * static_cast<std::int32_t>(array_rank(value, ws));
      }
      break;
    default: break;
  }
}

}  // namespace

void sfnc_monadic(SfArg right, Ws ws) {
  const NameRows rows = name_rows(right, ws);
  const std::uint32_t shape = rows.rows;
  const std::uint32_t z = new_array(ET_INT, 1, &shape, ws);
  for (std::uint32_t i = 0; i < rows.rows; ++i)
    wr32(ws, array_data(z, ws) + 4 * i,
         static_cast<std::uint32_t>(name_class(name_row(right, rows, i, ws), rows.columns, ws)));
  push_result(z, ws);
}

void sfnl_monadic(SfArg right, Ws ws) { name_list(nullptr, right, ws); }
void sfnl_dyadic(SfArg left, SfArg right, Ws ws) { name_list(&left, right, ws); }

void sfat_dyadic(SfArg left, SfArg right, Ws ws) {
  const std::uint32_t l = left.array(ws);
  if (!is_numeric_type(array_type(l, ws))) domner(ws);
  if (array_count(l, ws) != 1) ranker(ws);
  const std::int32_t set = whole_number(l, 0, ws);
  if (set < 1 || set > 4) domner(ws);
  const NameRows rows = name_rows(right, ws);
  const std::uint32_t width = kAttributeWidths[set - 1];
  const std::uint32_t shape[2] = {rows.rows, width};
  const std::uint32_t z = rows.matrix ? new_array(ET_INT, 2, shape, ws) : new_array(ET_INT, 1, &width, ws);
  for (std::uint32_t i = 0; i < rows.rows; ++i) {
    std::int32_t out[7];
    const NameRef ref = rows.columns ? look_up_name(name_row(right, rows, i, ws), rows.columns, ws) : NameRef{};
    attributes(set, ref, out, ws);
    for (std::uint32_t k = 0; k < width; ++k)
      wr32(ws, array_data(z, ws) + 4 * (i * width + k), static_cast<std::uint32_t>(out[k]));
  }
  push_result(z, ws);
}

}  // namespace zema
