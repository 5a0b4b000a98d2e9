// Workspaces on disk: loading, saving, probing, dropping and listing, the
// support-layer routines under the workspace commands.
//
// A load never loses the workspace it replaces: the whole file is read into
// memory of its own and checked there (header, geometry of heap and stack,
// the state-indicator chain); only then is the image copied into the block,
// and the block's integrity and every object, link and state word checked.
// Any refusal puts the old workspace back byte for byte.
#pragma once

#include <cstdint>

#include "interpreter/workspace/workspace.h"

namespace zema {

// Why an image was refused (0: accepted).
enum ImageRefusal : int {
  IR_OK = 0,
  IR_TOO_LARGE = 1,    // longer than the workspace
  IR_INVALID = 2,      // not a sound image of this program (WS INVALID)
  IR_NO_MEMORY = 3,    // no host memory for the copy of the old workspace
};

// Puts the packed image (`length` bytes at `image`, outside the workspace)
// in the workspace at `ws` of lowglobals(ws).ws_size bytes: checks it,
// copies it in, places its stack segment (at the saved top when the stack is
// not empty and the workspace is large enough; else at the new top, the SI
// chain relocated and the version word set to 0), sets the words that hold
// addresses of this process, keeps the session's output column, caret and
// line count (the terminal's, not the image's), and runs the integrity
// check and the load check (check_loaded_image). On a refusal the
// workspace is exactly as it was. `library` is stored as the workspace's
// library; `keep_integrity_switch` keeps header byte 0x1A4.
int install_image(const std::uint8_t* image, std::uint32_t length, std::uint32_t library,
                  bool keep_integrity_switch, Ws ws);

// The load of a workspace file `name` (length byte and internal characters;
// flags bit 15: a whole path) of `library`: 0 loaded; 4 after a message
// ("IO ERROR: …", "IO ERROR: WORKSPACE TOO LARGE", "WS INVALID"), the
// workspace unchanged.
int sup_load(std::uint32_t library, const std::uint8_t* name, std::uint32_t flags, Ws ws);
// Packs the workspace, writes it crash-safely and unpacks it: 0, or 4
// after "IO ERROR: …" (the workspace intact whatever happened).
int sup_save(std::uint32_t library, const std::uint8_t* name, std::uint32_t flags, Ws ws);
// Probes the file: 0 with `*answer` 0 (no file), 1 (its lock equals the 8
// bytes at `key`) or −1 (it differs); 4 after "FILE FORMAT NOT RECOGNIZED"
// or "IO ERROR: …".
int sup_wsfnd(std::uint32_t library, const std::uint8_t* name, const std::uint8_t* key, std::uint32_t flags,
              int* answer, Ws ws);
// Deletes the file: 0 (also when there was none), 4 after "IO ERROR: …".
int sup_drop(std::uint32_t library, const std::uint8_t* name, std::uint32_t flags, Ws ws);
// Prints the listing of the library's directory (or of the directory
// `directory`, length byte and internal characters, when its length is not
// 0), only names beginning with `option` when it is not 0: 0, or 4 after
// "IO ERROR: …".
int sup_lib(std::uint32_t library, int option, const std::uint8_t* directory, Ws ws);

// Prints "IO ERROR: " and the host's text of its latest file error.
void print_io_error(Ws ws);

}  // namespace zema
