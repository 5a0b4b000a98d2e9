// The host's workspace, library and sequential-file layer.
// Results: 0 success; 1 no such file; 3 I/O error; 5 end of file; 7 not a
// workspace; 9 too large. The failing call's errno is kept for latest_error().
#pragma once

#include <cstdint>
#include <memory>
#include <string>


namespace zema {

// Byte length of a workspace file, or -1 when it cannot be opened.
std::int64_t size_ws(const char* path);
// Reads `count` bytes from the start of the file into `destination`, then
// checks the header: 7 for a file that ends early or is no workspace image.
int read_ws(const char* path, std::uint32_t count, std::uint8_t* destination);
// Writes the image to a new temporary in the file's directory (unique per
// save), syncs it, renames it over the old file and syncs the directory; on
// any failure (3) the old file is left as it was and the temporary removed.
// Temporaries that a killed process left for the same file are removed.
int write_ws(const char* path, std::uint32_t length, const std::uint8_t* source);

// A whole workspace file in host memory outside any workspace, so that a
// load can check it before it replaces anything: read into memory of its
// own (`bytes`), or mapped read-only (then unmapped by the destructor).
struct WsImage {
  std::unique_ptr<std::uint8_t[]> bytes;
  std::uint32_t length = 0;
  void* mapping = nullptr;
  WsImage() = default;
  WsImage(const WsImage&) = delete;
  WsImage& operator=(const WsImage&) = delete;
  ~WsImage();
  // The image's first byte.
  const std::uint8_t* data() const { return mapping ? static_cast<const std::uint8_t*>(mapping) : bytes.get(); }
  // Frees or unmaps the bytes; length 0.
  void reset();
};
// Reads the whole file into `image` (its memory sized by the file, which
// may be at most `limit` bytes) and checks the header as read_ws does:
// 0, 1 no such file, 3 I/O error, 7 not a workspace (also a file that
// changed size while read), 9 larger than `limit`, 68 out of memory.
int read_ws_whole(const char* path, std::uint32_t limit, WsImage& image);
// The same, the file mapped instead of read (the packaged start-up image is
// read): no copy is made, so every read of image.data() must be a
// guarded_read (files/read_guard.h) over image.length bytes, since another
// process may shrink the file while it is mapped. Also 7 for an empty file
// or one that shrank while its header was checked.
int map_ws_whole(const char* path, std::uint32_t limit, WsImage& image);
// Creates a new file and writes the bytes (a dump): 0; 2 when a file of
// that name exists already (nothing written); 3 on any other failure (no
// partial file left).
int create_ws_exclusive(const char* path, std::uint32_t length, const std::uint8_t* source);
// A file written in steps that replaces `path` only when finished: the
// bytes go to a new temporary in the file's directory; commit_staged syncs
// it, renames it over `path` and syncs the directory; abandon_staged (also
// the destructor of an uncommitted one) removes it. Until the commit the
// old file, if any, is untouched. Each call answers 0, or 3 with the host
// error kept for the message.
struct StagedFile {
  int fd = -1;
  std::string target, temporary, directory;
  StagedFile() = default;
  StagedFile(const StagedFile&) = delete;
  StagedFile& operator=(const StagedFile&) = delete;
  ~StagedFile();
};
int begin_staged(const char* path, StagedFile& file);
int write_staged(StagedFile& file, std::uint32_t count, const std::uint8_t* buffer);
int commit_staged(StagedFile& file);
void abandon_staged(StagedFile& file);
// Removes the file: 0, 1 when it does not exist, else 3.
int delete_ws(const char* path);
// The host path of an interpreter path: "~" (with or without its "/") is
// the directory last chosen in the task's file selector, else the home
// directory; a leading ↑ or ↓ is dropped; anything else is left as it is.
std::string workspace_host_path(const char* path);
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

// Records the directory the calling task last chose in a file selector:
// from then on "~" (and library 99) names it instead of the home directory.
// An empty string goes back to the home directory.
void set_file_selector_directory(const std::string& directory);

// Text of the latest component-file host error, in internal characters.
std::string latest_error_afl();

}  // namespace zema
