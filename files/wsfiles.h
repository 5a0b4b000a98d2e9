// The host's workspace, library and sequential-file layer.
// Results: 0 success; 1 no such file; 3 I/O error; 5 end of file; 7 not a
// workspace. The failing call's errno is kept for latest_error().
#pragma once

#include <cstdint>
#include <string>


namespace zema {

// Byte length of a workspace file, or -1 when it cannot be opened.
std::int64_t size_ws(const char* path);
// Reads `count` bytes from the start of the file into `destination`, then
// checks the header: 7 for a file that ends early or is no workspace image.
int read_ws(const char* path, std::uint32_t count, std::uint8_t* destination);
// Writes to path + "~", then renames it over the old file; on any failure
// (3) the old file is left as it was.
int write_ws(const char* path, std::uint32_t length, const std::uint8_t* source);
// Removes the file: 0, 1 when it does not exist, else 3.
int delete_ws(const char* path);
// Lists the ".aws" names of a directory in 12-column fields fitted to the
// width `pw` (⎕PW): lines of internal characters, each ended by a carriage
// return, appended to `lines` for the caller to print. A non-zero option
// lists only names beginning with that (internal) character.
// 0 (also for a directory that does not exist), 3, or 68 out of memory.
int list_lib(const char* directory, int option, int pw, std::string& lines);
// The directory of a library number, with a trailing "/", into `buffer`
// (at least 516 bytes): 0-9 the library's ⎕MOUNT row `mount_row` (260
// internal characters; a blank row: the task's default directory, else the
// installed "ws" directory), 99 "~/", any other number the installed "ws"
// directory (`mount_row` is then not read).
void library_to_path(std::uint32_t library, const std::uint8_t* mount_row, char* buffer);

// The task's one sequential file (its descriptor in the task's host
// variables; opening or creating closes the one before). open_seq opens
// for reading (1 when missing, else 3), create_seq creates or empties for
// writing, read_seq reads `count` bytes into `buffer` (5 when the file
// ends before), write_seq writes them, close_seq closes (0 when none is
// open). 0 or 3 otherwise, the host error kept for the message.
int open_seq(const char* path);
int create_seq(const char* path);
int read_seq(std::uint32_t count, std::uint8_t* buffer);
int write_seq(std::uint32_t count, const std::uint8_t* buffer);
int close_seq();

// Text of the latest component-file host error, in internal characters.
std::string latest_error_afl();

}  // namespace zema
