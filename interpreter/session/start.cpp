// The session's start: the entry `apl`, which sets up the workspace, installs
// what the lower layers call through hooks, and runs immediate execution.
#include <algorithm>
#include <cstring>

#include "files/directory_listing.h"
#include "host/charset.h"
#include "host/services.h"
#include "interpreter/engine/dot_notation.h"
#include "interpreter/engine/engine.h"
#include "interpreter/engine/evaluation.h"
#include "interpreter/engine/sysvars.h"
#include "interpreter/primitives/structural.h"
#include "interpreter/reader/entry_errors.h"
#include "interpreter/session/class_definition.h"
#include "interpreter/session/definition.h"
#include "interpreter/session/immediate.h"
#include "interpreter/session/life.h"
#include "interpreter/session/listing_commands.h"
#include "interpreter/session/copy_commands.h"
#include "interpreter/session/transfer_commands.h"
#include "interpreter/session/ws_commands.h"
#include "interpreter/sysfns/class_functions.h"
#include "interpreter/sysfns/commands.h"
#include "interpreter/sysfns/dispatch.h"
#include "interpreter/sysfns/handlers.h"
#include "interpreter/sysfns/library_listing.h"
#include "interpreter/workspace/entry.h"
#include "interpreter/workspace/errors.h"
#include "interpreter/workspace/heap.h"
#include "interpreter/workspace/support.h"

namespace zema {

namespace {

std::string library_directory(std::uint32_t library, Ws ws) {
  libset(library, ws);
  return reinterpret_cast<const char*>(lowglobals(ws).path);
}

// The calls that lower layers make into higher ones, each through a hook.
void install_hooks() {
  set_system_error_handler(system_error);
  set_token_line_release(clnlin);
  set_system_variable_assignment(assign_system_variable);
  set_named_call_routes(NamedCallRoutes{xnilfn, do_xmnfn, do_xdyfn});
  set_dot_system_member_route(class_function_through_reference);
  set_library_routes(LibraryRoutes{library_directory, visit_directory});
  set_window_callback_return(sfwe_return);
  set_window_callback_abandoned(sfwe_abandoned);
}

}  // namespace

Ws apl_setup(std::uint8_t* memory, std::uint32_t size, const char* startup_ws, std::uint32_t task_id) {
  install_hooks();
  std::memset(memory, 0, kLowGlobalsSize);
  Ws ws = memory + kLowGlobalsSize;
  LowGlobals& lg = lowglobals(ws);
  lg.ws_size = (size & ~3u) - kLowGlobalsSize;
  lg.task_id = task_id;
  if (startup_ws && *startup_ws) lg.startup_flags |= kStartupPending;
  lg.pr_char = 0x20;
  lg.start_time = gtime();

  const NamesRecord& names = get_names();
  SideState& side = side_state(ws);
  side.temp_name1 = names.temp_name1;
  side.temp_name2 = names.temp_name2;
  side.help_file = names.help_file;
  side.ws_directory = names.ws_directory;
  std::size_t dn = std::min<std::size_t>(names.dataspace.size(), 120);
  lg.dataspace[0] = static_cast<std::uint8_t>(dn);
  std::memcpy(lg.dataspace + 1, names.dataspace.data(), dn);

  if (names.parent_ws) {
    std::memcpy(lg.mount, lowglobals(names.parent_ws).mount, sizeof lg.mount);
  } else {
    std::memset(lg.mount, 0x20, sizeof lg.mount);
    for (int r = 0; r < 10; ++r) {
      const std::string& p = names.libraries[r];
      for (std::size_t i = 0; i < p.size() && i < 260; ++i) lg.mount[r][i] = fontin(static_cast<std::uint8_t>(p[i]));
    }
  }
  lg.extension = kExtAws;

  const PrefsRecord& prefs = get_prefs();
  lg.pw_default = prefs.pw;
  lg.term_format = static_cast<std::uint16_t>((prefs.term_format >> 8) | (prefs.term_format << 8));
  lg.user_number = prefs.user_number;
  lg.term_type = prefs.term_type;

  wr32(ws, hdr::ObjectPool, 0);
  return ws;
}

void apl(std::uint8_t* memory, std::uint32_t size, const char* startup_ws, std::uint8_t** ws_out,
         std::uint32_t task_id) {
  Ws ws = apl_setup(memory, size, startup_ws, task_id);
  *ws_out = ws;
  install_definition_routes();
  install_class_definition_routes();
  lex_routes().class_close = close_class_definition;
  install_command_routes();
  install_workspace_commands();
  install_listing_commands();
  install_copy_commands();
  install_transfer_commands();
  bool first = true;
  for (;;) {
    try {
      if (first) {
        first = false;
        sup_clear(ws);
      }
      intent(ws);
    } catch (const EnterImmediate& e) {
      ws = e.ws;
      *ws_out = ws;
    }
  }
}

}  // namespace zema
