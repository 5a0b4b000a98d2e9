// Installation and home paths, the version record, temporary files and the
// minimal converter between 8-bit text and 16-bit code units.
//
// Everything here may run on any thread; results are returned by value.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace zema {

// The path of `file` in `directory` of the installation whose executable
// lies in `exe_directory` (with its final "/"): when that ends in "/bin/",
// the root is it less "bin/"; otherwise the root is /usr/local/zema/.
std::string apl_path_for(const std::string& exe_directory, const char* directory, const char* file);
// The same for the running executable.
std::string get_apl_path(const char* directory, const char* file);
// `file` (null: nothing) in the home directory of HOME, with one "/"
// between; empty when HOME is unset or 260 characters or longer.
std::string get_home_path(const char* file);

// The version record: major, minor, release, then 80386, 2, 2100, 1, 0, 0, 0.
const std::int32_t* version();

// Makes a new empty file from `pattern` (which must end in XXXXXX) with a
// name no other process can predict or take; `*name` ← its path. Answers
// the open descriptor, or −1 with errno set.
int make_temp_file(const std::string& pattern, std::string* name);

// The 8-bit ↔ 16-bit converter. open: 1 when `from` begins "UN" (16-bit
// units to bytes), 0 when `to` does (bytes to units), else −1.
int text_iconv_open(const char* to, const char* from);
// Converts while input and output room last (bytes to little-endian units:
// one byte for two; units to bytes: the low byte of each unit), advancing
// the pointers and counts; never refuses a character; answers 0.
int text_iconv(int handle, const char** in, std::size_t* in_left, char** out, std::size_t* out_left);
int text_iconv_close(int handle);

}  // namespace zema
