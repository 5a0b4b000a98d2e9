// The task's ⎕WI property requests. Each runs on the task thread, reads the
// request fields of `task` (names in internal characters, as the
// interpreter holds them: propertyName is masked to 7 bits before it is
// looked up, objectTop and objectPath are compared exactly; resultBuffer
// and resultSize for a read; requestValue for a write), does its work on
// the GUI thread through synchronize (finding the object in task.system,
// calling it), and answers in task.guiResult (an error code: 0, 4 with
// neededSize, 12, 88, or what the object answers). A task without a
// System object answers as for a missing object.
#pragma once

namespace zema {

class APLTask;

// A read: the property, method or event propertyName of the object (null
// name: the rest of a result that did not fit, kept as the saved result).
// Event names read the callback text; `self` of a missing object is an
// empty text and `delete` of one an empty matrix.
void qwi_get_property_request(APLTask& task);
// A write: a callback (event name), `new`/`create`, `set`, a ∆ property or
// any property. The property id and event id found are left in
// task.propertyId and task.callbackId.
void qwi_set_property_request(APLTask& task);
// Shows the window the System object keeps waiting, if any (GUI thread via
// synchronize; nothing when there is none).
void open_pending_window(APLTask& task);
// After an input line: when the System object of `task` has a modal
// window, shows that window's top-level widget again, enables it and gives
// it the focus (GUI thread via synchronize). Answers whether there was one.
bool bring_back_modal_window(APLTask& task);

}  // namespace zema
