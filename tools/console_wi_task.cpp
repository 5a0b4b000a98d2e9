#include "tools/console_wi_task.h"

#include "wi/qwi_system.h"
#include "wi/requests.h"

namespace zema {

ConsoleWiTask::~ConsoleWiTask() { CloseDownWi(); }

void ConsoleWiTask::QwiGetProperty() { qwi_get_property_request(*this); }

void ConsoleWiTask::QwiSetProperty() { qwi_set_property_request(*this); }

int ConsoleWiTask::QwiEvents(int subcode, int argument, void* result, int room) {
  return system ? system->r1000_events(subcode, argument, result, room)
                : APLTask::QwiEvents(subcode, argument, result, room);
}

int ConsoleWiTask::QwiSelf(void* result, int room) {
  return system ? system->qwself_read(result, room) : APLTask::QwiSelf(result, room);
}

int ConsoleWiTask::QwiWindowVisible(const char* name, void* result, int room) {
  return system ? system->check_visible_window(name, result, room) : APLTask::QwiWindowVisible(name, result, room);
}

APLTask::Input ConsoleWiTask::ReadInputLine(std::string& line) {
  open_pending_window(*this);
  const Input input = ConsoleTask::ReadInputLine(line);
  if (input == Input::Line) bring_back_modal_window(*this);
  return input;
}

void ConsoleWiTask::CloseDownWi() {
  if (!system) return;
  system->ClearEventQueue();
  system->DeleteYourself();
  delete system;
  system = nullptr;
}

}  // namespace zema
