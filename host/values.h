// Host value helpers: host code writes APL values into result areas it owns
// and reads the items of APL values the interpreter hands over. A value is
// an array object in the workspace layout: owner word, size, element type
// byte (5 boolean, 7 integer, 9 double, 11 character, 15 nested), flags
// byte, rank × 4 (16 bits), one length per axis, data (booleans 32 a word,
// first item in the most significant bit; nested items as byte offsets from
// the object's start). Nothing here allocates, raises an APL error or keeps
// state: every failure is answered as an error code — 4 WS FULL, 12 DOMAIN,
// 16 RANK, 20 LENGTH — and the helpers may run on any thread.
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

}  // namespace zema
