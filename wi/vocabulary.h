// The ⎕WI vocabularies: the class, property/method and event names with
// their numbers, the look-ups over them, and the sorted listings objects
// give of what they accept. Pure tables and functions, safe on any thread.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace zema {

// A property (0–262) or method (263–354) id; −1 no such name.
using QwiProperty = std::int16_t;

constexpr QwiProperty kQwiUnknownProperty = -1;
constexpr QwiProperty kQwiDeltaProperty = 10;  // every name beginning with ∆ or ⍙
constexpr int kQwiPropertyCount = 263;         // ids 0–262 carry set-flags
constexpr int kQwiMethodLimit = 355;           // ids 0–354 carry valid flags
constexpr int kQwiEventLimit = 53;             // event ids 1–52 index valid flags
constexpr int kQwiNoEvent = 999;
constexpr std::uint8_t kQwiNoClass = 0xFF;
constexpr std::uint8_t kQwiMaskedDelta = 0x7B;  // ∆ and ⍙ after masking

// The class ids the object model itself relies on.
namespace qwi_class {
constexpr int Window = 0, Dialog = 1, Document = 2, Button = 3, Label = 4, Icon = 5, List = 6, Edit = 7,
              Radio = 8, Check = 9, Movie = 10, Line = 11, Rectangle = 12, RoundRect = 13, Arc = 14,
              Timer = 15, Scroll = 16, Combo = 17, Picture = 18, System = 19, Printer = 20, Menu = 21,
              Frame = 22, Imagelist = 23, Page = 26, Selector = 27, Progress = 28, RichEdit = 29,
              Spinner = 30, Trackbar = 33, Tree = 34, Grid = 36, Bevel = 37, Splitter = 38, MsgBox = 39,
              OpenFile = 40, SaveFile = 41, ChooseDir = 44, ChooseFont = 45, ChooseColour = 46,
              OLEContainer = 48, APL = 50, Chart = 51, Series = 52, Browser = 53, Image = 54,
              Socket = 55, Getmail = 56, Sendmail = 57, HTTPClient = 58, ToolButton = 60;
}

// A name and its number, one row of a vocabulary.
struct QwiNameRow {
  const char* name;
  int id;
};

// The three tables in their fixed row order (synonyms share an id and
// stand in adjacent rows, the preferred name first).
const std::vector<QwiNameRow>& qwi_class_table();     // 57 rows
const std::vector<QwiNameRow>& qwi_property_table();  // 369 rows
const std::vector<QwiNameRow>& qwi_callback_table();  // 58 rows

// A name given by a program (internal characters), each byte masked to 7
// bits: folds case and makes ∆ and ⍙ one byte (0x7B).
std::string qwi_mask_name(std::string_view internal_name);

// The id of a masked property or method name: 10 for a name beginning with
// 0x7B, the first row's id whose name equals it exactly, else −1.
QwiProperty find_property_id(std::string_view masked_name);
// The id of a lower-cased class name (compared case-blind with each row over
// the whole length); `*row_name` ← the matching row's own name (a
// synonym's row gives its own name). −1, and `*row_name` untouched, when no
// row matches.
int find_class_id(std::string_view lower_name, const char** row_name);
// The event id of a masked name: 999 unless it begins with "on" and a row's
// name matches it case-blind.
int find_callback_id(std::string_view masked_name);
// The name of the first row with the event id, or "" for an id in no row.
const char* event_name(int event_id);
// The preferred (first-row) name of a property or method id, or null.
const char* property_name(int id);

// The names of a listing: each id once under its preferred name, the rows
// taken in table order and skipping a row whose id equals the previous
// row's; kept are the ids for which `keep(id)` is true. Not sorted.
template <class Keep>
std::vector<std::string> qwi_list_names(const std::vector<QwiNameRow>& table, Keep keep) {
  std::vector<std::string> names;
  int previous = -2;
  for (const QwiNameRow& row : table) {
    if (row.id != previous && keep(row.id)) names.emplace_back(row.name);
    previous = row.id;
  }
  return names;
}
// Sorts names by their characters' 7-bit codes (plain byte order of 7-bit
// characters).
void qwi_sort_names(std::vector<std::string>& names);

}  // namespace zema
