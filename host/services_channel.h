// The system services channel (unit 1000) as far as ⎕WI uses it: requests
// that the interpreter's ⎕WI, ⎕WE and event functions send to the calling
// task's ⎕WI system. Component 21 carries property and method requests
// about one object, component 15 reads the event queue. Every call runs on
// the task thread and answers 0 or an ErrorCode: 4 WS FULL, 12 DOMAIN
// ERROR, 20 LENGTH ERROR, 24 NONCE ERROR, 88 when the calling thread has
// no task (or the task no ⎕WI system), or what the task's ⎕WI system
// answered. Values are array objects (host/values.h); names are in the
// internal character set.
#pragma once

namespace zema {

// Components of the channel that ⎕WI uses.
constexpr int kServicesEvents = 15;
constexpr int kServicesProperties = 21;

// A write of `value` to `component` with request code `code` and the
// count word `count`. Component 21:
//   code 1: `value` (a text) names the object; the task's hostVars keep
//           the whole name and its parts before and after the first ".";
//   code 2: `value` (a text of at most 105 characters, else 20) names the
//           property, method or event, kept in capitals with `count` (the
//           number of items of the request it starts);
//   code 3: `value` is the property's new value or the method's
//           arguments: handed to qwi_set_property with the names kept.
// Any other code of component 21 answers 12; writes to component 15 and to
// other components answer 24. A name that is no text answers what
// get_raw_text answers (12, 16, 20). Reads and writes the calling task's
// hostVars.
int services_write(int component, int code, int count, const void* value);

// A read of `component` with request code `code` and the count word
// `count` into `result` (`room` bytes). Component 21:
//   code 2: the property named by the last code-2 write, of the object
//           named by the last code-1 write (qwi_get_property);
//   code 3: the reply of the last code-3 write (qwi_get_property without
//           a property name: the result the task kept);
//   code 4: the full name of the object whose event is being handled
//           (the task's QwiSelf);
//   code 5: 1 when the window named by the last code-1 write is visible,
//           else 0 (the task's QwiWindowVisible);
//   other codes answer 12.
// Component 15: the task's QwiEvents with `code` as its subcode and
// `count` as its argument. Any other component answers 24. Reads the
// calling task's hostVars.
int services_read(int component, int code, int count, void* result, int room);

}  // namespace zema
