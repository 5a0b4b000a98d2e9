// ⎕WI value forms: reading and writing the APL values that ⎕WI properties
// take and give (nested lists of names, copies of whole values, colour
// values, scale codes, font styles). Values are array objects in the
// workspace layout of host/values.h; a nested array is one block whose
// items are whole objects placed behind its table of offsets. Nothing here
// keeps state or touches a widget; all of it may run on any thread.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace zema {

// ---- whole values ----
// The size word of an array object (bytes from its start to its end).
std::uint32_t qwi_value_size(const void* value);
// A private copy of a value into `out`: 0, or 68 when no memory can be had.
int qwi_copy_value(const void* value, std::vector<std::uint8_t>& out);
// Writes a kept copy into `area` (owner word cleared): 0; 4 when its size
// is not below `room`, `*needed` (when given) ← its size.
int qwi_return_copy(void* area, int room, const std::vector<std::uint8_t>& copy, std::uint32_t* needed);

// ---- reading nested values ----
// True for a nested array (element type 15).
bool qwi_is_nested(const void* value);
// True for a character array (element type 11).
bool qwi_is_character(const void* value);
// Rank and item count (the product of the lengths) of any array.
int qwi_rank(const void* value);
std::uint32_t qwi_item_count(const void* value);
// Item `i` of a nested array, an array object inside `value`.
const void* qwi_nested_item(const void* value, std::uint32_t i);

// ---- building values ----
// One item image of a nested value under construction.
using QwiImage = std::vector<std::uint8_t>;
QwiImage qwi_text_image(const std::string& internal_text);  // a character vector, bytes as given
QwiImage qwi_copy_image(const void* value);                  // a copy of an existing value
// A nested array of `shape` (rank 1 or 2) holding `items` in ravel order,
// written to `area`: 0; 4 when its size is not below `room` (nothing
// written). Without items: an empty character vector of that shape.
int qwi_return_nested(void* area, int room, const std::vector<std::uint32_t>& shape,
                      const std::vector<QwiImage>& items);
// A float matrix rows × cols: 0; 4 when it does not fit below `room`.
int qwi_return_float_matrix(void* area, int room, int rows, int cols, const double* items);
// An integer vector of `n` items: 0; 4 when it does not fit below `room`.
int qwi_return_integers(void* area, int room, const std::int32_t* items, int n);
// An integer matrix rows × cols: 0; 4 when it does not fit below `room`.
int qwi_return_integer_matrix(void* area, int room, int rows, int cols, const std::int32_t* items);
// A character vector in the internal set: 0; 4 when it does not fit.
int qwi_return_text(void* area, int room, const std::string& internal_text);
// The names (internal characters) as a nested vector of character vectors
// sorted by their 7-bit codes; none: an empty character vector. 4 when it
// does not fit.
int qwi_return_name_list(void* area, int room, std::vector<std::string> names);

// ---- colours ----
// Colour numbers: RGB as red + green × 256 + blue × 65536; −1 the parent's,
// −2 the control's default, −3 (decoding only) keep the stored one.
constexpr std::int32_t kQwiColourParent = -1, kQwiColourDefault = -2, kQwiColourKeep = -3;
// Decodes a colour value (one, two, three or six numbers; booleans, integers
// or near-integer floats) into foreground and background: null value →
// both −3 and 0; character or nested → 12; rank 0, length 1, 2, 3 or 6, or
// a 1×1 matrix are taken; other lengths 20, other shapes 16; an RGB
// component outside 0–255 or a float not near an integer 12.
int get_colour_values(const void* value, std::int32_t* foreground, std::int32_t* background);

// ---- scale codes ----
// Pixels per user unit (horizontal, vertical) of scale code `code` with
// the given dots per inch; `printer` uses the printer's rule for code 1 and
// 2. Codes outside 2–6 count as 1.
void qwi_scale_pixels(int code, double dpi_x, double dpi_y, bool printer, double* horizontal, double* vertical);

// ---- fonts ----
// Style bits: bold 1, italic 2, underline 4, strike-out 16.
int font_style_to_long(bool bold, bool italic, bool underline, bool strike_out);

}  // namespace zema
