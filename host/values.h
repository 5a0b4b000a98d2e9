// Host value helpers: host code writes APL values into result areas it owns
// and reads the items of APL values the interpreter hands over. A value is
// an array object in the workspace layout: owner word, size, element type
// byte (5 boolean, 7 integer, 9 double, 11 character, 15 nested), flags
// byte, rank × 4 (16 bits), one length per axis, data (booleans 32 a word,
// first item in the most significant bit; nested items as byte offsets from
// the object's start). Nothing here raises an APL error or keeps state, and
// only keep_translated_text allocates (host memory the size of the text):
// every failure is answered as an error code — 4 WS FULL, 12 DOMAIN, 16
// RANK, 20 LENGTH, 68 FILE I/O (no memory) — and the helpers may run on any
// thread.
#pragma once

#include <cstdint>

namespace zema {

// The near-integer rule: `*out` ← x as an integer when x lies within
// 2147483647 and −2147483648 and within 1e-6 of an integer (a fraction
// beyond ±0.999999 rounds away from zero); answers 0, else 12.
int near_integer(double x, std::int32_t* out);

// ---- result writers: the object goes to `area` (owner word 0) ----
// Writers without a room write at most 24 bytes and answer 0.
int return_empty_matrix(void* area);                    // integer 0 0 ⍴ (20 bytes)
int return_empty_vector(void* area);                    // integer ⍬ (16 bytes)
int return_boolean_scalar(void* area, std::uint8_t flag);
int return_integer_scalar(void* area, std::int32_t value);
int return_integer_pair(void* area, std::int32_t a, std::int32_t b);
int return_float_scalar(void* area, double value);
// A float vector of `n` items (null `items`: length 0); 4 unless its size
// is below `room`.
int return_n_floats(void* area, const double* items, int n, int room);
// A character vector of the bytes of `text` (null: empty) each through
// fontin; 4 when room is below 16 (nothing written) or below the size (the
// header already written).
int return_translated_text(void* area, const char* text, int room);
// The same without translation; 4 when `text` has more than room − 16
// bytes (those that fit copied, no header written).
int return_raw_text(void* area, const char* text, int room);

// ---- argument readers: `value` points at an array object ----
// A text: a character scalar, vector or one-row matrix, or (translated
// form only) an empty vector of any type, as a NUL-terminated string of at
// most `max` characters in `out` (max + 1 bytes), each through fontout in
// the translated form. 16 for a character matrix of more rows or another
// character array; 12 for anything else; 20 for more than max characters.
int get_translated_text(const void* value, char* out, int max);
int get_raw_text(const void* value, char* out, int max);
// Every item of a list argument (rank 0, rank 1, or one row of a matrix;
// 16 otherwise) as integers (near-integer rule) or doubles; 20 for more
// than `max`, 12 for an item that is not numeric or a float not near an
// integer. `*count` is written only on success; an empty list of any type
// gives count 0.
int get_n_integers(const void* value, std::int32_t* out, int max, int* count);
int get_n_floats(const void* value, double* out, int max, int* count);
// Exactly one integer: get_n_integers with max 1, every failure and a
// count of 0 answered as 12. get_one_boolean: that integer must be 0 or 1.
int get_one_integer(const void* value, std::int32_t* out);
int get_one_boolean(const void* value, std::int32_t* out);

// A heap copy (std::malloc; the caller frees it with std::free) of the text
// get_translated_text reads; `*out` is null until the copy exists. 16 for a
// character matrix of more rows; 12 for any other array that is no
// character scalar, vector or one-row matrix and no empty vector (a
// character array of rank 3 included); 68 when no memory is left.
int keep_translated_text(const void* value, char** out);

// Item `i` of a simple numeric list argument as an integer (near-integer
// rule) or double: 12 for a character or nested array (or a float not near
// an integer), 16 for a shape that is no list, 20 for i not below the count.
int get_indexed_integer(const void* value, std::int32_t* out, int i);
int get_indexed_float(const void* value, double* out, int i);
// Item [row; col] of a matrix as an integer: 12 for a rank other than 2,
// 20 for row or col not below its length, 16 for a nested item that is not
// a scalar, 12 for an item that is not numeric or a float not near an
// integer.
int get_matrix_integer(const void* value, std::int32_t* out, int row, int col);

// Item `i` of an array of any rank (the count is the product of its
// lengths): answers its element type 7, 9 or 11 with `*p` at its data; of a
// nested array, the item must be a scalar, a one-item vector or a 1-by-1
// matrix, and the answer is that item's type with `*p` at its data. −1 for
// i outside the count, a nested item of another shape, or a simple array of
// another type (booleans included).
int get_nth_ptr(int i, const void* value, const void** p);
// Item `i` as a double: the bit of a boolean array of any rank, otherwise
// through get_nth_ptr a boolean, integer or float item. On failure
// `*error` ← 1 and the answer is 0.0; `*error` is never cleared.
double get_nth_float(int i, const void* value, char* error);
// Item `i` as the `wanted` type — 11 a character (its internal code), 7 an
// integer, 5 a boolean — from a boolean array of rank 0 or 1, or through
// get_nth_ptr. Clears `*error`, and sets it on failure, answering a
// sentinel that says why: 0xDEAF no such boolean item, 0xDEAD no item,
// 0xBEDE an item of another type, 0xFEED not a character for 11, 0xCEDE a
// character for 5 or 7, 0xBADBAD a float beyond 32 bits, 0xFACE a float
// not near an integer, 0xBEEF another wanted type. For 5 a value other
// than 0 and 1 sets `*error` and is answered as it is.
int get_nth_arg(int i, const void* value, int wanted, char* error);

// ---- in-place edits of a caller's array object ----
// Of a character vector (anything else is left alone): with `all`, every
// CR (13) and LF (10) removed; without, the LF of each CR LF pair dropped.
// Length and size are rewritten; bytes beyond the new end stay. Answers
// `value`.
void* strip_crlf_from_charvec(void* value, bool all);
// Sorts the items of a nested vector (anything else is left alone) by
// their characters' low 7 bits (so capital and small letters tie), a
// prefix first; an item that is no character vector ties with every item,
// so its place is not fixed. The sort allocates nothing.
void sort_nested_strings(void* value);

}  // namespace zema
