// Packaged application files: a start-up stub, a packed workspace image and
// a 32-byte trailer, laid end to end. The environment variable ZEMA_PLAY
// names the running program's package. Words are in machine order.
//
// Trailer (the last 32 bytes): 16 reserved zero bytes; u32 workspace size
// in KB asked for (0: the wssize setting applies); u32 file offset of the
// image (the stub's length); u32 image length; u32 magic kPackageMagic.
#pragma once

#include <cstdint>
#include <string>

#include "files/wsfiles.h"

namespace zema {

constexpr std::uint32_t kPackageMagic = 0xDEAD9598u;
constexpr std::uint32_t kPackageTrailerSize = 32;

// Reads ZEMA_PLAY's file: 0 when unset, unreadable, without the magic or
// with an image that does not lie between the stub and the trailer (an
// empty one too); else the trailer's size in KB, or −1 when that field is
// 0. With `problem`: "" when ZEMA_PLAY is unset or names a sound package,
// else a sentence naming the file and what is wrong with it.
int check_packaged_ws(std::string* problem = nullptr);
// Copies the first min(image length, `max`) bytes of the image of
// ZEMA_PLAY's package into `buffer` and records the full image length
// (packaged_ws_length). 0, or 68 for any failure (unset, unreadable, no
// magic, an image outside the file, short read).
int read_packaged_ws(std::uint8_t* buffer, std::uint32_t max);
// The image length of the latest successful read_packaged_ws (0 before).
std::uint32_t packaged_ws_length();

// The trailer's size field for a workspace whose own configured size is
// `configured_bytes` (used when positive), else the wssize setting
// `wssize_kb`: in KB, rounded toward zero.
std::uint32_t package_size_kb(std::int64_t configured_bytes, std::uint32_t wssize_kb);
// Writes a package at `path`: the file `stub_path` copied unchanged, the
// `length` bytes of `image`, the trailer with `size_kb`. It is written to a
// temporary beside `path` and renamed over it (mode 0775), so a failure
// leaves any earlier file at `path` as it was and no partial file. 0 or 68.
int make_package(const char* path, const char* stub_path, const std::uint8_t* image, std::uint32_t length,
                 std::uint32_t size_kb);

// The start-up load of a packaged application: while pending, the
// workspace layer serves a read of the workspace "pack" (any directory)
// from ZEMA_PLAY's package. The first whole read (the load itself) ends it,
// so that later loads and copies read their own files.
void set_startup_load_pending(bool pending);
bool startup_load_pending();
// True for a path whose file name is "pack.aws" or "pack" while the start-up
// load is pending.
bool serves_startup_image(const char* path);
// The start-up image, in the manners of read_ws and read_ws_whole (their
// result codes); read_startup_image_whole ends the pending load.
int read_startup_image(std::uint32_t count, std::uint8_t* destination);
int read_startup_image_whole(std::uint32_t limit, WsImage& image);

}  // namespace zema
