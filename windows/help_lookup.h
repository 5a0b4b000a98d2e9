// Process-wide hooks through which the text windows' commands reach parts of
// the session manager that are installed by whoever provides them: the help
// index and help viewer, and the editor windows. Each is null until it is
// installed; a null hook means the service is absent, and the commands that
// need it then do nothing (the Help menu's item stays disabled). Set and
// called on the GUI thread only.
#pragma once

#include <functional>
#include <string>

#include "host/task.h"

namespace zema {

class APLShell;

// Whether the help knows `word` (display-font characters); when it does,
// answers true with `*page` ← the page that explains it.
extern std::function<bool(const std::string& word, std::string* page)> help_index_hook;
// Shows help page `page` (as help_index_hook named it; the empty topic is
// the contents, "SEARCH" the search page).
extern std::function<void(const std::string& page)> help_show_hook;
// Opens an editor on `name` (display-font characters) of `shell`'s task,
// `info` being what the task said of the name (its symbol type tells a
// class from the rest, its edit kind the editor's kind).
extern std::function<void(const std::string& name, const NameInformation& info, APLShell* shell)> open_editor_hook;

}  // namespace zema
