// Message boxes that take and answer the flag and result words of the
// Windows MessageBox call, shown with QMessageBox on the GUI thread.
#pragma once

#include <functional>
#include <string>
#include <vector>

namespace zema {

// Result words: the button that closed the box.
enum MessageBoxResult : int { MB_OK = 1, MB_CANCEL = 2, MB_ABORT = 3, MB_RETRY = 4, MB_IGNORE = 5, MB_YES = 6, MB_NO = 7 };
enum class MessageBoxIcon { Information, Warning, Critical };

// What a flag word asks for: buttons (result words, in order), the default
// button and the icon. flags & 7 buttons, & 0xF0 icon, & 0x300 default.
struct MessageBoxLayout {
  std::vector<int> buttons;
  int default_button = MB_OK;
  MessageBoxIcon icon = MessageBoxIcon::Information;
};
MessageBoxLayout decode_message_box_flags(unsigned flags);

// Shows `text` (UTF-8) under `caption` modally and answers the button's
// result word (escape answers Cancel). Called on the GUI thread; from any
// other thread the box is shown there and the caller waits. Where no box
// can be seen (no GUI application, the offscreen or minimal platform, no
// screen) nothing waits: "CAPTION: TEXT" and a new line go to standard
// error and the box's default button is answered.
int ShowMessageBox(const std::string& text, const std::string& caption, unsigned flags);
// True when no window can be seen: no GUI application, a platform that
// draws nowhere (offscreen, minimal) or one without a screen. GUI thread.
bool no_screen();

// Test hook: while set, ShowMessageBox shows nothing and answers what the
// hook answers for the request.
struct MessageBoxRequest {
  std::string text, caption;
  unsigned flags;
};
void set_message_box_hook(std::function<int(const MessageBoxRequest&)> hook);

}  // namespace zema
